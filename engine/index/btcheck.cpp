// Structural checker of an index B-link tree (a check of the tests).
//
// The checker walks the tree level by level from the root: each level along
// its successor links, checking that the level is exactly the children of
// the level above, in order, and that every parent key equals its child's
// high key (a leaf's stored high key, a non-leaf's last key). At the leaf
// level it checks the key order across the whole index and counts the keys.
// Then it walks the deleted-node stack. It reads through the node cache, so
// it sees the index as the engine does, changes nothing, and holds one node
// buffer at a time (it works with the smallest cache).
#include "engine/index/btcheck.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <unordered_set>
#include <vector>

#include "engine/core/arith.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/core/fcb.h"
#include "engine/files/header.h"
#include "engine/index/idxstate.h"
#include "engine/index/keysearch.h"
#include "engine/index/node.h"
#include "engine/index/nodecache.h"

namespace zv {

namespace {

struct Checker {
    FCB *f;
    BtReport *rep;
    int32_t k;
    std::unordered_set<uint64_t> tree;

    int fail(int code, uint32_t h, uint32_t l, const char *fmt, ...) {
        rep->code = code;
        rep->nodeh = h;
        rep->nodel = l;
        va_list ap;
        va_start(ap, fmt);
        vsnprintf(rep->message, sizeof rep->message, fmt, ap);
        va_end(ap);
        return code;
    }

    NODEBUF *read(uint32_t h, uint32_t l) { return zvgetnod81(kNodNoSettle | kNodQuiet, h, l, f); }

    static bool all_ff(const unsigned char *p, int32_t n) {
        for (int32_t i = 0; i < n; i++)
            if (p[i] != 0xFF) return false;
        return true;
    }

