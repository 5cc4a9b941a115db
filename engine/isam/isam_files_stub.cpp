// Least forms of the ISAM services that the file layer calls and whose
// Parts are not built yet: conditional indexes (none: every record belongs
// to every index), the field names of a record schema, and the current ISAM
// record.
#include "engine/isam/isam_files.h"

#include "engine/core/instance.h"
#include "engine/files/fcb.h"

namespace zv {

void *zvigetcidx(int) {
    set_uerr(408);
    return nullptr;
}
void zvfreecidx(void *, int) {}

// Field names of a record schema are not read yet.
void *zvgetnames(int) {
    set_uerr(199);
    return nullptr;
}

void clear_isam_position(FCB *) {}

}  // namespace zv
