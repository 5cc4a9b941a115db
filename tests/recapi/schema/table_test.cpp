// Table handles: allocation under a session, properties, the table a handle
// leads to, the table type, full-text definitions kept by the table, and
// release: leak-free, and allocation failures that leave every list as it
// was.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/core/pools.h"
#include "recapi/base/super.h"
#include "recapi/schema/fti.h"
#include "recapi/schema/icon.h"
#include "recapi/schema/index.h"
#include "recapi/schema/segment.h"
#include "recapi/schema/table.h"
#include "tests/recapi/schema/schemafix.h"

namespace {

using TableTest = schematest::SchemaTest;

int64_t live_blocks() { return int64_t(zv::platform_alloc_count() - zv::platform_free_count()); }

void on_close(void) {}

TEST_F(TableTest, ATableUnderASessionStartsClosedWithItsDefaults) {
    ZVHANDLE t0 = zvdbAllocTable(session_);
    ASSERT_NE(t0, nullptr);
    EXPECT_EQ(zvdbFreeTable(t0), nullptr);
    session_->callbacks[11] = on_close;
    session_->callbacks[26] = on_close;
    auto *t = static_cast<tagZVDBTABLE *>(zvdbAllocTable(session_));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->session, session_);
    EXPECT_EQ(t->database, nullptr);
    EXPECT_STREQ(zvdbGetTableName(t), "table");
    EXPECT_STREQ(t->physname, "table");
    EXPECT_STREQ(zvdbGetTablePath(t), "");
    EXPECT_STREQ(zvdbGetTableExtension(t), ".dat");
    EXPECT_STREQ(zvdbGetIndexExtension(t), ".idx");
    EXPECT_EQ(zvdbGetTablePermission(t), 6366u);
    EXPECT_EQ(t->datno, -1);
    EXPECT_EQ(t->partindex, -1);
    EXPECT_EQ(t->partbits, -1);
    EXPECT_EQ(t->alignment, 8u);
    EXPECT_EQ(t->alterstate, 3);
    EXPECT_EQ(t->reservedcheck, 1);
    EXPECT_EQ(t->tabletype, 0u);
    EXPECT_EQ(zvdbIsActiveTable(t), 0);
    EXPECT_EQ(zvdbGetTableFieldCount(t), 0);
    EXPECT_EQ(zvdbGetTableIndexCount(t), 0);
    EXPECT_EQ(zvdbGetTableFTICount(t), 0);
    for (int k = 0; k < kZvdbCallbackSlots; k++) EXPECT_EQ(t->callbacks[k], session_->callbacks[k]) << k;
    ASSERT_NE(t->icons, nullptr);
    EXPECT_EQ(t->icons->capacity, 32);
    for (int i = 0; i < 32; i++) EXPECT_EQ(t->icons->slots[i].context, -1);
    EXPECT_GE(_zvdbListIndexOf(session_->children, t), 0);
    EXPECT_EQ(zvdbFreeTable(t), nullptr);
    EXPECT_LT(_zvdbListIndexOf(session_->children, t), 0);
    EXPECT_EQ(zvdbAllocTable(nullptr), nullptr);
}

TEST_F(TableTest, ATableUnderADatabaseTakesItsPathAndCallbacks) {
    auto *db = static_cast<tagZVDBDATABASE *>(_zvdb_alloc(1, sizeof(tagZVDBDATABASE)));
    db->kind = ZVDB_DATABASE_HANDLE;
    db->session = session_;
    db->path = _zvdb_strdup("dbdir");
    db->tables = _zvdbListAlloc();
    db->callbacks[5] = on_close;
    auto *t = static_cast<tagZVDBTABLE *>(zvdbAllocTable(db));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->database, db);
    EXPECT_EQ(t->session, session_);
    EXPECT_STREQ(zvdbGetTablePath(t), "dbdir");
    EXPECT_EQ(t->callbacks[5], on_close);
    EXPECT_EQ(_zvdbListIndexOf(db->tables, t), 0);
    EXPECT_LT(_zvdbListIndexOf(session_->children, t), 0);
    zvdbFreeTable(t);
    EXPECT_EQ(_zvdbListCount(db->tables), 0);
    _zvdbListFree(db->tables);
    _zvdb_free(db->path);
    _zvdb_free(db);
}

