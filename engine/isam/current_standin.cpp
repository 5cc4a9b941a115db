// Least form of the ISAM layer's current record, until that layer exists
// (see engine/index/isam_upcalls.h). The current record of a data file is
// its position in the data file's control block; a read makes a record
// current only when it succeeds and passes the filter stand-in.
#include <cstring>

#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/files/fcb.h"
#include "engine/files/varrec.h"
#include "engine/index/curkey.h"
#include "engine/index/isam_upcalls.h"
#include "engine/index/keyform_needs.h"

namespace zv {

namespace {

// Forms the current key images of the data file's indexes for a record
// that became current: only index ~selector while the selector is negative.
void form_images(int datno, const void *record, uint32_t posh, uint32_t posl, int32_t reclen) {
    INSTGV *g = zvWNGV;
    int32_t sel = g->nav.refsel;
    if (sel < 0) {
        zvputk81(-(sel + 1), record, posh, posl, 0, reclen);
        return;
    }
    for (int slot = 0; slot < 64; slot++) {
        int ix = keymap_index(datno, slot);
        if (ix == -1) break;
        if (ix < 0) continue;
        zvputk81(ix, record, posh, posl, 0, reclen);
    }
}

int make_current(int datno, FCB *f, const void *record, uint32_t posh, uint32_t posl, int32_t reclen) {
    INSTGV *g = zvWNGV;
    if (g->nav.readfilter && g->nav.readfilter(datno, record, g->nav.readfilterctx)) return set_uerr(739);
    f->isamposh = posh;
    f->isamposl = posl;
    form_images(datno, record, posh, posl, reclen);
    return set_uerr(0);
}

}  // namespace

int REDIREC(int datno, uint32_t poslow, void *record) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    uint32_t hi = uint32_t(zvGETHGHi());
    FCB *f = tstfnm(datno);
    if (!f) return g->uerr_cod;
    zvSETHGHi(int32_t(hi));
    if (int rc = ::REDREC(datno, poslow, record)) return set_uerr(rc);
    return make_current(datno, f, record, hi, poslow, f->reclen);
}

int REDIVREC(int datno, uint32_t poslow, void *record, int32_t *len) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    uint32_t hi = uint32_t(zvGETHGHi());
    if (int rc = zv_chkplen(len)) return rc;
    FCB *f = tstfnm(datno);
    if (!f) return g->uerr_cod;
    int32_t got = 0;
    zvSETHGHi(int32_t(hi));
    int rc = iRDVREC(datno, poslow, record, *len, 1, &got);
    if (got > 0) *len = got;
    if (rc) return set_uerr(rc);
    return make_current(datno, f, record, hi, poslow, got);
}

int reset_cur2(int keyno, uint32_t posh, uint32_t posl, void *record, int32_t *len) {
    int datno = keymap_datno(keyno);
    if (datno < 0) return set_uerr(614);
    zvSETHGHi(int32_t(posh));
    return len ? REDIVREC(datno, posl, record, len) : REDIREC(datno, posl, record);
}

int reset_cur(int keyno, uint32_t, uint32_t, void *) {
    INSTGV *g = zvWNGV;
    int code = g->uerr_cod ? g->uerr_cod : 101;
    int datno = keymap_datno(keyno);
    if (datno >= 0 && filno_in_table(datno)) {
        FCB *d = g->fcbtab[datno];
        if (d && d->state != 'n') d->isamposh = d->isamposl = 0;
    }
    return set_uerr(code);
}

int zv_chkplen(const int32_t *len) {
    if (len) return 0;
    ierr(633, 0);
    return set_uerr(633);
}

int setidstseg(int keyno, uint32_t *segcounts, uint32_t *bytelens, int dupmode) {
    if (dupmode != 3 && dupmode != 4) return 0;
    KeySeg segs[16];
    int s = keymap_segments(keyno, segs);
    if (s <= 1) return 0;
    uint32_t want[4];
    int n;
    if (s < 6) {
        n = s - 1;
        for (int i = 0; i < n; i++) want[i] = uint32_t(i + 1);
    } else {
        int q = s / 4;
        n = 4;
        for (int i = 0; i < 4; i++) want[i] = uint32_t(i * q + 1);
    }
    for (int i = 0; i < n; i++) {
        uint32_t bytes = 0;
        for (uint32_t j = 0; j < want[i]; j++) bytes += uint32_t(segs[j].length);
        segcounts[i] = want[i];
        bytelens[i] = bytes;
    }
    return n;
}

void set_isam_read_filter(int (*filter)(int, const void *, void *), void *context) {
    if (!zvWNGV) return;
    zvWNGV->nav.readfilter = filter;
    zvWNGV->nav.readfilterctx = context;
}

}  // namespace zv
