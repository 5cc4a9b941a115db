// Resources of data and index files.
//
// The resources of a file form one ring, doubly linked through their
// headers (RESHDR, resource.h) and kept in ascending (type, number) order
// after its first entry, the anchor (type 0, number 0, empty name) that
// ENARES writes. The file header's resource-header field points at the
// anchor; 0 means resources are not enabled.
//
// Where a resource lives: in whole record slots of a fixed-length file, in
// whole nodes of an index file, in a variable-length area of a
// variable-length file or a superfile member. New space always comes from
// the end of the file.
//
// Invariants and rules:
//  1. Every walk of the ring is bounded: at most (last byte used + 1) /
//     (header size + 9) steps (the record count of a memory file), and a
//     link that is 0, lies beyond the last byte used (names no record of a
//     memory file), or reaches a header without the mark gives 407. A damaged
//     ring never makes a call loop. A file opened as damaged whose update
//     flag is set takes its size on disk for its last byte used when that
//     is larger (link_limit).
//  2. Changes are written so that the forward links always lead from the
//     anchor back to it: a new entry is complete before its predecessor
//     points at it, and an entry leaves the ring through its predecessor's
//     forward link before anything else is touched. A failed write leaves
//     the ring walkable (space may be lost, the ring is not).
//  3. The anchor is written before the file header points at it, so a
//     failed ENARES leaves the file without resources and can be retried.
//  4. The caller's body is handed back byte-identical: a conversion to
//     stored order is undone after the write, also on failure.
#include "engine/core/bytes.h"
#include "engine/files/resource.h"

#include <algorithm>
#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/files/fcbops.h"
#include "engine/files/fixrec.h"
#include "engine/files/growth.h"
#include "engine/files/header.h"
#include "engine/files/memfile.h"
#include "engine/files/resconv.h"
#include "engine/files/varrec.h"

// Stored integers of areas, resources and segment headers are little-endian.
using namespace zv::le;

