// Key search in an index B-link tree.
//
// Searches take no locks: a node whose key range was moved right (split by
// another writer) is left along its successor link, and a deleted node sends
// the search back to the root, with bounded retries and loop guards so that
// a damaged file ends in 527 and never in an endless walk.
//
// Inside a node, uncompressed keys are narrowed by binary search to three
// candidates (the keys of the next probes fetched ahead, so that their
// memory latency overlaps the current comparison) and then scanned with compar, so that the magnitude of the
// comparisons with the element found (tky) and with the one before it (tkp)
// is at hand for the compression code; compressed nodes are scanned forward
// from the element the last expansion left, or from the first.
//
// A search whose nodes are all cached makes no system call and takes no
// memory: keys are compared in place (or in the buffer's expansion area).
#include "engine/index/keysearch.h"

#include <bit>
#include <cstdio>
#include <cstring>

#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/core/fcb.h"
#include "engine/files/header.h"
#include "engine/index/idxstate.h"
#include "engine/index/node.h"
#include "engine/index/nodecache.h"
#include "engine/isam/isam_services.h"
#include "engine/index/walkguard.h"

using namespace zv;

namespace {

constexpr int kMoveLimit = 16384;
constexpr int kRestartLimit = 128;
constexpr int kSeqRestartLimit = 4096;
constexpr int kDescentAttempts = 11;

// Detects a walk that keeps coming back: after `limit` steps the node then
// met is remembered, and meeting it again is a loop.
struct LoopGuard {
    int count = 0;
    bool armed = false;
    uint32_t mh = 0, ml = 0;
    bool step(uint32_t h, uint32_t l, int limit) {
        if (armed) return h == mh && l == ml;
        if (++count >= limit) {
            armed = true;
            mh = h;
            ml = l;
        }
        return false;
    }
};

int loop_message(FCB *f, const char *where, uint32_t h, uint32_t l) {
    char msg[120];
    snprintf(msg, sizeof msg, "Looping on node %04x-%08xx in %s...", h, l, where);
    return idx_corrupt(f, msg);
}

int level_message(FCB *f, const char *what, const char *where, uint32_t h, uint32_t l) {
    char msg[120];
    snprintf(msg, sizeof msg, "%s %04x-%08xx in %s...", what, h, l, where);
    return idx_corrupt(f, msg);
}

// The neighbour of a leaf along the leaf level (successor or predecessor
// link h, l): null when the read fails, or with 527 reported when the link
// names the leaf itself, leads to a node that is not a leaf, or the walk
// has taken more steps than the index has nodes. A deleted node is handed
// back (the caller searches again).
NODEBUF *neighbour_leaf(FCB *f, const NODEBUF *from, uint32_t h, uint32_t l, LevelWalk &walk, const char *where) {
    if ((h == from->posh && l == from->posl) || !walk.step())
        return loop_message(f, where, h, l), nullptr;
    NODEBUF *b = zvgetnod81(kNodRead, h, l, f);
    if (!b) return nullptr;
    if (!b->hdr.leaf && !is_deleted(b)) return level_message(f, "Non-leaf node along the leaves", where, h, l), nullptr;
    return b;
}

// Keys along a level rise: the first key of a successor lies above the key
// the walk comes from (dir 1), the last key of a predecessor below it
// (dir -1). False with 527 reported otherwise, or when a key cannot be read.
bool keys_in_order(FCB *f, NODEBUF *b, const unsigned char *from, int dir, const char *where) {
    if (b->hdr.nkv == 0 || (idx_state(zvWNGV).options & kIdxOptRawLeafOrder)) return true;
    const unsigned char *k = valpnt(b, dir > 0 ? 1 : b->hdr.nkv);
    if (!k) return false;
    if (compar_k(k, from, b->keylen) * dir > 0) return true;
    level_message(f, "Keys out of order at node", where, b->posh, b->posl);
    return false;
}

inline bool has_succ(const NODEBUF *b) { return b->hdr.sucesr || b->hdr.sucesrh; }
inline bool has_pred(const NODEBUF *b) { return b->hdr.predsr || b->hdr.predsrh; }

// Position of the answer (leaf b, element e): key to out, position returned.
uint32_t answer(NODEBUF *b, int e, unsigned char *out) {
    IdxState &s = idx_state(zvWNGV);
    uint32_t lo, hi;
    unsigned char *k = drnpnt81p(&lo, &hi, b, e);
    if (!k) return zvSETHGHi(0), 0u;
    if (out) memcpy(out, k, size_t(b->keylen));
    s.elm = e;
    s.leafh = b->posh;
    s.leafl = b->posl;
    zvSETHGHi(int32_t(hi));
    return lo;
}

uint32_t fail() {
    zvSETHGHi(0);
    return 0;
}

uint32_t not_found() {
    zvSETHGHi(0);
    set_uerr(0);
    return 0;
}

// The open index of a key call: null with the error set (48 for a file that
// is not an index or has no key buffers).
FCB *key_file(int filno) {
    if (!zvWNGV) return nullptr;
    zvSETHGHi(0);
    FCB *f = tstifnm(filno);
    if (!f) return nullptr;
    if (f->kind != kKindIndex || !f->keybufs) return set_uerr(48), nullptr;
    return f;
}

void set_current(FCB *f, const NODEBUF *b, int e) {
    f->curnodh = b->posh;
    f->curnodl = b->posl;
    f->curelm = e;
}

void clear_current(FCB *f) {
    f->curnodh = f->curnodl = 0;
    f->curelm = 0;
}

// Takes the key found by a sequential read: caller's buffer and work key,
// current node and element.
uint32_t take(FCB *f, NODEBUF *b, int e, void *keyout) {
    uint32_t pos = answer(b, e, f->keybufs->work);
    uint32_t hi = uint32_t(tsthghwrd());
    if (!pos && !hi) return 0;
    if (keyout) memcpy(keyout, f->keybufs->work, size_t(b->keylen));
    set_current(f, b, e);
    return pos;
}

}  // namespace

