// Bulk key load (see bulkload.cpp).
#pragma once

#include <cstdint>

#include "engine/index/nodebuf.h"

struct FCB;

// Loads keys given in strictly ascending order into index filno, bottom up.
// mode 0 starts (on an empty index, or appending to a non-empty one), 1
// adds the next key, 2 finishes. For a one-leaf result of a finish,
// *rootcount receives the leaf's element count and *flag 0 (either may be
// null). 0 or an error code (see LOADKEY in zarvo.h).
int iloadkey81(int filno, const void *key, uint32_t posh, uint32_t posl, int mode, int32_t *rootcount,
               int32_t *flag);
// Appends (key, pointer) to node b, closing it and starting its right
// neighbour when it is full: the node that now holds the key, or null.
NODEBUF *lodins81(NODEBUF *b, const unsigned char *key, uint32_t ptrh, uint32_t ptrl, FCB *fcb);
// Appends (separator, child) to the rightmost node of non-leaf level lev of
// the running load, carrying the separator of a node that fills one level
// higher. 0 or an error code.
int addtoparent(FCB *fcb, int lev, const unsigned char *sep, uint32_t childh, uint32_t childl);
// The node for the next leaf or parent: reused in place from the load's
// chain when it lies right after the previous one, else a new node.
NODEBUF *lodnod81(FCB *fcb, uint32_t *posh, uint32_t *posl);
// Set a node up as a leaf after the load's previous leaf, or as a non-leaf.
void newleaf(NODEBUF *b, FCB *fcb);
void nonleaf(NODEBUF *b, FCB *fcb);
// Reads only the header of the node at (posh, posl) for the maintenance
// utilities. kind: 0 a plain index node, 1 a node of a variable-length data
// file's space index (10-byte wrapper, mark 0xFBBF, links all ones), 2 a
// superfile member's node (18 or 22-byte wrapper, mark 0xFAFA and member).
// member >= 0 is compared with the wrapper and sets the leaf byte to 2.
// 0, or an I/O error; a wrapper that does not fit reports the node absent
// (leaf byte 0, 0 elements).
int nodctl81(FCB *fcb, uint32_t posh, uint32_t posl, NODEHDR *out, int member, int kind);
// Restores the load state from an image saved from it: 0, or 446 when the
// length is not that of the state.
int savlks(const void *saved, int32_t len);
