// Key insertion and node split.
//
// An insertion descends from the root recording the non-leaf nodes it
// passes (at most 15 levels), moves right at the leaf level to the leaf that
// covers the key, and writes the element there. A node that overflows is
// split: a new node takes the upper elements and the old node's successor
// link, the old node keeps the lower elements and links to the new one, and
// the key of the old node's last element (the separator) goes up into the
// parent, in front of the parent's entry of the old node, which now points
// to the new node. A root that splits gets a new root above it.
//
// Where the split falls follows the node's insertion run counter: a run of
// ascending inserts leaves six sevenths in the old node, a descending run
// one seventh, anything else the middle.
//
// Failure rules:
//  1. Before the first node changes, a failure leaves the index unchanged
//     (the inserted element is removed again when no new node can be had).
//  2. Once a split has begun, a failure that leaves the tree half-linked
//     (a parent or neighbour that cannot be read) marks the index for
//     rebuild, so that it is never trusted silently.
//  3. The key count follows the tree: a key that reached a leaf is counted
//     even when a later step reports an error.
#include "engine/index/keyinsert.h"

#include <cstdio>
#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/filemutex.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/files/fcbops.h"
#include "engine/files/header.h"
#include "engine/index/idxstate.h"
#include "engine/index/keydelete.h"
#include "engine/index/keymap.h"
#include "engine/index/keysearch.h"
#include "engine/index/node.h"
#include "engine/index/nodealloc.h"
#include "engine/index/nodecache.h"
#include "engine/index/nodeupdate.h"
#include "engine/index/walkguard.h"
#include "engine/isam/isam_services.h"

using namespace zv;

namespace {

// Flags of a partitioned host's index file that holds global unique
// indexes: the host marks "partitioned" and "has global unique indexes".
constexpr uint32_t kFl2GlobalHost = 0x2400000;

// Whether index f lies in such a file (an additional member in its host
// index file).
bool global_unique_host(const FCB *f) {
    const FCB *file = f->hostfcb && f->hostfcb->kind == kKindIndex ? f->hostfcb : f;
    return (file->hdr.ext.flmode2 & kFl2GlobalHost) == kFl2GlobalHost;
}

// Marks an index whose split stopped half way for rebuild; keeps code.
int broken_split(FCB *f, int code) {
    if (code == 0) code = 527;
    setidxcorrupt(f, "Node split not completed in index", kLogSingleTry, code);
    return code;
}

// Element count left in the old node by the split rule.
int choose_split(const NODEBUF *b, int n, int split) {
    int c = b->runcnt;
    int s;
    if (c > 0 && (c > 10 || c >= n / 2)) s = 6 * (n + 1) / 7;
    else if (c < 0 && (c < -10 || c <= -(n / 2))) s = (n + 1) / 7 + 1;
    else if (split == 1) s = 6 * (n + 1) / 7;
    else if (split == 2) s = (n + 1) / 7 + 1;
    else s = (n + 2) / 2;
    if (s < 1) s = 1;
    if (s > n) s = n;
    return s;
}

// End offset of element i (1..nkv + 1) of the overfull node; -1 when damaged.
int32_t end_of(NODEBUF *b, int i) {
    int32_t off, len;
    if (!elem_span(b, i, &off, &len)) return -1;
    return off + len;
}

// Bytes the new node takes when the old one keeps 1..s: element s + 1
// stored again without a shared prefix, then the rest unchanged.
int32_t right_bytes(NODEBUF *b, int s) {
    int32_t off, len, l, t, clen;
    if (!elem_span(b, s + 1, &off, &len)) return -1;
    int32_t extra = 0;
    if (is_compressed(b)) {
        if (!comp_elem(b, off, &clen, &l, &t)) return -1;
        extra = l * b->unit;
    }
    return b->hdr.nkb - off + extra;
}

// Moves the split number until both parts fit their nodes. 0, or 1 when the
// old node keeps too many bytes, 2 when the new node would take too many.
int fit_split(NODEBUF *b, int n, int *sp) {
    int s = *sp;
    auto left_ok = [&](int k) {
        int32_t e = end_of(b, k);
        return e >= 0 && e <= b->maxb && k <= b->maxkv;
    };
    auto right_ok = [&](int k) {
        int32_t r = right_bytes(b, k);
        return r >= 0 && r <= b->maxb && n + 1 - k <= b->maxkv;
    };
    while (s > 1 && !left_ok(s)) s--;
    while (s < n && !right_ok(s)) s++;
    *sp = s;
    if (!left_ok(s)) return 1;
    if (!right_ok(s)) return 2;
    return 0;
}

void log_parent_mismatch(FCB *f, const NODEBUF *pb, int e, uint32_t oh, uint32_t ol, uint32_t fh, uint32_t fl) {
    IdxState &s = idx_state(zvWNGV);
    setidxcorrupt(f, "Parent-Child branch error", 999, 527);
    char line[120];
    for (int i = s.depth - 1; i >= 0; i--) {
        snprintf(line, sizeof line, "%d: %04x-%08xx", i, s.path[i].posh, s.path[i].posl);
        zvrcvlog(line, kLogSingleTry);
    }
    snprintf(line, sizeof line, "U%04x-%08xx E%d O%04x-%08xx N%04x-%08xx", pb->posh, pb->posl, e, oh, ol, fh, fl);
    zvrcvlog(line, kLogSingleTry);
    set_uerr(527);
}

}  // namespace

