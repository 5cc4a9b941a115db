// Table creation: the files a table handle becomes, read back through the
// engine alone; the hidden fields and indexes each create mode gives; the
// refusals, which leave no file; superfile hosts; the caller's name text.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/platform.h"
#include "recapi/base/wrappers.h"
#include "recapi/schema/tablefile.h"
#include "tests/recapi/schema/custfix.h"
#include "tests/support/child.h"

namespace {

using schematest::Stored;
using Names = std::vector<std::string>;

class TableCreateTest : public schematest::CustTest {};

struct Want {
    const char *name;
    int type;
    int length;
    intptr_t offset;
};

TEST_F(TableCreateTest, TheHiddenFieldsAndIndexesGoInFrontOfTheUserOnes) {
    cust();
    ASSERT_EQ(zvdbCreateTable(table_, "cust", 0), 0) << last();
    EXPECT_EQ(files(), (Names{"cust.dat", "cust.idx"}));
    Stored s;
    read_back("cust.dat", &s);
    ASSERT_EQ(s.code, 0);
    const Want want[] = {{"$DELFLD$", 128, 5, 0}, {"$NULFLD$", 128, 1, 5}, {"$ROWID$", 231, 8, 8},
                         {"id", 51, 4, 16},       {"name", 144, 20, 20},   {"amount", 67, 4, 40}};
    ASSERT_EQ(s.doda.size(), std::size(want));
    for (size_t i = 0; i < s.doda.size(); i++) {
        EXPECT_EQ(s.names[i], want[i].name);
        EXPECT_EQ(s.doda[i].ftype, want[i].type) << want[i].name;
        EXPECT_EQ(s.doda[i].flen, want[i].length) << want[i].name;
        EXPECT_EQ(s.doda[i].fadr, want[i].offset) << want[i].name;
    }
    EXPECT_EQ(s.ifil->dreclen, 44);
    ASSERT_EQ(s.ifil->dnumidx, 4);
    struct Index {
        const char *name;
        int keylen, dup, offset, length, mode;
    };
    const Index idx[] = {{"$RECBYT$", 5, 1, 0, 1, 256}, {"$ROWID$", 8, 0, 8, 8, 3},
                         {"pk", 4, 0, 3, 4, 12},        {"byname", 24, 1, 4, 20, 12}};
    for (int k = 0; k < 4; k++) {
        const IIDX &x = s.ifil->iidxarr[k];
        EXPECT_STREQ(x.ridxnam, idx[k].name);
        EXPECT_EQ(x.ikeylen, idx[k].keylen) << idx[k].name;
        EXPECT_EQ(x.ikeydup, idx[k].dup) << idx[k].name;
        ASSERT_EQ(x.inumseg, 1) << idx[k].name;
        EXPECT_EQ(x.isegarr[0].soffset, idx[k].offset) << idx[k].name;
        EXPECT_EQ(x.isegarr[0].slength, idx[k].length) << idx[k].name;
        EXPECT_EQ(x.isegarr[0].segmode, idx[k].mode) << idx[k].name;
    }
    // The handle is closed and reset.
    EXPECT_EQ(zvdbIsActiveTable(table_), 0);
    EXPECT_STREQ(zvdbGetTableName(table_), "table");
    EXPECT_EQ(zvdbGetTableFieldCount(table_), 0);
    EXPECT_EQ(zvdbGetTableIndexCount(table_), 0);
    EXPECT_EQ(table_->datno, -1);
}

struct HiddenCase {
    const char *what;
    std::function<void(tagZVDBTABLE *)> layout;  // NULL: the cust layout
    uint32_t mode;
    std::vector<Want> hidden;       // the leading entries expected (offsets not compared)
    int dreclen;                    // -1: not compared
    int dnumidx;
    std::vector<std::pair<const char *, int>> keylens;  // index name, ikeylen
    bool variable;                  // data file mode bit 4
    bool wide;                      // GETFIL 26 bit 64
};

using HiddenFieldsTest = schematest::CustTest;

TEST_F(HiddenFieldsTest, FollowTheCreateModeAndTheFieldTypes) {
    auto plain = [](tagZVDBTABLE *) {};
    const HiddenCase cases[] = {
        {"a variable-length field drops $DELFLD$",
         [](tagZVDBTABLE *t) {
             zvdbAddField(t, "a", ZV_INT4, 0);
             zvdbAddField(t, "b", ZV_STRING, 20);
         },
         0, {{"$NULFLD$", 128, 1, 0}, {"$ROWID$", 231, 8, 0}}, 20, 2, {}, true, false},
        {"nine fields take two null bytes",
         [](tagZVDBTABLE *t) {
             for (const char *n : {"f1", "f2", "f3", "f4", "f5", "f6", "f7", "f8", "f9"}) {
                 zvdbAddField(t, n, ZV_INT4, 0);
             }
         },
         0, {{"$DELFLD$", 128, 5, 0}, {"$NULFLD$", 128, 2, 0}, {"$ROWID$", 231, 8, 0}}, -1, 2, {}, false, false},
        {"no fields take one null byte", plain, 0,
         {{"$DELFLD$", 128, 5, 0}, {"$NULFLD$", 128, 1, 0}, {"$ROWID$", 231, 8, 0}}, 16, 2, {}, false, false},
        {"0x100 widens $DELFLD$ and the duplicate suffixes", nullptr, 0x100,
         {{"$DELFLD$", 128, 9, 0}, {"$NULFLD$", 128, 1, 0}, {"$ROWID$", 231, 8, 0}}, -1, 4,
         {{"$RECBYT$", 9}, {"byname", 28}, {"pk", 4}}, false, true},
        {"0x1000 wins over 0x100", nullptr, 0x1100,
         {{"$DELFLD$", 128, 4, 0}, {"$NULFLD$", 128, 1, 0}, {"$ROWID$", 231, 8, 0}}, -1, 4, {}, false, true},
        {"0x200 drops $DELFLD$", nullptr, 0x200, {{"$NULFLD$", 128, 1, 0}, {"$ROWID$", 231, 8, 0}}, -1, 4, {}, false,
         false},
        {"0x400 drops $NULFLD$", nullptr, 0x400, {{"$DELFLD$", 128, 5, 0}, {"$ROWID$", 231, 8, 0}}, -1, 4, {}, false,
         false},
        {"64 drops $ROWID$ and its index", nullptr, 64, {{"$DELFLD$", 128, 5, 0}, {"$NULFLD$", 128, 1, 0}}, -1, 3,
         {{"$RECBYT$", 5}}, false, false},
        {"32 drops $RECBYT$", nullptr, 32,
         {{"$DELFLD$", 128, 5, 0}, {"$NULFLD$", 128, 1, 0}, {"$ROWID$", 231, 8, 0}}, -1, 3, {{"$ROWID$", 8}}, false,
         false},
        {"32|64 leave the user indexes", nullptr, 32 | 64, {{"$DELFLD$", 128, 5, 0}, {"$NULFLD$", 128, 1, 0}}, -1, 2,
         {}, false, false},
        {"a fixed part reaching 65536 makes the file variable-length",
         [](tagZVDBTABLE *t) {
             zvdbAddField(t, "a1", ZV_ARRAY, 40000);
             zvdbAddField(t, "a2", ZV_ARRAY, 40000);
         },
         0, {{"$DELFLD$", 128, 5, 0}, {"$NULFLD$", 128, 1, 0}, {"$ROWID$", 231, 8, 0}}, 40016, 2, {}, true, false},
    };
    for (const HiddenCase &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.layout) c.layout(table_);
        else cust();
        ASSERT_EQ(zvdbCreateTable(table_, "cust", c.mode), 0) << last();
        ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
        Stored s;
        read_back("cust.dat", &s);
        ASSERT_EQ(s.code, 0);
        ASSERT_GE(s.doda.size(), c.hidden.size());
        for (size_t i = 0; i < c.hidden.size(); i++) {
            EXPECT_EQ(s.names[i], c.hidden[i].name);
            EXPECT_EQ(s.doda[i].ftype, c.hidden[i].type) << c.hidden[i].name;
            EXPECT_EQ(s.doda[i].flen, c.hidden[i].length) << c.hidden[i].name;
        }
        if (c.hidden.size() < s.doda.size()) {
            EXPECT_FALSE(_zvdbIsReservedName(s.names[c.hidden.size()].c_str()));
        }
        if (c.dreclen >= 0) { EXPECT_EQ(s.ifil->dreclen, c.dreclen); }
        EXPECT_EQ(s.ifil->dnumidx, c.dnumidx);
        for (auto [name, keylen] : c.keylens) {
            const IIDX *x = s.index(name);
            ASSERT_NE(x, nullptr) << name;
            EXPECT_EQ(x->ikeylen, keylen) << name;
        }
        if (c.mode & 32) { EXPECT_EQ(s.index("$RECBYT$"), nullptr); }
        if (c.mode & 64) { EXPECT_EQ(s.index("$ROWID$"), nullptr); }
        EXPECT_EQ((s.filemode & 4) != 0, c.variable);
        EXPECT_EQ((s.xmode & 64) != 0, c.wide);
        ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
        ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
        ASSERT_EQ(zvdbRemoveTable(table_), 0);
        ASSERT_EQ(files(), Names{});
        ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    }
}

