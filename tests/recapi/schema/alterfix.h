// Fixture of the alteration tests: the table "alt" made and opened through
// the API, records put into its files and read back through the engine's
// own calls, and what the engine reads back from its files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/recapi/schema/custfix.h"

namespace schematest {

// One record of the raw layout.
struct Row {
    int32_t id;
    int32_t qty;
    std::string name;
    int32_t c = -1;
    bool operator==(const Row &o) const { return id == o.id && qty == o.qty && name == o.name && c == o.c; }
};

class AlterTest : public CustTest {
protected:
    // Create mode of tables whose records are just the user fields: no
    // "$DELFLD$", "$NULFLD$" or "$ROWID$" (the "$RECBYT$" index stays).
    static constexpr uint32_t kRaw = 0x200 | 0x400 | 64;

    // Gives the table its fields and indexes, creates "alt" with the create
    // mode and opens it.
    void create(const std::function<void(ZVHANDLE)> &build, uint32_t createmode = kRaw);
    void open(uint32_t openmode = 0);
    void reopen();
    ZVHANDLE fld(const char *name) { return zvdbGetFieldByName(table_, name); }
    ZVHANDLE idx(const char *name) { return zvdbGetIndexByName(table_, name); }

    // The raw layout: "name" ZV_FSTRING 16, "id" and "qty" ZV_INT4 (24
    // bytes), "byid" unique on id and "byname" with duplicates on name,
    // both in the table's index file; rows id 1..n, qty id * 10, name
    // "n<id % 7>", added through the engine.
    static void layout(ZVHANDLE t);
    void fill(int n);
    // The rows of the open table read through a record by field name
    // ("title" for a renamed "name"; qty and c -1 without those fields), by
    // id.
    std::vector<Row> rows();
    // The keys of the open table's index of that name (-1 when none).
    int64_t keys(const char *index);
    // Every file of the directory with its bytes.
    static std::vector<std::pair<std::string, std::string>> snapshot();
    // Whether the directory holds these files with these bytes; the names
    // that differ are reported.
    static ::testing::AssertionResult same_files(const std::vector<std::pair<std::string, std::string>> &before);

    // The platform allocations that zvdbAlterTable(action) makes, which
    // must succeed; the table is then removed and a fresh handle takes its
    // place.
    uint64_t alteration_allocations(uint32_t action);

    static Row row(int id) { return Row{id, id * 10, "n" + std::to_string(id % 7)}; }
    static std::vector<Row> rows_upto(int n);
};

// Appends a field and an index with one segment (mode 12) per field, with
// a file of its own when `file` is given.
void add_field(ZVHANDLE t, const char *name, int32_t type, int32_t length = 0);
void add_index(ZVHANDLE t, const char *name, int dup, std::vector<const char *> fields, const char *file = nullptr);

}  // namespace schematest
