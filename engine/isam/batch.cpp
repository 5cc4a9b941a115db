// Batches: one set-oriented request per BATSETX call, and numbered batches.
//
// The current batch (IsamState::bat, a BATSTATE) holds a selection made by
// a first fill (batch_select.cpp) until it is freed; a part of it goes into
// the caller's buffer per call. Delete, update by key and insert run in one
// call each. Numbered batches park BATSTATE images in a slot table of
// chains (bucket count fixed when the table is made, never below 1); the
// slot of the current batch is IsamState::batcur, whose image is stale
// while the batch is current.
//
// Rules kept here:
//  1. A request that fails while setting up a batch leaves no batch: its
//     entries, filter and range go again.
//  2. Every record written by an insert has all its keys, or is returned
//     to the file: a direct block whose keys fail at record k gives back
//     records k onwards; the count reported is the count kept.
//  3. Insert and update never read past the data the caller gave (its
//     size): an entry that would pass it is refused before it is used.
#include <bit>
#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/files/fcbops.h"
#include "engine/files/fixrec.h"
#include "engine/files/growth.h"
#include "engine/files/header.h"
#include "engine/files/identity.h"
#include "engine/index/keyform_needs.h"
#include "engine/index/node.h"
#include "engine/isam/batch.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isamrec.h"
#include "engine/isam/isamstate.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

inline int bits(uint32_t v) { return std::popcount(v); }
inline bool is_host(const FCB *f) { return (f->hdr.ext.flmode2 & kFlmode2PartHost) != 0; }
inline bool wide_positions(const FCB *d) {
    return (d->hdr.base.hdrflags & kHdr8ByteOffsets) || fcb_is_memory(d) || is_host(d);
}

// The mode checks of every request: 0, 430 or 421.
int check_mode(uint32_t m) {
    const uint32_t op = m & kBatOp;
    if (bits(m & kBatContent) > 1 || bits(m & kBatSelGroup) > 1 || bits(m & 0x1800) > 1 ||
        bits(m & 0x10280) > 1)
        return 430;
    if ((m & 0x100000) && bits(m & 0x1800) != 1) return 430;
    if ((m & kBatKeyGiven) && (op != 5 || (m & 0x800))) return 430;
    if ((m & 0x800) && op == 5) return 430;
    if ((m & kBatPhysKeep) && !(m & kBatSelPhysical)) return 430;
    if ((m & kBatRangeOnly) && (m & kBatSelGroup) != kBatSelRange) return 430;
    if (m & kBatSelUnsupported) return 421;
    return 0;
}

// Ends a call: the code as the ISAM error (an error an ISAM call inside
// left keeps its file) and in uerr_cod.
int finish(int code, int filno) {
    INSTGV *g = zvWNGV;
    if (code && g->isamerr_cod == code) {
        set_uerr(code);
        return code;
    }
    if (code) set_uerr(code);
    return isam_end(code, filno);
}

// A buffer of at least n bytes kept with the batch.
unsigned char *record_buffer(BATSTATE &b, int32_t n) {
    if (n < 1) n = 1;
    if (!b.recbuf || b.recbuflen < n) {
        zvputmem(b.recbuf);
        b.recbuf = static_cast<unsigned char *>(zvgetmem(n));
        b.recbuflen = b.recbuf ? n : 0;
    }
    return b.recbuf;
}

// ---- Delete -------------------------------------------------------------------------

// Deletes the records of the collected entries, first to last: 0 or the
// first error; the count deleted in *deleted.
int delbat(BATSTATE &b, uint32_t *deleted) {
    INSTGV *g = zvWNGV;
    *deleted = 0;
    FCB *d = tstifnm(b.datno);
    if (!d) return g->uerr_cod ? g->uerr_cod : 26;
    const bool variable = d->kind == kKindVariable;
    for (BatEntry *e = b.head; e; e = e->next) {
        uint32_t hi, lo;
        entry_position(b, e, &hi, &lo);
        zvSETHGHi(int32_t(hi));
        int rc = SETCURI(b.datno, lo, nullptr, 0);
        if (rc && rc != 445) return rc;
        if (variable) {
            zvSETHGHi(int32_t(hi));
            const int32_t n = int32_t(GTVLEN(b.datno, lo));
            if (n <= 0) return g->uerr_cod ? g->uerr_cod : 158;
            unsigned char *buf = record_buffer(b, n);
            rc = buf ? REDVREC(b.datno, buf, n) : 10;
        } else {
            unsigned char *buf = record_buffer(b, d->reclen);
            rc = buf ? RRDREC(b.datno, buf) : 10;
        }
        if (rc == 739) continue;  // the filter keeps it out of the set
        if (rc) return rc;
        rc = variable ? DELVREC(b.datno) : DELREC(b.datno);
        if (rc) return rc;
        (*deleted)++;
    }
    return 0;
}

