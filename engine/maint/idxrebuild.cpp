// Index rebuild from the records.
//
// The key pass reads every active record of the data file once, forms its
// key for one index, and hands (key, position) to the external sort; the
// sorted entries go to the bulk load in ascending order, so the index is
// built bottom up without a single key search or node split. Equal keys
// come out of the sort in ascending position: the first record of a run of
// equal keys is loaded and every later one is rejected as a duplicate when
// the index forbids duplicates. A record whose serial number is the
// all-ones value of its width is rejected too. Rejects are written to the
// caller's reject stream: a readable report, or (for a purge) binary
// records that the set rebuild deletes afterwards.
//
// Nothing is allocated per record: the record goes into the work buffer
// (which only grows), keys and sort entries live on the stack.
#include "engine/maint/idxrebuild.h"

#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/files/close.h"
#include "engine/core/fcb.h"
#include "engine/files/fixrec.h"
#include "engine/files/header.h"
#include "engine/files/varrec.h"
#include "engine/index/bulkload.h"
#include "engine/index/keyform.h"
#include "engine/index/navstate.h"
#include "engine/index/node.h"
#include "engine/index/segmode.h"
#include "engine/isam/fileset.h"
#include "engine/isam/isammap.h"
#include "engine/isam/partition.h"
#include "engine/maint/datscan.h"
#include "engine/maint/maintstate.h"
#include "engine/maint/rblstate.h"
#include "engine/maint/slotread.h"
#include "engine/maint/sort.h"

