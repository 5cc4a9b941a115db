// Distinct-key counts of an index.
//
// An index with distinct counting (duplicate flag 3, 4 or 5) keeps in its
// header the number of distinct key values and, for up to four prefix
// levels (leading segments), the number of distinct prefixes:
//   OFFSET SIZE FIELD
//   280    4   distinct key values, low word
//   284    4   distinct key values, high word
//   292    4   number of prefix levels (1..4; 0 or negative: none)
//   296   16   per level: leading segments
//   312   16   per level: byte length of the prefix
//   328   16   per level: distinct prefixes, low words
//   344   16   per level: distinct prefixes, high words
// In a duplicate-key index the record-position suffix is not part of the
// key value. The counts follow every key that enters or leaves a leaf; where
// a neighbour lies in another node (the first element of a leaf with a
// predecessor, on removal also the last element of a leaf with a successor)
// the change is sampled against the share the count has of the entries, so
// the kept counts are estimates. A recount (iDNCTset) makes them exact.
#include "engine/index/distinct.h"

#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/files/header.h"
#include "engine/isam/isam_services.h"
#include "engine/index/keyform_needs.h"
#include "engine/index/keysearch.h"
#include "engine/index/node.h"

using namespace zv;

namespace {

// Counting modes of the control block (FCB::dupmode2).
constexpr uint32_t kDstStale = 0x04;       // counts not usable
constexpr uint32_t kDstLevels = 0xA8;      // duplicate handling with prefix levels
constexpr uint32_t kDstOff = 0x114;        // counts not available

uint64_t get64(uint32_t hi, uint32_t lo) { return (uint64_t(hi) << 32) | lo; }
void put64(uint64_t v, uint32_t *hi, uint32_t *lo) {
    *hi = uint32_t(v >> 32);
    *lo = uint32_t(v);
}

// Length of the key value: the key without a duplicate index's position suffix.
int32_t value_len(const FCB *f) { return f->hdr.base.keylen - (idx_dup(f) ? idx_psize(f) : 0); }

int32_t stored_levels(const FCB *f) {
    int32_t n = f->hdr.ext.dstlevels;
    return n < 0 ? 0 : n > 4 ? 4 : n;
}

// Draw of the file's generator against the share count has of the entries.
bool sampled(FCB *f, uint64_t count) {
    uint64_t total = get64(f->hdr.ext.numenth, f->hdr.base.nument);
    uint64_t pct = total == 0 ? 75 : count * 100 / total;
    uint32_t x = f->drawseed;
    f->drawseed = x * 11737u + 3731u;
    uint32_t draw = x % 100;
    return draw != 0 && pct > draw;
}

bool has_pred(const NODEBUF *b) { return b->hdr.predsr || b->hdr.predsrh; }
bool has_succ(const NODEBUF *b) { return b->hdr.sucesr || b->hdr.sucesrh; }

uint32_t fail_zero() {
    zvSETHGHi(0);
    return 0;
}

uint32_t ret64(uint64_t v) {
    zvSETHGHi(int32_t(uint32_t(v >> 32)));
    return uint32_t(v);
}

// Level entry of the extended calls: segments, length, high word, low word.
void put_entry(unsigned char *p, uint32_t segs, uint32_t bytes, uint32_t hi, uint32_t lo) {
    uint32_t w[4] = {segs, bytes, hi, lo};
    memcpy(p, w, sizeof w);
}

void fill_entries(const FCB *f, int32_t nlev, int32_t n, void *entries, int32_t *levels) {
    if (levels) *levels = nlev;
    if (!entries) return;
    const FILEHDRX &x = f->hdr.ext;
    for (int32_t i = 0; i < nlev && i < n; i++)
        put_entry(static_cast<unsigned char *>(entries) + 16 * i, x.dstsegs[i], x.dstbytes[i], x.dstvalh[i],
                  x.dstvall[i]);
}

}  // namespace

