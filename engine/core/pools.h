// Memory pools: platform allocation wrappers and the 24 fixed-size free
// lists of an instance (see pools.cpp for the list discipline).
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

struct INSTGV;

namespace zv {

// List numbers with a fixed purpose.
enum : int {
    kListBatch = 12,    // ISAM batch entries
    kListLock = 13,     // lock-list entries
    kListIdxBuf = 19,   // index-buffer control structures
    kListPage = 20,     // data-page control structures
    kListFcb = 21,      // file control blocks
    kListNode = 22,     // index node images
    kListPageImg = 23,  // data page images
};

// Releases every list of an instance (stop road, instance removal), in the
// order 0..18, 22, 19, 23, 20, 21.
void release_all_lists(INSTGV *g);

// Reserves the arena of the buffer lists for the start-up of `bufs` index
// buffers and `dbufs` data pages, once the lists are sized; pools too small
// for huge pages to matter get none. 0, or 10 when no memory can be had.
int reserve_pool_arena(INSTGV *g);
// Reserves the expansion areas of the `bufs` index buffers (kKeyRoom bytes
// each) in one block of ordinary pages: they serve compressed indexes only,
// and only the pages of the areas used become resident. Released with the
// lists. 0, or 10 when no memory can be had.
int reserve_expansion_areas(INSTGV *g);

// ---- Test support (not exported) -----------------------------------------
// Platform allocations made through the wrappers since the process started.
uint64_t platform_alloc_count();
uint64_t platform_free_count();
// Makes the nth platform allocation from now fail (1 = the next one);
// 0 switches the fault off. With `sticky`, every allocation from the nth on
// fails.
void fail_alloc_at(long nth, bool sticky = false);
// Makes the nth zvgetmem call from now return null (1 = the next one); 0
// switches the fault off.
void fail_pool_at(long nth);
// zvgetmem calls made since the process started.
uint64_t pool_get_count();

// Blocks taken and not given back: list elements in use and platform
// blocks other than list chunks, for the current instance. Only the
// difference of two readings means something (a leak check).
int64_t pool_blocks_in_use();

// Consistency check of one list: the ring, the chunk counts and the free
// counts agree. Returns 0, or a nonzero number naming the first broken rule.
int check_list(int list);
// Number of chunks currently held by a list.
int32_t list_chunks(int list);
// Pools from this many bytes of buffer chunks on get an arena.
constexpr size_t kArenaMin = size_t(4) << 20;

// A zero-filled block of n bytes for transient bulk work read in no order
// (the sort's entries and their pointers): from kArenaMin bytes on it is
// mapped on huge-page boundaries and backed by huge pages where the system
// grants them, so that its random reads cost few address-translation
// misses; a smaller one is a plain allocation. *mapped tells
// free_work_block which. Counted and failed like every platform allocation.
void *work_block(size_t n, int32_t *mapped);
// Gives back a block of work_block with its size and mapped flag.
void free_work_block(void *p, size_t n, int32_t mapped);

}  // namespace zv
