// Key insertion and node split (see keyinsert.cpp).
#pragma once

#include <cstdint>

#include "engine/index/index_services.h"
#include "engine/index/nodebuf.h"

struct FCB;

// iaddkey is declared in index_services.h.
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
