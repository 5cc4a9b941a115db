// Partitioned files: global unique indexes.
//
// A unique index of a host marked global (kPartGlobalIdx) keeps, in the
// host's own index file, one entry per key of every member: the entry's
// position names the member (raw number + 1 and its stamp), not a record.
// An equal key there refuses a new record in any member. An entry whose
// member no longer holds it (the raw number outside the table, a member of
// state 0 or 4, or another stamp) is stale: the index layer reports it
// (2 with sysiocod -726) and the add replaces it.
//
// Entry positions:
//   8-byte positions  low word raw + 1, high word the stamp;
//   4-byte positions  raw + 1 in the low 24 bits, the stamp in the high 8.
//
// Invariants:
//  1. The record operations of a host change the global entries before the
//     member and put them back when the member's change fails: the global
//     index holds exactly the keys of the records in live members.
//  2. A rewrite that moves neither the record nor a key writes nothing to
//     a global index.
#include <cstdio>
#include <cstring>

#include "engine/isam/fileset.h"
#include "engine/isam/isam_services.h"
#include "engine/core/filenum.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/core/fcb.h"
#include "engine/files/fixrec.h"
#include "engine/files/header.h"
#include "engine/index/curkey.h"
#include "engine/index/keydelete.h"
#include "engine/index/keyinsert.h"
#include "engine/index/node.h"
#include "engine/isam/isammap.h"
#include "engine/isam/isamrec.h"
#include "engine/isam/isamstate.h"
#include "engine/isam/partition.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

constexpr int16_t kStale = -726;

inline bool wide_index(const FCB *x) { return (x->hdr.base.hdrflags & kHdr8ByteOffsets) != 0; }

// The global unique index at relative key k of the host: its open block,
// or null when the slot holds none.
FCB *global_index(int hostno, const PARTDEF *pd, int k, int ix) {
    if (ix < 0 || k == pd->ptidx) return nullptr;
    FCB *x = fcb_at(ix);
    if (!x || x->kind != kKindIndex || !x->keybufs) return nullptr;
    (void)hostno;
    return (x->hdr.ext.flmode2 & kPartGlobalIdx) && !idx_dup(x) ? x : nullptr;
}

// The key of a global index: formed from rec into buf, or the current image
// (rec null). Null when the record has none there; *err when it cannot be
// had.
const unsigned char *key_of(int ix, FCB *x, const void *rec, int32_t reclen, unsigned char *buf, int *err) {
    *err = 0;
    if (rec) {
        set_uerr(0);
        int32_t n = frmkey(ix, rec, buf, 0, reclen);
        if (n > 0) return buf;
        if (zvWNGV->uerr_cod) *err = zvWNGV->uerr_cod;
        return nullptr;
    }
    KEYBUFSET *k = x->keybufs;
    if (k->curstate == 0) return nullptr;
    const unsigned char *cur = iGETCURK(ix, nullptr, nullptr);
    if (!cur) *err = 794;
    return cur;
}

int add_key(FCB *x, int ix, const unsigned char *key, int32_t raw, int32_t stamp) {
    return zvpartaddk(ix, key, raw, stamp, wide_index(x));
}

int delete_key(FCB *x, int ix, const unsigned char *key, int32_t raw, int32_t stamp) {
    uint32_t h, l;
    global_position(wide_index(x), raw, stamp, &h, &l);
    return idelchk(ix, key, h, l, 129);
}

// Walks the global unique indexes of a host in relative-key order:
// step(k, ix, x) for each; the first non-zero result ends the walk and is
// returned. *reached: the relative key the walk reached (all of them when
// it ran to the end).
template <class Step>
int each_global(int hostno, const PARTDEF *pd, int *reached, Step step) {
    int k = 0;
    for (; k < kMapIndexes; k++) {
        const int ix = isam_map_index(hostno, k);
        if (ix == kIdxListEnd) break;
        *reached = k;
        FCB *x = global_index(hostno, pd, k, ix);
        if (!x) continue;
        if (int rc = step(k, ix, x)) return rc;
    }
    *reached = k;
    return 0;
}

// One index's part of a rewrite: what it deletes and adds.
struct RewriteStep {
    const unsigned char *oldkey;
    const unsigned char *newkey;
    bool del, add;
};

