// Engine-call wrappers on real files: key moves and searches, attributes
// as 64-bit values, stored definitions copied whole, opens under the path
// prefix, ISAM writes with their failing file, serial numbers, and the
// answers without a current instance.
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/core/pools.h"
#include "recapi/base/wrappers.h"
#include "tests/recapi/base/basefix.h"

namespace {

using basetest::EngineTest;
using WrappersTest = EngineTest;

// A set of 32-byte records with one unique index on the first 4 bytes.
struct OneKeySet {
    ISEG seg[1] = {{0, 4, 0}};
    IIDX idx[1] = {};
    IFIL ifil = {};
    explicit OneKeySet(const char *name) {
        idx[0] = IIDX{4, 0, 0, 0, 0, 1, seg, "ById", nullptr, nullptr, nullptr};
        ifil = IFIL{name, -1, 32, 0, 0, 1, 0, 0, idx, nullptr, nullptr, 0};
    }
};

struct Record {
    char bytes[32];
    explicit Record(const char *key) {
        std::memset(bytes, ' ', sizeof bytes);
        std::memcpy(bytes, key, 4);
    }
};

// A table record of the session (open, data file datno).
tagZVDBTABLE *table_on(tagZVDBSESSION *s, int datno) {
    auto *t = basetest::make<tagZVDBTABLE>(ZVDB_TABLE_HANDLE);
    t->session = s;
    t->datno = int16_t(datno);
    t->active = 1;
    t->dataext = const_cast<char *>(".dat");
    t->indexext = const_cast<char *>(".idx");
    return t;
}

class KeyTest : public WrappersTest {
protected:
    void SetUp() override {
        WrappersTest::SetUp();
        ASSERT_EQ(CREIFILX(&set_.ifil, nullptr, nullptr, 0, nullptr, nullptr), 0);
        d_ = set_.ifil.tfilno;
    }
    // Adds records by key; their positions in order.
    std::vector<uint64_t> add(std::initializer_list<const char *> keys) {
        std::vector<uint64_t> out;
        for (const char *k : keys) {
            Record r(k);
            int fail = -7;
            EXPECT_EQ(_zvdbADDREC(d_, r.bytes, &fail), 0) << k;
            EXPECT_EQ(fail, -7);
            uint64_t pos = 0;
            EXPECT_EQ(_zvdbGETCURP(d_, &pos), 0);
            out.push_back(pos);
        }
        return out;
    }
    OneKeySet set_{"keys"};
    int d_ = -1;
};

TEST_F(KeyTest, MovesAndFindsGivePositionsOr101) {
    uint64_t pos = 99;
    char key[8] = {};
    EXPECT_EQ(_zvdbMOVKEY(d_, d_ + 1, &pos, key, 1), 101);  // empty index
    EXPECT_EQ(pos, 99u);
    std::vector<uint64_t> p = add({"bbbb", "aaaa", "cccc"});
    ASSERT_NE(p[0], 0u);
    struct Move {
        int mode;
        int rc;
        const char *key;
        uint64_t pos;
    } moves[] = {
        {1, 0, "aaaa", p[1]}, {3, 0, "bbbb", p[0]}, {3, 0, "cccc", p[2]}, {3, 101, nullptr, 0},
        {2, 0, "cccc", p[2]}, {4, 0, "bbbb", p[0]}, {4, 0, "aaaa", p[1]}, {4, 101, nullptr, 0},
        {5, 4025, nullptr, 0}, {0, 4025, nullptr, 0},
    };
    for (const Move &m : moves) {
        pos = 0;
        std::memset(key, 0, sizeof key);
        EXPECT_EQ(_zvdbMOVKEY(d_, d_ + 1, &pos, key, m.mode), m.rc) << m.mode;
        if (m.key) {
            EXPECT_EQ(std::string(key, 4), m.key) << m.mode;
            EXPECT_EQ(pos, m.pos) << m.mode;
        }
    }
    struct Find {
        int mode;
        const char *target;
        int rc;
        const char *key;
        uint64_t pos;
    } finds[] = {
        {0, "bbbb", 0, "bbbb", p[0]}, {0, "zzzz", 101, nullptr, 0}, {1, "bbbb", 0, "aaaa", p[1]},
        {2, "bbbb", 0, "bbbb", p[0]}, {3, "bbbb", 0, "cccc", p[2]}, {4, "bbbc", 0, "cccc", p[2]},
        {3, "cccc", 101, nullptr, 0}, {1, "aaaa", 101, nullptr, 0}, {5, "aaaa", 4026, nullptr, 0},
        {-1, "aaaa", 4026, nullptr, 0},
    };
    for (const Find &f : finds) {
        pos = 0;
        std::memset(key, 0, sizeof key);
        char target[8] = {};
        std::memcpy(target, f.target, 4);
        EXPECT_EQ(_zvdbFINDKEY(d_, d_ + 1, target, key, 4, &pos, f.mode), f.rc) << f.mode << f.target;
        if (f.key) {
            EXPECT_EQ(std::string(key, 4), f.key) << f.mode << f.target;
            EXPECT_EQ(pos, f.pos) << f.mode << f.target;
        }
    }
    // The count of keys, and the current position of the data file.
    uint64_t n = 0;
    uint32_t n32 = 0;
    EXPECT_EQ(_zvdbGetNumberOfIndexEntries(d_ + 1, &n), 0);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(_zvdbIDXENT(d_ + 1, &n32), 0);
    EXPECT_EQ(n32, 3u);
    EXPECT_EQ(_zvdbGetNumberOfIndexEntries(d_ + 1, nullptr), 4007);
    EXPECT_EQ(_zvdbGetNumberOfRecords(d_, 0, &n), 0);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(_zvdbIDXENT(d_, &n32), 48);  // a data file
}

TEST_F(KeyTest, KeySetsAndPositionedReads) {
    uint64_t pos = 0;
    char key[8] = {};
    EXPECT_EQ(_zvdbFRCKEY(d_ + 1, key, 50, &pos), 101);  // empty index
    const char *keys[] = {"aaaa", "aabb", "bbbb"};
    std::vector<uint64_t> p = add({keys[0], keys[1], keys[2]});
    Record buf("    ");
    struct Step {
        int mode;
        const char *target;
        int rc;
        int record;  // index into p, -1 none
    } steps[] = {
        {1, "aa", 0, 0}, {3, nullptr, 0, 1}, {3, nullptr, 101, -1}, {2, "aa", 0, 1},
        {4, nullptr, 0, 0}, {1, "cc", 101, -1}, {5, "aa", 4025, -1},
    };
    for (const Step &st : steps) {
        pos = 0;
        EXPECT_EQ(_zvdbMOVSET(d_, d_ + 1, st.target, buf.bytes, 2, &pos, st.mode, nullptr), st.rc) << st.mode;
        if (st.record >= 0) {
            EXPECT_EQ(pos, p[size_t(st.record)]) << st.mode;
            EXPECT_EQ(std::string(buf.bytes, 4), keys[st.record]) << st.mode;
        }
    }

    ASSERT_EQ(_zvdbREDIREC(d_, p[2], buf.bytes), 0);
    EXPECT_EQ(std::string(buf.bytes, 4), "bbbb");
    ASSERT_EQ(_zvdbGETCURP(d_, &pos), 0);
    EXPECT_EQ(pos, p[2]);
    Record first("aaaa");
    EXPECT_EQ(_zvdbSETCURI(d_, p[0], first.bytes, 0), 0);
    ASSERT_EQ(_zvdbGETCURP(d_, &pos), 0);
    EXPECT_EQ(pos, p[0]);
    ASSERT_EQ(_zvdbDELREC(d_), 0);
    EXPECT_EQ(_zvdbREDIREC(d_, p[0], buf.bytes), 114);  // deleted meanwhile
    EXPECT_EQ(_zvdbFRCKEY(d_ + 1, key, 0, &pos), 0);
    EXPECT_EQ(pos, p[1]);
    EXPECT_EQ(std::string(key, 4), "aabb");

    char target[8] = "bbbb";
    EXPECT_EQ(_zvdbTFRMKEY(d_ + 1, target), 0);
    EXPECT_EQ(_zvdbTFRMKEY(d_ + 40, target), 80);
    Record rec("cdef");
    std::memset(key, 0, sizeof key);
    EXPECT_EQ(_zvdbfrmkey(d_ + 1, rec.bytes, key, 0, 32), 0);
    EXPECT_EQ(std::string(key, 4), "cdef");
    EXPECT_EQ(_zvdbfrmkey(d_ + 40, rec.bytes, key, 0, 32), 80);
    EXPECT_EQ(_zvdbESTKEY(d_ + 1, nullptr, nullptr), 2);
}

TEST_F(KeyTest, KeyWrappersAllocateNothing) {
    add({"aaaa", "bbbb", "cccc"});
    uint64_t pos;
    char key[8];
    uint64_t allocs = zv::platform_alloc_count();
    for (int i = 0; i < 200; i++) {
        ASSERT_EQ(_zvdbMOVKEY(d_, d_ + 1, &pos, key, 1), 0);
        while (_zvdbMOVKEY(d_, d_ + 1, &pos, key, 3) == 0) {
        }
        ASSERT_EQ(_zvdbFINDKEY(d_, d_ + 1, "bbbb", key, 4, &pos, 0), 0);
        ASSERT_EQ(_zvdbFINDKEY(d_, d_ + 1, "bbbb", key, 4, &pos, 4), 0);
        ASSERT_EQ(_zvdbGETCURP(d_, &pos), 0);
    }
    EXPECT_EQ(zv::platform_alloc_count(), allocs);
}

TEST_F(KeyTest, WritesNameTheFailingFile) {
    add({"aaaa"});
    Record dup("aaaa");
    int fail = -7;
    EXPECT_EQ(_zvdbADDREC(d_, dup.bytes, &fail), 2);
    EXPECT_EQ(fail, d_ + 1);  // the unique index
    EXPECT_EQ(_zvdbADDREC(d_, dup.bytes, nullptr), 2);
    Record other("bbbb");
    fail = -7;
    EXPECT_EQ(_zvdbRWTREC(d_, other.bytes, &fail), 0);  // rewrites the current record
    EXPECT_EQ(fail, -7);
    uint64_t n = 0;
    EXPECT_EQ(_zvdbGetNumberOfRecords(d_, 0, &n), 0);
    EXPECT_EQ(n, 1u);
}

TEST_F(KeyTest, LockTypeIsNoneWhateverTheSystemCodeSays) {
    std::vector<uint64_t> p = add({"aaaa"});
    EXPECT_NE(OPNFIL(30, "missing.dat", 0), 0);
    ASSERT_EQ(zvGetSystemErrorCode(), 2);  // a failed I/O left its errno
    EXPECT_EQ(_zvdbGETLOK(d_, p[0]), 0);
    EXPECT_EQ(_zvdbLOKREC(d_, 18, p[0]), 0);
}

TEST_F(KeyTest, SerialNumbersLeaveTheOperationBitAsFound) {
    tagZVDBTABLE *t = table_on(session_, d_);
    uint32_t high = 9, low = 9;
    ASSERT_EQ(_zvdbGetSerialExt(t, &high, &low, 0), 0);
    uint32_t first = low;
    EXPECT_EQ(high, 0u);
    uint32_t drawn = first;
    for (bool on : {false, true}) {
        SCOPED_TRACE(on);
        SETOPS(0x80000, on ? 2 : 0);
        ASSERT_EQ(_zvdbGetSerialExt(t, &high, &low, 1), 0);
        EXPECT_EQ(low, ++drawn) << "next hands out the following number";
        EXPECT_EQ(SETOPS(0, 3) & 0x80000, on ? 0x80000 : 0);
        t->datno = 35;  // not open: the call fails
        EXPECT_NE(_zvdbGetSerialExt(t, &high, &low, 1), 0);
        EXPECT_EQ(SETOPS(0, 3) & 0x80000, on ? 0x80000 : 0);
        t->datno = int16_t(d_);
    }
    SETOPS(0x80000, 0);
    uint64_t serial = 7;
    ASSERT_EQ(_zvdbGetSerial(t, &serial), 0);
    EXPECT_EQ(serial, uint64_t(drawn));
    // A file with 8-byte positions keeps the high word of its serial number.
    XCREblk x{};
    x.mode = 0x42;
    int wide = AVLFILNUM(1);
    ASSERT_EQ(CREDATX8(wide, "wide.dat", 32, 0, 0, 0, nullptr, nullptr, &x), 0);
    tagZVDBTABLE *w = table_on(session_, wide);
    ASSERT_EQ(_zvdbUpdateSerial(w, 0x100000029ull), 0);
    ASSERT_EQ(_zvdbGetSerial(w, &serial), 0);
    EXPECT_EQ(serial, 0x100000029ull);
    ASSERT_EQ(_zvdbGetSerialExt(w, &high, &low, 0), 0);
    EXPECT_EQ(high, 1u);
    EXPECT_EQ(low, 0x29u);
    EXPECT_EQ(_zvdbUpdateSerial(nullptr, 1), 4013);
    _zvdb_free(w);
    EXPECT_EQ(_zvdbGetSerialExt(t, &high, nullptr, 0), 4007);
    EXPECT_EQ(_zvdbGetSerialExt(nullptr, &high, &low, 0), 4013);
    EXPECT_EQ(_zvdbGetSerial(t, nullptr), 4007);
    _zvdb_free(t);
}

TEST_F(WrappersTest, AttributesAre64BitValues) {
    ASSERT_EQ(_zvdbCREDAT(session_, 1, "g.dat", 100, 0, 0, 0, nullptr, nullptr), 0);
    EXPECT_TRUE(std::filesystem::exists("pre/g.dat"));
    int64_t v = 0;
    ASSERT_EQ(_zvdbGETFIL(1, 26, &v), 0);
    EXPECT_EQ(v & 0x02, 0x02);  // extended header
    ASSERT_EQ(PUTHDR(1, 0, 5), 0);  // last byte used 0xFFFFFFFF
    ASSERT_EQ(_zvdbGETFIL(1, 10, &v), 0);
    EXPECT_EQ(v, int64_t(0x100000000));
    ASSERT_EQ(PUTHDR(1, int32_t(0x80000000u), 6), 0);
    ASSERT_EQ(_zvdbGETFIL(1, 11, &v), 0);
    EXPECT_EQ(v, int64_t(0x80000000));
    v = 5;
    EXPECT_EQ(_zvdbGETFIL(1, 8, &v), 116);
    EXPECT_EQ(v, 5);
    EXPECT_EQ(_zvdbGETFIL(1, 0, nullptr), 0);
    EXPECT_EQ(_zvdbISHUGEFILE(1), 0);
    EXPECT_EQ(_zvdbPartKeyNo(1), -1);
    int o[4] = {7, 7, 7, 7};
    EXPECT_EQ(_zvdbGetFLMOD3(1, &o[0], &o[1], &o[2], &o[3]), 0);
    EXPECT_EQ(o[0] | o[1] | o[2] | o[3], 0);
    EXPECT_EQ(_zvdbPartCallParm(1), 0);
    EXPECT_EQ(_zvdbCLSFIL(1), 0);
    EXPECT_EQ(_zvdbGETFIL(1, 0, &v), 26);
    EXPECT_EQ(_zvdbPartCallParm(1), -1);
    EXPECT_EQ(_zvdbGetFLMOD3(1, nullptr, nullptr, nullptr, nullptr), 26);

    XCREblk x{};
    x.mode = 0x42;  // extended, 8-byte positions
    ASSERT_EQ(CREDATX8(2, "h.dat", 100, 0, 0, 0, nullptr, nullptr, &x), 0);
    EXPECT_EQ(_zvdbISHUGEFILE(2), 1);
    int first = -1;
    ASSERT_EQ(_zvdbAVLFILNBR(3, &first), 0);
    EXPECT_EQ(first, 3);
    EXPECT_EQ(_zvdbAVLFILNBR(0, &first), 22);
}

TEST_F(WrappersTest, SingleFilesUnderThePrefix) {
    std::string longname(300, 'n');
    EXPECT_EQ(_zvdbCREDAT(session_, 1, longname.c_str(), 100, 0, 0, 0, nullptr, nullptr), 139);
    EXPECT_EQ(_zvdbCREDAT(nullptr, 1, "g.dat", 100, 0, 0, 0, nullptr, nullptr), 4003);
    ASSERT_EQ(_zvdbCREDAT(session_, 1, "g.dat", 100, 0, 0, 0, nullptr, nullptr), 0);
    ASSERT_EQ(_zvdbCLSFIL(1), 0);
    ASSERT_EQ(_zvdbOPNFIL(session_, 4, "g.dat", 0), 0);
    char name[64];
    ASSERT_EQ(_zvdbGETNAM(4, name, sizeof name, 0), 0);
    EXPECT_STREQ(name, "pre/g.dat");
    EXPECT_EQ(_zvdbCLSFIL(4), 0);

    tagZVDBTABLE *t = table_on(session_, -1);
    int f = -1;
    int free_no = AVLFILNUM(2);
    ASSERT_EQ(_zvdbOPNFILX(t, "g.dat", 0, &f, 2), 0);
    EXPECT_EQ(f, free_no);
    EXPECT_EQ(_zvdbOPNFILX(t, "g.dat", 0, nullptr, 2), 33);
    EXPECT_EQ(_zvdbOPNFILX(session_, "g.dat", 0, &f, 2), 4013);
    EXPECT_EQ(_zvdbOPNFIL(session_, 9, "none.dat", 0), 12);
    EXPECT_EQ(_zvdbDELFIL(f), 0);
    EXPECT_FALSE(std::filesystem::exists("pre/g.dat"));
    _zvdb_free(t);
}

TEST_F(WrappersTest, ResourcesAndSegmentDefinitions) {
    OneKeySet s("res");
    ASSERT_EQ(CREIFILX(&s.ifil, nullptr, nullptr, 0, nullptr, nullptr), 0);
    int d = s.ifil.tfilno;
    unsigned char body[16] = {};
    uint32_t type = 0x10001, number = 5;
    std::memcpy(body, &type, 4);
    std::memcpy(body + 4, &number, 4);
    std::memcpy(body + 9, "data", 4);  // no name, then the data
    ASSERT_EQ(_zvdbADDRES(d, body, 13), 0);
    unsigned char buf[32] = {};
    EXPECT_EQ(_zvdbGETRES(d, body, buf, sizeof buf, 2), 0);
    EXPECT_EQ(std::memcmp(buf, body, 13), 0);
    uint64_t pos = 0;
    EXPECT_EQ(_zvdbREADRES(d, body, buf, sizeof buf, 2, &pos), 0);
    EXPECT_NE(pos, 0u);
    ASSERT_EQ(_zvdbDELRES(d, body), 0);
    EXPECT_EQ(_zvdbGETRES(d, body, buf, sizeof buf, 2), 408);
    EXPECT_EQ(_zvdbREADRES(d, body, buf, sizeof buf, 2, &pos), 408);
    EXPECT_EQ(pos, 0u);

    KSEGDEF def{};
    def.kind = 1;  // the API's defaults: a Unicode definition, refused
    EXPECT_EQ(_zvdbPUTKSEGDEF(d + 1, 0, &def), 454);
    def.kind = 2;
    def.subkind = 5;
    EXPECT_EQ(_zvdbPUTKSEGDEF(d + 1, 0, &def), 401);  // the index file keeps no resources yet
    ASSERT_EQ(ENARES(d + 1), 0);
    ASSERT_EQ(_zvdbPUTKSEGDEF(d + 1, 0, &def), 0);
    KSEGDEF back{};
    ASSERT_EQ(_zvdbGETKSEGDEF(d + 1, 0, &back), 0);
    EXPECT_EQ(back.kind, 2);
    EXPECT_EQ(back.subkind, 5);
    EXPECT_EQ(back.size, 64);
    EXPECT_EQ(_zvdbGETKSEGDEF(d + 1, 1, &back), 707);
    const int schema_modes[][2] = {{12, 1},    {15, 1}, {0x101, 1}, {0x40D, 1}, {0x20E, 1}, {11, 0},
                                   {0x10F, 0}, {0, 0},  {0x100, 0}, {0x103, 0}, {16, 0}};
    for (const auto &m : schema_modes) EXPECT_EQ(_zvdbIsSCHSEG(m[0]), m[1]) << m[0];
    EXPECT_EQ(_zvdbMOVFTS(nullptr, 1), 4054);
    EXPECT_EQ(_zvdbTRANISO(3), 0);
}

TEST_F(WrappersTest, PositionsAtFourGigabytes) {
    XCREblk x{};
    x.mode = 0x42;  // 8-byte positions
    ASSERT_EQ(CREDATX8(1, "big.dat", 32, 0, 0, 0, nullptr, nullptr, &x), 0);
    // The file ends at 4 GiB: the next resource lies where the low word is 0.
    for (int mode : {6, 5}) {
        zvSETHGH(1);
        ASSERT_EQ(PUTHDR(1, 0, mode), 0) << mode;
    }
    unsigned char body[16] = {};
    uint32_t type = 0x10002, number = 1;
    std::memcpy(body, &type, 4);
    std::memcpy(body + 4, &number, 4);
    std::memcpy(body + 9, "far", 3);
    ASSERT_EQ(_zvdbADDRES(1, body, 12), 0);
    unsigned char buf[32] = {};
    ASSERT_EQ(GETRES(1, body, buf, sizeof buf, 2), 0u);
    ASSERT_EQ(zvGETHGH(), 1);
    EXPECT_EQ(_zvdbGETRES(1, body, buf, sizeof buf, 2), 0);
    uint64_t pos = 0;
    EXPECT_EQ(_zvdbREADRES(1, body, buf, sizeof buf, 2, &pos), 0);
    EXPECT_EQ(pos, 0x100000000ull);
    EXPECT_EQ(std::memcmp(buf, body, 12), 0);

    // A key whose record lies at 4 GiB: the key calls give its whole position.
    ASSERT_EQ(CREIDXX8(2, "big.idx", 4, 0, 0, 0, 0, 0, 0, nullptr, nullptr, &x), 0);
    zvSETHGH(1);
    ASSERT_EQ(ADDKEY(2, "abcd", 0, 0), 0);
    char key[8] = {};
    pos = 0;
    EXPECT_EQ(_zvdbFRCKEY(2, key, 0, &pos), 0);
    EXPECT_EQ(pos, 0x100000000ull);
    pos = 0;
    EXPECT_EQ(_zvdbMOVKEY(1, 2, &pos, key, 1), 0);
    EXPECT_EQ(pos, 0x100000000ull);
    pos = 0;
    EXPECT_EQ(_zvdbFINDKEY(1, 2, "abcd", key, 4, &pos, 0), 0);
    EXPECT_EQ(pos, 0x100000000ull);
}

// Fails the nth platform allocation of call() for n = 1, 2, ... until it
// succeeds: each failure is clean (a code, nothing left allocated), and the
// failure of allocation `mine` gives `code`.
template <typename Call>
void sweep_allocations(long mine, int code, Call call) {
    bool seen = false;
    for (long n = 1;; n++) {
        int64_t in_use = zv::pool_blocks_in_use();
        zv::fail_alloc_at(n);
        int rc = call();
        zv::fail_alloc_at(0);
        if (rc == 0) break;
        EXPECT_EQ(zv::pool_blocks_in_use(), in_use) << n;
        if (n == mine) {
            EXPECT_EQ(rc, code);
            seen = true;
        }
        ASSERT_LT(n, 100);
    }
    EXPECT_TRUE(seen) << "allocation " << mine << " was never reached";
}

// Checks that every pointer of a definition lies inside its block and
// that it describes the set `want`.
void expect_definition(const IFIL *got, int32_t len, const IFIL &want) {
    auto inside = [&](const void *p) {
        auto *b = static_cast<const unsigned char *>(p), *base = reinterpret_cast<const unsigned char *>(got);
        return b >= base && b < base + len;
    };
    ASSERT_TRUE(inside(got->pfilnam));
    ASSERT_TRUE(inside(got->iidxarr));
    ASSERT_EQ(got->dnumidx, want.dnumidx);
    EXPECT_EQ(got->dreclen, want.dreclen);
    for (int i = 0; i < want.dnumidx; i++) {
        const IIDX &g = got->iidxarr[i], &w = want.iidxarr[i];
        ASSERT_TRUE(inside(g.isegarr)) << i;
        ASSERT_TRUE(inside(g.ridxnam)) << i;
        EXPECT_STREQ(g.ridxnam, w.ridxnam) << i;
        ASSERT_EQ(g.inumseg, w.inumseg) << i;
        EXPECT_EQ(std::memcmp(g.isegarr, w.isegarr, sizeof(ISEG) * size_t(w.inumseg)), 0) << i;
        if (g.aidxnam) {
            EXPECT_TRUE(inside(g.aidxnam)) << i;
        }
    }
}

// A set of many indexes with long names: its stored definition is larger
// than the first read's 8192 bytes.
struct WideSet {
    static constexpr int kIndexes = 24;
    ISEG segs[kIndexes][16];
    std::string names[kIndexes];
    IIDX idx[kIndexes];
    IFIL ifil;
    WideSet() {
        for (int i = 0; i < kIndexes; i++) {
            for (int j = 0; j < 16; j++) segs[i][j] = ISEG{int16_t((i + j) % 32), 1, 0};
            names[i] = "index_" + std::to_string(i) + "_" + std::string(200, char('a' + i % 26));
            idx[i] = IIDX{16, 0, 1, 0, 0, 16, segs[i], names[i].c_str(), nullptr, nullptr, nullptr};
            idx[i].ikeylen = 16 + 4;  // duplicates: the position suffix
        }
        ifil = IFIL{"wide", -1, 32, 0, 0, kIndexes, 0, 0, idx, nullptr, nullptr, 0};
    }
};

TEST_F(WrappersTest, StoredDefinitionsComeBackWhole) {
    unsigned char buf_[64];
    OneKeySet small("small");
    ASSERT_EQ(CREIFILX(&small.ifil, nullptr, nullptr, 0, nullptr, nullptr), 0);
    auto wide = std::make_unique<WideSet>();
    ASSERT_EQ(CREIFILX(&wide->ifil, nullptr, nullptr, 0, nullptr, nullptr), 0);
    ASSERT_GT(GETIFIL(wide->ifil.tfilno, 0, nullptr), 8192);
    for (IFIL *want : {&small.ifil, &wide->ifil}) {
        IFIL *got = nullptr;
        int32_t len = 0;
        ASSERT_EQ(_zvdbGETIFIL(want->tfilno, &got, &len), 0);
        EXPECT_EQ(len, GETIFIL(want->tfilno, 0, nullptr));
        expect_definition(got, len, *want);
        _zvdb_free(got);
    }
    IFIL *got = nullptr;
    EXPECT_EQ(_zvdbGETIFIL(small.ifil.tfilno, nullptr, nullptr), 33);
    EXPECT_EQ(_zvdbGETIFIL(small.ifil.tfilno + 1, &got, nullptr), 48);  // an index
    EXPECT_EQ(got, nullptr);

    // Failed allocations: the first read's own allocations come first, then
    // the block's, which fails with 83; every failure leaves nothing behind.
    for (IFIL *want : {&small.ifil, &wide->ifil}) {
        uint64_t before = zv::platform_alloc_count();
        ASSERT_GT(GETIFIL(want->tfilno, 64, buf_), 0);
        long mine = long(zv::platform_alloc_count() - before) + 1;
        sweep_allocations(mine, 83, [&] {
            got = reinterpret_cast<IFIL *>(1);
            int rc = _zvdbGETIFIL(want->tfilno, &got, nullptr);
            EXPECT_EQ(got, rc ? nullptr : got);
            if (!rc) _zvdb_free(got);
            return rc;
        });
    }
}

TEST_F(WrappersTest, RecordSchemasComeBackWhole) {
    OneKeySet s1("few"), s2("many");
    ASSERT_EQ(CREIFILX(&s1.ifil, nullptr, nullptr, 0, nullptr, nullptr), 0);
    ASSERT_EQ(CREIFILX(&s2.ifil, nullptr, nullptr, 0, nullptr, nullptr), 0);
    const DATOBJ few[3] = {{"id", 0, ZV_INT4, 0, 0, 0}, {nullptr, 0, ZV_FSTRING, 8, 0, 0}, {"x", 0, ZV_CHAR, 0, 0, 0}};
    ASSERT_EQ(PUTDODA(s1.ifil.tfilno, few, 3), 0);
    constexpr int kMany = 400;
    std::vector<std::string> names(kMany);
    std::vector<DATOBJ> many(kMany);
    for (int i = 0; i < kMany; i++) {
        names[i] = "field_number_" + std::to_string(i);
        many[i] = DATOBJ{names[i].c_str(), 0, ZV_INT4, 0, 0, 0};
    }
    ASSERT_EQ(PUTDODA(s2.ifil.tfilno, many.data(), kMany), 0);
    ASSERT_GT(GETDODA(s2.ifil.tfilno, 0, nullptr, 4), 8192);

    struct Case {
        int datno;
        const DATOBJ *want;
        int n;
    } cases[] = {{s1.ifil.tfilno, few, 3}, {s2.ifil.tfilno, many.data(), kMany}};
    for (const Case &c : cases) {
        DATOBJ *got = nullptr;
        int32_t len = 0;
        ASSERT_EQ(_zvdbGETDODA(c.datno, &got, &len), 0);
        auto *base = reinterpret_cast<const char *>(got);
        for (int i = 0; i < c.n; i++) {
            EXPECT_EQ(got[i].ftype, c.want[i].ftype) << i;
            EXPECT_NE(got[i].fend, 0xFFFF) << i;
            if (!c.want[i].fsymb) {
                EXPECT_EQ(got[i].fsymb, nullptr) << i;
                continue;
            }
            ASSERT_TRUE(got[i].fsymb >= base && got[i].fsymb < base + len) << i;
            EXPECT_STREQ(got[i].fsymb, c.want[i].fsymb) << i;
        }
        EXPECT_EQ(got[c.n].fend, 0xFFFF);
        _zvdb_free(got);
        // The other forms are the engine's blocks as they are.
        for (int form : {1, 2, 3}) {
            void *block = nullptr;
            ASSERT_EQ(_zvdbGETDODAORMAP(c.datno, &block, &len, form), 0) << form;
            std::vector<unsigned char> direct(static_cast<size_t>(len));
            ASSERT_EQ(GETDODA(c.datno, len, direct.data(), form), len);
            EXPECT_EQ(std::memcmp(block, direct.data(), size_t(len)), 0) << form;
            _zvdb_free(block);
        }
    }
    void *block = nullptr;
    EXPECT_EQ(_zvdbGETSCHEMA(s1.ifil.tfilno, nullptr, nullptr), 33);
    ASSERT_EQ(_zvdbGETSCHEMANAMES(s1.ifil.tfilno, &block, nullptr), 0);
    _zvdb_free(block);

    for (const Case &c : cases) {
        uint64_t before = zv::platform_alloc_count();
        ASSERT_GT(GETDODA(c.datno, 0, nullptr, 4), 0);
        long mine = long(zv::platform_alloc_count() - before) + 1;
        sweep_allocations(mine, 82, [&] {
            DATOBJ *got = reinterpret_cast<DATOBJ *>(1);
            int rc = _zvdbGETDODA(c.datno, &got, nullptr);
            EXPECT_EQ(got, rc ? nullptr : got);
            if (!rc) _zvdb_free(got);
            return rc;
        });
    }
}

TEST_F(WrappersTest, FileSetsOpenUnderThePrefix) {
    OneKeySet plain("pre/cust"), mirrored("pre/a.dat|b");
    ASSERT_EQ(CREIFILX(&plain.ifil, nullptr, nullptr, 0, nullptr, nullptr), 0);
    ASSERT_EQ(CREIFILX(&mirrored.ifil, nullptr, nullptr, 0, nullptr, nullptr), 0);
    ASSERT_EQ(CLIFIL(&plain.ifil), 0);
    ASSERT_EQ(CLIFIL(&mirrored.ifil), 0);
    ASSERT_TRUE(std::filesystem::exists("pre/a.dat|b.dat"));

    int f = -1;
    ASSERT_EQ(_zvdbOPNRFILX(session_, "cust", 0, nullptr, ".dat", &f, 0), 0);
    char name[64];
    ASSERT_EQ(_zvdbGETNAM(f, name, sizeof name, 0), 0);
    EXPECT_STREQ(name, "pre/cust.dat");
    EXPECT_EQ(_zvdbCLRFIL(f), 0);
    ASSERT_EQ(_zvdbOPNRFILX(session_, "a|b", 0, nullptr, ".dat", &f, 0), 0);
    ASSERT_EQ(_zvdbGETNAM(f, name, sizeof name, 0), 0);
    EXPECT_STREQ(name, "pre/a.dat|b.dat");
    EXPECT_EQ(_zvdbCLRFIL(f), 0);

    f = -5;
    EXPECT_EQ(_zvdbOPNRFILX(session_, "missing", 0, nullptr, ".dat", &f, 0), 12);
    EXPECT_EQ(f, -5);
    EXPECT_EQ(_zvdbOPNRFILX(session_, nullptr, 0, nullptr, ".dat", &f, 0), 139);
    EXPECT_EQ(_zvdbOPNRFILX(session_, "cust", 0, nullptr, nullptr, &f, 0), 139);
    EXPECT_EQ(_zvdbOPNRFILX(session_, "cust", 0, nullptr, ".dat", nullptr, 0), 33);
    std::string longname(300, 'n');
    EXPECT_EQ(_zvdbOPNRFILX(session_, longname.c_str(), 0, nullptr, ".dat", &f, 0), 139);

    // The same set by its definition, from the table's extensions.
    tagZVDBTABLE *t = table_on(session_, -1);
    OneKeySet bydef("cust");
    ASSERT_EQ(_zvdbOPNIFILX(t, &bydef.ifil, 0, &f), 0);
    EXPECT_EQ(bydef.ifil.tfilno, f);
    ASSERT_EQ(_zvdbGETNAM(f, name, sizeof name, 0), 0);
    EXPECT_STREQ(name, "pre/cust.dat");
    EXPECT_STREQ(bydef.ifil.pfilnam, "cust");  // the caller's definition is not touched
    EXPECT_EQ(_zvdbCLIFIL(&bydef.ifil), 0);
    OneKeySet none("none");
    EXPECT_EQ(_zvdbOPNIFILX(t, &none.ifil, 0, &f), 12);
    EXPECT_EQ(_zvdbOPNIFILX(t, &none.ifil, 0, nullptr), 33);
    EXPECT_EQ(_zvdbOPNIFILX(session_, &none.ifil, 0, &f), 4013);
    _zvdb_free(t);
}

TEST_F(WrappersTest, CreatedSetKeepsItsSchema) {
    OneKeySet s("pre/made");
    const DATOBJ schema[2] = {{"id", 0, ZV_INT4, 0, 0, 0}, {"name", 0, ZV_FSTRING, 28, 0, 0}};
    ASSERT_EQ(_zvdbCREIFILXX(&s.ifil, schema, 2, nullptr, nullptr, 0, nullptr, nullptr), 0);
    EXPECT_EQ(s.ifil.tfilno, -1);  // closed again
    int f = -1;
    ASSERT_EQ(_zvdbOPNRFILX(session_, "made", 0, nullptr, ".dat", &f, 0), 0);
    DATOBJ *got = nullptr;
    ASSERT_EQ(_zvdbGETDODA(f, &got, nullptr), 0);
    EXPECT_STREQ(got[0].fsymb, "id");
    EXPECT_STREQ(got[1].fsymb, "name");
    EXPECT_EQ(got[2].fend, 0xFFFF);
    _zvdb_free(got);
    EXPECT_EQ(_zvdbCLRFIL(f), 0);
    EXPECT_EQ(_zvdbCREIFILXX(&s.ifil, schema, 2, nullptr, nullptr, 0, nullptr, nullptr), 19);  // exists
}

TEST_F(WrappersTest, WithoutAnInstanceTheFieldsReadMinusOne) {
    ASSERT_EQ(CLISAM(), 0);
    zvtest::clear_instance_ring();
    ASSERT_EQ(WCHZARVO(), nullptr);
    int64_t v;
    uint64_t pos;
    uint32_t n32;
    int32_t len;
    char key[8] = "aaaa";
    unsigned char buf[16] = {};
    IFIL *ifil;
    DATOBJ *doda;
    int first, fail = 0;
    struct Case {
        const char *what;
        int rc;
    } cases[] = {
        {"GETFIL", _zvdbGETFIL(1, 0, &v)},
        {"AVLFILNBR", _zvdbAVLFILNBR(1, &first)},
        {"SETOPS", _zvdbSETOPS(0, 3, nullptr)},
        {"MOVKEY", _zvdbMOVKEY(1, 2, &pos, key, 1)},
        {"FINDKEY", _zvdbFINDKEY(1, 2, key, key, 4, &pos, 0)},
        {"FRCKEY", _zvdbFRCKEY(2, key, 50, &pos)},
        {"GETCURP", _zvdbGETCURP(1, &pos)},
        {"GETVLEN", _zvdbGETVLEN(1, &len)},
        {"TFRMKEY", _zvdbTFRMKEY(2, key)},
        {"frmkey", _zvdbfrmkey(2, buf, key, 0, 16)},
        {"GETRES", _zvdbGETRES(1, buf, buf, sizeof buf, 2)},
        {"READRES", _zvdbREADRES(1, buf, buf, sizeof buf, 2, &pos)},
        {"IDXENT", _zvdbIDXENT(2, &n32)},
        {"index entries", _zvdbGetNumberOfIndexEntries(2, &pos)},
        {"records", _zvdbGetNumberOfRecords(1, 0, &pos)},
        {"GETIFIL", _zvdbGETIFIL(1, &ifil, nullptr)},
        {"GETDODA", _zvdbGETDODA(1, &doda, nullptr)},
        {"PartKeyNo", _zvdbPartKeyNo(1)},
        {"GetFLMOD3", _zvdbGetFLMOD3(1, nullptr, nullptr, nullptr, nullptr)},
        {"PartCallParm", _zvdbPartCallParm(1)},
    };
    for (const Case &c : cases) EXPECT_EQ(c.rc, -1) << c.what;
    EXPECT_EQ(_zvdbADDREC(1, buf, &fail), 47);
    EXPECT_EQ(fail, -1);  // no failing file without an instance
    EXPECT_EQ(_zvdbGETLOK(1, 0), 6);
    EXPECT_EQ(_zvdbISHUGEFILE(1), 0);
    ASSERT_EQ(REGZARVO("again"), 0);  // the fixture's tear-down stops an instance
}

}  // namespace

