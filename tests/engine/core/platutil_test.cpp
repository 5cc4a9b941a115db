// Shared-library loading, the shutdown signal, console input, the hex dump,
// varints, time texts and the other platform utilities.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "engine/core/statuslog.h"
#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"

namespace {

using zvtest::lines_of;
using zvtest::read_file;
using zvtest::ZvTest;

class PlatUtilTest : public ZvTest {
protected:
    void SetUp() override {
        ZvTest::SetUp();
        ASSERT_EQ(REGZARVO("util"), 0);
    }
};

// ---- Shared libraries --------------------------------------------------------

TEST_F(PlatUtilTest, StandardLibraryNames) {
    const struct {
        const char *name;
        int force;
        const char *out;
    } cases[] = {{"mylib", 0, "libmylib.so"}, {"libx.so", 0, "libx.so"},
                 {"x.so", 0, "libx.so"},      {"libx", 0, "libx.so"},
                 {"x.so", 1, "libx.so.so"},   {"libx", 1, "liblibx.so"}};
    for (auto c : cases) {
        char out[32];
        EXPECT_EQ(zvStandardizeLibName(c.name, c.force, out, sizeof out), 0);
        EXPECT_STREQ(out, c.out);
    }
    char out[9];
    EXPECT_EQ(zvStandardizeLibName("ab", 0, out, 9), 0);  // "libab.so" and its NUL
    EXPECT_STREQ(out, "libab.so");
    EXPECT_EQ(zvStandardizeLibName("abc", 0, out, 9), 153);
    EXPECT_EQ(zvStandardizeLibName(nullptr, 0, out, 9), 540);
    EXPECT_EQ(zvStandardizeLibName("ab", 0, nullptr, 9), 540);
}

struct LoadRequest {
    std::vector<const char *> names;
    std::vector<void *> table;
    char err[512] = {0};
    ZVDLLREQ req{};
    LoadRequest(const char *lib, std::vector<const char *> fns, bool with_errbuf = true)
        : names(std::move(fns)), table(names.size(), reinterpret_cast<void *>(1)) {
        req.size = ZV_DLLREQ_SIZE;
        req.errbufsize = with_errbuf ? static_cast<int32_t>(sizeof err) : 0;
        req.errbuf = with_errbuf ? err : nullptr;
        req.libname = lib;
        req.funccount = static_cast<int32_t>(names.size());
        req.funcnames = names.data();
        req.functable = table.data();
    }
};

TEST_F(PlatUtilTest, LoadResolvesRequiredAndOptionalFunctions) {
    LoadRequest r(ZV_TEST_DLL, {"zvtest_add", "?zvtest_missing", "zvtest_answer"});
    ASSERT_EQ(zvdll_load(&r.req), 0) << r.err;
    ASSERT_NE(r.req.handle, nullptr);
    auto add = reinterpret_cast<int (*)(int, int)>(r.table[0]);
    auto answer = reinterpret_cast<int (*)()>(r.table[2]);
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add(2, 3), 5);
    EXPECT_EQ(r.table[1], nullptr);
    EXPECT_EQ(answer(), 42);

    void *sym = nullptr;
    char err[128];
    EXPECT_EQ(zvdll_getsym(r.req.handle, "zvtest_answer", &sym, err, sizeof err), 0);
    EXPECT_EQ(sym, r.table[2]);
    EXPECT_EQ(zvdll_getsym(r.req.handle, "zvtest_none", &sym, err, sizeof err), 982);
    EXPECT_EQ(sym, nullptr);
    EXPECT_EQ(std::string(err).rfind("ZVDLL_GETSYM: Failed to resolve function zvtest_none: ", 0),
              0u)
        << err;
    EXPECT_EQ(zvdll_getsym(nullptr, "zvtest_answer", &sym, err, sizeof err), 540);

    EXPECT_EQ(zvdll_unload(&r.req), 0);
    EXPECT_EQ(r.req.handle, nullptr);
    for (void *p : r.table) EXPECT_EQ(p, nullptr);
}

TEST_F(PlatUtilTest, MissingRequiredFunctionLeavesNothingLoaded) {
    LoadRequest r(ZV_TEST_DLL, {"zvtest_add", "zvtest_nothere"});
    EXPECT_EQ(zvdll_load(&r.req), 982);
    EXPECT_EQ(r.req.handle, nullptr);
    for (void *p : r.table) EXPECT_EQ(p, nullptr);
    std::string expect = std::string("ZVDLL_LOAD: Failed to resolve function zvtest_nothere in module ") +
                         ZV_TEST_DLL + ": ";
    EXPECT_EQ(std::string(r.err).rfind(expect, 0), 0u) << r.err;
}

