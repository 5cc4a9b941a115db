// ISAM record benchmark: one workload (see workload.h) on the engine and,
// in the same run, on the peer engines found at build time (SQLite, LMDB,
// Berkeley DB), each with the same cache budget. A measurement for release
// builds, not a test.
//
//   isam_bench [--runs R] [--records N] [--only ENGINE] [--config cached,wide,quarter] [--encrypted]
//              [directory]
//
// --encrypted runs the engine twice instead of beside its peers: on a plain
// set and on a set stored encrypted with AES-256 ("Zarvo AES-256"); its
// "vs Zarvo" is then the plain rate over the encrypted one.
//
// Configurations: "cached", 16,384 index nodes and 16,384 data pages of
// 8 KB (the whole set fits; above a million records the buffers grow to
// 16, 32 KB ... so that it still does), "wide", the same with 32,000
// buffers of each kind (run only when named), and "quarter", a cache of a
// quarter of the record bytes, where reads reach the file system. The
// engine's cache is two
// pools of a size fixed at start-up; in the quarter configuration seven
// eighths of the bytes go to index nodes and one eighth to data pages, as a
// user sizing the pools for random access would give them (see
// quarter_config). The peers' single cache gets the same bytes. Every engine
// runs in a child process of its own, so that its peak memory is its own.
// With R runs the table shows the medians. The checksum of the records each
// phase read must be equal across engines and runs; the program fails when
// it is not. Memory is counted in MiB (2^20 bytes).
//
// The engine also runs the workload through its record-level API (zvdb
// calls, recapi_run.cpp) in a child of its own; a table per configuration
// sets that run's rates beside SQLite's and the ISAM road's of the same
// runs, with the same checksums.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/workload.h"
#include "zarvo/zarvo.h"

namespace bench {

namespace {

double now_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long vmhwm_kb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

void reset_hwm() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
}

}  // namespace

void PhaseClock::start() {
    reset_hwm();
    t0_ = now_seconds();
}

void PhaseClock::stop(int phase, uint64_t sum) {
    PhaseResult &p = out_->phase[phase];
    p.seconds = now_seconds() - t0_;
    p.peak_kb = vmhwm_kb();
    p.sum = sum;
}

void report_failure(const char *engine, const char *what, long at, long code) {
    std::fprintf(stderr, "%s: %s failed at %ld: %ld\n", engine, what, at, code);
}

// ---- The engine ------------------------------------------------------------------

// Set by run_zarvo_aes: the set is created encrypted with AES-256.
bool g_encrypted = false;

// Advanced encryption on without a prompt, a master password taken through
// a password change (no old password, no files: it writes the password's
// verification file in the working directory), and AES with 32-byte keys
// for the creates that follow.
bool start_encryption() {
    cmosdksup = 2;
    const char pw[] = "isam-bench";
    std::string req(8, '\0');
    req[0] = 0x05;  // change, no old password
    req.append(pw, sizeof pw);
    // The change reports its counts on standard output: kept off the table.
    std::fflush(stdout);
    const int saved = dup(1), null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    const int rc = zvChangeMasterPassword(req.data());
    std::fflush(stdout);
    if (saved >= 0) dup2(saved, 1);
    for (int fd : {saved, null})
        if (fd >= 0) close(fd);
    if (rc) {
        report_failure("Zarvo AES-256", "master password", 0, rc);
        return false;
    }
    if (int rc = zvSETENCRYPT("62", "-", 1)) {
        report_failure("Zarvo AES-256", "zvSETENCRYPT", 0, rc);
        return false;
    }
    return true;
}

