// Table open and attach: a closed table handle bound to its engine files,
// with its field, index and segment handles rebuilt from what the files
// hold; reload and reopen refresh an open handle after its files changed.
//
// Invariants:
//  1. An open that fails leaves the handle closed: its data file closed
//     again, no definition, schema or handles built on the way.
//  2. Field handles are made from the record schema with status 0, each
//     linked to its schema entry; the hidden entries are counted, never
//     made fields. Index handles are made from the file definition with
//     status 0 and the engine file number data file + 1 + position; the
//     hidden indexes are kept apart from the index list.
//  3. The create mode of an open table is rebuilt from the files: the
//     file's mode word and attributes, then the hidden fields and indexes
//     it lacks.
//  4. Every open, attach, reload and reopen gives the table a new layout
//     stamp, so that record handles rebuild their slots.
#include <cstring>
#include <string>

#include "recapi/base/paths.h"
#include "recapi/base/session.h"
#include "recapi/base/super.h"
#include "recapi/base/wrappers.h"
#include "recapi/catalog/dict_calls.h"
#include "recapi/schema/field.h"
#include "recapi/schema/index.h"
#include "recapi/schema/resource.h"
#include "recapi/schema/segment.h"
#include "recapi/schema/table.h"
#include "recapi/schema/tablefile.h"
#include "recapi/schema/vtable.h"

