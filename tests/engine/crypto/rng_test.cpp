// The random generator: the X9.31 step against AES-256 computed by openssl,
// block accounting, seeding through the platform seam (and its fallback
// when "/dev/urandom" fails), argument rules, and the FIPS 140-1 self-test
// on samples built at the bounds of each of its four tests.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/core/platform.h"
#include "engine/crypto/rng.h"
#include "tests/engine/crypto/crypto_util.h"
#include "tests/support/fixture.h"
#include "zarvo/qvs.h"

namespace {

using zvtest::Bytes;
using zvtest::to_hex;

// Injected seed and DT values: the seed is fixed, the DTs come from a
// list in order and are counted.
Bytes g_seed;
std::vector<Bytes> g_dts;
size_t g_dt_next = 0;

void seed_source(unsigned char seed[32]) { memcpy(seed, g_seed.data(), 32); }
void dt_source(unsigned char dt[16]) {
    memcpy(dt, g_dts[g_dt_next % g_dts.size()].data(), 16);
    g_dt_next++;
}

class Rng : public zvtest::ZvTest {
protected:
    void SetUp() override {
        zvtest::ZvTest::SetUp();
        std::mt19937 rng(931);
        g_seed = zvtest::random_bytes(rng, 32);
        g_dts.clear();
        for (int i = 0; i < 8; i++) g_dts.push_back(zvtest::random_bytes(rng, 16));
        g_dt_next = 0;
        zv::fault_reset();
    }
    void TearDown() override {
        zv::rng_set_sources(nullptr, nullptr);
        zv::fault_reset();
        zvtest::ZvTest::TearDown();
    }
};

Bytes xor_of(const Bytes &a, const Bytes &b) {
    Bytes r(a.size());
    for (size_t i = 0; i < a.size(); i++) r[i] = a[i] ^ b[i];
    return r;
}

// I = AES(DT), V = V xor I, R = AES(V), V = AES(I xor R), with AES-256
// under the seed computed by openssl; V starts at zero.
TEST_F(Rng, X931StepEqualsOpensslConstruction) {
    if (!zvtest::have_tool("openssl")) GTEST_SKIP() << "openssl is not installed";
    zv::rng_set_sources(seed_source, dt_source);
    auto aes = [](const Bytes &block) {
        Bytes out;
        EXPECT_TRUE(zvtest::openssl_enc("aes-256-ecb", g_seed, {}, block, false, &out));
        return out;
    };
    Bytes v(16, 0), want;
    for (int blk = 0; blk < 3; blk++) {
        Bytes i = aes(g_dts[size_t(blk)]);
        v = xor_of(v, i);
        Bytes r = aes(v);
        v = aes(xor_of(i, r));
        want.insert(want.end(), r.begin(), r.end());
    }
    QVSRNG ctx;
    ASSERT_EQ(RNGInit(&ctx), 1);
    Bytes got(48);
    ASSERT_EQ(RNGRead(&ctx, got.data(), 48), 1);
    EXPECT_EQ(to_hex(got), to_hex(want));
    EXPECT_EQ(g_dt_next, 3u);
    RNGFinal(&ctx);
}

// 17 bytes take two blocks: the first whole and one byte of the second.
TEST_F(Rng, SeventeenBytesRunTwoBlocks) {
    zv::rng_set_sources(seed_source, dt_source);
    QVSRNG a, b;
    ASSERT_EQ(RNGInit(&a), 1);
    Bytes seventeen(18, 0xEE);
    ASSERT_EQ(RNGRead(&a, seventeen.data(), 17), 1);
    EXPECT_EQ(g_dt_next, 2u);
    EXPECT_EQ(seventeen[17], 0xEE);
    g_dt_next = 0;
    ASSERT_EQ(RNGInit(&b), 1);
    Bytes two(32);
    ASSERT_EQ(RNGRead(&b, two.data(), 32), 1);
    EXPECT_TRUE(std::equal(two.begin(), two.begin() + 17, seventeen.begin()));
    RNGFinal(&a);
    RNGFinal(&b);
}

// One seed at the start and a new one at every 16th block, each one read
// of "/dev/urandom" through the seam.
TEST_F(Rng, SeedsAtTheStartAndEverySixteenthBlock) {
    QVSRNG ctx;
    ASSERT_EQ(RNGInit(&ctx), 1);
    EXPECT_EQ(zv::io_calls(zv::IoKind::Open), 1);
    EXPECT_EQ(zv::io_calls(zv::IoKind::Read), 1);
    Bytes out(16 * 16);
    ASSERT_EQ(RNGRead(&ctx, out.data(), int32_t(out.size())), 1);
    EXPECT_EQ(zv::io_calls(zv::IoKind::Open), 2);
    EXPECT_EQ(zv::io_calls(zv::IoKind::Read), 2);
    EXPECT_EQ(zv::io_calls(zv::IoKind::Close), 2);
    ASSERT_EQ(RNGRead(&ctx, out.data(), 15 * 16), 1);  // blocks 17..31
    EXPECT_EQ(zv::io_calls(zv::IoKind::Read), 2);
    ASSERT_EQ(RNGRead(&ctx, out.data(), 1), 1);  // block 32
    EXPECT_EQ(zv::io_calls(zv::IoKind::Read), 3);
    EXPECT_EQ(zv::io_calls(zv::IoKind::Popen), 0);
    RNGFinal(&ctx);
}

// When the read of "/dev/urandom" fails the fallback seed (logs through
// plat_fopen, commands through plat_popen) still gives a working generator.
TEST_F(Rng, FailedSeedReadFallsBack) {
    for (long short_by : {0L, 1L}) {
        zv::fault_reset();
        zv::fault_set(zv::IoKind::Read, 1, EIO, false, short_by);
        QVSRNG ctx;
        ASSERT_EQ(RNGInit(&ctx), 1);
        EXPECT_EQ(zv::io_calls(zv::IoKind::Fopen), 2) << short_by;
        EXPECT_EQ(zv::io_calls(zv::IoKind::Popen), 6) << short_by;
        Bytes sample(2500);
        ASSERT_EQ(RNGRead(&ctx, sample.data(), 2500), 1);
        EXPECT_EQ(FIPS_140_1(sample.data()), 1) << short_by;
        RNGFinal(&ctx);
    }
}

TEST_F(Rng, ArgumentRulesAndWipe) {
    QVSRNG ctx;
    unsigned char out[4] = {1, 2, 3, 4};
    EXPECT_EQ(RNGInit(nullptr), 0);
    ASSERT_EQ(RNGInit(&ctx), 1);
    EXPECT_EQ(RNGRead(nullptr, out, 4), 0);
    EXPECT_EQ(RNGRead(&ctx, nullptr, 4), 0);
    const uint32_t counter = ctx.counter;
    EXPECT_EQ(RNGRead(&ctx, out, 0), 1);
    EXPECT_EQ(RNGRead(&ctx, out, -5), 1);
    EXPECT_EQ(ctx.counter, counter);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[3], 4);
    ASSERT_EQ(RNGRead(&ctx, out, 4), 1);
    EXPECT_EQ(ctx.counter, counter + 1);
    RNGFinal(&ctx);
    const QVSRNG zero{};
    EXPECT_EQ(memcmp(&ctx, &zero, sizeof ctx), 0);
    RNGFinal(nullptr);
    EXPECT_EQ(GenerateRndKey(nullptr, 16), 0);
    EXPECT_EQ(FIPS_140_1(nullptr), 0);
}

