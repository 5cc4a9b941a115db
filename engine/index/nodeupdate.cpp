// Changes to the contents of one node.
//
// Insertion and deletion position a node with nodser first; the routines
// here then change that node's element area in place. With leading
// compression an element stores only the bytes after the L units it shares
// with the key before it, so inserting or removing an element also
// re-encodes its follower:
//  - a new key N before F: F shares at least as much with N as with the key
//    before N (keys are sorted), so F's count may grow and F's middle loses
//    that many bytes from its front;
//  - removing R before F: when F shared more with R (L2) than R with its own
//    predecessor (L1), F takes over R's bytes between L1 and L2 and its count
//    becomes L1.
// Every element keeps L*u + T*u <= Kc, and the first element of a node has
// L = 0, so that expansion from the first element always works.
#include "engine/index/nodeupdate.h"

#include <cstdio>
#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/fileio.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/core/fcb.h"
#include "engine/files/header.h"
#include "engine/index/distinct.h"
#include "engine/index/idxstate.h"
#include "engine/index/keydelete.h"
#include "engine/index/keysearch.h"
#include "engine/index/node.h"
#include "engine/index/nodecache.h"

using namespace zv;

namespace {

int insexp_failure(FCB *f, const char *line, int code) {
    zvrcvlog("insexp81 @", code);
    zvrcvlog(line, kLogSingleTry);
    zvrcvlog(f ? f->name : "", -726);
    return set_uerr(527);
}

// Leading units shared by a key with the one before it, from the magnitude
// of their comparison, kept so that leading and trailing parts of the
// element fit in Kc.
int32_t lead_units(const NODEBUF *b, int cmp, int32_t trail) {
    int32_t shared = cmp > 0 ? cmp - 1 : -cmp - 1;
    if (shared < 0) shared = 0;
    if (shared > b->kc) shared = b->kc;
    int32_t l = shared / b->unit;
    if (l > 255) l = 255;
    int32_t room = (b->kc - trail * b->unit) / b->unit;
    return l < room ? l : room;
}

// Trailing units of pad bytes at the end of the compressible part.
int32_t trail_units(const NODEBUF *b, const unsigned char *key) {
    int32_t n = 0;
    while (n < b->kc && key[b->kc - 1 - n] == b->padbyte) n++;
    int32_t t = n / b->unit;
    return t > 255 ? 255 : t;
}

// Writes a compressed element; returns its length.
int32_t put_comp(NODEBUF *b, unsigned char *p, const unsigned char *key, uint32_t ph, uint32_t pl, int32_t l,
                 int32_t t) {
    int32_t i = 0;
    if (b->kind != 0) {
        put_elem_ptr(p, b->hug != 0, ph, pl);
        i = b->psize;
    }
    if (b->cmpbits & 4) p[i++] = uint8_t(l);
    if (b->cmpbits & 8) p[i++] = uint8_t(t);
    int32_t mid = b->kc - (l + t) * b->unit;
    memcpy(p + i, key + l * b->unit, size_t(mid));
    i += mid;
    if (b->kind != 1) {
        memcpy(p + i, key + b->kc, size_t(b->psize));
        i += b->psize;
    }
    return i;
}

// Leaves the element just written expanded in the expansion area.
void cache_element(NODEBUF *b, int e, int32_t off, int32_t len, int32_t t, const unsigned char *key, uint32_t ph,
                   uint32_t pl) {
    if (b->kind != 0) put_elem_ptr(b->exparea, b->hug != 0, ph, pl);
    memmove(b->exparea + b->psize, key, size_t(b->keylen));
    b->expnum = e;
    b->expoff = off;
    b->explen = len;
    b->exptrl = t;
}

}  // namespace

void shfrgt(int32_t distance, NODEBUF *b, int32_t offset) {
    int32_t n = b->hdr.nkb - offset;
    if (n > 0) memmove(b->elems + offset + distance, b->elems + offset, size_t(n));
}

void set_elem_ptr(NODEBUF *b, int n, uint32_t hi, uint32_t lo) {
    int32_t off, len;
    if (!elem_span(b, n, &off, &len)) return;
    put_elem_ptr(b->elems + off, b->hug != 0, hi, lo);
    if (is_compressed(b) && b->expnum == n) put_elem_ptr(b->exparea, b->hug != 0, hi, lo);
}

