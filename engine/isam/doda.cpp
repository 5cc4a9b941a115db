// The record schema of a data file (its DODA) as two definition blocks.
//
// Field-type block (sub-number 1), integers in host order:
//   OFFSET SIZE CONTENT
//     0    1   2
//     1    1   8: the default alignment of a rebuilt schema
//     2    1   the file's field delimiter (GETFIL mode 15)
//     3    1   the file's pad byte (GETFIL mode 16; 32 when negative)
//     4    4   block length: 6 x n + 16
//     8    4   n, the number of fields
//    12    4   n, the number of entries
//    16   6n   per field: length (dodaflen), type (146 for 0), repeat
//              count 0, a zero byte
// Field-name block (sub-number 2): per field a byte strlen + 2 followed by
// the name and its NUL, or the single byte 1 for a field without a name.
//
// GETDODA hands the blocks back as they are, or as a DODA: n + 1 DATOBJ
// entries (offsets laid out from 0 as the alignment byte says, the last
// entry marked 0xFFFF) followed by the name block, which the names point
// into. Every read of a stored block checks its lengths first.
#include <cstring>

#include "engine/core/bytes.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/files/identity_services.h"
#include "engine/index/segmode.h"
#include "engine/isam/ifil.h"
#include "engine/isam/isam_services.h"

