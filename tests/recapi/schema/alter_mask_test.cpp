// Alteration masks: the work each kind of pending edit of a created and
// opened table asks for through zvdbGetTableStatus, the same-width rule of
// in-place type changes, the marks the checks leave on segments, indexes
// and partitioning, the mask an action selects, and the order of the work.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "recapi/schema/alter_mask.h"
#include "tests/recapi/schema/custfix.h"

namespace {

using Build = std::function<void(ZVHANDLE table)>;
using Edit = std::function<void(ZVHANDLE table)>;

class AlterMaskTest : public schematest::CustTest {
protected:
    // Gives the table its fields and indexes, creates the files "alt" with
    // the create mode and opens them.
    void create(const Build &build, uint32_t createmode = 0) {
        build(table_);
        ASSERT_EQ(zvdbCreateTable(table_, "alt", createmode), 0) << last();
        open();
    }
    void open() {
        ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
        ASSERT_EQ(zvdbOpenTable(table_, "alt", 0), 0) << last();
    }
    // Closes and opens the table again: every handle back to status 0.
    void reopen() {
        ASSERT_EQ(zvdbCloseTable(table_), 0);
        open();
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

// A field that must be added, and an index with one segment per field
// (mode 12), with a file of its own when `file` is given.
void add_field(ZVHANDLE t, const char *name, int32_t type, int32_t length = 0) {
    ASSERT_NE(zvdbAddField(t, name, type, length), nullptr) << name;
}
void add_index(ZVHANDLE t, const char *name, int dup, std::vector<const char *> fields, const char *file = nullptr) {
    ZVHANDLE ix = zvdbAddIndex(t, name, 0, dup, 0);
    ASSERT_NE(ix, nullptr) << name;
    for (const char *f : fields) ASSERT_NE(zvdbAddSegment(ix, zvdbGetFieldByName(t, f), 12), nullptr) << f;
    if (file) {
        ASSERT_EQ(zvdbSetIndexFilename(ix, nullptr, file), 0);
    }
}

// "id", "qty" ZV_INT4 and "name" ZV_FSTRING 16; "byid" (unique) and
// "byname" (duplicates) in the table's index file.
void alt_layout(ZVHANDLE t) {
    add_field(t, "id", ZV_INT4);
    add_field(t, "qty", ZV_INT4);
    add_field(t, "name", ZV_FSTRING, 16);
    add_index(t, "byid", 0, {"id"});
    add_index(t, "byname", 1, {"name"});
}

ZVHANDLE field_of(ZVHANDLE t, const char *name) { return zvdbGetFieldByName(t, name); }
ZVHANDLE byname_segment(ZVHANDLE t) { return zvdbGetSegment(zvdbGetIndexByName(t, "byname"), 0); }

// Every kind of pending edit of the table, each on the table freshly
// opened.
TEST_F(AlterMaskTest, EachPendingEditAsksForItsWork) {
    create(alt_layout);
    const struct {
        const char *what;
        Edit edit;
        uint32_t mask;
    } cases[] = {
        {"nothing", [](ZVHANDLE) {}, 0},
        {"rename", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetFieldName(field_of(t, "name"), "title"), 0); }, 1},
        {"ZV_INT4 to ZV_INT4U", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetFieldType(field_of(t, "qty"), ZV_INT4U), 0); }, 1},
        {"ZV_INT4 to ZV_DFLOAT", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetFieldType(field_of(t, "qty"), ZV_DFLOAT), 0); }, 16},
        {"rename and ZV_INT4 to ZV_DFLOAT",
         [](ZVHANDLE t) {
             EXPECT_EQ(zvdbSetFieldName(field_of(t, "qty"), "amount"), 0);
             EXPECT_EQ(zvdbSetFieldType(field_of(t, "amount"), ZV_DFLOAT), 0);
         },
         16},
        {"longer ZV_FSTRING", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetFieldLength(field_of(t, "name"), 20), 0); }, 16},
        {"precision and a longer ZV_FSTRING",
         [](ZVHANDLE t) {
             EXPECT_EQ(zvdbSetFieldPrecision(field_of(t, "id"), 5), 0);
             EXPECT_EQ(zvdbSetFieldLength(field_of(t, "name"), 20), 0);
         },
         16},
        {"precision", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetFieldPrecision(field_of(t, "qty"), 5), 0); }, 2},
        {"identity field", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetIdentityField(t, "qty", 1, 1), 0); }, 64},
        {"rename, precision and identity",
         [](ZVHANDLE t) {
             EXPECT_EQ(zvdbSetFieldName(field_of(t, "name"), "title"), 0);
             EXPECT_EQ(zvdbSetFieldPrecision(field_of(t, "qty"), 5), 0);
             EXPECT_EQ(zvdbSetIdentityField(t, "id", 1, 1), 0);
         },
         1 | 2 | 64},
        {"new field", [](ZVHANDLE t) { add_field(t, "extra", ZV_INT4); }, 16},
        {"rename and a new field",
         [](ZVHANDLE t) {
             EXPECT_EQ(zvdbSetFieldName(field_of(t, "id"), "key"), 0);
             add_field(t, "extra", ZV_INT4);
         },
         16},
        {"deleted field", [](ZVHANDLE t) { EXPECT_EQ(zvdbDelFieldByName(t, "qty"), 0); }, 16},
        {"moved field", [](ZVHANDLE t) { EXPECT_EQ(zvdbMoveField(field_of(t, "name"), 0), 0); }, 16},
        {"new index with its own file", [](ZVHANDLE t) { add_index(t, "byqty", 1, {"qty"}, "altqty"); }, 0x404},
        {"new index in the table's index file", [](ZVHANDLE t) { add_index(t, "byqty", 1, {"qty"}); }, 12},
        {"rename and a new index with its own file",
         [](ZVHANDLE t) {
             EXPECT_EQ(zvdbSetFieldName(field_of(t, "name"), "title"), 0);
             add_index(t, "byqty", 1, {"qty"}, "altqty");
         },
         0x405},
        {"index sharing its file dropped", [](ZVHANDLE t) { EXPECT_EQ(zvdbDelIndex(t, 1), 0); }, 8},
        {"key type", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetIndexKeyType(zvdbGetIndex(t, 1), 0x08), 0); }, 8},
        {"empty character", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetIndexEmptyChar(zvdbGetIndex(t, 1), 32), 0); }, 8},
        {"index name", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetIndexName(zvdbGetIndex(t, 1), "bytitle"), 0); }, 8},
        {"distinct-key counts", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetIndexDistinctKeyCountFlag(zvdbGetIndex(t, 1), 1), 0); }, 32},
        {"segment mode", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetSegmentMode(byname_segment(t), 13), 0); }, 8},
        {"segment moved to another field",
         [](ZVHANDLE t) { EXPECT_EQ(zvdbSetSegmentField(byname_segment(t), field_of(t, "qty")), 0); }, 8},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        reopen();
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
    create([](ZVHANDLE t) {
        const struct {
            const char *name;
            int32_t type;
        } fields[] = {{"s", ZV_SFLOAT}, {"d", ZV_DFLOAT}, {"ts", ZV_TIMES}, {"i", ZV_INT4},  {"m", ZV_MONEY},
                      {"t", ZV_TIME},   {"tm", ZV_TIME_MS}, {"h", ZV_INT2}, {"c", ZV_CHAR}, {"b", ZV_BOOL}};
        for (const auto &f : fields) add_field(t, f.name, f.type);
    });
    const struct {
        const char *field;
        std::vector<int32_t> types;  // set in turn
        uint32_t mask;
    } cases[] = {
        {"s", {ZV_DFLOAT}, 16},          {"s", {ZV_TIMES}, 16},        {"s", {ZV_TIMES_MS}, 16},
        {"d", {ZV_SFLOAT}, 16},          {"d", {ZV_TIMES}, 1},         {"ts", {ZV_TIMES_MS}, 1},
        {"i", {ZV_DATE}, 1},             {"i", {ZV_MONEY}, 1},         {"m", {ZV_INT4}, 16},
        {"t", {ZV_TIME_MS}, 16},         {"tm", {ZV_TIME}, 16},        {"t", {ZV_INT4U}, 1},
        {"tm", {ZV_DATE}, 1},            {"h", {ZV_INT4}, 16},         {"h", {ZV_INT2U}, 1},
        {"c", {ZV_BOOL}, 1},             {"b", {ZV_CHARU}, 1},         {"i", {ZV_BIGINT}, 16},
        {"i", {ZV_DFLOAT, ZV_INT4U}, 1}, {"i", {ZV_INT4U, ZV_SFLOAT}, 16},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.field) + " to " + std::to_string(c.types.back()));
        reopen();
        for (int32_t type : c.types) ASSERT_EQ(zvdbSetFieldType(fld(c.field), type), 0);
        EXPECT_EQ(status(), c.mask);
    }
}

