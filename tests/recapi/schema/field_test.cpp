// Field handles: adds with their length limits and name checks, type
// normalisation, attributes, callbacks, moves and deletes, and the name
// lookup's hash.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/pools.h"
#include "recapi/schema/field.h"
#include "recapi/schema/segment.h"
#include "tests/recapi/schema/schemafix.h"

namespace {

using FieldTest = schematest::SchemaTest;

std::vector<std::string> names_of(const tagZVDBTABLE *t) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < _zvdbListCount(t->fields); i++) {
        out.push_back(static_cast<tagZVDBFIELD *>(t->fields->items[i])->name);
    }
    return out;
}

TEST_F(FieldTest, AddsCheckLengthsAgainstTheTypeLimit) {
    const struct {
        int32_t type, length;
        int code;
    } cases[] = {
        {ZV_PSTRING, 255, 0},   {ZV_PSTRING, 256, 4043}, {ZV_FPSTRING, 255, 0}, {ZV_FPSTRING, 256, 4043},
        {ZV_STRING, 65535, 0},  {ZV_STRING, 65536, 4043}, {ZV_ARRAY, 0, 0},     {ZV_INT4, -1, 4006},
        {ZV_STRING, -1, 4006},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << "/" << c.length);
        const std::string name = "f" + std::to_string(n++);
        const auto before = names_of(table_);
        mark();
        ZVHANDLE f = zvdbAddField(table_, name.c_str(), c.type, c.length);
        if (c.code) {
            EXPECT_EQ(f, nullptr);
            EXPECT_EQ(last(), c.code);
            EXPECT_EQ(names_of(table_), before);
        } else {
            ASSERT_NE(f, nullptr);
            EXPECT_EQ(last(), 7777);
            EXPECT_EQ(zvdbGetFieldLength(f), c.length);
            EXPECT_EQ(zvdbGetFieldStatus(f), 1u);
            EXPECT_EQ(names_of(table_).back(), name);
        }
    }
}

TEST_F(FieldTest, ForcedLengthsFollowTheTypeThroughRetyping) {
    tagZVDBFIELD *f = field("amount", ZV_INT4, 99);
    EXPECT_EQ(zvdbGetFieldLength(f), 4);
    EXPECT_EQ(zvdbSetFieldType(f, ZV_DFLOAT), 0);
    EXPECT_EQ(zvdbGetFieldLength(f), 8);
    EXPECT_EQ(zvdbGetFieldType(f), ZV_DFLOAT);
    EXPECT_EQ(zvdbGetFieldStatus(f), 1u | 32u);
    // A type that forces nothing keeps the length; setting a length marks 64.
    EXPECT_EQ(zvdbSetFieldType(f, ZV_FSTRING), 0);
    EXPECT_EQ(zvdbGetFieldLength(f), 8);
    EXPECT_EQ(zvdbSetFieldLength(f, 30), 0);
    EXPECT_EQ(zvdbGetFieldLength(f), 30);
    EXPECT_EQ(zvdbGetFieldStatus(f), 1u | 32u | 64u);
    EXPECT_EQ(zvdbSetFieldLength(f, 70000), 4043);
    EXPECT_EQ(zvdbSetFieldLength(f, -2), 4006);
    EXPECT_EQ(zvdbGetFieldLength(f), 30);
}

TEST_F(FieldTest, DuplicateAndReservedNamesAreRefusedWhileTheCheckIsOn) {
    field("name", ZV_FSTRING, 10);
    const struct {
        const char *name;
        int code;
    } cases[] = {{"Name", 4016}, {"NAME", 4016}, {"$rowid$", 4136}, {"$DELFLD$", 4136}, {nullptr, 4007}};
    for (const auto &c : cases) {
        mark();
        EXPECT_EQ(zvdbAddField(table_, c.name, ZV_INT4, 4), nullptr) << (c.name ? c.name : "NULL");
        EXPECT_EQ(last(), c.code);
        EXPECT_EQ(names_of(table_), std::vector<std::string>{"name"});
    }
    // With the check off (a definition rebuilt from files) both pass.
    table_->reservedcheck = 0;
    EXPECT_NE(zvdbAddField(table_, "Name", ZV_INT4, 4), nullptr);
    EXPECT_NE(zvdbAddField(table_, "$rowid$", ZV_INT4, 4), nullptr);
    EXPECT_EQ(names_of(table_), (std::vector<std::string>{"name", "Name", "$rowid$"}));
}

