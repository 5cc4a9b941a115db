// A private copy of one index node, read without the node cache's checks.
//
// The node cache refuses (and marks for rebuild) a node that breaks its
// limits; the verification must instead see such a node and report it, and
// must change nothing. A NodeView therefore copies the node: from the
// cache's buffer when it holds the node (its decoded header is the current
// one), else straight from the file through the central I/O routine, and
// decodes it into a NODEBUF of its own with the index's geometry.
//
// Invariants:
//  1. The view's NODEBUF is linked into no cache list (memrec is set), so
//     no cache routine ever unbinds, writes or reuses it.
//  2. Element access goes through the node layer's accessors only after
//     well_formed() has checked every element of the node, so those
//     accessors never meet a damaged element (which would mark the file).
#include "engine/maint/nodeview.h"

#include <cstring>
#include <new>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/instance.h"
#include "engine/core/nodebuf.h"
#include "engine/core/startup.h"
#include "engine/core/fcb.h"
#include "engine/index/node.h"
#include "engine/index/nodecache.h"

namespace zv {

bool NodeView::init(FCB *f) {
    f_ = f;
    // The node image, then the expansion area of compressed elements.
    const size_t image = size_t(f->nodesize) + size_t(kNodeWrap);
    img_.reset(new (std::nothrow) unsigned char[image + size_t(kKeyRoom)]());
    b_.image = img_.get();
    b_.exparea = img_ ? img_.get() + image : nullptr;
    return img_ != nullptr;
}

uint64_t NodeView::pos() const { return join64(b_.posh, b_.posl); }
uint64_t NodeView::succ() const { return join64(b_.hdr.sucesrh, b_.hdr.sucesr); }
uint64_t NodeView::pred() const { return join64(b_.hdr.predsrh, b_.hdr.predsr); }

int NodeView::read(uint64_t pos, bool checkmember) {
    FCB *f = f_;
    const bool hug = idx_hug(f);
    uint32_t hi, lo;
    split64(pos, &hi, &lo);
    checked_ = -1;
    if (pos == 0) return set_uerr(29);
    // The cache's copy first: a memory index keeps its nodes nowhere else.
    NODEBUF *c = zvgetnod81(kNodProbe, hi, lo, f);
    if (fcb_is_memory(f) && !c) return set_uerr(160);
    if (c) {
        memcpy(node_of(&b_), node_of(c), f->nodesize);
        b_.hdr = c->hdr;
    } else {
        int32_t got = 0;
        int rc = izvio81x(0x10, f, hi, lo, node_of(&b_), int32_t(f->nodesize), &got, 0);
        if (rc == 0 && got < int32_t(f->nodesize)) rc = set_uerr(36);
        if (rc) return rc;
        decode_nhdr(node_of(&b_), hug, &b_.hdr);
    }
    b_.posh = hi;
    b_.posl = lo;
    b_.fcb = f;
    b_.filno = -1;
    b_.memrec = 1;
    b_.keylen = f->hdr.base.keylen;
    b_.cmpbits = f->hdr.base.ktype & 12;
    b_.hug = hug ? 1 : 0;
    b_.psize = hug ? 8 : 4;
    b_.hsize = f->nhdrsiz ? f->nhdrsiz : (hug ? 28 : 18);
    b_.kc = idx_dup(f) ? b_.keylen - b_.psize : b_.keylen;
    b_.unit = f->cmpunit > 0 ? f->cmpunit : 1;
    b_.padbyte = f->hdr.base.keypad;
    b_.wraplen = 0;
    b_.expnum = 0;
    b_.expoff = b_.explen = 0;
    b_.exptrl = -1;
    leaf_ = b_.hdr.leaf;
    zvnodcap(&b_, f, leaf_ == 1);
    b_.hdr.leaf = leaf_;
    if (checkmember && !deleted() && b_.hdr.member != f->hdr.base.kmem) return set_uerr(69);
    return 0;
}

bool NodeView::well_formed() {
    if (checked_ >= 0) return checked_ != 0;
    bool ok = leaf_ <= 1 && !over_capacity();
    if (ok && !is_compressed(&b_)) {
        ok = int32_t(b_.hdr.nkv) * b_.esize == b_.hdr.nkb;
    } else if (ok) {
        int32_t off = 0;
        for (int i = 1; ok && i <= b_.hdr.nkv; i++) {
            int32_t len, lead, trail;
            ok = comp_elem(&b_, off, &len, &lead, &trail) && !(i == 1 && lead != 0) && len > 0;
            off += len;
        }
        ok = ok && off == b_.hdr.nkb;
    }
    checked_ = ok ? 1 : 0;
    return ok;
}

const unsigned char *NodeView::key(int n) { return valpnt(&b_, n); }

uint64_t NodeView::child(int n) {
    const unsigned char *k = valpnt(&b_, n);
    if (!k) return 0;
    uint32_t hi, lo;
    get_elem_ptr(k - b_.psize, b_.hug != 0, &hi, &lo);
    return join64(hi, lo);
}

uint64_t NodeView::recptr(int n) {
    const unsigned char *k = valpnt(&b_, n);
    if (!k) return 0;
    uint32_t hi = 0, lo = 0;
    if (b_.kind == 0) {
        const unsigned char *s = k + b_.keylen - b_.psize;
        if (b_.hug) {
            hi = ldbe32(s);
            lo = ldbe32(s + 4);
        } else {
            lo = ldbe32(s);
        }
    } else {
        get_elem_ptr(k - b_.psize, b_.hug != 0, &hi, &lo);
    }
    return join64(hi, lo);
}

int32_t NodeView::shown_keylen() const { return idx_dup(f_) ? b_.keylen - b_.psize : b_.keylen; }

bool index_file_size(FCB *f, uint64_t *size) {
    if (fcb_is_memory(f)) {
        FCB *host = idx_host(f);
        *size = uint64_t(host->nmemrecs) * f->nodesize;
        return true;
    }
    uint32_t hi = 0;
    uint32_t lo = zvgsize81(&hi, physical_fcb(idx_host(f)));
    if (hi == 0xFFFFFFFFu && lo == 0xFFFFFFFFu) return false;
    *size = join64(hi, lo);
    return true;
}

}  // namespace zv
