// Result sets: names within a table, criteria and their values, the filter
// text of each operator checked against the records it selects, the index
// chosen for the criteria, switching on and off, and the refusals.
#include <algorithm>
#include <functional>
#include <string>

#include "tests/recapi/records/navfix.h"

namespace rectest {
namespace {

class ResultSetTest : public CityTest {
protected:
    void SetUp() override {
        CityTest::SetUp();
        make_cities(0, 60);
        set_ = zvdbAllocateResultSet(table_, "q");
        ASSERT_NE(set_, nullptr);
    }
    ZVHANDLE field(int32_t n) { return zvdbGetField(table_, n); }
    // The model's ids in id order that pass.
    std::vector<int32_t> ids_where(const std::function<bool(int32_t)> &pass) const {
        std::vector<int32_t> ids;
        for (int32_t id : by_id()) {
            if (pass(id)) ids.push_back(id);
        }
        return ids;
    }
    ZVHANDLE set_ = nullptr;
};

TEST_F(ResultSetTest, NamesAreUniqueWithCase) {
    EXPECT_NE(zvdbAllocateResultSet(table_, "Q"), nullptr);
    mark();
    EXPECT_EQ(zvdbAllocateResultSet(table_, "q"), nullptr);
    EXPECT_EQ(last(), ZVDB_BAD_ARGUMENT);
    EXPECT_EQ(zvdbGetResultSetByName(table_, "q"), set_);
    EXPECT_NE(zvdbGetResultSetByName(table_, "Q"), set_);
    EXPECT_EQ(zvdbGetResultSetByName(table_, "z"), nullptr);
    EXPECT_EQ(zvdbGetResultSetHandle(set_), set_);
    EXPECT_EQ(zvdbAllocateResultSet(nullptr, "x"), nullptr);
    // Freed, the name is free again; the table frees the rest.
    ASSERT_EQ(zvdbFreeResultSet(set_), 0);
    set_ = zvdbAllocateResultSet(table_, "q");
    EXPECT_NE(set_, nullptr);
}

TEST_F(ResultSetTest, EveryOperatorSelectsItsRecords) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetDefaultIndex(r, kPk), 0);
    const struct {
        int32_t op;
        std::function<bool(int32_t)> pass;
        const char *v1 = "10", *v2 = "20";
    } cases[] = {
        {193, [](int32_t id) { return id == 10; }},
        {38, [](int32_t id) { return id != 10; }},
        {130, [](int32_t id) { return id > 10; }},
        {195, [](int32_t id) { return id >= 10; }},
        {196, [](int32_t id) { return id <= 10; }},
        {69, [](int32_t id) { return id < 10; }},
        {199, [](int32_t id) { return id >= 10 && id <= 20; }},
        {72, [](int32_t id) { return id >= 10 && id < 20; }},
        {137, [](int32_t id) { return id > 10 && id <= 20; }},
        {10, [](int32_t id) { return id > 10 && id < 20; }},
        // Below the first value and above the second: nothing when the
        // first is the lower, unlike the range operator 43.
        {43, [](int32_t id) { return id < 10 && id > 20; }},
        {43, [](int32_t id) { return id < 20 && id > 10; }, "20", "10"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.op << " " << c.v1 << " " << c.v2);
        ZVHANDLE cr = zvdbAddCriteria(set_, field(kId), c.v1, c.v2, c.op);
        ASSERT_NE(cr, nullptr);
        ASSERT_EQ(zvdbResultSetOnOff(set_, r, 1, 0, 0), 0);
        EXPECT_EQ(zvdbGetActiveResultSet(r), set_);
        EXPECT_EQ(walk(r, true), ids_where(c.pass));
        if (c.op == 199) {
            EXPECT_STREQ(r->filtertext, "id>= 10&& id<= 20");
        }
        if (c.op == 43) {
            EXPECT_EQ(std::string(r->filtertext), std::string("id< ") + c.v1 + "&& id> " + c.v2);
        }
        ASSERT_EQ(zvdbRemoveCriteria(set_, cr), 0);
    }
    // Criteria join by "&&"; a text field compares through the text
    // functions of the compare mode.
    ASSERT_NE(zvdbAddCriteria(set_, field(kCity), "Chur", nullptr, 193), nullptr);
    ASSERT_NE(zvdbAddCriteria(set_, field(kId), "30", nullptr, 130), nullptr);
    ASSERT_EQ(zvdbResultSetOnOff(set_, r, 1, 0, 0), 0);
    EXPECT_STREQ(r->filtertext, "strcmp( city, \"Chur\" ) == 0 && id> 30");
    EXPECT_EQ(walk(r, true), ids_where([](int32_t id) { return id > 30 && city_for(id) == "Chur"; }));
    ASSERT_EQ(zvdbResultSetOnOff(set_, r, 1, 0, 3), 0);
    EXPECT_STREQ(r->filtertext, "strnicmp( city, \"Chur\", 4 ) == 0 && id> 30");
    // The caller's own filter reads as none meanwhile; off removes it.
    EXPECT_STREQ(zvdbGetFilter(r), "");
    ASSERT_EQ(zvdbResultSetOnOff(set_, r, 0, 0, 0), 0);
    EXPECT_EQ(zvdbIsFilteredRecord(r), 0);
    EXPECT_EQ(zvdbGetActiveResultSet(r), nullptr);
    EXPECT_EQ(walk(r, true), by_id());
}

