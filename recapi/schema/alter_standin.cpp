// Least stand-in of the dictionary call of the alteration (alter_calls.h).
#include "recapi/schema/alter_calls.h"

extern "C" {

ZVDBRET _zvdbDictUpdateIndex(ZVHANDLE) { return ZVDB_NOT_SUPPORTED; }

}  // extern "C"
