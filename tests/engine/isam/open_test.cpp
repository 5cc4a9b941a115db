// File-set open and close: from the caller's IFIL and from the stored
// definition, checks of every index file against the definition, and the
// stop of the whole ISAM layer.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "engine/core/fcb.h"
#include "engine/index/idxstate.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"
#include "tests/support/child.h"
#include "tests/support/damage.h"
#include "tests/support/setfix.h"

namespace {

using settest::CustSet;
using settest::SetTest;
using zv::IoKind;

class OpenTest : public SetTest {
protected:
    // Creates the cust set and closes it again.
    void make_cust(const char *name = "cust") {
        CustSet s(name);
        ASSERT_EQ(CREIFIL(&s.ifil), 0);
        ASSERT_EQ(CLIFIL(&s.ifil), 0);
    }
    // Every number of a set is in its place: the key map names the data
    // file for each index.
    static void expect_set_at(int d) {
        EXPECT_EQ(GETFIL(d, 2), 0);
        for (int k = 0; k < 3; k++) {
            EXPECT_EQ(GETFIL(d + 1 + k, 4), d) << k;
            EXPECT_EQ(GETFIL(d + 1 + k, 7), k) << k;
        }
        EXPECT_EQ(GETFIL(d + 2, 13), 1);
    }
};

TEST_F(OpenTest, ReopenFromTheCallersDefinition) {
    make_cust();
    CustSet s;
    zv::fault_reset();
    ASSERT_EQ(OPNIFIL(&s.ifil), 0);
    // One open system call per physical file.
    EXPECT_EQ(zv::io_calls(IoKind::Open), 3);
    int d = s.ifil.tfilno;
    expect_set_at(d);
    char name[64];
    ASSERT_EQ(iGETNAM(d + 2, name, sizeof name, 3), 0);
    EXPECT_STREQ(name, "ByName");
    EXPECT_EQ(CLIFIL(&s.ifil), 0);
    EXPECT_EQ(CLIFIL(&s.ifil), 22);
    EXPECT_TRUE(all_free(d, d + 3));
}

TEST_F(OpenTest, MismatchesCloseEverythingOpened) {
    make_cust();
    struct Case {
        const char *what;
        void (*change)(CustSet &);
        int code;
        int at;   // file number of the error, from the data file
    };
    static ISEG nine[1] = {{0, 9, 0}};
    static ISEG extra[1] = {{40, 4, 0}};
    const Case cases[] = {
        {"key length", [](CustSet &s) {
             s.idx[0].ikeylen = 9;
             s.idx[0].isegarr = nine;
         }, 608, 1},
        {"duplicates", [](CustSet &s) {
             s.idx[2].ikeydup = 1;
             s.idx[2].ikeylen = 14;
             s.s2[0].slength = 10;
         }, 608, 3},
        {"key type bit 0x80", [](CustSet &s) { s.idx[2].ikeytyp = 0x80; }, 608, 3},
        {"record length", [](CustSet &s) { s.ifil.dreclen = 63; }, 608, 0},
        {"one member less in the file", [](CustSet &s) {
             static IIDX four[4];
             four[0] = s.idx[0];
             four[1] = s.idx[1];
             four[2] = IIDX{4, 0, 0, 0, 0, 1, extra, nullptr, nullptr, nullptr, nullptr};
             four[3] = s.idx[2];
             s.ifil.iidxarr = four;
             s.ifil.dnumidx = 4;
         }, 124, 0},
        {"missing index file", [](CustSet &s) { s.idx[2].aidxnam = "*nothere.idx"; }, 12, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        CustSet s("cust", 2);
        c.change(s);
        EXPECT_EQ(OPNIFIL(&s.ifil), c.code);
        EXPECT_EQ(zvGetIsamErrorCode(), c.code);
        EXPECT_EQ(zvGetIsamFileNbr(), 2 + c.at);
        EXPECT_EQ(s.ifil.tfilno, -1);
        EXPECT_TRUE(all_free(1, 10));
        for (int i = 2; i <= 6; i++) EXPECT_EQ(zv::isam_entry(i)->inuse, 0) << i;
        EXPECT_EQ(zvWNGV->nfiles, 0);
    }
}

// Fails the nth open system call, then the nth pool allocation, while a
// set opens from its stored definition: nothing of the set stays open.
TEST_F(OpenTest, FailedOpensLeaveNothingOpen) {
    make_cust();
    for (int kind = 0; kind < 2; kind++) {
        SCOPED_TRACE(kind == 0 ? "opens" : "pool allocations");
        int failures = 0;
        for (long n = 1;; n++) {
            ASSERT_LT(n, 200);
            if (kind == 0) zv::fault_set(IoKind::Open, n, EACCES);
            else zv::fail_pool_at(n);
            int d = OPNRFIL(-1, "cust.dat", 0);
            zv::fault_reset();
            zv::fail_pool_at(0);
            if (d >= 0) {
                expect_set_at(d);
                ASSERT_EQ(CLRFIL(d), 0);
                break;
            }
            failures++;
            SCOPED_TRACE(n);
            EXPECT_NE(zvGetUserErrorCode(), 0);
            EXPECT_EQ(zvWNGV->nfiles, 0);
            for (int i = 0; i < idx_state(zvWNGV).isamtabn; i++) ASSERT_EQ(zv::isam_entry(i)->inuse, 0) << i;
        }
        EXPECT_GT(failures, 2);
    }
}

// A data file whose header says a record is longer than the definition's
// (65 bytes against 64) would make every read write past the caller's
// record: both opens refuse it with 608 at the data file's number.
TEST_F(OpenTest, ADataFileLongerThanItsDefinitionIs608) {
    make_cust();
    std::string bytes = zvtest::read_file("cust.dat");
    ASSERT_EQ(uint8_t(bytes[44]), 64);
    bytes[44] = 65;
    zvtest::write_file("cust.dat", bytes);
    CustSet s("cust", 2);
    EXPECT_EQ(OPNIFIL(&s.ifil), 608);
    EXPECT_EQ(zvGetIsamFileNbr(), 2);
    EXPECT_EQ(s.ifil.tfilno, -1);
    EXPECT_TRUE(all_free(1, 10));
    EXPECT_EQ(OPNRFIL(2, "cust.dat", 0), -1);
    EXPECT_EQ(zvGetUserErrorCode(), 608);
    EXPECT_TRUE(all_free(1, 10));
    EXPECT_EQ(zvWNGV->nfiles, 0);
    EXPECT_EQ(zvtest::read_file("cust.dat"), bytes);
}

TEST_F(OpenTest, StoredDefinitionOpensTheSet) {
    make_cust();
    int d = OPNRFIL(-1, "cust.dat", 0);
    ASSERT_GE(d, 0);
    expect_set_at(d);
    char name[64];
    ASSERT_EQ(iGETNAM(d, name, sizeof name, 1), 0);
    EXPECT_STREQ(name, "first");
    EXPECT_EQ(zv::isam_entry(d)->inuse, zv::kMapByName);
    EXPECT_EQ(CLRFIL(d), 0);
    EXPECT_TRUE(all_free(d, d + 3));
    // A caller-given number whose followers are taken fails.
    ASSERT_EQ(CREDAT(6, "blocker.dat", 32, 0, 0), 0);
    EXPECT_EQ(OPNRFIL(5, "cust.dat", 0), -1);
    EXPECT_EQ(zvGetUserErrorCode(), 46);
    EXPECT_TRUE(all_free(5, 5));
    // Without a stored definition: 408 and nothing stays open.
    ASSERT_EQ(CLSFIL(6, 0), 0);
    EXPECT_EQ(OPNRFIL(-1, "blocker.dat", 0), -1);
    EXPECT_EQ(zvGetUserErrorCode(), 408);
    EXPECT_EQ(zvWNGV->nfiles, 0);
    EXPECT_EQ(OPNRFIL(-1, "none.dat", 0), -1);
    EXPECT_EQ(zvGetUserErrorCode(), 12);
    EXPECT_EQ(OPNRFIL(-1, nullptr, 0), -1);
    EXPECT_EQ(zvGetUserErrorCode(), 540);
}

// A name that does not fit the engine's name buffer is refused with 139;
// cutting it would open another file: the first 255 characters here name
// the set's own data file.
TEST_F(OpenTest, OverLongNamesAreRefusedNeverCut) {
    {
        CustSet c("custs");
        c.idx[2].aidxnam = nullptr;  // every index in custs.idx
        ASSERT_EQ(CREIFIL(&c.ifil), 0);
        ASSERT_EQ(CLIFIL(&c.ifil), 0);
    }
    std::string fits;
    for (int i = 0; i < 123; i++) fits += "./";
    fits += "custs.dat";
    ASSERT_EQ(fits.size(), 255u);
    int d = OPNRFIL(-1, fits.c_str(), 0);  // the longest name that fits opens
    ASSERT_GE(d, 0) << zvGetIsamErrorCode() << " on " << zvGetIsamFileNbr();
    ASSERT_EQ(CLRFIL(d), 0);
    for (size_t len : {256u, 300u}) {
        std::string name = fits + std::string(len - fits.size(), 'x');
        EXPECT_EQ(OPNRFIL(-1, name.c_str(), 0), -1) << len;
        EXPECT_EQ(zvGetUserErrorCode(), 139) << len;
        EXPECT_EQ(zvGetIsamErrorCode(), 139) << len;
        EXPECT_EQ(OPNRFILX(-1, name.c_str(), 0, nullptr), -1) << len;
        EXPECT_EQ(zvGetUserErrorCode(), 139) << len;
        EXPECT_EQ(zvWNGV->nfiles, 0) << len;
        EXPECT_TRUE(all_free(0, 20)) << len;
    }
    // A set whose name fits only without its extension: 139, nothing opened.
    std::string base = fits.substr(0, 252);  // ".dat" makes 256
    CustSet s(base.c_str());
    EXPECT_EQ(OPNIFIL(&s.ifil), 139);
    EXPECT_EQ(zvGetIsamErrorCode(), 139);
    EXPECT_EQ(s.ifil.tfilno, -1);
    EXPECT_EQ(zvWNGV->nfiles, 0);
}

TEST_F(OpenTest, StoredDefinitionMovesToAFreshRunWhenTheNextNumbersAreTaken) {
    make_cust();
    int a = AVLFILNUM(1);
    ASSERT_GE(a, 0);
    ASSERT_EQ(CREDAT(a + 1, "blocker.dat", 32, 0, 0), 0);
    int d = OPNRFIL(-1, "cust.dat", 0);
    ASSERT_GE(d, 0);
    EXPECT_NE(d, a);
    EXPECT_GT(d, a + 1);
    expect_set_at(d);
    EXPECT_EQ(TSTFILNUM(a), 0);
    EXPECT_EQ(CLRFIL(d), 0);
}

TEST_F(OpenTest, MovedDirectoryFindsTheIndexFilesWithIt) {
    std::filesystem::create_directory("d1");
    make_cust("d1/cust");
    ASSERT_EQ(CLISAM(), 0);
    std::filesystem::rename("d1", "d2");
    ASSERT_EQ(INTISAM(10, 20, 4), 0);
    int d = OPNRFIL(-1, "d2/cust.dat", 0);
    ASSERT_GE(d, 0) << zvGetUserErrorCode();
    expect_set_at(d);
    char name[256];
    ASSERT_EQ(GETNAM(d + 3, name, sizeof name), 0);
    EXPECT_STREQ(name, "d2/cust_x.idx");
    ASSERT_EQ(iGETNAM(d, name, sizeof name, 7), 0);
    EXPECT_STREQ(name, "d2/cust.dat");
    ASSERT_EQ(iGETNAM(d, name, sizeof name, 8), 0);
    EXPECT_STREQ(name, "d2/cust.idx");
    EXPECT_EQ(CLRFIL(d), 0);
}

TEST_F(OpenTest, StoredPathsFollowTheDataFileWhenKept) {
    ASSERT_EQ(zvSETCFG_SUPPRESS_PATH_IN_IFIL("NO"), 0);
    std::filesystem::create_directory("d1");
    CustSet s("d1/cust");
    s.idx[2].aidxnam = "d1/cust_x.idx";
    ASSERT_EQ(CREIFIL(&s.ifil), 0);
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    std::filesystem::rename("d1", "d2");
    int d = OPNRFIL(-1, "d2/cust.dat", 0);
    ASSERT_GE(d, 0) << zvGetUserErrorCode();
    char name[256];
    ASSERT_EQ(GETNAM(d + 3, name, sizeof name), 0);
    EXPECT_STREQ(name, "d2/cust_x.idx");
    EXPECT_EQ(CLRFIL(d), 0);
    zvSETCFG_SUPPRESS_PATH_IN_IFIL("YES");
}

TEST_F(OpenTest, RedirectedIndexFileIsFoundWhereItMoved) {
    ASSERT_EQ(zvSETCFG_SUPPRESS_PATH_IN_IFIL("NO"), 0);
    std::filesystem::create_directory("B");
    std::filesystem::create_directory("C");
    CustSet s;
    s.idx[2].aidxnam = "B/cust_x.idx";
    ASSERT_EQ(CREIFIL(&s.ifil), 0);
    int d = s.ifil.tfilno;
    ASSERT_EQ(zvredirectadd("B/ C/"), 0);
    EXPECT_EQ(zv::zvredirectifil(d), 0);
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    std::filesystem::rename("B/cust_x.idx", "C/cust_x.idx");
    int r = OPNRFIL(-1, "cust.dat", 0);
    ASSERT_GE(r, 0) << zvGetUserErrorCode();
    char name[256];
    ASSERT_EQ(GETNAM(r + 3, name, sizeof name), 0);
    EXPECT_STREQ(name, "C/cust_x.idx");
    EXPECT_EQ(CLRFIL(r), 0);
    // Without a stored definition there is nothing to redirect.
    IFIL bare{"bare", -1, 16, 0, 0x800, 0, 0, 0, nullptr, nullptr, nullptr, 0};
    ASSERT_EQ(CREIFIL(&bare), 0);
    EXPECT_EQ(zv::zvredirectifil(bare.tfilno), 408);
    zvSETCFG_SUPPRESS_PATH_IN_IFIL("YES");
}

TEST_F(OpenTest, AnIndexFileServesOneDataFile) {
    make_cust();
    IFIL other{"other", -1, 64, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, 0};
    ASSERT_EQ(CREIFIL(&other), 0);
    ASSERT_EQ(CLIFIL(&other), 0);
    // Both sets open shared: a file opened twice (here cust.idx) is open
    // shared each time, since an exclusive open holds its file against
    // every other open.
    CustSet s;
    s.ifil.dfilmod = s.ifil.ifilmod = 0x0001;
    ASSERT_EQ(OPNIFIL(&s.ifil), 0);
    int d = s.ifil.tfilno;
    // "other" names cust.idx as its index file.
    CustSet t("other");
    t.idx[0].aidxnam = "cust.idx";
    t.ifil.dnumidx = 2;
    t.ifil.dfilmod = t.ifil.ifilmod = 0x0001;
    EXPECT_EQ(OPNIFIL(&t.ifil), 957);
    EXPECT_EQ(zvGetIsamErrorCode(), 957);
    int o = d + 4;
    EXPECT_EQ(zvGetIsamFileNbr(), o + 1);
    std::string log = zvtest::read_file("ZVSTATUS.QVS");
    std::string want = "DMAP_ERR: index file cust.idx (" + std::to_string(o + 1) + ") for data file other.dat (" +
                       std::to_string(o) + ") is already associated with data file cust.dat (" +
                       std::to_string(d) + ")";
    EXPECT_NE(log.find(want), std::string::npos) << log;
    EXPECT_EQ(t.ifil.tfilno, -1);
    EXPECT_TRUE(all_free(o, o + 2));
    // The set itself is untouched.
    expect_set_at(d);
    EXPECT_EQ(CLIFIL(&s.ifil), 0);
}

// Files stamped by older code (server id 0, a file id from the process id)
// are told apart as before: the same index file opened for its own data
// file twice is one file's, opened for another data file it is refused.
TEST_F(OpenTest, FilesStampedByOlderCodeAreToldApartAsBefore) {
    make_cust();
    IFIL other{"other", -1, 64, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, 0};
    ASSERT_EQ(CREIFIL(&other), 0);
    ASSERT_EQ(CLIFIL(&other), 0);
    const struct {
        const char *name;
        int places;  // the header, and one per index member
    } files[] = {{"cust.dat", 1}, {"cust.idx", 2}, {"cust_x.idx", 1}, {"other.dat", 1}};
    uint32_t older = (4194303u << 10) | 1u;
    for (const auto &f : files) EXPECT_EQ(zvtest::stamp_older_id(f.name, older++), f.places) << f.name;
    CustSet s;
    s.ifil.dfilmod = s.ifil.ifilmod = 0x0001;
    ASSERT_EQ(OPNIFIL(&s.ifil), 0);
    const int d = s.ifil.tfilno;
    EXPECT_EQ(GETFIL(d + 2, 35), GETFIL(d + 1, 35));
    EXPECT_EQ(GETFIL(d + 2, 37), 0);
    CustSet again;
    again.ifil.dfilmod = again.ifil.ifilmod = 0x0001;
    ASSERT_EQ(OPNIFIL(&again.ifil), 0);
    CustSet t("other");
    t.idx[0].aidxnam = "cust.idx";
    t.ifil.dnumidx = 2;
    t.ifil.dfilmod = t.ifil.ifilmod = 0x0001;
    EXPECT_EQ(OPNIFIL(&t.ifil), 957);
    EXPECT_EQ(CLIFIL(&again.ifil), 0);
    expect_set_at(d);
    EXPECT_EQ(CLIFIL(&s.ifil), 0);
}

// A set open without the shared bit is held against every other process:
// another process's open gives 12 with the lock's errno as its system
// error, until the set is closed. Shared opens go together.
TEST_F(OpenTest, ExclusiveOpensAreExclusiveAcrossProcesses) {
    make_cust();
    auto open_elsewhere = [](int16_t mode) {
        return zvtest::run_in_child([mode] {
            zvtest::ChildResult r;
            if (INTISAM(10, 20, 4) != 0) return r;
            CustSet c;
            c.ifil.dfilmod = c.ifil.ifilmod = mode;
            r.rc = OPNIFIL(&c.ifil);
            r.sys = zvGetSystemErrorCode();
            r.extra = zvWNGV->nfiles;  // files left open by the call
            if (r.rc == 0) CLIFIL(&c.ifil);
            CLISAM();
            return r;
        });
    };
    auto refused = [](const zvtest::ChildResult &r) {
        return r.ok && r.rc == 12 && (r.sys == EAGAIN || r.sys == EACCES) && r.extra == 0;
    };
    struct Case {
        int16_t here;   // this process's open mode
        int16_t there;  // the other process's
        bool opens;
    } cases[] = {{0, 0, false}, {0, 0x0001, false}, {0x0001, 0, false}, {0x0001, 0x0001, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.here) + " " + std::to_string(c.there));
        CustSet s;
        s.ifil.dfilmod = s.ifil.ifilmod = c.here;
        ASSERT_EQ(OPNIFIL(&s.ifil), 0);
        zvtest::ChildResult r = open_elsewhere(c.there);
        ASSERT_TRUE(r.ok);
        if (c.opens) {
            EXPECT_EQ(r.rc, 0);
            EXPECT_EQ(r.extra, 3);  // cust.dat, cust.idx and cust_x.idx
        } else {
            EXPECT_TRUE(refused(r)) << r.rc << " " << r.sys << " " << r.extra;
        }
        if (!c.here) {
            // The exclusive holder still changes its set.
            char rec[64];
            memset(rec, 'a' + c.there, sizeof rec);
            EXPECT_EQ(ADDREC(s.ifil.tfilno, rec), 0);
        }
        ASSERT_EQ(CLIFIL(&s.ifil), 0);
        // Closed here: the other process opens it.
        r = open_elsewhere(c.there);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.rc, 0);
    }
}

