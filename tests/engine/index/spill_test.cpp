// Nodes that hold one element more than their size for a moment (an insert
// into a full node before its split, a parent's new key before its old one
// goes) wait in the instance's spill image: the buffers' own images hold the
// node size and the wrapper only, so nothing may reach past them. Checked
// over unique and duplicate-key, plain and compressed, 4- and 8-byte
// position and memory indexes, with a small node cache.
#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/startup.h"
#include "engine/core/fcb.h"
#include "engine/index/nodebuf.h"
#include "tests/engine/index/idxfix.h"
#include "zarvo/zarvo.h"

namespace {

using namespace idxtest;

struct Row {
    const char *name;
    int dup;
    int keytype;
    bool wide;
    bool memory;
};

std::string name_of(const testing::TestParamInfo<Row> &info) { return info.param.name; }

class SpillTest : public IndexTest, public testing::WithParamInterface<Row> {
protected:
    void SetUp() override {
        IndexTest::SetUp();
        restart(8);
    }
};

// The bytes between the end of each buffer's node and the next buffer's
// node, where the next image is the next slot of the same chunk: the slot's
// 8-byte back reference and the next image's wrapper room, which these
// indexes never use.
std::map<const unsigned char *, std::string> gaps() {
    std::vector<const unsigned char *> images;
    for (auto *b = static_cast<NODEBUF *>(zvWNGV->idxbuflist); b; b = b->next) images.push_back(b->image);
    std::sort(images.begin(), images.end());
    const size_t end = size_t(kNodeWrap) + size_t(zvWNGV->nodesize);
    std::map<const unsigned char *, std::string> out;
    for (size_t i = 0; i + 1 < images.size(); i++) {
        const unsigned char *after = images[i] + end;
        if (images[i + 1] != after + 8) continue;  // not the next slot of the same chunk
        out[images[i]] = std::string(reinterpret_cast<const char *>(after), 8 + size_t(kNodeWrap));
    }
    return out;
}

TEST_P(SpillTest, FullNodesNeverReachPastTheirImages) {
    const Row &r = GetParam();
    IndexShape s;
    s.dup = r.dup;
    s.keytype = r.keytype;
    s.wide = r.wide;
    const int p = r.wide ? 8 : 4;
    s.keylen = 10 + (r.dup ? p : 0);
    if (r.memory) s.memory = 8u << 20;
    ASSERT_EQ(create_index(1, "spill.idx", s), 0);

    std::map<const NODEBUF *, const unsigned char *> home;
    for (auto *b = static_cast<NODEBUF *>(zvWNGV->idxbuflist); b; b = b->next) home[b] = b->image;
    const auto before = gaps();
    ASSERT_FALSE(before.empty());

    // Ascending, then random keys: splits of leaves and of non-leaves, the
    // root among them; then deletes, which replace parents' keys.
    std::vector<uint64_t> keys;
    for (uint64_t v = 1; v <= 700; v++) keys.push_back(v * 3);
    std::vector<uint64_t> rest;
    for (uint64_t v = 1; v <= 1400; v++) rest.push_back(v * 3 + 1 + v % 2);
    std::shuffle(rest.begin(), rest.end(), std::mt19937_64(21));
    keys.insert(keys.end(), rest.begin(), rest.end());
    for (uint64_t v : keys) ASSERT_EQ(add(1, int_key(v, s.keylen), v), 0) << v;
    std::vector<uint64_t> gone(keys.begin(), keys.end());
    std::shuffle(gone.begin(), gone.end(), std::mt19937_64(22));
    gone.resize(gone.size() / 2);
    for (uint64_t v : gone) ASSERT_EQ(del(1, int_key(v, s.keylen), v), 0) << v;

    const size_t left = keys.size() - gone.size();
    EXPECT_EQ(check(1), "");
    std::vector<Entry> all = scan(1);
    ASSERT_EQ(all.size(), left);
    EXPECT_TRUE(std::is_sorted(all.begin(), all.end()));
    EXPECT_EQ(IDXENT(1), uint32_t(left));

    // Every node is back in its own buffer, the neighbours untouched, and
    // the spill image was used on the way.
    EXPECT_EQ(zvWNGV->idxspilled, nullptr);
    for (auto *b = static_cast<NODEBUF *>(zvWNGV->idxbuflist); b; b = b->next) EXPECT_EQ(b->image, home[b]);
    EXPECT_EQ(gaps(), before);
    const unsigned char *spill = zvWNGV->idxspill;
    const size_t room = size_t(kNodeWrap + zvWNGV->nodesize + kNodeSlack);
    EXPECT_TRUE(std::any_of(spill, spill + room, [](unsigned char c) { return c != 0; }));

    // And all of it holds after close and reopen.
    if (!r.memory) {
        ASSERT_EQ(close_index(1), 0);
        ASSERT_EQ(open_index(1, "spill.idx"), 0);
        EXPECT_EQ(check(1), "");
        EXPECT_EQ(scan(1), all);
    }
}

const Row kRows[] = {
    {"UniquePlain", 0, 0, false, false},      {"DupPlain", 1, 0, false, false},
    {"UniqueCompressed", 0, 12, false, false}, {"DupCompressed", 1, 12, true, false},
    {"UniquePlainPos8", 0, 0, true, false},   {"MemoryCompressed", 1, 4, false, true},
};

INSTANTIATE_TEST_SUITE_P(Shapes, SpillTest, testing::ValuesIn(kRows), name_of);

}  // namespace
