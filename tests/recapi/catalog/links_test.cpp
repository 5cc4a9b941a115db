// Walks, counts and links of a database dictionary: tables with their
// virtual tables, the entries that name a table, and a table's rename.
#include <string>
#include <vector>

#include "tests/recapi/catalog/catfix.h"

namespace {

using Names = std::vector<std::string>;
using cattest::listing;

class LinksTest : public cattest::CustTest {
protected:
    void SetUp() override {
        CustTest::SetUp();
        ASSERT_EQ(make_table(db_, "orders", "orderno"), 0);
        ASSERT_EQ(_zvdbDictFindTable(db_, "cust", &cust_), 0);
        // Virtual tables written as entries: their hosts' resources come
        // with the virtual tables themselves.
        ZVDBDICTENTRY v = entry(ZVDBDICT_VTABLE, "vcust2", "cust");
        v.linknbr = cust_.uid;
        v.counter = 2;
        for (const char *name : {"vcust2", "vcust0"}) {
            std::snprintf(v.name, sizeof v.name, "%s", name);
            std::snprintf(v.physname, sizeof v.physname, "%s", name);
            ASSERT_EQ(_zvdbGetDictUID(db_->dict, &v.uid), 0);
            put_entry(db_->dict, v);
            v.counter = 0;
        }
    }
    ZVDBDICTENTRY cust_{};
};

TEST_F(LinksTest, WalksByTableIncludeVirtualTables) {
    ZVDBDICT *d = db_->dict;
    EXPECT_EQ(walk(d, ZVDBDICT_TABLE), (Names{"cust", "orders", "vcust0", "vcust2"}));
    EXPECT_EQ(walk(d, ZVDBDICT_VTABLE), (Names{"vcust0", "vcust2"}));
    EXPECT_EQ(walk(d, ZVDBDICT_INDEX), (Names{"custno", "orderno"}));
    EXPECT_EQ(_zvdbGetDictCount(d, ZVDBDICT_TABLE, 0), 4);
    EXPECT_EQ(_zvdbGetDictCount(d, ZVDBDICT_VTABLE, 0), 2);
    EXPECT_EQ(_zvdbGetDictCount(d, ZVDBDICT_DATABASE, 0), 0);
    EXPECT_EQ(zvdbGetTableCount(db_), 4);
    // The public walk gives names and paths.
    char name[16], path[64];
    std::vector<std::string> seen;
    for (int rc = zvdbFirstTable(db_, name, sizeof name, path, sizeof path); rc == 0;
         rc = zvdbNextTable(db_, name, sizeof name, path, sizeof path)) {
        seen.push_back(std::string(name) + " " + path);
    }
    EXPECT_EQ(seen, (Names{"cust db/cust.dat", "orders db/orders.dat", "vcust0 vcust0", "vcust2 vcust2"}));
    EXPECT_EQ(zvdbFirstTable(db_, nullptr, 0, path, sizeof path), ZVDB_NULL_ARGUMENT);
    // A look-up by name matches the whole type: the virtual table is found
    // as one.
    ZVDBDICTENTRY e;
    ASSERT_EQ(_zvdbDictFindTable(db_, "VCUST2", &e), 0);
    EXPECT_EQ(e.type, ZVDBDICT_VTABLE);
    EXPECT_EQ(e.counter, 2u);
    EXPECT_EQ(_zvdbFindDict(d, ZVDBDICT_TABLE, 0, "vcust2"), 101);
}

TEST_F(LinksTest, ASetOverTheLinkYieldsTheEntriesThatNameATable) {
    ZVDBDICT *d = db_->dict;
    put_entry(d, entry(ZVDBDICT_INDEX, "custname", "cust", 5000));
    ASSERT_EQ(_zvdbRecordSetByLinkOn(d, ZVDBDICT_INDEX, 0, "CUST"), 0);
    EXPECT_EQ(d->linkset, 1);
    // In "DICTLINK" order: equal links as they were written.
    EXPECT_EQ(walk(d, ZVDBDICT_INDEX), (Names{"custno", "custname"}));
    ASSERT_EQ(_zvdbRecordSetByLinkOff(d), 0);
    EXPECT_EQ(d->linkset, 0);
    ASSERT_EQ(_zvdbRecordSetByLinkOn(d, ZVDBDICT_VTABLE, 0, "cust"), 0);
    EXPECT_EQ(walk(d, ZVDBDICT_VTABLE), (Names{"vcust2", "vcust0"}));
    ASSERT_EQ(_zvdbRecordSetByLinkOn(d, ZVDBDICT_INDEX, 0, "orders"), 0);  // replaces the set
    EXPECT_EQ(walk(d, ZVDBDICT_INDEX), Names{"orderno"});
    ASSERT_EQ(_zvdbRecordSetByLinkOn(d, ZVDBDICT_INDEX, 0, "nothing"), 0);
    EXPECT_EQ(walk(d, ZVDBDICT_INDEX), Names{});
    ASSERT_EQ(_zvdbRecordSetByLinkOff(d), 0);
    // Off, the walk sees every entry of the type again.
    EXPECT_EQ(walk(d, ZVDBDICT_INDEX), (Names{"custname", "custno", "orderno"}));
    EXPECT_EQ(_zvdbRecordSetByLinkOn(d, ZVDBDICT_INDEX, 0, nullptr), ZVDB_NULL_ARGUMENT);
    // Dropping a table's indexes goes through the set.
    ASSERT_EQ(_zvdbDictDropAllIndex(db_, "cust"), 0);
    EXPECT_EQ(walk(d, ZVDBDICT_INDEX), Names{"orderno"});
}

TEST_F(LinksTest, AHostOfVirtualTablesIsNotDropped) {
    EXPECT_EQ(_zvdbDictCheckMRTTable(db_, "CUST"), ZVDB_HAS_VTABLES);
    EXPECT_EQ(_zvdbDictCheckMRTTable(db_, "orders"), 0);
    const Names files = listing("db");
    EXPECT_EQ(zvdbDropTable(db_, "cust"), ZVDB_HAS_VTABLES);
    EXPECT_EQ(zvdbDeleteTable(db_, "cust", nullptr), ZVDB_HAS_VTABLES);
    EXPECT_EQ(listing("db"), files);
    EXPECT_EQ(walk(db_->dict, ZVDBDICT_INDEX), (Names{"custno", "orderno"}));
    // Dropping a virtual table leaves its host; then the host can go.
    ASSERT_EQ(zvdbDropTable(db_, "vcust0"), 0);
    ASSERT_EQ(zvdbDeleteTable(db_, "vcust2", nullptr), 0);
    ASSERT_EQ(zvdbDropTable(db_, "cust"), 0);
    EXPECT_EQ(walk(db_->dict, ZVDBDICT_TABLE), Names{"orders"});
    EXPECT_EQ(walk(db_->dict, ZVDBDICT_INDEX), Names{"orderno"});
    EXPECT_EQ(listing("db"), files);  // dropped, not deleted
}

TEST_F(LinksTest, TheLastVirtualTableCanTakeItsHostAlong) {
    ASSERT_EQ(_zvdbSetDatabaseDropLastMRT(db_, 1), 0);
    ASSERT_EQ(zvdbDeleteTable(db_, "vcust0", nullptr), 0);
    ZVDBDICTENTRY e;
    EXPECT_EQ(_zvdbDictFindTable(db_, "cust", &e), 0);  // another one lives in it
    ASSERT_EQ(zvdbDeleteTable(db_, "vcust2", nullptr), 0);
    EXPECT_EQ(_zvdbDictFindTable(db_, "cust", &e), 101);
    EXPECT_EQ(listing("db"), (Names{"Sales.qdd", "orders.dat", "orders.idx"}));
}

TEST_F(LinksTest, VirtualTableListsCountPastTheirCapacity) {
    char name0[128] = "x";
    ZVDBVTENTRY items[1] = {{-1, 7, name0}};
    ZVDBVTINFO list{nullptr, items, 1, 9};
    ASSERT_EQ(zvdbGetVTableInfoFromDict(db_, "Cust", ZVDBDICT_VTABLE, &list), 0);
    EXPECT_EQ(list.count, 2);
    EXPECT_EQ(items[0].number, 2);  // the first written
    EXPECT_EQ(items[0].kind, 0x10000u);
    EXPECT_STREQ(items[0].name, "vcust2");
    // The indexes of a table: counted, numbered 0, no kind, no name.
    std::snprintf(name0, sizeof name0, "kept");
    ASSERT_EQ(zvdbGetVTableInfoFromDict(db_, "cust", ZVDBDICT_INDEX, &list), 0);
    EXPECT_EQ(list.count, 1);
    EXPECT_EQ(items[0].kind, 0u);
    EXPECT_STREQ(items[0].name, "kept");
    EXPECT_EQ(zvdbGetVTableInfoFromDict(db_, "cust", ZVDBDICT_VTABLE, nullptr), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbGetVTableInfoFromDict(session_, "cust", ZVDBDICT_VTABLE, &list), ZVDB_NO_DATABASE);
}

TEST_F(LinksTest, AVirtualTableIsRegisteredOnlyOverAHost) {
    const Names before = walk(db_->dict, ZVDBDICT_TABLE);
    EXPECT_EQ(zvdbAddMRTTable(db_, "orders", "cust", 1), ZVDB_TABLE_EXISTS);
    EXPECT_EQ(zvdbAddMRTTable(db_, "vcust2", "cust", 1), ZVDB_TABLE_EXISTS);
    EXPECT_EQ(zvdbAddMRTTable(db_, "vnew", "nohost", 1), ZVDB_NO_TABLE_NAME);
    EXPECT_EQ(zvdbAddMRTTable(db_, nullptr, "cust", 1), ZVDB_NULL_ARGUMENT);
    // Without its definition in the host it cannot be opened: the entry
    // written for it goes again.
    EXPECT_NE(zvdbAddMRTTable(db_, "vnew", "cust", 1), 0);
    EXPECT_EQ(walk(db_->dict, ZVDBDICT_TABLE), before);
}

TEST_F(LinksTest, AMovedTableTakesItsLinksAlong) {
    ASSERT_EQ(_zvdbDictMoveTable(db_, "CUST", nullptr, "client", "client"), 0);
    ZVDBDICTENTRY e;
    EXPECT_EQ(_zvdbDictFindTable(db_, "cust", &e), 101);
    ASSERT_EQ(_zvdbDictFindTable(db_, "client", &e), 0);
    EXPECT_EQ(e.uid, cust_.uid);
    EXPECT_STREQ(e.physname, "client");
    EXPECT_STREQ(e.path, "db");
    ASSERT_EQ(_zvdbDictFindIndex(db_, "custno", &e), 0);
    EXPECT_STREQ(e.link, "client");
    for (const char *v : {"vcust0", "vcust2"}) {
        ASSERT_EQ(_zvdbDictFindTable(db_, v, &e), 0);
        EXPECT_STREQ(e.link, "client") << v;
    }
    EXPECT_EQ(_zvdbDictCheckMRTTable(db_, "client"), ZVDB_HAS_VTABLES);
    ASSERT_EQ(_zvdbDictFindIndex(db_, "orderno", &e), 0);
    EXPECT_STREQ(e.link, "orders");
    // With a path; refused onto a taken name, or without names.
    ASSERT_EQ(_zvdbDictMoveTable(db_, "client", "elsewhere", "client", "cl"), 0);
    ASSERT_EQ(_zvdbDictFindTable(db_, "client", &e), 0);
    EXPECT_STREQ(e.path, "elsewhere");
    EXPECT_STREQ(e.physname, "cl");
    EXPECT_EQ(_zvdbDictMoveTable(db_, "client", nullptr, "ORDERS", "orders"), ZVDB_TABLE_EXISTS);
    EXPECT_EQ(_zvdbDictMoveTable(db_, "nothing", nullptr, "x", "x"), 101);
    EXPECT_EQ(_zvdbDictMoveTable(db_, "client", nullptr, nullptr, "x"), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(_zvdbDictMoveTable(db_, "client", nullptr, "x", nullptr), ZVDB_NULL_ARGUMENT);
}

TEST_F(LinksTest, IndexEntriesFollowTheirTable) {
    // A rename in place keeps the UID; a taken name is refused.
    auto *t = static_cast<tagZVDBTABLE *>(zvdbAllocTable(db_));
    ASSERT_EQ(zvdbOpenTable(t, "cust", 0), 0);
    ZVDBDICTENTRY before, e;
    ASSERT_EQ(_zvdbDictFindIndex(db_, "custno", &before), 0);
    ASSERT_EQ(_zvdbDictUpdateIndexName(t, "custkey", "custno"), 0);
    ASSERT_EQ(_zvdbDictFindIndex(db_, "custkey", &e), 0);
    EXPECT_EQ(e.uid, before.uid);
    EXPECT_STREQ(e.physname, "custkey");
    EXPECT_EQ(_zvdbDictFindIndex(db_, "custno", &e), 101);
    EXPECT_EQ(_zvdbDictUpdateIndexName(t, "orderno", "custkey"), ZVDB_INDEX_NAME);
    EXPECT_EQ(_zvdbDictUpdateIndexName(t, "x", "absent"), 101);
    // The entries made to match the handles: "custkey" names no index of
    // the table, "custno" has no entry.
    ASSERT_EQ(_zvdbDictUpdateIndex(t), 0);
    EXPECT_EQ(walk(db_->dict, ZVDBDICT_INDEX), (Names{"custno", "orderno"}));
    ASSERT_EQ(_zvdbDictFindIndex(db_, "custno", &e), 0);
    EXPECT_EQ(e.linknbr, cust_.uid);
    EXPECT_EQ(zvdbGetIndex(t, 0) ? static_cast<tagZVDBINDEX *>(zvdbGetIndex(t, 0))->uid : 0u, e.uid);
    // Dropped one by one, or all of a table's.
    ASSERT_EQ(_zvdbDictAddFTI(t, "fulltext"), 0);
    ASSERT_EQ(_zvdbDictFindIndex(db_, "fulltext", &e), 0);
    EXPECT_STREQ(e.link, "cust");
    ASSERT_EQ(_zvdbDictDropIndex(db_, "FULLTEXT"), 0);
    EXPECT_EQ(_zvdbDictDropIndex(db_, "fulltext"), 101);
    ASSERT_EQ(_zvdbDictDropAllIndex(db_, "CUST"), 0);
    EXPECT_EQ(walk(db_->dict, ZVDBDICT_INDEX), Names{"orderno"});
    ASSERT_EQ(_zvdbDictAddAllIndex(t), 0);
    EXPECT_EQ(walk(db_->dict, ZVDBDICT_INDEX), (Names{"custno", "orderno"}));
    EXPECT_EQ(_zvdbDictAddIndex(t, 0), ZVDB_INDEX_NAME);
    EXPECT_EQ(_zvdbDictAddIndex(t, 5), ZVDB_NO_INDEX);
    zvdbFreeTable(t);
}

}  // namespace
