// Key segments: the mode check against field types, field callbacks,
// extended, row-id and JSON segments, moves, deletes and re-pointing, and
// the key-segment transform blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "recapi/schema/index.h"
#include "recapi/schema/segment.h"
#include "tests/recapi/schema/schemafix.h"

namespace {

using SegmentTest = schematest::SchemaTest;
using Bytes = std::vector<unsigned char>;

ZVDB_CALLBACK cb(ZVDBRET (*f)(ZVHANDLE, void *, intptr_t, intptr_t)) { return reinterpret_cast<ZVDB_CALLBACK>(f); }

ZVDBRET report_string(ZVHANDLE, void *value, intptr_t, intptr_t) {
    *static_cast<int32_t *>(value) = ZV_STRING;
    return 0;
}
ZVDBRET give_mode_12(ZVHANDLE, void *value, intptr_t, intptr_t) {
    *static_cast<int32_t *>(value) = 12;
    return 0;
}
int transform_calls = 0;
ZVHANDLE transform_segment = nullptr;
ZVDBRET count_transform(ZVHANDLE, void *segment, intptr_t, intptr_t) {
    transform_calls++;
    transform_segment = segment;
    return 0;
}
ZVDBRET refuse(ZVHANDLE, void *, intptr_t, intptr_t) { return 4444; }

// Segment modes against the types they accept (every other type: 4047).
struct ModeRow {
    int32_t mode;
    std::vector<int32_t> accepted;  // empty: every type
};

const int32_t kAllTypes[] = {ZV_BOOL,  ZV_CHAR,     ZV_CHARU,  ZV_INT2,    ZV_INT2U,   ZV_INT4,     ZV_INT4U,
                             ZV_MONEY, ZV_DATE,     ZV_TIME,   ZV_SFLOAT,  ZV_DFLOAT,  ZV_NUMBER,   ZV_EFLOAT,
                             ZV_TIMES, ZV_CURRENCY, ZV_FSTRING, ZV_STRING, ZV_FPSTRING, ZV_PSTRING, ZV_F2STRING,
                             ZV_2STRING, ZV_F4STRING, ZV_4STRING, ZV_BIGINT, ZV_UBIGINT, ZV_TIMES_MS, ZV_TIME_MS};

TEST_F(SegmentTest, ModesAreCheckedAgainstTheFieldType) {
    const ModeRow rows[] = {
        {1, {ZV_BOOL, ZV_CHARU, ZV_INT2, ZV_INT2U, ZV_INT4, ZV_INT4U, ZV_DATE, ZV_TIME, ZV_TIMES, ZV_CURRENCY, ZV_BIGINT,
             ZV_UBIGINT, ZV_TIMES_MS, ZV_TIME_MS}},
        {0x401, {ZV_BOOL, ZV_CHARU, ZV_INT2, ZV_INT2U, ZV_INT4, ZV_INT4U, ZV_DATE, ZV_TIME, ZV_TIMES, ZV_CURRENCY,
                 ZV_BIGINT, ZV_UBIGINT, ZV_TIMES_MS, ZV_TIME_MS}},
        {3, {ZV_INT4, ZV_INT4U, ZV_BIGINT, ZV_UBIGINT}},
        {8, {ZV_CHAR, ZV_INT2, ZV_INT4, ZV_MONEY, ZV_DATE, ZV_TIME, ZV_CURRENCY, ZV_BIGINT, ZV_TIME_MS}},
        {9, {ZV_SFLOAT, ZV_DFLOAT, ZV_TIMES, ZV_TIMES_MS}},
        {0, {}},
        {12, {}},
        {0x104, {}},
    };
    std::vector<tagZVDBFIELD *> fields;
    for (int32_t type : kAllTypes) fields.push_back(field(("t" + std::to_string(type)).c_str(), type, 10));
    tagZVDBINDEX *ix = index("ix");
    for (const ModeRow &row : rows) {
        for (tagZVDBFIELD *f : fields) {
            bool ok = row.accepted.empty();
            for (int32_t t : row.accepted) ok = ok || t == f->type;
            SCOPED_TRACE(testing::Message() << "mode " << row.mode << " type " << f->type);
            mark();
            ZVHANDLE s = zvdbAddSegment(ix, f, row.mode);
            EXPECT_EQ(s != nullptr, ok);
            EXPECT_EQ(last(), ok ? 7777 : 4047);
            EXPECT_EQ(_zvdbValidateSegment(row.mode, f->type, f->length), ok ? 0 : 4047);
            if (s) {
                EXPECT_EQ(zvdbDelSegmentEx(s), 0);
            }
            EXPECT_EQ(zvdbGetIndexSegmentCount(ix), 0);
            EXPECT_EQ(zvdbGetIndexKeyLength(ix), 0);
        }
    }
    // Serial-number segments take byte arrays of 4 or 8 bytes only.
    const struct {
        int32_t length;
        int code;
    } arrays[] = {{4, 0}, {8, 0}, {5, 4047}};
    for (const auto &a : arrays) EXPECT_EQ(_zvdbValidateSegment(3, ZV_ARRAY, a.length), a.code) << a.length;
}

TEST_F(SegmentTest, TemporaryTablesAreNotChecked) {
    tagZVDBFIELD *f = field("n", ZV_INT4);
    tagZVDBINDEX *ix = index("ix");
    EXPECT_EQ(zvdbAddSegment(ix, f, 9), nullptr);
    table_->temporary = 1;
    EXPECT_NE(zvdbAddSegment(ix, f, 9), nullptr);
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 4);
}

