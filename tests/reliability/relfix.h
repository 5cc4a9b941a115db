// Fixture of the reliability tests: file sets of fixed and variable-length
// records with three indexes, started under the ISAM layer with caches
// small enough that every call reads and writes, and copies of a
// directory's files to start each run from.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"

namespace reltest {

// A record of 64 bytes (the fixed part of a variable-length one). The tag
// keeps the first byte away from the marks of deleted records.
struct Rec {
    char tag[4];
    uint32_t number;  // index 0: unique
    char city[20];    // index 1: duplicates (member of index 0's file)
    char name[24];    // index 2: unique, a file of its own
    uint32_t amount;
    char pad[8];
};
static_assert(sizeof(Rec) == 64, "a record is 64 bytes");
constexpr int kCityKey = 24;  // 20 bytes and the position suffix

// Record n: city one of a few, name unique to n.
Rec rec(uint32_t n, const char *city = nullptr);
// The bytes of record n with a variable tail of `tail` bytes.
std::string image(const Rec &r, size_t tail = 0);
// Search targets in record-field form.
std::string num(uint32_t n);
std::string city_of(const char *c);
std::string name_of(uint32_t n);

// The set `name`: data file <name>.dat, indexes 0 and 1 in <name>.idx,
// index 2 in <name>_nm.idx.
struct SetDef {
    ISEG s0[1] = {{4, 4, 1}};
    ISEG s1[1] = {{8, 20, 0}};
    ISEG s2[1] = {{28, 24, 0}};
    IIDX idx[3] = {};
    IFIL ifil = {};
    std::string aidx;
    SetDef(const char *name, bool variable);
    SetDef(const SetDef &) = delete;
    SetDef &operator=(const SetDef &) = delete;
};

// Start-up profile: targets in record-field form, integers in host order.
constexpr int kProfile = 32;

class RelTest : public zvtest::ZvTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Stops the ISAM layer and starts it again with these caches.
    void restart(int bufs = 3, int dbufs = 3);
    // Copies every file of the current directory (the status log left out)
    // into dir, and back.
    static void save_files(const std::string &dir);
    static void restore_files(const std::string &dir);
    // The current ISAM position of a data file.
    static uint64_t curpos(int datno);
};

}  // namespace reltest
