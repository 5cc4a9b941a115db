// Fixture of the ISAM record tests: an engine started under the ISAM layer
// (targets in record-field form), and the customer set that most of them
// use.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/support/setcheck.h"
#include "zarvo/zarvo.h"

namespace rectest {

// A customer record of 64 bytes. The tag keeps the first byte away from
// the marks of deleted records and resources.
struct Cust {
    char tag[4];
    uint32_t number;   // unique index 0: unsigned integer segment
    char city[20];     // index 1: duplicates allowed
    char name[24];
    uint32_t amount;
    char pad[8];
};
static_assert(sizeof(Cust) == 64, "customer record is 64 bytes");
constexpr int kNumberOff = 4, kCityOff = 8, kNameOff = 28;
constexpr int kCityKey = 24;  // 20 bytes and the position suffix

Cust cust(uint32_t number, const char *city, const char *name = "");

// The customer set: data file <name>.dat (fixed records of 64 bytes, or a
// variable-length file whose fixed part is 64 bytes), index 0 on the number
// (unique), index 1 on the city (duplicates).
struct CustDef {
    ISEG s0[1] = {{kNumberOff, 4, 1}};
    ISEG s1[1] = {{kCityOff, 20, 0}};
    IIDX idx[2] = {};
    IFIL ifil = {};
    // mode: further file mode bits of data and index files (0x40 write
    // through).
    explicit CustDef(const char *name = "cust", bool variable = false, int mode = 0);
    CustDef(const CustDef &) = delete;
    CustDef &operator=(const CustDef &) = delete;
};

// Start-up profile of the tests: targets in record-field form (bit 1
// clear), integers in host (little-endian) order.
constexpr int kProfile = 32;

class RecTest : public zvtest::ZvTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Stops the engine and starts it again with these caches.
    void restart(int bufs, int dbufs, int profile = kProfile);
    // Creates the set (left open): its data file number.
    int make(CustDef &def);
    // Adds a customer: its position (0 on failure, with the test failed).
    uint64_t add(int datno, Cust c);
    // Search targets in record-field form: the number (4 bytes) and the city
    // (24 bytes: room for the suffix the transform appends).
    static std::string num(uint32_t n);
    static std::string city(const char *c);
    // Stores the record schema of the customer record in the data file.
    static void put_schema(int datno);
    // Stores the schema that names the amount Qty and the pad's first four
    // bytes Zero (both signed integers), the other fields as Id, City,
    // Name.
    static void put_item_schema(int datno);
    // The current ISAM position of a data file (64-bit).
    static uint64_t curpos(int datno);
    // Customer numbers read by a first call and a stepping call until 101
    // (at most 100).
    static std::vector<uint32_t> numbers(int filno, int (*first)(int, void *), int (*step)(int, void *));
    // The set checker's verdict on a data file.
    static std::string check(int datno, zvtest::SetState *state = nullptr) { return zvtest::check_set(datno, state); }
};

}  // namespace rectest
