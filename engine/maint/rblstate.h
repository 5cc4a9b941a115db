// Services every rebuild step shares (see rblstate.cpp): the progress
// callback with its status block and cancel word, the work buffer that
// holds one record, the rebuild error pair, the update-flag setter, the
// prompts that always decline, file numbers kept clear of a running set
// rebuild, and the in-place emptying of an index that keeps its resources.
//
// The work buffer, the status block and the mark of a partition's set
// rebuild are declared in maint_services.h, which the ISAM layer includes
// as well.
#pragma once

#include <cstdint>
#include <cstdio>

#include "engine/maint/maint_services.h"
#include "zarvo/zarvo.h"

struct FCB;

namespace zv {

struct CamoSave;
class HeldFiles;

// Codes the progress routine receives.
constexpr int kRblPhase = 109;    // a phase begins (message)
constexpr int kRblRecord = 100;   // records scanned or keyed
constexpr int kRblKey = 105;      // keys loaded
constexpr int kRblCancelled = 869;

// Starts a phase: the counter and the status block's high word go to 0 and
// the routine gets 109 with the message.
void rbl_phase(const char *message);
// The routine gets 109 with the message and the running count.
void rbl_note(const char *message);
// Counts one record (kRblRecord) or key (kRblKey); every interval the
// routine gets the count: 0, or 869 when the status block's cancel word
// was set.
int rbl_count(int code);

// Stores code as uerr_cod, isamerr_cod and the rebuild error, filno as the
// rebuild error's file; returns code.
int rerr(int code, int filno);
// Stores value in the update flag of an open file's block without changing
// uerr_cod: 0, or 26 when the file is not open. With `write` the header is
// written as well (the block keeps the value whatever the write says).
int zvsetupdflg(int filno, int value, bool write = false);

// Closes an open file. A block (or member) whose update flag is 'R' gets
// its header written first: the close writes only the headers of files
// changed cleanly, and the mark must go to disk with the file's last
// counters. 0 or the close's first error.
int rbl_close(int filno);

// The prompts a rebuild could ask before changing a header value: yesno
// agrees, prnprm declines. vcparm and vtparm store value into a header
// field unless it holds the value already or prnprm declines: 1 when the
// field was left as it was, 0 when it was changed.
int yesno();
int prnprm();
int vcparm(uint16_t *field, uint16_t value, const char *label);
int vtparm(uint8_t *field, uint8_t value);

// The first of `count` free file numbers side by side outside the run of
// the set being rebuilt (the table grows when there are none): the number,
// or -1 with 46.
int rbl_spare_filno(int count = 1);
// Holds the file `name` for the running call in `held` (a superfile
// member: its host): through the instance's own open of it when it has one
// (its description taken over, hold_descriptor), else by name. A missing
// file is left to the call's own open (0). 0; 12 with sysiocod the lock's
// errno when another open has the file, or the open's errno when it does
// not open read-write as a regular file (the caller may not write it): the
// call refuses then rather than run without the hold; 82.
int hold_set_file(HeldFiles &held, const char *name);
// A closed file opened on its own on a spare file number (rbl_spare_filno)
// for the life of the object, closed at its end unless closed before.
class SpareOpen {
public:
    SpareOpen(const char *name, uint16_t mode);
    ~SpareOpen() { close(); }
    SpareOpen(const SpareOpen &) = delete;
    SpareOpen &operator=(const SpareOpen &) = delete;
    // 0, or the open's error.
    int rc() const { return rc_; }
    int filno() const { return filno_; }
    FCB *fcb() const;
    // 0 or the close's error.
    int close();

private:
    int rc_ = 0;
    int filno_ = -1;
};

// Whether a file number belongs to the run of the set being rebuilt.
bool rbl_in_run(int filno);

// Prepares an existing index file for a rebuild without losing its
// resources: every node that is no resource goes on the deleted-node stack
// and every member loses its root and key count. 0; -1 the index did not
// open (*flags 0; with an encryption save block the next create copies the
// data file's encryption); -2 a member name that did not open, or the
// encryption settings could not be had. *flags receives the header bits
// 0x600.
int rblsavres(int datno, int idxno, const char *name, const char *password, uint16_t *flags, CamoSave *encsave);

// Empties an index (and its members) in the header copies: no root, no
// keys, no levels or distinct counts; the update flag 0xFF, so that the
// close writes the headers.
void rbl_empty_index(FCB *index);
// Puts the node at `at` of index file (or superfile host) f on a
// deleted-node stack whose head is *head: its links become (head, all
// ones), its counts 0, and *head the node. `direct` reads and writes past
// the data page cache. 0 or the I/O error.
int rbl_push_node(FCB *f, uint64_t at, uint64_t *head, bool wide, bool direct);

// Deletes a temporary file by name, keeping uerr_cod and sysiocod; a
// failing delete is tried a second time.
void rbl_drop_file(const char *name);
// Opens a stream on a work file under a name drawn free (the reject and
// dump files): "w" makes a file that must not exist, "r" reads one back;
// no link is followed and only a regular file opens. A name that holds
// anything else is left as it is, and the status log names it.
FILE *rbl_open_stream(const char *name, const char *mode);
void rbl_close_stream(FILE **fp);

}  // namespace zv