bool run_zarvo(const Workload &w, const Config &c, const std::string &dir, RunResult *out) {
    if (int rc = INTISAMX(c.nodes, 8, c.page / 128, c.pages, 33)) {
        report_failure("Zarvo", "start-up", 0, rc);
        return false;
    }
    if (g_encrypted && !start_encryption()) {
        CLISAM();
        return false;
    }
    ISEG sid[1] = {{kIdOff, 4, 1}};
    ISEG sname[1] = {{kNameOff, kNameLen, 0}};
    ISEG samount[1] = {{kAmountOff, 8, 8}};
    IIDX idx[3] = {
        {4, 0, 0, 0, 0, 1, sid, "ById", nullptr, nullptr, nullptr},
        {kNameLen + 4, 0, 1, 0, 0, 1, sname, "ByName", "?_name.idx", nullptr, nullptr},
        {8 + 4, 0, 1, 0, 0, 1, samount, "ByAmount", "?_amount.idx", nullptr, nullptr},
    };
    const std::string base = dir + "/isam_bench";
    IFIL ifil = {base.c_str(), -1, kRecLen, 0, 0, 3, 0, 0, idx, nullptr, nullptr, 0};
    XCREblk x[4] = {};
    for (XCREblk &b : x) {
        b.mode = 0x02;
        b.extsize = 8u << 20;
    }
    IFILPARM p{};
    p.ifil = &ifil;
    p.xcre = x;
    // "?x" names an index file after the data file: isam_bench.dat_name.idx.
    for (const char *ext : {".dat", ".idx", ".dat_name.idx", ".dat_amount.idx"}) dltfil((base + ext).c_str());
    if (int rc = CREIFILz(&p)) {
        report_failure("Zarvo", "set creation", 0, rc);
        CLISAM();
        return false;
    }
    const int d = ifil.tfilno, byid = d + 1, byname = d + 2;
    unsigned char rec[kRecLen], key[4];
    // Under the default start-up profile a keyed read's target is in key
    // form: the unsigned id reversed into big-endian order.
    auto id_key = [&key](uint32_t id) {
        for (int i = 0; i < 4; i++) key[i] = static_cast<unsigned char>(id >> (24 - 8 * i));
        return key;
    };
    bool ok = true;
    auto fail = [&](const char *what, long at, long rc) {
        report_failure("Zarvo", what, at, rc);
        ok = false;
    };
    PhaseClock clock(out);

    clock.start();
    for (long i = 0; i < w.n && ok; i++) {
        make_record(rec, w.load[size_t(i)], 0, w.groups);
        if (int rc = ADDREC(d, rec)) fail("ADDREC", i, rc);
    }
    clock.stop(kLoad, 0);

    // Reads the record of `id`, making it current, and returns its checksum.
    auto read_one = [&](uint32_t id, long at) {
        if (int rc = EQLREC(byid, id_key(id), rec)) fail("EQLREC", at, rc);
        return record_sum(rec);
    };
    clock.start();
    clock.stop(kReads, visit(w.reads, ok, read_one));

    clock.start();
    uint64_t sum = 0;
    long count = 0;
    int rc = FRSREC(byname, rec);
    while (rc == 0) {
        count++;
        sum += record_sum(rec);
        rc = NXTREC(byname, rec);
    }
    if (rc != 101 || count != w.n) fail("walk", count, rc);
    clock.stop(kWalk, sum);

    clock.start();
    clock.stop(kRewrite, visit(w.changes, ok, [&](uint32_t id, long at) {
        const uint64_t check = read_one(id, at);
        make_record(rec, id, 1, w.groups);
        if (int e = RWTREC(d, rec)) fail("RWTREC", at, e);
        return check;
    }));
    clock.start();
    clock.stop(kDelete, visit(w.changes, ok, [&](uint32_t id, long at) {
        const uint64_t check = read_one(id, at);
        if (int e = DELREC(d)) fail("DELREC", at, e);
        return check;
    }));

    const uint32_t left = uint32_t(w.n - long(w.changes.size()));
    if (DATENT(d) != left || IDXENT(d + 1) != left || IDXENT(d + 2) != left || IDXENT(d + 3) != left) {
        std::fprintf(stderr, "Zarvo: counts %u %u %u %u, %u expected\n", DATENT(d), IDXENT(d + 1), IDXENT(d + 2),
                     IDXENT(d + 3), left);
        ok = false;
    }
    if (int e = DELIFIL(&ifil)) fail("DELIFIL", 0, e);
    CLISAM();
    out->ok = ok;
    return true;
}

