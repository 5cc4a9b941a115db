// Index verification: a structural check of one index that reports each
// fault it finds as a line of text and ends with one verdict.
//
// A run makes up to three steps, each chosen by a check bit:
//  1. the deleted-node stack of the index file: every node on it is marked
//     deleted and the stack ends within as many nodes as the file holds;
//  2. the link walk, depth first from the root: every node is counted per
//     level, checked against its limits, and the links between parent,
//     children and siblings must agree (a disagreement that one extra move
//     explains is reported; one that it does not explain is a bad link);
//  3. the page scan of the file: every page is classified (leaf of this
//     index, unused node, resource, badly formed), the leaf entries are
//     counted and, with the key check, each entry's key is searched again
//     and must lead back to the same entry.
// The verdict is SUCCESSFUL (0) when the entries found equal the header's
// key count and no bad node, misaligned node or bad link was met, else
// "Problems Discovered" (601).
//
// Invariants:
//  1. The verification only reads: nodes are copied (NodeView), never
//     taken through the node cache's checks, so a damaged node is reported
//     and no file is marked. Its one write is the flush of the index's
//     cached nodes before the page scan.
//  2. Every walk is bounded: the link walk never goes below level 14 nor
//     into a node already on its path from the root, and stops after twice
//     the nodes the file can hold (by its size on disk or by the last byte
//     used of its header in memory, whichever is larger: the cache may
//     hold nodes the disk has not seen yet); the stack walk stops after the
//     nodes the file can hold; the key search descends at most 15 levels.
//  3. Every per-run counter is cleared when a run starts.
//  4. Output is formatted into a buffer sized to the text, so nothing is
//     cut (82 bytes when that buffer cannot be had).
#include "engine/maint/verify.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/files/header.h"
#include "engine/files/resource.h"
#include "engine/files/varrec.h"
#include "engine/index/index_services.h"
#include "engine/index/node.h"
#include "engine/maint/maintstate.h"
#include "engine/maint/nodeview.h"

namespace zv {

namespace {

// Room of the output buffer when one sized to the text cannot be had.
constexpr size_t kFallbackRoom = 82;

MaintState &ms() { return maint_state(zvWNGV); }
VerifyCounters &vc() { return maint_state(zvWNGV).vc; }

// Formats into a buffer sized to the text; the fallback holds at least
// kFallbackRoom bytes. Returns the text.
char *format_text(char *fallback, char **owned, const char *fmt, va_list ap) {
    va_list ap2;
    va_copy(ap2, ap);
    int n = vsnprintf(nullptr, 0, fmt, ap2);
    va_end(ap2);
    *owned = nullptr;
    char *buf = fallback;
    size_t room = kFallbackRoom;
    if (n >= 0 && size_t(n) + 1 > kFallbackRoom) {
        *owned = static_cast<char *>(malloc(size_t(n) + 1));
        if (*owned) {
            buf = *owned;
            room = size_t(n) + 1;
        }
    }
    vsnprintf(buf, room, fmt, ap);
    return buf;
}

// Takes every line break out of s; the character after a removed break
// takes its place and is passed over, so of two adjacent breaks the second
// stays.
void drop_line_breaks(char *s) {
    size_t w = 0, r = 0;
    while (s[r]) {
        if (s[r] == '\n') {
            r++;
            if (s[r]) s[w++] = s[r++];
        } else {
            s[w++] = s[r++];
        }
    }
    s[w] = '\0';
}

int vprint(const char *fmt, va_list ap) {
    MaintState &m = ms();
    if (!m.vfyout) {
        vfprintf(getZarvoSTDOUT(), fmt, ap);
        return 0;
    }
    char fallback[kFallbackRoom];
    char *owned;
    char *text = format_text(fallback, &owned, fmt, ap);
    if (!(m.vfyflags & kVfyKeepBreaks)) drop_line_breaks(text);
    int r = m.vfyout(text);
    free(owned);
    return r;
}

// Percent of done against an estimate (at least 1), capped at 100.
int percent(uint64_t done, uint64_t estimate) {
    if (estimate < 1) estimate = 1;
    uint64_t p = done >= estimate ? 100 : done * 100 / estimate;
    return int(p > 100 ? 100 : p);
}

// Reports a progress event; true (and 910) when the routine asks to stop.
bool progress(int event, int pct) {
    VERIFYPROGFN fn = ms().vfyprogress;
    if (!fn) return false;
    if (fn(event, pct) != 0) {
        ms().vfystopped = 1;
        set_uerr(910);
        return true;
    }
    return false;
}

bool stopped() { return ms().vfystopped != 0; }

uint64_t header_count(const FCB *f) { return join64(f->hdr.ext.numenth, f->hdr.base.nument); }

unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }

// ---- The deleted-node stack ---------------------------------------------------

int stack_walk(FCB *f) {
    const uint32_t node = f->nodesize ? f->nodesize : 1;
    uint64_t size = 0;
    if (!index_file_size(f, &size)) return set_uerr(1016);
    uint64_t bound = size / node;
    if (bound < 1) bound = 1;
    FCB *host = idx_host(f);
    uint64_t pos = join64(idx_hug(host) ? host->hdr.ext.delstkh : 0, host->hdr.base.delstk);
    NodeView v;
    if (!v.init(f)) return set_uerr(82);
    uint64_t count = 0;
    while (pos != 0) {
        if (++count > bound) {
            zvVERIFYprintf("\nError: Detected apparent loop in index node delete stack.\n\n");
            zvVERIFYprintf("Physical size of this index file                 : %lld\n", (long long)size);
            zvVERIFYprintf("Node size for this index file                    : %d\n", int(f->nodesize));
            zvVERIFYprintf("Expected maximum number of nodes in delete stack : %lld\n", (long long)bound);
            zvVERIFYprintf("Number of nodes found in delete stack so far     : %lld\n", (long long)count);
            return set_uerr(511);
        }
        if (count % 1000 == 0 && progress(1, percent(count, bound))) return 910;
        if (int rc = v.read(pos, false)) return rc;
        if (!v.deleted()) return set_uerr(25);
        pos = v.succ();
    }
    return 0;
}

// ---- The link walk ------------------------------------------------------------

struct LinkWalk {
    FCB *f;
    uint64_t visits = 0;
    uint64_t estimate = 1;     // twice the nodes of the file on disk (progress only)
    uint64_t bound = 1;        // twice the nodes the file can hold, cached ones included
    bool abandoned = false;    // the walk met its bound and stopped
    bool misaligned_seen = false;
    uint64_t path[kVerifyLevels] = {};
    NodeView level[kVerifyLevels];
    NodeView scratch, scratch2;

