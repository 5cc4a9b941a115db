// Partitioned files: a host data file whose records live in member file
// sets, one per raw partition number, chosen by a rule on the key of the
// host's partition index.
//
// The modules:
//   partition.cpp   the definition (PARTDEF), its two resources in the host,
//                   the rule, raw numbers and host record positions;
//   partmember.cpp  member names, creation, opening, and the set-wide
//                   changes (close, delete, drop, rename, file modes);
//   partread.cpp    the host's current record and the reads across members;
//   partwrite.cpp   add, rewrite and delete on a host;
//   partunique.cpp  global unique indexes of a host;
//   partkey.cpp     index marks and key maps of the partition key.
// The file layer and the index engine reach them through
// engine/isam/isam_services.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/isam/isamstate.h"
#include "zarvo/zarvo.h"

struct FCB;

// ---- Definition -----------------------------------------------------------------

// One entry of the member table, per raw number from ptbase on.
struct PARTMBR {
    int32_t filno;   // member data file number while open (state 2)
    int32_t state;   // zv::kMbr* below
    int32_t stamp;   // copied into the member's header (+408) at creation
    char *name;      // member data file name (at most 255 bytes), owned; null: none
};

// The partition rule of a host; null in PARTDEF means the date rule.
struct PTRULE {
    int32_t kind;           // zv::kRule* below
    void *body;             // text (kind 1), callback block (2, 3), parse tree (4)
    unsigned char *view;    // key view: a schema map of the key's segments with
                            // their field names behind it (one block); null: none
    unsigned char *names;   // the names, inside view
};

// What a host keeps about its partitioning while it is open (FCB::partdef).
struct PARTDEF {
    PARTMBR *ptmbr;      // the member table, indexed by raw - ptbase; null: none
    int32_t ptmax;       // entries allocated
    int32_t ptcur;       // entries in use
    int32_t ptbase;      // raw number of entry 0
    int32_t ptlow;       // lowest / highest raw number of an active member;
    int32_t pthigh;      //  -1: not known (setrawnolmt computes them)
    PTRULE *ptrule;      // null: the date rule
    uint32_t ptshift;    // bit of the raw number in a host position's high word
    int32_t ptidx;       // relative key number of the partition index
    int32_t ptraw;       // raw number of the host's current record
    int32_t ptrawsav;    // its saved copy (UPDCURI)
    int32_t ptsearch;    // raw number a cross-member key search continues from
    int32_t ptsrchix;    // host index of the last cross-member search; -1: none (or
                         //  a record of the host changed since)
    uint32_t ptsrchh;    // the host position that search answered
    uint32_t ptsrchl;
    int32_t ptsrchdn;    // 1: that search was descending
    unsigned char key[zv::kIsamKeyRoom];   // a partition key formed from a record
    unsigned char keyu[zv::kIsamKeyRoom];  // its copy with the transforms undone
};

