// Temporary tables and clones: a new table made from another table's
// definition (fields, indexes, segments, conditional expressions, defaults,
// identity field, partition settings, the application's resources), the
// working file names they are made under, and two readings of a table's
// definition that alteration uses (serial segments, the packed list of
// schema names).
//
// Invariants:
//  1. The engine's "next create" cipher is set only around the one create
//     that should take it, and reset on every exit: no later create takes
//     the source's key by accident.
//  2. A temporary create or clone that fails leaves no file of its own
//     behind: once the files exist, a failing later step deletes them.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "recapi/base/paths.h"
#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/catalog/dict_calls.h"
#include "recapi/schema/field.h"
#include "recapi/schema/icon.h"
#include "recapi/schema/index.h"
#include "recapi/schema/resource.h"
#include "recapi/schema/segment.h"
#include "recapi/schema/table.h"
#include "recapi/schema/tablefile.h"
#include "recapi/schema/vtable.h"

namespace zv {

namespace {

constexpr uint32_t kStatusDeleted = 2;
constexpr uint32_t kStatusNew = 1;
// Create bits that give the files their transaction modes.
constexpr uint32_t kCreateTranBoth = 2;
constexpr uint32_t kCreateTranOne = 1;
// The longest name a packed list entry can carry: its count byte holds the
// name's length + 2.
constexpr size_t kPackedNameMax = 253;

bool deleted(uint32_t status) { return (status & kStatusDeleted) != 0; }

// The "next create" cipher of the engine, set to that of an open data file
// and reset when the scope ends.
class CreateCipher {
public:
    ~CreateCipher() { zvSETENCRYPT(nullptr, nullptr, 0); }
    int take_from(int datno) {
        char number[16];
        std::snprintf(number, sizeof number, "%d", datno);
        return zvSETENCRYPT("98", number, 1);
    }
};

// Field attributes and defaults of one field copied to another. 0 or the
// setter's code.
ZVDBRET copy_attributes(const tagZVDBFIELD *from, tagZVDBFIELD *to) {
    to->nullflag = from->nullflag;
    to->precision = from->precision;
    to->scale = from->scale;
    to->binaryflag = from->binaryflag;
    ZVDBRET rc = 0;
    if (from->defkind == 1 && from->defvalue && from->deflength > 0) {
        rc = zvdbSetFieldDefaultValue(to, from->defvalue, from->deflength);
    } else if (from->defkind > 1) {
        rc = zvdbSetFieldDefaultValueType(to, from->defkind);
    }
    if (rc == 0) rc = zvdbSetFieldDefaultDateTimeType(to, from->defdatetype, from->deftimetype);
    return rc;
}

// The fields not marked deleted.
ZVDBRET copy_fields(tagZVDBTABLE *s, tagZVDBTABLE *t) {
    for (int32_t i = 0; i < _zvdbListCount(s->fields); i++) {
        auto *f = static_cast<tagZVDBFIELD *>(s->fields->items[i]);
        if (deleted(f->status)) continue;
        auto *nf = static_cast<tagZVDBFIELD *>(zvdbAddField(t, f->name, f->type, f->length));
        if (!nf) return zvdbGetError(t);
        if (ZVDBRET rc = copy_attributes(f, nf)) return rc;
    }
    return 0;
}

// One segment of an index copied: a field segment by its field's name, the
// row-id segment, or an extended one.
ZVDBRET copy_segment(tagZVDBTABLE *t, tagZVDBINDEX *nix, const tagZVDBSEGMENT *g) {
    ZVHANDLE made = nullptr;
    if (g->field == rowid_field()) {
        made = zvdbAddRowIdSegment(nix);
    } else if (g->field) {
        tagZVDBFIELD *f = find_field(t, g->field->name);
        if (!f) return ZVDB_NO_FIELD_NAME;
        made = zvdbAddSegment(nix, f, g->mode);
    } else {
        made = zvdbAddSegmentEx(nix, g->offset, g->length, g->mode);
    }
    return made ? 0 : zvdbGetError(t);
}

bool has_live_segment(const tagZVDBINDEX *ix) {
    for (int32_t g = 0; g < _zvdbListCount(ix->segments); g++) {
        if (!deleted(static_cast<tagZVDBSEGMENT *>(ix->segments->items[g])->status)) return true;
    }
    return false;
}

// The indexes not marked deleted that keep a segment. An index with
// a file of its own gets a working file name; both names go to position i
// of the caller's lists (i the index's position in the source's list).
ZVDBRET copy_indexes(tagZVDBTABLE *s, tagZVDBTABLE *t, char **oldnames, char **newnames) {
    for (int32_t i = 0; i < _zvdbListCount(s->indexes); i++) {
        auto *ix = static_cast<tagZVDBINDEX *>(s->indexes->items[i]);
        if (deleted(ix->status) || !has_live_segment(ix)) continue;
        // The new table is entered in no dictionary: its index names need
        // not be free in the database.
        auto *nix = static_cast<tagZVDBINDEX *>(_zvdbPutIndex(t, ix->name, ix->keytype, ix->dupflag, ix->nullflag));
        if (!nix) return zvdbGetError(t);
        nix->emptychar = ix->emptychar;
        nix->distinctflag = ix->distinctflag;
        if (ix->filename) {
            char *work = _zvdbTemporaryName(t);
            if (!work) return zvdbGetError(t) ? zvdbGetError(t) : ZVDB_NO_MEMORY;
            ZVDBRET rc = zvdbSetIndexFilename(nix, nullptr, work);
            _zvdb_free(work);
            if (rc) return rc;
            if (oldnames && newnames) {
                _zvdb_free(oldnames[i]);
                _zvdb_free(newnames[i]);
                oldnames[i] = _zvdb_strdup(ix->filename);
                newnames[i] = _zvdb_strdup(nix->filename);
                if (!oldnames[i] || !newnames[i]) return ZVDB_NO_MEMORY;
            }
        }
        for (int32_t g = 0; g < _zvdbListCount(ix->segments); g++) {
            auto *seg = static_cast<tagZVDBSEGMENT *>(ix->segments->items[g]);
            if (deleted(seg->status)) continue;
            if (ZVDBRET rc = copy_segment(t, nix, seg)) return rc;
        }
        const char *cndx = _zvdbGetIdxcndxExpr(ix);
        if (cndx && *cndx) {
            if (ZVDBRET rc = zvdbSetIndexCndxExpr(nix, cndx)) return rc;
        }
    }
    return 0;
}

// The file settings and the partition settings.
ZVDBRET copy_table_settings(tagZVDBTABLE *s, tagZVDBTABLE *t) {
    for (auto [slot, text] : {std::pair{&t->path, s->path}, std::pair{&t->dataext, s->dataext},
                              std::pair{&t->indexext, s->indexext}, std::pair{&t->password, s->password},
                              std::pair{&t->groupid, s->groupid}}) {
        if (replace_text(slot, text)) return ZVDB_NO_MEMORY;
    }
    t->permission = s->permission;
    t->dataextent = s->dataextent;
    t->indexextent = s->indexextent;
    t->padbyte = s->padbyte;
    t->delimbyte = s->delimbyte;
    t->partindex = s->partindex;
    t->partbits = s->partbits;
    t->alignment = s->alignment;
    if (s->recformat == 5) t->recformat = 5;
    char *rule = reinterpret_cast<uintptr_t>(s->partrule) > 1 ? s->partrule : nullptr;
    bool own = false;
    if (!rule && (s->createmode & cmode::kPartitioned) && s->active) {
        if (ZVDBRET rc = _allocAndGetPARTRES(s, &rule)) return rc;
        own = true;
    }
    if (rule) {
        if (reinterpret_cast<uintptr_t>(t->partrule) > 1) _zvdb_free(t->partrule);
        t->partrule = own ? rule : _zvdb_strdup(rule);
        if (!t->partrule) return ZVDB_NO_MEMORY;
    }
    return 0;
}

// The create mode of the temporary table, its temporary flag and extended
// mode.
uint32_t temporary_mode(tagZVDBTABLE *s, tagZVDBTABLE *t, bool keepopen) {
    uint32_t mode = s->createmode | (t->createmode & cmode::kShortDelField);
    t->temporary = keepopen ? 2 : 1;
    t->tempxmode = 0;
    if (!keepopen) {
        if (mode & kCreateTranBoth) {
            t->tempxmode = 512;
        } else if (mode & kCreateTranOne) {
            t->tempxmode = 1024;
        }
        mode &= ~(kCreateTranBoth | kCreateTranOne);
    }
    return mode;
}

// Whether a resource of the source goes to the new file: the application's
// (types above 0x10000), types 2 and 10, type 0 numbers 11 and 12.
bool carried_resource(uint32_t type, uint32_t number) {
    return type > 0x10000 || type == 2 || type == 10 || (type == 0 && (number == 11 || number == 12));
}

// The carried resources added to the new data file.
ZVDBRET copy_resources(int from, int to) {
    unsigned char head[12] = {};
    const unsigned char none[8] = {};
    int rc = _zvdbREADRES(from, none, head, sizeof head, kResHeadFirst, nullptr);
    while (rc == 0) {
        uint32_t type = 0, number = 0;
        std::memcpy(&type, head, 4);
        std::memcpy(&number, head + 4, 4);
        if (carried_resource(type, number)) {
            unsigned char *record = nullptr;
            int32_t length = 0;
            if (int got = read_resource(from, type, number, &record, &length)) return got;
            int added = _zvdbADDRES(to, record, length);
            _zvdb_free(record);
            if (added) return added;
        }
        unsigned char key[8];
        std::memcpy(key, head, sizeof key);
        rc = _zvdbREADRES(from, key, head, sizeof head, kResHeadNext, nullptr);
    }
    return resource_absent(rc) ? 0 : rc;
}

// The identity field, when the source's exists in the new table
// and is new there or asked for.
ZVDBRET copy_identity(tagZVDBTABLE *s, tagZVDBTABLE *t, bool identity) {
    if (!s->identityname) return 0;
    const tagZVDBFIELD *f = find_field(s, s->identityname);
    if (!f || deleted(f->status) || !find_field(t, s->identityname)) return 0;
    if (!(f->status & kStatusNew) && !identity) return 0;
    if (t->identityname) return 0;
    if (ZVDBRET rc = zvdbSetIdentityField(t, s->identityname, s->identityseed, s->identityincr)) return rc;
    return _zvdb_AddIDField(t);
}

// The defaults (and attributes) of the reloaded fields, by name.
ZVDBRET copy_defaults(tagZVDBTABLE *s, tagZVDBTABLE *t) {
    for (int32_t i = 0; i < _zvdbListCount(t->fields); i++) {
        auto *nf = static_cast<tagZVDBFIELD *>(t->fields->items[i]);
        const tagZVDBFIELD *f = find_field(s, nf->name);
        if (!f) continue;
        if (ZVDBRET rc = copy_attributes(f, nf)) return rc;
    }
    return 0;
}

// Deletes the files of a new table that is open, and closes its handle.
void drop_new_files(tagZVDBTABLE *t) {
    _zvdbIconReset(t);
    delete_set_files(t->datno, t->ifil);
    if (t->database) _zvdbRemoveActiveTable(t->database, t);
    release_table(t);
}

ZVDBRET create_temporary(tagZVDBTABLE *s, tagZVDBTABLE *t, const char *name, char **oldnames, char **newnames,
                         bool keepopen, bool identity) {
    ZVDBRET rc = copy_table_settings(s, t);
    if (rc == 0) rc = copy_fields(s, t);
    if (rc == 0) rc = copy_indexes(s, t, oldnames, newnames);
    if (rc == 0) {
        const uint32_t mode = temporary_mode(s, t, keepopen);
        CreateCipher cipher;
        if (s->datno >= 0) rc = cipher.take_from(s->datno);
        if (rc == 0) rc = zvdbCreateTable(t, name, mode);
    }
    if (rc == 0) rc = copy_defaults(s, t);
    if (rc == 0 && s->datno >= 0) rc = copy_resources(s->datno, t->datno);
    if (rc == 0) rc = copy_identity(s, t, identity);
    // A failure leaves the target closed and empty, its files (when made)
    // deleted.
    if (rc && t->active) {
        drop_new_files(t);
    } else if (rc) {
        release_table(t);
    }
    return rc;
}

// A clone listed among its database's open tables and closed; a failure
// deletes its files.
ZVDBRET finish_clone(tagZVDBTABLE *t) {
    ZVDBRET rc = t->database ? _zvdbAddActiveTable(t->database, t) : 0;
    if (rc) {
        drop_new_files(t);
        return rc;
    }
    const std::vector<std::string> names = set_file_names(t->datno, t->ifil ? t->ifil->dnumidx : 0);
    rc = zvdbCloseTable(t);
    if (rc && t->active) {
        drop_new_files(t);
    } else if (rc) {
        // The engine let the files go: they are deleted by name.
        for (const std::string &n : names) dltfil(n.c_str());
    }
    return rc;
}

}  // namespace

}  // namespace zv