TEST_F(SegmentTest, AReportedTypeOtherThanTheStoredOneRefusesSchemaModes) {
    tagZVDBFIELD *f = field("n", ZV_INT4);
    tagZVDBINDEX *ix = index("ix");
    ASSERT_EQ(zvdbSetFieldCallback(f, 0, cb(report_string)), 0);
    const struct {
        int32_t mode;
        int code;
    } cases[] = {{12, 4047}, {0x101, 4047}, {8, 4047}, {0, 0}};
    for (const auto &c : cases) {
        mark();
        ZVHANDLE s = zvdbAddSegment(ix, f, c.mode);
        EXPECT_EQ(s != nullptr, c.code == 0) << c.mode;
        EXPECT_EQ(last(), c.code ? c.code : 7777);
    }
    // A mode given by slot 7 that reads from the schema makes it a schema segment.
    ASSERT_EQ(zvdbSetFieldCallback(f, 7, cb(give_mode_12)), 0);
    ZVHANDLE s = zvdbAddSegment(ix, f, 8);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(zvdbGetSegmentMode(s), 12);
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 8);
}

TEST_F(SegmentTest, SlotEightRunsOnceForATransformSegment) {
    tagZVDBFIELD *f = field("n", ZV_FSTRING, 6);
    tagZVDBINDEX *ix = index("ix");
    ASSERT_EQ(zvdbSetFieldCallback(f, 8, cb(count_transform)), 0);
    transform_calls = 0;
    ASSERT_NE(zvdbAddSegment(ix, f, 12), nullptr);
    EXPECT_EQ(transform_calls, 0);
    ZVHANDLE s = zvdbAddSegment(ix, f, 0x400 | 12);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(transform_calls, 1);
    EXPECT_EQ(transform_segment, s);
    ASSERT_EQ(zvdbSetFieldCallback(f, 8, cb(refuse)), 0);
    mark();
    EXPECT_EQ(zvdbAddSegment(ix, f, 0x400 | 12), nullptr);
    EXPECT_EQ(last(), 4444);
    EXPECT_EQ(zvdbGetIndexSegmentCount(ix), 2);
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 12);
    EXPECT_EQ(_zvdbListCount(f->segments), 2);
}