namespace {

// Positions of the first byte in which a key about to be written at the
// positioned element differs from its neighbours in the node (0: no
// neighbour there), from the comparisons nodser left; magnitudes that
// compar capped are measured again.
void neighbour_diffs(NODEBUF *b, const unsigned char *key, int32_t *prevpos, int32_t *nextpos) {
    IdxState &s = idx_state(zvWNGV);
    const int e = s.elm;
    const int32_t k = b->keylen;
    *prevpos = 0;
    *nextpos = 0;
    if (e > 1) {
        *prevpos = s.tkp;
        if (*prevpos >= 256)
            if (const unsigned char *p = valpnt(b, e - 1)) *prevpos = first_diff(p, key, k);
    }
    if (e <= b->hdr.nkv) {
        *nextpos = -s.tky;
        if (*nextpos >= 256)
            if (const unsigned char *p = valpnt(b, e)) *nextpos = first_diff(key, p, k);
    }
}

}  // namespace

// Writes the element (see insexp81).
static int insexp_write(NODEBUF *b, const unsigned char *key, uint32_t ph, uint32_t pl, int psize) {
    IdxState &s = idx_state(zvWNGV);
    FCB *f = b->fcb;
    char line[120];
    if (s.tky > 0 || s.tkp < 0) {
        snprintf(line, sizeof line, "Unexpected key comparison results: zv_tky %d zv_tkp %d", s.tky, s.tkp);
        return insexp_failure(f, line, -434);
    }
    if (psize != b->psize) {
        snprintf(line, sizeof line, "Unexpected pntsiz: %d  with hugflg: %d", psize, b->hug);
        return insexp_failure(f, line, -9168);
    }
    const int e = s.elm;
    const int nkv = b->hdr.nkv;
    if (e < 1 || e > nkv + 1) return idx_corrupt(f, "Element out of range in insexp81");
    if (!is_compressed(b)) {
        if (int rc = spill_room(b, b->esize)) return rc;
        int32_t off = (e - 1) * b->esize;
        shfrgt(b->esize, b, off);
        unsigned char *p = b->elems + off;
        if (b->kind != 0) {
            put_elem_ptr(p, b->hug != 0, ph, pl);
            p += b->psize;
        }
        memmove(p, key, size_t(b->keylen));
        b->hdr.nkb = uint16_t(b->hdr.nkb + b->esize);
        b->expnum = e;
        b->expoff = off;
        b->explen = b->esize;
        return 0;
    }
    // The new key may come from this node's expansion area: keep a copy.
    unsigned char k[kKeyRoom];
    memcpy(k, key, size_t(b->keylen));
    int32_t off = b->hdr.nkb;
    int32_t flen = 0, fl = 0, ft = 0;
    if (e <= nkv) {
        int32_t len;
        if (!elem_span(b, e, &off, &len) || !comp_elem(b, off, &flen, &fl, &ft)) return 527;
    }
    const int32_t u = b->unit;
    int32_t t = (b->cmpbits & 8) ? trail_units(b, k) : 0;
    int32_t l = (b->cmpbits & 4) && e > 1 ? lead_units(b, s.tkp, t) : 0;
    const int32_t nb = (b->cmpbits & 4 ? 1 : 0) + (b->cmpbits & 8 ? 1 : 0);
    const int32_t newlen = (b->kind != 0 ? b->psize : 0) + nb + b->kc - (l + t) * u + (b->kind != 1 ? b->psize : 0);
    // The node grows by at most the new element's length.
    if (int rc = spill_room(b, newlen)) return rc;
    // Re-encode the follower against the new key.
    int32_t diff = 0;
    if (e <= nkv && (b->cmpbits & 4)) {
        int32_t nl = lead_units(b, s.tky, ft);
        if (nl > fl) {
            diff = (nl - fl) * u;
            int32_t hp = (b->kind != 0 ? b->psize : 0) + nb;
            unsigned char *fp = b->elems + off;
            memmove(fp + diff, fp, size_t(hp));
            fp[diff + (b->kind != 0 ? b->psize : 0)] = uint8_t(nl);
        }
    }
    int32_t tail = b->hdr.nkb - off - diff;
    if (tail > 0) memmove(b->elems + off + newlen, b->elems + off + diff, size_t(tail));
    put_comp(b, b->elems + off, k, ph, pl, l, t);
    b->hdr.nkb = uint16_t(b->hdr.nkb + newlen - diff);
    cache_element(b, e, off, newlen, t, k, ph, pl);
    return 0;
}

