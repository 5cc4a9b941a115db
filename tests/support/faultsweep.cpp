#include "tests/support/faultsweep.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

namespace zvtest {

void fault_sweep(const std::vector<zv::IoKind> &kinds, const std::function<void()> &reset,
                 const std::function<int()> &run, const std::function<void(int rc)> &check) {
    reset();
    zv::fault_reset();
    ASSERT_EQ(run(), 0) << "the operation fails without a fault";
    std::vector<long> calls;
    for (zv::IoKind kind : kinds) calls.push_back(zv::io_calls(kind));
    for (size_t k = 0; k < kinds.size(); k++) {
        for (long n = 1; n <= calls[k]; n++) {
            SCOPED_TRACE("kind " + std::to_string(int(kinds[k])) + " call " + std::to_string(n) + " fails");
            reset();
            zv::fault_reset();
            zv::fault_set(kinds[k], n, EIO);
            const int rc = run();
            zv::fault_reset();
            check(rc);
            if (::testing::Test::HasFailure()) return;
        }
    }
}

void kill_sweep(const std::vector<zv::IoKind> &kinds, int killed, long limit, const std::function<void()> &reset,
                const std::function<int(zv::IoKind kind, long n)> &run, const std::function<void(int code)> &check) {
    for (zv::IoKind kind : kinds) {
        for (long n = 1;; n++) {
            SCOPED_TRACE("kind " + std::to_string(int(kind)) + " killed at call " + std::to_string(n));
            ASSERT_LE(n, limit) << "the sweep does not end";
            reset();
            const pid_t pid = fork();
            if (pid == 0) _exit(run(kind, n));
            int status = 0;
            ASSERT_EQ(waitpid(pid, &status, 0), pid);
            ASSERT_TRUE(WIFEXITED(status));
            const int code = WEXITSTATUS(status);
            check(code);
            if (::testing::Test::HasFailure() || code != killed) break;
        }
        if (::testing::Test::HasFailure()) return;
    }
}

}  // namespace zvtest