TEST_F(SegmentTest, FieldSegmentArgumentsAreChecked) {
    tagZVDBFIELD *f = field("n", ZV_INT4);
    tagZVDBFIELD *j = field("j", ZV_JSON, 100);
    tagZVDBINDEX *ix = index("ix");
    ZVHANDLE other = zvdbAllocTable(session_);
    ZVHANDLE foreign = zvdbAddField(other, "n", ZV_INT4, 4);
    const struct {
        ZVHANDLE index, field;
        int code;
    } cases[] = {{ix, table_, 4017}, {ix, j, 4054}, {f, f, 4018}, {ix, foreign, 4014}};
    for (const auto &c : cases) {
        mark();
        EXPECT_EQ(zvdbAddSegment(c.index, c.field, 12), nullptr);
        EXPECT_EQ(last(), c.code);
    }
    EXPECT_EQ(zvdbInsSegment(ix, 0, f, 12), nullptr);  // no segment to go before
    EXPECT_EQ(last(), 4005);
    ASSERT_NE(zvdbAddSegmentByName(table_, 0, "N", 8), nullptr);
    ASSERT_NE(zvdbInsSegmentByNbr(table_, 0, 0, 0, 1), nullptr);
    EXPECT_EQ(zvdbAddSegmentByNbr(table_, 0, 5, 8), nullptr);
    EXPECT_EQ(last(), 4005);
    EXPECT_EQ(zvdbInsSegmentByName(table_, 3, 0, "n", 8), nullptr);
    EXPECT_EQ(last(), 4005);
    EXPECT_EQ(zvdbGetSegmentMode(zvdbGetSegment(ix, 0)), 1);
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 8);
    EXPECT_EQ(_zvdbListCount(f->segments), 2);
    zvdbFreeTable(other);
}

TEST_F(SegmentTest, ExtendedSegmentInsertsTakeExtendedModesOnly) {
    tagZVDBINDEX *ix = index("ix");
    ASSERT_NE(zvdbAddSegmentEx(ix, 0, 4, 6), nullptr);  // appending does not check
    const struct {
        int32_t mode;
        int code;
    } cases[] = {{6, 4047}, {12, 4047}, {256, 0}, {10, 0}, {0x21, 0}};
    int32_t count = 1;
    for (const auto &c : cases) {
        mark();
        ZVHANDLE s = zvdbInsSegmentEx(ix, 0, 8, 2, c.mode);
        EXPECT_EQ(s != nullptr, c.code == 0) << c.mode;
        EXPECT_EQ(last(), c.code ? c.code : 7777);
        if (s) count++;
        EXPECT_EQ(zvdbGetIndexSegmentCount(ix), count);
        EXPECT_EQ(zvdbGetIndexKeyLength(ix), 4 + 2 * (count - 1));
    }
    EXPECT_EQ(zvdbInsSegmentEx(ix, count, 0, 2, 0), nullptr);
    EXPECT_EQ(last(), 4005);
    EXPECT_EQ(zvdbAddSegmentEx(ix, 0, -1, 0), nullptr);
    EXPECT_EQ(last(), 4004);
    EXPECT_EQ(zvdbGetSegmentField(zvdbGetSegment(ix, 0)), nullptr);
    EXPECT_EQ(zvdbGetSegmentLength(zvdbGetSegment(ix, 0)), 2);
}

TEST_F(SegmentTest, TheRowIdSegmentCountsEightKeyBytes) {
    tagZVDBFIELD *f = field("n", ZV_INT4);
    tagZVDBINDEX *ix = index("ix", 1);
    ZVHANDLE row = zvdbAddRowIdSegment(ix);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 4 + 8);
    EXPECT_EQ(zvdbGetSegmentLength(row), -1);
    EXPECT_EQ(zvdbGetSegmentMode(row), 0xFFFF);
    EXPECT_EQ(zvdbGetSegmentField(row), nullptr);
    EXPECT_EQ(zvdbGetSegmentPartialField(row), nullptr);
    EXPECT_EQ(zvdbDelSegment(ix, 0), 0);
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 4);
    // An existing row-id segment re-pointed to a field trades 8 for its length.
    row = zvdbAddRowIdSegment(ix);
    static_cast<tagZVDBSEGMENT *>(row)->status = 0;
    EXPECT_EQ(zvdbSetSegmentField(row, f), 0);
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 4 + 4);
    EXPECT_EQ(zvdbGetSegmentStatus(row), 32u);
    EXPECT_EQ(zvdbGetSegmentField(row), f);
}

