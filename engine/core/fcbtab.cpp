// The file-number table of the instance: the block of each file number
// (INSTGV::fcbtab, grown by redofils), taken from free list 21 on first use,
// and the lookup that turns a caller's file number into the block of an
// open file. The platform layer, the page cache and every subsystem above
// reach files through these; opening, closing and the open-file ring are
// the file layer's (engine/files/fcbops.h).
//
// Invariants:
//  1. A block is allocated once per file number and kept for the life of
//     the engine; a block taken for a new file is cleared but for its file
//     number (fcb_reset), so nothing of an earlier file survives in it.
//  2. Every lookup checks the number against the table's current size
//     (INSTGV::filecount) before it reads a slot.
#include "engine/core/fcb.h"

#include <cstring>

#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/pools.h"

namespace zv {

void fcb_reset(FCB *f) {
    uint16_t n = f->filno;
    memset(static_cast<void *>(f), 0, sizeof *f);
    f->filno = n;
    f->state = 'n';
    f->fd = -1;
    f->hostfcb = f;
}

bool filno_in_table(int filno) {
    const INSTGV *g = zvWNGV;
    return g && g->fcbtab && filno >= 0 && filno <= int(g->filecount);
}

int grow_table_for(int last) {
    INSTGV *g = zvWNGV;
    if (!g || !g->fcbtab || last < 0) return 22;
    if (last <= int(g->filecount)) return 0;
    if (!redofils(last) || last > int(g->filecount)) return 22;
    return 0;
}

}  // namespace zv

using namespace zv;

FCB *zvgetfcb(int filno) {
    INSTGV *g = zvWNGV;
    if (!filno_in_table(filno)) {
        set_uerr(22);
        return nullptr;
    }
    FCB *&slot = g->fcbtab[filno];
    if (!slot) {
        FCB *f = static_cast<FCB *>(zvgetlst(kListFcb));
        if (!f) {
            set_uerr(603);
            return nullptr;
        }
        f->filno = uint16_t(filno);
        fcb_reset(f);
        slot = f;
    }
    if (filno > g->highfil) g->highfil = filno;
    return slot;
}

FCB *tstfnm(int filno) {
    INSTGV *g = zvWNGV;
    if (!g) return nullptr;
    set_uerr(0);
    if (!g->fcbtab) {
        set_uerr(47);
        return nullptr;
    }
    if (!filno_in_table(filno)) {
        set_uerr(22);
        return nullptr;
    }
    FCB *f = g->fcbtab[filno];
    if (!f) {
        set_uerr(26);
        return nullptr;
    }
    switch (f->state) {
    case 'y':
    case 'v':
    case 'w':
        return f;
    case 'n':
    case 's':  // an engine system file is no open file of the caller
        set_uerr(26);
        return nullptr;
    case 'm':
        set_uerr(46);
        return nullptr;
    case 'd':
        set_uerr(643);
        return nullptr;
    default:
        terr(222);
    }
}

extern "C" ZV_API FCB *tstifnm(int filno) { return tstfnm(filno); }
