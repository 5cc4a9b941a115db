// Partitioned files: the host's resources, the rules that give a record its
// raw partition number, the member table as stored, and the encoding of raw
// numbers into host record positions.
#include <cerrno>
#include <cstring>

#include "engine/core/filenum.h"
#include "engine/core/platform.h"
#include "engine/core/fcb.h"
#include "engine/isam/partition.h"
#include "tests/engine/isam/partfix.h"

namespace {

using namespace parttest;

class PartDefTest : public PartTest {
protected:
    // The raw number of a sale by the host's rule (its partition key formed
    // first): the number, or -1 with the code in *code.
    static int32_t raw_of(int d, const Sale &s, int *code = nullptr) {
        Sale c = s;
        unsigned char key[32] = {};
        EXPECT_GT(frmkey(d + 1, &c, key, 0, sizeof c), 0);
        int32_t r = zv::kprawno_i(d, d + 1, key);
        if (code) *code = zvGetUserErrorCode();
        return r;
    }
    static std::string table_of(int d) { return resource(d, 9); }
};

TEST_F(PartDefTest, CreateWritesThePlaceholdersAndRefusesFilesWithoutExtendedHeader) {
    SalesDef def("sales", Rule::Date);
    int d = make(def);
    ASSERT_EQ(CLIFIL(&def.ifil), 0);
    d = OPNRFIL(-1, "sales.dat", 0);
    ASSERT_GE(d, 0);
    const std::string part = std::string("INIT") + std::string(12, '\0');
    const std::string rule = std::string("NONE") + std::string(12, '\0');
    EXPECT_EQ(resource(d, 9), part);
    EXPECT_EQ(resource(d, 10), rule);
    uint32_t key[2] = {0, 9};
    uint32_t info[3] = {};
    ASSERT_NE(GETRES(d, key, info, sizeof info, 2 | 64), 0u);
    EXPECT_EQ(info[2], 32u);
    ASSERT_EQ(CLRFIL(d), 0);

    // Only the extended header flag (4-byte offsets) makes a host too.
    SalesDef narrow("narrow", Rule::Date, false);
    ASSERT_GE(make(narrow), 0);
    ASSERT_EQ(CLIFIL(&narrow.ifil), 0);
    // No extended header, no segments, no 8-byte offsets: refused, nothing left.
    SalesDef plain("plain", Rule::Date, false);
    for (XCREblk &b : plain.x) b.mode &= ~0x02u;
    const std::set<std::string> before = files();
    EXPECT_EQ(CREIFILX8(&plain.ifil, nullptr, nullptr, 0, nullptr, nullptr, plain.x), 454);
    EXPECT_EQ(files(), before);
    EXPECT_EQ(plain.ifil.tfilno, -1);
}

TEST_F(PartDefTest, TheDateRule) {
    SalesDef def("sales", Rule::Date);
    int d = make(def);
    struct Case {
        double day;
        int32_t raw;
    } cases[] = {{25570, 1}, {25569, 1}, {0, 1}, {86399, 60830}, {86400, 1}, {86400.0 * 19000 + 5, 19000}};
    for (const Case &c : cases) EXPECT_EQ(raw_of(d, sale(1, c.day)), c.raw) << c.day;
    unsigned char ff[16];
    memset(ff, 0xFF, sizeof ff);
    EXPECT_EQ(zv::kprawno(d, d + 1, ff), 65536);
    // A partition key shorter than 8 bytes cannot hold a day: 731.
    SalesDef region("region", Rule::Region);
    int r = make(region);
    EXPECT_EQ(add(r, sale(1, 0, 7)), 731);
    EXPECT_EQ(zvGetIsamErrorCode(), 731);
    EXPECT_EQ(files().count("region.dat.007"), 0u);
}

TEST_F(PartDefTest, DayNumbersRoundTrip) {
    EXPECT_EQ(zv::zvGetDaysSinceEpoch(1970, 1, 1), 0);
    EXPECT_EQ(zv::zvGetDaysSinceEpoch(2022, 1, 8), 19000);
    EXPECT_EQ(zv::zvGetDaysSinceEpoch(1969, 12, 31), -1);
    for (int32_t days : {-719468, -1, 0, 1, 59, 11016, 19000, 60830, 2932896}) {
        int32_t y, m, dd;
        zv::zvGetYMDFromDaysSinceEpoch(days, &y, &m, &dd);
        EXPECT_EQ(zv::zvGetDaysSinceEpoch(y, m, dd), days) << days;
    }
}

TEST_F(PartDefTest, MembersByDayAreNamedByTheirDate) {
    SalesDef def("sales", Rule::Date);
    int d = make(def);
    ASSERT_EQ(add(d, sale(1, 25570)), 0);
    ASSERT_EQ(add(d, sale(2, 44569)), 0);
    for (const char *suffix : {".19700102.000001", ".20220108.019000"}) {
        for (const char *file : {"sales.dat", "sales.idx", "sales_u.idx"})
            EXPECT_EQ(files().count(std::string(file) + suffix), 1u) << file << suffix;
    }
}

TEST_F(PartDefTest, TheRegionRuleNamesMembersByNumber) {
    SalesDef def("sales", Rule::Region);
    int d = make(def);
    FCB *host = zv::fcb_at(d);
    ASSERT_EQ(zv::zvpr_replace_rule(host, d, "Region"), 0);
    EXPECT_EQ(resource(d, 10), std::string("Region", 7));
    ASSERT_EQ(add(d, sale(1, 0, 7)), 0);
    ASSERT_EQ(add(d, sale(2, 0, 1234)), 0);
    EXPECT_EQ(files().count("sales.dat.007"), 1u);
    EXPECT_EQ(files().count("sales_u.idx.007"), 1u);
    EXPECT_EQ(files().count("sales.dat.1234"), 1u);
    const std::set<std::string> before = files();
    EXPECT_EQ(add(d, sale(3, 0, -5)), 712);
    // The lowest raw number is 1, the highest 1 + 65,335.
    EXPECT_EQ(add(d, sale(4, 0, 0)), 712);
    EXPECT_EQ(files(), before);
    EXPECT_EQ(add(d, sale(5, 0, 65336)), 0);
    EXPECT_EQ(files().count("sales.dat.65336"), 1u);
    EXPECT_EQ(add(d, sale(6, 0, 65337)), 730);
    // The rule stays with the host: after a reopen records go the same way.
    ASSERT_EQ(CLIFIL(&def.ifil), 0);
    d = OPNRFIL(-1, "sales.dat", 0);
    ASSERT_GE(d, 0);
    Sale s = sale(7, 0, 7);
    ASSERT_EQ(ADDREC(d, &s), 0);
    EXPECT_EQ(curpos(d) >> 48, 7u);
}

TEST_F(PartDefTest, MemberNamesMayNotPassTheirLength) {
    std::string longname(246, 'n');  // "<246>.dat": 250 bytes
    SalesDef def(longname.c_str(), Rule::Region);
    def.idx[2].aidxnam = "*u.idx";
    int d = make_regions(def);
    const std::set<std::string> before = files();
    EXPECT_EQ(add(d, sale(1, 0, 10000)), 418);
    EXPECT_EQ(files(), before);
    EXPECT_EQ(table_of(d).substr(0, 5), std::string("INIT", 5));
    SalesDef shortdef("s", Rule::Region);
    int s = make(shortdef);
    ASSERT_EQ(zv::zvpr_replace_rule(zv::fcb_at(s), s, "Region"), 0);
    ASSERT_EQ(add(s, sale(1, 0, 10000)), 0);
    EXPECT_EQ(files().count("s.dat.10000"), 1u);
}

TEST_F(PartDefTest, RuleResults) {
    SalesDef def("sales", Rule::Region);
    int d = make(def);
    FCB *host = zv::fcb_at(d);
    struct Case {
        const char *rule;
        int32_t raw;
        int code;
    } cases[] = {
        {"Region * 2", 14, 0},   {"150000000 * 20", 2147483647, 0}, {"\"text\"", -1, 7},
        {"Region - 10", -1, 0},  {"Region + 1", 8, 0},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(zv::zvpr_replace_rule(host, d, c.rule), 0) << c.rule;
        int code = -1;
        EXPECT_EQ(raw_of(d, sale(1, 0, 7), &code), c.raw) << c.rule;
        if (c.raw < 0) {
            EXPECT_EQ(code, c.code) << c.rule;
        }
    }
    // A text that does not parse leaves the rule as it was: 747.
    EXPECT_EQ(zv::zvpr_replace_rule(host, d, "Region +"), 747);
    EXPECT_EQ(raw_of(d, sale(1, 0, 7)), 8);
    EXPECT_EQ(resource(d, 10), std::string("Region + 1", 11));
    // No text: the date rule (the 4-byte key then refuses).
    ASSERT_EQ(zv::zvpr_replace_rule(host, d, nullptr), 0);
    EXPECT_EQ(resource(d, 10), std::string("NONE", 5));
    int code = 0;
    EXPECT_EQ(raw_of(d, sale(1, 0, 7), &code), -1);
    EXPECT_EQ(code, 731);
}

// A rule replacement whose resource write fails keeps the stored rule and
// the one in force.
TEST_F(PartDefTest, AFailedRuleWriteKeepsTheOldRule) {
    SalesDef def("sales", Rule::Region);
    int d = make_regions(def);
    ASSERT_EQ(CLIFIL(&def.ifil), 0);
    zvtest::save_template();
    int failures = 0;
    for (long n = 1;; n++) {
        ASSERT_LT(n, 50);
        restore_files();
        d = OPNRFIL(-1, "sales.dat", 0);
        ASSERT_GE(d, 0);
        FCB *host = zv::fcb_at(d);
        zv::fault_reset();
        zv::fault_set(zv::IoKind::Write, n, EIO);
        // A longer text: the resource moves.
        const std::string rule = "Region" + std::string(size_t(300 + n), ' ') + "+ 0";
        int rc = zv::zvpr_replace_rule(host, d, rule.c_str());
        const bool fired = zv::io_calls(zv::IoKind::Write) >= n;
        zv::fault_reset();
        if (!fired) {
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(resource(d, 10), rule + std::string(1, '\0'));
            EXPECT_EQ(raw_of(d, sale(1, 0, 7)), 7);
            break;
        }
        if (rc) {
            failures++;
            EXPECT_EQ(resource(d, 10), std::string("Region", 7)) << n;
            EXPECT_EQ(raw_of(d, sale(1, 0, 9)), 9) << n;
        }
        CLRFIL(d);
    }
    EXPECT_GT(failures, 0);
}

TEST_F(PartDefTest, TheMemberTableAsStored) {
    SalesDef def("sales", Rule::Region);
    int d = make_regions(def);
    ASSERT_EQ(add(d, sale(1, 0, 1)), 0);
    ASSERT_EQ(add(d, sale(2, 0, 3)), 0);
    ASSERT_EQ(CLIFIL(&def.ifil), 0);
    d = OPNRFIL(-1, "sales.dat", 0);
    ASSERT_GE(d, 0);
    const std::string m1 = "sales.dat.001", m3 = "sales.dat.003";
    std::string want("LIST\0" "1\0" "3\0" "2\0" "2\0" "\0\0\0", 16);
    want += std::string("1\0" "1\0", 4) + m1 + std::string(1, '\0');
    want += std::string("3\0" "1\0", 4) + m3 + std::string(1, '\0');
    want += std::string("1\0" "0\0" "3\0" "0\0", 8);
    const std::string stored = table_of(d);
    EXPECT_EQ(stored, want);
    ASSERT_EQ(CLRFIL(d), 0);
    zvtest::save_template();
    // A stored entry outside the table, or more entries than the count:
    // the open refuses the table.
    const size_t entry3 = stored.find(std::string("3\0" "1\0", 4) + m3);
    ASSERT_NE(entry3, std::string::npos);
    struct Patch {
        size_t at;
        char to;
    } patches[] = {{entry3, '9'}, {9, '4'}};
    for (const Patch &p : patches) {
        restore_files();
        d = OPNRFIL(-1, "sales.dat", 0);
        ASSERT_GE(d, 0);
        std::string patched = stored;
        patched[p.at] = p.to;
        std::string body(16, '\0');
        body[4] = 9;
        memcpy(body.data() + 8, "QV!PART", 7);
        body += patched;
        ASSERT_EQ(UPDRES(d, body.data(), int32_t(body.size())), 0);
        ASSERT_EQ(CLRFIL(d), 0);
        EXPECT_EQ(OPNRFIL(-1, "sales.dat", 0), -1) << p.at;
        EXPECT_EQ(zvGetUserErrorCode(), 722) << p.at;
        EXPECT_TRUE(zv::fcb_at(d) == nullptr || zv::fcb_at(d)->state == 'n');
    }
}

TEST_F(PartDefTest, PositionsCarryTheRawNumberInTheHighWord) {
    SalesDef def("sales", Rule::Region, true, true, false, 8);
    int d = make(def);
    const FCB *host = zv::fcb_at(d);
    EXPECT_EQ(host->partdef->ptshift, 24u);
    uint32_t hi = 0x00FFFFFF;
    EXPECT_EQ(zv::zvoverloadpart(host, &hi, 255), 0);
    EXPECT_EQ(hi, 0xFFFFFFFFu);
    EXPECT_EQ(zv::zvunfoldpart(host, &hi), 255);
    EXPECT_EQ(hi, 0x00FFFFFFu);
    hi = 0;
    EXPECT_EQ(zv::zvoverloadpart(host, &hi, 256), 717);
    hi = 0x01000000;
    EXPECT_EQ(zv::zvoverloadpart(host, &hi, 1), 717);
}

}  // namespace
