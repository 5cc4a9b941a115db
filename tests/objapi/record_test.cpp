// The record class over tables made on a session: typed access to every
// kind of value by number and by name, moves and finds with their "none"
// answers, comparisons, conditions, key counts and positions, batches and
// copies, and the exceptions of failing calls.
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "tests/objapi/objtest.h"
#include "zarvo/zvdbpt.h"
#include "tests/support/fixture.h"

namespace {

using objtest::bytes_of;
using objtest::expect_thrown;
using objtest::text_of;
using objtest::ThrowCase;
using objtest::Thrown;
using objtest::thrown_by;

struct FieldDef {
    const char *name;
    int type;
    int length;
};

// A logged-on session and a table object on it; the table is defined and
// created through the record-level calls on the table object's handle.
class RecordClass : public zvtest::ZvTest {
protected:
    void SetUp() override {
        ZvTest::SetUp();
        session_ = std::make_unique<ZVSession>(1);
        ASSERT_EQ(zvdbLogon(session_->GetHandle(), nullptr, "tester", nullptr), 0);
        table_ = std::make_unique<ZVTable>(*session_);
    }
    void TearDown() override {
        table_.reset();
        session_.reset();
        ZvTest::TearDown();
    }

    // Creates (create mode 0: every hidden field and index) and opens the
    // table name in the test's directory, with a unique index "pk" on the
    // first field when keyed.
    void create(const char *name, std::initializer_list<FieldDef> fields, bool keyed) {
        ZVHANDLE t = table_->GetHandle();
        ASSERT_EQ(zvdbSetTablePath(t, "."), 0);
        ZVHANDLE first = nullptr;
        for (const FieldDef &f : fields) {
            ZVHANDLE h = zvdbAddField(t, f.name, f.type, f.length);
            ASSERT_NE(h, nullptr) << f.name;
            if (!first) first = h;
        }
        if (keyed) {
            ZVHANDLE ix = zvdbAddIndex(t, "pk", 0, 0, 0);
            ASSERT_NE(ix, nullptr);
            ASSERT_NE(zvdbAddSegment(ix, first, 12), nullptr);
        }
        ASSERT_EQ(zvdbCreateTable(t, name, 0), 0) << zvdbGetError(t);
        ASSERT_EQ(zvdbOpenTable(t, name, 0), 0) << zvdbGetError(t);
    }

    // The items table: id (unique "pk") and name, holding ids 1 to count
    // named "item<id>".
    void items(int count) {
        create("items", {{"id", ZV_INT4, 0}, {"name", ZV_STRING, 20}}, true);
        ZVRecord r(*table_);
        for (int id = 1; id <= count; id++) {
            r.Clear();
            r.SetFieldAsSigned(0, id);
            r.SetFieldAsString(1, ("item" + std::to_string(id)).c_str());
            r.Write();
        }
    }

