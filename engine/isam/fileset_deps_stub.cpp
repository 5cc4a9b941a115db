// Least forms of the services named in fileset_deps.h.
#include "engine/isam/fileset_deps.h"

#include <cstring>

#include "engine/core/instance.h"
#include "engine/files/close.h"
#include "engine/files/fcb.h"

extern "C" {

// Plain files only: close, then remove the file unless it lives in memory.
int DELFIL(int filno) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->sysiocod = 0;
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    if ((f->hdr.base.flmode & 0x09) || f->hdr.base.sfiltyp == kSfDirectory) return zv::set_uerr(56);
    char name[sizeof f->name];
    memcpy(name, f->name, sizeof name);
    bool memory = fcb_is_memory(f);
    int rc = iclsfilx(filno, 0);
    if (!memory && dltfil(name) != 0 && rc == 0) rc = 55;
    return zv::set_uerr(rc);
}

int suppressDEL(int filno) {
    FCB *f = tstfnm(filno);
    if (!f) return zvWNGV ? zvWNGV->uerr_cod : 47;
    f->stflags |= kStKeepOnCleanup;
    f->hdr.base.hdrflags &= uint16_t(~0x0800);
    return 0;
}

}  // extern "C"

namespace zv {

int zvredirect(const char *, char *, const char *, const char *) { return 0; }

void zvundoiflnam(const char *name, const char *ext, char *out, int kind) {
    INSTGV *g = zvWNGV;
    if (!out) return;
    out[0] = '\0';
    if (!name) return;
    size_t n = strnlen(name, 255);
    memcpy(out, name, n);
    out[n] = '\0';
    if ((!ext || !*ext) && g) ext = g->defext[kind ? 1 : 0];
    if (!ext || !*ext || ext[strspn(ext, " ")] == '\0') return;
    size_t e = strlen(ext);
    if (e <= n && memcmp(out + n - e, ext, e) == 0) out[n - e] = '\0';
}

int chkkeydup(const IIDX *x, const FCB *fcb) { return x && fcb && int(fcb->hdr.base.autodup) == x->ikeydup; }

const unsigned char *schema_map(const FCB *fcb) { return fcb ? fcb->schmap : nullptr; }

}  // namespace zv