TEST_F(TableTest, SchemaPositionsOfFieldsComeFromTheirEntries) {
    bind_fixture();
    tagZVDBFIELD *fresh = field("fresh", ZV_INT4);
    ASSERT_NE(fresh, nullptr);
    const struct {
        int32_t n, position, type;
    } cases[] = {{0, 0, ZV_INT4}, {2, 2, ZV_FSTRING}, {3, -1, 0}, {9, -1, 0}};
    for (const auto &c : cases) {
        int32_t type = 0;
        EXPECT_EQ(_zvdbGetDodaFieldInfo(table_, c.n, &type), c.position) << c.n;
        EXPECT_EQ(type, c.type) << c.n;
    }
}

TEST_F(TableTest, PathsSplitAtTheBarWithoutTouchingTheCallersText) {
    char text[] = "a|b";
    EXPECT_EQ(zvdbSetTablePath(table_, text), 0);
    EXPECT_STREQ(text, "a|b");
    EXPECT_STREQ(zvdbGetTablePath(table_), "a");
    EXPECT_STREQ(table_->mirrorpath, "b");
    EXPECT_EQ(zvdbSetTablePath(table_, "c"), 0);
    EXPECT_STREQ(zvdbGetTablePath(table_), "c");
    EXPECT_EQ(table_->mirrorpath, nullptr);
    EXPECT_EQ(zvdbSetTablePath(table_, nullptr), 4007);
    EXPECT_EQ(zvdbSetTableExtension(table_, nullptr), 4007);
    EXPECT_EQ(zvdbSetTableExtension(table_, ".tbl"), 0);
    EXPECT_STREQ(zvdbGetTableExtension(table_), ".tbl");
    EXPECT_EQ(zvdbSetIndexExtension(table_, ".ix"), 0);
    EXPECT_STREQ(zvdbGetIndexExtension(table_), ".ix");
    EXPECT_EQ(zvdbSetIndexExtension(table_, nullptr), 0);
    EXPECT_STREQ(zvdbGetIndexExtension(table_), ".idx");
}

TEST_F(TableTest, AnActiveTableKeepsItsPathPasswordAndGroup) {
    bind_fixture();
    const struct {
        std::function<ZVDBRET()> set;
        int code;
    } cases[] = {
        {[&] { return zvdbSetTablePath(table_, "elsewhere"); }, 4011},
        {[&] { return zvdbSetTablePassword(table_, "pw"); }, 4011},
        {[&] { return zvdbSetTableGroupid(table_, "grp"); }, 4011},
        {[&] { return zvdbSetTableOwner(table_, "ADMIN"); }, 0},
    };
    for (const auto &c : cases) {
        mark();
        EXPECT_EQ(c.set(), c.code);
        EXPECT_EQ(last(), c.code ? c.code : 7777);
    }
    EXPECT_STREQ(zvdbGetTablePath(table_), "");
    EXPECT_EQ(zvdbGetTablePassword(table_), nullptr);
    EXPECT_EQ(zvdbGetTableGroupid(table_), nullptr);
    EXPECT_STREQ(zvdbGetTableOwner(table_), "ADMIN");
    EXPECT_EQ(zvdbGetDatno(table_), table_->datno);
    EXPECT_GE(table_->datno, 0);
    EXPECT_EQ(zvdbGetTableType(table_), 4);
    EXPECT_EQ(zvdbUnlockTable(table_), 0);
    EXPECT_EQ(zvdbUnlockTableWriteLocks(table_), 0);
}

TEST_F(TableTest, ClosedTablesHaveNoDataFileAndNoType) {
    mark();
    EXPECT_EQ(zvdbGetDatno(table_), -1);
    EXPECT_EQ(last(), 4012);
    EXPECT_EQ(zvdbGetTableType(table_), 0);
    EXPECT_EQ(zvdbGetDatno(session_), -1);
    EXPECT_EQ(last(), 4013);
    EXPECT_EQ(zvdbSetTablePassword(table_, "pw"), 0);
    EXPECT_STREQ(zvdbGetTablePassword(table_), "pw");
    EXPECT_EQ(zvdbSetTablePassword(table_, nullptr), 0);
    EXPECT_EQ(zvdbGetTablePassword(table_), nullptr);
}

