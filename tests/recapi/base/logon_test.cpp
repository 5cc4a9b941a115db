// Logon and logout, session creation, the session dictionary's open at
// logon, the logon and logout callbacks, attach and detach, and the
// self-contained table registration.
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "recapi/base/session.h"
#include "engine/core/platform.h"
#include "recapi/catalog/dictionary.h"
#include "tests/recapi/base/basefix.h"
#include "zarvo/zarvo.h"

namespace {

using basetest::instance_name_of;
using basetest::engine_running;
using basetest::file_open;
using basetest::SessionTest;

class LogonTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        zv::fault_reset();
    }
    void TearDown() override {
        zv::fault_reset();
        SessionTest::TearDown();
    }
    // Makes the session dictionary of the session path through a session
    // of its own.
    void make_dictionary(const char *path = nullptr) {
        tagZVDBSESSION *maker = alloc(0);
        ASSERT_NE(maker, nullptr);
        ASSERT_EQ(zvdbSetSessionPath(maker, path), 0);
        ASSERT_EQ(zvdbCreateSession(maker, nullptr, nullptr, nullptr), 0);
        EXPECT_EQ(release(maker), 0);
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
    EXPECT_EQ(s->dict->open, 0);  // logon-only: no dictionary, none needed

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
    make_dictionary();
    int64_t before = basetest::live_blocks();
    tagZVDBSESSION *s = alloc(0);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(zvdbLogon(s, "srv", "usr", "pw"), 0);
    EXPECT_EQ(release(s), 0);  // logs out first
    EXPECT_EQ(basetest::live_blocks(), before);
}

TEST_F(LogonTest, TheSessionDictionaryOpensAtLogon) {
    std::filesystem::create_directory("sp");
    make_dictionary(nullptr);
    make_dictionary("sp");
    // The opens a logon makes before the dictionary's: a logon-only
    // session's.
    tagZVDBSESSION *probe = alloc(1);
    ASSERT_NE(probe, nullptr);
    zv::fault_reset();
    ASSERT_EQ(zvdbLogon(probe, nullptr, nullptr, nullptr), 0);
    const long before = zv::io_calls(zv::IoKind::Open);
    EXPECT_EQ(release(probe), 0);
    struct Case {
        const char *path;          // session path
        int exclusive;             // session exclusive before logon
        int fail;                  // 0 none, 1 the first dictionary open, 2 every one
        int exclusive_after;
    };
    const Case cases[] = {
        {nullptr, 0, 0, 0},
        {"sp", 0, 1, 1},   // retried exclusively
        {"sp", 0, 2, 0},   // the first failure stands
        {"sp", 1, 1, 1},   // an exclusive session is not retried
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << (c.path ? c.path : "-") << " " << c.exclusive << " " << c.fail);
        tagZVDBSESSION *s = alloc(0);
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(zvdbSetSessionPath(s, c.path), 0);
        ASSERT_EQ(zvdbSetSessionExclusive(s, c.exclusive), 0);
        zv::fault_reset();
        if (c.fail) zv::fault_set(zv::IoKind::Open, before + 1, EACCES, c.fail == 2);
        const int rc = zvdbLogon(s, nullptr, nullptr, nullptr);
        zv::fault_reset();
        const bool fails = c.fail == 2 || (c.fail == 1 && c.exclusive);
        EXPECT_EQ(rc != 0, fails);
        EXPECT_EQ(zvdbIsActiveSession(s), fails ? 0 : 1);
        EXPECT_EQ(engine_running(), !fails);
        EXPECT_EQ(zvdbIsSessionExclusive(s), c.exclusive_after);
        if (fails) {
            EXPECT_EQ(zvdbGetError(s), rc);
            // The undone logon leaves the session ready for the next one.
            ASSERT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 0);
        }
        ASSERT_EQ(s->dict->open, 1);
        EXPECT_STREQ(s->dict->name, c.path ? "sp/zvdbdict" : "zvdbdict");
        EXPECT_EQ(s->dict->exclusive, zvdbIsSessionExclusive(s));
        EXPECT_EQ(s->dictinsuper, 1);
        EXPECT_EQ(release(s), 0);
    }
}

