// The blocking filtered read: one ISAM read combined with a filter text.
//
// BLKIREC saves the data file's current ISAM record, runs the read, and
// evaluates the filter (parsed for this call only) on the record found. A
// record the filter refuses ends the call with 101 and the saved current
// record back, as does an evaluation error (598); only an error of the
// read itself leaves the current record as that read leaves it (unchanged).
//
// Waiting for a change of the data file (a time-out other than 0) rests on
// the system queue and notification services, which this build does not
// have: such a call ends with 454 before any read.
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/files/fixrec.h"
#include "engine/index/keyform_needs.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isamrec.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdbpt.h"

namespace zv {

namespace {

bool valid_op(int op) { return (op >= 1 && op <= 4) || (op >= 10 && op <= 14); }

// The read of an operation: the fixed-length form, or with len its
// variable-length twin.
int read_for(int op, int filno, const void *target, void *record, int32_t *len) {
    switch (op) {
    case 1: return len ? FRSVREC(filno, record, len) : FRSREC(filno, record);
    case 2: return len ? NXTVREC(filno, record, len) : NXTREC(filno, record);
    case 3: return len ? PRVVREC(filno, record, len) : PRVREC(filno, record);
    case 4: return len ? LSTVREC(filno, record, len) : LSTREC(filno, record);
    case 10: return len ? GTVREC(filno, target, record, len) : GTREC(filno, target, record);
    case 11: return len ? GTEVREC(filno, target, record, len) : GTEREC(filno, target, record);
    case 12: return len ? EQLVREC(filno, target, record, len) : EQLREC(filno, target, record);
    case 13: return len ? LTEVREC(filno, target, record, len) : LTEREC(filno, target, record);
    default: return len ? LTVREC(filno, target, record, len) : LTREC(filno, target, record);
    }
}

// Evaluates a parsed filter on the record just read: 1 qualifies, 0 not,
// -1 an evaluation error.
int qualifies(void *tree, int kind, int datno, FCB *d, void *record, int32_t len) {
    INSTGV *g = zvWNGV;
    g->exprerr = 0;
    const int32_t fixlen = d->hdr.base.reclen;
    int r = (kind == 1 || kind == 5) ? clbkeval(tree, kind, datno, record, d->schmap, fixlen, len)
                                     : cndxeval(tree, record, d->schmap, fixlen, len);
    if (r < 0 || g->exprerr) return -1;
    return r > 0 ? 1 : 0;
}

int blocking_read(int filno, int op, int32_t timeout, const char *filter, const void *target, void *record,
                  int32_t *len) {
    INSTGV *g = zvWNGV;
    FCB *f = tstifnm(filno);
    if (!f) return isam_end(g->uerr_cod ? g->uerr_cod : 26, filno);
    int datno = filno;
    const bool index = f->kind == kKindIndex;
    if (index) {
        datno = keymap_datno(filno);
        if (datno < 0 || !tstifnm(datno)) return isam_end(set_uerr(614), filno);
    }
    if (!valid_op(op)) return isam_end(set_uerr(446), op);
    if ((index && op >= 10 && !target) || (!index && target)) return isam_end(set_uerr(80), filno);
    if (timeout != 0) return isam_end(set_uerr(454), 0);
    FCB *d = g->fcbtab[datno];
    iUPDCURI(datno, 0);
    if (int rc = read_for(op, filno, target, record, len)) return rc;
    if (!filter || !*filter) return 0;
    void *tree = nullptr;
    int kind = 0;
    int rc = parse_record_filter(datno, d, filter, &tree, &kind);
    if (rc == 0) {
        const int q = qualifies(tree, kind, datno, d, record, len ? *len : d->hdr.base.reclen);
        zvfreecidx(tree, kind);
        rc = q > 0 ? 0 : q < 0 ? 598 : 101;
    }
    if (rc == 0) return isam_end(0, 0);
    // Refused (with no wait asked for, an equal search or not), or the
    // filter failed: the record current before the call is current again.
    iUPDCURI(datno, 1);
    return isam_end(set_uerr(rc), rc == 101 ? filno : datno);
}

}  // namespace

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int BLKIREC(int filno, int op, int32_t timeout, const char *filter, const void *target, void *record,
                   int32_t *len) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    return blocking_read(filno, op, timeout, filter, target, record, len);
}

}  // extern "C"
