// Another process's attempt at every step of an operation: the operation
// runs with the attempt made at the nth call of a kind through the platform
// seam, before that call does anything, so that the other process's open,
// add and close fall between two of the operation's own steps.
#pragma once

#include <functional>
#include <vector>

#include "engine/core/platform.h"
#include "tests/support/child.h"

namespace zvtest {

// One step of an operation: the nth call of a kind.
struct Step {
    zv::IoKind kind;
    long n;
};

// The steps of an operation that made calls[i] calls of kinds[i]: every
// one, or, for a kind with more than `sample` calls, a seeded sample of
// `sample` of them with its first and its last. ZV_PEERSTEP_RUNS sets the
// sample (0: every step) and ZV_PEERSTEP_SEED the seed.
std::vector<Step> steps_of(const std::vector<zv::IoKind> &kinds, const std::vector<long> &calls, long sample = 12);

// Counts the calls of each kind that `run` makes.
std::vector<long> count_calls(const std::vector<zv::IoKind> &kinds, const std::function<int()> &run);

// Runs `run` with `attempt` made once, at the step: run's answer. *made
// tells whether the operation reached the step.
int run_with_attempt(const Step &step, const std::function<void()> &attempt, const std::function<int()> &run,
                     bool *made);

// The kinds of call at which an operation changes names or files: its
// opens, links, renames, unlinks and writes.
const std::vector<zv::IoKind> &changing_kinds();

// A name for a step in test traces.
const char *kind_name(zv::IoKind kind);

// Two makes of one thing at once: `make` here, and the peer's `command`
// (a make of the same thing) started at each step of this one (the steps of
// `changing_kinds`, a sample of `sample`). reset() clears the directory
// before each. The make runs alone first (its calls counted); at every
// step one make answers 0 and the other 19; after each `check` looks at
// what was left (its failures are the test's). How many were made here and
// there.
struct RaceCount {
    int here = 0, there = 0;
};
RaceCount race_makes(Peer &peer, int command, const std::function<int()> &make, const std::function<void()> &reset,
                     const std::function<void()> &check, long sample = 6);

}  // namespace zvtest
