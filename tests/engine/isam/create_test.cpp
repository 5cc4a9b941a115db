// File-set create: numbers, files, key map, refusals and the all-or-nothing
// rule under write and memory faults.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/centralio.h"
#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "engine/core/fcb.h"
#include "engine/index/idxstate.h"
#include "engine/isam/isammap.h"
#include "tests/support/setfix.h"

namespace {

using settest::CustSet;
using settest::SetTest;
using zv::IoKind;

class CreateTest : public SetTest {};

std::string name_of(int filno, int mode) {
    char buf[256] = {};
    if (iGETNAM(filno, buf, sizeof buf, mode) != 0) return "<" + std::to_string(zvGetUserErrorCode()) + ">";
    return buf;
}

TEST_F(CreateTest, SetTakesConsecutiveNumbersAndItsFiles) {
    CustSet s;
    ASSERT_EQ(CREIFIL(&s.ifil), 0);
    int d = s.ifil.tfilno;
    ASSERT_GE(d, 0);
    EXPECT_EQ(zvGetIsamErrorCode(), 0);
    EXPECT_EQ(files_in(), (std::set<std::string>{"cust.dat", "cust.idx", "cust_x.idx"}));
    // Index k on d + 1 + k; the second index is member 1 of cust.idx.
    EXPECT_EQ(GETFIL(d + 1, 13), 0);
    EXPECT_EQ(GETFIL(d + 2, 13), 1);
    EXPECT_EQ(GETFIL(d + 3, 13), 0);
    EXPECT_EQ(name_of(d + 1, 0), "cust.idx");
    EXPECT_EQ(name_of(d + 3, 0), "cust_x.idx");
    EXPECT_EQ(GETFIL(d + 2, 1), 14);
    EXPECT_EQ(GETFIL(d + 2, 6), 1);
    // The key map: data file, relative number, key flags; the names.
    for (int k = 0; k < 3; k++) {
        EXPECT_EQ(GETFIL(d + 1 + k, 4), d) << k;
        EXPECT_EQ(GETFIL(d + 1 + k, 7), k) << k;
        EXPECT_EQ(GETFIL(d + 1 + k, 18), 0) << k;
    }
    EXPECT_EQ(GETFIL(d, 4), -1);
    EXPECT_EQ(name_of(d + 1, 3), "ByNumber");
    EXPECT_EQ(name_of(d + 3, 3), "ByCity");
    EXPECT_EQ(name_of(d, 1), "first");
    EXPECT_EQ(name_of(d, 2), "last");
    EXPECT_EQ(name_of(d, 9), "<116>");
    char small[4];
    EXPECT_EQ(iGETNAM(d + 1, small, sizeof small, 3), 153);
    EXPECT_EQ(iGETNAM(d + 1, nullptr, 10, 3), 540);
    // The data file's index list, ended after the last index.
    const uint16_t *list = zv::isam_actlist(d);
    EXPECT_EQ(list[0], d + 1);
    EXPECT_EQ(list[2], d + 3);
    EXPECT_EQ(list[3], 0xFFFF);
    // Names from the stored definition.
    EXPECT_EQ(name_of(d, 7), "cust.dat");
    EXPECT_EQ(name_of(d + 2, 8), "cust.idx");
    // Files of a set are closed through the set.
    EXPECT_EQ(CLSFIL(d, 0), 963);
    EXPECT_EQ(CLIFIL(&s.ifil), 0);
    EXPECT_EQ(s.ifil.tfilno, -1);
    EXPECT_TRUE(all_free(d, d + 3));
    EXPECT_EQ(zv::isam_entry(d + 1)->datno, 0xFFFF);
    EXPECT_EQ(zv::isam_entry(d + 1)->idxnam, nullptr);
}

TEST_F(CreateTest, SetWithoutIndexesAndWithoutStoredDefinition) {
    IFIL f{"plain", 3, 32, 0, 0x800, 0, 0, 0, nullptr, nullptr, nullptr, 0};
    ASSERT_EQ(CREIFIL(&f), 0);
    EXPECT_EQ(f.tfilno, 3);
    EXPECT_EQ(files_in(), (std::set<std::string>{"plain.dat"}));
    EXPECT_EQ(zv::isam_actlist(3)[0], 0xFFFF);
    // Nothing stored: GETIFIL has nothing to give.
    char buf[512];
    EXPECT_EQ(GETIFIL(3, sizeof buf, buf), 0);
    EXPECT_EQ(zvGetUserErrorCode(), 408);
    EXPECT_EQ(CLIFIL(&f), 0);
    // A second close of the same IFIL: no data file -1.
    EXPECT_EQ(CLIFIL(&f), 22);
    EXPECT_EQ(zvGetIsamErrorCode(), 22);
}

TEST_F(CreateTest, DuplicateKeyLengthMustCoverItsPosition) {
    CustSet s("cust", 4);
    s.idx[1].ikeylen = 10;
    EXPECT_EQ(CREIFIL(&s.ifil), 115);
    EXPECT_EQ(zvGetIsamErrorCode(), 115);
    EXPECT_EQ(zvGetIsamFileNbr(), 6);
    EXPECT_EQ(s.ifil.tfilno, -1);
    EXPECT_TRUE(files_in().empty());
    EXPECT_TRUE(all_free(4, 7));
    s.idx[1].ikeylen = 14;
    ASSERT_EQ(CREIFIL(&s.ifil), 0);
    EXPECT_EQ(s.ifil.tfilno, 4);
}

TEST_F(CreateTest, RefusalsLeaveNoFile) {
    struct Case {
        const char *what;
        void (*change)(CustSet &);
        int code;
    };
    static ISEG many[17];
    const Case cases[] = {
        {"no name", [](CustSet &s) { s.ifil.pfilnam = nullptr; }, 540},
        {"no index array", [](CustSet &s) { s.ifil.iidxarr = nullptr; }, 540},
        {"no segment array", [](CustSet &s) { s.idx[2].isegarr = nullptr; }, 540},
        {"65 indexes", [](CustSet &s) { s.ifil.dnumidx = 65; }, 107},
        {"17 segments",
         [](CustSet &s) {
             for (ISEG &g : many) g = ISEG{0, 1, 0};
             s.idx[2] = IIDX{17, 0, 0, 0, 0, 17, many, nullptr, "*x.idx", nullptr, nullptr};
         },
         109},
        {"negative length", [](CustSet &s) { s.s2[0].slength = -1; }, 634},
        {"negative offset", [](CustSet &s) { s.s2[0].soffset = -1; }, 634},
        {"segment past the record", [](CustSet &s) { s.s2[0].soffset = 60; }, 634},
        {"unicode collated", [](CustSet &s) { s.s1[1].segmode = 0x480; }, 694},
        {"partition segment first", [](CustSet &s) { s.s1[0].segmode = 0x200; }, 895},
        {"plain after partition",
         [](CustSet &s) {
             s.s1[0].segmode = 0;
             s.s1[1].segmode = 0x200;
             s.idx[1].inumseg = 2;
             s.s1[1] = ISEG{12, 6, 0x200};
             static ISEG three[3] = {{8, 4, 0}, {12, 2, 0x200}, {14, 4, 0}};
             s.idx[1].isegarr = three;
             s.idx[1].inumseg = 3;
         },
         895},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        CustSet s("cust", 2);
        c.change(s);
        EXPECT_EQ(CREIFIL(&s.ifil), c.code);
        EXPECT_EQ(zvGetIsamErrorCode(), c.code);
        EXPECT_EQ(zvGetUserErrorCode(), c.code);
        EXPECT_TRUE(files_in().empty());
        EXPECT_TRUE(all_free(2, 5));
    }
    EXPECT_EQ(CREIFIL(nullptr), 540);
    EXPECT_EQ(zvGetIsamErrorCode(), 540);
    // A variable-length record goes on past its fixed part: a segment there
    // is a segment of the record.
    CustSet v("vcust", 2);
    v.ifil.dfilmod = 0x4;
    v.s2[0].soffset = 60;
    ASSERT_EQ(CREIFIL(&v.ifil), 0);
    EXPECT_EQ(CLIFIL(&v.ifil), 0);
}

TEST_F(CreateTest, APartitionedSetNeedsItsPartitionIndex) {
    CustSet s("cust", 2);
    XCREblk blocks[3] = {};
    blocks[0].mode = 0x02 | 0xC00000;
    blocks[0].option9 = 3;
    EXPECT_EQ(CREIFILX8(&s.ifil, nullptr, nullptr, 0, nullptr, nullptr, blocks), 731);
    EXPECT_EQ(zvGetIsamErrorCode(), 731);
    EXPECT_TRUE(files_in().empty());
    EXPECT_TRUE(all_free(2, 5));
    blocks[0].option9 = 1;
    blocks[1].mode = 0x02000000;
    ASSERT_EQ(CREIFILX8(&s.ifil, nullptr, nullptr, 0, nullptr, nullptr, blocks), 0);
    EXPECT_EQ(files_in(), (std::set<std::string>{"cust.dat", "cust.idx", "cust_x.idx"}));
    // The caller's blocks are only read.
    EXPECT_EQ(blocks[0].mode, 0x02u | 0xC00000u);
    EXPECT_EQ(blocks[1].mode, 0x02000000u);
    EXPECT_EQ(CLIFIL(&s.ifil), 0);
}

TEST_F(CreateTest, ExtensionsOfTheParameterBlock) {
    CustSet s;
    ASSERT_EQ(CREIFILX(&s.ifil, ".d", ".i", 0, nullptr, nullptr), 0);
    EXPECT_EQ(files_in(), (std::set<std::string>{"cust.d", "cust.i", "cust_x.idx"}));
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    // Blanks mean no extension.
    CustSet t("bare");
    t.idx[2].aidxnam = "?.x";
    ASSERT_EQ(CREIFILX(&t.ifil, "  ", ".i2", 0, nullptr, nullptr), 0);
    EXPECT_EQ(files_in(), (std::set<std::string>{"cust.d", "cust.i", "cust_x.idx", "bare", "bare.i2", "bare.x"}));
    ASSERT_EQ(CLIFIL(&t.ifil), 0);
    // An existing file is never touched: 19, nothing else made.
    EXPECT_EQ(CREIFILX(&s.ifil, ".d", ".i", 0, nullptr, nullptr), 19);
    EXPECT_EQ(s.ifil.tfilno, -1);
    EXPECT_TRUE(all_free(1, 10));
}

// Names are refused, never cut: a data or index file name that does not
// fit with its extension, and a field name longer than its stored slot.
TEST_F(CreateTest, OverLongNamesAreRefusedNeverCut) {
    std::string data(252, 'd');  // with ".dat": 256
    CustSet a(data.c_str());
    EXPECT_EQ(CREIFIL(&a.ifil), 139);
    EXPECT_EQ(zvGetIsamErrorCode(), 139);
    EXPECT_EQ(a.ifil.tfilno, -1);
    // The data file fits (".d"), the index file (".idx") does not.
    std::string both(252, 'e');
    CustSet b(both.c_str());
    EXPECT_EQ(CREIFILX(&b.ifil, ".d", ".idx2", 0, nullptr, nullptr), 139);
    EXPECT_EQ(b.ifil.tfilno, -1);
    EXPECT_EQ(files_in(), std::set<std::string>{});
    EXPECT_TRUE(all_free(0, 20));
    // Field names: 63 characters fit, 64 do not.
    std::string f63(63, 'f'), f64(64, 'f');
    CustSet c("fields");
    c.ifil.rfstfld = f64.c_str();
    EXPECT_EQ(CREIFIL(&c.ifil), 139);
    EXPECT_EQ(files_in(), std::set<std::string>{});
    CustSet e("fields");
    e.ifil.tlstfld = f64.c_str();
    EXPECT_EQ(CREIFIL(&e.ifil), 139);
    CustSet ok("fields");
    ok.ifil.rfstfld = f63.c_str();
    ASSERT_EQ(CREIFIL(&ok.ifil), 0);
    ASSERT_EQ(CLIFIL(&ok.ifil), 0);
    int d = OPNRFIL(-1, "fields.dat", 0);
    ASSERT_GE(d, 0);
    char name[80];
    ASSERT_EQ(iGETNAM(d, name, sizeof name, 1), 0);
    EXPECT_EQ(std::string(name), f63);
    EXPECT_EQ(CLRFIL(d), 0);
}

// Every call that takes create blocks reads the default-block value as one
// block of the engine's defaults per physical file: each file it makes gets
// an extended header.
TEST_F(CreateTest, DefaultBlocksForEveryCreateCall) {
    struct Case {
        const char *call;
        bool set;  // a file set (data file, index file and its own file)
        int (*create)(IFIL *ifil, int filno);
    } cases[] = {
        {"CREDATX8", false,
         [](IFIL *, int n) { return CREDATX8(n, "a.dat", 64, 0, 0, 0, nullptr, nullptr, ZV_XCRE_DEFAULT); }},
        {"CREIDXX8", false,
         [](IFIL *, int n) {
             return CREIDXX8(n, "a.idx", 8, 0, 0, 0, 0, 0, 0, nullptr, nullptr, ZV_XCRE_DEFAULT);
         }},
        {"zarvo CREDATX8", false,
         [](IFIL *, int n) {
             intptr_t b[] = {intptr_t("b.dat"), 64, 0, 0, 0, 0, 0, intptr_t(ZV_XCRE_DEFAULT)};
             return int(zarvo(0x208C, int16_t(n), b, nullptr, nullptr, nullptr, 0));
         }},
        {"zarvo CREIDXX8", false,
         [](IFIL *, int n) {
             intptr_t b[] = {intptr_t("b.idx"), 8, 0, 0, 0, 0, 0, 0, 0, 0, intptr_t(ZV_XCRE_DEFAULT)};
             return int(zarvo(0x208D, int16_t(n), b, nullptr, nullptr, nullptr, 0));
         }},
        {"CREIFILX8", true,
         [](IFIL *f, int) { return CREIFILX8(f, nullptr, nullptr, 0, nullptr, nullptr, ZV_XCRE_DEFAULT); }},
        {"CREIFILz", true,
         [](IFIL *f, int) {
             IFILPARM p{};
             p.ifil = f;
             p.xcre = ZV_XCRE_DEFAULT;
             return CREIFILz(&p);
         }},
        {"zarvo CREIFILz", true,
         [](IFIL *f, int) {
             IFILPARM p{};
             p.ifil = f;
             p.xcre = ZV_XCRE_DEFAULT;
             return int(zarvo(0x215F, 0, &p, nullptr, nullptr, nullptr, 0));
         }},
    };
    int n = 20;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.call);
        std::string name = "set" + std::to_string(n);
        CustSet s(name.c_str(), int16_t(n));
        s.idx[2].aidxnam = "?.x";
        ASSERT_EQ(c.create(&s.ifil, n), 0);
        std::vector<int> files = c.set ? std::vector<int>{n, n + 1, n + 3} : std::vector<int>{n};
        if (c.set) {
            EXPECT_EQ(s.ifil.tfilno, n);
        }
        for (int f : files) {
            FCB *fc = zv::fcb_at(f);
            ASSERT_NE(fc, nullptr) << f;
            EXPECT_EQ(fc->hdr.base.verson, 0x91) << f;
        }
        if (c.set) {
            EXPECT_EQ(CLIFIL(&s.ifil), 0);
        } else {
            EXPECT_EQ(CLSFIL(n, 0), 0);
        }
        n += 4;
    }
}

