// Variable-length record space.
//
// A variable-length data file keeps each record in an area of its own: an
// area header (VRECHDR, varrec.h) followed by the record bytes. Free areas
// are keyed in the file's space index (spaceidx.h) by (member, length,
// position); allocation takes the first key not below the wanted length
// (best fit) or grows the file. Superfile members of every type take their
// space from their host the same way, under their own member number.
//
// Rules this module keeps:
//  1. An area is handed out at most once: a key is deleted from the space
//     index before its area is handed out, and freeing an area whose key is
//     already in the index is refused (158) and changes nothing.
//  2. An area is in use (0xFAFA) once written; a reused area keeps its free
//     mark and length until the record write sets the rest.
//  3. A merge reads only areas that lie inside the file's used space: the
//     follower of an area that ends at the last byte used is not read.
//  4. Record reads check the mark before the length: a resource, a node of
//     the space index or a free area never reads back as a record.
//  5. Record writes and reads of an area whose bytes are cached allocate
//     nothing and make no system call: headers and keys live on the stack.
#include "engine/core/bytes.h"
#include "engine/files/varrec.h"

#include <cstdio>
#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/files/fcbops.h"
#include "engine/files/fixrec.h"
#include "engine/files/growth.h"
#include "engine/files/header.h"
#include "engine/files/memfile.h"
#include "engine/files/resconv.h"
#include "engine/files/spaceidx.h"
#include "engine/index/index_services.h"
#include "engine/isam/isam_services.h"

using namespace zv;

// Stored integers of areas, resources and segment headers are little-endian.
using namespace zv::le;