TEST_F(FieldTest, ReservedNamesAreTheFourHiddenNamesInAnyCase) {
    const struct {
        const char *name;
        int reserved;
    } cases[] = {{"$DELFLD$", 1}, {"$NulFld$", 1}, {"$RECBYT$", 1}, {"$rowid$", 1},
                 {"$ROWID", 0},   {"ROWID$", 0},   {"", 0},         {nullptr, 0}};
    for (const auto &c : cases) EXPECT_EQ(_zvdbIsReservedName(c.name), c.reserved) << (c.name ? c.name : "NULL");
}

TEST_F(FieldTest, InsertsGoBeforeThePositionOrTheNamedField) {
    field("a", ZV_INT4);
    field("c", ZV_INT4);
    EXPECT_NE(zvdbInsField(table_, 1, "b", ZV_INT4, 4), nullptr);
    EXPECT_NE(zvdbInsFieldByName(table_, "A", "first", ZV_INT4, 4), nullptr);
    EXPECT_EQ(names_of(table_), (std::vector<std::string>{"first", "a", "b", "c"}));
    // A missing name is reported before a bad position, a bad position before
    // a reserved or taken name.
    const struct {
        int32_t pos;
        const char *name;
        int code;
    } bad[] = {{4, "x", 4005}, {-1, "x", 4005}, {-1, nullptr, 4007}, {-1, "$rowid$", 4005}, {0, "B", 4016}};
    for (const auto &c : bad) {
        mark();
        EXPECT_EQ(zvdbInsField(table_, c.pos, c.name, ZV_INT4, 4), nullptr) << c.pos;
        EXPECT_EQ(last(), c.code) << c.pos;
    }
    EXPECT_EQ(zvdbInsFieldByName(table_, "nosuch", "x", ZV_INT4, 4), nullptr);
    EXPECT_EQ(last(), 4014);
    EXPECT_EQ(names_of(table_).size(), 4u);
}

TEST_F(FieldTest, NameHashWeighsUpperCaseBytesByPosition) {
    // Sum of upper(byte i) x i; a zero sum gives upper(first) + 1.
    const struct {
        const char *name;
        uint32_t hash;
    } cases[] = {{"a", 66}, {"", 1}, {"ab", 66}, {"AB", 66}, {"name", 426}, {"x", 89}};
    for (const auto &c : cases) EXPECT_EQ(_zvdbFieldNameHash(c.name), c.hash) << c.name;
}

TEST_F(FieldTest, LookupByNameAllocatesNothingAndComparesOnlyMatchingHashes) {
    for (int i = 0; i < 198; i++) field(("f" + std::to_string(i)).c_str(), ZV_INT4);
    field("a", ZV_INT4);   // hashes as "ab" does (66)
    field("ab", ZV_INT4);
    const uint32_t want = static_cast<tagZVDBFIELD *>(table_->fields->items[199])->namehash;
    uint64_t same = 0;
    for (int32_t i = 0; i < 200; i++) same += static_cast<tagZVDBFIELD *>(table_->fields->items[i])->namehash == want;
    ASSERT_GE(same, 2u);
    const uint64_t allocs = zv::platform_alloc_count();
    const uint64_t compares = zv::schema_counts().name_compares;
    ZVHANDLE f = zvdbGetFieldByName(table_, "AB");
    EXPECT_EQ(zv::platform_alloc_count(), allocs);
    EXPECT_EQ(zv::schema_counts().name_compares - compares, same);
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(zvdbGetFieldName(f), "ab");
    EXPECT_EQ(zvdbGetFieldNumber(table_, "F17"), 17);
    mark();
    EXPECT_EQ(zvdbGetFieldByName(table_, "zz"), nullptr);
    EXPECT_EQ(last(), 4014);
}

