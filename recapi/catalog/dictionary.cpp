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
// engine_name gives it): a host, or the files of the dictionary's table in
// a directory of that name, which are of the make too. The directory goes
// too only with `dir` (a make at work of a plain dictionary may be about
// to fill an empty one; a host's make needs the name free).
// 0 when nothing is left, 12 while an open holds a file of it (a make at
// work: *busy names it), 55.
int drop_made(const ZVDBDICT *d, const std::string &temp, std::string *busy, bool dir) {
    if (!zv::making::exists(temp)) return 0;
    const std::string inside = temp + char(_zvdbGetPathSeparator(d->session)) + kTableName;
    for (const char *ext : {".dat", ".idx"}) {
        for (const std::string &file : {inside + ext, zv::making::temp_name(inside + ext)}) {
            const int rc = zv::making::drop_leftover(file);
            if (rc == kHeld) *busy = file;
            if (rc) return rc;
        }
    }
    PlatStat st;
    if (!dir && zv::plat_lstat(temp.c_str(), &st) == 0 && st.is_dir && !st.is_link) return 0;
    const int rc = zv::making::drop_leftover(temp);
    if (rc == kHeld) *busy = temp;
    return rc;
}

// The engine's answer for files a process did not close (killed, or its
// close failed): they open again only after their rebuild.
constexpr int kNotClosed = 14;
// Table open bit: open files not closed cleanly, for their rebuild.
constexpr uint32_t kOpenForRebuild = 4;
// GETFIL mode: the header's update flag.
constexpr int kUpdateFlag = 25;
// Find mode: the first key greater than the record's.
constexpr ZVFIND_MODE kFindGreater = 3;

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
    const int exclusive = d->holding == 2;
    ZVDBRET rc = _zvdbSuperSetPath(d->super, host.c_str());
    if (rc == 0) rc = _zvdbSuperOpen(d->super, exclusive);
    if (rc != kNotClosed || !repair) return rc;
    if ((rc = _zvdbZVSBLDX(d->table, host.c_str(), nullptr)) != 0) return rc;
    return _zvdbSuperOpen(d->super, exclusive);
}

// The dictionary's table opened. Files that a process left not closed
// cleanly answer 14, or, with `repair`, are rebuilt in place from their
// stored definition (the table opened as it stands for that, then rebuilt
// and opened again as asked). The dictionary is the record layer's own
// table: its repair needs nothing from the caller, and leaves every entry
// flushed before the kill. 0 or the first code that stops it (the table
// closed then).
ZVDBRET open_repaired(ZVDBDICT *d, bool insuper, const std::string &host, bool repair) {
    const int exclusive = d->holding == 2;
    ZVDBRET rc = open_table(d, insuper, host, exclusive);
    if (rc != kNotClosed || !repair) return rc;
    if ((rc = open_table(d, insuper, host, exclusive, kOpenForRebuild)) != 0) return rc;
    if ((rc = zvdbRebuildTable(d->table, 0)) != 0 && d->table->active) zvdbCloseTable(d->table);
    return rc;
}

ZVDBRET repair_serial(ZVDBDICT *d);

// Whether an open's 12 came from another open's lock: Linux refuses a lock
// that another holds with EAGAIN (a file that is not there, a path through
// a file or a permission leaves ENOENT, ENOTDIR, EACCES).
bool refused_by_lock(ZVDBRET rc) { return rc == kHeld && zvGetSystemErrorCode() == EAGAIN; }

