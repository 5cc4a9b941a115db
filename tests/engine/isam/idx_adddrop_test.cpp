// Indexes added to an open data file (PRMIIDX, TMPIIDX, RBLIIDX) and
// dropped from it (zvDROPIDX): keys loaded from the records, the stored
// definition, conditions, contexts and the key map kept in step, and
// failures that leave everything as it was.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/isam/context.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"
#include "tests/engine/isam/recfix.h"
#include "tests/support/setcheck.h"
#include "tests/support/setfix.h"

namespace {

using settest::CustSet;
using settest::SetTest;
using zv::IoKind;

// Two new indexes of the cust set: one on the name (duplicates) starting
// the file "cust_n.idx", and a member of it on i % 7 (duplicates).
struct NameIdx {
    ISEG sn[1] = {{30, 10, 0}};
    ISEG sm[1] = {{8, 4, 0}};
    IIDX idx[2] = {};
    IFIL ifil = {};
    NameIdx(int16_t datno, uint16_t xtd = 0) {
        idx[0] = IIDX{14, 0, 1, 0, 0, 1, sn, "ByNameN", "*cust_n.idx", nullptr, nullptr};
        idx[1] = IIDX{8, 0, 1, 0, 0, 1, sm, "ByDay", nullptr, nullptr, nullptr};
        ifil = IFIL{nullptr, datno, 0, xtd, 0, 2, 0, 0, idx, nullptr, nullptr, -1};
    }
};

class AddTest : public SetTest {
protected:
    // The cust set with n records, left open: its data file number.
    static int make(CustSet &s, int n) {
        EXPECT_EQ(CREIFIL(&s.ifil), 0);
        EXPECT_EQ(add_cust(s.ifil.tfilno, n), 0);
        return s.ifil.tfilno;
    }
    static std::set<std::string> data_files() {
        std::set<std::string> f = files_in();
        f.erase("tpl");
        return f;
    }
    // The stored definition as GETIFIL gives it, always into the same
    // buffer: its pointers point into it, so equal bytes are equal
    // definitions.
    std::string def_bytes(int datno) {
        int32_t n = GETIFIL(datno, int32_t(sizeof defbuf_), defbuf_);
        if (n <= 0 || n > int32_t(sizeof defbuf_)) return std::string();
        return std::string(reinterpret_cast<const char *>(defbuf_), size_t(n));
    }

private:
    alignas(8) unsigned char defbuf_[16384] = {};
};

TEST_F(AddTest, PermanentIndexesHoldEveryRecord) {
    CustSet s;
    const int d = make(s, 500);
    const int ctxall = OPNICON(d, -1, -1);
    ASSERT_GE(ctxall, 0);
    ASSERT_EQ(zv::find_context(int16_t(ctxall))->nblocks, 3);
    NameIdx n{int16_t(d)};
    ASSERT_EQ(PRMIIDX(&n.ifil), 0);
    const int first = n.ifil.tfilno;
    EXPECT_EQ(first, d + 4);
    EXPECT_EQ(files_in(), (std::set<std::string>{"cust.dat", "cust.idx", "cust_x.idx", "cust_n.idx"}));
    EXPECT_EQ(IDXENT(first), 500u);
    EXPECT_EQ(IDXENT(first + 1), 500u);
    EXPECT_EQ(GETFIL(first, 29), 1);      // one member
    EXPECT_EQ(GETFIL(first + 1, 13), 1);  // which is member 1
    EXPECT_EQ(zvtest::check_set(d), "");
    // The all-index context gains a block for each new index.
    EXPECT_EQ(zv::find_context(int16_t(ctxall))->nblocks, 5);
    // The stored definition lists all five.
    std::vector<uint64_t> def = stored_ifil(d);
    ASSERT_FALSE(def.empty());
    const auto *f = reinterpret_cast<const IFIL *>(def.data());
    ASSERT_EQ(f->dnumidx, 5);
    EXPECT_STREQ(f->pfilnam, "cust");
    EXPECT_STREQ(f->iidxarr[3].aidxnam, "cust_n.idx");
    EXPECT_STREQ(f->iidxarr[3].ridxnam, "ByNameN");
    EXPECT_EQ(f->iidxarr[4].aidxnam, nullptr);
    EXPECT_EQ(f->iidxarr[4].ikeylen, 8);
    // Records added now reach the new indexes too.
    std::string r = settest::cust_record(900);
    ASSERT_EQ(ADDREC(d, r.data()), 0);
    EXPECT_EQ(IDXENT(first + 1), 501u);
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    EXPECT_TRUE(all_free(0, 20));
    int e = OPNRFIL(-1, "cust.dat", 0);
    ASSERT_GE(e, 0);
    EXPECT_EQ(zv::isam_map_index(e, 4), e + 5);
    EXPECT_EQ(IDXENT(e + 5), 501u);
    EXPECT_EQ(zvtest::check_set(e), "");
    EXPECT_EQ(CLRFIL(e), 0);
}

TEST_F(AddTest, EmptyReloadedAndTemporaryIndexes) {
    CustSet s;
    const int d = make(s, 500);
    const std::string before = def_bytes(d);
    const int all = OPNICON(d, -1, -1);
    ASSERT_GE(all, 0);
    // Empty: dxtdsiz 3.
    NameIdx n(int16_t(d), 3);
    ASSERT_EQ(PRMIIDX(&n.ifil), 0);
    const int first = n.ifil.tfilno;
    EXPECT_EQ(zv::find_context(int16_t(all))->nblocks, 5);
    EXPECT_EQ(IDXENT(first), 0u);
    EXPECT_EQ(IDXENT(first + 1), 0u);
    // A reload of another key length is refused; the right one fills them.
    NameIdx wrong{int16_t(d)};
    wrong.ifil.tfilno = int16_t(first);
    wrong.idx[1].ikeylen = 9;
    EXPECT_EQ(RBLIIDX(&wrong.ifil), 608);
    EXPECT_EQ(zvGetIsamFileNbr(), first + 1);
    EXPECT_EQ(IDXENT(first), 0u);
    ASSERT_EQ(RBLIIDX(&n.ifil), 0);
    EXPECT_EQ(IDXENT(first), 500u);
    EXPECT_EQ(IDXENT(first + 1), 500u);
    EXPECT_EQ(zvtest::check_set(d), "");
    // Dropped again: the definition as it was, contexts without its
    // blocks; a context on the dropped index stays open, blockless.
    const int one = OPNICON(d, first, -1);
    ASSERT_GE(one, 0);
    ASSERT_EQ(zvDROPIDX(first), 0);
    ASSERT_EQ(def_bytes(d), before);
    EXPECT_EQ(zv::find_context(int16_t(all))->nblocks, 3);
    ASSERT_NE(zv::find_context(int16_t(one)), nullptr);
    EXPECT_EQ(zv::find_context(int16_t(one))->nblocks, 0);
    EXPECT_EQ(CHGICON(one), 0);
    EXPECT_EQ(CHGICON(all), 0);
    EXPECT_EQ(zvtest::check_set(d), "");
    // Temporary: a working index, the stored definition as it was.
    static ISEG sc[1] = {{12, 6, 0}};
    IIDX tx[1] = {{10, 0, 1, 0, 0, 1, sc, "Tmp", "*cust_t.idx", nullptr, nullptr}};
    IFIL tmp = {nullptr, int16_t(d), 0, 0, 0, 1, 0, 0, tx, nullptr, nullptr, -1};
    ASSERT_EQ(TMPIIDX(&tmp), 0);
    const int t = tmp.tfilno;
    EXPECT_EQ(GETFIL(t, 26) & 32, 32);
    EXPECT_EQ(IDXENT(t), 500u);
    EXPECT_EQ(def_bytes(d), before);
    EXPECT_EQ(zvtest::check_set(d), "");
    NameIdx more{int16_t(d)};
    more.ifil.tfilno = 15;
    EXPECT_EQ(PRMIIDX(&more.ifil), 783);
    EXPECT_EQ(zvGetIsamFileNbr(), t);
    EXPECT_EQ(more.ifil.tfilno, -1);
    EXPECT_EQ(zvDROPIDX(t), 446);
    EXPECT_EQ(CLIFIL(&s.ifil), 0);
}

TEST_F(AddTest, RefusalsChangeNothing) {
    CustSet s;
    const int d = make(s, 20);
    const std::string before = def_bytes(d);
    static IIDX many[62];
    static ISEG seg[1] = {{0, 8, 0}};
    for (IIDX &x : many) x = IIDX{8, 0, 0, 0, 0, 1, seg, nullptr, "*m.idx", nullptr, nullptr};
    struct Case {
        const char *what;
        void (*change)(NameIdx &, XCREblk *);
        int code;
    };
    const Case cases[] = {
        {"no new index", [](NameIdx &n, XCREblk *) { n.ifil.dnumidx = 0; }, 465},
        {"an index for the data file", [](NameIdx &n, XCREblk *) { n.ifil.dfilno = int16_t(n.ifil.dfilno + 1); }, 466},
        {"a free number for the data file", [](NameIdx &n, XCREblk *) { n.ifil.dfilno = 19; }, 466},
        {"no file name for the first", [](NameIdx &n, XCREblk *) { n.idx[0].aidxnam = nullptr; }, 467},
        {"65 indexes in all", [](NameIdx &n, XCREblk *) {
             n.ifil.iidxarr = many;
             n.ifil.dnumidx = 62;
         }, 107},
        {"a create block with 0x10", [](NameIdx &, XCREblk *b) { b[0].mode = 0x02 | 0x10; }, 454},
        {"a create block with 0x800", [](NameIdx &, XCREblk *b) { b[0].mode = 0x02 | 0x800; }, 454},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        NameIdx n{int16_t(d)};
        n.ifil.tfilno = 12;  // a free run asked for
        XCREblk blk[3] = {};
        for (XCREblk &b : blk) b.mode = 0x02;
        c.change(n, blk);
        EXPECT_EQ(PRMIIDX8(&n.ifil, blk), c.code);
        EXPECT_EQ(zvGetIsamErrorCode(), c.code);
        EXPECT_EQ(n.ifil.tfilno, -1);
        EXPECT_EQ(zv::isam_map_index(d, 3), -1);
        EXPECT_EQ(def_bytes(d), before);
        EXPECT_TRUE(all_free(d + 4, 19));
    }
    EXPECT_EQ(data_files(), (std::set<std::string>{"cust.dat", "cust.idx", "cust_x.idx"}));
    EXPECT_EQ(CLIFIL(&s.ifil), 0);
}

// A unique index over values that repeat, and a failing write anywhere:
// the add takes back everything it made.
TEST_F(AddTest, FailedAddsLeaveNothingBehind) {
    CustSet s;
    const int d = make(s, 200);
    const std::string before = def_bytes(d);
    const std::set<std::string> files = data_files();
    auto expect_untouched = [&](const NameIdx &n) {
        EXPECT_EQ(n.ifil.tfilno, -1);
        EXPECT_EQ(def_bytes(d), before);
        EXPECT_EQ(data_files(), files);
        EXPECT_TRUE(all_free(d + 4, 19));
        EXPECT_EQ(zv::isam_map_index(d, 3), -1);
        for (int i = d + 4; i < d + 6; i++) EXPECT_EQ(zv::isam_entry(i)->inuse, 0) << i;
        EXPECT_EQ(zvtest::check_set(d), "");
    };
    {
        NameIdx n{int16_t(d)};
        n.idx[1].ikeydup = 0;
        n.idx[1].ikeylen = 4;
        EXPECT_EQ(PRMIIDX(&n.ifil), 2);
        EXPECT_EQ(zvGetIsamFileNbr(), d + 5);
        expect_untouched(n);
    }
    int failures = 0;
    for (long k = 1;; k++) {
        ASSERT_LT(k, 400);
        SCOPED_TRACE(k);
        NameIdx n{int16_t(d)};
        zv::fault_reset();
        zv::fault_set(IoKind::Write, k, EIO);
        int rc = PRMIIDX(&n.ifil);
        zv::fault_reset();
        if (rc == 0) {
            EXPECT_EQ(IDXENT(n.ifil.tfilno), 200u);
            EXPECT_EQ(zvtest::check_set(d), "");
            break;
        }
        failures++;
        expect_untouched(n);
    }
    EXPECT_GT(failures, 3);
    EXPECT_EQ(CLIFIL(&s.ifil), 0);
}

// A progress routine sees the load through a status block the call makes
// and frees; stopping it there fails the add cleanly.
int g_keys = 0;
bool g_sawblock = false;
int stop_at_keys(uint32_t, int32_t code, const char *) {
    RBLCBST *st = GETCBRBLST();
    g_sawblock = g_sawblock || st != nullptr;
    if (code == 105 && ++g_keys == 3 && st) st->cancel = 1;
    return 0;
}

TEST_F(AddTest, AProgressRoutineMayStopTheLoad) {
    CustSet s;
    const int d = make(s, 50);
    const std::string before = def_bytes(d);
    ASSERT_EQ(SETCBRBL(stop_at_keys, 1), 0);
    NameIdx n{int16_t(d)};
    EXPECT_EQ(PRMIIDX(&n.ifil), 869);
    ASSERT_EQ(SETCBRBL(nullptr, 0), 0);
    EXPECT_TRUE(g_sawblock);
    EXPECT_EQ(GETCBRBLST(), nullptr);
    EXPECT_EQ(n.ifil.tfilno, -1);
    EXPECT_EQ(def_bytes(d), before);
    EXPECT_EQ(data_files(), (std::set<std::string>{"cust.dat", "cust.idx", "cust_x.idx"}));
    EXPECT_EQ(zvtest::check_set(d), "");
    EXPECT_EQ(CLIFIL(&s.ifil), 0);
}

// A set whose definition is stored after create and then renamed: the
// longer definition grows its resource at the end of the data file, so the
// last byte used lies past the bytes written. Adding, reloading or taking a
// temporary index still reads every record.
TEST_F(AddTest, IndexesAddedAfterTheStoredDefinitionGrew) {
    enum How { Permanent, Reloaded, Temporary };
    for (How how : {Permanent, Reloaded, Temporary}) {
        SCOPED_TRACE(how);
        for (const char *f : {"cust.dat", "cust.idx", "cust_x.idx", "client.dat", "client.idx", "client_x.idx",
                              "client_v.idx"})
            std::remove(f);
        ISEG u[1] = {{0, 4, 0}};
        ISEG m[1] = {{8, 4, 0}};
        ISEG x[1] = {{20, 10, 0}};
        IIDX idx[3] = {IIDX{4, 0, 0, 0, 0, 1, u, "ByNumber", nullptr, nullptr, nullptr},
                       IIDX{8, 0, 1, 0, 0, 1, m, "ByDay", nullptr, nullptr, nullptr},
                       IIDX{10, 0, 0, 0, 0, 1, x, "ByCity", "*cust_x.idx", nullptr, nullptr}};
        IFIL cust = {"cust", -1, 64, 0, 0x800, 3, 0, 0, idx, nullptr, nullptr, 0};
        ASSERT_EQ(CREIFIL(&cust), 0);
        for (int i = 0; i < 500; i++) {
            std::string r = settest::cust_record(i);
            const unsigned char number[4] = {0, 0, uint8_t(i >> 8), uint8_t(i)};  // most significant first
            memcpy(r.data(), number, 4);
            ASSERT_EQ(ADDREC(cust.tfilno, r.data()), 0) << i;
        }
        ASSERT_EQ(CLIFIL(&cust), 0);
        ASSERT_EQ(PUTIFIL(&cust), 0);

        const int d = OPNRFIL(-1, "cust.dat", 0);
        ASSERT_GE(d, 0);
        IFIL client = cust;
        client.pfilnam = "client";
        client.tfilno = int16_t(d);
        client.dfilmod = 0;  // the new names are stored
        idx[2].aidxnam = "*client_x.idx";
        ASSERT_EQ(RENIFIL(&client), 0);
        ISEG vs[1] = {{0, 4, 0}};
        ISEG vm[1] = {{24, 8, 0}};
        IIDX vidx[2] = {IIDX{4, 0, 0, 0, 0, 1, vs, "ByNumberV", "*client_v.idx", nullptr, nullptr},
                        IIDX{12, 0, 1, 0, 0, 1, vm, "ByTail", nullptr, nullptr, nullptr}};
        IFIL v = {nullptr, int16_t(d), 0, 0, 0, 2, 0, 0, vidx, nullptr, nullptr, -1};
        if (how == Permanent) {
            ASSERT_EQ(PRMIIDX(&v), 0);
        } else if (how == Temporary) {
            ASSERT_EQ(TMPIIDX(&v), 0);
        } else {
            v.dxtdsiz = 3;
            ASSERT_EQ(PRMIIDX(&v), 0);
            EXPECT_EQ(IDXENT(v.tfilno), 0u);
            ASSERT_EQ(RBLIIDX(&v), 0);
        }
        EXPECT_EQ(IDXENT(v.tfilno), 500u);
        EXPECT_EQ(IDXENT(v.tfilno + 1), 500u);
        EXPECT_EQ(zvtest::check_set(d), "");
        ASSERT_EQ(CLRFIL(d), 0);
        // The set reopens cleanly under its new name.
        const int e = OPNRFIL(-1, "client.dat", 0);
        ASSERT_GE(e, 0) << zvGetUserErrorCode();
        EXPECT_EQ(zvtest::check_set(e), "");
        if (how != Temporary) {
            EXPECT_EQ(IDXENT(zv::isam_map_index(e, 3)), 500u);
        }
        ASSERT_EQ(CLRFIL(e), 0);
    }
}

// ---- Drop ------------------------------------------------------------------

using rectest::Cust;
using rectest::RecTest;

// Three index files on the customer record: the number (a key that may
// not change), the city, the name; the name index holds only records with
// Qty > 5.
struct ItemSet {
    ISEG s0[1] = {{rectest::kNumberOff, 4, 1}};
    ISEG s1[1] = {{rectest::kCityOff, 20, 0}};
    ISEG s2[1] = {{rectest::kNameOff, 24, 0}};
    IIDX idx[3] = {};
    IFIL ifil = {};
    ItemSet() {
        idx[0] = IIDX{4, 0x80, 0, 0, 0, 1, s0, "ByNumber", nullptr, nullptr, nullptr};
        idx[1] = IIDX{24, 0, 1, 0, 0, 1, s1, "ByCity", "*items_city.idx", nullptr, nullptr};
        idx[2] = IIDX{28, 0, 1, 0, 0, 1, s2, "ByName", "*items_name.idx", nullptr, nullptr};
        ifil = IFIL{"items", -1, 64, 0, 0, 3, 0, 0, idx, nullptr, nullptr, 0};
    }
};

class DropTest : public RecTest {
protected:
    int make(ItemSet &s, int n) {
        EXPECT_EQ(CREIFIL(&s.ifil), 0);
        const int d = s.ifil.tfilno;
        put_item_schema(d);
        EXPECT_EQ(UPDCIDX(d + 3, "Qty > 5"), 0);
        for (int i = 0; i < n; i++) add(d, rectest::cust(uint32_t(i), i % 2 ? "Lyon" : "Paris", "Smith"));
        return d;
    }
    static std::string cidx(int idxno) {
        char buf[64] = {};
        int32_t n = GETCIDX(idxno, sizeof buf, buf);
        return n > 0 ? std::string(buf) : std::string();
    }
    static std::set<std::string> files_in() {
        std::set<std::string> out;
        for (const auto &e : std::filesystem::directory_iterator("."))
            if (e.is_regular_file() && e.path().filename() != "ZVSTATUS.QVS") out.insert(e.path().filename().string());
        return out;
    }
    static std::vector<uint64_t> stored_ifil(int datno) {
        int32_t need = GETIFIL(datno, 0, nullptr);
        std::vector<uint64_t> buf(need > 0 ? size_t(need) / 8 + 1 : 0);
        if (need <= 0 || GETIFIL(datno, need, buf.data()) != need) buf.clear();
        return buf;
    }
    static int indexes_of(int datno) {
        int n = 0;
        while (zv::isam_map_index(datno, n) != -1) n++;
        return n;
    }
};

TEST_F(DropTest, LaterIndexesMoveDownWithTheirConditions) {
    ItemSet s;
    const int d = make(s, 20);
    // Qty is three times the number: numbers 2 .. 19 have a name key.
    ASSERT_EQ(IDXENT(d + 3), 18u);
    const int all = OPNICON(d, -1, -1);
    const int one = OPNICON(d, d + 1, -1);
    ASSERT_GE(all, 0);
    ASSERT_GE(one, 0);
    ASSERT_EQ(GETFIL(d, 20) & 0x10000, 0x10000);
    ASSERT_EQ(zvDROPIDX(d + 1), 0);
    EXPECT_EQ(files_in(), (std::set<std::string>{"items.dat", "items_city.idx", "items_name.idx"}));
    // No index left whose keys may not change: the data file's mark goes.
    EXPECT_EQ(GETFIL(d, 20) & 0x10000, 0);
    EXPECT_EQ(TSTFILNUM(d + 1), 0);
    EXPECT_EQ(zv::isam_map_index(d, 0), d + 2);
    EXPECT_EQ(zv::isam_map_index(d, 1), d + 3);
    EXPECT_EQ(zv::isam_map_index(d, 2), -1);
    EXPECT_EQ(GETFIL(d + 3, 7), 1);
    EXPECT_EQ(cidx(d + 3), "Qty > 5");
    // Contexts lose the dropped index; the one on it stays open, blockless.
    EXPECT_EQ(zv::find_context(int16_t(all))->nblocks, 2);
    const ISAMCTX *c = zv::find_context(int16_t(one));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->nblocks, 0);
    EXPECT_EQ(CHGICON(one), 0);
    EXPECT_EQ(CHGICON(all), 0);
    // Adds follow the condition under its new number.
    add(d, rectest::cust(1, "Lyon", "Low"));    // Qty 3: no name key
    add(d, rectest::cust(40, "Lyon", "High"));  // Qty 120
    EXPECT_EQ(IDXENT(d + 3), 19u);
    EXPECT_EQ(check(d), "");
    std::vector<uint64_t> def = stored_ifil(d);
    ASSERT_FALSE(def.empty());
    const auto *f = reinterpret_cast<const IFIL *>(def.data());
    ASSERT_EQ(f->dnumidx, 2);
    EXPECT_STREQ(f->iidxarr[0].ridxnam, "ByCity");
    EXPECT_STREQ(f->iidxarr[1].ridxnam, "ByName");
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    int e = OPNRFIL(-1, "items.dat", 0);
    ASSERT_GE(e, 0);
    EXPECT_EQ(indexes_of(e), 2);
    EXPECT_EQ(cidx(e + 2), "Qty > 5");
    add(e, rectest::cust(41, "Paris", "After"));
    EXPECT_EQ(IDXENT(e + 2), 20u);
    EXPECT_EQ(check(e), "");
    EXPECT_EQ(CLRFIL(e), 0);
}

