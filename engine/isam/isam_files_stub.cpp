// Least form of an ISAM service that the file layer calls and whose part
// is not built yet: the current ISAM record.
#include "engine/isam/isam_files.h"

#include "engine/files/fcb.h"

namespace zv {

void clear_isam_position(FCB *f) { f->isamposh = f->isamposl = 0; }

}  // namespace zv
