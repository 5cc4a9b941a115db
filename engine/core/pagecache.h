// Data page cache: one PAGEBUF per cache page (see pagecache.cpp).
#pragma once

#include <cstdint>

struct FCB;
struct PAGEBUF;

// A list membership: next, previous and the owning buffer.
struct PAGELINK {
    PAGELINK *next;
    PAGELINK *prev;
    PAGEBUF *owner;
};

struct PAGEBUF {
    PAGEBUF *next;       // all-buffers list
    unsigned char *data; // page bytes
    int32_t filno;       // file number (a member's pages are under its host)
    uint32_t offl;       // file offset of the first byte, low word
    uint32_t offh;       // high word; both all ones mark a free buffer
    PAGELINK hash;       // hash chain membership
    PAGELINK lru;        // LRU membership; null next: dedicated
    FCB *fcb;            // the page's file (the host for a member)
    int32_t valid;       // bytes of the page holding file data
    int32_t dirty;       // nonzero when changed and not yet written
};
