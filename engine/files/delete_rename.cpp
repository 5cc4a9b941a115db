// File delete and rename of open files.
#include "zarvo/zarvo.h"
#include "engine/core/instance.h"

extern "C" {

ZV_API int zvCopyFile(void *, int32_t) { return zv::set_uerr(454); }

ZV_API int zvTempDir(void *, int32_t) { return zv::set_uerr(454); }

}  // extern "C"