// ---- Update or add by key -------------------------------------------------------------

struct UpdateReply {
    uint32_t rewritten = 0, added = 0, offset = 0, kind = 0;
};

int update_entries(int keyno, FCB *x, int datno, FCB *d, const unsigned char *data, int32_t size, uint32_t count,
                   uint32_t mode, UpdateReply *rep) {
    INSTGV *g = zvWNGV;
    const bool variable = d->kind == kKindVariable;
    const int32_t kl = x->hdr.base.keylen;
    const unsigned char *p = data, *end = data + size;
    unsigned char key[kIsamKeyRoom];
    ScratchBuffer old;
    auto fail = [rep](int code, uint32_t kind) {
        rep->kind = kind;
        return code;
    };
    for (uint32_t i = 0; i < count; i++) {
        const unsigned char *start = p;
        rep->offset = uint32_t(start - data);
        auto room = [&](int64_t n) { return n >= 0 && n <= end - p; };
        if (variable && (mode & kBatDirect)) {
            if (!room(6)) return fail(429, 32);
            p += 6;
        }
        int32_t len = d->reclen;
        if (variable) {
            if (!room(4)) return fail(429, 32);
            memcpy(&len, p, 4);
            p += 4;
            if (len < 1) return fail(634, 128);
        }
        const unsigned char *given = nullptr;
        if (mode & kBatKeyGiven) {
            if (!room(kl)) return fail(429, 32);
            given = p;
            p += kl;
        }
        if (!room(len)) return fail(429, 32);
        auto *rec = const_cast<unsigned char *>(p);
        p += len;
        set_uerr(0);
        g->isamerr_cod = 0;
        if (given) {
            memcpy(key, given, size_t(kl));
            if (!(mode & kBatKeyForm) && !(g->userprof & 1) && !TFRMKEY(keyno, key))
                return fail(g->isamerr_cod ? g->isamerr_cod : g->uerr_cod ? g->uerr_cod : 894, 64);
        } else {
            zvSETHGHi(0);
            if (frmkey(keyno, rec, key, 0, len) <= 0)
                return fail(g->isamerr_cod ? g->isamerr_cod : g->uerr_cod ? g->uerr_cod : 894, 64);
        }
        set_uerr(0);
        const uint32_t lo = EQLKEY(keyno, key);
        const uint32_t hi = uint32_t(tsthghwrd());
        if (!lo && !hi) {
            if (g->uerr_cod && g->uerr_cod != 101) return fail(g->uerr_cod, 16);
            int rc = variable ? ADDVREC(datno, rec, len) : ADDREC(datno, rec);
            if (rc) return fail(rc, 2);
            rep->added++;
            continue;
        }
        int32_t have = d->reclen;
        if (variable) {
            zvSETHGHi(int32_t(hi));
            have = int32_t(GTVLEN(datno, lo));
            if (have <= 0) return fail(g->uerr_cod ? g->uerr_cod : 158, 8);
        }
        unsigned char *buf = old.take(have);
        if (!buf) return fail(10, 256);
        zvSETHGHi(int32_t(hi));
        int rc = variable ? REDIVREC(datno, lo, buf, &have) : REDIREC(datno, lo, buf);
        if (rc) return fail(rc, 8);
        if ((mode & kBatKeepSerial) && d->serpos > 0 && d->srllen > 0) {
            const int32_t at = d->serpos - 1, n = d->srllen < 8 ? d->srllen : 8;
            if (at + n <= len && at + n <= have) memcpy(rec + at, buf + at, size_t(n));
        }
        rc = variable ? RWTVREC(datno, rec, len) : RWTREC(datno, rec);
        if (rc) return fail(rc, 1);
        rep->rewritten++;
    }
    rep->offset = 0;
    return 0;
}

