// Logon and logout, session creation, the session dictionary's open at
// logon, the logon and logout callbacks, attach and detach, and the
// self-contained table registration.
#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "recapi/base/session.h"
#include "recapi/catalog/dict_standin.h"
#include "tests/recapi/base/basefix.h"
#include "zarvo/zarvo.h"

namespace {

using basetest::instance_name_of;
using basetest::engine_running;
using basetest::file_open;
using basetest::SessionTest;

// What the dictionary stand-in was asked, and what it answers.
struct DictCall {
    std::string name;
    int exclusive;
    int trysuper;
};
std::vector<DictCall> g_opens;
std::deque<int> g_open_answers;  // empty: 0
std::vector<std::string> g_creates;
int g_create_answer = 0;

int open_hook(const char *name, int exclusive, int trysuper) {
    g_opens.push_back({name, exclusive, trysuper});
    if (g_open_answers.empty()) return 0;
    int rc = g_open_answers.front();
    g_open_answers.pop_front();
    return rc;
}

int create_hook(const char *name, int) {
    g_creates.push_back(name);
    return g_create_answer;
}

const zv::DictStandInHooks kHooks = {open_hook, create_hook};

class LogonTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        g_opens.clear();
        g_open_answers.clear();
        g_creates.clear();
        g_create_answer = 0;
        zv::set_dict_standin_hooks(&kHooks);
    }
};

TEST_F(LogonTest, LogonStartsTheEngineInTheSessionsOwnInstance) {
    tagZVDBSESSION *s = alloc(1);
    ASSERT_NE(s, nullptr);
    const std::string name = instance_name_of(s);
    ASSERT_EQ(zvdbSetSessionParams(s, 2, 40), 0);
    ASSERT_EQ(zvdbLogon(s, "srv", "usr", "pw"), 0);
    EXPECT_EQ(zvdbIsActiveSession(s), 1);
    EXPECT_STREQ(WCHZARVO(), name.c_str());
    EXPECT_TRUE(engine_running());
    EXPECT_NE(SETOPS(0, 3) & 0x2000000, 0);
    // Keys sort by value: the profile has 0x21, the parameter stays as set.
    EXPECT_EQ(zvWNGV->userprof & 0x21, 0x21);
    EXPECT_EQ(zvdbGetSessionParams(s, 5), 513);
    EXPECT_EQ(zvdbGetSessionParams(s, 2), 40);
    EXPECT_STREQ(zvdbGetServerName(s), "srv");
    EXPECT_STREQ(zvdbGetUserLogonName(s), "usr");
    EXPECT_STREQ(zvdbGetUserPassword(s), "pw");
    EXPECT_TRUE(g_opens.empty());  // logon-only: no dictionary

    EXPECT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), ZVDB_ACTIVE);
    EXPECT_EQ(zvdbGetError(s), ZVDB_ACTIVE);
    EXPECT_EQ(zvdbSetTempPath(s, "t"), ZVDB_ACTIVE);

    ASSERT_EQ(CREDAT(3, "kept.dat", 16, 0, 0), 0);
    ASSERT_TRUE(file_open(3));
    ASSERT_EQ(zvdbSetSessionPath(s, "dir"), 0);
    ASSERT_EQ(zvdbSetDefFloatFormat(s, "%.1f"), 0);

    ASSERT_EQ(zvdbLogout(s), 0);
    EXPECT_EQ(zvdbIsActiveSession(s), 0);
    EXPECT_EQ(zvdbGetServerName(s), nullptr);
    EXPECT_EQ(zvdbGetUserLogonName(s), nullptr);
    EXPECT_EQ(zvdbGetUserPassword(s), nullptr);
    EXPECT_EQ(zvdbGetSessionParams(s, 2), 32);
    EXPECT_STREQ(zvdbGetDefFloatFormat(s), "%g");
    char path[8] = "x";
    EXPECT_EQ(zvdbGetSessionPath(s, path, sizeof path), 0);
    EXPECT_STREQ(path, "");
    EXPECT_NE(GETZARVO(name.c_str()), nullptr);
    EXPECT_STREQ(WCHZARVO(), name.c_str());
    EXPECT_FALSE(engine_running());
    EXPECT_EQ(zvdbLogout(s), ZVDB_NOT_ACTIVE);
    EXPECT_EQ(zvdbGetError(s), ZVDB_NOT_ACTIVE);

    // Again: the credentials stay empty, the file was closed by the stop.
    ASSERT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(zvdbGetServerName(s), nullptr);
    EXPECT_FALSE(file_open(3));
    EXPECT_EQ(OPNFIL(3, "kept.dat", 0), 0);
    EXPECT_EQ(CLSFIL(3, 0), 0);
    EXPECT_EQ(zvdbLogout(s), 0);
}

