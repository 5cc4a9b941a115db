// Callbacks around reads and writes, the database's after-read filter,
// records of one table in contexts of their own, the blocking read, and
// the hot path of reads and rewrites.
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "recapi/schema/icon.h"
#include "tests/recapi/records/navfix.h"

namespace rectest {
namespace {

// What the spies saw and what they answer.
std::vector<int> seen;
ZVDBRET answers[10];
uint64_t seen_position;
int32_t mode_to_give = -1;

template <int Kind>
ZVDBRET spy(ZVHANDLE) {
    seen.push_back(Kind);
    return answers[Kind];
}

ZVDBRET spy6(ZVHANDLE, uint64_t position, const void *, int32_t *mode) {
    seen.push_back(6);
    seen_position = position;
    if (mode && mode_to_give >= 0) *mode = mode_to_give;
    return answers[6];
}

class ReadCallbackTest : public CityTest {
protected:
    void SetUp() override {
        CityTest::SetUp();
        make_cities(0, 200);
        seen.clear();
        for (ZVDBRET &a : answers) a = 0;
        mode_to_give = -1;
    }
    // Sets the spies of kinds 4..9 on a record.
    static void spy_on(tagZVDBRECORD *r) {
        const ZVDB_CALLBACK spies[] = {reinterpret_cast<ZVDB_CALLBACK>(spy<4>), reinterpret_cast<ZVDB_CALLBACK>(spy<5>),
                                       reinterpret_cast<ZVDB_CALLBACK>(spy6),   reinterpret_cast<ZVDB_CALLBACK>(spy<7>),
                                       reinterpret_cast<ZVDB_CALLBACK>(spy<8>), reinterpret_cast<ZVDB_CALLBACK>(spy<9>)};
        for (int k = 4; k <= 9; k++) ASSERT_EQ(zvdbSetCallback(r, k, spies[k - 4]), 0);
    }
    static void find_id(tagZVDBRECORD *r, int32_t id, int code = 0) {
        ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, id), 0);
        ASSERT_EQ(zvdbFindRecord(r, 0), code) << id;
    }
    uint32_t datent() const { return DATENT(table_->datno); }
    // Gives the record a database whose after-read callbacks filter.
    void filter_through_database(tagZVDBRECORD *r) {
        filtering_.kind = ZVDB_DATABASE_HANDLE;
        filtering_.session = session_;
        filtering_.callbackfilter = 1;
        r->database = &filtering_;
    }
    tagZVDBDATABASE filtering_{};
};

TEST_F(ReadCallbackTest, CallbacksRunAroundFindsAndWrites) {
    tagZVDBRECORD *r = record();
    spy_on(r);
    find_id(r, 12);
    EXPECT_EQ(seen, (std::vector<int>{4, 5, 6, 7}));
    seen.clear();
    ASSERT_EQ(zvdbSetFieldAsMoney(r, kAmount, 5), 0);
    ASSERT_EQ(zvdbWriteRecord(r), 0);
    EXPECT_EQ(seen, (std::vector<int>{8, 9}));
    // A read by position hands kind 6 the position.
    uint64_t pos = 0;
    ASSERT_EQ(zvdbGetRecordPos(r, &pos), 0);
    seen.clear();
    ASSERT_EQ(zvdbSeekRecord(r, pos), 0);
    EXPECT_EQ(seen, (std::vector<int>{6, 7}));
    EXPECT_EQ(seen_position, pos);
    // Kind 6 may change the find mode: equal becomes greater.
    mode_to_give = 3;
    find_id(r, 12);
    EXPECT_EQ(id_of(r), 13);
}

TEST_F(ReadCallbackTest, NonzeroAnswersStopTheCall) {
    tagZVDBRECORD *r = record();
    spy_on(r);
    find_id(r, 50);
    uint64_t before = 0, after = 0;
    ASSERT_EQ(zvdbGetRecordPos(r, &before), 0);
    answers[6] = 4444;
    mark();
    EXPECT_EQ(zvdbFirstRecord(r), 4444);
    EXPECT_EQ(last(), 4444);
    ASSERT_EQ(zvdbGetRecordPos(r, &after), 0);
    EXPECT_EQ(after, before);
    EXPECT_EQ(id_of(r), 50);
    answers[6] = 0;

    answers[8] = 4444;
    const uint32_t count = datent();
    ASSERT_EQ(zvdbSetFieldAsMoney(r, kAmount, 1), 0);
    EXPECT_EQ(zvdbWriteRecord(r), 4444);
    EXPECT_EQ(zvdbIsEditedRecord(r), 1);
    tagZVDBRECORD *n = record();
    spy_on(n);
    ASSERT_EQ(zvdbSetFieldAsSigned(n, kId, 900), 0);
    EXPECT_EQ(zvdbWriteRecord(n), 4444);
    EXPECT_EQ(datent(), count);
    answers[8] = 0;
    tagZVDBRECORD *check = record();
    find_id(check, 50);
    int32_t amount = 0;
    ASSERT_EQ(zvdbGetFieldAsMoney(check, kAmount, &amount), 0);
    EXPECT_EQ(amount, 5000);

    answers[7] = 4444;
    EXPECT_EQ(zvdbNextRecord(r), 4444);
    answers[7] = 0;

    // A failing after-write callback: the record is in the table all the
    // same, so writing again adds nothing.
    answers[9] = 4444;
    EXPECT_EQ(zvdbWriteRecord(n), 4444);
    EXPECT_EQ(datent(), count + 1);
    EXPECT_EQ(zvdbIsNewRecord(n), 0);
    answers[9] = 0;
    EXPECT_EQ(zvdbWriteRecord(n), 0);
    EXPECT_EQ(datent(), count + 1);
}

