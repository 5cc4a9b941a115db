// Close of files and the stop of an engine user.
//
// Close order, chosen so that the "changed" mark on disk never claims more
// than the disk holds:
//  1. write back the file's dirty data pages (an index: its dirty nodes);
//  2. only when that succeeded, clear the 0xFF update flags, store the close
//     time and write the headers, then write back and purge the pages again;
//  3. whatever failed, purge the file's pages, close its descriptor, take it
//     out of the ring, lower the open counts and free its blocks.
// A failure in 1 or 2 leaves the update flag 0xFF on disk, so the next open
// refuses the file (14) instead of trusting a half-written one. The first
// error is returned.
#include "engine/files/close.h"

#include <cstring>
#include <ctime>

#include "engine/core/arith.h"
#include "engine/core/fileio.h"
#include "engine/core/centralio.h"
#include "engine/core/instance.h"
#include "engine/core/lifecycle.h"
#include "engine/core/startup.h"
#include "engine/files/files_services.h"
#include "engine/core/pagecache.h"
#include "engine/core/statuslog.h"
#include "engine/files/fcbops.h"
#include "engine/files/fileenc.h"
#include "engine/files/fixrec.h"
#include "engine/files/header.h"
#include "engine/files/identity_services.h"
#include "engine/files/memfile.h"
#include "engine/files/segments.h"
#include "engine/files/superfile.h"
#include "engine/index/index_services.h"
#include "engine/isam/isam_services.h"

namespace {

bool is_open_state(char s) { return s == 'y' || s == 'v' || s == 'w' || s == 's'; }

void lower(int32_t &count, int32_t by) { count = count > by ? count - by : 0; }

// Clears the 0xFF update flags of the host and its members, stamps the close
// time and writes the headers that changed. 0 or the first write error.
int write_clean_headers(FCB *f) {
    uint32_t now = uint32_t(time(nullptr));
    bool any = false;
    for (FCB *b = f; b; b = b->nextmember) {
        if (b->hdr.base.updflg == kUpdChanged) any = true;
    }
    if (any) f->hdr.ext.spincnt++;
    int first = 0;
    for (FCB *b = f; b; b = b->nextmember) {
        bool cleared = b->hdr.base.updflg == kUpdChanged;
        if (cleared) {
            b->hdr.base.updflg = 0;
            b->hdr.base.clstime = now;
        }
        if (b->pendtranh || b->pendtranl) {
            b->hdr.base.hightran = b->pendtranl;
            b->hdr.ext.hightranh = b->pendtranh;
        }
        // A mark whose write failed half way may be on disk though memory
        // holds none: the clean header goes over it.
        bool unknown = (b->stflags & kStMarkUnknown) && b->hdr.base.updflg == 0;
        if ((!cleared && !unknown) || (b->hdr.base.flmode & kOpnReadOnly) || b->state == 'm') continue;
        if (int rc = wrthdr(b)) {
            if (cleared) b->hdr.base.updflg = kUpdChanged;
            if (!first) first = rc;
        } else {
            b->stflags &= ~kStMarkUnknown;
        }
    }
    return first;
}

// A changed file is left at least as long as its last byte used: space
// handed out without a fill (growth step 0) whose last bytes were never
// written gets its last byte now (0xFF, the fill), so that the next open
// finds the end inside the file. 0 or the write's error.
int reach_last_byte(FCB *f) {
    const FILEHDR &b = f->hdr.base;
    if (b.updflg != kUpdChanged || b.sfiltyp == kSfMember || (b.hdrflags & kHdrSegmented) ||
        (b.flmode & kOpnReadOnly) || fcb_is_memory(f))
        return 0;
    uint64_t last = zv::join64(f->hdr.ext.numrech, b.numrec);
    if (last <= zv::join64(f->hwoffh, f->hwoffl)) return 0;
    unsigned char fill = 0xFF;
    return izvio81x(17, f, uint32_t(last >> 32), uint32_t(last), &fill, 1, nullptr, 0);
}

}  // namespace