TEST_F(LogonTest, TwoSessionsEachActInTheirOwnInstance) {
    tagZVDBSESSION *a = alloc(1);
    tagZVDBSESSION *b = alloc(1);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(zvdbLogon(a, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(zvdbLogon(b, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(zvdbSwitchInstance(a), 0);
    ASSERT_EQ(CREDAT(1, "a.dat", 16, 0, 0), 0);
    ASSERT_EQ(zvdbSwitchInstance(b), 0);
    EXPECT_FALSE(file_open(1));
    ASSERT_EQ(CREDAT(1, "b.dat", 16, 0, 0), 0);
    // Logging A out stops A's engine only.
    ASSERT_EQ(zvdbLogout(a), 0);
    ASSERT_EQ(zvdbSwitchInstance(b), 0);
    EXPECT_TRUE(file_open(1));
    EXPECT_EQ(zvdbLogout(b), 0);
}

TEST_F(LogonTest, AFailedStartLeavesTheSessionLoggedOff) {
    tagZVDBSESSION *s = alloc(1);
    ASSERT_NE(s, nullptr);
    // One round first: logout frees the stored credentials, so that the
    // session holds the same blocks after every round.
    ASSERT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(zvdbLogout(s), 0);
    int failures = 0;
    for (long n = 1;; n++) {
        SCOPED_TRACE(n);
        int64_t before = basetest::live_blocks();
        zv::fail_alloc_at(n);
        int rc = zvdbLogon(s, nullptr, nullptr, nullptr);
        zv::fail_alloc_at(0);
        if (rc == 0) break;
        failures++;
        EXPECT_EQ(zvdbIsActiveSession(s), 0);
        EXPECT_EQ(zvdbGetError(s), rc);
        EXPECT_FALSE(engine_running());
        EXPECT_EQ(basetest::live_blocks(), before);
        // The next logon works.
        ASSERT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 0);
        ASSERT_EQ(zvdbLogout(s), 0);
        EXPECT_EQ(basetest::live_blocks(), before);
        ASSERT_LT(n, 1000);
    }
    EXPECT_GT(failures, 0);
    EXPECT_EQ(zvdbIsActiveSession(s), 1);
    EXPECT_EQ(zvdbLogout(s), 0);
}

TEST_F(LogonTest, LogonAndLogoutLeaveNoBlockBehind) {
    int64_t before = basetest::live_blocks();
    tagZVDBSESSION *s = alloc(0);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(zvdbLogon(s, "srv", "usr", "pw"), 0);
    EXPECT_EQ(release(s), 0);  // logs out first
    EXPECT_EQ(basetest::live_blocks(), before);
}

TEST_F(LogonTest, TheSessionDictionaryOpensAtLogon) {
    struct Case {
        const char *path;          // session path
        int exclusive;             // session exclusive before logon
        std::deque<int> answers;   // of the opens, in order
        int rc;
        std::vector<int> opens;    // exclusive flag of each open
        int exclusive_after;
    };
    const Case cases[] = {
        {nullptr, 0, {}, 0, {0}, 0},
        {"sp", 0, {9, 0}, 0, {0, 1}, 1},      // retried exclusively
        {"sp", 0, {9, 11}, 9, {0, 1}, 0},     // the first failure stands
        {"sp", 1, {9}, 9, {1}, 1},            // an exclusive session is not retried
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << (c.path ? c.path : "-") << " " << c.exclusive << " " << c.rc);
        tagZVDBSESSION *s = alloc(0);
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(zvdbSetSessionPath(s, c.path), 0);
        ASSERT_EQ(zvdbSetSessionExclusive(s, c.exclusive), 0);
        g_opens.clear();
        g_open_answers = c.answers;
        EXPECT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), c.rc);
        EXPECT_EQ(zvdbIsActiveSession(s), c.rc == 0 ? 1 : 0);
        EXPECT_EQ(engine_running(), c.rc == 0);
        EXPECT_EQ(zvdbIsSessionExclusive(s), c.exclusive_after);
        ASSERT_EQ(g_opens.size(), c.opens.size());
        for (size_t i = 0; i < c.opens.size(); i++) {
            EXPECT_EQ(g_opens[i].name, c.path ? std::string(c.path) + "/zvdbdict" : "zvdbdict");
            EXPECT_EQ(g_opens[i].exclusive, c.opens[i]);
            EXPECT_EQ(g_opens[i].trysuper, 1);
        }
        if (c.rc) {
            EXPECT_EQ(zvdbGetError(s), c.rc);
            // The undone logon leaves the session ready for the next one.
            ASSERT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 0);
        }
        EXPECT_EQ(release(s), 0);
    }
}