int adroot81(FCB *f, uint32_t lh, uint32_t ll, uint32_t rh, uint32_t rl, const unsigned char *key) {
    IdxState &s = idx_state(zvWNGV);
    const int32_t k = f->hdr.base.keylen;
    const int p = idx_psize(f);
    uint32_t oldl = gtroot(f);
    uint32_t oldh = uint32_t(zvGETHGHi());
    bool leaf = lh == 0 && ll == 0;
    if (leaf && (oldl || oldh)) return -1;
    uint32_t nh, nl;
    int hdrerr = 0;
    NODEBUF *nb = newnod81(f, &nh, &nl, &hdrerr);
    if (!nb) return zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 10;
    zvnodcap(nb, f, leaf ? 1 : 0);
    s.elm = 1;
    s.tky = -1;
    s.tkp = 1;
    if (leaf) {
        if (int rc = insexp81(nb, key, rh, rl, p, 2)) return rc;
        memset(highkey_of(nb), 0xFF, size_t(k));
        zvrstexc(nb);
        f->hdr.base.lanchr = nl;
        if (idx_hug(f)) f->hdr.ext.lanchrh = nh;
        if (int rc = putnod(nb, 1, 1); rc && !hdrerr) hdrerr = rc;
    } else {
        if (int rc = insexp81(nb, key, lh, ll, p, 0)) return rc;
        nb->hdr.nkv = 1;
        unsigned char ff[kKeyRoom];
        memset(ff, 0xFF, size_t(k));
        s.elm = 2;
        s.tky = -1;
        s.tkp = compar_k(ff, key, k);
        if (int rc = insexp81(nb, ff, rh, rl, p, 0)) return rc;
        if (int rc = putnod(nb, 2, 1); rc && !hdrerr) hdrerr = rc;
    }
    // The new root is in place in memory (a node that failed to reach the
    // disk stays marked updated); a failed write is still the call's error.
    f->hdr.base.root = nl;
    if (idx_hug(f)) f->hdr.ext.rooth = nh;
    if (levels_kept(f)) f->hdr.ext.levels++;
    int rc = wrthdr(f);
    return hdrerr ? set_uerr(hdrerr) : rc;
}