using zv::keep_code;
using zv::table_of;

extern "C" {

ZV_API char *_zvdbTemporaryName(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) {
        keep_code(table, ZVDB_NO_TABLE);
        return nullptr;
    }
    // TMPNAME reads a directory from the buffer under one profile setting:
    // it starts empty.
    char name[256] = {};
    if (int rc = TMPNAME(name, int(sizeof name))) {
        keep_code(table, rc);
        return nullptr;
    }
    const char *sep = std::strrchr(name, _zvdbGetPathSeparator(t));
    std::string out = "c";
    out += sep ? sep + 1 : name;
    for (char &c : out) {
        if (c == '.') c = 'd';
    }
    char *copy = _zvdb_strdup(out.c_str());
    if (!copy) keep_code(table, ZVDB_NO_MEMORY);
    return copy;
}

ZV_API ZVDBRET _zvdbCreateTemporary(ZVHANDLE source, ZVHANDLE target, const char *name, char **oldnames,
                                    char **newnames, int keepopen, int identity) {
    tagZVDBTABLE *s = table_of(source);
    if (!s) return keep_code(source, ZVDB_NO_TABLE);
    tagZVDBTABLE *t = table_of(target);
    if (!t) return keep_code(source, ZVDB_NO_TABLE);
    if (!name) return keep_code(source, ZVDB_NO_MEMORY);
    if (t->active) return keep_code(source, ZVDB_ACTIVE);
    const int32_t check = t->reservedcheck;
    t->reservedcheck = 0;
    ZVDBRET rc = zv::create_temporary(s, t, name, oldnames, newnames, keepopen != 0, identity != 0);
    t->reservedcheck = check;
    return keep_code(source, rc);
}