int iclsfilx(int filno, int mode) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!zv::filno_in_table(filno)) return zv::set_uerr(22);
    FCB *f = g->fcbtab[filno];
    if (!f || f->state == 'n') return zv::set_uerr(26);
    if (f->state == 'd') return zv::set_uerr(643);
    // An index member closes with its host index, a directory with its host.
    if (f->hostfcb && f->hostfcb != f &&
        ((f->kind == kKindIndex && f->hostfcb->kind == kKindIndex) || f->hdr.base.sfiltyp == kSfDirectory))
        return zv::set_uerr(23);
    if (f->state == 'm' || !is_open_state(f->state)) return zv::set_uerr(26);

    int first = 0;
    auto keep = [&first](int rc) {
        if (rc && !first) first = rc;
    };
    bool memory = fcb_is_memory(f);
    bool disk = !memory;
    if (f->state == 'v' && zvswitch(f) != 0) {
        keep(g->uerr_cod ? g->uerr_cod : 38);
        disk = false;
    }
    f->opflags |= kOpClosing;
    // A host's members and its directory write themselves into it first.
    if (f->hdr.base.sfiltyp == kSfHost) keep(zv::superfile_close_members(f, mode));
    // A partitioned host closes the members it opened; a member its host
    // opened leaves the host's table of open members.
    if (f->partdef) keep(zv::zvpartcls(f));
    if (f->parthost) zv::partition_member_closing(f);

    // The identity block goes back over its resource first. A failure is
    // the close's own: the clean mark is not written, so the next open
    // refuses the file instead of handing out its values again.
    int dar = zvmapFCBtoDAR(f, 0, 1, 0);
    if (dar != 0) {
        zvrcvlog("Unexpected FCBtoDAR error", zv::kLogSingleTry);
        zvrcvlog(f->name, zv::kLogSingleTry);
        keep(dar);
    }
    if (f->kind != kKindIndex) {
        zv::isam_close_contexts(filno);
        zv::zvfreecidx(f->cidxtab, 2);
        f->cidxtab = nullptr;
        zv::free_record_filter(f);
    } else {
        zv::isam_index_closing(f);
        // The in-memory conditions of the index file and its members.
        for (FCB *m = f; m; m = m->nextmember) zv::free_record_filter(m);
    }

    // 1. The file's own bytes first.
    int wb = 0;
    // A variable-length file writes the nodes of its space index first.
    if (disk && f->kind != kKindFixed) wb = zv::write_file_nodes(f, mode);
    if (disk && f->kind != kKindIndex && wb == 0) wb = zvflushd(f, 0);
    keep(wb);
    // 2. Then the clean mark, then the pages once more.
    if (disk && wb == 0 && dar == 0) {
        int rc = reach_last_byte(f);
        if (rc == 0) rc = write_clean_headers(f);
        keep(rc);
        // Segments made during the open (the write-back may make them) are
        // counted in the header.
        if (rc == 0 && f->segs && f->hdr.ext.segmented != f->segsatopen &&
            !(f->hdr.base.flmode & kOpnReadOnly)) {
            rc = wrthdr(f);
            keep(rc);
        }
        if (rc == 0) keep(zvflushd(f, 1));
    }
    // 3. Whatever happened, nothing of the file stays behind.
    if (!memory) zvflushd(f, 1);
    if (disk && ((mode & 0x60) || (f->stflags & kStForceDisk)) && !(f->hdr.base.flmode & kOpnReadOnly))
        keep(zv::mbsave(f));

    zv::zvclncamo(f);
    zv::zvpartcln(f);
    // A member's ring entry is its host's, which stays open.
    if (f->hostfcb == f || !f->hostfcb) inrfil(f, 0);
    int32_t blocks = 1;
    for (FCB *m = f->nextmember; m;) {
        FCB *next = m->nextmember;
        zv::free_key_buffers(m);
        zv::free_key_definitions(m);
        zvidxfrsh(m->filno);
        zv::fcb_reset(m);
        blocks++;
        m = next;
    }
    if (f->kind != kKindFixed) {
        zv::free_key_buffers(f);
        zvidxfrsh(f->filno);
    }
    // Close mode 2 deletes the segment files (the delete road).
    zv::zvclssegmdef(f, mode == 2 ? 0 : 1, 1, 0);
    bool physical = f->fd >= 0 || f->state == 'v';
    bool system = f->state == 's';
    if (f->fd >= 0) keep(zvlclose(f, mode, 0));
    if (f->membuckets) {
        zv::memfile_free_all(f);
        mbfree(f->membuckets);
    }
    if (!system) {
        lower(g->nfiles, 1);
        lower(g->nallfiles, blocks);
        if (physical) lower(g->nphysfiles, 1);
    }
    zv::free_key_definitions(f);
    zv::fcb_reset(f);
    return zv::set_uerr(first);
}

