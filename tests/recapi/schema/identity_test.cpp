// The identity field of a table and its definition in the engine, record
// expressions parsed against the table's schema, the extension hint and the
// thin table services.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/recapi/schema/tablefiles.h"
#include "zarvo/zvdbpt.h"

namespace {

using TableIdentityTest = schematest::TableFileTest;

TEST_F(TableIdentityTest, OneIdentityFieldPerTableMarkedUnlessAltering) {
    tagZVDBFIELD *a = field("a", ZV_INT4);
    tagZVDBFIELD *b = field("b", ZV_INT4);
    mark();
    ASSERT_EQ(zvdbSetIdentityField(table_, "A", 5, 2), 0);
    EXPECT_EQ(last(), 0);
    EXPECT_EQ(a->status, 1u | 0x100u);
    EXPECT_EQ(zvdbSetIdentityField(table_, "b", 1, 1), ZVDB_IDENTITY_EXISTS);
    EXPECT_EQ(last(), ZVDB_IDENTITY_EXISTS);
    EXPECT_EQ(b->status, 1u);

    ASSERT_EQ(zvdbDelFieldByName(table_, "a"), 0);
    EXPECT_EQ(table_->identityname, nullptr);
    EXPECT_EQ(zvdbSetIdentityField(table_, "a", 1, 1), ZVDB_NO_FIELD_NAME);
    EXPECT_EQ(zvdbSetIdentityField(table_, nullptr, 1, 1), ZVDB_NO_FIELD_NAME);
    table_->operation = 3;
    ASSERT_EQ(zvdbSetIdentityField(table_, "b", 1, 1), 0);
    EXPECT_EQ(b->status, 1u) << "an alteration does not mark the field";
    EXPECT_EQ(zvdbSetIdentityField(session_, "b", 1, 1), ZVDB_NO_TABLE);
}

TEST_F(TableIdentityTest, SettingsAreReadOnlyFromAnOpenTable) {
    field("a", ZV_INT4);
    ASSERT_EQ(zvdbSetIdentityField(table_, "a", 7, 3), 0);
    EXPECT_EQ(zvdbGetIdentityField(table_), nullptr);
    EXPECT_EQ(last(), ZVDB_NOT_ACTIVE);
    ZVBIGINT value = 0;
    EXPECT_EQ(zvdbGetLastIdentity(table_, &value), ZVDB_NOT_ACTIVE);
    EXPECT_EQ(zvdbGetLastIdentity(session_, &value), ZVDB_NO_TABLE);

    zvdbFreeTable(table_);
    table_ = static_cast<tagZVDBTABLE *>(zvdbAllocTable(session_));
    bind_fixture();
    EXPECT_EQ(zvdbGetIdentityField(table_), nullptr);
    EXPECT_EQ(last(), 0);
    EXPECT_EQ(zvdbGetLastIdentity(table_, &value), ZVDB_NO_IDENTITY);
    ASSERT_EQ(zvdbSetIdentityField(table_, "qty", -4, 3), 0);
    EXPECT_STREQ(zvdbGetIdentityField(table_), "qty");
    ZVBIGINT seed = 0, increment = 0;
    EXPECT_STREQ(zvdbGetIdentityFieldDetails(table_, &seed, &increment), "qty");
    EXPECT_EQ(seed, -4);
    EXPECT_EQ(increment, 3);
}

TEST_F(TableIdentityTest, TheEngineAssignsFromSeedAndIncrement) {
    bind_fixture();
    ASSERT_EQ(zvdbSetIdentityField(table_, "id", 1, 1), 0);
    ASSERT_EQ(_zvdb_AddIDField(table_), 0);
    EXPECT_EQ(wchIDfield(datno()), 0);
    unsigned char record[24] = {};
    std::memcpy(record + 8, "first", 5);
    ASSERT_EQ(ADDREC(datno(), record), 0);
    ZVBIGINT value = 0;
    ASSERT_EQ(zvdbGetLastIdentity(table_, &value), 0);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(zvdbGetLastIdentity(table_, nullptr), ZVDB_NULL_ARGUMENT);
}

struct IdentityCase {
    const char *field;
    int second;         // ADDREC of the second record
};

TEST_F(TableIdentityTest, TheDefinitionCountsHiddenEntriesAndKeepsTheWholeIncrement) {
    const DATOBJ schema[5] = {{"$DELFLD$", 0, ZV_ARRAY, 5, 0, 0},
                              {"$NULFLD$", 0, ZV_ARRAY, 1, 0, 0},
                              {"$ROWID$", 0, ZV_BIGINT, 8, 0, 0},
                              {"id", 0, ZV_INT4, 4, 0, 0},
                              {"big", 0, ZV_BIGINT, 8, 0, 0}};
    const int64_t increment = int64_t(1) << 33;
    // The second value, 1 + 2^33, leaves the range of a 4-byte field.
    for (const IdentityCase &c : {IdentityCase{"BIG", 0}, IdentityCase{"id", 1002}}) {
        bind_schema(schema, 5, 32);
        ASSERT_EQ(zvdbSetIdentityField(table_, c.field, 1, increment), 0);
        ASSERT_EQ(_zvdb_AddIDField(table_), 0) << c.field;
        EXPECT_EQ(wchIDfield(datno()), std::string(c.field) == "BIG" ? 4 : 3);
        int64_t value = 0;
        ASSERT_EQ(getIDfield(datno(), 3, &value), 0);
        EXPECT_EQ(value, increment);
        unsigned char record[32] = {};
        ASSERT_EQ(ADDREC(datno(), record), 0);
        record[0] = 1;
        EXPECT_EQ(ADDREC(datno(), record), c.second) << c.field;
        if (c.second == 0) {
            ZVBIGINT last = 0;
            ASSERT_EQ(zvdbGetLastIdentity(table_, &last), 0);
            EXPECT_EQ(last, 1 + increment);
        }
        drop_files();
    }
    EXPECT_EQ(_zvdb_AddIDField(table_), ZVDB_NO_FIELD_NAME) << "no schema";
}

TEST_F(TableIdentityTest, ExtensionHintsBelongToTableHandles) {
    for (uint32_t hint : {0u, 1u, 2u}) {
        EXPECT_EQ(zvdbSetExtensionHint(table_, hint), 0);
        EXPECT_EQ(zvdbGetExtensionHint(table_), int32_t(hint));
    }
    mark();
    EXPECT_EQ(zvdbSetExtensionHint(table_, 3), ZVDB_BAD_ARGUMENT);
    EXPECT_EQ(last(), ZVDB_BAD_ARGUMENT);
    EXPECT_EQ(zvdbGetExtensionHint(table_), 2);
    ZVHANDLE f = field("a", ZV_INT4);
    mark();
    EXPECT_EQ(zvdbGetExtensionHint(f), -1);
    EXPECT_EQ(last(), ZVDB_BAD_TAG_HANDLE);
    mark();
    EXPECT_EQ(zvdbSetExtensionHint(f, 1), ZVDB_BAD_TAG_HANDLE);
    EXPECT_EQ(last(), ZVDB_BAD_TAG_HANDLE);
    EXPECT_EQ(zvdbGetExtensionHint(nullptr), -1);
}

TEST_F(TableIdentityTest, ThinServicesAnswerForOpenTablesOnly) {
    EXPECT_EQ(zvdbPUTHDR(table_, 1, 1), ZVDB_NOT_ACTIVE);
    EXPECT_EQ(zvdbPUTHDR(nullptr, 1, 1), ZVDB_NO_TABLE);
    EXPECT_EQ(zvdbLOKTIMOUT(table_, 0, 10), ZVDB_NOT_ACTIVE);
    EXPECT_EQ(last(), ZVDB_NOT_ACTIVE);
    bind_fixture();
    mark();
    EXPECT_EQ(zvdbLOKTIMOUT(table_, 0, 10), 454);
    EXPECT_EQ(last(), 454);
    EXPECT_EQ(zvdbLOKTIMOUT(nullptr, 0, 10), 454);
    mark();
    const int bad = zvdbPUTHDR(table_, 1, 9999);
    EXPECT_NE(bad, 0);
    EXPECT_EQ(last(), bad);
    EXPECT_EQ(zvSQLImportTable(table_, "a", "b", nullptr), 454);
    EXPECT_EQ(zvdbCheckRecordSchemaConversion(table_, nullptr), ZVDB_NOT_SUPPORTED);
    EXPECT_EQ(zvdbStartRecordSchemaConversion(table_, nullptr), ZVDB_NOT_SUPPORTED);
}

struct ExprCase {
    const char *text;
    int code;
    ZVFIELDTYPE type;
};

TEST_F(TableIdentityTest, RecordExpressionsReportTheirValueTypeAndStayListed) {
    bind_fixture();
    const ExprCase cases[] = {
        {"id + qty", 0, ZV_INT4},
        {"id > qty", ZVDB_BAD_TYPE, 0},
        {"{d '2024-2-29'}", 0, ZV_DATE},
        {"name", 0, ZV_STRING},
        {"(double) id", 0, ZV_NUMBER},
        {"NOT id", ZVDB_BAD_TYPE, 0},
    };
    int32_t expected = 0;
    for (const ExprCase &c : cases) {
        ZVFIELDTYPE type = -1;
        int32_t number = -1;
        mark();
        EXPECT_EQ(zvdbParseRecordExpr(table_, c.text, &type, &number), c.code) << c.text;
        EXPECT_EQ(last(), c.code ? c.code : 7777) << c.text;
        EXPECT_EQ(number, expected++) << c.text;
        EXPECT_EQ(type, c.code ? -1 : c.type) << c.text;
    }
    EXPECT_EQ(_zvdbListCount(table_->cndxexprs), expected);
}

TEST_F(TableIdentityTest, RefusedExpressionTextsAreNotListed) {
    bind_fixture();
    int32_t number = -1;
    EXPECT_EQ(zvdbParseRecordExpr(table_, "", nullptr, &number), ZVDB_BAD_ARGUMENT);
    EXPECT_EQ(zvdbParseRecordExpr(table_, nullptr, nullptr, &number), ZVDB_NULL_ARGUMENT);
    const int unknown = zvdbParseRecordExpr(table_, "nosuch + 1", nullptr, &number);
    EXPECT_EQ(zvGetExprErrorCode(), 1);
    EXPECT_EQ(unknown, ZVDB_EXPR_FAILED + 1);
    EXPECT_EQ(last(), ZVDB_EXPR_FAILED + 1);
    EXPECT_EQ(zvdbParseRecordExpr(table_, "#word", nullptr, &number), 454);
    EXPECT_EQ(zvdbParseRecordExpr(table_, "@filter", nullptr, &number), ZVDB_BAD_TYPE);
    EXPECT_EQ(number, -1);
    EXPECT_EQ(_zvdbListCount(table_->cndxexprs), 0);
    EXPECT_EQ(zvdbParseRecordExpr(session_, "id", nullptr, nullptr), ZVDB_NO_TABLE);
}

}  // namespace
