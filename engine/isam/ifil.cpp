// File-set definitions: the IFIL and its stored image, file names of a
// set, the stored definition of a data file, and the record-schema blocks.
//
// Stored IFIL image (definition block 0 of the data file; integers in host
// order, the resource layer converts them on disk):
//   OFFSET SIZE CONTENT
//     0    4   1: a data file name follows
//     4   14   dfilno, dreclen, dxtdsiz, dfilmod & ~0x1000, dnumidx,
//              ixtdsiz, ifilmod & ~0x1000 (2 bytes each)
//    18    2   0
//    20    4   1 when the index array is present
//    24    4   1 when rfstfld is present
//    28    4   1 when tlstfld is present
//    32    2   tfilno
//    34    2   0
//    36   32n  per index: ikeylen, ikeytyp, ikeydup, inulkey, iempchr,
//              inumseg (2 bytes each), then five 4-byte presence flags of
//              isegarr, ridxnam, aidxnam, icolseq, ipadbyt
//   then 6 per segment of every index: soffset, slength, segmode
//   then pfilnam with its NUL; rfstfld and tlstfld, 64 bytes each
//   then per index when present: ridxnam, aidxnam (NUL-terminated), the
//        512-byte collating table, a 4-byte slot holding the pad byte
//   then the data and index extensions, 8 bytes each
//   then, with extended create blocks, zeros to a multiple of 4 and one
//        64-byte block per physical file (data file, then index files)
// A partial image (nidx > 0) holds only the index records, the segments,
// the per-index names and tables, and the blocks of the index files.
//
// A rebuilt IFIL ("flat" form) is one piece of memory: the IFIL, its IIDX
// records, all segments, the collating tables, the pad bytes, then the
// names; every pointer points inside it. The image is never read as
// structures: every field is copied out with its bounds checked.
#include "engine/core/bytes.h"
#include "engine/isam/ifil.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

#include "engine/core/instance.h"
#include "engine/core/startup.h"
#include "engine/core/fcb.h"
#include "engine/files/header.h"
#include "engine/files/identity_services.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"

