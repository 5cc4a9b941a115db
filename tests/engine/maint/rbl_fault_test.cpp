// A failing disk under the set rebuild: the Nth write fails (EIO), for N =
// 1, 2, ... until a run meets no fault. A run that meets its fault answers
// with a code and the rebuild's error pair set, leaves no descriptor open
// and the page cache's rebuild flag clear; a healthy run afterwards yields
// the fully repaired set with every record. Under failing writes, opens and
// renames, a run that fails leaves the old index files byte for byte under
// their own names and no new file.
#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>

#include "engine/core/arith.h"
#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/files/fcbops.h"
#include "engine/core/platform.h"
#include "engine/maint/maintstate.h"
#include "tests/engine/maint/cmpfix.h"
#include "tests/engine/maint/rblfix.h"
#include "tests/support/damage.h"
#include "tests/support/verifyset.h"

namespace {

using namespace rbltest;
using zv::IoKind;
using zv::fcb_at;
using zv::join64;

class RblFaultTest : public RblTest, public ::testing::WithParamInterface<Kind> {
protected:
    static void copy_all(const std::string &from, const std::string &to) {
        std::filesystem::create_directories(to);
        for (const auto &e : std::filesystem::directory_iterator(from)) {
            std::string n = e.path().filename().string();
            if (!e.is_regular_file() || n == "ZVSTATUS.QVS") continue;
            std::filesystem::copy_file(e.path(), to + "/" + n, std::filesystem::copy_options::overwrite_existing);
        }
    }
    static void clear_files() {
        for (const auto &e : std::filesystem::directory_iterator(".")) {
            if (e.is_regular_file() && e.path().filename() != "ZVSTATUS.QVS") std::filesystem::remove(e.path());
        }
    }
    // Runs `run` from the saved files with its Nth write failing, for N = 1,
    // 2, ... until a run meets no fault; after each failed run, `rerun`
    // (a healthy run and its checks) gets N. The number of runs.
    long sweep(const std::function<int()> &run, const std::function<void(long)> &rerun) {
        copy_all(".", "tpl");
        INSTGV *g = zvWNGV;
        const int32_t open_before = g->physopen;
        long n = 1;
        for (;; n++) {
            if (n >= 5000) {
                ADD_FAILURE() << "the sweep does not end";
                break;
            }
            clear_files();
            copy_all("tpl", ".");
            zv::fault_reset();
            zv::fault_set(IoKind::Write, n, EIO);
            maint_state(g).rbl.err = 0;
            int rc = run();
            const bool fired = zv::io_calls(IoKind::Write) >= n;
            zv::fault_reset();
            EXPECT_EQ(g->physopen, open_before) << "write " << n;
            EXPECT_EQ(g->pc.forceread_rebuild, 0) << "write " << n;
            if (!fired) {
                EXPECT_EQ(rc, 0) << "write " << n;
                break;
            }
            EXPECT_NE(rc, 0) << "write " << n;
            EXPECT_EQ(maint_state(g).rbl.err, rc) << "write " << n;
            rerun(n);
            if (HasFatalFailure()) break;
        }
        std::filesystem::remove_all("tpl");
        return n;
    }
};

TEST_P(RblFaultTest, EveryFailingWriteLeavesARerunnableSet) {
    RblSet s("flt", GetParam());
    std::multiset<std::string> live = build(s, 40);
    zvtest::zero_header_field(s.dat(), zvtest::HeaderField::ActiveCount);
    zvtest::put_le32(s.dat(), 56, 0xFF);
    long n = sweep([&] { return s.rebuild(); },
                   [&](long w) {
                       // A healthy run repairs the set whatever the failed one left.
                       ASSERT_EQ(s.rebuild(), 0) << "rerun after write " << w << "\n" << status_log();
                       std::string verdict;
                       EXPECT_EQ(contents(s, &verdict), live) << "write " << w;
                       EXPECT_EQ(verdict, "") << "write " << w;
                       CLIFIL(&s.ifil);
                   });
    EXPECT_GT(n, 20) << "the runs met their faults";
}

// The same under the superfile rebuild of a host whose fixed-length member
// lost its counters.
TEST_F(RblFaultTest, EveryFailingWriteOfTheSuperfileRebuildLeavesARerunnableHost) {
    ASSERT_EQ(CREDAT(1, "h", 0, 0, 0x200), 0);
    RblSet s("h!cust", Kind::Fixed);
    std::multiset<std::string> live = build(s, 30);
    s.ifil.tfilno = -1;
    ASSERT_EQ(OPNIFIL(&s.ifil), 0);
    FCB *m = fcb_at(s.ifil.tfilno);
    const uint64_t hdr = join64(m->hposh, m->hposl);
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    ASSERT_EQ(CLSFIL(chkopnx("h"), 0), 0);
    zvtest::put_le32("h", hdr + 24, 0);
    long n = sweep([] { return ZVSBLDX("h", nullptr); },
                   [&](long w) {
                       ASSERT_EQ(ZVSBLDX("h", nullptr), 0) << "rerun after write " << w << "\n" << status_log();
                       ASSERT_EQ(OPNFIL(3, "h!cust.dat", 0), 0) << "write " << w;
                       zvSETHGH(0);
                       EXPECT_EQ(DATENT(3), live.size()) << "write " << w;
                       ASSERT_EQ(CLSFIL(3, 0), 0);
                       ASSERT_EQ(CLSFIL(chkopnx("h"), 0), 0);
                   });
    EXPECT_GT(n, 5) << "the runs met their faults";
}

class RblIndexFaultTest : public cmptest::CmpTest {};

TEST_F(RblIndexFaultTest, AFailedRunLeavesTheOldIndexFiles) {
    struct Sweep {
        const char *name;
        IoKind kind;
        bool nolinks;  // every link fails: renames take the system's rename
    };
    const Sweep sweeps[] = {{"write", IoKind::Write, false}, {"open", IoKind::Open, false},
                            {"rename", IoKind::Rename, true}};
    RblSet s("swp", Kind::Fixed);
    const std::multiset<std::string> live = build(s, 40);
    const cmptest::Files orig = files();
    for (const Sweep &sw : sweeps) {
        long failed = 0;
        for (long n = 1;; n++) {
            SCOPED_TRACE(std::string(sw.name) + " " + std::to_string(n));
            ASSERT_LT(n, 4000) << "the sweep does not end";
            put_files(orig);
            zv::fault_reset();
            zv::fault_set(sw.kind, n, EIO);
            if (sw.nolinks) zv::fault_set(IoKind::Link, 1, EPERM, true);
            const int rc = s.rebuild();
            const bool fired = zv::io_calls(sw.kind) >= n;
            zv::fault_reset();
            if (rc != 0) {
                failed++;
                const cmptest::Files now = files();
                for (const std::string &f : {s.idxfile(), s.nm()}) {
                    ASSERT_TRUE(now.count(f)) << f << "\n" << status_log();
                    EXPECT_TRUE(now.at(f) == orig.at(f)) << f;
                }
                for (const auto &kv : now) EXPECT_TRUE(orig.count(kv.first)) << "left: " << kv.first;
                ASSERT_EQ(s.rebuild(), 0) << status_log();
            }
            std::string verdict;
            EXPECT_EQ(contents(s, &verdict), live);
            EXPECT_EQ(verdict, "");
            CLIFIL(&s.ifil);
            if (HasFailure() || !fired) break;
        }
        EXPECT_GT(failed, 0) << sw.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, RblFaultTest, ::testing::Values(Kind::Fixed, Kind::Variable),
                         [](const ::testing::TestParamInfo<Kind> &i) {
                             return std::string(i.param == Kind::Fixed ? "fixed" : "variable");
                         });

}  // namespace