namespace zv {

namespace {

constexpr int32_t kTypeHead = 16;
constexpr int32_t kTypeEntry = 6;
constexpr int32_t kMaxBlock = 65535;

int report(int code, int filno) {
    set_uerr(code);
    return ierr(code, filno < 0 ? 0 : filno);
}

bool good_type(int type) { return type == 0 || (type >= 200 && type <= 299); }


// A stored block read through the definition-block service.
struct Block {
    void *data = nullptr;
    int32_t len = 0;
    ~Block() { zvputmem(data); }
    int read(int datno, int type, int subno) {
        int rc = zvrdefx(datno, type, subno, &data, &len);
        if (!rc && !data) rc = 408;
        return rc;
    }
    const unsigned char *bytes() const { return static_cast<const unsigned char *>(data); }
};

// A field-type block as the file stores it may hold 4-byte entries
// (length u16, type u8, repeat u8); it is handed out with 6-byte entries.
// 0, or 435 when memory runs out.
int widen_types(Block *b) {
    if (b->len < kTypeHead) return 0;
    const unsigned char *p = b->bytes();
    uint32_t e = host::get32(p + 12);
    if (e == 0 || uint64_t(b->len) != uint64_t(kTypeHead) + 4ull * e) return 0;
    int64_t wide = kTypeHead + int64_t(kTypeEntry) * e;
    if (wide > 0x7FFFFFFF) return 439;
    auto *w = static_cast<unsigned char *>(zvgetmem(int32_t(wide)));
    if (!w) return 435;
    memcpy(w, p, kTypeHead);
    uint32_t size = uint32_t(wide);
    memcpy(w + 4, &size, 4);
    for (uint32_t i = 0; i < e; i++) {
        const unsigned char *q = p + kTypeHead + 4 * i;
        unsigned char *o = w + kTypeHead + kTypeEntry * i;
        memcpy(o, q, 2);
        uint16_t type = q[2];
        memcpy(o + 2, &type, 2);
        o[4] = q[3];
        o[5] = 0;
    }
    zvputmem(b->data);
    b->data = w;
    b->len = int32_t(wide);
    return 0;
}

// Entries of a field-type block, expanded by their repeat counts.
struct Fields {
    int32_t n = 0;
    int align = 8;
    const unsigned char *entries = nullptr;
    int32_t nentries = 0;
};
bool parse_types(const Block &b, Fields *out) {
    if (b.len < kTypeHead) return false;
    const unsigned char *p = b.bytes();
    uint32_t n = host::get32(p + 8), e = host::get32(p + 12);
    if (e > uint32_t((b.len - kTypeHead) / kTypeEntry) || n > 0x7FFFFFFF) return false;
    out->n = int32_t(n);
    out->align = p[1] ? p[1] : 1;
    out->entries = p + kTypeHead;
    out->nentries = int32_t(e);
    return true;
}

// A field-name block fit for the expression language: one record per
// field of the schema map, each with a length byte of at least 1 that
// stays inside the block and, from 2 on, a name ended by a NUL inside it.
bool names_fit(const unsigned char *b, int32_t len, const unsigned char *schmap) {
    int32_t fields = schema_fields(schmap);
    int32_t pos = 0, records = 0;
    while (pos < len) {
        int l = b[pos];
        if (l < 1 || l > len - pos) return false;
        if (l >= 2 && !memchr(b + pos + 1, 0, size_t(l - 1))) return false;
        pos += l;
        records++;
    }
    return records == fields;
}

}  // namespace

void *zvgetnames(int datno) {
    INSTGV *g = zvWNGV;
    if (!g) return nullptr;
    uint16_t isam = g->isamerr_cod, num = g->isamfil_num;
    int32_t need = GETDODA(datno, 0, nullptr, 2 | 0x100);
    void *names = nullptr;
    if (need > 0) {
        names = zvgetmem(need);
        if (!names) {
            set_uerr(435);
        } else if (GETDODA(datno, need, names, 2 | 0x100) != need) {
            zvputmemn(&names);
        } else if (FCB *f = tstfnm(datno);
                   !f || !names_fit(static_cast<unsigned char *>(names), need, f->schmap)) {
            zvputmemn(&names);
            set_uerr(439);
        }
    } else if (g->uerr_cod == 408 || g->uerr_cod == 438 || g->uerr_cod == 401) {
        set_uerr(0);
    }
    g->isamerr_cod = isam;
    g->isamfil_num = num;
    return names;
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int PUTDODAX(int datno, const DATOBJ *doda, int n, int type) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    g->isamfil_num = 0;
    FCB *f = tstfnm(datno);
    if (!f) return report(g->uerr_cod, datno);
    if (f->kind == kKindIndex) return report(48, datno);
    if (!good_type(type)) return report(446, datno);
    if (!doda || n < 1) return report(540, datno);
    int64_t tlen = kTypeHead + int64_t(kTypeEntry) * n;
    if (tlen > kMaxBlock) return report(434, datno);
    int64_t nlen = 0;
    for (int i = 0; i < n; i++) {
        const char *s = doda[i].fsymb;
        size_t l = s ? strlen(s) : 0;
        if (l > 253) return report(153, datno);
        nlen += s ? int64_t(l) + 2 : 1;
        if (dodaflen(doda[i].ftype, doda[i].flen) < 0) return report(432, datno);
    }
    if (nlen > kMaxBlock) return report(434, datno);
    int32_t delim = GETFIL(datno, 15);
    int32_t pad = GETFIL(datno, 16);
    auto *tb = static_cast<unsigned char *>(zvgetmem(int32_t(tlen)));
    auto *nb = static_cast<unsigned char *>(zvgetmem(int32_t(nlen)));
    if (!tb || !nb) {
        zvputmem(tb);
        zvputmem(nb);
        return report(435, datno);
    }
    tb[0] = 0x02;
    tb[1] = 0x08;
    tb[2] = uint8_t(delim < 0 ? 0 : delim);
    tb[3] = uint8_t(pad < 0 ? 32 : pad);
    uint32_t words[3] = {uint32_t(tlen), uint32_t(n), uint32_t(n)};
    memcpy(tb + 4, words, sizeof words);
    unsigned char *p = tb + kTypeHead;
    unsigned char *q = nb;
    for (int i = 0; i < n; i++, p += kTypeEntry) {
        uint16_t len = uint16_t(dodaflen(doda[i].ftype, doda[i].flen));
        uint16_t t = doda[i].ftype ? doda[i].ftype : 146;
        memcpy(p, &len, 2);
        memcpy(p + 2, &t, 2);
        const char *s = doda[i].fsymb;
        if (!s) {
            *q++ = 1;
            continue;
        }
        size_t l = strlen(s);
        *q++ = uint8_t(l + 2);
        memcpy(q, s, l + 1);
        q += l + 1;
    }
    DEFBLK tblk{tb, int32_t(tlen), int32_t(tlen), 1, 1};
    DEFBLK nblk{nb, int32_t(nlen), int32_t(nlen), 2, 1};
    int rc = SETDEFBLKX(datno, &tblk, type);
    if (rc == 0) rc = SETDEFBLKX(datno, &nblk, type);
    zvputmem(tb);
    zvputmem(nb);
    if (rc) return report(rc, datno);
    set_uerr(0);
    return 0;
}

ZV_API int PUTDODA(int datno, const DATOBJ *doda, int n) { return PUTDODAX(datno, doda, n, 0); }

ZV_API int32_t GETDODAX(int datno, int32_t buflen, void *buffer, int form, int type) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    g->isamerr_cod = 0;
    g->isamfil_num = 0;
    FCB *f = tstfnm(datno);
    if (!f) {
        report(g->uerr_cod, datno);
        return 0;
    }
    if (f->kind == kKindIndex) {
        report(48, datno);
        return 0;
    }
    if (!good_type(type)) {
        report(446, datno);
        return 0;
    }
    form &= ~0x300;
    if (form < 1 || form > 4) {
        report(116, datno);
        return 0;
    }
    Block tb, nb;
    if (form != 2) {
        int rc = tb.read(datno, type, 1);
        if (!rc) rc = widen_types(&tb);
        if (rc) {
            report(rc, datno);
            return 0;
        }
    }
    if (form != 1) {
        if (int rc = nb.read(datno, type, 2)) {
            report(rc, datno);
            return 0;
        }
    }
    Fields fl;
    if (form != 2 && !parse_types(tb, &fl)) {
        report(439, datno);
        return 0;
    }
    auto *out = static_cast<unsigned char *>(buffer);
    int64_t need;
    if (form == 1) need = tb.len;
    else if (form == 2) need = nb.len;
    else if (form == 3) need = int64_t(tb.len) + nb.len;
    else need = int64_t(sizeof(DATOBJ)) * (int64_t(fl.n) + 1) + nb.len;
    if (need > 0x7FFFFFFF) {
        report(439, datno);
        return 0;
    }
    set_uerr(0);
    if (!out || buflen < need) return int32_t(need);
    if (form == 1 || form == 3) memcpy(out, tb.data, size_t(tb.len));
    if (form == 2) memcpy(out, nb.data, size_t(nb.len));
    if (form == 3) memcpy(out + tb.len, nb.data, size_t(nb.len));
    if (form != 4) return int32_t(need);