    bool init() {
        for (NodeView &v : level)
            if (!v.init(f)) return false;
        return scratch.init(f) && scratch2.init(f);
    }

    // Counts one node visit: 910 when stopped; sets abandoned when the
    // bound is passed.
    int visit() {
        visits++;
        if (visits % 1000 == 0 && progress(2, percent(visits, estimate))) return 910;
        if (visits > bound && !abandoned) {
            zvVERIFYprintf("\nLink walk stopped after %llu node visits, more than the index file can hold ****",
                           ull(visits));
            vc().badlnk++;
            abandoned = true;
        }
        return 0;
    }

    void check_alignment(uint64_t pos) {
        if (fcb_is_memory(f)) return;
        const uint64_t node = f->nodesize;
        bool bad;
        if (idx_wrapped(f)) {
            // A wrapped node, its area header and the node, is one page of
            // the host and starts on a page boundary. Nodes that earlier
            // engines placed on multiples of the node size are as sound.
            uint64_t h = idx_hug(f) ? 22 : 18;
            bad = pos < h || ((pos - h) % (node + h) != 0 && (pos - h) % node != 0);
        } else {
            if (physical_fcb(idx_host(f))->hdr.base.clstyp == kKindVariable) return;
            bad = pos % node != 0;
        }
        if (!bad) return;
        if (!misaligned_seen) zvVERIFYprintf("\nFirst misaligned node at offset %llxx ****", ull(pos));
        misaligned_seen = true;
        vc().misnod++;
    }

    // Whether a child may be walked: not below level 14, not on its own
    // path. A child that may not is a bad link.
    bool followable(uint64_t node, int lvl, uint64_t child) {
        if (lvl + 1 >= kVerifyLevels) {
            zvVERIFYprintf("\nNode %llxx at level %d: child %llxx lies below level %d, not followed ****",
                           ull(node), lvl, ull(child), kVerifyLevels - 1);
            vc().badlnk++;
            return false;
        }
        for (int i = 0; i <= lvl; i++) {
            if (path[i] == child) {
                zvVERIFYprintf("\nNode %llxx at level %d: child %llxx is already on its path from the root, not "
                               "followed ****",
                               ull(node), lvl, ull(child));
                vc().badlnk++;
                return false;
            }
        }
        return true;
    }

    // Tries one move left from the stated predecessor: fixed when the
    // stated node's own predecessor is the expected one.
    int move_left(uint64_t stated, uint64_t expected, int code) {
        if (stated == 0) return 0;
        if (int rc = scratch2.read(stated, false)) return rc;
        if (scratch2.pred() == expected) {
            zvVERIFYprintf("\nSimple move left fixes.");
        } else {
            zvVERIFYprintf("\nSimple move left does not fix.");
            zvVERIFYprintf("\n<%d>...", code);
        }
        return 0;
    }

    // Tries one move right from the stated successor; a link that no move
    // explains (also a missing successor) is a bad link.
    int move_right(uint64_t stated, uint64_t expected, int code) {
        bool fixed = false;
        if (stated != 0) {
            if (int rc = scratch2.read(stated, false)) return rc;
            fixed = scratch2.succ() == expected;
        }
        if (fixed) {
            zvVERIFYprintf("\nSimple move right fixes.");
        } else {
            zvVERIFYprintf("\nSimple move right does not fix. ****");
            zvVERIFYprintf("\n<%d>...", code);
            vc().badlnk++;
        }
        return 0;
    }

