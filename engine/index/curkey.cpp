// Current key images, current positions and position estimates.
//
// The ISAM layer keeps, per index, a current key image (the key of the data
// file's current record) and an alternate image, each with a state: 1
// valid, 2 error, 3 stale (formed again from the current record on first
// use), anything else none. The calls here hand them out, form them, and
// step the index from them.
//
// The position calls answer questions about an index without reading data
// records: the key at a fraction of the index (iFRCKEY, by descending with
// the fraction spread evenly over the children of each node), a per mille
// position by bisection (binsrc) and from it an estimate of the entries
// between two keys (ESTKEY), the exact number of entries between two keys
// (RNGENT, by counting leaf elements), and the key n entries after a target
// (ORDKEY). Counts are 64-bit: the low word is returned, the high word left
// through zvSETHGHi.
#include "engine/index/curkey.h"

#include <cstdio>
#include <cstring>

#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/core/fcb.h"
#include "engine/index/idxstate.h"
#include "engine/isam/isam_services.h"
#include "engine/index/keyform.h"
#include "engine/index/keyform_needs.h"
#include "engine/index/keysearch.h"
#include "engine/index/navstate.h"
#include "engine/index/node.h"
#include "engine/index/nodecache.h"
#include "engine/index/walkguard.h"

using namespace zv;