TEST_F(PlatUtilTest, MissingLibraryGives981WithItsMessage) {
    LoadRequest r("/nonexistent/libzvnone.so", {"f"});
    EXPECT_EQ(zvdll_load(&r.req), 981);
    EXPECT_EQ(r.req.handle, nullptr);
    EXPECT_EQ(std::string(r.err).rfind("ZVDLL_LOAD: Failed to load module /nonexistent/libzvnone.so: ", 0),
              0u)
        << r.err;

    // A "^" name is loaded in its standard form.
    LoadRequest caret("^zvnone_lib", {});
    EXPECT_EQ(zvdll_load(&caret.req), 981);
    EXPECT_NE(std::string(caret.err).find("module libzvnone_lib.so: "), std::string::npos)
        << caret.err;

    // A message is cut to the error buffer.
    LoadRequest small("/nonexistent/libzvnone.so", {});
    small.req.errbufsize = 10;
    EXPECT_EQ(zvdll_load(&small.req), 981);
    EXPECT_STREQ(small.err, "ZVDLL_LOA");

    // Without an error buffer the message goes to the status log.
    LoadRequest quiet("/nonexistent/libzvnone.so", {}, false);
    EXPECT_EQ(zvdll_load(&quiet.req), 981);
    auto lines = lines_of(read_file("ZVSTATUS.QVS"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].rfind(" - User# 00001\tZVDLL_LOAD: Failed to load module /nonexistent/", 0),
              0u)
        << lines[1];
}

TEST_F(PlatUtilTest, BadRequestBlocks) {
    EXPECT_EQ(zvdll_load(nullptr), 540);
    LoadRequest r(ZV_TEST_DLL, {"zvtest_add"});
    r.req.size = 55;
    EXPECT_EQ(zvdll_load(&r.req), 749);
    EXPECT_EQ(zvdll_unload(&r.req), 749);
    r.req.size = ZV_DLLREQ_SIZE;
    r.req.funccount = -1;
    EXPECT_EQ(zvdll_load(&r.req), 749);
    r.req.funccount = 1;
    r.req.libname = nullptr;
    EXPECT_EQ(zvdll_load(&r.req), 540);
    r.req.libname = ZV_TEST_DLL;
    r.req.funcnames = nullptr;
    EXPECT_EQ(zvdll_load(&r.req), 540);
    EXPECT_EQ(zvdll_unload(nullptr), 0);
}

// ---- Shutdown signal -------------------------------------------------------------

TEST_F(PlatUtilTest, SigtermIsLoggedByTheNextStatusLogWrite) {
    zv::clear_shutdown_flag();
    zv_setshtdwnsig();
    ASSERT_EQ(raise(SIGTERM), 0);
    EXPECT_TRUE(zv::shutdown_flag());
    EXPECT_TRUE(read_file("ZVSTATUS.QVS").empty());  // nothing written by the handler
    ASSERT_EQ(raise(SIGTERM), 0);                      // ignored from now on
    EXPECT_EQ(zvrcvlog("next", 0), 0);
    auto lines = lines_of(read_file("ZVSTATUS.QVS"));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], " - User# 00001\tshutdown loop signal received = : 15");
    EXPECT_EQ(lines[3], " - User# 00001\tnext");
    EXPECT_EQ(zvrcvlog("later", 0), 0);
    EXPECT_EQ(lines_of(read_file("ZVSTATUS.QVS")).size(), 6u);
    signal(SIGTERM, SIG_DFL);
    zv::clear_shutdown_flag();
}

// ---- Console input ----------------------------------------------------------------

// Runs fn in a child process whose standard input holds `input` and whose
// controlling terminal is gone; returns what fn wrote to the pipe it gets.
std::string in_child(const std::string &input, const std::function<std::string()> &fn) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return "pipe failed";
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        dup2(in[0], 0);
        close(in[0]);
        close(in[1]);
        close(out[0]);
        std::string r = fn();
        ssize_t w = write(out[1], r.data(), r.size());
        _exit(w == static_cast<ssize_t>(r.size()) ? 0 : 1);
    }
    close(in[0]);
    close(out[1]);
    ssize_t w = write(in[1], input.data(), input.size());
    close(in[1]);
    std::string got;
    char buf[256];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (w != static_cast<ssize_t>(input.size()) || !WIFEXITED(status)) return "child failed";
    return got;
}