int zvinsert81(NODEBUF *b, FCB *f, const unsigned char *key, uint32_t ph, uint32_t pl, int split, bool *inserted) {
    INSTGV *g = zvWNGV;
    IdxState &s = idx_state(g);
    const int32_t k = f->hdr.base.keylen;
    const int p = idx_psize(f);
    *inserted = false;
    unsigned char *seps[2] = {s.sepkey, s.upkey};
    int which = 0;
    int first_err = 0;
    const unsigned char *cur = key;
    for (;;) {
        const bool leaf = b->hdr.leaf != 0;
        // An insert into a full node may move it into the spill image until
        // the split below has taken its upper part.
        NodeSpill spill(b);
        if (leaf) memcpy(s.savedhigh, highkey_of(b), size_t(k));
        const int e = s.elm;
        const int n = b->hdr.nkv;
        if (int last = b->lastins) {
            int c = b->runcnt;
            if (c == 0) c = last < e ? 1 : -1;
            else if (c < 0) c = last < e ? 0 : c - 1;
            else c = last >= e ? 0 : c + 1;
            b->runcnt = c;
        }
        b->lastins = e;
        if (int rc = insexp81(b, cur, ph, pl, p, leaf ? 1 : 0)) return *inserted ? broken_split(f, rc) : rc;
        if (b->hdr.nkb <= b->maxb && n + 1 <= b->maxkv) {
            if (leaf && b->ctl) zvinsexc(b, e);
            int rc = putnod(b, n + 1, 1);
            if (leaf) *inserted = true;
            return first_err ? first_err : rc;
        }
        // Split.
        idx_state(g).splits++;
        int sn = choose_split(b, n, split);
        int fit = fit_split(b, n, &sn);
        auto undo = [&]() {
            // The element is in the node but not yet in its count.
            b->hdr.nkv = uint16_t(n + 1);
            s.elm = e;
            delexp(b, 0);
            if (leaf) {
                memcpy(highkey_of(b), s.savedhigh, size_t(k));
                zvrstexc(b);
            }
            b->lastins = 0;
        };
        if (fit != 0) {
            zvrcvlog("Bad node split with new prefix split on", -726);
            idx_corrupt(f, fit == 1 ? "too many bytes remain in old node..." : "too many bytes transferred to new node...");
            undo();
            return *inserted ? broken_split(f, 527) : 527;
        }
        NodePin pin(b);
        uint32_t nh, nl;
        int hdrerr = 0;
        NODEBUF *nb = newnod81(f, &nh, &nl, &hdrerr);
        if (hdrerr && !first_err) first_err = hdrerr;
        if (!nb) {
            int rc = g->uerr_cod ? g->uerr_cod : 10;
            undo();
            return *inserted ? broken_split(f, rc) : rc;
        }
        zvnodcap(nb, f, leaf ? 1 : 0);
        // Separator: the key of the last element the old node keeps.
        unsigned char *sep = seps[which];
        which ^= 1;
        const unsigned char *sk = valpnt(b, sn);
        if (sk) memcpy(sep, sk, size_t(k));
        int32_t off1, len1;
        if (!sk || !elem_span(b, sn + 1, &off1, &len1)) {
            undo();
            rtnode81(nb, nh, nl, f);
            return *inserted ? broken_split(f, 527) : 527;
        }
        if (!is_compressed(b)) {
            int32_t moved = b->hdr.nkb - off1;
            memcpy(nb->elems, b->elems + off1, size_t(moved));
            nb->hdr.nkb = uint16_t(moved);
        } else {
            // The first moved element is stored again in full.
            uint32_t xh = 0, xl = 0;
            if (b->kind != 0) get_elem_ptr(b->exparea, b->hug != 0, &xh, &xl);
            s.elm = 1;
            s.tky = -1;
            s.tkp = 1;
            insexp81(nb, b->exparea + p, xh, xl, p, 0);
            int32_t rest = b->hdr.nkb - (off1 + len1);
            memcpy(nb->elems + nb->hdr.nkb, b->elems + off1 + len1, size_t(rest));
            nb->hdr.nkb = uint16_t(nb->hdr.nkb + rest);
            nb->expnum = 0;
        }
        b->hdr.nkb = uint16_t(off1);
        b->expnum = 0;
        spill_return(b);
        if (leaf) {
            memcpy(highkey_of(nb), s.savedhigh, size_t(k));
            memcpy(highkey_of(b), sep, size_t(k));
            zvrstexc(b);
            zvrstexc(nb);
        }
        nb->hdr.sucesr = b->hdr.sucesr;
        nb->hdr.sucesrh = b->hdr.sucesrh;
        if (leaf) {
            nb->hdr.predsr = b->posl;
            nb->hdr.predsrh = b->posh;
        }
        b->hdr.sucesr = nl;
        b->hdr.sucesrh = nh;
        b->lastins = 0;
        int rc1 = putnod(b, sn, 1);
        int rc2 = putnod(nb, n + 1 - sn, 1);
        if (rc1 || rc2) {
            int code = rc1 ? rc1 : rc2;
            zvrcvlog("Trouble processing new index node", kLogSingleTry - code);
            zvrcvlog(f->name, kLogSingleTry - int(f->hdr.base.kmem));
            if (!first_err) first_err = code;
        }
        if (leaf) *inserted = true;
        const uint32_t oh = b->posh, ol = b->posl;
        const uint32_t sh = nb->hdr.sucesrh, sl = nb->hdr.sucesr;
        pin.release();
        // The old successor of a leaf now follows the new node.
        if (leaf && (sh || sl)) {
            NODEBUF *sb = zvgetnod81(kNodNoSettle, sh, sl, f);
            if (!sb) return broken_split(f, g->uerr_cod);
            sb->hdr.predsr = nl;
            sb->hdr.predsrh = nh;
            if (int rc = putnod(sb, sb->hdr.nkv, 1); rc && !first_err) first_err = rc;
        }
        // Parent: a new root above a split root.
        if (s.depth == 0 || (s.path[s.depth - 1].posh == 0 && s.path[s.depth - 1].posl == 0)) {
            int rc = adroot81(f, oh, ol, nh, nl, sep);
            if (rc < 0) return broken_split(f, 527);
            return rc ? rc : first_err;
        }
        const IdxPathEntry pe = s.path[--s.depth];
        NODEBUF *pb = zvgetnod81(kNodParent, pe.posh, pe.posl, f);
        if (!pb) return broken_split(f, g->uerr_cod);
        pb = movrgt(sep, f, pb, 0);
        if (!pb) return broken_split(f, g->uerr_cod == kUerrDeleted ? 527 : g->uerr_cod);
        if (pb->hdr.leaf) return broken_split(f, idx_corrupt(f, "Unexpected leaf node in zvinsert81() [9495]"));
        const int r = s.elm;
        uint32_t ch = 0, cl = 0;
        if (r < 1 || r > pb->hdr.nkv || nodpnt81e(&cl, &ch, pb, r) != 0 || ch != oh || cl != ol) {
            log_parent_mismatch(f, pb, r, oh, ol, ch, cl);
            return 527;
        }
        set_elem_ptr(pb, r, nh, nl);
        b = pb;
        cur = sep;
        ph = oh;
        pl = ol;
    }
}

