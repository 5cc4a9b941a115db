// Numeric fields retyped by a full copy: every value reaches its new type
// converted, and a value the new type cannot hold ends the alteration with
// the table as it was.
//
// The expected values come from a model of their own: each value is kept
// as the exact decimal it was written as (in ten-thousandths) or, in a
// float field, as the double the field holds; what each type keeps of it
// is written here from the types' ranges and rounding rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tests/recapi/schema/alterfix.h"

namespace {

using namespace schematest;
using i128 = __int128;

constexpr i128 kUnit = 10000;  // ten-thousandths in one

const i128 kInt64Min = i128(INT64_MIN), kInt64Max = i128(INT64_MAX);

bool is_float(int32_t type) { return type == ZV_SFLOAT || type == ZV_DFLOAT; }

// The range of an integer type.
bool integer_range(int32_t type, i128 *lo, i128 *hi) {
    switch (type) {
    case ZV_CHAR: *lo = -128, *hi = 127; return true;
    case ZV_INT2: *lo = -32768, *hi = 32767; return true;
    case ZV_INT4: *lo = INT32_MIN, *hi = INT32_MAX; return true;
    case ZV_CHARU: *lo = 0, *hi = 255; return true;
    case ZV_INT2U: *lo = 0, *hi = 65535; return true;
    case ZV_INT4U: *lo = 0, *hi = UINT32_MAX; return true;
    case ZV_BIGINT: *lo = kInt64Min, *hi = kInt64Max; return true;
    case ZV_UBIGINT: *lo = 0, *hi = UINT64_MAX; return true;
    default: return false;
    }
}

// "-123.4567" for a value in ten-thousandths.
std::string decimal(i128 units) {
    const bool neg = units < 0;
    unsigned __int128 mag = neg ? 0 - (unsigned __int128)units : (unsigned __int128)units;
    std::string digits;
    do {
        digits.insert(digits.begin(), char('0' + int(mag % 10)));
        mag /= 10;
    } while (mag);
    while (digits.size() < 5) digits.insert(digits.begin(), '0');
    digits.insert(digits.end() - 4, '.');
    return (neg ? "-" : "") + digits;
}

// A plain decimal text with at most four decimals, in ten-thousandths.
bool parse_units(const std::string &text, i128 *out) {
    size_t p = 0;
    const bool neg = !text.empty() && text[0] == '-';
    if (neg) p++;
    if (p == text.size()) return false;
    i128 v = 0;
    int places = -1;
    for (; p < text.size(); p++) {
        const char c = text[p];
        if (c == '.' && places < 0) {
            places = 0;
            continue;
        }
        if (c < '0' || c > '9') return false;
        if (places >= 0 && ++places > 4) return false;
        v = v * 10 + (c - '0');
    }
    for (int k = places < 0 ? 0 : places; k < 4; k++) v *= 10;
    *out = neg ? -v : v;
    return true;
}

// A value as a field of its source type holds it.
struct Value {
    std::string text;  // as written, by zvdbSetFieldAsString
    bool isfloat = false;
    double d = 0;      // float fields
    i128 units = 0;    // other fields, in ten-thousandths
};

// The value `text` becomes in a field of `type`; false when the field
// cannot hold it, or with `exact` not exactly.
bool hold(int32_t type, const std::string &text, bool exact, Value *v) {
    v->text = text;
    v->isfloat = is_float(type);
    if (v->isfloat) {
        v->d = std::strtod(text.c_str(), nullptr);
        if (type == ZV_SFLOAT) v->d = double(float(v->d));
        if (!exact) return true;
        i128 units = 0;
        return text.find('.') == std::string::npos && parse_units(text, &units) && std::fabs(v->d) < 0x1p100 &&
               i128(v->d) * kUnit == units;
    }
    if (!parse_units(text, &v->units)) return false;
    i128 lo = 0, hi = 0;
    if (integer_range(type, &lo, &hi)) return v->units % kUnit == 0 && v->units >= lo * kUnit && v->units <= hi * kUnit;
    if (type == ZV_MONEY) return v->units % 100 == 0 && v->units / 100 >= INT32_MIN && v->units / 100 <= INT32_MAX;
    if (type == ZV_CURRENCY) return v->units >= kInt64Min && v->units <= kInt64Max;
    return type == ZV_NUMBER;
}

double as_double(const Value &v) { return v.isfloat ? v.d : std::strtod(decimal(v.units).c_str(), nullptr); }

// The value a double becomes in units of 10^-places, rounded half away
// from zero; false for NaN and the infinities.
bool rounded(double d, double scale, i128 *out) {
    if (!std::isfinite(d)) return false;
    const double x = std::round(d * scale);
    if (std::fabs(x) >= 0x1p100) return false;
    *out = i128(x);
    return true;
}

// What a field of type `type` keeps of v: its integer part for integer
// types, hundredths for money, ten-thousandths for currency (in *whole);
// false when v does not fit the type.
bool keeps(int32_t type, const Value &v, i128 *whole) {
    i128 lo = 0, hi = 0;
    if (integer_range(type, &lo, &hi)) {
        if (v.isfloat) {
            if (!std::isfinite(v.d) || std::fabs(v.d) >= 0x1p100) return false;
            *whole = i128(std::trunc(v.d));
        } else {
            *whole = v.units / kUnit;
        }
        return *whole >= lo && *whole <= hi;
    }
    switch (type) {
    case ZV_MONEY:
        if (v.isfloat && !rounded(v.d, 100.0, whole)) return false;
        if (!v.isfloat) *whole = v.units / 100;
        return *whole >= INT32_MIN && *whole <= INT32_MAX;
    case ZV_CURRENCY:
        if (v.isfloat && !rounded(v.d, 10000.0, whole)) return false;
        if (!v.isfloat) *whole = v.units;
        return *whole >= kInt64Min && *whole <= kInt64Max;
    case ZV_SFLOAT: {
        const double d = as_double(v);
        return !std::isfinite(d) || std::fabs(d) <= double(std::numeric_limits<float>::max());
    }
    case ZV_DFLOAT: return true;
    default: return !v.isfloat || std::fabs(v.d) < 1e124;  // ZV_NUMBER: below 100^62
    }
}

struct NumericType {
    int32_t type;
    const char *name;
    std::vector<const char *> values;  // extremes, negatives, zero, fractions
    std::vector<const char *> edges;   // the ends of its range
};

const std::vector<NumericType> &numeric_types() {
    static const std::vector<NumericType> types = {
        {ZV_CHAR, "CHAR", {"-128", "-7", "0", "1", "127"}, {"-128", "127"}},
        {ZV_INT2, "INT2", {"-32768", "-12203", "0", "300", "32767"}, {"-32768", "32767"}},
        {ZV_INT4, "INT4", {"-2147483648", "-838213", "0", "838213", "2147483647"}, {"-2147483648", "2147483647"}},
        {ZV_CHARU, "CHARU", {"0", "1", "200", "255"}, {"0", "255"}},
        {ZV_INT2U, "INT2U", {"0", "1", "53333", "65535"}, {"0", "65535"}},
        {ZV_INT4U, "INT4U", {"0", "7", "3000000000", "4294967295"}, {"0", "4294967295"}},
        {ZV_BIGINT, "BIGINT",
         {"-9223372036854775808", "-5000000000", "-1", "0", "5000000000", "9223372036854775807"},
         {"-9223372036854775808", "9223372036854775807"}},
        {ZV_UBIGINT, "UBIGINT", {"0", "1", "5000000000", "9223372036854775808", "18446744073709551615"},
         {"0", "18446744073709551615"}},
        {ZV_SFLOAT, "SFLOAT", {"-3e38", "-1234.5", "-0.75", "0", "0.5", "2.75", "16777216", "3e38", "inf", "nan"}, {}},
        {ZV_DFLOAT, "DFLOAT",
         {"-1.7e308", "-1e20", "-2147483648.75", "-1234.5678", "-0.999", "0", "0.001", "12.34", "4294967295.5",
          "9.2e18", "1.8e19", "1e300", "inf", "-inf", "nan"},
         {}},
        {ZV_MONEY, "MONEY", {"-21474836.48", "-12.34", "-0.01", "0", "0.99", "12.34", "21474836.47"},
         {"-21474836.48", "21474836.47"}},
        {ZV_CURRENCY, "CURRENCY",
         {"-922337203685477.5808", "-12.3456", "-0.0001", "0", "0.5", "127.9999", "922337203685477.5807"},
         {"-922337203685477.5808", "922337203685477.5807"}},
        {ZV_NUMBER, "NUMBER",
         {"-1000000000000000000000000000000", "-12345678901234567890.1234", "-0.5", "0", "0.0001", "127.9999",
          "1000000000000000000000000000000"},
         {}},
    };
    return types;
}

void PrintTo(const NumericType &t, std::ostream *os) { *os << t.name; }

std::string field_name(int32_t type) { return "f" + std::to_string(type); }

class AlterConvertTest : public AlterTest {
protected:
    void TearDown() override {
        drop_record();
        AlterTest::TearDown();
    }
    ZVHANDLE rec() {
        if (!rec_) rec_ = zvdbAllocRecord(table_);
        return rec_;
    }
    void drop_record() {
        if (rec_) rec_ = zvdbFreeRecord(rec_);
    }
    int32_t number(const std::string &field) { return zvdbGetFieldNumberByName(rec(), field.c_str()); }
    // The session logged out and on again, the table opened anew.
    void relog() {
        drop_record();
        ASSERT_EQ(zvdbLogout(session_), 0);
        ASSERT_EQ(zvdbLogon(session_, nullptr, "tester", nullptr), 0);
        open();
    }
    // Writes a record: "id" and the fields given as texts.
    void add(int32_t id, const std::vector<std::pair<std::string, std::string>> &fields) {
        ZVHANDLE r = rec();
        ASSERT_EQ(zvdbClearRecord(r), 0);
        ASSERT_EQ(zvdbSetFieldAsSigned(r, number("id"), id), 0);
        for (const auto &[name, text] : fields) {
            ASSERT_EQ(zvdbSetFieldAsString(r, number(name), text.c_str()), 0) << name << " " << text;
        }
        ASSERT_EQ(zvdbWriteRecord(r), 0) << last();
    }

