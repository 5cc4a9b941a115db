// Stand-ins of the ISAM layer's partition services (see partition_upcalls.h):
// partitioned hosts are not served until that layer exists.
#include "engine/index/partition_upcalls.h"

#include "engine/core/highword.h"
#include "engine/core/instance.h"

uint32_t part_ser(FCB *, const void *, void *, int, int) {
    zvSETHGHi(0);
    return zv::set_uerr(454), 0u;
}

uint32_t zvhostent(FCB *) {
    zvSETHGHi(0);
    return zv::set_uerr(454), 0u;
}
