// Wildcard matching, the directory search and its filter, directory cleanup
// and tree traversal.
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "engine/core/dirwalk.h"
#include "tests/engine/core/platfix.h"
#include "zarvo/zarvo.h"

namespace {

using zvtest::read_file;
using zvtest::write_file;

int match(const std::string &p, const std::string &t, int flags) {
    const char *pb = p.data(), *tb = t.data();
    return zvmatch(pb, pb + p.size() - 1, tb, tb + t.size() - 1, flags);
}

bool exists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

class DirWalkTest : public zvtest::PlatTest {
protected:
    void mkdirs(std::initializer_list<const char *> dirs) {
        for (const char *d : dirs) ASSERT_EQ(mkdir(d, 0755), 0) << d;
    }
};

TEST(MatchTest, PatternTable) {
    struct Case {
        const char *pattern;
        const char *text;
        int flags;
        int want;
    };
    const Case cases[] = {
        {"a*b", "ab", 0, 0},
        {"a*b", "axxb", 0, 0},
        {"a*b", "a", 0, 1},
        {"a*", "a", 0, 0},
        {"a**", "a", 0, 0},
        {"a**b", "axb", 0, 0},
        {"*", "", 0, 0},
        {"*a", "", 0, 1},
        {"", "", 0, 0},
        {"", "x", 0, 1},
        {"A?", "ab", 1, 1},
        {"A?", "ab", 0, 0},
        {"A?", "ab", 2, 0},
        {"a?c", "ac", 0, 1},
        {"\x01?", "?", 0, 0},
        {"\x01?", "x", 0, 1},
        {"\x01*", "*", 1, 0},
        {"\x01*", "ab", 1, 1},
        {"a\\b", "a/b", 2, 0},
        {"a/b", "a\\b", 3, 0},
        {"a\\b", "a/b", 1, 1},
        {"*.dat", "x.dat", 1, 0},
        {"*.dat", "x.DAT", 1, 1},
        {"*x*y*", "aaxbbycc", 0, 0},
        {"*x*y*", "aaybbxcc", 0, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " ~ " + c.text);
        EXPECT_EQ(match(c.pattern, c.text, c.flags), c.want);
    }
}

TEST(MatchTest, CostStaysPolynomial) {
    // Many stars against a long text that almost matches: an exponential
    // retry would not end in any reasonable time.
    std::string pattern;
    for (int i = 0; i < 40; i++) pattern += "a*";
    pattern += "b";
    std::string text(4000, 'a');
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(match(pattern, text, 1), 1);
    EXPECT_EQ(match(pattern, text + "b", 1), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
}

TEST(MatchTest, FileAndUserPatterns) {
    struct Case {
        const char *pattern;
        const char *name;
        int want;
    };
    const Case files[] = {
        {"^*.dat", "x.dat", 1},
        {"^*.dat", "x.idx", 0},
        {"host!m*", "host!m1", 0},
        {"host!m*", "host", 1},
        {"host!m*", "other!m1", 1},
        {"h*!x", "host!x", 0},
        {"*.DAT", "x.dat", 1},
        {"*/a.dat", "dir/a.dat", 0},
    };
    for (const Case &c : files) {
        SCOPED_TRACE(std::string(c.pattern) + " ~ " + c.name);
        EXPECT_EQ(zvrt_filmtc(c.pattern, c.name), c.want);
    }
    // Flag 2 lets back-slash and slash stand for each other, in the host part.
    EXPECT_EQ(zv::izvrt_filmtc("dir\\*", "dir/a.dat", 2), 0);
    EXPECT_EQ(zv::izvrt_filmtc("dir\\*", "dir/a.dat", 0), 1);
    EXPECT_EQ(zvrt_usrmtc("AD*", "admin"), 0);
    EXPECT_EQ(zvrt_usrmtc("^AD*", "admin"), 1);
    EXPECT_EQ(zvrt_usrmtc("^AD*", "guest"), 0);
}

TEST(MatchTest, WildcardSyntax) {
    EXPECT_EQ(zvchkWC(nullptr), 0);
    EXPECT_EQ(zvchkWC("plain.dat"), 0);
    EXPECT_EQ(zvchkWC("^plain"), 1);
    EXPECT_EQ(zvchkWC("a*"), 1);
    EXPECT_EQ(zvchkWC("a?"), 1);
    EXPECT_EQ(zvchkWC("a\x01"), 1);
}

TEST_F(DirWalkTest, SearchFilterClassifiesEntries) {
    mkdirs({"d", "d/sub"});
    const char *files[] = {"d/a.dat", "d/b.idx", "d/ZVSTATUS.QVS", "d/L0000001.QVT", "d/SYSLOG01.QVS",
                           "d/FREOPEN10.QVS", "d/DATAS", "d/S0000001.QVA"};
    for (const char *f : files) write_file(f, "x");
    zv::FindRec r{};
    r.operation = 2;
    r.options = 1;
    r.exclude = "L0000001";
    snprintf(r.directory, sizeof r.directory, "d");
    snprintf(r.prefix, sizeof r.prefix, "d/");
    snprintf(r.pattern, sizeof r.pattern, "d/*.dat");
    std::map<std::string, int> seen;
    for (int i = 0; i < 20; i++) {
        int rc = zv::zv_findfile(&r);
        r.operation = 3;
        if (rc == 0) break;
        std::string name = r.current;
        if (rc == zv::kFindDot) continue;
        seen[name.substr(name.rfind('/') + 1)] = rc;
    }
    r.operation = 4;
    zv::zv_findfile(&r);
    EXPECT_EQ(r.syserr, 0);
    EXPECT_EQ(seen["a.dat"], 1);
    EXPECT_EQ(seen["b.idx"], zv::kFindNoMatch);
    // An eight-character name of the engine's form is only skipped when it is
    // one of the exclusion names.
    EXPECT_EQ(seen["ZVSTATUS.QVS"], zv::kFindNoMatch);
    EXPECT_EQ(seen["L0000001.QVT"], zv::kFindSystem);   // the exclusion name
    EXPECT_EQ(seen["S0000001.QVA"], zv::kFindNoMatch);  // looks like one, not excluded
    EXPECT_EQ(seen["SYSLOG01.QVS"], zv::kFindNoMatch);
    EXPECT_EQ(seen["FREOPEN10.QVS"], zv::kFindSystem);
    EXPECT_EQ(seen["DATAS"], zv::kFindSystem);
    EXPECT_EQ(seen["sub"], zv::kFindNoMatch);  // a directory that does not match
    EXPECT_EQ(seen.size(), 9u);

    // With mode 2 a directory counts as a match (-5); option 4 keeps only
    // "*.QVS" names, directories too.
    for (uint32_t options : {0u, 4u}) {
    SCOPED_TRACE(options);
    zv::FindRec q{};
    q.operation = 2;
    q.mode = 2;
    q.options = options;
    snprintf(q.directory, sizeof q.directory, "d");
    snprintf(q.prefix, sizeof q.prefix, "d/");
    snprintf(q.pattern, sizeof q.pattern, "d/*");
    std::map<std::string, int> got;
    for (int rc; (rc = zv::zv_findfile(&q)) != 0; q.operation = 3) {
        if (rc == zv::kFindDot) continue;
        std::string name = q.current;
        got[name.substr(name.rfind('/') + 1)] = rc;
    }
    q.operation = 4;
    zv::zv_findfile(&q);
    EXPECT_EQ(got["sub"], options ? -4 : zv::kFindDir);
    EXPECT_EQ(got["a.dat"], options ? -4 : 1);
    EXPECT_EQ(got["SYSLOG01.QVS"], 1);
    }
}

TEST_F(DirWalkTest, CleandirEmptiesFilesAndEmptySubdirectories) {
    mkdirs({"top", "top/empty"});
    write_file("top/a.dat", "a");
    write_file("top/ZVSTATUS.QVS", "log");
    char text[256] = "unchanged";
    EXPECT_EQ(cleandir("top", text, sizeof text), 0);
    EXPECT_TRUE(exists("top"));
    EXPECT_FALSE(exists("top/a.dat"));
    EXPECT_FALSE(exists("top/ZVSTATUS.QVS"));
    EXPECT_FALSE(exists("top/empty"));
    EXPECT_STREQ(text, "unchanged");
}

TEST_F(DirWalkTest, CleandirStopsAtANonEmptySubdirectory) {
    mkdirs({"top", "top/full"});
    write_file("top/full/keep.dat", "k");
    char text[256] = "";
    EXPECT_EQ(cleandir("top", text, sizeof text), ENOTEMPTY);
    EXPECT_EQ(std::string(text), "cleandir - Not able to delete directory (top/full) - " + std::to_string(ENOTEMPTY));
    EXPECT_TRUE(exists("top/full/keep.dat"));
    // A buffer of size 0 gets nothing written.
    char none[4] = "abc";
    EXPECT_EQ(cleandir("top", none, 0), ENOTEMPTY);
    EXPECT_STREQ(none, "abc");
}

TEST_F(DirWalkTest, CleandirRemovesLinksNotTheirTargets) {
    mkdirs({"top", "outside"});
    write_file("outside/target.dat", "t");
    ASSERT_EQ(symlink("../outside", "top/dirlink"), 0);
    ASSERT_EQ(symlink("../outside/target.dat", "top/filelink"), 0);
    EXPECT_EQ(cleandir("top", nullptr, 0), 0);
    EXPECT_FALSE(exists("top/dirlink"));
    EXPECT_FALSE(exists("top/filelink"));
    EXPECT_EQ(read_file("outside/target.dat"), "t");
}

TEST_F(DirWalkTest, CleandirNeverActsOnACutName) {
    std::string dir(200, 'd');
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    std::string longname = dir + "/" + std::string(60, 'f');
    write_file(longname, "x");
    EXPECT_EQ(cleandir(dir.c_str(), nullptr, 0), ENAMETOOLONG);
    EXPECT_TRUE(exists(longname));
    // A name of exactly 254 characters is still acted on.
    ASSERT_EQ(unlink(longname.c_str()), 0);
    std::string fits = dir + "/" + std::string(53, 'f');
    ASSERT_EQ(fits.size(), 254u);
    write_file(fits, "y");
    EXPECT_EQ(cleandir(dir.c_str(), nullptr, 0), 0);
    EXPECT_FALSE(exists(fits));
}

TEST_F(DirWalkTest, CleandirrecursLeavesTheTopAndEverythingOutside) {
    mkdirs({"top", "top/a", "top/a/b", "top/a/b/c", "top/x", "outside"});
    write_file("top/f1", "1");
    write_file("top/a/f2", "2");
    write_file("top/a/b/f3", "3");
    write_file("top/a/b/c/f4", "4");
    write_file("outside/keep", "k");
    ASSERT_EQ(symlink("../../../outside", "top/a/b/out"), 0);
    EXPECT_EQ(cleandirrecurs("top", nullptr, nullptr), 0);
    EXPECT_TRUE(exists("top"));
    EXPECT_FALSE(exists("top/a"));
    EXPECT_FALSE(exists("top/x"));
    EXPECT_FALSE(exists("top/f1"));
    EXPECT_EQ(read_file("outside/keep"), "k");
}

// A subdirectory that becomes a link to a directory outside between the
// walk's look at it and its entry (here: when the walk reports it, option
// 2) is passed over as a link: neither walked nor cleaned.
int swap_for_link(const char *dir, ZVDIRTRAV *rec) {
    if (rec->operation == 5 && std::string(dir) == "top/a") {
        if (rename("top/a", "moved") != 0 || symlink("../outside", "top/a") != 0) return 9;
        return 0;
    }
    return zvDelRecDirCBK(dir, rec);
}

TEST_F(DirWalkTest, ADirectoryReplacedByALinkDuringTheWalkIsNotEntered) {
    mkdirs({"top", "top/a", "outside"});
    write_file("top/a/f", "1");
    write_file("outside/keep", "k");
    EXPECT_EQ(zvFSdirtraverse("top", 2, swap_for_link, nullptr, nullptr), 0);
    EXPECT_EQ(read_file("outside/keep"), "k");
    EXPECT_FALSE(exists("top/a"));  // the link, removed by the cleanup of top
    EXPECT_EQ(read_file("moved/f"), "1");
}

TEST_F(DirWalkTest, CleandirrecursReportsAFailure) {
    mkdirs({"top", "top/a", "top/a/locked"});
    write_file("top/a/locked/f", "x");
    // The failure is injected: the first rmdir refuses.
    zv::fault_set(zv::IoKind::Rmdir, 1, EBUSY);
    int rc = cleandirrecurs("top", nullptr, nullptr);
    EXPECT_EQ(rc, EBUSY);
    EXPECT_EQ(zvGetUserErrorCode(), EBUSY);
    EXPECT_EQ(zvGetSystemErrorCode(), EBUSY);
    bool logged = false;
    for (const std::string &m : log_messages())
        logged |= m.find("zvFSdirtraverse: Failed to traverse directory top") == 0;
    EXPECT_TRUE(logged);
}

// Records every call of a traversal.
struct Trace {
    std::vector<std::string> calls;
    std::string fail_at;  // "op:dir" that answers 7
};

int trace_cb(const char *dir, ZVDIRTRAV *rec) {
    auto *t = static_cast<Trace *>(rec->value1);
    std::string call = std::to_string(rec->operation) + ":" + dir;
    t->calls.push_back(call);
    return call == t->fail_at ? 7 : 0;
}

TEST_F(DirWalkTest, TraversalOrderAndOptions) {
    mkdirs({"t", "t/a", "t/a/b"});
    write_file("t/file", "f");
    Trace tr;
    EXPECT_EQ(zvFSdirtraverse("t", 2, trace_cb, &tr, nullptr), 0);
    std::vector<std::string> want = {"1:t", "3:t", "5:t/a", "3:t/a", "5:t/a/b", "3:t/a/b", "4:t/a/b", "4:t/a", "4:t", "2:t"};
    EXPECT_EQ(tr.calls, want);

    // Option 1: the first error ends the walk, after leaving the directory.
    Trace stop;
    stop.fail_at = "3:t/a";
    EXPECT_EQ(zvFSdirtraverse("t", 1, trace_cb, &stop, nullptr), 7);
    std::vector<std::string> want1 = {"1:t", "3:t", "3:t/a", "4:t/a", "4:t", "2:t"};
    EXPECT_EQ(stop.calls, want1);

    // Without option 1 the walk goes on and still reports the error.
    Trace go;
    go.fail_at = "3:t/a";
    EXPECT_EQ(zvFSdirtraverse("t", 0, trace_cb, &go, nullptr), 7);
    EXPECT_EQ(go.calls.size(), 8u);
    EXPECT_EQ(zvFSdirtraverse(nullptr, 0, trace_cb, &go, nullptr), 540);
}

// An error at the beginning (operation 1) ends the traversal only under
// option 1; otherwise the tree is walked and the error reported at the end.
TEST_F(DirWalkTest, AnErrorAtTheBeginningEndsTheWalkOnlyWithOption1) {
    mkdirs({"t", "t/a", "t/a/b"});
    struct Case {
        int options;
        std::vector<std::string> calls;
    } cases[] = {
        {1, {"1:t", "2:t"}},
        {0, {"1:t", "3:t", "3:t/a", "3:t/a/b", "4:t/a/b", "4:t/a", "4:t", "2:t"}},
        {2, {"1:t", "3:t", "5:t/a", "3:t/a", "5:t/a/b", "3:t/a/b", "4:t/a/b", "4:t/a", "4:t", "2:t"}},
    };
    for (const Case &c : cases) {
        Trace tr;
        tr.fail_at = "1:t";
        EXPECT_EQ(zvFSdirtraverse("t", c.options, trace_cb, &tr, nullptr), 7) << c.options;
        EXPECT_EQ(tr.calls, c.calls) << c.options;
        EXPECT_EQ(zvGetUserErrorCode(), 7) << c.options;
    }
    // A later error does not replace the first one.
    Trace both;
    both.fail_at = "1:t";
    int calls = 0;
    auto cb = [](const char *dir, ZVDIRTRAV *rec) -> int {
        int rc = trace_cb(dir, rec);
        (*static_cast<int *>(rec->value2))++;
        return rc ? rc : (rec->operation == 4 ? 9 : 0);
    };
    EXPECT_EQ(zvFSdirtraverse("t", 0, cb, &both, &calls), 7);
    EXPECT_EQ(calls, 8);
}

}  // namespace
