// Key ranges: reads of one index limited to the entries whose leading
// segments satisfy one comparison each (equal, greater, between, outside
// and so on).
//
// ALCRNG turns the caller's operator words and values into a range block
// owned by the index's control block. Consecutive segments may form a group
// (0x200 opens it, 0x400 closes it) that is compared as one byte string.
// For every group the block holds its operator (in key order: for a
// descending segment the comparison is reversed, on the block's own copy,
// never in the caller's array), its byte length and, for the two-interval
// operators (not equal, outside), the interval in use. The bounds are key
// images: lower and upper of interval 1 and of interval 2, built per
// segment from the transformed values and the segment's lowest and highest
// key form; the bytes after the range segments say where a search starts.
//
// Navigation searches from a bound (first, last) or steps the cursor (next,
// previous) and tests each entry group by group with memcmp (chkinrng):
//  - inside every group: the record is read (a record the filter rejects
//    is passed over);
//  - beyond the range at a leading group (the equality groups from the
//    start and the first other one-interval group): the end of the range;
//  - beyond at a later two-interval group still in its first interval (in
//    the walking direction): that group moves to its other interval and the
//    walk searches on from the key just read;
//  - otherwise (short of the range, or beyond at a later group): the walk
//    goes on with the next entry.
//
// Block layout (one zvgetmem allocation):
//   OFFSET          SIZE           CONTENT
//   0               10 words       RangeHead
//   40              3 x groups words   operator, byte length, interval state per group
//   after them      10 x key length    work images (last read, last accepted),
//                                      lower and upper of interval 1 and 2,
//                                      copies of those four
#include <cstring>

#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/core/fcb.h"
#include "engine/isam/isam_services.h"
#include "engine/index/keyform_needs.h"
#include "engine/index/keysearch.h"
#include "engine/index/navstate.h"
#include "engine/index/node.h"

using namespace zv;

