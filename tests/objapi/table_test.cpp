// The table and resource classes: construction, the texts and settings of a
// table handle, files, schema editing, conditions, partitions, clones, the
// rebuild callback's instance, the segment operations' look-ups, and
// resources.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "engine/core/pools.h"
#include "recapi/base/handles.h"
#include "tests/objapi/objtest.h"
#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"

// The object layer's calls of the condition readers, counted (the test
// executable is linked with --wrap for both).
namespace {
int g_cndx_reads = 0;
}  // namespace

extern "C" ZVDBRET __real_zvdbGetCndxIndex(ZVHANDLE index, char *buffer, int32_t size);
extern "C" ZVDBRET __wrap_zvdbGetCndxIndex(ZVHANDLE index, char *buffer, int32_t size) {
    g_cndx_reads++;
    return __real_zvdbGetCndxIndex(index, buffer, size);
}
extern "C" ZVDBRET __real_zvdbGetCndxIndexByName(ZVHANDLE table, const char *name, char *buffer, int32_t size);
extern "C" ZVDBRET __wrap_zvdbGetCndxIndexByName(ZVHANDLE table, const char *name, char *buffer, int32_t size) {
    g_cndx_reads++;
    return __real_zvdbGetCndxIndexByName(table, name, buffer, size);
}

namespace {

using objtest::expect_thrown;
using objtest::text_of;
using objtest::ThrowCase;
using objtest::thrown_by;

static_assert(!std::is_copy_constructible_v<ZVTable> && !std::is_copy_assignable_v<ZVTable>);
static_assert(!std::is_copy_constructible_v<ZVResource> && !std::is_copy_assignable_v<ZVResource>);

// A table whose handle can be taken away and given back.
class Probe : public ZVTable {
public:
    using ZVTable::ZVTable;
    ZVHANDLE take() {
        ZVHANDLE h = handle;
        handle = nullptr;
        return h;
    }
    void put(ZVHANDLE h) { handle = h; }
};

// A table with a logged-on logon-only session of its own instance, its
// files in the test directory.
class TableTest : public zvtest::ZvTest {
protected:
    void SetUp() override {
        ZvTest::SetUp();
        session_ = std::make_unique<ZVSession>(1);
        session_->Logon("", "", "");
        table_ = std::make_unique<Probe>(*session_);
        table_->SetPath(".");
    }
    void TearDown() override {
        table_.reset();
        session_.reset();
        ZvTest::TearDown();
    }
    tagZVDBTABLE *raw() const { return static_cast<tagZVDBTABLE *>(table_->GetHandle()); }

    // The "cust" definition: id ZV_INT4, name ZV_FSTRING 20; unique index
    // "pk" on id, duplicate index "byname" on name.
    static void define(ZVTable &t) {
        const ZVField id = t.AddField("id", ZV_INT4, 4);
        const ZVField name = t.AddField("name", ZV_FSTRING, 20);
        t.AddSegment(t.AddIndex("pk", 0, 0, 0), id, 12);
        t.AddSegment(t.AddIndex("byname", 0, 1, 0), name, 12);
    }
    // Makes and opens cust with ids 0..rows-1.
    void make_cust(int rows = 0) {
        define(*table_);
        table_->Create("cust", 0);
        table_->Open("cust", 0);
        ZVHANDLE r = zvdbAllocRecord(table_->GetHandle());
        ASSERT_NE(r, nullptr);
        for (int i = 0; i < rows; i++) {
            ASSERT_EQ(zvdbClearRecord(r), 0);
            ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, i), 0);
            ASSERT_EQ(zvdbWriteRecord(r), 0) << i;
        }
        zvdbFreeRecord(r);
    }
    // The names of the fields and of the indexes of t.
    static std::vector<std::string> names(const ZVTable &t) {
        std::vector<std::string> out;
        for (int i = 0; i < t.GetFieldCount(); i++) out.push_back(zvdbGetFieldName(t.GetField(i).GetHandle()));
        for (int i = 0; i < t.GetIndexCount(); i++) out.push_back("ix:" + text_of(t.GetIndex(i).GetName()));
        return out;
    }

    std::unique_ptr<ZVSession> session_;
    std::unique_ptr<Probe> table_;
};

