// Alteration masks: the work each kind of pending edit asks for through
// zvdbGetTableStatus, the same-width rule of in-place type changes, the
// marks the checks leave on segments, indexes and partitioning, the mask an
// action selects, and the order of the work.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "recapi/schema/alter_mask.h"
#include "tests/recapi/schema/schemafix.h"
#include "tests/support/tablebind.h"

namespace {

using schematest::SchemaTest;

class AlterMaskTest : public SchemaTest {
protected:
    // Creates the file set `name` of reclen-byte records and binds the table
    // to it.
    void make(const char *name, const DATOBJ *schema, int count, uint16_t reclen, IIDX *idx, int nidx) {
        IFIL ifil = IFIL{name, -1, reclen, 0, 0, int16_t(nidx), 0, 0, idx, nullptr, nullptr, 0};
        ASSERT_EQ(zvtest::bind_table(table_, &ifil, schema, count), 0);
        bound_ = true;
    }
    // Binds the table afresh to its files: every handle back to status 0.
    void reopen(const char *name) {
        ASSERT_EQ(zvtest::unbind_table(table_), 0);
        ASSERT_EQ(zvtest::open_table(table_, name), 0);
    }
    ZVHANDLE fld(const char *name) { return zvdbGetFieldByName(table_, name); }
    ZVHANDLE idx(const char *name) { return zvdbGetIndexByName(table_, name); }
    uint32_t status() { return zvdbGetTableStatus(table_); }
    // The mask an action selects, with the code into *rc.
    uint32_t select(uint32_t action, ZVDBRET *rc) {
        uint32_t mask = 0xDEAD;
        *rc = _zvdbSelectAlterMask(table_, action, &mask);
        return mask;
    }
};

using Edit = std::function<void(ZVHANDLE table)>;

// A new index on "qty", with a file of its own when `own`.
void add_qty_index(ZVHANDLE table, bool own) {
    ZVHANDLE ix = zvdbAddIndex(table, "byqty", 0, 1, 0);
    ASSERT_NE(ix, nullptr);
    ASSERT_NE(zvdbAddSegment(ix, zvdbGetFieldByName(table, "qty"), 12), nullptr);
    if (own) {
        ASSERT_EQ(zvdbSetIndexFilename(ix, nullptr, "fixqty"), 0);
    }
}

// Every kind of pending edit of the fixture table ("id", "qty" ZV_INT4,
// "name" ZV_FSTRING 16; "byid" and "byname" sharing one index file), each
// on the table freshly bound.
TEST_F(AlterMaskTest, EachPendingEditAsksForItsWork) {
    bind_fixture();
    const struct {
        const char *what;
        Edit edit;
        uint32_t mask;
    } cases[] = {
        {"nothing", [](ZVHANDLE) {}, 0},
        {"rename", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetFieldName(zvdbGetFieldByName(t, "name"), "title"), 0); }, 1},
        {"ZV_INT4 to ZV_INT4U", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetFieldType(zvdbGetFieldByName(t, "qty"), ZV_INT4U), 0); }, 1},
        {"ZV_INT4 to ZV_DFLOAT", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetFieldType(zvdbGetFieldByName(t, "qty"), ZV_DFLOAT), 0); }, 16},
        {"rename and ZV_INT4 to ZV_DFLOAT",
         [](ZVHANDLE t) {
             ZVHANDLE f = zvdbGetFieldByName(t, "qty");
             EXPECT_EQ(zvdbSetFieldName(f, "amount"), 0);
             EXPECT_EQ(zvdbSetFieldType(f, ZV_DFLOAT), 0);
         },
         16},
        {"longer ZV_FSTRING", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetFieldLength(zvdbGetFieldByName(t, "name"), 20), 0); }, 16},
        {"precision and a longer ZV_FSTRING",
         [](ZVHANDLE t) {
             EXPECT_EQ(zvdbSetFieldPrecision(zvdbGetFieldByName(t, "id"), 5), 0);
             EXPECT_EQ(zvdbSetFieldLength(zvdbGetFieldByName(t, "name"), 20), 0);
         },
         16},
        {"precision", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetFieldPrecision(zvdbGetFieldByName(t, "qty"), 5), 0); }, 2},
        {"identity field", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetIdentityField(t, "qty", 1, 1), 0); }, 64},
        {"rename, precision and identity",
         [](ZVHANDLE t) {
             EXPECT_EQ(zvdbSetFieldName(zvdbGetFieldByName(t, "name"), "title"), 0);
             EXPECT_EQ(zvdbSetFieldPrecision(zvdbGetFieldByName(t, "qty"), 5), 0);
             EXPECT_EQ(zvdbSetIdentityField(t, "id", 1, 1), 0);
         },
         1 | 2 | 64},
        {"new field", [](ZVHANDLE t) { EXPECT_NE(zvdbAddField(t, "extra", ZV_INT4, 0), nullptr); }, 16},
        {"rename and a new field",
         [](ZVHANDLE t) {
             EXPECT_EQ(zvdbSetFieldName(zvdbGetFieldByName(t, "id"), "key"), 0);
             EXPECT_NE(zvdbAddField(t, "extra", ZV_INT4, 0), nullptr);
         },
         16},
        {"deleted field", [](ZVHANDLE t) { EXPECT_EQ(zvdbDelFieldByName(t, "qty"), 0); }, 16},
        {"moved field", [](ZVHANDLE t) { EXPECT_EQ(zvdbMoveField(zvdbGetFieldByName(t, "name"), 0), 0); }, 16},
        {"new index with its own file", [](ZVHANDLE t) { add_qty_index(t, true); }, 0x404},
        {"new index in the table's index file", [](ZVHANDLE t) { add_qty_index(t, false); }, 12},
        {"rename and a new index with its own file",
         [](ZVHANDLE t) {
             EXPECT_EQ(zvdbSetFieldName(zvdbGetFieldByName(t, "name"), "title"), 0);
             add_qty_index(t, true);
         },
         0x405},
        {"index sharing its file dropped", [](ZVHANDLE t) { EXPECT_EQ(zvdbDelIndex(t, 1), 0); }, 8},
        {"first index of a shared file dropped", [](ZVHANDLE t) { EXPECT_EQ(zvdbDelIndex(t, 0), 0); }, 8},
        {"key type", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetIndexKeyType(zvdbGetIndex(t, 1), 0x08), 0); }, 8},
        {"empty character", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetIndexEmptyChar(zvdbGetIndex(t, 1), 32), 0); }, 8},
        {"index name", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetIndexName(zvdbGetIndex(t, 1), "bytitle"), 0); }, 8},
        {"distinct-key counts", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetIndexDistinctKeyCountFlag(zvdbGetIndex(t, 1), 1), 0); }, 32},
        {"segment mode", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetSegmentMode(zvdbGetSegment(zvdbGetIndex(t, 1), 0), 13), 0); }, 8},
        {"segment moved to another field",
         [](ZVHANDLE t) {
             EXPECT_EQ(zvdbSetSegmentField(zvdbGetSegment(zvdbGetIndex(t, 1), 0), zvdbGetFieldByName(t, "qty")), 0);
         },
         8},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        reopen("fix");
        c.edit(table_);
        EXPECT_EQ(status(), c.mask);
        ZVDBRET rc = -1;
        EXPECT_EQ(select(0, &rc), c.mask);
        EXPECT_EQ(rc, 0);
    }
}

