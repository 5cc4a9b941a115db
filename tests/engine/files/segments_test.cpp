// Segmented data files: automatic segments, the offset mapping, segment
// headers, strays in the way of a new segment, and definition changes.
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/pools.h"
#include "engine/files/segments.h"
#include "tests/engine/files/files_util.h"

namespace {

using filestest::Bytes;
using filestest::file_bytes;
using filestest::le32;
using filestest::slice;
using zv::IoKind;

constexpr uint32_t kMB = 1048576;

bool exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

Bytes pattern_bytes(size_t n, uint32_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; i++) b[i] = uint8_t((i * 131 + seed) % 253);
    return b;
}

class SegmentsTest : public filestest::FilesTest {
protected:
    // An automatic segmented data file of 1 MB segments, at most `count`.
    FCB *make(int filno, const char *name, uint32_t count) {
        XCREblk x{};
        x.mode = 0x02 | 0x08 | 0x200000;
        x.segsize = 1;
        x.nsegs = count;
        EXPECT_EQ(CREDATX8(filno, name, 128, 0, 0x800, 0, nullptr, nullptr, &x), 0);
        return fcb(filno);
    }
    // A plain data file with an extended header (no segments yet).
    int make_plain(int filno, const char *name) {
        XCREblk x{};
        x.mode = 0x02;
        return CREDATX8(filno, name, 128, 0, 0, 0, nullptr, nullptr, &x);
    }
    int write_at(FCB *f, uint64_t off, const Bytes &b) {
        return izvio81x(0x11, f, uint32_t(off >> 32), uint32_t(off), const_cast<unsigned char *>(b.data()),
                        int32_t(b.size()), nullptr, 0);
    }
    int read_at(FCB *f, uint64_t off, Bytes &b, int32_t *got = nullptr) {
        return izvio81x(0x10, f, uint32_t(off >> 32), uint32_t(off), b.data(), int32_t(b.size()), got, 0);
    }
    std::vector<std::string> log_messages() {
        std::vector<std::string> out;
        auto lines = zvtest::lines_of(zvtest::read_file("ZVSTATUS.QVS"));
        for (size_t i = 1; i < lines.size(); i += 2) {
            auto tab = lines[i].find('\t');
            out.push_back(tab == std::string::npos ? lines[i] : lines[i].substr(tab + 1));
        }
        return out;
    }
    int count_lines(const std::string &what) {
        int n = 0;
        for (const std::string &m : log_messages()) n += m == what;
        return n;
    }
};

TEST_F(SegmentsTest, WritingPastSegmentsMakesThemWithTheirHeaders) {
    FCB *f = make(1, "data", 3);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->hdr.ext.segdefsiz, 1024u);
    const size_t total = 3000000;
    Bytes data = pattern_bytes(total - 4096, 7);
    ASSERT_EQ(write_at(f, 4096, data), 0);
    EXPECT_TRUE(exists("data.001"));
    EXPECT_TRUE(exists("data.002"));
    EXPECT_FALSE(exists("data.003"));
    EXPECT_EQ(f->hdr.ext.segmented, 3u);

    Bytes seg1 = file_bytes("data.001");
    Bytes head = {'Q', 'V', '!', 'S', 'E', 'G', 'M', 0};
    EXPECT_EQ(slice(seg1, 0, 8), head);
    EXPECT_EQ(slice(seg1, 196, 4), (Bytes{0x00, 0x04, 0x00, 0x00}));
    EXPECT_EQ(slice(seg1, 204, 4), (Bytes{0x01, 0x00, 0x00, 0x00}));
    // End limit of segment 1: 2 MB - 1024, high word then low word.
    EXPECT_EQ(le32(seg1, 180), 0u);
    EXPECT_EQ(le32(seg1, 184), 2 * kMB - 1024);
    EXPECT_EQ(le32(seg1, 32), f->hdr.base.fileid);
    // The names follow at +512 (the file has a 384-byte extended header).
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(seg1.data() + 512)), "data.001");
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(seg1.data() + 512 + 9)), "data");
    // Offset 1 MB is offset 1024 of segment 1.
    EXPECT_EQ(slice(seg1, 1024, 16), slice(data, kMB - 4096, 16));
    Bytes seg0 = file_bytes("data");
    EXPECT_EQ(seg0.size(), size_t(kMB));
    Bytes seg2 = file_bytes("data.002");
    EXPECT_EQ(seg2.size(), total - (2 * kMB - 1024) + 1024);

    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "data", 0), 0);
    f = fcb(1);
    Bytes back(data.size());
    ASSERT_EQ(read_at(f, 4096, back), 0);
    EXPECT_EQ(back, data);
    EXPECT_EQ(zv::zvgsize81(nullptr, f), total);
    // A segment shorter than its header area: no logical size.
    ASSERT_EQ(truncate("data.002", 100), 0);
    uint32_t hi = 0;
    EXPECT_EQ(zv::zvgsize81(&hi, f), 0xFFFFFFFFu);
    EXPECT_EQ(hi, 0xFFFFFFFFu);
}

