// Record add, rewrite and delete with all keys (fixed-length records), and
// the key steps and undo record that the variable-length operations share.
//
// A write changes one record and every key of it in the data file's
// indexes as one step. Each call keeps one UndoGuard: every step that
// changes a file (record space taken, a key entered or removed, bytes
// overwritten) is entered as it is done, and unless the call commits, the
// guard reverses them, last first. A step that failed may still have taken
// effect (an index insert that reached the tree before a later write of the
// split failed); it is entered as uncertain and its undo looks first.
//
// Rules kept here:
//  1. A failed call leaves the data file, every index and the current ISAM
//     record as they were; only a failed undo step reports 105.
//  2. Record space taken by an add is returned on every failure after it
//     was taken, so the active count and the slot never leak.
//  3. New keys are formed into the alternate images; the current images
//     are only exchanged with them (by pointer) when the call commits, so
//     an add allocates nothing and copies no key twice.
//  4. Positions are compared as whole 64-bit values.
#include <cstring>

#include "engine/core/highword.h"
#include "engine/core/centralio.h"
#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/files/fcbops.h"
#include "engine/files/fixrec.h"
#include "engine/files/header.h"
#include "engine/files/identity.h"
#include "engine/files/spaceidx.h"
#include "engine/files/varrec.h"
#include "engine/index/curkey.h"
#include "engine/index/keydelete.h"
#include "engine/index/keyinsert.h"
#include "engine/index/keysearch.h"
#include "engine/index/node.h"
#include "engine/index/segmode.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"
#include "engine/isam/isamrec.h"
#include "engine/isam/partition.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

inline bool wide(const FCB *f) { return (f->hdr.base.hdrflags & kHdr8ByteOffsets) != 0; }
inline bool is_member(const FCB *f) { return f->hdr.base.sfiltyp == kSfMember; }
inline uint32_t hi_of(uint64_t p) { return uint32_t(p >> 32); }
inline uint32_t lo_of(uint64_t p) { return uint32_t(p); }

FCB *open_index(int ixno) {
    INSTGV *g = zvWNGV;
    if (!filno_in_table(ixno)) return nullptr;
    FCB *x = g->fcbtab[ixno];
    if (!x || (x->state != 'y' && x->state != 'v' && x->state != 'w')) return nullptr;
    return x->kind == kKindIndex && x->keybufs ? x : nullptr;
}

// Whether the index holds key at pos (the key carries the position as its
// suffix in a duplicate-key index).
bool key_present(FCB *x, const unsigned char *key, uint64_t pos) {
    uint32_t lo = fndkey(x, key, 'E', nullptr);
    uint32_t hi = uint32_t(zvGETHGHi());
    set_uerr(0);
    return (lo || hi) && join64(hi, lo) == pos;
}

// Forms current images that were left to be formed on first use, before
// an update relies on them: 0 or the error of reading the record.
int settle_images(int datno) {
    for (int slot = 0; slot < kMapIndexes; slot++) {
        int ix = active_index(datno, slot);
        if (ix == kIdxListEnd) break;
        if (ix < 0) continue;
        KEYBUFSET *k = key_images(ix);
        if (k && k->curstate == 3) return zvkbufrefresh(datno, -2);
    }
    return 0;
}

// The current image of an index for an update: the image, or null when
// the record has no key there; *bad when the image is not usable.
const unsigned char *current_image(const KEYBUFSET *k, bool *bad) {
    *bad = k->curstate != 0 && k->curstate != 1;
    return k->curstate == 1 ? k->cur : nullptr;
}


}  // namespace

int fail(UndoGuard &u, int code, int filno) {
    INSTGV *g = zvWNGV;
    uint16_t at = g->isamfil_num;
    if (u.rollback()) {
        ierr(105, filno >= 0 ? filno : at);
        return 105;
    }
    return isam_end(code, filno);
}

int claim_set(int datno) {
    FCB *d = zvWNGV->fcbtab[datno];
    if (int rc = take_writer_lock(d)) return isam_end(rc, datno);
    for (int slot = 0; slot < kMapIndexes; slot++) {
        int ix = active_index(datno, slot);
        if (ix == kIdxListEnd) break;
        FCB *x = ix < 0 ? nullptr : open_index(ix);
        if (!x) continue;
        if (int rc = take_writer_lock(x)) return isam_end(rc, ix);
    }
    return 0;
}