struct Refusal {
    const char *what;
    std::function<void(tagZVDBTABLE *)> setup;
    const char *name;
    uint32_t mode;
    int code;
};

TEST_F(TableCreateTest, RefusalsLeaveNoFileAndTheListsIntact) {
    const Refusal cases[] = {
        {"no name", nullptr, nullptr, 0, ZVDB_NULL_ARGUMENT},
        {"an index without segments", [](tagZVDBTABLE *t) { zvdbAddIndex(t, "empty", 0, 0, 0); }, "cust", 0,
         ZVDB_INDEX_NO_SEGMENTS},
        {"a row-id segment without $ROWID$",
         [](tagZVDBTABLE *t) { zvdbAddRowIdSegment(zvdbGetIndexByName(t, "pk")); }, "cust", 64,
         ZVDB_NO_ROWID_SEGMENT},
        {"a partitioned file without partition index", nullptr, "cust", 0x800, ZVDB_BAD_ARGUMENT},
        {"a segment with the default transform block",
         [](tagZVDBTABLE *t) {
             unsigned char kseg[ZVDB_KSEG_SIZE];
             zvdbSetKSegDefaults(kseg);
             zvdbSetSegmentKSeg(zvdbGetSegment(zvdbGetIndexByName(t, "byname"), 0), kseg);
         },
         "cust", 0, 454},
    };
    for (const Refusal &c : cases) {
        SCOPED_TRACE(c.what);
        cust();
        if (c.setup) c.setup(table_);
        const int fields = zvdbGetTableFieldCount(table_);
        const int indexes = zvdbGetTableIndexCount(table_);
        mark();
        EXPECT_EQ(zvdbCreateTable(table_, c.name, c.mode), c.code);
        EXPECT_EQ(last(), c.code);
        EXPECT_EQ(files(), Names{});
        EXPECT_EQ(zvdbIsActiveTable(table_), 0);
        EXPECT_EQ(table_->datno, -1);
        EXPECT_EQ(zvdbGetTableFieldCount(table_), fields);
        EXPECT_EQ(zvdbGetTableIndexCount(table_), indexes);
        EXPECT_EQ(table_->ifil, nullptr);
        EXPECT_EQ(table_->doda, nullptr);
        while (zvdbGetTableIndexCount(table_) > 0) zvdbDelIndex(table_, 0);
        while (zvdbGetTableFieldCount(table_) > 0) zvdbDelField(table_, 0);
    }
}

