// Fixed-length record space.
//
// A fixed-length data file is its header followed by records of the record
// length, the first at begbytfix (the smallest multiple of the record length
// not below the header size). Records are handed out from the delete stack,
// last in first out, or by growing the file one record at a time; freed
// records go on the stack. The stack is threaded through the freed records
// themselves, its head kept in the header (+4, high word +132):
//
//   OFFSET SIZE DESCRIPTION (of a freed record; the rest keeps its old bytes)
//     0     1   delete mark 0xFF
//     1    4|8  position of the next freed record, little-endian; 0 ends the
//               stack (8 bytes in a file with 8-byte offsets)
//
// In a superfile member the same bytes stand after the member record header,
// at position + 18 (+ 22 with 8-byte offsets).
//
// Invariants:
//  1. A position handed out or accepted is never 0, lies on a record
//     boundary of the file and never inside the header (tstrec81).
//  2. Every record on the stack begins with the delete mark; a record is
//     on the stack at most once. A free of a record that already carries the
//     mark is refused (32) unless it is the position this file's latest
//     NEWREC handed out (an allocation undone before its first write), so a
//     double free can never make the stack cyclic.
//  3. The first change of an open file marks its header changed (tstupd)
//     before any byte of the file or its header moves.
//  4. A failed allocation or free leaves the stack, the active count and the
//     last byte used as they were; a serial number taken stays consumed.
#include "engine/files/fixrec.h"

#include <cstdio>
#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/files/fcbops.h"
#include "engine/files/growth.h"
#include "engine/files/header.h"
#include "engine/core/header_codec.h"
#include "engine/files/identity_services.h"
#include "engine/files/memfile.h"
#include "engine/files/resconv.h"
#include "engine/isam/isam_services.h"