// A type change is done in place only when the stored values read the same
// under the new type: same width and a kind the new type takes as stored.
// The change is weighed against the type the records were stored with,
// however many changes came between.
TEST_F(AlterMaskTest, TypeChangesInPlaceKeepTheStoredWidth) {
    const DATOBJ schema[] = {{"s", 0, ZV_SFLOAT, 4, 0, 0},     {"d", 4, ZV_DFLOAT, 8, 0, 0},
                             {"ts", 12, ZV_TIMES, 8, 0, 0},    {"i", 20, ZV_INT4, 4, 0, 0},
                             {"m", 24, ZV_MONEY, 4, 0, 0},     {"t", 28, ZV_TIME, 4, 0, 0},
                             {"tm", 32, ZV_TIME_MS, 4, 0, 0},  {"h", 36, ZV_INT2, 2, 0, 0},
                             {"c", 38, ZV_CHAR, 1, 0, 0},      {"b", 39, ZV_BOOL, 1, 0, 0}};
    static const ISEG seg[1] = {{20, 4, 0}};
    IIDX ix[1] = {IIDX{4, 0, 0, 0, 0, 1, seg, "byi", nullptr, nullptr, nullptr}};
    make("types", schema, 10, 40, ix, 1);
    const struct {
        const char *field;
        std::vector<int32_t> types;  // set in turn
        uint32_t mask;
    } cases[] = {
        {"s", {ZV_DFLOAT}, 16},        {"s", {ZV_TIMES}, 16},        {"s", {ZV_TIMES_MS}, 16},
        {"d", {ZV_SFLOAT}, 16},        {"d", {ZV_TIMES}, 1},         {"ts", {ZV_TIMES_MS}, 1},
        {"i", {ZV_DATE}, 1},           {"i", {ZV_MONEY}, 1},         {"m", {ZV_INT4}, 16},
        {"t", {ZV_TIME_MS}, 16},       {"tm", {ZV_TIME}, 16},        {"t", {ZV_INT4U}, 1},
        {"tm", {ZV_DATE}, 1},          {"h", {ZV_INT4}, 16},         {"h", {ZV_INT2U}, 1},
        {"c", {ZV_BOOL}, 1},           {"b", {ZV_CHARU}, 1},         {"i", {ZV_BIGINT}, 16},
        {"i", {ZV_DFLOAT, ZV_INT4U}, 1}, {"i", {ZV_INT4U, ZV_SFLOAT}, 16},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.field) + " to " + std::to_string(c.types.back()));
        reopen("types");
        for (int32_t type : c.types) ASSERT_EQ(zvdbSetFieldType(fld(c.field), type), 0);
        EXPECT_EQ(status(), c.mask);
    }
}

