// Superfile host descriptors: names, create under the prefix, open modes,
// close and drop.
#include <cerrno>
#include <filesystem>

#include "engine/core/platform.h"
#include "recapi/base/super.h"
#include "tests/recapi/base/basefix.h"

namespace {

using basetest::EngineTest;
using SuperTest = EngineTest;

TEST_F(SuperTest, DescriptorDefaultsAndNames) {
    ZVDBSUPER *d = _zvdbSuperAlloc(session_);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->filno, -1);
    EXPECT_EQ(d->createsel, 0);
    EXPECT_EQ(d->createkind, 3);
    EXPECT_EQ(d->createflags, 2);
    EXPECT_EQ(_zvdbSuperIsOpen(d), 0);
    EXPECT_EQ(_zvdbSuperGetName(d), nullptr);
    ASSERT_EQ(_zvdbSuperSetName(d, "dir/", "host", ".sf"), 0);
    EXPECT_STREQ(_zvdbSuperGetName(d), "dir/host.sf");
    ASSERT_EQ(_zvdbSuperSetName(d, "", "host", ".sf"), 0);
    EXPECT_STREQ(_zvdbSuperGetName(d), "host.sf");
    ASSERT_EQ(_zvdbSuperSetPath(d, "other.sf"), 0);
    EXPECT_STREQ(_zvdbSuperGetName(d), "other.sf");
    EXPECT_EQ(_zvdbSuperSetPath(d, nullptr), 4008);
    EXPECT_EQ(_zvdbSuperSetName(d, nullptr, "h", ".sf"), 4007);
    EXPECT_EQ(_zvdbSuperOpen(nullptr, 1), 4007);
    EXPECT_EQ(_zvdbSuperClose(nullptr), 4007);
    EXPECT_EQ(_zvdbSuperCreate(nullptr), 4007);
    EXPECT_EQ(_zvdbSuperGetName(nullptr), nullptr);
    EXPECT_EQ(_zvdbSuperClose(d), 0);  // closed already
    _zvdbSuperFree(d);
    _zvdbSuperFree(nullptr);
}

TEST_F(SuperTest, CreatedUnderThePrefixInOneMode) {
    for (int flags : {0, 1, 2}) {
        SCOPED_TRACE(flags);
        ZVDBSUPER *d = _zvdbSuperAlloc(session_);
        ASSERT_EQ(_zvdbSuperSetName(d, "", "host", ".sf"), 0);
        d->createflags = flags;
        ASSERT_EQ(_zvdbSuperCreate(d), 0);
        EXPECT_TRUE(std::filesystem::exists("pre/host.sf"));
        ASSERT_EQ(_zvdbSuperIsOpen(d), 1);
        EXPECT_EQ(_zvdbSuperIsExclusive(d), 1);
        EXPECT_EQ(GETFIL(d->filno, 3) & ~0x4, 514);  // a host is variable-length too
        EXPECT_EQ(GETFIL(d->filno, 26) & 0x02, 0x02);  // extended header
        EXPECT_EQ(_zvdbSuperDrop(d), 0);
        EXPECT_EQ(_zvdbSuperIsOpen(d), 0);
        EXPECT_FALSE(std::filesystem::exists("pre/host.sf"));
        _zvdbSuperFree(d);
    }
    ZVDBSUPER *d = _zvdbSuperAlloc(session_);
    ASSERT_EQ(_zvdbSuperSetName(d, "", "host", ".sf"), 0);
    d->createsel = 1;
    d->createkind = 2;
    EXPECT_EQ(_zvdbSuperCreate(d), 4025);
    EXPECT_FALSE(std::filesystem::exists("pre/host.sf"));
    d->createkind = 0;
    ASSERT_EQ(_zvdbSuperCreate(d), 0);
    EXPECT_EQ(GETFIL(d->filno, 3) & ~0x4, 514);
    EXPECT_EQ(_zvdbSuperCreate(d), 19);  // exists
    _zvdbSuperFree(d);  // closes it
    EXPECT_TRUE(std::filesystem::exists("pre/host.sf"));
}

TEST_F(SuperTest, OpenModes) {
    ZVDBSUPER *d = _zvdbSuperAlloc(session_);
    ASSERT_EQ(_zvdbSuperSetName(d, "", "host", ".sf"), 0);
    ASSERT_EQ(_zvdbSuperCreate(d), 0);
    ASSERT_EQ(_zvdbSuperClose(d), 0);
    EXPECT_EQ(d->filno, -1);

    ASSERT_EQ(_zvdbSuperOpen(d, 1), 0);
    int exclusive_no = d->filno;
    EXPECT_EQ(GETFIL(d->filno, 3) & 1, 0);  // 512: not shared
    EXPECT_EQ(_zvdbSuperIsExclusive(d), 1);
    ASSERT_EQ(_zvdbSuperReopen(d, 1), 0);  // open that way already
    EXPECT_EQ(d->filno, exclusive_no);
    ASSERT_EQ(_zvdbSuperReopen(d, 0), 0);
    EXPECT_EQ(GETFIL(d->filno, 3) & 1, 1);  // 513: shared
    EXPECT_EQ(_zvdbSuperIsExclusive(d), 0);
    EXPECT_EQ(_zvdbSuperDrop(d), 0);  // reopened exclusively to delete
    EXPECT_FALSE(std::filesystem::exists("pre/host.sf"));

    EXPECT_EQ(_zvdbSuperOpen(d, 1), 12);  // gone
    EXPECT_EQ(d->filno, -1);
    _zvdbSuperFree(d);
}

// The engine frees a file number whatever its close answers: a close that
// could not write is reported, and the descriptor is closed all the same.
TEST_F(SuperTest, AFailedCloseIsReportedAndLeavesTheDescriptorClosed) {
    ZVDBSUPER *d = _zvdbSuperAlloc(session_);
    ASSERT_EQ(_zvdbSuperSetName(d, "", "host", ".sf"), 0);
    ASSERT_EQ(_zvdbSuperCreate(d), 0);
    zv::fault_set(zv::IoKind::Write, 1, EIO, true);
    EXPECT_NE(_zvdbSuperClose(d), 0);
    zv::fault_reset();
    EXPECT_EQ(d->filno, -1);
    EXPECT_EQ(_zvdbSuperIsOpen(d), 0);
    EXPECT_EQ(_zvdbSuperClose(d), 0);
    _zvdbSuperFree(d);
}

}  // namespace
