// Reading the definition stored in a data file: GETIFIL (the IFIL rebuilt
// into the caller's buffer), the ISAM names of a file (iGETNAM), the
// rewrite of the stored file names by redirection rules, and the files a
// set names itself (what a swap's note may name).
#include <cstring>
#include <new>

#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/core/redirect.h"
#include "engine/isam/fileset.h"
#include "engine/isam/ifil.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"
#include "engine/isam/partition.h"

namespace zv {

namespace {

// Copies a name into the caller's buffer: 0, or 153 (buffer untouched)
// when it does not fit with its NUL.
int put_name(char *buffer, int32_t len, const char *name) {
    if (!name) name = "";
    size_t n = strlen(name);
    if (len < 1 || n + 1 > size_t(len)) return set_uerr(153);
    cpynbuf(buffer, name, int(n + 1));
    return set_uerr(0);
}

// The data file whose stored definition describes file filno.
int data_file_of(int filno, FCB *f) {
    if (f->kind != kKindIndex) return filno;
    ISAMMAPENT *e = isam_entry(filno);
    return e && e->datno != kMapNone ? e->datno : -1;
}

}  // namespace

int zvredirectifil(int filno) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    char *names = nullptr;
    char dext[9], iext[9];
    IFIL *ifil = cnvifilnp(&names, f->name, dext, iext, filno);
    if (!ifil) return g->uerr_cod;
    IFILPARM p;
    setifil(&p, ifil, dext, iext, 0, nullptr, nullptr);
    static constexpr const char *kTitle = "redirecting files:";
    char dname[256], ext[9], out[256];
    (void)zviflnam(&p, dname, 0, ext);
    bool changed = false;
    char newdata[256];
    if (zvredirect(dname, out, kTitle, nullptr) == 1 && zvundoiflnam(out, ext, newdata, 0) == 0) {
        ifil->pfilnam = newdata;
        changed = true;
    }
    int n = ifil->dnumidx > kMapIndexes ? kMapIndexes : ifil->dnumidx;
    static_assert(sizeof(char[kMapIndexes][256]) == 16384, "alternate names");
    auto *alt = static_cast<char(*)[256]>(zvgetmem(int32_t(sizeof(char[kMapIndexes][256]))));
    int rc = alt ? 0 : 82;
    for (int k = 0; k < n && rc == 0; k++) {
        IIDX &x = ifil->iidxarr[k];
        // Names relative to the data file ("*x", "+x", "?x") follow it.
        const char *a = x.aidxnam;
        if (!a || a[0] == '*' || a[0] == '+' || a[0] == '?') continue;
        if (zvredirect(a, alt[k], kTitle, nullptr) == 1) {
            x.aidxnam = alt[k];
            changed = true;
        }
    }
    if (rc == 0 && changed && zvrstdefx(filno, ifil, p.dataext, p.idxext, 0, 0) != 0) rc = g->isamerr_cod;
    zvputmem(alt);
    zvputmem(ifil);
    zvputmem(names);
    return set_uerr(rc);
}

