// The node cache of an instance: hash buckets, one LRU list, node reads and
// writes (see nodecache.cpp).
#pragma once

#include <cstdint>

#include "engine/index/nodebuf.h"

struct FCB;

// Read modes of zvgetnod81 (bits 0x200 and 0x800 are ignored).
enum : int {
    kNodRead = 0,       // read and settle control marks
    kNodNoSettle = 1,   // read without settling control marks
    kNodParent = 2,     // as kNodRead, for parents during a split
    kNodProbe = 3,      // cached buffer or null; no LRU move, not counted
    kNodQuiet = 64,     // member mismatch without status-log lines
};

// The buffer of node (high, low) of the index, read on a miss; null with
// uerr_cod set on failure.
NODEBUF *zvgetnod81(int mode, uint32_t posh, uint32_t posl, FCB *fcb);
// A free or least recently used buffer, unbound and at the head of the LRU
// list. A dirty buffer is written back first; one whose write-back fails
// stays cached and dirty and the next candidate is taken. Pinned buffers are
// passed over. Null with uerr_cod set when no buffer can be had.
NODEBUF *lrubuf81(int mode, uint32_t posh, uint32_t posl, FCB *fcb);
// Binds a free buffer to node (high, low) of the index: bucket front, LRU
// tail, expansion cache cleared, not updated.
void bind_node(NODEBUF *b, FCB *fcb, uint32_t posh, uint32_t posl);
// Stores the element count, marks the buffer updated and moves it to the LRU
// tail when touch > 0; writes it at once in write-through mode. 0, 527 for a
// negative count, or the write's error (the buffer stays updated).
int putnod(NODEBUF *b, int count, int touch);
// Writes the node (header converted into the image) and marks it clean.
// 0 or the I/O error (logged; the buffer stays updated).
int wrtnod(NODEBUF *b);
// Unbinds a buffer from its node (its changes are dropped).
void zvclrhsh(NODEBUF *b);
// Moves a bound buffer to the LRU tail.
void touch_node(NODEBUF *b);
// Makes room for `growth` more bytes in the node of b: when they would pass
// the node's end, the node moves into the instance's spill image (another
// node held there that fits again goes back first). 0, or 527 when the
// spill image is missing or holds a node that does not fit its own.
int spill_room(NODEBUF *b, int32_t growth);
// Brings b's node back from the spill image into its own image when it fits
// there again (with `force` in any case: the node's bytes beyond its end are
// dropped, as when the buffer is being unbound). Nothing when b is not held
// in the spill image.
void spill_return(NODEBUF *b, bool force = false);
// Bytes of a memory file's node record: the NODEBUF, its expansion area,
// then its image.
uint32_t memnode_size(const FCB *fcb);
// Lays a NODEBUF out in a new memory-file record at addr (not yet bound).
NODEBUF *memnode_init(const FCB *fcb, uint64_t addr);

namespace zv {

// Keeps a buffer from being taken by lrubuf81 while an operation holds it.
class NodePin {
public:
    explicit NodePin(NODEBUF *b) : b_(b) {
        if (b_) b_->pins++;
    }
    ~NodePin() { release(); }
    void release() {
        if (b_) b_->pins--;
        b_ = nullptr;
    }
    NodePin(const NodePin &) = delete;
    NodePin &operator=(const NodePin &) = delete;

private:
    NODEBUF *b_;
};

// Brings a node back from the spill image when the operation that may have
// moved it there ends (see spill_room).
class NodeSpill {
public:
    explicit NodeSpill(NODEBUF *b) : b_(b) {}
    ~NodeSpill() { spill_return(b_); }
    NodeSpill(const NodeSpill &) = delete;
    NodeSpill &operator=(const NodeSpill &) = delete;

private:
    NODEBUF *b_;
};

}  // namespace zv
