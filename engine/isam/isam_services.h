// What the layers below ask of the ISAM layer above them, in one section
// per calling folder: the engine core, the file layer and the index engine.
// Each call is a plain function resolved at link time, also those made for
// each record (the partition of a host's record position) or each key (the
// key reads of a partitioned host, the current ISAM record).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zarvo/zarvo.h"

struct FCB;

namespace zv {

// ---- For the engine core ----------------------------------------------------
// The file-number table grows (filenum.cpp), a transaction ends
// (transact.cpp: LKISAM releases the ISAM locks), an instance stops
// (lifecycle.cpp: FREBAT frees the batches, zvfisam the tables). LKISAM
// (lockmode.cpp) and FREBAT (batch.cpp) are declared in zarvo.h. The ISAM
// tables (the key map, engine/index/keymap.h) are made with the engine
// under INTISAMX (isamstart.cpp).

// Grows the ISAM tables to n file entries along with the file-number table,
// when the ISAM layer is started. Nonzero on success or when there is
// nothing to grow; 0 when memory runs out (the caller then keeps its old
// file-number table).
int isam_grow_tables(int n);
// Frees the ISAM tables of the current instance with the names they hold
// (none: no effect).
void zvfisam(int32_t nfiles);

// ---- For the file layer -----------------------------------------------------
// Open, close and creation of files.

// Ends the data file's list of index numbers at `slot`.
void setzvEOK(int datno, int slot);
// Loads the data file's conditional-index table from its stored
// conditions: the table; null without an error when none are stored; null
// with the user error set when they cannot be loaded (439 damaged, 596 no
// field names, 597 a text that does not parse, 435 no memory).
void *zvigetcidx(int datno);
// Releases a conditional-index object by kind (cidx.cpp): 0 a parse
// tree, 1 one use of a callback filter (the callback ends with the last
// use), 3 a plain block, 5 nothing, any other kind a whole CIDXTABLE
// (cidx.h). Null is ignored.
void zvfreecidx(void *object, int kind);
// Writes the partition definition resources of a new partitioned host.
int zvsetpres(FCB *fcb, int filno);
// A partitioned host at open reads its member table and its rule: 0 or
// the error (resources not found: 401, 408, 438).
int zvpartres(int filno);
int zvpartrule(FCB *host, int filno);
// A partitioned host at close: closes the members it opened, then frees
// its partition definition.
int zvpartcls(FCB *host);
int zvpartcln(FCB *host);
// A member data file that its host opened is closing on its own: the
// host forgets its file number.
void partition_member_closing(FCB *member);
// An index file (with its members) is closing: no data file keeps it as
// its record-position index any longer, and its key-map entries lose the
// flag of an in-memory condition (the close frees the condition).
void isam_index_closing(FCB *index);
// Closes the ISAM contexts of a data file before the file is closed.
void isam_close_contexts(int datno);

// Record space (fixed-length records and record filters).

// A newly allocated list of the data file's field names from its record
// schema (freed with zvputmem), or null with the user error set: 439 when
// the stored list is malformed (a length byte of 0 or past the end, a name
// not ended inside its record, or not one record per schema field); null
// without an error when the file has no names.
void *zvgetnames(int datno);
// Member of a partitioned host that holds the host record position: takes
// the partition number from the high word (reduced to the member's own) and
// returns the member's file number, opening a member that is closed; -3
// when the position carries none, another negative value when the
// partition has no member that can be opened.
int zvunfoldpartno(FCB *host, uint32_t *hi, int *partno, int log);
// Active records of a partitioned host as a 64-bit count (low word
// returned, high word in *hi); 614 in uerr_cod when it cannot be counted.
uint32_t zvhostent(FCB *host, int filno, uint32_t *hi);
// The partitioned host through which a partition member was opened, or null.
FCB *partition_host_of(FCB *member);

// Resource conversion: reverses the byte order of a field value in place:
// 1 done, 0 none.
int zvadjfld(int type, void *field, int32_t len);

// Header fields by mode number, flush and reports.

// Word `which` of the ISAM map entry of a file number, sign-extended: 0 the
// data-file number, 1 the relative index number, 2 the key flags; -1 while
// the map has no entry.
int32_t isam_map_value(int filno, int which);
// The slot-th index number that the ISAM map lists for a data file: -1 ends
// the list, -66 is a slot to skip.
int isam_map_index(int datno, int slot);
// True while the file is open as a member of a partitioned host.
bool is_partition_member(const FCB *fcb);
// The slot-th member file number of a partitioned host; -1 ends the list.
int partition_member(const FCB *host, int slot);
// First (38) or last (39) active partition number, or the number of active
// partitions (40), of a partitioned host: 0 with *out set, or 715.
int partition_active(FCB *host, int mode, int32_t *out);
// Why the partition attribute may not be set on a host: 720, 721 or 0.
int partition_refusal(FCB *host);
// Passes a header-flag addition or a new file mode of a host to its
// partitions: 0 or the first error.
int chgpartattrs(FCB *host, uint32_t flags);
int chgpartmode(FCB *host, int mode);
// Sets the file's current ISAM record position to 0.
void clear_isam_position(FCB *fcb);
// Rewrites the file paths kept in the stored file definition of an open
// data file by the redirection rules: 0, 408 when it keeps none, or the
// error of storing it again.
int zvredirectifil(int filno);

// Swap notes.

// The files the set of the data file open as datno names itself, read as
// if the data file had the name `asname`: the index files of its stored
// definition into *index and, when it is a partitioned host, the data files
// of its members with files (its member table) into *members. A swap's note
// names no other file of the set. 0, or the error (401, 408, 438: nothing
// stored; 82 no memory).
int set_named_files(int datno, const char *asname, std::vector<std::string> *index,
                    std::vector<std::string> *members);
// Whether `name` is the name that the member of some raw number of a
// partitioned host takes, by either naming rule, for the host's file
// `hostside` (its data file or an index file of its own): the names a
// swap's note may give a member's files that are not there yet.
bool part_member_named(const char *hostside, const char *name);

// ---- For the index engine ---------------------------------------------------
// The current ISAM record of a data file and the reads that make a record
// current (forming the key images of its indexes again), and the length
// check of the variable-length calls (isam_read.cpp); REDIREC and REDIVREC
// are public calls and are declared in zarvo.h.
//
//   REDIREC(datno, poslow, record): reads the fixed-length record at
//     (pending high word, poslow) and makes it the current ISAM record,
//     forming the current key images of the data file's indexes (only index
//     ~selector while the instance's key selector is negative; the others
//     are then formed again on first use).
//   REDIVREC(datno, poslow, record, len): the variable-length form; *len is
//     the buffer length in, the record length out.

// Reads the record that an entry of index keyno points to and makes it
// current: 0, 739 rejected by the record filter, or the read's error. With
// a length pointer the variable-length read is used. Position 0 reads
// nothing: the pending error, or 101 (end of index). The current record is
// left as it was by every failure.
int reset_cur2(int keyno, uint32_t posh, uint32_t posl, void *record, int32_t *len);
// reset_cur2 without a position: the pending error, or 101.
int reset_cur(int keyno, uint32_t posh, uint32_t posl, void *record);
// 633 (also the ISAM error) for a null length pointer, else 0.
int zv_chkplen(const int32_t *len);
// A data file has been given a record schema: the serial-number segments
// by schema field of its indexes that waited for one are bound (a pair
// recorded without a schema is resolved), and with `varpart` the key-map
// entry of every index with a segment on a field of the variable part is
// marked so (a variable-length file).
void isam_schema_stored(int datno, bool varpart);

}  // namespace zv