TEST(TableConstruction, NullOwnersThrowBeforeAnyHandleIsMade) {
    const ThrowCase cases[] = {
        {"database", [] { ZVTable t(static_cast<const ZVDatabase *>(nullptr)); }, 4010, "Invalid database handle",
         "zvpptabl", -1},
        {"session", [] { ZVTable t(static_cast<const ZVSession *>(nullptr)); }, 4010, "Invalid session handle",
         "zvpptabl", -1},
    };
    for (const ThrowCase &c : cases) expect_thrown(thrown_by(c.call), c);
}

TEST_F(TableTest, TheHandleRefersToItsObject) {
    EXPECT_EQ(zvdbGetTableObjptr(table_->GetHandle()), table_.get());
    ZVTable by_pointer(session_.get());
    EXPECT_EQ(zvdbGetTableObjptr(by_pointer.GetHandle()), &by_pointer);
    EXPECT_EQ(by_pointer.GetHandleType(), ZVDB_TABLE_HANDLE);
    EXPECT_EQ(text_of(by_pointer.GetName()), "table");
    EXPECT_EQ(by_pointer.IsActive(), 0);
}

// The tables of a database are found through it as the objects they are.
TEST_F(TableTest, TheTablesOfADatabaseAreFoundThroughIt) {
    ZVSession owner(0);
    owner.Create("", "", "");
    owner.Logon("", "", "");
    owner.CreateDatabase("shop", ".");
    ZVDatabase shop(owner);
    shop.Connect("shop");
    ZVTable items(shop);
    ZVTable by_pointer(&shop);
    define(items);
    items.Create("items", 0);
    items.Open("items", 0);
    std::set<ZVTable *> found;
    for (ZVTable *t = shop.GetFirstActive(); t; t = shop.GetNextActive()) found.insert(t);
    EXPECT_EQ(found, (std::set<ZVTable *>{&items, &by_pointer}));
    EXPECT_EQ(shop.FindActive("items"), &items);
}

// Destroying the session takes the handles of its databases' table
// objects: a record made on such a table then throws 4013.
TEST_F(TableTest, ARecordOnATableWhoseSessionIsGoneThrows4013) {
    auto owner = std::make_unique<ZVSession>(0);
    owner->Create("", "", "");
    owner->Logon("", "", "");
    owner->CreateDatabase("shop", ".");
    ZVDatabase shop(*owner);
    shop.Connect("shop");
    ZVTable items(shop);
    define(items);
    items.Create("items", 0);
    items.Open("items", 0);
    owner.reset();
    EXPECT_EQ(items.GetHandle(), nullptr);
    expect_thrown(thrown_by([&] { ZVRecord r(items); }),
                  {"record on a closed table", nullptr, 4013, "Table is not open", "zvpprecd", -1});
}

TEST_F(TableTest, TextsOfAHandleThatHasNone) {
    tagZVDBTABLE *t = raw();
    for (char **text : {&t->name, &t->path, &t->dataext, &t->indexext, &t->password, &t->groupid, &t->owner}) {
        *text = static_cast<char *>(_zvdb_free(*text));
    }
    const ThrowCase cases[] = {
        {"GetName", [&] { table_->GetName(); }, 4013, "Can't get the table name", "zvpptabl", -1},
        {"GetDataExtension", [&] { table_->GetDataExtension(); }, 4013, "Can't get the table data file extension",
         "zvpptabl", -1},
        {"GetIndexExtension", [&] { table_->GetIndexExtension(); }, 4013,
         "Can't get the table index file extension", "zvpptabl", -1},
    };
    for (const ThrowCase &c : cases) expect_thrown(thrown_by(c.call), c);
    for (const ZVString &s : {table_->GetPath(), table_->GetPassword(), table_->GetGroupid(), table_->GetOwner()}) {
        EXPECT_EQ(text_of(s), "");
    }
}

