// The exported parse-tree calls: checked kinds, texts that stay the
// caller's, binding a tree to a record-level table, and no instance.
#include <cstring>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "recapi/base/session.h"
#include "tests/engine/expr/exprfix.h"
#include "tests/support/tablefix.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdbpt.h"

namespace {

using exprtest::ExprTest;
using zvfuzz::FieldDef;

using ZvdbptTest = ExprTest;

TEST_F(ZvdbptTest, BuildersTakeOnlyTheirKinds) {
    int64_t base = zv::pool_blocks_in_use();
    for (int kind : {19, 17, 18, 16, 8, 43, 44, 45, -1, 0, 1000}) {
        EXPECT_EQ(zvdbptPutNode(kind, 9, nullptr, nullptr), nullptr) << kind;
    }
    for (int kind : {20, 31, 41, 42}) {
        PTNODE *n = zvdbptPutNode(kind, 9, nullptr, nullptr);
        EXPECT_NE(n, nullptr) << kind;
        zvdbptDestroy(n);
    }
    for (int kind : {8, 43, 44}) {
        PTNODE *n = zvdbptPutField(kind, 9, 2);
        EXPECT_NE(n, nullptr) << kind;
        zvdbptDestroy(n);
    }
    for (int kind : {7, 9, 19, 20, 45}) EXPECT_EQ(zvdbptPutField(kind, 9, 2), nullptr) << kind;
    // One node cannot be both children, nor an argument list of itself.
    PTNODE *leaf = zvdbptPutInteger(4);
    EXPECT_EQ(zvdbptPutNode(PT_ADD, 9, leaf, leaf), nullptr);
    EXPECT_EQ(zvdbptAddToExprList(leaf, leaf), nullptr);
    PTNODE *null = zvdbptPutNULL();
    EXPECT_EQ(zvdbptAddToExprList(leaf, null), nullptr);  // not a list
    zvdbptDestroy(null);
    EXPECT_EQ(zvdbptAddToExprList(nullptr, nullptr), nullptr);
    PTNODE *list = zvdbptAddToExprList(nullptr, leaf);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(zvdbptGetExprType(list), 1);
    EXPECT_EQ(zvdbptPutSet(-1), nullptr);
    EXPECT_EQ(zvdbptPutSet(0x7FFFFFFF), nullptr);
    EXPECT_EQ(zvdbptGetInteger(leaf), 4);
    EXPECT_EQ(zvdbptGetInteger(list), 0);
    EXPECT_EQ(zvdbptGetExprType(nullptr), 0);
    zvdbptDestroy(list);
    zvdbptDestroy(nullptr);
    EXPECT_EQ(zv::pool_blocks_in_use(), base);
}

TEST_F(ZvdbptTest, TextsAreCopiedWhateverAdoptSays) {
    int64_t base = zv::pool_blocks_in_use();
    std::vector<char> buf = {'a', 'b', 'c'};
    PTNODE *t = zvdbptPutText(buf.data(), 3, 1);
    ASSERT_NE(t, nullptr);
    buf.assign(3, 'z');
    buf.shrink_to_fit();  // the caller's bytes are gone
    EXPECT_EQ(memcmp(zv::ptGetText(t), "abc", 3), 0);
    EXPECT_EQ(zv::ptGetLength(t), 3);
    PTNODE *cmp = zvdbptPutNode(PT_EQ, 9, t, zvdbptPutText("abc", 3, 0));
    zvdbptDestroy(cmp);
    EXPECT_EQ(zv::pool_blocks_in_use(), base);
}

TEST_F(ZvdbptTest, RecinfoBindsToATableAndItsSchema) {
    const std::vector<FieldDef> fields = {
        {"id", ZV_INT4, 4}, {"$NULFLD$", ZV_ARRAY, 1}, {"$ROWID$", ZV_BIGINT, 8}, {"name", ZV_FSTRING, 8}};
    auto schema = zvfuzz::schema_map(fields);
    auto names = zvfuzz::name_list(fields);
    ZVHANDLE table = zvtest::make_table(schema.data());
    ZVHANDLE bare = zvtest::make_table(nullptr);
    auto *session = static_cast<tagZVDBSESSION *>(zvdbAllocSession(3));
    int64_t base = zv::pool_blocks_in_use();
    PTNODE *cond = zvdbptPutInteger(1);
    for (ZVHANDLE h : {ZVHANDLE(nullptr), ZVHANDLE(session), bare}) {
        EXPECT_EQ(zvdbptPutRecinfo(h, names.data(), cond), nullptr);
    }
    PTNODE *root = zvdbptPutRecinfo(table, names.data(), cond);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(zv::ptGetNodeType(root), PT_RECINFO);
    EXPECT_EQ(zv::ptGetRight(root), cond);
    const PTRECINFO *ri = zv::ptGetLeft(root)->u.op.pay.info;
    EXPECT_TRUE(exprtest::reads_copy_of(ri, schema.data()));
    const int32_t want[4] = {0, -1, -1, 1};
    for (int i = 0; i < 4; i++) EXPECT_EQ(ri->visible[i], want[i]) << i;
    zvdbptDestroy(root);
    EXPECT_EQ(zv::pool_blocks_in_use(), base);

    // "$ROWID$" of another type than 8-byte integer is an ordinary field.
    const std::vector<FieldDef> plain = {{"$ROWID$", ZV_INT4, 4}, {"id", ZV_INT4, 4}};
    auto schema2 = zvfuzz::schema_map(plain);
    auto names2 = zvfuzz::name_list(plain);
    ZVHANDLE table2 = zvtest::make_table(schema2.data());
    root = zvdbptPutRecinfo(table2, names2.data(), nullptr);
    ASSERT_NE(root, nullptr);
    ri = zv::ptGetLeft(root)->u.op.pay.info;
    EXPECT_EQ(ri->visible[0], 0);
    EXPECT_EQ(ri->visible[1], 1);
    zvdbptDestroy(root);
    zvtest::free_table(table2);
    zvtest::free_table(table);
    zvtest::free_table(bare);
    zvdbFreeSession(session);
}

TEST_F(ZvdbptTest, WithoutAnInstanceNothingIsBuiltOrFreed) {
    PTNODE *kept = zvdbptPutInteger(5);
    ASSERT_EQ(CLISAM(), 0);
    zvtest::clear_instance_ring();
    ASSERT_EQ(zvWNGV, nullptr);
    tagZVNUMBER num{};
    PTVALUE v{};
    v.kind = PT_INTEGER;
    std::vector<unsigned char> schema = zvfuzz::schema_map({{"id", ZV_INT4, 4}});
    ZVHANDLE table = zvtest::make_table(schema.data());
    PTNODE *built[] = {
        zvdbptPutNode(PT_ADD, 9, nullptr, nullptr), zvdbptPutField(PT_FIELD, 9, 0), zvdbptPutNULL(),
        zvdbptPutInteger(1), zvdbptPutDate(1), zvdbptPutTime(1), zvdbptPutTimeMsec(1), zvdbptPutStamp(1.0),
        zvdbptPutNumber(&num), zvdbptPutText("a", 1, 0), zvdbptPutSet(2), zvdbptCopyIntoSet(nullptr, &v),
        zvdbptAddToExprList(nullptr, kept), zvdbptPutRecinfo(table, nullptr, nullptr),
    };
    for (PTNODE *n : built) EXPECT_EQ(n, nullptr);
    zvdbptDestroy(kept);   // no instance: nothing happens
    zvdbptFreeMem(kept);
    zvtest::free_table(table);
    ASSERT_EQ(REGZARVO("again"), 0);  // the fixture's tear-down stops an instance
}

}  // namespace
