// File growth: steps, first extents, alignment gaps, the maximum size and
// the 32-bit limit.
#include <cstring>
#include <sys/stat.h>

#include "engine/core/arith.h"
#include "engine/core/highword.h"
#include "engine/core/pools.h"
#include "engine/files/growth.h"
#include "tests/engine/files/files_util.h"
#include "tests/support/damage.h"

namespace {

using filestest::Bytes;
using filestest::file_bytes;
using filestest::slice;
using zv::IoKind;

uint64_t last_used(const FCB *f) { return zv::join64(f->hdr.ext.numrech, f->hdr.base.numrec); }
uint64_t phys_end(const FCB *f) { return zv::join64(f->hdr.ext.phyendh, f->hdr.base.phyend); }

uint64_t file_size(const char *path) {
    struct stat st{};
    return stat(path, &st) == 0 ? uint64_t(st.st_size) : 0;
}

// Position of a growth as one 64-bit value (low word returned, high word
// in the cell).
uint64_t grow(FCB *f, uint32_t needed, uint32_t align = 0) {
    uint32_t lo = extfil(f, needed, align, 0);
    return zv::join64(uint32_t(zvGETHGH()), lo);
}

class GrowthTest : public filestest::FilesTest {
protected:
    // A fixed-length data file of record length 100 with an extended header:
    // its first record lies at 600, so its last byte used starts at 599.
    FCB *data_file(int filno, const char *name, uint32_t step, XCREblk x = {}) {
        x.mode |= 0x02;
        EXPECT_EQ(CREDATX8(filno, name, 100, step, 0x800, 0, nullptr, nullptr, &x), 0);
        return fcb(filno);
    }
    bool quiet_since(long (&before)[int(IoKind::Count)]) {
        for (int k = 0; k < int(IoKind::Count); k++)
            if (zv::io_calls(IoKind(k)) != before[k]) return false;
        return true;
    }
    void snapshot(long (&out)[int(IoKind::Count)]) {
        for (int k = 0; k < int(IoKind::Count); k++) out[k] = zv::io_calls(IoKind(k));
    }
};

TEST_F(GrowthTest, StepsMoveThePhysicalEnd) {
    struct Case {
        const char *what;
        uint32_t step;       // header extend size
        uint32_t step32;     // create block word 5 (32-bit extend size)
        uint32_t needed;
        uint64_t phys;       // physical end expected after the growth
        bool writes;         // the new stretch is filled
    };
    // Every file starts with last byte used = physical end = 599.
    const Case cases[] = {
        {"step 1000 for 2000 bytes: new last byte used + step", 1000, 0, 2000, 2599 + 1000, true},
        {"step 65536 for 100 bytes: the first step - 1", 0, 65536, 100, 65535, true},
        {"step 65536 for 65000 bytes: rounded up to whole steps", 0, 65536, 65000, 2 * 65536 - 1, true},
        {"step 0: the new last byte used, nothing written", 0, 0, 2000, 2599, false},
    };
    int filno = 1;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string name = "s" + std::to_string(filno) + ".dat";
        XCREblk x{};
        x.extsize = c.step32;
        FCB *f = data_file(filno, name.c_str(), c.step, x);
        ASSERT_EQ(last_used(f), 599u);
        long writes = zv::io_calls(IoKind::Write);
        EXPECT_EQ(grow(f, c.needed), 600u);
        EXPECT_EQ(zvGetUserErrorCode(), 0);
        EXPECT_EQ(last_used(f), 599u + c.needed);
        EXPECT_EQ(phys_end(f), c.phys);
        if (c.writes) {
            EXPECT_EQ(file_size(name.c_str()), c.phys + 1);
            Bytes b = file_bytes(name);
            EXPECT_EQ(slice(b, 600, size_t(c.phys + 1 - 600)), Bytes(size_t(c.phys + 1 - 600), 0xFF));
        } else {
            EXPECT_EQ(zv::io_calls(IoKind::Write), writes);
        }
        filno++;
    }
}

