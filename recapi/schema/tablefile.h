// A table's engine files: what table creation (table_create.cpp), open and
// attach (table_open.cpp) and close (table_close.cpp) share with each other
// and with the later table services (rebuild, alteration, records).
//
// A table is closed (datno -1, not active, no definition) or active: its
// data file open (or attached), its record schema (doda, names inside the
// same block), record description and file definition (ifil, one block
// whose pointers all lie inside it) read from the files, its field and index
// handles built from them with status 0. Every change of that state gives
// the table a new layout stamp.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "recapi/base/handles.h"
#include "zarvo/zarvo.h"

// Create-mode bits of a table.
namespace zv::cmode {
constexpr uint32_t kHuge = 0x100;          // 64-bit positions: longer hidden fields and suffixes
constexpr uint32_t kNoDelField = 0x200;    // no "$DELFLD$"
constexpr uint32_t kNoNullField = 0x400;   // no "$NULFLD$"
constexpr uint32_t kNoRowid = 64;          // no "$ROWID$" field and index
constexpr uint32_t kNoRecbyt = 32;         // no "$RECBYT$" index
constexpr uint32_t kShortDelField = 0x1000;  // "$DELFLD$" of 4 bytes
constexpr uint32_t kPartitioned = 0x800;
constexpr uint32_t kUnkeyedPartition = 0x8000;  // refused: a partitioned data file without partition index
constexpr uint32_t kExtVariable = 0x2000;  // variable-length file of the extended form
constexpr uint32_t kVariable = 16;
}  // namespace zv::cmode

extern "C" {

// ---- Creation (table_create.cpp) -------------------------------------------
// Builds the table's record schema from its field list with the hidden
// fields in front (forcreate: the schema of a new file, where full-text
// indexes force "$ROWID$" and clear create bit 64): 0, 4013, 4001.
ZVDBRET _zvdbAllocDoda(ZVHANDLE table, int forcreate);
// Builds the table's file definition from its index handles with the hidden
// indexes in front (the schema must be built): 0 or the code, kept.
ZVDBRET _zvdbIfilAlloc(ZVHANDLE table);
// One key segment of the definition: 0, 4161 a row-id segment without
// "$ROWID$", 4146 a record offset that cannot be worked out.
ZVDBRET _zvdbFillIseg(tagZVDBTABLE *t, tagZVDBSEGMENT *s, ISEG *out);
// Creates the files of the built definition and writes what the API keeps
// in them; a failure leaves no file. The engine's code, 83, 4004, 4025.
int _zvdbCREIFILX(tagZVDBTABLE *t);
// Opens the data file path/physname+dataext and deletes it with its
// indexes (superfile members one by one, delete_set_files): 0, 4004 no
// extension, 4001, the engine's code.
int _zvdbUnlinkTable(ZVHANDLE table, const char *physname, const char *path, const char *dataext,
                     const char *password);
// Width of a variable-length field's length prefix (1, 2 or 4); 0 for other
// types and NULL.
int _zvdbIsVarlenField(const tagZVDBFIELD *f);
// Key bytes of a field: its length less a string's length prefix, 0 for
// ZV_JSON.
int32_t _zvdbCalculateSegmentLength(const tagZVDBFIELD *f);
// Index properties read from the open files once and cached in the handle:
// the conditional expression (NULL when none) and the temporary flag.
const char *_zvdbGetIdxcndxExpr(tagZVDBINDEX *ix);
int _zvdbGetIdxTempFlag(tagZVDBINDEX *ix);
// Whether a segment uses a key-segment transform (read from the index of an
// open table on first use).
int _zvdbIsSegKsegUsed(tagZVDBSEGMENT *s);

// ---- Open, attach, reload (table_open.cpp) ----------------------------------
// Opens the files named by the table's names and builds its handles: 0 or
// the code (files closed again, handle inactive).
ZVDBRET _zvdbOpenInternal(tagZVDBTABLE *t, uint32_t openmode);
// Builds the index handles of the table's definition: 0, 4014, 4001, 4051.
ZVDBRET _zvdbCreateIndexFromIfil(tagZVDBTABLE *t);
// Reads schema and definition of the open files again (a temporary table
// after its creation): 0 or the code.
ZVDBRET _zvdbReloadTable(ZVHANDLE table);
// Reopens the files after they were closed with _zvdbCloseZarvo and reads
// everything again: 0 or the code.
ZVDBRET _zvdbReopenTable(ZVHANDLE table, uint32_t openmode);
// Reopens the data file and renumbers the open index handles: 0 or the
// code.
ZVDBRET _zvdbReopenZarvo(ZVHANDLE table, uint32_t openmode);
// Of an active table: the record schema copied from count entries, or read
// from the files (callbacks 13 and 12), and the field handles built again;
// the definition copied, or read, and the index handles built again. 0,
// 4007, 4012, 4001, the code of the read or the build.
ZVDBRET _zvdbRELOADSCHEMAXTD(tagZVDBTABLE *t, int32_t count, const DATOBJ *fields);
ZVDBRET _zvdbRELOADIFILXTD(tagZVDBTABLE *t, const IFIL *ifil);

// ---- Close (table_close.cpp) --------------------------------------------------
// Closes the files of an active table, which keeps its definition and stays
// marked active (datno -1): 0, 4013, 4003, the engine's code.
ZVDBRET _zvdbCloseZarvo(ZVHANDLE table);
// Returns a table whose files were closed elsewhere to the closed state:
// 0, 4013, the list's code.
ZVDBRET _zvdbCleanupTableHandle(ZVHANDLE table);

}  // extern "C"

