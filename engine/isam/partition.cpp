// Partitioned files, least form: no host can be made, so no position
// carries a partition number, no file is a member, and the calls that
// would make or read a partitioned host answer 454.
#include "engine/isam/partition.h"

#include <cstdint>

#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/files/fcb.h"
#include "engine/isam/isam_files.h"

namespace zv {

int zvsetpres(FCB *, int) { return set_uerr(454); }
int zvpartres(int) { return set_uerr(454); }
int zvpartrule(FCB *, int) { return set_uerr(454); }
int zvchkprtidx(XCREblk *, const IFIL *, int, int) { return set_uerr(454); }
int setkincmap(FCB *, int) { return set_uerr(454); }
int zvpartcls(FCB *) { return 0; }
int zvpartcln(FCB *) { return 0; }
int zvpartdelete(int) { return 0; }
int zvpartrbl(IFILPARM *) { return set_uerr(454); }
// A set is renamed whole by the file-set rename; only a host has members.
int part_ren(IFILPARM *p) {
    FCB *f = p && p->ifil ? fcb_at(p->ifil->tfilno) : nullptr;
    return f && (f->hdr.ext.flmode2 & kFlmode2PartHost) ? set_uerr(454) : 0;
}
int zvxfrres(int, int) { return set_uerr(454); }
int zvpartdrop(FCB *, FCB *, int, int) { return set_uerr(454); }
int zvpartiidx(FCB *, int, int, IFILPARM *, int, int) { return set_uerr(454); }
FCB *zvparthost() { return nullptr; }
int zvpartaddk(int, int, const void *, uint32_t, uint32_t) { return set_uerr(454); }

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
bool is_partition_member(const FCB *) { return false; }
int partition_member(const FCB *, int) { return -1; }
int partition_active(FCB *, int, int32_t *) { return set_uerr(715); }
int partition_refusal(FCB *) { return 0; }
int chgpartattrs(FCB *, uint32_t) { return 0; }
int chgpartmode(FCB *, int) { return 0; }

void partition_state_get(const FCB *, PartState *out) { *out = PartState{}; }
void partition_state_set(FCB *, const PartState *) {}
int32_t partition_lowest_raw(const FCB *) { return INT32_MAX; }
int hostpartno(FCB *, int32_t *rawout, int, int32_t) {
    if (rawout) *rawout = -1;
    set_uerr(722);
    return -1;
}
int partcuri(int, int) { return -1; }

}  // namespace zv
