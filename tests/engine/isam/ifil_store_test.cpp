// Storing a set's definition into its existing data file (PUTIFIL): the
// files it opens itself, the open data file of the create block, key types
// brought into the index headers, refusals and a write-fault sweep.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/core/platform.h"
#include "engine/index/defblock.h"
#include "tests/support/setcheck.h"
#include "tests/support/setfix.h"

namespace {

using settest::CustSet;
using settest::SetTest;
using zv::IoKind;

class StoreTest : public SetTest {
protected:
    // The cust set created without a stored definition, closed again.
    static void make_bare() {
        CustSet s;
        s.ifil.dfilmod = 0x800;
        ASSERT_EQ(CREIFIL(&s.ifil), 0);
        ASSERT_EQ(CLIFIL(&s.ifil), 0);
    }
    // The stored definition agrees with a CustSet's.
    static void expect_cust(const std::vector<uint64_t> &buf, const CustSet &s) {
        ASSERT_FALSE(buf.empty());
        const auto *f = reinterpret_cast<const IFIL *>(buf.data());
        EXPECT_STREQ(f->pfilnam, "cust");
        EXPECT_EQ(f->dreclen, 64);
        EXPECT_STREQ(f->rfstfld, "first");
        EXPECT_STREQ(f->tlstfld, "last");
        ASSERT_EQ(f->dnumidx, 3);
        for (int k = 0; k < 3; k++) {
            SCOPED_TRACE(k);
            EXPECT_EQ(f->iidxarr[k].ikeylen, s.idx[k].ikeylen);
            EXPECT_EQ(f->iidxarr[k].ikeytyp, s.idx[k].ikeytyp);
            EXPECT_EQ(f->iidxarr[k].ikeydup, s.idx[k].ikeydup);
            EXPECT_EQ(f->iidxarr[k].inumseg, s.idx[k].inumseg);
            EXPECT_STREQ(f->iidxarr[k].ridxnam, s.idx[k].ridxnam);
        }
        EXPECT_EQ(f->iidxarr[1].aidxnam, nullptr);
        EXPECT_STREQ(f->iidxarr[2].aidxnam, "cust_x.idx");
    }
    // Key type byte of an open index (GETFIL has no mode for it).
    static int key_type(int filno) { return zv::fcb_at(filno)->hdr.base.ktype; }
};

TEST_F(StoreTest, OpensAndClosesTheSetItself) {
    make_bare();
    int d = OPNRFIL(-1, "cust.dat", 0);
    EXPECT_EQ(d, -1);
    EXPECT_EQ(zvGetUserErrorCode(), 408);
    CustSet s;
    s.ifil.dfilmod = 0x800;
    ASSERT_EQ(PUTIFIL(&s.ifil), 0);
    EXPECT_EQ(zvGetIsamErrorCode(), 0);
    EXPECT_TRUE(all_free(0, 20));
    d = OPNRFIL(-1, "cust.dat", 0);
    ASSERT_GE(d, 0);
    expect_cust(stored_ifil(d), s);
    EXPECT_EQ(zvtest::check_set(d), "");
    EXPECT_EQ(CLRFIL(d), 0);
}

TEST_F(StoreTest, UsesTheDataFileOpenUnderTfilno) {
    CustSet s;
    s.ifil.dfilmod = 0x800;
    ASSERT_EQ(CREIFIL(&s.ifil), 0);
    const int d = s.ifil.tfilno;
    ASSERT_TRUE(stored_ifil(d).empty());
    XCREblk blk{};
    blk.flags = 0x1;
    zv::fault_reset();
    ASSERT_EQ(PUTIFILX8(&s.ifil, nullptr, nullptr, nullptr, &blk), 0);
    EXPECT_EQ(zv::io_calls(IoKind::Open), 0);
    expect_cust(stored_ifil(d), s);
    EXPECT_EQ(TSTFILNUM(d), 46);
    // Word 15 names the definition-block type: type 200 leaves type 0 alone.
    CustSet t("other");
    t.ifil.dfilmod = 0x800;
    t.ifil.tfilno = int16_t(d);
    blk.width15 = 200;
    ASSERT_EQ(PUTIFILX8(&t.ifil, nullptr, nullptr, nullptr, &blk), 0);
    expect_cust(stored_ifil(d), s);
    alignas(8) unsigned char img[2048];
    DEFBLK b{img, sizeof img, sizeof img, 0, 1};
    ASSERT_EQ(igetdefblkx(d, &b, 0, 200), 0);
    std::string image(reinterpret_cast<char *>(img), size_t(b.len));
    EXPECT_NE(image.find("other"), std::string::npos);
    EXPECT_EQ(CLIFIL(&s.ifil), 0);
}

TEST_F(StoreTest, KeyTypeBitGoesIntoTheIndexHeader) {
    {
        CustSet s;
        ASSERT_EQ(CREIFIL(&s.ifil), 0);
        ASSERT_EQ(CLIFIL(&s.ifil), 0);
    }
    CustSet fixed;
    fixed.idx[2].ikeytyp = 0x80;
    ASSERT_EQ(PUTIFIL(&fixed.ifil), 0);
    EXPECT_TRUE(all_free(0, 20));
    CustSet old;
    EXPECT_EQ(OPNIFIL(&old.ifil), 608);
    EXPECT_EQ(zvGetIsamFileNbr(), 3);
    ASSERT_EQ(OPNIFIL(&fixed.ifil), 0);
    const int d = fixed.ifil.tfilno;
    EXPECT_EQ(key_type(d + 3) & 0x80, 0x80);
    EXPECT_EQ(key_type(d + 1) & 0x80, 0);
    EXPECT_EQ(GETFIL(d, 20) & 0x10000, 0x10000);
    expect_cust(stored_ifil(d), fixed);
    // Keys of that index may not change any more.
    ASSERT_EQ(add_cust(d, 3), 0);
    std::string r = settest::cust_record(1);
    ASSERT_EQ(EQLREC(d + 1, r.data(), r.data()), 0);
    r[25] = 'x';
    EXPECT_EQ(RWTREC(d, r.data()), 1001);
    ASSERT_EQ(CLIFIL(&fixed.ifil), 0);
    // Stored again without the bit: the index file and the mark follow.
    ASSERT_EQ(PUTIFIL(&old.ifil), 0);
    ASSERT_EQ(OPNIFIL(&old.ifil), 0);
    EXPECT_EQ(key_type(old.ifil.tfilno + 3) & 0x80, 0);
    EXPECT_EQ(GETFIL(old.ifil.tfilno, 20) & 0x10000, 0);
    EXPECT_EQ(CLIFIL(&old.ifil), 0);
    // A set created with such an index is marked from the start.
    CustSet made("made");
    made.idx[2].aidxnam = "*made_x.idx";
    made.idx[1].ikeytyp = 0x80;
    ASSERT_EQ(CREIFIL(&made.ifil), 0);
    EXPECT_EQ(GETFIL(made.ifil.tfilno, 20) & 0x10000, 0x10000);
    EXPECT_EQ(key_type(made.ifil.tfilno + 2) & 0x80, 0x80);
    EXPECT_EQ(CLIFIL(&made.ifil), 0);
}

TEST_F(StoreTest, Refusals) {
    {
        CustSet s;
        ASSERT_EQ(CREIFIL(&s.ifil), 0);
        ASSERT_EQ(CLIFIL(&s.ifil), 0);
    }
    ASSERT_EQ(CREDAT(14, "h", 0, 0, 0x200), 0);
    ASSERT_EQ(CREDAT(16, "h!cust", 64, 0, 0), 0);
    ASSERT_EQ(CREIDX(17, "lone.idx", 8, 0, 0, 0, 0, 0), 0);
    static IIDX many[65];
    static ISEG seg[1] = {{0, 8, 0}};
    for (IIDX &x : many) x = IIDX{8, 0, 0, 0, 0, 1, seg, nullptr, nullptr, nullptr, nullptr};
    static ISEG extra[1] = {{40, 4, 0}};
    struct Case {
        const char *what;
        void (*change)(CustSet &, XCREblk &);
        int code;
        int at;
    };
    const Case cases[] = {
        {"65 indexes", [](CustSet &s, XCREblk &) {
             s.ifil.iidxarr = many;
             s.ifil.dnumidx = 65;
         }, 107, 0},
        {"indexes open without the data file", [](CustSet &, XCREblk &b) { b.flags = 0x10000; }, 749, 0},
        {"an index under tfilno", [](CustSet &s, XCREblk &b) {
             b.flags = 0x1;
             s.ifil.tfilno = 17;
         }, 48, 17},
        {"a superfile member under tfilno", [](CustSet &s, XCREblk &b) {
             b.flags = 0x1;
             s.ifil.tfilno = 16;
         }, 62, 16},
        {"an index file with one member less", [](CustSet &s, XCREblk &) {
             static IIDX four[4];
             four[0] = s.idx[0];
             four[1] = s.idx[1];
             four[2] = IIDX{4, 0x80, 0, 0, 0, 1, extra, nullptr, nullptr, nullptr, nullptr};
             four[3] = s.idx[2];
             s.ifil.iidxarr = four;
             s.ifil.dnumidx = 4;
         }, 124, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        CustSet s;
        XCREblk blk{};
        c.change(s, blk);
        EXPECT_EQ(PUTIFILX8(&s.ifil, nullptr, nullptr, nullptr, &blk), c.code);
        EXPECT_EQ(zvGetIsamErrorCode(), c.code);
        if (c.at >= 0) {
            EXPECT_EQ(zvGetIsamFileNbr(), c.at);
        }
        EXPECT_TRUE(all_free(0, 13));
        EXPECT_TRUE(all_free(18, 20));
    }
    // Nothing was stored: the set opens from its old definition.
    CustSet s;
    int d = OPNRFIL(-1, "cust.dat", 0);
    ASSERT_GE(d, 0);
    expect_cust(stored_ifil(d), s);
    EXPECT_EQ(CLRFIL(d), 0);
}

// A write failing anywhere leaves every index header as it was, and the
// stored definition and the data file's mark with them: the set still
// opens with its old definition. (A write failing only while the call
// closes the files it opened comes after everything was stored: then all
// of it is new; never a mix.)
TEST_F(StoreTest, WriteFaultsLeaveTheKeyTypesAsTheyWere) {
    {
        CustSet s;
        ASSERT_EQ(CREIFIL(&s.ifil), 0);
        ASSERT_EQ(add_cust(s.ifil.tfilno, 20), 0);
        ASSERT_EQ(CLIFIL(&s.ifil), 0);
    }
    zvtest::save_template();
    int undone = 0;
    for (long n = 1;; n++) {
        ASSERT_LT(n, 100);
        zvtest::restore_template();
        CustSet fixed;
        fixed.idx[0].ikeytyp = 0x80;
        fixed.idx[2].ikeytyp = 0x80;
        zv::fault_reset();
        zv::fault_set(IoKind::Write, n, EIO);
        int rc = PUTIFIL(&fixed.ifil);
        zv::fault_reset();
        EXPECT_TRUE(all_free(0, 20)) << n;
        if (rc == 0) break;
        SCOPED_TRACE(n);
        int d = OPNRFIL(-1, "cust.dat", 0x4000);
        ASSERT_GE(d, 0) << zvGetUserErrorCode() << " " << zvGetIsamFileNbr();
        const std::vector<uint64_t> def = stored_ifil(d);
        ASSERT_FALSE(def.empty());
        const auto *f = reinterpret_cast<const IFIL *>(def.data());
        const bool now = f->iidxarr[0].ikeytyp == 0x80;
        if (!now) undone++;
        EXPECT_EQ(f->iidxarr[2].ikeytyp, now ? 0x80 : 0);
        EXPECT_EQ(key_type(d + 1) & 0x80, now ? 0x80 : 0);
        EXPECT_EQ(key_type(d + 3) & 0x80, now ? 0x80 : 0);
        EXPECT_EQ(GETFIL(d, 20) & 0x10000, now ? 0x10000 : 0);
        EXPECT_EQ(zvtest::check_set(d), "");
        ASSERT_EQ(CLRFIL(d), 0);
    }
    EXPECT_GT(undone, 2);
    CustSet fixed;
    fixed.idx[0].ikeytyp = 0x80;
    fixed.idx[2].ikeytyp = 0x80;
    ASSERT_EQ(OPNIFIL(&fixed.ifil), 0);
    EXPECT_EQ(key_type(fixed.ifil.tfilno + 1) & 0x80, 0x80);
    EXPECT_EQ(CLIFIL(&fixed.ifil), 0);
}

}  // namespace