namespace {

// The scan form counts the records of a variable-length file by walking its
// areas: freed areas and resources do not count.
TEST_F(WrappersTest, RecordCountByScanOfAVariableLengthFile) {
    ASSERT_EQ(CREDATX8(3, "v.dat", 8, 0, 0x4, 0, nullptr, nullptr, nullptr), 0);
    std::vector<uint32_t> pos;
    for (int i = 0; i < 40; i++) {
        std::string rec(size_t(8 + i * 3), char('a' + i % 26));
        uint32_t p = NEWVREC(3, int32_t(rec.size()));
        ASSERT_NE(p, 0u) << i;
        ASSERT_EQ(WRTVREC(3, p, rec.data(), int32_t(rec.size())), 0) << i;
        pos.push_back(p);
    }
    char body[32] = {};
    body[0] = 7;  // type 7, number 1, name "r"
    body[4] = 1;
    body[8] = 'r';
    ASSERT_EQ(ADDRES(3, body, sizeof body), 0);
    for (int i = 0; i < 40; i += 4) ASSERT_EQ(RETVREC(3, pos[size_t(i)]), 0) << i;
    uint64_t n = 0;
    ASSERT_EQ(_zvdbGetNumberOfRecords(3, 1, &n), 0);
    EXPECT_EQ(n, 30u);
    EXPECT_EQ(_zvdbGetNumberOfRecords(3, 1, nullptr), 4007);
    EXPECT_EQ(_zvdbGetNumberOfRecords(3, 0, &n), 48) << "no active count kept for variable-length files";
    EXPECT_EQ(_zvdbGetNumberOfRecords(30, 1, &n), 26);
    ASSERT_EQ(CLSFIL(3, 0), 0);
}

}  // namespace

