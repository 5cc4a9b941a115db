// Key insertion and node split (see keyinsert.cpp).
#pragma once

#include <cstdint>

#include "engine/index/nodebuf.h"

struct FCB;

// Adds (key, record position) to the index of file filno. mode: 128 the
// file must be an index (48); 0x20 no update mark; 0x120 no read-only
// check; 64 an equal key takes the new position; 0x400 update only (101
// when absent); 16 required on superfile status 6 (415). Of the rest, mode &
// 3 is the split mode (0 none, 1 ascending, 2 descending, 3 as 0).
// 0 or an error code.
int iaddkey(int filno, const void *key, uint32_t posh, uint32_t posl, int mode);
// Inserts (key, pointer) at the positioned element of b and splits upward
// as needed. *inserted tells whether the key reached the tree, also when a
// later step failed. 0 or an error code.
int zvinsert81(NODEBUF *b, FCB *fcb, const unsigned char *key, uint32_t ptrh, uint32_t ptrl, int split,
               bool *inserted);
// A new root: with left (0, 0) a leaf root holding key with record position
// right; else a non-leaf root over left (separator key) and right. 0, an
// error, or -1 when another root appeared.
int adroot81(FCB *fcb, uint32_t lefth, uint32_t leftl, uint32_t righth, uint32_t rightl,
             const unsigned char *key);