namespace {

constexpr int kMoveLimit = 16384;
constexpr int kRestartLimit = 128;

// The open index of a key call; null with the error set (48 for a file that
// is not an index).
FCB *index_of(int keyno) {
    if (!zvWNGV) return nullptr;
    FCB *f = tstifnm(keyno);
    if (!f) return nullptr;
    if (f->kind != kKindIndex || !f->keybufs) return set_uerr(48), nullptr;
    return f;
}

uint32_t ret64(uint64_t v) {
    zvSETHGHi(int32_t(uint32_t(v >> 32)));
    return uint32_t(v);
}

uint32_t fail() {
    zvSETHGHi(0);
    return 0;
}

int corrupt(FCB *f, const char *what, const char *where) {
    char msg[80];
    snprintf(msg, sizeof msg, "%s %s...", what, where);
    return idx_corrupt(f, msg);
}

// Child position of element n of a non-leaf, without a report of its own.
bool child_of(NODEBUF *b, int n, uint32_t *hi, uint32_t *lo) {
    unsigned char *k = valpnt(b, n);
    if (!k) return false;
    get_elem_ptr(k - b->psize, b->hug != 0, hi, lo);
    return *hi || *lo;
}

// Detects a walk along successor links that comes back to a node.
struct LoopGuard {
    int count = 0;
    bool armed = false;
    uint32_t mh = 0, ml = 0;
    bool step(uint32_t h, uint32_t l) {
        if (armed) return h == mh && l == ml;
        if (++count >= kMoveLimit) {
            armed = true;
            mh = h;
            ml = l;
        }
        return false;
    }
};

enum class Found { Element, End, Restart, Failed };

// Descends to the leaf that covers target and searches it with nodser 'S'
// (the first element not below target), moving right along the leaves.
// Element: *b and *elm hold it (s.cmp the comparison); End: no such element
// (*b is the last leaf reached); Restart: a deleted node was met; Failed:
// reported (527) or an I/O error.
Found leaf_search(FCB *f, const unsigned char *t, const char *where, NODEBUF **out, int *elm) {
    IdxState &s = idx_state(zvWNGV);
    uint32_t nl = gtroot(f);
    uint32_t nh = uint32_t(zvGETHGHi());
    NODEBUF *b = zvgetnod81(kNodRead, nh, nl, f);
    if (!b) return Found::Failed;
    int levels = 0;
    bool moved = false;
    LevelWalk right(f);
    while (!b->hdr.leaf || is_deleted(b)) {
        int r = nodser(b, t, 'L', 0);
        if (r == -3) return Found::Restart;
        if (r == -1) {
            nh = b->hdr.sucesrh;
            nl = b->hdr.sucesr;
            if (!nh && !nl) return corrupt(f, "Invalid tree found in", where), Found::Failed;
            if (!right.step()) return corrupt(f, "Index with node loop found in", where), Found::Failed;
            moved = true;
        } else if (r < 0) {
            return corrupt(f, "Corrupt index encountered during", where), Found::Failed;
        } else if (++levels > kMaxDescent) {
            return corrupt(f, "Too many levels in b-tree structure in", where), Found::Failed;
        } else if (!child_of(b, r, &nh, &nl)) {
            if (zvWNGV->uerr_cod == 527) return Found::Failed;
            return corrupt(f, "Invalid tree found in", where), Found::Failed;
        } else {
            right.restart();
            moved = false;
        }
        b = zvgetnod81(kNodRead, nh, nl, f);
        if (!b) return Found::Failed;
        if (moved && b->hdr.leaf && !is_deleted(b)) return corrupt(f, "Invalid tree found in", where), Found::Failed;
    }
    LoopGuard guard;
    for (;;) {
        int r = nodser(b, t, 'S', 0);
        if (r == -3) return Found::Restart;
        if (r == -99) return Found::Failed;
        if (r == -2) {
            *out = b;
            *elm = 0;
            return Found::End;
        }
        if (r >= 1) {
            *out = b;
            *elm = r;
            (void)s;
            return Found::Element;
        }
        nh = b->hdr.sucesrh;
        nl = b->hdr.sucesr;
        if (!nh && !nl) {
            *out = b;
            *elm = 0;
            return Found::End;
        }
        if (guard.step(nh, nl)) {
            char msg[80];
            snprintf(msg, sizeof msg, "Index with node loop found in %s...", where);
            return idx_corrupt(f, msg), Found::Failed;
        }
        b = zvgetnod81(kNodRead, nh, nl, f);
        if (!b) return Found::Failed;
        if (!b->hdr.leaf && !is_deleted(b)) return corrupt(f, "Invalid tree found in", where), Found::Failed;
    }
}

// The index's last key read without disturbing its current position or work key.
uint32_t quiet_last_key(FCB *f, void *buf) {
    const uint32_t ch = f->curnodh, cl = f->curnodl;
    const int32_t ce = f->curelm;
    unsigned char work[kKeyRoom];
    const int32_t k = f->hdr.base.keylen;
    memcpy(work, f->keybufs->work, size_t(k));
    uint32_t lo = ilstkey(f, buf);
    int32_t hi = tsthghwrd();
    memcpy(f->keybufs->work, work, size_t(k));
    f->curnodh = ch;
    f->curnodl = cl;
    f->curelm = ce;
    zvSETHGHi(hi);
    return lo;
}

// Answer of a leaf element: its key into buf, its position returned.
uint32_t element_answer(NODEBUF *b, int e, void *buf) {
    uint32_t lo, hi;
    unsigned char *k = drnpnt81p(&lo, &hi, b, e);
    if (!k) return fail();
    if (buf) memcpy(buf, k, size_t(b->keylen));
    zvSETHGHi(int32_t(hi));
    return lo;
}

// State of an image after an attempt to form it again when it was stale.
int8_t settled_state(int keyno, FCB *f, bool minus2) {
    KEYBUFSET *k = f->keybufs;
    if (k->curstate == 3) zvkbufrefresh(keymap_datno(keyno), minus2 ? -2 : keyno);
    return k->curstate;
}

}  // namespace

