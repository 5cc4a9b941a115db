// Stop road of an instance.
//
// Stopping an engine frees the ISAM layer's batches, closes every open file,
// frees the ISAM tables, gives the lock entries back and releases everything
// start-up allocated (zvfree).
// The instance stays registered; STPUSR and UNRZARVO decide about that.
#include "engine/core/lifecycle.h"

#include "engine/core/filehold.h"
#include "engine/core/filemutex.h"
#include "engine/core/instance.h"
#include "engine/core/startup.h"
#include "engine/files/files_services.h"
#include "engine/isam/isam_services.h"

namespace zv {

void stop_instance() {
    if (!zvWNGV) return;
    filmtx_release_all();
    FREBAT();
    close_all_files();
    zvfisam(0);
    zvfilok();
    zvfree();
    release_all_holds();
}

}  // namespace zv
