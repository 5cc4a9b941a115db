// Schema objects over the handles of a free table: fields, indexes,
// segments and full-text definitions. Setters read back through the
// getters, failures throw the operation's message from its module, and the
// objects borrow their handles (copies share them, destruction frees none).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/objapi/objtest.h"
#include "tests/support/tablesession.h"

namespace {

using objtest::expect_thrown;
using objtest::text_of;
using objtest::ThrowCase;
using objtest::thrown_by;

template <typename T>
T object_on(ZVHANDLE h) {
    T object;
    object.SetHandle(h);
    return object;
}

// A free table with fields "id" ZV_INT4, "name" ZV_FSTRING 20 and "note"
// ZV_STRING 30, and indexes "byid" (unique) and "byname" (duplicates).
class SchemaObjects : public zvtest::TableSessionTest {
protected:
    void SetUp() override {
        TableSessionTest::SetUp();
        ASSERT_NE(zvdbAddField(table_, "id", ZV_INT4, 4), nullptr);
        ASSERT_NE(zvdbAddField(table_, "name", ZV_FSTRING, 20), nullptr);
        ASSERT_NE(zvdbAddField(table_, "note", ZV_STRING, 30), nullptr);
        ASSERT_NE(zvdbAddIndex(table_, "byid", 0, 0, 0), nullptr);
        ASSERT_NE(zvdbAddIndex(table_, "byname", 0, 1, 0), nullptr);
    }

