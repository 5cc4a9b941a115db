// Named file mutexes of the instance, and the core's reports of a damaged
// index (see filemutex.cpp).
#pragma once

#include "zarvo/zarvo.h"

namespace zv {

// Releases every named mutex the current instance holds and frees their
// table (stop road).
void filmtx_release_all();

}  // namespace zv

extern "C" {
// Logs message and the file name, and switches the space-management index
// of a variable-length data file off. Returns the log's code.
int invspcmgtidx(FCB *fcb, const char *message);
}