int iclsfil(int filno, int mode) { return iclsfilx(filno, mode); }

namespace zv {

int close_all_files() {
    INSTGV *g = zvWNGV;
    if (!g || !g->fcbtab) return 0;
    int first = 0;
    // Plain files and indexes first, superfile hosts last (their members
    // close with them); members close with their hosts.
    for (int pass = 0; pass < 2; pass++) {
        for (int i = 0; i <= int(g->filecount); i++) {
            FCB *f = g->fcbtab[i];
            if (!f || !is_open_state(f->state) || f->hostfcb != f) continue;
            if ((f->hdr.base.sfiltyp == kSfHost) != (pass == 1)) continue;
            int rc = iclsfilx(i, 0);
            if (rc && !first) first = rc;
        }
    }
    return first;
}

}  // namespace zv

extern "C" {

ZV_API int CLSFIL(int filno, int mode) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    zv::set_uerr(0);
    if (!g->fcbtab) return zv::set_uerr(47);
    if (!zv::filno_in_table(filno)) return zv::set_uerr(22);
    FCB *f = g->fcbtab[filno];
    if (!f || f->state == 'n') return zv::set_uerr(26);
    bool checked = (g->fileopt[2] & kOpt3CloseCheck) || (g->fileopt[0] & kOpt1CloseCheck);
    bool host = f->hdr.base.sfiltyp == kSfHost;
    if (checked && !host && !(f->crflags & kCrOption)) return zv::set_uerr(48);
    if (!checked && !host && (f->crflags & kCrOption) && f->kind != kKindIndex &&
        !(g->fileopt[2] & kOpt3NoCheck) && !g->quietmode)
        return zv::set_uerr(963);
    return iclsfilx(filno, mode);
}

ZV_API uint16_t STPUSR(void) {
    INSTGV *g = zvWNGV;
    if (!zv::is_started(g)) return uint16_t(zv::set_uerr(410));
    int first = zv::close_all_files();
    zv::release_nav_state();
    zv::stop_instance();
    g->highfil = 0;
    g->uerr_cod = uint16_t(first);
    if (strcmp(g->id, ZV_DEFAULT_INSTANCE_ID) == 0) {
        char id[ZV_INSTANCE_ID_MAX + 1];
        memcpy(id, g->id, sizeof id);
        UNRZARVO(id);
    }
    return uint16_t(first);
}

ZV_API int STPUSRA(int mode) {
    if (zvWNGV) zvWNGV->fileopt[0] |= uint32_t(mode) & 0x04;
    return STPUSR();
}

ZV_API int TRANSACTION(void) {
    zv::set_uerr(0);
    return 0;
}

ZV_API int zvinitcmprec(void) { return 940; }

ZV_API int zvSetCurrentSuperfileHost(int) { return 454; }

}  // extern "C"
