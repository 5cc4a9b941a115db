// IFIL rebuild (see rblifil.cpp). RBLIFILz and its wrappers are declared
// in zarvo.h.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "engine/core/filehold.h"
#include "engine/isam/fileset.h"
#include "engine/maint/fileswap.h"
#include "zarvo/zarvo.h"

struct FCB;

namespace zv {

// The options of a set rebuild, read from the IFIL's tfilno.
struct RblOptions {
    bool update = false;    // store the given definition afterwards
    bool purge = false;     // delete the rejected records
    bool badpart = false;   // bad partition members only
    bool noscan = false;    // no data-file scan
    bool repair = false;    // scan option: unreadable stretches become free space
};
// Reads the options: 0, or 943 (bits outside the known ones, or 0x080
// together with 0x200).
int rbl_options(int16_t tfilno, RblOptions *out);
// The option bits of tfilno: -1 or more none; below -1 with bit 0x4000
// clear the bits of -(tfilno | 0x4000); with it set a legacy value
// (*legacy, the caller reads tfilno itself). 0, or 943 for a bit outside
// `allowed` or 0x080 together with 0x200.
int rbl_option_bits(int16_t tfilno, int allowed, int *bits, bool *legacy);

// Brings an open index's header into line with its definition when check
// is set: key length, key type and duplicate flag (the node geometry
// follows), pad byte, member count (when not negative) and alternate
// collating sequence. The header is written only when something changed.
// 0 or an error.
int chkidxhdr(int check, const IIDX *x, int filno, int ifilmod, int nmem);
// Checks every serial segment taken from a schema field (mode 257) of the
// IFIL against the description (field number, length) of the data file:
// 0; 608 at the first mismatch (*failfil = datno + 1 + the index
// position). *found is set when a segment matches.
int chkschsrl(const IFIL *ifil, int datno, int32_t field, int32_t length, int *found, int *failfil);

// ---- The index phase --------------------------------------------------------
// What the set rebuild and the compaction share once the data file is in
// order: every index file created again from the definition with its old
// resources beside the old file (a superfile member in place), loaded from
// the records through the external sort and the bulk load, the rejected
// keys reported and, on request, purged, and the new files swapped into
// the places of the old ones.

// The state of one index phase. The set runs on consecutive file numbers:
// the data file on `first`, index k on first + 1 + k.
struct IndexPhase {
    IFILPARM *p = nullptr;
    IFIL *ifil = nullptr;
    RblOptions o;
    SetShape shape;
    int first = -1;
    char dname[256] = {};       // the data file the keys are loaded from
    FILE *rej = nullptr;        // reject file (text report, or binary records for a purge)
    char rejname[256] = {};
    int64_t rejected = 0;       // duplicates and bad serial numbers counted
    // Per index of the definition: its own file name, the working name of
    // its new file, whether that file exists, and whether the index file is
    // a superfile member (made again in place).
    std::vector<FileName> iname, tname;
    std::vector<uint8_t> made, member;
    // The files the run holds (the set's, from its first check; the new
    // ones, from before the swap's first rename) until it ends.
    HeldFiles held;
};

// The set's own name of index file k: 0 or an error.
int rbl_index_name(IndexPhase &r, int k, char (&out)[256]);
// Creates index file k (its members with it) under newname with the
// resources of the old file `oldname`, and binds the key maps of the file
// and its members; the file is closed again. When newname is oldname the
// old file is deleted first; a superfile member is only opened, in place.
// With keepenc the new file takes the old file's encryption (the data
// file's when the old one is gone); else the instance's pending cipher. blk
// is the create block (null: none). 0 or the error (through rerr); on an
// error nothing of the new file is left open and its key maps are freed.
int rbl_recreate_index(IndexPhase &r, int k, const char *oldname, const char *newname, const XCREblk *blk,
                       bool keepenc);
// Names every index file of the set (iname) and marks the superfile
// members: 0 or the error (through rerr, the index numbered from filno).
int rbl_index_names(IndexPhase &r, int filno);
// Creates index file k (rbl_recreate_index) under a working name beside
// its own file, which stays as it is: 0 or the error (through rerr).
int rbl_index_beside(IndexPhase &r, int k, const XCREblk *blk, bool keepenc);
// Queues the new index files in the swap: the original (when there is one)
// parked, the new file placed. 0 or the error (through rerr).
int rbl_queue_indexes(IndexPhase &r, FileSwap &swap);
// Deletes the new index files still under their working names (closed).
void rbl_drop_working(IndexPhase &r);
// Opens the reject file: 0 or an error (through rerr).
int rbl_open_rejects(IndexPhase &r);
// Loads index file k (iname) and its members from the data file r.dname:
// header check, key pass of the host and of each member. The file is
// closed afterwards. 0 or the error (through rerr).
int rbl_load_index(IndexPhase &r, int k, const char *iname);
// Logs the count of rejected entries, the data file name `label` and the
// reject file name.
void rbl_note_rejects(IndexPhase &r, const char *label);
// Deletes the rejected records of the reject file from the open set whose
// data file is datno: their keys from every index, then the records. A
// record that cannot be freed is logged with its position as a 64-bit
// number, or with `hexpos` as its high and low words in hexadecimal. 0, or
// 651 with the reason logged; the update flags of the set are cleared on
// success. The reject file is closed.
int rbl_purge_records(IndexPhase &r, int datno, bool hexpos);
// Ends the reject file: closed, deleted when nothing was rejected. A run
// without another error (rc 0) that rejected entries answers 650 with the
// purge, else 652. The code to return.
int rbl_end_rejects(IndexPhase &r, int rc);
// The number of a file of the set (r.p) that is open in this instance, or
// -1: a run would change it under its open block. r.dname gets the data
// file's name.
int rbl_open_file_of(IndexPhase &r);
// Holds (r.held) every file of the set that the run reads, rewrites or
// replaces until the run ends: the data file `datname` and every index file
// (a superfile member: its host), so that no other open (in any process or
// instance) reaches them meanwhile. 0 (a file that does not open is left to
// the run), else 12 (through rerr, naming the held file's number from
// r.first) with the lock's system error in sysiocod when another open has
// one, or 82. Names come from rbl_index_names.
int rbl_set_held(IndexPhase &r, const char *datname);
// The schema serial description of the data file's stored definition (the
// first serial segment taken from a schema field) against the IFIL: 0, or
// 608 (through rerr, with the failing index's number from r.first) unless
// the definition is to be stored. dat is the open data file.
int rbl_serial_check(IndexPhase &r, FCB *dat);
// The checks of a set run's entry: 0 to go on, or the code (through ierr:
// 47 no engine started, 540 no definition).
int rbl_set_entry(IFILPARM *params);
// The codes a set run ends with: rc (0 or the error, the rebuild error
// pair naming filno unless a step named its own file) in uerr_cod and
// isamerr_cod, through ierr.
int rbl_run_end(int rc, int filno);
// Frees the key-map entries of the index files first + 1 + k, k in
// [from, to].
void rbl_drop_maps(const IndexPhase &r, int from, int to);
// Closes a file when it is open, keeping the error codes; an index after
// its key pass keeps its 'R' mark on disk (`marked`).
void rbl_quiet_close(int filno, bool marked = false);

}  // namespace zv
