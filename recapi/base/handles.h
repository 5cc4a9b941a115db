// Handle records of the record-level API and the routines that resolve a
// handle to its owners.
//
// Every handle record begins with its 16-bit kind, followed by the owner
// links that the kind has, in this order:
//   database            session
//   table               session, database (NULL for a table made on a session)
//   record              session, database, table
//   index, field        table
//   segment             index
//   resource            table
//   result set          name (its own text), then table
//   criterion           result set, field
//   full-text index     table, and further on its dictionary
//   full-text dictionary session
// Resolution follows only these links (a record reaches its database and
// session through its table); the static_asserts below keep them where the
// resolver reads them. The session, database, table, index, field, segment,
// resource, full-text index and full-text dictionary records are laid out
// whole; the other kinds carry their kind, their links and their tags until
// their own modules lay them out, keeping the links first and the tags
// after their own fields.
//
// Lists hold handles without owning them: a session's children (databases
// and tables made on it) and its connected databases, a database's tables,
// a table's records. Freeing a parent first empties the links below it
// (_zvdbUnlinkChildren).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "recapi/base/list.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"

struct ZVDBDICT;   // a dictionary object (session or database dictionary)
struct ZVDBICON;   // the ISAM-context slots of an open table
struct ZVDBSUPER;  // a superfile host descriptor
namespace zv::making {
class Made;        // the files a make holds until its end (making.h)
}
struct tagZVDBDATABASE;
struct tagZVDBTABLE;
struct tagZVDBINDEX;
struct tagZVDBFIELD;
struct tagZVDBRESULTSET;
struct tagZVDBFTIDICT;

// A callback routine kept in a slot; each caller casts it to its own type.
using ZvdbRoutine = ZVDB_CALLBACK;

// Callback words kept by session, database, table and record records; each
// kind uses the first 27, 25, 23 and 10 of them.
constexpr int kZvdbCallbackSlots = 27;
// Start parameters of a session's ISAM start-up.
constexpr int kZvdbStartParams = 5;
// Size of the buffer that holds a session's own instance name.
constexpr int32_t kZvdbInstanceNameSize = 33;

struct tagZVDBSESSION {
    uint16_t kind;                      // 3505
    int32_t loggedon;                   // 1 while logged on or attached
    char *server;                       // server name, "QUENRITS"
    char *user;                         // user name, ""
    char *password;                     // password, ""
    char *path;                         // directory of the session dictionary; NULL: current
    ZVDBDICT *dict;                     // session dictionary object
    ZVDBLIST *databases;                // connected databases
    int32_t lasterror;                  // last result code
    int32_t tranactive;                 // a transaction of the session is active
    int32_t params[kZvdbStartParams];   // 10, 32, 32, 10, 513
    ZVDATE_TYPE defdatetype;            // 1
    ZVTIME_TYPE deftimetype;            // 2
    char *floatformat;                  // NULL: "%g"
    char *instname;                     // own instance name ("%p" of the record); NULL: current instance
    int32_t instnamesize;               // bytes of instname, 33
    int32_t logononly;                  // no dictionary is opened
    int32_t sharedinst;                 // works in an instance started by another
    void *usertag;
    int16_t lockmode;
    int32_t isolation;                  // -1
    int32_t sesstype;                   // session type as stored
    ZvdbRoutine sqlcallback;
    int32_t sqlstate[2];
    ZVDBLIST *children;                 // databases and tables made on the session
    int32_t keeplock;
    char *pathprefix;                   // prefix of relative file names
    ZvdbRoutine callbacks[kZvdbCallbackSlots];
    void *localtag;
    ZvdbRoutine cblibset;               // callback library: set-callback entry
    ZvdbRoutine cblibend;               //   end-callback entry
    ZvdbRoutine cblibloaded;            //   loaded-callback entry
    void *cblibhandle;                  //   library handle
    int32_t cblibinit;                  //   initialised
    void *(*onalloc)(int32_t size);     // zeroed allocation of n bytes
    void (*onfree)(void *block);
    int (*onalign)(int rule, int type, int offset);
    int32_t exclusive;                  // the dictionary is open exclusively
    int32_t tranmode;
    int32_t opstatecached;
    int32_t opstate;
    int32_t attachmode;                 // 0 not attached; 1, 2, 3
    int32_t dicttranmode;               // 3
    uint16_t lastbatch;                 // batch numbers: the highest handed out, and those
                                        //   released below it (batch.cpp)
    uint16_t lastset;                   // last set number given to a record
    ZVDBLIST *freebatches;              // batch numbers released
    uint8_t pathsep;                    // path separator; 0: not read yet
    int32_t dictinsuper;                // 1
    char *temppath;
    ZVDBLIST *droplist;                 // files removed inside a transaction (transact.h)
};