    ZVField field(int n) { return object_on<ZVField>(zvdbGetField(table_, n)); }
    ZVIndex index(int n) { return object_on<ZVIndex>(zvdbGetIndex(table_, n)); }
};

/* ---- Fields ---- */

// Counts the lengths that reach its SetLength.
class CountingField : public ZVField {
public:
    std::vector<int> lengths;
    ZVDBRET SetLength(int length) override {
        lengths.push_back(length);
        return ZVField::SetLength(length);
    }
};

TEST_F(SchemaObjects, SetTypeSetsTheLengthOnlyWhenOneIsGiven) {
    struct Case {
        int length;
        int expected_length;
        std::vector<int> lengths_set;
    } cases[] = {{0, 30, {}}, {-1, 30, {}}, {10, 10, {10}}};
    for (const Case &c : cases) {
        ASSERT_EQ(zvdbSetFieldType(zvdbGetField(table_, 2), ZV_STRING), 0);
        ASSERT_EQ(zvdbSetFieldLength(zvdbGetField(table_, 2), 30), 0);
        CountingField f;
        f.SetHandle(zvdbGetField(table_, 2));
        EXPECT_EQ(f.SetType(ZV_PSTRING, c.length), 0);
        EXPECT_EQ(f.GetType(), ZV_PSTRING) << c.length;
        EXPECT_EQ(f.GetLength(), c.expected_length) << c.length;
        EXPECT_EQ(f.lengths, c.lengths_set) << c.length;
    }
}

TEST_F(SchemaObjects, FieldSettersReadBack) {
    ZVField f = field(1);
    EXPECT_EQ(text_of(f.GetName()), "name");
    EXPECT_EQ(f.GetNumber(), 1);
    EXPECT_EQ(f.SetName(ZVString("title")), 0);
    EXPECT_EQ(text_of(f.GetName()), "title");
    EXPECT_EQ(zvdbGetFieldNumber(table_, "title"), 1);
    f.SetNullFlag(1);
    EXPECT_EQ(f.GetNullFlag(), 1);
    f.SetPrecision(7);
    EXPECT_EQ(f.GetPrecision(), 7);
    f.SetScale(3);
    EXPECT_EQ(f.GetScale(), 3);
    EXPECT_EQ(f.IsNumeric(), 0);
    EXPECT_EQ(field(0).IsNumeric(), 1);
    f.SetFieldDefaultDateTimeType(4, 5);
    EXPECT_EQ(f.GetFieldDefaultDateType(), 4);
    EXPECT_EQ(f.GetFieldDefaultTimeType(), 5);
    EXPECT_NE(f.GetStatus() & 16u, 0u);  // renamed
}

TEST_F(SchemaObjects, FieldDefaultValues) {
    ZVField f = field(1);
    // Without a default: 0, and the string and pointer say "none".
    ZVString kept("kept");
    char *bytes = &kept[0];
    EXPECT_EQ(f.GetFieldDefaultValue(kept), 0);
    EXPECT_EQ(text_of(kept), "kept");
    EXPECT_EQ(f.GetFieldDefaultValue(bytes), 0);
    EXPECT_EQ(bytes, nullptr);
    EXPECT_EQ(f.IsFieldDefaultValueSet(), 0);

    f.SetFieldDefaultValue(ZVString("abc"));
    ZVString out;
    EXPECT_EQ(f.GetFieldDefaultValue(out), 3);
    EXPECT_EQ(text_of(out), "abc");
    EXPECT_EQ(f.IsFieldDefaultValueSet(), 1);

    // Bytes without a final NUL: the string holds exactly their count.
    char raw[] = {'x', 'y', 'z'};
    f.SetFieldDefaultValue(raw, 2);
    EXPECT_EQ(f.GetFieldDefaultValue(bytes), 2);
    EXPECT_EQ(std::string(bytes, 2), "xy");
    EXPECT_EQ(f.GetFieldDefaultValue(out), 2);
    EXPECT_EQ(text_of(out), "xy");

    f.ClearFieldDefaultValue();
    EXPECT_EQ(f.IsFieldDefaultValueSet(), 0);
    EXPECT_EQ(f.GetFieldDefaultValue(out), 0);
    EXPECT_EQ(text_of(out), "xy");
}

TEST_F(SchemaObjects, FieldFailuresThrowTheirMessages) {
    ZVField f = field(1);
    ZVField none;
    ZVHANDLE unlisted = zvdbAllocField(table_, "loose", ZV_INT4, 4);
    ASSERT_NE(unlisted, nullptr);
    ZVField loose = object_on<ZVField>(unlisted);
    const char *m = "zvppfiel";
    const ThrowCase cases[] = {
        {"name used", [&] { f.SetName(ZVString("ID")); }, 4016, "Can't set field name", m, -1},
        {"null name", [&] { f.SetName(ZVString()); }, 4007, "Can't set field name", m, -1},
        {"type", [&] { none.SetType(ZV_INT4, 0); }, 4017, "Can't set field type", m, -1},
        {"length", [&] { f.SetLength(-1); }, 4006, "Can't set field type", m, -1},
        {"type's length", [&] { f.SetType(ZV_FPSTRING, 300); }, 4043, "Can't set field type", m, -1},
        {"number", [&] { loose.GetNumber(); }, 4014, "Can't retrieve the field position number", m, -1},
        {"null flag", [&] { none.SetNullFlag(1); }, 4017, "Can't set the field nul flag", m, -1},
        {"precision", [&] { f.SetPrecision(-1); }, 4039, "Can't set the field precision", m, -1},
        {"scale", [&] { f.SetScale(40000); }, 4038, "Can't set the field scale", m, -1},
        {"empty default", [&] { f.SetFieldDefaultValue(ZVString("")); }, 4004, "Can't set field default value",
         m, -1},
        {"no default bytes", [&] { f.SetFieldDefaultValue(nullptr, 3); }, 4007,
         "Can't set field default value", m, -1},
        {"clear", [&] { none.ClearFieldDefaultValue(); }, 4017, "Can't clear field default value", m, -1},
        {"date time type", [&] { none.SetFieldDefaultDateTimeType(1, 2); }, 4017,
         "Can't field field default date time type", m, -1},
    };
    for (const ThrowCase &c : cases) expect_thrown(thrown_by(c.call), c);
    // The failed retype kept the type.
    EXPECT_EQ(f.GetType(), ZV_FPSTRING);
    zvdbFreeField(unlisted);
}

/* ---- Borrowed handles ---- */

TEST_F(SchemaObjects, CopiesShareTheHandleAndDestructionFreesNothing) {
    ZVHANDLE fh = zvdbGetField(table_, 0);
    ZVHANDLE ih = zvdbGetIndex(table_, 1);
    {
        ZVField f = field(0);
        ZVField copy(f);
        ZVField assigned;
        assigned = copy;
        EXPECT_EQ(assigned.GetHandle(), fh);
        ZVIndex x = index(1);
        ZVIndex xcopy(x);
        ZVIndex xassigned;
        xassigned = xcopy;
        EXPECT_EQ(xassigned.GetHandle(), ih);
        ZVSegment s = x.AddSegment(f, 12);
        ZVSegment scopy(s);
        ZVSegment sassigned;
        sassigned = scopy;
        EXPECT_EQ(sassigned.GetHandle(), s.GetHandle());
        EXPECT_EQ(ZVSegment().GetHandle(), nullptr);
    }
    EXPECT_EQ(zvdbGetTableFieldCount(table_), 3);
    EXPECT_EQ(zvdbGetTableIndexCount(table_), 2);
    EXPECT_EQ(zvdbGetField(table_, 0), fh);
    EXPECT_EQ(zvdbGetIndex(table_, 1), ih);
    EXPECT_STREQ(zvdbGetFieldName(fh), "id");
    EXPECT_STREQ(zvdbGetIndexName(ih), "byname");
    EXPECT_EQ(zvdbGetIndexSegmentCount(ih), 1);
}

/* ---- Indexes ---- */

TEST_F(SchemaObjects, IndexNameWithoutNameIsEmptyAndKeepsNoCode) {
    ZVHANDLE unlisted = zvdbAllocIndex(table_);
    ASSERT_NE(unlisted, nullptr);
    mark();
    for (const ZVIndex &x : {ZVIndex(), object_on<ZVIndex>(unlisted)}) {
        const ZVString name = x.GetName();
        ASSERT_NE(name.c_str(), nullptr);
        EXPECT_STREQ(name.c_str(), "");
    }
    EXPECT_EQ(last(), 7777);
    EXPECT_EQ(text_of(index(0).GetName()), "byid");
    zvdbFreeIndex(unlisted);
}

TEST_F(SchemaObjects, IndexSettersReadBack) {
    ZVIndex x = index(0);
    EXPECT_EQ(x.GetNumber(), 0);
    EXPECT_EQ(index(1).GetNumber(), 1);
    x.SetEmptyChar(32);
    EXPECT_EQ(x.GetEmptyChar(), 32);
    const int keylen = x.GetKeyLength();
    x.SetDuplicateFlag(1);
    EXPECT_EQ(x.GetDuplicateFlag(), 1);
    EXPECT_GT(x.GetKeyLength(), keylen);
    x.SetNullFlag(1);
    EXPECT_EQ(x.GetNullFlag(), 1);
    x.SetTemporaryFlag(1);
    EXPECT_EQ(x.GetTemporaryFlag(), 1);
    x.SetKeyType(0x20);
    EXPECT_EQ(x.GetKeyType(), 0x20);
    x.SetName(ZVString("primary"));
    EXPECT_EQ(text_of(x.GetName()), "primary");
    EXPECT_NE(x.GetStatus() & 0x200u, 0u);

    EXPECT_EQ(text_of(x.GetFilename()), "");
    const ZVString dir("/somewhere"), file("own");
    x.SetFilename(&dir, &file);
    const std::string own = text_of(x.GetFilename());
    EXPECT_EQ(own.rfind("/somewhere/own", 0), 0u) << own;
    x.SetFilename(nullptr, nullptr);
    EXPECT_EQ(text_of(x.GetFilename()), "");
}

TEST_F(SchemaObjects, IndexFailuresThrowTheirMessages) {
    ZVIndex x = index(0);
    ZVIndex none;
    ZVField id = field(0);
    ZVField none_field;
    ZVHANDLE unlisted = zvdbAllocIndex(table_);
    ASSERT_NE(unlisted, nullptr);
    ZVIndex loose = object_on<ZVIndex>(unlisted);
    const char *m = "zvppindx";
    const ThrowCase cases[] = {
        {"empty char", [&] { none.SetEmptyChar(1); }, 4018, "Can't set the index empty character", m, -1},
        {"duplicates", [&] { none.SetDuplicateFlag(1); }, 4018, "Can't set the index duplicate flag", m, -1},
        {"null flag", [&] { none.SetNullFlag(1); }, 4018, "Can't set the index nul flag", m, -1},
        {"temporary", [&] { none.SetTemporaryFlag(1); }, 4018, "Can't set the index temporary flag", m, -1},
        {"name used", [&] { x.SetName(ZVString("BYNAME")); }, 4051, "Can't set the index name", m, -1},
        {"empty name", [&] { x.SetName(ZVString("")); }, 4004, "Can't set the index name", m, -1},
        {"key type", [&] { x.SetKeyType(1); }, 4019, "Can't set the index key type", m, -1},
        {"file name", [&] { none.SetFilename(nullptr, nullptr); }, 4018, "Can't set the index file name", m,
         -1},
        {"number", [&] { loose.GetNumber(); }, 4045, "Can't retrieve index position in table indices list", m,
         -1},
        {"uid", [&] { loose.GetUID(); }, 4007, "Can't get the index UID", m, -1},
        {"idxno closed", [&] { x.GetIdxno(); }, 4012, "Can't retrieve the index file number", m, -1},
        {"idxno none", [&] { none.GetIdxno(); }, 4002, "Can't retrieve the index file number", m, -1},
        {"delete segment", [&] { x.DelSegment(0); }, 4005, "Can't delete index segment", m, -1},
        {"get segment", [&] { x.GetSegment(3); }, 4005, "Can't retrieve the index segment", m, -1},
        {"add mode refused", [&] { x.AddSegment(id, 9); }, 4047, "Can't add index segment", m, -1},
        {"add no field", [&] { x.AddSegment(none_field, 12); }, 4017, "Can't add index segment", m, -1},
        {"add bytes", [&] { x.AddSegment(0, -1, 0); }, 4004, "Can't add index segment", m, -1},
        {"insert position", [&] { x.InsertSegment(4, id, 12); }, 4005, "Can't insert index segment", m, -1},
        {"insert bytes", [&] { x.InsertSegment(0, 0, -1, 1); }, 4005, "Can't insert index segment", m, -1},
        {"JSON", [&] { x.AddJSONSegment(id, const_cast<char *>("$.a"), ZV_INT4, 4); }, 4054,
         "Can't add index JSON segment", m, -1},
        {"move", [&] { x.MoveSegment(2, 0); }, 4005, "Can't retrieve the index segment", m, -1},
    };
    for (const ThrowCase &c : cases) {
        mark();
        expect_thrown(thrown_by(c.call), c);
    }
    EXPECT_EQ(x.GetSegmentCount(), 0);
    zvdbFreeIndex(unlisted);
}

// Once the table is open each index has its own engine file number.
TEST_F(SchemaObjects, IndexFileNumbersOfAnOpenTable) {
    ZVIndex byid = index(0), byname = index(1);
    byid.AddSegment(field(0), 0);
    byname.AddSegment(field(1), 0);
    ASSERT_EQ(zvdbCreateTable(table_, "items", 0), 0) << last();
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "items", 0), 0) << last();
    byid = index(0);
    byname = index(1);
    EXPECT_GE(byid.GetIdxno(), 0);
    EXPECT_EQ(byname.GetIdxno(), zvdbGetIdxnoByName(table_, "BYNAME"));
    EXPECT_NE(byid.GetIdxno(), byname.GetIdxno());
    EXPECT_EQ(zvdbCloseTable(table_), 0);
}

