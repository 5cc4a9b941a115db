// Data and index cross-check: a file set checked against itself, offline.
//
// zvVerifyFile opens the set by the definition stored in its data file and
// makes up to two scans:
//  - the data scan reads every record in physical order and, asked to,
//    forms each of its keys and looks it up: the key must lead back to the
//    record. It then compares the records read with the header's count
//    and checks that the unused end of a fixed-length file holds only 0xFF;
//  - the index scan walks every index in key order and, asked to, reads the
//    record of each key and forms the key again: it must be the same. It
//    compares the keys read with the header's count; a count exceeded turns
//    the walk into cycle mode, where a key not above the one before it is a
//    cycle and ends that index's walk.
// Each fault is reported the moment it is found through the error channel
// (zvVERIFYerror) and counted; the first one's code is the run's result.
//
// Invariants:
//  1. The cross-check only reads; the set is closed and the routines are
//     removed on every return after they were installed.
//  2. Every walk is bounded: the data scan by the engine's record walk, the
//     index walk by the header's key count and then by the index's capacity.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/files/header.h"
#include "engine/index/idxstate.h"
#include "engine/index/node.h"
#include "engine/isam/isam_services.h"
#include "engine/maint/maintstate.h"
#include "engine/maint/verify.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

constexpr int kMaxDatKey = 64;  // index slots of a data file
constexpr int kKeyBuf = 1024;   // room of the cross-check's key buffers
constexpr int kTailPiece = 8192;

unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }

// State of one cross-check run.
struct Check {
    const VERIFYFILEOPT *opts;
    int datno = -1;
    int first = 0;          // code of the first fault
    bool endscan = false;   // the error routine asked to end the current scan
    bool stop = false;      // the run is stopped (910)
    int64_t errors = 0;     // faults of the current scan

