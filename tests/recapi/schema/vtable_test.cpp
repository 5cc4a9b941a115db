// Virtual tables over a host table of a database: the numbering kept in
// the host's resources, the stored definition, creation and its refusals
// and failures, listing, opening and the type check of writes; the
// partition settings of a table.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/platform.h"
#include "recapi/base/handles.h"
#include "tests/recapi/schema/maintfix.h"
#include "tests/recapi/schema/tablefiles.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The database "Sales" with a host table "host" (id ZV_INT4, kind ZV_INT4,
// text ZV_FSTRING 12; unique index "byid" on id) holding records.
class VTableTest : public schematest::MaintDbTest {
protected:
    void SetUp() override {
        MaintDbTest::SetUp();
        make_host();
    }
    void make_host() {
        field("id", ZV_INT4);
        field("kind", ZV_INT4);
        field("text", ZV_FSTRING, 12);
        ASSERT_NE(zvdbAddSegment(index("byid"), zvdbGetField(table_, 0), 12), nullptr);
        ASSERT_EQ(zvdbCreateTable(table_, "host", 0), 0) << last();
    }
    // Creates a virtual table over "host" with three fields of 4, 4 and 12
    // bytes (so that its records fit the host's) and the filter.
    int create(const char *name, const char *filter) {
        tagZVDBTABLE *v = vt();
        zvdbAddField(v, "id", ZV_INT4, 0);
        zvdbAddField(v, "kind", ZV_INT4, 0);
        zvdbAddField(v, (std::string(name) + "_text").c_str(), ZV_FSTRING, 12);
        zvdbAddSegmentByNbr(v, -1, 0, 12);
        return zvdbCreateMRTTable(v, name, "host", 0, filter);
    }
    tagZVDBTABLE *vt() {
        if (!vt_) vt_ = static_cast<tagZVDBTABLE *>(zvdbAllocTable(db_));
        return vt_;
    }
    void TearDown() override {
        zvdbFreeTable(vt_);
        MaintDbTest::TearDown();
    }
    // A resource's data of the host (opened for the read), or "#code".
    std::string resource(uint32_t type, uint32_t number) {
        if (int rc = zvdbOpenTable(table_, "host", 0)) return "#open" + std::to_string(rc);
        ZVHANDLE r = zvdbAllocResource(table_, 0, 0, nullptr);
        std::string out;
        if (int rc = zvdbFindResource(r, type, number, 0)) {
            out = "#" + std::to_string(rc);
        } else {
            out.assign(static_cast<const char *>(zvdbGetResourceData(r)), size_t(zvdbGetResourceDataLength(r)));
        }
        zvdbFreeResource(r);
        zvdbCloseTable(table_);
        return out;
    }
    std::string last_number() { return resource(3, 0); }
    // The counter (number) of a virtual table's dictionary entry, -1 none.
    int number_of(const char *name) {
        ZVDBDICTENTRY e{};
        return table_entry(name, &e) == 0 ? int(e.counter) : -1;
    }
    // Every entry of the dictionary: type, name, link.
    std::vector<std::string> dictionary() {
        std::vector<std::string> out;
        ZVDBDICTENTRY e{};
        for (uint32_t type : {2u, 3u}) {
            for (int rc = _zvdbFirstDict(db_->dict, type, 0); rc == 0; rc = _zvdbNextDict(db_->dict, type, 0)) {
                _zvdbGetDict(db_->dict, &e);
                out.push_back(std::to_string(e.type) + " " + e.name + " " + e.link + " " + std::to_string(e.counter));
            }
        }
        return out;
    }

    tagZVDBTABLE *vt_ = nullptr;
};