int iaddkey(int filno, const void *key, uint32_t posh, uint32_t posl, int mode) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = tstifnm(filno);
    if (!f) return g->uerr_cod;
    if (!key) return set_uerr(540);
    // A file without node geometry (never set up by zvgetkbf) has no index.
    if (f->nhdrsiz == 0 || f->hdr.base.keylen == 0) return set_uerr(48);
    if ((mode & 128) && f->kind != kKindIndex) return set_uerr(48);
    const bool sf6 = f->hdr.base.sfiltyp == 6;
    if (sf6 && !(mode & 16)) return set_uerr(415);
    if (!(mode & 0x120)) {
        if (int rc = chkredf(filno, f)) return set_uerr(rc);
    }
    if (!idx_hug(f)) posh = 0;
    if (posh == 0 && posl == 0) return set_uerr(28);
    const bool replace = mode & (64 | 0x400);
    const bool update_only = mode & 0x400;
    const bool mark = !(mode & 0x20);
    int split = (mode & ~(sf6 ? 0x3F0 : 0x3E0)) & 3;
    if (split == 3) split = 0;
    IdxState &s = idx_state(g);
    const int32_t k = f->hdr.base.keylen;
    memcpy(s.workkey, key, size_t(k));
    if (idx_dup(f)) prpdup81(s.workkey, f, posh, posl);
    int deleted_restarts = 0, attempts = 0;
    for (;;) {
        s.depth = 0;
        uint32_t nl = gtroot(f);
        uint32_t nh = uint32_t(zvGETHGHi());
        if (nl == 0 && nh == 0) {
            if (update_only) return set_uerr(101);
            if (mark) {
                if (int rc = tstupd(f)) return set_uerr(rc);
            }
            int rc = adroot81(f, 0, 0, posh, posl, s.workkey);
            if (rc == -1) continue;
            bool in = f->hdr.base.root || f->hdr.ext.rooth;
            if (in) {
                int hrc = hdrupd(f, 1);
                if (!rc) rc = hrc;
            }
            return set_uerr(rc);
        }
        NODEBUF *b = nullptr;
        bool restart = false;
        bool moved = false;
        LevelWalk right(f);
        for (;;) {
            b = zvgetnod81(kNodRead, nh, nl, f);
            if (!b) return g->uerr_cod;
            if (b->hdr.leaf && !is_deleted(b)) {
                if (moved) return idx_corrupt(f, "Leaf node along an upper level during addkey");
                break;
            }
            int r = nodser(b, s.workkey, 'L', 0);
            if (r == -1) {
                nh = b->hdr.sucesrh;
                nl = b->hdr.sucesr;
                if (nh == 0 && nl == 0) {
                    if (++attempts >= 11)
                        return setidxcorrupt(f, "No leaf node found during addkey...", 11, 527);
                    restart = true;
                    break;
                }
                if (!right.step()) return idx_corrupt(f, "Index node loop found during addkey");
                moved = true;
                continue;
            }
            if (r == -3) {
                restart = true;
                break;
            }
            if (r < 0) return idx_corrupt(f, "Corrupt index encountered during addkey");
            if (s.depth >= kIdxLevels) {
                char msg[80];
                snprintf(msg, sizeof msg, "Too many levels in b-tree structure... %d", s.depth + 1);
                return idx_corrupt(f, msg);
            }
            s.path[s.depth].posh = b->posh;
            s.path[s.depth].posl = b->posl;
            s.depth++;
            right.restart();
            moved = false;
            if (nodpnt81e(&nl, &nh, b, r) != 0) return g->uerr_cod;
        }
        if (!restart) {
            if (f->hdr.ext.levels == -2 && (f->hdr.base.hdrflags & kHdrHasExt)) f->hdr.ext.levels = s.depth + 1;
            b = movrgt(s.workkey, f, b, 0);
            if (!b) {
                if (g->uerr_cod != kUerrDeleted) return g->uerr_cod;
                restart = true;
            }
        }
        if (restart) {
            if (++deleted_restarts > 100) {
                if (f->kind == kKindVariable) {
                    invspcmgtidx(f, "Invalidating space management index due to unexpected deleted node during "
                                    "iaddkey in file...");
                    return set_uerr(527);
                }
                return idx_corrupt(f, "Unexpected deleted node during iaddkey in file...");
            }
            continue;
        }
        const int e = s.elm;
        if (e >= 1 && e <= b->hdr.nkv && s.cmp == 0) {
            if (replace) {
                if (mark) {
                    if (int rc = tstupd(f)) return set_uerr(rc);
                }
                if (b->kind != 0) set_elem_ptr(b, e, posh, posl);
                b->expnum = 0;
                return set_uerr(putnod(b, b->hdr.nkv, 1));
            }
            if ((f->hdr.ext.flmode2 & kFl2DupQuiet) && !(s.options & kIdxOptDupStrict)) {
                uint32_t oh, ol;
                drnpnt81p(&ol, &oh, b, e);
                if (idx_dup(f) || (oh == posh && ol == posl)) {
                    usys(-837);
                    return set_uerr(0);
                }
            }
            // A global unique index of a partitioned host: the caller may
            // replace an entry whose member no longer holds it.
            if (global_unique_host(f) && !idx_dup(f)) {
                uint32_t oh, ol;
                drnpnt81p(&ol, &oh, b, e);
                usys(partition_entry_stale(f, oh, ol) ? -726 : 0);
            }
            return set_uerr(2);
        }
        if (update_only) return set_uerr(101);
        if (mark) {
            if (int rc = tstupd(f)) return set_uerr(rc);
        }
        if (b->hdr.leaf == 0 || is_deleted(b)) return idx_corrupt(f, "Corrupt index encountered during addkey");
        if (e < 1 || e > b->hdr.nkv + 1) s.elm = b->hdr.nkv + 1;
        bool in = false;
        int rc = zvinsert81(b, f, s.workkey, posh, posl, split, &in);
        // The key is in and counted; a failed header write still goes to
        // the caller.
        if (in) {
            int hrc = hdrupd(f, 1);
            if (!rc) rc = hrc;
        }
        return set_uerr(rc);
    }
}