    int walk(uint64_t node, uint64_t leftnb, int lvl, int elm, int elms);
};

int LinkWalk::walk(uint64_t node, uint64_t leftnb, int lvl, int elm, int elms) {
    if (node == 0) {
        zvVERIFYprintf("\nZero node at level %d", lvl);
        set_uerr(-1);
        return -1;
    }
    if (int rc = visit()) return rc;
    if (abandoned) return 0;
    NodeView &v = level[lvl];
    if (int rc = v.read(node, true)) return rc;
    path[lvl] = node;
    check_alignment(node);
    vc().nbrnod[lvl]++;
    if (v.buf()->hdr.numexc != 0) vc().nbrmrk[lvl]++;
    bool reported = false;
    if (v.over_capacity()) {
        zvVERIFYprintf("\nNode %llxx violates a capacity constraint:", ull(node));
        if (v.nkb() > v.maxb()) zvVERIFYprintf(" too many bytes (%d,%d);", v.nkb(), v.maxb());
        if (v.nkv() > v.maxkv()) zvVERIFYprintf(" too many key values (%d,%d);", v.nkv(), v.maxkv());
        zvVERIFYprintf(" ****");
        vc().badnod++;
        zvVERIFYprintf("\n<%d>...", 9985);
        reported = true;
    }
    if (!reported && !(v.leaf() && v.leafbyte() <= 1) && !v.well_formed()) {
        zvVERIFYprintf("\nNode %llxx at level %d is badly formed ****", ull(node), lvl);
        vc().badnod++;
        reported = true;
    }
    if (v.leaf()) {
        if (elm != 1 && v.pred() != leftnb) {
            zvVERIFYprintf("\nLeaf Node %llxx at level %d disagrees with Llink (pnode %llxx Llink %llxx) ****",
                           ull(node), lvl, ull(leftnb), ull(v.pred()));
            zvVERIFYprintf("\n<%d>...", 9990);
            vc().badlnk++;
            if (int rc = move_left(v.pred(), leftnb, 9996)) return rc;
        }
        if (elm == elms && v.succ() != 0) {
            if (int rc = scratch.read(v.succ(), false)) return rc;
            if (scratch.pred() != node) {
                zvVERIFYprintf("\nLeaf Node %llxx at level %d disagrees with Sibling %llxx Llink (%llxx) ****",
                               ull(node), lvl, ull(v.succ()), ull(scratch.pred()));
                zvVERIFYprintf("\n<%d>...", 9989);
                vc().badlnk++;
                if (int rc = move_left(scratch.pred(), node, 9995)) return rc;
            }
        }
        return 0;
    }
    if (v.leafbyte() > 1 || !v.well_formed()) return 0;  // its elements cannot be followed
    const int n = v.nkv();
    if (n == 0) {
        zvVERIFYprintf("\nNode %llxx at level %d is empty", ull(node), lvl);
        set_uerr(-3);
        return -3;
    }
    for (int e = 1; e < n; e++) {
        if (int rc = visit()) return rc;
        if (abandoned) return 0;
        const uint64_t ce = v.child(e), next = v.child(e + 1);
        if (ce != 0) {
            if (int rc = scratch.read(ce, false)) return rc;
            if (scratch.succ() != next) {
                const uint64_t s = scratch.succ();
                zvVERIFYprintf("\nNode %llxx at level %d disagrees with child %llxx (elm:%d N%llxx C%llxx)",
                               ull(node), lvl, ull(ce), e, ull(next), ull(s));
                zvVERIFYprintf("\n<%d>...", 9988);
                if (int rc = move_right(s, next, 9994)) return rc;
            }
        }
        if (!followable(node, lvl, ce)) continue;
        if (int rc = walk(ce, e > 1 ? v.child(e - 1) : 0, lvl + 1, e, n)) return rc;
        if (abandoned) return 0;
    }
    // The last child and the node's right sibling.
    const uint64_t last = v.child(n);
    const uint64_t sib = v.succ();
    uint64_t lastsucc = 0;
    if (last != 0) {
        if (int rc = scratch.read(last, false)) return rc;
        lastsucc = scratch.succ();
    }
    if ((sib == 0) != (lastsucc == 0)) {
        zvVERIFYprintf("\nNode %llxx at level %d Rlink (%llxx) problem. Child %llxx (%llxx) ****", ull(node), lvl,
                       ull(sib), ull(last), ull(lastsucc));
        zvVERIFYprintf("\n<%d>...", 9987);
        vc().badlnk++;
    }
    if (sib != 0) {
        if (int rc = scratch.read(sib, false)) return rc;
        uint64_t first = 0;
        if (!scratch.leaf() && scratch.well_formed() && scratch.nkv() > 0) first = scratch.child(1);
        if (first != lastsucc) {
            zvVERIFYprintf("\nNode %llxx %dth Child %llxx Successor %llxx at level %d disagres with Sibling %llxx 1st "
                           "Child %llxx",
                           ull(node), n, ull(last), ull(lastsucc), lvl, ull(sib), ull(first));
            zvVERIFYprintf("\n<%d>...", 9986);
            if (lastsucc != 0) {
                if (int rc = move_right(lastsucc, first, 9993)) return rc;
            }
        }
    }
    if (!followable(node, lvl, last)) return 0;
    return walk(last, n > 1 ? v.child(n - 1) : 0, lvl + 1, n, n);
}

// ---- The page scan ----------------------------------------------------------

// Exact search of a key with a bounded descent over node copies: the leaf
// and element where it ended and the position found (0 when none).
struct Found {
    uint64_t leaf = 0;
    int elm = 0;
    uint64_t pos = 0;
};

// The nodes of the last search, one per depth: the key check searches the
// keys of the page scan's leaf one after another, whose paths share all
// their nodes, so a node is read again only when the path moves on.
struct SearchPath {
    NodeView view[kVerifyLevels];
    uint64_t at[kVerifyLevels] = {};
    bool init(FCB *f) {
        for (NodeView &v : view)
            if (!v.init(f)) return false;
        return true;
    }
};

// The first element whose key is not below target (nkv + 1 when none).
int first_not_below(NodeView &v, const unsigned char *target, size_t k) {
    const int n = v.nkv();
    if (is_compressed(v.buf())) {
        // Compressed keys expand in order: a forward scan.
        int i = 1;
        while (i <= n && memcmp(v.key(i), target, k) < 0) i++;
        return i;
    }
    int lo = 1, hi = n + 1;
    while (lo < hi) {
        int mid = lo + (hi - lo) / 2;
        if (memcmp(v.key(mid), target, k) < 0) lo = mid + 1;
        else hi = mid;
    }
    return lo;
}

Found search_exact(FCB *f, SearchPath &sp, const unsigned char *target) {
    Found out;
    const size_t k = size_t(f->hdr.base.keylen);
    uint32_t rl = gtroot(f);
    uint64_t pos = join64(uint32_t(zvGETHGHi()), rl);
    for (int depth = 0; depth < kVerifyLevels && pos != 0; depth++) {
        NodeView &v = sp.view[depth];
        if (sp.at[depth] != pos) {
            sp.at[depth] = 0;
            if (v.read(pos, true) != 0) return out;
            sp.at[depth] = pos;
        }
        if (!v.well_formed()) return out;
        const int n = v.nkv();
        const int i = first_not_below(v, target, k);
        if (v.leaf()) {
            out.leaf = pos;
            out.elm = i;
            if (i <= n && memcmp(v.key(i), target, k) == 0) out.pos = v.recptr(i);
            return out;
        }
        if (i > n) return out;
        pos = v.child(i);
    }
    return out;
}

// Where the page scan reads, and how it steps.
struct PageScan {
    FCB *f;           // the index
    FCB *phys;        // the file that holds its nodes
    uint32_t node;    // node size
    int32_t wrap;     // space header in front of each node (0, 10, 18 or 22)
    bool plain;       // a plain index file (resources may lie between nodes)
    uint64_t last;    // last byte used of the file
};

const uint16_t kSpaceMarks[] = {0xFAFA, 0xFEFE, 0xFDFD, 0xFBBF, 0xFCFC};

bool is_space_mark(uint16_t m) {
    for (uint16_t k : kSpaceMarks)
        if (k == m) return true;
    return false;
}

// Looks for the next space header after pos, byte by byte (in pieces): its
// position, or 0 at the end of the file.
uint64_t resync(const PageScan &s, uint64_t pos) {
    unsigned char buf[8192];
    uint64_t at = pos + 1;
    while (at + 1 <= s.last) {
        int32_t want = int32_t(s.last + 1 - at < sizeof buf ? s.last + 1 - at : sizeof buf);
        int32_t got = 0;
        if (izvio81x(0x10, s.phys, uint32_t(at >> 32), uint32_t(at), buf, want, &got, 0) != 0 || got < 2) break;
        for (int32_t i = 0; i + 1 < got; i++) {
            if (is_space_mark(uint16_t(buf[i] | buf[i + 1] << 8))) {
                uint64_t found = at + uint64_t(i);
                zvVERIFYprintf("\nRe-establish record mark @ %08xx", uint32_t(found));
                if (found >> 32) zvVERIFYprintf(":HW%xx", uint32_t(found >> 32));
                return found;
            }
        }
        at += uint64_t(got - 1);
    }
    zvVERIFYprintf("\nEnd of file reached");
    set_uerr(0);
    return 0;
}

}  // namespace

