// Header fields by mode number: GETFIL, GETFILX, PUTHDR and PUTFIL.
#include <cstring>
#include <functional>

#include "engine/core/arith.h"
#include "tests/engine/files/files_util.h"

namespace {

using filestest::Bytes;
using filestest::file_bytes;
using filestest::le16;
using filestest::le32;

class HdrModeTest : public filestest::FilesTest {
protected:
    // A data file of record length 100 with a standard (128-byte) header.
    void standard(int filno, const char *name, uint16_t mode = 0x800, uint32_t step = 0) {
        ASSERT_EQ(CREDATX8(filno, name, 100, step, mode, 0, nullptr, nullptr, nullptr), 0);
    }
    // The same with an extended header (and 8-byte offsets when asked).
    void extended(int filno, const char *name, uint16_t mode = 0x800, bool wide = false) {
        XCREblk x{};
        x.mode = wide ? 0x42 : 0x02;
        ASSERT_EQ(CREDATX8(filno, name, 100, 0, mode, 0, nullptr, nullptr, &x), 0);
    }
    void reopen(int filno, const char *name, uint16_t mode) {
        ASSERT_EQ(CLSFIL(filno, 0), 0);
        ASSERT_EQ(OPNFIL(filno, name, mode), 0);
    }
};

TEST_F(HdrModeTest, GetfilReadsTheAttributes) {
    standard(1, "d.dat", 0x800, 4000);
    ASSERT_EQ(CREIDX(2, "i.idx", 12, 0, 1, 0, 0, 0), 0);
    struct Case {
        int filno, mode;
        int32_t value;
    };
    const Case cases[] = {
        {1, 0, 100},      // record length
        {1, 2, 0},        // fixed-length data
        {1, 3, 0x800},    // file mode
        {1, 4, -1},       // no ISAM map entry
        {1, 7, -1},
        {1, 18, -1},
        {1, 10, 200},     // logical size: header 128, first record at 200
        {1, 11, 200},
        {1, 12, 0},       // no nodes
        {1, 15, 0},       // no definition block
        {1, 16, 32},
        {1, 21, 8},       // the header's alignment byte
        {1, 22, 4000},
        {1, 23, 0},
        {1, 25, 0},
        {1, 31, 200},     // first record: 128-byte header rounded to 100
        {2, 1, 12},       // key length
        {2, 2, 1},
        {2, 5, 0},
        {2, 6, 1},        // duplicates allowed
        {2, 12, 1024},    // node size
        {2, 13, 0},
        {2, 14, 0x20},    // key padding
        {2, 29, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "file " << c.filno << " mode " << c.mode);
        zvSETHGH(7);
        EXPECT_EQ(GETFIL(c.filno, c.mode), c.value);
        EXPECT_EQ(zvGetUserErrorCode(), 0);
        EXPECT_EQ(zvGETHGH(), 0);
    }
}

TEST_F(HdrModeTest, GetfilFailures) {
    standard(1, "d.dat");
    ASSERT_EQ(CREIDX(2, "i.idx", 12, 0, 0, 0, 0, 0), 0);
    struct Case {
        int filno, mode, code;
    };
    const Case cases[] = {
        {1, 42, 116}, {1, 8, 116}, {1, 9, 116}, {1, 17, 116}, {1, 19, 116}, {1, -1, 116},
        {1, 32, 454}, {1, 30, 48},  {1, 38, 713}, {2, 38, 48},  {2, 31, 48},  {5, 0, 26},
        {-1, 0, 22},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "file " << c.filno << " mode " << c.mode);
        zvSETHGH(7);
        EXPECT_EQ(GETFIL(c.filno, c.mode), -1);
        EXPECT_EQ(zvGetUserErrorCode(), c.code);
        EXPECT_EQ(zvGETHGH(), 0);
    }
    ASSERT_EQ(CLSFIL(1, 0), 0);
    zvSETHGH(7);
    EXPECT_EQ(GETFIL(1, 0), -1);
    EXPECT_EQ(zvGETHGH(), 0);
}

TEST_F(HdrModeTest, LogicalSizeCarriesIntoTheHighWordOnce) {
    standard(1, "d.dat");
    ASSERT_EQ(PUTHDR(1, 0, 5), 0);  // last byte used 0xFFFFFFFF
    EXPECT_EQ(fcb(1)->hdr.base.numrec, 0xFFFFFFFFu);
    EXPECT_EQ(GETFIL(1, 10), 0);
    EXPECT_EQ(zvGETHGH(), 1);
    EXPECT_EQ(zvGETHGH(), 0);
    ASSERT_EQ(PUTHDR(1, 200, 5), 0);
}

