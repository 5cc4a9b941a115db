// ISAM reads and the current ISAM record.
//
// Every read finds a record (by key through an index, by position, or in
// physical order), reads it, checks that it is a live record that still
// carries the key that led to it, and makes it the current ISAM record of
// its data file: the position in the data file's block, and per index the
// current key image formed from the record (KEYBUFSET cur with its state:
// 1 present, 0 no key, 2 not formed, 3 formed again on first use). The
// saved copy (position, flag, identity image, and per index the alternate
// image) is what the add and rewrite paths form their new keys into;
// UPDCURI moves between the two.
//
// Rules kept here:
//  1. A failed read leaves the current record as it was: nothing of the
//     current copy is touched before the record has been read and checked.
//  2. The find-value buffer (the found-key buffer of key navigation) holds
//     the key every search of a read found; a record whose key formed again
//     differs from it is refused (160), so an index entry that went stale
//     never makes a wrong record current.
//  3. 739 (the record filter refused a record) never leaves a read: the
//     keyed and sequential reads search past it, EQLREC answers 101.
//  4. With pages and nodes cached a read allocates nothing and makes no
//     system call: targets and keys live in the instance's buffers.
#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/bytes.h"
#include "engine/core/centralio.h"
#include "engine/core/pagecache.h"
#include "engine/core/fileio.h"
#include "engine/core/filenum.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/files/fixrec.h"
#include "engine/files/header.h"
#include "engine/files/identity.h"
#include "engine/files/memfile.h"
#include "engine/files/resource.h"
#include "engine/files/varrec.h"
#include "engine/index/curkey.h"
#include "engine/isam/isam_services.h"
#include "engine/index/keyform.h"
#include "engine/index/keyform_needs.h"
#include "engine/index/navstate.h"
#include "engine/index/node.h"
#include "engine/index/nodecache.h"
#include "engine/isam/isammap.h"
#include "engine/isam/isamrec.h"
#include "engine/isam/isamstate.h"
#include "engine/isam/sync.h"
#include "engine/isam/partition.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

constexpr uint16_t kLockFree = 0, kLockSuspended = 5;
constexpr int kSkip = 739;

inline bool wide(const FCB *f) { return (f->hdr.base.hdrflags & kHdr8ByteOffsets) != 0; }
inline bool is_member(const FCB *f) { return f->hdr.base.sfiltyp == kSfMember; }
inline bool keeps_high(const FCB *f) { return wide(f) || fcb_is_memory(f); }
inline uint64_t last_used(const FCB *f) {
    const FCB *h = is_member(f) && f->hostfcb ? f->hostfcb : f;
    return join64(h->hdr.ext.numrech, h->hdr.base.numrec);
}

FCB *open_fcb(int filno) {
    INSTGV *g = zvWNGV;
    if (!filno_in_table(filno)) return nullptr;
    FCB *f = g->fcbtab[filno];
    return f && (f->state == 'y' || f->state == 'v' || f->state == 'w') ? f : nullptr;
}

// The data file of an ISAM call: the open block, or null with the ISAM
// error set (the file layer's code; 48 for an index).
FCB *data_file(int datno) {
    INSTGV *g = zvWNGV;
    FCB *d = tstifnm(datno);
    if (!d) {
        ierr(g->uerr_cod, datno);
        return nullptr;
    }
    if (d->kind == kKindIndex) {
        ierr(48, datno);
        return nullptr;
    }
    return d;
}

// The index of a keyed call: the open block with its key buffers, or null
// with the ISAM error set.
FCB *index_file(int keyno) {
    INSTGV *g = zvWNGV;
    FCB *x = tstifnm(keyno);
    if (!x) {
        ierr(g->uerr_cod, keyno);
        return nullptr;
    }
    if (x->kind != kKindIndex || !x->keybufs) {
        ierr(48, keyno);
        return nullptr;
    }
    return x;
}

// A partitioned host data file: its reads go to its members.
inline bool part_host(const FCB *d) { return d->kind != kKindIndex && (d->hdr.ext.flmode2 & kFlmode2PartHost); }

inline void refresh_work(FCB *x) {
    KEYBUFSET *k = x->keybufs;
    if (k->curstate == 1) memcpy(k->work, k->cur, size_t(x->hdr.base.keylen));
}

}  // namespace

// ---- Helpers shared by the ISAM record modules ---------------------------------

bool identity_active(const FCB *f) { return f->idblk && !(f->idblk->state & kDarDeleted); }

int active_index(int datno, int slot) { return isam_map_index(datno, slot); }

KEYBUFSET *key_images(int ixno) {
    FCB *x = open_fcb(ixno);
    return x && x->kind == kKindIndex ? x->keybufs : nullptr;
}

int isam_end(int code, int filno) {
    ierr(code, code ? filno : 0);
    if (!code) set_uerr(0);
    return code;
}

