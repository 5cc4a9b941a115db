// Fixture of the schema tests: a fresh directory, a logged-on logon-only
// session with an instance of its own, and a free table allocated under it
// (tests/support/tablesession.h), which a test may bind to a file set.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>

#include "engine/core/platform.h"
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
    // Changes the open table's pad bytes, then runs a call that closes it
    // with the engine's first write failing (EIO): the close fails, its code
    // is the session's last code, and the table is closed all the same.
    template <typename Close>
    void expect_failed_close(Close close) {
        ASSERT_EQ(zvdbUpdatePadChar(table_, '*', '|'), 0);
        mark();
        zv::fault_set(zv::IoKind::Write, 1, EIO, true);
        const int rc = close();
        zv::fault_reset();
        EXPECT_NE(rc, 0);
        EXPECT_EQ(last(), rc);
        EXPECT_EQ(zvdbIsActiveTable(table_), 0);
    }

    bool bound_ = false;
};

}  // namespace schematest