TEST_F(VTableTest, NumbersAreReusedAndTheLastNumberFollows) {
    struct Step {
        const char *op;  // "+" create, "-" delete
        const char *name;
        int number;
        const char *last;
    };
    const Step steps[] = {{"+", "A", 0, "000"}, {"+", "B", 1, "001"}, {"-", "A", -1, "001"},
                          {"+", "C", 0, "001"}, {"+", "D", 2, "002"}};
    for (const Step &s : steps) {
        SCOPED_TRACE(std::string(s.op) + s.name);
        if (*s.op == '+') {
            ASSERT_EQ(create(s.name, "kind = 1"), 0) << last();
            EXPECT_EQ(number_of(s.name), s.number);
        } else {
            ASSERT_EQ(zvdbDeleteTable(db_, s.name, nullptr), 0) << last();
            EXPECT_EQ(number_of(s.name), -1);
        }
        EXPECT_EQ(last_number(), std::string(s.last, 4));
    }
    // Removing the highest lowers the last number; removing the last one
    // leaves none.
    ASSERT_EQ(zvdbDeleteTable(db_, "D", nullptr), 0);
    EXPECT_EQ(last_number(), std::string("001", 4));
    ASSERT_EQ(zvdbDeleteTable(db_, "C", nullptr), 0);
    EXPECT_EQ(last_number(), std::string("001", 4));
    ASSERT_EQ(zvdbDeleteTable(db_, "B", nullptr), 0);
    EXPECT_EQ(last_number(), std::string("-01", 4));
    EXPECT_EQ(resource(2, 1), "#408");
    ASSERT_EQ(zvdbOpenTable(table_, "host", 0), 0);
    int32_t number = 0;
    EXPECT_EQ(_zvdbGetLastVTableNbr(table_, &number), 0);
    EXPECT_EQ(number, -1);
}

TEST_F(VTableTest, TheDefinitionIsStoredAsItsBytes) {
    // A host of variable-length records and a virtual table of the same
    // layout.
    ASSERT_EQ(zvdbDeleteTable(db_, "host", nullptr), 0);
    field("x", ZV_INT4);
    field("s", ZV_STRING, 20);
    field("t", ZV_TIMES_MS);
    ASSERT_EQ(zvdbCreateTable(table_, "host", 0), 0) << last();
    tagZVDBTABLE *v = vt();
    zvdbAddField(v, "a", ZV_INT4, 0);
    zvdbAddField(v, "b", ZV_STRING, 20);
    zvdbAddField(v, "c", ZV_TIMES_MS, 0);
    ASSERT_EQ(zvdbCreateMRTTable(v, "V", "host", 0, "a > 0"), 0) << last();
    schematest::Image want;
    want.u8(1).host32(0x10000).text("V", 2);
    want.u8(2).u8(8).u8(0).u8(0x20);
    want.host32(16 + 6 * 5).host32(5).host32(5);
    for (const auto &[len, type] : std::vector<std::pair<int, int>>{{1, 128}, {8, 231}, {4, 51}, {20, 146}, {8, 257}}) {
        want.le16(uint16_t(len)).le16(uint16_t(type)).u8(0, 2);
    }
    for (const char *name : {"$NULFLD$", "$ROWID$", "a", "b", "c"}) {
        want.u8(unsigned(std::strlen(name) + 2)).text(name, std::strlen(name) + 1);
    }
    want.text("a > 0", 6);
    const std::string got = resource(2, 0);
    EXPECT_EQ(Bytes(got.begin(), got.end()), want.bytes());
    // Opened by name, the virtual table reads its own schema back.
    ASSERT_EQ(zvdbOpenTable(v, "V", 0), 0) << last();
    EXPECT_STREQ(zvdbGetTableName(v), "V");
    EXPECT_EQ(zvdbIsVTable(v), 1);
    EXPECT_EQ(zvdbGetVTableNumber(v), 0);
    ASSERT_EQ(zvdbGetTableFieldCount(v), 3);
    const int32_t types[] = {51, 146, 257};
    for (int32_t n = 0; n < 3; n++) EXPECT_EQ(zvdbGetFieldType(zvdbGetField(v, n)), types[n]) << n;
    EXPECT_STREQ(zvdbGetFieldName(zvdbGetField(v, 2)), "c");
}

