// The file header: disk format conversion, read, the three writes and the
// update-flag protocol.
//
// An open file keeps the whole header in host order at the start of its
// block (FCB::hdr). Reads and writes go through the central I/O on its
// direct road, so a header write is on disk when the call returns and never
// waits in the data page cache behind data; the direct road also copies
// the written bytes into any cached page they overlap, so cached pages and
// the disk agree about the header.
//
// Invariants:
//  1. The update flag (+56) is 0xFF in memory only after a header carrying
//     it was written, or while that write is being tried: tstupd restores
//     the flags it set when the write fails, and when the failed write
//     moved some bytes it takes the mark on disk as unknown (kStMarkUnknown)
//     until a header write succeeds.
//  2. The update counter (+108) and its copy (+236) are equal in every
//     header this module writes.
//  3. A header read of a file whose extended part is 128 bytes leaves
//     +256..+511 zero in memory, whatever an earlier file of the block held.
//  4. A header is written only through a descriptor that holds the file
//     alone (holds_file_exclusively; else 12): an open holding the file
//     shared reads the base part and then the extended part, and no other
//     process writes the header between the two.
#include "engine/files/header.h"

#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/bytes.h"
#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/filenum.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/files/fixrec.h"
#include "engine/core/header_codec.h"
#include "engine/files/superfile.h"
#include "engine/files/fcbops.h"