namespace zv {

namespace {

constexpr int kEntryRoom = kKeyRoom + 8;

bool wide(const FCB *f) { return (f->hdr.base.hdrflags & kHdr8ByteOffsets) != 0; }

// Ends a bulk load of idxno that a failure left running, so that the next
// load can start.
void abandon_load(int idxno) {
    LoadState &L = nav_state(zvWNGV).load;
    if (L.active && L.filno == idxno) {
        L.active = 0;
        L.filno = -1;
    }
}

// The serial segment of an index and the file's serial counter.
struct Serial {
    bool present = false;
    int32_t off = 0;   // from 0
    int32_t len = 0;   // bytes read (at most 8)
};

// Reports of one index: headings once, then the lines.
struct Report {
    FILE *fp = nullptr;
    bool purge = false;
    bool dupheading = false;
    bool serheading = false;
    const char *datname = "";
    int idxno = 0;
};

void hex_dump(FILE *fp, const unsigned char *key, int32_t len) {
    for (int32_t row = 0; row < len; row += 16) {
        int32_t n = len - row < 16 ? len - row : 16;
        fputc('\t', fp);
        for (int32_t i = 0; i < n; i++) fprintf(fp, "%02x ", key[row + i]);
        fputs("   ", fp);
        for (int32_t i = 0; i < n; i++) {
            unsigned char c = key[row + i];
            fputc(c >= 0x20 && c <= 0x7E ? char(c) : '.', fp);
        }
        fputc('\n', fp);
    }
    fputc('\n', fp);
}

// The record length at pos: the fixed length, or the area header's (-1
// when it cannot be read).
int32_t record_length(FCB *dat, uint64_t pos) {
    if (dat->kind != kKindVariable) return int32_t(dat->hdr.base.reclen);
    VRECHDR h;
    uint16_t keep = zvWNGV->uerr_cod;
    int rc = getvhdr81(dat, uint32_t(pos >> 32), uint32_t(pos), &h);
    zvWNGV->uerr_cod = keep;
    return rc ? -1 : int32_t(h.reclen);
}

int report_duplicate(Report &r, FCB *dat, int datno, uint64_t pos, const unsigned char *key, int32_t keylen) {
    if (!r.fp) return 0;
    if (r.purge) return tmpdata81(r.fp, dat, pos, datno);
    if (!r.dupheading) {
        fprintf(r.fp, "\nDuplicate key(s) found for %s, keyno=%d:\n", r.datname, r.idxno);
        r.dupheading = true;
    }
    fprintf(r.fp, "key value rejected for recpos=%04x-%08xx record length %d\n", unsigned(pos >> 32),
            unsigned(uint32_t(pos)), record_length(dat, pos));
    if (maint_state(zvWNGV).rbl.keydump) hex_dump(r.fp, key, keylen);
    return 0;
}

// Writes a rejected record to the binary reject file. tmpwrite81 takes the
// image from the work buffer; a record read a stretch at a time is copied
// there first.
int reject_record(FILE *fp, bool widepos, uint64_t pos, const unsigned char *rec, int32_t reclen) {
    const unsigned char *held = maint_state(zvWNGV).rbl.buf;
    if (rec != held && reclen > 0) {
        unsigned char *buf = rbgetbuf(reclen);
        if (!buf) return 120;
        memmove(buf, rec, size_t(reclen));
    }
    return tmpwrite81(widepos, pos, reclen, fp);
}

int report_serial(Report &r, FCB *dat, uint64_t pos, const unsigned char *rec, int32_t reclen) {
    if (!r.fp) return 0;
    if (r.purge) return reject_record(r.fp, wide(dat), pos, rec, reclen);
    if (!r.serheading) {
        fprintf(r.fp, "\nBad serial number(s) found for %s, keyno=%d:\n", r.datname, r.idxno);
        r.serheading = true;
    }
    if (dat->kind == kKindVariable)
        fprintf(r.fp, "serial number rejected for recpos=%d (%xx)\n", int(uint32_t(pos)), unsigned(uint32_t(pos)));
    else
        fprintf(r.fp, "serial number rejected for recpos=%d (%xx) record length %d\n", int(uint32_t(pos)),
                unsigned(uint32_t(pos)), reclen);
    return 0;
}

// One pass of the key pass over the records, its sort and its load.
struct Pass {
    int idxno = 0, datno = 0;
    FCB *ifcb = nullptr;
    FCB *dat = nullptr;
    int options = 0;
    bool rewrite = true;
    bool datchanged = false;
    Serial ser;
    Report rep;
    SORTHANDLE *sort = nullptr;
    int32_t keylen = 0;
    bool widepos = false;
    int32_t dups = 0, bad = 0;
    uint64_t entries = 0;
    ~Pass() {
        if (sort) zvsabort(sort);
    }
};

// The serial number of a record: 0 accept, 1 a bad serial number (all ones
// of its width), after which the record is not keyed.
int check_serial(Pass &p, const unsigned char *rec, int32_t reclen) {
    if (!p.ser.present || p.ser.off < 0 || p.ser.len <= 0 || p.ser.off + p.ser.len > reclen) return 0;
    const unsigned char *v = rec + p.ser.off;
    const int32_t n = p.ser.len;
    const bool host = (zvWNGV->userprof & kProfReverse) != 0;
    uint64_t value = 0;
    for (int32_t i = 0; i < n; i++) value = (value << 8) | v[host ? n - 1 - i : i];
    FILEHDR &b = p.dat->hdr.base;
    FILEHDRX &x = p.dat->hdr.ext;
    const bool ext = (b.hdrflags & kHdrHasExt) != 0;
    const uint64_t counter = join64(ext ? x.sernumh : 0, b.sernum);
    if (value <= counter) return 0;
    const uint64_t ones = n >= 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * n)) - 1;
    if (value == ones || (!ext && uint32_t(value) == 0xFFFFFFFFu)) return 1;
    if (p.rewrite) {
        b.sernum = uint32_t(value);
        if (ext) x.sernumh = uint32_t(value >> 32);
        p.datchanged = true;
    }
    return 0;
}