TEST_F(SegmentsTest, AWriteAcrossALimitIsSplit) {
    FCB *f = make(1, "data", 3);
    Bytes fill = pattern_bytes(kMB - 50 - 4096, 1);
    ASSERT_EQ(write_at(f, 4096, fill), 0);
    Bytes b = pattern_bytes(100, 9);
    ASSERT_EQ(write_at(f, kMB - 50, b), 0);
    Bytes seg0 = file_bytes("data"), seg1 = file_bytes("data.001");
    EXPECT_EQ(seg0.size(), size_t(kMB));
    EXPECT_EQ(slice(seg0, kMB - 50, 50), slice(b, 0, 50));
    EXPECT_EQ(seg1.size(), 1024u + 50u);
    EXPECT_EQ(slice(seg1, 1024, 50), slice(b, 50, 50));

    // The mapping itself: the cut and the offset inside the segment.
    uint64_t at = 0;
    uint32_t size = 100;
    int seg = -1, code = 0;
    EXPECT_EQ(zv::zvdecsegmdef(0, f, kMB - 50, &at, &size, &seg, &code), f->fd);
    EXPECT_EQ(size, 50u);
    EXPECT_EQ(at, kMB - 50);
    size = 100;
    EXPECT_GE(zv::zvdecsegmdef(0, f, kMB, &at, &size, &seg, &code), 0);
    EXPECT_EQ(seg, 1);
    EXPECT_EQ(at, 1024u);
    EXPECT_EQ(size, 100u);
}

TEST_F(SegmentsTest, MappingInsideTheSegmentsCostsNoSystemCall) {
    FCB *f = make(1, "data", 3);
    ASSERT_EQ(write_at(f, kMB + 4000, pattern_bytes(200, 3)), 0);
    zv::fault_reset();
    uint64_t allocs = zv::platform_alloc_count();
    Bytes b(100);
    uint32_t got = 0;
    ASSERT_EQ(zv::zvsysio81(0, f, 0, 0, kMB + 4000, b.data(), 100, &got), 0);
    EXPECT_EQ(got, 100u);
    EXPECT_EQ(b, slice(pattern_bytes(200, 3), 0, 100));
    EXPECT_EQ(zv::io_calls(IoKind::Seek), 1);
    EXPECT_EQ(zv::io_calls(IoKind::Read), 1);
    EXPECT_EQ(zv::io_calls(IoKind::Open), 0);
    EXPECT_EQ(zv::io_calls(IoKind::Stat), 0);
    EXPECT_EQ(zv::platform_alloc_count(), allocs);
}

TEST_F(SegmentsTest, AReadPastTheSegmentsIsTheEndOfTheFile) {
    FCB *f = make(1, "data", 3);
    Bytes b(100);
    int32_t got = -1;
    EXPECT_EQ(read_at(f, 2 * kMB, b, &got), 36);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(g()->sysiocod, 0);
    EXPECT_FALSE(exists("data.001"));
    EXPECT_FALSE(exists("data.002"));
    // Beyond every segment that can exist: 674.
    EXPECT_EQ(write_at(f, 3 * kMB, Bytes(10, 1)), 674);
}