    std::unique_ptr<ZVSession> session_;
    std::unique_ptr<ZVTable> table_;
};

// Counts the field look-ups by name, which every by-name call makes first.
class CountingRecord : public ZVRecord {
public:
    using ZVRecord::ZVRecord;
    mutable int lookups = 0;
    int GetFieldByName(const ZVString &field) const override {
        lookups++;
        return ZVRecord::GetFieldByName(field);
    }
};

int id_of(const ZVRecord &r) { return r.GetFieldAsSigned(0); }

// ---- Typed access --------------------------------------------------------------

// One typed call in its by-number and by-name forms.
struct Setter {
    std::function<void(ZVRecord &, int)> by_number;
    std::function<void(ZVRecord &, const ZVString &)> by_name;
};
struct Getter {
    std::function<std::string(const ZVRecord &, int)> by_number;
    std::function<std::string(const ZVRecord &, const ZVString &)> by_name;
};

// Both forms from one generic call, where the overloads share a name.
template <typename F>
Setter set(F f) {
    return {[f](ZVRecord &r, int n) { f(r, n); }, [f](ZVRecord &r, const ZVString &s) { f(r, s); }};
}
template <typename F>
Getter get(F f) {
    return {[f](const ZVRecord &r, int n) { return f(r, n); },
            [f](const ZVRecord &r, const ZVString &s) { return f(r, s); }};
}

std::string date_text(const ZVDate &d) {
    return std::to_string(d.Year()) + "-" + std::to_string(d.Month()) + "-" + std::to_string(d.Day());
}
std::string time_text(const ZVTime &t) {
    return std::to_string(t.Hour()) + ":" + std::to_string(t.Minute()) + ":" + std::to_string(t.Second());
}

ZVDate a_date(int y, int m, int d) {
    ZVDate v;
    v.Pack(y, m, d);
    return v;
}
ZVTime a_time(int h, int m, int s) {
    ZVTime v;
    v.Pack(h, m, s);
    return v;
}
ZVDateTime a_stamp() {
    ZVDateTime v;
    v.Pack(2024, 2, 29, 23, 59, 58);
    return v;
}

TEST_F(RecordClass, EveryTypedGetterAndSetterByNumberAndByName) {
    create("typed",
           {{"flag", ZV_BOOL, 0}, {"i4", ZV_INT4, 0}, {"u4", ZV_INT4U, 0}, {"day", ZV_DATE, 0},
            {"clock", ZV_TIME, 0}, {"stamp", ZV_TIMES, 0}, {"price", ZV_MONEY, 0}, {"ratio", ZV_DFLOAT, 0},
            {"big", ZV_BIGINT, 0}, {"cash", ZV_CURRENCY, 0}, {"qty", ZV_NUMBER, 0}, {"name", ZV_STRING, 400},
            {"raw", ZV_ARRAY, 4}, {"doc", ZV_JSON, 100}},
           false);
    {
        // The hidden null-flag and row-id fields and the record-position
        // index lie among the user fields' numbers.
        ZVRecord probe(*table_);
        EXPECT_EQ(zvdbGetFieldNumberByName(probe.GetHandle(), "$NULFLD$"), -2);
        EXPECT_EQ(zvdbGetFieldNumberByName(probe.GetHandle(), "$ROWID$"), -3);
        EXPECT_EQ(probe.SetDefaultIndex(ZVString("$RECBYT$")), 0);
    }
    const std::string long_name(300, 'x');
    const char *json = "{\"a\":[1,2]}";
    const Getter as_signed = get([](const ZVRecord &r, auto f) { return std::to_string(r.GetFieldAsSigned(f)); });
    const Getter as_unsigned =
        get([](const ZVRecord &r, auto f) { return std::to_string(r.GetFieldAsUnsigned(f)); });
    const Getter as_string = get([](const ZVRecord &r, auto f) { return text_of(r.GetFieldAsString(f)); });
    struct Case {
        const char *what;
        const char *field;
        Setter write;
        Getter read;
        std::string expected;
    } cases[] = {
        {"bool", "flag", set([](ZVRecord &r, auto f) { r.SetFieldAsBool(f, 1); }),
         get([](const ZVRecord &r, auto f) { return std::to_string(r.GetFieldAsBool(f)); }), "1"},
        {"signed", "i4", set([](ZVRecord &r, auto f) { r.SetFieldAsSigned(f, -70000); }), as_signed, "-70000"},
        {"unsigned", "u4", set([](ZVRecord &r, auto f) { r.SetFieldAsUnsigned(f, 4000000000u); }), as_unsigned,
         "4000000000"},
        {"date", "day", set([](ZVRecord &r, auto f) { r.SetFieldAsDate(f, a_date(2024, 2, 29)); }),
         get([](const ZVRecord &r, auto f) { return date_text(r.GetFieldAsDate(f)); }), "2024-2-29"},
        {"time", "clock", set([](ZVRecord &r, auto f) { r.SetFieldAsTime(f, a_time(12, 34, 56)); }),
         get([](const ZVRecord &r, auto f) { return time_text(r.GetFieldAsTime(f)); }), "12:34:56"},
        {"date-time", "stamp", set([](ZVRecord &r, auto f) { r.SetFieldAsDateTime(f, a_stamp()); }),
         get([](const ZVRecord &r, auto f) {
             const ZVDateTime v = r.GetFieldAsDateTime(f);
             return date_text(v.GetDate()) + " " + time_text(v.GetTime());
         }),
         "2024-2-29 23:59:58"},
        {"money", "price", set([](ZVRecord &r, auto f) { r.SetFieldAsMoney(f, ZVMoney(-1234)); }),
         get([](const ZVRecord &r, auto f) { return std::to_string(r.GetFieldAsMoney(f).AsMoney()); }), "-1234"},
        {"float", "ratio", set([](ZVRecord &r, auto f) { r.SetFieldAsFloat(f, 2.5); }),
         get([](const ZVRecord &r, auto f) { return std::to_string(r.GetFieldAsFloat(f)); }), "2.500000"},
        {"bigint", "big", set([](ZVRecord &r, auto f) { r.SetFieldAsBigint(f, ZVBigint(ZVString("-9000000000"))); }),
         get([](const ZVRecord &r, auto f) { return std::to_string(r.GetFieldAsBigint(f).AsBigint()); }),
         "-9000000000"},
        {"currency", "cash",
         set([](ZVRecord &r, auto f) { r.SetFieldAsCurrency(f, ZVCurrency(ZVString("12.3456"))); }),
         get([](const ZVRecord &r, auto f) { return std::to_string(r.GetFieldAsCurrency(f).AsCurrency()); }),
         "123456"},
        // Its text is longer than the field's 20 bytes of data: the text
        // buffer is never below 129 bytes.
        {"number", "qty",
         set([](ZVRecord &r, auto f) { r.SetFieldAsNumber(f, ZVNumber(ZVString("-123456789012345678901234.5678"))); }),
         get([](const ZVRecord &r, auto f) { return text_of(r.GetFieldAsNumber(f).AsString()); }),
         "-123456789012345678901234.5678"},
        {"number as text", "qty",
         set([](ZVRecord &r, auto f) { r.SetFieldAsNumber(f, ZVNumber(ZVString("-123456789012345678901234.5678"))); }),
         as_string, "-123456789012345678901234.5678"},
        // A text of 300 bytes: the buffer follows the data length.
        {"string", "name", set([&](ZVRecord &r, auto f) { r.SetFieldAsString(f, ZVString(long_name.c_str())); }),
         as_string, long_name},
        {"C string", "name", set([](ZVRecord &r, auto f) { r.SetFieldAsString(f, "Ada"); }), as_string, "Ada"},
        {"blob", "raw", set([](ZVRecord &r, auto f) { r.SetFieldAsBlob(f, ZVBlob("abcd", 4)); }),
         get([](const ZVRecord &r, auto f) {
             ZVBlob b;
             r.GetFieldAsBlob(f, b);
             return bytes_of(b);
         }),
         "abcd"},
        {"JSON", "doc", set([&](ZVRecord &r, auto f) { r.SetFieldAsJSON(f, const_cast<char *>(json)); }),
         get([](const ZVRecord &r, auto f) {
             const ZVJsonString j = r.GetFieldAsJSON(f);
             return std::string(j.c_str() ? j.c_str() : "<none>");
         }),
         json},
        // The JSON string form exists by number only; its by-name row
        // writes the C text.
        {"JSON string", "doc",
         Setter{[&](ZVRecord &r, int f) { r.SetFieldAsJSON(f, ZVJsonString(json)); },
                [&](ZVRecord &r, const ZVString &f) { r.SetFieldAsJSON(f, const_cast<char *>(json)); }},
         as_string, json},
        // Narrow reads keep the low bits of the full value.
        {"char of 200", "i4", set([](ZVRecord &r, auto f) { r.SetFieldAsSigned(f, 200); }),
         get([](const ZVRecord &r, auto f) { return std::to_string(r.GetFieldAsChar(f)); }), "-56"},
        {"byte of 300", "u4", set([](ZVRecord &r, auto f) { r.SetFieldAsUnsigned(f, 300); }),
         get([](const ZVRecord &r, auto f) { return std::to_string(r.GetFieldAsByte(f)); }), "44"},
        {"short of 70000", "i4", set([](ZVRecord &r, auto f) { r.SetFieldAsSigned(f, 70000); }),
         get([](const ZVRecord &r, auto f) { return std::to_string(r.GetFieldAsShort(f)); }), "4464"},
        {"word of 70000", "u4", set([](ZVRecord &r, auto f) { r.SetFieldAsUnsigned(f, 70000); }),
         get([](const ZVRecord &r, auto f) { return std::to_string(r.GetFieldAsWord(f)); }), "4464"},
        // Narrow writes: signed ones sign-extended, unsigned ones not.
        {"set char", "i4", set([](ZVRecord &r, auto f) { r.SetFieldAsChar(f, char(-5)); }), as_signed, "-5"},
        {"set short", "i4", set([](ZVRecord &r, auto f) { r.SetFieldAsShort(f, short(-30000)); }), as_signed,
         "-30000"},
        {"set byte", "u4", set([](ZVRecord &r, auto f) { r.SetFieldAsByte(f, 250); }), as_unsigned, "250"},
        {"set word", "u4", set([](ZVRecord &r, auto f) { r.SetFieldAsWord(f, 65000); }), as_unsigned, "65000"},
    };

    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const ZVString name(c.field);
        CountingRecord by_number(*table_), by_name(*table_);
        const int n = by_number.GetFieldByName(name);
        const Thrown written = thrown_by([&] {
            c.write.by_number(by_number, n);
            c.write.by_name(by_name, name);
        });
        ASSERT_FALSE(written.thrown) << written.code << " " << written.message;
        by_number.lookups = by_name.lookups = 0;
        std::string got[4];
        const Thrown read = thrown_by([&] {
            got[0] = c.read.by_number(by_number, n);
            got[1] = c.read.by_name(by_number, name);
            got[2] = c.read.by_number(by_name, n);
            got[3] = c.read.by_name(by_name, name);
        });
        ASSERT_FALSE(read.thrown) << read.code << " " << read.message;
        for (const std::string &g : got) EXPECT_EQ(g, c.expected);
        // Each by-name read looked the name up once, through the virtual slot.
        EXPECT_EQ(by_number.lookups + by_name.lookups, 2);

        // A name the table lacks fails in the look-up: the record is
        // neither read nor changed.
        const auto image = [&] {
            const auto *p = static_cast<const unsigned char *>(by_name.GetRecordBuffer());
            return std::vector<unsigned char>(p, p + by_name.GetRecordLength());
        };
        const std::vector<unsigned char> before = image();
        by_name.SetEdited(0);
        const Thrown lookup = thrown_by([&] { by_name.GetFieldByName(ZVString("nope")); });
        for (const Thrown &t : {thrown_by([&] { c.write.by_name(by_name, ZVString("nope")); }),
                                thrown_by([&] { c.read.by_name(by_name, ZVString("nope")); })}) {
            expect_thrown(t, {c.what, nullptr, 4014, "No such field", "zvpprecd", lookup.line});
        }
        EXPECT_EQ(by_name.IsEdited(), 0);
        EXPECT_EQ(image(), before);
    }
}

