#include "tests/engine/isam/recfix.h"

#include <algorithm>
#include <cstring>

#include "engine/core/platform.h"
#include "engine/core/pools.h"

namespace rectest {

Cust cust(uint32_t number, const char *city, const char *name) {
    Cust c;
    memset(&c, 0, sizeof c);
    memcpy(c.tag, "CUST", 4);
    c.number = number;
    memcpy(c.city, city, std::min(strlen(city), sizeof c.city));
    memcpy(c.name, name, std::min(strlen(name), sizeof c.name));
    c.amount = number * 3;
    return c;
}

CustDef::CustDef(const char *name, bool variable, int mode) {
    idx[0] = IIDX{4, 0, 0, 0, 0, 1, s0, "ByNumber", nullptr, nullptr, nullptr};
    idx[1] = IIDX{kCityKey, 0, 1, 0, 0, 1, s1, "ByCity", "?_city.idx", nullptr, nullptr};
    ifil = IFIL{name, -1, 64, 0, int16_t((variable ? 0x4 : 0) | mode), 2, 0, int16_t(mode), idx, nullptr, nullptr, 0};
}

void RecTest::SetUp() {
    ZvTest::SetUp();
    zv::fault_reset();
    ASSERT_EQ(INTISAMX(16, 30, 4, 32, kProfile), 0);
}

void RecTest::TearDown() {
    zv::fault_reset();
    CLISAM();
    ZvTest::TearDown();
}

void RecTest::restart(int bufs, int dbufs, int profile) {
    CLISAM();
    ASSERT_EQ(INTISAMX(bufs, 30, 4, dbufs, profile), 0);
}

int RecTest::make(CustDef &def) {
    EXPECT_EQ(CREIFIL(&def.ifil), 0);
    return def.ifil.tfilno;
}

uint64_t RecTest::add(int datno, Cust c) {
    EXPECT_EQ(ADDREC(datno, &c), 0) << c.number;
    return curpos(datno);
}

std::string RecTest::num(uint32_t n) { return std::string(reinterpret_cast<const char *>(&n), 4); }

std::string RecTest::city(const char *c) {
    std::string t(kCityKey, '\0');
    memcpy(t.data(), c, std::min<size_t>(strlen(c), 20));
    return t;
}

void RecTest::put_schema(int datno) {
    const DATOBJ doda[6] = {
        {"tag", 0, ZV_ARRAY, 4, 0, 0},      {"number", 4, ZV_INT4U, 4, 0, 0}, {"city", 8, ZV_FSTRING, 20, 0, 0},
        {"name", 28, ZV_FSTRING, 24, 0, 0}, {"amount", 52, ZV_INT4U, 4, 0, 0}, {"pad", 56, ZV_ARRAY, 8, 0, 0},
    };
    ASSERT_EQ(PUTDODA(datno, doda, 6), 0);
}

void RecTest::put_item_schema(int datno) {
    const DATOBJ doda[7] = {{"tag", 0, ZV_ARRAY, 4, 0, 0},   {"Id", 4, ZV_INT4U, 4, 0, 0},
                            {"City", 8, ZV_FSTRING, 20, 0, 0}, {"Name", 28, ZV_FSTRING, 24, 0, 0},
                            {"Qty", 52, ZV_INT4, 4, 0, 0},    {"Zero", 56, ZV_INT4, 4, 0, 0},
                            {"Pad", 60, ZV_ARRAY, 4, 0, 0}};
    ASSERT_EQ(PUTDODA(datno, doda, 7), 0);
}

std::vector<uint32_t> RecTest::numbers(int filno, int (*first)(int, void *), int (*step)(int, void *)) {
    std::vector<uint32_t> out;
    Cust c;
    int rc = first(filno, &c);
    while (rc == 0 && out.size() < 100) {
        out.push_back(c.number);
        rc = step(filno, &c);
    }
    EXPECT_EQ(rc, 101);
    return out;
}

uint64_t RecTest::curpos(int datno) {
    uint32_t lo = GETCURP(datno);
    uint32_t hi = uint32_t(zvGETHGH());
    return uint64_t(hi) << 32 | lo;
}

}  // namespace rectest