int insexp81(NODEBUF *b, const unsigned char *key, uint32_t ph, uint32_t pl, int psize, int mode) {
    IdxState &s = idx_state(zvWNGV);
    // Distinct-key counts follow keys that enter a leaf (not elements moved
    // by a split).
    const bool count = mode != 0 && b->hdr.leaf && dst_kept(b->fcb) &&
                       (mode == 3 || !(s.options & kIdxOptDstSuspend));
    unsigned char kept[kKeyRoom];
    int32_t prevpos = 0, nextpos = 0;
    const int elm = s.elm;
    if (count && s.tky <= 0 && s.tkp >= 0 && elm >= 1 && elm <= b->hdr.nkv + 1) {
        memcpy(kept, key, size_t(b->keylen));
        key = kept;
        neighbour_diffs(b, key, &prevpos, &nextpos);
    }
    int rc = insexp_write(b, key, ph, pl, psize);
    if (rc == 0 && count) dst_insert(b, elm, prevpos, nextpos);
    return rc;
}

int delexp(NODEBUF *b, int flag) {
    IdxState &s = idx_state(zvWNGV);
    const int e = s.elm;
    const int nkv = b->hdr.nkv;
    if (e < 1 || e > nkv) {
        idx_corrupt(b->fcb, "Element out of range in delexp");
        return -1;
    }
    if (flag && b->hdr.leaf && !(s.options & kIdxOptRecovery) && dst_kept(b->fcb)) {
        dst_delete(b, e);
        s.elm = e;
    }
    const bool last = e == nkv;
    if (!is_compressed(b)) {
        int32_t off = (e - 1) * b->esize;
        int32_t rest = b->hdr.nkb - off - b->esize;
        if (rest > 0) memmove(b->elems + off, b->elems + off + b->esize, size_t(rest));
        b->hdr.nkb = uint16_t(b->hdr.nkb - b->esize);
        b->hdr.nkv--;
        b->expnum = 0;
        return last ? 1 : 0;
    }
    const unsigned char *rkey = expval(b, e);
    if (!rkey) return -1;
    int32_t off = b->expoff, len = b->explen, l1, t1, rl;
    if (!comp_elem(b, off, &rl, &l1, &t1)) return idx_corrupt(b->fcb, "Damaged element in delexp"), -1;
    if (last) {
        b->hdr.nkb = uint16_t(b->hdr.nkb - len);
        b->hdr.nkv--;
        b->expnum = 0;
        return 1;
    }
    int32_t flen, l2, t2;
    if (!comp_elem(b, off + len, &flen, &l2, &t2)) return idx_corrupt(b->fcb, "Damaged element in delexp"), -1;
    const int32_t u = b->unit;
    if ((b->cmpbits & 4) && l2 > l1) {
        int32_t grow = (l2 - l1) * u;
        if (len - grow < 1) return idx_corrupt(b->fcb, "Unexpected shrink in delexp"), -1;
        int32_t pp = b->kind != 0 ? b->psize : 0;
        int32_t hp = pp + (b->cmpbits & 8 ? 2 : 1);
        unsigned char head[16];
        memcpy(head, b->elems + off + len, size_t(hp));
        int32_t from = off + len + hp;
        int32_t rest = b->hdr.nkb - from;
        // The removed key's bytes L1..L2 stay readable in the expansion area.
        unsigned char shared[kKeyRoom];
        memcpy(shared, rkey + l1 * u, size_t(grow));
        if (rest > 0) memmove(b->elems + off + hp + grow, b->elems + from, size_t(rest));
        memcpy(b->elems + off, head, size_t(hp));
        b->elems[off + pp] = uint8_t(l1);
        memcpy(b->elems + off + hp, shared, size_t(grow));
        b->hdr.nkb = uint16_t(b->hdr.nkb - (len - grow));
    } else {
        int32_t rest = b->hdr.nkb - off - len;
        if (rest > 0) memmove(b->elems + off, b->elems + off + len, size_t(rest));
        b->hdr.nkb = uint16_t(b->hdr.nkb - len);
    }
    b->hdr.nkv--;
    b->expnum = 0;
    return 0;
}

