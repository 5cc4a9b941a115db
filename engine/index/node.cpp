// Index nodes: the stored node header, the elements of a node, leaf control
// fields, the node geometry of an open index and its key buffers.
//
// An index file holds one B-link tree per index member. Every node carries
// links to its successor and predecessor on the same level; leaves hold the
// keys with their record positions, non-leaves the highest key of each
// child with the child's position. This module reads and writes the parts of
// one node that every other module of the index engine uses:
//  - elements: uncompressed elements have a fixed size and element n starts
//    at (n - 1) x size; compressed elements (key type bits 4 and 8) have a
//    variable length and are expanded in order into the buffer's expansion
//    area, where the element's pointer precedes its key just as in an
//    uncompressed node, so that "the pointer in front of the key" holds for
//    both forms;
//  - pointers: child and record positions in front of the key are
//    little-endian words, high word first with 8 bytes; in a duplicate-key
//    leaf the record position is the key's last P bytes, most significant
//    byte first, so that equal key values sort by position.
//
// Compressed element (in this order): pointer (kinds 1 and 3), leading
// count L (bit 4), trailing count T (bit 8), the middle Kc - L*u - T*u bytes,
// the P-byte suffix (kinds 0 and 3). Decoding invariants checked here:
//  1. L*u + T*u <= Kc for every element.
//  2. The first element of a node has L = 0.
//  3. Every element lies within the node's bytes used.
#include "engine/index/node.h"

#include <bit>
#include <cstdio>
#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/startup.h"
#include "engine/core/statuslog.h"
#include "engine/index/index_services.h"
#include "engine/index/nodecache.h"
#include "engine/isam/isam_services.h"
#include "engine/files/header.h"