    // Field `name` of the current record, retyped to `type`, holds what
    // `type` keeps of v.
    void expect_kept(const std::string &name, int32_t type, const Value &v) {
        SCOPED_TRACE(name + " from " + v.text);
        ZVHANDLE r = rec();
        const int32_t n = number(name);
        i128 whole = 0;
        ASSERT_TRUE(keeps(type, v, &whole));
        i128 lo = 0, hi = 0;
        if (type == ZV_UBIGINT) {
            ZVUBIGINT got = 0;
            ASSERT_EQ(zvdbGetFieldAsUnsignedBigint(r, n, &got), 0);
            EXPECT_EQ(got, uint64_t(whole));
        } else if (integer_range(type, &lo, &hi)) {
            ZVBIGINT got = 0;
            ASSERT_EQ(zvdbGetFieldAsBigint(r, n, &got), 0);
            EXPECT_EQ(got, int64_t(whole));
        } else if (type == ZV_MONEY) {
            ZVMONEY got = 0;
            ASSERT_EQ(zvdbGetFieldAsMoney(r, n, &got), 0);
            EXPECT_EQ(got, int32_t(whole));
        } else if (type == ZV_CURRENCY) {
            ZVCURRENCY got = 0;
            ASSERT_EQ(zvdbGetFieldAsCurrency(r, n, &got), 0);
            EXPECT_EQ(got, int64_t(whole));
        } else if (type == ZV_NUMBER && !v.isfloat) {
            tagZVNUMBER got, want;
            ASSERT_EQ(zvdbGetFieldAsNumber(r, n, &got), 0);
            ASSERT_EQ(zvdbStringToNumber(decimal(v.units).c_str(), &want), 0);
            char text[160] = {};
            zvdbNumberToString(&got, text, int32_t(sizeof text));
            EXPECT_EQ(zvdbNumberCmp(&got, &want), 0) << text;
        } else {
            double got = 0;
            ASSERT_EQ(zvdbGetFieldAsFloat(r, n, &got), 0);
            const double want = as_double(v);
            if (std::isnan(want)) EXPECT_TRUE(std::isnan(got)) << got;
            else if (type == ZV_SFLOAT) EXPECT_FLOAT_EQ(float(got), float(want));
            else if (v.isfloat) EXPECT_EQ(got, want);  // a number keeps every digit of a double
            else EXPECT_DOUBLE_EQ(got, want);
        }
    }

