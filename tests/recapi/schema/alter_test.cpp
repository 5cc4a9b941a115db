// Alteration in place: the checks and callbacks around the work, the
// record schema, field attributes and identity field rewritten in place,
// indexes added, dropped and rebuilt, distinct counts switched, and the
// entries that drive an alteration.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "engine/core/filenum.h"
#include "engine/core/platform.h"
#include "engine/core/fcb.h"
#include "recapi/base/wrappers.h"
#include "recapi/schema/alter.h"
#include "recapi/schema/resource.h"
#include "tests/recapi/schema/alterfix.h"
#include "tests/recapi/schema/tablefiles.h"

namespace {

using namespace schematest;

// What the alteration callback saw: one entry per call, the table's
// alteration state and mask at that moment.
struct Seen {
    uint16_t state;
    uint32_t mask;
};
std::vector<Seen> g_seen;
int32_t g_answer_first = 0;  // the first call's answer

ZVDBRET on_alter(ZVHANDLE table, int32_t) {
    auto *t = static_cast<tagZVDBTABLE *>(table);
    g_seen.push_back({t->alterstate, t->altermask});
    return g_seen.size() == 1 ? g_answer_first : 0;
}

class AlterInPlaceTest : public AlterTest {
protected:
    void SetUp() override {
        AlterTest::SetUp();
        g_seen.clear();
        g_answer_first = 0;
    }
    void watch() {
        ASSERT_EQ(zvdbSetCallback(table_, 16, reinterpret_cast<ZVDB_CALLBACK>(on_alter)), 0);
    }
    // The alteration's mask as the callback saw it once known.
    uint32_t seen_mask() const {
        for (const Seen &s : g_seen) {
            if (s.state == 2) return s.mask;
        }
        return 0xDEAD;
    }
};

TEST_F(AlterInPlaceTest, CallbacksFrameTheCall) {
    create(layout);
    fill(5);
    reopen();
    watch();
    ASSERT_EQ(zvdbAlterTable(table_, 0), 0);
    ASSERT_EQ(g_seen.size(), 2u) << "start and end, nothing to do";
    EXPECT_EQ(g_seen[0].state, 0);
    EXPECT_EQ(g_seen[1].state, 1);
    EXPECT_EQ(table_->operation, 2);
    EXPECT_EQ(table_->alterstate, 3);

    // A start answering 77 stops the call before any file changes, and the
    // callback still runs at the end.
    g_seen.clear();
    g_answer_first = 77;
    ASSERT_EQ(zvdbSetFieldName(fld("name"), "title"), 0);
    const auto before = snapshot();
    EXPECT_EQ(zvdbAlterTable(table_, 0), 77);
    EXPECT_EQ(last(), 77);
    EXPECT_EQ(g_seen.size(), 2u);
    EXPECT_EQ(table_->operation, 0);
    EXPECT_TRUE(same_files(before));
    EXPECT_NE(fld("title"), nullptr) << "the edit waits";

    // With the mask known the callback sees it, and the end sees it too.
    g_seen.clear();
    g_answer_first = 0;
    ASSERT_EQ(zvdbAlterTable(table_, 0), 0) << last();
    ASSERT_EQ(g_seen.size(), 3u);
    EXPECT_EQ(g_seen[1].state, 2);
    EXPECT_EQ(g_seen[1].mask, 1u);
    EXPECT_EQ(g_seen[2].state, 1);
    EXPECT_EQ(g_seen[2].mask, 1u);
}

// Each kind of pending edit, read through the status and through the work
// the alteration does (the mask its callback sees once the mask is known),
// on a table holding records: the work succeeds, leaves no edit pending
// and keeps every record.
TEST_F(AlterInPlaceTest, EachEditGetsTheWorkItsMaskAsksFor) {
    using Build = std::function<void(ZVHANDLE)>;
    const Build wide = [](ZVHANDLE t) {
        add_field(t, "name", ZV_FSTRING, 16);
        add_field(t, "id", ZV_INT4);
        add_field(t, "qty", ZV_INT4);
        add_field(t, "f", ZV_SFLOAT);
        add_field(t, "note", ZV_STRING, 20);
        add_index(t, "byid", 0, {"id"});
        add_index(t, "byname", 1, {"name"});
        add_index(t, "bynote", 1, {"note"});
        add_index(t, "byq", 1, {"qty"}, "altq");
    };
    const Build lone = [](ZVHANDLE t) {
        add_field(t, "id", ZV_INT4);
        add_index(t, "byid", 0, {"id"});
    };
    auto set_type = [](const char *f, int32_t type) {
        return [f, type](ZVHANDLE t) { ASSERT_EQ(zvdbSetFieldType(zvdbGetFieldByName(t, f), type), 0); };
    };
    auto drop = [](const char *ix) {
        return [ix](ZVHANDLE t) { ASSERT_EQ(zvdbDelIndex(t, zvdbGetIndexNbrByName(t, ix)), 0); };
    };
    const struct {
        const char *what;
        uint32_t createmode;
        Build build, edit;
        uint32_t mask;
        uint32_t left = 0;  // the status after: a table without any index asks for a rebuild
    } cases[] = {
        {"none", 0, wide, [](ZVHANDLE) {}, 0},
        {"rename", 0, wide, [](ZVHANDLE t) { ASSERT_EQ(zvdbSetFieldName(zvdbGetFieldByName(t, "name"), "title"), 0); }, 1},
        {"ZV_INT4 to ZV_INT4U", 0, wide, set_type("qty", ZV_INT4U), 1 | 8},
        {"ZV_INT4 to ZV_DFLOAT", 0, wide, set_type("qty", ZV_DFLOAT), 16},
        {"rename and ZV_INT4 to ZV_DFLOAT", 0, wide,
         [](ZVHANDLE t) {
             ASSERT_EQ(zvdbSetFieldName(zvdbGetFieldByName(t, "id"), "key"), 0);
             ASSERT_EQ(zvdbSetFieldType(zvdbGetFieldByName(t, "key"), ZV_DFLOAT), 0);
         },
         16},
        {"ZV_SFLOAT to ZV_DFLOAT", 0, wide, set_type("f", ZV_DFLOAT), 16},
        {"longer ZV_STRING", 0, wide,
         [](ZVHANDLE t) { ASSERT_EQ(zvdbSetFieldLength(zvdbGetFieldByName(t, "note"), 40), 0); }, 1 | 8},
        {"longer ZV_FSTRING", 0, wide,
         [](ZVHANDLE t) { ASSERT_EQ(zvdbSetFieldLength(zvdbGetFieldByName(t, "name"), 24), 0); }, 16},
        {"precision", 0, wide,
         [](ZVHANDLE t) { ASSERT_EQ(zvdbSetFieldPrecision(zvdbGetFieldByName(t, "qty"), 5), 0); }, 2},
        {"identity field", 0, wide, [](ZVHANDLE t) { ASSERT_EQ(zvdbSetIdentityField(t, "qty", 1, 1), 0); }, 64},
        {"new index with its own file", 0, wide, [](ZVHANDLE t) { add_index(t, "byf", 1, {"f"}, "altf"); }, 0x404},
        {"new index in the table's file", 0, wide, [](ZVHANDLE t) { add_index(t, "byf", 1, {"f"}); }, 12},
        {"index sharing its file dropped", 0, wide, drop("byname"), 8},
        {"index alone in its file dropped", 0, wide, drop("byq"), 4},
        {"only index dropped, no hidden index", 32 | 64, lone, drop("byid"), 4 | 8, 8},
    };
    watch();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        create(c.build, c.createmode);
        ZVHANDLE r = zvdbAllocRecord(table_);
        for (int32_t id = 1; id <= 5; id++) {
            ASSERT_EQ(zvdbClearRecord(r), 0);
            ASSERT_EQ(zvdbSetFieldAsSigned(r, zvdbGetFieldNumberByName(r, "id"), id), 0);
            ASSERT_EQ(zvdbWriteRecord(r), 0) << last();
        }
        zvdbFreeRecord(r);
        c.edit(table_);
        EXPECT_EQ(zvdbGetTableStatus(table_), c.mask);
        g_seen.clear();
        ASSERT_EQ(zvdbAlterTable(table_, 0), 0) << last();
        EXPECT_EQ(seen_mask(), c.mask ? c.mask : 0xDEAD) << "no mask is known without work";
        EXPECT_EQ(zvdbGetTableStatus(table_), c.left);
        r = zvdbAllocRecord(table_);
        uint64_t count = 0;
        EXPECT_EQ(zvdbGetRecordCount(r, &count), 0);
        EXPECT_EQ(count, 5u);
        zvdbFreeRecord(r);
        ASSERT_EQ(zvdbRemoveTable(table_), 0) << last();
    }
}

