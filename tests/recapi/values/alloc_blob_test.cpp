// Record-level allocator and blob values.
#include <cstring>

#include "engine/core/pools.h"
#include "tests/support/fixture.h"
#include "zarvo/zvdb.h"

// Lets the one huge allocation below come back NULL under AddressSanitizer
// instead of ending the process.
extern "C" const char *__asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

using zvtest::ZvTest;

class AllocTest : public ZvTest {
protected:
    void TearDown() override {
        zv::fail_alloc_at(0);
        ZvTest::TearDown();
    }
};

bool all_zero(const void *p, size_t n) {
    const unsigned char *b = static_cast<const unsigned char *>(p);
    for (size_t i = 0; i < n; i++)
        if (b[i]) return false;
    return true;
}

TEST_F(AllocTest, CountsOrSizesBelowOneGiveNoBlock) {
    uint64_t before = zv::platform_alloc_count();
    EXPECT_EQ(_zvdb_alloc(0, 10), nullptr);
    EXPECT_EQ(_zvdb_alloc(10, 0), nullptr);
    EXPECT_EQ(_zvdb_alloc(-1, 10), nullptr);
    EXPECT_EQ(_zvdb_alloc_ex(10, -5, 7), nullptr);
    EXPECT_EQ(zv::platform_alloc_count(), before);
}

TEST_F(AllocTest, BlocksAreZeroFilled) {
    void *p = _zvdb_alloc(7, 13);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(all_zero(p, 91));
    EXPECT_EQ(_zvdb_free(p), nullptr);
    void *q = _zvdb_alloc_ex(3, 4, 99);
    ASSERT_NE(q, nullptr);
    EXPECT_TRUE(all_zero(q, 12));
    _zvdb_free(q);
}

TEST_F(AllocTest, StringBuffers) {
    char *s = _zvdb_stralloc(0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s[0], '\0');
    _zvdb_free(s);
    EXPECT_EQ(_zvdb_stralloc(-1), nullptr);
    uint16_t *w = _zvdb_wstralloc(3);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(all_zero(w, 8));
    _zvdb_free(w);
    EXPECT_EQ(_zvdb_wstralloc(-1), nullptr);
    char *d = _zvdb_strdup("hello");
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d, "hello");
    _zvdb_free(d);
    EXPECT_EQ(_zvdb_strdup(nullptr), nullptr);
}

TEST_F(AllocTest, FreeRoutinesReturnNull) {
    EXPECT_EQ(_zvdb_free(nullptr), nullptr);
    uint64_t frees = zv::platform_free_count();
    EXPECT_EQ(_zvdb_free_ex(reinterpret_cast<void *>(uintptr_t{1}), 2), nullptr);
    EXPECT_EQ(zv::platform_free_count(), frees);
    void *p = _zvdb_alloc(1, 8);
    EXPECT_EQ(_zvdb_free_ex(p, 1), nullptr);
    EXPECT_EQ(zv::platform_free_count(), frees + 1);
}

TEST_F(AllocTest, ReallocGrowsByCopyNeverShrinks) {
    auto *p = static_cast<unsigned char *>(_zvdb_alloc(10, 8));
    ASSERT_NE(p, nullptr);
    std::memset(p, 0xAB, 80);
    EXPECT_EQ(_zvdb_realloc(p, 8, 10, 10), p);
    EXPECT_EQ(_zvdb_realloc(p, 8, 10, 3), p);
    auto *g = static_cast<unsigned char *>(_zvdb_realloc(p, 8, 10, 20));
    ASSERT_NE(g, nullptr);
    for (int i = 0; i < 80; i++) ASSERT_EQ(g[i], 0xAB);
    EXPECT_TRUE(all_zero(g + 80, 80));
    // A failed growth leaves the old block valid.
    zv::fail_alloc_at(1);
    EXPECT_EQ(_zvdb_realloc(g, 8, 20, 40), nullptr);
    EXPECT_EQ(g[79], 0xAB);
    // An old byte count below 1 gives NULL and leaves the block.
    EXPECT_EQ(_zvdb_realloc(g, 8, 0, 40), nullptr);
    _zvdb_free(g);

    void *fresh = _zvdb_realloc(nullptr, 8, 0, 4);
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(all_zero(fresh, 32));
    _zvdb_free(fresh);
}