int delstk_verify(FCB *f) { return stack_walk(f); }

int link_verify(FCB *f, uint32_t rooth, uint32_t rootl) {
    LinkWalk w;
    w.f = f;
    if (!w.init()) return set_uerr(82);
    uint64_t size = 0;
    if (!index_file_size(f, &size)) return set_uerr(1016);
    const uint64_t node = f->nodesize ? f->nodesize : 1;
    w.estimate = std::max<uint64_t>(1, 2 * (size / node));
    // Nodes the cache holds may not have reached the file yet, but the
    // header in memory already counts them in its last byte used.
    const FCB *phys = physical_fcb(idx_host(f));
    const uint64_t used = join64(phys->hdr.ext.numrech, phys->hdr.base.numrec) + 1;
    w.bound = std::max<uint64_t>(1, 2 * (std::max(size, used) / node));
    return w.walk(join64(rooth, rootl), 0, 0, 1, 1);
}

void prtkey(const unsigned char *key, FCB *f) {
    if (!key) {
        zvVERIFYprintf("%s", "[??]");
        return;
    }
    int32_t n = f->hdr.base.keylen - (idx_dup(f) ? idx_psize(f) : 0);
    if (n < 0) n = 0;
    std::string line;
    line.reserve(size_t(n) * 6 + 2);
    line += '[';
    char cell[8];
    for (int32_t i = 0; i < n; i++) {
        unsigned char c = key[i];
        snprintf(cell, sizeof cell, "%02x(%c) ", c, (c >= 32 && c < 127) ? char(c) : '.');
        line += cell;
    }
    line += ']';
    zvVERIFYprintf("%s", line.c_str());
}

