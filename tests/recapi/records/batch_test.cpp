// Batches of records: retrievals by key prefix, range and physical order
// across refills of a small buffer, compact entries, growing buffers;
// inserts, updates and deletes in bulk; the refusals; a write fault under
// an automatic hand-over; the batch-number pool; and the engine requests,
// system calls and allocations of a walk through a buffer.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "recapi/records/set_calls.h"
#include "tests/recapi/records/navfix.h"

namespace rectest {
namespace {

class BatchTest : public CityTest {
protected:
    void SetUp() override {
        CityTest::SetUp();
        make_cities();
    }
    // Bytes of n retrieval entries of the city table.
    int32_t entries(int32_t n) const { return n * int32_t(4 + table_->fixedlen); }
    // The ids of the model in city order whose city is c.
    std::vector<int32_t> city_ids(const std::string &c) const {
        std::vector<int32_t> ids;
        for (int32_t id : by_city()) {
            if (city_for(id) == c) ids.push_back(id);
        }
        return ids;
    }
    // The ids a retrieval batch delivers, until the first failing code
    // (into *end).
    static std::vector<int32_t> drain(tagZVDBRECORD *r, int *end) {
        std::vector<int32_t> ids;
        int rc;
        while ((rc = zvdbNextBatch(r)) == 0) ids.push_back(id_of(r));
        *end = rc;
        return ids;
    }
    // The ids of the table in id order, read through a record of its own.
    std::vector<int32_t> table_ids() {
        tagZVDBRECORD *r = record();
        EXPECT_EQ(zvdbSetDefaultIndex(r, kPk), 0);
        return walk(r, true);
    }
    static uint64_t requests() { return zv::batch_counts().requests; }
};

TEST_F(BatchTest, APrefixBatchWalksItsRecordsAcrossRefills) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetDefaultIndex(r, kByCity), 0);
    ASSERT_EQ(zvdbSetFieldAsString(r, kCity, "Basel"), 0);
    const uint64_t before = requests();
    ASSERT_EQ(zvdbSetBatch(r, ZVBATCH_BY_PREFIX, 5, entries(10)), 0);
    EXPECT_EQ(zvdbIsBatchActive(r), 1);
    EXPECT_EQ(zvdbBatchMode(r), uint32_t(ZVBATCH_BY_PREFIX));
    const std::vector<int32_t> want = city_ids("Basel");
    EXPECT_EQ(zvdbBatchTotal(r), int32_t(want.size()));
    EXPECT_EQ(zvdbBatchLoaded(r), 10);
    int end = 0;
    EXPECT_EQ(drain(r, &end), want);
    EXPECT_EQ(end, 428);
    // The end of the batch leaves the last record and the batch.
    EXPECT_EQ(id_of(r), want.back());
    EXPECT_EQ(zvdbBatchLoaded(r), 0);
    EXPECT_EQ(zvdbNextBatch(r), 428);
    EXPECT_EQ(zvdbIsBatchActive(r), 1);
    // One start and one request per refill (the last finds nothing).
    EXPECT_EQ(requests() - before, 1 + (want.size() + 9) / 10 + 1);
    ASSERT_EQ(zvdbEndBatch(r), 0);
    EXPECT_EQ(zvdbIsBatchActive(r), 0);
    EXPECT_EQ(zvdbBatchMode(r), 0u);
    EXPECT_EQ(zvdbBatchTotal(r), 0);
    EXPECT_EQ(zvdbNextBatch(r), ZVDB_NO_BATCH);
}

