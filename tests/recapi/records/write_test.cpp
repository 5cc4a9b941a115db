// Writes of record handles: adds and rewrites with their keys, duplicate
// keys and the error index, refusals, deletes, identity values, clearing
// records and fields, and record locks.
#include <algorithm>
#include <cstring>
#include <string>

#include "recapi/records/nav.h"
#include "tests/recapi/records/navfix.h"

namespace rectest {
namespace {

class WriteTest : public CityTest {
protected:
    void SetUp() override {
        CityTest::SetUp();
        make_cities(0, 200);
    }
    // The data file's active records.
    uint32_t datent() const { return DATENT(table_->datno); }
    // Reads the record of an id through "pk".
    static void read_id(tagZVDBRECORD *r, int32_t id) {
        ASSERT_EQ(zvdbSetDefaultIndex(r, kPk), 0);
        ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, id), 0);
        ASSERT_EQ(zvdbFindRecord(r, 0), 0) << id;
    }
    // The ids of a city through "bycity".
    static std::vector<int32_t> ids_of_city(tagZVDBRECORD *r, const char *city) {
        std::vector<int32_t> ids;
        EXPECT_EQ(zvdbSetDefaultIndex(r, kByCity), 0);
        EXPECT_EQ(zvdbSetFieldAsString(r, kCity, city), 0);
        for (int rc = zvdbFindRecord(r, 0); rc == 0 && city_of(r) == city; rc = zvdbNextRecord(r)) {
            ids.push_back(id_of(r));
        }
        return ids;
    }
};

TEST_F(WriteTest, UneditedAndRepeatedWritesWriteNothing) {
    tagZVDBRECORD *r = record();
    read_id(r, 17);
    const uint32_t before = datent();
    EXPECT_EQ(zvdbWriteRecord(r), 0);
    EXPECT_EQ(datent(), before);
    tagZVDBRECORD *n = record();
    ASSERT_EQ(zvdbSetFieldAsSigned(n, kId, 5000), 0);
    ASSERT_EQ(zvdbSetFieldAsString(n, kCity, "Zug"), 0);
    ASSERT_EQ(zvdbWriteRecord(n), 0);
    EXPECT_EQ(zvdbIsNewRecord(n), 0);
    EXPECT_EQ(zvdbIsEditedRecord(n), 0);
    EXPECT_EQ(zvdbWriteRecord(n), 0);
    EXPECT_EQ(datent(), before + 1);
    // The record added holds its position and is rewritten at once.
    uint64_t pos = 0, found = 0;
    ASSERT_EQ(zvdbGetRecordPos(n, &pos), 0);
    ASSERT_EQ(zvdbSetFieldAsMoney(n, kAmount, 77), 0);
    ASSERT_EQ(zvdbWriteRecord(n), 0);
    EXPECT_EQ(datent(), before + 1);
    read_id(r, 5000);
    ASSERT_EQ(zvdbGetRecordPos(r, &found), 0);
    EXPECT_EQ(found, pos);
    int32_t amount = 0;
    ASSERT_EQ(zvdbGetFieldAsMoney(r, kAmount, &amount), 0);
    EXPECT_EQ(amount, 77);
}

TEST_F(WriteTest, AChangedCityMovesItsKey) {
    tagZVDBRECORD *r = record();
    read_id(r, 42);
    const std::string old = city_of(r);
    ASSERT_EQ(zvdbSetFieldAsString(r, kCity, "Zurich"), 0);
    ASSERT_EQ(zvdbWriteRecord(r), 0);
    tagZVDBRECORD *f = record();
    EXPECT_EQ(ids_of_city(f, "Zurich"), std::vector<int32_t>{42});
    const std::vector<int32_t> rest = ids_of_city(f, old.c_str());
    EXPECT_EQ(std::count(rest.begin(), rest.end(), 42), 0);
    EXPECT_EQ(rest.size(), 19u);
    read_id(f, 42);
    EXPECT_EQ(city_of(f), "Zurich");
}