int compar(const void *a, const void *b, const FCB *f) {
    return compar_k(static_cast<const unsigned char *>(a), static_cast<const unsigned char *>(b),
                    f->hdr.base.keylen);
}

// First probe of the binary search over elements lo..hi.
inline int probe_of(int lo, int hi) { return lo + (hi - lo + 1) / 2; }

int nodser(NODEBUF *b, const unsigned char *t, int mode, int) {
    IdxState &s = idx_state(zvWNGV);
    if (is_deleted(b)) return -3;
    const int nkv = b->hdr.nkv;
    const int32_t k = b->keylen;
    s.tkp = 1;
    s.tky = -1;
    // The keys of an uncompressed node lie at a fixed stride.
    const bool compressed = is_compressed(b);
    const unsigned char *keys = b->elems + (b->kind == 0 ? 0 : b->psize);
    const int32_t stride = b->esize;
    auto prefetch = [keys, stride](int n) { __builtin_prefetch(keys + (n - 1) * stride); };
    // The first probe's key is fetched while the bounds are compared.
    if (!compressed && nkv > 3) prefetch(probe_of(1, nkv));
    if (b->hdr.leaf) {
        if (compar_k(t, highkey_of(b), k) > 0) {
            s.elm = 1;
            return -1;
        }
        if (nkv == 0) {
            // An empty leaf has no element: -2 records -1 (insertion places
            // a key at element 1 itself); moving right starts at element 1.
            s.cmp = 1;
            const bool right = mode == 'S' && has_succ(b);
            s.elm = right ? 1 : -1;
            return right ? -1 : -2;
        }
    } else {
        if (nkv == 0) return -2;
        if (!compressed && compar_k(t, keys + (nkv - 1) * stride, k) > 0) {
            s.elm = 1;
            return -1;
        }
    }
    int lo = 1;
    int hi = nkv;          // the answer lies in lo..hi, or past the end
    int prev = 1;          // comparison with element lo - 1 (1: none)
    if (!compressed) {
        while (hi - lo + 1 > 3) {
            int probe = probe_of(lo, hi);
            // Both possible next probes are fetched during this comparison.
            if (probe - lo + 1 > 3) prefetch(probe_of(lo, probe));
            if (hi - probe > 3) prefetch(probe_of(probe + 1, hi));
            int c = compar_k(t, keys + (probe - 1) * stride, k);
            if (c == 0) {
                s.elm = probe;
                s.cmp = s.tky = 0;
                s.tkp = 1;
                return probe;
            }
            if (c > 0) {
                lo = probe + 1;
                prev = c;
            } else {
                hi = probe;
            }
        }
    } else if (b->expnum >= 1 && b->expnum <= nkv) {
        const unsigned char *ck = b->exparea + b->psize;
        int c = compar_k(t, ck, k);
        if (c == 0) {
            s.elm = b->expnum;
            s.cmp = s.tky = 0;
            s.tkp = 1;
            return b->expnum;
        }
        if (c > 0) {
            lo = b->expnum + 1;
            prev = c;
        }
    }
    for (int i = lo; i <= nkv; i++) {
        const unsigned char *key = compressed ? valpnt(b, i) : keys + (i - 1) * stride;
        if (!key) return -99;
        int c = compar_k(t, key, k);
        if (c <= 0) {
            s.elm = i;
            s.cmp = s.tky = c;
            s.tkp = prev;
            if (c < 0 && mode == 'E') return -2;
            return i;
        }
        prev = c;
    }
    s.elm = nkv + 1;
    s.cmp = s.tkp = prev;
    s.tky = -1;
    if (mode == 'S' && has_succ(b)) return -1;
    if (!is_compressed(b) || b->hdr.leaf) return -2;
    s.elm = 1;
    return -1;
}

