// Databases: creating, adding, finding, dropping and deleting them through
// the session dictionary, and connecting database handles.
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/platform.h"
#include "tests/recapi/catalog/catfix.h"

namespace {

using cattest::CatalogTest;
using cattest::listing;
namespace fs = std::filesystem;

std::vector<ZVHANDLE> g_connects, g_disconnects;
ZVDBRET on_connect(ZVHANDLE db) {
    g_connects.push_back(db);
    return zvdbIsActiveDatabase(db) ? 0 : 9;
}
ZVDBRET on_disconnect(ZVHANDLE db) {
    g_disconnects.push_back(db);
    return 9;  // not looked at
}

TEST_F(CatalogTest, ADatabaseIsRegisteredWithItsDictionaryHost) {
    fs::create_directory("dir");
    ASSERT_EQ(zvdbCreateDatabase(session_, "a/b/Sales", "dir/"), 0);
    EXPECT_EQ(listing("dir"), std::vector<std::string>{"Sales.qdd"});
    ZVDBDICTENTRY e;
    ASSERT_EQ(_zvdbDictFindDatabase(session_, "SALES", &e), 0);
    EXPECT_EQ(e.type, ZVDBDICT_DATABASE);
    EXPECT_EQ(e.status, 0u);
    EXPECT_STREQ(e.name, "Sales");
    EXPECT_STREQ(e.physname, "Sales");
    EXPECT_STREQ(e.path, "dir");
    EXPECT_STREQ(e.supext, ".qdd");
    EXPECT_EQ(e.version, 0x10000u);
    char path[64], name[16];
    ASSERT_EQ(zvdbFindDatabase(session_, "sales", path, sizeof path), 0);
    EXPECT_STREQ(path, "dir/Sales.qdd");
    ASSERT_EQ(zvdbFindDatabaseByUID(session_, e.uid, name, sizeof name, path, sizeof path), 0);
    EXPECT_STREQ(name, "Sales");
    uint32_t uid = 0;
    EXPECT_EQ(zvdbGetDatabaseUID(session_, "Sales", &uid), 0);
    EXPECT_EQ(uid, e.uid);
    EXPECT_EQ(zvdbGetDatabaseCount(session_), 1);

    // Refusals make no file.
    EXPECT_EQ(zvdbCreateDatabase(session_, "SALES", "dir"), ZVDB_DATABASE_EXISTS);
    EXPECT_EQ(last(), ZVDB_DATABASE_EXISTS);
    EXPECT_EQ(zvdbCreateDatabase(session_, std::string(128, 'n').c_str(), "dir"), ZVDB_NAME_TOO_LONG);
    EXPECT_EQ(zvdbCreateDatabase(session_, "Other", std::string(255, 'p').c_str()), ZVDB_NAME_TOO_LONG);
    EXPECT_EQ(zvdbCreateDatabase(session_, nullptr, "dir"), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(listing("dir"), std::vector<std::string>{"Sales.qdd"});
    EXPECT_EQ(zvdbFindDatabase(session_, "Other", path, sizeof path), 101);
    EXPECT_EQ(zvdbGetDatabaseUID(nullptr, "Sales", &uid), ZVDB_NULL_HANDLE);
    EXPECT_EQ(zvdbGetDatabaseUID(session_, nullptr, &uid), ZVDB_NULL_ARGUMENT);
}

TEST_F(CatalogTest, DropKeepsTheDictionaryAndDeleteRemovesIt) {
    fs::create_directory("dir");
    ASSERT_EQ(zvdbCreateDatabase(session_, "Sales", "dir"), 0);
    ASSERT_EQ(zvdbDropDatabase(session_, "sales"), 0);
    EXPECT_EQ(zvdbGetDatabaseCount(session_), 0);
    EXPECT_EQ(listing("dir"), std::vector<std::string>{"Sales.qdd"});
    EXPECT_EQ(zvdbDropDatabase(session_, "Sales"), 101);

    // The kept dictionary can be added again.
    EXPECT_EQ(zvdbAddDatabase(session_, "Missing", "dir"), ZVDB_DATABASE_UNUSABLE);
    ASSERT_EQ(zvdbAddDatabase(session_, "Sales", "dir"), 0);
    ZVDBDICTENTRY e;
    ASSERT_EQ(_zvdbDictFindDatabase(session_, "Sales", &e), 0);
    EXPECT_STREQ(e.supext, ".qdd");
    EXPECT_EQ(zvdbAddDatabase(session_, "Sales", "dir"), ZVDB_DATABASE_EXISTS);

    ASSERT_EQ(zvdbDeleteDatabase(session_, "Sales"), 0);
    EXPECT_EQ(zvdbGetDatabaseCount(session_), 0);
    EXPECT_EQ(listing("dir"), std::vector<std::string>{});
    EXPECT_EQ(zvdbDeleteDatabase(session_, "Sales"), 101);
}

TEST_F(CatalogTest, ConnectAndDisconnect) {
    fs::create_directory("dir");
    ASSERT_EQ(zvdbCreateDatabase(session_, "Sales", "dir"), 0);
    g_connects.clear();
    g_disconnects.clear();
    ASSERT_EQ(zvdbSetCallback(session_, 23, reinterpret_cast<ZVDB_CALLBACK>(on_connect)), 0);
    ASSERT_EQ(zvdbSetCallback(session_, 24, reinterpret_cast<ZVDB_CALLBACK>(on_disconnect)), 0);
    auto *db = static_cast<tagZVDBDATABASE *>(zvdbAllocDatabase(session_));
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(zvdbGetDatabaseName(db), nullptr);
    EXPECT_EQ(zvdbConnect(db, "Nowhere"), 101);
    EXPECT_EQ(zvdbIsActiveDatabase(db), 0);
    EXPECT_EQ(zvdbDisconnect(db), ZVDB_NOT_ACTIVE);

    ASSERT_EQ(zvdbConnect(db, "sales"), 0);
    EXPECT_EQ(g_connects, std::vector<ZVHANDLE>{db});
    EXPECT_EQ(zvdbIsActiveDatabase(db), 1);
    EXPECT_STREQ(zvdbGetDatabaseName(db), "Sales");
    EXPECT_STREQ(zvdbGetDatabasePath(db), "dir");
    EXPECT_EQ(zvdbFindActiveDatabase(session_, "SALES"), db);
    EXPECT_EQ(_zvdbLocateDatabase(session_, "sales"), 0);
    uint32_t uid = 0, active = 0;
    ASSERT_EQ(zvdbGetDatabaseUID(session_, "Sales", &uid), 0);
    ASSERT_EQ(zvdbGetActiveDatabaseUID(db, &active), 0);
    EXPECT_EQ(active, uid);
    EXPECT_EQ(zvdbFindActiveDatabaseByUID(session_, uid), db);
    EXPECT_EQ(zvdbConnect(db, "Sales"), ZVDB_ACTIVE);
    EXPECT_EQ(last(), ZVDB_ACTIVE);

    ASSERT_EQ(zvdbDisconnect(db), 0);
    EXPECT_EQ(g_disconnects, std::vector<ZVHANDLE>{db});
    EXPECT_EQ(zvdbDisconnect(db), ZVDB_NOT_ACTIVE);
    EXPECT_EQ(zvdbGetDatabaseName(db), nullptr);
    EXPECT_EQ(zvdbFindActiveDatabase(session_, "Sales"), nullptr);
    EXPECT_EQ(_zvdbLocateDatabase(session_, "Sales"), -1);
    // Connected again, logout disconnects it.
    ASSERT_EQ(zvdbConnect(db, "Sales"), 0);
    ASSERT_EQ(zvdbLogout(session_), 0);
    EXPECT_EQ(zvdbIsActiveDatabase(db), 0);
    EXPECT_EQ(g_disconnects.size(), 2u);
    EXPECT_EQ(zvdbFreeDatabase(db), 0);
    EXPECT_EQ(zvdbConnect(nullptr, "Sales"), ZVDB_NO_DATABASE);
    EXPECT_EQ(zvdbFreeDatabase(session_), ZVDB_NO_DATABASE);
}

// A dictionary whose files could not be written as closed: the disconnect
// reports it, and the handle is disconnected all the same. (A database
// connected exclusively keeps its dictionary's files open until the
// disconnect; a shared one closes them at the end of each operation.)
TEST_F(CatalogTest, ADisconnectReportsADictionaryItCouldNotClose) {
    tagZVDBDATABASE *db = connect("Sales", "db", 1);
    ASSERT_NE(db, nullptr);
    ASSERT_EQ(make_table(db, "cust", "custno"), 0);
    zv::fault_set(zv::IoKind::Write, 1, EIO, true);
    EXPECT_NE(zvdbDisconnect(db), 0);
    zv::fault_reset();
    EXPECT_NE(last(), 0);
    EXPECT_EQ(zvdbIsActiveDatabase(db), 0);
    EXPECT_EQ(zvdbDisconnect(db), ZVDB_NOT_ACTIVE);
}

TEST_F(CatalogTest, AConnectThatFindsTheDictionaryTakenOpensItExclusively) {
    tagZVDBDATABASE *db = connect();
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(zvdbIsDatabaseExclusive(db), 0);
    EXPECT_EQ(db->dict->exclusive, 0);
    ASSERT_EQ(zvdbDisconnect(db), 0);
    ASSERT_EQ(zvdbSetDatabaseExclusive(db, 1), 0);
    ASSERT_EQ(zvdbConnect(db, "Sales"), 0);
    EXPECT_EQ(db->dict->exclusive, 1);
    // A second handle cannot share it; its connect fails and leaves it off.
    auto *other = static_cast<tagZVDBDATABASE *>(zvdbAllocDatabase(session_));
    EXPECT_NE(zvdbConnect(other, "Sales"), 0);
    EXPECT_EQ(zvdbIsActiveDatabase(other), 0);
    EXPECT_EQ(zvdbGetDatabaseName(other), nullptr);
    EXPECT_EQ(zvdbFreeDatabase(other), 0);
}

TEST_F(CatalogTest, AFailedCreateLeavesNeitherEntryNorFile) {
    fs::create_directory("dir");
    for (zv::IoKind kind : {zv::IoKind::Write, zv::IoKind::Open}) {
        SCOPED_TRACE(int(kind));
        int failures = 0;
        for (long n = 1;; n++) {
            SCOPED_TRACE(n);
            zv::fault_reset();
            zv::fault_set(kind, n, EIO);
            const int rc = zvdbCreateDatabase(session_, "Sales", "dir");
            zv::fault_reset();
            ZVDBDICTENTRY e;
            if (rc == 0) {
                ASSERT_EQ(_zvdbDictFindDatabase(session_, "Sales", &e), 0);
                ASSERT_EQ(zvdbDeleteDatabase(session_, "Sales"), 0);
                break;
            }
            failures++;
            EXPECT_EQ(_zvdbDictFindDatabase(session_, "Sales", &e), 101);
            EXPECT_EQ(listing("dir"), std::vector<std::string>{});
            ASSERT_LT(n, 200);
        }
        EXPECT_GT(failures, 0);
    }
}

// Table "t" (one field) in the directory tdir, made through a session.
void make_table_t(ZVHANDLE session) {
    fs::create_directory("tdir");
    ZVHANDLE t = zvdbAllocTable(session);
    ASSERT_EQ(zvdbSetTablePath(t, "tdir"), 0);
    ASSERT_NE(zvdbAddField(t, "k", ZV_INT4, 4), nullptr);
    ASSERT_EQ(zvdbCreateTable(t, "t", 0), 0);
    zvdbFreeTable(t);
}

TEST_F(CatalogTest, ATableIsAddedToADatabaseInASessionOfItsOwn) {
    make_table_t(session_);
    fs::create_directory("dbdir");
    // The call's own session works in this directory's session dictionary,
    // through an engine instance of its own, beside this logged-on session
    // as another process would: each holds the dictionaries only inside
    // one of its operations.
    ASSERT_EQ(zvdbAddTableToDatabase("db", "dbdir", "t", "tdir", nullptr, nullptr, 1), 0);
    ASSERT_EQ(zvdbAddTableToDatabase("db", "dbdir", "t", "tdir", nullptr, nullptr, 1), 0);  // dropped, added
    // Read afresh by this session, which stayed logged on meanwhile.
    auto *db = static_cast<tagZVDBDATABASE *>(zvdbAllocDatabase(session_));
    ASSERT_EQ(zvdbConnect(db, "db"), 0);
    char path[32];
    EXPECT_EQ(zvdbFindTable(db, "t", path, sizeof path), 0);
    EXPECT_STREQ(path, "tdir/t.dat");
    EXPECT_EQ(zvdbGetTableCount(db), 1);
    EXPECT_EQ(zvdbFreeDatabase(db), 0);
}

// A session that changed the dictionaries and stays connected holds them
// no more than one that did not: the call's own instance registers beside
// it, and the connected database reads the registration at its next
// operation; a registered table is refused once (4022) as in one process.
TEST_F(CatalogTest, ATableIsAddedBesideTheCallersSessionWhileItStaysConnected) {
    make_table_t(session_);
    fs::create_directory("dbdir");
    ASSERT_EQ(zvdbCreateDatabase(session_, "db", "dbdir"), 0);
    auto *db = static_cast<tagZVDBDATABASE *>(zvdbAllocDatabase(session_));
    ASSERT_EQ(zvdbConnect(db, "db"), 0);
    EXPECT_EQ(zvdbGetTableCount(db), 0);
    EXPECT_EQ(zvdbAddTableToDatabase("db", "dbdir", "t", "tdir", nullptr, nullptr, 0), 0);
    EXPECT_EQ(zvdbGetTableCount(db), 1);
    ZVHANDLE t = zvdbAllocTable(db);
    EXPECT_EQ(zvdbOpenTable(t, "t", 0), 0);
    EXPECT_EQ(zvdbCloseTable(t), 0);
    zvdbFreeTable(t);
    EXPECT_EQ(zvdbAddTable(db, "t", "tdir"), ZVDB_TABLE_EXISTS);
    ASSERT_EQ(zvdbCreateDatabase(session_, "other", "dbdir"), 0);
    EXPECT_EQ(zvdbAddTableToDatabase("other", "dbdir", "t", "tdir", nullptr, nullptr, 0), 0);
    EXPECT_EQ(zvdbFreeDatabase(db), 0);
}

TEST_F(CatalogTest, DatabaseHandleSettings) {
    auto *db = static_cast<tagZVDBDATABASE *>(zvdbAllocDatabase(session_));
    ASSERT_NE(db, nullptr);
    int tag = 0;
    EXPECT_EQ(zvdbSetDatabaseObjptr(db, &tag), 0);
    EXPECT_EQ(zvdbGetDatabaseObjptr(db), &tag);
    EXPECT_EQ(zvdbSetDefaultSqlTableOwner(db, "dbo"), 0);
    EXPECT_STREQ(zvdbGetDefaultSqlTableOwner(db), "dbo");
    EXPECT_EQ(zvdbIsSQLDatabase(db), 0);
    EXPECT_EQ(_zvdbSetDatabaseDropDelOpt(db, 1), 0);
    EXPECT_EQ(db->dropdelopt, 1);
    EXPECT_EQ(_zvdbSetDatabaseDropLastMRT(db, 1), 0);
    EXPECT_EQ(db->droplastmrt, 1);
    // The database's extension hint takes 0..4.
    EXPECT_EQ(zvdbSetExtensionHint(db, 4), 0);
    EXPECT_EQ(zvdbGetExtensionHint(db), 4);
    EXPECT_EQ(zvdbSetExtensionHint(db, 5), ZVDB_BAD_ARGUMENT);
    EXPECT_EQ(zvdbGetExtensionHint(db), 4);
    EXPECT_EQ(zvdbSetDictInSuperfile(db, 0), 0);
    EXPECT_EQ(db->dictinsuper, 0u);
    EXPECT_EQ(session_->dictinsuper, 1);
    for (auto setter : {+[](ZVHANDLE h) { return zvdbSetDatabaseObjptr(h, nullptr); },
                        +[](ZVHANDLE h) { return zvdbSetDatabaseExclusive(h, 1); },
                        +[](ZVHANDLE h) { return _zvdbSetDatabaseDropDelOpt(h, 1); }}) {
        EXPECT_EQ(setter(session_), ZVDB_NO_DATABASE);
    }
    EXPECT_EQ(zvdbFreeDatabase(db), 0);
}

}  // namespace