namespace zv {

namespace {

constexpr int32_t kHead = 36;         // image header
constexpr int32_t kIdxRec = 32;       // image index record
constexpr int32_t kSegRec = 6;        // image segment record
constexpr int32_t kFieldName = 64;    // rfstfld / tlstfld slots
constexpr int32_t kExt = 8;           // each extension
constexpr int32_t kTable = 512;       // collating table
constexpr int32_t kPadSlot = 4;       // pad byte slot
constexpr int32_t kBlock = 64;        // extended create block
constexpr uint32_t kNoPaths = 0x10000000;     // header flags 2: stored without paths
constexpr uint32_t kNoPathsMark = 0x10000001;

int32_t slen(const char *s) { return s ? int32_t(strlen(s)) : 0; }
bool prefixed(const char *s) { return s && (s[0] == '?' || s[0] == '*' || s[0] == '+'); }

// The stored image is in host order; its 16-bit words are signed.
void put16(unsigned char *p, int v) { host::put16(p, uint16_t(v)); }
int16_t get16(const unsigned char *p) { return int16_t(host::get16(p)); }
using host::get32;
using host::put32;
int32_t round_up(int32_t v, int32_t unit) { return (v + unit - 1) / unit * unit; }

// The index records of an IFIL or of a bare IIDX array.
struct IdxView {
    const IIDX *idx = nullptr;
    int n = 0;
};
bool index_view(const IFIL *ifil, int nidx, IdxView *v) {
    if (!ifil) return false;
    if (nidx > 0) {
        v->idx = reinterpret_cast<const IIDX *>(ifil);
        v->n = nidx;
        return nidx <= kMapIndexes;
    }
    if (!ifil->pfilnam || ifil->dnumidx < 0 || ifil->dnumidx > kMapIndexes) return false;
    if (ifil->dnumidx > 0 && !ifil->iidxarr) return false;
    v->idx = ifil->iidxarr;
    v->n = ifil->dnumidx;
    return true;
}

// Number of index files among n indexes: index 0 and each later one with
// an alternate name.
int index_files(const IIDX *idx, int n) {
    int files = 0;
    for (int k = 0; k < n; k++)
        if (k == 0 || idx[k].aidxnam) files++;
    return files;
}

// Bounded reader of a stored image.
struct Reader {
    const unsigned char *base;
    int32_t len;
    int32_t pos = 0;
    bool ok = true;
    const unsigned char *take(int32_t n) {
        if (!ok || n < 0 || n > len - pos) {
            ok = false;
            return nullptr;
        }
        const unsigned char *p = base + pos;
        pos += n;
        return p;
    }
    // A NUL-terminated string inside the image.
    const char *str() {
        if (!ok || pos >= len) {
            ok = false;
            return nullptr;
        }
        const void *nul = memchr(base + pos, 0, size_t(len - pos));
        if (!nul) {
            ok = false;
            return nullptr;
        }
        const char *s = reinterpret_cast<const char *>(base + pos);
        pos = int32_t(static_cast<const unsigned char *>(nul) - base) + 1;
        return s;
    }
};

void copy_ext(char *out, const unsigned char *p) {
    if (!out) return;
    memcpy(out, p, kExt);
    out[kExt] = '\0';
}

// Directory part of a path (through its last separator).
int dirlen(const char *path) { return path ? zvsnp(nullptr, path) : 0; }

bool same_dir(const char *a, int alen, const char *b, int blen) {
    return alen == blen && (alen == 0 || memcmp(a, b, size_t(alen)) == 0);
}

}  // namespace

// ---- Record schema rules ----------------------------------------------------

int dodaflen(int type, int len) {
    if (len != 0) return len;
    if (type >= 106 && type <= 230 && type != 143) return (type < 146 || type == 177 || type == 193) ? -432 : 0;
    if (type == 257) return 8;
    if (type == 258) return 4;
    if (type == 259) return -432;
    if (type < 0 || type >= 256) return 0;
    static constexpr int8_t kSize[32] = {
        0, 1, 1, 1,          // 0-31
        2, 2,                // 32-47
        4, 4, 4, 4, 4, 4,    // 48-95
        8,                   // 96-103
        20,                  // 104-111: the size of a number value
        0, 0, 0,             // 112-135
        8,                   // 136-143
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        8, 8,                // 224-239
        0, 0,
    };
    return kSize[type >> 3];
}

int zvadjfld(int type, void *field, int32_t len) {
    auto *p = static_cast<unsigned char *>(field);
    if (!p || type < 0) return 0;
    auto reverse = [p](int32_t n) {
        for (int32_t i = 0, j = n - 1; i < j; i++, j--) std::swap(p[i], p[j]);
    };
    if (type >= 257 && type <= 259) {
        reverse(type == 257 ? 8 : 4);
        return 1;
    }
    if (type >= 240) return 0;
    static constexpr int8_t kWidth[30] = {
        0, 0, 0, 0, 2, 2, 4, 4, 4, 4, 4, 4, 8, -2, 0,
        8, 0, 8, 0, 0, -2, -4, 2, 2, 2, 2, 0, 0, 8, 8,
    };
    int w = kWidth[type / 8];
    if (w == 0) return 0;
    if (len == 0 || w < 0) len = w < 0 ? -w : w;
    if (len <= 0) return 0;
    if (type >= 177 && type <= 207) {
        for (int32_t i = 0; i + 1 < len; i += 2) std::swap(p[i], p[i + 1]);
    } else {
        reverse(len);
    }
    return 1;
}

bool vartype(int type) {
    return type == 146 || type == 154 || type == 162 || type == 170 || type == 185 || type == 201 ||
           type == 259;
}

// ---- Stored image -----------------------------------------------------------

int nismfil(const IFIL *ifil) {
    // A set of more indexes than a data file can have is refused before
    // its array is read.
    if (!ifil || ifil->dnumidx <= 0 || ifil->dnumidx > kMapIndexes || !ifil->iidxarr) return 1;
    return 1 + index_files(ifil->iidxarr, ifil->dnumidx);
}

int32_t cptifil_len(const IFIL *ifil, const XCREblk *xcre, int nidx) {
    IdxView v;
    if (!index_view(ifil, nidx, &v)) return -1;
    int32_t len = 0;
    if (nidx == 0) len = kHead + slen(ifil->pfilnam) + 1 + 2 * kFieldName + 2 * kExt;
    for (int k = 0; k < v.n; k++) {
        const IIDX &x = v.idx[k];
        if (x.inumseg < 0 || x.inumseg > kMapSegs || (x.inumseg > 0 && !x.isegarr)) return -1;
        len += kIdxRec + kSegRec * x.inumseg;
        if (x.ridxnam) len += slen(x.ridxnam) + 1;
        if (x.aidxnam) len += slen(x.aidxnam) + 1;
        if (x.icolseq) len += kTable;
        if (x.ipadbyt) len += kPadSlot;
    }
    if (xcre) len = round_up(len, 4) + kBlock * ((nidx == 0 ? 1 : 0) + index_files(v.idx, v.n));
    return len;
}

void *cptifil8(const IFIL *ifil, void *buffer, int32_t *lenout, const char *dext, const char *iext,
               const XCREblk *xcre, int nidx) {
    int32_t len = cptifil_len(ifil, xcre, nidx);
    if (len < 0) {
        set_uerr(198);
        return nullptr;
    }
    IdxView v;
    index_view(ifil, nidx, &v);
    auto *img = static_cast<unsigned char *>(buffer ? buffer : mballc(size_t(len), 1));
    if (!img) {
        set_uerr(197);
        return nullptr;
    }
    memset(img, 0, size_t(len));
    unsigned char *p = img;
    if (nidx == 0) {
        put32(p, 1);
        put16(p + 4, ifil->dfilno);
        put16(p + 6, ifil->dreclen);
        put16(p + 8, ifil->dxtdsiz);
        put16(p + 10, ifil->dfilmod & ~0x1000);
        put16(p + 12, ifil->dnumidx);
        put16(p + 14, ifil->ixtdsiz);
        put16(p + 16, ifil->ifilmod & ~0x1000);
        put32(p + 20, ifil->iidxarr ? 1 : 0);
        put32(p + 24, ifil->rfstfld ? 1 : 0);
        put32(p + 28, ifil->tlstfld ? 1 : 0);
        put16(p + 32, ifil->tfilno);
        p += kHead;
    }
    for (int k = 0; k < v.n; k++, p += kIdxRec) {
        const IIDX &x = v.idx[k];
        put16(p, x.ikeylen);
        put16(p + 2, x.ikeytyp);
        put16(p + 4, x.ikeydup);
        put16(p + 6, x.inulkey);
        put16(p + 8, x.iempchr);
        put16(p + 10, x.inumseg);
        put32(p + 12, x.isegarr ? 1 : 0);
        put32(p + 16, x.ridxnam ? 1 : 0);
        put32(p + 20, x.aidxnam ? 1 : 0);
        put32(p + 24, x.icolseq ? 1 : 0);
        put32(p + 28, x.ipadbyt ? 1 : 0);
    }
    for (int k = 0; k < v.n; k++) {
        for (int s = 0; s < v.idx[k].inumseg; s++, p += kSegRec) {
            const ISEG &sg = v.idx[k].isegarr[s];
            put16(p, sg.soffset);
            put16(p + 2, sg.slength);
            put16(p + 4, sg.segmode);
        }
    }
    if (nidx == 0) {
        int32_t n = slen(ifil->pfilnam) + 1;
        memcpy(p, ifil->pfilnam, size_t(n));
        p += n;
        cpynbuf(reinterpret_cast<char *>(p), ifil->rfstfld, kFieldName);
        p += kFieldName;
        cpynbuf(reinterpret_cast<char *>(p), ifil->tlstfld, kFieldName);
        p += kFieldName;
    }
    for (int k = 0; k < v.n; k++) {
        const IIDX &x = v.idx[k];
        for (const char *s : {x.ridxnam, x.aidxnam}) {
            if (!s) continue;
            int32_t n = slen(s) + 1;
            memcpy(p, s, size_t(n));
            p += n;
        }
        if (x.icolseq) {
            memcpy(p, x.icolseq, kTable);
            p += kTable;
        }
        if (x.ipadbyt) {
            p[0] = static_cast<unsigned char>(*x.ipadbyt);
            p += kPadSlot;
        }
    }
    if (nidx == 0) {
        if (dext) memcpy(p, dext, strnlen(dext, kExt));
        p += kExt;
        if (iext) memcpy(p, iext, strnlen(iext, kExt));
        p += kExt;
    }
    if (xcre) {
        p = img + round_up(int32_t(p - img), 4);
        int blocks = (nidx == 0 ? 1 : 0) + index_files(v.idx, v.n);
        memcpy(p, xcre, size_t(kBlock) * size_t(blocks));
    }
    if (lenout) *lenout = len;
    return img;
}

void *cptifil(const IFIL *ifil, void *buffer, int32_t *len, const char *dext, const char *iext) {
    return cptifil8(ifil, buffer, len, dext, iext, nullptr, 0);
}

int32_t ifil_flat_size(const IFIL *ifil) {
    IdxView v;
    if (!index_view(ifil, 0, &v)) return -1;
    int64_t size = int64_t(sizeof(IFIL)) + int64_t(sizeof(IIDX)) * v.n;
    int64_t strings = slen(ifil->pfilnam) + 1;
    if (ifil->rfstfld) strings += slen(ifil->rfstfld) + 1;
    if (ifil->tlstfld) strings += slen(ifil->tlstfld) + 1;
    for (int k = 0; k < v.n; k++) {
        const IIDX &x = v.idx[k];
        if (x.inumseg < 0 || x.inumseg > kMapSegs || (x.inumseg > 0 && !x.isegarr)) return -1;
        size += int64_t(sizeof(ISEG)) * x.inumseg;
        if (x.icolseq) size += kTable;
        if (x.ipadbyt) size += 1;
        if (x.ridxnam) strings += slen(x.ridxnam) + 1;
        if (x.aidxnam) strings += slen(x.aidxnam) + 1;
    }
    size = (size + strings + 7) / 8 * 8;
    return size > 0x7FFFFFFF ? -1 : int32_t(size);
}

IFIL *ifil_flatten(const IFIL *src, void *buf, int32_t len) {
    int32_t need = ifil_flat_size(src);
    if (need < 0 || !buf || len < need) return nullptr;
    auto *base = static_cast<unsigned char *>(buf);
    memset(base, 0, size_t(need));
    auto *out = reinterpret_cast<IFIL *>(base);
    IFIL head = *src;
    size_t at = sizeof(IFIL);
    int n = src->dnumidx;
    IIDX *idx = n > 0 ? reinterpret_cast<IIDX *>(base + at) : nullptr;
    at += sizeof(IIDX) * size_t(n);
    // Segments and tables first (aligned for 16-bit words), bytes, names.
    IIDX copies[kMapIndexes];
    for (int k = 0; k < n; k++) {
        copies[k] = src->iidxarr[k];
        IIDX &x = copies[k];
        if (x.isegarr) {
            size_t b = sizeof(ISEG) * size_t(x.inumseg);
            if (b) memcpy(base + at, static_cast<const void *>(x.isegarr), b);
            x.isegarr = reinterpret_cast<const ISEG *>(base + at);
            at += b;
        }
    }
    for (int k = 0; k < n; k++) {
        IIDX &x = copies[k];
        if (!x.icolseq) continue;
        memcpy(base + at, static_cast<const void *>(x.icolseq), kTable);
        x.icolseq = reinterpret_cast<const uint16_t *>(base + at);
        at += kTable;
    }
    for (int k = 0; k < n; k++) {
        IIDX &x = copies[k];
        if (!x.ipadbyt) continue;
        base[at] = static_cast<unsigned char>(*x.ipadbyt);
        x.ipadbyt = reinterpret_cast<const char *>(base + at);
        at += 1;
    }
    auto place = [&](const char *s) -> const char * {
        if (!s) return nullptr;
        size_t b = strlen(s) + 1;
        memcpy(base + at, s, b);
        const char *p = reinterpret_cast<const char *>(base + at);
        at += b;
        return p;
    };
    head.pfilnam = place(src->pfilnam);
    head.rfstfld = place(src->rfstfld);
    head.tlstfld = place(src->tlstfld);
    for (int k = 0; k < n; k++) {
        copies[k].ridxnam = place(copies[k].ridxnam);
        copies[k].aidxnam = place(copies[k].aidxnam);
    }
    head.iidxarr = idx;
    memcpy(static_cast<void *>(out), &head, sizeof head);
    if (n > 0) memcpy(static_cast<void *>(idx), copies, sizeof(IIDX) * size_t(n));
    return out;
}

IFIL *makifil8(const void *image, char *dext, char *iext, uint32_t form, int32_t len, XCREblk **xcre) {
    if (xcre) *xcre = nullptr;
    if (!(form & 0x1)) {
        set_uerr(515);
        return nullptr;
    }
    if (!image || len < kHead) {
        set_uerr(198);
        return nullptr;
    }
    Reader r{static_cast<const unsigned char *>(image), len};
    const unsigned char *h = r.take(kHead);
    IFIL view{};
    if (get32(h) != 1) {
        set_uerr(198);
        return nullptr;
    }
    view.dfilno = get16(h + 4);
    view.dreclen = uint16_t(get16(h + 6));
    view.dxtdsiz = uint16_t(get16(h + 8));
    view.dfilmod = get16(h + 10);
    view.dnumidx = get16(h + 12);
    view.ixtdsiz = uint16_t(get16(h + 14));
    view.ifilmod = get16(h + 16);
    uint32_t hasidx = get32(h + 20), hasrf = get32(h + 24), hastl = get32(h + 28);
    view.tfilno = get16(h + 32);
    int n = view.dnumidx;
    if (n < 0 || n > kMapIndexes || hasidx > 1 || hasrf > 1 || hastl > 1 || (n > 0 && !hasidx)) {
        set_uerr(198);
        return nullptr;
    }
    IIDX idx[kMapIndexes] = {};
    uint32_t flags[kMapIndexes][5] = {};
    for (int k = 0; k < n; k++) {
        const unsigned char *q = r.take(kIdxRec);
        if (!q) break;
        IIDX &x = idx[k];
        x.ikeylen = get16(q);
        x.ikeytyp = get16(q + 2);
        x.ikeydup = get16(q + 4);
        x.inulkey = get16(q + 6);
        x.iempchr = get16(q + 8);
        x.inumseg = get16(q + 10);
        for (int f = 0; f < 5; f++) flags[k][f] = get32(q + 12 + 4 * f);
        if (x.inumseg < 0 || x.inumseg > kMapSegs || (x.inumseg > 0 && flags[k][0] != 1)) r.ok = false;
        for (int f = 0; f < 5; f++)
            if (flags[k][f] > 1) r.ok = false;
    }
    for (int k = 0; k < n && r.ok; k++) {
        const unsigned char *s = r.take(kSegRec * idx[k].inumseg);
        if (flags[k][0]) idx[k].isegarr = reinterpret_cast<const ISEG *>(s);
    }
    view.pfilnam = r.str();
    const unsigned char *rf = r.take(kFieldName);
    const unsigned char *tl = r.take(kFieldName);
    if (r.ok && (!memchr(rf, 0, kFieldName) || !memchr(tl, 0, kFieldName))) r.ok = false;
    if (r.ok) {
        if (hasrf) view.rfstfld = reinterpret_cast<const char *>(rf);
        if (hastl) view.tlstfld = reinterpret_cast<const char *>(tl);
    }
    for (int k = 0; k < n && r.ok; k++) {
        IIDX &x = idx[k];
        if (flags[k][1]) x.ridxnam = r.str();
        if (flags[k][2]) x.aidxnam = r.str();
        if (flags[k][3]) x.icolseq = reinterpret_cast<const uint16_t *>(r.take(kTable));
        if (flags[k][4]) x.ipadbyt = reinterpret_cast<const char *>(r.take(kPadSlot));
    }
    const unsigned char *de = r.take(kExt);
    const unsigned char *ie = r.take(kExt);
    const unsigned char *blocks = nullptr;
    int nblocks = 1 + index_files(idx, n);
    if (r.ok && r.pos < len) {
        int32_t at = round_up(r.pos, 4);
        if (at > len || len - at != kBlock * nblocks) r.ok = false;
        else blocks = r.base + at;
    }
    if (!r.ok) {
        set_uerr(198);
        return nullptr;
    }
    view.iidxarr = n > 0 ? idx : nullptr;
    int32_t need = ifil_flat_size(&view);
    void *mem = need > 0 ? zvgetmem(need) : nullptr;
    XCREblk *xc = nullptr;
    if (mem && blocks && xcre) {
        xc = static_cast<XCREblk *>(zvgetmem(kBlock * nblocks));
        if (xc) memcpy(static_cast<void *>(xc), blocks, size_t(kBlock) * size_t(nblocks));
    }
    if (!mem || (blocks && xcre && !xc)) {
        zvputmem(mem);
        set_uerr(197);
        return nullptr;
    }
    copy_ext(dext, de);
    copy_ext(iext, ie);
    if (xcre) *xcre = xc;
    return ifil_flatten(&view, mem, need);
}

IFIL *makifil(const void *image, char *dext, char *iext, uint32_t form, int32_t len) {
    return makifil8(image, dext, iext, form, len, nullptr);
}

// ---- Names --------------------------------------------------------------------

int zvsnp(char *out, const char *path) {
    if (!path) return 0;
    int n = 0;
    for (int i = 0; path[i]; i++)
        if (path[i] == '/' || path[i] == ':' || path[i] == '\\') n = i + 1;
    if (out) {
        memcpy(out, path, size_t(n));
        out[n] = '\0';
    }
    return n;
}

int zviflnam(const IFILPARM *p, char *out, int kind, char *extout) {
    INSTGV *g = zvWNGV;
    out[0] = '\0';
    if (extout) extout[0] = '\0';
    const IFIL *ifil = p ? p->ifil : nullptr;
    if (!ifil || !ifil->pfilnam) return 0;
    char ext[kExt + 1] = {};
    const char *given = kind ? p->idxext : p->dataext;
    if (given[0]) memcpy(ext, given, strnlen(given, kExt));
    else if (g) memcpy(ext, g->defext[kind ? 1 : 0], strnlen(g->defext[kind ? 1 : 0], kExt));
    if (ext[strspn(ext, " ")] == '\0' || (ifil->dfilmod & 0x200)) ext[0] = '\0';
    size_t n = strnlen(ifil->pfilnam, 256), e = strlen(ext);
    if (n + e >= 256) return 139;
    memcpy(out, ifil->pfilnam, n);
    memcpy(out + n, ext, e + 1);
    if (extout) memcpy(extout, ext, e + 1);
    return 0;
}

int buildAidxnam(char *out, const char *aidxnam, int size, const char *datname) {
    if (!out || !aidxnam || size < 1) return set_uerr(540);
    size_t n = strlen(aidxnam);
    if (!prefixed(aidxnam)) {
        if (n + 1 > size_t(size)) return set_uerr(153);
        memcpy(out, aidxnam, n + 1);
        return 0;
    }
    if (!datname || !*datname) return set_uerr(540);
    const char *rest = aidxnam + 1;
    if (zvsnp(nullptr, rest) > 0 || prefixed(rest)) return set_uerr(139);
    size_t head = aidxnam[0] == '?' ? strlen(datname) : size_t(zvsnp(nullptr, datname));
    size_t r = strlen(rest);
    if (head + r + 1 > size_t(size)) return set_uerr(153);
    memmove(out, datname, head);
    memcpy(out + head, rest, r + 1);
    return 0;
}

char *chkifilnp(IFIL *ifil, const char *newname, int mode, bool nopaths) {
    if (!ifil || !newname) return nullptr;
    int n = ifil->dnumidx > 0 && ifil->iidxarr ? ifil->dnumidx : 0;
    if (n > kMapIndexes) n = kMapIndexes;
    const char *oldname = ifil->pfilnam ? ifil->pfilnam : "";
    int od = dirlen(oldname), nd = dirlen(newname);
    // How each alternate name is rewritten: 0 kept, 1 "*" + bare name,
    // 2 new directory + the name without its '*', 3 new directory + bare.
    int how[kMapIndexes] = {};
    size_t total = strlen(newname) + 1;
    for (int k = 0; k < n; k++) {
        const char *a = ifil->iidxarr[k].aidxnam;
        if (!a) continue;
        int ad = dirlen(a);
        if (mode == 1) {
            if (!prefixed(a) && same_dir(a, ad, oldname, od)) how[k] = 1;
        } else if (nopaths) {
            if (a[0] == '*') how[k] = 2;
        } else if (!same_dir(newname, nd, oldname, od) && !prefixed(a) && same_dir(a, ad, oldname, od)) {
            how[k] = 3;
        }
        total += strlen(a) + size_t(nd) + 2;
    }
    char *blk = static_cast<char *>(zvgetmem(int32_t(total)));
    if (!blk) return nullptr;
    char *p = blk;
    size_t nl = strlen(newname) + 1;
    memcpy(p, newname, nl);
    ifil->pfilnam = p;
    p += nl;
    for (int k = 0; k < n; k++) {
        IIDX &x = ifil->iidxarr[k];
        if (!how[k]) continue;
        const char *a = x.aidxnam;
        char *s = p;
        if (how[k] == 1) {
            *p++ = '*';
            const char *bare = a + dirlen(a);
            size_t b = strlen(bare) + 1;
            memcpy(p, bare, b);
            p += b;
        } else {
            memcpy(p, newname, size_t(nd));
            p += nd;
            const char *rest = how[k] == 2 ? a + 1 : a + dirlen(a);
            size_t b = strlen(rest) + 1;
            memcpy(p, rest, b);
            p += b;
        }
        x.aidxnam = s;
    }
    return blk;
}

void trimExtension(char *name, const char *ext) {
    if (!name || !ext || !*ext || ext[0] == ' ') return;
    size_t n = strlen(name), e = strlen(ext);
    if (e <= n && memcmp(name + n - e, ext, e) == 0) name[n - e] = '\0';
}

// ---- Stored definition ------------------------------------------------------

int zvrstdefx(int datno, IFIL *ifil, const char *dext, const char *iext, int mode, int type) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = tstfnm(datno);
    if (!f) return ierr(g->uerr_cod, datno);
    if (!ifil || !ifil->pfilnam) return ierr(set_uerr(198), datno);
    // Field names are stored in fixed slots: one that does not fit is
    // refused rather than stored cut.
    for (const char *s : {ifil->rfstfld, ifil->tlstfld}) {
        if (s && strnlen(s, kFieldName) >= size_t(kFieldName)) return ierr(set_uerr(139), datno);
    }
    bool sw = suppress_path_in_ifil() != 0;
    uint32_t flags = f->hdr.base.hdrflags2;
    bool marked = (flags & kNoPathsMark) == kNoPathsMark;
    bool strip = sw ? !((mode & 1) && marked) : ((flags & kNoPaths) && !(mode & 1));

