// Partitioned files: add, rewrite and delete on a host.
//
// The host holds no record itself: an add goes to the member that the
// rule names for the record (made on the first record that needs it), a
// rewrite to the member of the current record, or, when the new image
// belongs to another member, to an add there and a delete in the old one.
// The host's global unique indexes (partunique.cpp) change first and are
// put back when the member's change fails.
//
// Invariants:
//  1. A failed call leaves every member, the global indexes and the host's
//     current record as they were (105 only when putting something back
//     failed).
//  2. A record never ends in two members: when the old copy of a moving
//     record cannot be deleted, the new copy is deleted again and the
//     rewrite fails.
//  3. After the first record of a member, an add parses no rule and looks
//     its member up in the table by index; it allocates nothing beyond the
//     member's own add.
//  4. Before the first change (a global key, an identity value, a member
//     made) a call takes the writer's lock of the host's set and of every
//     existing member set it will change, so that a file held by another
//     open refuses it (12) with nothing written.
#include <cstdio>
#include <cstring>

#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/files/fcbops.h"
#include "engine/files/fixrec.h"
#include "engine/files/identity.h"
#include "engine/isam/fileset.h"
#include "engine/isam/isamrec.h"
#include "engine/isam/partition.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

int add_in(int m, void *rec, int32_t len, bool variable) { return variable ? ADDVREC(m, rec, len) : ADDREC(m, rec); }
int rewrite_in(int m, void *rec, int32_t len, bool variable) {
    return variable ? RWTVREC(m, rec, len) : RWTREC(m, rec);
}
int delete_in(int m, bool variable) { return variable ? DELVREC(m) : DELREC(m); }

int32_t stamp_of(PARTDEF *pd, int32_t raw) {
    const PARTMBR *m = member_entry(pd, raw);
    return m ? m->stamp : 0;
}

// The raw number of the host's current record.
int32_t current_raw(const FCB *host) {
    uint32_t hi = host->isamposh;
    return zvunfoldpart(host, &hi);
}

bool has_globals(const FCB *host) { return (host->hdr.ext.flmode2 & (kPartGlobal | kPartSerial)) != 0; }

// claim_member: the member of the raw number is still to be made.
constexpr int kNotMade = -2;

// The member of raw number raw, opened when it exists, with the writer's
// lock of its whole set taken: a member that another open holds refuses
// the call before the host's global keys or identity change. 0 with *m its
// file number, or kNotMade for a member that the call makes later (its
// files new, so nobody else holds them); else the ISAM error, ended (12 for
// a member held elsewhere).
int claim_member(int hostno, FCB *host, int32_t raw, int *m) {
    *m = kNotMade;
    const PARTMBR *e = member_entry(host->partdef, raw);
    if (!e || e->state == kMbrNone) return 0;
    *m = pfilno(hostno, raw, false);
    if (*m < 0) {
        const uint16_t code = zvWNGV->uerr_cod;
        return isam_end(code ? code : 714, hostno);
    }
    return claim_set(*m);
}

}  // namespace

int part_addrec(int hostno, FCB *host, void *rec, int32_t len, bool variable) {
    partition_search_reset(host);
    INSTGV *g = zvWNGV;
    if (int rc = chkredf(hostno, host)) return isam_end(rc, hostno);
    if (int rc = claim_set(hostno)) return rc;
    const int32_t reclen = variable ? len : int32_t(host->reclen);
    int32_t raw = 0, stamp = 0;
    if (zvpartdest(hostno, rec, reclen, &raw, &stamp)) return isam_end(g->uerr_cod, hostno);
    int m = kNotMade;
    if (int rc = claim_member(hostno, host, raw, &m)) return rc;
    int count = 0, failed = 0;
    auto undo = [&](int code, int filno) {
        if (count && zvuniqpartundo(host, hostno, count, 1, raw, stamp, reclen, rec)) return isam_end(105, filno);
        return isam_end(code, filno);
    };
    if (has_globals(host)) {
        if (int rc = zvuniqpart(host, &count, &failed, hostno, raw, stamp, true, reclen, rec))
            return undo(rc, failed ? failed : hostno);
    }
    if (identity_active(host)) {
        int err = 0;
        if (!(host->hdr.ext.flmode2 & kPartSerial)) zvdhupd81(nullptr, 0, 2, &err, host);
        if (err) return undo(err, hostno);
        if (setIDfield(host, rec, reclen)) return undo(g->uerr_cod, hostno);
    }
    if (m == kNotMade && (m = pfilno(hostno, raw, true)) < 0) return undo(g->uerr_cod ? g->uerr_cod : 714, hostno);
    if (int rc = add_in(m, rec, len, variable)) {
        const uint16_t at = g->isamfil_num;
        if (host->hdr.base.flmode & 0x10) return isam_end(rc, at);
        return undo(rc, at);
    }
    if (int rc = hostcuri(hostno, m)) {
        // A record whose position the host cannot express is taken out again.
        ErrorKeep keep;
        delete_in(m, variable);
        return undo(rc, hostno);
    }
    if (identity_active(host)) identity_keep(host, rec, reclen);
    return isam_end(0, hostno);
}

