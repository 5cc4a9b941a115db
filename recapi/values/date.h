// Date routines shared with the date-time module.
#pragma once

#include <cstdint>

#include "zarvo/zvdb.h"

namespace zv {

// Reads year, month and day from the groups of a successful date match
// (groups 1..3, or group 1 for the compact types 5 and 6): 4029 when a
// compact group has the wrong length, 4019 for an unknown type.
ZVDBRET date_groups(const zvdb_regexp *re, ZVDATE_TYPE type, int *y, int *m, int *d);

}  // namespace zv

// Components of a caller-given date-time format: not supported, 4054.
ZVDBRET _getDateTimeComponent(const char *text, const char *format, int32_t component,
                              int32_t *value);
ZVDBRET _setDateTimeComponent(char *buffer, int32_t size, const char *format,
                              int32_t component, int32_t value);