/* ---- Segments ---- */

TEST_F(SchemaObjects, SegmentsAddInsertMoveAndDelete) {
    ZVIndex x = index(1);
    ZVSegment onName = x.AddSegment(field(1), 12);
    ZVSegment bytes = x.AddSegment(24, 4, 1);
    ZVSegment first = x.InsertSegment(0, field(0), 0);
    ZVSegment between = x.InsertSegment(1, 40, 2, 0);
    EXPECT_EQ(x.GetSegmentCount(), 4);
    const struct {
        ZVSegment *segment;
        int number;
        int mode;
    } cases[] = {{&first, 0, 0}, {&between, 1, 0}, {&onName, 2, 12}, {&bytes, 3, 1}};
    for (const auto &c : cases) {
        EXPECT_EQ(c.segment->GetNumber(), c.number);
        EXPECT_EQ(c.segment->GetMode(), c.mode) << c.number;
        EXPECT_EQ(x.GetSegment(c.number).GetHandle(), c.segment->GetHandle());
    }
    EXPECT_EQ(text_of(first.GetFieldName()), "id");
    EXPECT_EQ(text_of(onName.GetFieldName()), "name");
    EXPECT_EQ(onName.GetField().GetHandle(), zvdbGetField(table_, 1));
    EXPECT_EQ(text_of(onName.GetPartialFieldName()), "name");

    onName.SetMode(0);
    EXPECT_EQ(onName.GetMode(), 0);
    ZVField note = field(2);
    onName.SetField(note);
    EXPECT_EQ(text_of(onName.GetFieldName()), "note");
    onName.MoveSegment(0);
    EXPECT_EQ(onName.GetNumber(), 0);
    x.MoveSegment(0, 4);
    EXPECT_EQ(onName.GetNumber(), 3);
    x.DelSegment(0);
    EXPECT_EQ(x.GetSegmentCount(), 3);
    EXPECT_EQ(x.GetSegment(0).GetHandle(), between.GetHandle());
    EXPECT_EQ(text_of(x.GetSegment(2).GetFieldName()), "note");
}

