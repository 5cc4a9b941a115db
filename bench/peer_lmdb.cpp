// The benchmark workload on LMDB: the records keyed by id (integer keys),
// and two sorted-duplicate databases from the name and from the amount to
// the id, kept in step by the benchmark in the same write transaction; no
// syncs, one transaction per phase. LMDB maps its file and has no cache of
// its own to size: its pages stay in the system's file cache.
#include <lmdb.h>

#include <cstdio>
#include <string>

#include "bench/workload.h"

namespace bench {

namespace {

// The amount as 8 bytes that sort as the signed value.
void amount_key(int64_t v, unsigned char *k) {
    const uint64_t u = uint64_t(v) ^ (1ull << 63);
    for (int i = 0; i < 8; i++) k[i] = static_cast<unsigned char>(u >> (56 - 8 * i));
}

struct Lmdb {
    MDB_env *env = nullptr;
    MDB_txn *txn = nullptr;
    MDB_dbi recs = 0, names = 0, amounts = 0;
    bool ok = true;

    void fail(const char *what, long at, int rc) {
        report_failure("LMDB", what, at, rc);
        ok = false;
    }
    void begin(unsigned flags) {
        if (int rc = mdb_txn_begin(env, nullptr, flags, &txn)) fail("mdb_txn_begin", 0, rc);
    }
    void commit() {
        if (!txn) return;
        if (int rc = mdb_txn_commit(txn)) fail("mdb_txn_commit", 0, rc);
        txn = nullptr;
    }
    // Reads the record of `id` into r.
    void get(uint32_t id, unsigned char *r, long at) {
        MDB_val k{4, &id}, v;
        if (int rc = mdb_get(txn, recs, &k, &v)) return fail("mdb_get", at, rc);
        if (v.mv_size != size_t(kRecLen)) return fail("record length", at, long(v.mv_size));
        memcpy(r, v.mv_data, kRecLen);
    }
    // Adds (with add) or removes the two secondary entries of record r.
    void index(const unsigned char *r, bool add, long at) {
        uint32_t id = rec_id(r);
        unsigned char ak[8];
        amount_key(rec_amount(r), ak);
        MDB_val nk{size_t(kNameLen), const_cast<unsigned char *>(r + kNameOff)}, ka{8, ak}, d{4, &id};
        if (add) {
            if (int rc = mdb_put(txn, names, &nk, &d, 0)) fail("mdb_put name", at, rc);
            if (int rc = mdb_put(txn, amounts, &ka, &d, 0)) fail("mdb_put amount", at, rc);
        } else {
            if (int rc = mdb_del(txn, names, &nk, &d)) fail("mdb_del name", at, rc);
            if (int rc = mdb_del(txn, amounts, &ka, &d)) fail("mdb_del amount", at, rc);
        }
    }
};

}  // namespace

bool run_lmdb(const Workload &w, const Config &, const std::string &dir, RunResult *out) {
    const std::string file = dir + "/isam_bench.lmdb", lock = file + "-lock";
    std::remove(file.c_str());
    std::remove(lock.c_str());
    Lmdb db;
    if (int rc = mdb_env_create(&db.env)) {
        report_failure("LMDB", "mdb_env_create", 0, rc);
        return false;
    }
    mdb_env_set_maxdbs(db.env, 3);
    mdb_env_set_mapsize(db.env, size_t(w.n) * 2048 + (size_t(1) << 30));
    if (int rc = mdb_env_open(db.env, file.c_str(), MDB_NOSUBDIR | MDB_NOSYNC | MDB_NOMETASYNC, 0644)) {
        report_failure("LMDB", "mdb_env_open", 0, rc);
        mdb_env_close(db.env);
        return false;
    }
    db.begin(0);
    const unsigned dup = MDB_CREATE | MDB_DUPSORT | MDB_DUPFIXED | MDB_INTEGERDUP;
    if (db.ok) {
        if (int rc = mdb_dbi_open(db.txn, "records", MDB_CREATE | MDB_INTEGERKEY, &db.recs)) db.fail("open", 0, rc);
        if (int rc = mdb_dbi_open(db.txn, "names", dup, &db.names)) db.fail("open", 0, rc);
        if (int rc = mdb_dbi_open(db.txn, "amounts", dup, &db.amounts)) db.fail("open", 0, rc);
    }
    db.commit();
    unsigned char rec[kRecLen], old[kRecLen];
    PhaseClock clock(out);

    clock.start();
    db.begin(0);
    for (long i = 0; i < w.n && db.ok; i++) {
        uint32_t id = w.load[size_t(i)];
        make_record(rec, id, 0, w.groups);
        MDB_val k{4, &id}, v{size_t(kRecLen), rec};
        if (int rc = mdb_put(db.txn, db.recs, &k, &v, MDB_NOOVERWRITE)) db.fail("mdb_put", i, rc);
        db.index(rec, true, i);
    }
    db.commit();
    clock.stop(kLoad, 0);

    // Reads the record of `id` into r and returns its checksum.
    auto read_one = [&](uint32_t id, long at, unsigned char *r) {
        db.get(id, r, at);
        return record_sum(r);
    };
    clock.start();
    db.begin(MDB_RDONLY);
    uint64_t sum = visit(w.reads, db.ok, [&](uint32_t id, long at) { return read_one(id, at, rec); });
    db.commit();
    clock.stop(kReads, sum);

    clock.start();
    db.begin(MDB_RDONLY);
    sum = 0;
    long count = 0;
    MDB_cursor *cur = nullptr;
    if (db.ok) {
        if (int rc = mdb_cursor_open(db.txn, db.names, &cur)) db.fail("mdb_cursor_open", 0, rc);
    }
    if (cur) {
        MDB_val k, d;
        int rc = mdb_cursor_get(cur, &k, &d, MDB_FIRST);
        while (rc == 0 && db.ok) {
            uint32_t id;
            memcpy(&id, d.mv_data, 4);
            db.get(id, rec, count);
            sum += record_sum(rec);
            count++;
            rc = mdb_cursor_get(cur, &k, &d, MDB_NEXT);
        }
        if (rc != MDB_NOTFOUND) db.fail("mdb_cursor_get", count, rc);
        mdb_cursor_close(cur);
    }
    db.commit();
    if (count != w.n) db.fail("walk", count, 0);
    clock.stop(kWalk, sum);

    clock.start();
    db.begin(0);
    sum = visit(w.changes, db.ok, [&](uint32_t id, long at) {
        const uint64_t check = read_one(id, at, old);
        make_record(rec, id, 1, w.groups);
        MDB_val k{4, &id}, v{size_t(kRecLen), rec};
        if (int rc = mdb_put(db.txn, db.recs, &k, &v, 0)) db.fail("mdb_put", at, rc);
        db.index(old, false, at);
        db.index(rec, true, at);
        return check;
    });
    db.commit();
    clock.stop(kRewrite, sum);

    clock.start();
    db.begin(0);
    sum = visit(w.changes, db.ok, [&](uint32_t id, long at) {
        const uint64_t check = read_one(id, at, old);
        MDB_val k{4, &id};
        if (int rc = mdb_del(db.txn, db.recs, &k, nullptr)) db.fail("mdb_del", at, rc);
        db.index(old, false, at);
        return check;
    });
    db.commit();
    clock.stop(kDelete, sum);

    db.begin(MDB_RDONLY);
    MDB_stat st{};
    for (MDB_dbi dbi : {db.recs, db.names, db.amounts}) {
        if (db.ok && mdb_stat(db.txn, dbi, &st) == 0 && long(st.ms_entries) != w.n - long(w.changes.size()))
            db.fail("count", long(st.ms_entries), 0);
    }
    db.commit();
    mdb_env_close(db.env);
    std::remove(file.c_str());
    std::remove(lock.c_str());
    out->ok = db.ok;
    return true;
}

}  // namespace bench
