// Current key images and positions, and the position answers of an index:
// the key at a fraction, exact and estimated entry counts between keys and
// the key n entries after a target, against a sorted reference.
#include <algorithm>
#include <cstring>
#include <functional>
#include <random>

#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/files/fcbops.h"
#include "engine/index/curkey.h"
#include "engine/index/node.h"
#include "engine/index/nodebuf.h"
#include "engine/index/nodecache.h"
#include "engine/index/nodeupdate.h"
#include "tests/engine/index/navfix.h"
#include "zarvo/zarvo.h"

namespace {

using namespace idxtest;

uint64_t value_of(const std::string &k) {
    uint64_t v = 0;
    for (int i = 0; i < 8; i++) v = v << 8 | (unsigned char)k[size_t(i)];
    return v;
}

class EstimateTest : public IndexTest {
protected:
    // Keys 2, 4, ..., 2n in random order; position = value + 1000.
    void fill(int n) {
        ASSERT_EQ(create_index(1, "e.idx", IndexShape{}), 0);
        std::vector<uint64_t> v;
        for (int i = 1; i <= n; i++) v.push_back(uint64_t(2 * i));
        std::shuffle(v.begin(), v.end(), std::mt19937_64(3));
        for (uint64_t x : v) ASSERT_EQ(add(1, int_key(x, 8), x + 1000), 0);
        std::sort(v.begin(), v.end());
        ref_ = v;
        ASSERT_GE(fcb_of(1)->hdr.ext.levels, 3) << "a multi-level index";
    }
    uint64_t count_between(uint64_t a, uint64_t b) {
        return uint64_t(std::upper_bound(ref_.begin(), ref_.end(), b) - std::lower_bound(ref_.begin(), ref_.end(), a));
    }
    std::vector<uint64_t> ref_;
};

TEST_F(EstimateTest, FractionsReachTheFirstAndTheLastKey) {
    fill(3000);
    std::string k(8, '\0');
    EXPECT_EQ(FRCKEY(1, k.data(), 0), uint32_t(ref_.front() + 1000));
    EXPECT_EQ(value_of(k), ref_.front());
    EXPECT_EQ(FRCKEY(1, k.data(), 100), uint32_t(ref_.back() + 1000));
    EXPECT_EQ(value_of(k), ref_.back());
    uint64_t prev = 0;
    for (int pct = 0; pct <= 100; pct += 5) {
        ASSERT_NE(FRCKEY(1, k.data(), pct), 0u);
        EXPECT_GE(value_of(k), prev) << "fractions rise with the percentage";
        prev = value_of(k);
    }
    zv::set_uerr(0);
    EXPECT_EQ(FRCKEY(1, k.data(), 101), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 60);
    EXPECT_EQ(zv::iFRCKEY(1, k.data(), 1001), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 60);
}

TEST_F(EstimateTest, ExactCountsMatchTheReference) {
    fill(3000);
    uint32_t all = RNGENT(1, nullptr, nullptr);
    EXPECT_EQ(zvGETHGH(), 0);
    EXPECT_EQ(all, IDXENT(1));
    std::mt19937_64 rng(9);
    for (int i = 0; i < 300; i++) {
        uint64_t a = rng() % 6010, b = rng() % 6010;
        if (a > b) std::swap(a, b);
        SCOPED_TRACE(testing::Message() << a << ".." << b);
        EXPECT_EQ(RNGENT(1, int_key(a, 8).data(), int_key(b, 8).data()), count_between(a, b));
        EXPECT_EQ(RNGENT(1, nullptr, int_key(b, 8).data()), count_between(0, b));
        EXPECT_EQ(RNGENT(1, int_key(a, 8).data(), nullptr), count_between(a, UINT64_MAX));
    }
    for (uint64_t x : {ref_.front(), ref_[1234], ref_.back()})
        EXPECT_EQ(RNGENT(1, int_key(x, 8).data(), int_key(x, 8).data()), 1u) << "a key present once";
    EXPECT_EQ(RNGENT(1, int_key(7, 8).data(), int_key(7, 8).data()), 0u);
}

TEST_F(EstimateTest, OrdkeyGivesTheKeyNEntriesAfterTheTarget) {
    fill(3000);
    std::mt19937_64 rng(4);
    std::string k(8, '\0');
    for (int i = 0; i < 300; i++) {
        uint64_t t = rng() % 6010;
        int32_t n = int32_t(rng() % 400);
        size_t at = size_t(std::lower_bound(ref_.begin(), ref_.end(), t) - ref_.begin()) + size_t(n);
        SCOPED_TRACE(testing::Message() << t << " + " << n);
        uint32_t pos = ORDKEY(1, int_key(t, 8).data(), n, k.data());
        if (at >= ref_.size()) {
            EXPECT_EQ(pos, 0u);
            EXPECT_EQ(zvGETHGH(), 0);
            continue;
        }
        EXPECT_EQ(pos, uint32_t(ref_[at] + 1000));
        EXPECT_EQ(value_of(k), ref_[at]);
        if (at + 1 < ref_.size()) {
            EXPECT_EQ(NXTKEY(1, k.data()), uint32_t(ref_[at + 1] + 1000)) << "NXTKEY continues after it";
        }
    }
    EXPECT_EQ(ORDKEY(1, int_key(0, 8).data(), 0, k.data()), uint32_t(ref_.front() + 1000));
    EXPECT_EQ(ORDKEY(1, int_key(0, 8).data(), int32_t(ref_.size()), k.data()), 0u) << "past the end";
}

TEST_F(EstimateTest, EstimatesStayCloseToTheCounts) {
    fill(3000);
    const uint64_t n = ref_.size();
    EXPECT_EQ(ESTKEY(1, nullptr, nullptr), uint32_t((n * 1000 + n / 2) / 1000));
    std::mt19937_64 rng(2);
    // The bisection resolves 1/256 of the index; the uneven fill of nodes
    // adds a few per cent.
    const double tolerance = 0.05 * double(n) + 4;
    for (int i = 0; i < 100; i++) {
        uint64_t a = rng() % 6000, b = rng() % 6000;
        if (a > b) std::swap(a, b);
        SCOPED_TRACE(testing::Message() << a << ".." << b);
        double est = ESTKEY(1, int_key(a, 8).data(), int_key(b, 8).data());
        EXPECT_NEAR(est, double(count_between(a, b)), tolerance);
        est = ESTKEY(1, nullptr, int_key(b, 8).data());
        EXPECT_NEAR(est, double(count_between(0, b)), tolerance);
    }
    ASSERT_EQ(create_index(2, "empty.idx", IndexShape{}), 0);
    EXPECT_EQ(ESTKEY(2, nullptr, nullptr), 0u);
    EXPECT_EQ(RNGENT(2, nullptr, nullptr), 0u);
    std::string k(8, '\0');
    EXPECT_EQ(FRCKEY(2, k.data(), 50), 0u);
}

TEST_F(EstimateTest, EmptyLeavesAreWalkedOver) {
    fill(3000);
    fcb_of(1)->noremove = 1;  // emptied leaves stay in the tree
    std::vector<uint64_t> keep;
    for (uint64_t v : ref_) {
        bool gone = (v > 2000 && v <= 3000) || v > 5000;
        if (gone) ASSERT_EQ(del(1, int_key(v, 8), v + 1000), 0);
        else keep.push_back(v);
    }
    ref_ = keep;
    ASSERT_EQ(check(1), "");
    std::string k(8, '\0');
    // Positioned on the first key, a fraction read leaves the position alone.
    ASSERT_EQ(FRSKEY(1, k.data()), uint32_t(ref_[0] + 1000));
    EXPECT_EQ(FRCKEY(1, k.data(), 100), uint32_t(ref_.back() + 1000)) << "the last key, past empty leaves";
    EXPECT_EQ(NXTKEY(1, k.data()), uint32_t(ref_[1] + 1000));
    for (int pct = 0; pct <= 100; pct += 10) {
        uint32_t pos = FRCKEY(1, k.data(), pct);
        ASSERT_NE(pos, 0u) << pct;
        EXPECT_TRUE(std::binary_search(ref_.begin(), ref_.end(), value_of(k))) << pct;
    }
    EXPECT_EQ(RNGENT(1, nullptr, nullptr), uint32_t(ref_.size()));
    EXPECT_EQ(RNGENT(1, int_key(1500, 8).data(), int_key(3500, 8).data()), count_between(1500, 3500));
    EXPECT_EQ(ORDKEY(1, int_key(1990, 8).data(), 10, k.data()),
              uint32_t(*(std::lower_bound(ref_.begin(), ref_.end(), 1990) + 10) + 1000));
}

TEST_F(EstimateTest, AZeroChildIsReportedAsAnInvalidTree) {
    fill(3000);
    FCB *f = fcb_of(1);
    NODEBUF *root = zvgetnod81(0, 0, f->hdr.base.root, f);
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->hdr.leaf, 0);
    uint32_t ch, cl;
    ASSERT_EQ(nodpnt81e(&cl, &ch, root, 1), 0);
    set_elem_ptr(root, 1, 0, 0);
    std::string k(8, '\0');
    EXPECT_EQ(FRCKEY(1, k.data(), 0), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 527);
    EXPECT_EQ(RNGENT(1, nullptr, nullptr), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 527);
    EXPECT_EQ(ORDKEY(1, int_key(0, 8).data(), 3, k.data()), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 527);
    std::string log;
    for (const std::string &line : log_lines()) log += line + "\n";
    for (const char *m : {"Invalid tree found in FRCKEY...", "Invalid tree found in RNGENT...",
                          "Invalid tree found in ORDKEY..."})
        EXPECT_NE(log.find(m), std::string::npos) << m;
    set_elem_ptr(root, 1, ch, cl);
    EXPECT_EQ(f->hdr.base.updflg, 'R');
}

