// Partitioned files: key searches across members.
//
// A host index holds no keys of its own (but a global unique index, which
// names members): a key search on it is carried out on the member indexes
// of the same relative key and answered as if the host index held all
// their keys. The key found goes to the caller's buffer and the host
// index's work key; the position is the member's with the member's raw
// number in its high word.
//
// An index in member order (partition-ordered) is searched member after
// member from the target's member. Any other index is a merge: every
// member's candidate is compared and the lowest (descending: highest)
// wins, equal keys by ascending raw number (descending: the higher raw
// number first). Each member index keeps its candidate in its search
// buffer:
//   OFFSET SIZE
//     0    4   owner: the member index's file number + 1 (0: empty)
//     4    4   position, high word
//     8    4   position, low word
//    12    4   state: 1 the member's next candidate, 2 taken (returned),
//              -1 the member has no key in the search's direction
//    16    k   the candidate key
// so that a following next (or previous) search steps only the member
// whose candidate was taken.
//
// Invariants:
//  1. The buffers are trusted only to continue the last search of the same
//     host index from its own result, with no record of the host added,
//     rewritten or deleted and no context switched since (the host's
//     search index is -1 after any of these): then every key of every
//     active member is returned exactly once.
//  2. A fresh search fills every member's buffer; a member whose buffer
//     cannot be trusted searches again from the target, with the members
//     above (below) the last result's raw number included at an equal key,
//     so that an equal key of another member is not passed over.
#include <cstdio>
#include <cstring>

#include "engine/core/filenum.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/core/fcb.h"
#include "engine/index/keyform_needs.h"
#include "engine/index/keysearch.h"
#include "engine/index/node.h"
#include "engine/index/nodebuf.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isamstate.h"
#include "engine/isam/partition.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

constexpr int kCandHead = 16;
enum : int32_t { kCandEmpty = 0, kCandHeld = 1, kCandTaken = 2, kCandNone = -1 };

struct CandHead {
    int32_t owner;
    uint32_t posh, posl;
    int32_t state;
};

unsigned char *buffer_of(FCB *mx) { return mx && mx->keybufs ? mx->keybufs->search : nullptr; }

CandHead head_of(const unsigned char *b) {
    CandHead h;
    memcpy(&h, b, sizeof h);
    return h;
}

void put_head(unsigned char *b, const CandHead &h) { memcpy(b, &h, sizeof h); }

void set_state(unsigned char *b, int32_t state) {
    if (b) memcpy(b + offsetof(CandHead, state), &state, sizeof state);
}

uint32_t nothing(int code) {
    zvSETHGHi(0);
    set_uerr(code);
    return 0;
}

// One member index search, counted.
uint32_t member_search(int mix, int op, const void *target, void *out) {
    isam_state(zvWNGV).partsteps++;
    set_uerr(0);
    switch (op) {
    case 'E': return EQLKEY(mix, target);
    case 'G': return GTEKEY(mix, target, out);
    case 'H': return GTKEY(mix, target, out);
    case 'M': return LTEKEY(mix, target, out);
    case 'N': return LTKEY(mix, target, out);
    case 'F': return FRSKEY(mix, out);
    case 'L': return LSTKEY(mix, out);
    case '>': return NXTKEY(mix, out);
    case '<': return PRVKEY(mix, out);
    }
    return 0;
}

// Member open failures that mean "no keys there".
bool passed_over(int code, bool descending) {
    return code == 715 || code == 720 || code == 721 || (code == 712 && !descending) || (code == 730 && descending);
}

