// Cipher benchmark: MB/s of every cipher of the cipher context in ECB, CBC
// and OFB, encrypting 2048-byte units (the unit of file encryption) through
// one prepared context, and the digests and CRC-32 on the same units. A
// measurement for release builds, not a test.
//
//   crypto_bench [megabytes per measurement, 64 by default]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "zarvo/qvs.h"

namespace {

constexpr int kUnit = 2048;

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

template <typename F>
double rate(long bytes, F &&step) {
    auto t0 = std::chrono::steady_clock::now();
    for (long done = 0; done < bytes; done += kUnit) step();
    return double(bytes) / (1024.0 * 1024.0) / seconds_since(t0);
}

}  // namespace

int main(int argc, char **argv) {
    const long mb = argc > 1 ? std::atol(argv[1]) : 64;
    const long bytes = mb * 1024 * 1024;
    std::vector<unsigned char> unit(kUnit);
    for (int i = 0; i < kUnit; i++) unit[size_t(i)] = static_cast<unsigned char>(i * 7);
    unsigned char key[32], iv[16];
    for (int i = 0; i < 32; i++) key[i] = static_cast<unsigned char>(0xA0 + i);
    for (int i = 0; i < 16; i++) iv[i] = static_cast<unsigned char>(i);

    const struct {
        const char *name;
        int alg;
        int keylen;
    } ciphers[] = {
        {"DES", QVS_DES, 8},           {"triple DES (3 keys)", QVS_DES, 24}, {"Blowfish-128", QVS_BLOWFISH, 16},
        {"Twofish-256", QVS_TWOFISH, 32}, {"RIJ-256", QVS_RIJ, 32},           {"MDC-32", QVS_MDC, 32},
        {"AES-128", QVS_AES, 16},       {"AES-256", QVS_AES, 32},
    };
    const char *modes[3] = {"ECB", "CBC", "OFB"};
    std::printf("%-22s %10s %10s %10s   (MB/s, %d-byte units, %ld MB each)\n", "cipher", "ECB", "CBC", "OFB", kUnit,
                mb);
    for (const auto &c : ciphers) {
        std::printf("%-22s", c.name);
        for (int mode = 0; mode < 3; mode++) {
            QVSCTX ctx;
            if (QVSInit(&ctx, c.alg, mode, key, c.keylen, iv, 16) != QVS_OK) {
                std::fprintf(stderr, "\n%s %s: set-up failed\n", c.name, modes[mode]);
                return 1;
            }
            double r = rate(bytes, [&] { QVSEncrypt(&ctx, unit.data(), kUnit); });
            QVSFinal(&ctx);
            std::printf(" %10.1f", r);
        }
        std::printf("\n");
    }

    std::printf("%-22s %10s\n", "digest", "MB/s");
    QVSMD5CTX md5;
    MD5Init(&md5);
    std::printf("%-22s %10.1f\n", "MD5", rate(bytes, [&] { MD5Update(&md5, unit.data(), kUnit); }));
    unsigned char out[64];
    MD5Final(out, &md5);
    QVSSHA1CTX sha1;
    SHAInit(&sha1);
    std::printf("%-22s %10.1f\n", "SHA-1", rate(bytes, [&] { SHAUpdate(&sha1, unit.data(), kUnit); }));
    SHAFinal(out, &sha1);
    for (int size : {32, 64}) {
        QVSSHA2CTX sha2;
        SHA2Init(&sha2, size);
        std::printf("%-22s %10.1f\n", size == 32 ? "SHA-256" : "SHA-512",
                    rate(bytes, [&] { SHA2Update(&sha2, unit.data(), kUnit); }));
        SHA2Final(out, &sha2);
    }
    uint32_t crc = 0;
    std::printf("%-22s %10.1f\n", "CRC-32", rate(bytes, [&] { crc = crc32buffer(unit.data(), kUnit, crc); }));
    QVSRNG rng;
    RNGInit(&rng);
    std::printf("%-22s %10.1f\n", "X9.31 generator",
                rate(bytes / 16, [&] { RNGRead(&rng, unit.data(), kUnit); }));
    RNGFinal(&rng);
    std::printf("(crc %08x, digest byte %02x)\n", crc, out[0]);
    return 0;
}