TEST_F(AlterInPlaceTest, RefusalsComeBeforeAnyFileChanges) {
    create(layout);
    fill(3);
    reopen();
    ASSERT_EQ(zvdbSetFieldName(fld("name"), "title"), 0);
    const auto before = snapshot();
    struct Case {
        const char *what;
        std::function<void()> set, unset;
        uint32_t action;
        ZVDBRET code;
    };
    const Case cases[] = {
        {"action low byte 2", [] {}, [] {}, 2, ZVDB_BAD_ALTER_ACTION},
        {"mirrored", [this] { table_->mirrorpath = _zvdb_strdup("m"); },
         [this] { table_->mirrorpath = static_cast<char *>(_zvdb_free(table_->mirrorpath)); }, 0, ZVDB_NOT_SUPPORTED},
        {"virtual", [this] { table_->vtkind = 1; }, [this] { table_->vtkind = 0; }, 0, ZVDB_NOT_SUPPORTED},
        {"patched header", [this] { zv::fcb_at(table_->datno)->hdr.ext.flmode3 |= 0x4000; },
         [this] { zv::fcb_at(table_->datno)->hdr.ext.flmode3 &= ~0x4000u; }, 0, 990},
        {"an index without segments", [this] { ASSERT_NE(zvdbAddIndex(table_, "bare", 0, 0, 0), nullptr); },
         [this] { ASSERT_EQ(zvdbDelIndex(table_, zvdbGetIndexNbrByName(table_, "bare")), 0); }, 0,
         ZVDB_INDEX_NO_SEGMENTS},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        c.set();
        mark();
        EXPECT_EQ(zvdbAlterTable(table_, c.action), c.code);
        EXPECT_EQ(last(), c.code);
        c.unset();
        EXPECT_EQ(table_->operation, 0);
        EXPECT_TRUE(same_files(before));
    }
    EXPECT_EQ(zvdbAlterTable(nullptr, 0), ZVDB_NO_TABLE);

    // Read only, and a table that is not open.
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    EXPECT_EQ(zvdbAlterTable(table_, 0), ZVDB_NOT_ACTIVE);
    open(32);
    ASSERT_EQ(zvdbSetFieldName(fld("name"), "title"), 0);
    EXPECT_EQ(zvdbAlterTable(table_, 0), ZVDB_READ_ONLY);
    EXPECT_EQ(zvdbUpdateCreateMode(table_, 0x1000), ZVDB_READ_ONLY);
    EXPECT_TRUE(same_files(before));
}

