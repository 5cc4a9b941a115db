#include "tests/reliability/relfix.h"

#include <cstring>
#include <filesystem>

#include "engine/core/platform.h"

namespace reltest {

namespace fs = std::filesystem;

namespace {
const char *const kCities[] = {"Bern", "Rome", "Oslo", "Lima", "Kyiv", "Riga", "Nice", "Graz"};
}

Rec rec(uint32_t n, const char *city) {
    Rec r;
    memset(&r, 0, sizeof r);
    memcpy(r.tag, "RECD", 4);
    r.number = n;
    const char *c = city ? city : kCities[n % 8];
    memcpy(r.city, c, strlen(c));
    std::string nm = name_of(n);
    memcpy(r.name, nm.data(), nm.size());
    r.amount = n * 3;
    return r;
}

std::string image(const Rec &r, size_t tail) {
    std::string s(reinterpret_cast<const char *>(&r), sizeof r);
    for (size_t i = 0; i < tail; i++) s.push_back(char('a' + (r.number + i) % 26));
    return s;
}

std::string num(uint32_t n) { return std::string(reinterpret_cast<const char *>(&n), 4); }

std::string city_of(const char *c) {
    std::string t(kCityKey, '\0');
    memcpy(t.data(), c, strlen(c));
    return t;
}

std::string name_of(uint32_t n) {
    std::string t(24, '\0');
    std::string s = "name-" + std::to_string(n);
    memcpy(t.data(), s.data(), s.size());
    return t;
}

SetDef::SetDef(const char *name, bool variable) : aidx(std::string(name) + "_nm.idx") {
    idx[0] = IIDX{4, 0, 0, 0, 0, 1, s0, "ByNumber", nullptr, nullptr, nullptr};
    idx[1] = IIDX{kCityKey, 0, 1, 0, 0, 1, s1, "ByCity", nullptr, nullptr, nullptr};
    idx[2] = IIDX{24, 0, 0, 0, 0, 1, s2, "ByName", aidx.c_str(), nullptr, nullptr};
    ifil = IFIL{name, -1, 64, 0, int16_t(variable ? 0x4 : 0), 3, 0, 0, idx, nullptr, nullptr, 0};
}

void RelTest::SetUp() {
    ZvTest::SetUp();
    zv::fault_reset();
    ASSERT_EQ(INTISAMX(3, 30, 4, 3, kProfile), 0);
}

void RelTest::TearDown() {
    zv::fault_reset();
    CLISAM();
    ZvTest::TearDown();
}

void RelTest::restart(int bufs, int dbufs) {
    CLISAM();
    ASSERT_EQ(INTISAMX(bufs, 30, 4, dbufs, kProfile), 0);
}

void RelTest::save_files(const std::string &dir) {
    fs::create_directories(dir);
    for (const auto &e : fs::directory_iterator(".")) {
        if (!e.is_regular_file() || e.path().filename() == "ZVSTATUS.QVS") continue;
        fs::copy_file(e.path(), fs::path(dir) / e.path().filename(), fs::copy_options::overwrite_existing);
    }
}

void RelTest::restore_files(const std::string &dir) {
    for (const auto &e : fs::directory_iterator(dir))
        fs::copy_file(e.path(), e.path().filename(), fs::copy_options::overwrite_existing);
}

uint64_t RelTest::curpos(int datno) {
    uint32_t lo = GETCURP(datno);
    uint32_t hi = uint32_t(zvGETHGH());
    return uint64_t(hi) << 32 | lo;
}

}  // namespace reltest