void flush_after_write(FCB *d, int datno) {
    if ((d->hdr.base.flmode & 0x40) || (d->stflags & kStForceDisk)) flushdos(datno);
}

int addlok81(FCB *, uint32_t hi, uint32_t lo, int filno) {
    INSTGV *g = zvWNGV;
    const uint16_t mode = g->isamlockmode;
    if (mode == kLockFree || mode == kLockSuspended || nav_state(g).isammode == kLockSuspended) return 0;
    if (!hi && !lo) return set_uerr(29);
    return set_uerr(zvultbl81(filno, hi, lo, 0));
}

int chkism(int datno, FCB *d, uint64_t *pos) {
    set_uerr(0);
    *pos = 0;
    if (d->kind == kKindIndex) return set_uerr(48);
    uint32_t hi = d->isamposh, lo = d->isamposl;
    if (!hi && !lo) return 100;
    if (int rc = addlok81(d, hi, lo, datno)) return rc;
    *pos = join64(hi, lo);
    return 0;
}

// ---- Making a record current ------------------------------------------------------

void clear_isam_position(FCB *f) { f->isamposh = f->isamposl = 0; }

// The data file's block when index keyno belongs to it, else null (the key
// formation then finds the index's own data file).
inline FCB *data_of_index(int keyno, int datno, FCB *d) { return keymap_datno(keyno) == datno ? d : nullptr; }

// zvputk81 into the current image of index ix, whose open block x the
// caller holds, with its data file d (datno) handed down.
unsigned char *form_key_image(int ix, FCB *x, int datno, FCB *d, const void *rec, uint32_t hi, uint32_t lo,
                              int32_t len) {
    if (x->kind != kKindIndex) return zvputk81(ix, rec, hi, lo, 0, len);
    set_uerr(0);
    return put_key_image(ix, x, data_of_index(ix, datno, d), rec, hi, lo, 0, len);
}

int iSETCURI(int datno, uint32_t hi, uint32_t lo, const void *rec, int32_t len, int pref, int leave) {
    INSTGV *g = zvWNGV;
    FCB *d = open_fcb(datno);
    if (!d) return set_uerr(26);
    if (d->kind == kKindIndex) return 48;
    if (!keeps_high(d)) hi = 0;
    if (pref < 0 && pref != -2 && nav_state(g).refsel < 0) pref = -(nav_state(g).refsel + 1);
    int result = 0;
    bool invalid = false;
    if (rec) {
        if (len <= 0) len = d->reclen;
        for (int slot = 0; slot < kMapIndexes; slot++) {
            int ix = active_index(datno, slot);
            if (ix == kIdxListEnd) break;
            if (ix < 0) continue;
            FCB *x = open_fcb(ix);
            if (!x || !x->keybufs) continue;
            KEYBUFSET *k = x->keybufs;
            if (pref >= 0 && ix != pref) {
                k->curstate = 3;
                continue;
            }
            if (pref == -2 && k->curstate == 3) continue;
            if (ix == leave) {
                refresh_work(x);
                continue;
            }
            if (form_key_image(ix, x, datno, d, rec, hi, lo, len)) {
                refresh_work(x);
            } else if (g->isamerr_cod) {
                invalid = true;
                if (!result) result = g->isamerr_cod;
            }
        }
    } else {
        for (int slot = 0; slot < kMapIndexes; slot++) {
            int ix = active_index(datno, slot);
            if (ix == kIdxListEnd) break;
            if (KEYBUFSET *k = ix >= 0 ? key_images(ix) : nullptr) k->curstate = 2;
        }
        invalid = true;
    }
    if (invalid) d->isamflags |= kIsamKeysInvalid;
    else d->isamflags &= ~kIsamKeysInvalid;
    if (identity_active(d)) {
        if (rec) {
            identity_keep(d, rec, len);
            if (d->idkeptlen <= 0 && !result) result = 445;
        } else {
            d->idkeptlen = 0;
        }
    }
    d->isamposh = hi;
    d->isamposl = lo;
    ierr(result, result ? datno : 0);
    return result;
}

void zvsetisamflmd(uint32_t *flags, uint32_t saved) {
    *flags = (*flags & ~kIsamKeysInvalid) | (saved & kIsamKeysInvalid);
}