// ---- Current key images and positions over a data file --------------------

using namespace navtest;

constexpr int kAB = 2;

class CurKeyTest : public NavTest {
protected:
    void fill() {
        make_index(kAB, {{kA, 4, kInt}, {kB, 4, kInt}});
        std::mt19937 rng(8);
        for (uint32_t id = 1; id <= 200; id++) add_record(rec(int32_t(rng() % 10), int32_t(rng() % 10), id));
    }
    KEYBUFSET *images() { return fcb_of(kAB)->keybufs; }
    // Reads the first record of the set of a = 4: it becomes current.
    Rec read_one() {
        Rec r;
        EXPECT_EQ(FRSSET(kAB, key_of(kAB, rec(4, 0, 0), 1).data(), &r, 4), 0);
        return r;
    }
    uint32_t pos_of(uint32_t id) { return pos_[id - 1]; }
};

TEST_F(CurKeyTest, ASetReadMakesItsRecordCurrent) {
    fill();
    EXPECT_EQ(GETCURP(kDat), 0u) << "no current record yet";
    Rec r = read_one();
    EXPECT_EQ(GETCURP(kDat), pos_of(r.id));
    Rec n;
    ASSERT_EQ(NXTSET(kAB, &n), 0);
    EXPECT_EQ(GETCURP(kDat), pos_of(n.id));
    EXPECT_EQ(GETCURP(15), 0u);
    EXPECT_EQ(zvGetIsamErrorCode(), 26) << "a file that is not open";
}

