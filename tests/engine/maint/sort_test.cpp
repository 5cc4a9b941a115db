// External merge sort: large sorts through small budgets equal std::sort,
// the work files are named, created and removed as they should be, and
// failures leave nothing behind.
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "engine/core/fcb.h"
#include "engine/maint/maintstate.h"
#include "engine/maint/sort.h"
#include "tests/engine/maint/maintfix.h"
#include "zarvo/zarvo.h"

namespace {

using namespace mainttest;
using zv::IoKind;
using zv::SORTHANDLE;

using Entries = std::vector<std::string>;

class SortTest : public MaintTest {
protected:
    // The data file whose records the sort is told to expect.
    FCB *source(uint64_t records) {
        if (!src_) {
            EXPECT_EQ(CREDAT(1, "src.dat", 64, 0, 0), 0);
            src_ = zvWNGV->fcbtab[1];
        }
        src_->hdr.base.nument = uint32_t(records);
        return src_;
    }
    static Entries random_entries(size_t n, size_t len, unsigned seed, int alphabet = 256) {
        std::mt19937 rng(seed);
        Entries out(n, std::string(len, '\0'));
        for (std::string &e : out)
            for (char &c : e) c = char(rng() % unsigned(alphabet));
        return out;
    }
    // Adds every entry and reads them all back; merges receives the
    // intermediate merges made while adding.
    static Entries run(SORTHANDLE *h, const Entries &in, int *merges = nullptr) {
        Entries out;
        if (!h) return out;
        for (const std::string &e : in) EXPECT_EQ(zv::zvsadd(h, e.data()), 0);
        if (merges) *merges = int(h->merges);
        std::string buf(in.empty() ? 1 : in[0].size(), '\0');
        for (;;) {
            int rc = zv::zvsval(h, buf.data());
            if (rc == 1) break;
            EXPECT_EQ(rc, 0);
            if (rc != 0) break;
            out.push_back(buf);
        }
        return out;
    }
    static Entries sorted(Entries e) {
        std::sort(e.begin(), e.end());
        return e;
    }
    // Whether a sort's output is the expected order; the first difference
    // otherwise.
    static ::testing::AssertionResult same(const Entries &got, const Entries &want) {
        if (got.size() != want.size())
            return ::testing::AssertionFailure() << got.size() << " entries, expected " << want.size();
        for (size_t i = 0; i < got.size(); i++)
            if (got[i] != want[i]) return ::testing::AssertionFailure() << "entry " << i << " differs";
        return ::testing::AssertionSuccess();
    }
    // Names of the work files in a directory.
    static std::set<std::string> work_files(const std::string &dir = ".") {
        std::set<std::string> out;
        for (const auto &f : std::filesystem::directory_iterator(dir)) {
            std::string n = f.path().filename().string();
            if (n.rfind("sw", 0) == 0) out.insert(n);
        }
        return out;
    }
    FCB *src_ = nullptr;
};

TEST_F(SortTest, ManyEntriesThroughASmallBudgetEqualStdSort) {
    zvSetRebuildMemory(256);
    const Entries in = random_entries(200000, 12, 7);
    FCB *src = source(in.size());
    zv::fault_reset();
    SORTHANDLE *h = zv::zvsinit(12, 3, src, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->capacity, 256u * 1024 / 20);
    EXPECT_EQ(h->nbufs, 3u);
    int merges = 0;
    EXPECT_TRUE(same(run(h, in, &merges), sorted(in)));
    EXPECT_GT(merges, 5);
    EXPECT_TRUE(work_files().empty());
    // Runs reach the disk in 65,536-byte pieces: 5,461 entries of 12 bytes
    // a write. Every merge pass of these 14 rewrites run 0 (some 23 MB in
    // all, 360 pieces) and each work file has its header writes, which
    // stays far below one write per 200 entries.
    const long writes = zv::io_calls(IoKind::Write);
    EXPECT_GT(writes, 0);
    EXPECT_LT(writes, long(in.size() / 200));
}

TEST_F(SortTest, BothMemorySortsGiveTheSameOrder) {
    struct Case {
        const char *name;
        Entries in;
    };
    Entries equal(3000, std::string(6, 'q'));
    Entries descending;
    for (int i = 5000; i > 0; i--) descending.push_back(key8(uint64_t(i)));
    const Case cases[] = {
        {"999 random", random_entries(999, 9, 1)},
        {"1000 random", random_entries(1000, 9, 1)},
        {"1000 of few values", random_entries(1000, 3, 2, 3)},
        {"all equal", equal},
        {"descending", descending},
    };
    source(0);
    zv::fault_reset();
    for (const Case &c : cases) {
        SORTHANDLE *h = zv::zvsinit(uint16_t(c.in[0].size()), 0, source(c.in.size()), 0);
        ASSERT_NE(h, nullptr) << c.name;
        EXPECT_TRUE(same(run(h, c.in), sorted(c.in))) << c.name;
    }
    EXPECT_TRUE(work_files().empty()) << "everything stayed in memory";
    EXPECT_EQ(zv::io_calls(IoKind::Write), 0);
}

// Entries compared word by word must still order as their unsigned bytes:
// of every length around a word's eight bytes, sharing all but their last
// bytes (so that the last, partly overlapped word decides), with bytes on
// both sides of 0x80, sorted in memory (the Shell sort and the quicksort)
// and through runs and their merges.
TEST_F(SortTest, EntriesDifferingLateOrderAsUnsignedBytes) {
    const unsigned char tail[] = {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF};
    std::mt19937 rng(11);
    auto late = [&](size_t n, size_t len) {
        Entries out(n, std::string(len, char(0x80)));
        for (std::string &e : out)
            for (size_t i = len > 3 ? len - 3 : 0; i < len; i++) e[i] = char(tail[rng() % sizeof tail]);
        return out;
    };
    source(0);
    zv::fault_reset();
    for (size_t len : {1, 2, 7, 8, 9, 12, 15, 16, 17, 28, 33}) {
        for (size_t n : {500, 3000}) {
            const Entries in = late(n, len);
            SORTHANDLE *h = zv::zvsinit(uint16_t(len), 0, source(n), 0);
            ASSERT_NE(h, nullptr);
            EXPECT_TRUE(same(run(h, in), sorted(in))) << len << " bytes, " << n << " entries in memory";
        }
    }
    zvSetRebuildMemory(16);
    for (size_t len : {7, 9, 17}) {
        const Entries in = late(4000, len);
        SORTHANDLE *h = zv::zvsinit(uint16_t(len), 3, source(in.size()), 0);
        ASSERT_NE(h, nullptr);
        int merges = 0;
        EXPECT_TRUE(same(run(h, in, &merges), sorted(in))) << len << " bytes through runs";
        EXPECT_GT(merges, 0) << len << " bytes";
    }
    EXPECT_TRUE(work_files().empty());
}

// Inputs whose partitions go a block at a time and then entry by entry,
// with long runs of equal entries, in order, reversed, rising and falling,
// and of every size around two blocks: each sorts as std::sort does.
TEST_F(SortTest, EveryShapeOfLoadSortsInMemory) {
    auto shaped = [](size_t n, int shape) {
        Entries out;
        for (size_t i = 0; i < n; i++) {
            uint64_t v = i;
            if (shape == 1) v = n - i;
            if (shape == 2) v = i < n / 2 ? i : n - i;
            if (shape == 3) v = i % 5;
            if (shape == 4) v = (i * 7919) % 61;
            out.push_back(key8(v) + key8(shape == 3 ? 0 : i % 3));
        }
        return out;
    };
    source(0);
    zv::fault_reset();
    for (size_t n : {1000, 1127, 1128, 1129, 1130, 1200, 4099}) {
        for (int shape = 0; shape < 5; shape++) {
            const Entries in = shaped(n, shape);
            SORTHANDLE *h = zv::zvsinit(16, 0, source(n), 0);
            ASSERT_NE(h, nullptr);
            EXPECT_TRUE(same(run(h, in), sorted(in))) << n << " entries of shape " << shape;
        }
    }
    Entries mixed = random_entries(20000, 5, 3, 2);
    SORTHANDLE *h = zv::zvsinit(5, 0, source(mixed.size()), 0);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(same(run(h, mixed), sorted(mixed))) << "32 values in 20,000 entries";
}

// A sort that expects many entries takes its pointers and entry buffers as
// mapped work blocks, sorts in them and gives them back.
TEST_F(SortTest, LargeBuffersAreWorkBlocksGivenBack) {
    const Entries in = random_entries(3000, 24, 21);
    FCB *src = source(1000000);
    zv::fault_reset();
    const int64_t inuse = zv::pool_blocks_in_use();
    SORTHANDLE *h = zv::zvsinit(24, 0, src, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->capacity, 1000000u);
    EXPECT_EQ(h->ptrsmapped, 1) << "8 MB of pointers";
    EXPECT_EQ(h->bufmapped[0], 1) << "8 MB of entries a buffer";
    EXPECT_TRUE(same(run(h, in), sorted(in)));
    EXPECT_EQ(zv::pool_blocks_in_use(), inuse);
    // An abandoned sort gives them back too.
    h = zv::zvsinit(24, 0, src, 0);
    ASSERT_NE(h, nullptr);
    for (const std::string &e : in) ASSERT_EQ(zv::zvsadd(h, e.data()), 0);
    EXPECT_EQ(zv::zvsabort(h), 0);
    EXPECT_EQ(zv::pool_blocks_in_use(), inuse);
}

TEST_F(SortTest, TinyBudgetsAndFailedAllocations) {
    // A budget of one entry: every entry is a run of its own.
    zvSetRebuildMemory(1);
    Entries in = random_entries(50, 1000, 3);
    SORTHANDLE *h = zv::zvsinit(1000, 0, source(in.size()), 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->capacity, 1u);
    EXPECT_TRUE(same(run(h, in), sorted(in)));
    // A failed allocation halves the capacity and the sort goes on.
    zvSetRebuildMemory(64);
    in = random_entries(20000, 10, 4);
    zv::fail_alloc_at(2);
    h = zv::zvsinit(10, 0, source(in.size()), 0);
    zv::fail_alloc_at(0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->capacity, 64u * 1024 / 18 / 2);
    EXPECT_TRUE(same(run(h, in), sorted(in)));
    // One or two buffers are taken as three, the least a merge works with.
    for (int given : {1, 2}) {
        h = zv::zvsinit(10, given, source(in.size()), 0);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(h->nbufs, 3u) << given;
        EXPECT_TRUE(same(run(h, in), sorted(in))) << given;
    }
    // No memory at all for a capacity of one.
    zv::fail_alloc_at(2, true);
    EXPECT_EQ(zv::zvsinit(10, 0, source(10), 0), nullptr);
    zv::fail_alloc_at(0);
    EXPECT_EQ(zvGetUserErrorCode(), 482);
    EXPECT_TRUE(work_files().empty());
}

TEST_F(SortTest, SortDirectoryPrefixOfAtMost241Characters) {
    const std::string dir(240, 'd');
    std::filesystem::create_directory(dir);
    zv::MaintState &m = maint_state(zvWNGV);
    snprintf(m.sortdir, sizeof m.sortdir, "%s/", dir.c_str());
    ASSERT_EQ(strlen(m.sortdir), 241u);
    zvSetRebuildMemory(4);
    const Entries in = random_entries(3000, 8, 5);
    SORTHANDLE *h = zv::zvsinit(8, 0, source(in.size()), 0);
    ASSERT_NE(h, nullptr);
    for (size_t i = 0; i < 1000; i++) ASSERT_EQ(zv::zvsadd(h, in[i].data()), 0);
    EXPECT_FALSE(work_files(dir).empty()) << "runs are written into the prefix's directory";
    EXPECT_TRUE(work_files().empty());
    EXPECT_EQ(zv::zvsabort(h), 0);
    EXPECT_TRUE(work_files(dir).empty());
    snprintf(m.sortdir, sizeof m.sortdir, "%s//", dir.c_str());
    EXPECT_EQ(zv::zvsinit(8, 0, source(10), 0), nullptr);
    EXPECT_EQ(zvGetUserErrorCode(), 497);
    m.sortdir[0] = '\0';
}

TEST_F(SortTest, BaseNameDigitsRunLeastSignificantFirst) {
    const struct {
        uint32_t clock;
        const char *name;
    } cases[] = {{0x12ABCD, "swDCBA21"}, {0x7F000001, "sw100000"}, {0, "sw000000"}, {0xFFFFFF, "swFFFFFF"}};
    for (const auto &c : cases) {
        char name[9];
        zv::sort_base_name(c.clock, name);
        EXPECT_STREQ(name, c.name);
    }
}

TEST_F(SortTest, EqualEntriesOfTwoRunsComeOutHigherRunFirst) {
    zvSetRebuildMemory(1);
    // A capacity of 12 entries of 77 bytes (1024 / 85): the first 12 entries
    // make run 0, the next 12 run 1; both hold the same values.
    Entries in;
    for (int r = 0; r < 2; r++)
        for (int i = 0; i < 12; i++) in.push_back(std::string(77, char('a' + i)));
    SORTHANDLE *h = zv::zvsinit(77, 0, source(1000), 0);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(h->capacity, 12u);
    for (const std::string &e : in) ASSERT_EQ(zv::zvsadd(h, e.data()), 0);
    std::string out(77, '\0');
    std::vector<uint32_t> runs;
    for (int i = 0; i < 24; i++) {
        ASSERT_EQ(zv::zvsval(h, out.data()), 0);
        EXPECT_EQ(out, std::string(77, char('a' + i / 2)));
        runs.push_back(h->lastrun);
    }
    for (int i = 0; i < 24; i += 2) {
        EXPECT_EQ(runs[size_t(i)], 1u) << i;
        EXPECT_EQ(runs[size_t(i) + 1], 0u) << i;
    }
    EXPECT_EQ(zv::zvsval(h, out.data()), 1);
    EXPECT_TRUE(work_files().empty());
}

TEST_F(SortTest, EntriesOfOneKeyComeBackInAscendingPosition) {
    std::mt19937 rng(11);
    for (bool wide : {false, true}) {
        const int32_t kl = 10;
        const unsigned char key[kl] = {'s', 'a', 'm', 'e', ' ', 'k', 'e', 'y', 0, 1};
        std::vector<uint64_t> pos;
        Entries in;
        for (int i = 0; i < 1000; i++) {
            uint64_t p = wide ? (uint64_t(rng()) << 32 | rng()) : rng();
            pos.push_back(p);
            std::string e(size_t(zv::sort_entry_length(kl, wide, false)), '\0');
            zv::sort_entry_pack(reinterpret_cast<unsigned char *>(e.data()), key, kl, wide, uint32_t(p >> 32),
                                uint32_t(p));
            in.push_back(e);
        }
        zvSetRebuildMemory(2);  // several runs
        SORTHANDLE *h = zv::zvsinit(uint16_t(in[0].size()), 0, source(in.size()), 0);
        ASSERT_NE(h, nullptr);
        std::vector<uint64_t> back;
        for (const std::string &e : run(h, in)) {
            EXPECT_EQ(e.compare(0, size_t(kl), reinterpret_cast<const char *>(key), size_t(kl)), 0);
            uint32_t hi, lo;
            zv::sort_entry_position(reinterpret_cast<const unsigned char *>(e.data()), kl, wide, &hi, &lo);
            back.push_back(uint64_t(hi) << 32 | lo);
        }
        std::sort(pos.begin(), pos.end());
        EXPECT_EQ(back, pos) << "wide " << wide;
    }
    // The position follows the key most significant byte first.
    unsigned char e[12];
    zv::sort_entry_pack(e, reinterpret_cast<const unsigned char *>("ab"), 2, true, 0x01020304, 0x05060708);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(e), 10), std::string("ab\x01\x02\x03\x04\x05\x06\x07\x08", 10));
    zv::sort_entry_pack(e, reinterpret_cast<const unsigned char *>("ab"), 2, false, 0, 0x05060708);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(e), 6), std::string("ab\x05\x06\x07\x08", 6));
    EXPECT_EQ(zv::sort_entry_length(2, false, true), 2);
}