int iUPDCURI(int datno, int mode) {
    FCB *d = open_fcb(datno);
    if (!d) return set_uerr(26);
    if (d->kind == kKindIndex) return 48;
    if (mode < 0 || mode > 2) return 116;
    if (PARTDEF *pd = d->partdef) {
        const int32_t raw = pd->ptraw, sav = pd->ptrawsav;
        if (mode == 0) pd->ptrawsav = raw;
        else if (mode == 1) pd->ptraw = sav;
        else pd->ptraw = sav, pd->ptrawsav = raw;
    }
    switch (mode) {
    case 0:
        d->isamsavh = d->isamposh;
        d->isamsavl = d->isamposl;
        d->isamsavflags = d->isamflags;
        memcpy(d->idalt, d->idkept, sizeof d->idalt);
        d->idaltlen = d->idkeptlen;
        break;
    case 1:
        d->isamposh = d->isamsavh;
        d->isamposl = d->isamsavl;
        zvsetisamflmd(&d->isamflags, d->isamsavflags);
        memcpy(d->idkept, d->idalt, sizeof d->idkept);
        d->idkeptlen = d->idaltlen;
        break;
    default: {
        uint32_t h = d->isamposh, l = d->isamposl, fl = d->isamflags;
        d->isamposh = d->isamsavh;
        d->isamposl = d->isamsavl;
        d->isamsavh = h;
        d->isamsavl = l;
        zvsetisamflmd(&d->isamflags, d->isamsavflags);
        zvsetisamflmd(&d->isamsavflags, fl);
        unsigned char id[8];
        memcpy(id, d->idkept, 8);
        memcpy(d->idkept, d->idalt, 8);
        memcpy(d->idalt, id, 8);
        int8_t il = d->idkeptlen;
        d->idkeptlen = d->idaltlen;
        d->idaltlen = il;
        break;
    }
    }
    for (int slot = 0; slot < kMapIndexes; slot++) {
        int ix = active_index(datno, slot);
        if (ix == kIdxListEnd) break;
        if (ix < 0) continue;
        FCB *x = open_fcb(ix);
        if (!x || !x->keybufs) continue;
        KEYBUFSET *k = x->keybufs;
        const size_t kl = size_t(x->hdr.base.keylen);
        if (mode == 0) {
            k->altstate = k->curstate;
            if (k->curstate) memcpy(k->alt, k->cur, kl);
        } else if (mode == 1) {
            k->curstate = k->altstate;
            if (k->altstate) memcpy(k->cur, k->alt, kl);
            refresh_work(x);
        } else {
            unsigned char *p = k->cur;
            k->cur = k->alt;
            k->alt = p;
            int8_t s = k->curstate;
            k->curstate = k->altstate;
            k->altstate = s;
            refresh_work(x);
        }
    }
    return 0;
}

void take_written_current(FCB *d, int datno, uint32_t hi, uint32_t lo, const void *rec, int32_t len) {
    d->isamsavh = keeps_high(d) ? hi : 0;
    d->isamsavl = lo;
    d->isamsavflags = 0;
    iUPDCURI(datno, 2);
    if (identity_active(d)) identity_keep(d, rec, len);
}

// ---- Reading a record and making it current ------------------------------------

int ismred(int datno, int keyno, uint32_t hi, uint32_t lo, void *buf, int32_t *len) {
    INSTGV *g = zvWNGV;
    FCB *d = g->fcbtab[datno];
    isam_state(g).varidx = 0;
    if (!buf) return set_uerr(33);
    int32_t got = 0;
    if (!len) {
        zvSETHGHi(int32_t(hi));
        if (int rc = REDREC(datno, lo, buf)) return rc;
        const auto *p = static_cast<const unsigned char *>(buf);
        if (d->kind == kKindVariable) {
            VRECHDR h;
            if (int rc = getvhdr81(d, keeps_high(d) ? hi : 0, lo, &h)) return rc;
            if (h.mark != kVrecUsed || h.reclen == 0) return set_uerr(114);
        } else if (p[0] == 0xFF || (p[0] == 0xFE && p[1] == 0xFE)) {
            return set_uerr(114);
        }
        got = d->reclen;
    } else {
        if (*len < 0) return set_uerr(634);
        // A length of 0 asks the record's length only; a buffer shorter
        // than the record is refused (153) with the length needed.
        const int32_t want = *len;
        int32_t full = 0;
        zvSETHGHi(int32_t(hi));
        int rc = iRDVREC(datno, lo, buf, want, want == 0 ? 0 : 1, &full);
        if (full > 0) *len = full;
        if (rc) return rc;
        if (want == 0) return iSETCURI(datno, hi, lo, nullptr, 0, -1, -1);
        got = full;
    }
    if (keyno == datno) return iSETCURI(datno, hi, lo, buf, got, -1, -1);

    // Read through an index: the record must still carry the key found.
    FCB *x = g->fcbtab[keyno];
    KEYBUFSET *k = x->keybufs;
    const ISAMMAPENT *e = isam_entry(keyno);
    const bool varkey = e && e->varpart;
    if (varkey && !len) {
        // The key needs the variable part: it is formed when the whole
        // record is read (REDVREC), or on first use.
        int rc = iSETCURI(datno, hi, lo, buf, got, -1, keyno);
        k->curstate = 3;
        isam_state(g).varidx = keyno + 1;
        return rc;
    }
    const size_t kl = size_t(x->hdr.base.keylen);
    zvSETHGHi(int32_t(hi));
    set_uerr(0);
    int32_t n = ifrmkey(keyno, -1, open_fcb(keyno), data_of_index(keyno, datno, open_fcb(datno)),
                        static_cast<const unsigned char *>(buf), isam_state(g).keywork, -1, lo, got);
    if (n > 0 && memcmp(isam_state(g).keywork, nav_state(g).foundkey, kl) == 0) {
        memcpy(k->cur, isam_state(g).keywork, kl);
        k->curstate = 1;
        return iSETCURI(datno, hi, lo, buf, got, -1, keyno);
    }
    return set_uerr(160);
}

