// Making files under temporary names (see making.h).
#include "recapi/base/making.h"

#include <cerrno>

#include "engine/core/platform.h"

namespace zv::making {

namespace {

// Engine codes: a file that exists, one that cannot be deleted, a rename
// or link that failed.
constexpr int kExists = 19;
constexpr int kHeld = 12;
constexpr int kNotDeleted = 55;
constexpr int kNotMoved = 67;

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
    const int fd = plat_open(name.c_str(), OpenHow::ReadOnly, 0);
    if (fd < 0) return false;
    int holder = 0;
    // Every open of the engine holds a lock of its descriptor on the whole
    // file, shared or exclusive: an exclusive one would meet either.
    const int rc = plat_lock(fd, LockCmd::Test, LockType::Exclusive, 0, 0, &holder, true);
    plat_close(fd);
    return rc == 0 && holder != 0;
}

Hold::~Hold() {
    if (fd_ >= 0) plat_close(fd_);
}

int Hold::hold(const std::string &name) {
    if (fd_ >= 0) plat_close(fd_);
    fd_ = plat_open(name.c_str(), OpenHow::ReadWrite, 0);
    if (fd_ < 0) return errno;
    if (plat_lock(fd_, LockCmd::Try, LockType::Exclusive, 0, 0, nullptr, true) != 0) {
        const int err = errno;
        plat_close(fd_);
        fd_ = -1;
        return err;
    }
    return 0;
}

int drop_leftover(const std::string &temp) {
    PlatStat st;
    if (plat_lstat(temp.c_str(), &st) != 0) return 0;
    if (held(temp)) return kHeld;
    if (st.is_dir && !st.is_link) return plat_rmdir(temp.c_str()) == 0 ? 0 : kNotDeleted;
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