TEST_F(SortTest, NoWorkFileRemainsAfterAnAbortAtAnyPoint) {
    zvSetRebuildMemory(2);
    const Entries in = random_entries(2000, 16, 9);
    // Given up after 0, 300 and all entries added, and after a few reads.
    for (size_t stop : {size_t(0), size_t(300), in.size(), in.size() + 5}) {
        SORTHANDLE *h = zv::zvsinit(16, 3, source(in.size()), 0);
        ASSERT_NE(h, nullptr);
        for (size_t i = 0; i < in.size() && i < stop; i++) ASSERT_EQ(zv::zvsadd(h, in[i].data()), 0);
        std::string out(16, '\0');
        for (size_t i = in.size(); i < stop; i++) ASSERT_EQ(zv::zvsval(h, out.data()), 0);
        if (stop >= 300) {
            EXPECT_FALSE(work_files().empty()) << stop;
        }
        usys(77);
        EXPECT_EQ(zv::zvsabort(h), 0) << stop;
        EXPECT_EQ(zvGetSystemErrorCode(), 77) << "the operating-system error is kept";
        EXPECT_EQ(zvGetUserErrorCode(), 0);
        EXPECT_TRUE(work_files().empty()) << stop;
    }
    // The nth write fails: the call reports 126 (496) and the abort leaves
    // nothing behind, for every n until the sort completes.
    for (long n = 1;; n++) {
        SORTHANDLE *h = zv::zvsinit(16, 3, source(in.size()), 0);
        ASSERT_NE(h, nullptr);
        zv::fault_reset();
        zv::fault_set(IoKind::Write, n, EIO);
        int rc = 0;
        for (size_t i = 0; i < in.size() && rc == 0; i++) rc = zv::zvsadd(h, in[i].data());
        Entries out;
        std::string buf(16, '\0');
        while (rc == 0) {
            rc = zv::zvsval(h, buf.data());
            if (rc == 0) out.push_back(buf);
        }
        zv::fault_reset();
        if (rc == 1) {
            EXPECT_TRUE(same(out, sorted(in)));
            EXPECT_GT(n, 3);
            EXPECT_TRUE(work_files().empty());
            break;
        }
        EXPECT_TRUE(rc >= 108 && rc <= 127) << n << ": " << rc;
        EXPECT_EQ(zvGetUserErrorCode(), rc + 370) << n;
        zv::zvsabort(h);
        EXPECT_TRUE(work_files().empty()) << n;
        ASSERT_LT(n, 5000);
    }
}

