// Virtual close of open files.
//
// Until the open-file ring exists no file holds a descriptor that could be
// released, so a request to free one releases nothing, and no file is in
// the virtually closed state that would need reopening.
#include "engine/core/upcalls.h"

namespace zv {

int vtclosex_one() { return 0; }

int reopen_closed_file(FCB *) { return 38; }

}  // namespace zv
