// Superfile hosts and members: creation, the directory, open, names,
// delete, rename, and write faults during member create and rename.
#include <cstring>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "engine/core/centralio.h"
#include "engine/core/filenum.h"
#include "engine/core/highword.h"
#include "engine/files/superfile.h"
#include "engine/files/fcbops.h"
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

// The directory is type 6 only in memory: its header on disk keeps type 2
// at +92 and its creation mode at +48 through every write, and the host
// opens again with its members.
TEST_F(SuperfileTest, DirectoryHeaderOnDiskKeepsItsTypeAndMode) {
    struct Case {
        uint16_t hostmode;
        uint16_t dirmode;  // the host's mode (a host adds 0x0006) without 0x200, with 0x1800
    } cases[] = {{0x200, 0x1806}, {0x240, 0x1846}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.hostmode);
        ASSERT_EQ(CREDAT(1, "h", 0, 0, c.hostmode), 0);
        ASSERT_EQ(CREDAT(3, "h!cust", 64, 0, 0), 0);
        ASSERT_EQ(CREIDX(5, "h!ix", 8, 0, 0, 0, 0, 0), 0);
        ASSERT_EQ(CLSFIL(5, 0), 0);
        ASSERT_EQ(CLSFIL(3, 0), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        Bytes disk = file_bytes("h");
        uint32_t dir = le32(disk, 84);
        ASSERT_GT(dir, 0u);
        ASSERT_LT(size_t(dir) + 128, disk.size());
        EXPECT_EQ(le16(disk, dir + 92), 2);
        EXPECT_EQ(le16(disk, dir + 48), c.dirmode);
        // Reopened, written again and closed: still type 2 and its mode.
        ASSERT_EQ(OPNFIL(1, "h", 0), 0);
        EXPECT_EQ(members(1), (std::vector<std::string>{"cust", "ix"}));
        ASSERT_EQ(CREDAT(3, "h!more", 16, 0, 0), 0);
        ASSERT_EQ(CLSFIL(3, 0), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        disk = file_bytes("h");
        EXPECT_EQ(le16(disk, dir + 92), 2);
        EXPECT_EQ(le16(disk, dir + 48), c.dirmode);
        ASSERT_EQ(OPNFIL(1, "h", 0), 0);
        EXPECT_EQ(members(1), (std::vector<std::string>{"cust", "ix", "more"}));
        ASSERT_EQ(CLSFIL(1, 0), 0);
        ASSERT_EQ(remove("h"), 0);
    }
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

TEST_F(SuperfileTest, MemberHeadersOnDisk) {
    make_all();
    uint64_t pos[3] = {fcb(3)->hposl, fcb(4)->hposl, fcb(5)->hposl};
    ASSERT_EQ(STPUSR(), 0);
    Bytes disk = file_bytes("h");
    for (int i = 0; i < 3; i++) {
        SCOPED_TRACE(i);
        ASSERT_GT(disk.size(), pos[i] + 128);
        EXPECT_EQ(le32(disk, pos[i] + 76), uint32_t(2 + i));  // member number
        EXPECT_EQ(le16(disk, pos[i] + 92), 2);                // superfile type
        EXPECT_EQ(le32(disk, pos[i] + 80), uint32_t(pos[i])); // its own position
        // The name field before the header, padded with blanks.
        const char *names[3] = {"cust", "orders", "ix"};
        std::string field(reinterpret_cast<const char *>(disk.data() + pos[i] - 255), 255);
        EXPECT_EQ(field, std::string(names[i]) + std::string(255 - strlen(names[i]), ' '));
        // The area header: in use, owned by the member, a whole number of pages.
        uint64_t area = pos[i] - 255 - 18;
        EXPECT_EQ(le16(disk, area), 0xFAFA);
        EXPECT_EQ(le32(disk, area + 2) % 1024, 0u);
        EXPECT_EQ(le32(disk, area + 10), uint32_t(2 + i));
    }
}

TEST_F(SuperfileTest, DeletingMembers) {
    make_all();
    ASSERT_EQ(CLSFIL(4, 0), 0);
    ASSERT_EQ(OPNFIL(4, "h!orders", 0x0008), 0);
    EXPECT_EQ(DELFIL(4), 56);
    EXPECT_EQ(fcb(4)->state, 'y');
    ASSERT_EQ(CLSFIL(4, 0), 0);
    EXPECT_EQ(DELFIL(2), 56);  // the directory
    EXPECT_EQ(fcb(2)->state, 'y');

    uint64_t hpos = fcb(3)->hposl;
    uint64_t area = hpos - 255 - 18;
    ASSERT_EQ(CLSFIL(3, 0), 0);
    ASSERT_EQ(OPNFIL(3, "h!cust", 0), 0);
    Bytes before = slice(file_bytes("h"), area, 18 + 255 + 512);
    ASSERT_EQ(DELFIL(3), 0);
    EXPECT_EQ(fcb(3)->state, 'n');
    Bytes after = slice(file_bytes("h"), area, 18 + 255 + 512);
    Bytes want = before;
    want[0] = want[1] = 0xFD;
    EXPECT_EQ(after, want);
    EXPECT_EQ(members(1), (std::vector<std::string>{"ix", "orders"}));
    EXPECT_EQ(OPNFIL(3, "h!cust", 0), 12);
    EXPECT_EQ(zv::zvfilexists("h!cust"), 0);
    EXPECT_EQ(zv::zvfilexists("h!orders"), -1);
    EXPECT_EQ(zv::zvfilexists("nohost!orders"), -2);
    // The host goes with its members.
    ASSERT_EQ(DELFIL(1), 0);
    EXPECT_FALSE(exists("h"));
    EXPECT_EQ(fcb(5)->state, 'n');
    EXPECT_EQ(fcb(2)->state, 'n');
}

TEST_F(SuperfileTest, RenamingMembersAndHosts) {
    make_all();
    zv::fault_reset();
    EXPECT_EQ(zvRENFIL(3, "h!cust"), 0);
    for (int k = 0; k < int(IoKind::Count); k++) EXPECT_EQ(zv::io_calls(IoKind(k)), 0) << k;
    EXPECT_EQ(zvRENFIL(2, "h!dir"), 446);
    EXPECT_EQ(zvRENFIL(3, "other!cust"), 418);
    EXPECT_EQ(zvRENFIL(3, "hh!cust"), 418);
    EXPECT_EQ(zvRENFIL(1, "h2"), 454);  // members are open
    EXPECT_EQ(zvRENFIL(1, "h2!x"), 418);
    EXPECT_EQ(zvRENFIL(3, "h!orders"), 67);  // the name is taken

    uint64_t hpos = fcb(3)->hposl;
    ASSERT_EQ(zvRENFIL(3, "h!clients"), 0);
    EXPECT_STREQ(fcb(3)->name, "h!clients");
    EXPECT_EQ(fcb(3)->hposl, hpos);
    EXPECT_EQ(members(1), (std::vector<std::string>{"clients", "ix", "orders"}));
    ASSERT_EQ(CLSFIL(3, 0), 0);
    ASSERT_EQ(OPNFIL(3, "h!clients", 0), 0);
    EXPECT_EQ(fcb(3)->hposl, hpos);
    EXPECT_EQ(fcb(3)->hdr.base.supmbr, 2u);
    EXPECT_EQ(OPNFIL(6, "h!cust", 0), 12);
    ASSERT_EQ(CLSFIL(3, 0), 0);
    ASSERT_EQ(CLSFIL(4, 0), 0);
    ASSERT_EQ(CLSFIL(5, 0), 0);
    // With no member open the host can be renamed.
    ASSERT_EQ(zvRENFIL(1, "h2"), 0);
    EXPECT_TRUE(exists("h2"));
    EXPECT_FALSE(exists("h"));
    ASSERT_EQ(OPNFIL(3, "h2!orders", 0), 0);
    ASSERT_EQ(CLSFIL(3, 0), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    // Shared: 62.
    ASSERT_EQ(OPNFIL(1, "h2", 0x0001), 0);
    ASSERT_EQ(OPNFIL(3, "h2!orders", 0x0001), 0);
    EXPECT_EQ(zvRENFIL(3, "h2!x"), 62);
}

// A new member part is measured with the host part against the member's
// maximum name length (+96): the sum must stay below it; longer parts, 256
// characters among them, give 418.
TEST_F(SuperfileTest, MemberRenameLimits) {
    make_all();
    const int L = fcb(3)->hdr.base.maxnamlen;  // the engine's member-name limit
    ASSERT_TRUE(L == 128 || L == 255) << L;
    struct Case {
        size_t part;
        int want;
    } cases[] = {{size_t(L - 2), 418}, {size_t(L - 1), 418}, {256, 418}, {300, 418}, {size_t(L - 3), 0}};
    for (const Case &c : cases) {
        std::string name = "h!" + std::string(c.part, 'n');
        EXPECT_EQ(zvRENFIL(3, name.c_str()), c.want) << c.part;
        if (c.want) {
            EXPECT_STREQ(fcb(3)->name, "h!cust") << c.part;
        } else {
            EXPECT_EQ(std::string(fcb(3)->name), name);
        }
    }
    EXPECT_EQ(members(1), (std::vector<std::string>{"ix", std::string(size_t(L - 3), 'n'), "orders"}));
    // A plain file's name still fits its buffer: 139 beyond 255.
    ASSERT_EQ(CREDAT(8, "plain.dat", 10, 0, 0x800), 0);
    EXPECT_EQ(zvRENFIL(8, std::string(256, 'p').c_str()), 139);
}

TEST_F(SuperfileTest, HostOpenAndNames) {
    make_all();
    ASSERT_EQ(STPUSR(), 0);
    ASSERT_EQ(zvtest::start_engine(8, 20, 8, 16), 0);
    FCB *f = zvgetfcb(10);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(zv::zvhstopn(f, 0, "h!cust", 0), 0);
    EXPECT_EQ(fcb(10)->hdr.base.sfiltyp, 1);
    EXPECT_EQ(fcb(11)->state, 'y');
    EXPECT_EQ(zv::zvhstopn(nullptr, 0, "nosuch!cust", 0), 413);
    EXPECT_EQ(zv::zvhstopn(nullptr, 0, "plain", 0), 413);
    ASSERT_EQ(OPNFIL(3, "h!cust   ", 0), 0);  // trailing blanks dropped
    EXPECT_STREQ(fcb(3)->name, "h!cust");
    EXPECT_EQ(OPNFIL(4, ("h!" + std::string(256, 'n')).c_str(), 0), 139);
    EXPECT_EQ(OPNFIL(4, "h!nosuch", 0), 12);
}

// A host open under one spelling of its name is the host of every other
// spelling: members created, opened and renamed under another go into it
// (under its own name), no second block of the host is opened, and the
// superfile rebuild refuses it as an open host.
TEST_F(SuperfileTest, AHostIsFoundUnderEverySpellingOfItsName) {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    const std::string absolute = std::string(cwd) + "/h";
    struct Case {
        std::string opened;  // the host's name at its create and open
        std::string other;   // the other spelling
    } cases[] = {{"./h", "h"}, {"h", "./h"}, {absolute, "h"}, {"h", "sub/../h"}};
    ASSERT_EQ(mkdir("sub", 0755), 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.opened + " as " + c.other);
        ASSERT_EQ(CREDAT(1, c.opened.c_str(), 0, 0, 0x200), 0);
        for (int n = 3; n <= 5; n++) {
            const std::string name = c.other + "!m" + std::to_string(n);
            ASSERT_EQ(CREDAT(n, name.c_str(), 64, 0, 0), 0) << n;
            EXPECT_EQ(fcb(n)->hostfcb, fcb(1));
            EXPECT_EQ(std::string(fcb(n)->name), c.opened + "!m" + std::to_string(n));
            ASSERT_EQ(CLSFIL(n, 0), 0);
        }
        EXPECT_EQ(members(1), (std::vector<std::string>{"m3", "m4", "m5"}));
        ASSERT_EQ(OPNFIL(3, (c.other + "!m3").c_str(), 0), 0);
        ASSERT_EQ(OPNFIL(4, (c.opened + "!m4").c_str(), 0), 0);
        EXPECT_EQ(fcb(3)->hostfcb, fcb(1));
        EXPECT_EQ(fcb(4)->hostfcb, fcb(1));
        ASSERT_EQ(zvRENFIL(3, (c.other + "!m6").c_str()), 0);
        EXPECT_EQ(std::string(fcb(3)->name), c.opened + "!m6");
        EXPECT_EQ(members(1), (std::vector<std::string>{"m4", "m5", "m6"}));
        int hosts = 0;
        for (int i = 0; i <= int(g()->filecount); i++) {
            if (fcb(i) && fcb(i)->state == 'y' && fcb(i)->hdr.base.sfiltyp == 1) hosts++;
        }
        EXPECT_EQ(hosts, 1);
        EXPECT_EQ(ZVSBLDX(c.other.c_str(), nullptr), 46);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        ASSERT_EQ(unlink("h"), 0);
    }
    // A name that is no open file, or names no file at all, finds nothing.
    ASSERT_EQ(CREDAT(1, "h", 0, 0, 0x200), 0);
    ASSERT_EQ(CREDAT(6, "other", 64, 0, 0), 0);
    EXPECT_EQ(chkopnx("./h"), 1);
    EXPECT_EQ(chkopnx("./other"), 6);
    EXPECT_EQ(chkopnx("./absent"), -1);
    ASSERT_EQ(CLSFIL(6, 0), 0);
    EXPECT_EQ(chkopnx("./other"), -1);
}

// Fails the nth write of an operation for n = 1, 2, ... until it succeeds:
// prepare runs first, then op under the fault, then the engine is stopped
// and started again and check looks at what the files hold.
template <typename Prep, typename Op, typename Check>
void sweep(Prep prepare, Op op, Check check) {
    for (long n = 1; n < 300; n++) {
        SCOPED_TRACE(n);
        prepare();
        zv::fault_reset();
        zv::fault_set(IoKind::Write, n, EIO);
        int rc = op();
        bool failed = zv::io_calls(IoKind::Write) >= n;
        zv::fault_reset();
        ASSERT_EQ(STPUSR(), 0);
        ASSERT_EQ(zvtest::start_engine(8, 20, 8, 16), 0);
        if (!failed) {
            EXPECT_EQ(rc, 0);
            check(false);
            return;
        }
        EXPECT_NE(rc, 0);
        check(true);
        ASSERT_EQ(STPUSR(), 0);
        ASSERT_EQ(zvtest::start_engine(8, 20, 8, 16), 0);
    }
    ADD_FAILURE() << "the operation never completed";
}

TEST_F(SuperfileTest, WriteFaultsDuringMemberCreate) {
    make_all();
    ASSERT_EQ(STPUSR(), 0);
    ASSERT_EQ(zvtest::start_engine(8, 20, 8, 16), 0);
    auto check = [this](bool failed) {
        ASSERT_EQ(OPNFIL(1, "h", 0), 0);
        std::vector<std::string> m = members(1);
        std::set<std::string> seen(m.begin(), m.end());
        EXPECT_EQ(seen.size(), m.size());
        bool made = seen.count("new") != 0;
        if (!failed) {
            EXPECT_TRUE(made);
        }
        std::vector<std::string> want = {"cust", "ix", "orders"};
        if (made) want = {"cust", "ix", "new", "orders"};
        EXPECT_EQ(m, want);
        int filno = 5;
        for (const std::string &name : m) {
            EXPECT_EQ(OPNFIL(filno, ("h!" + name).c_str(), 0), 0) << name;
            EXPECT_EQ(CLSFIL(filno, 0), 0);
        }
        if (made && failed) {
            // The next round starts without the member.
            ASSERT_EQ(OPNFIL(5, "h!new", 0), 0);
            ASSERT_EQ(DELFIL(5), 0);
        }
    };
    auto create = [this] {
        int rc = CREDAT(3, "h!new", 40, 0, 0);
        // A failed create leaves its number free (the member was closed
        // before its area went back).
        if (rc) {
            EXPECT_TRUE(!fcb(3) || fcb(3)->state == 'n');
        }
        return rc;
    };
    sweep([] { ASSERT_EQ(OPNFIL(1, "h", 0), 0); }, create, check);
}

TEST_F(SuperfileTest, WriteFaultsDuringMemberRename) {
    make_all();
    ASSERT_EQ(STPUSR(), 0);
    ASSERT_EQ(zvtest::start_engine(8, 20, 8, 16), 0);
    auto check = [this](bool failed) {
        ASSERT_EQ(OPNFIL(1, "h", 0), 0);
        std::vector<std::string> m = members(1);
        ASSERT_EQ(m.size(), 3u);
        bool renamed = m[0] == "clients";
        EXPECT_TRUE(renamed || m[0] == "cust");
        EXPECT_EQ(m[1], "ix");
        EXPECT_EQ(m[2], "orders");
        if (!failed) {
            EXPECT_TRUE(renamed);
        }
        int filno = 5;
        for (const std::string &name : m) {
            EXPECT_EQ(OPNFIL(filno, ("h!" + name).c_str(), 0), 0) << name;
            EXPECT_EQ(CLSFIL(filno, 0), 0);
        }
        if (renamed && failed) {
            ASSERT_EQ(OPNFIL(3, "h!clients", 0), 0);
            ASSERT_EQ(zvRENFIL(3, "h!cust"), 0);
        }
    };
    sweep([] { ASSERT_EQ(OPNFIL(3, "h!cust", 0), 0); }, [] { return zvRENFIL(3, "h!clients"); }, check);
}

TEST_F(SuperfileTest, VariableLengthMembersAndMemberIndexesWithMembers) {
    ASSERT_EQ(CREDAT(1, "h", 0, 0, 0x200), 0);
    ASSERT_EQ(CREDAT(3, "h!var", 10, 0, 0x04), 0);
    ASSERT_EQ(CREIDX(4, "h!mi", 8, 0, 0, 1, 0, 0), 0);
    ASSERT_EQ(CREMEM(4, 12, 0, 0, 1), 0);
    std::vector<uint32_t> pos;
    for (int i = 0; i < 50; i++) {
        std::string rec = "record number " + std::to_string(i) + std::string(size_t(i * 7), 'x');
        zvSETHGH(0);
        uint32_t p = NEWVREC(3, int32_t(rec.size()));
        ASSERT_NE(p, 0u) << zvGetUserErrorCode();
        ASSERT_EQ(WRTVREC(3, p, const_cast<char *>(rec.data()), uint32_t(rec.size())), 0);
        pos.push_back(p);
        char k8[9], k12[13];
        snprintf(k8, sizeof k8, "k%07d", i);
        snprintf(k12, sizeof k12, "m%011d", 49 - i);
        ASSERT_EQ(ADDKEY(4, k8, p, 0), 0);
        ASSERT_EQ(ADDKEY(5, k12, p, 0), 0);
    }
    for (int i = 0; i < 50; i++) {
        char k12[13];
        snprintf(k12, sizeof k12, "m%011d", 49 - i);
        EXPECT_EQ(EQLKEY(5, k12), pos[size_t(i)]) << i;
    }
    VERIFYIDXOPT vo{1, 1 | 2 | 8, 15, 0, nullptr, nullptr};
    VERIFYIDXRES vr{};
    EXPECT_EQ(zvVERIFYidx(4, &vo, &vr), 0);
    EXPECT_EQ(vr.levelnodes[0], 1);
    EXPECT_EQ(zvVERIFYidx(5, &vo, &vr), 0);
    EXPECT_EQ(vr.levelnodes[0], 1);
    ASSERT_EQ(STPUSR(), 0);
    ASSERT_EQ(zvtest::start_engine(8, 20, 8, 16), 0);
    ASSERT_EQ(OPNFIL(3, "h!var", 0), 0);
    ASSERT_EQ(OPNFIL(4, "h!mi", 0), 0);
    EXPECT_EQ(fcb(5)->state, 'y');
    for (int i = 0; i < 50; i++) {
        std::string rec = "record number " + std::to_string(i) + std::string(size_t(i * 7), 'x');
        char buf[600] = {};
        zvSETHGH(0);
        ASSERT_EQ(RDVREC(3, pos[size_t(i)], buf, sizeof buf), 0) << i;
        EXPECT_EQ(std::string(buf, rec.size()), rec);
        char k8[9], k12[13];
        snprintf(k8, sizeof k8, "k%07d", i);
        snprintf(k12, sizeof k12, "m%011d", 49 - i);
        EXPECT_EQ(EQLKEY(4, k8), pos[size_t(i)]);
        EXPECT_EQ(EQLKEY(5, k12), pos[size_t(i)]);
    }
    int hostno = chkopnx("h");
    EXPECT_EQ(members(hostno), (std::vector<std::string>{"mi", "var"}));
}

// A host made with file mode 0x20 or 0x10 takes members of that kind: its
// header flags carry 0x200 or 0x400, so its directory (made with the
// host's kind) and its members of that kind are accepted, a member of the
// other kind is refused with 419, and the host opens again for update with
// its members' records and keys. A file whose mode keeps 0x10 is changed
// only while the rebuild flag is on (the host of 0x10 and its directory
// keep it), so the host of 0x10 is made and filled under that flag.
TEST_F(SuperfileTest, HostsMadeForAMemberKind) {
    struct Case {
        uint16_t hostmode;
        uint16_t flags;  // header flags of the kind, +98
        uint16_t other;  // the kind the host does not take
        bool rebuild;
    } cases[] = {{0x220, 0x200, 0x10, false}, {0x210, 0x400, 0x20, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.hostmode);
        const uint16_t kind = c.hostmode & 0x30;
        g()->rebuilding = c.rebuild;
        ASSERT_EQ(CREDAT(1, "h", 0, 0, c.hostmode), 0);
        ASSERT_EQ(fcb(2)->state, 'y');
        ASSERT_EQ(CREDAT(3, "h!kind", 64, 0, kind), 0);
        ASSERT_EQ(CREIDX(4, "h!ix", 8, 0, 0, 0, 0, kind), 0);
        ASSERT_EQ(CREDAT(5, "h!plain", 64, 0, 0), 0);
        EXPECT_EQ(CREDAT(6, "h!other", 64, 0, c.other), 419);
        EXPECT_EQ(CREIDX(6, "h!otherix", 8, 0, 0, 0, 0, c.other), 419);
        uint32_t pos[2] = {};
        unsigned char rec[64];
        for (int i = 0; i < 2; i++) {
            const int filno = i ? 5 : 3;
            memset(rec, 'a' + i, sizeof rec);
            pos[i] = NEWREC(filno);
            ASSERT_NE(pos[i], 0u) << zvGetUserErrorCode();
            ASSERT_EQ(WRTREC(filno, pos[i], rec), 0);
            ASSERT_EQ(ADDKEY(4, i ? "key00002" : "key00001", pos[i], 0), 0);
        }
        const uint32_t dir = fcb(2)->hposl;
        ASSERT_EQ(CLSFIL(1, 0), 0);
        g()->rebuilding = 0;
        const Bytes disk = file_bytes("h");
        EXPECT_EQ(le16(disk, 98) & 0x600, c.flags) << "host";
        EXPECT_EQ(le16(disk, dir + 98) & 0x600, c.flags) << "directory";

        ASSERT_EQ(OPNFIL(1, "h", 0), 0);
        EXPECT_EQ(members(1), (std::vector<std::string>{"ix", "kind", "plain"}));
        ASSERT_EQ(OPNFIL(3, "h!kind", 0), 0);
        ASSERT_EQ(OPNFIL(4, "h!ix", 0), 0);
        ASSERT_EQ(OPNFIL(5, "h!plain", 0), 0);
        for (int i = 0; i < 2; i++) {
            unsigned char back[64] = {};
            ASSERT_EQ(REDREC(i ? 5 : 3, pos[i], back), 0);
            EXPECT_EQ(back[0], 'a' + i);
            EXPECT_EQ(back[63], 'a' + i);
            EXPECT_EQ(EQLKEY(4, i ? "key00002" : "key00001"), pos[i]);
        }
        // The members themselves do not keep the kind in their file mode:
        // they take records and keys outside the rebuild as well.
        memset(rec, 'z', sizeof rec);
        const uint32_t more = NEWREC(3);
        ASSERT_NE(more, 0u) << zvGetUserErrorCode();
        ASSERT_EQ(WRTREC(3, more, rec), 0);
        ASSERT_EQ(ADDKEY(4, "key00003", more, 0), 0);
        EXPECT_EQ(EQLKEY(4, "key00003"), more);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        ASSERT_EQ(remove("h"), 0);
    }
    // Outside the rebuild the host of 0x10 cannot be changed, its creation
    // included; nothing is left behind.
    EXPECT_EQ(CREDAT(1, "h", 0, 0, 0x210), 99);
    EXPECT_FALSE(exists("h"));
}

}  // namespace
