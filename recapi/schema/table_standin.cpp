// Least stand-ins of table routines whose own modules come later:
//  - the release of a full-text index handle (fti.h).
#include <cstring>
#include <initializer_list>

#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/schema/fti.h"
#include "recapi/schema/table.h"

extern "C" {

void zvdbFreeFTI(ZVHANDLE fti) {
    if (!fti || zv::handle_kind(fti) != ZVDB_FTI_HANDLE) return;
    auto *x = static_cast<tagZVDBFTI *>(fti);
    for (int32_t i = 0; i < _zvdbListCount(x->fieldlist); i++) {
        auto *entry = static_cast<ZVDBFTIFIELD *>(x->fieldlist->items[i]);
        _zvdb_free(entry->name);
        _zvdb_free(entry);
    }
    _zvdbListFree(x->fieldlist);
    for (char *text : {x->name, x->description, x->further}) _zvdb_free(text);
    _zvdb_free(x);
}

}  // extern "C"
