// Memory files: records in engine memory, their hash, scan, transfers and
// removal.
#include <algorithm>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/pools.h"
#include "engine/files/growth.h"
#include "engine/files/memfile.h"
#include "tests/engine/files/files_util.h"

namespace {

uint64_t last_used(const FCB *f) { return zv::join64(f->hdr.ext.numrech, f->hdr.base.numrec); }
uint64_t phys_end(const FCB *f) { return zv::join64(f->hdr.ext.phyendh, f->hdr.base.phyend); }

class MemFileTest : public filestest::FilesTest {
protected:
    // A memory file of 64 KB: 64 KB / (record length + 100) buckets.
    FCB *memory_file(int filno, const char *name, uint16_t reclen, uint16_t mode = 0x800) {
        XCREblk x{};
        x.mode = 0x80000000u;
        x.maxsizelo = 1 << 16;
        EXPECT_EQ(CREDATX8(filno, name, reclen, 0, mode, 0, nullptr, nullptr, &x), 0);
        return fcb(filno);
    }
    uint64_t add(FCB *f, uint32_t needed) {
        uint32_t lo = extfil(f, needed, 0, 0);
        return zv::join64(uint32_t(zvGETHGH()), lo);
    }
};

TEST_F(MemFileTest, HashOfAPosition) {
    struct Case {
        uint64_t pos;
        uint32_t buckets;
        uint32_t bucket;
    };
    const Case cases[] = {{1, 7, 2}, {0x1000, 1000, 632}};
    for (const Case &c : cases) {
        FCB f{};
        f.nmembuckets = c.buckets;
        EXPECT_EQ(zvMEMFILEhash(&f, c.pos), c.bucket) << c.pos;
    }
}

TEST_F(MemFileTest, RecordsOfOneBucketScanFromTailToHead) {
    FCB *f = memory_file(1, "m.dat", 50);
    EXPECT_EQ(access("m.dat", F_OK), -1);
    f->nmembuckets = 1;  // every record in one chain
    uint64_t p[3];
    for (uint64_t &pos : p) {
        pos = add(f, 50);
        ASSERT_NE(pos, 0u);
    }
    uint32_t hw = 0xFFFFFFFFu;
    uint32_t lo = 0xFFFFFFFFu;
    for (uint64_t want : p) {
        lo = zvnxtmemrec(f, &hw, lo);
        EXPECT_EQ(zv::join64(hw, lo), want);
    }
    EXPECT_EQ(zvnxtmemrec(f, &hw, lo), 0u);
    EXPECT_EQ(hw, 0u);
    EXPECT_EQ(f->nmemrecs, 3u);
    EXPECT_EQ(f->nmemrecsmax, 3u);
}

TEST_F(MemFileTest, ScanVisitsEveryRecordOnce) {
    FCB *f = memory_file(1, "m.dat", 20);
    std::vector<uint64_t> made;
    for (int i = 0; i < 40; i++) made.push_back(add(f, 20));
    std::vector<uint64_t> seen;
    uint32_t hw = 0xFFFFFFFFu, lo = 0xFFFFFFFFu;
    while ((lo = zvnxtmemrec(f, &hw, lo)) != 0 || hw != 0) seen.push_back(zv::join64(hw, lo));
    std::sort(made.begin(), made.end());
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, made);
}

TEST_F(MemFileTest, TransfersAreCutToTheRecord) {
    FCB *f = memory_file(1, "m.dat", 50);
    uint64_t pos = add(f, 50);
    unsigned char rec[50];
    for (int i = 0; i < 50; i++) rec[i] = uint8_t(i + 1);
    int32_t n = 0;
    ASSERT_EQ(izvio81x(1, f, uint32_t(pos >> 32), uint32_t(pos), rec, 50, &n, 0), 0);
    EXPECT_EQ(n, 50);

    unsigned char buf[100];
    memset(buf, 0xEE, sizeof buf);
    uint64_t at = pos + 10;
    EXPECT_EQ(izvio81x(0, f, uint32_t(at >> 32), uint32_t(at), buf, 100, &n, 10), 36);
    EXPECT_EQ(n, 40);
    EXPECT_EQ(memcmp(buf, rec + 10, 40), 0);
    EXPECT_EQ(buf[40], 0xEE);

    unsigned char w[20] = {};
    at = pos + 45;
    EXPECT_EQ(izvio81x(1, f, uint32_t(at >> 32), uint32_t(at), w, 20, &n, 45), 37);
    EXPECT_EQ(n, 5);

    // A position that is no record of the file.
    at = pos + 8;
    EXPECT_EQ(izvio81x(0, f, uint32_t(at >> 32), uint32_t(at), buf, 10, &n, 0), 160);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(zvnodmemrec(f, uint32_t(at >> 32), uint32_t(at)), 0u);
    EXPECT_EQ(zvnodmemrec(f, uint32_t(pos >> 32), uint32_t(pos)), pos);
}