TEST_F(FieldTest, PrecisionAndScaleReadTheTypeDefaultsUntilSet) {
    const struct {
        int32_t type, length, precision, scale;
    } cases[] = {{ZV_NUMBER, 0, 32, 0}, {ZV_CURRENCY, 0, 19, 4}, {ZV_MONEY, 0, 10, 2},
                 {ZV_FSTRING, 30, 30, 0}, {ZV_INT4, 0, 4, 0}};
    for (const auto &c : cases) {
        tagZVDBFIELD *f = field(("t" + std::to_string(c.type)).c_str(), c.type, c.length);
        EXPECT_EQ(zvdbGetFieldPrecision(f), c.precision) << c.type;
        EXPECT_EQ(zvdbGetFieldScale(f), c.scale) << c.type;
    }
    tagZVDBFIELD *f = static_cast<tagZVDBFIELD *>(zvdbGetField(table_, 0));
    EXPECT_EQ(zvdbSetFieldPrecision(f, 12), 0);
    EXPECT_EQ(zvdbSetFieldScale(f, 3), 0);
    EXPECT_EQ(zvdbGetFieldPrecision(f), 12);
    EXPECT_EQ(zvdbGetFieldScale(f), 3);
    EXPECT_EQ(zvdbGetFieldStatus(f), 1u | 128u);
    const struct {
        int32_t value;
        int code;
    } bad[] = {{-1, 4039}, {40000, 4038}};
    for (const auto &c : bad) {
        mark();
        EXPECT_EQ(zvdbSetFieldPrecision(f, c.value), c.code);
        EXPECT_EQ(last(), c.code);
        EXPECT_EQ(zvdbSetFieldScale(f, c.value), c.code);
    }
    EXPECT_EQ(zvdbGetFieldPrecision(f), 12);
    EXPECT_EQ(zvdbGetFieldScale(f), 3);
}

TEST_F(FieldTest, BinaryAndNullFlagsMarkAttributeChanges) {
    tagZVDBFIELD *f = field("blob", ZV_ARRAY, 8);
    f->status = 0;
    EXPECT_EQ(zvdbGetFieldBinaryFlag(f), 1);
    EXPECT_EQ(zvdbSetFieldBinaryFlag(f, 1), 0);
    EXPECT_EQ(zvdbGetFieldStatus(f), 0u);  // unchanged value: no mark
    mark();
    EXPECT_EQ(zvdbSetFieldBinaryFlag(f, 18), 4004);
    EXPECT_EQ(zvdbSetFieldBinaryFlag(f, -1), 4004);
    EXPECT_EQ(last(), 7777);  // returned, not kept
    EXPECT_EQ(zvdbGetFieldBinaryFlag(f), 1);
    EXPECT_EQ(zvdbGetFieldStatus(f), 0u);
    EXPECT_EQ(zvdbSetBinaryFlag(table_, 0, 17), 0);
    EXPECT_EQ(zvdbGetBinaryFlag(table_, 0), 17);
    EXPECT_EQ(zvdbGetFieldStatus(f), 128u);
    f->status = 0;
    EXPECT_EQ(zvdbSetFieldNullFlag(f, 0), 0);  // setting always marks
    EXPECT_EQ(zvdbGetFieldStatus(f), 128u);
    EXPECT_EQ(zvdbSetBinaryFlag(table_, 5, 1), 4005);
}

ZVDBRET report_string(ZVHANDLE, void *value, intptr_t, intptr_t) {
    *static_cast<int32_t *>(value) = ZV_STRING;
    return 0;
}
ZVDBRET report_length(ZVHANDLE, void *value, intptr_t, intptr_t) {
    *static_cast<int32_t *>(value) = 77;
    return 0;
}
ZVDBRET refuse(ZVHANDLE, void *, intptr_t, intptr_t) { return 4444; }