struct tagZVDBDATABASE {
    uint16_t kind;                      // 3506
    tagZVDBSESSION *session;
    uint32_t connected;
    ZVDBDICT *dict;                     // database dictionary object
    char *name;
    char *path;
    ZVDBLIST *tables;                   // tables opened through this handle
    uint32_t uid;
    void *objptr;                       // caller's object
    ZVDBLIST *entries;                  // cached dictionary entries
    char *sqlowner;
    ZVDBLIST *third;
    ZvdbRoutine callbacks[kZvdbCallbackSlots];
    uint32_t exclusive;
    uint32_t tranmode;                  // 3
    uint32_t exthint;                   // 0..4
    int32_t callbackfilter;             // after-read callbacks of its records filter (0: their
                                        //   result is the read's result)
    uint8_t dropdelopt;
    uint8_t droplastmrt;
    uint32_t dictinsuper;               // 1
    void *usertag;
    void *localtag;
};

struct tagZVDBTABLE {
    uint16_t kind;                      // 3507
    tagZVDBSESSION *session;
    tagZVDBDATABASE *database;          // NULL for a table made on a session
    int32_t active;                     // files open or attached
    char *name;                         // logical name, "table"
    char *physname;                     // file name without directory and extension
    char *path;                         // directory of the files
    char *dataext;                      // ".dat"
    char *indexext;                     // ".idx"
    char *password;
    char *groupid;
    uint32_t permission;                // 6366
    ZVDBLIST *indexes;
    ZVDBLIST *fields;
    int16_t datno;                      // data file number; -1 closed
    uint32_t createmode;
    uint32_t openmode;
    uint32_t dataextent;
    uint32_t indexextent;
    IFIL *ifil;                         // engine file definition
    DATOBJ *doda;                       // record schema
    int32_t dodasize;                   //   bytes
    int32_t dodacount;                  //   entries
    unsigned char *recdesc;             // record description of the open file
    int32_t recdescsize;
    ZVDBICON *icons;                    // ISAM-context slots
    int32_t iconcount;
    uint32_t fixedlen;
    int32_t recformat;                  // 0 fixed, 1 variable, 3 made variable, 4 extended variable
    int32_t reloadcount;
    uint32_t layoutstamp;               // changes at each open, attach, reload, reopen, close and
                                        //   detach (never to all ones): record slots follow it
    uint32_t uid;
    void *userobj;                      // caller's object
    ZVDBLIST *records;
    int32_t hasnullfld;
    ZVDBSUPER *superfile;               // host of which the table is a member (not owned)
    int32_t hiddenfields;
    int32_t operation;                  // 1 create, 2 open, 0 none
    int32_t skippedindex;
    int32_t hasrecbyt;
    int16_t recbytno;
    int32_t hasrowid;
    int16_t rowidno;
    int32_t rowidpos;
    uint8_t padbyte;
    uint8_t delimbyte;
    int32_t hasdelfld;
    char *mirrorname;
    char *mirrorpath;
    int32_t temporary;                  // 1 temporary, 2 kept open
    uint32_t tempxmode;                 // 512, 1024 or 0
    ZVDBLIST *alterfiles;
    uint32_t tabletype;                 // 1..4, 0 until open
    ZvdbRoutine callbacks[kZvdbCallbackSlots];
    uint32_t rebuildprogress;
    int32_t callbackresult;
    uint32_t altermask;
    uint16_t alterstate;                // 3: no alteration under way
    int32_t defaultedfields;
    char *owner;
    int32_t vtnumber;
    uint32_t vtkind;
    void *vtinfo;
    int32_t partindex;                  // -1
    int32_t partbits;                   // -1
    char *identityname;                 // identity field; NULL when none
    int64_t identityseed;
    int64_t identityincr;
    ZVDBLIST *cndxexprs;                // parsed record and conditional expressions
    char *idxnamebase;
    ZVDBLIST *droppedindexes;
    ZVDBLIST *resultsets;
    uint32_t alignment;                 // 8
    uint32_t exthint;                   // 0..2
    char *partrule;                     // (char *)1 marks a rule cleared
    int32_t partdynmembers;             // dynamic-partition-members setting, kept for the engine
    char *partrequest;                  // pending partition-administration request: the
                                        //   name of a member file to add at the next open
    ZVDBLIST *ftis;                     // full-text index handles
    int32_t reservedcheck;              // 1
    tagZVDBINDEX *rowidindex;
    tagZVDBINDEX *recbytindex;
    void *usertag;
    void *localtag;
    int32_t dictionary;                 // the table of a dictionary object (kept through closes)
    zv::making::Made *made;             // while a make runs: the files it made and holds
                                        //   (its caller's, or the make's own)
};

