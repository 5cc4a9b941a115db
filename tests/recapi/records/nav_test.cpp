// Moves of record handles: the orders of the default indexes, the ends of
// an order, jumps through the index and by single moves, ordinal
// positions, percentiles and counts.
#include <algorithm>
#include <functional>

#include "recapi/base/wrappers.h"
#include "tests/recapi/records/navfix.h"

namespace rectest {
namespace {

class NavTest : public CityTest {
protected:
    void SetUp() override {
        CityTest::SetUp();
        make_cities();
    }
};

TEST_F(NavTest, EveryOrderWalksBothWays) {
    tagZVDBRECORD *r = record();
    struct Order {
        int32_t index;
        std::vector<int32_t> ids;
    } orders[] = {{kPk, by_id()},
                  {kByCity, by_city()},
                  {ZVDB_INDEX_PHYSICAL, by_write()},
                  {ZVDB_INDEX_RECBYT, by_write()},
                  {ZVDB_INDEX_ROWID, by_write()}};
    for (const Order &o : orders) {
        SCOPED_TRACE(o.index);
        ASSERT_EQ(zvdbSetDefaultIndex(r, o.index), 0);
        int end = 0;
        EXPECT_EQ(walk(r, true, &end), o.ids);
        EXPECT_EQ(end, ZV_INOT_ERR);
        std::vector<int32_t> reverse = o.ids;
        std::reverse(reverse.begin(), reverse.end());
        // Physical order of a fixed-length file reads backwards too.
        EXPECT_EQ(walk(r, false, &end), reverse);
        EXPECT_EQ(end, ZV_INOT_ERR);
    }
    // Row ids count the records in write order.
    ASSERT_EQ(zvdbSetDefaultIndex(r, ZVDB_INDEX_ROWID), 0);
    ASSERT_EQ(zvdbFirstRecord(r), 0);
    for (ZVBIGINT n = 1; n <= 1000; n++) {
        ZVBIGINT rowid = 0;
        ASSERT_EQ(zvdbGetRowid(r, &rowid), 0);
        ASSERT_EQ(rowid, n);
        ASSERT_EQ(zvdbNextRecord(r), n == 1000 ? ZV_INOT_ERR : 0);
    }
}

TEST_F(NavTest, PastTheEndKeepsTheLastRecordAndReadsClearTheFlags) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbLastRecord(r), 0);
    uint64_t lastpos = 0, pos = 0;
    ASSERT_EQ(zvdbGetRecordPos(r, &lastpos), 0);
    mark();
    EXPECT_EQ(zvdbNextRecord(r), ZV_INOT_ERR);
    EXPECT_EQ(last(), ZV_INOT_ERR);
    EXPECT_EQ(id_of(r), 1000);
    EXPECT_EQ(city_of(r), city_for(1000));
    ASSERT_EQ(zvdbGetRecordPos(r, &pos), 0);
    EXPECT_EQ(pos, lastpos);
    // The previous record is the one before the last, still.
    ASSERT_EQ(zvdbPrevRecord(r), 0);
    EXPECT_EQ(id_of(r), 999);

    // Every kind of read leaves the record neither new nor edited.
    ASSERT_EQ(zvdbSetFieldAsSigned(r, kAmount, 5), 0);
    ASSERT_EQ(zvdbIsEditedRecord(r), 1);
    ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, 7), 0);
    const std::vector<std::function<int()>> reads = {
        [&] { return zvdbFirstRecord(r); },
        [&] { return zvdbNextRecord(r); },
        [&] { return zvdbJumpToRecord(r, 3); },
        [&] { return zvdbFindRecord(r, 0); },
        [&] { return zvdbSeekRecord(r, pos); },
        [&] { return zvdbReadRecord(r); },
        [&] { return zvdbRecordAtPercentile(r, 10); },
    };
    for (size_t i = 0; i < reads.size(); i++) {
        ASSERT_EQ(zvdbSetNewRecord(r, 1), 0);
        ASSERT_EQ(zvdbSetEditedRecord(r, 1), 0);
        ASSERT_EQ(reads[i](), 0) << i;
        EXPECT_EQ(zvdbIsNewRecord(r), 0) << i;
        EXPECT_EQ(zvdbIsEditedRecord(r), 0) << i;
    }
}