// A new index whose keys the engine would build later: refused before
// anything is written, with its own file (454) or without (4054).
TEST_F(AlterInPlaceTest, DeferredIndexBuildIsRefusedUntouched) {
    create(layout);
    fill(3);
    reopen();
    const auto before = snapshot();
    ZVHANDLE ix = zvdbAddIndex(table_, "later", 0x10000, 1, 0);
    ASSERT_NE(ix, nullptr);
    ASSERT_NE(zvdbAddSegment(ix, fld("qty"), 12), nullptr);
    EXPECT_EQ(zvdbAlterTable(table_, 0), ZVDB_NOT_SUPPORTED);
    ASSERT_EQ(zvdbSetIndexFilename(ix, nullptr, "later"), 0);
    EXPECT_EQ(zvdbAlterTable(table_, 0), 454);
    EXPECT_TRUE(same_files(before));
}

// Renaming the first user field of a table with every hidden field: only
// its own schema entry changes.
TEST_F(AlterInPlaceTest, RenameTouchesOnlyTheFieldsOwnEntry) {
    create(layout, 0);
    ASSERT_EQ(zvdbSetFieldName(zvdbGetField(table_, 0), "title"), 0);
    ASSERT_EQ(zvdbAlterTable(table_, 0), 0) << last();
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    Stored s;
    read_back("alt.dat", &s);
    ASSERT_EQ(s.code, 0);
    EXPECT_EQ(s.names, (std::vector<std::string>{"$DELFLD$", "$NULFLD$", "$ROWID$", "title", "id", "qty"}));
    EXPECT_EQ(s.entry("title")->ftype, ZV_FSTRING);
    EXPECT_EQ(s.entry("$ROWID$")->ftype, 231);
}

