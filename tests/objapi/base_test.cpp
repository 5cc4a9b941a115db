// The base class of the handle classes: what it does with no handle, with a
// logged-on session's handle, and through the virtual slots that derived
// classes override.
#include <gtest/gtest.h>

#include <vector>

#include "recapi/base/handles.h"
#include "tests/objapi/objtest.h"
#include "tests/support/fixture.h"

namespace {

using objtest::expect_thrown;
using objtest::text_of;
using objtest::ThrowCase;
using objtest::thrown_by;

// A ZVBase over a handle it is given (and does not own).
class Held : public ZVBase {
public:
    explicit Held(ZVHANDLE h = nullptr) { SetHandle(h); }
};

// Records the modes its Lock is asked for and reports a code of its own.
class Recording : public ZVBase {
public:
    std::vector<int> modes;
    void Lock(int mode) override { modes.push_back(mode); }
    ZVDBRET GetError() const override { return 1234; }
};

TEST(BaseNullHandle, ErrorCallsAndHandleType) {
    Held b;
    EXPECT_EQ(b.GetHandle(), nullptr);
    EXPECT_EQ(thrown_by([&] { EXPECT_EQ(b.GetError(), ZVDB_NULL_HANDLE); }).thrown, false);

    const char *null_handle = "Null handle detected in ZVBase::SetError";
    const ThrowCase cases[] = {
        {"SetError", [&] { b.SetError(1); }, 4002, null_handle, "zvppbase", -1},
        {"ClearError", [&] { b.ClearError(); }, 4002, null_handle, "zvppbase", -1},
        {"GetHandleType", [&] { b.GetHandleType(); }, 4002, "Invalid handle type", "zvppbase", -1},
        {"SetSavePoint", [&] { b.SetSavePoint(); }, 4002, "Can't set save point", "zvppbase", -1},
        {"Begin", [&] { b.Begin(); }, 4003, "Can't begin a transaction.", "zvppbase", -1},
        {"Lock", [&] { b.Lock(1); }, 4003, "Lock failed", "zvppbase", -1},
    };
    for (const ThrowCase &c : cases) expect_thrown(thrown_by(c.call), c);

    // Plain getters answer without throwing.
    EXPECT_FALSE(b.IsTransActive());
    EXPECT_FALSE(b.IsLockActive());
    EXPECT_EQ(b.GetHandleId(), 0);
    EXPECT_EQ(b.GetTableType(), 0);
    EXPECT_EQ(text_of(b.GetDefFloatFormat()), "%g");
}

TEST(BaseOverrides, UnlockAndGetErrorGoThroughTheVirtualSlots) {
    Recording r;
    ZVBase &base = r;
    base.Unlock();
    base.Unlock();
    EXPECT_EQ(r.modes, (std::vector<int>{0, 0}));
    EXPECT_EQ(base.GetError(), 1234);
}

// A logged-on session of its own instance (logon-only: no dictionary).
class BaseSession : public zvtest::ZvTest {
protected:
    void SetUp() override {
        ZvTest::SetUp();
        session_ = zvdbAllocSession(1);
        ASSERT_NE(session_, nullptr);
        ASSERT_EQ(zvdbLogon(session_, nullptr, nullptr, nullptr), 0);
        base_.SetHandle(session_);
    }
    void TearDown() override {
        EXPECT_EQ(zvdbFreeSession(session_), 0);
        ZvTest::TearDown();
    }
    ZVHANDLE session_ = nullptr;
    Held base_;
};

TEST_F(BaseSession, TransactionsKindsAndRefusals) {
    base_.Begin();
    base_.Commit();
    base_.Begin();
    base_.Abort();
    EXPECT_FALSE(base_.IsTransActive());
    EXPECT_EQ(base_.GetHandleType(), ZVDB_SESSION_HANDLE);
    EXPECT_EQ(base_.GetHandleId(), ZVDB_SESSION_HANDLE);
    EXPECT_EQ(base_.GetTableType(), 0);
    EXPECT_EQ(text_of(base_.GetDefFloatFormat()), "%g");
    EXPECT_GT(base_.GetSystemConfig(ZV_SYSCFG_FILE_NUMBERS), 0);

    const ThrowCase cases[] = {
        {"Lock(11)", [&] { base_.Lock(11); }, 4055, "Lock failed", "zvppbase", -1},
        {"SetDefDateType(7)", [&] { base_.SetDefDateType(7); }, 4028, "Can't set the default date type",
         "zvppbase", -1},
        {"SetDefTimeType(12)", [&] { base_.SetDefTimeType(12); }, 4019, "Can't set the default time type",
         "zvppbase", -1},
        {"SetTransactionMode(32)", [&] { base_.SetTransactionMode(32); }, 4004, "Can't set the transaction mode",
         "zvppbase", -1},
    };
    for (const ThrowCase &c : cases) expect_thrown(thrown_by(c.call), c);
    // A refused setting leaves the stored one.
    EXPECT_EQ(base_.GetLockMode(), 0);
    EXPECT_EQ(base_.GetTransactionMode(), 0);
}

TEST_F(BaseSession, SettingsReadBackWhatWasSet) {
    int marker = 0;
    base_.SetUserTag(&marker);
    EXPECT_EQ(base_.GetUserTag(), &marker);
    base_.SetKeepLock(2);
    EXPECT_EQ(base_.GetKeepLock(), 2);
    base_.SetTransactionMode(31);
    EXPECT_EQ(base_.GetTransactionMode(), 31);
    base_.SetDefDateType(3);
    EXPECT_EQ(base_.GetDefDateType(), 3);
    base_.SetDefTimeType(11);
    EXPECT_EQ(base_.GetDefTimeType(), 11);
    base_.SetDefFloatFormat("%.2f");
    EXPECT_EQ(text_of(base_.GetDefFloatFormat()), "%.2f");
    // A string without storage clears the format back to the default.
    base_.SetDefFloatFormat(ZVString());
    EXPECT_EQ(text_of(base_.GetDefFloatFormat()), "%g");

    base_.SetError(77);
    EXPECT_EQ(base_.GetError(), 77);
    base_.ClearError();
    EXPECT_EQ(base_.GetError(), 0);

    EXPECT_EQ(base_.GetAutoCommit(), 0);
    base_.SetAutoCommit(1);
    EXPECT_EQ(base_.GetAutoCommit(), 1);
    EXPECT_NE(base_.GetOperation() & 0x40000, 0);
    base_.SetOperation(0x40000, 0);
    EXPECT_EQ(base_.GetAutoCommit(), 0);
    EXPECT_EQ(base_.GetOperation() & 0x40000, 0);
}

TEST_F(BaseSession, LockAndUnlock) {
    base_.Lock(1);
    EXPECT_TRUE(base_.IsLockActive());
    EXPECT_EQ(base_.GetLockMode(), 1);
    base_.Unlock();
    EXPECT_FALSE(base_.IsLockActive());
    EXPECT_EQ(base_.GetLockMode(), 0);
}

// This library makes no save points: 0 is the answer on a live session, and
// only a handle that reaches no session throws, never with code 0.
TEST_F(BaseSession, SavePoints) {
    base_.Begin();
    EXPECT_EQ(base_.SetSavePoint(), 0);
    base_.RestoreSavePoint(0);
    base_.Commit();

    auto *orphan = static_cast<tagZVDBSEGMENT *>(_zvdb_alloc(1, sizeof(tagZVDBSEGMENT)));
    ASSERT_NE(orphan, nullptr);
    orphan->kind = ZVDB_SEGMENT_HANDLE;
    Held lost(orphan);
    expect_thrown(thrown_by([&] { lost.SetSavePoint(); }),
                  {"orphan", nullptr, 4003, "Can't set save point", "zvppbase", -1});
    expect_thrown(thrown_by([&] { lost.RestoreSavePoint(0); }),
                  {"orphan restore", nullptr, 4003, "Can't restore save point", "zvppbase", -1});
    _zvdb_free(orphan);
}

// The instance switch makes the session's engine instance current, which is
// the one the system configuration is read from (a stopped engine has no
// file numbers).
TEST_F(BaseSession, SwitchInstanceSelectsTheSessionsEngine) {
    ZVHANDLE idle = zvdbAllocSession(1);
    ASSERT_NE(idle, nullptr);
    Held other(idle);
    other.SwitchInstance();
    EXPECT_LE(base_.GetSystemConfig(ZV_SYSCFG_FILE_NUMBERS), 0);
    base_.SwitchInstance();
    EXPECT_GT(base_.GetSystemConfig(ZV_SYSCFG_FILE_NUMBERS), 0);
    EXPECT_EQ(zvdbFreeSession(idle), 0);
    base_.SwitchInstance();
}

}  // namespace
