// Dictionaries: what the catalogue modules share (dictionary.cpp,
// dict_session.cpp, dict_database.cpp, database.cpp, merge.cpp).
//
// A dictionary object (ZVDBDICT) reaches one table "zvdbdict" through an
// ordinary table handle and one record handle of the record-level API. The
// table lives as the member "zvdbdict" of a superfile host "N.qsd" (session
// dictionary) or "N.qdd" (database dictionary), or, outside a superfile, as
// a plain table whose directory is that host name.
//
// Record of an entry (create modes 1120..1122: a 5-byte "$DELFLD$" leads,
// alignment 8):
//
//   OFFSET SIZE FIELD      OFFSET SIZE FIELD       OFFSET SIZE FIELD
//        0    5 $DELFLD$      276  255 PATH            584    4 COUNTER
//        8    4 TYPE          531   16 SUPEXT          588    4 UID
//       12    4 STATUS        547   16 DATEXT          592  128 OWNER
//       16  128 NAME          563   16 IDXEXT          720  128 PHY_NAME
//      144  128 LINK          580    4 VERSION         848 3257 RESERVED
//      272    4 LINKNBR                                        (4105 bytes)
//
// Indexes, every segment of mode 13 (texts compare in upper case):
// "DICTNAME" (TYPE, STATUS, NAME), "DICTUID" (UID), "DICTLINK" (TYPE,
// STATUS, LINK, with duplicates).
//
// Invariants:
//  1. A new entry's UID is the data file's serial number plus 998; every
//     record added raises the serial number by one, and an open moves the
//     serial number past the highest stored UID, so no two entries share a
//     UID.
//  2. The lock taken by an operation is released before it returns (held
//     marks whether this object took it).
//  3. An operation that changed entries and answers 0 has written them to
//     the files (ZVFLUSH(-1): every changed page of the instance, the
//     hosts' headers and directories, no sync); an addition whose writing
//     fails is taken back first, so that a kill after any answer finds
//     every entry the answers acknowledged.
//  4. Between processes, an operation holds the dictionary's files (the
//     superfile host, or the table's own files) from its start until before
//     it answers: open shared to read, exclusively to change, each open
//     waiting (up to 10 seconds) while another process holds them the other
//     way. Between operations the files are closed, so that a connected
//     process holds nothing, and every operation reads what the last change
//     of any process wrote. The files stay open (pinned) for a dictionary
//     opened exclusively, and for a database whose dictionary's host holds
//     tables this process opened or made there (they share the host's
//     open); those hold the host as any open of it does.
#pragma once

#include <strings.h>

#include <cstdint>

#include "recapi/base/handles.h"
#include "recapi/base/super.h"

struct ZVDBDICT {
    tagZVDBSESSION *session;
    ZVDBSUPER *super;         // the host; createsel 1 session, 2 database dictionary
    tagZVDBTABLE *table;      // "zvdbdict", allocated under the session and unlisted there
    tagZVDBRECORD *record;    // the record every read fills and every write takes
    int32_t kind;             // 1 session dictionary, 0 database dictionary
    int32_t exclusive;        // of the last open: the files stay open, held exclusively
    int32_t open;             // opened (logon, connect) and not closed since
    char *name;               // path and base name given to the last open or create
    int32_t locked;           // this object holds the session lock
    int32_t savedlock;        // the session's lock mode before it was taken
    int32_t linkset;          // a set over "DICTLINK" is on
    // The files between operations (invariant 4).
    int32_t holding;          // the files are open now: 1 shared, 2 exclusively; 0 not open
    int32_t depth;            // operations at work (nested ones counted)
    int32_t pinned;           // the files stay open between operations
    int32_t trysuper;         // the open looks for a superfile host first
    int32_t insuper;          // the dictionary is a member of a superfile host
    int64_t filemode;         // its data file's mode, read at the open
    char *hostfile;           // the host's name as the engine opens it (prefix applied)
    // Where the record stood when the files were last closed: a walk that
    // goes on after the files were opened again resumes past that key.
    int32_t resume;           // a key is kept and the record not positioned since
    int32_t resumeindex;
    uint32_t resumetype, resumestatus, resumeuid;
    char resumename[129];
    char resumelink[129];
};

