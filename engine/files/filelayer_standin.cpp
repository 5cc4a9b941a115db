// Least stand-ins of file-layer services (see filelayer_standin.h). The
// header image is written as held in memory, which is its disk form on the
// little-endian hosts this build supports.
#include "engine/files/filelayer_standin.h"

#include <bit>

#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/instance.h"
#include "engine/files/fcb.h"

static_assert(std::endian::native == std::endian::little, "header images are written as held");

namespace {

bool has_ext(const FCB *f) { return f->hdr.base.hdrflags & kHdrHasExt; }

// Where the block's header lies: an index member's after its host's.
uint32_t header_pos(const FCB *f) {
    uint32_t step = has_ext(f) ? 512u : 128u;
    return uint32_t(f->hdr.base.kmem) * step;
}

int write_at(FCB *f, uint32_t pos, const void *p, int32_t len) {
    return izvio81x(0x11, f, 0, pos, const_cast<void *>(p), len, nullptr, 0);
}

}  // namespace

int wrthdr(FCB *f) {
    if (!zvWNGV || !f) return zv::set_uerr(61);
    if (fcb_is_memory(f)) return 0;
    f->hdr.base.updcnt++;
    f->hdr.ext.updcnt2 = f->hdr.base.updcnt;
    int32_t len = 128;
    if (has_ext(f)) len = (f->hdr.base.hdrflags2 & kHdr2Ext384) ? 512 : 256;
    return zv::set_uerr(write_at(f, header_pos(f), &f->hdr, len));
}

int filhdr(FCB *f) {
    if (!zvWNGV || !f) return zv::set_uerr(61);
    if (fcb_is_memory(f)) return 0;
    uint32_t pos = header_pos(f);
    if (int rc = write_at(f, pos, &f->hdr.base, 12)) return rc;
    if (has_ext(f)) return write_at(f, pos + 128, &f->hdr.ext, 12);
    return 0;
}

int tstupd(FCB *f) {
    if (!zvWNGV || !f) return zv::set_uerr(61);
    f->updcount++;
    if (f->hdr.base.updflg) return 0;
    FCB *host = (f->hostfcb && f->hostfcb != f) ? f->hostfcb : nullptr;
    bool host_set = false;
    if (host && host->hdr.base.updflg == 0) {
        host->hdr.base.updflg = 0xFF;
        host_set = true;
        if (int rc = wrthdr(host)) {
            host->hdr.base.updflg = 0;
            return zv::set_uerr(rc);
        }
    }
    f->hdr.base.updflg = 0xFF;
    if (int rc = wrthdr(f)) {
        f->hdr.base.updflg = 0;
        if (host_set) host->hdr.base.updflg = 0;
        return zv::set_uerr(rc);
    }
    if (int rc = zv::mbsave(host ? host : f)) return zv::set_uerr(rc);
    return zv::set_uerr(0);
}

int chkredf(int, FCB *f) {
    if (!f) return zv::set_uerr(61);
    if ((f->hdr.base.flmode & 0x08) || (f->opflags & kOpNoUpdate)) return zv::set_uerr(54);
    return 0;
}

FCB *tstfnm(int filno) {
    INSTGV *g = zvWNGV;
    if (!g) return nullptr;
    zv::set_uerr(0);
    if (!g->fcbtab || g->filecount <= 0) return zv::set_uerr(47), nullptr;
    if (filno < 0 || filno > g->filecount) return zv::set_uerr(22), nullptr;
    FCB *f = g->fcbtab[filno];
    char st = f ? f->state : 'n';
    switch (st) {
    case 'y':
    case 'v':
    case 'w':
        return f;
    case 'n':
        return zv::set_uerr(26), nullptr;
    case 'm':
        return zv::set_uerr(46), nullptr;
    default:
        return zv::set_uerr(643), nullptr;
    }
}

FCB *tstifnm(int filno) { return tstfnm(filno); }
