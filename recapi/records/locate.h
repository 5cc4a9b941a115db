// Filter texts built from field names and callers' values (locate.cpp),
// shared by locate criteria and result sets (resultset.cpp).
//
// A value never changes the expression it is written into: a text value
// goes between double quotes with every '"' and '\' escaped by a
// backslash; any other value must be a single literal (an optional sign and
// a decimal or "0x" number, or one single-quoted date or time literal). A
// field name goes bare only when the expression language reads it alone
// as that field; otherwise it goes between square brackets, which cannot
// hold a blank or ']'.
#pragma once

#include <cstdint>
#include <string>

#include "recapi/base/handles.h"

namespace zv {

// The string field types, whose comparisons go through the text functions.
bool string_field_type(int32_t type);

// Appends to `text` the comparison of field f of table t with value:
//  - a string field: "<fn>( <name>, \"<value>\" ) <op>0 " with fn strcmp
//    (mode 0), stricmp (1); modes 2 and 3 (strncmp, strnicmp) add ", <n>"
//    after the quoted value, n the value's length in bytes; any other mode
//    is 4004;
//  - any other field: "<name><op><value>", or with `spaced`
//    "<name> <op><value> ".
// op is the comparison with its trailing blank ("== ", "<= ", ...). 0, 4004
// (a name or value that cannot be written), 4001, the table's expression
// schema codes. On failure `text` may hold part of the comparison.
ZVDBRET append_comparison(std::string &text, tagZVDBTABLE *t, const tagZVDBFIELD *f, int32_t mode, const char *op,
                          const char *value, bool spaced);

}  // namespace zv
