// Stored layout of index nodes and of the header fields the index keeps,
// checked against hand-written bytes; key comparison magnitudes.
#include <cstring>
#include <string>

#include "engine/core/fcb.h"
#include "engine/index/keysearch.h"
#include "engine/index/node.h"
#include "tests/engine/index/idxfix.h"
#include "zarvo/zarvo.h"

namespace {

using namespace idxtest;

std::string bytes_at(const std::string &file, size_t off, size_t n) { return file.substr(off, n); }

std::string hex(const std::string &s) {
    static const char *d = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += d[c >> 4];
        out += d[c & 15];
        out += ' ';
    }
    return out;
}

std::string raw(std::initializer_list<int> v) {
    std::string s;
    for (int c : v) s += char(c);
    return s;
}

uint32_t le32(const std::string &f, size_t off) {
    return uint32_t((unsigned char)f[off]) | uint32_t((unsigned char)f[off + 1]) << 8 |
           uint32_t((unsigned char)f[off + 2]) << 16 | uint32_t((unsigned char)f[off + 3]) << 24;
}

TEST(NodeHeaderCodec, EighteenAndTwentyEightByteForms) {
    NODEHDR h{};
    h.sucesr = 0x11223344;
    h.predsr = 0x55667788;
    h.nkv = 0x0102;
    h.nkb = 0x0304;
    h.numexc = 0x0506;
    h.frsexc = 0x0708;
    h.member = 0x09;
    h.leaf = 1;
    h.spare[0] = 0xAA;
    h.spare[1] = 0xBB;
    h.sucesrh = 0x0A0B0C0D;
    h.predsrh = 0x0E0F1011;
    unsigned char d[28];
    memset(d, 0xEE, sizeof d);
    zv::encode_nhdr(h, false, d);
    std::string want18 = raw({0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55, 0x02, 0x01, 0x04, 0x03, 0x06, 0x05,
                              0x08, 0x07, 0x09, 0x01});
    EXPECT_EQ(hex(std::string(reinterpret_cast<char *>(d), 18)), hex(want18));
    EXPECT_EQ(d[18], 0xEE) << "the 18-byte form writes nothing beyond byte 17";
    zv::encode_nhdr(h, true, d);
    std::string want28 = want18 + raw({0xAA, 0xBB, 0x0D, 0x0C, 0x0B, 0x0A, 0x11, 0x10, 0x0F, 0x0E});
    EXPECT_EQ(hex(std::string(reinterpret_cast<char *>(d), 28)), hex(want28));

    NODEHDR back{};
    zv::decode_nhdr(d, true, &back);
    EXPECT_EQ(memcmp(&back, &h, sizeof h), 0);
    // 4-byte positions: the high word is all ones exactly when the low word is.
    unsigned char d4[18] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    zv::decode_nhdr(d4, false, &back);
    EXPECT_EQ(back.sucesrh, 0xFFFFFFFFu);
    EXPECT_EQ(back.predsrh, 0u);
    EXPECT_EQ(back.predsr, 0xFFFFFFFEu);
}

TEST(KeyCompare, MagnitudeIsThePositionOfTheFirstDifferenceCappedAt256) {
    std::string a(400, 'a'), b(400, 'a');
    EXPECT_EQ(compar_k(reinterpret_cast<const unsigned char *>(a.data()),
                       reinterpret_cast<const unsigned char *>(b.data()), 400),
              0);
    b[4] = 'b';  // byte 5
    EXPECT_EQ(compar_k(reinterpret_cast<const unsigned char *>(a.data()),
                       reinterpret_cast<const unsigned char *>(b.data()), 400),
              -5);
    EXPECT_EQ(compar_k(reinterpret_cast<const unsigned char *>(b.data()),
                       reinterpret_cast<const unsigned char *>(a.data()), 400),
              5);
    b[4] = 'a';
    b[299] = '\x01';  // byte 300, below 'a'
    EXPECT_EQ(compar_k(reinterpret_cast<const unsigned char *>(a.data()),
                       reinterpret_cast<const unsigned char *>(b.data()), 400),
              256);
    EXPECT_EQ(compar_k(reinterpret_cast<const unsigned char *>(b.data()),
                       reinterpret_cast<const unsigned char *>(a.data()), 400),
              -256);
    // Short keys compare byte by byte; bytes compare unsigned.
    std::string c = "ab\x80", e = "ab\x7f";
    EXPECT_EQ(compar_k(reinterpret_cast<const unsigned char *>(c.data()),
                       reinterpret_cast<const unsigned char *>(e.data()), 3),
              3);
}

class LayoutTest : public IndexTest {};

