// Central data and index I/O: the one routine through which every region of
// a data file, an index file, a superfile member or a memory file is read or
// written (see centralio.cpp for its roads).
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

struct FCB;

namespace zv {

// The direct road without the page-cache coherence step: platform read or
// write at a 64-bit offset, after a member has been turned into its host and
// a virtually closed file reopened; a write that starts past the bytes the
// file has written first closes the gap (pagecache_close_gap). op: 0 read or 1 write, plus 0x80, 0x100
// and 0x200 passed to the platform routine. Keeps the direct statistics.
int direct_io(int op, FCB *fcb, uint32_t hi, uint32_t lo, void *buf, int32_t len, int32_t *count);

// Sets the FCB's highest written offset from the file's size (the logical
// size of a segmented file): size - 1, or 0 for an empty file. Open and
// create call it once the file is bound to its FCB.
int set_highest_written(FCB *fcb);
// Raises the highest written offset to the file's size - 1 when the file
// holds more than it says (never lowers it). 0, or 35 when the size cannot
// be had.
int raise_written_end(FCB *fcb);

}  // namespace zv

extern "C" {
// op: 0x01 write, 0x10 direct, 0x20 (with 0x01) a member index region that
// may be cached, 0x80/0x100/0x200 passed to the platform routine, 0x1000
// removed. Returns 0 or an error code, also left in uerr_cod.
int izvio81x(int op, FCB *fcb, uint32_t hw, uint32_t lw, void *buf, int32_t size, int32_t *count,
             uint32_t torigin);
int izvio81(int op, FCB *fcb, uint32_t hw, uint32_t lw, void *buf, int32_t size, int32_t *count);
int izvio(int op, FCB *fcb, uint32_t lw, void *buf, int32_t size, int32_t *count);
// Reopens the descriptor of a virtually closed file; 38 when that fails.
int zvswitch(FCB *fcb);
// Ring primitive of the caches over nodes whose first two words are the
// forward and backward links.
void zvlowhsh(void *node, void *anchor, int side);
}
