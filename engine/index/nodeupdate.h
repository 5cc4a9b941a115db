// Changes to the contents of one node: element insert and removal with key
// compression, moving right to the covering node, settling leaf control
// marks, the key count and forcing a file to disk (see nodeupdate.cpp).
#pragma once

#include <cstdint>

#include "engine/index/nodebuf.h"

struct FCB;

// uerr_cod left by movrgt when it met a deleted node (the caller restarts).
constexpr uint16_t kUerrDeleted = uint16_t(-3);

// Writes an element (key, pointer) at the element the instance's search
// state positions (elm), with the comparisons tky (with the element there)
// and tkp (with the one before). P is the pointer size. mode: 1 a key of a
// caller, 0 an element moved by a split or parent update, 2 the first
// element of a new root, 3 counted even while counting is suspended. The
// element count is stored by the caller. 0 or 527.
int insexp81(NODEBUF *b, const unsigned char *key, uint32_t ptrh, uint32_t ptrl, int psize, int mode);
// Removes the positioned element (elm); the element count drops by one.
// 1 when it was the last element, 0 otherwise, -1 (527) on a damaged node.
int delexp(NODEBUF *b, int flag);
// Moves the bytes from offset to the end of the used area by distance.
void shfrgt(int32_t distance, NODEBUF *b, int32_t offset);
// The node covering key, positioned by nodser 'L', moving right from b.
// Null on failure; uerr_cod kUerrDeleted when a deleted node was met.
NODEBUF *movrgt(const unsigned char *key, FCB *fcb, NODEBUF *b, int flag);
// Settles the control marks of a leaf: 0, -3 when the emptied leaf was
// removed, or an error code.
int zvclup(int mode, NODEBUF *b, int settle, int remove);
// Adds delta to the index's 64-bit key count; writes the header in
// write-through mode. 0 or the write's error.
int hdrupd(FCB *fcb, int delta);
// Forces the file to disk unless it is a memory file or marked not to be
// saved. 0 or the error.
int zvsave(FCB *fcb);
// Appends the record position to a duplicate-key index's key (its last P
// bytes, high word first, most significant byte first).
void prpdup81(unsigned char *key, FCB *fcb, uint32_t hi, uint32_t lo);
// Rewrites the pointer in front of element n's key (child or record
// position), also in the expansion area when that element is expanded.
void set_elem_ptr(NODEBUF *b, int n, uint32_t hi, uint32_t lo);
