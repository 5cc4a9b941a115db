// Data page cache (see pagecache.h for the structures and invariants).
//
// A cached transfer (zvblock81) cuts a request into page pieces. Each piece
// finds its page through the hash table or loads it into the least recently
// used buffer, after writing that buffer back when it is dirty. Whole pages
// between the first and the last piece of a long request bypass the cache
// ("runs"): a run write is one platform write that drops the cached copies
// of its pages; a run read takes cached pages from the cache (they may be
// newer than the disk) and reads the stretches between them directly.
//
// What a process killed at any moment leaves in the file:
//  - No hole. A write that starts past the bytes the file has written (a
//    victim above dirty pages not yet written, a direct write past the end)
//    first writes back the dirty pages below it, lowest first, and 0xFF
//    over any stretch no page holds (pagecache_close_gap), so the file only
//    grows from its end (a stretch longer than the cache and a margin,
//    which only an offset set far past the end makes, is left as it is).
//    The highest written offset of the FCB, raised by
//    every write by what reached the file, tells where that end is; only a
//    write that starts past it costs anything more.
//  - No record torn between two writes. A dirty page goes to the file with
//    the run of dirty pages next to it (those below written whole, then up
//    while each is written whole), copied into the stage and written one
//    stage at a time, the stages of a run one right after the other. A
//    write into several pages takes all of them before it puts a byte in
//    any, so that making room never writes back part of it. In force-to-
//    disk mode, and when the middle of a write went straight to the file,
//    the write's first and last pages follow at the end of the call.
//  What remains: a record that a write carries can still be torn by a
//  kill during that write. The system may end a buffered write early at a
//  4096-byte boundary of the file once the kill is pending, and a run
//  longer than the stage, or a write whose middle bypasses the cache, is
//  several system calls in a row.
//
// A share of the cache can be dedicated to files with a quota: their pages
// leave the LRU list and are never taken as victims.
#include "engine/core/pagecache.h"

#include <cstring>
#include <initializer_list>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/filerules.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/core/fcb.h"

