// The other orders a record reads in (an index range, a key-prefix set,
// made active here by hand as their own calls will), jumps that cannot
// return, positions set without reading, span estimates, and the count of
// a table whose indexes leave null keys out.
#include <string>

#include "tests/recapi/records/navfix.h"

namespace rectest {
namespace {

class OrderTest : public CityTest {
protected:
    void SetUp() override {
        CityTest::SetUp();
        make_cities(0, 200);
    }
    // The key-form target of an id on "pk", built by a record of its own.
    std::string pk_key(int32_t id) {
        tagZVDBRECORD *k = record();
        unsigned char key[4];
        int32_t length = sizeof key;
        EXPECT_EQ(zvdbSetFieldAsSigned(k, kId, id), 0);
        EXPECT_EQ(zvdbBuildTargetKey(k, 0, key, &length), 0);
        return std::string(reinterpret_cast<char *>(key), 4);
    }
};

TEST_F(OrderTest, ARangeBoundsMovesAndJumps) {
    tagZVDBRECORD *r = record();
    const std::string lo = pk_key(10), hi = pk_key(20);
    const int keyno = zvdbGetIdxnoByNumber(table_, kPk);
    ASSERT_EQ(zvdbSwitchContext(r), 0);
    const uint32_t between[1] = {199};
    ASSERT_EQ(ALCRNG(keyno, 1, lo.data(), hi.data(), between), 0);
    r->rangeon = 1;
    r->rangekey = keyno;
    std::vector<int32_t> ids;
    for (int32_t id = 10; id <= 20; id++) ids.push_back(id);
    EXPECT_EQ(walk(r, true), ids);
    EXPECT_EQ(walk(r, false), std::vector<int32_t>(ids.rbegin(), ids.rend()));
    // Jumps stay in the range: by single moves, never through the index.
    ASSERT_EQ(zvdbFirstRecord(r), 0);
    ASSERT_EQ(zvdbJumpToRecord(r, 3), 0);
    EXPECT_EQ(id_of(r), 13);
    EXPECT_EQ(zvdbJumpToRecord(r, 8), ZV_INOT_ERR);
    EXPECT_EQ(id_of(r), 13);
    ASSERT_EQ(zvdbJumpToRecord(r, -3), 0);
    EXPECT_EQ(id_of(r), 10);
    r->rangeon = 0;
    ASSERT_EQ(FRERNG(keyno), 0);
    ASSERT_EQ(zvdbJumpToRecord(r, 30), 0);
    EXPECT_EQ(id_of(r), 40);
}

TEST_F(OrderTest, AKeyPrefixSetBoundsMovesAndReadsByPosition) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetDefaultIndex(r, kByCity), 0);
    ASSERT_EQ(zvdbSetFieldAsString(r, kCity, "Glarus"), 0);
    unsigned char key[16];
    int32_t length = sizeof key;
    ASSERT_EQ(zvdbBuildTargetKey(r, 0, key, &length), 0);
    std::vector<int32_t> glarus;
    for (int32_t id : by_city()) {
        if (city_for(id) == "Glarus") glarus.push_back(id);
    }
    // Another city's record, read while the set is off.
    ASSERT_EQ(zvdbSetFieldAsString(r, kCity, "Horw"), 0);
    ASSERT_EQ(zvdbFindRecord(r, 0), 0);
    uint64_t horw = 0;
    ASSERT_EQ(zvdbGetRecordPos(r, &horw), 0);
    r->recsetprefix = key;
    r->recsetlen = 6;
    r->recseton = 1;
    EXPECT_EQ(walk(r, true), glarus);
    EXPECT_EQ(walk(r, false), std::vector<int32_t>(glarus.rbegin(), glarus.rend()));
    // A record of the set read by position restarts the set at it; one of
    // another city is refused.
    ASSERT_EQ(zvdbFirstRecord(r), 0);
    ASSERT_EQ(zvdbNextRecord(r), 0);
    uint64_t second = 0;
    ASSERT_EQ(zvdbGetRecordPos(r, &second), 0);
    ASSERT_EQ(zvdbLastRecord(r), 0);
    ASSERT_EQ(zvdbSeekRecord(r, second), 0);
    ASSERT_EQ(zvdbNextRecord(r), 0);
    EXPECT_EQ(id_of(r), glarus[2]);
    EXPECT_EQ(zvdbSeekRecord(r, horw), 118);
    r->recseton = 0;
    r->recsetprefix = nullptr;
}