TEST_F(TableTest, SettingsReadBackAndAnEmptyOwnerClearsIt) {
    Probe &t = *table_;
    const auto text = [](const ZVString &s) { return text_of(s); };
    const auto number = [](unsigned n) { return std::to_string(n); };
    const struct {
        std::function<void()> set;
        std::function<std::string()> get;
        std::string want;
    } settings[] = {
        {[&] { t.SetPath("sub"); }, [&] { return text(t.GetPath()); }, "sub"},
        {[&] { t.SetDataExtension(".dt"); }, [&] { return text(t.GetDataExtension()); }, ".dt"},
        {[&] { t.SetIndexExtension(".ix"); }, [&] { return text(t.GetIndexExtension()); }, ".ix"},
        {[&] { t.SetPassword("pw"); }, [&] { return text(t.GetPassword()); }, "pw"},
        {[&] { t.SetGroupid("grp"); }, [&] { return text(t.GetGroupid()); }, "grp"},
        {[&] { t.SetOwner("bob"); }, [&] { return text(t.GetOwner()); }, "bob"},
        {[&] { t.SetPermission(0640); }, [&] { return number(t.GetPermission()); }, "416"},
        {[&] { t.SetDataDefaultExtentSize(8192); }, [&] { return number(t.GetDataDefaultExtentSize()); }, "8192"},
        {[&] { t.SetIndexDefaultExtentSize(4096); }, [&] { return number(t.GetIndexDefaultExtentSize()); }, "4096"},
    };
    for (const auto &s : settings) s.set();
    for (const auto &s : settings) EXPECT_EQ(s.get(), s.want);
    t.SetOwner("");
    EXPECT_EQ(raw()->owner, nullptr);
    EXPECT_EQ(text_of(t.GetOwner()), "");
}

TEST_F(TableTest, FilesAndTheirRefusals) {
    const ThrowCase closed[] = {
        {"Open", [&] { table_->Open("nope", 0); }, 12, "Can't open table", "zvpptabl", -1},
        {"Remove", [&] { table_->Remove(); }, 12, "can't remove table", "zvpptabl", -1},
        {"Detach", [&] { table_->Detach(); }, 4012, "Can't detach table", "zvpptabl", -1},
        {"Rebuild", [&] { table_->Rebuild(0); }, 4012, "Can't rebuild table", "zvpptabl", -1},
        {"GetDatno", [&] { table_->GetDatno(); }, 4012, "can't retrieve datno", "zvpptabl", -1},
        {"GetFirstPartition", [&] { table_->GetFirstPartition(); }, 4012, "Can't get first partition rawno",
         "zvpptabl", -1},
        {"GetLastPartition", [&] { table_->GetLastPartition(); }, 4012, "Can't get last partition rawno",
         "zvpptabl", -1},
    };
    for (const ThrowCase &c : closed) expect_thrown(thrown_by(c.call), c);

    make_cust(3);
    EXPECT_EQ(table_->IsActive(), 1);
    EXPECT_GE(table_->GetDatno(), 0);
    EXPECT_EQ(table_->GetIdxno(0), table_->GetIdxno("pk"));
    EXPECT_TRUE(table_->HasRecbyt());
    const ThrowCase open[] = {
        {"SetPath", [&] { table_->SetPath("x"); }, 4011, "Can't set the table path", "zvpptabl", -1},
        {"Create", [&] { table_->Create("cust", 0); }, 4011, "Can't create table", "zvpptabl", -1},
        {"GetIdxno", [&] { table_->GetIdxno("nope"); }, 4045, "can't retrieve idxno", "zvpptabl", -1},
    };
    for (const ThrowCase &c : open) expect_thrown(thrown_by(c.call), c);

    // Without a handle the row-position checks answer false.
    ZVHANDLE h = table_->take();
    EXPECT_FALSE(table_->HasRecbyt());
    EXPECT_FALSE(table_->HasRowid());
    table_->put(h);

    table_->Close();
    EXPECT_EQ(table_->IsActive(), 0);
    table_->Open("cust", 0);
    table_->Remove();
    EXPECT_EQ(table_->IsActive(), 0);
    expect_thrown(thrown_by([&] { table_->Open("cust", 0); }),
                  {"removed", nullptr, 12, "Can't open table", "zvpptabl", -1});
}

TEST_F(TableTest, TheFilterCallsAreNotSupportedInAnyState) {
    for (bool open : {false, true}) {
        if (open) make_cust();
        ZVString out("kept");
        const ThrowCase cases[] = {
            {"FilterRecord", [&] { table_->FilterRecord("id > 1"); }, 4054, "FilterRecord failed", "zvpptabl", -1},
            {"IsFilteredRecord", [&] { table_->IsFilteredRecord(); }, 4054, "IsFilteredRecord failed", "zvpptabl",
             -1},
            {"GetFilter", [&] { table_->GetFilter(out); }, 4054, "GetFilter failed", "zvpptabl", -1},
        };
        for (const ThrowCase &c : cases) expect_thrown(thrown_by(c.call), c);
        EXPECT_EQ(text_of(out), "kept");
    }
}

