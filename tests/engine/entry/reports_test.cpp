// Reports and messages: the configuration record, the I/O counters, the
// path-redirection batch, display names and the engine's streams.
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "engine/entry/reports.h"
#include "tests/engine/files/files_util.h"

namespace {

class ReportsTest : public filestest::FilesTest {
protected:
    void TearDown() override {
        setZarvoSTDOUT(nullptr);
        if (out_) fclose(out_);
        FilesTest::TearDown();
    }
    // Sends the engine's standard output to a file of the test.
    void capture() {
        out_ = fopen("out.txt", "w+");
        ASSERT_NE(out_, nullptr);
        setZarvoSTDOUT(out_);
    }
    std::string captured() {
        fflush(out_);
        return zvtest::read_file("out.txt");
    }
    FILE *out_ = nullptr;
};

TEST_F(ReportsTest, ConfigurationRecord) {
    EXPECT_EQ(SYSCFG(nullptr), 540);
    int32_t rec[ZV_SYSCFG_SIZE / 4];
    memset(rec, 0x55, sizeof rec);
    ASSERT_EQ(SYSCFG(rec), 0);
    EXPECT_EQ(rec[ZV_SYSCFG_SIZE_WORD], ZV_SYSCFG_SIZE);
    EXPECT_EQ(rec[ZV_SYSCFG_PROCESS_ID], int32_t(getpid()));
    EXPECT_EQ(rec[ZV_SYSCFG_FILE_NUMBERS], 21);
    EXPECT_EQ(rec[ZV_SYSCFG_INDEX_BUFFERS], 8);
    EXPECT_EQ(rec[ZV_SYSCFG_DATA_PAGES], 16);
    EXPECT_EQ(rec[ZV_SYSCFG_NODE_SIZE], 1024);
    EXPECT_EQ(rec[ZV_SYSCFG_OPEN_FILES], 0);
    EXPECT_EQ(rec[ZV_SYSCFG_DESCRIPTORS + 1], 0);
    EXPECT_EQ(rec[ZV_SYSCFG_SIZE / 4 - 1], 0);

    zvtest::stop_engine();  // no instance: only the fixed values
    memset(rec, 0x55, sizeof rec);
    ASSERT_EQ(SYSCFG(rec), 0);
    EXPECT_EQ(rec[ZV_SYSCFG_MAX_KEY_LENGTH], 1024);
    EXPECT_EQ(rec[ZV_SYSCFG_FILE_NUMBERS], -1);
    EXPECT_EQ(rec[ZV_SYSCFG_NODE_SIZE], -1);
}

TEST_F(ReportsTest, ConfigurationRecordNamesThePlatformAndTheVersion) {
    int32_t rec[ZV_SYSCFG_SIZE / 4];
    for (bool started : {true, false}) {
        SCOPED_TRACE(started);
        if (!started) zvtest::stop_engine();
        memset(rec, 0x55, sizeof rec);
        ASSERT_EQ(SYSCFG(rec), 0);
        EXPECT_EQ(rec[150] & 0xFF, '/');
        EXPECT_EQ(rec[ZV_SYSCFG_PATH_SEPARATOR], '/');
        EXPECT_EQ(uint32_t(rec[ZV_SYSCFG_VERSION_WORD]), 0x00010000u);  // 0.1.0
        EXPECT_EQ(rec[ZV_SYSCFG_MAX_CONNECTIONS], -1);
        uint32_t id = 0, base = 7;
        zvSetVERSIONID2(&id);
        zvSetVERSIONID_BASE(&base);
        EXPECT_EQ(uint32_t(rec[ZV_SYSCFG_BUILD_ID]), id);
        EXPECT_EQ(uint32_t(rec[ZV_SYSCFG_BUILD_ID]), (1u << 7) | 1u);
        EXPECT_EQ(rec[ZV_SYSCFG_BUILD_BASE], 0);
        EXPECT_EQ(base, 0u);
        EXPECT_EQ(rec[185], 0);
        EXPECT_EQ(rec[189], 0);
    }
}

TEST_F(ReportsTest, ExtendedIoCounters) {
    uint32_t buf[ZV_IOPERFX_SIZE / 4 + 1];
    memset(buf, 0x55, sizeof buf);
    ASSERT_EQ(CREDATX8(1, "a.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(IOPERFORMANCEX(buf), 0);
    uint32_t eight[8];
    ASSERT_EQ(IOPERFORMANCE(eight), 0);
    EXPECT_EQ(memcmp(buf, eight, sizeof eight), 0);
    EXPECT_EQ(buf[14], 1u);  // open files
    EXPECT_EQ(buf[17], 0u);  // the zero word
    uint32_t now = uint32_t(time(nullptr));
    EXPECT_LE(buf[18], now);
    EXPECT_GE(buf[18] + 5, now);
    for (int i = 23; i < ZV_IOPERFX_SIZE / 4; i++) EXPECT_EQ(buf[i], 0u) << i;
    EXPECT_EQ(buf[ZV_IOPERFX_SIZE / 4], 0x55555555u);  // nothing beyond
    EXPECT_EQ(IOPERFORMANCEX(nullptr), 540);
}

TEST_F(ReportsTest, RedirectionBatchReportsEachFile) {
    ASSERT_EQ(CREDATX8(1, "e.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    zvtest::write_file("list.txt", "missing.dat\n; a comment\n\n   e.dat  \n");
    capture();
    EXPECT_EQ(zvredirectifil_list("list.txt"), 12);
    EXPECT_EQ(captured(),
              "Updating the file paths in the IFIL resources of the specified files...\n\n"
              "[ ERROR ] missing.dat: Could not open file: 12\n"
              "[  OK   ] e.dat (No IFIL resource)\n"
              "\nError: Failed to update IFIL resource for 1 file\n");
    EXPECT_EQ(g()->nfiles, 0);
}

TEST_F(ReportsTest, RedirectionBatchWithoutItsList) {
    capture();
    EXPECT_EQ(zvredirectifil_list("none.txt"), 12);
    EXPECT_EQ(captured(), "Error: Could not open file none.txt\n");
    zvtest::write_file("ok.txt", "; nothing to do\n");
    EXPECT_EQ(zvredirectifil_list("ok.txt"), 0);
    EXPECT_NE(captured().find("\nSuccessfully changed IFIL resource for all specified files\n"),
              std::string::npos);
}

TEST_F(ReportsTest, DisplayNameIsWholeOrEmpty) {
    FCB host{};
    strcpy(host.name, "h.dat");
    FCB member{};
    member.hostfcb = &host;
    member.hdr.base.sfiltyp = kSfMember;
    struct Case {
        uint32_t number;
        int32_t size;
        const char *shown;
    };
    const Case cases[] = {
        {7, 11, "h.dat M#07"},   {7, 10, ""},           {100, 12, "h.dat M#100"},
        {100, 11, ""},           {100, 1, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.number << " in " << c.size);
        member.hdr.base.supmbr = c.number;
        char buf[32];
        memset(buf, 'x', sizeof buf);
        izvGetFileNameFromFCB(&member, buf, c.size);
        EXPECT_STREQ(buf, c.shown);
        EXPECT_EQ(buf[c.size], 'x');  // nothing past the size
    }
    char buf[8] = "keep";
    izvGetFileNameFromFCB(&host, buf, 6);
    EXPECT_STREQ(buf, "h.dat");
    izvGetFileNameFromFCB(&host, buf, 5);
    EXPECT_STREQ(buf, "");
    strcpy(buf, "keep");
    izvGetFileNameFromFCB(nullptr, buf, 8);
    izvGetFileNameFromFCB(&host, buf, 0);
    EXPECT_STREQ(buf, "keep");
}

// An index without a name of its own shows through the data file it hangs
// from; any other nameless block shows as nothing.
TEST_F(ReportsTest, DisplayNameOfAnIndexReachedThroughItsDataFile) {
    FCB fixed{};
    strcpy(fixed.name, "d.dat");
    fixed.kind = kKindFixed;
    FCB variable{};
    strcpy(variable.name, "var.dat");
    variable.kind = kKindVariable;
    FCB other_index{};
    strcpy(other_index.name, "x.idx");
    other_index.kind = kKindIndex;
    FCB nameless_data{};
    nameless_data.kind = kKindFixed;
    struct Case {
        const char *what;
        const char *own;
        uint8_t kind;
        FCB *host;  // null: the block itself
        int32_t size;
        const char *shown;
    };
    const Case cases[] = {
        {"fits with its NUL", "", kKindIndex, &fixed, 9, "d.dat DI"},
        {"one byte short", "", kKindIndex, &fixed, 8, ""},
        {"of a variable-length file", "", kKindIndex, &variable, 20, "var.dat DI"},
        {"an own name wins", "i.idx", kKindIndex, &fixed, 20, "i.idx"},
        {"its own host", "", kKindIndex, nullptr, 20, ""},
        {"hangs from an index", "", kKindIndex, &other_index, 20, ""},
        {"a data file without a name", "", kKindFixed, &fixed, 20, ""},
        {"the data file has no name", "", kKindIndex, &nameless_data, 20, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        FCB f{};
        strcpy(f.name, c.own);
        f.kind = c.kind;
        f.hostfcb = c.host ? c.host : &f;
        char buf[32];
        memset(buf, 'x', sizeof buf);
        izvGetFileNameFromFCB(&f, buf, c.size);
        EXPECT_STREQ(buf, c.shown);
        EXPECT_EQ(buf[c.size], 'x');  // nothing past the size
    }
}

TEST_F(ReportsTest, EngineStreams) {
    EXPECT_EQ(getZarvoSTDOUT(), stdout);
    EXPECT_EQ(getZarvoSTDERR(), stderr);
    capture();
    EXPECT_EQ(getZarvoSTDOUT(), out_);
    zvrt_printf("%s %d\n", "one", 1);
    zvrt_printf_default_impl("%s %d\n", "two", 2);
    EXPECT_EQ(captured(), "one 1\ntwo 2\n");
    setZarvoSTDERR(out_);
    EXPECT_EQ(getZarvoSTDERR(), out_);
    setZarvoSTDERR(nullptr);
    EXPECT_EQ(getZarvoSTDERR(), stderr);
}

}  // namespace
