// File growth: new space at the logical end of an open file.
//
// extfil hands out the bytes a caller needs right after the last byte used
// and moves the physical end (the last byte the file has claimed on disk)
// forward in steps, filling the new stretch with 0xFF so that the space is
// really there. The step is the header's extend size (or its 32-bit
// form); the first growth of an empty file may take a larger first extent.
//
// Alignment: an index file (or a superfile host) can ask for the new space
// to start on a multiple of an alignment. A plain index simply skips the
// bytes up to it; a superfile host writes them as a free area, so that its
// area chain stays readable, and makes the gap at least an area header long.
//
// Every refusal (maximum size 667, 32-bit limit 39, segment end 674) is
// decided before anything changes: the header copy and the file stay as
// they were. A growth that fits inside the physical end touches nothing but
// the header copy, after a variable-length file's space is read to see
// that it holds no live area (the last byte used may have been lowered by
// damage): no write and no allocation.
//
// Invariants after a successful growth:
//  1. physical end >= last byte used, for every file;
//  2. with a maximum file size, last byte used < maximum and physical end
//     <= maximum - 1;
//  3. a file without 8-byte offsets keeps both ends within 32 bits.
// Memory files take a record from memfile.cpp instead; their last byte used
// and physical end both rise by exactly the bytes needed.
#include "engine/files/growth.h"

#include <algorithm>
#include <cstdio>

#include "engine/core/arith.h"
#include "engine/core/bytes.h"
#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/core/fcb.h"
#include "engine/files/header.h"
#include "engine/files/memfile.h"
#include "engine/files/segments.h"
#include "engine/files/varrec.h"

