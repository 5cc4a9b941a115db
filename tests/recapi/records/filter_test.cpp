// Record filters and expressions: the filter narrows every order of its
// own record only, its texts and types, replacing and removing it, an
// engine that refuses to drop it; conditional expressions of a record and
// the table's record expressions evaluated against a record; what filters
// and conditional indexes select on an unsigned 64-bit field.
#include <algorithm>
#include <string>

#include "recapi/base/wrappers.h"
#include "recapi/schema/table.h"
#include "tests/recapi/records/navfix.h"

namespace rectest {
namespace {

class FilterTest : public CityTest {
protected:
    void SetUp() override {
        CityTest::SetUp();
        make_cities();
    }

    // The ids of an order of the model that pass a test.
    template <typename Pass>
    static std::vector<int32_t> only(std::vector<int32_t> ids, Pass pass) {
        ids.erase(std::remove_if(ids.begin(), ids.end(), [&](int32_t id) { return !pass(id); }), ids.end());
        return ids;
    }

    // Walks of the record forward and backward in three orders, checked
    // against the model's ids that pass.
    template <typename Pass>
    void expect_orders(tagZVDBRECORD *r, Pass pass) {
        const std::pair<int32_t, std::vector<int32_t>> orders[] = {
            {kPk, by_id()}, {kByCity, by_city()}, {ZVDB_INDEX_PHYSICAL, by_write()}};
        for (const auto &[index, ids] : orders) {
            SCOPED_TRACE(index);
            ASSERT_EQ(zvdbSetDefaultIndex(r, index), 0);
            std::vector<int32_t> want = only(ids, pass);
            int end = 0;
            EXPECT_EQ(walk(r, true, &end), want);
            EXPECT_EQ(end, ZV_INOT_ERR);
            std::reverse(want.begin(), want.end());
            EXPECT_EQ(walk(r, false, &end), want);
        }
    }

    // A parse tree of text over the table's fields.
    void *tree_of(const char *text) {
        ZVDBRET rc = zv::expression_schema(table_);
        void *tree = rc ? nullptr : zv::parse_expression(table_, text, &rc);
        EXPECT_NE(tree, nullptr) << rc;
        return tree;
    }
};

TEST_F(FilterTest, AFilterNarrowsEveryOrderOfItsRecordOnly) {
    tagZVDBRECORD *r = record();
    tagZVDBRECORD *other = record();
    ASSERT_EQ(zvdbSetFilter(r, "id > 500", 1), 0);
    EXPECT_STREQ(zvdbGetFilter(r), "id > 500");
    EXPECT_EQ(zvdbGetFilterType(r), 1);
    EXPECT_EQ(zvdbIsFilteredRecord(r), 1);
    expect_orders(r, [](int32_t id) { return id > 500; });
    // The other record of the table reads every record, before and after
    // the filtered one moved.
    expect_orders(other, [](int32_t) { return true; });
    ASSERT_EQ(zvdbFirstRecord(r), 0);
    EXPECT_GT(id_of(r), 500);
    EXPECT_EQ(zvdbIsFilteredRecord(other), 0);

    // An empty text of type 1 removes the filter.
    ASSERT_EQ(zvdbSetFilter(r, "", 1), 0);
    EXPECT_EQ(zvdbGetFilter(r), nullptr);
    EXPECT_EQ(zvdbGetFilterType(r), 0);
    expect_orders(r, [](int32_t) { return true; });
}

TEST_F(FilterTest, ParseTreeFiltersTypesAndRefusals) {
    tagZVDBRECORD *r = record();
    // Type 2: the engine takes the caller's tree, the record keeps its
    // pointer; replacing it lets the engine free it (once: the sanitizer
    // watches).
    void *tree = tree_of("id > 900");
    ASSERT_EQ(zvdbSetFilter(r, static_cast<const char *>(tree), 2), 0);
    EXPECT_EQ(zvdbGetFilter(r), tree);
    EXPECT_EQ(zvdbGetFilterType(r), 2);
    ASSERT_EQ(zvdbSetDefaultIndex(r, kPk), 0);
    EXPECT_EQ(walk(r, true), only(by_id(), [](int32_t id) { return id > 900; }));
    // A type-1 filter over it leaves the new filter alone.
    ASSERT_EQ(zvdbFilterRecord(r, "id <= 3"), 0);
    EXPECT_EQ(zvdbGetFilterType(r), 1);
    EXPECT_EQ(walk(r, true), (std::vector<int32_t>{1, 2, 3}));

    // An unknown type removes the old filter first.
    mark();
    EXPECT_EQ(zvdbSetFilter(r, "id > 1", 7), ZVDB_BAD_MODE);
    EXPECT_EQ(last(), ZVDB_BAD_MODE);
    EXPECT_EQ(zvdbIsFilteredRecord(r), 0);
    EXPECT_EQ(walk(r, true), by_id());
    // A text the engine cannot parse sets nothing.
    EXPECT_NE(zvdbSetFilter(r, "id >", 1), 0);
    EXPECT_EQ(zvdbIsFilteredRecord(r), 0);

    // No filter of the record's own while a result set drives it; no type
    // filter on an ordinary table.
    ZVHANDLE rs = zvdbAllocateResultSet(table_, "big");
    ASSERT_NE(zvdbAddCriteria(rs, zvdbGetField(table_, kId), "990", nullptr, 130), nullptr);
    ASSERT_EQ(zvdbResultSetOnOff(rs, r, 1, 0, 0), 0);
    EXPECT_EQ(zvdbSetFilter(r, "id > 1", 1), ZVDB_TYPE_UNSUPPORTED);
    EXPECT_EQ(zvdbMTRFilter(r), ZVDB_BAD_ARGUMENT);
    EXPECT_EQ(zvdbFilterAll(table_), 0);
    EXPECT_EQ(zvdbSetFilter(nullptr, "id > 1", 1), ZVDB_NO_RECORD);
}

TEST_F(FilterTest, AFilterTheEngineCannotDropIsKept) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbFilterRecord(r, "id > 500"), 0);
    // The data file closed behind the table: clearing the filter fails.
    ASSERT_EQ(CLRFIL(table_->datno), 0);
    const int rc = zvdbFilterRecord(r, "id > 10");
    EXPECT_NE(rc, 0);
    EXPECT_EQ(last(), rc);
    EXPECT_STREQ(zvdbGetFilter(r), "id > 500");
    EXPECT_EQ(zvdbGetFilterType(r), 1);
    // Reset (which stops at the context it cannot release) and free let go
    // of the text once: the sanitizer sees no second free and no leak.
    zvdbResetRecord(r);
    records_.clear();
    EXPECT_EQ(zvdbFreeRecord(r), nullptr);
}

