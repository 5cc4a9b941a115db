// Renaming file sets: a set renamed whole with its own index files, the
// default index file name, and the swap of a new set into a table's place,
// also under a failing rename or write at every step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/core/platform.h"
#include "recapi/base/wrappers.h"
#include "recapi/schema/tablemove.h"
#include "tests/recapi/schema/maintfix.h"

namespace {

using Names = std::vector<std::string>;

class TableMoveTest : public schematest::MaintTest {};

TEST_F(TableMoveTest, ASetIsRenamedWithTheIndexFilesNamedForIt) {
    make_cust(true, 0, 1);
    add(table_, 0, 5);
    const char *olds[] = {"./cust_nm.idx"};
    const char *news[] = {"./other_nm.idx"};
    EXPECT_EQ(_zvdbRenameTable(table_, "./other", olds, news, 1), 0);
    EXPECT_EQ(files(), (Names{"other.dat", "other.idx", "other_nm.idx"}));
    EXPECT_TRUE(holds(table_, range(0, 5)));
    // A name taken by another file renames nothing.
    zvtest::write_file("taken.dat", "x");
    const char *taken[] = {"./taken_nm.idx"};
    EXPECT_EQ(_zvdbRenameTable(table_, "./taken", news, taken, 1), 67);
    EXPECT_EQ(files(), (Names{"other.dat", "other.idx", "other_nm.idx", "taken.dat"}));
    EXPECT_EQ(_zvdbRenameTable(table_, nullptr, nullptr, nullptr, 0), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(_zvdbRenameTable(session_, "./x", nullptr, nullptr, 0), ZVDB_NO_TABLE);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    EXPECT_EQ(_zvdbRenameTable(table_, "./x", nullptr, nullptr, 0), ZVDB_NOT_ACTIVE);
    // The stored definition names the renamed files.
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "other", 0), 0) << last();
    EXPECT_TRUE(holds(table_, range(0, 5)));
    EXPECT_STREQ(table_->ifil->iidxarr[3].aidxnam, "./other_nm.idx");
}

