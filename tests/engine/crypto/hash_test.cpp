// Digests: the published vectors of MD5, SHA-1, SHA-256 and SHA-512, and
// agreement with openssl over every length 0..300 and over inputs fed in
// random pieces.
#include <cstring>
#include <functional>

#include "tests/engine/crypto/crypto_util.h"
#include "tests/support/fixture.h"
#include "zarvo/qvs.h"

namespace {

using zvtest::Bytes;
using zvtest::to_hex;

// Digest of data fed in the given piece sizes (cycled), for one algorithm.
std::string digest(const std::string &alg, const Bytes &data, const std::vector<size_t> &pieces = {}) {
    unsigned char out[64];
    size_t n = 0;
    auto feed = [&](const std::function<void(const unsigned char *, uint32_t)> &update) {
        size_t off = 0, k = 0;
        while (off < data.size()) {
            size_t step = pieces.empty() ? data.size() : pieces[k++ % pieces.size()];
            if (step > data.size() - off) step = data.size() - off;
            update(data.data() + off, uint32_t(step));
            off += step;
        }
    };
    if (alg == "md5") {
        QVSMD5CTX c;
        MD5Init(&c);
        feed([&](const unsigned char *p, uint32_t len) { MD5Update(&c, p, len); });
        MD5Final(out, &c);
        n = 16;
    } else if (alg == "sha1") {
        QVSSHA1CTX c;
        SHAInit(&c);
        feed([&](const unsigned char *p, uint32_t len) { SHAUpdate(&c, p, len); });
        SHAFinal(out, &c);
        n = 20;
    } else {
        QVSSHA2CTX c;
        n = alg == "sha256" ? 32 : 64;
        EXPECT_EQ(SHA2Init(&c, int(n)), 0);
        feed([&](const unsigned char *p, uint32_t len) { SHA2Update(&c, p, len); });
        SHA2Final(out, &c);
    }
    return to_hex(out, n);
}

TEST(Md5, Rfc1321Suite) {
    const struct {
        const char *text;
        const char *md5;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto &c : cases) EXPECT_EQ(digest("md5", zvtest::bytes_of(c.text)), c.md5) << '"' << c.text << '"';
}

TEST(Sha, Fips180Vectors) {
    zvtest::for_each_road([&] {
        const std::string abc = "abc";
        const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
        const std::string two512 =
            "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
            "nopqrstu";
        const std::string million(1000000, 'a');
        const struct {
            const char *alg;
            const std::string *text;
            const char *hex;
        } cases[] = {
            {"sha1", &abc, "a9993e364706816aba3e25717850c26c9cd0d89d"},
            {"sha1", &two, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
            {"sha1", &million, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
            {"sha256", &abc, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
            {"sha256", &two, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
            {"sha256", &million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
            {"sha512", &abc,
             "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
             "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
            {"sha512", &two,
             "204a8fc6dda82f0a0ced7beb8e08a41657c16ef468b228a8279be331a703c335"
             "96fd15c13b1b07f9aa1d3bea57789ca031ad85c7a71dd70354ec631238ca3445"},
            {"sha512", &two512,
             "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
             "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
            {"sha512", &million,
             "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973eb"
             "de0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
        };
        for (const auto &c : cases)
            EXPECT_EQ(digest(c.alg, zvtest::bytes_of(*c.text)), c.hex) << c.alg << " of " << c.text->size() << " bytes";
        // The million bytes fed in uneven pieces give the same digests.
        EXPECT_EQ(digest("sha512", zvtest::bytes_of(million), {1, 127, 128, 129, 1000}), cases[9].hex);
        EXPECT_EQ(digest("sha1", zvtest::bytes_of(million), {3, 61, 64, 65}), cases[2].hex);
    });
}

class HashOracle : public zvtest::ZvTest {};

// Every length 0..300 (all paddings around one and two blocks of either
// size) and larger inputs fed in random pieces, against openssl dgst.
TEST_F(HashOracle, AgreesWithOpenssl) {
    if (!zvtest::have_tool("openssl")) GTEST_SKIP() << "openssl is not installed";
    zvtest::for_each_road([&] {
        std::mt19937 rng(30);
        std::vector<Bytes> inputs;
        for (size_t len = 0; len <= 300; len++) inputs.push_back(zvtest::random_bytes(rng, len));
        const size_t whole = inputs.size();
        for (size_t len : {1000u, 4099u, 20000u}) inputs.push_back(zvtest::random_bytes(rng, len));
        for (const char *alg : {"md5", "sha1", "sha256", "sha512"}) {
            std::vector<std::string> want;
            ASSERT_TRUE(zvtest::openssl_digests(alg, inputs, &want)) << alg;
            for (size_t i = 0; i < whole; i++) EXPECT_EQ(digest(alg, inputs[i]), want[i]) << alg << " length " << i;
            for (size_t i = whole; i < inputs.size(); i++) {
                std::vector<size_t> pieces;
                for (int k = 0; k < 16; k++) pieces.push_back(1 + rng() % 300);
                EXPECT_EQ(digest(alg, inputs[i], pieces), want[i]) << alg << " in pieces, " << inputs[i].size();
            }
        }
    });
}

TEST(Sha2, InitRefusesOtherSizesAndChangesNothing) {
    for (int size : {0, 20, 48, 65, -32}) {
        QVSSHA2CTX c, before;
        memset(&c, 0x5A, sizeof c);
        before = c;
        EXPECT_EQ(SHA2Init(&c, size), 1) << size;
        EXPECT_EQ(memcmp(&c, &before, sizeof c), 0) << size;
    }
    EXPECT_EQ(SHA2Init(nullptr, 32), 1);
}

TEST(Digests, FinalWipesTheStateEvenWithoutADigest) {
    const unsigned char zero[sizeof(QVSSHA2CTX)] = {};
    QVSMD5CTX m;
    MD5Init(&m);
    MD5Update(&m, "secret", 6);
    MD5Final(nullptr, &m);
    EXPECT_EQ(memcmp(&m, zero, sizeof m), 0);
    unsigned char out[64];
    QVSSHA1CTX s1;
    SHAInit(&s1);
    SHAUpdate(&s1, "secret", 6);
    SHAFinal(out, &s1);
    EXPECT_EQ(memcmp(&s1, zero, sizeof s1), 0);
    QVSSHA2CTX s2;
    ASSERT_EQ(SHA2Init(&s2, 64), 0);
    SHA2Update(&s2, "secret", 6);
    SHA2Final(nullptr, &s2);
    EXPECT_EQ(memcmp(&s2, zero, sizeof s2), 0);
}

// MD5Round leaves the MD5 of everything fed in the state words, counts the
// padding and length it feeds, and the state goes on: after a second round
// the words hold the MD5 of the first message, its padding and length, and
// what came after.
TEST(Md5, RoundFinishesInPlaceAndCountsItsPadding) {
    QVSMD5CTX c;
    MD5Init(&c);
    MD5Update(&c, "abc", 3);
    MD5Round(&c);
    unsigned char words[16];
    Encode(words, c.state, 16);
    EXPECT_EQ(to_hex(words, 16), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(c.count[0], 512u);
    EXPECT_EQ(c.count[1], 0u);

    MD5Update(&c, "def", 3);
    MD5Round(&c);
    Encode(words, c.state, 16);
    // "abc", 0x80, zeros to byte 56, the bit length 24 little-endian, "def".
    Bytes stream = zvtest::bytes_of("abc");
    stream.push_back(0x80);
    stream.resize(56, 0);
    Bytes len = {24, 0, 0, 0, 0, 0, 0, 0};
    stream.insert(stream.end(), len.begin(), len.end());
    for (char ch : std::string("def")) stream.push_back(uint8_t(ch));
    EXPECT_EQ(to_hex(words, 16), digest("md5", stream));
}

// The block steps are the ones the digests use: one transform of the padded
// "abc" block from the initial words gives the digest.
TEST(Digests, TransformsAreTheBlockSteps) {
    unsigned char block[128] = {'a', 'b', 'c', 0x80};
    block[56] = 24;  // MD5: bit length, little-endian
    uint32_t md5[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    MD5Transform(md5, block);
    unsigned char out[16];
    Encode(out, md5, 16);
    EXPECT_EQ(to_hex(out, 16), "900150983cd24fb0d6963f7d28e17f72");

    block[56] = 0;
    block[63] = 24;  // SHA: bit length, big-endian
    uint32_t sha1[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    SHA1Transform(sha1, block);
    EXPECT_EQ(sha1[0], 0xa9993e36u);
    EXPECT_EQ(sha1[4], 0x9cd0d89du);
    uint32_t sha256[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    SHA2Transform(sha256, block);
    EXPECT_EQ(sha256[0], 0xba7816bfu);
    EXPECT_EQ(sha256[7], 0xf20015adu);
    block[63] = 0;
    block[127] = 24;
    uint64_t sha512[8] = {0x6a09e667f3bcc908ull, 0xbb67ae8584caa73bull, 0x3c6ef372fe94f82bull,
                          0xa54ff53a5f1d36f1ull, 0x510e527fade682d1ull, 0x9b05688c2b3e6c1full,
                          0x1f83d9abfb41bd6bull, 0x5be0cd19137e2179ull};
    SHA512Transform(sha512, block);
    EXPECT_EQ(sha512[0], 0xddaf35a193617abaull);
    EXPECT_EQ(sha512[7], 0x2a9ac94fa54ca49full);
}

}  // namespace
