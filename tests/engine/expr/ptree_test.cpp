// Parse-tree nodes: builders, readers, value sets, shared release, the
// record layout of bound trees and the dump.
#include <unistd.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/expr/fields.h"
#include "engine/expr/ptree.h"
#include "tests/engine/expr/exprfix.h"
#include "zarvo/zarvo.h"

namespace {

using exprtest::ExprTest;
using zvfuzz::FieldDef;
using namespace zv;

using PtreeTest = ExprTest;

std::string text_of(const PTNODE *n) {
    return std::string(reinterpret_cast<const char *>(ptGetText(n)), size_t(ptGetLength(n)));
}

TEST_F(PtreeTest, ConstantBuildersHoldTheirValues) {
    tagZVNUMBER num;
    ASSERT_EQ(zvdbStringToNumber("12.5", &num), 0);
    struct Case {
        PTNODE *node;
        uint32_t vkind;
        int64_t word;  // the first 8 value bytes, for the integer-like kinds
    } cases[] = {
        {ptPutNULL(), PT_NULL, 0},
        {ptPutInteger(-7), PT_INTEGER, -7},
        {ptPutDate(118339), PT_DATE, 118339},
        {ptPutTime(3723), PT_TIME, 3723},
        {ptPutTimeMsec(45005250), PT_TIMEMS, 45005250},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.vkind);
        ASSERT_NE(c.node, nullptr);
        EXPECT_EQ(ptGetNodeType(c.node), PT_CONSTANT);
        EXPECT_EQ(ptGetExprType(c.node), int(c.vkind));
        EXPECT_EQ(ptGetValue(c.node)->kind, c.vkind);
        EXPECT_EQ(ptGetInteger(c.node), c.word);
        EXPECT_EQ(ptGetLeft(c.node), nullptr);  // the value lies over the child words
        EXPECT_EQ(ptGetRight(c.node), nullptr);
        ptDestroy(c.node);
    }
    PTNODE *s = ptPutStamp(45296.5);
    EXPECT_EQ(ptGetExprType(s), PT_STAMP);
    EXPECT_EQ(ptGetStamp(s), 45296.5);
    PTNODE *n = ptPutNumber(&num);
    EXPECT_EQ(ptGetExprType(n), PT_NUMBER);
    EXPECT_EQ(memcmp(ptGetNumber(n), &num, sizeof num), 0);
    EXPECT_EQ(ptPutNumber(nullptr), nullptr);
    ptDestroy(s);
    ptDestroy(n);
}

TEST_F(PtreeTest, ReadersOfFieldsOperatorsAndNull) {
    PTNODE *f = ptPutField(PT_FIELD, PT_INTEGER, 3);
    EXPECT_EQ(ptGetField(f), 3u);
    EXPECT_EQ(ptGetLeft(f), nullptr);
    EXPECT_EQ(ptGetRight(f), nullptr);
    PTNODE *op = ptPutNode(PT_ADD, 9, f, ptPutInteger(1));
    EXPECT_EQ(ptGetLeft(op), f);
    EXPECT_EQ(ptGetInteger(ptGetRight(op)), 1);
    EXPECT_EQ(ptGetInteger(op), 0);  // an operator holds no value
    EXPECT_EQ(ptGetNodeType(nullptr), 0);
    EXPECT_EQ(ptGetExprType(nullptr), 0);
    EXPECT_EQ(ptGetLeft(nullptr), nullptr);
    EXPECT_EQ(ptGetText(nullptr), nullptr);
    EXPECT_EQ(ptGetStamp(nullptr), 0.0);
    EXPECT_EQ(ptCopy(nullptr), nullptr);
    const int sizes[][2] = {{9, 4},   {10, 4}, {11, 4}, {12, 4}, {13, 8},  {14, 20},
                            {15, 256}, {0, -1}, {1, -1}, {8, -1}, {16, -1}, {19, -1}};
    for (const auto &s : sizes) EXPECT_EQ(ptGetDataSize(s[0]), s[1]) << s[0];
    PTNODE *text = ptPutText("ab", 2, 0);
    PTNODE *num = ptPutInteger(1);
    EXPECT_EQ(ptDuplexNumeric(num, num), PT_INTEGER);
    EXPECT_EQ(ptDuplexNumeric(num, text), PT_NUMBER);
    PTNODE *stamp = ptPutStamp(1.0);
    EXPECT_EQ(ptDuplexNumeric(stamp, num), PT_NUMBER);
    EXPECT_EQ(ptDuplexNumeric(op, nullptr), PT_INTEGER);
    ptDestroy(stamp);
    ptDestroy(text);
    ptDestroy(num);
    ptDestroy(op);
}