namespace {

struct RangeHead {
    int32_t size;      // bytes of the block
    int32_t ngroups;   // groups
    int32_t ntwo;      // operator words with two intervals (bit 32)
    int32_t keylen;    // key length
    int32_t flags;     // kRng* below
    int32_t lastlead;  // index of the last leading group (-1: none)
    int32_t part[4];   // partition members of the four bounds (-2: not computed)
};
static_assert(sizeof(RangeHead) == 40, "range head is ten words");

constexpr int32_t kRngPos = 0x01;      // the range has a current position
constexpr int32_t kRngAllLow = 0x04;   // every operator includes its lower bound
constexpr int32_t kRngAllHigh = 0x08;  // every operator includes its upper bound
constexpr int32_t kRngHost = 0x10;     // the index is a partitioned host
constexpr int32_t kRngByKey = 0x20;    // next and previous always search by key
constexpr int32_t kRng598 = 0x40;      // the last navigation ended with 598
constexpr int32_t kRngExact = 0x200;   // equality on every segment of a unique index

enum : int { kWork1, kWork2, kLo1, kHi1, kLo2, kHi2, kImages = 10 };

struct Range {
    RangeHead *h;
    int32_t *op, *len, *state;
    unsigned char *img[kImages];
};

Range view(void *blk) {
    Range r;
    r.h = static_cast<RangeHead *>(blk);
    auto *w = reinterpret_cast<int32_t *>(r.h + 1);
    const int32_t n = r.h->ngroups;
    r.op = w;
    r.len = w + n;
    r.state = w + 2 * n;
    auto *p = reinterpret_cast<unsigned char *>(w + 3 * n);
    for (int i = 0; i < kImages; i++) r.img[i] = p + size_t(i) * size_t(r.h->keylen);
    return r;
}

bool in_table(int32_t op) {
    switch (op) {
    case 193: case 130: case 195: case 196: case 69: case 38: case 199: case 72: case 137: case 10: case 43:
        return true;
    default:
        return false;
    }
}

// The comparison of a descending segment in key order.
int32_t reversed(int32_t op) {
    switch (op) {
    case 72: return 137;
    case 137: return 72;
    case 69: return 130;
    case 130: return 69;
    case 195: return 196;
    case 196: return 195;
    default: return op;
    }
}

int range_error(int sub) {
    zvWNGV->sysiocod = uint16_t(sub);
    return set_uerr(1032);
}

void swap_bytes(unsigned char *a, unsigned char *b, int32_t n) {
    for (int32_t i = 0; i < n; i++) {
        unsigned char t = a[i];
        a[i] = b[i];
        b[i] = t;
    }
}

// Builds the bounds of one segment at offset o for its group's operator.
void segment_bounds(Range &r, int32_t op, const KeySeg &seg, int32_t o, bool two_any) {
    unsigned char *lo1 = r.img[kLo1] + o, *hi1 = r.img[kHi1] + o;
    unsigned char *lo2 = r.img[kLo2] + o, *hi2 = r.img[kHi2] + o;
    const int32_t n = seg.length;
    const bool desc = (seg.mode & kSegDescending) != 0;
    switch (op) {
    case 193:
        memcpy(hi1, lo1, size_t(n));
        break;
    case 130: case 195:
        zvfillseg(hi1, 0xFF, n, seg.mode);
        break;
    case 196: case 69:
        memcpy(hi1, lo1, size_t(n));
        zvfillseg(lo1, 0x00, n, seg.mode);
        break;
    case 199: case 72: case 137: case 10:
        if (desc) swap_bytes(lo1, hi1, n);
        break;
    case 38: case 43:
        if (op == 38) memcpy(lo2, lo1, size_t(n));
        else memcpy(lo2, hi1, size_t(n));
        memcpy(hi1, lo1, size_t(n));
        zvfillseg(lo1, 0x00, n, seg.mode);
        zvfillseg(hi2, 0xFF, n, seg.mode);
        if (desc) swap_bytes(hi1, lo2, n);
        break;
    default:
        break;
    }
    if (two_any && !(op & 32)) {
        memcpy(lo2, lo1, size_t(n));
        memcpy(hi2, hi1, size_t(n));
    }
}

int ialcrng(int keyno, int32_t nseg, const void *lower, const void *upper, const uint32_t *ops) {
    INSTGV *g = zvWNGV;
    FCB *f = tstifnm(keyno);
    if (!f) return g->uerr_cod;
    if (f->kind != kKindIndex || !f->keybufs) return set_uerr(48);
    int datno = keymap_datno(keyno);
    if (datno < 0) return set_uerr(614);
    if (!tstifnm(datno)) return g->uerr_cod;
    if (nseg < 1 || !lower || !ops) return range_error(1);
    KeySeg segs[16];
    const int nsegs = keymap_segments(keyno, segs);
    auto desc_of = [&](int i) { return i < nsegs && (segs[i].mode & kSegDescending) != 0; };
    // Validation, word by word.
    bool open = false;
    int32_t gop = 0;
    bool gdesc = false;
    int32_t ngroups = 0;
    for (int32_t i = 0; i < nseg; i++) {
        const uint32_t w = ops[i];
        if (w & ~0x7EFu) return range_error(9);
        if ((w & 0x600) == 0x600) return range_error(2);
        if ((w & 0x200) && open) return range_error(3);
        if ((w & 0x400) && !open) return range_error(6);
        const int32_t op = int32_t(w & 0xEF);
        if (open && op != gop) return range_error(4);
        if (open && desc_of(i) != gdesc) return range_error(5);
        const int32_t code = op & 31;
        if (code < 1 || code > 11 || (code > 6 && !upper)) return range_error(7);
        if (!open) ngroups++;
        if (w & 0x200) {
            open = true;
            gop = op;
            gdesc = desc_of(i);
        }
        if (w & 0x400) open = false;
    }
    if (open) return range_error(8);
    if (nseg > nsegs) return set_uerr(608);
    const int32_t k = f->hdr.base.keylen;
    const int32_t size = int32_t(sizeof(RangeHead)) + 12 * ngroups + kImages * k;
    void *blk = zvgetmem(size);
    if (!blk) return set_uerr(10);
    RangeHead *h = static_cast<RangeHead *>(blk);
    h->size = size;
    h->ngroups = ngroups;
    h->keylen = k;
    for (int i = 0; i < 4; i++) h->part[i] = -2;
    Range r = view(blk);
    auto drop = [&](int code) {
        zvputmem(blk);
        return set_uerr(code);
    };
    // Groups: the operator of the first word (in key order), the byte length.
    int32_t sum = 0;
    int32_t segg[16];
    bool all_low = true, all_high = true, all_eq = true;
    for (int32_t i = 0, gi = -1; i < nseg; i++) {
        const uint32_t w = ops[i];
        if (gi < 0 || !open) {
            gi++;
            const int32_t op = int32_t(w & 0xEF);
            if (!in_table(op)) return drop(446);
            r.op[gi] = desc_of(i) ? reversed(op) : op;
            r.len[gi] = 0;
            open = (w & 0x200) != 0;
            if (!(r.op[gi] & 64)) all_low = false;
            if (!(r.op[gi] & 128)) all_high = false;
            if ((r.op[gi] & 31) != 1) all_eq = false;
        } else if (w & 0x400) {
            open = false;
        }
        segg[i] = gi;
        r.len[gi] += segs[i].length;
        if (w & 32) h->ntwo++;
        sum += segs[i].length;
    }
    if (sum > k) return drop(608);
    // Values in key form.
    unsigned char *lo1 = r.img[kLo1], *hi1 = r.img[kHi1], *lo2 = r.img[kLo2], *hi2 = r.img[kHi2];
    memcpy(lo1, lower, size_t(sum));
    if (upper) memcpy(hi1, upper, size_t(sum));
    if (!(g->userprof & 1)) {
        if (!TFRMKEY(keyno, lo1) || (upper && !TFRMKEY(keyno, hi1))) {
            int rc = g->isamerr_cod ? g->isamerr_cod : g->uerr_cod;
            return drop(rc ? rc : 80);
        }
    }
    const bool two_any = h->ntwo > 0;
    for (int32_t i = 0, o = 0; i < nseg; i++) {
        segment_bounds(r, r.op[segg[i]], segs[i], o, two_any);
        o += segs[i].length;
    }
    // Bytes after the range segments: where the searches start.
    const int32_t lop = r.op[ngroups - 1];
    const int32_t rest = k - sum;
    memset(lo1 + sum, (lop & (64 | 32)) ? 0x00 : 0xFF, size_t(rest));
    memset(lo2 + sum, (lop & 32) ? 0xFF : (lop & 64) ? 0x00 : 0xFF, size_t(rest));
    memset(hi1 + sum, (lop & 128) ? 0xFF : 0x00, size_t(rest));
    memset(hi2 + sum, (lop & (128 | 32)) ? 0xFF : 0x00, size_t(rest));
    for (int i = 0; i < 4; i++) memcpy(r.img[6 + i], r.img[kLo1 + i], size_t(k));
    // Flags and the last leading group.
    int32_t flags = 0;
    if (all_low) flags |= kRngAllLow;
    if (all_high) flags |= kRngAllHigh;
    if (f->hdr.ext.flmode2 & kFl2PartHost) flags |= kRngHost;
    if (ops[0] & 0x100) flags |= kRngByKey;
    if (nseg == nsegs && all_eq && !idx_dup(f)) flags |= kRngExact;
    h->flags = flags;
    int32_t lead = 0;
    while (lead < ngroups && (r.op[lead] & 31) == 1) lead++;
    if (lead == ngroups) h->lastlead = ngroups - 1;
    else h->lastlead = (r.op[lead] & 32) ? lead - 1 : lead;
    zvputmem(f->rngblk);
    f->rngblk = blk;
    return set_uerr(0);
}

// Tests the entry in the found-key buffer against every group and reads its
// record: 0 or the read's result; -763 (short of the range in key order) or
// 763 (beyond it) with the group in *grp.
int chkinrng(int keyno, Range &r, uint32_t posh, uint32_t posl, void *record, int32_t *len, bool posonly,
             int *grp) {
    const int32_t k = r.h->keylen;
    unsigned char *v = r.img[kWork1];
    memcpy(v, nav_state(zvWNGV).foundkey, size_t(k));
    int32_t o = 0;
    for (int gi = 0; gi < r.h->ngroups; gi++) {
        const int32_t n = r.len[gi];
        const int32_t op = r.op[gi];
        const bool two = (op & 32) != 0;
        int switches = 0;
        for (;;) {
            const int st = r.state[gi];
            const unsigned char *lo = (st == 2 ? r.img[kLo2] : r.img[kLo1]) + o;
            const unsigned char *hi = (st == 2 ? r.img[kHi2] : r.img[kHi1]) + o;
            const int cl = memcmp(v + o, lo, size_t(n));
            const int ch = memcmp(v + o, hi, size_t(n));
            const bool above = cl > 0 || (cl == 0 && ((op & 64) || (two && st == 1)));
            const bool below = ch < 0 || (ch == 0 && ((op & 128) || (two && st == 2)));
            if (above && below) break;
            if (two && gi > 0 && switches < 2) {
                r.state[gi] = above ? 2 : 1;
                switches++;
                continue;
            }
            *grp = gi;
            return above ? 763 : -763;
        }
        o += n;
    }
    int rc = posonly ? 0 : reset_cur2(keyno, posh, posl, record, len);
    if (rc == 0) memcpy(r.img[kWork2], v, size_t(k));
    return rc;
}

int izvdorng(int keyno, void *record, int32_t *len, int op) {
    INSTGV *g = zvWNGV;
    FCB *f = tstifnm(keyno);
    if (!f) return g->uerr_cod;
    if (f->kind != kKindIndex || !f->keybufs) return set_uerr(48);
    if (!f->rngblk) return set_uerr(762);
    Range r = view(f->rngblk);
    RangeHead &h = *r.h;
    const int dir = op & ~32;
    const bool posonly = (op & 32) != 0;
    if (dir != 17 && dir != 18 && dir != 1 && dir != 2) return set_uerr(446);
    if ((dir == 1 || dir == 2) && !(h.flags & kRngPos)) return set_uerr(764);
    if (posonly && !record) return set_uerr(540);
    const bool forward = dir == 17 || dir == 1;
    const bool bound = dir == 17 || dir == 18;
    unsigned char *found = nav_state(g).foundkey;
    const int32_t given = len ? *len : 0;
    // The next entry in the walking direction.
    auto step = [&]() -> uint32_t {
        if (h.flags & (kRngByKey | kRng598 | kRngHost)) return ser(f, r.img[kWork1], found, forward ? 'H' : 'N');
        return forward ? NXTKEY(keyno, found) : PRVKEY(keyno, found);
    };
    uint32_t lo;
    if (h.flags & kRngExact) {
        if (!bound) return set_uerr(101);
        lo = ieqlkey(f, r.img[kLo1]);
        if (lo || tsthghwrd()) memcpy(found, f->keybufs->work, size_t(h.keylen));
    } else if (dir == 17) {
        for (int i = 0; i < h.ngroups; i++)
            if (r.op[i] & 32) r.state[i] = 1;
        lo = ser(f, r.img[kLo1], found, ((h.flags & kRngAllLow) || (r.op[0] & 32)) ? 'G' : 'H');
    } else if (dir == 18) {
        for (int i = 0; i < h.ngroups; i++)
            if (r.op[i] & 32) r.state[i] = 2;
        lo = ser(f, h.ntwo ? r.img[kHi2] : r.img[kHi1], found,
                 ((h.flags & kRngAllHigh) || (r.op[0] & 32)) ? 'M' : 'N');
    } else {
        lo = step();
    }
    for (;;) {
        uint32_t hi = uint32_t(tsthghwrd());
        if (!lo && !hi) {
            if (bound) h.flags &= ~kRngPos;
            return reset_cur(keyno, 0, 0, record);
        }
        int gi = 0;
        int rc = chkinrng(keyno, r, hi, lo, record, len, posonly, &gi);
        if (rc == 0) {
            h.flags |= kRngPos;
            if (posonly) {
                static_cast<uint32_t *>(record)[0] = hi;
                static_cast<uint32_t *>(record)[1] = lo;
            }
            return set_uerr(0);
        }
        if (rc == 739) {
            if (len) *len = given;
            lo = step();
            continue;
        }
        if (rc == 763 || rc == -763) {
            const bool beyond = forward ? rc == 763 : rc == -763;
            if (beyond && gi <= h.lastlead) {
                if (bound) h.flags &= ~kRngPos;
                return set_uerr(101);
            }
            if (beyond && (r.op[gi] & 32) && r.state[gi] == (forward ? 1 : 2)) {
                r.state[gi] = forward ? 2 : 1;
                const unsigned char *from = gi == 0 ? (forward ? r.img[kLo2] : r.img[kHi1]) : r.img[kWork1];
                lo = ser(f, from, found, forward ? 'H' : 'N');
                continue;
            }
            lo = step();
            continue;
        }
        if (rc == 598) h.flags |= kRng598;
        return set_uerr(rc);
    }
}

int ifrerng(int keyno, int) {
    INSTGV *g = zvWNGV;
    g->isamerr_cod = 0;
    FCB *f = tstifnm(keyno);
    if (!f) return g->uerr_cod;
    const bool had = f->rngblk != nullptr;
    zvputmemn(&f->rngblk);
    if (had && (f->hdr.ext.flmode2 & kFl2PartHost)) return initPARTSERbuf(keyno);
    return 0;
}

int nav_result(int code, int keyno) { return ierr(code, keyno); }

int with_length(int keyno, void *record, int32_t *len, int op) {
    if (int rc = zv_chkplen(len)) return nav_result(rc, keyno);
    return nav_result(izvdorng(keyno, record, len, op), keyno);
}

}  // namespace