namespace {

constexpr uint32_t kFlm2NoStack = 0x10000000;  // flmode2: freed space is marked, not registered

bool wide(const FCB *f) { return (f->hdr.base.hdrflags & kHdr8ByteOffsets) != 0; }
bool is_member(const FCB *f) { return f->hdr.base.sfiltyp == kSfMember; }
FCB *host_of(FCB *f) { return is_member(f) && f->hostfcb ? f->hostfcb : f; }
uint32_t member_no(const FCB *f) { return is_member(f) ? f->hdr.base.supmbr : 0; }
uint64_t last_used(FCB *f) {
    FCB *h = host_of(f);
    return join64(h->hdr.ext.numrech, h->hdr.base.numrec);
}
int uerr_now() { return zvWNGV ? zvWNGV->uerr_cod : 47; }


// The area header between host order and its stored form, over the 22-byte
// form (shorter headers use its first bytes).
void rev_vhdr_out(const VRECHDR &h, unsigned char *o) {
    put16(o, h.mark);
    put32(o + 2, h.arealen);
    put32(o + 6, h.reclen);
    put32(o + 10, h.member);
    put32(o + 14, h.prevl);
    put32(o + 18, h.prevh);
}
void rev_vhdr_in(const unsigned char *in, VRECHDR *h) {
    h->mark = get16(in);
    h->arealen = get32(in + 2);
    h->reclen = get32(in + 6);
    h->member = get32(in + 10);
    h->prevl = get32(in + 14);
    h->prevh = get32(in + 18);
}

// Takes the serial number for a new area (non-internal calls): 0 or 44.
int take_serial(FCB *f, int delta, int sermode) {
    INSTGV *g = zvWNGV;
    int err = 0;
    g->lastserl = zvdhupd81(&g->lastserh, delta, sermode, &err, f);
    if (err) return err;
    if (sermode == 1 && g->lastserl == 0 && !(f->hdr.base.hdrflags & kHdrHasExt)) return 44;
    return 0;
}

// Header bookkeeping after the file grew for an area (allocation step 8).
// The file is marked changed before any header of it is written, so that a
// header written here and an allocation that fails afterwards cannot leave
// a header on disk that the close would not write again.
int grown_headers(FCB *f, bool internal) {
    if (!internal) {
        if (int rc = tstupd(f)) return rc;
    }
    if (is_member(f)) {
        FCB *host = host_of(f);
        if (host != f && (host->hdr.base.flmode & 0x40)) {
            if (int rc = filhdr(host)) return rc;
        }
        if (f->hdr.base.flmode & 0x40) {
            if (int rc = wrthdr(f)) return rc;
        }
        if (host != f) {
            if (int rc = tstupd(host)) return rc;
        }
    } else if (f->hdr.base.flmode & 0x40) {
        if (int rc = wrthdr(f)) return rc;
    }
    return 0;
}

void log_stale_key(const FCB *f, uint16_t mark, uint64_t pos) {
    char line[80];
    snprintf(line, sizeof line, "member: mark=%xx pos=%04x-%08xx", unsigned(mark), unsigned(pos >> 32),
             unsigned(uint32_t(pos)));
    zvrcvlog(f->name, 0);
    zvrcvlog(line, 147);
}

// Backward merge: the free area that ends exactly at pos, found from the
// record before pos in the file's record-position index. Merges it into
// the area at *pos (which then starts there). 0 or an error.
int merge_backward(FCB *f, FCB *sp, uint64_t *pos, uint32_t *alen, int mode) {
    FCB *ri = f->rposidx;
    if (!ri || ri->state != 'y' || ri->hdr.base.keylen == 0) return 0;
    unsigned char target[1040] = {};
    unsigned char found[1040];
    int32_t k = ri->hdr.base.keylen;
    if (k > int32_t(sizeof target)) return 0;
    target[0] = 'D';
    int n = 1;
    if (wide(f)) {
        for (int i = 3; i >= 0 && n < k; i--) target[n++] = uint8_t(*pos >> (32 + 8 * i));
    }
    for (int i = 3; i >= 0 && n < k; i--) target[n++] = uint8_t(uint32_t(*pos) >> (8 * i));
    uint32_t lo = fndkey(ri, target, 'N', found);
    uint32_t hi = uint32_t(zvGETHGHi());
    uint64_t q = join64(hi, lo);
    int steps = 4;
    if (!q) {
        q = first_node_offset(f);
        steps = 6;
    }
    for (int i = 0; i < steps && q < *pos; i++) {
        VRECHDR qh;
        if (getvhdr81(f, uint32_t(q >> 32), uint32_t(q), &qh)) return 0;
        if (qh.arealen == 0) return 0;
        uint64_t end = q + qh.arealen;
        if (end > *pos) return 0;
        if (end == *pos) {
            if (qh.mark != kVrecFree) return 0;
            if (uint64_t(*alen) + qh.arealen > 0xFFFFFFFFull) return 0;
            if (space_delete(sp, f, qh.arealen, q, mode)) return set_uerr(146);
            VRECHDR me{};
            if (getvhdr81(f, uint32_t(*pos >> 32), uint32_t(*pos), &me) == 0) {
                me.mark = kVrecFree;
                me.reclen = 0;
                putvhdr81(f, uint32_t(*pos >> 32), uint32_t(*pos), &me);
            }
            *alen += qh.arealen;
            *pos = q;
            return 0;
        }
        q = end;
    }
    return 0;
}

// A record position of a partitioned host names a record of one of its
// members: *f, *filno and *hi become the member's; the filter stays the
// host's. A partition member opened through its host reads with the host's
// filter. 0 or an error.
int map_partition(FCB **f, int *filno, uint32_t *hi, FCB **filter_of) {
    FCB *h = *f;
    if ((h->hdr.ext.flmode2 & kFlmode2PartHost) && h->kind != kKindIndex) {
        // The raw number is in the high word whatever the host's offsets.
        uint32_t mh = *hi;
        int part = -1;
        int m = zvunfoldpartno(h, &mh, &part, 1);
        if (m >= 0) {
            FCB *mf = tstfnm(m);
            if (!mf) return uerr_now();
            *f = mf;
            *filno = m;
            *hi = mh;
        } else if (m != -3) {
            return set_uerr(uerr_now() ? uerr_now() : 26);
        }
    } else if (FCB *ph = partition_host_of(h)) {
        *filter_of = ph;
    }
    return 0;
}

}  // namespace