    int n = ifil->dnumidx > 0 && ifil->iidxarr ? ifil->dnumidx : 0;
    if (n > kMapIndexes) n = kMapIndexes;
    const char *oldname = ifil->pfilnam;
    const char *oldalt[kMapIndexes];
    for (int k = 0; k < n; k++) oldalt[k] = ifil->iidxarr[k].aidxnam;
    auto restore = [&]() {
        ifil->pfilnam = oldname;
        for (int k = 0; k < n; k++) ifil->iidxarr[k].aidxnam = oldalt[k];
    };
    char *names = nullptr;
    if (strip) {
        names = chkifilnp(ifil, oldname + dirlen(oldname), 1, false);
        if (!names) {
            restore();
            return ierr(set_uerr(83), datno);
        }
    }
    int32_t len = 0;
    void *image = cptifil(ifil, nullptr, &len, dext, iext);
    restore();
    zvputmem(names);
    if (!image) return ierr(g->uerr_cod, datno);
    DEFBLK blk{image, len, len, uint16_t(type == -1 ? 129 : 0), 1};
    int rc = SETDEFBLKX(datno, &blk, type == -1 ? 0 : type);
    mbfree(image);
    if (rc) return ierr(set_uerr(rc), datno);
    if (sw && !marked) {
        f->hdr.base.hdrflags2 |= kNoPathsMark;
        tstupd(f);
    }
    return set_uerr(0);
}

