// File numbers, the table's growth, file ids, temporary names, byte order
// and the small file services.
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include <atomic>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/fileio.h"
#include "engine/core/filenum.h"
#include "engine/core/fileops.h"
#include "engine/core/pools.h"
#include "tests/engine/core/platfix.h"
#include "tests/support/child.h"
#include "zarvo/zarvo.h"

namespace {

using zv::IoKind;
using zvtest::write_file;

class FileNumTest : public zvtest::PlatTest {
protected:
    bool exists(const std::string &name) {
        zv::PlatStat st;
        return zv::plat_stat(name.c_str(), &st) == 0;
    }
};

TEST_F(FileNumTest, TstfilnumAnswers) {
    EXPECT_EQ(TSTFILNUM(0), 47);
    EXPECT_EQ(g->uerr_cod, 47);
    make_table(7);  // 8 slots
    EXPECT_EQ(TSTFILNUM(0), 0);
    EXPECT_EQ(TSTFILNUM(7), 0);
    EXPECT_EQ(TSTFILNUM(8), 22);
    EXPECT_EQ(TSTFILNUM(-1), 22);
    take({3});
    EXPECT_EQ(TSTFILNUM(3), 46);
    EXPECT_EQ(g->uerr_cod, 46);
    g->fcbtab[3]->state = 'n';
    EXPECT_EQ(TSTFILNUM(3), 0);
}

TEST_F(FileNumTest, AvlfilnumFindsTheFirstRun) {
    EXPECT_EQ(AVLFILNUM(1), -1);
    EXPECT_EQ(g->uerr_cod, 47);
    make_table(7);
    take({0, 1, 2, 3, 4});
    EXPECT_EQ(AVLFILNUM(3), 5);
    EXPECT_EQ(AVLFILNUM(1), 5);
    EXPECT_EQ(AVLFILNUM(4), -1);
    EXPECT_EQ(AVLFILNUM(0), -1);
    EXPECT_EQ(g->uerr_cod, 22);
    take({6});
    EXPECT_EQ(AVLFILNUM(2), -1);
    EXPECT_EQ(AVLFILNUM(1), 5);
}

TEST_F(FileNumTest, FilrngnamRuns) {
    EXPECT_EQ(filrngnam(0, 0, 0), -47);
    make_table(15);  // 16 slots
    take({0, 1, 3, 10});
    EXPECT_EQ(filrngnam(10, 0, 0), -46);
    EXPECT_EQ(g->isamerr_cod, 46);
    EXPECT_EQ(g->isamfil_num, 10);
    EXPECT_EQ(filrngnam(-1, 0, 0), 2);
    EXPECT_EQ(filrngnam(-1, 1, 0), 4);
    EXPECT_EQ(filrngnam(-1, 1, 0x200), 4);
    EXPECT_EQ(filrngnam(4, 5, 0), 4);
    EXPECT_EQ(filrngnam(4, 6, 0), -46);
    EXPECT_EQ(filrngnam(-1, -1, 0), -46);
    EXPECT_EQ(filrng(11, 3, 0), 11);
    EXPECT_EQ(zv::fcb_table_size(g), 16);
}

TEST_F(FileNumTest, FilrngnamGrowsTheTable) {
    make_table(7);
    take({1, 6});
    // Exactly at a start whose run passes the end: the table grows to the
    // run's end plus 128 slots, keeping its blocks.
    FCB *six = g->fcbtab[6];
    EXPECT_EQ(filrngnam(7, 4, 0), 7);
    EXPECT_EQ(zv::fcb_table_size(g), 12 + 128);
    EXPECT_EQ(g->filecount, 12 + 127);
    EXPECT_EQ(g->fcbtab[6], six);
    EXPECT_EQ(TSTFILNUM(6), 46);
    EXPECT_EQ(TSTFILNUM(139), 0);
    // Lowest run: grows once when none fits.
    for (int i = 0; i < zv::fcb_table_size(g); i++) take({i});
    g->fcbtab[138]->state = 'n';
    g->fcbtab[139]->state = 'n';
    EXPECT_EQ(filrngnam(-1, 2, 0), 138);
    EXPECT_EQ(zv::fcb_table_size(g), 140 + 128);
    // A run that would pass 65536 slots cannot be had.
    EXPECT_EQ(filrngnam(65530, 10, 0), -46);
}

TEST_F(FileNumTest, RedofilsKeepsTheOldTableWhenItFails) {
    EXPECT_EQ(zv::redofils(10), 0);  // not started
    make_table(7);
    FCB **old = g->fcbtab;
    EXPECT_EQ(zv::redofils(65536), 0);
    zv::fail_alloc_at(1);
    EXPECT_EQ(zv::redofils(2000), 0);  // a table too large for the small lists
    EXPECT_EQ(g->fcbtab, old);
    EXPECT_EQ(g->filecount, 7);
    EXPECT_EQ(zv::redofils(4), 1);
    EXPECT_EQ(zv::fcb_table_size(g), 132);
    EXPECT_EQ(zv::redofils(65535), 1);
    EXPECT_EQ(zv::fcb_table_size(g), 65536);
    EXPECT_EQ(TSTFILNUM(65535), 0);
    old = g->fcbtab;
    EXPECT_EQ(zv::redofils(100), 1);  // large enough already
    EXPECT_EQ(g->fcbtab, old);
}

TEST_F(FileNumTest, ReverseRange) {
    make_table(9);
    take({8, 7, 5});
    EXPECT_EQ(zv::zvrvrng(10), 3);
    EXPECT_EQ(zv::zvrvrng(100), 3);
    take({3});
    EXPECT_EQ(zv::zvrvrng(10), 1);
    take({1});
    EXPECT_EQ(zv::zvrvrng(10), -1);
}

TEST_F(FileNumTest, FilexistsTriesAnExclusiveCreate) {
    EXPECT_EQ(zv::zvfilexists("free.tmp"), 0);
    EXPECT_FALSE(exists("free.tmp"));
    EXPECT_EQ(g->openvcount, 0);
    write_file("taken.tmp", "x");
    EXPECT_EQ(zv::zvfilexists("taken.tmp"), -1);
    EXPECT_EQ(zv::zvfilexists("nodir/x.tmp"), -2);
    EXPECT_EQ(zv::zvfilexists("host.dat!member"), -2);
    zv::fault_set(IoKind::Open, 1, EMFILE);
    EXPECT_EQ(zv::zvfilexists("free.tmp"), -3);
    EXPECT_EQ(zv::zvfilexists(std::string(300, 'x').c_str()), 139);
    EXPECT_EQ(zv::zvfilexists(nullptr), 540);
}

// The probe file of a name is never left behind with the name handed out:
// a delete that fails once is tried again; one that keeps failing ends the
// search with 55 instead of answering with a name that exists.
TEST_F(FileNumTest, FilexistsLeavesNoProbeBehind) {
    struct Case {
        const char *what;
        bool sticky;
        int want;
        bool left;
    } cases[] = {{"one failing delete", false, 0, false}, {"every delete failing", true, 55, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        zv::fault_reset();
        zv::fault_set(IoKind::Unlink, 1, EIO, c.sticky);
        EXPECT_EQ(zv::zvfilexists("probe.tmp"), c.want);
        zv::fault_reset();
        EXPECT_EQ(exists("probe.tmp"), c.left);
        zv::plat_unlink("probe.tmp");
    }
    // A name made by the system: its file is deleted too, or no name is given.
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("system name, ") + c.what);
        zv::fault_reset();
        zv::fault_set(IoKind::Unlink, 1, EIO, c.sticky);
        char out[256] = "";
        const int rc = TMPNAME(out, sizeof out);
        zv::fault_reset();
        EXPECT_EQ(rc, c.sticky ? 155 : 0);
        if (rc == 0) {
            EXPECT_FALSE(exists(out)) << out;
        }
    }
    ASSERT_EQ(zvSetZvTempDirName(dir().c_str()), 0);
    zv::fault_set(IoKind::Unlink, 1, EIO, true);
    char a[256];
    EXPECT_EQ(TMPNAME(a, sizeof a), 55);
    zv::fault_reset();
}

