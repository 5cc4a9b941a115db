// Index resource carry-over and the rebuild's shared state: resources
// saved from an old index and added to its successor, the progress
// interval, the work buffer, the error pair, the update-flag setter, the
// prompts, and the in-place emptying of an index that keeps its resources.
#include <cerrno>
#include <cstring>
#include <string>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/files/resource.h"
#include "engine/maint/maintstate.h"
#include "engine/maint/rblstate.h"
#include "engine/maint/rescarry.h"
#include "tests/engine/maint/rblfix.h"
#include "tests/support/damage.h"
#include "tests/support/verifyset.h"

namespace {

using namespace rbltest;

class RblCarryTest : public RblTest {
protected:
    // An index on filno with keys 1..n and the resources (type 6000) of
    // `numbers`, closed.
    static void make_index(int filno, const char *name, int n, std::initializer_list<uint32_t> numbers,
                           int members = 0) {
        ASSERT_EQ(CREIDX(filno, name, 8, 0, 0, members, 0, 0), 0);
        for (int m = 1; m <= members; m++) ASSERT_EQ(CREMEM(filno, 8, 0, 0, m), 0);
        for (int i = 1; i <= n; i++) {
            char key[16];
            snprintf(key, sizeof key, "%08d", i % 100000000);
            ASSERT_EQ(ADDKEY(filno, key, uint32_t(100 + i), 0), 0);
        }
        if (numbers.size()) {
            ASSERT_EQ(ENARES(filno), 0);
        }
        for (uint32_t num : numbers) {
            std::string body = app_resource(num, "carried " + std::to_string(num));
            ASSERT_EQ(ADDRES(filno, body.data(), int32_t(body.size())), 0);
        }
        ASSERT_EQ(CLSFIL(filno, 0), 0);
    }
};

TEST_F(RblCarryTest, ResourcesOfAnOldIndexReachItsSuccessor) {
    make_index(2, "old.idx", 50, {1, 2, 3});
    char savename[256];
    int savefil = -1, encset = 0;
    uint16_t flags = 0xFFFF;
    ASSERT_EQ(zv::getidxres(1, 2, "old.idx", nullptr, savename, &savefil, 0, &flags, nullptr, &encset), 0);
    ASSERT_NE(savefil, zv::kNoSaveFile);
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(TSTFILNUM(2), 0) << "the old index is closed again";
    ASSERT_EQ(CREIDX(2, "new.idx", 8, 0, 0, 0, 0, 0), 0);
    ASSERT_EQ(zv::putidxres(2, savefil), 0);
    for (uint32_t num : {1u, 2u, 3u}) EXPECT_EQ(resource_of(2, num), app_resource(num, "carried " + std::to_string(num)));
    EXPECT_EQ(zv::resource_ring_count(2), 4) << "the anchor and three";
    ASSERT_EQ(CLSFIL(2, 0), 0);
    ASSERT_EQ(CLSFIL(savefil, 0), 0);
    EXPECT_EQ(dltfil(savename), 0);
}

// Nothing to save: no ring, only the anchor, no such file. The save-file
// number is 65535 and no file is made.
TEST_F(RblCarryTest, NothingToSaveGivesTheNoFileNumber) {
    make_index(2, "bare.idx", 5, {});
    make_index(4, "anch.idx", 5, {});
    ASSERT_EQ(OPNFIL(4, "anch.idx", 0), 0);
    ASSERT_EQ(ENARES(4), 0);
    ASSERT_EQ(CLSFIL(4, 0), 0);
    for (const char *name : {"bare.idx", "anch.idx", "none.idx", "host!member"}) {
        char savename[256] = "x";
        int savefil = -1, encset = 1;
        uint16_t flags = 0;
        EXPECT_EQ(zv::getidxres(1, 6, name, nullptr, savename, &savefil, -1, &flags, nullptr, &encset), 0) << name;
        EXPECT_EQ(savefil, zv::kNoSaveFile) << name;
        EXPECT_EQ(savename[0], 0) << name;
        EXPECT_EQ(TSTFILNUM(6), 0) << name;
    }
    EXPECT_EQ(strays({"bare.idx", "anch.idx"}), std::vector<std::string>{});
}

// An old index that ends inside its header cannot be read as an index:
// nothing is saved and the carry-over goes on. A read that fails on the
// disk (the same 36 from the open) stops it, and the old file stays.
TEST_F(RblCarryTest, AnIndexEndingInsideItsHeaderSavesNothing) {
    XCREblk ext{};
    ext.mode = 0x02;
    ASSERT_EQ(CREIDXX8(2, "ext.idx", 8, 0, 0, 0, 0, 0, 0, nullptr, nullptr, &ext), 0);
    ASSERT_EQ(CLSFIL(2, 0), 0);
    const uint64_t exthdr = zvtest::header_bytes("ext.idx");
    ASSERT_GT(exthdr, 128u) << "a header with its extended part";
    ASSERT_EQ(dltfil("ext.idx"), 0);
    const struct {
        const char *file;
        uint64_t size;
    } cases[] = {{"plain.idx", 0}, {"plain.idx", 100}, {"plain.idx", 127}, {"ext.idx", 128}, {"ext.idx", exthdr - 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.file) + " cut to " + std::to_string(c.size));
        if (std::string(c.file) == "plain.idx") {
            make_index(2, c.file, 60, {1, 2});
        } else {
            ASSERT_EQ(CREIDXX8(2, c.file, 8, 0, 0, 0, 0, 0, 0, nullptr, nullptr, &ext), 0);
            ASSERT_EQ(CLSFIL(2, 0), 0);
        }
        zvtest::truncate_to(c.file, c.size);
        char savename[256] = "x";
        int savefil = -1, encset = 1;
        uint16_t flags = 0xFFFF;
        EXPECT_EQ(zv::getidxres(1, 2, c.file, nullptr, savename, &savefil, 0, &flags, nullptr, &encset), 0);
        EXPECT_EQ(savefil, zv::kNoSaveFile);
        EXPECT_EQ(savename[0], 0);
        EXPECT_EQ(TSTFILNUM(2), 0);
        EXPECT_EQ(entry_after("Rebuild could not open index file (36)"), c.file) << status_log();
        ASSERT_EQ(dltfil(c.file), 0);
    }
    // The whole file, its header read failing on the disk.
    make_index(2, "whole.idx", 60, {1, 2});
    const uint64_t size = zvtest::file_size("whole.idx");
    for (long short_by : {0L, 40L}) {
        SCOPED_TRACE(short_by ? "short read" : "EIO");
        char savename[256] = "x";
        int savefil = -1, encset = 1;
        uint16_t flags = 0;
        zv::fault_set(zv::IoKind::Read, 1, EIO, false, short_by);
        EXPECT_EQ(zv::getidxres(1, 2, "whole.idx", nullptr, savename, &savefil, 0, &flags, nullptr, &encset), 36);
        zv::fault_reset();
        EXPECT_EQ(zvWNGV->sysiocod, EIO) << "the disk's error stays for the caller";
        EXPECT_EQ(savefil, zv::kNoSaveFile);
        EXPECT_EQ(TSTFILNUM(2), 0);
        EXPECT_EQ(zvtest::file_size("whole.idx"), size);
    }
}

