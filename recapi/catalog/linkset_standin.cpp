// Least stand-in of the dictionary's record set (linkset_calls.h).
#include "recapi/catalog/linkset_calls.h"

extern "C" {

ZVDBRET _zvdbDictRecordSetOn(ZVHANDLE, int32_t) { return ZVDB_NOT_SUPPORTED; }

}  // extern "C"
