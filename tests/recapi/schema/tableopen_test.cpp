// Table open and attach: the handles rebuilt from the files a create made,
// the create mode read back, names from the path, raw opens, the table
// callbacks in their order and a refusal by one of them, attach and detach,
// and the code of a call that frees the handle it was given.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "recapi/base/wrappers.h"
#include "recapi/schema/segment.h"
#include "recapi/schema/tablefile.h"
#include "tests/recapi/schema/custfix.h"

namespace {

using Names = std::vector<std::string>;

class TableOpenTest : public schematest::CustTest {
protected:
    // Creates the cust files with the create mode and opens them.
    void create_and_open(uint32_t mode = 0) {
        cust();
        ASSERT_EQ(zvdbCreateTable(table_, "cust", mode), 0) << last();
        ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
        ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
    }
};

TEST_F(TableOpenTest, OpenRebuildsTheCreatedHandles) {
    cust();
    // What the API keeps in the files beside the engine's schema.
    ASSERT_EQ(zvdbSetFieldNullFlag(zvdbGetFieldByName(table_, "name"), 1), 0);
    ASSERT_EQ(zvdbSetFieldPrecision(zvdbGetFieldByName(table_, "amount"), 12), 0);
    ASSERT_EQ(zvdbSetPadChar(table_, ' ', '|'), 0);
    ASSERT_EQ(zvdbSetIdentityField(table_, "id", 5, 2), 0);
    ASSERT_EQ(zvdbCreateTable(table_, "cust", 0), 0) << last();
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
    EXPECT_EQ(zvdbGetFieldNullFlag(zvdbGetFieldByName(table_, "name")), 1);
    EXPECT_EQ(zvdbGetFieldPrecision(zvdbGetFieldByName(table_, "amount")), 12);
    unsigned char pad = 0, delimiter = 0;
    ASSERT_EQ(zvdbGetPadChar(table_, &pad, &delimiter), 0);
    EXPECT_EQ(pad, ' ');
    EXPECT_EQ(delimiter, '|');
    ZVBIGINT seed = 0, increment = 0;
    EXPECT_STREQ(zvdbGetIdentityFieldDetails(table_, &seed, &increment), "id");
    EXPECT_EQ(seed, 5);
    EXPECT_EQ(increment, 2);
    EXPECT_EQ(zvdbIsActiveTable(table_), 1);
    EXPECT_STREQ(zvdbGetTableName(table_), "cust");
    struct Field {
        const char *name;
        int type, length;
    };
    const Field fields[] = {{"id", ZV_INT4, 4}, {"name", ZV_FSTRING, 20}, {"amount", ZV_MONEY, 4}};
    ASSERT_EQ(zvdbGetTableFieldCount(table_), 3);
    for (int i = 0; i < 3; i++) {
        ZVHANDLE f = zvdbGetField(table_, i);
        EXPECT_STREQ(zvdbGetFieldName(f), fields[i].name);
        EXPECT_EQ(zvdbGetFieldType(f), fields[i].type);
        EXPECT_EQ(zvdbGetFieldLength(f), fields[i].length);
        EXPECT_EQ(zvdbGetFieldStatus(f), 0u);
    }
    struct Index {
        const char *name, *field;
        int dup, mode, idxno;
    };
    const Index idx[] = {{"pk", "id", 0, 12, 3}, {"byname", "name", 1, 12, 4}};
    ASSERT_EQ(zvdbGetTableIndexCount(table_), 2);
    for (int k = 0; k < 2; k++) {
        ZVHANDLE ix = zvdbGetIndex(table_, k);
        EXPECT_STREQ(zvdbGetIndexName(ix), idx[k].name);
        EXPECT_EQ(zvdbGetIndexDuplicateFlag(ix), idx[k].dup);
        EXPECT_EQ(zvdbGetIndexStatus(ix), 0u);
        EXPECT_EQ(zvdbGetIdxno(ix), table_->datno + idx[k].idxno);
        ASSERT_EQ(zvdbGetIndexSegmentCount(ix), 1);
        ZVHANDLE s = zvdbGetSegment(ix, 0);
        EXPECT_STREQ(zvdbGetSegmentFieldName(s), idx[k].field);
        EXPECT_EQ(zvdbGetSegmentMode(s), idx[k].mode);
        EXPECT_EQ(zvdbGetSegmentStatus(s), 0u);
    }
    EXPECT_EQ(zvdbHasDelField(table_), 1);
    EXPECT_EQ(zvdbHasNullFieldSupport(table_), 1);
    EXPECT_EQ(zvdbHasRowid(table_), 1);
    EXPECT_EQ(zvdbHasRecbyt(table_), 1);
    EXPECT_EQ(table_->hiddenfields, 3);
    EXPECT_EQ(table_->fixedlen, 44u);
    EXPECT_STREQ(zvdbGetIndexExtension(table_), ".idx");
    EXPECT_EQ(zvdbCloseTable(table_), 0);
}

TEST_F(TableOpenTest, TheCreateModeComesBackFromTheFiles) {
    for (uint32_t mode : {0u, 32u, 64u, 0x100u, 0x200u, 0x400u, 0x1000u}) {
        SCOPED_TRACE(mode);
        create_and_open(mode);
        EXPECT_EQ(zvdbGetTableCreateMode(table_), mode);
        EXPECT_EQ(zvdbHasRecbyt(table_), (mode & 32) ? 0 : 1);
        ASSERT_EQ(zvdbRemoveTable(table_), 0);
        ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    }
    // A variable-length field: the file is variable-length, without
    // "$DELFLD$".
    field("id", ZV_INT4);
    field("text", ZV_STRING, 30);
    ASSERT_EQ(zvdbCreateTable(table_, "cust", 0), 0) << last();
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
    EXPECT_EQ(zvdbGetTableCreateMode(table_), 16u | 0x200u);
    EXPECT_EQ(table_->recformat, 1);
    EXPECT_EQ(zvdbCloseTable(table_), 0);
}

// The reads that reopen a table in place (after its files changed) keep
// what the schema says of the create mode: a 4-byte "$DELFLD$".
TEST_F(TableOpenTest, AReopenInPlaceKeepsTheShortDeleteFlag) {
    create_and_open(0x1000);
    ASSERT_EQ(_zvdbCloseZarvo(table_), 0);
    ASSERT_EQ(_zvdbReopenTable(table_, 0), 0);
    EXPECT_EQ(zvdbGetTableCreateMode(table_), 0x1000u);
    EXPECT_EQ(zvdbCloseTable(table_), 0);
}

// A data file made without the API's field extras ("QV!DFLD") opens.
TEST_F(TableOpenTest, AFileWithoutFieldExtrasOpens) {
    create_and_open();
    const unsigned char key[8] = {1, 0, 0, 0, 1, 0, 0, 0};
    ASSERT_EQ(DELRES(zvdbGetDatno(table_), key), 0);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
    EXPECT_EQ(zvdbGetTableFieldCount(table_), 3);
    EXPECT_EQ(zvdbCloseTable(table_), 0);
}

TEST_F(TableOpenTest, DuplicateAndDistinctCountFlagsAreReadAsTheEnginesBits) {
    cust();
    ZVHANDLE id = zvdbGetFieldByName(table_, "id");
    ZVHANDLE counted = zvdbAddIndex(table_, "counted", 0, 0, 0);
    ASSERT_NE(zvdbAddSegment(counted, id, 12), nullptr);
    ASSERT_EQ(zvdbSetIndexDistinctKeyCountFlag(counted, 1), 0);
    ASSERT_EQ(zvdbSetIndexDistinctKeyCountFlag(zvdbGetIndexByName(table_, "byname"), 1), 0);
    ASSERT_EQ(zvdbCreateTable(table_, "cust", 0), 0) << last();
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
    struct Want {
        const char *name;
        int ikeydup, dup, distinct;
    };
    for (const Want &w : {Want{"pk", 0, 0, 0}, Want{"byname", 3, 1, 1}, Want{"counted", 4, 0, 1}}) {
        ZVHANDLE ix = zvdbGetIndexByName(table_, w.name);
        ASSERT_NE(ix, nullptr) << w.name;
        EXPECT_EQ(static_cast<tagZVDBINDEX *>(ix)->iidx->ikeydup, w.ikeydup) << w.name;
        EXPECT_EQ(zvdbGetIndexDuplicateFlag(ix), w.dup) << w.name;
        EXPECT_EQ(zvdbGetIndexDistinctKeyCountFlag(ix), w.distinct) << w.name;
    }
    EXPECT_EQ(zvdbCloseTable(table_), 0);
}

TEST_F(TableOpenTest, AnIndexNameBaseNamesTheUserIndexesOnly) {
    cust();
    ASSERT_EQ(zvdbCreateTable(table_, "cust", 0), 0) << last();
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    table_->idxnamebase = _zvdb_strdup("base");
    ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
    ASSERT_EQ(zvdbGetTableIndexCount(table_), 2);
    EXPECT_STREQ(zvdbGetIndexName(zvdbGetIndex(table_, 0)), "base_2");
    EXPECT_STREQ(zvdbGetIndexName(zvdbGetIndex(table_, 1)), "base_3");
    EXPECT_EQ(zvdbHasRecbyt(table_), 1);
    EXPECT_NE(table_->rowidindex, nullptr);
    EXPECT_EQ(zvdbCloseTable(table_), 0);
}

TEST_F(TableOpenTest, ExtensionHintOneTakesTheExtensionFromThePath) {
    cust();
    ASSERT_EQ(zvdbSetTableExtension(table_, ".tbl"), 0);
    ASSERT_EQ(zvdbCreateTable(table_, "cust", 0), 0) << last();
    ASSERT_EQ(files(), (Names{"cust.idx", "cust.tbl"}));
    ASSERT_EQ(zvdbSetExtensionHint(table_, 1), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "cust.tbl", 0), 0) << last();
    EXPECT_STREQ(zvdbGetTableName(table_), "cust");
    EXPECT_STREQ(table_->physname, "cust");
    EXPECT_STREQ(zvdbGetTableExtension(table_), ".tbl");
    EXPECT_EQ(zvdbGetTableFieldCount(table_), 3);
    // Opening an open table by name closes it.
    EXPECT_EQ(zvdbOpenTable(table_, "cust.tbl", 0), ZVDB_ACTIVE);
    EXPECT_EQ(zvdbIsActiveTable(table_), 0);
}