// Keys one active record: identity, serial number, key, sort entry,
// progress. 0 or an error.
int key_record(Pass &p, uint64_t pos, const unsigned char *rec, int32_t reclen) {
    INSTGV *g = zvWNGV;
    RblState &r = maint_state(g).rbl;
    if (r.flags & kRblIdentityPass) {
        if (int rc = rblIDfield(p.dat, pos, rec, reclen)) return rc;
    }
    if (check_serial(p, rec, reclen)) {
        p.bad++;
        if (int rc = report_serial(p.rep, p.dat, pos, rec, reclen)) return rc;
        return rbl_count(kRblRecord);
    }
    unsigned char key[kKeyRoom];
    g->isamerr_cod = 0;
    zvSETHGHi(int32_t(pos >> 32));
    int32_t n = ifrmkey(p.idxno, p.datno, p.ifcb, p.dat, rec, key, p.keylen, uint32_t(pos), reclen);
    if (n <= 0) {
        int rc = g->isamerr_cod;
        g->isamerr_cod = 0;
        if (rc == 445 && p.rep.purge && p.rep.fp) {
            if ((rc = reject_record(p.rep.fp, p.widepos, pos, rec, reclen)) != 0) return rc;
            char line[160];
            snprintf(line, sizeof line, "Rebuild marked %d length record at offset %04x-%08xx deleted due to error %d",
                     int(reclen), unsigned(pos >> 32), unsigned(uint32_t(pos)), 445);
            zvrcvlog(line, kLogSingleTry);
            zvrt_printf("\n%s", line);
            p.dups++;
        } else if (rc) {
            return rc;
        }
        set_uerr(0);
        return rbl_count(kRblRecord);
    }
    unsigned char entry[kEntryRoom];
    sort_entry_pack(entry, key, p.keylen, p.widepos, uint32_t(pos >> 32), uint32_t(pos));
    if (int rc = zvsadd(p.sort, entry)) return rc;
    p.entries++;
    // A partitioned set with global indexes keys the host's index as well.
    if ((r.flags & kRblGlobalKeys) == kRblGlobalKeys) {
        int rc = zvpartaddk_member(p.datno, p.idxno, key);
        if (rc == 2 && p.rep.purge && p.rep.fp) {
            if ((rc = reject_record(p.rep.fp, p.widepos, pos, rec, reclen)) != 0) return rc;
            char line[160];
            snprintf(line, sizeof line,
                     "Rebuild marked %d length record at offset %04x-%08xx deleted due to duplicate key on index %d",
                     int(reclen), unsigned(pos >> 32), unsigned(uint32_t(pos)), p.idxno);
            zvrcvlog(line, kLogSingleTry);
            zvrt_printf("\n%s", line);
        } else if (rc) {
            return rc;
        }
    }
    return rbl_count(kRblRecord);
}

int walk_fixed(Pass &p) {
    FCB *d = p.dat;
    const uint32_t r = d->hdr.base.reclen;
    if (r == 0) return 122;
    unsigned char *rec = rbgetbuf(int32_t(r));
    if (!rec) return 120;
    const uint64_t end = join64(d->hdr.ext.numrech, d->hdr.base.numrec);
    const uint64_t bound = end / r + 2;
    uint64_t steps = 0;
    SlotReader slots(p.datno, d, rec);
    for (uint64_t pos = begbytfix(d); pos + r - 1 <= end;) {
        if (++steps > bound) return 512;
        int rc = 0;
        rec = slots.at(pos, &rc);
        if (!rec) return rc;
        if (rec[0] == 0xFF) {
            pos += r;
            continue;
        }
        if (rec[0] == 0xFE && r >= 2 && rec[1] == 0xFE) {
            uint32_t area = r >= 6 ? (uint32_t(rec[2]) | uint32_t(rec[3]) << 8 | uint32_t(rec[4]) << 16 |
                                      uint32_t(rec[5]) << 24)
                                   : r;
            uint64_t span = (uint64_t(area) + r - 1) / r * r;
            pos += span ? span : r;
            continue;
        }
        if (int rc = key_record(p, pos, rec, int32_t(r))) return rc;
        pos += r;
    }
    return 0;
}

