// The ISAM lock mode of an instance (INSTGV::isamlockmode) and the release
// of the locks that ISAM calls took.
//
// Modes: 0 free; 2, 3, 4, 11, 12, 13 enabled, one of six variants; 5
// suspended (an enabled mode set aside). What each variant locks belongs to
// the record-lock layer, which this build leaves empty; the modes and their
// transitions are kept exactly all the same, since the record add of a
// batch, the transaction start and the record-level API rely on them.
//
// The lock lists of the instance (INSTGV::lockhead/locktail, lockcount
// chains) hold entries whose flag bits 0x1 and 0x4 mark a lock taken by an
// ISAM call: an enable request is refused (112) while one is held, and the
// release requests take them off the lists.
#include "engine/core/instance.h"
#include "engine/core/lockent.h"
#include "engine/core/pools.h"
#include "engine/isam/isamstate.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

constexpr uint8_t kIsamHeld = 0x1 | 0x4;  // lock entry flags of a lock an ISAM call took
constexpr uint16_t kSysKeepEntries = uint16_t(-3);  // system code: release clears flags only

bool enabled(uint16_t mode) {
    switch (mode) {
    case 2: case 3: case 4: case 11: case 12: case 13: return true;
    default: return false;
    }
}

int lock_lists(INSTGV *g) { return int(g->lockcount) < kLockLists ? int(g->lockcount) : kLockLists; }

// Both error codes, the ISAM one with file 0; the result.
int answer(INSTGV *g, int code) {
    g->uerr_cod = uint16_t(code);
    ierr(code, 0);
    return code;
}

bool isam_locks_held(INSTGV *g) {
    for (int i = 0; i < lock_lists(g); i++)
        for (const LOCKENT *e = g->lockhead[i]; e; e = e->next)
            if (e->flags & kIsamHeld) return true;
    return false;
}

// Takes the ISAM-held entries off every list (or, under the system code
// -3, only clears their flags), keeping the others in order.
void release_isam_locks(INSTGV *g) {
    const bool keep = g->sysiocod == kSysKeepEntries;
    for (int i = 0; i < lock_lists(g); i++) {
        LOCKENT *tail = nullptr;
        LOCKENT **link = &g->lockhead[i];
        for (LOCKENT *e = g->lockhead[i]; e;) {
            LOCKENT *next = e->next;
            if ((e->flags & kIsamHeld) && !keep) {
                zvputlst(e, kListLock);
            } else {
                if (e->flags & kIsamHeld) e->flags = 0;
                *link = e;
                link = &e->next;
                tail = e;
            }
            e = next;
        }
        *link = nullptr;
        g->locktail[i] = tail;
    }
    if (g->uerr_cod == 41) g->uerr_cod = 0;
}

}  // namespace

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int LKISAM(int request) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!isam_state(g).active) return answer(g, 464);
    if (request & ~0x2FF) return answer(g, 446);
    if (request & 0x200) return answer(g, 454);
    const uint16_t mode = g->isamlockmode;
    if (request == 128) {
        // The query: minus the mode, also left in both codes.
        const int q = -int(mode);
        g->uerr_cod = g->isamerr_cod = uint16_t(q);
        g->isamfil_num = 0;
        return q;
    }
    switch (request) {
    case 0:
    case 1:
        release_isam_locks(g);
        g->isamlockmode = request == 0 ? 0 : mode == 0 ? 2 : mode;
        return answer(g, 0);
    case 2: case 3: case 4: case 11: case 12: case 13:
        if (enabled(mode) && request <= 11 && request != mode) {
            g->isamlockmode = uint16_t(request);
            return answer(g, 0);
        }
        if (isam_locks_held(g)) return answer(g, 112);
        g->isamlockmode = uint16_t(request);
        return answer(g, 0);
    case 5:
        if (enabled(mode)) g->isamlockmode = 5;
        return answer(g, 0);
    case 6: case 7: case 8: case 14:
        if (mode == 5) g->isamlockmode = request == 6 ? 2 : request == 7 ? 4 : request == 8 ? 3 : 11;
        return answer(g, 0);
    default:
        return answer(g, 0);
    }
}

}  // extern "C"
