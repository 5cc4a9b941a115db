// Text routines, bit arrays and the debug trace file.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/core/platform.h"
#include "recapi/base/utility.h"
#include "tests/recapi/base/basefix.h"

namespace {

using basetest::BaseTest;
using UtilityTest = BaseTest;

TEST_F(UtilityTest, TextRoutines) {
    struct Case {
        const char *text;
        int last;  // index of the last non-blank character, -1 none
    } cases[] = {{"abc", 2}, {"ab \t\n", 1}, {"", -1}, {" \t ", -1}, {"x", 0}};
    for (const Case &c : cases) {
        char *p = _zvdb_strlastchar(c.text);
        if (c.last < 0) {
            EXPECT_EQ(p, nullptr) << '"' << c.text << '"';
        } else {
            EXPECT_EQ(p, c.text + c.last) << '"' << c.text << '"';
        }
    }
    EXPECT_EQ(_zvdb_strlastchar(nullptr), nullptr);

    EXPECT_EQ(_zvdb_lastdelimiter("a/b/c", '/'), 3);
    EXPECT_EQ(_zvdb_lastdelimiter("abc", '/'), -1);
    EXPECT_EQ(_zvdb_lastdelimiter(nullptr, '/'), -1);
    EXPECT_EQ(_zvdb_lastdelimiter("abc", 0), -1);

    char name[] = "file.tar.gz";
    _zvdbFileNameOnly(name);
    EXPECT_STREQ(name, "file");
    char plain[] = "file";
    _zvdbFileNameOnly(plain);
    EXPECT_STREQ(plain, "file");
    _zvdbFileNameOnly(nullptr);
}

TEST_F(UtilityTest, BitArrays) {
    unsigned char bits[3] = {};
    _zvdbSetBit(bits, 0);
    _zvdbSetBit(bits, 9);
    _zvdbFlipBit(bits, 23, 1);
    EXPECT_EQ(bits[0], 0x01);
    EXPECT_EQ(bits[1], 0x02);
    EXPECT_EQ(bits[2], 0x80);
    for (int n = 0; n < 24; n++) EXPECT_EQ(_zvdbTestBit(bits, n), n == 0 || n == 9 || n == 23) << n;
    _zvdbClearBit(bits, 9);
    _zvdbFlipBit(bits, 0, 0);
    EXPECT_EQ(bits[0], 0x00);
    EXPECT_EQ(bits[1], 0x00);
    EXPECT_EQ(bits[2], 0x80);
    _zvdbSetBit(nullptr, 3);
    _zvdbClearBit(nullptr, 3);
    EXPECT_EQ(_zvdbTestBit(nullptr, 3), 0);
}

TEST_F(UtilityTest, DebugTraceAppends) {
    zvtest::write_file("zvdbdbug.txt", "before\n");
    FILE *f = nullptr;
    ASSERT_EQ(_zvdbStartDebug(&f, nullptr), 0);
    ASSERT_NE(f, nullptr);
    std::fputs("line\n", f);
    EXPECT_EQ(_zvdbEndDebug(f), 0);
    EXPECT_EQ(zvtest::read_file("zvdbdbug.txt"), "before\nline\n");

    ASSERT_EQ(_zvdbStartDebug(&f, "other.txt"), 0);
    std::fputs("x", f);
    EXPECT_EQ(_zvdbEndDebug(f), 0);
    EXPECT_EQ(zvtest::read_file("other.txt"), "x");

    f = nullptr;
    EXPECT_EQ(_zvdbStartDebug(&f, "missing/dir/trace.txt"), 4009);
    EXPECT_EQ(f, nullptr);
    // A directory that refuses the file (the seam fails the open as the
    // system would).
    zv::fault_set(zv::IoKind::Fopen, 1, EACCES);
    EXPECT_EQ(_zvdbStartDebug(&f, nullptr), 4009);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(_zvdbStartDebug(nullptr, nullptr), 4007);
    // The default name is the library's own: a link under it is refused.
    zvtest::write_file("elsewhere.txt", "kept");
    ASSERT_EQ(std::remove("zvdbdbug.txt"), 0);
    ASSERT_EQ(symlink("elsewhere.txt", "zvdbdbug.txt"), 0);
    EXPECT_EQ(_zvdbStartDebug(&f, nullptr), 4009);
    EXPECT_EQ(zvtest::read_file("elsewhere.txt"), "kept");
    EXPECT_EQ(_zvdbEndDebug(nullptr), 4007);
}

}  // namespace