namespace {

// Walks the pages of the file that holds index f's nodes, from its first
// node to its last byte used, reads every node-sized page that may be a
// node of f into v and calls visit(node position): a plain index steps
// node by node over its resources (counted in *resources when given); a
// host that wraps nodes in space headers steps area by area, taking the
// node areas of f's superfile member only. 0, 910 when stopped, a read
// error, or visit's non-zero answer.
template <class Visit>
int walk_pages(FCB *f, int32_t *resources, NodeView &v, Visit visit) {
    PageScan s;
    s.f = f;
    s.phys = physical_fcb(idx_host(f));
    s.node = f->nodesize;
    const bool hugfile = idx_hug(s.phys);
    const uint16_t st = s.phys->hdr.base.sfiltyp;
    if (idx_wrapped(f) || st == kSfHost) s.wrap = hugfile ? 22 : 18;
    else if (s.phys->hdr.base.clstyp == kKindVariable) s.wrap = 10;
    else s.wrap = 0;
    s.plain = s.wrap == 0 && s.phys->hdr.base.clstyp == kKindIndex;
    s.last = join64(hugfile ? s.phys->hdr.ext.numrech : 0, s.phys->hdr.base.numrec);
    const uint32_t supmbr = idx_host(f)->hdr.base.supmbr;
    const uint64_t hdrpos = join64(f->hposh, f->hposl);
    uint64_t pages = 0;
    uint64_t pos = s.wrap ? first_node_offset(s.phys) : begbytnod(f);
    while (pos != 0 && (s.wrap ? pos + uint64_t(s.wrap) <= s.last : pos + s.node - 1 <= s.last)) {
        if (stopped()) return 910;
        if (++pages % 1000 == 0 && progress(4, percent(pos, s.last))) return 910;
        uint64_t step = s.node;
        uint64_t nodepos = pos;
        if (s.plain) {
            if (int rc = v.read(pos, false)) return rc;
            // A resource begins with its mark; only then is its header read.
            const unsigned char *p = node_of(v.buf());
            RESHDR r;
            int rc = (p[0] == 0xFE && p[1] == 0xFE) ? getrhdr(s.phys, pos, &r) : 407;
            if (rc == 0 && r.arealen > 0 && r.arealen % s.node == 0) {
                if (resources && (r.type != 0 || r.number != 0)) (*resources)++;
                pos += r.arealen;
                continue;
            }
            if (rc != 0 && rc != 407) return rc;
            set_uerr(0);
        } else {
            // Each node sits in a space of the host behind its header.
            VRECHDR h;
            if (int rc = getvhdr81(s.wrap == 10 ? s.phys : idx_host(f), uint32_t(pos >> 32), uint32_t(pos), &h))
                return rc;
            if (h.arealen == 0 || int32_t(h.arealen) <= 0) {
                zvVERIFYprintf("\nMBR_SUPER scan: recmrk:%x trclen=%08xx @ %08xx", unsigned(h.mark), h.arealen,
                               uint32_t(pos));
                if (pos >> 32) zvVERIFYprintf(":HW%xx", uint32_t(pos >> 32));
                pos = resync(s, pos);
                continue;
            }
            step = h.arealen;
            nodepos = pos + uint64_t(s.wrap);
            bool ours = h.mark == kVrecUsed && h.arealen == s.node + uint32_t(s.wrap) &&
                        (s.wrap == 10 || h.member == supmbr) && !(hdrpos >= pos && hdrpos < pos + h.arealen);
            if (!ours) {
                pos += step;
                continue;
            }
            if (int rc = v.read(nodepos, false)) return rc;
        }
        if (int rc = visit(nodepos)) return rc;
        pos += step;
    }
    return stopped() ? 910 : 0;
}

}  // namespace