// Counts the calls of DelIndex(int) and DelFullTextIndex(int).
class Counting : public ZVTable {
public:
    using ZVTable::ZVTable;
    using ZVTable::DelFullTextIndex;
    using ZVTable::DelIndex;
    std::vector<int> deleted;
    ZVDBRET DelIndex(int index) override {
        deleted.push_back(index);
        return ZVTable::DelIndex(index);
    }
    ZVDBRET DelFullTextIndex(int index) override {
        deleted.push_back(1000 + index);
        return ZVTable::DelFullTextIndex(index);
    }
};

TEST_F(TableTest, DeletingAnIndexByNameGoesThroughItsNumber) {
    Counting t(*session_);
    define(t);
    const ThrowCase cases[] = {
        {"DelIndex", [&] { t.DelIndex("nope"); }, 4045, "Can't delete index", "zvpptabl", -1},
        {"DelFullTextIndex", [&] { t.DelFullTextIndex("nope"); }, 4045, "Can't delete index", "zvpptabl", -1},
    };
    for (const ThrowCase &c : cases) expect_thrown(thrown_by(c.call), c);
    EXPECT_TRUE(t.deleted.empty());
    t.DelIndex("BYNAME");
    EXPECT_EQ(t.deleted, std::vector<int>{1});
    EXPECT_EQ(t.GetIndexCount(), 1);
}

TEST_F(TableTest, SchemaEditingAndLookups) {
    table_->AddField("b", ZV_INT4, 4);
    table_->InsertField(0, "a", ZV_INT4, 4);
    table_->InsertField("b", "ab", ZV_FSTRING, 8);
    table_->MoveField("a", 2);
    table_->MoveField(0, 1);
    EXPECT_EQ(names(*table_), (std::vector<std::string>{"b", "ab", "a"}));
    EXPECT_EQ(table_->GetFieldNumber("a"), 2);
    table_->DelField(0);
    table_->DelField("a");
    EXPECT_EQ(names(*table_), std::vector<std::string>{"ab"});
    table_->AddIndex("ix", 0, 0, 0);
    EXPECT_EQ(table_->GetIndex("IX").GetHandle(), table_->GetIndex(0).GetHandle());

    const ThrowCase cases[] = {
        {"AddField", [&] { table_->AddField("ab", ZV_INT4, 4); }, 4016, "Cant add new field to table", "zvpptabl",
         -1},
        {"InsertField", [&] { table_->InsertField(9, "c", ZV_INT4, 4); }, 4005, "Cant insert new field to table",
         "zvpptabl", -1},
        {"InsertField by name", [&] { table_->InsertField("nope", "c", ZV_INT4, 4); }, 4014,
         "Cant add a new field to table", "zvpptabl", -1},
        {"GetField", [&] { table_->GetField(5); }, 4005, "Can't retrieve field", "zvpptabl", -1},
        {"GetField by name", [&] { table_->GetField("nope"); }, 4014, "Can't retrieve field", "zvpptabl", -1},
        {"MoveField by name", [&] { table_->MoveField("nope", 0); }, 4014, "Can't retrieve field", "zvpptabl", -1},
        {"GetFieldNumber", [&] { table_->GetFieldNumber("nope"); }, 4014, "Can't retrieve the field number",
         "zvpptabl", -1},
        {"AddIndex", [&] { table_->AddIndex("", 0, 0, 0); }, 4053, "Can't add new index to table", "zvpptabl", -1},
        {"GetIndex", [&] { table_->GetIndex(3); }, 4005, "Can't retrieve index", "zvpptabl", -1},
        {"GetIndex by name", [&] { table_->GetIndex("nope"); }, 4045, "Can't retrieve index", "zvpptabl", -1},
        {"DelField", [&] { table_->DelField("nope"); }, 4014, "Cant delete field from table", "zvpptabl", -1},
    };
    for (const ThrowCase &c : cases) expect_thrown(thrown_by(c.call), c);
}

