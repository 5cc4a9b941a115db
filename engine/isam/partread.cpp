// Partitioned files: the host's current record and the reads across its
// members.
//
// Every read of a host is carried out on a member; the member's current
// ISAM record is then copied to the host (hostcuri): its position with the
// member's raw number in the high word, its key images into the host's
// indexes of the same relative numbers, the previous ones kept as the
// saved copy. The way back (partcuri) makes the host's current record the
// member's again before a member continues from it.
//
// Members are walked in raw-number order. On the host data file and on a
// partition-ordered index (the partition index, or one that leads with the
// partition key: mark 0x20 of its key type) the records of member n all
// come before those of member n + 1, so first, last, next and previous read
// member after member. Any other host index is read by a key search across
// the members.
//
// Invariants:
//  1. A read that fails (101 past the end included) leaves the host's
//     current record as it was.
//  2. A member's current record is made the host's only when its position
//     can carry the raw number (717 otherwise, the host unchanged).
//  3. A read of a variable-length host gives every member the caller's
//     length afresh.
#include <cstring>

#include "engine/index/curkey.h"
#include "engine/core/filenum.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/files/identity.h"
#include "engine/isam/isam_services.h"
#include "engine/index/keyform_needs.h"
#include "engine/index/navstate.h"
#include "engine/isam/isammap.h"
#include "engine/isam/isamrec.h"
#include "engine/isam/isamstate.h"
#include "engine/isam/partition.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

constexpr int kSkip = 739;
constexpr int kOrderedMark = 0x20;   // key type: the index leads with the partition key

bool open_state(const FCB *f) { return f && (f->state == 'y' || f->state == 'v' || f->state == 'w'); }

KEYBUFSET *buffers_of(int ix) {
    FCB *x = ix >= 0 ? fcb_at(ix) : nullptr;
    return open_state(x) && x->kind == kKindIndex ? x->keybufs : nullptr;
}

// Copies the current records' index images from one data file to the
// other, relative key by relative key: each target index keeps its old
// image as the saved one.
void copy_images(int fromdat, int todat) {
    for (int k = 0; k < kMapIndexes; k++) {
        const int tx = isam_map_index(todat, k);
        if (tx == kIdxListEnd) break;
        if (tx < 0) continue;
        KEYBUFSET *t = buffers_of(tx);
        if (!t) continue;
        const int fx = isam_map_index(fromdat, k);
        KEYBUFSET *s = fx >= 0 ? buffers_of(fx) : nullptr;
        unsigned char *p = t->cur;
        t->cur = t->alt;
        t->alt = p;
        t->altstate = t->curstate;
        t->curstate = s ? s->curstate : 0;
        const size_t kl = size_t(fcb_at(tx)->hdr.base.keylen);
        if (t->curstate == 1) {
            memcpy(t->cur, s->cur, kl);
            memcpy(t->work, t->cur, kl);
        }
    }
}

// Whether index filno of a host reads member after member.
bool ordered(const FCB *x, const PARTDEF *pd, int rel) { return rel == pd->ptidx || (x->hdr.base.ktype & kOrderedMark); }

// The variable-length read's length is the caller's again for each try.
struct Length {
    int32_t *len;
    int32_t given;
    explicit Length(int32_t *l) : len(l), given(l ? *l : 0) {}
    void reset() const {
        if (len) *len = given;
    }
};

int first_of(int filno, void *rec, int32_t *len) { return len ? FRSVREC(filno, rec, len) : FRSREC(filno, rec); }
int last_of(int filno, void *rec, int32_t *len) { return len ? LSTVREC(filno, rec, len) : LSTREC(filno, rec); }
int next_of(int filno, void *rec, int32_t *len) { return len ? NXTVREC(filno, rec, len) : NXTREC(filno, rec); }
int prev_of(int filno, void *rec, int32_t *len) { return len ? PRVVREC(filno, rec, len) : PRVREC(filno, rec); }

// The file of member n that stands for host file filno (the member data
// file, or its index of the relative key rel): -1 when it has none.
int member_file(int n, int rel) { return rel < 0 ? n : relative_index(n, rel); }

// Makes the member's record current on the host and keeps the identity
// image of the record read.
int take_member(int hostno, int m, const void *rec, int32_t *len) {
    if (int rc = hostcuri(hostno, m)) return rc;
    FCB *host = fcb_at(hostno);
    if (identity_active(host)) identity_keep(host, rec, len ? *len : host->reclen);
    return 0;
}

// Walks the members from the one after raw (up) or before it (down),
// reading the first (up) or last (down) record of each one's file for rel,
// until one has a record: 0 with the host's current record set, 101 when
// the members end, or the error.
int walk_members(FCB *host, int hostno, int32_t raw, bool up, int rel, void *rec, const Length &l) {
    for (;;) {
        int m = up ? nxtpartno(host, hostno, &raw, false) : prvpartno(host, hostno, &raw);
        if (m == -2) return 101;
        if (m < 0) return zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 714;
        const int f = member_file(m, rel);
        if (f < 0) return 614;
        l.reset();
        int rc = up ? first_of(f, rec, l.len) : last_of(f, rec, l.len);
        if (rc == 101) continue;
        if (rc) return rc;
        return take_member(hostno, m, rec, l.len);
    }
}