namespace zv {

namespace {

constexpr unsigned char kDeleteMark = 0xFF;
constexpr unsigned char kResourceMark = 0xFE;
constexpr int kRetry = -1;      // a member's empty stack: start the allocation again
constexpr int kShortRead = 36;  // the bytes asked for lie beyond the file's end
constexpr int kAttempts = 3;

inline bool wide(const FCB *f) { return (f->hdr.base.hdrflags & kHdr8ByteOffsets) != 0; }
inline bool has_ext(const FCB *f) { return (f->hdr.base.hdrflags & kHdrHasExt) != 0; }
inline bool is_member(const FCB *f) { return f->hdr.base.sfiltyp == kSfMember; }
inline FCB *host_of(FCB *f) { return (is_member(f) && f->hostfcb) ? f->hostfcb : f; }

// Bytes in front of the delete mark: a member record's header.
inline uint32_t member_hdr(const FCB *f) { return is_member(f) ? (wide(f) ? 22 : 18) : 0; }
// Bytes in front of the record data: 0 fixed, 10 variable, 18 or 22 member.
inline uint32_t frame_hdr(const FCB *f) {
    if (is_member(f)) return member_hdr(f);
    return f->kind == kKindVariable ? 10 : 0;
}
inline uint32_t link_size(const FCB *f) { return wide(f) ? 8 : 4; }
// A position's high word counts in a file with 8-byte offsets, and in a
// memory file, whose positions are the addresses of its records.
inline bool keeps_high_word(const FCB *f) { return wide(f) || fcb_is_memory(f); }

inline uint64_t stack_head(const FCB *f) { return join64(wide(f) ? f->hdr.ext.delstkh : 0, f->hdr.base.delstk); }
inline void set_stack_head(FCB *f, uint64_t pos) { split64(pos, &f->hdr.ext.delstkh, &f->hdr.base.delstk); }
inline uint64_t last_used(const FCB *f) { return join64(f->hdr.ext.numrech, f->hdr.base.numrec); }
inline uint64_t active_count(const FCB *f) { return join64(f->hdr.ext.numenth, f->hdr.base.nument); }
// The active count moves modulo 2^64, so an increment and its undo always cancel.
inline void add_active(FCB *f, int64_t delta) {
    split64(active_count(f) + uint64_t(delta), &f->hdr.ext.numenth, &f->hdr.base.nument);
}
inline uint64_t latest_new(const FCB *f) { return join64(f->newrech, f->newrecl); }

uint64_t get_le(const unsigned char *p, uint32_t n) {
    uint64_t v = 0;
    for (uint32_t i = n; i-- > 0;) v = (v << 8) | p[i];
    return v;
}

void put_le(unsigned char *p, uint64_t v, uint32_t n) {
    for (uint32_t i = 0; i < n; i++) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// Reads or writes `len` bytes at `origin` bytes into the record at `pos`
// (a memory file finds the record at the offset less the origin).
int rec_io(int op, FCB *f, uint64_t pos, uint32_t origin, void *buf, uint32_t len) {
    uint32_t hi, lo;
    split64(pos + origin, &hi, &lo);
    return izvio81x(op, f, hi, lo, buf, int32_t(len), nullptr, origin);
}

void log_stack_reset(const FCB *f, const char *what) {
    char msg[160];
    snprintf(msg, sizeof msg, "WARNING: an %s delete stack has been reset to zero for fixed length data file ...",
             what);
    zvrcvlog(msg, kLogSingleTry);
    zvrcvlog(f->name, kLogSingleTry);
}

void log_member_stack_problem(FCB *f) {
    char msg[96];
    zvrcvlog("NEWREC superfile member delete stack problem", kLogSingleTry);
    zvrcvlog(f->name, kLogSingleTry);
    snprintf(msg, sizeof msg, "delstk: %04x-%08xx", f->hdr.ext.delstkh, f->hdr.base.delstk);
    zvrcvlog(msg, kLogSingleTry);
    FCB *h = host_of(f);
    if (h != f && h->state != 'n') {
        snprintf(msg, sizeof msg, "host LEOF: %04x-%08xx", h->hdr.ext.numrech, h->hdr.base.numrec);
        zvrcvlog(msg, kLogSingleTry);
    }
}

// True when a position may head the delete stack of a plain file: the rules
// of tstrec81, checked without touching uerr_cod.
bool stack_position_ok(const FCB *f, uint64_t pos) {
    if (pos == 0) return false;
    if (fcb_is_memory(f) || is_member(f)) return true;
    uint32_t r = f->hdr.base.reclen;
    if (r == 0 || pos % r) return false;
    return pos >= begbytfix(f) && pos <= last_used(f);
}

// Conversion of a record image between host and stored layout, when the
// file has a conversion map and the caller did not switch it off.
bool converts(const FCB *f) { return f->cnvmap && !(zvWNGV->userprof & 0x20); }

int convert(FCB *f, void *buf, uint32_t len, int direction) {
    const unsigned char *m = f->cnvmap;
    int c = zvconvert18(buf, m, m + 16, int32_t(len), m[2], direction, f->hdr.base.reclen);
    return c < 0 ? -c : 0;
}

// Image kinds that only the engine itself may write into a record slot.
bool reserved_image(const unsigned char *p, uint32_t len) {
    return len >= 1 && (p[0] == kDeleteMark || (len >= 2 && p[0] == kResourceMark && p[1] == kResourceMark));
}

// One pass of NEWREC over a plain file or a member. Returns 0 with the
// position in *pos, kRetry, or an error code; *popped tells whether the
// stack head moved (so that a later failure can put it back).
int allocate_once(FCB *f, uint64_t *pos, uint64_t *oldhead, bool *popped, uint64_t *oldend,
                  bool *counted) {
    INSTGV *g = zvWNGV;
    *popped = false;
    *counted = false;
    uint64_t head = stack_head(f);
    *oldhead = head;
    *oldend = last_used(f);

    uint32_t lo32 = uint32_t(head), hi32 = uint32_t(head >> 32);
    if (lo32 == 0xFFFFFFFFu && !(wide(f) && hi32 != 0xFFFFFFFFu)) {
        log_stack_reset(f, "all 0xff");
        set_stack_head(f, 0);
        head = 0;
        *oldhead = 0;
    }
    if (is_member(f) && head == 0) return kRetry;

    int err = 0;
    uint32_t sh = 0;
    uint32_t sl = zvdhupd81(&sh, 1, 1, &err, f);
    *counted = true;
    g->lastserh = sh;
    g->lastserl = sl;
    if (err) return err;
    if (sl == 0 && !has_ext(f)) return 44;

    if (head != 0) {
        unsigned char rec[9];
        uint32_t n = 1 + link_size(f);
        int rc = stack_position_ok(f, head) ? rec_io(0, f, head, member_hdr(f), rec, n) : kShortRead;
        if (rc && rc != kShortRead) return rc;
        if (rc == 0 && rec[0] == kDeleteMark) {
            set_stack_head(f, get_le(rec + 1, link_size(f)));
            *popped = true;
            *pos = head;
            return 0;
        }
        set_uerr(0);
        log_stack_reset(f, "invalid");
        set_stack_head(f, 0);
        *oldhead = 0;
        if (is_member(f)) return kRetry;
    }
    if (f->hdr.base.sfiltyp != kSfPlain) return kRetry;
    zvSETHGHi(0);
    uint32_t lo = extfil(f, f->hdr.base.reclen, 0, 0);
    uint32_t hi = uint32_t(zvGETHGHi());
    if (lo == 0 && hi == 0) return g->uerr_cod ? g->uerr_cod : 39;
    *pos = join64(hi, lo);
    return 0;
}

}  // namespace

bool slots_read_as_stored(const FCB *f) {
    const INSTGV *g = zvWNGV;
    return g && f && f->kind == kKindFixed && f->hdr.base.clstyp == kKindFixed &&
           f->hdr.base.sfiltyp == kSfPlain && !fcb_is_memory(f) && f->hdr.base.reclen > 0 &&
           !(f->hdr.ext.flmode2 & kFlmode2PartHost) && !partition_host_of(const_cast<FCB *>(f)) && !converts(f) &&
           !f->fltr && !(g->opsmode & 0x24);
}

int read_slots(FCB *f, uint64_t pos, void *buf, uint32_t n, uint32_t *got_slots) {
    *got_slots = 0;
    const uint64_t bytes = uint64_t(n) * f->hdr.base.reclen;
    if (n == 0 || bytes > 0x7FFFFFFFu) return set_uerr(33);
    if (int rc = tstrec81(f, uint32_t(pos >> 32), uint32_t(pos))) return rc;
    if (pos + bytes - 1 > last_used(f)) return set_uerr(30);
    int32_t got = 0;
    uint32_t hi, lo;
    split64(pos, &hi, &lo);
    int rc = izvio81x(0x10, f, hi, lo, buf, int32_t(bytes), &got, 0);
    if (rc == kShortRead || (rc == 0 && got != int32_t(bytes))) rc = set_uerr(0);
    if (rc == 0) *got_slots = got > 0 ? uint32_t(got) / f->hdr.base.reclen : 0;
    return rc;
}

}  // namespace zv

using namespace zv;

extern "C" {

uint32_t begbytfix(const FCB *f) {
    uint32_t h = header_disk_size(f->hdr.base);
    uint32_t r = f->hdr.base.reclen;
    if (r == 0) return h;
    return (r - 1 + h) / r * r;
}

uint32_t zvdhupd81(uint32_t *serh, int32_t delta, int mode, int *err, FCB *f) {
    uint32_t localh = 0;
    int localerr = 0;
    if (!serh) serh = &localh;
    if (!err) err = &localerr;
    *err = 0;
    *serh = 0;
    uint32_t lo = 0;
    if (mode != 0) {
        FILEHDR &b = f->hdr.base;
        FILEHDRX &x = f->hdr.ext;
        if (has_ext(f)) {
            if (mode == 1) add64(&x.sernumh, &b.sernum, 1);
            *serh = x.sernumh;
            lo = b.sernum;
            *err = identity_step(f);
        } else {
            lo = ++b.sernum;
        }
    }
    if (delta != 0 && f->hdr.base.clstyp == kKindFixed) add_active(f, delta);
    return lo;
}

int tstrec81(FCB *f, uint32_t hi, uint32_t lo) {
    uint64_t pos = join64(hi, lo);
    if (pos == 0) return set_uerr(29);
    if (f->kind == kKindVariable || is_member(f)) {
        FCB *h = host_of(f);
        if (fcb_is_memory(h) || pos <= last_used(h)) return 0;
        return set_uerr(30);
    }
    if (fcb_is_memory(f)) return 0;
    uint32_t r = f->hdr.base.reclen;
    if (!(zvWNGV->fileopt[0] & kOpt1AnyRecordOffset) && (r == 0 || pos % r)) return set_uerr(767);
    // The header is no record, whatever multiple of the length it holds.
    if (pos < begbytfix(f)) return set_uerr(29);
    if (pos > last_used(f)) return set_uerr(30);
    return 0;
}

int iretrec(int filno, uint32_t lo, int count) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    uint32_t hi = uint32_t(zvGETHGHi());
    set_uerr(0);
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    if (!keeps_high_word(f)) hi = 0;
    if (int rc = chkredf(filno, f)) return rc;
    if (int rc = tstrec81(f, hi, lo)) return rc;
    if (f->hdr.base.clstyp != kKindFixed) return set_uerr(48);

    const uint64_t pos = join64(hi, lo);
    const uint32_t mh = member_hdr(f);
    const uint32_t n = 1 + link_size(f);
    const bool latest = pos == latest_new(f);
    // The slot's first bytes before the free: the double-free check reads
    // them, and a failed free puts them back.
    unsigned char old[9];
    bool have_old = false;
    if (count && !latest) {
        int rc = rec_io(0, f, pos, mh, old, n);
        if (rc == kShortRead) {
            set_uerr(0);  // never written: it cannot be on the stack
        } else if (rc) {
            return rc;
        } else if (old[0] == kDeleteMark) {
            return set_uerr(32);
        } else {
            have_old = true;
        }
    }
    if (int rc = tstupd(f)) return rc;
    if (count) add_active(f, -1);

    int rc = 0;
    const uint64_t oldhead = stack_head(f);
    const bool stacked = !(f->hdr.ext.flmode2 & kFlmode2NoStack);
    if (fcb_is_memory(f)) {
        rc = zvrmvmemrec(f, hi, lo);
    } else if (stacked && oldhead == pos) {
        rc = set_uerr(32);
    } else {
        unsigned char rec[9];
        rec[0] = kDeleteMark;
        put_le(rec + 1, stacked ? oldhead : 0, link_size(f));
        rc = rec_io(1, f, pos, mh, rec, n);
        if (rc == 0) {
            if (stacked) set_stack_head(f, pos);
            if (f->hdr.base.flmode & 0x0040) rc = wrthdr(f);
            if (rc) set_stack_head(f, oldhead);
        }
        // A failed write may still have reached the cached page: the slot
        // gets its old bytes back, so that the free can be tried again.
        if (rc && have_old) rec_io(1, f, pos, mh, old, n);
    }
    if (rc) {
        if (count) add_active(f, 1);
        return set_uerr(rc);
    }
    if (latest) f->newrech = f->newrecl = 0;
    return set_uerr(0);
}

int iWRTREC(int filno, uint32_t hi, uint32_t lo, uint32_t len, uint32_t offset, void *buf, FCB *f) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!f && !(f = tstfnm(filno))) return g->uerr_cod;
    if (!buf) return set_uerr(33);
    if (int rc = tstupd(f)) return rc;
    const bool conv = converts(f);
    int rc = conv ? convert(f, buf, len, 2) : 0;
    if (rc == 0 && f->kind == kKindFixed && (g->opword & kOpImageCheck) && (g->opword & (kOpAdd | kOpUpdate)) &&
        reserved_image(static_cast<const unsigned char *>(buf), len))
        rc = 553;
    if (rc == 0) rc = rec_io(1, f, join64(hi, lo), offset, buf, len);
    if (conv) convert(f, buf, len, 1);
    return set_uerr(rc);
}