// An index without a condition reads as "" without a read of the text;
// one with a condition reads it back; a -1 that stands for a failure
// throws.
TEST_F(TableTest, ConditionsAreReadOnlyWhenAnIndexHasOne) {
    define(*table_);
    ZVString out("junk");
    expect_thrown(thrown_by([&] { table_->GetCndxIndex(0, out); }),
                  {"closed", nullptr, 4012, "GetCndxIndex failed", "zvpptabl", -1});
    table_->Create("cust", 0);
    table_->Open("cust", 0);

    g_cndx_reads = 0;
    EXPECT_EQ(table_->GetCndxIndex(0, out), 0);
    EXPECT_EQ(text_of(out), "");
    out = "junk";
    EXPECT_EQ(table_->GetCndxIndex("byname", out), 0);
    EXPECT_EQ(text_of(out), "");
    EXPECT_EQ(g_cndx_reads, 0);

    table_->UpdateCndxIndex("pk", "id > 5");
    table_->UpdateCndxIndex(1, "name > \"m\"");
    for (const auto &[index, text] : {std::pair<int, const char *>{0, "id > 5"}, {1, "name > \"m\""}}) {
        ZVString by_number("a rather long text that is longer than the condition");
        ZVString by_name;
        table_->GetCndxIndex(index, by_number);
        table_->GetCndxIndex(table_->GetIndex(index).GetName(), by_name);
        EXPECT_EQ(text_of(by_number), text);
        EXPECT_EQ(text_of(by_name), text);
    }
    EXPECT_EQ(g_cndx_reads, 4);

    const ThrowCase cases[] = {
        {"by name", [&] { table_->GetCndxIndex("nope", out); }, 4018, "GetCndxIndex failed", "zvpptabl", -1},
        {"by number", [&] { table_->GetCndxIndex(7, out); }, 4005, "GetCndxIndex failed", "zvpptabl", -1},
        {"update", [&] { table_->UpdateCndxIndex("nope", "id > 1"); }, 4018, "UpdateCndxIndex failed", "zvpptabl",
         -1},
    };
    for (const ThrowCase &c : cases) expect_thrown(thrown_by(c.call), c);
}

// A partitioned set made by the engine: 24-byte records of a day serial
// and a number, the partition index on the day; the schema is stored.
void make_sales() {
    ISEG day[1] = {{0, 8, 9}};
    IIDX idx[1] = {IIDX{16, 0, 1, 0, 0, 1, day, "ByPart", nullptr, nullptr, nullptr}};
    IFIL ifil = IFIL{"sales", -1, 24, 0, 0, 1, 0, 0, idx, nullptr, nullptr, 0};
    XCREblk x[2] = {};
    for (XCREblk &b : x) b.mode = 0x40;
    x[0].mode |= 0x00400000;
    ASSERT_EQ(CREIFILX8(&ifil, nullptr, nullptr, 0, nullptr, nullptr, x), 0);
    const DATOBJ doda[2] = {{"Day", 0, ZV_DFLOAT, 8, 0, 0}, {"Pad", 8, ZV_ARRAY, 16, 0, 0}};
    ASSERT_EQ(PUTDODA(ifil.tfilno, doda, 2), 0);
    unsigned char rec[24] = {};
    for (int d = 0; d < 3; d++) {
        const double serial = 45569.0 + d;
        std::memcpy(rec, &serial, 8);
        ASSERT_EQ(ADDREC(ifil.tfilno, rec), 0) << d;
    }
    ASSERT_EQ(CLIFIL(&ifil), 0);
}

