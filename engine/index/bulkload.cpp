// Bulk key load: an index built or extended bottom-up from keys given in
// strictly ascending order.
//
// Keys are appended to the rightmost leaf. A leaf that is full (or filled
// beyond the "LOADKEY_LEAF_PCT_FULL" limit) is closed: it gets its last key
// as high key and a new leaf starts to its right with the key. The closed
// leaf's last key and position are appended to the rightmost node of the
// level above, which is closed the same way when it fills, carrying its own
// last key one level higher; a level that does not exist yet gets its first
// node. No search of the tree is made per key.
//
// The finish gives the last leaf an all-0xFF high key and completes each
// level from the bottom: its rightmost node gets a last element with an
// all-0xFF key pointing to the rightmost node below, so that every level
// ends as key insertion and search expect. The single node of the top level
// becomes the root (the leaf itself for a one-leaf index), and the header's
// level count, when it is kept, becomes the depth of the finished tree.
//
// Appending onto a non-empty index starts from its right edge: the rightmost
// node of every level ends with an all-0xFF element for its rightmost child
// (provisional); it is removed when a real separator for that child arrives,
// or replaced at the finish.
//
// A finish that fails marks the index for rebuild and ends the load, so that
// a new load can start.
#include "engine/index/bulkload.h"

#include <cstdio>
#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/core/fcb.h"
#include "engine/files/header.h"
#include "engine/index/idxstate.h"
#include "engine/index/keysearch.h"
#include "engine/index/navstate.h"
#include "engine/index/node.h"
#include "engine/index/nodealloc.h"
#include "engine/index/nodecache.h"
#include "engine/index/nodeupdate.h"

using namespace zv;