// What the logon and logout callbacks saw.
std::vector<ZVHANDLE> g_logons, g_logouts;
int g_logon_answer = 0;
ZVDBRET on_logon(ZVHANDLE s) {
    g_logons.push_back(s);
    return g_logon_answer;
}
ZVDBRET on_logout(ZVHANDLE s) {
    g_logouts.push_back(s);
    return 5;  // not looked at
}

TEST_F(LogonTest, LogonAndLogoutCallbacks) {
    g_logons.clear();
    g_logouts.clear();
    tagZVDBSESSION *s = alloc(0);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(zvdbSetCallback(s, 25, reinterpret_cast<ZVDB_CALLBACK>(on_logon)), 0);
    ASSERT_EQ(zvdbSetCallback(s, 26, reinterpret_cast<ZVDB_CALLBACK>(on_logout)), 0);
    g_logon_answer = 7;
    EXPECT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 7);
    EXPECT_EQ(zvdbGetError(s), 7);
    ASSERT_EQ(g_logons.size(), 1u);
    EXPECT_EQ(g_logons[0], s);
    EXPECT_EQ(zvdbIsActiveSession(s), 0);
    EXPECT_FALSE(engine_running());
    EXPECT_TRUE(g_logouts.empty());

    g_logon_answer = 0;
    ASSERT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(g_logons.size(), 2u);
    EXPECT_TRUE(g_logouts.empty());
    EXPECT_EQ(zvdbLogout(s), 0);
    ASSERT_EQ(g_logouts.size(), 1u);
    EXPECT_EQ(g_logouts[0], s);
    // The callbacks stay set after logout.
    EXPECT_EQ(zvdbGetCallback(s, 26), reinterpret_cast<ZVDB_CALLBACK>(on_logout));
}

TEST_F(LogonTest, CreatingASessionDictionaryLeavesTheSessionLoggedOff) {
    tagZVDBSESSION *s = alloc(0);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(zvdbSetSessionPath(s, "sp"), 0);
    g_create_answer = 19;
    EXPECT_EQ(zvdbCreateSession(s, "srv", "usr", "pw"), 19);
    EXPECT_EQ(zvdbGetError(s), 19);
    ASSERT_EQ(g_creates.size(), 1u);
    EXPECT_EQ(g_creates[0], "sp/zvdbdict");
    EXPECT_EQ(zvdbIsActiveSession(s), 0);
    EXPECT_FALSE(engine_running());
    EXPECT_STREQ(zvdbGetServerName(s), "QUENRITS");  // the credentials are not kept
    EXPECT_EQ(zvdbCreateSession(nullptr, nullptr, nullptr, nullptr), ZVDB_NULL_HANDLE);
    ASSERT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(zvdbCreateSession(s, nullptr, nullptr, nullptr), ZVDB_ACTIVE);
}

