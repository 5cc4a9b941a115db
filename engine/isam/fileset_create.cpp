// File-set create: the data file, every index file and member of one IFIL,
// the key map, and the definition stored in the data file, in one call.
//
// The files take the run d, d + 1, ..., d + dnumidx. All or nothing: once
// the data file exists, any later failure (an index file, a member, the
// key map, a copied name, the stored definition) deletes every file this
// call created, frees every key-map entry it filled and leaves tfilno -1;
// the error stays in uerr_cod and as the ISAM error with the file number
// at which it happened.
#include <cstring>

#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/files/close.h"
#include "engine/core/fcb.h"
#include "engine/files/header.h"
#include "engine/files/xcreblk.h"
#include "engine/files/delete_rename.h"
#include "engine/index/idxstate.h"
#include "engine/isam/fileset.h"
#include "engine/isam/ifil.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"
#include "engine/isam/partition.h"

namespace zv {

namespace {

bool open_state(const FCB *f) { return f && (f->state == 'y' || f->state == 'v' || f->state == 'w'); }

// Fails before any file exists: the error as uerr_cod and ISAM error.
int refuse(int code, int filno) {
    set_uerr(code);
    return ierr(code, filno);
}

// The engine's copy of default create blocks, released with the call.
struct DefaultBlocks {
    XCREblk *blocks = nullptr;
    ~DefaultBlocks() { clrxcre(blocks); }
};

// Key-type bits that index creation keeps while set (fileopt[0]).
constexpr uint32_t kOptKeepKeyType = 0x4000;

// The partitioning of a set being created.
struct Partitioning {
    int keyidx = -1;             // relative key of the partition index
    int marks[64] = {};          // partition marks (key type bits 0x60)
    uint32_t bits = 0;           // indexes 0..31 that carry a mark
    bool asked[65] = {};         // per block: global uniqueness asked for
    uint32_t block = 0;          // word 0 of the block of the latest index file
    bool any = false;            // a global unique index was made
};

// Whether index k becomes a global unique index: its file's block asks
// for it, the index allows no duplicates, is not the partition index and
// has no serial segment.
bool global_unique(const Partitioning &p, const IIDX &x, int k) {
    if (!(p.block & kPartGlobal) || !(p.block & (kPartBits | kPartMember))) return false;
    if (k == p.keyidx || (x.ikeydup != 0 && x.ikeydup != 4) || (x.ikeytyp & 0x60)) return false;
    for (int s = 0; s < x.inumseg && x.isegarr; s++) {
        int b = x.isegarr[s].segmode & 0x10F;
        if (b == 3 || b == 257) return false;
    }
    return true;
}

// What a create has made so far, for the undo.
struct Made {
    int datno = -1;
    bool indexfile[64] = {};   // index k started a file that this call created
    int last = -1;             // highest index position reached
};

// Deletes everything a failed create made and reports `code` with `filno`.
int undo(IFIL *ifil, const Made &m, int code, int filno) {
    INSTGV *g = zvWNGV;
    uint16_t sys = g->sysiocod;
    ifil->tfilno = -1;
    if (ISAMMAPENT *e = isam_entry(m.datno)) e->inuse = kMapFree;
    {
        OptionBit closing(&g->fileopt[0], kIsamClosing);
        for (int k = m.last; k >= 0; k--) {
            int n = m.datno + 1 + k;
            if (m.indexfile[k]) discard_set_file(n);
            clearifil(n, 1, 0);
        }
        discard_set_file(m.datno);
        clearifil(m.datno, 0, 1);
    }
    g->sysiocod = sys;
    set_uerr(code);
    return ierr(code, filno);
}

}  // namespace

bool classify(const IFIL *ifil, SetShape *shape) {
    int n = ifil->dnumidx;
    shape->n = n;
    int host = 0;
    for (int k = 0; k < n; k++) {
        const IIDX &x = ifil->iidxarr[k];
        if (!x.isegarr && x.inumseg != 0) return false;
        if (k == 0 || x.aidxnam) {
            host = k;
            shape->nmem[k] = 0;
        } else {
            shape->nmem[host]++;
        }
        shape->host[k] = host;
    }
    return true;
}

void discard_set_file(int filno) {
    INSTGV *g = zvWNGV;
    if (!open_state(fcb_at(filno))) return;
    uint16_t uerr = g->uerr_cod;
    suppressDEL(filno);
    DELFIL(filno);
    // A file that could not be deleted through its number is at least closed.
    if (FCB *f = fcb_at(filno); open_state(f)) iclsfilx(filno, 0);
    g->uerr_cod = uerr;
}

// Whether an index gives up uniqueness across partitions (always true
// here): bits of the create blocks that a partitioned set would use.
int zvchkunqidx(XCREblk *blocks, const IFIL *ifil, const IIDX *first, int partbits, int count, int keyidx) {
    if (!blocks || !ifil || !ifil->iidxarr) return 0;
    int from = first ? int(first - ifil->iidxarr) : 0;
    int to = first ? from + (count < 0 ? 0 : count) : ifil->dnumidx - 1;
    if (to >= ifil->dnumidx) to = ifil->dnumidx - 1;
    XCREblk *cur = blocks;
    for (int k = from; k <= to; k++) {
        const IIDX &x = ifil->iidxarr[k];
        if (k > from && x.aidxnam && count == -2) cur++;
        cur->mode &= ~0x6000000u;
        bool serial = false;
        for (int s = 0; s < x.inumseg && x.isegarr; s++) {
            int b = x.isegarr[s].segmode & 0x10F;
            if (b == 3 || b == 257) serial = true;
        }
        if (serial) cur->mode |= 0x4000000u;
        if (k != keyidx && !(partbits & (1 << (k & 31))) && !(x.ikeytyp & 0x60) &&
            (x.ikeydup == 0 || x.ikeydup == 4))
            cur->mode |= 0x2000000u;
    }
    return 0;
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int CREIFILz(IFILPARM *p) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    g->isamfil_num = 0;
    IFIL *ifil = p ? p->ifil : nullptr;
    // 1. What must be there.
    if (ifil) ifil->tfilno = -1;
    if (!ifil || !ifil->pfilnam || ifil->dnumidx < 0 || (ifil->dnumidx > 0 && !ifil->iidxarr))
        return refuse(540, 0);
    if (ifil->dnumidx > kMapIndexes) return refuse(107, 0);
    SetShape shape;
    if (!classify(ifil, &shape)) return refuse(540, 0);
    if (!idx_state(g).isamtab) return refuse(47, 0);
    // 2. The run of file numbers.
    int datno = filrng(ifil->dfilno, ifil->dnumidx, ifil->dfilmod);
    if (datno < 0) return set_uerr(-datno);
    // 4. The data file name.
    char dname[256];
    if (int rc = zviflnam(p, dname, 0, nullptr)) return refuse(rc, datno);
    // 5. Partition bits of the data file's block. The default-block value
    // stands for one block of the engine's defaults per physical file.
    XCREblk *xcre = p->xcre;
    DefaultBlocks defaults;
    if (xcre == ZV_XCRE_DEFAULT) {
        if (int rc = chkxcre(ZV_XCRE_DEFAULT, nismfil(ifil), &defaults.blocks)) return refuse(rc, datno);
        xcre = defaults.blocks;
    }
    // A partitioned set: the partition marks of each index (its key type's
    // bits 0x60), and its global unique indexes: those whose block asks for
    // it (0x2000000) and that may be one.
    const bool partitioned = xcre && (xcre[0].mode & kPartBits);
    Partitioning part;
    if (partitioned && xcre == p->xcre) {
        // The marks go into an engine copy: the caller's blocks are only read.
        if (int rc = chkxcre(xcre, nismfil(ifil), &defaults.blocks)) return refuse(rc, datno);
        xcre = defaults.blocks;
    }
    if (partitioned) {
        part.keyidx = int(xcre[0].option9);
        if (part.keyidx < 0 || part.keyidx >= ifil->dnumidx) return refuse(731, datno);
        for (int k = 0; k < ifil->dnumidx; k++) {
            int mark = zvchkprtidx(xcre, ifil, k, part.keyidx);
            if (mark < 0) return refuse(-mark, datno + 1 + k);
            part.marks[k] = mark & 0x60;
            if (mark && k < 32) part.bits |= 1u << k;
        }
        const int files = nismfil(ifil);
        for (int i = 1; i < files; i++) part.asked[i] = (xcre[i].mode & kPartGlobal) != 0;
        zvchkunqidx(xcre + 1, ifil, nullptr, int(part.bits), -2, part.keyidx);
        for (int i = 1; i < files; i++) {
            if (!part.asked[i]) xcre[i].mode &= ~kPartGlobal;
            xcre[i].mode = (xcre[i].mode & ~kPartBits) | (xcre[0].mode & kPartBits);
        }
    }
    // 6. The data file.
    Made made;
    {
        OptionBit mark(&g->fileopt[1], kIsamMark);
        int rc = CREDATX8(datno, dname, ifil->dreclen, ifil->dxtdsiz, uint16_t(ifil->dfilmod),
                          int32_t(p->permmask), p->group, p->password, xcre);
        if (rc) {
            // A data file left open by a failed create goes too.
            if (open_state(fcb_at(datno))) {
                made.datno = datno;
                return undo(ifil, made, rc, datno);
            }
            return refuse(rc, datno);
        }
    }
    made.datno = datno;
    // 7. The set's own entry; the data file is marked when an index's keys
    // may not change (key type bit 0x80).
    ifil->tfilno = int16_t(datno);
    ISAMMAPENT *de = isam_entry(datno);
    de->inuse = kMapByIfil;
    for (int k = 0; k < ifil->dnumidx; k++) {
        FCB *d = fcb_at(datno);
        if (!(ifil->iidxarr[k].ikeytyp & 0x80) || !d) continue;
        d->hdr.base.hdrflags2 |= kHdr2FixedKeys;
        if (int rc = wrthdr(d)) return undo(ifil, made, rc, datno);
        break;
    }
    for (int i = 0; i < 2; i++) {
        const char *s = i ? ifil->tlstfld : ifil->rfstfld;
        if (!s) continue;
        char *copy = zvrtnam(s);
        if (!copy) return undo(ifil, made, 195, datno);
        zvputmem(de->datnam[i]);
        de->datnam[i] = copy;
    }
    // 8. Index files and members.
    FCB *dat = fcb_at(datno);
    bool memory = dat && fcb_is_memory(dat);
    int nextblock = 1;
    for (int k = 0; k < ifil->dnumidx; k++) {
        const IIDX &x = ifil->iidxarr[k];
        int n = datno + 1 + k;
        made.last = k;
        int rc = 0;
        // A partitioned set keeps the partition marks in the key types.
        const int16_t keytype = partitioned ? int16_t((x.ikeytyp & ~0x60) | part.marks[k]) : x.ikeytyp;
        OptionBit marks(&g->fileopt[0], partitioned ? kOptKeepKeyType : 0u);
        if (!shape.is_file(k)) {
            rc = CREMEM(datno + 1 + shape.host[k], x.ikeylen, keytype, x.ikeydup, k - shape.host[k]);
        } else {
            char iname[256];
            if (x.aidxnam) {
                if ((rc = buildAidxnam(iname, x.aidxnam, sizeof iname, dname)) != 0)
                    return undo(ifil, made, rc, n);
            } else if ((rc = zviflnam(p, iname, 1, nullptr)) != 0) {
                return undo(ifil, made, rc, n);
            }
            XCREblk blk;
            XCREblk *bp = nullptr;
            uint16_t imode = uint16_t(ifil->ifilmod);
            if (xcre) {
                blk = xcre[nextblock++];
                if (memory) {
                    blk.flags = (blk.flags | 0x4u) & ~0x10u;
                    blk.mode &= ~0x200u;
                    imode &= uint16_t(~0x20);
                }
                blk.mode = (blk.mode & ~0x40u) | (dat ? (dat->hdr.base.hdrflags & 0x40u) : 0u);
                bp = &blk;
            }
            OptionBit mark(&g->fileopt[2], kIsamIndexMark);
            rc = CREIDXX8(n, iname, x.ikeylen, keytype, x.ikeydup, shape.nmem[k], ifil->ixtdsiz, imode,
                          int32_t(p->permmask), p->group, p->password, bp);
            if (rc == 0 || open_state(fcb_at(n))) made.indexfile[k] = true;
            part.block = bp ? bp->mode : 0;
        }
        if (rc) return undo(ifil, made, rc, n);
        if (partitioned && global_unique(part, x, k)) {
            FCB *xf = fcb_at(n);
            xf->hdr.ext.flmode2 |= kPartGlobalIdx;
            if ((rc = wrthdr(xf)) != 0) return undo(ifil, made, rc, n);
            part.any = true;
        }
        if ((rc = setimap(k, ifil, -1, 0, 1)) != 0) return undo(ifil, made, rc, g->isamfil_num);
        if (x.icolseq && (rc = SETALTSEQ(n, x.icolseq)) != 0) return undo(ifil, made, rc, n);
        if (x.ipadbyt && (rc = SETVARBYTS(n, x.ipadbyt)) != 0) return undo(ifil, made, rc, n);
        isam_entry(n)->inuse = kMapByIfil;
    }
    // 9. End of the index list. A host with a global unique index says so.
    if (ifil->dnumidx < kMapIndexes) setzvEOK(datno, ifil->dnumidx);
    if (part.any && dat && !(dat->hdr.ext.flmode2 & kPartGlobal)) {
        dat->hdr.ext.flmode2 |= kPartGlobal;
        if (int rc = wrthdr(dat)) return undo(ifil, made, rc, datno);
    }
    // 10. Partition-key map of a partitioned set.
    if (dat && (dat->hdr.ext.flmode2 & 0x1C00000u)) {
        if (int rc = setkincmap(dat, datno)) return undo(ifil, made, rc, datno);
    }
    // 11. The stored definition.
    if (!(ifil->dfilmod & 0x800)) {
        if (int rc = zvrstdefx(datno, ifil, p->dataext, p->idxext, 0, 0)) return undo(ifil, made, rc, datno);
    }
    set_uerr(0);
    return ierr(0, 0);
}

ZV_API int CREIFILX8(IFIL *ifil, const char *dataext, const char *idxext, int32_t permmask, const char *group,
                     const char *password, XCREblk *xcre) {
    IFILPARM p;
    setifil8(&p, ifil, dataext, idxext, permmask, group, password, xcre);
    return CREIFILz(&p);
}

ZV_API int CREIFILX(IFIL *ifil, const char *dataext, const char *idxext, int32_t permmask, const char *group,
                    const char *password) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!ifil) {
        g->isamerr_cod = 0;
        return refuse(540, 0);
    }
    XCREblk *blocks = nullptr;
    if (int rc = chkxcre(ZV_XCRE_DEFAULT, nismfil(ifil), &blocks)) {
        ifil->tfilno = -1;
        return refuse(rc, ifil->dfilno < 0 ? 0 : ifil->dfilno);
    }
    int rc = CREIFILX8(ifil, dataext, idxext, permmask, group, password, blocks);
    clrxcre(blocks);
    return rc;
}

ZV_API int CREIFIL(IFIL *ifil) { return CREIFILX(ifil, nullptr, nullptr, 0, nullptr, nullptr); }

}  // extern "C"
