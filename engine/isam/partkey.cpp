// Partitioned files: how the indexes of a set relate to its partition key.
//
// The partition key is the lead of the partition index: its segments up to
// (not including) the first whose mode has bit 0x200. An index whose first
// segments are those segments, in order and each equal in offset, length
// and mode, orders its keys as the members are ordered (mark 0x20, the
// partition index itself always); an index that holds all of them
// elsewhere (mark 0x40) can still name the member of a key, through a key
// map that says where each piece of the partition key lies in its key.
// The marks live in bits 0x60 of an index's key type; the maps in the
// index's control block while it is open.
//
// Invariants:
//  1. zvchkprtidx looks at the definition arrays only: the same definition
//     always gives the same marks, at create, rebuild and index addition.
//  2. A map is built once per open of its index (8650 otherwise), and an
//     index marked as having none is never given one (8651).
#include <cstring>

#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/index/keyform_needs.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"
#include "engine/isam/partition.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

constexpr int kPieceStop = 0x200;   // segment mode bit that ends the partition key

// Segments of the partition key among n segments: 0 when there is none.
template <class Seg>
int lead_of(const Seg *s, int n) {
    int i = 0;
    while (i < n && !(s[i].segmode & kPieceStop)) i++;
    return i;
}

template <class A, class B>
bool same_segment(const A &a, const B &b) {
    return uint16_t(a.soffset) == uint16_t(b.soffset) && uint16_t(a.slength) == uint16_t(b.slength) &&
           uint16_t(a.segmode) == uint16_t(b.segmode);
}

// The mark of index x against the partition key's pieces pk[0 .. pieces).
template <class Seg>
int mark_of(const Seg *pk, int pieces, const IIDX &x) {
    if (!x.isegarr || x.inumseg <= 0) return 0;
    bool leads = x.inumseg >= pieces;
    for (int s = 0; leads && s < pieces; s++) leads = same_segment(pk[s], x.isegarr[s]);
    if (leads) return 0x20;
    for (int s = 0; s < pieces; s++) {
        bool found = false;
        for (int t = 0; t < x.inumseg && !found; t++) found = same_segment(pk[s], x.isegarr[t]);
        if (!found) return 0;
    }
    return 0x40;
}

// Segments of an ISAM segment list (at most kMapSegs, ended by kSegEnd).
int segment_count(const ISAMSEG *s) {
    int n = 0;
    while (s && n < kMapSegs && s[n].soffset != kSegEnd) n++;
    return n;
}

// Builds the map of index x (key type bit 0x40) from the partition key's
// segments: 0, or 896 when a piece is missing from the index.
int build_map(FCB *x, const ISAMSEG *pk, int pieces, const ISAMSEG *xs, int nx) {
    PartKeyMap &m = x->partkmap;
    if (m.state == 2) terr(8650);
    if (m.state == 1) terr(8651);
    if (nx == 0) return 896;
    uint16_t poff = 0;
    PartKeyMap built{};
    for (int p = 0; p < pieces; p++) {
        uint16_t xoff = 0;
        int at = -1;
        for (int s = 0; s < nx && at < 0; s++) {
            if (same_segment(pk[p], xs[s])) at = s;
            else xoff = uint16_t(xoff + xs[s].slength);
        }
        if (at < 0) return 896;
        built.poff[p] = poff;
        built.len[p] = pk[p].slength;
        built.xoff[p] = xoff;
        if (at + 1 > built.highseg) built.highseg = uint8_t(at + 1);
        poff = uint16_t(poff + pk[p].slength);
    }
    built.pieces = uint8_t(pieces);
    built.state = 2;
    m = built;
    return 0;
}

}  // namespace

