// Central data and index I/O.
//
// izvio81x chooses one of three roads for a request:
//  - memory files are served from their records in memory;
//  - data regions go through the data page cache unless the request or the
//    file asks for direct I/O;
//  - everything else goes straight to the platform read or write at a
//    64-bit offset, a superfile member being turned into its host first.
// The direct road keeps the cache coherent: a direct write copies its bytes
// into every cached page it overlaps, and a direct read takes the bytes of
// any dirty cached page it overlaps, so the header and the first records
// (page 0) agree whichever road wrote them.
#include "engine/core/centralio.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/fileio.h"
#include "engine/core/fileops.h"
#include "engine/files/files_services.h"
#include "engine/core/instance.h"
#include "engine/core/pagecache.h"
#include "engine/core/statuslog.h"
#include "engine/core/fcb.h"

namespace zv {

namespace {

inline bool is_member(const FCB *f) {
    uint16_t st = f->hdr.base.sfiltyp;
    return st != 0xFFFF && (st & 2);
}

// Pages may be cached for this file: data files, and superfile members
// (whose pages live under the host).
inline bool may_have_pages(const FCB *f) { return f->kind != kKindIndex || is_member(f); }

// A physical file whose space holds records: a data file, or a superfile
// host (its members' records and nodes share its space).
inline bool holds_records(const FCB *f) { return f->kind != kKindIndex || f->hdr.base.sfiltyp == kSfHost; }

// Memory-file size reports logged by this process (only the first ten are).
std::atomic<int> memory_size_reports{0};

void log_memory_size(const FCB *f, int code, int32_t size, uint32_t torigin, uint32_t msiz) {
    if (memory_size_reports.fetch_add(1) >= 10) return;
    char msg[96];
    snprintf(msg, sizeof msg, "iosize(%d) + torigin(%u) > msiz(%u)", size, torigin, msiz);
    zvrcvlog("izvio81x: detected memory file record size discrepancy for file...", kLogSingleTry - code);
    zvrcvlog(f->name, kLogSingleTry - code);
    zvrcvlog(msg, kLogSingleTry - code);
}

// The memory-file road: the offset less torigin is the address of a record
// of the file; the transfer is cut to the record (36 read, 37 write). The
// address is only used once it has been found in the file's own chain.
int memory_io(int op, FCB *f, uint64_t off, void *buf, int32_t size, int32_t *count, uint32_t torigin) {
    *count = 0;
    uint32_t msiz = 0;
    unsigned char *data = memfile_record(f, off - torigin, &msiz);
    if (!data) return set_uerr(160);
    int code = 0;
    int64_t want = size;
    if (want + int64_t{torigin} > int64_t{msiz}) {
        code = (op & 1) ? 37 : 36;
        log_memory_size(f, code, size, torigin, msiz);
        want = int64_t{msiz} - int64_t{torigin};
    }
    if (want < 1) return set_uerr(code);
    if (!buf) return set_uerr(540);
    *count = int32_t(want);
    if (op & 1) memcpy(data + torigin, buf, size_t(want));
    else memcpy(buf, data + torigin, size_t(want));
    return set_uerr(code);
}

void log_seek_error(const FCB *f) {
    zvrcvlog("SEEK_ERR...", kLogSingleTry);
    zvrcvlog(f->name, kLogSingleTry);
}

}  // namespace

int direct_io(int op, FCB *fcb, uint32_t hi, uint32_t lo, void *buf, int32_t len, int32_t *count) {
    INSTGV *g = zvWNGV;
    int32_t local = 0;
    if (!count) count = &local;
    *count = 0;
    FCB *f = fcb;
    // An additional member of an index lives in its host's file.
    if (f->kind == kKindIndex && f->hostfcb && f->hostfcb != f && !is_member(f)) f = f->hostfcb;
    if (is_member(f)) {
        if (!f->hostfcb) return set_uerr(61);
        f = physical_fcb(f);
    }
    set_uerr(0);
    if (f->state == 'v' && zvswitch(f) != 0) return g->uerr_cod;
    int pop = (op & 1) | (op & 0x380);
    int rc;
    uint32_t moved = 0;
    if (!(op & 1)) {
        rc = zvsysio81(pop, f, 0, hi, lo, buf, uint32_t(len), &moved);
        *count = int32_t(moved);
        if (rc == 35) log_seek_error(f);
        g->dreads++;
        g->dreadbytes += uint32_t(*count);
    } else {
        // The file grows without holes: a write that starts past the bytes
        // already written first puts down what lies between.
        if (!(op & 0x300) && join64(hi, lo) > join64(f->hwoffh, f->hwoffl) + 1 && g->datpagelist &&
            holds_records(f)) {
            if (int gap = pagecache_close_gap(f, join64(hi, lo))) return set_uerr(gap);
        }
        if (len < 0) {
            zvrcvlog("Warning: write size request > 2GB", kLogSingleTry);
            zvrcvlog(f->name, kLogSingleTry);
        }
        rc = zvsysio81(pop, f, 0, hi, lo, buf, uint32_t(len), &moved);
        *count = int32_t(moved);
        if (rc == 35) log_seek_error(f);
        g->dwrites++;
        g->dwritebytes += uint32_t(*count);
    }
    return set_uerr(rc);
}

namespace {

// The size of a file on disk (every segment of a segmented one) into
// *size: 0, or 35 when it cannot be read.
int disk_size(FCB *fcb, uint64_t *size) {
    uint32_t hi = 0;
    uint32_t lo = (fcb->hdr.base.hdrflags & kHdrSegmented) ? zvgsize81(&hi, fcb)
                                                           : zvfsize81(&hi, fcb, fcb->fd);
    if (hi == 0xFFFFFFFFu && lo == 0xFFFFFFFFu) return set_uerr(35);
    *size = join64(hi, lo);
    return 0;
}

}  // namespace

int raise_written_end(FCB *fcb) {
    if (!fcb || fcb_is_memory(fcb)) return 0;
    uint64_t size = 0;
    if (int rc = disk_size(fcb, &size)) return rc;
    if (size && size - 1 > join64(fcb->hwoffh, fcb->hwoffl)) split64(size - 1, &fcb->hwoffh, &fcb->hwoffl);
    return 0;
}

int set_highest_written(FCB *fcb) {
    if (!fcb || fcb_is_memory(fcb)) return 0;
    uint64_t size = 0;
    if (int rc = disk_size(fcb, &size)) return rc;
    split64(size ? size - 1 : 0, &fcb->hwoffh, &fcb->hwoffl);
    return 0;
}

}  // namespace zv

