// Index handles: adds and their name checks, duplicate suffixes in the key
// length, deletes, own file names, and what an open index reports through
// the engine (file numbers, temporary mode, distinct counts, conditional
// expressions, background-load status).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "engine/core/fcb.h"
#include "recapi/schema/index.h"
#include "recapi/schema/segment.h"
#include "tests/recapi/schema/schemafix.h"

namespace {

using IndexTest = schematest::SchemaTest;

std::vector<std::string> index_names(const tagZVDBTABLE *t) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < _zvdbListCount(t->indexes); i++) {
        out.push_back(static_cast<tagZVDBINDEX *>(t->indexes->items[i])->name);
    }
    return out;
}

TEST_F(IndexTest, AddsRefuseMissingReservedAndTakenNames) {
    index("ByName");
    const struct {
        const char *name;
        int code;
    } cases[] = {{nullptr, 4053}, {"", 4053}, {"$RECBYT$", 4136}, {"$rowid$", 4136}, {"byname", 4051}, {"BYNAME", 4051}};
    for (const bool check : {true, false}) {
        table_->reservedcheck = check ? 1 : 0;  // index names are checked either way
        for (const auto &c : cases) {
            mark();
            EXPECT_EQ(zvdbAddIndex(table_, c.name, 0, 0, 0), nullptr) << (c.name ? c.name : "NULL");
            EXPECT_EQ(last(), c.code);
            EXPECT_EQ(index_names(table_), std::vector<std::string>{"ByName"});
        }
    }
    tagZVDBINDEX *ix = static_cast<tagZVDBINDEX *>(zvdbGetIndexByName(table_, "BYNAME"));
    ASSERT_NE(ix, nullptr);
    EXPECT_EQ(zvdbGetIndexStatus(ix), 1u);
    EXPECT_EQ(zvdbGetIndexTemporaryFlag(ix), 0);
    EXPECT_EQ(ix->idxno, -1);
    int32_t n = -1;
    EXPECT_EQ(zvdbGetIndexNbr(ix, &n), 0);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(zvdbGetIndexNbrByName(table_, "nosuch"), -1);
    EXPECT_EQ(last(), 4045);
}

TEST_F(IndexTest, DuplicatesAddTheirSuffixToTheKeyLength) {
    tagZVDBFIELD *a = field("a", ZV_INT4);
    tagZVDBFIELD *b = field("b", ZV_INT4);
    tagZVDBINDEX *ix = index("ab", 1);
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 4);
    ASSERT_NE(zvdbAddSegment(ix, a, 8), nullptr);
    ASSERT_NE(zvdbAddSegment(ix, b, 8), nullptr);
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 12);
    ix->status = 0;
    EXPECT_EQ(zvdbSetIndexDuplicateFlag(ix, 0), 0);
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 8);
    EXPECT_EQ(zvdbGetIndexStatus(ix), 64u);
    EXPECT_EQ(zvdbSetIndexDuplicateFlag(ix, 0), 0);  // unchanged
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 8);
    EXPECT_EQ(zvdbSetIndexDuplicateFlag(ix, 1), 0);
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 12);
    // Switching duplicates off also drops distinct-key counting.
    ix->status = 0;
    EXPECT_EQ(zvdbSetIndexDistinctKeyCountFlag(ix, 1), 0);
    EXPECT_EQ(zvdbSetIndexDuplicateFlag(ix, 0), 0);
    EXPECT_EQ(zvdbGetIndexDistinctKeyCountFlag(ix), 0);
    EXPECT_EQ(zvdbGetIndexStatus(ix), 64u | 0x400u);
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 8);
}

