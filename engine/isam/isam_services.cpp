// ISAM services of the engine core: batches and the ISAM lock mode (the
// start-up, growth and release of the ISAM tables are in isammap.cpp, the
// ISAM stop in fileset_open.cpp).
#include "engine/isam/isam_services.h"

#include "engine/core/instance.h"

extern "C" {

// No batches exist in this build: nothing to free.
ZV_API int FREBAT(void) { return 0; }

ZV_API int LKISAM(int mode) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    switch (mode) {
    case 0: case 2: case 3: case 4: case 5: case 6: case 7: case 8:
    case 11: case 12: case 13: case 14:
        g->isamlockmode = uint16_t(mode);
        return zv::set_uerr(0);
    default:
        return zv::set_uerr(446);
    }
}

}  // extern "C"
