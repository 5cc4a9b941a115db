// Key deletion.
//
// Nodes are never merged: an element is removed from its leaf, and only a
// leaf left empty leaves the tree. Its neighbours are linked to each other,
// it goes on the deleted-node stack, and its parents are repaired along the
// delete path recorded on the way down: the parent loses the element of the
// removed child; a parent that loses its last element passes its new high
// key upward; a parent left empty leaves the tree in turn; a root left with
// a single child gives way to that child and the tree loses a level.
//
// Rules:
//  1. The first and the last leaf of the tree stay when empty, as does
//     every leaf of an index with the no-removal option.
//  2. In a compressed index a leaf also stays when a node that would have
//     to take a new key on the repair path was found full on the way down.
//  3. The removed key is counted off as soon as its leaf is stored; the
//     leaf's removal is a clean-up after that. Should the clean-up stop half
//     way (a neighbour or parent cannot be read or written), the index is
//     marked for rebuild.
#include "engine/index/keydelete.h"

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
#include "engine/index/keysearch.h"
#include "engine/index/node.h"
#include "engine/index/nodealloc.h"
#include "engine/index/nodecache.h"
#include "engine/index/nodeupdate.h"
#include "engine/index/walkguard.h"

using namespace zv;

namespace {

int broken_removal(FCB *f, int code) {
    if (code == 0) code = 527;
    setidxcorrupt(f, "Leaf removal not completed in index", kLogSingleTry, code);
    return code;
}

int path_fault(FCB *f, const char *format, int level) {
    char msg[120];
    snprintf(msg, sizeof msg, format, level);
    return idx_corrupt(f, msg);
}

inline bool has_succ(const NODEBUF *b) { return b->hdr.sucesr || b->hdr.sucesrh; }
inline bool has_pred(const NODEBUF *b) { return b->hdr.predsr || b->hdr.predsrh; }

// In a compressed index: does the repair path hold a node that was found
// with no room for one more key of full length? The parent, and upward every
// node through whose last element the path runs.
bool path_full(const IdxState &s) {
    int lvl = s.ndepth - 1;
    if (lvl < 0) return false;
    if (s.npath[lvl].full) return true;
    while (lvl > 0 && s.npath[lvl].elm == s.npath[lvl].nkv) {
        lvl--;
        if (s.npath[lvl].full) return true;
    }
    return false;
}

// Sets the successor link of the left neighbour of the non-leaf removed
// below path level `lvl` (the removed node was element e of that level's
// node): the child of element e - 1, or the last node at the removed node's
// depth under the nearest ancestor whose path element is above 1.
int relink_left(FCB *f, int lvl, int e, uint32_t sh, uint32_t sl) {
    IdxState &s = idx_state(zvWNGV);
    int from = lvl, elm = e;
    while (elm <= 1) {
        if (--from < 0) return 0;  // leftmost on its level: nothing to link
        elm = s.npath[from].elm;
    }
    NODEBUF *b = zvgetnod81(kNodParent, s.npath[from].posh, s.npath[from].posl, f);
    if (!b) return zvWNGV->uerr_cod;
    uint32_t nh, nl;
    if (nodpnt81e(&nl, &nh, b, elm - 1) != 0) return 527;
    // Down the last elements to the removed node's depth (lvl + 1).
    for (int d = from + 1; d < lvl + 1; d++) {
        b = zvgetnod81(kNodParent, nh, nl, f);
        if (!b) return zvWNGV->uerr_cod;
        if (b->hdr.nkv == 0 || nodpnt81e(&nl, &nh, b, b->hdr.nkv) != 0) return 527;
    }
    b = zvgetnod81(kNodParent, nh, nl, f);
    if (!b) return zvWNGV->uerr_cod;
    b->hdr.sucesr = sl;
    b->hdr.sucesrh = sh;
    return putnod(b, b->hdr.nkv, 1);
}

}  // namespace

