#include "tests/engine/index/navfix.h"

#include <algorithm>
#include <cstring>

#include "engine/core/instance.h"
#include "engine/expr/udf.h"
#include "engine/core/fcb.h"
#include "engine/index/keyform_needs.h"
#include "tests/support/engine.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdbpt.h"

namespace navtest {

namespace {

// Records the filter has seen: SEEN() counts its calls and answers 1.
long g_filter_calls = 0;
void seen(void **, void *result) {
    g_filter_calls++;
    int32_t one = 1;
    memcpy(result, &one, 4);
}

}  // namespace

void set_filter(const std::string &pass) {
    FCB *f = zvWNGV->fcbtab[kDat];
    if (!f->schmap) {
        const DATOBJ doda[6] = {{"tag", 0, ZV_ARRAY, 4, 0, 0},   {"a", 4, ZV_INT4, 4, 0, 0},
                                {"b", 8, ZV_INT4, 4, 0, 0},      {"text", 12, ZV_FSTRING, 8, 0, 0},
                                {"id", 20, ZV_INT4U, 4, 0, 0},   {"pad", 24, ZV_ARRAY, 8, 0, 0}};
        ASSERT_EQ(PUTDODA(kDat, doda, 6), 0);
    }
    if (!zv::udfFind("SEEN")) {
        ASSERT_EQ(udfAdd("SEEN", seen, ZV_INT4, nullptr, 0), 0);
    }
    const std::string text = pass.empty() ? "SEEN()" : "SEEN() AND (" + pass + ")";
    ASSERT_EQ(SETFLTR(kDat, text.c_str()), 0) << text;
    g_filter_calls = 0;
}

void clear_filter() { ASSERT_EQ(SETFLTR(kDat, nullptr), 0); }

long filter_calls() { return g_filter_calls; }

void NavTest::SetUp() {
    IndexTest::SetUp();
    unlink("nav.dat");
    ASSERT_EQ(CREDAT(kDat, "nav.dat", sizeof(Rec), 4096, 0), 0);
}

void NavTest::restart_with_profile(int profile) {
    clear_filter();
    zvtest::stop_engine();
    indexes_.clear();
    recs_.clear();
    pos_.clear();
    ASSERT_EQ(INTREEX(12, 20, 4, 8, profile), 0);
    unlink("nav.dat");
    ASSERT_EQ(CREDAT(kDat, "nav.dat", sizeof(Rec), 4096, 0), 0);
}

void NavTest::make_index(int ixno, const std::vector<Seg> &segs, int dup, bool ext) {
    int32_t len = 0;
    for (const Seg &s : segs) len += s.len;
    idxtest::IndexShape shape;
    shape.keylen = len + (dup == 1 || dup == 3 || dup == 5 ? 4 : 0);
    shape.dup = dup;
    shape.ext = ext;
    std::string name = "nav" + std::to_string(ixno) + ".idx";
    ASSERT_EQ(idxtest::create_index(ixno, name, shape), 0);
    ASSERT_EQ(zvlfsegput(ixno, -1, 0, 0, kDat), 0);
    for (size_t i = 0; i < segs.size(); i++)
        ASSERT_EQ(zvlfsegput(ixno, int(i), segs[i].off, segs[i].len, segs[i].mode), 0);
    indexes_.push_back(ixno);
}

uint32_t NavTest::add_record(const Rec &r) {
    uint32_t pos = NEWREC(kDat);
    EXPECT_NE(pos, 0u);
    Rec copy = r;
    EXPECT_EQ(WRTREC(kDat, pos, &copy), 0);
    for (int ix : indexes_) {
        std::string k = key_of(ix, r, pos);
        EXPECT_EQ(ADDKEY(ix, k.data(), pos, 0), 0);
    }
    recs_.push_back(r);
    pos_.push_back(pos);
    return pos;
}

std::string NavTest::key_of(int ixno, const Rec &r, uint32_t pos) {
    std::string k(size_t(GETFIL(ixno, 1)), '\0');
    zvSETHGH(0);
    EXPECT_GT(frmkey(ixno, &r, k.data(), pos, sizeof r), 0);
    return k;
}

std::vector<Item> NavTest::entries(int ixno) {
    std::vector<Item> out;
    for (size_t i = 0; i < recs_.size(); i++) out.push_back(Item{key_of(ixno, recs_[i], pos_[i]), pos_[i], recs_[i]});
    std::sort(out.begin(), out.end(), [](const Item &x, const Item &y) { return x.key < y.key; });
    return out;
}

Rec NavTest::rec(int32_t a, int32_t b, uint32_t id) {
    Rec r;
    memset(&r, 0, sizeof r);
    r.tag[0] = 'R';
    r.a = a;
    r.b = b;
    r.id = id;
    snprintf(r.text, sizeof r.text, "t%06u", id % 1000000);
    return r;
}

std::vector<uint32_t> NavTest::walk(const std::function<int(Rec *)> &first, const std::function<int(Rec *)> &next,
                                    int *last) {
    std::vector<uint32_t> ids;
    Rec r;
    int rc = first(&r);
    while (rc == 0) {
        ids.push_back(r.id);
        if (ids.size() > recs_.size() + 1) break;
        rc = next(&r);
    }
    if (last) *last = rc;
    return ids;
}

}  // namespace navtest