namespace zv {

// Steps after a new set's files exist, on the open set (datno; ifil the
// table's definition, for the index names): schema, alignment, the API's
// resources, conditional expressions, transform blocks, owner, identity
// field and partition rule; the table's data file number becomes datno. 0
// or the first failing code.
int write_set(tagZVDBTABLE *t, const IFIL *ifil, int datno);
// Whether a new table's set (copy: its definition with the session's
// prefix) is made under temporary names and put in place when whole
// (tablemake.cpp): every table of plain files but a temporary one and a
// mirrored one.
bool makes_in_place(const tagZVDBTABLE *t, const IFIL *copy);
// Makes the set so: creates it under temporary names with the create
// blocks, holds each file (in t->made, to the end of the caller's make,
// the temporary names kept beside the final ones), writes it (write_set)
// and closes it, then gives each file its name, the data file last,
// without replacing any. What a make of the same names that a kill cut
// short left is taken away first; another make of them at work is waited
// for (making::kWait). 0; 19 the data file's name is taken (also by a make
// that went through meanwhile), 18 an index file's; 12 another make of the
// same table still at work after the wait (the lock's system error kept);
// the engine's codes. A failure leaves no file of the make.
int make_in_place(tagZVDBTABLE *t, IFIL *copy, XCREblk *xcre);
// Whether a new table's set is made in a superfile host under temporary
// member names and swapped into place (tablemake.cpp): a table whose path
// names the host ("host!"), neither temporary, partitioned nor mirrored.
bool makes_in_host(const tagZVDBTABLE *t, const IFIL *copy);
// Makes the set so, in a host open in this instance (the engine opens one
// that is not, when it can): what a make of the same names that a kill cut
// short left is dropped first, the set created under temporary member
// names, written and closed, then swapped to its names (SWPIFILX), which
// stores its final definition first. 0; 19 the data member is there (18 an
// index member); 413 the host does not open (missing, or left not closed
// cleanly); 12 an open holds the host or a member (a make of the same table
// at work, another process sharing the host); the engine's codes. A
// failure leaves no member of the make. With t->made, the set's take-back
// (the swap the other way, then the members) is added to it, for a
// failure of the caller's make after this.
int make_in_host(tagZVDBTABLE *t, IFIL *copy, XCREblk *xcre);

// dir joined with name by the session's separator ("" on no memory).
std::string file_path(const tagZVDBTABLE *t, const char *dir, const char *name);
// The engine names of every file of an open set (data file first), read
// before the set is closed so that the files can still be found afterwards.
std::vector<std::string> set_file_names(int datno, int16_t nidx);
// The files of an open set by file number and engine name: its data file,
// its first index file and each index file of its own (the other indexes
// are members of the first index file).
std::vector<std::pair<int, std::string>> set_files(int datno, const IFIL *ifil);
// Deletes the files of an open set. The engine deletes a set of plain files
// as a whole, but the members of a superfile host only one file at a time:
// such a set is closed and its files deleted by delete_closed_files. 0 or
// the first failing code (the other files are deleted still).
int delete_set_files(int datno, const IFIL *ifil);
// Deletes the files of a closed set by their engine names: a member of a
// superfile host is opened alone (an index file with room for room files)
// and deleted inside its host, a plain file removed. 0 or the first
// failing code (the other files are deleted still).
int delete_closed_files(const std::vector<std::string> &names, int room);
// How many hidden indexes come before the caller's: those of the open
// files, or, before creation, those the create mode gives.
int32_t hidden_indexes(const tagZVDBTABLE *t);
// Gives the table a new layout stamp (never all ones).
void new_layout(tagZVDBTABLE *t);
// Frees the field and index handles (lists emptied), definition, schema and
// record description (the handle's names stay).
void drop_definition(tagZVDBTABLE *t);
// Frees definition, schema and record description only.
void drop_read(tagZVDBTABLE *t);
// Frees the definition and every string, then resets the handle to the
// closed state (_zvdbInitTable) with table type 0 and a new layout stamp.
void release_table(tagZVDBTABLE *t);
// Whether the table's callbacks fire: a user table not opened raw (open
// bits 0x20 and 0x100 together).
bool table_callbacks_active(const tagZVDBTABLE *t);
// Runs table callback `kind` with (table, value) when callbacks are active
// and it is set: its result, else 0.
ZVDBRET fire_table_callback(tagZVDBTABLE *t, int kind, int32_t value);
// The engine file mode of a table open mode (open bit 64 aside).
int engine_open_mode(uint32_t openmode);
// The create-mode bits of an open data file's mode word and attributes
// (record format and partition settings updated on the way).
uint32_t create_mode_of_file(tagZVDBTABLE *t, int datno, int32_t filemode);
// The create-mode bits of the hidden fields and indexes the table lacks.
uint32_t hidden_create_bits(const tagZVDBTABLE *t);

}  // namespace zv