// The delete fails at the seam (its unlink, then each write in turn): the
// call returns the failure and the set is as before, also after it is
// closed and opened again.
TEST_F(DropTest, AFailedDeleteLeavesTheSetAsItWas) {
    ItemSet s;
    const int d = make(s, 20);
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    zvtest::save_template();
    auto expect_as_before = [&](int datno) {
        EXPECT_EQ(indexes_of(datno), 3);
        EXPECT_EQ(TSTFILNUM(datno + 1), 46);
        EXPECT_EQ(cidx(datno + 3), "Qty > 5");
        EXPECT_EQ(GETFIL(datno + 3, 7), 2);
        EXPECT_EQ(IDXENT(datno + 1), 20u);
        EXPECT_EQ(GETFIL(datno, 20) & 0x10000, 0x10000);
        EXPECT_EQ(check(datno), "");
        std::vector<uint64_t> def = stored_ifil(datno);
        ASSERT_FALSE(def.empty());
        EXPECT_EQ(reinterpret_cast<const IFIL *>(def.data())->dnumidx, 3);
    };
    struct Kind {
        IoKind kind;
        int code;  // the code expected, 0 any
    };
    for (Kind k : {Kind{IoKind::Unlink, 55}, Kind{IoKind::Write, 0}}) {
        int failures = 0;
        for (long n = 1;; n++) {
            ASSERT_LT(n, 100);
            SCOPED_TRACE(n);
            zvtest::restore_template();
            int e = OPNRFIL(d, "items.dat", 0);
            ASSERT_EQ(e, d);
            zv::fault_reset();
            zv::fault_set(k.kind, n, EIO);
            int rc = zvDROPIDX(d + 1);
            zv::fault_reset();
            if (rc == 0) {
                EXPECT_EQ(indexes_of(d), 2);
                EXPECT_EQ(CLRFIL(d), 0);
                break;
            }
            failures++;
            if (k.code) {
                EXPECT_EQ(rc, k.code);
            }
            EXPECT_EQ(zvGetIsamErrorCode(), rc);
            expect_as_before(d);
            ASSERT_EQ(CLRFIL(d), 0);
            e = OPNRFIL(-1, "items.dat", 0);
            ASSERT_GE(e, 0);
            expect_as_before(e);
            ASSERT_EQ(CLRFIL(e), 0);
        }
        EXPECT_GT(failures, 0);
    }
}