namespace zv {

namespace {

// Callback kinds of open and attach.
constexpr int kCbOpened = 10;
constexpr int kCbSchema = 12;
constexpr int kCbDescription = 13;
constexpr int kCbFields = 14;
constexpr int kCbFixedLength = 15;
constexpr int kCbDefinition = 18;
constexpr int kCbFailed = 19;
constexpr int kCbOpening = 20;

constexpr const char *kDelField = "$DELFLD$";
constexpr const char *kNullField = "$NULFLD$";
constexpr const char *kRowid = "$ROWID$";
constexpr const char *kRecbyt = "$RECBYT$";
constexpr const char *kRawField = "rawfld";

// Engine file-mode bits of an open file.
constexpr int32_t kFileShared = 1;
constexpr int32_t kFileVariable = 4;
constexpr int32_t kFileReadOnly = 8;

bool raw_open(uint32_t openmode) { return (openmode & 0x120) == 0x120; }

// After a read of the files: the read's code is the table's last result,
// and a callback set for the kind answers in its place (so that it can
// supply what the file lacks).
int after_read(tagZVDBTABLE *t, int kind, int rc) {
    t->callbackresult = rc;
    if (!table_callbacks_active(t) || !t->callbacks[kind]) return rc;
    return reinterpret_cast<ZVDB_TABLE_CALLBACK>(t->callbacks[kind])(t, 0);
}

// The record description: alignment byte at 1 of the field-type block.
int read_description(tagZVDBTABLE *t) {
    void *desc = nullptr;
    int32_t size = 0;
    int rc = _zvdbGETSCHEMA(t->datno, &desc, &size);
    t->recdesc = static_cast<unsigned char *>(_zvdb_free(t->recdesc));
    t->recdescsize = 0;
    if (rc == 0) {
        t->recdesc = static_cast<unsigned char *>(desc);
        t->recdescsize = size;
        if (size >= 16 && t->recdesc[1] != 0) t->alignment = t->recdesc[1];
    }
    return rc;
}

int32_t count_entries(const DATOBJ *doda) {
    int32_t n = 0;
    while (doda && doda[n].fend != 0xFFFF) n++;
    return n;
}

int read_schema(tagZVDBTABLE *t) {
    DATOBJ *doda = nullptr;
    int32_t size = 0;
    int rc = _zvdbGETDODA(t->datno, &doda, &size);
    t->doda = static_cast<DATOBJ *>(_zvdb_free(t->doda));
    t->dodacount = t->dodasize = 0;
    if (rc == 0) {
        t->doda = doda;
        t->dodasize = size;
        t->dodacount = count_entries(doda);
    }
    return rc;
}

int read_definition(tagZVDBTABLE *t) {
    IFIL *ifil = nullptr;
    int32_t size = 0;
    int rc = _zvdbGETIFIL(t->datno, &ifil, &size);
    t->ifil = static_cast<IFIL *>(_zvdb_free(t->ifil));
    if (rc == 0) t->ifil = ifil;
    return rc;
}

// A schema of one ZV_ARRAY field "rawfld" over the whole fixed record, for
// a raw open of a file without one.
ZVDBRET raw_schema(tagZVDBTABLE *t, int32_t length) {
    const size_t bytes = 2 * sizeof(DATOBJ) + std::strlen(kRawField) + 1;
    auto *doda = static_cast<DATOBJ *>(_zvdb_alloc(1, int32_t(bytes)));
    if (!doda) return ZVDB_NO_MEMORY;
    char *name = reinterpret_cast<char *>(doda + 2);
    std::memcpy(name, kRawField, std::strlen(kRawField) + 1);
    doda[0] = DATOBJ{name, 0, ZV_ARRAY, uint16_t(length), 0, 0};
    doda[1].fend = 0xFFFF;
    _zvdb_free(t->doda);
    t->doda = doda;
    t->dodacount = 1;
    t->dodasize = int32_t(bytes);
    return 0;
}

// Makes the field handles of the schema; the hidden entries set the table's
// flags. 0 or the field add's code.
ZVDBRET build_fields(tagZVDBTABLE *t) {
    for (int32_t i = _zvdbListCount(t->fields) - 1; i >= 0; i--) {
        free_field_record(static_cast<tagZVDBFIELD *>(t->fields->items[i]));
    }
    _zvdbListClear(t->fields);
    t->hiddenfields = 0;
    t->hasdelfld = t->hasnullfld = t->hasrowid = 0;
    t->rowidpos = 0;
    const int32_t check = t->reservedcheck;
    t->reservedcheck = 0;
    ZVDBRET rc = 0;
    int32_t user = 0;
    for (int32_t i = 0; i < t->dodacount && rc == 0; i++) {
        DATOBJ &e = t->doda[i];
        if (same_name(e.fsymb, kDelField)) {
            t->hasdelfld = 1;
            if (e.flen == 4) t->createmode |= cmode::kShortDelField;
        } else if (same_name(e.fsymb, kNullField)) {
            t->hasnullfld = 1;
        } else if (same_name(e.fsymb, kRowid)) {
            t->hasrowid = 1;
            t->rowidpos = i;
        } else {
            auto *f = static_cast<tagZVDBFIELD *>(zvdbAddField(t, e.fsymb, e.ftype, e.flen));
            if (!f) {
                rc = zvdbGetError(t);
                break;
            }
            f->status = 0;
            f->dodaentry = &e;
            f->schemapos = user++;
            continue;
        }
        t->hiddenfields++;
    }
    t->reservedcheck = check;
    return rc ? rc : 0;
}

// The field that a stored segment names, or NULL (the segment is then kept
// as an extended one); *missing when a schema segment names no field.
tagZVDBFIELD *segment_field(tagZVDBTABLE *t, const ISEG &g, bool *rowid, bool *missing) {
    *rowid = *missing = false;
    const bool exact = !(g.segmode & 0x480);
    if (_zvdbIsSCHSEG(g.segmode)) {
        if (g.soffset < 0 || g.soffset >= t->dodacount) return *missing = true, nullptr;
        const DATOBJ &e = t->doda[g.soffset];
        if (same_name(e.fsymb, kRowid)) return *rowid = true, nullptr;
        tagZVDBFIELD *f = find_field(t, e.fsymb);
        if (!f) return *missing = true, nullptr;
        if (exact && f->type != ZV_JSON && _zvdbCalculateSegmentLength(f) != g.slength) return nullptr;
        return f;
    }
    if ((g.segmode & 0x10E) == 4) {
        int32_t n = 0;
        for (int32_t i = 0; i < _zvdbListCount(t->fields); i++) {
            auto *f = static_cast<tagZVDBFIELD *>(t->fields->items[i]);
            if (!f->dodaentry || f->dodaentry->fadr < intptr_t(t->fixedlen)) continue;
            if (n++ == g.soffset) return f;
        }
        return nullptr;
    }
    for (int32_t i = 0; i < _zvdbListCount(t->fields); i++) {
        auto *f = static_cast<tagZVDBFIELD *>(t->fields->items[i]);
        if (!f->dodaentry || f->dodaentry->fadr != g.soffset) continue;
        if (!exact || f->length == g.slength) return f;
    }
    return nullptr;
}

// Frees the index handles of the list and the hidden indexes.
void drop_indexes(tagZVDBTABLE *t) {
    for (int32_t i = _zvdbListCount(t->indexes) - 1; i >= 0; i--) {
        free_index_record(static_cast<tagZVDBINDEX *>(t->indexes->items[i]));
    }
    _zvdbListClear(t->indexes);
    free_index_record(t->recbytindex);
    free_index_record(t->rowidindex);
    t->recbytindex = t->rowidindex = nullptr;
    t->hasrecbyt = 0;
    t->recbytno = t->rowidno = 0;
}

// The name an index of the stored definition gets: the stored one, or
// "base_position" where stored names cannot be used. The hidden indexes
// keep theirs, by which they are recognised.
std::string index_name(const tagZVDBTABLE *t, const IIDX &x, int position, bool hidden) {
    const char *stored = x.ridxnam ? x.ridxnam : "";
    const bool generated = !*stored || std::strcmp(t->name, t->physname) != 0 || t->idxnamebase ||
                           t->vtkind == kZvdbMultiRecordType;
    if (hidden || !generated) return stored;
    const char *base = t->idxnamebase ? t->idxnamebase : vtable_name(t);
    return std::string(base) + "_" + std::to_string(position);
}

// The path of a file name from the engine into the table's path, its name
// without directory and extension into name and physical name.
ZVDBRET take_names(tagZVDBTABLE *t, const char *full, const char *ext) {
    const int sep = _zvdbGetPathSeparator(t);
    const int32_t size = int32_t(std::strlen(full)) + 1;
    std::string dir(size_t(size), '\0'), name(size_t(size), '\0');
    if (ZVDBRET rc = _zvdb_GetFilePath(full, dir.data(), size, sep)) return rc;
    if (ZVDBRET rc = _zvdb_GetFileNameXtd(full, name.data(), size, sep, ext)) return rc;
    if (replace_text(&t->path, dir.c_str()) || replace_text(&t->name, name.c_str()) ||
        replace_text(&t->physname, name.c_str())) {
        return ZVDB_NO_MEMORY;
    }
    return 0;
}

// The extension of the file name an engine name mode gives (7 data, 8
// index), or `fallback` when it has none.
std::string engine_extension(tagZVDBTABLE *t, int mode, const char *fallback) {
    char full[256];
    char ext[256];
    const int sep = _zvdbGetPathSeparator(t);
    if (_zvdbGETNAM(t->datno, full, int32_t(sizeof full), mode) != 0 ||
        _zvdb_GetFileExt(full, ext, int32_t(sizeof ext), sep) != 0 || !*ext) {
        return fallback;
    }
    return ext;
}

// The data file name of the table: "host!member", or path/physname with a
// mirror after '|' (an empty mirror name or path is dropped: a mirror path
// alone takes the physical name, a mirror name alone an empty path).
std::string open_file_name(tagZVDBTABLE *t) {
    if (t->superfile) return std::string(_zvdbSuperGetName(t->superfile)) + "!" + t->physname;
    std::string name = file_path(t, t->path, t->physname);
    const bool mname = t->mirrorname && *t->mirrorname;
    const bool mpath = t->mirrorpath && *t->mirrorpath;
    if (mname || mpath) name += "|" + file_path(t, mpath ? t->mirrorpath : "", mname ? t->mirrorname : t->physname);
    return name;
}

// Open bit 64: the data file is opened alone to read its definition, then
// the set is opened from that definition.
int open_through_definition(tagZVDBTABLE *t, const std::string &name, int mode, int *datno) {
    const std::string file = name + (t->dataext ? t->dataext : ".dat");
    int f = -1;
    if (int rc = _zvdbOPNFILX(t, file.c_str(), mode, &f, 1)) return rc;
    IFIL *def = nullptr;
    int32_t size = 0;
    int rc = _zvdbGETIFIL(f, &def, &size);
    _zvdbCLSFIL(f);
    if (rc == 0) rc = _zvdbOPNIFILX(t, def, mode, datno);
    _zvdb_free(def);
    return rc;
}

// The engine's answer to a member open whose host cannot be opened, and
// to an open of a file a process left not closed cleanly.
constexpr int kHostNotOpen = 413;
constexpr int kNotClosed = 14;

// The host of a set in a superfile host: the part of its file name before
// the member separator, or "" for a set outside a host.
std::string host_of(const std::string &name) {
    const size_t bang = name.find('!');
    return bang == std::string::npos || bang == 0 ? std::string() : name.substr(0, bang);
}

// Before the open for rebuild of a set in a superfile host: a host that a
// process left not closed cleanly gets its superfile rebuild, which leaves
// its data members clean and its index members empty and marked, so that
// each set of it opens as it stands and its rebuild restores it (opened as
// it stands, the host itself would stay not closed cleanly and the set's
// rebuild would fail). Only a host that nobody holds: it is tried
// exclusively, which every other open of it refuses (another process's,
// or one in this process, each holding its lock on its own open), and
// which answers 14 only when the host was left not closed cleanly. 0 when
// the host was rebuilt or is left as it is; 413 when its rebuild failed,
// 4001.
ZVDBRET rebuild_host(tagZVDBTABLE *t, const std::string &name) {
    const std::string host = host_of(name);
    if (host.empty()) return 0;
    ZVDBSUPER *probe = _zvdbSuperAlloc(t);
    if (!probe) return ZVDB_NO_MEMORY;
    int rc = _zvdbSuperSetPath(probe, host.c_str());
    if (rc == 0) rc = _zvdbSuperOpen(probe, 1);
    _zvdbSuperFree(probe);
    if (rc != kNotClosed) return 0;
    return _zvdbZVSBLDX(t, host.c_str(), t->password) == 0 ? 0 : kHostNotOpen;
}

// The identity field of the open files: its schema position from the
// engine (none: 914, 170, 454), its increment and seed, its name from the
// schema. 0, 4017 a position beyond the schema, the engine's code.
ZVDBRET read_identity(tagZVDBTABLE *t) {
    t->identityname = static_cast<char *>(_zvdb_free(t->identityname));
    const int pos = wchIDfield(t->datno);
    if (pos < 0) {
        const int rc = instance_uerr();
        return rc == 914 || rc == 170 || rc == 454 || rc == 48 ? 0 : rc;
    }
    if (pos >= t->dodacount) return ZVDB_NO_FIELD;
    int64_t incr = 0, seed = 0;
    if (int rc = getIDfield(t->datno, 3, &incr)) return rc;
    if (int rc = getIDfield(t->datno, 4, &seed)) return rc;
    t->identityincr = incr;
    t->identityseed = seed;
    t->identityname = _zvdb_strdup(t->doda[pos].fsymb);
    return t->identityname ? 0 : ZVDB_NO_MEMORY;
}

// Fixed record length (callback 15) and extents of the open files.
ZVDBRET read_lengths(tagZVDBTABLE *t) {
    int64_t fixed = 0;
    if (int rc = _zvdbGETFIL(t->datno, 0, &fixed)) return rc;
    t->fixedlen = uint32_t(fixed);
    if (t->ifil) {
        t->dataextent = t->ifil->dxtdsiz;
        t->indexextent = t->ifil->ixtdsiz;
    }
    return fire_table_callback(t, kCbFixedLength, 0);
}

// Create mode of the open file and the partition settings (the rule from
// its resource).
ZVDBRET read_create_mode(tagZVDBTABLE *t) {
    int64_t mode = 0;
    if (int rc = _zvdbGETFIL(t->datno, 3, &mode)) return rc;
    t->createmode = create_mode_of_file(t, t->datno, int32_t(mode));
    if (!(t->createmode & cmode::kPartitioned)) return 0;
    char *rule = nullptr;
    if (ZVDBRET rc = _allocAndGetPARTRES(t, &rule)) return rc;
    if (reinterpret_cast<uintptr_t>(t->partrule) > 1) _zvdb_free(t->partrule);
    t->partrule = rule;
    return 0;
}

// Steps of an open after the data file is open: everything the handle
// keeps is read and built (*rebuilt once the handles made before the open
// are given up). 0 or the code.
ZVDBRET open_files(tagZVDBTABLE *t, bool *rebuilt) {
    const bool raw = raw_open(t->openmode);
    if (ZVDBRET rc = read_create_mode(t)) return rc;
    if (t->vtkind != 0 && raw) return ZVDB_NOT_SUPPORTED;
    int rc = t->vtkind != 0 ? _zvdbReadVTableSchema(t) : 0;
    if (t->vtkind == 0) {
        rc = after_read(t, kCbDescription, read_description(t));
        if (rc && !raw) return rc;
        rc = after_read(t, kCbSchema, read_schema(t));
        if (rc && !raw) return rc;
    } else if (rc) {
        return rc;
    }
    if ((rc = after_read(t, kCbDefinition, read_definition(t)))) return rc;
    if ((rc = read_lengths(t))) return rc;
    if (raw && !t->doda) {
        if ((rc = raw_schema(t, t->ifil ? t->ifil->dreclen : int32_t(t->fixedlen)))) return rc;
    }
    *rebuilt = true;
    if ((rc = build_fields(t))) return rc;
    if (t->vtkind != 0x10000 && !raw) {
        // A file made without the API's field extras opens without them.
        if ((rc = _zvdbGetFldx(t)) && !resource_absent(rc)) return rc;
    }
    for (int32_t i = 0; i < _zvdbListCount(t->fields); i++) static_cast<tagZVDBFIELD *>(t->fields->items[i])->status = 0;
    if ((rc = fire_table_callback(t, kCbFields, _zvdbListCount(t->fields)))) return rc;
    if ((rc = _zvdbCreateIndexFromIfil(t))) return rc;
    t->createmode |= hidden_create_bits(t);
    if (!t->database) {
        if (replace_text(&t->indexext, engine_extension(t, 8, ".idx").c_str())) return ZVDB_NO_MEMORY;
    }
    if ((rc = _zvdbReadPadChar(t))) return rc;
    t->active = 1;
    if ((rc = read_identity(t))) return rc;
    t->defaultedfields = 0;
    t->reloadcount++;
    new_layout(t);
    return 0;
}

// Sets name, physical name and mirror name of a free table from the path
// given to open it, as the table's extension hint says. 0, 4004, 4001, the
// split's code.
ZVDBRET names_from_path(tagZVDBTABLE *t, const char *path) {
    if (t->exthint > 2) return ZVDB_BAD_ARGUMENT;
    const int sep = _zvdbGetPathSeparator(t);
    const int32_t size = int32_t(std::strlen(path)) + 1;
    std::string name(size_t(size), '\0'), mirror(size_t(size), '\0');
    if (t->exthint == 2) {
        name = path;
    } else if (ZVDBRET rc = _zvdb_GetFileName(path, name.data(), size, sep)) {
        return rc;
    }
    if (t->exthint == 1) {
        std::string ext(size_t(size), '\0');
        if (ZVDBRET rc = _zvdb_GetFileExt(path, ext.data(), size, sep)) return rc;
        if (replace_text(&t->dataext, ext.c_str())) return ZVDB_NO_MEMORY;
    }
    if (ZVDBRET rc = _zvdb_GetMirrorFileName(path, mirror.data(), size, sep)) return rc;
    if (replace_text(&t->name, name.c_str()) || replace_text(&t->physname, name.c_str()) ||
        replace_text(&t->mirrorname, mirror.c_str())) {
        return ZVDB_NO_MEMORY;
    }
    return 0;
}

// Names of a table of a database from its dictionary entry, then the open
// and the entry in the database's list of open tables. A multi-record-type
// table opens its host's files, named by the host's entry (found by the
// UID its entry links), with its own type information; once open it shows
// its own name and UID, and its record handles take its filter.
ZVDBRET open_entry(tagZVDBTABLE *t, const ZVDBDICTENTRY &entry, uint32_t openmode) {
    ZVDBDICTENTRY host{};
    const ZVDBDICTENTRY *files = &entry;
    if (entry.type >= 0x10000) {
        t->vtkind = entry.type & 0xFFFF0000u;
        t->vtnumber = int32_t(entry.counter);
    }
    if (t->vtkind == kZvdbMultiRecordType) {
        _zvdbFreeVTableDef(t->vtinfo);
        if (!(t->vtinfo = _zvdbAllocVTableDef(entry.name))) return ZVDB_NO_MEMORY;
        ZVDBRET rc = _zvdbDictFindTableByUID(t->database, entry.linknbr, &host);
        if (rc) return rc == 101 ? ZVDB_NO_TABLE_NAME : rc;
        files = &host;
    }
    for (auto [slot, text] : {std::pair{&t->path, files->path}, std::pair{&t->name, files->name},
                              std::pair{&t->physname, files->physname}, std::pair{&t->dataext, files->datext},
                              std::pair{&t->indexext, files->idxext}}) {
        if (replace_text(slot, text)) return ZVDB_NO_MEMORY;
    }
    if (*files->mirrorpath && replace_text(&t->mirrorpath, files->mirrorpath)) return ZVDB_NO_MEMORY;
    if (*files->mirrorname && replace_text(&t->mirrorname, files->mirrorname)) return ZVDB_NO_MEMORY;
    t->uid = files->uid;
    if (ZVDBRET rc = _zvdbOpenInternal(t, openmode)) return rc;
    if (ZVDBRET rc = _zvdbAddActiveTable(t->database, t)) return rc;
    if (t->vtkind != kZvdbMultiRecordType) return 0;
    if (replace_text(&t->name, entry.name)) return ZVDB_NO_MEMORY;
    t->uid = entry.uid;
    const auto *def = static_cast<const ZVDBVTDEF *>(t->vtinfo);
    return def && def->filter ? zvdbFilterAll(t) : 0;
}

ZVDBRET open_table(tagZVDBTABLE *t, const char *name, uint32_t openmode) {
    if (!name) return ZVDB_NULL_ARGUMENT;
    if (t->active) {
        zvdbCloseTable(t);
        return ZVDB_ACTIVE;
    }
    if (t->database) {
        ZVDBDICTENTRY entry{};
        int rc = _zvdbDictFindTable(t->database, name, &entry);
        if (rc) return rc == 101 ? ZVDB_NO_TABLE_NAME : rc;
        return open_entry(t, entry, openmode);
    }
    if (ZVDBRET rc = names_from_path(t, name)) return rc;
    return _zvdbOpenInternal(t, openmode);
}

// A copy of a caller's definition in one block whose pointers lie inside
// it (names, indexes, segments; collating tables and pad bytes are not
// kept). 0, 4001.
ZVDBRET dup_ifil(const IFIL *ifil, IFIL **out) {
    auto text = [](const char *p) { return p ? std::strlen(p) + 1 : 0; };
    size_t bytes = sizeof(IFIL) + text(ifil->pfilnam);
    for (int k = 0; k < ifil->dnumidx; k++) {
        const IIDX &x = ifil->iidxarr[k];
        bytes += sizeof(IIDX) + size_t(x.inumseg) * sizeof(ISEG) + text(x.ridxnam) + text(x.aidxnam);
    }
    auto *copy = static_cast<IFIL *>(_zvdb_alloc(1, int32_t(bytes)));
    if (!copy) return ZVDB_NO_MEMORY;
    *copy = *ifil;
    auto *iidx = reinterpret_cast<IIDX *>(copy + 1);
    auto *area = reinterpret_cast<unsigned char *>(iidx + (ifil->dnumidx > 0 ? ifil->dnumidx : 0));
    auto put = [&area](const void *p, size_t n) {
        if (!p || !n) return static_cast<void *>(nullptr);
        std::memcpy(area, p, n);
        void *at = area;
        area += n;
        return at;
    };
    copy->iidxarr = ifil->dnumidx > 0 ? iidx : nullptr;
    for (int k = 0; k < ifil->dnumidx; k++) {
        const IIDX &x = ifil->iidxarr[k];
        iidx[k] = x;
        iidx[k].isegarr = static_cast<const ISEG *>(put(x.isegarr, size_t(x.inumseg) * sizeof(ISEG)));
        iidx[k].icolseq = nullptr;
        iidx[k].ipadbyt = nullptr;
    }
    copy->pfilnam = static_cast<const char *>(put(ifil->pfilnam, text(ifil->pfilnam)));
    for (int k = 0; k < ifil->dnumidx; k++) {
        iidx[k].ridxnam = static_cast<const char *>(put(ifil->iidxarr[k].ridxnam, text(ifil->iidxarr[k].ridxnam)));
        iidx[k].aidxnam = static_cast<const char *>(put(ifil->iidxarr[k].aidxnam, text(ifil->iidxarr[k].aidxnam)));
    }
    copy->rfstfld = copy->tlstfld = nullptr;
    *out = copy;
    return 0;
}

// Attach: the schema, definition and handles of a data file the caller
// opened. 0 or the code.
ZVDBRET attach_files(tagZVDBTABLE *t, int32_t count, const DATOBJ *fields, const IFIL *ifil) {
    char full[256];
    if (int rc = _zvdbGETNAM(t->datno, full, int32_t(sizeof full), 0)) return rc;
    const std::string dataext = engine_extension(t, 7, ".dat");
    const std::string indexext = engine_extension(t, 8, ".idx");
    if (replace_text(&t->dataext, dataext.c_str()) || replace_text(&t->indexext, indexext.c_str())) {
        return ZVDB_NO_MEMORY;
    }
    if (ZVDBRET rc = take_names(t, full, dataext.c_str())) return rc;
    t->tabletype = uint32_t(_zvdbCheckTableType(t));
    if (ZVDBRET rc = fire_table_callback(t, kCbOpened, 0)) return rc;
    int64_t mode = 0;
    if (int rc = _zvdbGETFIL(t->datno, 3, &mode)) return rc;
    t->openmode = (!(mode & kFileShared) ? 1u : 0u) | ((mode & 2) ? 2u : 0u) | ((mode & 0x4000) ? 4u : 0u) |
                  ((mode & kFileReadOnly) ? 32u : 0u);
    t->createmode = create_mode_of_file(t, t->datno, int32_t(mode));
    int rc = 0;
    if (count > 0 && fields) {
        if ((rc = _zvdbRELOADSCHEMAXTD(t, count, fields))) return rc;
    } else {
        rc = after_read(t, kCbDescription, read_description(t));
        if (rc == 0) rc = after_read(t, kCbSchema, read_schema(t));
        if (rc == 438 && t->tabletype != 4) rc = 0;
        if (rc) return rc;
        if ((rc = build_fields(t))) return rc;
        t->reloadcount++;
    }
    if (ifil) {
        IFIL *copy = nullptr;
        if ((rc = dup_ifil(ifil, &copy))) return rc;
        _zvdb_free(t->ifil);
        t->ifil = copy;
    } else if ((rc = after_read(t, kCbDefinition, read_definition(t)))) {
        return rc;
    }
    if ((rc = _zvdbCreateIndexFromIfil(t))) return rc;
    if ((rc = read_lengths(t))) return rc;
    int64_t permission = 0;
    if (_zvdbGETFIL(t->datno, 19, &permission) == 0) t->permission = uint32_t(permission);
    t->uid = 0;
    t->createmode |= hidden_create_bits(t);
    if (t->vtkind != 0x10000 && !raw_open(t->openmode)) {
        // A file made without the API's field extras opens without them.
        if ((rc = _zvdbGetFldx(t)) && !resource_absent(rc)) return rc;
        for (int32_t i = 0; i < _zvdbListCount(t->fields); i++) static_cast<tagZVDBFIELD *>(t->fields->items[i])->status = 0;
    }
    if ((rc = fire_table_callback(t, kCbFields, _zvdbListCount(t->fields)))) return rc;
    new_layout(t);
    return 0;
}

}  // namespace

int engine_open_mode(uint32_t openmode) {
    int mode = 0;
    if (!(openmode & 1)) mode |= kFileShared;
    if (openmode & 2) mode |= 2;
    if (openmode & 4) mode |= 0x4000;
    if (openmode & 8) mode |= 128;
    if (openmode & 16) mode |= 0x400;
    if (openmode & 32) mode |= kFileReadOnly;
    return mode;
}

uint32_t create_mode_of_file(tagZVDBTABLE *t, int datno, int32_t filemode) {
    uint32_t cm = 0;
    if ((filemode & 48) == 16) cm |= 1;
    if ((filemode & 48) == 48) cm |= 2;
    t->recformat = 0;
    if (filemode & kFileVariable) {
        cm |= cmode::kVariable;
        t->recformat = 1;
    }
    if (filemode & 64) cm |= 4;
    if (filemode & 128) cm |= 8;
    if (filemode & 0x400) cm |= 128;
    if (_zvdbISHUGEFILE(datno)) cm |= cmode::kHuge;
    int ext = 0, wide = 0, form = 0, other = 0;
    if (_zvdbGetFLMOD3(datno, &ext, &wide, &form, &other) == 0) {
        if (ext) cm |= cmode::kExtVariable;
        if (wide) cm |= 0x10000;
        if (form && t->recformat == 1) t->recformat = 4;
        if (other) cm |= 0x4000;
    }
    const int key = _zvdbPartKeyNo(datno);
    if (key >= 0) {
        cm |= cmode::kPartitioned;
        t->partindex = key;
        t->partbits = _zvdbPartCallParm(datno);
    }
    return cm;
}

uint32_t hidden_create_bits(const tagZVDBTABLE *t) {
    return (t->hasdelfld ? 0 : cmode::kNoDelField) | (t->hasnullfld ? 0 : cmode::kNoNullField) |
           (t->hasrowid ? 0 : cmode::kNoRowid) | (t->hasrecbyt ? 0 : cmode::kNoRecbyt);
}

}  // namespace zv

