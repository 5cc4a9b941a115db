// Services of the ISAM layer that open, close and creation of files call.
#pragma once

#include <cstdint>

struct FCB;

namespace zv {

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

// ---- Record space (fixed-length records and record filters) --------------
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

// ---- Header fields by mode number, flush and reports ------------------------
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
// A data file has been given a record schema: the serial-number segments
// by schema field of its indexes that waited for one are bound (a pair
// recorded without a schema is resolved), and with `varpart` the key-map
// entry of every index with a segment on a field of the variable part is
// marked so (a variable-length file).
void isam_schema_stored(int datno, bool varpart);
// Rewrites the file paths kept in the stored file definition of an open
// data file by the redirection rules: 0, 408 when it keeps none, or the
// error of storing it again.
int zvredirectifil(int filno);

}  // namespace zv
