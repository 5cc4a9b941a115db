// Calls from the session layer up into the tables: logout and the
// deactivation of a handle tree close the open tables below a session.
#pragma once

#include "zarvo/zvdb.h"

extern "C" {

// Closes an open table (its files, record contexts and records' positions):
// 0, or the close's failure (zvdb.h says when the table stays open).
ZVDBRET zvdbCloseTable(ZVHANDLE table);

}  // extern "C"
