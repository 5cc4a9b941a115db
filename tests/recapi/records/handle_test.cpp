// Record handle services: life, default index, key length, row id,
// comparison, duplication, callbacks, null bits, field names, masks, the
// slot rebuild after a layout change, and the debug dumps.
#include <cstring>
#include <string>

#include "recapi/base/wrappers.h"
#include "recapi/records/record.h"
#include "recapi/schema/icon.h"
#include "recapi/schema/tablefile.h"
#include "tests/recapi/records/recfix.h"
#include "tests/support/fixture.h"

namespace rectest {
namespace {

// A fixed-length table whose three hidden fields lead ("$DELFLD$",
// "$NULFLD$", "$ROWID$"), with the user fields id ZV_INT4, name ZV_FSTRING
// 10, qty ZV_INT4, the "$RECBYT$" and "$ROWID$" indexes and two user
// indexes.
class HandleTest : public RecordTest {
protected:
    void SetUp() override {
        RecordTest::SetUp();
        make_table({{"id", ZV_INT4, 0}, {"name", ZV_FSTRING, 10}, {"qty", ZV_INT4, 0}}, 0,
                   {{"byid", 0, 0}, {"byname", 1, 1}});
    }
};

int calls = 0;
ZVDBRET count_call(ZVHANDLE) { return ++calls, 0; }
ZVDBRET refuse(ZVHANDLE) { return 4321; }
ZVDBRET answer_42(ZVDBFIELDSLOT *, void *value, int32_t *size, int32_t kind) {
    if (kind != ZVDB_VALUE_SIGNED || *size != 4) return 99;
    const int32_t v = 42;
    std::memcpy(value, &v, 4);
    return 0;
}

TEST_F(HandleTest, DefaultIndexChoices) {
    tagZVDBRECORD *r = record();
    EXPECT_EQ(zvdbGetDefaultIndex(r), 0);
    EXPECT_EQ(zvdbSetDefaultIndexByName(r, "$rowid$"), 0);
    EXPECT_EQ(zvdbGetDefaultIndex(r), ZVDB_INDEX_ROWID);
    EXPECT_STREQ(zvdbGetDefaultIndexName(r), "$ROWID$");
    EXPECT_EQ(zvdbSetDefaultIndexByName(r, "$RECBYT$"), 0);
    EXPECT_EQ(zvdbGetDefaultIndex(r), ZVDB_INDEX_RECBYT);
    EXPECT_EQ(zvdbSetDefaultIndexByName(r, "BYNAME"), 0);
    EXPECT_EQ(zvdbGetDefaultIndex(r), 1);
    EXPECT_STREQ(zvdbGetDefaultIndexName(r), "byname");
    EXPECT_EQ(zvdbGetKeylen(r), 14);
    mark();
    EXPECT_EQ(zvdbSetDefaultIndexByName(r, "nosuch"), ZVDB_NO_INDEX_NAME);
    EXPECT_EQ(last(), ZVDB_NO_INDEX_NAME);
    EXPECT_EQ(zvdbSetDefaultIndex(r, 2), ZVDB_NO_INDEX_NAME);
    EXPECT_EQ(zvdbSetDefaultIndex(r, -1), ZVDB_NO_INDEX_NAME);
    EXPECT_EQ(zvdbGetDefaultIndex(r), 1);
    EXPECT_EQ(zvdbSetDefaultIndex(r, ZVDB_INDEX_FULLTEXT), 0);
    EXPECT_EQ(zvdbGetKeylen(r), -1);
    EXPECT_EQ(zvdbSetDefaultIndex(r, ZVDB_INDEX_PHYSICAL), 0);
    EXPECT_EQ(zvdbGetDefaultIndexName(r), nullptr);
    mark();
    EXPECT_EQ(zvdbGetKeylen(r), -1);
    EXPECT_EQ(last(), 80);
    EXPECT_EQ(_zvdbIdxno(r), table_->datno);

    // A table opened with open bit 64 reads in physical order only.
    table_->openmode |= 64;
    tagZVDBRECORD *plain = record();
    EXPECT_EQ(zvdbSetDefaultIndex(plain, 0), ZVDB_NOT_SUPPORTED);
    EXPECT_EQ(zvdbGetDefaultIndex(plain), ZVDB_INDEX_PHYSICAL);
    EXPECT_EQ(zvdbSetDefaultIndex(plain, ZVDB_INDEX_PHYSICAL), 0);
    table_->openmode &= ~64u;
}

TEST_F(HandleTest, RowidIsTheEnginesSerialNumber) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, 5), 0);
    ASSERT_EQ(_zvdbADDREC(table_->datno, zvdbGetRecordBuffer(r), nullptr), 0);
    ZVBIGINT rowid = 0, field = 0;
    ASSERT_EQ(zvdbGetRowid(r, &rowid), 0);
    ASSERT_EQ(zvdbGetFieldAsBigint(r, -3, &field), 0);
    EXPECT_EQ(rowid, 1);
    EXPECT_EQ(field, rowid);
    EXPECT_EQ(zvdbGetRowid(r, nullptr), ZVDB_NULL_ARGUMENT);

    // A record read from the table keeps its row id when bytes are
    // assigned to it.
    const std::vector<unsigned char> other(size_t(zvdbGetRecordLength(r)), 0);
    ASSERT_EQ(zvdbSetNewRecord(r, 0), 0);
    ASSERT_EQ(zvdbAssignRecordBuffer(r, other.data(), int32_t(other.size())), 0);
    ASSERT_EQ(zvdbGetRowid(r, &rowid), 0);
    EXPECT_EQ(rowid, 1);
    int32_t id = -1;
    ASSERT_EQ(zvdbGetFieldAsSigned(r, 0, &id), 0);
    EXPECT_EQ(id, 0);
}