int commit_write(UndoGuard &u, FCB *d, int datno, uint32_t hi, uint32_t lo, const void *rec, int32_t len,
                 uint32_t lockbit) {
    if (int rc = u.write_failed()) return fail(u, rc, datno);
    u.commit();
    take_written_current(d, datno, hi, lo, rec, len);
    flush_after_write(d, datno);
    int rc = (zvWNGV->opsmode & lockbit) ? LOKREC(datno, 0, lo) : 0;
    return isam_end(rc, datno);
}

namespace {

}  // namespace

// ---- Scratch buffers and raw transfers --------------------------------------------

ScratchBuffer::~ScratchBuffer() { zvputmem(heap_); }

unsigned char *ScratchBuffer::take(int32_t n) {
    if (n <= kLocal) return local_;
    zvputmem(heap_);
    heap_ = static_cast<unsigned char *>(zvgetmem(n));
    return heap_;
}

int raw_read(FCB *f, uint64_t pos, void *buf, int32_t len) {
    int32_t got = 0;
    if (int rc = izvio81x(0, f, hi_of(pos), lo_of(pos), buf, len, &got, 0)) return rc;
    return got < len ? set_uerr(36) : 0;
}

int raw_write(FCB *f, uint64_t pos, const void *buf, int32_t len) {
    return izvio81x(1, f, hi_of(pos), lo_of(pos), const_cast<void *>(buf), len, nullptr, 0);
}

// ---- The undo record --------------------------------------------------------------

void UndoGuard::push(const Step &s) {
    if (n_ >= kMaxSteps) {
        overflow_ = true;
        return;
    }
    steps_[n_++] = s;
}

void UndoGuard::key_added(int ixno, const unsigned char *key, uint64_t pos, bool certain) {
    push(Step{Kind::KeyAdded, certain, false, 0, ixno, 0, pos, key});
}

void UndoGuard::key_deleted(int ixno, const unsigned char *key, uint64_t pos, int mode, bool certain) {
    push(Step{Kind::KeyDeleted, certain, false, int16_t(mode), ixno, 0, pos, key});
}

void UndoGuard::key_moved(int ixno, const unsigned char *key, uint64_t from) {
    push(Step{Kind::KeyMoved, true, false, 64, ixno, 0, from, key});
}

void UndoGuard::space_taken(uint64_t pos, bool variable) {
    push(Step{Kind::Space, true, variable, 0, datno_, 0, pos, nullptr});
}

void UndoGuard::bytes_changed(uint64_t pos, const unsigned char *old, int32_t len) {
    push(Step{Kind::Bytes, true, false, 0, datno_, len, pos, old});
}

void UndoGuard::last_used_changed(uint64_t old) { push(Step{Kind::LastUsed, true, false, 0, datno_, 0, old, nullptr}); }

void UndoGuard::neighbour_joined(uint64_t pos, uint32_t arealen) {
    push(Step{Kind::Neighbour, true, true, 0, datno_, int32_t(arealen), pos, nullptr});
}

int UndoGuard::undo(const Step &s) {
    INSTGV *g = zvWNGV;
    FCB *d = g->fcbtab[datno_];
    switch (s.kind) {
    case Kind::KeyAdded: {
        FCB *x = open_index(s.filno);
        if (!x) return 105;
        if (!s.certain && !key_present(x, s.data, s.pos)) return 0;
        int rc = idelchk(s.filno, s.data, hi_of(s.pos), lo_of(s.pos), 129);
        return rc == 0 || (!s.certain && rc == 4) ? 0 : rc;
    }
    case Kind::KeyDeleted:
    case Kind::KeyMoved: {
        FCB *x = open_index(s.filno);
        if (!x) return 105;
        if (!s.certain && key_present(x, s.data, s.pos)) return 0;
        return iaddkey(s.filno, s.data, hi_of(s.pos), lo_of(s.pos), s.mode | 128);
    }
    case Kind::Space:
        zvSETHGHi(int32_t(hi_of(s.pos)));
        return s.variable ? RETVREC(datno_, lo_of(s.pos)) : RETREC(datno_, lo_of(s.pos));
    case Kind::Bytes:
        return raw_write(d, s.pos, s.data, s.len);
    case Kind::LastUsed:
        split64(s.pos, &d->hdr.ext.numrech, &d->hdr.base.numrec);
        return (d->hdr.base.flmode & 0x40) ? wrthdr(d) : 0;
    case Kind::Neighbour: {
        VRECHDR h{};
        if (int rc = getvhdr81(d, hi_of(s.pos), lo_of(s.pos), &h)) return rc;
        h.mark = kVrecFree;
        h.arealen = uint32_t(s.len);
        h.reclen = 0;
        if (int rc = putvhdr81(d, hi_of(s.pos), lo_of(s.pos), &h)) return rc;
        FCB *sp = space_index_of(d);
        int has = space_has(sp, d, uint32_t(s.len), s.pos);
        if (has < 0) return -has;
        return has ? 0 : space_add(sp, d, uint32_t(s.len), s.pos, 0);
    }
    }
    return 0;
}