TEST_F(TableTest, EveryHandleBelowATableLeadsToIt) {
    tagZVDBFIELD *f = field("f", ZV_INT4);
    tagZVDBINDEX *ix = index("ix");
    ZVHANDLE seg = zvdbAddSegment(ix, f, 8);
    auto *record = static_cast<tagZVDBRECORD *>(_zvdb_alloc(1, sizeof(tagZVDBRECORD)));
    record->kind = ZVDB_RECORD_HANDLE;
    record->table = table_;
    auto *resource = static_cast<tagZVDBRESOURCE *>(_zvdb_alloc(1, sizeof(tagZVDBRESOURCE)));
    resource->kind = ZVDB_RESOURCE_HANDLE;
    resource->table = table_;
    auto *fti = static_cast<tagZVDBFTI *>(_zvdb_alloc(1, sizeof(tagZVDBFTI)));
    fti->kind = ZVDB_FTI_HANDLE;
    fti->table = table_;
    for (ZVHANDLE h : {ZVHANDLE(table_), ZVHANDLE(record), ZVHANDLE(ix), ZVHANDLE(f), seg, ZVHANDLE(resource),
                       ZVHANDLE(fti)}) {
        EXPECT_EQ(zvdbGetTableHandle(h), table_) << zv::handle_kind(h);
    }
    EXPECT_EQ(zvdbGetTableHandle(session_), nullptr);
    EXPECT_EQ(zvdbGetTableHandle(nullptr), nullptr);
    for (void *p : {static_cast<void *>(record), static_cast<void *>(resource), static_cast<void *>(fti)}) _zvdb_free(p);
}

TEST_F(TableTest, TheTableTypeFollowsWhereTheTableLives) {
    bind_fixture();
    ZVDBSUPER host{};
    const struct {
        int32_t sel;
        const char *name;
        const char *path;
        int type;
    } cases[] = {{1, "t", "", 1},      {2, "ZVDBDICT", "", 2},     {2, "t", "", 3},
                 {0, "t", "db.qdd!", 3}, {0, "t", "ab.qdd", 4}, {0, "t", "x", 4}};
    for (const auto &c : cases) {
        host.createsel = c.sel;
        table_->superfile = c.sel ? &host : nullptr;
        _zvdb_free(table_->name);
        table_->name = _zvdb_strdup(c.name);
        _zvdb_free(table_->path);
        table_->path = _zvdb_strdup(c.path);
        EXPECT_EQ(zvdbGetTableType(table_), c.type) << c.sel << " " << c.name << " " << c.path;
    }
    table_->superfile = nullptr;
    // Callbacks count only for a user table.
    EXPECT_EQ(zvdbTableHasCallback(table_), 0);
    table_->callbacks[22] = on_close;
    EXPECT_EQ(zvdbTableHasCallback(table_), 1);
    table_->tabletype = 1;
    EXPECT_EQ(zvdbTableHasCallback(table_), 0);
}

TEST_F(TableTest, PlainPropertiesReadBackAsSet) {
    int object = 0;
    ZVDBSUPER host{};
    host.filno = -1;
    EXPECT_EQ(zvdbSetTableObjptr(table_, &object), 0);
    EXPECT_EQ(zvdbGetTableObjptr(table_), &object);
    EXPECT_EQ(zvdbSetTablePermission(table_, 0644), 0);
    EXPECT_EQ(zvdbGetTablePermission(table_), 0644u);
    EXPECT_EQ(zvdbSetTableDefaultDataExtentSize(table_, 4096), 0);
    EXPECT_EQ(zvdbSetTableDefaultIndexExtentSize(table_, 8192), 0);
    EXPECT_EQ(zvdbGetTableDefaultDataExtentSize(table_), 4096u);
    EXPECT_EQ(zvdbGetTableDefaultIndexExtentSize(table_), 8192u);
    EXPECT_EQ(_zvdbSetCreateMode(table_, 0x300), 0);
    EXPECT_EQ(zvdbGetTableCreateMode(table_), 0x300u);
    EXPECT_EQ(zvdbGetTableOpenMode(table_), 0u);
    uint32_t uid = 1;
    EXPECT_EQ(zvdbGetActiveTableUID(table_, nullptr), 4007);
    EXPECT_EQ(zvdbGetActiveTableUID(table_, &uid), 0);
    EXPECT_EQ(uid, 0u);
    EXPECT_EQ(zvdbSetTableSuperFile(table_, nullptr), 4007);
    EXPECT_EQ(zvdbSetTableSuperFile(table_, &host), 4012);
    host.filno = 3;
    EXPECT_EQ(zvdbSetTableSuperFile(table_, &host), 0);
    EXPECT_EQ(zvdbGetTableSuperFile(table_), &host);
    EXPECT_EQ(zvdbClearTableSuperFile(table_), 0);
    EXPECT_EQ(zvdbGetTableSuperFile(table_), nullptr);
    unsigned char pad = 1, delim = 1;
    EXPECT_EQ(zvdbSetPadChar(table_, ' ', '|'), 0);
    EXPECT_EQ(zvdbGetPadChar(table_, &pad, nullptr), 0);
    EXPECT_EQ(zvdbGetPadChar(table_, nullptr, &delim), 0);
    EXPECT_EQ(pad, ' ');
    EXPECT_EQ(delim, '|');
    EXPECT_EQ(zvdbHasRecbyt(table_) + zvdbHasRowid(table_) + zvdbHasDelField(table_) + zvdbHasNullFieldSupport(table_), 0);
    EXPECT_EQ(zvdbGetRebuildProgress(session_), 0xFFFFFFFFu);
    EXPECT_EQ(zvdbGetRebuildProgress(table_), 0u);
    mark();
    EXPECT_EQ(zvdbSetTableKSeg(table_, nullptr), 4054);
    EXPECT_EQ(zvdbGetTableKSeg(table_, nullptr), 4054);
    EXPECT_EQ(last(), 4054);
    EXPECT_EQ(zvdbSetTablePermission(session_, 1), 4013);
    EXPECT_EQ(zvdbGetTableName(session_), nullptr);
    EXPECT_EQ(zvdbGetTableFieldCount(session_), -1);
}

