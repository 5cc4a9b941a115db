// The set rebuild: its options, the keys it rejects (reported, or purged
// with their records), its progress routine with the status block and the
// cancel word, and its reach through the function-number entry point.
#include <cstring>
#include <regex>
#include <string>

#include "engine/core/instance.h"
#include "engine/maint/maintstate.h"
#include "tests/engine/maint/rblfix.h"
#include "tests/support/damage.h"
#include "tests/support/verifyset.h"

namespace {

using namespace rbltest;

class RblIfilTest : public RblTest {
protected:
    // Gives the records at the second and third of `at` the number of the
    // record at the first (a unique index then holds three equal keys).
    static void equal_numbers(const RblSet &s, const uint64_t at[3]) {
        std::string number = zvtest::read_bytes(s.dat(), at[0] + 4, 4);
        zvtest::write_bytes(s.dat(), at[1] + 4, number);
        zvtest::write_bytes(s.dat(), at[2] + 4, number);
    }
    // The set <name> of a number index and a serial index in a file of its
    // own, records 1 .. n added and closed; record k = badk then gets an
    // all-ones serial number on disk. bad and badimg: its position and its
    // image as it now stands.
    struct SerialSet {
        ISEG sn[1] = {{4, 4, 1}}, ss[1] = {{56, 4, 3}};
        std::string name, sidx;
        IIDX idx[2];
        IFIL ifil;
        uint64_t bad = 0;
        std::string badimg;
        SerialSet(const char *n, uint32_t records, uint32_t badk) : name(n), sidx("*" + name + "_s.idx") {
            idx[0] = IIDX{4, 0, 0, 0, 0, 1, sn, nullptr, nullptr, nullptr, nullptr};
            idx[1] = IIDX{4, 0, 0, 0, 0, 1, ss, nullptr, sidx.c_str(), nullptr, nullptr};
            ifil = IFIL{name.c_str(), -1, 64, 0, 0, 2, 0, 0, idx, nullptr, nullptr, 0};
            EXPECT_EQ(CREIFIL(&ifil), 0);
            const int d = ifil.tfilno;
            for (uint32_t k = 1; k <= records; k++) {
                std::string img = image(rec(k));
                EXPECT_EQ(ADDREC(d, img.data()), 0);
                if (k == badk) {
                    bad = uint64_t(GETCURP(d));
                    badimg = img.replace(56, 4, std::string(4, '\xFF'));
                }
            }
            EXPECT_EQ(CLIFIL(&ifil), 0);
            zvtest::write_bytes(name + ".dat", bad + 56, std::string(4, '\xFF'));
        }
        SerialSet(const SerialSet &) = delete;
        SerialSet &operator=(const SerialSet &) = delete;
    };
};

// Options in tfilno: accepted and refused forms; the caller's IFIL comes
// back as it was.
TEST_F(RblIfilTest, OptionsAreReadFromTfilnoAndTheIfilIsRestored) {
    RblSet s("opt", Kind::Fixed);
    build(s, 20);
    struct Case {
        int16_t tfilno;
        int16_t dfilmod;
        int rc;
    } cases[] = {
        {-1, 0, 0},                                  // plain
        {12, 0, 0},                                  // any number: plain
        {int16_t(-(0x4000 + 0x100)), 0, 0},          // no scan
        {int16_t(-(0x4000 + 0x010 + 0x080)), 0, 0},  // accepted, no effect
        {int16_t(-(0x4000 + 0x001)), 0, 943},        // unknown bit
        {int16_t(-(0x4000 + 0x400)), 0, 943},
        {int16_t(-(0x4000 + 0x080 + 0x200)), 0, 943},
        {-105, 0, 454},                              // bad members of a set that is not partitioned
        {int16_t(-(0x4000 + 0x008)), 0, 454},
        {-1, 0x200, 48},                             // dfilmod 0x200
    };
    for (const Case &c : cases) {
        s.ifil.dfilno = 3;
        s.ifil.dfilmod = c.dfilmod;
        s.ifil.ifilmod = 0;
        s.ifil.tfilno = c.tfilno;
        EXPECT_EQ(RBLIFIL(&s.ifil), c.rc) << c.tfilno;
        EXPECT_EQ(s.ifil.tfilno, c.tfilno);
        EXPECT_EQ(s.ifil.dfilno, 3);
        EXPECT_EQ(s.ifil.dfilmod, c.dfilmod);
        EXPECT_EQ(s.ifil.ifilmod, 0);
        EXPECT_EQ(zvGetIsamErrorCode(), c.rc);
        for (int n = 0; n < 12; n++) EXPECT_EQ(TSTFILNUM(n), 0) << "number " << n << " free after " << c.tfilno;
    }
    s.ifil.dfilno = -1;
    s.ifil.dfilmod = 0;
    EXPECT_TRUE(zvtest::verify_set(s.dat()));
    // More than 64 indexes.
    IIDX many[65];
    for (IIDX &x : many) x = s.idx[0];
    IFIL big = s.ifil;
    big.dnumidx = 65;
    big.iidxarr = many;
    EXPECT_EQ(RBLIFIL(&big), 107);
    EXPECT_EQ(RBLIFIL(nullptr), 540);
}

// A set that is open here is not rebuilt under its open blocks.
TEST_F(RblIfilTest, AnOpenSetIsRefused) {
    RblSet s("open", Kind::Fixed);
    std::multiset<std::string> live = build(s, 10);
    ASSERT_EQ(CREDAT(40, "other.dat", 64, 0, 0), 0);
    ASSERT_EQ(CLSFIL(40, 0), 0);
    s.ifil.tfilno = -1;
    ASSERT_EQ(OPNIFIL(&s.ifil), 0);
    const int d = s.ifil.tfilno;
    IFIL copy = s.ifil;
    copy.tfilno = -1;
    EXPECT_EQ(RBLIFIL(&copy), 46);
    EXPECT_EQ(zvGetIsamFileNbr(), d);
    EXPECT_EQ(records_of(s, d), live);
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    ASSERT_EQ(OPNFIL(41, s.nm().c_str(), 0), 0);
    EXPECT_EQ(RBLIFIL(&copy), 46) << "an index file alone";
    EXPECT_EQ(zvGetIsamFileNbr(), 41);
    ASSERT_EQ(CLSFIL(41, 0), 0);
    EXPECT_TRUE(zvtest::verify_set(s.dat()));
}

// With no scan the routine hears of it before any index is touched.
TEST_F(RblIfilTest, NoScanIsAnnouncedBeforeAnyIndexWork) {
    RblSet s("noscan", Kind::Fixed);
    build(s, 10);
    SETCBRBL(progress_cb, 1);
    ASSERT_EQ(s.rebuild(int16_t(-(0x4000 + 0x100))), 0);
    ASSERT_FALSE(progress().empty());
    EXPECT_EQ(progress()[0].code, 109);
    EXPECT_EQ(progress()[0].text, "Caller requested no scan of data file.");
    for (const Progress &p : progress()) EXPECT_NE(p.text, "Rebuilding data file...");
    EXPECT_TRUE(zvtest::verify_set(s.dat()));
}

// Three records with one key in a unique index: the first in file order is
// loaded, the others are reported (652) or purged with their records (650).
TEST_F(RblIfilTest, EqualKeysOfAUniqueIndexAreReportedOrPurged) {
    for (bool purge : {false, true}) {
        SCOPED_TRACE(purge ? "purge" : "report");
        RblSet s(purge ? "eqp" : "eq", Kind::Fixed);
        zvtest::SetState st = built(s, 40);
        std::string verdict;
        uint64_t at[3];
        auto it = st.records.begin();
        at[0] = (it++)->first;
        std::advance(it, 5);
        at[1] = (it++)->first;
        std::advance(it, 5);
        at[2] = it->first;
        equal_numbers(s, at);
        s.ifil.dfilno = 5;
        maint_state(zvWNGV).rbl.keydump = 1;  // the report shows each rejected key
        ASSERT_EQ(s.rebuild(purge ? int16_t(-101) : int16_t(-1)), purge ? 650 : 652);
        EXPECT_EQ(zvGetIsamFileNbr(), 5);
        s.ifil.dfilno = -1;
        EXPECT_NE(status_log().find("2 duplicate key(s) and/or bad serial number(s) rejected..."), std::string::npos)
            << status_log();
        if (!purge) {
            std::string rejname = entry_after("bad serial number(s) rejected...", 1);
            std::string report = zvtest::read_file(rejname);
            char line[96];
            EXPECT_NE(report.find("\nDuplicate key(s) found for " + s.dat() + ", keyno=6:\n"), std::string::npos)
                << report;
            for (int k = 1; k <= 2; k++) {
                snprintf(line, sizeof line, "key value rejected for recpos=%04x-%08xx record length 64\n", 0,
                         unsigned(at[k]));
                EXPECT_NE(report.find(line), std::string::npos) << report;
            }
            EXPECT_NE(report.find("\nkeyno=6: 2 entries rejected (duplicates)."), std::string::npos) << report;
            // The dump of each 4-byte key: a tab, the bytes in hex, three blanks, the bytes.
            int dumps = 0;
            for (const std::string &l : zvtest::lines_of(report))
                dumps += std::regex_match(l, std::regex("\t([0-9a-f]{2} ){4}   [\\s\\S]{4}"));
            EXPECT_EQ(dumps, 2) << report;
        } else {
            EXPECT_NE(status_log().find("Completed automatic purge of rejected data records."), std::string::npos)
                << status_log();
        }
        zvtest::SetState now;
        contents(s, &verdict, &now);
        // Reported records stay without a key in the unique index.
        EXPECT_EQ(verdict.empty(), purge) << verdict;
        EXPECT_EQ(now.records.count(at[0]), 1u);
        EXPECT_EQ(now.records.count(at[1]), purge ? 0u : 1u);
        EXPECT_EQ(now.records.count(at[2]), purge ? 0u : 1u);
        // The first of the three is the one its key finds.
        uint32_t number = 0;
        memcpy(&number, st.records[at[0]].data() + 4, 4);
        char buf[64];
        ASSERT_EQ(EQLREC(s.ifil.tfilno + 1, &number, buf), 0);
        EXPECT_EQ(std::string(buf, 64), st.records[at[0]]);
        CLIFIL(&s.ifil);
        EXPECT_EQ(now.idxent[0], now.records.size() - (purge ? 0 : 2));
        if (purge) {
            EXPECT_TRUE(zvtest::verify_set(s.dat()));
        }
    }
}

// A serial number that is all ones is rejected from the serial index.
TEST_F(RblIfilTest, AnAllOnesSerialNumberIsRejected) {
    SerialSet s("ser", 20, 9);
    s.ifil.dfilno = 2;
    s.ifil.tfilno = -1;
    ASSERT_EQ(RBLIFIL(&s.ifil), 652);
    std::string report = zvtest::read_file(entry_after("bad serial number(s) rejected...", 1));
    EXPECT_NE(report.find("\nBad serial number(s) found for ser.dat, keyno=4:\n"), std::string::npos) << report;
    char line[96];
    snprintf(line, sizeof line, "serial number rejected for recpos=%d (%xx) record length 64\n", int(s.bad),
             unsigned(s.bad));
    EXPECT_NE(report.find(line), std::string::npos) << report;
    EXPECT_NE(report.find("\nkeyno=4: 1 entries rejected (bad serial numbers)."), std::string::npos) << report;
}

// With the purge, the reject file holds the record of the bad serial number
// as it was: its position, its length and its image.
TEST_F(RblIfilTest, APurgedBadSerialNumberLeavesItsRecordInTheRejectFile) {
    SerialSet s("serp", 3000, 2900);
    s.ifil.tfilno = -101;
    ASSERT_EQ(RBLIFIL(&s.ifil), 650);
    const std::string rej = zvtest::read_file(entry_after("bad serial number(s) rejected...", 1));
    ASSERT_EQ(rej.size(), 8u + 64u);
    uint32_t lo = 0, len = 0;
    memcpy(&lo, rej.data(), 4);
    memcpy(&len, rej.data() + 4, 4);
    EXPECT_EQ(lo, uint32_t(s.bad));
    EXPECT_EQ(len, 64u);
    EXPECT_EQ(rej.substr(8), s.badimg);
}

// The key pass without a reject stream: 2 for duplicates, 605 for bad
// serial numbers alone; either way the index keeps the update flag 'R'.
TEST_F(RblIfilTest, TheKeyPassWithoutAStreamFailsAndMarksTheIndex) {
    RblSet s("ns", Kind::Fixed);
    zvtest::SetState st = built(s, 20);
    uint64_t at[3];
    auto it = st.records.begin();
    for (uint64_t &a : at) a = (it++)->first;
    equal_numbers(s, at);
    // Empty index files beside the damaged data file: a second set's.
    RblSet e("ne", Kind::Fixed);
    ASSERT_GE(e.create(), 0);
    ASSERT_EQ(CLIFIL(&e.ifil), 0);
    zvtest::write_file(e.dat(), zvtest::read_file(s.dat()));
    e.ifil.tfilno = -1;
    ASSERT_EQ(OPNIFIL(&e.ifil), 0);
    const int d = e.ifil.tfilno;
    int32_t dups = -1, badser = -1;
    EXPECT_EQ(RBLIDX(d, nullptr, d + 1, nullptr, nullptr, 0, &dups, 0, &badser), 2);
    EXPECT_EQ(zvGetIsamFileNbr(), d + 1);
    EXPECT_EQ(dups, 2);
    FILE *none = nullptr;
    EXPECT_EQ(RBLIDX(d, nullptr, d + 3, nullptr, &none, 0, &dups, 0, &badser), 0) << "unique names: no reject";
    EXPECT_EQ(dups, 0);
    EXPECT_EQ(RBLMEM(d, nullptr, d + 1, 1, nullptr, &none, 0, &dups, 0, &badser), 0);
    EXPECT_EQ(RBLMEM(d, nullptr, d + 1, 2, nullptr, &none, 0, &dups, 0, &badser), 23);
    EXPECT_EQ(RBLMEM(d, nullptr, d + 9, 1, nullptr, &none, 0, &dups, 0, &badser), 26);
    ASSERT_EQ(CLIFIL(&e.ifil), 0);
    EXPECT_EQ(uint8_t(zvtest::read_bytes(e.idxfile(), 56, 1)[0]), 'R');
    EXPECT_EQ(uint8_t(zvtest::read_bytes(e.nm(), 56, 1)[0]), 0);
}

TEST_F(RblIfilTest, SerialRejectsAloneWithoutAStreamAre605) {
    ISEG ss[1] = {{56, 4, 3}};
    IIDX idx[1] = {IIDX{4, 0, 0, 0, 0, 1, ss, nullptr, nullptr, nullptr, nullptr}};
    IFIL a{"sa", -1, 64, 0, 0, 1, 0, 0, idx, nullptr, nullptr, 0};
    IFIL b{"sb", -1, 64, 0, 0, 1, 0, 0, idx, nullptr, nullptr, 0};
    ASSERT_EQ(CREIFIL(&a), 0);
    for (uint32_t k = 1; k <= 5; k++) {
        std::string img = image(rec(k));
        ASSERT_EQ(ADDREC(a.tfilno, img.data()), 0);
    }
    uint64_t last = GETCURP(a.tfilno);
    ASSERT_EQ(CLIFIL(&a), 0);
    zvtest::write_bytes("sa.dat", last + 56, std::string(4, '\xFF'));
    ASSERT_EQ(CREIFIL(&b), 0);
    ASSERT_EQ(CLIFIL(&b), 0);
    zvtest::write_file("sb.dat", zvtest::read_file("sa.dat"));
    b.tfilno = -1;
    ASSERT_EQ(OPNIFIL(&b), 0);
    int32_t dups = 0, badser = 0;
    EXPECT_EQ(RBLIDX(b.tfilno, nullptr, b.tfilno + 1, nullptr, nullptr, 0, &dups, 0, &badser), 605);
    ASSERT_EQ(CLIFIL(&b), 0);
    EXPECT_EQ(uint8_t(zvtest::read_bytes("sb.idx", 56, 1)[0]), 'R');
}

// 70,000 records with one key in an index that allows duplicates all load.
TEST_F(RblIfilTest, SeventyThousandEqualKeysAllLoad) {
    RblSet s("many", Kind::Fixed);
    int d = s.create();
    ASSERT_GE(d, 0);
    const uint32_t n = 70000;
    for (uint32_t k = 1; k <= n; k++) {
        Rec r = rec(k);
        memcpy(r.city, "Bern                ", 20);
        zvSETHGH(0);
        uint32_t pos = NEWREC(d);
        ASSERT_NE(pos, 0u);
        ASSERT_EQ(WRTREC(d, pos, &r), 0);
    }
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    ASSERT_EQ(s.rebuild(), 0);
    s.ifil.tfilno = -1;
    ASSERT_EQ(OPNIFIL(&s.ifil), 0);
    zvSETHGH(0);
    EXPECT_EQ(IDXENT(s.ifil.tfilno + 2), n);
    EXPECT_EQ(IDXENT(s.ifil.tfilno + 1), n);
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    EXPECT_TRUE(zvtest::verify_set(s.dat()));
}

// A rebuild without rejects leaves no temporary file: no reject file, no
// sort work file (the sort spills to runs here), no resource save file,
// no resource index.
TEST_F(RblIfilTest, NoTemporaryFileRemains) {
    RblSet s("tmp", Kind::Fixed);
    build(s, 600);
    zvSetRebuildMemory(8);
    ASSERT_EQ(s.rebuild(), 0);
    EXPECT_EQ(strays({s.dat(), s.idxfile(), s.nm()}), std::vector<std::string>{});
    EXPECT_TRUE(zvtest::verify_set(s.dat()));
}

// The progress routine: every phase with its message, one count per
// record and per key, the status block readable from inside.
struct Seen {
    std::vector<Progress> calls;
    std::vector<uint32_t> sizes;
    int forceread = 0;  // calls made while the page cache reads past the written end
    int cancel_at_code = 0;
    int cancel_after = 0;
};
Seen g_seen;
int seeing_cb(uint32_t count, int32_t code, const char *text) {
    g_seen.calls.push_back({count, code, text});
    RBLCBST *st = GETCBRBLST();
    g_seen.sizes.push_back(st ? st->size : 0);
    g_seen.forceread += zvWNGV->pc.forceread_rebuild ? 1 : 0;
    if (st && code == g_seen.cancel_at_code && --g_seen.cancel_after == 0) st->cancel = 1;
    return 0;
}

TEST_F(RblIfilTest, TheProgressRoutineSeesEveryPhaseRecordAndKey) {
    RblSet s("prog", Kind::Fixed);
    build(s, 21);  // 18 live records
    g_seen = Seen{};
    ASSERT_EQ(SETCBRBL(seeing_cb, 0), 0);
    ASSERT_EQ(s.rebuild(), 0);
    std::vector<std::string> phases;
    std::vector<int> per_phase;
    for (const Progress &p : g_seen.calls) {
        if (p.code == 109) {
            phases.push_back(p.text);
            per_phase.push_back(0);
        } else {
            ASSERT_FALSE(per_phase.empty());
            per_phase.back()++;
            EXPECT_EQ(p.count, uint32_t(per_phase.back())) << "interval 0 counts as 1";
        }
    }
    const std::vector<std::string> want = {
        "Rebuilding data file...",         "Rebuilding index file.", "Writing index file...",
        "Rebuilding additional index #1.", "Writing index file...",  "Rebuilding index file.",
        "Writing index file...",
    };
    EXPECT_EQ(phases, want);
    EXPECT_EQ(per_phase, (std::vector<int>{18, 18, 18, 18, 18, 18, 18}));
    for (uint32_t size : g_seen.sizes) EXPECT_EQ(size, 12u);
    EXPECT_EQ(g_seen.forceread, int(g_seen.calls.size())) << "the cache's rebuild flag is set during the run";
    EXPECT_EQ(zvWNGV->pc.forceread_rebuild, 0) << "and clear afterwards";
    EXPECT_EQ(GETCBRBLST(), nullptr) << "the run's status block is gone";
    // An interval of 5: every fifth count.
    g_seen = Seen{};
    ASSERT_EQ(SETCBRBL(seeing_cb, 5), 0);
    ASSERT_EQ(s.rebuild(), 0);
    int counts = 0;
    for (const Progress &p : g_seen.calls) counts += p.code != 109;
    EXPECT_EQ(counts, 7 * 3);
}

// Cancel from inside the routine: 869; in the scan the data file keeps its
// update flag 0xFF, in the key pass the new index file goes and the old
// one stays as it was; a second run completes.
TEST_F(RblIfilTest, ACancelStopsTheRunAndASecondRunCompletes) {
    struct Case {
        int code;
        int after;
        bool data;
    } cases[] = {{100, 5, true}, {105, 3, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        RblSet s(c.data ? "cs" : "ck", Kind::Fixed);
        std::multiset<std::string> live = build(s, 30);
        const std::string index = zvtest::read_file(s.idxfile());
        const std::vector<std::string> files = strays({});
        g_seen = Seen{};
        g_seen.cancel_at_code = c.code;
        g_seen.cancel_after = c.after;
        ASSERT_EQ(SETCBRBL(seeing_cb, 1), 0);
        EXPECT_EQ(s.rebuild(), 869);
        if (c.data) {
            EXPECT_EQ(uint8_t(zvtest::read_bytes(s.dat(), 56, 1)[0]), 0xFF);
        } else {
            EXPECT_TRUE(zvtest::read_file(s.idxfile()) == index);
            EXPECT_EQ(strays(files), std::vector<std::string>{});
        }
        ASSERT_EQ(SETCBRBL(nullptr, 1), 0);
        ASSERT_EQ(s.rebuild(), 0);
        std::string verdict;
        EXPECT_EQ(contents(s, &verdict), live);
        EXPECT_EQ(verdict, "");
        CLIFIL(&s.ifil);
        EXPECT_TRUE(zvtest::verify_set(s.dat()));
    }
}

// The function-number entry point: 0x215E takes an IFILPARM, sub-function
// 28 of 0x26AB installs the progress routine (the routine in arg5, the
// interval in arg3).
TEST_F(RblIfilTest, TheEntryPointReachesTheRebuild) {
    RblSet s("entry", Kind::Fixed);
    std::multiset<std::string> live = build(s, 15);
    zvtest::zero_header_field(s.dat(), zvtest::HeaderField::ActiveCount);
    int32_t status = -1, len = 0;
    EXPECT_EQ(zarvo(0x26AB, 0, reinterpret_cast<void *>(intptr_t(1)), &status,
                    reinterpret_cast<void *>(&progress_cb), &len, 28),
              0);
    EXPECT_EQ(status, 0);
    IFILPARM p{};
    s.ifil.tfilno = -1;
    p.ifil = &s.ifil;
    int32_t pos = 0;
    EXPECT_EQ(zarvo(0x215E, 0, &p, &pos, nullptr, &len, 0), 0);
    ASSERT_FALSE(progress().empty());
    EXPECT_EQ(progress()[0].text, "Rebuilding data file...");
    std::string verdict;
    zvtest::SetState st;
    EXPECT_EQ(contents(s, &verdict, &st), live);
    EXPECT_EQ(st.datent, live.size());
    CLIFIL(&s.ifil);
}

}  // namespace