// The jumps of a table, each from the record of a start id in id order.
struct Jump {
    int32_t start;
    int32_t offset;
    int code;
    int32_t lands;  // the id read after the jump (the start again on failure)
};
constexpr Jump kJumps[] = {
    {1, 1, 0, 2},        {1, 250, 0, 251}, {600, -250, 0, 350}, {3, -2, 0, 1},   {3, -5, ZV_INOT_ERR, 3},
    {999, 1, 0, 1000},   {999, 2, ZV_INOT_ERR, 999},            {500, 500, 0, 1000}, {500, 501, ZV_INOT_ERR, 500},
    {1000, -999, 0, 1},  {2, -1, 0, 1},
};

class JumpTest : public NavTest {
protected:
    // Runs the jumps on the "pk" order: the code, the id read and the
    // stored position (unchanged after a failed jump).
    static void check_jumps(tagZVDBRECORD *r);
};

void JumpTest::check_jumps(tagZVDBRECORD *r) {
    for (const Jump &j : kJumps) {
        SCOPED_TRACE(testing::Message() << j.start << " " << j.offset);
        ASSERT_EQ(zvdbSetDefaultIndex(r, kPk), 0);
        ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, j.start), 0);
        ASSERT_EQ(zvdbFindRecord(r, 0), 0);
        uint64_t before = 0, after = 0;
        ASSERT_EQ(zvdbGetRecordPos(r, &before), 0);
        EXPECT_EQ(zvdbJumpToRecord(r, j.offset), j.code);
        EXPECT_EQ(id_of(r), j.lands);
        ASSERT_EQ(zvdbGetRecordPos(r, &after), 0);
        if (j.code) {
            EXPECT_EQ(after, before);
        }
        // The jump continues the order: the next record follows it.
        if (j.lands < 1000) {
            ASSERT_EQ(zvdbNextRecord(r), 0);
            EXPECT_EQ(id_of(r), j.lands + 1);
        }
    }
}

TEST_F(JumpTest, JumpsThroughTheIndexAndBySingleMovesLandAlike) {
    tagZVDBRECORD *r = record();
    mark();
    EXPECT_EQ(zvdbJumpToRecord(r, 0), ZVDB_BAD_ARGUMENT);
    EXPECT_EQ(last(), ZVDB_BAD_ARGUMENT);
    check_jumps(r);
    // A filter that takes every record: the jumps are made of single moves.
    ASSERT_EQ(zvdbSwitchContext(r), 0);
    ASSERT_EQ(_zvdbSETFLTR(table_->datno, "id > 0"), 0);
    r->filtertype = 1;
    check_jumps(r);
    r->filtertype = 0;
}

TEST_F(JumpTest, JumpsOnEqualKeysCountEachRecord) {
    // On "bycity" a jump passes equal cities one by one, in write order.
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetDefaultIndex(r, kByCity), 0);
    const std::vector<int32_t> order = by_city();
    for (bool single : {false, true}) {
        r->filtertype = single ? 1 : 0;
        for (int32_t from : {0, 37, 99, 100, 517}) {
            for (int32_t offset : {1, 2, 150, -1, -37, -100}) {
                const int64_t to = int64_t(from) + offset;
                if (to < 0 || to >= int64_t(order.size())) continue;
                ASSERT_EQ(zvdbFirstRecord(r), 0);
                if (from) {
                    ASSERT_EQ(zvdbJumpToRecord(r, from), 0);
                }
                ASSERT_EQ(id_of(r), order[size_t(from)]);
                ASSERT_EQ(zvdbJumpToRecord(r, offset), 0) << from << " " << offset;
                EXPECT_EQ(id_of(r), order[size_t(to)]) << from << " " << offset << " single " << single;
            }
        }
    }
    r->filtertype = 0;
}