TEST_F(BatchTest, RangePhysicalCompactAndFilteredRetrievals) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetDefaultIndex(r, kPk), 0);
    // A batch range on "pk": ids 100 to 200.
    std::vector<unsigned char> low(4), high(4);
    int32_t length = 4;
    ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, 100), 0);
    ASSERT_EQ(zvdbBuildTargetKey(r, 0, low.data(), &length), 0);
    ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, 200), 0);
    ASSERT_EQ(zvdbBuildTargetKey(r, 0, high.data(), &length), 0);
    const int32_t ops[1] = {199};
    ASSERT_EQ(zvdbSetBatchRangeOn(r, 1, low.data(), high.data(), ops), 0);
    EXPECT_EQ(zvdbSetBatchRangeOn(r, 1, low.data(), high.data(), ops), ZVDB_BATCH_SET);
    ASSERT_EQ(zvdbSetBatch(r, ZVBATCH_BY_RANGE, 0, entries(10)), 0);
    EXPECT_EQ(zvdbSetBatchRangeOff(r), ZVDB_BATCH_ACTIVE);
    int end = 0;
    std::vector<int32_t> want;
    for (int32_t id = 100; id <= 200; id++) want.push_back(id);
    EXPECT_EQ(drain(r, &end), want);
    EXPECT_EQ(end, 428);
    ASSERT_EQ(zvdbEndBatch(r), 0);
    ASSERT_EQ(zvdbSetBatchRangeOff(r), 0);

    // Physical order: every record in write order.
    ASSERT_EQ(zvdbSetBatch(r, ZVBATCH_PHYSICAL, 0, entries(10)), 0);
    EXPECT_EQ(zvdbBatchTotal(r), 1000);
    EXPECT_EQ(drain(r, &end), by_write());
    ASSERT_EQ(zvdbEndBatch(r), 0);

    // Compact: the positions alone, the image untouched.
    tagZVDBRECORD *walker = record();
    ASSERT_EQ(zvdbSetDefaultIndex(walker, ZVDB_INDEX_PHYSICAL), 0);
    std::vector<uint64_t> positions;
    for (int rc = zvdbFirstRecord(walker); rc == 0; rc = zvdbNextRecord(walker)) {
        positions.emplace_back();
        ASSERT_EQ(zvdbGetRecordPos(walker, &positions.back()), 0);
    }
    const int32_t held = id_of(r);
    ASSERT_EQ(zvdbSetBatch(r, ZVBATCH_PHYSICAL | ZVBATCH_COMPACT, 0, 40), 0);
    std::vector<uint64_t> got;
    while (zvdbNextBatch(r) == 0) {
        got.emplace_back();
        ASSERT_EQ(zvdbGetRecordPos(r, &got.back()), 0);
        ASSERT_EQ(id_of(r), held);
    }
    EXPECT_EQ(got, positions);
    ASSERT_EQ(zvdbEndBatch(r), 0);

    // A batch filter on a key-prefix batch.
    ASSERT_EQ(zvdbSetDefaultIndex(r, kByCity), 0);
    ASSERT_EQ(zvdbSetFieldAsString(r, kCity, "Chur"), 0);
    ASSERT_EQ(zvdbSetBatchFilter(r, "id > 900"), 0);
    EXPECT_EQ(zvdbSetBatchFilter(r, "id > 1"), ZVDB_BATCH_SET);
    ASSERT_EQ(zvdbSetBatch(r, ZVBATCH_BY_PREFIX, 4, entries(3)), 0);
    want.clear();
    for (int32_t id : city_ids("Chur")) {
        if (id > 900) want.push_back(id);
    }
    EXPECT_EQ(drain(r, &end), want);
    ASSERT_EQ(zvdbEndBatch(r), 0);
    ASSERT_EQ(zvdbSetBatchFilter(r, nullptr), 0);
    // The filter went with the batch: the record reads every record again.
    ASSERT_EQ(zvdbSetDefaultIndex(r, kPk), 0);
    EXPECT_EQ(walk(r, true).size(), 1000u);
}