TEST_F(HandleTest, CompareAndDuplicate) {
    tagZVDBRECORD *a = record();
    tagZVDBRECORD *b = record();
    for (tagZVDBRECORD *r : {a, b}) {
        ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, 1), 0);
        ASSERT_EQ(zvdbSetFieldAsString(r, 1, "same"), 0);
    }
    // The hidden fields do not count.
    ASSERT_EQ(zvdbSetFieldAsBigint(a, 2, 3), 0);
    std::memset(zvdbGetFieldAddress(a, -2), 0xFF, 1);
    EXPECT_EQ(zvdbCompareRecords(a, b), ZVDB_RECORDS_DIFFER);
    ASSERT_EQ(zvdbSetFieldAsBigint(b, 2, 3), 0);
    EXPECT_EQ(zvdbCompareRecords(a, b), 0);
    ASSERT_EQ(zvdbSetFieldAsString(b, 1, "other"), 0);
    mark();
    EXPECT_EQ(zvdbCompareRecords(a, b), ZVDB_RECORDS_DIFFER);
    EXPECT_EQ(last(), ZVDB_RECORDS_DIFFER);

    ASSERT_EQ(zvdbSetDefaultIndex(a, 1), 0);
    ASSERT_EQ(zvdbSetNewRecord(a, 1), 0);
    ASSERT_EQ(zvdbSwitchContext(a), 0);
    auto *d = static_cast<tagZVDBRECORD *>(zvdbDuplicateRecord(a));
    ASSERT_NE(d, nullptr);
    records_.push_back(d);
    EXPECT_EQ(zvdbCompareRecords(a, d), 0);
    EXPECT_EQ(zvdbGetDefaultIndex(d), 1);
    EXPECT_EQ(zvdbIsEditedRecord(d), 1);
    EXPECT_EQ(zvdbIsNewRecord(d), 1);
    // The duplicate shares the source's context slot.
    EXPECT_EQ(d->icon, a->icon);
    EXPECT_EQ(table_->icons->slots[a->icon].users, 2);
    EXPECT_NE(d->buffer, a->buffer);
    EXPECT_EQ(zvdbGetRecordNbr(d), 2);
    EXPECT_EQ(zvdbGetRecord(table_, 2), d);
    EXPECT_EQ(zvdbGetRecord(table_, 3), nullptr);
    EXPECT_EQ(zvdbDuplicateRecord(table_), nullptr);
}

