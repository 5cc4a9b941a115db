// Full-text index handles of a table (tagZVDBFTI, recapi/base/handles.h):
// the entries of their field lists. The handles and their parameter texts
// are made and released in fti.cpp (declared in zarvo/zvdb.h).
#pragma once

#include <cstdint>

#include "recapi/base/handles.h"

// One field of a full-text index: the field's name (owned) and its mode.
struct ZVDBFTIFIELD {
    char *name;
    int32_t mode;
};
