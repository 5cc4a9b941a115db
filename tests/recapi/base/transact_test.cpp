// Transactions, the drop list, save points, isolation, the operation-mode
// word and the session lock modes.
#include <string>
#include <vector>

#include "recapi/base/transact.h"
#include "recapi/base/wrappers.h"
#include "tests/recapi/base/basefix.h"
#include "zarvo/zarvo.h"

namespace {

using basetest::file_open;
using basetest::SessionTest;

class TransactTest : public SessionTest {
protected:
    // A logged-on logon-only session.
    tagZVDBSESSION *logged_on() {
        tagZVDBSESSION *s = alloc(1);
        EXPECT_NE(s, nullptr);
        if (s) {
            EXPECT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 0);
        }
        return s;
    }
};

TEST_F(TransactTest, BeginCommitAndAbortKeepOnlyTheFlag) {
    EXPECT_EQ(zvdbBegin(nullptr), ZVDB_NO_SESSION);
    EXPECT_EQ(zvdbCommit(nullptr), ZVDB_NO_SESSION);
    EXPECT_EQ(zvdbIsTransActive(nullptr), 0);
    EXPECT_EQ(zvdbGetLibType(), 128);
    tagZVDBSESSION *s = alloc(1);
    ASSERT_NE(s, nullptr);
    // Logged off, begin works as well: it clears the flag.
    s->tranactive = 1;
    EXPECT_EQ(zvdbIsTransActive(s), 1);
    EXPECT_EQ(zvdbBegin(s), 0);
    EXPECT_EQ(zvdbIsTransActive(s), 0);
    for (ZVDBRET (*end)(ZVHANDLE) : {zvdbCommit, zvdbAbort}) {
        s->tranactive = 1;
        EXPECT_EQ(end(s), 0);
        EXPECT_EQ(zvdbIsTransActive(s), 0);
    }
}

