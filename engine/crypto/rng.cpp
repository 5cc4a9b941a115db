// Random generator: ANSI X9.31 on AES-256, and the FIPS 140-1 self-test.
//
// One output block: the counter advances, and every 16th block the AES key
// is replaced by a fresh seed (V is kept); DT = MD5(16 zero bytes, time in
// seconds, processor clock, both as 4 bytes most significant first);
// I = AES(DT), V = V xor I, R = AES(V), V = AES(I xor R); R is the output.
// AES works here on bytes as they stand (FIPS-197 order), V included.
//
// Seed: 32 bytes of "/dev/urandom"; when that read falls short, an MD5 over
// the time of day, the processor clock, the lines of two system logs and
// the output of a few system commands. Seeding never fails.
#include "engine/crypto/rng.h"

#include <cstring>
#include <ctime>
#include <sys/time.h>

#include "engine/core/bytes.h"
#include "engine/core/platform.h"
#include "engine/crypto/ciphers.h"
#include "engine/crypto/hashes.h"
#include "engine/crypto/wipe.h"

namespace zv {

namespace {

static_assert(sizeof(RijSchedule) <= sizeof(QVSRNG::schedule) && alignof(RijSchedule) <= alignof(uint32_t),
              "the AES-256 schedule fits the generator");

RngSeedSource g_seed_source = nullptr;
RngDtSource g_dt_source = nullptr;

RijSchedule *schedule_of(QVSRNG *ctx) { return reinterpret_cast<RijSchedule *>(ctx->schedule); }

// Every line of a stream into the hash, each without its line end; lines
// are read in pieces of at most 1023 characters.
void hash_lines(QVSMD5CTX *md, FILE *fp) {
    char line[1024];
    while (fgets(line, sizeof line, fp)) {
        size_t n = strlen(line);
        if (n && line[n - 1] == '\n') n--;
        md5_update(md, line, n);
    }
    secure_zero(line, sizeof line);
}

void hash_time_and_clock(QVSMD5CTX *md) {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    unsigned char t[16];
    host::put64(t, uint64_t(tv.tv_sec));
    host::put64(t + 8, uint64_t(tv.tv_usec));
    md5_update(md, t, sizeof t);
    unsigned char c[8];
    host::put64(c, uint64_t(clock()));
    md5_update(md, c, sizeof c);
    secure_zero(t, sizeof t);
    secure_zero(c, sizeof c);
}

// The seed when "/dev/urandom" cannot give one. A missing file or command
// adds nothing.
void fallback_seed(unsigned char seed[32]) {
    static const char *const kLogs[] = {"/var/log/messages", "/usr/adm/messages"};
    static const char *const kCommands[] = {
        "netstat -a 2>&1", "netstat -i 2>&1", "ps -eaxlw 2>&1",
        "ps -eafl 2>&1",   "uptime 2>&1",     "openssl rand -base64 128 2>&1",
    };
    QVSMD5CTX md;
    md5_init(&md);
    hash_time_and_clock(&md);
    for (const char *name : kLogs) {
        if (FILE *fp = plat_fopen(name, "r")) {
            hash_lines(&md, fp);
            plat_fclose(fp);
        }
    }
    for (const char *cmd : kCommands) {
        if (FILE *fp = plat_popen(cmd, "r")) {
            hash_lines(&md, fp);
            plat_pclose(fp);
        }
    }
    unsigned char h[16];
    md5_final(h, &md);
    memcpy(seed, h, 16);
    md5_init(&md);
    md5_update(&md, h, sizeof h);
    hash_time_and_clock(&md);
    md5_final(seed + 16, &md);
    secure_zero(h, sizeof h);
}

void take_seed(unsigned char seed[32]) {
    if (g_seed_source) {
        g_seed_source(seed);
        return;
    }
    int fd = plat_open("/dev/urandom", OpenHow::ReadOnly, 0);
    if (fd >= 0) {
        int64_t n = plat_read(fd, seed, 32);
        plat_close(fd);
        if (n == 32) return;
    }
    fallback_seed(seed);
}

void rekey(QVSRNG *ctx) {
    unsigned char seed[32];
    take_seed(seed);
    AESInit(schedule_of(ctx), seed, sizeof seed);
    secure_zero(seed, sizeof seed);
}

void make_dt(unsigned char dt[16]) {
    if (g_dt_source) {
        g_dt_source(dt);
        return;
    }
    unsigned char in[24] = {};
    be::put32(in + 16, uint32_t(time(nullptr)));
    be::put32(in + 20, uint32_t(clock()));
    md5_digest(in, sizeof in, dt);
}

// One X9.31 block into out.
void next_block(QVSRNG *ctx, unsigned char out[16]) {
    ctx->counter++;
    if (ctx->counter % 16 == 0) rekey(ctx);
    RijSchedule *s = schedule_of(ctx);
    unsigned char dt[16], i[16], v[16], t[16];
    make_dt(dt);
    aes_encrypt_bytes(s, dt, i);
    memcpy(v, ctx->v, sizeof v);
    for (int k = 0; k < 16; k++) v[k] ^= i[k];
    aes_encrypt_bytes(s, v, out);
    for (int k = 0; k < 16; k++) t[k] = i[k] ^ out[k];
    aes_encrypt_bytes(s, t, v);
    memcpy(ctx->v, v, sizeof v);
    secure_zero(dt, sizeof dt);
    secure_zero(i, sizeof i);
    secure_zero(v, sizeof v);
    secure_zero(t, sizeof t);
}

}  // namespace

void rng_set_sources(RngSeedSource seed, RngDtSource dt) {
    g_seed_source = seed;
    g_dt_source = dt;
}

int rng_init(QVSRNG *ctx) {
    if (!ctx) return 0;
    secure_zero(ctx, sizeof *ctx);
    rekey(ctx);
    return 1;
}

int rng_read(QVSRNG *ctx, unsigned char *out, int32_t len) {
    if (!ctx || !out) return 0;
    unsigned char block[16];
    for (int32_t off = 0; off < len; off += 16) {
        next_block(ctx, block);
        int32_t n = len - off < 16 ? len - off : 16;
        memcpy(out + off, block, size_t(n));
    }
    secure_zero(block, sizeof block);
    return 1;
}

void rng_final(QVSRNG *ctx) {
    if (ctx) secure_zero(ctx, sizeof *ctx);
}

int generate_rnd_key(unsigned char *out, int32_t len) {
    if (!out) return 0;
    QVSRNG ctx;
    rng_init(&ctx);
    int rc = rng_read(&ctx, out, len);
    rng_final(&ctx);
    return rc;
}

int fips_140_1(const unsigned char *sample) {
    if (!sample) return 0;
    constexpr int kBytes = 2500;
    // Monobit: the ones among the 20000 bits.
    int ones = 0;
    for (int i = 0; i < kBytes; i++) ones += __builtin_popcount(sample[i]);
    if (ones < 9655 || ones > 9655 + 690) return -3;
    // Poker: X = 16 / 5000 * sum f^2 - 5000 must lie strictly within
    // 1.03 .. 57.4; scaled by 5000 to stay in integers.
    long f[16] = {};
    for (int i = 0; i < kBytes; i++) {
        f[sample[i] & 15]++;
        f[sample[i] >> 4]++;
    }
    long sum = 0;
    for (long v : f) sum += v * v;
    long x5000 = 16 * sum - 5000L * 5000L;
    if (x5000 <= 5150 || x5000 >= 287000) return -2;
    // Runs of ones and of zeros by length 1..5 and 6 or more, and the
    // longest run.
    static constexpr int kLow[6] = {2267, 1079, 502, 223, 90, 90};
    static constexpr int kHigh[6] = {2733, 1421, 748, 402, 223, 223};
    int runs[2][6] = {};
    int longest = 0, len = 0, prev = -1;
    for (int k = 0; k <= 8 * kBytes; k++) {
        int bit = k < 8 * kBytes ? (sample[k / 8] >> (k % 8)) & 1 : -1;
        if (bit == prev) {
            len++;
            continue;
        }
        if (prev >= 0) {
            runs[prev][len < 6 ? len - 1 : 5]++;
            if (len > longest) longest = len;
        }
        prev = bit;
        len = 1;
    }
    for (const auto &r : runs)
        for (int i = 0; i < 6; i++)
            if (r[i] < kLow[i] || r[i] > kHigh[i]) return -1;
    return longest >= 34 ? 0 : 1;
}

}  // namespace zv

// ---- Exported entries ---------------------------------------------------------

ZV_API int RNGInit(QVSRNG *ctx) { return zv::rng_init(ctx); }
ZV_API int RNGRead(QVSRNG *ctx, unsigned char *out, int32_t len) { return zv::rng_read(ctx, out, len); }
ZV_API void RNGFinal(QVSRNG *ctx) { zv::rng_final(ctx); }
ZV_API int GenerateRndKey(unsigned char *out, int32_t len) { return zv::generate_rnd_key(out, len); }
ZV_API int FIPS_140_1(const unsigned char *sample) { return zv::fips_140_1(sample); }