namespace zv {

uint32_t iGETCURP(int datno) {
    zvSETHGHi(0);
    if (!zvWNGV) return 0;
    FCB *f = tstifnm(datno);
    if (!f) return 0;
    zvSETHGHi(int32_t(f->isamposh));
    return f->isamposl;
}

unsigned char *iGETCURK(int keyno, void *buf, int32_t *len) {
    if (len) *len = 0;
    FCB *f = index_of(keyno);
    if (!f) return nullptr;
    KEYBUFSET *k = f->keybufs;
    int8_t st = settled_state(keyno, f, (zvWNGV->opsmode & 0x08) != 0);
    if (st != 1) {
        set_uerr(st == 2 ? 893 : st == 3 ? 892 : 894);
        return nullptr;
    }
    set_uerr(0);
    if (len) *len = f->hdr.base.keylen;
    if (!buf) return k->cur;
    memcpy(buf, k->cur, size_t(f->hdr.base.keylen));
    return static_cast<unsigned char *>(buf);
}

unsigned char *zvputk81(int keyno, const void *record, uint32_t posh, uint32_t posl, int which, int32_t reclen) {
    FCB *f = index_of(keyno);
    if (!f) return nullptr;
    return put_key_image(keyno, f, nullptr, record, posh, posl, which, reclen);
}

unsigned char *put_key_image(int keyno, FCB *f, FCB *d, const void *record, uint32_t posh, uint32_t posl, int which,
                             int32_t reclen) {
    INSTGV *g = zvWNGV;
    KEYBUFSET *k = f->keybufs;
    unsigned char *img = which ? k->alt : k->cur;
    int8_t &state = which ? k->altstate : k->curstate;
    g->isamerr_cod = 0;
    zvSETHGHi(int32_t(posh));
    int32_t n = ifrmkey(keyno, -1, f, d, static_cast<const unsigned char *>(record), img, -1, posl, reclen);
    state = n > 0 ? 1 : (g->isamerr_cod ? 2 : 0);
    return state == 1 ? img : nullptr;
}

unsigned char *zvputask(int, FCB *f, const void *key, int which, int state) {
    if (!f || !f->keybufs) return nullptr;
    KEYBUFSET *k = f->keybufs;
    unsigned char *img = which ? k->alt : k->cur;
    int8_t &st = which ? k->altstate : k->curstate;
    if (state == 1) {
        memcpy(img, key, size_t(f->hdr.base.keylen));
        st = 1;
        return img;
    }
    st = int8_t(state == 0 && zvWNGV->isamerr_cod ? 2 : state);
    return nullptr;
}

uint32_t iFRCKEY(int keyno, void *buf, int32_t permille) {
    zvSETHGHi(0);
    FCB *f = index_of(keyno);
    if (!f) return 0;
    if (!buf) return set_uerr(540), 0u;
    if (permille < 0 || permille > 1000) return set_uerr(60), 0u;
    if (f->hdr.ext.flmode2 & kFl2PartHost) return zvhostfrc(f, keyno, buf, permille, 100000, 100);
    set_uerr(0);
    uint32_t nl = gtroot(f);
    uint32_t nh = uint32_t(zvGETHGHi());
    if (!nl && !nh) return 0;
    int64_t frac = int64_t(permille) * 100;
    NODEBUF *b;
    int e;
    for (int levels = 0;; levels++) {
        if (levels > kMaxDescent) return corrupt(f, "Too many levels in b-tree structure in", "FRCKEY"), fail();
        b = zvgetnod81(kNodRead, nh, nl, f);
        if (!b) return fail();
        if (is_deleted(b)) return corrupt(f, "Invalid tree found in", "FRCKEY"), fail();
        const int c = b->hdr.nkv;
        const int64_t step = c ? 100000 / c : 100000;
        int64_t i = frac > 0 ? (frac + step - 1) / step : 0;
        if (i > c) i = c;
        if (i >= 1) {
            frac = int64_t(c) * (frac - (i - 1) * step);
            if (frac > 100000) frac = 100000;
        }
        if (b->hdr.leaf) {
            e = i >= 1 ? int(i) : 1;
            break;
        }
        if (c == 0) return corrupt(f, "Invalid tree found in", "FRCKEY"), fail();
        if (i == 0) {
            i = 1;
            frac = 0;
        }
        if (!child_of(b, int(i), &nh, &nl)) {
            if (zvWNGV->uerr_cod != 527) corrupt(f, "Invalid tree found in", "FRCKEY");
            return fail();
        }
    }
    // An empty leaf: the first element of the next leaf that has one, or the
    // last key of the index.
    LevelWalk leaves(f);
    while (b->hdr.nkv == 0) {
        nh = b->hdr.sucesrh;
        nl = b->hdr.sucesr;
        if (!nh && !nl) return quiet_last_key(f, buf);
        if (!leaves.step()) return corrupt(f, "Index with node loop found in", "FRCKEY"), fail();
        b = zvgetnod81(kNodRead, nh, nl, f);
        if (!b) return fail();
        if (!b->hdr.leaf || is_deleted(b)) return corrupt(f, "Invalid tree found in", "FRCKEY"), fail();
        e = 1;
    }
    return element_answer(b, e, buf);
}

int32_t binsrc(int keyno, const void *key) {
    FCB *f = index_of(keyno);
    if (!f) return 0;
    unsigned char found[kKeyRoom];
    const size_t k = size_t(f->hdr.base.keylen);
    int32_t pos = 500, step = 500;
    for (int i = 0; i < 8; i++) {
        step /= 2;
        uint32_t lo = iFRCKEY(keyno, found, pos);
        if (!lo && !tsthghwrd()) return 0;
        if (memcmp(key, found, k) <= 0) pos -= step;
        else pos += step;
    }
    return pos;
}

uint32_t seqikey(int filno, void *keyout, int mode) {
    zvSETHGHi(0);
    FCB *f = index_of(filno);
    if (!f) return 0;
    KEYBUFSET *k = f->keybufs;
    int8_t st = settled_state(filno, f, false);
    if (st == 2) return set_uerr(893), 0u;
    if (st != 1) return set_uerr(894), 0u;
    if (!(mode & 32)) memcpy(k->work, k->cur, size_t(f->hdr.base.keylen));
    return (mode & ~32) == 1 ? NXTKEY(filno, keyout) : PRVKEY(filno, keyout);
}

int zvkbufrefresh(int datno, int keyno) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    set_uerr(0);
    if (keyno == -1) {
        bool stale = false;
        for (int slot = 0; slot < 64 && !stale; slot++) {
            int ix = keymap_index(datno, slot);
            if (ix == -1) return 0;
            if (ix < 0 || !filno_in_table(ix)) continue;
            FCB *xf = g->fcbtab[ix];
            if (xf && xf->state != 'n' && xf->keybufs && xf->keybufs->curstate == 3) stale = true;
        }
    }
    FCB *d = tstifnm(datno);
    if (!d) return g->uerr_cod;
    uint32_t lo = iGETCURP(datno);
    uint32_t hi = uint32_t(zvGETHGHi());
    int32_t reclen = d->hdr.base.reclen;
    if (d->kind == kKindVariable) {
        zvSETHGHi(int32_t(hi));
        reclen = int32_t(GTVLEN(datno, lo));
        if (reclen == 0) return g->uerr_cod;
    }
    if (!nav_state(g).refbuf || nav_state(g).refsel < reclen) {
        zvputmemn(&nav_state(g).refbuf);
        nav_state(g).refsel = 0;
        nav_state(g).refbuf = zvgetmem(reclen > 0 ? reclen : 1);
        if (!nav_state(g).refbuf) return set_uerr(82);
        nav_state(g).refsel = reclen;
    }
    bool cleared = false;
    if (d->stflags & kStRefreshKeys) {
        if (int rc = PUTHDR(datno, 0, 33)) return set_uerr(rc);
        cleared = true;
    }
    zvSETHGHi(int32_t(hi));
    const uint16_t mode = nav_state(g).isammode;
    nav_state(g).isammode = 5;
    const int32_t kept = nav_state(g).refsel;
    if (keyno >= 0) nav_state(g).refsel = -(keyno + 1);
    int32_t len = kept;
    int rc = d->kind == kKindVariable ? REDIVREC(datno, lo, nav_state(g).refbuf, &len)
                                      : REDIREC(datno, lo, nav_state(g).refbuf);
    nav_state(g).refsel = kept;
    nav_state(g).isammode = mode;
    if (cleared) PUTHDR(datno, 1, 33);
    if (rc) {
        d->isamposh = hi;
        d->isamposl = lo;
    }
    return set_uerr(rc);
}

}  // namespace zv