namespace {

// Contexts and batches through their wrappers: an all-index context's id
// comes back, the engine's codes pass through, and a failed open gives the
// ISAM error.
TEST_F(KeyTest, ContextsAndBatchesPassThroughTheirWrappers) {
    add({"aaaa", "bbbb", "cccc"});
    int a = -1, b = -1;
    ASSERT_EQ(_zvdbOPNICON(d_, &a), 0);
    ASSERT_EQ(_zvdbOPNICON(d_, &b), 0);
    EXPECT_NE(a, b);
    Record r("    ");
    ASSERT_EQ(FRSREC(d_ + 1, r.bytes), 0);
    ASSERT_EQ(NXTREC(d_ + 1, r.bytes), 0);  // b stands on "bbbb"
    EXPECT_EQ(_zvdbCHGICON(a), 0);
    ASSERT_EQ(FRSREC(d_ + 1, r.bytes), 0);  // a on "aaaa"
    EXPECT_EQ(_zvdbCHGICON(b), 0);
    ASSERT_EQ(NXTREC(d_ + 1, r.bytes), 0);
    EXPECT_EQ(std::string(r.bytes, 4), "cccc") << "b continues where it stood";
    EXPECT_EQ(_zvdbCLSICON(a), 0);
    EXPECT_EQ(_zvdbCLSICON(a), 590);
    EXPECT_EQ(_zvdbCHGICON(a), 590);
    int none = -7;
    EXPECT_EQ(_zvdbOPNICON(d_ + 1, &none), 48) << "an index is no data file";
    EXPECT_EQ(none, -7);
    EXPECT_EQ(_zvdbOPNICON(d_, nullptr), 33);
    // Batches: asking the next part with no batch gives the engine's 426.
    unsigned char req[64] = {};
    unsigned char buf[256];
    EXPECT_EQ(_zvdbBATSETX(d_ + 1, req, buf, sizeof buf, ZV_BAT_NEXT), 426);
    ASSERT_EQ(ALCBAT(), 0);
    EXPECT_EQ(_zvdbCHGBAT(1), 0);
    EXPECT_EQ(_zvdbFREBATN(1), 0);
    EXPECT_EQ(FREBAT(), 0);
}

// A set rebuilt through the wrapper is found under the session's prefix.
TEST_F(WrappersTest, RebuildUnderThePrefix) {
    OneKeySet made("pre/cust");
    ASSERT_EQ(CREIFILX(&made.ifil, nullptr, nullptr, 0, nullptr, nullptr), 0);
    for (const char *k : {"aaaa", "bbbb", "cccc"}) {
        Record r(k);
        ASSERT_EQ(ADDREC(made.ifil.tfilno, r.bytes), 0);
    }
    ASSERT_EQ(CLIFIL(&made.ifil), 0);
    ASSERT_TRUE(std::filesystem::remove("pre/cust.idx"));
    tagZVDBTABLE *t = table_on(session_, -1);
    OneKeySet bydef("cust");
    EXPECT_EQ(_zvdbRBLIFILX(t, &bydef.ifil, ".dat", ".idx", 0, nullptr, nullptr), 0);
    EXPECT_TRUE(std::filesystem::exists("pre/cust.idx")) << "the index was made again under the prefix";
    EXPECT_STREQ(bydef.ifil.pfilnam, "cust") << "the caller's definition is not touched";
    int f = -1;
    ASSERT_EQ(_zvdbOPNIFILX(t, &bydef.ifil, 0, &f), 0);
    uint32_t n = 0;
    EXPECT_EQ(_zvdbIDXENT(f + 1, &n), 0);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(_zvdbCLIFIL(&bydef.ifil), 0);
    EXPECT_EQ(_zvdbRBLIFILX(session_, &bydef.ifil, ".dat", ".idx", 0, nullptr, nullptr), 4013);
    EXPECT_EQ(_zvdbRBLIFILX(t, nullptr, ".dat", ".idx", 0, nullptr, nullptr), 4007);
    EXPECT_EQ(_zvdbSETCBRBL(nullptr, 0), 0);
    _zvdb_free(t);
}

// A set compacted through the wrappers is found under the session's prefix,
// without its deleted records; the engine's refusals come back as they are.
TEST_F(WrappersTest, CompactionUnderThePrefix) {
    OneKeySet made("pre/cust");
    ASSERT_EQ(CREIFILX(&made.ifil, nullptr, nullptr, 0, nullptr, nullptr), 0);
    const char *keys[] = {"aaaa", "bbbb", "cccc", "dddd", "eeee", "ffff", "gggg", "hhhh"};
    for (const char *k : keys) {
        Record r(k);
        ASSERT_EQ(ADDREC(made.ifil.tfilno, r.bytes), 0);
    }
    for (int i = 1; i < 8; i += 2) {
        Record r(keys[i]);
        ASSERT_EQ(EQLREC(made.ifil.tfilno + 1, r.bytes, r.bytes), 0);
        ASSERT_EQ(DELREC(made.ifil.tfilno), 0);
    }
    ASSERT_EQ(CLIFIL(&made.ifil), 0);
    tagZVDBTABLE *t = table_on(session_, -1);
    OneKeySet bydef("cust");
    // The live keys of the set, in key order.
    auto live = [&]() {
        std::vector<std::string> out;
        int f = -1;
        EXPECT_EQ(_zvdbOPNIFILX(t, &bydef.ifil, 0, &f), 0);
        Record r("    ");
        for (int rc = FRSREC(f + 1, r.bytes); rc == 0; rc = NXTREC(f + 1, r.bytes)) out.emplace_back(r.bytes, 4);
        EXPECT_EQ(_zvdbCLIFIL(&bydef.ifil), 0);
        bydef.ifil.tfilno = -1;
        return out;
    };
    const std::vector<std::string> want = {"aaaa", "cccc", "eeee", "gggg"};
    const auto before = std::filesystem::file_size("pre/cust.dat");
    EXPECT_EQ(_zvdbCMPIFILX(t, &bydef.ifil, ".dat", ".idx", 0, nullptr, nullptr), 0);
    EXPECT_STREQ(bydef.ifil.pfilnam, "cust") << "the caller's definition is not touched";
    EXPECT_LT(std::filesystem::file_size("pre/cust.dat"), before) << "the deleted slots are gone";
    EXPECT_EQ(live(), want);
    // With create blocks, and a refusal of the engine passed on.
    XCREblk x[2] = {};
    for (XCREblk &b : x) b.mode = 0x02;
    EXPECT_EQ(_zvdbCMPIFILX8(t, &bydef.ifil, ".dat", ".idx", 0, nullptr, nullptr, x), 0);
    EXPECT_EQ(live(), want);
    bydef.ifil.tfilno = int16_t(-(0x4000 + 0x040));  // new encryption, not allowed by the host
    EXPECT_EQ(_zvdbCMPIFILX8(t, &bydef.ifil, ".dat", ".idx", 0, nullptr, nullptr, x), 454);
    EXPECT_EQ(_zvdbCMPIFILX(t, &bydef.ifil, ".dat", ".idx", 0, nullptr, nullptr), 454);
    bydef.ifil.tfilno = -1;
    EXPECT_EQ(live(), want);
    EXPECT_EQ(_zvdbCMPIFILX(session_, &bydef.ifil, ".dat", ".idx", 0, nullptr, nullptr), 4013);
    EXPECT_EQ(_zvdbCMPIFILX8(t, nullptr, ".dat", ".idx", 0, nullptr, nullptr, x), 4007);
    OneKeySet none("none");
    EXPECT_EQ(_zvdbCMPIFILX(t, &none.ifil, ".dat", ".idx", 0, nullptr, nullptr), 12);
    EXPECT_FALSE(std::filesystem::exists("none.dat"));
    _zvdb_free(t);
}

}  // namespace

