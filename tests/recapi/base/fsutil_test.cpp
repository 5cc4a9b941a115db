// File copy, delete and rename, directory creation, the directory search and
// path reduction and comparison.
#include <cerrno>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/core/platform.h"
#include "tests/recapi/base/basefix.h"
#include "zarvo/zvdb.h"

namespace {

using basetest::BaseTest;
using zvtest::read_file;
using zvtest::write_file;
using FsTest = BaseTest;

bool exists(const char *path) {
    struct stat st;
    return lstat(path, &st) == 0;
}

mode_t mode_of(const char *path) {
    struct stat st;
    EXPECT_EQ(stat(path, &st), 0) << path;
    return st.st_mode & 07777;
}

// A source of 10,000 bytes: two whole blocks of 4096 and a partial one.
std::string sample_bytes() {
    std::string s(10000, '\0');
    for (size_t i = 0; i < s.size(); i++) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

// Sets the process's umask for one test and puts the old one back.
class UmaskScope {
public:
    explicit UmaskScope(mode_t m) : old_(umask(m)) {}
    ~UmaskScope() { umask(old_); }

private:
    mode_t old_;
};

TEST_F(FsTest, CopyIsByteForByteAndCreatesAsWriteMode) {
    const std::string bytes = sample_bytes();
    write_file("src", bytes);
    UmaskScope mask(002);
    ASSERT_EQ(zvdbCopyFile("src", "new"), 0);
    EXPECT_EQ(read_file("new"), bytes);
    EXPECT_EQ(mode_of("new"), 0664u);  // 0666 less the umask, not the engine's 0660

    // An existing, longer target keeps its permission bits and holds exactly
    // the source afterwards.
    write_file("old", std::string(20000, 'x'));
    ASSERT_EQ(chmod("old", 0600), 0);
    ASSERT_EQ(zvdbCopyFile("src", "old"), 0);
    EXPECT_EQ(read_file("old"), bytes);
    EXPECT_EQ(mode_of("old"), 0600u);

    write_file("empty", "");
    ASSERT_EQ(zvdbCopyFile("empty", "new"), 0);
    EXPECT_EQ(read_file("new"), "");
    EXPECT_EQ(read_file("src"), bytes);
}

TEST_F(FsTest, CopyOrRenameThatCannotStartTouchesNothing) {
    write_file("target", "keep");
    EXPECT_EQ(zvdbCopyFile("missing", "target"), ZVDB_COPY_FAILED);
    EXPECT_EQ(read_file("target"), "keep");
    EXPECT_EQ(zvdbRenameFile("missing", "fresh"), ZVDB_COPY_FAILED);
    EXPECT_FALSE(exists("fresh"));

    write_file("src", "data");
    EXPECT_EQ(zvdbCopyFile("src", "nodir/t"), ZVDB_COPY_FAILED);
    EXPECT_EQ(zvdbRenameFile("src", "nodir/t"), ZVDB_COPY_FAILED);
    EXPECT_EQ(read_file("src"), "data");

    EXPECT_EQ(zvdbCopyFile(nullptr, "t"), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbRenameFile("src", nullptr), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbDeleteFile(nullptr), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbCreateDir(nullptr), ZVDB_NULL_ARGUMENT);
}

// Every fault of the copy at the seam gives 4068, leaves no target behind,
// and a rename keeps its source.
TEST_F(FsTest, FailedCopyLeavesNoTargetAndRenameKeepsTheSource) {
    const std::string bytes = sample_bytes();
    write_file("src", bytes);
    // Closes of a clean copy: the target's comes last.
    zv::fault_reset();
    ASSERT_EQ(zvdbCopyFile("src", "probe"), 0);
    const long closes = zv::io_calls(zv::IoKind::Close);
    ASSERT_EQ(zvdbDeleteFile("probe"), 0);

    struct Fault {
        const char *what;
        zv::IoKind kind;
        long nth;
        int err;
        long short_by;
    } faults[] = {
        {"read of the second block", zv::IoKind::Read, 2, EIO, 0},
        {"failed write", zv::IoKind::Write, 1, ENOSPC, 0},
        {"short write", zv::IoKind::Write, 2, 0, 100},
        {"close of the target", zv::IoKind::Close, closes, EIO, 0},
    };
    for (const Fault &f : faults) {
        for (bool rename : {false, true}) {
            zv::fault_reset();
            zv::fault_set(f.kind, f.nth, f.err, false, f.short_by);
            int rc = rename ? zvdbRenameFile("src", "dst") : zvdbCopyFile("src", "dst");
            EXPECT_EQ(rc, ZVDB_COPY_FAILED) << f.what << (rename ? " (rename)" : "");
            EXPECT_FALSE(exists("dst")) << f.what;
            EXPECT_EQ(read_file("src"), bytes) << f.what;
        }
    }

    zv::fault_reset();
    ASSERT_EQ(zvdbRenameFile("src", "dst"), 0);
    EXPECT_FALSE(exists("src"));
    EXPECT_EQ(read_file("dst"), bytes);
}

// A target that is the source itself is neither truncated nor deleted.
TEST_F(FsTest, CopyOrRenameOntoItselfChangesNothing) {
    ASSERT_EQ(zvdbCreateDir("d"), 0);
    write_file("a", "content");
    ASSERT_EQ(link("a", "d/hard"), 0);
    for (const char *other : {"a", "./a", "d/../a", "d/hard"}) {
        EXPECT_EQ(zvdbRenameFile("a", other), 0) << other;
        EXPECT_EQ(zvdbCopyFile("a", other), 0) << other;
        EXPECT_EQ(read_file("a"), "content") << other;
        EXPECT_EQ(read_file("d/hard"), "content") << other;
    }
}

TEST_F(FsTest, DeleteAndCreateDirectory) {
    write_file("f", "x");
    EXPECT_EQ(zvdbDeleteFile("f"), 0);
    EXPECT_FALSE(exists("f"));
    EXPECT_EQ(zvdbDeleteFile("f"), ZVDB_DELETE_FAILED);

    UmaskScope mask(002);
    ASSERT_EQ(zvdbCreateDir("dir"), 0);
    EXPECT_EQ(mode_of("dir"), 0775u);
    EXPECT_EQ(zvdbCreateDir("dir"), ZVDB_MKDIR_FAILED);
    EXPECT_EQ(zvdbCreateDir("no/such"), ZVDB_MKDIR_FAILED);
}

// Every name a search yields until NULL.
std::multiset<std::string> search(ZVDBFINDFILE *find, const char *directory) {
    std::multiset<std::string> names;
    for (const char *n = zvdbFindFirstFile(find, directory); n; n = zvdbFindNextFile(find)) names.insert(n);
    return names;
}

TEST_F(FsTest, SearchYieldsTheFilesOnly) {
    ASSERT_EQ(zvdbCreateDir("d"), 0);
    write_file("d/a", "1");
    write_file("d/b", "2");
    ASSERT_EQ(zvdbCreateDir("d/d"), 0);
    ASSERT_EQ(symlink("nowhere", "d/x"), 0);  // dangling: skipped, the search goes on
    ZVDBFINDFILE find;
    EXPECT_EQ(search(&find, "d/"), (std::multiset<std::string>{"a", "b"}));
    EXPECT_EQ(zvdbFindNextFile(&find), nullptr);
    EXPECT_EQ(zvdbFindClose(&find), 0);
    EXPECT_EQ(zvdbFindNextFile(&find), nullptr);

    ASSERT_EQ(zvdbCreateDir("only"), 0);
    ASSERT_EQ(zvdbCreateDir("only/s1"), 0);
    ASSERT_EQ(zvdbCreateDir("only/s2"), 0);
    EXPECT_EQ(zvdbFindFirstFile(&find, "only/"), nullptr);
    EXPECT_EQ(zvdbFindClose(&find), 0);

    EXPECT_EQ(zvdbFindFirstFile(&find, "missing/"), nullptr);
    EXPECT_EQ(zvdbFindClose(&find), 0);
    EXPECT_EQ(zvdbFindFirstFile(nullptr, "d/"), nullptr);
    EXPECT_EQ(zvdbFindFirstFile(&find, nullptr), nullptr);
    EXPECT_EQ(zvdbFindClose(nullptr), -1);
}

// The text area holds 4096 bytes: a directory text without room for one
// name gives NULL, and an entry whose full name would not fit is skipped.
TEST_F(FsTest, SearchNeverCutsANameToFitTheTextArea) {
    ASSERT_EQ(zvdbCreateDir("d"), 0);
    write_file("d/a", "1");
    write_file("d/abcdefghij", "2");
    write_file("d/z", "3");
    // "././.../d/" names d with a text of 4090 characters: room for a name
    // of up to 5 characters.
    std::string text = std::string(4088, '.') + "d/";
    for (size_t i = 1; i < 4088; i += 2) text[i] = '/';
    ASSERT_EQ(text.size(), 4090u);
    ZVDBFINDFILE find;
    EXPECT_EQ(search(&find, text.c_str()), (std::multiset<std::string>{"a", "z"}));
    EXPECT_EQ(zvdbFindClose(&find), 0);

    for (size_t len : {4095u, 5000u}) {
        std::string tail = std::string(len - text.size(), '/');
        EXPECT_EQ(zvdbFindFirstFile(&find, (text + tail).c_str()), nullptr) << len;
        EXPECT_EQ(zvdbFindClose(&find), 0);
    }
}

TEST_F(FsTest, PathReduction) {
    struct Case {
        const char *path;
        int32_t max;
        const char *out;
    } cases[] = {
        {"a//b/", 255, "a/b"},  {"./x", 255, "x"},        {"/./x", 255, "/x"},   {"a/.", 255, "a"},
        {"./", 255, ""},        {"/", 255, "/"},          {"a/../b", 255, "a/../b"},
        {"a/./b/./", 255, "a/b"}, {"///", 255, "/"},      {".", 255, "."},       {"/.", 255, "/."},
        {"../x", 255, "../x"},  {"a./b", 255, "a./b"},    {"././x", 255, "x"},   {".//x", 255, "x"},
        {"abcdefgh", 5, "abcde"}, {"abcde", 5, "abcde"},  {"a//b//c", 4, "a/b"}, {"a/b", 0, ""},
    };
    for (const Case &c : cases) {
        char out[300];
        memset(out, '#', sizeof out);
        ASSERT_EQ(_zvdbReducePath(c.path, out, c.max, 0), 0) << c.path;
        EXPECT_STREQ(out, c.out) << c.path << " max " << c.max;
    }
    char out[16];
    ASSERT_EQ(_zvdbReducePath("A//B/.", out, 15, 1), 0);
    EXPECT_STREQ(out, "a/b");
    EXPECT_EQ(_zvdbReducePath(nullptr, out, 15, 0), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(_zvdbReducePath("a", nullptr, 15, 0), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(_zvdbReducePath("a", out, -1, 0), ZVDB_BAD_ARGUMENT);
}

TEST_F(FsTest, PathComparison) {
    EXPECT_EQ(_zvdbPathCmp("a//b/", "a/b"), 0);
    EXPECT_EQ(_zvdbPathCmp("./x", "x"), 0);
    EXPECT_EQ(_zvdbPathiCmp("A/B", "a/b"), 0);
    EXPECT_NE(_zvdbPathCmp("A/B", "a/b"), 0);
    EXPECT_NE(_zvdbPathCmp(".//x", "/x"), 0);  // a relative name never equals an absolute one
    EXPECT_LT(_zvdbPathCmp("a/b", "a/c"), 0);
    EXPECT_EQ(_zvdbPathCmp(nullptr, "./"), 0);
    // Only the first 255 characters count.
    const std::string head(255, 'p');
    EXPECT_EQ(_zvdbPathCmp((head + "x").c_str(), (head + "y").c_str()), 0);
    EXPECT_NE(_zvdbPathCmp((head.substr(1) + "x").c_str(), (head.substr(1) + "y").c_str()), 0);
}

}  // namespace
