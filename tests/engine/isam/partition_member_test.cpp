// Partition members: opening and closing with the host, the stamp check,
// and the changes that reach every member (delete, rename, file mode,
// index drop), and a member of an encrypted host.
#include <cstring>
#include <vector>

#include "engine/core/filenum.h"
#include "engine/crypto/masterkey.h"
#include "engine/core/fcb.h"
#include "engine/isam/partition.h"
#include "tests/engine/isam/partfix.h"

namespace {

using namespace parttest;

class PartMemberTest : public PartTest {
protected:
    // A host of the Region rule with a sale in each of members 3 and 5.
    int two_members(SalesDef &def) {
        int d = make_regions(def);
        EXPECT_EQ(add(d, sale(31, 0, 3)), 0);
        EXPECT_EQ(add(d, sale(51, 0, 5)), 0);
        return d;
    }
    static bool open_file(int n) {
        FCB *f = zv::fcb_at(n);
        return f && f->state != 'n';
    }
};

TEST_F(PartMemberTest, AMemberWhoseStampDiffersIsNotOpened) {
    SalesDef def("sales", Rule::Region);
    two_members(def);
    ASSERT_EQ(CLISAM(), 0);
    std::string f = zvtest::read_file("sales.dat.005");
    ASSERT_GT(f.size(), 412u);
    f[408] = 1;
    zvtest::write_file("sales.dat.005", f);
    ASSERT_EQ(INTISAMX(16, 30, 4, 32, 32), 0);
    int d = OPNRFIL(-1, "sales.dat", 0);
    ASSERT_GE(d, 0);
    Sale s;
    ASSERT_EQ(FRSREC(d + 1, &s), 0);
    EXPECT_EQ(NXTREC(d + 1, &s), 927);
    EXPECT_EQ(entry(d, 5)->state, zv::kMbrClosed);
    EXPECT_EQ(s.number, 31u);
}

TEST_F(PartMemberTest, TheHostClosesTheMembersItOpened) {
    SalesDef def("sales", Rule::Region);
    int d = two_members(def);
    const int m3 = entry(d, 3)->filno, m5 = entry(d, 5)->filno;
    // A member closed on its own leaves the host's table of open members.
    ASSERT_EQ(CLRFIL(m5), 0);
    EXPECT_EQ(entry(d, 5)->state, zv::kMbrClosed);
    const int app = OPNRFIL(-1, "sales.dat.005", 0);
    ASSERT_GE(app, 0);
    ASSERT_EQ(CLIFIL(&def.ifil), 0);
    EXPECT_FALSE(open_file(m3));
    EXPECT_TRUE(open_file(app));
    EXPECT_EQ(CLRFIL(app), 0);
    d = OPNRFIL(-1, "sales.dat", 0);
    ASSERT_GE(d, 0);
    EXPECT_EQ(entry(d, 3)->state, zv::kMbrClosed);
    EXPECT_EQ(entry(d, 5)->state, zv::kMbrClosed);
    EXPECT_EQ(numbers(d, FRSREC, NXTREC), (std::vector<uint32_t>{31, 51}));
    EXPECT_EQ(entry(d, 3)->state, zv::kMbrOpen);
}

TEST_F(PartMemberTest, DeletingTheHostDeletesEveryMember) {
    SalesDef def("sales", Rule::Region);
    two_members(def);
    ASSERT_EQ(CLIFIL(&def.ifil), 0);
    int d = OPNRFIL(-1, "sales.dat", 0);
    ASSERT_GE(d, 0);
    EXPECT_EQ(files().size(), 9u);
    EXPECT_EQ(DELRFIL(d), 0);
    EXPECT_TRUE(files().empty());
}

// A member left not closed cleanly still goes with its set, the first one
// too, wherever the member table starts and however long it is (a table of
// more than 341 entries is a block of its own, whose bounds the sanitizer
// watches).
TEST_F(PartMemberTest, DeletingTheHostDeletesAMemberNotClosedCleanly) {
    constexpr int kByNumber = 4;
    const struct {
        int32_t first, last, base;
    } cases[] = {{3, 5, 1}, {3, 5, 3}, {3, 400, 1}, {3, 400, 3}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "members " << c.first << " and " << c.last << ", base " << c.base);
        SalesDef def("sales", Rule::Region);
        int d = make_regions(def);
        ASSERT_EQ(add(d, sale(1, 0, c.first)), 0);
        ASSERT_EQ(add(d, sale(2, 0, c.last)), 0);
        if (c.base != 1) {
            ASSERT_EQ(PTADMIN(d, nullptr, c.base, 128 | kByNumber), 0);
        }
        ASSERT_EQ(CLIFIL(&def.ifil), 0);
        char name[32];
        snprintf(name, sizeof name, "sales.dat.%03d", int(c.first));
        std::string f = zvtest::read_file(name);
        ASSERT_GT(f.size(), 56u);
        f[56] = char(0xFF);
        zvtest::write_file(name, f);
        d = OPNRFIL(-1, "sales.dat", 0);
        ASSERT_GE(d, 0);
        ASSERT_EQ(zv::fcb_at(d)->partdef->ptbase, c.base);
        EXPECT_EQ(DELRFIL(d), 0);
        EXPECT_TRUE(files().empty());
    }
}