TEST_F(HdrModeTest, GetfilxCopiesWhatFits) {
    standard(1, "d.dat");
    unsigned char buf[8];
    int32_t len = 0;
    EXPECT_EQ(GETFILX(1, 1, buf, &len), 153);
    EXPECT_EQ(len, 1);
    EXPECT_EQ(GETFILX(1, 1, buf, &len), 0);
    EXPECT_EQ(buf[0], 0);
    len = 8;
    EXPECT_EQ(GETFILX(1, 0, buf, &len), 0);
    EXPECT_EQ(len, 8);
    EXPECT_EQ(GETFILX(1, 2, buf, &len), 116);
    EXPECT_EQ(GETFILX(1, 0, nullptr, &len), 540);
    EXPECT_EQ(GETFILX(1, 0, buf, nullptr), 540);
}

TEST_F(HdrModeTest, SharedFileTakesOnlyModesFrom32To63) {
    standard(1, "d.dat");
    reopen(1, "d.dat", 0x801);
    EXPECT_EQ(PUTHDR(1, 5, 3), 62);
    EXPECT_EQ(PUTHDR(1, 1, 33), 0);
    EXPECT_EQ(PUTHDR(1, 0, 33), 0);
    EXPECT_EQ(PUTHDR(1, 0, 68), 62);  // the open mode is checked first
    reopen(1, "d.dat", 0x800);
    EXPECT_EQ(PUTHDR(1, 0, 68), 116);
    EXPECT_EQ(PUTHDR(1, 0, 39), 454);
    EXPECT_EQ(PUTHDR(1, 0, 8), 116);
    EXPECT_EQ(PUTHDR(1, 0, 37), 454);
}

TEST_F(HdrModeTest, HeaderFlagRules) {
    // File mode 0x10 alone cannot take 0x800.
    extended(1, "a.dat", 0x810);
    FILEHDRALL before = fcb(1)->hdr;
    EXPECT_EQ(PUTHDR(1, 0x800, 20), 99);
    EXPECT_EQ(memcmp(&before, &fcb(1)->hdr, sizeof before), 0);

    // With 0x30 the header flags gain 0x0810, and flmode2 takes the new
    // flags' bits 0x0E10 (the file's kind flags 0x600 among them).
    extended(2, "b.dat", 0x830);
    uint16_t flags = fcb(2)->hdr.base.hdrflags;
    uint32_t m2 = fcb(2)->hdr.ext.flmode2;
    EXPECT_EQ(PUTHDR(2, 0x800, 20), 0);
    EXPECT_EQ(fcb(2)->hdr.base.hdrflags, flags | 0x0810);
    EXPECT_EQ(fcb(2)->hdr.ext.flmode2, (m2 & ~0x0E10u) | ((flags | 0x0810u) & 0x0E10u));
    // Clearing 0x10 clears 0x800 with it.
    EXPECT_EQ(PUTHDR(2, 0x10, 21), 0);
    EXPECT_EQ(fcb(2)->hdr.base.hdrflags, flags);
    EXPECT_EQ(fcb(2)->hdr.ext.flmode2 & 0x0E10, flags & 0x0E10u);

    // Replacing the flags keeps the bit of 8-byte offsets.
    extended(3, "c.dat", 0x800, true);
    ASSERT_TRUE(fcb(3)->hdr.base.hdrflags & 0x40);
    EXPECT_EQ(PUTHDR(3, 0, 19), 0);
    EXPECT_EQ(fcb(3)->hdr.base.hdrflags, 0x42);

    // The leaf-reservation kinds exclude each other.
    before = fcb(3)->hdr;
    EXPECT_EQ(PUTHDR(3, 0x600, 20), 99);
    EXPECT_EQ(memcmp(&before, &fcb(3)->hdr, sizeof before), 0);
}

TEST_F(HdrModeTest, ExtendedFieldsNeedAnExtendedHeader) {
    standard(1, "s.dat");
    int32_t step32 = GETFIL(1, 27), m2 = GETFIL(1, 33);
    FILEHDRALL before = fcb(1)->hdr;
    EXPECT_EQ(PUTHDR(1, 1 << 20, 65), 734);
    EXPECT_EQ(PUTHDR(1, 1 << 17, 66), 734);
    EXPECT_EQ(GETFIL(1, 27), step32);
    EXPECT_EQ(GETFIL(1, 33), m2);
    EXPECT_EQ(memcmp(&before, &fcb(1)->hdr, sizeof before), 0);

    extended(2, "x.dat");
    EXPECT_EQ(PUTHDR(2, 599, 65), 667);  // not above the physical end
    EXPECT_EQ(PUTHDR(2, 600, 65), 0);
    EXPECT_EQ(GETFIL(2, 33) & 0x80000, 0x80000);
    EXPECT_EQ(PUTHDR(2, 1 << 17, 66), 0);
    EXPECT_EQ(GETFIL(2, 27), 1 << 17);
    EXPECT_EQ(GETFIL(2, 33) & 0x20000, 0x20000);
    EXPECT_EQ(PUTHDR(2, 0, 66), 0);
    EXPECT_EQ(GETFIL(2, 33) & 0x20000, 0);
}

