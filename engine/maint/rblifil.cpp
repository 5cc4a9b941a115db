// IFIL rebuild: a whole closed file set repaired from its definition.
//
// The data file is scanned and its header repaired (datscan.cpp); every
// index file of the set is created again empty from the definition beside
// the old one, its old resources carried over (rescarry.cpp), and loaded
// from the records (idxrebuild.cpp); only then do the new index files take
// the places of the old ones (fileswap.cpp). Keys that cannot be loaded are
// rejected and reported in a reject file; on request the rejected records
// are deleted from the set afterwards. The run takes consecutive file
// numbers for the set (the data file first), which no temporary file of
// the run uses. A set of which another open (in any process or instance,
// shared or exclusive) has the data file or an index file is refused with
// 12 before anything is written. From its first look at the data file to
// its end the run holds every file of the set (a superfile member: its
// host), and every new index file from before the first rename
// (filehold.h): no other open reaches the set while the run reads,
// rewrites and replaces it, and so nothing another process writes is lost
// in the swap.
//
// Every exit goes through one end (`finish`): the reject file is closed
// (and deleted when nothing was rejected), the work buffer, the status
// block the run allocated and the key maps of the run are released, the
// run flags and the cache's rebuild flag are cleared, and the IFIL's
// tfilno, dfilno, dfilmod and ifilmod are as the caller gave them. A run
// that failed can be started again: nothing it leaves behind stands in the
// way of the next one. A run that fails before the swap is complete leaves
// the old index files as they were under their own names and no new one.
// Files that are superfile members are not scanned or made again: they are
// repaired in place in their host from the areas they own (suprebuild.cpp),
// whatever their update flags say, and their emptied indexes loaded again.
#include "engine/maint/rblifil.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/filenum.h"
#include "engine/core/fileops.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/core/statuslog.h"
#include "engine/files/close.h"
#include "engine/files/create.h"
#include "engine/files/fcbops.h"
#include "engine/files/header.h"
#include "engine/files/superfile.h"
#include "engine/files/varrec.h"
#include "engine/files/xcreblk.h"
#include "engine/index/distinct.h"
#include "engine/index/idxstate.h"
#include "engine/index/index_services.h"
#include "engine/index/keydelete.h"
#include "engine/index/nodebuf.h"
#include "engine/index/ksegdef.h"
#include "engine/index/node.h"
#include "engine/isam/fileset.h"
#include "engine/isam/ifil.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"
#include "engine/isam/partition.h"
#include "engine/maint/datscan.h"
#include "engine/maint/idxrebuild.h"
#include "engine/maint/maintstate.h"
#include "engine/maint/rblcrypt.h"
#include "engine/maint/rblstate.h"
#include "engine/maint/rescarry.h"
#include "engine/maint/suprebuild.h"

