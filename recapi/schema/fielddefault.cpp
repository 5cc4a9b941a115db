// Default values of fields: what a field holds when a record leaves it
// unset, and its conversion into the bytes the field takes in a record
// buffer.
//
// Invariants:
//  1. defvalue holds deflength bytes and a zero byte after them, or is
//     NULL with deflength 0; only kind 1 (literal) keeps bytes.
//  2. The table's defaultedfields counts its fields whose kind is not 0;
//     it never drops below 0.
// A literal's text is its stored bytes without a last zero byte
// (zv::literal_default).
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "recapi/base/session.h"
#include "recapi/schema/field.h"
#include "recapi/schema/fieldtype.h"
#include "recapi/schema/table.h"

namespace {

using zv::field_of;
using zv::keep_code;

// Room for the current date and time printed with the field's text forms.
constexpr int32_t kNowText = 64;

// The field's default as text: pointer, length and a buffer for the texts
// made on the spot.
struct DefaultText {
    const char *text = "";
    size_t length = 0;
    char now[kNowText] = {};
};

void count_default(tagZVDBFIELD *f, int delta) {
    tagZVDBTABLE *t = f->table;
    if (!t) return;
    t->defaultedfields += delta;
    if (t->defaultedfields < 0) t->defaultedfields = 0;
}

// The text of the default by its kind: 0, 4054 kind 0 or unknown, the
// clock's codes; *none for kind 3 (NULL).
ZVDBRET default_text(tagZVDBFIELD *f, DefaultText &out, bool *none) {
    *none = false;
    switch (f->defkind) {
    case 1:
        zv::literal_default(f, &out.text, &out.length);
        return 0;
    case 2:
        out.text = zvdbGetUserLogonName(f);
        if (!out.text) out.text = "";
        out.length = std::strlen(out.text);
        return 0;
    case 3:
        *none = true;
        return 0;
    case 4:
    case 5:
    case 6: {
        int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
        ZVDATETIME now = 0;
        ZVDBRET rc = _zvdbSysTime(&y, &mo, &d, &h, &mi, &s);
        if (!rc) rc = zvdbDateTimePack(&now, y, mo, d, h, mi, s);
        if (!rc) rc = zvdbDateTimeToString(now, f->defdatetype, f->deftimetype, out.now, kNowText);
        if (rc) return rc;
        out.text = out.now;
        out.length = std::strlen(out.now);
        return 0;
    }
    default:
        return ZVDB_NOT_SUPPORTED;
    }
}

// Whole text equal to word, ignoring ASCII letter case.
bool text_is(const DefaultText &t, const char *word) {
    const size_t n = std::strlen(word);
    if (t.length != n) return false;
    for (size_t i = 0; i < n; i++) {
        if (zv::upper_ascii(static_cast<unsigned char>(t.text[i])) != static_cast<unsigned char>(word[i])) return false;
    }
    return true;
}

// Copies the low `width` bytes (1, 2 or 4; 0 copies nothing) of an integer
// in host order.
void put_integer(unsigned char *out, long long v, int width) {
    switch (width) {
    case 1: {
        auto b = static_cast<uint8_t>(v);
        std::memcpy(out, &b, 1);
        break;
    }
    case 2: {
        auto w = static_cast<uint16_t>(v);
        std::memcpy(out, &w, 2);
        break;
    }
    case 4: {
        auto w = static_cast<uint32_t>(v);
        std::memcpy(out, &w, 4);
        break;
    }
    default:
        break;
    }
}

// The value of a fixed-width type into out (at most 20 bytes): its width,
// or a negative code.
int32_t convert_value(const tagZVDBFIELD *f, const DefaultText &t, unsigned char *out) {
    const char *text = t.text;
    ZVDBRET rc = 0;
    switch (f->type) {
    case ZV_BOOL:
        if (text_is(t, "TRUE") || text_is(t, "YES") || text_is(t, "1")) out[0] = 1;
        else if (text_is(t, "FALSE") || text_is(t, "NO") || text_is(t, "0")) out[0] = 0;
        else return -ZVDB_NO_CONVERSION;
        return 1;
    case ZV_CHAR:
    case ZV_CHARU:
    case ZV_INT2:
    case ZV_INT2U:
    case ZV_INT4:
    case ZV_INT4U: {
        const int width = zv::field_type_info(f->type).forced;
        put_integer(out, std::strtoll(text, nullptr, 10), width);
        return width;
    }
    case ZV_MONEY: {
        ZVMONEY m = 0;
        rc = zvdbStringToMoney(text, &m);
        std::memcpy(out, &m, 4);
        return rc ? -rc : 4;
    }
    case ZV_DATE:
    case ZV_TIME:
    case ZV_TIME_MS: {
        uint32_t v = 0;
        if (f->type == ZV_DATE) rc = zvdbStringToDate(text, f->defdatetype, &v);
        else if (f->type == ZV_TIME) rc = zvdbStringToTime(text, f->deftimetype, &v);
        else rc = zvdbStringToTimeMsec(text, f->deftimetype, &v);
        std::memcpy(out, &v, 4);
        return rc ? -rc : 4;
    }
    case ZV_SFLOAT: {
        errno = 0;
        float v = std::strtof(text, nullptr);
        if (errno == ERANGE && std::isinf(v)) return -ZVDB_OVERFLOW;
        std::memcpy(out, &v, 4);
        return 4;
    }
    case ZV_DFLOAT: {
        errno = 0;
        double v = std::strtod(text, nullptr);
        if (errno == ERANGE && std::isinf(v)) return -ZVDB_OVERFLOW;
        std::memcpy(out, &v, 8);
        return 8;
    }
    case ZV_NUMBER: {
        tagZVNUMBER n{};
        rc = zvdbStringToNumber(text, &n);
        std::memcpy(out, &n, sizeof n);
        return rc ? -rc : int32_t(sizeof n);
    }
    case ZV_CURRENCY: {
        ZVCURRENCY c = 0;
        rc = zvdbStringToCurrency(text, &c);
        std::memcpy(out, &c, 8);
        return rc ? -rc : 8;
    }
    case ZV_BIGINT: {
        ZVBIGINT v = 0;
        rc = zvdbStringToBigInt(text, &v);
        std::memcpy(out, &v, 8);
        return rc ? -rc : 8;
    }
    case ZV_UBIGINT: {
        ZVUBIGINT v = 0;
        rc = zvdbStringToUnsignedBigInt(text, &v);
        std::memcpy(out, &v, 8);
        return rc ? -rc : 8;
    }
    case ZV_TIMES:
    case ZV_TIMES_MS: {
        ZVDATETIME v = 0;
        rc = zvdbStringToDateTime(text, &v, f->defdatetype, f->deftimetype);
        std::memcpy(out, &v, 8);
        return rc ? -rc : 8;
    }
    default:
        return -ZVDB_NOT_SUPPORTED;
    }
}

// Whether the type is one of the fixed-length text types, whose result may
// not exceed the field.
bool fixed_text(int32_t type) {
    return type == ZV_ARRAY || type == ZV_FSTRING || type == ZV_FPSTRING || type == ZV_F2STRING || type == ZV_F4STRING;
}

// Converts a text type: the byte count it needs and the layout (prefix
// width, terminator) into *prefix, *terminator; a negative code when the
// type is no text type or the text is too long.
int64_t text_layout(const tagZVDBFIELD *f, const DefaultText &t, int *prefix, bool *terminator) {
    *prefix = 0;
    *terminator = false;
    switch (f->type) {
    case ZV_FSTRING: break;
    case ZV_ARRAY:
    case ZV_STRING: *terminator = true; break;
    case ZV_FPSTRING:
    case ZV_PSTRING:
    case ZV_F2STRING:
    case ZV_2STRING:
    case ZV_F4STRING:
    case ZV_4STRING:
    case ZV_JSON:
        *prefix = zv::field_type_info(f->type).prefix;
        if (t.length >= size_t(256) * size_t(*prefix)) return -ZVDB_OVERFLOW;
        break;
    default:
        return -ZVDB_NOT_SUPPORTED;
    }
    const int64_t need = int64_t(t.length) + *prefix + (*terminator ? 1 : 0);
    if (fixed_text(f->type) && need > f->length) return -ZVDB_OVERFLOW;
    return need;
}

}  // namespace

