// 64-bit pair arithmetic, atomics and small utilities of the core.
#include "engine/core/arith.h"

#include <cstring>

#include "engine/core/instance.h"
#include "engine/core/fcb.h"

extern "C" {

ZV_API int zvcmpdlng(uint32_t hi1, uint32_t lo1, uint32_t hi2, uint32_t lo2) {
    return zv::cmp64(hi1, lo1, hi2, lo2);
}

ZV_API void zvadddlng(uint32_t *hi, uint32_t *lo, uint32_t ahi, uint32_t alo) {
    zv::add64(hi, lo, zv::join64(ahi, alo));
}

ZV_API void zvsubdlng(uint32_t *hi, uint32_t *lo, uint32_t shi, uint32_t slo) {
    zv::sub64(hi, lo, zv::join64(shi, slo));
}

ZV_API void zvincdlng(uint32_t *hi, uint32_t *lo) { zv::add64(hi, lo, 1); }

ZV_API void zvdecdlng(uint32_t *hi, uint32_t *lo) { zv::sub64(hi, lo, 1); }

ZV_API void zvmuldlng(uint32_t *hi, uint32_t *lo, uint32_t factor) {
    zv::split64(zv::join64(*hi, *lo) * factor, hi, lo);
}

// Exact quotient; the remainder is dropped. A zero divisor leaves the pair.
ZV_API void zvdivdlng(uint32_t *hi, uint32_t *lo, uint32_t divisor) {
    if (divisor == 0) return;
    zv::split64(zv::join64(*hi, *lo) / divisor, hi, lo);
}

// Exact unsigned quotient by a 64-bit divisor. A zero divisor leaves the pair.
ZV_API void zvdiv64(uint32_t *hi, uint32_t *lo, uint32_t dhi, uint32_t dlo) {
    uint64_t d = zv::join64(dhi, dlo);
    if (d == 0) return;
    zv::split64(zv::join64(*hi, *lo) / d, hi, lo);
}

ZV_API uint32_t zvmoddlng(uint32_t hi, uint32_t lo, int32_t divisor) {
    if (divisor <= 0) terr(8971);  // zero, or 0x80000000 and up
    uint32_t qh = hi, ql = lo;
    zvdivdlng(&qh, &ql, static_cast<uint32_t>(divisor));
    zvmuldlng(&qh, &ql, static_cast<uint32_t>(divisor));
    uint32_t rh = hi, rl = lo;
    zvsubdlng(&rh, &rl, qh, ql);
    if (rh != 0) terr(8970);
    return rl;
}

// ---- Atomics: compare-and-swap loops between full barriers ------------------

ZV_API int32_t zvInterlockedMax(volatile int32_t *target, int32_t value) {
    int32_t cur = __atomic_load_n(target, __ATOMIC_SEQ_CST);
    while (cur < value) {
        if (__atomic_compare_exchange_n(target, &cur, value, false, __ATOMIC_SEQ_CST,
                                        __ATOMIC_SEQ_CST))
            return value;
    }
    return cur;
}

ZV_API uint32_t zvInterlockedModIncrement(volatile uint32_t *target, uint32_t modulus) {
    uint32_t cur = __atomic_load_n(target, __ATOMIC_SEQ_CST);
    for (;;) {
        uint32_t next = modulus ? (cur + 1) % modulus : cur + 1;
        if (__atomic_compare_exchange_n(target, &cur, next, false, __ATOMIC_SEQ_CST,
                                        __ATOMIC_SEQ_CST))
            return next;
    }
}

ZV_API uint64_t zvInterlockedAdd8(volatile uint64_t *target, uint64_t addend) {
    return __atomic_add_fetch(target, addend, __ATOMIC_SEQ_CST);
}

// ---- Utilities --------------------------------------------------------------

ZV_API int zvdallc(int32_t *capacity, int32_t *count, void **storage, int elemsize, int step) {
    if (!capacity || !count || !storage || elemsize <= 0) return -10;
    if (*capacity > *count) return (*count)++;
    if (step <= 0) step = 1;
    void *grown = mballc(size_t(*capacity) + size_t(step), size_t(elemsize));
    if (!grown) return -10;
    if (*storage && *capacity > 0) memcpy(grown, *storage, size_t(*capacity) * size_t(elemsize));
    mbfree(*storage);
    *storage = grown;
    *capacity += step;
    return (*count)++;
}

ZV_API int zvhash_shift(const FCB *fcb) {
    if (!fcb) return 1;
    if (fcb_is_memory(fcb)) return 4;
    bool superfile = fcb->hdr.base.sfiltyp == 1 || fcb->hdr.base.sfiltyp == 2;
    int64_t len;
    if (fcb->kind == kKindIndex) {
        len = fcb->nodesize;
    } else {
        len = fcb->reclen;
        if (superfile) len += 18;
        else if (fcb->kind == kKindVariable) len += 10;
    }
    if (len < 3 && (fcb->kind == kKindIndex || (fcb->kind == kKindFixed && !superfile))) return 1;
    int shift = 1;
    while (len >= 3) {
        len /= 2;
        shift++;
    }
    return shift;
}

ZV_API int distrand(FCB *fcb) {
    if (!fcb) return 1;
    uint32_t x = fcb->drawseed;
    fcb->drawseed = x * 11737u + 3731u;
    int v = static_cast<int>(x % 100);
    if (!fcb->drawlimit) return v ? v : 1;
    int64_t first = static_cast<int64_t>(fcb->hdr.ext.wide64[0]);
    int64_t second = static_cast<int64_t>(fcb->hdr.ext.wide64[1]);
    int64_t limit = first <= 0 ? 75 : 100 * second / first;
    return v < limit ? v : 0;
}

ZV_API char *zvhexdmp(const void *src, char *dst, int len) {
    static const char digits[] = "0123456789abcdef";
    const unsigned char *s = static_cast<const unsigned char *>(src);
    for (int i = 0; i < len; i++) {
        *dst++ = digits[s[i] >> 4];
        *dst++ = digits[s[i] & 15];
    }
    *dst++ = '\0';
    return dst;
}

ZV_API int zvbasdir(char *dst, const char *path) {
    if (!dst) return 0;
    dst[0] = '\0';
    if (!path) return 0;
    int cut = -1;
    for (int i = 0; path[i]; i++)
        if (path[i] == '/' || path[i] == ':' || path[i] == '\\') cut = i;
    if (cut < 0) return 0;
    memcpy(dst, path, size_t(cut + 1));
    dst[cut + 1] = '\0';
    return cut + 1;
}

}  // extern "C"
