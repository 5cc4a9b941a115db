#include "tests/engine/isam/partfix.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "engine/core/filenum.h"
#include "engine/core/highword.h"
#include "engine/core/platform.h"
#include "engine/core/fcb.h"
#include "engine/index/keysearch.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"
#include "engine/isam/partition.h"

namespace parttest {

Sale sale(uint32_t number, double day, int32_t region, const char *name) {
    Sale s;
    memset(&s, 0, sizeof s);
    memcpy(s.tag, "SALE", 4);
    s.region = region;
    s.day = day;
    s.number = number;
    memcpy(s.name, name, std::min(strlen(name), sizeof s.name));
    s.amount = number * 7;
    return s;
}

SalesDef::SalesDef(const char *name, Rule rule, bool wide, bool global, bool variable, uint32_t width) {
    const int16_t suffix = wide ? 8 : 4;
    if (rule == Rule::Date) spart[0] = ISEG{8, 8, 9};
    else spart[0] = ISEG{1, 4, 12};
    uname = std::string("*") + name + "_u.idx";
    idx[0] = IIDX{int16_t(spart[0].slength + suffix), 0, 1, 0, 0, 1, spart, "ByPart", nullptr, nullptr, nullptr};
    idx[1] = IIDX{int16_t(20 + suffix), 0, 1, 0, 0, 1, sname, "ByName", nullptr, nullptr, nullptr};
    idx[2] = IIDX{4, 0, 0, 0, 0, 1, snum, "ByNumber", uname.c_str(), nullptr, nullptr};
    ifil = IFIL{name, -1, 64, 0, int16_t(variable ? 0x4 : 0), 3, 0, 0, idx, nullptr, nullptr, 0};
    const uint32_t offsets = wide ? 0x40 : 0x02;
    for (XCREblk &b : x) b.mode = offsets;
    x[0].mode |= zv::kPartHost;
    x[0].option9 = 0;
    x[0].width15 = width;
    if (global) x[2].mode |= zv::kPartGlobal;
}

void PartTest::SetUp() {
    ZvTest::SetUp();
    zv::fault_reset();
    ASSERT_EQ(INTISAMX(16, 30, 4, 32, 32), 0);
}

void PartTest::TearDown() {
    zv::fault_reset();
    CLISAM();
    ZvTest::TearDown();
}

int PartTest::make(SalesDef &def) {
    EXPECT_EQ(CREIFILX8(&def.ifil, nullptr, nullptr, 0, nullptr, nullptr, def.x), 0);
    const int d = def.ifil.tfilno;
    const DATOBJ doda[7] = {{"Tag", 0, ZV_ARRAY, 4, 0, 0},       {"Region", 4, ZV_INT4, 4, 0, 0},
                            {"Day", 8, ZV_DFLOAT, 8, 0, 0},      {"Number", 16, ZV_INT4U, 4, 0, 0},
                            {"Name", 20, ZV_FSTRING, 20, 0, 0},  {"Amount", 40, ZV_INT4U, 4, 0, 0},
                            {"Pad", 44, ZV_ARRAY, 20, 0, 0}};
    if (d >= 0) {
        EXPECT_EQ(PUTDODA(d, doda, 7), 0);
    }
    return d;
}

int PartTest::make_regions(SalesDef &def) {
    int d = make(def);
    if (d >= 0) {
        EXPECT_EQ(zv::zvpr_replace_rule(zv::fcb_at(d), d, "Region"), 0);
    }
    return d;
}

PARTMBR *PartTest::entry(int d, int32_t raw) { return zv::member_entry(zv::fcb_at(d)->partdef, raw); }

int PartTest::add(int d, const Sale &s) {
    Sale c = s;
    return ADDREC(d, &c);
}

uint64_t PartTest::curpos(int datno) {
    uint32_t lo = GETCURP(datno);
    uint32_t hi = uint32_t(zvGETHGH());
    return uint64_t(hi) << 32 | lo;
}

std::set<std::string> PartTest::files() {
    std::set<std::string> out;
    for (const auto &e : std::filesystem::directory_iterator(".")) {
        std::string n = e.path().filename().string();
        if (n != "ZVSTATUS.QVS") out.insert(n);
    }
    return out;
}

void PartTest::restore_files() {
    namespace fs = std::filesystem;
    std::set<std::string> keep;
    for (const auto &e : fs::directory_iterator("tpl")) keep.insert(e.path().filename().string());
    for (const std::string &n : files())
        if (n != "tpl" && !keep.count(n)) fs::remove(n);
    zvtest::restore_template();
}

std::string PartTest::resource(int filno, uint32_t number) {
    uint32_t key[2] = {0, number};
    uint32_t info[3] = {};
    if (!GETRES(filno, key, info, sizeof info, 2 | 64)) return "";
    std::string b(info[2], '\0');
    if (!GETRES(filno, key, b.data(), int32_t(b.size()), 2)) return "";
    return b.substr(16);
}

std::vector<uint32_t> PartTest::numbers(int filno, int (*first)(int, void *), int (*step)(int, void *)) {
    std::vector<uint32_t> out;
    Sale s;
    int rc = first(filno, &s);
    while (rc == 0 && out.size() < 200) {
        out.push_back(s.number);
        rc = step(filno, &s);
    }
    EXPECT_EQ(rc, 101);
    return out;
}

std::vector<std::pair<uint32_t, uint64_t>> PartTest::global_entries(int ix) {
    std::vector<std::pair<uint32_t, uint64_t>> out;
    FCB *x = zv::fcb_at(ix);
    unsigned char key[16] = {}, found[16] = {};
    uint32_t lo = fndkey(x, key, 'G', found);
    while (lo || zvGETHGH()) {
        uint32_t n = uint32_t(found[0]) << 24 | uint32_t(found[1]) << 16 | uint32_t(found[2]) << 8 | found[3];
        out.emplace_back(n, uint64_t(uint32_t(zvGETHGH())) << 32 | lo);
        memcpy(key, found, 4);
        lo = fndkey(x, key, 'H', found);
    }
    return out;
}

std::string PartTest::check_members(int host) {
    std::string out;
    for (int slot = 0;; slot++) {
        int m = zv::partition_member(zv::fcb_at(host), slot);
        if (m < 0) break;
        std::string r = zvtest::check_set(m);
        if (!r.empty()) out += "member " + std::to_string(m) + ": " + r;
    }
    return out;
}

int PartTest::faulted_call(long n, const std::function<int(int)> &op, int *host, bool *fired) {
    restore_files();
    *host = OPNRFIL(-1, "sales.dat", 0);
    EXPECT_GE(*host, 0);
    zv::fault_reset();
    if (n > 0) zv::fault_set(zv::IoKind::Write, n, EIO);
    const int rc = n >= 0 ? op(*host) : 0;
    *fired = n > 0 && zv::io_calls(zv::IoKind::Write) >= n;
    zv::fault_reset();
    return rc;
}

}  // namespace parttest