int updbat(int keyno, unsigned char *req, int32_t size, uint32_t mode) {
    INSTGV *g = zvWNGV;
    FCB *x = tstifnm(keyno);
    if (!x) return finish(g->uerr_cod ? g->uerr_cod : 26, keyno);
    if (x->kind != kKindIndex || !x->keybufs) return finish(48, keyno);
    if (idx_dup(x)) return finish(775, keyno);
    const int datno = keymap_datno(keyno);
    FCB *d = datno >= 0 ? tstifnm(datno) : nullptr;
    if (!d) return finish(614, keyno);
    const uint32_t count = req_u32(req, 8);
    memset(req, 0, 20);
    UpdateReply rep;
    int rc = update_entries(keyno, x, datno, d, req + 20, size, count, mode, &rep);
    put_req_u32(req, 0, rep.rewritten);
    put_req_u32(req, 4, rep.added);
    put_req_u32(req, 12, rep.offset);
    put_req_u32(req, 16, rc ? rep.kind : 0);
    return finish(rc, keyno);
}

// ---- Insert ------------------------------------------------------------------------------

// One record at a time through ADDREC / ADDVREC, under lock mode 2 when
// the lock mode is free. The count inserted in *inserted.
int insert_each(int datno, FCB *d, unsigned char *data, int32_t size, uint32_t count, uint32_t *inserted) {
    INSTGV *g = zvWNGV;
    const bool variable = d->kind == kKindVariable;
    const int32_t slot = wide_positions(d) ? 8 : 4;
    const bool own_mode = g->isamlockmode == 0 && isam_state(g).active;
    if (own_mode) {
        if (int rc = LKISAM(2)) return rc;
    }
    unsigned char *p = data, *end = data + size;
    int rc = 0;
    for (uint32_t i = 0; i < count && !rc; i++) {
        if (slot > end - p) {
            rc = 429;
            break;
        }
        p += slot;
        int32_t len = d->reclen;
        if (variable) {
            if (4 > end - p) {
                rc = 429;
                break;
            }
            memcpy(&len, p, 4);
            p += 4;
            if (len < 1) {
                rc = 634;
                break;
            }
        }
        if (len > end - p) {
            rc = 429;
            break;
        }
        rc = variable ? ADDVREC(datno, p, len) : ADDREC(datno, p);
        if (!rc) (*inserted)++;
        p += len;
    }
    if (own_mode) {
        // The mode goes back to free; the code of the insert stays.
        const uint16_t u = g->uerr_cod, ie = g->isamerr_cod, fn = g->isamfil_num;
        LKISAM(0);
        g->uerr_cod = u;
        g->isamerr_cod = ie;
        g->isamfil_num = fn;
    }
    return rc;
}

