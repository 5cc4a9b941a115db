// Fixture of the file-set tests: an engine started under the ISAM layer in
// a fresh directory, and the "cust" set used by most tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"

namespace settest {

// The "cust" set: a data file of 64-byte records and three indexes:
//  0 unique, one 8-byte segment ("ByNumber"), starts cust.idx;
//  1 duplicates, segments of 4 and 6 bytes, key 14 ("ByName"), member 1 of
//    cust.idx;
//  2 unique, one 10-byte segment ("ByCity"), its own file "*cust_x.idx".
struct CustSet {
    ISEG s0[1] = {{0, 8, 0}};
    ISEG s1[2] = {{8, 4, 0}, {12, 6, 0}};
    ISEG s2[1] = {{20, 10, 0}};
    IIDX idx[3] = {};
    IFIL ifil = {};
    explicit CustSet(const char *name = "cust", int16_t dfilno = -1) {
        idx[0] = IIDX{8, 0, 0, 0, 0, 1, s0, "ByNumber", nullptr, nullptr, nullptr};
        idx[1] = IIDX{14, 0, 1, 0, 0, 2, s1, "ByName", nullptr, nullptr, nullptr};
        idx[2] = IIDX{10, 0, 0, 0, 0, 1, s2, "ByCity", "*cust_x.idx", nullptr, nullptr};
        ifil = IFIL{name, dfilno, 64, 0, 0, 3, 0, 0, idx, "first", "last", 0};
    }
    CustSet(const CustSet &) = delete;
    CustSet &operator=(const CustSet &) = delete;
};

class SetTest : public zvtest::ZvTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Names of the files in a directory, the status log left out.
    static std::set<std::string> files_in(const std::string &dir = ".");
    // Whether every number first .. last is free.
    static bool all_free(int first, int last);
    // The definition stored in an open data file as GETIFIL gives it (an
    // IFIL at the start of the buffer); empty when GETIFIL gives 0.
    static std::vector<uint64_t> stored_ifil(int datno);
    // Adds the records 0 .. n - 1 of the cust set (cust_record): 0 or the
    // first error.
    static int add_cust(int datno, int n);
};

// Record i of the cust set (64 bytes): its number (8 digits) for index 0,
// i % 7 and i / 10 for index 1 (so records share those), and "C" and the
// number in nine digits for index 2.
std::string cust_record(int i);

}  // namespace settest