// On a table of huge files the suffix is 8 bytes, on and off alike.
TEST_F(IndexTest, HugeFileTablesTakeAnEightByteSuffix) {
    bind_fixture(0x100);
    tagZVDBINDEX *ix = index("big", 1);
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 8);
    ASSERT_NE(zvdbAddSegment(ix, zvdbGetFieldByName(table_, "id"), 8), nullptr);
    ASSERT_NE(zvdbAddSegment(ix, zvdbGetFieldByName(table_, "qty"), 8), nullptr);
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 16);
    EXPECT_EQ(zvdbSetIndexDuplicateFlag(ix, 0), 0);
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 8);
    EXPECT_EQ(zvdbSetIndexDuplicateFlag(ix, 1), 0);
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 16);
    // The bound index's suffix is the one its file has.
    auto *byname = static_cast<tagZVDBINDEX *>(zvdbGetIndexByName(table_, "byname"));
    EXPECT_EQ(zvdbGetIndexKeyLength(byname), 24);
    EXPECT_EQ(zvdbSetIndexDuplicateFlag(byname, 0), 0);
    EXPECT_EQ(zvdbGetIndexKeyLength(byname), 16);
}

TEST_F(IndexTest, KeyTypeEmptyCharAndNullFlagMarkTheirChanges) {
    tagZVDBINDEX *ix = index("k");
    ix->status = 0;
    mark();
    EXPECT_EQ(zvdbSetIndexKeyType(ix, 0x10), 4019);
    EXPECT_EQ(last(), 4019);
    EXPECT_EQ(zvdbGetIndexStatus(ix), 0u);
    const struct {
        int op;
        int32_t value;
        uint32_t status;
    } steps[] = {{0, 0, 0}, {0, 0x100EC, 16}, {1, 0, 16}, {1, 32, 16 | 32}, {2, 0, 16 | 32}, {2, 1, 16 | 32 | 128}};
    for (const auto &s : steps) {
        const ZVDBRET rc = s.op == 0   ? zvdbSetIndexKeyType(ix, s.value)
                           : s.op == 1 ? zvdbSetIndexEmptyChar(ix, s.value)
                                       : zvdbSetIndexNullFlag(ix, int(s.value));
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(zvdbGetIndexStatus(ix), s.status) << s.op << "/" << s.value;
    }
    EXPECT_EQ(zvdbGetIndexKeyType(ix), 0x100EC);
    EXPECT_EQ(zvdbGetIndexEmptyChar(ix), 32);
    EXPECT_EQ(zvdbGetIndexNullFlag(ix), 1);
    EXPECT_EQ(zvdbGetIndexKeyType(table_), 0x7FFFFFFF);
    EXPECT_EQ(zvdbGetIndexEmptyChar(nullptr), 0x7FFFFFFF);
}

TEST_F(IndexTest, DeletesDropNewIndexesMarkExistingOnesAndKeepTheHiddenOnes) {
    tagZVDBFIELD *a = field("a", ZV_INT4);
    tagZVDBINDEX *gone = index("gone");
    ASSERT_NE(zvdbAddSegment(gone, a, 8), nullptr);
    tagZVDBINDEX *kept = index("kept");
    kept->status = 0;
    ASSERT_NE(_zvdbPutIndex(table_, "$ROWID$", 0, 0, 0), nullptr);
    ASSERT_NE(_zvdbPutIndex(table_, "$recbyt$", 0, 0, 0), nullptr);
    EXPECT_EQ(zvdbDelIndex(table_, 2), 4065);
    EXPECT_EQ(zvdbDelIndex(table_, 3), 4064);
    EXPECT_EQ(zvdbDelIndex(table_, 4), 4005);
    EXPECT_EQ(zvdbDelIndex(table_, 0), 0);
    EXPECT_EQ(a->segments, nullptr);  // the segment left the field
    EXPECT_EQ(index_names(table_), (std::vector<std::string>{"kept", "$ROWID$", "$recbyt$"}));
    EXPECT_EQ(zvdbDelIndex(table_, 0), 0);
    EXPECT_EQ(zvdbGetIndexStatus(kept), 2u);
    EXPECT_EQ(zvdbGetTableIndexCount(table_), 3);
}