int UndoGuard::rollback() {
    if (committed_) return 0;
    committed_ = true;
    INSTGV *g = zvWNGV;
    // The call reports the failure that made it undo itself, with the
    // system's reason (a full disk's ENOSPC): the undo's own reads (one at
    // the end of a file clears sysiocod) and failures do not replace them.
    const uint16_t keep = g->uerr_cod;
    const uint16_t keepsys = g->sysiocod;
    const int32_t high = tsthghwrd();
    bool failed = overflow_;
    for (int i = n_ - 1; i >= 0; i--) {
        if (undo(steps_[i])) failed = true;
    }
    n_ = 0;
    g->uerr_cod = keep;
    g->sysiocod = keepsys;
    zvSETHGHi(high);
    return failed ? 105 : 0;
}

// ---- Key steps ------------------------------------------------------------------------

int addikey81(int datno, UndoGuard &u, const void *rec, uint64_t pos, int32_t len) {
    INSTGV *g = zvWNGV;
    const uint32_t hi = hi_of(pos), lo = lo_of(pos);
    for (int slot = 0; slot < kMapIndexes; slot++) {
        int ix = active_index(datno, slot);
        if (ix == kIdxListEnd) break;
        if (ix < 0 || !open_index(ix)) continue;
        unsigned char *img = zvputk81(ix, rec, hi, lo, 1, len);
        if (!img) {
            if (g->isamerr_cod) return g->isamerr_cod;
            continue;
        }
        int rc = iaddkey(ix, img, hi, lo, 128);
        if (rc) {
            if (rc != 2) u.key_added(ix, img, pos, false);
            return ierr(rc, ix);
        }
        u.key_added(ix, img, pos);
    }
    return ierr(0, 0);
}

int rwtikey81(int datno, UndoGuard &u, const void *rec, uint64_t newpos, uint64_t oldpos, int32_t len) {
    INSTGV *g = zvWNGV;
    if (int rc = settle_images(datno)) return ierr(rc, datno);
    const bool same = newpos == oldpos;
    for (int slot = 0; slot < kMapIndexes; slot++) {
        int ix = active_index(datno, slot);
        if (ix == kIdxListEnd) break;
        if (ix < 0) continue;
        FCB *x = open_index(ix);
        if (!x) continue;
        KEYBUFSET *k = x->keybufs;
        bool bad = false;
        const unsigned char *old = current_image(k, &bad);
        if (bad) return ierr(794, ix);
        const unsigned char *neu = zvputk81(ix, rec, hi_of(newpos), lo_of(newpos), 1, len);
        if (!neu && g->isamerr_cod) return g->isamerr_cod;
        const size_t kl = size_t(x->hdr.base.keylen);
        const bool equal = old && neu && memcmp(old, neu, kl) == 0;
        if ((!old && !neu) || (equal && same)) continue;
        // A key that may not change: its value (the key without the
        // position suffix of a duplicate-key index) must stay.
        const size_t kv = idx_dup(x) ? kl - size_t(idx_psize(x)) : kl;
        if ((x->hdr.base.ktype & 0x80) && !(old && neu && memcmp(old, neu, kv) == 0))
            return ierr(set_uerr(1001), ix);
        if (equal && !idx_dup(x)) {
            // Another position, the same key: the entry follows the record.
            // The move is entered also when it failed: it may have taken
            // effect, and moving the entry back to where it was is harmless.
            int rc = iaddkey(ix, neu, hi_of(newpos), lo_of(newpos), 64 | 128);
            u.key_moved(ix, neu, oldpos);
            if (rc) return ierr(rc, ix);
            continue;
        }
        if (neu) {
            int rc = iaddkey(ix, neu, hi_of(newpos), lo_of(newpos), 128);
            if (rc) {
                if (rc != 2) u.key_added(ix, neu, newpos, false);
                return ierr(rc, ix);
            }
            u.key_added(ix, neu, newpos);
        }
        if (old) {
            int rc = idelchk(ix, old, hi_of(oldpos), lo_of(oldpos), 129);
            if (rc) {
                u.key_deleted(ix, old, oldpos, 0, false);
                return ierr(rc, ix);
            }
            u.key_deleted(ix, old, oldpos, 0);
        }
    }
    return ierr(0, 0);
}