TEST_F(PartMemberTest, RenamingTheHostRenamesEveryMember) {
    SalesDef def("sales", Rule::Region);
    int d = two_members(def);
    SalesDef to("store", Rule::Region);
    to.ifil.tfilno = int16_t(d);
    const std::set<std::string> before = files();
    // The second member's new name is taken: nothing is renamed.
    zvtest::write_file("store.dat.005", "x");
    EXPECT_EQ(RENIFIL(&to.ifil), 67);
    std::set<std::string> now = files();
    now.erase("store.dat.005");
    EXPECT_EQ(now, before);
    EXPECT_EQ(entry(d, 3)->name, std::string("sales.dat.003"));
    EXPECT_EQ(numbers(d, FRSREC, NXTREC), (std::vector<uint32_t>{31, 51}));
    remove("store.dat.005");
    ASSERT_EQ(RENIFIL(&to.ifil), 0);
    for (const char *f : {"store.dat.003", "store.idx.003", "store_u.idx.005", "store.dat.005", "store.dat"})
        EXPECT_EQ(files().count(f), 1u) << f;
    for (const std::string &f : files()) EXPECT_EQ(f.rfind("sales", 0), std::string::npos) << f;
    ASSERT_EQ(CLIFIL(&to.ifil), 0);
    d = OPNRFIL(-1, "store.dat", 0);
    ASSERT_GE(d, 0);
    EXPECT_EQ(numbers(d, FRSREC, NXTREC), (std::vector<uint32_t>{31, 51}));
}

// The definition read off the open host carries the partition marks in its
// key types, which the stored one does not: a rename compares the key types
// without them, and still refuses any other difference.
TEST_F(PartMemberTest, TheHostsOwnDefinitionRenamesIt) {
    SalesDef def("sales", Rule::Region);
    int d = two_members(def);
    const int32_t need = GETIFIL(d, 0, nullptr);
    ASSERT_GT(need, 0);
    std::vector<char> buf(static_cast<size_t>(need));
    ASSERT_EQ(GETIFIL(d, need, buf.data()), need);
    IFIL got = *reinterpret_cast<IFIL *>(buf.data());
    ASSERT_EQ(got.iidxarr[0].ikeytyp & 0x60, 0x20);
    std::vector<IIDX> idx(got.iidxarr, got.iidxarr + got.dnumidx);
    IFIL to = got;
    to.pfilnam = "store";
    to.tfilno = int16_t(d);
    to.iidxarr = idx.data();
    idx[0].ikeytyp = int16_t(idx[0].ikeytyp | 0x04);
    EXPECT_EQ(RENIFIL(&to), 608);
    EXPECT_EQ(zvGetIsamFileNbr(), d + 1);
    idx[0].ikeytyp = got.iidxarr[0].ikeytyp;
    idx[2].aidxnam = "*store_u.idx";
    ASSERT_EQ(RENIFIL(&to), 0);
    for (const char *f : {"store.dat.003", "store.idx.005", "store_u.idx.003", "store.dat"})
        EXPECT_EQ(files().count(f), 1u) << f;
    for (const std::string &f : files()) EXPECT_EQ(f.rfind("sales", 0), std::string::npos) << f;
    ASSERT_EQ(CLIFIL(&to), 0);
    d = OPNRFIL(-1, "store.dat", 0);
    ASSERT_GE(d, 0);
    EXPECT_EQ(numbers(d, FRSREC, NXTREC), (std::vector<uint32_t>{31, 51}));
}