    // Reports one fault with code; counts it and keeps the first.
    void report(int code, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
    // Reports a progress event; a non-zero answer stops the run.
    void progress(int event, int pct);
};

void Check::report(int code, const char *fmt, ...) {
    INSTGV *g = zvWNGV;
    errors++;
    VERIFYERR err{1, code, int32_t(g->sysiocod)};
    if (!first) first = code;
    char text[1024];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    std::string whole;
    if (n >= int(sizeof text)) {
        whole.resize(size_t(n) + 1);
        va_start(ap, fmt);
        vsnprintf(whole.data(), whole.size(), fmt, ap);
        va_end(ap);
    }
    int r = zvVERIFYerror(opts, &err, "%s", whole.empty() ? text : whole.c_str());
    if (!maint_state(g).vfyerror) fputc('\n', getZarvoSTDOUT());
    if (r != 0) endscan = true;
    if (r == 910) stop = true;
}

void Check::progress(int event, int pct) {
    VERIFYPROGFN fn = maint_state(zvWNGV).vfyprogress;
    if (fn && fn(event, pct) != 0) stop = true;
}

// One line of the report: through the output routine as it is, on standard
// output ended by a line break.
void say(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void say(const char *fmt, ...) {
    char text[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    zvVERIFYprintf("%s", text);
    if (!maint_state(zvWNGV).vfyout) fputc('\n', getZarvoSTDOUT());
}

int pct_of(uint64_t done, uint64_t whole) {
    if (whole < 1) whole = 1;
    return done >= whole ? 100 : int(done * 100 / whole);
}

// The index numbers chkkey selects: every listed index, or the one slot.
// 0, or the fault's code after reporting it.
int selected_indexes(Check &c, std::vector<std::pair<int, int>> *out) {
    const int chkkey = c.opts->chkkey;
    if (chkkey > kMaxDatKey || chkkey < 0) {
        c.report(22, "Invalid value specified for chkkey parameter: it must be between 1 and %d (MAX_DAT_KEY)",
                 kMaxDatKey);
        return 22;
    }
    if (chkkey > 0) {
        int ix = isam_map_index(c.datno, chkkey - 1);
        bool ended = false;
        for (int s = 0; s < chkkey - 1 && !ended; s++) ended = isam_map_index(c.datno, s) == -1;
        if (ended || ix < 0) {
            c.report(46, "Invalid value specified for chkkey parameter: the specified value is not valid for this "
                         "data file");
            return 46;
        }
        out->push_back({chkkey - 1, ix});
        return 0;
    }
    for (int s = 0; s < kMaxDatKey; s++) {
        int ix = isam_map_index(c.datno, s);
        if (ix == -1) break;
        if (ix < 0) continue;
        out->push_back({s, ix});
    }
    return 0;
}

// A record buffer that grows to what a record needs.
struct RecBuf {
    unsigned char *p = nullptr;
    int32_t size = 0;
    ~RecBuf() { mbfree(p); }
    bool grow(int32_t n) {
        if (n <= size) return true;
        mbfree(p);
        p = static_cast<unsigned char *>(mballc(1, size_t(n)));
        size = p ? n : 0;
        return p != nullptr;
    }
};

uint64_t current_position(int datno) {
    uint32_t lo = GETCURP(datno);
    return join64(uint32_t(zvGETHGH()), lo);
}

// Reads the first or next record (growing the buffer for a longer
// variable-length record): 0, 101 at the end, or the read's code. *len the
// record length.
int read_record(Check &c, FCB *d, RecBuf &rb, bool firstrec, int32_t *len) {
    INSTGV *g = zvWNGV;
    if (d->kind != kKindVariable) {
        *len = rb.size;
        return firstrec ? FRSREC(c.datno, rb.p) : NXTREC(c.datno, rb.p);
    }
    int32_t n = rb.size;
    int rc = firstrec ? FRSVREC(c.datno, rb.p, &n) : NXTVREC(c.datno, rb.p, &n);
    if (rc == 153 && n > rb.size) {
        if (!rb.grow(n)) {
            c.report(82, "Could not allocate %d bytes for record image; record at offset 0x%llx", int(n),
                     ull(current_position(c.datno)));
            g->isamerr_cod = 82;
            return 82;
        }
        rc = REDVREC(c.datno, rb.p, rb.size);
    }
    *len = n;
    return rc;
}

// The unused end of a fixed-length file: every byte after the last byte
// used up to the last physical byte is 0xFF, and the last physical byte + 1
// is the file size.
void check_tail(Check &c, FCB *d, uint64_t filesize) {
    const uint64_t lastused = join64(d->hdr.ext.numrech, d->hdr.base.numrec);
    const uint64_t phys = join64(d->hdr.ext.phyendh, d->hdr.base.phyend);
    const uint32_t count = uint32_t(d->hdr.base.phyend - (d->hdr.base.numrec + 1));
    if (phys > lastused && count > 0) {
        std::vector<unsigned char> buf;
        try {
            buf.resize(kTailPiece);
        } catch (const std::bad_alloc &) {
            c.report(82, "End Of File discrepancy");
            return;
        }
        uint64_t at = lastused + 1;
        for (uint32_t left = count; left > 0;) {
            int32_t n = int32_t(left < uint32_t(kTailPiece) ? left : uint32_t(kTailPiece));
            int32_t got = 0;
            int rc = izvio81x(0x10, d, uint32_t(at >> 32), uint32_t(at), buf.data(), n, &got, 0);
            if (rc == 0 && got < n) rc = set_uerr(36);
            if (rc) {
                c.report(rc, "End Of File discrepancy");
                return;
            }
            for (int32_t i = 0; i < n; i++) {
                if (buf[size_t(i)] != 0xFF) {
                    c.report(1133, "End Of File discrepancy");
                    return;
                }
            }
            at += uint64_t(n);
            left -= uint32_t(n);
        }
    }
    const bool allones = d->hdr.base.phyend == 0xFFFFFFFFu && (!(d->hdr.base.hdrflags & kHdr8ByteOffsets) ||
                                                               d->hdr.ext.phyendh == 0xFFFFFFFFu);
    if (!allones && phys + 1 != filesize) c.report(1134, "End Of File discrepancy");
}

// The data scan of an open data file.
int izvVerifyData(const VERIFYFILEOPT *opts, int datno, Check &c) {
    INSTGV *g = zvWNGV;
    c.errors = 0;
    c.endscan = false;
    const uint32_t flags = opts->flags;
    const bool lookup = (flags & 4) != 0;
    const uint16_t oldprof = g->userprof;
    const uint32_t oldop = g->opword;
    if (lookup) g->userprof |= 1;
    g->opword |= 0x80000;
    struct Restore {
        INSTGV *g;
        uint16_t prof;
        uint32_t op;
        ~Restore() {
            g->userprof = prof;
            g->opword = op;
        }
    } restore{g, oldprof, oldop};
    int64_t records = 0;
    auto counters = [&] {
        say("Number of errors detected             : %12lld", (long long)c.errors);
        say("Number of records read from data file : %12lld", (long long)records);
    };
    FCB *d = tstfnm(datno);
    if (!d) {
        counters();
        return g->uerr_cod;
    }
    uint64_t filesize = 0;
    if (fcb_is_memory(d)) {
        filesize = join64(d->hdr.ext.phyendh, d->hdr.base.phyend) + 1;
    } else {
        uint32_t hi = 0;
        uint32_t lo = zvgsize81(&hi, physical_fcb(d));
        filesize = join64(hi, lo);
    }
    PUTHDR(datno, 1, 33);
    int32_t buflen = GETFIL(datno, 0);
    if (buflen == -1) {
        counters();
        return g->uerr_cod;
    }
    RecBuf rb;
    if (!rb.grow(buflen > 0 ? buflen : 1)) {
        c.report(82, "Could not allocate %d bytes for record image; record at offset 0x%llx", int(buflen), 0ull);
        counters();
        return 82;
    }
    std::vector<std::pair<int, int>> idx;
    if (int rc = selected_indexes(c, &idx)) {
        counters();
        return rc;
    }
    c.progress(-1, 0);
    say("Scanning data file...");
    std::vector<unsigned char> key(size_t(kKeyBuf) + 16);
    int32_t len = 0;
    int rc = read_record(c, d, rb, true, &len);
    while (rc == 0 && !c.stop && !c.endscan) {
        const uint64_t pos = current_position(datno);
        for (size_t i = 0; lookup && i < idx.size() && !c.endscan; i++) {
            const int slot = idx[i].first, ix = idx[i].second;
            g->isamerr_cod = 0;
            zvSETHGH(int32_t(pos >> 32));
            int32_t n = frmkey(ix, rb.p, key.data(), uint32_t(pos), len);
            if (n <= 0) {
                if (g->isamerr_cod)
                    c.report(g->isamerr_cod, "Could not form key; record at offset 0x%llx; index %d", ull(pos),
                             slot + 1);
                continue;
            }
            set_uerr(0);
            uint32_t lo = EQLKEY(ix, key.data());
            uint64_t found = join64(uint32_t(zvGETHGH()), lo);
            if (found == 0) {
                int code = g->uerr_cod ? g->uerr_cod : 101;
                c.report(code, "Could not find record by key; record at offset 0x%llx; index %d", ull(pos), slot + 1);
            } else if (found != pos) {
                c.report(160, "Mismatched record offset of 0x%llx in index; record at offset 0x%llx; index %d",
                         ull(found), ull(pos), slot + 1);
            }
        }
        if (c.endscan || c.stop) break;
        records++;
        if (records % 100 == 0) c.progress(-2, pct_of(pos, filesize));
        if (c.stop) break;
        rc = read_record(c, d, rb, false, &len);
    }
    if (rc == 101) {
        set_uerr(0);
        g->isamerr_cod = 0;
        c.progress(-2, 100);
        c.progress(-3, 100);
    } else if (rc != 0 && rc != 82) {
        c.report(rc, "Error reading record #%d offset 0x%llx", int(records), ull(current_position(datno)));
    }
    counters();
    if (c.stop) return 910;
    if (d->kind == kKindFixed) {
        const uint64_t hdr = join64(d->hdr.ext.numenth, d->hdr.base.nument);
        say("Record count in data file header      : %12lld", (long long)hdr);
        if (hdr != uint64_t(records) && !c.endscan)
            c.report(601, "Record count in data file header does not match actual number of records in data file.");
        if (!fcb_is_memory(d) && !(d->hdr.base.flmode & (1 | 8)) && !c.endscan && !c.stop) check_tail(c, d, filesize);
    }
    if (c.stop) return 910;
    return c.first;
}

// The index scan of the selected indexes.
int index_scan(Check &c) {
    INSTGV *g = zvWNGV;
    const bool readrec = (c.opts->flags & 16) != 0;
    const uint16_t oldprof = g->userprof;
    const uint32_t oldopts = idx_state(g).options;
    if (readrec) g->userprof |= 1;
    // The key walk hands out a successor's keys whatever their order: a
    // leaf chain that loops back is then seen by the cycle mode below, which
    // bounds the walk and reports the loop, instead of ending as a read error.
    idx_state(g).options |= kIdxOptRawLeafOrder;
    struct Restore {
        INSTGV *g;
        uint16_t prof;
        uint32_t opts;
        ~Restore() {
            g->userprof = prof;
            idx_state(g).options = opts;
        }
    } restore{g, oldprof, oldopts};
    c.errors = 0;
    c.endscan = false;
    FCB *d = tstfnm(c.datno);
    if (!d) return g->uerr_cod;
    PUTHDR(c.datno, 1, 33);
    int32_t buflen = GETFIL(c.datno, 0);
    RecBuf rb;
    if (buflen == -1 || !rb.grow(buflen > 0 ? buflen : 1)) return buflen == -1 ? g->uerr_cod : set_uerr(82);
    std::vector<std::pair<int, int>> idx;
    if (int rc = selected_indexes(c, &idx)) return rc;
    for (const auto &p : idx) {
        if (!tstifnm(p.second)) {
            c.report(g->uerr_cod, "Could not get file control block for index #%d", p.first + 1);
            return c.first;
        }
    }
    std::vector<unsigned char> key, prev, formed;
    try {
        key.resize(kKeyBuf);
        prev.resize(kKeyBuf);
        formed.resize(kKeyBuf + 16);
    } catch (const std::bad_alloc &) {
        c.report(82, "Could not allocate key buffers");
        return c.first;
    }
    for (const auto &p : idx) {
        if (c.stop) break;
        const int slot = p.first, ix = p.second;
        FCB *x = tstifnm(ix);
        if (!x) break;
        c.errors = 0;
        c.endscan = false;
        c.progress(-4, 0);
        if (c.stop) break;
        uint64_t bound = join64(x->hdr.ext.numenth, x->hdr.base.nument);
        const uint64_t header = bound;
        const size_t kl = size_t(x->hdr.base.keylen);
        if (x->hdr.base.kmem != 0) {
            FCB *host = x->hostfcb ? x->hostfcb : x;
            say("Scanning index #%d: %.*s member #%d...", slot + 1, 255, host->name, int(x->hdr.base.kmem));
        } else {
            say("Scanning index #%d: %s...", slot + 1, x->name);
        }
        bool cycle = false;
        int64_t keys = 0;
        set_uerr(0);
        uint32_t lo = FRSKEY(ix, key.data());
        uint64_t pos = join64(uint32_t(zvGETHGH()), lo);
        while (pos != 0 && !c.stop && !c.endscan) {
            keys++;
            const uint64_t node = join64(x->curnodh, x->curnodl);
            if (readrec) {
                int32_t len = rb.size;
                int rc;
                zvSETHGH(int32_t(pos >> 32));
                if (d->kind == kKindVariable) {
                    rc = RDVREC(c.datno, uint32_t(pos), rb.p, rb.size);
                    if (rc == 153) {
                        zvSETHGH(int32_t(pos >> 32));
                        uint32_t need = GTVLEN(c.datno, uint32_t(pos));
                        if (!rb.grow(int32_t(need))) {
                            c.report(82,
                                     "Could not allocate %d bytes to hold record image; record at offset 0x%llx; "
                                     "index %d node 0x%llx",
                                     int(need), ull(pos), slot + 1, ull(node));
                            break;
                        }
                        zvSETHGH(int32_t(pos >> 32));
                        rc = RDVREC(c.datno, uint32_t(pos), rb.p, rb.size);
                    }
                    zvSETHGH(int32_t(pos >> 32));
                    len = int32_t(GTVLEN(c.datno, uint32_t(pos)));
                } else {
                    rc = REDREC(c.datno, uint32_t(pos), rb.p);
                }
                if (rc) {
                    c.report(rc, "Could not read record for key %d; record at offset 0x%llx; index %d node 0x%llx",
                             int(keys - 1), ull(pos), slot + 1, ull(node));
                } else {
                    g->isamerr_cod = 0;
                    zvSETHGH(int32_t(pos >> 32));
                    int32_t n = frmkey(ix, rb.p, formed.data(), uint32_t(pos), len);
                    if (n <= 0) {
                        c.report(g->isamerr_cod ? g->isamerr_cod : g->uerr_cod,
                                 "Could not form key from record image; record at offset 0x%llx; index %d node "
                                 "0x%llx",
                                 ull(pos), slot + 1, ull(node));
                    } else if (memcmp(formed.data(), key.data(), kl) != 0) {
                        c.report(160,
                                 "Key formed from record image differs from key; record at offset 0x%llx; index %d "
                                 "node 0x%llx",
                                 ull(pos), slot + 1, ull(node));
                    }
                }
                if (c.endscan || c.stop) break;
            }
            if (!cycle && uint64_t(keys) > bound) {
                c.report(601, "Index header key count (%lld) is smaller than actual number of keys; index %d node 0x%llx",
                         (long long)header, slot + 1, ull(node));
                uint64_t size = 0;
                uint32_t hi = 0;
                uint32_t szl = zvgsize81(&hi, physical_fcb(x->hostfcb ? x->hostfcb : x));
                if (!(hi == 0xFFFFFFFFu && szl == 0xFFFFFFFFu)) size = join64(hi, szl);
                bound = (x->nodesize ? size / x->nodesize : 0) * uint64_t(x->hdr.base.maxkbl);
                cycle = true;
                if (c.endscan || c.stop) break;
            }
            if (keys % 100 == 0) c.progress(-5, pct_of(uint64_t(keys), bound));
            if (c.stop) break;
            if (cycle) {
                if (uint64_t(keys) > bound) {
                    c.report(601, "Index Cycle dectected in index %d at node 0x%llx", slot + 1, ull(node));
                    break;
                }
                memcpy(prev.data(), key.data(), kl);
            }
            set_uerr(0);
            lo = NXTKEY(ix, key.data());
            pos = join64(uint32_t(zvGETHGH()), lo);
            if (cycle && pos != 0 && memcmp(key.data(), prev.data(), kl) <= 0) {
                c.report(601, "Index Cycle dectected in index %d at node 0x%llx", slot + 1,
                         ull(join64(x->curnodh, x->curnodl)));
                break;
            }
        }
        if (!c.stop && !c.endscan && pos == 0) {
            if (g->uerr_cod) {
                c.report(g->uerr_cod, "Error reading key #%d in index #%d", int(keys + 1), slot + 1);
            } else if (!cycle && uint64_t(keys) != header) {
                c.report(601, "Key count in index file header does not match actual number of keys in index file.");
            }
            c.progress(-5, 100);
            c.progress(-6, 100);
        }
        say("Number of errors detected             : %12lld", (long long)c.errors);
        say("Number of keys read from index file   : %12lld", (long long)keys);
        say("Key count in index file header        : %12lld", (long long)header);
    }
    return c.stop ? 910 : c.first;
}

int verify_file(VERIFYFILEOPT *opts) {
    INSTGV *g = zvWNGV;
    Check c{opts};
    const int mode = (opts->flags & 1) ? 4096 : 4104;
    const char *name = opts->filename ? opts->filename : "";
    g->isamerr_cod = 0;
    int datno = OPNRFILX(-1, name, mode, static_cast<const char *>(opts->openparm));
    if (datno < 0) {
        int code = g->isamerr_cod ? g->isamerr_cod : g->uerr_cod;
        c.report(code, "Unable to open file %s: system error code %d", name, int(g->sysiocod));
        return set_uerr(code);
    }
    c.datno = datno;
    int result = 0;
    if (opts->flags & (2 | 4)) {
        int rc = izvVerifyData(opts, datno, c);
        if (rc == 910 || c.stop) result = 910;
    }
    if (!result && (opts->flags & (8 | 16))) {
        int rc = index_scan(c);
        if (rc == 910 || c.stop) result = 910;
    }
    if (!result) result = c.first;
    const uint16_t sys = g->sysiocod;
    CLRFIL(datno);
    g->sysiocod = sys;
    return set_uerr(result);
}

}  // namespace

}  // namespace zv

using namespace zv;

extern "C" ZV_API int zvVerifyFile(VERIFYFILEOPT *opts) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    MaintState &m = maint_state(g);
    if (!opts) {
        m.vfyout = nullptr;
        m.vfyprogress = nullptr;
        m.vfyerror = nullptr;
        return set_uerr(540);
    }
    m.vfyout = opts->output;
    m.vfyprogress = opts->progress;
    m.vfyerror = opts->error;
    m.vfyflags = 0;
    int rc;
    try {
        rc = verify_file(opts);
    } catch (const std::bad_alloc &) {
        rc = set_uerr(82);
    }
    m.vfyout = nullptr;
    m.vfyprogress = nullptr;
    m.vfyerror = nullptr;
    return rc;
}