TEST_F(SegmentTest, MovingAnExistingSegmentLeavesItDeletedBesideANewCopy) {
    bind_fixture();
    auto *byname = static_cast<tagZVDBINDEX *>(zvdbGetIndexByName(table_, "byname"));
    auto *name = static_cast<tagZVDBFIELD *>(zvdbGetFieldByName(table_, "name"));
    ZVHANDLE old = zvdbGetSegment(byname, 0);
    ASSERT_EQ(zvdbGetSegmentStatus(old), 0u);
    ZVHANDLE qty = zvdbAddSegment(byname, zvdbGetFieldByName(table_, "qty"), 8);
    ASSERT_NE(qty, nullptr);
    EXPECT_EQ(zvdbGetIndexKeyLength(byname), 24);
    EXPECT_EQ(zvdbMoveSegment(old, 2), 0);
    ASSERT_EQ(zvdbGetIndexSegmentCount(byname), 3);
    auto *copy = static_cast<tagZVDBSEGMENT *>(zvdbGetSegment(byname, 2));
    EXPECT_NE(copy, old);
    EXPECT_EQ(zvdbGetSegment(byname, 0), old);
    EXPECT_EQ(zvdbGetSegmentStatus(old), 2u);
    EXPECT_EQ(zvdbGetSegmentStatus(copy), 1u | 4u);
    EXPECT_EQ(zvdbGetSegmentField(copy), name);
    EXPECT_EQ(zvdbGetSegmentMode(copy), 12);
    EXPECT_EQ(zvdbGetSegmentLength(copy), 16);
    ASSERT_EQ(_zvdbListCount(name->segments), 1);
    EXPECT_EQ(name->segments->items[0], copy);
    EXPECT_EQ(zvdbGetIndexKeyLength(byname), 24);
    EXPECT_EQ(zvdbMoveSegment(old, 1), 4092);
    EXPECT_EQ(zvdbDelSegmentEx(old), 4092);
    // A new segment just moves.
    EXPECT_EQ(zvdbMoveSegment(qty, 0), 0);
    EXPECT_EQ(zvdbGetSegment(byname, 0), qty);
    EXPECT_EQ(zvdbGetSegmentStatus(qty), 1u | 4u);
    EXPECT_EQ(zvdbMoveSegment(qty, 4), 4005);
    int32_t n = -1;
    EXPECT_EQ(zvdbGetSegmentNbr(copy, &n), 0);
    EXPECT_EQ(n, 2);
}

TEST_F(SegmentTest, RepointingDropsTheTransformAndMovesTheKeyBytes) {
    bind_fixture();
    auto *byname = static_cast<tagZVDBINDEX *>(zvdbGetIndexByName(table_, "byname"));
    auto *name = static_cast<tagZVDBFIELD *>(zvdbGetFieldByName(table_, "name"));
    auto *qty = static_cast<tagZVDBFIELD *>(zvdbGetFieldByName(table_, "qty"));
    auto *s = static_cast<tagZVDBSEGMENT *>(zvdbGetSegment(byname, 0));
    unsigned char block[64];
    ASSERT_EQ(zvdbSetKSegDefaults(block), 0);
    ASSERT_EQ(zvdbSetSegmentKSeg(s, block), 0);
    s->ksegchanged = 0;
    EXPECT_EQ(zvdbSetSegmentField(s, zvdbGetFieldByName(table_, "id")), 0);
    EXPECT_EQ(zvdbSetSegmentField(s, qty), 0);
    EXPECT_EQ(s->ksegstate, 0);
    EXPECT_EQ(s->ksegchanged, 1);
    EXPECT_EQ(zvdbGetSegmentKSeg(s, block), 4046);
    EXPECT_EQ(zvdbGetSegmentStatus(s), 32u);
    EXPECT_EQ(zvdbGetIndexKeyLength(byname), 4 + 4);
    EXPECT_EQ(name->segments, nullptr);
    ASSERT_EQ(_zvdbListCount(qty->segments), 1);
    tagZVDBFIELD *j = field("j", ZV_JSON, 50);
    EXPECT_EQ(zvdbSetSegmentField(s, j), 4054);
    EXPECT_EQ(zvdbSetSegmentField(s, table_), 4017);
}

