// Definition blocks, alternate collating sequences and the record schema
// map of a data file (see defblock.cpp).
#pragma once

#include <cstdint>

#include "engine/index/index_services.h"
#include "zarvo/zarvo.h"

struct FCB;

namespace zv {

// The layout of the definition resource (kDefHead ...) and igetdefblkx are
// in index_services.h.

// The record-schema map of a data file (16-byte head, 6-byte entries, see
// segmode.h), or null when it has none (also for a null block).
const unsigned char *schema_map(const FCB *fcb);

// (index_services.h) zvsetseq copies a table into the index block's
// collating sequence (512 bytes, allocated on first use): 0, or 435 when
// memory runs out. install_schema makes a record-schema block the data
// file's schema map; the stored form (4-byte entries) is widened to 6-byte
// entries: 0, 439 a block shorter than its entries, 435 no memory.

}  // namespace zv