TEST_F(BatchTest, TheRefusals) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetDefaultIndex(r, kByCity), 0);
    mark();
    EXPECT_EQ(zvdbSetBatch(r, 7, 0, 0), ZVDB_BAD_BATCH_OP);
    EXPECT_EQ(last(), ZVDB_BAD_BATCH_OP);
    EXPECT_EQ(zvdbBatchMode(r), 0u);
    EXPECT_EQ(zvdbSetBatch(r, ZVBATCH_BY_PREFIX, 17, 0), ZVDB_NAME_TOO_LONG);
    EXPECT_EQ(zvdbIsBatchActive(r), 0);
    EXPECT_EQ(zvdbNextBatch(r), ZVDB_NO_BATCH);
    EXPECT_EQ(zvdbInsertBatch(r), ZVDB_NO_BATCH);
    ASSERT_EQ(zvdbSetBatch(r, ZVBATCH_BY_PREFIX, 16, 0), 0);
    EXPECT_EQ(zvdbSetBatch(r, ZVBATCH_BY_PREFIX, 3, 0), ZVDB_BATCH_ACTIVE);
    EXPECT_EQ(zvdbInsertBatch(r), ZVDB_BAD_BATCH_OP);
    EXPECT_EQ(zvdbAddToFieldMask(r, kId), ZVDB_BATCH_ACTIVE);
    EXPECT_EQ(zvdbSetBatchFilter(r, "id > 1"), ZVDB_BATCH_ACTIVE);
    ASSERT_EQ(zvdbEndBatch(r), 0);
    // Physical order has no key prefix; a field mask refuses batches.
    ASSERT_EQ(zvdbSetDefaultIndex(r, ZVDB_INDEX_PHYSICAL), 0);
    EXPECT_EQ(zvdbSetBatch(r, ZVBATCH_BY_PREFIX, 3, 0), 80);
    ASSERT_EQ(zvdbAddToFieldMask(r, kId), 0);
    EXPECT_EQ(zvdbSetBatch(r, ZVBATCH_PHYSICAL, 0, 0), ZVDB_NOT_SUPPORTED);
    ASSERT_EQ(zvdbRemoveFieldMask(r), 0);
    // A batch filter over a record filter; operations a filter cannot take.
    ASSERT_EQ(zvdbFilterRecord(r, "id > 3"), 0);
    EXPECT_EQ(zvdbSetBatchFilter(r, "id > 1"), ZVDB_BATCH_SET);
    ASSERT_EQ(zvdbFilterRecord(r, nullptr), 0);
    ASSERT_EQ(zvdbSetBatchFilter(r, "id > 1"), 0);
    EXPECT_EQ(zvdbSetBatch(r, ZVBATCH_PHYSICAL, 0, 0), ZVDB_NOT_SUPPORTED);
    EXPECT_EQ(zvdbSetBatch(r, 9, 0, 0), ZVDB_BAD_BATCH_OP);
    EXPECT_EQ(zvdbBatchTotal(nullptr), -ZVDB_NO_RECORD);
}

// A batch range names at most the default index's segments, as a record
// range does; more are refused before the operator words are read (the
// caller's array holds one word here).
TEST_F(BatchTest, ARangeOfMoreSegmentsThanTheIndexHasIsRefused) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetDefaultIndex(r, kPk), 0);
    std::vector<unsigned char> low(4), high(4);
    const std::vector<int32_t> ops{199};
    for (int32_t segments : {2, 65535, INT32_MAX}) {
        SCOPED_TRACE(segments);
        mark();
        EXPECT_EQ(zvdbSetBatchRangeOn(r, segments, low.data(), high.data(), ops.data()), 608);
        EXPECT_EQ(last(), 608);
    }
    // The record range's answer for the same counts (the engine reads every
    // word it is given, so it gets them all).
    for (int32_t segments : {2, 65535}) {
        const std::vector<int32_t> all(size_t(segments), 199);
        EXPECT_EQ(zvdbRecordRangeOn(r, segments, low.data(), high.data(), all.data()), 608) << segments;
    }
    // Nothing was kept: the range of one segment is taken.
    EXPECT_EQ(zvdbSetBatchRangeOn(r, 1, low.data(), high.data(), ops.data()), 0);
    ASSERT_EQ(zvdbSetBatchRangeOff(r), 0);
}