int walk_variable(Pass &p) {
    FCB *d = p.dat;
    const uint32_t unit = vhdr_size(d);
    const uint64_t end = join64(d->hdr.ext.numrech, d->hdr.base.numrec);
    const uint64_t bound = end / unit + 2;
    uint64_t steps = 0;
    for (uint64_t pos = first_node_offset(d); pos <= end && pos != 0;) {
        if (++steps > bound) return 512;
        VRECHDR h;
        if (int rc = getvhdr81(d, uint32_t(pos >> 32), uint32_t(pos), &h)) return rc;
        if (chkvhdr(&h) || h.arealen < unit) return 123;
        if (h.mark == kVrecUsed && h.reclen > 0) {
            unsigned char *rec = rbgetbuf(int32_t(h.reclen));
            if (!rec) return 120;
            zvSETHGHi(int32_t(pos >> 32));
            int32_t len = 0;
            if (int rc = iRDVREC(p.datno, uint32_t(pos), rec, int32_t(h.reclen), 1, &len)) return rc;
            if (int rc = key_record(p, pos, rec, len)) return rc;
        }
        pos += h.arealen;
    }
    return 0;
}

// The records of a superfile member: its areas are chained from the newest
// (the highest) down, each to one lower in the host.
int walk_member(Pass &p) {
    FCB *d = p.dat;
    FCB *host = d->hostfcb ? d->hostfcb : d;
    const uint64_t end = join64(host->hdr.ext.numrech, host->hdr.base.numrec);
    const uint32_t unit = vhdr_size(d);
    const uint64_t bound = end / unit + 2;
    uint64_t steps = 0;
    const bool variable = d->kind == kKindVariable;
    for (uint64_t pos = join64(d->hdr.ext.sfmemberh, uint32_t(d->hdr.base.sfmember)); pos != 0;) {
        if (++steps > bound || pos > end) return 512;
        VRECHDR h;
        if (int rc = getvhdr81(d, uint32_t(pos >> 32), uint32_t(pos), &h)) return rc;
        if (h.mark == kVrecUsed && (!variable || h.reclen > 0)) {
            int32_t len = variable ? int32_t(h.reclen) : int32_t(d->hdr.base.reclen);
            unsigned char *rec = rbgetbuf(len);
            if (!rec) return 120;
            zvSETHGHi(int32_t(pos >> 32));
            int rc = variable ? iRDVREC(p.datno, uint32_t(pos), rec, len, 1, &len) : REDREC(p.datno, uint32_t(pos), rec);
            if (rc) return rc;
            if (variable || rec[0] != 0xFF) {
                if ((rc = key_record(p, pos, rec, len)) != 0) return rc;
            }
        }
        const uint64_t prev = join64(h.prevh, h.prevl);
        if (prev >= pos) return prev == 0 ? 0 : 512;
        pos = prev;
    }
    return 0;
}

// Step 7 and 8: the sorted entries into the bulk load.
int load(Pass &p) {
    INSTGV *g = zvWNGV;
    rbl_phase("Writing index file...");
    unsigned char entry[kEntryRoom];
    bool started = false;
    for (;;) {
        int rc = zvsval(p.sort, entry);
        if (rc == 1) {
            p.sort = nullptr;  // released by the sort
            break;
        }
        if (rc) return rc;
        uint32_t hi, lo;
        sort_entry_position(entry, p.keylen, p.widepos, &hi, &lo);
        rc = iloadkey81(p.idxno, entry, hi, lo, started ? 1 : 0, nullptr, nullptr);
        if (rc == 59 && started) {
            set_uerr(0);
            p.dups++;
            if ((rc = report_duplicate(p.rep, p.dat, p.datno, join64(hi, lo), entry, p.keylen)) != 0) return rc;
        } else if (rc) {
            return rc;
        } else {
            maint_state(g).rbl.loaded++;
        }
        started = true;
        if ((rc = rbl_count(kRblKey)) != 0) return rc;
    }
    if (started) {
        if (int rc = iloadkey81(p.idxno, nullptr, 0, 0, 2, nullptr, nullptr)) return rc;
    }
    return 0;
}

}  // namespace

int tmpwrite81(bool widepos, uint64_t pos, int32_t len, FILE *stream) {
    const unsigned char *buf = maint_state(zvWNGV).rbl.buf;
    uint32_t hi = uint32_t(pos >> 32), lo = uint32_t(pos), n = uint32_t(len < 0 ? 0 : len);
    bool ok = stream && (!widepos || fwrite(&hi, 4, 1, stream) == 1) && fwrite(&lo, 4, 1, stream) == 1 &&
              fwrite(&n, 4, 1, stream) == 1 && (n == 0 || (buf && fwrite(buf, 1, n, stream) == n));
    if (ok) return 0;
    zvrcvlog("Could not write rebuild-duplicate-key temporary file", 37);
    return 37;
}