inline uint32_t le32(const unsigned char *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Where each record of a direct block lies: the offset of its area in the
// block, the record's own offset and length.
struct BlockRecord {
    uint32_t area, rec;
    int32_t len;
};

// Checks the direct block and lays out its records: 0, 429 a record passes
// the data, 123 an area without a live header, 149 a variable record
// shorter than the fixed part, 553 a fixed record beginning as a deleted
// one or a resource.
int lay_out_block(FCB *d, const unsigned char *data, int32_t size, uint32_t count, BlockRecord *out,
                  int64_t *total) {
    const bool variable = d->kind == kKindVariable;
    int64_t at = 0;
    for (uint32_t i = 0; i < count; i++) {
        BlockRecord r{uint32_t(at), uint32_t(at), d->reclen};
        if (variable) {
            if (at + 10 > size) return 429;
            const unsigned char *h = data + at;
            const uint16_t mark = uint16_t(h[0] | h[1] << 8);
            const uint32_t arealen = le32(h + 2), reclen = le32(h + 6);
            if (mark != 0xFAFA) return 123;
            if (reclen == 0 || reclen < d->reclen) return 149;
            if (uint64_t(arealen) < 10 + uint64_t(reclen)) return 123;
            r.rec = uint32_t(at + 10);
            r.len = int32_t(reclen);
            at += arealen;
        } else {
            at += d->reclen;
        }
        if (at > size) return 429;
        const unsigned char *rec = data + r.rec;
        if (!variable && (rec[0] == 0xFF || (r.len >= 2 && rec[0] == 0xFE && rec[1] == 0xFE))) return 553;
        out[i] = r;
    }
    *total = at;
    return 0;
}

// The direct block: serial numbers and identity values go into the
// records, the block is written in one piece at the end of the file, then
// every record's keys are added. When the keys of record k fail (its own
// are undone), records k onwards are returned to the file; a failed block
// write returns the whole block. The count kept in *inserted.
int insert_block(int datno, FCB *d, unsigned char *data, int32_t size, uint32_t count, uint32_t *inserted) {
    INSTGV *g = zvWNGV;
    if (d->hdr.base.sfiltyp == kSfMember || fcb_is_memory(d)) return 48;
    if (is_host(d)) return 454;
    if (count == 0) return 0;
    const bool variable = d->kind == kKindVariable;
    if (uint64_t(count) * (variable ? 10 : d->reclen) > uint64_t(size)) return 429;
    const uint64_t bytes = uint64_t(sizeof(BlockRecord)) * count;
    auto *layout = bytes <= 0x7FFFFFFF ? static_cast<BlockRecord *>(zvgetmem(int32_t(bytes))) : nullptr;
    if (!layout) return 10;
    struct Free {
        void *p;
        ~Free() { zvputmem(p); }
    } keep{layout};
    int64_t total = 0;
    if (int rc = lay_out_block(d, data, size, count, layout, &total)) return rc;
    if (total > 0x7FFFFFFF) return 39;
    if (int rc = chkredf(datno, d)) return rc;
    if (int rc = claim_set(datno)) return rc;
    if (int rc = tstupd(d)) return rc;
    UpdateBits busy(kUpdAdd);
    // Serial numbers and identity values, drawn for good.
    int32_t drawn = 0;
    int rc = 0;
    for (uint32_t i = 0; i < count && !rc; i++) {
        unsigned char *rec = data + layout[i].rec;
        int err = 0;
        uint32_t sh = 0;
        const uint32_t sl = zvdhupd81(&sh, 1, 1, &err, d);
        drawn++;
        if (err) rc = err;
        else if (sl == 0 && !(d->hdr.base.hdrflags & kHdrHasExt)) rc = 44;
        if (rc) break;
        g->lastserh = sh;
        g->lastserl = sl;
        setsrlpos(d, rec);
        if (setIDfield(d, rec, layout[i].len)) rc = g->uerr_cod ? g->uerr_cod : 445;
    }
    auto uncount = [&](int32_t n) {
        if (n) zvdhupd81(nullptr, -n, 0, nullptr, d);
    };
    if (rc) {
        uncount(drawn);
        return rc;
    }
    // The block, in one piece at the end of the file.
    UndoGuard space(datno);
    const uint64_t oldlast = join64(d->hdr.ext.numrech, d->hdr.base.numrec);
    zvSETHGHi(0);
    const uint32_t lo = extfil(d, uint32_t(total), 0, 0);
    const uint32_t hi = uint32_t(zvGETHGHi());
    if (!lo && !hi) {
        rc = g->uerr_cod ? g->uerr_cod : 39;
        uncount(drawn);
        return rc;
    }
    space.last_used_changed(oldlast);
    const uint64_t at = join64(hi, lo);
    rc = raw_write(d, at, data, int32_t(total));
    if (!rc) rc = space.write_failed();
    if (rc) {
        if (space.rollback()) rc = 105;
        uncount(drawn);
        return rc;
    }
    space.commit();
    // The keys, record by record.
    uint32_t k = 0;
    for (; k < count; k++) {
        UndoGuard u(datno);
        const uint64_t pos = at + layout[k].area;
        rc = addikey81(datno, u, data + layout[k].rec, pos, layout[k].len);
        if (!rc) rc = u.write_failed();
        if (rc) {
            const uint16_t file = g->isamfil_num;
            rc = fail(u, rc, file ? file : datno);
            break;
        }
        u.commit();
    }
    *inserted = k;
    if (k < count) {
        // Records k onwards have no keys: their space goes back.
        const uint16_t file = g->isamfil_num;
        const uint16_t sys = g->sysiocod;  // the failure's reason, kept
        bool lost = false;
        for (uint32_t j = k; j < count; j++) {
            const uint64_t pos = at + layout[j].area;
            zvSETHGHi(int32_t(pos >> 32));
            if ((variable ? RETVREC(datno, uint32_t(pos)) : RETREC(datno, uint32_t(pos))) != 0) lost = true;
        }
        if (lost) rc = 105;
        ierr(rc, file);
        set_uerr(rc);
        g->sysiocod = sys;
    } else {
        const uint64_t pos = at + layout[count - 1].area;
        iSETCURI(datno, uint32_t(pos >> 32), uint32_t(pos), data + layout[count - 1].rec, layout[count - 1].len, -1,
                 -1);
        ierr(0, 0);
    }
    flush_after_write(d, datno);
    return rc;
}

int insbat(int datno, unsigned char *req, int32_t size, uint32_t mode) {
    INSTGV *g = zvWNGV;
    const uint32_t kind = mode & (kBatRecords | kBatDirect);
    if (kind != kBatRecords && kind != kBatDirect) return finish(430, datno);
    FCB *d = tstifnm(datno);
    if (!d) return finish(g->uerr_cod ? g->uerr_cod : 26, datno);
    if (d->kind == kKindIndex) return finish(48, datno);
    const uint32_t count = req_u32(req, 8);
    uint32_t inserted = 0;
    int rc = kind == kBatDirect ? insert_block(datno, d, req + 20, size, count, &inserted)
                                : insert_each(datno, d, req + 20, size, count, &inserted);
    put_req_u32(req, 8, inserted);
    return finish(rc, datno);
}

// ---- A new batch ------------------------------------------------------------------------

// Sets up the current batch for a selection and runs its first fill (or,
// for a delete, collects it and deletes it). 0 or the error; on failure no
// batch is left.
int new_batch(BATSTATE &b, int filno, unsigned char *req, unsigned char *buf, int32_t size, uint32_t mode,
              bool extended) {
    INSTGV *g = zvWNGV;
    const uint32_t op = mode & kBatOp;
    const uint32_t content = mode & kBatContent, selection = mode & kBatSelection;
    if (!req) return finish(430, filno);
    FCB *f = tstifnm(filno);
    if (!f) return finish(g->uerr_cod ? g->uerr_cod : 26, filno);
    const bool index = f->kind == kKindIndex;
    const bool by_position = selection == kBatSelPosList || selection == kBatSelPhysical;
    if (index == by_position) return finish(48, filno);
    if (index && !f->keybufs) return finish(48, filno);
    const int datno = index ? keymap_datno(filno) : filno;
    FCB *d = datno >= 0 ? tstifnm(datno) : nullptr;
    if (!d) return finish(614, filno);
    if (op != 4) {
        if (!content) return finish(427, filno);
        if (by_position && content != kBatRecords && content != kBatPosOnly && content != kBatDirect)
            return finish(430, filno);
    }
    b = BATSTATE{};
    b.filno = filno;
    b.datno = datno;
    b.mode = mode;
    b.content = content;
    b.selection = selection;
    b.lockflag = mode & kBatLock;
    b.skipflt = (mode & kBatSkipFiltered) ? 1 : 0;
    b.extended = extended ? 1 : 0;
    b.wide = wide_positions(d) ? 1 : 0;
    b.keyed = key_content(content) && !by_position ? 1 : 0;
    b.keylen = index ? f->hdr.base.keylen : 0;
    b.req = req;
    b.buf = op == 4 ? nullptr : buf;
    b.bufsize = size;
    b.wcur = b.buf;
    b.op = int32_t(op == 4 ? 4 : 3);
    int rc = 0;
    if (extended) {
        const auto *text = static_cast<const char *>(req_ptr(req, 64));
        if (text && *text) {
            rc = SETFLTR(datno, text);
            if (!rc) b.ownfilter = 1;
        }
        const uint16_t nseg = req_u16(req, 22);
        if (!rc && nseg) {
            const void *lower = req_ptr(req, 32), *upper = req_ptr(req, 40);
            const auto *ops = static_cast<const uint32_t *>(req_ptr(req, 48));
            if (!lower || !ops) rc = 430;
            else if (!index) rc = 48;
            else if (!(rc = ALCRNG(filno, nseg, lower, upper, ops))) b.ownrange = 1;
        }
    }
    if (!rc) rc = frsbat(b);
    if (!rc && op == 4) {
        uint32_t deleted = 0;
        rc = delbat(b, &deleted);
        put_req_u32(req, returned_at(b), deleted);
    }
    if (rc || op == 4) {
        // The ISAM error of a call inside outlives the clean-up.
        const uint16_t u = g->uerr_cod, ie = g->isamerr_cod, fn = g->isamfil_num;
        if (rc != 429 || op == 4) ifrebat(b, false);
        g->uerr_cod = u;
        g->isamerr_cod = ie;
        g->isamfil_num = fn;
    }
    return finish(rc, filno);
}

int batsetx(int filno, unsigned char *req, unsigned char *buf, int32_t size, uint32_t mode) {
    INSTGV *g = zvWNGV;
    g->isamerr_cod = 0;
    set_uerr(0);
    if (g->sysiocod == kSysBatchEnded) g->sysiocod = 0;
    const bool extended = mode == kBatExtended;
    if (extended) {
        if (!req) return finish(430, filno);
        mode = req_u32(req, 0);
        if (mode & (0x4 | kBatSelPosList | kBatSelKeyList)) return finish(430, filno);
        if (req_u16(req, 22)) mode |= kBatSelRange;
    }
    if (int rc = check_mode(mode)) return finish(rc, filno);
    if (size < 0) return finish(749, filno);
    BATSTATE &b = isam_state(g).bat;
    const uint32_t op = mode & kBatOp;
    switch (op) {
    case 1:
        if (!b.op) return finish(426, filno);
        ifrebat(b, false);
        return finish(0, filno);
    case 2:
        if (!b.op) return finish(426, filno);
        if (!req) return finish(430, filno);
        if (mode & kBatContent) {
            // Key values come only from entries collected with their keys.
            if (key_content(mode & kBatContent) && !b.keyed) return finish(430, filno);
            b.content = mode & kBatContent;
        }
        if (!b.content) return finish(427, filno);
        b.req = req;
        b.extended = extended ? 1 : 0;
        b.buf = buf;
        b.bufsize = size;
        b.wcur = buf;
        return finish(fill_part(b), b.filno);
    case 4:
        if (b.op) {
            if (b.op != 3 || (b.returned != 0 && b.remaining != 0)) return finish(425, filno);
            if (!req) return finish(430, filno);
            uint32_t deleted = 0;
            b.req = req;
            int rc = delbat(b, &deleted);
            put_req_u32(req, returned_at(b), deleted);
            const uint16_t u = g->uerr_cod, ie = g->isamerr_cod, fn = g->isamfil_num;
            ifrebat(b, false);
            g->uerr_cod = u;
            g->isamerr_cod = ie;
            g->isamfil_num = fn;
            return finish(rc, b.datno);
        }
        return new_batch(b, filno, req, nullptr, size, mode, extended);
    case 5:
    case 6:
        if (b.op) return finish(425, filno);
        if (!req) return finish(430, filno);
        return op == 5 ? updbat(filno, req, size, mode) : insbat(filno, req, size, mode);
    default:
        if (b.op) return finish(425, filno);
        return new_batch(b, filno, req, buf, size, mode, extended);
    }
}

// ---- Numbered batches ---------------------------------------------------------------------

BatSlot **slot_bucket(int16_t n) {
    IsamState &s = isam_state(zvWNGV);
    return &s.battab[uint32_t(int32_t(n)) % uint32_t(s.batbuckets)];
}

BatSlot *find_slot(int16_t n) {
    for (BatSlot *s = *slot_bucket(n); s; s = s->next)
        if (s->number == n) return s;
    return nullptr;
}

BatSlot *new_slot(int16_t n) {
    auto *s = static_cast<BatSlot *>(zvgetmem(int32_t(sizeof(BatSlot))));
    if (!s) return nullptr;
    s->number = n;
    BatSlot **head = slot_bucket(n);
    s->next = *head;
    *head = s;
    return s;
}

void unlink_slot(BatSlot *s) {
    for (BatSlot **pp = slot_bucket(s->number); *pp; pp = &(*pp)->next) {
        if (*pp == s) {
            *pp = s->next;
            return;
        }
    }
}

// The slot table with batch 0 (the current batch): 0, or 185.
int make_slot_table() {
    IsamState &s = isam_state(zvWNGV);
    int32_t n = int32_t(zvWNGV->idxhashsize);
    if (n < 1) n = 1;
    s.battab = static_cast<BatSlot **>(zvgetmem(int32_t(sizeof(BatSlot *)) * n));
    if (!s.battab) return 185;
    s.batbuckets = n;
    s.batcur = new_slot(0);
    if (!s.batcur) {
        zvputmemn(reinterpret_cast<void **>(&s.battab));
        s.batbuckets = 0;
        return 185;
    }
    return 0;
}

}  // namespace

