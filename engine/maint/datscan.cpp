// Data-file scan and header repair.
//
// RBLDATX opens a data file raw (the header as it stands, no check of its
// update flag, counters or resources), brings the header into line with
// the definition it is given, and, when the file was not closed cleanly or
// a set rebuild asks for it, scans the whole file:
//  - a fixed-length file record by record up to its real end: active
//    records are counted, deleted ones are stacked again in file order
//    (the last deleted on top), resources are recorded and stepped over;
//  - a variable-length file area by area: active records are counted,
//    free areas next to each other are joined, nodes of the old free-space
//    index become free areas, resources are recorded, and an unreadable
//    stretch becomes one free area up to the next sound area header or the
//    end (always when its first header position was never written, as a
//    killed process leaves pages it had not written yet, or when a 4096-
//    byte boundary lies between the sound area before it and the end of
//    that position and its bytes cannot be read as an area header at all,
//    as a write the system ended early at the boundary leaves a shortened
//    record's free tail without its header; else with scan option 2) or
//    stops the scan (1107), as a live area's header damaged in its mark
//    alone does; the free-space index is then built again from the free
//    areas.
// The resources found are linked into one ring again, the larger of two of
// the same type and number winning; the counts of data-access resources
// and the identity map are taken from what the ring holds. A run of 0xFF
// fill at the end of the file (space a growth claimed) ends a walk; a
// partial record or resource at the end is left in place (tail state
// positive) or, with scan option 1, dumped to a temporary file and blanked
// (tail state negative).
//
// Rules:
//  1. Every walk is bounded by the file's size: a step moves at least one
//     record (fixed length) or one area header (variable length), and a
//     walk longer than the file can hold stops with 512.
//  2. A failed scan leaves the update flag 0xFF on disk, so the file stays
//     marked as needing repair; the scan can be run again.
//  3. The temporary index of the resources is deleted on every path.
//  4. The file is held exclusively from its open on: one that another open
//     holds is refused (12) before anything of it is written.
#include "engine/maint/datscan.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/core/arith.h"
#include "engine/core/bytes.h"
#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/filehold.h"
#include "engine/core/filenum.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/files/close.h"
#include "engine/files/fcbops.h"
#include "engine/files/fixrec.h"
#include "engine/files/header.h"
#include "engine/files/identity.h"
#include "engine/files/identity_services.h"
#include "engine/files/resource.h"
#include "engine/files/segments.h"
#include "engine/files/spaceidx.h"
#include "engine/files/superfile.h"
#include "engine/index/index_services.h"
#include "engine/index/keyform.h"
#include "engine/index/node.h"
#include "engine/maint/maintstate.h"
#include "engine/maint/rblcrypt.h"
#include "engine/maint/rblstate.h"

