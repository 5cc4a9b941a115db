// A compaction killed inside its swap and a set rebuild killed inside its
// swap: for each rename and link (for the compaction each unlink too) the
// run makes, a child process
// runs it and ends at the Nth call of that kind (as a kill would), for
// N = 1, 2, ... until a run ends by itself. What the kill leaves either
// opens as a sound set with every record, or answers 14 and the set
// rebuild then restores every record with indexes that agree.
#include <unistd.h>

#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/core/platform.h"
#include "tests/engine/maint/cmpfix.h"
#include "tests/support/child.h"
#include "tests/support/verifyset.h"

namespace {

using namespace cmptest;
using zv::IoKind;

constexpr int kKilled = 77;

struct Kill {
    const char *name;
    IoKind kind;
};
const std::vector<Kill> kSwapKills = {{"rename", IoKind::Rename}, {"link", IoKind::Link}};
const std::vector<Kill> kAllKills = {{"rename", IoKind::Rename}, {"link", IoKind::Link}, {"unlink", IoKind::Unlink}};

enum class Work { Compact, Rebuild };

class CmpKillTest : public CmpTest, public ::testing::WithParamInterface<Kind> {
protected:
    // The run in a child that ends at the nth call of kind: true when the
    // run ended by itself (then *rc is its answer).
    bool run_killed(RblSet &s, Work work, IoKind kind, long n, int *rc) {
        zvtest::ChildResult c = zvtest::run_in_child([&] {
            zvtest::ChildResult r;
            if (INTISAMX(16, 60, 4, 32, rbltest::kProfile) != 0) return r;
            zv::fault_reset();
            zv::fault_exit(kind, n, kKilled);
            r.rc = work == Work::Compact ? compact(s) : s.rebuild();
            zv::fault_reset();
            return r;
        });
        *rc = c.rc;
        return c.ok;
    }
    // What a kill left: the set opens (0) or answers 14 and is rebuilt;
    // then it holds exactly `live`, agrees with itself and verifies.
    void check_after(RblSet &s, const std::multiset<std::string> &live) {
        s.ifil.tfilno = -1;
        const int open = OPNIFIL(&s.ifil);
        ASSERT_TRUE(open == 0 || open == 14) << "open answered " << open << " (file " << zvGetIsamFileNbr() << ")\n"
                                             << status_log();
        if (open == 0) {
            CLIFIL(&s.ifil);
        } else {
            repaired_++;
            ASSERT_EQ(s.rebuild(), 0) << status_log();
        }
        std::string verdict;
        EXPECT_EQ(contents(s, &verdict), live);
        EXPECT_EQ(verdict, "");
        if (s.ifil.tfilno >= 0) CLIFIL(&s.ifil);
        EXPECT_TRUE(indexes_verify(s));
        EXPECT_TRUE(zvtest::verify_set(s.dat()));
    }
    void sweep(RblSet &s, Work work, const std::multiset<std::string> &live, const std::vector<Kill> &kills);
    // A data file with automatic segments of 1 MB.
    static void segmented(RblSet &s) {
        s.x[0].mode = 0x02 | 0x08 | 0x200000;
        s.x[0].segsize = 1;
        s.x[0].nsegs = 8;
    }
    // A record added and flushed by a process that ends without a close;
    // its image joins *live.
    static void write_one_and_end(RblSet &s, std::vector<std::string> *live) {
        rbltest::Rec added = rbltest::rec(999990);
        const zvtest::ChildResult c = zvtest::run_in_child([&] {
            zvtest::ChildResult r;
            if ((r.rc = INTISAMX(16, 60, 4, 32, rbltest::kProfile))) return r;
            s.ifil.tfilno = -1;
            if ((r.rc = OPNIFIL(&s.ifil)) || (r.rc = ADDREC(s.ifil.tfilno, &added)) || (r.rc = ZVFLUSH(-1))) return r;
            _exit(0);
        });
        ASSERT_FALSE(c.ok) << "the writer failed: " << c.rc;
        live->push_back(rbltest::image(added));
    }