extern "C" {

ZV_API int ALCRNG(int keyno, int32_t nseg, const void *lower, const void *upper, const uint32_t *ops) {
    if (!zvWNGV) return 47;
    zvWNGV->isamerr_cod = 0;
    return nav_result(ialcrng(keyno, nseg, lower, upper, ops), keyno);
}

ZV_API int zvdoRNG(int keyno, void *record, int32_t *len, int op) {
    if (!zvWNGV) return 47;
    return nav_result(izvdorng(keyno, record, len, op), keyno);
}

ZV_API int FRSRNG(int keyno, void *record) { return zvdoRNG(keyno, record, nullptr, 17); }
ZV_API int LSTRNG(int keyno, void *record) { return zvdoRNG(keyno, record, nullptr, 18); }
ZV_API int NXTRNG(int keyno, void *record) { return zvdoRNG(keyno, record, nullptr, 1); }
ZV_API int PRVRNG(int keyno, void *record) { return zvdoRNG(keyno, record, nullptr, 2); }

ZV_API int FRSVRNG(int keyno, void *record, int32_t *len) {
    if (!zvWNGV) return 47;
    return with_length(keyno, record, len, 17);
}
ZV_API int LSTVRNG(int keyno, void *record, int32_t *len) {
    if (!zvWNGV) return 47;
    return with_length(keyno, record, len, 18);
}
ZV_API int NXTVRNG(int keyno, void *record, int32_t *len) {
    if (!zvWNGV) return 47;
    return with_length(keyno, record, len, 1);
}
ZV_API int PRVVRNG(int keyno, void *record, int32_t *len) {
    if (!zvWNGV) return 47;
    return with_length(keyno, record, len, 2);
}

ZV_API int FRERNG(int keyno) {
    if (!zvWNGV) return 47;
    return nav_result(ifrerng(keyno, 1), keyno);
}

}  // extern "C"
