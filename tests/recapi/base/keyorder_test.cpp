// Keys formed in a logged-on session's instance sort by value: host-order
// integers, floats, dates, times, date-times, money and currency, and the
// serial numbers the engine hands out.
#include <algorithm>
#include <cfloat>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "recapi/base/wrappers.h"
#include "tests/recapi/base/basefix.h"
#include "zarvo/zarvo.h"

namespace {

using basetest::SessionTest;

constexpr int kRecords = 300;
constexpr uint16_t kRecLen = 88;
constexpr int kSerialOffset = 8;

// Record fields after the 8-byte tag (field 0) and the serial (field 1).
enum class Kind { Signed, Unsigned, Float };
struct Field {
    const char *name;
    uint16_t type;
    uint16_t offset, length;
    Kind kind;
};
const Field kFields[] = {
    {"bigint", ZV_BIGINT, 16, 8, Kind::Signed},    {"ubigint", ZV_UBIGINT, 24, 8, Kind::Unsigned},
    {"currency", ZV_CURRENCY, 32, 8, Kind::Signed}, {"dfloat", ZV_DFLOAT, 40, 8, Kind::Float},
    {"times", ZV_TIMES, 48, 8, Kind::Float},        {"int4", ZV_INT4, 56, 4, Kind::Signed},
    {"int4u", ZV_INT4U, 60, 4, Kind::Unsigned},     {"money", ZV_MONEY, 64, 4, Kind::Signed},
    {"date", ZV_DATE, 68, 4, Kind::Unsigned},       {"time", ZV_TIME, 72, 4, Kind::Unsigned},
    {"sfloat", ZV_SFLOAT, 76, 4, Kind::Float},      {"int2", ZV_INT2, 80, 2, Kind::Signed},
};
constexpr int kFieldCount = int(sizeof kFields / sizeof kFields[0]);

// A field's value as a long double, which holds every value of every type
// here in order (64-bit integers exactly enough to compare distinct ones:
// the ones chosen differ in their high bits or are small).
long double value_of(const Field &f, const unsigned char *rec) {
    const unsigned char *p = rec + f.offset;
    switch (f.kind) {
    case Kind::Signed: {
        int64_t v = 0;
        if (f.length == 8) std::memcpy(&v, p, 8);
        if (f.length == 4) { int32_t x; std::memcpy(&x, p, 4); v = x; }
        if (f.length == 2) { int16_t x; std::memcpy(&x, p, 2); v = x; }
        return static_cast<long double>(v);
    }
    case Kind::Unsigned: {
        uint64_t v = 0;
        if (f.length == 8) std::memcpy(&v, p, 8);
        if (f.length == 4) { uint32_t x; std::memcpy(&x, p, 4); v = x; }
        return static_cast<long double>(v);
    }
    case Kind::Float:
        if (f.length == 8) { double d; std::memcpy(&d, p, 8); return d; }
        { float x; std::memcpy(&x, p, 4); return x; }
    }
    return 0;
}

// kRecords distinct raw values of a field, the range's extremes and zero
// among them, in random order.
std::vector<std::vector<unsigned char>> values_for(const Field &f, std::mt19937_64 &rng) {
    std::vector<long double> seen;
    std::vector<std::vector<unsigned char>> out;
    auto add = [&](const void *raw) {
        std::vector<unsigned char> bytes(static_cast<const unsigned char *>(raw),
                                         static_cast<const unsigned char *>(raw) + f.length);
        unsigned char rec[kRecLen] = {};
        std::memcpy(rec + f.offset, bytes.data(), f.length);
        long double v = value_of(f, rec);
        if (std::find(seen.begin(), seen.end(), v) != seen.end()) return;
        seen.push_back(v);
        out.push_back(bytes);
    };
    auto add_int = [&](int64_t v) {
        if (f.length == 8) add(&v);
        if (f.length == 4) { int32_t x = int32_t(v); add(&x); }
        if (f.length == 2) { int16_t x = int16_t(v); add(&x); }
    };
    auto add_float = [&](double d) {
        if (f.length == 8) add(&d);
        else { float x = float(d); add(&x); }
    };
    if (f.kind == Kind::Float) {
        const double big = f.length == 8 ? DBL_MAX : FLT_MAX;
        // Date-times are never negative.
        const bool negatives = f.type != ZV_TIMES;
        for (double d : {0.0, big, 1.0, 1e-30, 0.5}) add_float(d);
        if (negatives) for (double d : {-big, -1.0, -1e-30, -0.5}) add_float(d);
        std::uniform_real_distribution<double> mant(1.0, 2.0);
        std::uniform_int_distribution<int> exp(f.length == 8 ? -1000 : -120, f.length == 8 ? 1000 : 120);
        while (int(out.size()) < kRecords) {
            double d = std::ldexp(mant(rng), exp(rng));
            if (negatives && (rng() & 1)) d = -d;
            add_float(d);
        }
    } else {
        const int bits = 8 * f.length;
        const bool is_signed = f.kind == Kind::Signed;
        if (is_signed) {
            const int64_t max = bits == 64 ? INT64_MAX : (int64_t(1) << (bits - 1)) - 1;
            for (int64_t v : {int64_t(0), max, -max - 1, int64_t(1), int64_t(-1)}) add_int(v);
        } else {
            for (uint64_t v : {uint64_t(0), bits == 64 ? UINT64_MAX : (uint64_t(1) << bits) - 1, uint64_t(1)}) {
                add_int(int64_t(v));
            }
        }
        while (int(out.size()) < kRecords) {
            // Values of every magnitude: a random width, then random bits.
            uint64_t v = rng() >> (rng() % bits + (64 - bits));
            if (is_signed && (rng() & 1)) v = ~v;
            add_int(int64_t(v));
        }
    }
    std::shuffle(out.begin(), out.end(), rng);
    return out;
}

struct KeySet {
    std::vector<ISEG> segs;
    std::vector<IIDX> idx;
    std::vector<DATOBJ> doda;
    IFIL ifil{};
    explicit KeySet(const char *name) {
        // Index 2k ascending and 2k + 1 descending on field k; then the
        // serial number, ascending and descending.
        segs.reserve(2 * kFieldCount + 2);
        for (int k = 0; k < kFieldCount; k++) {
            for (int16_t desc : {0, 16}) segs.push_back(ISEG{int16_t(k + 2), int16_t(kFields[k].length), int16_t(12 | desc)});
        }
        for (int16_t desc : {0, 16}) segs.push_back(ISEG{kSerialOffset, 8, int16_t(3 | desc)});
        for (const ISEG &s : segs) {
            idx.push_back(IIDX{s.slength, 0, 0, 0, 0, 1, &s, nullptr, nullptr, nullptr, nullptr});
        }
        doda.push_back(DATOBJ{"tag", 0, ZV_ARRAY, 8, 0, 0});
        doda.push_back(DATOBJ{"serial", kSerialOffset, ZV_BIGINT, 8, 0, 0});
        for (const Field &f : kFields) doda.push_back(DATOBJ{f.name, f.offset, f.type, f.length, 0, 0});
        doda.push_back(DATOBJ{"pad", 82, ZV_ARRAY, 6, 0, 0});
        ifil = IFIL{name, -1, kRecLen, 0, 0, int16_t(idx.size()), 0, 0, idx.data(), nullptr, nullptr, 0};
    }
};

// The records of an index in key order (FRSREC, NXTREC).
std::vector<std::vector<unsigned char>> walk(int keyno) {
    std::vector<std::vector<unsigned char>> out;
    std::vector<unsigned char> rec(kRecLen);
    for (int rc = FRSREC(keyno, rec.data()); rc == 0; rc = NXTREC(keyno, rec.data())) {
        out.push_back(rec);
        if (out.size() > kRecords) break;
    }
    return out;
}

uint64_t serial_of(const std::vector<unsigned char> &rec) {
    uint64_t v;
    std::memcpy(&v, rec.data() + kSerialOffset, 8);
    return v;
}

TEST_F(SessionTest, KeysOfHostOrderValuesSortByValue) {
    tagZVDBSESSION *s = alloc(1);
    ASSERT_NE(s, nullptr);
    std::mt19937_64 rng(20240611);
    for (int profile : {513, 1}) {
        SCOPED_TRACE(profile);
        ASSERT_EQ(zvdbSetSessionParams(s, 5, profile), 0);
        ASSERT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 0);
        const std::string name = "keys" + std::to_string(profile);
        KeySet set(name.c_str());
        ASSERT_EQ(_zvdbCREIFILXX(&set.ifil, set.doda.data(), int32_t(set.doda.size()), nullptr, nullptr, 0, nullptr,
                                 nullptr),
                  0);
        ASSERT_EQ(OPNIFIL(&set.ifil), 0);
        const int d = set.ifil.tfilno;
        std::vector<std::vector<std::vector<unsigned char>>> values;
        for (const Field &f : kFields) values.push_back(values_for(f, rng));
        for (int i = 0; i < kRecords; i++) {
            unsigned char rec[kRecLen] = {};
            std::memcpy(rec, "RECORD..", 8);
            for (int k = 0; k < kFieldCount; k++) {
                std::memcpy(rec + kFields[k].offset, values[size_t(k)][size_t(i)].data(), kFields[k].length);
            }
            ASSERT_EQ(ADDREC(d, rec), 0) << i;
        }
        for (int k = 0; k < kFieldCount; k++) {
            const Field &f = kFields[k];
            SCOPED_TRACE(f.name);
            auto up = walk(d + 1 + 2 * k);
            auto down = walk(d + 2 + 2 * k);
            ASSERT_EQ(up.size(), size_t(kRecords));
            for (size_t i = 1; i < up.size(); i++) {
                EXPECT_LT(value_of(f, up[i - 1].data()), value_of(f, up[i].data())) << i;
            }
            std::reverse(down.begin(), down.end());
            EXPECT_EQ(down, up);
        }
        // The serial index: 1..300, stored in host order.
        auto up = walk(d + 1 + 2 * kFieldCount);
        auto down = walk(d + 2 + 2 * kFieldCount);
        ASSERT_EQ(up.size(), size_t(kRecords));
        for (int i = 0; i < kRecords; i++) EXPECT_EQ(serial_of(up[size_t(i)]), uint64_t(i + 1)) << i;
        std::reverse(down.begin(), down.end());
        EXPECT_EQ(down, up);
        EXPECT_EQ(CLIFIL(&set.ifil), 0);
        ASSERT_EQ(zvdbLogout(s), 0);
    }
}

}  // namespace