TEST_F(HdrModeTest, StatusSwitchesAndTheirRefusals) {
    standard(1, "d.dat");
    ASSERT_EQ(CREIDX(2, "i.idx", 12, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(PUTHDR(1, 1, 45), 0);
    uint32_t st = fcb(1)->stflags;
    EXPECT_EQ(PUTHDR(1, 1, 50), 1000);
    EXPECT_EQ(fcb(1)->stflags, st);
    EXPECT_EQ(PUTHDR(1, 0, 45), 0);
    EXPECT_EQ(PUTHDR(1, 1, 50), 0);
    EXPECT_EQ(PUTHDR(2, 1, 23), 48);
    EXPECT_EQ(PUTHDR(2, 1, 33), 48);
    EXPECT_EQ(PUTHDR(2, 1, 40), 48);
    EXPECT_EQ(PUTHDR(1, 1, 40), 454);
    EXPECT_EQ(PUTHDR(1, 1, 67), 48);  // not a partitioned host
}

TEST_F(HdrModeTest, AcceptedChangesReachTheDiskUnlessTheModeDefersThem) {
    struct Case {
        int mode;
        uint32_t value;
        size_t off;
        int width;
        uint32_t stored;
    };
    const Case cases[] = {
        {1, 0x01020304, 20, 4, 0x01020304},  // serial number
        {2, 0x11223344, 112, 4, 0x11223344}, // close time
        {3, 77, 24, 4, 77},                  // active entries
        {4, 0x5566, 88, 4, 0x5566},          // creation time
        {5, 4000, 8, 4, 3999},               // last byte used: value - 1
        {6, 8000, 0, 4, 7999},               // physical end: value - 1
        {7, 1234, 4, 4, 1234},               // delete stack
        {17, 16, 62, 1, 16},                 // alignment
        {18, 3, 61, 1, 3},                   // flavor byte
        {22, 70000, 46, 2, 0xFFFF},          // extend size, clamped
        {22, 5000, 46, 2, 5000},
        {65, 1 << 20, 192, 4, 1 << 20},      // maximum size, low word
        {66, 1 << 17, 168, 4, 1 << 17},      // 32-bit extend size
    };
    for (uint16_t mode : {uint16_t(0x800), uint16_t(0x820)}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(testing::Message() << "file mode " << mode << " PUTHDR mode " << c.mode);
            extended(1, "p.dat", mode);
            Bytes old = file_bytes("p.dat");
            ASSERT_EQ(PUTHDR(1, int32_t(c.value), c.mode), 0);
            ASSERT_EQ(CLSFIL(1, 0), 0);
            Bytes b = file_bytes("p.dat");
            uint32_t got = c.width == 4 ? le32(b, c.off) : c.width == 2 ? le16(b, c.off) : b[c.off];
            uint32_t was = c.width == 4 ? le32(old, c.off) : c.width == 2 ? le16(old, c.off) : old[c.off];
            EXPECT_EQ(got, mode & 0x20 ? was : c.stored);
            ASSERT_EQ(dltfil("p.dat"), 0);
        }
    }
}

TEST_F(HdrModeTest, PutfilChecksAndWritesTheMode) {
    standard(1, "d.dat");
    ASSERT_EQ(CREIDX(2, "i.idx", 12, 0, 0, 1, 0, 0), 0);
    ASSERT_EQ(CREMEM(2, 12, 0, 0, 1), 0);
    EXPECT_EQ(PUTFIL(3, 0), 23);
    EXPECT_EQ(PUTFIL(1, 0x04), 48);
    EXPECT_EQ(PUTFIL(1, 0x8840), 0);
    Bytes b = file_bytes("d.dat");
    EXPECT_EQ(le16(b, 48), 0x8840);
    EXPECT_EQ(le16(b, 50), 0x8040);
    EXPECT_EQ(PUTFIL(1, 1), 0);  // the current mode, shared
    EXPECT_EQ(le16(file_bytes("d.dat"), 48), 0x8841);
    EXPECT_EQ(PUTFIL(1, 0x800), 62);
    reopen(1, "d.dat", 0x800);
    EXPECT_EQ(PUTFIL(1, 0x0802), 0);  // the permanent bit keeps the open's setting
    EXPECT_EQ(le16(file_bytes("d.dat"), 48) & 0x02, 0);
    EXPECT_EQ(zvSYSPUT(), 446);
}

}  // namespace
