// File names with the session's separator, the path prefix, full paths,
// file existence and the prefixed copies of file definitions.
#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "engine/core/pools.h"
#include "recapi/base/paths.h"
#include "recapi/base/wrappers.h"
#include "tests/recapi/base/basefix.h"

namespace {

using basetest::BaseTest;
using PathsTest = BaseTest;

struct NameCase {
    const char *name;
    int32_t size;
    ZVDBRET rc;
    const char *out;
};

// Runs a splitting routine over a table of names with '/' as separator.
template <typename Split>
void check_split(const char *what, Split split, std::initializer_list<NameCase> cases) {
    for (const NameCase &c : cases) {
        char out[80];  // room past the largest size: a guard byte
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(split(c.name, out, c.size), c.rc) << what << " " << c.name << " size " << c.size;
        if (c.rc == 0) {
            EXPECT_STREQ(out, c.out) << what << " " << c.name;
        }
        EXPECT_EQ(out[c.size], '#') << what << " " << c.name << ": written past the size";
    }
}

TEST_F(PathsTest, DirectoryPart) {
    check_split("path", [](const char *n, char *o, int32_t s) { return _zvdb_GetFilePath(n, o, s, '/'); },
                {{"dir/sub/f.dat", 64, 0, "dir/sub"},
                 {"host.sf!member", 64, 0, "host.sf!"},
                 {"dir/host!m", 64, 0, "dir/host!"},
                 {"host!dir/m", 64, 0, "host!dir"},
                 {"f.dat", 64, 0, ""},
                 {"a/b.dat|m/b.dat", 64, 0, "a"},
                 {"dir/f", 4, 0, "dir"},
                 {"dir/f", 3, 4006, ""}});
    char out[4];
    EXPECT_EQ(_zvdb_GetFilePath(nullptr, out, 4, '/'), 4007);
    EXPECT_EQ(_zvdb_GetFilePath("a/b", nullptr, 4, '/'), 4007);
    EXPECT_EQ(_zvdb_GetFilePath("a/b", out, 0, '/'), 4006);
}

TEST_F(PathsTest, FileNamePart) {
    check_split("name", [](const char *n, char *o, int32_t s) { return _zvdb_GetFileName(n, o, s, '/'); },
                {{"a/b.dat|m/b.dat", 64, 0, "b"},
                 {"dir/f.dat", 64, 0, "f"},
                 {"dir/f", 64, 0, "f"},
                 {"dir.x/f", 64, 0, "f"},
                 {"host!m.x", 64, 0, "m"},
                 {"f.tar.gz", 64, 0, "f.tar"},
                 {"dir/", 64, 0, ""},
                 {"dir/abc.dat", 4, 0, "abc"},
                 {"dir/abc.dat", 3, 4006, ""}});
    check_split("name .dat",
                [](const char *n, char *o, int32_t s) { return _zvdb_GetFileNameXtd(n, o, s, '/', ".DAT"); },
                {{"dir/f.tar.dat", 64, 0, "f.tar"},
                 {"dir/.dat", 64, 0, ".dat"},
                 {"f.idx", 64, 0, "f.idx"},
                 {"m/x.dat|n/y.dat", 64, 0, "x"}});
    char out[4];
    EXPECT_EQ(_zvdb_GetFileName(nullptr, out, 4, '/'), 4007);
    EXPECT_EQ(_zvdb_GetFileName("a", out, 0, '/'), 4006);
}

TEST_F(PathsTest, MirrorNameAndExtension) {
    check_split("mirror", [](const char *n, char *o, int32_t s) { return _zvdb_GetMirrorFileName(n, o, s, '/'); },
                {{"a/b.dat|m/b.dat", 64, 0, "b"},
                 {"x.dat", 64, 0, ""},
                 {"a|m/c", 64, 0, "c"},
                 {"a|c.d.e", 64, 0, "c.d"},
                 {"a|long", 4, 4006, ""}});
    check_split("ext", [](const char *n, char *o, int32_t s) { return _zvdb_GetFileExt(n, o, s, '/'); },
                {{"a.b/c", 64, 0, ""},
                 {"d/f.dat", 64, 0, ".dat"},
                 {"f.dat|m.idx", 64, 0, ".dat"},
                 {"f", 64, 0, ""},
                 {"f.dat", 5, 0, ".dat"},
                 {"f.dat", 4, 4006, ""}});
    char out[4];
    EXPECT_EQ(_zvdb_GetFileExt(nullptr, out, 4, '/'), 4008);
    EXPECT_EQ(_zvdb_GetFileExt("a", nullptr, 4, '/'), 4008);
    EXPECT_EQ(_zvdb_GetMirrorFileName(nullptr, out, 4, '/'), 4007);
}

TEST_F(PathsTest, MakeFilePath) {
    std::string longdir(500, 'd');
    struct Case {
        const char *dir, *name, *out;
    } cases[] = {
        {"dir/", "f", "dir/f"}, {"host!", "f", "host!f"}, {"", "f", "f"},       {"dir", "f", "dir/f"},
        {nullptr, "f", "f"},    {"dir", nullptr, "dir"},  {"dir/ ", "f", "dir/ f"},
    };
    for (const Case &c : cases) {
        char *p = _zvdb_MakeFilePath(c.dir, c.name, '/');
        ASSERT_NE(p, nullptr);
        EXPECT_STREQ(p, c.out);
        _zvdb_free(p);
    }
    EXPECT_EQ(_zvdb_MakeFilePath(nullptr, nullptr, '/'), nullptr);
    char *p = _zvdb_MakeFilePath(longdir.c_str(), "name", '/');  // never cut
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::string(p), longdir + "/name");
    _zvdb_free(p);
    zv::fail_alloc_at(1);
    EXPECT_EQ(_zvdb_MakeFilePath("dir", "f", '/'), nullptr);
    zv::fail_alloc_at(0);
}

