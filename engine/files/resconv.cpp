// Byte-order conversion of system resources and of records with a schema.
//
// Stored structures are little-endian. On a big-endian host the bodies of
// system resources (engine structures kept as resources) and the records of
// files with a conversion map are converted field by field when they are
// read and written; on a little-endian host nothing is converted. A test
// switch forces the conversion on so that the walks can be tried here.
//
// Every walk stays inside the length it is given: a count, prefix or block
// that would run past it ends the walk, and the fields before it stay
// converted. Counts that steer a walk are read in host order: before the
// conversion when storing (direction 2), after it when reading (direction 1).
#include "engine/core/bytes.h"
#include "engine/files/resconv.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/files/resource.h"
#include "engine/isam/isam_services.h"

namespace zv {

namespace {

bool g_force_swap = false;  // test switch
TestConverter g_test_converter = nullptr;  // test switch

constexpr ZvMapHead head_of(int32_t fields, int32_t entries) { return ZvMapHead{0, 1, 0, 0, 0, fields, entries}; }

constexpr std::array<ZvMapEntry, 66> make_fdfc() {
    std::array<ZvMapEntry, 66> a{};
    a[0] = {8, ZV_FSTRING, 0, 0};
    a[1] = {4, ZV_INT4U, 1, 0};
    for (int i = 0; i < 32; i++) {
        a[2 + 2 * i] = {4, ZV_INT4U, 0, 0};
        a[3 + 2 * i] = {2, ZV_INT2U, 1, 0};
    }
    return a;
}

constexpr auto kFdfc = make_fdfc();


// Reverses each whole 32-bit word of `count` words from `off` that lies
// within `len`.
void convert_words(unsigned char *body, int32_t len, int32_t off, int count) {
    for (int i = 0; i < count; i++) {
        int32_t at = off + 4 * i;
        if (at + 4 > len) return;
        zvadjfld(ZV_INT4U, body + at, 4);
    }
}

// One map walked over `len` bytes at `p` with delimiter 0 and no limit.
int walk(unsigned char *p, int32_t len, const ZvMapHead &h, const ZvMapEntry *e, int dir) {
    return len > 0 ? zvconvert18(p, reinterpret_cast<const unsigned char *>(&h),
                                 reinterpret_cast<const unsigned char *>(e), len, 0, dir, -1)
                   : 0;
}

// A signed 16-bit count read in host order: before a store's conversion or
// after a read's. `conv` converts the bytes that hold it.
template <class Conv>
int32_t count16_around(unsigned char *at, int dir, Conv conv) {
    int16_t n = 0;
    if (dir != kToHost) memcpy(&n, at, 2);
    conv();
    if (dir == kToHost) memcpy(&n, at, 2);
    return n;
}

int uerr_now() { return zvWNGV ? zvWNGV->uerr_cod : 0; }

// Past a NUL-terminated string from p within [p, end): the byte after its
// NUL, or null when it has none there.
unsigned char *skip_string(unsigned char *p, unsigned char *end) {
    if (p >= end) return nullptr;
    auto *nul = static_cast<unsigned char *>(memchr(p, 0, size_t(end - p)));
    return nul ? nul + 1 : nullptr;
}

}  // namespace

const ZvMapHead zvfdfcmap = head_of(99, 66);
const ZvMapHead zvsctcmap = head_of(3, 2);
const ZvMapHead zvsgmcmap = head_of(7, 2);
const ZvMapHead zvcihcmap = head_of(2, 1);
const ZvMapHead zvcibcmap = head_of(3, 2);
const ZvMapHead zvseqcmap = head_of(256, 1);
const ZvMapHead zvfilcmap = head_of(8, 2);
const ZvMapHead zvidxcmap = head_of(6, 1);
const ZvMapHead zvsegcmap = head_of(3, 1);
const ZvMapHead zvmapcmap = head_of(7, 2);
const ZvMapHead zvblkcmap = head_of(3, 2);
const ZvMapHead zvblkcmap2 = head_of(4, 2);

namespace {

constexpr ZvMapEntry kSctc[] = {{8, ZV_FSTRING, 0, 0}, {4, ZV_INT4U, 1, 0}};
constexpr ZvMapEntry kSgmc[] = {{8, ZV_FSTRING, 0, 0}, {4, ZV_INT4U, 5, 0}};
constexpr ZvMapEntry kCihc[] = {{2, ZV_INT2, 1, 0}};
constexpr ZvMapEntry kCibc[] = {{2, ZV_INT2, 1, 0}, {4, ZV_INT4U, 0, 0}};
constexpr ZvMapEntry kSeqc[] = {{2, ZV_INT2, 255, 0}};
constexpr ZvMapEntry kFilc[] = {{4, ZV_INT4U, 0, 0}, {2, ZV_INT2, 6, 0}};
constexpr ZvMapEntry kIdxc[] = {{2, ZV_INT2, 5, 0}};
constexpr ZvMapEntry kSegc[] = {{2, ZV_INT2, 2, 0}};
constexpr ZvMapEntry kMapc[] = {{1, ZV_CHARU, 3, 0}, {4, ZV_INT4, 2, 0}};
constexpr ZvMapEntry kBlkc[] = {{2, ZV_INT2U, 0, 0}, {1, ZV_CHARU, 1, 0}};
constexpr ZvMapEntry kBlkc2[] = {{2, ZV_INT2U, 1, 0}, {1, ZV_CHARU, 1, 0}};

}  // namespace

const ZvMapEntry *const zvfdfcfld = kFdfc.data();
const ZvMapEntry *const zvsctcfld = kSctc;
const ZvMapEntry *const zvsgmcfld = kSgmc;
const ZvMapEntry *const zvcihcfld = kCihc;
const ZvMapEntry *const zvcibcfld = kCibc;
const ZvMapEntry *const zvseqcfld = kSeqc;
const ZvMapEntry *const zvfilcfld = kFilc;
const ZvMapEntry *const zvidxcfld = kIdxc;
const ZvMapEntry *const zvsegcfld = kSegc;
const ZvMapEntry *const zvmapcfld = kMapc;
const ZvMapEntry *const zvblkcfld = kBlkc;
const ZvMapEntry *const zvblkcfld2 = kBlkc2;

bool byte_swap_active() { return g_force_swap || std::endian::native == std::endian::big; }

void force_byte_swap(bool on) { g_force_swap = on; }

void set_test_converter(TestConverter fn) { g_test_converter = fn; }

}  // namespace zv