namespace zv {

uint32_t dst_flags(const FCB *f) {
    switch (f->hdr.base.autodup) {
    case 3: return 0x08;
    case 4: return 0x80;
    case 5: return 0x02;
    default: return 0;
    }
}

bool dst_kept(const FCB *f) { return f->dupmode2 != 0 && !(dst_flags(f) & kDstStale); }

int32_t first_diff(const unsigned char *a, const unsigned char *b, int32_t n) {
    for (int32_t i = 0; i < n; i++)
        if (a[i] != b[i]) return i + 1;
    return 0;
}

void dst_insert(NODEBUF *b, int e, int32_t prevpos, int32_t nextpos) {
    FCB *f = b->fcb;
    FILEHDRX &x = f->hdr.ext;
    const bool sample_prev = e == 1 && has_pred(b);
    auto decide = [&](int32_t len, uint64_t count) {
        bool dp = e == 1 || (prevpos >= 1 && prevpos <= len);
        bool dn = nextpos == 0 || nextpos <= len;
        if (!dp || !dn) return false;
        return !sample_prev || sampled(f, count);
    };
    uint64_t whole = get64(x.disth, x.distl);
    if (decide(value_len(f), whole)) put64(whole + 1, &x.disth, &x.distl);
    for (int32_t i = 0; i < stored_levels(f); i++) {
        uint64_t c = get64(x.dstvalh[i], x.dstvall[i]);
        if (decide(int32_t(x.dstbytes[i]), c)) put64(c + 1, &x.dstvalh[i], &x.dstvall[i]);
    }
}

void dst_delete(NODEBUF *b, int e) {
    FCB *f = b->fcb;
    FILEHDRX &x = f->hdr.ext;
    const int32_t nlev = stored_levels(f);
    if (get64(x.numenth, f->hdr.base.nument) <= 1) {
        // The last key leaves: nothing is distinct any more.
        x.distl = x.disth = 0;
        for (int32_t i = 0; i < nlev; i++) x.dstvall[i] = x.dstvalh[i] = 0;
        return;
    }
    const int32_t k = b->keylen;
    const int nkv = b->hdr.nkv;
    unsigned char key[kKeyRoom];
    const unsigned char *p = valpnt(b, e);
    if (!p) return;
    memcpy(key, p, size_t(k));
    int32_t prevpos = 1, nextpos = 1;
    bool sample = false;
    if (e > 1) {
        if (!(p = valpnt(b, e - 1))) return;
        prevpos = first_diff(p, key, k);
    } else if (has_pred(b)) {
        sample = true;
    }
    if (e < nkv) {
        if (!(p = valpnt(b, e + 1))) return;
        nextpos = first_diff(key, p, k);
    } else if (has_succ(b)) {
        sample = true;
    }
    auto unique = [&](int32_t len, uint64_t count) {
        if (prevpos < 1 || prevpos > len || nextpos < 1 || nextpos > len) return false;
        return !sample || sampled(f, count);
    };
    uint64_t whole = get64(x.disth, x.distl);
    if (unique(value_len(f), whole) && whole > 1) put64(whole - 1, &x.disth, &x.distl);
    for (int32_t i = 0; i < nlev; i++) {
        uint64_t c = get64(x.dstvalh[i], x.dstvall[i]);
        if (unique(int32_t(x.dstbytes[i]), c) && c > 1) put64(c - 1, &x.dstvalh[i], &x.dstvall[i]);
    }
    // No prefix has more distinct values than a longer one.
    uint64_t cap = get64(x.disth, x.distl);
    for (int32_t i = nlev - 1; i >= 0; i--) {
        uint64_t c = get64(x.dstvalh[i], x.dstvall[i]);
        if (c > cap) put64(cap, &x.dstvalh[i], &x.dstvall[i]);
        cap = get64(x.dstvalh[i], x.dstvall[i]);
    }
}

}  // namespace zv

namespace {

// Recount by one ordered scan: a duplicate-key index jumps from each key
// value to the next greater one (its position suffix set to 0xFF), a unique
// index steps. With levels, the first differing byte of consecutive values
// (not capped) says which prefixes changed.
int recount(FCB *f, int keyno, int32_t nlev, const uint32_t *bytes, uint64_t *whole, uint64_t *counts) {
    INSTGV *g = zvWNGV;
    const int32_t k = f->hdr.base.keylen;
    const bool dup = idx_dup(f);
    const int32_t vlen = value_len(f);
    unsigned char key[kKeyRoom], prev[kKeyRoom];
    *whole = 0;
    for (int32_t i = 0; i < nlev; i++) counts[i] = 0;
    uint32_t lo = FRSKEY(keyno, key);
    uint32_t hi = uint32_t(tsthghwrd());
    bool first = true;
    while (lo || hi) {
        if (first) {
            *whole = 1;
            for (int32_t i = 0; i < nlev; i++) counts[i] = 1;
            first = false;
        } else {
            (*whole)++;
            int32_t pos = first_diff(key, prev, vlen);
            for (int32_t i = nlev - 1; i >= 0; i--) {
                if (int32_t(bytes[i]) < pos) break;
                counts[i]++;
            }
        }
        memcpy(prev, key, size_t(k));
        if (dup) {
            memset(key + vlen, 0xFF, size_t(k - vlen));
            lo = GTKEY(keyno, key, key);
        } else {
            lo = NXTKEY(keyno, key);
        }
        hi = uint32_t(tsthghwrd());
    }
    return g->uerr_cod;
}

// The duplicate flag and counting mode an index takes: 4 unique with
// prefix counts, 5 duplicates with a whole count, 0 or 1 without counts.
void set_handling(FCB *f, uint8_t autodup) {
    f->hdr.base.autodup = autodup;
    switch (autodup) {
    case 3: f->dupmode1 = 1, f->dupmode2 = 3; break;
    case 4: f->dupmode1 = 0, f->dupmode2 = 2; break;
    case 5: f->dupmode1 = 1, f->dupmode2 = 1; break;
    default: f->dupmode1 = autodup, f->dupmode2 = 0;
    }
}

}  // namespace