TEST_F(TableOpenTest, AMissingFileGivesTwelveAndAClosedHandle) {
    cust();
    mark();
    EXPECT_EQ(zvdbOpenTable(table_, "nothere", 0), 12);
    EXPECT_EQ(last(), 12);
    EXPECT_EQ(zvdbIsActiveTable(table_), 0);
    EXPECT_EQ(table_->datno, -1);
    // The handles defined on the closed table are still there.
    EXPECT_EQ(zvdbGetTableFieldCount(table_), 3);
    EXPECT_EQ(zvdbGetTableIndexCount(table_), 2);
    EXPECT_EQ(zvdbOpenTable(table_, nullptr, 0), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbOpenTable(nullptr, "cust", 0), ZVDB_NO_TABLE);
}

// Records the callback kinds that run, each answering what `answers` holds
// for its kind (0 when none).
struct CallbackLog {
    std::vector<int> kinds;
    int32_t fields = -1;
    int answers[27] = {};
};
CallbackLog *g_log = nullptr;

template <int Kind>
ZVDBRET log_kind(ZVHANDLE, int32_t value) {
    g_log->kinds.push_back(Kind);
    if (Kind == 14) g_log->fields = value;
    return g_log->answers[Kind];
}

template <int... Kinds>
void set_logging(ZVHANDLE table) {
    (zvdbSetCallback(table, Kinds, reinterpret_cast<ZVDB_CALLBACK>(&log_kind<Kinds>)), ...);
}

