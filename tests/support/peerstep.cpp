#include "tests/support/peerstep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

namespace zvtest {

namespace {

long env_long(const char *name, long dflt) {
    const char *v = std::getenv(name);
    return v && *v ? std::strtol(v, nullptr, 10) : dflt;
}

struct Planned {
    const std::function<void()> *attempt;
    bool made;
};

void call_attempt(void *p) {
    auto *plan = static_cast<Planned *>(p);
    plan->made = true;
    (*plan->attempt)();
}

}  // namespace

std::vector<Step> steps_of(const std::vector<zv::IoKind> &kinds, const std::vector<long> &calls, long sample) {
    sample = env_long("ZV_PEERSTEP_RUNS", sample);
    std::mt19937 rng(unsigned(env_long("ZV_PEERSTEP_SEED", 11)));
    std::vector<Step> out;
    for (size_t k = 0; k < kinds.size() && k < calls.size(); k++) {
        std::vector<long> ns;
        for (long n = 1; n <= calls[k]; n++) ns.push_back(n);
        if (sample > 0 && long(ns.size()) > sample) {
            std::vector<long> middle(ns.begin() + 1, ns.end() - 1);
            std::shuffle(middle.begin(), middle.end(), rng);
            middle.resize(size_t(sample > 2 ? sample - 2 : 0));
            ns = {ns.front(), ns.back()};
            ns.insert(ns.end(), middle.begin(), middle.end());
            std::sort(ns.begin(), ns.end());
        }
        for (long n : ns) out.push_back({kinds[k], n});
    }
    return out;
}

std::vector<long> count_calls(const std::vector<zv::IoKind> &kinds, const std::function<int()> &run) {
    zv::fault_reset();
    run();
    std::vector<long> calls;
    for (zv::IoKind k : kinds) calls.push_back(zv::io_calls(k));
    zv::fault_reset();
    return calls;
}

int run_with_attempt(const Step &step, const std::function<void()> &attempt, const std::function<int()> &run,
                     bool *made) {
    Planned plan{&attempt, false};
    zv::fault_reset();
    zv::fault_call(step.kind, step.n, call_attempt, &plan);
    const int rc = run();
    zv::fault_reset();
    if (made) *made = plan.made;
    return rc;
}

const std::vector<zv::IoKind> &changing_kinds() {
    static const std::vector<zv::IoKind> kinds = {zv::IoKind::Open, zv::IoKind::Link, zv::IoKind::Rename,
                                                  zv::IoKind::Unlink, zv::IoKind::Write};
    return kinds;
}

const char *kind_name(zv::IoKind kind) {
    switch (kind) {
    case zv::IoKind::Open: return "open";
    case zv::IoKind::Link: return "link";
    case zv::IoKind::Rename: return "rename";
    case zv::IoKind::Unlink: return "unlink";
    case zv::IoKind::Write: return "write";
    default: return "call";
    }
}

RaceCount race_makes(Peer &peer, int command, const std::function<int()> &make, const std::function<void()> &reset,
                     const std::function<void()> &check, long sample) {
    RaceCount count;
    // The make alone first: its calls, and what it leaves.
    reset();
    const std::vector<long> calls = count_calls(changing_kinds(), make);
    check();
    if (::testing::Test::HasFailure()) return count;
    for (const Step &step : steps_of(changing_kinds(), calls, sample)) {
        SCOPED_TRACE(std::string("the other make starts at ") + kind_name(step.kind) + " " + std::to_string(step.n));
        reset();
        ChildResult there;
        bool answered = false, made = false;
        bool sent = true;
        const int here = run_with_attempt(
            step,
            [&] {
                // The other make runs until it ends or waits for this one.
                sent = peer.send(command);
                if (sent) answered = peer.answer(&there, 100);
            },
            make, &made);
        EXPECT_TRUE(sent);
        EXPECT_TRUE(made);
        if (sent && !answered) {
            EXPECT_TRUE(peer.answer(&there, 30000)) << "the other make does not end";
        }
        EXPECT_TRUE(there.ok);
        EXPECT_TRUE((here == 0 && there.rc == 19) || (here == 19 && there.rc == 0))
            << "here " << here << ", there " << there.rc << " (system error " << there.sys << ")";
        (here == 0 ? count.here : count.there)++;
        check();
        if (::testing::Test::HasFailure()) break;
    }
    return count;
}

}  // namespace zvtest