TEST_F(WriteTest, ADuplicateKeyNamesItsIndex) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, 5), 0);
    ASSERT_EQ(zvdbSetFieldAsString(r, kCity, "Zug"), 0);
    const uint32_t before = datent();
    mark();
    EXPECT_EQ(zvdbWriteRecord(r), 2);
    EXPECT_EQ(last(), 2);
    EXPECT_EQ(zvdbGetErrorIndex(r), kPk);
    EXPECT_EQ(zvdbIsNewRecord(r), 1);
    EXPECT_EQ(zvdbIsEditedRecord(r), 1);
    EXPECT_EQ(datent(), before);
    // Corrected, it is added, and the error index is cleared.
    ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, 5001), 0);
    ASSERT_EQ(zvdbWriteRecord(r), 0);
    EXPECT_EQ(zvdbGetErrorIndex(r), -1);
    EXPECT_EQ(datent(), before + 1);
    // A rewrite onto another record's key.
    read_id(r, 6);
    ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, 7), 0);
    EXPECT_EQ(zvdbWriteRecord(r), 2);
    EXPECT_EQ(zvdbGetErrorIndex(r), kPk);
    EXPECT_EQ(zvdbIsNewRecord(r), 0);
    EXPECT_EQ(zvdbIsEditedRecord(r), 1);
    EXPECT_EQ(zvdbGetErrorIndex(nullptr), -1);
}

TEST_F(WriteTest, DeletesAndMasks) {
    tagZVDBRECORD *r = record();
    const uint32_t before = datent();
    ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, 10), 0);
    EXPECT_EQ(zvdbDeleteRecord(r), 0);
    EXPECT_EQ(datent(), before);
    read_id(r, 10);
    ASSERT_EQ(zvdbDeleteRecord(r), 0);
    EXPECT_EQ(datent(), before - 1);
    EXPECT_EQ(id_of(r), 10);
    ASSERT_EQ(zvdbNextRecord(r), 0);
    EXPECT_EQ(id_of(r), 11);
    ASSERT_EQ(zvdbPrevRecord(r), 0);
    EXPECT_EQ(id_of(r), 9);
    // A record read through a field mask is neither written nor deleted.
    ASSERT_EQ(zvdbAddToFieldMask(r, kAmount), 0);
    ASSERT_EQ(zvdbSetFieldAsMoney(r, kAmount, 1), 0);
    mark();
    EXPECT_EQ(zvdbWriteRecord(r), ZVDB_FIELD_MASKED);
    EXPECT_EQ(last(), ZVDB_FIELD_MASKED);
    EXPECT_EQ(zvdbDeleteRecord(r), ZVDB_FIELD_MASKED);
    EXPECT_EQ(datent(), before - 1);
}

// A write refused before the image is packed keeps the values that wait
// for the pack.
TEST_F(RecordTest, ARefusedWriteKeepsWaitingValues) {
    create_table("notes", {{"id", ZV_INT4, 0}, {"note", ZV_STRING, 40}}, 0, {{"pk", 0, 0}});
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, 1), 0);
    ASSERT_EQ(zvdbSetFieldAsString(r, 1, "short"), 0);
    ASSERT_EQ(zvdbWriteRecord(r), 0);
    ASSERT_EQ(zvdbSetFieldAsString(r, 1, "a longer note than before"), 0);
    ASSERT_EQ(r->repack, 1);
    ASSERT_EQ(zvdbAddToFieldMask(r, 1), 0);
    EXPECT_EQ(zvdbWriteRecord(r), ZVDB_FIELD_MASKED);
    char text[48];
    ASSERT_EQ(zvdbGetFieldAsString(r, 1, text, sizeof text), 0);
    EXPECT_STREQ(text, "a longer note than before");
    ASSERT_EQ(zvdbRemoveFieldMask(r), 0);
    ASSERT_EQ(zvdbWriteRecord(r), 0);
    tagZVDBRECORD *check = record();
    ASSERT_EQ(zvdbFirstRecord(check), 0);
    ASSERT_EQ(zvdbGetFieldAsString(check, 1, text, sizeof text), 0);
    EXPECT_STREQ(text, "a longer note than before");
}