// The host index keyno: its host and relative key, or 614.
int index_place(int keyno, int *hostno, int *rel) {
    *hostno = keymap_datno(keyno);
    if (*hostno < 0) return 614;
    *rel = host_index_slot(*hostno, keyno);
    return *rel < 0 ? 614 : 0;
}

}  // namespace

// ---- The current record -----------------------------------------------------------

int hostcuri(int hostno, int memberno) {
    FCB *h = fcb_at(hostno), *m = fcb_at(memberno);
    PARTDEF *pd = h ? h->partdef : nullptr;
    if (!pd || !m) return set_uerr(724);
    const int32_t raw = int32_t(m->hdr.ext.crew15);
    uint32_t hi = m->isamposh;
    if (zvoverloadpart(h, &hi, raw)) return 717;
    pd->ptrawsav = pd->ptraw;
    h->isamsavh = h->isamposh;
    h->isamsavl = h->isamposl;
    h->isamsavflags = h->isamflags;
    pd->ptraw = raw;
    h->isamposh = hi;
    h->isamposl = m->isamposl;
    zvsetisamflmd(&h->isamflags, m->isamflags);
    copy_images(memberno, hostno);
    return 0;
}

int partcuri(int memberno, int hostno) {
    FCB *h = fcb_at(hostno), *m = fcb_at(memberno);
    if (!h || !h->partdef || !m) return set_uerr(724), -1;
    uint32_t hi = h->isamposh;
    zvunfoldpart(h, &hi);
    m->isamsavh = m->isamposh;
    m->isamsavl = m->isamposl;
    m->isamsavflags = m->isamflags;
    m->isamposh = hi;
    m->isamposl = h->isamposl;
    zvsetisamflmd(&m->isamflags, h->isamflags);
    copy_images(hostno, memberno);
    return 0;
}

int hostkeyl(int hostix, int memberix) {
    KEYBUFSET *h = buffers_of(hostix), *m = buffers_of(memberix);
    if (!h || !m) return 0;
    memcpy(h->work, m->work, size_t(fcb_at(hostix)->hdr.base.keylen));
    return 0;
}

int current_member(FCB *host, int hostno) {
    INSTGV *g = zvWNGV;
    if (!host->isamposh && !host->isamposl) return set_uerr(g->uerr_cod ? g->uerr_cod : 100), -1;
    uint32_t hi = host->isamposh;
    const int32_t raw = zvunfoldpart(host, &hi);
    const int m = raw ? pfilno(hostno, raw, false) : -1;
    if (m < 0) {
        const int code = g->uerr_cod;
        return set_uerr(code == 720 || code == 721 ? code : 724), -1;
    }
    FCB *mf = fcb_at(m);
    if (mf->isamposh != hi || mf->isamposl != host->isamposl) partcuri(m, hostno);
    return m;
}

// ---- First, last, next, previous ----------------------------------------------------

int zvp_bndrec(FCB *f, bool first, int filno, void *rec, int32_t *len) {
    const Length l(len);
    if (f->kind != kKindIndex) {
        if (!first) return isam_end(48, filno);
        return isam_end(walk_members(f, filno, -1, true, -1, rec, l), filno);
    }
    int hostno = -1, rel = -1;
    if (int rc = index_place(filno, &hostno, &rel)) return isam_end(rc, filno);
    FCB *host = fcb_at(hostno);
    if (!host || !host->partdef) return isam_end(722, hostno);
    if (!ordered(f, host->partdef, rel)) {
        // Keys of any member may lie anywhere: a search across the members
        // for the lowest or highest key.
        unsigned char t[kIsamKeyRoom];
        memset(t, first ? 0x00 : 0xFF, sizeof t);
        isam_state(zvWNGV).partmarks |= kPartAcross;
        int rc = keyed_read(first ? 1 : 3, filno, t, rec, len, true);
        isam_state(zvWNGV).partmarks &= ~kPartAcross;
        return rc;
    }
    int rc = walk_members(host, hostno, first ? -1 : 0x7FFFFFFF, first, rel, rec, l);
    return isam_end(rc, filno);
}

