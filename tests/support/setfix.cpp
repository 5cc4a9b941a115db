#include "tests/support/setfix.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "engine/core/platform.h"
#include "engine/core/pools.h"

namespace settest {

void SetTest::SetUp() {
    ZvTest::SetUp();
    zv::fault_reset();
    ASSERT_EQ(INTISAM(10, 20, 4), 0);
}

void SetTest::TearDown() {
    zv::fault_reset();
    zv::fail_alloc_at(0);
    zv::fail_pool_at(0);
    CLISAM();
    ZvTest::TearDown();
}

std::set<std::string> SetTest::files_in(const std::string &dir) {
    std::set<std::string> out;
    for (const auto &e : std::filesystem::directory_iterator(dir)) {
        std::string n = e.path().filename().string();
        if (n != "ZVSTATUS.QVS") out.insert(n);
    }
    return out;
}

bool SetTest::all_free(int first, int last) {
    for (int i = first; i <= last; i++)
        if (TSTFILNUM(i) != 0) return false;
    return true;
}

std::vector<uint64_t> SetTest::stored_ifil(int datno) {
    int32_t need = GETIFIL(datno, 0, nullptr);
    if (need <= 0) return {};
    std::vector<uint64_t> buf(size_t(need) / 8 + 1);
    if (GETIFIL(datno, need, buf.data()) != need) return {};
    return buf;
}

std::string cust_record(int i) {
    char rec[80];
    snprintf(rec, sizeof rec, "%08d%04d%06d--C%09dN%-33d", i, i % 7, i / 10, i, i);
    return std::string(rec, 64);
}

int SetTest::add_cust(int datno, int n) {
    for (int i = 0; i < n; i++) {
        std::string r = cust_record(i);
        if (int rc = ADDREC(datno, r.data())) return rc;
    }
    return 0;
}

}  // namespace settest