TEST_F(LogonTest, AddTableToDatabaseAlwaysUnregistersItsInstance) {
    ASSERT_EQ(REGZARVO("mine"), 0);
    for (int create : {0, 1}) {
        SCOPED_TRACE(create);
        g_create_answer = create ? 0 : 4054;
        int64_t before = basetest::live_blocks();
        for (int round = 0; round < 2; round++) {
            int rc = zvdbAddTableToDatabase("db", "dbdir", "t", "tdir", nullptr, nullptr, 1);
            EXPECT_NE(rc, 0);
            EXPECT_NE(rc, ZV_INST_EXISTS);
            EXPECT_EQ(GETZARVO("zvdbAddTableToDatabase"), nullptr);
            EXPECT_STREQ(WCHZARVO(), "mine");
        }
        EXPECT_EQ(basetest::live_blocks(), before);
    }
    // While one runs (its instance registered), another is refused.
    ASSERT_EQ(REGZARVO("zvdbAddTableToDatabase"), 0);
    EXPECT_EQ(zvdbAddTableToDatabase("db", "dbdir", "t", "tdir", nullptr, nullptr, 0), ZV_INST_EXISTS);
}

TEST_F(LogonTest, AttachToAnotherSessionsInstance) {
    tagZVDBSESSION *a = alloc(1);
    tagZVDBSESSION *b = alloc(0);
    ASSERT_TRUE(a && b);
    const std::string aname = instance_name_of(a), bname = instance_name_of(b);
    ASSERT_EQ(zvdbLogon(a, "srv", "usr", "pw"), 0);
    ASSERT_EQ(CREDAT(2, "a.dat", 16, 0, 0), 0);

    // Refusals leave B as it was.
    EXPECT_EQ(zvdbDetachSession(b), ZVDB_NOT_ATTACHED);
    EXPECT_EQ(zvdbAttachSession(b, a, 4, 0), ZVDB_BAD_ATTACH_MODE);
    EXPECT_EQ(zvdbAttachSession(b, nullptr, 2, 0), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbAttachSession(b, nullptr, 1, 0), ZVDB_NO_SESSION);
    EXPECT_EQ(zvdbAttachSession(a, b, 1, 0), ZVDB_ACTIVE);
    EXPECT_EQ(zvdbAttachSession(nullptr, a, 1, 0), ZVDB_NO_SESSION);
    EXPECT_STREQ(b->instname, bname.c_str());
    EXPECT_EQ(zvdbIsActiveSession(b), 0);

    ASSERT_EQ(zvdbAttachSession(b, a, 1, 1), 0);
    EXPECT_STREQ(b->instname, aname.c_str());
    EXPECT_STREQ(zvdbGetServerName(b), "srv");
    EXPECT_STREQ(zvdbGetUserLogonName(b), "usr");
    EXPECT_STREQ(zvdbGetUserPassword(b), "pw");
    EXPECT_EQ(b->lockmode, a->lockmode);
    EXPECT_EQ(zvdbIsActiveSession(b), 1);
    EXPECT_EQ(zvdbGetAttachMode(b), 1);
    EXPECT_EQ(zvdbIsTransActive(b), 1);
    ASSERT_EQ(g_opens.size(), 1u);  // B is not logon-only: its dictionary
    // B acts on A's instance.
    ASSERT_EQ(SWTZARVO(bname.c_str()), 0);
    ASSERT_EQ(zvdbSwitchInstance(b), 0);
    EXPECT_STREQ(WCHZARVO(), aname.c_str());
    EXPECT_TRUE(file_open(2));
    EXPECT_EQ(zvdbAttachSession(b, a, 1, 0), ZVDB_ACTIVE);

    // Logout detaches: B is on its own instance again, A's file stays open.
    ASSERT_EQ(zvdbLogout(b), 0);
    EXPECT_EQ(zvdbIsActiveSession(b), 0);
    EXPECT_EQ(zvdbGetAttachMode(b), 0);
    EXPECT_STREQ(b->instname, bname.c_str());
    EXPECT_EQ(zvdbGetServerName(b), nullptr);
    EXPECT_EQ(zvdbIsActiveSession(a), 1);
    ASSERT_EQ(zvdbSwitchInstance(a), 0);
    EXPECT_TRUE(file_open(2));
    EXPECT_EQ(zvdbDetachSession(b), ZVDB_NOT_ATTACHED);

    // By name (mode 2) and as the current instance (mode 3): no credentials.
    for (int mode : {2, 3}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(SWTZARVO(aname.c_str()), 0);
        ASSERT_EQ(zvdbAttachSession(b, mode == 2 ? const_cast<char *>(aname.c_str()) : nullptr, mode, 0), 0);
        EXPECT_STREQ(b->instname, aname.c_str());
        EXPECT_EQ(zvdbGetServerName(b), nullptr);
        EXPECT_EQ(zvdbGetAttachMode(b), mode);
        ASSERT_EQ(zvdbDetachSession(b), 0);
        EXPECT_STREQ(b->instname, bname.c_str());
    }
    EXPECT_EQ(zvdbAttachSession(b, const_cast<char *>("nowhere"), 2, 0), ZV_INST_NOTFOUND);
    EXPECT_STREQ(b->instname, bname.c_str());
}