extern "C" {

ZV_API uint32_t GETCURP(int datno) {
    if (!zvWNGV) return 0;
    uint32_t lo = iGETCURP(datno);
    int32_t hi = tsthghwrd();
    ierr(zvWNGV->uerr_cod, datno);
    zvSETHGHi(hi);
    return lo;
}

ZV_API void *GETCURK(int keyno, void *buf, int32_t *len) {
    if (!zvWNGV) return nullptr;
    unsigned char *r = iGETCURK(keyno, buf, len);
    ierr(zvWNGV->uerr_cod, keyno);
    return r;
}

ZV_API int GETCURKL(int keyno, void *buf) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = index_of(keyno);
    if (!f) return g->uerr_cod;
    if (!buf) return set_uerr(540);
    int8_t st = settled_state(keyno, f, false);
    if (st == 2) return set_uerr(893);
    if (st != 1) return set_uerr(894);
    const size_t k = size_t(f->hdr.base.keylen);
    if (!f->curnodh && !f->curnodl) memset(buf, 0, k);
    else memcpy(buf, f->keybufs->cur, k);
    return set_uerr(0);
}

ZV_API uint32_t ESTKEY(int keyno, const void *key1, const void *key2) {
    zvSETHGHi(0);
    FCB *f = index_of(keyno);
    if (!f) return 0;
    if (f->hdr.ext.flmode2 & kFl2PartHost) return zvhostest('E', f, keyno, key1, key2, -1);
    set_uerr(0);
    uint64_t n = (uint64_t(f->hdr.ext.numenth) << 32) | f->hdr.base.nument;
    if (n == 0) return 0;
    int64_t d;
    if (key1) {
        int64_t p1 = binsrc(keyno, key1);
        int64_t p2 = key2 ? binsrc(keyno, key2) : 1000;
        d = p2 > p1 ? p2 - p1 : p1 - p2;
    } else {
        d = key2 ? binsrc(keyno, key2) : 1000;
        if (d < 0) d = -d;
    }
    return ret64((n * uint64_t(d) + n / 2) / 1000);
}

