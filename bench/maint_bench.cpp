// Maintenance benchmark: the set rebuild and the compaction of the engine
// (maintset.h: N records of 64 bytes with three indexes; the compaction
// with every other record deleted) beside, when SQLite was found at build
// time, CREATE INDEX, REINDEX and VACUUM of an equal table (maint_sqlite.cpp)
// given the same memory. Each engine's run is a child process of its own;
// the table gives records per second of the N records, medians of R runs.
// A measurement for release builds, not a test.
//
//   maint_bench [--runs R] [--records N] [directory]
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/maintset.h"

namespace {

using namespace bench;

// What one child hands back through its pipe.
struct Result {
    int ok = 0;
    double seconds[3] = {};
};

// Runs `body` in a child process and collects its result.
template <typename F>
Result in_child(F body) {
    Result r;
    int fd[2];
    if (pipe(fd) != 0) return r;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fd[0]);
        Result mine;
        mine.ok = body(mine.seconds) ? 1 : 0;
        const bool sent = write(fd[1], &mine, sizeof mine) == ssize_t(sizeof mine);
        std::fflush(nullptr);
        _exit(sent ? 0 : 1);
    }
    close(fd[1]);
    if (pid > 0) {
        if (read(fd[0], &r, sizeof r) != ssize_t(sizeof r)) r = Result();
        int status = 0;
        waitpid(pid, &status, 0);
    }
    close(fd[0]);
    return r;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

std::string with_commas(double v) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%.0f", v);
    std::string s = digits, out;
    for (size_t i = s.size(), k = 1; i-- > 0; k++) {
        out.insert(out.begin(), s[i]);
        if (k % 3 == 0 && i > 0) out.insert(out.begin(), ',');
    }
    return out;
}

int usage() {
    std::fprintf(stderr, "usage: maint_bench [--runs R] [--records N] [directory]\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    long runs = 1, n = 1000000;
    std::string dir = ".";
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) runs = std::atol(argv[++i]);
        else if (a == "--records" && i + 1 < argc) n = std::atol(argv[++i]);
        else if (a.rfind("--", 0) == 0) return usage();
        else dir = a;
    }
    if (n < 100 || n > 100000000 || runs < 1 || runs > 99) return usage();
    const uint32_t records = uint32_t(n);
    // zarvo[0] rebuild, zarvo[1] compaction; peer[0..2] CREATE INDEX, REINDEX, VACUUM.
    std::vector<double> zarvo[2], peer[3];
    bool good = true;
    for (long r = 0; r < runs; r++) {
        for (int op = 0; op < 2; op++) {
            std::fprintf(stderr, "run %ld, Zarvo %s\n", r + 1, op ? "compaction" : "set rebuild");
            const Result z = in_child([&](double *s) {
                MaintTimes t;
                const bool ok = time_maintenance("maint_bench", dir, records, op == 1, &t) == 0;
                s[0] = t.run;
                return ok;
            });
            good = good && z.ok;
            zarvo[op].push_back(z.seconds[0]);
        }
#ifdef ZV_BENCH_SQLITE
        std::fprintf(stderr, "run %ld, SQLite\n", r + 1);
        const Result s = in_child([&](double *sec) {
            PeerMaintTimes t;
            const bool ok = sqlite_maintenance(dir, records, maint_memory_bytes(), &t);
            sec[0] = t.create_index;
            sec[1] = t.reindex;
            sec[2] = t.vacuum;
            return ok;
        });
        good = good && s.ok;
        for (int op = 0; op < 3; op++) peer[op].push_back(s.seconds[op]);
#endif
    }
    auto rate = [&](const std::vector<double> &secs) {
        const double m = median(secs);
        return m > 0 ? double(records) / m : 0.0;
    };
    const double rebuild = rate(zarvo[0]), compaction = rate(zarvo[1]);
    std::printf("\nmaintenance: %u records of 64 bytes, three indexes (a unique 4-byte number, a 20-byte city with "
                "duplicates, a unique 24-byte name); records/s of the %u records, medians of %ld runs\n",
                records, records, runs);
    std::printf("memory: Zarvo %d index nodes and %d data pages of %d bytes and a sort budget of %ld KB (%.0f MiB "
                "in all); SQLite the same bytes as its page cache\n",
                kMaintNodes, kMaintPages, kMaintSect * 128, kMaintSortKb, double(maint_memory_bytes()) / 1048576.0);
    std::printf("| engine | operation | records/s | vs Zarvo |\n|---|---|---|---|\n");
    std::printf("| Zarvo | set rebuild (RBLIFIL) | %s | 1.00 |\n", with_commas(rebuild).c_str());
    std::printf("| Zarvo | compaction, half deleted (CMPIFIL) | %s | 1.00 |\n", with_commas(compaction).c_str());
#ifdef ZV_BENCH_SQLITE
    const char *ops[3] = {"CREATE INDEX (three)", "REINDEX", "VACUUM, half deleted"};
    for (int op = 0; op < 3; op++) {
        const double theirs = rate(peer[op]), ours = op == 2 ? compaction : rebuild;
        std::printf("| SQLite | %s | %s | %.2f |\n", ops[op], with_commas(theirs).c_str(),
                    theirs > 0 ? ours / theirs : 0.0);
    }
    std::printf("(vs Zarvo: Zarvo's set rebuild, or its compaction for VACUUM, over the operation's rate; above 1 "
                "Zarvo is faster)\n");
#else
    std::printf("(SQLite was not found at build time: no peer rows)\n");
#endif
    std::printf("\n%s\n", good ? "every run succeeded and every count matched" : "FAILED: a run failed");
    return good ? 0 : 1;
}