uint32_t vhdr_size(const FCB *f) { return is_member(f) ? (wide(f) ? 22 : 18) : 10; }

int chkvhdr(const VRECHDR *h) {
    switch (h->mark) {
    case kVrecUsed:
    case kVrecFree:
    case kVrecMemberFree:
    case kVrecNode:
    case kVrecResource:
        return 0;
    default:
        return 123;
    }
}

extern "C" ZV_API int getvhdr81(FCB *f, uint32_t hw, uint32_t lw, VRECHDR *h) {
    if (hw == 0 && lw == 0) return set_uerr(159);
    if (f->kind == kKindFixed && !is_member(f)) return set_uerr(48);
    unsigned char b[22] = {};
    int32_t got = 0;
    int32_t n = int32_t(vhdr_size(f));
    if (int rc = izvio81x(0, f, hw, lw, b, n, &got, 0)) return rc;
    if (got < n) return set_uerr(36);
    rev_vhdr_in(b, h);
    if (n < 22) h->prevh = 0;
    if (n < 18) h->member = h->prevl = 0;
    return 0;
}

int putvhdr81(FCB *f, uint32_t hw, uint32_t lw, const VRECHDR *h) {
    if (hw == 0 && lw == 0) return set_uerr(159);
    unsigned char b[22];
    rev_vhdr_out(*h, b);
    return izvio81x(1, f, hw, lw, b, int32_t(vhdr_size(f)), nullptr, 0);
}

namespace {

// A live record rewritten in place with a new header: header, record and
// the header of a free tail cut off behind it (taillen, 0 for none) go in
// one write. Written apart, a process ended between them would leave the
// old header over new bytes, or a tail header inside the old record: a
// record neither version. 0 or the code.
int rewrite_whole(FCB *f, uint64_t pos, const VRECHDR *h, const void *buf, int32_t len, uint32_t taillen) {
    const uint32_t hs = vhdr_size(f);
    const uint64_t total = uint64_t(hs) + uint64_t(len) + (taillen ? hs : 0);
    if (total > 0x7FFFFFFFull) return 148;
    unsigned char local[4096];
    unsigned char *b = total <= sizeof local ? local : static_cast<unsigned char *>(zvgetmem(int32_t(total)));
    if (!b) return 82;
    unsigned char hb[22];
    rev_vhdr_out(*h, hb);
    memcpy(b, hb, hs);
    memcpy(b + hs, buf, size_t(len));
    convert_record(f, b + hs, len, kToStored);
    if (taillen) {
        VRECHDR th{};
        th.mark = kVrecFree;
        th.arealen = taillen;
        rev_vhdr_out(th, hb);
        memcpy(b + hs + len, hb, hs);
    }
    const int rc = izvio81x(1, f, uint32_t(pos >> 32), uint32_t(pos), b, int32_t(total), nullptr, 0);
    if (b != local) zvputmem(b);
    return rc;
}

}  // namespace