TEST_F(CurKeyTest, GetcurkAnswersByTheStateOfTheImage) {
    fill();
    std::string k(12, '\0');
    int32_t len = -1;
    EXPECT_EQ(GETCURK(kAB, k.data(), &len), nullptr);
    EXPECT_EQ(zvGetIsamErrorCode(), 894) << "no key yet";
    EXPECT_EQ(len, 0);
    Rec r = read_one();
    ASSERT_EQ(GETCURK(kAB, k.data(), &len), k.data());
    EXPECT_EQ(len, 12);
    EXPECT_EQ(k, key_of(kAB, r, pos_of(r.id)));
    // The image itself with a null buffer.
    auto *img = static_cast<unsigned char *>(GETCURK(kAB, nullptr, nullptr));
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(memcmp(img, k.data(), 12), 0);
    images()->curstate = 2;
    EXPECT_EQ(GETCURK(kAB, k.data(), &len), nullptr);
    EXPECT_EQ(zvGetIsamErrorCode(), 893);
    // A stale image is formed again from the current record.
    images()->curstate = 3;
    memset(images()->cur, 0x5A, 12);
    std::string again(12, '\0');
    ASSERT_NE(GETCURK(kAB, again.data(), &len), nullptr);
    EXPECT_EQ(again, key_of(kAB, r, pos_of(r.id)));
    EXPECT_EQ(images()->curstate, 1);
    // Without a current record it stays stale.
    ASSERT_EQ(PUTHDR(kDat, 0, 33), 0);
    images()->curstate = 3;
    EXPECT_EQ(GETCURK(kAB, again.data(), &len), nullptr);
    EXPECT_EQ(zvGetIsamErrorCode(), 892);
    EXPECT_EQ(GETCURK(kDat, again.data(), &len), nullptr);
    EXPECT_EQ(zvGetIsamErrorCode(), 48);
}