int reset_cur2(int keyno, uint32_t posh, uint32_t posl, void *record, int32_t *len) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!posh && !posl) {
        int code = g->uerr_cod ? g->uerr_cod : 101;
        ierr(code, keyno);
        return set_uerr(code);
    }
    int datno = keymap_datno(keyno);
    if (datno < 0) {
        ierr(614, keyno);
        return set_uerr(614);
    }
    FCB *d = tstifnm(datno);
    if (!d) {
        ierr(g->uerr_cod, datno);
        return g->uerr_cod;
    }
    int rc = part_host(d) ? part_reset_cur(keyno, datno, posh, posl, record, len) : addlok81(d, posh, posl, datno);
    if (!rc && !part_host(d)) rc = ismred(datno, keyno, posh, posl, record, len);
    if (rc) {
        zvclrlockon();
        ierr(rc, datno);
        return set_uerr(rc);
    }
    ierr(0, 0);
    return set_uerr(0);
}

int reset_cur(int keyno, uint32_t, uint32_t, void *record) { return reset_cur2(keyno, 0, 0, record, nullptr); }

int zv_chkplen(const int32_t *len) {
    if (len) return 0;
    ierr(633, 0);
    return set_uerr(633);
}

namespace {

// ---- Keyed reads ------------------------------------------------------------------

enum class Op { Eql, Gte, Gt, Lte, Lt };

uint32_t search(Op op, int keyno, const unsigned char *target, unsigned char *out) {
    switch (op) {
    case Op::Eql: return EQLKEY(keyno, target);
    case Op::Gte: return GTEKEY(keyno, target, out);
    case Op::Gt: return GTKEY(keyno, target, out);
    case Op::Lte: return LTEKEY(keyno, target, out);
    case Op::Lt: return LTKEY(keyno, target, out);
    }
    return 0;
}

int getREC(Op op, int keyno, const void *target, void *record, int32_t *len, bool keyform = false) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    FCB *x = index_file(keyno);
    if (!x) return g->isamerr_cod;
    if (!target) return isam_end(set_uerr(540), keyno);
    if (!record) return isam_end(set_uerr(33), keyno);
    const size_t kl = size_t(x->hdr.base.keylen);
    unsigned char *t = isam_state(g).target;
    memcpy(t, target, kl);
    if (!(g->userprof & 1) && !keyform) {
        void *r = (op == Op::Lte || op == Op::Gt) ? lTFRMKEY(keyno, t) : TFRMKEY(keyno, t);
        if (!r) return isam_end(g->isamerr_cod ? g->isamerr_cod : g->uerr_cod ? g->uerr_cod : 80, keyno);
    }
    unsigned char *found = nav_state(g).foundkey;
    const int32_t given = len ? *len : 0;
    if (op == Op::Eql) {
        memcpy(found, t, kl);
        uint32_t lo = EQLKEY(keyno, t);
        uint32_t hi = uint32_t(tsthghwrd());
        int rc = reset_cur2(keyno, hi, lo, record, len);
        if (rc == kSkip) rc = 101;
        return isam_end(rc, rc == 101 ? keyno : g->isamfil_num);
    }
    for (;;) {
        uint32_t lo = search(op, keyno, t, found);
        uint32_t hi = uint32_t(tsthghwrd());
        int rc = reset_cur2(keyno, hi, lo, record, len);
        if (rc != kSkip) return isam_end(rc, rc == 101 ? keyno : g->isamfil_num);
        // Search again past the refused entry.
        memcpy(t, x->keybufs->work, kl);
        if (op == Op::Gte) op = Op::Gt;
        if (op == Op::Lte) op = Op::Lt;
        if (len) *len = given;
    }
}

// ---- Key order: first, last, next, previous -----------------------------------

// First (first true) or last record of an index.
int bndrec(int keyno, bool first, void *record, int32_t *len) {
    INSTGV *g = zvWNGV;
    unsigned char *found = nav_state(g).foundkey;
    const int32_t given = len ? *len : 0;
    uint32_t lo = first ? FRSKEY(keyno, found) : LSTKEY(keyno, found);
    for (;;) {
        uint32_t hi = uint32_t(tsthghwrd());
        int rc = reset_cur2(keyno, hi, lo, record, len);
        if (rc != kSkip) return isam_end(rc, rc == 101 ? keyno : g->isamfil_num);
        if (len) *len = given;
        lo = first ? NXTKEY(keyno, found) : PRVKEY(keyno, found);
    }
}

