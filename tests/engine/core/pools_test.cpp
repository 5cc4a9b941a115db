// Free lists and pooled blocks.
#include <cstring>
#include <random>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"

namespace {

using zvtest::ZvTest;

class PoolsTest : public ZvTest {
protected:
    void SetUp() override {
        ZvTest::SetUp();
        ASSERT_EQ(REGZARVO("pools"), 0);
        zvsetlst(512 + 1032, 2048, 6, 6);
    }
    void TearDown() override {
        zv::fail_alloc_at(0);
        ZvTest::TearDown();
    }
    const zv::FreeListCtl &ctl(int list) { return zvWNGV->lists[list]; }
};

bool all_zero(const void *p, size_t n) {
    const unsigned char *b = static_cast<const unsigned char *>(p);
    for (size_t i = 0; i < n; i++)
        if (b[i]) return false;
    return true;
}

TEST_F(PoolsTest, ZeroSizeTouchesNothing) {
    EXPECT_EQ(zvgetmem(0), nullptr);
    for (int i = 0; i < zv::kFreeLists; i++) EXPECT_EQ(ctl(i).chunks, 0) << i;
}

TEST_F(PoolsTest, SizeClassesPickTheirLists) {
    struct Case { int32_t size; int list; } cases[] = {
        {1, 2}, {16, 2}, {17, 3}, {32, 3}, {33, 4}, {128, 5}, {129, 6},
        {1024, 8}, {1025, 9}, {4096, 10}, {4097, 11}, {8192, 11}};
    for (const auto &c : cases) {
        int before = ctl(c.list).total - ctl(c.list).free;
        void *p = zvgetmem(c.size);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(ctl(c.list).total - ctl(c.list).free, before + 1) << c.size;
        EXPECT_EQ(zvmemsiz(p), c.size);
        EXPECT_TRUE(all_zero(p, size_t(c.size)));
        zvputmem(p);
        EXPECT_EQ(ctl(c.list).total - ctl(c.list).free, before) << c.size;
    }
    uint64_t allocs = zv::platform_alloc_count();
    void *big = zvgetmem(8193);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(zv::platform_alloc_count(), allocs + 1);
    EXPECT_EQ(zvmemsiz(big), 8193);
    EXPECT_EQ(ctl(11).total - ctl(11).free, 0);
    uint64_t frees = zv::platform_free_count();
    zvputmem(big);
    EXPECT_EQ(zv::platform_free_count(), frees + 1);
    EXPECT_EQ(zvmemsiz(nullptr), 0);
}

TEST_F(PoolsTest, RecycledBlockIsZero) {
    // Use up the chunk's never-used elements so that the next take recycles.
    int per = zvWNGV->listperchunk[5];
    std::vector<unsigned char *> blocks;
    for (int i = 0; i < per; i++) {
        blocks.push_back(static_cast<unsigned char *>(zvgetmem(100)));
        memset(blocks.back(), 0xAB, 100);
    }
    unsigned char *p = blocks[per / 2];
    zvputmem(p);
    unsigned char *q = static_cast<unsigned char *>(zvgetmem(100));
    EXPECT_EQ(q, p);
    EXPECT_TRUE(all_zero(q, 100));
    EXPECT_EQ(zvmemsiz(q), 100);
    zvputmemn(reinterpret_cast<void **>(&q));
    EXPECT_EQ(q, nullptr);
    for (int i = 0; i < per; i++) {
        if (i != per / 2) zvputmem(blocks[i]);
    }
    EXPECT_EQ(zv::check_list(5), 0);
}

TEST_F(PoolsTest, ElementsPerChunkFollowBlockSize) {
    EXPECT_EQ(zvWNGV->listblocksize, 2048);
    EXPECT_EQ(zvWNGV->listelemsize[2], 24);
    EXPECT_EQ(zvWNGV->listperchunk[2], 85);
    EXPECT_EQ(zvWNGV->listelemsize[11], 8200);
    EXPECT_EQ(zvWNGV->listperchunk[11], 4);
    EXPECT_EQ(zvWNGV->listelemsize[12], 16);
    EXPECT_EQ(zvWNGV->listelemsize[13], 24);
    EXPECT_EQ(zvWNGV->listelemsize[22], 1544);
    EXPECT_EQ(zvWNGV->listperchunk[22], 3);
    EXPECT_EQ(zvWNGV->listperchunk[23], 3);
}

TEST_F(PoolsTest, NodeAndPageChunkFactorIsComputedIn64Bits) {
    // 64 KB nodes x 32,260 buffers overflow 32 bits; the factor stays 4.
    zvsetlst(65536 + 1032, 65536, 32260, 32260);
    EXPECT_EQ(zvWNGV->listperchunk[22], 12);
    EXPECT_EQ(zvWNGV->listperchunk[23], 12);
    zvsetlst(1024, 1024, 64, 0);  // 65536 bytes: f = 2
    EXPECT_EQ(zvWNGV->listperchunk[22], 6);
}

TEST_F(PoolsTest, FreeingTwoChunkListReleasesExactlyOne) {
    int per = zvWNGV->listperchunk[5];
    std::vector<void *> blocks;
    for (int i = 0; i < per + 1; i++) blocks.push_back(zvgetmem(100));
    EXPECT_EQ(ctl(5).chunks, 2);
    uint64_t frees = zv::platform_free_count();
    for (void *p : blocks) zvputmem(p);
    EXPECT_EQ(ctl(5).chunks, 1);
    EXPECT_EQ(zv::platform_free_count(), frees + 1);
    EXPECT_EQ(ctl(5).free, ctl(5).total);
    EXPECT_EQ(zv::check_list(5), 0);
}

TEST_F(PoolsTest, RandomTakesAndGivesKeepListsConsistent) {
    std::mt19937 rng(12345);
    std::vector<std::pair<unsigned char *, int32_t>> live;
    for (int step = 0; step < 60000; step++) {
        bool take = live.empty() || (rng() % 100) < (step < 30000 ? 60u : 40u);
        if (take) {
            int32_t size = 1 + int32_t(rng() % 300);
            auto *p = static_cast<unsigned char *>(zvgetmem(size));
            ASSERT_NE(p, nullptr);
            ASSERT_TRUE(all_zero(p, size_t(size)));
            memset(p, 0x5A, size_t(size));
            live.emplace_back(p, size);
        } else {
            size_t i = rng() % live.size();
            ASSERT_EQ(zvmemsiz(live[i].first), live[i].second);
            zvputmem(live[i].first);
            live[i] = live.back();
            live.pop_back();
        }
        if (step % 997 == 0) {
            for (int l = 2; l <= 7; l++) ASSERT_EQ(zv::check_list(l), 0) << "list " << l;
        }
    }
    for (auto &b : live) zvputmem(b.first);
    for (int l = 2; l <= 7; l++) {
        EXPECT_EQ(zv::check_list(l), 0);
        EXPECT_LE(ctl(l).chunks, 1);
    }
}

TEST_F(PoolsTest, ElementOfAnotherListIsFatal) {
    void *p = zvgetlst(12);
    ASSERT_NE(p, nullptr);
    EXPECT_EXIT(zvputlst(p, 13), ::testing::ExitedWithCode(7495 % 256), "");
    zvputlst(p, 12);
}

TEST_F(PoolsTest, NoMemoryGives68AndNull) {
    zv::fail_alloc_at(1);
    EXPECT_EQ(zvgetlst(14), nullptr);
    EXPECT_EQ(zvGetUserErrorCode(), 68);
    EXPECT_EQ(ctl(14).chunks, 0);
    void *p = zvgetlst(14);
    EXPECT_NE(p, nullptr);
    zvputlst(p, 14);
}

TEST_F(PoolsTest, HotPathMakesNoPlatformAllocation) {
    // Each size class holds one chunk before the count starts.
    std::vector<void *> warm;
    for (int32_t size : {16, 32, 64, 128, 256, 512, 1024, 2048, 4096, 8192}) warm.push_back(zvgetmem(size));
    void *lock = zvgetlst(13);
    uint64_t allocs = zv::platform_alloc_count();
    for (int i = 0; i < 1000000; i++) {
        void *a = zvgetmem(1 + i % 8192);
        zvputmem(a);
        void *b = zvgetlst(13);
        zvputlst(b, 13);
    }
    EXPECT_EQ(zv::platform_alloc_count(), allocs);
    for (void *p : warm) zvputmem(p);
    zvputlst(lock, 13);
}

TEST_F(PoolsTest, PlatformWrappers) {
    void *one = mballc(0, 5);
    ASSERT_NE(one, nullptr);
    mbfree(one);
    EXPECT_EQ(mballc(SIZE_MAX / 2, 4), nullptr);
    void *p = mballc(4, 8);
    EXPECT_TRUE(all_zero(p, 32));
    mbfren(&p);
    EXPECT_EQ(p, nullptr);
    mbfree(nullptr);
    void *cam = mballccam(100);
    ASSERT_NE(cam, nullptr);
    EXPECT_EQ(mballccam(50), cam);
    void *cam2 = mballccam(4000);
    ASSERT_NE(cam2, nullptr);
    EXPECT_EQ(zvWNGV->encworksize, 4000u);
    mbfrencam(&zvWNGV->encworkbuf);
    EXPECT_EQ(zvWNGV->encworksize, 0u);
}

// Work blocks: below kArenaMin a plain allocation, from it on a mapping
// that starts on a huge-page boundary; both zero-filled, counted, failed
// like every platform allocation and given back (a leak would show in the
// blocks in use).
TEST_F(PoolsTest, WorkBlocksAreMappedFromTheArenaSizeOn) {
    struct Case {
        size_t bytes;
        int32_t mapped;
    };
    const Case cases[] = {{1000, 0}, {zv::kArenaMin - 1, 0}, {zv::kArenaMin, 1}, {zv::kArenaMin * 2 + 3, 1}};
    const int64_t inuse = zv::pool_blocks_in_use();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bytes);
        int32_t mapped = -1;
        const uint64_t allocs = zv::platform_alloc_count();
        auto *p = static_cast<unsigned char *>(zv::work_block(c.bytes, &mapped));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(mapped, c.mapped);
        EXPECT_EQ(zv::platform_alloc_count(), allocs + 1);
        if (mapped) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % (uintptr_t(2) << 20), 0u);
        }
        EXPECT_TRUE(all_zero(p, c.bytes));
        memset(p, 0xA5, c.bytes);
        EXPECT_EQ(zv::pool_blocks_in_use(), inuse + 1);
        zv::free_work_block(p, c.bytes, mapped);
        EXPECT_EQ(zv::pool_blocks_in_use(), inuse);
        zv::fail_alloc_at(1);
        EXPECT_EQ(zv::work_block(c.bytes, &mapped), nullptr);
    }
    zv::free_work_block(nullptr, 0, 0);
}

TEST_F(PoolsTest, BufferRoutines) {
    char dst[8];
    memset(dst, 'z', sizeof dst);
    cpynbuf(dst, "abcdef", 4);
    EXPECT_STREQ(dst, "abc");
    EXPECT_EQ(dst[4], 'z');
    cpynbuf(dst, nullptr, 6);
    EXPECT_TRUE(all_zero(dst, 6));
    char buf[16] = {};
    char *w = buf;
    cpylod(&w, "abc", 3);
    cpylod(&w, "de", 2);
    EXPECT_EQ(w, buf + 5);
    EXPECT_STREQ(buf, "abcde");
    const char *r = buf;
    char out[4] = {};
    cpysrc(out, &r, 3);
    EXPECT_STREQ(out, "abc");
    EXPECT_EQ(r, buf + 3);
}

}  // namespace
