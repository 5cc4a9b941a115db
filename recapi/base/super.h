// Superfile host descriptors: the host file in which a dictionary keeps its
// tables as members. A descriptor names the host, remembers the file number
// while it is open (-1 closed) and how it was opened, and how a new host is
// to be created. The owner is the session or database handle through which
// the session (its prefix and separator) is reached.
#pragma once

#include <cstdint>

#include "zarvo/zvdb.h"

struct ZVDBSUPER {
    char *hostname;       // host file name
    int32_t filno;        // -1 while closed
    int32_t exclusive;    // opened exclusively
    ZVHANDLE owner;
    int32_t createsel;    // create selector, 0
    int32_t createkind;   // create kind, 3
    int32_t createflags;  // create flags, 2
};

extern "C" {

// A new closed descriptor, or NULL when memory is short.
ZVDBSUPER *_zvdbSuperAlloc(ZVHANDLE owner);
// Replaces the host name by a copy: 0, 4008 NULL, 4001.
ZVDBRET _zvdbSuperSetPath(ZVDBSUPER *desc, const char *path);
// Host name = directory joined with name + extension: 0, 4007, 4001.
ZVDBRET _zvdbSuperSetName(ZVDBSUPER *desc, const char *directory, const char *name, const char *ext);
const char *_zvdbSuperGetName(const ZVDBSUPER *desc);
int _zvdbSuperIsOpen(const ZVDBSUPER *desc);
int _zvdbSuperIsExclusive(const ZVDBSUPER *desc);
// Opens the host (prefixed) at the first of two free file numbers, in mode
// 512 (exclusive) or 513 (shared): 0, 4007, the engine's codes.
ZVDBRET _zvdbSuperOpen(ZVDBSUPER *desc, int exclusive);
// Nothing when open that way already; else closes and opens.
ZVDBRET _zvdbSuperReopen(ZVDBSUPER *desc, int exclusive);
// 0 (also when closed); close codes 127 and 128 count as closed, others
// are returned (the descriptor closed all the same); 4007.
ZVDBRET _zvdbSuperClose(ZVDBSUPER *desc);
// Reopens exclusively and deletes the host.
ZVDBRET _zvdbSuperDrop(ZVDBSUPER *desc);
// Closes when open; frees the name and the descriptor.
void _zvdbSuperFree(ZVDBSUPER *desc);
// Creates the host (prefixed) with an extended header, mode 514: 0, 4007,
// 4025 a bad create kind, 83, the engine's codes. It stays open
// exclusively.
ZVDBRET _zvdbSuperCreate(ZVDBSUPER *desc);

}  // extern "C"