TEST_F(PathsTest, PathPrefix) {
    tagZVDBSESSION *s = basetest::make_session(false);
    EXPECT_EQ(zvdbGetPathPrefix(s), nullptr);
    ASSERT_EQ(zvdbSetPathPrefix(s, "pre"), 0);
    EXPECT_STREQ(zvdbGetPathPrefix(s), "pre");
    struct Case {
        const char *name, *out;
    } cases[] = {
        {"x", "pre/x"}, {"/abs/x", "/abs/x"}, {"C:/x", "C:/x"}, {"pre/y", "pre/y"}, {"dir/x", "pre/dir/x"},
    };
    for (const Case &c : cases) {
        char out[32];
        ASSERT_EQ(_zvdbFixPathPrefix(s, c.name, out, sizeof out), 0) << c.name;
        EXPECT_STREQ(out, c.out);
    }
    // "pre/x" and its end need 6 bytes: one fewer is refused, nothing written.
    char out[8];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(_zvdbFixPathPrefix(s, "x", out, 5), 4006);
    EXPECT_EQ(out[0], '#');
    EXPECT_EQ(out[5], '#');
    ASSERT_EQ(_zvdbFixPathPrefix(s, "x", out, 6), 0);
    EXPECT_STREQ(out, "pre/x");
    EXPECT_EQ(out[6], '#');
    // In place: the name's own buffer.
    char inplace[16] = "x";
    ASSERT_EQ(_zvdbFixPathPrefix(s, inplace, inplace, sizeof inplace), 0);
    EXPECT_STREQ(inplace, "pre/x");

    ASSERT_EQ(zvdbSetPathPrefix(s, "pre/"), 0);
    ASSERT_EQ(_zvdbFixPathPrefix(s, "x", out, sizeof out), 0);
    EXPECT_STREQ(out, "pre/x");
    EXPECT_EQ(_zvdbFixPathPrefix(s, nullptr, out, sizeof out), 4007);
    EXPECT_EQ(_zvdbFixPathPrefix(s, "x", nullptr, 8), 4007);
    EXPECT_EQ(_zvdbFixPathPrefix(nullptr, "x", out, sizeof out), 4003);

    ASSERT_EQ(zvdbClearPathPrefix(s), 0);
    EXPECT_EQ(zvdbGetPathPrefix(s), nullptr);
    ASSERT_EQ(_zvdbFixPathPrefix(s, "x", out, sizeof out), 0);
    EXPECT_STREQ(out, "x");
    EXPECT_EQ(zvdbSetPathPrefix(nullptr, "p"), 4003);
    zv::fail_alloc_at(1);
    EXPECT_EQ(zvdbSetPathPrefix(s, "p"), 4001);
    zv::fail_alloc_at(0);
    EXPECT_EQ(s->lasterror, 4001);
    EXPECT_EQ(zvdbGetPathPrefix(s), nullptr);
    basetest::free_session(s);
}