TEST_F(RblCarryTest, AnotherMemberCountIs608) {
    make_index(2, "mem.idx", 5, {1}, 1);
    char savename[256];
    int savefil = -1, encset = 0;
    uint16_t flags = 0;
    EXPECT_EQ(zv::getidxres(1, 2, "mem.idx", nullptr, savename, &savefil, 2, &flags, nullptr, &encset), 608);
    EXPECT_EQ(TSTFILNUM(2), 0);
    EXPECT_EQ(TSTFILNUM(3), 0);
    // Through the set rebuild: a set whose index file has no member where
    // the definition gives one.
    RblSet s("mc", Kind::Fixed);
    build(s, 10);
    IIDX two[2] = {s.idx[0], s.idx[2]};
    IFIL f = s.ifil;
    f.dnumidx = 2;
    f.iidxarr = two;
    f.dfilno = 8;
    EXPECT_EQ(RBLIFIL(&f), 608);
    EXPECT_EQ(zvGetIsamFileNbr(), 9) << "the index file";
}

// A ring that leaves its anchor for a cycle of two: each is saved once and
// the walk ends.
TEST_F(RblCarryTest, ARingCyclingAwayFromItsAnchorEnds) {
    make_index(2, "cyc.idx", 5, {1, 2, 3});
    // The third resource's forward link goes back to the second.
    uint32_t anchor = zvtest::get_le32("cyc.idx", 12);
    uint32_t r1 = zvtest::get_le32("cyc.idx", anchor + 14);
    uint32_t r2 = zvtest::get_le32("cyc.idx", r1 + 14);
    uint32_t r3 = zvtest::get_le32("cyc.idx", r2 + 14);
    zvtest::put_le32("cyc.idx", r3 + 14, r2);
    char savename[256];
    int savefil = -1, encset = 0;
    uint16_t flags = 0;
    ASSERT_EQ(zv::getidxres(1, 2, "cyc.idx", nullptr, savename, &savefil, 0, &flags, nullptr, &encset), 0);
    ASSERT_NE(savefil, zv::kNoSaveFile);
    ASSERT_EQ(CREIDX(2, "cyc2.idx", 8, 0, 0, 0, 0, 0), 0);
    ASSERT_EQ(zv::putidxres(2, savefil), 0);
    EXPECT_EQ(zv::resource_ring_count(2), 4);
    for (uint32_t num : {1u, 2u, 3u}) EXPECT_EQ(resource_of(2, num), app_resource(num, "carried " + std::to_string(num)));
    CLSFIL(2, 0);
    CLSFIL(savefil, 0);
    dltfil(savename);
}

