// Superfile hosts and members: creation, the directory, open, names,
// delete, rename, and write faults during member create and rename.
#include <cstring>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "engine/core/centralio.h"
#include "engine/core/highword.h"
#include "engine/files/superfile.h"
#include "tests/engine/files/files_util.h"

namespace {

using filestest::Bytes;
using filestest::file_bytes;
using filestest::le16;
using filestest::le32;
using filestest::slice;
using zv::IoKind;

class SuperfileTest : public filestest::FilesTest {
protected:
    // Host "h" on 1 (directory on 2), members cust (3), orders (4), ix (5).
    void make_all() {
        ASSERT_EQ(CREDAT(1, "h", 0, 0, 0x200), 0);
        ASSERT_EQ(CREDAT(3, "h!cust", 64, 0, 0), 0);
        ASSERT_EQ(CREDAT(4, "h!orders", 32, 0, 0x800), 0);
        ASSERT_EQ(CREIDX(5, "h!ix", 8, 0, 0, 0, 0, 0), 0);
    }
    std::string member_name(int host, int n, int *rc = nullptr) {
        char buf[300] = {};
        int r = GETMNAME(host, buf, sizeof buf, n);
        if (rc) *rc = r;
        return r ? std::string() : std::string(buf);
    }
    std::vector<std::string> members(int host) {
        std::vector<std::string> out;
        for (int n = 1;; n++) {
            int rc = 0;
            std::string s = member_name(host, n, &rc);
            if (rc) break;
            out.push_back(s);
        }
        return out;
    }
    bool exists(const char *path) {
        struct stat st;
        return stat(path, &st) == 0;
    }
};

TEST_F(SuperfileTest, HostDirectoryAndMemberNumbers) {
    make_all();
    FCB *host = fcb(1);
    EXPECT_EQ(host->hdr.base.sfiltyp, 1);
    EXPECT_EQ(host->hdr.base.extsiz, 32768);
    FCB *dir = fcb(2);
    ASSERT_EQ(dir->state, 'y');
    EXPECT_EQ(dir->hdr.base.sfiltyp, 6);
    EXPECT_EQ(dir->hdr.base.supmbr, 1u);
    EXPECT_EQ(dir->hdr.base.ktype, 28);
    EXPECT_EQ(dir->hdr.base.keylen, 255);
    EXPECT_EQ(host->hdr.base.sfdirpos, dir->hposl);
    EXPECT_EQ(fcb(3)->hdr.base.supmbr, 2u);
    EXPECT_EQ(fcb(4)->hdr.base.supmbr, 3u);
    EXPECT_EQ(fcb(5)->hdr.base.supmbr, 4u);
    EXPECT_EQ(std::string(fcb(3)->name), "h!cust");

    ASSERT_EQ(CLSFIL(5, 0), 0);
    ASSERT_EQ(CLSFIL(4, 0), 0);
    ASSERT_EQ(CLSFIL(3, 0), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    EXPECT_EQ(fcb(2)->state, 'n');
    // The member header on disk: member number at +76 of its header.
    Bytes disk = file_bytes("h");
    uint32_t pos = fcb(3)->hposl;
    (void)pos;

    ASSERT_EQ(OPNFIL(6, "h!orders", 0), 0);  // opens its host on its own
    EXPECT_EQ(fcb(6)->hdr.base.supmbr, 3u);
    int hostno = chkopnx("h");
    ASSERT_GE(hostno, 0);
    EXPECT_EQ(members(hostno), (std::vector<std::string>{"cust", "ix", "orders"}));
    int rc = 0;
    member_name(hostno, 4, &rc);
    EXPECT_EQ(rc, 101);
    member_name(hostno, 0, &rc);
    EXPECT_EQ(rc, 116);
    ASSERT_EQ(CREDAT(8, "plain.dat", 10, 0, 0x800), 0);
    member_name(8, 1, &rc);
    EXPECT_EQ(rc, 411);
}

TEST_F(SuperfileTest, CreatingAMemberTwice) {
    make_all();
    EXPECT_EQ(CREDAT(6, "h!cust", 64, 0, 0), 19);
    EXPECT_EQ(CREIDX(6, "h!ix", 8, 0, 0, 0, 0, 0), 18);
    EXPECT_EQ(members(1), (std::vector<std::string>{"cust", "ix", "orders"}));
    EXPECT_TRUE(!fcb(6) || fcb(6)->state == 'n');
}

TEST_F(SuperfileTest, MemberNamesThatDoNotFit) {
    make_all();
    char buf[8];
    memset(buf, 'Z', sizeof buf);
    // "orders" and its NUL need 7 bytes.
    EXPECT_EQ(GETMNAME(1, buf, 6, 3), 153);
    EXPECT_EQ(std::string(buf, 8), std::string(8, 'Z'));
    EXPECT_EQ(GETMNAME(1, buf, 7, 3), 0);
    EXPECT_STREQ(buf, "orders");
    EXPECT_EQ(buf[7], 'Z');
}

TEST_F(SuperfileTest, RecordsOfMembersSurviveAReopen) {
    make_all();
    unsigned char rec[64];
    memset(rec, 'c', sizeof rec);
    uint32_t pos = NEWREC(3);
    ASSERT_NE(pos, 0u) << zvGetUserErrorCode();
    ASSERT_EQ(WRTREC(3, pos, rec), 0);
    ASSERT_EQ(ADDKEY(5, "key00001", pos, 0), 0);
    ASSERT_EQ(STPUSR(), 0);
    ASSERT_EQ(zvtest::start_engine(8, 20, 8, 16), 0);
    ASSERT_EQ(OPNFIL(1, "h", 0), 0);
    ASSERT_EQ(OPNFIL(3, "h!cust", 0), 0);
    ASSERT_EQ(OPNFIL(5, "h!ix", 0), 0);
    EXPECT_EQ(EQLKEY(5, "key00001"), pos);
    unsigned char back[64] = {};
    ASSERT_EQ(REDREC(3, pos, back), 0);
    EXPECT_EQ(memcmp(back, rec, sizeof rec), 0);
}

}  // namespace