TEST_F(NavTest, OrdinalsPercentilesAndCounts) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbFirstRecord(r), 0);
    ASSERT_EQ(zvdbJumpToRecord(r, 250), 0);
    ASSERT_EQ(id_of(r), 251);
    uint64_t ordinal = 0, position = 0, at = 250;
    ASSERT_EQ(zvdbGetRecordKeyPos(r, &ordinal), 0);
    EXPECT_EQ(ordinal, 251u);
    ASSERT_EQ(zvdbGetRecordPos(r, &position), 0);
    ASSERT_EQ(zvdbRecordPosAtOffset(r, &at), 0);
    EXPECT_EQ(at, position);
    // On equal keys the ordinal counts the record among its equals.
    ASSERT_EQ(zvdbSetDefaultIndex(r, kByCity), 0);
    ASSERT_EQ(zvdbFirstRecord(r), 0);
    ASSERT_EQ(zvdbJumpToRecord(r, 123), 0);
    ASSERT_EQ(zvdbGetRecordKeyPos(r, &ordinal), 0);
    EXPECT_EQ(ordinal, 124u);
    ASSERT_EQ(zvdbSetDefaultIndex(r, kPk), 0);

    ASSERT_EQ(zvdbRecordAtPercentile(r, 50), 0);
    EXPECT_GE(id_of(r), 400);
    EXPECT_LE(id_of(r), 600);
    uint64_t count = 0;
    ASSERT_EQ(zvdbGetRecordCount(r, &count), 0);
    EXPECT_EQ(count, 1000u);
    EXPECT_EQ(zvdbNumberOfKeyEntries(table_, kPk), 1000);
    mark();
    EXPECT_EQ(zvdbNumberOfKeyEntries(table_, 5), -1);
    EXPECT_EQ(last(), ZVDB_NO_INDEX_NAME);
    for (int32_t id = 10; id <= 100; id += 10) {
        ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, id), 0);
        ASSERT_EQ(zvdbFindRecord(r, 0), 0);
        ASSERT_EQ(zvdbDeleteRecord(r), 0);
    }
    ASSERT_EQ(zvdbGetRecordCount(r, &count), 0);
    EXPECT_EQ(count, 990u);
    EXPECT_EQ(zvdbNumberOfKeyEntries(table_, kByCity), 990);
    mark();
    EXPECT_EQ(zvdbGetRecordCount(r, nullptr), ZVDB_NULL_ARGUMENT);
    ASSERT_EQ(zvdbSetDefaultIndex(r, ZVDB_INDEX_PHYSICAL), 0);
    EXPECT_EQ(zvdbGetRecordKeyPos(r, &ordinal), 80);
}

// Without "$RECBYT$" and "$ROWID$" the count comes from an index whose
// entries count every record: one with a condition holds fewer.
TEST_F(CityTest, CountPassesOverAConditionalIndex) {
    create_table("cond", {{"id", ZV_INT4, 0}, {"city", ZV_FSTRING, 12}, {"amount", ZV_MONEY, 0}}, 32 | 64,
                 {{"pk", kId, 0}, {"bycity", kCity, 1}});
    ASSERT_EQ(UPDCIDX(zvdbGetIdxnoByNumber(table_, kPk), "id > 500"), 0);
    for (int32_t id = 1; id <= 1000; id++) ASSERT_EQ(add_city(id, city_for(id)), 0);
    EXPECT_EQ(zvdbNumberOfKeyEntries(table_, kPk), 500);
    tagZVDBRECORD *r = record();
    uint64_t count = 0;
    ASSERT_EQ(zvdbGetRecordCount(r, &count), 0);
    EXPECT_EQ(count, 1000u);
    // Without an index to count by, the data file counts.
    ASSERT_EQ(UPDCIDX(zvdbGetIdxnoByNumber(table_, kByCity), "id > 900"), 0);
    ASSERT_EQ(zvdbGetRecordCount(r, &count), 0);
    EXPECT_EQ(count, 1000u);
}

}  // namespace
}  // namespace rectest