TEST_F(TransactTest, TheDropList) {
    tagZVDBSESSION *s = logged_on();
    ASSERT_NE(s, nullptr);
    ISEG seg[1] = {{0, 4, 0}};
    IIDX idx[1] = {IIDX{4, 0, 0, 0, 0, 1, seg, nullptr, nullptr, nullptr, nullptr}};
    IFIL set = IFIL{"set", 5, 16, 0, 0, 1, 0, 0, idx, nullptr, nullptr, 0};
    ASSERT_EQ(CREDAT(1, "single.dat", 16, 0, 0), 0);
    ASSERT_EQ(CREIFIL(&set), 0);
    auto fill = [&] {
        ASSERT_EQ(_zvdbAddDropList(s, 1, "single.dat", 1), 0);
        ASSERT_EQ(_zvdbAddDropList(s, 5, "set", 0), 0);
        ASSERT_EQ(_zvdbListCount(s->droplist), 2);
    };
    // Commit and abort forget the entries and close nothing.
    for (ZVDBRET (*end)(ZVHANDLE) : {zvdbCommit, zvdbAbort}) {
        fill();
        EXPECT_EQ(end(s), 0);
        EXPECT_EQ(_zvdbListCount(s->droplist), 0);
        EXPECT_TRUE(file_open(1));
        EXPECT_TRUE(file_open(5));
        EXPECT_TRUE(file_open(6));
    }
    // An aborted drop list closes each file, a set with its index.
    fill();
    EXPECT_EQ(_zvdbAbortDropList(s), 0);
    EXPECT_EQ(_zvdbListCount(s->droplist), 0);
    EXPECT_FALSE(file_open(1));
    EXPECT_FALSE(file_open(5));
    EXPECT_FALSE(file_open(6));

    // Removal by file number and name in any case.
    ASSERT_EQ(_zvdbAddDropList(s, 4, "Name", 1), 0);
    ASSERT_EQ(_zvdbAddDropList(s, 5, "name", 1), 0);
    EXPECT_EQ(_zvdbDelDropList(s, 5, "NAME"), 0);
    EXPECT_EQ(_zvdbDelDropList(s, 5, "NAME"), ZVDB_NOT_FOUND);
    EXPECT_EQ(_zvdbDelDropList(s, 6, "Name"), ZVDB_NOT_FOUND);
    EXPECT_EQ(_zvdbDelDropList(s, 4, nullptr), ZVDB_NULL_ARGUMENT);
    ASSERT_EQ(_zvdbListCount(s->droplist), 1);
    EXPECT_EQ(static_cast<ZVDBDROPENTRY *>(_zvdbListItem(s->droplist, 0))->file, 4);
    EXPECT_EQ(_zvdbAddDropList(s, 1, nullptr, 1), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(_zvdbAddDropList(nullptr, 1, "x", 1), ZVDB_NO_SESSION);
    EXPECT_EQ(_zvdbClearDropList(s), 0);
    EXPECT_EQ(_zvdbListCount(s->droplist), 0);
    EXPECT_EQ(_zvdbClearDropList(nullptr), ZVDB_NO_SESSION);
    EXPECT_EQ(_zvdbAbortDropList(nullptr), ZVDB_NO_SESSION);
}

TEST_F(TransactTest, PrepareCommitAsksTheEngine) {
    tagZVDBSESSION *s = logged_on();
    ASSERT_NE(s, nullptr);
    s->tranactive = 1;
    EXPECT_EQ(zvdbPrepareCommit(s), 71);
    EXPECT_EQ(zvdbGetError(s), 71);
    EXPECT_EQ(zvdbIsTransActive(s), 0);
    zvdbClearError(s);
    ASSERT_EQ(TRANBEG(0), 1);
    s->tranactive = 1;
    EXPECT_EQ(zvdbPrepareCommit(s), 0);
    EXPECT_EQ(zvdbIsTransActive(s), 1);
    EXPECT_EQ(zvdbGetError(s), 0);
    EXPECT_EQ(TRANABT(), 0);
    EXPECT_EQ(zvdbPrepareCommit(nullptr), ZVDB_NO_SESSION);
}

TEST_F(TransactTest, SavePointsMakeNothing) {
    tagZVDBSESSION *s = logged_on();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(zvdbSetSavePoint(nullptr), 0);
    // A failing engine call leaves its code pending: the save point keeps it.
    GETFIL(30, 10);
    const int pending = zvGetUserErrorCode();
    ASSERT_NE(pending, 0);
    EXPECT_EQ(zvdbSetSavePoint(s), 0);
    EXPECT_EQ(zvdbGetError(s), pending);
    EXPECT_EQ(zvdbSetSingleSavePoint(s), 0);
    EXPECT_EQ(zvdbSetSingleSavePoint(nullptr), 0);
    EXPECT_EQ(zvdbRestoreSavePoint(s, 3), 0);
    EXPECT_EQ(zvdbClearSavePoint(s), 0);
    EXPECT_EQ(zvdbRestoreSavePoint(nullptr, 3), ZVDB_NULL_HANDLE);
    EXPECT_EQ(zvdbClearSavePoint(nullptr), ZVDB_NULL_HANDLE);
    uint16_t unknown = 3600;
    EXPECT_EQ(zvdbRestoreSavePoint(&unknown, 3), ZVDB_NO_SESSION);
}

TEST_F(TransactTest, IsolationKeepAndTransactionModes) {
    tagZVDBSESSION *s = alloc(1);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(zvdbSetTransactionIsolation(s, 2), ZVDB_NOT_ACTIVE);
    ASSERT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 0);
    struct Case {
        int level, rc, after;
    } cases[] = {{4, ZVDB_BAD_ISOLATION, -1}, {-1, ZVDB_BAD_ISOLATION, -1}, {0, ZVDB_NOT_SUPPORTED, -1},
                 {2, 0, 2}, {3, 0, 3}, {1, 0, 1}};
    for (const Case &c : cases) {
        EXPECT_EQ(zvdbSetTransactionIsolation(s, c.level), c.rc) << c.level;
        EXPECT_EQ(zvdbGetTransactionIsolation(s), c.after) << c.level;
    }
    EXPECT_EQ(zvdbGetError(s), 0);  // returned, not kept
    EXPECT_EQ(zvdbGetTransactionIsolation(nullptr), -1);

    EXPECT_EQ(zvdbSetKeepLock(s, 2), 0);
    EXPECT_EQ(zvdbGetKeepLock(s), 2);
    EXPECT_EQ(zvdbSetKeepLock(nullptr, 2), ZVDB_NO_SESSION);
    EXPECT_EQ(zvdbSetTransactionMode(s, 31), 0);
    EXPECT_EQ(zvdbSetTransactionMode(s, 32), ZVDB_BAD_ARGUMENT);
    EXPECT_EQ(zvdbSetTransactionMode(s, -1), ZVDB_BAD_ARGUMENT);
    EXPECT_EQ(zvdbGetTransactionMode(s), 31);
    ASSERT_EQ(zvdbLogout(s), 0);
    EXPECT_EQ(zvdbGetTransactionMode(s), 0);  // reset
    EXPECT_EQ(zvdbGetKeepLock(s), 2);         // kept
}

