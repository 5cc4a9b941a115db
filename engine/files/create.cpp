// File creation: data files, index files with room for additional members,
// the members themselves, and memory files.
//
// Creation validates everything it can before it makes the file, so that a
// refusal leaves nothing behind; a file that already exists is never
// touched (19 for a data file, 18 for an index). Once the file exists, any
// later failure closes and deletes it again. A created file is left open as
// if opened exclusively (state 'y'), with its header written: counters
// zero, update flag 0, and the bytes between the header and the first
// record or node filled with 0xFF.
//
// The caller's create block is never written: chkxcre hands out an engine
// copy, and the masks of word 10 apply to that copy.
#include "engine/files/create.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/filenum.h"
#include "engine/core/filerules.h"
#include "engine/core/fileops.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/files/close.h"
#include "engine/files/delete_rename.h"
#include "engine/files/fcbops.h"
#include "engine/files/fileenc.h"
#include "engine/files/header.h"
#include "engine/core/header_codec.h"
#include "engine/files/identity_services.h"
#include "engine/files/resource.h"
#include "engine/files/segments.h"
#include "engine/files/superfile.h"
#include "engine/files/xcreblk.h"
#include "engine/index/index_services.h"
#include "engine/isam/isam_services.h"

namespace {

// Most buckets a memory file's hash table may have.
constexpr uint64_t kMemBucketLimit = 1u << 20;
// Creation bytes of a new header.
constexpr uint8_t kFlavor = 2;  // little-endian integers
constexpr uint8_t kAlignment = 8;

// What creation needs of the request, collected once.
struct Request {
    int filno;
    const char *name;
    uint32_t xtdsize;
    uint16_t mode;     // file mode, masked
    XCREblk *x;        // engine copy of the caller's block, or null
    bool memory;
    uint64_t memsize;
};

bool all_free(int first, int last) {
    INSTGV *g = zvWNGV;
    for (int i = first; i <= last; i++) {
        FCB *f = g->fcbtab[i];
        if (f && f->state != 'n') return false;
    }
    return true;
}

uint32_t clamp16(uint32_t v) { return v > 0xFFFF ? 0xFFFF : v; }

// Header flags of the superfile member kinds a file mode names: 0x400 for
// 0x10, 0x200 for 0x20. A file carries them beyond the low bits of its
// flmode2: a host takes only members of the kinds its flags name, and the
// open refuses a permanent mode with 0x10 or 0x20 whose flags lack them.
uint16_t kind_flags(uint16_t mode) { return uint16_t(((mode & 0x10) ? 0x400 : 0) | ((mode & 0x20) ? 0x200 : 0)); }

// Word 10 of the engine's copy loses the bits creation does not keep.
void mask_word10(XCREblk *x) {
    if (!x) return;
    bool keep = zvWNGV->fileopt[0] & kOpt1KeepWord10;
    x->flags &= keep ? ~0x0F0u : ~0x8F0u;
}

// Extended options of the block (setexthdr): fills the extended part and
// flmode2 of the new header.
void apply_extended(FCB *f, const XCREblk *x) {
    FILEHDR &b = f->hdr.base;
    FILEHDRX &e = f->hdr.ext;
    memset(static_cast<void *>(&e), 0, sizeof e);
    e.nsegs = 1;
    e.crew15 = 0xFFFFFFFFu;
    if (!x) return;
    uint32_t m2 = x->mode;
    if (m2 & 0x800) m2 |= 0x10;
    if (!(m2 & (kFlmode2NoVariant | kFlmode2StdHeader))) m2 |= kFlmode2Variant;
    if (x->firstext) {
        e.firstext = x->firstext < 65536 ? 65536 : x->firstext;
        m2 |= kFlmode2FirstExt;
    }
    if (x->extsize) {
        e.extsiz32 = x->extsize < 65536 ? 65536 : x->extsize;
        m2 |= kFlmode2Ext32;
    }
    if (x->option7) {
        e.crew7 = x->option7;
        m2 |= kFlmode2Word7;
    }
    if (x->maxsizehi || x->maxsizelo) {
        e.maxsizh = x->maxsizehi;
        e.maxsizl = x->maxsizelo;
        m2 |= kFlmode2MaxSize;
    }
    e.crew9 = x->option9;
    e.crew14 = x->option14;
    if (x->nsegs > 1) e.nsegs = x->nsegs;
    if (m2 & 0x01000000) {
        e.crew15 = x->width15;
    } else if (m2 & kFlmode2PartHost) {
        uint32_t w = x->width15;
        e.crew15 = w == 0 ? 16 : w < 4 ? 28 : w > 32 ? 0 : 32 - w;
    }
    if (m2 & kFlmode2Features) {
        if (m2 & kFlmode2StdHeader) terr(8916);
        b.hdrflags2 |= kHdr2Ext384;
        e.xmark = kXtdMark;
    }
    e.flmode2 = m2;
    b.hdrflags = uint16_t(m2 & 0xFFFF);
}

// A cleared block for a new file: its name, mode and extended options; a
// memory file gets 8-byte offsets and the 384-byte extended part.
void start_header(FCB *f, const char *name, uint16_t mode, const XCREblk *x, bool memory) {
    zv::fcb_reset(f);
    snprintf(f->name, sizeof f->name, "%s", name);
    f->crflags |= kCrBusy;
    f->opnmode = mode;
    FILEHDR &b = f->hdr.base;
    FILEHDRX &e = f->hdr.ext;
    b.flmode = mode;
    apply_extended(f, x);
    if (memory) {
        e.flmode2 |= kFlmode2Memory | kHdr8ByteOffsets;
        b.hdrflags |= kHdr8ByteOffsets;
        b.hdrflags2 |= kHdr2Ext384;
        e.xmark = kXtdMark;
    }
}

// Memory-file options of the block: 0, 749 conflicting options, 454.
int check_memory(Request &r, uint16_t &filmod) {
    XCREblk *x = r.x;
    uint32_t listed = 0;
    if (zvmemfil(r.name, &listed) && x && !(x->mode & 0x00E00608) && x->nsegs <= 1 && !x->segsize &&
        !(filmod & 0x200)) {
        x->mode |= kFlmode2Memory;
        x->flags |= 0x04;
        x->maxsizehi = 0;
        x->maxsizelo = listed;
        if (filmod & 0x20) filmod = uint16_t((filmod & ~0x20) | 0x10);
    }
    if (x && (x->mode & kFlmode2Memory)) {
        r.memsize = zv::join64(x->maxsizehi, x->maxsizelo);
        if ((filmod & 0x220) || x->nsegs > 1 || (x->mode & 0x00E00608) || x->segsize || r.memsize == 0)
            return 749;
        r.memory = true;
    }
    if (x && (x->flags & 0x08)) return 454;
    return 0;
}

// Gives a memory file its bucket array: 0, 667 no bucket, 10 no memory.
int make_buckets(FCB *f, uint64_t memsize, uint64_t per) {
    uint64_t n = per ? memsize / per : 0;
    if (n > kMemBucketLimit) n = kMemBucketLimit;
    if (n == 0) return 667;
    f->membuckets = static_cast<void **>(mballc(size_t(n), 8));
    if (!f->membuckets) return 10;
    f->nmembuckets = uint32_t(n);
    f->fd = -2;
    return 0;
}

// Creates the system file: 0, or 19/18 exists, 17/16 cannot, 766.
int make_system_file(FCB *f, const Request &r, bool index) {
    INSTGV *g = zvWNGV;
    for (int attempt = 0; attempt < 2; attempt++) {
        int fd = zv::mbcratx(f, f->name);
        if (fd >= 0) {
            f->fd = fd;
            f->wrlock = kLockOpen;
            zv::note_file_identity(f);
            zv::set_highest_written(f);
            return 0;
        }
        if (g->uerr_cod == 19 || g->sysiocod == 17) return index ? 18 : 19;
        if (int16_t(g->sysiocod) == -766) return 766;
        bool dirs = (r.x && (r.x->flags & 0x1000)) || g->mkdirs;
        // The directories are named as the create names the file.
        int conv = g->nameconv == 3 ? 0 : 0x800;
        if (attempt == 0 && g->sysiocod == 2 && dirs && zvCreateDirs(f->name, conv) == 0) continue;
        break;
    }
    return index ? 16 : 17;
}

// An existing index file that its owner marked for replacement is removed
// so that it can be made anew (word 10 bit 0x02): true when it was removed.
bool remove_replaceable_index(FCB *f) {
    int fd = zv::mbopen(f, f->name, kOpnReadOnly);
    if (fd < 0) return false;
    f->fd = fd;
    unsigned char buf[512];
    int32_t got = 0;
    izvio81x(16, f, 0, 0, buf, 512, &got, 0);
    zvlclose(f, 0, 1);
    FILEHDRALL h{};
    if (zv::decode_base(buf, buf + got, &h.base) != 0) return false;
    if (got >= 512) zv::decode_ext(buf + 128, buf + got, 384, &h.ext);
    if (h.base.clstyp != kKindIndex || (h.ext.flmode3 & kFlmode3Replaceable) != kFlmode3Replaceable) return false;
    return dltfil(f->name) == 0;
}

// Fills the header area after the host header with 0xFF up to the first
// record or node, then writes the header.
int write_new_header(FCB *f, uint64_t first) {
    if (fcb_is_memory(f)) return 0;
    uint64_t from = zv::header_disk_size(f->hdr.base);
    if (first > from) {
        if (first > 0xFFFFFFFFull) terr(8994);
        if (int rc = zvfillff81(f, 0, uint32_t(from), uint32_t(first - from))) return rc;
    }
    return wrthdr(f);
}

// Version, creation bytes and counters of a new header (setver).
void set_creation_bytes(FCB *f) {
    FILEHDR &b = f->hdr.base;
    b.verson = setverson(f);
    b.flavor = kFlavor;
    b.align = kAlignment;
    b.ptrwidth = uint8_t(sizeof(void *));
    b.maxnamlen = 255;
    b.sernum = b.nument = b.delstk = b.root = b.reshdr = 0;
    f->hdr.ext.sernumh = f->hdr.ext.numenth = f->hdr.ext.delstkh = f->hdr.ext.rooth = f->hdr.ext.reshdrh = 0;
}

void set_ends(FCB *f, uint64_t first) {
    uint64_t last = first - 1;
    zv::split64(last, &f->hdr.ext.numrech, &f->hdr.base.numrec);
    zv::split64(last, &f->hdr.ext.phyendh, &f->hdr.base.phyend);
}

// The block becomes an open file: state 'y', in the ring, counted.
void enter_open(FCB *f, int32_t blocks) {
    INSTGV *g = zvWNGV;
    f->state = 'y';
    inrfil(f, 1);
    if ((g->fileopt[1] & kOpt2Mark) || (g->fileopt[2] & kOpt3Mark)) f->crflags |= kCrOption;
    g->nfiles++;
    g->nallfiles += blocks;
    if (!fcb_is_memory(f)) g->nphysfiles++;
}

// Closes and deletes a file whose creation failed after it was made.
void discard_new_file(int filno) {
    INSTGV *g = zvWNGV;
    FCB *f = g->fcbtab[filno];
    char name[256];
    memcpy(name, f->name, sizeof name);
    bool remove = !fcb_is_memory(f) && !(f->stflags & kStKeepOnCleanup);
    uint16_t uerr = g->uerr_cod;
    iclsfilx(filno, 0);
    if (remove) dltfil(name);
    g->uerr_cod = uerr;
}

// Node geometry of an index block (zvidxcap): key length, key type,
// duplicate flag and the capacities of leaf and non-leaf nodes.
int set_index_geometry(FCB *f, FCB *host, int32_t keylen, int keytype, int dup) {
    FILEHDR &b = f->hdr.base;
    bool ext = host->hdr.base.hdrflags & kHdrHasExt;
    bool wide = host->hdr.base.hdrflags & kHdr8ByteOffsets;
    int32_t ptr = wide ? 8 : 4;
    if (keylen > 1024) return 45;
    if (keylen < 0 || (dup != 0 && keylen < ptr)) return 582;
    if (keytype & 0x03) return 52;
    if (dup >= 3 && dup <= 5 && !ext) return 115;
    int32_t eff = keylen + ((keytype & 0x04) ? 1 : 0) + ((keytype & 0x08) ? 1 : 0);
    int32_t node = int32_t(f->nodesize);
    int32_t maxkbn = node - (wide ? 28 : 18);
    int32_t ent = eff + ptr;
    if (ent <= 0 || maxkbn / ent < 3) return 20;
    int32_t unit = dup == 1 ? eff : ent;
    int32_t entries = maxkbn / unit;
    auto leaf_bytes = [&](int32_t n) { return dup == 1 ? (n - 1) * eff : n * ent - eff; };
    int32_t node4 = node / 4;
    bool reserve = (b.flmode & 0x10) || (host->hdr.base.hdrflags & kHdrLeafReserve) || b.sfiltyp == kSfMember;
    if (reserve) {
        // A leaf of such an index keeps one control field per element
        // behind its high key, and +94, the leaves' element-count limit, is
        // the number of fields that fit there. Elements are taken from the
        // leaf until the fields cover every element of a full leaf, and
        // number at least max(key length / 12, 3) (half that with
        // compression), so that the bytes of a leaf, not its count, decide
        // when it splits.
        int32_t per = (host->hdr.ext.flmode2 & kFlmode2Variant) ? 6 : 4;
        int32_t least = eff / 12 > 3 ? eff / 12 : 3;
        if (keytype & 0x0C) least /= 2;
        auto fields = [&](int32_t n) { return (maxkbn - leaf_bytes(n) - keylen) / per; };
        while (entries > 2 && fields(entries) < (entries > least ? entries : least)) entries--;
        node4 = fields(entries);
    }
    b.maxkbn = uint16_t(maxkbn);
    b.maxkbl = uint16_t(leaf_bytes(entries));
    b.node4 = uint16_t(node4);
    b.keylen = uint16_t(keylen);
    b.ktype = uint8_t(keytype);
    b.autodup = uint8_t(dup);
    b.keypad = 0x20;
    b.deltyp = (keytype & 0x10) ? 1 : 0;
    b.clstyp = kKindIndex;
    FILEHDRX &x = f->hdr.ext;
    x.idxlayout = 4;
    x.levels = ext ? 0 : -1;
    x.dstlevels = ((zvWNGV->fileopt[0] & 1) && dup >= 3 && dup <= 5) ? -1 : 0;
    if (dup == 3 || dup == 4) host->hdr.base.hdrflags2 |= 0x6000;
    if (dup == 5) host->hdr.base.hdrflags2 |= 0x2000;
    if (ext && keylen > 255 && (keytype & 0x0C)) {
        x.cmpcnt = uint32_t((keylen - 1 + 254) / 255);
        host->hdr.base.hdrflags2 |= 0x1000;
    }
    return 0;
}

// Node size field of a header (chkrecsiz): sizes of 65536 and more are kept
// in units of 16384 and must be multiples of it (668).
int set_node_field(FCB *f, uint32_t node) {
    if (node >= 65536) {
        if (node % 16384) return 668;
        f->hdr.base.nodsiz = uint16_t(node / 16384);
    } else {
        f->hdr.base.nodsiz = uint16_t(node);
    }
    f->nodesize = node;
    return 0;
}

// Common start of a create: the engine's copy of the block, the name and
// the number. 0 or the error.
int begin_create(int filno, const char *name, const XCREblk *given, XCREblk **x) {
    INSTGV *g = zvWNGV;
    *x = nullptr;
    if (!name || !*name) return 130;
    if (strnlen(name, 256) > 255) return 139;
    if (!g->started || !g->fcbtab) return 47;
    if (filno < 0) return 22;
    if (int rc = chkxcre(given, 1, x)) return rc;
    mask_word10(*x);
    return 0;
}

int icredat8(Request &r, uint16_t reclen) {
    INSTGV *g = zvWNGV;
    XCREblk *x = r.x;
    if (!zv::filno_in_table(r.filno)) return 22;
    FCB *f = zvgetfcb(r.filno);
    if (!f) return g->uerr_cod;
    if (f->state != 'n') return 46;
    uint32_t nsegs = x && x->nsegs > 1 ? x->nsegs : 1;
    if (nsegs > 1 && !(x->mode & 0x200000)) return 977;
    // A segment size or the segmented bit makes the file segmented.
    bool segmented = x && (x->segsize || (x->mode & 0x08));
    if (segmented) x->mode |= 0x08;

    start_header(f, r.name, r.mode, x, r.memory);
    FILEHDR &b = f->hdr.base;
    FILEHDRX &e = f->hdr.ext;
    bool wide = b.hdrflags & kHdr8ByteOffsets;
    uint32_t w10 = x ? x->flags : 0;
    if (r.mode & kOpenVarlen) {
        uint32_t node = uint32_t(g->sectors) * 128;
        if (wide && g->sectors < 2) return 670;
        if (int rc = set_node_field(f, node)) return rc;
        int32_t maxkbn = int32_t(node) - (wide ? 28 : 18);
        int32_t ksz = wide ? 16 : 12;
        if (maxkbn / (4 * (wide ? 2 : 1) + ksz) <= 2) return 20;
        b.maxkbn = uint16_t(maxkbn);
        b.maxkbl = uint16_t(ksz * (maxkbn / ksz - 1));
        b.deltyp = 2;
        b.keylen = uint16_t(ksz);
        b.clstyp = kKindVariable;
        b.node4 = uint16_t(node / 4);
        if (w10 & 0x400) {
            if (w10 & 0x8200) return 937;
            e.flmode3 |= 0x400;
        }
    } else {
        if (reclen < (wide ? 9 : 5)) return 21;
        b.clstyp = kKindFixed;
        if (w10 & 0x8600) return 944;
    }
    if ((w10 & 0x2000) && (r.mode & 0x20) && !(w10 & 0x800)) return 48;
    if (w10 & 0x800) e.flmode3 |= 0x800;
    if (w10 & 0x2000) e.flmode3 |= 0x2000;

    b.sfiltyp = (r.mode & 0x200) ? kSfHost : kSfPlain;
    b.hdrflags2 |= kHdr2Data | ((b.hdrflags2 & kHdr2Ext384) ? kHdr2Ext384Bits : 0);
    b.reclen = reclen;
    b.autodup = 1;
    b.flpmode = uint16_t(r.mode & 0x86F4);
    // The configuration-version variant stays only with a superfile host
    // whose create block names member kinds that reserve leaf room (a kind
    // named by the file mode alone does not keep it); its members follow it.
    if (b.sfiltyp != kSfHost || !(e.flmode2 & kHdrLeafReserve)) e.flmode2 &= ~kFlmode2Variant;
    b.hdrflags = uint16_t((e.flmode2 & 0xFFFF) | kind_flags(r.mode));
    if ((e.flmode2 & 0x02000000) && (e.flmode2 & kFlmode2PartHost)) b.hdrflags2 |= kHdr2Partition;
    zv::set_derived_fields(f);
    if (r.memory || zvno_che(f, f->name)) f->opflags |= kOpNoCache;

    if (r.memory) {
        if (int rc = make_buckets(f, r.memsize, uint64_t(reclen) + 100)) return rc;
    } else if (int rc = make_system_file(f, r, false)) {
        zv::fcb_reset(f);
        return rc;
    }
    enter_open(f, 1);
    if (segmented) {
        if (int rc = zv::segmented_create(f, x->segsize, nsegs)) {
            discard_new_file(r.filno);
            return rc;
        }
    }

    set_creation_bytes(f);
    if (b.sfiltyp == kSfHost) b.maxnamlen = uint16_t(g->membernamemax);
    uint64_t first = b.clstyp == kKindVariable ? zv::first_node_offset(f) : zv::first_record_offset(f);
    set_ends(f, first);
    uint32_t step = r.xtdsize;
    if ((r.mode & 0x20) || (e.flmode2 & kFlmode2Ext32)) step = zv::zvsetextsiz(f, r.xtdsize, reclen);
    b.extsiz = uint16_t(clamp16(step));
    zv::zvsetlog(&b);
    int rc = write_new_header(f, first);
    // The space index of a variable-length file works with key buffers.
    if (!rc && b.clstyp == kKindVariable) rc = zvgetkbf(f, b.keylen);
    if (rc) {
        discard_new_file(r.filno);
        return rc;
    }
    f->crflags &= ~kCrBusy;
    return 0;
}

// Steps after the file exists: resources, data-access resources,
// encryption and partition resources. 0 or the error; the file stays.
// *resource_failed tells whether the resource step itself failed.
int data_resources(int filno, uint16_t mode, const XCREblk *x, bool memory, bool *keep) {
    INSTGV *g = zvWNGV;
    FCB *f = g->fcbtab[filno];
    int rc = 0;
    bool resource_step = false;
    *keep = false;
    if (!(mode & 0x800)) {
        resource_step = true;
        rc = ENARES(filno);
        if (!rc && (f->hdr.base.hdrflags & kHdrHasExt)) rc = ADDDAR(filno, nullptr, 0);
    }
    if (rc && resource_step && (f->hdr.ext.flmode2 & 0x810)) {
        *keep = true;
        return rc;
    }
    if (!rc && resource_step) rc = zv::zvsetmges(f, filno);
    if (!rc && zv::camo_wanted(x ? x->cipher : 0) && !(mode & 0x800) && !memory &&
        !(f->hdr.base.hdrflags & 0x100) && f->hdr.base.sfiltyp != kSfMember)
        rc = zv::zvsetcamo(f, x ? x->cipher : 0, filno) ? g->uerr_cod : 0;
    if (!rc && (f->hdr.ext.flmode2 & kFlmode2PartHost)) rc = zv::zvsetpres(f, filno);
    return rc;
}

int finish_data_create(const Request &r) {
    bool keep = false;
    int rc = data_resources(r.filno, r.mode, r.x, r.memory, &keep);
    if (rc && !keep) discard_new_file(r.filno);
    return rc;
}

int credat(int filno, const char *name, uint16_t reclen, uint32_t xtdsize, uint16_t filmod,
           const XCREblk *given) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    zv::set_uerr(0);
    Request r{};
    r.filno = filno;
    r.name = name;
    r.xtdsize = xtdsize;
    int rc = begin_create(filno, name, given, &r.x);
    if (!rc && zv::grow_table_for(filno)) rc = 22;
    if (!rc) rc = check_memory(r, filmod);
    bool host = filmod & 0x200;
    if (!rc && zvsname1(name)) {
        // A member of a superfile host; a host cannot be a member.
        rc = host ? 414 : zv::superfile_member_create(filno, name, reclen, -1, 0, 0, uint16_t(filmod & 0x7FF6), r.x);
        clrxcre(r.x);
        return zv::set_uerr(rc);
    }
    if (!rc && host) {
        // A host is a variable-length file of page-sized nodes.
        if (!(xtdsize & 0x8000) && !(r.x && r.x->extsize)) r.xtdsize = 32768;
        reclen = 0;
        filmod |= 0x0006;
    }
    if (!rc) {
        r.mode = uint16_t(filmod & 0x7FF6);
        rc = icredat8(r, reclen);
        if (!rc) rc = finish_data_create(r);
        if (!rc && host && (rc = zv::zvcresi(filno, r.mode)) != 0) {
            suppressDEL(filno);
            uint16_t keep = uint16_t(rc);
            DELFIL(filno);
            rc = keep;
        }
    }
    clrxcre(r.x);
    return zv::set_uerr(rc);
}

