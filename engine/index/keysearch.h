// Key search: key comparison, the search inside one node, the descent with
// its move-right rule, and the key reads (see keysearch.cpp).
#pragma once

#include <cstdint>

#include "engine/index/nodebuf.h"

struct FCB;

// Compares two keys of k bytes as unsigned bytes: 0 when equal, else +i or
// -i where i is the 1-based position of the first differing byte (capped at
// 256), positive when a's byte is greater.
int compar_k(const unsigned char *a, const unsigned char *b, int32_t k);
// The same over the index's key length.
int compar(const void *a, const void *b, const FCB *fcb);

// Searches one node for target: the element number (>= 1) of the first key
// >= target; -1 move right (successor); -2 no element (end of node, or an
// 'E' miss); -3 the node is deleted; -99 an element could not be read. Modes
// 'L' (upper levels and positioning), 'E', 'S'. Leaves the element, the
// comparison with it (tky) and with the element before it (tkp) in the
// instance's search state.
int nodser(NODEBUF *b, const unsigned char *target, int mode, int flag);
// Finds a key by mode ('E', 'G', 'H', 'N', 'M'): record position low word
// (high through zvSETHGHi), 0 when none or on failure. The key found is
// copied to keyout when given; the leaf and element found stay in the
// instance's search state.
uint32_t fndkey(FCB *fcb, const unsigned char *target, int mode, unsigned char *keyout);
// fndkey that on success copies the key found to the work key (and keyout)
// and makes it the index's current node and element.
uint32_t ser(FCB *fcb, const unsigned char *target, unsigned char *keyout, int mode);
uint32_t ieqlkey(FCB *fcb, const void *target);
uint32_t igtekey(FCB *fcb, const void *target, void *keyout);
uint32_t igtkey(FCB *fcb, const void *target, void *keyout);
uint32_t ilstkey(FCB *fcb, void *keyout);
