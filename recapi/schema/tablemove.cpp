// Moving and renaming tables: a file set renamed as a whole by the engine
// (_zvdbRenameTable), the swap of a new set into a table's place, and the
// move or rename of a closed table with its dependent index files and its
// dictionary entry.
//
// Invariants:
//  1. The engine renames a set all or nothing and never over an existing
//     file; every routine here keeps that
//     property for its whole work: a step that fails undoes the steps
//     before it, in reverse order.
//  2. No file is deleted while the records it holds exist nowhere else: the
//     swap deletes the old set only after the new one carries its names.
#include <cstring>
#include <string>
#include <vector>

#include "recapi/base/paths.h"
#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/catalog/dict_calls.h"
#include "recapi/schema/alter.h"
#include "recapi/schema/icon.h"
#include "recapi/schema/index.h"
#include "recapi/schema/rebuild.h"
#include "recapi/schema/table.h"
#include "recapi/schema/tablefile.h"
#include "recapi/schema/tablemove.h"

namespace zv {

namespace {

// Whether two file names name the same file: equal once the session's
// prefix is applied, or (both existing) the same file on disk.
bool same_file(tagZVDBTABLE *t, const char *a, const char *b) {
    if (!a || !b) return false;
    char *pa = nullptr, *pb = nullptr;
    bool same = false;
    if (prefixed_name(t, a, &pa) == 0 && prefixed_name(t, b, &pb) == 0) {
        same = std::strcmp(pa, pb) == 0 || zv_uniqfile(pa, pb) == 0;
    }
    _zvdb_free(pa);
    _zvdb_free(pb);
    return same;
}

// The directory part of a file name ("" when it has none).
std::string directory_of(tagZVDBTABLE *t, const char *name) {
    const int32_t size = int32_t(std::strlen(name)) + 1;
    std::string dir(size_t(size), '\0');
    if (_zvdb_GetFilePath(name, dir.data(), size, _zvdbGetPathSeparator(t)) != 0) return "";
    dir.resize(std::strlen(dir.c_str()));
    return dir;
}

// The names a set is renamed aside to: a working data file name in the
// table's directory and, per index file of its own, the working name with
// "_" and the index's position in the directory of that file.
struct AsideNames {
    std::string data;
    std::vector<std::string> own;      // the index files of the stored definition
    std::vector<std::string> aside;    // their working names
    std::vector<const char *> ownp, asidep;
};

// A working name for t's files (_zvdbTemporaryName) into *out: 0, the
// table's last code, or 4001.
ZVDBRET working_name(tagZVDBTABLE *t, std::string *out) {
    char *base = _zvdbTemporaryName(t);
    if (!base) {
        const ZVDBRET rc = zvdbGetError(t);
        return rc ? rc : ZVDB_NO_MEMORY;
    }
    *out = base;
    _zvdb_free(base);
    return 0;
}

ZVDBRET aside_names(tagZVDBTABLE *t, AsideNames *out) {
    std::string work;
    if (ZVDBRET rc = working_name(t, &work)) return rc;
    out->data = file_path(t, t->path, work.c_str());
    const IFIL *ifil = t->ifil;
    for (int k = 0; k < ifil->dnumidx; k++) {
        const char *a = ifil->iidxarr[k].aidxnam;
        if (!a) continue;
        const std::string name = work + "_" + std::to_string(k) + (t->indexext ? t->indexext : ".idx");
        out->own.emplace_back(a);
        out->aside.push_back(file_path(t, directory_of(t, a).c_str(), name.c_str()));
    }
    for (size_t i = 0; i < out->own.size(); i++) {
        out->ownp.push_back(out->own[i].c_str());
        out->asidep.push_back(out->aside[i].c_str());
    }
    return 0;
}

// After a swap: the fresh handle names the files it now holds.
ZVDBRET take_place(tagZVDBTABLE *t, tagZVDBTABLE *fresh, const char *const *oldnames,
                   const char *const *newnames, int32_t count) {
    if (replace_text(&fresh->path, t->path) || replace_text(&fresh->physname, t->physname)) return ZVDB_NO_MEMORY;
    for (int32_t i = 0; i < _zvdbListCount(fresh->indexes); i++) {
        auto *ix = static_cast<tagZVDBINDEX *>(fresh->indexes->items[i]);
        for (int32_t n = 0; ix->filename && n < count; n++) {
            if (!newnames[n] || std::strcmp(ix->filename, newnames[n]) != 0) continue;
            if (replace_text(&ix->filename, oldnames[n])) return ZVDB_NO_MEMORY;
            break;
        }
    }
    return 0;
}

// A table's definition with the data file newname and, for each of count
// pairs, the index file named oldnames[n] (the same file) named
// newnames[n]: the index array is the object's own, every other pointer
// shared with the table's (the engine only reads them).
struct RenamedSet {
    IFIL def{};
    std::vector<IIDX> iidx;
};

void renamed_set(tagZVDBTABLE *t, const char *newname, const char *const *oldnames, const char *const *newnames,
                 int32_t count, RenamedSet *out) {
    out->def = *t->ifil;
    out->iidx.assign(out->def.iidxarr, out->def.iidxarr + (out->def.dnumidx > 0 ? out->def.dnumidx : 0));
    out->def.iidxarr = out->iidx.empty() ? nullptr : out->iidx.data();
    out->def.pfilnam = newname;
    out->def.tfilno = t->datno;
    for (IIDX &x : out->iidx) {
        for (int32_t n = 0; x.aidxnam && n < count; n++) {
            if (!oldnames[n] || !newnames[n] || !same_file(t, x.aidxnam, oldnames[n])) continue;
            x.aidxnam = newnames[n];
            break;
        }
    }
}

// The engine's code of a service it does not give.
constexpr int kUnsupported = 454;

// A set whose files are members of a superfile host: the table names its
// host, or its path ends with the host's name and '!'.
bool in_host(const tagZVDBTABLE *t) {
    const size_t n = t->path ? std::strlen(t->path) : 0;
    return t->superfile || (n > 0 && t->path[n - 1] == '!');
}

// The status log's note of a swap by two renames of whole sets: a process
// ended between them leaves the table's names missing, and these lines say
// where its old set and its new one are.
void log_swap(const std::string &home, const std::string &aside, const std::string &fresh) {
    zvStatusLogWrite(("Alter: the old files of " + home + " go aside as " + aside).c_str(), 0);
    zvStatusLogWrite(("Alter: the new files of " + home + " are under " + fresh).c_str(), 0);
}

// The swap of two sets of partitioned files: each set renamed by the engine
// as a whole, its members with it (the table's names are missing between
// the two renames).
ZVDBRET swap_sets_renamed(tagZVDBTABLE *t, tagZVDBTABLE *fresh, const char *const *oldnames,
                          const char *const *newnames, int32_t count) {
    AsideNames aside;
    if (ZVDBRET rc = aside_names(t, &aside)) return rc;
    const std::string home = file_path(t, t->path, t->physname);
    if (home.empty()) return ZVDB_NO_MEMORY;
    _zvdbIconReset(t);
    _zvdbIconReset(fresh);
    const auto n = int32_t(aside.own.size());
    log_swap(home, aside.data, file_path(fresh, fresh->path, fresh->physname));
    if (ZVDBRET rc = _zvdbRenameTable(t, aside.data.c_str(), aside.ownp.data(), aside.asidep.data(), n)) return rc;
    if (ZVDBRET rc = _zvdbRenameTable(fresh, home.c_str(), newnames, oldnames, count)) {
        // t's definition still holds its own names: renaming to them puts
        // the set back. Should that fail too, both sets stay whole under
        // the names they have.
        _zvdbRenameTable(t, home.c_str(), nullptr, nullptr, 0);
        return rc;
    }
    return 0;
}

// An open partitioned set.
bool partitioned(const tagZVDBTABLE *t) { return _zvdbPartKeyNo(t->datno) >= 0; }

// Lets go of what the table keeps on its open files besides the files
// themselves (contexts, record locks, pages), as its close does, before the
// engine's swap takes them over.
void hand_over(tagZVDBTABLE *t) {
    _zvdbIconReset(t);
    zvdbUnlockTable(t);
}

// After the engine's swap: a table whose files it closed has none open.
void handed_over(tagZVDBTABLE *t) {
    if (t->datno >= 0 && _zvdbGETFIL(t->datno, 0, nullptr) != 0) t->datno = -1;
}

// The swap of two sets of files by the engine's swap (SWPIFILX): every
// name of the table holds at every moment its old file or the new one, and
// the set answers 14 while they are mixed (a partitioned set: an open
// finishes the swap once it has begun), so that a kill leaves a table that
// opens, or opens after its rebuild, under the old definition or the new
// one with every record. Both sets go to the swap open: it holds their
// files from its first check to its end and closes the opens before its
// first change, so that no other open comes between the table's exclusive
// open and the new set's names. The new data file holds the new definition
// with the table's names before the first rename. A failure puts the old
// set back and leaves fresh open under its working names again; t's set is
// open again too (a refusal before the first change leaves both open as
// they were). *placed tells whether the new set has the table's names
// (then a later failure leaves it there). On success t's set is closed
// (datno -1), its files that the new set does not replace deleted, and
// fresh open on the table's names.
ZVDBRET swap_sets(tagZVDBTABLE *t, tagZVDBTABLE *fresh, const char *const *oldnames, const char *const *newnames,
                  int32_t count, bool *placed) {
    const std::string home = file_path(t, t->path, t->physname);
    const std::string work = file_path(fresh, fresh->path, fresh->physname);
    if (home.empty() || work.empty()) return ZVDB_NO_MEMORY;
    RenamedSet from, to;
    renamed_set(fresh, work.c_str(), nullptr, nullptr, 0, &from);
    renamed_set(fresh, home.c_str(), newnames, oldnames, count, &to);
    _zvdbIconReset(t);
    _zvdbIconReset(fresh);
    std::vector<std::string> olds;
    for (const auto &f : set_files(t->datno, t->ifil)) olds.push_back(f.second);
    // The swap takes both sets exclusively, and a failure gives them back
    // so.
    const uint32_t tmode = t->openmode | kOpenExclusive, fmode = fresh->openmode | kOpenExclusive;
    // Puts both sets back open (a set whose close failed rebuilt from its
    // definition). The engine's swap stores the table's names in the new
    // data file before its first rename and fresh's own again when it
    // fails.
    auto back = [&](ZVDBRET rc) {
        if (fresh->datno < 0) open_set(fresh, fmode, &from.def, false);
        if (t->datno < 0) open_set(t, tmode, t->ifil, false);
        return rc;
    };
    // Every page of both sets on disk before the swap looks at the files.
    if (int rc = ZVFLUSH(-1)) return rc;
    hand_over(fresh);
    hand_over(t);
    const ZVDBRET swapped = _zvdbSWPIFILX(t, &from.def, &to.def);
    handed_over(fresh);
    handed_over(t);
    if (swapped) return back(swapped);
    *placed = true;
    // fresh reopens on the table's names.
    if (ZVDBRET rc = take_place(t, fresh, oldnames, newnames, count)) return rc;
    if (ZVDBRET rc = open_set(fresh, fmode, &to.def, false)) return rc;
    // The old files the new set did not replace (index files the new
    // definition has no more).
    std::vector<std::string> gone;
    const auto now = set_files(fresh->datno, fresh->ifil);
    for (const std::string &o : olds) {
        bool kept = false;
        for (const auto &f : now) kept = kept || f.second == o;
        if (!kept) gone.push_back(o);
    }
    return delete_closed_files(gone, 1);
}

}  // namespace

ZVDBRET swap_table_files(tagZVDBTABLE *t, tagZVDBTABLE *fresh, const char *const *oldnames,
                         const char *const *newnames, int32_t count, bool *placed) {
    if (placed) *placed = false;
    if (!t || !fresh) return ZVDB_NO_TABLE;
    if (t->datno < 0 || fresh->datno < 0 || !t->ifil || !fresh->ifil) return ZVDB_NOT_ACTIVE;
    if (count > 0 && (!oldnames || !newnames)) return ZVDB_NULL_ARGUMENT;
    bool done = false;
    ZVDBRET rc = swap_sets(t, fresh, oldnames, newnames, count, &done);
    if (placed) *placed = done;
    // A partitioned set the engine's swap does not take (a file outside the
    // data file's directory tree, segment files) is renamed set by set.
    if (rc != kUnsupported || done || in_host(t) || !(partitioned(t) || partitioned(fresh))) return rc;
    if (t->datno < 0 || fresh->datno < 0) return rc;
    if ((rc = swap_sets_renamed(t, fresh, oldnames, newnames, count))) return rc;
    if (placed) *placed = true;
    rc = take_place(t, fresh, oldnames, newnames, count);
    const int gone = delete_set_files(t->datno, t->ifil);
    if (gone == 0 || _zvdbGETFIL(t->datno, 0, nullptr) != 0) t->datno = -1;
    return rc ? rc : gone;
}

namespace {

// Longest names the files and the dictionary take.
constexpr size_t kFileNameMax = 255;
constexpr size_t kEntryNameMax = 128;

// A table's file set renamed by a move: the work table holding it open,
// the definition with the new names, and what the dictionary needs.
class Move {
public:
    Move(tagZVDBTABLE *work, tagZVDBDATABASE *db) : w_(work), db_(db) {}
    // The new names of the set: 0, 4006 a name that does not fit, 4001.
    ZVDBRET plan(const char *newpath, const char *newname);
    // Renames the files, stores the new definition, moves the dictionary
    // entries; a failing step undoes the ones before it. 0 or the first
    // failing code.
    ZVDBRET run();
    // After run: writes the set out (a failure there undoes the whole move)
    // and closes the work table (close_clean). 0 or the code.
    ZVDBRET finish();

private:
    ZVDBRET undo(int done, ZVDBRET rc);