extern "C" {

ZV_API int ADDKEY(int filno, const void *key, uint32_t poslow, int mode) {
    if (!zvWNGV) return 47;
    uint32_t hi = uint32_t(zvGETHGHi());
    return iaddkey(filno, key, hi, poslow, mode | 128);
}

ZV_API int UpdateRecordOffsetForKey(int filno, const void *key, uint64_t newpos) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = tstifnm(filno);
    if (!f) return g->uerr_cod;
    // An index of a file set only: its ISAM key number must be in use.
    const ISAMMAPENT *e = isam_entry(filno);
    if (f->kind != kKindIndex || !e || e->inuse == kMapFree) return set_uerr(48);
    if (!key) return set_uerr(540);
    uint32_t nh = uint32_t(newpos >> 32), nlo = uint32_t(newpos);
    if (!idx_dup(f)) return iaddkey(filno, key, nh, nlo, 0x400 | 128);
    const int32_t k = f->hdr.base.keylen;
    const int p = idx_psize(f);
    const auto *kb = static_cast<const unsigned char *>(key);
    uint32_t oh = 0, ol;
    if (p == 8) {
        oh = ldbe32(kb + k - 8);
        ol = ldbe32(kb + k - 4);
    } else {
        ol = ldbe32(kb + k - 4);
    }
    int rc = idelchk(filno, key, oh, ol, 129);
    if (rc == 4) return set_uerr(101);
    if (rc) return rc;
    return iaddkey(filno, key, nh, nlo, 128);
}

}  // extern "C"
