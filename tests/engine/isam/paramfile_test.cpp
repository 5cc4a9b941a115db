// ISAM parameter files: the ISAM layer started and every file described
// created (CREISAM) or opened (OPNISAM), and texts that stop the start with
// the code of their incomplete or wrong record, the files made so far
// closed and the ISAM layer stopped.
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/core/instance.h"
#include "engine/index/idxstate.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"
#include "tests/support/fixture.h"
#include "tests/support/setcheck.h"

namespace {

// Two data files: "pa.dat" with the index file "pa.idx" (key 2 on the
// number, a member, key 3, on two segments with duplicates), and "pb.dat"
// without indexes.
const char *const kInit = "10 6 4 2\n";
const char *const kDataA = "1 pa.dat 64 0 0 2\nfirst last\n";
const char *const kIndex = "2 pa.idx 8 0 0 1 0 0 0 32 1\nByNumber\n0 8 0\n";
const char *const kMember = "3 14 0 1 0 32 2\nByName\n8 4 0\n12 6 0\n";
const char *const kDataB = "5 pb.dat 32 0 0 0\none two\n";

std::string fixture_text() { return std::string(kInit) + kDataA + kIndex + kMember + kDataB; }

std::string record(int i) {
    char rec[80];
    snprintf(rec, sizeof rec, "%08d%04d%06d%-46d", i, i % 3, i / 4, i);
    return std::string(rec, 64);
}

class ParamTest : public zvtest::ZvTest {
protected:
    void TearDown() override {
        if (zvWNGV) CLISAM();
        ZvTest::TearDown();
    }
    static std::string current_id() {
        const char *id = WCHZARVO();
        return id ? id : "";
    }
};

TEST_F(ParamTest, CreatesAndOpensEveryFileDescribed) {
    zvtest::write_file("p.txt", fixture_text());
    ASSERT_EQ(zvWNGV, nullptr);
    ASSERT_EQ(CREISAM("p.txt"), 0);
    EXPECT_EQ(current_id(), "zvREG_DEF_ID");
    for (int n : {1, 2, 3, 5}) EXPECT_EQ(TSTFILNUM(n), 46) << n;
    EXPECT_EQ(GETFIL(3, 13), 1);
    EXPECT_EQ(zv::isam_map_index(1, 0), 2);
    EXPECT_EQ(zv::isam_map_index(1, 1), 3);
    EXPECT_EQ(zv::isam_map_index(1, 2), -1);
    EXPECT_EQ(zv::isam_map_index(5, 0), -1);
    char name[64];
    ASSERT_EQ(iGETNAM(3, name, sizeof name, 3), 0);
    EXPECT_STREQ(name, "ByName");
    ASSERT_EQ(iGETNAM(1, name, sizeof name, 2), 0);
    EXPECT_STREQ(name, "last");
    for (int i = 0; i < 30; i++) {
        std::string r = record(i);
        ASSERT_EQ(ADDREC(1, r.data()), 0) << i;
    }
    std::string small(32, 'b');
    ASSERT_EQ(ADDREC(5, small.data()), 0);
    EXPECT_EQ(IDXENT(2), 30u);
    EXPECT_EQ(IDXENT(3), 30u);
    EXPECT_EQ(zvtest::check_set(1), "");
    ASSERT_EQ(CLISAM(), 0);
    EXPECT_EQ(zvWNGV, nullptr);
    // Opened again from the same text.
    ASSERT_EQ(OPNISAM("p.txt"), 0);
    EXPECT_EQ(IDXENT(3), 30u);
    std::string r = record(30);
    ASSERT_EQ(ADDREC(1, r.data()), 0);
    EXPECT_EQ(zvtest::check_set(1), "");
    EXPECT_EQ(DATENT(5), 1u);
}

TEST_F(ParamTest, NoDataFilesStartsTheIsamLayerOnly) {
    zvtest::write_file("none.txt", "8 4 4 0\n");
    ASSERT_EQ(CREISAM("none.txt"), 0);
    ASSERT_NE(zvWNGV, nullptr);
    EXPECT_NE(idx_state(zvWNGV).isamtab, nullptr);
    EXPECT_EQ(INTISAM(8, 4, 4), 125);
    ASSERT_EQ(CLISAM(), 0);
    ASSERT_EQ(OPNISAM("none.txt"), 0);
    EXPECT_NE(idx_state(zvWNGV).isamtab, nullptr);
}

// Each text stops at its faulty record: its code, the files made before
// closed but kept, the ISAM layer stopped (a start works again).
TEST_F(ParamTest, FaultyTextsStopTheStart) {
    const std::string n300(300, 'n');
    const std::string head = std::string(kInit) + kDataA;
    const std::string withindex = head + kIndex;
    struct Case {
        const char *what;
        std::string text;
        int code;
        bool made;   // pa.dat was created before the fault
    };
    const Case cases[] = {
        {"short initialisation record", "10 6 4", 103, false},
        {"negative data file count", "10 6 4 -1", 103, false},
        {"short data file record", std::string(kInit) + "1 pa.dat 64 0", 106, false},
        {"data file name of 300 characters", std::string(kInit) + "1 " + n300 + " 64 0 0 0\na b\n", 106, false},
        {"record length 70000", std::string(kInit) + "1 pa.dat 70000 0 0 0\na b\n", 106, false},
        {"negative index count", std::string(kInit) + "1 pa.dat 64 0 0 -2\na b\n", 106, false},
        {"65 index entries", std::string(kInit) + "1 pa.dat 64 0 0 65\na b\n", 107, false},
        {"field name missing", std::string(kInit) + "1 pa.dat 64 0 0 0\nfirst", 183, false},
        {"field name of 300 characters", std::string(kInit) + "1 pa.dat 64 0 0 0\nfirst " + n300 + "\n", 183,
         false},
        {"short index record", head + "2 pa.idx 8 0 0 1 0 0", 111, true},
        {"negative member count", head + "2 pa.idx 8 0 0 -1 0 0 0 32 1\nX\n0 8 0\n", 111, true},
        {"17 segments", head + "2 pa.idx 8 0 0 1 0 0 0 32 17\n", 109, true},
        {"index name missing", head + "2 pa.idx 8 0 0 1 0 0 0 32 1\n", 180, true},
        {"index name of 300 characters", head + "2 pa.idx 8 0 0 1 0 0 0 32 1\n" + n300 + "\n0 8 0\n", 180, true},
        {"segment record of two numbers", head + "2 pa.idx 8 0 0 1 0 0 0 32 1\nByNumber\n0 8", 110, true},
        {"segment offset 70000", head + "2 pa.idx 8 0 0 1 0 0 0 32 1\nByNumber\n70000 8 0\n", 110, true},
        {"short member record", withindex + "3 14 0 1", 117, true},
        {"member key number not host + 1", withindex + "4 14 0 1 0 32 2\nByName\n8 4 0\n12 6 0\n", 108, true},
        {"member of 17 segments", withindex + "3 14 0 1 0 32 17\n", 109, true},
        {"data file number in use", withindex + kMember + "2 pb.dat 32 0 0 0\none two\n", 46, true},
        {"data file number out of range", withindex + kMember + "40 pb.dat 32 0 0 0\none two\n", 22, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        remove("pa.dat");
        remove("pa.idx");
        zvtest::write_file("bad.txt", c.text);
        EXPECT_EQ(CREISAM("bad.txt"), c.code);
        EXPECT_EQ(zvWNGV, nullptr);
        EXPECT_EQ(zvtest::read_file("pa.dat").empty(), !c.made);
        // The ISAM layer starts again, and the file kept is not held open.
        ASSERT_EQ(INTISAM(10, 20, 4), 0);
        if (c.made) {
            EXPECT_EQ(OPNFIL(1, "pa.dat", 0), 0);
        }
        ASSERT_EQ(CLISAM(), 0);
    }
    EXPECT_EQ(CREISAM("no-such-file.txt"), 102);
    EXPECT_EQ(zvWNGV, nullptr);
}

// An index described by a parameter file is marked as reading the variable
// part exactly when the same index opened through its definition is: only
// on a variable-length data file, for a variable field (modes 4 and 5) or
// a segment at or past the fixed part whose mode takes bytes at a record
// offset (bases 0..3 and 8..11, descending or not).
TEST_F(ParamTest, SegmentsOnTheVariablePartAreMarkedAsByAnOpen) {
    struct Case {
        const char *what;
        int filmod;  // data file mode: 4 variable length
        ISEG seg;
        bool marked;
    };
    const Case cases[] = {
        {"fixed length, variable field", 0, {0, 8, 4}, false},
        {"fixed length, upper-cased variable field", 0, {0, 8, 5}, false},
        {"variable field", 4, {0, 8, 4}, true},
        {"upper-cased variable field", 4, {0, 8, 5}, true},
        {"bytes in the fixed part", 4, {8, 4, 0}, false},
        {"bytes past the fixed part", 4, {70, 4, 0}, true},
        {"descending bytes past the fixed part", 4, {70, 4, 0x10}, true},
        {"signed integer past the fixed part", 4, {70, 4, 8}, true},
        {"packed decimal past the fixed part", 4, {70, 4, 6}, false},
        {"mode 7 past the fixed part", 4, {70, 4, 7}, false},
        {"constant segment", 4, {70, 4, 256}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        remove("pv.dat");
        remove("pv.idx");
        char text[256];
        snprintf(text, sizeof text,
                 "10 6 4 1\n1 pv.dat 64 0 %d 1\nfirst last\n2 pv.idx %d 0 0 0 0 0 0 32 1\nByX\n%d %d %d\n", c.filmod,
                 c.seg.slength, c.seg.soffset, c.seg.slength, c.seg.segmode);
        zvtest::write_file("pv.txt", text);
        ASSERT_EQ(CREISAM("pv.txt"), 0);
        EXPECT_EQ(zv::isam_entry(2)->varpart, c.marked ? 1 : 0) << "parameter file";
        ASSERT_EQ(CLISAM(), 0);
        ISEG seg = c.seg;
        IIDX x{seg.slength, 0, 0, 0, 32, 1, &seg, "ByX", nullptr, nullptr, nullptr};
        IFIL f{"pv", 1, 64, 0, int16_t(c.filmod), 1, 0, 0, &x, "first", "last", 0};
        ASSERT_EQ(INTISAM(10, 20, 4), 0);
        ASSERT_EQ(OPNIFIL(&f), 0);
        EXPECT_EQ(zv::isam_entry(2)->varpart, c.marked ? 1 : 0) << "definition";
        ASSERT_EQ(CLISAM(), 0);
    }
}

TEST_F(ParamTest, FilesThatDoNotMatchAreNotOpened) {
    zvtest::write_file("p.txt", fixture_text());
    ASSERT_EQ(CREISAM("p.txt"), 0);
    ASSERT_EQ(CLISAM(), 0);
    struct Case {
        const char *what;
        std::string text;
        int code;
    };
    const std::string head = std::string(kInit) + kDataA;
    const Case cases[] = {
        {"no member", std::string(kInit) + "1 pa.dat 64 0 0 1\nfirst last\n2 pa.idx 8 0 0 0 0 0 0 32 1\nX\n0 8 0\n",
         124},
        {"another key length", head + "2 pa.idx 9 0 0 1 0 0 0 32 1\nByNumber\n0 9 0\n" + kMember, 608},
        {"a member with duplicates refused", head + kIndex + "3 10 0 0 0 32 2\nByName\n8 4 0\n12 6 0\n", 608},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        zvtest::write_file("bad.txt", c.text);
        EXPECT_EQ(OPNISAM("bad.txt"), c.code);
        EXPECT_EQ(zvWNGV, nullptr);
        ASSERT_EQ(OPNISAM("p.txt"), 0);
        EXPECT_EQ(zvtest::check_set(1), "");
        ASSERT_EQ(CLISAM(), 0);
    }
}

}  // namespace
