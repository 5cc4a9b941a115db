#include "tests/engine/expr/evalfix.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "engine/core/instance.h"
#include "engine/expr/eval.h"
#include "engine/expr/expr_services.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdbpt.h"

namespace evaltest {

Layout::Layout(std::vector<FieldDef> f, size_t nf) : fields(std::move(f)), nfixed(nf) {
    schema = zvfuzz::schema_map(fields);
    schema[1] = 1;  // no alignment
    names = zvfuzz::name_list(fields);
    for (size_t i = 0; i < nfixed; i++) fixlen += fields[i].len;
}

int32_t Layout::offset(const char *name) const {
    int32_t off = 0;
    for (size_t i = 0; i < nfixed; i++) {
        if (fields[i].name && strcmp(fields[i].name, name) == 0) return off;
        off += fields[i].len;
    }
    ADD_FAILURE() << "no fixed field " << name;
    return 0;
}

Bytes prefixed(int width, const std::string &text) {
    uint32_t n = uint32_t(text.size());
    Bytes b(reinterpret_cast<unsigned char *>(&n), reinterpret_cast<unsigned char *>(&n) + width);
    b.insert(b.end(), text.begin(), text.end());
    return b;
}

Bytes bytes(const std::string &text) { return Bytes(text.begin(), text.end()); }

Image &Image::put(const char *field, const Bytes &b) {
    int32_t off = layout->offset(field);
    EXPECT_LE(off + int32_t(b.size()), layout->fixlen) << field;
    memcpy(data.data() + off, b.data(), b.size());
    return *this;
}

const Layout &full_layout() {
    static const Layout l(
        {
            {"Flag", ZV_BOOL, 1},        {"Tiny", ZV_CHAR, 1},        {"UTiny", ZV_CHARU, 1},
            {"Short", ZV_INT2, 2},       {"UShort", ZV_INT2U, 2},     {"Qty", ZV_INT4, 4},
            {"Zero", ZV_INT4, 4},        {"Big", ZV_INT4U, 4},        {"Price", ZV_MONEY, 4},
            {"Born", ZV_DATE, 4},        {"At", ZV_TIME, 4},          {"Frac", ZV_SFLOAT, 4},
            {"Amount", ZV_DFLOAT, 8},    {"Num", ZV_NUMBER, 20},      {"Stamp", ZV_TIMES, 8},
            {"Blob", ZV_ARRAY, 6},       {"Cash", ZV_CURRENCY, 8},    {"Name", ZV_FSTRING, 12},
            {"PName", ZV_FPSTRING, 8},   {"Name2", ZV_F2STRING, 8},   {"Name4", ZV_F4STRING, 8},
            {"Long", ZV_BIGINT, 8},      {"ULong", ZV_UBIGINT, 8},    {"StampMs", ZV_TIMES_MS, 8},
            {"AtMs", ZV_TIME_MS, 4},     {"Low", ZV_INT4, 4},         {"Opt", ZV_INT4, 4},
            {"$NULFLD$", ZV_ARRAY, 4},   {"$ROWID$", ZV_BIGINT, 8},
            // The variable part.
            {"Note", ZV_STRING, 30},     {"PNote", ZV_PSTRING, 10},   {"Note2", ZV_2STRING, 10},
            {"Note4", ZV_4STRING, 10},
        },
        29);
    return l;
}

uint32_t date(int y, int m, int d) {
    ZVDATE v = 0;
    EXPECT_EQ(zvdbDatePack(&v, y, m, d), 0);
    return v;
}

double stamp(int y, int m, int d, int h, int mi, int s, int ms) {
    ZVDATETIME v = 0;
    EXPECT_EQ(zvdbDateTimePackMsec(&v, y, m, d, h, mi, s, ms), 0);
    return v;
}

Image full_image() {
    tagZVNUMBER num;
    EXPECT_EQ(zvdbStringToNumber("123.456", &num), 0);
    Image img(full_layout());
    img.set<uint8_t>("Flag", 7).set<int8_t>("Tiny", -5).set<uint8_t>("UTiny", 250);
    img.set<int16_t>("Short", -300).set<uint16_t>("UShort", 60000).set<int32_t>("Qty", 3);
    img.set<int32_t>("Zero", 0).set<uint32_t>("Big", 4000000000u).set<int32_t>("Price", 1234);
    img.set<uint32_t>("Born", date(2023, 1, 31)).set<uint32_t>("At", 12 * 3600u);
    img.set<float>("Frac", 0.5f).set<double>("Amount", 2.25).set("Num", num);
    img.set<double>("Stamp", stamp(2023, 1, 31, 6, 30, 0));
    img.put("Blob", Bytes{'a', 'b', 0, 'c', 'd', 1}).set<int64_t>("Cash", 15000);
    img.put("Name", bytes("abc")).put("PName", prefixed(1, "xyz")).put("Name2", prefixed(2, "hi"));
    img.put("Name4", prefixed(4, "four")).set<int64_t>("Long", -9000000000);
    img.set<uint64_t>("ULong", 18000000000000000000u);
    img.set<double>("StampMs", stamp(2023, 1, 31, 6, 30, 0, 250)).set<uint32_t>("AtMs", 45296789u);
    img.set<int32_t>("Low", INT32_MIN).set<int32_t>("Opt", 77);
    // Opt is visible field 26: bit 2 of the fourth flag byte.
    img.put("$NULFLD$", Bytes{0, 0, 0, 0x04}).set<int64_t>("$ROWID$", 4242);
    img.var(bytes(std::string("note", 5))).var(prefixed(1, "pn")).var(prefixed(2, "two")).var(prefixed(4, "four"));
    return img;
}

std::string text(const std::string &s) {
    std::string out = "TEXT";
    char b[8];
    for (unsigned char c : s) {
        snprintf(b, sizeof b, " %02x", c);
        out += b;
    }
    return out;
}

PTNODE *EvalTest::compile(const std::string &text, const Layout &l) {
    int kind = -1;
    void *t = cndxparse(const_cast<unsigned char *>(l.schema.data()), const_cast<unsigned char *>(l.names.data()),
                        text.c_str(), int32_t(text.size() + 1), &kind);
    EXPECT_NE(t, nullptr) << "does not parse: " << text;
    EXPECT_EQ(kind, 0);
    return static_cast<PTNODE *>(t);
}

int EvalTest::eval(const std::string &text, const Image &img, int *err) {
    PTNODE *t = compile(text, *img.layout);
    if (!t) return -1;
    int r = cndxeval(t, const_cast<unsigned char *>(img.data.data()), const_cast<unsigned char *>(img.layout->schema.data()),
                     img.layout->fixlen, int32_t(img.data.size()));
    if (err) *err = zvWNGV->exprerr;
    EXPECT_EQ(zv::stack_top(), 0) << text;
    zv::ptDestroy(t);
    return r;
}

std::string EvalTest::value_of(PTNODE *tree, const Image &img) {
    int rc = cndxrun(tree, const_cast<unsigned char *>(img.data.data()), const_cast<unsigned char *>(img.layout->schema.data()),
                     img.layout->fixlen, int32_t(img.data.size()));
    std::string out;
    if (rc) {
        out = "error " + std::to_string(rc);
    } else {
        EXPECT_EQ(zv::stack_top(), 1);
        const PTVALUE &v = *zv::stack_at(zv::stack_top() - 1);
        out = v.kind == PT_NULL ? "NULL" : exprtest::describe(v);
    }
    zv::stack_cut(0);
    return out;
}

std::string EvalTest::value(const std::string &text, const Image &img) {
    PTNODE *t = compile(text, *img.layout);
    if (!t) return "no tree";
    std::string out = value_of(t, img);
    zv::ptDestroy(t);
    return out;
}

}  // namespace evaltest
