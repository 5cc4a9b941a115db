// Entries as stored: mirror files inside PATH, the SQL mark and the
// after-read filter it turns on, UIDs and the repair of the serial number
// they come from, and the session lock each operation takes.
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/lockent.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "recapi/base/wrappers.h"
#include "tests/recapi/catalog/catfix.h"

namespace {

using cattest::CatalogTest;

TEST_F(CatalogTest, AMirrorTravelsInsideThePath) {
    tagZVDBDATABASE *db = connect();
    ZVDBDICT *d = db->dict;
    ZVDBDICTENTRY e = entry(ZVDBDICT_TABLE, "mirrored");
    std::snprintf(e.path, sizeof e.path, "p");
    std::snprintf(e.datext, sizeof e.datext, ".dat");
    std::snprintf(e.mirrorname, sizeof e.mirrorname, "m");
    std::snprintf(e.mirrorpath, sizeof e.mirrorpath, "mp");
    e.uid = 4000;
    put_entry(d, e);
    ASSERT_EQ(_zvdbFindDictByUID(d, 4000), 0);
    char stored[256];
    ASSERT_EQ(zvdbGetFieldAsString(d->record, zv::dict::kPath, stored, sizeof stored), 0);
    EXPECT_STREQ(stored, "p|mp/m.dat");
    ZVDBDICTENTRY back;
    ASSERT_EQ(_zvdbGetDict(d, &back), 0);
    EXPECT_STREQ(back.path, "p");
    EXPECT_STREQ(back.mirrorname, "m");
    EXPECT_STREQ(back.mirrorpath, "mp");
    // Without a mirror the path stands alone; a path that no longer fits
    // its field is refused, not cut.
    ZVDBDICTENTRY plain = entry(ZVDBDICT_TABLE, "plain");
    std::snprintf(plain.path, sizeof plain.path, "p");
    plain.uid = 4001;
    put_entry(d, plain);
    ASSERT_EQ(zvdbGetFieldAsString(d->record, zv::dict::kPath, stored, sizeof stored), 0);
    EXPECT_STREQ(stored, "p");
    std::snprintf(e.path, sizeof e.path, "%s", std::string(250, 'q').c_str());
    EXPECT_EQ(_zvdbPutDict(d, &e), ZVDB_NAME_TOO_LONG);
}

TEST_F(CatalogTest, TheSQLMarkKeepsARisingVersion) {
    tagZVDBDATABASE *db = connect();
    EXPECT_EQ(_zvdbDictGetSQLDBVersion(db), 0);
    EXPECT_EQ(_zvdbDictMarkSQLDB(db, 1), ZVDB_BUFFER_SMALL);
    ASSERT_EQ(_zvdbDictMarkSQLDB(db, 2), 0);
    ZVDBDICTENTRY e;
    ASSERT_EQ(zv::dict::read_entry(db->dict, ZVDBDICT_SQLMARK, 0, "$ZVDB_SQL_FLAG$", e), 0);
    EXPECT_EQ(e.version, 0x10001u);
    EXPECT_EQ(_zvdbDictGetSQLDBVersion(db), 2);
    EXPECT_EQ(_zvdbDictMarkSQLDB(db, 2), ZVDB_BAD_MODE);
    ASSERT_EQ(_zvdbDictMarkSQLDB(db, 5), 0);
    EXPECT_EQ(_zvdbDictGetSQLDBVersion(db), 5);
    EXPECT_EQ(_zvdbDictMarkSQLDB(db, 4), ZVDB_BAD_MODE);
    EXPECT_EQ(_zvdbGetDictCount(db->dict, ZVDBDICT_SQLMARK, 0), 1);
}

int g_reads = 0;
ZVDBRET refuse_every_record(ZVHANDLE) {
    g_reads++;
    return 0;
}

TEST_F(CatalogTest, WithTheSQLMarkAnAfterReadCallbackFilters) {
    struct Case {
        const char *name;
        bool mark;
        int first;  // zvdbFirstRecord's result
    };
    for (const Case &c : {Case{"Plain", false, 0}, Case{"Marked", true, 101}}) {
        SCOPED_TRACE(c.name);
        tagZVDBDATABASE *db = connect(c.name, c.name);
        ASSERT_EQ(make_table(db, "cust", (std::string(c.name) + "key").c_str()), 0);
        auto *t = static_cast<tagZVDBTABLE *>(zvdbAllocTable(db));
        ASSERT_EQ(zvdbOpenTable(t, "cust", 0), 0);
        ZVHANDLE r = zvdbAllocRecord(t);
        for (int k = 1; k <= 2; k++) {
            ASSERT_EQ(zvdbClearRecord(r), 0);
            ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, k), 0);
            ASSERT_EQ(zvdbWriteRecord(r), 0);
        }
        zvdbFreeRecord(r);
        zvdbFreeTable(t);
        if (c.mark) {
            ASSERT_EQ(_zvdbDictMarkSQLDB(db, 2), 0);
        }
        // The mark counts from the next connect.
        ASSERT_EQ(zvdbDisconnect(db), 0);
        ASSERT_EQ(zvdbConnect(db, c.name), 0);
        EXPECT_EQ(db->callbackfilter, c.mark ? 1 : 0);
        ASSERT_EQ(zvdbSetCallback(db, 7, reinterpret_cast<ZVDB_CALLBACK>(refuse_every_record)), 0);
        t = static_cast<tagZVDBTABLE *>(zvdbAllocTable(db));
        ASSERT_EQ(zvdbOpenTable(t, "cust", 0), 0);
        r = zvdbAllocRecord(t);
        g_reads = 0;
        EXPECT_EQ(zvdbFirstRecord(r), c.first);
        EXPECT_EQ(g_reads, c.mark ? 2 : 1);
        zvdbFreeRecord(r);
        zvdbFreeTable(t);
        ASSERT_EQ(zvdbDisconnect(db), 0);
        EXPECT_EQ(db->callbackfilter, 0);
    }
}