// Changes that keep the bytes but change the keys rebuild the indexes over
// the field: a longer variable-length field (every segment on it), and a
// type changed in place under a segment whose keys the engine forms by the
// type; a segment of its own mode keeps its keys. The check marks those
// segments (status 32), and the marks stay after it.
TEST_F(AlterMaskTest, KeyChangingEditsInPlaceRebuildTheIndexesOverTheField) {
    create([](ZVHANDLE t) {
        add_field(t, "id", ZV_INT4);
        add_field(t, "qty", ZV_INT4);
        add_field(t, "note", ZV_STRING, 20);
        add_index(t, "byid", 0, {"id"});
        add_index(t, "bynote", 1, {"note"});
        ZVHANDLE raw = zvdbAddIndex(t, "byqty", 0, 1, 0);
        ASSERT_NE(zvdbAddSegment(raw, zvdbGetFieldByName(t, "qty"), 1), nullptr);
    });
    const struct {
        const char *what;
        Edit edit;
        const char *marked;  // the index whose segment the check marks; NULL none
        uint32_t mask;
    } cases[] = {
        {"longer ZV_STRING", [](ZVHANDLE t) { EXPECT_EQ(zvdbSetFieldLength(field_of(t, "note"), 40), 0); }, "bynote", 1 | 8},
        {"ZV_INT4 under a schema segment to ZV_INT4U",
         [](ZVHANDLE t) { EXPECT_EQ(zvdbSetFieldType(field_of(t, "id"), ZV_INT4U), 0); }, "byid", 1 | 8},
        {"ZV_INT4 under an unsigned segment to ZV_INT4U",
         [](ZVHANDLE t) { EXPECT_EQ(zvdbSetFieldType(field_of(t, "qty"), ZV_INT4U), 0); }, nullptr, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        reopen();
        c.edit(table_);
        for (const char *name : {"byid", "bynote", "byqty"}) EXPECT_EQ(zvdbGetSegmentStatus(zvdbGetSegment(idx(name), 0)), 0u);
        EXPECT_EQ(status(), c.mask);
        for (const char *name : {"byid", "bynote", "byqty"}) {
            const bool marked = c.marked && name == std::string(c.marked);
            EXPECT_EQ(zvdbGetSegmentStatus(zvdbGetSegment(idx(name), 0)), marked ? 32u : 0u) << name;
        }
        ZVDBRET rc = -1;
        EXPECT_EQ(select(0, &rc), c.mask);
        EXPECT_EQ(rc, 0);
    }
}

// Dropping an index in place needs it alone in its index file: the first
// index of a file that holds others is rebuilt with the rest. Without a
// hidden index or another index to host the records the indexes are
// rebuilt; a table without indexes is rebuilt unless a hidden index hosts
// its records.
TEST_F(AlterMaskTest, DroppedIndexesAndTheIndexThatHostsTheRecords) {
    const struct {
        const char *what;
        uint32_t createmode;
        Build build;
        int32_t dropped;  // -1 none
        uint32_t mask;
    } cases[] = {
        {"own file", 0,
         [](ZVHANDLE t) {
             alt_layout(t);
             add_index(t, "byqty", 1, {"qty"}, "altqty");
         },
         2, 4},
        {"first of a shared file", 32 | 64, alt_layout, 0, 8},
        {"only index, in the file of the hidden indexes", 0,
         [](ZVHANDLE t) {
             add_field(t, "id", ZV_INT4);
             add_index(t, "byid", 0, {"id"});
         },
         0, 8},
        {"only index, in its own file, hidden indexes", 0,
         [](ZVHANDLE t) {
             add_field(t, "id", ZV_INT4);
             add_index(t, "byid", 0, {"id"}, "altid");
         },
         0, 4},
        {"only index, no hidden index", 32 | 64,
         [](ZVHANDLE t) {
             add_field(t, "id", ZV_INT4);
             add_index(t, "byid", 0, {"id"});
         },
         0, 4 | 8},
        {"no index, hidden indexes", 0, [](ZVHANDLE t) { add_field(t, "id", ZV_INT4); }, -1, 0},
        {"no index, no hidden index", 32 | 64, [](ZVHANDLE t) { add_field(t, "id", ZV_INT4); }, -1, 8},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        create(c.build, c.createmode);
        if (c.dropped >= 0) {
            ASSERT_EQ(zvdbDelIndex(table_, c.dropped), 0);
        }
        EXPECT_EQ(status(), c.mask);
        ASSERT_EQ(zvdbRemoveTable(table_), 0);
    }
}

// Deleting every segment of an existing index deletes the index (status
// 2), which stays after the check.
TEST_F(AlterMaskTest, AnIndexLeftWithoutSegmentsBecomesDeleted) {
    create(alt_layout);
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
    create(alt_layout);
    for (int32_t dropped : {0, 1}) {
        SCOPED_TRACE(dropped);
        reopen();
        const int32_t partindex = zvdbGetIdxno(idx("byname")) - table_->datno - 1;
        table_->createmode |= 0x800;
        table_->partindex = partindex;
        table_->partrule = _zvdb_strdup("byname");
        ASSERT_EQ(zvdbDelIndex(table_, dropped), 0);
        const bool ends = dropped == 1;
        EXPECT_EQ(status(), ends ? 16u | 8u : 8u);
        EXPECT_EQ(table_->partindex, ends ? -1 : partindex);
        EXPECT_EQ(table_->partrule == nullptr, ends);
        EXPECT_EQ((table_->createmode & 0x800) != 0, !ends);
    }
}

// The action's low byte selects the mask; bit 0x2000 forces a copy; the
// other high bits leave the selection alone.
TEST_F(AlterMaskTest, ActionsSelectTheMask) {
    create(alt_layout);
    ASSERT_EQ(zvdbSetFieldName(fld("name"), "title"), 0);
    const struct {
        uint32_t action;
        ZVDBRET rc;
        uint32_t mask;
    } cases[] = {{0, 0, 1},    {0x100, 0, 1},   {0x4000, 0, 1},  {1, 0, 8},       {0x1001, 0, 8},
                 {3, 0, 16},   {0x2000, 0, 16}, {0x2001, 0, 16}, {0x2002, 0, 16}, {2, 4085, 0},
                 {4, 4085, 0}, {0xFF, 4085, 0}, {0x102, 4085, 0}};
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
    create(alt_layout);
    ASSERT_NE(zvdbAddIndex(table_, "empty", 0, 0, 0), nullptr);
    ZVDBRET rc = -1;
    EXPECT_EQ(select(0, &rc), 0u);
    EXPECT_EQ(rc, 4095);
    EXPECT_EQ(status(), 12u);
    add_field(table_, "extra", ZV_INT4);
    EXPECT_EQ(select(0, &rc), 16u);
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(zvdbRemoveTable(table_), 0);

    create([](ZVHANDLE t) { add_field(t, "id", ZV_INT4); }, 32 | 64);
    EXPECT_EQ(select(1, &rc), 0u);
    EXPECT_EQ(rc, 4048);
    add_index(table_, "byid", 0, {"id"});
    EXPECT_EQ(select(1, &rc), 8u);
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(zvdbRemoveTable(table_), 0);

    create([](ZVHANDLE t) { add_field(t, "id", ZV_INT4); });
    EXPECT_EQ(select(1, &rc), 8u);
    EXPECT_EQ(rc, 0);
}

// An item of the index list that is no index fails the check with 4018,
// kept by the status call, instead of a mask that lost what the other
// indexes asked for.
TEST_F(AlterMaskTest, AListItemThatIsNoIndexFails) {
    create(alt_layout);
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
