// Key sets against a brute-force prefix filter over a multi-leaf index of
// fixed-length records, their codes, parked sets and the cost of a step.
#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <unistd.h>

#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/index/idxstate.h"
#include "engine/index/keyform_needs.h"
#include "engine/index/keyset.h"
#include "engine/index/node.h"
#include "tests/engine/index/navfix.h"
#include "zarvo/zarvo.h"

namespace {

using namespace navtest;

constexpr int kAB = 2;  // duplicate-key index on (a, b)

class SetTest : public NavTest {
protected:
    // 400 records: a in 0..19, b in 0..9 (pairs repeat), ids 1..400.
    void fill() {
        make_index(kAB, {{kA, 4, kInt}, {kB, 4, kInt}});
        std::mt19937 rng(5);
        for (uint32_t id = 1; id <= 400; id++) add_record(rec(int32_t(rng() % 20), int32_t(rng() % 10), id));
        ASSERT_GT(GETFIL(kAB, 1), 0);
        ASSERT_EQ(idxtest::check(kAB), "");
        ASSERT_GE(idxtest::fcb_of(kAB)->hdr.ext.levels, 2) << "the index has several leaves";
    }
    // Ids of the entries whose keys begin with the first len bytes of prefix.
    std::vector<uint32_t> expected(const std::string &prefix, size_t len, bool backwards = false,
                                   const std::function<bool(const Rec &)> &reject = nullptr) {
        std::vector<uint32_t> ids;
        for (const Item &it : entries(kAB))
            if (it.key.compare(0, len, prefix, 0, len) == 0 && !(reject && reject(it.rec))) ids.push_back(it.rec.id);
        if (backwards) std::reverse(ids.begin(), ids.end());
        return ids;
    }
    std::vector<uint32_t> forwards(const std::string &target, int32_t len, int *last = nullptr) {
        return walk([&](Rec *r) { return FRSSET(kAB, target.data(), r, len); },
                    [&](Rec *r) { return NXTSET(kAB, r); }, last);
    }
    std::vector<uint32_t> backwards(const std::string &target, int32_t len, int *last = nullptr) {
        return walk([&](Rec *r) { return LSTSET(kAB, target.data(), r, len); },
                    [&](Rec *r) { return PRVSET(kAB, r); }, last);
    }
};

TEST_F(SetTest, SetsReadExactlyTheRecordsOfThePrefixInKeyOrder) {
    fill();
    // Targets in key form (profile bit 1): a key of a record, cut to the
    // significant length.
    struct Case {
        Rec r;
        int32_t len;
    } cases[] = {
        {rec(7, 3, 0), 4},   // every record with a = 7
        {rec(recs_[10].a, recs_[10].b, 0), 8},  // a pair of values that a record has
        {rec(0, 0, 0), 4},   // the first value of a
        {rec(19, 9, 0), 4},  // the last value of a
        {rec(12, 0, 0), 3},  // a prefix inside a segment
        {rec(5, 5, 0), 0},   // the whole index
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "a=" << c.r.a << " b=" << c.r.b << " len=" << c.len);
        std::string target = key_of(kAB, c.r, 1);
        std::vector<uint32_t> want = expected(target, size_t(c.len));
        ASSERT_FALSE(want.empty());
        int last = 0;
        EXPECT_EQ(forwards(target, c.len, &last), want);
        EXPECT_EQ(last, 101);
        EXPECT_EQ(backwards(target, c.len, &last), expected(target, size_t(c.len), true));
        EXPECT_EQ(last, 101);
        EXPECT_EQ(zvGetIsamErrorCode(), 101);
    }
    EXPECT_EQ(forwards(key_of(kAB, rec(0, 0, 0), 1), 0).size(), recs_.size());
}

TEST_F(SetTest, APrefixThatNoKeyHasGives101AndLeavesNoSet) {
    fill();
    Rec r;
    std::string target = key_of(kAB, rec(50, 0, 0), 1);
    EXPECT_EQ(FRSSET(kAB, target.data(), &r, 4), 101);
    EXPECT_EQ(NXTSET(kAB, &r), 118) << "a failed start leaves no current set";
    EXPECT_EQ(LSTSET(kAB, key_of(kAB, rec(-1, 0, 0), 1).data(), &r, 4), 101);
    EXPECT_EQ(PRVSET(kAB, &r), 118);
}

