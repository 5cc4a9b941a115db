// Typed field writes: a C value stored into field n of a record, converted
// into the field's type.
//
// A field's type falls into one target class (the rows below); each writer
// is a column. The 32-bit writers (Bool, Signed, Unsigned, Date, Time,
// TimeMsec) run the cell of their matrix. The wide writers (Money, Float,
// DateTime, Bigint, Currency, Number) convert their value into the storage
// family of the field (standard conversions), where their matrix allows it.
// Every store goes through the primitives of slotprim.h; a successful one
// marks the record edited and the field not null.
//
// Decided beside the matrices: a float into ZV_MONEY is rounded half away
// from zero (zvdbFloatToMoney), not truncated; unsigned values reach
// numbers and currencies zero-extended; a time written into a date-time
// replaces the time of the stored value; a millisecond time into a text
// field is written as its seconds.
#include <cstdio>
#include <cstring>

#include "recapi/base/session.h"
#include "recapi/base/utility.h"
#include "recapi/records/fieldconv.h"
#include "recapi/records/record.h"
#include "recapi/records/slotprim.h"
#include "recapi/schema/field.h"
#include "recapi/schema/fieldtype.h"

using namespace zv;

namespace {

// Target classes: the rows of both matrices.
enum Dst : uint8_t {
    tBool,      // ZV_BOOL
    tChar,      // ZV_CHAR
    tInt2,      // ZV_INT2
    tInt4,      // ZV_INT4
    tMoney,     // ZV_MONEY
    tSmallU,    // ZV_CHARU, ZV_INT2U
    tInt4U,     // ZV_INT4U
    tDate,      // ZV_DATE
    tTime,      // ZV_TIME
    tFloat,     // ZV_SFLOAT, ZV_DFLOAT, ZV_EFLOAT (the float store refuses the last)
    tStamp,     // ZV_TIMES, ZV_TIMES_MS
    tNumber,    // ZV_NUMBER
    tFixText,   // ZV_ARRAY, ZV_FSTRING, ZV_FPSTRING, ZV_F2STRING, ZV_F4STRING
    tVarText,   // ZV_STRING, ZV_PSTRING, ZV_2STRING, ZV_4STRING
    tCurrency,  // ZV_CURRENCY
    tBigInt,    // 8-byte signed
    tUBigInt,   // 8-byte unsigned
    tTimeMs,    // ZV_TIME_MS
    tJson,      // ZV_JSON
    tOther,     // any other code
    kDstCount
};

Dst target_class(int32_t type) {
    switch (type) {
    case ZV_BOOL: return tBool;
    case ZV_CHAR: return tChar;
    case ZV_INT2: return tInt2;
    case ZV_INT4: return tInt4;
    case ZV_MONEY: return tMoney;
    case ZV_CHARU: case ZV_INT2U: return tSmallU;
    case ZV_INT4U: return tInt4U;
    case ZV_DATE: return tDate;
    case ZV_TIME: return tTime;
    case ZV_SFLOAT: case ZV_DFLOAT: case ZV_EFLOAT: return tFloat;
    case ZV_TIMES: case ZV_TIMES_MS: return tStamp;
    case ZV_NUMBER: return tNumber;
    case ZV_ARRAY: case ZV_FSTRING: case ZV_FPSTRING: case ZV_F2STRING: case ZV_F4STRING: return tFixText;
    case ZV_STRING: case ZV_PSTRING: case ZV_2STRING: case ZV_4STRING: return tVarText;
    case ZV_CURRENCY: return tCurrency;
    case ZV_BIGINT: return tBigInt;
    case ZV_UBIGINT: return tUBigInt;
    case ZV_TIME_MS: return tTimeMs;
    case ZV_JSON: return tJson;
    default: return tOther;
    }
}

bool text_class(Dst d) { return d == tFixText || d == tVarText; }

// ---- 32-bit writers: Bool, Signed, Unsigned, Date, Time, TimeMsec -----------

enum Op32 : uint8_t {
    Z19, Z25, Z42, Z4147,   // 4019, 4025, 4042, 4147
    BOOLV,                  // bool store of v != 0
    SIGNEDV, UNSIGNEDV,     // signed or unsigned store of v
    MS1000,                 // unsigned store of v x 1000
    FLOATV,                 // float store of v
    STAMPDATE,              // the date at midnight, float store
    STAMPTIME, STAMPTIMEMS, // the time part of the stored date-time replaced
    NUMBOOL, NUMV,          // the number 1.0 or 0.0; the number of v
    CURBOOL, CURV,          // the currency of v != 0; of v
    WIDEBOOL, WIDEV,        // 64-bit store of v != 0; of v
    TXTBOOL, TXTINT, TXTDATE, TXTTIME, TXTTIMEMS,  // "True"/"False", "%d"/"%u", date, time, ms time as seconds
};

enum Col32 : uint8_t { cBool, cSigned, cUnsigned, cDate, cTime, cTimeMsec };

// clang-format off
constexpr Op32 kMatrix32[kDstCount][6] = {
    //              Bool      Signed    Unsigned  Date       Time       TimeMsec
    /* Bool     */ {BOOLV,    BOOLV,    BOOLV,    Z42,       Z42,       Z42},
    /* Char     */ {SIGNEDV,  SIGNEDV,  SIGNEDV,  Z42,       Z42,       Z42},
    /* Int2     */ {SIGNEDV,  SIGNEDV,  SIGNEDV,  Z42,       Z42,       Z42},
    /* Int4     */ {SIGNEDV,  SIGNEDV,  SIGNEDV,  SIGNEDV,   SIGNEDV,   SIGNEDV},
    /* Money    */ {SIGNEDV,  SIGNEDV,  SIGNEDV,  SIGNEDV,   SIGNEDV,   SIGNEDV},
    /* SmallU   */ {UNSIGNEDV, UNSIGNEDV, UNSIGNEDV, Z42,    Z42,       Z42},
    /* Int4U    */ {UNSIGNEDV, UNSIGNEDV, UNSIGNEDV, UNSIGNEDV, UNSIGNEDV, UNSIGNEDV},
    /* Date     */ {UNSIGNEDV, UNSIGNEDV, UNSIGNEDV, UNSIGNEDV, Z42,    Z42},
    /* Time     */ {UNSIGNEDV, UNSIGNEDV, UNSIGNEDV, Z42,    UNSIGNEDV, Z4147},
    /* Float    */ {FLOATV,   FLOATV,   FLOATV,   FLOATV,    FLOATV,    FLOATV},
    /* Stamp    */ {FLOATV,   FLOATV,   FLOATV,   STAMPDATE, STAMPTIME, STAMPTIMEMS},
    /* Number   */ {NUMBOOL,  NUMV,     NUMV,     NUMV,      NUMV,      NUMV},
    /* FixText  */ {TXTBOOL,  TXTINT,   TXTINT,   TXTDATE,   TXTTIME,   TXTTIMEMS},
    /* VarText  */ {TXTBOOL,  TXTINT,   TXTINT,   TXTDATE,   TXTTIME,   TXTTIMEMS},
    /* Currency */ {CURBOOL,  CURV,     CURV,     CURV,      CURV,      CURV},
    /* BigInt   */ {WIDEBOOL, WIDEV,    WIDEV,    WIDEV,     WIDEV,     WIDEV},
    /* UBigInt  */ {WIDEBOOL, WIDEV,    WIDEV,    WIDEV,     WIDEV,     WIDEV},
    /* TimeMs   */ {UNSIGNEDV, UNSIGNEDV, UNSIGNEDV, Z42,    MS1000,    UNSIGNEDV},
    /* Json     */ {Z19,      Z19,      Z19,      Z19,       Z19,       Z19},
    /* Other    */ {Z25,      Z25,      Z25,      Z25,       Z25,       Z25},
};
// clang-format on

// ---- Wide writers: Money, Float, DateTime, Bigint, Currency, Number ----------

// A cell: the standard conversion into the field's family (C), the date,
// time or millisecond time of a date-time by the field's type (D), or a
// refusal.
enum OpW : uint8_t { C, D, Y19, Y25, Y42 };
enum ColW : uint8_t { cMoney, cFloat, cDateTime, cBigint, cCurrency, cNumber };

// clang-format off
constexpr OpW kMatrixW[kDstCount][6] = {
    //              Money Float DateTime Bigint Currency Number
    /* Bool     */ {Y42,  Y42,  Y42,     C,     C,       C},
    /* Char     */ {Y42,  Y42,  Y42,     C,     C,       C},
    /* Int2     */ {C,    Y42,  Y42,     C,     C,       C},
    /* Int4     */ {C,    C,    C,       C,     C,       C},
    /* Money    */ {C,    C,    C,       C,     C,       C},
    /* SmallU   */ {Y42,  Y42,  Y42,     C,     C,       C},
    /* Int4U    */ {Y42,  Y42,  Y42,     C,     C,       C},
    /* Date     */ {Y42,  Y42,  D,       C,     C,       C},
    /* Time     */ {Y42,  Y42,  D,       C,     C,       C},
    /* Float    */ {C,    C,    C,       C,     C,       C},
    /* Stamp    */ {C,    C,    C,       C,     C,       C},
    /* Number   */ {C,    C,    C,       C,     C,       C},
    /* FixText  */ {C,    C,    C,       C,     C,       C},
    /* VarText  */ {C,    C,    C,       C,     C,       C},
    /* Currency */ {C,    C,    C,       C,     C,       C},
    /* BigInt   */ {C,    C,    C,       C,     C,       C},
    /* UBigInt  */ {Y42,  Y42,  Y42,     C,     C,       C},
    /* TimeMs   */ {Y42,  Y25,  D,       C,     C,       C},
    /* Json     */ {Y19,  Y19,  Y19,     Y25,   Y25,     Y25},
    /* Other    */ {Y25,  Y25,  Y25,     Y25,   Y25,     Y25},
};
// clang-format on

// The value of a wide writer, in the kind its column names.
struct Wide {
    ColW kind;
    int64_t i;          // money, bigint, currency
    double d;           // float, date-time
    tagZVNUMBER num;    // number
};

// Everything a store needs: the record, the slot, its type and class.
struct Target {
    tagZVDBRECORD *r;
    ZVDBFIELDSLOT *s;
    int32_t type;
    Dst cls;
};

// Stores text into a text field: the fixed store (cut when asked) or the
// variable one.
ZVDBRET store_text(const Target &t, const char *text, int32_t length, bool cut) {
    if (t.cls == tVarText || t.cls == tJson) return _zvdbSetVarStringField(t.r, t.s, text, length);
    const tagZVDBTABLE *table = t.r->table;
    return _zvdbSetFixStringField(t.s, text, length, table->padbyte, table->delimbyte, cut);
}

ZVDBRET store_work(const Target &t, const char *work) { return store_text(t, work, int32_t(std::strlen(work)), false); }

// A 32-bit value into a signed or unsigned integer field by its class.
ZVDBRET store_int(const Target &t, int32_t v) {
    return t.cls == tChar || t.cls == tInt2 || t.cls == tInt4 || t.cls == tMoney ? _zvdbSetSignedField(t.s, v)
                                                                                  : _zvdbSetUnsignedField(t.s, uint32_t(v));
}

// A 64-bit value into ZV_BIGINT or ZV_UBIGINT.
ZVDBRET store_wide(const Target &t, int64_t v) {
    return t.cls == tBigInt ? _zvdbSetBigIntField(t.s, v) : _zvdbSetUnsignedBigIntField(t.s, uint64_t(v));
}

// Replaces the date-time in the field by `edit` applied to it.
template <typename Edit>
ZVDBRET edit_stamp(const Target &t, Edit edit) {
    double stored = 0;
    if (ZVDBRET rc = _zvdbGetFloatField(t.s, &stored)) return rc;
    if (ZVDBRET rc = edit(&stored)) return rc;
    return _zvdbSetFloatField(t.s, stored);
}

// Runs a cell of the 32-bit matrix; v is the value sign- or zero-extended.
ZVDBRET run32(const Target &t, Op32 op, int64_t v, bool isunsigned) {
    const TextForms forms = text_forms(t.r);
    char work[kTextWork];
    tagZVNUMBER num;
    ZVCURRENCY cur = 0;
    ZVDBRET rc = 0;
    switch (op) {
    case Z19: return ZVDB_BAD_TYPE;
    case Z25: return ZVDB_BAD_MODE;
    case Z42: return ZVDB_NO_CONVERSION;
    case Z4147: return ZVDB_MSEC_INTO_TIME;
    case BOOLV: return _zvdbSetBoolField(t.s, v != 0);
    case SIGNEDV: return _zvdbSetSignedField(t.s, int32_t(v));
    case UNSIGNEDV: return _zvdbSetUnsignedField(t.s, uint32_t(v));
    case MS1000: return _zvdbSetUnsignedField(t.s, uint32_t(v) * 1000u);
    case FLOATV: return _zvdbSetFloatField(t.s, double(v));
    case STAMPDATE: {
        int y = 0, m = 0, d = 0;
        double stamp = 0;
        if ((rc = zvdbDateUnpack(uint32_t(v), &y, &m, &d)) == 0 && (rc = zvdbDateTimePack(&stamp, y, m, d, 0, 0, 0)) == 0) {
            rc = _zvdbSetFloatField(t.s, stamp);
        }
        return rc;
    }
    case STAMPTIME: return edit_stamp(t, [v](double *x) { return zvdbDateTimeSetTime(x, uint32_t(v)); });
    case STAMPTIMEMS: return edit_stamp(t, [v](double *x) { return zvdbDateTimeSetTimeMsec(x, uint32_t(v)); });
    case NUMBOOL: rc = zvdbStringToNumber(v ? "1.0" : "0.0", &num); break;
    case NUMV: rc = zvdbBigIntToNumber(v, &num); break;
    case CURBOOL: rc = zvdbLongToCurrency(v != 0, &cur); break;
    case CURV: rc = zvdbBigIntToCurrency(v, &cur); break;
    case WIDEBOOL: return store_wide(t, v != 0);
    case WIDEV: return store_wide(t, v);
    case TXTBOOL: return store_work(t, v ? "True" : "False");
    case TXTINT:
        if (isunsigned) std::snprintf(work, sizeof work, "%u", uint32_t(v));
        else std::snprintf(work, sizeof work, "%d", int32_t(v));
        return store_work(t, work);
    case TXTDATE: rc = zvdbDateToString(uint32_t(v), forms.date, work, 33); break;
    case TXTTIME: rc = zvdbTimeToString(uint32_t(v), forms.time, work, 15); break;
    case TXTTIMEMS: rc = zvdbTimeToString(uint32_t(v) / 1000u, forms.time, work, 15); break;
    }
    if (rc) return rc;
    if (op == NUMBOOL || op == NUMV) return _zvdbSetNumberField(t.s, &num);
    if (op == CURBOOL || op == CURV) return _zvdbSetCurrencyField(t.s, cur);
    return store_work(t, work);
}

// A wide value into a field of 32-bit integer class: signed fields take
// the converted value, unsigned ones its bits.
ZVDBRET wide_to_int(const Target &t, const Wide &w) {
    const bool isunsigned = !(t.cls == tChar || t.cls == tInt2 || t.cls == tInt4);
    int32_t l = 0;
    uint32_t ul = 0;
    ZVDBRET rc = 0;
    switch (w.kind) {
    case cMoney: rc = zvdbMoneyToLong(ZVMONEY(w.i), &l); break;
    case cFloat: case cDateTime: l = int32_t(uint32_t(uint64_t(trunc64(w.d)))); break;
    case cBigint:
        if (isunsigned) {
            rc = zvdbBigIntToULong(w.i, &ul);
            l = int32_t(ul);
        } else {
            rc = zvdbBigIntToLong(w.i, &l);
        }
        break;
    case cCurrency: rc = zvdbCurrencyToLong(w.i, &l); break;
    case cNumber: rc = zvdbNumberToLong(&w.num, &l); break;
    }
    return rc ? rc : store_int(t, l);
}

// The standard conversion of a wide value into the field's family.
ZVDBRET convert_wide(const Target &t, const Wide &w) {
    char work[kTextWork];
    int32_t l = 0;
    ZVMONEY m = 0;
    double d = 0;
    int64_t b = 0;
    ZVCURRENCY c = 0;
    tagZVNUMBER num;
    ZVDBRET rc = 0;
    switch (t.cls) {
    case tBool:
        return _zvdbSetBoolField(t.s, w.kind == cNumber ? !zvdbIsNumberZero(&w.num) : w.i != 0);
    case tChar: case tInt2: case tInt4: case tSmallU: case tInt4U: case tDate: case tTime: case tTimeMs:
        return wide_to_int(t, w);
    case tMoney:
        switch (w.kind) {
        case cMoney: m = ZVMONEY(w.i); break;
        case cFloat: rc = zvdbFloatToMoney(w.d, &m); break;
        case cDateTime: m = int32_t(uint32_t(uint64_t(trunc64(w.d)))); break;
        case cBigint:
            if ((rc = zvdbBigIntToLong(w.i, &l)) == 0) rc = zvdbLongToMoney(l, &m);
            break;
        case cCurrency: rc = zvdbCurrencyToMoney(w.i, &m); break;
        case cNumber: rc = zvdbNumberToMoney(&w.num, &m); break;
        }
        return rc ? rc : _zvdbSetSignedField(t.s, m);
    case tFloat: case tStamp:
        switch (w.kind) {
        case cMoney: rc = zvdbMoneyToFloat(ZVMONEY(w.i), &d); break;
        case cFloat: case cDateTime: d = w.d; break;
        case cBigint: rc = zvdbBigIntToFloat(w.i, &d); break;
        case cCurrency: rc = zvdbCurrencyToFloat(w.i, &d); break;
        case cNumber: rc = zvdbNumberToFloat(&w.num, &d); break;
        }
        return rc ? rc : _zvdbSetFloatField(t.s, d);
    case tNumber:
        switch (w.kind) {
        case cMoney: rc = zvdbMoneyToNumber(ZVMONEY(w.i), &num); break;
        case cFloat: case cDateTime: rc = zvdbFloatToNumber(w.d, &num); break;
        case cBigint: rc = zvdbBigIntToNumber(w.i, &num); break;
        case cCurrency: rc = zvdbCurrencyToNumber(w.i, &num); break;
        case cNumber: num = w.num; break;
        }
        return rc ? rc : _zvdbSetNumberField(t.s, &num);
    case tCurrency:
        switch (w.kind) {
        case cMoney: rc = zvdbMoneyToCurrency(ZVMONEY(w.i), &c); break;
        case cFloat: case cDateTime: rc = zvdbFloatToCurrency(w.d, &c); break;
        case cBigint: rc = zvdbBigIntToCurrency(w.i, &c); break;
        case cCurrency: c = w.i; break;
        case cNumber: rc = zvdbNumberToCurrency(&w.num, &c); break;
        }
        return rc ? rc : _zvdbSetCurrencyField(t.s, c);
    case tBigInt: case tUBigInt:
        switch (w.kind) {
        case cMoney:
            rc = zvdbMoneyToLong(ZVMONEY(w.i), &l);
            b = l;
            break;
        case cFloat: case cDateTime: rc = zvdbFloatToBigInt(w.d, &b); break;
        case cBigint: b = w.i; break;
        case cCurrency:
            rc = t.cls == tBigInt ? zvdbCurrencyToBigInt(w.i, &b)
                                  : zvdbCurrencyToUnsignedBigInt(w.i, reinterpret_cast<ZVUBIGINT *>(&b));
            break;
        case cNumber:
            rc = t.cls == tBigInt ? zvdbNumberToBigInt(&w.num, &b)
                                  : zvdbNumberToUnsignedBigInt(&w.num, reinterpret_cast<ZVUBIGINT *>(&b));
            break;
        }
        return rc ? rc : store_wide(t, b);
    case tFixText: case tVarText: {
        const TextForms forms = text_forms(t.r);
        switch (w.kind) {
        case cMoney: rc = zvdbMoneyToString(ZVMONEY(w.i), work, 65); break;
        case cFloat: rc = format_float(t.r, w.d, work) < 0 ? ZVDB_BAD_FORMAT : 0; break;
        case cDateTime: rc = zvdbDateTimeToString(w.d, forms.date, forms.time, work, kTextWork); break;
        case cBigint: rc = zvdbBigIntToString(w.i, work, 128); break;
        case cCurrency: rc = zvdbCurrencyToString(w.i, work, 128); break;
        case cNumber: rc = zvdbNumberToString(&w.num, work, 128); break;
        }
        return rc ? rc : store_work(t, work);
    }
    default:
        return ZVDB_BAD_MODE;
    }
}

// The date, time or millisecond time of a date-time into ZV_DATE, ZV_TIME
// or ZV_TIME_MS.
ZVDBRET datetime_part(const Target &t, double stamp) {
    uint32_t v = 0;
    ZVDBRET rc = t.cls == tDate   ? zvdbDateTimeGetDate(stamp, &v)
                 : t.cls == tTime ? zvdbDateTimeGetTime(stamp, &v)
                                  : zvdbDateTimeGetTimeMsec(stamp, &v);
    return rc ? rc : _zvdbSetUnsignedField(t.s, v);
}

// The prologue of every writer: the slot of field n and its class, or the
// code (not kept).
ZVDBRET target_of(ZVHANDLE record, int32_t n, Target *t) {
    ZVDBRET rc = _zvdbSetFieldCheck(record, n, &t->r, &t->s);
    if (rc == 0) rc = effective_type(t->s, &t->type);
    t->cls = rc ? tOther : target_class(t->type);
    return rc;
}

// The end of every writer: a successful store marks the record edited and
// the slot written, and clears the field's null bit; the code is kept.
ZVDBRET finish(ZVHANDLE record, const Target &t, ZVDBRET rc) {
    if (rc) return keep_code(record, rc);
    t.r->edited = 1;
    t.s->reserved = 1;
    const ZVDBFIELDSLOT *bits = t.r->nullslot;
    if (bits && bits->value && t.s->index >= 0 && uint32_t(t.s->index) / 8 < bits->curlength) {
        _zvdbClearBit(bits->value, t.s->index);
    }
    return 0;
}

ZVDBRET write32(ZVHANDLE record, int32_t n, Col32 col, int64_t v, bool isunsigned) {
    Target t{};
    ZVDBRET rc = target_of(record, n, &t);
    if (rc == 0) rc = run32(t, kMatrix32[t.cls][col], v, isunsigned);
    return finish(record, t, rc);
}

ZVDBRET write_wide(ZVHANDLE record, int32_t n, const Wide &w) {
    Target t{};
    ZVDBRET rc = target_of(record, n, &t);
    if (rc == 0) {
        switch (kMatrixW[t.cls][w.kind]) {
        case C: rc = convert_wide(t, w); break;
        case D: rc = datetime_part(t, w.d); break;
        case Y19: rc = ZVDB_BAD_TYPE; break;
        case Y25: rc = ZVDB_BAD_MODE; break;
        case Y42: rc = ZVDB_NO_CONVERSION; break;
        }
    }
    return finish(record, t, rc);
}

// Parses text for a field that is not a text field and stores it.
ZVDBRET store_parsed(const Target &t, const char *text) {
    const TextForms forms = text_forms(t.r);
    int32_t l = 0;
    uint32_t u = 0;
    double d = 0;
    ZVMONEY m = 0;
    int64_t b = 0;
    tagZVNUMBER num;
    ZVDBRET rc = 0;
    switch (t.cls) {
    case tBool:
        if (same_name(text, "TRUE") || same_name(text, "YES") || std::strcmp(text, "1") == 0) {
            return _zvdbSetBoolField(t.s, 1);
        }
        if (same_name(text, "FALSE") || same_name(text, "NO") || std::strcmp(text, "0") == 0) {
            return _zvdbSetBoolField(t.s, 0);
        }
        return ZVDB_NO_CONVERSION;
    case tChar: case tInt2: case tInt4:
        return (rc = parse_signed(text, &l)) ? rc : _zvdbSetSignedField(t.s, l);
    case tSmallU: case tInt4U:
        return (rc = parse_unsigned(text, &u)) ? rc : _zvdbSetUnsignedField(t.s, u);
    case tFloat:
        return (rc = parse_double(text, &d)) ? rc : _zvdbSetFloatField(t.s, d);
    case tMoney:
        return (rc = zvdbStringToMoney(text, &m)) ? rc : _zvdbSetSignedField(t.s, m);
    case tDate:
        return (rc = zvdbStringToDate(text, forms.date, &u)) ? rc : _zvdbSetUnsignedField(t.s, u);
    case tTime:
        return (rc = zvdbStringToTime(text, forms.time, &u)) ? rc : _zvdbSetUnsignedField(t.s, u);
    case tTimeMs:
        return (rc = zvdbStringToTimeMsec(text, forms.time, &u)) ? rc : _zvdbSetUnsignedField(t.s, u);
    case tNumber:
        return (rc = zvdbStringToNumber(text, &num)) ? rc : _zvdbSetNumberField(t.s, &num);
    case tCurrency:
        return (rc = zvdbStringToCurrency(text, &b)) ? rc : _zvdbSetCurrencyField(t.s, b);
    case tBigInt:
        return (rc = zvdbStringToBigInt(text, &b)) ? rc : _zvdbSetBigIntField(t.s, b);
    case tUBigInt: {
        ZVUBIGINT ub = 0;
        return (rc = zvdbStringToUnsignedBigInt(text, &ub)) ? rc : _zvdbSetUnsignedBigIntField(t.s, ub);
    }
    case tStamp:
        return (rc = zvdbStringToDateTime(text, &d, forms.date, forms.time)) ? rc : _zvdbSetFloatField(t.s, d);
    default:
        return ZVDB_BAD_MODE;
    }
}

// The width of a numeric field's bytes in a blob; 0 for other types.
int32_t blob_width(Dst cls) {
    switch (cls) {
    case tBool: case tChar: return 1;
    case tInt2: return 2;
    case tInt4: case tMoney: case tInt4U: case tDate: case tTime: case tTimeMs: return 4;
    case tFloat: case tStamp: case tCurrency: case tBigInt: case tUBigInt: return 8;
    case tNumber: return int32_t(sizeof(tagZVNUMBER));
    default: return 0;
    }
}

// Stores the bytes of a blob into a numeric field at its width.
ZVDBRET store_bytes(const Target &t, const tagZVBLOB *blob) {
    // ZV_CHARU and ZV_INT2U share a class; their widths differ.
    const int32_t width = t.cls == tSmallU ? (t.type == ZV_CHARU ? 1 : 2) : blob_width(t.cls);
    unsigned char work[sizeof(tagZVNUMBER)];
    _zvdbBlobCopy(blob, work, width);
    int64_t i = 0;
    double d = 0;
    std::memcpy(&i, work, 8);
    std::memcpy(&d, work, 8);
    switch (t.cls) {
    case tBool: return _zvdbSetBoolField(t.s, work[0] != 0);
    case tChar: return _zvdbSetSignedField(t.s, int8_t(work[0]));
    case tInt2: {
        int16_t x;
        std::memcpy(&x, work, 2);
        return _zvdbSetSignedField(t.s, x);
    }
    case tInt4: case tMoney: {
        int32_t x;
        std::memcpy(&x, work, 4);
        return _zvdbSetSignedField(t.s, x);
    }
    case tSmallU: {
        uint16_t x = 0;
        std::memcpy(&x, work, size_t(width));
        return _zvdbSetUnsignedField(t.s, x);
    }
    case tInt4U: case tDate: case tTime: case tTimeMs: {
        uint32_t x;
        std::memcpy(&x, work, 4);
        return _zvdbSetUnsignedField(t.s, x);
    }
    case tFloat: case tStamp: return _zvdbSetFloatField(t.s, d);
    case tCurrency: return _zvdbSetCurrencyField(t.s, i);
    case tBigInt: return _zvdbSetBigIntField(t.s, i);
    case tUBigInt: return _zvdbSetUnsignedBigIntField(t.s, uint64_t(i));
    default: {
        tagZVNUMBER num;
        std::memcpy(&num, work, sizeof num);
        return _zvdbSetNumberField(t.s, &num);
    }
    }
}

ZVDBRET store_blob(const Target &t, const tagZVBLOB *blob) {
    const auto *bytes = static_cast<const char *>(blob->data);
    int32_t length = blob->data ? blob->used : 0;
    if (length < 0) return ZVDB_BAD_ARGUMENT;
    switch (t.cls) {
    case tFixText: return store_text(t, bytes, length, true);
    case tVarText: case tJson:
        if (t.type == ZV_STRING) {
            const uint8_t delim = t.r->table->delimbyte;
            while (length > 0 && uint8_t(bytes[length - 1]) == delim) length--;
        }
        return store_text(t, bytes, length, false);
    case tOther: return ZVDB_BAD_MODE;
    default: return store_bytes(t, blob);
    }
}

}  // namespace