void ifrebat(BATSTATE &b, bool signal) {
    INSTGV *g = zvWNGV;
    zvputmem(b.recbuf);
    zvputmem(b.target);
    if (b.ownfilter && filno_in_table(b.datno)) {
        FCB *d = g->fcbtab[b.datno];
        if (d && d->kind != kKindIndex) free_record_filter(d);
    }
    if (b.ownrange) FRERNG(b.filno);
    const bool unlock = b.lockflag && !(b.mode & kBatKeepLocks) && !(b.mode & kBatPhysKeep);
    for (BatEntry *e = b.head; e;) {
        BatEntry *next = e->next;
        if (unlock) {
            uint32_t hi, lo;
            entry_position(b, e, &hi, &lo);
            zvSETHGHi(int32_t(hi));
            LOKREC(b.datno, 0, lo);  // 41 (not locked) is no error here
        }
        if (b.keyed) zvputmem(e->u.key);
        zvputlst(e, kListBatch);
        e = next;
    }
    b = BATSTATE{};
    set_uerr(0);
    if (signal) g->sysiocod = kSysBatchEnded;
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int BATSETX(int filno, void *request, void *buffer, int32_t bufsize, uint32_t mode) {
    if (!zvWNGV) return 47;
    return batsetx(filno, static_cast<unsigned char *>(request), static_cast<unsigned char *>(buffer), bufsize,
                   mode);
}

ZV_API int BATSET(int filno, void *request, void *buffer, int32_t bufsize, uint32_t mode) {
    return BATSETX(filno, request, buffer, bufsize, mode);
}

ZV_API int ALCBAT(void) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (isam_state(g).battab) return set_uerr(184);
    return set_uerr(make_slot_table());
}

