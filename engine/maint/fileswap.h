// New files put in the place of a set's originals by one sequence of
// renames (see fileswap.cpp), and the file-name helpers it shares with the
// compaction: temporary names beside a file, the physical files (segments)
// of a file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zv {

using FileName = std::array<char, 256>;

// A temporary name in the directory of `path` (the current directory for a
// bare name): 0 or the error of iTMPNAME (out is then empty).
int temp_beside(const char *path, char (&out)[256]);
// Name of physical file i of `name` (0: the file, else its segment i): 0 or
// an error.
int physical_name(const char *name, uint32_t i, char (&out)[256]);
// Deletes the physical files of a closed file, segments first, and any
// segment file past them that a failed write may have begun.
void drop_physical(const char *name, uint32_t files);

// The swap: each original is first parked under a temporary name beside
// it, then the new file takes its name. The moves are queued (park, place),
// carried out in order (move), and either undone in reverse order (undo: the
// new file moved away before its original comes back, so that no rename
// ever goes over an existing file) or committed (the parked originals
// deleted). Status-log lines begin with the label ("Compact", ...).
class FileSwap {
public:
    explicit FileSwap(const char *label) : label_(label) {}
    // Queues the parking of the original `own` (with `files` physical
    // files): 0 or the error of the temporary name.
    int park(const char *own, uint32_t files, bool datafile);
    // Queues the move of the new file `tmp` to `own`.
    void place(const char *tmp, const char *own, uint32_t files, bool datafile);
    size_t size() const { return moves_.size(); }
    // Carries out move i: 0, or the rename's error with every file of that
    // move under its old name again.
    int move(size_t i);
    // Carries out every queued move in order: 0 or the first error.
    int run();
    // Undoes the moves carried out, last first.
    void undo();
    // Deletes the parked originals (a file that stays is logged) and
    // forgets the moves.
    void commit();

private:
    struct Move {
        FileName from{}, to{};
        uint32_t files = 1;     // the file and its segments 1 .. files - 1
        bool open = false;      // renamed open (zvRENFIL): a segmented new file, whose segment headers follow
        bool original = false;  // an original parked
        bool datafile = false;
        bool done = false;
    };
    int do_move(const Move &m) const;
    int undo_move(const Move &m) const;
    void log(const char *what, int code) const;

    const char *label_;
    std::vector<Move> moves_;
};

}  // namespace zv
