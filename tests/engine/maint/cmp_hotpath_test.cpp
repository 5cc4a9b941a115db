// The compaction's hot paths: the copy reads each live record once and
// writes it once without taking memory per record, and the indexes are
// loaded through the sort and the bulk load without a key insertion. Also
// its progress reports, the function-number entry point, and superfile
// member indexes, which are loaded again in place.
#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "engine/files/fcbops.h"
#include "engine/index/idxstate.h"
#include "engine/maint/maintstate.h"
#include "tests/engine/maint/cmpfix.h"
#include "tests/support/verifyset.h"

namespace {

using namespace cmptest;

class CmpHotPathTest : public CmpTest {
protected:
    struct Run {
        uint64_t allocs;   // platform allocations of the compaction
        uint64_t reads;    // live records the copy read
        uint64_t writes;   // records the copy wrote
        uint64_t loaded;   // keys handed to the bulk load
        uint64_t splits;   // node splits
        int32_t bufsize;   // the work buffer afterwards
    };
    Run run(Kind k, uint32_t n) {
        const std::string name = std::string(k == Kind::Fixed ? "hf" : "hv") + std::to_string(n);
        RblSet s(name.c_str(), k);
        const std::vector<std::string> live = fill(s, n, 2);
        INSTGV *g = zvWNGV;
        maint_state(g).rbl.copyreads = maint_state(g).rbl.copywrites = maint_state(g).rbl.loaded = 0;
        const uint64_t splits = idx_state(g).splits;
        const uint64_t allocs = zv::platform_alloc_count();
        EXPECT_EQ(compact(s), 0) << status_log();
        Run r{zv::platform_alloc_count() - allocs, maint_state(g).rbl.copyreads, maint_state(g).rbl.copywrites,
              maint_state(g).rbl.loaded, idx_state(g).splits - splits, maint_state(g).rbl.bufsize};
        std::string verdict;
        EXPECT_EQ(in_order(s, &verdict), live);
        EXPECT_EQ(verdict, "");
        return r;
    }
};

TEST_F(CmpHotPathTest, OneReadAndOneWritePerRecordAndNoKeyInserted) {
    for (Kind k : {Kind::Fixed, Kind::Variable}) {
        SCOPED_TRACE(rbltest::kind_name(k));
        run(k, 40);  // tables the engine keeps once grown
        const Run small = run(k, 400);
        const Run large = run(k, 4000);
        EXPECT_EQ(small.reads, 200u);
        EXPECT_EQ(small.writes, 200u);
        EXPECT_EQ(large.reads, 2000u);
        EXPECT_EQ(large.writes, 2000u);
        EXPECT_EQ(small.loaded, 3u * 200);
        EXPECT_EQ(large.loaded, 3u * 2000);
        EXPECT_EQ(small.splits, 0u) << "no key was inserted";
        EXPECT_EQ(large.splits, 0u) << "no key was inserted";
        EXPECT_EQ(large.allocs, small.allocs) << "ten times the records, the same allocations";
        EXPECT_EQ(maint_state(zvWNGV).rbl.bufsize, 0) << "the work buffer is given back";
    }
}

// The progress routine hears of the copy and of every index, and stops the
// run when asked; the original is then as it was.
TEST_F(CmpHotPathTest, ProgressAndCancel) {
    RblSet s("prog", Kind::Fixed);
    fill(s, 120, 2);
    const Files orig = files();
    ASSERT_EQ(SETCBRBL(rbltest::progress_cb, 10), 0);
    ASSERT_EQ(compact(s), 0) << status_log();
    std::vector<std::string> phases;
    int counts = 0;
    for (const rbltest::Progress &p : rbltest::progress()) {
        if (p.code == 109) phases.push_back(p.text);
        counts += p.code == 100;
    }
    ASSERT_FALSE(phases.empty());
    EXPECT_EQ(phases.front(), "Compressing data file.");
    EXPECT_NE(std::find(phases.begin(), phases.end(), "Rebuilding index file."), phases.end());
    EXPECT_NE(std::find(phases.begin(), phases.end(), "Rebuilding additional index #1."), phases.end());
    EXPECT_GE(counts, 6) << "60 records copied, keyed three times";
    // A routine that cancels at its first count stops the copy.
    put_files(orig);
    ASSERT_EQ(SETCBRBL(
                  [](uint32_t, int32_t code, const char *) {
                      if (code == 100 && GETCBRBLST()) GETCBRBLST()->cancel = 1;
                      return 0;
                  },
                  10),
              0);
    EXPECT_EQ(compact(s), 869);
    EXPECT_TRUE(files() == orig);
}

// The function-number entry point takes the parameter block.
TEST_F(CmpHotPathTest, FunctionNumberEntryPoint) {
    RblSet s("fn", Kind::Fixed);
    const std::vector<std::string> live = fill(s, 50, 5);
    IFILPARM p{};
    s.ifil.tfilno = -1;
    p.ifil = &s.ifil;
    int32_t pos = 0, len = 0;
    EXPECT_EQ(zarvo(0x2165, 0, &p, &pos, nullptr, &len, 0), 0) << status_log();
    EXPECT_EQ(slots(s), live);
    // The same refusal as the direct call.
    s.ifil.tfilno = bits(0x040);
    EXPECT_EQ(zarvo(0x2165, 0, &p, &pos, nullptr, &len, 0), 454);
}

// Index files that are superfile members are loaded again in place; when a
// later step fails they are loaded from the original data file once more.
TEST_F(CmpHotPathTest, SuperfileMemberIndexesAreReloadedInPlace) {
    ASSERT_EQ(CREDAT(1, "host", 0, 0, 0x200), 0);
    RblSet s("mem", Kind::Fixed);
    s.aidx = "host!nm";
    s.idx[2].aidxnam = s.aidx.c_str();
    const std::vector<std::string> live = fill(s, 80, 2);
    // A rename of the swap that fails, after the member was loaded from the
    // new data file: the run fails, and the member holds the original data
    // file's keys again.
    for (bool fail : {true, false}) {
        SCOPED_TRACE(fail ? "failing rename" : "no fault");
        zv::fault_reset();
        if (fail) {
            zv::fault_set(zv::IoKind::Link, 1, EIO);
            zv::fault_set(zv::IoKind::Rename, 1, EIO);
        }
        const int rc = compact(s);
        zv::fault_reset();
        if (fail) {
            EXPECT_NE(rc, 0);
        } else {
            EXPECT_EQ(rc, 0) << status_log();
        }
        std::string verdict;
        EXPECT_EQ(in_order(s, &verdict), live);
        EXPECT_EQ(verdict, "");
    }
    ASSERT_EQ(CLSFIL(chkopnx("host"), 0), 0);
}

}  // namespace
