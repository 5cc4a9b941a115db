// ISAM start-up: INTISAMX and INTISAM start the engine under the ISAM layer.
//
// The ISAM tables are made first for the file numbers asked for, then the
// engine core starts with INTREEX and the same values (zviisam, isammap.cpp);
// a failed start leaves neither the tables nor the engine behind. Errors are
// reported as ISAM errors (ierr), with no file number.
#include "engine/core/instance.h"
#include "engine/core/startup.h"
#include "engine/isam/isammap.h"
#include "zarvo/zarvo.h"

extern "C" {

ZV_API uint16_t INTISAMX(int32_t bufs, int32_t fils, int32_t sect, int32_t dbufs,
                         int32_t userprof) {
    if (uint16_t rc = zv::use_default_instance()) return rc;
    INSTGV *g = zvWNGV;
    if (zv::is_started(g)) return static_cast<uint16_t>(ierr(zv::set_uerr(125), 0));
    g->isamerr_cod = 0;
    int rc = zv::zviisam(bufs, fils, sect, dbufs, userprof);
    if (rc == 0) return 0;
    int code = g->uerr_cod ? g->uerr_cod : zv::set_uerr(rc);
    return static_cast<uint16_t>(ierr(code, 0));
}

ZV_API uint16_t INTISAM(int32_t bufs, int32_t fils, int32_t sect) {
    return INTISAMX(bufs, fils, sect, bufs, 33);
}

}  // extern "C"
