// Calls from the session, table and index layers up into the dictionaries
// and the databases.
//
// A session owns one dictionary object for its session dictionary; logon
// opens it, session creation creates it, logout and detach close it. The
// session also reads the database entries of that dictionary and
// disconnects its databases at logout. Tables of a database are found,
// entered and deleted through its dictionary, and kept in its list of open
// tables while open; index names of a database are checked against it, and
// an alteration rewrites a table's index entries (_zvdbDictUpdateIndex).
// The public routines of the catalogue are declared in zarvo/zvdb.h; these
// are the ones the layers below call that applications do not.
#pragma once

#include <cstdint>

#include "recapi/base/handles.h"

extern "C" {

// 1 when the open dictionary is a member of a superfile host, else 0.
int _zvdbDictInSuperfile(ZVDBDICT *dict);
// Before a file named "host!member" is opened or made through a handle of
// a connected database: when the host is that database's dictionary host,
// the dictionary's files stay open from then on until the database is
// disconnected (they are otherwise open only inside each of its
// operations), so that the member and the dictionary share the host's one
// open in the instance. 0, or the code of the dictionary's open.
int _zvdbDictPinHost(ZVHANDLE handle, const char *name);
// 1 when a dictionary open's failure `rc` (zvGetSystemErrorCode() as the
// open left it) is another open's lock that the open waited for in vain:
// an exclusive open would be refused too, and a session or database is not
// made exclusive by it.
int _zvdbDictOpenRefused(ZVDBRET rc);
// Gives the object a new record handle on its (newly created) table: 0,
// 4001.
ZVDBRET _zvdbDictRenewRecord(ZVDBDICT *dict);
// The database's list of its open tables: a table opened through it is
// added, a closed one removed (nothing when it is not listed). 0 or the
// list's code.
ZVDBRET _zvdbAddActiveTable(ZVHANDLE database, ZVHANDLE table);
ZVDBRET _zvdbRemoveActiveTable(ZVHANDLE database, ZVHANDLE table);
// 1 when the dictionary of the connected database the handle leads to
// holds an index entry of that name (any letter case) whose table has its
// entry, else 0 (an entry left without its table is taken over by the next
// table that names the index); nothing is kept as the last code.
int _zvdbDictHoldsIndex(ZVHANDLE handle, const char *name);

}  // extern "C"
