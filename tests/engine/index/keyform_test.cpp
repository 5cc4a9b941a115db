// Keys formed from records: numeric order of integer, serial, float and
// schema segments under the classic profile, the assembly of text and
// variable fields, absent segments, null keys and conditions, the position
// suffix of duplicate keys, the codes of bad input, and the hot path.
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "engine/expr/expr_services.h"
#include "engine/index/keyform.h"
#include "engine/isam/cidx.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"
#include "tests/engine/index/keyfix.h"
#include "tests/support/conditions.h"
#include "tests/support/engine.h"
#include "zarvo/zvdbpt.h"

namespace {

using keytest::Bytes;
using keytest::le;
using keytest::schema_block;

class KeyFormTest : public keytest::KeyTest {};

enum class Kind { Unsigned, Signed, Float };

struct Value {
    long double num;
    Bytes bytes;  // the field as the record holds it (host order)
};

// Random values of a field kind and width, with zero and the extremes,
// distinct and sorted by value.
std::vector<Value> values_of(Kind kind, int width, std::mt19937_64 &rng, bool big_endian = false) {
    std::vector<Value> v;
    auto add_bytes = [&](Bytes b, long double n) {
        if (big_endian) std::reverse(b.begin(), b.end());
        v.push_back({n, b});
    };
    auto add_int = [&](uint64_t raw) {
        Bytes b(static_cast<size_t>(width));
        for (int i = 0; i < width; i++) b[size_t(i)] = uint8_t(raw >> (8 * i));
        long double n;
        if (kind == Kind::Unsigned) {
            n = (long double)(width == 8 ? raw : raw & ((uint64_t(1) << (8 * width)) - 1));
        } else {
            int64_t s = int64_t(raw << (64 - 8 * width)) >> (64 - 8 * width);
            n = (long double)s;
        }
        add_bytes(b, n);
    };
    auto add_f32 = [&](float f) {
        if (!std::isnan(f) && !(f == 0 && std::signbit(f))) add_bytes(le(f), f);
    };
    auto add_f64 = [&](double d) {
        if (!std::isnan(d) && !(d == 0 && std::signbit(d))) add_bytes(le(d), d);
    };
    if (kind == Kind::Float && width == 4) {
        using L = std::numeric_limits<float>;
        for (float f : {0.0f, 1.0f, -1.0f, 2.5f, -2.5f, L::max(), L::lowest(), L::min(), -L::min(),
                        L::denorm_min(), -L::denorm_min(), L::infinity(), -L::infinity()})
            add_f32(f);
        for (int i = 0; i < 150; i++) {
            uint32_t raw = uint32_t(rng());
            float f;
            memcpy(&f, &raw, 4);
            add_f32(f);
            add_f32(float(int(raw % 2001) - 1000) / 8);
        }
    } else if (kind == Kind::Float) {
        using L = std::numeric_limits<double>;
        for (double d : {0.0, 1.0, -1.0, 2.5, -2.5, L::max(), L::lowest(), L::min(), -L::min(), L::denorm_min(),
                         -L::denorm_min(), L::infinity(), -L::infinity()})
            add_f64(d);
        for (int i = 0; i < 150; i++) {
            uint64_t raw = rng();
            double d;
            memcpy(&d, &raw, 8);
            add_f64(d);
            add_f64(double(int64_t(raw % 2001) - 1000) / 8);
        }
    } else {
        uint64_t top = width == 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * width)) - 1;
        for (uint64_t x : {uint64_t(0), uint64_t(1), top, top >> 1, (top >> 1) + 1, top - 1}) add_int(x);
        for (int i = 0; i < 200; i++) add_int(i % 3 ? rng() : rng() % 700);
    }
    std::sort(v.begin(), v.end(), [](const Value &a, const Value &b) { return a.num < b.num; });
    v.erase(std::unique(v.begin(), v.end(), [](const Value &a, const Value &b) { return a.num == b.num; }), v.end());
    return v;
}

struct NumCase {
    const char *name;
    int mode;
    int width;
    int type;  // schema field type; 0: a plain segment at offset 4
    Kind kind;
};

