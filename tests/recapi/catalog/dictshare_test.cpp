// The dictionaries between processes: a connected process holds them only
// inside each of its operations, so that another process logs on,
// connects, makes databases and tables beside it, and each process reads
// what the others wrote at its next operation.
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child.h"
#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"

namespace {

// A session logged on in the current directory ("tester"), its dictionary
// made when missing.
ZVHANDLE logon() {
    ZVHANDLE s = zvdbAllocSession(0);
    int rc = zvdbLogon(s, nullptr, "tester", nullptr);
    if (rc == 12 && zvdbCreateSession(s, nullptr, nullptr, nullptr) == 0) rc = zvdbLogon(s, nullptr, "tester", nullptr);
    if (rc) {
        zvdbFreeSession(s);
        return nullptr;
    }
    return s;
}

// A table of one key field made in the connected database: 0 or the code.
int make_table(ZVHANDLE db, const std::string &name) {
    ZVHANDLE t = zvdbAllocTable(db);
    ZVHANDLE f = zvdbAddField(t, "id", ZV_INT4, 4);
    ZVHANDLE ix = zvdbAddIndex(t, ("by_" + name).c_str(), 0, 0, 0);
    int rc = f && ix && zvdbAddSegment(ix, f, 12) ? zvdbCreateTable(t, name.c_str(), 0) : -1;
    zvdbFreeTable(t);
    return rc;
}

// The names the public walk over the database's tables gives.
std::vector<std::string> tables(ZVHANDLE db) {
    std::vector<std::string> out;
    char name[64];
    for (int rc = zvdbFirstTable(db, name, sizeof name, nullptr, 0); rc == 0;
         rc = zvdbNextTable(db, name, sizeof name, nullptr, 0)) {
        out.emplace_back(name);
    }
    return out;
}

class DictShareTest : public zvtest::ZvTest {
protected:
    // The other process, in the test's directory: 1 logs on, makes the
    // database "shop" and its table "a" and stays logged on and connected
    // (the table closed); 2 makes the table "c" in it; 3 drops the table
    // "b"; 4 logs out.
    void SetUp() override {
        zvtest::ZvTest::SetUp();
        other_ = std::make_unique<zvtest::Peer>([this](int command) {
            zvtest::ChildResult r;
            switch (command) {
            case 1:
                if (!(s_ = logon())) return r.rc = -1, r;
                if ((r.rc = zvdbCreateDatabase(s_, "shop", "."))) return r;
                db_ = zvdbAllocDatabase(s_);
                if ((r.rc = zvdbConnect(db_, "shop"))) return r;
                r.rc = make_table(db_, "a");
                break;
            case 2: r.rc = make_table(db_, "c"); break;
            case 3: r.rc = zvdbDropTable(db_, "b"); break;
            case 4: r.rc = zvdbFreeSession(s_); break;
            }
            r.sys = zvGetSystemErrorCode();
            return r;
        });
    }
    void TearDown() override {
        other_.reset();
        zvtest::ZvTest::TearDown();
    }
    std::unique_ptr<zvtest::Peer> other_;
    ZVHANDLE s_ = nullptr, db_ = nullptr;
};

// A process that made the session dictionary's entry and a table and stays
// logged on and connected keeps nobody out: another process logs on,
// connects, makes a database and a table while it stays, and it makes one
// in its turn while the other stays.
TEST_F(DictShareTest, MakersKeepNobodyOutWhileTheyStayConnected) {
    ASSERT_EQ(other_->ask(1).rc, 0);
    ZVHANDLE s = logon();
    ASSERT_NE(s, nullptr);
    ZVHANDLE db = zvdbAllocDatabase(s);
    ASSERT_EQ(zvdbConnect(db, "shop"), 0);
    EXPECT_EQ(tables(db), std::vector<std::string>{"a"});
    EXPECT_EQ(make_table(db, "b"), 0);
    EXPECT_EQ(zvdbCreateDatabase(s, "depot", "."), 0);
    const zvtest::ChildResult made = other_->ask(2);
    EXPECT_EQ(made.rc, 0) << made.sys;
    // Read afresh at the next operation.
    EXPECT_EQ(tables(db), (std::vector<std::string>{"a", "b", "c"}));
    ZVHANDLE t = zvdbAllocTable(db);
    EXPECT_EQ(zvdbOpenTable(t, "c", 0), 0);
    zvdbFreeTable(t);
    EXPECT_EQ(zvdbGetDatabaseCount(s), 2);
    EXPECT_EQ(other_->ask(4).rc, 0);
    EXPECT_EQ(zvdbFreeDatabase(db), 0);
    EXPECT_EQ(zvdbFreeSession(s), 0);
}

// A walk over the tables goes on where it stood when another process
// changed the dictionary between two of its steps: an entry dropped ahead
// is not met, one made ahead is.
TEST_F(DictShareTest, AWalkGoesOnPastItsKeyAfterAnotherProcessChangedTheDictionary) {
    ASSERT_EQ(other_->ask(1).rc, 0);
    ZVHANDLE s = logon();
    ASSERT_NE(s, nullptr);
    ZVHANDLE db = zvdbAllocDatabase(s);
    ASSERT_EQ(zvdbConnect(db, "shop"), 0);
    ASSERT_EQ(make_table(db, "b"), 0);
    char name[64];
    ASSERT_EQ(zvdbFirstTable(db, name, sizeof name, nullptr, 0), 0);
    EXPECT_STREQ(name, "a");
    ASSERT_EQ(other_->ask(3).rc, 0);  // "b" dropped
    ASSERT_EQ(other_->ask(2).rc, 0);  // "c" made
    ASSERT_EQ(zvdbNextTable(db, name, sizeof name, nullptr, 0), 0);
    EXPECT_STREQ(name, "c");
    EXPECT_EQ(zvdbNextTable(db, name, sizeof name, nullptr, 0), 101);
    EXPECT_EQ(other_->ask(4).rc, 0);
    EXPECT_EQ(zvdbFreeDatabase(db), 0);
    EXPECT_EQ(zvdbFreeSession(s), 0);
}

}  // namespace
