// Variable-length record operations: add, rewrite and delete with all keys,
// the partial rewrite of the current record (fixed or variable), the read
// of the whole current record and its length.
//
// A variable-length record lives in an area (header VRECHDR, then the
// record). A rewrite that fits stays in place; a longer one grows the area
// when it is the last of the file, joins the free area that follows when
// the two are large enough, and otherwise moves to new space. Keys change
// first when the position stays (the area is then grown or joined and the
// record written); a moved record is written to its new area, and its old
// area is returned only after keys and record are in place and the new
// copy has reached the file.
//
// Rules kept here (beside those of isam_write.cpp):
//  1. A failed rewrite leaves area length, last byte used, the free
//     neighbour with its space-index entry and the stored bytes as they
//     were: the old header and record are kept (raw) for the undo.
//  2. A failed delete leaves the area a live record: a free mark or a
//     space-index entry that the failed return left is taken back.
#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/pagecache.h"
#include "engine/files/fcbops.h"
#include "engine/files/fixrec.h"
#include "engine/files/growth.h"
#include "engine/files/header.h"
#include "engine/files/identity.h"
#include "engine/files/resconv.h"
#include "engine/files/spaceidx.h"
#include "engine/files/varrec.h"
#include "engine/index/keyform_needs.h"
#include "engine/index/navstate.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isamrec.h"
#include "engine/isam/isamstate.h"
#include "engine/isam/partition.h"
#include "zarvo/zarvo.h"

using namespace zv;

namespace {

constexpr uint32_t kGrowStep = 64;
constexpr uint32_t kNoStack = 0x10000000;  // flmode2: freed space is marked, not registered

inline bool is_member(const FCB *f) { return f->hdr.base.sfiltyp == kSfMember; }
inline bool wide(const FCB *f) { return (f->hdr.base.hdrflags & kHdr8ByteOffsets) != 0; }
inline uint32_t hi_of(uint64_t p) { return uint32_t(p >> 32); }
inline uint32_t lo_of(uint64_t p) { return uint32_t(p); }
inline uint64_t last_used(const FCB *f) {
    const FCB *h = is_member(f) && f->hostfcb ? f->hostfcb : f;
    return join64(h->hdr.ext.numrech, h->hdr.base.numrec);
}
bool partition_host(const FCB *d) { return (d->hdr.ext.flmode2 & kFlmode2PartHost) != 0; }



// The variable-length data file of a call: the block, or null with the
// ISAM error set.
FCB *variable_file(int datno) {
    INSTGV *g = zvWNGV;
    FCB *d = tstifnm(datno);
    if (!d) {
        ierr(g->uerr_cod, datno);
        return nullptr;
    }
    if (d->kind != kKindVariable) {
        ierr(48, datno);
        return nullptr;
    }
    return d;
}

// The current record of a variable-length file and its area header: 0, or
// the error (100 none, 114 not a live record).
int current_area(int datno, FCB *d, uint64_t *pos, VRECHDR *h) {
    if (int rc = chkism(datno, d, pos)) return rc;
    if (int rc = getvhdr81(d, hi_of(*pos), lo_of(*pos), h)) return rc;
    return h->mark == kVrecUsed ? 0 : set_uerr(114);
}

// Whether WRTVREC will cut a free tail off an area of arealen bytes for a
// record of len bytes (its rule), leaving a free area behind the record.
bool tail_split(const FCB *d, uint32_t arealen, int32_t len) {
    const uint64_t hs = vhdr_size(d);
    if (uint64_t(arealen) < hs + uint64_t(len)) return false;
    const uint64_t rest = uint64_t(arealen) - hs - uint64_t(len);
    return rest > uint64_t(d->hdr.base.reclen) + hs && rest > 64 && !fcb_is_memory(d) && !is_member(d);
}

}  // namespace

