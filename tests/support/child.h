// Runs a piece of a test in a child process, for what only another process
// can show (locks held across processes). The child starts its own engine
// instance, runs the function and reports three numbers back through a pipe.
#pragma once

#include <functional>

namespace zvtest {

struct ChildResult {
    int rc = -1;      // the child's result code
    int sys = 0;      // its system error code
    int extra = 0;    // anything else the function reports
    bool ok = false;  // the child ran to the end and reported
};

// Forks; in the child registers and makes current a new instance "child",
// runs fn and ends without running the parent's exit handlers.
ChildResult run_in_child(const std::function<ChildResult()> &fn);

}  // namespace zvtest