int tmpdata81(FILE *stream, FCB *dat, uint64_t pos, int datno) {
    int32_t len = 0;
    if (dat->kind == kKindVariable) {
        VRECHDR h;
        if (int rc = getvhdr81(dat, uint32_t(pos >> 32), uint32_t(pos), &h)) return rc;
        unsigned char *rec = rbgetbuf(int32_t(h.reclen));
        if (!rec) return 120;
        zvSETHGHi(int32_t(pos >> 32));
        if (int rc = iRDVREC(datno, uint32_t(pos), rec, int32_t(h.reclen), 1, &len)) return rc;
    } else {
        len = int32_t(dat->hdr.base.reclen);
        unsigned char *rec = rbgetbuf(len);
        if (!rec) return 120;
        zvSETHGHi(int32_t(pos >> 32));
        if (int rc = REDREC(datno, uint32_t(pos), rec)) return rc;
    }
    return tmpwrite81(wide(dat), pos, len, stream);
}

int getdt(int idxno, int datno, const char *datname, int32_t *dups, FILE **stream, int options, int32_t *badser,
          bool *opened) {
    INSTGV *g = zvWNGV;
    RblState &r = maint_state(g).rbl;
    *opened = false;
    // 1. The data file and the index.
    if (datname) {
        OptionBit mark(&g->fileopt[1], kIsamMark);
        if (int rc = OPNFIL(datno, datname, 0x2002)) return rc;
        *opened = true;
    }
    Pass p;
    p.idxno = idxno;
    p.datno = datno;
    p.ifcb = tstifnm(idxno);
    if (!p.ifcb) return g->uerr_cod;
    if (p.ifcb->kind != kKindIndex) return set_uerr(48);
    p.dat = tstfnm(datno);
    if (!p.dat) return g->uerr_cod;
    p.options = options;
    p.rep.fp = stream ? *stream : nullptr;
    p.rep.purge = (options & kRblPurge) != 0;
    p.rep.datname = datname ? datname : p.dat->name;
    p.rep.idxno = idxno;
    // 2. Partition state.
    r.flags |= (p.dat->hdr.ext.flmode2 & 0x2000000u) ? kRblGlobalKeys : 0x8000000u;
    // 3. The serial segment.
    if (ISAMSEG *segs = isam_segs(idxno)) {
        for (int s = 0; s < kMapSegs && segs[s].soffset != kSegEnd; s++) {
            int base = segs[s].segmode & kSegBaseMask;
            if (base != 3 && base != 257) continue;
            int32_t off = 0, len = 0;
            if (int rc = zvsrlseg(p.dat, &off, &len, idxno, s, nullptr)) return rc;
            if (off > 0 && len > 0) {
                p.ser.present = true;
                p.ser.off = off - 1;
                p.ser.len = len < 8 ? len : 8;
            }
        }
    }
    // 4. May headers be rewritten?
    if (p.dat->hdr.base.flmode & 0x0009) {
        if (options & 3) return set_uerr(62);
        p.rewrite = false;
    }
    // 5. The sort.
    p.keylen = p.ifcb->hdr.base.keylen;
    p.widepos = wide(p.dat);
    const int32_t entrylen = sort_entry_length(p.keylen, p.widepos, false);
    if (entrylen > kEntryRoom) return set_uerr(45);
    p.sort = zvsinit(uint16_t(entrylen), maint_state(g).sortbufs, p.dat, 0);
    if (!p.sort) return g->uerr_cod ? g->uerr_cod : 82;
    // 6. Every active record.
    int rc = p.dat->hdr.base.sfiltyp == kSfMember ? walk_member(p)
             : p.dat->kind == kKindVariable       ? walk_variable(p)
                                                  : walk_fixed(p);
    // 7 and 8. The load.
    if (!rc) rc = load(p);
    if (rc) abandon_load(idxno);
    *dups = p.dups;
    *badser = p.bad;
    // 9. Headers flagged changed, the identity map.
    if (!rc && p.datchanged && p.rewrite) rc = wrthdr(p.dat);
    if (!rc) r.flags &= ~kRblIdentityPass;
    return rc ? set_uerr(rc) : set_uerr(0);
}

}  // namespace zv

