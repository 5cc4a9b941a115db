// Dropping and deleting tables and databases: files first, the entry last,
// so that a failure at any write or unlink leaves an entry that a repeat
// with the drop-delete option finishes.
#include <cerrno>
#include <initializer_list>
#include <string>
#include <vector>

#include "engine/core/platform.h"
#include "tests/recapi/catalog/catfix.h"

namespace {

using cattest::CatalogTest;
using cattest::listing;
using Names = std::vector<std::string>;

class DeleteTest : public CatalogTest {
protected:
    void SetUp() override {
        CatalogTest::SetUp();
        small_cache();
        db_ = connect();
        ASSERT_NE(db_, nullptr);
    }
    tagZVDBDATABASE *db_ = nullptr;
};

TEST_F(DeleteTest, DroppingKeepsTheFilesAndRefusesAnOpenTable) {
    ASSERT_EQ(make_table(db_, "cust", "custno"), 0);
    auto *t = static_cast<tagZVDBTABLE *>(zvdbAllocTable(db_));
    ASSERT_EQ(zvdbOpenTable(t, "cust", 0), 0);
    EXPECT_EQ(zvdbDropTable(db_, "CUST"), ZVDB_ACTIVE);
    EXPECT_EQ(zvdbDeleteTable(db_, "cust", nullptr), ZVDB_ACTIVE);
    ZVDBDICTENTRY e;
    EXPECT_EQ(_zvdbDictFindTable(db_, "cust", &e), 0);
    zvdbFreeTable(t);
    ASSERT_EQ(zvdbDropTable(db_, "cust"), 0);
    EXPECT_EQ(_zvdbDictFindTable(db_, "cust", &e), 101);
    EXPECT_EQ(walk(db_->dict, ZVDBDICT_INDEX), Names{});
    EXPECT_EQ(listing("db"), (Names{"Sales.qdd", "cust.dat", "cust.idx"}));
    // Unknown names: 101 and 4023, both 0 with the drop-delete option.
    EXPECT_EQ(zvdbDropTable(db_, "cust"), 101);
    EXPECT_EQ(zvdbDeleteTable(db_, "cust", nullptr), ZVDB_NO_TABLE_NAME);
    ASSERT_EQ(_zvdbSetDatabaseDropDelOpt(db_, 1), 0);
    EXPECT_EQ(zvdbDropTable(db_, "cust"), 0);
    EXPECT_EQ(zvdbDeleteTable(db_, "cust", nullptr), 0);
    EXPECT_EQ(zvdbDropTable(db_, nullptr), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbDropTable(session_, "cust"), ZVDB_NO_DATABASE);
}

// Fails the nth call of each kind (unlink, write) made by `call` once,
// n = 1, 2, ... until it succeeds. After each failure the entry must still
// be there, and a repeat with the drop-delete option must leave neither
// entry nor file. A failure met when the call hands its dictionary change
// to the system (the files and the entry gone already) leaves neither.
template <typename Make, typename Call, typename Exists>
void sweep(tagZVDBDATABASE *db, Make make, Call call, Exists exists,
           std::initializer_list<zv::IoKind> kinds = {zv::IoKind::Unlink, zv::IoKind::Write}) {
    for (zv::IoKind kind : kinds) {
        SCOPED_TRACE(int(kind));
        int failures = 0;
        for (long n = 1;; n++) {
            SCOPED_TRACE(n);
            if (!exists()) make();
            zv::fault_reset();
            zv::fault_set(kind, n, EIO);
            const int rc = call();
            const long calls = zv::io_calls(kind);
            zv::fault_reset();
            if (rc == 0) {
                // The call made fewer than n such calls: the sweep is done.
                // Else the failure was absorbed (a page the cache could not
                // write out stays changed and goes with the flush): the
                // delete is whole all the same.
                EXPECT_FALSE(exists());
                EXPECT_EQ(listing("db"), Names{"Sales.qdd"});
                if (calls < n) break;
                continue;
            }
            failures++;
            if (!exists()) {
                EXPECT_EQ(listing("db"), Names{"Sales.qdd"}) << "the entry goes last";
                continue;
            }
            ASSERT_EQ(_zvdbSetDatabaseDropDelOpt(db, 1), 0);
            EXPECT_EQ(call(), 0);
            ASSERT_EQ(_zvdbSetDatabaseDropDelOpt(db, 0), 0);
            EXPECT_FALSE(exists());
            EXPECT_EQ(listing("db"), Names{"Sales.qdd"});
            ASSERT_LT(n, 300);
        }
        EXPECT_GT(failures, 0);
        EXPECT_FALSE(exists());
        EXPECT_EQ(listing("db"), Names{"Sales.qdd"});
    }
}

TEST_F(DeleteTest, AFailedTableDeleteKeepsTheEntryForARepeat) {
    ZVDBDICTENTRY e;
    sweep(
        db_, [&] { ASSERT_EQ(make_table(db_, "cust", "custno"), 0); },
        [&] { return zvdbDeleteTable(db_, "cust", nullptr); },
        [&] { return _zvdbDictFindTable(db_, "cust", &e) == 0; });
    EXPECT_EQ(_zvdbDictFindIndex(db_, "custno", &e), 101);
}

TEST_F(DeleteTest, ATableInsideTheDictionaryHostIsDeletedFileByFile) {
    auto make = [&] {
        ZVHANDLE t = zvdbAllocTable(db_);
        ASSERT_EQ(zvdbSetTablePath(t, "db/Sales.qdd!"), 0);
        ASSERT_NE(zvdbAddField(t, "k", ZV_INT4, 4), nullptr);
        ASSERT_NE(zvdbAddIndex(t, "innerkey", 0, 0, 0), nullptr);
        ASSERT_NE(zvdbAddSegmentByNbr(t, 0, 0, 12), nullptr);
        ASSERT_EQ(zvdbCreateTable(t, "inner", 0), 0);
        ASSERT_EQ(zvdbOpenTable(t, "inner", 0), 0);
        EXPECT_EQ(zvdbGetTableType(t), 3);
        zvdbFreeTable(t);
    };
    ZVDBDICTENTRY e;
    // Members are deleted inside their host: no unlink, only writes.
    sweep(db_, make, [&] { return zvdbDeleteTable(db_, "inner", nullptr); },
          [&] { return _zvdbDictFindTable(db_, "inner", &e) == 0; }, {zv::IoKind::Write});
    // The members are gone from the host, which holds the dictionary still.
    make();
    ASSERT_EQ(zvdbDeleteTable(db_, "inner", nullptr), 0);
    auto *t = static_cast<tagZVDBTABLE *>(zvdbAllocTable(session_));
    ASSERT_EQ(zvdbSetTablePath(t, "db/Sales.qdd!"), 0);
    EXPECT_EQ(zvdbOpenTable(t, "inner", 0), 12);
    zvdbFreeTable(t);
    EXPECT_EQ(_zvdbDictFindIndex(db_, "innerkey", &e), 101);
    EXPECT_EQ(zvdbGetTableCount(db_), 0);
}

TEST_F(DeleteTest, AFailedDatabaseDeleteKeepsTheEntryForARepeat) {
    ASSERT_EQ(zvdbDisconnect(db_), 0);
    ZVDBDICTENTRY e;
    sweep(
        db_, [&] { ASSERT_EQ(zvdbCreateDatabase(session_, "Other", "db"), 0); },
        [&] { return zvdbDeleteDatabase(db_, "Other"); },
        [&] { return _zvdbDictFindDatabase(session_, "Other", &e) == 0; });
    // A connected database is not deleted under its handle.
    ASSERT_EQ(zvdbConnect(db_, "Sales"), 0);
    EXPECT_EQ(zvdbDeleteDatabase(session_, "Sales"), ZVDB_ACTIVE);
    EXPECT_EQ(listing("db"), Names{"Sales.qdd"});
}

}  // namespace
