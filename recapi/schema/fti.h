// Full-text index handles of a table (tagZVDBFTI, recapi/base/handles.h):
// the entries of their field lists and their release.
#pragma once

#include <cstdint>

#include "recapi/base/handles.h"

// One field of a full-text index: the field's name (owned) and its mode.
struct ZVDBFTIFIELD {
    char *name;
    int32_t mode;
};

extern "C" {

// Frees a full-text index handle: its field entries, list, texts and the
// handle (NULL is ignored).
void zvdbFreeFTI(ZVHANDLE fti);

}  // extern "C"