extern "C" int zvconvert18(void *bufv, const unsigned char *headp, const unsigned char *entries, int32_t len,
                           int delim, int dir, int32_t limit) {
    using namespace zv;
    if (g_test_converter) return g_test_converter(bufv, len, dir);
    if (!headp || !entries || !bufv || len < 1) return 0;
    ZvMapHead hd;
    memcpy(&hd, headp, sizeof hd);
    const ZvMapHead *head = &hd;
    if (head->nfields < 1) return 0;
    auto *buf = static_cast<unsigned char *>(bufv);
    unsigned char *end = buf + len;
    unsigned char *cur = buf;
    int64_t total = 0;
    int32_t fields = 0;
    int changed = 0;
    for (int32_t ei = 0; ei < head->nentries; ei++) {
        ZvMapEntry e;
        memcpy(&e, entries + 6 * int64_t(ei), sizeof e);
        for (int r = 0; r <= e.repeat; r++) {
            if (fields >= head->nfields || total >= len) return changed;
            fields++;
            int type = e.type;
            int32_t pad = 0;
            if (limit == -1 || cur < buf + limit) pad = zvadjadr(head->align, type, int32_t(cur - buf));
            int64_t left = int64_t(len) - total - pad;
            if (left < 0) return changed;
            unsigned char *f = cur + pad;
            int64_t flen;
            bool prefixdone = false;
            switch (type) {
            case ZV_STRING: {
                auto *d = static_cast<unsigned char *>(memchr(f, delim & 0xFF, size_t(left)));
                flen = d ? (d - f) + 1 : left;
                break;
            }
            case ZV_PSTRING:
                if (left < 1) return changed;
                flen = int64_t(f[0]) + 1;
                break;
            case ZV_2STRING:
                if (left < 2) return changed;
                if (dir == kToHost) {
                    changed |= zvadjfld(type, f, 2);
                    prefixdone = true;
                }
                flen = int64_t(host::get16(f)) + 2;
                break;
            case ZV_4STRING:
                if (left < 4) return changed;
                if (dir == kToHost) {
                    changed |= zvadjfld(type, f, 4);
                    prefixdone = true;
                }
                flen = int64_t(host::get32(f)) + 4;
                break;
            case ZV_WSTRING0: {
                // The last two bytes of the buffer (three for an odd length
                // of at least 3) count as zero, so the scan ends inside it.
                int64_t zero_from = len - ((len % 2 && len >= 3) ? 3 : 2);
                int64_t at = f - buf;
                int64_t n = 0;
                for (;; n += 2) {
                    int64_t i = at + n;
                    unsigned char a = i < zero_from && i < len ? buf[i] : 0;
                    unsigned char b = i + 1 < zero_from && i + 1 < len ? buf[i + 1] : 0;
                    if (a == 0 && b == 0) break;
                }
                flen = n + 2;
                break;
            }
            case ZV_W2STRING: {
                if (left < 2) return changed;
                unsigned char cnt[2] = {f[0], f[1]};
                if (dir == kToHost) zvadjfld(ZV_INT2U, cnt, 2);
                flen = int64_t(host::get16(cnt)) + 2;
                break;
            }
            default:
                flen = e.len;
            }
            total += pad + flen;
            if (total > len) return changed;
            if (!prefixdone) changed |= zvadjfld(type, f, int32_t(flen));
            cur = f + flen;
            if (cur > end) return changed;
        }
    }
    return changed;
}