// Writes the lines about a member index that cannot be reached.
void log_unreachable(const HostIndex &h, int code, int32_t raw, int m, int mix) {
    char line[200];
    snprintf(line, sizeof line,
             "Failed reference to partition index file. Error# %d\n\t\tRaw Partition# %d  Relative key# %d", code,
             int(raw), h.rel);
    zvrcvlog(line, kLogSingleTry);
    snprintf(line, sizeof line, "Partition data file# %d   Partition index file# %d\n\t\tUser file# high watermark %d",
             m, mix, int(zvWNGV->filecount));
    zvrcvlog(line, kLogSingleTry);
    snprintf(line, sizeof line, "     Host data file# %d   Host index file# %d", h.hostno, h.keyno);
    zvrcvlog(line, kLogSingleTry);
    snprintf(line, sizeof line, "Partitioning index relative key#: %d\n\t\tPartitioning index file#: %d",
             int(h.pd->ptidx), h.pix);
    zvrcvlog(line, kLogSingleTry);
    zvrcvlog(h.host->name, kLogSingleTry);
    zvrcvlog(h.x->name, kLogSingleTry);
    FCB *mf = m >= 0 ? fcb_at(m) : nullptr;
    zvrcvlog(mf ? mf->name : "Could not get partition data file name", kLogSingleTry);
}

// The answer of a search: the key to the caller and the host index's work
// key, the position encoded with the raw number, the host's search state.
uint32_t found(const HostIndex &h, int32_t raw, uint32_t posh, uint32_t posl, const unsigned char *key,
               void *keyout, bool descending = false) {
    if (zvoverloadpart(h.host, &posh, raw)) return nothing(717);
    const size_t kl = size_t(h.x->hdr.base.keylen);
    if (keyout && keyout != key) memcpy(keyout, key, kl);
    if (h.x->keybufs && key != h.x->keybufs->work) memcpy(h.x->keybufs->work, key, kl);
    PARTDEF *pd = h.pd;
    pd->ptsearch = raw;
    pd->ptsrchix = h.keyno;
    pd->ptsrchh = posh;
    pd->ptsrchl = posl;
    pd->ptsrchdn = descending ? 1 : 0;
    set_uerr(0);
    zvSETHGHi(int32_t(posh));
    return posl;
}

// ---- Exact search ---------------------------------------------------------------

uint32_t exact(const HostIndex &h, const void *target) {
    INSTGV *g = zvWNGV;
    int32_t raw = -1;
    if (h.ordered || h.mapped) {
        raw = raw_of_key(h, target);
        if (raw < 0) return nothing(g->uerr_cod ? g->uerr_cod : 712);
    } else if (!idx_dup(h.x) && (h.x->hdr.ext.flmode2 & kPartGlobalIdx)) {
        // The host's own global unique index names the member.
        set_uerr(0);
        const uint32_t lo = fndkey(h.x, static_cast<const unsigned char *>(target), 'E', nullptr);
        const uint32_t hi = uint32_t(zvGETHGHi());
        if (!lo && !hi) return nothing(g->uerr_cod);
        raw = (h.x->hdr.base.hdrflags & kHdr8ByteOffsets) ? int32_t(lo) - 1 : int32_t(lo & 0xFFFFFFu) - 1;
    } else {
        return nothing(454);
    }
    const int m = pfilno(h.hostno, raw, false);
    if (m < 0) {
        const int code = g->uerr_cod;
        return nothing(passed_over(code, false) ? 0 : code);
    }
    const int mix = relative_index(m, h.rel);
    if (mix < 0) {
        log_unreachable(h, 615, raw, m, mix);
        return nothing(615);
    }
    const uint32_t lo = member_search(mix, 'E', target, nullptr);
    const uint32_t hi = uint32_t(zvGETHGHi());
    if (!lo && !hi) return nothing(g->uerr_cod);
    return found(h, raw, hi, lo, static_cast<const unsigned char *>(target), nullptr);
}

// ---- Member order --------------------------------------------------------------