ZV_API uint32_t NEWREC(int datno) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    set_uerr(0);
    auto fail = [g]() -> uint32_t {
        g->lastserh = g->lastserl = 0;
        zvSETHGHi(0);
        return 0;
    };
    FCB *f = tstfnm(datno);
    if (!f || chkredf(datno, f)) return fail();
    if (f->hdr.base.clstyp != kKindFixed) {
        set_uerr(48);
        return fail();
    }
    if (tstupd(f)) return fail();

    for (int attempt = 1;; attempt++) {
        if (is_member(f) && stack_head(f) == 0) {
            uint32_t lo = NEWVREC(datno, f->hdr.base.reclen);
            uint32_t hi = uint32_t(tsthghwrd());
            if (lo == 0 && hi == 0) return fail();
            f->newrech = hi, f->newrecl = lo;
            return lo;
        }
        uint64_t pos = 0, oldhead = 0, oldend = 0;
        bool popped = false, counted = false;
        int rc = allocate_once(f, &pos, &oldhead, &popped, &oldend, &counted);
        if (rc == 0 && (f->hdr.base.flmode & 0x0040)) rc = wrthdr(f);
        if (rc == 0) rc = tstupd(f);
        if (rc == 0) {
            uint32_t hi, lo;
            split64(pos, &hi, &lo);
            f->newrech = hi, f->newrecl = lo;
            set_uerr(0);
            zvSETHGHi(int32_t(hi));
            return lo;
        }
        // Undo what this pass changed; the serial number stays consumed.
        if (counted) zvdhupd81(nullptr, -1, 0, nullptr, f);
        if (popped) set_stack_head(f, oldhead);
        if (!is_member(f) && last_used(f) != oldend) split64(oldend, &f->hdr.ext.numrech, &f->hdr.base.numrec);
        if (rc != kRetry) {
            set_uerr(rc);
            return fail();
        }
        set_uerr(0);
        if (attempt == kAttempts) {
            log_member_stack_problem(f);
            set_stack_head(f, 0);
        } else if (attempt > kAttempts) {
            // Only a member's record space comes from its host: anything
            // else with an empty stack and no growth of its own is no file
            // of fixed-length records.
            set_uerr(48);
            return fail();
        }
    }
}