TEST_F(PartMemberTest, FileModesReachEveryMember) {
    SalesDef def("sales", Rule::Region);
    int d = two_members(def);
    const int mode = GETFIL(d, 3);
    ASSERT_EQ(PUTFIL(d, mode | 0x40), 0);
    ASSERT_EQ(PUTFIL(d + 3, int(GETFIL(d + 3, 3)) | 0x40), 0);
    for (int32_t raw : {3, 5}) {
        const int m = entry(d, raw)->filno;
        EXPECT_EQ(GETFIL(m, 3) & 0x40, 0x40) << raw;
        EXPECT_EQ(GETFIL(m + 3, 3) & 0x40, 0x40) << raw;
        EXPECT_EQ(GETFIL(m + 1, 3) & 0x40, 0) << raw;
    }
}

TEST_F(PartMemberTest, AnIndexDroppedFromTheHostLeavesEveryMember) {
    SalesDef def("sales", Rule::Region);
    int d = two_members(def);
    ASSERT_EQ(zvDROPIDX(d + 3), 0);
    for (const char *f : {"sales_u.idx", "sales_u.idx.003", "sales_u.idx.005"}) EXPECT_EQ(files().count(f), 0u) << f;
    EXPECT_EQ(zv::fcb_at(d)->hdr.ext.flmode2 & zv::kPartGlobal, 0u);
    // A member made afterwards has the host's remaining indexes.
    ASSERT_EQ(add(d, sale(71, 0, 7, "seven")), 0);
    EXPECT_EQ(files().count("sales.idx.007"), 1u);
    EXPECT_EQ(files().count("sales_u.idx.007"), 0u);
    const int m7 = entry(d, 7)->filno;
    IFIL *stored = nullptr;
    std::vector<uint64_t> buf(4096);
    ASSERT_GT(GETIFIL(m7, int32_t(buf.size() * 8), buf.data()), 0);
    stored = reinterpret_cast<IFIL *>(buf.data());
    EXPECT_EQ(stored->dnumidx, 2);
    EXPECT_EQ(numbers(d + 2, FRSREC, NXTREC), (std::vector<uint32_t>{31, 51, 71}));
    EXPECT_EQ(numbers(d + 1, FRSREC, NXTREC), (std::vector<uint32_t>{31, 51, 71}));
    EXPECT_EQ(check_members(d), "");
}

// The members of an encrypted host take its cipher.
TEST_F(PartMemberTest, AMemberOfAnEncryptedHostIsEncrypted) {
    ASSERT_EQ(CLISAM(), 0);
    zv::master_key_reset();
    cmosdksup = 2;
    zv::set_master_password("pw");
    ASSERT_EQ(INTISAMX(16, 30, 4, 32, 32), 0);
    ASSERT_EQ(zvSETENCRYPT("62", "secret-key-text", 15), 0);
    SalesDef def("sales", Rule::Region);
    int d = make(def);
    ASSERT_EQ(zvSETENCRYPT(nullptr, nullptr, 0), 0);
    ASSERT_GE(zv::fcb_at(d)->cipherclass, 2);
    ASSERT_EQ(zv::zvpr_replace_rule(zv::fcb_at(d), d, "Region"), 0);
    Sale s = sale(31, 0, 3, "PLAINNAMEPLAINNAME");
    ASSERT_EQ(ADDREC(d, &s), 0);
    const int m = entry(d, 3)->filno;
    EXPECT_EQ(zv::fcb_at(m)->cipherclass, zv::fcb_at(d)->cipherclass);
    EXPECT_GE(zv::fcb_at(m + 1)->cipherclass, 2);
    // The next set created is plain: the member took the host's cipher
    // for its own creation only.
    SalesDef plain("plain", Rule::Region);
    int p = make(plain);
    EXPECT_EQ(zv::fcb_at(p)->cipherclass, 0);
    ASSERT_EQ(CLISAM(), 0);
    EXPECT_EQ(zvtest::read_file("sales.dat.003").find("PLAINNAMEPLAINNAME"), std::string::npos);
    ASSERT_EQ(INTISAMX(16, 30, 4, 32, 32), 0);
    d = OPNRFIL(-1, "sales.dat", 0);
    ASSERT_GE(d, 0);
    ASSERT_EQ(FRSREC(d, &s), 0);
    EXPECT_EQ(std::string(s.name, 18), "PLAINNAMEPLAINNAME");
    ASSERT_EQ(CLISAM(), 0);
    zv::master_key_reset();
    ASSERT_EQ(INTISAMX(16, 30, 4, 32, 32), 0);
}

}  // namespace
