// Holds: exclusive locks that one engine call (or, through zvHoldOpenFile
// and zvHoldFileName, a caller above the engine) keeps on files across its
// own opens, closes and renames of them (see filehold.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct INSTGV;

namespace zv {

// A held file, by device and inode.
struct HoldRef {
    INSTGV *g = nullptr;  // the instance that holds it
    uint64_t dev = 0, ino = 0;
};

// Takes a hold of the file `name` (the name as the engine opens it: no
// conversion is applied): opened read-write, a regular file only, with an
// exclusive lock of its description. A file the instance holds already gets
// one more reference. 0 and *out; 12 with sysiocod the lock's errno when
// another open (another process, another instance, another description of
// this process) has the file; 12 with sysiocod the open's errno (ENOENT
// when it is missing, EINVAL when it is not a regular file); 82 no memory.
int hold_file(const char *name, HoldRef *out);
// As hold_file, but a missing file is not held: 1 with the codes as they
// were, so that the caller's own open reports it (or makes the file). A
// file that is there and does not open read-write as a regular file (the
// caller may not write it, say) answers 12 with the open's errno, as
// hold_file does: a call that must hold it does not run without the hold.
// Under FoundNames (fileio.h) both open the name without following a
// symbolic link (a link refused: 12, sysiocod ELOOP).
int hold_file_if_there(const char *name, HoldRef *out);
// Takes a hold of the file of an open descriptor of the instance's own (an
// engine open): its description is kept by a second descriptor and its lock
// made exclusive, so that closing the engine's descriptor keeps the hold.
// Codes as hold_file.
int hold_descriptor(int fd, HoldRef *out);
// Gives one reference of a hold back (to the instance that took it, current
// or not); the last one releases the lock. The instance's own opens of the
// file then take the locks their opens ask for: a description the hold took
// over goes back to its open's lock in one step, another one is locked anew
// (refused: the block is outdated and changes nothing more).
void release_hold(const HoldRef &ref);
// Whether the file of descriptor fd is held by the current instance. The
// description locks the engine asks for on such a descriptor are granted
// without touching the hold (zvfpglok81).
bool fd_held(int fd);
// Whether the file `name` is held by the current instance (false when it
// cannot be looked at).
bool name_held(const char *name);
// Releases every hold of the current instance (its stop).
void release_all_holds();
// Runs in a forked child, with one thread (the fork handler of
// filenum.cpp): every instance of the process gives up its holds in the
// child. The child's copies of the holds' descriptors are closed (the
// parent's keep the locks) and the instances' opens of held files are
// outdated; nothing of the parent changes. The child's later lock requests
// on those files then meet the parent's holds like any other open's.
void drop_holds_in_child();

// The holds one call takes, released together when it ends.
class HeldFiles {
public:
    HeldFiles() = default;
    ~HeldFiles() { release(); }
    HeldFiles(const HeldFiles &) = delete;
    HeldFiles &operator=(const HeldFiles &) = delete;
    // hold_file (hold_file_if_there with if_there: a missing file is left
    // to the caller's open, 0) / hold_descriptor, kept until release.
    int take(const char *name, bool if_there = false);
    int take_fd(int fd);
    void release();
    size_t size() const { return refs_.size(); }

private:
    // Keeps r among the holds; on no memory r is released: 82.
    int keep(const HoldRef &r);
    std::vector<HoldRef> refs_;
};

}  // namespace zv