namespace zv {

namespace {

constexpr uint32_t kPartitionBits = 0xC00000u;
constexpr int kAllowedBits = 0x002 | 0x004 | 0x008 | 0x010 | 0x080 | 0x100 | 0x200;

bool open_state(const FCB *f) { return f && (f->state == 'y' || f->state == 'v' || f->state == 'w'); }

void log_line(const char *text, int code = kLogSingleTry) { zvrcvlog(text, code); }

// One run of the set rebuild.
struct Run : IndexPhase {
    int16_t tfilno = 0, dfilno = 0, dfilmod = 0, ifilmod = 0;
    bool ownstatus = false;
    bool flagsset = false;
    int32_t tail = 0;
    int32_t memstate = 0;      // a partition member's state word for the scan
    FileSwap swap{"Rebuild"};
    std::vector<int> hosts;    // superfile hosts the run opened, closed at its end
};

// The create block of index file k (one block per physical file after the
// data file's), adjusted to the data file.
bool index_block(const IndexPhase &r, int filepos, const FCB *dat, XCREblk *out) {
    if (!r.p->xcre) return false;
    *out = r.p->xcre[filepos];
    const uint16_t dflags = dat->hdr.base.hdrflags;
    if ((dflags & kHdrHasExt) && !(out->mode & 0x40000000u)) {
        out->mode |= 0x20000002u;
        out->mode &= ~0x40010000u;
    }
    out->mode = (out->mode & ~0x40u) | (dflags & kHdr8ByteOffsets);
    // The indexes of a partitioned host are the host's.
    out->mode = (out->mode & ~kPartitionBits) | (dat->hdr.ext.flmode2 & kPartitionBits);
    return true;
}

// Step 13.3: the set opened again, its rejected records deleted.
int purge(Run &r) {
    INSTGV *g = zvWNGV;
    IFIL *ifil = r.ifil;
    ifil->dfilno = int16_t(r.first);
    ifil->dfilmod = 2;
    ifil->ifilmod = 0x4002;
    const int16_t keep = ifil->tfilno;
    int rc = OPNIFILz(r.p);
    ifil->dfilno = r.dfilno;
    ifil->dfilmod = r.dfilmod;
    ifil->ifilmod = r.ifilmod;
    if (rc) {
        ifil->tfilno = keep;
        log_line("Could not process any rejected records (dat)", kLogSingleTry - g->isamerr_cod);
        return 651;
    }
    rc = rbl_purge_records(r, ifil->tfilno, false);
    uint16_t uerr = g->uerr_cod;
    CLIFIL(ifil);
    ifil->tfilno = keep;
    g->uerr_cod = uerr;
    return rc;
}

// Steps 2 to 13 of RBLIFILz.
int rebuild(Run &r) {
    INSTGV *g = zvWNGV;
    RblState &rs = maint_state(g).rbl;
    IFILPARM *p = r.p;
    IFIL *ifil = r.ifil;
    // 2. Options.
    g->isamerr_cod = 0;
    if (rbl_options(r.tfilno, &r.o)) return rerr(943, r.dfilno < 0 ? 0 : r.dfilno);
    if (ifil->dfilmod & 0x200) return rerr(48, r.dfilno < 0 ? 0 : r.dfilno);
    // 3. File numbers.
    if (ifil->dnumidx > kMapIndexes) return rerr(107, r.dfilno < 0 ? 0 : r.dfilno);
    if (ifil->dnumidx < 0 || (ifil->dnumidx > 0 && !ifil->iidxarr) || !classify(ifil, &r.shape))
        return rerr(540, r.dfilno < 0 ? 0 : r.dfilno);
    int first = filrng(ifil->dfilno, ifil->dnumidx, ifil->dfilmod);
    if (first < 0) return rerr(-first, r.dfilno < 0 ? 0 : r.dfilno);
    r.first = first;
    rs.runlo = first;
    rs.runn = ifil->dnumidx + 1;
    // 4. The work buffer.
    if (!rbgetbuf(ifil->dreclen > 38 ? ifil->dreclen : 38)) return rerr(120, first);
    // 5. Bad partition members of a set that is not partitioned.
    if (r.o.badpart) return rerr(454, first);
    // 6. The status block of the progress routine.
    if (rbl_take_status(&r.ownstatus)) return rerr(82, first);
    // 7. Names and run flags.
    if (int rc = zviflnam(p, r.dname, 0, nullptr)) return rerr(rc, first);
    ifil->tfilno = int16_t(first);
    g->rebuilding = 1;
    rs.forcescan = 1;
    if (ifil->dnumidx > 0) rs.flags |= kRblSetHasIndexes;
    else rs.flags &= ~kRblSetHasIndexes;
    r.flagsset = true;
    if (int rc = rbl_index_names(r, first)) return rc;
    // The set held until the run ends: nothing of it is touched while
    // another open has a file of it, and no other open reaches it after.
    if (int rc = rbl_set_held(r, r.dname)) return rc;
    // Superfile members are repaired in their host from the areas they
    // own (the data file unless no scan was asked for): the steps below
    // only open them, and load the emptied indexes.
    std::vector<MemberFile> members;
    if (zvsname1(r.dname) && !r.o.noscan) members.push_back({r.dname, 1});
    for (int k = 0; k < ifil->dnumidx; k++) {
        if (r.member[size_t(k)] && ifil->iidxarr[k].ikeylen >= 0)
            members.push_back({r.iname[size_t(k)].data(), 1 + r.shape.nmem[k]});
    }
    if (int rc = rbl_member_pass(members, &r.hosts)) return rerr(rc, first);
    // 8. The data file.
    if (r.o.noscan) {
        rbl_phase("Caller requested no scan of data file.");
    } else {
        int scanopts = (r.o.purge ? kScanDumpTail : 0) | (r.o.repair ? kScanRepair : 0);
        int32_t state = 0;
        int rc = RBLDATX(first, r.dname, ifil->dreclen, ifil->dxtdsiz, uint16_t(ifil->dfilmod), p->password,
                         r.memstate, scanopts, &state);
        r.tail = state;
        if (rc) return rerr(rc, first);
    }
    // 9. The data file opened.
    {
        OptionBit mark(&g->fileopt[1], kIsamMark);
        if (int rc = OPNFIL(first, r.dname, uint16_t(ifil->dfilmod))) return rerr(rc, first);
    }
    FCB *dat = fcb_at(first);
    if (dat->hdr.base.reclen != ifil->dreclen) {
        rbl_quiet_close(first);
        return rerr(608, first);
    }
    if (int rc = rbl_serial_check(r, dat)) {
        rbl_quiet_close(first);
        return rc;
    }
    isam_entry(first)->inuse = kMapByIfil;
    // A partitioned host's indexes keep their partition marks.
    const bool partitioned = (dat->hdr.ext.flmode2 & kPartitionBits) != 0;
    if (partitioned) {
        for (int k = 0; k < ifil->dnumidx; k++) {
            const int mark = zvchkprtidx(nullptr, ifil, k, int(dat->hdr.ext.crew9));
            if (mark < 0) {
                rbl_quiet_close(first);
                return rerr(-mark, first + 1 + k);
            }
            ifil->iidxarr[k].ikeytyp = int16_t((ifil->iidxarr[k].ikeytyp & ~0x60) | mark);
        }
    }
    OptionBit marks(&g->fileopt[0], partitioned ? kOpt1KeyTypeBits : 0u);
    // 10. The index files, created again beside the old ones.
    int filepos = 1;
    for (int k = 0; k < ifil->dnumidx; k++) {
        if (!r.shape.is_file(k)) continue;
        int pos = filepos++;
        if (ifil->iidxarr[k].ikeylen < 0) continue;
        XCREblk blk;
        const XCREblk *b = index_block(r, pos, dat, &blk) ? &blk : nullptr;
        const char *own = r.iname[size_t(k)].data();
        int rc = r.member[size_t(k)] ? rbl_recreate_index(r, k, own, own, b, true) : rbl_index_beside(r, k, b, true);
        if (rc) {
            rbl_quiet_close(first);
            return rc;
        }
    }
    // 11. The end of the key map; the data file closed.
    if (ifil->dnumidx < kMapIndexes) setzvEOK(first, ifil->dnumidx);
    if (int rc = iclsfilx(first, 0)) return rerr(rc, first);
    // 12. Index contents.
    if (ifil->dnumidx > 0) {
        if (int rc = rbl_open_rejects(r)) return rc;
        for (int k = 0; k < ifil->dnumidx; k++) {
            if (!r.shape.is_file(k) || ifil->iidxarr[k].ikeylen < 0) continue;
            const size_t ks = size_t(k);
            if (int lr = rbl_load_index(r, k, (r.member[ks] ? r.iname[ks] : r.tname[ks]).data())) return lr;
        }
    }
    // The new index files in the places of the old ones, held from before
    // the first rename.
    if (int rc = rbl_queue_indexes(r, r.swap)) return rc;
    if (int rc = r.swap.hold(r.held, true)) return rerr(rc, first);
    if (int rc = r.swap.run()) return rerr(rc, first);
    if (int rc = r.swap.commit()) return rerr(rc, first);
    std::fill(r.made.begin(), r.made.end(), 0);
    // 13. The definition, the reject report, the purge.
    bool stored = true;
    if (r.o.update && !(ifil->dfilmod & 0x800)) {
        int rc;
        {
            OptionBit mark(&g->fileopt[1], kIsamMark);
            rc = OPNFIL(first, r.dname, uint16_t(ifil->dfilmod));
        }
        if (!rc) {
            rc = zvrstdefx(first, ifil, p->dataext, p->idxext, 0, 0);
            g->isamerr_cod = uint16_t(rc);
            int cl = iclsfilx(first, 0);
            if (!rc) rc = cl;
        }
        if (rc) {
            stored = false;
            return rerr(rc, first);
        }
    }
    if (r.rejected && stored) rbl_note_rejects(r, r.dname);
    if (r.o.purge && r.rejected) {
        if (int rc = purge(r)) return rerr(rc, first);
    }
    return 0;
}

// Step 14, on every path. A failure before the swap is complete takes the
// renames back and deletes the new index files; the run's error stays.
int finish(Run &r, int rc) {
    INSTGV *g = zvWNGV;
    RblState &rs = maint_state(g).rbl;
    IFIL *ifil = r.ifil;
    const bool failed = rc && rc != 650 && rc != 652;
    rc = rbl_end_rejects(r, rc);
    rbfreebuf();
    g->rebuilding = 0;
    if (r.first >= 0) {
        for (int k = 0; k < ifil->dnumidx && k < kMapIndexes; k++) rbl_quiet_close(r.first + 1 + k, true);
        rbl_quiet_close(r.first);
        if (failed) {
            ErrorKeep keep;
            const uint16_t err = rs.err, errfil = rs.errfil;
            r.swap.undo();
            rbl_drop_working(r);
            rs.err = err;
            rs.errfil = errfil;
        }
        rbl_drop_maps(r, 0, ifil->dnumidx - 1);
        clearifil(r.first, 0, 1);
    }
    for (int h : r.hosts) rbl_quiet_close(h);
    ifil->tfilno = r.tfilno;
    ifil->dfilno = r.dfilno;
    ifil->dfilmod = r.dfilmod;
    ifil->ifilmod = r.ifilmod;
    if (rc == 0 || rc == 650 || rc == 652) {
        g->sysiocod = r.tail > 0 ? uint16_t(-972) : r.tail < 0 ? uint16_t(-973) : 0;
    }
    rbl_give_status(r.ownstatus);
    rs.flags &= ~(kRblSetHasIndexes | kRblIdentityPass | kRblMapMissing | 1u);
    rs.runn = 0;
    g->pc.forceread_rebuild = 0;
    return rbl_run_end(rc, r.first < 0 ? 0 : r.first);
}

// Step 1: a partitioned set goes to the partition rebuild.
int partition_decision(Run &r, bool *handed) {
    INSTGV *g = zvWNGV;
    RblState &rs = maint_state(g).rbl;
    IFILPARM *p = r.p;
    *handed = false;
    if (rs.flags & kRblPartitionRun) return 0;
    const int dfil = r.dfilno < 0 ? 0 : r.dfilno;
    auto hand_off = [&]() {
        *handed = true;
        rs.flags |= kRblPartitionRun;
        int rc = zvpartrbld(p);
        rs.flags &= ~kRblPartitionRun;
        return rc ? rerr(rc, dfil) : 0;
    };
    // Options that the run refuses are refused before any file is touched.
    RblOptions o;
    if (rbl_options(r.tfilno, &o) || (r.ifil->dfilmod & 0x200)) return 0;
    XCREblk *x = p->xcre == ZV_XCRE_DEFAULT ? nullptr : p->xcre;
    if (x && (x[0].mode & kPartitionBits)) return hand_off();
    // A member of a partitioned file: its host says whether the member's
    // state word goes to the scan.
    if (x && (x[0].mode & 0x1000000u)) {
        if (FCB *host = zvparthost(); host && (host->hdr.ext.flmode2 & 0x2000000u)) r.memstate = int32_t(x[0].option14);
    }
    // The probe: is the data file a partitioned host? A file that is gone
    // is the set's end; one that does not open as it stands is for the
    // scan to judge.
    char dname[256];
    if (int rc = zviflnam(p, dname, 0, nullptr)) return rerr(rc, dfil);
    // A superfile member is no partitioned host, and its probe would leave
    // its host open for reading only.
    if (zvsname1(dname)) return 0;
    int n = rbl_spare_filno();
    if (n < 0) return g->uerr_cod ? rerr(g->uerr_cod, dfil) : 0;
    int rc = OPNFIL(n, dname, 0x700A);
    if (rc == 12) return rerr(12, dfil);
    set_uerr(0);
    if (rc) return 0;
    FCB *f = fcb_at(n);
    bool host = (f->hdr.ext.flmode2 & kPartitionBits) != 0;
    rbl_quiet_close(n);
    if (!host) return 0;
    if (!p->xcre) return rerr(929, dfil);
    return hand_off();
}

int rblifilz(IFILPARM *p) {
    INSTGV *g = zvWNGV;
    Run r;
    r.p = p;
    r.ifil = p->ifil;
    r.tfilno = r.ifil->tfilno;
    r.dfilno = r.ifil->dfilno;
    r.dfilmod = r.ifil->dfilmod;
    r.ifilmod = r.ifil->ifilmod;
    maint_state(g).rbl.err = 0;
    maint_state(g).rbl.errfil = 0;
    // Pages are read from the file whatever the header says it holds.
    g->pc.forceread_rebuild = 1;
    int rc = 0;
    try {
        if (int open = rbl_open_file_of(r); open >= 0) {
            g->pc.forceread_rebuild = 0;
            return ierr(rerr(46, open), open);
        }
        // The data file is held from the first look at it (the probe below)
        // to the end of the run, the index files from when they are named.
        if (int held = hold_set_file(r.held, r.dname)) {
            const int dfil = r.dfilno < 0 ? 0 : r.dfilno;
            g->pc.forceread_rebuild = 0;
            return ierr(rerr(held, dfil), dfil);
        }
        bool handed = false;
        rc = partition_decision(r, &handed);
        if (handed || rc) {
            g->pc.forceread_rebuild = 0;
            r.ifil->tfilno = r.tfilno;
            return ierr(rc, rc ? maint_state(g).rbl.errfil : 0);
        }
        rc = rebuild(r);
    } catch (...) {
        rc = rerr(82, r.first < 0 ? 0 : r.first);
    }
    return finish(r, rc);
}

}  // namespace

int rbl_serial_check(IndexPhase &r, FCB *dat) {
    INSTGV *g = zvWNGV;
    if (!(dat->hdr.base.hdrflags & kHdrHasExt)) return 0;
    uint16_t isam = g->isamerr_cod, num = g->isamfil_num;
    IFIL *stored = cnvifilnpx(nullptr, dat->name, nullptr, nullptr, dat->filno, 0);
    g->isamerr_cod = isam;
    g->isamfil_num = num;
    set_uerr(0);
    if (!stored) return 0;
    int32_t field = 0, length = 0;
    bool have = false;
    for (int k = 0; k < stored->dnumidx && !have; k++) {
        const IIDX &x = stored->iidxarr[k];
        for (int s = 0; s < x.inumseg && x.isegarr && !have; s++) {
            if ((x.isegarr[s].segmode & 0x10F) != 257) continue;
            field = x.isegarr[s].soffset + 1;
            length = -x.isegarr[s].slength;
            have = true;
        }
    }
    zvputmem(stored);
    if (!have) return 0;
    int found = 0, failfil = 0;
    int rc = chkschsrl(r.ifil, r.first, field, length, &found, &failfil);
    if (rc && !r.o.update) return rerr(608, failfil);
    // The key maps bind the description again.
    dat->serpos = 0;
    dat->srllen = 0;
    return 0;
}

int rbl_open_file_of(IndexPhase &r) {
    if (zviflnam(r.p, r.dname, 0, nullptr)) return -1;
    int n = chkopnx(r.dname);
    SetShape shape;
    if (n >= 0 || !r.ifil->iidxarr || r.ifil->dnumidx < 0 || r.ifil->dnumidx > kMapIndexes || !classify(r.ifil, &shape))
        return n;
    for (int k = 0; k < r.ifil->dnumidx && n < 0; k++) {
        char iname[256];
        if (shape.is_file(k) && rbl_index_name(r, k, iname) == 0) n = chkopnx(iname);
    }
    return n;
}

int rbl_set_held(IndexPhase &r, const char *datname) {
    auto hold = [&](const char *name, int filno) {
        const int rc = hold_set_file(r.held, name);
        return rc ? rerr(rc, filno) : 0;
    };
    if (int rc = hold(datname, r.first)) return rc;
    for (int k = 0; k < r.ifil->dnumidx; k++) {
        if (!r.shape.is_file(k)) continue;
        if (int rc = hold(r.iname[size_t(k)].data(), r.first + 1 + k)) return rc;
    }
    return 0;
}

int rbl_set_entry(IFILPARM *params) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    g->isamfil_num = 0;
    int rc = 0;
    if (!params || !params->ifil || !params->ifil->pfilnam) rc = 540;
    else if (!g->started || !g->fcbtab || !idx_state(g).isamtab) rc = 47;
    if (!rc) return 0;
    set_uerr(rc);
    return ierr(rc, 0);
}