NODEBUF *movrgt(const unsigned char *key, FCB *f, NODEBUF *b, int flag) {
    (void)flag;
    int moves = 0;
    bool armed = false;
    uint32_t mh = 0, ml = 0;
    const uint8_t leaf = b->hdr.leaf;
    for (;;) {
        int r = nodser(b, key, 'L', 0);
        if (r == -3) {
            set_uerr(kUerrDeleted);
            return nullptr;
        }
        if (r == -99) return nullptr;
        if (r != -1) return b;
        uint32_t nh = b->hdr.sucesrh, nl = b->hdr.sucesr;
        if (nh == 0 && nl == 0) {
            idx_corrupt(f, "Key beyond the last node of its level in movrgt");
            return nullptr;
        }
        if ((armed && nh == mh && nl == ml) || (nh == b->posh && nl == b->posl)) {
            idx_corrupt(f, "MOVRGT limit...");
            return nullptr;
        }
        if (!armed && ++moves >= 16384) {
            armed = true;
            mh = nh;
            ml = nl;
        }
        b = zvgetnod81(kNodRead, nh, nl, f);
        if (!b) return nullptr;
        // A successor lies on the same level.
        if (b->hdr.leaf != leaf && !is_deleted(b)) {
            idx_corrupt(f, "Successor on another level in movrgt");
            return nullptr;
        }
    }
}

int zvclup(int mode, NODEBUF *b, int settle, int remove) {
    INSTGV *g = zvWNGV;
    if (is_deleted(b) || !b->hdr.leaf || b->hdr.numexc == 0 || !b->ctl) return 0;
    FCB *f = b->fcb;
    FCB *host = idx_host(f);
    bool changed = false;
    int e = b->hdr.frsexc ? b->hdr.frsexc : 1;
    while (b->hdr.numexc > 0 && e <= b->hdr.nkv) {
        uint32_t vh, vl;
        int mark = zvelmexc81(b, e, &vh, &vl);
        if (mark == kMarkNone || ((settle == 7 || settle == 131) && vh == 0 && vl == 0)) {
            e++;
            continue;
        }
        changed = true;
        if (mark == kMarkDel) {
            idx_state(g).elm = e;
            if (delexp(b, 1) < 0) return g->uerr_cod;
            zvrmvexc(b, e);
        } else {
            zvmrkexc81(b, e, kMarkNone, 0, 0);
            e++;
        }
    }
    if (settle == 7) {
        int first = 0;
        for (int i = 1; i <= b->hdr.nkv && b->hdr.numexc; i++)
            if (zvelmexc81(b, i, nullptr, nullptr) != kMarkNone) {
                first = i;
                break;
            }
        b->hdr.frsexc = uint16_t(first);
    }
    bool hold = host->hdr.base.flmode & 0x08;
    if ((settle == 17 || (settle == 34 && changed)) && !hold) {
        if (int rc = putnod(b, b->hdr.nkv, 1)) return rc;
    }
    if (b->hdr.nkv == 0 && changed && !(idx_state(g).options & kIdxOptRecovery) && !hold && remove) {
        unsigned char high[kKeyRoom];
        memcpy(high, highkey_of(b), size_t(b->keylen));
        if (int rc = zvdelkey(f, high, 0, 0, (mode & 0x100) ? 34 : 2)) return rc;
        set_uerr(kUerrDeleted);
        return -3;
    }
    return 0;
}

int hdrupd(FCB *f, int delta) {
    uint64_t v = join64(f->hdr.ext.numenth, f->hdr.base.nument) + uint64_t(int64_t(delta));
    split64(v, &f->hdr.ext.numenth, &f->hdr.base.nument);
    uint16_t m = f->hdr.base.flmode;
    if ((m & kModeWriteThrough) && !(m & kModeNoHdrWrite)) return wrthdr(f);
    return 0;
}

int zvsave(FCB *f) {
    if (!f || fcb_is_memory(f)) return 0;
    if ((f->stflags & kStNoSave) || (f->crflags & kCrNoSave)) return 0;
    return mbsave(f);
}

void prpdup81(unsigned char *key, FCB *f, uint32_t hi, uint32_t lo) {
    int32_t k = f->hdr.base.keylen;
    if (idx_hug(f)) {
        stbe32(key + k - 8, hi);
        stbe32(key + k - 4, lo);
    } else {
        stbe32(key + k - 4, lo);
    }
}

extern "C" ZV_API int zvFILWCD(void) { return set_uerr(454); }