uint32_t inewvrec(FCB *f, int filno, int32_t len, uint32_t boundary, int mode, int delta, int sermode) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    zvSETHGHi(0);
    if (!f) return set_uerr(61), 0;
    bool internal = filno == -1;
    if (!internal && chkredf(filno, f)) return 0;
    set_uerr(0);
    bool serial = false;
    int rc = 0;
    uint64_t pos = 0;
    auto fail = [&](int code) -> uint32_t {
        if (code) set_uerr(code);
        if (serial && delta) zvdhupd81(nullptr, -delta, 0, nullptr, f);
        g->lastserh = g->lastserl = 0;
        zvSETHGHi(0);
        return 0;
    };
    if (len < 0) return fail(634);
    bool member = is_member(f);
    if (!member && f->kind != kKindVariable) return fail(48);
    FCB *host = host_of(f);
    FCB *sp = space_index_of(f);
    uint64_t total64 = uint64_t(len) + vhdr_size(f);
    if (total64 > 0xFFFFFFFFull) return fail(39);
    uint32_t total = uint32_t(total64);
    bool index_member = member && f->kind == kKindIndex;
    if (index_member) boundary = uint32_t(g->nodesize > 0 ? g->nodesize : 1024);

    // Reuse a free area: best fit through the space index.
    if (mode != 2 && boundary == 0 && !sp->nospcidx && space_keys(sp) > 0) {
        unsigned char key[kSpaceKeyMax];
        uint64_t at = space_find(sp, f, total, key);
        if (!at) {
            // No free area is no error; a search that failed (a damaged
            // space index, a failing read) ends the call: a file grown
            // instead would answer 0 over a disk that failed.
            if (int e = uerr_now()) return fail(e);
        } else {
            uint32_t klen = space_key_length(key);
            bool fits = !member || space_key_member(key) == member_no(f);
            if (fits && (member || fcb_is_memory(f))) {
                uint64_t factor = f->rposidx ? 3 : 2;
                if (uint64_t(klen) >= factor * total) fits = false;
            }
            if (fits) {
                VRECHDR vh;
                if ((rc = getvhdr81(f, uint32_t(at >> 32), uint32_t(at), &vh))) return fail(rc);
                int dmode = internal ? 0x20 : 0;
                if (vh.mark != kVrecFree && vh.mark != kVrecMemberFree) {
                    space_delete(sp, f, klen, at, dmode);
                    log_stale_key(f, vh.mark, at);
                    set_uerr(0);
                } else {
                    if (space_delete(sp, f, klen, at, dmode)) return fail(146);
                    if (!internal) {
                        if ((rc = tstupd(f))) return fail(rc);
                        serial = true;
                        if ((rc = take_serial(f, delta, sermode))) return fail(rc);
                    }
                    if ((f->hdr.base.flmode & 0x40) && (rc = wrthdr(f))) return fail(rc);
                    zvSETHGHi(int32_t(at >> 32));
                    return uint32_t(at);
                }
            }
        }
    }

    // Grow the file.
    if (!internal) {
        serial = true;
        if ((rc = take_serial(f, delta, sermode))) return fail(rc);
    }
    uint32_t lo, hi;
    const uint64_t oldlast = last_used(f);
    if (!internal && !fcb_is_memory(f)) {
        lo = extfil(f, total, boundary, 1);
    } else {
        lo = extfil(host, total, boundary, 0);
    }
    hi = uint32_t(zvGETHGHi());
    pos = join64(hi, lo);
    if (!pos) return fail(uerr_now() ? uerr_now() : 39);
    // A failure from here on gives the new space back: an area whose header
    // was never written must not stay inside the file's used space.
    const int32_t oldchain = f->hdr.base.sfmember;
    const uint32_t oldchainh = f->hdr.ext.sfmemberh;
    bool marked = false;  // the area's header write was tried
    auto fail_grown = [&](int code) -> uint32_t {
        // The in-use mark of a header write that failed may be in a cached
        // page or on disk: past the last byte used it would read as a live
        // area to the next growth. It goes back to fill (as far as it can).
        if (marked && !fcb_is_memory(host)) {
            const uint16_t keep = uerr_now();
            unsigned char fill[22];
            memset(fill, 0xFF, sizeof fill);
            izvio81x(1, f, hi, lo, fill, int32_t(vhdr_size(f)), nullptr, 0);
            set_uerr(keep);
        }
        if (!fcb_is_memory(host) && last_used(f) > oldlast)
            split64(oldlast, &host->hdr.ext.numrech, &host->hdr.base.numrec);
        f->hdr.base.sfmember = oldchain;
        f->hdr.ext.sfmemberh = oldchainh;
        return fail(code);
    };
    VRECHDR nh{};
    nh.mark = kVrecUsed;
    nh.arealen = total;
    nh.member = member_no(f);
    if (!(f->hdr.base.flmode & 0x10) && member && mode == 1) {
        nh.prevl = uint32_t(f->hdr.base.sfmember);
        nh.prevh = f->hdr.ext.sfmemberh;
        f->hdr.base.sfmember = int32_t(lo);
        f->hdr.ext.sfmemberh = hi;
    }
    if ((rc = grown_headers(f, internal))) return fail_grown(rc);
    marked = true;
    if ((rc = putvhdr81(f, hi, lo, &nh))) return fail_grown(rc);
    set_uerr(0);
    zvSETHGHi(int32_t(hi));
    return lo;
}

