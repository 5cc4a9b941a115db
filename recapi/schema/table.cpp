// What the engine asks of a table handle: the record description of its
// open data file, which the expression language binds parse trees to.
#include "recapi/schema/table.h"

#include "engine/expr/recapi_upcalls.h"

extern "C" {

const unsigned char *_zvdbTableSchemaMap(ZVHANDLE table) {
    auto *t = static_cast<const tagZVDBTABLE *>(zvdbGetTableHandle(table));
    return t ? t->recdesc : nullptr;
}

}  // extern "C"