TEST_F(SegmentTest, JsonSegmentsNeedAReportedTypeAndKeepTheirSettings) {
    tagZVDBFIELD *j = field("doc", ZV_JSON, 200);
    tagZVDBINDEX *ix = index("ix");
    mark();
    EXPECT_EQ(zvdbAddJSONSegment(ix, j, "$.a", ZV_INT4, 4), nullptr);  // its type reads ZV_JSON
    EXPECT_EQ(last(), 4054);
    ASSERT_EQ(zvdbSetFieldCallback(j, 0, cb(report_string)), 0);
    EXPECT_EQ(zvdbAddJSONSegment(ix, j, "$.a", ZV_INT4, 4), nullptr);  // mode 12 is refused then
    EXPECT_EQ(last(), 4047);
    ASSERT_EQ(zvdbSetFieldCallback(j, 7, cb(give_mode_12)), 0);
    ZVHANDLE s = zvdbAddJSONSegment(ix, j, "$.a", ZV_INT4, 4);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 4);
    EXPECT_EQ(zvdbGetSegmentLength(s), 4);
    const char *path = nullptr;
    int32_t type = 0, length = 0;
    EXPECT_EQ(zvdbGetJSONSegmentProperties(s, &path, &type, &length), 0);
    EXPECT_STREQ(path, "$.a");
    EXPECT_EQ(type, ZV_INT4);
    EXPECT_EQ(length, 4);
    unsigned char block[64];
    ASSERT_EQ(zvdbGetSegmentKSeg(s, block), 0);
    const Bytes words(block, block + 24);
    EXPECT_EQ(words, (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, ZV_INT4, 0, 0, 0, 4, 0, 0, 0}));
    EXPECT_EQ(zvdbSetSegmentMode(s, 8), 4054);
    // Re-pointed to another JSON field with new settings.
    tagZVDBFIELD *k = field("doc2", ZV_JSON, 200);
    EXPECT_EQ(zvdbSetJSONSegmentField(s, k, "$.b", ZV_STRING, 10), 0);
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 10);
    EXPECT_EQ(zvdbGetJSONSegmentProperties(s, &path, &type, &length), 0);
    EXPECT_STREQ(path, "$.b");
    EXPECT_EQ(type, ZV_STRING);
    EXPECT_EQ(length, 10);
    EXPECT_EQ(zvdbGetSegmentField(s), k);
    EXPECT_EQ(j->segments, nullptr);
    EXPECT_EQ(zvdbSetJSONSegmentField(s, field("plain", ZV_INT4), "$.c", 0, 4), 4054);
    ZVHANDLE plain = zvdbAddSegmentEx(ix, 0, 4, 0);
    EXPECT_EQ(zvdbGetJSONSegmentProperties(plain, &path, &type, &length), 4046);
}

TEST_F(SegmentTest, TransformDefaultsAreTheirSixtyFourBytes) {
    unsigned char block[64];
    std::memset(block, 0xEE, sizeof block);
    EXPECT_EQ(zvdbSetKSegDefaults(block), 0);
    Bytes expected = {0, 0, 0, 0, 0, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0,
                      1, 0, 0, 0, 0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'e', 'n', '_', 'U', 'S'};
    expected.resize(64, 0);
    EXPECT_EQ(Bytes(block, block + 64), expected);
    EXPECT_EQ(zvdbSetKSegDefaults(nullptr), 4007);
    // A new segment has no transform until one is set.
    tagZVDBINDEX *ix = index("ix");
    ZVHANDLE s = zvdbAddSegmentEx(ix, 0, 4, 0);
    unsigned char out[64];
    EXPECT_EQ(zvdbGetSegmentKSeg(s, out), 4046);
    EXPECT_EQ(zvdbSetSegmentKSeg(s, nullptr), 4007);
    ASSERT_EQ(zvdbSetSegmentKSeg(s, block), 0);
    ASSERT_EQ(zvdbGetSegmentKSeg(s, out), 0);
    EXPECT_EQ(Bytes(out, out + 64), expected);
    void *built = _zvdbBuildKSEG(static_cast<tagZVDBSEGMENT *>(s));
    ASSERT_NE(built, nullptr);
    EXPECT_EQ(Bytes(static_cast<unsigned char *>(built), static_cast<unsigned char *>(built) + 64), expected);
    _zvdb_free(built);
}