namespace {

// The cust set of OneKeySet under the prefix with records "aaaa", "bbbb",
// "cccc", left open; a table record on it.
class SetChangeTest : public WrappersTest {
protected:
    void SetUp() override {
        WrappersTest::SetUp();
        made_.ifil.dfilmod = dfilmod();
        ASSERT_EQ(CREIFILX(&made_.ifil, nullptr, nullptr, 0, nullptr, nullptr), 0);
        d_ = made_.ifil.tfilno;
        for (const char *k : {"aaaa", "bbbb", "cccc"}) {
            Record r(k);
            ASSERT_EQ(ADDREC(d_, r.bytes), 0);
        }
        t_ = table_on(session_, d_);
    }
    void TearDown() override {
        _zvdb_free(t_);
        WrappersTest::TearDown();
    }
    virtual int16_t dfilmod() const { return 0; }
    // Indexes in the definition stored in the data file; -1 none.
    int stored_indexes() {
        IFIL *def = nullptr;
        if (_zvdbGETIFIL(d_, &def, nullptr) != 0) return -1;
        int n = def->dnumidx;
        _zvdb_free(def);
        return n;
    }
    OneKeySet made_{"pre/cust"};
    int d_ = -1;
    tagZVDBTABLE *t_ = nullptr;
};

// A second index on bytes 4..7 (all blanks: duplicates) in its own file,
// named without the data file's name.
struct SecondIdx {
    ISEG seg[1] = {{4, 4, 0}};
    IIDX idx[1] = {};
    IFIL ifil = {};
    explicit SecondIdx(int datno) {
        idx[0] = IIDX{8, 0, 1, 0, 0, 1, seg, "BySecond", "second.idx", nullptr, nullptr};
        ifil = IFIL{nullptr, int16_t(datno), 0, 0, 0, 1, 0, 0, idx, nullptr, nullptr, -1};
    }
};

TEST_F(SetChangeTest, IndexesAddedAndDroppedUnderThePrefix) {
    SecondIdx add(d_);
    ASSERT_EQ(_zvdbPRMIIDX(t_, &add.ifil), 0);
    const int n = add.ifil.tfilno;
    EXPECT_GT(n, d_ + 1) << "the first number used comes back";
    EXPECT_TRUE(std::filesystem::exists("pre/second.idx"));
    EXPECT_FALSE(std::filesystem::exists("second.idx"));
    EXPECT_STREQ(add.idx[0].aidxnam, "second.idx") << "the caller's definition keeps its names";
    uint32_t count = 0;
    EXPECT_EQ(_zvdbIDXENT(n, &count), 0);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(stored_indexes(), 2);
    EXPECT_EQ(_zvdbDROPIDX(n), 0);
    EXPECT_FALSE(std::filesystem::exists("pre/second.idx"));
    EXPECT_EQ(stored_indexes(), 1);
    // A working index: the stored definition stays; it cannot be dropped.
    add.ifil.tfilno = -1;
    ASSERT_EQ(_zvdbTMPIIDX(t_, &add.ifil), 0);
    EXPECT_EQ(GETFIL(add.ifil.tfilno, 26) & 32, 32);
    EXPECT_TRUE(std::filesystem::exists("pre/second.idx"));
    EXPECT_EQ(stored_indexes(), 1);
    EXPECT_EQ(_zvdbDROPIDX(add.ifil.tfilno), 446);
}

// Refusals of the wrapper and of the engine, and the create blocks the
// table's create mode asks for: with bits 0x4002 at 0x4000 the new index
// files carry word 10 bit 0x2000, which an index file mode 0x20 refuses.
TEST_F(SetChangeTest, AddRefusalsAndTheCreateModeRule) {
    SecondIdx add(d_);
    EXPECT_EQ(_zvdbPRMIIDX(session_, &add.ifil), 4013);
    EXPECT_EQ(_zvdbTMPIIDX(t_, nullptr), 4007);
    add.ifil.dnumidx = 0;
    add.ifil.tfilno = 12;
    EXPECT_EQ(_zvdbPRMIIDX(t_, &add.ifil), 465);
    EXPECT_EQ(add.ifil.tfilno, -1) << "the engine's answer comes back to the caller";
    add.ifil.dnumidx = 1;
    add.ifil.ifilmod = 0x20;
    struct Case {
        uint32_t createmode;
        int code;
    };
    for (Case c : {Case{0x4000, 48}, Case{0x4002, 0}, Case{0x0000, 0}}) {
        SCOPED_TRACE(c.createmode);
        t_->createmode = c.createmode;
        add.ifil.tfilno = -1;
        ASSERT_EQ(_zvdbPRMIIDX(t_, &add.ifil), c.code);
        if (c.code) {
            EXPECT_EQ(add.ifil.tfilno, -1);
            EXPECT_FALSE(std::filesystem::exists("pre/second.idx"));
            EXPECT_EQ(stored_indexes(), 1);
        } else {
            EXPECT_EQ(_zvdbDROPIDX(add.ifil.tfilno), 0);
        }
    }
}

// Memory that runs out anywhere in an add: a clean code (83 for the
// wrapper's own blocks), nothing left allocated, no index file made. (One
// add and drop first: what the engine makes once for a file number stays.)
TEST_F(SetChangeTest, AnAddWithoutMemoryLeavesNothing) {
    {
        SecondIdx first(d_);
        ASSERT_EQ(_zvdbPRMIIDX(t_, &first.ifil), 0);
        ASSERT_EQ(_zvdbDROPIDX(first.ifil.tfilno), 0);
    }
    sweep_allocations(1, 83, [&] {
        SecondIdx add(d_);
        int rc = _zvdbPRMIIDX(t_, &add.ifil);
        if (rc) {
            EXPECT_EQ(add.ifil.tfilno, -1);
            EXPECT_FALSE(std::filesystem::exists("pre/second.idx"));
        }
        return rc;
    });
    EXPECT_EQ(stored_indexes(), 2);
}

// The set made without a stored definition.
class BareSetTest : public SetChangeTest {
protected:
    int16_t dfilmod() const override { return 0x800; }
};

// The definition goes into the table's open set: an index whose keys may
// not change gets that mark in its open index file.
TEST_F(BareSetTest, DefinitionStoredIntoTheTablesOpenSet) {
    ASSERT_EQ(stored_indexes(), -1);
    OneKeySet def("cust");
    def.idx[0].ikeytyp = 0x80;
    def.ifil.tfilno = 33;
    ASSERT_EQ(_zvdbPUTIFILX(t_, &def.ifil), 0);
    EXPECT_EQ(def.ifil.tfilno, d_) << "the table's data file";
    IFIL *got = nullptr;
    ASSERT_EQ(_zvdbGETIFIL(d_, &got, nullptr), 0);
    EXPECT_STREQ(got->pfilnam, "pre/cust") << "the names of the files where they lie";
    ASSERT_EQ(got->dnumidx, 1);
    EXPECT_EQ(got->iidxarr[0].ikeytyp, 0x80);
    _zvdb_free(got);
    EXPECT_EQ(GETFIL(d_, 20) & 0x10000, 0x10000);
    Record r("bbbb");
    ASSERT_EQ(EQLREC(d_ + 1, r.bytes, r.bytes), 0);
    r.bytes[0] = 'z';
    EXPECT_EQ(RWTREC(d_, r.bytes), 1001) << "the key may not change";

    EXPECT_EQ(_zvdbPUTIFILX(session_, &def.ifil), 4013);
    EXPECT_EQ(_zvdbPUTIFILX(t_, nullptr), 4007);
    def.idx[0].ikeytyp = 0;
    sweep_allocations(1, 4001, [&] { return _zvdbPUTIFILX(t_, &def.ifil); });
    EXPECT_EQ(GETFIL(d_, 20) & 0x10000, 0);
}

// Files of the prefix directory.
std::set<std::string> files_in_prefix() {
    std::set<std::string> out;
    for (const auto &e : std::filesystem::directory_iterator("pre")) out.insert(e.path().filename().string());
    return out;
}

TEST_F(SetChangeTest, SetRenamedUnderThePrefix) {
    OneKeySet to("moved");
    to.ifil.tfilno = int16_t(d_);
    ASSERT_EQ(_zvdbRENIFILX(t_, &to.ifil), 0);
    EXPECT_EQ(files_in_prefix(), (std::set<std::string>{"moved.dat", "moved.idx"}));
    EXPECT_STREQ(to.ifil.pfilnam, "moved") << "the caller's definition is not touched";
    char name[64];
    ASSERT_EQ(_zvdbGETNAM(d_, name, sizeof name, 0), 0);
    EXPECT_STREQ(name, "pre/moved.dat");
    uint32_t n = 0;
    EXPECT_EQ(_zvdbIDXENT(d_ + 1, &n), 0);
    EXPECT_EQ(n, 3u);
    // A name taken under the prefix refuses the rename.
    std::filesystem::copy_file("pre/moved.idx", "pre/taken.idx");
    OneKeySet taken("taken");
    taken.ifil.tfilno = int16_t(d_);
    EXPECT_EQ(_zvdbRENIFILX(t_, &taken.ifil), 67);
    EXPECT_EQ(files_in_prefix(), (std::set<std::string>{"moved.dat", "moved.idx", "taken.idx"}));
    EXPECT_EQ(_zvdbRENIFILX(session_, &taken.ifil), 4013);
    EXPECT_EQ(_zvdbRENIFILX(t_, nullptr), 4007);
    // The plain wrapper takes the names as they are.
    OneKeySet back("pre/cust");
    back.ifil.tfilno = int16_t(d_);
    ASSERT_EQ(_zvdbRENIFIL(&back.ifil), 0);
    EXPECT_EQ(files_in_prefix(), (std::set<std::string>{"cust.dat", "cust.idx", "taken.idx"}));
}

}  // namespace