RewriteStep rewrite_step(FCB *x, const unsigned char *oldkey, const unsigned char *newkey, bool moved) {
    const bool same = oldkey && newkey && memcmp(oldkey, newkey, size_t(x->hdr.base.keylen)) == 0;
    RewriteStep s{oldkey, newkey, false, false};
    s.del = oldkey && (moved || !same);
    s.add = newkey && (moved || !same);
    return s;
}

// Undo walk: step(ix, x) for the global unique indexes of relative keys
// count - 1 down to 0, every one whatever the others gave. 0, or 105 when
// a step failed; the user error is left as it was.
template <class Step>
int each_global_back(int hostno, const PARTDEF *pd, int count, Step step) {
    INSTGV *g = zvWNGV;
    const uint16_t keep = g->uerr_cod;
    bool failed = false;
    for (int k = count - 1; k >= 0; k--) {
        const int ix = isam_map_index(hostno, k);
        FCB *x = global_index(hostno, pd, k, ix);
        if (x && step(ix, x)) failed = true;
    }
    g->uerr_cod = keep;
    return failed ? 105 : 0;
}

}  // namespace

void global_position(bool wide, int32_t raw, int32_t stamp, uint32_t *posh, uint32_t *posl) {
    if (wide) {
        *posh = uint32_t(stamp);
        *posl = uint32_t(raw) + 1;
    } else {
        *posh = 0;
        *posl = ((uint32_t(raw) + 1) & 0xFFFFFFu) | uint32_t(stamp) << 24;
    }
}

int zvpartaddk(int ixno, const void *key, int32_t raw, int32_t stamp, bool wide) {
    INSTGV *g = zvWNGV;
    uint32_t h, l;
    global_position(wide, raw, stamp, &h, &l);
    g->sysiocod = 0;
    int rc = iaddkey(ixno, key, h, l, 128);
    if (rc == 2 && int16_t(g->sysiocod) == kStale && !g->rebuilding) {
        // The equal entry belongs to a member that no longer holds it: a
        // purged one, whose keys the enhanced counts hold as purged.
        FCB *x = fcb_at(ixno);
        if (DELBLD(ixno, key) && x && (x->hdr.base.hdrflags2 & 0x20000) && x->hdr.ext.wide64[0] > 0) {
            x->hdr.ext.wide64[0]--;
            tstupd(x->hostfcb ? x->hostfcb : x);
        }
        set_uerr(0);
        rc = iaddkey(ixno, key, h, l, 128);
    }
    return rc;
}

int zvuniqpart(FCB *host, int *count, int *fail, int hostno, int32_t raw, int32_t stamp, bool serial,
               int32_t reclen, void *rec) {
    INSTGV *g = zvWNGV;
    *count = 0;
    *fail = 0;
    if (serial && rec && (host->hdr.ext.flmode2 & kPartSerial)) {
        int err = 0;
        uint32_t sh = 0;
        uint32_t sl = zvdhupd81(&sh, 0, 1, &err, host);
        if (err) return set_uerr(err);
        g->lastserh = sh;
        g->lastserl = sl;
        setsrlpos(host, rec);
        if ((host->hdr.base.flmode & 0x40) && wrthdr(host)) return g->uerr_cod;
        if (int rc = tstupd(host)) return rc;
    }
    const PARTDEF *pd = host->partdef;
    if (!(host->hdr.ext.flmode2 & kPartGlobal) || !pd) return 0;
    unsigned char buf[kIsamKeyRoom];
    return each_global(hostno, pd, count, [&](int, int ix, FCB *x) {
        int err = 0;
        const unsigned char *key = key_of(ix, x, rec, reclen, buf, &err);
        int rc = err;
        if (!rc && key) rc = rec ? add_key(x, ix, key, raw, stamp) : delete_key(x, ix, key, raw, stamp);
        if (rc) *fail = ix;
        return set_uerr(rc);
    });
}