namespace zv {

namespace {

// Search modes of the ring (after removing the bits 0x0001, 0x0040 and 0x0100).
enum : int {
    kByKey = 2,
    kByType = 4,
    kFirstAfterAnchor = 8,
    kByName = 16,
    kByPosition = 32,
    kNextAfterKey = 128,
    kTypeSurvey = 1024,
};
constexpr int kInfoOnly = 0x0040;
constexpr int kNameRead = 64;  // name bytes a name search compares at most

// Bits of the instance's operation word during a resource call.
constexpr uint32_t kResOpCall = 0x10, kResOpAdd = 0x01, kResOpUpdate = 0x02, kResOpDelete = 0x04;

// Sets bits of the operation word for the duration of a call.
class OpWordScope {
public:
    explicit OpWordScope(uint32_t bits) : g_(zvWNGV), old_(g_ ? g_->opword : 0) {
        if (g_) g_->opword |= kResOpCall | bits;
    }
    ~OpWordScope() {
        if (g_) g_->opword = old_;
    }
    OpWordScope(const OpWordScope &) = delete;
    OpWordScope &operator=(const OpWordScope &) = delete;

private:
    INSTGV *g_;
    uint32_t old_;
};

bool wide(const FCB *f) { return (f->hdr.base.hdrflags & kHdr8ByteOffsets) != 0; }
bool is_member(const FCB *f) { return f->hdr.base.sfiltyp == kSfMember; }
uint32_t hsize(const FCB *f) { return f->rhdrsize2 ? f->rhdrsize2 : (wide(f) ? 30 : 22); }
FCB *physical(FCB *f) { return is_member(f) && f->hostfcb ? f->hostfcb : f; }
uint64_t last_used(FCB *f) {
    FCB *p = physical(f);
    return join64(p->hdr.ext.numrech, p->hdr.base.numrec);
}
uint64_t anchor(const FCB *f) { return join64(f->hdr.ext.reshdrh, f->hdr.base.reshdr); }

// The end of a file (last byte used and physical end) before it grows, put
// back when the new space cannot be completed on disk: a header never
// claims space that no resource owns and the file may not hold.
struct FileEnd {
    FCB *f;
    uint32_t numrec, numrech, phyend, phyendh;
    explicit FileEnd(FCB *file) : f(physical(file)) {
        numrec = f->hdr.base.numrec, numrech = f->hdr.ext.numrech;
        phyend = f->hdr.base.phyend, phyendh = f->hdr.ext.phyendh;
    }
    void restore() const {
        f->hdr.base.numrec = numrec, f->hdr.ext.numrech = numrech;
        f->hdr.base.phyend = phyend, f->hdr.ext.phyendh = phyendh;
    }
};
int uerr_now() { return zvWNGV ? zvWNGV->uerr_cod : 47; }

// Reads or writes `len` bytes `origin` bytes into the resource at pos (the
// origin also tells a memory file which record the bytes belong to).
int read_at(FCB *f, uint64_t pos, uint32_t origin, void *buf, int32_t len) {
    int32_t got = 0;
    uint64_t at = pos + origin;
    int rc = izvio81x(0, f, uint32_t(at >> 32), uint32_t(at), buf, len, &got, origin);
    if (!rc && got < len) rc = set_uerr(36);
    return rc;
}

int write_at(FCB *f, uint64_t pos, uint32_t origin, const void *buf, int32_t len) {
    uint64_t at = pos + origin;
    return izvio81x(1, f, uint32_t(at >> 32), uint32_t(at), const_cast<void *>(buf), len, nullptr, origin);
}


// The disk image of a header (hsize bytes).
void encode_rhdr(const FCB *f, const RESHDR &h, unsigned char *o) {
    put16(o, h.mark);
    put32(o + 2, h.arealen);
    put32(o + 6, h.usedlen);
    put32(o + 10, h.member);
    if (wide(f)) {
        put32(o + 14, uint32_t(h.fwd));
        put32(o + 18, uint32_t(h.fwd >> 32));
        put32(o + 22, uint32_t(h.bwd));
        put32(o + 26, uint32_t(h.bwd >> 32));
    } else {
        put32(o + 14, uint32_t(h.fwd));
        put32(o + 18, uint32_t(h.bwd));
    }
}

void decode_rhdr(const FCB *f, const unsigned char *in, RESHDR *h) {
    h->mark = get16(in);
    h->arealen = get32(in + 2);
    h->usedlen = get32(in + 6);
    h->member = get32(in + 10);
    if (wide(f)) {
        h->fwd = join64(get32(in + 18), get32(in + 14));
        h->bwd = join64(get32(in + 26), get32(in + 22));
    } else {
        h->fwd = get32(in + 14);
        h->bwd = get32(in + 18);
    }
}

// The last position a link of the ring may name: the last byte used. A
// file opened as damaged (0x4000) whose update flag is set was not closed
// cleanly, and its header on disk may be older than the resources added
// after it was written: for it the bytes the file holds on disk count too.
uint64_t link_limit(FCB *f) {
    uint64_t last = last_used(f);
    if ((f->opnmode & kOpenDamaged) && f->hdr.base.updflg) {
        const FCB *p = physical(f);
        last = std::max(last, join64(p->hwoffh, p->hwoffl));
    }
    return last;
}

// Most steps a walk of the ring may take: every entry takes at least a
// header and a 9-byte body of the space links may name, or one record of a
// memory file.
uint64_t walk_bound(FCB *f) {
    if (fcb_is_memory(f)) return f->nmemrecs;
    return (link_limit(f) + 1) / (hsize(f) + 9);
}

// Whether a link of the ring may name an entry: not 0, and inside the space
// links may name (a record of a memory file).
bool link_ok(FCB *f, uint64_t l) {
    if (l == 0) return false;
    if (fcb_is_memory(f)) return zvnodmemrec(f, uint32_t(l >> 32), uint32_t(l)) == l;
    return l <= link_limit(f);
}

// The entries a search hands back: the entry found (or the one before which
// the key would be inserted), the entry before it and the one after it.
struct Found {
    bool found = false;
    uint64_t pos = 0, prevpos = 0, nextpos = 0;
    RESHDR cur{}, prev{}, next{};
};

// Whether the name of the entry at pos equals `name`: at most 64 name bytes
// are read and compared, never past the end of the body.
int name_matches(FCB *f, uint64_t pos, const RESHDR &h, const char *name, bool *eq) {
    *eq = false;
    int64_t avail = int64_t(h.usedlen) - 8;
    if (avail <= 0) return 0;
    int32_t n = int32_t(std::min<int64_t>(avail, kNameRead));
    char got[kNameRead];
    if (int rc = read_at(f, pos, hsize(f) + 8, got, n)) return rc;
    size_t stored = strnlen(got, size_t(n));
    if (stored < size_t(n)) {
        *eq = strncmp(name, got, stored + 1) == 0;  // both end at the same NUL
    } else {
        *eq = strncmp(name, got, stored) == 0;      // the stored name was cut
    }
    return 0;
}

// Reads the body of the entry at pos into buf.
int zvredres(FCB *f, uint64_t pos, void *buf, int32_t buflen, const RESHDR &h) {
    int32_t used = int32_t(h.usedlen);
    if (used <= 0) return set_uerr(409);
    if (buflen <= 0 || !buf) return set_uerr(404);
    int32_t n = std::min(used, buflen);
    if (int rc = read_at(f, pos, hsize(f), buf, n)) return rc;
    if (byte_swap_active()) {
        rev_thdr(buf, n);
        if (isfcr(h.type, h.number)) {
            set_uerr(0);
            if (int rc = convertfcr(f, &h, buf, n, kToHost)) return set_uerr(rc);
        }
    }
    return set_uerr(n < used ? 404 : 0);
}

// Searches the ring (see the mode enum). Returns 0 when an entry was found
// (404 when its body was cut), 408 when not (the insertion point and its
// neighbours are in *r then), or an error. With `locate` only the entries
// are handed back and no body is read.
int zvfndres(FCB *f, const void *key, void *buf, int32_t buflen, int mode, Found *r, bool locate = false) {
    *r = Found{};
    int base = mode & ~(0x0001 | 0x0100 | kInfoOnly);
    bool info = (mode & kInfoOnly) != 0;
    switch (base) {
    case kByKey:
    case kByType:
    case kFirstAfterAnchor:
    case kByName:
    case kByPosition:
    case kNextAfterKey:
    case kTypeSurvey:
        break;
    default:
        return set_uerr(406);
    }
    uint64_t first = anchor(f);
    if (!first) return set_uerr(401);
    uint32_t ktype = 0, knum = 0;
    uint64_t kpos = 0;
    const char *kname = nullptr;
    if (base != kFirstAfterAnchor && !key) return set_uerr(403);
    switch (base) {
    case kByKey:
    case kNextAfterKey:
        ktype = host::get32(key);
        knum = host::get32(static_cast<const char *>(key) + 4);
        if (base == kByKey && ktype == 0 && knum == 0) return set_uerr(403);
        break;
    case kByType:
    case kTypeSurvey:
        ktype = host::get32(key);
        if (base == kByType && ktype == 0) return set_uerr(403);
        break;
    case kByName:
        kname = static_cast<const char *>(key);
        if (!*kname) return set_uerr(403);
        break;
    case kByPosition:
        kpos = wide(f) ? join64(host::get32(key), host::get32(static_cast<const char *>(key) + 4)) : host::get32(key);
        break;
    default:
        break;
    }
    bool wantbody = base != kTypeSurvey;
    if (!locate && !buf && buflen > 0 && (wantbody || info)) return set_uerr(33);
    unsigned char *survey = static_cast<unsigned char *>(buf);
    if (base == kTypeSurvey && (!buf || buflen < 24)) return set_uerr(404);

    uint64_t bound = walk_bound(f);
    auto bad_link = [&](uint64_t l) { return !link_ok(f, l); };
    if (bad_link(first)) return set_uerr(407);
    RESHDR firsth;
    if (int rc = getrhdr(f, first, &firsth)) return rc;

    uint64_t p = first, prevp = 0;
    RESHDR h = firsth, prevh{};
    bool haveprev = false, stopped = false, hit = false, anyhi = false;
    uint64_t steps = 0;
    uint64_t surveypos = 0;
    if (base == kFirstAfterAnchor) {
        prevp = first, prevh = firsth, haveprev = true;
        p = firsth.fwd;
        if (bad_link(p)) return set_uerr(407);
        if (p != first) {
            if (int rc = getrhdr(f, p, &h)) return rc;
            stopped = hit = true;
        }
    } else {
        for (;;) {
            bool anchor_entry = p == first;
            auto lower = [&](uint32_t t, uint32_t n) { return t < ktype || (t == ktype && n < knum); };
            switch (base) {
            case kByKey:
                if (!anchor_entry && !lower(h.type, h.number)) stopped = true, hit = h.type == ktype && h.number == knum;
                break;
            case kByType:
                if (!anchor_entry && h.type >= ktype) stopped = true, hit = h.type == ktype;
                break;
            case kNextAfterKey:
                if (!anchor_entry && (h.type > ktype || (h.type == ktype && h.number > knum))) stopped = hit = true;
                break;
            case kByName:
                if (!anchor_entry) {
                    bool eq = false;
                    if (int rc = name_matches(f, p, h, kname, &eq)) return rc;
                    if (eq) stopped = hit = true;
                }
                break;
            case kByPosition:
                if (p == kpos) stopped = hit = true;
                break;
            case kTypeSurvey:
                if (!anchor_entry && h.type == ktype) {
                    if (h.number < 20) survey[4 + h.number] = 1;
                    if (!surveypos) surveypos = p;
                }
                if (h.type >= 1000 && h.type <= 1063) anyhi = true;
                break;
            }
            if (stopped) break;
            prevp = p, prevh = h, haveprev = true;
            uint64_t nx = h.fwd;
            if (bad_link(nx)) return set_uerr(407);
            if (nx == first) break;
            if (++steps > bound) return set_uerr(407);
            p = nx;
            if (int rc = getrhdr(f, p, &h)) return rc;
        }
    }
    if (base == kTypeSurvey) {
        uint32_t word = anyhi ? 3 : 1;
        memcpy(survey, &word, 4);
        if (!surveypos) return set_uerr(408);
        r->found = true;
        r->pos = surveypos;
        return set_uerr(0);
    }
    if (!stopped) {
        // Wrapped: the key would go before the anchor, at the ring's end.
        p = first, h = firsth;
    }
    r->found = stopped && hit;
    r->pos = p;
    r->cur = h;
    if (haveprev && prevp != p) {
        r->prevpos = prevp, r->prev = prevh;
    } else {
        r->prevpos = h.bwd;
        if (bad_link(r->prevpos)) return set_uerr(407);
        if (r->prevpos == p) {
            r->prev = h;
        } else if (int rc = getrhdr(f, r->prevpos, &r->prev)) {
            return rc;
        }
    }
    r->nextpos = h.fwd;
    if (bad_link(r->nextpos)) return set_uerr(407);
    if (r->nextpos == p) {
        r->next = h;
    } else if (r->nextpos == r->prevpos) {
        r->next = r->prev;
    } else if (int rc = getrhdr(f, r->nextpos, &r->next)) {
        return rc;
    }
    if (!r->found) return set_uerr(408);
    if (locate) return set_uerr(0);
    if (info) {
        if (!buf || buflen < 12) return set_uerr(404);
        uint32_t out[3] = {h.type, h.number, h.usedlen};
        memcpy(buf, out, 12);
        return set_uerr(0);
    }
    return zvredres(f, p, buf, buflen, h);
}

// Converts a body between host and stored order around a write; undone by
// the same call with the other direction.
int body_to_stored(FCB *f, const RESHDR &h, void *body, int32_t len) {
    if (!byte_swap_active()) return 0;
    if (isfcr(h.type, h.number)) {
        set_uerr(0);
        if (int rc = convertfcr(f, &h, body, len, kToStored)) {
            set_uerr(0);
            convertfcr(f, &h, body, len, kToHost);
            return set_uerr(rc);
        }
    }
    rev_thdr(body, len);
    return 0;
}

void body_to_host(FCB *f, const RESHDR &h, void *body, int32_t len) {
    if (!byte_swap_active()) return;
    rev_thdr(body, len);
    if (isfcr(h.type, h.number)) {
        int keep = uerr_now();
        set_uerr(0);
        convertfcr(f, &h, body, len, kToHost);
        set_uerr(keep);
    }
}

// Header writes after the file grew, as for a record allocation.
int after_growth(FCB *f) {
    if (is_member(f)) {
        FCB *host = physical(f);
        if (host != f && (host->hdr.base.flmode & 0x40)) {
            if (int rc = filhdr(host)) return rc;
        }
    }
    if (f->hdr.base.flmode & 0x40) {
        if (int rc = wrthdr(f)) return rc;
    }
    return tstupd(f);
}

// Unlinks the entry at curpos (its neighbours given) and releases its space.
int idelres(int filno, FCB *f, uint64_t prevpos, RESHDR prev, uint64_t nextpos, RESHDR next, uint64_t curpos,
            RESHDR cur) {
    if (int rc = tstupd(f)) return rc;
    if (prevpos == nextpos) {
        prev.fwd = nextpos;
        prev.bwd = prevpos;
        if (int rc = putrhdr(f, prevpos, &prev)) return rc;
    } else {
        prev.fwd = nextpos;
        next.bwd = prevpos;
        if (int rc = putrhdr(f, prevpos, &prev)) return rc;
        if (int rc = putrhdr(f, nextpos, &next)) return rc;
    }
    int rc = 0;
    if (is_member(f)) {
        cur.mark = kVrecMemberFree;
        cur.usedlen = 0;
        cur.fwd = cur.bwd = 0;
        rc = putrhdr(f, curpos, &cur);
    } else if (f->kind == kKindFixed) {
        // A memory file keeps the area as one record: one free removes it.
        uint64_t step = fcb_is_memory(f) ? cur.arealen : f->reclen;
        for (uint64_t off = 0; step && off < cur.arealen; off += step) {
            uint64_t at = curpos + off;
            zvSETHGHi(int32_t(at >> 32));
            if ((rc = iretrec(filno, uint32_t(at), 0))) break;
        }
    } else if (f->kind == kKindIndex) {
        cur.fwd = cur.bwd = 0;
        rc = putrhdr(f, curpos, &cur);
    } else {
        zvSETHGHi(int32_t(curpos >> 32));
        rc = iretvrec(filno, filno, uint32_t(curpos), 1, 1);
    }
    return set_uerr(rc);
}

// Rewrites a resource in place: the body, then the header with the new used
// length (and the area length when the area grew).
int rewrite_in_place(FCB *f, uint64_t pos, RESHDR h, void *body, int32_t len) {
    if (int rc = tstupd(f)) return rc;
    unsigned char *b = static_cast<unsigned char *>(body);
    bool as7 = h.type == 0 && h.number == 8 && len >= 8;
    uint32_t seven = 7, eight = 8;
    if (as7) memcpy(b + 4, &seven, 4);
    RESHDR stored = h;
    if (as7) stored.number = 7;
    int rc = body_to_stored(f, stored, body, len);
    if (!rc) {
        // The body goes first: a header never claims bytes that were not
        // written.
        h.usedlen = uint32_t(len);
        rc = write_at(f, pos, hsize(f), body, len);
        if (!rc) rc = putrhdr(f, pos, &h);
        body_to_host(f, stored, body, len);
    }
    if (as7) memcpy(b + 4, &eight, 4);
    return set_uerr(rc);
}

// Whether new space of the file is contiguous with an area that ends at its
// last byte used, so that the area may grow in place.
bool at_end(FCB *f, uint64_t pos, const RESHDR &h) {
    if (f->hdr.base.flmode & 0x0009) return false;
    if (f->hdr.base.hdrflags & kHdrSegmented) return false;
    if (f->hdr.ext.flmode2 & kFlmode2PartHost) return false;
    if (fcb_is_memory(f)) return false;
    return pos + h.arealen == last_used(f) + 1;
}

bool type11_refused(uint32_t type) {
    INSTGV *g = zvWNGV;
    if (type != 11 || g->restype11) return false;
    g->sysiocod = uint16_t(type);
    return true;
}

}  // namespace

bool isfcr(uint32_t type, uint32_t number) { return (type >= 1 && type <= 4999) || (type == 0 && number != 0); }

int getrhdr(FCB *f, uint64_t pos, RESHDR *h) {
    unsigned char b[38];
    int32_t hs = int32_t(hsize(f));
    if (int rc = read_at(f, pos, 0, b, hs + 8)) return rc;
    decode_rhdr(f, b, h);
    unsigned char th[8];
    memcpy(th, b + hs, 8);
    if (byte_swap_active()) rev_thdr(th, 8);
    h->type = host::get32(th);
    h->number = host::get32(th + 4);
    return set_uerr(h->mark == kResMark ? 0 : 407);
}

int putrhdr(FCB *f, uint64_t pos, const RESHDR *h) {
    unsigned char b[30];
    encode_rhdr(f, *h, b);
    return write_at(f, pos, 0, b, int32_t(hsize(f)));
}

uint64_t zvresspc(int filno, FCB **out, int32_t bodylen, uint32_t *arealen, int enable) {
    INSTGV *g = zvWNGV;
    FCB *f = tstfnm(filno);
    if (out) *out = f;
    if (!f) return 0;
    bool enabled = anchor(f) != 0;
    if (enable) {
        if (enabled) return set_uerr(400), 0;
        if (f->hdr.base.flmode & 0x0009) return set_uerr(402), 0;
    } else if (!enabled) {
        return set_uerr(401), 0;
    }
    if (chkredf(filno, f)) return 0;
    uint64_t total = uint64_t(hsize(f)) + uint64_t(std::max(bodylen, 0));
    uint64_t pos = 0;
    uint32_t area = 0;
    if (!is_member(f) && f->kind != kKindVariable) {
        uint64_t unit = f->kind == kKindIndex ? first_node_offset(f) : f->reclen;
        if (unit == 0) return set_uerr(21), 0;
        uint64_t space = (total + unit - 1) / unit * unit;
        if (space > 0xFFFFFFFFull) return set_uerr(39), 0;
        // The change is marked first; the new space is on disk before the
        // header that claims it.
        if (int rc = tstupd(f)) return set_uerr(rc), 0;
        const FileEnd end(f);
        uint32_t lo = extfil(f, uint32_t(space), 0, 0);
        uint32_t hi = uint32_t(zvGETHGHi());
        if (!lo && !hi) return set_uerr(g->uerr_cod ? g->uerr_cod : 39), 0;
        if (!f->hdr.base.extsiz && !f->hdr.ext.extsiz32) {
            if (int rc = zvfillff81(f, hi, lo, uint32_t(space))) {
                end.restore();
                return set_uerr(rc), 0;
            }
        }
        if (f->hdr.base.flmode & 0x40) {
            if (int rc = wrthdr(f)) return set_uerr(rc), 0;
        }
        pos = join64(hi, lo);
        area = uint32_t(space);
    } else {
        if (f->kind == kKindIndex) {
            uint64_t page = uint64_t(g->nodesize > 0 ? g->nodesize : 1024);
            total = (total + page - 1) / page * page;
        }
        uint32_t vh = vhdr_size(f);
        if (total < vh || total - vh > 0x7FFFFFFFull) return set_uerr(39), 0;
        uint32_t lo = inewvrec(f, filno, int32_t(total - vh), 0, 2, 0, 0);
        uint32_t hi = uint32_t(zvGETHGHi());
        if (!lo && !hi) return 0;
        VRECHDR vh2{};
        if (int rc = getvhdr81(f, hi, lo, &vh2)) return set_uerr(rc), 0;
        pos = join64(hi, lo);
        area = vh2.arealen;
    }
    if (arealen) *arealen = area;
    set_uerr(0);
    return pos;
}

uint64_t iaddres(int filno, void *bodyv, int32_t len, int allow, RESHDR *out) {
    INSTGV *g = zvWNGV;
    auto *body = static_cast<unsigned char *>(bodyv);
    FCB *f = tstfnm(filno);
    if (!f) return 0;
    if (!body) return set_uerr(33), 0;
    if (len < 8) return set_uerr(409), 0;
    uint32_t type = host::get32(body), number = host::get32(body + 4);
    Found r;
    uint32_t key[2] = {type, number};
    int rc = zvfndres(f, key, nullptr, 0, kByKey, &r, true);
    if (rc && rc != 408) return 0;
    if (r.found && !allow) return set_uerr(405), 0;
    int32_t reserve = len;
    if (type == 0 && (number == 7 || number == 8)) {
        int32_t limit = wide(f) ? kSegDefReserve8 : kSegDefReserve;
        if (len > limit) return set_uerr(686), 0;
        reserve = limit;
    }
    if (number == 0xFFFFFFFFu) {
        number = r.prev.type == type ? r.prev.number + 1 : 0;
        memcpy(body + 4, &number, 4);
        g->lastserl = number;
    }
    RESHDR nh{};
    nh.mark = kResMark;
    nh.usedlen = uint32_t(len);
    nh.member = is_member(f) ? f->hdr.base.supmbr : 0;
    nh.type = type;
    nh.number = number;
    if ((rc = body_to_stored(f, nh, body, len))) return 0;
    uint32_t area = 0;
    uint64_t pos = zvresspc(filno, &f, reserve, &area, 0);
    if (!pos) {
        int keep = uerr_now();
        body_to_host(f, nh, body, len);
        return set_uerr(keep), 0;
    }
    if (type == 11 && len >= 32) {
        uint32_t hi = uint32_t(pos >> 32), lo = uint32_t(pos);
        memcpy(body + 24, &hi, 4);
        memcpy(body + 28, &lo, 4);
    }
    nh.arealen = area;
    nh.fwd = r.pos;
    nh.bwd = r.prevpos;
    rc = putrhdr(f, pos, &nh);
    if (!rc) rc = write_at(f, pos, hsize(f), body, len);
    if (!rc) {
        if (r.prevpos == r.pos) {
            r.cur.fwd = r.cur.bwd = pos;
            rc = putrhdr(f, r.pos, &r.cur);
        } else {
            r.prev.fwd = pos;
            r.cur.bwd = pos;
            rc = putrhdr(f, r.prevpos, &r.prev);
            if (!rc) rc = putrhdr(f, r.pos, &r.cur);
        }
    }
    body_to_host(f, nh, body, len);
    if (rc) return set_uerr(rc), 0;
    if (out) *out = nh;
    set_uerr(0);
    return pos;
}

int64_t resource_ring_count(int filno) {
    FCB *f = tstfnm(filno);
    if (!f) return -int64_t(uerr_now());
    uint64_t first = anchor(f);
    if (!first) return -401;
    uint64_t bound = walk_bound(f);
    uint64_t p = first;
    int64_t n = 0;
    for (;;) {
        RESHDR h;
        if (!link_ok(f, p)) return -407;
        if (int rc = getrhdr(f, p, &h)) return -int64_t(rc);
        n++;
        if (h.fwd == first) return n;
        if (uint64_t(n) > bound) return -407;
        p = h.fwd;
    }
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int ENARES(int filno) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    set_uerr(0);
    FCB *f = nullptr;
    uint32_t area = 0;
    uint64_t pos = zvresspc(filno, &f, 9, &area, 1);
    if (!pos) return uerr_now();
    RESHDR h{};
    h.mark = kResMark;
    h.arealen = area;
    h.usedlen = 9;
    h.member = is_member(f) ? f->hdr.base.supmbr : 0;
    h.fwd = h.bwd = pos;
    unsigned char img[30 + 9] = {};
    encode_rhdr(f, h, img);
    int32_t hs = int32_t(hsize(f));
    if (int rc = write_at(f, pos, 0, img, hs + 9)) return set_uerr(rc);
    f->hdr.base.reshdr = uint32_t(pos);
    f->hdr.ext.reshdrh = uint32_t(pos >> 32);
    if (int rc = wrthdr(f)) {
        f->hdr.base.reshdr = 0;
        f->hdr.ext.reshdrh = 0;
        return set_uerr(rc);
    }
    return set_uerr(0);
}

ZV_API uint32_t GETRES(int filno, const void *key, void *buf, int32_t buflen, int mode) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    zvSETHGHi(0);
    FCB *f = tstfnm(filno);
    if (!f) return 0;
    Found r;
    int rc = zvfndres(f, key, buf, buflen, mode, &r);
    if (rc && !(rc == 404 && r.found)) {
        set_uerr(rc);
        return 0;
    }
    zvSETHGHi(int32_t(r.pos >> 32));
    set_uerr(rc);
    return uint32_t(r.pos);
}

