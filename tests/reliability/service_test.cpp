// Several processes of one service on one database directory, each running
// the README's start-up code (tests/support/firststart.h) as a service's
// workers do: started together on an empty directory, two of them sharing a
// table, then more making tables of their own while the first stay
// connected, also with kills at random moments of those makes. Every worker
// reaches its open table within a few seconds, and a fresh process finds
// every record the workers wrote.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/firststart.h"
#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"

namespace {

constexpr int kRecords = 20;
// What "within a few seconds" allows a worker between its start and its
// open table.
constexpr int kReachMs = 8000;

// A worker's table: its name, and the index name (index names are one
// namespace in a database).
std::string table_of(int worker, int shared_by) { return worker < shared_by ? "items" : "t" + std::to_string(worker); }

int define_for(ZVHANDLE t, const std::string &table) {
    ZVHANDLE id = zvdbAddField(t, "id", ZV_INT4, 4);
    ZVHANDLE ix = zvdbAddIndex(t, ("by_id_" + table).c_str(), 0, 0, 0);
    return id && ix && zvdbAddSegment(ix, id, 12) ? 0 : -10;
}

struct Report {
    int rc = -1;        // the start-up's answer
    int ms = 0;         // from the start to the open table
    int written = 0;    // records written and closed
    int writerc = 0;    // the first write failure that stayed
    char trail[400] = {};
};

// The worker's records: its number times 1000 plus 1 .. kRecords, written
// in one batch and closed (a table shared by several processes changes in
// one of them at a time: a write that meets the other's hold (12) closes,
// waits and tries again).
int write_batch(zvtest::StartUp &su, const std::string &table, int worker, int *written) {
    for (int attempt = 0; attempt < 200; attempt++) {
        if (!zvdbIsActiveTable(su.handle)) {
            int rc = zvdbOpenTable(su.handle, table.c_str(), 0);
            if (rc == 12) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5 + attempt % 20));
                continue;
            }
            if (rc) return rc;
        }
        ZVHANDLE rec = zvdbAllocRecord(su.handle);
        int rc = 0;
        for (int k = *written + 1; k <= kRecords && rc == 0; k++) {
            zvdbClearRecord(rec);
            zvdbSetFieldAsSigned(rec, 0, worker * 1000 + k);
            rc = zvdbWriteRecord(rec);
            // A worker killed before this one wrote it already.
            if (rc && rc != 12) {
                zvdbClearRecord(rec);
                zvdbSetFieldAsSigned(rec, 0, worker * 1000 + k);
                if (zvdbFindRecord(rec, 0) == 0) rc = 0;
            }
            if (rc == 0) ++*written;
        }
        zvdbFreeRecord(rec);
        const int closed = zvdbCloseTable(su.handle);
        if (rc == 0) rc = closed;
        if (rc != 12) return rc;
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + attempt % 20));
    }
    return 12;
}

struct Worker {
    pid_t pid = -1;
    int report = -1;  // read end of its report pipe
};

// Starts a worker process: it waits for a byte on `start`, runs the
// start-up code for its table, writes its records, reports, and then, when
// `stay`, stays logged on and connected (its own table open again) until
// `end` is closed.
Worker spawn(int worker, int shared_by, int start, const int end[2], bool stay) {
    int out[2];
    Worker w;
    if (pipe(out) != 0) return w;
    w.pid = fork();
    if (w.pid == 0) {
        close(out[0]);
        // Only the test holds the end's write side: its close ends the wait.
        close(end[1]);
        char go;
        if (read(start, &go, 1) != 1) _exit(3);
        const std::string table = table_of(worker, shared_by);
        Report r;
        zvtest::StartUp su;
        su.table = table.c_str();
        su.define = [&](ZVHANDLE t) { return define_for(t, table); };
        const auto t0 = std::chrono::steady_clock::now();
        r.rc = su.run();
        const auto took = std::chrono::steady_clock::now() - t0;
        r.ms = int(std::chrono::duration_cast<std::chrono::milliseconds>(took).count());
        std::snprintf(r.trail, sizeof r.trail, "%s", su.trail.c_str());
        if (r.rc == 0) r.writerc = write_batch(su, table, worker, &r.written);
        // Its own table open again, as a worker keeps it (a shared table
        // stays closed: another's writes need it alone).
        if (r.rc == 0 && r.writerc == 0 && worker >= shared_by) r.writerc = zvdbOpenTable(su.handle, table.c_str(), 0);
        if (write(out[1], &r, sizeof r) != ssize_t(sizeof r)) _exit(4);
        if (stay) {
            char byte;
            while (read(end[0], &byte, 1) > 0) {
            }
        }
        su.release();
        _exit(0);
    }
    close(out[1]);
    w.report = out[0];
    return w;
}

// The report of a worker, or rc -2 when none came within the time.
Report collect(const Worker &w, int timeout_ms) {
    Report r;
    r.rc = -2;
    pollfd p{w.report, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) == 1 && read(w.report, &r, sizeof r) != ssize_t(sizeof r)) r.rc = -3;
    close(w.report);
    // ZV_SERVICE_TRAILS=1 shows each worker's way to its table.
    if (std::getenv("ZV_SERVICE_TRAILS")) std::fprintf(stderr, "rc %d %d ms: %s\n", r.rc, r.ms, r.trail);
    return r;
}

