// The ISAM layer's answers to the engine core (see engine/core/isamcalls.h).
//
// Until the ISAM tables exist there is nothing to grow and no file has
// companions.
#include "engine/core/isamcalls.h"

namespace zv {

int isam_grow_tables(int) { return 1; }

const int16_t *isam_companions(int) { return nullptr; }

}  // namespace zv
