// The lock by which a process repairing a dictionary makes itself known: a
// lock of its descriptor on the file "<host>.repair" beside the host, made
// at the first repair and kept, which counts the repairs (8 bytes). Other
// opens of the dictionary that fail while the lock is held (a repair's
// exclusive hold answers them 12, its files are found not closed cleanly or
// half rebuilt) wait for it instead, and one that fails after a repair came
// and went (the count moved) tries again; an open that meets a session
// holding the dictionary exclusively finds no repair and answers 12 at once.
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
    // now (also when the file cannot be made, so that a repair goes on
    // without it).
    bool take();
    bool held() const { return taken_; }
    // Whether another process (or another open of this one) repairs now.
    bool busy() const;
    // The repairs counted so far (0 without the file).
    uint64_t repairs() const;
    void release();

private:
    std::string name_;
    int fd_ = -1;
    bool taken_ = false;
};

}  // namespace zv::dict