TEST_F(HandleTest, NullBitsAndFieldNames) {
    tagZVDBRECORD *r = record();
    for (int32_t n : {-1, 3, 1000}) {
        mark();
        EXPECT_EQ(zvdbIsNullField(r, n), 0) << n;
        EXPECT_EQ(zvdbGetError(r), ZVDB_NO_FIELD) << n;
    }
    *static_cast<unsigned char *>(zvdbGetFieldAddress(r, -2)) = 0x02;
    EXPECT_EQ(zvdbIsNullField(r, 1), 1);
    EXPECT_EQ(zvdbIsNullField(r, 0), 0);
    EXPECT_EQ(zvdbIsNullField(r, 2), 0);
    // Field numbers, not slot positions: the hidden fields lead.
    EXPECT_EQ(zvdbGetFieldNumberByName(r, "name"), 1);
    EXPECT_EQ(zvdbGetFieldNumberByName(r, "QTY"), 2);
    EXPECT_EQ(zvdbGetFieldNumberByName(r, "$rowid$"), -3);
    EXPECT_EQ(zvdbGetFieldNumberByName(r, "none"), -1);
    EXPECT_EQ(zvdbGetFieldNumberByName(r, nullptr), -1);
    EXPECT_EQ(zvdbGetError(r), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(r->leadinghidden, 3);
    EXPECT_EQ(zvdbGetFieldOffset(r, 0), 16);
    EXPECT_EQ(zvdbGetFieldSize(r, 1), 10);
    EXPECT_EQ(zvdbGetFieldDataLength(r, 1), 10);
    EXPECT_EQ(zvdbGetFieldSize(r, 3), -1);
    EXPECT_EQ(_zvdbGetFieldDataType(r, -3), ZV_BIGINT);
}

TEST_F(HandleTest, FieldMask) {
    tagZVDBRECORD *r = record();
    EXPECT_EQ(zvdbIsFieldMaskOn(r), 0);
    EXPECT_EQ(zvdbAddToFieldMask(r, 3), ZVDB_NO_FIELD);
    EXPECT_EQ(zvdbAddToFieldMask(r, -1), ZVDB_NO_FIELD);
    ASSERT_EQ(zvdbAddToFieldMask(r, 0), 0);
    EXPECT_EQ(zvdbAddToFieldMask(r, 0), ZVDB_FIELD_NAME);
    EXPECT_EQ(zvdbIsFieldMaskOn(r), 1);
    int32_t v = 0;
    ZVBIGINT rowid = 0;
    EXPECT_EQ(zvdbGetFieldAsSigned(r, 1, &v), ZVDB_FIELD_MASKED);
    EXPECT_EQ(zvdbGetFieldAsSigned(r, 0, &v), 0);
    EXPECT_EQ(zvdbGetFieldAsBigint(r, -3, &rowid), 0);
    EXPECT_EQ(zvdbIsNullField(r, 1), 0);
    EXPECT_EQ(zvdbGetError(r), ZVDB_FIELD_MASKED);
    r->batchno = 1;
    EXPECT_EQ(zvdbAddToFieldMask(r, 1), ZVDB_BATCH_ACTIVE);
    EXPECT_EQ(zvdbRemoveFieldMask(r), ZVDB_BATCH_ACTIVE);
    r->batchno = 0;
    EXPECT_EQ(zvdbRemoveFieldMask(r), 0);
    EXPECT_EQ(zvdbGetFieldAsSigned(r, 1, &v), 0);
}

TEST_F(HandleTest, CallbacksOfRecordsAndFields) {
    calls = 0;
    ASSERT_EQ(zvdbSetCallback(table_, 2, reinterpret_cast<ZVDB_CALLBACK>(count_call)), 0);
    ASSERT_EQ(zvdbSetCallback(table_, 3, reinterpret_cast<ZVDB_CALLBACK>(refuse)), 0);
    tagZVDBRECORD *r = record();
    int32_t v = -1;
    ASSERT_EQ(zvdbGetFieldAsSigned(r, 0, &v), 0);
    ASSERT_EQ(zvdbGetFieldAsSigned(r, 2, &v), 0);
    EXPECT_EQ(calls, 1);
    // A failing reset callback stops the reset.
    EXPECT_EQ(zvdbResetRecord(r), 4321);
    EXPECT_NE(r->slots, nullptr);
    ASSERT_EQ(zvdbClearCallback(r, 3), 0);
    EXPECT_EQ(zvdbResetRecord(r), 0);
    EXPECT_EQ(r->slots, nullptr);

    auto *f = static_cast<tagZVDBFIELD *>(zvdbGetField(table_, 2));
    ASSERT_EQ(zvdbSetFieldCallback(f, 2, reinterpret_cast<ZVDB_CALLBACK>(answer_42)), 0);
    EXPECT_EQ(_zvdbGetFieldAsWithCallback(r, 2), 1);
    EXPECT_EQ(_zvdbGetFieldAsWithCallback(r, 0), 0);
    ASSERT_EQ(zvdbGetFieldAsSigned(r, 2, &v), 0);
    EXPECT_EQ(v, 42);
    // Every reader reaches the callback through the field's storage family.
    uint32_t flag = 0;
    ASSERT_EQ(zvdbGetFieldAsBool(r, 2, &flag), 0);
    EXPECT_EQ(flag, 1u);
    EXPECT_EQ(zvdbGetFieldAsBlob(r, 2, nullptr), ZVDB_BAD_KIND);
    // A raw open fires no record callbacks.
    calls = 0;
    table_->openmode |= 0x120;
    tagZVDBRECORD *raw = record();
    ASSERT_EQ(zvdbGetFieldAsSigned(raw, 0, &v), 0);
    EXPECT_EQ(calls, 0);
    table_->openmode &= ~0x120u;
}

TEST_F(HandleTest, LifeOfAHandle) {
    const uint16_t before = session_->lastset;
    tagZVDBRECORD *r = record();
    EXPECT_EQ(r->setno, uint16_t(before + 1));
    EXPECT_EQ(zvdbIsNewRecord(r), 1);
    EXPECT_EQ(zvdbGetRecordHandle(r), r);
    EXPECT_EQ(zvdbGetRecordHandle(table_), nullptr);
    EXPECT_EQ(zvdbGetTableHandle(r), table_);
    EXPECT_EQ(zvdbAllocRecord(session_), nullptr);
    EXPECT_EQ(last(), ZVDB_NO_TABLE);
    session_->lastset = 65535;
    EXPECT_EQ(record()->setno, 0);

    // A record stays new after its slots are built: its image is no record
    // of the table until it is read or written.
    ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, 7), 0);
    EXPECT_EQ(zvdbIsNewRecord(r), 1);
    ASSERT_EQ(zvdbSetNewRecord(r, 0), 0);
    ASSERT_EQ(zvdbSetEditedRecord(r, 0), 0);
    // A new layout of the table (a reopen) builds the slots again.
    zv::new_layout(table_);
    int32_t v = -1;
    ASSERT_EQ(zvdbGetFieldAsSigned(r, 0, &v), 0);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(zvdbIsNewRecord(r), 1);

    ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, 7), 0);
    EXPECT_EQ(zvdbResetAll(table_), 0);
    EXPECT_EQ(r->buffer, nullptr);
    EXPECT_EQ(zvdbResetAll(session_), ZVDB_NO_TABLE);
    table_->active = 0;
    EXPECT_EQ(zvdbGetFieldAsSigned(r, 0, &v), ZVDB_NOT_ACTIVE);
    EXPECT_EQ(zvdbGetRecordLength(r), 0);
    EXPECT_EQ(last(), ZVDB_NOT_ACTIVE);
    table_->active = 1;
    EXPECT_EQ(zvdbSetIdentityOff(r), ZVDB_NOT_SUPPORTED);
    EXPECT_EQ(zvdbIsIdentityOff(r), 0);
    EXPECT_EQ(zvdbFreeRecord(nullptr), nullptr);
}