using zv::keep_code;
using zv::table_of;

extern "C" {

ZVDBRET _zvdbCreateIndexFromIfil(tagZVDBTABLE *t) {
    zv::drop_indexes(t);
    const IFIL *ifil = t->ifil;
    if (!ifil) return 0;
    for (int k = 0; k < ifil->dnumidx; k++) {
        const IIDX &x = ifil->iidxarr[k];
        if (x.ikeylen < 0) {
            t->skippedindex = 1;
            continue;
        }
        const bool recbyt = zv::same_name(x.ridxnam, zv::kRecbyt);
        const bool rowid = zv::same_name(x.ridxnam, zv::kRowid);
        const std::string name = zv::index_name(t, x, k, recbyt || rowid);
        auto *ix = static_cast<tagZVDBINDEX *>(_zvdbPutIndex(t, name.c_str(), x.ikeytyp, x.ikeydup & 1, x.inulkey));
        if (!ix) return zvdbGetError(t);
        ix->distinctflag = x.ikeydup >= 3 && x.ikeydup <= 5;
        ix->emptychar = x.iempchr;
        if (x.aidxnam && !(ix->filename = _zvdb_strdup(x.aidxnam))) return ZVDB_NO_MEMORY;
        ix->idxno = int16_t(t->datno + 1 + k);
        ix->iidx = const_cast<IIDX *>(&x);
        int32_t segbytes = 0;
        for (int g = 0; g < x.inumseg; g++) {
            const ISEG &sg = x.isegarr[g];
            bool isrowid = false, missing = false;
            tagZVDBFIELD *f = recbyt || rowid ? nullptr : zv::segment_field(t, sg, &isrowid, &missing);
            if (missing) return ZVDB_NO_FIELD_NAME;
            ZVHANDLE s = isrowid ? zvdbAddRowIdSegment(ix)
                         : f     ? _zvdbAddSegmentUnchecked(ix, f, sg.segmode)
                                 : nullptr;
            if (!s && !isrowid) s = zvdbAddSegmentEx(ix, sg.soffset, sg.slength, sg.segmode);
            if (!s) return zvdbGetError(t);
            static_cast<tagZVDBSEGMENT *>(s)->status = 0;
            segbytes += sg.slength;
        }
        ix->keylen = x.ikeylen;
        ix->dupsuffix = ix->dupflag ? x.ikeylen - segbytes : 0;
        ix->status = 0;
        if (t->openmode & 64) ix->tempflag = 0;
        if (t->alterstate != 3) {
            _zvdbGetIdxcndxExpr(ix);
            _zvdbGetIdxTempFlag(ix);
        }
        if (recbyt || rowid) {
            _zvdbListDeleteEx(t->indexes, ix);
            (recbyt ? t->recbytindex : t->rowidindex) = ix;
            (recbyt ? t->recbytno : t->rowidno) = ix->idxno;
            if (recbyt) t->hasrecbyt = 1;
        }
    }
    return 0;
}

ZVDBRET _zvdbOpenInternal(tagZVDBTABLE *t, uint32_t openmode) {
    const std::string name = zv::open_file_name(t);
    t->openmode = openmode;
    t->createmode = 0;
    const int mode = zv::engine_open_mode(openmode);
    t->tabletype = uint32_t(_zvdbCheckTableType(t));
    ZVDBRET rc = zv::fire_table_callback(t, zv::kCbOpening, 0);
    // Opened for its rebuild (bit 4, not read only), a set in a host that
    // was left not closed cleanly has the host rebuilt first.
    if (rc == 0 && (openmode & 4) && !(openmode & 32)) rc = zv::rebuild_host(t, name);
    int datno = -1;
    if (rc == 0) {
        rc = (openmode & 64) ? zv::open_through_definition(t, name, mode, &datno)
                             : _zvdbOPNRFILX(t, name.c_str(), mode, t->password, t->dataext, &datno, 0);
    }
    if (rc == 0) {
        t->datno = int16_t(datno);
        rc = zv::fire_table_callback(t, zv::kCbOpened, 0);
    }
    bool rebuilt = false;
    if (rc == 0) rc = zv::open_files(t, &rebuilt);
    if (rc == 0) return 0;
    t->active = 0;
    // Field and index handles defined before the open stay until the open
    // replaces them; what the open read goes.
    if (rebuilt) {
        zv::drop_definition(t);
    } else {
        zv::drop_read(t);
    }
    if (t->datno >= 0) _zvdbCLRFIL(t->datno);
    t->datno = -1;
    zv::fire_table_callback(t, zv::kCbFailed, 0);
    return rc;
}

ZV_API ZVDBRET zvdbOpenTable(ZVHANDLE table, const char *name, uint32_t openmode) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    const zv::CallerHandle caller(table);
    t->operation = 2;
    ZVDBRET rc = zv::open_table(t, name, openmode);
    if (rc && t->active) zvdbCloseTable(t);
    t->operation = 0;
    return caller.keep(rc);
}