uint32_t fndkey(FCB *f, const unsigned char *t, int mode, unsigned char *out) {
    INSTGV *g = zvWNGV;
    IdxState &s = idx_state(g);
    set_uerr(0);
    zvSETHGHi(0);
    const int leafmode = (mode == 'E' || mode == 'M' || mode == 'N') ? 'E' : 'S';
    int upper_deleted = 0, leaf_deleted = 0, attempts = 0, seq_restarts = 0;
    LoopGuard seq;
    for (;;) {  // one descent from the root
        uint32_t nl = gtroot(f);
        uint32_t nh = uint32_t(zvGETHGHi());
        if (nl == 0 && nh == 0) {
            s.elm = 0;
            s.cmp = 0;
            return not_found();
        }
        NODEBUF *b = nullptr;
        bool restart = false;
        int levels = 0;
        bool moved = false;
        LevelWalk right(f);
        for (;;) {
            b = zvgetnod81(kNodRead, nh, nl, f);
            if (!b) return fail();
            if (b->hdr.leaf && !is_deleted(b)) {
                if (moved) return level_message(f, "Leaf node along an upper level", "fndkey", nh, nl), fail();
                break;
            }
            int r = nodser(b, t, 'L', 0);
            if (r == -1) {
                nh = b->hdr.sucesrh;
                nl = b->hdr.sucesr;
                if (nh == 0 && nl == 0) {
                    if (++attempts >= kDescentAttempts)
                        return setidxcorrupt(f, "No leaf node found during fndkey...", 11, 527), fail();
                    restart = true;
                    break;
                }
                if (!right.step()) return loop_message(f, "fndkey", nh, nl), fail();
                moved = true;
                continue;
            }
            if (r == -3) {
                if (++upper_deleted > kRestartLimit)
                    return idx_corrupt(f, "Deleted node found in upper level..."), fail();
                restart = true;
                break;
            }
            if (r < 0) return idx_corrupt(f, "Corrupt index encountered during fndkey..."), fail();
            if (++levels > kMaxDescent) return idx_corrupt(f, "Too many levels in b-tree structure during fndkey..."), fail();
            right.restart();
            moved = false;
            s.downh = b->posh;
            s.downl = b->posl;
            if (nodpnt81e(&nl, &nh, b, r) != 0) return fail();
        }
        if (restart) continue;
        // Leaf level: move right to the leaf that covers the target.
        LoopGuard moves;
        LevelWalk leaves(f);
        int r;
        for (;;) {
            r = nodser(b, t, leafmode, 0);
            if (r != -1) break;
            nh = b->hdr.sucesrh;
            nl = b->hdr.sucesr;
            if (nh == 0 && nl == 0) return idx_corrupt(f, "Corrupt index encountered during fndkey..."), fail();
            if (moves.step(nh, nl, kMoveLimit)) return idx_corrupt(f, "Index node loop found in fndkey..."), fail();
            b = neighbour_leaf(f, b, nh, nl, leaves, "fndkey");
            if (!b) return fail();
        }
        if (r == -3) {
            if (++leaf_deleted > kRestartLimit) return idx_corrupt(f, "Deleted node found in leaf level..."), fail();
            continue;
        }
        if (r == -99) return fail();
        s.leafh = b->posh;
        s.leafl = b->posl;
        int e = 0;
        if (mode == 'H') {
            if (r < 0) return not_found();
            if (s.cmp < 0) return answer(b, r, out);
            e = r + 1;
            // The key after an equal one lies above it (a walk of greater
            // keys must never come back to a smaller one).
            if (e <= b->hdr.nkv) {
                const unsigned char *nk = valpnt(b, e);
                if (!nk) return fail();
                if (compar_k(nk, t, b->keylen) <= 0)
                    return level_message(f, "Keys out of order at node", "fndkey", b->posh, b->posl), fail();
            }
            while (e > b->hdr.nkv) {
                nh = b->hdr.sucesrh;
                nl = b->hdr.sucesr;
                if (nh == 0 && nl == 0) return not_found();
                b = neighbour_leaf(f, b, nh, nl, leaves, "fndkey");
                if (!b) return fail();
                if (is_deleted(b)) {
                    restart = true;
                    break;
                }
                if (!keys_in_order(f, b, t, 1, "fndkey")) return fail();
                e = 1;
            }
        } else if (mode == 'N' || mode == 'M') {
            if (mode == 'M' && r >= 1 && s.cmp == 0) return answer(b, r, out);
            e = s.elm - 1;
            while (e < 1) {
                nh = b->hdr.predsrh;
                nl = b->hdr.predsr;
                if (nh == 0 && nl == 0) return not_found();
                b = neighbour_leaf(f, b, nh, nl, leaves, "fnd2key");
                if (!b) return fail();
                if (is_deleted(b)) {
                    restart = true;
                    break;
                }
                if (!keys_in_order(f, b, t, -1, "fnd2key")) return fail();
                e = b->hdr.nkv;
            }
        } else {
            if (r < 0) return not_found();
            e = r;
        }
        if (restart) {
            // A neighbour was deleted under the walk: search again.
            if (++seq_restarts >= kSeqRestartLimit && seq.step(b->posh, b->posl, 1))
                return loop_message(f, (mode == 'H') ? "fndkey" : "fnd2key", b->posh, b->posl), fail();
            continue;
        }
        return answer(b, e, out);
    }
}

