// The repair lock of a dictionary (see repairlock.h).
#include "recapi/catalog/repairlock.h"

#include "engine/core/bytes.h"
#include "engine/core/platform.h"

namespace zv::dict {

namespace {

// The count, stored little-endian; 0 for a file too short to hold it.
uint64_t count(int fd) {
    unsigned char n[8];
    bool failed = false;
    return zv::plat_pread(fd, n, sizeof n, 0, &failed) == int64_t(sizeof n) ? zv::le::get64(n) : 0;
}

}  // namespace

bool RepairLock::take() {
    if (taken_) return true;
    fd_ = zv::plat_open(name_.c_str(), zv::OpenHow::ReadWrite, 0);
    if (fd_ < 0) fd_ = zv::plat_open(name_.c_str(), zv::OpenHow::CreateExclusive, 0666);
    if (fd_ < 0) fd_ = zv::plat_open(name_.c_str(), zv::OpenHow::ReadWrite, 0);
    if (fd_ >= 0 && zv::plat_lock(fd_, zv::LockCmd::Try, zv::LockType::Exclusive, 0, 0, nullptr, true) != 0) {
        zv::plat_close(fd_);
        fd_ = -1;
        return false;
    }
    if (fd_ >= 0) {
        unsigned char next[8];
        zv::le::put64(next, count(fd_) + 1);
        bool failed = false;
        zv::plat_pwrite(fd_, next, sizeof next, 0, &failed);
    }
    taken_ = true;
    return true;
}

bool RepairLock::busy() const {
    zv::PlatStat st;
    if (zv::plat_stat(name_.c_str(), &st) != 0) return false;
    const int fd = zv::plat_open(name_.c_str(), zv::OpenHow::ReadOnly, 0);
    if (fd < 0) return false;
    int holder = 0;
    const int rc = zv::plat_lock(fd, zv::LockCmd::Test, zv::LockType::Exclusive, 0, 0, &holder, true);
    zv::plat_close(fd);
    return rc == 0 && holder != 0;
}

uint64_t RepairLock::repairs() const {
    zv::PlatStat st;
    if (zv::plat_stat(name_.c_str(), &st) != 0) return 0;
    const int fd = zv::plat_open(name_.c_str(), zv::OpenHow::ReadOnly, 0);
    if (fd < 0) return 0;
    const uint64_t n = count(fd);
    zv::plat_close(fd);
    return n;
}

void RepairLock::release() {
    taken_ = false;
    if (fd_ >= 0) zv::plat_close(fd_);
    fd_ = -1;
}

}  // namespace zv::dict