ZV_API int ADDRES(int filno, void *body, int32_t len) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    set_uerr(0);
    OpWordScope op(kResOpAdd);
    if (len <= 0) return set_uerr(409);
    if (!body) return set_uerr(33);
    if (len >= 4 && type11_refused(host::get32(body))) return set_uerr(912);
    iaddres(filno, body, len, 0, nullptr);
    return uerr_now();
}

ZV_API int DELRES(int filno, const void *body) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    set_uerr(0);
    OpWordScope op(kResOpDelete);
    if (!body) return set_uerr(33);
    if (type11_refused(host::get32(body))) return set_uerr(912);
    FCB *f = tstfnm(filno);
    if (!f) return uerr_now();
    if (int rc = chkredf(filno, f)) return rc;
    Found r;
    if (int rc = zvfndres(f, body, nullptr, 0, kByKey, &r, true)) return set_uerr(rc);
    return idelres(filno, f, r.prevpos, r.prev, r.nextpos, r.next, r.pos, r.cur);
}

ZV_API int UPDRES(int filno, void *bodyv, int32_t len) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    set_uerr(0);
    OpWordScope op(kResOpUpdate);
    auto *body = static_cast<unsigned char *>(bodyv);
    if (len < 1) return set_uerr(409);
    if (!body) return set_uerr(33);
    if (len < 8) return set_uerr(409);
    uint32_t type = host::get32(body), number = host::get32(body + 4);
    if (type11_refused(type)) return set_uerr(912);
    FCB *f = tstfnm(filno);
    if (!f) return uerr_now();
    if (int rc = chkredf(filno, f)) return rc;
    Found r;
    int rc = zvfndres(f, body, nullptr, 0, kByKey, &r, true);
    if (rc) return set_uerr(rc);
    uint64_t need = uint64_t(hsize(f)) + uint64_t(len);
    if (need <= r.cur.arealen) return rewrite_in_place(f, r.pos, r.cur, body, len);
    if (!at_end(f, r.pos, r.cur)) {
        if (type == 0 && (number == 7 || number == 8)) return set_uerr(682);
        if (!iaddres(filno, body, len, 1, nullptr)) return uerr_now();
        // The add changed the old entry's backward link: read it again.
        RESHDR old, prev, next;
        if ((rc = getrhdr(f, r.pos, &old))) return rc;
        if ((rc = getrhdr(f, old.bwd, &prev))) return rc;
        if (old.fwd == old.bwd) {
            next = prev;
        } else if ((rc = getrhdr(f, old.fwd, &next))) {
            return rc;
        }
        return idelres(filno, f, old.bwd, prev, old.fwd, next, r.pos, old);
    }
    uint64_t unit = 1;
    if (is_member(f)) {
        if (f->kind == kKindIndex) unit = uint64_t(g->nodesize > 0 ? g->nodesize : 1024);
    } else if (f->kind == kKindIndex) {
        unit = first_node_offset(f);
    } else if (f->kind == kKindFixed) {
        unit = f->reclen;
    }
    if (unit == 0) return set_uerr(21);
    RESHDR h = r.cur;
    FCB *grow = physical(f);
    // The area grows at the file's end; until its header on disk claims the
    // new bytes, a failure gives them back.
    if ((rc = tstupd(f))) return rc;
    const FileEnd end(grow);
    auto give_back = [&](int code) {
        end.restore();
        return set_uerr(code);
    };
    while (need > h.arealen) {
        uint64_t shortfall = (need - h.arealen + unit - 1) / unit * unit;
        if (shortfall > 0xFFFFFFFFull || uint64_t(h.arealen) + shortfall > 0xFFFFFFFFull) return give_back(39);
        uint32_t lo = extfil(grow, uint32_t(shortfall), 0, 0);
        uint32_t hi = uint32_t(zvGETHGHi());
        if (!lo && !hi) return give_back(uerr_now() ? uerr_now() : 39);
        if (join64(hi, lo) != r.pos + h.arealen) return give_back(407);
        h.arealen += uint32_t(shortfall);
    }
    if ((rc = rewrite_in_place(f, r.pos, h, body, len))) return give_back(rc);
    return after_growth(f);
}

}  // extern "C"