TEST_F(LayoutTest, UniqueLeafElementAndOneLeafRoot) {
    IndexShape s;  // key 8, 4-byte positions, 512-byte nodes, extended header
    ASSERT_EQ(create_index(1, "u.idx", s), 0);
    ASSERT_EQ(add(1, "ABCDEFGH", 0x01020304), 0);
    ASSERT_EQ(close_index(1), 0);
    std::string f = zvtest::read_file("u.idx");
    ASSERT_GE(f.size(), 1024u);
    // Header: root +28, key count +24, leaf anchor +72, level count +276, leaf capacity +52.
    EXPECT_EQ(le32(f, 28), 512u);
    EXPECT_EQ(le32(f, 24), 1u);
    EXPECT_EQ(le32(f, 72), 512u);
    EXPECT_EQ(le32(f, 276), 1u);
    EXPECT_EQ(hex(bytes_at(f, 52, 2)), hex(raw({0xE4, 0x01})));  // 484 = 41 x 12 - 8
    // Node at 512: header, then the position little-endian before the key.
    std::string node = bytes_at(f, 512, 512);
    std::string want = raw({0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 12, 0, 0, 0, 0, 0, 0, 1}) +
                       raw({0x04, 0x03, 0x02, 0x01}) + "ABCDEFGH";
    EXPECT_EQ(hex(node.substr(0, 30)), hex(want));
    // High key: all 0xFF at header size + the leaf capacity.
    EXPECT_EQ(hex(node.substr(18 + 484, 8)), hex(std::string(8, '\xFF')));
}

TEST_F(LayoutTest, EightBytePositionsStoreTheHighWordFirst) {
    IndexShape s;
    s.wide = true;
    ASSERT_EQ(create_index(1, "w.idx", s), 0);
    ASSERT_EQ(add(1, "ABCDEFGH", 0x0000000500000006ull), 0);
    std::string key(8, '\0');
    EXPECT_EQ(EQLKEY(1, "ABCDEFGH"), 6u);
    EXPECT_EQ(zvGETHGH(), 5);
    ASSERT_EQ(close_index(1), 0);
    std::string f = zvtest::read_file("w.idx");
    std::string node = bytes_at(f, 512, 512);
    std::string want = raw({0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 16, 0, 0, 0, 0, 0, 0, 1}) + raw({0, 0}) +
                       raw({0, 0, 0, 0, 0, 0, 0, 0}) + raw({5, 0, 0, 0, 6, 0, 0, 0}) + "ABCDEFGH";
    EXPECT_EQ(hex(node.substr(0, 44)), hex(want));
    // Root high word (+156) and leaf anchor high word (+200) are 0.
    EXPECT_EQ(le32(f, 28), 512u);
    EXPECT_EQ(le32(f, 156), 0u);
}

TEST_F(LayoutTest, DuplicateLeafElementEndsWithThePositionMostSignificantFirst) {
    IndexShape s;
    s.keylen = 12;
    s.dup = 1;
    ASSERT_EQ(create_index(1, "d.idx", s), 0);
    ASSERT_EQ(add(1, "ABCDEFGH....", 0x01020304), 0);
    ASSERT_EQ(close_index(1), 0);
    std::string f = zvtest::read_file("d.idx");
    std::string node = bytes_at(f, 512, 512);
    std::string want =
        raw({0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 12, 0, 0, 0, 0, 0, 0, 1}) + "ABCDEFGH" + raw({0x01, 0x02, 0x03, 0x04});
    EXPECT_EQ(hex(node.substr(0, 30)), hex(want));
}

TEST_F(LayoutTest, FirstRootSplitMakesATwoElementRootEndingInAllOnes) {
    IndexShape s;
    ASSERT_EQ(create_index(1, "r.idx", s), 0);
    // 40 keys fill the leaf (40 x 12 = 480 <= 484); the 41st splits it.
    for (uint64_t i = 1; i <= 40; i++) ASSERT_EQ(add(1, int_key(i, 8), 100 + i), 0);
    FCB *f = fcb_of(1);
    EXPECT_EQ(f->hdr.ext.levels, 1);
    EXPECT_EQ(f->hdr.base.root, 512u);
    ASSERT_EQ(add(1, int_key(41, 8), 141), 0) << ::testing::PrintToString(log_lines());
    EXPECT_EQ(f->hdr.ext.levels, 2);
    EXPECT_EQ(f->hdr.base.root, 1536u);
    EXPECT_EQ(f->hdr.base.lanchr, 512u);
    EXPECT_EQ(check(1), "");
    ASSERT_EQ(close_index(1), 0);
    std::string file = zvtest::read_file("r.idx");
    EXPECT_EQ(le32(file, 276), 2u);
    EXPECT_EQ(le32(file, 28), 1536u);
    // An ascending run leaves 6/7 of 41 = 35 keys in the old leaf.
    std::string root = bytes_at(file, 1536, 512);
    std::string want = raw({0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 24, 0, 0, 0, 0, 0, 0, 0}) + raw({0x00, 0x02, 0, 0}) +
                       int_key(35, 8) + raw({0x00, 0x04, 0, 0}) + std::string(8, '\xFF');
    EXPECT_EQ(hex(root.substr(0, 42)), hex(want));
    std::string left = bytes_at(file, 512, 18), right = bytes_at(file, 1024, 18);
    EXPECT_EQ(hex(left), hex(raw({0x00, 0x04, 0, 0, 0, 0, 0, 0, 35, 0, 0xA4, 0x01, 0, 0, 0, 0, 0, 1})));
    EXPECT_EQ(hex(right), hex(raw({0, 0, 0, 0, 0x00, 0x02, 0, 0, 6, 0, 72, 0, 0, 0, 0, 0, 0, 1})));
    // The old leaf's high key is the separator, the new one's all ones.
    EXPECT_EQ(hex(bytes_at(file, 512 + 18 + 484, 8)), hex(int_key(35, 8)));
    EXPECT_EQ(hex(bytes_at(file, 1024 + 18 + 484, 8)), hex(std::string(8, '\xFF')));
}

}  // namespace