int creidx(int filno, const char *name, int32_t keylen, int keytype, int dupflag, int nmembers,
           uint32_t xtdsize, uint16_t filmod, const XCREblk *given) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    zv::set_uerr(0);
    Request r{};
    r.filno = filno;
    r.name = name;
    r.xtdsize = xtdsize;
    int rc = begin_create(filno, name, given, &r.x);
    XCREblk *x = r.x;
    if (!rc && x) x->flags &= ~0x600u;
    if (!rc && (nmembers < 0 || nmembers > 127)) rc = 23;
    if (!rc && zv::grow_table_for(filno + nmembers)) rc = 22;
    if (!rc && !all_free(filno, filno + nmembers)) rc = 46;
    if (!rc && (dupflag < 0 || dupflag >= 6)) rc = 115;
    uint32_t nsegs = x && x->nsegs > 1 ? x->nsegs : 1;
    if (!rc && nsegs > 1 && !(x->mode & 0x200000)) rc = 977;
    if (!rc && !(g->fileopt[0] & kOpt1KeyTypeBits)) keytype &= ~0x60;
    if (!rc) rc = check_memory(r, filmod);
    if (!rc && (filmod & 0x200)) rc = zvsname1(name) ? 414 : 454;
    if (!rc && zvsname1(name)) {
        rc = zv::superfile_member_create(filno, name, keylen, keytype, dupflag, nmembers,
                                         uint16_t(filmod & 0x7FF6), x);
        clrxcre(x);
        return zv::set_uerr(rc);
    }
    if (rc) {
        clrxcre(x);
        return zv::set_uerr(rc);
    }

    FCB *f = zvgetfcb(filno);
    if (!f) {
        clrxcre(x);
        return g->uerr_cod;
    }
    // Segments are for data files.
    if (x && (x->segsize || (x->mode & 0x08))) {
        clrxcre(x);
        return zv::set_uerr(454);
    }
    r.mode = uint16_t(filmod & 0x7FF6);
    start_header(f, name, r.mode, x, r.memory);
    FILEHDR &b = f->hdr.base;
    FILEHDRX &e = f->hdr.ext;
    uint32_t w10 = x ? x->flags : 0;
    // The configuration-version variant stays only with leaf reservation.
    if (!(e.flmode2 & kHdrLeafReserve)) e.flmode2 &= ~kFlmode2Variant;
    // The kind's flags are in place before the geometry, which reserves leaf
    // room for them (the 0x10 that mode 0x20 adds comes after).
    b.hdrflags = uint16_t((e.flmode2 & 0xFFFF) | kind_flags(r.mode));
    b.hdrflags2 |= kHdr2Index | ((b.hdrflags2 & kHdr2Ext384) ? kHdr2Ext384Bits : 0);
    if (w10 & 0x02) e.flmode3 |= kFlmode3Replaceable;
    if ((w10 & 0x2000) && (r.mode & 0x20)) rc = 48;
    if (!rc) rc = set_node_field(f, uint32_t(g->sectors) * 128);
    if (!rc) rc = set_index_geometry(f, f, keylen, keytype, dupflag);
    if (!rc && r.memory) rc = make_buckets(f, r.memsize, uint64_t(g->sectors) * 128 + 1232);
    if (rc) {
        if (f->membuckets) mbfree(f->membuckets);
        zv::fcb_reset(f);
        clrxcre(x);
        return zv::set_uerr(rc);
    }
    b.nmem = uint16_t(nmembers);
    b.sfiltyp = kSfPlain;
    if (r.mode & 0x20) {
        b.flmode |= 0x10;
        b.flpmode = uint16_t((r.mode & 0x86F4) | 0x30);
    } else {
        b.flpmode = uint16_t(r.mode & 0x86F4);
    }
    zv::set_derived_fields(f);

    if (!r.memory) {
        rc = make_system_file(f, r, true);
        if (rc == 18 && (w10 & 0x02) && remove_replaceable_index(f)) rc = make_system_file(f, r, true);
        if (rc) {
            zv::fcb_reset(f);
            clrxcre(x);
            return zv::set_uerr(rc);
        }
    }
    // The member blocks stay reserved ('m') for CREMEM.
    FCB *prev = f;
    for (int k = 1; k <= nmembers && !rc; k++) {
        FCB *m = zvgetfcb(filno + k);
        if (!m) {
            rc = g->uerr_cod;
            break;
        }
        zv::fcb_reset(m);
        m->hostfcb = f;
        m->state = 'm';
        m->kind = kKindIndex;
        m->opflags |= kOpMember;
        memcpy(m->name, f->name, sizeof m->name);
        prev->nextmember = m;
        prev = m;
    }
    enter_open(f, 1 + nmembers);
    if (rc) {
        discard_new_file(filno);
        clrxcre(x);
        return zv::set_uerr(rc);
    }
    set_creation_bytes(f);
    uint64_t first = zv::first_node_offset(f);
    set_ends(f, first);
    uint32_t step = xtdsize;
    if ((r.mode & 0x20) || (e.flmode2 & kFlmode2Ext32)) step = zv::zvsetextsiz(f, xtdsize, f->nodesize);
    b.extsiz = uint16_t(clamp16(step));
    zv::zvsetlog(&b);
    rc = zvgetkbf(f, keylen);
    if (!rc) rc = write_new_header(f, first);
    // An index is encrypted like a data file: its key stored in a security
    // resource of its own.
    if (!rc && zv::camo_wanted(x ? x->cipher : 0) && !(r.mode & 0x800) && !r.memory &&
        !(b.hdrflags & 0x100))
        rc = zv::zvsetcamo(f, x ? x->cipher : 0, filno) ? g->uerr_cod : 0;
    if (rc) discard_new_file(filno);
    else f->crflags &= ~kCrBusy;
    clrxcre(x);
    return zv::set_uerr(rc);
}

