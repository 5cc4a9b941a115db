// The note of a swap whose data file moves as several physical files (a
// file with automatic segments): while its original is parked and its new
// file renamed in, one file at a time, the data file's name is missing or
// its segments are mixed. The note, "<data file>.swap" beside it, says
// which files move where, so that an open that finds the data file so
// (missing: 12; segments missing or of another file: 676, 681; not closed
// cleanly: 14) finishes the swap first and opens the new file, which the
// swap marked as not closed cleanly (the set then answers 14 until it is
// rebuilt).
//
// Invariants:
//  1. The note is whole in the file before the first rename of the swap,
//     and goes only after the last file of the swap has its place (or every
//     file is back, after an undo).
//  2. The swapping process holds a lock on the note while it runs: an open
//     in another process that finds the lock leaves the files alone.
//  3. Finishing is a sequence of single-file renames, each done only while
//     its source is there: a kill inside it leaves a note that finishes the
//     rest. The park (original to its parked name) is finished only while
//     every file of the new file still has its temporary name; once one has
//     moved, the park was complete.
//  4. A note whose swap renamed nothing (no file of the original parked, no
//     file of the new one placed) is void: the original kept its name and
//     may have been written since. The open drops it and answers as it
//     found the file. So does an open of a segmented data file that opens
//     whole while no file of the new one has moved (the original, perhaps
//     with a parked second name beside it).
//  5. A note is acted on only by an open that holds exclusively the file it
//     stands beside (a member's: its host), taken before the note is read,
//     and every file the note renames, deletes or writes; never by an open
//     refused by another's lock. The note must be of the kind of that file
//     (the single note beside a data file with automatic segments, the
//     listed note beside a partitioned host's data file, the members' note
//     beside a superfile member) and name only the set's own files: those
//     the set names itself (its stored definitions, its member table), kept
//     names of the form the swap draws, segment files by their rule, and as
//     new files only engine files of the kind they replace that carry the
//     swap's mark (and the id the note keeps of them). A listed note's set
//     is read from its files under their own names and the originals'
//     kept names, never from a new file the note names (whoever planted
//     one could have it name any file); where no file is, a name the host's
//     naming rule gives a member is the set's too. Each name is reached
//     from the note's directory one component at a time, no symbolic link
//     followed. Any other note is refused whole, logged, nothing moved.
//
// A note may instead list every file of a swap (a partitioned set: the
// host's files and every member's, in the data file's directory or below
// it), each new file renamed over its original, whose second name (a hard
// link) is kept until the end. The host's data file moves first. Once one
// file has moved, finishing renames every other new file over its
// original, clears the marks the swap set (the new set was whole and
// closed cleanly before the swap), and deletes the kept originals and the
// old files the new set has no place for. Before the first move the note
// is void: its new files, which already carry the stored names of the
// originals, are deleted with it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zv {

// Room for a note's name: a file name of 255 bytes, ".swap" and the
// ".new" of the note's working name.
constexpr size_t kSwapNoteName = 272;

// A swap's note, held locked while the swap runs.
class SwapNote {
public:
    SwapNote() = default;
    SwapNote(const SwapNote &) = delete;
    SwapNote &operator=(const SwapNote &) = delete;
    ~SwapNote() { drop(); }
    // Writes the note of the data file `own` (with `oldfiles` physical
    // files) parked under `parked` while `fresh` (with `newfiles`, marked
    // by now) takes its place, and locks it: 0 or the error (no note left;
    // 454 the three are not base names of one directory free of symbolic
    // links, which a note could not name).
    int write(const char *own, uint32_t oldfiles, const char *parked, const char *fresh, uint32_t newfiles);
    // One file of a listed swap: the original's name, its kept second
    // name (empty: no original) and the new file's temporary name (empty:
    // an old file deleted once the swap is done).
    struct Entry {
        std::string own, parked, fresh;
    };
    // Writes the note of the listed swap of the data file `datafile`
    // (entries[0] is its own file; the new files marked by now) and locks
    // it: 0 or the error (454 a name not below the data file's directory,
    // or reached through a symbolic link).
    int write_list(const char *datafile, const std::vector<Entry> &entries);
    // Deletes the note and lets its lock go.
    void drop();
    bool held() const { return fd_ >= 0; }

private:
    int put(const std::string &body);
    int fd_ = -1;
    char name_[kSwapNoteName] = {};
};

// A listed swap of superfile members: every name is "host!member" of one
// host, and a member is renamed within its host, never over another, so
// each original is renamed to its kept name before its new member takes
// the name. The host is not closed cleanly after a kill in it: once its
// superfile rebuild has run, the open of the table's data member finishes
// the swap (or voids it) from its note ("host!member.swap" beside the
// host), as above; the index members the rebuild emptied answer 14 until
// the set is rebuilt.
//
// Carries the swap forward from where it stands (the entries hold whole
// names): each original that has not been moved to its kept name is, then
// each new member still under its temporary name takes the original's. 0
// or the first error.
int member_swap_advance(const std::vector<SwapNote::Entry> &entries);
// Takes the moves back, last first: each new member under its temporary
// name again, each original under its own; the error codes stay.
void member_swap_undo(const std::vector<SwapNote::Entry> &entries);
// Deletes the kept originals, and the entries' members without a new one.
void member_swap_drop_kept(const std::vector<SwapNote::Entry> &entries);

// Whether rel is a path below a directory (no leading '/', no empty, "."
// or ".." part).
bool path_below(const std::string &rel);
// The path of `name` below the directory `dir` (a data file's directory
// part, with its '/'; "" or "./" the working directory) into *rel: false
// when it lies elsewhere. A listed note holds such paths.
bool name_below(const std::string &dir, const std::string &name, std::string *rel);
// Whether the path rel below the directory `dir` passes through no
// symbolic link: no directory on the way, nor the name itself when it is
// there, is one. False too when it cannot be told. A note's names must
// (the path to `dir` itself may hold links).
bool below_without_links(const std::string &dir, const std::string &rel);

// Finishes the swap that the note of the data file `name` describes, when
// there is a note, no live process holds it and this open may act on it
// (invariant 5): true when the swap was finished (the open may be tried
// again), false otherwise (the error codes kept). With `filno` the data
// file has just opened whole under that number (exclusively, or nothing is
// done): a note whose new file has not begun to move is void, the original
// in use again.
bool swapnote_finish(const char *name, int filno = -1);

}  // namespace zv
