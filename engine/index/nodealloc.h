// New nodes and the deleted-node stack (see nodealloc.cpp).
#pragma once

#include <cstdint>

#include "engine/index/nodebuf.h"

struct FCB;

// Sets up a buffer (free, or bound to that node) as an empty non-leaf node
// of the index at (high, low), marked updated.
void zvintnod81(NODEBUF *b, FCB *fcb, uint32_t posh, uint32_t posl);
// A new node, popped from the deleted-node stack or appended to the file,
// set up by zvintnod81; its position into *posh/*posl. Null with uerr_cod
// set on failure. In write-through mode the header follows at once; when
// that write fails the node is still handed out (the header in memory is
// right and goes to disk with the next header write) and the write's error
// goes to *hdrerr, for the caller to report once its change is complete.
NODEBUF *newnod81(FCB *fcb, uint32_t *posh, uint32_t *posl, int *hdrerr = nullptr);
// Pushes the emptied node of buffer b on the deleted-node stack and writes
// it. 0, 527 when the buffer does not hold that node, or the header write's
// error in write-through mode.
int rtnode81(NODEBUF *b, uint32_t posh, uint32_t posl, FCB *fcb);
