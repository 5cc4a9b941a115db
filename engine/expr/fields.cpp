// Record fields for the expression language.
//
// The record schema map is read as the file control block holds it (its
// layout in engine/expr/schemamap.h). An entry stands for 1 + repeat
// fields, unless there are as many entries as fields (then each entry is
// one field). A map whose entries cover another number of fields is
// refused.
//
// The field-name list holds one record per field: a byte with the record
// length (1 for a field without a name), then the NUL-terminated name.
//
// Locating the fields of a record image walks the schema once per record,
// the way key formation locates a field: inside the fixed part each field
// is aligned and takes its schema length; beyond it a ZV_STRING runs to
// and past the delimiter byte, a length-prefixed type (ZV_JSON included)
// takes its prefix and the bytes it counts, the wide string type 185 runs
// past its zero unit, and every other type takes its schema length. The
// walk works on offsets and compares them with the bytes left, so a
// damaged length never points outside the image; a field that does not
// end inside the image, and every field after it, is not present.
//
// The padding rule of the fixed part (zvadjadr, exported) lives here too:
// the file layer, the ISAM layer and the record-level API lay out record
// schemas by the same rule.
#include "engine/expr/fields.h"

#include <cstring>
#include <strings.h>

#include "engine/core/bytes.h"
#include "engine/expr/eval.h"
#include "engine/expr/schemamap.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

const unsigned char *entry_at(const unsigned char *map, int32_t e) {
    return map + kSchemaHead + int64_t(kSchemaEntry) * e;
}

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