namespace {

constexpr uint8_t kAreaFreeMark = 0xFD;        // free area of a plain file: FD FD
constexpr uint32_t kAreaHeader = 18;           // member area header, 4-byte offsets
constexpr uint32_t kAreaHeaderWide = 22;       // with 8-byte offsets
constexpr uint32_t kFlmode2NoStepIndex = 1u << 25;
constexpr uint64_t kMax32 = 0xFFFFFFFFull;
constexpr size_t kPlainAreaHeader = 10;        // area header of a plain variable-length file

bool wide(const FCB *f) { return (f->hdr.base.hdrflags & kHdr8ByteOffsets) != 0; }
uint64_t last_used(const FCB *f) { return zv::join64(f->hdr.ext.numrech, f->hdr.base.numrec); }
uint64_t phys_end(const FCB *f) { return zv::join64(f->hdr.ext.phyendh, f->hdr.base.phyend); }
void set_last_used(FCB *f, uint64_t v) { zv::split64(v, &f->hdr.ext.numrech, &f->hdr.base.numrec); }
void set_phys_end(FCB *f, uint64_t v) { zv::split64(v, &f->hdr.ext.phyendh, &f->hdr.base.phyend); }

uint32_t refuse(int code) {
    zvSETHGHi(0);
    zv::set_uerr(code);
    return 0;
}

uint32_t hand_out(uint64_t pos) {
    zvSETHGHi(int32_t(pos >> 32));
    zv::set_uerr(0);
    return uint32_t(pos);
}

// Last physical byte of the file while it holds nothing yet.
uint64_t empty_end(const FCB *f) {
    uint64_t first = f->kind == kKindFixed ? zv::first_record_offset(f) : zv::first_node_offset(f);
    return first ? first - 1 : 0;
}

// Maximum file size, or 0 when the file has none.
uint64_t max_size(const FCB *f) {
    if (!(f->hdr.ext.flmode2 & kFlmode2MaxSize)) return 0;
    return zv::join64(f->hdr.ext.maxsizh, f->hdr.ext.maxsizl);
}

// End limit of a segmented file's last segment, computed once per open.
uint64_t segment_limit(FCB *f) {
    if (f->hdr.ext.nsegs <= 1) return 0;
    if (!f->seglimitset) {
        f->seglimit = zv::zvseglimit(f);
        f->seglimitset = 1;
    }
    return f->seglimit;
}

// Writes 0xFF over (from - 1, to]: returns 0, or the write's error with
// *last set to the last byte that reached the file.
int fill(FCB *f, uint64_t from, uint64_t to, uint64_t *last) {
    INSTGV *g = zvWNGV;
    uint32_t piece = g->fillsize;
    *last = from - 1;
    for (uint64_t at = from; at <= to;) {
        uint64_t left = to - at + 1;
        int32_t n = int32_t(left < piece ? left : piece);
        int32_t moved = 0;
        int rc = izvio81x(17, f, uint32_t(at >> 32), uint32_t(at), g->fillbuf, n, &moved, 0);
        if (moved > 0) *last = at + uint64_t(moved) - 1;
        if (rc) return rc;
        at += uint64_t(n);
    }
    return 0;
}

// Writes an alignment gap as a free area: mark FD FD, the area length, then
// zeros (record length, member number and previous-area words 0).
int write_gap(FCB *f, uint64_t at, uint64_t len) {
    unsigned char buf[512] = {};
    buf[0] = buf[1] = kAreaFreeMark;
    buf[2] = uint8_t(len);
    buf[3] = uint8_t(len >> 8);
    buf[4] = uint8_t(len >> 16);
    buf[5] = uint8_t(len >> 24);
    for (uint64_t done = 0; done < len;) {
        int32_t n = int32_t(len - done < sizeof buf ? len - done : sizeof buf);
        uint64_t p = at + done;
        if (int rc = izvio81x(17, f, uint32_t(p >> 32), uint32_t(p), buf, n, nullptr, 0)) return rc;
        if (done == 0) buf[0] = buf[1] = buf[2] = buf[3] = buf[4] = buf[5] = 0;
        done += uint64_t(n);
    }
    return 0;
}

// Whether a stored area header starts at p of buf (n bytes from the file
// offset at): a mark of an area in use (a record, a node of the space
// index, a resource) with a length that ends inside the physical end.
bool live_header_at(const unsigned char *buf, size_t p, size_t n, uint64_t at, uint64_t physend) {
    if (n - p < kPlainAreaHeader) return false;
    const unsigned char *h = buf + p;
    uint16_t mark = zv::le::get16(h);
    if (mark != kVrecUsed && mark != kVrecNode && mark != kVrecResource) return false;
    uint32_t arealen = zv::le::get32(h + 2);
    uint32_t reclen = zv::le::get32(h + 6);
    if (arealen < kPlainAreaHeader || at + p + arealen - 1 > physend) return false;
    return mark != kVrecUsed || uint64_t(reclen) + kPlainAreaHeader <= arealen;
}

// A growth inside the physical end of a variable-length file takes bytes
// that should hold nothing but fill. When the last byte used was lowered
// into live areas (a damaged header), they hold areas in use, which the
// new area would overwrite: the growth is refused (527) and changes
// nothing. The space [from, to] is read through the page cache; bytes past
// the end of the file hold nothing; a header must end by `physend`. 0, 527
// or a read error.
int refuse_live_areas(FCB *f, uint64_t from, uint64_t to, uint64_t physend) {
    constexpr size_t kPiece = 1024;
    unsigned char buf[kPiece + kPlainAreaHeader];
    for (uint64_t at = from; at <= to;) {
        // Each piece reads a header's length past its end, so that a header
        // that starts in it is seen whole.
        uint64_t want = to - at + 1 < kPiece ? to - at + 1 : kPiece;
        uint64_t span = want + kPlainAreaHeader - 1;
        if (at + span - 1 > physend) span = physend - at + 1;
        int32_t got = 0;
        int rc = izvio81x(0, f, uint32_t(at >> 32), uint32_t(at), buf, int32_t(span), &got, 0);
        if (rc && !zv::read_at_end(rc)) return rc;
        zv::set_uerr(0);
        size_t n = got > 0 ? size_t(got) : 0;
        for (size_t p = 0; p < want && p < n; p++) {
            if (!live_header_at(buf, p, n, at, physend)) continue;
            char line[96];
            snprintf(line, sizeof line, "Growth into a live area at %04x-%08xx of file...", unsigned((at + p) >> 32),
                     unsigned(uint32_t(at + p)));
            zvrcvlog(line, 527);
            zvrcvlog(f->name, 527);
            return 527;
        }
        if (n < span) break;  // the file ends here
        at += want;
    }
    return 0;
}

uint32_t grow_memory(FCB *f, uint32_t needed) {
    uint64_t newlast = last_used(f) + needed;
    uint64_t max = max_size(f);
    if (max && newlast >= max) return refuse(667);
    uint64_t pos = zv::memrec_new(f, needed);
    if (!pos) return refuse(zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 10);
    set_last_used(f, newlast);
    set_phys_end(f, phys_end(f) + needed);
    return hand_out(pos);
}

}  // namespace

