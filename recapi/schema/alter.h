// Table alteration, second half: what the work of an alteration shares
// between its paths (alter.cpp in place, alter_rebuild.cpp the index
// rebuild, alter_copy.cpp the full copy).
//
// No transaction log covers an alteration, so each path keeps in memory
// what it will change before its first write (SetSnapshot) and puts it back
// when a later step fails. The files of the set are written only while they
// are open not shared; before they are closed, every cached page is pushed
// to disk first (close_set), so that a close never drops pages the work
// wrote: a failed push leaves them cached for the undo to overwrite. A
// close that fails nonetheless leaves the files marked changed, and the
// next open refuses them; open_set then rebuilds the set from the
// definition that the files hold at that point before opening it again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recapi/base/handles.h"
#include "zarvo/zarvo.h"

namespace zv {

// Open-mode bit of a table opened not shared.
constexpr uint32_t kOpenExclusive = 1;

// One resource of a data file as it was: its whole record, or its absence.
struct ResourceCopy {
    uint32_t type = 0;
    uint32_t number = 0;
    bool taken = false;
    bool present = false;
    std::vector<unsigned char> bytes;

    // Reads resource (type, number) of the data file: 0, or the read's code
    // (an absent resource is no failure).
    ZVDBRET take(int datno, uint32_t type, uint32_t number);
    // Writes it back as it was (rewritten, added again, or deleted): 0 or
    // the engine's code. Nothing when it was never taken.
    ZVDBRET put_back(int datno) const;
};

// A file definition made of parts it owns; ifil() lays them out.
class DefBuilder {
public:
    // The header words of `head` (record length, extents, modes), the data
    // file name `name`, data file number `datno`, no index, no file number
    // assigned; the first and last field names are not kept.
    DefBuilder(const IFIL &head, const std::string &name, int datno);
    // Appends an index: x's words, its name and own file name (NULL: none)
    // and its segments, all copied.
    void add(const IIDX &x, const char *name, const char *file, const std::vector<ISEG> &segs);
    int count() const { return int(entries_.size()); }
    // The words of entry k (its pointers are set by ifil()).
    IIDX &at(int k) { return entries_[size_t(k)].x; }
    void set_file(int k, const char *file);
    const char *file(int k) const;
    // The definition: valid until the builder changes.
    IFIL *ifil();

private:
    struct Entry {
        IIDX x;
        std::string name, file;
        bool hasname, hasfile;
        std::vector<ISEG> segs;
    };
    IFIL head_;
    std::string name_;
    std::vector<Entry> entries_;
    std::vector<IIDX> laid_;
};

// What an alteration may change in a table's files, as it was before the
// first write, and what has been written since.
struct SetSnapshot {
    IFIL *def = nullptr;                  // stored definition (one block)
    std::vector<DATOBJ> schema;           // stored record schema
    std::vector<std::string> names;       //   its names
    ResourceCopy fldx;                    // "QV!DFLD"
    ResourceCopy cidx;                    // stored index conditions
    bool identity = false;                // the file had an identity field
    std::vector<std::string> made;        // engine names of index files made since

    bool schema_written = false;
    bool fldx_written = false;
    bool identity_written = false;
    bool indexes_touched = false;         // index files dropped, added or changed

    SetSnapshot() = default;
    SetSnapshot(const SetSnapshot &) = delete;
    SetSnapshot &operator=(const SetSnapshot &) = delete;
    ~SetSnapshot();