TEST_F(IndexTest, LookupsByNumberNameAndHiddenNumbers) {
    index("i0");
    index("i1");
    mark();
    EXPECT_EQ(zvdbGetIndex(table_, 10003), nullptr);  // no partition index
    EXPECT_EQ(last(), 4005);
    EXPECT_EQ(zvdbGetIndex(table_, 2), nullptr);
    table_->partindex = 3;  // counted with two hidden indexes
    table_->hasrowid = table_->hasrecbyt = 1;
    EXPECT_STREQ(zvdbGetIndexName(zvdbGetIndex(table_, 10003)), "i1");
    EXPECT_EQ(_zvdbGetIndex(table_, 10000, 1), nullptr);
    EXPECT_EQ(last(), 4045);
    EXPECT_EQ(_zvdbGetIndex(table_, 10001, 0), nullptr);
    EXPECT_EQ(last(), 4005);
    EXPECT_STREQ(zvdbGetIndexName(_zvdbGetIndex(table_, 0, 1)), "i0");
    EXPECT_EQ(zvdbGetIndexByUID(table_, 9), nullptr);  // closed table
    EXPECT_EQ(last(), 4045);
}

TEST_F(IndexTest, RenamesKeepIndexNamesUnique) {
    tagZVDBINDEX *a = index("a");
    index("b");
    a->status = 0;
    const struct {
        const char *name;
        int code;
    } cases[] = {{nullptr, 4007}, {"", 4004}, {"B", 4051}};
    for (const auto &c : cases) EXPECT_EQ(zvdbSetIndexName(a, c.name), c.code);
    EXPECT_EQ(zvdbGetIndexStatus(a), 0u);
    EXPECT_EQ(zvdbSetIndexName(a, "A"), 0);  // its own name in another case
    EXPECT_EQ(zvdbSetIndexName(a, "c"), 0);
    EXPECT_STREQ(zvdbGetIndexName(a), "c");
    EXPECT_EQ(zvdbGetIndexStatus(a), 0x200u);
}

TEST_F(IndexTest, OwnFileNamesJoinPathNameAndIndexExtension) {
    tagZVDBINDEX *ix = index("x");
    ix->status = 0;
    ASSERT_EQ(zvdbSetTablePath(table_, "base"), 0);
    _zvdb_free(table_->physname);
    table_->physname = _zvdb_strdup("t");
    const struct {
        const char *path, *name, *ext;
        const char *expected;  // NULL: no own file
    } cases[] = {{"d", nullptr, nullptr, "d/t.idx"}, {"d", "own", ".ix", "d/own.ix"}, {nullptr, "own", nullptr, "base/own.idx"},
                 {nullptr, nullptr, nullptr, nullptr}};
    for (const auto &c : cases) {
        ASSERT_EQ(zvdbSetIndexExtension(table_, c.ext), 0);
        EXPECT_EQ(zvdbSetIndexFilename(ix, c.path, c.name), 0);
        if (c.expected) {
            ASSERT_NE(zvdbGetIndexFilename(ix), nullptr);
            EXPECT_STREQ(zvdbGetIndexFilename(ix), c.expected);
        } else {
            EXPECT_EQ(zvdbGetIndexFilename(ix), nullptr);
        }
        EXPECT_EQ(zvdbGetIndexStatus(ix), 0x100u);
    }
    ix->status = 0;
    EXPECT_EQ(zvdbSetIndexFilename(ix, nullptr, nullptr), 0);  // nothing to clear
    EXPECT_EQ(zvdbGetIndexStatus(ix), 0u);
}

