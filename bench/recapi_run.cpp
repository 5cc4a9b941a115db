// The benchmark workload through the record-level API (zarvo/zvdb.h): a
// session with a dictionary of its own and a database made for the run,
// one table of the workload's fields with its three indexes, and one
// record handle doing every phase through the zvdb calls an application
// would use (typed field access, finds on the default index, moves,
// writes, deletes). The session's start parameters give the engine the
// configuration's index nodes and data pages.
//
// The table has no hidden fields or indexes (create bits 0x20, 0x40, 0x200,
// 0x400), so that its data file and indexes hold what the ISAM road's do:
//   FIELD   TYPE                 OFFSET  INDEX
//   name    ZV_FSTRING 24          0     ByName, duplicates
//   amount  ZV_BIGINT              24    ByAmount, duplicates
//   id      ZV_INT4                32    ById, unique
//   pad     ZV_ARRAY 92            36    the workload's payload
// 128 bytes a record, its first byte a letter of the name (a fixed-length
// record must not begin with 0xFF). The checksum is taken over the
// workload's own record layout rebuilt from the fields read.
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/workload.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"

namespace bench {

namespace {

enum Field : int32_t { fName, fAmount, fId, fPad };
enum Index : int32_t { iById, iByName, iByAmount };
constexpr int32_t kPadLen = kRecLen - kPayloadOff;
constexpr uint32_t kCreateBare = 0x20 | 0x40 | 0x200 | 0x400;
const char *const kDatabase = "isam_bench_db";
const char *const kTable = "recapi_bench";

// The handles of one run, freed in reverse order of their making.
struct Handles {
    ZVHANDLE session = nullptr, database = nullptr, table = nullptr, record = nullptr;
    ~Handles() {
        if (record) zvdbFreeRecord(record);
        if (table) {
            zvdbCloseTable(table);
            zvdbFreeTable(table);
        }
        if (database) {
            zvdbDeleteTable(database, kTable, nullptr);
            zvdbFreeDatabase(database);
        }
        if (session) {
            zvdbDeleteDatabase(session, kDatabase);
            zvdbFreeSession(session);
        }
        if (!dict.empty()) std::remove(dict.c_str());
    }
    std::string dict;  // the session dictionary's file
};

// Defines the table's fields and indexes and makes its files; false with
// the failure reported.
bool make_table(Handles &h, const std::string &dir) {
    struct FieldDef {
        const char *name;
        int32_t type, length;
    };
    const FieldDef fields[] = {
        {"name", ZV_FSTRING, kNameLen}, {"amount", ZV_BIGINT, 8}, {"id", ZV_INT4, 4}, {"pad", ZV_ARRAY, kPadLen}};
    ZVHANDLE made[4] = {};
    for (int i = 0; i < 4; i++) {
        made[i] = zvdbAddField(h.table, fields[i].name, fields[i].type, fields[i].length);
        if (!made[i]) return report_failure("records", "zvdbAddField", i, zvdbGetError(h.session)), false;
    }
    struct IndexDef {
        const char *name;
        Field field;
        int dup;
    };
    const IndexDef indexes[] = {{"ById", fId, 0}, {"ByName", fName, 1}, {"ByAmount", fAmount, 1}};
    for (const IndexDef &x : indexes) {
        ZVHANDLE ix = zvdbAddIndex(h.table, x.name, 0, x.dup, 0);
        // Mode 12: the key orders as the field's type does.
        if (!ix || !zvdbAddSegment(ix, made[x.field], 12)) {
            return report_failure("records", "index definition", x.field, zvdbGetError(h.session)), false;
        }
    }
    zvdbSetTableDefaultDataExtentSize(h.table, 8u << 20);
    zvdbSetTableDefaultIndexExtentSize(h.table, 8u << 20);
    zvdbSetTablePath(h.table, dir.c_str());
    if (ZVDBRET rc = zvdbCreateTable(h.table, kTable, kCreateBare)) {
        return report_failure("records", "zvdbCreateTable", 0, rc), false;
    }
    if (ZVDBRET rc = zvdbOpenTable(h.table, kTable, 0)) return report_failure("records", "zvdbOpenTable", 0, rc), false;
    return true;
}

// The session, its dictionary, the database and the open table.
bool set_up(Handles &h, const Config &c, const std::string &dir) {
    h.session = zvdbAllocSession(0);
    if (!h.session) return report_failure("records", "zvdbAllocSession", 0, 0), false;
    zvdbSetSessionPath(h.session, dir.c_str());
    zvdbSetSessionParams(h.session, 1, c.nodes);
    zvdbSetSessionParams(h.session, 2, 32);
    zvdbSetSessionParams(h.session, 3, c.page / 128);
    zvdbSetSessionParams(h.session, 4, c.pages);
    h.dict = dir + "/zvdbdict.qsd";
    std::remove(h.dict.c_str());
    int rc = zvdbCreateSession(h.session, nullptr, "bench", nullptr);
    if (rc == 0) rc = zvdbLogon(h.session, nullptr, "bench", nullptr);
    if (rc == 0) rc = zvdbCreateDatabase(h.session, kDatabase, dir.c_str());
    if (rc) return report_failure("records", "session and database", 0, rc), false;
    h.database = zvdbAllocDatabase(h.session);
    if (!h.database) return report_failure("records", "zvdbAllocDatabase", 0, zvdbGetError(h.session)), false;
    if ((rc = zvdbConnect(h.database, kDatabase)) != 0) return report_failure("records", "zvdbConnect", 0, rc), false;
    h.table = zvdbAllocTable(h.database);
    if (!h.table) return report_failure("records", "zvdbAllocTable", 0, zvdbGetError(h.session)), false;
    if (!make_table(h, dir)) return false;
    h.record = zvdbAllocRecord(h.table);
    if (!h.record) return report_failure("records", "zvdbAllocRecord", 0, zvdbGetError(h.session)), false;
    return true;
}

}  // namespace

bool run_recapi(const Workload &w, const Config &c, const std::string &dir, RunResult *out) {
    Handles h;
    if (!set_up(h, c, dir)) return false;
    ZVHANDLE r = h.record;
    unsigned char rec[kRecLen];
    bool ok = true;
    auto fail = [&](const char *what, long at, long rc) {
        report_failure("records", what, at, rc);
        ok = false;
    };
    // The name, amount and payload of the workload's record into the fields.
    auto put_fields = [&](const unsigned char *from, long at) {
        char name[kNameLen + 1];
        memcpy(name, from + kNameOff, kNameLen);
        name[kNameLen] = 0;
        ZVDBRET rc = zvdbSetFieldAsString(r, fName, name);
        if (rc == 0) rc = zvdbSetFieldAsBigint(r, fAmount, rec_amount(from));
        if (rc == 0) rc = zvdbSetFieldAsBinary(r, fPad, from + kPayloadOff, kPadLen);
        if (rc) fail("field write", at, rc);
    };
    // The workload's record rebuilt from the fields of the record read, and
    // its checksum.
    auto record_read = [&](long at) {
        char name[kNameLen + 1];
        int32_t id = 0;
        ZVBIGINT amount = 0;
        ZVDBRET rc = zvdbGetFieldAsString(r, fName, name, sizeof name);
        if (rc == 0) rc = zvdbGetFieldAsSigned(r, fId, &id);
        if (rc == 0) rc = zvdbGetFieldAsBigint(r, fAmount, &amount);
        if (rc == 0) rc = zvdbGetFieldAsBinary(r, fPad, rec + kPayloadOff, kPadLen);
        if (rc) fail("field read", at, rc);
        memcpy(rec + kNameOff, name, kNameLen);
        const uint32_t uid = uint32_t(id);
        memcpy(rec + kIdOff, &uid, 4);
        memcpy(rec + kAmountOff, &amount, 8);
        return record_sum(rec);
    };
    auto read_one = [&](uint32_t id, long at) {
        ZVDBRET rc = zvdbSetFieldAsSigned(r, fId, int32_t(id));
        if (rc == 0) rc = zvdbFindRecord(r, 0);
        if (rc) fail("zvdbFindRecord", at, rc);
        return record_read(at);
    };
    PhaseClock clock(out);

    clock.start();
    for (long i = 0; i < w.n && ok; i++) {
        const uint32_t id = w.load[size_t(i)];
        make_record(rec, id, 0, w.groups);
        ZVDBRET rc = zvdbClearRecord(r);
        if (rc == 0) rc = zvdbSetFieldAsSigned(r, fId, int32_t(id));
        if (rc) fail("zvdbClearRecord", i, rc);
        put_fields(rec, i);
        if (ok && (rc = zvdbWriteRecord(r)) != 0) fail("zvdbWriteRecord", i, rc);
    }
    clock.stop(kLoad, 0);

    if (ZVDBRET rc = zvdbSetDefaultIndex(r, iById)) fail("zvdbSetDefaultIndex", 0, rc);
    clock.start();
    clock.stop(kReads, visit(w.reads, ok, read_one));

    if (ZVDBRET rc = zvdbSetDefaultIndex(r, iByName)) fail("zvdbSetDefaultIndex", 1, rc);
    clock.start();
    uint64_t sum = 0;
    long count = 0;
    ZVDBRET rc = ok ? zvdbFirstRecord(r) : -1;
    while (rc == 0) {
        sum += record_read(count++);
        rc = zvdbNextRecord(r);
    }
    if (rc != 101 || count != w.n) fail("walk", count, rc);
    clock.stop(kWalk, sum);

    if ((rc = zvdbSetDefaultIndex(r, iById)) != 0) fail("zvdbSetDefaultIndex", 2, rc);
    clock.start();
    clock.stop(kRewrite, visit(w.changes, ok, [&](uint32_t id, long at) {
        const uint64_t check = read_one(id, at);
        make_record(rec, id, 1, w.groups);
        put_fields(rec, at);
        if (ZVDBRET e = zvdbWriteRecord(r)) fail("zvdbWriteRecord", at, e);
        return check;
    }));
    clock.start();
    clock.stop(kDelete, visit(w.changes, ok, [&](uint32_t id, long at) {
        const uint64_t check = read_one(id, at);
        if (ZVDBRET e = zvdbDeleteRecord(r)) fail("zvdbDeleteRecord", at, e);
        return check;
    }));

    uint64_t left = 0;
    if ((rc = zvdbGetRecordCount(r, &left)) != 0) fail("zvdbGetRecordCount", 0, rc);
    if (left != uint64_t(w.n) - w.changes.size()) {
        std::fprintf(stderr, "records: %llu records left, %llu expected\n", (unsigned long long)left,
                     (unsigned long long)(uint64_t(w.n) - w.changes.size()));
        ok = false;
    }
    zvdbFreeRecord(r);
    h.record = nullptr;
    out->ok = ok;
    return true;
}

}  // namespace bench