// 1 when path names a directory, 0 when nothing (or a file) is there, -1
// when it cannot be asked.
int is_directory(const char *path) {
    zv::PlatStat st{};
    if (zv::plat_stat(path, &st) != 0) return errno == ENOENT || errno == ENOTDIR ? 0 : -1;
    return st.is_dir ? 1 : 0;
}

}  // namespace

namespace zv {

int icremember(FCB *host, int filno, const char *name, uint64_t hdrpos, uint32_t mno, int32_t len, int keytype,
               int dup, int nmem, uint16_t mode) {
    INSTGV *g = zvWNGV;
    if (!filno_in_table(filno)) return 22;
    FCB *f = zvgetfcb(filno);
    if (!f) return g->uerr_cod;
    if (f->state != 'n') return 46;
    const FILEHDR &hb = host->hdr.base;
    const bool index = keytype >= 0;
    const uint16_t kinds = mode & 0x30;
    // Member kinds must be those the host was made for.
    if (kind_flags(mode) & ~hb.hdrflags) return 419;
    if (index && (nmem < 0 || nmem > 127)) return 23;
    if (index && nmem > 0) {
        if (grow_table_for(filno + nmem)) return 22;
        if (!all_free(filno + 1, filno + nmem)) return 46;
    }

    fcb_reset(f);
    snprintf(f->name, sizeof f->name, "%s", name);
    f->crflags |= kCrBusy;
    f->opnmode = mode;
    f->hostfcb = host;
    f->sflink = host;
    f->opflags |= kOpMember;
    split64(hdrpos, &f->hposh, &f->hposl);
    FILEHDR &b = f->hdr.base;
    FILEHDRX &e = f->hdr.ext;
    // The header follows the host's form: extended with the host, with its
    // offset width and its configuration-version variant. An index member
    // made for a kind keeps the variant whatever its host's.
    uint32_t m2 = hb.hdrflags & 0x852u;
    if ((host->hdr.ext.flmode2 & kFlmode2Variant) || (index && kinds)) m2 |= kFlmode2Variant;
    e.nsegs = 1;
    e.crew15 = 0xFFFFFFFFu;
    if (hb.hdrflags & kHdrHasExt) {
        b.hdrflags2 |= kHdr2Ext384;
        e.xmark = kXtdMark;
    }
    e.flmode2 = m2;
    b.flmode = mode;
    b.flpmode = uint16_t(kinds ? 0x86C4 & mode : mode & 0x86F4);
    if (kinds) b.flmode &= uint16_t(~0x30);
    b.hdrflags = uint16_t((m2 & 0xFFFF) | kind_flags(mode));
    b.sfiltyp = kSfMember;
    b.supmbr = mno;
    const bool wide = b.hdrflags & kHdr8ByteOffsets;
    const uint32_t wrap = wide ? 22 : 18;
    int rc = 0;
    if (index) {
        b.hdrflags2 |= kHdr2Index | ((b.hdrflags2 & kHdr2Ext384) ? kHdr2Ext384Bits : 0);
        rc = set_node_field(f, uint32_t(g->sectors) * 128 - wrap);
        if (!rc) rc = set_index_geometry(f, f, len, keytype, dup);
        b.nmem = uint16_t(nmem);
    } else {
        b.hdrflags2 |= kHdr2Data | ((b.hdrflags2 & kHdr2Ext384) ? kHdr2Ext384Bits : 0);
        b.autodup = 1;
        b.reclen = uint16_t(len);
        if (mode & kOpenVarlen) {
            uint32_t node = host->nodesize - wrap;
            rc = set_node_field(f, node);
            int32_t maxkbn = int32_t(node) - (wide ? 28 : 18);
            int32_t ksz = wide ? 16 : 12;
            if (!rc && maxkbn / (4 * (wide ? 2 : 1) + ksz) <= 2) rc = 20;
            b.maxkbn = uint16_t(maxkbn);
            b.maxkbl = uint16_t(ksz * (maxkbn / ksz - 1));
            b.deltyp = 2;
            b.keylen = uint16_t(ksz);
            b.clstyp = kKindVariable;
            b.node4 = uint16_t(node / 4);
        } else {
            if (len < (wide ? 9 : 5)) rc = 21;
            b.clstyp = kKindFixed;
        }
    }
    if (rc) {
        fcb_reset(f);
        return rc;
    }
    set_derived_fields(f);
    if (host->opflags & kOpNoCache) f->opflags |= kOpNoCache;
    set_creation_bytes(f);
    b.maxnamlen = uint16_t(g->membernamemax);
    b.phyend = b.numrec = 0xFFFFFFFFu;
    e.phyendh = e.numrech = wide ? 0xFFFFFFFFu : 0;
    b.extsiz = 0;
    b.hdrpos = f->hposl;
    e.hdrposh = f->hposh;
    zvsetlog(&b);
    if (index) {
        FCB *prev = f;
        for (int k = 1; k <= nmem; k++) {
            FCB *m = zvgetfcb(filno + k);
            if (!m) {
                rc = g->uerr_cod;
                break;
            }
            fcb_reset(m);
            m->hostfcb = f;
            m->state = 'm';
            m->kind = kKindIndex;
            m->opflags |= kOpMember;
            memcpy(m->name, f->name, sizeof m->name);
            prev->nextmember = m;
            prev = m;
        }
        if (!rc) rc = zvgetkbf(f, len);
    }
    if (!rc) rc = wrthdr(f);
    if (rc) {
        free_key_buffers(f);
        for (FCB *m = f->nextmember; m;) {
            FCB *next = m->nextmember;
            fcb_reset(m);
            m = next;
        }
        fcb_reset(f);
        return rc;
    }
    f->state = 'y';
    if ((g->fileopt[1] & kOpt2Mark) || (g->fileopt[2] & kOpt3Mark)) f->crflags |= kCrOption;
    g->nfiles++;
    g->nallfiles += 1 + (index ? nmem : 0);
    f->crflags &= ~kCrBusy;
    return 0;
}

int create_resources(int filno, uint16_t mode) {
    bool keep = false;
    return data_resources(filno, mode, nullptr, false, &keep);
}

int zvidxcap(FCB *f, FCB *host, int32_t keylen, int keytype, int dup) {
    return set_index_geometry(f, host, keylen, keytype, dup);
}

}  // namespace zv

