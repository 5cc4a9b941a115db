// The index node buffers of the instance, beside its data pages: what the
// pools carve and start-up links (see startup.cpp); the node cache of
// engine/index fills and reads them.
//
// Start-up makes every buffer of an instance at once (headers from free list
// 19, node images from list 22) and keeps them, for the life of the engine,
// in three structures of the instance block:
//  - the all-buffers chain idxbuflist, through `next` (null ends it);
//  - the LRU list idxlru, a circular list through `lru`, least recently used
//    first; every buffer is in it;
//  - the hash table idxhash of idxhashsize circular chains through `hash`;
//    a free buffer is in no chain.
// The instance holds its list heads as plain zv::ListLink; a buffer's link is
// a NODELINK whose first member is that ListLink, so a link reached from a
// head converts back to its NODELINK and names its buffer through `owner`.
//
// Node image of a buffer (kNodeWrap bytes beyond the node size):
//   OFFSET          SIZE          CONTENT
//   0               kNodeWrap     room for the space-record header of a node
//                                 kept inside another file (read and written
//                                 with the node, just before it)
//   kNodeWrap       node size     the node as on disk: header, element area
// An insert into a full node lands before a split moves it, so the node may
// hold one element more than its size for a while: such a node first moves
// into the instance's spill image, which has kNodeSlack bytes of room after
// the node, and comes back once it fits again (see spill_room in
// engine/index/node.h).
// The expansion area (kKeyRoom bytes) lies apart from the buffer, in a block
// of its own: only compressed indexes use it.
//
// The node format itself (the on-disk header, the invariants of a bound
// buffer and the helpers that read a node) is the index engine's: see
// engine/index/nodebuf.h.
#pragma once

#include <cstdint>

#include "engine/core/instance.h"

struct FCB;
struct NODEBUF;

// Room before the node for a wrapping space-record header (18 or 22 bytes,
// or the 10-byte header of a space-index node), kept 8-byte aligned.
constexpr int32_t kNodeWrap = 24;
// Room after the node in the spill image for one element beyond a full
// node: 8-byte pointer, two count bytes and a key of at most 1024 bytes,
// rounded up.
constexpr int32_t kNodeSlack = 1040;
// Longest key of an index and the room of a key buffer (key plus pointer).
constexpr int32_t kMaxKeyLen = 1024;
constexpr int32_t kKeyRoom = kMaxKeyLen + 16;

// A list membership of a node buffer: the circular link, then the buffer.
struct NODELINK {
    zv::ListLink link;
    NODEBUF *owner;
};

// The node header in host order (same field order as on disk; its stored
// form is described in engine/index/nodebuf.h).
struct NODEHDR {
    uint32_t sucesr;    // successor, low word
    uint32_t predsr;    // predecessor, low word
    uint16_t nkv;       // elements
    uint16_t nkb;       // bytes used
    uint16_t numexc;    // marked elements (leaves)
    uint16_t frsexc;    // first element that may be marked (leaves)
    uint8_t member;     // member number
    uint8_t leaf;       // 1 leaf
    uint8_t spare[2];   // bytes 18-19, kept as they are
    uint32_t sucesrh;   // successor, high word
    uint32_t predsrh;   // predecessor, high word
};
static_assert(sizeof(NODEHDR) == 28, "node header is 28 bytes in memory");

struct NODEBUF {
    NODELINK hash;                 // hash-chain membership (unlinked: null)
    NODELINK lru;                  // LRU membership
    unsigned char *image;          // node image; the node starts at image + kNodeWrap
    int32_t filno;                 // file number, -1 when free
    uint32_t posl, posh;           // node position; both all ones when free
    FCB *fcb;                      // owning FCB, null when free
    unsigned char *ctl;            // control-field area of a leaf, null when none
    unsigned char *elems;          // element area (node + header size)
    int32_t hostfil;               // file number of the file that holds the node
    int32_t keylen;                // key length K
    int32_t maxb;                  // element-area capacity
    int32_t maxkv;                 // element-count limit
    int32_t ctlwid;                // control-field width, 4 or 6
    int32_t hug;                   // 1 with 8-byte positions
    int32_t cmpbits;               // compression bits (key type & 12)
    int32_t psize;                 // pointer size P: 4 or 8
    int32_t hsize;                 // node header size: 18 or 28
    int32_t esize;                 // uncompressed element size (K, or P + K)
    int32_t kc;                    // compressible key length
    int32_t unit;                  // count unit u of compressed keys
    uint8_t padbyte;               // trailing pad byte of the index
    uint8_t kind;                  // 0 duplicate leaf, 1 unique node, 3 duplicate non-leaf
    char updated;                  // 'y' when it must be written, 'n' otherwise
    uint8_t wraplen;               // bytes of the wrapping header read and written with the node
    uint8_t memrec;                // 1: the buffer is a memory file's node record (in no list)
    int32_t expoff, explen;        // expansion cache: offset and length of the element
    int32_t expnum;                // its number (0: nothing cached)
    int32_t exptrl;                // its trailing count
    int32_t lastins;               // number of the element inserted last (0 none)
    int32_t runcnt;                // insertion run counter
    int32_t pins;                  // holders that keep the buffer from being reused
    NODEHDR hdr;                   // decoded node header
    NODEBUF *next;                 // all-buffers chain (null ends it)
    unsigned char *exparea;        // expansion area, kKeyRoom bytes: pointer, then key
};
typedef NODEBUF IDXBUF;

// The node link that a list link of a node buffer belongs to.
inline NODELINK *nodelink_of(zv::ListLink *l) { return reinterpret_cast<NODELINK *>(l); }