TEST_F(LogonTest, OnAReadOnlyFileSystemTheLogonGivesTheSystemsReason) {
    make_dictionary();
    tagZVDBSESSION *probe = alloc(1);
    ASSERT_NE(probe, nullptr);
    zv::fault_reset();
    ASSERT_EQ(zvdbLogon(probe, nullptr, nullptr, nullptr), 0);
    const long before = zv::io_calls(zv::IoKind::Open);
    EXPECT_EQ(release(probe), 0);
    // The read-write open of the dictionary's host "zvdbdict.qsd" fails with
    // EROFS, as on a read-only file system. An exclusive session tries once:
    // only the host's open is made to fail, and an open of a name through
    // the host file meets ENOTDIR by itself, as there. A shared session
    // tries again exclusively, every open failing.
    struct Case {
        int exclusive;
        bool sticky;
    };
    for (const Case &c : {Case{1, false}, Case{0, true}}) {
        SCOPED_TRACE(c.exclusive);
        tagZVDBSESSION *s = alloc(0);
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(zvdbSetSessionExclusive(s, c.exclusive), 0);
        zv::fault_reset();
        zv::fault_set(zv::IoKind::Open, before + 1, EROFS, c.sticky);
        const int rc = zvdbLogon(s, nullptr, "demo", nullptr);
        zv::fault_reset();
        EXPECT_EQ(rc, 12);
        EXPECT_EQ(zvGetSystemErrorCode(), EROFS);
        EXPECT_EQ(zvdbGetError(s), 12);
        EXPECT_EQ(zvdbIsActiveSession(s), 0);
        EXPECT_EQ(zvdbIsSessionExclusive(s), c.exclusive);
        EXPECT_FALSE(engine_running());
        ASSERT_EQ(zvdbLogon(s, nullptr, "demo", nullptr), 0);
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
    make_dictionary();
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
    std::filesystem::create_directory("sp");
    tagZVDBSESSION *s = alloc(0);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(zvdbSetSessionPath(s, "sp"), 0);
    EXPECT_EQ(zvdbCreateSession(s, "srv", "usr", "pw"), 0);
    EXPECT_TRUE(std::filesystem::is_regular_file("sp/zvdbdict.qsd"));
    EXPECT_EQ(zvdbIsActiveSession(s), 0);
    EXPECT_FALSE(engine_running());
    EXPECT_STREQ(zvdbGetServerName(s), "QUENRITS");  // the credentials are not kept
    // A second one finds the host made: the engine's code, kept.
    const int rc = zvdbCreateSession(s, nullptr, nullptr, nullptr);
    EXPECT_NE(rc, 0);
    EXPECT_EQ(zvdbGetError(s), rc);
    EXPECT_EQ(zvdbIsActiveSession(s), 0);
    EXPECT_FALSE(engine_running());
    EXPECT_EQ(zvdbCreateSession(nullptr, nullptr, nullptr, nullptr), ZVDB_NULL_HANDLE);
    ASSERT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(zvdbCreateSession(s, nullptr, nullptr, nullptr), ZVDB_ACTIVE);
}

TEST_F(LogonTest, AddTableToDatabaseAlwaysUnregistersItsInstance) {
    ASSERT_EQ(REGZARVO("mine"), 0);
    for (int create : {0, 1}) {
        SCOPED_TRACE(create);
        int64_t before = basetest::live_blocks();
        for (int round = 0; round < 2; round++) {
            // No database to connect to, or no table file to enter.
            int rc = zvdbAddTableToDatabase("db", "dbdir", "t", "tdir", nullptr, nullptr, create);
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
    make_dictionary();
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
    EXPECT_EQ(b->dict->open, 1);  // B is not logon-only: its dictionary
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
    // No session dictionary to open.
    EXPECT_EQ(zvdbAttachSession(b, a, 1, 0), 12);
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