namespace zv {

void decode_nhdr(const unsigned char *d, bool hug, NODEHDR *h) {
    h->sucesr = ld32(d);
    h->predsr = ld32(d + 4);
    h->nkv = ld16(d + 8);
    h->nkb = ld16(d + 10);
    h->numexc = ld16(d + 12);
    h->frsexc = ld16(d + 14);
    h->member = d[16];
    h->leaf = d[17];
    if (hug) {
        h->spare[0] = d[18];
        h->spare[1] = d[19];
        h->sucesrh = ld32(d + 20);
        h->predsrh = ld32(d + 24);
    } else {
        h->spare[0] = h->spare[1] = 0;
        h->sucesrh = h->sucesr == 0xFFFFFFFFu ? 0xFFFFFFFFu : 0;
        h->predsrh = h->predsr == 0xFFFFFFFFu ? 0xFFFFFFFFu : 0;
    }
}

void encode_nhdr(const NODEHDR &h, bool hug, unsigned char *d) {
    st32(d, h.sucesr);
    st32(d + 4, h.predsr);
    st16(d + 8, h.nkv);
    st16(d + 10, h.nkb);
    st16(d + 12, h.numexc);
    st16(d + 14, h.frsexc);
    d[16] = h.member;
    d[17] = h.leaf;
    if (hug) {
        d[18] = h.spare[0];
        d[19] = h.spare[1];
        st32(d + 20, h.sucesrh);
        st32(d + 24, h.predsrh);
    }
}

void zvnodcap(NODEBUF *b, FCB *f, int leaf) {
    b->elems = node_of(b) + b->hsize;
    b->hdr.leaf = uint8_t(leaf ? 1 : 0);
    bool dup = idx_dup(f);
    if (leaf) {
        b->maxb = f->leafcap;
        b->maxkv = f->elmlimit;
        b->ctlwid = (f->hdr.ext.flmode2 & kFl2Ctl6) ? 6 : 4;
        b->ctl = (f->elmlimit != int32_t(f->nodesize / 4)) ? b->elems + b->maxb + b->keylen : nullptr;
        b->kind = dup ? 0 : 1;
    } else {
        b->maxb = f->nleafcap;
        b->maxkv = int32_t(f->nodesize / 4);
        b->ctlwid = 4;
        b->ctl = nullptr;
        b->kind = dup ? 3 : 1;
    }
    b->esize = b->kind == 0 ? b->keylen : b->psize + b->keylen;
}

int idx_geometry(FCB *f) {
    bool hug = idx_hug(f);
    const FILEHDR &h = f->hdr.base;
    int32_t hs = hug ? 28 : 18;
    int32_t p = hug ? 8 : 4;
    zvupdkey(f);
    if (f->nodesize == 0) f->nodesize = (h.nodsiz >= 1 && h.nodsiz <= 127) ? h.nodsiz * 16384u : h.nodsiz;
    int32_t node = int32_t(f->nodesize);
    int32_t k = h.keylen;
    f->leafcap = h.maxkbl;
    f->nleafcap = h.maxkbn;
    f->elmlimit = h.node4;
    f->cmpunit = ((h.hdrflags & kHdrHasExt) && f->hdr.ext.cmpcnt) ? int32_t(f->hdr.ext.cmpcnt) : 1;
    // The stored geometry must describe nodes that this engine can hold.
    int32_t room = node - hs;
    if (k < 1 || k > kMaxKeyLen || (idx_dup(f) && k <= p)) return 13;
    if (room <= 0 || f->nleafcap <= 0 || f->nleafcap > room || f->leafcap <= 0) return 13;
    if (f->leafcap + k > room || f->elmlimit < 2) return 13;
    if (f->elmlimit != node / 4) {
        // Control fields follow the high key, one per element: a limit whose
        // fields would not fit in the node is lowered to the fields that do.
        // Indexes made by earlier engines counted the high key's bytes as
        // room for fields and keep such a limit.
        int32_t w = (f->hdr.ext.flmode2 & kFl2Ctl6) ? 6 : 4;
        int32_t fit = (room - f->leafcap - k) / w;
        if (fit < f->elmlimit) f->elmlimit = fit;
        if (f->elmlimit < 2) return 13;
    }
    if (h.ktype & 12) {
        int32_t kc = idx_dup(f) ? k - p : k;
        if ((kc + f->cmpunit - 1) / f->cmpunit > 255) return 13;
    }
    return 0;
}

bool comp_elem(const NODEBUF *b, int32_t off, int32_t *len, int32_t *lead, int32_t *trail) {
    *len = *lead = *trail = 0;
    const int32_t end = b->hdr.nkb;
    const int32_t nb = (b->cmpbits & 4 ? 1 : 0) + (b->cmpbits & 8 ? 1 : 0);
    int32_t i = b->kind != 0 ? b->psize : 0;
    if (off < 0 || off + i + nb > end) return false;
    const unsigned char *e = b->elems + off;
    int32_t l = (b->cmpbits & 4) ? e[i++] : 0;
    int32_t t = (b->cmpbits & 8) ? e[i++] : 0;
    *lead = l;
    *trail = t;
    int32_t mid = b->kc - (l + t) * b->unit;
    if (mid < 0) return false;
    i += mid + (b->kind != 1 ? b->psize : 0);
    if (off + i > end) return false;
    *len = i;
    return true;
}

bool elem_span(NODEBUF *b, int n, int32_t *off, int32_t *len) {
    if (!is_compressed(b)) {
        *off = (n - 1) * b->esize;
        *len = b->esize;
        return true;
    }
    if (!expval(b, n)) return false;
    *off = b->expoff;
    *len = b->explen;
    return true;
}

int idx_corrupt(FCB *f, const char *message) { return setidxcorrupt(f, message, kLogSingleTry, 527); }

}  // namespace zv

using namespace zv;

