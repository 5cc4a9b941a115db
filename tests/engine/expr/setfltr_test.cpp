// Record filters set from condition texts: SETFLTR (and the function-number
// entry) over a data file whose record schema was stored with PUTDODA,
// texts in read-only memory, and damaged field-name blocks.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/core/fcb.h"
#include "engine/isam/isam_services.h"
#include "tests/engine/expr/exprfix.h"
#include "tests/engine/expr/texts.h"
#include "zarvo/zarvo.h"

namespace {

using namespace exprtest;

class SetfltrTest : public ExprTest {
protected:
    void SetUp() override {
        ExprTest::SetUp();
        ASSERT_EQ(CREDAT(1, "f.dat", 256, 0, 0), 0);
        std::vector<DATOBJ> doda;
        for (const zvfuzz::FieldDef &f : zvfuzz::expr_fields()) doda.push_back({f.name, 0, f.type, f.len, 0, 0});
        ASSERT_EQ(PUTDODA(1, doda.data(), int(doda.size())), 0);
        ASSERT_NE(tstfnm(1)->schmap, nullptr);
        // The first filter takes the instance's evaluation area for good.
        ASSERT_EQ(SETFLTR(1, "1"), 0);
        ASSERT_EQ(SETFLTR(1, nullptr), 0);
        ASSERT_NE(zvWNGV->evalwork, nullptr);
    }
    static FCB *fcb() { return tstfnm(1); }
    // Replaces the stored field-name block.
    static int put_names(std::vector<unsigned char> bytes) {
        DEFBLK b{bytes.data(), int32_t(bytes.size()), int32_t(bytes.size()), 2, 1};
        return SETDEFBLKX(1, &b, 0);
    }
};

TEST_F(SetfltrTest, GoodTextsBecomeFiltersAndBadOnesAreRefused) {
    int64_t base = zv::pool_blocks_in_use();
    for (const std::string &t : good_texts()) {
        SCOPED_TRACE(t);
        EXPECT_EQ(SETFLTR(1, t.c_str()), 0);
        ASSERT_NE(fcb()->fltr, nullptr);
        EXPECT_EQ(fcb()->fltrkind, 0);
        EXPECT_EQ(zv::ptGetNodeType(static_cast<PTNODE *>(fcb()->fltr)), PT_RECINFO);
        EXPECT_EQ(zarvo(0x0026, 1, nullptr, nullptr, const_cast<char *>(t.c_str()), nullptr, 0), 0);
        EXPECT_NE(fcb()->fltr, nullptr);
    }
    for (const BadCase &c : bad_cases()) {
        SCOPED_TRACE(c.text);
        if (c.text.empty()) continue;  // an empty text clears the filter
        EXPECT_EQ(SETFLTR(1, c.text.c_str()), 597);
        EXPECT_EQ(zvGetUserErrorCode(), 597);
        EXPECT_EQ(fcb()->fltr, nullptr);
        EXPECT_EQ(zarvo(0x0026, 1, nullptr, nullptr, const_cast<char *>(c.text.c_str()), nullptr, 0), 597);
    }
    EXPECT_EQ(SETFLTR(1, ""), 0);
    EXPECT_EQ(zv::pool_blocks_in_use(), base);
    // A callback filter.
    EXPECT_EQ(SETFLTR(1, "@flt"), 0);
    EXPECT_EQ(fcb()->fltrkind, 1);
    EXPECT_EQ(memcmp(static_cast<char *>(fcb()->fltr) + 4, "@flt", 5), 0);
    // Clearing it ends the callback.
    FILE *out = getZarvoSTDOUT();
    FILE *sink = tmpfile();
    setZarvoSTDOUT(sink);
    EXPECT_EQ(SETFLTR(1, nullptr), 0);
    setZarvoSTDOUT(out);
    rewind(sink);
    char line[64] = "";
    EXPECT_NE(fgets(line, sizeof line, sink), nullptr);
    fclose(sink);
    EXPECT_STREQ(line, " zvfiltercb_uninit: @flt\n");
    EXPECT_EQ(zv::pool_blocks_in_use(), base);
}

TEST_F(SetfltrTest, FilesWithoutASchemaTakeConstantConditions) {
    ASSERT_EQ(CREDAT(2, "g.dat", 64, 0, 0), 0);
    ASSERT_EQ(tstfnm(2)->schmap, nullptr);
    EXPECT_EQ(SETFLTR(2, "1 + 1 = 2"), 0);
    EXPECT_NE(tstfnm(2)->fltr, nullptr);
    EXPECT_EQ(SETFLTR(2, "a = 2"), 597);
}

TEST_F(SetfltrTest, ATextInReadOnlyMemoryParses) {
    long page = sysconf(_SC_PAGESIZE);
    auto *mem = static_cast<char *>(mmap(nullptr, size_t(2 * page), PROT_READ | PROT_WRITE,
                                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(mem, MAP_FAILED);
    // The text ends at the end of a read-only page, before an unreadable one.
    const char text[] = "Name = \"read only\" AND Price > 1";
    char *at = mem + page - sizeof text;
    memcpy(at, text, sizeof text);
    ASSERT_EQ(mprotect(mem, size_t(page), PROT_READ), 0);
    ASSERT_EQ(mprotect(mem + page, size_t(page), PROT_NONE), 0);
    EXPECT_EQ(SETFLTR(1, at), 0);
    EXPECT_NE(fcb()->fltr, nullptr);
    EXPECT_EQ(memcmp(at, text, sizeof text), 0);
    munmap(mem, size_t(2 * page));
}

TEST_F(SetfltrTest, DamagedFieldNameBlocks) {
    // The stored block as PUTDODA wrote it, to damage.
    std::vector<unsigned char> good = zvfuzz::name_list(zvfuzz::expr_fields());
    struct Case {
        const char *what;
        std::vector<unsigned char> bytes;
    } cases[] = {
        {"a zero length byte", [&] { auto b = good; b[3] = 0; return b; }()},
        {"a record past the end", [&] { auto b = good; b[b.size() - 6] = 200; return b; }()},
        {"a name without its NUL", [&] { auto b = good; b[2] = 'x'; return b; }()},
        {"a record too few", std::vector<unsigned char>(good.begin() + 3, good.end())},
        {"a record too many", [&] { auto b = good; b.push_back(1); return b; }()},
    };
    ASSERT_EQ(good[0], 3);  // "a"
    ASSERT_EQ(good[2], 0);
    ASSERT_EQ(good[good.size() - 6], 6);  // "Rest"
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(put_names(c.bytes), 0);
        int64_t base = zv::pool_blocks_in_use();
        zv::set_uerr(0);
        EXPECT_EQ(zv::zvgetnames(1), nullptr);
        EXPECT_EQ(zvGetUserErrorCode(), 439);
        EXPECT_EQ(SETFLTR(1, "a = 1"), 596);
        EXPECT_EQ(fcb()->fltr, nullptr);
        EXPECT_EQ(zv::pool_blocks_in_use(), base);
    }
    ASSERT_EQ(put_names(good), 0);
    EXPECT_EQ(SETFLTR(1, "a = 1"), 0);
}

}  // namespace