// The partition services (partsearch.cpp, partcount.cpp): a partitioned
// host index hands its key reads, counts and estimates to them, once per key
// read of such a host; the key insert asks whether an equal entry of a
// global unique index is stale.

// Key read of a partitioned host: mode as the key reads ('E', 'G', 'H',
// 'N', 'M'), direction 1 for the less-than forms, 16 first key, 17 last key,
// 0x20 (with 'H' or 'N') the next or previous key from the last one read.
// Record position low word (high through zvSETHGHi), 0 with uerr_cod set.
uint32_t part_ser(FCB *fcb, const void *target, void *keyout, int mode, int direction);
// Key count of a partitioned host summed over its members (low word; high
// through zvSETHGHi); 0 with uerr_cod set.
uint32_t zvhostent(FCB *fcb);

// Estimates and counts of a partitioned host summed over its members
// (key navigation). `which` names the estimate ('E' ESTKEY, 'R' RNGENT, 'S'
// ESTRNG). Low word returned, high word through zvSETHGHi; 0 with uerr_cod
// set (614 an index not in the index map).
uint32_t zvhostest(int which, FCB *host, int keyno, const void *key1, const void *key2, int flag);
// The key at a fractional position of a partitioned host.
uint32_t zvhostfrc(FCB *host, int keyno, void *keyout, int32_t permille, int32_t scale, int32_t weight);
// Distinct-key estimate of a partitioned host, and its recount.
uint32_t zvhostdst(FCB *host, int keyno);
uint32_t zvhostdst_set(FCB *host, int keyno, int mode, int flag);
// Prepares the member search buffer of a partitioned host: 0 or 614.
int initPARTSERbuf(int keyno);

// An entry (posh, posl) of the global unique index x of a partitioned host
// met by an equal key: true when the member it names no longer holds it
// (the raw number outside the member table, a member of state 0 or 4, or
// another stamp).
bool partition_entry_stale(FCB *x, uint32_t posh, uint32_t posl);
