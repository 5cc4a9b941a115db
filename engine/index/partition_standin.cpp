// Least forms of the ISAM layer's key searches, counts and estimates across
// the members of a partitioned host (see partition_upcalls.h): searches and
// counts answer 454, estimates 614; the member search buffers need no
// preparing.
#include "engine/index/partition_upcalls.h"

#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/index/keyform_needs.h"

uint32_t part_ser(FCB *, const void *, void *, int, int) {
    zvSETHGHi(0);
    return zv::set_uerr(454), 0u;
}

uint32_t zvhostent(FCB *) {
    zvSETHGHi(0);
    return zv::set_uerr(454), 0u;
}

namespace {

uint32_t no_partitions() {
    zvSETHGHi(0);
    return zv::set_uerr(614), 0u;
}

}  // namespace

uint32_t zvhostest(int, FCB *, int, const void *, const void *, int) { return no_partitions(); }
uint32_t zvhostfrc(FCB *, int, void *, int32_t, int32_t, int32_t) { return no_partitions(); }
uint32_t zvhostdst(FCB *, int) { return no_partitions(); }
uint32_t zvhostdst_set(FCB *, int, int, int) { return no_partitions(); }
int initPARTSERbuf(int keyno) { return zv::keymap_datno(keyno) >= 0 ? 0 : zv::set_uerr(614); }