// An attach whose dictionary cannot be opened leaves the session on its
// own instance: freeing it later leaves the other instance alone.
TEST_F(LogonTest, AFailedAttachKeepsTheOwnInstance) {
    tagZVDBSESSION *a = alloc(1);
    tagZVDBSESSION *b = alloc(0);
    ASSERT_TRUE(a && b);
    const std::string aname = instance_name_of(a), bname = instance_name_of(b);
    ASSERT_EQ(zvdbLogon(a, nullptr, nullptr, nullptr), 0);
    g_open_answers = {9, 9};
    EXPECT_EQ(zvdbAttachSession(b, a, 1, 0), 9);
    EXPECT_EQ(zvdbIsActiveSession(b), 0);
    EXPECT_STREQ(b->instname, bname.c_str());
    EXPECT_EQ(release(b), 0);
    EXPECT_NE(GETZARVO(aname.c_str()), nullptr);
    EXPECT_EQ(zvdbIsActiveSession(a), 1);
    ASSERT_EQ(zvdbSwitchInstance(a), 0);
    EXPECT_TRUE(engine_running());
}

TEST_F(LogonTest, FreeingAnAttachedSessionLeavesTheOtherInstance) {
    tagZVDBSESSION *a = alloc(1);
    tagZVDBSESSION *b = alloc(1);
    ASSERT_TRUE(a && b);
    const std::string aname = instance_name_of(a), bname = instance_name_of(b);
    ASSERT_EQ(zvdbLogon(a, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(zvdbAttachSession(b, a, 1, 0), 0);
    EXPECT_EQ(release(b), 0);
    EXPECT_EQ(GETZARVO(bname.c_str()), nullptr);
    EXPECT_NE(GETZARVO(aname.c_str()), nullptr);
    ASSERT_EQ(zvdbSwitchInstance(a), 0);
    EXPECT_TRUE(engine_running());
}

TEST_F(LogonTest, DeactivatingAHandleTree) {
    EXPECT_EQ(_zvdbDeactivateChildren(nullptr), ZVDB_NULL_ARGUMENT);
    tagZVDBSESSION *s = alloc(1);
    ASSERT_NE(s, nullptr);
    // Inactive handles: nothing to do.
    auto *db = basetest::make<tagZVDBDATABASE>(ZVDB_DATABASE_HANDLE);
    auto *t = basetest::make<tagZVDBTABLE>(ZVDB_TABLE_HANDLE);
    auto *r = basetest::make<tagZVDBRECORD>(ZVDB_RECORD_HANDLE);
    db->session = t->session = s;
    for (void *h : {static_cast<void *>(s), static_cast<void *>(db), static_cast<void *>(t), static_cast<void *>(r)}) {
        EXPECT_EQ(_zvdbDeactivateChildren(h), 0);
    }
    ASSERT_EQ(_zvdbLinkChild(db), 0);
    ASSERT_EQ(_zvdbLinkChild(t), 0);
    // A logged-on session with inactive children is logged out.
    ASSERT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(_zvdbDeactivateChildren(s), 0);
    EXPECT_EQ(zvdbIsActiveSession(s), 0);
    EXPECT_FALSE(engine_running());
    EXPECT_EQ(release(s), 0);
    EXPECT_EQ(db->session, nullptr);
    EXPECT_EQ(t->session, nullptr);
    for (void *h : {static_cast<void *>(db), static_cast<void *>(t), static_cast<void *>(r)}) _zvdb_free(h);
}

}  // namespace
