#include "tests/support/pty.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

namespace zvtest {

PtyChild::PtyChild(const std::function<int()> &body) {
    fflush(nullptr);
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        struct termios t;
        if (tcgetattr(STDIN_FILENO, &t) == 0) {
            t.c_oflag &= ~tcflag_t(OPOST);
            tcsetattr(STDIN_FILENO, TCSANOW, &t);
        }
        int status = body();
        fflush(nullptr);
        _exit(status);
    }
    pid_ = pid;
    master_ = master;
}

PtyChild::~PtyChild() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
}

bool PtyChild::read_some(int timeout_ms) {
    if (master_ < 0) return false;
    struct pollfd p = {master_, POLLIN, 0};
    int r = poll(&p, 1, timeout_ms);
    if (r <= 0) return r == 0;
    char buf[4096];
    ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) return false;  // EIO once the child has closed the terminal
    out_.append(buf, size_t(n));
    return true;
}

bool PtyChild::expect(const std::string &text, int timeout_ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        size_t at = out_.find(text, seen_);
        if (at != std::string::npos) {
            seen_ = at + text.size();
            return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !read_some(int(left.count()))) return false;
    }
}

bool PtyChild::answer(const std::string &prompt, const std::string &line, int timeout_ms) {
    if (!expect(prompt, timeout_ms)) return false;
    send_line(line);
    return true;
}

void PtyChild::send_line(const std::string &line) {
    std::string s = line + "\n";
    if (master_ >= 0 && write(master_, s.data(), s.size()) != ssize_t(s.size())) perror("pty write");
}

int PtyChild::wait(int timeout_ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < until && read_some(50)) {
    }
    int status = 0;
    for (;;) {
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) break;
        if (r < 0 || std::chrono::steady_clock::now() >= until) return -1;
        usleep(10000);
    }
    pid_ = -1;
    while (read_some(0)) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace zvtest
