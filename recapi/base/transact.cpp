// Transactions, save points, session locks, isolation, the operation-mode
// word and the drop list of a session.
//
// Without transaction processing, begin, commit, abort and save points
// start or end nothing in the engine; they keep the session's bookkeeping.
// Session locks are real: each mode is mapped onto one or two ISAM lock
// requests, and the stored mode changes only after the last request
// succeeded.
#include <strings.h>

#include "recapi/base/list.h"
#include "recapi/base/session.h"
#include "recapi/base/transact.h"
#include "recapi/base/wrappers.h"
#include "zarvo/zarvo.h"

namespace {

constexpr int kLibType = 128;
constexpr int kIsamSuspend = 5;
constexpr int kIsamQuery = 128;
constexpr int kModeSuspended = 6;
constexpr int kMaxLockMode = 10;
constexpr int kMaxTranMode = 31;
constexpr int32_t kAutoCommitBit = 0x40000;

// ISAM requests of the session modes 1..4: from the free state, and the
// restore that ends a suspension in that variant.
struct Variant {
    int enable;
    int restore;
};
constexpr Variant kVariants[5] = {{0, 0}, {4, 7}, {11, 14}, {2, 6}, {3, 8}};
// ISAM request of each session mode, and session mode of each ISAM state.
constexpr int kToIsam[kMaxLockMode + 1] = {0, 4, 11, 2, 3, 1, 5, 7, 14, 6, 8};
constexpr int kFromState[15] = {0, 5, 3, 4, 1, 6, 9, 7, 10, -1, -1, 2, -1, -1, 8};

void free_entry(void *item) {
    auto *e = static_cast<ZVDBDROPENTRY *>(item);
    _zvdb_free(e->name);
    _zvdb_free(e);
}

}  // namespace

namespace zv {

void drop_list_clear(tagZVDBSESSION *s) {
    for (int32_t i = 0; i < _zvdbListCount(s->droplist); i++) free_entry(_zvdbListItem(s->droplist, i));
    _zvdbListClear(s->droplist);
}

int lock_mode_of_state(int state) {
    if (!(state & 0x8000)) return 0;
    int n = -int(int16_t(state));
    return n >= 0 && n < int(sizeof kFromState / sizeof kFromState[0]) ? kFromState[n] : -1;
}

}  // namespace zv

using zv::session_of;

extern "C" {

int _zvdbToIsamLockMode(int mode) { return mode >= 0 && mode <= kMaxLockMode ? kToIsam[mode] : -1; }

ZV_API int zvdbGetLibType(void) { return kLibType; }

ZV_API ZVDBRET zvdbBegin(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    s->tranactive = 0;
    return 0;
}

ZV_API ZVDBRET zvdbCommit(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    s->tranactive = 0;
    zv::drop_list_clear(s);
    return 0;
}

ZV_API ZVDBRET zvdbAbort(ZVHANDLE handle) { return zvdbCommit(handle); }

ZV_API ZVDBRET zvdbPrepareCommit(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    int rc = TRANRDY();
    if (rc == 0) return 0;
    s->tranactive = 0;
    s->lockmode = int16_t(zvdbGetLockMode(s));
    return zv::keep_code(handle, rc);
}

ZV_API int zvdbIsTransActive(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    return s && s->tranactive ? 1 : 0;
}

ZV_API ZVDBRET zvdbSetSavePoint(ZVHANDLE handle) {
    if (!handle) return 0;
    if (!session_of(handle)) return 0;
    if (int pending = zv::instance_uerr()) zvdbSetError(handle, pending);
    return 0;
}

ZV_API ZVDBRET zvdbSetSingleSavePoint(ZVHANDLE handle) {
    if (!session_of(handle)) zvdbSetError(handle, ZVDB_NO_SESSION);
    return 0;
}

ZV_API ZVDBRET zvdbRestoreSavePoint(ZVHANDLE handle, int) {
    if (!handle) return ZVDB_NULL_HANDLE;
    return session_of(handle) ? 0 : ZVDB_NO_SESSION;
}

ZV_API ZVDBRET zvdbClearSavePoint(ZVHANDLE handle) { return zvdbRestoreSavePoint(handle, 0); }

ZV_API ZVDBRET zvdbLock(ZVHANDLE handle, ZVLOCK_MODE mode) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    if (mode < 0 || mode > kMaxLockMode) return zv::keep_code(handle, ZVDB_BAD_LOCK_MODE);
    const int cur = s->lockmode;
    int requests[2];
    int count = 0;
    int stored = mode;
    switch (mode) {
    case 0:
        if (s->tranactive) {
            // Inside a transaction the locks are suspended, not freed.
            if (cur == kModeSuspended) return 0;
            requests[count++] = kIsamSuspend;
            stored = kModeSuspended;
        } else {
            requests[count++] = 0;
        }
        break;
    case 1: case 2: case 3: case 4:
        if (cur == 0) {
            requests[count++] = kVariants[mode].enable;
        } else {
            if (cur != kModeSuspended) requests[count++] = kIsamSuspend;
            requests[count++] = kVariants[mode].restore;
        }
        break;
    case 5:
        requests[count++] = kToIsam[5];
        stored = 3;
        break;
    case 6:
        // Nothing to suspend: the stored mode stays as the engine's.
        if (cur == 0 || cur == kModeSuspended) return 0;
        requests[count++] = kIsamSuspend;
        break;
    default:  // 7..10: restore variant 1..4
        requests[count++] = kVariants[mode - 6].restore;
        stored = mode - 6;
        break;
    }
    for (int i = 0; i < count; i++) {
        if (int rc = _zvdbLKISAM(requests[i])) return zv::keep_code(handle, rc);
    }
    s->lockmode = int16_t(stored);
    return 0;
}

