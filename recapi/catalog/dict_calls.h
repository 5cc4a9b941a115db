// Calls from the session and table layers up into the dictionaries and the
// databases.
//
// A session owns one dictionary object for its session dictionary; logon
// opens it, session creation creates it, logout and detach close it. The
// session also reads the database entries of that dictionary, disconnects
// its databases at logout, and registers tables through a database of its
// own (zvdbAddTableToDatabase). Tables of a database are found, entered
// and deleted through its dictionary, and kept in its list of open tables
// while open. These are the only routines of the dictionary and database
// layer that the layers below it call.
#pragma once

#include <cstdint>

#include "recapi/base/handles.h"

// One entry of a dictionary as every read fills it and every write takes it.
struct ZVDBDICTENTRY {
    uint32_t type;          // 1 database, 2 table, 3 index, 5 SQL mark, 0x10002 virtual table
    uint32_t status;        // 0 in use, 1 reserved
    char name[129];
    char physname[129];
    char link[129];
    uint32_t linknbr;
    char path[256];
    char supext[17];
    char datext[17];
    char idxext[17];
    uint32_t version;
    uint32_t counter;
    uint32_t uid;
    char owner[129];
    char mirrorname[129];
    char mirrorpath[256];
};

extern "C" {

// ---- The dictionary object -------------------------------------------------
// A new closed dictionary object for the handle's session, of kind 1
// (session dictionary) or 0 (database dictionary); NULL with 4001 kept when
// memory is short.
ZVDBDICT *_zvdbAllocDict(ZVHANDLE handle, int kind);
// Frees the object and what it holds (NULL is ignored): 0.
ZVDBRET _zvdbFreeDict(ZVDBDICT *dict);
// Opens the dictionary of name (path and base name, no extension),
// exclusively or shared, trying a superfile host first when trysuper.
ZVDBRET _zvdbOpenDict(ZVDBDICT *dict, const char *name, int exclusive, int trysuper);
// Creates the dictionary of name, as a superfile member when insuper.
ZVDBRET _zvdbCreateDict(ZVDBDICT *dict, const char *name, int insuper);
// Closes the table and its host: 0 (also when not open).
ZVDBRET _zvdbCloseDict(ZVDBDICT *dict);
// 1 when the open dictionary is a member of a superfile host, else 0.
int _zvdbDictInSuperfile(ZVDBDICT *dict);
// Gives the object a new record handle on its (newly created) table: 0,
// 4001.
ZVDBRET _zvdbDictRenewRecord(ZVDBDICT *dict);

// ---- Database entries of the session dictionary -----------------------------
ZVDBRET _zvdbDictFirstDatabase(ZVHANDLE handle, ZVDBDICTENTRY *entry);
ZVDBRET _zvdbDictNextDatabase(ZVHANDLE handle, ZVDBDICTENTRY *entry);
ZVDBRET _zvdbDictFindDatabase(ZVHANDLE handle, const char *name, ZVDBDICTENTRY *entry);
ZVDBRET _zvdbDictFindDatabaseByUID(ZVHANDLE handle, uint32_t uid, ZVDBDICTENTRY *entry);
// Number of database entries; -1 on failure.
int32_t _zvdbDictGetDatabaseCount(ZVHANDLE handle);

// ---- Database handles --------------------------------------------------------
ZVHANDLE zvdbAllocDatabase(ZVHANDLE session);
ZVDBRET zvdbFreeDatabase(ZVHANDLE database);
ZVDBRET zvdbCreateDatabase(ZVHANDLE handle, const char *name, const char *path);
ZVDBRET zvdbConnect(ZVHANDLE database, const char *name);
ZVDBRET zvdbDisconnect(ZVHANDLE database);
// Disconnects every connected database of the session; the first failure
// stops it.
ZVDBRET zvdbDisconnectAll(ZVHANDLE session);
ZVDBRET zvdbDropTable(ZVHANDLE database, const char *name);
ZVDBRET zvdbAddTable(ZVHANDLE database, const char *name, const char *path);
ZVDBRET zvdbGetActiveDatabaseUID(ZVHANDLE database, uint32_t *out);

// ---- Tables of a database ------------------------------------------------------
// The file path of the dictionary's table of that name into path: 0, 4006.
ZVDBRET zvdbFindTable(ZVHANDLE handle, const char *name, char *path, int32_t size);
// Registers an existing data file under a logical name.
ZVDBRET zvdbAddTableXtd(ZVHANDLE handle, const char *name, const char *file, const char *path);
// Drops the entry of the table and deletes its files: 0, 4011 open.
ZVDBRET zvdbDeleteTable(ZVHANDLE handle, const char *name, const char *password);
// The dictionary entry of a table by name or UID: 0, 101 none.
ZVDBRET _zvdbDictFindTable(ZVHANDLE handle, const char *name, ZVDBDICTENTRY *entry);
ZVDBRET _zvdbDictFindTableByUID(ZVHANDLE handle, uint32_t uid, ZVDBDICTENTRY *entry);
// The database's list of its open tables: a table opened through it is
// added, a closed one removed (nothing when it is not listed). 0 or the
// list's code.
ZVDBRET _zvdbAddActiveTable(ZVHANDLE database, ZVHANDLE table);
ZVDBRET _zvdbRemoveActiveTable(ZVHANDLE database, ZVHANDLE table);

}  // extern "C"
