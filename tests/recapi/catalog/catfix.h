// Fixture of the catalogue tests: a fresh directory holding a new session
// dictionary, a session of its own logged on to it, and helpers that make
// databases, tables and entries.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "recapi/base/handles.h"
#include "recapi/catalog/dictionary.h"
#include "tests/support/fixture.h"

namespace cattest {

// Regular files and directories (with a '/') of a directory but the
// status log, sorted.
std::vector<std::string> listing(const std::string &dir = ".");

class CatalogTest : public zvtest::ZvTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Logs the session on again with page caches of two buffers: the
    // dictionary's pages are written inside the calls, where a failing
    // write is seen.
    void small_cache();
    // The session's last code.
    int last() const { return zvdbGetError(session_); }
    // Creates the database (directory made first) and connects a new
    // handle to it (exclusively or not); the handle is freed at the end of
    // the test.
    tagZVDBDATABASE *connect(const char *name = "Sales", const char *dir = "db", int exclusive = 0);
    // A table under the handle with the fields custno (ZV_INT4) and name
    // (ZV_FSTRING 20) and one unique index of that name on custno, created
    // as `name`: the create's code; the handle is freed.
    int make_table(ZVHANDLE owner, const char *name, const char *index);
    // Writes an entry as it stands (its UID included) straight into the
    // dictionary.
    void put_entry(ZVDBDICT *d, const ZVDBDICTENTRY &e);
    // An entry of the type with the name (and physical name), link and
    // UID.
    static ZVDBDICTENTRY entry(uint32_t type, const char *name, const char *link = "", uint32_t uid = 0);
    // The names of the entries of a walk by type.
    std::vector<std::string> walk(ZVDBDICT *d, uint32_t type);

    tagZVDBSESSION *session_ = nullptr;
    std::vector<tagZVDBDATABASE *> databases_;
};

// The database "Sales" (directory "db") connected, holding the table
// "cust" with its index "custno".
class CustTest : public CatalogTest {
protected:
    void SetUp() override;
    tagZVDBDATABASE *db_ = nullptr;
};

}  // namespace cattest