ZV_API ZVDBRET zvdbOpenTableByUID(ZVHANDLE table, uint32_t uid, uint32_t openmode) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    if (t->active) return 0;
    if (!t->database) return keep_code(table, ZVDB_NO_DATABASE);
    const zv::CallerHandle caller(table);
    t->operation = 2;
    ZVDBDICTENTRY entry{};
    ZVDBRET rc = _zvdbDictFindTableByUID(t->database, uid, &entry);
    if (rc == 101) rc = ZVDB_NO_TABLE_NAME;
    if (rc == 0) rc = zv::open_entry(t, entry, openmode);
    if (rc && t->active) zvdbCloseTable(t);
    t->operation = 0;
    return caller.keep(rc);
}

ZV_API ZVDBRET zvdbAttachTableXtd(ZVHANDLE table, int datno, int32_t count, const DATOBJ *fields, const IFIL *ifil) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    if (t->active) return keep_code(table, ZVDB_ACTIVE);
    if (t->database) return keep_code(table, ZVDB_ATTACH_DATABASE);
    const zv::CallerHandle caller(table);
    t->active = 1;
    t->datno = int16_t(datno);
    ZVDBRET rc = zv::attach_files(t, count, fields, ifil);
    if (rc) zv::fire_table_callback(t, zv::kCbFailed, 0);
    return caller.keep(rc);
}