int set_named_files(int datno, const char *asname, std::vector<std::string> *index,
                    std::vector<std::string> *members) {
    index->clear();
    members->clear();
    FCB *f = fcb_at(datno);
    if (!f || !asname) return 540;
    char *names = nullptr;
    char dext[9] = {}, iext[9] = {};
    IFIL *def = cnvifilnp(&names, asname, dext, iext, datno);
    if (!def) return zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 408;
    int rc = 0;
    try {
        SetShape shape;
        if (def->dnumidx < 0 || (def->dnumidx > 0 && (!def->iidxarr || !classify(def, &shape)))) rc = 408;
        IFILPARM p;
        setifil(&p, def, dext, iext, 0, nullptr, nullptr);
        char dat[256];
        if (!rc) rc = zviflnam(&p, dat, 0, nullptr);
        for (int k = 0; !rc && k < def->dnumidx; k++) {
            if (!shape.is_file(k)) continue;
            char x[256];
            const char *a = def->iidxarr[k].aidxnam;
            rc = a ? buildAidxnam(x, a, int(sizeof x), dat) : zviflnam(&p, x, 1, nullptr);
            if (!rc) index->push_back(x);
        }
        const PARTDEF *pd = f->partdef;
        if (!rc && (f->hdr.ext.flmode2 & kFlmode2PartHost) && pd && pd->ptmbr) {
            for (int32_t i = 0; i < pd->ptcur; i++) {
                const PARTMBR &m = pd->ptmbr[i];
                if (m.name && (m.state == kMbrClosed || m.state == kMbrOpen || m.state == kMbrArchived))
                    members->push_back(m.name);
            }
        }
    } catch (const std::bad_alloc &) {
        rc = 82;
    }
    zvputmem(def);
    zvputmem(names);
    return rc;
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int32_t GETIFILX(int datno, int32_t buflen, void *buffer, const char *) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    g->isamerr_cod = 0;
    g->isamfil_num = 0;
    set_uerr(0);
    FCB *f = tstfnm(datno);
    if (!f) {
        ierr(g->uerr_cod, datno < 0 ? 0 : datno);
        return 0;
    }
    if (f->kind == kKindIndex) {
        set_uerr(48);
        ierr(48, datno);
        return 0;
    }
    char *names = nullptr;
    IFIL *ifil = cnvifilnpx(&names, f->name, nullptr, nullptr, datno, 0);
    if (!ifil) return 0;
    // A partitioned set's partition marks live in its index headers.
    if (f->hdr.ext.flmode2 & 0x1C00000u) {
        for (int k = 0; k < ifil->dnumidx && k < kMapIndexes; k++) {
            const int ix = isam_map_index(datno, k);
            if (ix == kIdxListEnd) break;
            const FCB *x = ix >= 0 ? fcb_at(ix) : nullptr;
            if (x && x->kind == kKindIndex)
                ifil->iidxarr[k].ikeytyp = int16_t((ifil->iidxarr[k].ikeytyp & ~0x60) | (x->hdr.base.ktype & 0x60));
        }
    }
    int32_t need = ifil_flat_size(ifil);
    if (need > 0 && buffer && buflen >= need) {
        IFIL *out = ifil_flatten(ifil, buffer, buflen);
        int16_t none = -1;
        memcpy(reinterpret_cast<char *>(out) + offsetof(IFIL, dfilno), &none, sizeof none);
        memcpy(reinterpret_cast<char *>(out) + offsetof(IFIL, tfilno), &none, sizeof none);
    }
    zvputmem(ifil);
    zvputmem(names);
    return need > 0 ? need : 0;
}

ZV_API int32_t GETIFIL(int datno, int32_t buflen, void *buffer) { return GETIFILX(datno, buflen, buffer, nullptr); }

ZV_API int iGETNAM(int filno, char *buffer, int32_t len, int mode) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (mode == 0) return GETNAM(filno, buffer, len);
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    if (!buffer) return set_uerr(540);
    switch (mode) {
    case 1:
    case 2:
    case 3: {
        ISAMMAPENT *e = isam_entry(filno);
        const char *name = !e ? nullptr : mode == 3 ? e->idxnam : e->datnam[mode - 1];
        return put_name(buffer, len, name);
    }
    case 7:
    case 8: {
        int datno = data_file_of(filno, f);
        FCB *d = datno >= 0 ? tstfnm(datno) : nullptr;
        if (!d) return set_uerr(g->uerr_cod ? g->uerr_cod : 26);
        char *names = nullptr;
        char dext[9], iext[9];
        IFIL *ifil = cnvifilnp(&names, d->name, dext, iext, datno);
        if (!ifil) return g->uerr_cod;
        IFILPARM p;
        setifil(&p, ifil, dext, iext, 0, nullptr, nullptr);
        char name[256];
        int rc = zviflnam(&p, name, mode == 7 ? 0 : 1, nullptr);
        zvputmem(ifil);
        zvputmem(names);
        if (rc) return set_uerr(rc);
        return put_name(buffer, len, name);
    }
    default:
        return set_uerr(116);
    }
}

}  // extern "C"
