// Sweeps over the I/O calls of an operation: each call of the given kinds
// fails once (the operation's answer checked after it), or the process
// ends at it as a kill would (what it leaves checked after it).
#pragma once

#include <functional>
#include <vector>

#include "engine/core/platform.h"

namespace zvtest {

// Runs `run` once to count the calls of each kind it makes (it must answer
// 0), then for every kind and every n up to that count: `reset` (back to
// the starting files), `run` with the nth call of the kind failing with
// EIO, and `check` with its answer. Stops at the first test failure.
void fault_sweep(const std::vector<zv::IoKind> &kinds, const std::function<void()> &reset,
                 const std::function<int()> &run, const std::function<void(int rc)> &check);

// For every kind and n = 1, 2, ...: `reset`, then `run(kind, n)` in a child
// process, which arms the end of the process at the nth call of the kind
// (zv::fault_exit with `killed`) before the operation and returns its exit
// code, then `check` with that code (killed when the child ended at the
// call). A kind is done when the child ends by itself; more than `limit`
// calls is a failure. Stops at the first test failure.
void kill_sweep(const std::vector<zv::IoKind> &kinds, int killed, long limit, const std::function<void()> &reset,
                const std::function<int(zv::IoKind kind, long n)> &run, const std::function<void(int code)> &check);

}  // namespace zvtest
