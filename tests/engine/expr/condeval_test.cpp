// Conditions evaluated for the engine: the stack that cannot be
// allocated, conditional-index tables (zvevalcidx), callback filters and
// their initialisation (zvclbkinit), and the record-filter callback.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/expr/eval.h"
#include "engine/expr/expr_services.h"
#include "engine/index/keycond.h"
#include "engine/isam/cidx.h"
#include "engine/isam/isam_services.h"
#include "tests/engine/expr/evalfix.h"
#include "tests/support/engine.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdbpt.h"

namespace {

using namespace evaltest;

class CondEvalTest : public EvalTest {
protected:
    void SetUp() override {
        EvalTest::SetUp();
        out_ = std::make_unique<zvtest::EngineOutput>();
        img_ = full_image();
    }
    void TearDown() override {
        zv::zvfreecidx(table_, 2);
        out_.reset();
        EvalTest::TearDown();
    }
    std::string printed() { return out_->text(); }
    void *parsed(const std::string &text, int *kind) {
        const Layout &l = full_layout();
        return cndxparse(const_cast<unsigned char *>(l.schema.data()), const_cast<unsigned char *>(l.names.data()),
                         text.c_str(), int32_t(text.size() + 1), kind);
    }
    // A table of entries (relative index number, kind, text); kind 5
    // entries hold a callback block.
    zv::CIDXTABLE *table(const std::vector<std::pair<int, std::string>> &entries, int kind5_at = -1) {
        auto *t = static_cast<zv::CIDXTABLE *>(zvgetmem(int32_t(sizeof(zv::CIDXTABLE))));
        const uint32_t n = uint32_t(entries.size());
        t->counts = n << 16;
        t->entries = static_cast<zv::CIDXENTRY **>(zvgetmem(int32_t(n * sizeof(void *))));
        t->bentries = t->entries + n;
        for (uint32_t i = 0; i < n; i++) {
            auto *e = static_cast<zv::CIDXENTRY *>(zvgetmem(int32_t(sizeof(zv::CIDXENTRY))));
            e->relno = int16_t(entries[i].first);
            e->expr = parsed(entries[i].second, &e->kind);
            EXPECT_NE(e->expr, nullptr) << entries[i].second;
            if (int(i) == kind5_at) e->kind = 5;
            t->entries[i] = e;
        }
        return t;
    }
    int evalcidx(void *t, int relno) {
        return zv::zvevalcidx(t, 1, relno, img_.data.data(), full_layout().schema.data(), full_layout().fixlen,
                              int32_t(img_.data.size()));
    }
    std::unique_ptr<zvtest::EngineOutput> out_;
    Image img_{full_layout()};
    zv::CIDXTABLE *table_ = nullptr;
};

TEST_F(CondEvalTest, AStackThatCannotBeAllocated) {
    int kind = 0;
    void *t = parsed("Qty > 1", &kind);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(zvWNGV->evalwork, nullptr);
    void *rec = img_.data.data();
    void *schema = const_cast<unsigned char *>(full_layout().schema.data());
    const int32_t fix = full_layout().fixlen, tot = int32_t(img_.data.size());
    zv::fail_alloc_at(1);
    EXPECT_EQ(cndxeval(t, rec, schema, fix, tot), -435);
    EXPECT_EQ(zvGetUserErrorCode(), 435);
    EXPECT_EQ(zvWNGV->exprerr, 5);
    zv::fail_alloc_at(1);
    EXPECT_EQ(evalcidx(t, -105), -435);
    zv::fail_alloc_at(0);
    EXPECT_EQ(cndxeval(t, rec, schema, fix, tot), 1);
    EXPECT_EQ(zvWNGV->exprerr, 0);
    cndxfree(t);
}

TEST_F(CondEvalTest, ConditionsOfATable) {
    int kind = 0;
    void *one = parsed("Qty > 1", &kind);
    void *none = parsed("Qty > 5", &kind);
    EXPECT_EQ(evalcidx(one, -105), 1);
    EXPECT_EQ(evalcidx(none, -105), 0);
    EXPECT_EQ(cndxSetCondIdxFlag(one), 0);
    EXPECT_EQ(cndxSetCondIdxFlag(nullptr), 16);
    EXPECT_EQ(evalcidx(one, -105), 1) << "the flag marks, it does not change the value";
    cndxfree(one);
    cndxfree(none);

    table_ = table({{0, "Qty > 1"}, {2, "Qty > 5"}, {3, "Qty / Zero"}, {4, "@cb"}});
    struct Case {
        int relno, want, uerr, exprerr;
    };
    const Case cases[] = {{0, 1, 0, 0}, {2, 0, 0, 0}, {1, -598, 598, 0}, {3, -598, 598, 9}, {4, 1, 0, 0}};
    for (const Case &c : cases) {
        zv::set_uerr(0);
        zvWNGV->exprerr = 0;
        EXPECT_EQ(evalcidx(table_, c.relno), c.want) << c.relno;
        EXPECT_EQ(zvGetUserErrorCode(), c.uerr) << c.relno;
        EXPECT_EQ(zvWNGV->exprerr, c.exprerr) << c.relno;
    }
    EXPECT_EQ(printed(), " zvfiltercb: @cb\n");
    // No table, no record.
    zv::set_uerr(0);
    EXPECT_EQ(evalcidx(nullptr, 0), -598);
    EXPECT_EQ(zvGetUserErrorCode(), 598);
    zv::set_uerr(0);
    EXPECT_EQ(zv::zvevalcidx(table_, 1, 0, nullptr, full_layout().schema.data(), 1, 1), -598);
    EXPECT_EQ(zvGetUserErrorCode(), 598);
}

TEST_F(CondEvalTest, CallbackInitialisation) {
    EXPECT_EQ(zvclbkinit("owner", nullptr, 0), 1);
    EXPECT_EQ(zvclbkinit("owner", nullptr, 3), 0);
    int kind = 0;
    void *cb = parsed("@one", &kind);
    EXPECT_EQ(kind, 1);
    EXPECT_EQ(zvclbkinit("owner", cb, 1), 1);
    EXPECT_EQ(printed(), " zvfiltercb_init: @one\n");
    zv::zvfreecidx(cb, 1);
    // Every callback entry, from the last to the first.
    table_ = table({{0, "Qty > 1"}, {1, "@a"}, {2, "@b"}});
    EXPECT_EQ(zvclbkinit("owner", table_, 2), 2);
    EXPECT_EQ(printed(), " zvfiltercb_init: @one\n zvfiltercb_uninit: @one\n zvfiltercb_init: @b\n zvfiltercb_init: @a\n");
    zv::zvfreecidx(table_, 2);
    // The reserved kind 5 stops the walk.
    table_ = table({{0, "@a"}, {1, "@five"}, {2, "@b"}}, 1);
    zv::set_uerr(0);
    EXPECT_EQ(zvclbkinit("owner", table_, 2), 0);
    EXPECT_EQ(zvGetUserErrorCode(), 454);
    // A table's release leaves kind-5 entries to their owner.
    zv::zvfreecidx(table_->entries[1]->expr, 3);
}

// The record-filter callback: a negative answer is an error.
int g_answer = 1;
int answering(const char *, ...) { return g_answer; }

TEST_F(CondEvalTest, TheRecordFilterCallbackDecides) {
    int kind = 0;
    void *cb = parsed("@mine", &kind);
    ASSERT_NE(cb, nullptr);
    void *rec = img_.data.data();
    zv::set_filter_callback(answering);
    struct Case {
        int answer, want, exprerr;
    };
    for (const Case c : {Case{1, 1, 0}, Case{0, 0, 0}, Case{3, 3, 0}, Case{-7, 0, 7}, Case{2, 2, 0}}) {
        g_answer = c.answer;
        EXPECT_EQ(clbkeval(cb, 1, 1, rec, nullptr, 8, 8), c.want) << c.answer;
        EXPECT_EQ(zvWNGV->exprerr, c.exprerr) << c.answer;
    }
    // A conditional index on a callback: a negative answer is -598.
    table_ = table({{0, "@mine"}});
    g_answer = -7;
    EXPECT_EQ(evalcidx(table_, 0), -598);
    g_answer = 0;
    EXPECT_EQ(evalcidx(table_, 0), 0);
    // The sample callback is the default; clbkrun calls it directly.
    zv::set_filter_callback(nullptr);
    EXPECT_EQ(clbkeval(cb, 1, 1, rec, nullptr, 8, 8), 1);
    EXPECT_EQ(clbkrun(cb, rec, nullptr, 8, 8), 1);
    EXPECT_EQ(printed(), " zvfiltercb: @mine\n zvfiltercb: @mine\n");
    zv::zvfreecidx(cb, 1);
}

}  // namespace