IFIL *cnvifilnpx(char **names, const char *datname, char *dext, char *iext, int datno, int type) {
    INSTGV *g = zvWNGV;
    if (names) *names = nullptr;
    if (!g) return nullptr;
    FCB *f = tstfnm(datno);
    if (!f) {
        ierr(g->uerr_cod, datno);
        return nullptr;
    }
    void *blk = nullptr;
    int32_t blen = 0;
    int rc = zvrdefx(datno, type, 0, &blk, &blen);
    if (rc || !blk) {
        zvputmem(blk);
        // No resources, or no such block: no definition is stored.
        if (rc == 0 || rc == 401 || rc == 438) rc = 408;
        ierr(set_uerr(rc), datno);
        return nullptr;
    }
    char de[kExt + 1], ie[kExt + 1];
    IFIL *ifil = makifil(blk, de, ie, f->hdr.base.hdrflags2, blen);
    zvputmem(blk);
    if (!ifil) {
        ierr(g->uerr_cod, datno);
        return nullptr;
    }
    char *nm = chkifilnp(ifil, datname, 0, (f->hdr.base.hdrflags2 & kNoPaths) != 0);
    if (!nm) {
        zvputmem(ifil);
        ierr(set_uerr(83), datno);
        return nullptr;
    }
    if (!(ifil->dfilmod & 0x200)) trimExtension(nm, de[0] ? de : g->defext[0]);
    if (dext) memcpy(dext, de, sizeof de);
    if (iext) memcpy(iext, ie, sizeof ie);
    if (names) *names = nm;
    else zvputmem(nm);
    return ifil;
}

IFIL *cnvifilnp(char **names, const char *datname, char *dext, char *iext, int datno) {
    return cnvifilnpx(names, datname, dext, iext, datno, 0);
}

// ---- Parameter block ----------------------------------------------------------

void setifil8(IFILPARM *p, IFIL *ifil, const char *dext, const char *iext, int32_t permmask,
              const char *group, const char *password, XCREblk *xcre) {
    memset(p, 0, sizeof *p);
    p->permmask = uint32_t(permmask);
    cpynbuf(p->group, group, sizeof p->group);
    cpynbuf(p->password, password, sizeof p->password);
    cpynbuf(p->dataext, dext, sizeof p->dataext);
    cpynbuf(p->idxext, iext, sizeof p->idxext);
    p->ifil = ifil;
    p->xcre = xcre;
}

void setifil(IFILPARM *p, IFIL *ifil, const char *dext, const char *iext, int32_t permmask,
             const char *group, const char *password) {
    setifil8(p, ifil, dext, iext, permmask, group, password, nullptr);
}

}  // namespace zv