TEST_F(FilterTest, ConditionalExpressions) {
    tagZVDBRECORD *r = record();
    EXPECT_EQ(zvdbCndxEval(r), ZVDB_EXPR_FAILED);
    EXPECT_EQ(zvdbCndxGetExpression(r), nullptr);
    EXPECT_EQ(zvdbCndxCompile(r, nullptr), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbCndxCompile(r, ""), ZVDB_BAD_ARGUMENT);
    const int bad = zvdbCndxCompile(r, "id >");
    EXPECT_GT(bad, ZVDB_EXPR_FAILED);
    EXPECT_LT(bad, ZVDB_EXPR_FAILED + 100);
    EXPECT_EQ(zvdbCndxEval(r), ZVDB_EXPR_FAILED);

    ASSERT_EQ(zvdbCndxCompile(r, "id > 500 && city == \"Chur\""), 0);
    EXPECT_STREQ(zvdbCndxGetExpression(r), "id > 500 && city == \"Chur\"");
    struct Case {
        int32_t id;
        const char *city;
        int want;
    } cases[] = {{600, "Chur", 0}, {100, "Chur", ZVDB_EXPR_FAILED}, {600, "Basel", ZVDB_EXPR_FAILED}};
    for (const Case &c : cases) {
        ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, c.id), 0);
        ASSERT_EQ(zvdbSetFieldAsString(r, kCity, c.city), 0);
        EXPECT_EQ(zvdbCndxEval(r), c.want) << c.id << " " << c.city;
    }
    // An evaluation error is 4071 plus its number.
    ASSERT_EQ(zvdbCndxCompile(r, "id / (id - id) > 1"), 0);
    EXPECT_EQ(zvdbCndxEval(r), ZVDB_EXPR_FAILED + 9);
    ASSERT_EQ(zvdbCndxFree(r), 0);
    EXPECT_EQ(zvdbCndxGetExpression(r), nullptr);
    EXPECT_EQ(zvdbCndxEval(r), ZVDB_EXPR_FAILED);
    EXPECT_EQ(zvdbCndxCompile(nullptr, "id > 1"), ZVDB_NO_RECORD);
}

TEST_F(FilterTest, RecordExpressionsOfTheTable) {
    tagZVDBRECORD *r = record();
    ZVFIELDTYPE type = 0;
    int32_t twice = -1, name = -1;
    ASSERT_EQ(zvdbParseRecordExpr(table_, "id * 2", &type, &twice), 0);
    ASSERT_EQ(zvdbParseRecordExpr(table_, "city", &type, &name), 0);
    ASSERT_EQ(zvdbSetDefaultIndex(r, kPk), 0);
    ASSERT_EQ(zvdbFirstRecord(r), 0);
    for (int i = 0; i < 3; i++, zvdbNextRecord(r)) {
        int32_t v = 0;
        ASSERT_EQ(zvdbEvalExprAsSigned(r, twice, &v), 0);
        EXPECT_EQ(v, 2 * id_of(r));
        char text[32] = {};
        ASSERT_EQ(zvdbEvalExprAsString(r, name, text, sizeof text), 0);
        EXPECT_EQ(std::string(text).substr(0, city_of(r).size()), city_of(r));
    }
    int32_t v = 0;
    EXPECT_EQ(zvdbEvalExprAsSigned(r, name + 1, &v), ZVDB_BAD_ARGUMENT);
    EXPECT_EQ(zvdbEvalExprAsSigned(r, twice, nullptr), ZVDB_NULL_ARGUMENT);
    char small[4] = {};
    ASSERT_EQ(zvdbEvalExprAsString(r, name, small, sizeof small), 0);
    EXPECT_EQ(std::string(small), city_of(r).substr(0, 3));
}