ZV_API int RETREC(int datno, uint32_t recbyt) { return iretrec(datno, recbyt, 1); }

ZV_API int REDREC(int datno, uint32_t recbyt, void *recptr) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    uint32_t hi = uint32_t(zvGETHGHi());
    set_uerr(0);
    FCB *f = tstfnm(datno);
    if (!f) return g->uerr_cod;
    if (g->opsmode & 0x24) zvclrlockon();

    FCB *filter_of = f;
    int rfno = datno;
    if ((f->hdr.ext.flmode2 & kFlmode2PartHost) && f->kind != kKindIndex) {
        // The raw number is in the high word whatever the host's offsets.
        uint32_t mh = hi;
        int part = -1;
        int m = zvunfoldpartno(f, &mh, &part, 1);
        if (m >= 0) {
            FCB *mf = tstfnm(m);
            if (!mf) return g->uerr_cod;
            f = mf;
            rfno = m;
            hi = mh;
        } else if (m != -3) {
            return set_uerr(g->uerr_cod ? g->uerr_cod : 26);
        }
    } else if (FCB *h = partition_host_of(f)) {
        filter_of = h;
    }

    if (!keeps_high_word(f)) hi = 0;
    if (int rc = tstrec81(f, hi, recbyt)) return rc;
    if (!recptr) return set_uerr(33);
    const uint32_t len = f->hdr.base.reclen;
    const uint32_t fh = frame_hdr(f);
    if (int rc = rec_io(0, f, join64(hi, recbyt), fh, recptr, len)) return rc;
    if (converts(f)) {
        const auto *p = static_cast<const unsigned char *>(recptr);
        if (!(f->kind == kKindFixed && reserved_image(p, len))) {
            if (int rc = convert(f, recptr, len, 1)) return set_uerr(rc);
        }
    }
    return apply_record_filter(filter_of, rfno, recptr, int32_t(len));
}

