// Seeded corruption of small files: a variable-length data file with
// resources, an index of 2000 keys with a duplicate-key member, and two
// file sets (fixed and variable-length records, three indexes each). Each
// run damages one file of one of them (random bytes; bytes set to 0x00,
// 0xFF, 0x7F or 0x80; a truncation; a zeroed 512-byte block; two blocks
// swapped), then opens it, walks every index both ways, reads by key,
// adds, rewrites, deletes, closes and opens it again. Whatever the damage:
//  - every call returns (a watchdog ends the process when a run passes its
//    limit), and the sanitizers find nothing;
//  - no walk hands out more keys than the index holds;
//  - no keyed read answers 0 with a record that does not carry its key.
// The suite runs kRuns runs; ZV_CORRUPTION_RUNS asks for more and
// ZV_CORRUPTION_SEED for another seed.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/highword.h"
#include "tests/reliability/relfix.h"

namespace {

using namespace reltest;

constexpr long kRuns = 160;
constexpr int kLimitSeconds = 30;
constexpr uint32_t kIndexKeys = 2000;
constexpr uint32_t kSetRecords = 150;

long env_long(const char *name, long dflt) {
    const char *v = getenv(name);
    return v && *v ? strtol(v, nullptr, 10) : dflt;
}

// Ends the process when a run does not end within its limit: a call that
// never returns cannot be reported any other way.
class Watchdog {
public:
    Watchdog() : thread_([this] { watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> l(m_);
            stop_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    void arm(const std::string &what, int seconds) {
        std::lock_guard<std::mutex> l(m_);
        what_ = what;
        deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        armed_ = true;
        cv_.notify_all();
    }
    void disarm() {
        std::lock_guard<std::mutex> l(m_);
        armed_ = false;
    }

private:
    void watch() {
        std::unique_lock<std::mutex> l(m_);
        while (!stop_) {
            if (armed_ && std::chrono::steady_clock::now() >= deadline_) {
                fprintf(stderr, "corruption run did not end within %d s: %s\n", kLimitSeconds, what_.c_str());
                fflush(stderr);
                std::_Exit(3);
            }
            cv_.wait_for(l, std::chrono::milliseconds(100));
        }
    }
    std::mutex m_;
    std::condition_variable cv_;
    bool stop_ = false, armed_ = false;
    std::string what_;
    std::chrono::steady_clock::time_point deadline_;
    std::thread thread_;
};

// Big-endian key of 8 bytes.
std::string key8(uint64_t v) {
    std::string k(8, '\0');
    for (int i = 0; i < 8; i++) k[size_t(i)] = char(v >> (56 - 8 * i));
    return k;
}

// One damage of one file; its description.
std::string mutate(std::mt19937 &rng, const std::string &path) {
    std::string b = zvtest::read_file(path);
    if (b.empty()) return path + ": empty";
    auto pick_offset = [&]() -> size_t {
        switch (rng() % 3) {
        case 0: return rng() % std::min<size_t>(b.size(), 1024);           // a header
        case 1: return (rng() % (b.size() / 512 + 1)) * 512 + rng() % 28;  // a node or page head
        default: return rng() % b.size();
        }
    };
    char what[160];
    switch (rng() % 6) {
    case 0: {
        size_t at = pick_offset(), n = 1 + rng() % 4;
        for (size_t i = 0; i < n && at + i < b.size(); i++) b[at + i] = char(rng());
        snprintf(what, sizeof what, "%zu random bytes at %zu", n, at);
        break;
    }
    case 1:
    case 2: {
        static const unsigned char kFills[] = {0x00, 0xFF, 0x7F, 0x80};
        unsigned char v = kFills[rng() % 4];
        size_t at = pick_offset(), n = 1 + rng() % 4;
        for (size_t i = 0; i < n && at + i < b.size(); i++) b[at + i] = char(v);
        snprintf(what, sizeof what, "%zu bytes of %02x at %zu", n, v, at);
        break;
    }
    case 3: {
        size_t n = rng() % b.size();
        b.resize(n);
        snprintf(what, sizeof what, "cut to %zu bytes", n);
        break;
    }
    case 4: {
        size_t at = (rng() % (b.size() / 512 + 1)) * 512;
        for (size_t i = at; i < at + 512 && i < b.size(); i++) b[i] = 0;
        snprintf(what, sizeof what, "block at %zu zeroed", at);
        break;
    }
    default: {
        size_t blocks = b.size() / 512;
        if (blocks < 2) return mutate(rng, path);
        size_t x = rng() % blocks, y = rng() % blocks;
        for (size_t i = 0; i < 512; i++) std::swap(b[x * 512 + i], b[y * 512 + i]);
        snprintf(what, sizeof what, "blocks at %zu and %zu swapped", x * 512, y * 512);
        break;
    }
    }
    zvtest::write_file(path, b);
    return path + ": " + what;
}

class CorruptionTest : public RelTest {
protected:
    // The four subjects, made and saved under tpl/.
    void build() {
        build_varfile();
        build_index();
        for (bool variable : {false, true}) build_set(variable);
        save_files("tpl");
    }

    // A variable-length file with resources: 40 records (every fourth
    // freed again, so that the space index holds areas) and five
    // resources.
    void build_varfile() {
        ASSERT_EQ(CREDATX8(1, "var.dat", 8, 0, 0x804, 0, nullptr, nullptr, nullptr), 0);
        ASSERT_EQ(ENARES(1), 0);
        for (uint32_t n = 1; n <= 5; n++) {
            std::string body = resource(n);
            ASSERT_EQ(ADDRES(1, body.data(), int32_t(body.size())), 0);
        }
        for (uint32_t n = 1; n <= 40; n++) {
            std::string r = varrec(n);
            uint32_t pos = NEWVREC(1, int32_t(r.size()));
            ASSERT_NE(pos, 0u);
            ASSERT_EQ(WRTVREC(1, pos, r.data(), int32_t(r.size())), 0);
            varpos_.push_back(pos);
        }
        for (size_t i = 3; i < varpos_.size(); i += 4) ASSERT_EQ(RETVREC(1, varpos_[i]), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
    }
    static std::string resource(uint32_t n) {
        std::string body(8 + 40, 'r');
        uint32_t type = 0x10000 + n % 2, number = n;
        memcpy(body.data(), &type, 4);
        memcpy(body.data() + 4, &number, 4);
        return body;
    }
    static std::string varrec(uint32_t n) { return image(rec(n), 10 + n * 7 % 90); }

    // An index of kIndexKeys unique keys with a duplicate-key member
    // holding as many (300 distinct values).
    void build_index() {
        ASSERT_EQ(CREIDX(1, "key.idx", 8, 0, 0, 1, 0, 0), 0);
        ASSERT_EQ(CREMEM(1, 12, 0, 1, 1), 0);
        for (uint32_t i = 1; i <= kIndexKeys; i++) {
            zvSETHGH(0);
            ASSERT_EQ(ADDKEY(1, key8(uint64_t(i) * 7919 % 100003).data(), i * 16, 0), 0);
            zvSETHGH(0);
            ASSERT_EQ(ADDKEY(2, key8(i % 300).data(), i * 16, 0), 0);
        }
        ASSERT_EQ(CLSFIL(1, 0), 0);
    }

    void build_set(bool variable) {
        SetDef def(variable ? "vset" : "fset", variable);
        ASSERT_EQ(CREIFIL(&def.ifil), 0);
        const int d = def.ifil.tfilno;
        for (uint32_t n = 1; n <= kSetRecords; n++) {
            std::string r = image(rec(n), variable ? n * 13 % 120 : 0);
            ASSERT_EQ(variable ? ADDVREC(d, r.data(), int32_t(r.size())) : ADDREC(d, r.data()), 0);
        }
        ASSERT_EQ(CLIFIL(&def.ifil), 0);
    }

    // ---- The runs ------------------------------------------------------------

    void finding(const std::string &f) { findings_.push_back(f); }

    // Walks index ix both ways; more than `keys` keys is a finding.
    void walk_keys(int ix, uint64_t keys, const char *what) {
        unsigned char k[64];
        for (int dir = 0; dir < 2; dir++) {
            uint64_t steps = 0;
            uint32_t pos = dir ? LSTKEY(ix, k) : FRSKEY(ix, k);
            while ((pos || zvGETHGH()) && steps <= keys) {
                steps++;
                pos = dir ? PRVKEY(ix, k) : NXTKEY(ix, k);
            }
            if (steps > keys) finding(std::string(what) + (dir ? ": backward" : ": forward") + " walk passed " +
                                      std::to_string(keys) + " keys");
        }
    }

    void run_varfile(std::mt19937 &rng) {
        if (OPNFIL(1, "var.dat", 0x804) != 0) return;
        opened_++;
        std::string buf(512, '\0');
        for (uint32_t pos : varpos_) RDVREC(1, pos, buf.data(), int32_t(buf.size()));
        for (uint32_t n = 1; n <= 6; n++) {
            std::string key = resource(n).substr(0, 8);
            GETRES(1, key.data(), buf.data(), int32_t(buf.size()), 1);
        }
        std::string body = resource(9);
        ADDRES(1, body.data(), int32_t(body.size()));
        for (uint32_t n = 41; n <= 44; n++) {
            std::string r = varrec(n);
            if (uint32_t pos = NEWVREC(1, int32_t(r.size()))) WRTVREC(1, pos, r.data(), int32_t(r.size()));
        }
        for (int i = 0; i < 3; i++) RETVREC(1, varpos_[rng() % varpos_.size()]);
        CLSFIL(1, 0);
        if (OPNFIL(1, "var.dat", 0x804) == 0) {
            for (uint32_t pos : varpos_) RDVREC(1, pos, buf.data(), int32_t(buf.size()));
            CLSFIL(1, 0);
        }
    }

    void run_index(std::mt19937 &rng) {
        if (OPNFIL(1, "key.idx", 0) != 0) return;
        opened_++;
        walk_keys(1, kIndexKeys, "unique index");
        walk_keys(2, kIndexKeys, "duplicate-key member");
        for (int i = 0; i < 30; i++) {
            uint32_t v = 1 + rng() % kIndexKeys;
            EQLKEY(1, key8(uint64_t(v) * 7919 % 100003).data());
        }
        for (uint32_t i = 0; i < 12; i++) {
            zvSETHGH(0);
            ADDKEY(1, key8(200000 + i).data(), 99 * 16 + i, 0);
            zvSETHGH(0);
            ADDKEY(2, key8(i % 7).data(), 50000 + i * 16, 0);
            uint32_t v = 1 + rng() % kIndexKeys;
            DELCHK(1, key8(uint64_t(v) * 7919 % 100003).data(), v * 16);
        }
        CLSFIL(1, 0);
        if (OPNFIL(1, "key.idx", 0) == 0) {
            walk_keys(1, kIndexKeys + 12, "unique index after the reopen");
            walk_keys(2, kIndexKeys + 12, "duplicate-key member after the reopen");
            CLSFIL(1, 0);
        }
    }

    // A keyed read of set d: -1 when it did not answer 0, else the record
    // (fixed part) in *r.
    int keyed(bool variable, int ix, const std::string &t, bool gte, Rec *r) {
        unsigned char buf[512];
        int32_t len = int32_t(sizeof buf);
        int rc = variable ? (gte ? GTEVREC(ix, t.data(), buf, &len) : EQLVREC(ix, t.data(), buf, &len))
                          : (gte ? GTEREC(ix, t.data(), buf) : EQLREC(ix, t.data(), buf));
        if (rc) return -1;
        if (variable && len < int32_t(sizeof(Rec))) {
            finding("a variable-length read answered 0 with " + std::to_string(len) + " bytes");
            return -1;
        }
        memcpy(r, buf, sizeof *r);
        return 0;
    }

    void run_set(bool variable, std::mt19937 &rng) {
        SetDef def(variable ? "vset" : "fset", variable);
        if (OPNIFIL(&def.ifil) != 0) return;
        opened_++;
        const int d = def.ifil.tfilno;
        for (int k = 0; k < 3; k++) walk_keys(d + 1 + k, kSetRecords, "set index");
        // Records in the order of each index, both ways, and in the order of
        // the data file (-1).
        for (int k = -1; k < 3; k++) {
            for (int dir = 0; dir < 2; dir++) {
                if (k < 0 && dir && variable) continue;  // a variable-length file is walked forward only
                const int f = d + 1 + k;
                unsigned char buf[512];
                int32_t len = int32_t(sizeof buf);
                uint64_t steps = 0;
                int rc = variable ? (dir ? LSTVREC(f, buf, &len) : FRSVREC(f, buf, &len))
                                  : (dir ? LSTREC(f, buf) : FRSREC(f, buf));
                while (rc == 0 && steps <= kSetRecords) {
                    steps++;
                    len = int32_t(sizeof buf);
                    rc = variable ? (dir ? PRVVREC(f, buf, &len) : NXTVREC(f, buf, &len))
                                  : (dir ? PRVREC(f, buf) : NXTREC(f, buf));
                }
                if (steps > kSetRecords) finding("a record walk passed " + std::to_string(kSetRecords) + " records");
            }
        }
        // Keyed reads answer records that carry their keys.
        for (int i = 0; i < 25; i++) {
            uint32_t n = 1 + rng() % kSetRecords;
            Rec r;
            if (keyed(variable, d + 1, num(n), false, &r) == 0 && r.number != n)
                finding("read by number " + std::to_string(n) + " answered record " + std::to_string(r.number));
            std::string nm = name_of(n);
            if (keyed(variable, d + 3, nm, false, &r) == 0 && memcmp(r.name, nm.data(), sizeof r.name) != 0)
                finding("read by name of " + std::to_string(n) + " answered another name");
            std::string c = city_of(rec(n).city);
            if (keyed(variable, d + 2, c, true, &r) == 0 && memcmp(r.city, c.data(), sizeof r.city) < 0)
                finding("read from city " + c + " answered a city below it");
        }
        // Adds, rewrites (keys moved) and deletes.
        for (uint32_t i = 0; i < 3; i++) {
            std::string a = image(rec(kSetRecords + 1 + i), variable ? 30 : 0);
            variable ? ADDVREC(d, a.data(), int32_t(a.size())) : ADDREC(d, a.data());
            Rec r;
            if (keyed(variable, d + 1, num(1 + rng() % kSetRecords), false, &r) == 0) {
                r.number += 1000;
                std::string w = image(r, variable ? 200 : 0);
                variable ? RWTVREC(d, w.data(), int32_t(w.size())) : RWTREC(d, w.data());
            }
            if (keyed(variable, d + 1, num(1 + rng() % kSetRecords), false, &r) == 0) variable ? DELVREC(d) : DELREC(d);
        }
        CLIFIL(&def.ifil);
        if (OPNIFIL(&def.ifil) == 0) {
            walk_keys(def.ifil.tfilno + 1, kSetRecords + 3, "set index after the reopen");
            CLIFIL(&def.ifil);
        }
    }

    std::vector<uint32_t> varpos_;
    long opened_ = 0;  // runs whose damaged file opened
    std::vector<std::string> findings_;
};

TEST_F(CorruptionTest, DamagedFilesEndInCodes) {
    build();
    if (HasFatalFailure()) return;
    const long runs = env_long("ZV_CORRUPTION_RUNS", kRuns);
    const unsigned seed = unsigned(env_long("ZV_CORRUPTION_SEED", 20));
    static const std::vector<std::string> kFiles[4] = {
        {"var.dat"}, {"key.idx"}, {"fset.dat", "fset.idx", "fset_nm.idx"}, {"vset.dat", "vset.idx", "vset_nm.idx"}};
    Watchdog dog;
    auto longest = std::chrono::steady_clock::duration::zero();
    for (long run = 0; run < runs; run++) {
        std::mt19937 rng(seed * 7919u + unsigned(run));
        const int subject = int(run % 4);
        restart(3, 3);
        restore_files("tpl");
        const auto &files = kFiles[subject];
        const std::string what =
            "seed " + std::to_string(seed) + " run " + std::to_string(run) + ", " + mutate(rng, files[rng() % files.size()]);
        SCOPED_TRACE(what);
        findings_.clear();
        const auto start = std::chrono::steady_clock::now();
        dog.arm(what, kLimitSeconds);
        switch (subject) {
        case 0: run_varfile(rng); break;
        case 1: run_index(rng); break;
        default: run_set(subject == 3, rng); break;
        }
        dog.disarm();
        longest = std::max(longest, std::chrono::steady_clock::now() - start);
        for (const std::string &f : findings_) ADD_FAILURE() << f;
    }
    // Most damage leaves a file that opens: the runs reach the walks,
    // reads and changes, not only the open's refusals.
    EXPECT_GT(opened_, runs / 2);
    RecordProperty("runs", int(runs));
    RecordProperty("opened", int(opened_));
    RecordProperty("longest run ms", int(std::chrono::duration_cast<std::chrono::milliseconds>(longest).count()));
}

}  // namespace