    // A DODA: check the name block against the field count before writing.
    const unsigned char *nbytes = nb.bytes();
    int32_t npos = 0;
    for (int32_t i = 0; i < fl.n; i++) {
        if (npos >= nb.len) break;
        int l = nbytes[npos];
        if (l >= 2 && (npos + l > nb.len || nbytes[npos + l - 1] != 0)) {
            report(439, datno);
            return 0;
        }
        npos += l >= 1 ? l : 1;
    }
    unsigned char *names = out + sizeof(DATOBJ) * (size_t(fl.n) + 1);
    memcpy(names, nb.data, size_t(nb.len));
    int32_t fixed = f->hdr.base.reclen;
    int32_t off = 0;
    int32_t i = 0;
    npos = 0;
    for (int32_t e = 0; e < fl.nentries && i < fl.n; e++) {
        const unsigned char *en = fl.entries + kTypeEntry * e;
        uint16_t len = host::get16(en), t = host::get16(en + 2);
        for (int r = 0; r <= en[4] && i < fl.n; r++, i++) {
            DATOBJ d{};
            if (off < fixed) off += zvadjadr(fl.align, t, off);
            d.fadr = off;
            d.ftype = t;
            d.flen = len;
            off += len;
            if (npos < nb.len) {
                int l = nbytes[npos];
                if (l >= 2) d.fsymb = reinterpret_cast<const char *>(names + npos + 1);
                npos += l >= 1 ? l : 1;
            }
            memcpy(out + sizeof(DATOBJ) * size_t(i), &d, sizeof d);
        }
    }
    // Fields the entries do not cover stay empty; the extra entry ends it.
    DATOBJ none{};
    for (; i < fl.n; i++) memcpy(out + sizeof(DATOBJ) * size_t(i), &none, sizeof none);
    DATOBJ last{};
    last.fend = 0xFFFF;
    memcpy(out + sizeof(DATOBJ) * size_t(fl.n), &last, sizeof last);
    return int32_t(need);
}

ZV_API int32_t GETDODA(int datno, int32_t buflen, void *buffer, int form) {
    return GETDODAX(datno, buflen, buffer, form, 0);
}

}  // extern "C"