namespace zv {

// Two repairs of a failed file-layer call that the guard's steps cannot
// express (they depend on what the failed call left); the caller runs them
// before the guard rolls back.

// After a failed RWTVREC write in place that may have cut a tail off the
// area: a space-index entry for the tail (or the tail merged with a free
// follower) is taken out again, and a follower whose entry the merge took
// is entered again.
static void take_back_tail(FCB *d, uint64_t pos, uint32_t arealen, int32_t len, uint64_t follower) {
    FCB *sp = space_index_of(d);
    const uint64_t tail = pos + vhdr_size(d) + uint64_t(len);
    const uint32_t taillen = arealen - vhdr_size(d) - uint32_t(len);
    uint32_t follen = 0;
    if (follower && follower <= last_used(d)) {
        VRECHDR fh;
        if (getvhdr81(d, hi_of(follower), lo_of(follower), &fh) == 0 && fh.mark == kVrecFree) follen = fh.arealen;
        set_uerr(0);
    }
    if (space_has(sp, d, taillen, tail) == 1) space_delete(sp, d, taillen, tail, 0);
    if (follen) {
        if (space_has(sp, d, taillen + follen, tail) == 1) space_delete(sp, d, taillen + follen, tail, 0);
        if (space_has(sp, d, follen, follower) == 0) space_add(sp, d, follen, follower, 0);
    }
    set_uerr(0);
}

// After a failed return of a record's area: the area is a live record
// again (its old header), and a space-index entry made for it is removed.
static int take_back_area(FCB *d, uint64_t pos, const VRECHDR &old) {
    VRECHDR now;
    int rc = getvhdr81(d, hi_of(pos), lo_of(pos), &now);
    if (rc) return rc;
    if (now.mark != kVrecUsed && !(d->hdr.ext.flmode2 & kNoStack)) {
        FCB *sp = space_index_of(d);
        if (space_has(sp, d, now.arealen, pos) == 1) {
            if (int e = space_delete(sp, d, now.arealen, pos, 0)) return e;
        }
    }
    if (now.mark == old.mark && now.arealen == old.arealen && now.reclen == old.reclen) return 0;
    return putvhdr81(d, hi_of(pos), lo_of(pos), &old);
}

}  // namespace zv

extern "C" {

ZV_API int ADDVREC(int datno, void *record, int32_t len) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    FCB *d = variable_file(datno);
    if (!d) return g->isamerr_cod;
    if (!record) return isam_end(set_uerr(33), datno);
    if (len <= 0 || len < int32_t(d->hdr.base.reclen)) return isam_end(149, datno);
    if ((d->hdr.ext.flmode3 & kFlmode3FixedOnly) && len != int32_t(d->hdr.base.reclen)) return isam_end(945, datno);
    if (partition_host(d)) return part_addrec(datno, d, record, len, true);
    if (int rc = claim_set(datno)) return rc;
    UpdateBits bits(kUpdAdd | kUpdCurrent);
    UndoGuard u(datno);
    uint32_t lo = NEWVREC(datno, len);
    uint32_t hi = uint32_t(zvGETHGHi());
    if (!lo && !hi) return isam_end(g->uerr_cod ? g->uerr_cod : 39, datno);
    const uint64_t pos = join64(hi, lo);
    u.space_taken(pos, true);
    if (!host_serial(d)) setsrlpos(d, record);
    if (!is_partition_member(d) && setIDfield(d, record, len)) return fail(u, g->uerr_cod, datno);
    if (int rc = addlok81(d, hi, lo, datno)) return fail(u, rc, datno);
    zvSETHGHi(int32_t(hi));
    if (int rc = WRTVREC(datno, lo, record, len)) return fail(u, rc, datno);
    if (int rc = addikey81(datno, u, record, pos, len)) return fail(u, rc, g->isamfil_num);
    return commit_write(u, d, datno, hi, lo, record, len, 0x1);
}

ZV_API int DELVREC(int datno) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    FCB *d = variable_file(datno);
    if (!d) return g->isamerr_cod;
    if (partition_host(d)) return part_delrec(datno, d, true);
    uint64_t pos = 0;
    VRECHDR h;
    if (int rc = current_area(datno, d, &pos, &h)) return isam_end(rc, datno);
    if (d->isamflags & kIsamKeysInvalid) return isam_end(794, datno);
    if (int rc = claim_set(datno)) return rc;
    UpdateBits bits(kUpdDelete | kUpdCurrent);
    UndoGuard u(datno);
    if (int rc = delikey81(datno, u, pos)) return fail(u, rc, g->isamfil_num);
    // Checked before the area is freed, the one step that is not undone.
    if (int rc = u.write_failed()) return fail(u, rc, datno);
    zvSETHGHi(int32_t(hi_of(pos)));
    int rc = RETVREC(datno, lo_of(pos));
    if (!rc) rc = u.write_failed();
    if (rc) {
        take_back_area(d, pos, h);
        return fail(u, rc, datno);
    }
    u.commit();
    flush_after_write(d, datno);
    return isam_end(0, datno);
}

