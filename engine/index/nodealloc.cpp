// New nodes and the deleted-node stack of an index file.
//
// The host's header keeps the position of the most recently deleted node;
// a deleted node has its predecessor link all ones and its successor link
// holding the next deleted node, down to 0. A new node is the popped head of
// that stack, or space appended to the file through the file layer's growth.
//
// Invariants:
//  1. Only a node whose predecessor link is all ones is ever popped: a head
//     that is not marked deleted is logged (KLNK_ERR), the stack is dropped
//     and the file grows instead, so a live node is never handed out twice.
//  2. A deleted node is written at once; should that write fail it stays
//     cached and updated, and is written with the next write-back.
#include "engine/index/nodealloc.h"

#include <cstdio>
#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/core/fcb.h"
#include "engine/files/growth.h"
#include "engine/files/header.h"
#include "engine/index/idxstate.h"
#include "engine/index/node.h"
#include "engine/index/nodecache.h"

using namespace zv;

namespace {

constexpr const char *kStackRetry = "Detected error in deleted node list, fixed list and retrying new node operation";

void set_stack(FCB *host, uint32_t hi, uint32_t lo) {
    host->hdr.base.delstk = lo;
    if (idx_hug(host)) host->hdr.ext.delstkh = hi;
}

bool write_through(const FCB *f) { return f->hdr.base.flmode & kModeWriteThrough; }

// Space-record header in front of a new node kept inside another file:
// mark, area length, record length 0, member number, previous area 0.
void put_wrapper(unsigned char *p, uint16_t mark, uint32_t length, uint32_t member, int len) {
    memset(p, 0, size_t(len));
    st16(p, mark);
    st32(p + 2, length);
    if (len > 10) st32(p + 10, member);
}

}  // namespace

void zvintnod81(NODEBUF *b, FCB *f, uint32_t posh, uint32_t posl) {
    if (b->filno < 0) bind_node(b, f, posh, posl);
    memset(&b->hdr, 0, sizeof b->hdr);
    b->hdr.member = uint8_t(f->hdr.base.kmem);
    b->keylen = f->hdr.base.keylen;
    b->expnum = 0;
    b->exptrl = -1;
    b->lastins = b->runcnt = 0;
    zvnodcap(b, f, 0);
    memset(b->elems, 0, f->nodesize - uint32_t(b->hsize));
    b->updated = 'y';
}