TEST_F(IndexTest, BoundIndexesCarryTheirEngineFileNumbers) {
    bind_fixture();
    for (const char *name : {"byid", "byname"}) {
        ZVHANDLE ix = zvdbGetIndexByName(table_, name);
        const int idxno = zvdbGetIdxno(ix);
        ASSERT_GT(idxno, table_->datno);
        EXPECT_EQ(zvdbGetIdxnoByName(table_, name), idxno);
        EXPECT_EQ(GETFIL(idxno, 1), zvdbGetIndexKeyLength(ix)) << name;
        EXPECT_EQ(_zvdbGetIndexikeytyp(ix), 0);
    }
    EXPECT_EQ(zvdbGetIdxnoByNumber(table_, 1), zvdbGetIdxnoByName(table_, "byname"));
    tagZVDBINDEX *fresh = index("fresh");
    mark();
    EXPECT_EQ(_zvdbGetIndexikeytyp(fresh), -1);
    EXPECT_EQ(last(), 4025);
    static_cast<tagZVDBINDEX *>(zvdbGetIndex(table_, 1))->uid = 77;
    EXPECT_EQ(zvdbGetIndexByUID(table_, 77), zvdbGetIndex(table_, 1));
}

TEST_F(IndexTest, TheTemporaryFlagIsReadFromTheEngineOnce) {
    bind_fixture();
    ZVHANDLE ix = zvdbGetIndexByName(table_, "byname");
    const int32_t mode = GETFIL(zvdbGetIdxno(ix), 26);
    const uint64_t calls = zv::schema_counts().getfil_calls;
    EXPECT_EQ(zvdbGetIndexTemporaryFlag(ix), (mode & 32) ? 1 : 0);
    EXPECT_EQ(zvdbGetIndexTemporaryFlag(ix), (mode & 32) ? 1 : 0);
    EXPECT_EQ(zv::schema_counts().getfil_calls - calls, 1u);
    EXPECT_EQ(zvdbSetIndexTemporaryFlag(ix, 1), 0);
    EXPECT_EQ(zvdbGetIndexTemporaryFlag(ix), 1);
    EXPECT_EQ(zv::schema_counts().getfil_calls - calls, 1u);
}

TEST_F(IndexTest, ClearingAnUnsetDistinctFlagMarksIndexesWhoseFilesKeepCounts) {
    for (const int16_t dup : {int16_t(5), int16_t(1)}) {
        SCOPED_TRACE(dup);
        bind_fixture(0, dup);
        ZVHANDLE ix = zvdbGetIndexByName(table_, "byname");
        auto *x = static_cast<tagZVDBINDEX *>(ix);
        x->distinctflag = 0;
        EXPECT_EQ(zvdbSetIndexDistinctKeyCountFlag(ix, 0), 0);
        EXPECT_EQ(zvdbGetIndexStatus(ix), dup == 5 ? 0x400u : 0u);
        unbind_fixture();
    }
}

TEST_F(IndexTest, DistinctEstimatesJoinTheEnginesHighWord) {
    bind_fixture(0, 5);
    ZVHANDLE ix = zvdbGetIndexByName(table_, "byname");
    uint64_t count = 0;
    EXPECT_EQ(zvdbEstimateNumberOfDistinctKeyEntries(ix, 0, nullptr, nullptr, nullptr), 4007);
    ASSERT_EQ(zvdbEstimateNumberOfDistinctKeyEntries(ix, 0, nullptr, nullptr, &count), 0);
    EXPECT_EQ(count, 0u);
    FCB *f = tstfnm(zvdbGetIdxno(ix));
    ASSERT_NE(f, nullptr);
    f->hdr.ext.disth = 1;
    f->hdr.ext.distl = 7;
    ASSERT_EQ(zvdbEstimateNumberOfDistinctKeyEntries(ix, 0, nullptr, nullptr, &count), 0);
    EXPECT_EQ(count, (uint64_t{1} << 32) | 7u);
    f->hdr.ext.disth = f->hdr.ext.distl = 0;
    // A unique index counts its entries.
    unsigned char rec[24] = {1, 0, 0, 0};
    ASSERT_EQ(ADDREC(table_->datno, rec), 0);
    rec[0] = 2;
    ASSERT_EQ(ADDREC(table_->datno, rec), 0);
    unsigned char entries[4][16] = {};
    int32_t levels = -1;
    ASSERT_EQ(zvdbEstimateNumberOfDistinctKeyEntries(zvdbGetIndexByName(table_, "byid"), 4, entries, &levels, &count), 0);
    EXPECT_EQ(count, 2u);
    // An index that is not open gets the engine's refusal.
    tagZVDBINDEX *fresh = index("fresh");
    EXPECT_NE(zvdbEstimateNumberOfDistinctKeyEntries(fresh, 0, nullptr, nullptr, &count), 0);
}