TEST_F(GrowthTest, FirstExtentOnlyAtTheFirstGrowthThenTheStep) {
    XCREblk x{};
    x.firstext = 1 << 20;
    FCB *f = data_file(1, "f.dat", 1000, x);
    EXPECT_EQ(grow(f, 100), 600u);
    EXPECT_EQ(phys_end(f), (1u << 20) - 1);
    EXPECT_EQ(file_size("f.dat"), 1u << 20);

    // Inside the physical end nothing reaches the system or the allocator.
    long before[int(IoKind::Count)];
    snapshot(before);
    uint64_t allocs = zv::platform_alloc_count();
    uint64_t fill_to_end = phys_end(f) - last_used(f);
    EXPECT_EQ(grow(f, uint32_t(fill_to_end)), 700u);
    EXPECT_EQ(last_used(f), phys_end(f));
    EXPECT_TRUE(quiet_since(before));
    EXPECT_EQ(zv::platform_alloc_count(), allocs);

    // The next growth takes the extend size.
    EXPECT_EQ(grow(f, 100), 1u << 20);
    EXPECT_EQ(phys_end(f), (1u << 20) - 1 + 1000);
}

TEST_F(GrowthTest, AGapLongerThanTheStepNeverLeavesTheEndBehind) {
    // An index with 8-byte offsets: first node at 1024, step 200 for 100
    // bytes aligned on 4096: the gap of 3072 bytes passes old end + step.
    XCREblk x{};
    x.mode = 0x42;
    ASSERT_EQ(CREIDXX8(1, "w.idx", 10, 0, 0, 0, 200, 0, 0, nullptr, nullptr, &x), 0);
    FCB *f = fcb(1);
    ASSERT_EQ(last_used(f), 1023u);
    EXPECT_EQ(grow(f, 100, 4096), 4096u);
    EXPECT_EQ(last_used(f), 4195u);
    EXPECT_GE(phys_end(f), last_used(f));
}

TEST_F(GrowthTest, SuperfileHostWritesTheGapAsAFreeArea) {
    struct Case {
        uint32_t last;       // last byte used before
        uint64_t area_len;   // free area written at last + 1
        uint64_t pos;        // where the new space begins
    };
    const Case cases[] = {{999, 24, 1024}, {1009, 1038, 2048}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.last);
        // A variable-length file (first node at 1024) taken as a host.
        ASSERT_EQ(CREDATX8(1, "h.dat", 10, 0, 0x804, 0, nullptr, nullptr, nullptr), 0);
        FCB *f = fcb(1);
        f->hdr.base.sfiltyp = kSfHost;
        f->hdr.base.numrec = c.last;
        EXPECT_EQ(grow(f, 100, 1024), c.pos);
        EXPECT_EQ(last_used(f), c.pos + 99);
        Bytes b = file_bytes("h.dat");
        Bytes want(size_t(c.area_len), 0);
        want[0] = 0xFD;
        want[1] = 0xFD;
        want[2] = uint8_t(c.area_len);
        want[3] = uint8_t(c.area_len >> 8);
        EXPECT_EQ(slice(b, c.last + 1, size_t(c.area_len)), want);
        f->hdr.base.sfiltyp = kSfPlain;
        ASSERT_EQ(CLSFIL(1, 0), 0);
        ASSERT_EQ(dltfil("h.dat"), 0);
    }
}

TEST_F(GrowthTest, PlainFilesAndAlignment) {
    FCB *d = data_file(1, "d.dat", 0);
    EXPECT_EQ(grow(d, 10, 1024), 600u);  // a data file ignores it
    ASSERT_EQ(CREIDX(2, "i.idx", 10, 0, 0, 0, 0, 0), 0);
    FCB *i = fcb(2);
    ASSERT_EQ(last_used(i), 1023u);
    long writes = zv::io_calls(IoKind::Write);
    EXPECT_EQ(grow(i, 10, 1024), 1024u);  // already aligned: no gap
    EXPECT_EQ(grow(i, 10, 1024), 2048u);  // an index skips to the boundary
    EXPECT_EQ(zv::io_calls(IoKind::Write), writes);
}

