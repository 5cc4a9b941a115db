// Data and index cross-check: a sound set passes with its counts; each kind
// of disagreement between records, keys, counts and the file's end is
// reported with its code and message, and the verification oracle of the
// tests (verify_set) passes a sound set and fails a damaged one.
#include <gtest/gtest-spi.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "engine/core/instance.h"
#include "engine/maint/verify.h"
#include "tests/engine/maint/maintfix.h"
#include "tests/support/setfix.h"
#include "tests/support/verifyset.h"
#include "zarvo/zarvo.h"

namespace {

using namespace mainttest;

class CrossCheckTest : public MaintTest {
protected:
    // The cust set with n records, closed; record i has the keys
    // key8(i + 1), a name of two segments and the city "C%09d".
    void make_set(int n, uint16_t xtdsize = 0) {
        settest::CustSet s;
        s.ifil.dxtdsiz = xtdsize;
        ASSERT_EQ(CREIFIL(&s.ifil), 0);
        int d = s.ifil.tfilno;
        for (int i = 0; i < n; i++) {
            std::string rec = record(i);
            ASSERT_EQ(ADDREC(d, rec.data()), 0) << i;
            pos_.push_back(GETCURP(d));
        }
        ASSERT_EQ(CLIFIL(&s.ifil), 0);
    }
    static std::string record(int i) {
        std::string rec(64, ' ');
        rec.replace(0, 8, key8(uint64_t(i + 1)));
        char name[16], city[16];
        snprintf(name, sizeof name, "N%03d%06d", i % 7, i);
        snprintf(city, sizeof city, "C%09d", i);
        rec.replace(8, 10, name);
        rec.replace(20, 10, city);
        return rec;
    }
    int check(uint32_t flags, const char *name = "cust.dat", int chkkey = 0) {
        VERIFYFILEOPT o{};
        o.flags = flags;
        o.chkkey = chkkey;
        o.filename = name;
        o.output = out_routine;
        o.progress = progress_routine;
        o.error = error_routine;
        return zvVerifyFile(&o);
    }
    std::vector<uint32_t> pos_;
};

TEST_F(CrossCheckTest, SoundSetPassesWithItsCounts) {
    make_set(500);
    EXPECT_EQ(check(4 | 16), 0) << cap().joined();
    EXPECT_TRUE(cap().has("Number of records read from data file :          500")) << cap().joined();
    EXPECT_TRUE(cap().has("Record count in data file header      :          500"));
    EXPECT_EQ(cap().count("Number of keys read from index file   :          500"), 3);
    EXPECT_EQ(cap().count("Number of errors detected             :            0"), 4);
    EXPECT_FALSE(cap().has("error "));
    EXPECT_TRUE(cap().has("Scanning index #2: cust.idx member #1..."));
    for (const char *e : {"event -1 0", "event -3 100", "event -4 0", "event -6 100"})
        EXPECT_TRUE(cap().has(e)) << e;
    EXPECT_TRUE(zvtest::verify_set("cust.dat"));
    // Every file is closed again and no routine stays installed.
    for (int i = 0; i < 10; i++) EXPECT_EQ(TSTFILNUM(i), 0) << i;
    EXPECT_EQ(OPNRFILX(-1, "cust.dat", 0, nullptr), 0) << "the set opens exclusively again";
}

TEST_F(CrossCheckTest, AnEmptySetReadsNothingAndPasses) {
    make_set(0);
    EXPECT_EQ(check(1 | 4 | 16), 0) << cap().joined();
    EXPECT_TRUE(cap().has("Number of records read from data file :            0"));
}

TEST_F(CrossCheckTest, VariableLengthRecordsLongerThanTheBufferAreReadWhole) {
    settest::CustSet s("vcust");
    s.ifil.dfilmod = 4;
    ASSERT_EQ(CREIFIL(&s.ifil), 0);
    const int d = s.ifil.tfilno;
    for (int i = 0; i < 120; i++) {
        std::string rec = record(i) + std::string(size_t(i * 5), char('a' + i % 26));
        ASSERT_EQ(ADDVREC(d, rec.data(), int32_t(rec.size())), 0) << i;
    }
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    EXPECT_EQ(check(4 | 16, "vcust.dat"), 0) << cap().joined();
    EXPECT_TRUE(cap().has("Number of records read from data file :          120")) << cap().joined();
    EXPECT_FALSE(cap().has("Record count in data file header")) << "kept for fixed-length files only";
    EXPECT_TRUE(zvtest::verify_set("vcust.dat"));
}

// One fault made in a closed copy of the set, and what the check reports.
struct Fault {
    const char *name;
    std::function<void(const std::vector<uint32_t> &)> make;
    uint32_t flags;
    int want;
    std::string line;  // an error line that must arrive
};

TEST_F(CrossCheckTest, EachFaultIsReportedWithItsCode) {
    make_set(500, 4096);
    const std::string dat = zvtest::read_file("cust.dat"), idx = zvtest::read_file("cust.idx"),
                      idxx = zvtest::read_file("cust_x.idx");
    ASSERT_FALSE(idxx.empty());
    const Fault faults[] = {
        {"index entry pointing at another record",
         [](const std::vector<uint32_t> &pos) {
             int d = OPNRFILX(-1, "cust.dat", 0, nullptr);
             ASSERT_GE(d, 0);
             ASSERT_EQ(UpdateRecordOffsetForKey(d + 1, key8(6).data(), pos[6]), 0);
             ASSERT_EQ(CLRFIL(d), 0);
         },
         4 | 16, 160,
         "error 160: Mismatched record offset of 0x"},
        {"record count of the header",
         [](const std::vector<uint32_t> &) {
             RawIndex r("cust.dat");
             r.put32(24, r.get32(24) + 1);
             r.save("cust.dat");
         },
         2, 601,
         "error 601: Record count in data file header does not match actual number of records in data file."},
        {"unused end of the data file",
         [](const std::vector<uint32_t> &) {
             RawIndex r("cust.dat");
             uint32_t last = r.get32(8), phys = r.get32(0);
             ASSERT_GT(phys, last + 20);
             r.bytes[last + 11] = 'x';
             r.save("cust.dat");
         },
         1 | 4 | 16, 1133, "error 1133: End Of File discrepancy"},
        // The last leaf's successor is the first leaf: the scan goes round
        // the loop once past the header count, then sees a key that does not
        // rise and ends that index's walk.
        {"looped leaf chain",
         [](const std::vector<uint32_t> &) {
             RawIndex r("cust_x.idx", 10);
             auto lv = r.levels();
             ASSERT_GE(lv.size(), 2u);
             r.put32(lv.back().back(), lv.back().front());
             r.save("cust_x.idx");
         },
         8, 601, "error 601: Index Cycle dectected in index 3 at node 0x"},
        // Past a header count that is too low the walk watches the order of
        // the keys: two entries of a later leaf in the wrong order are a
        // cycle, and the walk of that index ends there.
        {"keys out of order past a low header count",
         [](const std::vector<uint32_t> &) {
             RawIndex r("cust_x.idx", 10);
             auto lv = r.levels();
             ASSERT_GE(lv.back().size(), 8u);
             r.put32(24, 100);
             const uint32_t leaf = lv.back()[6];
             const size_t a = r.elem(leaf, 3), b = r.elem(leaf, 4);
             std::string ea = r.bytes.substr(a, 14), eb = r.bytes.substr(b, 14);
             r.bytes.replace(a, 14, eb);
             r.bytes.replace(b, 14, ea);
             r.save("cust_x.idx");
         },
         8, 601, "error 601: Index Cycle dectected in index 3 at node 0x"},
    };
    for (const Fault &f : faults) {
        SCOPED_TRACE(f.name);
        zvtest::write_file("cust.dat", dat);
        zvtest::write_file("cust.idx", idx);
        zvtest::write_file("cust_x.idx", idxx);
        f.make(pos_);
        cap() = Capture{};
        EXPECT_EQ(check(f.flags), f.want) << cap().joined();
        EXPECT_TRUE(cap().has(f.line)) << f.line << " in " << cap().joined();
        if (std::string(f.name) == "looped leaf chain") {
            EXPECT_EQ(cap().count("Index header key count (500) is smaller than actual number of keys; index 3 node 0x"),
                      1)
                << cap().joined();
            EXPECT_EQ(cap().count("Index Cycle dectected"), 1) << cap().joined();
            EXPECT_FALSE(cap().has("Error reading key")) << cap().joined();
            // One lap past the header count, then the walk of index 3 ends.
            EXPECT_EQ(cap().count("Number of keys read from index file   :          500"), 2) << cap().joined();
            EXPECT_EQ(cap().count("Number of keys read from index file   :         1000"), 1) << cap().joined();
            // Outside the check the same chain stops the key walk at the loop.
            const int d = OPNRFILX(-1, "cust.dat", 0, nullptr);
            ASSERT_GE(d, 0);
            std::vector<unsigned char> k(64);
            int n = 0;
            for (uint32_t p = FRSKEY(d + 3, k.data()); p != 0 && n < 2000; p = NXTKEY(d + 3, k.data())) n++;
            EXPECT_EQ(n, 500);
            EXPECT_EQ(zvWNGV->uerr_cod, 527);
            CLRFIL(d);
        }
        if (std::string(f.name).rfind("keys out of order", 0) == 0) {
            EXPECT_EQ(cap().count("Index header key count (100) is smaller than actual number of keys; index 3 node 0x"),
                      1)
                << cap().joined();
            EXPECT_EQ(cap().count("Index Cycle dectected"), 1);
            EXPECT_EQ(cap().count("Number of keys read from index file   :          500"), 2) << "the walk of index 3 ended";
        }
        if (std::string(f.name).rfind("index entry", 0) == 0) {
            char want[160];
            snprintf(want, sizeof want,
                     "error 160: Mismatched record offset of 0x%x in index; record at offset 0x%x; index 1", pos_[6],
                     pos_[5]);
            EXPECT_TRUE(cap().has(want)) << want << " in " << cap().joined();
        }
    }
}

TEST_F(CrossCheckTest, ChkkeySelectsOneIndexAndIsChecked) {
    make_set(50);
    const struct {
        int chkkey;
        int want;
        const char *line;
    } cases[] = {
        {3, 0, "Scanning index #3: cust_x.idx..."},
        {64, 46, "error 46: Invalid value specified for chkkey parameter: the specified value is not valid for this "
                 "data file"},
        {4, 46, "error 46: Invalid value specified for chkkey parameter"},
        {65, 22, "error 22: Invalid value specified for chkkey parameter: it must be between 1 and 64 (MAX_DAT_KEY)"},
        {-1, 22, "error 22: Invalid value specified for chkkey parameter: it must be between 1 and 64 (MAX_DAT_KEY)"},
    };
    for (const auto &c : cases) {
        cap() = Capture{};
        EXPECT_EQ(check(4 | 16, "cust.dat", c.chkkey), c.want) << c.chkkey << " " << cap().joined();
        EXPECT_TRUE(cap().has(c.line)) << c.chkkey << " " << cap().joined();
        if (c.want == 0) {
            EXPECT_EQ(cap().count("Scanning index"), 1);
        }
    }
}

TEST_F(CrossCheckTest, NoBlockNoFileAndTheRoutinesThatStopTheRun) {
    EXPECT_EQ(zvVerifyFile(nullptr), 540);
    EXPECT_EQ(check(4, "none.dat"), 12) << cap().joined();
    EXPECT_TRUE(cap().has("Unable to open file none.dat: system error code ")) << cap().joined();
    make_set(300);
    RawIndex r("cust.dat");
    r.put32(24, r.get32(24) + 1);
    r.save("cust.dat");
    // An error routine answering 910 stops the run.
    cap() = Capture{};
    cap().error_answer = 910;
    EXPECT_EQ(check(2 | 8), 910);
    EXPECT_FALSE(cap().has("Scanning index")) << cap().joined();
    // So does a progress routine.
    cap() = Capture{};
    cap().stop_at_event = -4;
    EXPECT_EQ(check(8), 910);
    EXPECT_EQ(cap().count("Scanning index"), 0) << cap().joined();
}

TEST_F(CrossCheckTest, WithoutAnErrorRoutineEachFaultIsPrintedAfterItsCode) {
    make_set(120);
    RawIndex r("cust.dat");
    r.put32(24, r.get32(24) + 3);
    r.save("cust.dat");
    int rc = -1;
    std::string out = stdout_of([&] {
        VERIFYFILEOPT o{};
        o.flags = 2;
        o.filename = "cust.dat";
        rc = zvVerifyFile(&o);
    });
    EXPECT_EQ(rc, 601);
    EXPECT_NE(out.find("ERROR: [601] Record count in data file header does not match actual number of records in "
                       "data file.\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Record count in data file header      :          123\n"), std::string::npos) << out;
}

TEST_F(CrossCheckTest, TheEntryPointReachesBothVerifications) {
    make_set(40);
    int32_t status = -1;
    VERIFYFILEOPT fo{};
    fo.flags = 2 | 8;
    fo.filename = "cust.dat";
    fo.output = out_routine;
    EXPECT_EQ(zarvo(0x26AB, 0, &fo, &status, nullptr, nullptr, 58), 0);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(cap().has("Number of records read from data file :           40")) << cap().joined();
    EXPECT_EQ(zarvo(0x26AB, 0, nullptr, &status, nullptr, nullptr, 58), 540);
    int d = OPNRFILX(-1, "cust.dat", 0, nullptr);
    ASSERT_GE(d, 0);
    cap() = Capture{};
    VERIFYIDXOPT vo{1, 2, 15, 0, out_routine, nullptr};
    VERIFYIDXRES vr{};
    EXPECT_EQ(zarvo(0x26AB, int16_t(d + 3), &vo, &status, &vr, nullptr, 48), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(vr.levelnodes[0], 1);
    EXPECT_EQ(cap().lines.back(), "Internal Index Verify: SUCCESSFUL");
    vo.version = 2;
    EXPECT_EQ(zarvo(0x26AB, int16_t(d + 3), &vo, &status, &vr, nullptr, 48), 909);
    EXPECT_EQ(CLRFIL(d), 0);
}

TEST_F(CrossCheckTest, LeafEntriesAgainstTheirRecords) {
    make_set(60);
    // Record 7 gets another key value, record 9 is marked deleted; neither
    // index entry is changed.
    RawIndex dat("cust.dat");
    dat.bytes[pos_[7] + 3] = char(0x7A);
    dat.bytes[pos_[9]] = char(0xFF);
    dat.save("cust.dat");
    const int d = OPNRFILX(-1, "cust.dat", 0, nullptr);
    ASSERT_GE(d, 0);
    int rc = -1;
    std::string out = stdout_of([&] { rc = zv::leaf_extra(d + 1, d); });
    EXPECT_EQ(rc, 0);
    char want[160];
    snprintf(want, sizeof want, "\nKey value disagreement for record %xx from node ", pos_[7]);
    EXPECT_NE(out.find(want), std::string::npos) << out;
    EXPECT_NE(out.find("\n<9988>..."), std::string::npos);
    snprintf(want, sizeof want, "\nBad first byte at %xx: ff\n", pos_[9]);
    EXPECT_NE(out.find(want), std::string::npos) << out;
    EXPECT_NE(out.find("\n<9986>..."), std::string::npos);
    EXPECT_EQ(out.substr(out.size() - 30), "\nLEAVES: entries=60  header=60");
    // The key of the third index does not hold the changed bytes; its
    // entry of the deleted record is reported all the same.
    out = stdout_of([&] { rc = zv::leaf_extra(d + 3, d); });
    EXPECT_EQ(out.find("Key value disagreement"), std::string::npos) << out;
    EXPECT_EQ(out, std::string(want) + "[43(C) 30(0) 30(0) 30(0) 30(0) 30(0) 30(0) 30(0) 30(0) 39(9) ]\n<9986>...\n"
                                       "LEAVES: entries=60  header=60");
    EXPECT_EQ(stdout_of([&] { rc = zv::leaf_extra(30, d); }), "\nIndex file not opened.");
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(stdout_of([&] { rc = zv::leaf_extra(d + 1, 31); }), "\nData file not opened.");
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(CLRFIL(d), 0);
}

TEST_F(CrossCheckTest, TheOracleFailsADamagedSet) {
    make_set(200);
    RawIndex r("cust_x.idx", 10);
    auto lv = r.levels();
    ASSERT_GE(lv.size(), 2u);
    r.put32(lv.back()[2] + 4, 0);  // a leaf's predecessor link lost
    r.save("cust_x.idx");
    EXPECT_NONFATAL_FAILURE(zvtest::verify_set("cust.dat"), "zvVERIFYidx(index 3) = 601");
}

}  // namespace