namespace {

constexpr int kReadReused = 0x800;  // read of a node whose buffer may have been taken

LoadState &ld() { return nav_state(zvWNGV).load; }

// Positions b for an append of key after its last element.
void position_append(NODEBUF *b, const unsigned char *key) {
    IdxState &s = idx_state(zvWNGV);
    const int n = b->hdr.nkv;
    s.elm = n + 1;
    s.tky = -1;
    s.tkp = 1;
    if (n > 0) {
        const unsigned char *last = valpnt(b, n);
        if (last) s.tkp = compar_k(key, last, b->keylen);
    }
    s.cmp = s.tkp;
}

// lodins81 with the closed node's last key (its separator) left in closed.
NODEBUF *lodins(NODEBUF *b, const unsigned char *key, uint32_t ph, uint32_t pl, FCB *f, unsigned char *closed) {
    IdxState &s = idx_state(zvWNGV);
    LoadState &L = ld();
    const bool leaf = b->hdr.leaf != 0;
    const int n = b->hdr.nkv;
    const int p = idx_psize(f);
    const int32_t k = f->hdr.base.keylen;
    position_append(b, key);
    NodeSpill spill(b);
    if (insexp81(b, key, ph, pl, p, leaf ? 3 : 0) != 0) return nullptr;
    b->hdr.nkv = uint16_t(n + 1);
    bool full = b->hdr.nkb > b->maxb || n + 1 > b->maxkv;
    if (leaf && L.filllimit > 0 && n >= 2 && b->hdr.nkb > L.filllimit) full = true;
    if (!full) {
        if (leaf && b->ctl) zvinsexc(b, n + 1);
        if (putnod(b, n + 1, 1) != 0) return nullptr;
        return b;
    }
    if (n == 0) {
        idx_corrupt(f, "Key does not fit an empty node in bulk load");
        return nullptr;
    }
    // Full: the key goes back out and starts the next node.
    s.elm = n + 1;
    if (delexp(b, 1) < 0) return nullptr;
    spill_return(b);
    const unsigned char *last = valpnt(b, n);
    if (!last) return nullptr;
    memcpy(closed, last, size_t(k));
    if (leaf) {
        memcpy(highkey_of(b), closed, size_t(k));
        zvrstexc(b);
    }
    NodePin pin(b);
    uint32_t nh, nl;
    NODEBUF *nb = lodnod81(f, &nh, &nl);
    if (!nb) return nullptr;
    if (leaf) {
        L.prevh = b->posh;
        L.prevl = b->posl;
        newleaf(nb, f);
    } else {
        nonleaf(nb, f);
    }
    b->hdr.sucesr = nl;
    b->hdr.sucesrh = nh;
    s.elm = 1;
    s.tky = -1;
    s.tkp = 1;
    if (insexp81(nb, key, ph, pl, p, leaf ? 3 : 0) != 0) return nullptr;
    int rc1 = putnod(b, n, 1);
    int rc2 = putnod(nb, 1, 1);
    if (rc1 || rc2) return nullptr;
    return nb;
}

// Child position of element n of a non-leaf, without a report of its own.
bool child_of(NODEBUF *b, int n, uint32_t *hi, uint32_t *lo) {
    unsigned char *key = valpnt(b, n);
    if (!key) return false;
    get_elem_ptr(key - b->psize, b->hug != 0, hi, lo);
    return *hi || *lo;
}

int code_or(int fallback) {
    int c = zvWNGV->uerr_cod;
    return c ? c : fallback;
}

// Appends the work key (record position ph, pl) to the current leaf.
int append(FCB *f, uint32_t ph, uint32_t pl) {
    IdxState &s = idx_state(zvWNGV);
    LoadState &L = ld();
    const int32_t k = f->hdr.base.keylen;
    NODEBUF *b = zvgetnod81(kNodRead | kReadReused, L.leafh, L.leafl, f);
    if (!b) return code_or(527);
    const uint32_t bh = b->posh, bl = b->posl;
    unsigned char closed[kKeyRoom];
    NODEBUF *h = lodins(b, s.workkey, ph, pl, f, closed);
    if (!h) return code_or(527);
    const uint32_t hh = h->posh, hl = h->posl;
    const int32_t hn = h->hdr.nkv;
    hdrupd(f, 1);
    memcpy(L.lastkey, s.workkey, size_t(k));
    L.leafh = hh;
    L.leafl = hl;
    L.leaflast = hn;
    if (hh == bh && hl == bl) return 0;
    return addtoparent(f, 0, closed, bh, bl);
}

// Finds the right edge of a non-empty index: the rightmost node of every
// level and the last leaf, which becomes the current leaf.
int skim(FCB *f) {
    LoadState &L = ld();
    uint32_t nl = gtroot(f);
    uint32_t nh = uint32_t(zvGETHGHi());
    uint32_t ph[kIdxLevels], pl[kIdxLevels];
    int depth = 0;
    NODEBUF *b;
    for (;;) {
        b = zvgetnod81(kNodRead, nh, nl, f);
        if (!b) return code_or(527);
        while (b->hdr.sucesr || b->hdr.sucesrh) {
            b = zvgetnod81(kNodRead, b->hdr.sucesrh, b->hdr.sucesr, f);
            if (!b) return code_or(527);
        }
        if (b->hdr.leaf) break;
        if (depth >= kIdxLevels) return setidxcorrupt(f, "Maximum tree height exceed in skim()  [247]", 15, 527);
        ph[depth] = b->posh;
        pl[depth] = b->posl;
        depth++;
        if (b->hdr.nkv < 1 || !child_of(b, b->hdr.nkv, &nh, &nl)) {
            if (zvWNGV->uerr_cod == 527) return 527;
            return idx_corrupt(f, "Zero node pointer in skim()");
        }
    }
    L.nlev = depth;
    for (int i = 0; i < depth; i++) {
        L.levh[i] = ph[depth - 1 - i];
        L.levl[i] = pl[depth - 1 - i];
        L.prov[i] = 1;
        L.levcnt[i] = 0;
    }
    L.leafh = b->posh;
    L.leafl = b->posl;
    L.leaflast = b->hdr.nkv;
    L.prevh = b->hdr.predsrh;
    L.prevl = b->hdr.predsr;
    return 0;
}

// Checks the right edge of the finished tree: each level's rightmost node
// is a non-leaf without successor whose last element has an all-0xFF key and
// points to the rightmost node below.
int check_edge(FCB *f) {
    LoadState &L = ld();
    const int32_t k = f->hdr.base.keylen;
    uint32_t below_h = L.leafh, below_l = L.leafl;
    for (int lev = 0; lev < L.nlev; lev++) {
        NODEBUF *b = zvgetnod81(kNodRead, L.levh[lev], L.levl[lev], f);
        if (!b) return code_or(527);
        uint32_t ch, cl;
        if (b->hdr.leaf || is_deleted(b) || b->hdr.sucesr || b->hdr.sucesrh || b->hdr.nkv < 1 ||
            !child_of(b, b->hdr.nkv, &ch, &cl) || ch != below_h || cl != below_l)
            return idx_corrupt(f, "Broken right edge after bulk load");
        const unsigned char *last = valpnt(b, b->hdr.nkv);
        for (int32_t i = 0; last && i < k; i++)
            if (last[i] != 0xFF) return idx_corrupt(f, "Broken right edge after bulk load");
        below_h = b->posh;
        below_l = b->posl;
    }
    return 0;
}

int finish(FCB *f, int32_t *rootcount, int32_t *flag) {
    LoadState &L = ld();
    const int32_t k = f->hdr.base.keylen;
    NODEBUF *leaf = zvgetnod81(kNodRead | kReadReused, L.leafh, L.leafl, f);
    if (!leaf) return code_or(527);
    memset(highkey_of(leaf), 0xFF, size_t(k));
    const int32_t leafcount = leaf->hdr.nkv;
    if (int rc = putnod(leaf, leaf->hdr.nkv, 1)) return rc;
    unsigned char ff[kKeyRoom];
    memset(ff, 0xFF, size_t(k));
    for (int lev = 0; lev < L.nlev; lev++) {
        uint32_t ch = lev == 0 ? L.leafh : L.levh[lev - 1];
        uint32_t cl = lev == 0 ? L.leafl : L.levl[lev - 1];
        if (int rc = addtoparent(f, lev, ff, ch, cl)) return rc;
    }
    if (int rc = check_edge(f)) return rc;
    const bool one_leaf = L.nlev == 0;
    uint32_t rh = one_leaf ? L.leafh : L.levh[L.nlev - 1];
    uint32_t rl = one_leaf ? L.leafl : L.levl[L.nlev - 1];
    f->hdr.base.root = rl;
    if (idx_hug(f)) f->hdr.ext.rooth = rh;
    if ((f->hdr.base.hdrflags & kHdrHasExt) && f->hdr.ext.levels != -1) f->hdr.ext.levels = L.nlev + 1;
    if (one_leaf) {
        if (rootcount) *rootcount = leafcount;
        if (flag) *flag = 0;
    }
    if (int rc = tstupd(f)) return rc;
    return wrthdr(f);
}

int start(FCB *f, int filno, uint32_t ph, uint32_t pl) {
    INSTGV *g = zvWNGV;
    IdxState &s = idx_state(g);
    LoadState &L = ld();
    const int32_t k = f->hdr.base.keylen;
    if (L.active) return 58;
    memset(&L, 0, sizeof L);
    L.filno = filno;
    L.filllimit = int32_t(int64_t(f->leafcap) * g->loadkeyleafpct / 100);
    L.wraplen = idx_wraplen(f);
    unsigned char last[kKeyRoom];
    uint32_t ll = ilstkey(f, last);
    uint32_t lh = uint32_t(tsthghwrd());
    if (!ll && !lh) {
        if (g->uerr_cod) return g->uerr_cod;
        if (int rc = tstupd(f)) return rc;
        f->hdr.ext.levels = (f->hdr.base.hdrflags & kHdrHasExt) ? 0 : -1;
        uint32_t nh, nl;
        NODEBUF *b = lodnod81(f, &nh, &nl);
        if (!b) return code_or(10);
        newleaf(b, f);
        if (int rc = putnod(b, 0, 1)) return rc;
        f->hdr.base.lanchr = nl;
        if (idx_hug(f)) f->hdr.ext.lanchrh = nh;
        if (int rc = wrthdr(f)) return rc;
        if (int rc = zvsave(f)) return rc;
        L.leafh = nh;
        L.leafl = nl;
    } else {
        if (fcb_is_memory(f)) return 454;
        if (compar_k(s.workkey, last, k) <= 0) return 59;
        if (int rc = skim(f)) return rc;
        memcpy(L.lastkey, last, size_t(k));
        if (int rc = tstupd(f)) return rc;
    }
    L.active = 1;
    return append(f, ph, pl);
}

}  // namespace

