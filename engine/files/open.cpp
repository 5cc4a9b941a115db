// Open of files: OPNFIL and its worker, and the open of engine system files.
//
// The worker binds the descriptor, reads the header with every consistency
// check, binds the blocks of an index's members, takes the file's open mode
// and reads what the file keeps in its resources. Any failure leaves the
// block (and every member block it bound) free with its descriptor closed,
// so a failed open changes neither the file table nor the descriptors of
// the process. A file refused for its update flag (14) is not written.
#include "engine/files/open.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/filerules.h"
#include "engine/core/instance.h"
#include "engine/core/pagecache.h"
#include "engine/core/statuslog.h"
#include "engine/expr/expr_services.h"
#include "engine/files/close.h"
#include "engine/files/fcbops.h"
#include "engine/files/fileenc.h"
#include "engine/files/header.h"
#include "engine/core/header_codec.h"
#include "engine/files/identity_services.h"
#include "engine/files/segments.h"
#include "engine/files/superfile.h"
#include "engine/files/swapnote.h"
#include "engine/index/index_services.h"
#include "engine/isam/isam_services.h"

namespace {

// Frees what a failed open bound: member blocks, pages read, the descriptor.
void abandon_open(FCB *f) {
    if (f->hostfcb == f || !f->hostfcb) inrfil(f, 0);
    if (f->hdr.base.sfiltyp == kSfHost || (f->sflink && f->sflink->hostfcb == f)) zv::superfile_host_unbind(f);
    for (FCB *m = f->nextmember; m;) {
        FCB *next = m->nextmember;
        zv::free_key_buffers(m);
        zv::free_key_definitions(m);
        zv::fcb_reset(m);
        m = next;
    }
    zv::free_key_buffers(f);
    zv::free_key_definitions(f);
    if (f->fd >= 0) {
        zvflushd(f, 1);
        zvlclose(f, 0, 1);
    }
    zv::fcb_reset(f);
}

// After a failed header read: a file shorter than a header, or one whose
// bytes after the header area are all the 0xFF fill of an interrupted
// create, is marked by the system code 64997. The user error is kept.
void diagnose_header_failure(FCB *f) {
    INSTGV *g = zvWNGV;
    uint16_t uerr = g->uerr_cod;
    uint32_t hi = 0;
    uint32_t lo = zv::zvfsize81(&hi, f, f->fd);
    if (hi == 0xFFFFFFFFu && lo == 0xFFFFFFFFu) {
        g->uerr_cod = uerr;
        return;
    }
    uint64_t size = zv::join64(hi, lo);
    bool interrupted = size < 128;
    if (!interrupted) {
        uint64_t at = zv::header_disk_size(f->hdr.base);
        unsigned char buf[2048];
        interrupted = at < size;
        while (interrupted && at < size) {
            int32_t n = int32_t(size - at < sizeof buf ? size - at : sizeof buf);
            int32_t got = 0;
            izvio81x(16, f, uint32_t(at >> 32), uint32_t(at), buf, n, &got, 0);
            if (got != n) interrupted = false;
            for (int32_t i = 0; interrupted && i < n; i++) interrupted = buf[i] == 0xFF;
            at += uint64_t(n);
        }
    }
    if (interrupted) g->sysiocod = 64997;
    g->uerr_cod = uerr;
}

// A node-size field above 127 is a byte count: a whole number of 128-byte
// units (for a superfile member, once its area header is added).
bool node_field_ok(const FILEHDR &b) {
    uint32_t wrap = b.sfiltyp == kSfMember ? ((b.hdrflags & kHdr8ByteOffsets) ? 22 : 18) : 0;
    return b.nodsiz <= 127 || (b.nodsiz + wrap) % 128 == 0;
}

// Every node of an open file is read into one of the engine's node buffers,
// which hold the engine's node size and no more, whatever the large-node
// option says: a header asking for more is refused (40) before any read.
bool node_fits(const FCB *f) { return f->nodesize <= uint32_t(zvWNGV->nodesize); }

// The last byte used lies inside the file, give or take one growth step
// whose fill may not have reached the disk. A header claiming more (a
// damaged end) is refused, so that no walk of the file reads through
// gigabytes that are not there. The size is the one the open just took
// (the highest written offset); superfile members, memory files and
// segmented files are measured elsewhere. A header whose update flag is
// set is not held to it: a process that ended while it changed the file
// may have written the header (write-through mode writes it after each
// growth) before the bytes of the space it took, and such a file is
// answered as one that was not closed cleanly, for the repair.
bool end_within_file(const FCB *f) {
    const FILEHDR &b = f->hdr.base;
    const FILEHDRX &x = f->hdr.ext;
    if (b.sfiltyp == kSfMember || fcb_is_memory(f) || (b.hdrflags & kHdrSegmented) || f->fd < 0) return true;
    uint64_t step = (x.flmode2 & kFlmode2Ext32) ? x.extsiz32 : b.extsiz;
    if ((x.flmode2 & kFlmode2FirstExt) && x.firstext > step) step = x.firstext;
    uint64_t last = zv::join64(x.numrech, b.numrec);
    return last <= zv::join64(f->hwoffh, f->hwoffl) + step;
}

// The checks that the header of a block itself must pass.
int check_header(FCB *f, uint16_t mode) {
    INSTGV *g = zvWNGV;
    FILEHDR &b = f->hdr.base;
    FILEHDRX &x = f->hdr.ext;
    if (b.clstyp > 2 || b.sfiltyp > 6 || (b.nmem && b.clstyp != kKindIndex) || !node_field_ok(b)) return 13;
    if (tstverson(&b, (b.hdrflags & kHdrHasExt) ? &x : nullptr)) return 672;
    f->nodesize = zv::node_size_of(f);
    if (f->nodesize == 0 && b.clstyp != kKindFixed) return 812;
    if (b.hdrflags == 0xFFFF) b.hdrflags = 0;
    if (uint32_t bad = b.hdrflags2 & ~kHdr2Supported) {
        char msg[128];
        snprintf(msg, sizeof msg, "FREL_ERR(%d) unsupported DEF_MASK bits: %08xx for file...", 744, bad);
        zvrcvlog(msg, zv::kLogSingleTry);
        zvrcvlog(f->name, zv::kLogSingleTry);
        return 744;
    }
    if ((b.hdrflags & kHdrMirror) && !(mode & (kOpenMirrorless | kOpnReadOnly))) return 550;
    if (b.hdrflags & kHdrHasExt) {
        if (x.xmark != kXtdMark) return 673;
        if (b.updcnt != x.updcnt2 && !((mode & kOpenDamaged) && b.updflg)) return 689;
    }
    if (!(b.hdrflags & kHdr8ByteOffsets) && (x.numrech || x.phyendh) && b.sfiltyp != kSfMember &&
        zv::tstfilsiz(f))
        return 689;
    if (!(mode & kOpenDamaged) && !b.updflg && !end_within_file(f)) return 13;
    if ((x.flmode2 & 0x01000000) && (x.flmode2 & kFlmode2PartHost)) return 727;
    if ((f->nodesize > uint32_t(g->sectors) * 128 && !(g->fileopt[0] & kOpt1LargeNodes)) || !node_fits(f)) return 40;
    if ((mode & kOpenVarlen) && b.clstyp != kKindVariable) return 48;
    if (b.sfiltyp == kSfHost && f->nodesize != uint32_t(g->nodesize)) return 417;
    if (b.sfiltyp != kSfPlain && b.maxnamlen > g->membernamemax) return 418;
    if (b.keylen > 1024) return 45;
    if (b.updflg == kUpdRefused && !(mode & kOpenDamaged)) return 15;
    if (b.nmem > 127 || b.kmem > 0) return 23;
    if ((b.flpmode & 0x30) && !(b.hdrflags & kHdrLeafReserve) && !(mode & kOpnReadOnly) && !g->rebuilding)
        return 53;
    if (b.clstyp == kKindIndex && x.idxlayout > 4 && x.dstlevels > 0) return 908;
    return 0;
}

// Reads and checks the header of each additional member of an index.
int open_members(FCB *f) {
    FILEHDR &hb = f->hdr.base;
    uint32_t step = zv::member_header_step(hb);
    int k = 0;
    for (FCB *m = f->nextmember; m; m = m->nextmember) {
        k++;
        if (m->hostfcb != f) return 165;
        FILEHDR &mb = m->hdr.base;
        mb.kmem = uint16_t(k);
        mb.clstyp = kKindIndex;
        mb.hdrflags = hb.hdrflags;
        mb.hdrflags2 = hb.hdrflags2 & ~kHdr2Partition;
        m->kind = kKindIndex;
        m->opflags |= kOpMember;
        zv::split64(zv::join64(f->hposh, f->hposl) + uint64_t(step) * uint64_t(k), &m->hposh, &m->hposl);
        memcpy(m->name, f->name, sizeof m->name);
        if (int rc = redhdr(m, 0)) return rc;
        if (mb.kmem != k || mb.clstyp != kKindIndex || !node_field_ok(mb)) return 13;
        m->nodesize = zv::node_size_of(m);
        if (m->nodesize == 0) return 812;
        if (!node_fits(m)) return 40;
        if ((m->hdr.ext.flmode3 & 0x07000000) || (mb.ktype & 0x03)) return 52;
        if (m->hdr.ext.idxlayout > 4 && m->hdr.ext.dstlevels > 0) return 908;
        if (mb.keylen > 1024) return 45;
        if (int rc = zvgetkbf(m, mb.keylen)) return rc;
    }
    return 0;
}

// The file mode an open gives a block.
uint16_t open_file_mode(const FCB *f, uint16_t mode, bool *syncclose) {
    uint16_t m = uint16_t(f->hdr.base.flpmode | (mode & 0x7FCF));
    if (m & 0x40) {
        if (m & 0x20) {
            m &= uint16_t(~0x40);
        } else if ((m & 0x10) && f->kind != kKindIndex) {
            m &= uint16_t(~0x40);
            *syncclose = true;
        }
    }
    return m;
}

bool not_found(int rc) { return rc == 401 || rc == 408 || rc == 438; }

// Reads what one block keeps in its resources. 0 or an error that stops the
// open; in damaged-open mode (0x4000 with 0x0800) an unsupported feature
// makes the file read-only instead.
int read_resources(FCB *b, uint16_t mode) {
    INSTGV *g = zvWNGV;
    bool lenient = (mode & kOpenDamaged) && (mode & kOpnNoConvert);
    auto stop = [&](int rc) { return (rc && !not_found(rc) && !g->quietmode) ? rc : 0; };
    auto read_only = [&]() {
        b->hdr.base.flmode = uint16_t((b->hdr.base.flmode | kOpnReadOnly) & ~kOpenShared);
        return 0;
    };
    bool has_resources = b->hdr.base.reshdr || b->hdr.ext.reshdrh;
    // A file whose key cannot be had stays closed even when it is opened as
    // damaged: its pages would be read as cipher text.
    if (has_resources) {
        if (int rc = zv::zvgetcamo(b)) return rc;
    }
    if (b->hdr.ext.flmode3 & 0x200) {
        if (lenient) return read_only();
        return 940;
    }
    if (int rc = stop(getksegdef(b))) return rc;
    if (b->kind == kKindIndex) {
        unsigned char seq[512];
        int rc = igetaltseq(b->filno, seq, 0);
        if (rc == 0) rc = zv::zvsetseq(b, seq);
        if ((rc = stop(rc))) return rc;
    } else {
        void *blk = nullptr;
        int32_t len = 0;
        int rc = zvrdefx(b->filno, 0, 1, &blk, &len);
        if (blk) {
            // A record schema that does not hold its own entries is not
            // taken: the file opens without a schema map.
            if (rc == 0 && (rc = zv::install_schema(b, blk, len)) == 439) rc = 0;
            zvputmem(blk);
        }
        if ((rc = stop(rc))) return rc;
        b->cidxtab = zv::zvigetcidx(b->filno);
        if (!b->cidxtab) {
            if ((rc = stop(g->uerr_cod))) return rc;
        } else if (zvclbkinit(b->name, b->cidxtab, 2) == 0 && g->uerr_cod) {
            if ((rc = stop(g->uerr_cod))) return rc;
        }
        // A partitioned host: its member table and its rule.
        if (b->hdr.ext.flmode2 & kFlmode2PartHost) {
            if ((rc = stop(zv::zvpartres(b->filno)))) return rc;
            if ((rc = stop(zv::zvpartrule(b, b->filno)))) return rc;
        }
    }
    if (int rc = stop(zvgetDAR(b, 0, mode))) return rc;
    return 0;
}

}  // namespace

