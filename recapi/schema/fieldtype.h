// Field types of the record-level API: one table over the ZV_ codes of
// zarvo/zvtypes.h with each type's name, forced length, variable-length
// kind, length-prefix width and whether it is numeric.
#pragma once

#include <cstdint>

#include "zarvo/zvdb.h"

namespace zv {

struct FieldTypeInfo {
    int32_t code;
    const char *name;  // NULL for types without a name text
    int32_t forced;    // length the type forces; 0: the caller's length stays
    int32_t varlen;    // variable-length kind: 1, 2, 4; 0 for fixed-length types
    int32_t prefix;    // width of the length prefix of prefixed strings; 0 otherwise
    bool numeric;
};

// The entry of a code; unknown codes give an entry with code 0, no name,
// nothing forced, fixed length and not numeric.
const FieldTypeInfo &field_type_info(int32_t code);

// The longest length a field of the type may have: 255 for ZV_FPSTRING and
// ZV_PSTRING, 65535 for the others.
int32_t field_length_limit(int32_t code);

}  // namespace zv