ZV_API uint32_t FRCKEY(int keyno, void *buf, int32_t percent) {
    if (percent < 0 || percent > 100) {
        zvSETHGHi(0);
        return set_uerr(60), 0u;
    }
    return iFRCKEY(keyno, buf, percent * 10);
}

ZV_API uint32_t RNGENT(int keyno, const void *key1, const void *key2) {
    zvSETHGHi(0);
    FCB *f = index_of(keyno);
    if (!f) return 0;
    if (f->hdr.ext.flmode2 & kFl2PartHost) return zvhostest('R', f, keyno, key1, key2, -1);
    unsigned char lowest[kMaxKeyLen], highest[kMaxKeyLen];
    const unsigned char *k1 = static_cast<const unsigned char *>(key1);
    const unsigned char *k2 = static_cast<const unsigned char *>(key2);
    if (!k1) {
        memset(lowest, 0x00, sizeof lowest);
        k1 = lowest;
    }
    if (!k2) {
        memset(highest, 0xFF, sizeof highest);
        k2 = highest;
    }
    IdxState &s = idx_state(zvWNGV);
    for (int attempt = 0;; attempt++) {
        set_uerr(0);
        if (attempt > kRestartLimit) return corrupt(f, "Corrupt index encountered during", "RNGENT"), fail();
        uint32_t rl = gtroot(f);
        uint32_t rh = uint32_t(zvGETHGHi());
        if (!rl && !rh) return 0;
        NODEBUF *b;
        int e;
        Found r = leaf_search(f, k1, "RNGENT", &b, &e);
        if (r == Found::Failed) return fail();
        if (r == Found::Restart) continue;
        int64_t count = -int64_t(e ? e - 1 : b->hdr.nkv);
        LoopGuard guard;
        bool restart = false;
        for (;;) {
            int x = nodser(b, k2, 'S', 0);
            if (x == -3) {
                restart = true;
                break;
            }
            if (x == -99) {
                count = 0;
                break;
            }
            if (x >= 1) {
                count += x - (s.cmp < 0 ? 1 : 0);
                break;
            }
            count += b->hdr.nkv;
            if (x == -2) break;
            uint32_t nh = b->hdr.sucesrh, nl = b->hdr.sucesr;
            if (!nh && !nl) break;
            if (guard.step(nh, nl)) return idx_corrupt(f, "Index with node loop found in RNGENT..."), fail();
            b = zvgetnod81(kNodRead, nh, nl, f);
            if (!b) return fail();
        }
        if (restart) continue;
        return ret64(uint64_t(count));
    }
}