TEST_F(SetTest, TheTargetIsTransformedWhenProfileBit1IsClear) {
    restart_with_profile(32);
    fill();
    // The target is the record field itself: a little-endian integer.
    int32_t a = 7;
    std::string field(reinterpret_cast<const char *>(&a), 4);
    std::vector<uint32_t> want = expected(key_of(kAB, rec(7, 0, 0), 1), 4);
    ASSERT_FALSE(want.empty());
    EXPECT_EQ(forwards(field, 4), want);
    EXPECT_EQ(backwards(field, 4), expected(key_of(kAB, rec(7, 0, 0), 1), 4, true));
}

TEST_F(SetTest, RecordsTheFilterRejectsAreSkippedInBothDirections) {
    fill();
    auto reject = [](const Rec &r) { return r.id % 3 != 0; };
    set_filter("id % 3 == 0");
    std::string target = key_of(kAB, rec(4, 0, 0), 1);
    int last = 0;
    EXPECT_EQ(forwards(target, 4, &last), expected(target, 4, false, reject));
    EXPECT_EQ(last, 101);
    EXPECT_EQ(backwards(target, 4, &last), expected(target, 4, true, reject));
    EXPECT_EQ(last, 101);
    // Nothing in the set passes: the start itself answers 101, never 739.
    set_filter("0");
    Rec r;
    EXPECT_EQ(FRSSET(kAB, target.data(), &r, 4), 101);
    clear_filter();
}

TEST_F(SetTest, TheEndLeavesTheSetOnItsLastRecord) {
    fill();
    std::string target = key_of(kAB, rec(9, 0, 0), 1);
    std::vector<uint32_t> want = expected(target, 4);
    ASSERT_GE(want.size(), 3u);
    int last = 0;
    ASSERT_EQ(forwards(target, 4, &last), want);
    ASSERT_EQ(last, 101);
    Rec r;
    ASSERT_EQ(PRVSET(kAB, &r), 0);
    EXPECT_EQ(r.id, want[want.size() - 2]) << "reading back continues from the last record";
    ASSERT_EQ(NXTSET(kAB, &r), 0);
    EXPECT_EQ(r.id, want.back());
    EXPECT_EQ(NXTSET(kAB, &r), 101);
    EXPECT_EQ(NXTSET(kAB, &r), 101);
    // Backwards the same way.
    ASSERT_EQ(LSTSET(kAB, target.data(), &r, 4), 0);
    for (size_t i = 1; i < want.size(); i++) ASSERT_EQ(PRVSET(kAB, &r), 0);
    EXPECT_EQ(r.id, want.front());
    EXPECT_EQ(PRVSET(kAB, &r), 101);
    ASSERT_EQ(NXTSET(kAB, &r), 0);
    EXPECT_EQ(r.id, want[1]);
}

TEST_F(SetTest, ParkedSetsKeepTheirPositions) {
    fill();
    Rec r;
    std::string t7 = key_of(kAB, rec(7, 0, 0), 1), t11 = key_of(kAB, rec(11, 0, 0), 1);
    std::vector<uint32_t> s7 = expected(t7, 4), s11 = expected(t11, 4);
    ASSERT_GE(s7.size(), 4u);
    ASSERT_GE(s11.size(), 2u);
    ASSERT_EQ(CHGSET(1), 0);
    ASSERT_EQ(FRSSET(kAB, t7.data(), &r, 4), 0);
    ASSERT_EQ(NXTSET(kAB, &r), 0);
    ASSERT_EQ(NXTSET(kAB, &r), 0);
    EXPECT_EQ(r.id, s7[2]);
    // A new number is an empty set.
    ASSERT_EQ(CHGSET(2), 0);
    EXPECT_EQ(NXTSET(kAB, &r), 118);
    ASSERT_EQ(FRSSET(kAB, t11.data(), &r, 4), 0);
    // A number equal to 1 modulo the slot count is another set.
    ASSERT_EQ(CHGSET(1 + zv::kSetSlotsDefault), 0);
    EXPECT_EQ(NXTSET(kAB, &r), 118);
    ASSERT_EQ(LSTSET(kAB, t11.data(), &r, 4), 0);
    EXPECT_EQ(r.id, s11.back());
    // Back to set 1: the exact position.
    ASSERT_EQ(CHGSET(1), 0);
    ASSERT_EQ(NXTSET(kAB, &r), 0);
    EXPECT_EQ(r.id, s7[3]);
    ASSERT_EQ(CHGSET(2), 0);
    ASSERT_EQ(NXTSET(kAB, &r), 0);
    EXPECT_EQ(r.id, s11[1]);
    ASSERT_EQ(CHGSET(1 + zv::kSetSlotsDefault), 0);
    ASSERT_EQ(PRVSET(kAB, &r), 0);
    EXPECT_EQ(r.id, s11[s11.size() - 2]);
    // Freeing the current set leaves none; freeing an unknown one is no error.
    EXPECT_EQ(FRESETN(1 + zv::kSetSlotsDefault), 0);
    EXPECT_EQ(NXTSET(kAB, &r), 118);
    EXPECT_EQ(FRESETN(77), 0);
    ASSERT_EQ(CHGSET(1), 0);
    ASSERT_EQ(NXTSET(kAB, &r), 0);
    EXPECT_EQ(r.id, s7[4 < s7.size() ? 4 : s7.size() - 1]);
    EXPECT_EQ(FRESET(), 0);
    EXPECT_EQ(NXTSET(kAB, &r), 118);
}

