// Typed field reads: field n of a record delivered as a C type, converted
// from the field's type.
//
// A field's type falls into one source class (the rows below); each reader
// is a column. The stored value is read through the primitive of its
// storage family (slotprim.h), then the cell's operation converts it. The
// two matrices are data: changing a cell changes one conversion.
//
// Unsigned sources (ZV_CHARU, ZV_INT2U, ZV_INT4U, ZV_DATE, ZV_TIME,
// ZV_TIME_MS) reach the 64-bit routines zero-extended, so 3000000000 stays
// 3000000000 on the way to a number or currency and is out of range as
// money. Text is parsed with range checks (strtol, strtoul, strtod), so an
// out-of-range text gives 4038.
#include <cstdio>
#include <cstring>

#include "recapi/base/session.h"
#include "recapi/base/utility.h"
#include "recapi/records/fieldconv.h"
#include "recapi/records/record.h"
#include "recapi/records/slotprim.h"
#include "recapi/schema/field.h"
#include "recapi/schema/fieldtype.h"
#include "recapi/values/valtext.h"

using namespace zv;

namespace {

// Source classes: the rows of both matrices.
enum Src : uint8_t {
    kBool,      // ZV_BOOL
    kSmallS,    // ZV_CHAR, ZV_INT2
    kInt4,      // ZV_INT4
    kMoney,     // ZV_MONEY
    kSmallU,    // ZV_CHARU, ZV_INT2U
    kInt4U,     // ZV_INT4U
    kDate,      // ZV_DATE
    kTime,      // ZV_TIME
    kFloat,     // ZV_SFLOAT, ZV_DFLOAT, ZV_EFLOAT (the float reader refuses the last)
    kStamp,     // ZV_TIMES, ZV_TIMES_MS
    kNumber,    // ZV_NUMBER
    kText,      // ZV_ARRAY and the string types except ZV_FPSTRING
    kCurrency,  // ZV_CURRENCY
    kBigInt,    // 8-byte signed
    kUBigInt,   // 8-byte unsigned
    kTimeMs,    // ZV_TIME_MS
    kJson,      // ZV_JSON
    kOther,     // ZV_FPSTRING and every other code
    kSrcCount
};

Src source_class(int32_t type) {
    switch (type) {
    case ZV_BOOL: return kBool;
    case ZV_CHAR: case ZV_INT2: return kSmallS;
    case ZV_INT4: return kInt4;
    case ZV_MONEY: return kMoney;
    case ZV_CHARU: case ZV_INT2U: return kSmallU;
    case ZV_INT4U: return kInt4U;
    case ZV_DATE: return kDate;
    case ZV_TIME: return kTime;
    case ZV_SFLOAT: case ZV_DFLOAT: case ZV_EFLOAT: return kFloat;
    case ZV_TIMES: case ZV_TIMES_MS: return kStamp;
    case ZV_NUMBER: return kNumber;
    case ZV_ARRAY: case ZV_FSTRING: case ZV_STRING: case ZV_PSTRING: case ZV_F2STRING: case ZV_2STRING:
    case ZV_F4STRING: case ZV_4STRING:
        return kText;
    case ZV_CURRENCY: return kCurrency;
    case ZV_BIGINT: return kBigInt;
    case ZV_UBIGINT: return kUBigInt;
    case ZV_TIME_MS: return kTimeMs;
    case ZV_JSON: return kJson;
    default: return kOther;
    }
}

// ---- 32-bit readers: Bool, Signed, Unsigned, Date, Time, TimeMsec -----------

enum Op32 : uint8_t {
    E19, E42,          // 4019, 4042
    NZ, NZF, NZN, NZT, // != 0 of the integer, of the double, of the number; first text byte
    RAW,               // the stored integer
    MUL1000, DIV1000,  // seconds to and from milliseconds
    FTRUNC, FLOW,      // double truncated and clamped to 32 bits; to 64 bits, low 32 kept
    DTDATE, DTTIME, DTTIMEMS,
    NUMLONG, CURLONG, BIGLONG, UBIGLONG,
    TXTS, TXTU, TXTDATE, TXTTIME, TXTTIMEMS,
};

enum Col32 : uint8_t { cBool, cSigned, cUnsigned, cDate, cTime, cTimeMsec };

// clang-format off
constexpr Op32 kMatrix32[kSrcCount][6] = {
    //             Bool  Signed   Unsigned  Date     Time     TimeMsec
    /* Bool     */ {NZ,  RAW,     RAW,      E42,     E42,     E42},
    /* SmallS   */ {NZ,  RAW,     RAW,      E42,     E42,     E42},
    /* Int4     */ {NZ,  RAW,     RAW,      RAW,     RAW,     RAW},
    /* Money    */ {NZ,  RAW,     RAW,      RAW,     RAW,     RAW},
    /* SmallU   */ {NZ,  RAW,     RAW,      E42,     E42,     E42},
    /* Int4U    */ {NZ,  RAW,     RAW,      RAW,     RAW,     RAW},
    /* Date     */ {NZ,  RAW,     RAW,      RAW,     RAW,     RAW},
    /* Time     */ {NZ,  RAW,     RAW,      RAW,     RAW,     MUL1000},
    /* Float    */ {NZF, FTRUNC,  FLOW,     FLOW,    FLOW,    FLOW},
    /* Stamp    */ {NZF, FTRUNC,  FLOW,     DTDATE,  DTTIME,  DTTIMEMS},
    /* Number   */ {NZN, NUMLONG, NUMLONG,  NUMLONG, NUMLONG, NUMLONG},
    /* Text     */ {NZT, TXTS,    TXTU,     TXTDATE, TXTTIME, TXTTIMEMS},
    /* Currency */ {NZ,  CURLONG, CURLONG,  CURLONG, CURLONG, CURLONG},
    /* BigInt   */ {NZ,  BIGLONG, BIGLONG,  BIGLONG, BIGLONG, BIGLONG},
    /* UBigInt  */ {NZ,  UBIGLONG, UBIGLONG, UBIGLONG, UBIGLONG, UBIGLONG},
    /* TimeMs   */ {NZ,  RAW,     RAW,      RAW,     DIV1000, RAW},
    /* Json     */ {E19, E19,     E19,      E19,     E19,     E19},
    /* Other    */ {E19, E19,     E19,      E19,     E19,     E19},
};
// clang-format on

// ---- Wide readers: Money, Float, DateTime, Bigint, Currency, Number ----------

enum OpW : uint8_t {
    W19, W42, W59,  // 4019, 4042, 4059
    FS, FU, FM,     // from a signed, unsigned (zero-extended) or money value
    FF, FN, FT,     // from a double, a number, a text
    FC, FB, FUB,    // from a currency, a 64-bit signed, a 64-bit unsigned value
    SETD, SETT, SETTMS,  // the date, time or millisecond time part of *out replaced
};

enum ColW : uint8_t { cMoney, cFloat, cDateTime, cBigint, cCurrency, cNumber };

// clang-format off
constexpr OpW kMatrixW[kSrcCount][6] = {
    //             Money Float DateTime Bigint Currency Number
    /* Bool     */ {FS,  FS,   W42,     FS,    FS,      FS},
    /* SmallS   */ {FS,  FS,   W42,     FS,    FS,      FS},
    /* Int4     */ {FS,  FS,   W42,     FS,    FS,      FS},
    /* Money    */ {FM,  FM,   W42,     FM,    FM,      FM},
    /* SmallU   */ {FU,  FU,   W42,     FU,    FU,      FU},
    /* Int4U    */ {FU,  FU,   W42,     FU,    FU,      FU},
    /* Date     */ {FU,  FU,   SETD,    FU,    FU,      FU},
    /* Time     */ {FU,  FU,   SETT,    FU,    FU,      FU},
    /* Float    */ {FF,  FF,   FF,      FF,    FF,      FF},
    /* Stamp    */ {FF,  FF,   FF,      FF,    FF,      FF},
    /* Number   */ {FN,  FN,   FN,      FN,    FN,      FN},
    /* Text     */ {FT,  FT,   FT,      FT,    FT,      FT},
    /* Currency */ {FC,  FC,   FC,      FC,    FC,      FC},
    /* BigInt   */ {FB,  FB,   FB,      FB,    FB,      FB},
    /* UBigInt  */ {FUB, FUB,  FUB,     FUB,   FUB,     FUB},
    /* TimeMs   */ {FU,  FU,   SETTMS,  FU,    FU,      FU},
    /* Json     */ {W19, W19,  W19,     W59,   W19,     W19},
    /* Other    */ {W19, W19,  W19,     W19,   W19,     W19},
};
// clang-format on

// The stored value of a source class, read through its family's primitive.
struct Raw {
    int64_t i = 0;   // signed value (unsigned ones zero-extended)
    uint64_t u = 0;  // the same bits as unsigned
    double d = 0;
    tagZVNUMBER num{};
};

ZVDBRET read_raw(ZVDBFIELDSLOT *s, Src c, Raw *v) {
    ZVDBRET rc = 0;
    switch (c) {
    case kBool: {
        int32_t b = 0;
        rc = _zvdbGetBoolField(s, &b);
        v->i = b;
        break;
    }
    case kSmallS: case kInt4: case kMoney: {
        int32_t x = 0;
        rc = _zvdbGetSignedField(s, &x);
        v->i = x;
        break;
    }
    case kSmallU: case kInt4U: case kDate: case kTime: case kTimeMs: {
        uint32_t x = 0;
        rc = _zvdbGetUnsignedField(s, &x);
        v->i = x;
        break;
    }
    case kFloat: case kStamp: rc = _zvdbGetFloatField(s, &v->d); break;
    case kNumber: rc = _zvdbGetNumberField(s, &v->num); break;
    case kCurrency: rc = _zvdbGetCurrencyField(s, &v->i); break;
    case kBigInt: rc = _zvdbGetBigIntField(s, &v->i); break;
    case kUBigInt: {
        ZVUBIGINT x = 0;
        rc = _zvdbGetUnsignedBigIntField(s, &x);
        v->i = int64_t(x);
        break;
    }
    default: break;
    }
    v->u = uint64_t(v->i);
    return rc;
}

// Runs a cell of the 32-bit matrix into *out.
ZVDBRET run32(tagZVDBRECORD *r, ZVDBFIELDSLOT *s, Src c, Op32 op, uint32_t *out) {
    if (op == E19) return ZVDB_BAD_TYPE;
    if (op == E42) return ZVDB_NO_CONVERSION;
    if (op == NZT || op >= TXTS) {
        FieldText t;
        if (ZVDBRET rc = t.read(s)) return rc;
        if (t.empty()) return *out = 0, 0;
        const TextForms forms = text_forms(r);
        int32_t l = 0;
        ZVDBRET rc = 0;
        switch (op) {
        case NZT: *out = t.text()[0] != 0; return 0;
        case TXTS: rc = parse_signed(t.text(), &l); *out = uint32_t(l); return rc;
        case TXTU: return parse_unsigned(t.text(), out);
        case TXTDATE: return zvdbStringToDate(t.text(), forms.date, out);
        case TXTTIME: return zvdbStringToTime(t.text(), forms.time, out);
        default: return zvdbStringToTimeMsec(t.text(), forms.time, out);
        }
    }
    Raw v;
    if (ZVDBRET rc = read_raw(s, c, &v)) return rc;
    int32_t l = 0;
    ZVDBRET rc = 0;
    switch (op) {
    case NZ: *out = v.i != 0; return 0;
    case NZF: *out = v.d != 0.0; return 0;
    case NZN: *out = !zvdbIsNumberZero(&v.num); return 0;
    case RAW: *out = uint32_t(v.i); return 0;
    case MUL1000: *out = uint32_t(v.u * 1000u); return 0;
    case DIV1000: *out = uint32_t(v.u / 1000u); return 0;
    case FTRUNC: *out = uint32_t(trunc32(v.d)); return 0;
    case FLOW: *out = uint32_t(uint64_t(trunc64(v.d))); return 0;
    case DTDATE: return zvdbDateTimeGetDate(v.d, out);
    case DTTIME: return zvdbDateTimeGetTime(v.d, out);
    case DTTIMEMS: return zvdbDateTimeGetTimeMsec(v.d, out);
    case NUMLONG: rc = zvdbNumberToLong(&v.num, &l); break;
    case CURLONG: rc = zvdbCurrencyToLong(v.i, &l); break;
    case BIGLONG: rc = zvdbBigIntToLong(v.i, &l); break;
    default: rc = zvdbUnsignedBigIntToLong(v.u, &l); break;
    }
    if (rc == 0) *out = uint32_t(l);
    return rc;
}

// A 32-bit reader: prologue, null output (nullcode), the cell, the code kept.
ZVDBRET read32(ZVHANDLE record, int32_t n, Col32 col, uint32_t *out, ZVDBRET nullcode) {
    tagZVDBRECORD *r = nullptr;
    ZVDBFIELDSLOT *s = nullptr;
    ZVDBRET rc = _zvdbGetFieldCheck(record, n, &r, &s);
    if (rc == 0 && !out) rc = nullcode;
    int32_t type = 0;
    if (rc == 0) rc = effective_type(s, &type);
    if (rc == 0) {
        const Src c = source_class(type);
        rc = run32(r, s, c, kMatrix32[c][col], out);
    }
    return keep_code(record, rc);
}

// The zero value of an output type, for an empty text.
void zero(ZVMONEY *out) { *out = 0; }
void zero(double *out) { *out = 0.0; }
void zero(ZVBIGINT *out) { *out = 0; }
void zero(tagZVNUMBER *out) { zvdbNumberZero(out); }

// Money out of a 32-bit value by way of zvdbLongToMoney; 4038 for an
// unsigned value beyond the 32-bit signed range.
ZVDBRET long_money(int64_t v, ZVMONEY *out) {
    if (v > INT32_MAX || v < INT32_MIN) return ZVDB_OVERFLOW;
    return zvdbLongToMoney(int32_t(v), out);
}

ZVDBRET to_money(const Raw &v, OpW op, const char *text, const tagZVDBRECORD *, ZVMONEY *out) {
    int32_t l = 0;
    ZVDBRET rc = 0;
    switch (op) {
    case FS: case FU: return long_money(v.i, out);
    case FM: *out = ZVMONEY(v.i); return 0;
    case FF: return zvdbFloatToMoney(v.d, out);
    case FN: return zvdbNumberToMoney(&v.num, out);
    case FT: return zvdbStringToMoney(text, out);
    case FC: return zvdbCurrencyToMoney(v.i, out);
    case FB: rc = zvdbBigIntToLong(v.i, &l); break;
    default: rc = zvdbUnsignedBigIntToLong(v.u, &l); break;
    }
    return rc ? rc : zvdbLongToMoney(l, out);
}

ZVDBRET to_float(const Raw &v, OpW op, const char *text, const tagZVDBRECORD *, double *out) {
    switch (op) {
    case FS: *out = double(v.i); return 0;
    case FU: *out = double(v.u); return 0;
    case FM: *out = double(v.i) / 100.0; return 0;
    case FF: *out = v.d; return 0;
    case FN: return zvdbNumberToFloat(&v.num, out);
    case FT: return parse_double(text, out);
    case FC: return zvdbCurrencyToFloat(v.i, out);
    case FB: return zvdbBigIntToFloat(v.i, out);
    case FUB: return zvdbUnsignedBigIntToFloat(v.u, out);
    default: return ZVDB_NO_CONVERSION;
    }
}

ZVDBRET to_datetime(const Raw &v, OpW op, const char *text, const tagZVDBRECORD *r, double *out) {
    switch (op) {
    case FT: {
        const TextForms forms = text_forms(r);
        return zvdbStringToDateTime(text, out, forms.date, forms.time);
    }
    case SETD: return zvdbDateTimeSetDate(out, uint32_t(v.u));
    case SETT: return zvdbDateTimeSetTime(out, uint32_t(v.u));
    case SETTMS: return zvdbDateTimeSetTimeMsec(out, uint32_t(v.u));
    default: return to_float(v, op, text, r, out);
    }
}

ZVDBRET to_bigint(const Raw &v, OpW op, const char *text, const tagZVDBRECORD *, ZVBIGINT *out) {
    switch (op) {
    case FS: case FU: case FB: case FUB: *out = v.i; return 0;
    case FM: *out = v.i / 100; return 0;
    case FF: return zvdbFloatToBigInt(v.d, out);
    case FN: return zvdbNumberToBigInt(&v.num, out);
    case FT: return zvdbStringToBigInt(text, out);
    default: return zvdbCurrencyToBigInt(v.i, out);
    }
}

ZVDBRET to_currency(const Raw &v, OpW op, const char *text, const tagZVDBRECORD *, ZVCURRENCY *out) {
    switch (op) {
    case FS: return zvdbLongToCurrency(int32_t(v.i), out);
    case FU: case FB: return zvdbBigIntToCurrency(v.i, out);
    case FM: return zvdbMoneyToCurrency(ZVMONEY(v.i), out);
    case FF: return zvdbFloatToCurrency(v.d, out);
    case FN: return zvdbNumberToCurrency(&v.num, out);
    case FT: return zvdbStringToCurrency(text, out);
    case FC: *out = v.i; return 0;
    default: return zvdbUnsignedBigIntToCurrency(v.u, out);
    }
}

ZVDBRET to_number(const Raw &v, OpW op, const char *text, const tagZVDBRECORD *, tagZVNUMBER *out) {
    switch (op) {
    case FS: return zvdbLongToNumber(int32_t(v.i), out);
    case FU: case FB: return zvdbBigIntToNumber(v.i, out);
    case FM: return zvdbMoneyToNumber(ZVMONEY(v.i), out);
    case FF: return zvdbFloatToNumber(v.d, out);
    case FN: *out = v.num; return 0;
    case FT: return zvdbStringToNumber(text, out);
    case FC: return zvdbCurrencyToNumber(v.i, out);
    default: return zvdbUnsignedBigIntToNumber(v.u, out);
    }
}

// A wide reader: prologue, 4008 for a NULL output, the cell of column col
// converted by `convert`, the code kept.
template <typename T, typename Convert>
ZVDBRET read_wide(ZVHANDLE record, int32_t n, ColW col, T *out, Convert convert) {
    tagZVDBRECORD *r = nullptr;
    ZVDBFIELDSLOT *s = nullptr;
    ZVDBRET rc = _zvdbGetFieldCheck(record, n, &r, &s);
    if (rc == 0 && !out) rc = ZVDB_BAD_KIND;
    int32_t type = 0;
    if (rc == 0) rc = effective_type(s, &type);
    if (rc) return keep_code(record, rc);
    const Src c = source_class(type);
    const OpW op = kMatrixW[c][col];
    if (op <= W59) return keep_code(record, op == W19 ? ZVDB_BAD_TYPE : op == W42 ? ZVDB_NO_CONVERSION : ZVDB_TYPE_UNSUPPORTED);
    Raw v;
    if (op == FT) {
        FieldText t;
        rc = t.read(s);
        if (rc == 0 && t.empty()) zero(out);
        else if (rc == 0) rc = convert(v, op, t.text(), r, out);
        return keep_code(record, rc);
    }
    rc = read_raw(s, c, &v);
    if (rc == 0) rc = convert(v, op, nullptr, r, out);
    return keep_code(record, rc);
}

// The bytes of field s for a blob: numbers at their width in host order,
// texts their value (the counted bytes of the u32-counted form).
ZVDBRET field_bytes(ZVDBFIELDSLOT *s, int32_t type, unsigned char *work, const unsigned char **bytes,
                    int32_t *count) {
    const Src c = source_class(type);
    if (type == ZV_FPSTRING || type == ZV_JSON || c == kText) {
        *bytes = s->value;
        *count = s->value ? int32_t(s->curlength) : 0;
        if ((type == ZV_ARRAY || type == ZV_2STRING) && field_extras_kind(static_cast<tagZVDBFIELD *>(s->field)) == 2 &&
            *count >= 4) {
            uint32_t n = 0;
            std::memcpy(&n, s->value, 4);
            if (n <= uint32_t(*count - 4)) {
                *bytes = s->value + 4;
                *count = int32_t(n);
            }
        }
        return 0;
    }
    Raw v;
    if (c == kOther || c == kJson) return ZVDB_BAD_TYPE;
    if (ZVDBRET rc = read_raw(s, c, &v)) return rc;
    *bytes = work;
    switch (type) {
    case ZV_BOOL: case ZV_CHAR: case ZV_CHARU: work[0] = uint8_t(v.i); *count = 1; return 0;
    case ZV_INT2: case ZV_INT2U: {
        const uint16_t x = uint16_t(v.i);
        std::memcpy(work, &x, 2);
        *count = 2;
        return 0;
    }
    case ZV_NUMBER: std::memcpy(work, &v.num, sizeof v.num); *count = int32_t(sizeof v.num); return 0;
    default: break;
    }
    if (c == kFloat || c == kStamp) {
        std::memcpy(work, &v.d, 8);
        *count = 8;
    } else if (c == kCurrency || c == kBigInt || c == kUBigInt) {
        std::memcpy(work, &v.i, 8);
        *count = 8;
    } else {
        const uint32_t x = uint32_t(v.i);
        std::memcpy(work, &x, 4);
        *count = 4;
    }
    return 0;
}

// Where the bytes of field n of a record lie for a blob or a binary read:
// in the image (texts) or in work (numbers). 0 or the code (not kept);
// 4008 after the field checks when the caller gave no output.
ZVDBRET bytes_of(ZVHANDLE record, int32_t n, bool output, unsigned char *work, const unsigned char **bytes,
                 int32_t *count) {
    tagZVDBRECORD *r = nullptr;
    ZVDBFIELDSLOT *s = nullptr;
    ZVDBRET rc = _zvdbGetFieldCheck(record, n, &r, &s);
    if (rc == 0 && !output) rc = ZVDB_BAD_KIND;
    int32_t type = 0;
    if (rc == 0) rc = effective_type(s, &type);
    if (rc == 0) rc = field_bytes(s, type, work, bytes, count);
    return rc;
}

// The field's bytes into a blob: 0 or the code (not kept).
ZVDBRET blob_of(ZVHANDLE record, int32_t n, tagZVBLOB *blob) {
    unsigned char work[sizeof(tagZVNUMBER)];
    const unsigned char *bytes = nullptr;
    int32_t count = 0;
    if (ZVDBRET rc = bytes_of(record, n, blob != nullptr, work, &bytes, &count)) return rc;
    return count > 0 ? zvdbBlobSet(blob, bytes, count) : zvdbBlobClear(blob);
}

// The formatted text of a field that is not a text type into work (its
// length into *length), or the code; 0 with *length -1 when the text went
// straight into the caller's buffer.
ZVDBRET format_field(tagZVDBRECORD *r, ZVDBFIELDSLOT *s, int32_t type, char *buffer, int32_t size, char *work,
                     int32_t *length) {
    const TextForms forms = text_forms(r);
    Raw v;
    const Src c = source_class(type);
    if (c == kOther || c == kJson || c == kText) return ZVDB_BAD_TYPE;
    if (c == kTimeMs) return ZVDB_TYPE_UNSUPPORTED;
    if (ZVDBRET rc = read_raw(s, c, &v)) return rc;
    ZVDBRET rc = 0;
    *length = -1;
    switch (c) {
    case kBool: *length = std::snprintf(work, kTextWork, "%s", v.i ? "True" : "False"); return 0;
    case kSmallS: case kInt4: *length = std::snprintf(work, kTextWork, "%d", int32_t(v.i)); return 0;
    case kSmallU: case kInt4U: *length = std::snprintf(work, kTextWork, "%u", uint32_t(v.u)); return 0;
    case kMoney: rc = zvdbMoneyToString(ZVMONEY(v.i), work, kTextWork); break;
    case kDate: return zvdbDateToString(uint32_t(v.u), forms.date, buffer, size);
    case kTime: return zvdbTimeToString(uint32_t(v.u), forms.time, buffer, size);
    case kStamp: return zvdbDateTimeToString(v.d, forms.date, forms.time, buffer, size);
    case kFloat: *length = format_float(r, v.d, work); return *length < 0 ? ZVDB_BAD_FORMAT : 0;
    case kNumber: rc = zvdbNumberToString(&v.num, work, kTextWork); break;
    case kCurrency: rc = zvdbCurrencyToString(v.i, work, kTextWork); break;
    case kBigInt: rc = zvdbBigIntToString(v.i, work, kTextWork); break;
    default: rc = zvdbUnsignedBigIntToString(v.u, work, kTextWork); break;
    }
    if (rc == 0) *length = int32_t(std::strlen(work));
    return rc;
}

// The text reader into the caller's buffer; 4052 when the value is longer
// than what was delivered.
ZVDBRET read_text_field(ZVDBFIELDSLOT *s, int32_t type, char *buffer, int32_t size) {
    int32_t got = size;
    ZVDBRET rc = _zvdbGetStringField(s, buffer, &got);
    const bool counted =
        (type == ZV_ARRAY || type == ZV_2STRING) && field_extras_kind(static_cast<tagZVDBFIELD *>(s->field)) == 2;
    if (rc == 0 && !counted && s->value && s->curlength > uint32_t(got)) rc = ZVDB_VALUE_CUT;
    return rc;
}

}  // namespace

