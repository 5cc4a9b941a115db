// Index benchmark: inserts 1,000,000 random 8-byte keys into a new index,
// then finds each of them with EQLKEY, and prints both times. A measurement
// for release builds, not a test.
//
//   index_bench [keys] [directory]
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "zarvo/zarvo.h"

namespace {

uint64_t splitmix(uint64_t &s) {
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void put_key(unsigned char *k, uint64_t v) {
    for (int i = 0; i < 8; i++) k[i] = static_cast<unsigned char>(v >> (56 - 8 * i));
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char **argv) {
    const long n = argc > 1 ? std::atol(argv[1]) : 1000000;
    const std::string dir = argc > 2 ? argv[2] : ".";
    const std::string name = dir + "/index_bench.idx";
    dltfil(name.c_str());
    // 8192 node buffers of 4096 bytes hold the whole tree.
    if (int rc = INTREEX(8192, 8, 32, 64, 33)) {
        std::fprintf(stderr, "start-up failed: %d\n", rc);
        return 1;
    }
    if (int rc = CREIDX(1, name.c_str(), 8, 0, 0, 0, 65536, 0)) {
        std::fprintf(stderr, "index creation failed: %d\n", rc);
        return 1;
    }
    std::vector<uint64_t> keys(static_cast<size_t>(n));
    uint64_t seed = 20261209;
    for (auto &k : keys) k = splitmix(seed);

    unsigned char key[8];
    long dup = 0;
    auto t0 = std::chrono::steady_clock::now();
    for (long i = 0; i < n; i++) {
        put_key(key, keys[size_t(i)]);
        int rc = ADDKEY(1, key, uint32_t(i + 1), 0);
        if (rc == 2) dup++;
        else if (rc) {
            std::fprintf(stderr, "ADDKEY failed at %ld: %d\n", i, rc);
            return 1;
        }
    }
    double tin = seconds_since(t0);

    long found = 0;
    t0 = std::chrono::steady_clock::now();
    for (long i = 0; i < n; i++) {
        put_key(key, keys[size_t(i)]);
        if (EQLKEY(1, key)) found++;
    }
    double tfind = seconds_since(t0);

    std::printf("insert %ld random 8-byte keys: %.3f s (%.0f keys/s), %ld equal keys refused\n", n, tin,
                double(n) / tin, dup);
    std::printf("find   %ld keys with EQLKEY:   %.3f s (%.0f keys/s), %ld found\n", n, tfind,
                double(n) / tfind, found);
    std::printf("keys in the index: %" PRIu32 "\n", IDXENT(1));
    CLSFIL(1, 0);
    STPUSR();
    dltfil(name.c_str());
    return found + dup == n ? 0 : 1;
}
