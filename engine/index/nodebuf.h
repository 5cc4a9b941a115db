// The in-memory index node buffer of the node cache.
#pragma once

#include <cstdint>

struct FCB;

struct NODEBUF {
    NODEBUF *hashnext, *hashprev;  // hash-bucket link
    NODEBUF *lrunext, *lruprev;    // LRU link
    unsigned char *image;          // the node image
    int32_t filno;                 // file number, -1 when free
    uint32_t posl, posh;           // node position
    FCB *fcb;                      // owning FCB
    char updated;                  // 'y' when it must be written
};
typedef NODEBUF IDXBUF;
