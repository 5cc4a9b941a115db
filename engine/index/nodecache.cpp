// The node cache: every index node the engine reads or changes passes
// through a NODEBUF of the instance's fixed set of buffers.
//
// A bound buffer sits in the hash bucket ((position low >> sectshift) + file
// number) mod idxhashsize, at the front of its chain (a lookaside of recent
// finds, checked before use, spares most lookups the walk of the chain), and in the one LRU
// list of the instance: a touched buffer moves to the tail, an unbound one
// to the head, and a buffer for another node is taken from the head side
// (lrubuf81). Nodes move between disk and buffer only through the central
// I/O routine's direct road.
//
// Invariants:
//  1. A node is bound to at most one buffer.
//  2. A buffer whose write-back failed stays bound and updated; lrubuf81
//     passes it by, so the node is written by a later write-back or flush.
//     Its code is kept in idx.wbfailed, so that a record call in progress
//     can undo itself and report the failure instead of half-finishing a
//     split.
//  3. Pinned buffers (an operation holds them across another node request)
//     are never taken by lrubuf81.
//  4. Nodes read from disk are checked before use: member byte, leaf flag,
//     bytes used within the capacity and, uncompressed, bytes used equal to
//     the element count times the element size.
//  5. At most one node is in the instance's spill image; it goes back to
//     its buffer's own image once it fits there again, at the latest when
//     another node needs the spill image or its buffer is unbound.
#include "engine/index/nodecache.h"

#include <cstdio>
#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/nodebuf.h"
#include "engine/core/startup.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/core/fcb.h"
#include "engine/files/memfile.h"
#include "engine/files/header.h"
#include "engine/index/idxstate.h"
#include "engine/index/index_services.h"
#include "engine/index/node.h"
#include "engine/index/nodeupdate.h"