ZV_API int RWTVREC(int datno, void *record, int32_t len) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    FCB *d = variable_file(datno);
    if (!d) return g->isamerr_cod;
    if (!record) return isam_end(set_uerr(33), datno);
    if (len <= 0 || len < int32_t(d->hdr.base.reclen)) return isam_end(149, datno);
    if ((d->hdr.ext.flmode3 & kFlmode3FixedOnly) && len != int32_t(d->hdr.base.reclen)) return isam_end(945, datno);
    if (d->hdr.base.flmode & 0x8) return isam_end(54, datno);
    if (partition_host(d)) return part_rwtrec(datno, d, record, len, true);
    uint64_t pos = 0;
    VRECHDR h;
    if (int rc = current_area(datno, d, &pos, &h)) return isam_end(rc, datno);
    if (d->isamflags & kIsamKeysInvalid) return isam_end(794, datno);
    if (chgIDfield(d, record, len)) return g->isamerr_cod;
    if (int rc = chkredf(datno, d)) return isam_end(rc, datno);

    const uint32_t hs = vhdr_size(d);
    const uint64_t needed = uint64_t(hs) + uint64_t(len);
    const uint32_t avail = h.arealen;
    const uint64_t next = pos + avail;
    bool grow = false, join = false;
    VRECHDR nh{};
    if (needed > avail && !fcb_is_memory(d) && !is_member(d)) {
        if (next == last_used(d) + 1) {
            grow = true;
        } else if (next <= last_used(d) && getvhdr81(d, hi_of(next), lo_of(next), &nh) == 0 &&
                   nh.mark == kVrecFree && uint64_t(avail) + nh.arealen >= needed &&
                   uint64_t(avail) + nh.arealen <= 0xFFFFFFFFull) {
            join = true;
        }
        set_uerr(0);
    }
    if (int rc = claim_set(datno)) return rc;
    UpdateBits bits(kUpdRewrite | kUpdCurrent);
    UndoGuard u(datno);
    ScratchBuffer sb;
    uint64_t newpos = pos;

    if (needed <= avail || grow || join) {
        // In place: keys first (the position does not change), then the area
        // grows or joins its neighbour, then the record is written.
        const int32_t keep = int32_t(hs + h.reclen);
        unsigned char *old = sb.take(keep);
        if (!old) return isam_end(set_uerr(82), datno);
        if (int rc = raw_read(d, pos, old, keep)) return isam_end(rc, datno);
        if (int rc = rwtikey81(datno, u, record, pos, pos, len)) return fail(u, rc, g->isamfil_num);
        u.bytes_changed(pos, old, keep);
        VRECHDR area = h;
        if (grow) {
            const uint64_t short_by = needed - avail;
            const uint32_t extra = uint32_t(short_by > kGrowStep ? short_by : kGrowStep);
            u.last_used_changed(last_used(d));
            if (int rc = tstupd(d)) return fail(u, rc, datno);
            uint32_t lo = extfil(d, extra, 0, 0);
            uint32_t hi = uint32_t(zvGETHGHi());
            if (!lo && !hi) return fail(u, g->uerr_cod ? g->uerr_cod : 39, datno);
            if (join64(hi, lo) != next) return fail(u, set_uerr(146), datno);
            if ((d->hdr.base.flmode & 0x40) && wrthdr(d)) return fail(u, g->uerr_cod, datno);
            // Space handed out without a fill is not in the file yet, and
            // the record may end short of it: the area's last byte is
            // written (0xFF, the fill) before its header claims the
            // stretch, so that the file holds the whole area whenever the
            // header is there. An area running past the end of the file is
            // a partial record to the repair, which drops it.
            const uint64_t end = next + extra - 1;
            if (end > join64(d->hwoffh, d->hwoffl)) {
                unsigned char fill = 0xFF;
                if (int rc = izvio81x(1, d, hi_of(end), lo_of(end), &fill, 1, nullptr, 0)) return fail(u, rc, datno);
            }
            area.arealen = avail + extra;
        } else if (join) {
            u.neighbour_joined(next, nh.arealen);
            int rc = space_delete(space_index_of(d), d, nh.arealen, next, 0);
            if (rc && rc != 4) return fail(u, 146, datno);
            area.arealen = avail + nh.arealen;
        }
        if (area.arealen != avail) {
            if (int rc = putvhdr81(d, hi_of(pos), lo_of(pos), &area)) return fail(u, rc, datno);
        }
        zvSETHGHi(int32_t(hi_of(pos)));
        if (int rc = WRTVREC(datno, lo_of(pos), record, len)) {
            if (tail_split(d, area.arealen, len))
                take_back_tail(d, pos, area.arealen, len, pos + area.arealen);
            return fail(u, rc, datno);
        }
    } else {
        // Moved: new space, the keys follow the record there, and the old
        // area is returned last.
        uint32_t lo = inewvrec(d, datno, len, 0, 1, 0, 0);
        uint32_t hi = uint32_t(zvGETHGHi());
        if (!lo && !hi) return isam_end(g->uerr_cod ? g->uerr_cod : 39, datno);
        newpos = join64(hi, lo);
        u.space_taken(newpos, true);
        if (int rc = rwtikey81(datno, u, record, newpos, pos, len)) return fail(u, rc, g->isamfil_num);
        zvSETHGHi(int32_t(hi));
        if (int rc = WRTVREC(datno, lo, record, len)) return fail(u, rc, datno);
        if (int rc = u.write_failed()) return fail(u, rc, datno);
        // The new copy (its header, the record and the header of a free
        // tail cut off behind it) goes to the file before the old area is
        // marked free in the cache: cached pages reach the file in any
        // order, and a process killed between the two writes must leave
        // the record twice (the rebuild's purge keeps one), never lost.
        if (int rc = pagecache_write_back(d, newpos, 2 * uint64_t(hs) + uint64_t(len))) return fail(u, rc, datno);
        zvSETHGHi(int32_t(hi_of(pos)));
        int rc = RETVREC(datno, lo_of(pos));
        if (!rc) rc = u.write_failed();
        if (rc) {
            take_back_area(d, pos, h);
            return fail(u, rc, datno);
        }
    }
    if (newpos == pos) {
        if (int rc = u.write_failed()) return fail(u, rc, datno);
    }
    u.commit();
    take_written_current(d, datno, hi_of(newpos), lo_of(newpos), record, len);
    flush_after_write(d, datno);
    int rc = 0;
    if (g->opsmode & 0x2) {
        int r = LOKREC(datno, 0, lo_of(newpos));
        if (newpos == pos) rc = r;
    }
    return isam_end(rc, datno);
}