TEST_F(SegmentTest, AStoredTransformIsReadFromTheIndexOnce) {
    bind_fixture();
    ZVHANDLE byname = zvdbGetIndexByName(table_, "byname");
    Bytes stored = {0x40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0,
                    0,    0, 0, 0, 0, 0, 0, 0, 'd', 'e', '_', 'D', 'E'};
    stored.resize(64, 0);
    ASSERT_EQ(ENARES(zvdbGetIdxno(zvdbGetIndexByName(table_, "byid"))), 0);  // the host index file
    ASSERT_GT(PUTKSEGDEF(zvdbGetIdxno(byname), 0, stored.data()), 0);
    auto *s = static_cast<tagZVDBSEGMENT *>(zvdbGetSegment(byname, 0));
    const uint64_t calls = zv::schema_counts().getksegdef_calls;
    unsigned char out[64] = {};
    ASSERT_EQ(zvdbGetSegmentKSeg(s, out), 0);
    EXPECT_EQ(Bytes(out, out + 64), stored);
    ASSERT_NE(s->ksegtext, nullptr);
    EXPECT_STREQ(s->ksegtext, "de_DE");
    Bytes kept(stored.begin(), stored.begin() + 32);
    kept.resize(64, 0);
    EXPECT_EQ(Bytes(s->kseg, s->kseg + 64), kept);  // the text moved out of the block
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(_zvdbRetrieveSegmentKSEG(s, 0), 0);
        EXPECT_EQ(zvdbGetSegmentKSeg(s, out), 0);
    }
    EXPECT_EQ(zv::schema_counts().getksegdef_calls - calls, 1u);
    void *built = _zvdbBuildKSEG(s);
    ASSERT_NE(built, nullptr);
    EXPECT_EQ(Bytes(static_cast<unsigned char *>(built), static_cast<unsigned char *>(built) + 64), stored);
    _zvdb_free(built);
    // A longer text makes a longer block, whole.
    _zvdb_free(s->ksegtext);
    const std::string longtext(40, 'z');
    s->ksegtext = _zvdb_strdup(longtext.c_str());
    built = _zvdbBuildKSEG(s);
    ASSERT_NE(built, nullptr);
    EXPECT_EQ(std::string(static_cast<char *>(built) + 32), longtext);
    _zvdb_free(built);
    // The other index keeps none: one engine call, then none.
    ZVHANDLE other = zvdbGetSegment(zvdbGetIndexByName(table_, "byid"), 0);
    EXPECT_EQ(zvdbGetSegmentKSeg(other, out), 4046);
    EXPECT_EQ(zvdbGetSegmentKSeg(other, out), 4046);
    EXPECT_EQ(zv::schema_counts().getksegdef_calls - calls, 2u);
}

TEST_F(SegmentTest, PartialFieldsOfExtendedSegmentsComeFromTheSchema) {
    bind_fixture();
    ZVHANDLE byid = zvdbGetIndexByName(table_, "byid");
    EXPECT_STREQ(zvdbGetFieldName(zvdbGetSegmentPartialField(zvdbGetSegment(byid, 0))), "id");
    const struct {
        int32_t offset, length, mode;
        const char *field;  // NULL: none
    } cases[] = {{4, 4, 0, "qty"}, {4, 8, 0, nullptr}, {2, 16, 12, "name"}, {9, 4, 12, nullptr}, {0, 4, 4, nullptr}};
    for (const auto &c : cases) {
        ZVHANDLE s = zvdbAddSegmentEx(byid, c.offset, c.length, c.mode);
        ASSERT_NE(s, nullptr);
        ZVHANDLE f = zvdbGetSegmentPartialField(s);
        if (c.field) {
            EXPECT_STREQ(zvdbGetFieldName(f), c.field) << c.offset << "/" << c.mode;
        } else {
            EXPECT_EQ(f, nullptr) << c.offset << "/" << c.mode;
        }
    }
    EXPECT_STREQ(zvdbGetSegmentFieldName(zvdbGetSegment(zvdbGetIndexByName(table_, "byname"), 0)), "name");
}

}  // namespace