// A full-text definition with fields "f" (mode 1) and "gone" (mode 2).
tagZVDBFTI *make_fti(tagZVDBTABLE *t, const char *name) {
    auto *x = static_cast<tagZVDBFTI *>(_zvdb_alloc(1, sizeof(tagZVDBFTI)));
    x->kind = ZVDB_FTI_HANDLE;
    x->table = t;
    x->status = 1;
    x->name = _zvdb_strdup(name);
    x->description = _zvdb_strdup("words");
    x->fieldlist = _zvdbListAlloc();
    const struct {
        const char *name;
        int32_t mode;
    } entries[] = {{"f", 1}, {"gone", 2}};
    for (const auto &e : entries) {
        auto *entry = static_cast<ZVDBFTIFIELD *>(_zvdb_alloc(1, sizeof(ZVDBFTIFIELD)));
        entry->name = _zvdb_strdup(e.name);
        entry->mode = e.mode;
        _zvdbListAdd(x->fieldlist, entry);
    }
    _zvdbListAdd(t->ftis, x);
    return x;
}

TEST_F(TableTest, FullTextDefinitionsAreFoundByNumberAndName) {
    tagZVDBFIELD *f = field("f", ZV_FSTRING, 20);
    make_fti(table_, "Words");
    tagZVDBFTI *second = make_fti(table_, "other");
    EXPECT_EQ(zvdbGetTableFTICount(table_), 2);
    EXPECT_EQ(zvdbGetFTI(table_, 1), second);
    EXPECT_EQ(zvdbGetFTINbrByName(table_, "OTHER"), 1);
    EXPECT_EQ(zvdbGetFTIByName(table_, "words"), zvdbGetFTI(table_, 0));
    EXPECT_EQ(zvdbGetFTIStatus(second), 1u);
    EXPECT_EQ(zvdbGetFTIFieldCount(second), 2);
    EXPECT_EQ(zvdbGetFTIField(second, 0), f);
    EXPECT_EQ(zvdbGetFTIFieldMode(second, 1), 2);
    const struct {
        std::function<bool()> call;
        int code;
    } failures[] = {
        {[&] { return zvdbGetFTI(table_, 2) == nullptr; }, 4005},
        {[&] { return zvdbGetFTINbrByName(table_, "none") == -1; }, 4150},
        {[&] { return zvdbGetFTINbrByName(table_, nullptr) == -1; }, 4007},
        {[&] { return zvdbGetFTIField(second, 1) == nullptr; }, 4014},
        {[&] { return zvdbGetFTIField(second, 2) == nullptr; }, 4005},
        {[&] { return zvdbGetFTIFieldCount(table_) == -1; }, 4149},
        {[&] { return zvdbGetFTIFieldMode(f, 0) == -1; }, 4149},
        {[&] { return zvdbGetFTINbr(second) == 4054; }, 4054},
        {[&] { return zvdbGetFTIName(second) == nullptr; }, 4054},
        {[&] { return zvdbGetFTIByUID(table_, 1) == nullptr; }, 4054},
        {[&] { return zvdbSetFTICndxExpr(second, "x") == 4054; }, 4054},
    };
    for (const auto &c : failures) {
        mark();
        EXPECT_TRUE(c.call());
        EXPECT_EQ(last(), c.code);
    }
}