// Record position of element n of an uncompressed leaf, read in place
// without touching the buffer or reporting anything: false when there is
// no such element.
bool leaf_position(const NODEBUF *b, int n, uint32_t *hi, uint32_t *lo) {
    if (!b->hdr.leaf || is_deleted(b) || is_compressed(b) || n < 1 || n > b->hdr.nkv) return false;
    if (int64_t(n) * b->esize > b->hdr.nkb) return false;
    const unsigned char *e = b->elems + int64_t(n - 1) * b->esize;
    if (b->kind == 0) {
        // A duplicate leaf holds the position in the key's suffix, most
        // significant byte first.
        const unsigned char *p = e + b->keylen - b->psize;
        *hi = b->hug ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3] : 0;
        if (b->hug) p += 4;
        *lo = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    } else {
        get_elem_ptr(e, b->hug, hi, lo);
    }
    return *hi || *lo;
}

// A walk in key order reads the records of one leaf one after another, each
// most likely on another data page: the record of the key after the current
// one (before it, walking back) is fetched into the processor's cache now,
// while the caller works on the record just read. Only what is cached is
// looked at, and nothing of either cache changes.
constexpr int kPrefetchAhead = 2;
void prefetch_following(FCB *x, FCB *d, bool next) {
    if (d->kind != kKindFixed || part_host(d) || fcb_is_memory(x) || fcb_is_memory(d) || x->curelm < 1) return;
    if (!x->curnodh && !x->curnodl) return;
    const NODEBUF *b = zvgetnod81(kNodProbe, x->curnodh, x->curnodl, x);
    if (!b) return;
    const int step = next ? 1 : -1;
    for (int ahead = 1; ahead <= kPrefetchAhead; ahead++) {
        uint32_t hi = 0, lo = 0;
        if (!leaf_position(b, x->curelm + step * ahead, &hi, &lo)) return;
        pagecache_prefetch(d, join64(keeps_high(d) ? hi : 0, lo), d->reclen);
    }
}

// Next (next true) or previous record of an index from the current record.
int seqrec(int keyno, bool next, void *record, int32_t *len) {
    INSTGV *g = zvWNGV;
    int datno = keymap_datno(keyno);
    if (datno < 0) return isam_end(614, keyno);
    FCB *d = data_file(datno);
    if (!d) return g->isamerr_cod;
    if (!d->isamposh && !d->isamposl) return isam_end(100, datno);
    unsigned char *found = nav_state(g).foundkey;
    const int32_t given = len ? *len : 0;
    int mode = next ? 1 : 2;
    for (;;) {
        set_uerr(0);
        uint32_t lo = seqikey(keyno, found, mode);
        uint32_t hi = uint32_t(tsthghwrd());
        if (!lo && !hi && g->uerr_cod) return isam_end(g->uerr_cod, keyno);
        int rc = reset_cur2(keyno, hi, lo, record, len);
        if (rc == 0) {
            if (FCB *x = open_fcb(keyno); x && x->kind == kKindIndex) prefetch_following(x, d, next);
        }
        if (rc != kSkip) return isam_end(rc, rc == 101 ? keyno : g->isamfil_num);
        if (len) *len = given;
        mode |= 0x20;
    }
}

// ---- Physical order --------------------------------------------------------------

enum class Dir { First, Last, Next, Prev };

// The resource area of a fixed-length file that holds pos, by a walk of
// the file's resource ring: true with its start and length.
bool resource_at(FCB *d, uint64_t pos, uint64_t *start, uint64_t *len) {
    uint64_t anchor = join64(wide(d) ? d->hdr.ext.reshdrh : 0, d->hdr.base.reshdr);
    if (!anchor) return false;
    const uint64_t limit = last_used(d) / (d->reclen ? d->reclen : 1) + 2;
    uint64_t at = anchor;
    for (uint64_t i = 0; i < limit; i++) {
        RESHDR h;
        if (getrhdr(d, at, &h) != 0) {
            set_uerr(0);
            return false;
        }
        uint64_t area = (uint64_t(h.arealen) + d->reclen - 1) / d->reclen * d->reclen;
        if (pos >= at && pos < at + area) {
            *start = at;
            *len = area;
            return true;
        }
        at = h.fwd;
        if (at == anchor || at == 0) break;
    }
    return false;
}

