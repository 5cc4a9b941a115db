// Services named in fileset_deps.h.
#include "engine/isam/fileset_deps.h"

#include "engine/files/fcb.h"

namespace zv {

int chkkeydup(const IIDX *x, const FCB *fcb) { return x && fcb && int(fcb->hdr.base.autodup) == x->ikeydup; }

const unsigned char *schema_map(const FCB *fcb) { return fcb ? fcb->schmap : nullptr; }

}  // namespace zv