TEST_F(PtreeTest, TextConstantsOwnTheirBytes) {
    int64_t base = pool_blocks_in_use();
    char src[] = "hello";
    PTNODE *t = ptPutText(src, 5, 0);
    src[0] = 'j';
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(text_of(t), "hello");
    EXPECT_EQ(zvmemsiz(ptGetText(t)), 5);
    PTNODE *empty = ptPutText(src, 0, 0);
    EXPECT_EQ(ptGetLength(empty), 0);
    EXPECT_EQ(zvmemsiz(ptGetText(empty)), 1);  // one byte allocated, nothing copied
    PTNODE *none = ptPutText(nullptr, 4, 0);
    PTNODE *neg = ptPutText(src, -3, 0);
    for (PTNODE *n : {none, neg}) {
        EXPECT_EQ(ptGetExprType(n), PT_TEXT);
        EXPECT_EQ(ptGetLength(n), 0);
        EXPECT_EQ(ptGetText(n), nullptr);
    }
    // Adopting hands a pool block over to the node.
    auto *blk = static_cast<char *>(zvgetmem(3));
    memcpy(blk, "xyz", 3);
    PTNODE *adopted = ptPutText(blk, 3, 1);
    EXPECT_EQ(ptGetText(adopted), reinterpret_cast<unsigned char *>(blk));
    for (PTNODE *n : {t, empty, none, neg, adopted}) ptDestroy(n);
    EXPECT_EQ(pool_blocks_in_use(), base);
}

TEST_F(PtreeTest, SharedNodesAreFreedByTheirLastRelease) {
    int64_t base = pool_blocks_in_use();
    PTNODE *t = ptPutText("abc", 3, 0);
    EXPECT_EQ(ptCopy(t), t);
    ptDestroy(t);
    EXPECT_EQ(pool_blocks_in_use(), base + 2);  // node and text still there
    EXPECT_EQ(text_of(t), "abc");
    ptDestroy(t);
    EXPECT_EQ(pool_blocks_in_use(), base);

    // A subtree shared by two trees lives until both are released.
    PTNODE *sub = ptPutNode(PT_ADD, 9, ptPutInteger(1), ptPutText("q", 1, 0));
    PTNODE *one = ptPutNode(PT_MINUS, 9, sub, nullptr);
    PTNODE *two = ptPutNode(PT_EQ, 9, ptCopy(sub), ptPutInteger(5));
    int64_t built = pool_blocks_in_use();
    ptDestroy(one);
    EXPECT_EQ(pool_blocks_in_use(), built - 1);  // only the MINUS node
    EXPECT_EQ(text_of(ptGetRight(ptGetLeft(two))), "q");
    ptDestroy(two);
    EXPECT_EQ(pool_blocks_in_use(), base);
}

TEST_F(PtreeTest, TreesOfAnyHeightAreReleasedWithoutRecursion) {
    int64_t base = pool_blocks_in_use();
    constexpr int kNodes = 300000;
    PTNODE *left = ptPutInteger(0);
    PTNODE *right = ptPutText("r", 1, 0);
    for (int i = 0; i < kNodes; i++) {
        left = ptPutNode(PT_ADD, 9, left, ptPutInteger(i));
        right = ptPutNode(PT_CAST, 9, ptPutInteger(9), right);
        ASSERT_NE(left, nullptr);
        ASSERT_NE(right, nullptr);
    }
    ptDestroy(ptPutNode(PT_LOGAND, 9, left, right));
    EXPECT_EQ(pool_blocks_in_use(), base);
}

