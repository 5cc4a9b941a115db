// The page-cipher road of the platform transfer: the split at the cipher
// start, whole aligned units, read-modify-write, the undo after every
// enciphered write, and the hook's failures.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/fileio.h"
#include "engine/core/pools.h"
#include "tests/engine/core/platfix.h"

namespace {

using zv::IoKind;
using zvtest::read_file;

struct HookCall {
    int op;
    uint64_t off;
    int32_t len;
};

// State of the test hook.
std::vector<HookCall> g_calls;
bool g_copy = false;      // operation 1 enciphers a copy instead of the caller's buffer
bool g_refuse = false;    // operation 1 returns null
bool g_refuse_read = false; // operation 2 returns null
bool g_misshapen = false; // a call that was not whole units aligned on file offsets
std::vector<unsigned char> g_work;

// Each unit is XOR-ed with its own file offset (mixed with a constant, so
// that no unit is left unchanged).
unsigned char key_byte(uint64_t off) {
    uint32_t k = static_cast<uint32_t>(off & ~uint64_t{2047}) ^ 0x5A5A5A5Au;
    return static_cast<unsigned char>(k >> (8 * (off & 3)));
}

void xor_units(unsigned char *p, uint64_t off, int32_t len) {
    for (int32_t i = 0; i < len; i++) p[i] ^= key_byte(off + i);
}

void *test_hook(void *buf, uint32_t hi, uint32_t lo, int32_t len, int op, uint32_t, void *, int32_t,
                int cls) {
    uint64_t off = (uint64_t{hi} << 32) | lo;
    g_calls.push_back({op, off, len});
    if (len <= 0 || len % 2048 || off % 2048 || cls < 2) g_misshapen = true;
    unsigned char *p = static_cast<unsigned char *>(buf);
    switch (op) {
    case 1:
        if (g_refuse) return nullptr;
        if (g_copy) {
            g_work.assign(p, p + len);
            xor_units(g_work.data(), off, len);
            return g_work.data();
        }
        xor_units(p, off, len);
        return p;
    case 3:
        if (!g_copy) xor_units(p, off, len);
        return p;
    default:
        if (g_refuse_read) return nullptr;
        xor_units(p, off, len);
        return p;
    }
}

class CipherTest : public zvtest::PlatTest {
protected:
    void SetUp() override {
        PlatTest::SetUp();
        g_calls.clear();
        g_copy = g_refuse = g_refuse_read = g_misshapen = false;
        g->pagehook = test_hook;
        f = make_fcb("e.dat");
        f->fd = zv::mbcrat(f.get());
        ASSERT_GE(f->fd, 0);
        f->cipherclass = 2;
        f->encstart = 4096;
    }
    void TearDown() override {
        EXPECT_FALSE(g_misshapen) << "the hook was given a partial or unaligned unit";
        if (f->fd >= 0) zv::mbclos(f.get());
        PlatTest::TearDown();
    }
    int io(int mode, uint64_t off, void *buf, uint32_t len, uint32_t *count = nullptr) {
        return zv::zvsysio81(mode, f.get(), 0, static_cast<uint32_t>(off >> 32),
                             static_cast<uint32_t>(off), buf, len, count);
    }
    static std::vector<unsigned char> pattern(size_t n, unsigned seed) {
        std::vector<unsigned char> v(n);
        for (size_t i = 0; i < n; i++) v[i] = static_cast<unsigned char>(i * 7 + seed);
        return v;
    }
    // The file's bytes [off, off + n) as stored.
    static std::string disk(uint64_t off, size_t n) { return read_file("e.dat").substr(off, n); }
    static std::string str(const std::vector<unsigned char> &v) { return std::string(v.begin(), v.end()); }

