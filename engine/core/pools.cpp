// Memory pools.
//
// The engine takes working memory from the platform only through the
// wrappers below (mballc and friends), which count allocations and can be
// made to fail for tests. Structures made and dropped all the time live in
// 24 per-instance free lists of fixed element size. Each list hands out
// elements from chunks; a chunk whose elements are all free again goes back
// to the platform as long as another chunk of the list has free elements.
//
// The buffer lists of large pools (index buffers, data pages and their
// images) take their chunks from an arena that start-up reserves in one
// block, backed by huge pages where the system grants them: the buffers
// that every cached read walks then cost few address-translation misses.
// Arena chunks are never given back one by one; the arena goes back whole
// with the lists.
//
// Chunk layout: a ListChunk header, then `capacity` slots of (element size +
// 8) bytes. A slot is an 8-byte back reference to its chunk followed by the
// element; callers get the element's address. A free element's first 8
// bytes link it into its chunk's free chain. Never-used slots are still zero
// from the allocation; recycled elements are cleared on the way out.
//
// Invariants of a list (checked by check_list):
//  1. The chunks form a circular doubly-linked ring that contains `head`
//     and, when set, `cursor`.
//  2. total = sum of capacities, free = sum of free counts, chunks = ring
//     length, chunks_free = chunks whose free count is above zero.
//  3. A chunk's free count = never-used count + length of its free chain.
#include "engine/core/pools.h"

#include <cstdlib>
#include <cstring>

#include "engine/core/instance.h"
#include "engine/core/nodebuf.h"
#include "engine/core/platform.h"
#include "engine/core/statuslog.h"
#include "engine/core/fcb.h"
#include "engine/core/pagecache.h"