int zvuniqpartrwt(FCB *host, int *count, int *fail, int hostno, int32_t oldraw, int32_t oldstamp,
                  int32_t newraw, int32_t newstamp, int32_t reclen, const void *rec) {
    *count = 0;
    *fail = 0;
    const PARTDEF *pd = host->partdef;
    if (!(host->hdr.ext.flmode2 & kPartGlobal) || !pd) return 0;
    const bool moved = oldraw != newraw || oldstamp != newstamp;
    unsigned char buf[kIsamKeyRoom];
    return each_global(hostno, pd, count, [&](int k, int ix, FCB *x) {
        int e1 = 0, e2 = 0;
        const unsigned char *oldkey = key_of(ix, x, nullptr, 0, nullptr, &e1);
        const unsigned char *newkey = key_of(ix, x, rec, reclen, buf, &e2);
        int rc = e1 ? e1 : e2;
        RewriteStep st = rewrite_step(x, oldkey, newkey, moved);
        if (!rc && st.del) rc = delete_key(x, ix, st.oldkey, oldraw, oldstamp);
        if (!rc && st.add && (rc = add_key(x, ix, st.newkey, newraw, newstamp)) != 0 && st.del) {
            ErrorKeep keep;
            add_key(x, ix, st.oldkey, oldraw, oldstamp);
        }
        if (!rc) return 0;
        *fail = ix;
        int u = zvuniqpartrwt_undo(host, hostno, k, oldraw, oldstamp, newraw, newstamp, reclen, rec);
        return set_uerr(u ? u : rc);
    });
}

int zvuniqpartrwt_undo(FCB *host, int hostno, int count, int32_t oldraw, int32_t oldstamp, int32_t newraw,
                       int32_t newstamp, int32_t reclen, const void *rec) {
    const bool moved = oldraw != newraw || oldstamp != newstamp;
    unsigned char buf[kIsamKeyRoom];
    return each_global_back(hostno, host->partdef, count, [&](int ix, FCB *x) {
        int e1 = 0, e2 = 0;
        const unsigned char *oldkey = key_of(ix, x, nullptr, 0, nullptr, &e1);
        const unsigned char *newkey = key_of(ix, x, rec, reclen, buf, &e2);
        RewriteStep st = rewrite_step(x, oldkey, newkey, moved);
        bool bad = false;
        if (st.add && delete_key(x, ix, st.newkey, newraw, newstamp)) bad = true;
        if (st.del && add_key(x, ix, st.oldkey, oldraw, oldstamp)) bad = true;
        return bad;
    });
}

int zvuniqpartundo(FCB *host, int hostno, int count, int mode, int32_t raw, int32_t stamp, int32_t reclen,
                   const void *rec) {
    if (!host->partdef) return 0;
    unsigned char buf[kIsamKeyRoom];
    return each_global_back(hostno, host->partdef, count, [&](int ix, FCB *x) {
        int err = 0;
        const unsigned char *key = key_of(ix, x, rec, reclen, buf, &err);
        if (!key) return err != 0;
        return (mode == 1 ? delete_key(x, ix, key, raw, stamp) : add_key(x, ix, key, raw, stamp)) != 0 || err;
    });
}

namespace {

constexpr uint32_t kEnhanced = 0x20000;   // header flags 2: enhanced counts kept

bool enhanced(const FCB *f) { return (f->hdr.base.hdrflags2 & kEnhanced) != 0; }

void log_pair(const char *line, const char *name) {
    zvrcvlog(line, kLogSingleTry);
    zvrcvlog(name, kLogSingleTry);
}

}  // namespace

int loseEnhancedGUIx(FCB *host, int hostno, int location) {
    INSTGV *g = zvWNGV;
    char line[120];
    snprintf(line, sizeof line, "Turning off enhanced IDXENT for GUIx at locale: %d", location);
    log_pair(line, host->name);
    host->hdr.base.hdrflags2 &= ~kEnhanced;
    host->hdr.base.updflg = kUpdChanged;
    for (int k = 0; k < kMapIndexes; k++) {
        const int ix = isam_map_index(hostno, k);
        if (ix == kIdxListEnd) break;
        if (ix < 0) continue;
        FCB *x = fcb_at(ix);
        if (!x || x->kind != kKindIndex) {
            snprintf(line, sizeof line, "Unexpected partitioned host index error: %d", int(g->uerr_cod ? g->uerr_cod : 26));
            zvrcvlog(line, kLogSingleTry);
            snprintf(line, sizeof line, "Relative key number: %d", k);
            log_pair(line, host->name);
            set_uerr(0);
            continue;
        }
        if (!enhanced(x)) continue;
        snprintf(line, sizeof line, "Enhanced IDXENT GUIx turned off for index %d", int(x->hdr.base.kmem));
        log_pair(line, x->name);
        x->hdr.ext.wide64[0] = x->hdr.ext.wide64[1] = 0;
        x->hdr.base.hdrflags2 &= ~kEnhanced;
        FCB *xh = x->hostfcb ? x->hostfcb : x;
        xh->hdr.base.updflg = kUpdChanged;
    }
    return 0;
}