TEST_F(PathsTest, SeparatorIsReadOncePerSession) {
    tagZVDBSESSION *s = basetest::make_session(false);
    uint64_t reads = zv::wrap_counts().syscfg;
    EXPECT_EQ(_zvdbGetPathSeparator(s), '/');
    EXPECT_EQ(s->pathsep, '/');
    EXPECT_EQ(_zvdbGetPathSeparator(s), '/');
    EXPECT_EQ(zv::wrap_counts().syscfg, reads + 1);
    EXPECT_EQ(_zvdbGetPathSeparator(nullptr), '/');
    EXPECT_EQ(_zvdbGetPathSeparator(nullptr), '/');
    EXPECT_EQ(zv::wrap_counts().syscfg, reads + 3);
    basetest::free_session(s);
}

TEST_F(PathsTest, FullPathKeepsTheWorkingDirectory) {
    std::filesystem::create_directory("sub");
    zvtest::write_file("plain", "x");
    std::string cwd = std::filesystem::current_path().string();
    std::string real = std::filesystem::canonical(dir()).string();
    char path[PATH_MAX] = "sub";
    ASSERT_EQ(_zvdb_FullPath(path, sizeof path), 0);
    EXPECT_EQ(std::string(path), real + "/sub");
    EXPECT_EQ(std::filesystem::current_path().string(), cwd);
    std::strcpy(path, "");
    ASSERT_EQ(_zvdb_FullPath(path, sizeof path), 0);
    EXPECT_EQ(std::string(path), cwd);
    std::strcpy(path, "sub/../sub/.");
    ASSERT_EQ(_zvdb_FullPath(path, sizeof path), 0);
    EXPECT_EQ(std::string(path), real + "/sub");

    for (const char *bad : {"missing", "plain"}) {
        std::strcpy(path, bad);
        EXPECT_EQ(_zvdb_FullPath(path, sizeof path), 4044) << bad;
        EXPECT_STREQ(path, bad);
    }
    std::strcpy(path, "sub");
    int32_t need = int32_t(real.size() + 4);  // "/sub"
    EXPECT_EQ(_zvdb_FullPath(path, need), 4006);
    EXPECT_STREQ(path, "sub");
    EXPECT_EQ(_zvdb_FullPath(path, need + 1), 0);
    EXPECT_EQ(_zvdb_FullPath(nullptr, 8), 4007);
    EXPECT_EQ(std::filesystem::current_path().string(), cwd);
}

TEST_F(PathsTest, FileExist) {
    std::filesystem::create_directory("d");
    zvtest::write_file("d/f.dat", "x");
    EXPECT_EQ(_zvdbFileExist("d", "f", ".dat", '/'), 0);
    EXPECT_EQ(_zvdbFileExist("d/", "f", ".dat", '/'), 0);
    EXPECT_EQ(_zvdbFileExist("d", "f.dat", nullptr, '/'), 0);
    EXPECT_EQ(_zvdbFileExist("d", "g", ".dat", '/'), 4046);
    EXPECT_EQ(_zvdbFileExist("", "d", "", '/'), 0);
    EXPECT_EQ(_zvdbFileExist(nullptr, "f", ".dat", '/'), 4007);
    zv::fail_alloc_at(1);
    EXPECT_EQ(_zvdbFileExist("d", "f", ".dat", '/'), 4001);
    zv::fail_alloc_at(0);
}