uint32_t ser(FCB *f, const unsigned char *t, unsigned char *keyout, int mode) {
    uint32_t pos = fndkey(f, t, mode, f->keybufs->work);
    uint32_t hi = uint32_t(tsthghwrd());
    if (pos == 0 && hi == 0) return 0;
    IdxState &s = idx_state(zvWNGV);
    if (keyout) memcpy(keyout, f->keybufs->work, f->hdr.base.keylen);
    f->curnodh = s.leafh;
    f->curnodl = s.leafl;
    f->curelm = s.elm;
    return pos;
}

uint32_t ieqlkey(FCB *f, const void *t) { return ser(f, static_cast<const unsigned char *>(t), nullptr, 'E'); }

uint32_t igtekey(FCB *f, const void *t, void *out) {
    return ser(f, static_cast<const unsigned char *>(t), static_cast<unsigned char *>(out), 'G');
}

uint32_t igtkey(FCB *f, const void *t, void *out) {
    return ser(f, static_cast<const unsigned char *>(t), static_cast<unsigned char *>(out), 'H');
}

namespace {

// First key: down the first element of every level, then right over empty
// leaves. Last key: right along each level, down its last element, then
// left over empty leaves.
uint32_t edge_key(FCB *f, void *keyout, bool last) {
    const char *deleted_msg = last ? "Node on LSTKEY path appears deleted..." : "Node on FRSKEY path appears deleted...";
    const char *noleaf_msg = last ? "No leaf node found during lstkey..." : "No leaf node found during frskey...";
    int same_deleted = 0, seq_restarts = 0, attempts = 0;
    uint32_t lasth = 0, lastl = 0;
    LoopGuard seq;
    for (;;) {
        uint32_t nl = gtroot(f);
        uint32_t nh = uint32_t(zvGETHGHi());
        if (nl == 0 && nh == 0) return clear_current(f), not_found();
        NODEBUF *b;
        bool restart = false;
        const char *where = last ? "ilstkey" : "FRSKEY";
        int levels = 0;
        int level = -1;  // leaf flag of the level being walked (-1: none yet)
        LevelWalk right(f);
        for (;;) {
            b = zvgetnod81(kNodRead, nh, nl, f);
            if (!b) return clear_current(f), fail();
            if (is_deleted(b)) {
                same_deleted = (nh == lasth && nl == lastl) ? same_deleted + 1 : 1;
                lasth = nh;
                lastl = nl;
                if (same_deleted > 1024) return idx_corrupt(f, deleted_msg), clear_current(f), fail();
                restart = true;
                break;
            }
            if (level >= 0 && level != (b->hdr.leaf ? 1 : 0))
                return level_message(f, "Node of another level", where, nh, nl), clear_current(f), fail();
            if (last && has_succ(b)) {
                nh = b->hdr.sucesrh;
                nl = b->hdr.sucesr;
                if ((nh == b->posh && nl == b->posl) || !right.step())
                    return loop_message(f, where, nh, nl), clear_current(f), fail();
                level = b->hdr.leaf ? 1 : 0;
                continue;
            }
            if (b->hdr.leaf) break;
            if (b->hdr.nkv == 0) {
                if (++attempts >= kDescentAttempts)
                    return setidxcorrupt(f, noleaf_msg, 11, 527), clear_current(f), fail();
                restart = true;
                break;
            }
            if (++levels > kMaxDescent)
                return idx_corrupt(f, "Too many levels in b-tree structure..."), clear_current(f), fail();
            right.restart();
            level = -1;
            if (nodpnt81e(&nl, &nh, b, last ? b->hdr.nkv : 1) != 0) return clear_current(f), fail();
        }
        if (restart) continue;
        LevelWalk leaves(f);
        while (b->hdr.nkv == 0) {
            nh = last ? b->hdr.predsrh : b->hdr.sucesrh;
            nl = last ? b->hdr.predsr : b->hdr.sucesr;
            if (nh == 0 && nl == 0) return clear_current(f), not_found();
            b = neighbour_leaf(f, b, nh, nl, leaves, where);
            if (!b) return clear_current(f), fail();
            if (is_deleted(b)) {
                restart = true;
                break;
            }
        }
        if (restart) {
            if (++seq_restarts >= kSeqRestartLimit && seq.step(b->posh, b->posl, 1))
                return loop_message(f, where, b->posh, b->posl), clear_current(f), fail();
            continue;
        }
        uint32_t pos = take(f, b, last ? b->hdr.nkv : 1, keyout);
        if (!pos && !tsthghwrd()) clear_current(f);
        return pos;
    }
}
uint32_t first_key(FCB *f, void *keyout) { return edge_key(f, keyout, false); }
uint32_t last_key(FCB *f, void *keyout) { return edge_key(f, keyout, true); }

// The current node when it still holds the work key at the current element;
// null otherwise (changed, deleted, or unreadable with 69).
NODEBUF *current_node(FCB *f, bool *failed) {
    *failed = false;
    if (f->curnodh == 0 && f->curnodl == 0) return nullptr;
    NODEBUF *b = zvgetnod81(kNodRead | kNodQuiet, f->curnodh, f->curnodl, f);
    if (!b) {
        if (zvWNGV->uerr_cod != 69) *failed = true;
        return nullptr;
    }
    if (is_deleted(b) || f->curelm < 1 || f->curelm > b->hdr.nkv) return nullptr;
    const unsigned char *k = valpnt(b, f->curelm);
    if (!k) {
        *failed = true;
        return nullptr;
    }
    if (compar_k(k, f->keybufs->work, b->keylen) != 0) return nullptr;
    return b;
}

uint32_t next_key(FCB *f, void *keyout) {
    bool failed;
    NODEBUF *b = current_node(f, &failed);
    if (failed) return fail();
    if (!b) return igtkey(f, f->keybufs->work, keyout);
    int e = f->curelm + 1;
    LevelWalk leaves(f);
    while (e > b->hdr.nkv) {
        uint32_t nh = b->hdr.sucesrh, nl = b->hdr.sucesr;
        if (nh == 0 && nl == 0) return not_found();  // the current key stays the last
        b = neighbour_leaf(f, b, nh, nl, leaves, "NXTKEY");
        if (!b) return fail();
        // A successor deleted under the walk: search from the work key.
        if (is_deleted(b)) return igtkey(f, f->keybufs->work, keyout);
        if (!keys_in_order(f, b, f->keybufs->work, 1, "NXTKEY")) return fail();
        e = 1;
    }
    return take(f, b, e, keyout);
}

uint32_t prev_key(FCB *f, void *keyout) {
    bool failed;
    NODEBUF *b = current_node(f, &failed);
    if (failed) return fail();
    if (!b) return ser(f, f->keybufs->work, static_cast<unsigned char *>(keyout), 'N');
    int e = f->curelm - 1;
    LevelWalk leaves(f);
    while (e < 1) {
        uint32_t ph = b->hdr.predsrh, pl = b->hdr.predsr;
        if (ph == 0 && pl == 0) {
            // Start of the index: the current key stays the first.
            f->curelm = 1;
            return not_found();
        }
        uint32_t ch = b->posh, cl = b->posl;
        b = neighbour_leaf(f, b, ph, pl, leaves, "PRVKEY");
        if (!b) return fail();
        if (is_deleted(b)) return ser(f, f->keybufs->work, static_cast<unsigned char *>(keyout), 'N');
        if (b->hdr.sucesr != cl || b->hdr.sucesrh != ch) return set_uerr(34), fail();
        if (!keys_in_order(f, b, f->keybufs->work, -1, "PRVKEY")) return fail();
        e = b->hdr.nkv;
    }
    return take(f, b, e, keyout);
}

// Key reads with a target: the partitioned host hands them to the ISAM
// layer's partition services.
uint32_t target_read(int filno, const void *t, void *out, int mode, int direction) {
    FCB *f = key_file(filno);
    if (!f) return 0;
    if (!t) return set_uerr(540), 0u;
    if (f->hdr.ext.flmode2 & kFl2PartHost) return part_ser(f, t, out, mode, direction);
    return ser(f, static_cast<const unsigned char *>(t), static_cast<unsigned char *>(out), mode);
}

}  // namespace

