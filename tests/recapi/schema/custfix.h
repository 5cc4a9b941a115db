// Fixture of the table-file tests: the schema fixture's free table, given
// the "cust" layout (fields id ZV_INT4, name ZV_FSTRING 20, amount
// ZV_MONEY; unique index "pk" on id and duplicate index "byname" on name,
// both with segment mode 12), and what the engine itself reads back from
// the files a table made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/recapi/schema/schemafix.h"
#include "zarvo/zarvo.h"

namespace schematest {

// Schema and definition of a data file as the engine gives them back.
struct Stored {
    int code = 0;          // the first failing engine code of the reads
    std::vector<DATOBJ> doda;
    std::vector<std::string> names;  // of doda's entries
    IFIL *ifil = nullptr;  // owned
    int32_t filemode = 0;  // GETFIL mode 3
    int32_t xmode = 0;     // GETFIL mode 26
    ~Stored();
    // The entry of that name, or NULL.
    const DATOBJ *entry(const char *name) const;
    // The index of that name, or NULL.
    const IIDX *index(const char *name) const;
};

class CustTest : public SchemaTest {
protected:
    void SetUp() override;

    // Gives the table the cust layout.
    void cust();
    // The regular files of the current directory (but the status log),
    // sorted.
    static std::vector<std::string> files();
    // Opens name (with its extension) through the engine alone and reads
    // its schema and definition; the file is closed again.
    static void read_back(const char *name, Stored *out);
};

}  // namespace schematest
