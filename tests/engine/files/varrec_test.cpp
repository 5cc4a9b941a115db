// Variable-length record space: areas made by growth, record writes and
// reads with their codes, and the hot path of cached areas.
#include <cstring>
#include <functional>
#include <string>
#include <unistd.h>

#include "engine/core/highword.h"
#include "engine/core/pools.h"
#include "engine/expr/expr_services.h"
#include "engine/files/spaceidx.h"
#include "engine/files/varrec.h"
#include "tests/engine/files/files_util.h"
#include "tests/support/child.h"
#include "zarvo/zvdbpt.h"

namespace {

using filestest::Bytes;
using filestest::file_bytes;
using filestest::le32;
using filestest::slice;
using zv::IoKind;

class VarrecTest : public filestest::FilesTest {
protected:
    // A variable-length file without resources: minimum length 8, standard
    // header, 1024-byte nodes; the first area is at 1024.
    void make_var(int filno, const char *name, uint16_t mode = 0x804) {
        ASSERT_EQ(CREDATX8(filno, name, 8, 0, mode, 0, nullptr, nullptr, nullptr), 0);
    }
    Bytes record(size_t n, uint8_t seed) {
        Bytes b(n);
        for (size_t i = 0; i < n; i++) b[i] = uint8_t(seed + i);
        return b;
    }
    uint32_t put(int filno, const Bytes &rec) {
        uint32_t pos = NEWVREC(filno, int32_t(rec.size()));
        if (!pos) return 0;
        Bytes copy = rec;
        if (WRTVREC(filno, pos, copy.data(), int32_t(copy.size()))) return 0;
        return pos;
    }
    Bytes area_header(int filno, uint32_t pos) {
        Bytes h(10);
        EXPECT_EQ(zvio81(0, fcb(filno), 0, pos, h.data(), 10), 0);
        return h;
    }
    long all_calls() {
        long n = 0;
        for (int k = 0; k < int(IoKind::Count); k++) n += zv::io_calls(IoKind(k));
        return n;
    }
};

TEST_F(VarrecTest, NewAreaWriteAndReadBack) {
    make_var(1, "v.dat");
    uint32_t pos = NEWVREC(1, 20);
    ASSERT_EQ(pos, 1024u);
    EXPECT_EQ(zvGETHGH(), 0);
    EXPECT_EQ(area_header(1, pos), (Bytes{0xFA, 0xFA, 0x1E, 0, 0, 0, 0, 0, 0, 0}));
    Bytes rec = record(20, 1);
    Bytes copy = rec;
    ASSERT_EQ(WRTVREC(1, pos, copy.data(), 20), 0);
    EXPECT_EQ(copy, rec);
    EXPECT_EQ(slice(area_header(1, pos), 6, 4), (Bytes{0x14, 0, 0, 0}));
    Bytes back(20);
    EXPECT_EQ(RDVREC(1, pos, back.data(), 20), 0);
    EXPECT_EQ(back, rec);
    EXPECT_EQ(GTVLEN(1, pos), 20u);
    EXPECT_EQ(NEWVREC(1, 100), 1054u);
    EXPECT_EQ(TSTVREC(1), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    Bytes b = file_bytes("v.dat");
    EXPECT_EQ(slice(b, 1024, 30), (Bytes{0xFA, 0xFA, 0x1E, 0, 0, 0, 0x14, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10,
                                         11, 12, 13, 14, 15, 16, 17, 18, 19, 20}));
}

TEST_F(VarrecTest, RecordCodes) {
    make_var(1, "c.dat");
    make_var(2, "s.dat");
    ASSERT_EQ(CREDATX8(3, "f.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    uint32_t pos = put(1, record(30, 7));
    ASSERT_NE(pos, 0u);
    uint32_t small = NEWVREC(2, 10);
    Bytes five = record(5, 0);
    ASSERT_EQ(WRTVREC(2, small, five.data(), 5), 0);
    uint32_t bad = put(1, record(10, 9));
    Bytes mark = {0x12, 0x34};
    ASSERT_EQ(zvio81(1, fcb(1), 0, bad, mark.data(), 2), 0);
    Bytes buf(64);
    int32_t need = 0;
    struct Case {
        const char *what;
        std::function<int()> call;
        int code;
    };
    const Case cases[] = {
        {"short buffer", [&] { return RDVREC(1, pos, buf.data(), 29); }, 153},
        {"short buffer hands out the length", [&] {
             int rc = iRDVREC(1, pos, buf.data(), 10, 1, &need);
             return need == 30 ? rc : -1;
         }, 153},
        {"another mode reads a truncated record", [&] {
             Bytes part(10);
             int rc = iRDVREC(1, pos, part.data(), 10, 0, &need);
             return need == 30 && part == record(10, 7) ? rc : -1;
         }, 0},
        {"stored length below the minimum", [&] { return GTVLEN(2, small) ? 0 : zvGetUserErrorCode(); }, 149},
        {"write into a corrupt mark", [&] { return WRTVREC(1, bad, buf.data(), 4); }, 123},
        {"read of a corrupt mark", [&] { return RDVREC(1, bad, buf.data(), 64); }, 123},
        {"record longer than its area", [&] { return WRTVREC(1, pos, buf.data(), 31); }, 148},
        {"write at position 0", [&] { return WRTVREC(1, 0, buf.data(), 4); }, 159},
        {"read at position 0", [&] { return RDVREC(1, 0, buf.data(), 4); }, 29},
        {"length at position 0", [&] { return GTVLEN(1, 0) ? 0 : zvGetUserErrorCode(); }, 29},
        {"null buffer on write", [&] { return WRTVREC(1, pos, nullptr, 4); }, 33},
        {"null buffer on read", [&] { return RDVREC(1, pos, nullptr, 4); }, 33},
        {"fixed-length file: new", [&] { return NEWVREC(3, 10) ? 0 : zvGetUserErrorCode(); }, 48},
        {"fixed-length file: write", [&] { return WRTVREC(3, 200, buf.data(), 4); }, 48},
        {"fixed-length file: length", [&] { return GTVLEN(3, 200) ? 0 : zvGetUserErrorCode(); }, 48},
        {"negative length on new", [&] { return NEWVREC(1, -1) ? 0 : zvGetUserErrorCode(); }, 634},
        {"negative length on write", [&] { return WRTVREC(1, pos, buf.data(), -1); }, 634},
        {"negative buffer length", [&] { return iRDVREC(1, pos, buf.data(), -1, 0, &need); }, 634},
        {"bad file number", [&] { return RDVREC(99, pos, buf.data(), 4); }, 22},
        {"a written record still reads", [&] { return RDVREC(1, pos, buf.data(), 64); }, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.call(), c.code);
    }
    EXPECT_EQ(CLSFIL(1, 0), 0);
    EXPECT_EQ(CLSFIL(2, 0), 0);
    EXPECT_EQ(CLSFIL(3, 0), 0);
}

TEST_F(VarrecTest, AreasThatHoldNoRecordNeverReadAsOne) {
    ASSERT_EQ(CREDATX8(1, "r.dat", 8, 0, 0x4, 0, nullptr, nullptr, nullptr), 0);
    uint32_t res = fcb(1)->hdr.base.reshdr;
    ASSERT_NE(res, 0u);
    uint32_t fresh = NEWVREC(1, 40);
    Bytes buf(4);
    int32_t need = 0;
    for (int mode : {0, 1}) {
        SCOPED_TRACE(mode);
        EXPECT_EQ(iRDVREC(1, res, buf.data(), 4, mode, &need), 158);
        EXPECT_EQ(iRDVREC(1, fresh, buf.data(), 4, mode, &need), 154);
    }
    EXPECT_EQ(GTVLEN(1, res), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 158);
    EXPECT_EQ(WRTVREC(1, res, buf.data(), 4), 158);
    EXPECT_EQ(RETVREC(1, res), 158);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(VarrecTest, CachedAreasWriteAndReadWithoutAllocationOrSystemCall) {
    make_var(1, "h.dat");
    uint32_t pos = put(1, record(50, 3));
    ASSERT_NE(pos, 0u);
    Bytes rec = record(50, 4), back(50);
    ASSERT_EQ(WRTVREC(1, pos, rec.data(), 50), 0);  // the file is marked changed
    INSTGV *gv = g();
    int32_t freebefore[zv::kFreeLists];
    for (int i = 0; i < zv::kFreeLists; i++) freebefore[i] = gv->lists[i].free;
    uint64_t allocs = zv::platform_alloc_count();
    long calls = all_calls();
    for (int i = 0; i < 100; i++) {
        ASSERT_EQ(WRTVREC(1, pos, rec.data(), 50), 0);
        ASSERT_EQ(RDVREC(1, pos, back.data(), 50), 0);
    }
    EXPECT_EQ(all_calls(), calls);
    EXPECT_EQ(zv::platform_alloc_count(), allocs);
    for (int i = 0; i < zv::kFreeLists; i++) EXPECT_EQ(gv->lists[i].free, freebefore[i]) << i;
    EXPECT_EQ(back, rec);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(VarrecTest, RecordLayoutHelpers) {
    make_var(1, "k.dat");
    unsigned char key[16];
    EXPECT_EQ(frmlkey8(fcb(1), key, 60, 0, 1024), 12);
    EXPECT_EQ(Bytes(key, key + 12), (Bytes{0, 0, 0, 0, 0, 0, 0, 60, 0, 0, 4, 0}));
    XCREblk wide{};
    wide.mode = 0x40;
    ASSERT_EQ(CREDATX8(2, "w.dat", 8, 0, 0x804, 0, nullptr, nullptr, &wide), 0);
    EXPECT_EQ(frmlkey8(fcb(2), key, 0x01020304, 5, 0x0A0B0C0D), 16);
    EXPECT_EQ(Bytes(key, key + 16), (Bytes{0, 0, 0, 0, 1, 2, 3, 4, 0, 0, 0, 5, 0x0A, 0x0B, 0x0C, 0x0D}));
    // The high word travels beside the calls of a file with 8-byte offsets.
    uint32_t lo = NEWVREC(2, 10);
    ASSERT_NE(lo, 0u);
    int32_t hi = zvGETHGH();
    Bytes rec = record(10, 2), back(10);
    zvSETHGH(hi);
    ASSERT_EQ(WRTVREC(2, lo, rec.data(), 10), 0);
    zvSETHGH(hi);
    ASSERT_EQ(RDVREC(2, lo, back.data(), 10), 0);
    EXPECT_EQ(back, rec);
    ZVRMD md{};
    EXPECT_EQ(zvgetrmd(nullptr, &md), 540);
    EXPECT_EQ(zvgetrmd(fcb(1), nullptr), 540);
    fcb(1)->hdr.ext.flmode3 = 0x8200;
    EXPECT_EQ(zvgetrmd(fcb(1), &md), 0);
    EXPECT_EQ(md.length, 8);
    EXPECT_EQ(md.flags, 3);
    EXPECT_EQ(md.firstlen, 4);
    fcb(1)->hdr.ext.flmode3 = 0x0200;
    EXPECT_EQ(zvgetrmd(fcb(1), &md), 0);
    EXPECT_EQ(md.length, 4);
    EXPECT_EQ(md.flags, 2);
    EXPECT_EQ(md.firstlen, 0);
    fcb(1)->hdr.ext.flmode3 = 0;
    EXPECT_EQ(CLSFIL(1, 0), 0);
    EXPECT_EQ(CLSFIL(2, 0), 0);

    int flag = -1, width = -1;
    struct Case {
        int type, result, flag, width;
    };
    for (Case c : {Case{143, 0, 0, 0}, Case{144, 1, 1, 0}, Case{152, 1, 1, 1}, Case{154, 1, 0, 1},
                   Case{160, 1, 1, 2}, Case{162, 1, 0, 2}, Case{168, 1, 1, 4}, Case{170, 1, 0, 4},
                   Case{177, 1, 1, 1}, Case{193, 1, 1, 2}, Case{201, 1, 0, 0}, Case{202, 0, 0, 0}}) {
        SCOPED_TRACE(c.type);
        EXPECT_EQ(IsZarvoStringDataType(c.type, &flag, &width), c.result);
        EXPECT_EQ(flag, c.flag);
        EXPECT_EQ(width, c.width);
    }
    EXPECT_EQ(zvAlterSchema(1, nullptr, 0), 454);
}

// The filter reads a field of the variable part: it sees the whole record.
TEST_F(VarrecTest, ReadsPassTheRecordFilter) {
    make_var(1, "flt.dat");
    const DATOBJ doda[2] = {{"head", 0, ZV_ARRAY, 8, 0, 0}, {"tail", 8, ZV_ARRAY, 4, 0, 0}};
    ASSERT_EQ(ENARES(1), 0);
    ASSERT_EQ(PUTDODA(1, doda, 2), 0);
    uint32_t pass = put(1, Bytes(12, 'a'));
    uint32_t reject = put(1, Bytes(12, 'r'));
    uint32_t fail = put(1, Bytes(12, 'e'));
    ASSERT_EQ(SETFLTR(1, "tail != \"rrrr\" AND (tail != \"eeee\" OR 1 / 0)"), 0);
    Bytes buf(12);
    EXPECT_EQ(RDVREC(1, pass, buf.data(), 12), 0);
    EXPECT_EQ(RDVREC(1, reject, buf.data(), 12), 739);
    EXPECT_EQ(buf, Bytes(12, 'r'));
    EXPECT_EQ(RDVREC(1, fail, buf.data(), 12), 598);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(VarrecTest, MemoryFilesKeepEachAreaAsARecord) {
    XCREblk mem{};
    mem.mode = 0x80000000u;
    mem.maxsizelo = 1 << 20;
    ASSERT_EQ(CREDATX8(1, "vm.dat", 8, 0, 0x804, 0, nullptr, nullptr, &mem), 0);
    Bytes rec = record(40, 5), back(40);
    uint32_t pos = NEWVREC(1, 40);
    ASSERT_NE(pos, 0u);
    int32_t hi = zvGETHGH();
    uint32_t records = fcb(1)->nmemrecs;
    zvSETHGH(hi);
    ASSERT_EQ(WRTVREC(1, pos, rec.data(), 40), 0);
    zvSETHGH(hi);
    ASSERT_EQ(RDVREC(1, pos, back.data(), 40), 0);
    EXPECT_EQ(back, rec);
    zvSETHGH(hi);
    EXPECT_EQ(GTVLEN(1, pos), 40u);
    zvSETHGH(hi);
    ASSERT_EQ(RETVREC(1, pos), 0);
    EXPECT_EQ(fcb(1)->nmemrecs, records - 1);
    zvSETHGH(hi);
    EXPECT_EQ(RDVREC(1, pos, back.data(), 40), 160);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

// A header whose last byte used was lowered into live areas: the growth
// that would take their space is refused with 527 and changes nothing,
// whether the cut falls on an area's start or inside a record.
TEST_F(VarrecTest, GrowthIntoLiveAreasIs527) {
    struct Case {
        const char *what;
        int64_t cut;  // last byte used, from the third area's start
    } cases[] = {{"at an area start", -1}, {"inside a record", 4}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        unlink("v.dat");
        make_var(1, "v.dat");
        const Bytes recs[4] = {record(20, 1), record(30, 40), record(30, 80), record(30, 120)};
        uint32_t pos[4];
        for (int i = 0; i < 4; i++) ASSERT_NE(pos[i] = put(1, recs[i]), 0u);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        const uint32_t last = uint32_t(int64_t(pos[2]) + c.cut);
        filestest::patch("v.dat", 8, {uint8_t(last), uint8_t(last >> 8), uint8_t(last >> 16), uint8_t(last >> 24)});
        ASSERT_EQ(OPNFIL(1, "v.dat", 0x804), 0);
        EXPECT_EQ(NEWVREC(1, 40), 0u);
        EXPECT_EQ(zvGetUserErrorCode(), 527);
        EXPECT_EQ(fcb(1)->hdr.base.numrec, last);
        for (int i = 2; i < 4; i++) {
            Bytes back(30);
            EXPECT_EQ(RDVREC(1, pos[i], back.data(), 30), 0) << i;
            EXPECT_EQ(back, recs[i]) << i;
        }
        EXPECT_EQ(CLSFIL(1, 0), 0);
        Bytes disk = file_bytes("v.dat");
        for (int i = 2; i < 4; i++) EXPECT_EQ(slice(disk, pos[i] + 10, 30), recs[i]) << i;
    }
}

// A record written into the area of a deleted one, in write-through mode
// (each write reaches the file at once), by a process killed at any of its
// writes: an area marked live on disk holds the new record whole; else it
// is still free. Never does a live mark stand over the deleted record's
// bytes, which the repair would take back as a record.
TEST_F(VarrecTest, AKilledWriteIntoAFreedAreaNeverMarksTheOldBytesLive) {
    const Bytes old = record(40, 1), fresh = record(40, 101);
    auto made = [&](uint32_t *at) {
        make_var(1, "k.dat", 0x4 | 0x40);
        *at = put(1, old);
        ASSERT_NE(*at, 0u);
        ASSERT_NE(put(1, record(40, 51)), 0u);  // the freed area is not the last
        ASSERT_EQ(RETVREC(1, *at), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
    };
    auto run = [&](long kill_at) {
        return zvtest::run_in_child([&, kill_at] {
            zvtest::ChildResult r;
            if ((r.rc = zvtest::start_engine(8, 20, 8, 16)) != 0) return r;
            if ((r.rc = OPNFIL(1, "k.dat", 0x40)) != 0) return r;
            zv::fault_reset();
            if (kill_at) zv::fault_exit(IoKind::Write, kill_at, 77);
            r.extra = int(put(1, fresh));
            r.rc = r.extra ? 0 : zvGetUserErrorCode();
            r.sys = int(zv::io_calls(IoKind::Write));
            return r;
        });
    };
    uint32_t at = 0;
    made(&at);
    const zvtest::ChildResult whole = run(0);
    ASSERT_TRUE(whole.ok);
    ASSERT_EQ(whole.rc, 0);
    ASSERT_EQ(uint32_t(whole.extra), at) << "the new record takes the freed area";
    ASSERT_GE(whole.sys, 2);
    for (long n = 1; n <= whole.sys; n++) {
        SCOPED_TRACE("killed at write " + std::to_string(n));
        unlink("k.dat");
        made(&at);
        EXPECT_FALSE(run(n).ok);
        const Bytes disk = file_bytes("k.dat");
        ASSERT_GE(disk.size(), at + 50u);
        if (disk[at] == 0xFA && disk[at + 1] == 0xFA) {
            EXPECT_EQ(le32(disk, at + 6), 40u);
            EXPECT_EQ(slice(disk, at + 10, 40), fresh);
        } else {
            EXPECT_EQ(disk[at], 0xFD);
        }
    }
}

}  // namespace