TEST_F(AllocTest, HugeProductIsNullOrWhole) {
    // 65536 x 65537 passes 2^32: the block is refused or has every byte.
    auto *p = static_cast<unsigned char *>(_zvdb_alloc(65536, 65537));
    if (p) {
        size_t last = size_t(65536) * 65537 - 1;
        EXPECT_EQ(p[last], 0);
        p[last] = 1;
        _zvdb_free(p);
    }
}

TEST_F(AllocTest, BlobLifecycle) {
    tagZVBLOB *b = zvdbBlobAlloc(8);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->used, 0);
    EXPECT_EQ(b->allocated, 8);
    EXPECT_TRUE(all_zero(b->data, 8));
    void *buf = b->data;
    EXPECT_EQ(zvdbBlobSet(b, "abc", 3), 0);
    EXPECT_EQ(zvdbBlobGetSize(b), 3);
    EXPECT_EQ(zvdbBlobGetData(b), buf);  // fits: the buffer is kept
    EXPECT_EQ(b->allocated, 8);
    EXPECT_EQ(zvdbBlobSet(b, "0123456789", 10), 0);
    EXPECT_EQ(b->allocated, 10);
    EXPECT_EQ(std::memcmp(zvdbBlobGetData(b), "0123456789", 10), 0);
    EXPECT_EQ(zvdbBlobClear(b), 0);
    EXPECT_EQ(b->data, nullptr);
    EXPECT_EQ(b->used, 0);
    EXPECT_EQ(b->allocated, 0);
    zvdbBlobFree(b);
    zvdbBlobFree(nullptr);

    tagZVBLOB *e = zvdbBlobAlloc(0);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->data, nullptr);
    EXPECT_EQ(zvdbBlobSet(e, "x", 0), 4006);
    EXPECT_EQ(zvdbBlobSet(e, nullptr, 1), 4007);
    EXPECT_EQ(zvdbBlobSet(nullptr, "x", 1), 4007);
    EXPECT_EQ(zvdbBlobClear(nullptr), 4007);
    EXPECT_EQ(zvdbBlobGetData(nullptr), nullptr);
    EXPECT_EQ(zvdbBlobGetSize(nullptr), 0);
    // No memory for a new buffer: 4001 and an empty blob.
    zv::fail_alloc_at(1);
    EXPECT_EQ(zvdbBlobSet(e, "xyz", 3), 4001);
    EXPECT_EQ(e->data, nullptr);
    EXPECT_EQ(e->used, 0);
    zvdbBlobFree(e);

    zv::fail_alloc_at(2);  // the record comes, its buffer does not
    uint64_t frees = zv::platform_free_count();
    EXPECT_EQ(zvdbBlobAlloc(16), nullptr);
    EXPECT_EQ(zv::platform_free_count(), frees + 1);
}

TEST_F(AllocTest, BlobOrder) {
    auto make = [](const char *s) {
        tagZVBLOB *b = zvdbBlobAlloc(0);
        zvdbBlobSet(b, s, int32_t(std::strlen(s)));
        return b;
    };
    tagZVBLOB *ab = make("ab"), *abc = make("abc"), *abd = make("abd"), *zz = make("zz");
    struct Case {
        tagZVBLOB *a, *b;
        int want;
    } cases[] = {
        {ab, abc, -1}, {zz, abc, -1}, {abd, abc, 1}, {abc, abc, 0},
        {nullptr, ab, -1}, {ab, nullptr, 1}, {nullptr, nullptr, 0},
    };
    for (const Case &c : cases) EXPECT_EQ(zvdbBlobCmp(c.a, c.b), c.want);
    tagZVBLOB hollow = {3, nullptr, 0};  // claims bytes it does not hold
    EXPECT_EQ(zvdbBlobCmp(&hollow, abc), -1);
    EXPECT_EQ(zvdbBlobCmp(abc, &hollow), 1);
    for (tagZVBLOB *b : {ab, abc, abd, zz}) zvdbBlobFree(b);
}

}  // namespace
