// Conversion of records and system resources between stored and host
// order, walked along conversion maps. Every test here forces the byte
// swap on, as a big-endian host would have it.
#include <cstring>
#include <vector>

#include "engine/files/resconv.h"
#include "engine/files/resource.h"
#include "engine/isam/isam_services.h"
#include "tests/engine/files/files_util.h"

namespace {

using filestest::Bytes;
using filestest::file_bytes;
using filestest::slice;
using namespace zv;

struct Map {
    ZvMapHead head;
    std::vector<ZvMapEntry> entries;
};

Map map_of(std::vector<ZvMapEntry> e) {
    int32_t fields = 0;
    for (const ZvMapEntry &x : e) fields += 1 + x.repeat;
    return Map{ZvMapHead{0, 1, 0, 0, 0, fields, int32_t(e.size())}, e};
}

int convert(Bytes &b, const Map &m, int dir, int32_t len = -1) {
    return zvconvert18(b.data(), reinterpret_cast<const unsigned char *>(&m.head),
                       reinterpret_cast<const unsigned char *>(m.entries.data()), len < 0 ? int32_t(b.size()) : len,
                       0, dir, -1);
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

class ResConvTest : public filestest::FilesTest {
protected:
    void SetUp() override {
        filestest::FilesTest::SetUp();
        force_byte_swap(true);
    }
    void TearDown() override {
        force_byte_swap(false);
        filestest::FilesTest::TearDown();
    }
};

TEST_F(ResConvTest, RecordWalkOverFieldTypes) {
    struct Case {
        const char *what;
        Map map;
        Bytes in;
        int dir;
        Bytes out;
        int result;
    };
    const Bytes pdata(200, 'p');
    const Case cases[] = {
        {"a PSTRING of prefix 200 puts the next field 201 bytes on",
         map_of({{0, ZV_PSTRING, 0, 0}, {2, ZV_INT2, 0, 0}, {4, ZV_INT4U, 0, 0}}),
         cat({{200}, pdata, {0x12, 0x34}, {1, 2, 3, 4}}), kToStored,
         cat({{200}, pdata, {0x34, 0x12}, {4, 3, 2, 1}}), 1},
        {"a 2STRING running past the end stops the walk",
         map_of({{2, ZV_INT2, 0, 0}, {0, ZV_2STRING, 0, 0}, {2, ZV_INT2, 0, 0}}),
         {0xAA, 0xBB, 100, 0, 1, 2, 3, 4}, kToStored, {0xBB, 0xAA, 100, 0, 1, 2, 3, 4}, 1},
        {"a STRING ends after its delimiter",
         map_of({{0, ZV_STRING, 0, 0}, {2, ZV_INT2U, 0, 0}}), {'a', 'b', 0, 7, 8}, kToStored,
         {'a', 'b', 0, 8, 7}, 1},
        {"a STRING without delimiter takes the rest", map_of({{0, ZV_STRING, 0, 0}, {2, ZV_INT2U, 0, 0}}),
         {'a', 'b', 7, 8}, kToStored, {'a', 'b', 7, 8}, 0},
        {"a stored 4STRING prefix is converted before it is read",
         map_of({{0, ZV_4STRING, 0, 0}, {2, ZV_INT2, 0, 0}}), {0, 0, 0, 2, 'x', 'y', 5, 6}, kToHost,
         {2, 0, 0, 0, 'x', 'y', 6, 5}, 1},
        {"a host 2STRING prefix is read as it stands", map_of({{0, ZV_2STRING, 0, 0}, {2, ZV_INT2, 0, 0}}),
         {2, 0, 'x', 'y', 5, 6}, kToStored, {0, 2, 'x', 'y', 6, 5}, 1},
        {"wide characters up to their NUL", map_of({{0, ZV_WSTRING0, 0, 0}, {2, ZV_INT2, 0, 0}}),
         {'a', 0, 'b', 0, 0, 0, 5, 6}, kToStored, {0, 'a', 0, 'b', 0, 0, 6, 5}, 1},
        {"a counted wide string reads its stored count converted",
         map_of({{0, ZV_W2STRING, 0, 0}, {2, ZV_INT2, 0, 0}}), {0, 2, 0, 'a', 5, 6}, kToHost,
         {2, 0, 'a', 0, 6, 5}, 1},
        {"characters and fixed strings have no byte order",
         map_of({{3, ZV_FSTRING, 0, 0}, {1, ZV_CHARU, 1, 0}}), {1, 2, 3, 4, 5}, kToStored, {1, 2, 3, 4, 5}, 0},
        {"a field past the length is left", map_of({{2, ZV_INT2, 0, 0}, {4, ZV_INT4, 0, 0}}),
         {1, 2, 3, 4, 5}, kToStored, {2, 1, 3, 4, 5}, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes b = c.in;
        EXPECT_EQ(convert(b, c.map, c.dir), c.result);
        EXPECT_EQ(b, c.out);
    }
    Map m = map_of({{2, ZV_INT2, 0, 0}});
    Bytes b = {1, 2};
    EXPECT_EQ(convert(b, m, kToStored, 0), 0);
    EXPECT_EQ(zvconvert18(b.data(), nullptr, reinterpret_cast<const unsigned char *>(m.entries.data()), 2, 0,
                          kToStored, -1),
              0);
    EXPECT_EQ(b, (Bytes{1, 2}));
}

TEST_F(ResConvTest, AlignmentAndFieldWidths) {
    // Offsets from the start of the record image.
    EXPECT_EQ(zvadjadr(1, ZV_INT4, 1), 0);
    EXPECT_EQ(zvadjadr(4, ZV_INT4, 1), 3);
    EXPECT_EQ(zvadjadr(4, ZV_INT2, 1), 1);
    EXPECT_EQ(zvadjadr(8, 103, 3), 5);
    EXPECT_EQ(zvadjadr(8, ZV_FSTRING, 3), 0);
    EXPECT_EQ(zvadjadr(8, 300, 3), 0);
    struct Case {
        int type;
        int32_t len;
        Bytes in, out;
        int result;
    };
    const Case cases[] = {
        {ZV_INT4U, 0, {1, 2, 3, 4}, {4, 3, 2, 1}, 1},
        {103, 0, {1, 2, 3, 4, 5, 6, 7, 8}, {8, 7, 6, 5, 4, 3, 2, 1}, 1},
        {ZV_2STRING, 6, {1, 2, 3, 4, 5, 6}, {2, 1, 3, 4, 5, 6}, 1},
        {ZV_4STRING, 6, {1, 2, 3, 4, 5, 6}, {4, 3, 2, 1, 5, 6}, 1},
        {193, 4, {1, 2, 3, 4}, {2, 1, 4, 3}, 1},
        {ZV_FSTRING, 4, {1, 2, 3, 4}, {1, 2, 3, 4}, 0},
        {257, 0, {1, 2, 3, 4, 5, 6, 7, 8}, {8, 7, 6, 5, 4, 3, 2, 1}, 1},
        {250, 2, {1, 2}, {1, 2}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        Bytes b = c.in;
        EXPECT_EQ(zvadjfld(c.type, b.data(), c.len), c.result);
        EXPECT_EQ(b, c.out);
    }
}

// A definition resource (type 0, number 1) in host order: head and offset
// table (1048 bytes), then a file-definition block of one index with two
// key segments (80 bytes), a record-schema block of two 4-byte entries (24
// bytes) and an opaque block (4 bytes).
Bytes definition(uint16_t fourth_len) {
    Bytes b(1048 + 80 + 24 + 4, 0);
    auto put32 = [&](size_t at, uint32_t v) { memcpy(&b[at], &v, 4); };
    auto put16 = [&](size_t at, uint16_t v) { memcpy(&b[at], &v, 2); };
    put32(4, 1);
    memcpy(&b[8], "QV!DEF", 6);
    put32(16, 0x11223344);
    put32(20, 0x55667788);
    const uint32_t offs[4] = {1048, 1128, 1152, 1152};
    const uint16_t lens[4] = {80, 24, 4, fourth_len};
    for (int i = 0; i < 4; i++) {
        put32(24 + 8 * i, offs[i]);
        put16(28 + 8 * i, 0x0A0B);
        put16(30 + 8 * i, lens[i]);
    }
    size_t fd = 1048;
    put32(fd, 0x01020304);
    for (int w = 0; w < 7; w++) put16(fd + 4 + 2 * w, uint16_t(0x0100 + w));
    put16(fd + 16, 1);                      // one index
    b[fd + 20] = 0xEE;                      // not converted
    for (int w = 0; w < 6; w++) put16(fd + 36 + 2 * w, uint16_t(0x0200 + w));
    put16(fd + 36 + 10, 2);                 // two key segments
    for (int w = 0; w < 6; w++) put16(fd + 68 + 2 * w, uint16_t(0x0300 + w));
    size_t sm = 1128;
    b[sm] = 1, b[sm + 1] = 2, b[sm + 2] = 3, b[sm + 3] = 4;
    put32(sm + 4, 0x0A0B0C0D);
    put32(sm + 8, 0x01020304);
    put32(sm + 12, 2);                      // two entries
    put16(sm + 16, 0x1122), b[sm + 18] = 7, b[sm + 19] = 8;
    put16(sm + 20, 0x3344), b[sm + 22] = 9, b[sm + 23] = 10;
    b[1152] = 0xC1, b[1153] = 0xC2, b[1154] = 0xC3, b[1155] = 0xC4;
    return b;
}

TEST_F(ResConvTest, DefinitionResourceConvertsTwoBlocksAndLeavesTheThird) {
    Bytes b = definition(0);
    RESHDR h{};
    h.type = 0, h.number = 1, h.usedlen = uint32_t(b.size());
    ASSERT_EQ(convertfcr(nullptr, &h, b.data(), int32_t(b.size()), kToStored), 0);
    // Head: words at 16 and 20 reversed, table entries as u32, u16, u16.
    EXPECT_EQ(slice(b, 16, 8), (Bytes{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
    EXPECT_EQ(slice(b, 24, 8), (Bytes{0, 0, 0x04, 0x18, 0x0A, 0x0B, 0, 0x50}));
    EXPECT_EQ(slice(b, 8, 8), (Bytes{'Q', 'V', '!', 'D', 'E', 'F', 0, 0}));
    // File definition: u32, seven i16, untouched rest of the head, the index
    // entry's first twelve bytes, both segments.
    EXPECT_EQ(slice(b, 1048, 18), (Bytes{1, 2, 3, 4, 1, 0, 1, 1, 1, 2, 1, 3, 1, 4, 1, 5, 0, 1}));
    EXPECT_EQ(b[1048 + 20], 0xEE);
    EXPECT_EQ(slice(b, 1048 + 36, 12), (Bytes{2, 0, 2, 1, 2, 2, 2, 3, 2, 4, 0, 2}));
    EXPECT_EQ(slice(b, 1048 + 68, 12), (Bytes{3, 0, 3, 1, 3, 2, 3, 3, 3, 4, 3, 5}));
    // Record schema: four bytes, three i32, then u16 and two bytes per entry.
    EXPECT_EQ(slice(b, 1128, 24), (Bytes{1, 2, 3, 4, 0x0A, 0x0B, 0x0C, 0x0D, 1, 2, 3, 4, 0, 0, 0, 2, 0x11, 0x22,
                                         7, 8, 0x33, 0x44, 9, 10}));
    EXPECT_EQ(slice(b, 1152, 4), (Bytes{0xC1, 0xC2, 0xC3, 0xC4}));
    ASSERT_EQ(convertfcr(nullptr, &h, b.data(), int32_t(b.size()), kToHost), 0);
    EXPECT_EQ(b, definition(0));

    Bytes bad = definition(4);
    EXPECT_EQ(convertfcr(nullptr, &h, bad.data(), int32_t(bad.size()), kToStored), 439);
    EXPECT_EQ(zvGetUserErrorCode(), 439);
}

TEST_F(ResConvTest, SystemTypesByNumber) {
    struct Case {
        uint32_t type, number;
        int code;
        bool changed;
    };
    const Case cases[] = {
        {10, 1, 0, false}, {10, 2, 0, true}, {0, 0, 439, false}, {0, 4, 439, false}, {212, 14, 439, false},
        {0, 9, 0, false},  {0, 6, 0, true},  {1001, 3, 0, true}, {1, 5, 0, false},    {300, 1, 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.number));
        Bytes b(80);
        for (size_t i = 0; i < b.size(); i++) b[i] = uint8_t(i);
        Bytes before = b;
        RESHDR h{};
        h.type = c.type, h.number = c.number, h.usedlen = 80;
        zv::set_uerr(99 * (c.type == 10));
        int rc = convertfcr(nullptr, &h, b.data(), 80, kToStored);
        EXPECT_EQ(rc, c.code);
        EXPECT_EQ(b != before, c.changed);
        if (c.type == 10) {
            EXPECT_EQ(zvGetUserErrorCode(), 0);
        }
    }
    // Number 5: two counts, then that many 8-byte entries within the length.
    Bytes b(36, 0);
    b[16] = 1, b[18] = 5;  // 1 + 5 entries claimed, two fit
    for (size_t i = 20; i < 36; i++) b[i] = uint8_t(i);
    RESHDR h{};
    h.type = 0, h.number = 5, h.usedlen = 36;
    ASSERT_EQ(convertfcr(nullptr, &h, b.data(), 36, kToStored), 0);
    EXPECT_EQ(slice(b, 16, 20), (Bytes{0, 1, 0, 5, 21, 20, 23, 22, 27, 26, 25, 24, 29, 28, 31, 30, 35, 34, 33,
                                       32}));
}

TEST_F(ResConvTest, FileDefinitionCountsEndTheWalkAtTheLength) {
    // convert_fil2 with the extended part: after the segments a string and
    // 128 bytes are passed over, then per index its strings and its
    // collating sequence.
    Bytes b(36 + 32 + 6 + 3 + 128 + 2 + 512, 0);
    int16_t one = 1;
    memcpy(&b[12], &one, 2);
    memcpy(&b[36 + 10], &one, 2);
    b[36 + 16] = 1;   // a string
    b[36 + 24] = 1;   // a collating sequence
    size_t p = 36 + 32 + 6;
    b[p] = 'x', b[p + 1] = 'y', b[p + 2] = 0;
    p += 3 + 128;
    b[p] = 'z', b[p + 1] = 0;
    p += 2;
    b[p] = 0x01, b[p + 1] = 0x02;
    ASSERT_EQ(convert_fil2(b.data(), int32_t(b.size()), kToStored, true), 0);
    EXPECT_EQ(b[p], 0x02);
    EXPECT_EQ(b[p + 1], 0x01);
    EXPECT_EQ(slice(b, 12, 2), (Bytes{0, 1}));
    // The same cut before the sequence: nothing beyond the length is touched.
    Bytes cut(b.size(), 0);
    memcpy(&cut[12], &one, 2);
    memcpy(&cut[36 + 10], &one, 2);
    cut[36 + 24] = 1;
    cut[36 + 32 + 6] = 0;
    cut[p - 2] = 0;
    Bytes keep = cut;
    ASSERT_EQ(convert_fil2(cut.data(), int32_t(p + 100), kToStored, true), 0);
    EXPECT_EQ(slice(cut, p, 512), slice(keep, p, 512));
    // A record schema whose count claims more entries than fit.
    Bytes m(16 + 6 * 2, 0);
    int32_t many = 1000;
    memcpy(&m[12], &many, 4);
    m[16] = 1, m[17] = 2, m[22] = 3, m[23] = 4;
    ASSERT_EQ(convert_map(m.data(), int32_t(m.size()), kToStored, 2), 0);
    EXPECT_EQ(slice(m, 16, 12), (Bytes{2, 1, 0, 0, 0, 0, 4, 3, 0, 0, 0, 0}));
}

TEST_F(ResConvTest, SystemResourcesAreStoredConvertedAndCallersKeepTheirBytes) {
    ASSERT_EQ(CREDATX8(1, "c.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(ENARES(1), 0);
    Bytes six(40, 0);
    six[4] = 6;
    memcpy(&six[8], "SECURE", 6);
    for (int i = 16; i < 40; i++) six[i] = uint8_t(i);
    Bytes caller = six;
    ASSERT_EQ(ADDRES(1, caller.data(), int32_t(caller.size())), 0);
    EXPECT_EQ(caller, six);
    uint32_t k[2] = {0, 6};
    Bytes got(40);
    uint32_t pos = GETRES(1, k, got.data(), 40, 2);
    ASSERT_NE(pos, 0u);
    EXPECT_EQ(got, six);
    ASSERT_EQ(zvflushd(fcb(1), 0), 0);
    Bytes disk = slice(file_bytes("c.dat"), pos + 22, 40);
    EXPECT_EQ(slice(disk, 0, 8), (Bytes{0, 0, 0, 0, 0, 0, 0, 6}));
    EXPECT_EQ(slice(disk, 16, 8), (Bytes{19, 18, 17, 16, 23, 22, 21, 20}));

    Bytes newer = six;
    newer[39] = 0x99;
    caller = newer;
    ASSERT_EQ(UPDRES(1, caller.data(), int32_t(caller.size())), 0);
    EXPECT_EQ(caller, newer);
    ASSERT_NE(GETRES(1, k, got.data(), 40, 2), 0u);
    EXPECT_EQ(got, newer);

    Bytes bad = definition(4);
    caller = bad;
    EXPECT_EQ(ADDRES(1, caller.data(), int32_t(caller.size())), 439);
    EXPECT_EQ(caller, bad);
    EXPECT_EQ(zv::resource_ring_count(1), 2);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

}  // namespace