// Lengthening a variable-length field rewrites the schema in place and
// rebuilds the indexes over it: the check marks each segment on the field
// (status 32), and the marks stay after the check.
TEST_F(AlterMaskTest, LongerVariableLengthFieldsRebuildTheirIndexes) {
    const DATOBJ schema[] = {{"id", 0, ZV_INT4, 4, 0, 0}, {"note", 4, ZV_STRING, 20, 0, 0}};
    static const ISEG byid[1] = {{0, 4, 0}};
    static const ISEG bynote[1] = {{1, 20, 12}};
    IIDX ix[2] = {IIDX{4, 0, 0, 0, 0, 1, byid, "byid", nullptr, nullptr, nullptr},
                  IIDX{24, 0, 1, 0, 0, 1, bynote, "bynote", nullptr, nullptr, nullptr}};
    make("notes", schema, 2, 24, ix, 2);
    ZVHANDLE seg = zvdbGetSegment(idx("bynote"), 0);
    ASSERT_NE(seg, nullptr);
    ASSERT_EQ(zvdbSetFieldLength(fld("note"), 40), 0);
    EXPECT_EQ(zvdbGetSegmentStatus(seg), 0u);
    EXPECT_EQ(status(), 1u | 8u);
    EXPECT_EQ(zvdbGetSegmentStatus(seg), 32u);
    EXPECT_EQ(zvdbGetSegmentStatus(zvdbGetSegment(idx("byid"), 0)), 0u);
    ZVDBRET rc = -1;
    EXPECT_EQ(select(0, &rc), 1u | 8u);
    EXPECT_EQ(rc, 0);
}