// The database's after-read filter: even ids are taken (4109), odd ones
// passed over (0), id 10 fails the read (77).
ZVDBRET even_only(ZVHANDLE record) {
    int32_t id = 0;
    zvdbGetFieldAsSigned(record, kId, &id);
    return id == 10 ? 77 : id % 2 ? 0 : 4109;
}

TEST_F(ReadCallbackTest, TheDatabaseFilterPassesRecordsOver) {
    tagZVDBRECORD *r = record();
    filter_through_database(r);
    ASSERT_EQ(zvdbSetCallback(r, 7, reinterpret_cast<ZVDB_CALLBACK>(even_only)), 0);
    ASSERT_EQ(zvdbFirstRecord(r), 0);
    EXPECT_EQ(id_of(r), 2);
    ASSERT_EQ(zvdbNextRecord(r), 0);
    EXPECT_EQ(id_of(r), 4);
    EXPECT_EQ(zvdbNextRecord(r), 0);
    EXPECT_EQ(id_of(r), 6);
    EXPECT_EQ(zvdbNextRecord(r), 0);
    EXPECT_EQ(id_of(r), 8);
    EXPECT_EQ(zvdbNextRecord(r), 77);
    ASSERT_EQ(zvdbLastRecord(r), 0);
    EXPECT_EQ(id_of(r), 200);
    ASSERT_EQ(zvdbPrevRecord(r), 0);
    EXPECT_EQ(id_of(r), 198);
    // An index jump lands by the index and passes a rejected record over
    // in its direction; single moves count accepted records only.
    find_id(r, 20);
    ASSERT_EQ(zvdbJumpToRecord(r, 3), 0);
    EXPECT_EQ(id_of(r), 24);
    ASSERT_EQ(zvdbJumpToRecord(r, -1), 0);
    EXPECT_EQ(id_of(r), 22);
    r->filtertype = 1;
    ASSERT_EQ(zvdbJumpToRecord(r, 3), 0);
    EXPECT_EQ(id_of(r), 28);
    ASSERT_EQ(zvdbJumpToRecord(r, -2), 0);
    EXPECT_EQ(id_of(r), 24);
    r->filtertype = 0;
    // A rejected record is not found, nor read by position.
    find_id(r, 30);
    uint64_t pos = 0, odd = 0;
    ASSERT_EQ(zvdbGetRecordPos(r, &pos), 0);
    ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, 31), 0);
    ASSERT_EQ(zvdbFindKey(r, &odd, 0), 0);
    EXPECT_EQ(zvdbSeekRecord(r, odd), ZV_INOT_ERR);
    ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, 33), 0);
    EXPECT_EQ(zvdbFindRecord(r, 0), ZV_INOT_ERR);
    uint64_t after = 0;
    ASSERT_EQ(zvdbGetRecordPos(r, &after), 0);
    EXPECT_EQ(after, pos);
}

TEST_F(ReadCallbackTest, EveryRecordRejectedMeansTheEnd) {
    tagZVDBRECORD *r = record();
    filter_through_database(r);
    ASSERT_EQ(zvdbSetCallback(r, 7, reinterpret_cast<ZVDB_CALLBACK>(spy<7>)), 0);
    EXPECT_EQ(zvdbFirstRecord(r), ZV_INOT_ERR);
    EXPECT_EQ(seen.size(), 200u);
}

class ContextTest : public CityTest {
protected:
    void SetUp() override {
        CityTest::SetUp();
        make_cities(0, 400);
    }
};

