// The in-memory index node buffer of the node cache.
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
#pragma once

#include <cstdint>

#include "engine/core/instance.h"

struct FCB;
struct NODEBUF;

// A list membership of a node buffer: the circular link, then the buffer.
struct NODELINK {
    zv::ListLink link;
    NODEBUF *owner;
};

struct NODEBUF {
    NODEBUF *next;                 // all-buffers chain (null ends it)
    unsigned char *image;          // the node image (node size + 1032 bytes)
    NODELINK hash;                 // hash-chain membership (unlinked: null)
    NODELINK lru;                  // LRU membership
    int32_t filno;                 // file number, -1 when free
    uint32_t posl, posh;           // node position; both all ones when free
    FCB *fcb;                      // owning FCB, null when free
    char updated;                  // 'y' when it must be written, 'n' otherwise
};
typedef NODEBUF IDXBUF;

// The node link that a list link of a node buffer belongs to.
inline NODELINK *nodelink_of(zv::ListLink *l) { return reinterpret_cast<NODELINK *>(l); }
