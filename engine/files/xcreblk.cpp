// Extended create blocks.
//
// Creation never works on the caller's block: chkxcre validates it and hands
// out an engine copy, on which creation applies its masks and defaults. The
// values null (no options) and ZV_XCRE_DEFAULT (1) are recognised here and
// never dereferenced.
#include "engine/files/xcreblk.h"

#include <cstring>

#include "engine/core/instance.h"
#include "engine/core/fcb.h"

namespace {

// Word 0 bits, or words, that ask for an extended header.
bool wants_extended(const XCREblk &b) {
    return (b.mode & kFlmode2Features) || b.segsize || b.maxsizehi || b.maxsizelo || b.firstext ||
           b.extsize || b.option7 || b.nsegs > 1;
}

}  // namespace

int chkxcre(const XCREblk *given, int n, XCREblk **out) {
    *out = nullptr;
    if (!given) return 0;
    if (n < 1) n = 1;
    XCREblk *copy = static_cast<XCREblk *>(zvgetmem(int32_t(sizeof(XCREblk)) * n));
    if (!copy) {
        zvrcvlog("XCREblk memory allocation error", 10);
        return zv::set_uerr(10);
    }
    if (given == ZV_XCRE_DEFAULT) {
        bool std = zvWNGV && zvWNGV->stdheader;
        for (int i = 0; i < n; i++) copy[i].mode = std ? kFlmode2StdHeader : kHdrExtended;
    } else {
        for (int i = 0; i < n; i++) {
            if ((given[i].mode & kFlmode2StdHeader) && wants_extended(given[i])) {
                zvputmem(copy);
                return zv::set_uerr(669);
            }
        }
        memcpy(static_cast<void *>(copy), given, sizeof(XCREblk) * size_t(n));
    }
    *out = copy;
    return 0;
}

void clrxcre(XCREblk *copy) {
    if (copy) zvputmem(copy);
}

int setxcreblk(const FCB *f, XCREblk *out) {
    const FILEHDR &b = f->hdr.base;
    const FILEHDRX &x = f->hdr.ext;
    memset(static_cast<void *>(out), 0, sizeof *out);
    out->mode = (b.hdrflags & 0xFDA) | x.flmode2;
    uint64_t seg = (uint64_t{x.segsizh} << 32 | x.segsizl) / 1048576u;
    if (seg > 0xFFFFFFFFu) return zv::set_uerr(749);
    out->segsize = uint32_t(seg);
    out->maxsizehi = x.maxsizh;
    out->maxsizelo = x.maxsizl;
    out->firstext = x.firstext;
    out->extsize = x.extsiz32;
    out->nsegs = x.nsegs;
    out->option7 = x.crew7;
    out->option9 = x.crew9;
    out->option14 = x.crew14;
    out->width15 = x.crew15 == 0xFFFFFFFFu ? 0 : x.crew15;
    return 0;
}

extern "C" ZV_API int GETXCREBLK(int filno, XCREblk *xcre) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    if (f->kind == kKindIndex && f->hostfcb != f) return zv::set_uerr(23);
    if (!xcre) return zv::set_uerr(540);
    return zv::set_uerr(setxcreblk(f, xcre));
}
