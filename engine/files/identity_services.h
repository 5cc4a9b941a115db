// Identity fields and data-access resources, as creation, open and close use
// them. Until they are built a file has none: adding or mapping does
// nothing; the record definition is read from the definition resource.
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

// Block `block` of the definition resource (type, number) of a file, in
// engine memory: 0, 401 or 408 no resource, 436 bad block number, 438 the
// block is empty, 197 no memory. With a null `out` only the length is kept.
int read_definition_block(int filno, uint32_t type, uint32_t number, int block, void **out, int32_t *len);

}  // namespace zv
