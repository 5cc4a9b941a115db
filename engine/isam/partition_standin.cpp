// Least forms of the partition services that the rebuilds and index
// additions across members will replace: adding indexes to, or
// rebuilding, a partitioned set answers 454.
#include "engine/core/instance.h"
#include "engine/files/fcb.h"
#include "engine/isam/isam_files.h"
#include "engine/isam/partition.h"

namespace zv {

int zvpartiidx(FCB *, int, int, IFILPARM *, int, int) { return set_uerr(454); }
int zvpartrbl(IFILPARM *) { return set_uerr(454); }
FCB *zvparthost() { return nullptr; }
int rebuild_member(FCB *, int, int32_t) { return 454; }

}  // namespace zv