ZV_API ZVDBRET zvdbCloneTable(ZVHANDLE table, const char *name, ZVHANDLE source) {
    tagZVDBTABLE *s = table_of(source);
    if (!s) return keep_code(source, ZVDB_NO_TABLE);
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(source, ZVDB_NO_TABLE);
    const bool own = !s->session->tranactive;
    if (own) zvdbBegin(s);
    ZVDBRET rc = _zvdbCreateTemporary(s, t, name, nullptr, nullptr, 1, 1);
    if (rc == 0) rc = zv::finish_clone(t);
    if (own) {
        const ZVDBRET end = rc ? zvdbAbort(s) : zvdbCommit(s);
        if (rc == 0) rc = end;
    }
    return keep_code(source, rc);
}

ZV_API int _zvdbHasSRLSEG(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return 0;
    for (int32_t i = 0; i < _zvdbListCount(t->indexes); i++) {
        auto *ix = static_cast<tagZVDBINDEX *>(t->indexes->items[i]);
        if (ix->status) continue;
        for (int32_t g = 0; g < _zvdbListCount(ix->segments); g++) {
            auto *s = static_cast<tagZVDBSEGMENT *>(ix->segments->items[g]);
            const int32_t base = s->mode & 0x10F;
            if (!s->status && (base == 3 || base == 257) && s->field && s->field != zv::rowid_field()) return 1;
        }
    }
    return 0;
}

ZV_API char *_zvdbGenerateFilterNames(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) {
        keep_code(table, ZVDB_NO_TABLE);
        return nullptr;
    }
    if (!t->doda) {
        keep_code(table, 438);
        return nullptr;
    }
    size_t bytes = 1;
    for (int32_t i = 0; i < t->dodacount; i++) {
        const size_t n = t->doda[i].fsymb ? std::strlen(t->doda[i].fsymb) : 0;
        if (n > zv::kPackedNameMax) {
            keep_code(table, ZVDB_NAME_TOO_LONG);
            return nullptr;
        }
        bytes += n + 2;
    }
    auto *out = static_cast<char *>(_zvdb_alloc(1, int32_t(bytes)));
    if (!out) {
        keep_code(table, ZVDB_NO_MEMORY);
        return nullptr;
    }
    char *p = out;
    for (int32_t i = 0; i < t->dodacount; i++) {
        const char *name = t->doda[i].fsymb ? t->doda[i].fsymb : "";
        const size_t n = std::strlen(name);
        *p++ = char(n + 2);
        std::memcpy(p, name, n + 1);
        p += n + 1;
    }
    zvdbSetError(table, 0);
    return out;
}

}  // extern "C"