// Reads lines with zvrt_gets until it answers NULL; each as "[line]".
std::string read_lines(int32_t size) {
    std::string r;
    std::vector<char> buf(static_cast<size_t>(size));
    while (zvrt_gets(buf.data(), size)) r += "[" + std::string(buf.data()) + "]";
    return r + "END";
}

TEST_F(PlatUtilTest, GetsReadsBoundedLines) {
    const struct {
        std::string input;
        int32_t size;
        std::string lines;
    } cases[] = {
        {"abc\ndef\r", 16, "[abc][def]END"},
        {"ab\x08" "c\n\x08x\n", 16, "[ac][x]END"},
        {"\n", 16, "[]END"},
        {"tail", 16, "[tail]END"},
        {"", 16, "END"},
        {"abcdefg\nxy\n", 4, "[abc][xy]END"},  // the rest of a long line is dropped
    };
    for (const auto &c : cases) {
        EXPECT_EQ(in_child(c.input, [&] { return read_lines(c.size); }), c.lines) << c.input;
    }
    EXPECT_EQ(zvrt_gets(nullptr, 4), nullptr);
}

TEST_F(PlatUtilTest, MaskedInputIsAlwaysTerminated) {
    auto masked = [](int32_t size) {
        return [size] {
            char buf[16];
            memset(buf, 'x', sizeof buf);
            char *r = zvGetMaskedInput(buf, size);
            if (!r) return std::string("NULL");
            // The text, whether the last byte is the NUL, the byte after.
            return std::string(buf, strnlen(buf, sizeof buf)) + "|" +
                   (buf[size - 1] == '\0' ? "nul" : "set") + "|" +
                   (size < 16 ? std::string(1, buf[size]) : std::string());
        };
    };
    EXPECT_EQ(in_child("secret\n", masked(16)), "secret|nul|");
    EXPECT_EQ(in_child("secret\n", masked(4)), "sec|nul|x");
    char buf[4];
    EXPECT_EQ(zvGetMaskedInput(buf, 0), nullptr);
}

TEST_F(PlatUtilTest, ConsoleOutputGoesToStandardOutput) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(zvrt_printf("%s=%d\n", "n", 7), 4);
    zvPrintProductVersion("demo");
    auto lines = lines_of(testing::internal::GetCapturedStdout());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "n=7");
    EXPECT_NE(lines[1].find("Zarvo"), std::string::npos);
    EXPECT_EQ(lines[1].substr(lines[1].size() - 5), " demo");
    EXPECT_FALSE(lines[2].empty());
}

// ---- Hex dump -------------------------------------------------------------------

std::string dump_line(const std::string &offset, const std::string &hex, const std::string &text) {
    return offset + "  " + hex + "  " + text + "\n";
}

const std::string kZeros16 = " 00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00";
const std::string kMarker = "\t\t  *****\t\t\t   *****\n";

TEST_F(PlatUtilTest, DumpOfRepeatedLinesPrintsOneAndTheMarker) {
    unsigned char zeros[64] = {0};
    EXPECT_EQ(zvlogio("dump.txt", "T", zeros, 64, 0), 0);
    std::string expect = "T:\n\n" + dump_line("000000", kZeros16, "................") + kMarker +
                         "\n";
    EXPECT_EQ(read_file("dump.txt"), expect);
}

TEST_F(PlatUtilTest, DumpOfAShortLineAndALimit) {
    EXPECT_EQ(zvlogio("a.txt", nullptr, "AB~ ", 4, 0), 0);
    std::string hex = " 41 42 7e 20" + std::string(4 * 3, ' ') + " " + std::string(8 * 3, ' ');
    EXPECT_EQ(read_file("a.txt"), "\n\n" + dump_line("000000", hex, "AB.." + std::string(12, ' ')) + "\n");

    unsigned char bytes[40];
    for (int i = 0; i < 40; i++) bytes[i] = static_cast<unsigned char>('a' + i % 26);
    EXPECT_EQ(zvlogio("b.txt", "L", bytes, 40, 20), 0);
    auto lines = lines_of(read_file("b.txt"));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "L: [only 1st 20 bytes dumped]");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2].substr(0, 8), "000000  ");
    EXPECT_EQ(lines[2].substr(lines[2].size() - 16), "abcdefghijklmnop");
    EXPECT_EQ(lines[3].substr(0, 8), "000010  ");
    EXPECT_EQ(lines[3].substr(lines[3].size() - 16), "qrst            ");
    EXPECT_EQ(lines[4], "");
}