// A file held open beyond its last close is released by name. A data file
// releases with it every index file of its set held in state 2 (lowered to
// state 1; members go with their file); one held by itself (state 1) is
// opened once more under a free number and that open closed again, which an
// exclusive open of the set refuses (12): nothing is released then.
TEST_F(OpenTest, HeldFilesAreReleasedByName) {
    make_cust();
    CustSet s;
    s.ifil.dfilmod = s.ifil.ifilmod = 0x0001;
    ASSERT_EQ(OPNIFIL(&s.ifil), 0);
    const int d = s.ifil.tfilno;
    // The data file, cust.idx, its member and cust_x.idx.
    FCB *f[4];
    for (int i = 0; i < 4; i++) f[i] = zvWNGV->fcbtab[d + i];
    struct Held {
        bool flag;
        uint8_t state;
    };
    struct Case {
        const char *what;
        int file;         // the file named
        Held before[4];
        int released;
        int opens;        // open system calls made on the way
        Held after[4];
    } cases[] = {
        {"nothing held", 0, {{false, 0}, {false, 0}, {false, 0}, {false, 0}}, 0, 0,
         {{false, 0}, {false, 0}, {false, 0}, {false, 0}}},
        {"a state without the flag", 0, {{false, 1}, {false, 2}, {false, 0}, {false, 2}}, 0, 0,
         {{false, 1}, {false, 2}, {false, 0}, {false, 2}}},
        {"data file and both index files", 0, {{true, 2}, {true, 2}, {true, 2}, {true, 2}}, 3, 0,
         {{false, 1}, {false, 1}, {true, 2}, {false, 1}}},
        {"data file held by itself", 0, {{true, 1}, {true, 2}, {false, 0}, {true, 1}}, 2, 1,
         {{false, 0}, {false, 1}, {false, 0}, {true, 1}}},
        {"an index file", 3, {{true, 2}, {true, 2}, {false, 0}, {true, 1}}, 1, 0,
         {{true, 2}, {true, 2}, {false, 0}, {false, 0}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        for (int i = 0; i < 4; i++) {
            f[i]->stflags = c.before[i].flag ? f[i]->stflags | kStKeepOpen : f[i]->stflags & ~kStKeepOpen;
            f[i]->keepstate = c.before[i].state;
        }
        const int32_t open = zvWNGV->nfiles;
        zv::fault_reset();
        EXPECT_EQ(zvundokepopn(f[c.file]->name), c.released);
        EXPECT_EQ(zv::io_calls(IoKind::Open), c.opens);
        EXPECT_EQ(zvWNGV->nfiles, open) << "the extra open is closed again";
        EXPECT_TRUE(all_free(d + 4, d + 10));
        for (int i = 0; i < 4; i++) {
            EXPECT_EQ((f[i]->stflags & kStKeepOpen) != 0, c.after[i].flag) << i;
            EXPECT_EQ(f[i]->keepstate, c.after[i].state) << i;
        }
    }
    EXPECT_EQ(zvundokepopn("nothere.dat"), 0);
    EXPECT_EQ(zvundokepopn(nullptr), 0);
    expect_set_at(d);
    ASSERT_EQ(CLIFIL(&s.ifil), 0);

    // Opened exclusively, the data file held by itself cannot be opened once
    // more: 0 with the open's code, and it stays held.
    CustSet x;
    ASSERT_EQ(OPNIFIL(&x.ifil), 0);
    FCB *dat = zvWNGV->fcbtab[x.ifil.tfilno];
    dat->stflags |= kStKeepOpen;
    dat->keepstate = 1;
    const int32_t open = zvWNGV->nfiles;
    EXPECT_EQ(zvundokepopn("cust.dat"), 0);
    EXPECT_EQ(zvGetUserErrorCode(), 12);
    EXPECT_NE(dat->stflags & kStKeepOpen, 0u);
    EXPECT_EQ(dat->keepstate, 1);
    EXPECT_EQ(zvWNGV->nfiles, open);
    EXPECT_EQ(CLIFIL(&x.ifil), 0);
}

TEST_F(OpenTest, StopClosesEverythingAndReportsTheFirstFailure) {
    CustSet a("a"), b("b");
    a.idx[2].aidxnam = "*a_x.idx";
    b.idx[2].aidxnam = "*b_x.idx";
    ASSERT_EQ(CREIFIL(&a.ifil), 0);
    ASSERT_EQ(CREIFIL(&b.ifil), 0);
    ASSERT_EQ(CREDAT(15, "loose.dat", 32, 0, 0), 0);
    // A superfile host (its directory on 17) with a member.
    ASSERT_EQ(CREDAT(16, "host", 32, 0, 0x200), 0);
    ASSERT_EQ(CREDAT(18, "host!member", 32, 0, 0), 0);
    // A record in a's data file: its close has pages to write.
    char rec[64] = "record";
    uint32_t pos = NEWREC(a.ifil.tfilno);
    ASSERT_NE(pos, 0u);
    ASSERT_EQ(WRTREC(a.ifil.tfilno, pos, rec), 0);
    zv::fault_set(IoKind::Write, 1, EIO);
    EXPECT_NE(CLISAM(), 0);
    zv::fault_reset();
    EXPECT_EQ(WCHZARVO(), nullptr);
    ASSERT_EQ(INTISAM(10, 20, 4), 0);
    // Every file was closed: b and the loose file open again cleanly.
    EXPECT_EQ(OPNIFIL(&b.ifil), 0);
    EXPECT_EQ(OPNFIL(15, "loose.dat", 0), 0);
    EXPECT_EQ(OPNFIL(16, "host!member", 0), 0);
    EXPECT_EQ(CLISAM(), 0);
    ASSERT_EQ(INTISAM(10, 20, 4), 0);
    EXPECT_EQ(CLISAM(), 0);
}

}  // namespace