TEST_F(CurKeyTest, GetcurklAndSeqikeyFollowTheSameStates) {
    fill();
    std::string k(12, '\0');
    EXPECT_EQ(GETCURKL(kAB, k.data()), 894);
    EXPECT_EQ(zv::seqikey(kAB, k.data(), 1), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 894);
    Rec r = read_one();
    const std::string cur = key_of(kAB, r, pos_of(r.id));
    ASSERT_EQ(GETCURKL(kAB, k.data()), 0);
    EXPECT_EQ(k, cur);
    images()->curstate = 2;
    EXPECT_EQ(GETCURKL(kAB, k.data()), 893);
    EXPECT_EQ(zv::seqikey(kAB, k.data(), 1), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 893);
    images()->curstate = 3;
    memset(images()->cur, 0, 12);
    ASSERT_EQ(GETCURKL(kAB, k.data()), 0) << "formed again";
    EXPECT_EQ(k, cur);
    // seqikey steps from the current image, wherever the index stands.
    std::vector<Item> all = entries(kAB);
    auto at = std::find_if(all.begin(), all.end(), [&](const Item &it) { return it.key == cur; }) - all.begin();
    ASSERT_NE(FRSKEY(kAB, k.data()), 0u);
    images()->curstate = 3;
    EXPECT_EQ(zv::seqikey(kAB, k.data(), 1), all[size_t(at) + 1].pos);
    EXPECT_EQ(k, all[size_t(at) + 1].key);
    ASSERT_NE(FRSKEY(kAB, k.data()), 0u);
    EXPECT_EQ(zv::seqikey(kAB, k.data(), 2), all[size_t(at) - 1].pos);
    // Mode 32 keeps the work key: the step goes on from the first key.
    ASSERT_NE(FRSKEY(kAB, k.data()), 0u);
    EXPECT_EQ(zv::seqikey(kAB, k.data(), 1 | 32), all[1].pos);
    EXPECT_EQ(GETCURKL(kDat, k.data()), 48);
    // No current node on a fresh open: zeros.
    ASSERT_EQ(close_index(kAB), 0);
    ASSERT_EQ(open_index(kAB, "nav2.idx"), 0);
    images()->curstate = 1;
    k.assign(12, 'x');
    ASSERT_EQ(GETCURKL(kAB, k.data()), 0);
    EXPECT_EQ(k, std::string(12, '\0'));
}

TEST_F(CurKeyTest, RefreshClearsAndRestoresTheDataFilesRefreshFlag) {
    fill();
    Rec r = read_one();
    ASSERT_EQ(PUTHDR(kDat, 1, 33), 0);
    ASSERT_TRUE(fcb_of(kDat)->stflags & kStRefreshKeys);
    images()->curstate = 3;
    EXPECT_EQ(zv::zvkbufrefresh(kDat, -1), 0);
    EXPECT_EQ(images()->curstate, 1);
    EXPECT_TRUE(fcb_of(kDat)->stflags & kStRefreshKeys) << "the flag is set again";
    EXPECT_EQ(GETCURP(kDat), pos_of(r.id)) << "the record stays current";
    // -1 does nothing while no image is stale.
    memset(images()->cur, 0, 12);
    EXPECT_EQ(zv::zvkbufrefresh(kDat, -1), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(images()->cur), 12), std::string(12, '\0'));
    EXPECT_EQ(zv::zvkbufrefresh(kDat, -2), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(images()->cur), 12), key_of(kAB, r, pos_of(r.id)));
}