TEST_F(TableMoveTest, TheDefaultIndexNameIsAMarkAndTheIndexExtension) {
    char buf[8];
    EXPECT_EQ(_zvdbDefaultIndexName(table_, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "?.idx");
    EXPECT_EQ(zvdbSetIndexExtension(table_, ".ix2"), 0);
    EXPECT_EQ(_zvdbDefaultIndexName(table_, buf, 6), 0);
    EXPECT_STREQ(buf, "?.ix2");
    EXPECT_EQ(_zvdbDefaultIndexName(table_, buf, 5), ZVDB_BUFFER_SMALL);
    EXPECT_EQ(_zvdbDefaultIndexName(table_, nullptr, 8), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(_zvdbDefaultIndexName(nullptr, buf, 8), ZVDB_NO_TABLE);
}

// The cust table (own index file "cust_nm.idx") with records 0..9, and a
// second set made from its definition under working names, with records
// 100..102.
class SwapTest : public schematest::MaintTest {
protected:
    void SetUp() override {
        MaintTest::SetUp();
        make_cust(true, 0, 1);
        add(table_, 0, 10);
        fresh_ = static_cast<tagZVDBTABLE *>(zvdbAllocTable(session_));
        ASSERT_NE(fresh_, nullptr);
        char *work = _zvdbTemporaryName(table_);
        ASSERT_NE(work, nullptr);
        work_ = work;
        _zvdb_free(work);
        ASSERT_EQ(_zvdbCreateTemporary(table_, fresh_, work_.c_str(), olds_, news_, 1, 0), 0) << last();
        ASSERT_EQ(olds_[0], nullptr);
        ASSERT_NE(olds_[1], nullptr);
        add(fresh_, 100, 103);
    }
    void TearDown() override {
        for (char *p : {olds_[0], olds_[1], news_[0], news_[1]}) _zvdb_free(p);
        zvdbFreeTable(fresh_);
        MaintTest::TearDown();
    }
    ZVDBRET swap(bool *placed) {
        const char *olds[] = {olds_[0], olds_[1]};
        const char *news[] = {news_[0], news_[1]};
        return zv::swap_table_files(table_, fresh_, olds, news, 2, placed);
    }
    // Opens a table by name on handle t (closed first), exclusively.
    static int reopen(tagZVDBTABLE *t, const std::string &name) {
        zvdbCloseTable(t);
        if (int rc = zvdbSetTablePath(t, ".")) return rc;
        return zvdbOpenTable(t, name.c_str(), 1);
    }

    tagZVDBTABLE *fresh_ = nullptr;
    std::string work_;
    char *olds_[2] = {}, *news_[2] = {};
};

TEST_F(SwapTest, TheNewSetTakesTheTablesNamesAndTheOldOneGoes) {
    EXPECT_STREQ(olds_[1], "./cust_nm.idx");
    EXPECT_EQ(files().size(), 6u);
    bool placed = false;
    ASSERT_EQ(swap(&placed), 0);
    EXPECT_TRUE(placed);
    EXPECT_EQ(files(), (Names{"cust.dat", "cust.idx", "cust_nm.idx"}));
    EXPECT_EQ(table_->datno, -1);
    // The new set stays open under its new names until its handle closes.
    EXPECT_STREQ(fresh_->physname, "cust");
    EXPECT_STREQ(zvdbGetIndexFilename(zvdbGetIndex(fresh_, 1)), "./cust_nm.idx");
    EXPECT_TRUE(holds(fresh_, range(100, 103)));
    EXPECT_EQ(zvdbCloseTable(fresh_), 0);
    ASSERT_EQ(reopen(table_, "cust"), 0) << last();
    EXPECT_TRUE(holds(table_, range(100, 103)));
    EXPECT_STREQ(table_->ifil->iidxarr[3].aidxnam, "./cust_nm.idx");
    EXPECT_EQ(zv::swap_table_files(table_, nullptr, nullptr, nullptr, 0, nullptr), ZVDB_NO_TABLE);
    EXPECT_EQ(zv::swap_table_files(table_, fresh_, nullptr, nullptr, 0, nullptr), ZVDB_NOT_ACTIVE);
}

// Fail the nth link, rename, delete or write of the swap once, for every n
// the swap reaches: after each failure the table's name holds the old records
// or the new ones whole, and while the new set is not in place it is whole
// under its working name.
TEST_F(SwapTest, AFailureAtAnyStepLosesNeitherSet) {
    ASSERT_EQ(zvdbCloseTable(fresh_), 0);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    zvtest::save_template();
    const std::vector<int32_t> old_ids = range(0, 10), new_ids = range(100, 103);
    // Each old file keeps a second name (a link; a failed link falls back
    // on parking it by a rename, failed as well) and the new file is
    // renamed over it; the marks are header writes. A failed removal of a
    // second name at the end fails nothing: the removal is tried again.
    const zv::IoKind kinds[] = {zv::IoKind::Link, zv::IoKind::Rename, zv::IoKind::Unlink, zv::IoKind::Write};
    const int least_failures[] = {2, 2, 0, 2};
    long calls[4] = {};
    ASSERT_EQ(reopen(table_, "cust"), 0) << last();
    ASSERT_EQ(reopen(fresh_, work_), 0) << last();
    zv::fault_reset();
    ASSERT_EQ(swap(nullptr), 0);
    for (int k = 0; k < 4; k++) calls[k] = zv::io_calls(kinds[k]);
    zvdbCloseTable(fresh_);
    zvdbCloseTable(table_);
    for (int k = 0; k < 4; k++) {
        int failures = 0;
        for (long n = 1; n <= calls[k]; n++) {
            SCOPED_TRACE(std::to_string(k) + " #" + std::to_string(n));
            back_to_template();
            ASSERT_EQ(reopen(table_, "cust"), 0) << last();
            ASSERT_EQ(reopen(fresh_, work_), 0) << last();
            zv::fault_reset();
            zv::fault_set(kinds[k], n, EIO);
            if (kinds[k] == zv::IoKind::Link) zv::fault_set(zv::IoKind::Rename, 1, EIO, true);
            bool placed = false;
            const ZVDBRET rc = swap(&placed);
            zv::fault_reset();
            failures += rc != 0;
            zvdbCloseTable(fresh_);
            zvdbCloseTable(table_);
            ASSERT_EQ(reopen(table_, "cust"), 0) << last();
            const bool old_set = holds(table_, old_ids);
            EXPECT_TRUE(old_set || holds(table_, new_ids));
            EXPECT_EQ(old_set, !placed);
            if (!placed) {
                EXPECT_NE(rc, 0);
                ASSERT_EQ(reopen(fresh_, work_), 0) << last();
                EXPECT_TRUE(holds(fresh_, new_ids));
            }
            if (rc == 0) {
                EXPECT_EQ(files(), (Names{"cust.dat", "cust.idx", "cust_nm.idx"}));
            }
            zvdbCloseTable(fresh_);
            zvdbCloseTable(table_);
        }
        EXPECT_GE(failures, least_failures[k]);
    }
}

// Moving and renaming closed tables.
class MoveTest : public schematest::MaintDbTest {
protected:
    // The files of the database directory but its dictionary's, sorted.
    static Names table_files() {
        Names out;
        for (const std::string &f : cattest_listing("db")) {
            if (f.find(".qdd") == std::string::npos) out.push_back(f);
        }
        return out;
    }
    static Names cattest_listing(const std::string &dir) {
        Names out;
        for (const auto &e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    // Whole contents of the table's files in the database directory.
    static std::map<std::string, std::string> snapshot() {
        std::map<std::string, std::string> out;
        for (const std::string &f : table_files()) out[f] = zvtest::read_file("db/" + f);
        return out;
    }
    // The table of that name, its files, its index entries and its records,
    // all there, and nothing of the other name (the handle left closed): the
    // name is where the table lives.
    void expect_table_at(const std::string &name, const std::string &other, const std::vector<int32_t> &ids) {
        ZVDBDICTENTRY e{};
        ASSERT_EQ(table_entry(name.c_str(), &e), 0) << name;
        EXPECT_EQ(std::string(e.name), name);
        EXPECT_EQ(std::string(e.physname), name);
        EXPECT_EQ(table_entry(other.c_str(), &e), 101) << other;
        for (const std::string &f : {name + ".dat", name + ".idx", name + "_nm.idx"}) {
            EXPECT_TRUE(std::filesystem::exists("db/" + f)) << f;
        }
        for (const std::string &f : {other + ".dat", other + ".idx", other + "_nm.idx"}) {
            EXPECT_FALSE(std::filesystem::exists("db/" + f)) << f;
        }
        for (const std::string &ix : {std::string("custno"), name + "_nm"}) {
            ASSERT_EQ(index_entry(ix.c_str(), &e), 0) << ix;
            EXPECT_EQ(std::string(e.link), name) << ix;
        }
        EXPECT_EQ(index_entry((other + "_nm").c_str(), &e), 101);
        ASSERT_EQ(zvdbOpenTable(table_, name.c_str(), 0), 0) << last();
        EXPECT_STREQ(zvdbGetIndexName(zvdbGetIndex(table_, 1)), (name + "_nm").c_str());
        EXPECT_TRUE(holds(table_, ids));
        EXPECT_EQ(zvdbCloseTable(table_), 0);
    }
};

TEST_F(MoveTest, ARenamedTableTakesItsDependentIndexFileAndEntries) {
    make_db_cust();
    add(table_, 0, 20);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    EXPECT_EQ(table_files(), (Names{"cust.dat", "cust.idx", "cust_nm.idx"}));
    ASSERT_EQ(zvdbRenameTable(db_, "cust", "client"), 0) << last();
    EXPECT_EQ(table_files(), (Names{"client.dat", "client.idx", "client_nm.idx"}));
    expect_table_at("client", "cust", range(0, 20));
    EXPECT_EQ(zvdbOpenTable(table_, "cust", 0), ZVDB_NO_TABLE_NAME);
}

TEST_F(MoveTest, RefusalsComeBeforeAnyFileChanges) {
    make_db_cust();
    add(table_, 0, 5);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    ZVHANDLE other = zvdbAllocTable(db_);
    ASSERT_NE(zvdbAddField(other, "x", ZV_INT4, 0), nullptr);
    ASSERT_EQ(zvdbCreateTable(other, "other", 0), 0);
    zvdbFreeTable(other);
    const auto before = snapshot();
    EXPECT_EQ(zvdbRenameTable(db_, "cust", "other"), ZVDB_TABLE_EXISTS);
    EXPECT_EQ(zvdbMoveTable(db_, "cust", nullptr, nullptr), ZVDB_BAD_KIND);
    EXPECT_EQ(zvdbRenameTable(db_, nullptr, "x"), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbRenameTable(db_, "nosuch", "x"), ZVDB_NO_TABLE_NAME);
    EXPECT_EQ(zvdbRenameTable(db_, "cust", std::string(129, 'x').c_str()), ZVDB_BUFFER_SMALL);
    EXPECT_TRUE(snapshot() == before);
    ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0);
    EXPECT_EQ(zvdbRenameTable(table_, "cust", "x"), ZVDB_ACTIVE);
    EXPECT_EQ(zvdbCloseTable(table_), 0);
    expect_table_at("cust", "x", range(0, 5));
    EXPECT_EQ(zvdbRenameTable(nullptr, "cust", "x"), ZVDB_NO_SESSION);
    ASSERT_EQ(zvdbDisconnect(db_), 0);
    EXPECT_EQ(zvdbRenameTable(db_, "cust", "x"), ZVDB_NOT_ACTIVE);
}

// Fail the nth rename, delete or write of a rename once, for every n a
// rename reaches, renaming back and forth: after each failure the table
// lives under exactly one of the names (the old one), whole: its entry,
// its index entries, its files and its records.
TEST_F(MoveTest, AFailedRenameLeavesTheTableWholeUnderOneName) {
    make_db_cust();
    add(table_, 0, 20);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    const zv::IoKind kinds[] = {zv::IoKind::Link, zv::IoKind::Unlink, zv::IoKind::Write};
    long calls[3] = {};
    zv::fault_reset();
    ASSERT_EQ(zvdbRenameTable(db_, "cust", "client"), 0) << last();
    for (int k = 0; k < 3; k++) calls[k] = zv::io_calls(kinds[k]);
    std::string at = "client";
    for (int k = 0; k < 3; k++) {
        int failures = 0;
        for (long n = 1; n <= calls[k]; n++) {
            SCOPED_TRACE(std::to_string(k) + " #" + std::to_string(n) + " from " + at);
            const std::string to = at == "cust" ? "client" : "cust";
            zv::fault_reset();
            zv::fault_set(kinds[k], n, EIO);
            if (kinds[k] == zv::IoKind::Link) zv::fault_set(zv::IoKind::Rename, 1, EIO, true);
            const ZVDBRET rc = zvdbRenameTable(db_, at.c_str(), to.c_str());
            zv::fault_reset();

            failures += rc != 0;
            // A failure leaves the table under one name, the dictionary's.
            ZVDBDICTENTRY e{};
            if (rc == 0 || table_entry(to.c_str(), &e) == 0) at = to;
            expect_table_at(at, at == "cust" ? "client" : "cust", range(0, 20));
        }
        EXPECT_GE(failures, 2);
    }
}

TEST_F(TableMoveTest, AFreeTableMovedToAnotherDirectoryOpensThere) {
    make_cust(true);
    add(table_, 0, 8);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    std::filesystem::create_directory("sub");
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    ASSERT_EQ(zvdbMoveTable(table_, "cust", "sub", nullptr), 0) << last();
    EXPECT_EQ(files(), Names{});
    ASSERT_EQ(zvdbSetTablePath(table_, "sub"), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
    EXPECT_TRUE(holds(table_, range(0, 8)));
    EXPECT_STREQ(table_->ifil->iidxarr[3].aidxnam, "sub/cust_nm.idx");
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    // A session handle takes directory and extension from the name.
    ASSERT_EQ(zvdbRenameTable(session_, "sub/cust.dat", "moved"), 0) << last();
    ASSERT_EQ(zvdbSetTablePath(table_, "sub"), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "moved", 0), 0) << last();
    EXPECT_TRUE(holds(table_, range(0, 8)));
    EXPECT_STREQ(zvdbGetIndexName(zvdbGetIndex(table_, 1)), "moved_nm");
}

}  // namespace
