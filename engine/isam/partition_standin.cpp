// Least forms of the partition services that the counts, rebuilds and
// index additions across members will replace: adding indexes to, or
// rebuilding, a partitioned set answers 454.
#include "engine/core/instance.h"
#include "engine/files/fcb.h"
#include "engine/isam/isam_files.h"
#include "engine/isam/partition.h"

namespace zv {

int zvpartiidx(FCB *, int, int, IFILPARM *, int, int) { return set_uerr(454); }
int zvpartrbl(IFILPARM *) { return set_uerr(454); }
FCB *zvparthost() { return nullptr; }

// The record count of a host is its own header's until counts are summed
// over the members.
uint32_t zvhostent(FCB *host, int, uint32_t *hi) {
    *hi = host->hdr.ext.numenth;
    return host->hdr.base.nument;
}

}  // namespace zv