TEST_F(TransactTest, AutoCommitIsAnOperationBit) {
    tagZVDBSESSION *s = logged_on();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(zvdbGetAutoCommit(s), 0);
    ASSERT_EQ(zvdbSetAutoCommit(s, 1), 0);
    const uint64_t calls = zv::wrap_counts().setops;
    EXPECT_NE(zvdbGetOperationState(s) & 0x40000, 0);
    EXPECT_EQ(zvdbGetAutoCommit(s), 1);
    EXPECT_EQ(zv::wrap_counts().setops, calls);  // the cached word
    EXPECT_NE(SETOPS(0, 3) & 0x40000, 0);        // the engine's
    ASSERT_EQ(zvdbSetAutoCommit(s, 0), 0);
    EXPECT_EQ(zvdbGetAutoCommit(s), 0);
    EXPECT_EQ(SETOPS(0, 3) & 0x40000, 0);
    // A refused request is the engine's code; the cache stays.
    EXPECT_EQ(zvdbSetOperationState(s, 0x04, 2), 0);
    EXPECT_EQ(zvdbSetOperationState(s, 0x04 | 0x20, 2), 116);
    EXPECT_EQ(zvdbGetError(s), 116);
    // The word cached before logout is not taken for the engine's after
    // the next logon.
    ASSERT_EQ(zvdbSetAutoCommit(s, 1), 0);
    ASSERT_EQ(zvdbLogout(s), 0);
    SETOPS(0x40000, 0);
    ASSERT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(zvdbGetAutoCommit(s), 0);
    EXPECT_EQ(zvdbGetOperationState(nullptr), 0);
}

TEST(LockModeMaps, SessionModesAndEngineStates) {
    const int to_isam[12] = {0, 4, 11, 2, 3, 1, 5, 7, 14, 6, 8, -1};
    for (int mode = 0; mode <= 11; mode++) EXPECT_EQ(_zvdbToIsamLockMode(mode), to_isam[mode]) << mode;
    EXPECT_EQ(_zvdbToIsamLockMode(-1), -1);
    const int from_state[16] = {0, 5, 3, 4, 1, 6, 9, 7, 10, -1, -1, 2, -1, -1, 8, -1};
    for (int n = 1; n <= 15; n++) EXPECT_EQ(zv::lock_mode_of_state(-n), from_state[n]) << n;
    EXPECT_EQ(zv::lock_mode_of_state(0), 0);
    EXPECT_EQ(zv::lock_mode_of_state(446), 0);  // a code, not a state
    EXPECT_EQ(zv::lock_mode_of_state(0xFFFD), 4);  // ISAM variant 3 is session mode 4
}

TEST_F(TransactTest, LockModesOutOfRange) {
    tagZVDBSESSION *s = logged_on();
    ASSERT_NE(s, nullptr);
    const uint64_t calls = zv::wrap_counts().lkisam;
    for (int mode : {11, -1}) {
        EXPECT_EQ(zvdbLock(s, mode), ZVDB_BAD_LOCK_MODE) << mode;
        EXPECT_EQ(zvdbGetError(s), ZVDB_BAD_LOCK_MODE);
    }
    EXPECT_EQ(zv::wrap_counts().lkisam, calls);
    EXPECT_EQ(zvdbLock(nullptr, 1), ZVDB_NO_SESSION);
    EXPECT_EQ(zvdbGetLockMode(nullptr), 0);
}

}  // namespace

