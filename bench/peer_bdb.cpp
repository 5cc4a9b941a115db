// The benchmark workload on Berkeley DB: a B-tree of the records keyed by
// the id (big-endian), and two B-trees with sorted duplicates, from the name
// and from the amount, associated to it as secondaries so that the library
// keeps them in step; 8 KB pages, a private environment whose cache has the
// same bytes as the engine's cache, no transactions, no logging.
#include <db.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/workload.h"

namespace bench {

namespace {

int name_of(DB *, const DBT *, const DBT *data, DBT *result) {
    memset(result, 0, sizeof *result);
    result->data = static_cast<unsigned char *>(data->data) + kNameOff;
    result->size = kNameLen;
    return 0;
}

int amount_of(DB *, const DBT *, const DBT *data, DBT *result) {
    memset(result, 0, sizeof *result);
    result->data = static_cast<unsigned char *>(data->data) + kAmountOff;
    result->size = 8;
    return 0;
}

// Amount keys are the record's host-order signed integers.
int compare_amount(DB *, const DBT *a, const DBT *b) {
    int64_t x, y;
    memcpy(&x, a->data, 8);
    memcpy(&y, b->data, 8);
    return x < y ? -1 : x > y ? 1 : 0;
}

struct Bdb {
    DB_ENV *env = nullptr;
    DB *recs = nullptr, *names = nullptr, *amounts = nullptr;
    bool ok = true;
    unsigned char keybuf[4];
    DBT key{}, data{};

    void fail(const char *what, long at, int rc) {
        report_failure("Berkeley DB", what, at, rc);
        ok = false;
    }
    // Points `key` at the big-endian id and `data` at r.
    void set(uint32_t id, unsigned char *r) {
        for (int i = 0; i < 4; i++) keybuf[i] = static_cast<unsigned char>(id >> (24 - 8 * i));
        key.data = keybuf;
        key.size = 4;
        data.data = r;
        data.size = data.ulen = kRecLen;
        data.flags = DB_DBT_USERMEM;
    }
    void get(uint32_t id, unsigned char *r, long at) {
        set(id, r);
        if (int rc = recs->get(recs, nullptr, &key, &data, 0)) fail("get", at, rc);
    }
    // Opens (emptied) a B-tree file; a secondary has sorted duplicates and
    // may order its keys by `compare`.
    DB *open_db(const char *file, bool dups, int (*compare)(DB *, const DBT *, const DBT *) = nullptr) {
        DB *db = nullptr;
        if (int rc = db_create(&db, env, 0)) {
            fail("db_create", 0, rc);
            return nullptr;
        }
        db->set_pagesize(db, kPageSize);
        if (dups) db->set_flags(db, DB_DUP | DB_DUPSORT);
        if (compare) db->set_bt_compare(db, compare);
        if (int rc = db->open(db, nullptr, file, nullptr, DB_BTREE, DB_CREATE | DB_TRUNCATE, 0644)) {
            fail("open", 0, rc);
            db->close(db, 0);
            return nullptr;
        }
        return db;
    }
};

const char *const kFiles[] = {"isam_bench_rec.bdb", "isam_bench_name.bdb", "isam_bench_amount.bdb"};

}  // namespace

bool run_bdb(const Workload &w, const Config &c, const std::string &dir, RunResult *out) {
    for (const char *f : kFiles) std::remove((dir + "/" + f).c_str());
    Bdb db;
    if (int rc = db_env_create(&db.env, 0)) {
        report_failure("Berkeley DB", "db_env_create", 0, rc);
        return false;
    }
    db.env->set_cachesize(db.env, 0, uint32_t(c.cache_bytes()), 1);
    if (int rc = db.env->open(db.env, dir.c_str(), DB_CREATE | DB_INIT_MPOOL | DB_PRIVATE, 0)) {
        report_failure("Berkeley DB", "environment open", 0, rc);
        db.env->close(db.env, 0);
        return false;
    }
    db.recs = db.open_db(kFiles[0], false);
    db.names = db.open_db(kFiles[1], true);
    db.amounts = db.open_db(kFiles[2], true, compare_amount);
    if (db.recs && db.names && db.amounts) {
        if (int rc = db.recs->associate(db.recs, nullptr, db.names, name_of, 0)) db.fail("associate", 0, rc);
        if (int rc = db.recs->associate(db.recs, nullptr, db.amounts, amount_of, 0)) db.fail("associate", 0, rc);
    } else {
        db.ok = false;
    }
    unsigned char rec[kRecLen];
    PhaseClock clock(out);

    clock.start();
    for (long i = 0; i < w.n && db.ok; i++) {
        const uint32_t id = w.load[size_t(i)];
        make_record(rec, id, 0, w.groups);
        db.set(id, rec);
        if (int rc = db.recs->put(db.recs, nullptr, &db.key, &db.data, DB_NOOVERWRITE)) db.fail("put", i, rc);
    }
    clock.stop(kLoad, 0);

    // Reads the record of `id` into rec and returns its checksum.
    auto read_one = [&](uint32_t id, long at) {
        db.get(id, rec, at);
        return record_sum(rec);
    };
    clock.start();
    clock.stop(kReads, visit(w.reads, db.ok, read_one));

    clock.start();
    uint64_t sum = 0;
    long count = 0;
    DBC *cur = nullptr;
    if (db.ok) {
        if (int rc = db.names->cursor(db.names, nullptr, &cur, 0)) db.fail("cursor", 0, rc);
    }
    if (cur) {
        DBT k{}, d{};
        d.data = rec;
        d.ulen = kRecLen;
        d.flags = DB_DBT_USERMEM;
        int rc;
        while ((rc = cur->get(cur, &k, &d, DB_NEXT)) == 0) {
            sum += record_sum(rec);
            count++;
        }
        if (rc != DB_NOTFOUND) db.fail("cursor get", count, rc);
        cur->close(cur);
    }
    if (count != w.n) db.fail("walk", count, 0);
    clock.stop(kWalk, sum);

    clock.start();
    clock.stop(kRewrite, visit(w.changes, db.ok, [&](uint32_t id, long at) {
        const uint64_t check = read_one(id, at);
        make_record(rec, id, 1, w.groups);
        db.set(id, rec);
        if (int rc = db.recs->put(db.recs, nullptr, &db.key, &db.data, 0)) db.fail("put", at, rc);
        return check;
    }));

    clock.start();
    clock.stop(kDelete, visit(w.changes, db.ok, [&](uint32_t id, long at) {
        const uint64_t check = read_one(id, at);
        if (int rc = db.recs->del(db.recs, nullptr, &db.key, 0)) db.fail("del", at, rc);
        return check;
    }));

    for (DB *d : {db.recs, db.names, db.amounts}) {
        DB_BTREE_STAT *st = nullptr;
        if (d && db.ok && d->stat(d, nullptr, &st, 0) == 0) {
            if (long(st->bt_ndata) != w.n - long(w.changes.size())) db.fail("count", long(st->bt_ndata), 0);
            free(st);
        }
    }
    // Secondaries close before their primary.
    for (DB *d : {db.names, db.amounts, db.recs})
        if (d) d->close(d, DB_NOSYNC);
    db.env->close(db.env, 0);
    for (const char *f : kFiles) std::remove((dir + "/" + f).c_str());
    out->ok = db.ok;
    return true;
}

}  // namespace bench
