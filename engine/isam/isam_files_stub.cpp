// Stand-in of the ISAM services that the file layer calls, until the ISAM
// layer lands: no key maps, contexts or conditional indexes exist, and a
// partitioned host cannot be made (454).
#include "engine/isam/isam_files.h"

#include "engine/core/instance.h"

namespace zv {

void setzvEOK(int, int) {}
void *zvigetcidx(int) {
    set_uerr(408);
    return nullptr;
}
void zvfreecidx(void *, int) {}
int zvsetpres(FCB *, int) { return set_uerr(454); }
void isam_close_contexts(int) {}

}  // namespace zv