extern "C" {

ZV_API ZVDBRET zvdbSetFieldAsBool(ZVHANDLE record, int32_t n, int32_t value) {
    return write32(record, n, cBool, value, false);
}

ZV_API ZVDBRET zvdbSetFieldAsSigned(ZVHANDLE record, int32_t n, int32_t value) {
    return write32(record, n, cSigned, value, false);
}

ZV_API ZVDBRET zvdbSetFieldAsUnsigned(ZVHANDLE record, int32_t n, uint32_t value) {
    return write32(record, n, cUnsigned, value, true);
}

ZV_API ZVDBRET zvdbSetFieldAsDate(ZVHANDLE record, int32_t n, ZVDATE value) {
    return write32(record, n, cDate, value, true);
}

ZV_API ZVDBRET zvdbSetFieldAsTime(ZVHANDLE record, int32_t n, ZVTIME value) {
    return write32(record, n, cTime, value, true);
}

ZV_API ZVDBRET zvdbSetFieldAsTimeMsec(ZVHANDLE record, int32_t n, ZVTIME value) {
    return write32(record, n, cTimeMsec, value, true);
}

ZV_API ZVDBRET zvdbSetFieldAsMoney(ZVHANDLE record, int32_t n, ZVMONEY value) {
    return write_wide(record, n, Wide{cMoney, value, 0, {}});
}

ZV_API ZVDBRET zvdbSetFieldAsFloat(ZVHANDLE record, int32_t n, double value) {
    return write_wide(record, n, Wide{cFloat, 0, value, {}});
}

ZV_API ZVDBRET zvdbSetFieldAsDateTime(ZVHANDLE record, int32_t n, ZVDATETIME value) {
    return write_wide(record, n, Wide{cDateTime, 0, value, {}});
}

ZV_API ZVDBRET zvdbSetFieldAsBigint(ZVHANDLE record, int32_t n, ZVBIGINT value) {
    return write_wide(record, n, Wide{cBigint, value, 0, {}});
}

ZV_API ZVDBRET zvdbSetFieldAsUnsignedBigint(ZVHANDLE record, int32_t n, ZVUBIGINT value) {
    return zvdbSetFieldAsBigint(record, n, ZVBIGINT(value));
}

ZV_API ZVDBRET zvdbSetFieldAsCurrency(ZVHANDLE record, int32_t n, ZVCURRENCY value) {
    return write_wide(record, n, Wide{cCurrency, value, 0, {}});
}

ZV_API ZVDBRET zvdbSetFieldAsNumber(ZVHANDLE record, int32_t n, const tagZVNUMBER *value) {
    Target t{};
    ZVDBRET rc = target_of(record, n, &t);
    if (rc == 0 && !value) rc = ZVDB_NULL_ARGUMENT;
    if (rc) return keep_code(record, rc);
    return write_wide(record, n, Wide{cNumber, 0, 0, *value});
}

ZV_API ZVDBRET zvdbSetFieldAsString(ZVHANDLE record, int32_t n, const char *text) {
    Target t{};
    ZVDBRET rc = target_of(record, n, &t);
    if (rc == 0 && !text) rc = ZVDB_NULL_ARGUMENT;
    if (rc) return keep_code(record, rc);
    if (t.cls == tJson) return zvdbSetFieldAsJSON(record, n, text);
    const size_t length = std::strlen(text);
    if (text_class(t.cls) && length > size_t(INT32_MAX)) rc = ZVDB_NAME_TOO_LONG;
    else if (t.cls == tFixText) rc = store_text(t, text, int32_t(length), true);
    else if (t.cls == tVarText) rc = store_text(t, text, int32_t(length), false);
    else rc = store_parsed(t, text);
    return finish(record, t, rc);
}

ZV_API ZVDBRET zvdbSetFieldAsJSON(ZVHANDLE record, int32_t n, const char *text) {
    Target t{};
    ZVDBRET rc = target_of(record, n, &t);
    if (rc == 0 && !text) rc = ZVDB_NULL_ARGUMENT;
    if (rc == 0) {
        const size_t length = std::strlen(text);
        rc = t.cls != tJson                      ? (field_type_info(t.type).code ? ZVDB_TYPE_UNSUPPORTED : ZVDB_BAD_MODE)
             : length > size_t(INT32_MAX)       ? ZVDB_NAME_TOO_LONG
                                                : store_text(t, text, int32_t(length), false);
    }
    return finish(record, t, rc);
}

ZV_API ZVDBRET zvdbSetFieldAsBlob(ZVHANDLE record, int32_t n, const tagZVBLOB *blob) {
    Target t{};
    ZVDBRET rc = target_of(record, n, &t);
    if (rc == 0 && (!blob || (!blob->data && blob->used > 0))) rc = ZVDB_BAD_KIND;
    if (rc == 0) rc = store_blob(t, blob);
    return finish(record, t, rc);
}

ZV_API ZVDBRET zvdbSetFieldAsBinary(ZVHANDLE record, int32_t n, const void *data, int32_t size) {
    if (size < 0) return keep_code(record, ZVDB_BAD_ARGUMENT);
    const tagZVBLOB blob{size, const_cast<void *>(data), size};
    return zvdbSetFieldAsBlob(record, n, &blob);
}

}  // extern "C"