TEST_F(TableOpenTest, CallbacksRunInTheOrderOfTheReads) {
    CallbackLog log;
    g_log = &log;
    cust();
    ASSERT_EQ(zvdbCreateTable(table_, "cust", 0), 0) << last();
    set_logging<10, 12, 13, 14, 15, 18, 19, 20>(table_);
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
    EXPECT_EQ(log.kinds, (std::vector<int>{20, 10, 13, 12, 18, 15, 14}));
    EXPECT_EQ(log.fields, 3);
    const int datno = table_->datno;
    ASSERT_EQ(zvdbCloseTable(table_), 0);

    // A refusal after the definition read: kind 19 runs, nothing stays open.
    log = CallbackLog{};
    log.answers[18] = 4444;
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    EXPECT_EQ(zvdbOpenTable(table_, "cust", 0), 4444);
    EXPECT_EQ(log.kinds, (std::vector<int>{20, 10, 13, 12, 18, 19}));
    EXPECT_EQ(zvdbIsActiveTable(table_), 0);
    EXPECT_EQ(table_->datno, -1);
    EXPECT_EQ(zvdbGetTableFieldCount(table_), 0);
    EXPECT_LT(GETFIL(datno, 0), 0);
    g_log = nullptr;
}

TEST_F(TableOpenTest, ARawOpenOfAFileWithoutSchemaGetsOneRawField) {
    static const ISEG seg[1] = {{0, 4, 0}};
    IIDX idx[1] = {IIDX{4, 0, 0, 0, 0, 1, seg, "k", nullptr, nullptr, nullptr}};
    IFIL ifil = IFIL{"raw", -1, 64, 0, 0, 1, 0, 0, idx, nullptr, nullptr, 0};
    XCREblk xcre[2] = {};
    xcre[0].mode = xcre[1].mode = 0x02;
    ASSERT_EQ(CREIFILX8(&ifil, ".dat", ".idx", 6366, nullptr, nullptr, xcre), 0);
    ASSERT_EQ(CLIFIL(&ifil), 0);
    CallbackLog log;
    g_log = &log;
    set_logging<10, 12, 13, 14, 15, 18, 19, 20>(table_);
    ASSERT_EQ(zvdbOpenTable(table_, "raw", 0x20 | 0x100), 0) << last();
    ASSERT_EQ(zvdbGetTableFieldCount(table_), 1);
    ZVHANDLE f = zvdbGetField(table_, 0);
    EXPECT_STREQ(zvdbGetFieldName(f), "rawfld");
    EXPECT_EQ(zvdbGetFieldType(f), ZV_ARRAY);
    EXPECT_EQ(zvdbGetFieldLength(f), 64);
    EXPECT_EQ(zvdbGetTableIndexCount(table_), 1);
    EXPECT_TRUE(log.kinds.empty());
    EXPECT_EQ(zvdbCloseTable(table_), 0);
    EXPECT_TRUE(log.kinds.empty());
    g_log = nullptr;
}