int iopnfilx(int filno, const char *name, uint16_t mode) {
    INSTGV *g = zvWNGV;
    if (!zv::filno_in_table(filno)) return zv::set_uerr(22);
    FCB *f = zvgetfcb(filno);
    if (!f) return g->uerr_cod;
    if (f->state != 'n') return zv::set_uerr(46);
    zv::fcb_reset(f);
    snprintf(f->name, sizeof f->name, "%s", name);
    f->crflags |= kCrBusy;
    f->opnmode = mode;
    // A name the engine made up (FoundNames): this open and every reopen.
    f->foundname = g->foundopen;

    const bool member = zvsname1(name) != 0;
    if (member) {
        // A member's header lies in its host, at its directory entry.
        if (int rc = zv::superfile_member_open(f, name)) {
            abandon_open(f);
            return zv::set_uerr(rc);
        }
    } else {
        int fd = zv::mbopen(f, f->name, uint16_t(mode & ~kOpnNoConvert));
        if (fd < 0) {
            int sys = g->sysiocod;
            abandon_open(f);
            return zv::set_uerr((sys == 2 || sys == 20 || g->quietopen) ? 12 : 920);
        }
        f->fd = fd;
        // Exclusive across processes unless opened shared: a file another
        // process holds the other way is refused with its lock's errno.
        if (int err = zv::lock_open_file(fd, mode)) {
            abandon_open(f);
            g->sysiocod = uint16_t(err);
            return zv::set_uerr(12);
        }
        f->wrlock = zv::opens_shared(mode) ? kLockShared : kLockOpen;
        zv::note_file_identity(f);
        zv::set_highest_written(f);
    }

    int rc = redhdr(f, 1);
    if (!rc && member && f->hdr.base.sfiltyp != kSfMember) rc = 13;
    if (rc) {
        if (rc != 46 && rc != 22 && rc != 603 && !member) diagnose_header_failure(f);
        abandon_open(f);
        return zv::set_uerr(rc);
    }
    // The rules name data files; the kind is known once the header is read.
    if (zvno_che(f, f->name)) f->opflags |= kOpNoCache;
    f->dedcount = 0;
    f->dedquota = zvsplche(f);
    FILEHDR &b = f->hdr.base;
    if (!rc) rc = check_header(f, mode);
    if (!rc && (b.clstyp == kKindIndex || b.clstyp == kKindVariable)) rc = zvgetkbf(f, b.keylen);
    if (!rc) rc = open_members(f);
    if (rc) {
        abandon_open(f);
        return zv::set_uerr(rc);
    }

    // A set update flag means the file was not closed cleanly.
    bool flagged = false;
    for (FCB *m = f; m; m = m->nextmember) {
        if (m->hdr.base.updflg) {
            flagged = true;
            m->hdr.base.updflg = kUpdRebuild;
        }
    }
    if (flagged && !(mode & kOpenDamaged)) {
        abandon_open(f);
        return zv::set_uerr(14);
    }
    if (b.hdrflags & kHdrMirror) {
        zvrcvlog("Following file is opened without mirror ...", zv::kLogSingleTry);
        zvrcvlog(f->name, zv::kLogSingleTry);
        b.hdrflags &= uint16_t(~kHdrMirror);
    }

    bool syncclose = false;
    uint16_t newmode = open_file_mode(f, mode, &syncclose);
    if (b.sfiltyp == kSfHost) newmode |= kOpnPermanent;
    if (syncclose) f->stflags |= kStForceDisk;
    for (FCB *m = f->nextmember; m; m = m->nextmember) {
        bool unused = false;
        m->hdr.base.flmode = open_file_mode(m, mode, &unused);
    }
    if (newmode != b.flmode) {
        b.flmode = newmode;
        // Only an open that holds the file alone records its mode now:
        // beside other opens of the file (a shared open, or a member whose
        // host is open shared) the write could come between the two parts
        // of another's header read. A shared open's mode reaches the header
        // with its first change, which takes the file alone.
        bool keep = g->nowrite || flagged || (newmode & kOpnReadOnly) ||
                    ((newmode & kOpnPermanent) && !g->rebuilding) || !zv::holds_file_exclusively(f);
        if (!keep && (rc = wrthdr(f)) != 0) {
            abandon_open(f);
            return zv::set_uerr(rc);
        }
    }

    int32_t blocks = 0;
    for (FCB *m = f; m; m = m->nextmember) {
        m->state = 'y';
        blocks++;
    }
    inrfil(f, 1);
    if ((g->fileopt[1] & kOpt2Mark) || (g->fileopt[2] & kOpt3Mark)) f->crflags |= kCrOption;
    g->nfiles++;
    g->nallfiles += blocks;
    if (f->fd >= 0) g->nphysfiles++;
    // The segments, whose definition may be a resource of the file.
    if (b.hdrflags & kHdrSegmented) rc = zv::zvopnsegmdef(f, filno, mode);
    for (FCB *m = f; m && !rc; m = m->nextmember) {
        if ((rc = read_resources(m, mode)) != 0) break;
    }
    // A host opens its directory, the block that its header read bound.
    if (!rc && b.sfiltyp == kSfHost) rc = zv::superfile_open_directory(f);
    if (rc) {
        iclsfil(filno, 0);
        return zv::set_uerr(rc);
    }
    f->crflags &= ~kCrBusy;
    return zv::set_uerr(0);
}

