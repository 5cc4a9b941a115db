// Stand-in of the ISAM services that the file layer calls, until the ISAM
// layer lands: no key maps, contexts or conditional indexes exist, and a
// partitioned host cannot be made (454).
#include "engine/isam/isam_files.h"

#include "engine/core/instance.h"
#include "engine/files/fcb.h"

namespace zv {

void setzvEOK(int, int) {}
void *zvigetcidx(int) {
    set_uerr(408);
    return nullptr;
}
void zvfreecidx(void *, int) {}
int zvsetpres(FCB *, int) { return set_uerr(454); }
void isam_close_contexts(int) {}

// No file has a record schema yet.
void *zvgetnames(int) {
    set_uerr(199);
    return nullptr;
}
// No partitioned host can be made yet: positions carry no partition number.
int zvunfoldpartno(FCB *, uint32_t *, int *partno, int) {
    if (partno) *partno = -1;
    return -3;
}
// Without members the host's own header count is the answer.
uint32_t zvhostent(FCB *host, int, uint32_t *hi) {
    *hi = host->hdr.ext.numenth;
    return host->hdr.base.nument;
}
FCB *partition_host_of(FCB *) { return nullptr; }

// No ISAM map, partition or stored file definition exists yet.
int32_t isam_map_value(int, int) { return -1; }
int isam_map_index(int, int) { return -1; }
bool is_partition_member(const FCB *) { return false; }
int partition_member(const FCB *, int) { return -1; }
int partition_active(FCB *, int, int32_t *) { return set_uerr(715); }
int partition_refusal(FCB *) { return 0; }
int chgpartattrs(FCB *, uint32_t) { return 0; }
int chgpartmode(FCB *, int) { return 0; }
void clear_isam_position(FCB *f) { f->isamposh = f->isamposl = 0; }
int zvredirectifil(int) { return set_uerr(408); }

}  // namespace zv
