// The dictionary object: its table "zvdbdict" with the record layout of the
// definition table, creation and opening (with the repair of the serial
// number that UIDs come from), the session lock an operation holds, and the
// entry reads, writes, finds and walks every catalogue operation is made of
// (dictionary.h describes the record).
#include "recapi/catalog/dictionary.h"

#include <strings.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

#include "engine/core/platform.h"
#include "recapi/base/making.h"
#include "recapi/base/paths.h"
#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/catalog/dict_calls.h"
#include "recapi/catalog/repairlock.h"
#include "recapi/schema/rebuild.h"

namespace zv::dict {

namespace {

// One row of the definition table: a field (type, length; its number is
// its row), an index (duplicate flag) with its segments (index number,
// field number), and the end.
struct DefRow {
    char kind;  // 'F', 'I', 'S', 'X'
    const char *name;
    int32_t a;
    int32_t b;
};

constexpr int32_t kSegmentMode = 13;

constexpr DefRow kDefinition[] = {
    {'F', "TYPE", ZV_INT4, 4},        {'F', "STATUS", ZV_INT4, 4},     {'F', "NAME", ZV_FSTRING, 128},
    {'F', "LINK", ZV_FSTRING, 128},   {'F', "LINKNBR", ZV_INT4, 4},    {'F', "PATH", ZV_FSTRING, 255},
    {'F', "SUPEXT", ZV_FSTRING, 16},  {'F', "DATEXT", ZV_FSTRING, 16}, {'F', "IDXEXT", ZV_FSTRING, 16},
    {'F', "VERSION", ZV_INT4, 4},     {'F', "COUNTER", ZV_INT4, 4},    {'F', "UID", ZV_INT4, 4},
    {'F', "OWNER", ZV_FSTRING, 128},  {'F', "PHY_NAME", ZV_FSTRING, 128},
    {'F', "RESERVED", ZV_ARRAY, 3257},
    {'I', "DICTNAME", 0, 0},          {'S', nullptr, kByName, kType},  {'S', nullptr, kByName, kStatus},
    {'S', nullptr, kByName, kName},
    {'I', "DICTUID", 0, 0},           {'S', nullptr, kByUid, kUid},
    {'I', "DICTLINK", 1, 0},          {'S', nullptr, kByLink, kType},  {'S', nullptr, kByLink, kStatus},
    {'S', nullptr, kByLink, kLink},
    {'X', nullptr, 0, 0},
};
static_assert(sizeof kDefinition / sizeof kDefinition[0] == 26);

// Create modes by the session's dictionary transaction mode: no
// record-position index, no row id, no null-flag field, and the mode's
// transaction level.
constexpr uint32_t kCreateBase = 32 | 64 | 0x400;
constexpr uint32_t kCreateMakeDirs = 0x80000;
constexpr uint32_t kPermission = 6366;
// The alteration that brings an older table to the definition: the pending
// edits, the new table of a copy keeping its transaction modes.
constexpr uint32_t kAlterKeepModes = 0x8000;

const char *host_extension(const ZVDBDICT *d) { return d->kind == 1 ? ".qsd" : ".qdd"; }

std::string host_name(const ZVDBDICT *d, const char *name) { return std::string(name) + host_extension(d); }

// Frees the field and index handles a failed create left on the table.
void discard_definition(tagZVDBTABLE *t) {
    while (_zvdbListCount(t->indexes) > 0) zvdbFreeIndex(_zvdbListItem(t->indexes, 0));
    while (_zvdbListCount(t->fields) > 0) zvdbFreeField(_zvdbListItem(t->fields, 0));
}

// The code a failed handle call left on the table's session.
ZVDBRET failure_of(tagZVDBTABLE *t) {
    ZVDBRET rc = zvdbGetError(t);
    return rc ? rc : ZVDB_NO_MEMORY;
}

ZVDBRET set_int(tagZVDBRECORD *r, int32_t n, uint32_t v) { return zvdbSetFieldAsSigned(r, n, int32_t(v)); }

ZVDBRET get_int(tagZVDBRECORD *r, int32_t n, uint32_t *v) {
    int32_t x = 0;
    ZVDBRET rc = zvdbGetFieldAsSigned(r, n, &x);
    *v = uint32_t(x);
    return rc;
}

ZVDBRET get_text(tagZVDBRECORD *r, int32_t n, char *out, size_t size) {
    ZVDBRET rc = zvdbGetFieldAsString(r, n, out, int32_t(size));
    if (rc) out[0] = 0;
    return rc;
}

// Whether the table is of the current structure: field 13 is "PHY_NAME".
bool has_physname(tagZVDBTABLE *t) {
    const char *name = zvdbGetFieldName(zvdbGetField(t, kPhysName));
    return name && strcasecmp(name, "PHY_NAME") == 0;
}

// Splits a stored PATH: the text before its last '|' is the path, the rest
// a mirror file path that gives the mirror name (without directory and
// extension) and the mirror path.
void split_path(ZVDBDICTENTRY &e, const char *stored, int sep) {
    const char *bar = std::strrchr(stored, '|');
    e.mirrorname[0] = e.mirrorpath[0] = 0;
    if (!bar) {
        put_text(e.path, sizeof e.path, stored);
        return;
    }
    std::snprintf(e.path, sizeof e.path, "%.*s", int(bar - stored), stored);
    const char *file = bar + 1;
    const char *slash = std::strrchr(file, sep);
    if (slash) std::snprintf(e.mirrorpath, sizeof e.mirrorpath, "%.*s", int(slash - file), file);
    const char *base = slash ? slash + 1 : file;
    const char *dot = std::strrchr(base, '.');
    std::snprintf(e.mirrorname, sizeof e.mirrorname, "%.*s", int(dot ? dot - base : int(std::strlen(base))), base);
}

// The PATH to store for an entry: the path, and with a mirror "|", the
// mirror path joined with the mirror name, and the data extension. false
// when it is longer than the field.
bool stored_path(const ZVDBDICTENTRY &e, int sep, char (&out)[256]) {
    if (!e.mirrorname[0] && !e.mirrorpath[0]) return put_text(out, sizeof out, e.path);
    std::string text = std::string(e.path) + "|";
    if (e.mirrorpath[0]) {
        text += e.mirrorpath;
        if (text.back() != char(sep)) text += char(sep);
    }
    text += std::string(e.mirrorname) + e.datext;
    return put_text(out, sizeof out, text.c_str());
}

constexpr int kFileExists = 19;
// The engine's answer to an open that another open's lock refuses.
constexpr int kHeld = 12;

// A dictionary's name as the engine opens it: with the session's prefix.
ZVDBRET engine_name(const ZVDBDICT *d, const std::string &name, std::string &out) {
    char *full = nullptr;
    ZVDBRET rc = zv::prefixed_name(d->session, name.c_str(), &full);
    if (rc == 0) out = full;
    _zvdb_free(full);
    return rc;
}

// Takes away what a make left under the temporary name `temp` (a file as
// engine_name gives it): a host, or a directory holding the dictionary's
// table, whose files are of the make too. 0 when nothing is left, 12 while
// an open holds it (a make at work), 55.
int drop_made(const ZVDBDICT *d, const std::string &temp) {
    if (!zv::making::exists(temp)) return 0;
    const std::string inside = temp + char(_zvdbGetPathSeparator(d->session)) + kTableName;
    for (const char *ext : {".dat", ".idx"}) {
        for (const std::string &file : {inside + ext, zv::making::temp_name(inside + ext)}) {
            if (int rc = zv::making::drop_leftover(file)) return rc;
        }
    }
    return zv::making::drop_leftover(temp);
}

// The engine's answer for files a process did not close (killed, or its
// close failed): they open again only after their rebuild.
constexpr int kNotClosed = 14;
// Table open bit: open files not closed cleanly, for their rebuild.
constexpr uint32_t kOpenForRebuild = 4;

// The open of the table in the host or in the directory the host names,
// with the open bits `more`.
ZVDBRET open_table(ZVDBDICT *d, bool insuper, const std::string &host, int exclusive, uint32_t more = 0) {
    ZVDBRET rc = insuper ? zvdbSetTableSuperFile(d->table, d->super) : zvdbSetTablePath(d->table, host.c_str());
    if (rc == 0) rc = zvdbOpenTable(d->table, kTableName, (exclusive ? 3 : 0) | more);
    return rc;
}

// The host of a dictionary in a superfile opened. A host that a process
// left not closed cleanly answers 14, or, with `repair`, is first repaired
// by the superfile rebuild: its index members are then empty and marked
// until the table's rebuild (see open_repaired). 0, 920 not a superfile
// host, or the code of the open or of the rebuild.
ZVDBRET open_host(ZVDBDICT *d, const std::string &host, bool repair) {
    ZVDBRET rc = _zvdbSuperSetPath(d->super, host.c_str());
    if (rc == 0) rc = _zvdbSuperOpen(d->super, d->exclusive);
    if (rc != kNotClosed || !repair) return rc;
    if ((rc = _zvdbZVSBLDX(d->table, host.c_str(), nullptr)) != 0) return rc;
    return _zvdbSuperOpen(d->super, d->exclusive);
}

// The dictionary's table opened. Files that a process left not closed
// cleanly answer 14, or, with `repair`, are rebuilt in place from their
// stored definition (the table opened as it stands for that, then rebuilt
// and opened again as asked). The dictionary is the record layer's own
// table: its repair needs nothing from the caller, and leaves every entry
// flushed before the kill. 0 or the first code that stops it (the table
// closed then).
ZVDBRET open_repaired(ZVDBDICT *d, bool insuper, const std::string &host, bool repair) {
    ZVDBRET rc = open_table(d, insuper, host, d->exclusive);
    if (rc != kNotClosed || !repair) return rc;
    if ((rc = open_table(d, insuper, host, d->exclusive, kOpenForRebuild)) != 0) return rc;
    if ((rc = zvdbRebuildTable(d->table, 0)) != 0 && d->table->active) zvdbCloseTable(d->table);
    return rc;
}

ZVDBRET repair_serial(ZVDBDICT *d);

// One try at the dictionary's files, repairing them when `repair`: 0, 14
// (not closed cleanly, without `repair`), 920 neither a host nor a plain
// table, or the open's code (12 while another open holds them).
ZVDBRET open_files(ZVDBDICT *d, const std::string &host, bool trysuper, bool repair) {
    bool insuper = trysuper;
    bool fallback = false;
    if (insuper) {
        ZVDBRET rc = open_host(d, host, repair);
        if (rc == 920) {
            // The host is a directory: a dictionary outside a superfile.
            insuper = false;
            fallback = true;
        } else if (rc) {
            return rc;
        }
    }
    if (ZVDBRET rc = open_repaired(d, insuper, host, repair)) {
        _zvdbSuperClose(d->super);
        // After the fallback, a table that is not there either is no
        // dictionary at all.
        const bool refused = rc == kNotClosed || (rc == kHeld && zvGetSystemErrorCode() != ENOENT);
        return fallback && !refused ? 920 : rc;
    }
    return 0;
}

// The dictionary's files opened, and repaired when a process left them not
// closed cleanly, under the repair lock. While another process repairs
// them, the open waits (up to kRepairWait) and tries again; 12 past that
// bound, or at once when another open holds them and nobody repairs.
ZVDBRET open_waiting(ZVDBDICT *d, const std::string &host, bool trysuper) {
    std::string lockname;
    if (ZVDBRET rc = engine_name(d, host + ".repair", lockname)) return rc;
    RepairLock lock(lockname);
    const auto deadline = std::chrono::steady_clock::now() + kRepairWait;
    std::minstd_rand jitter(unsigned(std::chrono::steady_clock::now().time_since_epoch().count()));
    auto pause = [&] {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kRepairPollMs + int(jitter() % kRepairPollMs)));
        return true;
    };
    uint64_t repairs = lock.repairs();
    for (;;) {
        // Another process's repair is left alone until it ends: its
        // exclusive steps would meet these opens, and the files are not
        // whole while it works.
        if (!lock.held() && lock.busy()) {
            if (!pause()) return kHeld;
            continue;
        }
        ZVDBRET rc = open_files(d, host, trysuper, lock.held());
        if (rc == 0 && lock.held()) {
            // Repaired here, with the serial number. The repair's writes
            // hold the files as a changing open does (another open of them
            // answers 12 until they close): they are closed and opened once
            // more, as any open opens them, before the lock goes.
            const ZVDBRET serial = repair_serial(d);
            ZVDBRET closed = zv::close_clean(d->table, _zvdbSuperIsOpen(d->super) ? d->super : nullptr);
            if (ZVDBRET host_closed = _zvdbSuperClose(d->super); closed == 0) closed = host_closed;
            if (serial || closed) return serial ? ZVDB_DICT_REPAIR : closed;
            return open_files(d, host, trysuper, false);
        }
        if (rc == 0) return 0;
        if (lock.held()) {
            // The repair meets another open's brief hold: again.
            if (rc != kHeld) return rc;
        } else if (rc == kNotClosed) {
            // Repaired here, unless another process does it now. A lock
            // file that does not open refuses the repair (12, its system
            // error kept).
            if (lock.take()) continue;
            if (lock.refused()) return kHeld;
        } else if (!lock.busy()) {
            // No repair at work: the answer stands, unless one came and went
            // while this open tried.
            const uint64_t now = lock.repairs();
            if (now == repairs) return rc;
            repairs = now;
            continue;
        }
        if (!pause()) return kHeld;
    }
}

