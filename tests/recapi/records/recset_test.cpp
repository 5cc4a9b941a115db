// Key-prefix sets and ranges of record handles: the records they let
// through in both directions against the model, their limits and refusals,
// and the full order back after they end.
#include <algorithm>
#include <string>

#include "tests/recapi/records/navfix.h"

namespace rectest {
namespace {

class SetTest : public CityTest {
protected:
    void SetUp() override {
        CityTest::SetUp();
        make_cities();
        // A city sharing its first three letters with another.
        ASSERT_EQ(add_city(1001, "Bassersdorf"), 0);
    }

    // The model's ids in city order whose city passes.
    template <typename Pass>
    std::vector<int32_t> cities_where(Pass pass) const {
        std::vector<int32_t> ids;
        for (int32_t id : by_city()) {
            const auto row = std::find_if(rows_.begin(), rows_.end(), [&](const CityRow &c) { return c.id == id; });
            if (pass(row->city)) ids.push_back(id);
        }
        return ids;
    }
    static std::vector<int32_t> reversed(std::vector<int32_t> ids) {
        std::reverse(ids.begin(), ids.end());
        return ids;
    }
    static std::vector<int32_t> ids_from(int32_t first, int32_t last) {
        std::vector<int32_t> ids;
        for (int32_t id = first; id <= last; id++) ids.push_back(id);
        return ids;
    }
    // The key-form key of an id on "pk".
    std::vector<unsigned char> pk_key(int32_t id) {
        tagZVDBRECORD *k = record();
        std::vector<unsigned char> key(4);
        int32_t length = int32_t(key.size());
        EXPECT_EQ(zvdbSetFieldAsSigned(k, kId, id), 0);
        EXPECT_EQ(zvdbSetDefaultIndex(k, kPk), 0);
        EXPECT_EQ(zvdbBuildTargetKey(k, 0, key.data(), &length), 0);
        return key;
    }
};

TEST_F(SetTest, APrefixSetWalksItsCitiesBothWays) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetDefaultIndex(r, kByCity), 0);
    ASSERT_EQ(zvdbSetFieldAsString(r, kCity, "Basel"), 0);
    struct Case {
        int32_t prefix;
        std::vector<int32_t> ids;
    } cases[] = {{3, cities_where([](const std::string &c) { return c.rfind("Bas", 0) == 0; })},
                 {5, cities_where([](const std::string &c) { return c == "Basel"; })},
                 {0, by_city()}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.prefix);
        ASSERT_EQ(zvdbRecordSetOn(r, c.prefix), 0);
        EXPECT_EQ(zvdbIsRecordSetOn(r), 1);
        int end = 0;
        EXPECT_EQ(walk(r, true, &end), c.ids);
        EXPECT_EQ(end, ZV_INOT_ERR);
        EXPECT_EQ(walk(r, false, &end), reversed(c.ids));
        // The walk changed the image: the set keeps the key it started from.
        ASSERT_EQ(zvdbSetFieldAsString(r, kCity, "Basel"), 0);
    }
    // A record outside the set is not read into it.
    tagZVDBRECORD *other = record();
    ASSERT_EQ(zvdbSetFieldAsSigned(other, kId, 2), 0);
    ASSERT_EQ(zvdbFindRecord(other, 0), 0);
    ASSERT_NE(city_of(other).substr(0, 3), "Bas");
    uint64_t pos = 0;
    ASSERT_EQ(zvdbGetRecordPos(other, &pos), 0);
    ASSERT_EQ(zvdbRecordSetOn(r, 3), 0);
    EXPECT_EQ(zvdbSeekRecord(r, pos), 118);

    ASSERT_EQ(zvdbRecordSetOff(r), 0);
    EXPECT_EQ(zvdbIsRecordSetOn(r), 0);
    EXPECT_EQ(walk(r, true), by_city());
}