TEST_F(FieldTest, CallbacksReportTypeAndLength) {
    tagZVDBFIELD *f = field("v", ZV_INT4);
    mark();
    EXPECT_EQ(zvdbSetFieldCallback(f, 9, reinterpret_cast<ZVDB_CALLBACK>(report_string)), 4091);
    EXPECT_EQ(zvdbSetFieldCallback(f, -1, reinterpret_cast<ZVDB_CALLBACK>(report_string)), 4091);
    EXPECT_EQ(zvdbSetFieldCallback(table_, 0, reinterpret_cast<ZVDB_CALLBACK>(report_string)), 4090);
    EXPECT_EQ(last(), 7777);
    ASSERT_EQ(zvdbSetFieldCallback(f, 0, reinterpret_cast<ZVDB_CALLBACK>(report_string)), 0);
    ASSERT_EQ(zvdbSetFieldCallback(f, 1, reinterpret_cast<ZVDB_CALLBACK>(report_length)), 0);
    const char *name = nullptr;
    ZVFIELDTYPE type = 0;
    int32_t length = 0;
    EXPECT_EQ(zvdbGetFieldProperties(f, &name, &type, &length), 0);
    EXPECT_STREQ(name, "v");
    EXPECT_EQ(type, ZV_STRING);
    EXPECT_EQ(length, 77);
    EXPECT_EQ(zvdbGetFieldType(f), ZV_STRING);
    EXPECT_EQ(zvdbGetFieldLength(f), 77);
    EXPECT_EQ(_zvdbGetPhysicalFieldLength(f), 4);
    EXPECT_EQ(_zvdbGetPhysicalFieldType(f), ZV_INT4);
    EXPECT_EQ(_zvdbGetPhysicalFieldType(table_), 0);
    ASSERT_EQ(zvdbSetFieldCallback(f, 1, reinterpret_cast<ZVDB_CALLBACK>(refuse)), 0);
    EXPECT_EQ(zvdbGetFieldProperties(f, nullptr, nullptr, &length), 4444);
    EXPECT_EQ(zvdbGetFieldLength(f), -1);
}

TEST_F(FieldTest, RenamesKeepNamesUniqueAndMarkTheField) {
    tagZVDBFIELD *a = field("alpha", ZV_INT4);
    field("beta", ZV_INT4);
    a->status = 0;
    EXPECT_EQ(zvdbSetFieldName(a, "ALPHA"), 0);  // same ignoring case: nothing
    EXPECT_STREQ(zvdbGetFieldName(a), "alpha");
    EXPECT_EQ(zvdbGetFieldStatus(a), 0u);
    mark();
    EXPECT_EQ(zvdbSetFieldName(a, "Beta"), 4016);
    EXPECT_EQ(last(), 7777);
    EXPECT_EQ(zvdbSetFieldName(a, nullptr), 4007);
    EXPECT_EQ(zvdbSetFieldName(a, "gamma"), 0);
    EXPECT_EQ(zvdbGetFieldStatus(a), 16u);
    EXPECT_EQ(zvdbGetFieldByName(table_, "GAMMA"), a);
    EXPECT_EQ(zvdbGetFieldNumber(table_, "alpha"), -1);
    // Properties: the rename, retype and length in one call, or nothing.
    EXPECT_EQ(zvdbSetFieldProperties(a, "beta", ZV_DFLOAT, 3), 4016);
    EXPECT_EQ(zvdbSetFieldProperties(a, "delta", ZV_PSTRING, 300), 4043);
    EXPECT_STREQ(zvdbGetFieldName(a), "gamma");
    EXPECT_EQ(zvdbGetFieldType(a), ZV_INT4);
    EXPECT_EQ(zvdbSetFieldProperties(a, "delta", ZV_DFLOAT, 3), 0);
    EXPECT_STREQ(zvdbGetFieldName(a), "delta");
    EXPECT_EQ(zvdbGetFieldType(a), ZV_DFLOAT);
    EXPECT_EQ(zvdbGetFieldLength(a), 8);
    EXPECT_EQ(zvdbGetFieldStatus(a), 16u | 32u | 64u);
}