int zvCreateDirs(const char *name, int mode) {
    if (!name || strnlen(name, 256) > 255) return zv::set_uerr(749);
    char path[256];
    snprintf(path, sizeof path, "%s", name);
    if (!(mode & 0x800) && zv::zvcnvfn(path) > 0) return zv::set_uerr(749);
    char *slash = strrchr(path, '/');
    if (!slash || slash == path) return 0;
    *slash = '\0';
    size_t len = strlen(path);
    char probe[256];
    // Walk up, one component at a time, to the longest prefix that exists.
    size_t end = len, exist = 0;
    for (int levels = 0;; levels++) {
        memcpy(probe, path, end);
        probe[end] = '\0';
        int is = is_directory(probe);
        if (is == 1) {
            exist = end;
            break;
        }
        if (is < 0) return zv::set_uerr(126);
        if (levels >= 63) return zv::set_uerr(749);
        size_t k = end;
        while (k > 0 && path[k - 1] != '/') k--;
        if (k <= 1) break;
        end = k - 1;
    }
    // Then make each missing directory top down; one made meanwhile is fine.
    for (size_t i = exist + 1; i <= len; i++) {
        if ((i < len && path[i] != '/') || path[i - 1] == '/') continue;
        memcpy(probe, path, i);
        probe[i] = '\0';
        if (zv::plat_mkdir(probe, 0775) != 0 && is_directory(probe) != 1) return zv::set_uerr(126);
    }
    return 0;
}