TEST_F(PlatUtilTest, DumpRunEndsBeforeADifferentLineAndBlankLinesMark128) {
    unsigned char bytes[160];
    memset(bytes, 0, 48);                // lines 0-2: one value
    memset(bytes + 48, 'A', 16);         // line 3: another value
    for (int i = 64; i < 160; i++) bytes[i] = static_cast<unsigned char>(i);
    EXPECT_EQ(zvlogio("c.txt", nullptr, bytes, 160, 0), 0);
    auto lines = lines_of(read_file("c.txt"));
    // "", "", line 0, marker, line 3 (AAAA...), lines 4-7, "", line 8, line 9, ""
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[2].substr(0, 6), "000000");
    EXPECT_EQ(lines[3] + "\n", kMarker);
    EXPECT_EQ(lines[4].substr(0, 6), "000030");
    EXPECT_EQ(lines[4].substr(lines[4].size() - 16), std::string(16, 'A'));
    EXPECT_EQ(lines[8].substr(0, 6), "000070");
    EXPECT_EQ(lines[9], "");
    EXPECT_EQ(lines[10].substr(0, 6), "000080");
    EXPECT_EQ(lines[11].substr(0, 6), "000090");
}

TEST_F(PlatUtilTest, DumpFailures) {
    EXPECT_EQ(zvlogio("/nonexistent/dir/d.txt", "T", "x", 1, 0), -1);
    EXPECT_EQ(zvlogio("d.txt", "T", nullptr, 1, 0), 540);
}

// ---- Varints -----------------------------------------------------------------

TEST(VarintTest, EncodeDecodeAndLengths) {
    const struct {
        uint64_t v;
        std::vector<unsigned char> bytes;
    } cases[] = {
        {0, {0x00}},
        {127, {0x7F}},
        {128, {0x80, 0x01}},
        {300, {0xAC, 0x02}},
        {UINT64_MAX, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}},
    };
    for (const auto &c : cases) {
        unsigned char out[12];
        int n = static_cast<int>(c.bytes.size());
        EXPECT_EQ(zvVarintLen(c.v), n);
        EXPECT_EQ(zvPutVarint(out, c.v), n);
        EXPECT_EQ(std::vector<unsigned char>(out, out + n), c.bytes);
        uint64_t back = 1;
        EXPECT_EQ(zvGetVarint(c.bytes.data(), &back), n);
        EXPECT_EQ(back, c.v);
        EXPECT_EQ(zvGetVarintLen(c.bytes.data()), n);
    }
}

TEST(VarintTest, ReadingStopsAtTenBytes) {
    unsigned char all_high[12];
    memset(all_high, 0xFF, sizeof all_high);
    EXPECT_EQ(zvGetVarintLen(all_high), 10);
    uint64_t v = 0;
    EXPECT_EQ(zvGetVarint(all_high, &v), 10);
    EXPECT_EQ(v, UINT64_MAX);
}

// ---- Time, names, versions and fixed answers ---------------------------------------

TEST(TimeTextTest, LocalAndUniversalTimeTexts) {
    const char *old_tz = getenv("TZ");
    std::string saved = old_tz ? old_tz : "";
    setenv("TZ", "UTC", 1);
    tzset();
    const int32_t when = 1614834367;  // 2021-03-04 05:06:07 UTC
    char name[16];
    EXPECT_STREQ(zvdatetime_name(when, name, '_'), "20210304_050607");
    char text[26];
    EXPECT_STREQ(zvdate_r(when, text), "Thu Mar  4 05:06:07 2021\n");
    time_t t = when;
    struct tm tmv;
    ASSERT_EQ(zvrt_gmtime_r(&t, &tmv), &tmv);
    EXPECT_EQ(tmv.tm_year, 121);
    EXPECT_EQ(tmv.tm_mon, 2);
    EXPECT_EQ(tmv.tm_mday, 4);
    ASSERT_EQ(zvrt_localtime_r(&t, &tmv), &tmv);
    EXPECT_EQ(tmv.tm_hour, 5);
    EXPECT_STREQ(zvrt_asctime_r(&tmv, text), "Thu Mar  4 05:06:07 2021\n");
    EXPECT_EQ(zvrt_localtime_r(nullptr, &tmv), nullptr);
    EXPECT_EQ(zvrt_asctime_r(nullptr, text), nullptr);
    int32_t now = zvtime();
    EXPECT_LE(std::abs(now - static_cast<int32_t>(time(nullptr))), 1);
    if (old_tz) setenv("TZ", saved.c_str(), 1);
    else unsetenv("TZ");
    tzset();
}