TEST_F(Rng, GeneratedKeysPassTheSelfTest) {
    Bytes sample(2500);
    ASSERT_EQ(GenerateRndKey(sample.data(), 2500), 1);
    EXPECT_EQ(FIPS_140_1(sample.data()), 1);
    Bytes other(2500);
    ASSERT_EQ(GenerateRndKey(other.data(), 2500), 1);
    EXPECT_NE(sample, other);
}

// ---- Samples for the self-test ----------------------------------------------

constexpr int kRunLow[6] = {2267, 1079, 502, 223, 90, 90};
constexpr int kRunHigh[6] = {2733, 1421, 748, 402, 223, 223};

// A sample laid out as runs: count[color][k] runs of length k + 1 (k < 5)
// and count[color][5] long runs sharing what is left of the color's 10000
// bits (each 6..33 long, or one of them `fixed_long`). Runs alternate
// colors, so both colors have as many runs; each color's runs come in a
// shuffled order.
struct RunPlan {
    int count[2][6];
    int fixed_long[2] = {0, 0};
};

RunPlan expected_plan() {
    RunPlan p;
    for (auto &c : p.count) {
        const int e[6] = {2500, 1250, 625, 312, 156, 157};
        std::copy(e, e + 6, c);
    }
    return p;
}

Bytes build(const RunPlan &p, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<int> runs[2];
    for (int c = 0; c < 2; c++) {
        int bits = 0;
        for (int k = 0; k < 5; k++)
            for (int i = 0; i < p.count[c][k]; i++) {
                runs[c].push_back(k + 1);
                bits += k + 1;
            }
        int n = p.count[c][5], left = 10000 - bits;
        if (p.fixed_long[c]) {
            runs[c].push_back(p.fixed_long[c]);
            left -= p.fixed_long[c];
            n--;
        }
        EXPECT_TRUE(n > 0 && left >= 6 * n && left <= 33 * n) << "color " << c << ": " << left << " bits for " << n;
        for (int i = 0; i < n; i++) runs[c].push_back(left / n + (i < left % n ? 1 : 0));
        std::shuffle(runs[c].begin(), runs[c].end(), rng);
    }
    EXPECT_EQ(runs[0].size(), runs[1].size());
    Bytes out(2500, 0);
    size_t bit = 0;
    for (size_t i = 0; i < runs[0].size(); i++)
        for (int c = 0; c < 2; c++)
            for (int k = 0; k < runs[c][i]; k++, bit++)
                if (c && bit < 20000) out[bit / 8] |= uint8_t(1 << (bit % 8));
    EXPECT_EQ(bit, 20000u);
    return out;
}

