// A table of a database altered: the index entries of the database's
// dictionary follow the indexes added and dropped in place, rebuilt, and
// the table copied.
#include "tests/recapi/catalog/catfix.h"

namespace {

using AlterDictTest = cattest::CustTest;

TEST_F(AlterDictTest, IndexEntriesFollowTheAlteration) {
    auto *t = static_cast<tagZVDBTABLE *>(zvdbAllocTable(db_));
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(zvdbOpenTable(t, "cust", 0), 0) << last();
    auto indexes = [this] { return walk(db_->dict, ZVDBDICT_INDEX); };
    auto add = [t](const char *name, const char *file) {
        ZVHANDLE ix = zvdbAddIndex(t, name, 0, 1, 0);
        ASSERT_NE(ix, nullptr);
        ASSERT_NE(zvdbAddSegment(ix, zvdbGetFieldByName(t, "name"), 12), nullptr);
        if (file) {
            ASSERT_EQ(zvdbSetIndexFilename(ix, nullptr, file), 0);
        }
    };
    // Added in place.
    add("byname", "custnm");
    ASSERT_EQ(zvdbAlterTable(t, 0), 0) << last();
    EXPECT_EQ(indexes(), (std::vector<std::string>{"byname", "custno"}));
    // Dropped in place, and one added in the table's index file (rebuilt).
    ASSERT_EQ(zvdbDelIndex(t, zvdbGetIndexNbrByName(t, "byname")), 0);
    add("names", nullptr);
    ASSERT_EQ(zvdbAlterTable(t, 0), 0) << last();
    EXPECT_EQ(indexes(), (std::vector<std::string>{"custno", "names"}));
    // Copied: the entries stay those of the table's indexes.
    ASSERT_EQ(zvdbAlterTable(t, 3), 0) << last();
    EXPECT_EQ(indexes(), (std::vector<std::string>{"custno", "names"}));
    ZVDBDICTENTRY e;
    ASSERT_EQ(_zvdbDictFindTable(db_, "cust", &e), 0);
    EXPECT_STREQ(e.physname, "cust");
    EXPECT_EQ(zvdbCloseTable(t), 0);
    zvdbFreeTable(t);
}

}  // namespace
