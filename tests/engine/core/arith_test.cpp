// High/low pair arithmetic and small utilities.
#include <cstring>
#include <random>

#include "engine/core/fcb.h"
#include "engine/core/pools.h"
#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"

namespace {

using zvtest::ZvTest;

struct Pair {
    uint32_t hi, lo;
};

TEST(PairArithmetic, SumsAndDifferencesCarry) {
    Pair p{0, 0xFFFFFFFF};
    zvadddlng(&p.hi, &p.lo, 0, 1);
    EXPECT_EQ(p.hi, 1u);
    EXPECT_EQ(p.lo, 0u);
    zvsubdlng(&p.hi, &p.lo, 0, 1);
    EXPECT_EQ(p.hi, 0u);
    EXPECT_EQ(p.lo, 0xFFFFFFFFu);
    p = {0, 0};
    zvsubdlng(&p.hi, &p.lo, 0, 1);
    EXPECT_EQ(p.hi, 0xFFFFFFFFu);
    EXPECT_EQ(p.lo, 0xFFFFFFFFu);
    p = {1, 0};
    zvdecdlng(&p.hi, &p.lo);
    EXPECT_EQ(p.hi, 0u);
    EXPECT_EQ(p.lo, 0xFFFFFFFFu);
    p = {0xFFFFFFFF, 0xFFFFFFFF};
    zvincdlng(&p.hi, &p.lo);
    EXPECT_EQ(p.hi, 0u);
    EXPECT_EQ(p.lo, 0u);
    EXPECT_EQ(zvcmpdlng(0, 0x80000000, 0, 1), 1);
    EXPECT_EQ(zvcmpdlng(1, 0, 0, 0xFFFFFFFF), 1);
    EXPECT_EQ(zvcmpdlng(0, 5, 0, 5), 0);
    EXPECT_EQ(zvcmpdlng(0, 4, 0, 5), -1);
}

TEST(PairArithmetic, Products) {
    Pair p{0x12345678, 0x9ABCDEF0};
    zvmuldlng(&p.hi, &p.lo, 0x10000);
    EXPECT_EQ(p.hi, 0x56789ABCu);
    EXPECT_EQ(p.lo, 0xDEF00000u);
    p = {5, 7};
    zvmuldlng(&p.hi, &p.lo, 1);
    EXPECT_EQ(p.hi, 5u);
    EXPECT_EQ(p.lo, 7u);
    zvmuldlng(&p.hi, &p.lo, 0);
    EXPECT_EQ(p.hi, 0u);
    EXPECT_EQ(p.lo, 0u);
}

TEST(PairArithmetic, QuotientsAndRemainders) {
    struct Case { Pair in; uint32_t d; Pair out; } cases[] = {
        {{1, 0}, 2, {0, 0x80000000}},
        {{1, 0}, 641, {0, 6700416}},
        {{1, 0}, 6700417, {0, 640}},
        {{5, 7}, 1, {5, 7}},
        {{0, 10}, 3, {0, 3}},
        {{7, 9}, 0, {7, 9}},  // a zero divisor leaves the pair
    };
    for (const auto &c : cases) {
        Pair p = c.in;
        zvdivdlng(&p.hi, &p.lo, c.d);
        EXPECT_EQ(p.hi, c.out.hi) << c.d;
        EXPECT_EQ(p.lo, c.out.lo) << c.d;
    }
    EXPECT_EQ(zvmoddlng(1, 0, 641), 640u);
    EXPECT_EQ(zvmoddlng(1, 0, 3), 1u);
}

TEST(PairArithmetic, SixtyFourBitDivisor) {
    Pair p{0x80000000, 0};
    zvdiv64(&p.hi, &p.lo, 3, 0);
    EXPECT_EQ(p.hi, 0u);
    EXPECT_EQ(p.lo, 0x2AAAAAAAu);
    p = {0x91B7, 0xD8F16ADF};
    zvdiv64(&p.hi, &p.lo, 1, 0x1E2FEB89);
    EXPECT_EQ(p.lo, 33369u);
    p = {3, 4};
    zvdiv64(&p.hi, &p.lo, 0, 0);
    EXPECT_EQ(p.hi, 3u);
    EXPECT_EQ(p.lo, 4u);
}

TEST(PairArithmetic, AgreesWithUint64OnRandomOperands) {
    std::mt19937_64 rng(20261209);
    const uint32_t edges[] = {1, 2, 3, 641, 6700417, 0x7FFFFFFF, 0x7FFFFFFE, 0x80000000u,
                              0x80000001u, 0xFFFFFFFFu, 0xFFFFFFFEu, 65536, 65537};
    for (int i = 0; i < 20000; i++) {
        uint64_t v = rng();
        if (i % 3 == 0) v >>= (rng() % 64);
        uint32_t d = (i % 4 == 0) ? edges[rng() % std::size(edges)] : uint32_t(rng() >> (rng() % 32));
        if (d == 0) d = 1;
        Pair p{uint32_t(v >> 32), uint32_t(v)};
        zvdivdlng(&p.hi, &p.lo, d);
        ASSERT_EQ((uint64_t{p.hi} << 32) | p.lo, v / d) << v << " / " << d;
        if (d < 0x80000000u) {
            ASSERT_EQ(zvmoddlng(uint32_t(v >> 32), uint32_t(v), int32_t(d)), v % d);
        }
        uint64_t d64 = rng() >> (rng() % 64);
        if (i % 5 == 0) d64 = (uint64_t{edges[rng() % std::size(edges)]} << 32) | edges[rng() % std::size(edges)];
        if (d64 == 0) d64 = 1;
        p = {uint32_t(v >> 32), uint32_t(v)};
        zvdiv64(&p.hi, &p.lo, uint32_t(d64 >> 32), uint32_t(d64));
        ASSERT_EQ((uint64_t{p.hi} << 32) | p.lo, v / d64) << v << " / " << d64;
    }
}

TEST(PairArithmetic, RemainderByBadDivisorIsFatal) {
    EXPECT_EXIT(zvmoddlng(1, 0, 0), ::testing::ExitedWithCode(8971 % 256), "");
    EXPECT_EXIT(zvmoddlng(1, 0, int32_t(0x80000000u)), ::testing::ExitedWithCode(8971 % 256), "");
}

TEST(Atomics, CompareAndSwapRoutines) {
    int32_t t = 5;
    EXPECT_EQ(zvInterlockedMax(&t, 9), 9);
    EXPECT_EQ(t, 9);
    EXPECT_EQ(zvInterlockedMax(&t, -3), 9);
    EXPECT_EQ(t, 9);
    uint32_t m = 6;
    EXPECT_EQ(zvInterlockedModIncrement(&m, 7), 0u);
    EXPECT_EQ(zvInterlockedModIncrement(&m, 7), 1u);
    uint64_t a = 0xFFFFFFFFull;
    EXPECT_EQ(zvInterlockedAdd8(&a, 1), 0x100000000ull);
}

class UtilitiesTest : public ZvTest {};

TEST_F(UtilitiesTest, GrowableArray) {
    ASSERT_EQ(REGZARVO("u"), 0);
    int32_t cap = 0, count = 0;
    void *storage = nullptr;
    EXPECT_EQ(zvdallc(&cap, &count, &storage, 4, 8), 0);
    EXPECT_EQ(cap, 8);
    EXPECT_EQ(count, 1);
    static_cast<int32_t *>(storage)[0] = 77;
    uint64_t allocs = zv::platform_alloc_count();
    for (int i = 1; i < 8; i++) EXPECT_EQ(zvdallc(&cap, &count, &storage, 4, 8), i);
    EXPECT_EQ(zv::platform_alloc_count(), allocs);
    zv::fail_alloc_at(1);
    void *before = storage;
    EXPECT_EQ(zvdallc(&cap, &count, &storage, 4, 8), -10);
    EXPECT_EQ(cap, 8);
    EXPECT_EQ(count, 8);
    EXPECT_EQ(storage, before);
    EXPECT_EQ(zvdallc(&cap, &count, &storage, 4, 8), 8);
    EXPECT_EQ(cap, 16);
    EXPECT_EQ(static_cast<int32_t *>(storage)[0], 77);
    mbfree(storage);
}

TEST_F(UtilitiesTest, DirectoryPartAndHexDump) {
    char out[64];
    EXPECT_EQ(zvbasdir(out, "dir/sub/file.dat"), 8);
    EXPECT_STREQ(out, "dir/sub/");
    EXPECT_EQ(zvbasdir(out, "file.dat"), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(zvbasdir(out, "c:x"), 2);
    const unsigned char bytes[] = {0x0A, 0xFF};
    char hex[8];
    memset(hex, 'z', sizeof hex);
    char *end = zvhexdmp(bytes, hex, 2);
    EXPECT_STREQ(hex, "0aff");
    EXPECT_EQ(end, hex + 5);
}

TEST_F(UtilitiesTest, HashShiftOfFiles) {
    FCB f;
    memset(&f, 0, sizeof f);
    f.hdr.ext.flmode2 = 0x80000000u;
    EXPECT_EQ(zvhash_shift(&f), 4);
    f.hdr.ext.flmode2 = 0;
    f.kind = kKindIndex;
    f.nodesize = 128;
    EXPECT_EQ(zvhash_shift(&f), 7);
    f.nodesize = 2;
    EXPECT_EQ(zvhash_shift(&f), 1);
    f.kind = kKindFixed;
    f.reclen = 128;
    EXPECT_EQ(zvhash_shift(&f), 7);
    f.kind = kKindVariable;
    f.reclen = 118;  // plus 10
    EXPECT_EQ(zvhash_shift(&f), 7);
    f.kind = kKindFixed;
    f.hdr.base.sfiltyp = 2;
    f.reclen = 110;  // plus 18
    EXPECT_EQ(zvhash_shift(&f), 7);
}

TEST_F(UtilitiesTest, PerFileDraw) {
    FCB f;
    memset(&f, 0, sizeof f);
    f.drawseed = 0;
    EXPECT_EQ(distrand(&f), 1);  // 0 becomes 1 without a limit
    EXPECT_EQ(f.drawseed, 3731u);
    EXPECT_EQ(distrand(&f), 31);
    f.drawlimit = 1;
    f.drawseed = 80;  // 80 is not below the default limit 75
    EXPECT_EQ(distrand(&f), 0);
    f.hdr.ext.wide64[0] = 10;
    f.hdr.ext.wide64[1] = 9;  // limit 90
    f.drawseed = 80;
    EXPECT_EQ(distrand(&f), 80);
}

}  // namespace