TEST_F(HandleTest, DebugDumpsOfTheRecord) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, 65), 0);
    ASSERT_EQ(zvdbSetFieldAsString(r, 1, "Ann"), 0);
    _zvdbRecordDebugCall("zvdbTest", r, 0);
    _zvdbRecordDebugCall("zvdbFail", r, 4012);
    _zvdbDEBUGData(r);
    const std::vector<std::string> lines = zvtest::lines_of(zvtest::read_file("zvdbdbug.txt"));
    ASSERT_EQ(lines.size(), 19u);
    EXPECT_EQ(lines[1], "zvdbTest returned ZVDBRET_OK");
    EXPECT_EQ(lines[2],
              "    Record buffer status => table: rec,  context: -1, recbyt low: 0, recbyt high: 0, size: 36, "
              "length: 36, new: YES, changed: YES, index: 0, set: 0");
    EXPECT_EQ(lines[3], "0000 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ................");
    EXPECT_EQ(lines[4], "0010 41 00 00 00 41 6e 6e 00 00 00 00 00 00 00 00 00 A...Ann.........");
    EXPECT_EQ(lines[5], "0020 00 00 00 00 " + std::string(12 * 3, ' ') + "....");
    EXPECT_EQ(lines[7], "zvdbFail returned 4012 <<< ERROR >>>");
    EXPECT_EQ(lines[12], "    Record data:");
    EXPECT_EQ(lines[13], "    Field($DELFLD$ ZV_ARRAY 5) => Length: 5 Data: 0000000000");
    EXPECT_EQ(lines[15], "    Field($ROWID$  8) => 0");
    EXPECT_EQ(lines[16], "    Field(id ZV_INT4 4) => 65");
    EXPECT_EQ(lines[17], "    Field(name ZV_FSTRING 10) => Length: 10 Data: \"Ann" + std::string(7, '\0') + "\"");
}

}  // namespace
}  // namespace rectest
