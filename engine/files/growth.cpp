// File growth, least form: the last byte used advances by the bytes needed
// and the physical end follows it. Growth in steps, first extents, maximum
// sizes, alignment gaps and the 0xFF fill of new space come with the full
// growth rules.
#include "engine/files/growth.h"

#include "engine/core/arith.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/files/fcb.h"
#include "engine/files/header.h"

extern "C" uint32_t extfil(FCB *fcb, uint32_t needed, uint32_t, int) {
    if (!fcb) {
        zv::set_uerr(61);
        return 0;
    }
    bool wide = (fcb->hdr.base.hdrflags & kHdr8ByteOffsets) != 0;
    uint64_t used = zv::join64(fcb->hdr.ext.numrech, fcb->hdr.base.numrec);
    uint64_t start = used + 1;
    uint64_t last = used + needed;
    if (!wide && last > 0xFFFFFFFFull) {
        zv::set_uerr(39);
        return 0;
    }
    zv::split64(last, &fcb->hdr.ext.numrech, &fcb->hdr.base.numrec);
    if (last > zv::join64(fcb->hdr.ext.phyendh, fcb->hdr.base.phyend))
        zv::split64(last, &fcb->hdr.ext.phyendh, &fcb->hdr.base.phyend);
    zvSETHGHi(int32_t(start >> 32));
    return uint32_t(start);
}