// Fails the nth write, then the nth pool allocation, then the nth platform
// allocation, n = 1, 2, ... until the create succeeds: every failure leaves
// no file and no number taken, and names the file where it happened.
TEST_F(CreateTest, FaultSweepsLeaveNothingBehind) {
    const char *kinds[3] = {"writes", "pool allocations", "platform allocations"};
    std::set<int> codes;
    for (int kind = 0; kind < 3; kind++) {
        SCOPED_TRACE(kinds[kind]);
        int failures = 0;
        for (long n = 1;; n++) {
            ASSERT_LT(n, 400);
            CustSet s("cust", 5);
            if (kind == 0) zv::fault_set(IoKind::Write, n, EIO);
            else if (kind == 1) zv::fail_pool_at(n);
            else zv::fail_alloc_at(n);
            int rc = CREIFIL(&s.ifil);
            zv::fault_reset();
            zv::fail_pool_at(0);
            zv::fail_alloc_at(0);
            if (rc == 0) {
                EXPECT_EQ(s.ifil.tfilno, 5);
                ASSERT_EQ(DELIFIL(&s.ifil), 0);
                break;
            }
            failures++;
            codes.insert(rc);
            SCOPED_TRACE(n);
            EXPECT_EQ(zvGetIsamErrorCode(), rc);
            EXPECT_EQ(s.ifil.tfilno, -1);
            EXPECT_TRUE(files_in().empty());
            EXPECT_TRUE(all_free(5, 8));
            int at = zvGetIsamFileNbr();
            EXPECT_TRUE(at >= 5 && at <= 8) << at;
            for (int i = 5; i <= 8; i++) EXPECT_EQ(zv::isam_entry(i)->inuse, 0) << i;
        }
        EXPECT_GT(failures, kind == 2 ? 0 : 3);
    }
    // Among them the copies of the field names (195) and of an index name
    // (181), and the stored definition's image (197).
    EXPECT_TRUE(codes.count(195));
    EXPECT_TRUE(codes.count(181));
    EXPECT_TRUE(codes.count(197));
}

