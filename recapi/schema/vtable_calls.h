// Virtual-table and partition reads that table open asks of the virtual
// table module before that module exists.
//
// Stand-ins until it lands (vtable_standin.cpp): no table is ever a
// virtual table (opening one goes through a database dictionary, which
// cannot be had yet) and no partitioned file can be made, so the schema
// read answers 4054 and the partition rule read finds no rule; no table
// holds a virtual-table definition resource, so removing one finds none
// (408).
#pragma once

#include "recapi/base/handles.h"

extern "C" {

// Reads the record schema of a virtual table from its host's resource: 0
// or the code.
ZVDBRET _zvdbReadVTableSchema(tagZVDBTABLE *t);
// The partition rule kept in a partitioned data file into *rule (a new
// string, NULL when it has none): 0 or the code.
ZVDBRET _allocAndGetPARTRES(ZVHANDLE table, char **rule);
// Removes the virtual-table definition of that number from an open host
// table: 0, 4012, the resource calls' codes (408 none).
ZVDBRET zvdbRemoveVTableResource(ZVHANDLE table, int32_t number);

}  // extern "C"
