// The keyword table and the built-in function names.
//
// symtab is searched by binary search with letters compared upper-cased;
// the compile-time check below keeps it sorted that way. A name that is a
// function gives the lexer a function token; AS and CAST their own
// tokens; a type name is an ordinary identifier that CAST looks up here.
#include "engine/expr/keywords.h"

namespace zv {

namespace {

constexpr int32_t kAs = kClassAs;
constexpr int32_t kCast = kClassCast;
constexpr int32_t kFunc = kClassFunction;
constexpr int32_t kType = kClassType;

constexpr unsigned char upper(unsigned char c) { return (c >= 'a' && c <= 'z') ? uint8_t(c - 32) : c; }

// <0, 0, >0 as a[0..alen) orders against the NUL-terminated b, upper-cased.
constexpr int compare(const char *a, int32_t alen, const char *b) {
    int32_t i = 0;
    for (; i < alen && b[i]; i++) {
        unsigned char x = upper(static_cast<unsigned char>(a[i]));
        unsigned char y = upper(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (i < alen) return 1;
    return b[i] ? -1 : 0;
}

constexpr int32_t length(const char *s) {
    int32_t n = 0;
    while (s[n]) n++;
    return n;
}

}  // namespace

constexpr Keyword symtab[kKeywords] = {
    {"ABS", kFunc, 1, 1, 9, 0, nullptr},
    {"ACOS", kFunc, 1, 1, 14, 1, nullptr},
    {"ADD_DAYS", kFunc, 2, 2, 10, 2, nullptr},
    {"ADD_MONTHS", kFunc, 2, 2, 10, 3, nullptr},
    {"AS", kAs, 0, 0, 0, -1, nullptr},
    {"ASCII", kFunc, 1, 1, 9, 4, nullptr},
    {"ASIN", kFunc, 1, 1, 14, 5, nullptr},
    {"ATAN", kFunc, 1, 1, 14, 6, nullptr},
    {"ATOF", kFunc, 1, 1, 14, 7, nullptr},
    {"ATOI", kFunc, 1, 1, 9, 8, nullptr},
    {"ATOL", kFunc, 1, 1, 9, 9, nullptr},
    {"BIGINT", kType, 0, 0, 14, -1, nullptr},
    {"BINARY", kType, 0, 0, 15, -1, nullptr},
    {"BIT", kType, 0, 0, 9, -1, nullptr},
    {"CAST", kCast, 0, 0, 0, -1, nullptr},
    {"CEIL", kFunc, 1, 1, 14, 10, nullptr},
    {"CEILING", kFunc, 1, 1, 14, 11, nullptr},
    {"CHAR", kType, 0, 0, 15, -1, nullptr},
    {"CHARACTER", kType, 0, 0, 15, -1, nullptr},
    {"CHR", kFunc, 1, 1, 15, 13, nullptr},
    {"CONCAT", kFunc, 2, 2, 15, 14, nullptr},
    {"COS", kFunc, 1, 1, 14, 16, nullptr},
    {"CURDATE", kFunc, 0, 0, 10, 17, nullptr},
    {"CURTIME", kFunc, 0, 0, 11, 18, nullptr},
    {"DATE", kType, 0, 0, 10, -1, nullptr},
    {"DAYNAME", kFunc, 1, 1, 15, 19, nullptr},
    {"DAYOFMONTH", kFunc, 1, 1, 9, 20, nullptr},
    {"DAYOFWEEK", kFunc, 1, 1, 9, 21, nullptr},
    {"DAYOFYEAR", kFunc, 1, 1, 9, 22, nullptr},
    {"DECIMAL", kType, 0, 0, 14, -1, nullptr},
    {"EXP", kFunc, 1, 1, 14, 23, nullptr},
    {"FABS", kFunc, 1, 1, 14, 24, nullptr},
    {"FIELD", kFunc, 2, 2, 15, 85, nullptr},
    {"FLOAT", kType, 0, 0, 14, -1, nullptr},
    {"FLOOR", kFunc, 1, 1, 14, 25, nullptr},
    {"FMOD", kFunc, 2, 2, 14, 26, nullptr},
    {"HOUR", kFunc, 1, 1, 9, 28, nullptr},
    {"INSERT", kFunc, 4, 4, 15, 29, nullptr},
    {"INTEGER", kType, 0, 0, 9, -1, nullptr},
    {"LABS", kFunc, 1, 1, 9, 31, nullptr},
    {"LAST_DAY", kFunc, 1, 1, 9, 32, nullptr},
    {"LEFT", kFunc, 2, 2, 15, 35, nullptr},
    {"LENGTH", kFunc, 1, 1, 9, 36, nullptr},
    {"LOCATE", kFunc, 2, 3, 9, 37, nullptr},
    {"LOG10", kFunc, 1, 1, 14, 38, nullptr},
    {"LOWER", kFunc, 1, 1, 15, 39, nullptr},
    {"LPAD", kFunc, 2, 3, 15, 40, nullptr},
    {"LTRIM", kFunc, 1, 2, 15, 41, nullptr},
    {"LVARBINARY", kType, 0, 0, 15, -1, nullptr},
    {"LVARCHAR", kType, 0, 0, 15, -1, nullptr},
    {"MATCH", kFunc, 2, 2, 9, 82, nullptr},
    {"MATCHI", kFunc, 2, 2, 9, 83, nullptr},
    {"MEMCMP", kFunc, 3, 3, 9, 42, nullptr},
    {"MINUTE", kFunc, 1, 1, 9, 43, nullptr},
    {"MOD", kFunc, 2, 2, 9, 44, nullptr},
    {"MONEY", kType, 0, 0, 14, -1, nullptr},
    {"MONTH", kFunc, 1, 1, 9, 45, nullptr},
    {"MONTHNAME", kFunc, 1, 1, 15, 46, nullptr},
    {"NOW", kFunc, 0, 0, 13, 47, nullptr},
    {"NUMBER", kType, 0, 0, 14, -1, nullptr},
    {"NUMERIC", kType, 0, 0, 14, -1, nullptr},
    {"PI", kFunc, 0, 0, 14, 51, nullptr},
    {"POWER", kFunc, 2, 2, 14, 52, nullptr},
    {"QUARTER", kFunc, 1, 1, 9, 54, nullptr},
    {"RAND", kFunc, 0, 1, 9, 55, nullptr},
    {"REAL", kType, 0, 0, 14, -1, nullptr},
    {"REPEAT", kFunc, 2, 2, 15, 56, nullptr},
    {"RIGHT", kFunc, 2, 2, 15, 58, nullptr},
    {"ROWID", kFunc, 0, 0, 14, 84, nullptr},
    {"RPAD", kFunc, 2, 3, 15, 59, nullptr},
    {"RTRIM", kFunc, 1, 2, 15, 60, nullptr},
    {"SECOND", kFunc, 1, 1, 9, 61, nullptr},
    {"SIGN", kFunc, 1, 1, 9, 62, nullptr},
    {"SIN", kFunc, 1, 1, 14, 63, nullptr},
    {"SMALLINT", kType, 0, 0, 9, -1, nullptr},
    {"SPACE", kFunc, 1, 1, 15, 64, nullptr},
    {"SQRT", kFunc, 1, 1, 14, 65, nullptr},
    {"STRCMP", kFunc, 2, 2, 9, 66, nullptr},
    {"STRICMP", kFunc, 2, 2, 9, 67, nullptr},
    {"STRLEN", kFunc, 1, 1, 9, 68, nullptr},
    {"STRNCMP", kFunc, 3, 3, 9, 69, nullptr},
    {"STRNICMP", kFunc, 3, 3, 9, 70, nullptr},
    {"SUBSTRING", kFunc, 2, 3, 15, 72, nullptr},
    {"SYSDATE", kFunc, 0, 0, 10, 74, nullptr},
    {"SYSTIME", kFunc, 0, 0, 11, 75, nullptr},
    {"SYSTIMESTAMP", kFunc, 0, 0, 13, 76, nullptr},
    {"TAN", kFunc, 1, 1, 14, 77, nullptr},
    {"TIME", kType, 0, 0, 11, -1, nullptr},
    {"TIMESTAMP", kType, 0, 0, 13, -1, nullptr},
    {"TIMET2ZVDATE", kFunc, 1, 2, 10, 92, nullptr},
    {"TIMET2ZVTIME", kFunc, 1, 2, 11, 93, nullptr},
    {"TIMET2ZVTIMES", kFunc, 1, 2, 13, 94, nullptr},
    {"TINYINT", kType, 0, 0, 9, -1, nullptr},
    {"UPPER", kFunc, 1, 1, 15, 79, nullptr},
    {"VARBINARY", kType, 0, 0, 15, -1, nullptr},
    {"VARCHAR", kType, 0, 0, 15, -1, nullptr},
    {"WEEK", kFunc, 1, 1, 9, 80, nullptr},
    {"YEAR", kFunc, 1, 1, 9, 81, nullptr},
};

namespace {

constexpr bool sorted() {
    for (int i = 1; i < kKeywords; i++)
        if (compare(symtab[i - 1].name, length(symtab[i - 1].name), symtab[i].name) >= 0) return false;
    return true;
}
static_assert(sorted(), "the keyword table is sorted by upper-cased name");

}  // namespace

const Keyword *find_keyword(const char *name, int32_t len) {
    int lo = 0, hi = kKeywords - 1;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        int c = compare(name, len, symtab[mid].name);
        if (c == 0) return &symtab[mid];
        if (c < 0) hi = mid - 1;
        else lo = mid + 1;
    }
    return nullptr;
}

const char *const FunName[kFunctions] = {
    "ABS", "ACOS", "ADD_DAYS", "ADD_MONTHS", "ASCII", "ASIN",
    "ATAN", "ATOF", "ATOI", "ATOL", "CEIL", "CEILING",
    "CHAR", "CHR", "CONCAT", "CONVERT", "COS", "CURDATE",
    "CURTIME", "DAYNAME", "DAYOFMONTH", "DAYOFWEEK", "DAYOFYEAR", "EXP",
    "FABS", "FLOOR", "FMOD", "GREATEST", "HOUR", "INSERT",
    "INSTR", "LABS", "LAST_DAY", "LCASE", "LEAST", "LEFT",
    "LENGTH", "LOCATE", "LOG10", "LOWER", "LPAD", "LTRIM",
    "MEMCMP", "MINUTE", "MOD", "MONTH", "MONTHNAME", "NOW",
    "PACK_DATE", "PACK_TIME", "PACK_TIMESTAMP", "PI", "POWER", "PREFIX",
    "QUARTER", "RAND", "REPEAT", "REPLACE", "RIGHT", "RPAD",
    "RTRIM", "SECOND", "SIGN", "SIN", "SPACE", "SQRT",
    "STRCMP", "STRICMP", "STRLEN", "STRNCMP", "STRNICMP", "SUBSTR",
    "SUBSTRING", "SUFFIX", "SYSDATE", "SYSTIME", "SYSTIMESTAMP", "TAN",
    "UCASE", "UPPER", "WEEK", "YEAR", "MATCH", "MATCHI",
    "ROWID", "FIELD", "BETWEEN", "BETWEENi", "SQLSTRNCMP", "SQLSTRNICMP",
    "IN", "INi", "TIMET2ZVDATE", "TIMET2ZVTIME", "TIMET2ZVTIMES", "FN_LAST",
};

}  // namespace zv