TEST_F(TableTest, FreeingAFullTableReleasesEverythingAndUnlinksIt) {
    ZVHANDLE warm = zvdbAllocTable(session_);  // the children list has its slots now
    zvdbFreeTable(warm);
    const int64_t before = live_blocks();
    const int32_t children = _zvdbListCount(session_->children);
    auto *t = static_cast<tagZVDBTABLE *>(zvdbAllocTable(session_));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(_zvdbListCount(session_->children), children + 1);
    auto *f = static_cast<tagZVDBFIELD *>(zvdbAddField(t, "f", ZV_FSTRING, 20));
    auto *j = static_cast<tagZVDBFIELD *>(zvdbAddField(t, "j", ZV_JSON, 100));
    ASSERT_TRUE(f && j);
    ASSERT_EQ(zvdbSetFieldDefaultValue(f, "abc", 3), 0);
    ASSERT_EQ(zvdbSetFieldCallback(j, 0, reinterpret_cast<ZVDB_CALLBACK>(+[](ZVHANDLE, void *v, intptr_t, intptr_t) {
                                       *static_cast<int32_t *>(v) = ZV_STRING;
                                       return 0;
                                   })),
              0);
    t->temporary = 1;  // no mode check: the JSON segment takes mode 12
    ZVHANDLE ix = zvdbAddIndex(t, "ix", 0, 1, 0);
    ASSERT_NE(zvdbAddSegment(ix, f, 12), nullptr);
    ASSERT_NE(zvdbAddJSONSegment(ix, j, "$.a.b", ZV_INT4, 4), nullptr);
    ASSERT_NE(zvdbAddRowIdSegment(ix), nullptr);
    ASSERT_EQ(zvdbSetIndexCndxExpr(ix, "f > 1"), 0);
    ASSERT_EQ(zvdbSetIndexFilename(ix, "dir", "own"), 0);
    ASSERT_EQ(zvdbSetTablePath(t, "p|m"), 0);
    ASSERT_EQ(zvdbSetTableOwner(t, "o"), 0);
    make_fti(t, "words");
    t->droppedindexes = _zvdbListAlloc();
    _zvdbListAdd(t->droppedindexes, zvdbAllocIndex(t));
    t->identityname = _zvdb_strdup("f");
    EXPECT_EQ(zvdbFreeTable(t), nullptr);
    EXPECT_EQ(_zvdbListCount(session_->children), children);
    EXPECT_EQ(live_blocks(), before);
}

TEST_F(TableTest, AFailedTableAllocationLeavesNothingBehind) {
    zvdbFreeTable(zvdbAllocTable(session_));  // the children list has its slots now
    const int32_t children = _zvdbListCount(session_->children);
    ZVHANDLE t = nullptr;
    long n = 1;
    for (; n < 40 && !t; n++) {
        const int64_t blocks = live_blocks();
        zv::fail_alloc_at(n);
        mark();
        t = zvdbAllocTable(session_);
        zv::fail_alloc_at(0);
        if (t) break;
        EXPECT_EQ(last(), 4001) << n;
        EXPECT_EQ(_zvdbListCount(session_->children), children) << n;
        EXPECT_EQ(live_blocks(), blocks) << n;
    }
    ASSERT_NE(t, nullptr);
    EXPECT_GT(n, 5);  // lists, slots and strings each failed once
    zvdbFreeTable(t);
}

TEST_F(TableTest, FreeingListedHandlesTakesThemOutOfTheirLists) {
    tagZVDBFIELD *a = field("a", ZV_INT4);
    tagZVDBFIELD *b = field("b", ZV_FSTRING, 6);
    tagZVDBINDEX *ix = index("ix");
    tagZVDBINDEX *other = index("other");
    ZVHANDLE sa = zvdbAddSegment(ix, a, 8);
    ASSERT_NE(zvdbAddSegment(ix, b, 12), nullptr);
    ASSERT_NE(zvdbAddSegment(other, b, 12), nullptr);
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 10);
    zvdbFreeSegment(sa);
    EXPECT_EQ(zvdbGetIndexSegmentCount(ix), 1);
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 6);
    EXPECT_EQ(a->segments, nullptr);
    zvdbFreeIndex(ix);
    EXPECT_EQ(zvdbGetTableIndexCount(table_), 1);
    EXPECT_EQ(_zvdbListCount(b->segments), 1);
    zvdbFreeField(b);
    EXPECT_EQ(zvdbGetTableFieldCount(table_), 1);
    EXPECT_EQ(zvdbGetSegmentField(zvdbGetSegment(other, 0)), nullptr);  // the field is gone
}