int zvdelupl81(uint32_t sh, uint32_t sl, FCB *f) {
    INSTGV *g = zvWNGV;
    IdxState &s = idx_state(g);
    const int32_t k = f->hdr.base.keylen;
    const int p = idx_psize(f);
    for (int round = 0;; round++) {
        if (s.ndepth <= 0) return path_fault(f, "Unexpected zero node in npath array level %d  [241c]", 0);
        const IdxPathEntry pe = s.npath[--s.ndepth];
        if (pe.posh == 0 && pe.posl == 0)
            return path_fault(f, "Unexpected zero node in npath array level %d  [241c]", s.ndepth);
        const int e = pe.elm;
        if (round > 0) {
            if (int rc = relink_left(f, s.ndepth, e, sh, sl)) return broken_removal(f, rc);
        }
        NODEBUF *pb = zvgetnod81(kNodParent, pe.posh, pe.posl, f);
        if (!pb) return broken_removal(f, g->uerr_cod);
        if (s.ndepth == 0 && pb->hdr.nkv < 3) {
            // The root keeps a single child: that child becomes the root.
            if (e != 1) return broken_removal(f, idx_corrupt(f, "Unexpected npoint in zvdelupl81_rcv()  [243b]"));
            if (sh == 0 && sl == 0)
                return broken_removal(f, idx_corrupt(f, "Zero snode in zvdelupl81_rcv()  [244b]"));
            if (levels_kept(f) && f->hdr.ext.levels > 0) f->hdr.ext.levels--;
            f->hdr.base.root = sl;
            if (idx_hug(f)) f->hdr.ext.rooth = sh;
            int rc = wrthdr(f);
            int rc2 = rtnode81(pb, pe.posh, pe.posl, f);
            return rc ? rc : rc2;
        }
        const bool was_last = e == pb->hdr.nkv;
        s.elm = e;
        if (delexp(pb, 0) < 0) return broken_removal(f, 527);
        if (pb->hdr.nkv > 0) {
            int rc = putnod(pb, pb->hdr.nkv, 1);
            if (!was_last) return rc;
            // The parent's high key fell: carry it up.
            const unsigned char *nk = valpnt(pb, pb->hdr.nkv);
            if (!nk) return broken_removal(f, 527);
            memcpy(s.upkey, nk, size_t(k));
            uint32_t ch = pb->posh, cl = pb->posl;
            while (s.ndepth > 0) {
                const IdxPathEntry up = s.npath[--s.ndepth];
                if (up.posh == 0 && up.posl == 0)
                    return broken_removal(
                        f, path_fault(f, "Unexpected zero node in npath array level %d  [245c]", s.ndepth));
                NODEBUF *nb = zvgetnod81(kNodParent, up.posh, up.posl, f);
                if (!nb) return broken_removal(f, g->uerr_cod);
                nb = movrgt(s.upkey, f, nb, 0);
                if (!nb) return broken_removal(f, g->uerr_cod == kUerrDeleted ? 527 : g->uerr_cod);
                const int r = s.elm;
                uint32_t xh = 0, xl = 0;
                if (r < 1 || r > nb->hdr.nkv || nodpnt81e(&xl, &xh, nb, r) != 0 || xh != ch || xl != cl) {
                    setidxcorrupt(f, "Parent-Child branch error", 999, 527);
                    return broken_removal(f, 527);
                }
                const bool last_entry = r == nb->hdr.nkv;
                // The new key goes in before the old one goes out: a full
                // node holds one element more for that moment.
                NodeSpill spill(nb);
                if (insexp81(nb, s.upkey, ch, cl, p, 0) != 0) return broken_removal(f, 527);
                nb->hdr.nkv++;
                s.elm = r + 1;
                if (delexp(nb, 0) < 0) return broken_removal(f, 527);
                if (nb->hdr.nkb > nb->maxb)
                    return broken_removal(
                        f, idx_corrupt(f, "Unexpected condition (nkb > maxb) encountered during zvdelupl81"));
                if (int wrc = putnod(nb, nb->hdr.nkv, 1); wrc && !rc) rc = wrc;
                if (!last_entry) return rc;
                ch = nb->posh;
                cl = nb->posl;
            }
            return rc;
        }
        // The parent is empty: it leaves the tree too.
        sh = pb->hdr.sucesrh;
        sl = pb->hdr.sucesr;
        rtnode81(pb, pe.posh, pe.posl, f);
    }
}

