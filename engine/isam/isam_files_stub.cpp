// Least forms of the ISAM services that the file layer and key formation
// call and whose parts are not built yet: the conditions a data file
// stores (none) and the current ISAM record.
#include "engine/isam/isam_files.h"

#include "engine/core/instance.h"
#include "engine/files/fcb.h"
#include "engine/isam/cidx.h"

namespace zv {

void *zvigetcidx(int) {
    set_uerr(408);
    return nullptr;
}
int zvchkcidx(int, int) { return 0; }

void clear_isam_position(FCB *f) { f->isamposh = f->isamposl = 0; }

}  // namespace zv