// Allocation faults: the nth allocation of the operation fails, for n = 1,
// 2, ... until it succeeds; each failure gives 4001 and leaves the table's
// lists, key lengths and defaults as they were, with no block left behind.
struct Snapshot {
    std::vector<std::string> fields, indexes;
    std::vector<int32_t> keylens, segcounts, fieldsegs;
    int32_t defaulted = 0;
    bool operator==(const Snapshot &) const = default;
};

Snapshot snapshot(const tagZVDBTABLE *t) {
    Snapshot s;
    for (int32_t i = 0; i < _zvdbListCount(t->fields); i++) {
        auto *f = static_cast<tagZVDBFIELD *>(t->fields->items[i]);
        s.fields.push_back(f->name);
        s.fieldsegs.push_back(_zvdbListCount(f->segments));
        s.fieldsegs.push_back(f->defkind);
    }
    for (int32_t i = 0; i < _zvdbListCount(t->indexes); i++) {
        auto *ix = static_cast<tagZVDBINDEX *>(t->indexes->items[i]);
        s.indexes.push_back(ix->name);
        s.keylens.push_back(ix->keylen);
        s.segcounts.push_back(_zvdbListCount(ix->segments));
    }
    s.defaulted = t->defaultedfields;
    return s;
}

TEST_F(TableTest, FailedAllocationsLeaveTheDefinitionAsItWas) {
    tagZVDBFIELD *f = field("f", ZV_INT4);
    tagZVDBFIELD *j = field("j", ZV_JSON, 50);
    ASSERT_EQ(zvdbSetFieldCallback(j, 0, reinterpret_cast<ZVDB_CALLBACK>(+[](ZVHANDLE, void *v, intptr_t, intptr_t) {
                                       *static_cast<int32_t *>(v) = ZV_STRING;
                                       return 0;
                                   })),
              0);
    tagZVDBINDEX *ix = index("ix", 1);
    ASSERT_NE(zvdbAddSegment(ix, f, 8), nullptr);
    static_cast<tagZVDBSEGMENT *>(zvdbGetSegment(ix, 0))->status = 0;  // an existing segment, for the move
    table_->temporary = 1;
    auto made = [&](ZVHANDLE h) { return h ? 0 : last(); };
    const struct {
        const char *what;
        std::function<int()> op;  // 0, or the failure's code
    } ops[] = {
        {"field", [&] { return made(zvdbAddField(table_, "n", ZV_INT4, 4)); }},
        {"insert field", [&] { return made(zvdbInsField(table_, 0, "first", ZV_INT4, 4)); }},
        {"default", [&] { return zvdbSetFieldDefaultValue(f, "12", 2); }},
        {"index", [&] { return made(zvdbAddIndex(table_, "second", 0, 1, 0)); }},
        {"segment", [&] { return made(zvdbAddSegment(zvdbGetIndexByName(table_, "second"), f, 8)); }},
        {"extended", [&] { return made(zvdbInsSegmentEx(ix, 0, 0, 4, 0)); }},
        {"row id", [&] { return made(zvdbAddRowIdSegment(ix)); }},
        {"json", [&] { return made(zvdbAddJSONSegment(ix, j, "$.x", ZV_INT4, 4)); }},
        {"move", [&] { return zvdbMoveSegment(zvdbGetSegment(ix, 1), 0); }},
        {"rename", [&] { return zvdbSetFieldName(f, "g"); }},
        {"index name", [&] { return zvdbSetIndexName(ix, "ix2"); }},
        {"own file", [&] { return zvdbSetIndexFilename(ix, "d", "n"); }},
    };
    for (const auto &o : ops) {
        SCOPED_TRACE(o.what);
        int rc = -1;
        for (long n = 1; n < 20 && rc != 0; n++) {
            const Snapshot before = snapshot(table_);
            const int64_t blocks = live_blocks();
            zv::fail_alloc_at(n);
            mark();
            rc = o.op();
            zv::fail_alloc_at(0);
            if (rc == 0) break;
            EXPECT_EQ(rc, 4001) << n;
            EXPECT_EQ(snapshot(table_), before) << n;
            EXPECT_EQ(live_blocks(), blocks) << n;
        }
        EXPECT_EQ(rc, 0);
    }
    EXPECT_STREQ(zvdbGetFieldName(f), "g");
    EXPECT_STREQ(zvdbGetIndexFilename(ix), "d/n.idx");
}

}  // namespace
