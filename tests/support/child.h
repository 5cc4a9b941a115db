// Runs a piece of a test in a child process, for what only another process
// can show (locks held across processes). The child starts its own engine
// instance, runs the function and reports three numbers back through a pipe.
#pragma once

#include <functional>
#include <vector>

namespace zvtest {

struct ChildResult {
    int rc = -1;      // the child's result code
    int sys = 0;      // its system error code
    int extra = 0;    // anything else the function reports
    bool ok = false;  // the child ran to the end and reported
    int status = -1;  // run_in_child: the child's wait status (waitpid)
};

// Forks; in the child registers and makes current a new instance "child",
// runs fn and ends without running the parent's exit handlers.
ChildResult run_in_child(const std::function<ChildResult()> &fn);

// Runs each function in a process of its own (forked, with a new instance
// "together" registered and made current), all started together: each
// waits at a gate that opens once every process is there. Their results in
// the order of the functions; ok is false for a process that ended without
// a word.
std::vector<ChildResult> run_together(const std::vector<std::function<ChildResult()>> &fns);

// Runs op(i) for i = from .. from + count - 1 and tallies the answers:
// extra counts the 0 answers, rc and sys keep the first other answer and
// the system error left with it (0 and 0 when there was none).
ChildResult tally(int from, int count, const std::function<int(int)> &op);

// Another process that stays while a test goes on, for steps that must
// interleave with this process's (one holds a file while the other tries
// it). The child registers and makes current a new instance "peer", then
// runs step(command) for each command that ask sends and reports the
// result back; nothing else synchronises the two. The child ends when the
// Peer is destroyed, without running the parent's exit handlers.
class Peer {
public:
    explicit Peer(std::function<ChildResult(int command)> step);
    ~Peer();
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;
    // Runs one step in the child (command not 0) and waits for its result;
    // ok is false when the child is gone.
    ChildResult ask(int command);
    // ask in two halves, for a step that may wait for this process: send
    // starts it (false when the child is gone), answer waits up to
    // timeout_ms (-1: no bound) for its result (false when none came).
    bool send(int command);
    bool answer(ChildResult *out, int timeout_ms = -1);

private:
    int to_ = -1, from_ = -1;
    int pid_ = -1;
};

// Another process that runs op(0), op(1), ... one after the other beside
// the test until stop(), for work that must go on while this process does
// its own (a writer beside a maintenance call). The child registers and
// makes current a new instance "beside"; an op that does not answer 0 is
// followed by a short pause.
class Beside {
public:
    explicit Beside(std::function<int(int i)> op);
    ~Beside();
    Beside(const Beside &) = delete;
    Beside &operator=(const Beside &) = delete;
    // Ends the child after the op it is running: the i whose op answered
    // 0, in order (empty when the child is gone without a word).
    std::vector<int> stop();

private:
    int to_ = -1, from_ = -1;
    int pid_ = -1;
};

}  // namespace zvtest
