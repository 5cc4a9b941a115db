// Forcing a data file and its indexes to disk after an ISAM write.
//
// A data file opened with mode 0x40, or marked to be forced to disk, has
// its bytes and those of the indexes the ISAM layer keeps with it (its
// companions in the key map) synced after each write. Only files open with
// a descriptor of their own are synced: a superfile member is skipped, and
// so is an additional index member among the companions. Each sync is
// counted in INSTGV::syncdos.
#include "engine/isam/sync.h"

#include "engine/core/fcb.h"
#include "engine/core/fileio.h"
#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/isam/isammap.h"

namespace zv {

void flushdos(int filno) {
    INSTGV *g = zvWNGV;
    if (!g) return;
    auto sync_open = [g](FCB *f, bool skip_index_members) {
        if (!f || f->fd < 0 || f->hdr.base.sfiltyp == 2) return;
        if (f->state != 'y' && f->state != 'w' && f->state != 's') return;
        if (skip_index_members && f->hdr.base.kmem != 0) return;
        g->syncdos++;
        zvfdatasync(f->fd);
    };
    sync_open(fcb_at(filno), false);
    const int16_t *list = isam_companions(filno);
    if (!list) return;
    for (int i = 0; i < 64 && list[i] != -1; i++) {
        if (list[i] == -65) continue;
        sync_open(fcb_at(list[i]), true);
    }
}

}  // namespace zv
