#include "tests/support/child.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <utility>
#include <vector>

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
    r.status = status;
    return r;
}

std::vector<ChildResult> run_together(const std::vector<std::function<ChildResult()>> &fns) {
    std::vector<ChildResult> results(fns.size());
    int gate[2];
    if (pipe(gate) != 0) return results;
    std::vector<std::pair<pid_t, int>> children;
    for (const auto &fn : fns) {
        int out[2];
        if (pipe(out) != 0) break;
        const pid_t pid = fork();
        if (pid == 0) {
            close(gate[1]);
            close(out[0]);
            char c;
            const ssize_t opened = read(gate[0], &c, 1);
            (void)opened;
            ChildResult r;
            if (REGZARVO("together") == 0) {
                r = fn();
                r.ok = true;
            }
            const ssize_t n = write(out[1], &r, sizeof r);
            _exit(n == ssize_t(sizeof r) ? 0 : 1);
        }
        close(out[1]);
        if (pid < 0) {
            close(out[0]);
            break;
        }
        children.emplace_back(pid, out[0]);
    }
    close(gate[0]);
    close(gate[1]);  // the gate opens: every read at it returns
    for (size_t i = 0; i < children.size(); i++) {
        ChildResult got;
        const ssize_t n = read(children[i].second, &got, sizeof got);
        close(children[i].second);
        int status = 0;
        waitpid(children[i].first, &status, 0);
        if (n == ssize_t(sizeof got) && WIFEXITED(status) && WEXITSTATUS(status) == 0) results[i] = got;
        results[i].status = status;
    }
    return results;
}

ChildResult tally(int from, int count, const std::function<int(int)> &op) {
    ChildResult r;
    r.rc = 0;
    for (int i = from; i < from + count; i++) {
        int rc = op(i);
        if (rc == 0) {
            r.extra++;
        } else if (r.rc == 0) {
            r.rc = rc;
            r.sys = zvGetSystemErrorCode();
        }
    }
    return r;
}

namespace {

// Closes the descriptors a child inherited (but for stdin, stdout, stderr
// and those it keeps): a copy of a descriptor shares its open file
// description, and with it the locks on it, which would then stay held
// after the parent closed its own copy.
void close_inherited(std::initializer_list<int> keep) {
    std::vector<int> fds;
    if (DIR *d = opendir("/proc/self/fd")) {
        const int own = dirfd(d);
        while (dirent *e = readdir(d)) {
            int fd = atoi(e->d_name);
            if (fd > 2 && fd != own && std::find(keep.begin(), keep.end(), fd) == keep.end()) fds.push_back(fd);
        }
        closedir(d);
    }
    for (int fd : fds) close(fd);
}

}  // namespace

Peer::Peer(std::function<ChildResult(int)> step) {
    int down[2], up[2];
    if (pipe(down) != 0) return;
    if (pipe(up) != 0) {
        close(down[0]);
        close(down[1]);
        return;
    }
    pid_t pid = fork();
    if (pid == 0) {
        close(down[1]);
        close(up[0]);
        close_inherited({down[0], up[1]});
        const bool registered = REGZARVO("peer") == 0;
        int command = 0;
        while (read(down[0], &command, sizeof command) == ssize_t(sizeof command) && command != 0) {
            ChildResult r;
            if (registered) {
                r = step(command);
                r.ok = true;
            }
            if (write(up[1], &r, sizeof r) != ssize_t(sizeof r)) _exit(1);
        }
        _exit(0);
    }
    close(down[0]);
    close(up[1]);
    if (pid < 0) {
        close(down[1]);
        close(up[0]);
        return;
    }
    pid_ = pid;
    to_ = down[1];
    from_ = up[0];
}

Peer::~Peer() {
    if (pid_ < 0) return;
    int stop = 0;
    ssize_t n = write(to_, &stop, sizeof stop);
    (void)n;
    close(to_);
    close(from_);
    int status = 0;
    waitpid(pid_, &status, 0);
}

ChildResult Peer::ask(int command) {
    ChildResult r;
    if (send(command)) answer(&r);
    return r;
}

bool Peer::send(int command) {
    if (pid_ < 0 || command == 0) return false;
    return write(to_, &command, sizeof command) == ssize_t(sizeof command);
}

bool Peer::answer(ChildResult *out, int timeout_ms) {
    if (pid_ < 0) return false;
    pollfd p{from_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) != 1) return false;
    ChildResult got;
    if (read(from_, &got, sizeof got) != ssize_t(sizeof got)) return false;
    *out = got;
    return true;
}

Beside::Beside(std::function<int(int)> op) {
    int down[2], up[2];
    if (pipe(down) != 0) return;
    if (pipe(up) != 0) {
        close(down[0]);
        close(down[1]);
        return;
    }
    pid_t pid = fork();
    if (pid == 0) {
        close(down[1]);
        close(up[0]);
        close_inherited({down[0], up[1]});
        fcntl(down[0], F_SETFL, O_NONBLOCK);
        if (REGZARVO("beside") != 0) _exit(1);
        char stop = 0;
        for (int i = 0; read(down[0], &stop, 1) < 0; i++) {
            if (op(i) != 0) {
                usleep(200);
                continue;
            }
            if (write(up[1], &i, sizeof i) != ssize_t(sizeof i)) _exit(1);
        }
        _exit(0);
    }
    close(down[0]);
    close(up[1]);
    if (pid < 0) {
        close(down[1]);
        close(up[0]);
        return;
    }
    pid_ = pid;
    to_ = down[1];
    from_ = up[0];
}

Beside::~Beside() { stop(); }

std::vector<int> Beside::stop() {
    std::vector<int> done;
    if (pid_ < 0) return done;
    const char stop = 1;
    ssize_t n = write(to_, &stop, 1);
    (void)n;
    close(to_);
    int i = 0;
    while (read(from_, &i, sizeof i) == ssize_t(sizeof i)) done.push_back(i);
    close(from_);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return done;
}

}  // namespace zvtest
