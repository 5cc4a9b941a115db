// CRC-32 and word packing: the published check value, continuation across
// pieces, agreement with the CRC that gzip stores in its trailer, and the
// byte orders of the word forms.
#include <cstdlib>
#include <cstring>

#include "tests/engine/crypto/crypto_util.h"
#include "tests/support/fixture.h"
#include "zarvo/qvs.h"

namespace {

using zvtest::Bytes;

// The reflected CRC-32 one bit at a time, straight from the polynomial.
uint32_t bitwise_step(unsigned char byte, uint32_t crc) {
    crc ^= byte;
    for (int k = 0; k < 8; k++) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    return crc;
}

TEST(Crc32, CheckValueContinuationAndEmpty) {
    zvtest::for_each_road([&] {
        EXPECT_EQ(crc32buffer("123456789", 9, 0), 0xCBF43926u);
        std::mt19937 rng(7);
        Bytes data = zvtest::random_bytes(rng, 1000);
        const uint32_t whole = crc32buffer(data.data(), 1000, 0);
        for (uint32_t cut : {0u, 1u, 4u, 500u, 999u, 1000u}) {
            uint32_t first = crc32buffer(data.data(), cut, 0);
            EXPECT_EQ(crc32buffer(data.data() + cut, 1000 - cut, first), whole) << cut;
        }
        for (uint32_t crc : {0u, 0x12345678u, 0xFFFFFFFFu}) {
            EXPECT_EQ(crc32buffer(data.data(), 0, crc), crc);
            EXPECT_EQ(crc32buffer(nullptr, 10, crc), crc);
        }
    });
}

TEST(Crc32, ByteStepIsTheReflectedPolynomial) {
    for (uint32_t crc : {0u, 1u, 0x80000000u, 0xDEADBEEFu, 0xFFFFFFFFu})
        for (int byte = 0; byte < 256; byte++)
            ASSERT_EQ(zvcrc32(uint8_t(byte), crc), bitwise_step(uint8_t(byte), crc)) << crc << " " << byte;
}

// crc32uint: four steps, least significant byte first, no inversion;
// zvc32block chains it; _expand32 stores NOT c after each step.
TEST(Crc32, WordForms) {
    zvtest::for_each_road([&] {
        const uint32_t word = 0x11223344, crc = 0xA5A5A5A5;
        uint32_t want = crc;
        for (unsigned char b : {0x44, 0x33, 0x22, 0x11}) want = bitwise_step(b, want);
        EXPECT_EQ(crc32uint(word, crc), want);

        const uint32_t words[3] = {word, 0, 0xFFFFFFFF};
        EXPECT_EQ(zvc32block(words, 3, crc), crc32uint(words[2], crc32uint(words[1], crc32uint(words[0], crc))));
        EXPECT_EQ(zvc32block(words, 0, crc), crc);
        EXPECT_EQ(zvc32block(words, -1, crc), crc);

        uint32_t out[5] = {};
        _expand32(word, out, 4);
        uint32_t c = 0xFFFFFFFF;
        for (int i = 0; i < 4; i++) {
            c = crc32uint(word, c);
            EXPECT_EQ(out[i], ~c) << i;
        }
        EXPECT_EQ(out[4], 0u);
    });
}

TEST(Pack32, MostSignificantByteFirstAndRoundTrip) {
    const unsigned char bytes[8] = {0x01, 0x02, 0x03, 0x04, 0xF0, 0xE0, 0xD0, 0xC0};
    uint32_t words[3] = {0, 0, 0xAAAAAAAA};
    _pack32(bytes, words, 2);
    EXPECT_EQ(words[0], 0x01020304u);
    EXPECT_EQ(words[1], 0xF0E0D0C0u);
    EXPECT_EQ(words[2], 0xAAAAAAAAu);
    unsigned char back[9];
    memset(back, 0x55, sizeof back);
    _unpack32(words, 2, back);
    EXPECT_EQ(memcmp(back, bytes, 8), 0);
    EXPECT_EQ(back[8], 0x55);
}

class Crc32Gzip : public zvtest::ZvTest {};

// gzip's trailer holds the CRC-32 of the original bytes, little-endian.
TEST_F(Crc32Gzip, EqualsTheGzipTrailer) {
    if (!zvtest::have_tool("gzip")) GTEST_SKIP() << "gzip is not installed";
    zvtest::for_each_road([&] {
        std::mt19937 rng(1321);
        for (size_t len : {1u, 100u, 4096u, 65537u}) {
            Bytes data = zvtest::random_bytes(rng, len);
            zvtest::write_file("crc.bin", std::string(data.begin(), data.end()));
            ASSERT_EQ(std::system("gzip -c -n crc.bin > crc.bin.gz"), 0);
            std::string gz = zvtest::read_file("crc.bin.gz");
            ASSERT_GE(gz.size(), 8u);
            const unsigned char *t = reinterpret_cast<const unsigned char *>(gz.data() + gz.size() - 8);
            uint32_t trailer = uint32_t(t[0]) | uint32_t(t[1]) << 8 | uint32_t(t[2]) << 16 | uint32_t(t[3]) << 24;
            EXPECT_EQ(crc32buffer(data.data(), uint32_t(len), 0), trailer) << len;
        }
    });
}

}  // namespace