TEST_F(BatchTest, AWalkThroughABufferAsksNothingOfTheSystem) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetBatch(r, ZVBATCH_PHYSICAL, 0, entries(10)), 0);
    ASSERT_EQ(zvdbNextBatch(r), 0);
    zv::fault_reset();
    const uint64_t allocs = zv::platform_alloc_count(), before = requests();
    for (int i = 0; i < 9; i++) ASSERT_EQ(zvdbNextBatch(r), 0);
    long calls = 0;
    for (int k = 0; k < int(zv::IoKind::Count); k++) calls += zv::io_calls(zv::IoKind(k));
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(zv::platform_alloc_count(), allocs);
    EXPECT_EQ(requests(), before);
    // The next entry is past the buffer: one refill.
    ASSERT_EQ(zvdbNextBatch(r), 0);
    EXPECT_EQ(requests(), before + 1);
    EXPECT_EQ(id_of(r), by_write()[10]);
}

TEST_F(BatchTest, InsertsUpdatesAndDeletesInBulk) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetBatch(r, ZVBATCH_INSERT, 0, 10 * int32_t(4 + table_->fixedlen) + 20), 0);
    const uint64_t before = requests();
    for (int32_t id = 1001; id <= 2000; id++) {
        ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, id), 0);
        ASSERT_EQ(zvdbSetFieldAsString(r, kCity, city_for(id).c_str()), 0);
        ASSERT_EQ(zvdbSetFieldAsMoney(r, kAmount, id * 100), 0);
        ASSERT_EQ(zvdbInsertBatch(r), 0) << id;
    }
    // Hand-overs of ten records each as the buffer filled.
    EXPECT_EQ(requests() - before, 99u);
    ASSERT_EQ(zvdbEndBatch(r), 0);
    std::vector<int32_t> all;
    for (int32_t id = 1; id <= 2000; id++) all.push_back(id);
    EXPECT_EQ(table_ids(), all);

    // An update batch rewrites by "pk".
    tagZVDBRECORD *reader = record();
    ASSERT_EQ(zvdbSetDefaultIndex(r, kPk), 0);
    ASSERT_EQ(zvdbSetBatch(r, ZVBATCH_UPDATE, 0, 0), 0);
    for (int32_t id = 10; id <= 30; id++) {
        ASSERT_EQ(zvdbSetFieldAsSigned(reader, kId, id), 0);
        ASSERT_EQ(zvdbFindRecord(reader, 0), 0);
        ASSERT_EQ(zvdbCopyRecordBuffer(reader, r), 0);
        ASSERT_EQ(zvdbSetFieldAsMoney(r, kAmount, -id), 0);
        ASSERT_EQ(zvdbInsertBatch(r), 0);
    }
    ASSERT_EQ(zvdbEndBatch(r), 0);
    for (int32_t id : {9, 10, 30, 31}) {
        ASSERT_EQ(zvdbSetFieldAsSigned(reader, kId, id), 0);
        ASSERT_EQ(zvdbFindRecord(reader, 0), 0);
        ZVMONEY amount = 0;
        ASSERT_EQ(zvdbGetFieldAsMoney(reader, kAmount, &amount), 0);
        EXPECT_EQ(amount, id >= 10 && id <= 30 ? -id : id * 100) << id;
    }

    // A delete batch removes a key prefix's records.
    ASSERT_EQ(zvdbSetDefaultIndex(r, kByCity), 0);
    ASSERT_EQ(zvdbSetFieldAsString(r, kCity, "Chur"), 0);
    ASSERT_EQ(zvdbSetBatch(r, ZVBATCH_DELETE, 2, 0), 0);
    EXPECT_EQ(zvdbBatchTotal(r), 0);
    ASSERT_EQ(zvdbEndBatch(r), 0);
    std::vector<int32_t> kept;
    for (int32_t id : all) {
        if (city_for(id) != "Chur") kept.push_back(id);
    }
    EXPECT_EQ(table_ids(), kept);
}