namespace zv {

void rev_thdr(void *body, int32_t len) {
    if (!body) return;
    auto *b = static_cast<unsigned char *>(body);
    if (len >= 4) zvadjfld(ZV_INT4U, b, 4);
    if (len >= 8) zvadjfld(ZV_INT4U, b + 4, 4);
}

int convert_fil(void *blockv, int32_t len, int dir) {
    auto *blk = static_cast<unsigned char *>(blockv);
    if (!blk || len <= 0) return uerr_now();
    int32_t n = 0;
    if (len >= 18) {
        n = count16_around(blk + 16, dir, [&] { walk(blk, 18, zvfilcmap, zvfilcfld, dir); });
    } else {
        walk(blk, len, zvfilcmap, zvfilcfld, dir);
        return uerr_now();
    }
    int64_t p = 36;
    int64_t segs = 0;
    for (int32_t i = 0; i < n; i++, p += 32) {
        if (p + 32 > len) return uerr_now();
        int32_t ns = count16_around(blk + p + 10, dir, [&] { walk(blk + p, 12, zvidxcmap, zvidxcfld, dir); });
        if (ns > 0) segs += ns;
    }
    for (int64_t j = 0; j < segs; j++, p += 6) {
        if (p + 6 > len) return uerr_now();
        walk(blk + p, 6, zvsegcmap, zvsegcfld, dir);
    }
    return uerr_now();
}

int convert_fil2(void *blockv, int32_t len, int dir, bool extended) {
    auto *blk = static_cast<unsigned char *>(blockv);
    if (!blk || len <= 0) return uerr_now();
    if (len < 18) {
        walk(blk, len, zvfilcmap, zvfilcfld, dir);
        return uerr_now();
    }
    int32_t n = count16_around(blk + 12, dir, [&] { walk(blk, 18, zvfilcmap, zvfilcfld, dir); });
    int64_t p = 36;
    int64_t segs = 0;
    int32_t entries = 0;
    for (; entries < n; entries++, p += 32) {
        if (p + 32 > len) return uerr_now();
        int32_t ns = count16_around(blk + p + 10, dir, [&] { walk(blk + p, 12, zvidxcmap, zvidxcfld, dir); });
        if (ns > 0) segs += ns;
    }
    for (int64_t j = 0; j < segs; j++, p += 6) {
        if (p + 6 > len) return uerr_now();
        walk(blk + p, 6, zvsegcmap, zvsegcfld, dir);
    }
    if (!extended) return uerr_now();
    unsigned char *end = blk + len;
    unsigned char *q = skip_string(blk + p, end);
    if (!q || end - q < 128) return uerr_now();
    q += 128;
    for (int32_t i = 0; i < entries; i++) {
        const unsigned char *e = blk + 36 + 32 * i;
        if (host::get32(e + 16) && !(q = skip_string(q, end))) return uerr_now();
        if (host::get32(e + 20) && !(q = skip_string(q, end))) return uerr_now();
        if (host::get32(e + 24)) {
            if (end - q < 512) return uerr_now();
            walk(q, 512, zvseqcmap, zvseqcfld, dir);
            q += 512;
        }
        if (host::get32(e + 28)) {
            if (end - q < 4) return uerr_now();
            q += 4;
        }
    }
    return uerr_now();
}

int convert_map(void *blockv, int32_t len, int dir, int form) {
    auto *blk = static_cast<unsigned char *>(blockv);
    if (!blk || len <= 0) return uerr_now();
    if (len < 16) {
        walk(blk, len, zvmapcmap, zvmapcfld, dir);
        return uerr_now();
    }
    int32_t n = 0;
    if (dir != kToHost) memcpy(&n, blk + 12, 4);
    walk(blk, 16, zvmapcmap, zvmapcfld, dir);
    if (dir == kToHost) memcpy(&n, blk + 12, 4);
    int32_t step = form == 2 ? 6 : 4;
    const ZvMapHead &h = form == 2 ? zvblkcmap2 : zvblkcmap;
    const ZvMapEntry *e = form == 2 ? zvblkcfld2 : zvblkcfld;
    int64_t p = 16;
    for (int32_t i = 0; i < n; i++, p += step) {
        if (p + step > len) break;
        walk(blk + p, step, h, e, dir);
    }
    return uerr_now();
}

int convertfcr(FCB *fcb, const RESHDR *rh, void *bodyv, int32_t len, int dir) {
    auto *body = static_cast<unsigned char *>(bodyv);
    if (!rh || !body || len < 0) return uerr_now();
    uint32_t type = rh->type, num = rh->number;
    if (!(type == 0 || (type >= 200 && type <= 299))) {
        if (type == 10) {
            if (num == 2) {
                convert_words(body, len, 16, 4);
                if (len > 64) convert_words(body, len, 64, 1);
            }
            return set_uerr(0);
        }
        if (type >= 1000 && type <= 1063) convert_words(body, len, 16, 8);
        return uerr_now();
    }
    int32_t used = int32_t(std::min<uint32_t>(rh->usedlen, uint32_t(len)));
    switch (num) {
    case 9:
    case 13:
        return uerr_now();
    case 2:
        walk(body + 8, used - 8, zvsctcmap, zvsctcfld, dir);
        return uerr_now();
    case 7:
    case 8:
        walk(body + 8, used - 8, zvsgmcmap, zvsgmcfld, dir);
        return uerr_now();
    case 6:
        convert_words(body, len, 16, 6);
        return uerr_now();
    case 5: {
        if (len < 20) return uerr_now();
        int16_t c[2] = {0, 0};
        if (dir != kToHost) memcpy(c, body + 16, 4);
        walk(body + 16, 4, zvcihcmap, zvcihcfld, dir);
        if (dir == kToHost) memcpy(c, body + 16, 4);
        int32_t n = std::max<int32_t>(0, int32_t(c[0]) + int32_t(c[1]));
        for (int32_t i = 0; i < n; i++) {
            int64_t at = 20 + 8 * int64_t(i);
            if (at + 8 > len) break;
            walk(body + at, 8, zvcibcmap, zvcibcfld, dir);
        }
        return uerr_now();
    }
    case 1:
    case 3:
        break;
    default:
        return set_uerr(439);
    }
    if (len <= 8) return uerr_now();
    int32_t L = std::min<int32_t>(len, 1048);
    unsigned char work[1048];
    if (dir != kToHost) memcpy(work, body, size_t(L));
    walk(body + 8, L - 8, zvfdfcmap, zvfdfcfld, dir);
    if (dir == kToHost) memcpy(work, body, size_t(L));
    uint32_t flags2 = fcb ? fcb->hdr.base.hdrflags2 : 0;
    int64_t bound = L;
    for (int i = 0; i < 128; i++) {
        int64_t e = 24 + 8 * int64_t(i);
        if (e + 8 > bound) break;
        uint32_t off = host::get32(work + e);
        uint16_t blen = host::get16(work + e + 6);
        if (blen == 0) continue;
        if (int64_t(off) < bound) bound = off;
        if (int64_t(off) + blen > len) break;
        unsigned char *blk = body + off;
        int rc = 0;
        if (num == 3) {
            walk(blk, std::min<int32_t>(blen, 512), zvseqcmap, zvseqcfld, dir);
        } else if (i == 0) {
            rc = (flags2 & 0x0001) ? convert_fil2(blk, blen, dir, (flags2 & 0x0020) != 0)
                                   : convert_fil(blk, blen, dir);
        } else if (i == 1) {
            rc = convert_map(blk, blen, dir, (flags2 & 0x40000) ? 2 : 1);
        } else if (i > 2) {
            rc = set_uerr(439);
        }
        if (rc) return rc;
    }
    return uerr_now();
}

int convert_record(const FCB *fcb, void *image, int32_t len, int dir) {
    if (!fcb || !fcb->cnvmap) return 0;
    if (zvWNGV && (zvWNGV->userprof & 0x20)) return 0;
    const unsigned char *m = fcb->cnvmap;
    return zvconvert18(image, m, m + 16, len, m[2], dir, fcb->reclen);
}

}  // namespace zv
