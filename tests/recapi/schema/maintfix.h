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

// The same with a session logged on, with small caches, to a session
// dictionary of its own and the database "Sales" (directory "db")
// connected: table_ is a table of that database.
class MaintDbTest : public MaintTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Creates "cust" in the database: the cust fields, index "custno"
    // (unique, on id) in the table's index file and index "cust_nm"
    // (duplicates, on name) with its own file "cust_nm.idx"; opens it.
    void make_db_cust();
    // The dictionary entry of the table or index of that name: 0 or 101.
    int table_entry(const char *name, ZVDBDICTENTRY *e);
    int index_entry(const char *name, ZVDBDICTENTRY *e);

    tagZVDBDATABASE *db_ = nullptr;
};

}  // namespace schematest