    int run();
    int check_stack();
};

// One expected node of a level: its position and its parent's key for it.
struct Child {
    uint64_t pos;
    size_t key;  // offset into the level's key store
};

int Checker::run() {
    uint32_t rl = gtroot(f);
    uint32_t rh = uint32_t(zvGETHGHi());
    uint64_t count = join64(f->hdr.ext.numenth, f->hdr.base.nument);
    if (rl == 0 && rh == 0) {
        if (count != 0) return fail(kBtCount, 0, 0, "empty index with key count %llu", (unsigned long long)count);
        return check_stack();
    }
    std::vector<Child> expect;         // children named by the level above
    std::vector<unsigned char> keys;   // their parent keys
    std::vector<Child> next;
    std::vector<unsigned char> nextkeys;
    std::vector<unsigned char> prevkey;  // last key seen at the leaf level
    bool have_prev = false;
    std::vector<unsigned char> prevhigh;  // high key of the leaf before
    bool have_prevhigh = false;
    uint64_t start = join64(rh, rl);
    for (int depth = 0;; depth++) {
        if (depth >= kIdxLevels) return fail(kBtLevel, rh, rl, "more than %d levels", kIdxLevels);
        next.clear();
        nextkeys.clear();
        size_t idx = 0;
        int leaf = -1;
        uint64_t pos = start, prev = 0;
        while (pos) {
            uint32_t h = uint32_t(pos >> 32), l = uint32_t(pos);
            if (!tree.insert(pos).second) return fail(kBtSucc, h, l, "node met twice at depth %d", depth);
            NODEBUF *b = read(h, l);
            if (!b) return fail(kBtRead, h, l, "node unreadable (%d)", int(zvWNGV->uerr_cod));
            rep->nodes++;
            if (is_deleted(b)) return fail(kBtDeleted, h, l, "deleted node in the tree");
            if (b->hdr.member != f->hdr.base.kmem) return fail(kBtMember, h, l, "member %d", b->hdr.member);
            if (leaf < 0) leaf = b->hdr.leaf;
            if (b->hdr.leaf != leaf) return fail(kBtLevel, h, l, "leaf flag differs within depth %d", depth);
            uint64_t pred = join64(b->hdr.predsrh, b->hdr.predsr);
            if (leaf ? pred != prev : (pred != 0 && pred != prev))
                return fail(kBtPred, h, l, "predecessor %llx, expected %llx", (unsigned long long)pred,
                            (unsigned long long)prev);
            if (b->hdr.nkb > b->maxb || (leaf && b->hdr.nkv > b->maxkv))
                return fail(kBtShape, h, l, "nkv %d nkb %d beyond capacity", b->hdr.nkv, b->hdr.nkb);
            if (!leaf && (b->hdr.numexc || b->hdr.nkv == 0))
                return fail(kBtShape, h, l, "non-leaf with %d elements, %d marks", b->hdr.nkv, b->hdr.numexc);
            // This node must be the next child the level above named.
            if (depth > 0) {
                if (idx >= expect.size() || expect[idx].pos != pos)
                    return fail(kBtSucc, h, l, "successor chain leaves the parents' children at %zu", idx);
            }
            const unsigned char *high = leaf ? highkey_of(b) : valpnt(b, b->hdr.nkv);
            if (!high) return fail(kBtRead, h, l, "element unreadable");
            if (depth > 0 && memcmp(&keys[expect[idx].key], high, size_t(k)) != 0)
                return fail(kBtParent, h, l, "parent key differs from the high key");
            idx++;
            bool last_on_level = b->hdr.sucesr == 0 && b->hdr.sucesrh == 0;
            if (last_on_level && depth > 0 && idx != expect.size())
                return fail(kBtSucc, h, l, "level ends after %zu of %zu children", idx, expect.size());
            if (last_on_level && !all_ff(high, k))
                return fail(leaf ? kBtHigh : kBtLastKey, h, l, "last high key of depth %d not all 0xFF", depth);
            std::vector<unsigned char> highcopy(high, high + k);
            for (int i = 1; i <= b->hdr.nkv; i++) {
                const unsigned char *key = valpnt(b, i);
                if (!key) return fail(kBtRead, h, l, "element %d unreadable", i);
                if (leaf) {
                    if (have_prev && compar_k(prevkey.data(), key, k) >= 0)
                        return fail(kBtOrder, h, l, "key %d not above the key before it", i);
                    if (have_prevhigh && compar_k(prevhigh.data(), key, k) >= 0)
                        return fail(kBtOrder, h, l, "key %d not above the previous leaf's high key", i);
                    if (memcmp(key, highcopy.data(), size_t(k)) > 0)
                        return fail(kBtHigh, h, l, "key %d above the high key", i);
                    uint32_t ph, pl;
                    if (!drnpnt81p(&pl, &ph, b, i)) return fail(kBtShape, h, l, "zero record position %d", i);
                    key = valpnt(b, i);
                    prevkey.assign(key, key + k);
                    have_prev = true;
                    rep->keys++;
                } else {
                    if (i > 1 && compar_k(&nextkeys[nextkeys.size() - size_t(k)], key, k) >= 0)
                        return fail(kBtOrder, h, l, "key %d not above the key before it", i);
                    size_t off = nextkeys.size();
                    nextkeys.insert(nextkeys.end(), key, key + k);
                    uint32_t ch, cl;
                    if (nodpnt81e(&cl, &ch, b, i) != 0) return fail(kBtShape, h, l, "zero child pointer %d", i);
                    next.push_back(Child{join64(ch, cl), off});
                }
            }
            if (leaf) {
                prevhigh = highcopy;
                have_prevhigh = true;
            }
            prev = pos;
            pos = join64(b->hdr.sucesrh, b->hdr.sucesr);
            if (depth == 0 && pos != 0) return fail(kBtSucc, h, l, "root has a successor");
        }
        if (depth > 0 && idx != expect.size())
            return fail(kBtSucc, uint32_t(start >> 32), uint32_t(start), "level ends after %zu of %zu children", idx,
                        expect.size());
        if (leaf == 1) {
            uint64_t anchor = join64(idx_hug(f) ? f->hdr.ext.lanchrh : 0, f->hdr.base.lanchr);
            if (anchor != start)
                return fail(kBtAnchor, uint32_t(start >> 32), uint32_t(start), "leaf anchor %llx",
                            (unsigned long long)anchor);
            if (count != rep->keys)
                return fail(kBtCount, 0, 0, "key count %llu, leaves hold %llu", (unsigned long long)count,
                            (unsigned long long)rep->keys);
            rep->depth = depth + 1;
            if (levels_kept(f) && f->hdr.ext.levels != rep->depth)
                return fail(kBtLevels, 0, 0, "level count %d, depth %d", int(f->hdr.ext.levels), rep->depth);
            return check_stack();
        }
        expect.swap(next);
        keys.swap(nextkeys);
        if (expect.empty()) return fail(kBtShape, 0, 0, "no children below depth %d", depth);
        start = expect[0].pos;
    }
}

int Checker::check_stack() {
    FCB *host = idx_host(f);
    uint64_t pos = join64(idx_hug(host) ? host->hdr.ext.delstkh : 0, host->hdr.base.delstk);
    std::unordered_set<uint64_t> seen;
    while (pos) {
        uint32_t h = uint32_t(pos >> 32), l = uint32_t(pos);
        if (!seen.insert(pos).second) return fail(kBtStack, h, l, "deleted-node stack loops");
        if (tree.count(pos)) return fail(kBtStack, h, l, "node on the deleted-node stack is in the tree");
        NODEBUF *b = read(h, l);
        if (!b) return fail(kBtRead, h, l, "deleted node unreadable (%d)", int(zvWNGV->uerr_cod));
        if (!is_deleted(b)) return fail(kBtStack, h, l, "node on the deleted-node stack not marked deleted");
        rep->deleted++;
        pos = join64(b->hdr.sucesrh, b->hdr.sucesr);
    }
    return 0;
}

}  // namespace

int btcheck(FCB *f, BtReport *rep) {
    memset(rep, 0, sizeof *rep);
    if (!f || f->kind == kKindFixed) {
        rep->code = kBtRead;
        snprintf(rep->message, sizeof rep->message, "not an index");
        return rep->code;
    }
    INSTGV *g = zvWNGV;
    uint16_t saved = g->uerr_cod;
    Checker c{f, rep, f->hdr.base.keylen, {}};
    int rc;
    try {
        rc = c.run();
    } catch (const std::bad_alloc &) {
        rc = c.fail(kBtRead, 0, 0, "no memory for the check");
    }
    if (rc == 0) g->uerr_cod = saved;
    return rc;
}

}  // namespace zv
