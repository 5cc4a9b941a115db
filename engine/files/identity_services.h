// Identity fields and data-access resources, as creation, open, close and
// the record space use them (see identity.cpp).
#pragma once

#include <cstdint>

struct FCB;

extern "C" {
// Adds a data-access resource (no body: the anchor only). 0 or an error.
int ADDDAR(int filno, const void *body, int32_t len);
// At open: reads and maps the data-access resources. 0 or an error.
int zvgetDAR(FCB *fcb, int prior, int openmode);
// At close: writes the identity block back into its resource. 0 or an error.
int zvmapFCBtoDAR(FCB *fcb, int number, int kind, int release);
// Reads definition block `block` of the file's definition resource of
// `type`; 0 with the block (engine memory) and its length, or an error.
int zvrdefx(int filno, int type, int block, void **out, int32_t *len);
}

namespace zv {

// The identity step of a serial-number draw: when the file has an enabled
// identity field, hands out its next value. 0, or 1002 when the field has
// already overflowed.
int identity_step(FCB *fcb);
// Writes a changed identity block of a data file back over its resource
// and keeps it (flush): 0 or the write's error.
int identity_flush(FCB *fcb);

}  // namespace zv