extern "C" {

ZV_API ZVDBRET zvdbGetFieldAsBool(ZVHANDLE record, int32_t n, uint32_t *out) {
    return read32(record, n, cBool, out, ZVDB_BAD_KIND);
}

ZV_API ZVDBRET zvdbGetFieldAsSigned(ZVHANDLE record, int32_t n, int32_t *out) {
    return read32(record, n, cSigned, reinterpret_cast<uint32_t *>(out), ZVDB_BAD_KIND);
}

ZV_API ZVDBRET zvdbGetFieldAsUnsigned(ZVHANDLE record, int32_t n, uint32_t *out) {
    return read32(record, n, cUnsigned, out, ZVDB_BAD_KIND);
}

ZV_API ZVDBRET zvdbGetFieldAsDate(ZVHANDLE record, int32_t n, ZVDATE *out) {
    return read32(record, n, cDate, out, ZVDB_NULL_ARGUMENT);
}

ZV_API ZVDBRET zvdbGetFieldAsTime(ZVHANDLE record, int32_t n, ZVTIME *out) {
    return read32(record, n, cTime, out, ZVDB_NULL_ARGUMENT);
}

ZV_API ZVDBRET zvdbGetFieldAsTimeMsec(ZVHANDLE record, int32_t n, ZVTIME *out) {
    return read32(record, n, cTimeMsec, out, ZVDB_NULL_ARGUMENT);
}

ZV_API ZVDBRET zvdbGetFieldAsMoney(ZVHANDLE record, int32_t n, ZVMONEY *out) {
    return read_wide(record, n, cMoney, out, to_money);
}

ZV_API ZVDBRET zvdbGetFieldAsFloat(ZVHANDLE record, int32_t n, double *out) {
    return read_wide(record, n, cFloat, out, to_float);
}

ZV_API ZVDBRET zvdbGetFieldAsDateTime(ZVHANDLE record, int32_t n, ZVDATETIME *out) {
    return read_wide(record, n, cDateTime, out, to_datetime);
}

ZV_API ZVDBRET zvdbGetFieldAsBigint(ZVHANDLE record, int32_t n, ZVBIGINT *out) {
    return read_wide(record, n, cBigint, out, to_bigint);
}

ZV_API ZVDBRET zvdbGetFieldAsUnsignedBigint(ZVHANDLE record, int32_t n, ZVUBIGINT *out) {
    return zvdbGetFieldAsBigint(record, n, reinterpret_cast<ZVBIGINT *>(out));
}

ZV_API ZVDBRET zvdbGetFieldAsCurrency(ZVHANDLE record, int32_t n, ZVCURRENCY *out) {
    return read_wide(record, n, cCurrency, out, to_currency);
}

ZV_API ZVDBRET zvdbGetFieldAsNumber(ZVHANDLE record, int32_t n, tagZVNUMBER *out) {
    ZVDBRET rc = read_wide(record, n, cNumber, out, to_number);
    // A number read whole but longer than its 17 bytes (a damaged stored
    // number) is no number. A failed read leaves the caller's bytes alone,
    // and its own code.
    if (rc == 0 && out->length > 17) rc = keep_code(record, ZVDB_NUMBER_LENGTH);
    return rc;
}

ZV_API ZVDBRET zvdbGetFieldAsString(ZVHANDLE record, int32_t n, char *buffer, int32_t size) {
    tagZVDBRECORD *r = nullptr;
    ZVDBFIELDSLOT *s = nullptr;
    ZVDBRET rc = _zvdbGetFieldCheck(record, n, &r, &s);
    if (rc == 0 && !buffer) rc = ZVDB_BAD_KIND;
    int32_t type = 0;
    if (rc == 0) rc = effective_type(s, &type);
    if (rc) return keep_code(record, rc);
    if (source_class(type) == kText || type == ZV_FPSTRING || type == ZV_JSON) {
        return keep_code(record, read_text_field(s, type, buffer, size));
    }
    char work[kTextWork];
    int32_t length = -1;
    rc = format_field(r, s, type, buffer, size, work, &length);
    if (rc == 0 && length >= 0) rc = put_text(work, size_t(length), buffer, size);
    return keep_code(record, rc);
}

ZV_API ZVDBRET zvdbGetFieldAsJSON(ZVHANDLE record, int32_t n, char *buffer, int32_t size) {
    tagZVDBRECORD *r = nullptr;
    ZVDBFIELDSLOT *s = nullptr;
    ZVDBRET rc = _zvdbGetFieldCheck(record, n, &r, &s);
    if (rc == 0 && !buffer) rc = ZVDB_BAD_KIND;
    int32_t type = 0;
    if (rc == 0) rc = effective_type(s, &type);
    if (rc == 0) {
        rc = type == ZV_JSON                        ? read_text_field(s, type, buffer, size)
             : field_type_info(type).code != 0     ? ZVDB_TYPE_UNSUPPORTED
                                                    : ZVDB_BAD_TYPE;
    }
    return keep_code(record, rc);
}

ZV_API ZVDBRET zvdbGetFieldAsBlob(ZVHANDLE record, int32_t n, tagZVBLOB *blob) {
    return keep_code(record, blob_of(record, n, blob));
}

ZV_API ZVDBRET zvdbGetFieldAsBinary(ZVHANDLE record, int32_t n, void *buffer, int32_t size) {
    // The bytes go from the field straight to the caller: no blob between.
    unsigned char work[sizeof(tagZVNUMBER)];
    const unsigned char *bytes = nullptr;
    int32_t count = 0;
    ZVDBRET rc = !buffer || size < 1 ? ZVDB_BAD_KIND : bytes_of(record, n, true, work, &bytes, &count);
    if (rc == 0 && count > size) rc = ZVDB_BUFFER_SMALL;
    if (rc == 0 && count > 0) std::memcpy(buffer, bytes, size_t(count));
    return keep_code(record, rc);
}

ZV_API int zvdbIsNullField(ZVHANDLE record, int32_t n) {
    tagZVDBRECORD *r = nullptr;
    ZVDBFIELDSLOT *s = nullptr;
    ZVDBRET rc = _zvdbGetFieldCheck(record, n, &r, &s);
    if (rc == 0 && (n < 0 || n >= _zvdbListCount(r->table->fields))) rc = ZVDB_NO_FIELD;
    if (rc) return keep_code(record, rc), 0;
    if (const ZVDBFIELDSLOT *bits = r->nullslot) {
        return bits->value && uint32_t(n) / 8 < bits->curlength && _zvdbTestBit(bits->value, n);
    }
    auto *f = static_cast<tagZVDBFIELD *>(s->field);
    if (f && f->callbacks[4]) {
        int32_t flag = 0, flagsize = int32_t(sizeof flag);
        rc = reinterpret_cast<ZVDB_FIELD_GET_CALLBACK>(f->callbacks[4])(s, &flag, &flagsize, ZVDB_VALUE_BOOL);
        return rc ? (keep_code(record, rc), 0) : flag != 0;
    }
    return 0;
}

ZV_API int32_t zvdbGetFieldNumberByName(ZVHANDLE record, const char *name) {
    tagZVDBRECORD *r = record_of(record);
    ZVDBRET rc = !r ? ZVDB_NO_RECORD : !name ? ZVDB_NULL_ARGUMENT : open_record(r, &r);
    if (rc) return keep_code(record, rc), -1;
    for (int32_t i = 0; i < r->slotcount; i++) {
        const ZVDBFIELDSLOT &s = r->slots[i];
        const char *slotname = s.field ? static_cast<tagZVDBFIELD *>(s.field)->name : r->table->doda[i].fsymb;
        if (same_name(slotname, name)) return s.number;
    }
    return -1;
}

}  // extern "C"