    // Reads it all from the table's open files: 0 or the code.
    ZVDBRET take(tagZVDBTABLE *t);
    // Whether anything was written since.
    bool touched() const { return schema_written || fldx_written || identity_written || indexes_touched; }
    // Puts the files back as they were (the set rebuilt from the stored
    // definition when its indexes were touched or a close failed) and opens
    // the table again with openmode, its handles read from the files: 0 or
    // the first failing code.
    ZVDBRET restore(tagZVDBTABLE *t, uint32_t openmode);
};

// Pushes every cached page to disk, then closes the table's contexts and
// files. A failed push leaves the files open with their pages cached: the
// push's code. A failed close leaves the files closed and maybe marked
// changed: the close's code.
ZVDBRET close_set(tagZVDBTABLE *t);
// Opens the closed set again with openmode: with `reload` the table is
// read again from the files (its handles rebuilt), else its handles are
// renumbered. When the files refuse to open (a failed close marked them),
// the set is rebuilt from `def` (the definition they hold) and opened once
// more. 0 or the code.
ZVDBRET open_set(tagZVDBTABLE *t, uint32_t openmode, const IFIL *def, bool reload);
// close_set and open_set; when the open fails, the files are opened with
// the table's own open mode as far as they can be: the first code.
ZVDBRET reopen_set(tagZVDBTABLE *t, uint32_t openmode, const IFIL *def, bool reload);
// The commit of a path's work: the definition the files now hold is read,
// every page is written and the files closed, and the table opened again
// with openmode, its handles read from the files (a close that failed
// after the pages were written is mended from that definition). *written
// tells whether the pages reached the disk: when not, the work does not
// stand and the files are still open for its undo. 0 or the first code.
ZVDBRET commit_set(tagZVDBTABLE *t, uint32_t openmode, bool *written);
// The set rebuilt from `def` through the engine (data file scanned, index
// files made again and loaded, the definition stored): the engine's code.
// The files must be closed. With purge, records whose keys cannot be
// loaded are deleted.
ZVDBRET rebuild_set(tagZVDBTABLE *t, const IFIL *def, bool purge);
// The engine name of open file n, or "" when it has none.
std::string engine_name(int n);
// Bytes the duplicate suffix of a key takes on the table.
int16_t duplicate_suffix_bytes(const tagZVDBTABLE *t);
// The engine's duplicate code of an index handle: 0 unique, 1 duplicates,
// 4 unique with distinct counts, 3 duplicates with them.
int16_t duplicate_code(const tagZVDBINDEX *ix);
// The segments of an index that are not deleted, filled from their
// handles (their new bit cleared when `clear_new`): 0, or _zvdbFillIseg's
// code.
ZVDBRET fill_segments(tagZVDBTABLE *t, tagZVDBINDEX *ix, bool clear_new, std::vector<ISEG> *segs);
// The definition of an index made from its handle alone (a new index): 0
// or the code.
ZVDBRET new_index_entry(tagZVDBTABLE *t, tagZVDBINDEX *ix, IIDX *x, std::vector<ISEG> *segs);

// The index rebuilds (alter_rebuild.cpp) with the snapshot of the calling
// alteration, which then undoes a failure itself; without one they take
// their own and undo their failures. 0 or the code.
ZVDBRET rebuild_all(tagZVDBTABLE *t, uint32_t reopenmode, SetSnapshot *outer);
ZVDBRET rebuild_fix(tagZVDBTABLE *t, uint32_t reopenmode, bool purge, SetSnapshot *outer);
// The full copy (alter_copy.cpp): every record into a new table made from
// the handles, which then takes the table's place. 0 or the code.
ZVDBRET alter_copy(tagZVDBTABLE *t, uint32_t action, bool deleteflag, uint32_t reopenmode);

}  // namespace zv

extern "C" {

// Rebuilds every index from the index handles, dropping the old index
// files first and adding the new definition; the table is then reopened
// with reopenmode. After a failure past the first drop the old definition's
// indexes are rebuilt from the records. 0 or the code.
ZVDBRET _zvdbRebuildAll(tagZVDBTABLE *t, uint32_t reopenmode);
// The same through one rebuild of the whole set from the new definition;
// with purge, records whose keys duplicate a unique key are deleted.
ZVDBRET _zvdbRebuildFix(tagZVDBTABLE *t, uint32_t reopenmode, int purge);

}  // extern "C"