TEST_F(FieldTest, MovesMarkTheFieldAndKeepTheOthersInOrder) {
    field("a", ZV_INT4);
    field("b", ZV_INT4);
    tagZVDBFIELD *c = field("c", ZV_INT4);
    c->status = 0;
    EXPECT_EQ(zvdbMoveField(c, 2), 0);  // where it is: nothing
    EXPECT_EQ(zvdbGetFieldStatus(c), 0u);
    EXPECT_EQ(zvdbMoveField(c, 0), 0);
    EXPECT_EQ(names_of(table_), (std::vector<std::string>{"c", "a", "b"}));
    EXPECT_EQ(zvdbGetFieldStatus(c), 4u);
    EXPECT_EQ(zvdbGetFieldNbr(c), 0);
    EXPECT_EQ(zvdbMoveField(c, 7), 4005);
    EXPECT_EQ(zvdbMoveField(table_, 0), 4017);
}

TEST_F(FieldTest, DeletingANewFieldRemovesItWithItsSegments) {
    tagZVDBFIELD *a = field("a", ZV_INT4);
    field("b", ZV_INT4);
    tagZVDBINDEX *ix = index("ia");
    ASSERT_NE(zvdbAddSegment(ix, a, 8), nullptr);
    ASSERT_NE(zvdbAddSegment(ix, zvdbGetField(table_, 1), 8), nullptr);
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 8);
    EXPECT_EQ(zvdbDelField(table_, 0), 0);
    EXPECT_EQ(names_of(table_), std::vector<std::string>{"b"});
    EXPECT_EQ(zvdbGetIndexSegmentCount(ix), 1);
    EXPECT_EQ(zvdbGetIndexKeyLength(ix), 4);
    EXPECT_EQ(zvdbDelField(table_, 3), 4005);
    EXPECT_EQ(zvdbDelFieldByName(table_, "nosuch"), 4014);
}

TEST_F(FieldTest, DeletingAnExistingFieldMarksItAndItsSegmentsAndDropsTheIdentity) {
    bind_fixture();
    auto *byname = static_cast<tagZVDBINDEX *>(zvdbGetIndexByName(table_, "byname"));
    ASSERT_NE(byname, nullptr);
    EXPECT_EQ(zvdbGetIndexKeyLength(byname), 20);
    tagZVDBFIELD *name = static_cast<tagZVDBFIELD *>(zvdbGetFieldByName(table_, "name"));
    // A new segment on the field goes away; the existing one stays marked.
    tagZVDBINDEX *extra = index("extra");
    ASSERT_NE(zvdbAddSegment(extra, name, 12), nullptr);
    auto *old = static_cast<tagZVDBSEGMENT *>(zvdbGetSegment(byname, 0));
    table_->identityname = _zvdb_strdup("NAME");
    EXPECT_EQ(zvdbDelFieldByName(table_, "name"), 0);
    EXPECT_EQ(zvdbGetFieldStatus(name), 2u);
    EXPECT_EQ(zvdbGetFieldNumber(table_, "name"), 2);  // still listed
    EXPECT_EQ(zvdbGetSegmentStatus(old), 2u);
    EXPECT_EQ(zvdbGetIndexSegmentCount(byname), 1);
    EXPECT_EQ(zvdbGetIndexKeyLength(byname), 4);
    EXPECT_EQ(zvdbGetIndexSegmentCount(extra), 0);
    EXPECT_EQ(zvdbGetIndexKeyLength(extra), 0);
    EXPECT_EQ(name->segments, nullptr);
    EXPECT_EQ(table_->identityname, nullptr);
}

}  // namespace