namespace zv::dict {

// Field numbers of the dictionary record.
enum Field : int32_t {
    kType = 0, kStatus, kName, kLink, kLinkNbr, kPath, kSupExt, kDatExt, kIdxExt, kVersion, kCounter, kUid,
    kOwner, kPhysName, kReserved
};
// Index numbers.
enum Index : int32_t { kByName = 0, kByUid = 1, kByLink = 2 };

constexpr uint32_t kVersion1 = 0x10000;
constexpr uint32_t kUidBase = 998;
// Key bytes of TYPE, STATUS and LINK: the prefix of a "DICTLINK" set.
constexpr int32_t kLinkPrefix = 136;
constexpr char kTableName[] = "zvdbdict";
constexpr char kSqlMark[] = "$ZVDB_SQL_FLAG$";

// Lock modes of the operations.
constexpr int kRead = 2;
constexpr int kWrite = 4;

// Whether a stored TYPE is of the wanted type: a type that fits in 16 bits
// is compared on the low 16 bits only.
inline bool type_matches(uint32_t stored, uint32_t wanted) {
    return wanted <= 0xFFFFu ? (stored & 0xFFFFu) == wanted : stored == wanted;
}

// The transaction mode of a database by its dictionary data file's mode:
// 1 for transaction bits 16, 3 for 48, else 0.
inline uint32_t transaction_mode(int64_t filemode) {
    return (filemode & 48) == 16 ? 1 : (filemode & 48) == 48 ? 3 : 0;
}

// A new entry of the type, in use, with NAME and PHY_NAME the name and
// VERSION 0x10000: 0, 4043 a name longer than 128 characters.
ZVDBRET new_entry(ZVDBDICTENTRY &e, uint32_t type, const char *name);
// Copies text into a fixed buffer of n bytes: false when it does not fit.
bool put_text(char *out, size_t n, const char *text);

// The session dictionary of a handle's session, checked for an operation:
// 0, 4003, 4058 no object, 4012 not open.
ZVDBRET session_dict(ZVHANDLE handle, ZVDBDICT **out);
// The dictionary of the database a handle leads to: 0, 4003, 4010, 4058,
// 4012 (the database not connected or its dictionary not open).
ZVDBRET database_dict(ZVHANDLE handle, tagZVDBDATABASE **db, ZVDBDICT **out);

// Runs work under the dictionary's lock of mode and releases it: the
// work's code, or the release's when only that failed. Work under the
// write lock has its changes handed to the system (hand_over) before the
// call answers, unless the work does so itself (`handover` false, see
// adding): a kill after it loses no entry the call acknowledged. Every
// failure is kept as the session's last code.
template <typename Work>
ZVDBRET locked(ZVHANDLE handle, ZVDBDICT *d, int mode, Work &&work, bool handover = true);
// Work under the write lock that adds entries and hands them over itself,
// ending with handed_or_undone.
template <typename Work>
ZVDBRET adding(ZVHANDLE handle, ZVDBDICT *d, Work &&work) {
    return locked(handle, d, kWrite, static_cast<Work &&>(work), false);
}
// Writes every changed page of the instance's open files, the hosts'
// headers and directories with them, without a sync (ZVFLUSH(-1)): what a
// dictionary change wrote reaches the files. 0 or the flush's code.
ZVDBRET hand_over();
// The end of work under the write lock that adds entries and hands them over
// itself (locked with `handover` false): when the work's code is 0 the
// change is handed over, and when that fails it is taken back (undo) and
// what undo left handed over in its turn, so that the caller's own undo
// meets the dictionary as it was. The work's code or the hand-over's.
template <typename Undo>
ZVDBRET handed_or_undone(ZVDBRET rc, Undo &&undo) {
    if (rc == 0 && (rc = hand_over()) != 0) {
        undo();
        hand_over();
    }
    return rc;
}

// Runs work in a transaction of the session when none is active, committed
// on success and aborted on failure: work's code (or the commit's).
template <typename Work>
ZVDBRET in_transaction(ZVHANDLE handle, Work &&work) {
    const bool own = !zvdbIsTransActive(handle);
    if (own) zvdbBegin(handle);
    ZVDBRET rc = work();
    if (own) {
        ZVDBRET end = rc ? zvdbAbort(handle) : zvdbCommit(handle);
        if (rc == 0) rc = end;
    }
    return rc;
}

// Appends a new entry built by the caller (its UID given here): 0 or the
// code.
ZVDBRET add_entry(ZVDBDICT *d, ZVDBDICTENTRY &e);
// Rewrites the entry read last with e: 0 or the code.
ZVDBRET rewrite_entry(ZVDBDICT *d, const ZVDBDICTENTRY &e);
// Finds (type, status, name) and reads it into e: 0, 101, the code.
ZVDBRET read_entry(ZVDBDICT *d, uint32_t type, uint32_t status, const char *name, ZVDBDICTENTRY &e);
// Number of entries of the type and status: 0 or the walk's failure.
ZVDBRET count(ZVDBDICT *d, uint32_t type, uint32_t status, int32_t *n);
// Calls fn(entry) for every entry of the type (status 0) whose LINK equals
// link in any letter case, the record positioned on it; fn may delete that
// record but not change its LINK. 0 at the end, or the first failure.
template <typename Fn>
ZVDBRET for_linked(ZVDBDICT *d, uint32_t type, const char *link, Fn &&fn);
// Turns on the set over "DICTLINK" (nothing kept as the last code): 0 or
// the code.
ZVDBRET link_set_on(ZVDBDICT *d, uint32_t type, uint32_t status, const char *link);
// Adds the fields, indexes and segments of the definition table to a
// table handle: 0 or the first failing call's code.
ZVDBRET add_from_defs(tagZVDBTABLE *t);
// Edits the handles of an open dictionary table towards the definition
// table, row by row: where the field at a row's position has another name
// the row's field is inserted there, where it has another type or length
// these are changed; each index of the definition the table lacks is added
// with its segments. *changed tells whether anything was edited; nothing
// reaches the files. 0 or the first failing call's code.
ZVDBRET edit_to_defs(tagZVDBTABLE *t, bool *changed);

}  // namespace zv::dict

