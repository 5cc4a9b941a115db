// Extended create blocks (XCREblk, zarvo.h) as creation uses them.
#pragma once

#include "zarvo/zarvo.h"

// Validates and copies an array of n caller blocks into engine memory:
// *out receives the copy, or null when `given` is null (no extended
// options). ZV_XCRE_DEFAULT gives n blocks of the engine's defaults. The
// caller's array is only read. 0, 669 (standard header together with an
// extended feature), 10 (no memory, logged).
int chkxcre(const XCREblk *given, int n, XCREblk **out);
// Frees a copy made by chkxcre (null is ignored).
void clrxcre(XCREblk *copy);
// Fills a block from an open file's header.
int setxcreblk(const FCB *fcb, XCREblk *out);