int iretvrec(int spcfilno, int filno, uint32_t posl, int, int merge) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    uint32_t hraw = uint32_t(zvGETHGHi());
    set_uerr(0);
    bool internal = filno == -1;
    FCB *f = tstfnm(internal ? spcfilno : filno);
    if (!f) return uerr_now();
    uint32_t posh = wide(f) ? hraw : 0;
    if (!internal) {
        if (int rc = chkredf(filno, f)) return rc;
    }
    VRECHDR h;
    if (int rc = getvhdr81(f, posh, posl, &h)) return rc;
    if (chkvhdr(&h)) return set_uerr(123);
    bool member = is_member(f);
    FCB *sp = space_index_of(f);
    uint64_t pos = join64(posh, posl);
    bool registers = !fcb_is_memory(f) && !(f->hdr.ext.flmode2 & kFlm2NoStack);
    // A free area whose key is in the space index is free already.
    if (registers && (h.mark == kVrecFree || h.mark == kVrecMemberFree)) {
        int has = space_has(sp, f, h.arealen, pos);
        if (has < 0) return set_uerr(-has);
        if (has) return set_uerr(158);
    }
    int kmode = internal ? 0x20 : 0;
    if (!internal) {
        if (int rc = tstupd(f)) return rc;
    }
    uint32_t alen = h.arealen;
    bool merging = merge && !member && !(f->hdr.base.flmode & 0x10) && !fcb_is_memory(f) &&
                   !(f->hdr.ext.flmode2 & kFlm2NoStack);
    if (merging && alen > 0) {
        uint64_t fpos = pos + alen;
        if (fpos <= last_used(f)) {
            VRECHDR fh;
            if (getvhdr81(f, uint32_t(fpos >> 32), uint32_t(fpos), &fh) == 0 && fh.mark == kVrecFree &&
                uint64_t(alen) + fh.arealen > alen && uint64_t(alen) + fh.arealen <= 0xFFFFFFFFull &&
                space_has(sp, f, fh.arealen, fpos) == 1) {
                if (space_delete(sp, f, fh.arealen, fpos, kmode)) return set_uerr(146);
                alen += fh.arealen;
            }
        }
        if (int rc = merge_backward(f, sp, &pos, &alen, kmode)) return rc;
    }
    h.mark = member ? kVrecMemberFree : kVrecFree;
    h.reclen = 0;
    h.arealen = alen;
    if (int rc = putvhdr81(f, uint32_t(pos >> 32), uint32_t(pos), &h)) return rc;
    if (fcb_is_memory(f)) return set_uerr(zvrmvmemrec(f, uint32_t(pos >> 32), uint32_t(pos)));
    if (!registers) return set_uerr(0);
    return set_uerr(space_add(sp, f, alen, pos, kmode));
}

int32_t prprdv81(int filno, uint32_t hw, uint32_t lw, void *buf, int32_t buflen, int mode, int32_t *outlen) {
    FCB *f = tstfnm(filno);
    if (!f) return 0;
    if (hw == 0 && lw == 0) return set_uerr(29), 0;
    if (!buf) return set_uerr(33), 0;
    VRECHDR h;
    if (getvhdr81(f, hw, lw, &h)) return 0;
    if (chkvhdr(&h)) return set_uerr(123), 0;
    if (h.mark != kVrecUsed) return set_uerr(158), 0;
    int32_t rlen = int32_t(h.reclen);
    if (rlen < 0) return set_uerr(634), 0;
    if (buflen < 0) return set_uerr(634), 0;
    if (outlen) *outlen = rlen;
    if (rlen > buflen) {
        if (mode == 1) return set_uerr(153), 0;
        return buflen;
    }
    if (rlen == 0) return set_uerr(154), 0;
    return rlen;
}