// The serial number past the highest UID: the last entry of "DICTUID" read;
// an empty table has nothing to repair.
ZVDBRET repair_serial(ZVDBDICT *d) {
    uint64_t serial = 0;
    if (ZVDBRET rc = _zvdbGetSerial(d->table, &serial)) return rc;
    if (ZVDBRET rc = zvdbSetDefaultIndex(d->record, kByUid)) return rc;
    ZVDBRET rc = zvdbLastRecord(d->record);
    if (rc == 101) return 0;
    uint32_t uid = 0;
    if (rc == 0) rc = get_int(d->record, kUid, &uid);
    if (rc == 0 && uint64_t(uid) >= serial + kUidBase) rc = _zvdbUpdateSerial(d->table, uint64_t(uid) - (kUidBase - 1));
    return rc;
}

// Positions the record on the entry whose key fields the caller put.
ZVDBRET find_key(ZVDBDICT *d, int32_t index) {
    if (ZVDBRET rc = zvdbSetDefaultIndex(d->record, index)) return rc;
    return zvdbFindRecord(d->record, 0);
}

// Reads the next record of the walk (first when `first`) until one of the
// type and status: 0, 101 at the end.
ZVDBRET walk(ZVDBDICT *d, uint32_t type, uint32_t status, bool first) {
    tagZVDBRECORD *r = d->record;
    if (first && !d->linkset) {
        if (ZVDBRET rc = zvdbSetDefaultIndex(r, kByName)) return rc;
    }
    for (ZVDBRET rc = first ? zvdbFirstRecord(r) : zvdbNextRecord(r);; rc = zvdbNextRecord(r)) {
        if (rc) return rc;
        uint32_t t = 0, s = 0;
        if ((rc = get_int(r, kType, &t)) || (rc = get_int(r, kStatus, &s))) return rc;
        if (type_matches(t, type) && s == status) return 0;
    }
}