// A ZV_UBIGINT field is read as a NUMBER. Compared with a NUMBER (the
// field on the left) it keeps its whole value; compared as an integer (an
// integer on the left, or a cast) a value from 2^63 up is 0, not a wrapped
// negative. Filters and conditional indexes select alike.
class UnsignedBigFilterTest : public RecordTest {
protected:
    static std::vector<int32_t> ids(tagZVDBRECORD *r) {
        std::vector<int32_t> out;
        for (int rc = zvdbFirstRecord(r); rc == 0; rc = zvdbNextRecord(r)) {
            int32_t id = 0;
            EXPECT_EQ(zvdbGetFieldAsSigned(r, 0, &id), 0);
            out.push_back(id);
        }
        return out;
    }
};

TEST_F(UnsignedBigFilterTest, FiltersAndConditionalIndexesSelectByTheConversions) {
    // Ids 1..5 hold 0, 1, 2^63 - 1, 2^63 and 2^64 - 1.
    const char *const values[] = {"0", "1", "9223372036854775807", "9223372036854775808", "18446744073709551615"};
    struct Case {
        const char *condition;
        std::vector<int32_t> ids;
    };
    const std::vector<Case> cases = {
        {"u == 0", {1}},
        {"0 == u", {1, 4, 5}},
        {"(int)u == 0", {1, 4, 5}},
        {"(int)u < 0", {}},
        {"-1 == u", {}},
        {"(int)u >= 1", {2, 3}},
        {"9223372036854775807 == u", {3}},
        {"u > 9223372036854775807", {4, 5}},
        {"u == 9223372036854775808", {4}},
        {"u == 18446744073709551615", {5}},
    };
    define_table({{"id", ZV_INT4, 0}, {"u", ZV_UBIGINT, 0}}, {{"byid", 0, 0}});
    ASSERT_FALSE(HasFatalFailure());
    // One conditional index on the id per condition, indexes 1.. in order.
    for (size_t i = 0; i < cases.size(); i++) {
        const std::string name = "c" + std::to_string(i);
        ZVHANDLE ix = zvdbAddIndex(table_, name.c_str(), 0, 1, 0);
        ASSERT_NE(ix, nullptr) << last();
        ASSERT_NE(zvdbAddSegment(ix, zvdbGetFieldByName(table_, "id"), 12), nullptr) << last();
        ASSERT_EQ(zvdbSetIndexCndxExpr(ix, cases[i].condition), 0) << last();
    }
    create_and_open("ubig", 0);
    ASSERT_FALSE(HasFatalFailure());
    tagZVDBRECORD *w = record();
    for (int32_t id = 1; id <= 5; id++) {
        ASSERT_EQ(zvdbClearRecord(w), 0);
        ASSERT_EQ(zvdbSetFieldAsSigned(w, 0, id), 0);
        ASSERT_EQ(zvdbSetFieldAsString(w, 1, values[id - 1]), 0) << last();
        ASSERT_EQ(zvdbWriteRecord(w), 0) << last();
    }
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetDefaultIndex(r, 0), 0);
    ASSERT_EQ(ids(r), (std::vector<int32_t>{1, 2, 3, 4, 5}));
    // The values are stored whole.
    ASSERT_EQ(zvdbFirstRecord(r), 0);
    for (const char *v : values) {
        char text[32] = {};
        ASSERT_EQ(zvdbGetFieldAsString(r, 1, text, sizeof text), 0);
        EXPECT_STREQ(text, v);
        zvdbNextRecord(r);
    }
    for (size_t i = 0; i < cases.size(); i++) {
        const Case &c = cases[i];
        SCOPED_TRACE(c.condition);
        ASSERT_EQ(zvdbSetDefaultIndex(r, 0), 0);
        ASSERT_EQ(zvdbSetFilter(r, c.condition, 1), 0) << last();
        EXPECT_EQ(ids(r), c.ids);
        ASSERT_EQ(zvdbSetFilter(r, "", 1), 0);
        ASSERT_EQ(zvdbSetDefaultIndex(r, int32_t(i + 1)), 0);
        EXPECT_EQ(ids(r), c.ids);
    }
}

}  // namespace
}  // namespace rectest