TEST_F(AlterInPlaceTest, RenameAndCompatibleRetypeRewriteTheSchemaOnly) {
    create(layout);
    fill(20);
    reopen();
    watch();
    ASSERT_EQ(zvdbSetFieldName(fld("name"), "title"), 0);
    ASSERT_EQ(zvdbSetFieldType(fld("qty"), ZV_INT4U), 0);
    ASSERT_EQ(zvdbAlterTable(table_, 0), 0) << last();
    EXPECT_EQ(seen_mask(), 1u);
    EXPECT_NE(fld("title"), nullptr);
    EXPECT_EQ(fld("name"), nullptr);
    EXPECT_EQ(zvdbGetFieldType(fld("qty")), ZV_INT4U);
    EXPECT_EQ(rows(), rows_upto(20));
    EXPECT_EQ(keys("byname"), 20);
    reopen();
    EXPECT_NE(fld("title"), nullptr);
    EXPECT_EQ(zvdbGetFieldType(fld("qty")), ZV_INT4U);
    EXPECT_EQ(rows(), rows_upto(20));
}

// A rename reads no record: the alteration reads as much of the files for
// 2,000 records as for 10.
TEST_F(AlterInPlaceTest, RenameReadsNoRecord) {
    long reads[2] = {};
    for (int k = 0; k < 2; k++) {
        create(layout);
        fill(k == 0 ? 10 : 2000);
        reopen();
        ASSERT_EQ(zvdbSetFieldName(fld("name"), "title"), 0);
        zv::fault_reset();
        ASSERT_EQ(zvdbAlterTable(table_, 0), 0) << last();
        reads[k] = zv::io_calls(zv::IoKind::Read);
        ASSERT_EQ(zvdbRemoveTable(table_), 0) << last();
        zvdbFreeTable(table_);
        table_ = static_cast<tagZVDBTABLE *>(zvdbAllocTable(session_));
    }
    EXPECT_EQ(reads[0], reads[1]);
}

// A precision change rewrites "QV!DFLD", and adds it to a file that has
// none: a 20-byte header with the version, one 32-byte entry per field.
TEST_F(AlterInPlaceTest, PrecisionRewritesTheFieldAttributes) {
    create(layout);
    unsigned char key[8] = {1, 0, 0, 0, 1, 0, 0, 0};
    for (bool present : {true, false}) {
        SCOPED_TRACE(present ? "rewritten" : "added");
        if (!present) {
            ASSERT_EQ(DELRES(zvdbGetDatno(table_), key), 0);
        }
        ASSERT_EQ(zvdbSetFieldPrecision(fld("qty"), present ? 7 : 9), 0);
        ASSERT_EQ(zvdbAlterTable(table_, 0), 0) << last();
        EXPECT_EQ(zvdbGetFieldPrecision(fld("qty")), present ? 7 : 9);
        unsigned char *rec = nullptr;
        int32_t len = 0;
        ASSERT_EQ(zv::read_resource(zvdbGetDatno(table_), 1, 1, &rec, &len), 0);
        // Null flag, precision, scale, binary flag; precisions of "name"
        // and "id" as their types give them.
        Image want;
        want.host32(1).host32(1).text("QV!DFLD", 8).le32(6);
        for (uint16_t precision : {uint16_t(16), uint16_t(4), uint16_t(present ? 7 : 9)}) {
            want.le16(0).le16(precision).le16(0).le16(1).u8(0, 24);
        }
        EXPECT_EQ(Bytes(rec, rec + len), want.bytes());
        _zvdb_free(rec);
    }
    reopen();
    EXPECT_EQ(zvdbGetFieldPrecision(fld("qty")), 9);
}

TEST_F(AlterInPlaceTest, IdentityFieldIsAddedInPlace) {
    create(layout);
    fill(4);
    reopen();
    ASSERT_EQ(zvdbSetIdentityField(table_, "qty", 100, 5), 0);
    EXPECT_EQ(zvdbGetTableStatus(table_), 64u);
    ASSERT_EQ(zvdbAlterTable(table_, 0), 0) << last();
    EXPECT_EQ(wchIDfield(zvdbGetDatno(table_)), 2);
    EXPECT_STREQ(zvdbGetIdentityField(table_), "qty");
    EXPECT_EQ(zvdbGetFieldStatus(fld("qty")), 0u);
    EXPECT_EQ(rows(), rows_upto(4));
}