// Checks the object of a routine: 0, 4007 none, 4012 not open.
ZVDBRET open_object(ZVDBDICT *d) {
    if (!d) return ZVDB_NULL_ARGUMENT;
    return d->open ? 0 : ZVDB_NOT_ACTIVE;
}

ZVDBRET keep(ZVDBDICT *d, ZVDBRET rc) {
    if (rc && d && d->session) zvdbSetError(d->session, rc);
    return rc;
}

// One dump line of the current record.
ZVDBRET dump_line(std::FILE *out, ZVDBDICT *d) {
    ZVDBDICTENTRY e;
    if (ZVDBRET rc = _zvdbGetDict(d, &e)) return rc;
    char path[256];
    stored_path(e, _zvdbGetPathSeparator(d->session), path);
    std::fprintf(out, "%04u %04u %-40s %-40s %4u %-40s %-9s %-9s %-9s %08x %04u %04u %-40s\n", e.type, e.status,
                 e.name, e.link, e.linknbr, path, e.supext, e.datext, e.idxext, e.version, e.counter, e.uid,
                 e.physname);
    return 0;
}

void dump_rule(std::FILE *out) {
    std::string rule(181, '-');
    std::fprintf(out, "%s\n", rule.c_str());
}

}  // namespace

bool put_text(char *out, size_t n, const char *text) {
    const size_t len = text ? std::strlen(text) : 0;
    if (len >= n) return false;
    if (len) std::memcpy(out, text, len);
    out[len] = 0;
    return true;
}