// The same workload on a set whose data and index files are stored
// encrypted with AES-256 (each page deciphered when read from the file,
// enciphered when written).
bool run_zarvo_aes(const Workload &w, const Config &c, const std::string &dir, RunResult *out) {
    g_encrypted = true;
    return run_zarvo(w, c, dir, out);
}

namespace {

// ---- The driver ------------------------------------------------------------------

struct Engine {
    const char *name;
    bool (*run)(const Workload &, const Config &, const std::string &, RunResult *);
};

const Engine kEngines[] = {
    {"Zarvo", run_zarvo},
#ifdef ZV_BENCH_SQLITE
    {"SQLite", run_sqlite},
#endif
#ifdef ZV_BENCH_LMDB
    {"LMDB", run_lmdb},
#endif
#ifdef ZV_BENCH_BDB
    {"Berkeley DB", run_bdb},
#endif
};
constexpr size_t kEngineCount = sizeof kEngines / sizeof kEngines[0];
// The engine through the record-level API: a table of its own, beside the
// ISAM road and SQLite.
const Engine kRecords = {"records", run_recapi};
// --encrypted: the engine plain and encrypted, without the peers.
const Engine kEncrypted[] = {{"Zarvo", run_zarvo}, {"Zarvo AES-256", run_zarvo_aes}};

// Runs one engine in a child process and collects its result through a pipe.
RunResult run_child(const Engine &e, const Workload &w, const Config &c, const std::string &dir) {
    RunResult r;
    int fd[2];
    if (pipe(fd) != 0) return r;
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        close(fd[0]);
        RunResult mine;
        if (!e.run(w, c, dir, &mine)) mine.ok = 0;
        const char *p = reinterpret_cast<const char *>(&mine);
        size_t left = sizeof mine;
        while (left > 0) {
            ssize_t n = write(fd[1], p, left);
            if (n <= 0) break;
            p += n;
            left -= size_t(n);
        }
        std::fflush(nullptr);
        _exit(0);
    }
    close(fd[1]);
    if (pid > 0) {
        char *p = reinterpret_cast<char *>(&r);
        size_t got = 0;
        while (got < sizeof r) {
            ssize_t n = read(fd[0], p + got, sizeof r - got);
            if (n <= 0) break;
            got += size_t(n);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (got != sizeof r || !WIFEXITED(status)) {
            std::fprintf(stderr, "%s: the child process ended without a result\n", e.name);
            r = RunResult();
        }
    }
    close(fd[0]);
    return r;
}

template <typename T>
T median(std::vector<T> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? T() : v[v.size() / 2];
}

std::string with_commas(double v) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%.0f", v);
    std::string s = digits, out;
    int k = 0;
    for (size_t i = s.size(); i-- > 0;) {
        out.insert(out.begin(), s[i]);
        if (++k % 3 == 0 && i > 0) out.insert(out.begin(), ',');
    }
    return out;
}

std::string machine() {
    std::ifstream in("/proc/cpuinfo");
    std::string line, model = "unknown processor";
    while (std::getline(in, line))
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    long mem_kb = 0;
    std::ifstream mi("/proc/meminfo");
    while (std::getline(mi, line))
        if (line.rfind("MemTotal:", 0) == 0) mem_kb = std::atol(line.c_str() + 9);
    char buf[256];
    std::snprintf(buf, sizeof buf, "%s, %ld cores, %.0f GiB", model.c_str(), sysconf(_SC_NPROCESSORS_ONLN),
                  double(mem_kb) / (1024.0 * 1024.0));
    return buf;
}

