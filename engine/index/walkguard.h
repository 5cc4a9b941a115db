// Bounds of the walks through an index tree.
//
// A damaged file must end a search in 527, never in a walk that does not
// end: a child that points at its own node, successor links that close a
// ring, a level that never reaches a leaf. Two bounds cover every walk:
//  1. A descent passes at most kMaxDescent non-leaf levels (the levels an
//     insertion can build).
//  2. A walk along one level takes at most as many steps as the index's
//     file can hold nodes (its bytes up to the last one used, in node-size
//     steps).
// Each bound costs one counter compare per step; the node bound is worked
// out only once a walk has gone further than walks of a sound tree go in
// practice, so a search of cached nodes still makes no system call.
#pragma once

#include <cstdint>

#include "engine/index/idxstate.h"

struct FCB;

namespace zv {

// Non-leaf levels a descent may pass before it must reach a leaf.
constexpr int kMaxDescent = kIdxLevels;

// Most nodes the file of index f can hold.
uint64_t index_node_bound(FCB *f);

// Steps along one level of an index.
class LevelWalk {
public:
    explicit LevelWalk(FCB *f) : f_(f) {}
    // False once the walk has taken more steps than the index has nodes.
    bool step() {
        if (++steps_ <= kFreeSteps) return true;
        if (!bound_) bound_ = index_node_bound(f_);
        return steps_ <= bound_;
    }
    // The walk starts again (a new level, or a search from the root).
    void restart() { steps_ = 0; }

private:
    static constexpr uint64_t kFreeSteps = 64;
    FCB *f_;
    uint64_t steps_ = 0;
    uint64_t bound_ = 0;
};

}  // namespace zv
