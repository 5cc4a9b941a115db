// The field-type table. Codes are few and sparse; a linear walk of the
// table is cheaper than anything cleverer for 30 entries.
#include "recapi/schema/fieldtype.h"

namespace zv {

namespace {

constexpr FieldTypeInfo kTypes[] = {
    {ZV_BOOL, "ZV_BOOL", 1, 0, 0, false},
    {ZV_CHAR, "ZV_CHAR", 1, 0, 0, true},
    {ZV_CHARU, "ZV_CHARU", 1, 0, 0, true},
    {ZV_INT2, "ZV_INT2", 2, 0, 0, true},
    {ZV_INT2U, "ZV_INT2U", 2, 0, 0, true},
    {ZV_INT4, "ZV_INT4", 4, 0, 0, true},
    {ZV_INT4U, "ZV_INT4U", 4, 0, 0, true},
    {ZV_MONEY, "ZV_MONEY", 4, 0, 0, true},
    {ZV_DATE, "ZV_DATE", 4, 0, 0, true},
    {ZV_TIME, "ZV_TIME", 4, 0, 0, true},
    {ZV_SFLOAT, "ZV_SFLOAT", 4, 0, 0, true},
    {ZV_DFLOAT, "ZV_DFLOAT", 8, 0, 0, true},
    {ZV_NUMBER, "ZV_NUMBER", 20, 0, 0, true},
    {ZV_EFLOAT, "ZV_EFLOAT", 0, 0, 0, true},
    {ZV_TIMES, "ZV_TIMES", 8, 0, 0, true},
    {ZV_ARRAY, "ZV_ARRAY", 0, 0, 0, false},
    {ZV_CURRENCY, "ZV_CURRENCY", 8, 0, 0, true},
    {ZV_FSTRING, "ZV_FSTRING", 0, 0, 0, false},
    {ZV_STRING, "ZV_STRING", 0, 1, 0, false},
    {ZV_FPSTRING, "ZV_FPSTRING", 0, 0, 1, false},
    {ZV_PSTRING, "ZV_PSTRING", 0, 1, 1, false},
    {ZV_F2STRING, "ZV_F2STRING", 0, 0, 2, false},
    {ZV_2STRING, "ZV_2STRING", 0, 2, 2, false},
    {ZV_F4STRING, "ZV_F4STRING", 0, 0, 4, false},
    {ZV_4STRING, "ZV_4STRING", 0, 4, 4, false},
    {ZV_BIGINT, nullptr, 8, 0, 0, true},
    {ZV_UBIGINT, nullptr, 8, 0, 0, true},
    {ZV_TIMES_MS, "ZV_TIMES_MS", 8, 0, 0, true},
    {ZV_TIME_MS, "ZV_TIME_MS", 4, 0, 0, true},
    {ZV_JSON, "ZV_JSON", 0, 4, 4, false},
};

constexpr FieldTypeInfo kUnknown = {0, nullptr, 0, 0, 0, false};

}  // namespace

const FieldTypeInfo &field_type_info(int32_t code) {
    for (const FieldTypeInfo &t : kTypes) {
        if (t.code == code) return t;
    }
    return kUnknown;
}

int32_t field_length_limit(int32_t code) { return code == ZV_FPSTRING || code == ZV_PSTRING ? 255 : 65535; }

}  // namespace zv

extern "C" {

ZV_API const char *_zvdbFieldTypeName(ZVFIELDTYPE type) { return zv::field_type_info(type).name; }

ZV_API int32_t _zvdbFixFieldLength(ZVFIELDTYPE type, int32_t length) {
    int32_t forced = zv::field_type_info(type).forced;
    return forced ? forced : length;
}

}  // extern "C"