TEST(PlatformFactsTest, KernelVersion) {
    int major = 0, minor = -1;
    char msg[128] = {0};
    EXPECT_EQ(zvGetLinuxKernelVersion(&major, &minor, msg, sizeof msg), 0);
    EXPECT_GE(major, 2);
    EXPECT_GE(minor, 0);
    EXPECT_EQ(zvGetLinuxKernelVersion(nullptr, &minor, msg, sizeof msg), 540);
}

TEST(DumpRestoreEventTest, NamesAndCodes) {
    EXPECT_STREQ(zvGetDumpRestoreEventDescription(0), "DR_EVENT_NONE");
    EXPECT_STREQ(zvGetDumpRestoreEventDescription(1), "DR_EVENT_BEGIN_RESTORE");
    EXPECT_STREQ(zvGetDumpRestoreEventDescription(11), "DR_EVENT_END_UPDIFL");
    EXPECT_STREQ(zvGetDumpRestoreEventDescription(12), "DR_EVENT_NONE");
    EXPECT_STREQ(zvGetDumpRestoreEventDescription(-1), "DR_EVENT_NONE");
    const struct {
        const char *text;
        int32_t len;
        int32_t code;
    } cases[] = {
        {"{DR_EVENT_BEGIN_RESTORE}", 24, 8},
        {"{DR_EVENT_END_UPDIFL}", 21, 15},
        {"{DR_EVENT_BEGIN_FILE}", 64, 2},    // NUL-terminated in a longer buffer
        {"{DR_EVENT_BEGIN_FILE}x", 22, 0},
        {"{DR_EVENT_BEGIN_FILE}", 20, 0},    // cut by its length
        {"{DR_EVENT_NONE}", 15, 0},
        {"DR_EVENT_END_FILE", 17, 0},
    };
    for (auto c : cases) {
        char buf[64] = {0};
        memcpy(buf, c.text, strlen(c.text));
        int32_t out = -1;
        EXPECT_EQ(zvCheckDumpRestoreEvent(buf, c.len, &out), 0) << c.text;
        EXPECT_EQ(out, c.code) << c.text;
    }
    int32_t out = 0;
    EXPECT_EQ(zvCheckDumpRestoreEvent("{x}", -1, &out), 634);
    EXPECT_EQ(zvCheckDumpRestoreEvent(nullptr, 3, &out), 540);
    EXPECT_EQ(zvCheckDumpRestoreEvent("{x}", 3, nullptr), 540);
}

TEST(VersionIdTest, SplitsAndCopies) {
    uint32_t id = 0, low = 9, rest = 9;
    zvSetVERSIONID2(&id);
    zvGetVERSIONID2(id, &low, &rest);
    EXPECT_EQ((rest << 7) | low, id);
    zvGetVERSIONID2((5u << 7) | 3u, &low, &rest);
    EXPECT_EQ(low, 3u);
    EXPECT_EQ(rest, 5u);
    zvSetVERSIONID_BASE(&id);
    EXPECT_EQ(id, 0u);
    zvGetVERSIONID_BASE(77, &id);
    EXPECT_EQ(id, 77u);
    zvSetVERSIONID2(nullptr);
    zvGetVERSIONID2(1, nullptr, &rest);
}

TEST_F(PlatUtilTest, SettingsAndFixedAnswers) {
    zvSetRebuildMemory(100000);
    EXPECT_EQ(zvGetRebuildMemory(), 100000);
    EXPECT_EQ(zvrt_get_strlen("abc", 10), 3);
    EXPECT_EQ(zvrt_get_strlen("abcdef", 4), 4);
    EXPECT_EQ(zvrt_get_strlen("abc", 0), 0);
    EXPECT_EQ(zvsysint(), 0);
    EXPECT_EQ(zvsysdint(17), 17);
    EXPECT_EQ(DLOCK81(nullptr, 0, 1), 0);
    EXPECT_EQ(UDLOCK81(nullptr, 0, 1), 0);
    EXPECT_EQ(zvSETEXITFNC(nullptr), 454);
    EXPECT_EQ(zvConnStateAlloc(nullptr), 454);
    EXPECT_EQ(makPTADMIN(nullptr), 454);
    EXPECT_EQ(zvdefer(1), 0);
}

}  // namespace