namespace zv {

// Member states (PARTMBR::state). States above 4 live only during one
// administration call.
enum : int32_t {
    kMbrNone = 0,        // no member
    kMbrClosed = 1,      // exists, closed
    kMbrOpen = 2,        // open; filno is its data file
    kMbrArchived = 3,    // files kept, not used
    kMbrPurged = 4,      // files deleted
    kMbrRebuilding = 5,
    kMbrActivating = 17,
    kMbrReusing = 18,
    kMbrArchiving = 19,
    kMbrPurging = 20,
};

// Rule kinds (PTRULE::kind).
enum : int32_t { kRuleUnusable = 0, kRuleText = 1, kRuleCallback5 = 2, kRuleCallback = 3, kRuleExpr = 4 };

// Flags of the extended header word flmode2 that partitioning uses.
constexpr uint32_t kPartHost = 0x00400000;      // partitioned host (data file and its indexes)
constexpr uint32_t kPartMember = 0x01000000;    // partition member (its files)
constexpr uint32_t kPartGlobal = 0x02000000;    // host: has global unique indexes
constexpr uint32_t kPartSerial = 0x04000000;    // host: serial numbers assigned at the host
constexpr uint32_t kPartGlobalIdx = 0x08000000; // index: global unique index
constexpr uint32_t kPartBits = 0x00C00000;      // partition bits of a create block

// Raw numbers above ptbase + kRawSpan are refused (730).
constexpr int32_t kRawSpan = 65335;

// ---- partition.cpp: definition, resources, rule, positions ------------------------

// Writes the placeholder resources of a new host: 0 or the error (454 a
// superfile member or a file without an extended header).
int zvsetpres(FCB *fcb, int filno);
// Reads the member table / the rule of a host at its open: 0 or the error.
int zvpartres(int filno);
int zvpartrule(FCB *host, int filno);
// The member-table resource of a host as a new zvgetmem block (length in
// *len), or null with 83.
unsigned char *formpr(const FCB *host, int32_t *len);
// Rewrites the member-table resource: 0 or the error.
int zvupdtpres(FCB *host, int filno);
// Frees the host's member table and rule, and the definition.
int zvpartcln(FCB *host);
// Parses a rule text; with `out`, fills it (kind, body, key view): 0 or
// 597. Without `out` only checks the text.
int zvpr_parse_str(FCB *host, int filno, const char *text, PTRULE *out);
// Releases a rule and clears the pointer.
void zvpr_clean_rule(PTRULE **rule);
// Replaces the host's rule by text (null or empty: the date rule): the
// resource "QV!PRUL" is written first; the rules change places only when
// that succeeded. 0, 747 a text that does not parse, or the write's error.
int zvpr_replace_rule(FCB *host, int filno, const char *text);
// Raw number of a key of the partition index (file ixno) by the date rule
// / by the host's rule: the number, or -1 with the error set.
int32_t kprawno(int hostno, int ixno, const void *key);
int32_t kprawno_i(int hostno, int ixno, const void *key);
// File number of the member that holds (or is to hold) a record: from the
// record, or (fromrec 0) the host's current one. The raw number goes to
// *raw. create asks for a missing member to be made. Negative with the
// error set on failure.
int zvpartno(int hostno, const void *rec, int32_t *raw, int32_t reclen, bool create, bool fromrec);
// The raw number, file number and stamp that a record of the host goes to,
// without creating or opening anything: 0 or the error (the stamp a new
// member would get for an entry without one).
int zvpartdest(int hostno, const void *rec, int32_t reclen, int32_t *raw, int32_t *stamp);
// Puts raw into the high word *posh of a member position: 0 or 717.
int zvoverloadpart(const FCB *host, uint32_t *posh, int32_t raw);
// The raw number of a host position's high word; the word loses it.
int32_t zvunfoldpart(const FCB *host, uint32_t *posh);
// Refreshes ptlow and pthigh.
void setrawnolmt(PARTDEF *pd);
// The entry of a raw number, or null outside the table.
PARTMBR *member_entry(PARTDEF *pd, int32_t raw);
// Days since 1970-01-01 of a civil date, and back.
int32_t zvGetDaysSinceEpoch(int32_t year, int32_t month, int32_t day);
void zvGetYMDFromDaysSinceEpoch(int32_t days, int32_t *year, int32_t *month, int32_t *day);
// The data file whose key map lists index file ixno: -1 when none.
int host_index_slot(int hostno, int ixno);

// ---- partmember.cpp: members ---------------------------------------------------

// The definition of a member set made from its host's: names with the
// member's suffix, create blocks with the member marks (raw number and
// stamp), the files' modes those of a member set.
struct MemberSetDef {
    IFIL *def = nullptr;            // the host's stored definition
    char *defnames = nullptr;
    IFIL member{};                  // the member's definition
    std::vector<IIDX> idx;
    std::vector<XCREblk> blocks;
    std::string dname;              // member data file name
    std::vector<std::string> inames;   // member index file names (per index file)
    std::vector<bool> placeholder;
    int32_t stamp = 0;
    MemberSetDef() = default;
    MemberSetDef(const MemberSetDef &) = delete;
    MemberSetDef &operator=(const MemberSetDef &) = delete;
    ~MemberSetDef();
    // 0, or the error (set): 608 fewer than 2 files, 615, 418, 408.
    int build(FCB *host, int hostno, int32_t raw, int32_t stamp);
};

// Grows the member table to cover raw (new entries state 0): 0 or 82.
int partition_cover(PARTDEF *pd, int32_t raw);
// Widens a known active range (ptlow, pthigh) to raw.
void partition_widen(PARTDEF *pd, int32_t raw);
// A zvgetmem copy of a member name (at most 255 bytes), or null.
char *member_name_copy(const char *name);

// The member name for raw number raw: host-side name and its suffix
// (".%03d" with a rule, ".%04d%02d%02d.%06d" by the date rule) into out
// (256 bytes): 0, or 418 when it would pass 255 bytes.
int partnam_i(bool rule, const char *hostside, int32_t raw, char *out);
// File number of the member of raw number raw, opened (and with create
// made) when needed; negative with the error set.
int pfilno(int hostno, int32_t raw, bool create);
// Opens the existing member of raw number raw: its file number, or -1.
int opnpart(FCB *host, int32_t raw);
// The next member above raw (-1: the lowest) / below raw (0x7FFFFFFF: the
// highest) that is active, opened: its file number with *raw set, -2 when
// there is none, -1 on error. openonly: members that are open already.
int nxtpartno(FCB *host, int hostno, int32_t *raw, bool openonly);
int prvpartno(FCB *host, int hostno, int32_t *raw);
// Closes the members that the host opened.
int zvpartcls(FCB *host);
// Deletes every active member set of a host: 0 or the first error.
int zvpartdelete(int datno);
// A member opened by its host is closing: the host's entry returns to
// state 1.
void partition_member_closing(FCB *member);
// Copies the resources of file `from` to file `to`: 0 or the error.
int zvxfrres(int from, int to);
// Drops the index of relative number relkey (file `index`) from every
// member of a host: 0 or the first member's error.
int zvpartdrop(FCB *host, FCB *index, int hostno, int relkey);
// Renames the member sets of a partitioned host after its set was renamed
// to the names of p's IFIL: 0 for a set that is not partitioned; on a
// failure every member is under its old name again.
int part_ren(IFILPARM *p);
// The index of relative key k of a data file: its file number, or -1 (a
// slot past the end, skipped or not open).
int relative_index(int datno, int k);

// ---- partread.cpp: the current record and reads --------------------------------

// The member's current record becomes the host's (0, or 717 when its
// position cannot carry the raw number); the host's becomes the member's.
int hostcuri(int hostno, int memberno);
int partcuri(int memberno, int hostno);
// Copies the member index's found key into the host index's.
int hostkeyl(int hostix, int memberix);
// First / last record (first true / false) of a host data file or host
// index, and the next / previous from the current record: 0, 101 at the
// end, or the error (the ISAM error set).
int zvp_bndrec(FCB *f, bool first, int filno, void *rec, int32_t *len);
int zvp_seqrec(FCB *f, bool next, int filno, void *rec, int32_t *len);
// Reads the record of a host position and makes it current (REDIREC,
// REDIVREC, RRDREC on a host): 0 or the error.
int part_read_at(int hostno, uint32_t hi, uint32_t lo, void *rec, int32_t *len);
// The record an entry of host index keyno points to: read in its member
// and made current on the host (the keyed reads' step): 0, 739 a skip, or
// the error.
int part_reset_cur(int keyno, int hostno, uint32_t hi, uint32_t lo, void *rec, int32_t *len);
// Makes a record image current on a host at a host position (SETCURI).
int part_setcuri(int hostno, uint32_t hi, uint32_t lo, const void *rec, int32_t len);
// The member that holds the host's current record, its current record
// made the host's: its file number, or -1 with the error (100 none, 724).
int current_member(FCB *host, int hostno);
// REDVREC and GETVLEN of a host.
int part_redvrec(int hostno, void *buf, int32_t buflen);
int32_t part_getvlen(int hostno);

// ---- partwrite.cpp: record operations of a host --------------------------------

int part_addrec(int hostno, FCB *host, void *rec, int32_t len, bool variable);
int part_rwtrec(int hostno, FCB *host, void *rec, int32_t len, bool variable);
int part_delrec(int hostno, FCB *host, bool variable);
int part_rwtprec(int hostno, FCB *host, const void *rec, int32_t len);

// ---- partunique.cpp: global unique indexes -------------------------------------

// Entry position of a global unique entry of a member.
void global_position(bool wide, int32_t raw, int32_t stamp, uint32_t *posh, uint32_t *posl);
// Adds the keys of a record (rec given) or deletes the current keys
// (rec null) of every global unique index of the host: 0 or the error,
// with the relative key reached in *count and the failing index in *fail.
// With `serial` a host that assigns serial numbers stores the next one in
// the record first.
int zvuniqpart(FCB *host, int *count, int *fail, int hostno, int32_t raw, int32_t stamp, bool serial,
               int32_t reclen, void *rec);
// The global keys of a rewrite: old keys (current images) at the old
// member, new keys from the new record at the new member.
int zvuniqpartrwt(FCB *host, int *count, int *fail, int hostno, int32_t oldraw, int32_t oldstamp,
                  int32_t newraw, int32_t newstamp, int32_t reclen, const void *rec);
// Puts back the global keys of a rewrite (relative keys 0 .. count - 1)
// whose member change failed: 0, or 105 when a step failed.
int zvuniqpartrwt_undo(FCB *host, int hostno, int count, int32_t oldraw, int32_t oldstamp, int32_t newraw,
                       int32_t newstamp, int32_t reclen, const void *rec);
// Undoes relative keys 0 .. count - 1: mode 1 deletes the keys (from rec,
// or the current images), any other adds them. 0, or 105 when a step
// failed (errors cleared).
int zvuniqpartundo(FCB *host, int hostno, int count, int mode, int32_t raw, int32_t stamp, int32_t reclen,
                   const void *rec);
// Adds one key to host index ixno for a member: 0 or the add's error; a
// stale equal entry is replaced.
int zvpartaddk(int ixno, const void *key, int32_t raw, int32_t stamp, bool wide);
// Keeps the enhanced counts of the host's global unique indexes in step
// with a member change: direction > 0 purge, 0 archive, < 0 activate, of
// the open member memberno whose state was prevstate. 0, or the error
// (the counts then switched off).
int setactdelta(FCB *host, int hostno, int memberno, int direction, int32_t prevstate);
// Switches the enhanced counts of a host and its indexes off, with the
// status log lines of location `location`: 0.
int loseEnhancedGUIx(FCB *host, int hostno, int location);

// ---- The context of a data file and other calls of the ISAM layer --------------

// The partition state that ISAM contexts save and restore: the raw number
// of the current member with its companion word, and the current partition
// number with its companion word (zeros while the file keeps none).
struct PartState {
    int32_t member[2];
    int32_t partno[2];
};
void partition_state_get(const FCB *f, PartState *out);
void partition_state_set(FCB *f, const PartState *in);
// The lowest raw member number of a partitioned host (INT32_MAX when it
// has no member table).
int32_t partition_lowest_raw(const FCB *host);
// File number of the member recorded for raw number raw (-1: the host's
// current one, returned through *rawout); -1 with 722 when the host has
// no member table.
int hostpartno(FCB *host, int32_t *rawout, int hostno, int32_t raw);

// ---- partsearch.cpp: key searches across members ---------------------------------

// Forgets the host's last cross-member search: a record of the host was
// added, rewritten or deleted, or its current record restored.
void partition_search_reset(FCB *host);

// ---- partkey.cpp: the partition key in the indexes of a set ---------------------

// The partition mark of index pos of a set whose partition index is
// keyidx: 0x20 when the index leads with the partition key (the partition
// index always), 0x40 when it holds every piece of it elsewhere, else 0;
// -895 when the partition index has no usable partition key.
int zvchkprtidx(XCREblk *xcre, const IFIL *ifil, int pos, int keyidx);
// The same mark for a new index x of the open partitioned set datno.
int partition_mark(int datno, const IIDX &x);
// Builds the partition-key maps of the open indexes of a partitioned set
// (data file datno) that have none yet: 0, or 614, 895, 896.
int setkincmap(FCB *dat, int datno);
// Copies the partition key out of a key of index x through its map: 0 or
// 897 (no map).
int usekincmap(const FCB *x, const void *key, void *partkey);

// An index of a partitioned host as the counts and searches see it.
struct HostIndex {
    FCB *x = nullptr;        // the host index
    int keyno = -1;          // its file number
    FCB *host = nullptr;     // the host data file
    int hostno = -1;
    PARTDEF *pd = nullptr;
    int rel = -1;            // relative key of the index
    int pix = -1;            // file number of the partition index
    bool ordered = false;    // keys in member order: the partition index, or mark 0x20
    bool mapped = false;     // mark 0x40 with a key map
};
// The host index keyno: 0, or 614 (not in the index map), 722 (no
// partition definition).
int host_index_of(FCB *x, int keyno, HostIndex *h);
// The raw number of the member a key of the index belongs to (its
// partition key through the rule): the number, or -1 with the error set.
// Only for the ordered and mapped indexes.
int32_t raw_of_key(const HostIndex &h, const void *key);

// ---- partrebuild.cpp: rebuild and index addition across members ---------------

// Rebuilds a partitioned set (the set rebuild hands a partitioned host
// here): the host, then each member, refilling the host's global unique
// indexes. 0, 928 when a member rebuild failed, 931, 12, 454, 615, 930, or
// the host's error.
int zvpartrbld(IFILPARM *params);
// Rebuilds the closed member raw of an open host alone: 0, 715, 718 or
// the member rebuild's error.
int rebuild_member(FCB *host, int hostno, int32_t raw);
// The partitioned host whose member a set rebuild is working on, or null.
FCB *zvparthost();
// The rebuild's key pass: adds the key of member index idxno of member
// datno to its host's global index: 0, 2 a duplicate there, or an error.
int zvpartaddk_member(int datno, int idxno, const void *key);
// Adds the indexes of p (add set) to every member of a host, or rebuilds
// the member indexes of relative key relkey (add clear): 0 or the first
// member's error, the members done and the host's marks put back.
int zvpartiidx(FCB *host, int hostno, int relkey, IFILPARM *p, int add, int flag);

}  // namespace zv