int rbl_run_end(int rc, int filno) {
    INSTGV *g = zvWNGV;
    RblState &rs = maint_state(g).rbl;
    if (rc) {
        g->uerr_cod = uint16_t(rc);
        g->isamerr_cod = uint16_t(rc);
        if (rs.err != rc) {
            rs.err = uint16_t(rc);
            rs.errfil = uint16_t(filno < 0 ? 0 : filno);
        }
        g->isamfil_num = rs.errfil;
    } else {
        g->uerr_cod = 0;
        g->isamerr_cod = 0;
        g->isamfil_num = 0;
    }
    return ierr(g->isamerr_cod, g->isamfil_num);
}

int rbl_index_name(IndexPhase &r, int k, char (&out)[256]) {
    const IIDX &x = r.ifil->iidxarr[k];
    if (x.aidxnam) {
        char dname[256];
        if (int rc = zviflnam(r.p, dname, 0, nullptr)) return rc;
        return buildAidxnam(out, x.aidxnam, sizeof out, dname);
    }
    return zviflnam(r.p, out, 1, nullptr);
}

void rbl_quiet_close(int filno, bool marked) {
    INSTGV *g = zvWNGV;
    if (!open_state(fcb_at(filno))) return;
    uint16_t uerr = g->uerr_cod, isam = g->isamerr_cod, num = g->isamfil_num, sys = g->sysiocod;
    if (marked) rbl_close(filno);
    else iclsfilx(filno, 0);
    g->uerr_cod = uerr;
    g->isamerr_cod = isam;
    g->isamfil_num = num;
    g->sysiocod = sys;
}