TEST_F(OrderTest, AJumpThatCannotReturnSays4025) {
    tagZVDBRECORD *r = record();
    tagZVDBRECORD *other = record();
    ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, 30), 0);
    ASSERT_EQ(zvdbFindRecord(r, 0), 0);
    ASSERT_EQ(zvdbSetFieldAsSigned(other, kId, 30), 0);
    ASSERT_EQ(zvdbFindRecord(other, 0), 0);
    ASSERT_EQ(zvdbDeleteRecord(other), 0);
    mark();
    EXPECT_EQ(zvdbJumpToRecord(r, -100), ZVDB_BAD_MODE);
    EXPECT_EQ(last(), ZVDB_BAD_MODE);
}

TEST_F(OrderTest, PositionsSetWithoutReading) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, 5), 0);
    ASSERT_EQ(zvdbFindRecord(r, 0), 0);
    uint64_t five = 0, pos = 0;
    ASSERT_EQ(zvdbGetRecordPos(r, &five), 0);
    ASSERT_EQ(zvdbLastRecord(r), 0);
    // Stored only: the next read by position reads it.
    ASSERT_EQ(zvdbSetRecordOffset(r, five), 0);
    ASSERT_EQ(zvdbGetRecordPos(r, &pos), 0);
    EXPECT_EQ(pos, five);
    EXPECT_EQ(id_of(r), 200);
    ASSERT_EQ(zvdbReadRecord(r), 0);
    EXPECT_EQ(id_of(r), 5);
    // Made current with the record's image: the next record follows it.
    ASSERT_EQ(zvdbLastRecord(r), 0);
    ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, 5), 0);
    ASSERT_EQ(zvdbSetRecordPos(r, five), 0);
    ASSERT_EQ(zvdbNextRecord(r), 0);
    EXPECT_EQ(id_of(r), 6);
    EXPECT_EQ(zvdbGetRecordPos(r, nullptr), ZVDB_NULL_ARGUMENT);
}

TEST_F(OrderTest, SpanEstimates) {
    tagZVDBRECORD *r = record();
    const std::string a = pk_key(50), b = pk_key(150);
    const int64_t n = zvdbEstimateSpan(r, a.data(), b.data());
    EXPECT_GT(n, 50);
    EXPECT_LT(n, 150);
    ASSERT_EQ(zvdbSetDefaultIndex(r, ZVDB_INDEX_PHYSICAL), 0);
    mark();
    EXPECT_EQ(zvdbEstimateSpan(r, a.data(), b.data()), 0);
    EXPECT_EQ(last(), 80);
}

// An index that leaves null keys out counts fewer records than the table
// holds: the count passes it over.
TEST_F(CityTest, CountPassesOverAnIndexWithoutNullKeys) {
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    ZVHANDLE id = zvdbAddField(table_, "id", ZV_INT4, 0);
    ZVHANDLE city = zvdbAddField(table_, "city", ZV_FSTRING, 12);
    ASSERT_NE(zvdbAddField(table_, "amount", ZV_MONEY, 0), nullptr);
    ZVHANDLE bycity = zvdbAddIndex(table_, "bycity", 0, 1, 1);
    ZVHANDLE pk = zvdbAddIndex(table_, "pk", 0, 0, 0);
    ASSERT_NE(zvdbAddSegment(bycity, city, 12), nullptr);
    ASSERT_NE(zvdbAddSegment(pk, id, 12), nullptr);
    create_and_open("nullkeys", 32 | 64);
    for (int32_t n = 1; n <= 30; n++) ASSERT_EQ(add_city(n, n % 3 ? city_for(n) : ""), 0);
    ASSERT_EQ(zvdbNumberOfKeyEntries(table_, 0), 20);
    tagZVDBRECORD *r = record();
    uint64_t count = 0;
    ASSERT_EQ(zvdbGetRecordCount(r, &count), 0);
    EXPECT_EQ(count, 30u);
}

}  // namespace
}  // namespace rectest