ZV_API uint32_t ORDKEY(int keyno, const void *target, int32_t n, void *buf) {
    zvSETHGHi(0);
    FCB *f = index_of(keyno);
    if (!f) return 0;
    if (f->hdr.ext.flmode2 & kFl2PartHost) return set_uerr(454), 0u;
    if (!target || !buf) return set_uerr(540), 0u;
    if (n < 0) return set_uerr(446), 0u;
    for (int attempt = 0;; attempt++) {
        set_uerr(0);
        if (attempt > kRestartLimit) return corrupt(f, "Corrupt index encountered during", "ORDKEY"), fail();
        uint32_t rl = gtroot(f);
        uint32_t rh = uint32_t(zvGETHGHi());
        if (!rl && !rh) return 0;
        NODEBUF *b;
        int e;
        Found r = leaf_search(f, static_cast<const unsigned char *>(target), "ORDKEY", &b, &e);
        if (r == Found::Failed) return fail();
        if (r == Found::Restart) continue;
        if (r == Found::End) return 0;
        int64_t k = int64_t(e - 1) + n;
        LoopGuard guard;
        bool restart = false;
        while (k >= b->hdr.nkv) {
            k -= b->hdr.nkv;
            uint32_t nh = b->hdr.sucesrh, nl = b->hdr.sucesr;
            if (!nh && !nl) return fail();
            if (guard.step(nh, nl)) return idx_corrupt(f, "Index with node loop found in ORDKEY..."), fail();
            b = zvgetnod81(kNodRead, nh, nl, f);
            if (!b) return fail();
            if (is_deleted(b)) {
                restart = true;
                break;
            }
        }
        if (restart) continue;
        uint32_t lo = element_answer(b, int(k + 1), buf);
        int32_t hi = tsthghwrd();
        if (!lo && !hi) return 0;
        memcpy(f->keybufs->work, buf, size_t(f->hdr.base.keylen));
        f->curnodh = b->posh;
        f->curnodl = b->posl;
        f->curelm = int32_t(k + 1);
        return lo;
    }
}

ZV_API uint32_t ESTRNG(int keyno, const void *target1, const void *target2, int32_t *flag) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    zvSETHGHi(0);
    FCB *f = index_of(keyno);
    if (!f) {
        ierr(g->uerr_cod, keyno);
        return 0;
    }
    unsigned char a[kKeyRoom], b[kKeyRoom];
    const void *k1 = target1, *k2 = target2;
    const size_t k = size_t(f->hdr.base.keylen);
    if (!(g->userprof & 1)) {
        if (target1) {
            memcpy(a, target1, k);
            if (!TFRMKEY(keyno, a)) return ierr(g->uerr_cod ? g->uerr_cod : g->isamerr_cod, keyno), 0u;
            k1 = a;
        }
        if (target2) {
            memcpy(b, target2, k);
            if (!TFRMKEY(keyno, b)) return ierr(g->uerr_cod ? g->uerr_cod : g->isamerr_cod, keyno), 0u;
            k2 = b;
        }
    }
    uint32_t lo = (f->hdr.ext.flmode2 & kFl2PartHost) ? zvhostest('S', f, keyno, k1, k2, -1) : ESTKEY(keyno, k1, k2);
    int32_t hi = tsthghwrd();
    if (flag) *flag = 1;
    ierr(g->uerr_cod, keyno);
    zvSETHGHi(hi);
    return lo;
}

}  // extern "C"