// One try at the dictionary's files, repairing them when `repair`: 0, 14
// (not closed cleanly, without `repair`), 920 neither a host nor a plain
// table, or the open's code (12 while another open holds them).
ZVDBRET open_files(ZVDBDICT *d, const std::string &host, bool trysuper, bool repair) {
    bool insuper = trysuper;
    bool fallback = false;
    if (insuper) {
        ZVDBRET rc = open_host(d, host, repair);
        // A host file the system does not open read-write (EROFS, EACCES):
        // 12 with the system's reason.
        if (rc == 920 && zvGetSystemErrorCode() != EISDIR) return kHeld;
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


// The dictionary's files opened (shared, or exclusively when d->holding is
// 2), and repaired when a process left them not closed cleanly, under the
// repair lock. While another process repairs them, or holds them the other
// way (another operation at work, or a session or database that holds the
// dictionary exclusively), the open waits (up to kRepairWait) and tries
// again; 12 past that bound, the refused lock's system error kept.
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
    // 12 at the bound; the last open's refusal left its system error.
    auto given_up = [] { return kHeld; };
    uint64_t repairs = lock.repairs();
    for (;;) {
        // Another process's repair is left alone until it ends: its
        // exclusive steps would meet these opens, and the files are not
        // whole while it works.
        if (!lock.held() && lock.busy()) {
            if (!pause()) return given_up();
            continue;
        }
        ZVDBRET rc = open_files(d, host, trysuper, lock.held());
        if (rc == 0 && lock.held()) {
            // Repaired here, with the serial number. The repair's writes
            // hold the files as a changing open does (another open of them
            // answers 12 until they close): they are closed and opened once
            // more, as any open opens them, after the lock goes.
            const ZVDBRET serial = repair_serial(d);
            ZVDBRET closed = zv::close_clean(d->table, _zvdbSuperIsOpen(d->super) ? d->super : nullptr);
            if (ZVDBRET host_closed = _zvdbSuperClose(d->super); closed == 0) closed = host_closed;
            if (serial || closed) return serial ? ZVDB_DICT_REPAIR : closed;
            lock.release();
            repairs = lock.repairs();
            continue;
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
        } else if (!lock.busy() && !refused_by_lock(rc)) {
            // No repair at work and no other open's lock met: the answer
            // stands, unless a repair came and went while this open tried.
            const uint64_t now = lock.repairs();
            if (now == repairs) return rc;
            repairs = now;
            continue;
        }
        if (!pause()) return given_up();
    }
}

// The serial number past the highest UID: the last entry of "DICTUID" read;
// an empty table has nothing to repair.
ZVDBRET repair_serial(ZVDBDICT *d) {
    d->resume = 0;
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

// ---- The files between operations (dictionary.h, invariant 4) ----

// Keeps where the record stands, its key fields, so that a walk going on
// after the files are opened again resumes past it; nothing when it stands
// nowhere or in a set (a set lives inside one operation).
void keep_position(ZVDBDICT *d) {
    d->resume = 0;
    tagZVDBRECORD *r = d->record;
    if (!r || !r->position || d->linkset || !d->table->active) return;
    if (get_int(r, kType, &d->resumetype) || get_int(r, kStatus, &d->resumestatus) ||
        get_int(r, kUid, &d->resumeuid) || get_text(r, kName, d->resumename, sizeof d->resumename) ||
        get_text(r, kLink, d->resumelink, sizeof d->resumelink)) {
        return;
    }
    d->resumeindex = r->defindex;
    d->resume = 1;
}

// Positions the record on the first entry past the kept one, in the order
// of the index it stood on: where a next record would have been, also when
// another process removed the kept entry meanwhile.
ZVDBRET resume_after(ZVDBDICT *d) {
    tagZVDBRECORD *r = d->record;
    ZVDBRET rc = zvdbSetDefaultIndex(r, d->resumeindex);
    if (rc == 0) rc = zvdbClearRecord(r);
    if (rc == 0) rc = set_int(r, kType, d->resumetype);
    if (rc == 0) rc = set_int(r, kStatus, d->resumestatus);
    if (rc == 0) rc = set_int(r, kUid, d->resumeuid);
    if (rc == 0) rc = zvdbSetFieldAsString(r, kName, d->resumename);
    if (rc == 0) rc = zvdbSetFieldAsString(r, kLink, d->resumelink);
    if (rc == 0) rc = zvdbFindRecord(r, kFindGreater);
    return rc;
}

// Whether the open data file was changed (its header's update flag, GETFIL
// 25, is set by the first change).
bool changed(const ZVDBDICT *d) {
    int64_t flag = 0;
    return d->table->active && _zvdbGETFIL(d->table->datno, kUpdateFlag, &flag) == 0 && flag != 0;
}

// Closes the dictionary's files (the table, then the host): 0 or the first
// close's code. A close whose writes fail has the files rebuilt, as a
// logout's close does.
ZVDBRET release_files(ZVDBDICT *d) {
    if (!d->holding) return 0;
    keep_position(d);
    _zvdbRecordSetByLinkOff(d);
    // Files that nothing changed close as they were opened; a close that
    // writes is checked, the files repaired when its writes fail.
    ZVDBSUPER *host = _zvdbSuperIsOpen(d->super) ? d->super : nullptr;
    ZVDBRET rc = d->holding == 2 || changed(d) ? zv::close_clean(d->table, host) : zvdbCloseTable(d->table);
    if (ZVDBRET closed = _zvdbSuperClose(d->super); rc == 0) rc = closed;
    d->holding = 0;
    return rc;
}

// Opens the dictionary's files shared, or exclusively for a change: nothing
// when they are open so already (exclusively covers shared); open shared,
// they are closed and opened again exclusively. The open waits for another
// process's hold or repair (open_waiting). 0 or its code, the files closed.
ZVDBRET hold_files(ZVDBDICT *d, bool exclusive) {
    if (d->holding == 2 || (d->holding == 1 && !exclusive)) return 0;
    if (d->holding) release_files(d);
    d->holding = exclusive ? 2 : 1;
    const ZVDBRET rc = open_waiting(d, host_name(d, d->name), d->trysuper != 0);
    if (rc) {
        d->holding = 0;
        return rc;
    }
    d->insuper = _zvdbSuperIsOpen(d->super);
    return 0;
}

// The files of an open dictionary for a routine called outside an
// operation (the object's own routines called on their own): opened
// shared when they are not, and kept so until the next operation ends or
// the object closes (a change through them takes the files exclusively as
// any shared open's change does).
ZVDBRET ensure_files(ZVDBDICT *d) { return d->holding ? 0 : hold_files(d, false); }

// Positions the record on the entry whose key fields the caller put.
ZVDBRET find_key(ZVDBDICT *d, int32_t index) {
    d->resume = 0;
    if (ZVDBRET rc = zvdbSetDefaultIndex(d->record, index)) return rc;
    return zvdbFindRecord(d->record, 0);
}

// Reads the next record of the walk (first when `first`) until one of the
// type and status: 0, 101 at the end.
ZVDBRET walk(ZVDBDICT *d, uint32_t type, uint32_t status, bool first) {
    tagZVDBRECORD *r = d->record;
    const bool resume = !first && d->resume;
    d->resume = 0;
    if (first && !d->linkset) {
        if (ZVDBRET rc = zvdbSetDefaultIndex(r, kByName)) return rc;
    }
    ZVDBRET rc = first ? zvdbFirstRecord(r) : resume ? resume_after(d) : zvdbNextRecord(r);
    for (;; rc = zvdbNextRecord(r)) {
        if (rc) return rc;
        uint32_t t = 0, s = 0;
        if ((rc = get_int(r, kType, &t)) || (rc = get_int(r, kStatus, &s))) return rc;
        if (type_matches(t, type) && s == status) return 0;
    }
}

// Checks the object of a routine: 0, 4007 none, 4012 not open.
ZVDBRET open_object(ZVDBDICT *d) {
    if (!d) return ZVDB_NULL_ARGUMENT;
    if (!d->open) return ZVDB_NOT_ACTIVE;
    return ensure_files(d);
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
        d->table->dictionary = 1;
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
    _zvdb_free(d->hostfile);
    _zvdb_free(d);
    return 0;
}

int _zvdbDictInSuperfile(ZVDBDICT *d) { return d && d->open && d->insuper ? 1 : 0; }

namespace {

// Pins the database's dictionary when `host` (a host's name as the engine
// opens it) is its host: 1 pinned (or already), 0 another host, else -code.
int pin_if_host(tagZVDBDATABASE *db, const std::string &host) {
    ZVDBDICT *d = db && db->connected ? db->dict : nullptr;
    if (!d || !d->open || !d->insuper || !d->hostfile) return 0;
    if (host != d->hostfile) {
        // Another spelling of the name ("./shop.qdd", "shop.qdd"): the same
        // file, or another host.
        zv::PlatStat a, b;
        if (zv::plat_stat(host.c_str(), &a) || zv::plat_stat(d->hostfile, &b) || a.dev != b.dev || a.ino != b.ino) {
            return 0;
        }
    }
    if (d->pinned) return 1;
    // From here on the host stays open for the connection, and the member
    // is opened through that open (as the dictionary's own members are).
    d->pinned = 1;
    ZVDBRET rc = d->holding ? 0 : ensure_files(d);
    return rc ? -keep(d, rc) : 1;
}

}  // namespace

int _zvdbDictPinHost(ZVHANDLE handle, const char *name) {
    const char *bang = name ? std::strchr(name, '!') : nullptr;
    tagZVDBSESSION *s = bang && bang != name ? zv::session_of(handle) : nullptr;
    if (!s || !s->dict) return 0;
    // A dictionary's own table is opened by its dictionary, which holds the
    // host itself.
    auto *t = static_cast<tagZVDBTABLE *>(zvdbGetTableHandle(handle));
    if (t && t->dictionary) return 0;
    std::string host;
    if (engine_name(s->dict, std::string(name, size_t(bang - name)), host)) return 0;
    // The handle's database, or, for a handle made on the session, any
    // database the session has connected.
    if (auto *db = static_cast<tagZVDBDATABASE *>(zvdbGetDatabaseHandle(handle))) {
        const int rc = pin_if_host(db, host);
        return rc < 0 ? -rc : 0;
    }
    for (int32_t i = 0; i < _zvdbListCount(s->databases); i++) {
        auto *db = static_cast<tagZVDBDATABASE *>(_zvdbListItem(s->databases, i));
        const int rc = pin_if_host(db, host);
        if (rc) return rc < 0 ? -rc : 0;
    }
    return 0;
}

int _zvdbDictOpenRefused(ZVDBRET rc) { return refused_by_lock(rc) ? 1 : 0; }

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
    // whole one, under the name. Its files are held from their creation to
    // the end (made): the host, or the table's files in the directory,
    // whose temporary names the table's make drops before the directory
    // takes its name. Another process's make of it at work is waited for.
    const std::string host = host_name(d, name);
    const std::string temp = zv::making::temp_name(host);
    std::string hostfile, tempfile;
    ZVDBRET rc = engine_name(d, host, hostfile);
    if (rc == 0) rc = engine_name(d, temp, tempfile);
    if (rc) return keep(d, rc);
    tagZVDBTABLE *t = d->table;
    zv::making::Made made;
    const zv::making::Deadline until = zv::making::deadline();
    for (;;) {
        std::string busy = tempfile;
        if (zv::making::exists(hostfile)) {
            // A make at work keeps a host's temporary name, held, beside
            // its name until its end; one that a kill cut short left it
            // as a second name, which goes.
            if (!zv::making::same_file(hostfile, tempfile)) return keep(d, kFileExists);
            if (!zv::making::held(tempfile)) {
                dltfil(tempfile.c_str());
                return keep(d, kFileExists);
            }
        } else if ((rc = drop_made(d, tempfile, &busy, insuper != 0)) != kHeld) {
            if (rc) return keep(d, rc);
            if (insuper) {
                d->super->createkind = d->session->dicttranmode;
                rc = _zvdbSuperSetPath(d->super, temp.c_str());
                if (rc == 0) rc = _zvdbSuperCreate(d->super);
                // Another make of the host began since the look.
                if (rc == kFileExists && std::chrono::steady_clock::now() < until) continue;
                if (rc) return keep(d, rc);
                if ((rc = made.hold(d->super->filno, tempfile, hostfile)) != 0) {
                    _zvdbSuperDrop(d->super);
                    return keep(d, rc);
                }
                if (!made.own()) {
                    // Taken for a leftover between its create and its lock
                    // by another make, which is waited for.
                    _zvdbSuperClose(d->super);
                    made.take_back();
                    continue;
                }
            }
            rc = add_from_defs(t);
            if (rc == 0) rc = insuper ? zvdbSetTableSuperFile(t, d->super) : zvdbSetTablePath(t, temp.c_str());
            if (rc == 0) rc = zvdbSetTablePermission(t, kPermission);
            if (rc == 0) {
                t->made = &made;
                rc = zvdbCreateTable(t, kTableName, kCreateBase | level | (insuper ? 0 : kCreateMakeDirs));
                t->made = nullptr;
            }
            if (rc) {
                discard_definition(t);
                zvdbClearTableSuperFile(t);
            }
            // In the directory another make's table is there, which is
            // waited for (or, left by a kill, dropped); or another make
            // moved the directory to its name meanwhile.
            if (!insuper && rc && (rc == kFileExists || zv::making::exists(hostfile)) &&
                std::chrono::steady_clock::now() < until) {
                continue;
            }
            break;
        }
        if ((rc = zv::making::wait_while_held(busy, until))) return keep(d, rc);
    }
    if (rc && insuper) {
        // A host made here for a table that could not be made goes again.
        const int sys = zvGetSystemErrorCode();
        _zvdbSuperDrop(d->super);
        usys(sys);
    }
    ZVDBRET closed = _zvdbSuperClose(d->super);
    if (rc == 0) rc = closed;
    if (rc == 0) rc = zv::making::link_in(tempfile, hostfile);
    if (rc == 0) {
        made.finish();
        return 0;
    }
    // Not made: what this make made goes, the directory once its files
    // went.
    const int sys = zvGetSystemErrorCode();
    made.take_back();
    std::string busy;
    if (!insuper) drop_made(d, tempfile, &busy, true);
    usys(sys);
    return keep(d, rc);
}

ZV_API ZVDBRET _zvdbOpenDict(ZVDBDICT *d, const char *name, int exclusive, int trysuper) {
    if (!d || !name || !d->table || !d->record || !d->super) return keep(d, ZVDB_BAD_KIND);
    if (d->open) _zvdbCloseDict(d);
    d->exclusive = exclusive ? 1 : 0;
    d->trysuper = trysuper ? 1 : 0;
    d->pinned = d->exclusive;
    d->resume = 0;
    if (zv::replace_text(&d->name, name)) return keep(d, ZVDB_NO_MEMORY);
    std::string hostfile;
    if (engine_name(d, host_name(d, name), hostfile) || zv::replace_text(&d->hostfile, hostfile.c_str())) {
        return keep(d, ZVDB_NO_MEMORY);
    }
    if (ZVDBRET rc = hold_files(d, d->exclusive != 0)) return keep(d, rc);
    d->open = 1;
    _zvdbGETFIL(d->table->datno, 3, &d->filemode);
    // The serial number's repair writes only when entries lie past it; a
    // shared open that another open keeps from writing tries it once more
    // holding the files alone.
    ZVDBRET rc = repair_serial(d);
    if (rc == kHeld && d->holding == 1 && hold_files(d, true) == 0) rc = repair_serial(d);
    if (rc) {
        _zvdbCloseDict(d);
        return keep(d, ZVDB_DICT_REPAIR);
    }
    if (!d->pinned) {
        if ((rc = release_files(d)) != 0) {
            d->open = 0;
            return keep(d, rc);
        }
    }
    return 0;
}

ZV_API ZVDBRET _zvdbReopenDict(ZVDBDICT *d, int exclusive) {
    if (!d) return ZVDB_NULL_ARGUMENT;
    if (!d->open) return keep(d, ZVDB_NOT_ACTIVE);
    if (d->exclusive == (exclusive ? 1 : 0)) return 0;
    std::string name = d->name;
    _zvdbCloseDict(d);
    return _zvdbOpenDict(d, name.c_str(), exclusive, d->trysuper);
}

ZV_API ZVDBRET _zvdbCloseDict(ZVDBDICT *d) {
    if (!d) return ZVDB_NULL_ARGUMENT;
    if (!d->open) return 0;
    // Both close whatever the other answers. Files that could not be
    // written as closed are rebuilt (the host with them, which holds the
    // dictionary alone) so that the dictionary opens again; a failed
    // repair is reported.
    ZVDBRET rc = release_files(d);
    d->open = 0;
    d->locked = 0;
    d->depth = 0;
    d->pinned = 0;
    d->resume = 0;
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
    // The files first: held shared to read, exclusively to change, for the
    // whole operation (nested ones share it).
    if (d->open && !d->pinned) {
        if (ZVDBRET rc = hold_files(d, mode == kWrite)) return keep(d, rc);
    }
    d->depth++;
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
    if (rc) {
        if (--d->depth == 0 && !d->pinned) release_files(d);
        return keep(d, rc);
    }
    d->savedlock = saved;
    d->locked = 1;
    return 0;
}

ZV_API ZVDBRET _zvdbUnlockDict(ZVDBDICT *d) {
    if (!d) return ZVDB_NULL_ARGUMENT;
    const bool last = d->depth > 0 && --d->depth == 0;
    ZVDBRET rc = 0;
    if (d->locked > 0 && --d->locked == 0) {
        tagZVDBSESSION *s = d->session;
        if (d->table->active) zvdbUnlockTable(d->table);
        rc = zvdbLock(s, 6);
        if (rc == 0 && d->savedlock != 0 && d->savedlock != 6) rc = zvdbLock(s, d->savedlock);
    }
    // The operation's end: the files go, and with them the hold.
    if (last && !d->pinned) {
        ZVDBRET closed = release_files(d);
        if (rc == 0) rc = closed;
    }
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
    if (d->open) {
        if (ZVDBRET rc = ensure_files(d)) return keep(d, rc);
    }
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
    if (d->open) {
        if (ZVDBRET rc = ensure_files(d)) return keep(d, rc);
    }
    uint64_t serial = 0;
    if (ZVDBRET rc = _zvdbGetSerial(d->table, &serial)) return keep(d, rc);
    *uid = uint32_t(serial) + kUidBase;
    return 0;
}

ZV_API ZVDBRET _zvdbClearDict(ZVDBDICT *d) {
    if (!d) return ZVDB_NULL_ARGUMENT;
    if (d->open) {
        if (ZVDBRET rc = ensure_files(d)) return keep(d, rc);
    }
    return keep(d, zvdbClearRecord(d->record));
}

ZV_API ZVDBRET _zvdbWriteDict(ZVDBDICT *d) {
    if (!d) return ZVDB_NULL_ARGUMENT;
    if (d->open) {
        if (ZVDBRET rc = ensure_files(d)) return keep(d, rc);
    }
    d->resume = 0;
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
    // A name of the library's own: written only as a regular file, never
    // through a link or into a FIFO found under it.
    std::FILE *out = zv::plat_fopen_found("zvdbdict.txt", "w", 0666);
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
