// Small text helpers shared by the value types.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zarvo/zvdb.h"

namespace zv {

// Copies text (len characters and its terminator) into buffer when it fits:
// 4007 for a NULL buffer, 4006 when len is not less than size.
ZVDBRET put_text(const char *text, size_t len, char *buffer, int32_t size);
// Decimal text of a magnitude with an optional "-" into scratch (at least 22
// bytes); returns its length.
size_t u64_text(uint64_t magnitude, bool negative, char *scratch);
// First character that is not white space.
const char *skip_blanks(const char *p);
// Decimal digits from p up to the first non-digit, wrapping modulo 2^64.
uint64_t scan_digits(const char *p);

}  // namespace zv