NODEBUF *lodins81(NODEBUF *b, const unsigned char *key, uint32_t ptrh, uint32_t ptrl, FCB *f) {
    return lodins(b, key, ptrh, ptrl, f, idx_state(zvWNGV).sepkey);
}

NODEBUF *lodnod81(FCB *f, uint32_t *posh, uint32_t *posl) {
    LoadState &L = ld();
    if (L.reuseh || L.reusel) {
        NODEBUF *b = zvgetnod81(kNodNoSettle | kReadReused, L.reuseh, L.reusel, f);
        if (b) {
            uint64_t want = join64(L.lasth, L.lastl) + uint64_t(L.wraplen);
            if (join64(b->hdr.predsrh, b->hdr.predsr) == want) {
                *posh = L.reuseh;
                *posl = L.reusel;
                L.reuseh = b->hdr.sucesrh;
                L.reusel = b->hdr.sucesr;
                zvintnod81(b, f, *posh, *posl);
                L.lasth = *posh;
                L.lastl = *posl;
                return b;
            }
        }
        L.reuseh = L.reusel = 0;
    }
    NODEBUF *b = newnod81(f, posh, posl);
    if (b) {
        L.lasth = *posh;
        L.lastl = *posl;
    }
    return b;
}

void newleaf(NODEBUF *b, FCB *f) {
    LoadState &L = ld();
    zvnodcap(b, f, 1);
    b->hdr.predsr = L.prevl;
    b->hdr.predsrh = L.prevh;
    b->hdr.sucesr = b->hdr.sucesrh = 0;
    memset(highkey_of(b), 0xFF, size_t(b->keylen));
    zvrstexc(b);
}