// Prints one configuration's table of medians; false when a run failed or
// the checksums differ.
bool print_table(const Workload &w, const Config &c, const std::vector<const Engine *> &engines,
                 const std::vector<std::vector<RunResult>> &runs) {
    std::printf("\n%s: %ld records of %d bytes; %d index nodes and %d data pages of %d bytes (%.0f MiB cache)\n",
                c.name, w.n, kRecLen, c.nodes, c.pages, c.page, double(c.cache_bytes()) / kMiB);
    std::printf("| engine | phase | ops/s | vs Zarvo | peak RSS MiB | checksum |\n|---|---|---|---|---|---|\n");
    bool good = true;
    std::vector<double> zarvo_rate(kPhases, 0);
    long zarvo_peak = 0;
    for (size_t e = 0; e < engines.size(); e++) {
        for (const RunResult &r : runs[e])
            if (!r.ok) {
                std::printf("| %s | (failed) | | | | |\n", engines[e]->name);
                good = false;
            }
        for (int p = 0; p < kPhases; p++) {
            std::vector<double> rates;
            std::vector<long> peaks;
            for (const RunResult &r : runs[e]) {
                rates.push_back(r.phase[p].seconds > 0 ? double(phase_ops(w, p)) / r.phase[p].seconds : 0);
                peaks.push_back(r.phase[p].peak_kb);
            }
            const double rate = median(rates);
            if (e == 0) zarvo_rate[size_t(p)] = rate;
            const uint64_t sum = runs[e].empty() ? 0 : runs[e][0].phase[p].sum;
            bool same = true;
            for (size_t f = 0; f < engines.size(); f++)
                for (const RunResult &r : runs[f]) same = same && r.phase[p].sum == sum;
            good = good && same;
            char ratio[32] = "";
            if (e > 0 && rate > 0) std::snprintf(ratio, sizeof ratio, "%.2f", zarvo_rate[size_t(p)] / rate);
            char check[40] = "-";  // the load reads nothing
            if (p != kLoad) std::snprintf(check, sizeof check, "%016" PRIx64 "%s", sum, same ? "" : " DIFFERS");
            const long peak = median(peaks);
            if (e == 0) zarvo_peak = std::max(zarvo_peak, peak);
            std::printf("| %s | %s | %s | %s | %.0f | %s |\n", engines[e]->name, phase_name(p),
                        with_commas(rate).c_str(), e == 0 ? "1.00" : ratio, double(peak) / 1024.0, check);
        }
    }
    std::printf("(vs Zarvo: Zarvo's rate over the engine's rate; above 1 Zarvo is faster)\n");
    if (c.whole) {
        // Where the whole set is cached, the engine's memory is its cache.
        const double arrays = double(w.array_bytes()) / kMiB, cache = double(c.cache_bytes()) / kMiB;
        std::printf("Zarvo's peak RSS %.1f MiB; 1.1 x the cache (%.1f MiB) + the workload's arrays (%.1f MiB) = "
                    "%.1f MiB\n",
                    double(zarvo_peak) / 1024.0, cache, arrays, 1.1 * cache + arrays);
    }
    return good;
}

// A cache of a quarter of the record bytes, sized as a user would for
// random access: every keyed operation descends an index (a rewrite changes
// four keys in two of them) and touches one data page, and a page cache of a
// fraction of a data file read at random hits about that fraction of the
// time, while the same memory given to index nodes keeps the upper levels
// and a larger share of the leaves that every operation passes. So seven
// eighths of the buffers are index nodes; the data pages keep the pages that
// operations at hand and the appends use.
// The whole set cached in `buffers` index nodes and as many data pages:
// pages of 8 KB, larger when the records need more room (a session's
// start-up parameters are 16-bit values, so buffers are counted up to
// 32,767; 16,384 pages of 8 KB hold a million records).
Config cached_config(const char *name, long n, int32_t buffers) {
    int32_t page = kPageSize;
    while (n * kRecLen > 16384L * page) page *= 2;
    return {name, buffers, buffers, true, page};
}

