// Structural checker of an index B-link tree (see btcheck.cpp).
#pragma once

#include <cstdint>

struct FCB;

namespace zv {

// What the checker found: code 0 when every invariant holds, else the
// number of the first broken one, the node where it was found and a message.
struct BtReport {
    int code;
    uint32_t nodeh, nodel;
    char message[200];
    uint64_t keys;        // leaf elements
    uint64_t nodes;       // nodes of the tree
    uint64_t deleted;     // nodes on the deleted-node stack
    int32_t depth;        // levels of the tree
};

// Broken invariants, in the order they are checked.
enum : int {
    kBtOk = 0,
    kBtRead = 1,        // a node could not be read
    kBtDeleted = 2,     // a node of the tree is marked deleted
    kBtMember = 3,      // member number differs from the index's
    kBtLevel = 4,       // leaf flag differs within a level, or too many levels
    kBtSucc = 5,        // successor chain differs from the parents' children, or loops
    kBtPred = 6,        // predecessor link differs from the node before
    kBtAnchor = 7,      // leaf anchor is not the first leaf
    kBtOrder = 8,       // keys not strictly ascending within or across nodes
    kBtHigh = 9,        // a key above its leaf's high key, or a last high key not all 0xFF
    kBtParent = 10,     // a parent key differs from its child's high key
    kBtLastKey = 11,    // last key of a non-leaf level not all 0xFF
    kBtCount = 12,      // header key count differs from the leaf elements
    kBtStack = 13,      // deleted-node stack: node not marked deleted, reachable, or looping
    kBtLevels = 14,     // kept level count differs from the depth
    kBtShape = 15,      // counts beyond capacity, marks in a non-leaf, empty non-leaf, zero pointer
};

// Walks the index of an open index FCB and reports the first broken
// invariant. Returns report->code.
int btcheck(FCB *fcb, BtReport *report);

}  // namespace zv