uint32_t iDNCTset(FCB *f, FCB *, int keyno, int, int mode, int32_t n, void *entries, int32_t *levels) {
    INSTGV *g = zvWNGV;
    set_uerr(0);
    zvSETHGHi(0);
    const int base = mode & ~0x28;
    if (base != 1 && base != 2 && base != 4 && base != 16 && base != 64 && base != 128 && base != 256)
        return set_uerr(446), 0u;
    if (f->kind != kKindIndex) return set_uerr(48), 0u;
    if (f->hdr.ext.flmode2 & kFl2PartHost) return zvhostdst_set(f, keyno, mode, 0);
    FILEHDRX &x = f->hdr.ext;
    // Changes of the distinct-count handling. A duplicate-key index keeps
    // its position suffix, so its keys stay duplicates (flag 1, 3 or 5).
    const bool dupkeys = idx_dup(f);
    int handling = -1;
    if (base == 128) {
        if (dupkeys) return set_uerr(48), 0u;
        handling = 4;
    } else if (base == 64) {
        handling = dupkeys ? 5 : 0;
    } else if (base == 256 || base == 16) {
        handling = dupkeys ? 1 : 0;
    } else if (base == 1 || base == 2) {
        // Counting switched on where it is off, else a recount: mode 1 with
        // prefix levels (duplicate flag 3), mode 2 with the whole count only
        // (5); a unique index counts with flag 4, and only with bit 32.
        if (!dupkeys && !(mode & 32)) return set_uerr(48), 0u;
        if (f->dupmode2 == 0) handling = !dupkeys ? 4 : base == 1 ? 3 : 5;
    }
    if (handling >= 0) {
        if (int rc = tstupd(f)) return set_uerr(rc), 0u;
        set_handling(f, uint8_t(handling));
        x.dstlevels = 0;
        x.distl = x.disth = 0;
        for (int i = 0; i < 4; i++) x.dstsegs[i] = x.dstbytes[i] = x.dstvall[i] = x.dstvalh[i] = 0;
        if (f->dupmode2 == 0) {
            if (int rc = wrthdr(f)) return set_uerr(rc), 0u;
            if (levels) *levels = 0;
            return ret64(dupkeys ? 0 : get64(x.numenth, f->hdr.base.nument));
        }
    }
    uint32_t segs[4] = {0, 0, 0, 0}, bytes[4] = {0, 0, 0, 0};
    int32_t nlev = stored_levels(f);
    if (nlev > 0) {
        for (int32_t i = 0; i < nlev; i++) {
            segs[i] = x.dstsegs[i];
            bytes[i] = x.dstbytes[i];
        }
    } else if (dst_flags(f) & kDstLevels) {
        nlev = keymap_levels(keyno, segs, bytes, f->hdr.base.autodup);
    }
    uint64_t whole, counts[4];
    if (int rc = recount(f, keyno, nlev, bytes, &whole, counts)) return set_uerr(rc), fail_zero();
    if (int rc = tstupd(f)) return set_uerr(rc), fail_zero();
    put64(whole, &x.disth, &x.distl);
    x.dstlevels = nlev;
    for (int32_t i = 0; i < 4; i++) {
        bool in = i < nlev;
        x.dstsegs[i] = in ? segs[i] : 0;
        x.dstbytes[i] = in ? bytes[i] : 0;
        put64(in ? counts[i] : 0, &x.dstvalh[i], &x.dstvall[i]);
    }
    if (int rc = wrthdr(f)) return set_uerr(rc), fail_zero();
    fill_entries(f, nlev, n, entries, levels);
    (void)g;
    set_uerr(0);
    return ret64(whole);
}

