// ISAM records: the pieces that reads (isam_read.cpp), fixed-length writes
// (isam_write.cpp) and variable-length operations (isam_var.cpp) share.
#pragma once

#include <cstdint>

#include "engine/core/arith.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/index/idxstate.h"
#include "engine/index/nodebuf.h"

namespace zv {

// FCB::isamflags bit: the current record's key images are not valid.
constexpr uint32_t kIsamKeysInvalid = 0x4000000;
// Update-in-progress bits of the instance's operation word: add, rewrite,
// delete, each with "make the written record current".
constexpr uint32_t kUpdAdd = 0x01, kUpdRewrite = 0x02, kUpdDelete = 0x04, kUpdCurrent = 0x08;

// ---- Small helpers ------------------------------------------------------------

inline uint64_t pos64(uint32_t hi, uint32_t lo) { return join64(hi, lo); }
// The data file has an identity field that is in force.
bool identity_active(const FCB *f);
// The slot-th index of the data file's active list: -1 ends it, -66 skips.
int active_index(int datno, int slot);
// The key buffers of an open index, or null.
KEYBUFSET *key_images(int ixno);
// Ends an ISAM call: stores the code with its file (0 and 0 on success,
// when uerr_cod is cleared as well) and returns it.
int isam_end(int code, int filno);

// ---- Current ISAM record (isam_read.cpp) ----------------------------------------

// The current ISAM position of an open data file into *pos: 0, or the
// error (48 an index, 100 none, the lock step's error).
int chkism(int datno, FCB *d, uint64_t *pos);
// The record lock step of every ISAM access: 0 or the error (29 position 0
// while a lock mode is on).
int addlok81(FCB *fcb, uint32_t hi, uint32_t lo, int filno);
// Makes a record image (len bytes; 0: the fixed length; null: none) current
// at (hi, lo). pref >= 0: only that index's image is formed, the others
// are formed again on first use; leave: an index whose image the caller
// has set already (-1 none). 0, or the error of a key or the identity
// image (the record is current all the same).
int iSETCURI(int datno, uint32_t hi, uint32_t lo, const void *rec, int32_t len, int pref, int leave);
// Save (0), restore (1) or exchange (2) the current record and its saved
// copy: 0, 48 an index, 116 another mode.
int iUPDCURI(int datno, int mode);
// Takes bit kIsamKeysInvalid of `saved` into *flags.
void zvsetisamflmd(uint32_t *flags, uint32_t saved);
// A keyed read of index keyno (op 0 equal, 1 >=, 2 >, 3 <=, 4 <) that
// makes the record found current; a target already in key form
// (`keyform`) is not transformed. 0 or the ISAM error.
int keyed_read(int op, int keyno, const void *target, void *rec, int32_t *len, bool keyform);
// Makes a record written by an add or a rewrite current: its position is
// stored as the saved one, the saved copy (holding the new key images) and
// the current one change places, and the identity image is taken from the
// record.
void take_written_current(FCB *d, int datno, uint32_t hi, uint32_t lo, const void *rec, int32_t len);
// Reads the record at a position and makes it current (the shared body of
// every read): keyno is the index that led there, or datno for a read by
// position; len null reads the fixed part. 0 or the error.
int ismred(int datno, int keyno, uint32_t hi, uint32_t lo, void *buf, int32_t *len);
// Flushes a data file after a write when its mode asks for it.
void flush_after_write(FCB *d, int datno);
// The physical walk forward of a plain fixed-length or variable-length
// data file from *pos (a record boundary) to the next live record at or
// beyond it: deleted records, free areas and resources are passed over.
// 0 with *pos at the record; 27 or 30 past the end (30 beyond the last
// byte used); 158 an area with a bad mark; or a read error.
int next_live_record(FCB *d, uint64_t *pos);

// ---- Key steps and their undo (isam_write.cpp) -----------------------------------

// One call's undo record: every step that changed a file is entered, and
// the destructor reverses them, last first, unless the call committed. A
// step that may have taken effect although it failed is entered as
// uncertain: its undo first looks whether it did.
// Keeps the instance's update bits for the length of a call.
class UpdateBits {
public:
    explicit UpdateBits(uint32_t bits) : g_(zvWNGV), old_(g_->opword) { g_->opword |= bits; }
    ~UpdateBits() { g_->opword = old_; }
    UpdateBits(const UpdateBits &) = delete;
    UpdateBits &operator=(const UpdateBits &) = delete;

private:
    INSTGV *g_;
    uint32_t old_;
};

class UndoGuard {
public:
    // Starts the call's record of steps, and its watch for node write-backs
    // that fail while the call runs (see write_failed).
    explicit UndoGuard(int datno) : datno_(datno) { idx_state(zvWNGV).wbfailed = 0; }
    ~UndoGuard() {
        if (!committed_) rollback();
    }
    UndoGuard(const UndoGuard &) = delete;
    UndoGuard &operator=(const UndoGuard &) = delete;