TEST_F(RecordTest, IdentityValuesComeFromTheEngine) {
    define_table({{"id", ZV_INT4, 0}, {"name", ZV_FSTRING, 10}}, {{"pk", 0, 0}});
    ASSERT_EQ(zvdbSetIdentityField(table_, "id", 1, 1), 0);
    create_and_open("ident", 0);
    tagZVDBRECORD *r = record();
    const uint64_t lookups = zv::record_counts().identity_lookups;
    for (const char *name : {"one", "two", "three"}) {
        ASSERT_EQ(zvdbClearRecord(r), 0);
        ASSERT_EQ(zvdbIsNullField(r, 0), 1);
        ASSERT_EQ(zvdbSetFieldAsString(r, 1, name), 0);
        ASSERT_EQ(zvdbWriteRecord(r), 0) << name;
    }
    // One look-up of the identity slot for the record's layout.
    EXPECT_EQ(zv::record_counts().identity_lookups, lookups + 1);
    tagZVDBRECORD *check = record();
    int32_t id = 0;
    for (int32_t want = 1; want <= 3; want++) {
        ASSERT_EQ(want == 1 ? zvdbFirstRecord(check) : zvdbNextRecord(check), 0);
        ASSERT_EQ(zvdbGetFieldAsSigned(check, 0, &id), 0);
        EXPECT_EQ(id, want);
        EXPECT_EQ(zvdbIsNullField(check, 0), 0);
    }
    ZVBIGINT lastid = 0;
    ASSERT_EQ(zvdbGetLastIdentity(table_, &lastid), 0);
    EXPECT_EQ(lastid, 3);
    // A new layout of the table: one look-up more.
    zvdbFreeRecord(r);
    records_.erase(std::find(records_.begin(), records_.end(), r));
    zvdbFreeRecord(check);
    records_.erase(std::find(records_.begin(), records_.end(), check));
    reopen("ident");
    r = record();
    ASSERT_EQ(zvdbSetFieldAsString(r, 1, "four"), 0);
    ASSERT_EQ(zvdbWriteRecord(r), 0);
    ASSERT_EQ(zvdbGetFieldAsSigned(r, 0, &id), 0);
    EXPECT_EQ(id, 4);
    EXPECT_EQ(zv::record_counts().identity_lookups, lookups + 2);
}