TEST_F(TableOpenTest, AttachTakesADataFileTheCallerOpened) {
    cust();
    ASSERT_EQ(zvdbCreateTable(table_, "cust", 0), 0) << last();
    const std::string full = dir() + "/cust.dat";
    const int datno = OPNRFILX(-1, full.c_str(), 0, nullptr);
    ASSERT_GE(datno, 0);
    ASSERT_EQ(zvdbAttachTable(table_, datno), 0) << last();
    EXPECT_EQ(zvdbIsActiveTable(table_), 1);
    EXPECT_STREQ(zvdbGetTableName(table_), "cust");
    EXPECT_EQ(std::string(zvdbGetTablePath(table_)), dir());
    EXPECT_EQ(zvdbGetTableFieldCount(table_), 3);
    EXPECT_EQ(zvdbGetTableIndexCount(table_), 2);
    EXPECT_EQ(zvdbGetDatno(table_), datno);
    EXPECT_EQ(zvdbGetTableCreateMode(table_), 0u);
    EXPECT_EQ(zvdbAttachTable(table_, datno), ZVDB_ACTIVE);
    ASSERT_EQ(zvdbDetachTable(table_), 0);
    EXPECT_EQ(zvdbIsActiveTable(table_), 0);
    EXPECT_STREQ(zvdbGetTableName(table_), "table");
    EXPECT_EQ(zvdbGetTableFieldCount(table_), 0);
    EXPECT_EQ(GETFIL(datno, 0), 44);
    EXPECT_EQ(zvdbDetachTable(table_), ZVDB_NOT_ACTIVE);
    EXPECT_EQ(zvdbAttachTable(nullptr, datno), ZVDB_NO_TABLE);
    EXPECT_EQ(CLRFIL(datno), 0);
}

