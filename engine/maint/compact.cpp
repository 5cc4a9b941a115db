// Compaction: a closed file set rewritten so that its data file holds no
// deleted space.
//
// The record copy (CMPDATX8) walks the old data file in file order and
// writes every live record and every resource of the user into a new data
// file beside it. The set run (CMPIFILz) then creates every index file
// again beside its old one, carries the old file's resources over and loads
// it from the new record positions with the index phase of the set rebuild
// (rblifil.cpp): the external sort and the bulk load, the reject report and
// the purge. Only then are the files swapped.
//
// Invariants of a run:
//  1. Until every new file is complete and closed, no file of the original
//     set is written, renamed or deleted: the new data file and the new
//     index files live under temporary names drawn in their own files'
//     directories. (Index files that are superfile members are the one
//     exception: they are loaded again in place, and loaded from the
//     original data file once more when a later step fails.)
//  2. The swap is one sequence of renames (fileswap.cpp): the new files
//     are first marked as not closed cleanly; each original keeps a second
//     name beside it, and the new file is renamed over it in one step (a
//     segmented original is parked under a temporary name first). A kill
//     between two renames leaves every name holding its original or its new
//     file, never none, and the set answering 14 until the marks are
//     cleared after the last rename; the rebuild then repairs it from the
//     data file it finds, old or new, which holds every record. A failing
//     rename undoes the ones before it in reverse order (each kept original
//     renamed back over its new file). The kept originals are deleted only
//     after the marks are cleared.
//  3. A failure leaves no new or temporary file behind, and the original
//     files byte for byte as they were under their own names.
//  4. The old data file is only read: a damaged stretch that the tolerant
//     walk skips stays as it is in the old file.
//  5. A set with a file that another open holds (the data file or an index
//     file, shared or exclusive, in any process or instance) is refused
//     with 12 before the run starts. From its first check to its end the
//     run holds every file of the set (filehold.h), and every new file
//     from before the first rename: no other open reaches them meanwhile,
//     and so nothing another process writes is lost in the swap.
//
// The copy reads each live record once into the rebuild's work buffer
// (which only grows) and writes it once; nothing is allocated per record.
#include <cstring>
#include <new>
#include <vector>

#include "engine/core/arith.h"
#include "engine/core/bytes.h"
#include "engine/core/filenum.h"
#include "engine/core/fileio.h"
#include "engine/core/fileops.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/core/statuslog.h"
#include "engine/crypto/crypto_files.h"
#include "engine/files/close.h"
#include "engine/core/fcb.h"
#include "engine/files/fixrec.h"
#include "engine/files/header.h"
#include "engine/files/identity_services.h"
#include "engine/files/resource.h"
#include "engine/files/segments.h"
#include "engine/files/superfile.h"
#include "engine/files/varrec.h"
#include "engine/files/xcreblk.h"
#include "engine/index/defblock.h"
#include "engine/index/segmode.h"
#include "engine/isam/fileset.h"
#include "engine/isam/ifil.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"
#include "engine/isam/isamrec.h"
#include "engine/maint/datscan.h"
#include "engine/maint/maintstate.h"
#include "engine/maint/rblifil.h"
#include "engine/maint/rblstate.h"
#include "engine/maint/slotread.h"
#include "zarvo/zarvo.h"

ZV_API uint32_t cmpchgenc = 0;