// A data file whose create keeps it open after a failed resource step (its
// block asks for that with 0x10) is closed and deleted by the set's create.
TEST_F(CreateTest, ADataFileKeptByAFailedCreateGoesToo) {
    int failures = 0;
    for (long n = 1;; n++) {
        ASSERT_LT(n, 100);
        CustSet s("cust", 5);
        XCREblk blocks[3] = {};
        blocks[0].mode = 0x02 | 0x10;
        blocks[1].mode = blocks[2].mode = 0x02;
        zv::fault_set(IoKind::Write, n, EIO);
        int rc = CREIFILX8(&s.ifil, nullptr, nullptr, 0, nullptr, nullptr, blocks);
        zv::fault_reset();
        if (rc == 0) break;
        SCOPED_TRACE(n);
        failures++;
        EXPECT_TRUE(files_in().empty());
        EXPECT_TRUE(all_free(5, 8));
    }
    EXPECT_GT(failures, 0);
}

TEST_F(CreateTest, SetBeyondTheStartUpCountGrowsBothTables) {
    INSTGV *g = zvWNGV;
    ASSERT_LT(idx_state(g).isamtabn, 60);
    CustSet s("cust", 60);
    ASSERT_EQ(CREIFIL(&s.ifil), 0);
    EXPECT_GE(idx_state(g).isamtabn, 64);
    EXPECT_GE(g->filecount + 1, 64);
    EXPECT_EQ(GETFIL(63, 4), 60);
    EXPECT_EQ(GETFIL(62, 13), 1);
    EXPECT_EQ(CLIFIL(&s.ifil), 0);
    EXPECT_TRUE(all_free(60, 63));
}