void rbl_drop_maps(const IndexPhase &r, int from, int to) {
    for (int k = from; k <= to; k++) clearifil(r.first + 1 + k, 1, 0);
}

int rbl_recreate_index(IndexPhase &r, int k, const char *oldname, const char *newname, const XCREblk *blk,
                       bool keepenc) {
    INSTGV *g = zvWNGV;
    RblState &rs = maint_state(g).rbl;
    IFIL *ifil = r.ifil;
    const IIDX &x = ifil->iidxarr[k];
    const int n = r.first + 1 + k;
    const int nmem = r.shape.nmem[k];
    bool recreated = false;
    if (zvsname1(oldname)) {
        // A superfile member keeps its file: it is only opened, emptied and
        // still marked by the member pass.
        if (int rc = OPNFILX(n, oldname, uint16_t(ifil->ifilmod | kOpenDamaged), nullptr)) return rerr(rc, n);
    } else {
        char savename[256];
        int savefil = kNoSaveFile, encset = 0;
        uint16_t oldflags = 0;
        CamoSave enc{};
        CamoSave *encsave = keepenc ? &enc : nullptr;
        if (int rc = getidxres(r.first, n, oldname, r.p->password, savename, &savefil, nmem, &oldflags, encsave,
                               &encset)) {
            if (encset) rbl_enc_restore(&enc);
            return rerr(rc, n);
        }
        auto drop_save = [&]() { return savefil != kNoSaveFile ? rbl_drop_save(savefil, savename) : 0; };
        if (strcmp(oldname, newname) == 0) {
            cnvdltfil(oldname);
            set_uerr(0);
        }
        XCREblk local;
        if (blk) local = *blk;
        int rc;
        {
            OptionBit mark(&g->fileopt[2], kIsamIndexMark);
            rs.flags |= 1;
            // A file made beside the old one is under a temporary name.
            FoundNames made(strcmp(oldname, newname) != 0);
            rc = CREIDXX8(n, newname, x.ikeylen, x.ikeytyp, x.ikeydup, nmem, ifil->ixtdsiz,
                          uint16_t(ifil->ifilmod | 0x1000), int32_t(r.p->permmask), r.p->group, r.p->password,
                          blk ? &local : nullptr);
            rs.flags &= ~1u;
        }
        if (encset) rbl_enc_restore(&enc);
        if (rc) {
            drop_save();
            return rerr(rc, n);
        }
        // A file made beside the old one is not left behind by a failure.
        const bool beside = strcmp(oldname, newname) != 0;
        auto discard = [&](int code, int filno) {
            rbl_quiet_close(n);
            if (beside) rbl_drop_file(newname);
            return rerr(code, filno);
        };
        // A unique index of a partitioned host whose block asks for it is
        // unique across the members.
        const FCB *dat = fcb_at(r.first);
        FCB *nx = fcb_at(n);
        if (blk && dat && nx && (blk->mode & kPartitionBits) && (blk->mode & kPartGlobal) && x.ikeydup == 0 &&
            !(x.ikeytyp & 0x60) && k != int(dat->hdr.ext.crew9)) {
            nx->hdr.ext.flmode2 |= kPartGlobalIdx;
            // Enhanced counts where the host keeps them.
            if (dat->hdr.base.hdrflags2 & 0x20000u) nx->hdr.base.hdrflags2 |= 0x20000u;
            if ((rc = wrthdr(nx)) != 0) {
                drop_save();
                return discard(rc, n);
            }
        }
        if (savefil != kNoSaveFile) {
            rc = putidxres(n, savefil);
            int dr = drop_save();
            if (!rc) rc = dr;
            if (rc) return discard(rc, n);
        }
        (void)oldflags;
        if (x.icolseq && (rc = SETALTSEQ(n, x.icolseq)) != 0) return discard(rc, n);
        if (x.ipadbyt && (rc = SETVARBYTS(n, x.ipadbyt)) != 0) return discard(rc, n);
        recreated = true;
    }
    // The key maps of the file and its members, then the close.
    auto fail = [&](int code, int filno) {
        rbl_drop_maps(r, k, k + nmem);
        rbl_quiet_close(n);
        if (recreated && strcmp(oldname, newname) != 0) rbl_drop_file(newname);
        return rerr(code, filno);
    };
    if (int rc = setimap(k, ifil, -1, 0, recreated ? 1 : 0)) return fail(rc, g->isamfil_num ? g->isamfil_num : n);
    if (int rc = zvksgmap(n)) return fail(rc, n);
    isam_entry(n)->inuse = kMapByIfil;
    for (int m = 1; m <= nmem; m++) {
        const IIDX &xm = ifil->iidxarr[k + m];
        if (recreated) {
            if (int rc = CREMEM(n, xm.ikeylen, xm.ikeytyp, xm.ikeydup, m)) return fail(rc, n + m);
        }
        if (int rc = setimap(k + m, ifil, -1, 0, recreated ? 1 : 0))
            return fail(rc, g->isamfil_num ? g->isamfil_num : n + m);
        if (int rc = zvksgmap(n + m)) return fail(rc, n + m);
        isam_entry(n + m)->inuse = kMapByIfil;
    }
    if (int rc = iclsfilx(n, 0)) return fail(rc, n);
    return 0;
}

