// The parser's entries: cndxparse (callback filters, refused texts, the
// expression error word) and testparse over an open data file.
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/fcb.h"
#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/expr/expr_services.h"
#include "engine/isam/cidx.h"
#include "engine/isam/isam_services.h"
#include "tests/engine/expr/exprfix.h"
#include "zarvo/zarvo.h"

namespace {

using namespace exprtest;

class EntryTest : public ExprTest {
protected:
    // A data file with the shared layout stored as its record schema.
    void make_file(int filno) {
        ASSERT_EQ(CREDAT(filno, "f.dat", 256, 0, 0), 0);
        std::vector<DATOBJ> doda;
        for (const zvfuzz::FieldDef &f : zvfuzz::expr_fields()) doda.push_back({f.name, 0, f.type, f.len, 0, 0});
        ASSERT_EQ(PUTDODA(filno, doda.data(), int(doda.size())), 0);
    }
    void *parse_entry(const char *text, int *kind) {
        return cndxparse(schema_.data(), names_.data(), text, text ? int32_t(strlen(text) + 1) : 0, kind);
    }
};

TEST_F(EntryTest, CallbackFiltersRefusedTextsAndTheErrorWord) {
    INSTGV *g = zvWNGV;
    int kind = -1;
    EXPECT_EQ(parse_entry(nullptr, &kind), nullptr);
    EXPECT_EQ(g->uerr_cod, 540);
    EXPECT_EQ(kind, 0);
    zv::set_uerr(0);
    EXPECT_EQ(parse_entry("#x", &kind), nullptr);
    EXPECT_EQ(g->uerr_cod, 454);

    // A callback filter: the use count 1, the whole text and a NUL.
    zv::set_uerr(0);
    void *cb = parse_entry("@flt", &kind);
    ASSERT_NE(cb, nullptr);
    EXPECT_EQ(kind, 1);
    EXPECT_EQ(g->uerr_cod, 0);
    uint32_t one = 1;
    unsigned char want[9] = {0, 0, 0, 0, '@', 'f', 'l', 't', 0};
    memcpy(want, &one, 4);
    EXPECT_EQ(zvmemsiz(cb), 9);
    EXPECT_EQ(memcmp(cb, want, 9), 0);
    zvputmem(cb);
    zv::fail_pool_at(1);
    EXPECT_EQ(parse_entry("@flt", &kind), nullptr);
    EXPECT_EQ(g->uerr_cod, 82);
    EXPECT_EQ(kind, 1);

    // Parsed texts: the parser's result is kept, the user error untouched.
    zv::set_uerr(0);
    void *tree = parse_entry("a > 1", &kind);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(kind, 0);
    EXPECT_EQ(g->exprerr, 0);
    zv::ptDestroy(static_cast<PTNODE *>(tree));
    EXPECT_EQ(parse_entry("a >", &kind), nullptr);
    EXPECT_EQ(g->exprerr, 1);
    EXPECT_EQ(g->uerr_cod, 0);
    std::string deep = "1";
    for (int i = 0; i < 1024; i++) deep += "+1";
    EXPECT_EQ(parse_entry(deep.c_str(), &kind), nullptr);
    EXPECT_EQ(g->exprerr, 2);
    EXPECT_NE(parse_entry("1", nullptr), nullptr);  // the flag is optional
}

TEST_F(EntryTest, TestparseOverAnOpenFile) {
    make_file(1);
    INSTGV *g = zvWNGV;
    int64_t base = zv::pool_blocks_in_use();
    void *tree = nullptr;
    int kind = -1;
    EXPECT_EQ(testparse(1, "Price > 10 AND Name = \"x\"", &tree, &kind), 1);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(kind, 0);
    EXPECT_EQ(shape(zv::ptGetRight(static_cast<PTNODE *>(tree))), "(LOGAND:9 (GT:9 Price 10) (EQ:9 Name 'x'))");
    // The tree is bound to a copy of the file's own schema map.
    EXPECT_TRUE(reads_copy_of(zv::ptGetLeft(static_cast<PTNODE *>(tree))->u.op.pay.info, tstfnm(1)->schmap));
    zv::ptDestroy(static_cast<PTNODE *>(tree));
    // Without an out tree the tree is freed at once; so is a callback.
    EXPECT_EQ(testparse(1, "a = 1", nullptr, nullptr), 1);
    FILE *out = getZarvoSTDOUT();
    FILE *sink = tmpfile();
    setZarvoSTDOUT(sink);
    EXPECT_EQ(testparse(1, "@cb", nullptr, &kind), 1);
    setZarvoSTDOUT(out);
    fclose(sink);
    EXPECT_EQ(kind, 1);
    EXPECT_EQ(zv::pool_blocks_in_use(), base);

    struct Case {
        int filno;
        const char *text;
        int uerr;
    } bad[] = {
        {1, "Price >", 597}, {1, "zz = 1", 597}, {1, "#x", 454}, {1, nullptr, 540}, {9, "a = 1", 26},
    };
    for (const Case &c : bad) {
        SCOPED_TRACE(c.text ? c.text : "null");
        tree = nullptr;
        EXPECT_EQ(testparse(c.filno, c.text, &tree, &kind), 0);
        EXPECT_EQ(g->uerr_cod, c.uerr);
        EXPECT_EQ(tree, nullptr);
        EXPECT_EQ(zv::pool_blocks_in_use(), base);
    }
}

}  // namespace
