// The node bound of an index's file (see walkguard.h).
#include "engine/index/walkguard.h"

#include "engine/core/arith.h"
#include "engine/core/fcb.h"
#include "engine/index/node.h"

namespace zv {

uint64_t index_node_bound(FCB *f) {
    FCB *host = idx_host(f);
    // A memory file keeps each node as a record of its own.
    if (fcb_is_memory(host)) return uint64_t(host->nmemrecs) + 1;
    // Superfile members keep their nodes anywhere in the host's bytes.
    const FCB *phys = physical_fcb(host);
    uint64_t used = join64(phys->hdr.ext.numrech, phys->hdr.base.numrec) + 1;
    uint64_t node = f->nodesize ? f->nodesize : 1;
    return used / node + 1;
}

}  // namespace zv