int chkkeydup(const IIDX *x, const FCB *f) {
    if (!x || !f) return 0;
    const int d = x->ikeydup;
    const uint32_t fl = dst_flags(f);
    if (!(fl & 0x1FE)) return f->hdr.base.autodup == d ? 1 : 0;
    if (fl & 0xAA) {
        if (d == 3) return (fl & (8 | 32)) ? 1 : 0;
        if (d == 4) return (fl & 128) ? 1 : 0;
        if (d == 5) return (fl & 2) ? 1 : 0;
        return 0;
    }
    if (d < 3) return (fl & 64) ? 0 : 1;
    if (d == 5) return (fl & 64) ? 1 : 0;
    return 0;
}

extern "C" {

ZV_API uint32_t zvDISTINCTest(int filno) {
    if (!zvWNGV) return 0;
    set_uerr(0);
    zvSETHGHi(0);
    FCB *f = tstifnm(filno);
    if (!f) return 0;
    if (f->kind != kKindIndex) return set_uerr(48), 0u;
    if (!idx_dup(f)) return IDXENT(filno);
    if (f->dupmode2 != 0 && !(dst_flags(f) & kDstStale)) {
        if (f->hdr.ext.flmode2 & kFl2PartHost) return zvhostdst(f, filno);
        return ret64(get64(f->hdr.ext.disth, f->hdr.ext.distl));
    }
    return set_uerr(845), 0u;
}

ZV_API uint32_t zvDISTINCTestXtd(int filno, int32_t n, void *entries, int32_t *levels) {
    if (!zvWNGV) return 0;
    if (entries && n > 0) memset(entries, 0, size_t(n) * 16);
    if (levels) *levels = 0;
    set_uerr(0);
    zvSETHGHi(0);
    FCB *f = tstifnm(filno);
    if (!f) return 0;
    if (f->kind != kKindIndex) return set_uerr(48), 0u;
    if (n < 0 || (n > 0 && !entries)) return set_uerr(749), 0u;
    const uint32_t fl = dst_flags(f);
    const bool dup = idx_dup(f);
    const int mode = f->dupmode2;
    if (dup && mode == 0) return set_uerr(845), 0u;
    if (!dup && (mode == 0 || (fl & 0x100))) return IDXENT(filno);
    if (fl & kDstOff) return set_uerr(845), 0u;
    const bool host = (f->hdr.ext.flmode2 & kFl2PartHost) != 0;
    if ((mode == 3 && (fl & 64)) || host) {
        if (host) return zvhostdst(f, filno);
        return ret64(get64(f->hdr.ext.disth, f->hdr.ext.distl));
    }
    fill_entries(f, stored_levels(f), n, entries, levels);
    return ret64(get64(f->hdr.ext.disth, f->hdr.ext.distl));
}

ZV_API uint32_t zvDISTINCTsetXtd(int filno, int mode, int32_t n, void *entries, int32_t *levels) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    if (entries && n > 0) memset(entries, 0, size_t(n) * 16);
    if (levels) *levels = 0;
    zvSETHGHi(0);
    set_uerr(0);
    if ((mode & 16) && (mode & 7)) return set_uerr(749), 0u;
    if (n < 0 || (n > 0 && !entries)) return set_uerr(749), 0u;
    FCB *f = tstifnm(filno);
    if (!f) return 0;
    if (f->kind == kKindIndex) return iDNCTset(f, nullptr, filno, -1, mode, n, entries, levels);
    uint32_t done = 0;
    for (int slot = 0; slot < 64; slot++) {
        int ix = keymap_index(filno, slot);
        if (ix == -1) break;
        if (ix < 0) continue;
        FCB *xf = tstifnm(ix);
        if (!xf) return fail_zero();
        if ((mode & 3) && !idx_dup(xf) && !(mode & 32)) continue;
        iDNCTset(xf, f, ix, filno, mode, 0, nullptr, nullptr);
        if (g->uerr_cod) return fail_zero();
        done++;
    }
    zvSETHGHi(0);
    set_uerr(0);
    return done;
}

ZV_API uint32_t zvDISTINCTset(int filno, int mode) { return zvDISTINCTsetXtd(filno, mode, 0, nullptr, nullptr); }

}  // extern "C"