    // A key entered at (hi, lo); its undo deletes it.
    void key_added(int ixno, const unsigned char *key, uint64_t pos, bool certain = true);
    // A key deleted at pos; its undo enters it again (mode 64 moves an equal
    // key of a unique index back).
    void key_deleted(int ixno, const unsigned char *key, uint64_t pos, int mode, bool certain = true);
    // A unique key moved from `from` to another position; its undo moves it
    // back.
    void key_moved(int ixno, const unsigned char *key, uint64_t from);
    // Record space taken for a new record; its undo returns it.
    void space_taken(uint64_t pos, bool variable);
    // Bytes of the data file overwritten at pos: their old image (raw, as
    // stored) is written back. The image must outlive the guard.
    void bytes_changed(uint64_t pos, const unsigned char *old, int32_t len);
    // The last byte used of the data file before it grew.
    void last_used_changed(uint64_t old);
    // A free neighbour area joined: its header and its space-index entry
    // come back.
    void neighbour_joined(uint64_t pos, uint32_t arealen);

    // The code of a node write-back that failed since the call began and
    // that the node cache passed by (the node stays cached and updated): the
    // call then undoes its steps and reports it, so it never succeeds over a
    // write that did not happen. 0 when none failed.
    int write_failed() const { return idx_state(zvWNGV).wbfailed; }
    void commit() { committed_ = true; }
    // Reverses every step now: 0, or 105 when a step could not be undone.
    int rollback();

private:
    enum class Kind : uint8_t { KeyAdded, KeyDeleted, KeyMoved, Space, Bytes, LastUsed, Neighbour };
    struct Step {
        Kind kind;
        bool certain;
        bool variable;
        int16_t mode;
        int32_t filno;
        int32_t len;
        uint64_t pos;
        const unsigned char *data;
    };
    static constexpr int kMaxSteps = 160;
    void push(const Step &s);
    int undo(const Step &s);

    int datno_;
    int n_ = 0;
    bool committed_ = false;
    bool overflow_ = false;
    Step steps_[kMaxSteps];
};

// Takes the writer's lock of every file of a data file's set (the data file
// and its open indexes) before an update's first change, so that a refusal
// writes nothing: 0, or 12 (the lock's errno in sysiocod) ended as the
// ISAM error of the file that another open holds.
int claim_set(int datno);
// Forms the key of every index of the data file from a new record into the
// alternate images and enters them at pos. 0 or the ISAM error (with its
// file); the entered keys are in the guard.
int addikey81(int datno, UndoGuard &u, const void *rec, uint64_t pos, int32_t len);
// Replaces the keys of the current record by those of a new image: at the
// same position only the changed keys move; at another position every key
// is moved there. The new images end up in the alternate buffers. 0 or
// the ISAM error (with its file).
int rwtikey81(int datno, UndoGuard &u, const void *rec, uint64_t newpos, uint64_t oldpos, int32_t len);
// Deletes every current key image of the record at pos. 0 or the ISAM error.
int delikey81(int datno, UndoGuard &u, uint64_t pos);
// Writes the serial number just drawn into the record's serial segment.
void setsrlpos(FCB *d, void *rec);
// Whether a data file is a member whose host assigns the serial numbers
// (the member's own draw is then not written into the record).
bool host_serial(const FCB *d);
// Reads `len` raw bytes of a file at pos (no conversion, no filter): 0 or
// the error.
int raw_read(FCB *f, uint64_t pos, void *buf, int32_t len);
int raw_write(FCB *f, uint64_t pos, const void *buf, int32_t len);

// A buffer on the stack for small images and from the pool for large ones.
class ScratchBuffer {
public:
    ScratchBuffer() = default;
    ~ScratchBuffer();
    ScratchBuffer(const ScratchBuffer &) = delete;
    ScratchBuffer &operator=(const ScratchBuffer &) = delete;
    // n bytes; null when memory runs out.
    unsigned char *take(int32_t n);

private:
    static constexpr int32_t kLocal = 4096;
    unsigned char local_[kLocal];
    unsigned char *heap_ = nullptr;
};

// Ends a failed call: the guard's steps are reversed; the code (105 when an
// undo step failed) is the ISAM error with its file.
int fail(UndoGuard &u, int code, int filno);
// Ends a write call whose record now stands at (hi, lo): a node write-back
// that failed meanwhile fails the call; otherwise the call commits, the
// record becomes current, the file is forced to disk when it asks for it
// and the record is locked when the lock mode has `lockbit`.
int commit_write(UndoGuard &u, FCB *d, int datno, uint32_t hi, uint32_t lo, const void *rec, int32_t len,
                 uint32_t lockbit);

}  // namespace zv