int zvp_seqrec(FCB *f, bool next, int filno, void *rec, int32_t *len) {
    INSTGV *g = zvWNGV;
    const Length l(len);
    int hostno = filno, rel = -1;
    if (f->kind == kKindIndex) {
        if (int rc = index_place(filno, &hostno, &rel)) return isam_end(rc, filno);
    } else if (!next) {
        return isam_end(48, filno);
    }
    FCB *host = fcb_at(hostno);
    PARTDEF *pd = host ? host->partdef : nullptr;
    if (!pd) return isam_end(722, hostno);
    if (!host->isamposh && !host->isamposl) return isam_end(g->uerr_cod ? g->uerr_cod : 100, hostno);
    if (f->kind == kKindIndex && !ordered(f, pd, rel)) {
        // From the current key: strictly greater or less across members,
        // continuing from the current member.
        const unsigned char *cur = iGETCURK(filno, nullptr, nullptr);
        if (!cur) return isam_end(g->uerr_cod ? g->uerr_cod : 101, filno);
        unsigned char t[kIsamKeyRoom];
        memcpy(t, cur, size_t(f->hdr.base.keylen));
        uint32_t hi = host->isamposh;
        pd->ptsearch = zvunfoldpart(host, &hi);
        isam_state(g).partmarks |= kPartAcross | kPartContinue;
        int rc = keyed_read(next ? 2 : 4, filno, t, rec, len, true);
        isam_state(g).partmarks &= ~(kPartAcross | kPartContinue);
        return rc;
    }
    uint32_t hi = host->isamposh;
    const int32_t raw = zvunfoldpart(host, &hi);
    const int m = current_member(host, hostno);
    if (m < 0) return isam_end(g->uerr_cod, hostno);
    const int mf = member_file(m, rel);
    if (mf < 0) return isam_end(614, filno);
    int rc = next ? next_of(mf, rec, len) : prev_of(mf, rec, len);
    if (rc == 0) rc = take_member(hostno, m, rec, len);
    else if (rc == 101) rc = walk_members(host, hostno, raw, next, rel, rec, l);
    return isam_end(rc, rc ? (rc == 101 ? filno : g->isamfil_num) : filno);
}

// ---- Reads by position ------------------------------------------------------------

namespace {

// The member and member position of a host position: the member's file
// number with *hi reduced, or -1 with the error (724 no member).
int member_of_position(FCB *host, int hostno, uint32_t *hi) {
    INSTGV *g = zvWNGV;
    const int32_t raw = zvunfoldpart(host, hi);
    const int m = raw ? pfilno(hostno, raw, false) : -1;
    if (m >= 0) return m;
    const int code = g->uerr_cod;
    return set_uerr(code == 720 || code == 721 ? code : 724), -1;
}

}  // namespace

int part_read_at(int hostno, uint32_t hi, uint32_t lo, void *rec, int32_t *len) {
    INSTGV *g = zvWNGV;
    FCB *host = fcb_at(hostno);
    if (!hi && !lo) return isam_end(set_uerr(29), hostno);
    const int m = member_of_position(host, hostno, &hi);
    if (m < 0) return isam_end(g->uerr_cod, hostno);
    // A key selector of a host index moves to the member's index of the
    // same relative key for the read.
    const int32_t kept = nav_state(g).refsel;
    if (kept < 0) {
        const int rel = host_index_slot(hostno, -(kept + 1));
        const int mix = rel >= 0 ? relative_index(m, rel) : -1;
        nav_state(g).refsel = mix >= 0 ? -(mix + 1) : 0;
    }
    zvSETHGHi(int32_t(hi));
    int rc = len ? REDIVREC(m, lo, rec, len) : REDIREC(m, lo, rec);
    nav_state(g).refsel = kept;
    if (rc) return rc;
    return isam_end(take_member(hostno, m, rec, len), hostno);
}

int part_reset_cur(int keyno, int hostno, uint32_t hi, uint32_t lo, void *rec, int32_t *len) {
    FCB *host = fcb_at(hostno);
    const int rel = host_index_slot(hostno, keyno);
    if (rel < 0) return set_uerr(614);
    const int m = member_of_position(host, hostno, &hi);
    if (m < 0) return set_uerr(724);
    const int mix = relative_index(m, rel);
    FCB *mf = fcb_at(m);
    if (mix < 0 || !mf) return set_uerr(614);
    int rc = addlok81(mf, hi, lo, m);
    if (!rc) rc = ismred(m, mix, hi, lo, rec, len);
    if (rc == kSkip) {
        hostkeyl(keyno, mix);
        return set_uerr(kSkip);
    }
    if (rc) return set_uerr(rc);
    hostkeyl(keyno, mix);
    return set_uerr(take_member(hostno, m, rec, len));
}

int part_setcuri(int hostno, uint32_t hi, uint32_t lo, const void *rec, int32_t len) {
    FCB *host = fcb_at(hostno);
    const int m = member_of_position(host, hostno, &hi);
    if (m < 0) return zvWNGV->uerr_cod;
    int rc = iSETCURI(m, hi, lo, rec, len, -1, -1);
    if (int c = hostcuri(hostno, m)) return c;
    if (identity_active(host) && rec) identity_keep(host, rec, len > 0 ? len : host->reclen);
    return rc;
}

int part_redvrec(int hostno, void *buf, int32_t buflen) {
    FCB *host = fcb_at(hostno);
    const int m = current_member(host, hostno);
    if (m < 0) return isam_end(zvWNGV->uerr_cod, hostno);
    if (int rc = REDVREC(m, buf, buflen)) return rc;
    int32_t l = buflen;
    return isam_end(take_member(hostno, m, buf, &l), hostno);
}

int32_t part_getvlen(int hostno) {
    FCB *host = fcb_at(hostno);
    const int m = current_member(host, hostno);
    if (m < 0) return isam_end(zvWNGV->uerr_cod, hostno), 0;
    return GETVLEN(m);
}

}  // namespace zv