const NumCase kNumCases[] = {
    {"mode 1, 2 bytes", 1, 2, 0, Kind::Unsigned},   {"mode 1, 4 bytes", 1, 4, 0, Kind::Unsigned},
    {"mode 1, 8 bytes", 1, 8, 0, Kind::Unsigned},   {"mode 3, 4 bytes", 3, 4, 0, Kind::Unsigned},
    {"mode 3, 8 bytes", 3, 8, 0, Kind::Unsigned},   {"mode 8, 2 bytes", 8, 2, 0, Kind::Signed},
    {"mode 8, 4 bytes", 8, 4, 0, Kind::Signed},     {"mode 8, 8 bytes", 8, 8, 0, Kind::Signed},
    {"mode 9, 4 bytes", 9, 4, 0, Kind::Float},      {"mode 9, 8 bytes", 9, 8, 0, Kind::Float},
    {"ZV_INT2", 12, 2, ZV_INT2, Kind::Signed},      {"ZV_INT4", 12, 4, ZV_INT4, Kind::Signed},
    {"ZV_INT4U", 12, 4, ZV_INT4U, Kind::Unsigned},  {"ZV_BIGINT", 12, 8, ZV_BIGINT, Kind::Signed},
    {"ZV_UBIGINT", 14, 8, ZV_UBIGINT, Kind::Unsigned}, {"ZV_SFLOAT", 12, 4, ZV_SFLOAT, Kind::Float},
    {"ZV_DFLOAT", 13, 8, ZV_DFLOAT, Kind::Float},   {"ZV_MONEY", 12, 4, ZV_MONEY, Kind::Signed},
    {"ZV_CURRENCY", 12, 8, ZV_CURRENCY, Kind::Signed},
};

