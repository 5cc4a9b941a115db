// Per-file rules: the list operation, the rules the engine reads, and their
// effect on creation and the data cache.
#include <cstring>
#include <string>

#include "engine/core/centralio.h"
#include "engine/core/filerules.h"
#include "tests/engine/files/files_util.h"

namespace {

class RulesTest : public filestest::FilesTest {
protected:
    int64_t add(const char *pattern, int32_t value, int32_t kind, int32_t value2 = 0, int mode = 1) {
        std::string p = pattern;
        return zvFILELIST(p.data(), &value, value2, kind, mode);
    }
    int64_t call(const char *name, int32_t value, int32_t kind, int mode, int32_t value2 = 0) {
        std::string n = name;
        return zvFILELIST(n.data(), &value, value2, kind, mode);
    }
    // Kind word of rule slot i as stored (280-byte entries, kind at +16).
    int32_t stored_kind(int i) {
        int32_t k;
        memcpy(&k, static_cast<char *>(g()->rulelist) + size_t(i) * 280 + 16, 4);
        return k;
    }
};

TEST_F(RulesTest, PatternsMatchAsFileNames) {
    struct Case {
        const char *pattern, *name;
        bool match;
    };
    const Case cases[] = {
        {"*.dat", "a.dat", true},     {"*.dat", "a.DAT", false},  {"a?c", "abc", true},
        {"a?c", "ac", false},         {"a*b", "axxb", true},      {"a*b", "a", false},
        {"a*", "a", true},            {"^*.dat", "x.dat", false}, {"^*.dat", "x.idx", true},
        {"\x01?", "?", true},         {"\x01?", "a", false},      {"h!m*", "h!m1", true},
        {"h!m*", "h", false},         {"*.mem", "d/x.mem", true},
    };
    int32_t kind = 100;  // one kind per case, so that rules do not meet
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.pattern << " ~ " << c.name);
        ASSERT_EQ(add(c.pattern, 5, kind), 0);
        EXPECT_EQ(call(c.name, 0, kind, 4), c.match ? 5 : 101);
        kind++;
    }
    ASSERT_EQ(add("*.tmp", 1, 12), 0);
    EXPECT_EQ(zvatoprefillst("a.tmp"), 1);
    EXPECT_EQ(zvatoprefillst("a.dat"), 0);
}

TEST_F(RulesTest, LookupModes) {
    ASSERT_EQ(add("*.dat", 7, 1, 9), 0);
    EXPECT_EQ(call("a.dat", 0, 1, 4), int64_t(7) | (int64_t(9) << 32));
    EXPECT_EQ(call("a.dat", 0, 2, 4), 101);  // another kind
    EXPECT_EQ(zvGetUserErrorCode(), 101);
    EXPECT_EQ(call("a.dat", 11, 1, 12, 12), 0);
    EXPECT_EQ(call("a.dat", 0, 1, 4), int64_t(11) | (int64_t(12) << 32));
    EXPECT_EQ(call("a.dat", 21, 1, 0x804, 99), 0);
    EXPECT_EQ(call("a.dat", 99, 1, 0x1004, 22), 0);
    EXPECT_EQ(call("a.dat", 0, 1, 4 | 64), int64_t(21) | (int64_t(22) << 32));
    EXPECT_EQ(call("a.dat", 0, 1, 0x104), 21);

    // Enumeration and reverse lookup copy the pattern out.
    ASSERT_EQ(add("*.idx", 30, 1), 0);
    char name[255] = {};
    int32_t at = 0;
    EXPECT_EQ(zvFILELIST(name, &at, 0, 1, 32), 21);
    EXPECT_EQ(at, 0);
    EXPECT_STREQ(name, "*.dat");
    at = 1;
    EXPECT_EQ(zvFILELIST(name, &at, 0, 1, 96), 30);
    EXPECT_EQ(at, 1);
    EXPECT_STREQ(name, "*.idx");
    at = 2;
    EXPECT_EQ(zvFILELIST(name, &at, 0, 1, 32), 101);
    int32_t v = 21;
    EXPECT_EQ(zvFILELIST(name, &v, 0, 1, 512), 0);
    EXPECT_STREQ(name, "*.dat");

    // Re-kind moves the matching rules to another kind.
    EXPECT_EQ(call("x.idx", 4, 1, 0x400), 0);
    EXPECT_EQ(call("x.idx", 0, 4, 4), 30);
    EXPECT_EQ(call("x.idx", 0, 1, 4), 101);
    EXPECT_EQ(call("x.zzz", 4, 1, 0x400), 101);
}

TEST_F(RulesTest, BadNamesAreRefusedWhole) {
    EXPECT_EQ(add("a*", 1, 3, 0, 1 | 64), 749);
    EXPECT_EQ(add("a.dat", 1, 3, 0, 1 | 64), 0);
    std::string longest(254, 'n'), over(255, 'n');
    EXPECT_EQ(add(over.c_str(), 1, 3), 749);
    EXPECT_EQ(add(longest.c_str(), 1, 3), 0);
    char name[255];
    int32_t at = 0;
    EXPECT_EQ(zvFILELIST(name, &at, 0, 3, 32), 1);
    at = 1;
    EXPECT_EQ(zvFILELIST(name, &at, 0, 3, 32), 1);
    EXPECT_EQ(std::string(name), longest);
    EXPECT_EQ(zvFILELIST(nullptr, &at, 0, 3, 1), 540);
    EXPECT_EQ(call("x", 0, 3, 2), 749);  // no such mode
}