TEST_F(ResultSetTest, CriteriaAndTheirValues) {
    mark();
    EXPECT_EQ(zvdbAddCriteria(set_, field(kId), "1", nullptr, 12), nullptr);
    EXPECT_EQ(last(), ZVDB_BAD_ARGUMENT);
    EXPECT_EQ(zvdbAddCriteria(table_, field(kId), "1", nullptr, 193), nullptr);
    EXPECT_EQ(last(), ZVDB_BAD_TAG_HANDLE);
    EXPECT_EQ(zvdbAddCriteria(set_, set_, "1", nullptr, 193), nullptr);
    EXPECT_EQ(last(), ZVDB_NO_FIELD);

    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetDefaultIndex(r, kPk), 0);
    // Made without a first value, then given one; a second value where
    // there was none; shorter and longer values.
    auto *cr = static_cast<tagZVDBCRITERIA *>(zvdbAddCriteria(set_, field(kId), nullptr, nullptr, 199));
    ASSERT_NE(cr, nullptr);
    const struct {
        const char *v1, *v2;
        std::vector<int32_t> ids;
    } updates[] = {{"15", "17", {15, 16, 17}}, {"5", "7", {5, 6, 7}}, {"10000", "10001", {}}, {"1", "2", {1, 2}}};
    for (const auto &u : updates) {
        ASSERT_EQ(zvdbUpdateCriteria(cr, u.v1, u.v2), 0);
        EXPECT_STREQ(cr->value1, u.v1);
        EXPECT_STREQ(cr->value2, u.v2);
        ASSERT_EQ(zvdbResultSetOnOff(set_, r, 1, 0, 0), 0);
        EXPECT_EQ(walk(r, true), u.ids);
    }
    ASSERT_EQ(zvdbUpdateCriteria(cr, "3", nullptr), 0);
    EXPECT_EQ(cr->value2, nullptr);
    // A range without its second value has no literal to compare with.
    EXPECT_EQ(zvdbResultSetOnOff(set_, r, 1, 0, 0), ZVDB_BAD_ARGUMENT);
    EXPECT_EQ(zvdbUpdateCriteria(set_, "1", nullptr), ZVDB_BAD_TAG_HANDLE);
}

TEST_F(ResultSetTest, TheChosenIndexAndTheRefusals) {
    tagZVDBRECORD *r = record();
    mark();
    EXPECT_EQ(zvdbResultSetOnOff(set_, r, 1, 1, 0), ZVDB_BAD_ARGUMENT);  // no criteria
    // No index leads with amount: physical order.
    ZVHANDLE byamount = zvdbAddCriteria(set_, field(kAmount), "5", nullptr, 195);
    ASSERT_NE(byamount, nullptr);
    ASSERT_EQ(zvdbResultSetOnOff(set_, r, 1, 1, 0), 0);
    EXPECT_EQ(zvdbGetDefaultIndex(r), ZVDB_INDEX_PHYSICAL);
    // A criterion added makes the next switch choose again.
    ASSERT_NE(zvdbAddCriteria(set_, field(kCity), "Chur", nullptr, 193), nullptr);
    ASSERT_EQ(zvdbResultSetOnOff(set_, r, 1, 1, 0), 0);
    EXPECT_EQ(zvdbGetDefaultIndex(r), kByCity);
    EXPECT_EQ(walk(r, true).size(), 6u);
    ASSERT_EQ(zvdbRemoveCriteria(set_, byamount), 0);
    EXPECT_EQ(zvdbRemoveCriteria(set_, set_), ZVDB_BAD_TAG_HANDLE);

    // The record's own filter, a bad compare mode, another table's record.
    tagZVDBRECORD *own = record();
    ASSERT_EQ(zvdbFilterRecord(own, "id > 3"), 0);
    EXPECT_EQ(zvdbResultSetOnOff(set_, own, 1, 0, 0), ZVDB_TYPE_UNSUPPORTED);
    EXPECT_STREQ(zvdbGetFilter(own), "id > 3");
    EXPECT_EQ(zvdbResultSetOnOff(set_, r, 1, 0, 4), ZVDB_BAD_ARGUMENT);
    ZVHANDLE other = zvdbAllocTable(session_);
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(zvdbSetTablePath(other, "."), 0);
    ASSERT_NE(zvdbAddField(other, "id", ZV_INT4, 0), nullptr);
    ASSERT_EQ(zvdbCreateTable(other, "other", 0), 0) << last();
    ASSERT_EQ(zvdbOpenTable(other, "other", 0), 0) << last();
    ZVHANDLE foreign = zvdbAllocRecord(other);
    EXPECT_EQ(zvdbResultSetOnOff(set_, foreign, 1, 0, 0), ZVDB_BAD_ARGUMENT);
    EXPECT_EQ(zvdbAddCriteria(set_, zvdbGetField(other, 0), "1", nullptr, 193), nullptr);
    EXPECT_EQ(last(), ZVDB_NO_FIELD_NAME);
    zvdbFreeRecord(foreign);
    zvdbFreeTable(other);
    EXPECT_EQ(zvdbResultSetOnOff(set_, table_, 1, 0, 0), ZVDB_NO_RECORD);
    EXPECT_EQ(zvdbResultSetOnOff(r, r, 1, 0, 0), ZVDB_BAD_TAG_HANDLE);

    // Freeing the set leaves the record its filter as its own.
    ASSERT_EQ(zvdbFreeResultSet(set_), 0);
    set_ = nullptr;
    EXPECT_EQ(zvdbGetActiveResultSet(r), nullptr);
    EXPECT_EQ(zvdbIsFilteredRecord(r), 1);
    EXPECT_STREQ(zvdbGetFilter(r), "amount>= 5&& strcmp( city, \"Chur\" ) == 0 ");
    EXPECT_EQ(zvdbFilterRecord(r, nullptr), 0);
}

}  // namespace
}  // namespace rectest