void nonleaf(NODEBUF *b, FCB *f) {
    zvnodcap(b, f, 0);
    b->hdr.predsr = b->hdr.predsrh = 0;
    b->hdr.sucesr = b->hdr.sucesrh = 0;
}

int addtoparent(FCB *f, int lev, const unsigned char *sep, uint32_t ch, uint32_t cl) {
    IdxState &s = idx_state(zvWNGV);
    LoadState &L = ld();
    const int32_t k = f->hdr.base.keylen;
    unsigned char carry[kKeyRoom], closed[kKeyRoom];
    memcpy(carry, sep, size_t(k));
    for (;;) {
        if (lev >= kIdxLevels) return idx_corrupt(f, "Maximum tree height exceed in bulk load");
        NODEBUF *b;
        if (lev == L.nlev) {
            uint32_t nh, nl;
            b = lodnod81(f, &nh, &nl);
            if (!b) return code_or(10);
            nonleaf(b, f);
            L.levh[lev] = nh;
            L.levl[lev] = nl;
            L.prov[lev] = 0;
            L.levcnt[lev] = 0;
            L.nlev++;
        } else {
            b = zvgetnod81(kNodRead | kReadReused, L.levh[lev], L.levl[lev], f);
            if (!b) return code_or(527);
        }
        if (L.prov[lev]) {
            if (b->hdr.nkv > 0) {
                s.elm = b->hdr.nkv;
                if (delexp(b, 0) < 0) return code_or(527);
            }
            L.prov[lev] = 0;
        }
        const uint32_t bh = b->posh, bl = b->posl;
        NODEBUF *h = lodins(b, carry, ch, cl, f, closed);
        if (!h) return code_or(527);
        if (h->posh == bh && h->posl == bl) return 0;
        L.levcnt[lev]++;
        L.levh[lev] = h->posh;
        L.levl[lev] = h->posl;
        memcpy(carry, closed, size_t(k));
        ch = bh;
        cl = bl;
        lev++;
    }
}

