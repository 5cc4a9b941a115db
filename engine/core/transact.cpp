// Transactions of the non-logging build.
//
// This build keeps no transaction log: a transaction is a lock scope.
// Beginning one may set an ISAM lock mode; the locks that record operations
// take while it runs wait in the instance's 16 lock lists; ending it
// releases them, all or only those of a kind. Savepoints are only counted:
// nothing is ever undone. A request that would need a log (mode bit 0x200)
// is answered 454 (not supported).
//
// Invariants:
//  1. tranactive is 1 exactly between a successful TRANBEG and the next
//     TRANEND, TRANABT or TRANABTX, whatever that call returns.
//  2. Every lock list is a chain from lockhead to locktail, whose next link
//     is null; an empty list has both pointers null. Released entries go
//     back to free list 13.
//  3. Once a transaction has ended, no file keeps the savepoint that a
//     segment definition change recorded on it (FCB::segsavept).
#include "engine/core/instance.h"
#include "engine/core/lockent.h"
#include "engine/core/pools.h"
#include "engine/core/fcb.h"
#include "engine/isam/isam_services.h"

namespace {

constexpr int kLogged = 0x200;        // a mode that needs a transaction log
constexpr uint8_t kLockPartial = 0x04;  // released by mode 41
constexpr uint8_t kLockKept = 0x08;     // kept by mode 42

// Releases the entries of every list that `release` selects, keeping the
// others in their order.
template <typename Pred>
void release_locks(INSTGV *g, Pred release) {
    for (int i = 0; i < zv::kLockLists; i++) {
        LOCKENT *kept_tail = nullptr;
        LOCKENT **link = &g->lockhead[i];
        for (LOCKENT *e = g->lockhead[i]; e;) {
            LOCKENT *next = e->next;
            if (release(e)) {
                zvputlst(e, zv::kListLock);
            } else {
                *link = e;
                link = &e->next;
                kept_tail = e;
            }
            e = next;
        }
        *link = nullptr;
        g->locktail[i] = kept_tail;
    }
}

// The savepoints that segment definition changes recorded on their files
// belong to the transaction that ends.
void forget_segment_savepoints(INSTGV *g) {
    if (!g->segsavepts) return;
    g->segsavepts = 0;
    for (int i = 0; g->fcbtab && i <= g->filecount; i++) {
        if (FCB *f = g->fcbtab[i]) f->segsavept = 0;
    }
}

}  // namespace

using zv::set_uerr;

extern "C" {

ZV_API int32_t TRANBEG(int32_t mode) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    if (g->tranactive) {
        set_uerr(70);
        return 0;
    }
    if (mode & kLogged) {
        set_uerr(454);
        return 0;
    }
    if (int lock = mode & 7) {
        if (lock == 5) lock = 11;
        if (int rc = LKISAM(lock)) {
            set_uerr(rc);
            return 0;
        }
    }
    g->tranactive = 1;
    g->savepoints = 0;
    set_uerr(0);
    return 1;
}

ZV_API int TRANABTX(int mode) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!g->tranactive) return set_uerr(71);
    g->tranactive = 0;
    forget_segment_savepoints(g);
    // The transaction is closed in every case below; a logged end cannot be
    // honoured, and saying so is the only honest answer.
    if (mode & kLogged) return set_uerr(454);
    uint16_t m = uint16_t(mode);
    if (m != 0 && m != 41 && m != 42) return set_uerr(0);
    if (m == 0) {
        g->isamlockmode = 0;
        release_locks(g, [](const LOCKENT *) { return true; });
    } else if (m == 41) {
        release_locks(g, [](const LOCKENT *e) { return (e->flags & kLockPartial) != 0; });
    } else {
        release_locks(g, [](const LOCKENT *e) { return (e->flags & kLockKept) == 0; });
    }
    return set_uerr(0);
}

ZV_API int TRANEND(int mode) { return TRANABTX(mode); }

ZV_API int TRANABT(void) { return TRANABTX(0); }

ZV_API int TRANSAV(void) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    if (!g->tranactive) {
        set_uerr(71);
        return 0;
    }
    g->savepoints = uint16_t(g->savepoints + 1);
    return int16_t(g->savepoints);
}

ZV_API int TRANRST(int n) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    int32_t count = int16_t(g->savepoints);
    if (!g->tranactive || count == 0 || n > count) return set_uerr(71);
    if (n >= 0) {
        g->savepoints = uint16_t(n);
    } else {
        if (count + n < 0) return set_uerr(71);
        g->savepoints = uint16_t(count + n + 1);
    }
    return set_uerr(0);
}

ZV_API int SAVPCLR(void) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!g->tranactive || int16_t(g->savepoints) < 1) return set_uerr(71);
    g->savepoints = uint16_t(g->savepoints - 1);
    return set_uerr(0);
}

ZV_API int TRANRDY(void) {
    if (!zvWNGV) return 47;
    return set_uerr(zvWNGV->tranactive ? 0 : 71);
}

ZV_API int TRANCLR(void) { return 0; }

ZV_API int SPCLSAV(void) { return 0; }

ZV_API int TRANUSR(void) {
    set_uerr(454);
    return 0;
}

ZV_API int TRANISO(int level) {
    if (!zvWNGV) return 47;
    return set_uerr(level > 3 ? 116 : 454);
}

}  // extern "C"