TEST_F(CreateTest, DeleteRemovesEveryFileAndFreesItsNumbers) {
    CustSet s;
    ASSERT_EQ(CREIFIL(&s.ifil), 0);
    int d = s.ifil.tfilno;
    EXPECT_EQ(DELIFIL(&s.ifil), 0);
    EXPECT_EQ(s.ifil.tfilno, -1);
    EXPECT_TRUE(files_in().empty());
    EXPECT_TRUE(all_free(d, d + 3));
    // By number, and a set opened read only refuses.
    CustSet t;
    ASSERT_EQ(CREIFIL(&t.ifil), 0);
    d = t.ifil.tfilno;
    ASSERT_EQ(CLIFIL(&t.ifil), 0);
    t.ifil.dfilmod = 0x08;
    t.ifil.ifilmod = 0x08;
    ASSERT_EQ(OPNIFIL(&t.ifil), 0);
    EXPECT_EQ(DELRFIL(t.ifil.tfilno), 56);
    EXPECT_EQ(files_in().size(), 3u);
    ASSERT_EQ(CLRFIL(t.ifil.tfilno), 0);
    t.ifil.dfilmod = 0;
    t.ifil.ifilmod = 0;
    ASSERT_EQ(OPNIFIL(&t.ifil), 0);
    EXPECT_EQ(DELRFIL(t.ifil.tfilno), 0);
    EXPECT_TRUE(files_in().empty());
}