// The walk of a fixed-length file from pos in direction step (+1 / -1):
// the position of the next live record at or beyond pos, or 0 with the
// walk's code (27 before the first record, 30 beyond the last byte used).
int walk_fixed(FCB *d, uint64_t *pos, int step, bool *live) {
    const uint64_t r = d->reclen;
    const uint64_t first = begbytfix(d);
    const uint64_t last = last_used(d);
    *live = false;
    for (;;) {
        uint64_t p = *pos;
        if (p == 0 || p < first) return 27;
        if (p > last || p + r - 1 > last) return 30;
        if (step < 0) {
            uint64_t rs, rl;
            if (resource_at(d, p, &rs, &rl)) {
                if (rs < first + r) return 27;
                *pos = rs - r;
                continue;
            }
        }
        unsigned char m[6];
        const int32_t n = r >= 6 ? 6 : int32_t(r);
        int rc = raw_read(d, p, m, n);
        if (read_at_end(rc)) {
            // A slot handed out and freed before its record was ever
            // written: it lies at the end and holds no record.
            set_uerr(0);
            m[0] = 0xFF;
        } else if (rc) {
            return rc;
        }
        if (m[0] == 0xFF) {
            if (step < 0 && p < first + r) return 27;
            *pos = step > 0 ? p + r : p - r;
            continue;
        }
        if (n >= 2 && m[0] == 0xFE && m[1] == 0xFE) {
            if (step > 0) {
                uint64_t area = n >= 6 ? le::get32(m + 2) : r;
                area = area ? (area + r - 1) / r * r : r;
                *pos = p + area;
            } else {
                if (p < first + r) return 27;
                *pos = p - r;
            }
            continue;
        }
        *live = true;
        return 0;
    }
}

// A fixed-length member keeps a freed record in its area, which stays in
// use: the record bytes after the area header carry the delete mark (or the
// resource mark). True for such a slot; a failed read leaves its code in rc.
bool member_slot_freed(FCB *d, uint64_t pos, int *rc) {
    if (d->kind != kKindFixed) return false;
    unsigned char m[2] = {0, 0};
    const int32_t n = d->reclen >= 2 ? 2 : 1;
    if ((*rc = raw_read(d, pos + vhdr_size(d), m, n))) return false;
    return m[0] == 0xFF || (n == 2 && m[0] == 0xFE && m[1] == 0xFE);
}

// The forward walk of a variable-length file (or a superfile member) from
// pos: the next area with a live record at or beyond pos.
int walk_variable(FCB *d, uint64_t *pos) {
    const uint64_t last = last_used(d);
    for (;;) {
        uint64_t p = *pos;
        if (p == 0) return 27;
        if (p > last) return 30;
        VRECHDR h;
        if (int rc = getvhdr81(d, uint32_t(p >> 32), uint32_t(p), &h)) return rc;
        switch (h.mark) {
        case kVrecUsed:
            if (h.reclen == 0) return set_uerr(158);
            return 0;
        case kVrecFree:
        case kVrecMemberFree:
        case kVrecNode:
        case kVrecResource:
            if (h.arealen == 0) return set_uerr(158);
            *pos = p + h.arealen;
            continue;
        default:
            return set_uerr(158);
        }
    }
}