int iRDVREC(int filno, uint32_t posl, void *buf, int32_t buflen, int mode, int32_t *outlen) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    uint32_t hi = uint32_t(zvGETHGHi());
    set_uerr(0);
    FCB *f = tstfnm(filno);
    if (!f) return uerr_now();
    if (g->opsmode & 0x24) zvclrlockon();
    FCB *filter_of = f;
    int rfno = filno;
    if (int rc = map_partition(&f, &rfno, &hi, &filter_of)) return rc;
    uint32_t posh = wide(f) ? hi : 0;
    int32_t n = prprdv81(rfno, posh, posl, buf, buflen, mode, outlen);
    if (n <= 0) return uerr_now();
    uint64_t at = join64(posh, posl) + vhdr_size(f);
    int32_t got = 0;
    if (int rc = izvio81x(0, f, uint32_t(at >> 32), uint32_t(at), buf, n, &got, vhdr_size(f))) return rc;
    if (got < n) return set_uerr(36);
    convert_record(f, buf, n, kToHost);
    return apply_record_filter(filter_of, rfno, buf, n);
}

extern "C" {

ZV_API uint32_t NEWVREC(int filno, int32_t reclen) {
    if (!zvWNGV) return 0;
    zvSETHGHi(0);
    FCB *f = tstfnm(filno);
    if (!f) return 0;
    return inewvrec(f, filno, reclen, 0, 1, 1, 1);
}

ZV_API int RETVREC(int filno, uint32_t posl) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    uint32_t hraw = uint32_t(zvGETHGHi());
    set_uerr(0);
    FCB *f = tstfnm(filno);
    if (!f) return uerr_now();
    uint32_t posh = wide(f) ? hraw : 0;
    // A resource or a node of the space index is no record to free.
    VRECHDR h;
    if (int rc = getvhdr81(f, posh, posl, &h)) return rc;
    if (h.mark == kVrecResource || h.mark == kVrecNode) return set_uerr(158);
    FCB *sp = space_index_of(f);
    zvSETHGHi(int32_t(posh));
    return iretvrec(sp->filno, filno, posl, 1, 1);
}

ZV_API int WRTVREC(int filno, uint32_t posl, void *buf, int32_t len) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    uint32_t hraw = uint32_t(zvGETHGHi());
    set_uerr(0);
    FCB *f = tstfnm(filno);
    if (!f) return uerr_now();
    uint32_t posh = wide(f) ? hraw : 0;
    if (int rc = chkredf(filno, f)) return rc;
    if (posh == 0 && posl == 0) return set_uerr(159);
    if (!buf) return set_uerr(33);
    if (len < 0) return set_uerr(634);
    VRECHDR h;
    if (int rc = getvhdr81(f, posh, posl, &h)) return rc;
    if (chkvhdr(&h)) return set_uerr(123);
    if (h.mark == kVrecResource || h.mark == kVrecNode) return set_uerr(158);
    uint32_t hs = vhdr_size(f);
    if (uint64_t(h.arealen) < uint64_t(hs) + uint64_t(len)) return set_uerr(148);
    if (int rc = tstupd(f)) return rc;
    // A live record rewritten in place whose header changes (its length,
    // or a free tail cut off behind it).
    const bool rewrite = h.mark == kVrecUsed && h.reclen != 0 && !fcb_is_memory(f);
    const uint32_t oldlen = h.reclen;
    h.reclen = uint32_t(len);
    h.mark = kVrecUsed;
    h.member = member_no(f);
    uint64_t pos = join64(posh, posl);
    uint64_t rest = uint64_t(h.arealen) - hs - uint64_t(len);
    bool split = rest > uint64_t(f->hdr.base.reclen) + hs && rest > 64 && !fcb_is_memory(f) && !is_member(f);
    uint64_t tail = pos + hs + uint64_t(len);
    if (rewrite && (split || oldlen != uint32_t(len))) {
        if (split) h.arealen = hs + uint32_t(len);
        if (int rc = rewrite_whole(f, pos, &h, buf, len, split ? uint32_t(rest) : 0)) return set_uerr(rc);
        if (split) {
            zvSETHGHi(int32_t(tail >> 32));
            return iretvrec(space_index_of(f)->filno, filno, uint32_t(tail), 1, 1);
        }
        return set_uerr(0);
    }
    if (split) {
        VRECHDR th{};
        th.mark = kVrecFree;
        th.arealen = uint32_t(rest);
        // A failed write of the tail's header fails the call before the
        // record's own header changes.
        if (int rc = putvhdr81(f, uint32_t(tail >> 32), uint32_t(tail), &th)) return rc;
        h.arealen = hs + uint32_t(len);
    }
    // The record's bytes go before its header: the header is what makes
    // them a record. Written the other way, a process ended between the
    // two writes (write-through mode writes each at once) would leave a
    // header marking the area live over the bytes it held before, a
    // deleted record's among them, and the repair would take those back.
    uint64_t at = pos + hs;
    bool converted = convert_record(f, buf, len, kToStored) != 0;
    int rc = izvio81x(1, f, uint32_t(at >> 32), uint32_t(at), buf, len, nullptr, hs);
    if (converted) convert_record(f, buf, len, kToHost);
    if (rc) return set_uerr(rc);
    if ((rc = putvhdr81(f, posh, posl, &h)) != 0) return rc;
    if (split) {
        zvSETHGHi(int32_t(tail >> 32));
        return iretvrec(space_index_of(f)->filno, filno, uint32_t(tail), 1, 1);
    }
    return set_uerr(0);
}

