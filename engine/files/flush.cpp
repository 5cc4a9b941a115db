// Flush: a file's cached bytes put on disk.
//
// iZVFLUSH writes the dirty data-cache pages (and, through the index
// engine, the dirty index nodes) of one file, or of every file, keeps them
// cached, and then forces the file to disk with a forced save. Every dirty
// page is tried even after a failure; the first error is the result,
// returned negative (ZVFLUSH returns it positive).
#include "engine/files/flush.h"

#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/instance.h"
#include "engine/core/pagecache.h"
#include "engine/core/fcb.h"
#include "engine/files/identity_services.h"
#include "engine/files/superfile.h"
#include "engine/index/index_services.h"
#include "engine/isam/isam_services.h"

namespace {

constexpr uint32_t kSaveForced = 0x2000;

// Every dirty page of the instance: 0 or the first error.
int write_all_pages(INSTGV *g) {
    int first = 0;
    for (PAGEBUF *b = static_cast<PAGEBUF *>(g->datpagelist); b; b = b->next) {
        if (!b->dirty) continue;
        int rc = zvwrtbuf(b, 3);
        if (rc && !first) first = rc;
    }
    return first;
}

// One open file: its identity block, its pages, its nodes, then the
// forced save.
int flush_one(FCB *f) {
    int first = zv::identity_flush(f);
    if (!fcb_is_memory(f)) {
        int rc = zvflushd(f, 0);
        if (rc && !first) first = rc;
    }
    if (f->kind == kKindIndex || f->kind == kKindVariable) {
        int rc = zv::flush_file_nodes(f);
        if (rc && !first) first = rc;
    }
    if (f->opnmode & kOpnReadOnly) return first;
    int rc = zvsavefrc(f);
    return first ? first : rc;
}

}  // namespace

int zvsavefrc(FCB *fcb) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!fcb) return zv::set_uerr(540);
    // A virtually closed file is reopened: its bytes may still wait in the
    // system's cache, and a save that skipped it would claim otherwise.
    FCB *h = fcb->hostfcb ? fcb->hostfcb : fcb;
    if (h->state == 'v' && zvswitch(h) != 0) return g->uerr_cod;
    uint32_t had = g->saveflags & kSaveForced;
    g->saveflags |= kSaveForced;
    int rc = zv::mbsave(fcb);
    if (!had) g->saveflags &= ~kSaveForced;
    return rc;
}

int iZVFLUSH(int filno, int allfiles, int flags, int32_t *) {
    INSTGV *g = zvWNGV;
    if (!g) return -47;
    zv::set_uerr(0);
    if (filno == -1 || allfiles) {
        int first = 0;
        for (int i = 0; g->fcbtab && i <= int(g->filecount); i++) {
            FCB *f = g->fcbtab[i];
            if (!f || (f->state != 'y' && f->state != 'v' && f->state != 'w')) continue;
            int rc = zv::identity_flush(f);
            if (rc && !first) first = rc;
        }
        if (int rc = write_all_pages(g); rc && !first) first = rc;
        int rc = zv::flush_file_nodes(nullptr);
        if (rc && !first) first = rc;
        // A superfile host keeps where its directory lies and how many
        // members it has in its header, and each member its counters in its
        // own: written now, the members made and filled before the flush
        // are found again after a kill. The headers go over the pages just
        // written, which the page cache keeps in step.
        for (int i = 0; g->fcbtab && i <= int(g->filecount); i++) {
            FCB *f = g->fcbtab[i];
            if (!f || f->hdr.base.sfiltyp != kSfHost || (f->state != 'y' && f->state != 'w')) continue;
            if (int hr = zv::superfile_write_headers(f); hr && !first) first = hr;
        }
        zv::set_uerr(first);
        return -first;
    }
    FCB *f = tstfnm(filno);
    if (!f) return -int(g->uerr_cod);
    if ((flags & 1) && (f->hdr.ext.flmode2 & kFlmode2PartHost)) {
        int first = flush_one(f);
        for (int slot = 0; slot < 64; slot++) {
            int m = zv::partition_member(f, slot);
            if (m == -1) break;
            FCB *mf = tstfnm(m);
            if (!mf) {
                if (g->uerr_cod == 26 || g->uerr_cod == 22) continue;  // member not open
                if (!first) first = g->uerr_cod;
                continue;
            }
            int rc = flush_one(mf);
            if (rc && !first) first = rc;
        }
        zv::set_uerr(first);
        return -first;
    }
    if (f->hdr.base.sfiltyp == kSfHost) return -zv::set_uerr(48);
    if (f->hdr.base.sfiltyp == kSfMember && f->hdr.base.supmbr > 0) return -zv::set_uerr(23);
    int first = flush_one(f);
    zv::set_uerr(first);
    return -first;
}

extern "C" {

ZV_API int ZVFLUSH(int filno) { return uint16_t(-iZVFLUSH(filno, 0, 0, nullptr)); }

ZV_API int ZVFLUSHX(int filno, int flags, int32_t value) {
    int32_t v = value;
    return uint16_t(-iZVFLUSH(filno, 0, flags, &v));
}

}  // extern "C"