int zvchkprtidx(XCREblk *, const IFIL *ifil, int pos, int keyidx) {
    if (!ifil || !ifil->iidxarr || keyidx < 0 || keyidx >= ifil->dnumidx || pos < 0 || pos >= ifil->dnumidx)
        return -895;
    const IIDX &p = ifil->iidxarr[keyidx];
    const int pieces = p.isegarr && p.inumseg > 0 ? lead_of(p.isegarr, p.inumseg) : 0;
    if (pieces == 0) return -895;
    if (pos == keyidx) return 0x20;
    return mark_of(p.isegarr, pieces, ifil->iidxarr[pos]);
}

int partition_mark(int datno, const IIDX &x) {
    FCB *dat = fcb_at(datno);
    const int pix = dat ? relative_index(datno, int(dat->hdr.ext.crew9)) : -1;
    const ISAMSEG *pk = pix >= 0 ? isam_segs(pix) : nullptr;
    const int pieces = lead_of(pk, segment_count(pk));
    return pieces ? mark_of(pk, pieces, x) : -895;
}

int setkincmap(FCB *dat, int datno) {
    const int keyidx = int(dat->hdr.ext.crew9);
    const int pix = relative_index(datno, keyidx);
    if (pix < 0) return set_uerr(614);
    const ISAMSEG *pk = isam_segs(pix);
    const int pieces = lead_of(pk, segment_count(pk));
    if (pieces == 0) return set_uerr(895);
    for (int k = 0; k < kMapIndexes; k++) {
        const int ix = isam_map_index(datno, k);
        if (ix == kIdxListEnd) break;
        FCB *x = ix >= 0 ? fcb_at(ix) : nullptr;
        if (!x || x->kind != kKindIndex || x->partkmap.state != 0) continue;
        if (!(x->hdr.base.ktype & 0x40)) {
            x->partkmap.state = 1;
            continue;
        }
        const ISAMSEG *xs = isam_segs(ix);
        if (int rc = build_map(x, pk, pieces, xs, segment_count(xs))) return set_uerr(rc);
    }
    return 0;
}

int usekincmap(const FCB *x, const void *key, void *partkey) {
    const PartKeyMap &m = x->partkmap;
    if (m.state != 2) return set_uerr(897);
    auto *in = static_cast<const unsigned char *>(key);
    auto *out = static_cast<unsigned char *>(partkey);
    for (int p = 0; p < m.pieces; p++) memcpy(out + m.poff[p], in + m.xoff[p], m.len[p]);
    return 0;
}

int host_index_of(FCB *x, int keyno, HostIndex *h) {
    h->x = x;
    h->keyno = keyno;
    h->hostno = keymap_datno(keyno);
    if (h->hostno < 0) return set_uerr(614);
    h->rel = host_index_slot(h->hostno, keyno);
    if (h->rel < 0) return set_uerr(614);
    h->host = fcb_at(h->hostno);
    h->pd = h->host ? h->host->partdef : nullptr;
    if (!h->pd) return set_uerr(722);
    h->pix = relative_index(h->hostno, h->pd->ptidx);
    h->ordered = h->rel == h->pd->ptidx || (x->hdr.base.ktype & 0x20);
    h->mapped = !h->ordered && x->partkmap.state == 2;
    return 0;
}

int32_t raw_of_key(const HostIndex &h, const void *key) {
    if (h.pix < 0) return set_uerr(615), -1;
    if (h.rel == h.pd->ptidx) return kprawno_i(h.hostno, h.pix, key);
    // A key of the partition index's shape: the partition key, zeros after.
    FCB *p = fcb_at(h.pix);
    unsigned char *pk = h.pd->key;
    memset(pk, 0, size_t(p->hdr.base.keylen));
    if (h.ordered) {
        const ISAMSEG *segs = isam_segs(h.pix);
        const int pieces = lead_of(segs, segment_count(segs));
        size_t len = 0;
        for (int i = 0; i < pieces; i++) len += segs[i].slength;
        memcpy(pk, key, len);
    } else if (int rc = usekincmap(h.x, key, pk)) {
        return set_uerr(rc), -1;
    }
    return kprawno_i(h.hostno, h.pix, pk);
}

}  // namespace zv