int rbl_index_names(IndexPhase &r, int filno) {
    const size_t n = size_t(r.ifil->dnumidx);
    r.iname.assign(n, FileName{});
    r.tname.assign(n, FileName{});
    r.made.assign(n, 0);
    r.member.assign(n, 0);
    for (int k = 0; k < r.ifil->dnumidx; k++) {
        if (!r.shape.is_file(k)) continue;
        char nm[256];
        if (int rc = rbl_index_name(r, k, nm)) return rerr(rc, filno + 1 + k);
        memcpy(r.iname[size_t(k)].data(), nm, sizeof nm);
        r.member[size_t(k)] = zvsname1(nm) ? 1 : 0;
    }
    return 0;
}

int rbl_index_beside(IndexPhase &r, int k, const XCREblk *blk, bool keepenc) {
    const size_t ks = size_t(k);
    char t[256];
    if (int rc = temp_beside(r.iname[ks].data(), t)) return rerr(rc, r.first + 1 + k);
    memcpy(r.tname[ks].data(), t, sizeof t);
    if (int rc = rbl_recreate_index(r, k, r.iname[ks].data(), t, blk, keepenc)) return rc;
    r.made[ks] = 1;
    return 0;
}

int rbl_queue_indexes(IndexPhase &r, FileSwap &swap) {
    for (int k = 0; k < r.ifil->dnumidx; k++) {
        const size_t ks = size_t(k);
        if (!r.made[ks]) continue;
        uint64_t dev, ino;
        if (zv_getuniqfile(r.iname[ks].data(), &dev, &ino) == 0) {
            if (int rc = swap.park(r.iname[ks].data(), 1, false)) return rerr(rc, r.first + 1 + k);
        }
        swap.place(r.tname[ks].data(), r.iname[ks].data(), 1, false);
    }
    return 0;
}