int delikey81(int datno, UndoGuard &u, uint64_t pos) {
    if (int rc = settle_images(datno)) return ierr(rc, datno);
    for (int slot = 0; slot < kMapIndexes; slot++) {
        int ix = active_index(datno, slot);
        if (ix == kIdxListEnd) break;
        if (ix < 0) continue;
        FCB *x = open_index(ix);
        if (!x) continue;
        bool bad = false;
        const unsigned char *old = current_image(x->keybufs, &bad);
        if (bad) return ierr(794, ix);
        if (!old) continue;
        int rc = idelchk(ix, old, hi_of(pos), lo_of(pos), 129);
        if (rc) {
            u.key_deleted(ix, old, pos, 0, false);
            return ierr(rc, ix);
        }
        u.key_deleted(ix, old, pos, 0);
        set_uerr(0);
    }
    return ierr(0, 0);
}

bool host_serial(const FCB *d) {
    const FCB *h = d->parthost;
    return h && (h->hdr.ext.flmode2 & kPartSerial);
}

// The serial number goes into the record so that its key sorts by value:
// most significant byte first, or in host order (least significant byte
// first) when the start-up profile has key formation byte-reverse integer
// and serial segments. A segment wider than the file's serial numbers gets
// zero high bytes. While the file's no-serial flag is set (PUTHDR 23) the
// record keeps the bytes it carries there, so that records copied from
// another file keep their serial numbers.
void setsrlpos(FCB *d, void *rec) {
    INSTGV *g = zvWNGV;
    if (d->serpos <= 0 || d->srllen <= 0 || (d->stflags & kStNoSerial)) return;
    auto *p = static_cast<unsigned char *>(rec) + (d->serpos - 1);
    const int32_t n = d->srllen < 8 ? d->srllen : 8;
    const uint64_t high = (n > 4 && (d->hdr.base.hdrflags & kHdrHasExt)) ? g->lastserh : 0;
    const uint64_t value = high << 32 | g->lastserl;
    const bool host_order = g->userprof & kProfReverse;
    for (int32_t i = 0; i < n; i++) {
        const int32_t shift = 8 * (host_order ? i : n - 1 - i);
        p[i] = uint8_t(value >> shift);
    }
}

}  // namespace zv

using namespace zv;

namespace {

// Bytes in front of a fixed-length record: a superfile member's record header.
uint32_t fixed_frame(const FCB *d) { return is_member(d) ? (wide(d) ? 22 : 18) : 0; }

// The fixed-length data file of a write: the block, or null with the ISAM
// error set. *variable tells that the call belongs to the variable-length
// twin (a variable format that holds only records of the fixed length).
FCB *fixed_file(int datno, bool *variable) {
    INSTGV *g = zvWNGV;
    *variable = false;
    FCB *d = tstifnm(datno);
    if (!d) {
        ierr(g->uerr_cod, datno);
        return nullptr;
    }
    if (d->kind == kKindVariable && (d->hdr.ext.flmode3 & kFlmode3FixedOnly)) {
        *variable = true;
        return d;
    }
    if (d->kind != kKindFixed) {
        ierr(48, datno);
        return nullptr;
    }
    return d;
}

// Partitioned hosts: their records live in member files, which the
// partition layer adds and removes.
bool partition_host(const FCB *d) { return (d->hdr.ext.flmode2 & kFlmode2PartHost) != 0; }

}  // namespace

