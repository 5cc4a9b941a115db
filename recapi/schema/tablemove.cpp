// Moving and renaming tables: a file set renamed as a whole by the engine
// (_zvdbRenameTable), the swap of a new set into a table's place, and the
// move or rename of a closed table with its dependent index files and its
// dictionary entry.
//
// Invariants:
//  1. The engine renames a set all or nothing and never over an existing
//     file; every routine here keeps that property for its whole work: a
//     step that fails undoes the steps before it, in reverse order.
//  2. No file is deleted while the records it holds exist nowhere else: the
//     swap deletes the old set only after the new one carries its names.
#include <cstring>
#include <string>
#include <vector>

#include "recapi/base/paths.h"
#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/schema/icon.h"
#include "recapi/schema/index.h"
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

ZVDBRET aside_names(tagZVDBTABLE *t, AsideNames *out) {
    char *base = _zvdbTemporaryName(t);
    if (!base) {
        const ZVDBRET rc = zvdbGetError(t);
        return rc ? rc : ZVDB_NO_MEMORY;
    }
    const std::string work = base;
    _zvdb_free(base);
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

}  // namespace

ZVDBRET swap_table_files(tagZVDBTABLE *t, tagZVDBTABLE *fresh, const char *const *oldnames,
                         const char *const *newnames, int32_t count, bool *placed) {
    if (placed) *placed = false;
    if (!t || !fresh) return ZVDB_NO_TABLE;
    if (t->datno < 0 || fresh->datno < 0 || !t->ifil || !fresh->ifil) return ZVDB_NOT_ACTIVE;
    if (count > 0 && (!oldnames || !newnames)) return ZVDB_NULL_ARGUMENT;
    AsideNames aside;
    if (ZVDBRET rc = aside_names(t, &aside)) return rc;
    const std::string home = file_path(t, t->path, t->physname);
    if (home.empty()) return ZVDB_NO_MEMORY;
    _zvdbIconReset(t);
    _zvdbIconReset(fresh);
    const auto n = int32_t(aside.own.size());
    if (ZVDBRET rc = _zvdbRenameTable(t, aside.data.c_str(), aside.ownp.data(), aside.asidep.data(), n)) return rc;
    if (ZVDBRET rc = _zvdbRenameTable(fresh, home.c_str(), newnames, oldnames, count)) {
        // t's definition still holds its own names: renaming to them puts
        // the set back. Should that fail too, both sets stay whole under
        // the names they have.
        _zvdbRenameTable(t, home.c_str(), nullptr, nullptr, 0);
        return rc;
    }
    if (placed) *placed = true;
    ZVDBRET rc = take_place(t, fresh, oldnames, newnames, count);
    const int gone = _zvdbDELRFIL(t->datno);
    if (gone == 0 || _zvdbGETFIL(t->datno, 0, nullptr) != 0) t->datno = -1;
    return rc ? rc : gone;
}

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
    // The definition with the new names: its index array copied, every
    // other pointer shared with the table's (the engine only reads them).
    IFIL def = *t->ifil;
    std::vector<IIDX> iidx(def.iidxarr, def.iidxarr + (def.dnumidx > 0 ? def.dnumidx : 0));
    def.iidxarr = iidx.empty() ? nullptr : iidx.data();
    def.pfilnam = newname;
    def.tfilno = t->datno;
    for (IIDX &x : iidx) {
        for (int32_t n = 0; x.aidxnam && n < count; n++) {
            if (!oldnames[n] || !newnames[n] || !zv::same_file(t, x.aidxnam, oldnames[n])) continue;
            x.aidxnam = newnames[n];
            break;
        }
    }
    return _zvdbRENIFILX(t, &def);
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
