// Making files under temporary names: a session dictionary, a database
// dictionary or a table is made whole under names of its own ("~zvnew"
// before the extension of each name's last part) and only then takes its
// names, each by a link (a directory by a rename) that never replaces a
// file another process made meanwhile. A kill at any moment of the make
// leaves the names absent, or (once the last of them is in place) the
// thing whole under them.
//
// A make holds each file it makes (the engine's hold, zvHoldOpenFile) from
// its creation to the make's end, through the file's close and its links,
// and keeps the temporary name beside the final one as a second link until
// then (Made). So a file under a temporary name that no open holds is a
// make that did not finish, and its next make takes it away: the temporary
// files, and a final name that is a second link of one. A make that finds
// the files of another make held waits for that make's end (kWait), and
// then finds the thing made, or the way free. Nothing else found on disk
// is trusted: a name is dropped only when it is a temporary name, or when
// it is the same file (device and inode) as one.
// Names under temporary names are opened without following a symbolic
// link, without blocking and only as regular files; a link, a FIFO or any
// other thing that is no file there (or a directory that is not empty) is
// left as it is, and the status log names it.
//
// Names here are file names as the engine sees them: the session's path
// prefix applied by the caller.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "zarvo/zarvo.h"

namespace zv::making {

// The separator-free marker of a temporary name.
constexpr char kMarker[] = "~zvnew";

// The temporary name of a final name: the marker before the extension of
// its last part (after the last '/', or '!' of a superfile member), or at
// its end when that part has no extension.
std::string temp_name(const std::string &final_name);
// Whether a file or directory of that name exists.
bool exists(const std::string &name);
// Whether both names are one file (the same device and inode).
bool same_file(const std::string &a, const std::string &b);
// Whether an open, in this process or another, holds the file: a lock test
// that meets a lock of the engine's opens or of a make's hold. A name that
// is no regular file (a link, a FIFO, a directory) is held by no open.
bool held(const std::string &name);

// How long a make waits for another process's make of the same names to
// end (a make takes milliseconds; the logons wait as long for a repair).
constexpr auto kWait = std::chrono::seconds(10);
using Deadline = std::chrono::steady_clock::time_point;
inline Deadline deadline() { return std::chrono::steady_clock::now() + kWait; }

// Waits while an open holds the file `name` (the file of a make at work):
// 0 once none does (or the name is gone), 12 past `until` with the refused
// lock's system error (zvGetSystemErrorCode).
int wait_while_held(const std::string &name, Deadline until);

// The files (or superfile hosts) one make made, each held by the engine
// from its creation to the make's end and known by its temporary name and
// its final name; entry order is the make's own (a table's data file first,
// then its index files). The destructor gives every hold back.
class Made {
public:
    Made() = default;
    Made(const Made &) = delete;
    Made &operator=(const Made &) = delete;
    ~Made() { release(); }
    // Holds the file of the open file number filno, made under `temp` to
    // take `final_name`: 0, or the engine's code (nothing added).
    int hold(int filno, const std::string &temp, const std::string &final_name);
    // Whether every temporary name from entry `from` on is the held file:
    // false when a name lost its file before the hold (another make took it
    // for a leftover), which the make then gives up.
    bool own(size_t from = 0) const;
    // Adds the take-back of a set the make put in place in a file it did
    // not make (members of a superfile host that exists): run by
    // take_back, unless a file the make made and holds comes before it
    // (the set goes with that file).
    void undo(std::function<void()> take_back);
    // Whether the file under `name` is one of the make's.
    bool has(const std::string &name) const;
    size_t size() const { return files_.size(); }
    const std::string &temp(size_t i) const { return files_[i].temp; }
    const std::string &final_name(size_t i) const { return files_[i].final_name; }
    // The make went through: the holds from entry `from` on are given back
    // (with `release`), then the temporary names that are still second links
    // of those files go.
    void finish(size_t from = 0, bool release = true);
    // The make failed: the sets' take-backs (undo) that no file of the
    // make comes before run, last added first; then its files from entry
    // `from` on lose every name that is still theirs, the first file's
    // final name first, then the other final names, the other temporary
    // names, and the first file's temporary name last, each while held;
    // then the holds go. Every step leaves what a kill of the make can
    // leave: no final name of the first file, or every final name a second
    // link of a temporary one. The entries go.
    void take_back(size_t from = 0);
    // Gives every hold back.
    void release();

private:
    struct File {
        std::string temp, final_name;
        ZVFILEHOLD hold;
        bool held;
        std::function<void()> undo;  // a set's take-back (no file, no hold)
    };
    // Whether `name` is the file of f (its device and inode).
    static bool is(const File &f, const std::string &name);
    void release(File &f);
    std::vector<File> files_;
};

// Removes a leftover file of a make under a temporary name: 0 when it is
// gone (or was not there), 12 when an open holds it (a make at work; the
// caller waits for it), 55 when it cannot be removed.
int drop_leftover(const std::string &temp);
// Puts a whole file (or directory) under its final name without replacing
// anything: a link, the temporary name kept; a directory by a rename after
// the final name was found free. 0, 19 when the final name is taken, or the
// engine's code of the link or rename (its system error kept).
int link_in(const std::string &temp, const std::string &final_name);

}  // namespace zv::making