extern "C" {

ZV_API int CREDATX8(int filno, const char *name, uint16_t reclen, uint32_t xtdsize, uint16_t filmod,
                    int32_t, const char *, const char *, XCREblk *xcre) {
    return credat(filno, name, reclen, xtdsize, filmod, xcre);
}

ZV_API int CREDATX(int filno, const char *name, uint16_t reclen, uint32_t xtdsize, uint16_t filmod,
                   int32_t, const char *, const char *) {
    return credat(filno, name, reclen, xtdsize, filmod, ZV_XCRE_DEFAULT);
}

ZV_API int CREDAT(int filno, const char *name, uint16_t reclen, uint32_t xtdsize, uint16_t filmod) {
    return credat(filno, name, reclen, xtdsize, filmod, ZV_XCRE_DEFAULT);
}

ZV_API int CREIDXX8(int filno, const char *name, int32_t keylen, int keytype, int dupflag,
                    int nmembers, uint32_t xtdsize, uint16_t filmod, int32_t, const char *,
                    const char *, XCREblk *xcre) {
    return creidx(filno, name, keylen, keytype, dupflag, nmembers, xtdsize, filmod, xcre);
}

ZV_API int CREIDXX(int filno, const char *name, int32_t keylen, int keytype, int dupflag,
                   int nmembers, uint32_t xtdsize, uint16_t filmod, int32_t, const char *,
                   const char *) {
    return creidx(filno, name, keylen, keytype, dupflag, nmembers, xtdsize, filmod, ZV_XCRE_DEFAULT);
}

ZV_API int CREIDX(int filno, const char *name, int32_t keylen, int keytype, int dupflag,
                  int nmembers, uint32_t xtdsize, uint16_t filmod) {
    return creidx(filno, name, keylen, keytype, dupflag, nmembers, xtdsize, filmod, ZV_XCRE_DEFAULT);
}

ZV_API int CREMEMX(int hostno, int32_t keylen, int keytype, int dupflag, int member, int memfilno) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *h = tstfnm(hostno);
    if (!h) return g->uerr_cod;
    // The host index: its own host, or a superfile member index.
    if (h->kind != kKindIndex || h->hdr.base.kmem != 0 || (h->hostfcb != h && h->hdr.base.sfiltyp != kSfMember))
        return zv::set_uerr(48);
    if (member < 1 || member > int(h->hdr.base.nmem)) return zv::set_uerr(23);
    if (h->hdr.base.flmode & 0x09) return zv::set_uerr(62);
    if (dupflag < 0 || dupflag >= 6) return zv::set_uerr(115);
    FCB *m = h->nextmember;
    for (int k = 1; m && k < member; k++) m = m->nextmember;
    if (!m || m->state != 'm' || int(m->filno) != memfilno) return zv::set_uerr(46);
    if (!(g->fileopt[0] & kOpt1KeyTypeBits)) keytype &= ~0x60;

    // Build the member's header aside, so that a refusal changes nothing.
    FCB work;
    memcpy(static_cast<void *>(&work), m, sizeof work);
    FILEHDR &b = work.hdr.base;
    FILEHDRX &e = work.hdr.ext;
    memset(static_cast<void *>(&work.hdr), 0, sizeof work.hdr);
    const FILEHDR &hb = h->hdr.base;
    b.hdrflags = hb.hdrflags;
    b.hdrflags2 = hb.hdrflags2 & ~kHdr2Partition;
    b.flmode = hb.flmode;
    b.flpmode = hb.flpmode;
    b.sfiltyp = hb.sfiltyp;
    // The member shares the host's unique id (all three words), as its
    // twins are found by it.
    b.fileid = hb.fileid;
    b.servid = hb.servid;
    b.cretime = hb.cretime;
    e.flmode2 = h->hdr.ext.flmode2;
    e.flmode3 = h->hdr.ext.flmode3;
    e.xmark = h->hdr.ext.xmark;
    e.nsegs = h->hdr.ext.nsegs;
    e.crew15 = 0xFFFFFFFFu;
    b.nodsiz = hb.nodsiz;
    work.nodesize = h->nodesize;
    b.kmem = uint16_t(member);
    if (int rc = set_index_geometry(&work, h, keylen, keytype, dupflag)) return zv::set_uerr(rc);
    b.verson = hb.verson;
    b.flavor = hb.flavor;
    b.align = hb.align;
    b.ptrwidth = hb.ptrwidth;
    b.maxnamlen = hb.maxnamlen;
    b.phyend = b.numrec = 0xFFFFFFFFu;
    e.phyendh = e.numrech = (hb.hdrflags & kHdr8ByteOffsets) ? 0xFFFFFFFFu : 0;
    b.extsiz = 0xFFFF;
    zv::split64(zv::join64(h->hposh, h->hposl) + uint64_t(zv::member_header_step(hb)) * uint64_t(member),
                &work.hposh, &work.hposl);
    b.hdrpos = work.hposl;
    e.hdrposh = work.hposh;

    if (int rc = tstupd(h)) return rc;
    memcpy(static_cast<void *>(m), &work, sizeof work);
    zv::set_derived_fields(m);
    m->hdr.base.updflg = h->hdr.base.updflg;
    if (int rc = wrthdr(m)) {
        m->hdr.base.updflg = 0;
        return zv::set_uerr(rc);
    }
    if (int rc = zvgetkbf(m, keylen)) return rc;
    m->state = 'y';
    return zv::set_uerr(0);
}

ZV_API int CREMEM(int hostno, int32_t keylen, int keytype, int dupflag, int member) {
    return CREMEMX(hostno, keylen, keytype, dupflag, member, hostno + member);
}

}  // extern "C"