TEST_F(PtreeTest, ValueSetsTakeTheirCapacityAndOwnTheirTexts) {
    int64_t base = pool_blocks_in_use();
    PTNODE *set = ptPutSet(3);
    ASSERT_NE(set, nullptr);
    const PTVALUE *sv = ptGetValue(set);
    EXPECT_EQ(sv->kind, uint32_t(PT_VSET));
    EXPECT_EQ(sv->length, 3u);
    EXPECT_EQ(sv->count, 0u);
    EXPECT_EQ(sv->v.set[0].kind, uint32_t(PT_VSET));  // header: not yet prepared
    EXPECT_EQ(sv->v.set[0].v.integer, 1);

    char bytes[] = "apple";
    PTVALUE text{};
    text.kind = PT_TEXT;
    text.length = 5;
    text.v.text = reinterpret_cast<unsigned char *>(bytes);
    PTVALUE num{};
    num.kind = PT_INTEGER;
    num.v.integer = 42;
    EXPECT_EQ(ptCopyIntoSet(set, &text), set);
    EXPECT_EQ(ptCopyIntoSet(set, &text), set);  // the same text twice: two copies
    EXPECT_EQ(ptCopyIntoSet(set, &num), set);
    EXPECT_EQ(ptCopyIntoSet(set, &num), nullptr);  // full
    EXPECT_EQ(sv->count, 3u);
    bytes[0] = 'X';
    EXPECT_NE(sv->v.set[1].v.text, sv->v.set[2].v.text);
    EXPECT_EQ(memcmp(sv->v.set[2].v.text, "apple", 5), 0);
    EXPECT_EQ(sv->v.set[3].v.integer, 42);

    // Member kinds other than NULL and 9..15 are refused.
    PTNODE *other = ptPutSet(4);
    for (uint32_t kind : {0u, 8u, 16u, 19u, 99u}) {
        PTVALUE v{};
        v.kind = kind;
        EXPECT_EQ(ptCopyIntoSet(other, &v), nullptr) << kind;
    }
    PTVALUE null{};
    null.kind = PT_NULL;
    EXPECT_EQ(ptCopyIntoSet(other, &null), other);
    EXPECT_EQ(ptCopyIntoSet(nullptr, &null), nullptr);
    EXPECT_EQ(ptCopyIntoSet(ptGetLeft(set), &null), nullptr);
    PTNODE *notaset = ptPutInteger(1);
    EXPECT_EQ(ptCopyIntoSet(notaset, &null), nullptr);

    EXPECT_EQ(ptPutSet(-1), nullptr);
    EXPECT_EQ(ptPutSet(0x7FFFFFFF), nullptr);
    for (PTNODE *n : {set, other, notaset}) ptDestroy(n);
    EXPECT_EQ(pool_blocks_in_use(), base);
}

TEST_F(PtreeTest, ArgumentListsCountTheirArguments) {
    PTNODE *list = nullptr;
    for (int i = 1; i <= 3; i++) {
        list = ptAddToExprList(list, ptPutInteger(i * 10));
        EXPECT_EQ(ptArgCount(list), i);
        EXPECT_EQ(ptGetInteger(ptGetRight(list)), i * 10);
    }
    EXPECT_EQ(ptArgCount(ptGetLeft(ptGetLeft(list))), 1);
    EXPECT_EQ(ptGetLeft(ptGetLeft(ptGetLeft(list))), nullptr);
    EXPECT_EQ(ptArgCount(ptGetRight(list)), 0);
    ptDestroy(list);

    // The count is a 16-bit word: a list stops at 32767 arguments.
    int64_t base = pool_blocks_in_use();
    list = nullptr;
    for (int i = 1; i <= 32767; i++) ASSERT_NE(list = ptAddToExprList(list, nullptr), nullptr) << i;
    EXPECT_EQ(ptArgCount(list), 32767);
    EXPECT_EQ(ptAddToExprList(list, nullptr), nullptr);
    ptDestroy(list);
    EXPECT_EQ(pool_blocks_in_use(), base);
}