unsigned char *expval(NODEBUF *b, int n) {
    int nkv = b->hdr.nkv;
    if (n < 1 || n > nkv + 1) {
        char msg[160];
        snprintf(msg, sizeof msg, "expval[232]: kl=%d n=%d nkv=%d node=%04x-%08xx m=%d", b->keylen, n, nkv,
                 b->posh, b->posl, b->hdr.member);
        idx_corrupt(b->fcb, msg);
        return nullptr;
    }
    unsigned char *key = b->exparea + b->psize;
    if (n == b->expnum) return key;
    int i;
    int32_t off;
    if (b->expnum > 0 && n > b->expnum) {
        i = b->expnum + 1;
        off = b->expoff + b->explen;
    } else {
        i = 1;
        off = 0;
    }
    const int32_t u = b->unit;
    for (; i <= n; i++) {
        int32_t len, l, t;
        if (!comp_elem(b, off, &len, &l, &t) || (i == 1 && l != 0)) {
            char msg[160];
            snprintf(msg, sizeof msg, "expval[233]: O%d len=%d kls=%d node=%xx m=%d ip1=%xx ip2=%xx", off,
                     (l + t) * u, b->kc, b->posl, b->hdr.member, unsigned(l), unsigned(t));
            b->expnum = 0;
            idx_corrupt(b->fcb, msg);
            return nullptr;
        }
        const unsigned char *e = b->elems + off;
        int32_t j = 0;
        if (b->kind != 0) {
            memcpy(b->exparea, e, size_t(b->psize));
            j = b->psize;
        }
        j += (b->cmpbits & 4 ? 1 : 0) + (b->cmpbits & 8 ? 1 : 0);
        int32_t mid = b->kc - (l + t) * u;
        memcpy(key + l * u, e + j, size_t(mid));
        j += mid;
        if (t) memset(key + l * u + mid, b->padbyte, size_t(t * u));
        if (b->kind != 1) memcpy(key + b->kc, e + j, size_t(b->psize));
        b->expnum = i;
        b->expoff = off;
        b->explen = len;
        b->exptrl = t;
        off += len;
    }
    return key;
}

unsigned char *valpnt(NODEBUF *b, int n) {
    if (n < 1) return nullptr;
    if (is_compressed(b)) return expval(b, n);
    int32_t off = (n - 1) * b->esize;
    b->expnum = n;
    b->expoff = off;
    b->explen = b->esize;
    return b->elems + off + (b->kind == 0 ? 0 : b->psize);
}

int nodpnt81e(uint32_t *lo, uint32_t *hi, NODEBUF *b, int n) {
    *lo = *hi = 0;
    unsigned char *k = valpnt(b, n);
    if (!k) return zvWNGV->uerr_cod ? zvWNGV->uerr_cod : idx_corrupt(b->fcb, "Zero node pointer in index");
    get_elem_ptr(k - b->psize, b->hug, hi, lo);
    if (*lo == 0 && *hi == 0) return idx_corrupt(b->fcb, "Zero node pointer in index");
    return 0;
}

uint32_t nodpnt81(uint32_t *hi, NODEBUF *b, int n) {
    uint32_t lo;
    if (nodpnt81e(&lo, hi, b, n) != 0) return 0;
    return lo;
}

unsigned char *drnpnt81p(uint32_t *lo, uint32_t *hi, NODEBUF *b, int n) {
    *lo = *hi = 0;
    unsigned char *k = valpnt(b, n);
    if (!k) return nullptr;
    if (b->kind == 0) {
        const unsigned char *s = k + b->keylen - b->psize;
        if (b->hug) {
            *hi = ldbe32(s);
            *lo = ldbe32(s + 4);
        } else {
            *lo = ldbe32(s);
        }
    } else {
        get_elem_ptr(k - b->psize, b->hug, hi, lo);
    }
    if (*lo == 0 && *hi == 0) {
        idx_corrupt(b->fcb, "Zero record pointer in index");
        return nullptr;
    }
    return k;
}

uint32_t drnpnt81(uint32_t *hi, NODEBUF *b, int n) {
    uint32_t lo;
    if (!drnpnt81p(&lo, hi, b, n)) return 0;
    return lo;
}

// ---- Control fields -----------------------------------------------------------
// A field: the mark in the top two bits of its first byte; the transaction
// value most significant byte first (30 bits in 4 bytes; 14 high bits and a
// 32-bit low word in 6 bytes).