void rbl_drop_working(IndexPhase &r) {
    for (size_t k = 0; k < r.made.size(); k++) {
        if (r.made[k]) rbl_drop_file(r.tname[k].data());
        r.made[k] = 0;
    }
}

int rbl_open_rejects(IndexPhase &r) {
    int rc = iTMPNAME(r.rejname, sizeof r.rejname);
    if (!rc) {
        r.rej = rbl_open_stream(r.rejname, r.o.purge ? "wb" : "w");
        if (!r.rej) rc = 37;
    }
    if (rc) {
        r.rejname[0] = 0;
        return rerr(rc, r.first);
    }
    return 0;
}

int rbl_load_index(IndexPhase &r, int k, const char *iname) {
    INSTGV *g = zvWNGV;
    IFIL *ifil = r.ifil;
    const IIDX &x = ifil->iidxarr[k];
    const int n = r.first + 1 + k;
    const int nmem = r.shape.nmem[k];
    const bool member = zvsname1(iname) != 0;
    const uint16_t mode = uint16_t((ifil->ifilmod & 0xCFF6) | 0x3000 | (member ? kOpenDamaged : 0));
    {
        // An index file (not a member) is loaded under its temporary name.
        FoundNames made(!member);
        if (int rc = OPNFILX(n, iname, mode, nullptr)) return rerr(rc, n);
    }
    // A superfile member loaded in place keeps its mark on disk until its
    // close after a complete load clears it.
    if (member) {
        for (FCB *b = fcb_at(n); b; b = b->nextmember) b->hdr.base.updflg = kUpdChanged;
    }
    const int opts = r.o.purge ? kRblPurge : 0;
    auto check_of = [&](const IIDX &ix) { return (r.o.update || ix.icolseq || ix.ipadbyt) ? 1 : 0; };
    int rc = chkidxhdr(check_of(x), &x, n, ifil->ifilmod, nmem);
    int32_t dups = 0, bad = 0;
    if (!rc) rc = RBLIDX(r.first, r.dname, n, r.p->password, &r.rej, 0, &dups, opts, &bad);
    r.rejected += int64_t(dups) + bad;
    for (int m = 1; m <= nmem && !rc; m++) {
        const IIDX &xm = ifil->iidxarr[k + m];
        rc = chkidxhdr(check_of(xm), &xm, n + m, ifil->ifilmod, -1);
        dups = bad = 0;
        if (!rc) rc = RBLMEM(r.first, r.dname, n, m, r.p->password, &r.rej, 0, &dups, opts, &bad);
        r.rejected += int64_t(dups) + bad;
        if (rc) {
            rbl_quiet_close(n, true);
            return rerr(rc, n + m);
        }
    }
    if (rc) {
        rbl_quiet_close(n, true);
        return rerr(rc, maint_state(g).rbl.err ? maint_state(g).rbl.errfil : n);
    }
    if ((rc = rbl_close(n)) != 0) return rerr(rc, n);
    return 0;
}