ZV_API ZVDBRET zvdbAttachTable(ZVHANDLE table, int datno) {
    return zvdbAttachTableXtd(table, datno, 0, nullptr, nullptr);
}

ZVDBRET _zvdbRELOADSCHEMAXTD(tagZVDBTABLE *t, int32_t count, const DATOBJ *fields) {
    if (!t) return ZVDB_NULL_ARGUMENT;
    if (!t->active) return ZVDB_NOT_ACTIVE;
    if (count > 0 && fields) {
        // A copy of the caller's entries, the names inside the block.
        size_t bytes = size_t(count + 1) * sizeof(DATOBJ);
        for (int32_t i = 0; i < count; i++) bytes += std::strlen(fields[i].fsymb ? fields[i].fsymb : "") + 1;
        auto *doda = static_cast<DATOBJ *>(_zvdb_alloc(1, int32_t(bytes)));
        if (!doda) return ZVDB_NO_MEMORY;
        char *names = reinterpret_cast<char *>(doda + count + 1);
        for (int32_t i = 0; i < count; i++) {
            doda[i] = fields[i];
            const char *n = fields[i].fsymb ? fields[i].fsymb : "";
            std::memcpy(names, n, std::strlen(n) + 1);
            doda[i].fsymb = names;
            doda[i].fend = 0;
            names += std::strlen(n) + 1;
        }
        doda[count].fend = 0xFFFF;
        _zvdb_free(t->doda);
        t->doda = doda;
        t->dodacount = count;
        t->dodasize = int32_t(bytes);
    } else {
        if (int rc = zv::after_read(t, zv::kCbDescription, zv::read_description(t))) return rc;
        if (int rc = zv::after_read(t, zv::kCbSchema, zv::read_schema(t))) return rc;
    }
    t->reloadcount++;
    return zv::build_fields(t);
}