// Dropping an index in place needs it alone in its index file; without a
// hidden index or another index to host the records the indexes are
// rebuilt; a table without indexes is rebuilt unless a hidden index hosts
// its records.
TEST_F(AlterMaskTest, DroppedIndexesAndTheIndexThatHostsTheRecords) {
    const DATOBJ schema[] = {{"id", 0, ZV_INT4, 4, 0, 0}, {"qty", 4, ZV_INT4, 4, 0, 0}};
    static const ISEG byid[1] = {{0, 4, 0}};
    static const ISEG byqty[1] = {{1, 4, 12}};
    IIDX two[2] = {IIDX{4, 0, 0, 0, 0, 1, byid, "byid", nullptr, nullptr, nullptr},
                   IIDX{8, 0, 1, 0, 0, 1, byqty, "byqty", "ownqty", nullptr, nullptr}};
    make("own", schema, 2, 8, two, 2);
    ASSERT_EQ(zvdbDelIndex(table_, 1), 0);
    EXPECT_EQ(status(), 4u);

    ASSERT_EQ(zvtest::unbind_table(table_), 0);
    make("one", schema, 2, 8, two, 1);
    ASSERT_EQ(zvdbDelIndex(table_, 0), 0);
    EXPECT_EQ(status(), 4u | 8u);
    table_->hasrowid = 1;
    EXPECT_EQ(status(), 4u);

    ASSERT_EQ(zvtest::unbind_table(table_), 0);
    make("none", schema, 2, 8, nullptr, 0);
    EXPECT_EQ(status(), 8u);
    table_->hasrecbyt = 1;
    EXPECT_EQ(status(), 0u);
}

// Deleting every segment of an existing index deletes the index (status
// 2), which stays after the check.
TEST_F(AlterMaskTest, AnIndexLeftWithoutSegmentsBecomesDeleted) {
    bind_fixture();
    ZVHANDLE byname = idx("byname");
    ASSERT_EQ(zvdbDelSegment(byname, 0), 0);
    EXPECT_EQ(zvdbGetIndexStatus(byname), 0u);
    EXPECT_EQ(status(), 8u);
    EXPECT_EQ(zvdbGetIndexStatus(byname), 2u);
}

// Dropping the partition index (counted from the data file, hidden indexes
// included) ends the partitioning kept in the handle and copies the
// records; dropping another index leaves it.
TEST_F(AlterMaskTest, DroppingThePartitionIndexEndsThePartitioning) {
    bind_fixture();
    for (int32_t dropped : {0, 1}) {
        SCOPED_TRACE(dropped);
        reopen("fix");
        table_->createmode |= 0x800;
        table_->partindex = 1;
        table_->partrule = _zvdb_strdup("byname");
        ASSERT_EQ(zvdbDelIndex(table_, dropped), 0);
        const bool ends = dropped == 1;
        EXPECT_EQ(status(), ends ? 16u | 8u : 8u);
        EXPECT_EQ(table_->partindex, ends ? -1 : 1);
        EXPECT_EQ(table_->partrule == nullptr, ends);
        EXPECT_EQ((table_->createmode & 0x800) != 0, !ends);
    }
}

// The action's low byte selects the mask; bit 0x2000 forces a copy; the
// other high bits leave the selection alone.
TEST_F(AlterMaskTest, ActionsSelectTheMask) {
    bind_fixture();
    ASSERT_EQ(zvdbSetFieldName(fld("name"), "title"), 0);
    const struct {
        uint32_t action;
        ZVDBRET rc;
        uint32_t mask;
    } cases[] = {{0, 0, 1},      {0x100, 0, 1}, {0x4000, 0, 1},   {1, 0, 8},      {0x1001, 0, 8},
                 {3, 0, 16},     {0x2000, 0, 16}, {0x2001, 0, 16}, {0x2002, 0, 16}, {2, 4085, 0},
                 {4, 4085, 0},   {0xFF, 4085, 0}, {0x102, 4085, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.action);
        ZVDBRET rc = -1;
        EXPECT_EQ(select(c.action, &rc), c.mask);
        EXPECT_EQ(rc, c.rc);
    }
}