TEST_F(RulesTest, FreedSlotsAreReusedOnceATenthIsFree) {
    for (int i = 0; i < 8; i++) ASSERT_EQ(add(("r" + std::to_string(i)).c_str(), i, 15), 0);
    ASSERT_EQ(g()->rule_cap, 8);
    EXPECT_EQ(call("r3", 0, 15, 0x24), 0);  // delete
    EXPECT_EQ(stored_kind(3), -1);
    EXPECT_EQ(zvatotrnfillst("r3"), 0);
    EXPECT_EQ(add("n", 100, 15), 0);
    EXPECT_EQ(g()->rule_cap, 8);
    EXPECT_EQ(stored_kind(3), 15);
    EXPECT_EQ(zvatotrnfillst("n"), 2);

    // 16 slots with one free: not more than a tenth, so the list grows.
    for (int i = 8; i < 16; i++) ASSERT_EQ(add(("r" + std::to_string(i)).c_str(), i, 15), 0);
    ASSERT_EQ(g()->rule_cap, 16);
    EXPECT_EQ(call("r5", 0, 15, 0x24), 0);
    EXPECT_EQ(add("m", 200, 15), 0);
    EXPECT_EQ(g()->rule_cap, 24);
    EXPECT_EQ(stored_kind(5), -1);
}

TEST_F(RulesTest, LookupsSwitchedOffByPuthdr) {
    ASSERT_EQ(add("*.dat", 7, 3), 0);
    ASSERT_EQ(add("*.mem", 1000, 9), 0);
    EXPECT_EQ(PUTHDR(-5, 1, 48), 0);
    EXPECT_EQ(call("a.dat", 0, 3, 4), 101);
    EXPECT_EQ(call("a.dat", 0, 3, 12), 101);
    uint32_t size = 1;
    EXPECT_EQ(zvmemfil("a.mem", &size), 0u);
    EXPECT_EQ(PUTHDR(-5, 0, 48), 0);
    EXPECT_EQ(zvmemfil("a.mem", &size), 1000u);
    EXPECT_EQ(size, 1000u);
}

TEST_F(RulesTest, MemoryRuleWithoutASize) {
    ASSERT_EQ(add("z*", 0, 9), 0);
    uint32_t size = 1;
    EXPECT_EQ(zvmemfil("zz", &size), 0xFFFFFFFFu);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(zvmemfil("aa", &size), 0u);
}

TEST_F(RulesTest, DedicatedCacheRuleGivesAQuotaAtOpen) {
    // Half of the 16 data pages may be dedicated.
    zvtest::stop_engine();
    ASSERT_EQ(REGZARVO(ZV_DEFAULT_INSTANCE_ID), 0);
    ASSERT_EQ(zvSETSPECIALCACHE(50), 0);
    ASSERT_EQ(zvtest::start_engine(8, 20, 8, 16), 0);
    ASSERT_EQ(add("d*", 3 * 1024, 1), 0);  // three 1024-byte pages
    ASSERT_EQ(CREDATX8(1, "d.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "d.dat", 0x800), 0);
    EXPECT_EQ(fcb(1)->dedquota, 3);
    ASSERT_EQ(CREIDX(2, "d.idx", 10, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(zvsplche(fcb(2)), 0);  // indexes have no dedicated pages
    ASSERT_EQ(add("e*", -1, 1), 0);
    ASSERT_EQ(CREDATX8(3, "e.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(zvsplche(fcb(3)), 0);  // a size that is not positive
}

TEST_F(RulesTest, NoCacheRuleMakesDataReadsDirect) {
    ASSERT_EQ(add("n*.dat", 0, 3), 0);
    ASSERT_EQ(CREDATX8(2, "n.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(CLSFIL(2, 0), 0);
    ASSERT_EQ(OPNFIL(2, "n.dat", 0x800), 0);
    ASSERT_EQ(CREIDX(3, "n.idx", 10, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(zvno_che(fcb(3), "n.idx"), 0);  // indexes are never meant
    EXPECT_EQ(zvno_che(fcb(2), "n.dat"), 1);

    uint32_t before[8], after[8];
    unsigned char buf[100];
    ASSERT_EQ(IOPERFORMANCE(before), 0);
    ASSERT_EQ(izvio81x(0, fcb(2), 0, 0, buf, 100, nullptr, 0), 0);
    ASSERT_EQ(IOPERFORMANCE(after), 0);
    EXPECT_EQ(after[0], before[0] + 1);          // one direct read
    EXPECT_EQ(after[1], before[1] + 100);         // of 100 bytes
    EXPECT_EQ(g()->pc.usedbufs, 0);

    ASSERT_EQ(CREDATX8(1, "c.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(izvio81x(0, fcb(1), 0, 0, buf, 100, nullptr, 0), 0);
    EXPECT_EQ(g()->pc.usedbufs, 1);               // the other file is cached
    EXPECT_EQ(IOPERFORMANCE(nullptr), 540);
}

}  // namespace
