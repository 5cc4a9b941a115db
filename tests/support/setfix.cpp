#include "tests/support/setfix.h"

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

}  // namespace settest
