// File-set open and close: a data file and all its indexes opened from an
// IFIL (OPNIFILz) or from the definition stored in the data file (OPNRFIL),
// closed or deleted together (CLIFIL, CLRFIL, DELIFIL, DELRFIL), the stop
// of the whole ISAM layer (CLISAM), and the release of a file held open
// beyond its last close (zvundokepopn).
//
// An open never leaves half a set behind: on any failure every file this
// call opened is closed again and its key-map entries are released. Each
// physical file is opened once (its members come with it).
#include <cstring>

#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/files/close.h"
#include "engine/files/fcbops.h"
#include "engine/files/xcreblk.h"
#include "engine/index/distinct.h"
#include "engine/index/idxstate.h"
#include "engine/index/ksegdef.h"
#include "engine/isam/fileset.h"
#include "engine/isam/ifil.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"
#include "engine/isam/partition.h"

namespace zv {

namespace {

bool open_state(const FCB *f) { return f && (f->state == 'y' || f->state == 'v' || f->state == 'w'); }
// An additional member of an index file: it opens and closes with its host.
bool index_member(const FCB *f) { return f->kind == kKindIndex && f->hdr.base.kmem != 0; }

int report(int code, int filno) {
    set_uerr(code);
    return ierr(code, filno);
}

// Open mode of the extra open that releases a held data file: shared.
constexpr uint16_t kKeepReopenMode = 4097;

// What an open has opened so far, for the undo.
struct Opened {
    int datno = -1;
    bool dataopen = false;
    bool file[64] = {};
    int last = -1;
};

int undo_open(IFIL *ifil, const Opened &o, int code, int filno) {
    INSTGV *g = zvWNGV;
    uint16_t sys = g->sysiocod;
    ifil->tfilno = -1;
    {
        OptionBit closing(&g->fileopt[0], kIsamClosing);
        for (int k = o.last; k >= 0; k--) {
            int n = o.datno + 1 + k;
            if (o.file[k] && open_state(fcb_at(n))) close_set_file(n);
            clearifil(n, 1, 0);
        }
        if (open_state(fcb_at(o.datno))) close_set_file(o.datno);
        clearifil(o.datno, 0, 1);
    }
    g->sysiocod = sys;
    return report(code, filno);
}

// Releases a file held open beyond its last close (and, for a data file,
// its index files held with it): 1 plus those index files, 0 when nothing
// was held or the extra open failed (its code in uerr_cod).
int undo_keep_open(const char *name) {
    const int filno = name ? chkopnx(name) : -1;
    FCB *f = filno >= 0 ? fcb_at(filno) : nullptr;
    if (!f || !(f->stflags & kStKeepOpen)) return 0;
    const bool data = f->kind != kKindIndex;
    // A data file held by itself is opened once more, so that the release
    // ends with a close of its own.
    int extra = -1;
    if (f->keepstate == 1 && data) {
        extra = filrng(-1, 0, kKeepReopenMode);
        if (extra < 0) return set_uerr(-extra), 0;
        if (int rc = OPNFIL(extra, name, kKeepReopenMode)) return set_uerr(rc), 0;
    }
    f->stflags &= ~kStKeepOpen;
    if (f->keepstate > 0) f->keepstate--;
    int released = 1;
    if (data) {
        const uint16_t *list = isam_actlist(filno);
        for (int s = 0; list && s < kMapIndexes && list[s] != kMapNone; s++) {
            if (list[s] == kMapShared) continue;
            FCB *x = fcb_at(list[s]);
            if (!open_state(x) || index_member(x) || x->keepstate != 2) continue;
            x->keepstate = 1;
            x->stflags &= ~kStKeepOpen;
            released++;
        }
    }
    if (extra >= 0) close_set_file(extra);
    return released;
}

}  // namespace

int close_set_file(int filno) { return iclsfilx(filno, 0); }

bool set_file_open(const FCB *f) { return open_state(f); }

int set_fail(int code, int filno) { return report(code, filno < 0 ? 0 : filno); }

ErrorKeep::ErrorKeep() {
    INSTGV *g = zvWNGV;
    inst_ = g;
    uerr_ = g->uerr_cod;
    isam_ = g->isamerr_cod;
    num_ = g->isamfil_num;
    sys_ = g->sysiocod;
}

ErrorKeep::~ErrorKeep() {
    if (INSTGV *g = zvWNGV; g && g == inst_) {
        g->uerr_cod = uerr_;
        g->isamerr_cod = isam_;
        g->isamfil_num = num_;
        g->sysiocod = sys_;
    }
}

int default_blocks(const IFIL *ifil, XCREblk **out) {
    *out = nullptr;
    if (!zvWNGV) return 47;
    if (!ifil) return set_fail(540, 0);
    if (int rc = chkxcre(ZV_XCRE_DEFAULT, nismfil(ifil), out)) return set_fail(rc, ifil->dfilno);
    return 0;
}

void release_default_blocks(XCREblk *blocks) { clrxcre(blocks); }

int opnifil(IFILPARM *p, bool dataopen, int *chosen) {
    INSTGV *g = zvWNGV;
    IFIL *ifil = p ? p->ifil : nullptr;
    if (!ifil || !ifil->pfilnam || ifil->dnumidx < 0 || (ifil->dnumidx > 0 && !ifil->iidxarr))
        return report(540, 0);
    Opened o;
    o.dataopen = dataopen;
    o.datno = dataopen ? ifil->tfilno : -1;
    // A data file opened by name goes again with a refused definition.
    auto refuse = [&](int code) {
        if (dataopen) return undo_open(ifil, o, code, o.datno);
        ifil->tfilno = -1;
        return report(code, 0);
    };
    SetShape shape;
    if (ifil->dnumidx > kMapIndexes) return refuse(107);
    if (!classify(ifil, &shape)) return refuse(540);
    if (!idx_state(g).isamtab) return refuse(47);

    // 1. The data file.
    uint16_t state = kMapByName;
    char dname[256];
    if (!dataopen) {
        ifil->tfilno = -1;
        int datno = filrng(ifil->dfilno, ifil->dnumidx, ifil->dfilmod);
        if (datno < 0) return set_uerr(-datno);
        if (int rc = zviflnam(p, dname, 0, nullptr)) return report(rc, datno);
        if (chosen) *chosen = datno;
        OptionBit mark(&g->fileopt[1], kIsamMark);
        if (int rc = OPNFIL(datno, dname, uint16_t(ifil->dfilmod))) return report(rc, datno);
        ifil->tfilno = int16_t(datno);
        state = kMapByIfil;
    }
    int datno = ifil->tfilno;
    o.datno = datno;
    FCB *dat = fcb_at(datno);
    if (!open_state(dat)) return report(26, datno);
    if (dataopen) memcpy(dname, dat->name, sizeof dname);
    ISAMMAPENT *de = isam_entry(datno);
    de->inuse = state;
    // 2. A variable-length data file. Its record length (the fixed part of
    // a variable-length one) is the definition's: a file that says another
    // would have every read write past the caller's record buffer.
    if (dat->hdr.base.reclen != ifil->dreclen) return undo_open(ifil, o, 608, datno);
    if (dat->kind == kKindVariable) ifil->dfilmod |= 0x4;
    // 3. The field names.
    for (int i = 0; i < 2; i++) {
        const char *s = i ? ifil->tlstfld : ifil->rfstfld;
        if (!s) continue;
        char *copy = zvrtnam(s);
        if (!copy) return undo_open(ifil, o, 195, datno);
        zvputmem(de->datnam[i]);
        de->datnam[i] = copy;
    }
    // 6. Index files and members.
    for (int k = 0; k < ifil->dnumidx; k++) {
        IIDX &x = ifil->iidxarr[k];
        int n = datno + 1 + k;
        o.last = k;
        if (shape.is_file(k)) {
            char iname[256];
            if (x.aidxnam) {
                if (int rc = buildAidxnam(iname, x.aidxnam, sizeof iname, dname)) return undo_open(ifil, o, rc, n);
            } else if (int rc = zviflnam(p, iname, 1, nullptr)) {
                return undo_open(ifil, o, rc, n);
            }
            {
                OptionBit mark(&g->fileopt[2], kIsamIndexMark);
                if (int rc = OPNFIL(n, iname, uint16_t(ifil->ifilmod))) return undo_open(ifil, o, rc, n);
            }
            o.file[k] = true;
            FCB *xf = fcb_at(n);
            x.ikeytyp = int16_t(x.ikeytyp | (xf->hdr.base.ktype & 0x60));
            if (int(xf->hdr.base.nmem) != shape.nmem[k]) return undo_open(ifil, o, 124, datno);
        }
        FCB *xf = fcb_at(n);
        if (open_state(xf)) {
            bool keylen = x.ikeylen == int16_t(xf->hdr.base.keylen);
            bool typebit = (x.ikeytyp & 0x80) == (xf->hdr.base.ktype & 0x80);
            if (!keylen || !chkkeydup(&x, xf) || !typebit) return undo_open(ifil, o, 608, n);
        }
        if (int rc = setimap(k, ifil, -1, 0, 0)) return undo_open(ifil, o, rc, g->isamfil_num);
        if (int rc = zvksgmap(n)) return undo_open(ifil, o, rc, n);
        isam_entry(n)->inuse = state;
    }
    // 7. End of the index list.
    if (ifil->dnumidx < kMapIndexes) setzvEOK(datno, ifil->dnumidx);
    // 8. Partition-key map of a partitioned set.
    if (dat->hdr.ext.flmode2 & 0x1C00000u) {
        if (int rc = setkincmap(dat, datno)) return undo_open(ifil, o, rc, datno);
    }
    g->isamerr_cod = 0;
    g->isamfil_num = 0;
    return 0;
}

int ishtifil(int datno, bool del) {
    INSTGV *g = zvWNGV;
    FCB *f = tstfnm(datno);
    if (!f) return report(g->uerr_cod ? g->uerr_cod : 26, datno < 0 ? 0 : datno);
    uint16_t list[kMapIndexes];
    const uint16_t *act = isam_actlist(datno);
    for (int s = 0; s < kMapIndexes; s++) list[s] = act ? act[s] : kMapNone;
    int first = 0;
    uint16_t firstsys = 0;
    auto keep = [&](int rc) {
        if (rc && !first) {
            first = rc;
            firstsys = g->sysiocod;
        }
    };
    if (del) {
        int count = 0;
        int r = chkxisam(datno, 0, &count);
        if (r < 0) return report(-r, g->isamfil_num);
        if (f->hdr.ext.flmode2 & 0x400000u) keep(zvpartdelete(datno));
    }
    {
        OptionBit setclose(&g->fileopt[2], kIsamSetClose);
        keep(del ? DELFIL(datno) : close_set_file(datno));
        clnrvnum(f, datno);
        for (int s = 0; s < kMapIndexes && list[s] != kMapNone; s++) {
            if (list[s] == kMapShared) continue;
            FCB *x = fcb_at(list[s]);
            if (open_state(x) && !index_member(x)) keep(del ? DELFIL(list[s]) : close_set_file(list[s]));
            clearifil(list[s], 1, 0);
        }
    }
    clearifil(datno, 0, 1);
    if (first) {
        g->sysiocod = firstsys;
        return report(first, datno);
    }
    set_uerr(0);
    return 0;
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int OPNIFILz(IFILPARM *p) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    g->isamfil_num = 0;
    return opnifil(p, false, nullptr);
}

ZV_API int OPNIFILX(IFIL *ifil, const char *dataext, const char *idxext, const char *) {
    IFILPARM p;
    setifil(&p, ifil, dataext, idxext, 0, nullptr, nullptr);
    return OPNIFILz(&p);
}

ZV_API int OPNIFIL(IFIL *ifil) { return OPNIFILX(ifil, nullptr, nullptr, nullptr); }

ZV_API int OPNRFIL(int filno, const char *name, int mode) {
    INSTGV *g = zvWNGV;
    if (!g) return -1;
    g->isamerr_cod = 0;
    g->isamfil_num = 0;
    if (!name) {
        report(540, 0);
        return -1;
    }
    // A name that does not fit is refused, never cut to another name.
    char nm[256];
    size_t n = strnlen(name, sizeof nm);
    if (n >= sizeof nm) {
        report(139, 0);
        return -1;
    }
    memcpy(nm, name, n + 1);
    int datno = filrng(filno, 0, mode);
    if (datno < 0) {
        set_uerr(-datno);
        return -1;
    }
    {
        OptionBit mark(&g->fileopt[1], kIsamMark);
        if (int rc = OPNFIL(datno, nm, uint16_t(mode))) {
            report(rc, datno);
            return -1;
        }
    }
    char *names = nullptr;
    char dext[9], iext[9];
    IFIL *ifil = cnvifilnp(&names, nm, dext, iext, datno);
    if (!ifil) {
        uint16_t code = g->uerr_cod, isam = g->isamerr_cod, num = g->isamfil_num;
        close_set_file(datno);
        g->uerr_cod = code;
        g->isamerr_cod = isam;
        g->isamfil_num = num;
        return -1;
    }
    ifil->dfilmod = int16_t(mode);
    ifil->ifilmod = int16_t(mode & ~0x4);
    IFILPARM p;
    setifil(&p, ifil, dext, iext, 0, nullptr, nullptr);
    int base = datno;
    int rc;
    if (ifil->dnumidx > 0 && ifil->dnumidx <= kMapIndexes && filrng(datno + 1, ifil->dnumidx - 1, 0) < 0) {
        close_set_file(datno);
        if (filno >= 0) {
            rc = report(46, datno + 1);
        } else {
            g->isamerr_cod = 0;
            g->isamfil_num = 0;
            ifil->dfilno = -1;
            rc = opnifil(&p, false, &base);
        }
    } else {
        ifil->dfilno = int16_t(datno);
        ifil->tfilno = int16_t(datno);
        rc = opnifil(&p, true, nullptr);
    }
    int result = rc ? -1 : ifil->tfilno;
    if (rc && filno < 0 && g->isamfil_num >= base) g->isamfil_num = uint16_t(g->isamfil_num - base);
    zvputmem(ifil);
    zvputmem(names);
    return result;
}

ZV_API int OPNRFILX(int filno, const char *name, int mode, const char *) { return OPNRFIL(filno, name, mode); }

ZV_API int CLIFIL(IFIL *ifil) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    if (!ifil) return report(540, 0);
    int rc = ishtifil(ifil->tfilno, false);
    if (rc == 0) ifil->tfilno = -1;
    return rc;
}

