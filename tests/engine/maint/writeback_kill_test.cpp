// A process killed while its cached data pages go to the file: after the
// rebuild the set is sound and holds only records that were written whole.
// The child stops at a chosen write (as a kill would: nothing after it
// reaches the file). Each test sweeps a sample of the writes of its
// workload; ZV_WRITEBACK_KILL_RUNS asks for more of them (0: every one) and
// ZV_WRITEBACK_KILL_SEED for another sample.
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/core/platform.h"
#include "tests/engine/maint/rblfix.h"
#include "tests/support/child.h"
#include "tests/support/damage.h"
#include "tests/support/verifyset.h"

namespace {

using namespace rbltest;

constexpr int kRuns = 12;

long env_long(const char *name, long fallback) {
    const char *v = getenv(name);
    return v && *v ? strtol(v, nullptr, 10) : fallback;
}

class WriteBackKillTest : public RblTest {
protected:
    // A small data cache (8 pages of 512 bytes) that the workloads
    // overflow many times.
    static int start_small() { return INTISAMX(16, 60, 4, 8, kProfile); }

    // Runs work(d) in a child on the set made fresh there, stopping at the
    // nth write after the create (0: never). The child's count of writes,
    // or -1 when it failed before its end, or -2 when it stopped; *marked
    // gets the count of writes when the work called mark() last.
    static long run(RblSet &s, long nth, const std::function<int(int)> &work, long *marked = nullptr) {
        zvtest::ChildResult c = zvtest::run_in_child([&] {
            zvtest::ChildResult r;
            if (start_small() != 0) return r;
            const int d = s.create();
            if (d < 0) return r;
            base() = zv::io_calls(zv::IoKind::Write);
            mark();
            if (nth > 0) zv::fault_exit(zv::IoKind::Write, nth, 0);
            r.rc = work(d);
            r.extra = int(zv::io_calls(zv::IoKind::Write) - base());
            r.sys = int(mark_at());
            return r;
        });
        if (!c.ok) return -2;  // stopped at the chosen write
        if (marked) *marked = c.sys;
        return c.rc == 0 ? c.extra : -1;
    }
    static long &base() {
        static long b = 0;
        return b;
    }
    static long &mark_at() {
        static long m = 0;
        return m;
    }
    static void mark() { mark_at() = zv::io_calls(zv::IoKind::Write) - base(); }

