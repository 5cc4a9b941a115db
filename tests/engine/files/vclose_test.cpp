// Virtual close: descriptors beyond the instance's budget are released and
// the files reopened behind the caller.
#include <cstring>
#include <string>

#include "engine/core/centralio.h"
#include "engine/files/vclose.h"
#include "engine/files/fcbops.h"
#include "tests/engine/files/files_util.h"

namespace {

using filestest::Bytes;

class VcloseTest : public filestest::FilesTest {
protected:
    void make(int filno, const char *name) {
        ASSERT_EQ(CREDATX8(filno, name, 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
        ASSERT_EQ(CLSFIL(filno, 0), 0);
    }
    int ring_size() {
        int n = 0;
        for (FCB *f = g()->ringfront; f; f = f->ringnext) n++;
        return n;
    }
    std::string log() { return zvtest::read_file("ZVSTATUS.QVS"); }
};

TEST_F(VcloseTest, ThirdOpenReleasesTheOldestAndAReadReopensIt) {
    for (int i = 1; i <= 3; i++) make(i, ("f" + std::to_string(i) + ".dat").c_str());
    g()->openvlimit = 2;
    ASSERT_EQ(OPNFIL(1, "f1.dat", 0), 0);
    ASSERT_EQ(OPNFIL(2, "f2.dat", 0), 0);
    ASSERT_EQ(OPNFIL(3, "f3.dat", 0), 0);
    EXPECT_EQ(fcb(1)->state, 'v');
    EXPECT_EQ(fcb(1)->fd, -1);
    EXPECT_EQ(fcb(2)->state, 'y');
    EXPECT_EQ(g()->openvcount, 2);

    unsigned char buf[128];
    int32_t got = 0;
    EXPECT_EQ(izvio81x(16, fcb(1), 0, 0, buf, 128, &got, 0), 0);
    EXPECT_EQ(got, 128);
    EXPECT_EQ(fcb(1)->state, 'y');
    EXPECT_EQ(g()->ringfront, fcb(1));
    EXPECT_EQ(fcb(2)->state, 'v');  // now the oldest
    EXPECT_EQ(g()->openvcount, 2);
    EXPECT_EQ(GETFIL(2, 0), 100);   // a 'v' file is still open to the caller
    for (int i = 1; i <= 3; i++) EXPECT_EQ(CLSFIL(i, 0), 0);
    EXPECT_EQ(g()->openvcount, 0);
    EXPECT_EQ(log().find("vtclose failure"), std::string::npos);
}

TEST_F(VcloseTest, PermanentAndMemoryFilesAreNeverReleased) {
    make(1, "p.dat");
    make(2, "a.dat");
    make(3, "b.dat");
    XCREblk x{};
    x.mode = 0x80000000u;
    x.maxsizelo = 1 << 16;
    ASSERT_EQ(CREDATX8(4, "m.dat", 100, 0, 0x800, 0, nullptr, nullptr, &x), 0);
    g()->openvlimit = 2;
    ASSERT_EQ(OPNFIL(1, "p.dat", 0x0002), 0);
    ASSERT_EQ(OPNFIL(2, "a.dat", 0), 0);
    ASSERT_EQ(OPNFIL(3, "b.dat", 0), 0);
    EXPECT_EQ(ring_size(), 2);
    EXPECT_EQ(vtclosex(1), 1);
    EXPECT_EQ(vtclosex(1), 1);
    EXPECT_EQ(vtclosex(1), 0);
    EXPECT_EQ(fcb(1)->state, 'y');
    EXPECT_GE(fcb(1)->fd, 0);
    EXPECT_EQ(fcb(4)->state, 'y');
    EXPECT_EQ(fcb(2)->state, 'v');
    EXPECT_EQ(fcb(3)->state, 'v');
    for (int i = 1; i <= 4; i++) EXPECT_EQ(CLSFIL(i, 0), 0);
}

TEST_F(VcloseTest, RingWithoutAnOpenFileIsWalkedOnceAndReported) {
    EXPECT_EQ(vtclosex(0), 0);
    EXPECT_NE(log().find("vtclose failure:  LOC 2:  TOT 0:  CHN 0  NOV 0  LOK 0  NFD 0  IOS 0"),
              std::string::npos);

    for (int i = 1; i <= 3; i++) make(i, ("w" + std::to_string(i) + ".dat").c_str());
    for (int i = 1; i <= 3; i++) ASSERT_EQ(OPNFIL(i, ("w" + std::to_string(i) + ".dat").c_str(), 0), 0);
    fcb(1)->state = 'w';
    fcb(2)->state = 'w';
    zvlclose(fcb(3), 0, 1);  // in the ring without a descriptor
    EXPECT_EQ(vtclosex(0), 0);
    EXPECT_NE(log().find("vtclose failure:  LOC 3:  TOT 3:  CHN 2  NOV 1  LOK 0  NFD 0  IOS 0"),
              std::string::npos);
    EXPECT_EQ(ring_size(), 2);
    EXPECT_EQ(vtclosex(1), 0);  // quiet: the same walk, not reported again
    EXPECT_EQ(zvtest::lines_of(log()).size(), 4u);
    fcb(1)->state = 'y';
    fcb(2)->state = 'y';
    for (int i = 1; i <= 3; i++) EXPECT_EQ(CLSFIL(i, 0), 0);
}

TEST_F(VcloseTest, NothingHappensWithoutAStartedEngine) {
    zvtest::stop_engine();
    EXPECT_EQ(vtclosex(0), 0);
    EXPECT_TRUE(log().empty());
}

}  // namespace
