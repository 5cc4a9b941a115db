// Extended key segment definitions: their resource, the instance list,
// reloading at open, and the transforms of each sub-kind.
#include <algorithm>
#include <random>
#include <set>

#include "tests/engine/index/keyfix.h"

namespace {

using keytest::Bytes;

class KsegDefTest : public keytest::KeyTest {
protected:
    static KSEGDEF def(int subkind, int signpos = 0, int signrow = 0, const char *locale = "") {
        KSEGDEF d{};
        d.kind = 2;
        d.subkind = subkind;
        d.signpos = signpos;
        d.signrow = signrow;
        snprintf(d.locale, sizeof d.locale, "%s", locale);
        return d;
    }
    // An index on 2 over data file 1 with two 4-byte segments.
    void two_segments() {
        make_data(1, 16);
        make_index(2, 1, 8);
        seg(2, 0, 0, 4, 0x400);
        seg(2, 1, 4, 4, 0);
        zvlfsegget(2, 2);
    }
    Bytes xfm(int32_t pos, const Bytes &src, int32_t seglen, int32_t *rc = nullptr) {
        Bytes out(size_t(seglen), 0x77);
        int32_t r = XFMKSEGDEF(pos, src.data(), int32_t(src.size()), 0, out.data(), seglen);
        if (rc) *rc = r;
        return out;
    }
};

Bytes text(const char *s) { return Bytes(s, s + strlen(s)); }

TEST_F(KsegDefTest, ADefinitionIsStoredAsALittleEndianResource) {
    two_segments();
    KSEGDEF d = def(3);
    d.size = 99;
    d.check = 5;
    d.srcrule = -1;
    d.spare = 7;
    memcpy(d.locale, "de_DE\0garbage", 13);
    int pos = PUTKSEGDEF(2, 1, &d);
    ASSERT_GE(pos, 1);
    EXPECT_EQ(zvGetUserErrorCode(), 0);
    uint32_t key[2] = {1001, 0x00020000};
    Bytes body(200, 0);
    ASSERT_NE(GETRES(2, key, body.data(), 200, 2), 0u);
    uint32_t info[3] = {};
    ASSERT_NE(GETRES(2, key, info, sizeof info, 2 | 0x40), 0u);
    EXPECT_EQ(info[2], 80u);
    Bytes want = {0xE9, 0x03, 0, 0, 0, 0, 0x02, 0, 'Q', 'V', '!', 'K', 'S', 'E', 'G', 0,  //
                  0x40, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0, 0, 0,      //
                  0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                     //
                  'd', 'e', '_', 'D', 'E'};
    want.resize(80, 0);
    body.resize(80);
    EXPECT_EQ(body, want);
    // The list holds the stored copy.
    KSEGDEF back{};
    EXPECT_EQ(GETKSEGDEF(-6, pos, &back), pos);
    EXPECT_EQ(memcmp(&back, body.data() + 16, 64), 0);
    EXPECT_EQ(GETKSEGDEF(2, 1, &back), pos);
    EXPECT_EQ(memcmp(&back, body.data() + 16, 64), 0);
    // A lookup by content finds it.
    KSEGDEF probe = def(3, 0, 0, "de_DE");
    probe.srcrule = -1;
    EXPECT_EQ(GETKSEGDEF(-1, 0, &probe), pos);
    probe.subkind = 4;
    EXPECT_EQ(GETKSEGDEF(-1, 0, &probe), -707);
}

TEST_F(KsegDefTest, StoringAndFetchingCheckTheirArguments) {
    two_segments();
    KSEGDEF d = def(5);
    ASSERT_GE(PUTKSEGDEF(2, 0, &d), 1);
    EXPECT_EQ(PUTKSEGDEF(2, 0, &d), -705);
    EXPECT_EQ(zvGetUserErrorCode(), 705);
    EXPECT_EQ(PUTKSEGDEF(2, 2, &d), -446);  // the index has two segments
    EXPECT_EQ(PUTKSEGDEF(2, -4, &d), -446);
    EXPECT_EQ(PUTKSEGDEF(-2, 0, &d), -446);
    EXPECT_EQ(PUTKSEGDEF(1, 0, &d), -446);   // a data file
    EXPECT_EQ(PUTKSEGDEF(9, 0, &d), -26);
    EXPECT_EQ(PUTKSEGDEF(2, 0, nullptr), -437);
    KSEGDEF unicode = def(0);
    unicode.kind = 1;
    EXPECT_EQ(PUTKSEGDEF(2, 1, &unicode), -454);
    EXPECT_EQ(zvGetUserErrorCode(), 454);
    KSEGDEF out{};
    EXPECT_EQ(GETKSEGDEF(-6, 0, &out), -703);
    EXPECT_EQ(GETKSEGDEF(-6, 99, &out), -703);
    EXPECT_EQ(GETKSEGDEF(2, 1, &out), -707);
    EXPECT_EQ(GETKSEGDEF(2, -4, &out), -707);
    EXPECT_EQ(GETKSEGDEF(2, 16, &out), -446);
    EXPECT_EQ(GETKSEGDEF(2, 0, nullptr), -437);
    EXPECT_EQ(GETKSEGDEF(-1, 0, &unicode), -454);
}

TEST_F(KsegDefTest, DefinitionsComeBackAtOpen) {
    two_segments();
    KSEGDEF a = def(0, 1), whole = def(5, 0, 0, "whole");
    const int pa = PUTKSEGDEF(2, 0, &a);
    const int pw = PUTKSEGDEF(2, -1, &whole);
    ASSERT_GE(pa, 1);
    ASSERT_GE(pw, 1);
    EXPECT_NE(pa, pw);
    KSEGDEF before{}, wbefore{};
    ASSERT_EQ(GETKSEGDEF(2, 0, &before), pa);
    ASSERT_EQ(GETKSEGDEF(2, -1, &wbefore), pw);
    ASSERT_EQ(CLSFIL(2, 0), 0);
    // Closed: nothing refers to the list positions any more.
    KSEGDEF out{};
    EXPECT_EQ(GETKSEGDEF(-6, pa, &out), -703);
    ASSERT_EQ(OPNFIL(2, "k.idx", 0), 0);
    KSEGDEF after{};
    ASSERT_GE(GETKSEGDEF(2, 0, &after), 1);
    EXPECT_EQ(memcmp(&after, &before, sizeof after), 0);
    ASSERT_GE(GETKSEGDEF(2, -1, &after), 1);
    EXPECT_EQ(memcmp(&after, &wbefore, sizeof after), 0);
    EXPECT_EQ(GETKSEGDEF(2, 1, &out), -707);
    // The reloaded definition still transforms the segment.
    Bytes rec = text("-012abcd");
    rec.resize(16, 0);
    EXPECT_EQ(key(2, rec), (Bytes{'-', 0xCF, 0xCE, 0xCD, 'a', 'b', 'c', 'd'}));
}

TEST_F(KsegDefTest, EqualDefinitionsShareOneListPosition) {
    two_segments();
    make_index(3, 1, 8, 0, false, 0, ' ', "k3.idx");
    seg(3, 0, 0, 4, 0x400);
    zvlfsegget(3, 1);
    KSEGDEF d = def(4);
    const int p2 = PUTKSEGDEF(2, 0, &d);
    const int p3 = PUTKSEGDEF(3, 0, &d);
    EXPECT_EQ(p2, p3);
    // The definition stays while one file still refers to it.
    ASSERT_EQ(CLSFIL(2, 0), 0);
    KSEGDEF out{};
    EXPECT_EQ(GETKSEGDEF(-6, p3, &out), p3);
    ASSERT_EQ(CLSFIL(3, 0), 0);
    EXPECT_EQ(GETKSEGDEF(-6, p3, &out), -703);
}

TEST_F(KsegDefTest, MembersKeepTheirDefinitionsInTheHost) {
    make_data(1, 8);
    XCREblk x{};
    x.mode = 0x02;
    ASSERT_EQ(CREIDXX8(2, "m.idx", 4, 0, 0, 1, 4096, 0, 0, nullptr, nullptr, &x), 0);
    ASSERT_EQ(CREMEM(2, 4, 0, 0, 1), 0);
    ASSERT_EQ(ENARES(2), 0);
    KSEGDEF d = def(5);
    ASSERT_GE(PUTKSEGDEF(3, 2, &d), 1);
    uint32_t key[2] = {1001, 0x00030001};
    uint32_t info[3] = {};
    EXPECT_NE(GETRES(2, key, info, sizeof info, 2 | 0x40), 0u);
    ASSERT_EQ(CLSFIL(2, 0), 0);
    ASSERT_EQ(OPNFIL(2, "m.idx", 0), 0);
    KSEGDEF out{};
    EXPECT_GE(GETKSEGDEF(3, 2, &out), 1);
    EXPECT_EQ(out.subkind, 5);
    EXPECT_EQ(GETKSEGDEF(2, 2, &out), -707);
}

TEST_F(KsegDefTest, SubKindsTransformTheirSource) {
    two_segments();
    make_index(3, 1, 8, 0, false, 0, ' ', "k3.idx");
    for (int i = 0; i < 16; i++) seg(3, i, 0, 1, 0);
    struct Case {
        const char *name;
        KSEGDEF d;
        Bytes in, out;
    };
    const Case cases[] = {
        {"trailing overpunch, row 1, positive zero", def(0, 0, 1), text("12{"), text("120")},
        {"trailing overpunch, row 1, negative zero", def(0, 0, 1), text("12}"), {0x28, 0xCD, 0xCF}},
        {"trailing overpunch, row 1, negative 3", def(0, 0, 1), text("12L"), {0x28, 0xCD, 0xCC}},
        {"trailing overpunch, row 1, positive 9", def(0, 4, 1), text("12I"), text("129")},
        {"trailing overpunch, row 2, negative 1", def(0, 0, 2), text("7q"), {0x22, 0xCE}},
        {"leading overpunch, row 6, negative 9", def(0, 3, 6), text(")5"), {0x20, 0xCA}},
        {"not a sign character", def(0, 0, 1), text("123"), text("123")},
        {"leading sign, negative", def(0, 1), text("-12"), {'-', 0xCE, 0xCD}},
        {"leading sign, positive", def(0, 1), text("+12"), text("012")},
        {"trailing sign, negative", def(0, 2), text("12-"), {'-', 0xCE, 0xCD}},
        {"trailing sign, positive", def(0, 2), text("12+"), text("012")},
        {"carriage return marks a negative", def(1), {'a', 'b', 'c', 0x0D}, {0x00, 0x9E, 0x9D, 0x9C}},
        {"other last byte", def(1), text("abcd"), {0xFF, 'a', 'b', 'c'}},
        {"packed positive", def(2), {0x12, 0x3C}, {0xF1, 0x23}},
        {"packed negative", def(2), {0x12, 0x3D}, {0x0E, 0xDC}},
        {"signed big-endian", def(3), {0x01, 0x02, 0x03, 0x04}, {0x81, 0x02, 0x03, 0x04}},
        {"reversed, first two exchanged", def(4), {0x01, 0x02, 0x03, 0x04}, {0x03, 0x04, 0x02, 0x01}},
        {"reversed", def(5), {0x01, 0x02, 0x03}, {0x03, 0x02, 0x01}},
    };
    // Each definition on its own segment: the 16 of index 3, then index 2's.
    int n = 0;
    for (const auto &c : cases) {
        KSEGDEF d = c.d;
        int pos = n < 16 ? PUTKSEGDEF(3, n, &d) : PUTKSEGDEF(2, n - 16, &d);
        n++;
        ASSERT_GE(pos, 1) << c.name;
        int32_t rc = 0;
        EXPECT_EQ(xfm(pos, c.in, int32_t(c.in.size()), &rc), c.out) << c.name;
        EXPECT_EQ(rc, int32_t(c.in.size())) << c.name;
        // The same buffer as source and destination.
        Bytes inplace = c.in;
        EXPECT_EQ(XFMKSEGDEF(pos, inplace.data(), int32_t(inplace.size()), 0, inplace.data(),
                             int32_t(inplace.size())),
                  int32_t(c.in.size()));
        EXPECT_EQ(inplace, c.out) << c.name << " in place";
    }
    ASSERT_EQ(n, 18);
}

TEST_F(KsegDefTest, LengthsAndPositionsAreChecked) {
    two_segments();
    KSEGDEF s0 = def(0, 1), s3 = def(3), bad = def(6);
    const int p0 = PUTKSEGDEF(2, 0, &s0), p3 = PUTKSEGDEF(2, 1, &s3);
    ASSERT_GE(p0, 1);
    ASSERT_GE(p3, 1);
    int32_t rc = 0;
    xfm(p0, text("-12"), 4, &rc);
    EXPECT_EQ(rc, -528);
    EXPECT_EQ(zvGetUserErrorCode(), 528);
    // Sub-kind 3 takes a shorter source.
    EXPECT_EQ(xfm(p3, {0x80, 0x01}, 4, &rc), (Bytes{0x00, 0x01, 0x00, 0x00}));
    EXPECT_EQ(rc, 4);
    xfm(p3, {1, 2, 3, 4, 5}, 4, &rc);
    EXPECT_EQ(rc, -528);
    xfm(0, text("abc"), 3, &rc);
    EXPECT_EQ(rc, -703);
    xfm(99, text("abc"), 3, &rc);
    EXPECT_EQ(rc, -703);
    make_index(3, 1, 4, 0, false, 0, ' ', "k3.idx");
    seg(3, 0, 0, 4, 0x400);
    zvlfsegget(3, 1);
    const int pb = PUTKSEGDEF(3, 0, &bad);
    ASSERT_GE(pb, 1);
    xfm(pb, text("abc"), 3, &rc);
    EXPECT_EQ(rc, -446);
    // A segment without a definition (the file is a new one).
    Bytes rec(16, '1');
    EXPECT_EQ(key(3, rec).size(), 0u);
    EXPECT_EQ(isamerr(), 446);
    ASSERT_EQ(CLSFIL(3, 0), 0);
    make_index(3, 1, 4, 0, false, 0, ' ', "k4.idx");
    EXPECT_TRUE(key(3, rec).empty());
    EXPECT_EQ(isamerr(), 707);
}

TEST_F(KsegDefTest, SignedNumericTextSortsByValue) {
    make_data(1, 8);
    struct Layout {
        const char *name;
        KSEGDEF d;
        int width;
    };
    const Layout layouts[] = {
        {"leading sign", def(0, 1), 6},
        {"trailing sign", def(0, 2), 6},
        {"trailing overpunch, row 0", def(0, 0, 0), 5},
        {"leading overpunch, row 5", def(0, 3, 5), 5},
    };
    std::mt19937 rng(11);
    int n = 0;
    for (const auto &l : layouts) {
        SCOPED_TRACE(l.name);
        std::string iname = "s" + std::to_string(n++) + ".idx";
        make_index(2, 1, l.width, 0, false, 0, ' ', iname.c_str());
        seg(2, 0, 0, l.width, 0x400);
        zvlfsegget(2, 1);
        KSEGDEF d = l.d;
        ASSERT_GE(PUTKSEGDEF(2, 0, &d), 1);
        std::set<int> values = {0, 1, -1, 9999, -9999};
        while (values.size() < 300) values.insert(int(rng() % 19999) - 9999);
        Bytes prev;
        uint32_t pos = 0;
        for (int v : values) {
            char buf[16];
            const int mag = v < 0 ? -v : v;
            if (l.d.signpos == 1) {
                snprintf(buf, sizeof buf, "%c%05d", v < 0 ? '-' : '+', mag);
            } else if (l.d.signpos == 2) {
                snprintf(buf, sizeof buf, "%05d%c", mag, v < 0 ? '-' : '+');
            } else {
                snprintf(buf, sizeof buf, "%05d", mag);
                // The sign goes onto the first or last digit by the row's triples.
                const char *pos_triple = l.d.signrow == 0 ? "019" : "019";
                const char *neg_triple = l.d.signrow == 0 ? "}JR" : "@AI";
                char &c = l.d.signpos == 3 ? buf[0] : buf[4];
                int digit = c - '0';
                const char *t = v < 0 ? neg_triple : pos_triple;
                c = char(digit == 0 ? t[0] : t[1] + digit - 1);
            }
            Bytes rec(buf, buf + l.width);
            rec.resize(8, ' ');
            Bytes k = key(2, rec);
            ASSERT_EQ(k.size(), size_t(l.width)) << buf << " isam error " << isamerr();
            if (!prev.empty()) {
                EXPECT_LT(prev, k) << buf;
            }
            prev = k;
            ASSERT_EQ(ADDKEY(2, k.data(), ++pos, 0), 0);
        }
        std::vector<uint32_t> want(pos);
        for (uint32_t i = 0; i < pos; i++) want[i] = i + 1;
        EXPECT_EQ(positions(2), want);
        ASSERT_EQ(CLSFIL(2, 0), 0);
    }
}

}  // namespace