namespace zv {

struct ListChunk {
    ListChunk *prev;
    ListChunk *next;
    FreeListCtl *owner;
    unsigned char *freechain;  // first free (recycled) element
    unsigned char *neverused;  // next never-used slot
    int32_t neverleft;
    int32_t capacity;
    int32_t nfree;
    int32_t inarena;           // 1: carved from the instance's arena
};

namespace {

uint64_t g_allocs = 0;
uint64_t g_frees = 0;
long g_fail_countdown = 0;  // 0: off
bool g_fail_sticky = false;
bool setlstflg = false;     // set by the first sizing in the process
long g_pool_countdown = 0;  // 0: off; test switch of zvgetmem failures
uint64_t g_pool_gets = 0;   // zvgetmem calls, for the tests of allocation-free paths

// Size of a zvgetmem prefix and of a slot's back reference.
constexpr int kPrefix = 8;
// Upper limits of the zvgetmem size classes, lists 2..11.
constexpr int32_t kClassLimit[10] = {16, 32, 64, 128, 256, 512, 1024, 2048, 4096, 8192};

bool fault_now() {
    if (g_fail_countdown <= 0) return false;
    if (g_fail_countdown == 1) {
        if (!g_fail_sticky) g_fail_countdown = 0;
        return true;
    }
    g_fail_countdown--;
    return false;
}

void *platform_calloc(size_t n) {
    if (fault_now()) return nullptr;
    void *p = calloc(1, n ? n : 1);
    if (p) g_allocs++;
    return p;
}

void platform_free(void *p) {
    if (!p) return;
    g_frees++;
    free(p);
}

// A large zero-filled block from the platform's memory mapping (huge pages
// where granted), or from the plain allocation when the mapping fails.
// Counted and failed like platform_calloc.
void *platform_block(size_t n, int32_t *mapped, int32_t *huge, bool ask_huge = true) {
    *mapped = *huge = 0;
    if (fault_now()) return nullptr;
    bool big = false;
    void *p = plat_map_memory(n, &big, ask_huge);
    if (p) {
        *mapped = 1;
        *huge = big ? 1 : 0;
    } else {
        p = calloc(1, n);
    }
    if (p) g_allocs++;
    return p;
}

void platform_block_free(void *p, size_t n, int32_t mapped) {
    if (!p) return;
    g_frees++;
    if (mapped) plat_unmap_memory(p, n);
    else free(p);
}

// The arena region of a buffer list, or -1 for any other list.
constexpr int kArenaLists[4] = {kListIdxBuf, kListNode, kListPage, kListPageImg};
inline int arena_region(int list) {
    for (int r = 0; r < 4; r++)
        if (kArenaLists[r] == list) return r;
    return -1;
}

// Chunks in the arena start on a cache line.
inline size_t round64(size_t n) { return (n + 63) & ~size_t{63}; }

// A chunk of `bytes` for a buffer list from the instance's arena, or null
// when the list has none or it is full.
ListChunk *arena_chunk(INSTGV *g, int list, size_t bytes) {
    PoolArena &a = g->arena;
    const int r = arena_region(list);
    if (!a.base || r < 0) return nullptr;
    size_t need = round64(bytes);
    if (need > a.end[r] - a.next[r]) return nullptr;
    auto *ch = reinterpret_cast<ListChunk *>(a.base + a.next[r]);
    a.next[r] += need;
    ch->inarena = 1;
    return ch;
}

// Gives a chunk back: to the platform, unless it lies in the arena, which
// goes back whole when the lists are released.
void release_chunk(ListChunk *ch) {
    if (!ch->inarena) platform_free(ch);
}

int32_t round8(int64_t n) { return static_cast<int32_t>((n + 7) & ~int64_t{7}); }

// Element sizes of lists 0..21, which do not depend on the start values.
void size_fixed_lists(INSTGV *g) {
    if (g->listblocksize <= 0) g->listblocksize = 2048;
    for (int i = 0; i < 22; i++) {
        int32_t sz;
        if (i >= 2 && i <= 11) sz = kClassLimit[i - 2] + kPrefix;
        else if (i == 12) sz = 16;
        else if (i == 13) sz = 24;
        else if (i == kListIdxBuf) sz = round8(sizeof(IDXBUF));
        else if (i == kListPage) sz = round8(sizeof(PAGEBUF));
        else if (i == kListFcb) sz = round8(sizeof(FCB));
        else sz = 32;
        g->listelemsize[i] = sz;
        int32_t per = g->listblocksize / sz;
        g->listperchunk[i] = per < 4 ? 4 : per;
    }
}

inline int32_t slot_size(INSTGV *g, int list) { return g->listelemsize[list] + kPrefix; }

inline ListChunk *&back_ref(unsigned char *elem) {
    return *reinterpret_cast<ListChunk **>(elem - kPrefix);
}

inline unsigned char *&chain_link(unsigned char *elem) {
    return *reinterpret_cast<unsigned char **>(elem);
}

void ring_unlink(ListChunk *c) {
    c->prev->next = c->next;
    c->next->prev = c->prev;
    c->next = c->prev = c;
}

void ring_insert_before(ListChunk *c, ListChunk *at) {
    c->next = at;
    c->prev = at->prev;
    at->prev->next = c;
    at->prev = c;
}

int list_of_size(int32_t size) {
    for (int i = 0; i < 10; i++)
        if (size <= kClassLimit[i]) return i + 2;
    return -1;
}

}  // namespace

void *work_block(size_t n, int32_t *mapped) {
    *mapped = 0;
    if (n < kArenaMin) return platform_calloc(n);
    int32_t huge = 0;
    return platform_block(n, mapped, &huge);
}

void free_work_block(void *p, size_t n, int32_t mapped) { platform_block_free(p, n, mapped); }

uint64_t platform_alloc_count() { return g_allocs; }
uint64_t platform_free_count() { return g_frees; }

void fail_alloc_at(long nth, bool sticky) {
    g_fail_countdown = nth;
    g_fail_sticky = sticky;
}

void fail_pool_at(long nth) { g_pool_countdown = nth; }

uint64_t pool_get_count() { return g_pool_gets; }

int64_t pool_blocks_in_use() {
    INSTGV *g = zvWNGV;
    int64_t n = int64_t(g_allocs) - int64_t(g_frees);
    for (int l = 0; g && l < kFreeLists; l++) n += int64_t(g->lists[l].total) - g->lists[l].free - g->lists[l].chunks;
    return n;
}

int check_list(int list) {
    INSTGV *g = zvWNGV;
    if (!g || list < 0 || list >= kFreeLists) return 1;
    FreeListCtl *ctl = &g->lists[list];
    if (!ctl->head) return (ctl->total || ctl->free || ctl->chunks || ctl->cursor) ? 2 : 0;
    int64_t total = 0, nfree = 0, chunks = 0, chunks_free = 0;
    bool saw_cursor = ctl->cursor == nullptr;
    ListChunk *c = ctl->head;
    do {
        if (c->next->prev != c || c->owner != ctl) return 3;
        int32_t chain = 0;
        for (unsigned char *e = c->freechain; e; e = chain_link(e)) {
            if (++chain > c->capacity) return 4;
        }
        if (c->nfree != c->neverleft + chain) return 5;
        total += c->capacity;
        nfree += c->nfree;
        chunks++;
        if (c->nfree > 0) chunks_free++;
        if (c == ctl->cursor) saw_cursor = true;
        c = c->next;
        if (chunks > (1 << 24)) return 6;
    } while (c != ctl->head);
    if (!saw_cursor) return 7;
    if (total != ctl->total || nfree != ctl->free) return 8;
    if (chunks != ctl->chunks || chunks_free != ctl->chunks_free) return 9;
    return 0;
}

int32_t list_chunks(int list) {
    return (zvWNGV && list >= 0 && list < kFreeLists) ? zvWNGV->lists[list].chunks : 0;
}

void release_all_lists(INSTGV *g) {
    INSTGV *saved = zvWNGV;
    zvWNGV = g;
    for (int i = 0; i <= 18; i++) freezvlist(i);
    static const int tail[] = {22, 19, 23, 20, 21};
    for (int i : tail) freezvlist(i);
    platform_block_free(g->arena.base, g->arena.size, g->arena.mapped);
    platform_block_free(g->arena.expbase, g->arena.expsize, g->arena.expmapped);
    g->arena = PoolArena{};
    zvWNGV = saved;
}

int reserve_expansion_areas(INSTGV *g) {
    const size_t bytes = size_t(g->bufs > 0 ? g->bufs : 0) * size_t(kKeyRoom);
    if (bytes == 0) return 0;
    PoolArena &a = g->arena;
    int32_t huge = 0;
    if (bytes >= kArenaMin) {
        a.expbase = static_cast<unsigned char *>(platform_block(bytes, &a.expmapped, &huge, false));
    } else {
        a.expbase = static_cast<unsigned char *>(platform_calloc(bytes));
        a.expmapped = 0;
    }
    if (!a.expbase) return 10;
    a.expsize = bytes;
    return 0;
}

int reserve_pool_arena(INSTGV *g) {
    // Regions start on a huge page (2 MB), so that the images of buffers
    // never used share no page with those in use.
    constexpr size_t kRegionAlign = size_t(2) << 20;
    PoolArena a{};
    size_t total = 0, chunkbytes = 0;
    for (int r = 0; r < 4; r++) {
        const int list = kArenaLists[r];
        const int32_t count = (list == kListIdxBuf || list == kListNode) ? g->bufs : g->dbufs;
        const int32_t per = g->listperchunk[list];
        a.next[r] = a.end[r] = total;
        if (per <= 0 || g->listelemsize[list] <= 0 || count <= 0) continue;
        const size_t chunks = (size_t(count) + size_t(per) - 1) / size_t(per);
        const size_t bytes = chunks * round64(sizeof(ListChunk) + size_t(slot_size(g, list)) * size_t(per));
        chunkbytes += bytes;
        a.end[r] = total + bytes;
        total = (a.end[r] + kRegionAlign - 1) & ~(kRegionAlign - 1);
    }
    if (chunkbytes < kArenaMin) return 0;
    a.base = static_cast<unsigned char *>(platform_block(total, &a.mapped, &a.huge));
    if (!a.base) return 10;
    a.size = total;
    g->arena = a;
    return 0;
}

}  // namespace zv

