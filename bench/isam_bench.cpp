// ISAM record benchmark: the main road of the engine, measured phase by
// phase, and (when built with SQLite) the same workload on SQLite with the
// same cache budget. A measurement for release builds, not a test.
//
//   isam_bench [records] [directory]
//
// The workload: N records of 128 bytes (default 1,000,000) with a unique
// 8-byte number, a 20-byte name shared by ten records and a unique 16-byte
// code, each indexed; loaded in random number order; then N reads by a
// random number, a full scan in number order, N/10 rewrites that change the
// name, and N/10 deletes; the counts are checked at the end. Per phase the
// program prints operations per second and the peak resident memory of the
// phase (VmHWM, reset before each phase through /proc/self/clear_refs).
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "zarvo/zarvo.h"

#ifdef ZV_BENCH_SQLITE
#include <sqlite3.h>
#endif

namespace {

constexpr int kRecLen = 128;
constexpr int kNumOff = 4, kNameOff = 12, kCodeOff = 32, kPayloadOff = 48;
// The engine's cache: 8192 index buffers and 8192 data pages of 4096 bytes.
constexpr int kSect = 32, kBufs = 8192, kDbufs = 8192;
constexpr long kCacheKB = (long(kBufs) + kDbufs) * 4096 / 1024;

uint64_t splitmix(uint64_t &s) {
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void put_be(unsigned char *p, uint64_t v) {
    for (int i = 0; i < 8; i++) p[i] = static_cast<unsigned char>(v >> (56 - 8 * i));
}

// The record of number n: tag, number (big-endian, so that bytes sort as
// numbers), name, code and payload.
void make_record(unsigned char *r, uint64_t n, uint32_t version) {
    memset(r, 0, kRecLen);
    memcpy(r, "REC1", 4);
    put_be(r + kNumOff, n);
    char name[48];
    snprintf(name, sizeof name, "name%07" PRIu64 "v%u", (n / 10) % 10000000, version % 10);
    memcpy(r + kNameOff, name, strlen(name));
    uint64_t s = n;
    put_be(r + kCodeOff, splitmix(s));
    put_be(r + kCodeOff + 8, splitmix(s));
    for (int i = kPayloadOff; i < kRecLen; i++) r[i] = static_cast<unsigned char>('a' + (n + i) % 26);
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

struct Phase {
    std::string name;
    long ops = 0;
    double seconds = 0;
    long hwm = 0;
    double rate() const { return seconds > 0 ? double(ops) / seconds : 0; }
};

// Runs one phase: its operation count, time and peak memory.
Phase measure(const char *name, const std::function<long()> &body) {
    reset_hwm();
    auto t0 = std::chrono::steady_clock::now();
    long ops = body();
    Phase p;
    p.name = name;
    p.ops = ops;
    p.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    p.hwm = vmhwm_kb();
    return p;
}

void print(const char *who, const std::vector<Phase> &phases) {
    std::printf("%s\n", who);
    for (const Phase &p : phases)
        std::printf("  %-9s %9ld ops %8.3f s %12.0f ops/s  peak %8ld kB\n", p.name.c_str(), p.ops, p.seconds, p.rate(),
                    p.hwm);
}

bool fail(const char *what, long at, int rc) {
    std::fprintf(stderr, "%s failed at %ld: %d\n", what, at, rc);
    return false;
}

// ---- The engine ------------------------------------------------------------------

bool run_engine(long n, const std::string &dir, const std::vector<uint64_t> &load,
                const std::vector<uint64_t> &reads, const std::vector<uint64_t> &changes,
                std::vector<Phase> *out) {
    if (int rc = INTISAMX(kBufs, 8, kSect, kDbufs, 1)) return fail("start-up", 0, rc);
    ISEG snum[1] = {{kNumOff, 8, 0}};
    ISEG sname[1] = {{kNameOff, 20, 0}};
    ISEG scode[1] = {{kCodeOff, 16, 0}};
    IIDX idx[3] = {
        {8, 0, 0, 0, 0, 1, snum, "ByNumber", nullptr, nullptr, nullptr},
        {24, 0, 1, 0, 0, 1, sname, "ByName", "?_name.idx", nullptr, nullptr},
        {16, 0, 0, 0, 0, 1, scode, "ByCode", "?_code.idx", nullptr, nullptr},
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
    for (const char *ext : {".dat", ".idx", "_name.idx", "_code.idx"}) dltfil((base + ext).c_str());
    if (int rc = CREIFILz(&p)) return fail("set creation", 0, rc);
    const int d = ifil.tfilno;
    unsigned char rec[kRecLen], key[8];
    bool ok = true;

    out->push_back(measure("load", [&] {
        for (long i = 0; i < n && ok; i++) {
            make_record(rec, load[size_t(i)], 0);
            if (int rc = ADDREC(d, rec)) ok = fail("ADDREC", i, rc);
        }
        return n;
    }));
    out->push_back(measure("read", [&] {
        for (long i = 0; i < n && ok; i++) {
            put_be(key, reads[size_t(i)]);
            if (int rc = EQLREC(d + 1, key, rec)) ok = fail("EQLREC", i, rc);
        }
        return n;
    }));
    out->push_back(measure("scan", [&] {
        long count = 0;
        int rc = FRSREC(d + 1, rec);
        while (rc == 0) {
            count++;
            rc = NXTREC(d + 1, rec);
        }
        if (rc != 101 || count != n) ok = fail("scan", count, rc);
        return count;
    }));
    const long m = n / 10;
    out->push_back(measure("rewrite", [&] {
        for (long i = 0; i < m && ok; i++) {
            put_be(key, changes[size_t(i)]);
            if (int rc = EQLREC(d + 1, key, rec)) ok = fail("EQLREC", i, rc);
            rec[kNameOff + 12] = '9';
            if (int rc = RWTREC(d, rec)) ok = fail("RWTREC", i, rc);
        }
        return m;
    }));
    out->push_back(measure("delete", [&] {
        for (long i = 0; i < m && ok; i++) {
            put_be(key, changes[size_t(i)]);
            if (int rc = EQLREC(d + 1, key, rec)) ok = fail("EQLREC", i, rc);
            if (int rc = DELREC(d)) ok = fail("DELREC", i, rc);
        }
        return m;
    }));
    const uint32_t left = uint32_t(n - m);
    if (DATENT(d) != left || IDXENT(d + 1) != left || IDXENT(d + 2) != left || IDXENT(d + 3) != left) {
        std::fprintf(stderr, "counts: %u %u %u %u, %u expected\n", DATENT(d), IDXENT(d + 1), IDXENT(d + 2),
                     IDXENT(d + 3), left);
        ok = false;
    }
    if (int rc = DELIFIL(&ifil)) ok = fail("DELIFIL", 0, rc);
    CLISAM();
    return ok;
}

// ---- SQLite ----------------------------------------------------------------------

#ifdef ZV_BENCH_SQLITE

bool exec(sqlite3 *db, const char *sql) {
    char *err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s\n", sql, err ? err : "?");
        sqlite3_free(err);
        return false;
    }
    return true;
}

bool run_sqlite(long n, const std::string &dir, const std::vector<uint64_t> &load,
                const std::vector<uint64_t> &reads, const std::vector<uint64_t> &changes,
                std::vector<Phase> *out) {
    const std::string file = dir + "/isam_bench.sqlite";
    std::remove(file.c_str());
    sqlite3 *db = nullptr;
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) return fail("sqlite3_open", 0, 1);
    const std::string cache = "PRAGMA cache_size=-" + std::to_string(kCacheKB);
    bool ok = exec(db, "PRAGMA journal_mode=OFF") && exec(db, "PRAGMA synchronous=OFF") && exec(db, cache.c_str()) &&
              exec(db, "CREATE TABLE cust(number INTEGER NOT NULL, name BLOB, code BLOB, payload BLOB)") &&
              exec(db, "CREATE UNIQUE INDEX bynumber ON cust(number)") && exec(db, "CREATE INDEX byname ON cust(name)") &&
              exec(db, "CREATE UNIQUE INDEX bycode ON cust(code)");
    sqlite3_stmt *ins, *sel, *scan, *upd, *del, *cnt;
    sqlite3_prepare_v2(db, "INSERT INTO cust VALUES(?,?,?,?)", -1, &ins, nullptr);
    sqlite3_prepare_v2(db, "SELECT number, name, code, payload FROM cust WHERE number=?", -1, &sel, nullptr);
    sqlite3_prepare_v2(db, "SELECT number, name, code, payload FROM cust ORDER BY number", -1, &scan, nullptr);
    sqlite3_prepare_v2(db, "UPDATE cust SET name=? WHERE number=?", -1, &upd, nullptr);
    sqlite3_prepare_v2(db, "DELETE FROM cust WHERE number=?", -1, &del, nullptr);
    sqlite3_prepare_v2(db, "SELECT count(*) FROM cust", -1, &cnt, nullptr);
    unsigned char rec[kRecLen];
    // Reads the record of a number into rec, as the engine's read does.
    auto read_one = [&](uint64_t num) {
        sqlite3_bind_int64(sel, 1, int64_t(num));
        bool found = sqlite3_step(sel) == SQLITE_ROW;
        if (found) {
            put_be(rec + kNumOff, uint64_t(sqlite3_column_int64(sel, 0)));
            memcpy(rec + kNameOff, sqlite3_column_blob(sel, 1), 20);
            memcpy(rec + kCodeOff, sqlite3_column_blob(sel, 2), 16);
            memcpy(rec + kPayloadOff, sqlite3_column_blob(sel, 3), kRecLen - kPayloadOff);
        }
        sqlite3_reset(sel);
        return found;
    };
    out->push_back(measure("load", [&] {
        exec(db, "BEGIN");
        for (long i = 0; i < n && ok; i++) {
            const uint64_t num = load[size_t(i)];
            make_record(rec, num, 0);
            sqlite3_bind_int64(ins, 1, int64_t(num));
            sqlite3_bind_blob(ins, 2, rec + kNameOff, 20, SQLITE_STATIC);
            sqlite3_bind_blob(ins, 3, rec + kCodeOff, 16, SQLITE_STATIC);
            sqlite3_bind_blob(ins, 4, rec + kPayloadOff, kRecLen - kPayloadOff, SQLITE_STATIC);
            if (sqlite3_step(ins) != SQLITE_DONE) ok = fail("INSERT", i, 1);
            sqlite3_reset(ins);
        }
        exec(db, "COMMIT");
        return n;
    }));
    out->push_back(measure("read", [&] {
        exec(db, "BEGIN");
        for (long i = 0; i < n && ok; i++)
            if (!read_one(reads[size_t(i)])) ok = fail("SELECT", i, 1);
        exec(db, "COMMIT");
        return n;
    }));
    out->push_back(measure("scan", [&] {
        exec(db, "BEGIN");
        long count = 0;
        while (sqlite3_step(scan) == SQLITE_ROW) {
            put_be(rec + kNumOff, uint64_t(sqlite3_column_int64(scan, 0)));
            memcpy(rec + kPayloadOff, sqlite3_column_blob(scan, 3), kRecLen - kPayloadOff);
            count++;
        }
        sqlite3_reset(scan);
        exec(db, "COMMIT");
        if (count != n) ok = fail("scan", count, 1);
        return count;
    }));
    const long m = n / 10;
    out->push_back(measure("rewrite", [&] {
        exec(db, "BEGIN");
        for (long i = 0; i < m && ok; i++) {
            const uint64_t num = changes[size_t(i)];
            if (!read_one(num)) ok = fail("SELECT", i, 1);
            rec[kNameOff + 12] = '9';
            sqlite3_bind_blob(upd, 1, rec + kNameOff, 20, SQLITE_STATIC);
            sqlite3_bind_int64(upd, 2, int64_t(num));
            if (sqlite3_step(upd) != SQLITE_DONE) ok = fail("UPDATE", i, 1);
            sqlite3_reset(upd);
        }
        exec(db, "COMMIT");
        return m;
    }));
    out->push_back(measure("delete", [&] {
        exec(db, "BEGIN");
        for (long i = 0; i < m && ok; i++) {
            const uint64_t num = changes[size_t(i)];
            if (!read_one(num)) ok = fail("SELECT", i, 1);
            sqlite3_bind_int64(del, 1, int64_t(num));
            if (sqlite3_step(del) != SQLITE_DONE) ok = fail("DELETE", i, 1);
            sqlite3_reset(del);
        }
        exec(db, "COMMIT");
        return m;
    }));
    long left = -1;
    if (sqlite3_step(cnt) == SQLITE_ROW) left = long(sqlite3_column_int64(cnt, 0));
    if (left != n - m) ok = fail("count", left, 1);
    for (sqlite3_stmt *s : {ins, sel, scan, upd, del, cnt}) sqlite3_finalize(s);
    sqlite3_close(db);
    std::remove(file.c_str());
    return ok;
}

#endif

}  // namespace

int main(int argc, char **argv) {
    const long n = argc > 1 ? std::atol(argv[1]) : 1000000;
    const std::string dir = argc > 2 ? argv[2] : ".";
    if (n < 10) {
        std::fprintf(stderr, "at least 10 records\n");
        return 2;
    }
    // The numbers in load order, the numbers read, and the numbers changed
    // (distinct: each is rewritten once and then deleted once).
    std::vector<uint64_t> load(static_cast<size_t>(n)), reads(static_cast<size_t>(n));
    for (long i = 0; i < n; i++) load[size_t(i)] = uint64_t(i) * 7 + 1;
    uint64_t seed = 20261209;
    for (long i = n - 1; i > 0; i--) std::swap(load[size_t(i)], load[size_t(splitmix(seed) % uint64_t(i + 1))]);
    for (long i = 0; i < n; i++) reads[size_t(i)] = load[size_t(splitmix(seed) % uint64_t(n))];
    std::vector<uint64_t> changes(load.begin(), load.begin() + n / 10);
    std::reverse(changes.begin(), changes.end());

    std::printf("%ld records of %d bytes; cache %ld kB\n", n, kRecLen, kCacheKB);
    std::vector<Phase> engine;
    bool ok = run_engine(n, dir, load, reads, changes, &engine);
    print("Zarvo", engine);
#ifdef ZV_BENCH_SQLITE
    std::vector<Phase> lite;
    ok = run_sqlite(n, dir, load, reads, changes, &lite) && ok;
    print("SQLite", lite);
    std::printf("Zarvo / SQLite (operations per second)\n");
    for (size_t i = 0; i < engine.size() && i < lite.size(); i++)
        std::printf("  %-9s %6.2f\n", engine[i].name.c_str(), lite[i].rate() > 0 ? engine[i].rate() / lite[i].rate() : 0);
#else
    std::printf("SQLite not found at build time: no comparison\n");
#endif
    return ok ? 0 : 1;
}