Config quarter_config(long n) {
    const int32_t buffers = std::max<int32_t>(128, int32_t(n * kRecLen / 4 / kPageSize));
    const int32_t nodes = buffers * 7 / 8;
    return {"quarter", nodes, buffers - nodes, false};
}

// ---- The record-level table -----------------------------------------------------

// One configuration's record-level API rates (medians) beside SQLite's and
// the ISAM road's of the same runs; false when a run failed or a checksum
// differs from the ISAM road's.
bool print_record_table(const Workload &w, const Config &c, const std::vector<const Engine *> &engines,
                        const std::vector<std::vector<RunResult>> &runs, const std::vector<RunResult> &records) {
    const std::vector<RunResult> *sqlite = nullptr;
    for (size_t e = 0; e < engines.size(); e++)
        if (std::strcmp(engines[e]->name, "SQLite") == 0) sqlite = &runs[e];
    std::printf("\nrecord-level API (zvdb calls), %s: %ld records; session start-up parameters %d index nodes "
                "and %d data pages of %d bytes; SQLite cache_size %.0f MiB\n",
                c.name, w.n, c.nodes, c.pages, c.page, double(c.cache_bytes()) / kMiB);
    std::printf("| phase | records ops/s | SQLite ops/s | ISAM ops/s | records/SQLite | records/ISAM | peak RSS MiB "
                "| checksum |\n|---|---|---|---|---|---|---|---|\n");
    bool good = true;
    for (const RunResult &r : records) good = good && r.ok;
    auto rate = [&w](const std::vector<RunResult> &v, int p) {
        std::vector<double> rates;
        for (const RunResult &r : v) rates.push_back(r.phase[p].seconds > 0 ? double(phase_ops(w, p)) / r.phase[p].seconds : 0);
        return median(rates);
    };
    for (int p = 0; p < kPhases; p++) {
        const double mine = rate(records, p), isam = rate(runs[0], p), peer = sqlite ? rate(*sqlite, p) : 0;
        const uint64_t sum = runs[0].empty() ? 0 : runs[0][0].phase[p].sum;
        bool same = true;
        std::vector<long> peaks;
        for (const RunResult &r : records) {
            same = same && r.phase[p].sum == sum;
            peaks.push_back(r.phase[p].peak_kb);
        }
        good = good && same;
        char vs_peer[32] = "-", vs_isam[32] = "-", check[40] = "-";
        if (peer > 0) std::snprintf(vs_peer, sizeof vs_peer, "%.2f", mine / peer);
        if (isam > 0) std::snprintf(vs_isam, sizeof vs_isam, "%.2f", mine / isam);
        if (p != kLoad) std::snprintf(check, sizeof check, "%016" PRIx64 "%s", sum, same ? "" : " DIFFERS");
        std::printf("| %s | %s | %s | %s | %s | %s | %.0f | %s |\n", phase_name(p), with_commas(mine).c_str(),
                    sqlite ? with_commas(peer).c_str() : "-", with_commas(isam).c_str(), vs_peer, vs_isam,
                    double(median(peaks)) / 1024.0, check);
    }
    if (!good) std::printf("| (a record-level run failed or its checksums differ) | | | | | | | |\n");
    return good;
}

int usage() {
    std::fprintf(stderr,
                 "usage: isam_bench [--runs R] [--records N] [--only ENGINE] [--config cached,wide,quarter] "
                 "[--encrypted] [directory]\n");
    return 2;
}

}  // namespace

}  // namespace bench