uint32_t in_order(const HostIndex &h, int op, const void *target, void *keyout, bool descending) {
    INSTGV *g = zvWNGV;
    PARTDEF *pd = h.pd;
    unsigned char *key = h.x->keybufs->work;
    int32_t raw = descending ? 0x7FFFFFFF : -1;   // the walk's start: the lowest or highest member
    if (target) {
        int32_t r = raw_of_key(h, target);
        if (r < 0) return nothing(g->uerr_cod ? g->uerr_cod : 712);
        int32_t low = 0, high = 0;
        if (pd->ptlow == -1 || pd->pthigh == -1) setrawnolmt(pd);
        low = pd->ptlow;
        high = pd->pthigh;
        if (low == -1) return nothing(0);
        if (!descending && r > high) return nothing(0);
        if (descending && r < low) return nothing(0);
        if (r >= low && r <= high) {
            const int m = pfilno(h.hostno, r, false);
            if (m >= 0) {
                const int mix = relative_index(m, h.rel);
                if (mix < 0) {
                    log_unreachable(h, 615, r, m, mix);
                    return nothing(615);
                }
                const uint32_t lo = member_search(mix, op, target, key);
                const uint32_t hi = uint32_t(zvGETHGHi());
                if (lo || hi) return found(h, r, hi, lo, key, keyout);
                if (g->uerr_cod) return nothing(g->uerr_cod);
            } else if (!passed_over(g->uerr_cod, descending)) {
                return nothing(g->uerr_cod);
            }
            raw = r;
        }
    }
    // The members after (before) the start, from their first (last) key.
    for (;;) {
        const int m = descending ? prvpartno(h.host, h.hostno, &raw) : nxtpartno(h.host, h.hostno, &raw, false);
        if (m == -2) return nothing(0);
        if (m < 0) return nothing(g->uerr_cod ? g->uerr_cod : 714);
        const int mix = relative_index(m, h.rel);
        if (mix < 0) {
            log_unreachable(h, 615, raw, m, mix);
            return nothing(615);
        }
        const uint32_t lo = member_search(mix, descending ? 'L' : 'F', nullptr, key);
        const uint32_t hi = uint32_t(zvGETHGHi());
        if (lo || hi) return found(h, raw, hi, lo, key, keyout);
        if (g->uerr_cod) return nothing(g->uerr_cod);
    }
}

// ---- Merge over members ----------------------------------------------------------

// Whether the members' buffers may continue the host index's last search
// (one in the same direction).
bool may_continue(const HostIndex &h, bool isam, bool descending) {
    const PARTDEF *pd = h.pd;
    if (pd->ptsrchix != h.keyno || pd->ptsrchdn != (descending ? 1 : 0)) return false;
    if (!isam) return true;
    return h.host->isamposh == pd->ptsrchh && h.host->isamposl == pd->ptsrchl;
}