extern "C" {

ZV_API int ADDREC(int datno, void *record) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    bool variable = false;
    FCB *d = fixed_file(datno, &variable);
    if (!d) return g->isamerr_cod;
    if (variable) return ADDVREC(datno, record, int32_t(d->hdr.base.reclen));
    if (!record) return isam_end(set_uerr(33), datno);
    if (partition_host(d)) return part_addrec(datno, d, record, d->reclen, false);
    if (int rc = claim_set(datno)) return rc;
    UpdateBits bits(kUpdAdd | kUpdCurrent);
    UndoGuard u(datno);
    uint32_t lo = NEWREC(datno);
    uint32_t hi = uint32_t(zvGETHGHi());
    if (!lo && !hi) return isam_end(g->uerr_cod ? g->uerr_cod : 39, datno);
    const uint64_t pos = join64(hi, lo);
    u.space_taken(pos, false);
    if (!host_serial(d)) setsrlpos(d, record);
    if (!is_partition_member(d) && setIDfield(d, record, d->reclen)) return fail(u, g->uerr_cod, datno);
    if (int rc = addlok81(d, hi, lo, datno)) return fail(u, rc, datno);
    if (int rc = iWRTREC(datno, hi, lo, d->reclen, fixed_frame(d), record, d)) return fail(u, rc, datno);
    if (int rc = addikey81(datno, u, record, pos, d->reclen)) return fail(u, rc, g->isamfil_num);
    return commit_write(u, d, datno, hi, lo, record, d->reclen, 0x1);
}

ZV_API int RWTREC(int datno, void *record) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    bool variable = false;
    FCB *d = fixed_file(datno, &variable);
    if (!d) return g->isamerr_cod;
    if (variable) return RWTVREC(datno, record, int32_t(d->hdr.base.reclen));
    if (!record) return isam_end(set_uerr(33), datno);
    if (partition_host(d)) return part_rwtrec(datno, d, record, d->reclen, false);
    uint64_t pos = 0;
    if (int rc = chkism(datno, d, &pos)) return isam_end(rc, datno);
    // The stored record, kept for the undo of a write that fails half way.
    const int32_t n = d->reclen;
    const uint64_t at = pos + fixed_frame(d);
    ScratchBuffer sb;
    unsigned char *old = sb.take(n);
    if (!old) return isam_end(set_uerr(82), datno);
    if (int rc = raw_read(d, at, old, n)) return isam_end(rc, datno);
    if (old[0] == 0xFF || (n >= 2 && old[0] == 0xFE && old[1] == 0xFE)) return isam_end(set_uerr(114), datno);
    if (d->isamflags & kIsamKeysInvalid) return isam_end(794, datno);
    if (chgIDfield(d, record, n)) return g->isamerr_cod;
    if (int rc = claim_set(datno)) return rc;
    UpdateBits bits(kUpdRewrite | kUpdCurrent);
    UndoGuard u(datno);
    if (int rc = rwtikey81(datno, u, record, pos, pos, n)) return fail(u, rc, g->isamfil_num);
    u.bytes_changed(at, old, n);
    const uint32_t hi = uint32_t(pos >> 32), lo = uint32_t(pos);
    if (int rc = iWRTREC(datno, hi, lo, uint32_t(n), fixed_frame(d), record, d)) return fail(u, rc, datno);
    return commit_write(u, d, datno, hi, lo, record, n, 0x2);
}

ZV_API int DELREC(int datno) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    bool variable = false;
    FCB *d = fixed_file(datno, &variable);
    if (!d) return g->isamerr_cod;
    if (variable) return DELVREC(datno);
    if (partition_host(d)) return part_delrec(datno, d, false);
    uint64_t pos = 0;
    if (int rc = chkism(datno, d, &pos)) return isam_end(rc, datno);
    unsigned char head[2] = {0, 0};
    const int32_t n = d->reclen >= 2 ? 2 : 1;
    if (int rc = raw_read(d, pos + fixed_frame(d), head, n)) return isam_end(rc, datno);
    if (head[0] == 0xFF || (n == 2 && head[0] == 0xFE && head[1] == 0xFE)) return isam_end(set_uerr(114), datno);
    if (d->isamflags & kIsamKeysInvalid) return isam_end(794, datno);
    if (int rc = claim_set(datno)) return rc;
    UpdateBits bits(kUpdDelete | kUpdCurrent);
    UndoGuard u(datno);
    if (int rc = delikey81(datno, u, pos)) return fail(u, rc, g->isamfil_num);
    // Checked before the slot is freed, the one step that is not undone.
    if (int rc = u.write_failed()) return fail(u, rc, datno);
    zvSETHGHi(int32_t(pos >> 32));
    if (int rc = RETREC(datno, uint32_t(pos))) return fail(u, rc, datno);
    u.commit();
    flush_after_write(d, datno);
    return isam_end(0, datno);
}

}  // extern "C"
