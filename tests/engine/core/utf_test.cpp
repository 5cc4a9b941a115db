// UTF-8, UTF-16 and 32-bit text conversions, wide-field fill, ISAM error.
#include <cstring>
#include <vector>

#include "engine/core/instance.h"
#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"

namespace {

using Bytes = std::vector<unsigned char>;
using U16 = std::vector<uint16_t>;
using U32 = std::vector<uint32_t>;

// Converts all of `in` with room for `room` output units; returns the result
// code and the output, and how much input was consumed.
template <class In, class Out, class Fn>
int convert(Fn fn, const std::vector<In> &in, size_t room, std::vector<Out> *out,
            size_t *consumed = nullptr) {
    out->assign(room, 0);
    const In *s = in.data();
    Out *d = out->data();
    int rc = fn(&s, in.data() + in.size(), &d, out->data() + room);
    out->resize(static_cast<size_t>(d - out->data()));
    if (consumed) *consumed = static_cast<size_t>(s - in.data());
    return rc;
}

TEST(UtfTest, Utf8ToUtf16AndBack) {
    const struct {
        Bytes utf8;
        U16 utf16;
    } cases[] = {
        {{0x41}, {0x0041}},
        {{0xC3, 0xA9}, {0x00E9}},
        {{0xE2, 0x82, 0xAC}, {0x20AC}},
        {{0xF0, 0x9F, 0x98, 0x80}, {0xD83D, 0xDE00}},
        {{0x61, 0xF4, 0x8F, 0xBF, 0xBF}, {0x0061, 0xDBFF, 0xDFFF}},
    };
    for (const auto &c : cases) {
        U16 u16;
        EXPECT_EQ(convert(zvConvertUTF8toUTF16, c.utf8, 8, &u16), 0);
        EXPECT_EQ(u16, c.utf16);
        Bytes back;
        EXPECT_EQ(convert(zvConvertUTF16toUTF8, c.utf16, 16, &back), 0);
        EXPECT_EQ(back, c.utf8);
    }
}

TEST(UtfTest, Utf8DecodingTakesWhatItSums) {
    U16 u16;
    // A stray continuation byte is the code point of its value; a 5-byte
    // sequence decodes beyond U+10FFFF and becomes U+FFFD.
    EXPECT_EQ(convert(zvConvertUTF8toUTF16, Bytes{0x80, 0xBF}, 4, &u16), 0);
    EXPECT_EQ(u16, (U16{0x0080, 0x00BF}));
    EXPECT_EQ(convert(zvConvertUTF8toUTF16, Bytes{0xF8, 0x88, 0x80, 0x80, 0x80}, 4, &u16), 0);
    EXPECT_EQ(u16, U16{0xFFFD});
    U32 u32;
    EXPECT_EQ(convert(zvConvertUTF8toUCS4, Bytes{0xF8, 0x88, 0x80, 0x80, 0x80}, 4, &u32), 0);
    EXPECT_EQ(u32, U32{0xFFFD});
}

TEST(UtfTest, SourceEndingInsideASequenceStopsOnItsLeadByte) {
    U16 u16;
    size_t used = 0;
    EXPECT_EQ(convert(zvConvertUTF8toUTF16, Bytes{0x61, 0xE2, 0x82}, 8, &u16, &used), 1);
    EXPECT_EQ(u16, U16{0x0061});
    EXPECT_EQ(used, 1u);
    U32 u32;
    EXPECT_EQ(convert(zvConvertUTF8toUCS4, Bytes{0xF0, 0x9F, 0x98}, 8, &u32, &used), 1);
    EXPECT_TRUE(u32.empty());
    EXPECT_EQ(used, 0u);
}

TEST(UtfTest, FullTargetStopsBeforeTheUnitAndResumes) {
    const Bytes in = {0x61, 0xC3, 0xA9, 0xF0, 0x9F, 0x98, 0x80};
    const unsigned char *s = in.data();
    const unsigned char *end = in.data() + in.size();
    uint16_t out[4] = {0};
    uint16_t *d = out;
    EXPECT_EQ(zvConvertUTF8toUTF16(&s, end, &d, out + 1), 2);
    EXPECT_EQ(s, in.data() + 1);
    EXPECT_EQ(d, out + 1);
    EXPECT_EQ(zvConvertUTF8toUTF16(&s, end, &d, out + 3), 2);  // the pair needs two
    EXPECT_EQ(s, in.data() + 3);
    EXPECT_EQ(d, out + 2);
    EXPECT_EQ(zvConvertUTF8toUTF16(&s, end, &d, out + 4), 0);
    EXPECT_EQ(s, end);
    EXPECT_EQ(out[0], 0x61);
    EXPECT_EQ(out[1], 0xE9);
    EXPECT_EQ(out[2], 0xD83D);
    EXPECT_EQ(out[3], 0xDE00);

    // A UTF-8 sequence is written whole or not at all.
    const U16 src = {0x20AC};
    Bytes b;
    size_t used = 9;
    EXPECT_EQ(convert(zvConvertUTF16toUTF8, src, 2, &b, &used), 2);
    EXPECT_TRUE(b.empty());
    EXPECT_EQ(used, 0u);
}

TEST(UtfTest, LoneSurrogatesBecomeThreeBytes) {
    Bytes b;
    EXPECT_EQ(convert(zvConvertUTF16toUTF8, U16{0xD800}, 8, &b), 0);
    EXPECT_EQ(b, (Bytes{0xED, 0xA0, 0x80}));
    EXPECT_EQ(convert(zvConvertUTF16toUTF8, U16{0xD800, 0x0041, 0xDC00}, 8, &b), 0);
    EXPECT_EQ(b, (Bytes{0xED, 0xA0, 0x80, 0x41, 0xED, 0xB0, 0x80}));
}

TEST(UtfTest, WideUnitsToUtf8) {
    const struct {
        U32 in;
        Bytes out;
    } cases[] = {
        {{0x7F}, {0x7F}},
        {{0x7FF}, {0xDF, 0xBF}},
        {{0xD83D, 0xDE00}, {0xF0, 0x9F, 0x98, 0x80}},  // a pair in two units
        {{0x1F600}, {0xF0, 0x9F, 0x98, 0x80}},
        {{0x200000}, {0xF8, 0x88, 0x80, 0x80, 0x80}},
        {{0x4000000}, {0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}},
        {{0x80000000u}, {0xEF, 0xBF, 0xBD}},
    };
    for (const auto &c : cases) {
        Bytes b;
        EXPECT_EQ(convert(zvConvertUCS4toUTF8, c.in, 8, &b), 0);
        EXPECT_EQ(b, c.out);
    }
    U32 u32;
    EXPECT_EQ(convert(zvConvertUTF8toUCS4, Bytes{0xF0, 0x9F, 0x98, 0x80}, 4, &u32), 0);
    EXPECT_EQ(u32, (U32{0xD83D, 0xDE00}));
}

TEST(UtfTest, WideUnitsAndUtf16) {
    U16 u16;
    EXPECT_EQ(convert(zvConvertUCS4toUTF16, U32{0x41, 0x1F600, 0x110000}, 8, &u16), 0);
    EXPECT_EQ(u16, (U16{0x41, 0xD83D, 0xDE00, 0xFFFD}));
    EXPECT_EQ(convert(zvConvertUCS4toUTF16, U32{0x1F600}, 1, &u16), 2);
    EXPECT_TRUE(u16.empty());
    U32 u32;
    EXPECT_EQ(convert(zvConvertUTF16toUCS4, U16{0xD83D, 0xDE00, 0xDC00, 0xD800}, 8, &u32), 0);
    EXPECT_EQ(u32, (U32{0x1F600, 0xDC00, 0xD800}));
    EXPECT_EQ(convert(zvConvertUTF16toUCS4, U16{0x41, 0x42}, 1, &u32), 2);
    EXPECT_EQ(u32, U32{0x41});
}

TEST(UtfTest, WrappersConvertWithTheirTerminators) {
    uint16_t w[4];
    EXPECT_EQ(zvu8TOu16("\xC3\xA9", w, 4), 0);
    EXPECT_EQ(w[0], 0x00E9);
    EXPECT_EQ(w[1], 0);
    EXPECT_EQ(zvu8TOu16("\xC3\xA9", w, 2), 153);
    EXPECT_EQ(zvu8TOu16("a\xF0\x9F", w, 8), 446);  // the 00 is taken as its third byte
    EXPECT_EQ(zvu8TOu16(nullptr, w, 8), 540);

    const uint16_t smile[] = {0xD83D, 0xDE00, 0};
    char b[8];
    EXPECT_EQ(zvu16TOu8(smile, b, 5), 0);
    EXPECT_EQ(memcmp(b, "\xF0\x9F\x98\x80", 5), 0);
    EXPECT_EQ(zvu16TOu8(smile, b, 4), 153);
}

TEST(UtfTest, CountedWrapperAddsATerminatorWhenThereIsRoom) {
    uint16_t w[4] = {9, 9, 9, 9};
    EXPECT_EQ(zvu8TOu16S("ab", 2, w, 6), 0);
    EXPECT_EQ(w[0], 'a');
    EXPECT_EQ(w[1], 'b');
    EXPECT_EQ(w[2], 0);
    EXPECT_EQ(zvu8TOu16S("ab", 2, w, 4), 446);  // no room for the 0 unit
    EXPECT_EQ(zvu8TOu16S("ab", -1, w, 6), 0);   // the terminator is converted
    EXPECT_EQ(w[2], 0);
    w[0] = 9;
    EXPECT_EQ(zvu8TOu16S("ab", 0, w, 6), 0);    // nothing written
    EXPECT_EQ(w[0], 9);
    EXPECT_EQ(zvu8TOu16S("ab", 2, w, 2), 153);
}

TEST(UtfTest, WideLengths) {
    alignas(4) unsigned char buf[8] = {0xFF, 'a', 0, 'b', 0, 0, 0, 7};
    EXPECT_EQ(zvua_wcstrlen(buf + 1), 4);  // at an odd address
    EXPECT_EQ(zvua_wcstrlen(buf + 5), 0);
    const uint32_t w[] = {1, 2, 0x10000, 0};
    EXPECT_EQ(zv_ucs2strlen(w), 3);
    EXPECT_EQ(zvua_wcstrlen(nullptr), 0);
}

TEST(UtfTest, EncodingPrefixes) {
    const char *expect[] = {"\0\0\0\0\0\0\0\0", "&&ASCII&", "&&UTF08&", "&&UTF16&", "&&UTF32&"};
    for (int n = 0; n <= 4; n++) {
        char out[8];
        EXPECT_EQ(zvMBprefix(out, n), 0);
        EXPECT_EQ(memcmp(out, expect[n], 8), 0) << n;
    }
    char out[8] = {'x'};
    EXPECT_EQ(zvMBprefix(out, 5), 446);
    EXPECT_EQ(zvMBprefix(out, -1), 446);
    EXPECT_EQ(out[0], 'x');
}

TEST(UtfTest, PadrecuFillsTheFieldWithPadUnits) {
    const unsigned char src[5] = {'h', 0, 'i', 0, '!'};
    unsigned char t[12];
    memset(t, 0xAA, sizeof t);
    EXPECT_EQ(padrecu(t, 10, src, 10, 5, 0x20, src + 5), 10u);
    const unsigned char expect[12] = {'h', 0, 'i', 0, '!', 0, 0, 0x20, 0, 0x20, 0xAA, 0xAA};
    EXPECT_EQ(memcmp(t, expect, sizeof t), 0);

    // An exact 5-byte target: the odd copy's zero byte would fall outside.
    memset(t, 0xAA, sizeof t);
    EXPECT_EQ(padrecu(t, 5, src, 5, 5, 0x20, src + 5), 5u);
    const unsigned char exact[7] = {'h', 0, 'i', 0, '!', 0xAA, 0xAA};
    EXPECT_EQ(memcmp(t, exact, sizeof exact), 0);

    // The source end cuts the copy below srclen.
    memset(t, 0xAA, sizeof t);
    EXPECT_EQ(padrecu(t, 8, src, 8, 5, 0x2E, src + 3), 8u);
    const unsigned char cut[9] = {'h', 0, 'i', 0, 0, 0x2E, 0, 0x2E, 0xAA};
    EXPECT_EQ(memcmp(t, cut, sizeof cut), 0);

    // A target smaller than the field takes nothing.
    memset(t, 0xAA, sizeof t);
    EXPECT_EQ(padrecu(t, 9, src, 10, 5, 0x20, src + 5), 0xFFFFFFFFu);
    EXPECT_EQ(t[0], 0xAA);
    EXPECT_EQ(padrecu(nullptr, 10, src, 10, 5, 0x20, nullptr), 0xFFFFFFFFu);
}

TEST(UtfTest, PadrecuWithoutSourceEndCopiesTheTextAndItsTerminator) {
    const unsigned char src[] = {'a', 0, 'b', 0, 0, 0, 'z', 'z'};
    unsigned char t[11];
    memset(t, 0xAA, sizeof t);
    EXPECT_EQ(padrecu(t, 11, src, 11, 0, 0x2E, nullptr), 11u);
    const unsigned char expect[11] = {'a', 0, 'b', 0, 0, 0, 0, 0x2E, 0, 0x2E, 0};
    EXPECT_EQ(memcmp(t, expect, sizeof t), 0);
    // A field shorter than the text takes its first bytes only.
    memset(t, 0xAA, sizeof t);
    EXPECT_EQ(padrecu(t, 3, src, 3, 0, 0x2E, nullptr), 3u);
    EXPECT_EQ(t[0], 'a');
    EXPECT_EQ(t[2], 'b');
    EXPECT_EQ(t[3], 0xAA);
}

TEST(UtfTest, UfillRepeatsTheUnitInMemoryOrder) {
    const unsigned char unit_bytes[2] = {0x00, 0x20};
    uint16_t unit;
    memcpy(&unit, unit_bytes, 2);
    unsigned char t[6];
    memset(t, 0xAA, sizeof t);
    ufill(t, unit, 5);
    const unsigned char expect[6] = {0x00, 0x20, 0x00, 0x20, 0x00, 0xAA};
    EXPECT_EQ(memcmp(t, expect, sizeof t), 0);
}

class IerrTest : public zvtest::ZvTest {};

TEST_F(IerrTest, StoresCodeAndFileNumber) {
    EXPECT_EQ(ierr(12, 3), 12);  // no instance: only the answer
    ASSERT_EQ(REGZARVO("x"), 0);
    EXPECT_EQ(ierr(101, 7), 101);
    EXPECT_EQ(zvGetIsamErrorCode(), 101);
    EXPECT_EQ(zvGetIsamFileNbr(), 7);
    EXPECT_EQ(zvGetUserErrorCode(), 0);
}

}  // namespace