namespace zv {

namespace {

uint64_t get_le(const unsigned char *p, int width) {
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; i--) v = (v << 8) | p[i];
    return v;
}

void put_le(unsigned char *p, uint64_t v, int width) {
    for (int i = 0; i < width; i++) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// A field of `width` bytes of a host-order image, as an integer.
uint64_t load_host(const unsigned char *p, int width) {
    switch (width) {
    case 2: {
        uint16_t v;
        memcpy(&v, p, 2);
        return v;
    }
    case 4: {
        uint32_t v;
        memcpy(&v, p, 4);
        return v;
    }
    case 8: {
        uint64_t v;
        memcpy(&v, p, 8);
        return v;
    }
    default:
        return *p;
    }
}

void store_host(unsigned char *p, uint64_t v, int width) {
    switch (width) {
    case 2: {
        uint16_t w = static_cast<uint16_t>(v);
        memcpy(p, &w, 2);
        break;
    }
    case 4: {
        uint32_t w = static_cast<uint32_t>(v);
        memcpy(p, &w, 4);
        break;
    }
    case 8:
        memcpy(p, &v, 8);
        break;
    default:
        *p = static_cast<unsigned char>(v);
    }
}

template <size_t N>
void host_to_disk(const unsigned char *host, const HdrGroup (&groups)[N], size_t len, unsigned char *dst) {
    for (const HdrGroup &g : groups) {
        for (size_t off = g.off; off + g.width <= size_t(g.off) + g.len && off + g.width <= len; off += g.width)
            put_le(dst + off, load_host(host + off, g.width), g.width);
    }
}

template <size_t N>
void disk_to_host(const unsigned char *src, const HdrGroup (&groups)[N], size_t len, unsigned char *host) {
    for (const HdrGroup &g : groups) {
        for (size_t off = g.off; off + g.width <= size_t(g.off) + g.len && off + g.width <= len; off += g.width)
            store_host(host + off, get_le(src + off, g.width), g.width);
    }
}

// Header position of the block plus `add` bytes.
void header_pos(const FCB *f, uint64_t add, uint32_t *hi, uint32_t *lo) {
    split64(join64(f->hposh, f->hposl) + add, hi, lo);
}

int read_region(FCB *f, uint64_t add, void *buf, int32_t len) {
    uint32_t hi, lo;
    header_pos(f, add, &hi, &lo);
    return izvio81x(16, f, hi, lo, buf, len, nullptr, 0);
}

int write_region(FCB *f, uint64_t add, const void *buf, int32_t len, int32_t *moved = nullptr) {
    uint32_t hi, lo;
    header_pos(f, add, &hi, &lo);
    return izvio81x(17, f, hi, lo, const_cast<void *>(buf), len, moved, 0);
}

// A header is written only through a descriptor that holds the file alone:
// another open holding it shared reads headers in two parts and would take
// a write between them for a torn header (689). 0, or 12 with system code
// 0 (as for an outdated block's change).
int refuse_unless_alone(FCB *f) {
    if (holds_file_exclusively(f)) return 0;
    zvWNGV->sysiocod = 0;
    return set_uerr(12);
}

// wrthdr, telling the bytes that reached the file.
int write_header(FCB *f, int32_t *moved) {
    *moved = 0;
    if (!zvWNGV || !f) return set_uerr(61);
    if (fcb_is_memory(f)) return set_uerr(0);
    if (int rc = refuse_unless_alone(f)) return rc;
    FILEHDR &b = f->hdr.base;
    b.updcnt++;
    f->hdr.ext.updcnt2 = b.updcnt;
    unsigned char buf[512];
    size_t n = encode_header(f->hdr, header_disk_size(b), buf, buf + sizeof buf);
    if (b.sfiltyp == kSfDirectory && n >= 128) {
        // A host's directory is type 6 with the host's mode only while it
        // is open: on disk it stays a member with its own stored mode.
        le::put16(buf + 92, kSfMember);
        le::put16(buf + 48, f->dirmode);
    }
    return set_uerr(write_region(f, 0, buf, int32_t(n), moved));
}

// Binds the blocks of an index's additional members to the host: they follow
// it on the next file numbers and must all be free.
int bind_members(FCB *host) {
    INSTGV *g = zvWNGV;
    int n = host->hdr.base.nmem;
    int last = int(host->filno) + n;
    if (grow_table_for(last)) return set_uerr(22);
    for (int k = 1; k <= n; k++) {
        FCB *m = g->fcbtab[host->filno + k];
        if (m && m->state != 'n') return set_uerr(46);
    }
    FCB *prev = host;
    host->nextmember = nullptr;
    for (int k = 1; k <= n; k++) {
        FCB *m = zvgetfcb(host->filno + k);
        if (!m) return g->uerr_cod;
        fcb_reset(m);
        m->hostfcb = host;
        prev->nextmember = m;
        prev = m;
    }
    return 0;
}

}  // namespace

size_t encode_header(const FILEHDRALL &h, size_t len, unsigned char *dst, const unsigned char *dst_end) {
    if (len != 128 && len != 256 && len != 512) return 0;
    if (dst_end < dst || size_t(dst_end - dst) < len) return 0;
    host_to_disk(reinterpret_cast<const unsigned char *>(&h.base), kBaseGroups, 128, dst);
    if (len > 128) host_to_disk(reinterpret_cast<const unsigned char *>(&h.ext), kExtGroups, len - 128, dst + 128);
    return len;
}

int decode_base(const unsigned char *src, const unsigned char *end, FILEHDR *out) {
    if (end < src || end - src < 128) return 13;
    disk_to_host(src, kBaseGroups, 128, reinterpret_cast<unsigned char *>(out));
    return 0;
}

int decode_ext(const unsigned char *src, const unsigned char *end, size_t len, FILEHDRX *out) {
    if ((len != 128 && len != 384) || end < src || size_t(end - src) < len) return 13;
    disk_to_host(src, kExtGroups, len, reinterpret_cast<unsigned char *>(out));
    return 0;
}

uint32_t member_header_step(const FILEHDR &b) { return (b.hdrflags & kHdrHasExt) ? 512 : 128; }

uint64_t first_node_offset(const FCB *f) {
    const FILEHDR &b = f->hdr.base;
    uint64_t members = (b.clstyp == kKindIndex && b.kmem == 0) ? b.nmem : 0;
    uint64_t need = (members + 1) * header_disk_size(b);
    uint64_t node = f->nodesize;
    if (node == 0) return need;
    return (need + node - 1) / node * node;
}

uint64_t first_record_offset(const FCB *f) {
    uint64_t h = header_disk_size(f->hdr.base);
    uint64_t r = f->hdr.base.reclen;
    if (r == 0) return h;
    return (h + r - 1) / r * r;
}

void set_derived_fields(FCB *f) {
    const FILEHDR &b = f->hdr.base;
    f->kind = b.clstyp <= kKindVariable ? uint8_t(b.clstyp) : uint8_t(kKindFixed);
    f->reclen = b.reclen;
    switch (b.autodup) {
    case 3:
        f->dupmode1 = 1, f->dupmode2 = 3;
        break;
    case 4:
        f->dupmode1 = 0, f->dupmode2 = 2;
        break;
    case 5:
        f->dupmode1 = 1, f->dupmode2 = 1;
        break;
    default:
        f->dupmode1 = b.autodup, f->dupmode2 = 0;
    }
    zvhdradj(f);
}

bool header_written_elsewhere(FCB *f) {
    unsigned char buf[128];
    int32_t got = 0;
    if (direct_io(0, f, f->hposh, f->hposl, buf, int32_t(sizeof buf), &got) != 0 || got != int32_t(sizeof buf))
        return true;
    FILEHDR disk;
    decode_base(buf, buf + sizeof buf, &disk);
    return disk.updcnt != f->hdr.base.updcnt;
}

uint32_t node_size_of(const FCB *f) {
    const FILEHDR &b = f->hdr.base;
    uint32_t n = b.nodsiz;
    if (n >= 1 && n <= 127) {
        n *= 16384;
        if (b.sfiltyp == kSfMember) n -= (b.hdrflags & kHdr8ByteOffsets) ? 22 : 18;
    }
    return n;
}

}  // namespace zv

