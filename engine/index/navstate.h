// Per-instance state of key navigation (its room INSTGV::nav_ of the
// instance block, reached through nav_state): the current key set
// and its parked slots, the found-key buffer shared by sets and ranges, the
// key-image refresh buffer, and the state of a running bulk key load.
//
// Plain data only, so that the zeroed instance block holds it; every
// "none" below is encoded as zero.
#pragma once

#include <cstdint>

#include "engine/core/instance.h"
#include "engine/index/idxstate.h"

namespace zv {

// Longest key a set works on; the target images are this long.
constexpr int kSetKeyLen = 1024;

// One parked set (keyset.cpp), allocated with zvgetmem.
struct SetSlot;

// State of the bulk key load (bulkload.cpp).
struct LoadState {
    uint8_t active;              // a load is in progress
    int32_t filno;               // index being loaded (valid while active)
    int32_t filllimit;           // leaf fill limit in bytes (0: fill completely)
    uint32_t leafh, leafl;       // current (rightmost) leaf
    int32_t leaflast;            // number of its last element
    uint32_t prevh, prevl;       // the leaf before it (its predecessor link)
    int32_t wraplen;             // wrapper bytes in front of each node (18, 22 or 0)
    int32_t nlev;                // non-leaf levels in use
    uint32_t levh[kIdxLevels];   // rightmost node of each non-leaf level, from the leaves up
    uint32_t levl[kIdxLevels];
    uint8_t prov[kIdxLevels];    // that node still ends with a provisional high-key element
    int32_t levcnt[kIdxLevels];  // nodes closed on each level
    uint32_t reuseh, reusel;     // chain of nodes that may be reused in place (0: none)
    uint32_t lasth, lastl;       // the node lodnod81 handed out last
    unsigned char lastkey[kIdxKeyRoom];  // last key added
};

struct NavState {
    // Current key set.
    unsigned char settarget[kSetKeyLen];  // transformed prefix, then the key last read
    unsigned char setsaved[kSetKeyLen];   // copy restored when a record read fails
    int32_t setsiglen;                    // significant length
    int32_t setidx1;                      // index number + 1 of the current set (0: none)
    SetSlot **settab;                     // parked sets, setslots chains (null: no table)
    int32_t setslots;                     // chains in settab
    SetSlot *setcur;                      // current slot (null: none)
    int32_t settabsize;                   // set-table size setting (0: the default)
    // Entry found by the last set or range search.
    unsigned char foundkey[kIdxKeyRoom];
    // Key-image refresh: the record buffer kept across calls, its length
    // (negative while it selects one index: the key selector) and the ISAM
    // mode word.
    void *refbuf;
    int32_t refsel;
    uint16_t isammode;
    // Bulk key load.
    LoadState load;
};

}  // namespace zv

static_assert(zv::fits_state_room<zv::NavState>(zv::kNavStateBytes),
              "the key navigation state fits its room of the instance block");

// The key navigation state of an instance.
inline zv::NavState &nav_state(INSTGV *g) { return zv::state_in<zv::NavState>(g->nav_); }