ZV_API int WRTREC(int datno, uint32_t recbyt, void *recptr) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    uint32_t hi = uint32_t(zvGETHGHi());
    set_uerr(0);
    FCB *f = tstfnm(datno);
    if (!f) return g->uerr_cod;
    if (!keeps_high_word(f)) hi = 0;
    if (f->kind == kKindVariable || is_member(f)) {
        zvSETHGHi(int32_t(hi));
        return WRTVREC(datno, recbyt, recptr, f->hdr.base.reclen);
    }
    // An index holds nodes, not records: a record written there would
    // overwrite them.
    if (f->kind == kKindIndex) return set_uerr(48);
    if (int rc = chkredf(datno, f)) return rc;
    if (int rc = tstrec81(f, hi, recbyt)) return rc;
    if (!recptr) return set_uerr(33);
    return iWRTREC(datno, hi, recbyt, f->hdr.base.reclen, 0, recptr, f);
}

ZV_API uint32_t DATENT(int datno) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    set_uerr(0);
    zvSETHGHi(0);
    FCB *f = tstfnm(datno);
    if (!f) return 0;
    if (f->hdr.base.clstyp != kKindFixed) {
        set_uerr(48);
        return 0;
    }
    if (f->hdr.ext.flmode2 & kFlmode2PartHost) {
        uint32_t hi = 0;
        uint32_t lo = zvhostent(f, datno, &hi);
        zvSETHGHi(int32_t(hi));
        return lo;
    }
    zvSETHGHi(int32_t(f->hdr.ext.numenth));
    return f->hdr.base.nument;
}