namespace zv {

void literal_default(const tagZVDBFIELD *f, const char **text, size_t *length) {
    *text = f->defvalue ? reinterpret_cast<const char *>(f->defvalue) : "";
    *length = f->defvalue ? size_t(f->deflength) : 0;
    if (*length > 0 && (*text)[*length - 1] == 0) --*length;
}

}  // namespace zv

extern "C" {

ZV_API ZVDBRET zvdbSetFieldDefaultValue(ZVHANDLE field, const void *bytes, int32_t length) {
    tagZVDBFIELD *f = field_of(field);
    if (!f) return keep_code(field, ZVDB_NO_FIELD);
    if (!f->table) return keep_code(field, ZVDB_NO_TABLE);
    if (!bytes) return keep_code(field, ZVDB_NULL_ARGUMENT);
    if (length < 1) return keep_code(field, ZVDB_BAD_ARGUMENT);
    auto *copy = static_cast<unsigned char *>(_zvdb_alloc(1, length + 1));
    if (!copy) return keep_code(field, ZVDB_NO_MEMORY);
    std::memcpy(copy, bytes, size_t(length));
    _zvdb_free(f->defvalue);
    f->defvalue = copy;
    f->deflength = length;
    if (f->defkind == 0) count_default(f, 1);
    f->defkind = 1;
    return 0;
}

ZV_API const void *zvdbGetFieldDefaultValue(ZVHANDLE field, int32_t *length) {
    tagZVDBFIELD *f = field_of(field);
    if (!f) return keep_code(field, ZVDB_NO_FIELD), nullptr;
    if (f->defkind == 0) return nullptr;
    if (length) *length = f->deflength;
    return f->defvalue;
}

ZV_API ZVDBRET zvdbSetFieldDefaultValueType(ZVHANDLE field, int32_t kind) {
    tagZVDBFIELD *f = field_of(field);
    if (!f) return keep_code(field, ZVDB_NO_FIELD);
    if (!f->table) return keep_code(field, ZVDB_NO_TABLE);
    if (kind == 0) return keep_code(field, ZVDB_BAD_ARGUMENT);
    if (f->defkind == 0) count_default(f, 1);
    if (kind != 1) {
        f->defvalue = static_cast<unsigned char *>(_zvdb_free(f->defvalue));
        f->deflength = 0;
    }
    f->defkind = kind;
    return 0;
}

ZV_API int32_t zvdbGetFieldDefaultValueType(ZVHANDLE field) {
    tagZVDBFIELD *f = field_of(field);
    if (!f) return keep_code(field, ZVDB_NO_FIELD), 0;
    return f->defkind;
}

ZV_API ZVDBRET zvdbSetFieldDefaultDateTimeType(ZVHANDLE field, ZVDATE_TYPE datetype, ZVTIME_TYPE timetype) {
    tagZVDBFIELD *f = field_of(field);
    if (!f) return keep_code(field, ZVDB_NO_FIELD);
    f->defdatetype = datetype;
    f->deftimetype = timetype;
    return 0;
}

ZV_API ZVDATE_TYPE zvdbGetFieldDefaultDateType(ZVHANDLE field) {
    tagZVDBFIELD *f = field_of(field);
    return f ? f->defdatetype : 1;
}

ZV_API ZVTIME_TYPE zvdbGetFieldDefaultTimeType(ZVHANDLE field) {
    tagZVDBFIELD *f = field_of(field);
    return f ? f->deftimetype : 3;
}

ZV_API int zvdbIsFieldDefaultValueSet(ZVHANDLE field) {
    tagZVDBFIELD *f = field_of(field);
    return f && f->defkind != 0 ? 1 : 0;
}

ZV_API ZVDBRET zvdbClearFieldDefaultValue(ZVHANDLE field) {
    tagZVDBFIELD *f = field_of(field);
    if (!f) return keep_code(field, ZVDB_NO_FIELD);
    if (!f->table) return keep_code(field, ZVDB_NO_TABLE);
    if (f->defkind != 0) count_default(f, -1);
    f->defvalue = static_cast<unsigned char *>(_zvdb_free(f->defvalue));
    f->deflength = 0;
    f->defkind = 0;
    f->defdatetype = 1;
    f->deftimetype = 3;
    return 0;
}

ZV_API ZVDBRET zvdbClearAllFieldDefaultValue(ZVHANDLE table) {
    tagZVDBTABLE *t = zv::table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    for (int32_t i = 0; i < _zvdbListCount(t->fields); i++) {
        if (ZVDBRET rc = zvdbClearFieldDefaultValue(t->fields->items[i])) return rc;
    }
    return 0;
}

ZV_API ZVDBRET zvdbGetFieldDefaultValueAsBinary(ZVHANDLE field, void *buffer, int32_t *size) {
    tagZVDBFIELD *f = field_of(field);
    if (!f) return keep_code(field, ZVDB_NO_FIELD);
    if (!size || (!buffer && *size != 0)) return keep_code(field, ZVDB_BAD_KIND);
    DefaultText text;
    bool none = false;
    if (ZVDBRET rc = default_text(f, text, &none)) return keep_code(field, rc);
    if (none) {
        *size = 0;
        return 0;
    }
    unsigned char value[sizeof(tagZVNUMBER)] = {};
    int32_t n = convert_value(f, text, value);
    if (n == -ZVDB_NOT_SUPPORTED) {
        int prefix = 0;
        bool terminator = false;
        int64_t need = text_layout(f, text, &prefix, &terminator);
        if (need < 0) return keep_code(field, ZVDBRET(-need));
        if (need > *size) {
            *size = int32_t(need);
            return keep_code(field, ZVDB_BUFFER_SMALL);
        }
        auto *out = static_cast<unsigned char *>(buffer);
        put_integer(out, int64_t(text.length), prefix);
        std::memcpy(out + prefix, text.text, text.length);
        if (terminator) out[prefix + text.length] = 0;
        *size = int32_t(need);
        return 0;
    }
    if (n < 0) return keep_code(field, -n);
    if (n > *size) {
        *size = n;
        return keep_code(field, ZVDB_BUFFER_SMALL);
    }
    std::memcpy(buffer, value, size_t(n));
    *size = n;
    return 0;
}

}  // extern "C"