int zvelmexc81(NODEBUF *b, int n, uint32_t *vhi, uint32_t *vlo) {
    if (vhi) *vhi = 0;
    if (vlo) *vlo = 0;
    if (!b->ctl || n < 1 || n > b->maxkv) return 0;
    const unsigned char *p = b->ctl + (n - 1) * b->ctlwid;
    int mark = p[0] >> 6;
    if (b->ctlwid == 6) {
        if (vhi) *vhi = uint32_t(p[0] & 0x3F) << 8 | p[1];
        if (vlo) *vlo = ldbe32(p + 2);
    } else if (vlo) {
        *vlo = ldbe32(p) & 0x3FFFFFFFu;
    }
    return mark;
}

void zvmrkexc81(NODEBUF *b, int n, int mark, uint32_t vhi, uint32_t vlo) {
    if (!b->ctl || n < 1 || n > b->maxkv) return;
    unsigned char *p = b->ctl + (n - 1) * b->ctlwid;
    int old = p[0] >> 6;
    if (b->ctlwid == 6) {
        p[0] = uint8_t((mark & 3) << 6 | ((vhi >> 8) & 0x3F));
        p[1] = uint8_t(vhi);
        stbe32(p + 2, vlo);
    } else {
        stbe32(p, (vlo & 0x3FFFFFFFu) | uint32_t(mark & 3) << 30);
    }
    if (old == 0 && mark != 0) {
        b->hdr.numexc++;
        if (b->hdr.frsexc == 0 || n < b->hdr.frsexc) b->hdr.frsexc = uint16_t(n);
    } else if (old != 0 && mark == 0 && b->hdr.numexc) {
        b->hdr.numexc--;
    }
}

void zvrmvexc(NODEBUF *b, int n) {
    if (!b->ctl || n < 1 || n > b->maxkv) return;
    if (zvelmexc81(b, n, nullptr, nullptr) != 0 && b->hdr.numexc) b->hdr.numexc--;
    unsigned char *p = b->ctl + (n - 1) * b->ctlwid;
    size_t rest = size_t(b->maxkv - n) * size_t(b->ctlwid);
    memmove(p, p + b->ctlwid, rest);
    memset(b->ctl + size_t(b->maxkv - 1) * size_t(b->ctlwid), 0, size_t(b->ctlwid));
    if (b->hdr.frsexc > 1 && n < b->hdr.frsexc) b->hdr.frsexc--;
}

void zvinsexc(NODEBUF *b, int n) {
    if (!b->ctl || n < 1 || n > b->maxkv) return;
    unsigned char *p = b->ctl + (n - 1) * b->ctlwid;
    size_t rest = size_t(b->maxkv - n) * size_t(b->ctlwid);
    memmove(p + b->ctlwid, p, rest);
    memset(p, 0, size_t(b->ctlwid));
    if (b->hdr.frsexc && n <= b->hdr.frsexc) b->hdr.frsexc++;
}

void zvrstexc(NODEBUF *b) {
    if (b->ctl) memset(b->ctl, 0, size_t(b->maxkv) * size_t(b->ctlwid));
    b->hdr.numexc = 0;
    b->hdr.frsexc = 0;
}

// ---- Header fields of the index ---------------------------------------------

uint32_t gtroot(FCB *f) {
    zvSETHGHi(idx_hug(f) ? int32_t(f->hdr.ext.rooth) : 0);
    return f->hdr.base.root;
}

uint64_t begbytnod(FCB *f) {
    FCB *host = idx_host(f);
    const FILEHDR &h = host->hdr.base;
    uint64_t unit = 128;
    if (h.hdrflags & kHdrHasExt) unit = (h.hdrflags2 & kHdr2Ext384) ? 512 : 256;
    uint64_t need = (uint64_t(h.nmem) + 1) * unit;
    uint64_t node = f->nodesize ? f->nodesize : 1;
    return (need + node - 1) / node * node;
}

