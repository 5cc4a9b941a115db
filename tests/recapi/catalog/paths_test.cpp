// File paths of table entries, the registration of existing files by the
// database's extension hint, and the dump of the dictionaries.
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/recapi/catalog/catfix.h"

namespace {

using cattest::CatalogTest;

TEST(TableMakePath, JoinsDirectoryPhysicalNameAndExtension) {
    struct Case {
        const char *path;
        const char *want;
    };
    const Case cases[] = {{"host!", "host!cust.dat"}, {"dir/", "dir/cust.dat"}, {"dir", "dir/cust.dat"}, {"", "cust.dat"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        ZVDBDICTENTRY e{};
        std::snprintf(e.name, sizeof e.name, "Customers");
        std::snprintf(e.physname, sizeof e.physname, "cust");
        std::snprintf(e.datext, sizeof e.datext, ".dat");
        std::snprintf(e.path, sizeof e.path, "%s", c.path);
        char name[16], path[32];
        const int32_t fits = int32_t(std::strlen(c.want)) + 1;
        ASSERT_EQ(_zvdbTableMakePath(&e, name, sizeof name, path, fits, '/'), 0);
        EXPECT_STREQ(path, c.want);
        EXPECT_STREQ(name, "Customers");
        EXPECT_EQ(_zvdbTableMakePath(&e, nullptr, 0, path, fits - 1, '/'), ZVDB_BUFFER_SMALL);
        EXPECT_EQ(_zvdbTableMakePath(&e, name, 9, nullptr, 0, '/'), ZVDB_BUFFER_SMALL);
    }
    EXPECT_EQ(_zvdbTableMakePath(nullptr, nullptr, 0, nullptr, 0, '/'), ZVDB_NULL_ARGUMENT);
}

class HintTest : public CatalogTest {
protected:
    void SetUp() override {
        CatalogTest::SetUp();
        db_ = connect();
        ASSERT_NE(db_, nullptr);
        // Existing files without indexes of their own: db/f.dat,
        // db/g.xyz, db/h (no extension: made as h.dat and renamed).
        for (auto [name, ext] : {std::pair{"f", ".dat"}, std::pair{"g", ".xyz"}, std::pair{"h", ".dat"}}) {
            ZVHANDLE t = zvdbAllocTable(session_);
            ASSERT_EQ(zvdbSetTablePath(t, "db"), 0);
            ASSERT_EQ(zvdbSetTableExtension(t, ext), 0);
            ASSERT_NE(zvdbAddField(t, "k", ZV_INT4, 4), nullptr);
            ASSERT_EQ(zvdbCreateTable(t, name, 0), 0);
            zvdbFreeTable(t);
        }
        std::filesystem::rename("db/h.dat", "db/h");
    }
    tagZVDBDATABASE *db_ = nullptr;
};

TEST_F(HintTest, TheExtensionHintSaysHowNamesAreTaken) {
    struct Case {
        uint32_t hint;
        const char *logical, *file, *path;
        const char *name, *physname, *datext, *dir;
    };
    const Case cases[] = {
        {0, "x/One.abc", "db/f.dat", nullptr, "One", "f", ".dat", "db"},
        {0, "Two", "f", "db", "Two", "f", ".dat", "db"},
        {1, "Three", "g.xyz", "db", "Three", "g", ".xyz", "db"},
        {1, "Four", "h", "db", "Four", "h", "", "db"},
        {2, "a/Five", "f", "db", "a/Five", "f", ".dat", "db"},
        {3, "a/Six.q", "f", "db", "Six", "f", ".dat", "db"},
        {4, "a/Seven.q", "db/g.xyz", nullptr, "a/Seven.q", "g", ".xyz", "db"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        db_->exthint = c.hint;
        ASSERT_EQ(zvdbAddTableXtd(db_, c.logical, c.file, c.path), 0);
        ZVDBDICTENTRY e;
        ASSERT_EQ(_zvdbDictFindTable(db_, c.name, &e), 0);
        EXPECT_STREQ(e.physname, c.physname);
        EXPECT_STREQ(e.datext, c.datext);
        EXPECT_STREQ(e.path, c.dir);
    }
    db_->exthint = 5;
    EXPECT_EQ(zvdbAddTableXtd(db_, "Eight", "f", "db"), ZVDB_BAD_MODE);
    db_->exthint = 0;
    // Taken names, missing files and arguments.
    EXPECT_EQ(zvdbAddTableXtd(db_, "ONE", "f", "db"), ZVDB_TABLE_EXISTS);
    EXPECT_EQ(zvdbAddTable(db_, "nofile", "db"), 12);
    EXPECT_EQ(zvdbAddTableXtd(db_, nullptr, "f", "db"), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbAddTableXtd(session_, "x", "f", "db"), ZVDB_NO_DATABASE);
    EXPECT_EQ(zvdbGetTableCount(db_), 7);
}

TEST_F(CatalogTest, TheDumpListsBothDictionariesInNameOrder) {
    tagZVDBDATABASE *db = connect();
    ASSERT_EQ(make_table(db, "cust", "custno"), 0);
    ASSERT_EQ(_zvdbDumpDict(db), 0);
    const std::string head =
        "TYPE STAT LOGICAL NAME                             LINK                                     LNBR PATH    "
        "                                 SUPEXT    DATEXT    IDXEXT    VERSION  CNT  UID PHYSICAL NAME         "
        "                  \n";
    const std::string rule = std::string(181, '-') + "\n";
    const std::string want =
        "Session dictionary\n" + head + rule +
        "0001 0000 Sales                                                                                0 db     "
        "                                  .qdd                          00010000 0000 0998 Sales                 "
        "                  \n" +
        rule + "Database dictionary\n" + head + rule +
        "0002 0000 cust                                                                                 0 db     "
        "                                            .dat      .idx      00010000 0000 0998 cust                  "
        "                  \n"
        "0003 0000 custno                                   cust                                      998        "
        "                                                                00010000 0000 0999 custno                "
        "                  \n" +
        rule;
    EXPECT_EQ(zvtest::read_file("zvdbdict.txt"), want);
    // The session alone.
    ASSERT_EQ(_zvdbDumpDict(session_), 0);
    EXPECT_EQ(zvtest::lines_of(zvtest::read_file("zvdbdict.txt")).size(), 5u);
    // A link found under the dump's name is not written through, nor is a
    // FIFO waited on: the dump fails and the link's target stays as it was.
    std::filesystem::remove("zvdbdict.txt");
    zvtest::write_file("outside", "kept");
    std::filesystem::create_symlink("outside", "zvdbdict.txt");
    EXPECT_NE(_zvdbDumpDict(session_), 0);
    EXPECT_EQ(zvtest::read_file("outside"), "kept");
    std::filesystem::remove("zvdbdict.txt");
    ASSERT_EQ(mkfifo("zvdbdict.txt", 0600), 0);
    EXPECT_NE(_zvdbDumpDict(session_), 0);
}

}  // namespace
