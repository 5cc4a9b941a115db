// Holds: a call's exclusive locks on files, kept across its own opens,
// closes and renames, and refusing every other open meanwhile.
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/core/fileio.h"
#include "engine/core/filehold.h"
#include "tests/engine/files/files_util.h"
#include "tests/support/child.h"

namespace {

// OPNFIL of `name` in another process: its code and system error.
zvtest::ChildResult open_elsewhere(const std::string &name, uint16_t mode = 0) {
    return zvtest::run_in_child([name, mode] {
        zvtest::ChildResult r;
        if (zvtest::start_engine(8, 20, 8, 16) != 0) return r;
        r.rc = OPNFIL(1, name.c_str(), mode);
        r.sys = zvGetSystemErrorCode();
        zvtest::stop_engine();
        return r;
    });
}

bool refused(const zvtest::ChildResult &r) { return r.ok && r.rc == 12 && (r.sys == EAGAIN || r.sys == EACCES); }

class FileHoldTest : public filestest::FilesTest {
protected:
    void make(const char *name) {
        ASSERT_EQ(CREDATX8(1, name, 64, 0, 0x800, 0, nullptr, nullptr, ZV_XCRE_DEFAULT), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
    }
};

// While held, the file refuses other processes' opens (shared or
// exclusive), also under the name a rename gave it, and the holder's own
// opens, shared or exclusive, work and write; released, it opens again.
TEST_F(FileHoldTest, AHeldFileRefusesOthersAndServesItsHolder) {
    make("a.dat");
    zv::HeldFiles held;
    ASSERT_EQ(held.take("a.dat"), 0);
    EXPECT_TRUE(refused(open_elsewhere("a.dat")));
    EXPECT_TRUE(refused(open_elsewhere("a.dat", 0x0001)));

    for (uint16_t mode : {uint16_t(0), uint16_t(0x0001)}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(OPNFIL(2, "a.dat", mode), 0);
        char rec[64] = "held";
        const uint32_t at = NEWREC(2);
        ASSERT_NE(at, 0u);
        EXPECT_EQ(WRTREC(2, at, rec), 0);
        EXPECT_EQ(CLSFIL(2, 0), 0);
        // The holder's close gave up nothing.
        EXPECT_TRUE(refused(open_elsewhere("a.dat")));
    }
    ASSERT_EQ(rename("a.dat", "b.dat"), 0);
    EXPECT_TRUE(refused(open_elsewhere("b.dat")));
    held.release();
    const zvtest::ChildResult r = open_elsewhere("b.dat");
    EXPECT_TRUE(r.ok && r.rc == 0) << r.rc;
}

// Another instance of this process is another open: refused too. A hold
// taken twice by one instance needs both references back.
TEST_F(FileHoldTest, AnotherInstanceIsRefusedAndReferencesCount) {
    make("a.dat");
    INSTGV *mine = zvWNGV;
    zv::HoldRef one, two;
    ASSERT_EQ(zv::hold_file("a.dat", &one), 0);
    ASSERT_EQ(zv::hold_file("./a.dat", &two), 0);
    EXPECT_EQ(mine->nholds, 1);
    ASSERT_EQ(REGZARVO("other"), 0);
    ASSERT_EQ(zvtest::start_engine(8, 20, 8, 16), 0);
    EXPECT_EQ(OPNFIL(1, "a.dat", 0), 12);
    zv::release_hold(one);  // from another current instance: still the holder's
    EXPECT_EQ(OPNFIL(1, "a.dat", 0), 12);
    zv::release_hold(two);
    EXPECT_EQ(mine->nholds, 0);
    EXPECT_EQ(OPNFIL(1, "a.dat", 0), 0);
    EXPECT_EQ(CLSFIL(1, 0), 0);
    zvtest::stop_engine();
    ASSERT_EQ(UNRZARVO("other"), 0);
    ASSERT_EQ(SWTZARVO(mine->id), 0);
}

// A hold taken over from the holder's own exclusive open outlives that
// open's close; a hold is refused while another open has the file.
TEST_F(FileHoldTest, AnOpenHandsItsFileToAHold) {
    make("a.dat");
    ASSERT_EQ(OPNFIL(2, "a.dat", 0x0001), 0);
    zv::HoldRef ref;
    ASSERT_EQ(zv::hold_descriptor(fcb(2)->fd, &ref), 0);
    ASSERT_EQ(CLSFIL(2, 0), 0);
    EXPECT_TRUE(refused(open_elsewhere("a.dat")));
    zv::release_hold(ref);
    EXPECT_EQ(open_elsewhere("a.dat").rc, 0);

    // Held by a shared open of another instance: the hold is refused.
    INSTGV *mine = zvWNGV;
    ASSERT_EQ(REGZARVO("other"), 0);
    ASSERT_EQ(zvtest::start_engine(8, 20, 8, 16), 0);
    ASSERT_EQ(OPNFIL(1, "a.dat", 0x0000), 0);
    ASSERT_EQ(SWTZARVO(mine->id), 0);
    EXPECT_EQ(zv::hold_file("a.dat", &ref), 12);
    EXPECT_TRUE(mine->sysiocod == EAGAIN || mine->sysiocod == EACCES);
    EXPECT_EQ(mine->nholds, 0);
    ASSERT_EQ(SWTZARVO("other"), 0);
    zvtest::stop_engine();
    ASSERT_EQ(UNRZARVO("other"), 0);
    ASSERT_EQ(SWTZARVO(mine->id), 0);
}

// Only regular files are held: a FIFO answers at once, a missing file too.
TEST_F(FileHoldTest, OnlyRegularFilesAreHeld) {
    ASSERT_EQ(mkfifo("pipe.dat", 0600), 0);
    zv::HoldRef ref;
    EXPECT_EQ(zv::hold_file("pipe.dat", &ref), 12);
    EXPECT_EQ(g()->sysiocod, EINVAL);
    EXPECT_EQ(zv::hold_file("missing.dat", &ref), 12);
    EXPECT_EQ(g()->sysiocod, ENOENT);
    EXPECT_EQ(g()->nholds, 0);
}

// A hold of a name the engine made up (a rebuild's new file) neither follows
// a link nor passes over one: 12 with ELOOP; other holds follow as before.
TEST_F(FileHoldTest, AMadeUpNameThatIsALinkIsNotHeld) {
    make("a.dat");
    ASSERT_EQ(symlink("a.dat", "Z1234567"), 0);
    zv::HoldRef ref;
    {
        zv::FoundNames made;
        EXPECT_EQ(zv::hold_file_if_there("Z1234567", &ref), 12);
        EXPECT_EQ(g()->sysiocod, ELOOP);
        EXPECT_EQ(zv::hold_file("Z1234567", &ref), 12);
        EXPECT_EQ(g()->nholds, 0);
        EXPECT_EQ(zv::hold_file_if_there("missing.dat", &ref), 1);
    }
    ASSERT_EQ(zv::hold_file("Z1234567", &ref), 0);
    EXPECT_EQ(g()->nholds, 1);
    zv::release_hold(ref);
    // The engine's open under the rule refuses the link; its block keeps
    // the rule.
    {
        zv::FoundNames made;
        EXPECT_NE(OPNFIL(1, "Z1234567", 0), 0);
        EXPECT_EQ(g()->sysiocod, ELOOP);
        ASSERT_EQ(OPNFIL(1, "a.dat", 0), 0);
    }
    EXPECT_EQ(fcb(1)->foundname, 1);
    EXPECT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "Z1234567", 0), 0);
    EXPECT_EQ(fcb(1)->foundname, 0);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

// When a hold ends, the holder's opens still on the file keep the locks
// their opens ask for: a shared open whose description the hold took over
// is shared again (others read beside it, none writes), and an open made
// while the file was held takes its exclusive lock (others are refused).
TEST_F(FileHoldTest, TheHoldersOpensKeepTheirLocksWhenTheHoldEnds) {
    make("a.dat");
    make("b.dat");
    ASSERT_EQ(OPNFIL(1, "a.dat", 0x0001), 0);
    {
        zv::HeldFiles held;
        ASSERT_EQ(held.take_fd(fcb(1)->fd), 0);
        EXPECT_TRUE(refused(open_elsewhere("a.dat", 0x0001)));
        ASSERT_EQ(held.take("b.dat"), 0);
        ASSERT_EQ(OPNFIL(2, "b.dat", 0), 0);
    }
    const zvtest::ChildResult shared = open_elsewhere("a.dat", 0x0001);
    EXPECT_TRUE(shared.ok && shared.rc == 0) << shared.rc;
    EXPECT_TRUE(refused(open_elsewhere("a.dat")));
    EXPECT_TRUE(refused(open_elsewhere("b.dat", 0x0001)));
    EXPECT_EQ(fcb(2)->outdated, 0);
    EXPECT_EQ(CLSFIL(1, 0), 0);
    EXPECT_EQ(CLSFIL(2, 0), 0);
    EXPECT_EQ(open_elsewhere("b.dat").rc, 0);
}

}  // namespace

