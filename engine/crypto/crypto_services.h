// Per-file encryption services that creation, open and close call.
#pragma once

struct FCB;

extern "C" {
// At creation: makes the file's key and stores it as its security resource.
int zvsetcamo(FCB *fcb, int cipherclass, int filno);
// At open: reads the security resource; nonzero on failure (open: 606).
int zvgetcamo(FCB *fcb);
// At close: frees the file's key and clears its encryption fields.
void zvclncamo(FCB *fcb);
}