TEST_F(SegmentsTest, AMissingSegmentFailsTheOpen) {
    FCB *f = make(1, "data", 3);
    ASSERT_EQ(write_at(f, 2 * kMB, Bytes(10, 1)), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(unlink("data.002"), 0);
    EXPECT_EQ(OPNFIL(1, "data", 0), 676);
    EXPECT_EQ(fcb(1)->state, 'n');
    // A segment whose header belongs elsewhere: 681.
    filestest::put_file("data.002", Bytes(2048, 0xFF));
    EXPECT_EQ(OPNFIL(1, "data", 0), 681);
}

TEST_F(SegmentsTest, AForeignFileInTheWayIsRefusedOnce) {
    FCB *f = make(1, "data", 4);
    ASSERT_EQ(write_at(f, kMB + 10, Bytes(10, 1)), 0);
    filestest::put_file("data.002", Bytes(3000, 0xAB));
    const std::string refusal = "Could not create new segment: unexpected nonmatching segment...: 683";
    EXPECT_EQ(write_at(f, 2 * kMB, Bytes(10, 2)), 683);
    EXPECT_EQ(write_at(f, 2 * kMB, Bytes(10, 2)), 683);
    EXPECT_EQ(count_lines(refusal), 1);
    EXPECT_EQ(file_bytes("data.002"), Bytes(3000, 0xAB));
    ASSERT_EQ(CLSFIL(1, 0), 0);
    // A new open logs it again; with the delete policy the stray goes.
    ASSERT_EQ(OPNFIL(1, "data", 0), 0);
    EXPECT_EQ(write_at(fcb(1), 2 * kMB, Bytes(10, 2)), 683);
    EXPECT_EQ(count_lines(refusal), 2);
    g()->segpolicy[1] = 3;
    EXPECT_EQ(write_at(fcb(1), 2 * kMB, Bytes(10, 2)), 0);
    EXPECT_EQ(count_lines("Deleted unexpected, nonmatching segment...: 683"), 1);
    EXPECT_EQ(file_bytes("data.002").size(), 2048u + 10u);  // 2 MB is 1024 past limit(1)
    // The rename policy moves a stray aside.
    filestest::put_file("data.003", Bytes(5, 1));
    g()->segpolicy[1] = 1;
    EXPECT_EQ(write_at(fcb(1), 3 * kMB, Bytes(10, 2)), 0);
    EXPECT_EQ(count_lines("Renamed unexpected, nonmatching segment...: 683"), 1);
}

// Runs fn in a forked copy of this process (the same instance and files),
// which an alarm ends when it takes longer than 10 s: fn's answer (0 to
// 255), or -1 when it hung.
int bounded(const std::function<int()> &fn) {
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(10);
        _exit(fn());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What stands in the way of a new segment is looked at without following
// a link or waiting on a FIFO: a FIFO or a link to a file elsewhere is no
// segment of the file, refused (683) at once and left as it is.
TEST_F(SegmentsTest, ALinkOrAFifoInTheWayIsRefusedWithoutWaiting) {
    FCB *f = make(1, "data", 4);
    ASSERT_EQ(write_at(f, kMB + 10, Bytes(10, 1)), 0);
    ASSERT_EQ(mkdir("out", 0755), 0);
    filestest::put_file("out/target", Bytes(3000, 0xCD));
    for (const char *plant : {"fifo", "link"}) {
        SCOPED_TRACE(plant);
        unlink("data.002");
        if (plant[0] == 'f') {
            ASSERT_EQ(mkfifo("data.002", 0644), 0);
        } else {
            ASSERT_EQ(symlink("out/target", "data.002"), 0);
        }
        EXPECT_EQ(bounded([&] { return write_at(f, 2 * kMB, Bytes(10, 2)) == 683 ? 0 : 1; }), 0);
        struct stat st;
        ASSERT_EQ(lstat("data.002", &st), 0);
        EXPECT_TRUE(plant[0] == 'f' ? S_ISFIFO(st.st_mode) : S_ISLNK(st.st_mode));
        EXPECT_EQ(file_bytes("out/target"), Bytes(3000, 0xCD));
    }
}

TEST_F(SegmentsTest, DefinitionChangesOfAnAutomaticFile) {
    FCB *f = make(1, "data", 3);
    ASSERT_EQ(write_at(f, kMB + 10, Bytes(10, 1)), 0);
    ZVSEGENTRY e[2] = {{"", 1}, {"x", 1}};
    // Fewer segments than present, a new size with two present.
    EXPECT_EQ(zvSETSEG(1, 0, 1, e), 446);
    ZVSEGENTRY shrink[2] = {{"", 1}, {"", 1}};
    EXPECT_EQ(zvSETSEG(1, 0, 2, shrink), 0);  // two: as many as present
    ASSERT_EQ(write_at(f, 2 * kMB - 1024 - 10, Bytes(5, 1)), 0);
    // Three present after data.002 is made through another definition.
    ZVSEGENTRY grow[1] = {{"", 1}};
    EXPECT_EQ(zvSETSEG(1, 0, 4, grow), 0);
    ASSERT_EQ(write_at(f, 2 * kMB, Bytes(5, 1)), 0);
    EXPECT_EQ(f->hdr.ext.segmented, 3u);
    EXPECT_EQ(zvSETSEG(1, 0, 2, grow), 683);
    EXPECT_EQ(log_messages().back(), "SETSEG: cannot reduce segmax below existing usage: 683");
    ZVSEGENTRY bigger[1] = {{"", 2}};
    EXPECT_EQ(zvSETSEG(1, 0, 4, bigger), 683);
    EXPECT_EQ(log_messages().back(), "SETSEG: cannot resize completed segments: 683");
    ZVSEGENTRY named[2] = {{"n1", 1}, {"n2", 0}};
    EXPECT_EQ(zvSETSEG(1, 1, 2, named), 683);
    EXPECT_EQ(log_messages().back(), "SETSEG: cannot change from SEGAUTO to SEGMDEF: 683");
    EXPECT_EQ(f->hdr.ext.nsegs, 4u);
}

// Inside a transaction a file's definitions change under the savepoint of
// their first change only; the transaction's end, by either call, lifts
// the rule.
TEST_F(SegmentsTest, DefinitionChangesKeepToOneSavepointOfATransaction) {
    FCB *f = make(1, "data", 3);
    FCB *other = make(2, "other", 3);
    ZVSEGENTRY one[1] = {{"", 1}};
    const std::string refusal = "SETSEG: cannot call zvSETSEG in different savepoint: 683";
    const struct {
        const char *what;
        std::function<int()> end;
    } ends[] = {{"TRANEND", [] { return TRANEND(0); }}, {"TRANABT", [] { return TRANABT(); }}};
    int32_t count = 3;
    int refusals = 0;
    for (const auto &c : ends) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(TRANBEG(0), 1);
        ASSERT_EQ(zvSETSEG(1, 0, ++count, one), 0);
        EXPECT_EQ(zvSETSEG(1, 0, ++count, one), 0) << "the same savepoint";
        ASSERT_EQ(TRANSAV(), 1);
        const Bytes disk = file_bytes("data");
        EXPECT_EQ(zvSETSEG(1, 0, count + 1, one), 683);
        EXPECT_EQ(count_lines(refusal), ++refusals);
        EXPECT_EQ(f->hdr.ext.nsegs, uint32_t(count));
        EXPECT_EQ(f->nsegalloc, count);
        EXPECT_EQ(file_bytes("data"), disk);
        EXPECT_EQ(zvSETSEG(2, 0, count, one), 0) << "another file keeps its own savepoint";
        EXPECT_EQ(other->hdr.ext.nsegs, uint32_t(count));
        ASSERT_EQ(c.end(), 0);
        // A new transaction under another savepoint number may change it.
        ASSERT_EQ(TRANBEG(0), 1);
        ASSERT_EQ(TRANSAV(), 1);
        ASSERT_EQ(TRANSAV(), 2);
        EXPECT_EQ(zvSETSEG(1, 0, ++count, one), 0);
        EXPECT_EQ(f->hdr.ext.nsegs, uint32_t(count));
        ASSERT_EQ(c.end(), 0);
    }
    EXPECT_EQ(zvSETSEG(1, 0, ++count, one), 0) << "outside a transaction";
    EXPECT_EQ(count_lines(refusal), refusals);
}

TEST_F(SegmentsTest, BuildingDefinitions) {
    ZVSEGDEF *d = nullptr;
    ZVSEGENTRY zero_first[3] = {{"a", 0}, {"b", 1}, {"c", 0}};
    EXPECT_EQ(zvstrsegmdef(1, 3, zero_first, &d), 679);
    ZVSEGENTRY empty_later[2] = {{"a", 1}, {"", 1}};
    EXPECT_EQ(zvstrsegmdef(1, 2, empty_later, &d), 678);
    EXPECT_EQ(zvstrsegmdef(0, 1, zero_first, &d), 446);
    EXPECT_EQ(zvstrsegmdef(3, 2, zero_first, &d), 446);
    ZVSEGENTRY ok[2] = {{"s1", 2}, {"s2", 0}};
    ASSERT_EQ(zvstrsegmdef(1, 2, ok, &d), 0);
    EXPECT_EQ(d->automatic, 0);
    EXPECT_EQ(d->count, 3);  // segment 0 and the two named
    EXPECT_EQ(std::string(d->text, size_t(d->textlen)), std::string("s1\0002\0s2\0000\0\0", 11));
    zvputmem(d->text);
    zvputmem(d);
}

TEST_F(SegmentsTest, NamedSegmentsOfAPlainFile) {
    ASSERT_EQ(make_plain(1, "plain"), 0);
    ZVSEGENTRY list[3] = {{"", 1}, {"plain.s1", 1}, {"plain.s2", 0}};
    ASSERT_EQ(zvSETSEG(1, 2, 3, list), 0);
    EXPECT_TRUE(exists("plain.s1"));
    EXPECT_FALSE(exists("plain.s2"));
    FCB *f = fcb(1);
    ASSERT_EQ(write_at(f, 2 * kMB, Bytes(10, 7)), 0);
    EXPECT_TRUE(exists("plain.s2"));
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "plain", 0), 0);
    Bytes back(10);
    ASSERT_EQ(read_at(fcb(1), 2 * kMB, back), 0);
    EXPECT_EQ(back, Bytes(10, 7));
    // A rename keeps the names of named segments.
    ASSERT_EQ(zvRENFIL(1, "plain2"), 0);
    EXPECT_TRUE(exists("plain.s1"));
    EXPECT_TRUE(exists("plain.s2"));
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "plain2", 0), 0);
    ASSERT_EQ(read_at(fcb(1), 2 * kMB, back), 0);
    EXPECT_EQ(back, Bytes(10, 7));
    // A named file cannot become automatic.
    ZVSEGENTRY a[1] = {{"", 1}};
    EXPECT_EQ(zvSETSEG(1, 0, 3, a), 683);
    EXPECT_EQ(log_messages().back(), "SETSEG: cannot change from SEGMDEF to SEGAUTO: 683");
}