TEST_F(PathsTest, PrefixedCopyOfAFileDefinition) {
    tagZVDBSESSION *s = basetest::make_session(false);
    ASSERT_EQ(zvdbSetPathPrefix(s, "pre"), 0);
    ISEG s0[2] = {{0, 4, 1}, {4, 6, 0}};
    ISEG s1[1] = {{10, 8, 0}};
    ISEG s2[1] = {{18, 2, 0}};
    IIDX idx[3] = {{6, 0, 0, 0, 0, 2, s0, "a", nullptr, nullptr, nullptr},
                   {8, 0, 1, 0, 0, 1, s1, "b", "sub/b.idx", nullptr, nullptr},
                   {2, 0, 0, 0, 0, 1, s2, "c", "*c.idx", nullptr, nullptr}};
    IFIL ifil = {"cust", -1, 64, 0, 0, 3, 0, 0, idx, "first", "last", 7};
    IFIL *copy = nullptr;
    ASSERT_EQ(_zvdbFixIfilPath(s, &ifil, &copy), 0);
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy->pfilnam, "pre/cust");
    EXPECT_EQ(copy->dreclen, 64);
    EXPECT_EQ(copy->dnumidx, 3);
    EXPECT_EQ(copy->tfilno, 7);
    EXPECT_EQ(copy->rfstfld, ifil.rfstfld);  // shared
    EXPECT_EQ(copy->tlstfld, ifil.tlstfld);
    ASSERT_NE(copy->iidxarr, idx);
    EXPECT_EQ(copy->iidxarr[0].aidxnam, nullptr);
    EXPECT_STREQ(copy->iidxarr[1].aidxnam, "pre/sub/b.idx");
    EXPECT_STREQ(copy->iidxarr[2].aidxnam, "*c.idx");  // lies beside the data file
    for (int i = 0; i < 3; i++) {
        EXPECT_NE(copy->iidxarr[i].isegarr, idx[i].isegarr) << i;
        EXPECT_EQ(std::memcmp(copy->iidxarr[i].isegarr, idx[i].isegarr, sizeof(ISEG) * size_t(idx[i].inumseg)), 0);
        EXPECT_EQ(copy->iidxarr[i].ridxnam, idx[i].ridxnam);
        EXPECT_EQ(copy->iidxarr[i].ikeylen, idx[i].ikeylen);
    }
    EXPECT_STREQ(ifil.pfilnam, "cust");
    _zvdbFixIfilFree(copy);
    _zvdbFixIfilFree(nullptr);

    EXPECT_EQ(_zvdbFixIfilPath(s, nullptr, &copy), 4007);
    EXPECT_EQ(_zvdbFixIfilPath(s, &ifil, nullptr), 4007);
    EXPECT_EQ(_zvdbFixIfilPath(nullptr, &ifil, &copy), 4003);

    for (long n = 1;; n++) {
        int64_t in_use = zv::pool_blocks_in_use();
        copy = reinterpret_cast<IFIL *>(1);
        zv::fail_alloc_at(n);
        ZVDBRET rc = _zvdbFixIfilPath(s, &ifil, &copy);
        zv::fail_alloc_at(0);
        if (rc == 0) {
            EXPECT_GT(n, 8);  // copy, two names, array, three segment arrays, the third name
            _zvdbFixIfilFree(copy);
            break;
        }
        EXPECT_EQ(rc, 4001) << n;
        EXPECT_EQ(copy, nullptr) << n;
        EXPECT_EQ(zv::pool_blocks_in_use(), in_use) << n;
        ASSERT_LT(n, 20);
    }
    basetest::free_session(s);
}

TEST_F(PathsTest, DataFileNumberOfATable) {
    basetest::Tree t;
    t.table->datno = 3;
    EXPECT_EQ(_zvdbGetDatno(t.record), -1);  // not open
    t.table->active = 1;
    EXPECT_EQ(_zvdbGetDatno(t.record), 3);
    EXPECT_EQ(_zvdbGetDatno(t.segment), 3);
    EXPECT_EQ(_zvdbGetDatno(t.sb), -1);
    EXPECT_EQ(_zvdbGetDatno(nullptr), -1);
}

}  // namespace
