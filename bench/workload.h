// The ISAM benchmark's workload, shared by every engine it runs: the
// records, the order of the ids, the phases and what each phase hands back.
//
// A record is 128 bytes:
//   OFFSET SIZE FIELD
//     0    24  name, text shared by about five records (first byte a letter)
//    24     4  id, unsigned, host order, unique
//    28     8  amount, signed, host order, about five records per value
//    36    92  payload derived from the id
// Phases, in order: load (every id, in a seeded random order), reads (one
// read per record, by a random id), walk (every record in name order),
// rewrite (a tenth of the records read by id and written back with a new
// name and a new amount, so that two keys move) and delete (the same
// records read by id and deleted). Each engine keeps the three indexes
// (id unique, name and amount with duplicates) in step with the records.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace bench {

constexpr int kRecLen = 128;
constexpr int kNameOff = 0, kNameLen = 24, kIdOff = 24, kAmountOff = 28, kPayloadOff = 36;
constexpr int kPageSize = 8192;

inline uint64_t mix64(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

inline uint64_t splitmix(uint64_t &s) { return mix64(s += 0x9E3779B97F4A7C15ull); }

inline uint32_t rec_id(const unsigned char *r) {
    uint32_t v;
    memcpy(&v, r + kIdOff, 4);
    return v;
}

inline int64_t rec_amount(const unsigned char *r) {
    int64_t v;
    memcpy(&v, r + kAmountOff, 8);
    return v;
}

// The record of `id` in generation `gen` (0 when loaded, 1 once rewritten):
// a rewrite gives the record another name group and another amount.
inline void make_record(unsigned char *r, uint32_t id, uint32_t gen, uint32_t groups) {
    const uint64_t h = mix64(uint64_t(id) * 0x100000001B3ull + gen);
    const uint32_t group = uint32_t(h % groups);
    char name[kNameLen + 1];
    std::snprintf(name, sizeof name, "customer-%010u-%04u", group, group % 9973);
    memcpy(r + kNameOff, name, kNameLen);
    memcpy(r + kIdOff, &id, 4);
    const int64_t amount = int64_t((h >> 20) % groups) - int64_t(groups / 2);
    memcpy(r + kAmountOff, &amount, 8);
    for (int i = kPayloadOff; i < kRecLen; i++) r[i] = static_cast<unsigned char>('a' + (id + uint32_t(i)) % 26);
}

// Order-free checksum of the records a phase read: engines may return the
// records of equal keys in different orders, and the sum does not care.
inline uint64_t record_sum(const unsigned char *r) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (int i = 0; i < kRecLen; i += 8) {
        uint64_t w;
        memcpy(&w, r + i, 8);
        h = mix64(h ^ w);
    }
    return h;
}

struct Workload {
    long n = 0;
    uint32_t groups = 1;          // name groups and amount values: n / 5
    std::vector<uint32_t> load;   // ids in load order
    std::vector<uint32_t> reads;  // ids read, n of them
    std::vector<uint32_t> changes;  // distinct ids rewritten, then deleted
    // Bytes of the arrays above, which every engine's process holds.
    long array_bytes() const {
        return long((load.capacity() + reads.capacity() + changes.capacity()) * sizeof(uint32_t));
    }
};

constexpr double kMiB = 1024.0 * 1024.0;

// The cache every engine is given: the engine's index nodes and data
// pages, of `page` bytes each (kPageSize unless a larger set needs larger
// buffers to fit); the peers, whose one pool serves both, get the bytes of
// the two together in pages of kPageSize.
struct Config {
    const char *name;
    int32_t nodes;
    int32_t pages;
    bool whole;  // the whole set fits the cache
    int32_t page = kPageSize;
    long cache_bytes() const { return (long(nodes) + pages) * page; }
};

enum Phase { kLoad, kReads, kWalk, kRewrite, kDelete, kPhases };
inline const char *phase_name(int p) {
    static const char *const names[kPhases] = {"load", "reads", "walk", "rewrite", "delete"};
    return names[p];
}
inline long phase_ops(const Workload &w, int p) {
    return p == kLoad || p == kReads || p == kWalk ? w.n : long(w.changes.size());
}

struct PhaseResult {
    double seconds = 0;
    long peak_kb = 0;    // peak resident memory during the phase
    uint64_t sum = 0;    // checksum of the records read
};

struct RunResult {
    int ok = 0;  // 1 when every call succeeded and the final counts matched
    PhaseResult phase[kPhases];
};

// Phase timing and peak memory of the calling process (see isam_bench.cpp).
class PhaseClock {
public:
    explicit PhaseClock(RunResult *out) : out_(out) {}
    void start();
    void stop(int phase, uint64_t sum);

private:
    RunResult *out_;
    double t0_ = 0;
};

void report_failure(const char *engine, const char *what, long at, long code);

// Visits `ids` in order while `ok` holds: step(id, i) does the work for one
// id and returns the checksum of the record it read; returns their sum.
template <class Step>
uint64_t visit(const std::vector<uint32_t> &ids, const bool &ok, Step step) {
    uint64_t sum = 0;
    for (size_t i = 0; i < ids.size() && ok; i++) sum += step(ids[i], long(i));
    return sum;
}

// One engine's run of the whole workload in files under `dir`. Each returns
// false when the engine could not be set up; failures during the phases
// clear RunResult::ok.
bool run_zarvo(const Workload &w, const Config &c, const std::string &dir, RunResult *out);
bool run_sqlite(const Workload &w, const Config &c, const std::string &dir, RunResult *out);
bool run_lmdb(const Workload &w, const Config &c, const std::string &dir, RunResult *out);
bool run_bdb(const Workload &w, const Config &c, const std::string &dir, RunResult *out);
// The same workload on the engine through the record-level API (zvdb calls).
bool run_recapi(const Workload &w, const Config &c, const std::string &dir, RunResult *out);

}  // namespace bench