// A definition handed over to SETSEGz is released also when the change is
// refused before it starts.
TEST_F(SegmentsTest, ARefusedDefinitionIsReleased) {
    ASSERT_EQ(make_plain(1, "plain"), 0);
    ZVSEGENTRY list[2] = {{"", 1}, {"plain.s1", 0}};
    ASSERT_EQ(zvSETSEG(1, 2, 2, list), 0);
    auto chunks = [] {
        int32_t n = 0;
        for (int l = 0; l < 24; l++) n += zv::list_chunks(l);
        return n;
    };
    ZVSEGENTRY aut[1] = {{"", 1}};
    ZVSEGDEF *d = nullptr;
    for (int i = 0; i < 8; i++) {
        ASSERT_EQ(zvstrsegmdef(0, 3, aut, &d), 0);
        ASSERT_EQ(SETSEGz(1, d), 683);
    }
    int32_t before = chunks();
    for (int i = 0; i < 4000; i++) {
        ASSERT_EQ(zvstrsegmdef(0, 3, aut, &d), 0);
        ASSERT_EQ(SETSEGz(1, d), 683);
        ASSERT_EQ(zvSETSEG(1, 0, 3, aut), 683);
    }
    EXPECT_EQ(chunks(), before);
}

TEST_F(SegmentsTest, HeaderRewriteWithTheCreationTime) {
    FCB *f = make(1, "data", 3);
    ASSERT_EQ(write_at(f, kMB + 10, Bytes(10, 1)), 0);
    ASSERT_EQ(PUTHDR(1, 0x12345678, 4), 0);
    EXPECT_EQ(le32(file_bytes("data.001"), 88), 0x12345678u);
}

