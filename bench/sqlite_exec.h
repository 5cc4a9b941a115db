// What the SQLite peers of the benchmarks share: running statements that
// return no rows.
#pragma once

#include <sqlite3.h>

#include <cstdio>

namespace bench {

// Runs the SQL text on db: true, or false after a report on stderr.
inline bool exec(sqlite3 *db, const char *sql) {
    char *err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "SQLite: %s: %s\n", sql, err ? err : "?");
        sqlite3_free(err);
        return false;
    }
    return true;
}

}  // namespace bench