TEST_F(SortTest, AForeignWorkFileIsNeitherUsedNorDeleted) {
    zvSetRebuildMemory(2);
    const Entries in = random_entries(3000, 8, 13);
    const std::string foreign = "foreign bytes that must never come back";
    auto base = [](uint32_t t) {
        char b[9];
        zv::sort_base_name(t, b);
        return std::string(b);
    };
    // Run 0 of the clock's base names exists: the sort draws further.
    uint32_t t = uint32_t(zvtime());
    std::set<std::string> made;
    for (uint32_t c = t - 1; c != t + 3; c++) {
        std::string n = base(c) + ".000";
        zvtest::write_file(n, foreign);
        made.insert(n);
    }
    SORTHANDLE *h = zv::zvsinit(8, 0, source(in.size()), 0);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(same(run(h, in), sorted(in)));
    EXPECT_EQ(work_files(), made);
    for (const std::string &n : made) EXPECT_EQ(zvtest::read_file(n), foreign);
    for (const std::string &n : made) std::filesystem::remove(n);
    // A later run of the same base name exists: 125 (495), and the abort
    // deletes the handle's own run only.
    made.clear();
    t = uint32_t(zvtime());
    for (uint32_t c = t - 1; c != t + 3; c++) {
        std::string n = base(c) + ".001";
        zvtest::write_file(n, foreign);
        made.insert(n);
    }
    h = zv::zvsinit(8, 0, source(in.size()), 0);
    ASSERT_NE(h, nullptr);
    int rc = 0;
    for (size_t i = 0; i < in.size() && rc == 0; i++) rc = zv::zvsadd(h, in[i].data());
    EXPECT_EQ(rc, 125);
    EXPECT_EQ(zvGetUserErrorCode(), 495);
    EXPECT_EQ(work_files().size(), made.size() + 1) << "the handle's run 0 and the foreign files";
    EXPECT_EQ(zv::zvsabort(h), 125);
    EXPECT_EQ(work_files(), made);
    for (const std::string &n : made) EXPECT_EQ(zvtest::read_file(n), foreign);
}

TEST_F(SortTest, AddingAfterReadingIsRefused) {
    FCB *src = source(10);
    zv::fault_reset();
    SORTHANDLE *h = zv::zvsinit(4, 0, src, 0);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(zv::zvsadd(h, "bbbb"), 0);
    ASSERT_EQ(zv::zvsadd(h, "aaaa"), 0);
    char out[4];
    ASSERT_EQ(zv::zvsval(h, out), 0);
    EXPECT_EQ(std::string(out, 4), "aaaa");
    EXPECT_EQ(zv::zvsadd(h, "cccc"), 109);
    EXPECT_EQ(zvGetUserErrorCode(), 479);
    EXPECT_EQ(zv::zvsabort(h), 109);
    // No entries at all: the first read ends and nothing was written.
    h = zv::zvsinit(4, 0, src, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(zv::zvsval(h, out), 1);
    EXPECT_EQ(zv::io_calls(IoKind::Write), 0);
}

}  // namespace