// An index that records the segments its GetSegment is asked for.
class OwnSegments : public ZVIndex {
public:
    std::vector<int> asked;
    ZVSegment GetSegment(int segment) const override {
        const_cast<OwnSegments *>(this)->asked.push_back(segment);
        return ZVIndex::GetSegment(segment);
    }
};

TEST_F(SchemaObjects, IndexMoveSegmentGoesThroughGetSegment) {
    OwnSegments x;
    x.SetHandle(zvdbGetIndex(table_, 1));
    ZVSegment a = x.AddSegment(field(0), 12);
    ZVSegment b = x.AddSegment(field(1), 12);
    x.MoveSegment(1, 0);
    EXPECT_EQ(x.asked, std::vector<int>{1});
    EXPECT_EQ(b.GetNumber(), 0);
    EXPECT_EQ(a.GetNumber(), 1);
}

TEST_F(SchemaObjects, SegmentFailuresThrowTheirMessages) {
    ZVIndex x = index(1);
    ZVSegment bytes = x.AddSegment(0, 4, 1);
    ZVSegment none;
    ZVField none_field;
    ZVField id = field(0);
    const char *m = "zvppsegs";
    const char *no_field = "Can't retrieve segment field";
    // The extended segment reports a missing field, not a code the session
    // held from before.
    const ThrowCase cases[] = {
        {"field", [&] { bytes.GetField(); }, 4017, no_field, m, -1},
        {"field name", [&] { bytes.GetFieldName(); }, 4017, no_field, m, -1},
        {"partial field", [&] { bytes.GetPartialField(); }, 4017, no_field, m, -1},
        {"partial field name", [&] { bytes.GetPartialFieldName(); }, 4017, no_field, m, -1},
        {"no segment", [&] { none.GetField(); }, 4002, no_field, m, -1},
        {"mode", [&] { none.SetMode(1); }, 4020, "Can't set the segment mode", m, -1},
        {"number", [&] { none.GetNumber(); }, 4020,
         "Can't retrieve the segment index position in index segments list", m, -1},
        {"move", [&] { bytes.MoveSegment(5); }, 4005, "Can't move the index segment", m, -1},
        {"set field", [&] { bytes.SetField(none_field); }, 4017, "Can't set field for index segment", m, -1},
        {"set JSON field", [&] { bytes.SetJSONField(id, const_cast<char *>("$.a"), ZV_INT4, 4); }, 4054,
         "Can't set JSON field for index segment", m, -1},
    };
    for (const ThrowCase &c : cases) {
        mark();
        expect_thrown(thrown_by(c.call), c);
    }
}