void zvupdkey(FCB *f) { f->nhdrsiz = idx_hug(f) ? 28 : 18; }

void rev_nhdr(unsigned char *image, bool hug) {
    if constexpr (std::endian::native == std::endian::little) {
        (void)image;
        (void)hug;
    } else {
        NODEHDR h;
        memcpy(&h, image, hug ? 28 : 18);
        unsigned char d[28];
        encode_nhdr(h, hug, d);
        memcpy(image, d, hug ? 28 : 18);
    }
}

// ---- Key buffers ----------------------------------------------------------------

namespace zv {

void free_key_buffers(FCB *f) {
    if (!f) return;
    zvputmemn(&f->rngblk);
    if (!f->keybufs) return;
    zvputmem(f->keybufs);
    f->keybufs = nullptr;
}

}  // namespace zv

extern "C" {

int zvgetkbf(FCB *f, int32_t keylen) {
    if (!f) return set_uerr(61);
    if (keylen < 0) return set_uerr(582);
    free_key_buffers(f);
    int32_t search = 0;
    if (f->hdr.ext.flmode2 & kFl2SearchBuf) search = keylen > 16 ? keylen + 16 : 32;
    int32_t size = int32_t(sizeof(KEYBUFSET)) + 3 * keylen + search;
    auto *k = static_cast<KEYBUFSET *>(zvgetmem(size));
    if (!k) return set_uerr(82);
    auto *bytes = reinterpret_cast<unsigned char *>(k + 1);
    k->work = bytes;
    k->cur = bytes + keylen;
    k->alt = bytes + 2 * keylen;
    k->search = search ? bytes + 3 * keylen : nullptr;
    k->keylen = keylen;
    k->searchlen = search;
    f->keybufs = k;
    f->curnodh = f->curnodl = 0;
    f->curelm = 0;
    if (keylen > 0 && idx_geometry(f) != 0) {
        free_key_buffers(f);
        return set_uerr(13);
    }
    return 0;
}

// ---- Key count ------------------------------------------------------------------

ZV_API uint32_t IDXENT(int filno) {
    if (!zvWNGV) return 0;
    zvSETHGHi(0);
    FCB *f = tstifnm(filno);
    if (!f) return 0;
    if (f->kind != kKindIndex) return set_uerr(48), 0u;
    if (f->hdr.ext.flmode2 & kFl2PartHost) return zvhostent(f);
    zvSETHGHi(int32_t(f->hdr.ext.numenth));
    return f->hdr.base.nument;
}

// ---- Small entry points -----------------------------------------------------

ZV_API int zvDeferredIndexControl(int filno, int mode) {
    (void)filno;
    (void)mode;
    return set_uerr(454);
}

ZV_API int RUCB_FileOpenFuncNULL(void *context, int filno) {
    (void)context;
    (void)filno;
    return 0;
}

ZV_API int RUCB_FileCloseFuncNULL(void *context, int filno) {
    (void)context;
    (void)filno;
    return 0;
}

ZV_API int RUCB_RecordUpdateFuncNULL(void *context, int filno, const void *record, int32_t len) {
    (void)context;
    (void)filno;
    (void)record;
    (void)len;
    return 0;
}

int izvRecordUpdateCallbackControl(int mode, void *block) {
    (void)mode;
    (void)block;
    return set_uerr(454);
}

ZV_API int zvRecordUpdateCallbackControl(int mode, void *block) {
    if (!zvWNGV) return 47;
    return izvRecordUpdateCallbackControl(mode, block);
}

ZV_API void set_debug_callback(void *callback) { (void)callback; }

ZV_API void zvrefnot(void *note) { (void)note; }

ZV_API int32_t zvcdelm(const void *buf, int delim, int32_t n) {
    if (!buf) return 0;
    const auto *p = static_cast<const unsigned char *>(buf);
    for (int32_t i = 0; i < n; i++)
        if (p[i] == uint8_t(delim)) return i + 1;
    return 0;
}

}  // extern "C"
