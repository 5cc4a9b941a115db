// Table close and remove: the closed state, a close callback or an engine
// refusal that keeps the table open, a failing engine close after which the
// files are gone, and removal with its undo.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/platform.h"
#include "recapi/base/wrappers.h"
#include "recapi/schema/tablefile.h"
#include "tests/recapi/schema/custfix.h"

namespace {

using Names = std::vector<std::string>;

class TableCloseTest : public schematest::CustTest {
protected:
    void create_and_open() {
        cust();
        ASSERT_EQ(zvdbCreateTable(table_, "cust", 0), 0) << last();
        ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
        ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
    }
    // The table is open on its files with its handles.
    void expect_open(int datno) {
        EXPECT_EQ(zvdbIsActiveTable(table_), 1);
        EXPECT_EQ(zvdbGetDatno(table_), datno);
        EXPECT_EQ(zvdbGetTableFieldCount(table_), 3);
        EXPECT_EQ(zvdbGetTableIndexCount(table_), 2);
        EXPECT_EQ(GETFIL(datno, 0), 44);
    }
};

TEST_F(TableCloseTest, CloseResetsTheHandle) {
    create_and_open();
    const int datno = table_->datno;
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    EXPECT_EQ(zvdbIsActiveTable(table_), 0);
    EXPECT_STREQ(zvdbGetTableName(table_), "table");
    EXPECT_STREQ(zvdbGetTablePath(table_), "");
    EXPECT_EQ(zvdbGetTableFieldCount(table_), 0);
    EXPECT_EQ(zvdbGetTableIndexCount(table_), 0);
    EXPECT_EQ(table_->ifil, nullptr);
    EXPECT_EQ(table_->doda, nullptr);
    EXPECT_LT(GETFIL(datno, 0), 0);
    mark();
    EXPECT_EQ(zvdbGetDatno(table_), -1);
    EXPECT_EQ(last(), ZVDB_NOT_ACTIVE);
    // Closing a closed table, or no table, changes nothing.
    mark();
    EXPECT_EQ(zvdbCloseTable(table_), 0);
    EXPECT_EQ(zvdbCloseTable(nullptr), 0);
    EXPECT_EQ(last(), 7777);
    EXPECT_EQ(zvdbCloseAll(session_), 0);
}

int32_t g_close_answer = 0;
ZVDBRET refuse_close(ZVHANDLE, int32_t) { return g_close_answer; }

TEST_F(TableCloseTest, ACloseCallbackThatRefusesKeepsTheTableOpen) {
    create_and_open();
    const int datno = table_->datno;
    ASSERT_EQ(zvdbSetCallback(table_, 11, reinterpret_cast<ZVDB_CALLBACK>(&refuse_close)), 0);
    for (int32_t answer : {817, 4444}) {
        SCOPED_TRACE(answer);
        g_close_answer = answer;
        mark();
        EXPECT_EQ(zvdbCloseTable(table_), answer);
        EXPECT_EQ(last(), answer);
        expect_open(datno);
    }
    g_close_answer = 0;
    EXPECT_EQ(zvdbCloseTable(table_), 0);
    EXPECT_EQ(zvdbIsActiveTable(table_), 0);
}

TEST_F(TableCloseTest, FreeingATableWhoseCloseWasRefusedClosesItsFiles) {
    create_and_open();
    const int datno = table_->datno;
    g_close_answer = 4444;
    ASSERT_EQ(zvdbSetCallback(table_, 11, reinterpret_cast<ZVDB_CALLBACK>(&refuse_close)), 0);
    EXPECT_EQ(zvdbFreeTable(table_), nullptr);
    table_ = nullptr;
    g_close_answer = 0;
    EXPECT_LT(GETFIL(datno, 0), 0);
    EXPECT_LT(GETFIL(datno + 1, 0), 0);
}

TEST_F(TableCloseTest, AFailedEngineCloseLeavesTheHandleWithTheFiles) {
    create_and_open();
    const int datno = table_->datno;
    expect_failed_close([&] { return zvdbCloseTable(table_); });
    EXPECT_STREQ(zvdbGetTableName(table_), "table");
    EXPECT_LT(GETFIL(datno, 0), 0);
    EXPECT_LT(GETFIL(datno + 1, 0), 0);
}

TEST_F(TableCloseTest, RemoveDeletesTheFilesOfAnOpenTable) {
    create_and_open();
    ASSERT_EQ(files(), (Names{"cust.dat", "cust.idx"}));
    ASSERT_EQ(zvdbRemoveTable(table_), 0);
    EXPECT_EQ(files(), Names{});
    EXPECT_EQ(zvdbIsActiveTable(table_), 0);
    EXPECT_STREQ(zvdbGetTableName(table_), "table");
    EXPECT_EQ(zvdbRemoveTable(nullptr), ZVDB_NO_TABLE);
}

// Whether the engine opens the file of that name (and closes it again).
bool opens(const char *name) {
    const int f = AVLFILNUM(1);
    const int rc = OPNFIL(f, name, 0);
    if (rc == 0) CLSFIL(f, 0);
    return rc == 0;
}

// The files of a table in a superfile host are members of the host: they
// go one by one, and the host keeps the other members.
TEST_F(TableCloseTest, RemoveDeletesTheMembersOfATableInAHost) {
    cust();
    ASSERT_EQ(zvdbSetTablePath(table_, "host.sup!"), 0);
    ASSERT_EQ(zvdbCreateTable(table_, "cust", 0), 0) << last();
    std::unique_ptr<void, ZVHANDLE (*)(ZVHANDLE)> owner(zvdbAllocTable(session_), zvdbFreeTable);
    ZVHANDLE keep = owner.get();
    ASSERT_NE(zvdbAddField(keep, "x", ZV_INT4, 4), nullptr);
    ASSERT_NE(zvdbAddIndex(keep, "byx", 0, 0, 0), nullptr);
    ASSERT_NE(zvdbAddSegmentByNbr(keep, 0, 0, 12), nullptr);
    ASSERT_EQ(zvdbSetTablePath(keep, "host.sup!"), 0);
    ASSERT_EQ(zvdbCreateTable(keep, "keep", 0), 0) << last();
    ASSERT_EQ(zvdbSetTablePath(table_, "host.sup!"), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
    ASSERT_TRUE(opens("host.sup!cust.idx"));
    ASSERT_EQ(zvdbRemoveTable(table_), 0) << last();
    EXPECT_FALSE(opens("host.sup!cust.dat"));
    EXPECT_FALSE(opens("host.sup!cust.idx"));
    EXPECT_TRUE(opens("host.sup!keep.dat"));
    ASSERT_EQ(zvdbSetTablePath(keep, "host.sup!"), 0);
    ASSERT_EQ(zvdbOpenTable(keep, "keep", 0), 0) << last();
    ASSERT_EQ(zvdbRemoveTable(keep), 0) << last();
    EXPECT_FALSE(opens("host.sup!keep.dat"));
    EXPECT_EQ(files(), Names{"host.sup"});
}

TEST_F(TableCloseTest, AFailedRemoveReopensTheFiles) {
    create_and_open();
    zv::fault_set(zv::IoKind::Unlink, 1, EACCES, true);
    const int rc = zvdbRemoveTable(table_);
    zv::fault_reset();
    EXPECT_NE(rc, 0);
    EXPECT_EQ(files(), (Names{"cust.dat", "cust.idx"}));
    ASSERT_EQ(zvdbIsActiveTable(table_), 1);
    expect_open(table_->datno);
    EXPECT_EQ(zvdbGetIdxno(zvdbGetIndex(table_, 0)), table_->datno + 3);
    EXPECT_EQ(zvdbCloseTable(table_), 0);
}

TEST_F(TableCloseTest, RemovingAFullTextIndexReopensTheFiles) {
    create_and_open();
    mark();
    EXPECT_EQ(_zvdbRemoveFTI(table_, 0, -1), 454);
    EXPECT_EQ(last(), 454);
    ASSERT_EQ(zvdbIsActiveTable(table_), 1);
    expect_open(table_->datno);
    EXPECT_EQ(zvdbGetIdxno(zvdbGetIndex(table_, 1)), table_->datno + 4);
    EXPECT_EQ(zvdbCloseTable(table_), 0);
}

}  // namespace