int leaf_verify(FCB *f, bool keycheck, int64_t *entries) {
    VerifyCounters &c = vc();
    c.resnod = c.badnod = c.ununod = c.mtynod = c.lefxtr = 0;
    if (fcb_is_memory(f)) {
        zvVERIFYprintf("\nLeaf node verification is not supported for memory index files.\n");
        return set_uerr(454);
    }
    const uint16_t kmem = f->hdr.base.kmem;
    const FCB *phys = physical_fcb(idx_host(f));
    const bool rvrs = (f->hdr.base.flmode & 16) && phys->hdr.base.clstyp != kKindVariable;
    const uint32_t node = f->nodesize;
    NodeView v;
    SearchPath sp;
    if (!v.init(f) || !sp.init(f)) return set_uerr(82);
    std::vector<unsigned char> key(size_t(f->hdr.base.keylen) + 1);
    int64_t count = 0;
    bool badly_formed_seen = false;
    auto badly_formed = [&](uint64_t nodepos) {
        if (!badly_formed_seen) zvVERIFYprintf("\nFirst badly formed node at offset %llxx ****", ull(nodepos));
        badly_formed_seen = true;
        c.badnod++;
    };
    int rc = walk_pages(f, &c.resnod, v, [&](uint64_t nodepos) {
        NODEBUF *b = v.buf();
        const bool live = !v.deleted();
        if (live && v.leafbyte() == 1 && b->hdr.member == kmem) {
            if (!v.well_formed()) {
                badly_formed(nodepos);
                return 0;
            }
            const int n = v.nkv();
            count += n;
            if (n == 0) c.mtynod++;
            if (rvrs && n > 0 && zvelmexc81(b, 1, nullptr, nullptr) == kMarkDel) {
                zvVERIFYprintf("\nLeaf Node %llxx begins with RVRS exc entry (pntr = %llxx) ****", ull(nodepos),
                               ull(v.recptr(1)));
                prtkey(v.key(1), f);
                zvVERIFYprintf("\n<%d>...", 9999);
                c.badnod++;
            }
            for (int i = 1; keycheck && i <= n; i++) {
                memcpy(key.data(), v.key(i), size_t(f->hdr.base.keylen));
                const uint64_t ptr = v.recptr(i);
                Found fd = search_exact(f, sp, key.data());
                if (fd.pos != ptr) {
                    zvVERIFYprintf("\nLeaf Node %llxx elm %d pntr disagreement (pntr %llxx EQLKEY %llxx)", ull(nodepos),
                                   i, ull(ptr), ull(fd.pos));
                    prtkey(key.data(), f);
                    zvVERIFYprintf("\n<%d>...", 9992);
                    c.lefxtr += n;
                    break;
                }
                if (fd.leaf != nodepos || fd.elm != i) {
                    zvVERIFYprintf("\nLeaf Node %llxx retrieval disagreement (i %d zv_elm %d zv_fnode %llxx)",
                                   ull(nodepos), i, fd.elm, ull(fd.leaf));
                    prtkey(key.data(), f);
                    zvVERIFYprintf("\n<%d>...", 9991);
                    c.lefxtr += n;
                    break;
                }
            }
        } else if (kmem == 0) {
            if (!live) c.ununod++;
            else if (b->hdr.nkb > node || int16_t(b->hdr.nkv) < 0 || b->hdr.nkv > b->hdr.nkb || v.leafbyte() > 1)
                badly_formed(nodepos);
        }
        return 0;
    });
    if (rc) return rc;
    progress(36, 100);
    zvVERIFYprintf("\nIndex page scan finds entries=%d  header=%d", int(count), int(header_count(f)));
    if (c.lefxtr) zvVERIFYprintf("\nScanned entries include %d entries no longer part of index.", c.lefxtr);
    if (c.misnod) zvVERIFYprintf("\nScanned entries may be understated because of misaligned nodes.");
    if (entries) *entries = count;
    return stopped() ? 910 : 0;
}

int leaf_extra(int idxno, int datno) {
    INSTGV *g = zvWNGV;
    if (!g) return 1;
    FILE *o = getZarvoSTDOUT();
    FCB *f = tstfnm(idxno);
    if (f && fcb_is_memory(f)) {
        fprintf(o, "\nzvMEMFILE not supported.");
        return 1;
    }
    if (!f || f->kind != kKindIndex) {
        fprintf(o, "\nIndex file not opened.");
        return 1;
    }
    FCB *d = tstfnm(datno);
    if (!d || d->kind == kKindIndex) {
        fprintf(o, "\nData file not opened.");
        return 1;
    }
    // The routines of a verification run are not in force here: the lines
    // go to standard output.
    MaintState saved = maint_state(g);
    maint_state(g).vfyout = nullptr;
    maint_state(g).vfyprogress = nullptr;
    maint_state(g).vfystopped = 0;
    struct Restore {
        INSTGV *g;
        MaintState &m;
        ~Restore() { maint_state(g) = m; }
    } restore{g, saved};
    int32_t reclen = GETFIL(datno, 0);
    std::vector<unsigned char> rec, formed(size_t(f->hdr.base.keylen) + 16);
    try {
        rec.resize(size_t(reclen > 0 ? reclen : 1));
    } catch (const std::bad_alloc &) {
        fprintf(o, "\nCould not allocate data record buffer (%d)", int(reclen));
        return 1;
    }
    NodeView v;
    if (!v.init(f)) {
        fprintf(o, "\nCould not allocate data record buffer (%d)", int(reclen));
        return 1;
    }
    const uint16_t kmem = f->hdr.base.kmem;
    const size_t kl = size_t(f->hdr.base.keylen);
    int64_t count = 0;
    walk_pages(f, nullptr, v, [&](uint64_t nodepos) {
        if (v.deleted() || v.leafbyte() != 1 || v.buf()->hdr.member != kmem || !v.well_formed()) return 0;
        for (int i = 1; i <= v.nkv(); i++) {
            count++;
            const unsigned char *key = v.key(i);
            const uint64_t pos = v.recptr(i);
            const uint32_t hi = uint32_t(pos >> 32), lo = uint32_t(pos);
            int32_t len = reclen;
            if (d->kind == kKindVariable) {
                VRECHDR h;
                if (getvhdr81(d, hi, lo, &h) != 0 || h.mark != kVrecUsed) {
                    fprintf(o, "\nRecord mark at %xx is bad: %x\n", lo, unsigned(h.mark));
                    prtkey(key, f);
                    fprintf(o, "\n<%d>...", 9987);
                    continue;
                }
                len = int32_t(h.reclen);
                if (rec.size() < size_t(len)) rec.resize(size_t(len));
                zvSETHGH(int32_t(hi));
                int rc = RDVREC(datno, lo, rec.data(), int32_t(rec.size()));
                if (rc) {
                    fprintf(o, "\nCould not read (error %d) record %xx for key ", rc, lo);
                    prtkey(key, f);
                    fprintf(o, "\n<%d>...", 9989);
                    continue;
                }
            } else {
                zvSETHGH(int32_t(hi));
                int rc = REDREC(datno, lo, rec.data());
                if (rc) {
                    fprintf(o, "\nCould not read (error %d) record %xx for key ", rc, lo);
                    prtkey(key, f);
                    fprintf(o, "\n<%d>...", 9989);
                    continue;
                }
                if (rec[0] == 0xFF || (rec.size() > 1 && rec[0] == 0xFE && rec[1] == 0xFE)) {
                    fprintf(o, "\nBad first byte at %xx: %x\n", lo, unsigned(rec[0]));
                    prtkey(key, f);
                    fprintf(o, "\n<%d>...", 9986);
                    continue;
                }
            }
            zvSETHGH(int32_t(hi));
            int32_t n = frmkey(idxno, rec.data(), formed.data(), lo, len);
            if (n <= 0 || memcmp(formed.data(), key, kl) != 0) {
                fprintf(o, "\nKey value disagreement for record %xx from node %llxx(%d) (frmkey,index)\n", lo,
                        ull(nodepos), i);
                prtkey(n > 0 ? formed.data() : nullptr, f);
                prtkey(key, f);
                fprintf(o, "\n<%d>...", 9988);
            }
        }
        return 0;
    });
    set_uerr(0);
    fprintf(o, "\nLEAVES: entries=%d  header=%d", int(count), int(header_count(f)));
    return 0;
}

