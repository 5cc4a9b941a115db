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

int initPARTSERbuf(int keyno) { return zv::keymap_datno(keyno) >= 0 ? 0 : zv::set_uerr(614); }