struct tagZVDBFTI {
    uint16_t kind;                      // 3515
    tagZVDBTABLE *table;
    int32_t status;                     // 1
    ZVDBLIST *fieldlist;                // entries: field name and field mode
    char *name;
    tagZVDBFTIDICT *dict;
    uint32_t option;
    uint32_t word2;
    uint8_t mode;                       // 1, 2 or 3
    char *description;
    char *further;
};

// Batch state of a record (recapi/records/batch.cpp). Retrieval: the
// engine's counts, the entries left in the buffer (loaded) and the next one
// (cursor). Insert and update: the entries waiting after the buffer's
// 20-byte header (loaded) and the end of the last one (cursor). The batch
// filter and batch range are set before a batch starts and outlive it.
struct ZVDBBATCH {
    uint32_t total;
    uint32_t locked;
    uint32_t loaded;
    uint32_t target;                    // key-prefix length of the selection
    uint32_t keylen;                    // key length of the default index
    unsigned char *key;                 // the key formed from the record (owned, keylen bytes)
    unsigned char *buffer;              // owned, size bytes
    unsigned char *cursor;
    int32_t size;
    char *filter;                       // batch filter text (owned)
    int32_t segments;                   // batch range: segment count, the two keys (owned, the
    unsigned char *low;                 //   key length each; high may be NULL) and one operator
    unsigned char *high;                //   word per segment (owned)
    uint32_t *ops;
};

// A record handle: one row buffer of an open table (recapi/records/record.h
// describes its image and slots). The states of the later record services
// (key-prefix set, target key, expression, range, filter, batch, locate
// criteria, blocking read, result set, full-text search) are kept here for
// their modules; nothing is active in them while their words are 0.
struct tagZVDBRECORD {
    uint16_t kind;                      // 3508
    tagZVDBSESSION *session;
    tagZVDBDATABASE *database;
    tagZVDBTABLE *table;
    unsigned char *buffer;              // the record image
    int32_t size;                       // bytes of the image (the caller's size for a lent buffer)
    int32_t length;                     // data length of the packed image
    int32_t fixedlen;                   // fixed part, from the table
    uint64_t position;                  // record position of the current record; 0 none
    int32_t isnew;                      // 1: neither read from nor written to the table
    int32_t edited;                     // 1: a field changed since the last read or write
    int32_t icon;                       // ISAM-context slot of the table; -1 none yet
    ZVDBFIELDSLOT *slots;               // one per schema field, hidden ones included
    int32_t slotcount;
    uint32_t stamp;                     // the table's layout stamp the slots were built for
    ZVDBFIELDSLOT *delslot;             // "$DELFLD$", "$NULFLD$", "$ROWID$"; NULL when absent
    ZVDBFIELDSLOT *nullslot;
    ZVDBFIELDSLOT *rowidslot;
    int32_t defindex;                   // default index or special number
    int32_t repack;                     // a variable-part value waits in a slot buffer
    int32_t firstvar;                   // first slot of the variable part; slotcount: none
    int32_t leadinghidden;              // hidden slots before the first user field
    int32_t plainend;                   // > 0: every fixed-part slot is a fixed-size field and
                                        //   they end at this offset (the unpack then places
                                        //   them without walking the image); 0 otherwise
    int32_t hasnumbers;                 // the table has a ZV_NUMBER field
    uint32_t buffermode;                // zvdbSetRecordBuffer's mode word; 0: the record's own image
    uint16_t setno;                     // core set number, from the session's counter
    int32_t recseton;                   // key-prefix set: on, the whole key formed from the
    unsigned char *recsetprefix;        //   record (owned, recsetsize bytes), the prefix length
    int16_t recsetlen;                  //   and the key length
    int16_t recsetsize;
    unsigned char *keyval;              // target key of finds, sets and ranges
    int32_t keyvallen;
    char *exprtext;                     // compiled conditional expression: text (owned), parse tree
    void *exprtree;                     //   (a callback block for kind 1) and evaluator kind
    int32_t exprkind;
    int32_t rangeon;                    // range: on, its key number, the extended flag
    int32_t rangekey;
    int32_t rangextd;
    char *filtertext;                   // filter: the text (owned for type 1; type 2: the caller's
    char *filtertext2;                  //   parse tree), the saved base filter (owned) and the
    int32_t filtertype;                 //   type (0 none, 1 expression, 2 extended)
    ZvdbRoutine callbacks[kZvdbCallbackSlots];  // kinds 0..9 used
    int16_t batchno;                    // batch: number (0 none), mode word and state
    uint32_t batchmode;
    ZVDBBATCH batch;
    int32_t errorindex;                 // index whose key failed the last write; -1 none
    ZVDBLIST *criteria;                 // locate criteria and the index chosen for them
    int32_t criteriaindex;
    int32_t blockon;                    // blocking read: on, its wait parameter and condition (owned)
    int32_t blockwait;
    char *blockcond;
    tagZVDBRESULTSET *resultset;        // result set that drives the filter, and the flag
    int32_t resultseton;
    int32_t ftson;                      // full-text search and the index it uses
    int32_t ftsindex;
    int32_t identityon;                 // identity values assigned at writes
    ZVDBFIELDSLOT *identityslot;        // slot of the table's identity field, looked up for the
    uint32_t identitystamp;             //   slots of this stamp (kStampRebuild: not yet)
    ZVDBLIST *fieldmask;                // field numbers + 1 of a masked read
    void *usertag;
    void *localtag;
};

