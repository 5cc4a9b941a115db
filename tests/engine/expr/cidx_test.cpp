// Sharing and releasing conditions: parse trees, callback-filter blocks
// (the sample callback reports their end), plain blocks and whole
// conditional-index tables.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/expr/expr_services.h"
#include "engine/isam/cidx.h"
#include "engine/isam/isam_services.h"
#include "tests/engine/expr/exprfix.h"
#include "tests/support/engine.h"
#include "zarvo/zarvo.h"

namespace {

using namespace exprtest;

class CidxTest : public ExprTest {
protected:
    void SetUp() override {
        ExprTest::SetUp();
        out_ = std::make_unique<zvtest::EngineOutput>();
    }
    void TearDown() override {
        out_.reset();
        ExprTest::TearDown();
    }
    // What the engine printed so far.
    std::string printed() { return out_->text(); }
    void *callback(const char *text) {
        int kind = 0;
        void *b = cndxparse(nullptr, nullptr, text, int32_t(strlen(text) + 1), &kind);
        EXPECT_EQ(kind, 1);
        return b;
    }
    std::unique_ptr<zvtest::EngineOutput> out_;
};

TEST_F(CidxTest, ASharedCallbackBlockEndsWithItsLastRelease) {
    int64_t base = zv::pool_blocks_in_use();
    void *cb = callback("@flt");
    ASSERT_NE(cb, nullptr);
    EXPECT_EQ(zv::zvcpydatflt(cb, 1), cb);
    zv::zvfreecidx(cb, 1);
    EXPECT_EQ(printed(), "");
    EXPECT_EQ(zv::pool_blocks_in_use(), base + 1);
    EXPECT_EQ(memcmp(static_cast<char *>(cb) + 4, "@flt", 5), 0);
    zv::zvfreecidx(cb, 1);
    EXPECT_EQ(printed(), " zvfiltercb_uninit: @flt\n");
    EXPECT_EQ(zv::pool_blocks_in_use(), base);
    // Kind 5 shares the same way and is never released here.
    void *k5 = callback("@five");
    EXPECT_EQ(zv::zvcpydatflt(k5, 5), k5);
    uint32_t uses;
    memcpy(&uses, k5, 4);
    EXPECT_EQ(uses, 2u);
    zv::zvfreecidx(k5, 5);
    EXPECT_EQ(zv::pool_blocks_in_use(), base + 1);
    zv::zvfreecidx(k5, 3);  // a plain block
    EXPECT_EQ(zv::pool_blocks_in_use(), base);
    EXPECT_EQ(printed(), " zvfiltercb_uninit: @flt\n");
}

TEST_F(CidxTest, TreesAreSharedByUseCount) {
    int64_t base = zv::pool_blocks_in_use();
    PTNODE *tree = nullptr;
    ASSERT_EQ(parse("a > 1", &tree), 0);
    EXPECT_EQ(zv::zvcpydatflt(tree, 0), tree);
    zv::zvfreecidx(tree, 0);
    EXPECT_EQ(zv::ptGetNodeType(tree), PT_RECINFO);  // still alive
    zv::zvfreecidx(tree, 0);
    EXPECT_EQ(zv::pool_blocks_in_use(), base);
    EXPECT_EQ(zv::zvcpydatflt(nullptr, 0), nullptr);
    EXPECT_EQ(zv::zvcpydatflt(tree, 2), nullptr);
    EXPECT_EQ(zv::zvcpydatflt(tree, 7), nullptr);
    zv::zvfreecidx(nullptr, 1);  // ignored
}

TEST_F(CidxTest, ATableReleasesItsEntriesButNotTheEvaluationArea) {
    INSTGV *g = zvWNGV;
    void *area = zvgetmem(49152);
    g->evalwork = area;
    int64_t base = zv::pool_blocks_in_use();
    // Two conditions of the first group, one of the second.
    auto *t = static_cast<zv::CIDXTABLE *>(zvgetmem(int32_t(sizeof(zv::CIDXTABLE))));
    t->counts = 2u << 16 | 1u;
    t->entries = static_cast<zv::CIDXENTRY **>(zvgetmem(3 * int32_t(sizeof(void *))));
    t->bentries = t->entries + 2;
    PTNODE *tree = nullptr;
    ASSERT_EQ(parse("b < 2", &tree), 0);
    void *cb = callback("@tbl");
    void *reserved = callback("@res");
    void *exprs[3] = {tree, cb, reserved};
    const int kinds[3] = {0, 1, 5};
    for (int i = 0; i < 3; i++) {
        auto *e = static_cast<zv::CIDXENTRY *>(zvgetmem(int32_t(sizeof(zv::CIDXENTRY))));
        e->relno = int16_t(i);
        e->kind = kinds[i];
        e->expr = exprs[i];
        t->entries[i] = e;
    }
    zv::zvfreecidx(t, 2);
    EXPECT_EQ(printed(), " zvfiltercb_uninit: @tbl\n");
    EXPECT_EQ(g->evalwork, area);
    // Everything is gone but the reserved entry's block.
    EXPECT_EQ(zv::pool_blocks_in_use(), base + 1);
    zvputmem(reserved);
}

}  // namespace
