// Creation: refusals, memory files, create blocks and growth steps.
#include <cstring>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/files/create.h"
#include "tests/engine/files/files_util.h"

namespace {

using filestest::Bytes;
using filestest::file_bytes;
using filestest::le16;

class CreateTest : public filestest::FilesTest {};

bool exists(const char *path) { return access(path, F_OK) == 0; }

XCREblk block(uint32_t mode) {
    XCREblk x{};
    x.mode = mode;
    return x;
}

TEST_F(CreateTest, RefusalsLeaveNothingBehind) {
    ASSERT_EQ(CREDATX8(9, "busy.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    XCREblk wide = block(0x40);
    XCREblk conflict = block(0x10002);
    struct Case {
        const char *what;
        int code;
        std::function<int()> call;
        const char *file;  // must not exist afterwards
    };
    const Case cases[] = {
        {"record length 4", 21, [] { return CREDATX8(1, "r4.dat", 4, 0, 0x800, 0, nullptr, nullptr, nullptr); }, "r4.dat"},
        {"record length 8, 8-byte offsets", 21,
         [&] { return CREDATX8(1, "r8.dat", 8, 0, 0x800, 0, nullptr, nullptr, &wide); }, "r8.dat"},
        {"key length 1025", 45, [] { return CREIDX(1, "k.idx", 1025, 0, 0, 0, 0, 0); }, "k.idx"},
        {"key length 400, 1024-byte nodes", 20, [] { return CREIDX(1, "n.idx", 400, 0, 0, 0, 0, 0); }, "n.idx"},
        {"duplicate flag 6", 115, [] { return CREIDX(1, "d6.idx", 10, 0, 6, 0, 0, 0); }, "d6.idx"},
        {"duplicate flag 3, standard header", 115,
         [] { return CREIDXX8(1, "d3.idx", 10, 0, 3, 0, 0, 0, 0, nullptr, nullptr, nullptr); }, "d3.idx"},
        {"128 members", 23, [] { return CREIDX(1, "m.idx", 10, 0, 0, 128, 0, 0); }, "m.idx"},
        {"standard header with extended features", 669,
         [&] { return CREDATX8(1, "c.dat", 100, 0, 0, 0, nullptr, nullptr, &conflict); }, "c.dat"},
        {"empty name", 130, [] { return CREDAT(1, "", 100, 0, 0); }, nullptr},
        {"no name", 130, [] { return CREIDX(1, nullptr, 10, 0, 0, 0, 0, 0); }, nullptr},
        {"data number in use", 46, [] { return CREDAT(9, "u.dat", 100, 0, 0); }, "u.dat"},
        {"index member number in use", 46, [] { return CREIDX(8, "u.idx", 10, 0, 0, 1, 0, 0); }, "u.idx"},
        {"negative number", 22, [] { return CREDAT(-1, "neg.dat", 100, 0, 0); }, "neg.dat"},
        {"superfile member of a host that does not exist", 413, [] { return CREDAT(1, "h.dat!m", 100, 0, 0); },
         "h.dat"},
        {"superfile host as a member", 414, [] { return CREDAT(1, "h.dat!m", 100, 0, 0x200); }, "h.dat"},
        {"superfile host index", 454, [] { return CREIDX(1, "hx.idx", 10, 0, 0, 0, 0, 0x200); }, "hx.idx"},
    };
    int fds = filestest::open_descriptors();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.call(), c.code);
        EXPECT_EQ(zvGetUserErrorCode(), c.code);
        if (c.file) {
            EXPECT_FALSE(exists(c.file));
        }
        EXPECT_TRUE(!fcb(1) || fcb(1)->state == 'n');
    }
    EXPECT_EQ(filestest::open_descriptors(), fds);
    EXPECT_EQ(fcb(9)->state, 'y');
}

TEST_F(CreateTest, SmallestRecordLengthsAreAccepted) {
    XCREblk wide = block(0x40);
    EXPECT_EQ(CREDATX8(1, "r5.dat", 5, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(CREDATX8(2, "r9.dat", 9, 0, 0x800, 0, nullptr, nullptr, &wide), 0);
    EXPECT_EQ(CLSFIL(1, 0), 0);
    EXPECT_EQ(CLSFIL(2, 0), 0);
}

TEST_F(CreateTest, ExistingFileStaysByteIdentical) {
    for (bool index : {false, true}) {
        SCOPED_TRACE(index ? "index" : "data");
        const char *name = index ? "old.idx" : "old.dat";
        Bytes content(3000);
        for (size_t i = 0; i < content.size(); i++) content[i] = uint8_t(i * 7);
        filestest::put_file(name, content);
        int rc = index ? CREIDX(1, name, 10, 0, 0, 0, 0, 0) : CREDAT(1, name, 100, 0, 0);
        EXPECT_EQ(rc, index ? 18 : 19);
        EXPECT_EQ(file_bytes(name), content);
        EXPECT_EQ(fcb(1)->state, 'n');
    }
}

TEST_F(CreateTest, MemoryFileMakesNoFileOnDisk) {
    XCREblk mem = block(0x80000000u);
    mem.maxsizelo = 1 << 20;
    int fds = filestest::open_descriptors();
    ASSERT_EQ(CREDATX8(1, "mem.dat", 100, 0, 0, 0, nullptr, nullptr, &mem), 0);
    EXPECT_FALSE(exists("mem.dat"));
    EXPECT_EQ(fcb(1)->fd, -2);
    EXPECT_EQ(fcb(1)->nmembuckets, (1u << 20) / 200);
    EXPECT_EQ(g()->ringfront, nullptr);
    EXPECT_EQ(filestest::open_descriptors(), fds);
    EXPECT_EQ(CLSFIL(1, 0), 0);
    EXPECT_FALSE(exists("mem.dat"));

    struct Case {
        const char *what;
        uint16_t mode;
        uint32_t size;
        int code;
    };
    for (Case c : {Case{"superfile host", 0x200, 1 << 20, 749}, Case{"size 0", 0, 0, 749},
                   Case{"below record length + 100", 0, 199, 667}}) {
        SCOPED_TRACE(c.what);
        XCREblk x = block(0x80000000u);
        x.maxsizelo = c.size;
        EXPECT_EQ(CREDATX8(1, "mem.dat", 100, 0, c.mode, 0, nullptr, nullptr, &x), c.code);
        EXPECT_EQ(fcb(1)->state, 'n');
    }
    XCREblk idx = block(0x80000000u);
    idx.maxsizelo = 1 << 20;
    ASSERT_EQ(CREIDXX8(1, "mem.idx", 10, 0, 0, 0, 0, 0, 0, nullptr, nullptr, &idx), 0);
    EXPECT_EQ(fcb(1)->nmembuckets, (1u << 20) / (1024 + 1232));
    EXPECT_FALSE(exists("mem.idx"));
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(CreateTest, CallerBlockIsOnlyRead) {
    XCREblk mine = block(0x02);
    mine.flags = 0x8F0;  // bits creation drops from its own copy
    mine.option9 = 77;
    XCREblk copy;
    memcpy(&copy, &mine, sizeof copy);
    ASSERT_EQ(CREDATX8(1, "a.dat", 100, 0, 0x800, 0, nullptr, nullptr, &mine), 0);
    EXPECT_EQ(memcmp(&copy, &mine, sizeof copy), 0);
    EXPECT_EQ(fcb(1)->hdr.ext.crew9, 77u);
    EXPECT_EQ(fcb(1)->hdr.ext.flmode3, 0u);
    ASSERT_EQ(CREDATX8(2, "b.dat", 100, 0, 0x800, 0, nullptr, nullptr, ZV_XCRE_DEFAULT), 0);
    ASSERT_EQ(CREDATX8(3, "c.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(fcb(2)->hdr.base.verson, 0x91);
    EXPECT_EQ(fcb(3)->hdr.base.verson, 0x81);
    for (int n : {1, 2, 3}) EXPECT_EQ(CLSFIL(n, 0), 0);
}

TEST_F(CreateTest, OptionWordsComeBackThroughGetxcreblk) {
    XCREblk x = block(0x02);
    x.firstext = 1000;   // raised to 65536
    x.extsize = 200000;
    x.option7 = 7;
    x.option14 = 14;
    ASSERT_EQ(CREDATX8(1, "o.dat", 100, 0, 0x800, 0, nullptr, nullptr, &x), 0);
    XCREblk out;
    ASSERT_EQ(GETXCREBLK(1, &out), 0);
    EXPECT_EQ(out.firstext, 65536u);
    EXPECT_EQ(out.extsize, 200000u);
    EXPECT_EQ(out.option7, 7u);
    EXPECT_EQ(out.option14, 14u);
    EXPECT_EQ(out.nsegs, 1u);
    EXPECT_EQ(out.mode & 0x160002u, 0x160002u);  // extended, 32-bit step, first extent, word 7
    EXPECT_EQ(GETXCREBLK(1, nullptr), 540);
    EXPECT_EQ(fcb(1)->hdr.base.extsiz, 0);  // the 32-bit step is used
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(CreateTest, GrowthStepIsKeptInSixteenBits) {
    struct Case {
        uint32_t given;
        uint16_t mode;
        uint16_t stored;
    };
    int n = 1;
    for (Case c : {Case{100000, 0x800, 65535}, Case{65536, 0x800, 65535}, Case{4096, 0x800, 4096},
                   Case{0, 0x820, 16384}, Case{100000, 0x820, 65535}}) {
        SCOPED_TRACE(c.given);
        std::string name = "g" + std::to_string(n) + ".dat";
        ASSERT_EQ(CREDATX8(n, name.c_str(), 100, c.given, c.mode, 0, nullptr, nullptr, nullptr), 0);
        EXPECT_EQ(fcb(n)->hdr.base.extsiz, c.stored);
        ASSERT_EQ(CLSFIL(n, 0), 0);
        EXPECT_EQ(le16(file_bytes(name), 46), c.stored);
        n++;
    }
}

TEST_F(CreateTest, MissingDirectoriesAreMadeOnRequest) {
    EXPECT_EQ(CREDAT(1, "a/b/c.dat", 100, 0, 0x800), 17);
    XCREblk x = block(0x02);
    x.flags = 0x1000;
    ASSERT_EQ(CREDATX8(1, "a/b/c.dat", 100, 0, 0x800, 0, nullptr, nullptr, &x), 0);
    EXPECT_TRUE(exists("a/b/c.dat"));
    EXPECT_EQ(CLSFIL(1, 0), 0);
    EXPECT_EQ(zvCreateDirs("p/q/r/file", 0), 0);
    struct stat st;
    ASSERT_EQ(stat("p/q/r", &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_FALSE(exists("p/q/r/file"));
    EXPECT_EQ(zvCreateDirs(std::string(300, 'x').c_str(), 0), 749);
}

TEST_F(CreateTest, MemberDefinitionChecks) {
    ASSERT_EQ(CREIDX(1, "i.idx", 10, 0, 0, 2, 0, 0), 0);
    ASSERT_EQ(CREDATX8(5, "d.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(CREMEM(5, 10, 0, 0, 1), 48);
    EXPECT_EQ(CREMEM(1, 10, 0, 0, 0), 23);
    EXPECT_EQ(CREMEM(1, 10, 0, 0, 3), 23);
    EXPECT_EQ(CREMEM(1, 10, 0, 6, 1), 115);
    EXPECT_EQ(CREMEMX(1, 10, 0, 0, 1, 3), 46);
    EXPECT_EQ(CREMEM(1, 2000, 0, 0, 1), 45);
    EXPECT_EQ(fcb(2)->state, 'm');
    EXPECT_EQ(OPNFIL(2, "other.dat", 0), 46);
    ASSERT_EQ(CREMEM(1, 10, 0, 0, 1), 0);
    EXPECT_EQ(fcb(2)->state, 'y');
    EXPECT_EQ(CREMEM(1, 10, 0, 0, 1), 46);
    EXPECT_EQ(CLSFIL(2, 0), 23);
    EXPECT_EQ(CLSFIL(1, 0), 0);
    EXPECT_EQ(fcb(2)->state, 'n');
    EXPECT_EQ(fcb(3)->state, 'n');
    EXPECT_EQ(CLSFIL(5, 0), 0);
}

}  // namespace