ZVDBRET new_entry(ZVDBDICTENTRY &e, uint32_t type, const char *name) {
    e = ZVDBDICTENTRY{};
    e.type = type;
    e.version = kVersion1;
    if (!put_text(e.name, sizeof e.name, name) || !put_text(e.physname, sizeof e.physname, name)) {
        return ZVDB_NAME_TOO_LONG;
    }
    return 0;
}

ZVDBRET session_dict(ZVHANDLE handle, ZVDBDICT **out) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    if (!s->dict) return keep_code(handle, ZVDB_NO_DICTIONARY);
    if (!s->dict->open) return keep_code(handle, ZVDB_NOT_ACTIVE);
    *out = s->dict;
    return 0;
}

ZVDBRET database_dict(ZVHANDLE handle, tagZVDBDATABASE **db, ZVDBDICT **out) {
    if (!session_of(handle)) return ZVDB_NO_SESSION;
    auto *d = static_cast<tagZVDBDATABASE *>(zvdbGetDatabaseHandle(handle));
    if (!d) return keep_code(handle, ZVDB_NO_DATABASE);
    if (!d->dict) return keep_code(handle, ZVDB_NO_DICTIONARY);
    if (!d->connected || !d->dict->open) return keep_code(handle, ZVDB_NOT_ACTIVE);
    if (db) *db = d;
    *out = d->dict;
    return 0;
}

ZVDBRET hand_over() { return ZVDBRET(ZVFLUSH(-1)); }

ZVDBRET add_entry(ZVDBDICT *d, ZVDBDICTENTRY &e) {
    ZVDBRET rc = _zvdbGetDictUID(d, &e.uid);
    if (rc == 0) rc = _zvdbClearDict(d);
    if (rc == 0) rc = _zvdbPutDict(d, &e);
    if (rc == 0) rc = _zvdbWriteDict(d);
    return rc;
}

ZVDBRET rewrite_entry(ZVDBDICT *d, const ZVDBDICTENTRY &e) {
    ZVDBRET rc = _zvdbPutDict(d, &e);
    if (rc == 0) rc = _zvdbWriteDict(d);
    return rc;
}

ZVDBRET read_entry(ZVDBDICT *d, uint32_t type, uint32_t status, const char *name, ZVDBDICTENTRY &e) {
    ZVDBRET rc = _zvdbFindDict(d, type, status, name);
    return rc ? rc : _zvdbGetDict(d, &e);
}

ZVDBRET count(ZVDBDICT *d, uint32_t type, uint32_t status, int32_t *n) {
    if (ZVDBRET rc = open_object(d)) return rc;
    *n = 0;
    ZVDBRET rc = walk(d, type, status, true);
    for (; rc == 0; rc = walk(d, type, status, false)) ++*n;
    return rc == 101 ? 0 : rc;
}

ZVDBRET link_set_on(ZVDBDICT *d, uint32_t type, uint32_t status, const char *link) {
    if (ZVDBRET rc = open_object(d)) return rc;
    if (!link) return ZVDB_NULL_ARGUMENT;
    _zvdbRecordSetByLinkOff(d);
    tagZVDBRECORD *r = d->record;
    ZVDBRET rc = zvdbSetDefaultIndex(r, kByLink);
    if (rc == 0) rc = zvdbClearRecord(r);
    if (rc == 0) rc = set_int(r, kType, type);
    if (rc == 0) rc = set_int(r, kStatus, status);
    if (rc == 0) rc = zvdbSetFieldAsString(r, kLink, link);
    if (rc == 0) rc = zvdbRecordSetOn(r, kLinkPrefix);
    if (rc == 0) d->linkset = 1;
    else zvdbSetDefaultIndex(r, kByName);
    return rc;
}

ZVDBRET add_from_defs(tagZVDBTABLE *t) {
    for (const DefRow &row : kDefinition) {
        ZVHANDLE made = nullptr;
        switch (row.kind) {
        case 'F': made = zvdbAddField(t, row.name, row.a, row.b); break;
        case 'I': made = zvdbAddIndex(t, row.name, 0, row.a, 0); break;
        case 'S': made = zvdbAddSegmentByNbr(t, row.a, row.b, kSegmentMode); break;
        default: return 0;
        }
        if (!made) return failure_of(t);
    }
    return 0;
}