// The status word comes back only when the mode asks for it (0x800).
TEST_F(TableTest, PartitionAdministrationAnswersTheStatusWordOnlyWhenAsked) {
    ASSERT_NO_FATAL_FAILURE(make_sales());
    table_->Open("sales", 0);
    const int first = table_->GetFirstPartition();
    const int last = table_->GetLastPartition();
    ASSERT_GT(first, 0);
    EXPECT_EQ(last, first + 2);
    int16_t state = 0;
    ASSERT_EQ(zvdbPartAdminByNumber(table_->GetHandle(), first, 0x800, &state), 0);
    ASSERT_NE(state, 0);
    EXPECT_EQ(table_->PartAdminByNumber(first, 0x800), state);
    EXPECT_EQ(table_->PartAdminByNumber(first, 64), 0);
    EXPECT_EQ(table_->GetFirstPartition(), first + 1);
    EXPECT_NE(table_->PartAdminByNumber(first, 0x800), state);
    EXPECT_EQ(table_->PartAdminByNumber(first, 1024), 0);
    EXPECT_EQ(table_->GetFirstPartition(), first);
    const ThrowCase cases[] = {
        {"by number", [&] { table_->PartAdminByNumber(last + 100, 64); }, 730, "Can't perform partition admin",
         "zvpptabl", -1},
        {"by name", [&] { table_->PartAdminByName(const_cast<char *>("nosuch"), 64); }, 715,
         "Can't perform partition admin", "zvpptabl", -1},
    };
    for (const ThrowCase &c : cases) expect_thrown(thrown_by(c.call), c);
}

// Calls whose record-level answer is -1 without a code of its own: an open
// table that is not partitioned has no first or last partition, and an
// index added to an open table has no index file until the table is
// altered. Each throws a code that says so, never 0 and never a code an
// earlier call left in the session.
TEST_F(TableTest, AnswersWithoutACodeThrowTheirOwn) {
    make_cust();
    const ZVIndex added = table_->AddIndex("added", 0, 1, 0);
    table_->AddSegment(added, table_->GetField(0), 12);
    const ThrowCase cases[] = {
        {"GetFirstPartition", [&] { table_->GetFirstPartition(); }, ZVDB_BAD_KIND, "Can't get first partition rawno",
         "zvpptabl", -1},
        {"GetLastPartition", [&] { table_->GetLastPartition(); }, ZVDB_BAD_KIND, "Can't get last partition rawno",
         "zvpptabl", -1},
        {"GetIdxno by number", [&] { table_->GetIdxno(2); }, ZVDB_NOT_ACTIVE, "can't retrieve idxno", "zvpptabl",
         -1},
        {"GetIdxno by name", [&] { table_->GetIdxno("added"); }, ZVDB_NOT_ACTIVE, "can't retrieve idxno",
         "zvpptabl", -1},
        {"ZVIndex::GetIdxno", [&] { added.GetIdxno(); }, ZVDB_NOT_ACTIVE, "Can't retrieve the index file number",
         "zvppindx", -1},
    };
    for (const ZVDBRET before : {0, ZVDB_BAD_POSITION}) {
        for (const ThrowCase &c : cases) {
            zvdbSetError(table_->GetHandle(), before);
            expect_thrown(thrown_by(c.call), c);
        }
    }
    EXPECT_GE(table_->GetIdxno("pk"), 0);
}

TEST_F(TableTest, ACloneOpensWithTheSourcesDefinition) {
    make_cust(2);
    ZVTable copy(*session_);
    table_->Clone(copy, "copy");
    EXPECT_EQ(copy.IsActive(), 0);
    copy.SetPath(".");
    copy.Open("copy", 0);
    EXPECT_EQ(names(copy), names(*table_));
    EXPECT_EQ(names(copy), (std::vector<std::string>{"id", "name", "ix:pk", "ix:byname"}));
    expect_thrown(thrown_by([&] { table_->Clone(copy, "again"); }),
                  {"open target", nullptr, 4011, "Error Cloning table", "zvpptabl", -1});
}

uint32_t g_progress_calls = 0;
int progress(uint32_t, int32_t, const char *) { return ++g_progress_calls, 0; }

// The callback belongs to the engine instance of the table's session, not
// to the instance that happens to be current when it is set.
TEST_F(TableTest, TheRebuildCallbackIsSetOnTheTablesInstance) {
    make_cust(10);
    ZVSession other(1);
    other.Logon("", "", "");
    other.SwitchInstance();
    g_progress_calls = 0;
    EXPECT_EQ(table_->SetRebuildCallback(progress, 1), 0);
    table_->Rebuild(0);
    EXPECT_GT(g_progress_calls, 0u);
    EXPECT_EQ(table_->SetRebuildCallback(nullptr, 0), 0);
    const uint32_t calls = g_progress_calls;
    table_->Rebuild(0);
    EXPECT_EQ(g_progress_calls, calls);
    // Without a handle no instance can be chosen.
    ZVHANDLE h = table_->take();
    EXPECT_EQ(table_->SetRebuildCallback(progress, 1), ZVDB_NO_SESSION);
    table_->put(h);
}