ZV_API int DELIFIL(IFIL *ifil) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    if (!ifil) return report(540, 0);
    int rc = ishtifil(ifil->tfilno, true);
    if (rc == 0) ifil->tfilno = -1;
    return rc;
}

ZV_API int CLRFIL(int datno) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    return ishtifil(datno, false);
}

ZV_API int DELRFIL(int datno) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    return ishtifil(datno, true);
}

ZV_API uint16_t CLISAM(void) {
    INSTGV *g = zvWNGV;
    // An engine started without the ISAM layer (or none at all) is stopped
    // as the user stop does it.
    if (!g || !idx_state(g).isamtab) return STPUSR();
    int first = 0, firstno = 0;
    {
        OptionBit closing(&g->fileopt[0], kIsamClosing);
        FREBAT();
        FRESET();
        rtfisam();
        for (int pass = 0; pass < 2; pass++) {
            for (int i = 0; i < idx_state(g).isamtabn; i++) {
                ISAMMAPENT *e = isam_entry(i);
                if (e->inuse == kMapFree) continue;
                FCB *f = fcb_at(i);
                if (open_state(f) && !index_member(f)) {
                    if ((f->hdr.base.sfiltyp == kSfHost) != (pass == 1)) continue;
                    int rc = close_set_file(i);
                    if (rc && !first) {
                        first = rc;
                        firstno = i;
                    }
                }
                e->inuse = kMapFree;
                e->datno = kMapNone;
                setzvEOK(i, 0);
            }
        }
        zvfisam(idx_state(g).isamtabn);
    }
    if (first) ierr(first, firstno);
    int rc = STPUSR();
    return uint16_t(first ? first : rc);
}

ZV_API int zvundokepopn(const char *name) {
    if (!zvWNGV) return 0;
    return undo_keep_open(name);
}

ZV_API int zvCLSNAM(const char *) { return set_uerr(454); }

}  // extern "C"