NODEBUF *newnod81(FCB *f, uint32_t *posh, uint32_t *posl, int *hdrerr) {
    INSTGV *g = zvWNGV;
    FCB *host = idx_host(f);
    bool hug = idx_hug(host);
    *posh = *posl = 0;
    if (hdrerr) *hdrerr = 0;
    // The header of a write-through host follows every change of its
    // allocation state.
    auto header_follows = [&] {
        if (!write_through(host)) return;
        uint16_t keep = g->uerr_cod;
        int rc = filhdr(host);
        if (rc && hdrerr && !*hdrerr) *hdrerr = rc;
        g->uerr_cod = keep;
    };
    while (!f->noremove) {
        uint32_t sh = hug ? host->hdr.ext.delstkh : 0;
        uint32_t sl = host->hdr.base.delstk;
        if (sh == 0 && sl == 0) break;
        NODEBUF *b = zvgetnod81(kNodNoSettle | kNodQuiet, sh, sl, f);
        if (!b) {
            int code = g->uerr_cod;
            set_stack(host, 0, 0);
            zvrcvlog(kStackRetry, kLogSingleTry - code);
            set_uerr(0);
            continue;
        }
        if (!is_deleted(b)) {
            char msg[160];
            if (hug)
                snprintf(msg, sizeof msg, "KLNK_ERR: pos=%llxx predsr=%llxx member=%d",
                         static_cast<unsigned long long>(join64(sh, sl)),
                         static_cast<unsigned long long>(join64(b->hdr.predsrh, b->hdr.predsr)),
                         int(f->hdr.base.kmem));
            else
                snprintf(msg, sizeof msg, "KLNK_ERR: pos=%xx predsr=%xx member=%d", sl, b->hdr.predsr,
                         int(f->hdr.base.kmem));
            zvrcvlog(host->name, kLogSingleTry);
            zvrcvlog(msg, kLogSingleTry);
            set_stack(host, 0, 0);
            if (!(idx_state(g).options & kIdxOptRecovery)) zvrcvlog(kStackRetry, -224);
            continue;
        }
        set_stack(host, b->hdr.sucesrh, b->hdr.sucesr);
        header_follows();
        zvintnod81(b, f, sh, sl);
        *posh = sh;
        *posl = sl;
        return b;
    }
    if (fcb_is_memory(host)) {
        // A memory file's node is a new record of the file.
        zvSETHGHi(0);
        uint32_t lo = extfil(host, memnode_size(f), 0, 1);
        uint32_t hi = uint32_t(zvGETHGHi());
        if (lo == 0 && hi == 0) {
            if (g->uerr_cod == 0) set_uerr(10);
            return nullptr;
        }
        NODEBUF *b = memnode_init(f, join64(hi, lo));
        zvintnod81(b, f, hi, lo);
        *posh = hi;
        *posl = lo;
        return b;
    }
    // Extend the file (a member's host) by one node and its wrapper. A
    // wrapped node, area header and node, is one page of the host: it starts
    // on a page boundary, so that it fills its page alone and the next one
    // follows it without a gap.
    NODEBUF *b = lrubuf81(0, 0, 0, f);
    if (!b) return nullptr;
    const bool wrapped = idx_wrapped(f);
    int wrap = wrapped ? idx_wraplen(f) : (f->kind == kKindVariable ? 10 : 0);
    const uint32_t align = wrapped ? uint32_t(g->nodesize) : f->nodesize;
    zvSETHGHi(0);
    uint32_t lo = extfil(host, f->nodesize + uint32_t(wrap), align, 1);
    uint32_t hi = uint32_t(zvGETHGHi());
    if (lo == 0 && hi == 0) {
        if (g->uerr_cod == 0) set_uerr(39);
        return nullptr;
    }
    uint64_t pos = join64(hi, lo) + uint64_t(wrap);
    split64(pos, posh, posl);
    zvintnod81(b, f, *posh, *posl);
    if (wrapped) {
        put_wrapper(node_of(b) - wrap, 0xFAFA, f->nodesize + uint32_t(wrap), host->hdr.base.supmbr, wrap);
    } else if (wrap) {
        unsigned char w[24];
        put_wrapper(w, 0xFBBF, f->nodesize + uint32_t(wrap), 0, wrap);
        if (izvio81x(0x11, f, hi, lo, w, wrap, nullptr, 0) != 0) {
            zvclrhsh(b);
            return nullptr;
        }
    }
    header_follows();
    return b;
}

int rtnode81(NODEBUF *b, uint32_t posh, uint32_t posl, FCB *f) {
    if (b->posh != posh || b->posl != posl || b->fcb != f)
        return idx_corrupt(f, "Mismatched buffer nodeid in rtnode81()  [9090]");
    FCB *host = idx_host(f);
    b->hdr.sucesr = host->hdr.base.delstk;
    b->hdr.sucesrh = idx_hug(host) ? host->hdr.ext.delstkh : 0;
    set_stack(host, posh, posl);
    b->hdr.predsr = b->hdr.predsrh = 0xFFFFFFFFu;
    b->hdr.nkb = 0;
    b->hdr.numexc = b->hdr.frsexc = 0;
    b->expnum = 0;
    int rc = putnod(b, 0, 0);
    if (!write_through(f)) rc = wrtnod(b);
    // A node whose write failed stays cached and updated for a later write.
    if (rc == 0) zvclrhsh(b);
    if (write_through(host)) return filhdr(host);
    return 0;
}