TEST_F(AlterInPlaceTest, IndexesAddedAndDroppedInPlace) {
    create([](ZVHANDLE t) {
        layout(t);
        add_index(t, "byqty", 1, {"qty"}, "altqty");
    });
    fill(20);
    reopen();
    // Two new indexes with files of their own: added with their keys.
    add_index(table_, "byqty2", 1, {"qty"}, "altq2");
    add_index(table_, "byboth", 0, {"name", "id"}, "altboth");
    EXPECT_EQ(zvdbGetTableStatus(table_), 0x404u);
    ASSERT_EQ(zvdbAlterTable(table_, 0), 0) << last();
    for (const char *ix : {"byid", "byname", "byqty", "byqty2", "byboth"}) EXPECT_EQ(keys(ix), 20) << ix;
    // A conditional index holds exactly the records that meet it; the
    // index alone in its own file is dropped with its file.
    add_index(table_, "big", 1, {"qty"}, "altbig");
    ASSERT_EQ(zvdbSetIndexCndxExpr(idx("big"), "qty > 150"), 0);
    ASSERT_EQ(zvdbDelIndex(table_, zvdbGetIndexNbrByName(table_, "byqty")), 0);
    EXPECT_EQ(zvdbGetTableStatus(table_), 4u);
    ASSERT_EQ(zvdbAlterTable(table_, 0), 0) << last();
    EXPECT_EQ(keys("big"), 5);
    EXPECT_EQ(idx("byqty"), nullptr);
    const auto names = files();
    EXPECT_EQ(std::count(names.begin(), names.end(), "altqty.idx"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "altbig.idx"), 1);
    reopen();
    EXPECT_EQ(keys("big"), 5);
    char text[64];
    ASSERT_EQ(zvdbGetCndxIndexByName(table_, "big", text, int32_t(sizeof text)), 0);
    EXPECT_STREQ(text, "qty > 150");
    for (const char *ix : {"byid", "byname", "byqty2", "byboth"}) EXPECT_EQ(keys(ix), 20) << ix;
}

TEST_F(AlterInPlaceTest, RebuildFollowsTheIndexHandles) {
    create(layout);
    fill(20);
    reopen();
    watch();
    // A changed key type and a dropped index sharing its file: every
    // index rebuilt.
    ASSERT_EQ(zvdbSetIndexKeyType(idx("byname"), 4), 0);
    add_index(table_, "byqty", 1, {"qty"});
    EXPECT_EQ(zvdbGetTableStatus(table_), 12u);
    ASSERT_EQ(zvdbAlterTable(table_, 0), 0) << last();
    EXPECT_EQ(seen_mask(), 12u);
    EXPECT_EQ(table_->altermask, 0u) << "a rebuild ends with mask 0";
    EXPECT_EQ(zvdbGetIndexKeyType(idx("byname")), 4);
    for (const char *ix : {"byid", "byname", "byqty"}) EXPECT_EQ(keys(ix), 20) << ix;
    ASSERT_EQ(zvdbDelIndex(table_, zvdbGetIndexNbrByName(table_, "byid")), 0);
    EXPECT_EQ(zvdbGetTableStatus(table_), 8u);
    ASSERT_EQ(zvdbAlterTable(table_, 0), 0) << last();
    EXPECT_EQ(idx("byid"), nullptr);
    reopen();
    EXPECT_EQ(rows(), rows_upto(20));
    EXPECT_EQ(zvdbGetIndexKeyType(idx("byname")), 4);
    for (const char *ix : {"byname", "byqty"}) EXPECT_EQ(keys(ix), 20) << ix;
}

// An index made unique over duplicate keys: a rebuild fails with the old
// indexes put back; a rebuild that purges duplicates (action 0x1000)
// deletes the records whose keys the unique index rejects.
TEST_F(AlterInPlaceTest, UniqueRebuildOverDuplicates) {
    create(layout);
    fill(20);
    reopen();
    ASSERT_EQ(zvdbSetIndexDuplicateFlag(idx("byname"), 0), 0);
    EXPECT_NE(zvdbAlterTable(table_, 0), 0);
    EXPECT_EQ(zvdbGetIndexDuplicateFlag(idx("byname")), 1) << "the handles read again from the files";
    EXPECT_EQ(rows(), rows_upto(20));
    for (const char *ix : {"byid", "byname"}) EXPECT_EQ(keys(ix), 20) << ix;
    // The purging rebuild also takes a new name of the index.
    ASSERT_EQ(zvdbSetIndexDuplicateFlag(idx("byname"), 0), 0);
    ASSERT_EQ(zvdbSetIndexName(idx("byname"), "names"), 0);
    ASSERT_EQ(zvdbAlterTable(table_, 1 | 0x1000), 0) << last();
    EXPECT_EQ(zvdbGetIndexDuplicateFlag(idx("names")), 0);
    EXPECT_EQ(rows().size(), 7u) << "one record per name";
    for (const char *ix : {"byid", "names"}) EXPECT_EQ(keys(ix), 7) << ix;
    reopen();
    EXPECT_EQ(rows().size(), 7u);
    EXPECT_EQ(keys("names"), 7);
}