TEST_F(TableOpenTest, EveryChangeOfTheFilesGivesANewLayoutStamp) {
    cust();
    ASSERT_EQ(zvdbCreateTable(table_, "cust", 0), 0) << last();
    std::vector<uint32_t> seen{table_->layoutstamp};
    auto changed = [&](const char *step) {
        for (uint32_t s : seen) EXPECT_NE(table_->layoutstamp, s) << step;
        seen.push_back(table_->layoutstamp);
    };
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0);
    changed("open");
    ASSERT_EQ(_zvdbReloadTable(table_), 0);
    changed("reload");
    ASSERT_EQ(_zvdbCloseZarvo(table_), 0);
    ASSERT_EQ(_zvdbReopenTable(table_, 0), 0);
    changed("reopen");
    EXPECT_EQ(zvdbGetTableFieldCount(table_), 3);
    // The stamp never takes the all-ones value.
    table_->layoutstamp = 0xFFFFFFFEu;
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    EXPECT_EQ(table_->layoutstamp, 0u);
    const int datno = OPNRFILX(-1, "cust.dat", 0, nullptr);
    ASSERT_GE(datno, 0);
    seen = {table_->layoutstamp};
    ASSERT_EQ(zvdbAttachTable(table_, datno), 0);
    changed("attach");
    ASSERT_EQ(zvdbDetachTable(table_), 0);
    changed("detach");
    EXPECT_EQ(CLRFIL(datno), 0);
}

ZVDBRET refuse_fields(ZVHANDLE, int32_t) { return 4444; }

// Calls given a field, index or segment handle of the table they close or
// rebuild free that handle with the table's definition: the code is then
// kept through the table (the session's last code is the call's), and the
// freed handle is not read again.
TEST_F(TableOpenTest, ACallThatFreesTheCallersHandleKeepsItsCodeThroughTheTable) {
    using Pick = ZVHANDLE (*)(tagZVDBTABLE *);
    const std::pair<const char *, Pick> picks[] = {
        {"field", [](tagZVDBTABLE *t) { return zvdbGetField(t, 1); }},
        {"index", [](tagZVDBTABLE *t) { return zvdbGetIndex(t, 1); }},
        {"segment", [](tagZVDBTABLE *t) { return zvdbGetSegment(zvdbGetIndex(t, 1), 0); }},
    };
    // A definition naming a schema entry the file does not have.
    ISEG missing{99, 4, 12};
    IIDX bad{4, 0, 0, 0, 0, 1, &missing, "bad", nullptr, nullptr, nullptr};
    const IFIL badifil{"cust", -1, 44, 0, 0, 1, 0, 0, &bad, nullptr, nullptr, 0};
    for (const auto &[kind, pick] : picks) {
        SCOPED_TRACE(kind);
        create_and_open();
        ASSERT_FALSE(HasFatalFailure());
        // Open of an open table closes it and refuses.
        ZVHANDLE h = pick(table_);
        ASSERT_NE(h, nullptr);
        mark();
        EXPECT_EQ(zvdbOpenTable(h, "cust", 0), ZVDB_ACTIVE);
        EXPECT_EQ(last(), ZVDB_ACTIVE);
        EXPECT_EQ(zvdbIsActiveTable(table_), 0);

        // An open refused once the handles are rebuilt drops them.
        cust();
        h = pick(table_);
        ASSERT_EQ(zvdbSetCallback(table_, 14, reinterpret_cast<ZVDB_CALLBACK>(&refuse_fields)), 0);
        ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
        mark();
        EXPECT_EQ(zvdbOpenTable(h, "cust", 0), 4444);
        EXPECT_EQ(last(), 4444);
        EXPECT_EQ(zvdbIsActiveTable(table_), 0);
        ASSERT_EQ(zvdbSetCallback(table_, 14, nullptr), 0);

        // Attach replaces the caller's definition before the bad one fails.
        cust();
        h = pick(table_);
        const std::string full = dir() + "/cust.dat";
        const int datno = OPNRFILX(-1, full.c_str(), 0, nullptr);
        ASSERT_GE(datno, 0);
        mark();
        EXPECT_EQ(zvdbAttachTableXtd(h, datno, 0, nullptr, &badifil), ZVDB_NO_FIELD_NAME);
        EXPECT_EQ(last(), ZVDB_NO_FIELD_NAME);
        ASSERT_EQ(zvdbDetachTable(table_), 0);
        ASSERT_EQ(CLRFIL(datno), 0);

        // A close whose write fails lets the files go all the same.
        ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
        ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
        h = pick(table_);
        expect_failed_close([h] { return zvdbCloseTable(h); });
        for (const std::string &f : files()) std::remove(f.c_str());
    }
}

}  // namespace
