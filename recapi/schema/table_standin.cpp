// Least stand-in of the table close that the session layer calls
// (table_calls.h), until tables are built: 4054.
#include "recapi/schema/table_calls.h"

extern "C" {

ZVDBRET zvdbCloseTable(ZVHANDLE) { return ZVDB_NOT_SUPPORTED; }

}  // extern "C"