// A type 0 number 2 resource that the new index holds already is rewritten
// with the saved one, not added twice; types 0/6, 0/7 and 0/8 stay the new
// file's own.
TEST_F(RblCarryTest, AResourceTheNewIndexHoldsIsRewritten) {
    auto body_of = [](uint32_t type, uint32_t number, const std::string &data) {
        std::string b(8, '\0');
        memcpy(&b[0], &type, 4);
        memcpy(&b[4], &number, 4);
        b += "SYS";
        b.push_back('\0');
        return b + data;
    };
    ASSERT_EQ(CREIDX(2, "sys.idx", 8, 0, 0, 0, 0, 0), 0);
    ASSERT_EQ(ENARES(2), 0);
    std::string saved = body_of(0, 2, "the old file's"), own = body_of(0, 9, "kept");
    ASSERT_EQ(ADDRES(2, saved.data(), int32_t(saved.size())), 0);
    ASSERT_EQ(ADDRES(2, own.data(), int32_t(own.size())), 0);
    ASSERT_EQ(CLSFIL(2, 0), 0);
    char savename[256];
    int savefil = -1, encset = 0;
    uint16_t flags = 0;
    ASSERT_EQ(zv::getidxres(1, 2, "sys.idx", nullptr, savename, &savefil, 0, &flags, nullptr, &encset), 0);
    ASSERT_EQ(CREIDX(4, "sys2.idx", 8, 0, 0, 0, 0, 0), 0);
    ASSERT_EQ(ENARES(4), 0);
    std::string present = body_of(0, 2, "the new file's, longer than the old");
    ASSERT_EQ(ADDRES(4, present.data(), int32_t(present.size())), 0);
    ASSERT_EQ(zv::putidxres(4, savefil), 0);
    EXPECT_EQ(zv::resource_ring_count(4), 3) << "the anchor, 0/2 once and 0/9";
    uint32_t key[2] = {0, 2};
    char buf[128] = {};
    GETRES(4, key, buf, sizeof buf, 2);
    EXPECT_EQ(std::string(buf, saved.size()), saved);
    CLSFIL(4, 0);
    CLSFIL(savefil, 0);
    dltfil(savename);
}

