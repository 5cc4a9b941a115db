// Table handles (least form): the table a handle leads to and the record
// schema map it carries. Only a table handle itself leads to a table until
// the handle tree of the record-level API links records, indexes and
// fields to theirs.
#include "recapi/schema/table.h"

#include <cstring>

#include "engine/expr/recapi_upcalls.h"

extern "C" {

ZVHANDLE zvdbGetTableHandle(ZVHANDLE handle) {
    if (!handle) return nullptr;
    uint16_t kind;
    memcpy(&kind, handle, sizeof kind);
    return kind == kZvdbTableKind ? handle : nullptr;
}

const unsigned char *_zvdbTableSchemaMap(ZVHANDLE table) {
    ZVHANDLE t = zvdbGetTableHandle(table);
    return t ? static_cast<const tagZVDBTABLE *>(t)->schmap : nullptr;
}

}  // extern "C"