TEST_F(SegmentsTest, RenameTakesTheSegmentsAlong) {
    FCB *f = make(1, "data", 3);
    Bytes data = pattern_bytes(2 * kMB + 500, 4);
    ASSERT_EQ(write_at(f, 4096, data), 0);
    ASSERT_TRUE(exists("data.002"));
    ASSERT_EQ(zvRENFIL(1, "new"), 0);
    EXPECT_TRUE(exists("new"));
    EXPECT_TRUE(exists("new.001"));
    EXPECT_TRUE(exists("new.002"));
    EXPECT_FALSE(exists("data"));
    EXPECT_FALSE(exists("data.001"));
    EXPECT_FALSE(exists("data.002"));
    EXPECT_STREQ(fcb(1)->name, "new");
    // The headers carry the new names.
    Bytes seg2 = file_bytes("new.002");
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(seg2.data() + 512)), "new.002");
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(seg2.data() + 512 + 8)), "new");
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "new", 0), 0);
    Bytes back(data.size());
    ASSERT_EQ(read_at(fcb(1), 4096, back), 0);
    EXPECT_EQ(back, data);

    // A name that automatic segments cannot follow changes nothing.
    std::string longname(251, 'n');
    zv::fault_reset();
    EXPECT_EQ(zvRENFIL(1, longname.c_str()), 418);
    EXPECT_EQ(zv::io_calls(IoKind::Rename) + zv::io_calls(IoKind::Link) + zv::io_calls(IoKind::Close), 0);

    // DELFIL removes every segment file.
    ASSERT_EQ(DELFIL(1), 0);
    EXPECT_FALSE(exists("new"));
    EXPECT_FALSE(exists("new.001"));
    EXPECT_FALSE(exists("new.002"));
}