namespace zv {

namespace {

void link_unlink(ListLink *n) {
    if (!n->next) return;
    n->prev->next = n->next;
    n->next->prev = n->prev;
    n->next = n->prev = nullptr;
}

void link_front(ListLink *h, ListLink *n) {
    n->prev = h;
    n->next = h->next;
    h->next->prev = n;
    h->next = n;
}

void link_back(ListLink *h, ListLink *n) {
    n->next = h;
    n->prev = h->prev;
    h->prev->next = n;
    h->prev = n;
}

inline ListLink *bucket_of(INSTGV *g, int32_t filno, uint32_t posl) {
    return &g->idxhash[((posl >> g->sectshift) + uint32_t(filno)) % g->idxhashsize];
}

inline NODEBUF **lookaside_of(INSTGV *g, int32_t filno, uint32_t posh, uint32_t posl) {
    uint32_t h = (posl >> g->sectshift) + uint32_t(filno) * 0x9E3779B9u + posh * 0x85EBCA6Bu;
    return &g->idxlook[h & g->idxlookmask];
}

// Node bytes moved by one read or write, and where they start.
inline int32_t io_length(const NODEBUF *b) { return int32_t(b->fcb->nodesize) + b->wraplen; }

void node_io_pos(const NODEBUF *b, uint32_t *hi, uint32_t *lo) {
    split64(join64(b->posh, b->posl) - b->wraplen, hi, lo);
}

// Checks a node just read; false when it cannot be a node of this index.
bool node_sane(const NODEBUF *b) {
    if (is_deleted(b)) return true;
    if (b->hdr.nkb > b->maxb) return false;
    if (b->hdr.leaf && b->hdr.nkv > b->maxkv) return false;
    if (!is_compressed(b) && int32_t(b->hdr.nkv) * b->esize != b->hdr.nkb) return false;
    if (is_compressed(b) && b->hdr.nkv > b->hdr.nkb) return false;
    return true;
}

void log_e69(const FCB *f, const NODEBUF *b) {
    const FCB *host = f->hostfcb ? f->hostfcb : f;
    char msg[200];
    snprintf(msg, sizeof msg,
             "E69: f#=%d km=%d bm=%d node=%xx predsr=%04x-%08xx sucesr=%04x-%08xx numrec=%04x-%08xx",
             int(f->filno), int(f->hdr.base.kmem), int(b->hdr.member), b->posl, b->hdr.predsrh, b->hdr.predsr,
             b->hdr.sucesrh, b->hdr.sucesr, host->hdr.ext.numrech, host->hdr.base.numrec);
    zvrcvlog(f->name, kLogSingleTry);
    zvrcvlog(msg, kLogSingleTry);
}

// Reads the node of a freshly bound buffer: 0, or the error with the buffer
// unbound again.
int read_node(NODEBUF *b, FCB *f, int mode) {
    bool hug = b->hug != 0;
    for (int attempt = 0;; attempt++) {
        uint32_t hi, lo;
        node_io_pos(b, &hi, &lo);
        int32_t got = 0;
        int rc = izvio81x(0x10, f, hi, lo, node_of(b) - b->wraplen, io_length(b), &got, 0);
        if (rc == 0 && got < io_length(b)) rc = set_uerr(36);
        if (rc) {
            zvclrhsh(b);
            return rc;
        }
        decode_nhdr(node_of(b), hug, &b->hdr);
        bool ok = b->hdr.member == f->hdr.base.kmem ||
                  (is_deleted(b) && !(b->hdr.sucesr == 0xFFFFFFFFu && b->hdr.sucesrh == 0xFFFFFFFFu));
        if (ok) break;
        if (attempt < 2) continue;
        if (!(mode & kNodQuiet)) log_e69(f, b);
        zvclrhsh(b);
        return set_uerr(69);
    }
    bool leafbyte_ok = b->hdr.leaf <= 1;
    zvnodcap(b, f, b->hdr.leaf);
    if (!leafbyte_ok || !node_sane(b)) {
        char msg[120];
        snprintf(msg, sizeof msg, "Invalid node header in index node=%04x-%08xx", b->posh, b->posl);
        zvclrhsh(b);
        return idx_corrupt(f, msg);
    }
    return 0;
}

// Refuses a node position outside the index's nodes: before the first node,
// or (unless switched off) beyond the logical end of the file.
int check_position(FCB *f, uint32_t posh, uint32_t posl) {
    INSTGV *g = zvWNGV;
    FCB *host = idx_host(f);
    uint16_t st = host->hdr.base.sfiltyp;
    if (st == 1 || idx_wrapped(f)) return 0;  // nodes of superfile members lie anywhere in the host
    uint64_t pos = join64(posh, posl);
    if (pos < begbytnod(f)) {
        char msg[120];
        snprintf(msg, sizeof msg, "Node position before the first node %04x-%08xx", posh, posl);
        return idx_corrupt(f, msg);
    }
    if (idx_state(g).options & kIdxOptNoEofTest) return 0;
    if ((host->hdr.base.flmode & 0x4008) == 0x4008) return 0;
    uint64_t used = join64(idx_hug(host) ? host->hdr.ext.numrech : 0, host->hdr.base.numrec);
    if (pos + f->nodesize - 1 > used) {
        zvrcvlog("node exceeds logical index EOF", 519);
        zvrcvlog(host->name, 519);
        return set_uerr(519);
    }
    return 0;
}

// The cached buffer of a node, or null: first the lookaside slot, checked
// against the buffer's file and position, then the hash chain, whose find
// the slot remembers.
NODEBUF *find_cached(INSTGV *g, const FCB *f, uint32_t posh, uint32_t posl) {
    const int32_t filno = f->filno;
    NODEBUF **slot = lookaside_of(g, filno, posh, posl);
    NODEBUF *c = *slot;
    if (c && c->posl == posl && c->filno == filno && c->posh == posh) return c;
    ListLink *h = bucket_of(g, filno, posl);
    for (ListLink *l = h->next; l != h; l = l->next) {
        c = nodelink_of(l)->owner;
        if (c->posl == posl && c->posh == posh && c->filno == filno) {
            *slot = c;
            return c;
        }
    }
    return nullptr;
}

// A memory file's node: the record at that position, when it is one.
NODEBUF *find_memory_node(FCB *f, uint32_t posh, uint32_t posl) {
    uint64_t rec = zvnodmemrec(f, posh, posl);
    return rec ? reinterpret_cast<NODEBUF *>(static_cast<uintptr_t>(rec)) : nullptr;
}

}  // namespace

int flush_file_nodes(FCB *fcb) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    FCB *host = fcb ? idx_host(fcb) : nullptr;
    int first = 0;
    for (auto *b = static_cast<NODEBUF *>(g->idxbuflist); b; b = b->next) {
        if (b->filno < 0 || b->updated != 'y' || !b->fcb) continue;
        if (host && b->fcb != host && b->fcb->hostfcb != host) continue;
        int rc = wrtnod(b);
        if (rc && !first) first = rc;
    }
    return first;
}

int write_file_nodes(FCB *host, int mode) {
    INSTGV *g = zvWNGV;
    if (!g || !host) return 0;
    if (host->hdr.base.updflg == 0 && !(mode & 0x10)) {
        // A changed node without the file marked changed: the file is not
        // trusted; it is marked for rebuild and its nodes are not written.
        for (auto *b = static_cast<NODEBUF *>(g->idxbuflist); b; b = b->next) {
            if (b->filno < 0 || b->updated != 'y' || !b->fcb) continue;
            if (b->fcb != host && b->fcb->hostfcb != host) continue;
            host->hdr.base.updflg = 'R';
            wrthdr(host);
            char msg[120];
            snprintf(msg, sizeof msg, "Error on close file. locale:%d  sysiocod:%d  uerr_cod", 13,
                     int(int16_t(g->sysiocod)));
            zvrcvlog(msg, 527);
            zvrcvlog(host->name, 527);
            return set_uerr(527);
        }
        return 0;
    }
    return flush_file_nodes(host);
}

}  // namespace zv

