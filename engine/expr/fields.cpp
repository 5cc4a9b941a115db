// Record fields for the expression language.
//
// The record schema map is read as the file control block holds it:
//   OFFSET SIZE FIELD
//     1    1   alignment setting
//     2    1   field delimiter byte
//     3    1   pad byte
//     8    4   number of fields
//    12    4   number of entries
//    16    6n  entries: length u16, type u16, repeat count u8 at +4
// An entry stands for 1 + repeat fields, unless there are as many entries
// as fields (then each entry is one field). A map whose entries cover
// another number of fields is refused.
//
// The field-name list holds one record per field: a byte with the record
// length (1 for a field without a name), then the NUL-terminated name.
#include "engine/expr/fields.h"

#include <cstring>
#include <strings.h>

#include "engine/core/bytes.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

constexpr int32_t kHead = 16;
constexpr int32_t kEntry = 6;

const unsigned char *entry_at(const unsigned char *map, int32_t e) { return map + kHead + int64_t(kEntry) * e; }

}  // namespace

bool SchemaView::open(const unsigned char *schema) {
    map = schema;
    count = 0;
    entries_ = 0;
    if (!schema) return true;
    int32_t nf = int32_t(host::get32(schema + 8));
    int32_t ne = int32_t(host::get32(schema + 12));
    if (nf < 0 || ne < 0) return false;
    if (ne != nf) {
        // Each entry covers at least one field: past nf + 1 entries the sum
        // is too large anyway.
        int64_t covered = 0;
        for (int32_t e = 0; e < ne && covered <= nf; e++) covered += 1 + entry_at(schema, e)[4];
        if (covered != nf) return false;
    }
    count = nf;
    entries_ = ne;
    return true;
}

void SchemaView::field(int32_t i, uint16_t *type, uint16_t *len) const {
    const unsigned char *e = nullptr;
    if (entries_ == count) {
        e = entry_at(map, i);
    } else {
        int32_t first = 0;
        for (int32_t k = 0; k < entries_; k++) {
            const unsigned char *x = entry_at(map, k);
            int32_t n = 1 + x[4];
            if (i < first + n) {
                e = x;
                break;
            }
            first += n;
        }
    }
    *len = e ? host::get16(e) : 0;
    *type = e ? host::get16(e + 2) : 0;
}

int64_t names_size(const unsigned char *names, int32_t count) {
    int64_t pos = 0;
    for (int32_t i = 0; i < count; i++) {
        const unsigned char *rec = names + pos;
        int l = rec[0];
        if (l < 1) return -1;
        if (l >= 2 && !memchr(rec + 1, 0, size_t(l - 1))) return -1;
        pos += l;
    }
    return pos;
}

PTFIELDMAP *makeDoda(const unsigned char *schema, const void *names) {
    SchemaView sv;
    if (!sv.open(schema)) return nullptr;
    auto *nb = static_cast<const unsigned char *>(names);
    int64_t nlen = nb ? names_size(nb, sv.count) : 0;
    if (nlen < 0) return nullptr;
    int64_t head = (int64_t(sv.count) + 1) * int64_t(sizeof(PTFIELDMAP));
    if (head + nlen > 0x7FFFFFF0) return nullptr;
    auto *map = static_cast<PTFIELDMAP *>(zvgetmem(int32_t(head + nlen)));
    if (!map) return nullptr;
    unsigned char *copy = reinterpret_cast<unsigned char *>(map) + head;
    if (nlen > 0) memcpy(copy, nb, size_t(nlen));

    // Fill the entries in one pass over the schema entries.
    int32_t i = 0;
    int32_t ne = schema ? int32_t(host::get32(schema + 12)) : 0;
    int64_t npos = 0;
    for (int32_t e = 0; schema && e < ne && i < sv.count; e++) {
        const unsigned char *x = entry_at(schema, e);
        int reps = ne == sv.count ? 1 : 1 + x[4];
        for (int r = 0; r < reps && i < sv.count; r++, i++) {
            map[i].len = host::get16(x);
            map[i].type = host::get16(x + 2);
            if (nlen > 0) {
                int l = copy[npos];
                if (l >= 2) map[i].name = reinterpret_cast<const char *>(copy + npos + 1);
                npos += l;
            }
        }
    }
    return map;
}

int field_expr_type(int type) {
    switch (type) {
    case ZV_BOOL: case ZV_CHAR: case ZV_CHARU: case ZV_INT2: case ZV_INT2U: case ZV_INT4:
    case ZV_INT4U: case ZV_DATE: case ZV_TIME: case ZV_TIME_MS:
        return PT_INTEGER;
    case ZV_MONEY: case ZV_SFLOAT: case ZV_DFLOAT: case ZV_NUMBER: case ZV_CURRENCY:
    case ZV_BIGINT: case ZV_UBIGINT:
        return PT_NUMBER;
    case ZV_TIMES: case ZV_TIMES_MS:
        return PT_STAMP;
    case ZV_ARRAY: case ZV_FSTRING: case ZV_STRING: case ZV_FPSTRING: case ZV_PSTRING:
    case ZV_F2STRING: case ZV_2STRING: case ZV_F4STRING: case ZV_4STRING:
        return PT_TEXT;
    default:
        return 0;
    }
}

int32_t ptFieldName(const unsigned char *schema, const void *names, const char *name, int32_t len,
                    int *exprtype) {
    SchemaView sv;
    if (!names || !sv.open(schema)) return -1;
    auto *nb = static_cast<const unsigned char *>(names);
    if (names_size(nb, sv.count) < 0) return -1;
    int64_t pos = 0;
    for (int32_t i = 0; i < sv.count; i++) {
        const unsigned char *rec = nb + pos;
        pos += rec[0];
        if (rec[0] < 2) continue;
        const char *fname = reinterpret_cast<const char *>(rec + 1);
        if (strlen(fname) != size_t(len) || strncasecmp(fname, name, size_t(len)) != 0) continue;
        uint16_t type, flen;
        sv.field(i, &type, &flen);
        int kind = field_expr_type(type);
        if (!kind) return -1;
        *exprtype = kind;
        return i;
    }
    return -1;
}

}  // namespace zv