int zvspcopn(int mode, FCB *f) {
    INSTGV *g = zvWNGV;
    if (!g || !f) return 96;
    char name[256];
    snprintf(name, sizeof name, "%s", f->name);
    int plain = mode & ~0x800;
    for (int attempt = 0; attempt < 2; attempt++) {
        zv::fcb_reset(f);
        snprintf(f->name, sizeof f->name, "%s", name);
        f->state = 's';
        f->opnmode = kOpnPermanent;
        f->hdr.base.flmode = kOpnPermanent;
        int fd = zv::mbopen(f, f->name, f->opnmode);
        if (fd >= 0) {
            f->fd = fd;
            if ((mode & ~0xC40) == 33) {
                zvlclose(f, 0, 1);
                return zv::set_uerr(498);
            }
            zv::set_highest_written(f);
            if (int rc = redhdr(f, 0)) return rc;
            f->nodesize = zv::node_size_of(f);
            f->hdr.base.flmode = kOpnPermanent;
            return 0;
        }
        if (int16_t(g->sysiocod) == -766) return zv::set_uerr(766);
        if (plain == 0x401 || plain == 33) {
            fd = zv::mbcratx(f, f->name);
            if (fd < 0) return zv::set_uerr(96);
            f->fd = fd;
            zv::set_highest_written(f);
            f->hdr.base.verson = setverson(f);
            f->hdr.base.maxnamlen = 255;
            return wrthdr(f);
        }
        size_t n = strlen(name);
        if (!(mode & 64) || attempt == 1) break;
        if (n < 4) return zv::set_uerr(96);
        name[n - 1] = 'A';
    }
    return zv::set_uerr(96);
}

