// Flush: cached bytes of one file or of every file put on disk.
#include <cerrno>
#include <cstring>

#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/files/vclose.h"
#include "tests/engine/files/files_util.h"

namespace {

using filestest::Bytes;
using filestest::file_bytes;
using filestest::slice;
using zv::IoKind;

class FlushTest : public filestest::FilesTest {
protected:
    // A data file (128-byte header, records from 200) with two records
    // written through the data cache.
    Bytes cached_records(int filno, const char *name, uint8_t seed) {
        EXPECT_EQ(CREDATX8(filno, name, 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
        Bytes rec(200);
        for (size_t i = 0; i < rec.size(); i++) rec[i] = uint8_t(seed + i);
        EXPECT_EQ(izvio81x(1, fcb(filno), 0, 200, rec.data(), 200, nullptr, 0), 0);
        EXPECT_LT(file_bytes(name).size(), 400u);  // still in the cache
        return rec;
    }
    Bytes read_back(int filno) {
        Bytes b(200);
        EXPECT_EQ(izvio81x(0, fcb(filno), 0, 200, b.data(), 200, nullptr, 0), 0);
        return b;
    }
};

TEST_F(FlushTest, OneFileReachesTheDiskAndIsSynced) {
    Bytes rec = cached_records(1, "a.dat", 1);
    long syncs = zv::io_calls(IoKind::Sync);
    EXPECT_EQ(ZVFLUSH(1), 0);
    EXPECT_EQ(zv::io_calls(IoKind::Sync), syncs + 1);
    EXPECT_EQ(slice(file_bytes("a.dat"), 200, 200), rec);
    EXPECT_EQ(read_back(1), rec);
    EXPECT_EQ(g()->pc.usedbufs, 1);  // written, still cached
}

TEST_F(FlushTest, EveryFileIsWrittenAndNoneSynced) {
    Bytes a = cached_records(1, "a.dat", 1);
    Bytes b = cached_records(2, "b.dat", 7);
    long syncs = zv::io_calls(IoKind::Sync);
    EXPECT_EQ(ZVFLUSH(-1), 0);
    EXPECT_EQ(zv::io_calls(IoKind::Sync), syncs);
    EXPECT_EQ(slice(file_bytes("a.dat"), 200, 200), a);
    EXPECT_EQ(slice(file_bytes("b.dat"), 200, 200), b);
    EXPECT_EQ(read_back(1), a);
    EXPECT_EQ(read_back(2), b);
}

TEST_F(FlushTest, FailedWriteBackIsReturnedPositive) {
    Bytes rec = cached_records(1, "a.dat", 3);
    zv::fault_set(IoKind::Write, 1, EIO);
    int rc = ZVFLUSH(1);
    EXPECT_EQ(rc, 37);
    EXPECT_EQ(zvGetUserErrorCode(), rc);
    zv::fault_reset();
    EXPECT_EQ(ZVFLUSH(1), 0);  // the page stayed dirty and goes now
    EXPECT_EQ(slice(file_bytes("a.dat"), 200, 200), rec);

    cached_records(2, "b.dat", 5);
    zv::fault_set(IoKind::Write, 1, EIO);
    EXPECT_EQ(ZVFLUSH(-1), 37);
}

TEST_F(FlushTest, SaveIsForcedForAFileThatDefersItsSyncs) {
    ASSERT_EQ(CREDATX8(1, "s.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    fcb(1)->crflags |= kCrDeferSync;
    long syncs = zv::io_calls(IoKind::Sync);
    EXPECT_EQ(zv::mbsave(fcb(1)), 0);
    EXPECT_EQ(zv::io_calls(IoKind::Sync), syncs);
    EXPECT_EQ(ZVFLUSH(1), 0);
    EXPECT_EQ(zv::io_calls(IoKind::Sync), syncs + 1);
    EXPECT_EQ(g()->saveflags & 0x2000, 0u);
}

TEST_F(FlushTest, ReadOnlyFileIsNotSynced) {
    ASSERT_EQ(CREDATX8(1, "r.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "r.dat", 0x808), 0);
    long syncs = zv::io_calls(IoKind::Sync);
    EXPECT_EQ(ZVFLUSH(1), 0);
    EXPECT_EQ(zv::io_calls(IoKind::Sync), syncs);
}

TEST_F(FlushTest, VirtuallyClosedFileIsReopenedToBeSynced) {
    ASSERT_EQ(CREDATX8(1, "v.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(ZVFLUSH(1), 0);  // nothing dirty is left to reopen it
    ASSERT_EQ(vtclosex(1), 1);
    ASSERT_EQ(fcb(1)->state, 'v');
    long syncs = zv::io_calls(IoKind::Sync);
    EXPECT_EQ(ZVFLUSH(1), 0);
    EXPECT_EQ(zv::io_calls(IoKind::Sync), syncs + 1);
    EXPECT_EQ(fcb(1)->state, 'y');
}

TEST_F(FlushTest, Refusals) {
    ASSERT_EQ(CREDATX8(1, "h.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    struct Case {
        uint16_t sftype;
        uint32_t member;
        int code;
    };
    const Case cases[] = {{kSfHost, 0, 48}, {kSfMember, 1, 23}};
    for (const Case &c : cases) {
        fcb(1)->hdr.base.sfiltyp = c.sftype;
        fcb(1)->hdr.base.supmbr = c.member;
        EXPECT_EQ(ZVFLUSH(1), c.code);
    }
    fcb(1)->hdr.base.sfiltyp = kSfPlain;
    fcb(1)->hdr.base.supmbr = 0;
    EXPECT_EQ(ZVFLUSH(5), 26);
    EXPECT_EQ(ZVFLUSHX(1, 1, 0), 0);
}

}  // namespace
