// Stand-in of the fixed-length record space, least form, until that module
// lands: the serial number without identity fields, the delete stack
// without its repairs, and allocation by popping the stack or growing the
// file. The fixed-length record module replaces this file.
#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/files/fcb.h"
#include "engine/files/fixrec_services.h"
#include "engine/files/growth.h"
#include "engine/files/header.h"

namespace {

bool wide(const FCB *f) { return (f->hdr.base.hdrflags & kHdr8ByteOffsets) != 0; }

uint32_t slot_header(const FCB *f) {
    return f->hdr.base.sfiltyp == kSfMember ? (wide(f) ? 22 : 18) : 0;
}

}  // namespace

uint32_t zvdhupd81(uint32_t *serh, int32_t delta, int mode, int *err, FCB *f) {
    uint32_t localh = 0;
    int localerr = 0;
    if (!serh) serh = &localh;
    if (!err) err = &localerr;
    *err = 0;
    uint32_t lo = 0;
    *serh = 0;
    if (mode != 0) {
        if (f->hdr.base.hdrflags & kHdrHasExt) {
            if (mode == 1) zv::add64(&f->hdr.ext.sernumh, &f->hdr.base.sernum, 1);
            *serh = f->hdr.ext.sernumh;
            lo = f->hdr.base.sernum;
        } else {
            lo = ++f->hdr.base.sernum;
        }
    }
    if (delta && f->kind == kKindFixed) {
        if (delta > 0)
            zv::add64(&f->hdr.ext.numenth, &f->hdr.base.nument, uint64_t(delta));
        else
            zv::sub64(&f->hdr.ext.numenth, &f->hdr.base.nument, uint64_t(-int64_t(delta)));
    }
    return lo;
}

int iretrec(int filno, uint32_t posl, int decrement) {
    uint32_t posh = uint32_t(zvGETHGHi());
    FCB *f = tstfnm(filno);
    if (!f) return zvWNGV ? zvWNGV->uerr_cod : 47;
    if (!wide(f)) posh = 0;
    if (int rc = chkredf(filno, f)) return rc;
    if (f->kind != kKindFixed) return zv::set_uerr(48);
    if (posh == 0 && posl == 0) return zv::set_uerr(29);
    if (decrement) zvdhupd81(nullptr, -1, 0, nullptr, f);
    unsigned char mark[9] = {0xFF};
    uint32_t linkh = 0, linkl = 0;
    if (!(f->hdr.ext.flmode2 & 0x10000000)) {
        if (f->hdr.ext.delstkh == posh && f->hdr.base.delstk == posl) {
            if (decrement) zvdhupd81(nullptr, 1, 0, nullptr, f);
            return zv::set_uerr(32);
        }
        linkh = f->hdr.ext.delstkh;
        linkl = f->hdr.base.delstk;
    }
    uint64_t link = zv::join64(linkh, linkl);
    for (int i = 0; i < 8; i++) mark[1 + i] = uint8_t(link >> (8 * i));
    uint32_t h = posh, l = posl;
    zv::add64(&h, &l, slot_header(f));
    int rc = izvio81x(1, f, h, l, mark, wide(f) ? 9 : 5, nullptr, 0);
    if (!rc && !(f->hdr.ext.flmode2 & 0x10000000)) {
        f->hdr.ext.delstkh = posh;
        f->hdr.base.delstk = posl;
    }
    if (!rc && (f->hdr.base.flmode & 0x40)) rc = wrthdr(f);
    if (!rc) rc = tstupd(f);
    if (rc && decrement) zvdhupd81(nullptr, 1, 0, nullptr, f);
    return zv::set_uerr(rc);
}

extern "C" uint32_t NEWREC(int filno) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    zv::set_uerr(0);
    FCB *f = tstfnm(filno);
    int rc = f ? chkredf(filno, f) : g->uerr_cod;
    if (!rc && f->kind != kKindFixed) rc = zv::set_uerr(48);
    if (rc) {
        g->lastserh = g->lastserl = 0;
        zvSETHGHi(0);
        return 0;
    }
    int err = 0;
    g->lastserl = zvdhupd81(&g->lastserh, 1, 1, &err, f);
    uint32_t posh = f->hdr.ext.delstkh, posl = f->hdr.base.delstk;
    if (!wide(f)) posh = 0;
    uint32_t outh = 0, outl = 0;
    if (posh || posl) {
        unsigned char b[9] = {};
        rc = izvio81x(0, f, posh, posl, b, wide(f) ? 9 : 5, nullptr, 0);
        if (!rc && b[0] == 0xFF) {
            uint64_t link = 0;
            for (int i = wide(f) ? 7 : 3; i >= 0; i--) link = (link << 8) | b[1 + i];
            zv::split64(link, &f->hdr.ext.delstkh, &f->hdr.base.delstk);
            outh = posh, outl = posl;
        } else {
            f->hdr.ext.delstkh = f->hdr.base.delstk = 0;
            rc = 0;
        }
    }
    if (!rc && !outh && !outl) {
        outl = extfil(f, f->reclen, 0, 0);
        outh = uint32_t(zvGETHGHi());
        if (!outl && !outh) rc = g->uerr_cod ? g->uerr_cod : 39;
    }
    if (!rc && (f->hdr.base.flmode & 0x40)) rc = wrthdr(f);
    if (!rc) rc = tstupd(f);
    if (rc) {
        zvdhupd81(nullptr, -1, 0, nullptr, f);
        g->lastserh = g->lastserl = 0;
        zvSETHGHi(0);
        zv::set_uerr(rc);
        return 0;
    }
    zvSETHGHi(int32_t(outh));
    return outl;
}
