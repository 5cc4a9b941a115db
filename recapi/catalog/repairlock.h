// The lock by which a process repairing a dictionary makes itself known: a
// lock of its descriptor on the file "<host>.repair" beside the host, made
// at the first repair and kept, which counts the repairs (8 bytes). Other
// opens of the dictionary that fail while the lock is held (a repair's
// exclusive hold answers them 12, its files are found not closed cleanly or
// half rebuilt) wait for it instead, and one that fails after a repair came
// and went (the count moved) tries again; an open that meets a session
// holding the dictionary exclusively finds no repair and answers 12 at once.
//
// The file is opened without following a symbolic link, without blocking
// and only as a regular file of 0 or 8 bytes; it is made with the
// permissions of the dictionary's host. A process that cannot open it so
// read-write does not repair: take() refuses, the status log names the
// file, and the open answers 12 with the open's system error.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace zv::dict {

// How long an open waits for another process's repair of the dictionary,
// and how often it looks again.
constexpr auto kRepairWait = std::chrono::seconds(10);
constexpr int kRepairPollMs = 10;

class RepairLock {
public:
    explicit RepairLock(std::string name) : name_(std::move(name)) {}
    RepairLock(const RepairLock &) = delete;
    RepairLock &operator=(const RepairLock &) = delete;
    ~RepairLock() { release(); }
    // Takes the lock and counts a repair: true when this process holds it
    // now; false when another open holds it, or when the file does not open
    // as a lock file (refused() then, its system error kept as the
    // instance's).
    bool take();
    bool held() const { return taken_; }
    // The system error of take()'s last refusal to open the file (0: none).
    int refused() const { return error_; }
    // Whether another process (or another open of this one) repairs now.
    bool busy() const;
    // The repairs counted so far (0 without the file).
    uint64_t repairs() const;
    void release();

private:
    // Whether anything stands under the name.
    bool there() const;
    std::string name_;
    int fd_ = -1;
    bool taken_ = false;
    int error_ = 0;
};

}  // namespace zv::dict