namespace zv {

namespace {

constexpr uint32_t kNoStack = 0x10000000;   // flmode2: freed records are not stacked
constexpr uint32_t kDarType = 11;
constexpr int kDarKinds = 8;
constexpr uint16_t kDarNoPass = 0x100;      // the identity needs no recount

bool wide(const FCB *f) { return (f->hdr.base.hdrflags & kHdr8ByteOffsets) != 0; }
uint32_t res_hsize(const FCB *f) { return wide(f) ? 30 : 22; }
uint64_t last_used(const FCB *f) { return join64(f->hdr.ext.numrech, f->hdr.base.numrec); }
void set_last_used(FCB *f, uint64_t v) { split64(v, &f->hdr.ext.numrech, &f->hdr.base.numrec); }

void log_line(const char *text) { zvrcvlog(text, kLogSingleTry); }

int read_at(FCB *f, uint64_t pos, void *buf, int32_t len, int32_t *got) {
    int32_t n = 0;
    int rc = izvio81x(0, f, uint32_t(pos >> 32), uint32_t(pos), buf, len, &n, 0);
    if (got) *got = n;
    if (!rc && n < len) rc = set_uerr(36);
    return rc;
}

int write_at(FCB *f, uint64_t pos, const void *buf, int32_t len) {
    return izvio81x(1, f, uint32_t(pos >> 32), uint32_t(pos), const_cast<void *>(buf), len, nullptr, 0);
}

void be_key(unsigned char *key, uint32_t type, uint32_t number) {
    be::put32(key, type);
    be::put32(key + 4, number);
}

// What one scan found and keeps.
struct Scan {
    FCB *f = nullptr;
    int filno = -1;
    int options = 0;
    const uint8_t *olddar = nullptr;
    uint64_t size = 0;       // real size of the file
    uint64_t end = 0;        // where the walk ended
    bool hasrec = false;
    uint64_t tailpos = 0;    // a partial record or resource at the end
    uint64_t taillen = 0;
    int tailkind = 0;        // 1 record, 2 resource
    uint32_t tailwant = 0;   // the length it should have had
    TempIndex res;
};

// Records a resource found by the walk: of two with the same type and
// number the one with the larger area stays.
int logres81(Scan &s, uint64_t pos, const RESHDR &h) {
    unsigned char key[8];
    be_key(key, h.type, h.number);
    uint64_t q = s.res.find(key);
    if (!q && zvWNGV->uerr_cod) return zvWNGV->uerr_cod;
    if (q) {
        RESHDR qh;
        if (getrhdr(s.f, q, &qh) == 0 && qh.arealen > h.arealen) return set_uerr(0);
        if (int rc = s.res.del(key, q)) return rc;
    }
    int rc = s.res.put(key, pos);
    if (rc == 2) rc = 0;
    return set_uerr(rc);
}

// A resource header that may stand at pos: its area holds its header and
// body, and (for a fixed-length file) whole records.
bool plausible_resource(const Scan &s, const RESHDR &h) {
    uint32_t hs = res_hsize(s.f);
    return h.mark == kResMark && h.arealen >= hs + 8 && uint64_t(h.usedlen) + hs <= h.arealen &&
           h.usedlen >= 8;
}

void note_tail(Scan &s, uint64_t pos, int kind, uint32_t want) {
    s.tailpos = pos;
    s.taillen = s.size > pos ? s.size - pos : 0;
    s.tailkind = s.taillen ? kind : 0;
    s.tailwant = want;
}

// ---- Fixed-length files ---------------------------------------------------------

int walk_fixed(Scan &s) {
    INSTGV *g = zvWNGV;
    FCB *f = s.f;
    FILEHDR &b = f->hdr.base;
    const uint32_t r = b.reclen;
    if (r == 0) return 122;
    unsigned char *rec = rbgetbuf(int32_t(r));
    if (!rec) return 120;
    const bool stack = !(f->hdr.ext.flmode2 & kNoStack);
    const uint32_t link = wide(f) ? 8 : 4;
    uint64_t head = 0;
    uint64_t active = 0;
    uint64_t pos = begbytfix(f);
    const uint64_t bound = s.size / r + 2;
    uint64_t steps = 0;
    while (pos < s.size) {
        if (++steps > bound) return 512;
        int32_t got = 0;
        int rc = read_at(f, pos, rec, int32_t(r), &got);
        if (rc) {
            if (rc != 36 || !read_at_end(rc)) return rc;
            set_uerr(0);
            if (got > 0 && rec[0] != 0xFF) note_tail(s, pos, 1, r);
            break;
        }
        if (rec[0] == 0xFE && r >= 2 && rec[1] == 0xFE) {
            RESHDR h;
            int hr = getrhdr(f, pos, &h);
            if (hr == 0 && plausible_resource(s, h) && pos + h.arealen > s.size) {
                note_tail(s, pos, 2, h.arealen);
                break;
            }
            if (hr == 0 && plausible_resource(s, h)) {
                if ((rc = logres81(s, pos, h)) != 0) return rc;
                uint64_t span = (uint64_t(h.arealen) + r - 1) / r * r;
                pos += span ? span : r;
                continue;
            }
            if (hr && hr != 407 && hr != 36) return hr;
            set_uerr(0);
            pos += r;  // a damaged resource header: no record, no resource
            continue;
        }
        if (rec[0] == 0xFF) {
            // Fill from here to the end of the file is space a growth
            // claimed, not deleted records.
            bool whole = true;
            for (uint32_t i = 1; i < r && whole; i++) whole = rec[i] == 0xFF;
            if (whole) {
                int fill = rbl_all_fill(f, pos + r, s.size);
                if (fill < 0) return -fill;
                if (fill) break;
            }
            if (stack) {
                unsigned char l[8];
                for (uint32_t i = 0; i < link; i++) l[i] = uint8_t(head >> (8 * i));
                if ((rc = write_at(f, pos + 1, l, int32_t(link))) != 0) return rc;
                head = pos;
            }
            pos += r;
            continue;
        }
        s.hasrec = true;
        active++;
        if ((rc = rbl_count(kRblRecord)) != 0) return rc;
        pos += r;
    }
    s.end = pos < s.size ? pos : s.size;
    if (s.tailkind) s.end = s.tailpos;
    split64(active, &f->hdr.ext.numenth, &b.nument);
    split64(head, &f->hdr.ext.delstkh, &b.delstk);
    if (!wide(f)) f->hdr.ext.delstkh = 0;
    (void)g;
    return 0;
}

// ---- Variable-length files --------------------------------------------------------

bool known_mark(uint16_t m) {
    return m == kVrecUsed || m == kVrecFree || m == kVrecMemberFree || m == kVrecNode || m == kVrecResource;
}

// A header that may be walked over: a known mark, an area at least a
// header long, a record that fits its area.
bool walkable(const VRECHDR &h, uint32_t unit) {
    if (!known_mark(h.mark) || h.arealen < unit) return false;
    return h.mark != kVrecUsed || uint64_t(h.reclen) + unit <= h.arealen;
}

int get_hdr(FCB *f, uint64_t pos, VRECHDR *h) { return getvhdr81(f, uint32_t(pos >> 32), uint32_t(pos), h); }
int put_hdr(FCB *f, uint64_t pos, const VRECHDR *h) { return putvhdr81(f, uint32_t(pos >> 32), uint32_t(pos), h); }

// The free area being built up by the walk: adjacent free areas join it.
struct FreeRun {
    uint64_t pos = 0;
    uint32_t len = 0;
    bool open = false;
};

// Makes [pos, pos + len) a free area, joined to the run before it when the
// two meet and the sum fits 32 bits.
int make_free(Scan &s, FreeRun &run, uint64_t pos, uint64_t len) {
    while (len > 0) {
        uint32_t piece = len > 0xFFFFFF00ull ? 0xFFFFFF00u : uint32_t(len);
        if (run.open && run.pos + run.len == pos && uint64_t(run.len) + piece <= 0xFFFFFFFFull) {
            run.len += piece;
            VRECHDR h{};
            h.mark = kVrecFree;
            h.arealen = run.len;
            if (int rc = put_hdr(s.f, run.pos, &h)) return rc;
        } else {
            VRECHDR h{};
            h.mark = kVrecFree;
            h.arealen = piece;
            if (int rc = put_hdr(s.f, pos, &h)) return rc;
            run.pos = pos;
            run.len = piece;
            run.open = true;
        }
        pos += piece;
        len -= piece;
    }
    return 0;
}

// Whether the area header at pos is bytes no write of a header left: all
// zeros or all 0xFF. 1 or 0, or the negated read error.
int never_written(FCB *f, uint64_t pos, uint32_t unit) {
    unsigned char raw[32];
    const int32_t n = int32_t(unit < sizeof raw ? unit : sizeof raw);
    if (int rc = read_at(f, pos, raw, n, nullptr)) return -rc;
    bool zero = true, fill = true;
    for (int32_t i = 0; i < n; i++) {
        zero = zero && raw[i] == 0;
        fill = fill && raw[i] == 0xFF;
    }
    return zero || fill ? 1 : 0;
}

// The next position from `from` on where a sound area header stands (the
// end of the file when none does), or minus a read error.
int64_t next_sound(FCB *f, uint64_t from, uint64_t size) {
    uint64_t q = from;
    for (; q < size; q++) {
        int m = zvscnmrk81(f, q, size, 0);
        if (m == 1) break;
        if (m < 0) return m;
    }
    return int64_t(q);
}

// Whether a 4096-byte boundary of the file lies after the start of the
// sound area at `prev` and before the end of the header position at `pos`
// (kNoArea: no sound area before pos). A write the system ended early at
// such a boundary can have put the area's new header below it and left
// the bytes from the boundary on as they were: the header a shortened
// record's free tail should have at pos never reached the file, or only
// its first bytes did.
constexpr uint64_t kNoArea = ~uint64_t(0);
constexpr uint64_t kCutBoundary = 4096;
bool cut_between(uint64_t prev, uint64_t pos, uint32_t unit) {
    return prev != kNoArea && prev / kCutBoundary != (pos + unit - 1) / kCutBoundary;
}

// Whether the area whose walkable header h stands at pos holds together:
// it ends inside the file, where the next walkable header, the growth fill
// or the end of the file follows. 1, 0, or minus a read error.
int holds_together(FCB *f, uint64_t pos, const VRECHDR &h, uint64_t size, uint32_t unit) {
    const uint64_t stop = pos + h.arealen;
    if (stop > size) return 0;
    if (stop == size) return 1;
    if (size - stop >= unit) {
        VRECHDR nh;
        if (int rc = get_hdr(f, stop, &nh)) return -rc;
        if (walkable(nh, unit)) return 1;
    }
    return rbl_all_fill(f, stop, size);
}

// Whether the bytes at the header position pos, whatever their mark, read
// as an area header: lengths that fit (an area at least a header long that
// holds its record) and an area that holds together. A live area whose
// header took damage in its mark alone reads so; what a write cut at a
// 4096-byte boundary leaves where a free tail's header belonged (the old
// bytes of the record it was shortening, or the first bytes of that
// header) does not, unless those bytes happen to make one. 1, 0, or minus
// a read error.
int reads_as_header(FCB *f, uint64_t pos, const VRECHDR &h, uint64_t size, uint32_t unit) {
    if (h.arealen < unit || uint64_t(h.reclen) + unit > h.arealen) return 0;
    return holds_together(f, pos, h, size, unit);
}

int walk_variable(Scan &s) {
    FCB *f = s.f;
    FILEHDR &b = f->hdr.base;
    const uint32_t unit = vhdr_size(f);
    const uint32_t node = f->nodesize;
    uint64_t pos = first_node_offset(f);
    const uint64_t bound = s.size / unit + 2;
    uint64_t steps = 0;
    uint64_t prev = kNoArea;  // start of the sound area walked last
    FreeRun run;
    int rc = 0;
    while (pos < s.size) {
        if (++steps > bound) return 512;
        if (s.size - pos < unit) {
            int fill = rbl_all_fill(f, pos, s.size);
            if (fill < 0) return -fill;
            if (!fill) note_tail(s, pos, 2, unit);
            break;
        }
        VRECHDR h;
        if ((rc = get_hdr(f, pos, &h)) != 0) return rc;
        bool cut = false;      // a cut write's stretch starts here
        uint64_t cutnext = 0;  // and ends at the sound area found there
        if (h.mark == kVrecFree && walkable(h, unit) && (pos + unit - 1) / kCutBoundary != pos / kCutBoundary &&
            cut_between(prev, pos, unit)) {
            // A free tail's header across a boundary that a cut write may
            // have reached only in part (its mark and some bytes of its
            // length): taken only when its area holds together, else the
            // stretch up to the next sound area is the cut write's, as
            // below.
            int whole = holds_together(f, pos, h, s.size, unit);
            if (whole < 0) return -whole;
            if (!whole) {
                int64_t q = next_sound(f, pos + unit, s.size);
                if (q < 0) return int(-q);
                cut = uint64_t(q) < s.size;
                cutnext = uint64_t(q);
            }
        }
        if (!cut && walkable(h, unit) && pos + h.arealen > s.size) {
            note_tail(s, pos, h.mark == kVrecUsed ? 1 : 2, h.arealen);
            break;
        }
        if (cut || !walkable(h, unit)) {
            uint64_t q = cutnext;
            if (!cut) {
                int fill = rbl_all_fill(f, pos, s.size);
                if (fill < 0) return -fill;
                if (fill) break;
                const int64_t next = next_sound(f, pos + unit, s.size);
                if (next < 0) return int(-next);
                q = uint64_t(next);
            }
            // A header position that holds no byte the engine ever wrote
            // there (zeros: a stretch of the file that no write reached
            // while a later one did; 0xFF: growth fill) is space a killed
            // process left unwritten, with no record in it: it becomes free
            // space like the stretch the repair option frees. So does the
            // stretch behind a sound area that a write cut at a 4096-byte
            // boundary left without the header it was to put there (the
            // record before it keeps what of it reached the file), when its
            // bytes cannot be read as an area header at all: a header whose
            // mark alone is wrong, its area ending where the next sound
            // header stands, is a live area's damaged header, not a cut
            // write's leftover. Any other unreadable bytes are damage, and
            // stop the scan unless the repair option is given.
            int unwritten = cut ? 1 : never_written(f, pos, unit);
            if (unwritten < 0) return -unwritten;
            if (!unwritten && cut_between(prev, pos, unit)) {
                const int header = reads_as_header(f, pos, h, s.size, unit);
                if (header < 0) return -header;
                unwritten = !header;
            }
            if (!unwritten && !(s.options & kScanRepair)) {
                char line[128];
                snprintf(line, sizeof line, "scndat() found unreadable data at offset %x%08xx of data file...",
                         unsigned(pos >> 32), unsigned(uint32_t(pos)));
                log_line(line);
                log_line(f->name);
                return 1107;
            }
            char line[128];
            snprintf(line, sizeof line, "scndat() made %llu unreadable bytes at offset %x%08xx free space in data file...",
                     (unsigned long long)(q - pos), unsigned(pos >> 32), unsigned(uint32_t(pos)));
            log_line(line);
            log_line(f->name);
            if ((rc = make_free(s, run, pos, q - pos)) != 0) return rc;
            pos = q;
            prev = kNoArea;
            continue;
        }
        prev = pos;
        switch (h.mark) {
        case kVrecNode:
            if (h.arealen != unit + node) return 40;
            if ((rc = make_free(s, run, pos, h.arealen)) != 0) return rc;
            break;
        case kVrecUsed:
            if (h.reclen == 0) {
                if ((rc = make_free(s, run, pos, h.arealen)) != 0) return rc;
                break;
            }
            run.open = false;
            s.hasrec = true;
            if ((rc = rbl_count(kRblRecord)) != 0) return rc;
            break;
        case kVrecResource: {
            run.open = false;
            RESHDR rh;
            rc = getrhdr(f, pos, &rh);
            if (rc == 0 && plausible_resource(s, rh)) {
                if ((rc = logres81(s, pos, rh)) != 0) return rc;
            } else if (rc && rc != 407) {
                return rc;
            } else {
                // A resource header that cannot be one: its area is free.
                set_uerr(0);
                if ((rc = make_free(s, run, pos, h.arealen)) != 0) return rc;
            }
            break;
        }
        case kVrecFree:
            if (run.open && run.pos + run.len == pos && uint64_t(run.len) + h.arealen <= 0xFFFFFFFFull) {
                if ((rc = make_free(s, run, pos, h.arealen)) != 0) return rc;
            } else {
                run.pos = pos;
                run.len = h.arealen;
                run.open = true;
                if (h.reclen != 0) {
                    h.reclen = 0;
                    if ((rc = put_hdr(f, pos, &h)) != 0) return rc;
                }
            }
            break;
        default:  // 0xFCFC: kept as it is
            run.open = false;
            break;
        }
        pos += h.arealen;
    }
    s.end = s.tailkind ? s.tailpos : (pos < s.size ? pos : s.size);
    (void)b;
    return 0;
}

// Adds every free area of [first node, end) to the free-space index.
int build_space_index(Scan &s) {
    FCB *f = s.f;
    if ((f->hdr.ext.flmode2 & kNoStack) || f->nospcidx) return 0;
    const uint32_t unit = vhdr_size(f);
    uint64_t pos = first_node_offset(f);
    const uint64_t bound = s.end / unit + 2;
    uint64_t steps = 0;
    while (pos < s.end) {
        if (++steps > bound) return 512;
        VRECHDR h;
        if (int rc = get_hdr(f, pos, &h)) return rc;
        if (h.arealen < unit) return 512;
        if (h.mark == kVrecFree) {
            if (int rc = space_add(f, f, h.arealen, pos, 0)) return rc;
        }
        pos += h.arealen;
    }
    return 0;
}

// ---- The end of the file ------------------------------------------------------------

void dump_failed(const char *why) {
    log_line("Could not dump partial record in temporary file because ...");
    log_line(why);
}

// Logs a partial record or resource at the end and, with scan option 1,
// writes it to a dump file and blanks it. The tail state.
int32_t handle_tail(Scan &s) {
    if (!s.tailkind) return 0;
    FCB *f = s.f;
    const char *what = s.tailkind == 1 ? "record" : "resource";
    char line[200];
    snprintf(line, sizeof line, "WARNING: scndat() ignored partial %s at end of data file...", what);
    log_line(line);
    log_line(f->name);
    snprintf(line, sizeof line, "partial %s offset %x%08xx. actual size %u. expected size %u.", what,
             unsigned(s.tailpos >> 32), unsigned(uint32_t(s.tailpos)), unsigned(s.taillen), s.tailwant);
    log_line(line);
    int32_t count = s.taillen > 0x7FFFFFFFull ? 0x7FFFFFFF : int32_t(s.taillen);
    if (!(s.options & kScanDumpTail)) return count;
    INSTGV *g = zvWNGV;
    uint16_t keep = g->uerr_cod;
    unsigned char *buf = rbgetbuf(count);
    if (!buf) {
        dump_failed("space could not be allocated for record read buffer");
        g->uerr_cod = keep;
        return count;
    }
    if (read_at(f, s.tailpos, buf, count, nullptr)) {
        dump_failed("partial record read failed");
        g->uerr_cod = keep;
        return count;
    }
    char name[256];
    if (iTMPNAME(name, sizeof name)) {
        dump_failed("TMPNAME function failed");
        g->uerr_cod = keep;
        return count;
    }
    FILE *fp = rbl_open_stream(name, "wb");
    if (!fp) {
        dump_failed("temporary file could not be created");
        g->uerr_cod = keep;
        return count;
    }
    log_line("Temporary file for partial record dump ...");
    log_line(name);
    uint32_t hi = uint32_t(s.tailpos >> 32), lo = uint32_t(s.tailpos), len = uint32_t(count);
    bool ok = (!wide(f) || fwrite(&hi, 4, 1, fp) == 1) && fwrite(&lo, 4, 1, fp) == 1 && fwrite(&len, 4, 1, fp) == 1 &&
              fwrite(buf, 1, size_t(count), fp) == size_t(count);
    rbl_close_stream(&fp);
    if (!ok) {
        dump_failed("partial record write to temporary file failed");
        g->uerr_cod = keep;
        return count;
    }
    if (zvfillff81(f, hi, lo, len)) {
        dump_failed("0xff overwrite failed");
        g->uerr_cod = keep;
        return count;
    }
    g->uerr_cod = keep;
    return -count;
}

// ---- The resource ring and the data-access resources -----------------------------------

int relink(Scan &s) {
    FCB *f = s.f;
    FILEHDR &b = f->hdr.base;
    FILEHDRX &x = f->hdr.ext;
    std::vector<uint64_t> ring;
    std::vector<RESHDR> hdrs;
    unsigned char key[8];
    for (uint64_t p = s.res.first(key); p; p = s.res.next(key)) {
        RESHDR h;
        if (int rc = getrhdr(f, p, &h)) return rc;
        if (ring.empty() && (be::get32(key) != 0 || be::get32(key + 4) != 0)) return 401;
        ring.push_back(p);
        hdrs.push_back(h);
        if (ring.size() > s.size) return 512;
    }
    if (int rc = zvWNGV->uerr_cod; rc && rc != 101) return rc;
    set_uerr(0);
    const size_t n = ring.size();
    split64(n ? ring[0] : 0, &x.reshdrh, &b.reshdr);
    if (!wide(f)) x.reshdrh = 0;
    for (size_t i = 0; i < n; i++) {
        RESHDR h = hdrs[i];
        uint64_t fwd = ring[(i + 1) % n], bwd = ring[(i + n - 1) % n];
        if (h.fwd != fwd || h.bwd != bwd) {
            h.fwd = fwd;
            h.bwd = bwd;
            if (int rc = putrhdr(f, ring[i], &h)) return rc;
        }
    }
    // Data-access resources, counted as the ring holds them.
    INSTGV *g = zvWNGV;
    int counts[kDarKinds] = {};
    uint64_t anchor = 0;
    const bool missing = (maint_state(g).rbl.flags & kRblMapMissing) != 0;
    for (size_t i = 0; i < n; i++) {
        if (hdrs[i].type != kDarType) continue;
        unsigned char body[kDarBody];
        if (hdrs[i].usedlen < uint32_t(kDarBody)) continue;
        if (int rc = read_at(f, ring[i] + res_hsize(f), body, kDarBody, nullptr)) return rc;
        uint32_t kind = le::get32(body + 16);
        uint16_t version = le::get16(body + 20);
        uint16_t state = le::get16(body + 22);
        if (kind == kDarAnchor) {
            anchor = ring[i];
            continue;
        }
        if (kind > uint32_t(kDarKinds)) continue;
        if (version > 1) return 911;
        if (version == 0 || (state & kDarDeleted)) continue;
        counts[kind - 1]++;
        if (kind == kDarIdentity && (missing || counts[0] > s.olddar[0] || !f->idblk)) {
            le::put32(body + 24, uint32_t(ring[i] >> 32));
            le::put32(body + 28, uint32_t(ring[i]));
            if (int rc = zvmapDARtoFCB(f, body)) return rc;
        }
    }
    for (int k = 0; k < kDarKinds; k++) {
        if (counts[k] != s.olddar[k]) {
            char line[96];
            snprintf(line, sizeof line, "DAR type #%d: header count %d || found in file %d", k + 1, int(s.olddar[k]),
                     counts[k]);
            log_line(line);
        }
        x.darcount[k] = uint8_t(counts[k]);
    }
    x.daranchh = uint32_t(anchor >> 32);
    x.daranchl = uint32_t(anchor);
    if (f->idblk && !(f->idblk->state & kDarNoPass) && s.hasrec) maint_state(g).rbl.flags |= kRblIdentityPass;
    return 0;
}

}  // namespace

// ---- Temporary index ------------------------------------------------------------------

int TempIndex::make(int32_t keylen, bool widepos) {
    drop();
    int n = rbl_spare_filno();
    if (n < 0) return 485;
    if (iTMPNAME(name, sizeof name)) {
        name[0] = 0;
        return 485;
    }
    XCREblk x{};
    x.mode = 0x42;
    FoundNames made;
    if (CREIDXX8(n, name, keylen, 0, 0, 0, 0, 0x0800, 0, nullptr, nullptr, widepos ? &x : nullptr)) {
        rbl_drop_file(name);
        name[0] = 0;
        return 485;
    }
    filno = n;
    return 0;
}

int TempIndex::drop() {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    uint16_t uerr = g->uerr_cod, sys = g->sysiocod;
    int rc = 0;
    if (filno >= 0) {
        FCB *f = fcb_at(filno);
        if (f && f->state != 'n') rc = iclsfilx(filno, 0);
    }
    filno = -1;
    if (name[0]) dltfil(name);
    name[0] = 0;
    g->uerr_cod = uerr;
    if (!rc) g->sysiocod = sys;
    return rc;
}

uint64_t TempIndex::find(const unsigned char *key) {
    uint32_t lo = EQLKEY(filno, key);
    uint32_t hi = uint32_t(zvGETHGH());
    if (zvWNGV->uerr_cod == 101) set_uerr(0);
    return join64(hi, lo);
}

int TempIndex::put(const unsigned char *key, uint64_t pos) {
    zvSETHGH(int32_t(pos >> 32));
    return ADDKEY(filno, key, uint32_t(pos), 0);
}

int TempIndex::del(const unsigned char *key, uint64_t pos) {
    zvSETHGH(int32_t(pos >> 32));
    return DELCHK(filno, key, uint32_t(pos));
}

uint64_t TempIndex::first(unsigned char *key) {
    uint32_t lo = FRSKEY(filno, key);
    return join64(uint32_t(zvGETHGH()), lo);
}

uint64_t TempIndex::next(unsigned char *key) {
    uint32_t lo = NXTKEY(filno, key);
    return join64(uint32_t(zvGETHGH()), lo);
}

// ---- Raw open and close -----------------------------------------------------------------

int rbl_raw_open(int filno, const char *name, uint16_t mode) {
    INSTGV *g = zvWNGV;
    if (!filno_in_table(filno) && grow_table_for(filno)) return 603;
    FCB *f = zvgetfcb(filno);
    if (!f) return 603;
    if (f->state != 'n') return 46;
    fcb_reset(f);
    snprintf(f->name, sizeof f->name, "%s", name);
    f->opnmode = mode;
    int fd = mbopen(f, f->name, mode);
    if (fd < 0) {
        fcb_reset(f);
        return 12;
    }
    f->fd = fd;
    set_highest_written(f);
    if (int rc = redhdr(f, 0)) {
        zvlclose(f, 0, 1);
        fcb_reset(f);
        return rc;
    }
    f->nodesize = node_size_of(f);
    f->hdr.base.flmode = uint16_t(f->hdr.base.flmode & ~0x0009);
    f->state = 'y';
    inrfil(f, 1);
    g->nfiles++;
    g->nallfiles++;
    g->nphysfiles++;
    return 0;
}

int rbl_raw_close(int filno, bool keepmark) {
    INSTGV *g = zvWNGV;
    FCB *f = fcb_at(filno);
    if (!f || f->state == 'n') return 0;
    int first = 0;
    if (keepmark) {
        uint16_t keep = g->uerr_cod;
        f->hdr.base.updflg = kUpdChanged;
        first = wrthdr(f);
        // Held as 'R' in memory, the close leaves the 0xFF on disk alone.
        f->hdr.base.updflg = kUpdRebuild;
        g->uerr_cod = keep;
    }
    int rc = iclsfilx(filno, 0);
    return first ? first : rc;
}

uint64_t rbl_file_size(FCB *f) {
    uint32_t hi = 0;
    uint32_t lo = zvgsize81(&hi, f);
    if (hi == 0xFFFFFFFFu && lo == 0xFFFFFFFFu) return UINT64_MAX;
    return join64(hi, lo);
}

int rbl_all_fill(FCB *f, uint64_t from, uint64_t to) {
    unsigned char buf[4096];
    while (from < to) {
        int32_t n = int32_t(to - from < sizeof buf ? to - from : sizeof buf);
        int32_t got = 0;
        int rc = izvio81x(0, f, uint32_t(from >> 32), uint32_t(from), buf, n, &got, 0);
        if (rc && !read_at_end(rc)) return -rc;
        set_uerr(0);
        for (int32_t i = 0; i < got; i++)
            if (buf[i] != 0xFF) return 0;
        if (got < n) break;
        from += uint64_t(n);
    }
    return 1;
}

// ---- The scan -----------------------------------------------------------------------------

int zvscnmrk81(FCB *f, uint64_t pos, uint64_t end, int depth) {
    const uint32_t unit = vhdr_size(f);
    if (pos + unit > end) return 0;
    unsigned char raw[2];
    int32_t got = 0;
    int rc = izvio81x(0, f, uint32_t(pos >> 32), uint32_t(pos), raw, 2, &got, 0);
    if (rc || got < 2) {
        if (rc && !read_at_end(rc)) return -rc;
        set_uerr(0);
        return 0;
    }
    uint16_t mark = le::get16(raw);
    if (mark != kVrecUsed && mark != kVrecResource) return 0;
    VRECHDR h;
    if ((rc = get_hdr(f, pos, &h)) != 0) {
        if (!read_at_end(rc)) return -rc;
        set_uerr(0);
        return 0;
    }
    if (h.arealen < unit || uint64_t(h.reclen) + (mark == kVrecUsed ? unit : 0) > h.arealen) return 0;
    const uint64_t stop = pos + h.arealen;
    if (stop > end) return 0;
    if (stop == end) return 1;
    // The area is sound when the next one begins where it ends; in a
    // superfile host the next may be a member's freed area.
    VRECHDR nh;
    if (stop + unit <= end && get_hdr(f, stop, &nh) == 0 &&
        (nh.mark == kVrecUsed || nh.mark == kVrecNode || nh.mark == kVrecResource || nh.mark == kVrecFree ||
         (nh.mark == kVrecMemberFree && f->hdr.base.sfiltyp == kSfHost)))
        return 1;
    set_uerr(0);
    // The last area in use: nothing but the growth fill follows it.
    if (int fill = rbl_all_fill(f, stop, end); fill != 0) return fill < 0 ? fill : 1;
    if (depth > 0) return 2;
    for (uint64_t q = pos + 1; q < stop; q++) {
        int m = zvscnmrk81(f, q, end, 1);
        if (m < 0) return m;
        if (m == 1) return 0;
    }
    return 0;
}

int rblIDfield(FCB *f, uint64_t pos, const unsigned char *rec, int32_t reclen) {
    IDBLK *b = f->idblk;
    if (!b || (b->state & kDarDeleted)) return 0;
    unsigned char local[8];
    int32_t off = b->fldoff, width = b->width;
    if (off < 0) {
        if (!rec) return 0;
        if (!f->schmap) return 199;
        int32_t len = 0;
        int varseen = 0;
        const unsigned char *p =
            zvfldadr(rec, f->schmap, &len, &varseen, reclen, f->hdr.base.reclen, uint32_t(b->fldno));
        if (!p) return set_uerr(0);
        off = int32_t(p - rec);
        if (b->fldoff == -1) b->fldoff = (!varseen && off + len <= int32_t(f->hdr.base.reclen)) ? off : -2;
        if (width <= 0) width = len;
    }
    if (width > 8) width = 8;
    if (width <= 0) return 0;
    const unsigned char *v;
    if (rec) {
        if (int64_t(off) + width > reclen) return 0;
        v = rec + off;
    } else {
        uint32_t frame = f->kind == kKindVariable ? vhdr_size(f) : 0;
        if (int rc = read_at(f, pos + frame + uint64_t(off), local, width, nullptr)) return rc;
        v = local;
    }
    int64_t value = 0;
    if (b->flags & kIdUnsigned) {
        uint64_t u = 0;
        for (int32_t i = width - 1; i >= 0; i--) u = (u << 8) | v[i];
        value = int64_t(u);
    } else {
        assignUnalignedToInt8(&value, v, width);
        if (width != 1 && width != 2 && width != 4 && width != 8) {
            uint64_t u = 0;
            for (int32_t i = width - 1; i >= 0; i--) u = (u << 8) | v[i];
            value = int64_t(u);
        }
    }
    bool past;
    if (b->flags & kIdUnsigned)
        past = b->incr > 0 ? uint64_t(value) >= uint64_t(b->next) : uint64_t(value) <= uint64_t(b->next);
    else
        past = b->incr > 0 ? value >= b->next : value <= b->next;
    if (!past) return 0;
    b->next = int64_t(uint64_t(value) + uint64_t(b->incr));
    b->state |= kDarChangedMem | kDarChanged;
    if (testIDfield_overflow(b, value)) {
        b->next = value;
        b->flags |= kIdOverflow;
    }
    return 0;
}

int scndat(FCB *f, int filno, int options, const uint8_t olddar[8], int32_t *tail) {
    INSTGV *g = zvWNGV;
    *tail = 0;
    Scan s;
    s.f = f;
    s.filno = filno;
    s.options = options;
    s.olddar = olddar;
    FILEHDR &b = f->hdr.base;
    FILEHDRX &x = f->hdr.ext;
    if (s.res.make(8, wide(f))) return 485;
    maint_state(g).rbl.flags &= ~kRblIdentityPass;
    // 3. The real size.
    s.size = rbl_file_size(f);
    if (s.size == UINT64_MAX) return g->uerr_cod ? g->uerr_cod : 36;
    const uint64_t said = join64(x.phyendh, b.phyend) + 1;
    if (said != s.size) {
        if (said > s.size) {
            char line[160];
            snprintf(line, sizeof line,
                     "WARNING: scndat() found actual file size smaller than header indicates [%x%08xx < %x%08xx] "
                     "for data file...",
                     unsigned(s.size >> 32), unsigned(uint32_t(s.size)), unsigned(said >> 32), unsigned(uint32_t(said)));
            log_line(line);
            log_line(f->name);
        }
        split64(s.size ? s.size - 1 : 0, &x.phyendh, &b.phyend);
    }
    // 4 and 5. The walk.
    int rc;
    if (b.clstyp == kKindFixed) {
        b.delstk = 0;
        x.delstkh = 0;
        b.nument = 0;
        x.numenth = 0;
        rc = walk_fixed(s);
    } else if (b.clstyp == kKindVariable) {
        b.delstk = x.delstkh = 0;
        b.root = x.rooth = 0;
        b.nument = x.numenth = 0;
        b.keylen = uint16_t(wide(f) ? 16 : 12);
        if (b.keylen > 1024) return 45;
        zvupdkey(f);
        rc = walk_variable(s);
    } else {
        rc = 122;
    }
    if (rc) return rc;
    // 7. The last byte used.
    const uint64_t first = b.clstyp == kKindFixed ? begbytfix(f) : first_node_offset(f);
    set_last_used(f, (s.end > first ? s.end : first) - 1);
    // 8. A partial record or resource at the end, before any growth.
    *tail = handle_tail(s);
    // The free-space index of a variable-length file, from its free areas.
    if (b.clstyp == kKindVariable && (rc = build_space_index(s)) != 0) return rc;
    // 9 and 6. The resource ring and the data-access resources.
    if ((rc = relink(s)) != 0) return rc;
    return s.res.drop();
}

namespace {

// Recomputes the next identity value of a closed data file from its
// records (the set has no indexes to do it in their key pass).
int identity_pass(int filno, const char *name) {
    INSTGV *g = zvWNGV;
    if (int rc = OPNFIL(filno, name, 0x2002)) return rc;
    FCB *f = fcb_at(filno);
    int rc = 0;
    const uint64_t end = last_used(f);
    if (f->kind == kKindFixed) {
        const uint32_t r = f->hdr.base.reclen;
        unsigned char *rec = rbgetbuf(int32_t(r ? r : 1));
        if (!rec) rc = 120;
        const uint64_t bound = r ? end / r + 2 : 0;
        uint64_t steps = 0;
        for (uint64_t pos = begbytfix(f); !rc && r && pos + r - 1 <= end; pos += r) {
            if (++steps > bound) {
                rc = 512;
                break;
            }
            if ((rc = read_at(f, pos, rec, int32_t(r), nullptr)) != 0) break;
            if (rec[0] == 0xFF) continue;
            if (rec[0] == 0xFE && r >= 2 && rec[1] == 0xFE) {
                uint32_t area = r >= 6 ? le::get32(rec + 2) : r;
                uint64_t span = (uint64_t(area) + r - 1) / r * r;
                if (span > r) pos += span - r;
                continue;
            }
            rc = rblIDfield(f, pos, rec, int32_t(r));
        }
    } else {
        const uint32_t unit = vhdr_size(f);
        const uint64_t bound = end / unit + 2;
        uint64_t steps = 0;
        for (uint64_t pos = first_node_offset(f); !rc && pos <= end;) {
            if (++steps > bound) {
                rc = 512;
                break;
            }
            VRECHDR h;
            if ((rc = get_hdr(f, pos, &h)) != 0) break;
            if (chkvhdr(&h) || h.arealen < unit) {
                rc = 123;
                break;
            }
            if (h.mark == kVrecUsed && h.reclen) {
                unsigned char *rec = rbgetbuf(int32_t(h.reclen));
                if (!rec) {
                    rc = 120;
                    break;
                }
                if ((rc = read_at(f, pos + unit, rec, int32_t(h.reclen), nullptr)) != 0) break;
                rc = rblIDfield(f, pos, rec, int32_t(h.reclen));
            }
            pos += h.arealen;
        }
    }
    if (!rc) {
        rbl_note("Writing index file...");
        rc = wrthdr(f);
    }
    maint_state(g).rbl.flags &= ~kRblIdentityPass;
    int cl = iclsfilx(filno, 0);
    return rc ? rc : cl;
}

// Header repair of step 9: the fields that the definition decides.
bool repair_header(FCB *f, uint16_t reclen, uint32_t xtdsize, uint16_t filmod) {
    FILEHDR &b = f->hdr.base;
    bool changed = false;
    if (b.supmbr) {
        b.supmbr = 0;
        changed = true;
    }
    if (b.updflg == kUpdRefused) {
        b.updflg = 0;
        changed = true;
    }
    if (!vcparm(&b.reclen, reclen, "data record length")) changed = true;
    if (!vcparm(&b.extsiz, uint16_t(xtdsize > 0xFFFF ? 0xFFFF : xtdsize), "file extension size")) changed = true;
    if (!(filmod & kOpenVarlen)) {
        if (b.clstyp != kKindFixed || b.keylen || b.root || f->hdr.ext.rooth) {
            b.clstyp = kKindFixed;
            b.keylen = 0;
            b.root = 0;
            f->hdr.ext.rooth = 0;
            changed = true;
        }
    } else {
        const bool w = wide(f);
        const int32_t node = int32_t(f->nodesize);
        const int32_t maxkbn = node - (w ? 28 : 18);
        const int32_t ksz = w ? 16 : 12;
        if (b.clstyp != kKindVariable || b.keylen != ksz) {
            b.clstyp = kKindVariable;
            b.keylen = uint16_t(ksz);
            b.root = 0;
            f->hdr.ext.rooth = 0;
            b.nument = 0;
            f->hdr.ext.numenth = 0;
            changed = true;
        }
        // The node geometry of the free-space index follows from the node size.
        if (maxkbn > 2 * ksz &&
            (b.maxkbn != maxkbn || b.maxkbl != ksz * (maxkbn / ksz - 1) || b.node4 != node / 4 || b.deltyp != 2)) {
            b.maxkbn = uint16_t(maxkbn);
            b.maxkbl = uint16_t(ksz * (maxkbn / ksz - 1));
            b.node4 = uint16_t(node / 4);
            b.deltyp = 2;
            changed = true;
        }
    }
    set_derived_fields(f);
    return changed;
}

int rbldat(int filno, const char *name, uint16_t reclen, uint32_t xtdsize, uint16_t filmod, int options,
           int32_t *tail) {
    INSTGV *g = zvWNGV;
    RblState &r = maint_state(g).rbl;
    // 3 and 4. The file, its header as it stands.
    if (int rc = rbl_raw_open(filno, name, 0)) return rerr(rc, filno);
    FCB *f = fcb_at(filno);
    // Held exclusively before a byte of it changes, as an exclusive open
    // holds its file: a file that another open holds (shared or exclusive,
    // in any process or instance) is refused as such an open is, 12 with
    // the lock's system error.
    if (int err = lock_open_file(f->fd, 0)) {
        rbl_raw_close(filno, false);
        g->sysiocod = uint16_t(err);
        return rerr(12, filno);
    }
    f->wrlock = kLockOpen;
    FILEHDR &b = f->hdr.base;
    auto fail = [&](int code, bool keepmark) {
        rbl_raw_close(filno, keepmark);
        return rerr(code, filno);
    };
    // 5. Encrypted and memory files.
    if (fcb_is_memory(f)) return fail(454, false);
    if (rbl_enc_read(f)) return fail(607, false);
    // 7. What the header must say.
    if (tstverson(&b, (b.hdrflags & kHdrHasExt) ? &f->hdr.ext : nullptr)) return fail(43, false);
    if (b.sfiltyp == kSfHost) return fail(48, false);
    if (b.clstyp == kKindIndex || b.clstyp > kKindVariable) return fail(122, false);
    if ((b.clstyp == kKindVariable) != ((filmod & kOpenVarlen) != 0)) return fail(122, false);
    if (b.hdrflags & kHdrSegmented) {
        if (int rc = zvopnsegmdef(f, filno, 0)) return fail(rc, false);
    }
    // 9. Header repair.
    if (repair_header(f, reclen, xtdsize, filmod)) {
        if (int rc = wrthdr(f)) return fail(rc, false);
    }
    if (b.clstyp == kKindVariable) {
        if (int rc = zvgetkbf(f, b.keylen)) return fail(rc, false);
    }
    // 10 to 12. The scan.
    if (b.updflg || r.forcescan) {
        rbl_note("Rebuilding data file...");
        b.verson = setverson(f);
        b.updflg = kUpdChanged;
        const uint32_t oldres = b.reshdr, oldresh = f->hdr.ext.reshdrh;
        r.flags &= ~kRblMapMissing;
        if (zvgetDAR(f, 0, 0)) {
            r.flags |= kRblMapMissing;
            set_uerr(0);
        }
        uint8_t olddar[8];
        memcpy(olddar, f->hdr.ext.darcount, sizeof olddar);
        memset(f->hdr.ext.darcount, 0, sizeof f->hdr.ext.darcount);
        if (b.clstyp == kKindFixed) {
            b.nument = 0;
            f->hdr.ext.numenth = 0;
        }
        b.delstk = 0;
        f->hdr.ext.delstkh = 0;
        if (int rc = wrthdr(f)) return fail(rc, true);
        int32_t state = 0;
        int rc = scndat(f, filno, options, olddar, &state);
        if (tail) *tail = state;
        if (rc) {
            b.reshdr = oldres;
            f->hdr.ext.reshdrh = oldresh;
            memcpy(f->hdr.ext.darcount, olddar, sizeof olddar);
            return fail(rc, true);
        }
        if (int wr = wrthdr(f)) return fail(wr, true);
        if (!b.reshdr && !f->hdr.ext.reshdrh && !(filmod & 0x800)) {
            if (int er = ENARES(filno)) return fail(er, true);
        }
    }
    // 13. Close, then the identity pass of a set without indexes.
    if (int rc = rbl_raw_close(filno, false)) return rerr(rc, filno);
    if ((r.flags & kRblIdentityPass) && !(r.flags & kRblSetHasIndexes)) {
        if (int rc = identity_pass(filno, name)) return rerr(rc, filno);
    }
    return 0;
}

}  // namespace

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int RBLDATX(int filno, const char *name, uint16_t reclen, uint32_t xtdsize, uint16_t filmod,
                   const char *password, int32_t memstate, int options, int32_t *tail) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    (void)password;
    (void)memstate;
    if (tail) *tail = 0;
    maint_state(g).rbl.counter = 0;
    g->uerr_cod = 0;
    if (!name || !*name) return rerr(130, filno);
    if (strnlen(name, 256) > 255) return rerr(139, filno);
    if (!g->started || !g->fcbtab) return rerr(47, filno);
    if (filno < 0) return rerr(22, 0);
    // 2. A superfile member is only opened and closed: its host's rebuild
    // repairs it.
    if (zvsname1(name)) {
        int rc = OPNFILX(filno, name, uint16_t((filmod & ~0x1009) | 0x1000), nullptr);
        if (rc) return rerr(rc, filno);
        iclsfilx(filno, 0);
        return set_uerr(0);
    }
    try {
        // Held while it changes: its scan, its close and the identity pass
        // that opens it again leave no moment for another open.
        // (An open of it in this instance is another open: refused with 12.)
        HeldFiles held;
        if (int rc = held.take(name, true)) return rerr(rc, filno);
        return rbldat(filno, name, reclen, xtdsize, filmod, options, tail);
    } catch (...) {
        rbl_raw_close(filno, true);
        return rerr(82, filno);
    }
}

}  // extern "C"
