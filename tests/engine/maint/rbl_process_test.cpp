// A set rebuilt beside a set that another process made in the same second:
// the files of the two processes carry different ids, so the rebuild's new
// index files are not taken for the other set's open index files (957).
#include <ctime>
#include <string>

#include "tests/engine/maint/rblfix.h"
#include "tests/support/child.h"
#include "tests/support/verifyset.h"

namespace {

using rbltest::Kind;
using rbltest::RblSet;

class RblProcessTest : public rbltest::RblTest {};

TEST_F(RblProcessTest, ARebuildBesideASetAnotherProcessMadeInTheSameSecond) {
    bool same_second = false;
    for (int attempt = 0; attempt < 3 && !same_second; attempt++) {
        SCOPED_TRACE(attempt);
        RblSet mine(("mine" + std::to_string(attempt)).c_str(), Kind::Fixed);
        RblSet other(("other" + std::to_string(attempt)).c_str(), Kind::Fixed);
        const std::multiset<std::string> live = build(mine, 30);
        // Forked from this state, the other process draws file ids from
        // where this one stands, unless each process has ids of its own.
        const time_t start = time(nullptr);
        zvtest::ChildResult made = zvtest::run_in_child([&] {
            zvtest::ChildResult r;
            if (INTISAMX(16, 60, 4, 32, rbltest::kProfile) != 0) return r;
            r.rc = other.create() < 0 ? -1 : CLIFIL(&other.ifil);
            return r;
        });
        ASSERT_TRUE(made.ok);
        ASSERT_EQ(made.rc, 0);
        other.ifil.tfilno = -1;
        ASSERT_EQ(OPNIFIL(&other.ifil), 0);
        EXPECT_EQ(mine.rebuild(), 0) << status_log();
        same_second = time(nullptr) == start;
        EXPECT_EQ(CLIFIL(&other.ifil), 0);
        std::string verdict;
        EXPECT_EQ(contents(mine, &verdict), live);
        EXPECT_EQ(verdict, "");
        if (mine.ifil.tfilno >= 0) CLIFIL(&mine.ifil);
        EXPECT_TRUE(zvtest::verify_set(mine.dat()));
        if (HasFailure()) return;
    }
    EXPECT_TRUE(same_second) << "the other set and the rebuild never fell in the same second";
}

}  // namespace