using namespace zv;

int redhdr(FCB *f, int mode) {
    INSTGV *g = zvWNGV;
    if (!g || !f) return set_uerr(61);
    if (fcb_is_memory(f)) return 0;
    FCB *host = f->hostfcb ? f->hostfcb : f;
    if ((host->stflags & kStNoReread) && f->hdr.base.updflg) return 0;

    unsigned char buf[512];
    if (int rc = read_region(f, 0, buf, 128)) return set_uerr(rc);
    FILEHDR &b = f->hdr.base;
    decode_base(buf, buf + 128, &b);
    set_derived_fields(f);
    if (b.hdrpos != f->hposl) return set_uerr(memcmp(buf, "QV!SEGM", 7) == 0 ? 696 : 13);

    FILEHDRX &x = f->hdr.ext;
    if (b.hdrflags & kHdrHasExt) {
        size_t xl = (b.hdrflags2 & kHdr2Ext384) ? 384 : 128;
        if (int rc = read_region(f, 128, buf + 128, int32_t(xl))) return set_uerr(rc);
        // The whole in-memory extended part is rewritten: what a shorter
        // part does not carry reads as zero, never as an earlier file's.
        memset(&x, 0, sizeof x);
        decode_ext(buf + 128, buf + 128 + xl, xl, &x);
        if (x.hdrposh != f->hposh) return set_uerr(13);
        if (b.updcnt != x.updcnt2) {
            zvrcvlog(f->name, kLogSingleTry);
            zvrcvlog("Header inconsistency", kLogSingleTry);
        }
    } else {
        memset(&x, 0, sizeof x);
    }
    set_derived_fields(f);

    if (mode == 1 && f->state != 's') {
        if (b.clstyp == kKindIndex && b.kmem == 0 && b.nmem > 0) {
            if (int rc = bind_members(f)) return rc;
        } else if (b.sfiltyp == kSfHost) {
            if (int rc = superfile_host_bind(f)) return set_uerr(rc);
        }
    }
    return set_uerr(0);
}

int wrthdr(FCB *f) {
    int32_t moved;
    return write_header(f, &moved);
}

int filhdr(FCB *f) {
    if (!zvWNGV || !f) return set_uerr(61);
    if (fcb_is_memory(f)) return set_uerr(0);
    if (int rc = refuse_unless_alone(f)) return rc;
    unsigned char buf[512];
    size_t n = encode_header(f->hdr, header_disk_size(f->hdr.base), buf, buf + sizeof buf);
    if (int rc = write_region(f, 0, buf, 12)) return set_uerr(rc);
    if (n > 128) return set_uerr(write_region(f, 128, buf + 128, 12));
    return set_uerr(0);
}

int wrthdrhgh(FCB *f) {
    if (!zvWNGV || !f) return set_uerr(61);
    uint32_t lo = f->hdr.base.hightran, hi = f->hdr.ext.hightranh;
    f->hdr.base.hightran = f->pendtranl;
    f->hdr.ext.hightranh = f->pendtranh;
    int rc = wrthdr(f);
    f->hdr.base.hightran = lo;
    f->hdr.ext.hightranh = hi;
    return rc;
}