    ZVHANDLE rec_ = nullptr;
};

// The values of type `from` that each other type keeps: its own values
// and the other type's range ends that it holds exactly.
std::vector<Value> values_kept(const NumericType &from, const NumericType &to) {
    std::vector<Value> out;
    auto consider = [&](const char *text, bool exact) {
        Value v;
        i128 whole = 0;
        if (hold(from.type, text, exact, &v) && keeps(to.type, v, &whole)) out.push_back(v);
    };
    for (const char *text : from.values) consider(text, false);
    for (const char *text : to.edges) consider(text, true);
    return out;
}

class ConvertMatrixTest : public AlterConvertTest, public ::testing::WithParamInterface<NumericType> {};

// Fields of one type, one retyped to each other numeric type, all in one
// copy; every value that the new type can hold reads back converted after
// the session logged out and on again.
TEST_P(ConvertMatrixTest, EveryValueReachesItsNewTypeConverted) {
    const NumericType &from = GetParam();
    std::vector<const NumericType *> targets;
    for (const NumericType &t : numeric_types()) {
        if (t.type != from.type) targets.push_back(&t);
    }
    create([&](ZVHANDLE t) {
        add_field(t, "id", ZV_INT4);
        for (const NumericType *to : targets) add_field(t, field_name(to->type).c_str(), from.type);
        add_index(t, "byid", 0, {"id"});
    }, 0);
    std::vector<std::vector<Value>> kept;
    size_t rows = 0;
    for (const NumericType *to : targets) {
        kept.push_back(values_kept(from, *to));
        ASSERT_FALSE(kept.back().empty()) << to->name;
        rows = std::max(rows, kept.back().size());
    }
    for (size_t k = 0; k < rows; k++) {
        std::vector<std::pair<std::string, std::string>> fields;
        for (size_t t = 0; t < targets.size(); t++) {
            fields.emplace_back(field_name(targets[t]->type), kept[t][k % kept[t].size()].text);
        }
        add(int32_t(k + 1), fields);
    }
    drop_record();
    for (const NumericType *to : targets) {
        ASSERT_EQ(zvdbSetFieldType(fld(field_name(to->type).c_str()), to->type), 0);
    }
    ASSERT_EQ(zvdbAlterTable(table_, 3), 0) << last();
    relog();

    for (const NumericType *to : targets) {
        EXPECT_EQ(zvdbGetFieldType(fld(field_name(to->type).c_str())), to->type) << to->name;
    }
    ZVHANDLE r = rec();
    ASSERT_EQ(zvdbSetDefaultIndexByName(r, "byid"), 0);
    size_t k = 0;
    for (ZVDBRET rc = zvdbFirstRecord(r); rc == 0; rc = zvdbNextRecord(r), k++) {
        int32_t id = 0;
        ASSERT_EQ(zvdbGetFieldAsSigned(r, number("id"), &id), 0);
        ASSERT_EQ(id, int32_t(k + 1));
        for (size_t t = 0; t < targets.size(); t++) {
            expect_kept(field_name(targets[t]->type), targets[t]->type, kept[t][k % kept[t].size()]);
        }
    }
    EXPECT_EQ(k, rows);
}

INSTANTIATE_TEST_SUITE_P(AlterConvert, ConvertMatrixTest, ::testing::ValuesIn(numeric_types()),
                         [](const ::testing::TestParamInfo<NumericType> &info) { return std::string(info.param.name); });

// One value that its field's new type cannot hold, between two that fit.
struct Refusal {
    int32_t from;
    const char *value;
    int32_t to;
    ZVDBRET code;
};

void PrintTo(const Refusal &c, std::ostream *os) { *os << c.from << " " << c.value << " -> " << c.to; }

// What the table "alt" is as the alteration may change it: the type of
// "v", and each record's id with the bytes of "v".
struct TableState {
    int32_t type = 0;
    std::vector<std::pair<int32_t, std::string>> records;
    bool operator==(const TableState &o) const { return type == o.type && records == o.records; }
};

class ConvertRefusalTest : public AlterConvertTest, public ::testing::WithParamInterface<Refusal> {
protected:
    using Files = std::vector<std::pair<std::string, std::string>>;
    // The files of the directory, each header's update counter (bytes 108
    // and 236) and record of the last open's file mode (bytes 48 and 49)
    // blanked: every open not shared writes both.
    static Files contents() {
        Files out = snapshot();
        for (auto &f : out) {
            for (auto [at, n] : {std::pair<size_t, size_t>{48, 2}, {108, 4}, {236, 4}}) {
                if (f.second.size() >= at + n) f.second.replace(at, n, n, '\0');
            }
        }
        return out;
    }
    // The names of the files that differ from `before`, or are new.
    static std::string changed(const Files &before) {
        const Files now = contents();
        std::string out;
        for (const auto &f : now) {
            auto it = std::find_if(before.begin(), before.end(), [&f](const auto &g) { return g.first == f.first; });
            if (it == before.end() || it->second != f.second) out += f.first + " ";
        }
        return now.size() == before.size() ? out : out + "(file count)";
    }

