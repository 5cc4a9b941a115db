// The maintenance benchmark's table on SQLite: the same records as the
// engine's set (maintset.h), one row each in record order (the rowid is
// the record number), the 4-byte number, the city and the name in columns of
// their own and the other 16 bytes of the record in a fourth; the same
// three indexes (the number unique, the city with duplicates, the name
// unique). 4,096-byte pages, a page cache of the bytes given, no journal,
// no syncs, an exclusive lock. Each timed operation runs on a connection
// opened for it, as the engine's runs open files that are closed.
#include <sqlite3.h>

#include <cstdio>
#include <string>

#include "bench/maintset.h"
#include "bench/sqlite_exec.h"

namespace bench {

namespace {

// Opens the database with the benchmark's settings; null after a report.
sqlite3 *open_db(const std::string &file, long cache_bytes) {
    sqlite3 *db = nullptr;
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) {
        std::fprintf(stderr, "SQLite: open %s failed\n", file.c_str());
        sqlite3_close(db);
        return nullptr;
    }
    const std::string cache = "PRAGMA cache_size=-" + std::to_string(cache_bytes / 1024);
    if (!exec(db, "PRAGMA page_size=4096") || !exec(db, cache.c_str()) || !exec(db, "PRAGMA journal_mode=OFF") ||
        !exec(db, "PRAGMA synchronous=OFF") || !exec(db, "PRAGMA locking_mode=EXCLUSIVE")) {
        sqlite3_close(db);
        return nullptr;
    }
    return db;
}

// Seconds of the statements on a fresh connection, or -1 after a report.
double timed(const std::string &file, long cache_bytes, const char *sql) {
    sqlite3 *db = open_db(file, cache_bytes);
    if (!db) return -1;
    const double t0 = now_seconds();
    const bool ok = exec(db, sql);
    const double t1 = now_seconds();
    sqlite3_close(db);
    return ok ? t1 - t0 : -1;
}

bool fill(const std::string &file, long cache_bytes, uint32_t records) {
    sqlite3 *db = open_db(file, cache_bytes);
    if (!db) return false;
    sqlite3_stmt *ins = nullptr;
    bool ok = exec(db, "CREATE TABLE rec(number INTEGER NOT NULL, city BLOB NOT NULL, name BLOB NOT NULL,"
                       " rest BLOB NOT NULL)") &&
              exec(db, "BEGIN") &&
              sqlite3_prepare_v2(db, "INSERT INTO rec VALUES(?,?,?,?)", -1, &ins, nullptr) == SQLITE_OK;
    for (uint32_t k = 1; ok && k <= records; k++) {
        const MaintRec r = maint_record(k);
        unsigned char rest[16];
        memcpy(rest, r.tag, 4);
        memcpy(rest + 4, &r.amount, 4);
        memcpy(rest + 8, r.pad, 8);
        sqlite3_bind_int64(ins, 1, r.number);
        sqlite3_bind_blob(ins, 2, r.city, sizeof r.city, SQLITE_STATIC);
        sqlite3_bind_blob(ins, 3, r.name, sizeof r.name, SQLITE_STATIC);
        sqlite3_bind_blob(ins, 4, rest, sizeof rest, SQLITE_STATIC);
        ok = sqlite3_step(ins) == SQLITE_DONE;
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    ok = ok && exec(db, "COMMIT");
    if (!ok) std::fprintf(stderr, "SQLite: filling the table failed: %s\n", sqlite3_errmsg(db));
    sqlite3_close(db);
    return ok;
}

// Checks that the table and each of its indexes hold `want` rows.
bool check_rows(const std::string &file, long cache_bytes, long want, const char *step) {
    sqlite3 *db = open_db(file, cache_bytes);
    if (!db) return false;
    bool ok = true;
    for (const char *sql : {"SELECT count(*) FROM rec INDEXED BY bynumber WHERE number >= 0",
                            "SELECT count(*) FROM rec INDEXED BY bycity WHERE city >= x''",
                            "SELECT count(*) FROM rec INDEXED BY byname WHERE name >= x''",
                            "SELECT count(*) FROM rec NOT INDEXED"}) {
        sqlite3_stmt *s = nullptr;
        long got = -1;
        if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
            got = long(sqlite3_column_int64(s, 0));
        sqlite3_finalize(s);
        if (got != want) {
            std::fprintf(stderr, "SQLite: %s gives %ld after the %s, %ld expected\n", sql, got, step, want);
            ok = false;
        }
    }
    sqlite3_close(db);
    return ok;
}

}  // namespace

bool sqlite_maintenance(const std::string &dir, uint32_t records, long cache_bytes, PeerMaintTimes *t) {
    const std::string file = dir + "/maint_bench.sqlite";
    std::remove(file.c_str());
    const long all = long(records), live = all - all / 2;
    bool ok = fill(file, cache_bytes, records) &&
              (t->create_index = timed(file, cache_bytes,
                                       "BEGIN; CREATE UNIQUE INDEX bynumber ON rec(number);"
                                       " CREATE INDEX bycity ON rec(city); CREATE UNIQUE INDEX byname ON rec(name);"
                                       " COMMIT")) >= 0 &&
              check_rows(file, cache_bytes, all, "CREATE INDEX") &&
              (t->reindex = timed(file, cache_bytes, "REINDEX")) >= 0 &&
              check_rows(file, cache_bytes, all, "REINDEX") &&
              timed(file, cache_bytes, "DELETE FROM rec WHERE rowid % 2 = 0") >= 0 &&
              (t->vacuum = timed(file, cache_bytes, "VACUUM")) >= 0 &&
              check_rows(file, cache_bytes, live, "VACUUM");
    std::remove(file.c_str());
    return ok;
}

}  // namespace bench