TEST_F(KeyFormTest, NumericFieldsSortByValueAscendingAndDescending) {
    std::mt19937_64 rng(20260101);
    int n = 0;
    for (const auto &c : kNumCases) {
        SCOPED_TRACE(c.name);
        std::string dname = "n" + std::to_string(n) + ".dat";
        std::string aname = "a" + std::to_string(n) + ".idx", dsname = "d" + std::to_string(n) + ".idx";
        n++;
        make_data(1, 24, dname.c_str());
        // A schema field lies behind a 3-byte array, aligned (alignment 8):
        // 2- and 4-byte fields at offset 4, 8-byte fields at offset 8.
        int off = 4;
        if (c.type) {
            set_schema(1, schema_block(8, 0, ' ', {{3, ZV_ARRAY}, {c.width, c.type}, {4, ZV_ARRAY}}));
            off = c.width == 8 ? 8 : 4;
        }
        int word0 = c.type ? 1 : 4;
        make_index(2, 1, c.width, 0, false, 0, ' ', aname.c_str());
        seg(2, 0, word0, c.width, c.mode);
        zvlfsegget(2, 1);
        make_index(3, 1, c.width, 0, false, 0, ' ', dsname.c_str());
        seg(3, 0, word0, c.width, c.mode | 16);
        zvlfsegget(3, 1);

        std::vector<Value> vals = values_of(c.kind, c.width, rng);
        std::vector<Bytes> asc, desc;
        for (const auto &v : vals) {
            Bytes rec(24, 0x5A);
            std::copy(v.bytes.begin(), v.bytes.end(), rec.begin() + off);
            asc.push_back(key(2, rec));
            desc.push_back(key(3, rec));
            ASSERT_EQ(asc.back().size(), size_t(c.width)) << "isam error " << isamerr();
            ASSERT_EQ(desc.back().size(), size_t(c.width));
        }
        for (size_t i = 1; i < vals.size(); i++) {
            EXPECT_LT(asc[i - 1], asc[i]) << double(vals[i - 1].num) << " before " << double(vals[i].num);
            EXPECT_GT(desc[i - 1], desc[i]) << double(vals[i - 1].num) << " after " << double(vals[i].num);
        }
        // Added in a shuffled order, the keys come back in value order.
        std::vector<uint32_t> order(vals.size());
        for (size_t i = 0; i < order.size(); i++) order[i] = uint32_t(i + 1);
        std::shuffle(order.begin(), order.end(), rng);
        for (uint32_t p : order) {
            ASSERT_EQ(ADDKEY(2, asc[p - 1].data(), p, 0), 0);
            ASSERT_EQ(ADDKEY(3, desc[p - 1].data(), p, 0), 0);
        }
        std::vector<uint32_t> up = positions(2), down = positions(3);
        std::sort(order.begin(), order.end());
        EXPECT_EQ(up, order);
        std::reverse(order.begin(), order.end());
        EXPECT_EQ(down, order);
        ASSERT_EQ(CLSFIL(2, 0), 0);
        ASSERT_EQ(CLSFIL(3, 0), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
    }
}

TEST_F(KeyFormTest, WithoutTheProfileBitRecordBytesAreKept) {
    zvtest::stop_engine();
    ASSERT_EQ(INTREEX(12, 20, 4, 8, 0), 0);
    std::mt19937_64 rng(5);
    struct Case {
        int mode, width;
        Kind kind;
    };
    const Case cases[] = {{8, 4, Kind::Signed}, {1, 8, Kind::Unsigned}, {9, 8, Kind::Float}};
    int n = 0;
    for (const auto &c : cases) {
        std::string dname = "b" + std::to_string(n) + ".dat", iname = "b" + std::to_string(n) + ".idx";
        n++;
        make_data(1, 16, dname.c_str());
        make_index(2, 1, c.width, 0, false, 0, ' ', iname.c_str());
        seg(2, 0, 0, c.width, c.mode);
        zvlfsegget(2, 1);
        std::vector<Value> vals = values_of(c.kind, c.width, rng, true);
        Bytes prev;
        for (const auto &v : vals) {
            Bytes rec(16, 0);
            std::copy(v.bytes.begin(), v.bytes.end(), rec.begin());
            Bytes k = key(2, rec);
            ASSERT_EQ(k.size(), size_t(c.width));
            if (!prev.empty()) {
                EXPECT_LT(prev, k) << "mode " << c.mode << " value " << double(v.num);
            }
            prev = k;
        }
        // A little-endian field keeps its bytes: 256 sorts below 1.
        if (c.kind != Kind::Float) {
            Bytes one(16, 0), big(16, 0);
            one[0] = 1;
            big[1] = 1;
            EXPECT_LT(key(2, big), key(2, one));
        }
        ASSERT_EQ(CLSFIL(2, 0), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
    }
}

// ---- Assembly ------------------------------------------------------------------

TEST_F(KeyFormTest, TextFieldsAreCopiedWithoutPrefixCutAndPadded) {
    make_data(1, 40);
    // Field 0: 4-byte integer; 1: ZV_PSTRING; 2: ZV_STRING (delimiter ';');
    // 3: ZV_2STRING; 4: ZV_FSTRING. Pad byte '#', alignment 1.
    set_schema(1, schema_block(1, ';', '#', {{4, ZV_INT4}, {9, ZV_PSTRING}, {8, ZV_STRING}, {6, ZV_2STRING},
                                            {5, ZV_FSTRING}}));
    Bytes rec(40, 0);
    const Bytes fields = {1, 2, 3, 4,                                  // 0..3
                          3, 'a', 'b', 'c', 'x', 'x', 'x', 'x', 'x',   // 4..12
                          'l', 'o', 'n', 'g', 'e', 'r', 't', 'x',      // 13..20
                          3, 0, 'd', 'e', 'f', 'x',                    // 21..26
                          'h', 'i', ';', 'j', 'k'};                    // 27..31
    std::copy(fields.begin(), fields.end(), rec.begin());
    struct Case {
        const char *name;
        int field, len, mode;
        Bytes out;
    };
    const Case cases[] = {
        {"ZV_PSTRING of 3 in 8 bytes", 1, 8, 12, {'a', 'b', 'c', '#', '#', '#', '#', '#'}},
        {"delimited field longer than its segment", 2, 4, 12, {'l', 'o', 'n', 'g'}},
        {"ZV_2STRING", 3, 5, 12, {'d', 'e', 'f', '#', '#'}},
        {"ZV_FSTRING as fixed bytes", 4, 5, 12, {'h', 'i', ';', 'j', 'k'}},
        {"ZV_FSTRING as text in mode 14", 4, 5, 14, {'h', 'i', '#', '#', '#'}},
        {"ZV_FSTRING upper-cased in mode 15", 4, 5, 15, {'H', 'I', '#', '#', '#'}},
    };
    for (const auto &c : cases) {
        make_index(2, 1, c.len);
        seg(2, 0, c.field, c.len, c.mode);
        zvlfsegget(2, 1);
        EXPECT_EQ(key(2, rec), c.out) << c.name;
        ASSERT_EQ(CLSFIL(2, 0), 0);
    }
}

TEST_F(KeyFormTest, VariableFieldsAreFoundBehindTheFixedPart) {
    make_data(1, 6);
    Bytes rec = {'F', 'I', 'X', 'E', 'D', '!', 'o', 'n', 'e', 0, 't', 'w', 'o', 'o', 'o', 0, 's', 'h'};
    make_index(2, 1, 8);
    // Without a schema every variable field ends with the delimiter 0; the
    // pad byte is a blank.
    seg(2, 0, 1, 4, 5);
    seg(2, 1, 0, 4, 4);
    zvlfsegget(2, 2);
    EXPECT_EQ(key(2, rec), (Bytes{'T', 'W', 'O', 'O', 'o', 'n', 'e', ' '}));
    // A third variable field running past the record without its delimiter.
    seg(2, 0, 2, 8, 4);
    zvlfsegget(2, 1);
    EXPECT_TRUE(key(2, rec).empty());
    EXPECT_EQ(isamerr(), 445);
    // With a schema the walk follows the field types: a ZV_PSTRING first.
    set_schema(1, schema_block(1, 0, '.', {{6, ZV_ARRAY}, {4, ZV_PSTRING}, {4, ZV_STRING}}));
    Bytes rec2 = {'F', 'I', 'X', 'E', 'D', '!', 2, 'p', 'q', 'r', 's', 0};
    seg(2, 0, 1, 8, 4);
    EXPECT_EQ(key(2, rec2), (Bytes{'r', 's', '.', '.', '.', '.', '.', '.'}));
}

// Schema segments find their fields where a walk of the schema puts them
// (alignment from the record's start, repeated entries counted one by one),
// also after the data file's schema block was replaced by another layout.
TEST_F(KeyFormTest, SchemaSegmentsFollowTheSchemaInForce) {
    make_data(1, 22);
    // Alignment 4: a 1 (0), INT4 (padded to 4), b 3 (8), c and d, one entry
    // repeated (11, 12), INT4 (padded to 16), e 2 (20).
    Bytes aligned = schema_block(4, 0, ' ', {{1, ZV_ARRAY}, {4, ZV_INT4}, {3, ZV_ARRAY}, {1, ZV_ARRAY},
                                             {4, ZV_INT4}, {2, ZV_ARRAY}});
    aligned[16 + 6 * 3 + 4] = 1;  // the fourth entry stands for two fields
    uint32_t fields = 7;
    memcpy(&aligned[8], &fields, 4);
    Bytes rec(22);
    for (size_t i = 0; i < rec.size(); i++) rec[i] = uint8_t(i);
    struct Case {
        int field, len;
        Bytes aligned, packed;  // the key under each schema
    };
    // Without alignment: a 0, INT4 1, b 5, c 8, d 9, INT4 10, e 14.
    const Case cases[] = {
        {2, 3, {8, 9, 10}, {5, 6, 7}},
        {3, 1, {11}, {8}},
        {4, 1, {12}, {9}},
        {6, 2, {20, 21}, {14, 15}},
    };
    Bytes packed = aligned;
    packed[1] = 1;
    for (const Bytes *schema : {&aligned, &packed}) {
        set_schema(1, *schema);
        for (const Case &c : cases) {
            make_index(2, 1, c.len);
            seg(2, 0, c.field, c.len, 12);
            zvlfsegget(2, 1);
            EXPECT_EQ(key(2, rec), schema == &aligned ? c.aligned : c.packed) << "field " << c.field;
            ASSERT_EQ(CLSFIL(2, 0), 0);
        }
    }
}

TEST_F(KeyFormTest, AbsentSegmentsFollowTheAssemblyMode) {
    make_data(1, 20);
    make_index(2, 1, 8);
    seg(2, 0, 0, 4, 0);
    seg(2, 1, 10, 4, 0);
    zvlfsegget(2, 2);
    const Bytes full = {'a', 'b', 'c', 'd', 0, 0, 0, 0, 0, 0, 'w', 'x', 'y', 'z'};
    const Bytes first(full.begin(), full.begin() + 6);
    Bytes k(8, '-');
    EXPECT_EQ(zv::zvasskey(2, full.data(), k.data(), int32_t(full.size()), zv::kAsmProbe), 8);
    EXPECT_EQ(zv::zvasskey(2, first.data(), k.data(), int32_t(first.size()), zv::kAsmProbe), -2);
    // No segment present: the record starts beyond both.
    seg(2, 0, 8, 2, 0);
    EXPECT_EQ(zv::zvasskey(2, first.data(), k.data(), int32_t(first.size()), zv::kAsmProbe), -3);
    seg(2, 0, 0, 4, 0);
    // Overlay: the present segment is copied, the absent one keeps its bytes.
    k.assign(8, '-');
    EXPECT_EQ(zv::zvasskey(2, first.data(), k.data(), int32_t(first.size()), zv::kAsmOverlay), 8);
    EXPECT_EQ(k, (Bytes{'a', 'b', 'c', 'd', '-', '-', '-', '-'}));
    // A complete record must hold every segment.
    EXPECT_EQ(zv::zvasskey(2, first.data(), k.data(), int32_t(first.size()), zv::kAsmComplete), 0);
    EXPECT_EQ(isamerr(), 445);
}

// A function of conditions that counts its calls and answers 0.
int g_condition_calls = 0;
void noted(void **, void *result) {
    g_condition_calls++;
    int32_t zero = 0;
    memcpy(result, &zero, 4);
}

TEST_F(KeyFormTest, NullKeysAndFalseConditionsGiveNoKey) {
    make_data(1, 10);
    make_index(2, 1, 4, 0, false, 1, ' ');  // null keys suppressed, empty character blank
    seg(2, 0, 2, 4, 2);
    zvlfsegget(2, 1);
    Bytes blank = {'x', 'x', ' ', ' ', ' ', ' ', 'x', 'x', 'x', 'x'};
    ierr(99, 0);
    EXPECT_TRUE(key(2, blank).empty());
    EXPECT_EQ(isamerr(), 0);
    Bytes some = blank;
    some[3] = 'q';
    EXPECT_EQ(key(2, some), (Bytes{' ', 'Q', ' ', ' '}));

    // A conditional index needs a schema; a false condition gives no key.
    ASSERT_EQ(zvlfsegput(2, -1, 0x10, ' ', 1), 0);
    EXPECT_TRUE(key(2, some).empty());
    EXPECT_EQ(isamerr(), 199);
    set_schema(1, schema_block(1, 0, ' ', {{10, ZV_ARRAY}}));
    // The data file has no condition for the index: no key, 598.
    EXPECT_TRUE(key(2, some).empty());
    EXPECT_EQ(isamerr(), 598);
    const int rel = zv::isam_entry(2)->relidx;
    ASSERT_EQ(zvtest::install_conditions(1, {{rel, "1"}}), 0);
    EXPECT_EQ(key(2, some).size(), 4u);
    ASSERT_EQ(udfAdd("NOTED", noted, ZV_INT4, nullptr, 0), 0);
    ASSERT_EQ(zvtest::install_conditions(1, {{rel, "NOTED()"}}), 0);
    g_condition_calls = 0;
    EXPECT_TRUE(key(2, some).empty());
    EXPECT_EQ(isamerr(), 0);
    EXPECT_EQ(g_condition_calls, 1);
    // frmkeyx with bit 0 skips the condition.
    Bytes k(8, 0);
    EXPECT_EQ(frmkeyx(2, some.data(), k.data(), 1, int32_t(some.size()), 1), 4);
    EXPECT_EQ(g_condition_calls, 1);
    ASSERT_EQ(zvtest::install_conditions(1, {{rel, "1 / 0"}}), 0);
    EXPECT_TRUE(key(2, some).empty());
    EXPECT_EQ(isamerr(), 598);
}

// An index with a condition of its own (flag 0x20) evaluates its own
// expression, or hands the record to its callback filter.
TEST_F(KeyFormTest, AnIndexWithItsOwnConditionUsesIt) {
    make_data(1, 10);
    make_index(2, 1, 4, 0, false, 0x20);
    seg(2, 0, 0, 4, 0);
    set_schema(1, schema_block(1, 0, ' ', {{1, ZV_CHARU}, {9, ZV_ARRAY}}));
    const Bytes rec = {7, 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j'};
    FCB *ix = idxtest::fcb_of(2);
    // No condition installed: no key, 598.
    EXPECT_TRUE(key(2, rec).empty());
    EXPECT_EQ(isamerr(), 598);
    struct Case {
        const char *text;
        size_t keylen;
        int err;
    };
    const Case cases[] = {{"1", 4, 0}, {"0", 0, 0}, {"1 / 0", 0, 598}, {"@own", 4, 0}};
    zvtest::EngineOutput out;
    for (const Case &c : cases) {
        void *tree = nullptr;
        int kind = -1;
        ASSERT_EQ(testparse(1, c.text, &tree, &kind), 1) << c.text;
        ix->fltr = tree;
        ix->fltrkind = kind;
        ierr(0, 0);
        EXPECT_EQ(key(2, rec).size(), c.keylen) << c.text;
        EXPECT_EQ(isamerr(), c.err) << c.text;
        zv::zvfreecidx(tree, kind);
        ix->fltr = nullptr;
        ix->fltrkind = 0;
    }
    // Only the callback filter went to the callback.
    EXPECT_EQ(out.text(), " zvfiltercb: @own\n zvfiltercb_uninit: @own\n");
}

TEST_F(KeyFormTest, DuplicateKeysCarryTheirPositionMostSignificantByteFirst) {
    make_data(1, 8);
    make_index(2, 1, 4 + 4, 1);
    seg(2, 0, 0, 4, 0);
    zvlfsegget(2, 1);
    EXPECT_EQ(GETFIL(2, 1), 8);
    const Bytes rec = {'k', 'e', 'y', 's', 0, 0, 0, 0};
    EXPECT_EQ(key(2, rec, 0x01020304), (Bytes{'k', 'e', 'y', 's', 0x01, 0x02, 0x03, 0x04}));
    Bytes t = {'k', 'e', 'y', 's', 9, 9, 9, 9};
    ASSERT_NE(TFRMKEY(2, t.data()), nullptr);
    EXPECT_EQ(t, (Bytes{'k', 'e', 'y', 's', 0, 0, 0, 0}));
    t = {'k', 'e', 'y', 's', 9, 9, 9, 9};
    ASSERT_NE(lTFRMKEY(2, t.data()), nullptr);
    EXPECT_EQ(t, (Bytes{'k', 'e', 'y', 's', 0xFF, 0xFF, 0xFF, 0xFF}));
    ASSERT_EQ(CLSFIL(2, 0), 0);

    // 8-byte positions: the high word first.
    make_index(3, 1, 4 + 8, 1, true, 0, ' ', "w.idx");
    seg(3, 0, 0, 4, 0);
    zvlfsegget(3, 1);
    EXPECT_EQ(key(3, rec, 0x05060708, 0x01020304),
              (Bytes{'k', 'e', 'y', 's', 1, 2, 3, 4, 5, 6, 7, 8}));
    Bytes w(12, 9);
    ASSERT_NE(lTFRMKEY(3, w.data()), nullptr);
    EXPECT_EQ(Bytes(w.begin() + 4, w.end()), Bytes(8, 0xFF));
    // Duplicates of one record value, read back in position order.
    for (uint32_t p : {7u, 3u, 5u}) {
        zvSETHGH(0);
        Bytes k = key(3, rec, p);
        ASSERT_EQ(ADDKEY(3, k.data(), p, 0), 0);
    }
    EXPECT_EQ(positions(3), (std::vector<uint32_t>{3, 5, 7}));
}

TEST_F(KeyFormTest, ReverseTransformRestoresTheFields) {
    make_data(1, 16);
    make_index(2, 1, 4 + 8 + 4, 1);
    seg(2, 0, 0, 4, 8);
    seg(2, 1, 4, 8, 9 | 16);
    zvlfsegget(2, 2);
    Bytes rec = le<int32_t>(-77);
    Bytes d = le<double>(-3.25);
    rec.insert(rec.end(), d.begin(), d.end());
    rec.resize(16, 0);
    Bytes k = key(2, rec, 42);
    ASSERT_EQ(k.size(), 16u);
    ASSERT_NE(uTFRMKEY(2, k.data()), nullptr);
    EXPECT_EQ(Bytes(k.begin(), k.begin() + 12), Bytes(rec.begin(), rec.begin() + 12));
    EXPECT_EQ(Bytes(k.begin() + 12, k.end()), (Bytes{0, 0, 0, 42}));
    // A segment that cannot be undone leaves its code in both error words.
    seg(2, 1, 4, 8, 6);
    EXPECT_EQ(uTFRMKEY(2, k.data()), nullptr);
    EXPECT_EQ(zvGetUserErrorCode(), 446);
    EXPECT_EQ(isamerr(), 446);
}

TEST_F(KeyFormTest, BadInputGivesItsCode) {
    make_data(1, 8);
    make_index(2, 1, 4);
    seg(2, 0, 0, 4, 0);
    zvlfsegget(2, 1);
    const Bytes rec = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    Bytes k(16, 0);
    auto form = [&](int keyno, const void *r, void *out, int32_t len) {
        ierr(0, 0);
        int32_t n = frmkey(keyno, r, out, 1, len);
        return std::make_pair(n, isamerr());
    };
    EXPECT_EQ(form(2, rec.data(), nullptr, 8), std::make_pair(0, 80));
    EXPECT_EQ(form(-1, rec.data(), k.data(), 8), std::make_pair(0, 80));
    EXPECT_EQ(form(19, rec.data(), k.data(), 8), std::make_pair(0, 80));  // no map entry names a data file
    EXPECT_EQ(form(5000, rec.data(), k.data(), 8), std::make_pair(0, 80));
    EXPECT_EQ(form(2, rec.data(), k.data(), 0), std::make_pair(0, 445));
    EXPECT_EQ(form(2, rec.data(), k.data(), 3), std::make_pair(0, 445));
    EXPECT_EQ(form(2, nullptr, k.data(), 8), std::make_pair(0, 445));
    EXPECT_EQ(form(2, rec.data(), k.data(), -8), std::make_pair(0, 634));
    EXPECT_EQ(TFRMKEY(2, nullptr), nullptr);
    EXPECT_EQ(isamerr(), 80);
    // A segment longer than the key.
    seg(2, 0, 0, 8, 0);
    EXPECT_EQ(form(2, rec.data(), k.data(), 8), std::make_pair(0, 153));
    // Schema segments without a schema, and one field beyond it.
    seg(2, 0, 1, 4, 12);
    EXPECT_EQ(form(2, rec.data(), k.data(), 8), std::make_pair(0, 199));
    set_schema(1, schema_block(1, 0, ' ', {{4, ZV_ARRAY}, {4, ZV_ARRAY}}));
    seg(2, 0, 2, 4, 12);
    EXPECT_EQ(form(2, rec.data(), k.data(), 8), std::make_pair(0, 433));
    // A serial segment of a file whose serial field is not known.
    seg(2, 0, 0, 4, 257);
    EXPECT_EQ(form(2, rec.data(), k.data(), 8), std::make_pair(0, 634));
    idxtest::fcb_of(1)->serpos = 5;
    EXPECT_EQ(form(2, rec.data(), k.data(), 8), std::make_pair(4, 0));
    EXPECT_EQ(Bytes(k.begin(), k.begin() + 4), (Bytes{'h', 'g', 'f', 'e'}));
    // The data file must be open.
    seg(2, 0, 0, 4, 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    EXPECT_EQ(form(2, rec.data(), k.data(), 8).first, 0);
    EXPECT_EQ(isamerr(), 26);
}

TEST_F(KeyFormTest, UnicodeSegmentsAnswerThatNoCollationExists) {
    make_data(1, 8);
    make_index(2, 1, 4);
    seg(2, 0, 0, 4, 128);
    zvlfsegget(2, 1);
    const Bytes rec = {'a', 0, 'b', 0, 'c', 0, 0, 0};
    EXPECT_TRUE(key(2, rec).empty());
    EXPECT_EQ(isamerr(), 694);
    // A wide-character schema field: the segment becomes a Unicode one.
    set_schema(1, schema_block(1, 0, ' ', {{8, 185}}));
    seg(2, 0, 0, 4, 12);
    EXPECT_TRUE(key(2, rec).empty());
    EXPECT_EQ(isamerr(), 694);
    EXPECT_EQ(zvgetseginfo(2, 0, 2), 12 | 128);
    EXPECT_EQ(zvUPDTICU(), 694);
    EXPECT_EQ(zvGetUserErrorCode(), 694);
    EXPECT_EQ(isamerr(), 694);
}

TEST_F(KeyFormTest, SegmentCallsFillTheKeyMap) {
    make_data(1, 8);
    make_index(2, 1, 8);
    make_index(3, 1, 8, 0, false, 0, ' ', "k3.idx");
    seg(2, 0, 5, 3, 2);
    seg(2, 1, 0, 5, 64);
    EXPECT_EQ(zvgetseginfo(2, 0, 1), 3);
    EXPECT_EQ(zvgetseginfo(2, 0, 2), 2);
    EXPECT_EQ(zvgetseginfo(2, 0, 3), 5);
    EXPECT_EQ(zvgetseginfo(2, 0, 4), -1);
    EXPECT_EQ(zvgetseginfo(2, 17, 1), -1);
    EXPECT_EQ(zvgetseginfo(4000, 0, 1), -1);
    zvlfsegget(2, 1);
    EXPECT_EQ(zvgetseginfo(2, 1, 3), 0xFFFF);
    EXPECT_EQ(zvlfsegput(2, 16, 0, 0, 0), 446);
    EXPECT_EQ(zvlfsegput(-3, 0, 0, 0, 0), 80);
    // The data file lists its indexes; header modes read the map.
    EXPECT_EQ(GETFIL(2, 4), 1);
    const uint16_t *idx = zv::isam_actlist(1);
    int32_t list[3] = {int16_t(idx[0]), int16_t(idx[1]), int16_t(idx[2])};
    EXPECT_EQ(list[0], 2);
    EXPECT_EQ(list[1], 3);
    EXPECT_EQ(list[2], -1);
}

TEST_F(KeyFormTest, FormingAKeyTakesNoMemoryAndMakesNoCall) {
    make_data(1, 32);
    set_schema(1, schema_block(8, 0, ' ', {{4, ZV_INT4}, {8, ZV_DFLOAT}, {6, ZV_PSTRING}, {8, ZV_FSTRING}}));
    make_index(2, 1, 4 + 8 + 5 + 4 + 4, 1);
    seg(2, 0, 0, 4, 12);
    seg(2, 1, 1, 8, 12 | 16);
    seg(2, 2, 2, 5, 13);
    seg(2, 3, 24, 4, 8);
    zvlfsegget(2, 4);
    Bytes rec(32, 0);
    rec[16] = 3;
    rec[17] = 'a';
    INSTGV *g = zvWNGV;
    zv::fault_reset();
    const uint64_t allocs = zv::platform_alloc_count();
    int32_t free_before[zv::kFreeLists];
    for (int l = 0; l < zv::kFreeLists; l++) free_before[l] = g->lists[l].free;
    long calls = 0;
    for (int k = 0; k < int(zv::IoKind::Count); k++) calls += zv::io_calls(zv::IoKind(k));
    Bytes out(32, 0);
    for (int32_t i = 0; i < 500; i++) {
        memcpy(&rec[0], &i, 4);
        ASSERT_EQ(frmkey(2, rec.data(), out.data(), uint32_t(i + 1), 32), 25);
    }
    long after = 0;
    for (int k = 0; k < int(zv::IoKind::Count); k++) after += zv::io_calls(zv::IoKind(k));
    EXPECT_EQ(after, calls);
    EXPECT_EQ(zv::platform_alloc_count(), allocs);
    for (int l = 0; l < zv::kFreeLists; l++) EXPECT_EQ(g->lists[l].free, free_before[l]) << "list " << l;
}

TEST_F(KeyFormTest, FieldWalksStayInsideTheRecord) {
    const Bytes schema = schema_block(4, ';', ' ', {{2, ZV_INT2}, {4, ZV_INT4}, {3, ZV_STRING}, {2, ZV_2STRING},
                                                    {4, ZV_INT4}});
    // Fixed part of 8 bytes: INT2 at 0, INT4 aligned to 4.
    Bytes rec = {1, 0, 0, 0, 2, 0, 0, 0, 'a', 'b', ';', 2, 0, 'x', 'y', 9, 9, 9, 9};
    int32_t len = 0;
    int var = -1;
    const unsigned char *p = zv::zvfldadr(rec.data(), schema.data(), &len, &var, int32_t(rec.size()), 8, 1);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p - rec.data(), 4);
    EXPECT_EQ(len, 4);
    EXPECT_EQ(var, 0);
    p = zv::zvfldadr(rec.data(), schema.data(), &len, &var, int32_t(rec.size()), 8, 4);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p - rec.data(), 15);
    EXPECT_EQ(var, 1);
    EXPECT_EQ(zv::zvfldadr(rec.data(), schema.data(), &len, &var, int32_t(rec.size()), 8, 5), nullptr);
    EXPECT_EQ(zvGetUserErrorCode(), 433);
    // A length prefix that claims more than the record holds.
    Bytes cut(rec.begin(), rec.begin() + 14);
    cut[11] = 200;
    EXPECT_EQ(zv::zvfldadr(cut.data(), schema.data(), &len, &var, int32_t(cut.size()), 8, 4), nullptr);
    EXPECT_EQ(zvGetUserErrorCode(), 445);
    EXPECT_EQ(zv::zvwalkfld(ZV_STRING, rec.data() + 8, rec.data() + 9, ';'), 2);  // no delimiter: to the end
    EXPECT_EQ(zv::zvwalkfld(ZV_PSTRING, rec.data() + 11, rec.data() + 18, 0), 3);
    EXPECT_EQ(zv::zvwalkfld(185, rec.data() + 13, rec.data() + 18, 0), 7);   // no zero unit: past the end
}

// A JSON value in the variable part takes its u32 length and the text; an
// extended float its schema length.
TEST_F(KeyFormTest, FieldWalksStepOverJsonAndExtendedFloatValues) {
    const Bytes schema = schema_block(1, 0, ' ', {{4, ZV_INT4}, {4, ZV_JSON}, {10, ZV_EFLOAT}, {4, ZV_INT4}});
    Bytes rec = {7, 0, 0, 0, 5, 0, 0, 0, 'h', 'e', 'l', 'l', 'o'};
    rec.resize(rec.size() + 10, 0xEE);
    for (uint8_t b : {1, 2, 3, 4}) rec.push_back(b);
    int32_t len = 0;
    int var = 0;
    const unsigned char *p = zv::zvfldadr(rec.data(), schema.data(), &len, &var, int32_t(rec.size()), 4, 2);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p - rec.data(), 13) << "after the JSON value";
    p = zv::zvfldadr(rec.data(), schema.data(), &len, &var, int32_t(rec.size()), 4, 3);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p - rec.data(), 23) << "after the extended float";
    EXPECT_EQ(p[0], 1);
    EXPECT_EQ(zv::zvwalkfld(ZV_JSON, rec.data() + 4, rec.data() + rec.size() - 1, 0), 9);
}

}  // namespace