// A schema map with run entries (entry count below the field count).
std::vector<unsigned char> run_schema(const std::vector<std::array<int, 3>> &runs, int32_t fields) {
    std::vector<unsigned char> m(16 + 6 * runs.size(), 0);
    m[1] = 8;
    int32_t words[3] = {int32_t(m.size()), fields, int32_t(runs.size())};
    memcpy(m.data() + 4, words, sizeof words);
    for (size_t i = 0; i < runs.size(); i++) {
        uint16_t len = uint16_t(runs[i][0]), type = uint16_t(runs[i][1]);
        memcpy(m.data() + 16 + 6 * i, &len, 2);
        memcpy(m.data() + 18 + 6 * i, &type, 2);
        m[20 + 6 * i] = uint8_t(runs[i][2]);
    }
    return m;
}

TEST_F(PtreeTest, FieldMapsExpandRunsAndCopyTheNames) {
    auto schema = run_schema({{4, ZV_INT4, 2}, {8, ZV_DFLOAT, 0}}, 4);
    const unsigned char names[] = {3, 'p', 0, 1, 4, 'q', 'r', 0, 3, 's', 0};
    PTFIELDMAP *map = makeDoda(schema.data(), names);
    ASSERT_NE(map, nullptr);
    const struct {
        uint16_t type, len;
        const char *name;
    } want[] = {{ZV_INT4, 4, "p"}, {ZV_INT4, 4, nullptr}, {ZV_INT4, 4, "qr"}, {ZV_DFLOAT, 8, "s"}};
    auto *copy = reinterpret_cast<const char *>(map + 5);
    EXPECT_EQ(zvmemsiz(map), int32_t(5 * sizeof(PTFIELDMAP) + sizeof names));
    for (int i = 0; i < 4; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(map[i].type, want[i].type);
        EXPECT_EQ(map[i].len, want[i].len);
        if (!want[i].name) {
            EXPECT_EQ(map[i].name, nullptr);
            continue;
        }
        ASSERT_NE(map[i].name, nullptr);
        EXPECT_STREQ(map[i].name, want[i].name);
        EXPECT_TRUE(map[i].name > copy && map[i].name < copy + sizeof names);  // inside the copy
    }
    EXPECT_EQ(map[4].type, 0);  // the spare entry
    zvputmem(map);
    // Without names the entries carry types and lengths alone.
    map = makeDoda(schema.data(), nullptr);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map[3].type, ZV_DFLOAT);
    EXPECT_EQ(map[0].name, nullptr);
    zvputmem(map);
    // Without a schema: a map of no fields.
    map = makeDoda(nullptr, nullptr);
    ASSERT_NE(map, nullptr);
    zvputmem(map);
}

