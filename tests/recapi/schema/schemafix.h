// Fixture of the schema tests: a fresh directory, a logged-on logon-only
// session with an instance of its own, and a free table allocated under it
// (tests/support/tablesession.h), which a test may bind to a file set.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "recapi/base/handles.h"
#include "recapi/schema/field.h"
#include "tests/support/tablesession.h"
#include "zarvo/zarvo.h"

namespace schematest {

class SchemaTest : public zvtest::TableSessionTest {
protected:
    void TearDown() override;

    // Adds a field that must be accepted.
    tagZVDBFIELD *field(const char *name, int32_t type, int32_t length = 0);
    // Adds an index that must be accepted.
    tagZVDBINDEX *index(const char *name, int dup = 0);

    // Binds the table to the file set "fix" of a 24-byte record: fields
    // "id" ZV_INT4 at 0, "qty" ZV_INT4 at 4, "name" ZV_FSTRING 16 at 8;
    // indexes "byid" (unique, extended segment 0/4, mode 0) and "byname"
    // (ikeydup `namedup`, schema segment on "name", mode 12).
    void bind_fixture(uint32_t createmode = 0, int16_t namedup = 1);
    // Closes the fixture set, deletes its files and leaves the table closed.
    void unbind_fixture();

    bool bound_ = false;
};

}  // namespace schematest
