#include "tests/support/child.h"

#include <sys/wait.h>
#include <unistd.h>

#include "zarvo/zarvo.h"

namespace zvtest {

ChildResult run_in_child(const std::function<ChildResult()> &fn) {
    int out[2];
    ChildResult r;
    if (pipe(out) != 0) return r;
    pid_t pid = fork();
    if (pid < 0) {
        close(out[0]);
        close(out[1]);
        return r;
    }
    if (pid == 0) {
        close(out[0]);
        ChildResult c;
        if (REGZARVO("child") == 0) {
            c = fn();
            c.ok = true;
        }
        ssize_t n = write(out[1], &c, sizeof c);
        _exit(n == ssize_t(sizeof c) ? 0 : 1);
    }
    close(out[1]);
    ChildResult got;
    ssize_t n = read(out[0], &got, sizeof got);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (n == ssize_t(sizeof got) && WIFEXITED(status) && WEXITSTATUS(status) == 0) r = got;
    return r;
}

}  // namespace zvtest