int zvdelkey(FCB *f, const unsigned char *key, uint32_t posh, uint32_t posl, int mode) {
    INSTGV *g = zvWNGV;
    IdxState &s = idx_state(g);
    if ((mode & 128) && f->kind != kKindIndex) return set_uerr(48);
    if (!(mode & 0x120)) {
        if (int rc = chkredf(f->filno, f)) return set_uerr(rc);
    }
    const bool mark = !(mode & 32);
    const bool rmleaf = (mode & ~0x1A0) == 2;
    const int32_t k = f->hdr.base.keylen;
    if (!idx_hug(f)) posh = 0;
    int deleted_restarts = 0, attempts = 0;
    NODEBUF *b = nullptr;
    for (;;) {
        s.ndepth = 0;
        uint32_t nl = gtroot(f);
        uint32_t nh = uint32_t(zvGETHGHi());
        if (nl == 0 && nh == 0) return set_uerr(4);
        bool restart = false;
        bool moved = false;
        LevelWalk right(f);
        for (;;) {
            b = zvgetnod81(kNodRead, nh, nl, f);
            if (!b) return g->uerr_cod;
            if (b->hdr.leaf && !is_deleted(b)) {
                if (moved) return idx_corrupt(f, "Leaf node along an upper level during delkey...");
                break;
            }
            int r = nodser(b, key, 'L', 0);
            if (r == -1) {
                nh = b->hdr.sucesrh;
                nl = b->hdr.sucesr;
                if (nh == 0 && nl == 0) {
                    if (++attempts >= 11) return setidxcorrupt(f, "No leaf node found during delkey...", 11, 527);
                    restart = true;
                    break;
                }
                if (!right.step()) return idx_corrupt(f, "Index node loop found during delkey...");
                moved = true;
                continue;
            }
            if (r == -3) {
                restart = true;
                break;
            }
            if (r < 0) return idx_corrupt(f, "Corrupt index encountered during delkey...");
            if (s.ndepth >= kIdxLevels) return idx_corrupt(f, "Too many levels in b-tree structure...");
            IdxPathEntry &pe = s.npath[s.ndepth++];
            pe.posh = b->posh;
            pe.posl = b->posl;
            pe.elm = r;
            pe.nkv = b->hdr.nkv;
            pe.full = is_compressed(b) && b->maxb - (k + b->hdr.nkb) < 0;
            right.restart();
            moved = false;
            if (nodpnt81e(&nl, &nh, b, r) != 0) return g->uerr_cod;
        }
        if (!restart) {
            b = movrgt(key, f, b, 0);
            if (!b) {
                if (g->uerr_cod != kUerrDeleted) return g->uerr_cod;
                restart = true;
            }
        }
        if (!restart) break;
        if (++deleted_restarts > 100) {
            if (f->kind == kKindVariable) {
                invspcmgtidx(f, "Invalidating space management index due to unexpected deleted node during "
                                "zvdelkey in file...");
                return set_uerr(527);
            }
            return idx_corrupt(f, "Unexpected deleted node during zvdelkey in file...");
        }
    }
    if (!rmleaf) {
        const int e = s.elm;
        if (!(e >= 1 && e <= b->hdr.nkv && s.cmp == 0)) {
            if ((f->hdr.ext.flmode2 & kFl2DupQuiet) && !(s.options & kIdxOptDupStrict)) return set_uerr(0);
            return set_uerr(4);
        }
        uint32_t oh, ol;
        if (!drnpnt81p(&ol, &oh, b, e)) return g->uerr_cod;
        if (oh != posh || ol != posl) {
            if (!(s.options & kIdxOptRecovery)) {
                char line[120];
                snprintf(line, sizeof line, "KMAT_ERR:   indx: %x %xx  call: %x %xx", oh, ol, posh, posl);
                zvrcvlog(f->name, kLogSingleTry - int(f->hdr.base.kmem));
                zvrcvlog(line, kLogSingleTry);
            }
            return set_uerr(3);
        }
        if (mark) {
            if (int rc = tstupd(f)) return set_uerr(rc);
        }
        s.elm = e;
        if (delexp(b, 1) < 0) return set_uerr(527);
        if (b->ctl) zvrmvexc(b, e);
    }
    bool keep = b->hdr.nkv > 0 || f->noremove == 1 || !has_succ(b) || !has_pred(b);
    if (!keep && s.ndepth == 0) return idx_corrupt(f, "Unexpected btlev(0) in zvdelkey()  [242]");
    if (!keep && is_compressed(b) && path_full(s)) keep = true;
    int rc = putnod(b, b->hdr.nkv, 1);
    if (!rmleaf) {
        int hrc = hdrupd(f, -1);
        if (!rc) rc = hrc;
    }
    if (keep) return set_uerr(rc);
    // The empty leaf leaves the tree.
    const uint32_t lh = b->posh, ll = b->posl;
    const uint32_t ph = b->hdr.predsrh, pl = b->hdr.predsr;
    const uint32_t sh = b->hdr.sucesrh, sl = b->hdr.sucesr;
    NODEBUF *pb = zvgetnod81(kNodNoSettle, ph, pl, f);
    if (!pb) return g->uerr_cod;
    if (pb->hdr.sucesr != ll || pb->hdr.sucesrh != lh) return set_uerr(rc);  // not linked as expected: keep it
    NodePin pin(pb);
    NODEBUF *sb = zvgetnod81(kNodNoSettle, sh, sl, f);
    if (!sb) return g->uerr_cod;
    pb->hdr.sucesr = sl;
    pb->hdr.sucesrh = sh;
    sb->hdr.predsr = pl;
    sb->hdr.predsrh = ph;
    int r1 = putnod(pb, pb->hdr.nkv, 1);
    int r2 = putnod(sb, sb->hdr.nkv, 1);
    pin.release();
    if (!rc) rc = r1 ? r1 : r2;
    b = zvgetnod81(kNodNoSettle, lh, ll, f);
    if (!b) return broken_removal(f, g->uerr_cod);
    rtnode81(b, lh, ll, f);
    int urc = zvdelupl81(sh, sl, f);
    return set_uerr(urc ? urc : rc);
}