class ServiceTest : public zvtest::ZvTest {
protected:
    // Starts count workers numbered from `first` together (they all read
    // their start byte from one pipe).
    std::vector<Worker> start_together(int first, int count, int shared_by, const int end[2], bool stay) {
        int start[2];
        EXPECT_EQ(pipe(start), 0);
        std::vector<Worker> out;
        for (int i = 0; i < count; i++) out.push_back(spawn(first + i, shared_by, start[0], end, stay));
        close(start[0]);
        const std::string go(size_t(count), 'g');
        EXPECT_EQ(write(start[1], go.data(), go.size()), ssize_t(go.size()));
        close(start[1]);
        return out;
    }
    // Every report reached its table within kReachMs and wrote its records.
    void expect_reached(const std::vector<Worker> &ws, int first) {
        for (size_t i = 0; i < ws.size(); i++) {
            const Report r = collect(ws[i], 60000);
            SCOPED_TRACE("worker " + std::to_string(first + int(i)) + ": " + r.trail);
            EXPECT_EQ(r.rc, 0);
            EXPECT_LT(r.ms, kReachMs);
            EXPECT_EQ(r.writerc, 0);
            EXPECT_EQ(r.written, kRecords);
        }
    }
    static void wait_all(const std::vector<Worker> &ws) {
        for (const Worker &w : ws) {
            int status = 0;
            waitpid(w.pid, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
    }
    // A fresh process's look: each table holds the records of the workers
    // that wrote it, by key.
    void expect_records(int workers, int shared_by) {
        for (int w = shared_by - 1; w < workers; w++) {
            const std::string table = table_of(w, shared_by);
            SCOPED_TRACE(table);
            zvtest::StartUp su;
            su.table = table.c_str();
            su.define = [&](ZVHANDLE t) { return define_for(t, table); };
            ASSERT_EQ(su.run(), 0) << su.trail;
            EXPECT_EQ(su.trail, "") << "the table was made before";
            ZVHANDLE rec = zvdbAllocRecord(su.handle);
            uint64_t count = 0;
            EXPECT_EQ(zvdbGetRecordCount(rec, &count), 0);
            const int owners = w < shared_by ? shared_by : 1;
            EXPECT_EQ(count, uint64_t(kRecords * owners));
            for (int o = w < shared_by ? 0 : w; o < (w < shared_by ? shared_by : w + 1); o++) {
                for (int k = 1; k <= kRecords; k++) {
                    zvdbClearRecord(rec);
                    zvdbSetFieldAsSigned(rec, 0, o * 1000 + k);
                    EXPECT_EQ(zvdbFindRecord(rec, 0), 0) << o * 1000 + k;
                }
            }
            zvdbFreeRecord(rec);
        }
    }
};

// Eight workers start together on an empty directory (two share a table),
// then four more make tables of their own while the eight stay connected.
TEST_F(ServiceTest, WorkersStartTogetherAndMakeTablesWhileOthersStayConnected) {
    int end[2];
    ASSERT_EQ(pipe(end), 0);
    const std::vector<Worker> first = start_together(0, 8, 2, end, true);
    expect_reached(first, 0);
    const std::vector<Worker> more = start_together(8, 4, 2, end, false);
    expect_reached(more, 8);
    wait_all(more);
    close(end[1]);
    close(end[0]);
    wait_all(first);
    expect_records(12, 2);
}

// The same with kills: while eight workers stay connected, makers of four
// more tables are killed at random moments of their start-ups (seeded:
// ZV_SERVICE_SEED, ZV_SERVICE_ROUNDS rounds, 3 by default); the same
// start-up code run again after each kill reaches the table.
TEST_F(ServiceTest, MakesKilledBesideConnectedWorkersAreFinishedByTheSameCode) {
    const char *seed_env = std::getenv("ZV_SERVICE_SEED");
    const char *rounds_env = std::getenv("ZV_SERVICE_ROUNDS");
    std::mt19937 rng(seed_env ? unsigned(std::atoi(seed_env)) : 20261211u);
    const int rounds = rounds_env ? std::atoi(rounds_env) : 3;
    int end[2];
    ASSERT_EQ(pipe(end), 0);
    const std::vector<Worker> first = start_together(0, 8, 2, end, true);
    expect_reached(first, 0);
    int next = 8;
    for (int round = 0; round < rounds; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        // Killed at a moment of its make between its start and 60 ms.
        std::vector<Worker> killed = start_together(next, 4, 2, end, false);
        for (const Worker &w : killed) {
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 15000));
            kill(w.pid, SIGKILL);
        }
        for (const Worker &w : killed) {
            close(w.report);
            int status = 0;
            waitpid(w.pid, &status, 0);
        }
        // Run again, by new processes, beside the connected ones.
        const std::vector<Worker> again = start_together(next, 4, 2, end, false);
        expect_reached(again, next);
        wait_all(again);
        next += 4;
        if (HasFailure()) break;
    }
    close(end[1]);
    close(end[0]);
    wait_all(first);
    expect_records(next, 2);
}

}  // namespace