namespace {

// The public calls: a hold of an open file number outlives the file's
// close, its rename and its second name, and refuses other processes
// until it is given back; a hold by name opens no symbolic link, no FIFO
// and no missing file, each refused with its system error.
TEST_F(FileHoldTest, ThePublicCallsHoldAFileAcrossItsCloseAndItsNames) {
    make("a.dat");
    ASSERT_EQ(OPNFIL(2, "a.dat", 0), 0);
    ZVFILEHOLD h;
    ASSERT_EQ(zvHoldOpenFile(2, &h), 0);
    ASSERT_EQ(CLSFIL(2, 0), 0);
    ASSERT_EQ(link("a.dat", "b.dat"), 0);
    ASSERT_EQ(unlink("a.dat"), 0);
    EXPECT_TRUE(refused(open_elsewhere("b.dat")));
    EXPECT_EQ(zvHoldOpenFile(2, &h), 26);
    ASSERT_EQ(zvReleaseFileHold(&h), 0);
    EXPECT_EQ(zvReleaseFileHold(&h), 26);
    EXPECT_EQ(open_elsewhere("b.dat").rc, 0);

    ZVFILEHOLD byname;
    ASSERT_EQ(zvHoldFileName("b.dat", &byname), 0);
    EXPECT_TRUE(refused(open_elsewhere("b.dat")));
    EXPECT_EQ(byname.dev, h.dev);
    EXPECT_EQ(byname.ino, h.ino);
    ASSERT_EQ(zvReleaseFileHold(&byname), 0);

    ASSERT_EQ(symlink("b.dat", "c.dat"), 0);
    ASSERT_EQ(mkfifo("pipe.dat", 0600), 0);
    const struct {
        const char *name;
        int sys;
    } refusals[] = {{"c.dat", ELOOP}, {"pipe.dat", EINVAL}, {"missing.dat", ENOENT}};
    for (const auto &c : refusals) {
        EXPECT_EQ(zvHoldFileName(c.name, &byname), 12) << c.name;
        EXPECT_EQ(zvGetSystemErrorCode(), c.sys) << c.name;
    }
    EXPECT_EQ(g()->nholds, 0);
}

}  // namespace