// A new temporary index lives on the open set only: added with its keys,
// gone once the table is closed.
TEST_F(AlterInPlaceTest, TemporaryIndexesLiveWhileTheTableIsOpen) {
    create(layout);
    fill(9);
    reopen();
    add_index(table_, "scratch", 1, {"qty"}, "altscr");
    ASSERT_EQ(zvdbSetIndexTemporaryFlag(idx("scratch"), 1), 0);
    ASSERT_EQ(zvdbAlterTable(table_, 0), 0) << last();
    EXPECT_EQ(keys("scratch"), 9);
    reopen();
    EXPECT_EQ(idx("scratch"), nullptr);
    EXPECT_EQ(rows(), rows_upto(9));
}

TEST_F(AlterInPlaceTest, ConditionUpdatesRebuildTheIndexes) {
    create([](ZVHANDLE t) {
        layout(t);
        add_index(t, "big", 1, {"qty"});
        ASSERT_EQ(zvdbSetIndexCndxExpr(zvdbGetIndexByName(t, "big"), "qty > 150"), 0);
    });
    fill(20);
    reopen();
    EXPECT_EQ(keys("big"), 5);
    watch();
    const int32_t n = zvdbGetIndexNbrByName(table_, "big");
    EXPECT_EQ(zvdbUpdateCndxIndex(table_, n, "qty > 150"), 0);
    EXPECT_TRUE(g_seen.empty()) << "the stored text: nothing altered";
    ASSERT_EQ(zvdbUpdateCndxIndexByName(table_, "big", "qty <= 30"), 0) << last();
    EXPECT_EQ(keys("big"), 3);
    ASSERT_EQ(zvdbUpdateCndxIndex(table_, n, nullptr), 0) << last();
    EXPECT_EQ(keys("big"), 20);
    EXPECT_EQ(zvdbGetCndxIndexLengthByName(table_, "big"), -1);
    EXPECT_EQ(zvdbUpdateCndxIndexByName(table_, "none", "qty > 1"), ZVDB_NO_INDEX);
    EXPECT_EQ(last(), ZVDB_NO_INDEX);
    reopen();
    EXPECT_EQ(keys("big"), 20);
    for (const char *ix : {"byid", "byname"}) EXPECT_EQ(keys(ix), 20) << ix;
}

TEST_F(AlterInPlaceTest, DistinctCountsSwitchedInPlace) {
    create(layout);
    fill(21);
    reopen();
    ASSERT_EQ(zvdbSetIndexDistinctKeyCountFlag(idx("byname"), 1), 0);
    EXPECT_EQ(zvdbGetTableStatus(table_), 32u);
    ASSERT_EQ(zvdbAlterTable(table_, 0), 0) << last();
    EXPECT_EQ(zvDISTINCTest(zvdbGetIdxno(idx("byname"))), 7u);
    reopen();
    EXPECT_EQ(zvdbGetIndexDistinctKeyCountFlag(idx("byname")), 1);
    EXPECT_EQ(zvDISTINCTest(zvdbGetIdxno(idx("byname"))), 7u);
    ASSERT_EQ(zvdbSetIndexDistinctKeyCountFlag(idx("byname"), 0), 0);
    ASSERT_EQ(zvdbAlterTable(table_, 0), 0) << last();
    reopen();
    EXPECT_EQ(zvdbGetIndexDistinctKeyCountFlag(idx("byname")), 0);
    EXPECT_EQ(keys("byname"), 21);
}

TEST_F(AlterInPlaceTest, CreateModeUnchangedAltersNothing) {
    create(layout);
    watch();
    EXPECT_EQ(zvdbUpdateCreateMode(table_, zvdbGetTableCreateMode(table_)), 0);
    EXPECT_TRUE(g_seen.empty());
    EXPECT_EQ(zvdbUpdateCreateMode(nullptr, 0), ZVDB_NO_TABLE);
}

}  // namespace
