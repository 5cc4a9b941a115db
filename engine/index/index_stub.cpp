// Stand-in of the index engine's services to open that later modules build:
// the definitions an index keeps are looked up in its resources but not yet
// applied.
#include "engine/index/index_services.h"

#include <cstring>

#include "engine/core/instance.h"
#include "engine/files/fcb.h"
#include "engine/files/identity_services.h"
#include "engine/files/resource.h"

extern "C" {
// Extended key segment definitions are resources of types 1000 to 1063;
// none is applied yet, so any found is left as stored.
int getksegdef(FCB *fcb) {
    if (!fcb) return zv::set_uerr(61);
    uint32_t key[2] = {999, 0xFFFFFFFFu};
    uint32_t info[3] = {};
    if (!GETRES(fcb->filno, key, info, sizeof info, 128 | 0x40) && zvWNGV->uerr_cod) return zvWNGV->uerr_cod;
    return zv::set_uerr(0);
}
// The alternate collating sequence of index member `kmem`: block kmem of
// the host's definition resource (type 0, number 3).
int igetaltseq(int filno, void *buf, int) {
    INSTGV *g = zvWNGV;
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    FCB *host = f->hostfcb ? f->hostfcb : f;
    void *blk = nullptr;
    int32_t len = 0;
    int rc = zv::read_definition_block(host->filno, 0, 3, f->hdr.base.kmem, &blk, &len);
    if (!rc && buf) memcpy(buf, blk, size_t(len < 512 ? len : 512));
    zvputmem(blk);
    return zv::set_uerr(rc);
}
}
