// Fixture of the tests of tables and records: a fresh directory, a
// logged-on logon-only session with an instance of its own, and a free
// table allocated under it, freed with the session at the end of the test.
#pragma once

#include <gtest/gtest.h>

#include "recapi/base/handles.h"
#include "tests/support/fixture.h"

namespace zvtest {

class TableSessionTest : public ZvTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // The session's last code, and a mark that no call sets.
    int last() const { return zvdbGetError(session_); }
    void mark() const { zvdbSetError(session_, 7777); }
    // Logs the session on again with caches of `buffers` index nodes and
    // data pages, so that writes fall inside the calls that make them.
    void small_caches(int32_t buffers = 3);

    tagZVDBSESSION *session_ = nullptr;
    tagZVDBTABLE *table_ = nullptr;
};

}  // namespace zvtest