    tagZVDBTABLE *w_;
    tagZVDBDATABASE *db_;
    std::string oldname_, oldphys_, newname_, newphys_, newdata_;
    std::string newpath_;      // empty: the path stays
    bool haspath_ = false;
    IFIL def_{};
    std::vector<IIDX> iidx_;
    std::vector<std::string> files_, names_;  // per index: new own file and new name ("" none)
    std::vector<std::pair<std::string, std::string>> renamed_;  // index names: old, new
};

ZVDBRET Move::plan(const char *newpath, const char *newname) {
    tagZVDBTABLE *t = w_;
    const int sep = _zvdbGetPathSeparator(t);
    oldname_ = t->name;
    oldphys_ = t->physname;
    newname_ = newname ? newname : oldname_;
    newphys_ = newname ? newname : oldphys_;
    haspath_ = newpath != nullptr;
    newpath_ = newpath ? newpath : "";
    const std::string dir = haspath_ ? newpath_ : std::string(t->path ? t->path : "");
    newdata_ = file_path(t, dir.c_str(), newphys_.c_str());
    const std::string ext = t->indexext ? t->indexext : ".idx";
    if (newdata_.empty()) return ZVDB_NO_MEMORY;
    if (newname_.size() > kEntryNameMax || newdata_.size() + std::strlen(t->dataext ? t->dataext : "") > kFileNameMax) {
        return ZVDB_BUFFER_SMALL;
    }
    def_ = *t->ifil;
    iidx_.assign(def_.iidxarr, def_.iidxarr + (def_.dnumidx > 0 ? def_.dnumidx : 0));
    files_.assign(iidx_.size(), "");
    names_.assign(iidx_.size(), "");
    for (size_t k = 0; k < iidx_.size(); k++) {
        const char *a = iidx_[k].aidxnam;
        const char *start = nullptr, *end = nullptr;
        if (!a || !_zvdbIsNameTableDep(oldphys_.c_str(), a, sep, &start, &end)) continue;
        // The text after the table's name follows the new name, in the new
        // directory (a rename keeps the file's own).
        const std::string base = newphys_ + end;
        const std::string where = haspath_ ? newpath_ : directory_of(t, a);
        files_[k] = file_path(t, where.c_str(), base.c_str());
        if (files_[k].empty()) return ZVDB_NO_MEMORY;
        if (files_[k].size() > kFileNameMax) return ZVDB_BUFFER_SMALL;
        if (!newname) continue;
        const size_t cut = base.find(ext);
        names_[k] = cut == std::string::npos ? base : base.substr(0, cut);
        if (names_[k].size() > kEntryNameMax) return ZVDB_BUFFER_SMALL;
    }
    def_.iidxarr = iidx_.empty() ? nullptr : iidx_.data();
    def_.pfilnam = newdata_.c_str();
    def_.tfilno = t->datno;
    for (size_t k = 0; k < iidx_.size(); k++) {
        if (!files_[k].empty()) iidx_[k].aidxnam = files_[k].c_str();
        if (names_[k].empty() || !iidx_[k].ridxnam) continue;
        renamed_.emplace_back(iidx_[k].ridxnam, names_[k]);
        iidx_[k].ridxnam = names_[k].c_str();
    }
    return 0;
}

// Steps of a move, in order; undo takes back those done.
enum MoveStep { kFiles = 1, kDefinition, kEntry, kIndexNames };

ZVDBRET Move::run() {
    if (ZVDBRET rc = _zvdbRENIFILX(w_, &def_)) return rc;
    // The rename stores the new file names; new index names need the whole
    // definition stored.
    if (!renamed_.empty()) {
        if (ZVDBRET rc = _zvdbPUTIFILX(w_, &def_)) return undo(kFiles, rc);
    }
    if (!db_) return 0;
    const char *path = haspath_ ? newpath_.c_str() : nullptr;
    // A move that fails may have rewritten some entries: it is taken back
    // as a whole.
    if (ZVDBRET rc = _zvdbDictMoveTable(db_, oldname_.c_str(), path, newname_.c_str(), newphys_.c_str())) {
        return undo(kEntry, rc);
    }
    for (const auto &[oldix, newix] : renamed_) {
        if (ZVDBRET rc = _zvdbDictUpdateIndexName(w_, newix.c_str(), oldix.c_str())) return undo(kIndexNames, rc);
    }
    return 0;
}

ZVDBRET Move::finish() {
    if (int rc = flush_set(w_)) {
        undo(kIndexNames, rc);
        zvdbCloseTable(w_);
        return rc;
    }
    // The handle names the files at their old place: the new one is what a
    // second open needs.
    if (replace_text(&w_->name, newname_.c_str()) || replace_text(&w_->physname, newphys_.c_str()) ||
        (haspath_ && replace_text(&w_->path, newpath_.c_str()))) {
        zvdbCloseTable(w_);
        return ZVDB_NO_MEMORY;
    }
    return close_clean(w_);
}

// The dictionary entry, the file names and the stored definition as they
// were. The failing step's code is returned.
ZVDBRET Move::undo(int done, ZVDBRET rc) {
    // Every step may have been done in part: each is taken back whole (a
    // name that was not changed is not found, which changes nothing).
    if (done >= kIndexNames) {
        for (const auto &[oldix, newix] : renamed_) _zvdbDictUpdateIndexName(w_, oldix.c_str(), newix.c_str());
    }
    if (done >= kEntry) {
        _zvdbDictMoveTable(db_, newname_.c_str(), haspath_ ? (w_->path ? w_->path : "") : nullptr, oldname_.c_str(),
                           oldphys_.c_str());
    }
    // The work table's definition holds the old names: renaming to them
    // puts the files back, and storing it puts the old index names back.
    const std::string old = file_path(w_, w_->path, oldphys_.c_str());
    if (_zvdbRenameTable(w_, old.c_str(), nullptr, nullptr, 0) == 0 && !renamed_.empty()) _zvdbPUTIFILX(w_, w_->ifil);
    return rc;
}

// The session, database and table the move starts from, checked: 0, 4003,
// 4012 a database not connected, 4011 an open table given.
ZVDBRET move_origin(ZVHANDLE handle, tagZVDBDATABASE **db, tagZVDBTABLE **given) {
    if (!session_of(handle)) return ZVDB_NO_SESSION;
    *db = static_cast<tagZVDBDATABASE *>(zvdbGetDatabaseHandle(handle));
    if (*db && !(*db)->connected) return ZVDB_NOT_ACTIVE;
    *given = handle && handle_kind(handle) == ZVDB_TABLE_HANDLE ? static_cast<tagZVDBTABLE *>(handle) : nullptr;
    if (*given && (*given)->active) return ZVDB_ACTIVE;
    return 0;
}

// Opens the table to move exclusively on the work table: a table of the
// database by name; a free table with the path and extensions of the table
// handle given, or else split from the name.
ZVDBRET open_work(tagZVDBTABLE *w, tagZVDBTABLE *given, const char *name) {
    if (w->database) return zvdbOpenTable(w, name, 1);
    std::string base = name;
    if (given) {
        if (zvdbSetTablePath(w, given->path ? given->path : "") || zvdbSetTableExtension(w, given->dataext) ||
            zvdbSetIndexExtension(w, given->indexext) || zvdbSetTablePassword(w, given->password)) {
            return zvdbGetError(w);
        }
    } else {
        const int sep = _zvdbGetPathSeparator(w);
        const auto size = int32_t(std::strlen(name) + 1);
        std::string dir(size_t(size), '\0'), ext(size_t(size), '\0'), file(size_t(size), '\0');
        if (ZVDBRET rc = _zvdb_GetFilePath(name, dir.data(), size, sep)) return rc;
        if (ZVDBRET rc = _zvdb_GetFileExt(name, ext.data(), size, sep)) return rc;
        if (ZVDBRET rc = _zvdb_GetFileName(name, file.data(), size, sep)) return rc;
        if (zvdbSetTablePath(w, dir.c_str())) return zvdbGetError(w);
        if (*ext.c_str() && zvdbSetTableExtension(w, ext.c_str())) return zvdbGetError(w);
        base = file.c_str();
    }
    return zvdbOpenTable(w, base.c_str(), 1);
}

ZVDBRET move_table(ZVHANDLE handle, const char *name, const char *newpath, const char *newname) {
    tagZVDBDATABASE *db = nullptr;
    tagZVDBTABLE *given = nullptr;
    if (ZVDBRET rc = move_origin(handle, &db, &given)) return rc;
    if (!name) return ZVDB_NULL_ARGUMENT;
    if (!newpath && !newname) return ZVDB_BAD_KIND;
    if (newname && std::strlen(newname) > kEntryNameMax) return ZVDB_BUFFER_SMALL;
    if (db && newname) {
        char found[256];
        if (zvdbFindTable(db, newname, found, int32_t(sizeof found)) == 0) return ZVDB_TABLE_EXISTS;
    }
    tagZVDBSESSION *s = session_of(handle);
    auto *w = static_cast<tagZVDBTABLE *>(zvdbAllocTable(handle));
    if (!w) return ZVDB_NO_MEMORY;
    const bool own = !s->tranactive;
    if (own) zvdbBegin(w);
    ZVDBRET rc = open_work(w, given, name);
    Move move(w, db);
    if (rc == 0) rc = move.plan(newpath, newname);
    if (rc == 0) rc = move.run();
    if (rc == 0) {
        rc = move.finish();
    } else if (w->active) {
        zvdbCloseTable(w);
    }
    if (own) {
        const ZVDBRET end = rc ? zvdbAbort(s) : zvdbCommit(s);
        if (rc == 0) rc = end;
    }
    zvdbFreeTable(w);
    return rc;
}

}  // namespace

}  // namespace zv