TEST_F(ContextTest, EachRecordKeepsItsOwnPosition) {
    std::vector<tagZVDBRECORD *> rs;
    for (int i = 0; i < 40; i++) rs.push_back(record());
    for (int i = 0; i < 40; i++) {
        ASSERT_EQ(zvdbSetFieldAsSigned(rs[size_t(i)], kId, i * 10 + 1), 0);
        ASSERT_EQ(zvdbFindRecord(rs[size_t(i)], 0), 0);
    }
    for (int round = 1; round <= 3; round++) {
        for (int i = 39; i >= 0; i--) {
            ASSERT_EQ(zvdbNextRecord(rs[size_t(i)]), 0);
            EXPECT_EQ(id_of(rs[size_t(i)]), i * 10 + 1 + round) << i;
        }
    }
    // The 33rd record and on hold slots of a grown array.
    EXPECT_GE(table_->icons->capacity, 64);
}

TEST_F(ContextTest, TheBlockingReadReadsTheSameRecords) {
    tagZVDBRECORD *plain = record();
    tagZVDBRECORD *blocking = record();
    EXPECT_EQ(zvdbIsRecordBlockingReadOn(blocking), 0);
    ASSERT_EQ(zvdbRecordBlockingReadOn(blocking, 0, "id > 0"), 0);
    EXPECT_EQ(zvdbIsRecordBlockingReadOn(blocking), 1);
    for (int32_t index : {kPk, kByCity}) {
        ASSERT_EQ(zvdbSetDefaultIndex(plain, index), 0);
        ASSERT_EQ(zvdbSetDefaultIndex(blocking, index), 0);
        EXPECT_EQ(walk(blocking, true), walk(plain, true));
        EXPECT_EQ(walk(blocking, false), walk(plain, false));
    }
    ASSERT_EQ(zvdbSetDefaultIndex(plain, kPk), 0);
    ASSERT_EQ(zvdbSetDefaultIndex(blocking, kPk), 0);
    for (int32_t id : {0, 1, 77, 400, 401}) {
        for (int mode = 0; mode <= 4; mode++) {
            ASSERT_EQ(zvdbSetFieldAsSigned(plain, kId, id), 0);
            ASSERT_EQ(zvdbSetFieldAsSigned(blocking, kId, id), 0);
            const int a = zvdbFindRecord(plain, mode);
            EXPECT_EQ(zvdbFindRecord(blocking, mode), a) << id << " " << mode;
            if (a == 0) {
                EXPECT_EQ(id_of(blocking), id_of(plain)) << id << " " << mode;
            }
        }
    }
    // The blocking read's condition holds: a record it refuses is not read.
    ASSERT_EQ(zvdbRecordBlockingReadOn(blocking, 0, "id > 398"), 0);
    EXPECT_EQ(zvdbFirstRecord(blocking), ZV_INOT_ERR);
    ASSERT_EQ(zvdbRecordBlockingReadOff(blocking), 0);
    EXPECT_EQ(zvdbIsRecordBlockingReadOn(blocking), 0);
    ASSERT_EQ(zvdbFirstRecord(blocking), 0);
    EXPECT_EQ(id_of(blocking), 1);
}

long all_io_calls() {
    long n = 0;
    for (int k = 0; k < int(zv::IoKind::Count); k++) n += zv::io_calls(zv::IoKind(k));
    return n;
}

TEST_F(ReadCallbackTest, CachedReadsFindsAndRewritesMakeNoCallAndTakeNoMemory) {
    tagZVDBRECORD *r = record();
    tagZVDBRECORD *other = record();
    // Everything read once: pages and nodes in the caches, key areas made.
    EXPECT_EQ(walk(r, true).size(), 200u);
    find_id(r, 1);
    find_id(other, 100);
    ASSERT_EQ(zvdbSetFieldAsMoney(r, kAmount, 3), 0);
    ASSERT_EQ(zvdbWriteRecord(r), 0);
    zv::fault_reset();
    const uint64_t blocks = zv::platform_alloc_count();
    const uint64_t switches = zv::icon_counts().switched;
    for (int32_t id = 1; id < 200; id++) ASSERT_EQ(zvdbNextRecord(r), 0);
    EXPECT_EQ(zv::platform_alloc_count(), blocks);
    EXPECT_EQ(zv::icon_counts().switched, switches);
    for (int32_t id = 1; id <= 200; id += 3) {
        find_id(r, id);
        ASSERT_EQ(zvdbSetFieldAsMoney(r, kAmount, id), 0);
        ASSERT_EQ(zvdbWriteRecord(r), 0);
    }
    EXPECT_EQ(all_io_calls(), 0);
    EXPECT_EQ(zv::platform_alloc_count(), blocks);
    EXPECT_EQ(zv::icon_counts().switched, switches);
    // Another record's call switches contexts: once there and once back.
    ASSERT_EQ(zvdbNextRecord(other), 0);
    ASSERT_EQ(zvdbNextRecord(r), 0);
    EXPECT_EQ(id_of(r), 200);
    EXPECT_EQ(zv::icon_counts().switched, switches + 2);
}

}  // namespace
}  // namespace rectest