    std::unique_ptr<FCB> f;
};

TEST_F(CipherTest, StraddlingWriteKeepsTheLowerPartPlain) {
    for (bool copy : {false, true}) {
        g_copy = copy;
        auto data = pattern(8192, copy ? 3 : 1);
        auto original = data;
        uint32_t count = 0;
        ASSERT_EQ(io(1, 2048, data.data(), 8192, &count), 0);
        EXPECT_EQ(count, 8192u);
        EXPECT_EQ(data, original) << "the caller's buffer changed";
        // Below the cipher start the bytes are stored as they are; from it
        // on, each unit is enciphered with its own offset.
        EXPECT_EQ(disk(2048, 2048), str(original).substr(0, 2048));
        std::string stored = disk(4096, 6144);
        std::vector<unsigned char> expect(original.begin() + 2048, original.end());
        xor_units(expect.data(), 4096, 6144);
        EXPECT_EQ(stored, str(expect));

        std::vector<unsigned char> back(8192);
        ASSERT_EQ(io(0, 2048, back.data(), 8192, &count), 0);
        EXPECT_EQ(count, 8192u);
        EXPECT_EQ(back, original);
    }
}

TEST_F(CipherTest, UnalignedReadReadsTheCoveringUnit) {
    auto data = pattern(2048, 5);
    ASSERT_EQ(io(1, 4096, data.data(), 2048), 0);
    g_calls.clear();
    zv::fault_reset();
    char out[10];
    uint32_t count = 0;
    ASSERT_EQ(io(0, 4096 + 3, out, 10, &count), 0);
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(std::string(out, 10), str(data).substr(3, 10));
    EXPECT_EQ(zv::io_calls(IoKind::Read), 1);
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].op, 2);
    EXPECT_EQ(g_calls[0].off, 4096u);
    EXPECT_EQ(g_calls[0].len, 2048);
}

TEST_F(CipherTest, UnalignedWriteRewritesTheCoveringUnits) {
    auto unit = pattern(4096, 9);
    ASSERT_EQ(io(1, 4096, unit.data(), 4096), 0);
    // Ten bytes across the border of two units, and ten bytes past the end.
    char ten[10];
    memcpy(ten, "0123456789", 10);
    uint32_t count = 0;
    ASSERT_EQ(io(1, 6144 - 4, ten, 10, &count), 0);
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(std::string(ten, 10), "0123456789");
    ASSERT_EQ(io(1, 8192 + 100, ten, 10, &count), 0);

    std::vector<unsigned char> back(6144);
    ASSERT_EQ(io(0, 4096, back.data(), 6144, &count), 0);
    std::vector<unsigned char> expect = unit;
    expect.resize(6144, 0xFF);
    memcpy(expect.data() + 2048 - 4, "0123456789", 10);
    memcpy(expect.data() + 4096 + 100, "0123456789", 10);
    EXPECT_EQ(back, expect);
    EXPECT_EQ(read_file("e.dat").size(), 10240u);
}

TEST_F(CipherTest, FailedWriteRestoresTheCallerBuffer) {
    for (bool copy : {false, true}) {
        g_copy = copy;
        g_calls.clear();
        auto data = pattern(4096, 11);
        auto original = data;
        zv::fault_set(IoKind::Write, 1, ENOSPC);
        uint32_t count = 9;
        EXPECT_EQ(io(1, 4096, data.data(), 4096, &count), 37);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(data, original);
        ASSERT_EQ(g_calls.size(), 2u);
        EXPECT_EQ(g_calls[0].op, 1);
        EXPECT_EQ(g_calls[1].op, 3);
        // An unaligned write fails the same way.
        zv::fault_set(IoKind::Write, 1, ENOSPC);
        EXPECT_EQ(io(1, 4096 + 5, data.data(), 100, &count), 37);
        EXPECT_EQ(data, original);
    }
}