extern "C" uint32_t extfil(FCB *fcb, uint32_t needed, uint32_t align, int mode) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    if (!fcb) return refuse(61);
    FCB *f = fcb;
    if (mode != -1 && mode != 0 && (f->hdr.base.sfiltyp == kSfMember || f->hdr.base.sfiltyp == kSfDirectory) &&
        f->hostfcb && f->hostfcb != f)
        f = f->hostfcb;
    if (fcb_is_memory(f)) return grow_memory(f, needed);
    if (!g->fillbuf || g->fillsize == 0) return refuse(47);

    FILEHDR &b = f->hdr.base;
    FILEHDRX &x = f->hdr.ext;
    bool w = wide(f);

    // 1-3. The step.
    uint64_t step = (x.flmode2 & kFlmode2Ext32) ? x.extsiz32 : b.extsiz;
    if (!(f->stflags & kStFirstGrowth) && (x.flmode2 & kFlmode2FirstExt) && phys_end(f) == empty_end(f))
        step = x.firstext;
    if (step == 0 && (x.flmode2 & kFlmode2PartHost) &&
        !(f->kind == kKindIndex && (x.flmode2 & kFlmode2NoStepIndex)))
        step = 65536;

    // 4. Where the new space begins, after any alignment gap.
    uint64_t oldlast = last_used(f), oldphys = phys_end(f);
    uint64_t start = oldlast + 1;
    uint64_t gap = 0;
    bool area = false;
    if (align) {
        uint32_t g1 = align - uint32_t(start) % align;
        if (g1 != align) {
            if (b.sfiltyp == kSfPlain) {
                if (f->kind == kKindIndex) gap = g1;
            } else {
                uint32_t hdr = w ? kAreaHeaderWide : kAreaHeader;
                gap = g1 < hdr ? uint64_t(g1) + align : g1;
                area = true;
            }
        }
    }
    uint64_t newstart = start + gap;
    uint64_t newlast = oldlast + gap + needed;

    // 5-6. Refusals, before anything changes.
    uint64_t max = max_size(f);
    if (max && (newstart > max || newlast >= max)) return refuse(667);
    if (!w && newlast > kMax32) return refuse(39);
    if (newlast < oldlast || newstart < start) return refuse(39);  // past 64 bits

    // The part of the new space of a variable-length file that the file
    // already holds must hold no live area.
    if (f->kind == kKindVariable && !area) {
        uint64_t held = std::max(oldphys, zv::join64(f->hwoffh, f->hwoffl));
        if (newstart <= held) {
            if (int rc = refuse_live_areas(f, newstart, std::min(newlast, held), held)) return refuse(rc);
        }
    }

    // 7. Inside the physical end: only the header copy changes.
    if (newlast <= oldphys) {
        if (area) {
            if (int rc = write_gap(f, start, gap)) return refuse(rc);
        }
        set_last_used(f, newlast);
        f->stflags |= kStFirstGrowth;
        return hand_out(newstart);
    }

    // 8. The physical end moves.
    uint64_t newphys;
    bool filled = true;
    if (step == 0) {
        uint64_t limit = segment_limit(f);
        if (limit && newlast >= limit) return refuse(674);
        newphys = newlast;
        filled = false;
    } else if (step <= needed) {
        newphys = newlast + step;
    } else if (oldphys < step - 1) {
        newphys = step - 1;
        if (newlast > step - 1) newphys = (newlast + step - 1) / step * step - 1;
    } else {
        newphys = oldphys + step;
    }
    if (!w) newphys &= kMax32;
    if (newphys < newlast) {
        // The step fell short (a wrapped 32-bit sum, a rounding, or an
        // alignment gap longer than the step): the end follows the new
        // last byte used and nothing is filled.
        newphys = newlast;
        filled = false;
    }
    if (max && newphys >= max) newphys = max - 1;

    if (filled) {
        uint64_t lastwritten = oldphys;
        int rc = fill(f, oldphys + 1, newphys, &lastwritten);
        if (rc) {
            if (lastwritten > oldphys) set_phys_end(f, lastwritten);
            if (newlast > lastwritten) return refuse(rc);
            newphys = lastwritten;
        }
    }
    // The gap goes on disk after the fill, which would otherwise overwrite
    // the part of it that lies past the old physical end.
    if (area) {
        if (int rc = write_gap(f, start, gap)) {
            if (filled) set_phys_end(f, newphys);
            return refuse(rc);
        }
    }
    set_phys_end(f, newphys);

    // 9. Files that ask for it are forced to disk after a fill.
    if (filled && !(b.flmode & 0x20) && ((b.flmode & 0x40) || (f->stflags & kStForceDisk))) {
        if (int rc = zv::mbsave(f)) return refuse(rc);
    }
    set_last_used(f, newlast);
    f->stflags |= kStFirstGrowth;
    return hand_out(newstart);
}