ZV_API int LOKREC(int, int, uint32_t) { return set_uerr(0); }

int32_t zvuhash(uint32_t a, uint32_t b) {
    uint32_t size = zvWNGV ? zvWNGV->lockhashsize : 0;
    if (size == 0) return 0;
    uint32_t h = (a + b) * 11737u + 3731u;
    return int32_t(h % size);
}

// ---- Lock and queue services this build does not have ----------------------

ZV_API int zvLOKTIMOUT(int, int, int32_t) { return set_uerr(454); }
ZV_API int zvLOKDYN(int, int) { return set_uerr(454); }
ZV_API int zvLOKLST(int, void *, int32_t *, int) { return set_uerr(454); }
ZV_API int zvSysQueueOpen(const char *, int) { return -454; }
ZV_API int zvSysQueueClose(int) { return 454; }
ZV_API int zvSysQueueWrite(int, const void *, int32_t) { return 454; }
ZV_API int zvSysQueueLIFOWrite(int, const void *, int32_t) { return 454; }
ZV_API int zvSysQueueRead(int, void *, int32_t, int32_t) { return 454; }
ZV_API int zvSysQueueMlen(int, int32_t) { return -454; }
ZV_API int zvSysQueueCount(int) { return -454; }
ZV_API int zvNotify(int, int, int, const void *, int32_t, int) { return 454; }
ZV_API int zvultbl81(int, uint32_t, uint32_t, int) { return 0; }
ZV_API int zvuutbl81(int, uint32_t, uint32_t) { return 0; }
ZV_API int zvtestfunc(void) { return 0; }

}  // extern "C"