TEST_F(CreateTest, DeleteTakesTheSegmentFilesAlong) {
    CustSet s;
    XCREblk blocks[3] = {};
    blocks[0].mode = 0x02 | 0x08 | 0x200000;  // automatic 1 MB segments
    blocks[0].segsize = 1;
    blocks[0].nsegs = 3;
    blocks[1].mode = blocks[2].mode = 0x02;
    ASSERT_EQ(CREIFILX8(&s.ifil, nullptr, nullptr, 0, nullptr, nullptr, blocks), 0);
    int d = s.ifil.tfilno;
    std::vector<unsigned char> bytes(1200000, 0x5A);
    ASSERT_EQ(izvio81x(0x11, zv::fcb_at(d), 0, 4096, bytes.data(), int32_t(bytes.size()), nullptr, 0), 0);
    EXPECT_EQ(files_in(), (std::set<std::string>{"cust.dat", "cust.dat.001", "cust.idx", "cust_x.idx"}));
    EXPECT_EQ(DELIFIL(&s.ifil), 0);
    EXPECT_TRUE(files_in().empty());
    EXPECT_TRUE(all_free(d, d + 3));
}

TEST_F(CreateTest, SetsInsideASuperfileAreNotDeletedAsASet) {
    ASSERT_EQ(CREDAT(30, "sh", 32, 0, 0x200), 0);
    CustSet s("sh!cust");
    s.idx[2].aidxnam = "sh!cust_x";
    ASSERT_EQ(CREIFIL(&s.ifil), 0) << zvGetIsamFileNbr();
    int d = s.ifil.tfilno;
    EXPECT_EQ(files_in(), (std::set<std::string>{"sh"}));
    EXPECT_EQ(DELIFIL(&s.ifil), 56);
    EXPECT_EQ(zvGetIsamErrorCode(), 56);
    EXPECT_EQ(s.ifil.tfilno, d);
    EXPECT_EQ(GETFIL(d + 3, 4), d);
    EXPECT_EQ(CLIFIL(&s.ifil), 0);
    int r = OPNRFIL(-1, "sh!cust.dat", 0);
    ASSERT_GE(r, 0) << zvGetUserErrorCode();
    EXPECT_EQ(CLRFIL(r), 0);
}

}  // namespace
