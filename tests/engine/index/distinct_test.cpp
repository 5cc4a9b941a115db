// Distinct-key counts: kept while keys come and go, recounted by a scan,
// stored in the header, and their codes.
#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>

#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/index/keyform_needs.h"
#include "tests/engine/index/navfix.h"
#include "zarvo/zarvo.h"

namespace {

using namespace navtest;

constexpr int kIx = 2;

class DistinctTest : public NavTest {
protected:
    // An 8-byte value and room for the position suffix.
    static std::string key(const char *value) {
        std::string k(value);
        k.resize(8, ' ');
        k.resize(12, '\0');
        return k;
    }
    uint64_t whole() {
        uint32_t lo = zvDISTINCTest(kIx);
        return (uint64_t(uint32_t(zvGETHGH())) << 32) | lo;
    }
};

TEST_F(DistinctTest, KeysAABCHaveThreeDistinctValues) {
    for (int dup : {3, 5}) {
        SCOPED_TRACE(dup);
        idxtest::IndexShape shape;
        shape.keylen = 12;
        shape.dup = dup;
        ASSERT_EQ(idxtest::create_index(kIx, "d.idx", shape), 0);
        uint32_t pos = 100;
        for (const char *v : {"A", "C", "A", "B"}) {
            ASSERT_EQ(idxtest::add(kIx, key(v), pos), 0);
            pos += 100;
        }
        EXPECT_EQ(whole(), 3u) << "kept while the keys were added";
        EXPECT_EQ(zvDISTINCTset(kIx, 4), 3u);
        EXPECT_EQ(whole(), 3u);
        ASSERT_EQ(idxtest::del(kIx, key("A"), 100), 0);
        EXPECT_EQ(whole(), 3u) << "another A is left";
        ASSERT_EQ(idxtest::del(kIx, key("A"), 300), 0);
        EXPECT_EQ(whole(), 2u);
        ASSERT_EQ(idxtest::del(kIx, key("B"), 400), 0);
        ASSERT_EQ(idxtest::del(kIx, key("C"), 200), 0);
        EXPECT_EQ(whole(), 0u) << "an empty index";
        EXPECT_EQ(zvDISTINCTset(kIx, 4), 0u);
        ASSERT_EQ(idxtest::close_index(kIx), 0);
    }
}

TEST_F(DistinctTest, PrefixLevelsCountLeadingSegments) {
    make_index(kIx, {{kA, 4, kInt}, {kB, 4, kInt}}, 3);
    add_record(rec(1, 10, 1));
    add_record(rec(1, 20, 2));
    add_record(rec(2, 20, 3));
    EXPECT_EQ(zvDISTINCTset(kIx, 4), 3u);
    uint32_t e[2][4];
    int32_t levels = -1;
    EXPECT_EQ(zvDISTINCTestXtd(kIx, 2, e, &levels), 3u);
    ASSERT_EQ(levels, 1);
    const uint32_t want[4] = {1, 4, 0, 2};  // segments, length, high, low
    EXPECT_EQ(memcmp(e[0], want, sizeof want), 0);
    EXPECT_EQ(e[1][0] | e[1][1] | e[1][2] | e[1][3], 0u) << "entries beyond the levels stay zero";
    // The kept counts follow new keys: a new value of a, a new pair.
    add_record(rec(3, 5, 4));
    add_record(rec(3, 6, 5));
    add_record(rec(3, 6, 6));
    EXPECT_EQ(zvDISTINCTestXtd(kIx, 1, e, &levels), 5u);
    EXPECT_EQ(e[0][3], 3u);
    uint32_t r[4];
    EXPECT_EQ(zvDISTINCTsetXtd(kIx, 4, 1, r, &levels), 5u);
    EXPECT_EQ(memcmp(r, e[0], sizeof r), 0) << "the recount agrees";
    // A unique index answers its entry count.
    make_index(3, {{kId, 4, 1}}, 0);
    for (uint32_t id = 10; id < 15; id++) add_record(rec(0, 0, id));
    EXPECT_EQ(zvDISTINCTest(3), IDXENT(3));
    EXPECT_EQ(zvDISTINCTest(3), 5u);
}

TEST_F(DistinctTest, RecountAfterRandomChangesMatchesAndIsStored) {
    // Three segments: prefix levels of one and two segments.
    make_index(kIx, {{kA, 4, kInt}, {kB, 4, kInt}, {kText, 8, 0}}, 3);
    std::mt19937 rng(21);
    std::vector<bool> live;
    for (uint32_t id = 1; id <= 600; id++) {
        Rec r = rec(int32_t(rng() % 12), int32_t(rng() % 6), id);
        snprintf(r.text, sizeof r.text, "x%u", id % 5);
        add_record(r);
        live.push_back(true);
    }
    for (int i = 0; i < 250; i++) {
        size_t at = rng() % recs_.size();
        if (!live[at]) continue;
        std::string k = key_of(kIx, recs_[at], pos_[at]);
        ASSERT_EQ(DELCHK(kIx, k.data(), pos_[at]), 0);
        live[at] = false;
    }
    std::set<std::string> whole, one, two;
    for (size_t i = 0; i < recs_.size(); i++) {
        if (!live[i]) continue;
        std::string k = key_of(kIx, recs_[i], pos_[i]);
        whole.insert(k.substr(0, 16));
        one.insert(k.substr(0, 4));
        two.insert(k.substr(0, 8));
    }
    ASSERT_EQ(idxtest::check(kIx), "");
    EXPECT_EQ(zvDISTINCTset(kIx, 4), whole.size());
    uint32_t e[4][4];
    int32_t levels = 0;
    EXPECT_EQ(zvDISTINCTestXtd(kIx, 4, e, &levels), whole.size());
    ASSERT_EQ(levels, 2);
    EXPECT_EQ(e[0][3], one.size());
    EXPECT_EQ(e[1][3], two.size());
    // Stored in the header: the bytes at +280..+359 after a reopen.
    ASSERT_EQ(idxtest::close_index(kIx), 0);
    std::string file = zvtest::read_file("nav2.idx");
    ASSERT_GE(file.size(), 360u);
    auto le = [](uint32_t v) {
        std::string s(4, '\0');
        for (int i = 0; i < 4; i++) s[size_t(i)] = char(v >> (8 * i));
        return s;
    };
    std::string want = le(uint32_t(whole.size())) + le(0) + le(4) + le(2)  // +280 +284 +288 +292
                       + le(1) + le(2) + le(0) + le(0)                    // +296 segments
                       + le(4) + le(8) + le(0) + le(0)                    // +312 bytes
                       + le(uint32_t(one.size())) + le(uint32_t(two.size())) + le(0) + le(0)  // +328
                       + le(0) + le(0) + le(0) + le(0);                   // +344
    EXPECT_EQ(file.substr(280, 80), want);
    ASSERT_EQ(idxtest::open_index(kIx, "nav2.idx"), 0);
    EXPECT_EQ(zvDISTINCTestXtd(kIx, 4, e, &levels), whole.size());
    EXPECT_EQ(levels, 2);
    EXPECT_EQ(e[1][3], two.size());
}

TEST_F(DistinctTest, Codes) {
    make_index(kIx, {{kA, 4, kInt}}, 1);
    add_record(rec(1, 0, 1));
    zvSETHGH(5);
    EXPECT_EQ(zvDISTINCTest(kIx), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 845) << "a duplicate-key index without counts";
    EXPECT_EQ(zvGETHGH(), 0);
    EXPECT_EQ(zvDISTINCTestXtd(kIx, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 845);
    EXPECT_EQ(zvDISTINCTest(kDat), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 48);
    EXPECT_EQ(zvDISTINCTestXtd(kDat, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 48);
    uint32_t e[4];
    EXPECT_EQ(zvDISTINCTsetXtd(kIx, 20, 1, e, nullptr), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 749);
    EXPECT_EQ(zvDISTINCTsetXtd(kIx, 4, -1, e, nullptr), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 749);
    EXPECT_EQ(zvDISTINCTsetXtd(kIx, 4, 1, nullptr, nullptr), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 749);
    EXPECT_EQ(zvDISTINCTestXtd(kIx, 2, nullptr, nullptr), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 749);
    EXPECT_EQ(zvDISTINCTset(kIx, 3), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 446);
}

TEST_F(DistinctTest, ADataFileRecountsEachOfItsIndexes) {
    make_index(kIx, {{kA, 4, kInt}}, 3);
    make_index(3, {{kB, 4, kInt}}, 5);
    make_index(4, {{kA, 4, kInt}}, 1);
    for (uint32_t id = 1; id <= 50; id++) add_record(rec(int32_t(id % 7), int32_t(id % 4), id));
    zvSETHGH(0);
    EXPECT_EQ(zvDISTINCTset(kDat, 4), 3u) << "the indexes processed";
    EXPECT_EQ(zvGetUserErrorCode(), 0);
    EXPECT_EQ(zvDISTINCTest(kIx), 7u);
    EXPECT_EQ(zvDISTINCTest(3), 4u);
    EXPECT_EQ(zvDISTINCTest(4), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 845) << "an index without counting still answers none";
}

TEST_F(DistinctTest, ChangingTheCountingModeKeepsFlagModeAndCountsInStep) {
    make_index(kIx, {{kA, 4, kInt}}, 3);
    for (uint32_t id = 1; id <= 20; id++) add_record(rec(int32_t(id % 5), 0, id));
    EXPECT_EQ(zvDISTINCTset(kIx, 256), 0u);
    EXPECT_EQ(idxtest::fcb_of(kIx)->hdr.base.autodup, 1) << "duplicates stay, counting ends";
    EXPECT_EQ(zvDISTINCTest(kIx), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 845);
    EXPECT_EQ(zvDISTINCTset(kIx, 64), 5u);
    EXPECT_EQ(idxtest::fcb_of(kIx)->hdr.base.autodup, 5);
    EXPECT_EQ(zvDISTINCTest(kIx), 5u);
    EXPECT_EQ(zvDISTINCTset(kIx, 128), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 48) << "a duplicate-key index cannot become unique";
}

// The switches an index definition's distinct-count flag asks for: 24 off,
// 41 on with prefix counts for duplicates (3) or whole counts for a unique
// index (4); the counts are exact right after switching on.
TEST_F(DistinctTest, DefinitionSwitchesTurnCountingOffAndOn) {
    make_index(kIx, {{kA, 4, kInt}}, 1);
    make_index(3, {{kB, 4, kInt}}, 0);
    for (uint32_t id = 1; id <= 30; id++) add_record(rec(int32_t(id % 6), int32_t(id), id));
    EXPECT_EQ(zvDISTINCTsetXtd(kIx, 41, 0, nullptr, nullptr), 6u);
    EXPECT_EQ(idxtest::fcb_of(kIx)->hdr.base.autodup, 3);
    EXPECT_EQ(zvDISTINCTest(kIx), 6u);
    EXPECT_EQ(zvDISTINCTsetXtd(kIx, 41, 0, nullptr, nullptr), 6u) << "on already: a recount";
    EXPECT_EQ(idxtest::fcb_of(kIx)->hdr.base.autodup, 3);
    zvDISTINCTsetXtd(kIx, 24, 0, nullptr, nullptr);
    EXPECT_EQ(zvGetUserErrorCode(), 0);
    EXPECT_EQ(idxtest::fcb_of(kIx)->hdr.base.autodup, 1);
    EXPECT_EQ(zvDISTINCTest(kIx), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 845);

    EXPECT_EQ(zvDISTINCTsetXtd(3, 9, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 48) << "a unique index only with bit 32";
    EXPECT_EQ(idxtest::fcb_of(3)->hdr.base.autodup, 0);
    EXPECT_EQ(zvDISTINCTsetXtd(3, 41, 0, nullptr, nullptr), 30u);
    EXPECT_EQ(idxtest::fcb_of(3)->hdr.base.autodup, 4);
    zvDISTINCTsetXtd(3, 24, 0, nullptr, nullptr);
    EXPECT_EQ(zvGetUserErrorCode(), 0);
    EXPECT_EQ(idxtest::fcb_of(3)->hdr.base.autodup, 0);
}

// Modes 1 and 2 switch counting on where it is off, 1 with prefix levels
// (duplicate flag 3) and 2 with the whole count only (5), and recount where
// it is on, keeping the handling; a unique index takes either only with
// bit 32 (flag 4), else 48. Afterwards the handling, the levels and the
// counts agree. A data file passes the mode to each index that takes it.
TEST_F(DistinctTest, ModesOneAndTwoSwitchCountingOnOrRecount) {
    make_index(kIx, {{kA, 4, kInt}, {kB, 4, kInt}}, 1);
    make_index(3, {{kId, 4, 1}}, 0);
    // 12 distinct pairs (a, b), 4 distinct values of a, 24 ids.
    for (uint32_t id = 1; id <= 24; id++) add_record(rec(int32_t(id % 4), int32_t(id % 3), id));
    struct Step {
        int ix;
        int mode;
        int code;
        int flag;       // duplicate flag left
        uint32_t count; // whole count answered
        int levels;     // prefix levels kept
    } steps[] = {
        {kIx, 2, 0, 5, 12, 0},            // off: on with the whole count
        {kIx, 2 | 8, 0, 5, 12, 0},        // on: a recount
        {kIx, 1, 0, 5, 12, 0},            // on: a recount, the handling kept
        {kIx, 16, 0, 1, 0, 0},            // off
        {kIx, 1, 0, 3, 12, 1},            // off: on with prefix levels
        {kIx, 2, 0, 3, 12, 1},            // on: a recount, the levels kept
        {3, 2, 48, 0, 0, 0},              // unique, without bit 32
        {3, 2 | 32, 0, 4, 24, 0},         // unique: flag 4
        {3, 1, 48, 4, 0, 0},              // counting, still without bit 32
        {3, 2 | 8 | 32, 0, 4, 24, 0},     // a recount
    };
    for (const Step &st : steps) {
        SCOPED_TRACE("index " + std::to_string(st.ix) + " mode " + std::to_string(st.mode));
        EXPECT_EQ(zvDISTINCTset(st.ix, st.mode), st.count);
        EXPECT_EQ(zvGetUserErrorCode(), st.code);
        EXPECT_EQ(idxtest::fcb_of(st.ix)->hdr.base.autodup, st.flag);
        if (st.code || st.flag == 1) continue;
        uint32_t e[4][4];
        int32_t levels = -1;
        EXPECT_EQ(zvDISTINCTestXtd(st.ix, 4, e, &levels), st.count);
        EXPECT_EQ(levels, st.levels);
        if (st.levels) {
            EXPECT_EQ(e[0][3], 4u) << "distinct values of a";
        }
    }
    // The data file: the duplicate-key index takes mode 2, the unique one
    // is passed over without bit 32.
    EXPECT_EQ(zvDISTINCTset(kDat, 2), 1u);
    EXPECT_EQ(zvGetUserErrorCode(), 0);
    EXPECT_EQ(zvDISTINCTset(kDat, 2 | 32), 2u);
    EXPECT_EQ(zvGetUserErrorCode(), 0);
}

}  // namespace

namespace {

class LongPrefixTest : public idxtest::IndexTest {};

TEST_F(LongPrefixTest, PrefixesLongerThan256BytesAreComparedWhole) {
    restart(12, 16);  // 2048-byte nodes hold these long keys
    idxtest::IndexShape shape;
    shape.keylen = 300 + 4 + 4;
    shape.dup = 3;
    shape.sect = 16;
    ASSERT_EQ(idxtest::create_index(2, "long.idx", shape), 0);
    // Two segments: a 300-byte prefix level and a 4-byte tail.
    ASSERT_EQ(zvlfsegput(2, -1, 0, 0, 1), 0);
    ASSERT_EQ(zvlfsegput(2, 0, 0, 300, 0), 0);
    ASSERT_EQ(zvlfsegput(2, 1, 300, 4, 0), 0);
    auto key = [](char at280, char tail) {
        std::string k(308, 'p');
        k[280] = at280;
        k[303] = tail;
        return k;
    };
    // Prefixes: "p..p" twice (equal over 300 bytes), and one differing at byte 281.
    ASSERT_EQ(idxtest::add(2, key('p', '1'), 10), 0);
    ASSERT_EQ(idxtest::add(2, key('p', '2'), 20), 0);
    ASSERT_EQ(idxtest::add(2, key('q', '1'), 30), 0);
    EXPECT_EQ(zvDISTINCTset(2, 4), 3u);
    uint32_t e[4];
    int32_t levels = 0;
    EXPECT_EQ(zvDISTINCTestXtd(2, 1, e, &levels), 3u);
    ASSERT_EQ(levels, 1);
    EXPECT_EQ(e[1], 300u);
    EXPECT_EQ(e[3], 2u) << "two distinct 300-byte prefixes";
    // Kept counts measure long prefixes whole too.
    ASSERT_EQ(idxtest::add(2, key('p', '3'), 40), 0);
    EXPECT_EQ(zvDISTINCTestXtd(2, 1, e, &levels), 4u);
    EXPECT_EQ(e[3], 2u);
    ASSERT_EQ(idxtest::add(2, key('r', '1'), 50), 0);
    EXPECT_EQ(zvDISTINCTestXtd(2, 1, e, &levels), 5u);
    EXPECT_EQ(e[3], 3u);
    ASSERT_EQ(idxtest::del(2, key('p', '2'), 20), 0);
    EXPECT_EQ(zvDISTINCTestXtd(2, 1, e, &levels), 4u);
    EXPECT_EQ(e[3], 3u);
}

}  // namespace