ZVDBRET _zvdbRELOADIFILXTD(tagZVDBTABLE *t, const IFIL *ifil) {
    if (!t) return ZVDB_NULL_ARGUMENT;
    if (!t->active) return ZVDB_NOT_ACTIVE;
    if (!ifil) {
        if (int rc = zv::read_definition(t)) return rc;
        return _zvdbCreateIndexFromIfil(t);
    }
    // A copy of the caller's definition in one block.
    IFIL *copy = nullptr;
    if (ZVDBRET rc = zv::dup_ifil(ifil, &copy)) return rc;
    _zvdb_free(t->ifil);
    t->ifil = copy;
    return _zvdbCreateIndexFromIfil(t);
}

ZVDBRET _zvdbReloadTable(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    t->active = 1;
    t->reservedcheck = 0;
    ZVDBRET rc = zv::read_create_mode(t);
    if (rc == 0) rc = _zvdbRELOADSCHEMAXTD(t, 0, nullptr);
    if (rc == 0) rc = _zvdbRELOADIFILXTD(t, nullptr);
    if (rc == 0) {
        if (reinterpret_cast<uintptr_t>(t->partrule) > 1) _zvdb_free(t->partrule);
        t->partrule = nullptr;
        t->createmode |= zv::hidden_create_bits(t);
        rc = zv::read_lengths(t);
    }
    t->reservedcheck = 1;
    zv::new_layout(t);
    return rc;
}