// Records the look-ups and the two final segment calls, each then done by
// the table itself.
class Grid : public ZVTable {
public:
    using ZVTable::ZVTable;
    using ZVTable::AddSegment;
    using ZVTable::GetField;
    using ZVTable::GetIndex;
    using ZVTable::InsertSegment;
    mutable std::vector<std::string> trace;
    ZVIndex GetIndex(int index) const override {
        trace.push_back("index " + std::to_string(index));
        return ZVTable::GetIndex(index);
    }
    ZVIndex GetIndex(const ZVString &index) const override {
        trace.push_back("index " + text_of(index));
        return ZVTable::GetIndex(index);
    }
    ZVField GetField(int field) const override {
        trace.push_back("field " + std::to_string(field));
        return ZVTable::GetField(field);
    }
    ZVField GetField(const ZVString &field) const override {
        trace.push_back("field " + text_of(field));
        return ZVTable::GetField(field);
    }
    ZVSegment AddSegment(const ZVIndex &index, const ZVField &field, int mode) override {
        trace.push_back("add");
        return ZVTable::AddSegment(index, field, mode);
    }
    ZVSegment InsertSegment(const ZVIndex &index, int position, const ZVField &field, int mode) override {
        trace.push_back("insert");
        return ZVTable::InsertSegment(index, position, field, mode);
    }
};

TEST_F(TableTest, EverySegmentFormLooksUpThroughTheVirtualLookups) {
    Grid g(*session_);
    g.AddField("a", ZV_INT4, 4);
    const ZVField b = g.AddField("b", ZV_INT4, 4);
    // Index 0 ("ix") gets every segment; each row's mode is its own (and
    // one that the row's field or extended segment accepts).
    const ZVIndex ix = g.AddIndex("ix", 0, 1, 0);
    using Trace = std::vector<std::string>;
    struct Row {
        std::function<ZVSegment(int mode)> call;
        Trace trace;
        int field;  // of the new segment; -1 an extended segment
    };
    const Row rows[] = {
        {[&](int m) { return g.AddSegment(ix, b, m); }, {"add"}, 1},
        {[&](int m) { return g.AddSegment(ix, ZVString("a"), m); }, {"field a", "add"}, 0},
        {[&](int m) { return g.AddSegment(ix, 1, m); }, {"field 1", "add"}, 1},
        {[&](int m) { return g.AddSegment(ix, 4, 4, m); }, {}, -1},
        {[&](int m) { return g.AddSegment(0, 0, m); }, {"index 0", "field 0", "add"}, 0},
        {[&](int m) { return g.AddSegment(0, ZVString("b"), m); }, {"index 0", "field b", "add"}, 1},
        {[&](int m) { return g.AddSegment(0, b, m); }, {"index 0", "add"}, 1},
        {[&](int m) { return g.AddSegment(ZVString("ix"), ZVString("a"), m); }, {"index ix", "field a", "add"}, 0},
        {[&](int m) { return g.AddSegment(ZVString("ix"), 1, m); }, {"index ix", "field 1", "add"}, 1},
        {[&](int m) { return g.AddSegment(ZVString("ix"), b, m); }, {"index ix", "add"}, 1},
        {[&](int m) { return g.InsertSegment(ix, 0, b, m); }, {"insert"}, 1},
        {[&](int m) { return g.InsertSegment(ix, 0, ZVString("a"), m); }, {"field a", "insert"}, 0},
        {[&](int m) { return g.InsertSegment(ix, 0, 1, m); }, {"field 1", "insert"}, 1},
        {[&](int m) { return g.InsertSegment(ix, 0, 0, 4, m); }, {}, -1},
        {[&](int m) { return g.InsertSegment(0, 0, 0, m); }, {"index 0", "field 0", "insert"}, 0},
        {[&](int m) { return g.InsertSegment(0, 0, ZVString("b"), m); }, {"index 0", "field b", "insert"}, 1},
        {[&](int m) { return g.InsertSegment(ZVString("ix"), 0, ZVString("a"), m); },
         {"index ix", "field a", "insert"}, 0},
        {[&](int m) { return g.InsertSegment(ZVString("ix"), 0, 1, m); }, {"index ix", "field 1", "insert"}, 1},
        {[&](int m) { return g.InsertSegment(ZVString("ix"), 0, b, m); }, {"index ix", "insert"}, 1},
        {[&](int m) { return g.InsertSegment(0, 0, b, m); }, {"index 0", "insert"}, 1},
    };
    const int modes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 16, 17, 18, 19, 20, 21, 22};
    static_assert(std::size(modes) == std::size(rows));
    for (int i = 0; i < int(std::size(rows)); i++) {
        SCOPED_TRACE(i);
        const Row &row = rows[i];
        g.trace.clear();
        const ZVSegment made = row.call(modes[i]);
        EXPECT_EQ(g.trace, row.trace);
        // Adds go last, inserts first.
        ZVHANDLE at = zvdbGetSegment(ix.GetHandle(), i < 10 ? i : 0);
        EXPECT_EQ(made.GetHandle(), at);
        EXPECT_EQ(zvdbGetSegmentMode(at), modes[i]);
        EXPECT_EQ(zvdbGetSegmentField(at), row.field < 0 ? nullptr : g.ZVTable::GetField(row.field).GetHandle());
    }
    EXPECT_EQ(zvdbGetIndexSegmentCount(ix.GetHandle()), 20);

    // The index is looked up first; a missing field then throws its own
    // failure.
    g.trace.clear();
    expect_thrown(thrown_by([&] { g.AddSegment(ZVString("ix"), ZVString("nope"), 0); }),
                  {"missing field", nullptr, 4014, "Can't retrieve field", "zvpptabl", -1});
    EXPECT_EQ(g.trace, (Trace{"index ix", "field nope"}));
}