    // The kill points of a sweep over `total` writes: a seeded sample, or
    // every one.
    // The kill points of a sweep over the writes after the first `from`
    // of `total`: a seeded sample, or every one.
    static std::vector<long> kill_points(long total, long from = 0) {
        long runs = env_long("ZV_WRITEBACK_KILL_RUNS", kRuns);
        std::vector<long> out;
        if (runs <= 0 || runs >= total - from) {
            for (long n = from + 1; n <= total; n++) out.push_back(n);
            return out;
        }
        std::mt19937 rng(unsigned(env_long("ZV_WRITEBACK_KILL_SEED", 7)));
        std::set<long> pick;
        while (long(pick.size()) < runs) pick.insert(from + long(rng() % uint32_t(total - from)) + 1);
        return {pick.begin(), pick.end()};
    }
};

// A fixed-length record of `len` bytes: record n's Rec, then bytes of its
// version.
std::string versioned(uint32_t n, int version, size_t len) {
    Rec r = rec(n);
    r.amount = uint32_t(version);
    std::string img = image(r);
    img.resize(len, char('a' + version));
    return img;
}

// Records are appended while pages written earlier are read again, so that
// the least recently used page, the next to go to the file, often lies
// above dirty pages that are not yet there. The file must grow without a
// hole: a hole reads as zeros, which the rebuild would take for records.
// What the rebuild finds is exactly the records whose bytes reached the
// file.
TEST_F(WriteBackKillTest, AKillDuringWriteBackLeavesNoHoleTakenForARecord) {
    constexpr uint32_t kRounds = 8, kPerRound = 24;
    auto work = [](int d) {
        for (uint32_t round = 0; round < kRounds; round++) {
            const uint32_t first = round * kPerRound + 1;
            for (uint32_t n = first; n < first + kPerRound; n++) {
                std::string img = image(rec(n));
                if (int rc = ADDREC(d, img.data())) return rc;
            }
            // The round's first records are read again: their page goes to
            // the back of the list, behind the pages above it.
            for (uint32_t n = first; n < first + 6; n++) {
                char buf[64];
                uint32_t key = n;
                if (int rc = EQLREC(d + 1, &key, buf)) return rc;
            }
        }
        return 0;
    };
    RblSet probe("probe", Kind::Fixed);
    const long total = run(probe, 0, work);
    ASSERT_GT(total, 0);
    for (long nth : kill_points(total)) {
        SCOPED_TRACE("stopped at write " + std::to_string(nth) + " of " + std::to_string(total));
        RblSet s(("hole" + std::to_string(nth)).c_str(), Kind::Fixed);
        ASSERT_EQ(run(s, nth, work), -2);
        // The records whose image reached the file.
        const std::string disk = zvtest::read_bytes(s.dat(), 0, zvtest::file_size(s.dat()));
        std::multiset<std::string> written;
        for (uint32_t n = 1; n <= kRounds * kPerRound; n++) {
            std::string img = image(rec(n));
            if (disk.find(img) != std::string::npos) written.insert(img);
        }
        ASSERT_EQ(s.rebuild(), 0) << status_log();
        std::string verdict;
        EXPECT_EQ(contents(s, &verdict), written);
        EXPECT_EQ(verdict, "");
        CLIFIL(&s.ifil);
        EXPECT_TRUE(zvtest::verify_set(s.dat()));
    }
}

// Records that cross page boundaries (96 bytes in pages of 512; 64 bytes
// and a tail of 40 behind a 10-byte area header in a variable-length set)
// are all written and flushed, then rewritten in place to a second version
// of the same length. A kill between two writes of the file never leaves a
// record torn: every record is whole in its first or its second version.
TEST_F(WriteBackKillTest, AKillBetweenWritesLeavesNoRecordTorn) {
    constexpr uint32_t kRecords = 120;
    for (Kind kind : {Kind::Fixed, Kind::Variable}) {
        SCOPED_TRACE(kind_name(kind));
        const bool variable = kind == Kind::Variable;
        const size_t len = variable ? 104 : 96;
        auto prepare = [&](RblSet &s) {
            if (!variable) s.ifil.dreclen = int16_t(len);
        };
        auto work = [&](int d) {
            for (uint32_t n = 1; n <= kRecords; n++) {
                std::string img = versioned(n, 1, len);
                if (int rc = variable ? ADDVREC(d, img.data(), int32_t(len)) : ADDREC(d, img.data())) return rc;
            }
            if (int rc = ZVFLUSH(d)) return rc;
            mark();
            for (uint32_t n = 1; n <= kRecords; n++) {
                char buf[128];
                int32_t got = sizeof buf;
                uint32_t key = n;
                if (int rc = variable ? EQLVREC(d + 1, &key, buf, &got) : EQLREC(d + 1, &key, buf)) return rc;
                std::string img = versioned(n, 2, len);
                if (int rc = variable ? RWTVREC(d, img.data(), int32_t(len)) : RWTREC(d, img.data())) return rc;
            }
            return 0;
        };
        const std::string stem = std::string("torn") + (variable ? "v" : "f");
        RblSet probe((stem + "probe").c_str(), kind);
        prepare(probe);
        long flushed = 0;
        const long total = run(probe, 0, work, &flushed);
        ASSERT_GT(total, flushed);
        for (long nth : kill_points(total, flushed)) {
            SCOPED_TRACE("stopped at write " + std::to_string(nth) + " of " + std::to_string(total));
            RblSet s((stem + std::to_string(nth)).c_str(), kind);
            prepare(s);
            ASSERT_EQ(run(s, nth, work), -2);
            ASSERT_EQ(s.rebuild(), 0) << status_log();
            std::string verdict;
            std::multiset<std::string> found = contents(s, &verdict);
            EXPECT_EQ(verdict, "");
            CLIFIL(&s.ifil);
            EXPECT_TRUE(zvtest::verify_set(s.dat()));
            std::set<uint32_t> numbers;
            for (const std::string &img : found) {
                ASSERT_EQ(img.size(), len);
                uint32_t n = 0;
                memcpy(&n, img.data() + 4, 4);
                numbers.insert(n);
                EXPECT_TRUE(img == versioned(n, 1, len) || img == versioned(n, 2, len)) << "record " << n << " torn";
            }
            EXPECT_EQ(numbers.size(), size_t(kRecords));
            EXPECT_EQ(found.size(), size_t(kRecords));
        }
    }
}

}  // namespace