    long repaired_ = 0;  // kills after which the set answered 14
};

void CmpKillTest::sweep(RblSet &s, Work work, const std::multiset<std::string> &live, const std::vector<Kill> &kills) {
    const Files orig = files();
    long killed = 0;
    for (const Kill &k : kills) {
        for (long n = 1;; n++) {
            SCOPED_TRACE(std::string(k.name) + " " + std::to_string(n));
            ASSERT_LT(n, 400) << "the sweep does not end";
            put_files(orig);
            int rc = -1;
            const bool ended = run_killed(s, work, k.kind, n, &rc);
            if (ended) {
                EXPECT_EQ(rc, 0);
            }
            check_after(s, live);
            if (HasFailure()) return;
            if (ended) break;
            killed++;
        }
    }
    EXPECT_GT(killed, 0) << "the run made no call of the kinds";
    EXPECT_GT(repaired_, 0) << "no kill fell between two renames of the swap";
    put_files(orig);
}

TEST_P(CmpKillTest, AKillInsideTheCompactionLeavesASetThatOpensOrIsRepaired) {
    RblSet s("kcp", GetParam());
    const std::vector<std::string> order = fill(s, 60, 3);
    sweep(s, Work::Compact, std::multiset<std::string>(order.begin(), order.end()), kAllKills);
}

// The rebuild's swap of its new index files (a kill inside its scan of the
// data file is another matter: the scan mends the data file in place).
TEST_P(CmpKillTest, AKillInsideTheSetRebuildSwapLeavesASetThatOpensOrIsRepaired) {
    RblSet s("krb", GetParam());
    const std::vector<std::string> order = fill(s, 60, 3);
    sweep(s, Work::Rebuild, std::multiset<std::string>(order.begin(), order.end()), kSwapKills);
}

// A segmented data file is parked by renames, one physical file at a time,
// and its new file renamed in the same way: a kill between two of them
// leaves the data file's name missing or its segments mixed, and the open
// finishes the swap from the note beside the data file. The new file has
// fewer segment files than the old, or none.
TEST_F(CmpKillTest, AKillInsideTheCompactionOfASegmentedFileLeavesASetThatOpensOrIsRepaired) {
    struct Case {
        const char *name;
        uint32_t records, keep;  // records added, one in keep left live
        std::vector<Kill> kills;
    };
    const Case cases[] = {{"sgk", 40000, 2, {{"link", IoKind::Link}}}, {"sgp", 18000, 100, kAllKills}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        RblSet s(c.name, Kind::Fixed);
        segmented(s);
        const std::vector<std::string> live = fill_raw(s, c.records, c.keep);
        ASSERT_TRUE(std::filesystem::exists(s.dat() + ".001"));
        sweep(s, Work::Compact, std::multiset<std::string>(live.begin(), live.end()), c.kills);
        if (HasFailure()) return;
        EXPECT_FALSE(std::filesystem::exists(s.dat() + ".swap"));
    }
}

// A kill after the swap's note is written and before its first rename
// leaves the original whole under its name: the set opens as it was and is
// written on. The note then describes a swap that never began: a later
// open that answers 14 (the set left not closed cleanly by another kill)
// must not finish it, which would put the compacted copy, without the
// records written since, in the set's place.
TEST_F(CmpKillTest, ANoteOfASwapThatRenamedNothingIsNotFinishedLater) {
    RblSet s("sgv", Kind::Fixed);
    segmented(s);
    std::vector<std::string> live = fill_raw(s, 18000, 100);
    ASSERT_TRUE(std::filesystem::exists(s.dat() + ".001"));
    int rc = -1;
    ASSERT_FALSE(run_killed(s, Work::Compact, IoKind::Link, 1, &rc)) << "the compaction ended by itself: " << rc;
    ASSERT_TRUE(std::filesystem::exists(s.dat() + ".swap")) << "the kill came before the note";
    write_one_and_end(s, &live);
    check_after(s, std::multiset<std::string>(live.begin(), live.end()));
    EXPECT_EQ(repaired_, 1) << "the writer left the set not closed cleanly";
    EXPECT_FALSE(std::filesystem::exists(s.dat() + ".swap"));
}

// A compaction killed after the first file of the segmented original got
// its parked name beside its own (a link) but before it lost its own: the
// original is whole under its names and opens as it was. That open voids
// the note, so that a later open that answers 14 (the set written on and
// left not closed cleanly) does not put the compacted copy in its place.
TEST_F(CmpKillTest, AnOpenOfTheWholeOriginalVoidsTheSwapsNote) {
    RblSet s("sgl", Kind::Fixed);
    segmented(s);
    std::vector<std::string> live = fill_raw(s, 18000, 100);
    const Files orig = files();
    bool found = false;
    for (long n = 1; n < 100 && !found; n++) {
        put_files(orig);
        int rc = -1;
        if (run_killed(s, Work::Compact, IoKind::Unlink, n, &rc)) break;  // ended by itself
        struct stat st {};
        found = std::filesystem::exists(s.dat() + ".swap") && stat(s.dat().c_str(), &st) == 0 && st.st_nlink == 2;
    }
    ASSERT_TRUE(found) << "no kill fell between the first park's link and unlink";
    write_one_and_end(s, &live);
    EXPECT_FALSE(std::filesystem::exists(s.dat() + ".swap")) << "the open left the note";
    check_after(s, std::multiset<std::string>(live.begin(), live.end()));
    EXPECT_EQ(repaired_, 1) << "the writer left the set not closed cleanly";
}

INSTANTIATE_TEST_SUITE_P(Kinds, CmpKillTest, ::testing::Values(Kind::Fixed, Kind::Variable),
                         [](const ::testing::TestParamInfo<Kind> &i) { return std::string(rbltest::kind_name(i.param)); });

}  // namespace