TEST_F(SetTest, SetCodes) {
    fill();
    Rec r;
    std::string t = key_of(kAB, rec(3, 0, 0), 1);
    EXPECT_EQ(ALCSET(), 0);
    EXPECT_EQ(ALCSET(), 184);
    EXPECT_EQ(FRSSET(kAB, t.data(), &r, -1), 634);
    EXPECT_EQ(MIDSET(kAB, &r, 4), 100) << "no current record yet";
    EXPECT_EQ(FRSSET(kDat, t.data(), &r, 4), 48);
    EXPECT_EQ(FRSSET(9, t.data(), &r, 4), 26);
    EXPECT_EQ(FRSVSET(kAB, t.data(), &r, 4, nullptr), 633);
    EXPECT_EQ(NXTVSET(kAB, &r, nullptr), 633);
    EXPECT_EQ(zvGetIsamErrorCode(), 633);
}

TEST_F(SetTest, MidsetMakesTheSetOfTheCurrentRecordCurrent) {
    fill();
    std::string t = key_of(kAB, rec(6, 0, 0), 1);
    std::vector<uint32_t> want = expected(t, 4);
    ASSERT_GE(want.size(), 4u);
    Rec r;
    ASSERT_EQ(FRSSET(kAB, t.data(), &r, 4), 0);
    ASSERT_EQ(NXTSET(kAB, &r), 0);
    ASSERT_EQ(NXTSET(kAB, &r), 0);
    ASSERT_EQ(FRESET(), 0);
    ASSERT_EQ(MIDSET(kAB, &r, 4), 0);
    EXPECT_EQ(r.id, want[2]) << "positioned on the current record";
    ASSERT_EQ(NXTSET(kAB, &r), 0);
    EXPECT_EQ(r.id, want[3]);
    ASSERT_EQ(PRVSET(kAB, &r), 0);
    ASSERT_EQ(PRVSET(kAB, &r), 0);
    EXPECT_EQ(r.id, want[1]);
}

TEST_F(SetTest, AnOverlongSignificantLengthReadsAsTheKeyLength) {
    // A unique index on (a, b): an 8-byte key, and an 8-byte target on the heap.
    make_index(3, {{kA, 4, kInt}, {kB, 4, kInt}}, 0);
    for (int32_t i = 0; i < 60; i++) add_record(rec(i / 10, i % 10, uint32_t(i + 1)));
    std::string k = key_of(3, rec(4, 7, 0), 1);
    auto target = std::make_unique<char[]>(8);
    memcpy(target.get(), k.data(), 8);
    auto read = [&](int32_t len) {
        return walk([&](Rec *r) { return FRSSET(3, target.get(), r, len); }, [&](Rec *r) { return NXTSET(3, r); });
    };
    std::vector<uint32_t> eight = read(8);
    EXPECT_EQ(eight, std::vector<uint32_t>{48});
    EXPECT_EQ(read(2000), eight);
    EXPECT_EQ(read(9), eight);
}