uint32_t merge(const HostIndex &h, int op, const void *target, void *keyout, bool descending, bool cont,
               int32_t split) {
    INSTGV *g = zvWNGV;
    const int32_t kl = h.x->hdr.base.keylen;
    int32_t raw = -1;
    unsigned char *best = nullptr;
    int32_t bestraw = 0;
    int bestmix = -1;
    CandHead besth{};
    for (;;) {
        const int m = nxtpartno(h.host, h.hostno, &raw, false);
        if (m == -2) break;
        if (m < 0) {
            const int code = g->uerr_cod ? g->uerr_cod : 714;
            log_unreachable(h, code, raw, m, -1);
            return nothing(code);
        }
        const int mix = relative_index(m, h.rel);
        FCB *mx = mix >= 0 ? fcb_at(mix) : nullptr;
        unsigned char *b = buffer_of(mx);
        if (!mx || !b || mx->keybufs->searchlen < kCandHead + kl) {
            const int code = mx ? 614 : 615;
            log_unreachable(h, code, raw, m, mix);
            return nothing(code);
        }
        CandHead c = head_of(b);
        unsigned char *ck = b + kCandHead;
        const bool mine = cont && c.owner == mix + 1 && c.state != kCandEmpty;
        if (mine && c.state == kCandNone) continue;
        if (!mine || c.state == kCandTaken) {
            uint32_t lo, hi;
            if (mine) {
                // The member whose candidate was taken steps on from it: from
                // where its index stands, or by a search past the key.
                const bool there = memcmp(mx->keybufs->work, ck, size_t(kl)) == 0;
                lo = there ? member_search(mix, descending ? '<' : '>', nullptr, ck)
                           : member_search(mix, descending ? 'N' : 'H', ck, ck);
            } else if (!target) {
                lo = member_search(mix, descending ? 'L' : 'F', nullptr, ck);
            } else {
                int mop = op;
                // An equal key of a member after (before) the last result's
                // comes next.
                if (op == 'H' && raw > split) mop = 'G';
                if (op == 'N' && raw < split) mop = 'M';
                lo = member_search(mix, mop, target, ck);
            }
            hi = uint32_t(zvGETHGHi());
            if (!lo && !hi && g->uerr_cod) {
                log_unreachable(h, g->uerr_cod, raw, m, mix);
                return nothing(g->uerr_cod);
            }
            c = CandHead{mix + 1, hi, lo, (lo || hi) ? kCandHeld : kCandNone};
            put_head(b, c);
            if (c.state == kCandNone) continue;
        }
        const int cmp = best ? compar_k(ck, best, kl) : 0;
        if (!best || (descending ? cmp >= 0 : cmp < 0)) {
            best = ck;
            bestraw = raw;
            bestmix = mix;
            besth = c;
        }
    }
    if (!best) return nothing(0);
    set_state(buffer_of(fcb_at(bestmix)), kCandTaken);
    return found(h, bestraw, besth.posh, besth.posl, best, keyout, descending);
}

}  // namespace

void partition_search_reset(FCB *host) {
    if (host && host->partdef) host->partdef->ptsrchix = -1;
}

}  // namespace zv

using namespace zv;

uint32_t part_ser(FCB *x, const void *target, void *keyout, int mode, int direction) {
    INSTGV *g = zvWNGV;
    HostIndex h;
    if (int rc = host_index_of(x, x->filno, &h)) return nothing(rc);
    if (!x->keybufs) return nothing(614);
    const bool descending = (direction & 1) != 0;
    const bool onward = (direction & 0x20) != 0;   // NXTKEY / PRVKEY: from the last key
    const bool isam = (isam_state(g).partmarks & kPartContinue) != 0;
    if (mode == 'E') return exact(h, target);
    if (direction & 0x10) target = nullptr;
    unsigned char from[kIsamKeyRoom];
    if (onward) {
        memcpy(from, x->keybufs->work, size_t(x->hdr.base.keylen));
        target = from;
    }
    if (h.ordered) return in_order(h, mode, target, keyout, descending);
    // A search that goes on from the host index's last answer may trust the
    // members' buffers; any search from a target includes the equal keys of
    // the members after (before) the last answer's member.
    const bool cont = (onward || isam) && may_continue(h, isam, descending);
    const bool from_last = onward || isam ||
                           (target && h.pd->ptsrchix == h.keyno &&
                            memcmp(target, x->keybufs->work, size_t(x->hdr.base.keylen)) == 0);
    const int32_t split = from_last ? h.pd->ptsearch : (descending ? 0x7FFFFFFF : -1);
    return merge(h, mode, target, keyout, descending, cont, split);
}

int initPARTSERbuf(int keyno) {
    FCB *x = fcb_at(keyno);
    HostIndex h;
    if (!x || host_index_of(x, keyno, &h)) return set_uerr(614);
    PARTDEF *pd = h.pd;
    pd->ptsrchix = -1;
    for (int32_t i = 0; pd->ptmbr && i < pd->ptcur; i++) {
        if (pd->ptmbr[i].state != kMbrOpen) continue;
        const int mix = relative_index(pd->ptmbr[i].filno, h.rel);
        unsigned char *b = mix >= 0 ? buffer_of(fcb_at(mix)) : nullptr;
        if (b) put_head(b, CandHead{});
    }
    return 0;
}
