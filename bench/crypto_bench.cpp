// Cryptography benchmark: MB/s of every cipher of the cipher context in
// ECB, CBC and OFB, encrypting 2048-byte units (the unit of file
// encryption) through one prepared context, and of MD5, SHA-1, SHA-256,
// SHA-512 and CRC-32 on the same units; beside each, the same algorithm,
// mode and unit size through `openssl speed -evp` when the openssl command
// is installed, and zlib's crc32 beside CRC-32 when zlib was found at build
// time. A measurement for release builds, not a test.
//
//   crypto_bench [--mb N] [--runs R] [--seconds S]
//
// Each figure is the median of R measurements (3 by default) of N MB (64)
// for this library and of S seconds (1) for openssl, taken in turns. Both
// sides divide by processor time, as openssl speed does by default, so that
// other jobs on the machine move the figures less; MB is 10^6 bytes, as
// openssl counts. The goal column marks the algorithms held to at least
// 0.8 times their peer.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "zarvo/qvs.h"

#ifdef ZV_BENCH_ZLIB
#include <zlib.h>
#endif

namespace {

constexpr int kUnit = 2048;
constexpr double kGoal = 0.8;

double cpu_seconds() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// MB/s of `step` run over `bytes` bytes, one 2048-byte unit per call.
template <typename F>
double rate(long bytes, F &&step) {
    const double t0 = cpu_seconds();
    for (long done = 0; done < bytes; done += kUnit) step();
    const double s = cpu_seconds() - t0;
    return s > 0 ? double(bytes) / 1e6 / s : 0;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool g_have_openssl = false;
int g_seconds = 1;

// MB/s of `openssl speed -evp alg` on 2048-byte units (its machine-readable
// "+F:" line gives bytes per second); 0 when it cannot be had.
double openssl_rate(const char *alg, bool legacy) {
    if (!g_have_openssl || !alg) return 0;
    char cmd[256];
    std::snprintf(cmd, sizeof cmd, "openssl speed -mr %s -evp %s -bytes %d -seconds %d 2>/dev/null",
                  legacy ? "-provider legacy -provider default" : "", alg, kUnit, g_seconds);
    FILE *p = popen(cmd, "r");
    if (!p) return 0;
    char line[512];
    double bps = 0;
    while (std::fgets(line, sizeof line, p))
        if (std::strncmp(line, "+F:", 3) == 0) {
            const char *last = std::strrchr(line, ':');
            if (last) bps = std::atof(last + 1);
        }
    pclose(p);
    return bps / 1e6;
}

struct Row {
    std::string name, mode, peer;
    double ours, theirs;
    bool goal;
};

std::vector<Row> g_rows;

// R turns of (ours, peer); the medians go into the table.
template <typename Ours, typename Theirs>
void measure(const std::string &name, const std::string &mode, const std::string &peer, bool goal, int runs,
             Ours &&ours, Theirs &&theirs) {
    std::vector<double> a, b;
    for (int r = 0; r < runs; r++) {
        a.push_back(ours());
        b.push_back(theirs());
    }
    g_rows.push_back({name, mode, peer, median(a), median(b), goal});
    std::fprintf(stderr, "  %s %s\n", name.c_str(), mode.c_str());
}

}  // namespace

int main(int argc, char **argv) {
    long mb = 64;
    int runs = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--mb")) mb = std::atol(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--runs")) runs = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seconds")) g_seconds = std::atoi(argv[i + 1]);
        else break;
    }
    if (mb < 1 || runs < 1 || g_seconds < 1 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: crypto_bench [--mb N] [--runs R] [--seconds S]\n");
        return 2;
    }
    g_have_openssl = std::system("openssl version >/dev/null 2>&1") == 0;
    const long bytes = mb * 1000000;
    std::vector<unsigned char> unit(kUnit);
    for (int i = 0; i < kUnit; i++) unit[size_t(i)] = static_cast<unsigned char>(i * 7);
    unsigned char key[32], iv[16];
    for (int i = 0; i < 32; i++) key[i] = static_cast<unsigned char>(0xA0 + i);
    for (int i = 0; i < 16; i++) iv[i] = static_cast<unsigned char>(i);

    // openssl's names per mode ("%s" the mode); RIJ has AES's rounds, so
    // AES is its peer. Twofish and MDC have none in openssl.
    const struct {
        const char *name;
        int alg, keylen;
        const char *peer;
        bool legacy, goal;
    } ciphers[] = {
        {"AES-256", QVS_AES, 32, "aes-256-%s", false, true},
        {"AES-128", QVS_AES, 16, "aes-128-%s", false, false},
        {"RIJ-256", QVS_RIJ, 32, "aes-256-%s", false, false},
        {"DES", QVS_DES, 8, "des-%s", true, false},
        {"triple DES (3 keys)", QVS_DES, 24, "des-ede3-%s", false, false},
        {"Blowfish-128", QVS_BLOWFISH, 16, "bf-%s", true, false},
        {"Twofish-256", QVS_TWOFISH, 32, nullptr, false, false},
        {"MDC-32", QVS_MDC, 32, nullptr, false, false},
    };
    const char *modes[3] = {"ecb", "cbc", "ofb"};
    std::fprintf(stderr, "measuring (%d runs of %ld MB each, openssl %d s each)\n", runs, mb, g_seconds);
    for (const auto &c : ciphers)
        for (int mode = 0; mode < 3; mode++) {
            QVSCTX ctx;
            if (QVSInit(&ctx, c.alg, mode, key, c.keylen, iv, 16) != QVS_OK) {
                std::fprintf(stderr, "%s %s: set-up failed\n", c.name, modes[mode]);
                return 1;
            }
            std::string peer;
            if (c.peer) {
                char buf[64];
                std::snprintf(buf, sizeof buf, c.peer, modes[mode]);
                peer = buf;
            }
            std::string m = modes[mode];
            for (char &ch : m) ch = char(std::toupper(static_cast<unsigned char>(ch)));
            measure(
                c.name, m, peer, c.goal, runs,
                [&] { return rate(bytes, [&] { QVSEncrypt(&ctx, unit.data(), kUnit); }); },
                [&] { return openssl_rate(c.peer ? peer.c_str() : nullptr, c.legacy); });
            QVSFinal(&ctx);
        }

    unsigned char out[64];
    measure(
        "MD5", "", "md5", false, runs,
        [&] {
            QVSMD5CTX s;
            MD5Init(&s);
            double r = rate(bytes, [&] { MD5Update(&s, unit.data(), kUnit); });
            MD5Final(out, &s);
            return r;
        },
        [&] { return openssl_rate("md5", false); });
    measure(
        "SHA-1", "", "sha1", true, runs,
        [&] {
            QVSSHA1CTX s;
            SHAInit(&s);
            double r = rate(bytes, [&] { SHAUpdate(&s, unit.data(), kUnit); });
            SHAFinal(out, &s);
            return r;
        },
        [&] { return openssl_rate("sha1", false); });
    for (int size : {32, 64})
        measure(
            size == 32 ? "SHA-256" : "SHA-512", "", size == 32 ? "sha256" : "sha512", size == 32, runs,
            [&] {
                QVSSHA2CTX s;
                SHA2Init(&s, size);
                double r = rate(bytes, [&] { SHA2Update(&s, unit.data(), kUnit); });
                SHA2Final(out, &s);
                return r;
            },
            [&] { return openssl_rate(size == 32 ? "sha256" : "sha512", false); });
    uint32_t crc = 0;