TEST_F(SetTest, AStepCostsOneSearchAndOneRecordRead) {
    fill();
    set_filter("");
    std::string t = key_of(kAB, rec(10, 0, 0), 1);
    Rec r;
    ASSERT_EQ(FRSSET(kAB, t.data(), &r, 4), 0);
    const int32_t depth = idxtest::fcb_of(kAB)->hdr.ext.levels;
    const uint64_t allocs = zv::platform_alloc_count();
    long steps = 0;
    uint64_t before = idx_state(zvWNGV).requests;
    long reads = filter_calls();
    while (NXTSET(kAB, &r) == 0) steps++;
    ASSERT_GT(steps, 5);
    EXPECT_EQ(filter_calls() - reads, steps) << "one record read per record";
    EXPECT_LE(idx_state(zvWNGV).requests - before, uint64_t((steps + 1) * (depth + 1))) << "one search per step";
    EXPECT_EQ(zv::platform_alloc_count(), allocs) << "no allocation per step";
    clear_filter();
}

}  // namespace

namespace {

using namespace navtest;

class VarSetTest : public NavTest {};

TEST_F(VarSetTest, VariableLengthRecordsAreReadWithTheirLength) {
    constexpr int kVar = 7, kIx = 8;
    unlink("v.dat");
    ASSERT_EQ(CREDAT(kVar, "v.dat", sizeof(Rec), 4096, 0x0004), 0);
    idxtest::IndexShape shape;
    shape.keylen = 8;
    shape.dup = 1;
    ASSERT_EQ(idxtest::create_index(kIx, "v.idx", shape), 0);
    ASSERT_EQ(zvlfsegput(kIx, -1, 0, 0, kVar), 0);
    ASSERT_EQ(zvlfsegput(kIx, 0, kA, 4, kInt), 0);
    // Records of 32 + id bytes: the tail repeats the id.
    std::vector<std::pair<uint32_t, int32_t>> want;  // id, length, in key order
    for (uint32_t id = 1; id <= 60; id++) {
        std::string body(sizeof(Rec) + id, char(id));
        Rec r = rec(int32_t(id % 3), 0, id);
        memcpy(body.data(), &r, sizeof r);
        zvSETHGH(0);
        uint32_t pos = NEWVREC(kVar, int32_t(body.size()));
        ASSERT_NE(pos, 0u);
        ASSERT_EQ(WRTVREC(kVar, pos, body.data(), int32_t(body.size())), 0);
        std::string k(8, '\0');
        zvSETHGH(0);
        ASSERT_GT(frmkey(kIx, body.data(), k.data(), pos, int32_t(body.size())), 0);
        ASSERT_EQ(ADDKEY(kIx, k.data(), pos, 0), 0);
        if (id % 3 == 1) want.emplace_back(id, int32_t(body.size()));
    }
    std::string target(8, '\0');
    Rec one = rec(1, 0, 0);
    zvSETHGH(0);
    ASSERT_GT(frmkey(kIx, &one, target.data(), 1, sizeof one), 0);
    std::vector<char> buf(200);
    int32_t len = int32_t(buf.size());
    ASSERT_EQ(FRSVSET(kIx, target.data(), buf.data(), 4, &len), 0);
    for (size_t i = 0;; i++) {
        ASSERT_LT(i, want.size());
        Rec r;
        memcpy(&r, buf.data(), sizeof r);
        EXPECT_EQ(r.id, want[i].first);
        EXPECT_EQ(len, want[i].second);
        EXPECT_EQ(buf[size_t(len) - 1], char(r.id));
        len = int32_t(buf.size());
        int rc = NXTVSET(kIx, buf.data(), &len);
        if (rc == 101) {
            EXPECT_EQ(i + 1, want.size());
            break;
        }
        ASSERT_EQ(rc, 0);
    }
    // The current key image of a variable-length record is formed again.
    idxtest::fcb_of(kIx)->keybufs->curstate = 3;
    std::string cur(8, '\0');
    ASSERT_NE(GETCURK(kIx, cur.data(), nullptr), nullptr);
    Rec last = rec(1, 0, want.back().first);
    std::string k(8, '\0');
    zvSETHGH(0);
    ASSERT_GT(frmkey(kIx, &last, k.data(), GETCURP(kVar), sizeof last), 0);
    EXPECT_EQ(cur, k);
    // A buffer too short for the record.
    len = 10;
    EXPECT_EQ(FRSVSET(kIx, target.data(), buf.data(), 4, &len), 153);
    EXPECT_EQ(len, want.front().second) << "the length needed";
}

}  // namespace