TEST(Fips1401, LaidOutExpectationPasses) {
    EXPECT_EQ(FIPS_140_1(build(expected_plan(), 1).data()), 1);
}

TEST(Fips1401, Monobit) {
    EXPECT_EQ(FIPS_140_1(Bytes(2500, 0).data()), -3);
    EXPECT_EQ(FIPS_140_1(Bytes(2500, 0xFF).data()), -3);
    const Bytes base = build(expected_plan(), 2);  // 10000 ones
    std::mt19937 rng(3);
    for (int ones : {9654, 9655, 10345, 10346}) {
        Bytes s = base;
        int have = 10000;
        while (have != ones) {
            size_t bit = rng() % 20000;
            bool set = s[bit / 8] >> (bit % 8) & 1;
            if (set == (have > ones)) {
                s[bit / 8] ^= uint8_t(1 << (bit % 8));
                have += have > ones ? -1 : 1;
            }
        }
        int r = FIPS_140_1(s.data());
        if (ones == 9654 || ones == 10346) {
            EXPECT_EQ(r, -3) << ones;
        } else {
            EXPECT_NE(r, -3) << ones;
        }
    }
}

// A sample of 5000 nibbles with the given sum of squared value counts:
// from near-equal counts, units move between values of the same number of
// ones (so the sample keeps 10000 ones) until the sum is reached.
Bytes poker_sample(long target, uint32_t seed) {
    long f[16];
    for (int v = 0; v < 16; v++) f[v] = 312;
    for (int v : {0, 15, 1, 14, 2, 13, 4, 11}) f[v] = 313;
    long sum = 0;
    for (long x : f) sum += x * x;
    while (sum < target) {
        int best_a = -1, best_b = -1;
        long best = 0;
        for (int a = 0; a < 16; a++)
            for (int b = 0; b < 16; b++) {
                if (a == b || f[a] == 0 || __builtin_popcount(a) != __builtin_popcount(b)) continue;
                long gain = 2 * (f[b] - f[a] + 1);
                if (gain > best && gain <= target - sum) {
                    best = gain;
                    best_a = a;
                    best_b = b;
                }
            }
        if (best_a < 0) break;
        f[best_a]--;
        f[best_b]++;
        sum += best;
    }
    EXPECT_EQ(sum, target);
    std::vector<int> nibbles;
    for (int v = 0; v < 16; v++) nibbles.insert(nibbles.end(), size_t(f[v]), v);
    std::mt19937 rng(seed);
    std::shuffle(nibbles.begin(), nibbles.end(), rng);
    Bytes out(2500);
    for (size_t j = 0; j < 5000; j += 2) out[j / 2] = uint8_t(nibbles[j] | nibbles[j + 1] << 4);
    return out;
}

// X = 16 / 5000 * sum - 5000 must lie strictly between 1.03 and 57.4; the
// sum is always even (it has the parity of 5000), so the samples closest to
// each bound have sums 1562820 (X = 1.0272), 1562822 (1.0310), 1580436
// (57.3952) and 1580438 (57.4016).
TEST(Fips1401, Poker) {
    const struct {
        long sum;
        bool pass;
    } cases[] = {{1562504, false}, {1562820, false}, {1562822, true}, {1580436, true}, {1580438, false},
                 {1700000, false}};
    for (const auto &c : cases) {
        int r = FIPS_140_1(poker_sample(c.sum, 5).data());
        if (c.pass) {
            EXPECT_TRUE(r != -2 && r != -3) << c.sum << ": " << r;
        } else {
            EXPECT_EQ(r, -2) << c.sum;
        }
    }
}

