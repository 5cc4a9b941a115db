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

}  // namespace bench