void rbl_note_rejects(IndexPhase &r, const char *label) {
    char line[120];
    snprintf(line, sizeof line, "%d duplicate key(s) and/or bad serial number(s) rejected...", int(r.rejected));
    log_line(line);
    log_line(label);
    log_line(r.rejname);
    if (r.rej) fflush(r.rej);
}

int rbl_purge_records(IndexPhase &r, int datno, bool hexpos) {
    IFIL *ifil = r.ifil;
    rbl_close_stream(&r.rej);
    FILE *in = rbl_open_stream(r.rejname, "rb");
    if (!in) {
        log_line("Could not process any rejected records (tmp)");
        return 651;
    }
    FCB *dat = fcb_at(datno);
    const bool wide = (dat->hdr.base.hdrflags & kHdr8ByteOffsets) != 0;
    const bool variable = dat->kind == kKindVariable;
    const uint64_t largest = rbl_file_size(dat);
    std::vector<unsigned char> slot(dat->hdr.base.reclen ? dat->hdr.base.reclen : 1);
    unsigned char key[kKeyRoom];
    char line[160];
    int result = 0;
    int64_t done = 0;
    for (; done < r.rejected && !result; done++) {
        uint32_t hi = 0, lo = 0, len = 0;
        bool ok = (!wide || fread(&hi, 4, 1, in) == 1) && fread(&lo, 4, 1, in) == 1 && fread(&len, 4, 1, in) == 1;
        unsigned char *buf = nullptr;
        if (ok && (largest == UINT64_MAX || len > largest)) ok = false;
        if (ok) buf = rbgetbuf(int32_t(len ? len : 1));
        if (ok && !buf) ok = false;
        if (ok && len) ok = fread(buf, 1, len, in) == len;
        if (!ok) {
            snprintf(line, sizeof line, "Only found %d records", int(done));
            log_line(line);
            result = 651;
            break;
        }
        for (int k = 0; k < ifil->dnumidx && !result; k++) {
            const int ix = datno + 1 + k;
            zvSETHGH(int32_t(hi));
            int32_t kl = frmkey(ix, buf, key, lo, int32_t(len));
            if (kl <= 0) continue;
            int drc = idelchk(ix, key, hi, lo, 0x81);
            if (drc == 3 || drc == 4) drc = 0;
            if (drc) {
                snprintf(line, sizeof line, "Unexpected key delete error(%d) after processing %d records", drc,
                         int(done));
                log_line(line);
                result = 651;
            }
        }
        if (result) break;
        set_uerr(0);
        int drc = 0;
        zvSETHGH(int32_t(hi));
        if (variable) {
            VRECHDR h;
            drc = getvhdr81(dat, hi, lo, &h);
            // A record rejected by more than one index is listed once per
            // index: only an area still in use is freed (a member's freed
            // area carries the member free mark, not the file's).
            if (!drc && h.mark == kVrecUsed) {
                zvSETHGH(int32_t(hi));
                drc = RETVREC(datno, lo);
            }
        } else {
            drc = REDREC(datno, lo, slot.data());
            if (!drc && slot[0] != 0xFF) {
                zvSETHGH(int32_t(hi));
                drc = RETREC(datno, lo);
            }
        }
        if (drc) {
            if (hexpos)
                snprintf(line, sizeof line, "Could not mark record %x%08xx deleted(%d) after processing %d records",
                         unsigned(hi), unsigned(lo), drc, int(done));
            else if (wide)
                snprintf(line, sizeof line, "Could not mark record %lld deleted(%d) after processing %d records",
                         (long long)join64(hi, lo), drc, int(done));
            else
                snprintf(line, sizeof line, "Could not mark record %d deleted(%d) after processing %d records",
                         int(lo), drc, int(done));
            log_line(line);
            result = 651;
        }
    }
    rbl_close_stream(&in);
    if (!result) {
        zvsetupdflg(datno, -1);
        for (int k = 0; k < ifil->dnumidx; k++) zvsetupdflg(datno + 1 + k, -1);
        log_line("Completed automatic purge of rejected data records.");
    }
    return result;
}