namespace zv {

namespace {

constexpr uint32_t kFree = 0xFFFFFFFFu;

inline PageCacheState &pcs() { return zvWNGV->pc; }
inline PAGEBUF *all_pages() { return static_cast<PAGEBUF *>(zvWNGV->datpagelist); }

inline bool is_free(const PAGEBUF *b) { return b->offh == kFree && b->offl == kFree; }
inline bool in_lru(const PAGEBUF *b) { return b->lru.next != nullptr; }

inline void link_unlink(PAGELINK *l) {
    if (!l->next) return;
    l->prev->next = l->next;
    l->next->prev = l->prev;
    l->next = l->prev = nullptr;
}

inline void link_front(PAGELINK *l, PAGELINK *head) {
    l->prev = head;
    l->next = head->next;
    head->next->prev = l;
    head->next = l;
}

inline void link_back(PAGELINK *l, PAGELINK *head) {
    l->next = head;
    l->prev = head->prev;
    head->prev->next = l;
    head->prev = l;
}

inline uint32_t bucket_of(int32_t filno, uint32_t lo) {
    INSTGV *g = zvWNGV;
    return ((lo >> g->pageshift) + static_cast<uint32_t>(filno)) % g->dathashsize;
}

// The FCB whose file number keys the pages of `f`: the superfile host for a
// member, also for an index member of a member index (two steps up).
inline FCB *page_owner(FCB *f) { return physical_fcb(f); }

inline bool wide_offsets(const FCB *f) { return (f->hdr.base.hdrflags & kHdr8ByteOffsets) != 0; }

inline PAGEBUF **lookaside_of(INSTGV *g, int32_t filno, uint32_t hi, uint32_t lo) {
    uint32_t h = (lo >> g->pageshift) + uint32_t(filno) * 0x9E3779B9u + hi * 0x85EBCA6Bu;
    return &g->datlook[h & g->datlookmask];
}

// Finds a cached page without touching the LRU order or the statistics:
// first the lookaside slot, checked against the page's file and offset,
// then the hash chain, whose find the slot remembers.
PAGEBUF *find(int32_t filno, uint32_t hi, uint32_t lo) {
    INSTGV *g = zvWNGV;
    PAGEBUF **slot = lookaside_of(g, filno, hi, lo);
    PAGEBUF *b = *slot;
    if (b && b->offl == lo && b->filno == filno && b->offh == hi) return b;
    PAGELINK *head = &g->dathash[bucket_of(filno, lo)];
    for (PAGELINK *l = head->next; l != head; l = l->next) {
        b = l->owner;
        if (b->offl == lo && b->filno == filno && b->offh == hi) {
            *slot = b;
            return b;
        }
    }
    return nullptr;
}

void lru_to_back(PAGEBUF *b) {
    link_unlink(&b->lru);
    link_back(&b->lru, &zvWNGV->datlru);
}

// Dedication rule for a page found in the cache.
void dedicate_on_hit(PAGEBUF *b, FCB *f) {
    PageCacheState &pc = pcs();
    int32_t q = f->dedquota, u = f->dedcount;
    if (q == 0) {
        if (!in_lru(b)) {  // a dedicated page of a file whose quota went away
            f->dedcount--;
            pc.dedused--;
        }
        lru_to_back(b);
        return;
    }
    if (q > u && pc.dedused < pc.dedtotal) {
        if (in_lru(b)) {
            link_unlink(&b->lru);
            f->dedcount++;
            if (++pc.dedused > pc.dedhigh) pc.dedhigh = pc.dedused;
        }
    } else if (q >= u && pc.dedused <= pc.dedtotal) {
        if (in_lru(b)) lru_to_back(b);
    } else {
        if (!in_lru(b)) {  // over quota: only a dedicated page is given back
            f->dedcount--;
            pc.dedused--;
        }
        lru_to_back(b);
    }
}

// Dedication rule for a victim that takes a new page of `f`.
void dedicate_on_miss(PAGEBUF *b, FCB *f) {
    PageCacheState &pc = pcs();
    if (f->dedquota > f->dedcount && pc.dedused < pc.dedtotal) {
        link_unlink(&b->lru);
        f->dedcount++;
        if (++pc.dedused > pc.dedhigh) pc.dedhigh = pc.dedused;
    } else {
        lru_to_back(b);
    }
}

// True when the page starting at (hi, lo) lies wholly past the highest
// offset ever written to the file, so that it holds no file bytes yet.
bool beyond_written(const FCB *f, uint32_t hi, uint32_t lo) {
    return join64(hi, lo) > join64(f->hwoffh, f->hwoffl);
}

// The bytes of a dirty page that go to the file: the whole page, or only
// its valid bytes when the page reaches the file's logical end.
int32_t write_length(const PAGEBUF *b) {
    const int32_t ps = pcs().pagesize;
    const FCB *f = b->fcb;
    uint64_t logical_end = join64(f->hdr.ext.numrech, f->hdr.base.numrec) + 1;
    if (wide_offsets(f)) {
        if (join64(b->offh, b->offl) + uint64_t(ps) >= logical_end) return b->valid;
    } else if (uint64_t(b->offl) + uint64_t(ps) >= uint64_t(uint32_t(logical_end))) {
        return b->valid;
    }
    return ps;
}

int write_failed(FCB *f, int rc) {
    zvrcvlog("FAILED IO: zvwrtbuf...", kLogSingleTry - rc);
    zvrcvlog(f->name, kLogSingleTry - rc);
    return set_uerr(rc);
}

// Writes the run of neighbouring dirty pages of `f` that starts at `low`
// (every page but the last written whole), a stage full at a time: one
// platform write per stage, one after the other, lowest first. A record
// that crosses from one page of the run into the next thus reaches the
// file in one write (or, in a run longer than the stage, in writes that
// follow each other at once), never one page now and the next at a later
// write-back. A run past the bytes already written first closes the gap
// below it, before the stage is filled (closing it may write other runs).
int write_run(FCB *f, uint64_t low) {
    PageCacheState &pc = pcs();
    const int32_t ps = pc.pagesize;
    if (low > join64(f->hwoffh, f->hwoffl) + 1) {
        if (int rc = pagecache_close_gap(f, low)) return write_failed(f, rc);
    }
    uint64_t at = low;
    for (bool more = true; more;) {
        pc.staging = 1;
        int32_t n = 0, bytes = 0;
        more = false;
        for (;;) {
            PAGEBUF *b = find(f->filno, uint32_t(at >> 32), uint32_t(at));
            if (!b || !b->dirty) break;
            const int32_t len = write_length(b);
            // An enciphered file puts a write that ends inside a cipher unit
            // through a read of every unit it covers: a short last page goes
            // on its own, right after the rest of the run.
            if (len != ps && n > 0 && f->cipherclass >= 2) {
                more = true;
                break;
            }
            memcpy(pc.stage + bytes, b->data, size_t(len));
            pc.stagebufs[n++] = b;
            bytes += len;
            at += uint64_t(ps);
            if (len != ps) break;
            if (n == pc.stagepages) {
                more = true;
                break;
            }
        }
        const uint64_t from = at - uint64_t(n) * uint64_t(ps);
        int32_t moved = 0;
        int rc = n ? direct_io(1, f, uint32_t(from >> 32), uint32_t(from), pc.stage, bytes, &moved) : 0;
        pc.staging = 0;
        if (rc) return write_failed(f, rc);
        for (int32_t i = 0; i < n; i++) pc.stagebufs[i]->dirty = 0;
    }
    return 0;
}

// The least recently used page of the LRU list that is not dirty (a free
// buffer among them), or null when every page there is dirty.
PAGEBUF *clean_victim() {
    PAGELINK *head = &zvWNGV->datlru;
    for (PAGELINK *l = head->next; l != head; l = l->next) {
        if (!l->owner->dirty) return l->owner;
    }
    return nullptr;
}

// Finds or loads a page. `f` is the page owner (host for a member). For a
// write of a whole page nothing is read. Returns null with uerr_cod set when
// a dirty victim cannot be written (for a read: when no clean page can be
// taken instead either) or the page cannot be read.
PAGEBUF *get_page(FCB *f, uint32_t hi, uint32_t lo, int opcode, int32_t want, bool tally = true) {
    INSTGV *g = zvWNGV;
    PageCacheState &pc = g->pc;
    int32_t filno = f->filno;
    if (hi == kFree && lo == kFree) terr(9773);
    if (PAGEBUF *b = find(filno, hi, lo)) {
        dedicate_on_hit(b, f);
        if (opcode == kPageLookup || !tally) return b;
        pc.requests++;
        pc.hits++;
        return b;
    }
    if (opcode == kPageLookup) return nullptr;
    if (tally) pc.requests++;
    PAGEBUF *v = g->datlru.next->owner;  // the LRU list is never empty
    if (v->dirty && zvwrtbuf(v, 1) != 0) {
        // The victim cannot be written (a full disk): it stays dirty for a
        // later write-back, and a read takes the least recently used clean
        // page instead, which costs no write. A write needs the victim's
        // room: it fails with the write-back's code (sysiocod kept).
        if (opcode != kPageRead || !(v = clean_victim())) return nullptr;
        set_uerr(0);
    }
    bool was_free = is_free(v);
    link_unlink(&v->hash);
    v->filno = filno;
    v->offh = hi;
    v->offl = lo;
    v->fcb = f;
    v->valid = 0;
    v->dirty = 0;
    if (was_free && ++pc.usedbufs > pc.usedhigh) pc.usedhigh = pc.usedbufs;
    link_front(&v->hash, &g->dathash[bucket_of(filno, lo)]);
    *lookaside_of(g, filno, hi, lo) = v;
    dedicate_on_miss(v, f);

    if (opcode == kPageWrite) {
        if (want == pc.pagesize) return v;  // overwritten whole: nothing to read
        if (!pc.forceread_recovery && !pc.forceread_rebuild && beyond_written(f, hi, lo)) {
            memset(v->data, 0xFF, size_t(pc.pagesize));
            return v;
        }
    }
    int32_t got = 0;
    g->ioopts |= 4;
    int rc = direct_io(0, f, hi, lo, v->data, pc.pagesize, &got);
    g->ioopts &= ~4u;
    // Only the end of the file makes a short page; a read that failed must
    // not leave a page of 0xFF that a later write-back would put over the
    // records it could not read.
    if (rc != 0 && !read_at_end(rc)) {
        clrpag(v);
        set_uerr(rc);
        return nullptr;
    }
    if (rc == 36) set_uerr(0);
    v->valid = got;
    if (got < pc.pagesize) memset(v->data + got, 0xFF, size_t(pc.pagesize - got));
    return v;
}

// Drops the cached copies of n whole pages starting at `off`, after a run
// write over them. When the write failed, dirty pages are kept: they hold
// bytes the disk may not have, and the failed write did not replace them.
void drop_pages(FCB *f, uint64_t off, int32_t n, bool ok) {
    int32_t ps = pcs().pagesize;
    for (int32_t i = 0; i < n; i++) {
        uint64_t at = off + uint64_t(i) * uint64_t(ps);
        PAGEBUF *b = find(f->filno, uint32_t(at >> 32), uint32_t(at));
        if (b && (ok || !b->dirty)) clrpag(b);
    }
}

// The whole pages in the middle of a write over several pages, which go
// to the file without a stay in the cache.
struct Middle {
    uint64_t at = 0;
    const unsigned char *bytes = nullptr;
    int32_t pages = 0;
};
constexpr uint64_t kNoPage = ~uint64_t(0);

// Writes a write over several pages whose middle bypasses the cache: its
// first page (cached), the middle (from the caller) and its last page
// (cached, kNoPage when the write ends on a page boundary) in one platform
// write through the stage, so that a process ended at any write leaves the
// bytes of the call all in the file or none. A span longer than the stage
// (or whose short last page an enciphered file takes on its own) goes in
// writes lowest first, one after the other. The middle's cached pages are
// dropped: the file now holds newer bytes.
int write_spread(FCB *f, uint64_t first, const Middle &mid, uint64_t last, int32_t *count) {
    PageCacheState &pc = pcs();
    const int32_t ps = pc.pagesize;
    const int32_t midbytes = mid.pages * ps;
    PAGEBUF *head = find(f->filno, uint32_t(first >> 32), uint32_t(first));
    PAGEBUF *tail = last == kNoPage ? nullptr : find(f->filno, uint32_t(last >> 32), uint32_t(last));
    const int32_t taillen = tail ? write_length(tail) : 0;
    const int64_t total = int64_t(ps) + midbytes + taillen;
    const bool whole = head && head->dirty && write_length(head) == ps && (!tail || tail->dirty) &&
                       !pc.staging && total <= int64_t(pc.stagepages) * ps &&
                       (!tail || taillen == ps || f->cipherclass < 2);
    if (whole) {
        if (first > join64(f->hwoffh, f->hwoffl) + 1) {
            if (int rc = pagecache_close_gap(f, first)) return write_failed(f, rc);
        }
        pc.staging = 1;
        memcpy(pc.stage, head->data, size_t(ps));
        memcpy(pc.stage + ps, mid.bytes, size_t(midbytes));
        if (tail) memcpy(pc.stage + ps + midbytes, tail->data, size_t(taillen));
        int32_t moved = 0;
        int rc = direct_io(1, f, uint32_t(first >> 32), uint32_t(first), pc.stage, int32_t(total), &moved);
        pc.staging = 0;
        drop_pages(f, mid.at, mid.pages, rc == 0);
        if (rc) return write_failed(f, rc);
        *count += midbytes;
        head->dirty = 0;
        if (tail) tail->dirty = 0;
        return zvWNGV->uerr_cod;
    }
    // Lowest first: the first page (with the dirty runs around it), the
    // middle, the last page.
    if (head && head->dirty) {
        if (int rc = zvwrtbuf(head, 2)) return rc;
    }
    int32_t moved = 0;
    int rc = direct_io(1, f, uint32_t(mid.at >> 32), uint32_t(mid.at), const_cast<unsigned char *>(mid.bytes),
                       midbytes, &moved);
    *count += moved;
    drop_pages(f, mid.at, mid.pages, rc == 0);
    if (rc) return set_uerr(rc);
    if (tail && tail->dirty) {
        if (int r = zvwrtbuf(tail, 2)) return r;
    }
    return zvWNGV->uerr_cod;
}

// Reads n whole pages starting at `off` into `buf`: cached pages come from
// the cache, the stretches between them straight from the file.
int run_read(FCB *f, uint64_t off, int32_t n, unsigned char *buf, int32_t *count) {
    int32_t ps = pcs().pagesize;
    int32_t start = 0;
    auto read_stretch = [&](int32_t from, int32_t to) -> int {
        if (to <= from) return 0;
        uint64_t at = off + uint64_t(from) * uint64_t(ps);
        int32_t got = 0;
        int rc = direct_io(0, f, uint32_t(at >> 32), uint32_t(at), buf + size_t(from) * size_t(ps),
                           (to - from) * ps, &got);
        *count += got;
        return rc;
    };
    for (int32_t i = 0; i < n; i++) {
        uint64_t at = off + uint64_t(i) * uint64_t(ps);
        PAGEBUF *b = find(f->filno, uint32_t(at >> 32), uint32_t(at));
        if (!b) continue;
        if (int rc = read_stretch(start, i)) return set_uerr(rc);
        memcpy(buf + size_t(i) * size_t(ps), b->data, size_t(b->valid));
        *count += b->valid;
        if (b->valid < ps) {
            zvWNGV->sysiocod = 0;  // the page ends where the file ends
            return set_uerr(36);
        }
        start = i + 1;
    }
    if (int rc = read_stretch(start, n)) return set_uerr(rc);
    return 0;
}

// Copies one piece between the caller and its page. For a read whose page
// ends inside the piece, copies what is valid and returns 36.
int piece(FCB *f, int op, int wt, uint64_t at, unsigned char *buf, int32_t len, int32_t *count,
          bool tally = true) {
    int32_t ps = pcs().pagesize;
    uint64_t pagestart = at / uint64_t(ps) * uint64_t(ps);
    int32_t inpage = int32_t(at - pagestart);
    PAGEBUF *b = get_page(f, uint32_t(pagestart >> 32), uint32_t(pagestart), op, len, tally);
    if (!b) return zvWNGV->uerr_cod ? zvWNGV->uerr_cod : set_uerr(10);
    if (op == kPageRead && b->valid < inpage + len) {
        int32_t cut = b->valid - inpage;
        if (cut < 0) cut = 0;
        if (cut) memcpy(buf, b->data + inpage, size_t(cut));
        *count += cut;
        zvWNGV->sysiocod = 0;  // the page ends where the file ends
        return set_uerr(36);
    }
    *count += len;
    updbuf(op, wt, b, inpage, len, buf);
    return zvWNGV->uerr_cod;
}

}  // namespace

void pagelist_init(PAGELINK *head) {
    head->next = head->prev = head;
    head->owner = nullptr;
}

int pagecache_init() {
    INSTGV *g = zvWNGV;
    PageCacheState &pc = g->pc;
    pc.pagesize = g->nodesize;
    for (PAGEBUF *b = all_pages(); b; b = b->next) {
        b->filno = -1;
        b->fcb = nullptr;
        b->valid = b->dirty = 0;
        b->hash.next = b->hash.prev = nullptr;
    }
    pc.usedbufs = pc.usedhigh = 0;
    pc.requests = pc.hits = 0;
    pc.dedused = pc.dedhigh = 0;
    pc.dedtotal = g->specialpages;
    return 0;
}

void pagecache_direct_written(FCB *fcb, uint32_t hi, uint32_t lo, const void *buf, int32_t len,
                              bool ok) {
    INSTGV *g = zvWNGV;
    if (!g || !g->datpagelist || g->pc.usedbufs == 0 || len <= 0) return;
    FCB *f = page_owner(fcb);
    int32_t ps = g->pc.pagesize;
    uint64_t start = join64(hi, lo), end = start + uint64_t(len);
    const unsigned char *src = static_cast<const unsigned char *>(buf);
    for (uint64_t p = start / uint64_t(ps) * uint64_t(ps); p < end; p += uint64_t(ps)) {
        PAGEBUF *b = find(f->filno, uint32_t(p >> 32), uint32_t(p));
        if (!b) continue;
        if (!ok) {
            if (!b->dirty) clrpag(b);
            continue;
        }
        uint64_t from = p > start ? p : start;
        uint64_t to = p + uint64_t(ps) < end ? p + uint64_t(ps) : end;
        memcpy(b->data + (from - p), src + (from - start), size_t(to - from));
        if (int32_t(to - p) > b->valid) b->valid = int32_t(to - p);
    }
}

int pagecache_close_gap(FCB *f, uint64_t at) {
    INSTGV *g = zvWNGV;
    const uint64_t ps = uint64_t(g->pc.pagesize);
    unsigned char local[512];
    unsigned char *fill = g->fillbuf;
    uint64_t fillsize = g->fillsize;
    if (!fill || fillsize == 0) {
        memset(local, 0xFF, sizeof local);
        fill = local;
        fillsize = sizeof local;
    }
    // The gap is rare: before anything is put into it, the file's real size
    // (one system call) makes sure the stretch lies past every byte the
    // file holds, whatever opened it.
    if (int rc = raise_written_end(f)) return rc;
    // A stretch longer than the whole cache and a margin was mostly never
    // written through it (an offset set far past the end): it is left to
    // the file system as it is, rather than a write of that length.
    const uint64_t bound = uint64_t(g->dbufs) * ps + kGapFillMargin;
    if (at > join64(f->hwoffh, f->hwoffl) + 1 + bound) return 0;
    for (;;) {
        const uint64_t end = join64(f->hwoffh, f->hwoffl) + 1;  // first byte not written
        if (end >= at) return 0;
        const uint64_t page = end / ps * ps;
        PAGEBUF *b = g->pc.usedbufs ? find(f->filno, uint32_t(page >> 32), uint32_t(page)) : nullptr;
        if (b && b->dirty) {
            if (int rc = zvwrtbuf(b, 4)) return rc;
            if (join64(f->hwoffh, f->hwoffl) + 1 > end) continue;
        }
        // Nothing cached to write here (or the page's bytes stop short of
        // the stretch): the fill up to the next page, or to `at`.
        uint64_t to = page + ps < at ? page + ps : at;
        uint64_t n = to - end < fillsize ? to - end : fillsize;
        int32_t moved = 0;
        int rc = direct_io(1, f, uint32_t(end >> 32), uint32_t(end), fill, int32_t(n), &moved);
        pagecache_direct_written(f, uint32_t(end >> 32), uint32_t(end), fill, moved, true);
        if (rc) return rc;
    }
}

void pagecache_prefetch(FCB *fcb, uint64_t at, int32_t len) {
    INSTGV *g = zvWNGV;
    if (!g || !g->datpagelist || g->pc.usedbufs == 0 || g->pc.pagesize <= 0) return;
    const int32_t ps = g->pc.pagesize;
    const uint64_t pagestart = at / uint64_t(ps) * uint64_t(ps);
    const PAGEBUF *b = find(page_owner(fcb)->filno, uint32_t(pagestart >> 32), uint32_t(pagestart));
    if (!b) return;
    const int32_t from = int32_t(at - pagestart);
    const int32_t to = len < ps - from ? from + len : ps;
    for (int32_t off = from & ~63; off < to; off += 64) __builtin_prefetch(b->data + off);
}

int32_t pagecache_direct_read(FCB *fcb, uint32_t hi, uint32_t lo, void *buf, int32_t len,
                              int32_t got) {
    INSTGV *g = zvWNGV;
    if (!g || !g->datpagelist || g->pc.usedbufs == 0 || len <= 0) return got;
    FCB *f = page_owner(fcb);
    int32_t ps = g->pc.pagesize;
    uint64_t start = join64(hi, lo), end = start + uint64_t(len);
    uint64_t covered = start + uint64_t(got < 0 ? 0 : got);  // delivered up to here
    unsigned char *dst = static_cast<unsigned char *>(buf);
    for (uint64_t p = start / uint64_t(ps) * uint64_t(ps); p < end; p += uint64_t(ps)) {
        PAGEBUF *b = find(f->filno, uint32_t(p >> 32), uint32_t(p));
        if (!b || !b->dirty) continue;
        uint64_t from = p > start ? p : start;
        uint64_t vend = p + uint64_t(b->valid);
        uint64_t to = vend < end ? vend : end;
        if (to <= from) continue;
        memcpy(dst + (from - start), b->data + (from - p), size_t(to - from));
        if (from <= covered && to > covered) covered = to;
    }
    return int32_t(covered - start);
}

int pagecache_write_back(FCB *fcb, uint64_t at, uint64_t len) {
    INSTGV *g = zvWNGV;
    if (!g || !fcb || !g->datpagelist || len == 0) return 0;
    FCB *f = page_owner(fcb);
    const uint64_t ps = uint64_t(g->pc.pagesize);
    int first = 0;
    for (uint64_t page = at / ps * ps; page < at + len; page += ps) {
        PAGEBUF *b = find(f->filno, uint32_t(page >> 32), uint32_t(page));
        if (!b || !b->dirty) continue;
        if (int rc = zvwrtbuf(b, 3); rc && !first) first = rc;
    }
    return first;
}

int pagecache_lru_count() {
    int n = 0;
    PAGELINK *head = &zvWNGV->datlru;
    for (PAGELINK *l = head->next; l != head; l = l->next) n++;
    return n;
}

int pagecache_check() {
    INSTGV *g = zvWNGV;
    PageCacheState &pc = g->pc;
    int32_t used = 0, dedicated = 0;
    for (PAGEBUF *b = all_pages(); b; b = b->next) {
        if (is_free(b)) {
            if (b->hash.next || !in_lru(b) || b->dirty) return 1;
            continue;
        }
        used++;
        if (!b->hash.next || find(b->filno, b->offh, b->offl) != b) return 2;
        if (!in_lru(b)) dedicated++;
        if (b->valid < 0 || b->valid > pc.pagesize) return 3;
    }
    if (used != pc.usedbufs) return 4;
    if (dedicated != pc.dedused) return 5;
    int lru = 0;
    for (PAGELINK *l = g->datlru.next; l != &g->datlru; l = l->next) {
        if (l->next->prev != l) return 6;
        lru++;
    }
    int total = 0;
    for (PAGEBUF *b = all_pages(); b; b = b->next) total++;
    if (lru + dedicated != total) return 7;
    return 0;
}

}  // namespace zv