TEST_F(RecordTest, ClearRecordAndClearField) {
    create_table("clear", {{"id", ZV_INT4, 0}, {"name", ZV_FSTRING, 8}, {"num", ZV_NUMBER, 0}, {"note", ZV_STRING, 20}},
                 0, {{"pk", 0, 0}});
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, 9), 0);
    ASSERT_EQ(zvdbSetFieldAsString(r, 1, "name"), 0);
    ASSERT_EQ(zvdbSetFieldAsString(r, 2, "12.5"), 0);
    ASSERT_EQ(zvdbSetFieldAsString(r, 3, "a note"), 0);
    ASSERT_EQ(zvdbWriteRecord(r), 0);
    ASSERT_EQ(zvdbClearRecord(r), 0);
    EXPECT_EQ(zvdbIsNewRecord(r), 1);
    EXPECT_EQ(zvdbIsEditedRecord(r), 0);
    char text[32];
    int32_t id = -1;
    for (int32_t n = 0; n < 4; n++) EXPECT_EQ(zvdbIsNullField(r, n), 1) << n;
    ASSERT_EQ(zvdbGetFieldAsSigned(r, 0, &id), 0);
    EXPECT_EQ(id, 0);
    ASSERT_EQ(zvdbGetFieldAsString(r, 1, text, sizeof text), 0);
    EXPECT_STREQ(text, "");
    ASSERT_EQ(zvdbGetFieldAsString(r, 2, text, sizeof text), 0);
    EXPECT_STREQ(text, "0");
    ASSERT_EQ(zvdbGetFieldAsString(r, 3, text, sizeof text), 0);
    EXPECT_STREQ(text, "");

    // Clearing one field of a record read marks it edited and null; of a
    // new record, null only.
    ASSERT_EQ(zvdbFirstRecord(r), 0);
    ASSERT_EQ(zvdbIsNullField(r, 3), 0);
    ASSERT_EQ(zvdbClearField(r, 3), 0);
    EXPECT_EQ(zvdbIsEditedRecord(r), 1);
    EXPECT_EQ(zvdbIsNullField(r, 3), 1);
    ASSERT_EQ(zvdbGetFieldAsString(r, 3, text, sizeof text), 0);
    EXPECT_STREQ(text, "");
    ASSERT_EQ(zvdbClearField(r, 2), 0);
    ASSERT_EQ(zvdbGetFieldAsString(r, 2, text, sizeof text), 0);
    EXPECT_STREQ(text, "0");
    tagZVDBRECORD *n = record();
    ASSERT_EQ(zvdbSetFieldAsSigned(n, 0, 3), 0);
    ASSERT_EQ(zvdbSetEditedRecord(n, 0), 0);
    ASSERT_EQ(zvdbClearField(n, 0), 0);
    EXPECT_EQ(zvdbIsEditedRecord(n), 0);
    EXPECT_EQ(zvdbIsNullField(n, 0), 1);
    ASSERT_EQ(zvdbGetFieldAsSigned(n, 0, &id), 0);
    EXPECT_EQ(id, 0);
    EXPECT_EQ(zvdbClearField(n, 4), ZVDB_NO_FIELD);
    EXPECT_EQ(zvdbClearField(n, -2), ZVDB_NO_FIELD);
}

TEST_F(RecordTest, ClearPadsFixedTextsOfATableWithoutNullBits) {
    create_table("padded", {{"id", ZV_INT4, 0}, {"name", ZV_FSTRING, 8}, {"code", ZV_FSTRING, 4}}, 0x400,
                 {{"pk", 0, 0}}, '*', 0);
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetFieldAsString(r, 1, "abcdefgh"), 0);
    ASSERT_EQ(zvdbClearRecord(r), 0);
    const auto bytes_of = [&](int32_t n, int32_t len) {
        return std::string(static_cast<const char *>(zvdbGetFieldAddress(r, n)), size_t(len));
    };
    EXPECT_EQ(bytes_of(1, 8), std::string("*******") + '\0');
    EXPECT_EQ(bytes_of(2, 4), std::string("***") + '\0');
    ASSERT_EQ(zvdbSetFieldAsString(r, 2, "xy"), 0);
    ASSERT_EQ(zvdbClearField(r, 2), 0);
    EXPECT_EQ(bytes_of(2, 4), std::string("***") + '\0');
}

TEST_F(WriteTest, LockModes) {
    tagZVDBRECORD *r = record();
    EXPECT_EQ(zvdbGetRecordLock(r), 0);
    EXPECT_EQ(zvdbLockRecord(r, 1), ZVDB_NOT_ACTIVE);
    read_id(r, 3);
    for (int32_t mode = 0; mode <= 4; mode++) EXPECT_EQ(zvdbLockRecord(r, mode), 0) << mode;
    mark();
    EXPECT_EQ(zvdbLockRecord(r, 5), ZVDB_BAD_LOCK_MODE);
    EXPECT_EQ(last(), ZVDB_BAD_LOCK_MODE);
    EXPECT_EQ(zvdbLockRecord(r, -1), ZVDB_BAD_LOCK_MODE);
    EXPECT_EQ(zvdbUnlockRecord(r), 0);
    EXPECT_EQ(zvdbGetRecordLock(r), 0);
    EXPECT_EQ(zvdbLockRecord(nullptr, 1), ZVDB_NO_RECORD);
}

}  // namespace
}  // namespace rectest
