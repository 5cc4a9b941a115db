// A numeric value carried from a field of one record into a field of
// another record whose type differs, as the copy of a table alteration
// does: the value is converted, never its bytes taken for the new type,
// and a value the new type cannot hold is refused.
//
// The numeric types fall into kinds by the typed reader and writer that
// carry them: 32-bit signed (ZV_CHAR, ZV_INT2, ZV_INT4), 32-bit unsigned
// (ZV_CHARU, ZV_INT2U, ZV_INT4U), 64-bit (ZV_BIGINT, ZV_UBIGINT), float
// (ZV_SFLOAT, ZV_DFLOAT), money, currency and number. ZV_EFLOAT is numeric
// but of no kind: no reader or writer takes it.
#pragma once

#include <cstdint>

#include "recapi/base/handles.h"

namespace zv {

// How a copy takes a value of field type `from` to a field of type `to`.
enum class CopyRoad : uint8_t {
    kOther,    // not two numeric types: the copy's own road for the pair
    kBytes,    // one numeric type: the bytes as they are
    kConvert,  // two numeric kinds or widths: copy_numeric
    kNone,     // ZV_EFLOAT to or from another type: no road (4042)
};
CopyRoad copy_road(int32_t from, int32_t to);

// Field n of record `from`, of numeric type `fromtype`, converted into
// field j of record `to`, of numeric type `totype` (a kConvert pair), and
// checked against the new type's range and sign before anything is
// stored. An integer type takes the integer part (truncated toward zero);
// money and currency take the value to their places, rounded half away
// from zero from a double and truncated otherwise; a ZV_SFLOAT takes any
// double within its range, a number any double below 10^124 in magnitude;
// NaN and the infinities fit only the float types. 0; 4038 for a value above the new type's range (and NaN), 4039
// below it (also a negative integer part into an unsigned type); 4042 for
// a pair that is not kConvert; the readers' and writers' codes.
ZVDBRET copy_numeric(ZVHANDLE from, int32_t n, int32_t fromtype, ZVHANDLE to, int32_t j, int32_t totype);

}  // namespace zv
