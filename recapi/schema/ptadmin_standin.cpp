// Least stand-in of the engine's partition administration
// (ptadmin_calls.h): not available, 454.
#include "recapi/schema/ptadmin_calls.h"

extern "C" {

int _zvdbPTADMIN(int, const char *, int32_t, int) { return 454; }

}  // extern "C"