TEST_F(VTableTest, RefusalsLeaveHostAndDictionaryAsTheyWere) {
    ASSERT_EQ(create("A", "kind = 1"), 0) << last();
    const auto entries = dictionary();
    const std::string before = last_number();
    EXPECT_EQ(create("A", "kind = 2"), ZVDB_TABLE_EXISTS);
    EXPECT_EQ(create("host", "kind = 2"), ZVDB_TABLE_EXISTS);
    // A record of another length than the host's.
    tagZVDBTABLE *v = vt();
    zvdbAddField(v, "id", ZV_INT4, 0);
    EXPECT_EQ(zvdbCreateMRTTable(v, "short", "host", 0, "1"), ZVDB_RECORD_LENGTH);
    EXPECT_EQ(zvdbGetTableFieldCount(v), 0);
    EXPECT_EQ(create("Z", nullptr), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(dictionary(), entries);
    EXPECT_EQ(last_number(), before);
    EXPECT_EQ(resource(2, 1), "#408");
    ZVHANDLE free_table = zvdbAllocTable(session_);
    EXPECT_EQ(zvdbCreateMRTTable(free_table, "F", "host", 0, "1"), ZVDB_DATABASE_UNUSABLE);
    zvdbFreeTable(free_table);
}

ZVDBRET refuse_fields(ZVHANDLE, int32_t) { return 4444; }

// Calls given a field handle of a table they empty, close or rebuild free
// that handle: the code is kept through its table (the session's last code
// is the call's), and the freed handle is not read again.
TEST_F(VTableTest, CallsThatFreeTheCallersFieldKeepTheirCodeThroughTheTable) {
    // A virtual table whose record is shorter than the host's: the handle
    // is emptied whatever the outcome.
    tagZVDBTABLE *v = vt();
    ZVHANDLE f = zvdbAddField(v, "id", ZV_INT4, 0);
    ASSERT_NE(f, nullptr);
    mark();
    EXPECT_EQ(zvdbCreateMRTTable(f, "short", "host", 0, "1"), ZVDB_RECORD_LENGTH);
    EXPECT_EQ(last(), ZVDB_RECORD_LENGTH);
    EXPECT_EQ(zvdbGetTableFieldCount(v), 0);

    // An open by UID refused once the handles are rebuilt.
    ZVDBDICTENTRY host{};
    ASSERT_EQ(table_entry("host", &host), 0);
    f = field("id", ZV_INT4);
    ASSERT_EQ(zvdbSetCallback(table_, 14, reinterpret_cast<ZVDB_CALLBACK>(&refuse_fields)), 0);
    mark();
    EXPECT_EQ(zvdbOpenTableByUID(f, host.uid, 0), 4444);
    EXPECT_EQ(last(), 4444);
    EXPECT_EQ(zvdbIsActiveTable(table_), 0);
    ASSERT_EQ(zvdbSetCallback(table_, 14, nullptr), 0);

    // Closes of the database's tables, and of the session's, whose write
    // fails: the files go all the same (each on a table of its own, which
    // the failed close leaves unfit to open).
    using Call = ZVDBRET (*)(ZVHANDLE);
    const std::pair<const char *, Call> closes[] = {
        {"close_all", zvdbCloseAll}, {"disconnect", zvdbDisconnect}, {"logout", zvdbLogout}};
    for (const auto &[name, call] : closes) {
        SCOPED_TRACE(name);
        ASSERT_NE(zvdbAddSegment(index((std::string(name) + "_id").c_str()), field("id", ZV_INT4), 12), nullptr);
        field("text", ZV_FSTRING, 12);
        ASSERT_EQ(zvdbCreateTable(table_, name, 0), 0) << last();
        ASSERT_EQ(zvdbOpenTable(table_, name, 0), 0) << last();
        f = zvdbGetField(table_, 1);
        expect_failed_close([call = call, f] { return call(f); });
    }
}

TEST_F(VTableTest, NoNumberIsGivenAbove198) {
    // Definitions 0..198 present, written as they are.
    ASSERT_EQ(zvdbOpenTable(table_, "host", 0), 0);
    for (uint32_t k = 0; k <= 198; k++) {
        ZVHANDLE r = zvdbAllocResource(table_, 2, k, "QV!VFLT");
        std::string data("\x01\x00\x00\x01\x00", 5);
        data += "N" + std::to_string(k) + '\0';
        ASSERT_EQ(zvdbAddResource(r, data.data(), int32_t(data.size())), 0);
        zvdbFreeResource(r);
    }
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    EXPECT_EQ(create("A", "1"), ZVDB_NO_VTABLE_NUMBER);
    EXPECT_EQ(number_of("A"), -1);
    EXPECT_EQ(last_number(), "#408");
}

TEST_F(VTableTest, TheListHoldsWhatFitsAndCountsAll) {
    for (const char *name : {"A", "B", "C"}) ASSERT_EQ(create(name, "1"), 0) << name;
    ASSERT_EQ(zvdbOpenTable(table_, "host", 0), 0);
    ZVDBVTINFO *info = zvdbAllocVTableInfo(table_, 2);
    ASSERT_NE(info, nullptr);
    ASSERT_EQ(zvdbGetVTableInfoFromTable(info), 0);
    EXPECT_EQ(info->count, 3);
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(info->items[i].number, i);
        EXPECT_EQ(info->items[i].kind, 0x10000u);
        EXPECT_STREQ(info->items[i].name, i == 0 ? "A" : "B");
    }
    zvdbFreeVTableInfo(info);
    EXPECT_EQ(zvdbGetVTableInfoFromTable(nullptr), ZVDB_NULL_ARGUMENT);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    info = zvdbAllocVTableInfo(table_, 1);
    EXPECT_EQ(zvdbGetVTableInfoFromTable(info), ZVDB_NOT_ACTIVE);
    zvdbFreeVTableInfo(info);
}