int tstupd(FCB *f) {
    if (!zvWNGV || !f) return set_uerr(61);
    // No change reaches a file that another open holds: the writer's lock
    // comes before any byte, the mark included.
    if (int rc = take_writer_lock(f)) return rc;
    f->updcount++;
    FCB *host = (f->hostfcb && f->hostfcb != f) ? f->hostfcb : nullptr;
    // A member may be marked while its host is not: a member opened with
    // its mark still on disk (an index the superfile rebuild emptied, which
    // the set rebuild opens as it stands) in a host that opened clean. The
    // host takes its mark at the member's first change all the same, or its
    // clean close would not write its header, and the last byte used that
    // the member's growth moved would be lost.
    if (f->hdr.base.updflg && (!host || host->hdr.base.updflg)) return 0;
    // A header write that fails having moved some bytes (a write cut short
    // carries byte 56) may have put the mark on disk: the mark is then
    // unknown, and the clean close writes the header again whatever the
    // flag in memory says. A write that moved nothing left the disk as it
    // was.
    auto mark = [](FCB *b) {
        b->hdr.base.updflg = kUpdChanged;
        int32_t moved = 0;
        int rc = write_header(b, &moved);
        if (rc) {
            b->hdr.base.updflg = 0;
            if (moved > 0) b->stflags |= kStMarkUnknown;
        } else {
            b->stflags &= ~kStMarkUnknown;
        }
        return rc;
    };
    if (host && host->hdr.base.updflg == 0) {
        if (int rc = mark(host)) return set_uerr(rc);
        if (f->hdr.base.updflg) return set_uerr(mbsave(host));
    }
    // Not marked on disk: the next change must try again. The host's header
    // went out with its mark, so the host keeps it and its clean close takes
    // it away again.
    if (int rc = mark(f)) return set_uerr(rc);
    if (int rc = mbsave(host ? host : f)) return set_uerr(rc);
    return set_uerr(0);
}

uint16_t setverson(const FCB *f) {
    const INSTGV *g = zvWNGV;
    uint16_t std = (g && g->hdrversion[0]) ? g->hdrversion[0] : kVersionStd;
    uint16_t ext = (g && g->hdrversion[1]) ? g->hdrversion[1] : kVersionExt;
    uint16_t huge = (g && g->hdrversion[2]) ? g->hdrversion[2] : kVersionHuge;
    if (!(f->hdr.base.hdrflags & kHdrHasExt)) return std;
    return (f->hdr.ext.flmode2 & kFlmode2Variant) ? huge : ext;
}

int tstverson(const FILEHDR *base, const FILEHDRX *ext) {
    if (!base) return 43;
    uint16_t want = kVersionStd;
    if (base->hdrflags & kHdrHasExt)
        want = (ext && (ext->flmode2 & kFlmode2Variant)) ? kVersionHuge : kVersionExt;
    return base->verson == want ? 0 : 43;
}

// With the operation-mode bit that asks for it (SETOPS(0x80000, 2)),
// SERIALNUM draws the next serial number instead of reading the current one.
extern "C" ZV_API uint32_t SERIALNUM(int filno) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    zvSETHGHi(0);
    FCB *f = tstfnm(filno);
    if (!f) return 0;
    if (!(g->opsmode & kOpsSerialAlloc)) {
        zvSETHGHi(int32_t(f->hdr.ext.sernumh));
        return f->hdr.base.sernum;
    }
    if (chkredf(filno, f) || tstupd(f)) return 0;
    int err = 0;
    uint32_t hi = 0;
    uint32_t lo = zvdhupd81(&hi, 0, 1, &err, f);
    if (err) {
        set_uerr(err);
        return 0;
    }
    if (lo == 0 && !(f->hdr.base.hdrflags & kHdrHasExt)) {
        set_uerr(44);
        return 0;
    }
    if ((f->hdr.base.flmode & 0x0040) && wrthdr(f)) return 0;
    zvSETHGHi(int32_t(hi));
    return lo;
}