#ifdef ZV_BENCH_ZLIB
    uLong zcrc = 0;
    measure(
        "CRC-32", "", "zlib crc32", true, runs,
        [&] { return rate(bytes, [&] { crc = crc32buffer(unit.data(), kUnit, crc); }); },
        [&] { return rate(bytes, [&] { zcrc = ::crc32(zcrc, unit.data(), kUnit); }); });
    if (zcrc != crc) std::fprintf(stderr, "CRC-32 differs from zlib's: %08x %08lx\n", crc, zcrc);
#else
    measure(
        "CRC-32", "", "", true, runs, [&] { return rate(bytes, [&] { crc = crc32buffer(unit.data(), kUnit, crc); }); },
        [] { return 0.0; });
#endif

    std::printf("\nCryptography: MB/s (10^6 bytes per second of processor time) on %d-byte units, medians of %d runs\n",
                kUnit, runs);
    std::printf("| algorithm | mode | Zarvo MB/s | peer | peer MB/s | Zarvo / peer | goal |\n"
                "|---|---|---|---|---|---|---|\n");
    bool all = true;
    for (const Row &r : g_rows) {
        char theirs[32] = "-", ratio[32] = "-", goal[32] = "";
        if (r.theirs > 0) {
            std::snprintf(theirs, sizeof theirs, "%.0f", r.theirs);
            std::snprintf(ratio, sizeof ratio, "%.2f", r.ours / r.theirs);
        }
        if (r.goal) {
            const bool met = r.theirs > 0 && r.ours / r.theirs >= kGoal;
            if (r.theirs > 0) all = all && met;
            std::snprintf(goal, sizeof goal, r.theirs > 0 ? (met ? "0.80: met" : "0.80: NOT met") : "0.80: no peer");
        }
        std::printf("| %s | %s | %.0f | %s | %s | %s | %s |\n", r.name.c_str(), r.mode.empty() ? "-" : r.mode.c_str(),
                    r.ours, r.peer.empty() ? "-" : r.peer.c_str(), theirs, ratio, goal);
    }
    std::printf("(peer: openssl speed -evp, %s; zlib's crc32 %s)\n", g_have_openssl ? "installed" : "NOT installed",
#ifdef ZV_BENCH_ZLIB
                "linked"
#else
                "not found at build time"
#endif
    );
    std::printf("%s\n(crc %08x, digest byte %02x)\n", all ? "every goal with a peer met" : "a goal was NOT met", crc,
                out[0]);
    return 0;
}
