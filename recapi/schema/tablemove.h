// Renaming a table's file set and swapping a new file set into a table's
// place (tablemove.cpp).
//
// A file set is renamed by the engine while it is open, all files or none:
// the engine renames every file it has renamed so far back when one rename
// fails, and never renames over an existing file. A new set of plain files
// takes a table's place through the engine's swap of closed sets, which
// renames each new file over the old one in one step. The members of a
// superfile host the engine renames and deletes only one file at a time;
// for them the swap renames file by file itself, with the same undo. The
// swap never deletes a file before the set that replaces it carries the
// table's names, so that at every point each record lives in a complete set.
#pragma once

#include <cstdint>

#include "recapi/base/handles.h"

namespace zv {

// Puts the file set of `fresh` in the place of the file set of `t`. Both
// are open exclusively (open bit 1: the engine renames no shared set); fresh
// was made under working names (_zvdbCreateTemporary, which
// gave each index with a file of its own the working name newnames[i] for
// the file oldnames[i] of t, count pairs).
// A set of plain files (no segments, no partition members, not in a
// superfile host):
//   1. fresh's data file is given fresh's definition with t's names;
//   2. the engine swaps them (SWPIFILX), which holds the files of both
//      from its first check to its end and closes the sets' opens before
//      its first change, so that no other open reaches the table between
//      its exclusive open and the new set's names: each new
//      file is renamed over the old file of its name in one step, the new
//      files marked as not closed cleanly until the last one is in place,
//      so that a kill at any point leaves the table opening (or answering
//      14 and opening after its rebuild) under its old definition or the
//      new one, with every record; when the swap fails every old file is
//      back, fresh is open again under its working names (its definition
//      with them) and t's set is open again;
//   3. t's files that no new file replaced are deleted; t's data file number
//      is -1 (the handle keeps its definition: the caller reopens it on the
//      new files) and fresh is open again on the table's names.
// Segmented and partitioned sets and sets of superfile members:
//   1. t's files are renamed aside under working names of their own;
//   2. fresh's files are renamed to t's names (data file path/physname,
//      oldnames[i] for newnames[i]); when this fails, t's files are renamed
//      back and the code returned;
//   3. t's files, now aside, are deleted; t's data file number becomes -1
//      (the handle keeps its definition: the caller reopens it on the new
//      files, which fresh holds open until it is closed).
// *placed (optional) tells whether fresh's files carry t's names, which is
// also so after a failure of step 3 (t's old files are then left under
// their working names). 0, 4013 a missing table, 4012 a set not open, 4001,
// 454 a set of members with an index file not named after its data file,
// the engine's codes.
ZVDBRET swap_table_files(tagZVDBTABLE *t, tagZVDBTABLE *fresh, const char *const *oldnames,
                         const char *const *newnames, int32_t count, bool *placed);

}  // namespace zv