TEST_F(DropTest, Refusals) {
    CustSet s;
    ASSERT_EQ(CREIFIL(&s.ifil), 0);
    const int d = s.ifil.tfilno;
    ASSERT_EQ(CREIDX(15, "lone.idx", 8, 0, 0, 0, 0, 0), 0);
    struct Case {
        const char *what;
        int filno;
        int code;
    };
    const Case cases[] = {
        {"an index member", d + 2, 23},
        {"a data file", d, 48},
        {"an index of no set", 15, 614},
        {"a free number", 16, 26},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(zvDROPIDX(c.filno), c.code);
        EXPECT_EQ(zvGetIsamErrorCode(), c.code);
        EXPECT_EQ(zvGetIsamFileNbr(), c.filno);
    }
    EXPECT_EQ(indexes_of(d), 3);
    EXPECT_EQ(CLIFIL(&s.ifil), 0);
    EXPECT_EQ(CLSFIL(15, 0), 0);
    // Without the ISAM layer an index cannot be dropped.
    CLISAM();
    ASSERT_EQ(INTREE(10, 20, 4), 0);
    ASSERT_EQ(OPNFIL(3, "cust_x.idx", 0), 0);
    EXPECT_EQ(zvDROPIDX(3), 464);
    EXPECT_EQ(TSTFILNUM(3), 46);
    EXPECT_EQ(CLSFIL(3, 0), 0);
}

}  // namespace