    TableState state() {
        TableState s;
        s.type = zvdbGetFieldType(fld("v"));
        ZVHANDLE r = rec();
        EXPECT_EQ(zvdbSetDefaultIndexByName(r, "byid"), 0);
        for (ZVDBRET rc = zvdbFirstRecord(r); rc == 0; rc = zvdbNextRecord(r)) {
            int32_t id = 0;
            tagZVBLOB blob{0, nullptr, 0};
            EXPECT_EQ(zvdbGetFieldAsSigned(r, number("id"), &id), 0);
            EXPECT_EQ(zvdbGetFieldAsBlob(r, number("v"), &blob), 0);
            s.records.emplace_back(id, std::string(static_cast<char *>(blob.data), size_t(blob.used)));
            zvdbBlobClear(&blob);
        }
        drop_record();
        return s;
    }
};

// The alteration ends with the code; the handles, the records and the
// files are as before, also after the session logged out and on again.
TEST_P(ConvertRefusalTest, AValueTheNewTypeCannotHoldLeavesTheTable) {
    const Refusal &c = GetParam();
    create([&](ZVHANDLE t) {
        add_field(t, "id", ZV_INT4);
        add_field(t, "v", c.from);
        add_index(t, "byid", 0, {"id"});
    }, 0);
    add(1, {{"v", "0"}});
    add(2, {{"v", c.value}});
    add(3, {{"v", "1"}});
    const TableState before = state();
    ASSERT_EQ(before.records.size(), 3u);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    const Files files = contents();
    open();

    ASSERT_EQ(zvdbSetFieldType(fld("v"), c.to), 0);
    EXPECT_EQ(zvdbAlterTable(table_, 3), c.code);
    EXPECT_EQ(last(), c.code);
    EXPECT_EQ(state(), before);
    EXPECT_EQ(keys("byid"), 3);
    relog();
    EXPECT_EQ(state(), before);
    EXPECT_EQ(keys("byid"), 3);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    EXPECT_EQ(changed(files), "");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(AlterConvert, ConvertRefusalTest, ::testing::Values(
    // Narrowed out of range, above and below.
    Refusal{ZV_INT4, "40000", ZV_INT2, ZVDB_OVERFLOW},
    Refusal{ZV_INT4, "-40000", ZV_INT2, ZVDB_UNDERFLOW},
    Refusal{ZV_INT4U, "2147483648", ZV_INT4, ZVDB_OVERFLOW},
    Refusal{ZV_BIGINT, "4294967296", ZV_INT4U, ZVDB_OVERFLOW},
    Refusal{ZV_UBIGINT, "9223372036854775808", ZV_BIGINT, ZVDB_OVERFLOW},
    Refusal{ZV_DFLOAT, "128", ZV_CHAR, ZVDB_OVERFLOW},
    Refusal{ZV_DFLOAT, "1e20", ZV_UBIGINT, ZVDB_OVERFLOW},
    Refusal{ZV_DFLOAT, "1e300", ZV_SFLOAT, ZVDB_OVERFLOW},
    Refusal{ZV_DFLOAT, "-1e300", ZV_SFLOAT, ZVDB_UNDERFLOW},
    Refusal{ZV_MONEY, "128.00", ZV_CHAR, ZVDB_OVERFLOW},
    Refusal{ZV_INT4, "21474837", ZV_MONEY, ZVDB_OVERFLOW},
    Refusal{ZV_INT4, "-21474837", ZV_MONEY, ZVDB_UNDERFLOW},
    Refusal{ZV_SFLOAT, "-3e38", ZV_MONEY, ZVDB_UNDERFLOW},
    Refusal{ZV_CURRENCY, "21474836.48", ZV_MONEY, ZVDB_OVERFLOW},
    Refusal{ZV_CURRENCY, "-21474836.49", ZV_MONEY, ZVDB_UNDERFLOW},
    Refusal{ZV_BIGINT, "922337203685478", ZV_CURRENCY, ZVDB_OVERFLOW},
    Refusal{ZV_UBIGINT, "18446744073709551615", ZV_CURRENCY, ZVDB_OVERFLOW},
    Refusal{ZV_NUMBER, "1000000000000000000000000000000", ZV_BIGINT, ZVDB_OVERFLOW},
    Refusal{ZV_NUMBER, "-922337203685477.5809", ZV_CURRENCY, ZVDB_UNDERFLOW},
    Refusal{ZV_NUMBER, "1e40", ZV_SFLOAT, ZVDB_OVERFLOW},
    Refusal{ZV_DFLOAT, "1e300", ZV_NUMBER, ZVDB_OVERFLOW},
    Refusal{ZV_DFLOAT, "-1e300", ZV_NUMBER, ZVDB_UNDERFLOW},
    // A negative integer part into an unsigned type.
    Refusal{ZV_INT2, "-1", ZV_INT2U, ZVDB_UNDERFLOW},
    Refusal{ZV_CHAR, "-128", ZV_CHARU, ZVDB_UNDERFLOW},
    Refusal{ZV_BIGINT, "-1", ZV_UBIGINT, ZVDB_UNDERFLOW},
    Refusal{ZV_DFLOAT, "-1.5", ZV_INT4U, ZVDB_UNDERFLOW},
    Refusal{ZV_MONEY, "-1.00", ZV_CHARU, ZVDB_UNDERFLOW},
    Refusal{ZV_NUMBER, "-1", ZV_UBIGINT, ZVDB_UNDERFLOW},
    // No NaN nor infinity outside the float types.
    Refusal{ZV_DFLOAT, "nan", ZV_INT4, ZVDB_OVERFLOW},
    Refusal{ZV_DFLOAT, "inf", ZV_MONEY, ZVDB_OVERFLOW},
    Refusal{ZV_DFLOAT, "-inf", ZV_BIGINT, ZVDB_UNDERFLOW},
    Refusal{ZV_DFLOAT, "-inf", ZV_CURRENCY, ZVDB_UNDERFLOW},
    Refusal{ZV_DFLOAT, "nan", ZV_NUMBER, ZVDB_OVERFLOW}));
// clang-format on

// ZV_EFLOAT has no road to or from another type: such a retype is refused
// before any file changes.
TEST_F(AlterConvertTest, RetypesToOrFromEFloatAreRefusedBeforeAnyFileChanges) {
    create([](ZVHANDLE t) {
        add_field(t, "id", ZV_INT4);
        add_field(t, "e", ZV_EFLOAT, 10);
        add_field(t, "v", ZV_DFLOAT);
        add_index(t, "byid", 0, {"id"});
    }, 0);
    add(1, {{"v", "2.5"}});
    drop_record();
    reopen();
    const auto files = snapshot();
    const struct {
        const char *field;
        int32_t was, to;
    } retypes[] = {{"e", ZV_EFLOAT, ZV_DFLOAT}, {"e", ZV_EFLOAT, ZV_STRING}, {"v", ZV_DFLOAT, ZV_EFLOAT}};
    for (const auto &c : retypes) {
        SCOPED_TRACE(std::string(c.field) + " to " + std::to_string(c.to));
        ASSERT_EQ(zvdbSetFieldType(fld(c.field), c.to), 0);
        EXPECT_EQ(zvdbAlterTable(table_, 3), ZVDB_NO_CONVERSION);
        EXPECT_EQ(last(), ZVDB_NO_CONVERSION);
        EXPECT_EQ(zvdbGetFieldType(fld(c.field)), c.was);
        EXPECT_TRUE(same_files(files));
    }
    // The field left as it is, the table is copied.
    ASSERT_EQ(zvdbSetFieldType(fld("v"), ZV_NUMBER), 0);
    ASSERT_EQ(zvdbAlterTable(table_, 3), 0) << last();
    ASSERT_EQ(zvdbFirstRecord(rec()), 0);
    double v = 0;
    ASSERT_EQ(zvdbGetFieldAsFloat(rec(), number("v"), &v), 0);
    EXPECT_EQ(v, 2.5);
}

// Converting allocates nothing per record or field: a copy makes as many
// platform allocations for 1,000 records as for 100 (after a first copy
// that makes what the process keeps).
TEST_F(AlterConvertTest, ConversionsAllocateNothingPerRecord) {
    uint64_t made[3] = {};
    for (int k = 0; k < 3; k++) {
        const int32_t n = k < 2 ? 100 : 1000;
        create([](ZVHANDLE t) {
            add_field(t, "id", ZV_INT4);
            add_field(t, "a", ZV_INT2);
            add_field(t, "b", ZV_DFLOAT);
            add_field(t, "c", ZV_NUMBER);
            add_field(t, "d", ZV_MONEY);
            add_index(t, "byid", 0, {"id"});
        }, 0);
        for (int32_t i = 1; i <= n; i++) {
            add(i, {{"a", std::to_string(-i)}, {"b", "-1.25"}, {"c", "12.5"}, {"d", "-3.50"}});
        }
        drop_record();
        ASSERT_EQ(zvdbSetFieldType(fld("a"), ZV_BIGINT), 0);
        ASSERT_EQ(zvdbSetFieldType(fld("b"), ZV_NUMBER), 0);
        ASSERT_EQ(zvdbSetFieldType(fld("c"), ZV_SFLOAT), 0);
        ASSERT_EQ(zvdbSetFieldType(fld("d"), ZV_CURRENCY), 0);
        made[k] = alteration_allocations(3);
    }
    EXPECT_EQ(made[1], made[2]);
}

}  // namespace