ZV_API int RWTPREC(int datno, void *record, int32_t len) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    FCB *d = tstifnm(datno);
    if (!d) return isam_end(g->uerr_cod, datno);
    if (d->kind == kKindIndex) return isam_end(48, datno);
    if (!record) return isam_end(set_uerr(33), datno);
    if (len < 0) return isam_end(634, datno);
    if (partition_host(d)) return part_rwtprec(datno, d, record, len);
    const bool variable = d->kind == kKindVariable;
    uint64_t pos = 0;
    if (int rc = chkism(datno, d, &pos)) return isam_end(rc, datno);
    // Where the record's bytes lie and how long it is.
    uint32_t frame = 0;
    int32_t full = d->reclen;
    if (variable) {
        VRECHDR h;
        if (int rc = getvhdr81(d, hi_of(pos), lo_of(pos), &h)) return isam_end(rc, datno);
        if (h.mark != kVrecUsed) return isam_end(set_uerr(158), datno);
        frame = vhdr_size(d);
        full = int32_t(h.reclen);
    } else {
        frame = is_member(d) ? (wide(d) ? 22 : 18) : 0;
        unsigned char head[2] = {0, 0};
        if (int rc = raw_read(d, pos + frame, head, full >= 2 ? 2 : 1)) return isam_end(rc, datno);
        if (head[0] == 0xFF || (full >= 2 && head[0] == 0xFE && head[1] == 0xFE))
            return isam_end(set_uerr(114), datno);
    }
    if (len > full) return isam_end(140, datno);
    if (int rc = chkredf(datno, d)) return isam_end(rc, datno);

    // The new record: the stored one with the partial image laid over its
    // start. The stored bytes are kept (raw) for the undo.
    ScratchBuffer sb_old, sb_new;
    unsigned char *old = sb_old.take(full);
    unsigned char *img = sb_new.take(full);
    if (!old || !img) return isam_end(set_uerr(82), datno);
    const uint64_t at = pos + frame;
    if (int rc = raw_read(d, at, old, full)) return isam_end(rc, datno);
    memcpy(img, old, size_t(full));
    if (int rc = convert_record(d, img, full, kToHost)) return isam_end(rc, datno);
    if (d->isamflags & kIsamKeysInvalid) {
        if (iSETCURI(datno, hi_of(pos), lo_of(pos), img, full, -1, -1)) return isam_end(794, datno);
    }
    memcpy(img, record, size_t(len));
    if (chgIDfield(d, img, full)) return g->isamerr_cod;
    if (int rc = claim_set(datno)) return rc;
    UpdateBits bits(kUpdRewrite | kUpdCurrent);
    UndoGuard u(datno);
    if (int rc = rwtikey81(datno, u, img, pos, pos, full)) return fail(u, rc, g->isamfil_num);
    u.bytes_changed(at, old, full);
    if (len > 0) {
        if (int rc = iWRTREC(datno, hi_of(pos), lo_of(pos), uint32_t(len), frame, img, d)) return fail(u, rc, datno);
    }
    return commit_write(u, d, datno, hi_of(pos), lo_of(pos), img, full, 0x2);
}