TEST_F(IndexTest, ConditionalExpressionsAreReadFromTheOpenIndex) {
    ZVHANDLE closed = index("c");
    char buf[32] = "junk";
    mark();
    EXPECT_EQ(zvdbGetCndxIndex(closed, buf, sizeof buf), 4012);
    EXPECT_EQ(zvdbGetCndxIndexLength(closed), -1);
    EXPECT_EQ(last(), 4012);
    ASSERT_EQ(zvdbDelIndex(table_, 0), 0);
    bind_fixture();
    ZVHANDLE byid = zvdbGetIndexByName(table_, "byid");
    EXPECT_EQ(zvdbGetCndxIndex(byid, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(zvdbGetCndxIndexLength(byid), -1);
    // No text is written without a buffer of at least one byte, also when
    // the index has no condition.
    for (const auto &[buffer, size, code] : {std::tuple<char *, int32_t, ZVDBRET>{nullptr, 8, 4007},
                                             {nullptr, 0, 4007}, {buf, 0, 4006}, {buf, -1, 4006}}) {
        std::strcpy(buf, "junk");
        EXPECT_EQ(zvdbGetCndxIndex(byid, buffer, size), code) << size;
        EXPECT_EQ(zvdbGetCndxIndexByName(table_, "byid", buffer, size), code) << size;
        EXPECT_STREQ(buf, "junk");
    }
    ASSERT_EQ(UPDCIDX(zvdbGetIdxno(byid), "qty > 5"), 0);
    EXPECT_EQ(zvdbGetCndxIndexLength(byid), 8);
    EXPECT_EQ(zvdbGetCndxIndexLengthByName(table_, "BYID"), 8);
    EXPECT_EQ(zvdbGetCndxIndex(byid, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "qty > 5");
    char small[4] = "abc";
    EXPECT_EQ(zvdbGetCndxIndexByName(table_, "byid", small, sizeof small), 4006);
    EXPECT_STREQ(small, "abc");
    EXPECT_EQ(zvdbGetCndxIndexByName(table_, "nosuch", buf, sizeof buf), 4018);
    // The caller's text for the next creation is kept apart.
    EXPECT_EQ(zvdbSetIndexCndxExpr(byid, nullptr), 0);
    EXPECT_STREQ(static_cast<tagZVDBINDEX *>(byid)->cndxexpr, "");
    EXPECT_EQ(static_cast<tagZVDBINDEX *>(byid)->cndxstate, 1);
}

TEST_F(IndexTest, BackgroundLoadStatusIsNoneForAPlainTable) {
    unsigned char status[120];
    EXPECT_EQ(zvdbCheckIndexBackgroundLoad(table_, status), 4012);
    bind_fixture();
    EXPECT_EQ(zvdbCheckIndexBackgroundLoad(table_, nullptr), 4007);
    EXPECT_EQ(zvdbCheckIndexBackgroundLoad(table_, status), 4165);
    EXPECT_EQ(last(), 4165);
    EXPECT_EQ(zvdbSetIndexKSeg(zvdbGetIndex(table_, 0), status), 4054);
    EXPECT_EQ(zvdbGetIndexKSeg(zvdbGetIndex(table_, 0), status), 4054);
}

}  // namespace