int phyrec(int datno, Dir dir, void *record, int32_t *len) {
    INSTGV *g = zvWNGV;
    FCB *d = data_file(datno);
    if (!d) return g->isamerr_cod;
    if (!record) return isam_end(set_uerr(33), datno);
    const bool variable = d->kind == kKindVariable;
    const bool member = is_member(d);
    const bool memory = fcb_is_memory(d);
    if ((dir == Dir::Last || dir == Dir::Prev) && (variable || member || memory)) return isam_end(48, datno);
    const int32_t given = len ? *len : 0;
    uint64_t pos = 0;
    uint32_t mh = 0;
    switch (dir) {
    case Dir::First:
        if (memory) {
            mh = 0xFFFFFFFFu;
            uint32_t lo = zvnxtmemrec(d, &mh, 0xFFFFFFFFu);
            pos = join64(mh, lo);
        } else if (member) {
            pos = join64(d->hdr.ext.sfmemberh, uint32_t(d->hdr.base.sfmember));
        } else {
            pos = variable ? first_node_offset(d) : begbytfix(d);
        }
        break;
    case Dir::Last: {
        uint64_t lu = last_used(d) + 1;
        pos = lu >= d->reclen ? lu - d->reclen : 0;
        break;
    }
    case Dir::Next:
    case Dir::Prev: {
        uint64_t cur = join64(d->isamposh, d->isamposl);
        if (!cur) return isam_end(g->uerr_cod ? g->uerr_cod : 100, datno);
        if (memory) {
            mh = uint32_t(cur >> 32);
            uint32_t lo = zvnxtmemrec(d, &mh, uint32_t(cur));
            pos = join64(mh, lo);
        } else if (member || variable) {
            VRECHDR h;
            if (int rc = getvhdr81(d, uint32_t(cur >> 32), uint32_t(cur), &h)) return isam_end(rc, datno);
            if (member) pos = join64(h.prevh, h.prevl);
            else pos = h.arealen ? cur + h.arealen : 0;
        } else {
            pos = dir == Dir::Next ? cur + d->reclen : (cur > d->reclen ? cur - d->reclen : 0);
        }
        break;
    }
    }
    const int step = (dir == Dir::Last || dir == Dir::Prev) ? -1 : 1;
    for (;;) {
        int rc = 0;
        if (memory) {
            if (!pos) rc = 27;
        } else if (member) {
            if (!pos) {
                rc = 27;
            } else {
                VRECHDR h;
                rc = getvhdr81(d, uint32_t(pos >> 32), uint32_t(pos), &h);
                if (!rc && (h.mark != kVrecUsed || member_slot_freed(d, pos, &rc))) {
                    // A member's areas are chained from the newest back, each
                    // to one made before it, lower in the host: a link that
                    // does not go down is a damaged chain, not a walk.
                    const uint64_t prev = join64(h.prevh, h.prevl);
                    if (prev >= pos) return isam_end(set_uerr(158), datno);
                    pos = prev;
                    continue;
                }
            }
        } else if (variable) {
            rc = walk_variable(d, &pos);
        } else {
            bool live = false;
            rc = walk_fixed(d, &pos, step, &live);
        }
        if (rc == 27 || rc == 30 || read_at_end(rc)) return isam_end(101, datno);
        if (rc) return isam_end(rc, datno);
        const uint32_t hi = uint32_t(pos >> 32), lo = uint32_t(pos);
        rc = addlok81(d, hi, lo, datno);
        if (!rc) rc = ismred(datno, datno, hi, lo, record, len);
        if (rc != kSkip) {
            if (rc && rc != 114 && (g->opword & 0x80000)) {
                d->isamposh = hi;
                d->isamposl = lo;
            }
            if (rc) zvclrlockon();
            return isam_end(rc, datno);
        }
        // Refused by the filter: on to the next record.
        if (len) *len = given;
        if (memory) {
            mh = hi;
            uint32_t nl = zvnxtmemrec(d, &mh, lo);
            pos = join64(mh, nl);
        } else if (member) {
            VRECHDR h;
            if (int e = getvhdr81(d, hi, lo, &h)) return isam_end(e, datno);
            pos = join64(h.prevh, h.prevl);
        } else if (variable) {
            VRECHDR h;
            if (int e = getvhdr81(d, hi, lo, &h)) return isam_end(e, datno);
            pos += h.arealen;
        } else {
            pos = step > 0 ? pos + d->reclen : (pos > d->reclen ? pos - d->reclen : 0);
        }
    }
}

// Sequential reads: by key order for an index number, in physical order
// for a data file number.
int walk(int filno, Dir dir, void *record, int32_t *len) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    FCB *f = tstifnm(filno);
    if (!f) return isam_end(g->uerr_cod, filno);
    const FCB *host = f->kind == kKindIndex ? fcb_at(keymap_datno(filno)) : f;
    if (host && part_host(host)) {
        if (!record) return isam_end(set_uerr(33), filno);
        if (f->kind == kKindIndex && !f->keybufs) return isam_end(48, filno);
        if (dir == Dir::First || dir == Dir::Last) return zvp_bndrec(f, dir == Dir::First, filno, record, len);
        return zvp_seqrec(f, dir == Dir::Next, filno, record, len);
    }
    if (f->kind == kKindIndex) {
        if (!f->keybufs) return isam_end(48, filno);
        if (!record) return isam_end(set_uerr(33), filno);
        if (dir == Dir::First || dir == Dir::Last) return bndrec(filno, dir == Dir::First, record, len);
        return seqrec(filno, dir == Dir::Next, record, len);
    }
    return phyrec(filno, dir, record, len);
}

// Reads by position: REDIREC, REDIVREC and RRDREC.
int read_at(int datno, uint32_t hi, uint32_t lo, void *record, int32_t *len) {
    INSTGV *g = zvWNGV;
    FCB *d = data_file(datno);
    if (!d) return g->isamerr_cod;
    if (part_host(d)) return part_read_at(datno, hi, lo, record, len);
    if (!keeps_high(d)) hi = 0;
    set_uerr(0);
    int rc = addlok81(d, hi, lo, datno);
    if (!rc && !hi && !lo) rc = set_uerr(29);
    if (!rc) rc = ismred(datno, datno, hi, lo, record, len);
    if (rc) zvclrlockon();
    return isam_end(rc, datno);
}

}  // namespace

int keyed_read(int op, int keyno, const void *target, void *rec, int32_t *len, bool keyform) {
    static constexpr Op kOps[5] = {Op::Eql, Op::Gte, Op::Gt, Op::Lte, Op::Lt};
    if (op < 0 || op > 4) return isam_end(116, keyno);
    return getREC(kOps[op], keyno, target, rec, len, keyform);
}

