// Data page cache.
//
// Data-file bytes (fixed and variable records, resources, headers) are read
// and written through a cache of fixed-size pages owned by the instance.
// Each page is keyed by (file number, offset high, offset low); a superfile
// member's pages are kept under its host's number. Pages are found through
// a lookaside of recent finds (a hint, checked against the page's key before
// use) and a hash table of about four buffers per bucket; the LRU list runs from the
// least recently used page (front, next victim) to the most recent (back).
// A page that is dedicated to a file with a cache quota is out of the LRU
// list (its LRU next link is null) and is never taken as a victim.
//
// Invariants:
//  1. A free buffer has both key words all ones, is in the LRU list and in
//     no hash chain.
//  2. A buffer holding a page is in exactly one hash chain: the bucket of
//     its key. It is either in the LRU list or dedicated.
//  3. valid <= page size; the bytes of a page beyond `valid` are 0xFF.
//  4. A dirty page differs from the disk only within [0, valid).
//  5. usedbufs counts the buffers that hold a page; dedused counts the
//     dedicated ones, and equals the sum of the files' dedcount.
//  6. A write-back (zvwrtbuf, the victim of a load, a flush) writes the
//     run of neighbouring dirty pages the page belongs to, and never starts
//     past the bytes the file has written (see pagecache.cpp).
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

struct FCB;
struct PAGEBUF;
struct INSTGV;

// A list membership: next, previous and the owning buffer (null in a head).
struct PAGELINK {
    PAGELINK *next;
    PAGELINK *prev;
    PAGEBUF *owner;
};

struct PAGEBUF {
    PAGEBUF *next;       // all-buffers list (null ends it)
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

// Opcodes of the page requests.
enum : int {
    kPageRead = 16,
    kPageWrite = 17,
    kPageLookup = 5,
    kWriteThrough = 33,
};

namespace zv {

// Per-instance state of the data page cache (INSTGV::pc).
// The buffers themselves, their LRU head and hash buckets are the instance's
// datpagelist, datlru and dathash (dathashsize buckets), built by start-up;
// pages hash by (offset low >> pageshift) + file number.
struct PageCacheState {
    int32_t pagesize;
    int32_t usedbufs, usedhigh;
    uint32_t requests, hits;
    int32_t dedtotal, dedused, dedhigh;
    int32_t runthreshold;   // pages through the cache before a run goes direct
    uint8_t forceread_recovery;  // set while a key-change log is replayed
    uint8_t forceread_rebuild;   // set while a rebuild runs
    uint8_t staging;             // set while a run is copied into the stage
    // Where a run of neighbouring dirty pages is put together for one write
    // (stagepages pages and their buffers; null when fewer than two fit).
    unsigned char *stage;
    PAGEBUF **stagebufs;
    int32_t stagepages;
};

// Bytes of the stage of a run write, at most (and at most the whole cache).
constexpr int32_t kStageBytes = 64 * 1024;
// A gap below a write is closed when it is at most the cache's bytes and
// this margin long.
constexpr uint64_t kGapFillMargin = 1024 * 1024;

// Circular list primitives over PAGELINK heads.
void pagelist_init(PAGELINK *head);

// Sets up the cache state of the current instance once start-up has built
// its pages, hash heads and LRU list (every page free, in the LRU list).
int pagecache_init();

// Brings cached pages of `fcb`'s file in step with a direct write of
// [hi:lo, +len). After a successful write its bytes are copied into every
// cached page they overlap, each page keeping its dirty state. After a
// failed write the clean pages it overlaps are dropped (the disk may now
// differ from them) and dirty pages are kept.
void pagecache_direct_written(FCB *fcb, uint32_t hi, uint32_t lo, const void *buf, int32_t len,
                              bool ok);
// Before a write at `at` of the physical file `f` that starts past the
// bytes already written (its highest written offset + 1): writes back, in
// ascending order, the dirty cached pages that lie in between, and 0xFF
// over the rest of the stretch, so that the file never holds a hole (a hole
// reads as zeros, which a scan of a fixed-length file takes for a record).
// A stretch longer than the cache's bytes and kGapFillMargin is left as it
// is. 0, or the code of the write that failed.
int pagecache_close_gap(FCB *f, uint64_t at);
// After a direct read of [hi:lo, +len) that delivered `got` bytes: overlays
// the bytes of every dirty cached page it overlaps (those pages are newer
// than the disk) and returns how many leading bytes of the request are now
// delivered (more than `got` when dirty pages reach past the disk's end).
int32_t pagecache_direct_read(FCB *fcb, uint32_t hi, uint32_t lo, void *buf, int32_t len,
                              int32_t got);

// Writes the dirty cached pages of `fcb`'s file that overlap [at, at + len)
// to the file now, in file order, so that what they hold reaches the file
// before any change made after this call. Pages not cached or clean cost
// nothing. 0, or the first write's error (the page stays dirty).
int pagecache_write_back(FCB *fcb, uint64_t at, uint64_t len);

// Asks the processor to fetch [at, at + len) of `fcb`'s file into its cache
// when the page holding `at` is cached, so that a read of those bytes that
// follows soon finds them there. The page cache itself is left as it is:
// no LRU move, no count, no read.
void pagecache_prefetch(FCB *fcb, uint64_t at, int32_t len);

// Test support: the number of buffers in the LRU list, and a consistency
// check of the cache (0, or the number of the first broken invariant).
int pagecache_lru_count();
int pagecache_check();

}  // namespace zv

extern "C" {
int zvblock81(int opcode, FCB *fcb, uint32_t hi, uint32_t lo, void *buf, int32_t len, int32_t *count);
PAGEBUF *zvgetpag81(int filno, uint32_t hi, uint32_t lo, int opcode, int32_t *want);
void updbuf(int opcode, int wt, PAGEBUF *buf, int32_t offset, int32_t len, void *bytes);
int zvwrtbuf(PAGEBUF *buf, int reason);
void zvputdsh(PAGEBUF *buf, int list, int where);
void clrpag(PAGEBUF *buf);
}