ZV_API int CHGBAT(int number) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    IsamState &s = isam_state(g);
    if (!s.battab && make_slot_table()) return set_uerr(185);
    const int16_t n = int16_t(number);
    if (s.batcur && s.batcur->number == n) return set_uerr(0);
    BatSlot *to = find_slot(n);
    if (!to && !(to = new_slot(n))) return set_uerr(185);
    if (s.batcur) s.batcur->image = s.bat;
    else if (s.bat.op) ifrebat(s.bat, false);  // a batch that lost its slot
    s.bat = to->image;
    to->image = BATSTATE{};
    s.batcur = to;
    return set_uerr(0);
}

ZV_API int FREBATN(int number) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    IsamState &s = isam_state(g);
    BatSlot *slot = s.battab ? find_slot(int16_t(number)) : nullptr;
    if (!slot) return set_uerr(0);
    if (slot == s.batcur) {
        ifrebat(s.bat, false);
        s.batcur = nullptr;
    } else {
        ifrebat(slot->image, false);
    }
    unlink_slot(slot);
    zvputmem(slot);
    return set_uerr(0);
}

ZV_API int FREBAT(void) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    IsamState &s = isam_state(g);
    if (s.battab) {
        for (int32_t i = 0; i < s.batbuckets; i++) {
            while (BatSlot *slot = s.battab[i]) {
                s.battab[i] = slot->next;
                if (slot != s.batcur) ifrebat(slot->image, false);
                zvputmem(slot);
            }
        }
        zvputmemn(reinterpret_cast<void **>(&s.battab));
        s.batbuckets = 0;
        s.batcur = nullptr;
    }
    ifrebat(s.bat, false);
    return 0;
}

}  // extern "C"
