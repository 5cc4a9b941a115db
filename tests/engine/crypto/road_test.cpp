// The roads of the primitives against each other: the processor's AES
// (on 128-bit and on 512-bit registers), SHA and carry-less multiply
// instructions must give the bytes of the portable code, for every mode, key length and length around the widths
// the accelerated code works in, and leave the context in the same state
// for the call that follows. (The published vectors and the comparisons
// with openssl run on both roads in the other tests of this folder.)
#include <cstring>

#include "engine/crypto/road.h"
#include "tests/engine/crypto/crypto_util.h"
#include "tests/support/fixture.h"
#include "zarvo/qvs.h"

namespace {

using zvtest::Bytes;

struct RestoreRoad {
    ~RestoreRoad() { zv::crypto_set_road(zv::crypto_hardware()); }
};

// The result of `f` on each road, the portable one first, with the road's
// name.
template <typename F>
auto on_roads(F &&f) {
    RestoreRoad restore;
    std::vector<std::pair<const char *, decltype(f())>> out;
    for (const zvtest::Road &r : zvtest::roads()) {
        zv::crypto_set_road(r.road);
        out.emplace_back(r.name, f());
    }
    return out;
}

class Roads : public ::testing::Test {
protected:
    void SetUp() override {
        if (!zvtest::processor_road_complete())
            GTEST_SKIP() << "the processor lacks AES, SHA or carry-less multiply: one road only";
    }
};

// A context and the buffer after a sequence of calls: the bytes of every
// call, then the whole context (chaining register, key-stream block and
// position, schedule).
struct Outcome {
    Bytes out;
    Bytes ctx;
    bool operator==(const Outcome &) const = default;
};

Outcome crypt_in_calls(int alg, int mode, const Bytes &key, const Bytes &iv, Bytes data, const std::vector<size_t> &calls,
                   bool decrypt) {
    QVSCTX ctx;
    EXPECT_EQ(QVSInit(&ctx, alg, mode, key.data(), int32_t(key.size()), iv.data(), int32_t(iv.size())), 0);
    size_t at = 0;
    for (size_t n : calls) {
        int rc = decrypt ? QVSDecrypt(&ctx, data.data() + at, int32_t(n)) : QVSEncrypt(&ctx, data.data() + at, int32_t(n));
        EXPECT_EQ(rc, 0);
        at += n;
    }
    Outcome r{data, Bytes(reinterpret_cast<unsigned char *>(&ctx), reinterpret_cast<unsigned char *>(&ctx) + sizeof ctx)};
    QVSFinal(&ctx);
    return r;
}

// AES and RIJ, every key length and mode, runs of blocks around the eight
// that ECB and CBC decryption take at once, in one call and in several; OFB
// also in pieces that end inside a key-stream block.
TEST_F(Roads, AesAndRijModesGiveTheSameBytesAndState) {
    std::mt19937 rng(2026);
    for (int alg : {QVS_AES, QVS_RIJ, QVS_AES_ALT})
        for (size_t keylen : {16u, 24u, 32u})
            for (int mode : {QVS_ECB, QVS_CBC, QVS_OFB})
                for (size_t blocks : {1u, 7u, 8u, 9u, 16u, 17u, 128u, 131u}) {
                    SCOPED_TRACE(testing::Message() << "alg " << alg << " key " << keylen << " mode " << mode
                                                    << " blocks " << blocks);
                    const Bytes key = zvtest::random_bytes(rng, keylen), iv = zvtest::random_bytes(rng, 16);
                    const Bytes data = zvtest::random_bytes(rng, 16 * blocks + 5);
                    std::vector<std::vector<size_t>> splits = {{16 * blocks}};
                    if (blocks > 1) splits.push_back({16, 16 * blocks - 16});
                    if (blocks > 8) splits.push_back({16 * 8, 16 * (blocks - 8)});
                    if (mode == QVS_OFB) {
                        splits.push_back({16 * blocks + 5});
                        splits.push_back({3, 16 * blocks - 1, 3});
                        if (blocks > 1) splits.push_back({21, 16 * blocks - 16});
                    }
                    for (const auto &calls : splits)
                        for (bool decrypt : {false, true}) {
                            const auto got =
                                on_roads([&] { return crypt_in_calls(alg, mode, key, iv, data, calls, decrypt); });
                            for (size_t i = 1; i < got.size(); i++) {
                                EXPECT_EQ(zvtest::to_hex(got[i].second.out), zvtest::to_hex(got[0].second.out))
                                    << got[i].first << ", " << calls.size() << " calls, decrypt " << decrypt;
                                EXPECT_TRUE(got[i].second.ctx == got[0].second.ctx)
                                    << got[i].first << ", context after " << calls.size() << " calls";
                            }
                        }
                }
}

// What one road enciphers every other deciphers.
TEST_F(Roads, EachRoadDeciphersTheOthers) {
    RestoreRoad restore;
    std::mt19937 rng(17);
    const Bytes data = zvtest::random_bytes(rng, 2048);
    const auto all = zvtest::roads();
    for (int alg : {QVS_AES, QVS_RIJ})
        for (int mode : {QVS_ECB, QVS_CBC, QVS_OFB})
            for (const zvtest::Road &writer : all)
                for (const zvtest::Road &reader : all) {
                    if (&writer == &reader) continue;
                    const Bytes key = zvtest::random_bytes(rng, 32), iv = zvtest::random_bytes(rng, 16);
                    zv::crypto_set_road(writer.road);
                    Outcome c = crypt_in_calls(alg, mode, key, iv, data, {2048}, false);
                    zv::crypto_set_road(reader.road);
                    Outcome p = crypt_in_calls(alg, mode, key, iv, c.out, {2048}, true);
                    EXPECT_EQ(p.out, data) << "alg " << alg << " mode " << mode << ": " << writer.name << " to "
                                           << reader.name;
                }
}

std::string sha(int size, const Bytes &data, const std::vector<size_t> &pieces) {
    unsigned char out[32];
    QVSSHA1CTX s1;
    QVSSHA2CTX s2;
    if (size == 20) SHAInit(&s1);
    else SHA2Init(&s2, 32);
    size_t at = 0;
    for (size_t i = 0; at < data.size(); i++) {
        size_t n = std::min(pieces[i % pieces.size()], data.size() - at);
        if (size == 20) SHAUpdate(&s1, data.data() + at, uint32_t(n));
        else SHA2Update(&s2, data.data() + at, uint32_t(n));
        at += n;
    }
    if (size == 20) SHAFinal(out, &s1);
    else SHA2Final(out, &s2);
    return zvtest::to_hex(out, size_t(size));
}

// SHA-1 and SHA-256 of random lengths fed in random pieces, so that whole
// blocks come both from the context's buffer and straight from the input.
TEST_F(Roads, Sha1AndSha256GiveTheSameDigests) {
    std::mt19937 rng(180);
    for (int round = 0; round < 60; round++) {
        const Bytes data = zvtest::random_bytes(rng, rng() % 3000);
        std::vector<size_t> pieces;
        for (int k = 0; k < 5; k++) pieces.push_back(1 + rng() % 200);
        for (int size : {20, 32}) {
            const auto got = on_roads([&] { return sha(size, data, pieces); });
            for (size_t i = 1; i < got.size(); i++)
                EXPECT_EQ(got[i].second, got[0].second) << got[i].first << ", digest " << size << ", " << data.size()
                                                        << " bytes";
        }
    }
}

// CRC-32 of every length up to a few folds and of long buffers, at every
// alignment, continued from random values.
TEST_F(Roads, Crc32GivesTheSameValues) {
    std::mt19937 rng(32);
    const Bytes data = zvtest::random_bytes(rng, 5000);
    for (size_t len = 0; len <= 400; len++)
        for (size_t align : {0u, 1u, 7u}) {
            const uint32_t from = rng();
            const auto got = on_roads([&] { return crc32buffer(data.data() + align, uint32_t(len), from); });
            for (size_t i = 1; i < got.size(); i++)
                ASSERT_EQ(got[i].second, got[0].second) << got[i].first << ", length " << len << ", offset " << align;
        }
    for (size_t len : {2048u, 4096u, 4990u}) {
        const auto got = on_roads([&] { return crc32buffer(data.data() + 3, uint32_t(len), 0); });
        for (size_t i = 1; i < got.size(); i++) EXPECT_EQ(got[i].second, got[0].second) << got[i].first << ", " << len;
    }
}

}  // namespace