// Field callback slots: 0 type, 1 length, 7 segment mode, 8 transform of
// a new segment; 2..6 belong to the record layer.
constexpr int kZvdbFieldCallbacks = 9;
// Bytes of a key-segment transform block (the engine's KSEGDEF).
constexpr int kZvdbKsegSize = 64;

struct tagZVDBINDEX {
    uint16_t kind;                      // 3509
    tagZVDBTABLE *table;
    ZVDBLIST *segments;                 // owned segment handles, in key order
    IIDX *iidx;                         // engine definition while open; NULL for a new index
    int32_t keylen;                     // segment lengths plus the duplicate suffix
    int32_t keytype;                    // bits within 0x100EC
    int32_t emptychar;
    int32_t dupflag;                    // 0 or 1
    int32_t nullflag;
    int32_t tempflag;                   // -1 until known
    char *name;
    char *filename;                     // own index file; NULL: the table's index file
    int16_t idxno;                      // engine file number while open; -1
    uint32_t status;                    // change bits, 1 new
    uint32_t uid;
    int32_t distinctflag;
    int32_t cndxstate;                  // -1 not loaded, 1 set by the caller
    char *cndxexpr;
    int32_t dupsuffix;                  // key bytes the duplicate suffix takes (0 without duplicates)
    void *usertag;
};

struct tagZVDBFIELD {
    uint16_t kind;                      // 3510
    tagZVDBTABLE *table;
    char *name;
    DATOBJ *dodaentry;                  // schema entry while open
    int32_t type;
    int32_t length;                     // normalised by the type
    uint32_t status;                    // change bits, 1 new
    int32_t schemapos;                  // among the stored user fields; -1
    ZVDBLIST *segments;                 // segments built on the field (not owned); NULL when none
    int32_t nullflag;
    int16_t precision;
    int16_t scale;
    unsigned char *defvalue;            // deflength bytes and a zero byte
    int32_t deflength;
    int32_t defkind;                    // 0 none, 1 literal, 2 user, 3 NULL, 4..6 now
    ZVDATE_TYPE defdatetype;            // 1
    ZVTIME_TYPE deftimetype;            // 3
    int32_t binaryflag;                 // 0..17, 1
    ZvdbRoutine callbacks[kZvdbFieldCallbacks];
    uint32_t namehash;                  // 0: not computed, matches any hash
    void *usertag;
};

struct tagZVDBSEGMENT {
    uint16_t kind;                      // 3511
    tagZVDBINDEX *index;
    tagZVDBFIELD *field;                // NULL extended; zv::rowid_field() the row-id segment
    int32_t offset;                     // record offset (schema modes: field number)
    int32_t length;                     // key bytes; -1 marks the row-id segment
    int32_t mode;                       // 12
    uint32_t status;                    // change bits, 1 new
    unsigned char kseg[kZvdbKsegSize];  // transform block (JSON settings of a JSON segment)
    int32_t ksegstate;                  // -1 unknown, 0 none, 1 used
    int32_t ksegchanged;
    char *jsonpath;
    char *ksegtext;                     // locale text moved out of a block read from the index
    int32_t ksegread;                   // the stored block was read from the index
    void *usertag;
};

