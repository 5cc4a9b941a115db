// A child process on a pseudo-terminal, for tests of what a program asks
// at the terminal: the test reads the child's output, answers its prompts
// and takes its exit status.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace zvtest {

class PtyChild {
public:
    // Forks a child whose standard streams and controlling terminal are the
    // slave side of a new pseudo-terminal (output post-processing off, so
    // "\n" arrives as it was written; echo on), runs body there and ends it
    // with body's result as the exit status.
    explicit PtyChild(const std::function<int()> &body);
    ~PtyChild();
    PtyChild(const PtyChild &) = delete;
    PtyChild &operator=(const PtyChild &) = delete;

    // Reads the child's output until it holds text after what earlier
    // expectations consumed; true when it came within the time.
    bool expect(const std::string &text, int timeout_ms = 20000);
    // Waits for a prompt, then types a line.
    bool answer(const std::string &prompt, const std::string &line, int timeout_ms = 20000);
    void send_line(const std::string &line);
    // Reads the rest of the output and waits for the child: its exit status,
    // or -1 when it did not end normally within the time.
    int wait(int timeout_ms = 20000);
    // Everything the child wrote so far.
    const std::string &output() const { return out_; }

private:
    // Reads what is available within timeout_ms: false at the end of the output.
    bool read_some(int timeout_ms);
    int master_ = -1;
    pid_t pid_ = -1;
    std::string out_;
    size_t seen_ = 0;
};

}  // namespace zvtest