int part_rwtrec(int hostno, FCB *host, void *rec, int32_t len, bool variable) {
    partition_search_reset(host);
    INSTGV *g = zvWNGV;
    if (int rc = chkredf(hostno, host)) return isam_end(rc, hostno);
    if (int rc = claim_set(hostno)) return rc;
    const int32_t reclen = variable ? len : int32_t(host->reclen);
    const int mo = current_member(host, hostno);
    if (mo < 0) return isam_end(g->uerr_cod, hostno);
    if (host->isamflags & kIsamKeysInvalid) return isam_end(794, hostno);
    PARTDEF *pd = host->partdef;
    const int32_t oldraw = current_raw(host), oldstamp = stamp_of(pd, oldraw);
    int32_t newraw = 0, newstamp = 0;
    if (zvpartdest(hostno, rec, reclen, &newraw, &newstamp)) return isam_end(g->uerr_cod, hostno);
    if (identity_active(host) && chgIDfield(host, rec, reclen)) return g->isamerr_cod;
    // Both members are taken before anything changes: the record's own,
    // and the one it moves to.
    if (int rc = claim_set(mo)) return rc;
    int mn = mo;
    if (newraw != oldraw) {
        if (int rc = claim_member(hostno, host, newraw, &mn)) return rc;
    }
    int count = 0, failed = 0;
    if (int rc = zvuniqpartrwt(host, &count, &failed, hostno, oldraw, oldstamp, newraw, newstamp, reclen, rec))
        return isam_end(rc, failed ? failed : hostno);
    auto undo = [&](int code, int filno) {
        if (zvuniqpartrwt_undo(host, hostno, count, oldraw, oldstamp, newraw, newstamp, reclen, rec))
            return isam_end(105, filno);
        return isam_end(code, filno);
    };
    if (newraw == oldraw) {
        if (int rc = rewrite_in(mo, rec, len, variable)) return undo(rc, g->isamfil_num);
        if (int rc = hostcuri(hostno, mo)) return isam_end(rc, hostno);
        if (identity_active(host)) identity_keep(host, rec, reclen);
        return isam_end(0, hostno);
    }
    // Another member: the new copy first, then the old one goes.
    if (mn == kNotMade && (mn = pfilno(hostno, newraw, true)) < 0)
        return undo(g->uerr_cod ? g->uerr_cod : 714, hostno);
    if (int rc = add_in(mn, rec, len, variable)) return undo(rc, g->isamfil_num);
    partcuri(mo, hostno);
    if (int rc = delete_in(mo, variable)) {
        const uint16_t at = g->isamfil_num;
        char line[120];
        snprintf(line, sizeof line, "Unexpected problem removing old image from partition #%d", int(oldraw));
        zvrcvlog(line, kLogSingleTry);
        zvrcvlog(host->name, kLogSingleTry - rc);
        // The record stays in its old member only.
        if (delete_in(mn, variable)) return isam_end(105, at);
        return undo(rc, at);
    }
    if (int rc = hostcuri(hostno, mn)) return isam_end(rc, hostno);
    if (identity_active(host)) identity_keep(host, rec, reclen);
    return isam_end(0, hostno);
}

int part_delrec(int hostno, FCB *host, bool variable) {
    partition_search_reset(host);
    INSTGV *g = zvWNGV;
    if (int rc = chkredf(hostno, host)) return isam_end(rc, hostno);
    if (int rc = claim_set(hostno)) return rc;
    const int mo = current_member(host, hostno);
    if (mo < 0) return isam_end(g->uerr_cod, hostno);
    if (host->isamflags & kIsamKeysInvalid) return isam_end(794, hostno);
    const int32_t raw = current_raw(host), stamp = stamp_of(host->partdef, raw);
    if (int rc = claim_set(mo)) return rc;
    int count = 0, failed = 0;
    auto undo = [&](int code, int filno) {
        if (count && zvuniqpartundo(host, hostno, count, 0, raw, stamp, 0, nullptr)) return isam_end(105, filno);
        return isam_end(code, filno);
    };
    if (has_globals(host)) {
        if (int rc = zvuniqpart(host, &count, &failed, hostno, raw, stamp, false, 0, nullptr))
            return undo(rc, failed ? failed : hostno);
    }
    if (int rc = delete_in(mo, variable)) return undo(rc, g->isamfil_num);
    return isam_end(0, hostno);
}

int part_rwtprec(int hostno, FCB *host, const void *rec, int32_t len) {
    partition_search_reset(host);
    INSTGV *g = zvWNGV;
    const bool variable = host->kind == kKindVariable;
    const int mo = current_member(host, hostno);
    if (mo < 0) return isam_end(g->uerr_cod, hostno);
    // The whole new image: the stored record with the partial one over it.
    int32_t full = host->reclen;
    if (variable) {
        full = GETVLEN(mo);
        if (full <= 0) return isam_end(g->isamerr_cod ? g->isamerr_cod : 100, hostno);
    }
    if (len > full) return isam_end(140, hostno);
    ScratchBuffer sb;
    unsigned char *img = sb.take(full);
    if (!img) return isam_end(set_uerr(82), hostno);
    int rc = variable ? REDVREC(mo, img, full) : RRDREC(mo, img);
    if (rc) return rc;
    memcpy(img, rec, size_t(len));
    return part_rwtrec(hostno, host, img, full, variable);
}

}  // namespace zv
