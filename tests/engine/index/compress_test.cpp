// Key compression: leading counts against the previous key, trailing pad
// counts, re-encoding of the follower on insert and delete, units above one
// for keys longer than 255 bytes, and all of it after close and reopen.
#include <string>
#include <vector>

#include "engine/core/fcb.h"
#include "tests/engine/index/idxfix.h"
#include "zarvo/zarvo.h"

namespace {

using namespace idxtest;

// One stored element of a compressed leaf, decoded from the file bytes.
struct Stored {
    int lead;
    int trail;
    std::string middle;
};

// Decodes the elements of the (only) leaf of a unique compressed index.
std::vector<Stored> leaf_elements(const std::string &file, size_t node, int32_t keylen, int keytype, int unit) {
    std::vector<Stored> out;
    auto u16 = [&](size_t o) { return int((unsigned char)file[o] | (unsigned char)file[o + 1] << 8); };
    int nkv = u16(node + 8), nkb = u16(node + 10);
    size_t p = node + 18;
    size_t end = p + size_t(nkb);
    for (int i = 0; i < nkv && p < end; i++) {
        p += 4;  // record position
        Stored s{0, 0, ""};
        if (keytype & 4) s.lead = (unsigned char)file[p++];
        if (keytype & 8) s.trail = (unsigned char)file[p++];
        size_t mid = size_t(keylen - (s.lead + s.trail) * unit);
        s.middle = file.substr(p, mid);
        p += mid;
        out.push_back(s);
    }
    return out;
}

struct Row {
    const char *name;
    int keytype;      // 4 leading, 8 trailing, 12 both
    int32_t keylen;
    int32_t sect;
    int unit;         // count unit the index gets
};

class CompressTest : public IndexTest, public testing::WithParamInterface<Row> {
protected:
    void SetUp() override {
        IndexTest::SetUp();
        if (GetParam().sect != 4) restart(12, GetParam().sect);
    }
    // A key: the long rows put a 280-byte shared run in front.
    std::string key(const std::string &core) const {
        const Row &r = GetParam();
        std::string k = r.keylen > 255 ? std::string(280, 'p') + core : core;
        k.resize(size_t(r.keylen), ' ');
        return k;
    }
    std::vector<Stored> stored() {
        const Row &r = GetParam();
        EXPECT_EQ(close_index(1), 0);
        std::string f = zvtest::read_file("c.idx");
        EXPECT_EQ(open_index(1, "c.idx"), 0);
        return leaf_elements(f, size_t(r.sect) * 128 > 512 ? size_t(r.sect) * 128 : 512, r.keylen, r.keytype,
                             r.unit);
    }
    // Leading units expected for a shared run of n bytes: the comparison
    // that measures the run stops counting at 255 bytes.
    int lead(int n) const { return (GetParam().keytype & 4) ? (n > 255 ? 255 : n) / GetParam().unit : 0; }
    int trail(int n) const { return (GetParam().keytype & 8) ? n / GetParam().unit : 0; }
};

TEST_P(CompressTest, InsertAndDeleteReencodeTheFollower) {
    const Row &r = GetParam();
    IndexShape s;
    s.keylen = r.keylen;
    s.keytype = r.keytype;
    s.sect = r.sect;
    ASSERT_EQ(create_index(1, "c.idx", s), 0);
    ASSERT_EQ(fcb_of(1)->cmpunit, r.unit);
    const int pre = r.keylen > 255 ? 280 : 0;
    const int pad = r.keylen - pre - 4;  // blanks after the 4-byte core
    ASSERT_EQ(add(1, key("abca"), 1), 0);
    ASSERT_EQ(add(1, key("abcz"), 2), 0);
    ASSERT_EQ(add(1, key("abcd"), 3), 0);
    std::vector<Stored> e = stored();
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].lead, 0);
    EXPECT_EQ(e[0].trail, trail(pad));
    EXPECT_EQ(e[1].lead, lead(pre + 3)) << "abcd against abca";
    EXPECT_EQ(e[2].lead, lead(pre + 3)) << "abcz against abcd";
    EXPECT_EQ(e[1].trail, trail(pad));
    // What is stored plus what is counted is the whole key.
    for (const Stored &x : e)
        EXPECT_EQ(int(x.middle.size()) + (x.lead + x.trail) * r.unit, r.keylen);
    // Every key reads back whole.
    std::string got(size_t(r.keylen), '\0');
    EXPECT_EQ(GTEKEY(1, key("abcb").data(), got.data()), 3u);
    EXPECT_EQ(got, key("abcd"));

    ASSERT_EQ(del(1, key("abcd"), 3), 0);
    e = stored();
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[1].lead, lead(pre + 3)) << "abcz against abca again";
    ASSERT_EQ(del(1, key("abca"), 1), 0);
    e = stored();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].lead, 0) << "the first key of a node shares nothing";
    EXPECT_EQ(e[0].middle.substr(0, size_t(r.keylen - e[0].trail * r.unit)),
              key("abcz").substr(0, size_t(r.keylen - e[0].trail * r.unit)));
    EXPECT_EQ(LSTKEY(1, got.data()), 2u);
    EXPECT_EQ(got, key("abcz"));
    EXPECT_EQ(check(1), "");
}

TEST_P(CompressTest, TrailingPadBytesAreCountedAndRestored) {
    const Row &r = GetParam();
    IndexShape s;
    s.keylen = r.keylen;
    s.keytype = r.keytype;
    s.sect = r.sect;
    ASSERT_EQ(create_index(1, "c.idx", s), 0);
    // Ten trailing pad bytes.
    std::string k(size_t(r.keylen - 10), 'q');
    k += std::string(10, ' ');
    ASSERT_EQ(add(1, k, 7), 0);
    std::vector<Stored> e = stored();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].trail, trail(10));
    std::string got(size_t(r.keylen), '\0');
    EXPECT_EQ(FRSKEY(1, got.data()), 7u);
    EXPECT_EQ(got, k);
}

const Row kRows[] = {
    {"Leading", 4, 12, 4, 1},
    {"Trailing", 8, 12, 4, 1},
    {"Both", 12, 12, 4, 1},
    {"BothLongKeyUnit2", 12, 300, 8, 2},
    {"LeadingLongKeyUnit2", 4, 300, 8, 2},
};

INSTANTIATE_TEST_SUITE_P(Table, CompressTest, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row> &i) { return std::string(i.param.name); });

}  // namespace