ZVDBRET edit_to_defs(tagZVDBTABLE *t, bool *changed) {
    *changed = false;
    int32_t field = 0;
    ZVHANDLE added = nullptr;  // the index of the segment rows that follow, when added here
    for (const DefRow &row : kDefinition) {
        switch (row.kind) {
        case 'F': {
            auto *f = static_cast<tagZVDBFIELD *>(_zvdbListItem(t->fields, field));
            if (!f || !f->name || strcasecmp(f->name, row.name) != 0) {
                if (!zvdbInsField(t, field, row.name, row.a, row.b)) return failure_of(t);
                *changed = true;
            } else if (f->type != row.a || f->length != row.b) {
                ZVDBRET rc = f->type != row.a ? zvdbSetFieldType(f, row.a) : 0;
                if (rc == 0) rc = zvdbSetFieldLength(f, row.b);
                if (rc) return rc;
                *changed = true;
            }
            field++;
            break;
        }
        case 'I':
            added = zvdbAddIndex(t, row.name, 0, row.a, 0);
            if (added) {
                *changed = true;
            } else if (ZVDBRET rc = failure_of(t); rc != ZVDB_INDEX_NAME) {
                return rc;
            }
            break;
        case 'S':
            if (added && !zvdbAddSegment(added, zvdbGetField(t, row.b), kSegmentMode)) return failure_of(t);
            break;
        default: return 0;
        }
    }
    return 0;
}

}  // namespace zv::dict

using namespace zv::dict;
using zv::keep_code;