// Writes the records (id, kind) to the host through a record handle.
void write_host(tagZVDBTABLE *host, const std::vector<std::pair<int32_t, int32_t>> &records) {
    ZVHANDLE r = zvdbAllocRecord(host);
    ASSERT_NE(r, nullptr);
    for (const auto &[id, kind] : records) {
        ASSERT_EQ(zvdbClearRecord(r), 0);
        ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, id), 0);
        ASSERT_EQ(zvdbSetFieldAsSigned(r, 1, kind), 0);
        ASSERT_EQ(zvdbWriteRecord(r), 0) << id;
    }
    zvdbFreeRecord(r);
}

// The ids a record of the table reads in the order of index n (or physical
// order), first to last.
std::vector<int32_t> read_ids(tagZVDBTABLE *t, int32_t n) {
    std::vector<int32_t> out;
    ZVHANDLE r = zvdbAllocRecord(t);
    if (!r || zvdbSetDefaultIndex(r, n) != 0) return {-1};
    for (int rc = zvdbFirstRecord(r); rc == 0; rc = zvdbNextRecord(r)) {
        int32_t id = 0;
        zvdbGetFieldAsSigned(r, 0, &id);
        out.push_back(id);
    }
    zvdbFreeRecord(r);
    return out;
}

TEST_F(VTableTest, EachVirtualTableReadsTheRecordsItsFilterSelects) {
    ASSERT_EQ(zvdbOpenTable(table_, "host", 0), 0);
    write_host(table_, {{1, 1}, {2, 2}, {3, 1}, {4, 2}, {5, 3}});
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    ASSERT_EQ(create("A", "kind = 1"), 0) << last();
    ASSERT_EQ(create("B", "kind = 2"), 0) << last();
    auto *b = static_cast<tagZVDBTABLE *>(zvdbAllocTable(db_));
    ASSERT_EQ(zvdbOpenTable(vt(), "A", 0), 0) << last();
    ASSERT_EQ(zvdbOpenTable(b, "B", 0), 0) << last();
    EXPECT_STREQ(zvdbGetIndexName(zvdbGetIndex(vt(), 0)), "A_2");
    for (int32_t n : {0, int32_t(ZVDB_INDEX_PHYSICAL)}) {
        SCOPED_TRACE(n);
        EXPECT_EQ(read_ids(vt(), n), (std::vector<int32_t>{1, 3}));
        EXPECT_EQ(read_ids(b, n), (std::vector<int32_t>{2, 4}));
    }
    ZVHANDLE r = zvdbAllocRecord(vt());
    EXPECT_EQ(zvdbSetFilter(r, "id > 1", 1), ZVDB_NOT_SUPPORTED);
    zvdbFreeRecord(r);
    zvdbFreeTable(b);
}