int main(int argc, char **argv) {
    using namespace bench;
    long n = 1000000, runs = 1;
    std::string dir = ".", only, config;
    bool encrypted = false;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--runs" && has_value) runs = std::atol(argv[++i]);
        else if (a == "--records" && has_value) n = std::atol(argv[++i]);
        else if (a == "--only" && has_value) only = argv[++i];
        else if (a == "--config" && has_value) config = argv[++i];
        else if (a == "--encrypted") encrypted = true;
        else if (a.rfind("--", 0) == 0) return usage();
        else dir = a;
    }
    if (n < 100 || n > 100000000 || runs < 1 || runs > 99) return usage();

    Workload w;
    w.n = n;
    w.groups = uint32_t(n / 5);
    w.load.resize(size_t(n));
    for (long i = 0; i < n; i++) w.load[size_t(i)] = uint32_t(i) * 7 + 1;
    uint64_t seed = 20261209;
    for (long i = n - 1; i > 0; i--) std::swap(w.load[size_t(i)], w.load[size_t(splitmix(seed) % uint64_t(i + 1))]);
    w.reads.resize(size_t(n));
    for (long i = 0; i < n; i++) w.reads[size_t(i)] = w.load[size_t(splitmix(seed) % uint64_t(n))];
    {
        // Distinct ids, each rewritten once and then deleted once (the copy
        // goes before the engines run, so that it is not in their memory).
        std::vector<uint32_t> pick(w.load);
        for (long i = 0; i < n / 10; i++)
            std::swap(pick[size_t(i)], pick[size_t(i) + splitmix(seed) % uint64_t(n - i)]);
        w.changes.assign(pick.begin(), pick.begin() + n / 10);
    }

    // --config names a comma-separated list of configurations; "wide" is
    // the cached one with 32,000 buffers of each kind, run only when named.
    std::vector<Config> configs;
    const std::string named = "," + config + ",";
    auto wanted = [&](const char *name) { return named.find("," + std::string(name) + ",") != std::string::npos; };
    if (config.empty() || wanted("cached")) configs.push_back(cached_config("cached", n, 16384));
    if (wanted("wide")) configs.push_back(cached_config("wide", n, 32000));
    if (config.empty() || wanted("quarter")) configs.push_back(quarter_config(n));
    if (configs.empty()) return usage();

    std::vector<const Engine *> engines;
    // --only names one engine; Zarvo always runs, as the yardstick. The
    // record-level API runs unless another engine is named or --encrypted
    // is given; with --only records SQLite runs beside it.
    const bool records = !encrypted && (only.empty() || only == kRecords.name);
    for (const Engine &e : kEngines)
        if (only.empty() || only == e.name || &e == &kEngines[0] || (records && std::strcmp(e.name, "SQLite") == 0))
            engines.push_back(&e);
    if (encrypted) engines = {&kEncrypted[0], &kEncrypted[1]};
    std::printf("machine: %s\n", machine().c_str());
    std::printf("engines: ");
    for (const Engine &e : kEngines) std::printf("%s ", e.name);
    std::printf("(peers not found at build time are left out)\n");
    if (engines.empty()) return usage();

    // results[config][engine][run]; the engines take turns within each run.
    std::vector<std::vector<std::vector<RunResult>>> results(
        configs.size(), std::vector<std::vector<RunResult>>(engines.size()));
    std::vector<std::vector<RunResult>> record_results(configs.size());
    for (long r = 0; r < runs; r++)
        for (size_t c = 0; c < configs.size(); c++) {
            for (size_t e = 0; e < engines.size(); e++) {
                std::fprintf(stderr, "run %ld, %s, %s\n", r + 1, configs[c].name, engines[e]->name);
                results[c][e].push_back(run_child(*engines[e], w, configs[c], dir));
            }
            if (records) {
                std::fprintf(stderr, "run %ld, %s, %s\n", r + 1, configs[c].name, kRecords.name);
                record_results[c].push_back(run_child(kRecords, w, configs[c], dir));
            }
        }
    bool good = true;
    for (size_t c = 0; c < configs.size(); c++) good = print_table(w, configs[c], engines, results[c]) && good;
    for (size_t c = 0; c < configs.size() && records; c++)
        good = print_record_table(w, configs[c], engines, results[c], record_results[c]) && good;
    std::printf("\n%s\n", good ? "checksums equal across engines and runs" : "FAILED: a run failed or checksums differ");
    return good ? 0 : 1;
}