int setactdelta(FCB *host, int hostno, int memberno, int direction, int32_t prevstate) {
    INSTGV *g = zvWNGV;
    if (!(host->hdr.ext.flmode2 & kPartGlobal) || !enhanced(host) || !host->partdef) return 0;
    const PARTDEF *pd = host->partdef;
    int failed = 0;
    for (int k = 0; k < kMapIndexes && !failed; k++) {
        const int ix = isam_map_index(hostno, k);
        if (ix == kIdxListEnd) break;
        FCB *x = global_index(hostno, pd, k, ix);
        if (!x || !enhanced(x)) continue;
        const int mix = relative_index(memberno, k);
        FCB *mx = mix >= 0 ? fcb_at(mix) : nullptr;
        if (!mx || !(mx->hdr.ext.flmode2 & kPartGlobalIdx)) {
            failed = 615;
            break;
        }
        set_uerr(0);
        const uint32_t lo = IDXENT(mix);
        const uint64_t n = uint64_t(uint32_t(zvGETHGHi())) << 32 | lo;
        if (g->uerr_cod) {
            failed = g->uerr_cod;
            break;
        }
        uint64_t &purged = x->hdr.ext.wide64[0], &archived = x->hdr.ext.wide64[1];
        const uint64_t p0 = purged, a0 = archived;
        if (direction > 0) {
            purged += n;
            if (prevstate == kMbrArchived) archived -= n;
        } else if (direction == 0) {
            archived += n;
        } else {
            archived -= n;
        }
        if (int rc = tstupd(x->hostfcb ? x->hostfcb : x)) {
            purged = p0;
            archived = a0;
            failed = rc;
        }
    }
    if (!failed) return 0;
    {
        ErrorKeep keep;
        loseEnhancedGUIx(host, hostno, 1);
    }
    return set_uerr(failed);
}

int zvpartaddk_member(int datno, int idxno, const void *key) {
    FCB *member = fcb_at(datno);
    FCB *host = zvparthost();
    if (!member || !host || !host->partdef) return 0;
    const int rel = host_index_slot(datno, idxno);
    const int hix = rel >= 0 ? relative_index(host->filno, rel) : -1;
    FCB *x = hix >= 0 ? fcb_at(hix) : nullptr;
    if (!x || !(x->hdr.ext.flmode2 & kPartGlobalIdx)) return 0;
    // The member the partition rebuild recorded, under the stamp it gives it.
    const IsamState &st = isam_state(zvWNGV);
    const bool recorded = st.rblhost == host && st.rblraw > 0;
    const int32_t raw = recorded ? st.rblraw : int32_t(member->hdr.ext.crew15);
    const int32_t stamp = recorded ? st.rblstamp : int32_t(member->hdr.ext.crew14);
    int rc = zvpartaddk(hix, key, raw, stamp, wide_index(x));
    if (rc == 2 && recorded && int16_t(zvWNGV->sysiocod) == kStale) {
        // An entry of the member as it was before this rebuild gave it a
        // new stamp: the rebuilt member's key replaces it.
        DELBLD(hix, key);
        set_uerr(0);
        uint32_t h, l;
        global_position(wide_index(x), raw, stamp, &h, &l);
        rc = iaddkey(hix, key, h, l, 128);
    }
    return rc;
}

}  // namespace zv

// ---- The index layer's question ---------------------------------------------------

bool partition_entry_stale(FCB *x, uint32_t posh, uint32_t posl) {
    using namespace zv;
    const ISAMMAPENT *e = isam_entry(x->filno);
    FCB *host = e && int16_t(e->datno) >= 0 ? fcb_at(int16_t(e->datno)) : nullptr;
    PARTDEF *pd = host ? host->partdef : nullptr;
    if (!pd) return true;
    int32_t raw, stamp;
    if (wide_index(x)) {
        raw = int32_t(posl) - 1;
        stamp = int32_t(posh);
    } else {
        raw = int32_t(posl & 0xFFFFFFu) - 1;
        stamp = int32_t(posl >> 24);
    }
    const PARTMBR *m = member_entry(pd, raw);
    return !m || m->state == kMbrNone || m->state == kMbrPurged || m->stamp != stamp;
}
