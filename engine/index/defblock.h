// Definition blocks, alternate collating sequences and the record schema
// map of a data file (see defblock.cpp).
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

struct FCB;

extern "C" {
// Copies block blk->blkno of the definition resource of `type` into
// blk->data: 0 or an error (see GETDEFBLK). `word` is not used.
int igetdefblkx(int filno, DEFBLK *blk, int word, int type);
}

namespace zv {

// The definition resource of a file:
//   OFFSET SIZE FIELD
//     0    4   resource type (0 or 200..299)
//     4    4   resource number: the mode (1 data file, 3 index file)
//     8    8   name "QV!DEF", NUL-terminated
//    16    4   total length in bytes (1048 when new)
//    20    4   time of the last change (engine clock)
//    24  1024  directory, 128 entries: u32 offset of the block, u16
//              reserved size (a multiple of 8), u16 length in use
//  1048    …   the blocks
// A new resource takes at least 2048 bytes less the resource header; the
// bytes after the total length are room for growth.
constexpr int32_t kDefHead = 1048;
constexpr int32_t kDefDir = 24;
constexpr int kDefBlocks = 128;

// The record-schema map of a data file (16-byte head, 6-byte entries, see
// segmode.h), or null when it has none (also for a null block).
const unsigned char *schema_map(const FCB *fcb);

// (index_services.h) zvsetseq copies a table into the index block's
// collating sequence (512 bytes, allocated on first use): 0, or 435 when
// memory runs out. install_schema makes a record-schema block the data
// file's schema map; the stored form (4-byte entries) is widened to 6-byte
// entries: 0, 439 a block shorter than its entries, 435 no memory.

}  // namespace zv