int next_live_record(FCB *d, uint64_t *pos) {
    if (d->kind == kKindVariable) return walk_variable(d, pos);
    bool live = false;
    return walk_fixed(d, pos, 1, &live);
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int EQLREC(int keyno, const void *target, void *record) { return getREC(Op::Eql, keyno, target, record, nullptr); }
ZV_API int GTEREC(int keyno, const void *target, void *record) { return getREC(Op::Gte, keyno, target, record, nullptr); }
ZV_API int GTREC(int keyno, const void *target, void *record) { return getREC(Op::Gt, keyno, target, record, nullptr); }
ZV_API int LTEREC(int keyno, const void *target, void *record) { return getREC(Op::Lte, keyno, target, record, nullptr); }
ZV_API int LTREC(int keyno, const void *target, void *record) { return getREC(Op::Lt, keyno, target, record, nullptr); }

#define ZV_VARIABLE_READ(name, body)                          \
    ZV_API int name {                                         \
        if (!zvWNGV) return 47;                               \
        zvWNGV->isamerr_cod = 0;                              \
        if (int rc = zv_chkplen(len)) return rc;              \
        return body;                                          \
    }

ZV_VARIABLE_READ(EQLVREC(int keyno, const void *target, void *record, int32_t *len),
                 getREC(Op::Eql, keyno, target, record, len))
ZV_VARIABLE_READ(GTEVREC(int keyno, const void *target, void *record, int32_t *len),
                 getREC(Op::Gte, keyno, target, record, len))
ZV_VARIABLE_READ(GTVREC(int keyno, const void *target, void *record, int32_t *len),
                 getREC(Op::Gt, keyno, target, record, len))
ZV_VARIABLE_READ(LTEVREC(int keyno, const void *target, void *record, int32_t *len),
                 getREC(Op::Lte, keyno, target, record, len))
ZV_VARIABLE_READ(LTVREC(int keyno, const void *target, void *record, int32_t *len),
                 getREC(Op::Lt, keyno, target, record, len))
ZV_VARIABLE_READ(FRSVREC(int filno, void *record, int32_t *len), walk(filno, Dir::First, record, len))
ZV_VARIABLE_READ(LSTVREC(int filno, void *record, int32_t *len), walk(filno, Dir::Last, record, len))
ZV_VARIABLE_READ(NXTVREC(int filno, void *record, int32_t *len), walk(filno, Dir::Next, record, len))
ZV_VARIABLE_READ(PRVVREC(int filno, void *record, int32_t *len), walk(filno, Dir::Prev, record, len))

ZV_API int FRSREC(int filno, void *record) { return walk(filno, Dir::First, record, nullptr); }
ZV_API int LSTREC(int filno, void *record) { return walk(filno, Dir::Last, record, nullptr); }
ZV_API int NXTREC(int filno, void *record) { return walk(filno, Dir::Next, record, nullptr); }
ZV_API int PRVREC(int filno, void *record) { return walk(filno, Dir::Prev, record, nullptr); }

ZV_API int REDIREC(int datno, uint32_t poslow, void *record) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    uint32_t hi = uint32_t(zvGETHGHi());
    g->isamerr_cod = 0;
    return read_at(datno, hi, poslow, record, nullptr);
}

ZV_API int REDIVREC(int datno, uint32_t poslow, void *record, int32_t *len) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    uint32_t hi = uint32_t(zvGETHGHi());
    g->isamerr_cod = 0;
    if (int rc = zv_chkplen(len)) return rc;
    return read_at(datno, hi, poslow, record, len);
}

ZV_API int RRDREC(int datno, void *record) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    FCB *d = data_file(datno);
    if (!d) return g->isamerr_cod;
    if (!d->isamposh && !d->isamposl) return isam_end(g->uerr_cod ? g->uerr_cod : 100, datno);
    return read_at(datno, d->isamposh, d->isamposl, record, nullptr);
}

ZV_API int SETCURI(int datno, uint32_t poslow, const void *record, int32_t len) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    uint32_t hi = uint32_t(zvGETHGHi());
    g->isamerr_cod = 0;
    FCB *d = data_file(datno);
    if (!d) return g->isamerr_cod;
    if (len < 0) return isam_end(634, datno);
    if (part_host(d)) return isam_end(part_setcuri(datno, hi, poslow, record, len), datno);
    return isam_end(iSETCURI(datno, hi, poslow, record, len, -1, -1), datno);
}

ZV_API int UPDCURI(int datno, int mode) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    if (!data_file(datno)) return g->isamerr_cod;
    return isam_end(iUPDCURI(datno, mode), datno);
}

ZV_API int setfndval(const void *buffer, int32_t len) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!buffer || len <= 0) return 0;
    if (len > 1024) len = 1024;
    memcpy(nav_state(g).foundkey, buffer, size_t(len));
    return 0;
}

}  // extern "C"
