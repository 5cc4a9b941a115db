// Stand-in of the ISAM services the file layer calls: no key maps,
// contexts, batches or conditional indexes exist yet.
#include "engine/isam/isam_services.h"

#include "engine/core/instance.h"

extern "C" {
void setzvEOK(int, int) {}
void *zvigetcidx(int) {
    zv::set_uerr(408);
    return nullptr;
}
void zvfreecidx(void *, int) {}
int zvsetpres(FCB *, int) { return zv::set_uerr(454); }
void zvfcidxstk(void **stack) {
    if (stack) *stack = nullptr;
}
int FREBAT(void) { return 0; }
void zvfisam(int) {}
}

namespace zv {

void isam_close_contexts(int) {}

}  // namespace zv
