// Fixture of the tests of table maintenance (rebuild, move, rename, clone,
// temporary tables): the "cust" table of the table-file tests made and
// opened, records written and read straight through the engine, and the
// table's contents as the engine gives them back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/recapi/schema/custfix.h"

namespace schematest {

class MaintTest : public CustTest {
protected:
    // Creates the cust table (in the working directory) and opens it with
    // open mode `openmode`; with ownfile the index "byname" has a file of
    // its own, "cust_nm.idx".
    void make_cust(bool ownfile = false, uint32_t createmode = 0, uint32_t openmode = 0);
    // Adds records with id from..to-1 (name "n" + id % 7, amount 10 x id)
    // to the open table t.
    static void add(tagZVDBTABLE *t, int from, int to);
    // The ids of the open table t in the order of its index n (its user
    // indexes from 0; -1 the data file's physical order through "$RECBYT$").
    static std::vector<int32_t> ids(tagZVDBTABLE *t, int n);
    // The ids of the open table t read through the record layer in the data
    // file's physical order, sorted; {-code} when a read fails otherwise
    // than at the end.
    static std::vector<int32_t> scan(tagZVDBTABLE *t);
    // The ids from..to-1.
    static std::vector<int32_t> range(int from, int to);
    // Whether every index of the open table t yields exactly `want` (in id
    // order for "pk", as a set for the others).
    static bool holds(tagZVDBTABLE *t, const std::vector<int32_t> &want);
    // Removes every file of the working directory (but the status log) and
    // copies the saved template's files back.
    static void back_to_template();
};

}  // namespace schematest