// An insert buffer whose records take 8-byte positions, on a table created
// with wide positions and one that only claims partitioned files.
TEST_F(CityTest, InsertEntriesOfWidePositions) {
    make_cities(0x100, 10);
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetBatch(r, ZVBATCH_INSERT, 0, 0), 0);
    ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, 11), 0);
    ASSERT_EQ(zvdbInsertBatch(r), 0);
    const unsigned char *entry = r->batch.buffer + 20;
    EXPECT_EQ(std::vector<unsigned char>(entry, entry + 8), std::vector<unsigned char>(8, 0));
    EXPECT_EQ(std::vector<unsigned char>(entry + 8, entry + 8 + r->length),
              std::vector<unsigned char>(r->buffer, r->buffer + r->length));
    EXPECT_EQ(r->batch.cursor, entry + 8 + r->length);
    ASSERT_EQ(zvdbEndBatch(r), 0);
    ASSERT_EQ(zvdbSetDefaultIndex(r, kPk), 0);
    EXPECT_EQ(walk(r, true).size(), 11u);
    // Partitioned files (create bit 0x800) place 8-byte positions too.
    table_->createmode |= 0x800;
    table_->createmode &= ~0x100u;
    ASSERT_EQ(zvdbSetBatch(r, ZVBATCH_INSERT, 0, 0), 0);
    ASSERT_EQ(zvdbInsertBatch(r), 0);
    EXPECT_EQ(r->batch.cursor, r->batch.buffer + 20 + 8 + r->length);
    // (Not handed over: the file itself has 8-byte positions for 0x100.)
    r->batch.loaded = 0;
    ASSERT_EQ(zvdbEndBatch(r), 0);
    table_->createmode = (table_->createmode & ~0x800u) | 0x100;
}

TEST_F(CityTest, AGrowingBufferTakesALongRecord) {
    create_table("long", {{"id", ZV_INT4, 0}, {"text", ZV_STRING, 6000}}, 0, {{"pk", 0, 0}});
    tagZVDBRECORD *w = record();
    const std::string text(5000, 'x');
    for (int32_t id = 1; id <= 3; id++) {
        ASSERT_EQ(zvdbSetFieldAsSigned(w, 0, id), 0);
        ASSERT_EQ(zvdbSetFieldAsString(w, 1, id == 2 ? text.c_str() : "short"), 0);
        ASSERT_EQ(zvdbWriteRecord(w), 0);
        ASSERT_EQ(zvdbClearRecord(w), 0);
    }
    tagZVDBRECORD *r = record();
    ASSERT_LT(int64_t(128) * table_->fixedlen, 5000);
    ASSERT_EQ(zvdbSetBatch(r, ZVBATCH_PHYSICAL, 0, 0), 0);
    EXPECT_EQ(zvdbBatchMode(r), uint32_t(ZVBATCH_PHYSICAL | ZVBATCH_GROW));
    std::vector<std::string> texts;
    char buffer[6001];
    while (zvdbNextBatch(r) == 0) {
        ASSERT_EQ(zvdbGetFieldAsString(r, 1, buffer, sizeof buffer), 0);
        texts.push_back(buffer);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"short", text, "short"}));
    EXPECT_EQ(last(), 428);
    ASSERT_EQ(zvdbEndBatch(r), 0);
    // Without growth the engine's answer stands.
    ASSERT_EQ(zvdbSetBatch(r, ZVBATCH_PHYSICAL, 0, 100), 0);
    EXPECT_EQ(zvdbNextBatch(r), 0);
    EXPECT_EQ(zvdbNextBatch(r), 429);
    ASSERT_EQ(zvdbEndBatch(r), 0);
}

// Small caches written through: the writes of a hand-over reach the disk
// inside the call that fills the buffer.
class BatchFaultTest : public CityTest {
protected:
    void SetUp() override {
        CityTest::SetUp();
        small_caches(3, 3);
        make_cities(4, 50);
    }
};