template <typename Fn>
ZVDBRET zv::dict::for_linked(ZVDBDICT *d, uint32_t type, const char *link, Fn &&fn) {
    const bool set = link_set_on(d, type, 0, link) == 0;
    ZVDBDICTENTRY e;
    ZVDBRET rc = _zvdbFirstDict(d, type, 0);
    for (; rc == 0; rc = _zvdbNextDict(d, type, 0)) {
        if ((rc = _zvdbGetDict(d, &e))) break;
        if (!set && strcasecmp(e.link, link) != 0) continue;
        if ((rc = fn(e))) break;
    }
    if (set) _zvdbRecordSetByLinkOff(d);
    return rc == 101 ? 0 : rc;
}

template <typename Work>
ZVDBRET zv::dict::locked(ZVHANDLE handle, ZVDBDICT *d, int mode, Work &&work, bool handover) {
    ZVDBRET rc = _zvdbLockDict(d, mode);
    if (rc == 0) {
        rc = work();
        ZVDBRET released = _zvdbUnlockDict(d);
        if (rc == 0) rc = released;
        // Also after a failure: what the work wrote or took back is on the
        // files as it is in the cache.
        if (mode == kWrite && handover) {
            ZVDBRET written = hand_over();
            if (rc == 0) rc = written;
        }
    }
    if (rc) zvdbSetError(handle, rc);
    return rc;
}

extern "C" {

// Appends one merge item (action 0) per entry of the dictionary, in the
// order its record follows; the items are the caller's (_zvdb_free). 0 at
// the end of the entries, 4007, 4001, the list's or the read's code, each
// failure also handed to messages when given.
ZVDBRET _zvdbCollectDictInfo(ZVDBLIST *list, ZVDBDICT *dict, ZVDB_MERGE_MESSAGE messages);

}  // extern "C"