TEST_F(GrowthTest, MaximumSizeRefusesWithNothingChanged) {
    XCREblk x{};
    x.maxsizelo = 10000;
    FCB *f = data_file(1, "m.dat", 4096, x);
    FILEHDRALL before = f->hdr;
    Bytes disk = file_bytes("m.dat");
    EXPECT_EQ(extfil(f, 10000 - 600 + 1, 0, 0), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 667);
    EXPECT_EQ(memcmp(&before, &f->hdr, sizeof before), 0);
    EXPECT_EQ(file_bytes("m.dat"), disk);
    // Up to the last byte below the maximum is allowed, and the physical
    // end stops there.
    EXPECT_EQ(grow(f, 10000 - 600), 600u);
    EXPECT_EQ(last_used(f), 9999u);
    EXPECT_EQ(phys_end(f), 9999u);

    // A host whose alignment gap alone passes the maximum.
    XCREblk y{};
    y.mode = 0x02;
    y.maxsizelo = 2000;
    ASSERT_EQ(CREDATX8(2, "g.dat", 10, 0, 0x804, 0, nullptr, nullptr, &y), 0);
    FCB *g2 = fcb(2);
    g2->hdr.base.sfiltyp = kSfHost;
    g2->hdr.base.numrec = 1009;  // gap of 1038 bytes: new space at 2048
    before = g2->hdr;
    disk = file_bytes("g.dat");
    EXPECT_EQ(extfil(g2, 1, 1024, 0), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 667);
    EXPECT_EQ(memcmp(&before, &g2->hdr, sizeof before), 0);
    EXPECT_EQ(file_bytes("g.dat"), disk);
    g2->hdr.base.sfiltyp = kSfPlain;
}

TEST_F(GrowthTest, ThirtyTwoBitFileStopsAtFourGigabytes) {
    FCB *f = data_file(1, "b.dat", 0);
    // Logical and physical end at 0xFFFFFEFF.
    ASSERT_EQ(PUTHDR(1, int32_t(0xFFFFFF00u), 5), 0);
    ASSERT_EQ(PUTHDR(1, int32_t(0xFFFFFF00u), 6), 0);
    FILEHDRALL before = f->hdr;
    EXPECT_EQ(extfil(f, 0x101, 0, 0), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 39);
    EXPECT_EQ(memcmp(&before, &f->hdr, sizeof before), 0);
    EXPECT_EQ(grow(f, 0x100), 0xFFFFFF00u);
    EXPECT_EQ(last_used(f), 0xFFFFFFFFu);
    // Back to a small end so that close writes nothing huge.
    ASSERT_EQ(PUTHDR(1, 600, 5), 0);
    ASSERT_EQ(PUTHDR(1, 600, 6), 0);
}

TEST_F(GrowthTest, FailedFillRestoresTheLastByteUsed) {
    FCB *f = data_file(1, "e.dat", 8192);
    // The file ends inside the space before the first record: the growth
    // first closes the stretch between the file's end and its start (one
    // write here), so the fill's second chunk is the third write.
    ASSERT_LT(zvtest::file_size("e.dat"), 600u);
    zv::fault_set(IoKind::Write, 3, ENOSPC);
    EXPECT_EQ(extfil(f, 4096, 0, 0), 0u);
    EXPECT_NE(zvGetUserErrorCode(), 0);
    EXPECT_EQ(last_used(f), 599u);
    // The first chunk reached the file: the physical end says so.
    EXPECT_EQ(phys_end(f), 599u + 2048);
    zv::fault_reset();
    EXPECT_EQ(grow(f, 4096), 600u);
    EXPECT_GE(phys_end(f), last_used(f));
}

TEST_F(GrowthTest, WriteThroughFileIsForcedToDiskAfterAFill) {
    ASSERT_EQ(CREDATX8(1, "t.dat", 100, 1000, 0x840, 0, nullptr, nullptr, nullptr), 0);
    long syncs = zv::io_calls(IoKind::Sync);
    EXPECT_NE(extfil(fcb(1), 100, 0, 0), 0u);
    EXPECT_EQ(zv::io_calls(IoKind::Sync), syncs + 1);
}

}  // namespace