TEST_F(TableCreateTest, AMakeWithoutLogonOrConnectAnswers4012LeavingNoFile) {
    // A session whose logon failed (no session dictionary here: 12) is
    // logged off, its engine stopped; the fixture's session is logged on
    // but its database handle is not connected.
    auto *failed = static_cast<tagZVDBSESSION *>(zvdbAllocSession(0));
    ASSERT_NE(failed, nullptr);
    ASSERT_EQ(zvdbLogon(failed, nullptr, "demo", nullptr), 12);
    ZVHANDLE faileddb = zvdbAllocDatabase(failed);
    ASSERT_NE(faileddb, nullptr);
    ASSERT_EQ(zvdbConnect(faileddb, "shop"), ZVDB_NOT_ACTIVE);
    ASSERT_EQ(zvdbSwitchInstance(session_), 0);
    ZVHANDLE idledb = zvdbAllocDatabase(session_);
    ASSERT_NE(idledb, nullptr);
    struct Case {
        const char *what;
        ZVHANDLE owner;
        ZVHANDLE session;
    };
    const Case cases[] = {
        {"a table of a database after a failed logon", faileddb, failed},
        {"a table of the session after a failed logon", failed, failed},
        {"a table of a database not connected", idledb, session_},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto *t = static_cast<tagZVDBTABLE *>(zvdbAllocTable(c.owner));
        ASSERT_NE(t, nullptr);
        ZVHANDLE id = zvdbAddField(t, "id", ZV_INT4, 4);
        ASSERT_NE(zvdbAddSegment(zvdbAddIndex(t, "pk", 0, 0, 0), id, 12), nullptr);
        zvdbSetError(c.session, 7777);
        EXPECT_EQ(zvdbCreateTable(t, "items", 0), ZVDB_NOT_ACTIVE);
        EXPECT_EQ(zvdbGetError(c.session), ZVDB_NOT_ACTIVE);
        EXPECT_EQ(files(), Names{});
        EXPECT_EQ(zvdbIsActiveTable(t), 0);
        EXPECT_EQ(zvdbGetTableFieldCount(t), 1);
        EXPECT_EQ(zvdbGetTableIndexCount(t), 1);
        zvdbFreeTable(t);
    }
    EXPECT_EQ(zvdbFreeDatabase(idledb), 0);
    EXPECT_EQ(zvdbFreeDatabase(faileddb), 0);
    EXPECT_EQ(zvdbFreeSession(failed), 0);
}

