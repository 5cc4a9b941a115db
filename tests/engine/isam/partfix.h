// Fixture of the partitioned-file tests: the "sales" set, whose records
// go to member sets by the day of the sale (the date rule) or by a rule on
// their region, with a global unique index on the sale number.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/support/setcheck.h"
#include "zarvo/zarvo.h"

struct PARTMBR;

namespace parttest {

// A sale of 64 bytes.
struct Sale {
    char tag[4];
    int32_t region;    // the Region rule's field
    double day;        // the date rule's key: a day serial, or seconds
    uint32_t number;   // the global unique index U
    char name[20];     // a duplicate index
    uint32_t amount;
    char pad[20];
};
static_assert(sizeof(Sale) == 64, "a sale is 64 bytes");

Sale sale(uint32_t number, double day, int32_t region = 0, const char *name = "");
// The day serial (from 1899-12-30) of days since 1970-01-01.
inline double serial(int days) { return 25569.0 + days; }

enum class Rule { Date, Region };

// The sales set: data file <name>.dat; index 0 the partition index (day,
// or the schema field Region; duplicates), index 1 the name (duplicates,
// a member of the same index file <name>.idx), index 2 U, the number
// (unique, its own file <name>_u.idx, global unless `global` is false).
// Create blocks: the data file partitioned with the partition index 0,
// 8-byte offsets when `wide`, and `width` as word 15.
struct SalesDef {
    ISEG spart[1];
    ISEG sname[1] = {{20, 20, 0}};
    ISEG snum[1] = {{16, 4, 1}};
    IIDX idx[3] = {};
    IFIL ifil = {};
    XCREblk x[3] = {};
    std::string uname;
    SalesDef(const char *name, Rule rule, bool wide = true, bool global = true, bool variable = false,
             uint32_t width = 0);
    SalesDef(const SalesDef &) = delete;
    SalesDef &operator=(const SalesDef &) = delete;
};

class PartTest : public zvtest::ZvTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Creates the set (left open) and stores the record schema in its data
    // file: the data file number.
    int make(SalesDef &def);
    // make, and the host's rule becomes "Region".
    int make_regions(SalesDef &def);
    // The member-table entry of a raw number of open host d.
    static PARTMBR *entry(int d, int32_t raw);
    // Adds a sale: 0 or the error.
    static int add(int d, const Sale &s);
    // The current ISAM position of a data file (64-bit).
    static uint64_t curpos(int datno);
    // The files of the test directory as save_template left them: files
    // made since are removed.
    static void restore_files();
    // Names of the files in the test directory, the status log left out.
    static std::set<std::string> files();
    // The body of resource (0, number) of an open file: the bytes after
    // its 16-byte head; empty when GETRES finds none.
    static std::string resource(int filno, uint32_t number);
    // Sale numbers read by a first call and a stepping call until 101.
    static std::vector<uint32_t> numbers(int filno, int (*first)(int, void *), int (*step)(int, void *));
    // The entries of a global unique index: (key number, position) in key
    // order, read through the index engine directly.
    static std::vector<std::pair<uint32_t, uint64_t>> global_entries(int ix);
    // The set checker's verdict on every open member of a host.
    static std::string check_members(int host);
    // One run of a fault sweep: the files as save_template left them, the
    // host "sales.dat" opened (its number to *host), and op called on it
    // with the nth write failing (n > 0), without a fault (0) or not at all
    // (-1). op's result, with *fired telling whether the nth write came.
    static int faulted_call(long n, const std::function<int(int)> &op, int *host, bool *fired);
};

}  // namespace parttest