// The rebuild's shared state.
TEST_F(RblCarryTest, ProgressBufferAndErrorState) {
    // The interval changes only when not 0.
    ASSERT_EQ(SETCBRBL(progress_cb, 4), 0);
    EXPECT_EQ(maint_state(zvWNGV).rbl.interval, 4);
    ASSERT_EQ(SETCBRBL(progress_cb, 0), 0);
    EXPECT_EQ(maint_state(zvWNGV).rbl.interval, 4);
    EXPECT_EQ(GETCBRBLST(), nullptr);
    // Interval 0 behaves as 1.
    maint_state(zvWNGV).rbl.interval = 0;
    zv::rbl_phase("phase");
    for (int i = 0; i < 3; i++) EXPECT_EQ(zv::rbl_count(100), 0);
    ASSERT_EQ(progress().size(), 4u);
    EXPECT_EQ(progress()[3].count, 3u);
    // The work buffer: the same buffer while it is large enough.
    unsigned char *a = zv::rbgetbuf(100);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(zv::rbgetbuf(100), a);
    EXPECT_EQ(zv::rbgetbuf(40), a);
    unsigned char *b = zv::rbgetbuf(5000);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(maint_state(zvWNGV).rbl.bufsize, 5000);
    zv::rbfreebuf();
    EXPECT_EQ(maint_state(zvWNGV).rbl.bufsize, 0);
    // The error pair.
    EXPECT_EQ(zv::rerr(652, 7), 652);
    EXPECT_EQ(zvGetUserErrorCode(), 652);
    EXPECT_EQ(zvWNGV->isamerr_cod, 652);
    EXPECT_EQ(maint_state(zvWNGV).rbl.err, 652);
    EXPECT_EQ(maint_state(zvWNGV).rbl.errfil, 7);
    // The update flag of a file that is not open: 26, uerr_cod untouched.
    EXPECT_EQ(zv::zvsetupdflg(9, 'R'), 26);
    EXPECT_EQ(zvGetUserErrorCode(), 652);
    // The prompts decline: a header value is never changed through them.
    uint16_t reclen = 64;
    uint8_t flag = 1;
    EXPECT_EQ(zv::yesno(), 1);
    EXPECT_EQ(zv::prnprm(), 0);
    EXPECT_EQ(zv::vcparm(&reclen, 80, "data record length"), 1);
    EXPECT_EQ(reclen, 64);
    EXPECT_EQ(zv::vcparm(&reclen, 64, "data record length"), 1);
    EXPECT_EQ(zv::vtparm(&flag, 2), 1);
    EXPECT_EQ(flag, 1);
}

// An index emptied in place keeps its resources: every node goes on the
// deleted-node stack, every member loses its root and keys.
TEST_F(RblCarryTest, AnIndexEmptiedInPlaceKeepsItsResources) {
    make_index(2, "sav.idx", 300, {1, 2}, 1);
    uint16_t flags = 0xFFFF;
    ASSERT_EQ(zv::rblsavres(1, 2, "sav.idx", nullptr, &flags, nullptr), 0);
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(TSTFILNUM(2), 0);
    ASSERT_EQ(OPNFIL(2, "sav.idx", 0x4000), 0);
    zvSETHGH(0);
    EXPECT_EQ(IDXENT(2), 0u);
    EXPECT_EQ(IDXENT(3), 0u);
    for (uint32_t num : {1u, 2u}) EXPECT_EQ(resource_of(2, num), app_resource(num, "carried " + std::to_string(num)));
    // The index works again: keys go in and come back.
    for (int i = 1; i <= 200; i++) {
        char key[16];
        snprintf(key, sizeof key, "%08d", (i * 7) % 100000000);
        ASSERT_EQ(ADDKEY(2, key, uint32_t(500 + i), 0), 0) << i;
    }
    VERIFYIDXOPT vo{1, 1 | 2 | 4, 15, 0, nullptr, nullptr};
    VERIFYIDXRES vr{};
    FILE *sink = fopen("/dev/null", "w");
    FILE *old = getZarvoSTDOUT();
    setZarvoSTDOUT(sink);
    EXPECT_EQ(zvVERIFYidx(2, &vo, &vr), 0);
    setZarvoSTDOUT(old);
    fclose(sink);
    ASSERT_EQ(CLSFIL(2, 0), 0);
    // A file that does not open: -1, flags 0.
    EXPECT_EQ(zv::rblsavres(1, 2, "gone.idx", nullptr, &flags, nullptr), -1);
}

}  // namespace
