// The sort's work files of an encrypted set: while an index is loaded from
// runs on disk, none of its keys stands in a work file in clear; the work
// files of a plain set hold them as they are.
#include <filesystem>
#include <string>

#include "tests/engine/maint/rblfix.h"
#include "tests/support/fixture.h"

namespace {

using namespace rbltest;

struct Seen {
    int files = 0;      // work files met while the runs were on disk
    int clear = 0;      // of them, holding a key in clear
};
Seen g_seen;

// At the start of each load the runs of the key pass are on disk.
int look_at_work_files(uint32_t, int32_t code, const char *text) {
    if (code != 109 || std::string(text) != "Writing index file...") return 0;
    for (const auto &e : std::filesystem::directory_iterator(".")) {
        const std::string n = e.path().filename().string();
        if (n.rfind("sw", 0) != 0) continue;
        g_seen.files++;
        if (zvtest::read_file(n).find("Name0000") != std::string::npos) g_seen.clear++;
    }
    return 0;
}

class SortCryptTest : public RblTest {
protected:
    void SetUp() override {
        with_encryption();
        RblTest::SetUp();
    }
};

TEST_F(SortCryptTest, WorkFilesOfAnEncryptedSetHoldNoKeyInClear) {
    for (Kind k : {Kind::Fixed, Kind::Encrypted}) {
        SCOPED_TRACE(kind_name(k));
        RblSet s(k == Kind::Fixed ? "plain" : "secret", k);
        std::multiset<std::string> live = build(s, 400);
        zvSetRebuildMemory(1);  // a kilobyte: the keys go to runs on disk
        ASSERT_EQ(SETCBRBL(look_at_work_files, 1), 0);
        g_seen = Seen{};
        ASSERT_EQ(s.rebuild(), 0) << status_log();
        ASSERT_EQ(SETCBRBL(nullptr, 1), 0);
        zvSetRebuildMemory(0);
        EXPECT_GT(g_seen.files, 0) << "the runs went to disk";
        if (k == Kind::Encrypted) {
            EXPECT_EQ(g_seen.clear, 0);
        } else {
            EXPECT_GT(g_seen.clear, 0);
        }
        std::string verdict;
        EXPECT_EQ(contents(s, &verdict), live);
        EXPECT_EQ(verdict, "");
        CLIFIL(&s.ifil);
        for (const std::string &n : strays({s.dat(), s.idxfile(), s.nm()}))
            EXPECT_NE(n.rfind("sw", 0), 0u) << "a work file is left: " << n;
    }
}

}  // namespace
