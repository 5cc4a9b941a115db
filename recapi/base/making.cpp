// Making files under temporary names (see making.h).
#include "recapi/base/making.h"

#include <algorithm>
#include <cerrno>
#include <thread>

#include "engine/core/platform.h"
#include "zarvo/zarvo.h"

namespace zv::making {

namespace {

// Engine codes: a file that exists, one that cannot be deleted, a rename
// or link that failed.
constexpr int kExists = 19;
constexpr int kHeld = 12;
constexpr int kNotDeleted = 55;
constexpr int kNotMoved = 67;

constexpr const char *kLeftAlone =
    "Make: a name a make uses is left as it is, it is a link, no file or a directory that is not empty:";

// Whether an open's error says that the name holds no regular file (a link,
// a FIFO, a device, a directory).
bool no_file(int err) { return err == ELOOP || err == EINVAL || err == EISDIR || err == ENXIO; }

// Logs why a name is left as it is, and the name.
void log_left(const std::string &name, int err) {
    zvStatusLogWrite(kLeftAlone, err);
    zvStatusLogWrite(name.c_str(), 0);
}

// Whether a lock of an open, in this process or another, lies on the file
// of descriptor fd.
bool locked(int fd) {
    int holder = 0;
    // Every open of the engine holds a lock of its descriptor on the whole
    // file, shared or exclusive: an exclusive one would meet either.
    const int rc = plat_lock(fd, LockCmd::Test, LockType::Exclusive, 0, 0, &holder, true);
    return rc == 0 && holder != 0;
}

// Whether the name lies in a directory of a make's own (a temporary name)
// that is a symbolic link: what is below it is not the make's.
bool below_link(const std::string &name) {
    const size_t slash = name.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return false;
    const std::string dir = name.substr(0, slash);
    const size_t part = dir.find_last_of('/');
    if (dir.find(kMarker, part == std::string::npos ? 0 : part + 1) == std::string::npos) return false;
    PlatStat st;
    return plat_lstat(dir.c_str(), &st) == 0 && st.is_link;
}

}  // namespace

std::string temp_name(const std::string &final_name) {
    const size_t part = final_name.find_last_of("/!");
    const size_t from = part == std::string::npos ? 0 : part + 1;
    const size_t dot = final_name.rfind('.');
    if (dot == std::string::npos || dot < from || dot == from) return final_name + kMarker;
    return final_name.substr(0, dot) + kMarker + final_name.substr(dot);
}

bool exists(const std::string &name) {
    PlatStat st;
    return plat_lstat(name.c_str(), &st) == 0;
}

bool same_file(const std::string &a, const std::string &b) {
    PlatStat x, y;
    return plat_lstat(a.c_str(), &x) == 0 && plat_lstat(b.c_str(), &y) == 0 && !x.is_link && !y.is_link &&
           x.dev == y.dev && x.ino == y.ino;
}

bool held(const std::string &name) {
    const int fd = plat_open(name.c_str(), OpenHow::FoundRead, 0);
    if (fd < 0) return false;
    const bool is = locked(fd);
    plat_close(fd);
    return is;
}

int wait_while_held(const std::string &name, Deadline until) {
    constexpr int kLongestPauseMs = 20;
    for (int pause = 1; held(name); pause = std::min(2 * pause, kLongestPauseMs)) {
        if (std::chrono::steady_clock::now() >= until) {
            // The refusal of a hold of its own gives the answer the lock's
            // system error.
            ZVFILEHOLD h;
            const int rc = zvHoldFileName(name.c_str(), &h);
            if (rc == 0) zvReleaseFileHold(&h);
            const int err = zvGetSystemErrorCode();
            return rc == kHeld && (err == EAGAIN || err == EACCES) ? kHeld : 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
    }
    return 0;
}

bool Made::is(const File &f, const std::string &name) {
    PlatStat st;
    return plat_lstat(name.c_str(), &st) == 0 && !st.is_link && st.dev == f.hold.dev && st.ino == f.hold.ino;
}

int Made::hold(int filno, const std::string &temp, const std::string &final_name) {
    ZVFILEHOLD h;
    if (int rc = zvHoldOpenFile(filno, &h)) return rc;
    try {
        files_.push_back(File{temp, final_name, h, true, {}});
    } catch (...) {
        zvReleaseFileHold(&h);
        return 82;
    }
    return 0;
}

bool Made::has(const std::string &name) const {
    for (const File &f : files_) {
        if (!f.undo && is(f, name)) return true;
    }
    return false;
}

bool Made::own(size_t from) const {
    for (size_t i = from; i < files_.size(); i++) {
        if (!files_[i].undo && !is(files_[i], files_[i].temp)) return false;
    }
    return true;
}

void Made::release(File &f) {
    if (f.held) zvReleaseFileHold(&f.hold);
    f.held = false;
}

void Made::release() {
    for (size_t i = files_.size(); i-- > 0;) release(files_[i]);
}

void Made::finish(size_t from, bool release) {
    if (release) {
        for (size_t i = files_.size(); i-- > from;) this->release(files_[i]);
    }
    // The first entry's temporary name last: while it is there, the make is
    // found again.
    for (size_t i = files_.size(); i-- > from;) {
        const File &f = files_[i];
        if (!f.undo && is(f, f.final_name) && is(f, f.temp)) plat_unlink(f.temp.c_str());
    }
}

void Made::undo(std::function<void()> take_back) {
    try {
        files_.push_back(File{"", "", ZVFILEHOLD{0, 0}, false, std::move(take_back)});
    } catch (...) {
        // Without memory the set stays under its names if its entry is
        // refused: what a kill after the make leaves, which the next make
        // finds made.
    }
}

void Made::take_back(size_t from) {
    if (from >= files_.size()) return;
    // A set made in a file of the make's own goes with that file; one
    // made elsewhere goes by its own take-back.
    size_t first = from;
    while (first < files_.size() && files_[first].undo) first++;
    for (size_t i = files_.size(); i-- > from;) {
        if (files_[i].undo && i < first) files_[i].undo();
    }
    auto drop = [&](const File &f, const std::string &name) {
        if (!f.undo && is(f, name)) plat_unlink(name.c_str());
    };
    if (first < files_.size()) {
        drop(files_[first], files_[first].final_name);
        for (size_t i = first + 1; i < files_.size(); i++) drop(files_[i], files_[i].final_name);
        for (size_t i = first + 1; i < files_.size(); i++) drop(files_[i], files_[i].temp);
        drop(files_[first], files_[first].temp);
    }
    for (size_t i = files_.size(); i-- > from;) release(files_[i]);
    files_.resize(from);
}

int drop_leftover(const std::string &temp) {
    PlatStat st;
    if (below_link(temp)) {
        log_left(temp, ELOOP);
        return kNotDeleted;
    }
    if (plat_lstat(temp.c_str(), &st) != 0) return 0;
    if (st.is_dir) {
        // A directory a make of a dictionary made, once its files went: an
        // empty one goes, anything in it stays.
        if (plat_rmdir(temp.c_str()) == 0 || errno == ENOENT) return 0;
        log_left(temp, errno);
        return kNotDeleted;
    }
    if (!st.is_regular) {
        log_left(temp, st.is_link ? ELOOP : EINVAL);
        return kNotDeleted;
    }
    const int fd = plat_open(temp.c_str(), OpenHow::FoundRead, 0);
    if (fd < 0 && no_file(errno)) {
        // Put there since the look above.
        log_left(temp, errno);
        return kNotDeleted;
    }
    if (fd >= 0) {
        const bool is = locked(fd);
        plat_close(fd);
        if (is) return kHeld;
    }
    return plat_unlink(temp.c_str()) == 0 || errno == ENOENT ? 0 : kNotDeleted;
}

int link_in(const std::string &temp, const std::string &final_name) {
    PlatStat st;
    if (plat_lstat(temp.c_str(), &st) != 0) return kNotMoved;
    if (!st.is_dir) {
        if (plat_link(temp.c_str(), final_name.c_str()) == 0) return 0;
        return errno == EEXIST ? kExists : kNotMoved;
    }
    // A directory cannot take a second name: it is renamed once its final
    // name was found free (a rename would replace an empty directory made
    // in between, which holds nothing).
    if (exists(final_name)) return kExists;
    if (plat_rename(temp.c_str(), final_name.c_str()) == 0) return 0;
    return errno == EEXIST || errno == ENOTEMPTY ? kExists : kNotMoved;
}

}  // namespace zv::making