int iloadkey81(int filno, const void *key, uint32_t posh, uint32_t posl, int mode, int32_t *rootcount,
               int32_t *flag) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = tstifnm(filno);
    if (!f) return g->uerr_cod;
    if (f->kind != kKindIndex || !f->keybufs || f->nhdrsiz == 0) return set_uerr(48);
    if (f->hdr.base.flmode & 0x09) return set_uerr(62);
    if (mode < 0 || mode > 2) return set_uerr(446);
    LoadState &L = ld();
    if (mode != 2) {
        if (!key) return set_uerr(540);
        if (!idx_hug(f)) posh = 0;
        if (posh == 0 && posl == 0) return set_uerr(28);
        memcpy(idx_state(g).workkey, key, f->hdr.base.keylen);
        if (idx_dup(f)) prpdup81(idx_state(g).workkey, f, posh, posl);
    }
    if (mode == 0) {
        int rc = start(f, filno, posh, posl);
        if (rc && !L.active) L.filno = -1;
        return set_uerr(rc);
    }
    if (!L.active || L.filno != filno) return set_uerr(58);
    if (mode == 1) {
        if (compar_k(idx_state(g).workkey, L.lastkey, f->hdr.base.keylen) <= 0) return set_uerr(59);
        return set_uerr(append(f, posh, posl));
    }
    int rc = finish(f, rootcount, flag);
    L.active = 0;
    L.filno = -1;
    if (rc) {
        // The unfinished index itself is to be rebuilt. A superfile member
        // must not mark its host through the host link, which would ask for
        // a rebuild of the whole superfile; a broken tree found by the
        // finish has been reported as corrupt already.
        zvrcvlog("Bulk key load not finished in index", kLogSingleTry);
        char line[300];
        snprintf(line, sizeof line, "%s [%0d]", f->name, int(f->hdr.base.kmem));
        zvrcvlog(line, rc);
        f->hdr.base.updflg = kUpdRebuild;
    }
    return set_uerr(rc);
}

int nodctl81(FCB *f, uint32_t posh, uint32_t posl, NODEHDR *out, int member, int kind) {
    if (!f || !out) return set_uerr(540);
    const bool hug = idx_hug(f);
    const int32_t hs = hug ? 28 : 18;
    const int32_t wrap = kind == 1 ? 10 : kind == 2 ? (hug ? 22 : 18) : 0;
    unsigned char buf[64];
    uint64_t at = join64(posh, posl);
    if (at < uint64_t(wrap)) return set_uerr(29);
    at -= uint64_t(wrap);
    memset(out, 0, sizeof *out);
    if (int rc = izvio81(0x10, f, uint32_t(at >> 32), uint32_t(at), buf, wrap + hs, nullptr)) return rc;
    if (wrap) {
        uint16_t mark = ld16(buf);
        bool ok = kind == 1 ? mark == 0xFBBF : mark == 0xFAFA && (member < 0 || ld32(buf + 10) == uint32_t(member));
        if (!ok) return set_uerr(0);
    }
    decode_nhdr(buf + wrap, hug, out);
    if (member >= 0) out->leaf = 2;
    return set_uerr(0);
}

int savlks(const void *saved, int32_t len) {
    if (!zvWNGV) return 47;
    if (!saved || len != int32_t(sizeof(LoadState))) return set_uerr(446);
    memcpy(&ld(), saved, sizeof(LoadState));
    return set_uerr(0);
}

extern "C" ZV_API int LOADKEY(int filno, const void *key, uint32_t poslow, int mode) {
    if (!zvWNGV) return 47;
    uint32_t hi = uint32_t(zvGETHGHi());
    return iloadkey81(filno, key, hi, poslow, mode, nullptr, nullptr);
}
