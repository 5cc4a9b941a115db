// Compactions refused before any file changes, and the walks of damaged or
// unusual data files: every file stays byte for byte as it was and no new
// file appears unless the run completes.
#include <cstring>
#include <string>
#include <vector>

#include "engine/files/fcbops.h"
#include "tests/engine/maint/cmpfix.h"
#include "tests/support/damage.h"
#include "tests/support/verifyset.h"

namespace {

using namespace cmptest;

class CmpRefusalTest : public CmpTest {};

uint32_t le32_of(const std::string &b) {
    return uint32_t(uint8_t(b[0])) | uint32_t(uint8_t(b[1])) << 8 | uint32_t(uint8_t(b[2])) << 16 |
           uint32_t(uint8_t(b[3])) << 24;
}

TEST_F(CmpRefusalTest, RefusalsComeBeforeAnyFileChanges) {
    RblSet s("ref", Kind::Fixed);
    fill(s, 60, 3);
    const Files orig = files();
    IIDX many[65];
    struct Case {
        const char *what;
        int want;
        void (*change)(RblSet &, IIDX *);
        int16_t options;
    };
    const Case cases[] = {
        {"option bit 0x001", 943, nullptr, bits(0x001)},
        {"option bit 0x400", 943, nullptr, bits(0x400)},
        {"0x080 with 0x200", 943, nullptr, bits(0x080 | 0x200)},
        {"new encryption while cmpchgenc is 0", 454, nullptr, bits(0x040)},
        {"superfile host mode", 48, [](RblSet &r, IIDX *) { r.ifil.dfilmod |= 0x200; }, -1},
        {"65 indexes",
         107,
         [](RblSet &r, IIDX *m) {
             for (int k = 0; k < 65; k++) m[k] = r.idx[0];
             r.ifil.iidxarr = m;
             r.ifil.dnumidx = 65;
         },
         -1},
        {"partitioned create block", 954, [](RblSet &r, IIDX *) { r.x[0].mode |= 0xC00000; }, -1},
        {"variable-length definition of a fixed-length file", 122, [](RblSet &r, IIDX *) { r.ifil.dfilmod |= 4; },
         -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        RblSet r("ref", Kind::Fixed);
        if (c.change) c.change(r, many);
        r.ifil.tfilno = c.options;
        const int rc = CMPIFILX8(&r.ifil, nullptr, nullptr, 0, nullptr, nullptr, r.x);
        EXPECT_EQ(rc, c.want);
        EXPECT_EQ(r.ifil.tfilno, c.options) << "tfilno is restored";
        EXPECT_TRUE(files() == orig);
    }
    std::string verdict;
    in_order(s, &verdict);
    EXPECT_EQ(verdict, "");
}

// A variable-length file described as fixed-length is refused as well.
TEST_F(CmpRefusalTest, FixedLengthDefinitionOfAVariableLengthFile) {
    RblSet s("vref", Kind::Variable);
    fill(s, 40, 3);
    const Files orig = files();
    s.ifil.dfilmod &= ~4;
    EXPECT_EQ(compact(s), 122);
    EXPECT_TRUE(files() == orig);
}

// A data file whose third file-mode word has bit 0x200 (a format this
// build does not open) is refused at the probe, whatever the options.
TEST_F(CmpRefusalTest, UnsupportedFormatBitIsRefusedAtTheProbe) {
    RblSet s("fmt", Kind::Fixed);
    fill(s, 30, 3);
    const uint32_t flmode3 = le32_of(zvtest::read_bytes(s.dat(), 228, 4));
    zvtest::put_le32(s.dat(), 228, flmode3 | 0x200);
    const Files orig = files();
    for (int16_t options : {int16_t(-1), bits(0x020)}) {
        SCOPED_TRACE(options);
        EXPECT_EQ(compact(s, options), 940);
        EXPECT_TRUE(files() == orig);
    }
}

// A data file that is a superfile member is not compacted.
TEST_F(CmpRefusalTest, SuperfileMemberDataFile) {
    ASSERT_EQ(CREDAT(1, "h", 0, 0, 0x200), 0);
    RblSet s("h!cust", Kind::Fixed);
    const int d = s.create();
    ASSERT_GE(d, 0);
    for (uint32_t k = 1; k <= 30; k++) {
        std::string img = rbltest::image(rbltest::rec(k));
        ASSERT_EQ(ADDREC(d, img.data()), 0);
    }
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    ASSERT_EQ(CLSFIL(chkopnx("h"), 0), 0);
    const Files orig = files();
    EXPECT_EQ(compact(s), 48);
    EXPECT_TRUE(files() == orig);
}

// The schema serial segment of the definition against the data file's
// stored one: 608 unless the definition is to be stored.
TEST_F(CmpRefusalTest, SchemaSerialSegmentThatDisagreesWithTheStoredOne) {
    ISEG sn[1] = {{4, 4, 1}}, ss[1] = {{1, 4, 257}};
    IIDX idx[2] = {IIDX{4, 0, 0, 0, 0, 1, sn, nullptr, nullptr, nullptr, nullptr},
                   IIDX{4, 0, 0, 0, 0, 1, ss, nullptr, "*ser_s.idx", nullptr, nullptr}};
    IFIL ifil{"ser", -1, 64, 0, 0, 2, 0, 0, idx, nullptr, nullptr, 0};
    XCREblk x[3] = {};
    for (XCREblk &b : x) b.mode = 0x02;
    ASSERT_EQ(CREIFILX8(&ifil, nullptr, nullptr, 0, nullptr, nullptr, x), 0);
    ASSERT_EQ(PUTDODA(ifil.tfilno, rbltest::kRecDoda, 6), 0);
    for (uint32_t k = 1; k <= 20; k++) {
        std::string img = rbltest::image(rbltest::rec(k));
        ASSERT_EQ(ADDREC(ifil.tfilno, img.data()), 0);
    }
    ASSERT_EQ(CLIFIL(&ifil), 0);
    const Files orig = files();
    ss[0].soffset = 4;  // the "amount" field: not what the file stores
    ifil.tfilno = -1;
    EXPECT_EQ(CMPIFILX8(&ifil, nullptr, nullptr, 0, nullptr, nullptr, x), 608);
    EXPECT_TRUE(files() == orig);
    ss[0].soffset = 1;
    ifil.tfilno = -1;
    EXPECT_EQ(CMPIFILX8(&ifil, nullptr, nullptr, 0, nullptr, nullptr, x), 0) << status_log();
}

// ---- Walks ----------------------------------------------------------------------------

// A fixed-length file whose last slot is deleted is copied to its end; the
// end of the file (30) is no error.
TEST_F(CmpRefusalTest, FixedLengthFileWhoseLastSlotIsDeleted) {
    RblSet s("last", Kind::Fixed);
    const std::vector<std::string> live = fill(s, 50, 25);
    const std::vector<std::string> before = slots(s);
    ASSERT_EQ(uint8_t(before.back()[0]), 0xFF) << "the last slot is deleted";
    ASSERT_EQ(compact(s), 0) << status_log();
    EXPECT_EQ(zvGetUserErrorCode(), 0);
    EXPECT_EQ(slots(s), live);
}

// Garbage inside a variable-length file: the strict walk stops with 1107,
// the tolerant one skips it and finds the records before and after; the
// original is not written either way.
TEST_F(CmpRefusalTest, VariableLengthFileWithAGarbageStretch) {
    RblSet s("garb", Kind::Variable);
    const std::vector<std::string> live = fill(s, 40, 0);
    // The area of the 20th record becomes garbage (the mark included).
    uint64_t at = 0;
    {
        s.ifil.tfilno = -1;
        ASSERT_EQ(OPNIFILX(&s.ifil, nullptr, nullptr, nullptr), 0);
        rbltest::Rec r = rbltest::rec(200);
        char buf[256];
        int32_t len = sizeof buf;
        ASSERT_EQ(EQLVREC(s.ifil.tfilno + 1, &r.number, buf, &len), 0);
        at = uint64_t(GETCURP(s.ifil.tfilno));
        ASSERT_EQ(CLIFIL(&s.ifil), 0);
    }
    const std::string area = zvtest::read_bytes(s.dat(), at, 10);
    const uint32_t arealen = le32_of(area.substr(2, 4));
    zvtest::write_bytes(s.dat(), at, std::string(arealen, '\x5A'));
    const Files orig = files();
    EXPECT_EQ(compact(s), 1107);
    EXPECT_TRUE(files() == orig);
    // The copy alone, tolerant: it skips the stretch and leaves the old file
    // as it is (open on the next number until closed).
    CMPBLK blk{nullptr, 0, 0, 0};
    ASSERT_EQ(CMPDATX8(20, s.dat().c_str(), "copy.dat", 64, 0, 4, 0, nullptr, nullptr, nullptr, &blk), 0);
    ASSERT_EQ(CLSFIL(21, 0), 0);
    EXPECT_EQ(zvtest::read_file(s.dat()), orig.at(s.dat()));
    ASSERT_EQ(OPNFIL(20, "copy.dat", 0), 0);
    ASSERT_EQ(DELFIL(20), 0);
    EXPECT_EQ(compact(s, bits(0x200)), 0) << status_log();
    std::vector<std::string> want;
    for (const std::string &r : live)
        if (r.compare(4, 4, std::string("\xC8\0\0\0", 4)) != 0) want.push_back(r);
    std::string verdict;
    EXPECT_EQ(in_order(s, &verdict), want);
    EXPECT_EQ(verdict, "");
}

// A resource slot whose length reads 0: the walk ends (with 0 or a code)
// without writing the old file, and a failed run leaves the set as it was.
TEST_F(CmpRefusalTest, ResourceWithALengthOfZero) {
    for (Kind k : {Kind::Fixed, Kind::Variable}) {
        SCOPED_TRACE(rbltest::kind_name(k));
        RblSet s(k == Kind::Fixed ? "rz" : "vrz", k);
        fill(s, 30, 3);
        s.ifil.tfilno = -1;
        ASSERT_EQ(OPNIFILX(&s.ifil, nullptr, nullptr, nullptr), 0);
        uint32_t key[2] = {6000, 1};
        char body[128];
        const uint32_t pos = GETRES(s.ifil.tfilno, key, body, sizeof body, 2);
        ASSERT_NE(pos, 0u);
        ASSERT_EQ(CLIFIL(&s.ifil), 0);
        zvtest::put_le32(s.dat(), pos + 2, 0);
        const Files orig = files();
        // The copy alone ends, and only reads the old file.
        CMPBLK blk{nullptr, 0, 0, 1};
        const int copied = CMPDATX8(20, s.dat().c_str(), "copy.dat", 64, 0, s.variable() ? 4 : 0, 0, nullptr, nullptr,
                                    nullptr, &blk);
        if (copied == 0) {
            EXPECT_EQ(CLSFIL(21, 0), 0);
            ASSERT_EQ(OPNFIL(20, "copy.dat", 0), 0);
            ASSERT_EQ(DELFIL(20), 0);
        }
        EXPECT_TRUE(files() == orig) << copied;
        // So does the whole run; when it fails, the set is as it was.
        const int rc = compact(s);
        if (rc != 0) {
            EXPECT_TRUE(files() == orig) << rc;
        } else {
            EXPECT_EQ(files().size(), orig.size());
        }
    }
}

}  // namespace
