// Randomized batches of inserts and deletes against a sorted reference,
// over unique and duplicate-key indexes, compressed or not, with 4- and
// 8-byte positions, with a roomy and with the smallest node cache. After
// every batch the checker passes and a full scan equals the reference,
// before and after close and reopen.
#include <algorithm>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "tests/engine/index/idxfix.h"
#include "zarvo/zarvo.h"

namespace {

using namespace idxtest;

struct Config {
    bool dup;
    bool compressed;
    bool wide;
    int bufs;  // node buffers of the engine (3 is the smallest start-up accepts)
};

std::string name_of(const testing::TestParamInfo<Config> &info) {
    const Config &c = info.param;
    return std::string(c.dup ? "Dup" : "Unique") + (c.compressed ? "Compressed" : "Plain") +
           (c.wide ? "Pos8" : "Pos4") + (c.bufs == 3 ? "SmallestCache" : "");
}

class RandomBatchTest : public IndexTest, public testing::WithParamInterface<Config> {
protected:
    static constexpr int32_t kValueLen = 20;

    void SetUp() override {
        IndexTest::SetUp();
        const Config &c = GetParam();
        restart(c.bufs);
        shape_.dup = c.dup ? 1 : 0;
        shape_.keytype = c.compressed ? 12 : 0;
        shape_.wide = c.wide;
        shape_.keylen = kValueLen + (c.dup ? (c.wide ? 8 : 4) : 0);
        ASSERT_EQ(create_index(1, "rnd.idx", shape_), 0);
    }

    // A key value with shared prefixes and trailing blanks, ordered by v.
    std::string value_of(uint32_t v) const {
        static const char *prefixes[] = {"acct/", "acct/north/", "b", "zz-top/"};
        char buf[64];
        snprintf(buf, sizeof buf, "%s%u", prefixes[v % 4], v / 4);
        std::string s(buf);
        s.resize(size_t(kValueLen), ' ');
        return s;
    }

    // The stored key: the value, and in a duplicate-key index the position
    // as suffix, most significant byte first.
    std::string stored_key(const std::string &value, uint64_t pos) const {
        std::string k = value;
        if (shape_.dup) {
            int p = shape_.wide ? 8 : 4;
            for (int i = 0; i < p; i++) k += char(pos >> (8 * (p - 1 - i)));
        }
        return k;
    }

    uint64_t new_pos() {
        for (;;) {
            uint64_t p = shape_.wide ? (rng_() & 0x0000FFFFFFFFFFFFull) : (rng_() & 0xFFFFFFFFull);
            if (p && used_pos_.insert(p).second) return p;
        }
    }

    void insert_one() {
        const Config &c = GetParam();
        uint32_t v = uint32_t(rng_() % (c.dup ? 4000 : 200000));
        std::string value = value_of(v);
        uint64_t pos = new_pos();
        std::string key = stored_key(value, pos);
        std::string arg = key;  // a duplicate-key index overwrites the suffix itself
        if (shape_.dup) std::fill(arg.begin() + kValueLen, arg.end(), '?');
        bool exists = !shape_.dup && by_value_.count(value);
        int rc = add(1, arg, pos);
        if (exists) {
            ASSERT_EQ(rc, 2) << "unique index accepted an equal key";
            return;
        }
        ASSERT_EQ(rc, 0) << "insert of " << value;
        ref_.insert(Entry{key, pos});
        live_.push_back(Entry{key, pos});
        if (!shape_.dup) by_value_.insert(value);
    }

    void delete_one() {
        if (live_.empty()) return;
        size_t i = size_t(rng_() % live_.size());
        Entry e = live_[i];
        live_[i] = live_.back();
        live_.pop_back();
        if (!shape_.dup && rng_() % 16 == 0) {
            // The right key with a wrong position is refused and changes nothing.
            ASSERT_EQ(del(1, e.key, e.pos ^ 1), 3);
        }
        ASSERT_EQ(del(1, e.key, e.pos), 0) << "delete of " << e.key;
        ref_.erase(e);
        if (!shape_.dup) by_value_.erase(e.key.substr(0, size_t(kValueLen)));
        if (rng_() % 8 == 0) {
            ASSERT_EQ(del(1, e.key, e.pos), 4) << "second delete";
        }
    }

    void verify(const char *when) {
        SCOPED_TRACE(when);
        ASSERT_EQ(check(1), "");
        std::vector<Entry> want(ref_.begin(), ref_.end());
        std::vector<Entry> got = scan(1);
        ASSERT_EQ(got.size(), want.size());
        ASSERT_TRUE(got == want);
        EXPECT_EQ(IDXENT(1), uint32_t(want.size()));
    }

    void batch(int ops, int insert_pct) {
        for (int i = 0; i < ops; i++) {
            if (int(rng_() % 100) < insert_pct) insert_one();
            else delete_one();
            if (HasFatalFailure()) return;
        }
    }

    IndexShape shape_;
    std::mt19937_64 rng_{20261209};
    std::set<Entry> ref_;
    std::vector<Entry> live_;
    std::set<std::string> by_value_;
    std::set<uint64_t> used_pos_;
};

TEST_P(RandomBatchTest, BatchesKeepTheTreeSoundAndEqualToTheReference) {
    const int ops = GetParam().bufs == 3 ? 3000 : 6000;
    const int pct[] = {85, 85, 70, 30, 20, 50};
    int n = 0;
    for (int p : pct) {
        batch(ops, p);
        ASSERT_FALSE(HasFatalFailure());
        verify("after batch");
        ASSERT_FALSE(HasFatalFailure());
        if (++n % 2 == 0) {
            ASSERT_EQ(close_index(1), 0);
            ASSERT_EQ(open_index(1, "rnd.idx"), 0);
            verify("after reopen");
            ASSERT_FALSE(HasFatalFailure());
        }
    }
    // Down to nothing: the empty index stays sound and reads nothing.
    while (!live_.empty()) {
        delete_one();
        ASSERT_FALSE(HasFatalFailure());
    }
    verify("emptied");
    ASSERT_EQ(close_index(1), 0);
    ASSERT_EQ(open_index(1, "rnd.idx"), 0);
    verify("emptied, reopened");
    batch(ops / 2, 100);
    verify("refilled");
}

const Config kConfigs[] = {
    {false, false, false, 40}, {false, false, true, 40}, {false, true, false, 40}, {false, true, true, 40},
    {true, false, false, 40},  {true, false, true, 40},  {true, true, false, 40},  {true, true, true, 40},
    {false, false, false, 3},  {false, true, true, 3},   {true, false, true, 3},   {true, true, false, 3},
};

INSTANTIATE_TEST_SUITE_P(Matrix, RandomBatchTest, testing::ValuesIn(kConfigs), name_of);

}  // namespace