TEST_F(CipherTest, HookFailuresGiveTheirCodes) {
    char buf[6144] = {};
    g_refuse = true;
    EXPECT_EQ(io(1, 4096, buf, 2048), 697);
    EXPECT_EQ(zv::io_calls(IoKind::Write), 0);
    g_refuse = false;
    g->pagehook = nullptr;
    EXPECT_EQ(io(1, 4096, buf, 2048), 606);
    EXPECT_EQ(io(0, 0, buf, 2048 * 3), 606);
    EXPECT_EQ(zv::io_calls(IoKind::Write), 0);
    EXPECT_EQ(zv::io_calls(IoKind::Read), 0);
    // Below the cipher start no hook is needed.
    EXPECT_EQ(io(1, 0, buf, 4096), 0);
    // A hook that cannot decipher delivers nothing.
    g->pagehook = test_hook;
    ASSERT_EQ(io(1, 4096, buf, 2048), 0);
    g_refuse_read = true;
    uint32_t count = 9;
    EXPECT_EQ(io(0, 4096, buf, 2048, &count), 697);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(io(0, 4096 + 1, buf, 10, &count), 697);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(io(1, 4096 + 1, buf, 10, &count), 697);
    EXPECT_EQ(count, 0u);
}

TEST_F(CipherTest, PlainModeAndLowClassesBypassTheHook) {
    auto data = pattern(2048, 13);
    ASSERT_EQ(io(1 | zv::kIoPlain, 4096, data.data(), 2048), 0);
    EXPECT_EQ(disk(4096, 2048), str(data));
    f->cipherclass = 1;
    ASSERT_EQ(io(1, 6144, data.data(), 2048), 0);
    EXPECT_EQ(disk(6144, 2048), str(data));
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(CipherTest, UnalignedStartBeginsAtTheNextUnit) {
    f->encstart = 3000;
    auto data = pattern(6144, 17);
    ASSERT_EQ(io(1, 0, data.data(), 6144), 0);
    EXPECT_EQ(disk(0, 4096), str(data).substr(0, 4096));
    EXPECT_NE(disk(4096, 2048), str(data).substr(4096));
    std::vector<unsigned char> back(6144);
    ASSERT_EQ(io(0, 0, back.data(), 6144), 0);
    EXPECT_EQ(back, data);
}

TEST_F(CipherTest, ShortReadsDecipherWhatWasRead) {
    auto data = pattern(2048, 19);
    ASSERT_EQ(io(1, 4096, data.data(), 2048), 0);  // the file ends at 6144
    std::vector<unsigned char> back(4096);
    uint32_t count = 0;
    EXPECT_EQ(io(0, 4096, back.data(), 4096, &count), 36);
    EXPECT_EQ(count, 2048u);
    EXPECT_EQ(std::vector<unsigned char>(back.begin(), back.begin() + 2048), data);
    // Unaligned: part of the wanted bytes, then none of them.
    char ten[10];
    EXPECT_EQ(io(0, 6144 - 5, ten, 10, &count), 36);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(std::string(ten, 5), str(data).substr(2043));
    EXPECT_EQ(io(0, 8192 + 7, ten, 10, &count), 36);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(g->sysiocod, 0);
}

TEST_F(CipherTest, LargeUnalignedWriteStagesOnTheHeap) {
    auto data = pattern(5000, 23);
    uint64_t allocs = zv::platform_alloc_count(), frees = zv::platform_free_count();
    ASSERT_EQ(io(1, 4096 + 100, data.data(), 5000), 0);
    EXPECT_EQ(zv::platform_alloc_count(), allocs + 1);
    EXPECT_EQ(zv::platform_free_count(), frees + 1);
    std::vector<unsigned char> back(5000);
    ASSERT_EQ(io(0, 4096 + 100, back.data(), 5000), 0);
    EXPECT_EQ(back, data);
    zv::fault_reset();
    zv::fail_alloc_at(1);
    EXPECT_EQ(io(1, 4096 + 100, data.data(), 5000), 695);
    EXPECT_EQ(zv::io_calls(IoKind::Write), 0);
}

}  // namespace
