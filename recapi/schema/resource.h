// Resources of a table's data file as the record-level API reads them:
// what the resource handles (resource.cpp) share with the modules that keep
// the API's own resources (fldx.cpp).
//
// A resource record is type (u32, host order), number (u32, host order), a
// name ended by a zero byte, then the data bytes.
#pragma once

#include <cstdint>

#include "recapi/base/handles.h"

namespace zv {

// Engine read modes of a resource: by type and number, and the 12-byte
// header (type, number, record length) of the resource found by type and
// number, of the first resource, by name, and of the one after a type and
// number. A lock adds 1.
constexpr int kResReadByKey = 2;
constexpr int kResHeadByKey = 66;
constexpr int kResHeadFirst = 72;
constexpr int kResHeadByName = 80;
constexpr int kResHeadNext = 192;

// Whether an engine code of a resource read says that the resource is not
// there: 408, or 401 for a file whose resources were never enabled.
inline bool resource_absent(int rc) { return rc == 408 || rc == 401; }

// Reads the whole record of resource (type, number) of a data file into a
// new block of its exact length (freed with _zvdb_free): 0, 4001, or the
// engine's code (*out NULL then). The length comes from the engine's
// header read, so the block always holds the record whole.
ZVDBRET read_resource(int datno, uint32_t type, uint32_t number, unsigned char **out, int32_t *length);

// Rewrites "QV!DFLD" of the table's open data file from the null flag,
// precision, scale and binary flag of each field of the list, adding it
// when the file has none; stored entries of the current version keep their
// default words. 0, 4017 a list item that is no field, 4001, the engine's
// code (fldx.cpp).
ZVDBRET rewrite_field_attributes(tagZVDBTABLE *t);

}  // namespace zv
