// File names and paths of the record-level API.
//
// Names are split with the session's path separator (item 150 of the
// engine's system configuration, read once per session). A superfile member
// name joins its host and member with '!'; a mirrored name follows the
// primary name after '|'. A session's path prefix is put in front of every
// relative name the API hands to the engine (not before a name that starts
// with the prefix, with the separator, or with a drive letter, ':' and the
// separator).
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"

extern "C" {

// The directory part of name into out (size bytes, zeroed first): up to and
// including the last '!' when it follows the last separator, else up to the
// last separator (excluded); empty without either. 0, 4007 NULL, 4006 a
// size below 1 or a part that does not fit.
ZVDBRET _zvdb_GetFilePath(const char *name, char *out, int32_t size, int sep);
// The file name without directory (the later of the last '!' and the last
// separator) and extension, from the primary part (before the last '|').
// Without `ext` the name ends at its last '.'; with `ext` it ends before
// that extension when the name is longer than it and ends with it (any
// case). 0, 4007 NULL name or out, 4006 a size below 1 or no room.
ZVDBRET _zvdb_GetFileNameXtd(const char *name, char *out, int32_t size, int sep, const char *ext);
ZVDBRET _zvdb_GetFileName(const char *name, char *out, int32_t size, int sep);
// The file name of the mirror part (after the last '|'), without directory
// and extension; empty and 0 without a '|'. 4007, 4006.
ZVDBRET _zvdb_GetMirrorFileName(const char *name, char *out, int32_t size, int sep);
// The extension with its '.', from the primary part (before the first '|')
// when its last '.' follows the last separator; else empty. 0, 4008 NULL
// name or out, 4006.
ZVDBRET _zvdb_GetFileExt(const char *name, char *out, int32_t size, int sep);
// A new string: directory, the separator when the directory is not empty
// and its last non-blank character is neither the separator nor '!', then
// the name. NULL name: the directory alone; NULL directory: the name alone;
// NULL on no memory (freed with _zvdb_free).
char *_zvdb_MakeFilePath(const char *directory, const char *name, int sep);
// 0 when directory + separator (when its last non-blank character is
// another) + name + extension exists; 4046 when it does not; 4007 NULL
// directory or name; 4001 no memory.
ZVDBRET _zvdbFileExist(const char *directory, const char *name, const char *ext, int sep);
// Replaces path (a buffer of size bytes) by the absolute form of the
// directory it names, without changing the working directory; an empty path
// gives the working directory. 4044 missing or unreadable, 4006 no room,
// 4007 NULL.
ZVDBRET _zvdb_FullPath(char *path, int32_t size);
// The session's path separator.
int _zvdbGetPathSeparator(ZVHANDLE handle);
// name with the session's prefix (see above) into out, size bytes: 0, 4003
// no session, 4007 NULL name or out, 4006 when it does not fit (out
// untouched).
ZVDBRET _zvdbFixPathPrefix(ZVHANDLE handle, const char *name, char *out, int32_t size);
// A copy of ifil whose data file name and alternate index file names carry
// the session's prefix; the copy owns those names, its index array and the
// segment arrays, and shares every other pointer with ifil. 0, 4003, 4007,
// 4001 (nothing made). Freed with _zvdbFixIfilFree.
ZVDBRET _zvdbFixIfilPath(ZVHANDLE handle, const IFIL *ifil, IFIL **copy);
void _zvdbFixIfilFree(IFIL *copy);
// The data file number of the open table the handle leads to; -1 without
// table or when it is closed.
int _zvdbGetDatno(ZVHANDLE handle);

}  // extern "C"

namespace zv {

// name with the session's prefix in a new string (freed with _zvdb_free):
// 0, 4003, 4007, 4001; 139 when it is longer than the engine takes.
ZVDBRET prefixed_name(ZVHANDLE handle, const char *name, char **out);

}  // namespace zv
