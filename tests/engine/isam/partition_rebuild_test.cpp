// Partitioned files: the rebuild of a partitioned set (host, members,
// global unique index), the bad-only and single-member rebuilds, and
// indexes added to a host reaching every member.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/fcb.h"
#include "engine/isam/partition.h"
#include "tests/engine/isam/partfix.h"

namespace {

using namespace parttest;

// An index on the amount, in a file of its own, to add to host d.
struct AmountIndex {
    ISEG amount[1] = {{40, 4, 1}};
    IIDX idx[1] = {{12, 0, 1, 0, 0, 1, amount, "ByAmount", "*sales_a.idx", nullptr, nullptr}};
    IFIL ifil = {};
    XCREblk blocks[2] = {};
    explicit AmountIndex(int d) {
        ifil = IFIL{"sales", int16_t(d), 64, 0, 0, 1, 0, 0, idx, nullptr, nullptr, -1};
        blocks[1].mode = 0x40;
    }
};

class PartRebuildTest : public PartTest {
protected:
    // A Region host with sales 1..2 in member 1, 3..5 in member 2 and 6..9
    // in member 3, member 3 archived when `archive`; closed.
    void made(SalesDef &def, bool archive) {
        const int d = make_regions(def);
        ASSERT_EQ(PUTHDR(d, 1, 67), 0);
        uint32_t n = 1;
        for (int32_t r = 1; r <= 3; r++)
            for (int i = 0; i <= r; i++) ASSERT_EQ(add(d, sale(n++, 0, r, r == 2 ? "two" : "")), 0);
        if (archive) {
            ASSERT_EQ(PTADMIN(d, nullptr, 3, 64 | 4), 0);
        }
        ASSERT_EQ(CLIFIL(&def.ifil), 0);
        std::remove("ZVSTATUS.QVS");
    }
    static int rebuild(SalesDef &def, int16_t options = -1) {
        def.ifil.tfilno = options;
        return RBLIFILX8(&def.ifil, nullptr, nullptr, 0, nullptr, nullptr, def.x);
    }
    static std::string log() { return zvtest::read_file("ZVSTATUS.QVS"); }
    static size_t count_of(const std::string &text, const std::string &what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
        return n;
    }
    // The host opened again: every active member checked clean.
    static int opened(SalesDef &def) {
        EXPECT_EQ(OPNIFILX(&def.ifil, nullptr, nullptr, nullptr), 0);
        const int d = def.ifil.tfilno;
        for (int32_t r = 1; r <= 3; r++) {
            const PARTMBR *m = entry(d, r);
            if (m && (m->state == zv::kMbrClosed || m->state == zv::kMbrOpen)) {
                const int n = zv::pfilno(d, r, false);
                EXPECT_GE(n, 0) << r;
                if (n >= 0) {
                    EXPECT_EQ(zvtest::check_set(n), "") << r;
                }
            }
        }
        return d;
    }
};

TEST_F(PartRebuildTest, AFullRebuildRefillsTheGlobalIndex) {
    SalesDef def("sales", Rule::Region);
    made(def, true);
    const int16_t dmode = def.ifil.dfilmod, imode = def.ifil.ifilmod;
    ASSERT_EQ(rebuild(def), 0);
    EXPECT_EQ(def.ifil.dfilmod, dmode);
    EXPECT_EQ(def.ifil.ifilmod, imode);
    EXPECT_EQ(def.ifil.tfilno, -1);
    const std::string text = log();
    EXPECT_NE(text.find("Partition HOST rebuilt. NOTE: any GUIx cleared."), std::string::npos);
    EXPECT_EQ(count_of(text, "Partition member rebuilt successfully."), 2u);
    EXPECT_NE(text.find("Process archived member for GUIx"), std::string::npos);
    EXPECT_NE(text.find("Partitioned file rebuild completed successfully."), std::string::npos);
    const int d = opened(def);
    // Every member's keys, the archived member's counted as archived.
    const auto entries = global_entries(d + 3);
    ASSERT_EQ(entries.size(), 9u);
    for (uint32_t n = 1; n <= 9; n++) EXPECT_EQ(entries[n - 1].first, n);
    EXPECT_EQ(zv::fcb_at(d + 3)->hdr.ext.wide64[1], 4u);
    EXPECT_EQ(uint64_t(IDXENT(d + 3)), 5u);
    EXPECT_EQ(DATENT(d), 5u);
    // The partition marks are back on the host's indexes.
    EXPECT_EQ(zv::fcb_at(d + 1)->hdr.base.ktype & 0x60, 0x20);
    uint32_t number = 4;
    Sale s;
    ASSERT_EQ(EQLREC(d + 3, &number, &s), 0);
    EXPECT_EQ(s.region, 2);
}

// Operation bit 0x2000000 alone (a record-layer logon sets it) is no
// single-member rebuild: the host and every member are rebuilt.
TEST_F(PartRebuildTest, TheLogonOperationBitLeavesAFullRebuild) {
    SalesDef def("sales", Rule::Region);
    made(def, false);
    ASSERT_EQ(SETOPS(0x2000000, 2) & 0x2000000, 0x2000000);
    const int rc = rebuild(def);
    SETOPS(0x2000000, 0);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(count_of(log(), "Partition member rebuilt successfully."), 3u);
    const int d = opened(def);
    EXPECT_EQ(DATENT(d), 9u);
    EXPECT_EQ(CLIFIL(&def.ifil), 0);
}

TEST_F(PartRebuildTest, AFailedMemberDoesNotStopTheOthers) {
    SalesDef def("sales", Rule::Region);
    made(def, false);
    // Member 2's data file made unreadable.
    std::string name;
    {
        ASSERT_EQ(OPNIFILX(&def.ifil, nullptr, nullptr, nullptr), 0);
        name = entry(def.ifil.tfilno, 2)->name;
        ASSERT_EQ(CLIFIL(&def.ifil), 0);
    }
    std::filesystem::resize_file(name, 100);
    EXPECT_EQ(rebuild(def), 928);
    const std::string text = log();
    EXPECT_NE(text.find("Attempted to rebuild all partitions. One or more partition rebuilds failed."),
              std::string::npos);
    EXPECT_NE(text.find("Partition member rebuild failed"), std::string::npos);
    EXPECT_EQ(count_of(text, "Partition member rebuilt successfully."), 2u);
    EXPECT_EQ(def.ifil.tfilno, -1);
}

TEST_F(PartRebuildTest, BadOnlyRebuildsNoCleanMember) {
    SalesDef def("sales", Rule::Region);
    made(def, false);
    ASSERT_EQ(rebuild(def, int16_t(-(0x4000 + 0x008))), 0);
    const std::string text = log();
    EXPECT_EQ(count_of(text, "Clean partition member file. No member rebuild."), 3u);
    EXPECT_NE(text.find("Partition HOST opened successfully for 'bad only' rebuild of members."), std::string::npos);
    opened(def);
    // updateIFIL with badpartIFIL is refused.
    ASSERT_EQ(CLIFIL(&def.ifil), 0);
    EXPECT_EQ(rebuild(def, -204), 454);
    EXPECT_NE(log().find("Cannot use updateIFIL with badpartIFIL"), std::string::npos);
}

TEST_F(PartRebuildTest, OneMemberAlone) {
    SalesDef def("sales", Rule::Region);
    made(def, false);
    ASSERT_EQ(OPNIFILX(&def.ifil, nullptr, nullptr, nullptr), 0);
    const int d = def.ifil.tfilno;
    const int32_t stamp = entry(d, 2)->stamp;
    ASSERT_EQ(PTADMIN(d, nullptr, 2, 16384 | 4), 0);
    EXPECT_EQ(count_of(log(), "Partition member rebuilt successfully."), 1u);
    EXPECT_EQ(entry(d, 2)->state, zv::kMbrClosed);
    EXPECT_GT(entry(d, 2)->stamp, stamp);
    // The member opens under its new stamp; its global keys carry it.
    uint32_t number = 4;
    Sale s;
    ASSERT_EQ(EQLREC(d + 3, &number, &s), 0);
    EXPECT_EQ(s.region, 2);
    EXPECT_EQ(zvtest::check_set(zv::pfilno(d, 2, false)), "");
    // An open member is not rebuilt alone.
    EXPECT_EQ(PTADMIN(d, nullptr, 2, 16384 | 4), 718);
}

TEST_F(PartRebuildTest, AnIndexAddedToTheHostReachesEveryMember) {
    SalesDef def("sales", Rule::Region);
    made(def, false);
    ASSERT_EQ(OPNIFILX(&def.ifil, nullptr, nullptr, nullptr), 0);
    const int d = def.ifil.tfilno;
    AmountIndex a(d);
    ASSERT_EQ(PRMIIDX8(&a.ifil, a.blocks), 0);
    for (int32_t r = 1; r <= 3; r++) {
        const int m = zv::pfilno(d, r, false);
        const int mix = zv::relative_index(m, 3);
        ASSERT_GE(mix, 0) << r;
        EXPECT_EQ(IDXENT(mix), uint32_t(r + 1)) << r;
    }
    // Key reads through it answer across the members: amounts are 7 x number.
    const int ax = zv::relative_index(d, 3);
    EXPECT_EQ(numbers(ax, FRSREC, NXTREC), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

// A member that cannot take the index: the members done before lose it
// again, and the host keeps its marks.
TEST_F(PartRebuildTest, AFailedMemberTakesTheIndexBackEverywhere) {
    SalesDef def("sales", Rule::Region);
    made(def, false);
    zvtest::write_file("sales_a.idx.002", "in the way");
    ASSERT_EQ(OPNIFILX(&def.ifil, nullptr, nullptr, nullptr), 0);
    const int d = def.ifil.tfilno;
    const uint32_t flags = zv::fcb_at(d)->hdr.ext.flmode2, flags2 = zv::fcb_at(d)->hdr.base.hdrflags2;
    AmountIndex a(d);
    EXPECT_NE(PRMIIDX8(&a.ifil, a.blocks), 0);
    EXPECT_EQ(zv::relative_index(zv::pfilno(d, 1, false), 3), -1);
    EXPECT_EQ(zv::relative_index(d, 3), -1);
    EXPECT_EQ(zv::fcb_at(d)->hdr.ext.flmode2, flags);
    EXPECT_EQ(zv::fcb_at(d)->hdr.base.hdrflags2, flags2);
    EXPECT_EQ(files().count("sales_a.idx.001"), 0u);
    EXPECT_EQ(zvtest::read_file("sales_a.idx.002"), "in the way");
}

// Fail the nth write once, n = 1, 2, ... until the rebuild of the host
// with its global unique index succeeds, each run on the files as made: a
// failed run leaves no new file beside the set's own, and the run that
// answers 0 leaves a set that opens with every record.
TEST_F(PartRebuildTest, EveryFailedWriteIsReportedAndLeavesNoNewFile) {
    namespace fs = std::filesystem;
    SalesDef def("sales", Rule::Region);
    made(def, false);
    const std::set<std::string> before = files();
    fs::create_directory("orig");
    for (const std::string &f : before) fs::copy_file(f, fs::path("orig") / f);
    int rc = -1;
    long failures = 0;
    for (long n = 1; rc != 0 && n < 3000; n++) {
        for (const std::string &f : before) fs::copy_file(fs::path("orig") / f, f, fs::copy_options::overwrite_existing);
        zv::fault_set(zv::IoKind::Write, n, EIO);
        rc = rebuild(def);
        zv::fault_reset();
        std::remove("ZVSTATUS.QVS");
        if (rc == 0) break;
        failures++;
        std::set<std::string> now = files();
        now.erase("orig");
        ASSERT_EQ(now, before) << "write " << n << " code " << rc;
    }
    ASSERT_EQ(rc, 0);
    EXPECT_GT(failures, 3);
    const int d = opened(def);
    EXPECT_EQ(DATENT(d), 9u);
    EXPECT_EQ(CLIFIL(&def.ifil), 0);
}

}  // namespace