using namespace zv;

namespace {

constexpr uint32_t kMemNodeHead = uint32_t((sizeof(NODEBUF) + 7) / 8 * 8);

// Points the image and the pointers into it at `image`, which holds the
// same node bytes.
void rebase_image(NODEBUF *b, unsigned char *image) {
    const unsigned char *old = b->image;
    b->elems = image + (b->elems - old);
    if (b->ctl) b->ctl = image + (b->ctl - old);
    b->image = image;
}

}  // namespace

int spill_room(NODEBUF *b, int32_t growth) {
    INSTGV *g = zvWNGV;
    if (g->idxspilled == b) return 0;
    const int32_t node = int32_t(b->fcb->nodesize);
    if (b->hsize + b->hdr.nkb + growth <= node) return 0;
    if (g->idxspilled) spill_return(g->idxspilled);
    if (g->idxspilled || !g->idxspill || node > g->nodesize || growth > kNodeSlack)
        return idx_corrupt(b->fcb, "No room for a node beyond its end");
    memcpy(g->idxspill, b->image, size_t(kNodeWrap + node));
    g->idxspillhome = b->image;
    g->idxspilled = b;
    rebase_image(b, g->idxspill);
    return 0;
}

void spill_return(NODEBUF *b, bool force) {
    INSTGV *g = zvWNGV;
    if (!b || g->idxspilled != b) return;
    const int32_t node = int32_t(b->fcb->nodesize);
    if (!force && b->hsize + b->hdr.nkb > node) return;
    memcpy(g->idxspillhome, g->idxspill, size_t(kNodeWrap + node));
    rebase_image(b, g->idxspillhome);
    g->idxspilled = nullptr;
    g->idxspillhome = nullptr;
}

uint32_t memnode_size(const FCB *f) {
    return kMemNodeHead + uint32_t(kKeyRoom) + f->nodesize + uint32_t(kNodeWrap);
}

NODEBUF *memnode_init(const FCB *, uint64_t addr) {
    auto *b = reinterpret_cast<NODEBUF *>(static_cast<uintptr_t>(addr));
    memset(static_cast<void *>(b), 0, sizeof *b);
    b->exparea = reinterpret_cast<unsigned char *>(b) + kMemNodeHead;
    b->image = b->exparea + kKeyRoom;
    b->filno = -1;
    b->memrec = 1;
    return b;
}

void touch_node(NODEBUF *b) {
    INSTGV *g = zvWNGV;
    link_unlink(&b->lru.link);
    link_back(&g->idxlru, &b->lru.link);
}

void bind_node(NODEBUF *b, FCB *f, uint32_t posh, uint32_t posl) {
    INSTGV *g = zvWNGV;
    bool hug = idx_hug(f);
    b->filno = f->filno;
    b->posh = posh;
    b->posl = posl;
    b->fcb = f;
    b->hostfil = idx_host(f)->filno;
    b->keylen = f->hdr.base.keylen;
    b->cmpbits = f->hdr.base.ktype & 12;
    b->hug = hug ? 1 : 0;
    b->psize = hug ? 8 : 4;
    b->hsize = f->nhdrsiz ? f->nhdrsiz : (hug ? 28 : 18);
    b->kc = idx_dup(f) ? b->keylen - b->psize : b->keylen;
    b->unit = f->cmpunit > 0 ? f->cmpunit : 1;
    b->padbyte = f->hdr.base.keypad;
    b->wraplen = uint8_t(idx_wraplen(f));
    b->elems = node_of(b) + b->hsize;
    b->expnum = 0;
    b->expoff = b->explen = 0;
    b->exptrl = -1;
    b->lastins = b->runcnt = 0;
    b->updated = 'n';
    if (b->memrec) return;
    link_front(bucket_of(g, b->filno, posl), &b->hash.link);
    *lookaside_of(g, b->filno, posh, posl) = b;
    touch_node(b);
    if (++idx_state(g).inuse > idx_state(g).maxinuse) idx_state(g).maxinuse = idx_state(g).inuse;
}

void zvclrhsh(NODEBUF *b) {
    INSTGV *g = zvWNGV;
    spill_return(b, true);
    if (b->filno < 0 || b->memrec) return;  // a memory record stays its node
    link_unlink(&b->hash.link);
    b->filno = -1;
    b->posl = b->posh = 0xFFFFFFFFu;
    b->fcb = nullptr;
    b->updated = 'n';
    b->expnum = 0;
    link_unlink(&b->lru.link);
    link_front(&g->idxlru, &b->lru.link);
    if (idx_state(g).inuse > 0) idx_state(g).inuse--;
}

