// Field alignment and byte order of record schemas: the two services of
// the ISAM layer that record conversion walks with (see fieldorder.cpp).
#pragma once

#include <cstdint>

namespace zv {

// Padding bytes to put before a field of `type` at `cursor` so that it is
// aligned under the schema's alignment setting `align`. Never fails.
int32_t zvadjadr(int align, int type, const void *cursor);
// Converts one field value in place between little-endian stored order and
// host order: 1 when it changed the field, 0 when the type has no byte
// order. `len` 0 takes the width of the type; a type whose width is fixed
// (the length prefixes of the prefixed strings) always takes its width.
int zvadjfld(int type, void *field, int32_t len);

}  // namespace zv
