// Renaming every file of an open set (RENIFIL): the new names on disk and
// in the stored definition, automatic segments following their file,
// refusals that rename nothing, and fault sweeps that leave every file
// under its old name.
#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "tests/support/setcheck.h"
#include "tests/support/setfix.h"

namespace {

using settest::CustSet;
using settest::SetTest;
using zv::IoKind;

const std::set<std::string> kCustFiles = {"cust.dat", "cust.idx", "cust_x.idx"};
const std::set<std::string> kClientFiles = {"client.dat", "client.idx", "client_x.idx"};

// The cust set renamed: the same indexes under "client".
struct ClientSet : CustSet {
    explicit ClientSet(int16_t tfilno) : CustSet("client") {
        idx[2].aidxnam = "*client_x.idx";
        ifil.tfilno = tfilno;
    }
};

class RenameTest : public SetTest {
protected:
    // The cust set with 30 records, left open: its data file number.
    int make_cust(CustSet &s) {
        EXPECT_EQ(CREIFIL(&s.ifil), 0);
        EXPECT_EQ(add_cust(s.ifil.tfilno, 30), 0);
        return s.ifil.tfilno;
    }
    // Records read in the order of an index (of at most 4096 bytes).
    static int count_in(int keyno) {
        std::vector<char> buf(4096);
        char *rec = buf.data();
        int n = 0;
        for (int rc = FRSREC(keyno, rec); rc == 0; rc = NXTREC(keyno, rec)) n++;
        return n;
    }
    // The files of the directory but the fault sweeps' template.
    static std::set<std::string> set_files() {
        std::set<std::string> f = files_in();
        f.erase("tpl");
        return f;
    }
    static std::vector<std::string> log_messages() {
        std::vector<std::string> out;
        for (const std::string &l : zvtest::lines_of(zvtest::read_file("ZVSTATUS.QVS"))) {
            auto tab = l.find('\t');
            if (tab != std::string::npos) out.push_back(l.substr(tab + 1));
        }
        return out;
    }
};

TEST_F(RenameTest, EveryFileTakesItsNewName) {
    CustSet s;
    const int d = make_cust(s);
    ClientSet c{int16_t(d)};
    ASSERT_EQ(RENIFIL(&c.ifil), 0);
    EXPECT_EQ(files_in(), kClientFiles);
    // Still open and readable under the same numbers.
    for (int k = 1; k <= 3; k++) EXPECT_EQ(count_in(d + k), 30) << k;
    EXPECT_EQ(zvtest::check_set(d), "");
    char name[256];
    ASSERT_EQ(GETNAM(d + 3, name, sizeof name), 0);
    EXPECT_STREQ(name, "client_x.idx");
    std::vector<uint64_t> def = stored_ifil(d);
    ASSERT_FALSE(def.empty());
    const auto *f = reinterpret_cast<const IFIL *>(def.data());
    EXPECT_STREQ(f->pfilnam, "client");
    EXPECT_STREQ(f->iidxarr[2].aidxnam, "client_x.idx");
    EXPECT_EQ(f->dnumidx, 3);
    // Records added now reach every index.
    std::string r = settest::cust_record(77);
    ASSERT_EQ(ADDREC(d, r.data()), 0);
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    int e = OPNRFIL(-1, "client.dat", 0);
    ASSERT_GE(e, 0);
    for (int k = 1; k <= 3; k++) EXPECT_EQ(count_in(e + k), 31) << k;
    EXPECT_EQ(zvtest::check_set(e), "");
    EXPECT_EQ(CLRFIL(e), 0);
}

TEST_F(RenameTest, AutomaticSegmentsFollowTheDataFile) {
    // Records of 4 KB in a data file of 1 MB segments: 300 records take a
    // second segment file.
    static ISEG seg[1] = {{0, 8, 0}};
    IIDX idx[1] = {{8, 0, 0, 0, 0, 1, seg, nullptr, nullptr, nullptr, nullptr}};
    IFIL big = {"big", -1, 4096, 0, 0, 1, 0, 0, idx, nullptr, nullptr, 0};
    XCREblk blk[2] = {};
    blk[0].mode = 0x02 | 0x08 | 0x200000;
    blk[0].segsize = 1;
    blk[0].nsegs = 4;
    blk[1].mode = 0x02;
    ASSERT_EQ(CREIFILX8(&big, nullptr, nullptr, 0, nullptr, nullptr, blk), 0);
    const int d = big.tfilno;
    std::string rec(4096, 'r');
    for (int i = 0; i < 300; i++) {
        char num[9];
        snprintf(num, sizeof num, "%08d", i);
        memcpy(rec.data(), num, 8);
        ASSERT_EQ(ADDREC(d, rec.data()), 0) << i;
    }
    ASSERT_EQ(files_in(), (std::set<std::string>{"big.dat", "big.dat.001", "big.idx"}));
    IFIL moved = big;
    moved.pfilnam = "moved";
    ASSERT_EQ(RENIFIL(&moved), 0);
    EXPECT_EQ(files_in(), (std::set<std::string>{"moved.dat", "moved.dat.001", "moved.idx"}));
    EXPECT_EQ(count_in(d + 1), 300);
    // A rename that fails after the data file moved brings its segment back
    // with it: here the new definition cannot be written.
    IFIL other = big;
    other.pfilnam = "other";
    zv::fault_reset();
    zv::fault_set(IoKind::Write, 1, EIO, true);
    EXPECT_NE(RENIFIL(&other), 0);
    EXPECT_GE(zv::io_calls(IoKind::Link), 4) << "the data file and its segment went and came back";
    zv::fault_reset();
    EXPECT_EQ(files_in(), (std::set<std::string>{"moved.dat", "moved.dat.001", "moved.idx"}));
    EXPECT_EQ(count_in(d + 1), 300);
    ASSERT_EQ(CLIFIL(&big), 0);
    int e = OPNRFIL(-1, "moved.dat", 0);
    ASSERT_GE(e, 0);
    EXPECT_EQ(count_in(e + 1), 300);
    EXPECT_EQ(zvtest::check_set(e), "");
    // Back to the old name: a segment file of that name refuses it.
    zvtest::write_file("big.dat.001", "someone else's");
    IFIL back = big;
    back.tfilno = int16_t(e);
    EXPECT_EQ(RENIFIL(&back), 67);
    EXPECT_EQ(zvGetIsamFileNbr(), e);
    EXPECT_EQ(zvtest::read_file("big.dat.001"), "someone else's");
    EXPECT_EQ(files_in(), (std::set<std::string>{"big.dat.001", "moved.dat", "moved.dat.001", "moved.idx"}));
    EXPECT_EQ(CLRFIL(e), 0);
}

TEST_F(RenameTest, RefusalsRenameNothing) {
    CustSet s;
    const int d = make_cust(s);
    zvtest::write_file("client.idx", "not an index");
    ClientSet c{int16_t(d)};
    zv::fault_reset();
    EXPECT_EQ(RENIFIL(&c.ifil), 67);
    EXPECT_EQ(zvGetIsamErrorCode(), 67);
    EXPECT_EQ(zvGetIsamFileNbr(), d + 1);
    EXPECT_EQ(zv::io_calls(IoKind::Link) + zv::io_calls(IoKind::Unlink) + zv::io_calls(IoKind::Rename), 0);
    EXPECT_EQ(zvtest::read_file("client.idx"), "not an index");
    std::set<std::string> both = kCustFiles;
    both.insert("client.idx");
    EXPECT_EQ(files_in(), both);
    // The present names: nothing to do on disk.
    CustSet same;
    same.ifil.tfilno = int16_t(d);
    zv::fault_reset();
    EXPECT_EQ(RENIFIL(&same.ifil), 0);
    EXPECT_EQ(zv::io_calls(IoKind::Link) + zv::io_calls(IoKind::Unlink) + zv::io_calls(IoKind::Rename), 0);
    // Definitions that do not match the stored one or the files.
    static ISEG nine[1] = {{0, 9, 0}};
    struct Case {
        const char *what;
        void (*change)(ClientSet &);
        int at;   // file number of the refusal, from the data file
    };
    const Case cases[] = {
        {"another index count", [](ClientSet &x) { x.ifil.dnumidx = 2; }, 0},
        {"another key length", [](ClientSet &x) {
             x.idx[0].ikeylen = 9;
             x.idx[0].isegarr = nine;
         }, 1},
        // (The first index file then has a member too many: its number.)
        {"an alternate name the stored one lacks", [](ClientSet &x) { x.idx[1].aidxnam = "*client_y.idx"; }, 1},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        ClientSet x{int16_t(d)};
        k.change(x);
        zv::fault_reset();
        EXPECT_EQ(RENIFIL(&x.ifil), 608);
        EXPECT_EQ(zvGetIsamFileNbr(), d + k.at);
        EXPECT_EQ(zv::io_calls(IoKind::Link) + zv::io_calls(IoKind::Unlink), 0);
        EXPECT_EQ(files_in(), both);
    }
    // A superfile member.
    ASSERT_EQ(CREDAT(14, "h", 0, 0, 0x200), 0);
    ASSERT_EQ(CREDAT(16, "h!cust", 64, 0, 0), 0);
    ClientSet m(16);
    EXPECT_EQ(RENIFIL(&m.ifil), 454);
    EXPECT_EQ(zvGetIsamFileNbr(), 16);
    EXPECT_EQ(zvtest::check_set(d), "");
}

// Fails the nth link (a target made meanwhile), unlink or write while the
// set is renamed: every failure leaves every file under its old name and
// the set opening as before.
TEST_F(RenameTest, FaultsLeaveEveryFileUnderItsOldName) {
    {
        CustSet s;
        make_cust(s);
        ASSERT_EQ(CLIFIL(&s.ifil), 0);
    }
    zvtest::save_template();
    struct Kind {
        IoKind kind;
        int err;
        int code;  // the code expected, 0 any
    };
    // A link that finds its target made meanwhile is refused as taken: 67.
    for (Kind k : {Kind{IoKind::Link, EEXIST, 67}, Kind{IoKind::Unlink, EIO, 0}, Kind{IoKind::Write, EIO, 0}}) {
        int failures = 0;
        for (long n = 1;; n++) {
            ASSERT_LT(n, 100);
            SCOPED_TRACE(n);
            zvtest::restore_template();
            for (const char *f : {"client.dat", "client.idx", "client_x.idx"}) remove(f);
            CustSet s;
            ASSERT_EQ(OPNIFIL(&s.ifil), 0);
            ClientSet c(s.ifil.tfilno);
            zv::fault_reset();
            zv::fault_set(k.kind, n, k.err);
            int rc = RENIFIL(&c.ifil);
            zv::fault_reset();
            if (rc == 0) {
                EXPECT_EQ(set_files(), kClientFiles);
                EXPECT_EQ(zvtest::check_set(s.ifil.tfilno), "");
                ASSERT_EQ(CLIFIL(&s.ifil), 0);
                break;
            }
            failures++;
            if (k.code) {
                EXPECT_EQ(rc, k.code);
            }
            EXPECT_EQ(set_files(), kCustFiles);
            EXPECT_EQ(zvtest::check_set(s.ifil.tfilno), "");
            ASSERT_EQ(CLIFIL(&s.ifil), 0);
            CustSet again;
            ASSERT_EQ(OPNIFIL(&again.ifil), 0);
            std::vector<uint64_t> def = stored_ifil(again.ifil.tfilno);
            ASSERT_FALSE(def.empty());
            EXPECT_STREQ(reinterpret_cast<const IFIL *>(def.data())->pfilnam, "cust");
            ASSERT_EQ(CLIFIL(&again.ifil), 0);
        }
        EXPECT_GT(failures, 0);
    }
}

// A fault while the files go back is logged with its code and the name.
TEST_F(RenameTest, AFailedUndoIsLogged) {
    CustSet s;
    const int d = make_cust(s);
    ClientSet c{int16_t(d)};
    zv::fault_reset();
    // Every write fails: the definition cannot be stored. The three renames
    // took three unlinks; the first rename back fails at its unlink.
    zv::fault_set(IoKind::Write, 1, EIO, true);
    zv::fault_set(IoKind::Unlink, 4, EIO);
    EXPECT_NE(RENIFIL(&c.ifil), 0);
    zv::fault_reset();
    std::vector<std::string> log = log_messages();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "Could not undo rename for...: 67");
    EXPECT_EQ(log.back(), "cust_x.idx");
    // The two other files went back.
    EXPECT_EQ(files_in(), (std::set<std::string>{"cust.dat", "cust.idx", "client_x.idx"}));
}

}  // namespace