TEST_F(SegmentsTest, ARefusedRenameLeavesEveryFileUnderItsOldName) {
    FCB *f = make(1, "data", 3);
    Bytes data = pattern_bytes(2 * kMB + 500, 5);
    ASSERT_EQ(write_at(f, 4096, data), 0);
    filestest::put_file("new.002", Bytes(7, 7));
    EXPECT_EQ(zvRENFIL(1, "new"), 67);
    EXPECT_TRUE(exists("data"));
    EXPECT_TRUE(exists("data.001"));
    EXPECT_TRUE(exists("data.002"));
    EXPECT_FALSE(exists("new"));
    EXPECT_FALSE(exists("new.001"));
    EXPECT_EQ(file_bytes("new.002"), Bytes(7, 7));
    EXPECT_STREQ(fcb(1)->name, "data");
    // Still open and readable under its old name, with its segments.
    Bytes back(data.size());
    ASSERT_EQ(read_at(fcb(1), 4096, back), 0);
    EXPECT_EQ(back, data);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(file_bytes("data.001").data() + 512)), "data.001");
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "data", 0), 0);
}

TEST_F(SegmentsTest, ASaveSyncsEverySegment) {
    FCB *f = make(1, "data", 3);
    ASSERT_EQ(write_at(f, 2 * kMB, Bytes(10, 1)), 0);
    zv::fault_reset();
    EXPECT_EQ(zv::mbsave(f), 0);
    EXPECT_EQ(zv::io_calls(IoKind::Sync), 3);
    zv::fault_set(IoKind::Sync, 3, EIO);
    EXPECT_EQ(zv::mbsave(f), 49);
}

TEST_F(SegmentsTest, ALastNamedSegmentWithoutSizeHasNoLimit) {
    ASSERT_EQ(make_plain(1, "p"), 0);
    ZVSEGENTRY list[2] = {{"", 1}, {"p.s1", 0}};
    ASSERT_EQ(zvSETSEG(1, 1, 2, list), 0);
    FCB *f = fcb(1);
    EXPECT_EQ(f->segs[1].limit, 0u);
    // The last segment takes every offset past segment 0, far beyond
    // limit(0) - H.
    ASSERT_EQ(write_at(f, 10 * kMB, Bytes(10, 3)), 0);
    EXPECT_EQ(file_bytes("p.s1").size(), size_t(10 * kMB - kMB + 1024 + 10));
}

TEST_F(SegmentsTest, TheInstanceSegmentList) {
    FCB *a = make(1, "a", 2);
    FCB *b = make(3, "b", 2);
    ASSERT_EQ(zv::addseglst(a, -1), 0);
    ASSERT_EQ(zv::addseglst(b, 4), 0);
    EXPECT_EQ(zv::chkseglst(b, 9), 0);  // b's entry has a positive id
    EXPECT_EQ(zv::chkseglst(a, 7), 1);
    EXPECT_EQ(zv::chkseglst(a, 8), 0);  // replaced once
    zv::clnseglst(g());
    EXPECT_EQ(g()->nseglist, 0);
}

}  // namespace
