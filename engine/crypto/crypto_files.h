// Per-file encryption services that creation, open and close of files call.
#pragma once

struct FCB;

namespace zv {

// At creation: makes the file's key and stores it as its security resource;
// 0, or an error code also left as the user error.
int zvsetcamo(FCB *fcb, int cipherclass, int filno);
// At open: reads the security resource and sets the file's encryption class
// and key; nonzero on failure (the open reports 606).
int zvgetcamo(FCB *fcb);
// At close: frees the file's key and clears its encryption fields.
void zvclncamo(FCB *fcb);

}  // namespace zv