using zv::FreeListCtl;
using zv::ListChunk;

extern "C" {

// ---- Platform allocation wrappers -------------------------------------------

ZV_API void *mballc(size_t count, size_t size) {
    if (count == 0 || size == 0) return zv::platform_calloc(1);
    if (size > SIZE_MAX / count) return nullptr;
    return zv::platform_calloc(count * size);
}

ZV_API void *mballcx(size_t count, size_t size) { return mballc(count, size); }

ZV_API void *mballc64(uint64_t size) {
    if (size > SIZE_MAX) return nullptr;
    return zv::platform_calloc(static_cast<size_t>(size));
}

ZV_API void mbfree(void *p) { zv::platform_free(p); }
ZV_API void mbfreel(void *p) { zv::platform_free(p); }
ZV_API void mbfreex(void *p) { zv::platform_free(p); }
ZV_API void mbfree64(void *p) { zv::platform_free(p); }

ZV_API void mbfren(void **pp) {
    if (!pp) return;
    void *p = *pp;
    *pp = nullptr;
    zv::platform_free(p);
}

ZV_API void mbfrenl(void **pp) { mbfren(pp); }

ZV_API void *mballccam(uint32_t n) {
    INSTGV *g = zvWNGV;
    if (!g) return nullptr;
    if (g->encworkbuf && g->encworksize >= n) return g->encworkbuf;
    // The page cache hands the hook runs of up to a stage of pages: the
    // buffer grows to a whole stage at once, so that no later run needs
    // another.
    const uint64_t stage = uint64_t(g->pc.stagepages) * uint64_t(g->pc.pagesize > 0 ? g->pc.pagesize : 0);
    if (stage > n && stage <= UINT32_MAX) n = uint32_t(stage);
    mbfren(&g->encworkbuf);
    g->encworksize = 0;
    g->encworkbuf = mballc(1, n);
    if (g->encworkbuf) g->encworksize = n;
    return g->encworkbuf;
}

ZV_API void mbfrencam(void **pp) {
    if (zvWNGV && pp && *pp == zvWNGV->encworkbuf) zvWNGV->encworksize = 0;
    mbfren(pp);
}

// ---- Free lists -------------------------------------------------------------

ZV_API void zvsetlst(int32_t nodesize, int32_t pagesize, int32_t bufs, int32_t dbufs) {
    INSTGV *g = zvWNGV;
    if (!g) return;
    g->listelemsize[zv::kListNode] = zv::round8(nodesize);
    g->listelemsize[zv::kListPageImg] = zv::round8(pagesize);
    // Computed in 64 bits: large nodes times many buffers overflow 32 bits.
    int64_t total = int64_t{nodesize} * (bufs > 0 ? bufs : 0) +
                    int64_t{pagesize} * (dbufs > 0 ? dbufs : 0);
    int64_t f = total / 65536 + 1;
    if (f > 4) f = 4;
    if (f < 1) f = 1;
    g->listperchunk[zv::kListNode] = static_cast<int32_t>(3 * f);
    g->listperchunk[zv::kListPageImg] = static_cast<int32_t>(3 * f);
    zv::size_fixed_lists(g);
    zv::setlstflg = true;
}

ZV_API void *zvgetlst(int list) {
    INSTGV *g = zvWNGV;
    if (!g || list < 0 || list >= zv::kFreeLists) return nullptr;
    if (g->listelemsize[0] == 0) zv::size_fixed_lists(g);
    if (g->listelemsize[list] <= 0 || g->listperchunk[list] <= 0) {
        zv::set_uerr(68);
        return nullptr;
    }
    FreeListCtl *ctl = &g->lists[list];
    ListChunk *ch = ctl->head;
    if (!ch || ch->nfree <= 0) {
        if (ctl->free == 0) {
            // Grow: a new zero-filled chunk becomes the head.
            int32_t per = g->listperchunk[list];
            size_t bytes = sizeof(ListChunk) + size_t(zv::slot_size(g, list)) * size_t(per);
            ch = zv::arena_chunk(g, list, bytes);
            if (!ch) ch = static_cast<ListChunk *>(zv::platform_calloc(bytes));
            if (!ch) {
                zv::set_uerr(68);
                return nullptr;
            }
            ch->owner = ctl;
            ch->capacity = ch->neverleft = ch->nfree = per;
            ch->neverused = reinterpret_cast<unsigned char *>(ch + 1);
            ch->next = ch->prev = ch;
            if (ctl->cursor) zv::ring_insert_before(ch, ctl->cursor);
            else if (ctl->head) zv::ring_insert_before(ch, ctl->head);
            ctl->head = ch;
            ctl->total += per;
            ctl->free += per;
            ctl->chunks++;
            ctl->chunks_free++;
        } else {
            if (!ctl->cursor) terr(7502);
            ListChunk *c = ctl->cursor;
            while (c->nfree <= 0) {
                c = c->next;
                if (c == ctl->cursor) terr(7503);
            }
            ctl->head = ch = c;
        }
    }
    unsigned char *elem;
    bool recycled;
    if (ch->neverleft > 0) {
        unsigned char *slot = ch->neverused;
        *reinterpret_cast<ListChunk **>(slot) = ch;
        ch->neverused += zv::slot_size(g, list);
        ch->neverleft--;
        elem = slot + zv::kPrefix;
        recycled = false;
    } else {
        elem = ch->freechain;
        if (!elem) terr(7479);
        ch->freechain = zv::chain_link(elem);
        memset(elem, 0, size_t(g->listelemsize[list]));
        recycled = true;
    }
    ch->nfree--;
    if (ch->nfree == 0) {
        ctl->chunks_free--;
        if (ch == ctl->cursor) {
            ctl->cursor = ctl->free < 2 ? nullptr : ch->next;
        } else if (recycled && ctl->cursor && ch->next != ctl->cursor) {
            zv::ring_unlink(ch);
            zv::ring_insert_before(ch, ctl->cursor);
        }
    }
    if (--ctl->free < 0) terr(7492);
    return elem;
}

ZV_API void zvputlst(void *element, int list) {
    INSTGV *g = zvWNGV;
    if (!element || !g || list < 0 || list >= zv::kFreeLists) return;
    FreeListCtl *ctl = &g->lists[list];
    unsigned char *elem = static_cast<unsigned char *>(element);
    ListChunk *ch = zv::back_ref(elem);
    if (!ch || ch->owner != ctl) terr(7495);
    zv::chain_link(elem) = ch->freechain;
    ch->freechain = elem;
    ctl->free++;
    ch->nfree++;
    if (ch->nfree == 1) {
        ctl->chunks_free++;
        if (ch != ctl->head) {
            if (ctl->cursor && ctl->cursor != ch && ch->next != ctl->cursor) {
                zv::ring_unlink(ch);
                zv::ring_insert_before(ch, ctl->cursor);
            }
            ctl->cursor = ch;
        }
    } else if (ch->nfree == ch->capacity && ctl->chunks_free > 1) {
        // All elements of this chunk are free and another chunk has free
        // elements too: give this one back to the platform.
        if (ch->next == ch) terr(7480);
        ListChunk *next = ch->next;
        zv::ring_unlink(ch);
        if (ctl->head == ch) ctl->head = next;
        ctl->chunks--;
        ctl->chunks_free--;
        ctl->total -= ch->capacity;
        ctl->free -= ch->capacity;
        if (ctl->free < 0) terr(7493);
        if (ctl->cursor == ch) {
            if (ctl->free == 0) {
                ctl->cursor = nullptr;
            } else if (next->nfree > 0) {
                ctl->cursor = next;
            } else if (ctl->chunks_free == 1 && ctl->head->nfree > 0) {
                ListChunk *h = ctl->head;
                ctl->cursor = (h->nfree == h->neverleft) ? nullptr : h;
            } else {
                ctl->cursor = next->next;
            }
        }
        zv::release_chunk(ch);
    }
}

ZV_API void freezvlist(int list) {
    INSTGV *g = zvWNGV;
    if (!g || list < 0 || list >= zv::kFreeLists) return;
    FreeListCtl *ctl = &g->lists[list];
    ListChunk *c = ctl->head;
    if (c) {
        c->prev->next = nullptr;  // open the ring
        while (c) {
            ListChunk *n = c->next;
            zv::release_chunk(c);
            c = n;
        }
    }
    memset(ctl, 0, sizeof *ctl);
}

// ---- Variable-size blocks ---------------------------------------------------

ZV_API void *zvgetmem(int32_t size) {
    if (size < 0) terr(7490);
    if (size == 0) return nullptr;
    zv::g_pool_gets++;
    if (zv::g_pool_countdown > 0 && --zv::g_pool_countdown == 0) return nullptr;
    unsigned char *blk;
    int list = zv::list_of_size(size);
    if (list < 0) {
        blk = static_cast<unsigned char *>(zv::platform_calloc(size_t(size) + zv::kPrefix));
    } else {
        blk = static_cast<unsigned char *>(zvgetlst(list));
    }
    if (!blk) return nullptr;
    memcpy(blk, &size, sizeof size);
    return blk + zv::kPrefix;
}

ZV_API int32_t zvmemsiz(const void *p) {
    if (!p) return 0;
    int32_t size;
    memcpy(&size, static_cast<const unsigned char *>(p) - zv::kPrefix, sizeof size);
    return size;
}

ZV_API void zvputmem(void *p) {
    if (!p) return;
    unsigned char *blk = static_cast<unsigned char *>(p) - zv::kPrefix;
    int32_t size = zvmemsiz(p);
    if (size < 0) terr(7491);
    if (size == 0) terr(7497);
    int list = zv::list_of_size(size);
    if (list < 0) zv::platform_free(blk);
    else zvputlst(blk, list);
}

ZV_API void zvputmemn(void **pp) {
    if (!pp) return;
    void *p = *pp;
    *pp = nullptr;
    zvputmem(p);
}

// ---- Buffer routines --------------------------------------------------------

ZV_API void cpynbuf(char *dst, const char *src, int len) {
    if (!dst || len <= 0) return;
    if (!src) {
        memset(dst, 0, size_t(len));
        return;
    }
    strncpy(dst, src, size_t(len));
    dst[len - 1] = '\0';
}

ZV_API void cpylod(char **cursor, const void *src, int len) {
    if (!cursor || !*cursor || len <= 0) return;
    memmove(*cursor, src, size_t(len));
    *cursor += len;
}

ZV_API void cpysrc(void *dst, const char **cursor, int len) {
    if (!cursor || !*cursor || len <= 0) return;
    memmove(dst, *cursor, size_t(len));
    *cursor += len;
}

}  // extern "C"