using namespace zv;

extern "C" {

int zvblock81(int opcode, FCB *fcb, uint32_t hi, uint32_t lo, void *buf, int32_t len, int32_t *count) {
    INSTGV *g = zvWNGV;
    int32_t local = 0;
    if (!count) count = &local;
    *count = 0;
    if (!fcb) return set_uerr(61);
    FCB *f = page_owner(fcb);
    int op = (opcode & ~0x20) + 16;
    bool through = (f->hdr.base.flmode & 64) || (f->stflags & kStForceDisk);
    int wt = through ? (opcode | 0x20) : opcode;
    if (!g->datpagelist) return direct_io(op & 1, f, hi, lo, buf, len, count);
    set_uerr(0);
    if (len <= 0) return 0;
    if (!wide_offsets(f) && (hi != 0 || uint64_t(lo) + uint64_t(len) - 1 > 0xFFFFFFFFull))
        return set_uerr(op == kPageWrite ? 39 : 36);

    PageCacheState &pc = g->pc;
    int32_t ps = pc.pagesize;
    uint64_t at = join64(hi, lo);
    unsigned char *p = static_cast<unsigned char *>(buf);
    int32_t remaining = len;
    int32_t pagesdone = 0;
    // A write over several pages first takes every page it puts bytes in
    // (the first is taken by its piece): a victim written back to make room
    // then never carries some of this write's bytes without the rest.
    uint64_t firstpage = 0, lastpage = 0;
    if (op == kPageWrite) {
        firstpage = at / uint64_t(ps) * uint64_t(ps);
        lastpage = (at + uint64_t(len) - 1) / uint64_t(ps) * uint64_t(ps);
    }
    const bool spread = lastpage != firstpage;
    if (spread) {
        uint64_t a = at;
        int32_t left = len, done = 0;
        for (bool first = true; left > 0; first = false) {
            int32_t n = ps - int32_t(a % uint64_t(ps));
            if (n > left) n = left;
            if (!first) {
                uint64_t page = a / uint64_t(ps) * uint64_t(ps);
                if (!get_page(f, uint32_t(page >> 32), uint32_t(page), op, n))
                    return g->uerr_cod ? g->uerr_cod : set_uerr(10);
            }
            a += uint64_t(n);
            left -= n;
            if (left < ps) continue;  // the tail next, if any
            if (done++ >= pc.runthreshold) {
                a += uint64_t(left / ps) * uint64_t(ps);
                left -= left / ps * ps;
            }
        }
    }
    // In force-to-disk mode the pages go to the file once the whole write is
    // in them, together where they are neighbours.
    const int pieceop = op == kPageWrite ? opcode & ~0x20 : wt;
    Middle mid;
    for (bool first = true; remaining > 0; first = false) {
        int32_t inpage = int32_t(at % uint64_t(ps));
        int32_t n = ps - inpage < remaining ? ps - inpage : remaining;
        if (int rc = piece(f, op, pieceop, at, p, n, count, first || !spread)) return rc;
        at += uint64_t(n);
        p += n;
        remaining -= n;
        if (remaining < ps) break;  // the tail, if any
        if (pagesdone >= pc.runthreshold) {
            int32_t pages = remaining / ps;
            int32_t bytes = pages * ps;
            if (op == kPageWrite) {
                // The whole pages in the middle go straight to the file,
                // with the first and last page, once the last is in.
                mid = {at, p, pages};
            } else if (int rc = run_read(f, at, pages, p, count)) {
                return rc;
            }
            at += uint64_t(bytes);
            p += bytes;
            remaining -= bytes;
            break;
        }
        pagesdone++;
    }
    if (remaining > 0) {
        if (int rc = piece(f, op, pieceop, at, p, remaining, count, !spread)) return rc;
    }
    if (mid.pages) {
        const uint64_t tail = mid.at + uint64_t(mid.pages) * uint64_t(ps);
        return write_spread(f, firstpage, mid, remaining > 0 ? tail : kNoPage, count);
    }
    // Every page of a write in force-to-disk mode follows it at once.
    if (op == kPageWrite && wt == kWriteThrough) {
        for (uint64_t page : {firstpage, lastpage}) {
            PAGEBUF *b = find(f->filno, uint32_t(page >> 32), uint32_t(page));
            if (b && b->dirty) {
                if (int rc = zvwrtbuf(b, 2)) return rc;
            }
        }
    }
    return g->uerr_cod;
}

PAGEBUF *zvgetpag81(int filno, uint32_t hi, uint32_t lo, int opcode, int32_t *want) {
    INSTGV *g = zvWNGV;
    if (!g || !g->datpagelist || filno < 0 || filno > g->filecount || !g->fcbtab[filno]) return nullptr;
    FCB *f = page_owner(g->fcbtab[filno]);
    PAGEBUF *b = get_page(f, hi, lo, opcode, want ? *want : 0);
    if (b && want && opcode == kPageRead && *want > b->valid) *want = b->valid;
    return b;
}

void updbuf(int opcode, int wt, PAGEBUF *buf, int32_t offset, int32_t len, void *bytes) {
    if (!buf) return;
    if (opcode == kPageWrite) {
        if (buf->valid == 0) memset(buf->data, 0xFF, size_t(pcs().pagesize));
        memcpy(buf->data + offset, bytes, size_t(len));
        if (offset + len > buf->valid) buf->valid = offset + len;
        buf->dirty = 1;
        if (wt == kWriteThrough) zvwrtbuf(buf, 2);
    } else if (len) {
        memcpy(bytes, buf->data + offset, size_t(len));
    }
}

int zvwrtbuf(PAGEBUF *buf, int) {
    if (!buf->dirty) return 0;
    PageCacheState &pc = pcs();
    FCB *f = buf->fcb;
    const int32_t ps = pc.pagesize;
    const uint64_t at = join64(buf->offh, buf->offl);
    // The run of dirty pages around this one: the pages below it that are
    // written whole, then up from it while each page is written whole.
    uint64_t low = at;
    bool alone = true;
    // An enciphered file takes runs only of whole cipher units: a write that
    // does not cover whole units is a read of the units it covers first.
    const bool units = f->cipherclass < 2 || ps % int32_t(kCipherUnit) == 0;
    if (pc.stagepages >= 2 && !pc.staging && units) {
        while (low >= uint64_t(ps)) {
            PAGEBUF *b = find(f->filno, uint32_t((low - ps) >> 32), uint32_t(low - ps));
            if (!b || !b->dirty || write_length(b) != ps) break;
            low -= uint64_t(ps);
        }
        if (low < at) {
            alone = false;
        } else if (write_length(buf) == ps) {
            const uint64_t up = at + uint64_t(ps);
            const PAGEBUF *b = find(f->filno, uint32_t(up >> 32), uint32_t(up));
            alone = !b || !b->dirty;
        }
    }
    if (alone) {
        int32_t moved = 0;
        int rc = direct_io(1, f, buf->offh, buf->offl, buf->data, write_length(buf), &moved);
        if (rc == 0) {
            buf->dirty = 0;
            return 0;
        }
        return write_failed(f, rc);
    }
    return write_run(f, low);
}

void zvputdsh(PAGEBUF *buf, int list, int where) {
    if (list == 3) {
        link_unlink(&buf->hash);
        if (is_free(buf)) return;
        PAGELINK *head = &zvWNGV->dathash[bucket_of(buf->filno, buf->offl)];
        if (where) link_front(&buf->hash, head);
        else link_back(&buf->hash, head);
    } else if (list == 1) {
        link_unlink(&buf->lru);
        if (where == 1) link_front(&buf->lru, &zvWNGV->datlru);
        else if (where == 0) link_back(&buf->lru, &zvWNGV->datlru);
    }
}

void clrpag(PAGEBUF *buf) {
    PageCacheState &pc = pcs();
    if (!is_free(buf)) pc.usedbufs--;
    if (!in_lru(buf) && buf->fcb) {
        buf->fcb->dedcount--;
        pc.dedused--;
    }
    buf->offh = buf->offl = kFree;
    buf->filno = -1;
    buf->dirty = 0;
    buf->valid = 0;
    link_unlink(&buf->hash);
    link_unlink(&buf->lru);
    link_front(&buf->lru, &zvWNGV->datlru);
    buf->fcb = nullptr;
}

ZV_API int zvflushd(FCB *fcb, int purge) {
    INSTGV *g = zvWNGV;
    if (!g || !fcb) return 0;
    if (fcb_is_memory(fcb) || fcb->state == 's') return 0;
    FCB *f = page_owner(fcb);
    if (!g->datpagelist) return 0;
    if (purge == -1) purge = 0;
    int first = 0;
    for (PAGEBUF *b = all_pages(); b; b = b->next) {
        if (is_free(b) || b->filno != f->filno) continue;
        if (b->dirty) {
            int rc = zvwrtbuf(b, 3);
            if (rc && !first) first = rc;
        }
        if (purge) clrpag(b);
    }
    if (first) set_uerr(first);
    return first;
}

ZV_API int zvsplflush(FCB *fcb, int action) {
    INSTGV *g = zvWNGV;
    if (!g || !fcb) return 0;
    PageCacheState &pc = g->pc;
    if (fcb->dedquota > 0 && fcb->dedcount > 0) {
        for (PAGEBUF *b = all_pages(); b; b = b->next) {
            if (is_free(b) || b->fcb != fcb || in_lru(b)) continue;
            link_front(&b->lru, &g->datlru);
            fcb->dedcount--;
            pc.dedused--;
        }
        if (action == 35) fcb->dedquota = 0;
    } else if (fcb->dedquota > 0) {
        if (action == 35) fcb->dedquota = 0;
    } else if (action == 36) {
        fcb->dedquota = zvsplche(fcb);
    }
    set_uerr(0);
    return 0;
}

}  // extern "C"