using namespace zv;

extern "C" {

int izvio81x(int op, FCB *fcb, uint32_t hw, uint32_t lw, void *buf, int32_t size, int32_t *count,
             uint32_t torigin) {
    int32_t local = 0;
    if (!count) count = &local;
    if (!fcb) return set_uerr(61);
    if (fcb_is_memory(fcb)) return memory_io(op, fcb, join64(hw, lw), buf, size, count, torigin);
    op &= ~0x1000;
    int base = op & ~0x1380;
    bool member = is_member(fcb);
    bool cacheable = !(fcb->opflags & kOpNoCache) && fcb->state != 's';
    if (fcb->kind == kKindIndex) {
        if (member && base == 33 && cacheable) return zvblock81(base, fcb, hw, lw, buf, size, count);
    } else if (!(base & 0x10) && cacheable) {
        return zvblock81(base, fcb, hw, lw, buf, size, count);
    }
    bool coherent = may_have_pages(fcb) && !(op & 0x300);
    int rc = direct_io(op & 0x381, fcb, hw, lw, buf, size, count);
    if (coherent) {
        if (op & 1) {
            pagecache_direct_written(fcb, hw, lw, buf, size, rc == 0);
        } else {
            int32_t got = pagecache_direct_read(fcb, hw, lw, buf, size, *count);
            if (got != *count) {
                *count = got;
                if (got >= size && rc == 36) rc = set_uerr(0);
            }
        }
    }
    return rc;
}

int izvio81(int op, FCB *fcb, uint32_t hw, uint32_t lw, void *buf, int32_t size, int32_t *count) {
    return izvio81x(op, fcb, hw, lw, buf, size, count, 0);
}

int izvio(int op, FCB *fcb, uint32_t lw, void *buf, int32_t size, int32_t *count) {
    return izvio81x(op, fcb, 0, lw, buf, size, count, 0);
}

ZV_API int zvio81x(int op, FCB *fcb, uint32_t hw, uint32_t lw, void *buf, int32_t size,
                   uint32_t torigin) {
    if (!zvWNGV) return 47;
    if (!fcb) return set_uerr(61);
    if (size < 0) return set_uerr(469);
    if (size == 0) size = fcb->reclen;
    return izvio81x(op, fcb, hw, lw, buf, size, nullptr, torigin);
}

ZV_API int zvio81(int op, FCB *fcb, uint32_t hw, uint32_t lw, void *buf, int32_t size) {
    return zvio81x(op, fcb, hw, lw, buf, size, 0);
}

ZV_API int zvio(int op, FCB *fcb, uint32_t lw, void *buf, int32_t size) {
    return zvio81x(op, fcb, 0, lw, buf, size, 0);
}

int zvswitch(FCB *fcb) {
    if (!fcb || fcb->state != 'v') return 0;
    int fd = mbopen(fcb, fcb->name, fcb->hdr.base.flmode);
    if (fd < 0) return set_uerr(38);
    // The name may hold another file now: one that another process put in
    // its place (a swap) while the block had no descriptor. The block's
    // file is not there to reopen, and the block reads and writes nothing
    // of the new one: 12, and it stays outdated.
    if (fcb->fileidset) {
        uint64_t dev = 0, ino = 0;
        if (zv_fgetuniqfile(fd, &dev, &ino) != 0 || dev != fcb->filedev || ino != fcb->fileino) {
            mbclosm(fcb->hdr.base.flmode, fd);
            fcb->outdated = 1;
            zvWNGV->sysiocod = 0;
            return set_uerr(12);
        }
    }
    // The virtual close gave up the file's lock: it is taken again, and a
    // refusal (another process took the file meanwhile) fails the call.
    if (int err = relock_open_file(fcb, fd)) {
        mbclosm(fcb->hdr.base.flmode, fd);
        zvWNGV->sysiocod = uint16_t(err);
        return set_uerr(12);
    }
    fcb->fd = fd;
    fcb->state = 'y';
    zvWNGV->physopen++;
    vt_reopened(fcb);
    return 0;
}

void zvlowhsh(void *node, void *anchor, int side) {
    struct Links {
        Links *fwd;
        Links *bwd;
    };
    Links *n = static_cast<Links *>(node);
    Links *a = static_cast<Links *>(anchor);
    if (n->fwd) {
        n->bwd->fwd = n->fwd;
        n->fwd->bwd = n->bwd;
        n->fwd = n->bwd = nullptr;
    }
    if (!a) return;
    if (side) {
        n->fwd = a->fwd;
        n->bwd = a;
        a->fwd->bwd = n;
        a->fwd = n;
    } else {
        n->bwd = a->bwd;
        n->fwd = a;
        a->bwd->fwd = n;
        a->bwd = n;
    }
}

}  // extern "C"
