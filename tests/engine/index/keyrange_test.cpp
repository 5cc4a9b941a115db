// Key ranges against a brute-force filter: every operator on an ascending
// and a descending integer segment, groups, later two-interval groups, the
// definition errors and the cost of a step.
#include <algorithm>
#include <cstring>
#include <random>

#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "tests/engine/index/navfix.h"
#include "zarvo/zarvo.h"

namespace {

using namespace navtest;

constexpr int kUp = 2;    // duplicate-key index on a, ascending
constexpr int kDown = 3;  // the same, descending
constexpr int kAB = 4;    // duplicate-key index on (a, b)
constexpr int kMixed = 5; // a ascending, b descending
constexpr int kUniq = 6;  // unique index on id

using Pred = std::function<bool(int32_t v, int32_t lo, int32_t hi)>;

struct OpCase {
    uint32_t op;
    Pred in;
};

const OpCase kOps[] = {
    {193, [](int32_t v, int32_t l, int32_t) { return v == l; }},
    {130, [](int32_t v, int32_t l, int32_t) { return v > l; }},
    {195, [](int32_t v, int32_t l, int32_t) { return v >= l; }},
    {196, [](int32_t v, int32_t l, int32_t) { return v <= l; }},
    {69, [](int32_t v, int32_t l, int32_t) { return v < l; }},
    {38, [](int32_t v, int32_t l, int32_t) { return v != l; }},
    {199, [](int32_t v, int32_t l, int32_t h) { return v >= l && v <= h; }},
    {72, [](int32_t v, int32_t l, int32_t h) { return v >= l && v < h; }},
    {137, [](int32_t v, int32_t l, int32_t h) { return v > l && v <= h; }},
    {10, [](int32_t v, int32_t l, int32_t h) { return v > l && v < h; }},
    {43, [](int32_t v, int32_t l, int32_t h) { return v < l || v > h; }},
};

class RangeTest : public NavTest {
protected:
    // Values in record-field form: profile bit 1 clear.
    void SetUp() override {
        NavTest::SetUp();
        restart_with_profile(32);
    }
    void fill(int n = 300) {
        make_index(kUp, {{kA, 4, kInt}});
        make_index(kDown, {{kA, 4, kInt | kDesc}});
        make_index(kAB, {{kA, 4, kInt}, {kB, 4, kInt}});
        make_index(kMixed, {{kA, 4, kInt}, {kB, 4, kInt | kDesc}});
        make_index(kUniq, {{kId, 4, 1}}, 0);
        std::mt19937 rng(11);
        for (int i = 0; i < n; i++)
            add_record(rec(int32_t(rng() % 41) - 5, int32_t(rng() % 12), uint32_t(i + 1)));
        for (int ix : {kUp, kDown, kAB}) ASSERT_EQ(idxtest::check(ix), "");
    }
    std::vector<uint32_t> expect(int ix, const std::function<bool(const Rec &)> &in, bool backwards = false) {
        std::vector<uint32_t> ids;
        for (const Item &it : entries(ix))
            if (in(it.rec)) ids.push_back(it.rec.id);
        if (backwards) std::reverse(ids.begin(), ids.end());
        return ids;
    }
    std::vector<uint32_t> forwards(int ix, int *last = nullptr) {
        return walk([&](Rec *r) { return FRSRNG(ix, r); }, [&](Rec *r) { return NXTRNG(ix, r); }, last);
    }
    std::vector<uint32_t> backwards(int ix, int *last = nullptr) {
        return walk([&](Rec *r) { return LSTRNG(ix, r); }, [&](Rec *r) { return PRVRNG(ix, r); }, last);
    }
    // Checks both directions of index ix against the filter.
    void check_range(int ix, const std::function<bool(const Rec &)> &in) {
        ASSERT_FALSE(expect(ix, in).empty()) << "a range with records";
        int last = 0;
        EXPECT_EQ(forwards(ix, &last), expect(ix, in));
        EXPECT_EQ(last, 101);
        EXPECT_EQ(backwards(ix, &last), expect(ix, in, true));
        EXPECT_EQ(last, 101);
    }
};

TEST_F(RangeTest, EveryOperatorOnAnAscendingAndADescendingSegment) {
    fill();
    const int32_t lo = 10, hi = 20;
    for (int ix : {kUp, kDown})
        for (const OpCase &c : kOps) {
            SCOPED_TRACE(testing::Message() << "index " << ix << " operator " << c.op);
            uint32_t ops[1] = {c.op};
            ASSERT_EQ(ALCRNG(ix, 1, &lo, &hi, ops), 0);
            check_range(ix, [&](const Rec &r) { return c.in(r.a, lo, hi); });
        }
}

TEST_F(RangeTest, OutsideKeepsFiveAndTwentyFiveOnly) {
    make_index(kUp, {{kA, 4, kInt}});
    for (int32_t v : {25, 15, 5, 20, 10}) add_record(rec(v, 0, uint32_t(v)));
    const int32_t lo = 10, hi = 20;
    uint32_t ops[1] = {43};
    ASSERT_EQ(ALCRNG(kUp, 1, &lo, &hi, ops), 0);
    EXPECT_EQ(forwards(kUp), (std::vector<uint32_t>{5, 25}));
    EXPECT_EQ(backwards(kUp), (std::vector<uint32_t>{25, 5}));
    ops[0] = 38;
    ASSERT_EQ(ALCRNG(kUp, 1, &lo, nullptr, ops), 0);
    EXPECT_EQ(forwards(kUp), (std::vector<uint32_t>{5, 15, 20, 25})) << "the equal key is skipped";
    EXPECT_EQ(backwards(kUp), (std::vector<uint32_t>{25, 20, 15, 5}));
}

TEST_F(RangeTest, TwoSegmentRangesMatchTheFilter) {
    fill();
    struct Case {
        uint32_t op[2];
        int32_t lo[2], hi[2];
        std::function<bool(const Rec &)> in;
    } cases[] = {
        // a equal, then b in each way: the second group is a later one.
        {{193, 38}, {3, 5}, {0, 0}, [](const Rec &r) { return r.a == 3 && r.b != 5; }},
        {{193, 43}, {7, 3}, {7, 8}, [](const Rec &r) { return r.a == 7 && (r.b < 3 || r.b > 8); }},
        {{193, 199}, {7, 3}, {7, 8}, [](const Rec &r) { return r.a == 7 && r.b >= 3 && r.b <= 8; }},
        // a between: b is tested entry by entry.
        {{199, 38}, {2, 6}, {4, 0}, [](const Rec &r) { return r.a >= 2 && r.a <= 4 && r.b != 6; }},
        {{10, 43}, {2, 3}, {9, 9}, [](const Rec &r) { return r.a > 2 && r.a < 9 && (r.b < 3 || r.b > 9); }},
        {{195, 69}, {30, 4}, {0, 0}, [](const Rec &r) { return r.a >= 30 && r.b < 4; }},
        // a outside, b greater: a two-interval first group.
        {{43, 130}, {0, 9}, {30, 0}, [](const Rec &r) { return (r.a < 0 || r.a > 30) && r.b > 9; }},
        {{38, 196}, {12, 2}, {0, 0}, [](const Rec &r) { return r.a != 12 && r.b <= 2; }},
    };
    for (int ix : {kAB, kMixed})
        for (const Case &c : cases) {
            SCOPED_TRACE(testing::Message() << "index " << ix << " operators " << c.op[0] << ", " << c.op[1]);
            ASSERT_EQ(ALCRNG(ix, 2, c.lo, c.hi, c.op), 0);
            check_range(ix, c.in);
        }
}

TEST_F(RangeTest, AGroupComparesItsSegmentsAsOneString) {
    fill();
    const int32_t lo[2] = {1, 5}, hi[2] = {4, 3};
    uint32_t ops[2] = {0x200 | 199, 0x400 | 199};
    ASSERT_EQ(ALCRNG(kAB, 2, lo, hi, ops), 0);
    auto in = [](const Rec &r) {
        auto v = std::make_pair(r.a, r.b);
        return v >= std::make_pair(1, 5) && v <= std::make_pair(4, 3);
    };
    check_range(kAB, in);
    // Compared segment by segment the range would be much smaller.
    EXPECT_NE(expect(kAB, in), expect(kAB, [](const Rec &r) { return r.a >= 1 && r.a <= 4 && r.b >= 5 && r.b <= 3; }));
}

TEST_F(RangeTest, EqualityOnEverySegmentOfAUniqueIndexReadsOneRecord) {
    fill();
    uint32_t id = 123;
    uint32_t ops[1] = {193};
    ASSERT_EQ(ALCRNG(kUniq, 1, &id, nullptr, ops), 0);
    Rec r;
    ASSERT_EQ(FRSRNG(kUniq, &r), 0);
    EXPECT_EQ(r.id, 123u);
    EXPECT_EQ(NXTRNG(kUniq, &r), 101);
    ASSERT_EQ(LSTRNG(kUniq, &r), 0);
    EXPECT_EQ(r.id, 123u);
    EXPECT_EQ(PRVRNG(kUniq, &r), 101);
    id = 999;
    ASSERT_EQ(ALCRNG(kUniq, 1, &id, nullptr, ops), 0);
    EXPECT_EQ(FRSRNG(kUniq, &r), 101);
}

TEST_F(RangeTest, DefinitionErrorsAsATable) {
    fill(40);
    const int32_t v[2] = {1, 2};
    struct Case {
        int ix;
        int32_t n;
        std::vector<uint32_t> ops;
        bool upper;
        int code, sub;
    } cases[] = {
        {kAB, 0, {199}, true, 1032, 1},
        {kAB, 1, {0x200 | 0x400 | 199}, true, 1032, 2},
        {kAB, 2, {0x200 | 199, 0x200 | 199}, true, 1032, 3},
        {kAB, 2, {0x200 | 199, 0x400 | 195}, true, 1032, 4},
        {kMixed, 2, {0x200 | 199, 0x400 | 199}, true, 1032, 5},
        {kAB, 1, {0x400 | 193}, true, 1032, 6},
        {kAB, 1, {199}, false, 1032, 7},
        {kAB, 1, {12}, true, 1032, 7},
        {kAB, 1, {0x200 | 199}, true, 1032, 8},
        {kAB, 1, {0x800 | 193}, true, 1032, 9},
        {kAB, 1, {0x10 | 193}, true, 1032, 9},
        {kAB, 1, {1}, true, 446, -1},
        {kAB, 3, {193, 193, 193}, true, 608, -1},
        {kDat, 1, {193}, true, 48, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "operators " << c.ops[0] << " count " << c.n);
        zvWNGV->sysiocod = 0;
        EXPECT_EQ(ALCRNG(c.ix, c.n, v, c.upper ? v : nullptr, c.ops.data()), c.code);
        EXPECT_EQ(zvGetIsamErrorCode(), c.code);
        if (c.sub > 0) {
            EXPECT_EQ(zvWNGV->sysiocod, c.sub);
        }
    }
    // An index without a data file in the key map.
    idxtest::IndexShape shape;
    ASSERT_EQ(idxtest::create_index(9, "lone.idx", shape), 0);
    uint32_t eq = 193;
    EXPECT_EQ(ALCRNG(9, 1, v, nullptr, &eq), 614);
    Rec r;
    EXPECT_EQ(FRSRNG(kAB, &r), 762) << "no range defined";
    ASSERT_EQ(ALCRNG(kAB, 1, v, nullptr, &eq), 0);
    EXPECT_EQ(NXTRNG(kAB, &r), 764) << "next without a position";
    EXPECT_EQ(PRVRNG(kAB, &r), 764);
    EXPECT_EQ(NXTVRNG(kAB, &r, nullptr), 633);
    EXPECT_EQ(FRERNG(kAB), 0);
    EXPECT_EQ(FRSRNG(kAB, &r), 762);
}

TEST_F(RangeTest, AFailedDefinitionKeepsThePreviousRange) {
    fill();
    const int32_t lo = 3, hi = 8;
    uint32_t ops[1] = {199};
    ASSERT_EQ(ALCRNG(kUp, 1, &lo, &hi, ops), 0);
    std::vector<uint32_t> before = forwards(kUp);
    ASSERT_FALSE(before.empty());
    uint32_t bad[1] = {0x200 | 199};
    EXPECT_EQ(ALCRNG(kUp, 1, &lo, &hi, bad), 1032);
    uint32_t unknown[1] = {1};
    EXPECT_EQ(ALCRNG(kUp, 1, &lo, &hi, unknown), 446);
    EXPECT_EQ(forwards(kUp), before);
}

TEST_F(RangeTest, TheCallersOperatorsAreOnlyRead) {
    fill();
    const int32_t lo = 4, hi = 9;
    for (uint32_t op : {72u, 69u, 195u, 199u}) {
        SCOPED_TRACE(op);
        uint32_t ops[1] = {0x100 | op};
        uint32_t copy[1] = {ops[0]};
        ASSERT_EQ(ALCRNG(kDown, 1, &lo, &hi, ops), 0);
        EXPECT_EQ(memcmp(ops, copy, sizeof ops), 0);
        const OpCase *c = std::find_if(std::begin(kOps), std::end(kOps), [&](const OpCase &x) { return x.op == op; });
        check_range(kDown, [&](const Rec &r) { return c->in(r.a, lo, hi); });
        // Defined again from the same array: the same range.
        ASSERT_EQ(ALCRNG(kDown, 1, &lo, &hi, ops), 0);
        check_range(kDown, [&](const Rec &r) { return c->in(r.a, lo, hi); });
    }
}

TEST_F(RangeTest, RejectedRecordsArePassedOverAndPositionsCanBeAsked) {
    fill();
    const int32_t lo = 0, hi = 12;
    uint32_t ops[1] = {199};
    ASSERT_EQ(ALCRNG(kUp, 1, &lo, &hi, ops), 0);
    auto reject = [](const Rec &r) { return r.id % 4 == 1; };
    set_filter("id % 4 != 1");
    check_range(kUp, [&](const Rec &r) { return r.a >= lo && r.a <= hi && !reject(r); });
    clear_filter();
    uint32_t pos[2] = {9, 9};
    ASSERT_EQ(zvdoRNG(kUp, pos, nullptr, 17 | 32), 0);
    std::vector<Item> all = entries(kUp);
    auto first = std::find_if(all.begin(), all.end(), [&](const Item &it) { return it.rec.a >= lo; });
    EXPECT_EQ(pos[0], 0u);
    EXPECT_EQ(pos[1], first->pos);
}

TEST_F(RangeTest, AStepComparesWithoutAllocatingAndReadsOnlyRecordsInside) {
    fill();
    const int32_t lo[2] = {0, 3}, hi[2] = {30, 7};
    uint32_t ops[2] = {199, 199};
    ASSERT_EQ(ALCRNG(kAB, 2, lo, hi, ops), 0);
    set_filter("");
    Rec r;
    ASSERT_EQ(FRSRNG(kAB, &r), 0);
    const uint64_t allocs = zv::platform_alloc_count();
    long reads = filter_calls(), got = 1;
    while (NXTRNG(kAB, &r) == 0) got++;
    EXPECT_EQ(got, long(expect(kAB, [&](const Rec &x) {
                            return x.a >= 0 && x.a <= 30 && x.b >= 3 && x.b <= 7;
                        }).size()));
    EXPECT_EQ(filter_calls() - reads, got - 1) << "a record is read only when its key is inside";
    EXPECT_EQ(zv::platform_alloc_count(), allocs);
    clear_filter();
}

}  // namespace