ZV_API int RDVREC(int filno, uint32_t posl, void *buf, int32_t buflen) {
    return iRDVREC(filno, posl, buf, buflen, 1, nullptr);
}

ZV_API uint32_t GTVLEN(int filno, uint32_t posl) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    uint32_t hi = uint32_t(zvGETHGHi());
    set_uerr(0);
    FCB *f = tstfnm(filno);
    if (!f) return 0;
    if ((f->hdr.ext.flmode2 & kFlmode2PartHost) && f->kind == kKindIndex && wide(f)) return set_uerr(48), 0;
    int rfno = filno;
    FCB *filter_of = f;
    if (map_partition(&f, &rfno, &hi, &filter_of)) return 0;
    uint32_t posh = wide(f) ? hi : 0;
    if (f->kind != kKindVariable) return set_uerr(48), 0;
    if (posh == 0 && posl == 0) return set_uerr(29), 0;
    VRECHDR h;
    if (getvhdr81(f, posh, posl, &h)) return 0;
    if (h.mark != kVrecUsed) return set_uerr(158), 0;
    if (h.reclen < f->hdr.base.reclen) return set_uerr(149), 0;
    return h.reclen;
}

ZV_API int TSTVREC(int) { return set_uerr(0); }

ZV_API int zvgetrmd(FCB *fcb, ZVRMD *out) {
    if (!fcb || !out) return set_uerr(540);
    uint32_t f3 = fcb->hdr.ext.flmode3;
    int32_t first = (f3 & 0x8000) ? 4 : 0;
    int32_t second = (f3 & 0x0200) ? 4 : 0;
    out->length = first + second;
    out->flags = (first ? 1 : 0) | (second ? 2 : 0);
    out->firstlen = first;
    out->reserved[0] = out->reserved[1] = 0;
    return 0;
}

ZV_API int IsZarvoStringDataType(int type, int *flag, int *width) {
    int f = 0, w = 0;
    switch (type) {
    case 144: case 152: case 160: case 168: case 177: case 193:
        f = 1;
        break;
    default:
        break;
    }
    switch (type) {
    case 152: case 154: case 177:
        w = 1;
        break;
    case 160: case 162: case 193:
        w = 2;
        break;
    case 168: case 170:
        w = 4;
        break;
    default:
        break;
    }
    if (flag) *flag = f;
    if (width) *width = w;
    return type >= 144 && type <= 201 ? 1 : 0;
}

ZV_API int zvAlterSchema(int, const void *, int32_t) { return set_uerr(454); }

}  // extern "C"
