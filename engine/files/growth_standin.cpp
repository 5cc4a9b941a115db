// Least stand-in of file growth until the growth service exists: the new
// space begins at the last byte used + 1; the last byte used (and the last
// physical byte when it is passed) advance by the bytes asked for. Nothing
// is written: the caller writes the new space before it is ever read.
#include "engine/files/growth.h"

#include "engine/core/arith.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/files/fcb.h"

uint32_t extfil(FCB *fcb, uint32_t bytes, uint32_t, int) {
    if (!fcb) return zv::set_uerr(61), 0u;
    // A superfile member (superfile type 2) grows its host.
    FCB *f = (fcb->hdr.base.sfiltyp == 2 && fcb->hostfcb) ? fcb->hostfcb : fcb;
    FILEHDR &b = f->hdr.base;
    FILEHDRX &x = f->hdr.ext;
    bool wide = b.hdrflags & kHdr8ByteOffsets;
    uint64_t used = zv::join64(wide ? x.numrech : 0, b.numrec);
    uint64_t start = used + 1;
    uint64_t end = used + bytes;
    if (!wide && end > 0xFFFFFFFFull) return zv::set_uerr(39), 0u;
    zv::split64(end, &x.numrech, &b.numrec);
    uint64_t phys = zv::join64(wide ? x.phyendh : 0, b.phyend);
    if (end > phys) zv::split64(end, &x.phyendh, &b.phyend);
    zvSETHGHi(int32_t(uint32_t(start >> 32)));
    zv::set_uerr(0);
    return uint32_t(start);
}
