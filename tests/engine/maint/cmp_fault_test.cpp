// A failing disk under the compaction: for each kind of system call the
// compaction makes, the Nth call fails once, for N = 1, 2, ... until a run
// meets no fault. A run that fails answers with a code and leaves exactly
// the original files, byte for byte, which open and check as a set; a run
// that gets past its fault leaves the compacted set; the last run succeeds.
#include <cerrno>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "tests/engine/maint/cmpfix.h"
#include "tests/support/verifyset.h"

namespace {

using namespace cmptest;
using zv::IoKind;

struct Sweep {
    const char *name;
    IoKind kind;
    bool nolinks = false;  // every link fails: renames take the system's rename
};
const Sweep kSweeps[] = {{"write", IoKind::Write},   {"sync", IoKind::Sync},     {"open", IoKind::Open},
                         {"link", IoKind::Link},     {"unlink", IoKind::Unlink},
                         {"rename", IoKind::Rename, true}};

enum class Shape { Fixed, Variable, Segmented };

class CmpFaultTest : public CmpTest, public ::testing::WithParamInterface<Shape> {
protected:
    static std::string differences(const Files &now, const Files &orig) {
        std::string out;
        for (const auto &kv : orig) {
            auto it = now.find(kv.first);
            if (it == now.end()) {
                out += kv.first + " missing; ";
                continue;
            }
            if (it->second == kv.second) continue;
            size_t at = 0;
            while (at < kv.second.size() && at < it->second.size() && kv.second[at] == it->second[at]) at++;
            out += kv.first + " differs at " + std::to_string(at) + " (sizes " + std::to_string(kv.second.size()) +
                   ", " + std::to_string(it->second.size()) + "); ";
        }
        return out;
    }
    void sweep(RblSet &s, const std::vector<std::string> &live, const std::vector<Sweep> &kinds);
    static std::set<std::string> names(const Files &f) {
        std::set<std::string> out;
        for (const auto &kv : f) out.insert(kv.first);
        return out;
    }
};

// Runs the compaction of the set (live: its records in file order) with
// the Nth call of each kind failing, N = 1, 2, ... until a run meets no
// fault.
void CmpFaultTest::sweep(RblSet &s, const std::vector<std::string> &live, const std::vector<Sweep> &kinds) {
    const Files orig = files();
    const std::set<std::string> own = names(orig);
    INSTGV *g = zvWNGV;
    for (const Sweep &sw : kinds) {
        long runs = 0;
        for (long k = 1;; k++) {
            SCOPED_TRACE(std::string(sw.name) + " " + std::to_string(k));
            ASSERT_LT(k, 4000) << "the sweep does not end";
            put_files(orig);
            const int32_t open_before = g->physopen;
            zv::fault_reset();
            zv::fault_set(sw.kind, k, EIO);
            if (sw.nolinks) zv::fault_set(IoKind::Link, 1, EPERM, true);
            const int rc = compact(s);
            const bool fired = zv::io_calls(sw.kind) >= k;
            zv::fault_reset();
            runs++;
            EXPECT_EQ(g->physopen, open_before);
            if (rc != 0) {
                EXPECT_TRUE(fired) << rc;
                const Files now = files();
                EXPECT_EQ(names(now), names(orig)) << status_log();
                EXPECT_TRUE(now == orig) << "an original file changed: " << differences(now, orig);
                std::string verdict;
                in_order(s, &verdict);
                EXPECT_EQ(verdict, "");
                EXPECT_TRUE(zvtest::verify_set(s.dat()));
            } else {
                // A fault the run got past: the set is compacted.
                std::string verdict;
                EXPECT_EQ(in_order(s, &verdict), live);
                EXPECT_EQ(verdict, "");
                std::set<std::string> now = names(files());
                EXPECT_TRUE(now.count(s.dat()) && now.count(s.idxfile()) && now.count(s.nm()));
                EXPECT_LE(now.size(), own.size()) << status_log();
            }
            if (HasFailure()) return;
            if (!fired) {
                EXPECT_EQ(rc, 0);
                break;
            }
        }
        EXPECT_GT(runs, 1) << sw.name << ": no call of the kind was made";
    }
}

TEST_P(CmpFaultTest, EveryFailingCallLeavesTheOriginalSet) {
    const Shape shape = GetParam();
    RblSet s("flt", shape == Shape::Variable ? Kind::Variable : Kind::Fixed);
    if (shape == Shape::Segmented) {
        s.x[0].mode = 0x02 | 0x08 | 0x200000;
        s.x[0].segsize = 1;
        s.x[0].nsegs = 8;
    }
    // A segmented file of which little is live: its segment file is parked
    // and deleted, and the compacted file needs none.
    const std::vector<std::string> live = shape == Shape::Segmented ? fill_raw(s, 18000, 100) : fill(s, 120, 2);
    if (shape == Shape::Segmented) {
        ASSERT_TRUE(std::filesystem::exists(s.dat() + ".001"));
    }
    sweep(s, live, std::vector<Sweep>(std::begin(kSweeps), std::end(kSweeps)));
}

// A new data file with segment files of its own takes the data file's name
// with them, all or nothing, under failing links, deletes and renames.
TEST_F(CmpFaultTest, SegmentedNewFileUnderFailingRenames) {
    RblSet s("sgn", Kind::Fixed);
    s.x[0].mode = 0x02 | 0x08 | 0x200000;
    s.x[0].segsize = 1;
    s.x[0].nsegs = 8;
    const std::vector<std::string> live = fill_raw(s, 17000, 1);
    ASSERT_TRUE(std::filesystem::exists(s.dat() + ".001"));
    sweep(s, live, {{"link", IoKind::Link}, {"unlink", IoKind::Unlink}, {"rename", IoKind::Rename, true}});
}

INSTANTIATE_TEST_SUITE_P(Shapes, CmpFaultTest, ::testing::Values(Shape::Fixed, Shape::Variable, Shape::Segmented),
                         [](const ::testing::TestParamInfo<Shape> &i) {
                             return std::string(i.param == Shape::Fixed      ? "fixed"
                                                : i.param == Shape::Variable ? "variable"
                                                                             : "segmented");
                         });

}  // namespace