TEST_F(VTableTest, WritesThroughAVirtualTableMustBeOfItsType) {
    ASSERT_EQ(create("A", "kind = 1"), 0) << last();
    tagZVDBTABLE *v = vt();
    ASSERT_EQ(zvdbOpenTable(v, "A", 0), 0) << last();
    ZVHANDLE r = zvdbAllocRecord(v);
    ASSERT_NE(r, nullptr);
    for (const auto &[kind, want] : std::vector<std::pair<int32_t, int>>{{1, 0}, {2, 739}}) {
        SCOPED_TRACE(kind);
        ASSERT_EQ(zvdbClearRecord(r), 0);
        ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, 10 + kind), 0);
        ASSERT_EQ(zvdbSetFieldAsSigned(r, 1, kind), 0);
        EXPECT_EQ(zvdbWriteRecord(r), want);
    }
    zvdbFreeRecord(r);
    EXPECT_EQ(zvdbCloseTable(v), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "host", 0), 0);
    EXPECT_EQ(scan(table_), std::vector<int32_t>{11});
}

TEST_F(VTableTest, DeletingAVirtualTableRemovesItsEntryAndDefinition) {
    ASSERT_EQ(create("A", "1"), 0);
    ASSERT_EQ(create("B", "1"), 0);
    ZVDBDICTENTRY e{};
    ASSERT_EQ(index_entry("A_2", &e), 0);
    ASSERT_EQ(zvdbDeleteTable(db_, "A", nullptr), 0) << last();
    EXPECT_EQ(number_of("A"), -1);
    EXPECT_EQ(index_entry("A_2", &e), 101);
    EXPECT_EQ(index_entry("B_2", &e), 0);
    EXPECT_EQ(resource(2, 0), "#408");
    EXPECT_EQ(resource(2, 1).substr(0, 1), "\x01");
}

// A write failing once at the nth write of a creation, for every n a
// creation reaches: each failure leaves the host's resources and the
// dictionary as they were (a creation that succeeds all the same is
// deleted again, which leaves them so too).
TEST_F(VTableTest, AFailedCreationLeavesHostAndDictionaryAsTheyWere) {
    ASSERT_EQ(create("A", "1"), 0);
    const auto entries = dictionary();
    const std::string last0 = last_number(), def1 = resource(2, 1);
    zv::fault_reset();
    ASSERT_EQ(create("B", "1"), 0);
    const long writes = zv::io_calls(zv::IoKind::Write);
    ASSERT_EQ(zvdbDeleteTable(db_, "B", nullptr), 0);
    int failures = 0;
    for (long n = 1; n <= writes; n++) {
        SCOPED_TRACE(n);
        zv::fault_set(zv::IoKind::Write, n, EIO);
        const ZVDBRET rc = create("B", "1");
        zv::fault_reset();
        if (rc == 0) {
            EXPECT_EQ(number_of("B"), 1);
            ASSERT_EQ(zvdbDeleteTable(db_, "B", nullptr), 0) << last();
        } else {
            failures++;
        }
        EXPECT_EQ(dictionary(), entries);
        EXPECT_EQ(last_number(), last0);
        EXPECT_EQ(resource(2, 1), def1);
    }
    EXPECT_GE(failures, 3);
}

