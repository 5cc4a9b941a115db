// Key sets: the records of an index whose keys begin with a given prefix,
// read one per call in key order, forwards or backwards.
//
// The current set lives in the instance: the target image (the transformed
// prefix, then after every successful read the whole key read), the
// significant length and the set's index. A step searches strictly beyond
// the target image and checks that the entry found still has the prefix;
// the record it points to is then read and made the current ISAM record.
// A record the filter rejects (739) is passed over by searching on from
// it, so 739 never reaches the caller. At the end of the set (101) the
// target image still holds the last record's key, so reading the other way
// continues from it.
//
// Further sets can be parked in numbered slots (CHGSET): slot n lives in
// chain n modulo the table size, and switching saves the current state
// into the current slot and loads the other one.
#include "engine/index/keyset.h"

#include <cstddef>
#include <cstring>

#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/core/fcb.h"
#include "engine/index/curkey.h"
#include "engine/index/index_services.h"
#include "engine/isam/isam_services.h"
#include "engine/index/keyform_needs.h"
#include "engine/index/keysearch.h"
#include "engine/index/navstate.h"
#include "engine/index/node.h"

namespace zv {

struct SetSlot {
    SetSlot *next;                       // next slot of the same chain
    int32_t number;                      // set number
    int16_t siglen;                      // significant length
    int16_t idx1;                        // index number + 1 (0: none)
    unsigned char target[kSetKeyLen];    // target image
    unsigned char saved[kSetKeyLen];     // saved target image
};
static_assert(sizeof(SetSlot) == 2064, "a set slot is 2064 bytes");

namespace {

NavState &nav() { return nav_state(zvWNGV); }

int strict(int mode) { return mode == 'G' ? 'H' : mode == 'M' ? 'N' : mode; }

// The open index of a set call; null with the error set.
FCB *set_index(int keyno) {
    FCB *f = tstifnm(keyno);
    if (!f) return nullptr;
    if (f->kind != kKindIndex || !f->keybufs) return set_uerr(48), nullptr;
    return f;
}

// Searches from the target image, checks the prefix and reads the record,
// passing over records the filter rejects.
int set_walk(FCB *f, int keyno, int mode, void *record, int32_t *len) {
    NavState &N = nav();
    const int32_t k = f->hdr.base.keylen;
    const int32_t sig = N.setsiglen;
    const int32_t given = len ? *len : 0;
    for (;;) {
        uint32_t lo = ser(f, N.settarget, N.foundkey, mode);
        uint32_t hi = uint32_t(tsthghwrd());
        if (!lo && !hi) return reset_cur(keyno, 0, 0, record);
        if (memcmp(N.foundkey, N.settarget, size_t(sig)) != 0) {
            zvclrlockon();
            return set_uerr(101);
        }
        N.setidx1 = keyno + 1;
        memcpy(N.setsaved, N.settarget, size_t(k));
        memcpy(N.settarget + sig, N.foundkey + sig, size_t(k - sig));
        int rc = reset_cur2(keyno, hi, lo, record, len);
        if (rc == 0) return set_uerr(0);
        if (rc != 739) {
            memcpy(N.settarget, N.setsaved, size_t(k));
            return rc;
        }
        mode = strict(mode);
        if (len) *len = given;
    }
}

int32_t slot_count() {
    NavState &N = nav();
    return N.settabsize > 0 ? N.settabsize : kSetSlotsDefault;
}

SetSlot **chain_of(int32_t number) {
    NavState &N = nav();
    int64_t i = int64_t(number) % N.setslots;
    if (i < 0) i += N.setslots;
    return &N.settab[i];
}

int alloc_table() {
    NavState &N = nav();
    int32_t n = slot_count();
    N.settab = static_cast<SetSlot **>(zvgetmem(int32_t(sizeof(SetSlot *)) * n));
    if (!N.settab) return 185;
    N.setslots = n;
    N.setcur = nullptr;
    return 0;
}

void free_sets() {
    NavState &N = nav();
    if (N.settab) {
        for (int32_t i = 0; i < N.setslots; i++) {
            SetSlot *s = N.settab[i];
            while (s) {
                SetSlot *next = s->next;
                zvputmem(s);
                s = next;
            }
        }
        zvputmem(N.settab);
    }
    N.settab = nullptr;
    N.setslots = 0;
    N.setcur = nullptr;
    N.setidx1 = 0;
}

int isam_result(int code, int keyno) { return ierr(code, keyno); }

}  // namespace

int boundSET(int mode, int fill, int keyno, const void *target, void *record, int32_t siglen, int32_t *len) {
    INSTGV *g = zvWNGV;
    NavState &N = nav_state(g);
    if (siglen < 0) return set_uerr(634);
    N.setidx1 = 0;
    FCB *f = set_index(keyno);
    if (!f) return g->uerr_cod;
    const int32_t k = f->hdr.base.keylen;
    if (k > kSetKeyLen) return set_uerr(45);
    // The significant length never exceeds the key: no byte of the target
    // beyond it is read, and the work image holds a whole key.
    int32_t sig = siglen < k ? siglen : k;
    if (sig > 0 && !target) return set_uerr(540);
    unsigned char work[kKeyRoom];
    memset(work, 0, size_t(k));
    if (sig > 0) memcpy(work, target, size_t(sig));
    memset(N.settarget + sig, fill, size_t(k - sig));
    if (!(g->userprof & 1)) {
        // The position suffix is zero unless the prefix covers it.
        const int32_t p = idx_psize(f);
        unsigned char suffix[8];
        const bool keep = idx_dup(f) && sig >= k;
        if (keep) memcpy(suffix, work + k - p, size_t(p));
        if (!TFRMKEY(keyno, work)) {
            int rc = g->isamerr_cod ? g->isamerr_cod : g->uerr_cod;
            return set_uerr(rc ? rc : 80);
        }
        if (keep) memcpy(work + k - p, suffix, size_t(p));
    }
    memcpy(N.settarget, work, size_t(sig));
    N.setsiglen = sig;
    return set_walk(f, keyno, mode, record, len);
}

int seqSET(int mode, int keyno, void *record, int32_t *len) {
    INSTGV *g = zvWNGV;
    FCB *f = set_index(keyno);
    if (!f) return g->uerr_cod;
    if (nav_state(g).setidx1 != keyno + 1) return set_uerr(118);
    return set_walk(f, keyno, mode, record, len);
}

int iMIDSET(int keyno, void *record, int32_t siglen, int32_t *len) {
    INSTGV *g = zvWNGV;
    if (siglen < 0) return set_uerr(634);
    FCB *f = set_index(keyno);
    if (!f) return g->uerr_cod;
    int datno = keymap_datno(keyno);
    if (datno < 0) return set_uerr(614);
    FCB *d = tstifnm(datno);
    if (!d) return g->uerr_cod;
    if (!d->isamposh && !d->isamposl) {
        zvclrlockon();
        return set_uerr(100);
    }
    unsigned char cur[kKeyRoom];
    int32_t klen;
    if (!iGETCURK(keyno, cur, &klen)) return g->uerr_cod;
    const uint16_t prof = g->userprof;
    g->userprof |= 1;
    int rc = boundSET('G', 0x00, keyno, cur, record, klen, len);
    g->userprof = prof;
    if (rc == 0) nav_state(g).setsiglen = siglen < klen ? siglen : klen;
    return rc;
}

void release_nav_state() {
    INSTGV *g = zvWNGV;
    if (!g) return;
    free_sets();
    zvputmemn(&nav_state(g).refbuf);
    nav_state(g).refsel = 0;
    nav_state(g).isammode = 0;
    nav_state(g).load.active = 0;
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int FRSSET(int keyno, const void *target, void *record, int32_t siglen) {
    if (!zvWNGV) return 47;
    return isam_result(boundSET('G', 0x00, keyno, target, record, siglen, nullptr), keyno);
}

ZV_API int LSTSET(int keyno, const void *target, void *record, int32_t siglen) {
    if (!zvWNGV) return 47;
    return isam_result(boundSET('M', 0xFF, keyno, target, record, siglen, nullptr), keyno);
}

ZV_API int FRSVSET(int keyno, const void *target, void *record, int32_t siglen, int32_t *len) {
    if (!zvWNGV) return 47;
    if (int rc = zv_chkplen(len)) return isam_result(rc, keyno);
    return isam_result(boundSET('G', 0x00, keyno, target, record, siglen, len), keyno);
}

ZV_API int LSTVSET(int keyno, const void *target, void *record, int32_t siglen, int32_t *len) {
    if (!zvWNGV) return 47;
    if (int rc = zv_chkplen(len)) return isam_result(rc, keyno);
    return isam_result(boundSET('M', 0xFF, keyno, target, record, siglen, len), keyno);
}

ZV_API int NXTSET(int keyno, void *record) {
    if (!zvWNGV) return 47;
    return isam_result(seqSET('H', keyno, record, nullptr), keyno);
}

ZV_API int PRVSET(int keyno, void *record) {
    if (!zvWNGV) return 47;
    return isam_result(seqSET('N', keyno, record, nullptr), keyno);
}

ZV_API int NXTVSET(int keyno, void *record, int32_t *len) {
    if (!zvWNGV) return 47;
    if (int rc = zv_chkplen(len)) return isam_result(rc, keyno);
    return isam_result(seqSET('H', keyno, record, len), keyno);
}

ZV_API int PRVVSET(int keyno, void *record, int32_t *len) {
    if (!zvWNGV) return 47;
    if (int rc = zv_chkplen(len)) return isam_result(rc, keyno);
    return isam_result(seqSET('N', keyno, record, len), keyno);
}

ZV_API int MIDSET(int keyno, void *record, int32_t siglen) {
    if (!zvWNGV) return 47;
    return isam_result(iMIDSET(keyno, record, siglen, nullptr), keyno);
}

ZV_API int MIDVSET(int keyno, void *record, int32_t siglen, int32_t *len) {
    if (!zvWNGV) return 47;
    if (int rc = zv_chkplen(len)) return isam_result(rc, keyno);
    return isam_result(iMIDSET(keyno, record, siglen, len), keyno);
}

ZV_API int ALCSET(void) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    if (nav_state(g).settab) return isam_result(184, 0);
    return isam_result(alloc_table(), 0);
}

ZV_API int CHGSET(int32_t number) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    NavState &N = nav_state(g);
    g->isamerr_cod = 0;
    if (!N.settab)
        if (int rc = alloc_table()) return isam_result(rc, 0);
    if (N.setcur && N.setcur->number == number) return 0;
    if (SetSlot *c = N.setcur) {
        c->siglen = int16_t(N.setsiglen);
        c->idx1 = int16_t(N.setidx1);
        memcpy(c->target, N.settarget, kSetKeyLen);
        memcpy(c->saved, N.setsaved, kSetKeyLen);
    }
    SetSlot **link = chain_of(number);
    while (*link && (*link)->number != number) link = &(*link)->next;
    SetSlot *s = *link;
    if (!s) {
        s = static_cast<SetSlot *>(zvgetmem(int32_t(sizeof(SetSlot))));
        if (!s) {
            N.setcur = nullptr;
            return isam_result(185, 0);
        }
        s->number = number;
        *link = s;
    }
    N.setcur = s;
    N.setsiglen = s->siglen;
    N.setidx1 = s->idx1;
    memcpy(N.settarget, s->target, kSetKeyLen);
    memcpy(N.setsaved, s->saved, kSetKeyLen);
    return 0;
}

ZV_API int FRESETN(int32_t number) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    NavState &N = nav_state(g);
    g->isamerr_cod = 0;
    if (!N.settab) return 0;
    if (N.setcur && N.setcur->number == number) {
        N.setidx1 = 0;
        N.setcur = nullptr;
    }
    SetSlot **link = chain_of(number);
    while (*link && (*link)->number != number) link = &(*link)->next;
    if (SetSlot *s = *link) {
        *link = s->next;
        zvputmem(s);
    }
    return 0;
}

ZV_API int FRESET(void) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    free_sets();
    g->isamerr_cod = 0;
    return 0;
}

}  // extern "C"