extern "C" {

ZV_API ZVDBDICT *_zvdbAllocDict(ZVHANDLE handle, int kind) {
    tagZVDBSESSION *s = zv::session_of(handle);
    if (!s) return nullptr;
    auto *d = static_cast<ZVDBDICT *>(_zvdb_alloc(1, sizeof(ZVDBDICT)));
    if (!d) return keep_code(handle, ZVDB_NO_MEMORY), nullptr;
    d->session = s;
    d->kind = kind;
    d->super = _zvdbSuperAlloc(s);
    if (d->super) d->super->createsel = kind == 1 ? 1 : 2;
    d->table = static_cast<tagZVDBTABLE *>(zvdbAllocTable(s));
    if (d->table) {
        // The dictionary's table belongs to the object, not to the session's
        // children, and runs no caller's callbacks.
        _zvdbUnlinkChild(d->table);
        for (ZvdbRoutine &cb : d->table->callbacks) cb = nullptr;
        d->record = static_cast<tagZVDBRECORD *>(zvdbAllocRecord(d->table));
    }
    if (!d->super || !d->table || !d->record) {
        _zvdbFreeDict(d);
        return keep_code(handle, ZVDB_NO_MEMORY), nullptr;
    }
    return d;
}

ZV_API ZVDBRET _zvdbFreeDict(ZVDBDICT *d) {
    if (!d) return 0;
    _zvdbCloseDict(d);
    // Closed, the handles need no engine: freed without their session, they
    // go also when the session's instance is gone.
    if (d->table) d->table->session = nullptr;
    if (d->record) {
        d->record->session = nullptr;
        zvdbFreeRecord(d->record);
    }
    if (d->table) zvdbFreeTable(d->table);
    _zvdbSuperFree(d->super);
    _zvdb_free(d->name);
    _zvdb_free(d);
    return 0;
}

int _zvdbDictInSuperfile(ZVDBDICT *d) { return d && d->open && _zvdbSuperIsOpen(d->super) ? 1 : 0; }

ZVDBRET _zvdbDictRenewRecord(ZVDBDICT *d) {
    if (!d || !d->table) return ZVDB_NULL_ARGUMENT;
    if (d->record) zvdbFreeRecord(d->record);
    d->record = static_cast<tagZVDBRECORD *>(zvdbAllocRecord(d->table));
    return d->record ? 0 : keep(d, ZVDB_NO_MEMORY);
}

ZV_API ZVDBRET _zvdbCreateDict(ZVDBDICT *d, const char *name, int insuper) {
    if (!d || !name) return ZVDB_NULL_ARGUMENT;
    if (!d->table || !d->record || !d->super) return keep(d, ZVDB_BAD_KIND);
    if (d->open) return keep(d, ZVDB_ACTIVE);
    // The transaction level comes from the session; a mode without one
    // makes nothing.
    uint32_t level;
    switch (d->session->dicttranmode) {
    case 0: level = 0; break;
    case 1: level = 1; break;
    case 3: level = 2; break;
    default: return keep(d, ZVDB_BAD_MODE);
    }
    if (zv::replace_text(&d->name, name)) return keep(d, ZVDB_NO_MEMORY);
    // The dictionary is made whole under a temporary name and then takes
    // its own (zv::making): a kill at any moment leaves no dictionary, or a
    // whole one, under the name.
    const std::string host = host_name(d, name);
    const std::string temp = zv::making::temp_name(host);
    std::string hostfile, tempfile;
    ZVDBRET rc = engine_name(d, host, hostfile);
    if (rc == 0) rc = engine_name(d, temp, tempfile);
    if (rc) return keep(d, rc);
    if (zv::making::exists(hostfile)) return keep(d, kFileExists);
    if ((rc = drop_made(d, tempfile))) return keep(d, rc);
    tagZVDBTABLE *t = d->table;
    if (insuper) {
        d->super->createkind = d->session->dicttranmode;
        rc = _zvdbSuperSetPath(d->super, temp.c_str());
        if (rc == 0) rc = _zvdbSuperCreate(d->super);
        if (rc) return keep(d, rc);
    }
    rc = add_from_defs(t);
    if (rc == 0) rc = insuper ? zvdbSetTableSuperFile(t, d->super) : zvdbSetTablePath(t, temp.c_str());
    if (rc == 0) rc = zvdbSetTablePermission(t, kPermission);
    if (rc == 0) rc = zvdbCreateTable(t, kTableName, kCreateBase | level | (insuper ? 0 : kCreateMakeDirs));
    if (rc) {
        discard_definition(t);
        zvdbClearTableSuperFile(t);
        // A host made here for a table that could not be made goes again.
        if (insuper) _zvdbSuperDrop(d->super);
    }
    ZVDBRET closed = _zvdbSuperClose(d->super);
    if (rc == 0) rc = closed;
    if (rc == 0) rc = zv::making::link_in(tempfile, hostfile);
    // Under its name, or not made: the temporary name goes (a directory
    // once its files went).
    drop_made(d, tempfile);
    return keep(d, rc);
}

ZV_API ZVDBRET _zvdbOpenDict(ZVDBDICT *d, const char *name, int exclusive, int trysuper) {
    if (!d || !name || !d->table || !d->record || !d->super) return keep(d, ZVDB_BAD_KIND);
    if (d->open) _zvdbCloseDict(d);
    d->exclusive = exclusive ? 1 : 0;
    if (zv::replace_text(&d->name, name)) return keep(d, ZVDB_NO_MEMORY);
    const std::string host = host_name(d, name);
    if (ZVDBRET rc = open_waiting(d, host, trysuper != 0)) return keep(d, rc);
    d->open = 1;
    if (repair_serial(d)) {
        _zvdbCloseDict(d);
        return keep(d, ZVDB_DICT_REPAIR);
    }
    return 0;
}

ZV_API ZVDBRET _zvdbReopenDict(ZVDBDICT *d, int exclusive) {
    if (!d) return ZVDB_NULL_ARGUMENT;
    if (!d->open) return keep(d, ZVDB_NOT_ACTIVE);
    if (d->exclusive == (exclusive ? 1 : 0)) return 0;
    std::string name = d->name;
    _zvdbCloseDict(d);
    return _zvdbOpenDict(d, name.c_str(), exclusive, 1);
}

ZV_API ZVDBRET _zvdbCloseDict(ZVDBDICT *d) {
    if (!d) return ZVDB_NULL_ARGUMENT;
    if (!d->open) return 0;
    _zvdbRecordSetByLinkOff(d);
    // Both close whatever the other answers. Files that could not be
    // written as closed are rebuilt (the host with them, which holds the
    // dictionary alone) so that the dictionary opens again; a failed
    // repair is reported.
    ZVDBRET rc = zv::close_clean(d->table, _zvdbSuperIsOpen(d->super) ? d->super : nullptr);
    _zvdbSuperClose(d->super);
    d->open = 0;
    d->locked = 0;
    return keep(d, rc);
}

ZV_API ZVDBRET _zvdbDeleteDict(ZVDBDICT *d) {
    if (!d || !d->name) return ZVDB_NULL_ARGUMENT;
    _zvdbCloseDict(d);
    const std::string host = host_name(d, d->name);
    int hostno = -1;
    int rc = _zvdbAVLFILNBR(1, &hostno);
    if (rc == 0) rc = _zvdbOPNFIL(d->session, hostno, host.c_str(), 514);
    if (rc == 0) {
        // The engine deletes no set of superfile members (56): the host
        // goes whole, its members with it.
        rc = _zvdbDELFIL(hostno);
        if (rc) _zvdbCLSFIL(hostno);
        return keep(d, rc);
    }
    if (rc != 920) return keep(d, rc);
    // A plain dictionary: the table's files in the directory.
    const std::string table = host + char(_zvdbGetPathSeparator(d->session)) + kTableName;
    int datno = -1;
    rc = _zvdbOPNRFILX(d->session, table.c_str(), 0, nullptr, ".dat", &datno, 1);
    if (rc == 0) rc = _zvdbDELRFIL(datno);
    return keep(d, rc);
}

ZV_API ZVDBRET _zvdbLockDict(ZVDBDICT *d, int mode) {
    if (!d) return ZVDB_NULL_ARGUMENT;
    if (mode == 0) return _zvdbUnlockDict(d);
    if (mode != kRead && mode != kWrite) return keep(d, ZVDB_BAD_LOCK_MODE);
    if (d->locked) {
        d->locked++;
        return 0;
    }
    tagZVDBSESSION *s = d->session;
    const int saved = s->lockmode;
    if (saved == mode) return 0;
    ZVDBRET rc = zvdbLock(s, mode);
    if (rc == 112) {
        // Locks an earlier call left: suspend and try once more.
        zvdbLock(s, 6);
        rc = zvdbLock(s, mode);
    }
    if (rc) return keep(d, rc);
    d->savedlock = saved;
    d->locked = 1;
    return 0;
}

ZV_API ZVDBRET _zvdbUnlockDict(ZVDBDICT *d) {
    if (!d) return ZVDB_NULL_ARGUMENT;
    if (d->locked == 0) return 0;
    if (--d->locked > 0) return 0;
    tagZVDBSESSION *s = d->session;
    if (d->table->active) zvdbUnlockTable(d->table);
    ZVDBRET rc = zvdbLock(s, 6);
    if (rc == 0 && d->savedlock != 0 && d->savedlock != 6) rc = zvdbLock(s, d->savedlock);
    return keep(d, rc);
}

ZV_API ZVDBRET _zvdbFindDict(ZVDBDICT *d, uint32_t type, uint32_t status, const char *name) {
    if (ZVDBRET rc = open_object(d)) return keep(d, rc);
    if (!name) return keep(d, ZVDB_NULL_ARGUMENT);
    if (std::strlen(name) > 128) return keep(d, 101);
    tagZVDBRECORD *r = d->record;
    ZVDBRET rc = zvdbClearRecord(r);
    if (rc == 0) rc = set_int(r, kType, type);
    if (rc == 0) rc = set_int(r, kStatus, status);
    if (rc == 0) rc = zvdbSetFieldAsString(r, kName, name);
    if (rc == 0) rc = find_key(d, kByName);
    return keep(d, rc);
}

ZV_API ZVDBRET _zvdbFindDictByUID(ZVDBDICT *d, uint32_t uid) {
    if (ZVDBRET rc = open_object(d)) return keep(d, rc);
    ZVDBRET rc = zvdbClearRecord(d->record);
    if (rc == 0) rc = set_int(d->record, kUid, uid);
    if (rc == 0) rc = find_key(d, kByUid);
    return keep(d, rc);
}

ZV_API ZVDBRET _zvdbRemoveDict(ZVDBDICT *d, uint32_t type, uint32_t status, const char *name) {
    ZVDBRET rc = _zvdbFindDict(d, type, status, name);
    if (rc == 0) rc = zvdbDeleteRecord(d->record);
    return keep(d, rc);
}

ZV_API ZVDBRET _zvdbRemoveDictByUID(ZVDBDICT *d, uint32_t uid) {
    ZVDBRET rc = _zvdbFindDictByUID(d, uid);
    if (rc == 0) rc = zvdbDeleteRecord(d->record);
    return keep(d, rc);
}

ZV_API ZVDBRET _zvdbFirstDict(ZVDBDICT *d, uint32_t type, uint32_t status) {
    if (ZVDBRET rc = open_object(d)) return keep(d, rc);
    return keep(d, walk(d, type, status, true));
}

ZV_API ZVDBRET _zvdbNextDict(ZVDBDICT *d, uint32_t type, uint32_t status) {
    if (ZVDBRET rc = open_object(d)) return keep(d, rc);
    return keep(d, walk(d, type, status, false));
}

ZV_API int32_t _zvdbGetDictCount(ZVDBDICT *d, uint32_t type, uint32_t status) {
    int32_t n = 0;
    return count(d, type, status, &n) ? 0 : n;
}

ZV_API ZVDBRET _zvdbRecordSetByLinkOn(ZVDBDICT *d, uint32_t type, uint32_t status, const char *link) {
    return keep(d, link_set_on(d, type, status, link));
}

ZV_API ZVDBRET _zvdbRecordSetByLinkOff(ZVDBDICT *d) {
    if (!d) return ZVDB_NULL_ARGUMENT;
    if (!d->linkset) return 0;
    d->linkset = 0;
    ZVDBRET rc = zvdbRecordSetOff(d->record);
    if (rc == 0 && d->table->active) rc = zvdbSetDefaultIndex(d->record, kByName);
    return keep(d, rc);
}

ZV_API ZVDBRET _zvdbGetDict(ZVDBDICT *d, ZVDBDICTENTRY *e) {
    if (!d || !e) return ZVDB_NULL_ARGUMENT;
    tagZVDBRECORD *r = d->record;
    *e = ZVDBDICTENTRY{};
    char path[256];
    ZVDBRET rc = 0;
    for (auto [n, v] : {std::pair{kType, &e->type}, std::pair{kStatus, &e->status}, std::pair{kLinkNbr, &e->linknbr},
                        std::pair{kVersion, &e->version}, std::pair{kCounter, &e->counter}, std::pair{kUid, &e->uid}}) {
        if (rc == 0) rc = get_int(r, n, v);
    }
    for (auto [n, text, size] : {std::tuple{kName, e->name, sizeof e->name}, std::tuple{kLink, e->link, sizeof e->link},
                                 std::tuple{kPath, path, sizeof path}, std::tuple{kSupExt, e->supext, sizeof e->supext},
                                 std::tuple{kDatExt, e->datext, sizeof e->datext},
                                 std::tuple{kIdxExt, e->idxext, sizeof e->idxext},
                                 std::tuple{kOwner, e->owner, sizeof e->owner}}) {
        if (rc == 0) rc = get_text(r, n, text, size);
    }
    if (rc) return keep(d, rc);
    if (has_physname(d->table)) rc = get_text(r, kPhysName, e->physname, sizeof e->physname);
    if (rc) return keep(d, rc);
    if (!e->physname[0]) std::memcpy(e->physname, e->name, sizeof e->name);
    split_path(*e, path, _zvdbGetPathSeparator(d->session));
    return 0;
}

ZV_API ZVDBRET _zvdbPutDict(ZVDBDICT *d, const ZVDBDICTENTRY *e) {
    if (!d || !e) return ZVDB_NULL_ARGUMENT;
    tagZVDBRECORD *r = d->record;
    const bool current = has_physname(d->table);
    if (!current && std::strcmp(e->physname, e->name) != 0) return keep(d, ZVDB_DICT_STRUCTURE);
    char path[256];
    if (!stored_path(*e, _zvdbGetPathSeparator(d->session), path)) return keep(d, ZVDB_NAME_TOO_LONG);
    ZVDBRET rc = 0;
    for (auto [n, v] : {std::pair{kType, e->type}, std::pair{kStatus, e->status}, std::pair{kLinkNbr, e->linknbr},
                        std::pair{kVersion, e->version}, std::pair{kCounter, e->counter}, std::pair{kUid, e->uid}}) {
        if (rc == 0) rc = set_int(r, n, v);
    }
    for (auto [n, text] : {std::pair{kName, e->name}, std::pair{kLink, e->link}, std::pair{kPath, (const char *)path},
                           std::pair{kSupExt, e->supext}, std::pair{kDatExt, e->datext},
                           std::pair{kIdxExt, e->idxext}, std::pair{kOwner, e->owner}}) {
        if (rc == 0) rc = zvdbSetFieldAsString(r, n, text);
    }
    if (rc == 0 && current) rc = zvdbSetFieldAsString(r, kPhysName, e->physname);
    return keep(d, rc);
}

ZV_API ZVDBRET _zvdbGetDictUID(ZVDBDICT *d, uint32_t *uid) {
    if (!d || !uid) return ZVDB_NULL_ARGUMENT;
    uint64_t serial = 0;
    if (ZVDBRET rc = _zvdbGetSerial(d->table, &serial)) return keep(d, rc);
    *uid = uint32_t(serial) + kUidBase;
    return 0;
}

ZV_API ZVDBRET _zvdbClearDict(ZVDBDICT *d) {
    if (!d) return ZVDB_NULL_ARGUMENT;
    return keep(d, zvdbClearRecord(d->record));
}

ZV_API ZVDBRET _zvdbWriteDict(ZVDBDICT *d) {
    if (!d) return ZVDB_NULL_ARGUMENT;
    return keep(d, zvdbWriteRecord(d->record));
}

ZV_API ZVDBRET _zvdbDumpDictionary(void *stream, ZVDBDICT *d) {
    auto *out = static_cast<std::FILE *>(stream);
    if (!out) return ZVDB_NULL_ARGUMENT;
    if (ZVDBRET rc = open_object(d)) return keep(d, rc);
    std::fprintf(out, "TYPE STAT %-40s %-40s LNBR %-40s %-9s %-9s %-9s VERSION  CNT  UID %-40s\n", "LOGICAL NAME", "LINK",
                 "PATH", "SUPEXT", "DATEXT", "IDXEXT", "PHYSICAL NAME");
    dump_rule(out);
    ZVDBRET rc = zvdbSetDefaultIndex(d->record, kByName);
    for (rc = rc ? rc : zvdbFirstRecord(d->record); rc == 0; rc = zvdbNextRecord(d->record)) {
        if ((rc = dump_line(out, d))) break;
    }
    if (rc != 101) return keep(d, rc);
    dump_rule(out);
    return 0;
}

ZV_API ZVDBRET _zvdbDumpDict(ZVHANDLE handle) {
    tagZVDBSESSION *s = zv::session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    auto *db = static_cast<tagZVDBDATABASE *>(zvdbGetDatabaseHandle(handle));
    std::FILE *out = zv::plat_fopen("zvdbdict.txt", "wt");
    if (!out) return keep_code(handle, ZVDB_DEBUG_FILE);
    struct Part {
        const char *title;
        ZVDBDICT *dict;
    };
    ZVDBRET rc = 0;
    for (const Part &p : {Part{"Session dictionary", s->dict}, Part{"Database dictionary", db ? db->dict : nullptr}}) {
        if (!p.dict || !p.dict->open || rc) continue;
        std::fprintf(out, "%s\n", p.title);
        rc = locked(handle, p.dict, kRead, [&] { return _zvdbDumpDictionary(out, p.dict); });
    }
    zv::plat_fclose(out);
    return keep_code(handle, rc);
}

ZV_API ZVDBRET _zvdbUpdateDictStruct(ZVHANDLE handle, const char *database, int checkonly) {
    if (!zv::session_of(handle)) return ZVDB_NO_SESSION;
    if (!database) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    auto *db = static_cast<tagZVDBDATABASE *>(zvdbAllocDatabase(handle));
    if (!db) return zvdbGetError(handle);
    zvdbSetDatabaseExclusive(db, 1);
    ZVDBRET rc = zvdbConnect(db, database);
    bool changed = false;
    tagZVDBTABLE *t = rc == 0 ? db->dict->table : nullptr;
    if (t) rc = edit_to_defs(t, &changed);
    if (rc == 0 && changed && checkonly) rc = ZVDB_DICT_STRUCTURE;
    if (rc == 0 && t && !checkonly) {
        t->createmode |= kCreateBase;
        // The copy's new files go where the table's are: a member of the
        // host is made and renamed by the host's name and '!'.
        if (changed && t->superfile) {
            rc = zv::replace_text(&t->path, (std::string(_zvdbSuperGetName(t->superfile)) + "!").c_str());
        }
        if (rc == 0 && changed) rc = zvdbAlterTable(t, kAlterKeepModes);
    }
    if (db->connected) {
        ZVDBRET closed = zvdbDisconnect(db);
        if (rc == 0) rc = closed;
    }
    zvdbFreeDatabase(db);
    return keep_code(handle, rc);
}

}  // extern "C"
