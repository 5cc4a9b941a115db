// Locate criteria: the filter text they write (values that cannot change
// the expression, names in brackets where the expression language would not
// read them as fields), the base filter they build on, the index chosen for
// them, and the search of a matching record through the caller's own
// filter, with faults under it.
#include <algorithm>
#include <cerrno>
#include <string>

#include "engine/core/platform.h"
#include "recapi/records/set_calls.h"
#include "recapi/schema/table.h"
#include "tests/recapi/records/navfix.h"

namespace rectest {
namespace {

class LocateTest : public CityTest {
protected:
    void SetUp() override {
        CityTest::SetUp();
        make_cities();
        for (int32_t id = 1001; id <= 1003; id++) ASSERT_EQ(add_city(id, "Paris"), 0);
        ASSERT_EQ(add_city(1004, "Pa\"ris"), 0);
        ASSERT_EQ(add_city(1005, "C:\\d"), 0);
        ASSERT_EQ(add_city(1006, "C:d"), 0);
    }

    // Locates (field, value) in mode 0: the result, the id read and the
    // last code.
    struct Found {
        int found;
        int32_t id;
        int code;
    };
    Found locate(tagZVDBRECORD *r, const char *field, const char *value, int32_t mode = 0) {
        EXPECT_EQ(zvdbAddLocateCriteria(r, field, value), 0);
        mark();
        const int found = zvdbLocateRecord(r, mode);
        return {found, found ? id_of(r) : 0, last()};
    }
    // The ids the criteria let through, in the order they choose.
    std::vector<int32_t> matching(tagZVDBRECORD *r, const char *field, const char *value, int32_t mode = 0) {
        EXPECT_EQ(zvdbAddLocateCriteria(r, field, value), 0);
        EXPECT_EQ(zvdbSetRecordCriteria(r, mode), 0) << last();
        return walk(r, true);
    }
};

TEST_F(LocateTest, LocateFindsARecordOfItsValue) {
    tagZVDBRECORD *r = record();
    Found f = locate(r, "city", "Paris");
    EXPECT_EQ(f.found, 1);
    EXPECT_GE(f.id, 1001);
    EXPECT_EQ(city_of(r), "Paris");
    // The criteria went with the search.
    EXPECT_EQ(zvdbUpdateRecordCriteria(r, 0), ZVDB_BAD_ARGUMENT);

    f = locate(r, "city", "Lyon");
    EXPECT_EQ(f.found, 0);
    EXPECT_EQ(f.code, ZV_INOT_ERR);
    // Through the caller's filter: only a record it accepts.
    ASSERT_EQ(zvdbFilterRecord(r, "id > 1002"), 0);
    f = locate(r, "city", "Paris");
    EXPECT_EQ(f.found, 1);
    EXPECT_EQ(f.id, 1003);
    ASSERT_EQ(zvdbFilterRecord(r, "id > 1003"), 0);
    EXPECT_EQ(locate(r, "city", "Paris").found, 0);
    // In any case, and by prefix.
    ASSERT_EQ(zvdbFilterRecord(r, nullptr), 0);
    f = locate(r, "city", "pARIS", 1);
    EXPECT_EQ(f.found, 1);
    EXPECT_EQ(city_of(r), "Paris");
    f = locate(r, "city", "Glar", 2);
    EXPECT_EQ(f.found, 1);
    EXPECT_EQ(city_of(r), "Glarus");
}

TEST_F(LocateTest, ValuesNeverChangeTheExpression) {
    tagZVDBRECORD *r = record();
    const struct {
        const char *field, *value;
        std::vector<int32_t> ids;
    } cases[] = {
        {"city", "Pa\"ris", {1004}},
        {"city", "C:\\d", {1005}},
        {"city", "x\" || 1 || \"", {}},
        // Numbers in the forms of the language; amount has no index, so the
        // filter alone decides.
        {"amount", "5", {5}},
        {"amount", "+5", {5}},
        {"amount", "-5", {}},
        {"amount", "0x5", {5}},
        {"amount", "5.0", {5}},
        {"amount", ".5e1", {5}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(matching(r, c.field, c.value), c.ids) << c.value;
        zvdbResetRecord(r);
        _zvdbFreeCriteria(r);
    }
    Found f = locate(r, "city", "x\" || 1 || \"");
    EXPECT_EQ(f.found, 0);
    EXPECT_EQ(f.code, ZV_INOT_ERR);
    // Anything else in a number field's value is refused before the filter
    // changes.
    ASSERT_EQ(zvdbFilterRecord(r, "id > 7"), 0);
    for (const char *bad : {"5 || 1", "5)", "", "0x", "1e", "'2024-01-01' || 1", "--5", "5 5"}) {
        ASSERT_EQ(zvdbAddLocateCriteria(r, "id", bad), 0);
        EXPECT_EQ(zvdbUpdateRecordCriteria(r, 0), ZVDB_BAD_ARGUMENT) << bad;
        EXPECT_STREQ(r->filtertext, "id > 7") << bad;
        _zvdbFreeCriteria(r);
    }
}

TEST_F(LocateTest, TheFilterTextAndItsBase) {
    tagZVDBRECORD *r = record();
    EXPECT_EQ(zvdbUpdateRecordCriteria(r, 0), ZVDB_BAD_ARGUMENT);
    ASSERT_EQ(zvdbFilterRecord(r, "id > 500"), 0);
    const struct {
        const char *value;
        int32_t mode;
        const char *text;
    } cases[] = {{"Paris", 0, "strcmp( city, \"Paris\" ) == 0 "},
                 {"paris", 1, "stricmp( city, \"paris\" ) == 0 "},
                 {"Pa", 2, "strncmp( city, \"Pa\", 2 ) == 0 "},
                 {"pa", 3, "strnicmp( city, \"pa\", 2 ) == 0 "},
                 {"a\"b\\c", 0, "strcmp( city, \"a\\\"b\\\\c\" ) == 0 "}};
    for (const auto &c : cases) {
        ASSERT_EQ(zvdbAddLocateCriteria(r, "city", c.value), 0);
        ASSERT_EQ(zvdbAddLocateCriteria(r, "id", "5"), 0);
        // Built on the base filter each time, not on the filter before.
        ASSERT_EQ(zvdbUpdateRecordCriteria(r, c.mode), 0);
        ASSERT_EQ(zvdbUpdateRecordCriteria(r, c.mode), 0);
        EXPECT_EQ(std::string(r->filtertext), std::string("( id > 500 ) && ") + c.text + "&& id == 5 ");
        EXPECT_STREQ(zvdbGetFilter(r), "id > 500");
        _zvdbFreeCriteria(r);
    }
    // A parse-tree filter gives no text to build on: the base is empty.
    tagZVDBRECORD *tree = record();
    ZVDBRET rc = zv::expression_schema(table_);
    ASSERT_EQ(rc, 0);
    void *parsed = zv::parse_expression(table_, "id > 990", &rc);
    ASSERT_NE(parsed, nullptr);
    ASSERT_EQ(zvdbSetFilter(tree, static_cast<const char *>(parsed), 2), 0);
    ASSERT_EQ(zvdbAddLocateCriteria(tree, "id", "5"), 0);
    ASSERT_EQ(zvdbUpdateRecordCriteria(tree, 0), 0);
    EXPECT_STREQ(zvdbGetFilter(tree), "");
    EXPECT_STREQ(tree->filtertext, "id == 5 ");
    // The search under the locate filter: nothing passes id > 500 and id 5.
    EXPECT_EQ(walk(r, true), (std::vector<int32_t>{}));
    ASSERT_EQ(zvdbAddLocateCriteria(r, "town", "Paris"), 0);
    EXPECT_EQ(zvdbUpdateRecordCriteria(r, 0), ZVDB_NO_FIELD);
    _zvdbFreeCriteria(r);
    ASSERT_EQ(zvdbAddLocateCriteria(r, "city", "Paris"), 0);
    EXPECT_EQ(zvdbUpdateRecordCriteria(r, 7), ZVDB_BAD_ARGUMENT);
}

TEST_F(CityTest, FieldNamesTheLanguageWouldNotReadGoInBrackets) {
    create_table("names", {{"id", ZV_INT4, 0}, {"year", ZV_INT4, 0}, {"NOT", ZV_INT4, 0}, {"now", ZV_INT4, 0},
                           {"a.b_2", ZV_INT4, 0}, {"$x", ZV_INT4, 0}},
                 0);
    tagZVDBRECORD *r = record();
    const struct {
        const char *field, *text;
    } cases[] = {{"year", "[year] == 7 "}, {"NOT", "[NOT] == 7 "},     {"now", "[now] == 7 "},
                 {"a.b_2", "a.b_2 == 7 "}, {"$x", "[$x] == 7 "},      {"id", "id == 7 "}};
    for (const auto &c : cases) {
        ASSERT_EQ(zvdbAddLocateCriteria(r, c.field, "7"), 0);
        ASSERT_EQ(zvdbUpdateRecordCriteria(r, 0), 0) << c.field << " " << last();
        EXPECT_STREQ(r->filtertext, c.text);
        _zvdbFreeCriteria(r);
    }
}

TEST_F(CityTest, TheBestIndexFollowsTheRule) {
    // Indexes of the table in the order of their names: "a_city_id" (city,
    // id), "b_id" (id), "c_city_any" (city in any case), "d_amount"; they
    // are defined in another order.
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    ZVHANDLE id = zvdbAddField(table_, "id", ZV_INT4, 0);
    ZVHANDLE city = zvdbAddField(table_, "city", ZV_FSTRING, 12);
    ZVHANDLE amount = zvdbAddField(table_, "amount", ZV_INT4, 0);
    const struct {
        const char *name;
        std::vector<std::pair<ZVHANDLE, int>> segments;
    } defs[] = {{"d_amount", {{amount, 12}}},
                {"c_city_any", {{city, 13}}},
                {"a_city_id", {{city, 12}, {id, 12}}},
                {"b_id", {{id, 12}}}};
    for (const auto &d : defs) {
        ZVHANDLE ix = zvdbAddIndex(table_, d.name, 0, 1, 0);
        ASSERT_NE(ix, nullptr) << last();
        for (const auto &[field, mode] : d.segments) ASSERT_NE(zvdbAddSegment(ix, field, mode), nullptr) << last();
    }
    create_and_open("best", 0);
    tagZVDBRECORD *r = record();
    const struct {
        std::vector<const char *> names;
        int32_t mode;
        const char *best;
    } cases[] = {{{"city"}, 0, "a_city_id"},         {{"city"}, 1, "c_city_any"},
                 {{"city"}, 3, "c_city_any"},        {{"id"}, 0, "b_id"},
                 {{"ID"}, 0, "b_id"},                {{"city", "id"}, 0, "a_city_id"},
                 {{"amount", "city"}, 2, "a_city_id"}, {{"amount", "id"}, 0, "b_id"},
                 {{"amount"}, 0, "d_amount"},        {{"id"}, 1, nullptr},
                 {{"zip"}, 0, nullptr},              {{}, 0, nullptr}};
    for (const auto &c : cases) {
        std::vector<const char *> names = c.names;
        names.push_back(nullptr);
        auto *ix = static_cast<tagZVDBINDEX *>(zvdbGetBestIndex(r, names.data(), c.mode));
        EXPECT_STREQ(ix ? ix->name : nullptr, c.best) << (c.names.empty() ? "" : c.names[0]) << " " << c.mode;
    }
    EXPECT_EQ(zvdbGetBestIndex(r, nullptr, 0), nullptr);

    // Criteria on the chosen index fill its leading segments and set the
    // prefix over them.
    ASSERT_EQ(zvdbAddLocateCriteria(r, "id", "7"), 0);
    ASSERT_EQ(zvdbAddLocateCriteria(r, "city", "Chur"), 0);
    ASSERT_EQ(zvdbSetRecordCriteria(r, 0), 0) << last();
    EXPECT_STREQ(zvdbGetDefaultIndexName(r), "a_city_id");
    EXPECT_EQ(zvdbIsRecordSetOn(r), 1);
    EXPECT_EQ(r->recsetlen, 16);
    _zvdbFreeCriteria(r);
    ASSERT_EQ(zvdbAddLocateCriteria(r, "city", "Ch"), 0);
    ASSERT_EQ(zvdbSetRecordCriteria(r, 2), 0) << last();
    EXPECT_EQ(r->recsetlen, 2);
    // Criteria no index fits read in physical order, without a set.
    _zvdbFreeCriteria(r);
    ASSERT_EQ(zvdbAddLocateCriteria(r, "id", "7"), 0);
    ASSERT_EQ(zvdbSetRecordCriteria(r, 1), 0) << last();
    EXPECT_EQ(zvdbGetDefaultIndex(r), ZVDB_INDEX_PHYSICAL);
    EXPECT_EQ(zvdbIsRecordSetOn(r), 0);
}

// Records larger than a page: every read of one reaches the disk, the
// caller's read of each record the scout found among them.
class LocateFaultTest : public CityTest {
protected:
    void SetUp() override {
        CityTest::SetUp();
        create_table("long", {{"id", ZV_INT4, 0}, {"city", ZV_FSTRING, 12}, {"text", ZV_STRING, 9000}}, 0,
                     {{"bycity", 1, 1}});
        tagZVDBRECORD *w = record();
        const std::string text(8000, 't');
        for (int32_t id = 1; id <= 40; id++) {
            ASSERT_EQ(zvdbSetFieldAsSigned(w, 0, id), 0);
            ASSERT_EQ(zvdbSetFieldAsString(w, 1, id % 10 == 3 ? "Paris" : "Rome"), 0);
            ASSERT_EQ(zvdbSetFieldAsString(w, 2, text.c_str()), 0);
            ASSERT_EQ(zvdbWriteRecord(w), 0);
            ASSERT_EQ(zvdbClearRecord(w), 0);
        }
    }
};

TEST_F(LocateFaultTest, AReadFaultUnderTheSearchIsNoFind) {
    tagZVDBRECORD *r = record();
    int failures = 0;
    for (long n = 1;; n++) {
        ASSERT_LT(n, 200);
        zvdbResetRecord(r);
        // The caller's filter passes the scout's first records over.
        ASSERT_EQ(zvdbFilterRecord(r, "id > 20"), 0);
        ASSERT_EQ(zvdbAddLocateCriteria(r, "city", "Paris"), 0);
        zv::fault_reset();
        zv::fault_set(zv::IoKind::Read, n, EIO);
        mark();
        const int found = zvdbLocateRecord(r, 0);
        const bool fired = zv::io_calls(zv::IoKind::Read) >= n;
        zv::fault_reset();
        if (found) {
            // Found means read: the caller holds the record.
            EXPECT_EQ(id_of(r), 23) << "read " << n;
        } else {
            // The failure itself, not the filter's refusal before it.
            EXPECT_NE(last(), 7777) << "read " << n;
            EXPECT_NE(last(), 739) << "read " << n;
            EXPECT_NE(last(), 0) << "read " << n;
            failures++;
        }
        if (!fired) {
            EXPECT_EQ(found, 1);
            break;
        }
    }
    EXPECT_GT(failures, 3);
}

}  // namespace
}  // namespace rectest