ZVDBRET _zvdbReopenZarvo(ZVHANDLE table, uint32_t openmode) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    const std::string name = zv::open_file_name(t);
    int datno = -1;
    int rc = _zvdbOPNRFILX(t, name.c_str(), zv::engine_open_mode(openmode), t->password, t->dataext, &datno, 0);
    if (rc) return rc;
    t->datno = int16_t(datno);
    auto renumber = [t](tagZVDBINDEX *ix) {
        if (!ix || !ix->iidx || !t->ifil) return;
        const ptrdiff_t pos = ix->iidx - t->ifil->iidxarr;
        if (pos >= 0 && pos < t->ifil->dnumidx) ix->idxno = int16_t(t->datno + 1 + pos);
    };
    renumber(t->recbytindex);
    renumber(t->rowidindex);
    if (t->recbytindex) t->recbytno = t->recbytindex->idxno;
    if (t->rowidindex) t->rowidno = t->rowidindex->idxno;
    for (int32_t i = 0; i < _zvdbListCount(t->indexes); i++) renumber(static_cast<tagZVDBINDEX *>(t->indexes->items[i]));
    return 0;
}

ZVDBRET _zvdbReopenTable(ZVHANDLE table, uint32_t openmode) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    t->datno = -1;
    t->reservedcheck = 0;
    ZVDBRET rc = _zvdbReopenZarvo(t, openmode);
    if (rc == 0) {
        t->active = 1;
        rc = _zvdbRELOADSCHEMAXTD(t, 0, nullptr);
    }
    if (rc == 0) rc = _zvdbRELOADIFILXTD(t, nullptr);
    if (rc == 0) rc = zv::read_identity(t);
    if (rc == 0) {
        t->openmode = openmode;
        // The schema read gave the short "$DELFLD$" its bit; the file's
        // mode word does not hold it.
        const uint32_t shortdel = t->createmode & zv::cmode::kShortDelField;
        rc = zv::read_create_mode(t);
        t->createmode |= zv::hidden_create_bits(t) | shortdel;
    }
    if (rc) t->recdesc = static_cast<unsigned char *>(_zvdb_free(t->recdesc));
    t->reservedcheck = 1;
    zv::new_layout(t);
    return rc;
}

}  // extern "C"
