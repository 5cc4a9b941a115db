// Stand-in of the ISAM services that the file layer calls, until the ISAM
// layer lands: the key map is the one the index engine's segment calls make
// (keymap.h); no contexts or conditional indexes exist, and a partitioned
// host cannot be made (454).
#include "engine/isam/isam_files.h"

#include "engine/core/instance.h"
#include "engine/files/fcb.h"
#include "engine/isam/keymap.h"

namespace zv {

void setzvEOK(int datno, int slot) {
    ISAMKEY *k = isam_key(datno);
    if (!k || slot < 0) return;
    for (int i = slot; i < kMapIndexes; i++) k->idxlist[i] = kIdxListEnd;
}
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

// The key map as the index engine's segment calls made it.
int32_t isam_map_value(int filno, int which) {
    ISAMKEY *k = isam_key(filno);
    if (!k || which < 0 || which > 2) return -1;
    return k->values[which];
}
int isam_map_index(int datno, int slot) {
    ISAMKEY *k = isam_key(datno);
    if (!k || slot < 0 || slot >= kMapIndexes) return -1;
    return k->idxlist[slot];
}

// No partition or stored file definition exists yet.
bool is_partition_member(const FCB *) { return false; }
int partition_member(const FCB *, int) { return -1; }
int partition_active(FCB *, int, int32_t *) { return set_uerr(715); }
int partition_refusal(FCB *) { return 0; }
int chgpartattrs(FCB *, uint32_t) { return 0; }
int chgpartmode(FCB *, int) { return 0; }
void clear_isam_position(FCB *f) { f->isamposh = f->isamposl = 0; }
int zvredirectifil(int) { return set_uerr(408); }

}  // namespace zv
