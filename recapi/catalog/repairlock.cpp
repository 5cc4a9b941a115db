// The repair lock of a dictionary (see repairlock.h).
//
// "<host>.repair" is a name the record layer makes up beside the host: it is
// opened as such names are (no symbolic link followed, never blocking, a
// regular file only, close-on-exec) and must hold 0 or 8 bytes. Anything
// else under the name is left as it is: nothing is read from it or written
// through it, no repair runs, and the status log says why and names it.
#include "recapi/catalog/repairlock.h"

#include <cerrno>
#include <string>

#include "engine/core/bytes.h"
#include "engine/core/platform.h"
#include "zarvo/zarvo.h"

namespace zv::dict {

namespace {

constexpr char kSuffix[] = ".repair";
constexpr uint64_t kCountSize = 8;

constexpr const char *kRefusedOpen = "Repair: the dictionary is not repaired, its repair lock does not open:";
constexpr const char *kRefusedKind = "Repair: the dictionary is not repaired, its repair lock is a link or no lock file:";
constexpr const char *kPassedOver = "Repair: the repair lock is passed over, it is a link or no lock file:";

// Whether an open's error says that the name holds something else than a
// lock file (a link, a FIFO, a directory, a file of another size).
bool not_a_lock_file(int err) { return err == ELOOP || err == EINVAL || err == EISDIR || err == ENXIO; }

void log_refusal(const char *why, const std::string &name, int err) {
    zvStatusLogWrite(why, err);
    zvStatusLogWrite(name.c_str(), 0);
}

// The count, stored little-endian; 0 for an empty file.
uint64_t count(int fd) {
    unsigned char n[kCountSize];
    bool failed = false;
    return zv::plat_pread(fd, n, sizeof n, 0, &failed) == int64_t(sizeof n) ? zv::le::get64(n) : 0;
}

// The lock file opened as `how` says: a descriptor of a regular file of 0
// or 8 bytes, or -1 with errno (EINVAL for a file of another size).
int open_lock(const std::string &name, zv::OpenHow how, int perm = 0) {
    const int fd = zv::plat_open(name.c_str(), how, perm);
    if (fd < 0) return -1;
    zv::PlatStat st{};
    if (zv::plat_fstat(fd, &st) != 0 || (st.size != 0 && st.size != kCountSize)) {
        const int err = st.size != 0 && st.size != kCountSize ? EINVAL : errno;
        zv::plat_close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

// The permission bits of the dictionary's host beside the lock (read and
// write bits only), or -1 with errno.
int host_mode(const std::string &lockname) {
    const size_t n = sizeof kSuffix - 1;
    if (lockname.size() <= n || lockname.compare(lockname.size() - n, n, kSuffix) != 0) {
        errno = EINVAL;
        return -1;
    }
    zv::PlatStat st{};
    if (zv::plat_stat(lockname.substr(0, lockname.size() - n).c_str(), &st) != 0) return -1;
    return int(st.mode & 0666);
}

}  // namespace

bool RepairLock::take() {
    if (taken_) return true;
    error_ = 0;
    fd_ = open_lock(name_, zv::OpenHow::FoundReadWrite);
    if (fd_ < 0 && errno == ENOENT) {
        // Made with the dictionary's permissions (the umask may narrow them).
        const int mode = host_mode(name_);
        if (mode >= 0) {
            fd_ = open_lock(name_, zv::OpenHow::FoundCreateExclusive, mode);
            // Another process made it meanwhile.
            if (fd_ < 0 && errno == EEXIST) fd_ = open_lock(name_, zv::OpenHow::FoundReadWrite);
        }
    }
    if (fd_ < 0) {
        error_ = errno ? errno : EINVAL;
        log_refusal(not_a_lock_file(error_) ? kRefusedKind : kRefusedOpen, name_, error_);
        usys(error_);
        return false;
    }
    if (zv::plat_lock(fd_, zv::LockCmd::Try, zv::LockType::Exclusive, 0, 0, nullptr, true) != 0) {
        zv::plat_close(fd_);
        fd_ = -1;
        return false;
    }
    unsigned char next[kCountSize];
    zv::le::put64(next, count(fd_) + 1);
    bool failed = false;
    zv::plat_pwrite(fd_, next, sizeof next, 0, &failed);
    taken_ = true;
    return true;
}

bool RepairLock::busy() const {
    if (!there()) return false;
    const int fd = open_lock(name_, zv::OpenHow::FoundRead);
    if (fd < 0) return false;
    int holder = 0;
    const int rc = zv::plat_lock(fd, zv::LockCmd::Test, zv::LockType::Exclusive, 0, 0, &holder, true);
    zv::plat_close(fd);
    return rc == 0 && holder != 0;
}

uint64_t RepairLock::repairs() const {
    if (!there()) return 0;
    const int fd = open_lock(name_, zv::OpenHow::FoundRead);
    if (fd < 0) {
        if (not_a_lock_file(errno)) log_refusal(kPassedOver, name_, errno);
        return 0;
    }
    const uint64_t n = count(fd);
    zv::plat_close(fd);
    return n;
}

bool RepairLock::there() const {
    // Looked at before it is opened: most opens of a dictionary find none.
    zv::PlatStat st{};
    return zv::plat_lstat(name_.c_str(), &st) == 0;
}

void RepairLock::release() {
    taken_ = false;
    if (fd_ >= 0) zv::plat_close(fd_);
    fd_ = -1;
}

}  // namespace zv::dict
