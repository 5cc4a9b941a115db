// Making files under temporary names: a session dictionary, a database
// dictionary or a table is made whole under names of its own ("~zvnew"
// before the extension of each name's last part) and only then takes its
// names, each by a link (a directory by a rename) that never replaces a
// file another process made meanwhile. A kill at any moment of the make
// leaves the names absent, or (once the last of them is in place) the
// thing whole under them.
//
// What a kill leaves under the temporary names is taken away by the next
// make of the same names: a file under a temporary name that no open holds
// is a make that did not finish (a make at work holds its files open, or,
// while it moves them into place, the data file under a lock of its own),
// and a final name that is a second link of such a file is one of its
// moves. Nothing else found on disk is trusted: a name is dropped only when
// it is a temporary name, or when it is the same file (device and inode) as
// one. Names under temporary names are opened without following a symbolic
// link, without blocking and only as regular files; a link, a FIFO or any
// other thing that is no file there (or a directory that is not empty) is
// left as it is, and the status log names it.
//
// Names here are file names as the engine sees them: the session's path
// prefix applied by the caller.
#pragma once

#include <string>

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
// that meets a lock of the engine's opens or of a move (hold). A name that
// is no regular file (a link, a FIFO, a directory) is held by no open.
bool held(const std::string &name);

// A lock of a make on its file while it moves it into place, so that the
// next make does not take it for a leftover: taken by hold (0, or the
// system error; a name that is no regular file is refused, ELOOP or
// EINVAL, and logged), released by the destructor.
class Hold {
public:
    Hold() = default;
    Hold(const Hold &) = delete;
    Hold &operator=(const Hold &) = delete;
    ~Hold();
    int hold(const std::string &name);

private:
    int fd_ = -1;
};

// Removes a leftover file of a make under a temporary name: 0 when it is
// gone (or was not there), 12 when an open holds it (a make at work), 55
// when it cannot be removed, or when the name holds a link, something else
// that is no file, or a directory that is not empty, or lies below a
// temporary name that is a link: that is left as it is and the status log
// names it.
int drop_leftover(const std::string &temp);
// Puts a whole file (or directory) under its final name without replacing
// anything: a link, the temporary name kept; a directory by a rename after
// the final name was found free. 0, 19 when the final name is taken, or the
// engine's code of the link or rename (its system error kept).
int link_in(const std::string &temp, const std::string &final_name);

}  // namespace zv::making