ZV_API ZVDBRET zvdbUnlock(ZVHANDLE handle) { return zvdbLock(handle, 0); }

ZV_API ZVLOCK_MODE zvdbGetLockMode(ZVHANDLE handle) {
    if (!session_of(handle)) return 0;
    return zv::lock_mode_of_state(_zvdbLKISAM(kIsamQuery));
}

ZV_API int zvdbIsLockActive(ZVHANDLE handle) {
    int mode = zvdbGetLockMode(handle);
    return mode >= 1 && mode <= 4 ? 1 : 0;
}

ZV_API ZVDBRET zvdbSetTransactionIsolation(ZVHANDLE handle, int level) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    if (!s->loggedon) return ZVDB_NOT_ACTIVE;
    if (level < 0 || level > 3) return ZVDB_BAD_ISOLATION;
    if (level == 0) return ZVDB_NOT_SUPPORTED;
    if (int rc = _zvdbTRANISO(level)) return rc;
    s->isolation = level;
    return 0;
}

ZV_API int zvdbGetTransactionIsolation(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    return s ? s->isolation : -1;
}

ZV_API ZVDBRET zvdbSetKeepLock(ZVHANDLE handle, ZVKEEP_MODE mode) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    s->keeplock = mode;
    return 0;
}

ZV_API ZVKEEP_MODE zvdbGetKeepLock(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    return s ? s->keeplock : 0;
}

ZV_API ZVDBRET zvdbSetTransactionMode(ZVHANDLE handle, ZVBEGIN_MODE mode) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    if (mode < 0 || mode > kMaxTranMode) return zv::keep_code(handle, ZVDB_BAD_ARGUMENT);
    s->tranmode = mode;
    return 0;
}

ZV_API ZVBEGIN_MODE zvdbGetTransactionMode(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    return s ? s->tranmode : 0;
}

ZV_API ZVDBRET zvdbSetOperationState(ZVHANDLE handle, int32_t bits, int action) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    int32_t word = 0;
    if (int rc = _zvdbSETOPS(bits, action, &word)) return zv::keep_code(handle, rc);
    s->opstate = word;
    s->opstatecached = 1;
    return 0;
}

ZV_API int32_t zvdbGetOperationState(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return 0;
    int32_t word = 0;
    if (!s->opstatecached && _zvdbSETOPS(0, 3, &word) == 0) {
        s->opstate = word;
        s->opstatecached = 1;
    }
    return s->opstate;
}

ZV_API ZVDBRET zvdbSetAutoCommit(ZVHANDLE handle, int on) {
    return zvdbSetOperationState(handle, kAutoCommitBit, on ? 2 : 0);
}

ZV_API int zvdbGetAutoCommit(ZVHANDLE handle) { return (zvdbGetOperationState(handle) & kAutoCommitBit) ? 1 : 0; }

ZVDBRET _zvdbAddDropList(ZVHANDLE handle, int32_t file, const char *name, int32_t closemode) {
    if (!name) return ZVDB_NULL_ARGUMENT;
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    auto *e = static_cast<ZVDBDROPENTRY *>(_zvdb_alloc(1, sizeof(ZVDBDROPENTRY)));
    if (!e || !(e->name = _zvdb_strdup(name))) {
        _zvdb_free(e);
        return ZVDB_NO_MEMORY;
    }
    e->file = file;
    e->closemode = closemode;
    if (ZVDBRET rc = _zvdbListAdd(s->droplist, e)) {
        free_entry(e);
        return rc;
    }
    return 0;
}

ZVDBRET _zvdbDelDropList(ZVHANDLE handle, int32_t file, const char *name) {
    if (!name) return ZVDB_NULL_ARGUMENT;
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    for (int32_t i = 0; i < _zvdbListCount(s->droplist); i++) {
        auto *e = static_cast<ZVDBDROPENTRY *>(_zvdbListItem(s->droplist, i));
        if (e->file == file && strcasecmp(e->name, name) == 0) {
            _zvdbListDelete(s->droplist, i);
            free_entry(e);
            return 0;
        }
    }
    return ZVDB_NOT_FOUND;
}

ZVDBRET _zvdbClearDropList(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    zv::drop_list_clear(s);
    return 0;
}

ZVDBRET _zvdbAbortDropList(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    for (int32_t i = 0; i < _zvdbListCount(s->droplist); i++) {
        auto *e = static_cast<ZVDBDROPENTRY *>(_zvdbListItem(s->droplist, i));
        // The files are being dropped: a failing close changes nothing.
        if (e->closemode) _zvdbCLSFIL(e->file);
        else _zvdbCLRFIL(e->file);
    }
    zv::drop_list_clear(s);
    return 0;
}

}  // extern "C"