NODEBUF *lrubuf81(int, uint32_t, uint32_t, FCB *) {
    INSTGV *g = zvWNGV;
    uint16_t saved = g->uerr_cod;
    int failed = 0;
    for (ListLink *l = g->idxlru.next, *next; l != &g->idxlru; l = next) {
        next = l->next;
        NODEBUF *b = nodelink_of(l)->owner;
        if (b->pins) continue;
        if (b->filno >= 0 && b->updated == 'y') {
            if (int rc = wrtnod(b)) {
                // The node stays cached and updated for a later write; the
                // failure is kept for the call that is running.
                failed = rc;
                idx_state(g).wbfailed = rc;
                continue;
            }
        }
        zvclrhsh(b);
        g->uerr_cod = saved;
        return b;
    }
    set_uerr(failed ? failed : 10);
    return nullptr;
}

NODEBUF *zvgetnod81(int mode, uint32_t posh, uint32_t posl, FCB *f) {
    INSTGV *g = zvWNGV;
    if (!g || !f) {
        set_uerr(61);
        return nullptr;
    }
    mode &= ~(0x200 | 0x800);
    const int m = mode & 3;
    if (posh == 0 && posl == 0) {
        idx_corrupt(f, "Zero node request (zvgetnod)...");
        return nullptr;
    }
    const bool memory = fcb_is_memory(f);
    for (;;) {
        NODEBUF *b = memory ? find_memory_node(f, posh, posl) : find_cached(g, f, posh, posl);
        if (memory) {
            if (!b) {
                set_uerr(160);
                return nullptr;
            }
            if (m == kNodProbe) return b;
            idx_state(g).requests++;
            idx_state(g).hits++;
        } else if (b) {
            if (m == kNodProbe) return b;
            idx_state(g).requests++;
            idx_state(g).hits++;
            touch_node(b);
        } else {
            if (m == kNodProbe) return nullptr;
            idx_state(g).requests++;
            // Only positions inside the index's nodes are read from disk.
            if (check_position(f, posh, posl) != 0) return nullptr;
            b = lrubuf81(mode, posh, posl, f);
            if (!b) return nullptr;
            bind_node(b, f, posh, posl);
            if (read_node(b, f, mode) != 0) return nullptr;
        }
        if (!b->hdr.leaf && b->hdr.numexc != 0 && !is_deleted(b)) {
            idx_corrupt(f, "Invalid numexc node control field...");
            return nullptr;
        }
        if (m != kNodNoSettle && b->hdr.leaf && b->hdr.numexc != 0 && !is_deleted(b)) {
            int rc = zvclup(mode, b, 7, 1);
            if (rc == -3) {
                set_uerr(0);
                continue;
            }
            if (rc > 0) return nullptr;
        }
        return b;
    }
}

int putnod(NODEBUF *b, int count, int touch) {
    FCB *f = b->fcb;
    if (count < 0) {
        zvrcvlog("nodsiz < 0 in putnod()", kLogSingleTry);
        zvrcvlog(f ? f->name : "", -726);
        return set_uerr(527);
    }
    if (touch > 0 && !fcb_is_memory(f)) touch_node(b);
    b->hdr.nkv = uint16_t(count);
    b->updated = 'y';
    if (f->hdr.base.flmode & kModeWriteThrough) return wrtnod(b);
    return 0;
}

int wrtnod(NODEBUF *b) {
    FCB *f = b->fcb;
    if (!is_deleted(b) && b->hdr.member != f->hdr.base.kmem) terr(230);
    if (b->memrec) {
        b->updated = 'n';  // the record is the node: nothing to write
        return 0;
    }
    encode_nhdr(b->hdr, b->hug != 0, node_of(b));
    uint32_t hi, lo;
    node_io_pos(b, &hi, &lo);
    int rc = izvio81x(0x11, f, hi, lo, node_of(b) - b->wraplen, io_length(b), nullptr, 0);
    if (rc) {
        zvrcvlog("FAILED IO: wrtnod...", kLogSingleTry - rc);
        zvrcvlog(f->name, kLogSingleTry - rc);
        return set_uerr(rc);
    }
    b->updated = 'n';
    return 0;
}

extern "C" void zvidxfrsh(int filno) {
    INSTGV *g = zvWNGV;
    if (!g) return;
    if (idx_state(g).inuse > 0) {
        for (auto *b = static_cast<NODEBUF *>(g->idxbuflist); b; b = b->next)
            if (b->filno == filno) zvclrhsh(b);
    }
    if (g->fcbtab && filno >= 0 && filno <= g->filecount && g->fcbtab[filno]) {
        FCB *f = g->fcbtab[filno];
        f->curnodh = f->curnodl = 0;
        f->curelm = 0;
    }
}
