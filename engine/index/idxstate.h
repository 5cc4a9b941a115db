// Per-instance state of the index engine (its room INSTGV::idx_ of the
// instance block, reached through idx_state): the node-cache counters, the
// search state left by nodser and fndkey, the descent paths of insertion
// and deletion, the key buffers of one key operation, and the tables of the
// key map (keymap.cpp). The spill image of the node cache is core's, with
// the node buffers (INSTGV::idxspill).
//
// This header holds plain data only, so that the zeroed instance block holds it.
#pragma once

#include <cstdint>

#include "engine/core/instance.h"
#include "engine/core/nodebuf.h"

struct NODEBUF;

namespace zv {

struct ISAMSEG;

// Deepest tree the engine walks: levels 0..14 of non-leaf nodes.
constexpr int kIdxLevels = 15;
// Room of one key in the instance's buffers: a key buffer's room.
constexpr int kIdxKeyRoom = kKeyRoom;

// One non-leaf node on a descent path.
struct IdxPathEntry {
    uint32_t posh, posl;   // node position
    int32_t elm;           // element followed (delete path)
    int32_t nkv;           // element count when passed (delete path, compressed)
    int32_t full;          // no room left for one more key of full length
};

struct IdxState {
    // Node cache counters.
    uint64_t requests;     // node requests (every read but a probe)
    uint64_t hits;         // requests found in the cache
    int32_t inuse;         // buffers bound to a node
    int32_t wbfailed;      // code of a victim write-back that failed and was passed by
                           // since the last call that asked (0: none)
    int32_t maxinuse;      // highest number ever bound
    uint64_t splits;       // node splits
    // Search state of nodser and fndkey.
    int32_t elm;           // element number found
    int32_t cmp;           // result of the last comparison (0 equal)
    int32_t tky;           // target against the element found
    int32_t tkp;           // target against the element before it
    uint32_t downh, downl; // last non-leaf reached on the way down
    uint32_t leafh, leafl; // leaf where the search ended
    // Insertion path (non-leaf nodes from the root) and its depth.
    IdxPathEntry path[kIdxLevels];
    int32_t depth;
    // Deletion path with the elements followed, and its depth.
    IdxPathEntry npath[kIdxLevels];
    int32_t ndepth;
    // Options: see kIdxOpt* in engine/index/node.h.
    uint32_t options;
    // Key of the running insertion or deletion (duplicate suffix appended).
    unsigned char workkey[kIdxKeyRoom];
    // Separator carried up after a split, and the key being placed in a parent.
    unsigned char sepkey[kIdxKeyRoom];
    unsigned char upkey[kIdxKeyRoom];
    // High key of a leaf saved while it is split.
    unsigned char savedhigh[kIdxKeyRoom];
    // The key map (keymap.cpp): the index map, an ISAMMAPENT per file
    // number (null when not allocated), its number of entries, and the
    // three further arrays with as many entries.
    void *isamtab;
    int32_t isamtabn;
    uint16_t (*deflist)[64];   // defined index list of each data file
    uint16_t (*actlist)[64];   // active index list (-66: defined, not open here)
    ISAMSEG (*seglist)[16];    // segment list of each index
};

}  // namespace zv

static_assert(zv::fits_state_room<zv::IdxState>(zv::kIdxStateBytes),
              "the index engine's state fits its room of the instance block");

// The index engine's state of an instance.
inline zv::IdxState &idx_state(INSTGV *g) { return zv::state_in<zv::IdxState>(g->idx_); }
inline const zv::IdxState &idx_state(const INSTGV *g) { return zv::state_in<zv::IdxState>(g->idx_); }