TEST_F(CatalogTest, UIDsAreUniqueAndStayAboveEveryStoredOne) {
    tagZVDBDATABASE *db = connect();
    ZVDBDICT *d = db->dict;
    // Keys sort integers by value: neighbours in their low byte are apart.
    put_entry(d, entry(ZVDBDICT_TABLE, "a", "", 1089));
    put_entry(d, entry(ZVDBDICT_TABLE, "b", "", 1121));
    ZVDBDICTENTRY e;
    for (auto [uid, name] : {std::pair{1089u, "a"}, std::pair{1121u, "b"}}) {
        ASSERT_EQ(_zvdbFindDictByUID(d, uid), 0) << uid;
        ASSERT_EQ(_zvdbGetDict(d, &e), 0);
        EXPECT_STREQ(e.name, name);
    }
    EXPECT_EQ(_zvdbFindDictByUID(d, 1090), 101);
    // New UIDs follow each other.
    uint32_t first = 0, second = 0;
    ASSERT_EQ(_zvdbDictReserveTable(db, "r1", nullptr, &first), 0);
    ASSERT_EQ(_zvdbDictReserveTable(db, "r2", nullptr, &second), 0);
    EXPECT_GE(first, 998u);
    EXPECT_EQ(second, first + 1);
    // Entries restored past the serial number: the next open moves it.
    put_entry(d, entry(ZVDBDICT_TABLE, "c", "", 1024));
    put_entry(d, entry(ZVDBDICT_TABLE, "d", "", 2000));
    ASSERT_EQ(zvdbDisconnect(db), 0);
    ASSERT_EQ(zvdbConnect(db, "Sales"), 0);
    uint32_t next = 0;
    ASSERT_EQ(_zvdbDictReserveTable(db, "r3", nullptr, &next), 0);
    EXPECT_EQ(next, 2001u);
}