uint32_t ilstkey(FCB *f, void *keyout) { return last_key(f, keyout); }

extern "C" {

ZV_API uint32_t EQLKEY(int filno, const void *target) { return target_read(filno, target, nullptr, 'E', 0); }

ZV_API uint32_t GTEKEY(int filno, const void *target, void *keyout) {
    return target_read(filno, target, keyout, 'G', 0);
}

ZV_API uint32_t GTKEY(int filno, const void *target, void *keyout) {
    return target_read(filno, target, keyout, 'H', 0);
}

ZV_API uint32_t LTKEY(int filno, const void *target, void *keyout) {
    return target_read(filno, target, keyout, 'N', 1);
}

ZV_API uint32_t LTEKEY(int filno, const void *target, void *keyout) {
    return target_read(filno, target, keyout, 'M', 1);
}

ZV_API uint32_t FRSKEY(int filno, void *keyout) {
    FCB *f = key_file(filno);
    if (!f) return 0;
    if (f->hdr.ext.flmode2 & kFl2PartHost) return part_ser(f, nullptr, keyout, 'G', 16);
    return first_key(f, keyout);
}

ZV_API uint32_t LSTKEY(int filno, void *keyout) {
    FCB *f = key_file(filno);
    if (!f) return 0;
    if (f->hdr.ext.flmode2 & kFl2PartHost) return part_ser(f, nullptr, keyout, 'M', 17);
    return last_key(f, keyout);
}

ZV_API uint32_t NXTKEY(int filno, void *keyout) {
    FCB *f = key_file(filno);
    if (!f) return 0;
    if (f->hdr.ext.flmode2 & kFl2PartHost) return part_ser(f, nullptr, keyout, 'H', 0x20);
    set_uerr(0);
    return next_key(f, keyout);
}

ZV_API uint32_t PRVKEY(int filno, void *keyout) {
    FCB *f = key_file(filno);
    if (!f) return 0;
    if (f->hdr.ext.flmode2 & kFl2PartHost) return part_ser(f, nullptr, keyout, 'N', 0x21);
    set_uerr(0);
    return prev_key(f, keyout);
}

}  // extern "C"