namespace {

// Fills the result block: the six counters, then the level counts up to the
// first level without nodes (at most the room the options give, and 15).
void fill_results(VERIFYIDXRES *r, int32_t levels) {
    if (!r) return;
    const VerifyCounters &c = vc();
    r->emptynodes = c.mtynod;
    r->badnodes = c.badnod;
    r->unusednodes = c.ununod;
    r->resourcepages = c.resnod;
    r->misalignednodes = c.misnod;
    r->badlinks = c.badlnk;
    const int room = levels < kVerifyLevels ? levels : kVerifyLevels;
    for (int i = 0; i < room && c.nbrnod[i] != 0; i++) r->levelnodes[i] = c.nbrnod[i];
}

void clear_levels() {
    VerifyCounters &c = vc();
    memset(c.nbrnod, 0, sizeof c.nbrnod);
    memset(c.nbrmrk, 0, sizeof c.nbrmrk);
}

// Begins a step: heading and begin event in the order flag 16 asks for.
// True when the run is to stop.
bool begin_step(const char *heading, int event) {
    if (ms().vfyflags & kVfyKeepBreaks) {
        zvVERIFYprintf("%s", heading);
        return progress(event, 0);
    }
    bool stop = progress(event, 0);
    zvVERIFYprintf("%s", heading);
    return stop;
}

int verify_run(int filno, void *arg) {
    INSTGV *g = zvWNGV;
    MaintState &m = maint_state(g);
    VerifyCounters &c = m.vc;
    memset(&c, 0, sizeof c);
    m.vfystopped = 0;
    VerifyArg *va = nullptr;
    int32_t *plaincount = nullptr;
    if (m.vfyinstalled) {
        va = static_cast<VerifyArg *>(arg);
        if (!va || !va->opts || !va->results) return set_uerr(540);
    } else {
        plaincount = static_cast<int32_t *>(arg);
    }
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    if (f->kind != kKindIndex) return set_uerr(48);
    int checks = 1 | 2 | 4;
    bool keycheck = true;
    int32_t levels = kVerifyLevels;
    VERIFYIDXRES *res = nullptr;
    if (va) {
        VERIFYIDXOPT *o = va->opts;
        res = va->results;
        if (o->levels < 0) o->levels = 0;
        levels = o->levels;
        if (o->version != 1) {
            fill_results(res, levels);
            return set_uerr(909);
        }
        if ((o->checks & ~15) != 0 || o->checks == 0) {
            fill_results(res, levels);
            return set_uerr(116);
        }
        m.vfyflags = uint32_t(o->flags & int32_t(kVfyKeepBreaks)) | kVfyOptions;
        checks = o->checks;
        keycheck = (checks & 8) != 0;
        if (keycheck) checks |= 4;
    }
    set_uerr(0);
    uint32_t rootl = gtroot(f);
    uint32_t rooth = uint32_t(zvGETHGHi());
    if (rootl == 0 && rooth == 0) {
        zvVERIFYprintf("\nInternal Index Verify: no tree structure\n");
        if (plaincount) *plaincount = 0;
        fill_results(res, levels);
        clear_levels();
        return set_uerr(0);
    }
    int rc = 0;
    int64_t found = 0;
    bool leafran = false;
    if (checks & 1) {
        if (begin_step("\nVerifying index delete stack...\n", 17)) rc = 910;
        if (!rc && f->hdr.base.kmem == 0) {
            rc = delstk_verify(f);
            if (rc && rc != 910) zvVERIFYprintf("\nInternal Index Verify: invalid delete stack entry\n");
        }
        if (!rc && progress(33, 100)) rc = 910;
    }
    if (!rc && (checks & 2)) {
        if (begin_step("\nVerifying index links...\n", 18)) rc = 910;
        if (!rc) {
            rc = link_verify(f, rooth, rootl);
            if (rc && rc != 910) zvVERIFYprintf("\nInternal Index Verify: link verify failed\n");
        }
        if (!rc && progress(34, 100)) rc = 910;
    }
    if (!rc && (checks & 4)) {
        zvVERIFYprintf("\nBegin flushing updated cache pages for index in preparation for leaf node verification.");
        // ZVFLUSH refuses a superfile member; the index's own cached nodes
        // are what the page scan must find on disk, so they are written
        // through the index engine then.
        int frc = ZVFLUSH(filno - f->hdr.base.kmem);
        if (frc != 0 && flush_file_nodes(f) == 0) frc = 0;
        if (frc != 0) {
            zvVERIFYprintf("\nFlush failed, leaf node verification may fail due to unflushed nodes.");
            set_uerr(0);
        } else {
            zvVERIFYprintf(
                "\nCompleted flushing updated cache pages for index in preparation for leaf node verification.");
        }
        const char *heading = keycheck ? "\nVerifying index leaf nodes and checking key values...\n"
                                       : "\nVerifying index leaf nodes...\n";
        if (begin_step(heading, 20)) rc = 910;
        if (!rc) {
            rc = leaf_verify(f, keycheck, &found);
            if (rc && rc != 910) zvVERIFYprintf("\nInternal Index Verify: leaf verify failed\n");
            leafran = rc == 0;
        }
    }
    if (!rc && !va) {
        if (checks & 2) zvVERIFYprintf("\nIndex nodes per level of tree structure - ");
        for (int i = 0; i < kVerifyLevels; i++) {
            if (c.nbrnod[i] == 0) continue;
            zvVERIFYprintf("[%d: %d", i, c.nbrnod[i]);
            if (c.nbrmrk[i]) zvVERIFYprintf("(%d)", c.nbrmrk[i]);
            zvVERIFYprintf("] ");
            c.nbrnod[i] = c.nbrmrk[i] = 0;
        }
        if (c.mtynod || c.ununod || c.badnod || c.resnod || c.misnod || c.badlnk) {
            zvVERIFYprintf("\n(");
            if (c.mtynod) zvVERIFYprintf(" %d empty nodes ", c.mtynod);
            if (c.ununod) zvVERIFYprintf(" %d unused nodes ", c.ununod);
            if (c.badnod) zvVERIFYprintf(" %d bad nodes ", c.badnod);
            if (c.resnod) zvVERIFYprintf(" %d resource pages ", c.resnod);
            if (c.misnod) zvVERIFYprintf(" %d misaligned nodes ", c.misnod);
            if (c.badlnk) zvVERIFYprintf(" %d bad links ", c.badlnk);
            zvVERIFYprintf(")");
        }
    }
    if (!rc) {
        const uint64_t hdr = header_count(f);
        int64_t count = leafran ? found - c.lefxtr : int64_t(hdr);
        if (plaincount) *plaincount = int32_t(count);
        if (uint64_t(count) == hdr && c.badnod == 0 && c.misnod == 0 && c.badlnk == 0) {
            zvVERIFYprintf("\nInternal Index Verify: SUCCESSFUL");
        } else {
            zvVERIFYprintf("\nInternal Index Verify: Problems Discovered");
            rc = 601;
        }
    }
    fill_results(res, levels);
    clear_levels();
    return set_uerr(rc);
}

}  // namespace

}  // namespace zv