struct tagZVDBRESOURCE {
    uint16_t kind;                      // 3512
    tagZVDBTABLE *table;                // the table it was allocated for
    uint32_t type;
    uint32_t number;                    // 0xFFFFFFFF: the engine numbers it on add
    char *name;                         // owned; NULL: none
    int32_t datalength;
    unsigned char *data;                // owned; NULL: none
    int32_t locked;                     // holds the lock of the record it read
    uint64_t lockpos;                   //   at this record position
};

struct tagZVDBRESULTSET {
    uint16_t kind;                      // 3513
    char *name;                         // owned; unique within the table (compared with case)
    tagZVDBTABLE *table;                // keeps the set in its result-set list
    ZVDBLIST *criteria;                 // owned criteria, in the order added
    int32_t chosenindex;                // -1 not chosen yet, an index number, 10002 none fits
};

struct tagZVDBCRITERIA {
    uint16_t kind;                      // 3514
    tagZVDBRESULTSET *resultset;
    tagZVDBFIELD *field;
    char *value1;                       // owned; never NULL
    char *value2;                       // owned; NULL when absent or given empty
    uint16_t length1;                   // bytes of the buffers as first made: text length + 1 (1
    uint16_t length2;                   //   without a first value); 0 without a second value
    int32_t op;                         // one of the eleven comparison codes
};

// Texts of a full-text dictionary, in the order of the record.
constexpr int kZvdbFtiDictTexts = 5;

struct tagZVDBFTIDICT {
    uint16_t kind;                      // 3516
    tagZVDBSESSION *session;
    int32_t word1;                      // 1
    uint16_t words[2];                  // 0x002D, 1
    char *texts[kZvdbFtiDictTexts];     // owned; NULL: empty
    int32_t flag;
};

// The links sit where the resolver reads them.
static_assert(offsetof(tagZVDBDATABASE, session) == 8);
static_assert(offsetof(tagZVDBTABLE, session) == 8 && offsetof(tagZVDBTABLE, database) == 16);
static_assert(offsetof(tagZVDBRECORD, session) == 8 && offsetof(tagZVDBRECORD, database) == 16 &&
              offsetof(tagZVDBRECORD, table) == 24);
static_assert(offsetof(tagZVDBINDEX, table) == 8 && offsetof(tagZVDBFIELD, table) == 8);
static_assert(offsetof(tagZVDBSEGMENT, index) == 8 && offsetof(tagZVDBRESOURCE, table) == 8);
static_assert(offsetof(tagZVDBRESULTSET, table) == 16);
static_assert(offsetof(tagZVDBCRITERIA, resultset) == 8 && offsetof(tagZVDBCRITERIA, field) == 16);
static_assert(offsetof(tagZVDBFTI, table) == 8 && offsetof(tagZVDBFTI, dict) == 40);
static_assert(offsetof(tagZVDBFTIDICT, session) == 8);

extern "C" {

// The owner of `wanted` kind that the handle leads to, after making the
// session's engine instance current (nothing is switched when the instance
// is current already or the session works in the current one). NULL for
// NULL, an unknown kind, wanted 3512 or a kind outside 3505..3516, a missing
// link, and a failed switch, whose engine code becomes the session's last
// code.
ZVHANDLE _zvdbSelectHandle(ZVHANDLE handle, int wanted);
// The list in which the handle is kept by its parent: a database's in its
// session's children, a table's in its database's tables (its session's
// children without database), a record's in its table's records. NULL for
// other kinds or a missing owner.
ZVDBLIST *_zvdbGetSiblings(ZVHANDLE handle);
// Adds the handle to / removes it from that list: 0, or the list's code.
ZVDBRET _zvdbLinkChild(ZVHANDLE handle);
ZVDBRET _zvdbUnlinkChild(ZVHANDLE handle);
// Before a parent is freed: empties the links below it that point at the
// kind being freed (3505 session, 3506 database, 3507 table). 0 or the last
// recursive result; 4007 for NULL.
ZVDBRET _zvdbUnlinkChildren(ZVHANDLE handle, int kind);
// Closes what is open below a handle, depth first, stopping at the first
// error: a connected database closes its tables and disconnects, an open
// table closes, a logged-on session deactivates its children and logs out.
// 0 for inactive handles and other kinds; 4007 for NULL.
ZVDBRET _zvdbDeactivateChildren(ZVHANDLE handle);

}  // extern "C"

namespace zv {

// The field word that marks the row-id segment.
inline tagZVDBFIELD *rowid_field() { return reinterpret_cast<tagZVDBFIELD *>(uintptr_t{1}); }

// The 16-bit kind of a non-NULL handle.
inline uint16_t handle_kind(const void *handle) {
    uint16_t kind;
    std::memcpy(&kind, handle, sizeof kind);
    return kind;
}

}  // namespace zv