using zv::keep_code;
using zv::table_of;

extern "C" {

ZV_API ZVDBRET _zvdbRenameTable(ZVHANDLE table, const char *newname, const char *const *oldnames,
                                const char *const *newnames, int32_t count) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    if (!newname || (count > 0 && (!oldnames || !newnames))) return ZVDB_NULL_ARGUMENT;
    if (!t->ifil || t->datno < 0) return ZVDB_NOT_ACTIVE;
    zv::RenamedSet def;
    zv::renamed_set(t, newname, oldnames, newnames, count, &def);
    return _zvdbRENIFILX(t, &def.def);
}

ZV_API ZVDBRET zvdbMoveTable(ZVHANDLE handle, const char *name, const char *newpath, const char *newname) {
    return keep_code(handle, zv::move_table(handle, name, newpath, newname));
}

ZV_API ZVDBRET zvdbRenameTable(ZVHANDLE handle, const char *name, const char *newname) {
    return zvdbMoveTable(handle, name, nullptr, newname);
}

ZV_API ZVDBRET _zvdbDefaultIndexName(ZVHANDLE table, char *buffer, int32_t size) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    if (!buffer) return ZVDB_NULL_ARGUMENT;
    const char *ext = t->indexext ? t->indexext : ".idx";
    const size_t n = std::strlen(ext);
    if (size < 2 || n + 2 > size_t(size)) return ZVDB_BUFFER_SMALL;
    buffer[0] = '?';
    std::memcpy(buffer + 1, ext, n + 1);
    return 0;
}

}  // extern "C"