int rbl_end_rejects(IndexPhase &r, int rc) {
    rbl_close_stream(&r.rej);
    if (r.rejname[0] && r.rejected == 0) rbl_drop_file(r.rejname);
    if (rc == 0 && r.rejected) rc = rerr(r.o.purge ? 650 : 652, r.first);
    return rc;
}

int rbl_option_bits(int16_t tfilno, int allowed, int *bits, bool *legacy) {
    *bits = 0;
    *legacy = false;
    if (tfilno >= -1) return 0;
    if (uint16_t(tfilno) & 0x4000) {
        *legacy = true;
        return 0;
    }
    int b = -int(int16_t(uint16_t(tfilno) | 0x4000));
    if (b & ~allowed) return 943;
    if ((b & 0x080) && (b & 0x200)) return 943;
    *bits = b;
    return 0;
}

int rbl_options(int16_t tfilno, RblOptions *o) {
    *o = RblOptions{};
    int bits = 0;
    bool legacy = false;
    if (int rc = rbl_option_bits(tfilno, kAllowedBits, &bits, &legacy)) return rc;
    if (!legacy) {
        o->update = bits & 0x002;
        o->purge = bits & 0x004;
        o->badpart = bits & 0x008;
        o->noscan = bits & 0x100;
        o->repair = bits & 0x200;
        return 0;
    }
    switch (tfilno) {
    case -99: o->update = true; break;
    case -101: o->purge = true; break;
    case -105: o->badpart = true; break;
    case -200: o->update = o->purge = true; break;
    case -204: o->update = o->badpart = true; break;
    case -206: o->purge = o->badpart = true; break;
    case -305: o->update = o->purge = o->badpart = true; break;
    default: break;
    }
    return 0;
}

int chkidxhdr(int check, const IIDX *x, int filno, int, int nmem) {
    if (!check) return 0;
    FCB *f = tstfnm(filno);
    if (!f) return zvWNGV->uerr_cod;
    FILEHDR &b = f->hdr.base;
    bool changed = false;
    if (b.keylen != uint16_t(x->ikeylen) || b.ktype != uint8_t(x->ikeytyp) || !chkkeydup(x, f)) {
        // The geometry follows the header that keeps the index's offset width,
        // leaf reservation and control-field width: the host index's, or the
        // index's own in a superfile, whose host is a data file.
        if (int rc = zvidxcap(f, idx_host(f), x->ikeylen, x->ikeytyp, x->ikeydup)) return set_uerr(rc);
        changed = true;
    }
    uint8_t pad = x->ipadbyt ? uint8_t(x->ipadbyt[0]) : uint8_t(' ');
    if (b.keypad != pad) {
        b.keypad = pad;
        changed = true;
    }
    if (nmem >= 0 && b.nmem != uint16_t(nmem)) {
        b.nmem = uint16_t(nmem);
        changed = true;
    }
    if (x->icolseq || f->altseq) {
        if (int rc = SETALTSEQ(filno, x->icolseq)) return rc;
    }
    if (changed) {
        if (int rc = wrthdr(f)) return rc;
        if (b.clstyp == kKindIndex && !fcb_is_memory(f)) {
            if (int rc = zvgetkbf(f, b.keylen)) return rc;
        }
    }
    return set_uerr(0);
}

int chkschsrl(const IFIL *ifil, int datno, int32_t field, int32_t length, int *found, int *failfil) {
    *found = 0;
    *failfil = 0;
    for (int k = 0; k < ifil->dnumidx; k++) {
        const IIDX &x = ifil->iidxarr[k];
        for (int s = 0; s < x.inumseg && x.isegarr; s++) {
            const ISEG &sg = x.isegarr[s];
            if ((sg.segmode & 0x10F) != 257) continue;
            if (sg.soffset != field - 1 || sg.slength != -length) {
                *failfil = datno + 1 + k;
                return 608;
            }
            *found = 1;
        }
    }
    return 0;
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int RBLIFILz(IFILPARM *params) {
    if (int rc = rbl_set_entry(params)) return rc;
    return rblifilz(params);
}

ZV_API int RBLIFILX8(IFIL *ifil, const char *dataext, const char *idxext, int32_t permmask, const char *group,
                     const char *password, XCREblk *xcre) {
    IFILPARM p;
    setifil8(&p, ifil, dataext, idxext, permmask, group, password, xcre);
    return RBLIFILz(&p);
}

ZV_API int RBLIFILX(IFIL *ifil, const char *dataext, const char *idxext, int32_t permmask, const char *group,
                    const char *password) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!ifil) {
        g->isamerr_cod = 0;
        set_uerr(540);
        return ierr(540, 0);
    }
    XCREblk *blocks = nullptr;
    if (int rc = chkxcre(ZV_XCRE_DEFAULT, nismfil(ifil), &blocks)) {
        set_uerr(rc);
        return ierr(rc, ifil->dfilno < 0 ? 0 : ifil->dfilno);
    }
    int rc = RBLIFILX8(ifil, dataext, idxext, permmask, group, password, blocks);
    clrxcre(blocks);
    return rc;
}

ZV_API int RBLIFIL(IFIL *ifil) { return RBLIFILX(ifil, nullptr, nullptr, 0, nullptr, nullptr); }

}  // extern "C"