TEST_F(FileNumTest, TemporaryNameInADirectory) {
    ASSERT_EQ(zvSetZvTempDirName(dir().c_str()), 0);
    std::regex form(std::regex_replace(dir(), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                    "/Z[0-9A-F]{7}");
    char a[256], b[256];
    ASSERT_EQ(TMPNAME(a, sizeof a), 0);
    ASSERT_EQ(TMPNAME(b, sizeof b), 0);
    EXPECT_TRUE(std::regex_match(a, form)) << a;
    EXPECT_TRUE(std::regex_match(b, form)) << b;
    EXPECT_STRNE(a, b);
    EXPECT_FALSE(exists(a));
    EXPECT_EQ(g->uerr_cod, 0);
    char c[256];
    ASSERT_EQ(zv::iTMPNAMEext(c, sizeof c, ".QVZ"), 0);
    EXPECT_TRUE(std::regex_match(c, std::regex(".*/Z[0-9A-F]{7}\\.QVZ"))) << c;
    // Room for the directory and seven digits but not the extension.
    size_t need = dir().size() + 1 + 8 + 4;
    EXPECT_EQ(zv::iTMPNAMEext(c, static_cast<int>(need), ".QVZ"), 153);
    EXPECT_EQ(zv::iTMPNAMEext(c, static_cast<int>(need + 1), ".QVZ"), 0);
}

TEST_F(FileNumTest, TemporaryNameInTheCallersDirectory) {
    ASSERT_EQ(zv::plat_mkdir("sub", 0755), 0);
    g->userprof = 0x80;
    char out[256] = "sub/";
    ASSERT_EQ(TMPNAME(out, sizeof out), 0);
    EXPECT_TRUE(std::regex_match(out, std::regex("sub/Z[0-9A-F]{7}"))) << out;
}

TEST_F(FileNumTest, TemporaryNameWithoutADirectory) {
    char out[256] = "ignored/";
    ASSERT_EQ(TMPNAME(out, sizeof out), 0);
    EXPECT_TRUE(std::regex_match(out, std::regex("zarvo\\.tmp\\.XX[A-Za-z0-9]{6}"))) << out;
    EXPECT_FALSE(exists(out));
    EXPECT_EQ(TMPNAME(out, 18), 153);
    zv::fault_set(IoKind::Mkstemp, 1, EACCES);
    EXPECT_EQ(TMPNAME(out, sizeof out), 155);
    EXPECT_EQ(g->sysiocod, EACCES);
}

TEST_F(FileNumTest, TemporaryNameGivesUpAfterRepeatedFailures) {
    ASSERT_EQ(zvSetZvTempDirName("missing/dir"), 0);
    char out[256];
    EXPECT_EQ(TMPNAME(out, sizeof out), 17);
    EXPECT_EQ(zv::io_calls(IoKind::Open), 5);
    ASSERT_EQ(zvSetZvTempDirName(dir().c_str()), 0);
    zv::fault_reset();
    zv::fault_set(IoKind::Open, 1, EMFILE, true);
    EXPECT_EQ(TMPNAME(out, sizeof out), 766);
    EXPECT_EQ(zv::io_calls(IoKind::Open), 5);
}

TEST_F(FileNumTest, ExtendSize) {
    struct Case {
        uint32_t requested, nodesize, expected;
    } cases[] = {
        {0, 1024, 16384},      {0, 2048, 16384},      {0, 4096, 32768},  {0, 32768, 32768},
        {0, 65536, 65536},     {100000, 1024, 100000}, {16384, 1024, 16384}, {16383, 1024, 16384},
        {40000, 65536, 65536},
    };
    for (const Case &c : cases)
        EXPECT_EQ(zv::zvsetextsiz(nullptr, c.requested, c.nodesize), c.expected)
            << c.requested << " " << c.nodesize;
    auto f = make_fcb();
    f->hdr.ext.flmode2 = 0x20000;
    EXPECT_EQ(zv::zvsetextsiz(f.get(), 100000, 1024), 0u);
}

TEST_F(FileNumTest, LoadPath) {
    struct Case {
        const char *path, *dir;
    } cases[] = {
        {"dir/sub/file.dat", "dir/sub/"}, {"file.dat", ""},        {"host!member", "host!"},
        {"C:file", "C:"},                 {"a\\b\\c", "a\\b\\"},   {"/x", "/"},
    };
    for (const Case &c : cases) {
        char out[64] = "garbage";
        EXPECT_EQ(zv::zvloadpath(c.path, out), static_cast<int>(strlen(c.dir))) << c.path;
        EXPECT_STREQ(out, c.dir);
    }
    EXPECT_EQ(zv::zvloadpath("a/b", nullptr), 2);
}

TEST_F(FileNumTest, ByteOrder) {
    unsigned char b[4] = {1, 2, 3, 4};
    zv::revlng(b, 1);
    EXPECT_EQ(memcmp(b, "\x04\x03\x02\x01", 4), 0);
    unsigned char w[4] = {1, 2, 3, 4};
    zv::revwrd(w, 1);
    EXPECT_EQ(memcmp(w, "\x03\x04\x01\x02", 4), 0);
    unsigned char s[4] = {1, 2, 3, 4};
    zv::revbyt(s, 2);
    EXPECT_EQ(memcmp(s, "\x02\x01\x04\x03", 4), 0);
    unsigned char o[5] = {1, 2, 3, 4, 5};
    zv::revobj(o, 5);
    EXPECT_EQ(memcmp(o, "\x05\x04\x03\x02\x01", 5), 0);
    unsigned char two[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    zv::revlng(two, 2);
    EXPECT_EQ(memcmp(two, "\x04\x03\x02\x01\x08\x07\x06\x05", 8), 0);
}

TEST_F(FileNumTest, UnalignedSignExtension) {
    unsigned char raw[9] = {0, 0xFF, 0x00, 0x80, 0xFE, 0xFF, 0xFF, 0xFF, 0x7F};
    struct Case {
        int offset, width;
        int64_t expected;
    } cases[] = {
        {1, 1, -1}, {2, 2, -32768}, {4, 4, -2}, {5, 2, -1}, {8, 1, 127},
    };
    for (const Case &c : cases) {
        int64_t v = 99;
        zv::assignUnalignedToInt8(&v, raw + c.offset, c.width);
        EXPECT_EQ(v, c.expected) << c.offset << " " << c.width;
    }
    int64_t v = 99;
    zv::assignUnalignedToInt8(&v, raw + 1, 8);
    EXPECT_EQ(static_cast<uint64_t>(v), 0x7FFFFFFFFE8000FFull);
    v = 99;
    zv::assignUnalignedToInt8(&v, raw, 3);
    EXPECT_EQ(v, 99);
}

TEST_F(FileNumTest, RecordHeaderSizes) {
    struct Case {
        uint16_t sfiltyp, flmode, hdrflags;
        uint32_t first, second;
    } cases[] = {
        {0, 0, 0, 0, 22},   {0, 0x04, 0, 10, 22}, {0, 0x04, kHdr8ByteOffsets, 10, 30},
        {1, 0, 0, 18, 22},  {2, 0x04, 0, 18, 22}, {2, 0, kHdr8ByteOffsets, 22, 30},
    };
    for (const Case &c : cases) {
        auto f = make_fcb();
        f->hdr.base.sfiltyp = c.sfiltyp;
        f->hdr.base.flmode = c.flmode;
        f->hdr.base.hdrflags = c.hdrflags;
        EXPECT_EQ(zv::zvhdradj(f.get()), c.first);
        EXPECT_EQ(f->rhdrsize1, c.first);
        EXPECT_EQ(f->rhdrsize2, c.second);
    }
}

TEST_F(FileNumTest, UniqueFileIds) {
    uint32_t first = zv::srvfileid(0);
    EXPECT_EQ(zv::srvfileid(0), first);
    EXPECT_EQ(zv::srvfileid(1), first);
    EXPECT_EQ(zv::srvfileid(0), first + 1);
    auto f = make_fcb();
    zv::zvsetlog(&f->hdr.base);
    EXPECT_EQ(f->hdr.base.fileid, first + 1);
    EXPECT_NE(f->hdr.base.cretime, 0u);
    // The server id is the process's own: the same for each file it makes,
    // never 0 (older files' server id) and positive as a 32-bit value.
    const uint32_t servid = f->hdr.base.servid;
    EXPECT_GE(servid, 1u);
    EXPECT_LE(servid, 0x7FFFFFFFu);
    FILEHDR next{};
    zv::zvsetlog(&next);
    EXPECT_EQ(next.servid, servid);
    EXPECT_EQ(next.fileid, first + 2);
    uint32_t id[3];
    zv::zvmakid(id, f.get());
    EXPECT_EQ(zv::zvfmatch(f.get(), id), 1);
    for (int word = 0; word < 3; word++) {
        uint32_t other[3] = {id[0], id[1], id[2]};
        other[word]++;
        EXPECT_EQ(zv::zvfmatch(f.get(), other), 0) << word;
    }
    EXPECT_EQ(zv::zvfmatch(nullptr, id), 0);
}

// The counter wraps within the positive 32-bit values, skipping 0: no file
// id reads as -1 (GETFIL's failure) or negative, wherever a process's
// counter started.
TEST_F(FileNumTest, FileIdsWrapWithinThePositiveValues) {
    zv::file_id_source_set(77, 0x7FFFFFFEu);
    const uint32_t want[] = {0x7FFFFFFEu, 0x7FFFFFFFu, 1u, 2u};
    for (uint32_t w : want) {
        FILEHDR h{};
        zv::zvsetlog(&h);
        EXPECT_EQ(h.fileid, w);
        EXPECT_EQ(h.servid, 77u);
    }
    // Values out of range are taken into it.
    zv::file_id_source_set(0xFFFFFFFFu, 0x80000000u);
    FILEHDR h{};
    zv::zvsetlog(&h);
    EXPECT_EQ(h.fileid, 1u);
    EXPECT_EQ(h.servid, 0x7FFFFFFFu);
    // Forgotten, the source seeds afresh at the next draw.
    zv::file_id_source_set(0, 0);
    zv::zvsetlog(&h);
    EXPECT_GE(h.servid, 1u);
    EXPECT_LE(h.servid, 0x7FFFFFFFu);
    EXPECT_GE(h.fileid, 1u);
    EXPECT_LE(h.fileid, 0x7FFFFFFFu);
}

// Files made by two processes never share an id, however many files each
// makes: each child here (forked one after the other, their pids usually
// neighbours) stamps 20,000 headers, and no (file id, server id) pair of one
// is the other's or the parent's, which had drawn before the forks.
TEST_F(FileNumTest, FileIdsDifferBetweenProcesses) {
    constexpr int kStamps = 20000;
    FILEHDR parent{};
    zv::zvsetlog(&parent);
    auto stamp_all = [](const char *out) {
        return [out] {
            std::string ids(kStamps * 8, '\0');
            zvtest::ChildResult r;
            r.rc = 0;
            for (int i = 0; i < kStamps; i++) {
                FILEHDR h{};
                zv::zvsetlog(&h);
                if (h.fileid == 0 || h.fileid > 0x7FFFFFFFu || h.servid == 0 || h.servid > 0x7FFFFFFFu) r.rc = 1;
                memcpy(&ids[size_t(i) * 8], &h.fileid, 4);
                memcpy(&ids[size_t(i) * 8 + 4], &h.servid, 4);
            }
            r.extra = int(getpid());
            write_file(out, ids);
            return r;
        };
    };
    const zvtest::ChildResult a = zvtest::run_in_child(stamp_all("ids.a"));
    const zvtest::ChildResult b = zvtest::run_in_child(stamp_all("ids.b"));
    ASSERT_TRUE(a.ok && b.ok);
    EXPECT_EQ(a.rc, 0);
    EXPECT_EQ(b.rc, 0);
    std::set<uint64_t> seen;
    auto pairs = [](const std::string &bytes) {
        std::vector<uint64_t> out(bytes.size() / 8);
        memcpy(out.data(), bytes.data(), out.size() * 8);
        return out;
    };
    const std::vector<uint64_t> ida = pairs(zvtest::read_file("ids.a")), idb = pairs(zvtest::read_file("ids.b"));
    ASSERT_EQ(ida.size(), size_t(kStamps));
    ASSERT_EQ(idb.size(), size_t(kStamps));
    seen.insert(ida.begin(), ida.end());
    size_t shared = 0;
    for (uint64_t v : idb) shared += seen.count(v);
    EXPECT_EQ(shared, 0u) << "pids " << a.extra << " and " << b.extra;
    EXPECT_EQ(seen.size(), size_t(kStamps));
    // Neither child continued the parent's sequence.
    EXPECT_NE(uint32_t(ida[0] >> 32), parent.servid);
    EXPECT_NE(uint32_t(idb[0] >> 32), parent.servid);
    FILEHDR own{};
    zv::zvsetlog(&own);
    EXPECT_EQ(own.fileid, parent.fileid + 1);
    EXPECT_EQ(own.servid, parent.servid);
}

// A forked child whose threads make their first files at once: every id
// drawn comes from the child's own source (a server id of its own, shared
// by all its threads), none from the parent's, and no two are alike.
TEST_F(FileNumTest, ThreadsOfAForkedChildDrawFromItsOwnSource) {
    constexpr int kThreads = 8, kRounds = 10;
    FILEHDR parent{};
    zv::zvsetlog(&parent);
    for (int round = 0; round < kRounds; round++) {
        const zvtest::ChildResult r = zvtest::run_in_child([&parent] {
            std::atomic<int> ready{0};
            std::vector<FILEHDR> got(kThreads);
            std::vector<std::thread> threads;
            for (int t = 0; t < kThreads; t++) {
                threads.emplace_back([&, t] {
                    ready.fetch_add(1);
                    while (ready.load() < kThreads) {
                    }
                    zv::zvsetlog(&got[size_t(t)]);
                });
            }
            for (std::thread &t : threads) t.join();
            zvtest::ChildResult c;
            std::set<uint32_t> ids;
            c.rc = 0;
            for (const FILEHDR &h : got) {
                ids.insert(h.fileid);
                if (h.servid != got[0].servid || h.servid == parent.servid) c.rc = 1;
                // The ids the parent hands out next.
                if (h.fileid > parent.fileid && h.fileid <= parent.fileid + kThreads) c.rc = 2;
            }
            c.extra = int(ids.size());
            return c;
        });
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.rc, 0) << "round " << round;
        EXPECT_EQ(r.extra, kThreads) << "round " << round;
    }
}

TEST_F(FileNumTest, DeleteWithConversion) {
    ASSERT_EQ(zv::plat_mkdir("sub", 0755), 0);
    strcpy(g->cnvprefix, "sub/");
    g->nameconv = 2;  // converted here, though delete itself converts only under 3
    write_file("sub/a", "x");
    write_file("a", "y");
    EXPECT_EQ(zv::dltfilx("a", 0, 0), 0);
    EXPECT_TRUE(exists("sub/a"));
    EXPECT_EQ(zv::cnvdltfil("sub/../a"), 55);
    write_file("a", "y");
    EXPECT_EQ(zv::cnvdltfil("a"), 0);
    EXPECT_FALSE(exists("sub/a"));
    EXPECT_TRUE(exists("a"));
    EXPECT_EQ(SECURITY(1, nullptr, 0, 4), 0);
}

}  // namespace