// Type, name, null flag and layout by number and by name; the type is the
// one the field holds, whatever a type callback reports.
TEST_F(RecordClass, FieldDescriptionsByNumberAndByName) {
    create("desc", {{"id", ZV_INT4, 0}, {"label", ZV_STRING, 30}}, true);
    ZVRecord r(*table_);
    r.Clear();
    r.SetFieldAsString(1, "hello");
    struct Case {
        const char *name;
        int number;
        int type;
        int variable;
    } cases[] = {{"id", 0, ZV_INT4, 0}, {"LABEL", 1, ZV_STRING, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const ZVString name(c.name);
        EXPECT_EQ(r.GetFieldByName(name), c.number);
        EXPECT_EQ(r.GetFieldType(c.number), c.type);
        EXPECT_EQ(r.GetFieldType(name), c.type);
        EXPECT_EQ(text_of(r.GetFieldName(c.number)), std::string(c.name) == "LABEL" ? "label" : c.name);
        EXPECT_EQ(r.GetFieldLength(name), r.GetFieldLength(c.number));
        EXPECT_EQ(r.GetFieldSize(name), r.GetFieldSize(c.number));
        EXPECT_EQ(r.GetFieldOffset(name), r.GetFieldOffset(c.number));
        EXPECT_EQ(r.GetFieldAddress(name), r.GetFieldAddress(c.number));
        EXPECT_EQ(r.IsVariableField(name), c.variable);
        EXPECT_EQ(r.IsNullField(name), r.IsNullField(c.number));
    }
    EXPECT_EQ(r.IsNullField(ZVString("id")), 1);
    EXPECT_EQ(r.IsNullField(ZVString("label")), 0);
    r.ClearField(ZVString("label"));
    EXPECT_EQ(r.IsNullField(1), 1);
    EXPECT_EQ(text_of(r.GetFieldAsString(1)), "");

    // The hidden fields are no fields of the record's callers.
    expect_thrown(thrown_by([&] { r.GetFieldByName(ZVString("$ROWID$")); }),
                  {"hidden", nullptr, 4014, "No such field", "zvpprecd", -1});

    ZVDB_FIELD_CALLBACK says_string = [](ZVHANDLE, void *value, intptr_t, intptr_t) -> ZVDBRET {
        *static_cast<int32_t *>(value) = ZV_STRING;
        return 0;
    };
    ASSERT_EQ(zvdbSetFieldCallback(zvdbGetField(table_->GetHandle(), 0), 0,
                                   reinterpret_cast<ZVDB_CALLBACK>(says_string)),
              0);
    EXPECT_EQ(r.GetFieldType(0), ZV_INT4);
}

// ---- Records ---------------------------------------------------------------------

TEST_F(RecordClass, MovesAndFindsAnswerFalseForNone) {
    items(0);
    ZVRecord r(*table_);
    EXPECT_FALSE(r.First());
    EXPECT_FALSE(r.Last());
    EXPECT_FALSE(r.Find(0));
    ZVRecord writer(*table_);
    for (int id = 1; id <= 3; id++) {
        writer.Clear();
        writer.SetFieldAsSigned(0, id);
        writer.Write();
    }

    ASSERT_TRUE(r.First());
    EXPECT_EQ(id_of(r), 1);
    ASSERT_TRUE(r.Next());
    ASSERT_TRUE(r.Next());
    EXPECT_FALSE(r.Next());
    EXPECT_EQ(id_of(r), 3);  // where the last move left it
    ASSERT_TRUE(r.Prev());
    EXPECT_EQ(id_of(r), 2);
    EXPECT_TRUE(r.JumpTo(-1));
    EXPECT_EQ(id_of(r), 1);
    EXPECT_FALSE(r.JumpTo(5));
    ASSERT_TRUE(r.Last());
    const long long rowid = r.GetRowid();

    r.SetFieldAsSigned(0, 2);
    EXPECT_TRUE(r.Find(0));
    EXPECT_EQ(id_of(r), 2);
    r.SetFieldAsSigned(0, 9);
    EXPECT_FALSE(r.Find(0));
    EXPECT_TRUE(r.FindRowid(rowid, 0));
    EXPECT_EQ(id_of(r), 3);
    EXPECT_FALSE(r.FindRowid(rowid + 100, 0));

    unsigned char key[4];
    int length = sizeof key;
    r.SetFieldAsSigned(0, 1);
    r.BuildTargetKey(0, key, &length);
    EXPECT_TRUE(r.FindTarget(key, 0));
    EXPECT_EQ(id_of(r), 1);
    EXPECT_EQ(r.GetRecordCount(), 3);
    EXPECT_EQ(r.NumberOfKeyEntries(ZVString("pk")), 3);
    EXPECT_EQ(r.GetRecordKeyPos(), 1);
}

TEST_F(RecordClass, CompareAndConditions) {
    items(2);
    ZVRecord a(*table_), b(*table_);
    ASSERT_TRUE(a.First());
    ASSERT_TRUE(b.Last());
    EXPECT_FALSE(a.Compare(&b));
    ASSERT_TRUE(b.First());
    EXPECT_TRUE(a.Compare(&b));
    EXPECT_TRUE(b.Compare(&a));

    // Nothing compiled: false; then the condition's truth on each record.
    EXPECT_FALSE(a.CndxEval());
    ZVString text("x");
    a.CndxGetExpression(text);
    EXPECT_EQ(text_of(text), "<none>");
    a.CndxCompile(ZVString("id == 2"));
    a.CndxGetExpression(text);
    EXPECT_EQ(text_of(text), "id == 2");
    EXPECT_FALSE(a.CndxEval());
    ASSERT_TRUE(a.Next());
    EXPECT_TRUE(a.CndxEval());
    EXPECT_EQ(a.CndxFree(), 0);
    EXPECT_FALSE(a.CndxEval());
}

// The filter text reads back; a filter given as a parse tree has no text,
// and its tree is not read as characters.
TEST_F(RecordClass, FilterTextReadsBackAndATreeFilterHasNone) {
    items(3);
    ZVRecord r(*table_);
    ZVString text("x");
    r.GetFilter(text);
    EXPECT_EQ(text_of(text), "<none>");
    r.SetFilter(ZVString("id > 1"));
    EXPECT_NE(r.IsFiltered(), 0);
    r.GetFilter(text);
    EXPECT_EQ(text_of(text), "id > 1");

    PTNODE *tree = zvdbptPutInteger(1);
    ASSERT_NE(tree, nullptr);
    ASSERT_EQ(zvdbSetFilter(r.GetHandle(), reinterpret_cast<const char *>(tree), 2), 0);
    ASSERT_EQ(zvdbGetFilterType(r.GetHandle()), 2);
    text = "x";
    r.GetFilter(text);
    EXPECT_EQ(text_of(text), "<none>");
    ASSERT_EQ(zvdbSetFilter(r.GetHandle(), nullptr, 0), 0);
}

// A null record pointer is refused with the code of a missing record
// handle, without reaching through the pointer.
TEST_F(RecordClass, NullRecordPointersAreRefused) {
    items(1);
    ZVRecord r(*table_);
    ASSERT_TRUE(r.First());
    const ThrowCase cases[] = {
        {"Compare", [&] { r.Compare(nullptr); }, 4024, "Cannot compare records", "zvpprecd", -1},
        {"CopyBuffer", [&] { r.CopyBuffer(static_cast<const ZVRecord *>(nullptr)); }, 4024,
         "Can't copy record buffer", "zvpprecd", -1},
        {"constructor", [&] { ZVRecord copy(static_cast<const ZVRecord *>(nullptr)); }, 4024,
         "Invalid record handle", "zvpprecd", -1},
        {"table constructor", [&] { ZVRecord fresh(static_cast<const ZVTable *>(nullptr)); }, 4013,
         "Invalid table handle", "zvpprecd", -1},
    };
    for (const ThrowCase &c : cases) expect_thrown(thrown_by(c.call), c);
    EXPECT_EQ(id_of(r), 1);
}

// An estimate of 0 is a failure only when this call kept a code: a code
// left by an earlier call does not make it one.
TEST_F(RecordClass, SpanEstimatesOfZero) {
    items(3);
    ZVRecord r(*table_), k(*table_);
    unsigned char lo[4], hi[4];
    int length = sizeof lo;
    k.SetFieldAsSigned(0, 10);
    k.BuildTargetKey(0, lo, &length);
    k.SetFieldAsSigned(0, 20);
    k.BuildTargetKey(0, hi, &length);
    EXPECT_EQ(r.EstimateSpan(lo, hi), 0);
    ASSERT_TRUE(r.Last());
    ASSERT_FALSE(r.Next());
    ASSERT_EQ(r.GetError(), 101);
    EXPECT_EQ(r.EstimateSpan(lo, hi), 0);
    EXPECT_EQ(r.GetError(), 101);
    r.SetDefaultIndex(ZVDB_INDEX_PHYSICAL);  // no keys to count
    expect_thrown(thrown_by([&] { r.EstimateSpan(lo, hi); }),
                  {"physical", nullptr, 80, "EstimateSpan failed", "zvpprecd", -1});
}

TEST_F(RecordClass, KeyEntriesAndKeyPositionFailures) {
    items(2);
    ZVRecord r(*table_);
    expect_thrown(thrown_by([&] { r.NumberOfKeyEntries(ZVString("nope")); }),
                  {"by name", nullptr, 4045, "ZVRecord::NumberOfKeyEntries failed", "zvpprecd", -1});
    expect_thrown(thrown_by([&] { r.NumberOfKeyEntries(7); }),
                  {"by number", nullptr, 4045, "ZVRecord::NumberOfKeyEntries failed", "zvpprecd", -1});
    EXPECT_EQ(r.NumberOfKeyEntries(0), 2);

    // The key position throws a heap exception, which the catcher deletes.
    ASSERT_TRUE(r.Last());
    EXPECT_EQ(r.GetRecordKeyPos(), 2);
    r.SetDefaultIndex(ZVDB_INDEX_PHYSICAL);
    ZVException *caught = nullptr;
    try {
        r.GetRecordKeyPos();
    } catch (ZVException *e) {
        caught = e;
    }
    ASSERT_NE(caught, nullptr);
    EXPECT_EQ(caught->GetErrorCode(), 80);
    EXPECT_STREQ(caught->GetErrorMsg(), "Can't retrieve record position");
    EXPECT_STREQ(caught->GetSourceFile(), "zvpprecd");
    EXPECT_GT(caught->GetLineNbr(), 0);
    delete caught;
}

TEST_F(RecordClass, ABatchIsWalkedByNextInBatch) {
    items(3);
    ZVRecord r(*table_);
    r.SetBatch(ZVBATCH_PHYSICAL, 0, 0);
    std::vector<int> ids;
    while (r.NextInBatch()) ids.push_back(id_of(r));
    EXPECT_EQ(ids, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(r.NextInBatch());
    expect_thrown(thrown_by([&] { r.NextBatch(); }),
                  {"exhausted", nullptr, 428, "ZVRecord::NextBatch failed", "zvpprecd", -1});
    EXPECT_EQ(r.EndBatch(), 0);
    expect_thrown(thrown_by([&] { r.NextInBatch(); }),
                  {"no batch", nullptr, 4096, "ZVRecord::NextInBatch failed", "zvpprecd", -1});
}

// A copy is a second record of the same table at the same place, with a
// buffer of its own.
TEST_F(RecordClass, ACopyHasItsOwnBufferOnTheSameTable) {
    items(2);
    ZVRecord r(*table_);
    ASSERT_TRUE(r.Last());
    const ZVRecord copy(r);
    const ZVRecord copy2(&r);
    for (const ZVRecord *c : {&copy, &copy2}) {
        EXPECT_NE(c->GetHandle(), r.GetHandle());
        EXPECT_EQ(zvdbGetTableHandle(c->GetHandle()), table_->GetHandle());
        EXPECT_NE(c->GetRecordBuffer(), r.GetRecordBuffer());
        EXPECT_EQ(c->GetRecordPos(), r.GetRecordPos());
        EXPECT_EQ(id_of(*c), 2);
    }
    r.SetFieldAsSigned(0, 99);
    EXPECT_EQ(id_of(copy), 2);
    // A buffer copied back gives the copy's contents.
    r.CopyBuffer(copy);
    EXPECT_EQ(id_of(r), 2);
    EXPECT_TRUE(r.Compare(const_cast<ZVRecord *>(&copy)));
}

// Failing calls throw their code with the operation's message.
TEST_F(RecordClass, FailuresThrowTheirCodeAndMessage) {
    items(1);
    ZVRecord r(*table_);
    int code = 0, position = 0;
    ZVString query("word");
    ASSERT_TRUE(r.First());
    const ThrowCase cases[] = {
        {"lock mode", [&] { r.LockRecord(9); }, 4055, "Lock failed", "zvpprecd", -1},
        {"write duplicate", [&] {
             r.Clear();
             r.SetFieldAsSigned(0, 1);
             r.Write();
         }, 2, "Can't write record", "zvpprecd", -1},
        {"default index", [&] { r.SetDefaultIndex(9); }, 4045, "Can't set the default index", "zvpprecd", -1},
        {"default index name", [&] { r.SetDefaultIndex(ZVString("nope")); }, 4045,
         "Can't set the default index name", "zvpprecd", -1},
        {"field type", [&] { r.GetFieldType(9); }, 4005, "No such field", "zvpprecd", -1},
        {"field name", [&] { r.GetFieldName(-1); }, 4005, "No such field", "zvpprecd", -1},
        {"set field", [&] { r.SetFieldAsSigned(9, 1); }, 4017, "Can't set field data", "zvpprecd", -1},
        {"JSON of a number", [&] { r.GetFieldAsJSON(0); }, 4059, "Can't get field data", "zvpprecd", -1},
        {"JSON into a string", [&] { r.SetFieldAsJSON(1, ZVJsonString("[]")); }, 4059,
         "Can't set JSON field data", "zvpprecd", -1},
        {"bigint", [&] { r.GetFieldAsBigint(9); }, 4017, "Can't get bigint field", "zvpprecd", -1},
        {"condition", [&] { r.CndxCompile(ZVString("")); }, 4004, "CndxCompile failed", "zvpprecd", -1},
        {"record set", [&] { r.RecordSetOn(-1); }, 4004, "Can't activate the record set", "zvpprecd", -1},
        {"batch", [&] { r.NextBatch(); }, 4096, "ZVRecord::NextBatch failed", "zvpprecd", -1},
        {"full text", [&] { r.FullTextSearchOn(query); }, 4054, "Can't set Full Text Search criteria",
         "zvpprecd", -1},
        {"full text details", [&] { r.GetFullTextSearchErrorDetails(&code, &position); }, 4054,
         "Can't get Full Text Search error details", "zvpprecd", -1},
    };
    for (const ThrowCase &c : cases) expect_thrown(thrown_by(c.call), c);
}

// A table made on a session whose object is gone is reached by no session:
// a record made on it throws 4003, the code that says so, not 4001 (out of
// memory). (A table of a database loses its handle: see the table tests.)
TEST_F(RecordClass, ARecordOnATableWhoseSessionIsGoneSaysSo) {
    items(2);
    session_.reset();
    for (bool by_pointer : {false, true}) {
        expect_thrown(thrown_by([&] {
                          if (by_pointer) ZVRecord r(table_.get());
                          else ZVRecord r(*table_);
                      }),
                      {"record on a table without session", nullptr, 4003, "Can't allocate record handle",
                       "zvpprecd", -1});
    }
}

// By-name calls and the unlock reach the by-number forms through the
// virtual slots, so a derived class sees them.
TEST_F(RecordClass, DerivedRecordsSeeTheCallsMadeOfOthers) {
    items(1);
    struct Watching : ZVRecord {
        using ZVRecord::ZVRecord;
        using ZVRecord::NumberOfKeyEntries;
        using ZVRecord::SetFieldAsSigned;
        std::vector<std::string> seen;
        ZVDBRET SetFieldAsSigned(int field, int value) override {
            seen.push_back("signed " + std::to_string(field) + " " + std::to_string(value));
            return ZVRecord::SetFieldAsSigned(field, value);
        }
        ZVDBRET LockRecord(int mode) override {
            seen.push_back("lock " + std::to_string(mode));
            return 0;
        }
        long long NumberOfKeyEntries(int index) const override {
            const_cast<Watching *>(this)->seen.push_back("entries " + std::to_string(index));
            return ZVRecord::NumberOfKeyEntries(index);
        }
    } r(*table_);
    r.SetFieldAsChar(ZVString("id"), char(-1));
    r.SetFieldAsShort(0, 7);
    r.UnlockRecord();
    EXPECT_EQ(r.NumberOfKeyEntries(ZVString("PK")), 1);
    EXPECT_EQ(r.seen, (std::vector<std::string>{"signed 0 -1", "signed 0 7", "lock 0", "entries 0"}));
}

}  // namespace