using namespace zv;

namespace {

// The end of RBLIDX and RBLMEMX: counters, totals lines, the 'R' mark.
int finish_index(int rc, int filno, int datno, bool opened, FILE **stream, int options, int32_t dups,
                 int32_t bad, int32_t *dupsout, int32_t *badout) {
    INSTGV *g = zvWNGV;
    FILE *fp = stream ? *stream : nullptr;
    if (rc == 0) {
        if (dupsout) *dupsout = dups;
        if (badout) *badout = bad;
        if (!(options & kRblPurge) && fp) {
            if (dups) fprintf(fp, "\nkeyno=%d: %ld entries rejected (duplicates).", filno, long(dups));
            if (bad) fprintf(fp, "\nkeyno=%d: %ld entries rejected (bad serial numbers).", filno, long(bad));
        }
        if (dups && !fp) rc = 2;
        else if (bad && !fp) rc = 605;
    }
    if (opened) {
        uint16_t sys = g->sysiocod;
        iclsfilx(datno, 0);
        g->sysiocod = sys;
    }
    if (rc) rerr(rc, filno);
    if (rc || ((options & kRblPurge) && (dups || bad))) zvsetupdflg(filno, kUpdRebuild, true);
    if (!rc) set_uerr(0);
    return rc;
}

int rblmemx(int datno, const char *datname, int hostno, int member, FILE **stream, int32_t *dups, int options,
            int32_t *badser, int memfilno) {
    INSTGV *g = zvWNGV;
    FCB *host = tstifnm(hostno);
    if (!host) return rerr(26, hostno);
    if (member < 1 || member > int(host->hdr.base.nmem)) return rerr(23, hostno);
    char msg[64];
    snprintf(msg, sizeof msg, "Rebuilding additional index #%d.", member);
    rbl_phase(msg);
    int32_t nd = 0, nb = 0;
    bool opened = false;
    int rc = getdt(memfilno, datno, datname, &nd, stream, options, &nb, &opened);
    maint_state(g).rbl.flags &= ~kRblGlobalKeys;
    return finish_index(rc, memfilno, datno, opened, stream, options, nd, nb, dups, badser);
}

}  // namespace

extern "C" {

ZV_API int RBLIDX(int datno, const char *datname, int idxno, const char *, FILE **stream, int, int32_t *dups,
                  int options, int32_t *badser) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    set_uerr(0);
    try {
        rbl_phase("Rebuilding index file.");
        int32_t nd = 0, nb = 0;
        bool opened = false;
        int rc = getdt(idxno, datno, datname, &nd, stream, options, &nb, &opened);
        maint_state(g).rbl.flags &= ~kRblGlobalKeys;
        return finish_index(rc, idxno, datno, opened, stream, options, nd, nb, dups, badser);
    } catch (...) {
        abandon_load(idxno);
        return rerr(82, idxno);
    }
}

ZV_API int RBLMEMX(int datno, const char *datname, int hostno, int member, const char *, FILE **stream, int,
                   int32_t *dups, int options, int32_t *badser, int memfilno) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    set_uerr(0);
    try {
        return rblmemx(datno, datname, hostno, member, stream, dups, options, badser, memfilno);
    } catch (...) {
        abandon_load(memfilno);
        return rerr(82, memfilno);
    }
}

ZV_API int RBLMEM(int datno, const char *datname, int hostno, int member, const char *password, FILE **stream,
                  int unused, int32_t *dups, int options, int32_t *badser) {
    return RBLMEMX(datno, datname, hostno, member, password, stream, unused, dups, options, badser, hostno + member);
}

}  // extern "C"