// A data file without any resource record, attached with a schema and
// definition of the caller's.
TEST_F(TableTest, ResourcesAreFoundAfterTheyAreAdded) {
    ASSERT_EQ(CREDATX8(90, "plain.dat", 16, 0, 0, 0, nullptr, nullptr, nullptr), 0);
    DATOBJ doda[2] = {{"id", 0, ZV_INT4, 4, 0, 0}, {"pad", 4, ZV_ARRAY, 12, 0, 0}};
    IFIL ifil = IFIL{"plain", 90, 16, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, 90};
    table_->AttachXtd(90, 2, doda, &ifil);
    {
        ZVResource reader(*table_);
        EXPECT_FALSE(reader.First(0));

        ZVResource note(*table_, 7000, 1, "note");
        char text[] = "hello";
        note.Add(text, 5);
        ASSERT_TRUE(reader.Find(7000, 1, 0));
        EXPECT_EQ(std::string(static_cast<const char *>(reader.GetData()), size_t(reader.GetDataLength())), "hello");
        EXPECT_EQ(text_of(reader.GetName()), "note");
        ZVResource by_name(*table_);
        ASSERT_TRUE(by_name.Find("note", 0));
        EXPECT_EQ(by_name.GetType(), 7000u);
        EXPECT_EQ(by_name.GetNumber(), 1u);
        ASSERT_TRUE(reader.First(0));
        EXPECT_FALSE(reader.Next(0));
        EXPECT_FALSE(reader.Find(7000, 2, 0));
        EXPECT_FALSE(reader.Find("other", 0));

        char more[] = "bye";
        note.Update(more, 3);
        ASSERT_TRUE(reader.Find("note", 0));
        EXPECT_EQ(reader.GetDataLength(), 3);
        note.Delete();
        EXPECT_FALSE(reader.First(0));

        const ThrowCase cases[] = {
            {"Add", [&] { note.Add(text, 0); }, 4004, "Can't add resource", "zvpptabl", -1},
            {"Find by name", [&] { reader.Find(ZVString(), 0); }, 4007, "Error finding resource by name", "zvpptabl",
             -1},
            {"Delete", [&] { note.Delete(); }, 408, "Can't delete resource", "zvpptabl", -1},
        };
        for (const ThrowCase &c : cases) expect_thrown(thrown_by(c.call), c);
    }
    table_->Detach();
    EXPECT_EQ(CLSFIL(90, 0), 0);

    ZVHANDLE h = table_->take();
    expect_thrown(thrown_by([&] { ZVResource r(*table_); }),
                  {"no table", nullptr, 4001, "Can't allocate resource handle", "zvpptabl", -1});
    table_->put(h);
}

}  // namespace
