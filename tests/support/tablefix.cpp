#include "tests/support/tablefix.h"

#include "recapi/base/handles.h"

namespace zvtest {

ZVHANDLE make_table(const unsigned char *schmap) {
    auto *t = static_cast<tagZVDBTABLE *>(_zvdb_alloc(1, sizeof(tagZVDBTABLE)));
    if (t) {
        t->kind = ZVDB_TABLE_HANDLE;
        t->datno = -1;
        t->recdesc = const_cast<unsigned char *>(schmap);
    }
    return t;
}

void free_table(ZVHANDLE table) { _zvdb_free(table); }

}  // namespace zvtest
