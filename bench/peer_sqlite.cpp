// The benchmark workload on SQLite: one table whose rowid is the id, with
// an index on the name and one on the amount; 8 KB pages, the page cache
// given the same bytes as the engine's cache, no journal, no syncs, one
// transaction per phase.
#include <sqlite3.h>

#include <cstdio>
#include <string>

#include "bench/sqlite_exec.h"
#include "bench/workload.h"

namespace bench {

namespace {

// The record of the current row of a statement selecting id, name, amount
// and payload.
void row_record(sqlite3_stmt *s, unsigned char *r) {
    const uint32_t id = uint32_t(sqlite3_column_int64(s, 0));
    const int64_t amount = sqlite3_column_int64(s, 2);
    memcpy(r + kNameOff, sqlite3_column_blob(s, 1), kNameLen);
    memcpy(r + kIdOff, &id, 4);
    memcpy(r + kAmountOff, &amount, 8);
    memcpy(r + kPayloadOff, sqlite3_column_blob(s, 3), kRecLen - kPayloadOff);
}

}  // namespace

bool run_sqlite(const Workload &w, const Config &c, const std::string &dir, RunResult *out) {
    const std::string file = dir + "/isam_bench.sqlite";
    std::remove(file.c_str());
    sqlite3 *db = nullptr;
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) {
        report_failure("SQLite", "sqlite3_open", 0, 1);
        sqlite3_close(db);
        return false;
    }
    const std::string cache = "PRAGMA cache_size=-" + std::to_string(c.cache_bytes() / 1024);
    const std::string page = "PRAGMA page_size=" + std::to_string(kPageSize);
    if (!exec(db, page.c_str()) || !exec(db, cache.c_str()) || !exec(db, "PRAGMA journal_mode=OFF") ||
        !exec(db, "PRAGMA synchronous=OFF") || !exec(db, "PRAGMA locking_mode=EXCLUSIVE") ||
        !exec(db, "CREATE TABLE rec(id INTEGER PRIMARY KEY, name BLOB NOT NULL, amount INTEGER NOT NULL,"
                  " payload BLOB NOT NULL)") ||
        !exec(db, "CREATE INDEX byname ON rec(name)") || !exec(db, "CREATE INDEX byamount ON rec(amount)")) {
        sqlite3_close(db);
        return false;
    }
    sqlite3_stmt *ins = nullptr, *sel = nullptr, *walk = nullptr, *upd = nullptr, *del = nullptr, *cnt = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO rec VALUES(?,?,?,?)", -1, &ins, nullptr);
    sqlite3_prepare_v2(db, "SELECT id, name, amount, payload FROM rec WHERE id=?", -1, &sel, nullptr);
    sqlite3_prepare_v2(db, "SELECT id, name, amount, payload FROM rec ORDER BY name", -1, &walk, nullptr);
    sqlite3_prepare_v2(db, "UPDATE rec SET name=?, amount=? WHERE id=?", -1, &upd, nullptr);
    sqlite3_prepare_v2(db, "DELETE FROM rec WHERE id=?", -1, &del, nullptr);
    sqlite3_prepare_v2(db, "SELECT count(*) FROM rec", -1, &cnt, nullptr);
    bool ok = ins && sel && walk && upd && del && cnt;
    unsigned char rec[kRecLen];
    auto fail = [&](const char *what, long at) {
        report_failure("SQLite", what, at, sqlite3_errcode(db));
        ok = false;
    };
    auto read_one = [&](uint32_t id, long at) {
        sqlite3_bind_int64(sel, 1, id);
        if (sqlite3_step(sel) == SQLITE_ROW) row_record(sel, rec);
        else fail("SELECT", at);
        sqlite3_reset(sel);
        return record_sum(rec);
    };
    PhaseClock clock(out);

    clock.start();
    exec(db, "BEGIN");
    for (long i = 0; i < w.n && ok; i++) {
        const uint32_t id = w.load[size_t(i)];
        make_record(rec, id, 0, w.groups);
        sqlite3_bind_int64(ins, 1, id);
        sqlite3_bind_blob(ins, 2, rec + kNameOff, kNameLen, SQLITE_STATIC);
        sqlite3_bind_int64(ins, 3, rec_amount(rec));
        sqlite3_bind_blob(ins, 4, rec + kPayloadOff, kRecLen - kPayloadOff, SQLITE_STATIC);
        if (sqlite3_step(ins) != SQLITE_DONE) fail("INSERT", i);
        sqlite3_reset(ins);
    }
    exec(db, "COMMIT");
    clock.stop(kLoad, 0);

    clock.start();
    exec(db, "BEGIN");
    uint64_t sum = visit(w.reads, ok, read_one);
    exec(db, "COMMIT");
    clock.stop(kReads, sum);

    clock.start();
    exec(db, "BEGIN");
    sum = 0;
    long count = 0;
    while (sqlite3_step(walk) == SQLITE_ROW) {
        row_record(walk, rec);
        sum += record_sum(rec);
        count++;
    }
    sqlite3_reset(walk);
    exec(db, "COMMIT");
    if (count != w.n) fail("walk", count);
    clock.stop(kWalk, sum);

    clock.start();
    exec(db, "BEGIN");
    sum = visit(w.changes, ok, [&](uint32_t id, long at) {
        const uint64_t check = read_one(id, at);
        make_record(rec, id, 1, w.groups);
        sqlite3_bind_blob(upd, 1, rec + kNameOff, kNameLen, SQLITE_STATIC);
        sqlite3_bind_int64(upd, 2, rec_amount(rec));
        sqlite3_bind_int64(upd, 3, id);
        if (sqlite3_step(upd) != SQLITE_DONE) fail("UPDATE", at);
        sqlite3_reset(upd);
        return check;
    });
    exec(db, "COMMIT");
    clock.stop(kRewrite, sum);

    clock.start();
    exec(db, "BEGIN");
    sum = visit(w.changes, ok, [&](uint32_t id, long at) {
        const uint64_t check = read_one(id, at);
        sqlite3_bind_int64(del, 1, id);
        if (sqlite3_step(del) != SQLITE_DONE) fail("DELETE", at);
        sqlite3_reset(del);
        return check;
    });
    exec(db, "COMMIT");
    clock.stop(kDelete, sum);

    long left = -1;
    if (cnt && sqlite3_step(cnt) == SQLITE_ROW) left = long(sqlite3_column_int64(cnt, 0));
    if (left != w.n - long(w.changes.size())) fail("count", left);
    for (sqlite3_stmt *s : {ins, sel, walk, upd, del, cnt}) sqlite3_finalize(s);
    sqlite3_close(db);
    std::remove(file.c_str());
    out->ok = ok;
    return true;
}

}  // namespace bench