TEST_F(BatchFaultTest, AFailedHandOverKeepsWhatTheEngineDidNotTake) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetBatch(r, ZVBATCH_INSERT, 0, 10 * int32_t(4 + table_->fixedlen) + 20), 0);
    const int16_t number = r->batchno;
    int failures = 0;
    for (int32_t id = 51; id <= 150; id++) {
        ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, id), 0);
        ASSERT_EQ(zvdbSetFieldAsString(r, kCity, city_for(id).c_str()), 0);
        // A fault on the third write of the hand-overs at ids 71 and 111.
        if (id == 71 || id == 111) zv::fault_set(zv::IoKind::Write, 3, EIO);
        int rc = zvdbInsertBatch(r);
        zv::fault_reset();
        if (rc) {
            failures++;
            EXPECT_EQ(last(), rc);
            // Not appended: the same record again.
            ASSERT_EQ(zvdbInsertBatch(r), 0) << id;
        }
    }
    EXPECT_EQ(failures, 2);
    ASSERT_EQ(zvdbEndBatch(r), 0);
    std::vector<int32_t> all;
    for (int32_t id = 1; id <= 150; id++) all.push_back(id);
    tagZVDBRECORD *reader = record();
    ASSERT_EQ(zvdbSetDefaultIndex(reader, kPk), 0);
    EXPECT_EQ(walk(reader, true), all);
    ASSERT_EQ(zvdbSetDefaultIndex(reader, ZVDB_INDEX_PHYSICAL), 0);
    std::vector<int32_t> stored = walk(reader, true);
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(stored, all);
    // The number went back to the pool.
    ASSERT_EQ(zvdbSetBatch(r, ZVBATCH_INSERT, 0, 0), 0);
    EXPECT_EQ(r->batchno, number);
    // A hand-over failing at the end is reported, and the batch ends all
    // the same, its number free again.
    ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, 151), 0);
    ASSERT_EQ(zvdbInsertBatch(r), 0);
    zv::fault_set(zv::IoKind::Write, 1, EIO);
    const int rc = zvdbEndBatch(r);
    zv::fault_reset();
    EXPECT_NE(rc, 0);
    EXPECT_EQ(zvdbIsBatchActive(r), 0);
    ASSERT_EQ(zvdbSetBatch(r, ZVBATCH_PHYSICAL, 0, 0), 0);
    EXPECT_EQ(r->batchno, number);
    EXPECT_EQ(zvdbBatchTotal(r), 150);
    ASSERT_EQ(zvdbEndBatch(r), 0);
}

TEST_F(CityTest, TheBatchNumberPool) {
    tagZVDBSESSION *s = session_;
    int16_t n = 0;
    std::vector<int16_t> taken;
    for (int i = 0; i < 3; i++) {
        ASSERT_EQ(_zvdbTakeBatchNumber(s, &n), 0);
        taken.push_back(n);
    }
    EXPECT_EQ(taken, (std::vector<int16_t>{1, 2, 3}));
    ASSERT_EQ(_zvdbReleaseBatchNumber(s, 2), 0);
    ASSERT_EQ(_zvdbReleaseBatchNumber(s, 1), 0);
    ASSERT_EQ(_zvdbTakeBatchNumber(s, &n), 0);
    EXPECT_EQ(n, 1);
    ASSERT_EQ(_zvdbTakeBatchNumber(s, &n), 0);
    EXPECT_EQ(n, 2);
    // Releasing the highest lowers it.
    ASSERT_EQ(_zvdbReleaseBatchNumber(s, 3), 0);
    EXPECT_EQ(s->lastbatch, 2);
    ASSERT_EQ(_zvdbTakeBatchNumber(s, &n), 0);
    EXPECT_EQ(n, 3);
    // Past 65535 none is handed out, and the mark stays.
    s->lastbatch = 65534;
    ASSERT_EQ(_zvdbTakeBatchNumber(s, &n), 0);
    EXPECT_EQ(uint16_t(n), 65535);
    EXPECT_EQ(_zvdbTakeBatchNumber(s, &n), ZVDB_NO_BATCH_NUMBER);
    EXPECT_EQ(s->lastbatch, 65535);
    ASSERT_EQ(_zvdbReleaseBatchNumber(s, 7), 0);
    ASSERT_EQ(_zvdbTakeBatchNumber(s, &n), 0);
    EXPECT_EQ(n, 7);
}

}  // namespace
}  // namespace rectest
