// Table record of the record-level API (least form).
//
// A table handle carries the kind word every handle record begins with and
// the record schema map of its data file (the layout the engine keeps on a
// file control block: 16-byte head, 6-byte field entries). Table
// definitions with their fields, indexes, segments and properties replace
// this form.
#pragma once

#include <cstdint>

#include "zarvo/zvdb.h"

// Kind word of a table handle.
constexpr uint16_t kZvdbTableKind = 3507;

struct tagZVDBTABLE {
    uint16_t kind;                 // 3507
    const unsigned char *schmap;   // record schema map; null: none (not owned)
};
