// Registration of tables and their indexes in a database dictionary: what
// a table creation enters, names taken, reservations, UIDs by kind, and
// the tables a database has open.
#include <string>
#include <vector>

#include "tests/recapi/catalog/catfix.h"

namespace {

using RegistrationTest = cattest::CustTest;
using cattest::listing;

TEST_F(RegistrationTest, ATableIsEnteredWithItsIndexes) {
    ZVDBDICTENTRY t, ix;
    ASSERT_EQ(_zvdbDictFindTable(db_, "CUST", &t), 0);
    EXPECT_EQ(t.type, ZVDBDICT_TABLE);
    EXPECT_EQ(t.status, 0u);
    EXPECT_STREQ(t.name, "cust");
    EXPECT_STREQ(t.physname, "cust");
    EXPECT_STREQ(t.path, "db");
    EXPECT_STREQ(t.datext, ".dat");
    EXPECT_STREQ(t.idxext, ".idx");
    EXPECT_EQ(t.version, 0x10000u);
    ASSERT_EQ(_zvdbDictFindIndex(db_, "custno", &ix), 0);
    EXPECT_EQ(ix.type, ZVDBDICT_INDEX);
    EXPECT_STREQ(ix.link, "cust");
    EXPECT_EQ(ix.linknbr, t.uid);
    EXPECT_NE(ix.uid, t.uid);
    // No entry for the hidden indexes.
    EXPECT_EQ(walk(db_->dict, ZVDBDICT_INDEX), std::vector<std::string>{"custno"});
    EXPECT_EQ(listing("db"), (std::vector<std::string>{"Sales.qdd", "cust.dat", "cust.idx"}));
    char path[64];
    EXPECT_EQ(zvdbFindTable(db_, "Cust", path, sizeof path), 0);
    EXPECT_STREQ(path, "db/cust.dat");
    EXPECT_EQ(zvdbFindTable(db_, "Cust", path, 11), ZVDB_BUFFER_SMALL);
    uint32_t uid = 0;
    EXPECT_EQ(zvdbGetTableUID(db_, "cust", &uid), 0);
    EXPECT_EQ(uid, t.uid);
    EXPECT_EQ(zvdbGetIndexUID(db_, "CUSTNO", &uid), 0);
    EXPECT_EQ(uid, ix.uid);
    EXPECT_EQ(zvdbGetIndexUID(db_, "nothing", &uid), 101);
    EXPECT_EQ(zvdbGetIndexUID(nullptr, "custno", &uid), ZVDB_NULL_HANDLE);
    EXPECT_EQ(zvdbGetTableCount(db_), 1);
    // The table opens by name and by UID with the UIDs of the dictionary.
    auto *open = static_cast<tagZVDBTABLE *>(zvdbAllocTable(db_));
    ASSERT_EQ(zvdbOpenTableByUID(open, t.uid, 0), 0);
    EXPECT_EQ(open->uid, t.uid);
    EXPECT_EQ(zvdbGetIndexByUID(open, ix.uid), zvdbGetIndex(open, 0));
    zvdbFreeTable(open);
}

TEST_F(RegistrationTest, NamesAlreadyTakenAreRefused) {
    // An index name of another table: at definition, and at a rename.
    ZVHANDLE t = zvdbAllocTable(db_);
    EXPECT_EQ(zvdbAddIndex(t, "CustNo", 0, 0, 0), nullptr);
    EXPECT_EQ(last(), ZVDB_INDEX_IN_DICT);
    ZVHANDLE ix = zvdbAddIndex(t, "byname", 0, 0, 0);
    ASSERT_NE(ix, nullptr);
    EXPECT_EQ(zvdbSetIndexName(ix, "custno"), ZVDB_INDEX_IN_DICT);
    EXPECT_EQ(zvdbSetIndexName(ix, "BYNAME"), 0);
    zvdbFreeTable(t);
    // A table name.
    const std::vector<std::string> files = listing("db");
    EXPECT_EQ(make_table(db_, "CUST", "other"), ZVDB_TABLE_EXISTS);
    EXPECT_EQ(listing("db"), files);
    // An index name taken between the definition and the registration: the
    // new table's files go again, the first table keeps its entries.
    ZVHANDLE late = zvdbAllocTable(db_);
    ASSERT_NE(zvdbAddField(late, "k", ZV_INT4, 4), nullptr);
    ASSERT_NE(zvdbAddIndex(late, "shared", 0, 0, 0), nullptr);
    ASSERT_NE(zvdbAddSegmentByNbr(late, 0, 0, 12), nullptr);
    ASSERT_EQ(make_table(db_, "first", "shared"), 0);
    EXPECT_EQ(zvdbCreateTable(late, "second", 0), ZVDB_INDEX_NAME);
    zvdbFreeTable(late);
    ZVDBDICTENTRY e;
    EXPECT_EQ(_zvdbDictFindTable(db_, "second", &e), 101);
    ASSERT_EQ(_zvdbDictFindIndex(db_, "shared", &e), 0);
    EXPECT_STREQ(e.link, "first");
    EXPECT_EQ(listing("db"), (std::vector<std::string>{"Sales.qdd", "cust.dat", "cust.idx", "first.dat", "first.idx"}));
}

TEST_F(RegistrationTest, AnAlterationRewritesTheIndexEntries) {
    auto *t = static_cast<tagZVDBTABLE *>(zvdbAllocTable(db_));
    ASSERT_EQ(zvdbOpenTable(t, "cust", 1), 0);
    ZVHANDLE ix = zvdbAddIndex(t, "byname", 0, 1, 0);
    ASSERT_NE(ix, nullptr);
    ASSERT_NE(zvdbAddSegmentByNbr(t, 1, 1, 12), nullptr);
    ASSERT_EQ(zvdbDelIndex(t, 0), 0);
    ASSERT_EQ(zvdbAlterTable(t, 0), 0) << last();
    EXPECT_EQ(walk(db_->dict, ZVDBDICT_INDEX), std::vector<std::string>{"byname"});
    ZVDBDICTENTRY e;
    ASSERT_EQ(_zvdbDictFindIndex(db_, "byname", &e), 0);
    EXPECT_STREQ(e.link, "cust");
    EXPECT_EQ(e.linknbr, t->uid);
    zvdbFreeTable(t);
}

TEST_F(RegistrationTest, AReservationKeepsItsUID) {
    uint32_t table = 0, index = 0, again = 0;
    ASSERT_EQ(_zvdbDictReserveTable(db_, "orders", "orders", &table), 0);
    ASSERT_EQ(_zvdbDictReserveIndex(db_, "orderno", &index), 0);
    EXPECT_EQ(_zvdbDictReserveTable(db_, "ORDERS", "orders", &again), 0);
    EXPECT_EQ(again, table);
    ZVDBDICTENTRY e;
    EXPECT_EQ(_zvdbDictFindTable(db_, "orders", &e), 101);  // reserved only
    ASSERT_EQ(make_table(db_, "orders", "orderno"), 0);
    ASSERT_EQ(_zvdbDictFindTable(db_, "orders", &e), 0);
    EXPECT_EQ(e.uid, table);
    EXPECT_EQ(e.status, 0u);
    ASSERT_EQ(_zvdbDictFindIndex(db_, "orderno", &e), 0);
    EXPECT_EQ(e.uid, index);
    EXPECT_EQ(e.linknbr, table);
    // A reservation of what exists gives its UID.
    EXPECT_EQ(_zvdbDictReserveTable(db_, "cust", nullptr, &again), 0);
    ASSERT_EQ(_zvdbDictFindTable(db_, "cust", &e), 0);
    EXPECT_EQ(again, e.uid);
}

TEST_F(RegistrationTest, LookUpsByUIDKeepToTheirKind) {
    ZVDBDICTENTRY t, ix, e;
    ASSERT_EQ(_zvdbDictFindTable(db_, "cust", &t), 0);
    ASSERT_EQ(_zvdbDictFindIndex(db_, "custno", &ix), 0);
    char name[16], path[64];
    ASSERT_EQ(zvdbFindTableByUID(db_, t.uid, name, sizeof name, path, sizeof path), 0);
    EXPECT_STREQ(name, "cust");
    EXPECT_STREQ(path, "db/cust.dat");
    EXPECT_EQ(zvdbFindTableByUID(db_, ix.uid, name, sizeof name, path, sizeof path), ZVDB_NO_TABLE_NAME);
    ASSERT_EQ(_zvdbDictFindIndexByUID(db_, ix.uid, &e), 0);
    EXPECT_STREQ(e.name, "custno");
    EXPECT_EQ(_zvdbDictFindIndexByUID(db_, t.uid, &e), ZVDB_NO_INDEX_NAME);
    EXPECT_EQ(_zvdbDictFindIndexByUID(db_, 77, &e), 101);
}

TEST_F(RegistrationTest, TheOpenTablesOfADatabase) {
    ASSERT_EQ(make_table(db_, "orders", "orderno"), 0);
    auto *a = static_cast<tagZVDBTABLE *>(zvdbAllocTable(db_));
    auto *b = static_cast<tagZVDBTABLE *>(zvdbAllocTable(db_));
    ASSERT_EQ(zvdbOpenTable(a, "cust", 0), 0);
    ASSERT_EQ(zvdbOpenTable(b, "ORDERS", 0), 0);
    int index = 9;
    EXPECT_EQ(zvdbGetFirstActiveTable(db_, &index), a);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(zvdbGetNextActiveTable(db_, &index), b);
    EXPECT_EQ(zvdbGetNextActiveTable(db_, &index), nullptr);
    EXPECT_EQ(zvdbGetTableNbr(b), 1);
    EXPECT_EQ(zvdbGetTable(db_, 1), b);
    EXPECT_EQ(zvdbGetTable(db_, -1), nullptr);
    EXPECT_EQ(zvdbFindActiveTable(db_, "Orders"), b);
    EXPECT_EQ(_zvdbLocateTable(db_, "CUST"), 0);
    EXPECT_EQ(zvdbGetActiveTableByUID(db_, b->uid), b);
    EXPECT_EQ(zvdbFindActiveTableByUID(db_, a->uid), a);
    EXPECT_EQ(zvdbFindActiveTableByUID(db_, 5), nullptr);
    EXPECT_EQ(last(), ZVDB_NO_TABLE_NAME);
    // An index found by UID through another handle of the database.
    ZVDBDICTENTRY ix;
    ASSERT_EQ(_zvdbDictFindIndex(db_, "orderno", &ix), 0);
    auto *closed = static_cast<tagZVDBTABLE *>(zvdbAllocTable(db_));
    EXPECT_EQ(zvdbGetIndexByUID(closed, ix.uid), zvdbGetIndex(b, 0));
    EXPECT_EQ(zvdbGetIndexByUID(a, ix.uid), nullptr);  // open, but not its table
    EXPECT_EQ(last(), ZVDB_NO_INDEX_NAME);
    char dir[8];
    EXPECT_EQ(_zvdbGetTableDirectory(db_, "orders", dir, sizeof dir), 0);
    EXPECT_STREQ(dir, "db");
    EXPECT_EQ(_zvdbGetTableDirectory(db_, "orders", dir, 2), ZVDB_BUFFER_SMALL);
    EXPECT_EQ(_zvdbGetTableDirectory(session_, "orders", dir, sizeof dir), ZVDB_NO_DATABASE);
    ASSERT_EQ(zvdbCloseTable(a), 0);
    EXPECT_EQ(zvdbGetTableNbr(b), 0);
    EXPECT_EQ(zvdbGetTableNbr(a), -1);
    // Disconnecting closes what is open.
    ASSERT_EQ(zvdbDisconnect(db_), 0);
    EXPECT_EQ(zvdbIsActiveTable(b), 0);
    EXPECT_EQ(_zvdbGetTableDirectory(db_, "orders", dir, sizeof dir), ZVDB_NOT_ACTIVE);
    for (auto *t : {a, b, closed}) zvdbFreeTable(t);
}

// Index entries left without their table (a kill between a table's
// entries, or between those of its drop): the table's name and the index
// names are free again. The table is added back with its index; an index
// name whose table is gone goes to the next table that names it; a name
// whose table is there stays refused.
TEST_F(RegistrationTest, IndexEntriesLeftWithoutTheirTableGiveWay) {
    ZVDBDICT *d = db_->dict;
    ASSERT_EQ(_zvdbRemoveDict(d, ZVDBDICT_TABLE, 0, "cust"), 0);
    put_entry(d, entry(ZVDBDICT_INDEX, "goneix", "gone", 5000));
    ASSERT_EQ(make_table(db_, "orders", "orderno"), 0);
    // Defining an index of those names is no longer refused.
    ZVHANDLE t = zvdbAllocTable(db_);
    EXPECT_NE(zvdbAddIndex(t, "custno", 0, 0, 0), nullptr);
    EXPECT_EQ(zvdbAddIndex(t, "orderno", 0, 0, 0), nullptr);
    EXPECT_EQ(last(), ZVDB_INDEX_IN_DICT);
    zvdbFreeTable(t);
    // The files of "cust" come back under their entry, with their index.
    ASSERT_EQ(zvdbAddTable(db_, "cust", "db"), 0) << last();
    ZVDBDICTENTRY tab, ix;
    ASSERT_EQ(_zvdbDictFindTable(db_, "cust", &tab), 0);
    ASSERT_EQ(_zvdbDictFindIndex(db_, "custno", &ix), 0);
    EXPECT_EQ(ix.linknbr, tab.uid);
    // An index of a table that has no entry is taken over.
    ASSERT_EQ(make_table(db_, "items", "goneix"), 0);
    ASSERT_EQ(_zvdbDictFindTable(db_, "items", &tab), 0);
    ASSERT_EQ(_zvdbDictFindIndex(db_, "goneix", &ix), 0);
    EXPECT_STREQ(ix.link, "items");
    EXPECT_EQ(ix.linknbr, tab.uid);
    EXPECT_EQ(walk(d, ZVDBDICT_INDEX), (std::vector<std::string>{"custno", "goneix", "orderno"}));
    // A name whose table has its entry is still refused.
    EXPECT_EQ(make_table(db_, "more", "orderno"), ZVDB_INDEX_IN_DICT);
}

}  // namespace
