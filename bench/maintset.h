// The set of the maintenance benchmarks: fixed-length records of 64 bytes
// with three indexes (a unique 4-byte number, a member index of 24-byte
// city keys with duplicates, a unique 24-byte name in a file of its own),
// the records in a scattered key order so that the sort works, and the
// clock and failure report the programs share.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "zarvo/zarvo.h"

namespace bench {

struct MaintRec {
    char tag[4];
    uint32_t number;
    char city[20];
    char name[24];
    uint32_t amount;
    char pad[8];
};
static_assert(sizeof(MaintRec) == 64, "a record is 64 bytes");

inline double now_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline int fail(const char *program, const char *what, int rc) {
    fprintf(stderr, "%s: %s failed: %d\n", program, what, rc);
    return 1;
}

// Reads "[--records N] [directory]": 0, or 2 after the usage line.
inline int parse_args(int argc, char **argv, const char *program, uint32_t *records, std::string *dir) {
    for (int i = 1; i < argc; i++) {
        if (!strcmp(argv[i], "--records") && i + 1 < argc) {
            *records = uint32_t(strtoul(argv[++i], nullptr, 10));
        } else if (argv[i][0] == '-') {
            fprintf(stderr, "usage: %s [--records N] [directory]\n", program);
            return 2;
        } else {
            *dir = argv[i];
        }
    }
    return 0;
}

// Record k (from 1) of the set.
inline MaintRec maint_record(uint32_t k) {
    static const char *const cities[] = {"Bern", "Oslo", "Lima", "Riga", "Kiel", "Graz", "Turku"};
    MaintRec r;
    memset(&r, ' ', sizeof r);
    memcpy(r.tag, "REC", 3);
    const uint32_t n = uint32_t((uint64_t(k) * 2654435761u) % 4294967291u);
    r.number = n;
    snprintf(r.city, sizeof r.city, "%-19s", cities[k % 7]);
    snprintf(r.name, sizeof r.name, "N%010u-%08u", n, k);
    r.amount = k;
    return r;
}

// The definition of the set <base>.dat, <base>.idx and the name index file.
struct MaintSet {
    std::string base, nm;
    ISEG s0[1] = {{4, 4, 1}}, s1[1] = {{8, 20, 0}}, s2[1] = {{28, 24, 0}};
    IIDX idx[3];
    IFIL ifil;
    MaintSet(const std::string &dir, const char *name) : base(dir + "/" + name), nm(base + "_nm.idx") {
        idx[0] = IIDX{4, 0, 0, 0, 0, 1, s0, nullptr, nullptr, nullptr, nullptr};
        idx[1] = IIDX{24, 0, 1, 0, 0, 1, s1, nullptr, nullptr, nullptr, nullptr};
        idx[2] = IIDX{24, 0, 0, 0, 0, 1, s2, nullptr, nm.c_str(), nullptr, nullptr};
        ifil = IFIL{base.c_str(), -1, 64, 0, 0, 3, 0, 0, idx, nullptr, nullptr, 0};
    }
    MaintSet(const MaintSet &) = delete;
    MaintSet &operator=(const MaintSet &) = delete;
    // Opens the set, checks that the data file and each index hold `want`
    // records or keys, closes it and stops the engine: 0, or 1 after a
    // report naming the step.
    int check_counts(const char *program, const char *step, uint32_t want) {
        ifil.tfilno = -1;
        if (int rc = OPNIFIL(&ifil)) return fail(program, "open", rc);
        uint32_t keys[3];
        for (int k = 0; k < 3; k++) {
            zvSETHGH(0);
            keys[k] = IDXENT(ifil.tfilno + 1 + k);
        }
        zvSETHGH(0);
        const uint32_t datent = DATENT(ifil.tfilno);
        CLIFIL(&ifil);
        CLISAM();
        remove_files();
        if (datent == want && keys[0] == want && keys[1] == want && keys[2] == want) return 0;
        fprintf(stderr, "%s: %u records, keys %u %u %u after the %s\n", program, datent, keys[0], keys[1], keys[2],
                step);
        return 1;
    }
    void remove_files() const {
        for (const std::string &f : {base + ".dat", base + ".idx", nm}) remove(f.c_str());
    }
};

// The engine's memory in the maintenance benchmarks: 4,096 index nodes and
// 4,096 data pages of 4,096 bytes, and the sort's default budget of
// 100,000 KB.
constexpr int32_t kMaintNodes = 4096, kMaintPages = 4096, kMaintSect = 32;
constexpr long kMaintSortKb = 100000;
constexpr long maint_memory_bytes() { return (long(kMaintNodes) + kMaintPages) * kMaintSect * 128 + kMaintSortKb * 1024; }

// Seconds of the engine's maintenance runs on `records` records.
struct MaintTimes {
    double write = 0;  // writing the records (and, for the compaction, the deletes and the rebuild before it)
    double run = 0;    // the rebuild or the compaction itself
};

// Starts the engine, creates the set and writes `records` records without
// their keys; with `half`, every other one is freed again and the set
// rebuilt, so that it is consistent with half its slots deleted. Closes the
// set and leaves the engine running. 0, or 1 after a report.
inline int write_set(const char *me, MaintSet &set, uint32_t records, bool half, uint32_t *live) {
    set.remove_files();
    IFIL &ifil = set.ifil;
    if (int rc = INTISAMX(kMaintNodes, 64, kMaintSect, kMaintPages, 32)) return fail(me, "start-up", rc);
    if (int rc = CREIFIL(&ifil)) return fail(me, "create", rc);
    const int d = ifil.tfilno;
    std::vector<uint32_t> freed;
    if (half) freed.reserve(records / 2 + 1);
    for (uint32_t k = 1; k <= records; k++) {
        MaintRec r = maint_record(k);
        zvSETHGH(0);
        uint32_t pos = NEWREC(d);
        if (!pos) return fail(me, "NEWREC", zvGetUserErrorCode());
        if (int rc = WRTREC(d, pos, &r)) return fail(me, "WRTREC", rc);
        if (half && k % 2 == 0) freed.push_back(pos);
    }
    for (uint32_t pos : freed) {
        zvSETHGH(0);
        if (int rc = RETREC(d, pos)) return fail(me, "RETREC", rc);
    }
    if (int rc = CLIFIL(&ifil)) return fail(me, "close", rc);
    if (half) {
        ifil.tfilno = -1;
        if (int rc = RBLIFIL(&ifil)) return fail(me, "rebuild", rc);
    }
    *live = records - uint32_t(freed.size());
    return 0;
}

// Writes the set (half of it deleted for a compaction) and times its set
// rebuild (RBLIFIL) or its compaction (CMPIFIL), then checks the counts and
// removes the files. 0, or 1 after a report.
inline int time_maintenance(const char *me, const std::string &dir, uint32_t records, bool compaction,
                            MaintTimes *t) {
    MaintSet set(dir, compaction ? "cmpbench" : "rblbench");
    uint32_t live = 0;
    const double t0 = now_seconds();
    if (int rc = write_set(me, set, records, compaction, &live)) return rc;
    const double t1 = now_seconds();
    set.ifil.tfilno = -1;
    if (int rc = compaction ? CMPIFIL(&set.ifil) : RBLIFIL(&set.ifil))
        return fail(me, compaction ? "compaction" : "rebuild", rc);
    const double t2 = now_seconds();
    t->write = t1 - t0;
    t->run = t2 - t1;
    return set.check_counts(me, compaction ? "compaction" : "rebuild", live);
}

// Seconds of the peer's operations on an equal table.
struct PeerMaintTimes {
    double create_index = 0;  // the three indexes made on the filled table
    double reindex = 0;       // the three indexes rebuilt
    double vacuum = 0;        // the table compacted with half its rows deleted
};

#ifdef ZV_BENCH_SQLITE
// The operations on SQLite (maint_sqlite.cpp): true when each succeeded.
bool sqlite_maintenance(const std::string &dir, uint32_t records, long cache_bytes, PeerMaintTimes *t);
#endif

}  // namespace bench
