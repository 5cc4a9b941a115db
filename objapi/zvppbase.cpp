// ZVBase: one record-level handle and the calls that every handle accepts.
//
// Each operation forwards to the record-level call of the same meaning with
// the held handle first; a nonzero result is thrown with the operation's
// message and the line of the throw. Getters of flags, modes and texts never
// throw. The base neither allocates nor frees the handle: that is the
// derived class's business.
#include "objapi/zvppxcep.h"

namespace {

constexpr zvpp::Module kModule("objapi/zvppbase");

constexpr const char *kNullHandle = "Null handle detected in ZVBase::SetError";

}  // namespace

ZVBase::ZVBase() : handle(nullptr) {}

ZVBase::~ZVBase() noexcept = default;

ZVDBRET ZVBase::GetError() const { return handle ? zvdbGetError(handle) : ZVDB_NULL_HANDLE; }

void ZVBase::SetError(ZVDBRET code) {
    if (!handle) kModule.fail(ZVDB_NULL_HANDLE, kNullHandle, __LINE__);
    zvdbSetError(handle, code);
}

void ZVBase::ClearError() {
    if (!handle) kModule.fail(ZVDB_NULL_HANDLE, kNullHandle, __LINE__);
    zvdbClearError(handle);
}

bool ZVBase::IsTransActive() const { return zvdbIsTransActive(handle) != 0; }

void ZVBase::Begin() { kModule.check(zvdbBegin(handle), "Can't begin a transaction.", __LINE__); }

void ZVBase::Commit() { kModule.check(zvdbCommit(handle), "Can't commit a transaction.", __LINE__); }

void ZVBase::Abort() { kModule.check(zvdbAbort(handle), "Can't abort a transaction.", __LINE__); }

// Without transaction processing the record-level call makes no save point
// and always answers 0, so 0 is the normal answer ("none made") and not a
// failure. Only a handle that cannot carry a save point at all throws, with
// a code that is never 0: 4002 for none, else the code the handle keeps for
// its missing session (4003, or the failed instance switch's code).
int ZVBase::SetSavePoint() {
    const int savepoint = zvdbSetSavePoint(handle);
    if (savepoint != 0) return savepoint;
    if (!handle) kModule.fail(ZVDB_NULL_HANDLE, "Can't set save point", __LINE__);
    if (!zvdbGetSessionHandle(handle)) {
        const ZVDBRET code = zvdbGetError(handle);
        kModule.fail(code ? code : ZVDB_NO_SESSION, "Can't set save point", __LINE__);
    }
    return 0;
}

void ZVBase::RestoreSavePoint(int savepoint) {
    kModule.check(zvdbRestoreSavePoint(handle, savepoint), "Can't restore save point", __LINE__);
}

bool ZVBase::IsLockActive() const { return zvdbIsLockActive(handle) != 0; }

int ZVBase::GetLockMode() const { return zvdbGetLockMode(handle); }

void ZVBase::Lock(int mode) { kModule.check(zvdbLock(handle, mode), "Lock failed", __LINE__); }

// Through the virtual slot, so that a derived class's Lock sees the unlock.
void ZVBase::Unlock() { Lock(0); }

ZVHANDLE ZVBase::GetHandle() const { return handle; }

void ZVBase::SetHandle(ZVHANDLE h) { handle = h; }

int ZVBase::GetHandleId() const { return _zvdbGetHandleId(handle); }

ZVDATE_TYPE ZVBase::GetDefDateType() const { return zvdbGetDefDateType(handle); }

ZVTIME_TYPE ZVBase::GetDefTimeType() const { return zvdbGetDefTimeType(handle); }

void ZVBase::SetDefDateType(ZVDATE_TYPE type) {
    kModule.check(zvdbSetDefDateType(handle, type), "Can't set the default date type", __LINE__);
}

void ZVBase::SetDefTimeType(ZVTIME_TYPE type) {
    kModule.check(zvdbSetDefTimeType(handle, type), "Can't set the default time type", __LINE__);
}

void ZVBase::SetDefFloatFormat(const ZVString &format) {
    kModule.check(zvdbSetDefFloatFormat(handle, format.c_str()), "Can't set the default float format",
                  __LINE__);
}

ZVString ZVBase::GetDefFloatFormat() const { return ZVString(zvdbGetDefFloatFormat(handle)); }

void *ZVBase::GetUserTag() const {
    void *tag = nullptr;
    kModule.check(zvdbGetUserTag(handle, &tag), "Can't retrieve the user tag", __LINE__);
    return tag;
}

void ZVBase::SetUserTag(void *tag) {
    kModule.check(zvdbSetUserTag(handle, tag), "Can't set the user tag", __LINE__);
}

ZVKEEP_MODE ZVBase::GetKeepLock() const { return zvdbGetKeepLock(handle); }

void ZVBase::SetKeepLock(ZVKEEP_MODE mode) {
    kModule.check(zvdbSetKeepLock(handle, mode), "Can't set keep lock mode", __LINE__);
}

void ZVBase::SwitchInstance() {
    kModule.check(zvdbSwitchInstance(handle), "Can't switch Zarvo instance", __LINE__);
}

int ZVBase::GetHandleType() const {
    const int type = zvdbGetHandleType(handle);
    if (type == 0) kModule.fail(ZVDB_NULL_HANDLE, "Invalid handle type", __LINE__);
    return type;
}

int ZVBase::GetTableType() const { return zvdbGetTableType(handle); }

int ZVBase::GetSystemConfig(int item) const { return zvdbGetSystemConfig(item); }

ZVBEGIN_MODE ZVBase::GetTransactionMode() const { return zvdbGetTransactionMode(handle); }

void ZVBase::SetTransactionMode(ZVBEGIN_MODE mode) {
    kModule.check(zvdbSetTransactionMode(handle, mode), "Can't set the transaction mode", __LINE__);
}

int ZVBase::GetOperation() const { return zvdbGetOperationState(handle); }

void ZVBase::SetOperation(int bits, int action) {
    kModule.check(zvdbSetOperationState(handle, bits, action), "Can't set the operation state", __LINE__);
}

int ZVBase::GetAutoCommit() const { return zvdbGetAutoCommit(handle); }

void ZVBase::SetAutoCommit(int on) {
    kModule.check(zvdbSetAutoCommit(handle, on), "Can't set auto commit state", __LINE__);
}