int idelchk(int filno, const void *key, uint32_t posh, uint32_t posl, int mode) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = tstifnm(filno);
    if (!f) return g->uerr_cod;
    if (!key) return set_uerr(540);
    // A file without node geometry (never set up by zvgetkbf) has no index.
    if (f->kind == kKindFixed || f->nhdrsiz == 0 || f->hdr.base.keylen == 0) return set_uerr(48);
    const int32_t k = f->hdr.base.keylen;
    memcpy(idx_state(g).workkey, key, size_t(k));
    if (!idx_hug(f)) posh = 0;
    if (idx_dup(f)) prpdup81(idx_state(g).workkey, f, posh, posl);
    return zvdelkey(f, idx_state(g).workkey, posh, posl, mode);
}

extern "C" {

ZV_API int DELCHK(int filno, const void *key, uint32_t poslow) {
    if (!zvWNGV) return 47;
    uint32_t hi = uint32_t(zvGETHGHi());
    return idelchk(filno, key, hi, poslow, 129);
}

ZV_API uint32_t DELBLD(int filno, const void *key) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    zvSETHGHi(0);
    FCB *f = tstifnm(filno);
    if (!f) return 0;
    if (!key) return set_uerr(540), 0u;
    if (f->kind != kKindIndex || !f->keybufs) return set_uerr(48), 0u;
    if (idx_dup(f)) return set_uerr(5), 0u;
    if (f->hdr.base.sfiltyp == 6) return set_uerr(416), 0u;
    const int32_t k = f->hdr.base.keylen;
    unsigned char target[kKeyRoom];
    memcpy(target, key, size_t(k));
    uint32_t lo = fndkey(f, target, 'E', nullptr);
    uint32_t hi = uint32_t(zvGETHGHi());
    if (lo == 0 && hi == 0) {
        if (g->uerr_cod == 0) set_uerr(4);
        return 0;
    }
    if (zvdelkey(f, target, hi, lo, 129) != 0) return 0;
    zvSETHGHi(int32_t(hi));
    return lo;
}

}  // extern "C"