PTFIELDMAP *makeDoda(const unsigned char *schema, const void *names, const unsigned char **schema_copy) {
    SchemaView sv;
    if (!sv.open(schema)) return nullptr;
    auto *nb = static_cast<const unsigned char *>(names);
    int64_t nlen = nb ? names_size(nb, sv.count) : 0;
    if (nlen < 0) return nullptr;
    int64_t head = (int64_t(sv.count) + 1) * int64_t(sizeof(PTFIELDMAP));
    int64_t slen = schema && schema_copy ? kSchemaHead + int64_t(kSchemaEntry) * int32_t(host::get32(schema + 12)) : 0;
    const int64_t sat = (nlen + 7) & ~int64_t(7);  // the schema copy, 8-byte aligned
    if (head + sat + slen > 0x7FFFFFF0) return nullptr;
    auto *map = static_cast<PTFIELDMAP *>(zvgetmem(int32_t(head + (slen ? sat + slen : nlen))));
    if (!map) return nullptr;
    unsigned char *copy = reinterpret_cast<unsigned char *>(map) + head;
    if (nlen > 0) memcpy(copy, nb, size_t(nlen));
    if (schema_copy) {
        *schema_copy = slen > 0 ? copy + sat : nullptr;
        if (slen > 0) memcpy(copy + sat, schema, size_t(slen));
    }

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

// ---- Fields of one record image -------------------------------------------------

namespace {

// Bytes a field of the variable part takes from p, with `left` bytes of
// the image left; more than `left` when it claims more than there is.
int64_t variable_step(const PTFIELDMAP &f, const unsigned char *p, int64_t left, int delim) {
    if (f.type == ZV_STRING) {
        const void *d = memchr(p, delim, size_t(left));
        return d ? static_cast<const unsigned char *>(d) - p + 1 : left;
    }
    if (f.type == kWide185) {
        for (int64_t i = 0; i + 1 < left; i += 2)
            if (p[i] == 0 && p[i + 1] == 0) return i + 2;
        return left + 1;
    }
    if (int w = schema_prefix_width(f.type)) return left < w ? w : int64_t(w) + schema_prefix_value(p, w);
    return f.len;
}

// Natural size of the fixed-size types read as numbers; 0 for the others.
int32_t value_size(int type) {
    switch (type) {
    case ZV_BOOL: case ZV_CHAR: case ZV_CHARU: return 1;
    case ZV_INT2: case ZV_INT2U: return 2;
    case ZV_INT4: case ZV_INT4U: case ZV_MONEY: case ZV_DATE: case ZV_TIME: case ZV_SFLOAT: case ZV_TIME_MS: return 4;
    case ZV_DFLOAT: case ZV_TIMES: case ZV_CURRENCY: case ZV_BIGINT: case ZV_UBIGINT: case ZV_TIMES_MS: return 8;
    case ZV_NUMBER: return int32_t(sizeof(tagZVNUMBER));
    default: return 0;
    }
}

template <class T>
T read_as(const unsigned char *p) {
    T v;
    memcpy(&v, p, sizeof v);
    return v;
}

int push_number(const tagZVNUMBER &n) { return runPushNumber(&n); }

int push_float(double d) {
    tagZVNUMBER n;
    if (zvdbFloatToNumber(d, &n)) zvdbNumberZero(&n);
    return push_number(n);
}

// Pushes a number-like field of a type with a natural size.
int push_scalar(int type, const unsigned char *p) {
    tagZVNUMBER n;
    switch (type) {
    case ZV_BOOL: return runPushInteger(p[0] != 0);
    case ZV_CHAR: return runPushInteger(int8_t(p[0]));
    case ZV_CHARU: return runPushInteger(p[0]);
    case ZV_INT2: return runPushInteger(read_as<int16_t>(p));
    case ZV_INT2U: return runPushInteger(read_as<uint16_t>(p));
    case ZV_INT4: return runPushInteger(read_as<int32_t>(p));
    case ZV_INT4U: return runPushInteger(read_as<uint32_t>(p));
    case ZV_BIGINT: return runPushInteger(read_as<int64_t>(p));
    case ZV_MONEY:
        zvdbMoneyToNumber(read_as<int32_t>(p), &n);
        return push_number(n);
    case ZV_CURRENCY:
        zvdbCurrencyToNumber(read_as<int64_t>(p), &n);
        return push_number(n);
    case ZV_UBIGINT:
        zvdbUnsignedBigIntToNumber(read_as<uint64_t>(p), &n);
        return push_number(n);
    case ZV_SFLOAT: return push_float(read_as<float>(p));
    case ZV_DFLOAT: return push_float(read_as<double>(p));
    case ZV_NUMBER: return push_number(read_as<tagZVNUMBER>(p));
    case ZV_DATE: return runPushDate(read_as<uint32_t>(p));
    case ZV_TIME: return runPushTime(read_as<uint32_t>(p));
    case ZV_TIME_MS: return runPushTimeMsec(read_as<uint32_t>(p));
    default: return runPushStamp(read_as<double>(p));  // ZV_TIMES, ZV_TIMES_MS
    }
}

}  // namespace

int fixDodaOffsets(PTRECINFO *ri) {
    if (!ri) return kExprNull;
    ri->rowid = nullptr;
    ri->present = 0;
    const unsigned char *schema = ri->schema;
    const int32_t count = schema ? int32_t(host::get32(schema + 8)) : 0;
    PTFIELDMAP *map = ri->fields;
    if (!map || count <= 0) return 0;
    const unsigned char *rec = ri->record;
    const int64_t tot = rec && ri->totlen > 0 ? ri->totlen : 0;
    const int64_t fix = ri->fixlen > 0 ? ri->fixlen : 0;
    const int align = schema[1];
    const int delim = schema[2];
    int64_t off = 0;
    int32_t i = 0;
    for (; i < count; i++) {
        PTFIELDMAP &f = map[i];
        if (off < fix) off += zvadjadr(align, f.type, int32_t(off));
        if (off >= tot) break;
        int64_t step = off < fix ? f.len : variable_step(f, rec + off, tot - off, delim);
        if (step > tot - off) break;
        f.addr = const_cast<unsigned char *>(rec + off);
        // The only hidden field of this type is "$ROWID$".
        if (f.type == ZV_BIGINT && ri->visible && ri->visible[i] < 0) ri->rowid = f.addr;
        off += step;
    }
    ri->present = uint32_t(i);
    for (; i < count; i++) map[i].addr = nullptr;
    return 0;
}

int fieldIsNULL(const PTRECINFO *ri, uint32_t fieldno) {
    const PTFIELDMAP *nf = ri ? ri->nullfld : nullptr;
    if (!nf || !nf->addr || fieldno >= ri->present || !ri->visible) return 0;
    const int32_t n = ri->visible[fieldno];
    if (n < 0) return 0;
    // The flag field lies inside the image: fixDodaOffsets only sets the
    // address of a field that ends there.
    if (n / 8 >= nf->len) return 0;
    return (nf->addr[n / 8] >> (n % 8)) & 1;
}

int runFIELD(PTNODE *node, PTRECINFO *ri) {
    const uint32_t i = node->u.op.pay.field;
    if (!ri || i >= ri->present) return kExprField;
    const PTFIELDMAP &f = ri->fields[i];
    if (!f.addr || fieldIsNULL(ri, i)) return runPushNULL();
    const unsigned char *p = f.addr;
    const int64_t avail = ri->record + ri->totlen - p;
    if (int32_t size = value_size(f.type)) {
        if (avail < size) return kExprRange;
        return push_scalar(f.type, p);
    }
    const int delim = ri->schema[2];
    switch (f.type) {
    case ZV_ARRAY:
        if (f.len > avail) return kExprRange;
        return runPushText(p, f.len, 1, 1);
    case ZV_FSTRING: {
        int64_t scan = f.len < avail ? f.len : avail;
        const void *d = memchr(p, delim, size_t(scan));
        if (d) return runPushText(p, int32_t(static_cast<const unsigned char *>(d) - p), 1, 0);
        if (f.len > avail) return kExprRange;
        return runPushText(p, f.len, 1, 0);
    }
    case ZV_STRING: {
        const void *d = memchr(p, delim, size_t(avail));
        if (!d) return kExprRange;
        return runPushText(p, int32_t(static_cast<const unsigned char *>(d) - p), 1, 0);
    }
    case ZV_FPSTRING: case ZV_PSTRING: case ZV_F2STRING: case ZV_2STRING: case ZV_F4STRING: case ZV_4STRING: {
        const int w = schema_prefix_width(f.type);
        if (avail < w) return kExprRange;
        const uint32_t n = schema_prefix_value(p, w);
        if (int64_t(n) > avail - w) return kExprRange;
        return runPushText(p + w, int32_t(n), 1, 0);
    }
    default:  // ZV_EFLOAT, ZV_JSON and other types have no reading
        runPushInteger(0);
        return kExprField;
    }
}

}  // namespace zv

ZV_API int32_t zvadjadr(int align, int type, int32_t offset) {
    uint32_t m;
    if (type >= 0 && type <= 256) {
        int k = type & 7;
        if (k == 0 || k == 2) return 0;
        m = k == 4 ? (uint32_t(align - 1) & 7u) : (uint32_t(align - 1) & uint32_t(k));
    } else if (type >= 257 && type <= 259) {
        static constexpr uint32_t kUnit[3] = {8, 4, 1};
        m = uint32_t(align - 1) & (kUnit[type - 257] - 1);
    } else {
        return 0;
    }
    if (m == 0) return 0;
    uint32_t c = uint32_t(offset) & 15u;
    return int32_t(((m + c) & ~m) - c);
}