TEST_F(MemFileTest, AddThenRemoveRestoresTheEndsExactly) {
    FCB *f = memory_file(1, "m.dat", 50);
    add(f, 30);
    uint64_t used = last_used(f), phys = phys_end(f);
    uint64_t pos = add(f, 77);
    EXPECT_EQ(last_used(f), used + 77);
    EXPECT_EQ(phys_end(f), phys + 77);
    EXPECT_EQ(zvrmvmemrec(f, uint32_t(pos >> 32), uint32_t(pos)), 0);
    EXPECT_EQ(last_used(f), used);
    EXPECT_EQ(phys_end(f), phys);
    EXPECT_EQ(f->nmemrecs, 1u);
    EXPECT_EQ(zvrmvmemrec(f, uint32_t(pos >> 32), uint32_t(pos)), 160);
    EXPECT_EQ(last_used(f), used);
}

TEST_F(MemFileTest, NewRecordsCarryTheirKindsMark) {
    FCB *fixed = memory_file(1, "f.dat", 20);
    uint64_t p = add(fixed, 20);
    unsigned char buf[20];
    int32_t n = 0;
    ASSERT_EQ(izvio81x(0, fixed, uint32_t(p >> 32), uint32_t(p), buf, 20, &n, 0), 0);
    filestest::Bytes want(16, 0xFF);
    want.resize(20, 0);
    EXPECT_EQ(filestest::Bytes(buf, buf + 20), want);

    FCB *var = memory_file(2, "v.dat", 20, 0x804);
    p = add(var, 20);
    ASSERT_EQ(izvio81x(0, var, uint32_t(p >> 32), uint32_t(p), buf, 4, &n, 0), 0);
    EXPECT_EQ(filestest::Bytes(buf, buf + 4), (filestest::Bytes{0xFD, 0xFD, 0, 0}));
}

TEST_F(MemFileTest, RefusalsChangeNothing) {
    FCB *f = memory_file(1, "m.dat", 50);
    uint64_t used = last_used(f), phys = phys_end(f);
    zv::fail_alloc_at(1);
    EXPECT_EQ(extfil(f, 50, 0, 0), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 10);
    zv::fail_alloc_at(0);
    // The memory size is the file's maximum size.
    EXPECT_EQ(extfil(f, uint32_t((1 << 16) - used), 0, 0), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 667);
    EXPECT_EQ(last_used(f), used);
    EXPECT_EQ(phys_end(f), phys);
    EXPECT_EQ(f->nmemrecs, 0u);
}

TEST_F(MemFileTest, MemoryRuleMakesAMemoryFile) {
    int32_t size = 1 << 20;
    char pattern[] = "*.mem";
    ASSERT_EQ(zvFILELIST(pattern, &size, 0, 9, 1), 0);
    ASSERT_EQ(CREDAT(1, "t.mem", 100, 0, 0x800), 0);
    EXPECT_TRUE(fcb_is_memory(fcb(1)));
    EXPECT_EQ(access("t.mem", F_OK), -1);
    EXPECT_NE(add(fcb(1), 100), 0u);
    ASSERT_EQ(CREDAT(2, "t.dat", 100, 0, 0x800), 0);
    EXPECT_FALSE(fcb_is_memory(fcb(2)));
    EXPECT_EQ(CLSFIL(1, 0), 0);
    EXPECT_EQ(access("t.mem", F_OK), -1);
}

}  // namespace