TEST_F(CatalogTest, AFailedSerialRepairClosesTheDictionary) {
    tagZVDBDATABASE *db = connect();
    put_entry(db->dict, entry(ZVDBDICT_TABLE, "a", "", 5000));
    ASSERT_EQ(zvdbDisconnect(db), 0);
    // Shared, the serial number cannot be moved: the repair fails.
    ZVDBDICT *d = _zvdbAllocDict(session_, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(_zvdbOpenDict(d, "db/Sales", 0, 1), ZVDB_DICT_REPAIR);
    EXPECT_EQ(d->open, 0);
    ASSERT_NE(d, nullptr);
    // Every read of the open fails in turn: the ones of the repair give
    // 4129, and every failure leaves the dictionary and its host closed.
    int repairs = 0;
    for (long n = 1;; n++) {
        SCOPED_TRACE(n);
        zv::fault_reset();
        zv::fault_set(zv::IoKind::Read, n, EIO);
        const int rc = _zvdbOpenDict(d, "db/Sales", 1, 1);
        zv::fault_reset();
        if (rc == 0) break;
        if (rc == ZVDB_DICT_REPAIR) repairs++;
        EXPECT_EQ(d->open, 0);
        EXPECT_EQ(d->table->active, 0);
        EXPECT_EQ(_zvdbSuperIsOpen(d->super), 0);
        ASSERT_LT(n, 200);
    }
    EXPECT_GT(repairs, 0);
    EXPECT_EQ(d->open, 1);
    EXPECT_EQ(_zvdbFreeDict(d), 0);
}

TEST_F(CatalogTest, AnOperationReleasesTheSessionLockItTook) {
    struct Case {
        int before;  // the session's lock mode before the call
        int after;
    };
    for (const Case &c : {Case{0, 6}, Case{6, 6}, Case{1, 1}, Case{2, 2}, Case{3, 3}, Case{4, 4}}) {
        SCOPED_TRACE(c.before);
        ASSERT_EQ(zvdbLock(session_, 0), 0);
        if (c.before == 6) {
            ASSERT_EQ(zvdbLock(session_, 1), 0);
        }
        ASSERT_EQ(zvdbLock(session_, c.before), 0);
        ASSERT_EQ(session_->lockmode, c.before);
        const int32_t count = zvdbGetDatabaseCount(session_);  // reads under mode 2
        EXPECT_GE(count, 0);
        EXPECT_EQ(session_->lockmode, c.after);
        EXPECT_EQ(zvdbCreateDatabase(session_, ("L" + std::to_string(c.before)).c_str(), ""), 0);  // mode 4
        EXPECT_EQ(session_->lockmode, c.after);
        EXPECT_EQ(zvdbGetDatabaseCount(session_), count + 1);
        EXPECT_EQ(session_->lockmode, c.after);
    }
    EXPECT_EQ(_zvdbLockDict(session_->dict, 3), ZVDB_BAD_LOCK_MODE);
    EXPECT_EQ(_zvdbUnlockDict(nullptr), ZVDB_NULL_ARGUMENT);
    // A lock taken around operations stays until its own release: theirs
    // does not end it.
    ASSERT_EQ(zvdbLock(session_, 0), 0);
    ASSERT_EQ(_zvdbLockDict(session_->dict, 4), 0);
    EXPECT_GT(zvdbGetDatabaseCount(session_), 0);
    EXPECT_EQ(session_->lockmode, 4);
    ASSERT_EQ(_zvdbUnlockDict(session_->dict), 0);
    EXPECT_EQ(session_->lockmode, 6);
}

TEST_F(CatalogTest, LocksLeftHeldAreSuspendedAndTheLockTriedOnceMore) {
    ASSERT_EQ(zvdbLock(session_, 0), 0);
    // A lock an ISAM call took and kept: enabling is refused (112).
    INSTGV *g = zvWNGV;
    auto *held = static_cast<LOCKENT *>(zvgetlst(zv::kListLock));
    ASSERT_NE(held, nullptr);
    held->flags = 0x01;
    g->lockhead[0] = g->locktail[0] = held;
    const uint64_t calls = zv::wrap_counts().lkisam;
    EXPECT_EQ(_zvdbLockDict(session_->dict, 2), 112);
    // Enable, suspend (nothing to suspend from mode 0), enable again.
    ASSERT_EQ(zv::wrap_counts().lkisam - calls, 2u);
    EXPECT_EQ(zv::wrap_counts().lkisam_log[(calls) % 16], 11);
    EXPECT_EQ(zv::wrap_counts().lkisam_log[(calls + 1) % 16], 11);
    EXPECT_EQ(session_->lockmode, 0);
    EXPECT_EQ(session_->dict->locked, 0);
    // Freeing releases what ISAM calls held; then the lock is had.
    ASSERT_EQ(zvdbLock(session_, 0), 0);
    EXPECT_EQ(g->lockhead[0], nullptr);
    EXPECT_EQ(_zvdbLockDict(session_->dict, 2), 0);
    EXPECT_EQ(_zvdbUnlockDict(session_->dict), 0);
}

}  // namespace
