// Batches: no batch exists yet, so there is nothing to free.
#include "engine/isam/isam_services.h"

extern "C" {

ZV_API int FREBAT(void) { return 0; }

}  // extern "C"
