// Stop of an engine user.
//
// STPUSR ends the work of the current instance: no file is open in this
// build's file layer yet, so it runs the stop road (batches, ISAM tables,
// locks, buffers, pools) and unregisters the default instance that the
// start-up calls registered.
#include <cstring>

#include "engine/core/instance.h"
#include "engine/core/lifecycle.h"
#include "engine/core/startup.h"

extern "C" {

ZV_API uint16_t STPUSR(void) {
    INSTGV *g = zvWNGV;
    if (!zv::is_started(g)) return static_cast<uint16_t>(zv::set_uerr(410));
    zv::stop_instance();
    if (strcmp(g->id, ZV_DEFAULT_INSTANCE_ID) == 0) {
        char id[ZV_INSTANCE_ID_MAX + 1];
        memcpy(id, g->id, sizeof id);
        UNRZARVO(id);
    }
    return 0;
}

}  // extern "C"
