// A private copy of one index node for the maintenance utilities (see
// nodeview.cpp).
#pragma once

#include <cstdint>
#include <memory>

#include "engine/index/nodebuf.h"

struct FCB;

namespace zv {

// One node of an index as the verification and the dumps see it: the
// node cache's copy when the cache holds the node (so that changes not yet
// written are seen), else the bytes of the file. The copy lives in a
// NODEBUF of its own that no cache list links, so reading a damaged node
// neither marks the file nor disturbs the cache. Element access is
// offered only for a node whose elements decode within its bytes.
class NodeView {
public:
    // Allocates the image for nodes of index fcb; false when memory runs out.
    bool init(FCB *fcb);
    // Reads the node at pos (not 0): 0, or the read's error (36 a short
    // read; 160 no such node of a memory file). With checkmember a live
    // node of another index member gives 69.
    int read(uint64_t pos, bool checkmember);

    NODEBUF *buf() { return &b_; }
    uint64_t pos() const;
    uint64_t succ() const;
    uint64_t pred() const;
    bool deleted() const { return is_deleted(&b_); }
    // The stored leaf byte (1 leaf, 0 non-leaf; anything else is damage).
    uint8_t leafbyte() const { return leaf_; }
    bool leaf() const { return leaf_ == 1; }
    int nkv() const { return b_.hdr.nkv; }
    int nkb() const { return b_.hdr.nkb; }
    // The node's limits: bytes of its element area and elements.
    int maxb() const { return b_.maxb; }
    int maxkv() const { return b_.maxkv; }
    bool over_capacity() const { return b_.hdr.nkb > b_.maxb || b_.hdr.nkv > b_.maxkv; }
    // Every element decodes inside the bytes used, which lie inside the node.
    bool well_formed();
    // Element access, for a well-formed node and 1 <= n <= nkv.
    const unsigned char *key(int n);
    uint64_t child(int n);
    uint64_t recptr(int n);
    // The leaf's high key (right after its element area).
    const unsigned char *highkey() { return highkey_of(&b_); }
    // Key bytes shown by the dumps: the key length less a duplicate suffix.
    int32_t shown_keylen() const;

private:
    NODEBUF b_{};
    std::unique_ptr<unsigned char[]> img_;
    FCB *f_ = nullptr;
    uint8_t leaf_ = 0;
    int checked_ = -1;  // well_formed answer for the node read last; -1 not yet asked
};

// Physical size of the file that holds index fcb's nodes (a memory index:
// its records times the node size); false when it cannot be taken.
bool index_file_size(FCB *fcb, uint64_t *size);

}  // namespace zv
