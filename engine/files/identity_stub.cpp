// Stand-in of identity fields and data-access resources: files have none.
#include "engine/files/identity_services.h"

#include "engine/core/instance.h"

extern "C" {
int ADDDAR(int, const void *, int32_t) { return zv::set_uerr(0); }
int zvgetDAR(FCB *, int, int) { return 0; }
int zvmapFCBtoDAR(FCB *, int, int, int) { return 0; }
int zvrdefx(int, int, int, void **out, int32_t *len) {
    if (out) *out = nullptr;
    if (len) *len = 0;
    return zv::set_uerr(408);
}
}

namespace zv {

// No file has an identity field yet.
int identity_step(FCB *) { return 0; }

}  // namespace zv