TEST_F(TableCreateTest, AFailedMakeIsTriedAgainAsItStandsClearedOrOnANewHandle) {
    // A file under an index file's name fails the make (18); the handle
    // keeps its fields and indexes.
    std::FILE *f = std::fopen("cust.idx", "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    cust();
    ASSERT_EQ(zvdbCreateTable(table_, "cust", 0), 18);
    EXPECT_EQ(zvdbGetTableFieldCount(table_), 3);
    EXPECT_EQ(zvdbGetTableIndexCount(table_), 2);
    // Defining the table again on that handle is refused: the names are
    // used already.
    EXPECT_EQ(zvdbAddField(table_, "id", ZV_INT4, 4), nullptr);
    EXPECT_EQ(last(), ZVDB_FIELD_NAME);
    EXPECT_EQ(zvdbAddIndex(table_, "pk", 0, 0, 0), nullptr);
    EXPECT_EQ(last(), ZVDB_INDEX_NAME);
    // Cleared, the handle takes the definition again (the make still meets
    // the file).
    while (zvdbGetTableIndexCount(table_) > 0) ASSERT_EQ(zvdbDelIndex(table_, 0), 0);
    while (zvdbGetTableFieldCount(table_) > 0) ASSERT_EQ(zvdbDelField(table_, 0), 0);
    cust();
    ASSERT_EQ(zvdbCreateTable(table_, "cust", 0), 18);
    std::remove("cust.idx");
    // The make as it stands, or on a new handle defined afresh, succeeds.
    ASSERT_EQ(zvdbCreateTable(table_, "cust", 0), 0) << last();
    EXPECT_EQ(files(), (Names{"cust.dat", "cust.idx"}));
    auto *fresh = static_cast<tagZVDBTABLE *>(zvdbAllocTable(session_));
    ASSERT_NE(fresh, nullptr);
    ZVHANDLE id = zvdbAddField(fresh, "id", ZV_INT4, 4);
    ASSERT_NE(zvdbAddSegment(zvdbAddIndex(fresh, "pk", 0, 0, 0), id, 12), nullptr);
    EXPECT_EQ(zvdbCreateTable(fresh, "other", 0), 0) << last();
    zvdbFreeTable(fresh);
}

TEST_F(TableCreateTest, AFailedWriteAtAnyStepLeavesNoFile) {
    cust();
    ASSERT_EQ(zvdbSetIdentityField(table_, "id", 1, 1), 0);
    ZVHANDLE byname = zvdbGetIndexByName(table_, "byname");
    ASSERT_EQ(zvdbSetIndexDistinctKeyCountFlag(byname, 1), 0);
    ASSERT_EQ(zvdbSetIndexCndxExpr(byname, "amount > 0"), 0);
    ASSERT_EQ(zvdbSetPadChar(table_, ' ', 0), 0);
    int rc = -1;
    int failures = 0;
    for (long n = 1; rc != 0 && n < 400; n++) {
        zv::fault_set(zv::IoKind::Write, n, EIO);
        rc = zvdbCreateTable(table_, "cust", 0);
        zv::fault_reset();
        if (rc == 0) break;
        failures++;
        ASSERT_EQ(files(), Names{}) << "write " << n << " code " << rc;
        ASSERT_EQ(zvdbGetTableIndexCount(table_), 2);
        ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    }
    ASSERT_EQ(rc, 0);
    EXPECT_GT(failures, 3);
    const int datno = OPNRFILX(-1, "cust.dat", 0, nullptr);
    ASSERT_GE(datno, 0);
    EXPECT_TRUE(GETFIL(datno, 26) & 0x02);
    EXPECT_TRUE(GETFIL(datno + 1, 26) & 0x02);
    EXPECT_EQ(wchIDfield(datno), 3);
    char cond[64] = {};
    EXPECT_GT(GETCIDX(datno + 4, int32_t(sizeof cond), cond), 0);
    EXPECT_STREQ(cond, "amount > 0");
    EXPECT_EQ(CLRFIL(datno), 0);
}

// A step after the files exist that fails (here a conditional expression
// that does not parse) takes the files away again, also when they are
// members of a superfile host, which the engine deletes only one by one
// (and the host the make made for them with them): the same table can be
// made afterwards.
TEST_F(TableCreateTest, AFailureAfterTheFilesExistLeavesNoMemberInTheHost) {
    for (const char *path : {".", "host.sup!"}) {
        SCOPED_TRACE(path);
        ASSERT_EQ(zvdbSetTablePath(table_, path), 0);
        cust();
        ASSERT_EQ(zvdbSetIndexCndxExpr(zvdbGetIndexByName(table_, "byname"), "amount >"), 0);
        EXPECT_NE(zvdbCreateTable(table_, "cust", 0), 0);
        EXPECT_EQ(zvdbIsActiveTable(table_), 0);
        EXPECT_EQ(files(), Names{});
        ASSERT_EQ(zvdbSetTablePath(table_, path), 0);
        EXPECT_NE(zvdbOpenTable(table_, "cust", 0), 0);
        ASSERT_EQ(zvdbSetIndexCndxExpr(zvdbGetIndexByName(table_, "byname"), "amount > 0"), 0);
        ASSERT_EQ(zvdbCreateTable(table_, "cust", 0), 0) << last();
        ASSERT_EQ(zvdbSetTablePath(table_, path), 0);
        ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
        EXPECT_EQ(zvdbCloseTable(table_), 0);
        for (const std::string &f : files()) std::remove(f.c_str());
        while (zvdbGetTableIndexCount(table_) > 0) zvdbDelIndex(table_, 0);
        while (zvdbGetTableFieldCount(table_) > 0) zvdbDelField(table_, 0);
    }
}

// Whether the engine opens the file of that name, also one not closed
// cleanly (and closes it again).
bool opens(const char *name) {
    const int f = AVLFILNUM(1);
    const int rc = OPNFIL(f, name, 0x4000);
    if (rc == 0) CLSFIL(f, 0);
    return rc == 0;
}

// A failed make of a table in a superfile host it made takes the host back
// also when the host was made empty and put in place first (an index file
// of the table's own in the host, whose name the set stores): no file is
// left, and the same table is made afterwards.
TEST_F(TableCreateTest, AFailedMakeTakesBackTheHostItMade) {
    auto define = [&](const char *cond) {
        ASSERT_EQ(zvdbSetTablePath(table_, "host.sup!"), 0);
        cust();
        ZVHANDLE byname = zvdbGetIndexByName(table_, "byname");
        ASSERT_EQ(zvdbSetIndexFilename(byname, nullptr, "cust_nm"), 0);
        ASSERT_EQ(zvdbSetIndexCndxExpr(byname, cond), 0);
    };
    define("amount >");
    EXPECT_NE(zvdbCreateTable(table_, "cust", 0), 0);
    EXPECT_EQ(files(), Names{});
    while (zvdbGetTableIndexCount(table_) > 0) zvdbDelIndex(table_, 0);
    while (zvdbGetTableFieldCount(table_) > 0) zvdbDelField(table_, 0);
    define("amount > 0");
    ASSERT_EQ(zvdbCreateTable(table_, "cust", 0), 0) << last();
    EXPECT_EQ(files(), Names{"host.sup"});
    ASSERT_EQ(zvdbSetTablePath(table_, "host.sup!"), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
    EXPECT_EQ(zvdbCloseTable(table_), 0);
}

// A write that fails at any step of a create in a superfile host, the
// final close of the new set included, leaves no member in the host: the
// table does not open. A create that succeeds (a failed write of an
// extension's fill is tolerated) gives a table that opens. Each step starts
// from the same host holding no member.
TEST_F(TableCreateTest, AFailedWriteInAHostLeavesNoMember) {
    auto make = [&] {
        zvdbSetTablePath(table_, "host.sup!");
        return zvdbCreateTable(table_, "cust", 0);
    };
    auto remove = [&] {
        ASSERT_EQ(zvdbSetTablePath(table_, "host.sup!"), 0);
        ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
        ASSERT_EQ(zvdbRemoveTable(table_), 0) << last();
        cust();
    };
    cust();
    ASSERT_EQ(make(), 0) << last();
    remove();
    int failures = 0;
    for (long n = 1;; n++) {
        SCOPED_TRACE(n);
        zv::fault_set(zv::IoKind::Write, n, EIO);
        const int rc = make();
        const bool reached = zv::io_calls(zv::IoKind::Write) >= n;
        zv::fault_reset();
        if (rc == 0) {
            remove();
            if (!reached) break;
            continue;
        }
        failures++;
        EXPECT_EQ(zvdbIsActiveTable(table_), 0);
        EXPECT_FALSE(opens("host.sup!cust.dat")) << rc;
        EXPECT_FALSE(opens("host.sup!cust.idx")) << rc;
        ASSERT_EQ(zvdbSetTablePath(table_, "host.sup!"), 0);
        ASSERT_NE(zvdbOpenTable(table_, "cust", 0), 0) << rc;
        ASSERT_LT(n, 400);
    }
    EXPECT_GT(failures, 5);
    EXPECT_EQ(files(), Names{"host.sup"});
}

// A table made in a superfile host that this process has open while
// another process has it open too: the members the make built under their
// temporary names cannot be renamed in while another open shares the host,
// so the make answers 12 (with the refused lock's system error) and leaves
// no member; once the other process has let the host go, the same make
// makes the table.
TEST_F(TableCreateTest, AMakeInAHostAnotherProcessHasOpenAnswers12) {
    cust();
    ASSERT_EQ(zvdbSetTablePath(table_, "host.sup!"), 0);
    ASSERT_EQ(zvdbCreateTable(table_, "cust", 0), 0) << last();
    const int host = AVLFILNUM(2);
    {
        zvtest::Peer peer([](int) {
            zvtest::ChildResult r;
            if ((r.rc = INTISAMX(10, 32, 32, 10, 513 | 0x21)) == 0) r.rc = OPNFIL(0, "host.sup", 513);
            return r;
        });
        ASSERT_EQ(peer.ask(1).rc, 0);
        ASSERT_EQ(OPNFIL(host, "host.sup", 513), 0);
        cust();
        ASSERT_EQ(zvdbSetTablePath(table_, "host.sup!"), 0);
        EXPECT_EQ(zvdbCreateTable(table_, "orders", 0), 12);
        // The refused lock's system error comes with it.
        const int sys = zvGetSystemErrorCode();
        EXPECT_TRUE(sys == EAGAIN || sys == EACCES) << sys;
        for (const char *member : {"host.sup!orders.dat", "host.sup!orders.idx", "host.sup!orders~zvnew.dat",
                                   "host.sup!orders~zvnew.idx"}) {
            EXPECT_FALSE(opens(member)) << member;
        }
        EXPECT_EQ(files(), Names{"host.sup"});
    }
    ASSERT_EQ(zvdbSetTablePath(table_, "host.sup!"), 0);
    ASSERT_EQ(zvdbCreateTable(table_, "orders", 0), 0) << last();
    EXPECT_TRUE(opens("host.sup!orders.dat"));
    EXPECT_EQ(files(), Names{"host.sup"});
    ASSERT_EQ(CLSFIL(host, 0), 0);
}

TEST_F(TableCreateTest, NamesLongerThanTheEngineTakesAreRefusedWhole) {
    // Longer than the definition's and the open's fixed name buffers of
    // the design (512 and 128 bytes): refused by the engine, nothing
    // written past a buffer.
    cust();
    const std::string path(600, 'd');
    ASSERT_EQ(zvdbSetTablePath(table_, path.c_str()), 0);
    EXPECT_NE(zvdbCreateTable(table_, "cust", 0), 0);
    EXPECT_EQ(files(), Names{});
    EXPECT_EQ(zvdbGetTableIndexCount(table_), 2);
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    const std::string name(300, 'n');
    EXPECT_NE(zvdbOpenTable(table_, name.c_str(), 0), 0);
    EXPECT_EQ(zvdbIsActiveTable(table_), 0);
}

TEST_F(TableCreateTest, CreateBitTwoGivesTheFilesNoTransactionMode) {
    cust();
    ASSERT_EQ(zvdbCreateTable(table_, "cust", 2), 0) << last();
    const int datno = OPNRFILX(-1, "cust.dat", 0, nullptr);
    ASSERT_GE(datno, 0);
    EXPECT_EQ(GETFIL(datno, 3) & 48, 0);
    unsigned char record[44] = {};
    EXPECT_EQ(ADDREC(datno, record), 0);
    EXPECT_EQ(CLRFIL(datno), 0);
}

TEST_F(TableCreateTest, AMissingSuperfileHostIsMadeBeforeTheMember) {
    cust();
    ASSERT_EQ(zvdbSetTablePath(table_, "host.sup!"), 0);
    ASSERT_EQ(zvdbCreateTable(table_, "cust", 0), 0) << last();
    EXPECT_EQ(files(), Names{"host.sup"});
    ASSERT_EQ(zvdbSetTablePath(table_, "host.sup!"), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
    EXPECT_EQ(zvdbGetTableFieldCount(table_), 3);
    EXPECT_EQ(zvdbGetTableIndexCount(table_), 2);
    EXPECT_EQ(zvdbCloseTable(table_), 0);
}

TEST_F(TableCreateTest, TheCallersNameIsSplitInACopy) {
    // The same create with the name in writable storage and in read-only
    // storage (a literal): the same files, neither text changed.
    char writable[] = "cust|m";
    cust();
    ASSERT_EQ(zvdbCreateTable(table_, writable, 0), 0) << last();
    EXPECT_STREQ(writable, "cust|m");
    const Names made = files();
    ASSERT_FALSE(made.empty());
    for (const std::string &f : made) std::remove(f.c_str());
    static const char *const readonly = "cust|m";
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    cust();
    ASSERT_EQ(zvdbCreateTable(table_, readonly, 0), 0) << last();
    EXPECT_STREQ(readonly, "cust|m");
    EXPECT_EQ(files(), made);
}

}  // namespace