ZV_API int REDVREC(int datno, void *buffer, int32_t buflen) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    if (g->opsmode & 0x24) zvclrlockon();
    FCB *d = variable_file(datno);
    if (!d) return g->isamerr_cod;
    if (!buffer) return isam_end(set_uerr(33), datno);
    if (buflen < 0) return isam_end(634, datno);
    if (partition_host(d)) return part_redvrec(datno, buffer, buflen);
    const uint32_t hi = d->isamposh, lo = d->isamposl;
    if (!hi && !lo) return isam_end(g->uerr_cod ? g->uerr_cod : 100, datno);
    const int varidx = isam_state(g).varidx;
    isam_state(g).varidx = 0;
    int rc = addlok81(d, hi, lo, datno);
    int32_t full = 0;
    if (!rc) {
        zvSETHGHi(int32_t(hi));
        rc = iRDVREC(datno, lo, buffer, buflen, 0, &full);
        if (rc == 29) rc = 100;
    }
    if (rc) {
        zvclrlockon();
        return isam_end(rc, datno);
    }
    if (buflen < full) return isam_end(0, datno);  // the buffer holds the record's start only
    if (varidx > 0) {
        const int ix = varidx - 1;
        KEYBUFSET *k = key_images(ix);
        FCB *x = g->fcbtab[ix];
        zvSETHGHi(int32_t(hi));
        int32_t n = k ? frmkey(ix, buffer, isam_state(g).keywork, lo, full) : 0;
        if (n <= 0 || memcmp(isam_state(g).keywork, nav_state(g).foundkey, size_t(x->hdr.base.keylen)) != 0)
            return isam_end(set_uerr(160), datno);
    }
    return isam_end(iSETCURI(datno, hi, lo, buffer, full, -1, -1), datno);
}

ZV_API int32_t GETVLEN(int datno) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    g->isamerr_cod = 0;
    FCB *d = variable_file(datno);
    if (!d) return 0;
    if (partition_host(d)) return part_getvlen(datno);
    const uint32_t hi = d->isamposh, lo = d->isamposl;
    if (!hi && !lo) return isam_end(100, datno), 0;
    zvSETHGHi(int32_t(hi));
    uint32_t n = GTVLEN(datno, lo);
    if (!n) {
        int rc = g->uerr_cod == 29 ? 100 : g->uerr_cod;
        isam_end(rc ? rc : 100, datno);
        return 0;
    }
    isam_end(0, datno);
    return int32_t(n);
}

}  // extern "C"