/* ---- Full-text definitions ---- */

TEST_F(SchemaObjects, FullTextIndexPassesOnItsFailures) {
    ZVHANDLE h = zvdbAllocFTI(table_);
    ASSERT_NE(h, nullptr);
    ZVFullTextIndex fti = object_on<ZVFullTextIndex>(h);
    ZVFullTextIndex copy(fti);
    EXPECT_EQ(copy.GetHandle(), h);
    EXPECT_EQ(fti.GetFieldCount(), 0);
    EXPECT_EQ(fti.GetStatus(), 1u);
    ZVString text("x");
    const char *m = "zvppindx";
    const ThrowCase cases[] = {
        {"add field", [&] { fti.AddField(field(0), 1); }, 4054, "Can't add field to full text index", m, -1},
        {"option", [&] { fti.SetOption(1, text, 0); }, 4054, "Can't set the Full Text index option", m, -1},
        {"number", [&] { fti.GetNumber(); }, 4054, "Can't get the Full Text index number", m, -1},
        {"name", [&] { fti.GetName(); }, 4054, "Can't get the Full Text index name", m, -1},
        {"field", [&] { fti.GetField(0); }, 4005, "Can't retrieve the Full Text index field", m, -1},
        {"field mode", [&] { fti.GetFieldMode(0); }, 4005, "Can't retrieve the Full Text index field mode", m,
         -1},
        {"field count", [&] { ZVFullTextIndex().GetFieldCount(); }, 4002,
         "Can't get full text index field count", m, -1},
    };
    for (const ThrowCase &c : cases) expect_thrown(thrown_by(c.call), c);
    zvdbFreeFTI(h);
}

}  // namespace