TEST_F(SetTest, PrefixLimitsAndOrdersWithoutKeys) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetDefaultIndex(r, kByCity), 0);
    ASSERT_EQ(zvdbGetKeylen(r), 16);
    EXPECT_EQ(zvdbRecordSetOn(r, 16), 0);
    const struct {
        int32_t index, prefix, code;
    } refusals[] = {{kByCity, 17, ZVDB_NAME_TOO_LONG},
                    {kByCity, -1, ZVDB_BAD_ARGUMENT},
                    {ZVDB_INDEX_PHYSICAL, 3, 80},
                    {ZVDB_INDEX_FULLTEXT, 3, ZVDB_NO_INDEX_USE}};
    for (const auto &c : refusals) {
        ASSERT_EQ(zvdbSetDefaultIndex(r, c.index), 0);
        mark();
        EXPECT_EQ(zvdbRecordSetOn(r, c.prefix), c.code) << c.index << " " << c.prefix;
        EXPECT_EQ(last(), c.code);
        EXPECT_EQ(zvdbIsRecordSetOn(r), 0);
    }
    EXPECT_EQ(zvdbRecordSetOn(nullptr, 3), ZVDB_NO_RECORD);
    // An index without a key length has no prefix to keep, as finds have
    // no key to search.
    ASSERT_EQ(zvdbSetDefaultIndex(r, kByCity), 0);
    auto *ix = static_cast<tagZVDBINDEX *>(zvdbGetIndex(table_, kByCity));
    ASSERT_NE(ix, nullptr);
    const int32_t keylen = ix->keylen;
    ix->keylen = 0;
    EXPECT_EQ(zvdbRecordSetOn(r, 0), ZVDB_NO_INDEX_USE);
    EXPECT_EQ(zvdbSetBatch(r, ZVBATCH_BY_PREFIX, 0, 0), ZVDB_NO_INDEX_USE);
    EXPECT_EQ(zvdbIsBatchActive(r), 0);
    ix->keylen = keylen;
}

TEST_F(SetTest, RangesOnTheDefaultIndex) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetDefaultIndex(r, kPk), 0);
    const std::vector<unsigned char> low = pk_key(100), high = pk_key(200);
    const struct {
        int32_t op;
        std::vector<int32_t> ids;
    } cases[] = {{199, ids_from(100, 200)}, {72, ids_from(100, 199)}, {10, ids_from(101, 199)}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.op);
        const int32_t ops[1] = {c.op};
        ASSERT_EQ(zvdbRecordRangeOn(r, 1, low.data(), high.data(), ops), 0);
        EXPECT_EQ(zvdbIsRecordRangeOn(r), 1);
        int end = 0;
        EXPECT_EQ(walk(r, true, &end), c.ids);
        EXPECT_EQ(end, ZV_INOT_ERR);
        EXPECT_EQ(walk(r, false), reversed(c.ids));
    }
    // Another record of the table reads the whole order meanwhile.
    tagZVDBRECORD *other = record();
    ASSERT_EQ(zvdbSetDefaultIndex(other, kPk), 0);
    EXPECT_EQ(walk(other, true).size(), 1001u);

    const int32_t ops[1] = {199};
    EXPECT_EQ(zvdbRecordRangeOn(r, 0, low.data(), high.data(), ops), ZVDB_BAD_ARGUMENT);
    EXPECT_EQ(zvdbRecordRangeOn(r, 1, nullptr, high.data(), ops), ZVDB_BAD_KIND);
    EXPECT_EQ(zvdbRecordRangeOn(r, 1, low.data(), high.data(), nullptr), ZVDB_BAD_KIND);
    ASSERT_EQ(zvdbRecordRangeOff(r), 0);
    EXPECT_EQ(zvdbIsRecordRangeOn(r), 0);
    EXPECT_EQ(walk(r, true), by_id());
}

TEST_F(CityTest, RangesAndSetsNeedAnIndex) {
    create_table("bare", {{"id", ZV_INT4, 0}, {"city", ZV_FSTRING, 12}}, 32 | 64);
    tagZVDBRECORD *r = record();
    const unsigned char key[4] = {};
    const int32_t ops[1] = {199};
    EXPECT_EQ(zvdbRecordRangeOn(r, 1, key, key, ops), ZVDB_NO_INDEX_USE);
    EXPECT_EQ(zvdbRecordSetOn(r, 1), ZVDB_NO_INDEX_USE);
}

}  // namespace
}  // namespace rectest