TEST_F(PtreeTest, MalformedSchemasAndNameListsGiveNoMap) {
    const unsigned char names3[] = {3, 'p', 0, 3, 'q', 0, 3, 's', 0};
    struct Case {
        const char *what;
        std::vector<unsigned char> schema;
        std::vector<unsigned char> names;
    } cases[] = {
        {"negative field count", run_schema({{4, ZV_INT4, 2}}, -3), {}},
        {"runs cover fewer fields", run_schema({{4, ZV_INT4, 1}, {4, ZV_INT4, 0}}, 4), {}},
        {"runs cover more fields", run_schema({{4, ZV_INT4, 5}}, 3), {}},
        {"a zero length byte", run_schema({{4, ZV_INT4, 2}}, 3), {3, 'p', 0, 0, 3, 's', 0}},
        {"a name without its NUL", run_schema({{4, ZV_INT4, 2}}, 3), {3, 'p', 0, 3, 'q', 'x', 3, 's', 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(makeDoda(c.schema.data(), c.names.empty() ? nullptr : c.names.data()), nullptr);
        PTNODE *t = ptPutInteger(1);
        EXPECT_EQ(ptPutRecinfo(c.schema.data(), c.names.empty() ? nullptr : c.names.data(), t), nullptr);
        ptDestroy(t);  // still the caller's
    }
    auto good = run_schema({{4, ZV_INT4, 2}}, 3);
    PTFIELDMAP *map = makeDoda(good.data(), names3);
    EXPECT_NE(map, nullptr);
    zvputmem(map);
}

TEST_F(PtreeTest, RecordInfoNumbersTheVisibleFields) {
    const std::vector<FieldDef> fields = {
        {"id", ZV_INT4, 4},         {"$nulfld$", ZV_ARRAY, 2}, {"$DELFLD$", ZV_ARRAY, 1},
        {"name", ZV_FSTRING, 10},   {"$ROWID$", ZV_BIGINT, 8}, {"$ROWID$", ZV_INT4, 4},
        {"$NULFLD$", ZV_INT4, 4},   {nullptr, ZV_INT4, 4},     {"$DELFLD$", ZV_INT2, 2},
    };
    auto schema = zvfuzz::schema_map(fields);
    auto names = zvfuzz::name_list(fields);
    int64_t base = pool_blocks_in_use();
    PTNODE *cond = ptPutInteger(1);
    PTNODE *root = ptPutRecinfo(schema.data(), names.data(), cond);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(ptGetNodeType(root), PT_RECINFO);
    EXPECT_EQ(ptGetRight(root), cond);
    PTNODE *info = ptGetLeft(root);
    ASSERT_EQ(ptGetNodeType(info), PT_INFO);
    const PTRECINFO *ri = info->u.op.pay.info;
    ASSERT_NE(ri, nullptr);
    // The root reads its own copy of the schema map, never the caller's.
    EXPECT_TRUE(exprtest::reads_copy_of(ri, schema.data()));
    EXPECT_EQ(ri->present, 9u);
    EXPECT_EQ(ri->flags, 0u);
    const int32_t want[9] = {0, -1, -1, 1, -1, 2, 3, 4, 5};
    for (int i = 0; i < 9; i++) EXPECT_EQ(ri->visible[i], want[i]) << i;
    EXPECT_EQ(ri->nullfld, &ri->fields[1]);
    ptDestroy(root);
    EXPECT_EQ(pool_blocks_in_use(), base);

    // Without names every field is visible.
    root = ptPutRecinfo(schema.data(), nullptr, nullptr);
    ASSERT_NE(root, nullptr);
    const PTRECINFO *bare = ptGetLeft(root)->u.op.pay.info;
    for (int i = 0; i < 9; i++) EXPECT_EQ(bare->visible[i], i);
    EXPECT_EQ(bare->nullfld, nullptr);
    ptDestroy(root);
    EXPECT_EQ(pool_blocks_in_use(), base);
}

TEST_F(PtreeTest, BuildersFailCleanlyWhenThePoolRunsOut) {
    auto schema = zvfuzz::schema_map(zvfuzz::expr_fields());
    auto names = zvfuzz::name_list(zvfuzz::expr_fields());
    int64_t base = pool_blocks_in_use();
    for (long n = 1; n <= 5; n++) {
        SCOPED_TRACE(n);
        PTNODE *cond = ptPutInteger(7);
        fail_pool_at(n);
        PTNODE *root = ptPutRecinfo(schema.data(), names.data(), cond);
        fail_pool_at(0);
        EXPECT_EQ(root, nullptr);
        ptDestroy(cond);
        EXPECT_EQ(pool_blocks_in_use(), base);
    }
    fail_pool_at(1);
    EXPECT_EQ(ptPutText("abc", 3, 0), nullptr);
    fail_pool_at(2);
    EXPECT_EQ(ptPutText("abc", 3, 0), nullptr);  // the copy: the node is given back
    fail_pool_at(2);
    EXPECT_EQ(ptPutSet(2), nullptr);
    fail_pool_at(0);
    PTNODE *set = ptPutSet(2);
    PTVALUE v{};
    v.kind = PT_TEXT;
    v.length = 2;
    v.v.text = reinterpret_cast<unsigned char *>(const_cast<char *>("zz"));
    fail_pool_at(1);
    EXPECT_EQ(ptCopyIntoSet(set, &v), nullptr);
    EXPECT_EQ(ptGetValue(set)->count, 0u);
    ptDestroy(set);
    EXPECT_EQ(pool_blocks_in_use(), base);
}

TEST_F(PtreeTest, DumpListsTheTreeInOrder) {
    PTNODE *tree = nullptr;
    ASSERT_EQ(parse("a + 12 > LENGTH(Name) AND Born = {d '2024-2-29'} OR \"x\\x01y\" <> Name"
                    " OR At > '12:30:05:250' OR Stamp = {ts '2024-1-5 1:2:3'} OR Price IS NULL"
                    " OR Amount = 1.5",
                    &tree),
              0);
    ASSERT_EQ(ptPrint(tree), 0);
    ptDestroy(tree);
    const std::string want =
        "  PT_INFO\n"
        " PT_RECINFO\n"
        "          PT_FIELD 0\n"
        "         PT_ADD\n"
        "          PT_CONSTANT PT_INTEGER 12\n"
        "        PT_GT\n"
        "          PT_ARGUMENT\n"
        "           PT_FIELD 12\n"
        "         PT_FUNCTION LENGTH(1 args)\n"
        "          PT_CONSTANT PT_INTEGER 36\n"
        "       PT_LOGAND\n"
        "         PT_FIELD 6\n"
        "        PT_EQ\n"
        "         PT_CONSTANT PT_DATE 2024-02-29\n"
        "      PT_LOGOR\n"
        "        PT_CONSTANT PT_TEXT x\\01y\n"
        "       PT_NE\n"
        "        PT_FIELD 12\n"
        "     PT_LOGOR\n"
        "       PT_FIELD 7\n"
        "      PT_GT\n"
        "       PT_CONSTANT PT_TIMEMS 12:30:05:250\n"
        "    PT_LOGOR\n"
        "      PT_FIELD 10\n"
        "     PT_EQ\n"
        "      PT_CONSTANT PT_STAMP 2024-01-05 01:02:03\n"
        "   PT_LOGOR\n"
        "    PT_ISNULL 4\n"
        "  PT_LOGOR\n"
        "    PT_FIELD 8\n"
        "   PT_EQ\n"
        "    PT_CONSTANT PT_NUMBER 1.5\n";
    EXPECT_EQ(zvtest::read_file("ptree.txt"), want);

    // A set constant under a chain of operators, the deepest line first.
    constexpr int kDepth = 5000;
    PTNODE *chain = ptPutSet(2);
    for (int i = 0; i < kDepth; i++) chain = ptPutNode(PT_LOGNOT, 9, chain, nullptr);
    ASSERT_EQ(ptPrint(chain), 0);
    ptDestroy(chain);
    std::vector<std::string> lines = zvtest::lines_of(zvtest::read_file("ptree.txt"));
    ASSERT_EQ(lines.size(), size_t(kDepth + 1));
    EXPECT_EQ(lines[0], std::string(kDepth + 1, ' ') + "PT_CONSTANT PT_VSET with 0 elements");
    EXPECT_EQ(lines[1], std::string(kDepth, ' ') + "PT_LOGNOT");
    EXPECT_EQ(lines[kDepth], " PT_LOGNOT");
}

// The dump's file is a name the engine makes up: a link under it is not
// written through.
TEST_F(PtreeTest, DumpDoesNotWriteThroughALink) {
    PTNODE *tree = nullptr;
    ASSERT_EQ(parse("a > 1", &tree), 0);
    zvtest::write_file("elsewhere.txt", "kept");
    ASSERT_EQ(symlink("elsewhere.txt", "ptree.txt"), 0);
    EXPECT_EQ(ptPrint(tree), -1);
    ptDestroy(tree);
    EXPECT_EQ(zvtest::read_file("elsewhere.txt"), "kept");
}

}  // namespace