// An index without segments stops an automatic alteration (4095) unless
// the fields ask for a copy, which makes the index check moot; the status
// reports it as a rebuild. Action 1 on a table without any index: 4048.
TEST_F(AlterMaskTest, IndexesWithoutSegmentsAndTablesWithoutIndexes) {
    bind_fixture();
    ASSERT_NE(zvdbAddIndex(table_, "empty", 0, 0, 0), nullptr);
    ZVDBRET rc = -1;
    EXPECT_EQ(select(0, &rc), 0u);
    EXPECT_EQ(rc, 4095);
    EXPECT_EQ(status(), 12u);
    ASSERT_NE(zvdbAddField(table_, "extra", ZV_INT4, 0), nullptr);
    EXPECT_EQ(select(0, &rc), 16u);
    EXPECT_EQ(rc, 0);

    ASSERT_EQ(zvtest::unbind_table(table_), 0);
    const DATOBJ schema[] = {{"id", 0, ZV_INT4, 4, 0, 0}};
    make("bare", schema, 1, 8, nullptr, 0);
    EXPECT_EQ(select(1, &rc), 0u);
    EXPECT_EQ(rc, 4048);
    ZVHANDLE ix = zvdbAddIndex(table_, "byid", 0, 0, 0);
    ASSERT_NE(ix, nullptr);
    ASSERT_NE(zvdbAddSegmentEx(ix, 0, 4, 0), nullptr);
    EXPECT_EQ(select(1, &rc), 8u);
    EXPECT_EQ(rc, 0);
}

// An item of the index list that is no index fails the check with 4018,
// kept by the status call, instead of a mask that lost what the other
// indexes asked for.
TEST_F(AlterMaskTest, AListItemThatIsNoIndexFails) {
    bind_fixture();
    ASSERT_EQ(zvdbDelIndex(table_, 0), 0);
    ZVHANDLE byname = idx("byname");
    ASSERT_EQ(_zvdbListReplace(table_->indexes, 1, fld("qty")), 0);
    mark();
    EXPECT_EQ(status(), 0u);
    EXPECT_EQ(last(), 4018);
    ZVDBRET rc = -1;
    EXPECT_EQ(select(0, &rc), 0u);
    EXPECT_EQ(rc, 4018);
    ASSERT_EQ(_zvdbListReplace(table_->indexes, 1, byname), 0);
    EXPECT_EQ(status(), 8u);
    mark();
    EXPECT_EQ(zvdbGetTableStatus(nullptr), 0u);
    EXPECT_EQ(zvdbGetTableStatus(session_), 0u);
    EXPECT_EQ(last(), 4013);
}

// The work of a mask in the order it is done: a copy alone; then schema,
// attributes and identity field; then a rebuild, which leaves the index
// work in place undone, or indexes in place and distinct-key counts.
TEST(AlterSteps, WorkFollowsItsPrecedence) {
    const struct {
        uint32_t mask;
        std::vector<uint32_t> steps;
    } cases[] = {
        {0, {}},
        {0x7F | 0x400, {16}},
        {1 | 2 | 4 | 8 | 32 | 64, {1, 2, 64, 8}},
        {64 | 32 | 4 | 2 | 1 | 0x400, {1, 2, 64, 4, 32}},
        {12, {8}},
        {0x404, {4}},
        {32, {32}},
        {64 | 1, {1, 64}},
    };
    for (const auto &c : cases) {
        uint32_t steps[zv::kAlterMaxSteps] = {};
        const int n = zv::alter_steps(c.mask, steps);
        EXPECT_EQ(std::vector<uint32_t>(steps, steps + n), c.steps) << c.mask;
    }
}

}  // namespace