namespace {

using namespace navtest;

class FloatRangeTest : public NavTest {
protected:
    void SetUp() override {
        NavTest::SetUp();
        restart_with_profile(32);
    }
};

// A double in the text field: ranges on a float segment, ascending and
// descending, with the float fill standing for lowest and highest.
TEST_F(FloatRangeTest, FloatSegmentsOrderRangesByValue) {
    constexpr int kUpF = 2, kDownF = 3;
    make_index(kUpF, {{kText, 8, 9}});
    make_index(kDownF, {{kText, 8, 9 | kDesc}});
    const double values[] = {-1e300, -250.5, -2.5, -1.0, -0.0, 0.0, 0.5, 1.0, 2.5, 3.0, 99.75, 1e300};
    uint32_t id = 1;
    for (double v : values)
        for (int copy = 0; copy < 3; copy++) {
            Rec r = rec(0, 0, id++);
            memcpy(r.text, &v, 8);
            add_record(r);
        }
    auto value = [](const Rec &r) {
        double v;
        memcpy(&v, r.text, 8);
        return v;
    };
    const double lo = -2.5, hi = 2.5;
    for (int ix : {kUpF, kDownF})
        for (const OpCase &c : kOps) {
            SCOPED_TRACE(testing::Message() << "index " << ix << " operator " << c.op);
            uint32_t ops[1] = {c.op};
            ASSERT_EQ(ALCRNG(ix, 1, &lo, &hi, ops), 0);
            auto in = [&](const Rec &r) {
                double v = value(r);
                switch (c.op) {
                case 193: return v == lo;
                case 130: return v > lo;
                case 195: return v >= lo;
                case 196: return v <= lo;
                case 69: return v < lo;
                case 38: return v != lo;
                case 199: return v >= lo && v <= hi;
                case 72: return v >= lo && v < hi;
                case 137: return v > lo && v <= hi;
                case 10: return v > lo && v < hi;
                default: return v < lo || v > hi;
                }
            };
            std::vector<uint32_t> want;
            for (const Item &it : entries(ix))
                if (in(it.rec)) want.push_back(it.rec.id);
            ASSERT_FALSE(want.empty());
            EXPECT_EQ(walk([&](Rec *r) { return FRSRNG(ix, r); }, [&](Rec *r) { return NXTRNG(ix, r); }), want);
            std::reverse(want.begin(), want.end());
            EXPECT_EQ(walk([&](Rec *r) { return LSTRNG(ix, r); }, [&](Rec *r) { return PRVRNG(ix, r); }), want);
        }
}

}  // namespace
