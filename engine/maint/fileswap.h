// New files put in the place of a set's originals by one sequence of
// renames (see fileswap.cpp), and the file-name helpers it shares with the
// compaction: temporary names beside a file, the physical files (segments)
// of a file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/files/swapnote.h"

namespace zv {

class HeldFiles;

using FileName = std::array<char, 256>;

// A temporary name in the directory of `path` (the current directory for a
// bare name): 0 or the error of iTMPNAME (out is then empty).
int temp_beside(const char *path, char (&out)[256]);
// Deletes the physical files of a closed file, segments first, and any
// segment file past them that a failed write may have begun.
void drop_physical(const char *name, uint32_t files);

// The swap: each original keeps a second name beside it (a segmented one
// is parked under it), then the new file takes the original's name in one
// rename. The moves are queued (park, place), the new files marked as not
// closed cleanly (mark), the moves carried out in order (move), and either
// undone in reverse order (undo: each kept original renamed back over its
// new file) or committed (the marks cleared, then the kept originals
// deleted). A kill at any point leaves under each name the original or its
// new file, and the set answering 14 while the two are mixed. Status-log
// lines begin with the label ("Compact", ...).
class FileSwap {
public:
    explicit FileSwap(const char *label) : label_(label) {}
    // Queues the parking of the original `own` (with `files` physical
    // files): 0 or the error of the temporary name.
    int park(const char *own, uint32_t files, bool datafile);
    // Queues the move of the new file `tmp` to `own`.
    void place(const char *tmp, const char *own, uint32_t files, bool datafile);
    // Queues the deletion, once every move is done, of an old file that
    // no new file replaces.
    void extra(const char *own);
    // Has the swap's note list every move (and every old file deleted),
    // written before the first move under the data file `datafile`: a
    // process ended after the first move leaves the swap to be finished
    // from it, and ended before it, to be voided (swapnote.h). An undo
    // keeps the note; drop_note lets it go, then clears the marks of the
    // new files the undo put back.
    void list(const char *datafile);
    void drop_note();
    size_t size() const { return moves_.size(); }
    // Holds every queued file under the name it has now (an original, a new
    // file) in `held`, to be taken before the first rename and kept until
    // the call is done with the set: 0, or 12 (another open has one) or 82.
    // made_up: the new files are under names the engine made up (a
    // rebuild's, a compaction's), held by that rule (FoundNames): a link or
    // anything but a regular file there is refused (12).
    int hold(HeldFiles &held, bool made_up = false) const;
    // Marks every queued new file (under its temporary name) as not closed
    // cleanly, and writes the swap's note: 0 or the first error (nothing
    // renamed yet). Once is enough: run marks only a swap not marked yet.
    int mark();
    // Writes the marks of the new files not moved yet once more (a file
    // opened and closed since may have lost its mark): 0 or the error.
    int remark();
    // Carries out move i: 0, or the rename's error with every file of that
    // move under its old name again.
    int move(size_t i);
    // Marks the new files, then carries out every queued move in order: 0
    // or the first error.
    int run();
    // Undoes the moves carried out, last first (each new file under its
    // own name again, its mark cleared once the note is gone: a listed
    // swap's by drop_note); the error codes stay.
    void undo();
    // Clears the marks of the new files under their own names (0 or the
    // first error, the moves kept for an undo), then deletes the kept
    // originals (a file that stays is logged) and forgets the moves.
    int commit();

private:
    struct Move {
        FileName from{}, to{};
        uint32_t files = 1;     // the file and its segments 1 .. files - 1
        bool open = false;      // renamed open (zvRENFIL): a segmented new file, whose segment headers follow
        bool original = false;  // an original kept (a plain file: linked) or parked (segmented: renamed)
        bool datafile = false;
        bool linked = false;    // the original kept under a second name (a hard link)
        bool marked = false;    // a new file marked as not closed cleanly
        bool done = false;
    };
    int do_move(Move &m);
    // The files of m renamed (with their segments, or open for a
    // segmented new file): 0 or the error with every one back.
    int rename_files(const Move &m) const;
    int undo_move(Move &m);
    // The kept second name of the original that new file m replaced, while
    // it is there; null when m had no plain original.
    Move *kept_original(const Move &m);
    void log(const char *what, int code) const;
    // Clears the marks of the new files back under their own names.
    void unmark_undone();

    const char *label_;
    std::vector<Move> moves_;
    std::vector<FileName> extras_;
    FileName listed_{};  // the data file of a listed swap; empty: none
    bool marked_ = false;
    SwapNote note_;  // the note of a data file parked by renames
};

}  // namespace zv
