// Distinct-key counts (see distinct.cpp).
#pragma once

#include <cstdint>

#include "engine/index/nodebuf.h"
#include "zarvo/zarvo.h"

struct FCB;

namespace zv {

// Distinct-mode flags of an index, derived from its duplicate flag: 0x08
// duplicate mode 3 (duplicates, whole and prefix counts), 0x80 mode 4
// (unique key values, prefix counts), 0x02 mode 5 (duplicates, whole count
// only); 0 for an index without distinct counting.
uint32_t dst_flags(const FCB *fcb);
// True when the index keeps its distinct-key counts up to date.
bool dst_kept(const FCB *fcb);
// Counts a key just written at element e of leaf b (e and b's element
// count as before the write). prevpos and nextpos are the 1-based positions
// of the first byte in which the key differs from the element before and
// after it (0 when that neighbour lies outside the node).
void dst_insert(NODEBUF *b, int e, int32_t prevpos, int32_t nextpos);
// Uncounts element e of leaf b before it is removed.
void dst_delete(NODEBUF *b, int e);
// 1-based position of the first differing byte of two keys of n bytes, not
// capped; 0 when they are equal.
int32_t first_diff(const unsigned char *a, const unsigned char *b, int32_t n);

}  // namespace zv

// Recounts the distinct keys of one index (fi; fd its data file or null).
// mode 4 recounts (bits 8 and 32 accepted); 128, 256 and 64 change the
// index's distinct-count handling first (see distinct.cpp); 16 switches
// counting off as 256 does; 1 and 2 switch it on where it is off and
// recount: 1 with prefix levels (duplicate flag 3), 2 with the whole count
// only (5), either of them 4 on a unique index, which takes them only with
// bit 32 (else 48). Up to n level entries go to entries (16 bytes each) and
// the level count to *levels. The whole count (low word; high through
// zvSETHGHi), 0 with the error set on failure (446 a mode not accepted).
uint32_t iDNCTset(FCB *fi, FCB *fd, int keyno, int datno, int mode, int32_t n, void *entries, int32_t *levels);
// 1 when the index file's duplicate handling agrees with the duplicate mode
// (ikeydup) of index definition x, else 0 (also for a null argument). The
// file's distinct-mode flags (dst_flags) decide which modes a file that
// counts distinct keys answers to.
int chkkeydup(const IIDX *x, const FCB *fcb);
