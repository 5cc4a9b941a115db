// Tables of the record-level API: the table record lives with the other
// handle records (recapi/base/handles.h); this module keeps what the engine
// asks of a table.
#pragma once

#include "recapi/base/handles.h"