extern "C" {

ZV_API int OPNFIL(int filno, const char *name, uint16_t mode) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->uerr_cod = 0;
    g->sysiocod = 0;
    g->fileopt[0] &= ~kOpt1OpenMark;
    if (!name || !*name) return zv::set_uerr(130);
    if (strnlen(name, 256) > 255) return zv::set_uerr(139);
    if (!g->started || !g->fcbtab) return zv::set_uerr(47);
    if (filno < 0 || zv::grow_table_for(filno)) return zv::set_uerr(22);
    FCB *f = g->fcbtab[filno];
    if (f && f->state != 'n') return zv::set_uerr(46);
    if ((mode & (kOpenShared | kOpnReadOnly)) == (kOpenShared | kOpnReadOnly)) mode &= uint16_t(~kOpenShared);
    if (mode & 0x100) mode |= kOpnPermanent;
    // A superfile member whose swap a process left unfinished (its name
    // missing, or another member's) has the swap finished or voided from
    // its note first; not the opens of a rebuild, which repairs the host or
    // the set as it stands (the swap's renames and host writes would change
    // them under it): the next open after it finishes the swap.
    if (zvsname1(name) && !g->rebuilding) zv::swapnote_finish(name);
    int rc = iopnfilx(filno, name, mode);
    // A data file whose swap a process left unfinished (its name missing,
    // its segments mixed) has the swap finished from its note, and opens
    // as the new file. Not a file another open holds: its 12 is the lock's
    // (sysiocod the lock's errno), and the note is that open's business.
    const bool missing = rc == 12 && g->sysiocod == ENOENT;
    if ((missing || rc == 14 || rc == 676 || rc == 681) && !zvsname1(name) && zv::swapnote_finish(name)) {
        g->uerr_cod = 0;
        g->sysiocod = 0;
        rc = iopnfilx(filno, name, mode);
    }
    // A segmented data file or a partitioned host that opened whole beside
    // a swap's note: the note is void unless the new file has begun to take
    // its place, and a swap that has is finished (by an exclusive open).
    if (rc == 0 && !zvsname1(name) && g->fcbtab[filno]->kind != kKindIndex &&
        (g->fcbtab[filno]->segs || (g->fcbtab[filno]->hdr.ext.flmode2 & kFlmode2PartHost)))
        zv::swapnote_finish(name, filno);
    // A member whose host is not open opens the host and tries once more.
    if (rc == 413 && zvsname1(name) && zv::zvhstopn(nullptr, filno, name, mode) == 0) rc = iopnfilx(filno, name, mode);
    if (rc == 0 && g->fcbtab[filno]->kind != kKindIndex && !(g->fileopt[1] & kOpt2Mark)) zv::setzvEOK(filno, 0);
    return rc;
}

ZV_API int OPNFILX(int filno, const char *name, uint16_t mode, const void *) {
    return OPNFIL(filno, name, mode);
}

ZV_API int SetXtdFileOpenMode(int mode) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (mode & 0x07) return zv::set_uerr(454);
    g->xtdopenmode = uint16_t(mode);
    return zv::set_uerr(0);
}

}  // extern "C"
