// Least stand-ins of the record services of table close and open
// (record_calls.h): each does nothing.
#include "recapi/schema/record_calls.h"

extern "C" {

ZVDBRET zvdbFilterAll(ZVHANDLE) { return 0; }
ZVDBRET zvdbFreeResultSet(ZVHANDLE) { return 0; }

}  // extern "C"
