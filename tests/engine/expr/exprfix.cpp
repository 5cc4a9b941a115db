#include "tests/engine/expr/exprfix.h"

#include <cstdio>
#include <cstring>

#include "engine/expr/parser.h"
#include "zarvo/zarvo.h"

namespace exprtest {

::testing::AssertionResult reads_copy_of(const PTRECINFO *ri, const unsigned char *schema) {
    if (!ri || !ri->schema || !schema) return ::testing::AssertionFailure() << "no layout or no schema";
    if (ri->schema == schema) return ::testing::AssertionFailure() << "the layout reads the caller's map";
    uint32_t entries;
    memcpy(&entries, schema + 12, 4);
    if (memcmp(ri->schema, schema, 16 + 6 * size_t(entries)) != 0)
        return ::testing::AssertionFailure() << "the copy differs from the map";
    return ::testing::AssertionSuccess();
}

int field_no(const char *name) {
    const auto &f = zvfuzz::expr_fields();
    for (size_t i = 0; i < f.size(); i++)
        if (f[i].name && strcmp(f[i].name, name) == 0) return int(i);
    ADD_FAILURE() << "no field " << name;
    return -1;
}

void ExprTest::SetUp() {
    ZvTest::SetUp();
    ASSERT_EQ(INTISAMX(16, 30, 4, 32, 32), 0);
    schema_ = zvfuzz::schema_map(zvfuzz::expr_fields());
    names_ = zvfuzz::name_list(zvfuzz::expr_fields());
}

void ExprTest::TearDown() {
    zv::ptDestroy(tree_);
    tree_ = nullptr;
    CLISAM();
    ZvTest::TearDown();
}

int ExprTest::parse(const std::string &text, PTNODE **tree) {
    return zv::zvcxparse(schema_.data(), names_.data(), text.c_str(), int32_t(text.size() + 1), tree);
}

const PTNODE *ExprTest::condition(const std::string &text) {
    zv::ptDestroy(tree_);
    tree_ = nullptr;
    int rc = parse(text, &tree_);
    EXPECT_EQ(rc, 0) << text;
    if (rc) return nullptr;
    EXPECT_EQ(zv::ptGetNodeType(tree_), PT_RECINFO) << text;
    EXPECT_EQ(zv::ptGetNodeType(zv::ptGetLeft(tree_)), PT_INFO) << text;
    return zv::ptGetRight(tree_);
}

std::string shape(const PTNODE *n) {
    if (!n) return "null";
    int kind = zv::ptGetNodeType(n);
    if (kind == PT_FIELD) return zvfuzz::expr_fields()[zv::ptGetField(n)].name;
    if (kind == PT_ISNULL || kind == PT_NOTNULL)
        return std::string(kind == PT_ISNULL ? "(ISNULL " : "(NOTNULL ") + zvfuzz::expr_fields()[zv::ptGetField(n)].name + ")";
    if (kind == PT_CONSTANT) {
        const PTVALUE *v = zv::ptGetValue(n);
        if (v->kind == PT_INTEGER) return std::to_string(v->v.integer);
        if (v->kind == PT_TEXT) return "'" + std::string(reinterpret_cast<const char *>(v->v.text), v->length) + "'";
        return std::string(zv::CmdName[v->kind]).substr(3);
    }
    std::string s = "(" + std::string(zv::CmdName[kind]).substr(3) + ":" + std::to_string(zv::ptGetExprType(n));
    if (const PTNODE *l = zv::ptGetLeft(n)) s += " " + shape(l);
    if (const PTNODE *r = zv::ptGetRight(n)) s += " " + shape(r);
    return s + ")";
}

std::string describe(const PTVALUE &v) {
    char buf[128] = "";
    int y = 0, m = 0, d = 0, h = 0, mi = 0, s = 0;
    switch (v.kind) {
    case PT_INTEGER: return "INTEGER " + std::to_string(v.v.integer);
    case PT_TIME: return "TIME " + std::to_string(v.v.u32);
    case PT_TIMEMS: return "TIMEMS " + std::to_string(v.v.u32);
    case PT_NUMBER:
        if (zvdbNumberToString(&v.v.number, buf, int32_t(sizeof buf))) return "NUMBER ?";
        return std::string("NUMBER ") + buf;
    case PT_TEXT: {
        std::string out = "TEXT";
        for (uint32_t i = 0; i < v.length; i++) {
            snprintf(buf, sizeof buf, " %02x", v.v.text[i]);
            out += buf;
        }
        return out;
    }
    case PT_DATE:
        if (zvdbDateUnpack(v.v.u32, &y, &m, &d)) return "DATE ?";
        snprintf(buf, sizeof buf, "DATE %d-%d-%d", y, m, d);
        return buf;
    case PT_STAMP:
        if (zvdbDateTimeUnpack(v.v.stamp, &y, &m, &d, &h, &mi, &s)) return "STAMP ?";
        snprintf(buf, sizeof buf, "STAMP %d-%d-%d %d:%d:%d", y, m, d, h, mi, s);
        return buf;
    default: return "kind " + std::to_string(v.kind);
    }
}

}  // namespace exprtest