using namespace zv;

extern "C" {

int zvVERIFYprintf(const char *format, ...) {
    if (!zvWNGV || !format) return 0;
    va_list ap;
    va_start(ap, format);
    int r = vprint(format, ap);
    va_end(ap);
    return r;
}

int zvVERIFYerror(const VERIFYFILEOPT *, VERIFYERR *err, const char *format, ...) {
    if (!zvWNGV || !format) return 0;
    VERIFYERRFN fn = ms().vfyerror;
    va_list ap;
    va_start(ap, format);
    int r = 0;
    if (!fn) {
        FILE *out = getZarvoSTDOUT();
        fprintf(out, "ERROR: [%d] ", err ? int(err->errcode) : 0);
        vfprintf(out, format, ap);
    } else {
        char fallback[kFallbackRoom];
        char *owned;
        char *text = format_text(fallback, &owned, format, ap);
        r = fn(err, text);
        free(owned);
    }
    va_end(ap);
    return r;
}

int zvVERIFY(int filno, void *arg) {
    if (!zvWNGV) return 47;
    try {
        return verify_run(filno, arg);
    } catch (const std::bad_alloc &) {
        return set_uerr(82);
    }
}

ZV_API int zvVERIFYidx(int filno, VERIFYIDXOPT *options, VERIFYIDXRES *results) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!options) return set_uerr(540);
    MaintState &m = maint_state(g);
    m.vfyinstalled = 1;
    m.vfyout = options->output;
    m.vfyprogress = options->progress;
    m.vfyflags = 0;
    if (results) {
        int32_t n = options->levels > 0 ? options->levels : 0;
        if (n > kVerifyLevels) n = kVerifyLevels;
        memset(results, 0, offsetof(VERIFYIDXRES, levelnodes) + size_t(n) * sizeof(int32_t));
    }
    VerifyArg arg{options, results};
    int rc = zvVERIFY(filno, &arg);
    m.vfyinstalled = 0;
    m.vfyout = nullptr;
    m.vfyprogress = nullptr;
    m.vfyflags = 0;
    return rc;
}

}  // extern "C"