// A clone of a host carries the definitions but not the last number: the
// numbering then starts from the highest definition present.
TEST_F(VTableTest, AClonedHostNumbersFromItsDefinitions) {
    ASSERT_EQ(create("A", "kind = 1"), 0);
    ASSERT_EQ(create("B", "kind = 2"), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "host", 0), 0);
    auto *clone = static_cast<tagZVDBTABLE *>(zvdbAllocTable(session_));
    ASSERT_EQ(zvdbCloneTable(clone, "host2", table_), 0) << last();
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    ASSERT_EQ(zvdbSetTablePath(clone, "db"), 0);
    ASSERT_EQ(zvdbOpenTable(clone, "host2", 0), 0) << last();
    int32_t number = 7;
    ASSERT_EQ(_zvdbGetLastVTableNbr(clone, &number), 0);
    EXPECT_EQ(number, 0);
    tagZVDBTABLE *a = vt();
    ASSERT_EQ(zvdbOpenTable(a, "A", 0), 0) << last();
    EXPECT_EQ(zvdbAddVTableResource(clone, a), ZVDB_TABLE_EXISTS);
    ASSERT_EQ(zvdbRemoveVTableResource(clone, 0), 0);
    ASSERT_EQ(zvdbAddVTableResource(clone, a), 0) << last();
    EXPECT_EQ(zvdbGetVTableNumber(a), 0);
    ASSERT_EQ(_zvdbGetLastVTableNbr(clone, &number), 0);
    EXPECT_EQ(number, 1);
    zvdbFreeTable(clone);
    // A clone made under the database is in no dictionary.
    ASSERT_EQ(zvdbOpenTable(table_, "host", 0), 0);
    ZVHANDLE dbclone = zvdbAllocTable(db_);
    ASSERT_EQ(zvdbCloneTable(dbclone, "host3", table_), 0) << last();
    ZVDBDICTENTRY e{};
    EXPECT_EQ(table_entry("host3", &e), 101);
    EXPECT_TRUE(std::filesystem::exists("db/host3.dat"));
    EXPECT_EQ(zvdbIsActiveTable(table_), 1);
    zvdbFreeTable(dbclone);
}

TEST_F(VTableTest, PartitionSettingsCountTheHiddenIndexes) {
    tagZVDBTABLE *t = vt();
    EXPECT_EQ(zvdbGetTablePartitionIndexNbr(t), -1);
    ASSERT_EQ(zvdbSetTablePartitionIndexNbr(t, 2), 0);
    EXPECT_EQ(t->partindex, 4);
    EXPECT_EQ(zvdbGetTablePartitionIndexNbr(t), 2);
    EXPECT_EQ(t->partbits, 0);
    EXPECT_EQ(t->createmode & 0x800, 0x800u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(t->partrule), 1u);
    EXPECT_EQ(zvdbSetTablePartitionIndexNbr(t, 1), ZVDB_PARTITION_SET);
    EXPECT_EQ(zvdbSetTablePartitionNumberBits(t, 12), 0);
    EXPECT_EQ(t->partbits, 12);
    EXPECT_EQ(zvdbSetTablePartitionNumberBits(t, -1), ZVDB_NO_TABLE);
    ASSERT_EQ(zvdbSetTablePartitionRule(t, "id % 4"), 0);
    EXPECT_STREQ(t->partrule, "id % 4");
    EXPECT_EQ(zvdbSetTablePartitionRule(t, "id % 8"), ZVDB_PARTITION_SET);
    ASSERT_EQ(zvdbSetTablePartitionRule(t, nullptr), 0);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(t->partrule), 1u);
    ASSERT_EQ(zvdbSetTablePartitionIndexNbr(t, -1), 0);
    EXPECT_EQ(t->partindex, -1);
    EXPECT_EQ(t->createmode & 0x800, 0u);
    EXPECT_EQ(zvdbSetTablePartitionNumberBits(t, 3), ZVDB_NO_TABLE);
    // Without the hidden indexes the number is kept as given.
    ASSERT_EQ(_zvdbSetCreateMode(t, 32 | 64), 0);
    ASSERT_EQ(zvdbSetTablePartitionIndexNbr(t, 2), 0);
    EXPECT_EQ(t->partindex, 2);
    mark();
    EXPECT_EQ(zvdbSetTablePartitionDynMbrs(t, 5), 0);
    EXPECT_EQ(t->partdynmembers, 5);
    EXPECT_EQ(last(), 0);
    EXPECT_EQ(zvdbSetTablePartitionDynMbrs(db_, 5), ZVDB_BAD_TAG_HANDLE);
    // The partitions of a table that is not partitioned.
    ASSERT_EQ(zvdbOpenTable(table_, "host", 0), 0);
    EXPECT_EQ(zvdbGetFirstPartition(table_), -1);
    EXPECT_EQ(zvdbGetLastPartition(table_), -1);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    mark();
    EXPECT_EQ(zvdbGetFirstPartition(table_), -1);
    EXPECT_EQ(last(), ZVDB_NOT_ACTIVE);
}

}  // namespace
