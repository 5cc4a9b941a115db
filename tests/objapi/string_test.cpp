// String classes of the object layer.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <memory>
#include <string>

#include "engine/core/pools.h"
#include "tests/objapi/objtest.h"

namespace {

using objtest::text_of;
using objtest::Thrown;
using objtest::thrown_by;

// Each case makes a string; "<none>" expects a string without storage.
struct TextCase {
    const char *name;
    std::function<ZVString()> make;
    const char *expected;
};

ZVString edited(const char *text, const std::function<void(ZVString &)> &edit) {
    ZVString s(text);
    edit(s);
    return s;
}

TEST(String, Results) {
    const TextCase cases[] = {
        {"insert inside", [] { return edited("abc", [](ZVString &s) { s.Insert("XY", 1); }); }, "aXYbc"},
        {"insert at 0", [] { return edited("abc", [](ZVString &s) { s.Insert("XY", 0); }); }, "XYabc"},
        {"insert at end", [] { return edited("abc", [](ZVString &s) { s.Insert("XY", 3); }); }, "abcXY"},
        {"insert empty", [] { return edited("abc", [](ZVString &s) { s.Insert("", 2); }); }, "abc"},
        {"insert into none", [] { return edited(nullptr, [](ZVString &s) { s.Insert("XY", 0); }); }, "XY"},
        {"insert itself", [] { return edited("ab", [](ZVString &s) { s.Insert(s, 1); }); }, "aabb"},
        {"delete past end", [] { return edited("abcdef", [](ZVString &s) { s.Delete(1, 10); }); }, "a"},
        {"delete inside", [] { return edited("abcdef", [](ZVString &s) { s.Delete(1, 2); }); }, "adef"},
        {"delete negative count", [] { return edited("abcdef", [](ZVString &s) { s.Delete(1, -3); }); },
         "abcdef"},
        {"delete zero count", [] { return edited("abcdef", [](ZVString &s) { s.Delete(2, 0); }); }, "abcdef"},
        {"delete largest count", [] { return edited("abcdef", [](ZVString &s) { s.Delete(1, INT_MAX); }); },
         "a"},
        {"delete at end", [] { return edited("abc", [](ZVString &s) { s.Delete(3, 1); }); }, "abc"},
        {"delete in none", [] { return edited(nullptr, [](ZVString &s) { s.Delete(0, 1); }); }, "<none>"},
        {"substring cut", [] { return ZVString("abcdef").SubString(2, 10); }, "cdef"},
        {"substring largest count", [] { return ZVString("abcdef").SubString(2, INT_MAX); }, "cdef"},
        {"substring inside", [] { return ZVString("abcdef").SubString(1, 2); }, "bc"},
        {"substring at end", [] { return ZVString("abcdef").SubString(6, 1); }, "<none>"},
        {"substring zero count", [] { return ZVString("abcdef").SubString(1, 0); }, ""},
        {"substring negative count", [] { return ZVString("abcdef").SubString(1, -2); }, ""},
        {"left", [] { return ZVString("abcdef").Left(2); }, "ab"},
        {"left whole", [] { return ZVString("abc").Left(9); }, "abc"},
        {"left zero", [] { return ZVString("abc").Left(0); }, ""},
        {"left negative", [] { return ZVString("abc").Left(-1); }, ""},
        {"right", [] { return ZVString("abcdef").Right(2); }, "ef"},
        {"right whole", [] { return ZVString("abc").Right(3); }, "abc"},
        {"right negative", [] { return ZVString("abc").Right(-5); }, ""},
        {"pad left", [] { return edited("42", [](ZVString &s) { s.PadLeft(5, '0'); }); }, "00042"},
        {"pad left long enough", [] { return edited("12345", [](ZVString &s) { s.PadLeft(5, '0'); }); },
         "12345"},
        {"pad left none", [] { return edited(nullptr, [](ZVString &s) { s.PadLeft(3, '*'); }); }, "***"},
        {"pad right", [] { return edited("ab", [](ZVString &s) { s.PadRight(4, '.'); }); }, "ab.."},
        {"pad right none", [] { return edited(nullptr, [](ZVString &s) { s.PadRight(2, '-'); }); }, "--"},
        {"hex", [] { return ZVString::IntToHex(255, 4); }, "00ff"},
        {"hex negative", [] { return ZVString::IntToHex(-1, 2); }, "ffffffff"},
        {"hex width 256", [] { return ZVString::IntToHex(10, 256); }, "<256>"},
        {"hex width 300", [] { return ZVString::IntToHex(255, 300); }, "<none>"},
        {"hex negative width", [] { return ZVString::IntToHex(255, -6); }, "ff"},
        {"trim right spaces", [] { return edited("   ", [](ZVString &s) { s.TrimRight(); }); }, ""},
        {"trim right", [] { return edited(" a b \t\n", [](ZVString &s) { s.TrimRight(); }); }, " a b"},
        {"trim left", [] { return edited(" \t a b ", [](ZVString &s) { s.TrimLeft(); }); }, "a b "},
        {"trim", [] { return edited("  x  ", [](ZVString &s) { s.Trim(); }); }, "x"},
        {"trim none", [] { return edited(nullptr, [](ZVString &s) { s.Trim(); }); }, "<none>"},
        {"empty plus empty", [] { return ZVString("") + ZVString(""); }, ""},
        {"none plus none", [] { return ZVString() + ZVString(); }, "<none>"},
        {"none plus text", [] { return ZVString() + "b"; }, "b"},
        {"text plus none", [] { return ZVString("a") + ZVString(); }, "a"},
        {"text plus text", [] { return "a" + ZVString("bc"); }, "abc"},
        {"append", [] { return edited("ab", [](ZVString &s) { s += s; }); }, "abab"},
        {"lower", [] { return edited("AbC1", [](ZVString &s) { s.LowerCase(); }); }, "abc1"},
        {"upper", [] { return edited("AbC1", [](ZVString &s) { s.UpperCase(); }); }, "ABC1"},
        {"of char", [] { return ZVString::StringOfChar('z', 3); }, "zzz"},
        {"of no char", [] { return ZVString::StringOfChar('z', 0); }, "<none>"},
        {"set length cut", [] { return edited("abcdef", [](ZVString &s) { s.SetLength(2); }); }, "ab"},
        {"set length longer", [] { return edited("ab", [](ZVString &s) { s.SetLength(8); }); }, "ab"},
        {"set length zero", [] { return edited("ab", [](ZVString &s) { s.SetLength(0); }); }, "<none>"},
        {"set length negative", [] { return edited("ab", [](ZVString &s) { s.SetLength(-1); }); }, "ab"},
        {"alloc", [] { return edited("ab", [](ZVString &s) { s.Alloc(4); }); }, ""},
        {"empty", [] { return edited("ab", [](ZVString &s) { s.Empty(); }); }, "<none>"},
        {"from int", [] { return ZVString(-12); }, "-12"},
        {"from double", [] { return ZVString(1.5); }, "1.500000"},
        {"copy int", [] { return edited("x", [](ZVString &s) { s.Copy(7); }); }, "7"},
        {"assign null", [] { return edited("x", [](ZVString &s) { s = static_cast<const char *>(nullptr); }); },
         "<none>"},
        {"assign itself", [] { return edited("xy", [](ZVString &s) { s = s; }); }, "xy"},
        {"assign own tail", [] { return edited("xyz", [](ZVString &s) { s = s.c_str() + 1; }); }, "yz"},
        {"with length", [] { return ZVString("abcdef", 3); }, "abc"},
        {"with length of null", [] { return ZVString(nullptr, 3); }, ""},
    };
    for (const TextCase &c : cases) {
        ZVString s = c.make();
        if (std::string(c.expected) == "<256>")
            EXPECT_EQ(text_of(s), std::string(255, '0') + "a") << c.name;
        else
            EXPECT_EQ(text_of(s), c.expected) << c.name;
    }
}

TEST(String, SetLengthLongerKeepsTextAndGrowsTheBuffer) {
    ZVString s("ab");
    s.SetLength(5);
    EXPECT_EQ(s.Length(), 2);
    for (int i = 2; i < 5; i++) s[i] = char('c' + i - 2);
    EXPECT_STREQ(s.c_str(), "abcde");
}

TEST(String, Numbers) {
    struct Case {
        const char *name;
        int got;
        int expected;
    } cases[] = {
        {"compare none none", ZVString().Compare(ZVString()), 0},
        {"compare none empty", ZVString().Compare(ZVString("")) < 0, 1},
        {"compare empty none", ZVString("").Compare(ZVString()) > 0, 1},
        {"compare bytes", ZVString("abc").Compare(ZVString("abd")) < 0, 1},
        {"compare ic", ZVString("ABC").CompareIC(ZVString("abd")), -1},
        {"compare ic equal", ZVString("ABC").CompareIC(ZVString("abc")), 0},
        {"compare ic greater", ZVString("b").CompareIC(ZVString("A")), 1},
        {"compare ic prefix", ZVString("ab").CompareIC(ZVString("ABC")), -1},
        {"compare ic none", ZVString().CompareIC(ZVString("")), -1},
        {"less none empty", ZVString() < ZVString(""), 1},
        {"equal none none", ZVString() == ZVString(), 1},
        {"equal none empty", ZVString() == ZVString(""), 0},
        {"equal with text", ZVString("a") == "a", 1},
        {"greater", ZVString("b") > ZVString("a"), 1},
        {"pos", ZVString("abcabc").Pos("ca"), 2},
        {"pos none found", ZVString("abc").Pos("x"), -1},
        {"pos in none", ZVString().Pos("a"), -1},
        {"pos of none", ZVString("abc").Pos(ZVString()), -1},
        {"last delimiter", ZVString("a/b/c").LastDelimiter("/"), 3},
        {"last delimiter of set", ZVString("a.b/c").LastDelimiter("./"), 3},
        {"last delimiter none found", ZVString("abc").LastDelimiter("/"), -1},
        {"last delimiter empty set", ZVString("abc").LastDelimiter(""), -1},
        {"last delimiter in none", ZVString().LastDelimiter("/"), -1},
        {"is delimiter", ZVString("a,b").IsDelimiter(",;", 1), 1},
        {"is not delimiter", ZVString("a,b").IsDelimiter(",;", 0), 0},
        {"is delimiter none set", ZVString("a,b").IsDelimiter(ZVString(), 1), 0},
        {"is path delimiter", ZVString("a/b").IsPathDelimiter(1), 1},
        {"length", ZVString("abc").Length(), 3},
        {"length none", ZVString().Length(), 0},
        {"is empty none", ZVString().IsEmpty(), 1},
        {"is empty", ZVString("").IsEmpty(), 1},
        {"to int", ZVString(" 42x").ToInt(), 42},
        {"to int none", ZVString().ToInt(), 0},
        {"to double", int(ZVString("2.5").ToDouble() * 2), 5},
        {"index at length is NUL", ZVString("ab")[2], 0},
        {"index", ZVString("ab")[1], 'b'},
    };
    for (const auto &c : cases) EXPECT_EQ(c.got, c.expected) << c.name;
    EXPECT_EQ(ZVString().LastChar(), nullptr);
    EXPECT_EQ(ZVString("").LastChar(), nullptr);
    ZVString abc("abc");
    EXPECT_EQ(abc.LastChar(), abc.c_str() + 2);
}

TEST(String, RangeFailures) {
    const objtest::ThrowCase cases[] = {
        {"index -1", [] { ZVString("ab")[-1]; }, 4005,
         "String index in operator [] out of range.", "zvppstrg", -1},
        {"index length + 1", [] { ZVString("ab")[3]; }, 4005,
         "String index in operator [] out of range.", "zvppstrg", -1},
        {"index without storage", [] { ZVString()[0]; }, 4005,
         "String index in operator [] out of range.", "zvppstrg", -1},
        {"delete before", [] { ZVString("ab").Delete(-1, 1); }, 4005,
         "Index out of range in Delete.", "zvppstrg", -1},
        {"delete after", [] { ZVString("ab").Delete(3, 1); }, 4005,
         "Index out of range in Delete.", "zvppstrg", -1},
        {"insert after", [] { ZVString("ab").Insert("x", 3); }, 4005,
         "Index out of range in Insert.", "zvppstrg", -1},
        {"insert before", [] { ZVString("ab").Insert("x", -1); }, 4005,
         "Index out of range in Insert.", "zvppstrg", -1},
        {"is delimiter at length", [] { ZVString("ab").IsDelimiter("b", 2); }, 4005,
         "Index out of range in IsDelimiter.", "zvppstrg", -1},
        {"is path delimiter", [] { ZVString("ab").IsPathDelimiter(-1); }, 4005,
         "Index out of range in IsDelimiter.", "zvppstrg", -1},
        {"substring", [] { ZVString("ab").SubString(-1, 1); }, 4005,
         "Index out of range in SubString.", "zvppstrg", -1},
    };
    for (const auto &c : cases) objtest::expect_thrown(thrown_by(c.call), c);
}

TEST(String, IndexRefersToTheByte) {
    ZVString s("abc");
    s[1] = 'X';
    EXPECT_STREQ(s.c_str(), "aXc");
}

// The length form copies no byte past the given text's terminator.
TEST(String, LengthFormReadsNoFurtherThanTheText) {
    std::unique_ptr<char[]> text(new char[3]{'a', 'b', '\0'});
    ZVString s(text.get(), 129);
    EXPECT_STREQ(s.c_str(), "ab");
    s[2] = 'c';
    EXPECT_STREQ(s.c_str(), "abc");
    std::unique_ptr<char[]> raw(new char[4]{'w', 'x', 'y', 'z'});
    EXPECT_STREQ(ZVString(raw.get(), 4).c_str(), "wxyz");
}

TEST(String, CopiesAreIndependent) {
    ZVString a("one");
    ZVString b(a);
    ZVString c;
    c = a;
    b[0] = 'O';
    c += "!";
    a.Free();
    EXPECT_EQ(a.c_str(), nullptr);
    EXPECT_STREQ(b.c_str(), "One");
    EXPECT_STREQ(c.c_str(), "one!");
}

class StringMemory : public ::testing::Test {
protected:
    void TearDown() override { zv::fail_alloc_at(0); }
};

TEST_F(StringMemory, FailedAllocationsThrowAndKeepTheString) {
    const ZVString x("x");
    struct Case {
        const char *name;
        std::function<void(ZVString &)> call;
        const char *message;
    } cases[] = {
        {"construct", [](ZVString &) { ZVString t("abc"); }, "Can't allocate memory for ZVString object"},
        {"construct with length", [](ZVString &) { ZVString t("abc", 5); },
         "Can't allocate memory for ZVString object"},
        {"copy", [](ZVString &s) { s.Copy("xyz"); }, "Not enough memory to copy string."},
        {"alloc", [](ZVString &s) { s.Alloc(10); }, "Not enough memory to allocate string."},
        {"pad left", [](ZVString &s) { s.PadLeft(10, ' '); }, "Not enough memory to left pad string."},
        {"pad right", [](ZVString &s) { s.PadRight(10, ' '); }, "Not enough memory to right pad string."},
        {"insert", [&](ZVString &s) { s.Insert(x, 1); }, "Not enough memory to perform insertion."},
        {"set length", [](ZVString &s) { s.SetLength(10); }, "Not enough memory to set the length of string."},
    };
    for (const auto &c : cases) {
        ZVString s("keep");
        zv::fail_alloc_at(1);
        Thrown t = thrown_by([&] { c.call(s); });
        zv::fail_alloc_at(0);
        EXPECT_TRUE(t.thrown) << c.name;
        EXPECT_EQ(t.code, 4001) << c.name;
        EXPECT_EQ(t.message, c.message) << c.name;
        EXPECT_EQ(t.source, "zvppstrg") << c.name;
        EXPECT_STREQ(s.c_str(), "keep") << c.name;
    }
}

TEST(JsonString, HoldsItsOwnString) {
    ZVJsonString none;
    EXPECT_EQ(none.c_str(), nullptr);
    // A string is made for a caller who asks for it.
    EXPECT_EQ(none.ToZVString().c_str(), nullptr);
    none.ToZVString() = "made";
    EXPECT_STREQ(none.c_str(), "made");

    ZVJsonString a("{\"a\":1}");
    ZVJsonString b(a);
    ZVJsonString c("[1,2,3]", 3);
    EXPECT_STREQ(c.c_str(), "[1,");
    c = a;
    a = "{}";
    EXPECT_STREQ(a.c_str(), "{}");
    EXPECT_STREQ(b.c_str(), "{\"a\":1}");
    EXPECT_STREQ(c.c_str(), "{\"a\":1}");
    b = ZVString("[]");
    EXPECT_STREQ(b.c_str(), "[]");
    b = b;
    EXPECT_STREQ(b.c_str(), "[]");
    c = ZVJsonString();
    EXPECT_EQ(c.c_str(), nullptr);
    ZVJsonString d(none);
    d.ToZVString() += "!";
    EXPECT_STREQ(d.c_str(), "made!");
    EXPECT_STREQ(none.c_str(), "made");
}

}  // namespace