namespace zv {

namespace {

constexpr uint32_t kPartitionBits = 0xC00000u;
constexpr int kCmpAllowed = 0x3FE;
// Attribute bits of the old file's extended flags that the new one takes:
// its first extent size and its way of keeping freed space.
constexpr uint32_t kCarriedFlmode2 = 0x40000u | 0x10000000u;
constexpr uint32_t kAutoSegments = 0x200000u;

bool wide(const FCB *f) { return (f->hdr.base.hdrflags & kHdr8ByteOffsets) != 0; }
bool open_state(const FCB *f) { return f && (f->state == 'y' || f->state == 'v' || f->state == 'w'); }
uint64_t last_used(const FCB *f) { return join64(f->hdr.ext.numrech, f->hdr.base.numrec); }

// A status-log line; a code other than 0 follows it.
void log_line(const char *text, int code = 0) { zvrcvlog(text, kLogSingleTry - code); }

// ---- The record copy ----------------------------------------------------------------

struct Copy {
    int newno = 0, oldno = 0;
    FCB *nf = nullptr, *of = nullptr;
    const CMPBLK *blk = nullptr;
    bool serial = false;
    uint64_t anchor = 0;                // the old file's resource anchor (its own, never copied)
    std::vector<unsigned char> res;     // one resource body; grows
};

// Step 3: the serial segment of the last index that has one, placed in the
// old file's record. 0 (*off 1-based, 0 when there is none) or an error.
int serial_field(const IFIL *ifil, FCB *old, int32_t *off, int32_t *len) {
    *off = *len = 0;
    const ISEG *found = nullptr;
    for (int k = 0; k < ifil->dnumidx && ifil->iidxarr; k++) {
        const IIDX &x = ifil->iidxarr[k];
        for (int s = 0; s < x.inumseg && x.isegarr; s++) {
            const int base = x.isegarr[s].segmode & kSegBaseMask;
            if (base == 3 || base == 257) {
                found = &x.isegarr[s];
                break;
            }
        }
    }
    if (!found) return 0;
    if ((found->segmode & kSegBaseMask) == 257 && !schema_map(old)) return 199;
    // The pair is located on the old file's block and handed on; the block
    // keeps what it had.
    const int32_t keeppos = old->serpos, keeplen = old->srllen;
    old->serpos = 0;
    old->srllen = 0;
    int rc = zvsrlseg(old, off, len, -1, -1, found);
    old->serpos = keeppos;
    old->srllen = keeplen;
    if (!rc && *len <= 0) *off = 0;
    return rc;
}

// Copies the resource at pos of the old file into the new one, unless it
// is one of the file's own: its resource anchor, the security record (0/6),
// the segment definitions (0/7, 0/8) and 0/2; a data-access anchor (type 11
// without a kind) is made by the new file itself. 0 or an error.
int copy_resource(Copy &c, uint64_t pos, uint32_t usedlen) {
    if (usedlen < 8 || pos == c.anchor) return 0;
    if (c.res.size() < usedlen) c.res.resize(usedlen);
    unsigned char key[8];
    if (wide(c.of)) {
        const uint32_t hi = uint32_t(pos >> 32), lo = uint32_t(pos);
        memcpy(key, &hi, 4);
        memcpy(key + 4, &lo, 4);
    } else {
        const uint32_t lo = uint32_t(pos);
        memcpy(key, &lo, 4);
    }
    GETRES(c.oldno, key, c.res.data(), int32_t(usedlen), 0x120);
    if (int rc = zvWNGV->uerr_cod) return rc;
    unsigned char *body = c.res.data();
    uint32_t type, number;
    memcpy(&type, body, 4);
    memcpy(&number, body + 4, 4);
    if (type == 0 && (number == 0 || number == 2 || number == 6 || number == 7 || number == 8)) return 0;
    int rc;
    if (type == 11) {
        if (usedlen < 20 || le::get32(body + 16) == 0) return 0;
        rc = ADDDAR(c.newno, body, int32_t(usedlen));
    } else {
        rc = ADDRES(c.newno, body, int32_t(usedlen));
    }
    if (rc == 405) rc = set_uerr(0);
    return rc;
}

// Writes one live record (in the work buffer) into the new file: new space,
// a new serial number when asked, the write, the lock released. 0 or an
// error.
int copy_record(Copy &c, unsigned char *rec, int32_t len) {
    INSTGV *g = zvWNGV;
    RblState &rs = maint_state(g).rbl;
    const bool variable = c.nf->kind == kKindVariable;
    zvSETHGH(0);
    const uint32_t lo = variable ? NEWVREC(c.newno, len) : NEWREC(c.newno);
    const uint32_t hi = uint32_t(zvGETHGH());
    if (!lo && !hi) return g->uerr_cod ? g->uerr_cod : 39;
    if (c.serial) setsrlpos(c.nf, rec);
    zvSETHGH(int32_t(hi));
    if (int rc = variable ? WRTVREC(c.newno, lo, rec, len) : WRTREC(c.newno, lo, rec)) return rc;
    rs.copywrites++;
    zvSETHGH(int32_t(hi));
    LOKREC(c.newno, 0, lo);
    return rbl_count(kRblRecord);
}

// The walk of a fixed-length file: record slots from the first record
// position; 0xFF a deleted record, 0xFE 0xFE a resource (stepped over by its
// area in whole records, at least one); the end of the file (30) ends it.
int walk_fixed(Copy &c) {
    FCB *o = c.of;
    const uint32_t r = o->hdr.base.reclen;
    if (r == 0) return 122;
    unsigned char *rec = rbgetbuf(int32_t(r));
    if (!rec) return 120;
    const uint64_t first = begbytfix(o);
    const uint64_t end = last_used(o);
    const uint64_t slots = end >= first ? (end - first) / r + 1 : 0;
    uint64_t steps = 0;
    SlotReader reader(c.oldno, o, rec);
    for (uint64_t pos = first;;) {
        if (++steps > slots + 1) return 512;
        int rc = 0;
        rec = reader.at(pos, &rc);
        if (rc == 30) return set_uerr(0);
        if (!rec) return rc;
        if (rec[0] == 0xFF) {
            pos += r;
            continue;
        }
        if (r >= 2 && rec[0] == 0xFE && rec[1] == 0xFE) {
            RESHDR h;
            if ((rc = getrhdr(o, pos, &h)) != 0) return rc;
            if ((rc = copy_resource(c, pos, h.usedlen)) != 0) return rc;
            const uint64_t span = (uint64_t(h.arealen) + r - 1) / r * r;
            pos += span > r ? span : r;
            continue;
        }
        maint_state(zvWNGV).rbl.copyreads++;
        if ((rc = copy_record(c, rec, int32_t(r))) != 0) return rc;
        pos += r;
    }
}

// The walk of a variable-length file: area headers from the first record
// position. Damage (a mark or lengths no area can have) ends the copy with
// 1107, or in the tolerant walk is skipped up to the next plausible header.
int walk_variable(Copy &c) {
    FCB *o = c.of;
    const uint32_t unit = vhdr_size(o);
    const uint64_t end = last_used(o) + 1;
    const uint64_t bound = end / 10;
    uint64_t count = 0;
    for (uint64_t pos = first_node_offset(o); pos != 0 && pos < end;) {
        if (++count > bound) return 512;
        VRECHDR h;
        int rc = getvhdr81(o, uint32_t(pos >> 32), uint32_t(pos), &h);
        if (rc == 36) return set_uerr(0);
        if (rc) return rc;
        const int32_t area = int32_t(h.arealen), data = int32_t(h.reclen);
        bool damage = false;
        if (area > 0 && area > data && data > 0) {
            switch (h.mark) {
            case kVrecUsed: {
                unsigned char *rec = rbgetbuf(data);
                if (!rec) return 120;
                int32_t got = 0;
                zvSETHGH(int32_t(pos >> 32));
                if ((rc = iRDVREC(c.oldno, uint32_t(pos), rec, data, 1, &got)) != 0) return rc;
                maint_state(zvWNGV).rbl.copyreads++;
                if ((rc = copy_record(c, rec, got)) != 0) return rc;
                break;
            }
            case kVrecResource:
                if ((rc = copy_resource(c, pos, uint32_t(data))) != 0) return rc;
                break;
            case kVrecFree:
            case kVrecNode: break;
            default: damage = true;
            }
        } else if (area > 0 && area > data) {
            damage = h.mark != kVrecFree && h.mark != kVrecNode;
        } else {
            damage = true;
        }
        if (!damage) {
            pos += uint32_t(area);
            continue;
        }
        if (c.blk->strict) return 1107;
        uint64_t q = pos + unit;
        for (; q < end; q++) {
            int m = zvscnmrk81(o, q, end, 0);
            if (m < 0) return -m;
            if (m == 1) break;
        }
        pos = q;
    }
    return set_uerr(0);
}

// Closes a file of the copy when it is open, keeping the error codes.
void quiet_close(int filno) {
    INSTGV *g = zvWNGV;
    if (!open_state(fcb_at(filno))) return;
    uint16_t uerr = g->uerr_cod, sys = g->sysiocod;
    iclsfilx(filno, 0);
    g->uerr_cod = uerr;
    g->sysiocod = sys;
}

// Closes the new file (when open) and deletes it with its segments.
void discard_new(int filno, const char *name) {
    uint32_t files = 1;
    if (FCB *f = fcb_at(filno); open_state(f)) {
        files = physical_files(f);
        quiet_close(filno);
    }
    drop_physical(name, files);
}

int cmpdatx8(int filno, const char *datname, const char *newname, uint16_t reclen, uint32_t xtdsize, uint16_t filmod,
             int32_t permmask, const char *group, const char *password, XCREblk *xcre, const CMPBLK *blk) {
    INSTGV *g = zvWNGV;
    RblState &rs = maint_state(g).rbl;
    // 1. A superfile member is not compacted here.
    if (zvsname1(datname)) return set_uerr(48);
    rbl_note("Compressing data file.");
    // 2. The old file, opened exclusively; it is only read.
    Copy c;
    c.newno = filno;
    c.oldno = filno + 1;
    c.blk = blk;
    int orc;
    {
        // The open would record its mode in the old file's header: the old
        // file is never written.
        const uint8_t keep = g->nowrite;
        g->nowrite = 1;
        // The caller's file, also when the new name is one a compaction
        // made up (FoundNames).
        CallerNames own;
        // Its kind is checked here, not by the open (0x4).
        orc = OPNFILX(c.oldno, datname, uint16_t((filmod & 0xFFF2) | 0x4000), password);
        g->nowrite = keep;
    }
    if (orc) return set_uerr(orc);
    c.of = fcb_at(c.oldno);
    auto refuse = [&](int code) {
        quiet_close(c.oldno);
        return set_uerr(code);
    };
    const bool wantvar = (filmod & kOpenVarlen) != 0;
    if (c.of->kind == kKindIndex || c.of->hdr.base.sfiltyp == kSfHost) return refuse(48);
    if (c.of->kind != kKindFixed && c.of->kind != kKindVariable) return refuse(48);
    if (wantvar != (c.of->kind == kKindVariable)) return refuse(122);
    // 3. The serial segment that gets new numbers.
    int32_t seroff = 0, serlen = 0;
    if (blk->ifil) {
        if (int rc = serial_field(blk->ifil, c.of, &seroff, &serlen)) return refuse(rc);
    }
    // 4. The new file's create block.
    XCREblk nb;
    if (xcre && wide(c.of)) {
        nb = *xcre;
        nb.mode = (nb.mode | 0x42u) & ~0x10000u;
    } else if (int rc = setxcreblk(c.of, &nb)) {
        return refuse(rc);
    }
    uint16_t newmode = filmod;
    if (c.of->kind == kKindVariable) {
        // A variable format that holds records of the fixed length stays so.
        nb.flags |= c.of->hdr.ext.flmode3 & kFlmode3FixedOnly;
    } else if (blk->convert) {
        nb.flags |= kFlmode3FixedOnly;
        newmode = uint16_t(filmod | 0x4004);
    }
    // 5. The new file, encrypted like the old one unless new encryption is
    // asked for.
    int rc;
    {
        CamoSave enc{};
        bool encset = false;
        if (!blk->newenc) {
            if ((rc = setencatr(&enc, c.oldno)) != 0) return refuse(rc);
            encset = true;
        }
        rs.flags |= 1;
        rc = CREDATX8(c.newno, newname, reclen, xtdsize, newmode, permmask, group, password, &nb);
        rs.flags &= ~1u;
        if (encset) rstencatr(&enc);
    }
    if (rc) return refuse(rc);
    auto fail = [&](int code) {
        quiet_close(c.oldno);
        discard_new(c.newno, newname);
        return set_uerr(code);
    };
    if ((rc = iclsfilx(c.newno, 0)) != 0) return fail(rc);
    if ((rc = OPNFILX(c.newno, newname, newmode, password)) != 0) return fail(rc);
    c.nf = fcb_at(c.newno);
    log_line("Compact: started.");
    // 6. The copy.
    c.nf->hdr.ext.flmode2 = (c.nf->hdr.ext.flmode2 & ~kCarriedFlmode2) | (c.of->hdr.ext.flmode2 & kCarriedFlmode2);
    if (seroff > 0) {
        c.serial = true;
        c.nf->serpos = seroff;
        c.nf->srllen = serlen;
    }
    c.anchor = join64(wide(c.of) ? c.of->hdr.ext.reshdrh : 0, c.of->hdr.base.reshdr);
    rs.counter = 0;
    if (rs.status) rs.status->counthigh = 0;
    try {
        rc = c.of->kind == kKindVariable ? walk_variable(c) : walk_fixed(c);
    } catch (const std::bad_alloc &) {
        rc = 82;
    }
    if (!rc) rc = wrthdr(c.nf);
    if (rc) {
        log_line("Compact: data file error", rc);
        log_line(newname);
        return fail(rc);
    }
    // 7. The new file complete and closed.
    if ((rc = iclsfilx(c.newno, 0)) != 0) {
        log_line("Compact: data file error", rc);
        log_line(newname);
        return fail(rc);
    }
    log_line("Compact: data file completed ...");
    log_line(datname);
    log_line(newname);
    return set_uerr(0);
}

// ---- The set run --------------------------------------------------------------------

// What a compaction asks for, besides the rebuild's options.
struct CmpOptions {
    bool renumber = false;
    bool convert = false;
    bool newenc = false;
    bool tolerant = false;
};

int cmp_options(int16_t tfilno, RblOptions *o, CmpOptions *c) {
    *o = RblOptions{};
    *c = CmpOptions{};
    int bits = 0;
    bool legacy = false;
    if (int rc = rbl_option_bits(tfilno, kCmpAllowed, &bits, &legacy)) return rc;
    if (legacy) {
        o->update = tfilno == -99 || tfilno == -200;
        o->purge = tfilno == -101 || tfilno == -200;
        return 0;
    }
    o->update = bits & 0x002;
    o->purge = bits & 0x004;
    c->renumber = bits & 0x010;
    c->convert = bits & 0x020;
    c->newenc = bits & 0x040;
    c->tolerant = bits & 0x200;
    return 0;
}

struct Cmp : IndexPhase {
    int16_t tfilno = 0, dfilno = 0, dfilmod = 0, ifilmod = 0;
    CmpOptions co;
    bool ownstatus = false;
    bool indexphase = false;       // failures from here on are index errors
    char ownname[256] = {};        // the data file's own name
    char tmpdat[256] = {};         // the new data file until the swap
    uint32_t oldfiles = 1, newfiles = 1;
    bool memberstouched = false;
    FileSwap swap{"Compact"};
    bool swapped = false;
};

int dfil(const Cmp &c) { return c.dfilno < 0 ? 0 : c.dfilno; }

// Empties an index file (and its members) by deleting every key: a
// superfile member is loaded again in place.
int empty_index(int filno, int nmem) {
    unsigned char key[kKeyRoom];
    for (int m = 0; m <= nmem; m++) {
        const int x = filno + m;
        for (;;) {
            zvSETHGH(0);
            uint32_t lo = FRSKEY(x, key);
            uint32_t hi = uint32_t(zvGETHGH());
            if (!lo && !hi) {
                int rc = zvWNGV->uerr_cod;
                if (rc && rc != 101) return rc;
                break;
            }
            zvSETHGH(int32_t(hi));
            if (int rc = DELCHK(x, key, lo)) return rc;
        }
    }
    return set_uerr(0);
}

// A superfile-member index file k emptied and loaded from the data file
// r.dname.
int reload_member(Cmp &c, int k) {
    const int n = c.first + 1 + k;
    if (int rc = OPNFILX(n, c.iname[k].data(), uint16_t((c.ifil->ifilmod & 0xCFF6) | 0x3000), nullptr))
        return rerr(rc, n);
    c.memberstouched = true;
    int rc = empty_index(n, c.shape.nmem[k]);
    int cl = iclsfilx(n, 0);
    if (rc || cl) return rerr(rc ? rc : cl, n);
    return rbl_load_index(c, k, c.iname[k].data());
}

// Any failure before the swap is complete: the renames undone, the new
// files deleted, the superfile-member indexes loaded from the original
// data file again. The original error stays the run's.
void abandon(Cmp &c) {
    INSTGV *g = zvWNGV;
    const uint16_t uerr = g->uerr_cod, isam = g->isamerr_cod, sys = g->sysiocod;
    const uint16_t err = maint_state(g).rbl.err, errfil = maint_state(g).rbl.errfil;
    rbl_close_stream(&c.rej);
    if (c.first >= 0) {
        for (int k = 0; k < c.ifil->dnumidx && k < kMapIndexes; k++) rbl_quiet_close(c.first + 1 + k);
        rbl_quiet_close(c.first);
    }
    c.swap.undo();
    if (c.tmpdat[0]) drop_physical(c.tmpdat, c.newfiles);
    rbl_drop_working(c);
    if (c.memberstouched) {
        // The original data file is where it was: the member indexes take
        // their keys from it again, without a report.
        snprintf(c.dname, sizeof c.dname, "%s", c.ownname);
        RblOptions keep = c.o;
        c.o.purge = false;
        for (int k = 0; k < c.ifil->dnumidx; k++) {
            if (!c.shape.is_file(k) || !c.member[size_t(k)]) continue;
            if (reload_member(c, k)) {
                log_line("Compact: could not reload superfile member index", g->uerr_cod);
                log_line(c.iname[size_t(k)].data());
            }
        }
        c.o = keep;
    }
    g->uerr_cod = uerr;
    g->isamerr_cod = isam;
    g->sysiocod = sys;
    maint_state(g).rbl.err = err;
    maint_state(g).rbl.errfil = errfil;
}

// The create block of index file k: the caller's (adjusted to the data
// file), or the one made from the new data file.
XCREblk index_block(const Cmp &c, int filepos, const FCB *dat, const XCREblk &own) {
    const uint16_t dflags = dat->hdr.base.hdrflags;
    XCREblk b = own;
    if (c.p->xcre) {
        b = c.p->xcre[filepos];
        if ((dflags & kHdrHasExt) && !(b.mode & 0x40000000u)) {
            b.mode |= 0x20000002u;
            b.mode &= ~0x40010000u;
        }
        b.mode = ((b.mode | 0x2u) & ~0x10000u & ~0x40u) | (dflags & kHdr8ByteOffsets);
    }
    b.mode &= ~kPartitionBits;
    return b;
}

// Steps 1 to 5: every refusal comes before any file changes.
int checks(Cmp &c) {
    INSTGV *g = zvWNGV;
    RblState &rs = maint_state(g).rbl;
    IFIL *ifil = c.ifil;
    g->isamerr_cod = 0;
    XCREblk *x0 = c.p->xcre;
    if (x0 && (x0[0].mode & kPartitionBits)) return rerr(954, dfil(c));
    if (ifil->dfilmod & 0x200) return rerr(48, dfil(c));
    if (ifil->dnumidx > kMapIndexes) return rerr(107, dfil(c));
    if (ifil->dnumidx < 0 || (ifil->dnumidx > 0 && !ifil->iidxarr) || !classify(ifil, &c.shape))
        return rerr(540, dfil(c));
    if (cmp_options(c.tfilno, &c.o, &c.co)) return rerr(943, dfil(c));
    if (c.co.newenc && cmpchgenc == 0) return rerr(454, dfil(c));
    if (int rc = zviflnam(c.p, c.ownname, 0, nullptr)) return rerr(rc, dfil(c));
    if (zvsname1(c.ownname)) return rerr(48, dfil(c));
    if (int rc = rbl_index_names(c, dfil(c))) return rc;
    // The run: the data file, its indexes, and at least one number more,
    // on which the copy opens the old data file.
    const int extra = ifil->dnumidx > 0 ? ifil->dnumidx : 1;
    int first = filrng(ifil->dfilno, extra, ifil->dfilmod);
    if (first < 0) return rerr(-first, dfil(c));
    c.first = first;
    rs.runlo = first;
    rs.runn = extra + 1;
    // The data file is held from the probe on until the run ends (the
    // copy, the index phase, the swap, the definition and the purge): no
    // other open reaches it meanwhile.
    if (int rc = hold_set_file(c.held, c.ownname)) return rerr(rc, dfil(c));
    // The probe: a partitioned file is not compacted; a file the open
    // refuses is refused here (940 for features this build does not have).
    int pn = rbl_spare_filno();
    if (pn < 0 && g->uerr_cod) return rerr(g->uerr_cod, dfil(c));
    if (pn >= 0) {
        if (int rc = OPNFILX(pn, c.ownname, 0x700A, c.p->password)) return rerr(rc, dfil(c));
        FCB *f = fcb_at(pn);
        int rc = 0;
        if (f->hdr.ext.flmode2 & kPartitionBits) rc = rerr(954, dfil(c));
        else if ((f->hdr.base.hdrflags & kHdrHasExt) && !c.o.update) rc = rbl_serial_check(c, f);
        rbl_quiet_close(pn);
        if (rc) return rc;
    }
    // The index files held as well: nothing of a set that another open has
    // is touched.
    if (int rc = rbl_set_held(c, c.ownname)) return rc;
    if (!rbgetbuf(ifil->dreclen > 30 ? ifil->dreclen : 30)) return rerr(120, first);
    if (rbl_take_status(&c.ownstatus)) return rerr(82, first);
    return 0;
}

// Steps 6 and 7: the new data file.
int build_data(Cmp &c) {
    IFIL *ifil = c.ifil;
    if (int rc = temp_beside(c.ownname, c.tmpdat)) return rerr(rc, c.first);
    CMPBLK blk{c.co.renumber ? ifil : nullptr, c.co.convert ? 1 : 0, c.co.newenc ? 1 : 0, c.co.tolerant ? 0 : 1};
    // The copy is made and reopened under the temporary name by the rule
    // for names the engine made up.
    FoundNames made;
    int rc = CMPDATX8(c.first, c.ownname, c.tmpdat, uint16_t(ifil->dreclen), uint32_t(ifil->dxtdsiz),
                      uint16_t(ifil->dfilmod), int32_t(c.p->permmask), c.p->group, c.p->password,
                      c.p->xcre ? &c.p->xcre[0] : nullptr, &blk);
    if (rc) {
        c.tmpdat[0] = 0;  // the copy left nothing behind
        return rerr(rc, c.first);
    }
    FCB *old = fcb_at(c.first + 1);
    c.oldfiles = physical_files(old);
    if ((rc = iclsfilx(c.first + 1, 0)) != 0) return rerr(rc, c.first);
    return 0;
}

// Steps 10 to 13: the index files created beside the old ones and loaded
// from the new data file; the definition stored; the rejects reported and
// purged.
int build_indexes(Cmp &c) {
    INSTGV *g = zvWNGV;
    IFIL *ifil = c.ifil;
    const int first = c.first;
    c.indexphase = true;
    int rc;
    {
        OptionBit mark(&g->fileopt[1], kIsamMark);
        FoundNames made;
        rc = OPNFIL(first, c.tmpdat, 0x2002);
    }
    if (rc) return rerr(rc, first);
    FCB *dat = fcb_at(first);
    c.newfiles = physical_files(dat);
    isam_entry(first)->inuse = kMapByIfil;
    XCREblk own{};
    if (!c.p->xcre) {
        if ((rc = setxcreblk(dat, &own)) != 0) return rerr(rc, first);
        if (dat->hdr.base.hdrflags & kHdrHasExt) {
            own.mode |= 0x20000002u;
            own.mode &= ~0x40010000u;
        }
        // Segments are for data files: an index takes none.
        own.mode &= ~(0x08u | kAutoSegments);
        own.segsize = 0;
        own.nsegs = 0;
    }
    int filepos = 1;
    for (int k = 0; k < ifil->dnumidx; k++) {
        if (!c.shape.is_file(k)) continue;
        const int pos = filepos++;
        if (ifil->iidxarr[k].ikeylen < 0) continue;
        const size_t ks = size_t(k);
        if (c.member[ks]) {
            rc = rbl_recreate_index(c, k, c.iname[ks].data(), c.iname[ks].data(), nullptr, true);
        } else {
            const XCREblk blk = index_block(c, pos, dat, own);
            rc = rbl_index_beside(c, k, &blk, !c.co.newenc);
        }
        if (rc) return rc;
    }
    if (ifil->dnumidx < kMapIndexes) setzvEOK(first, ifil->dnumidx);
    if ((rc = iclsfilx(first, 0)) != 0) return rerr(rc, first);
    snprintf(c.dname, sizeof c.dname, "%s", c.tmpdat);
    if (ifil->dnumidx > 0) {
        if ((rc = rbl_open_rejects(c)) != 0) return rc;
        for (int k = 0; k < ifil->dnumidx; k++) {
            if (!c.shape.is_file(k) || ifil->iidxarr[k].ikeylen < 0) continue;
            const size_t ks = size_t(k);
            rc = c.member[ks] ? reload_member(c, k) : rbl_load_index(c, k, c.tname[ks].data());
            if (rc) return rc;
        }
    }
    // The definition, stored in the new data file.
    if (c.o.update && !(ifil->dfilmod & 0x800)) {
        {
            OptionBit mark(&g->fileopt[1], kIsamMark);
            FoundNames made;
            rc = OPNFIL(first, c.tmpdat, uint16_t(ifil->dfilmod));
        }
        if (!rc) {
            rc = zvrstdefx(first, ifil, c.p->dataext, c.p->idxext, 0, 0);
            g->isamerr_cod = uint16_t(rc);
            int cl = iclsfilx(first, 0);
            if (!rc) rc = cl;
        }
        if (rc) return rerr(rc, first);
    }
    if (c.rejected) rbl_note_rejects(c, c.ownname);
    if (c.o.purge && c.rejected) {
        // The new set opened under its temporary names, its rejected records
        // deleted.
        {
            OptionBit mark(&g->fileopt[1], kIsamMark);
            FoundNames made;
            rc = OPNFIL(first, c.tmpdat, 2);
        }
        for (int k = 0; k < ifil->dnumidx && !rc; k++) {
            if (!c.shape.is_file(k) || ifil->iidxarr[k].ikeylen < 0) continue;
            const size_t ks = size_t(k);
            FoundNames made(!c.member[ks]);
            rc = OPNFILX(first + 1 + k, c.member[ks] ? c.iname[ks].data() : c.tname[ks].data(), 0x4002, nullptr);
        }
        if (rc) {
            log_line("Could not process any rejected records (dat)", rc);
            rc = 651;
        } else {
            rc = rbl_purge_records(c, first, true);
        }
        for (int k = 0; k < ifil->dnumidx; k++) rbl_quiet_close(first + 1 + k);
        int cl = open_state(fcb_at(first)) ? iclsfilx(first, 0) : 0;
        if (rc || cl) return rerr(rc ? rc : cl, first);
    }
    return 0;
}

// Steps 8, 9 and 16 as one sequence of renames: every original parked,
// every new file in its place; the parked originals deleted afterwards.
int swap(Cmp &c) {
    // The names first: nothing is renamed while one is missing.
    if (int rc = c.swap.park(c.ownname, c.oldfiles, true)) return rerr(rc, c.first);
    c.swap.place(c.tmpdat, c.ownname, c.newfiles, true);
    if (int rc = rbl_queue_indexes(c, c.swap)) return rc;
    // The new files held before the first rename, as the originals are.
    if (int rc = c.swap.hold(c.held, true)) return rerr(rc, c.first);
    // Until the last rename the new files answer 14 to an open: a kill
    // between two renames leaves a set that the rebuild repairs.
    if (int rc = c.swap.mark()) return rerr(rc, c.first);
    for (size_t i = 0; i < c.swap.size(); i++) {
        if (int rc = c.swap.move(i)) return rerr(rc, c.first);
        if (i == 0) log_line("Compact: original renamed.");
        if (i == 1) log_line("Compact: temporary renamed.");
    }
    if (int rc = c.swap.commit()) return rerr(rc, c.first);
    c.swapped = true;
    c.tmpdat[0] = 0;
    std::fill(c.made.begin(), c.made.end(), 0);
    log_line("Compact: indices completed.");
    return 0;
}

int compact(Cmp &c) {
    INSTGV *g = zvWNGV;
    if (int rc = checks(c)) return rc;
    c.ifil->tfilno = int16_t(c.first);
    g->rebuilding = 1;
    if (int rc = build_data(c)) return rc;
    if (int rc = build_indexes(c)) return rc;
    return swap(c);
}

// The end of every run.
int finish(Cmp &c, int rc) {
    INSTGV *g = zvWNGV;
    RblState &rs = maint_state(g).rbl;
    IFIL *ifil = c.ifil;
    if (rc && rc != 650 && rc != 652) {
        abandon(c);
        if (c.indexphase) log_line("Compact: index error", rc);
        // The report speaks of records of a file that is gone.
        rbl_close_stream(&c.rej);
        c.rejected = 0;
    }
    const uint16_t sys = g->sysiocod;
    rc = rbl_end_rejects(c, rc);
    rbfreebuf();
    g->rebuilding = 0;
    if (c.first >= 0) {
        for (int k = 0; k < ifil->dnumidx && k < kMapIndexes; k++) rbl_quiet_close(c.first + 1 + k);
        rbl_quiet_close(c.first);
        rbl_quiet_close(c.first + 1);
        rbl_drop_maps(c, 0, ifil->dnumidx - 1);
        clearifil(c.first, 0, 1);
    }
    ifil->tfilno = c.tfilno;
    ifil->dfilno = c.dfilno;
    ifil->dfilmod = c.dfilmod;
    ifil->ifilmod = c.ifilmod;
    g->sysiocod = sys;
    rbl_give_status(c.ownstatus);
    rs.flags &= ~1u;
    rs.runn = 0;
    return rbl_run_end(rc, c.first < 0 ? dfil(c) : c.first);
}

int cmpifilz(IFILPARM *p) {
    INSTGV *g = zvWNGV;
    Cmp c;
    c.p = p;
    c.ifil = p->ifil;
    c.tfilno = c.ifil->tfilno;
    c.dfilno = c.ifil->dfilno;
    c.dfilmod = c.ifil->dfilmod;
    c.ifilmod = c.ifil->ifilmod;
    maint_state(g).rbl.err = 0;
    maint_state(g).rbl.errfil = 0;
    int rc = 0;
    try {
        if (int open = rbl_open_file_of(c); open >= 0) return ierr(rerr(46, open), open);
        rc = compact(c);
    } catch (const std::bad_alloc &) {
        rc = rerr(82, c.first < 0 ? dfil(c) : c.first);
    }
    return finish(c, rc);
}

}  // namespace

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int CMPDATX8(int filno, const char *datname, const char *newname, uint16_t reclen, uint32_t xtdsize,
                    uint16_t filmod, int32_t permmask, const char *group, const char *password, XCREblk *xcre,
                    CMPBLK *blk) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!datname || !*datname || !newname || !*newname || !blk) return set_uerr(540);
    if (!g->started || !g->fcbtab) return set_uerr(47);
    try {
        return cmpdatx8(filno, datname, newname, reclen, xtdsize, filmod, permmask, group, password, xcre, blk);
    } catch (const std::bad_alloc &) {
        return set_uerr(82);
    }
}

ZV_API int CMPIFILz(IFILPARM *params) {
    if (int rc = rbl_set_entry(params)) return rc;
    return cmpifilz(params);
}

ZV_API int CMPIFILX8(IFIL *ifil, const char *dataext, const char *idxext, int32_t permmask, const char *group,
                     const char *password, XCREblk *xcre) {
    IFILPARM p;
    setifil8(&p, ifil, dataext, idxext, permmask, group, password, xcre);
    return CMPIFILz(&p);
}

ZV_API int CMPIFILX(IFIL *ifil, const char *dataext, const char *idxext, int32_t permmask, const char *group,
                    const char *password) {
    return CMPIFILX8(ifil, dataext, idxext, permmask, group, password, nullptr);
}

ZV_API int CMPIFIL(IFIL *ifil) { return CMPIFILX(ifil, nullptr, nullptr, 0, nullptr, nullptr); }

}  // extern "C"