// The update check of a data file whose flag 0x08 is set forms stale
// current images again from the current record, unless the operation mode
// has both 0x01 and 0x08; the caller's high word and ISAM error stay.
TEST_F(CurKeyTest, TheUpdateCheckOfAFlaggedFileFormsStaleImagesAgain) {
    fill();
    set_filter("");
    INSTGV *g = zvWNGV;
    const uint32_t ops = g->opsmode;
    struct Case {
        const char *what;
        bool flagged;
        uint32_t ops;
        bool refreshed;
    };
    const Case cases[] = {
        {"flagged", true, 0, true},
        {"mode bit 0x01 alone", true, 0x01, true},
        {"mode bit 0x08 alone", true, 0x08, true},
        {"both mode bits", true, 0x09, false},
        {"not flagged", false, 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(PUTHDR(kDat, c.flagged ? 1 : 0, 33), 0);
        Rec r = read_one();
        images()->curstate = 3;
        memset(images()->cur, 0, 12);
        g->opsmode = c.ops;
        const long reads = filter_calls();
        zvSETHGHi(77);
        g->isamerr_cod = 55;
        g->isamfil_num = 9;
        EXPECT_EQ(chkredf(kDat, nullptr), 0);
        g->opsmode = ops;
        EXPECT_EQ(tsthghwrd(), 77);
        EXPECT_EQ(g->isamerr_cod, 55);
        EXPECT_EQ(g->isamfil_num, 9);
        zvSETHGHi(0);
        EXPECT_EQ(filter_calls() - reads, c.refreshed ? 1 : 0) << "the current record read again";
        EXPECT_EQ(images()->curstate, c.refreshed ? 1 : 3);
        const std::string img(reinterpret_cast<char *>(images()->cur), 12);
        EXPECT_EQ(img, c.refreshed ? key_of(kAB, r, pos_of(r.id)) : std::string(12, '\0'));
        EXPECT_EQ(GETCURP(kDat), pos_of(r.id)) << "the record stays current";
        EXPECT_EQ(bool(fcb_of(kDat)->stflags & kStRefreshKeys), c.flagged);
    }
    // A read-only refusal comes first.
    ASSERT_EQ(PUTHDR(kDat, 1, 33), 0);
    read_one();
    images()->curstate = 3;
    fcb_of(kDat)->opflags |= kOpNoUpdate;
    EXPECT_EQ(chkredf(kDat, nullptr), 54);
    fcb_of(kDat)->opflags &= ~kOpNoUpdate;
    EXPECT_EQ(images()->curstate, 3);
}

// An ISAM update of a flagged file with stale images reads its current
// record once: the update check and the update's own use of the images do
// not both form them.
TEST_F(CurKeyTest, AnIsamUpdateOfAFlaggedFileReadsTheCurrentRecordOnce) {
    fill();
    set_filter("");
    const struct {
        const char *what;
        std::function<int(Rec &)> update;
    } cases[] = {
        {"add", [](Rec &) { Rec n = rec(4, 1, 5000); return ADDREC(kDat, &n); }},
        {"rewrite with a new key", [](Rec &r) { r.b += 100; return RWTREC(kDat, &r); }},
        {"delete", [](Rec &) { return DELREC(kDat); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(PUTHDR(kDat, 1, 33), 0);
        Rec r = read_one();
        images()->curstate = 3;
        memset(images()->cur, 0, 12);
        const long reads = filter_calls();
        EXPECT_EQ(c.update(r), 0);
        EXPECT_EQ(filter_calls() - reads, 1);
    }
    EXPECT_EQ(IDXENT(kAB), 200u) << "one added, one deleted";
}

TEST_F(CurKeyTest, EstrngTransformsItsTargetsUnlessTheyAreInKeyForm) {
    fill();
    std::string k3 = key_of(kAB, rec(3, 0, 0), 1), k7 = key_of(kAB, rec(7, 0, 0), 1);
    int32_t flag = 0;
    uint32_t est = ESTRNG(kAB, k3.data(), k7.data(), &flag);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(est, ESTKEY(kAB, k3.data(), k7.data())) << "profile bit 1: targets in key form";
    restart_with_profile(32);
    fill();
    Rec f3 = rec(3, 0, 0), f7 = rec(7, 0, 0);
    std::string t3(reinterpret_cast<char *>(&f3) + kA, 12), t7(reinterpret_cast<char *>(&f7) + kA, 12);
    k3 = key_of(kAB, f3, 1);
    k7 = key_of(kAB, f7, 1);
    k3.replace(8, 4, 4, '\0');
    k7.replace(8, 4, 4, '\0');
    est = ESTRNG(kAB, t3.data(), t7.data(), nullptr);
    EXPECT_EQ(est, ESTKEY(kAB, k3.data(), k7.data()));
    EXPECT_NE(est, ESTKEY(kAB, t3.data(), t7.data()));
    EXPECT_EQ(ESTRNG(kDat, t3.data(), t7.data(), nullptr), 0u);
    EXPECT_EQ(zvGetIsamErrorCode(), 48);
}

}  // namespace