namespace {

// The ISAM lock requests made through the wrapper since `start` calls.
std::vector<int> lock_requests_since(uint64_t start) {
    std::vector<int> out;
    for (uint64_t n = start; n < zv::wrap_counts().lkisam; n++) out.push_back(zv::wrap_counts().lkisam_log[n % 16]);
    return out;
}

TEST_F(TransactTest, SessionLockModesReachTheEngine) {
    tagZVDBSESSION *s = logged_on();
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->lockmode, 0);
    struct Step {
        int mode;
        int tranactive;
        std::vector<int> requests;  // ISAM lock requests, in order
        int stored;                 // also what the engine's state reads as
    };
    const Step steps[] = {
        {6, 0, {}, 0},        // nothing to suspend
        {1, 0, {4}, 1},       {2, 0, {5, 14}, 2},   // suspend, restore as variant 2
        {3, 0, {5, 6}, 3},    {4, 0, {5, 8}, 4},    {6, 0, {5}, 6},
        {6, 0, {}, 6},        {1, 0, {7}, 1},       // from suspended: the restore alone
        {6, 0, {5}, 6},       {9, 0, {6}, 3},       {0, 0, {0}, 0},
        {5, 0, {1}, 3},       // the plain enable request gives variant 3
        {0, 1, {5}, 6},       // inside a transaction locks are suspended
        {0, 1, {}, 6},        {10, 1, {8}, 4},      {6, 0, {5}, 6},
        {8, 0, {14}, 2},      {0, 0, {0}, 0},
    };
    for (const Step &st : steps) {
        SCOPED_TRACE(testing::Message() << "lock " << st.mode << " after " << s->lockmode);
        s->tranactive = st.tranactive;
        const uint64_t start = zv::wrap_counts().lkisam;
        ASSERT_EQ(zvdbLock(s, st.mode), 0);
        EXPECT_EQ(lock_requests_since(start), st.requests);
        EXPECT_EQ(s->lockmode, st.stored);
        EXPECT_EQ(zvdbGetLockMode(s), st.stored);
        EXPECT_EQ(zvdbIsLockActive(s), st.stored >= 1 && st.stored <= 4 ? 1 : 0);
    }
    s->tranactive = 0;
    EXPECT_EQ(zvdbUnlock(s), 0);
    EXPECT_EQ(zvdbGetLockMode(s), 0);

    // Prepare-commit outside an engine transaction reads the mode again.
    ASSERT_EQ(LKISAM(2), 0);
    EXPECT_EQ(s->lockmode, 0);
    EXPECT_EQ(zvdbPrepareCommit(s), 71);
    EXPECT_EQ(s->lockmode, 3);

    // Logged off: the engine refuses, the stored mode stays.
    ASSERT_EQ(zvdbLogout(s), 0);
    const uint64_t start = zv::wrap_counts().lkisam;
    EXPECT_EQ(zvdbLock(s, 1), 464);
    EXPECT_EQ(zvdbGetError(s), 464);
    EXPECT_EQ(lock_requests_since(start), std::vector<int>{4});
    EXPECT_EQ(s->lockmode, 0);
    EXPECT_EQ(zvdbGetLockMode(s), 0);
}

// Logon reads the lock mode of the engine it started; an attached session
// takes its source's.
TEST_F(TransactTest, LogonAndAttachReadTheLockMode) {
    tagZVDBSESSION *a = logged_on();
    tagZVDBSESSION *b = alloc(1);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(zvdbLock(a, 2), 0);
    ASSERT_EQ(zvdbAttachSession(b, a, 1, 0), 0);
    EXPECT_EQ(b->lockmode, 2);
    EXPECT_EQ(zvdbGetLockMode(b), 2);
    ASSERT_EQ(zvdbDetachSession(b), 0);
    EXPECT_EQ(b->lockmode, 0);
    ASSERT_EQ(zvdbLogon(b, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(b->lockmode, 0);
}

}  // namespace