struct RunStats {
    int count[2][6];
    int longest;
};

// Runs found from the bit transitions of the sample, 64 bits at a time.
RunStats run_stats(const Bytes &s) {
    RunStats st{};
    uint64_t w[313] = {};
    memcpy(w, s.data(), 2500);
    int start = 0, color = s[0] & 1;
    auto record = [&](int len) {
        st.count[color][std::min(len, 6) - 1]++;
        st.longest = std::max(st.longest, len);
    };
    for (int i = 0; i < 313; i++) {
        uint64_t before = i ? w[i - 1] >> 63 : w[0] & 1;
        uint64_t t = w[i] ^ (w[i] << 1 | before);
        if (i == 312) t &= 0xFFFFFFFFull;  // the last word holds 32 bits
        for (; t; t &= t - 1) {
            int pos = 64 * i + __builtin_ctzll(t);
            record(pos - start);
            color ^= 1;
            start = pos;
        }
    }
    record(20000 - start);
    return st;
}

inline int nibble(const Bytes &s, int j) { return j % 2 ? s[size_t(j / 2)] >> 4 : s[size_t(j / 2)] & 15; }
inline void set_nibble(Bytes &s, int j, int v) {
    unsigned char &b = s[size_t(j / 2)];
    b = uint8_t(j % 2 ? (b & 0x0F) | v << 4 : (b & 0xF0) | v);
}

// Rearranges the nibbles of s, which keeps its ones and its poker counts,
// until the runs of one color and length class number `target`: a swap of
// two nibbles is kept when it brings that count closer while every other
// count stays within its range and no run reaches 34.
void steer(Bytes &s, int color, int cls, int target, std::mt19937 &rng) {
    RunStats st = run_stats(s);
    auto others_ok = [&](const RunStats &r) {
        for (int c = 0; c < 2; c++)
            for (int k = 0; k < 6; k++)
                if (!(c == color && k == cls) && (r.count[c][k] < kRunLow[k] || r.count[c][k] > kRunHigh[k]))
                    return false;
        return r.longest < 34;
    };
    for (long tries = 0; st.count[color][cls] != target && tries < 200000; tries++) {
        int i = int(rng() % 5000), j = int(rng() % 5000);
        int vi = nibble(s, i), vj = nibble(s, j);
        if (vi == vj) continue;
        set_nibble(s, i, vj);
        set_nibble(s, j, vi);
        RunStats next = run_stats(s);
        if (std::abs(next.count[color][cls] - target) < std::abs(st.count[color][cls] - target) && others_ok(next)) {
            st = next;
        } else {
            set_nibble(s, i, vi);
            set_nibble(s, j, vj);
        }
    }
    ASSERT_EQ(st.count[color][cls], target) << "could not steer the runs";
}

// Each count at the edge of its range passes; one run more (or fewer)
// fails with -1.
TEST(Fips1401, RunCounts) {
    const struct {
        int color, cls, inside, outside;
    } cases[] = {
        {1, 0, 2733, 2734}, {0, 0, 2267, 2266},  // length 1
        {1, 1, 1079, 1078}, {0, 1, 1421, 1422},  // length 2
        {0, 2, 748, 749},   {1, 2, 502, 501},    // length 3
        {1, 3, 223, 222},   {0, 4, 223, 224},    // lengths 4 and 5
        {1, 5, 90, 89},                          // length 6 and more
    };
    const Bytes base = build(expected_plan(), 1);
    ASSERT_EQ(FIPS_140_1(base.data()), 1);
    for (const auto &c : cases) {
        const char *name = c.color ? "ones" : "zeros";
        std::mt19937 rng(uint32_t(100 + c.inside));
        Bytes s = base;
        steer(s, c.color, c.cls, c.inside, rng);
        EXPECT_EQ(FIPS_140_1(s.data()), 1) << name << ", length class " << c.cls + 1 << ": " << c.inside;
        steer(s, c.color, c.cls, c.outside, rng);
        EXPECT_EQ(FIPS_140_1(s.data()), -1) << name << ", length class " << c.cls + 1 << ": " << c.outside;
    }
}

TEST(Fips1401, LongRun) {
    for (int len : {33, 34, 40}) {
        for (int color = 0; color < 2; color++) {
            RunPlan p = expected_plan();
            p.fixed_long[color] = len;
            EXPECT_EQ(FIPS_140_1(build(p, 21).data()), len < 34 ? 1 : 0) << "run of " << len << ", color " << color;
        }
    }
}

}  // namespace
