// Working names and temporary tables: the names made from the engine's
// temporary file names, and tables made from another table's definition.
#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/crypto/masterkey.h"
#include "engine/core/fcb.h"
#include "recapi/schema/tablefile.h"
#include "tests/recapi/schema/maintfix.h"

namespace {

class TempTableTest : public schematest::MaintTest {
protected:
    std::string name() {
        char *p = _zvdbTemporaryName(table_);
        std::string s = p ? p : "(null)";
        _zvdb_free(p);
        return s;
    }
};

TEST_F(TempTableTest, WorkingNamesComeFromTheEnginesTemporaryNames) {
    // In the working directory: "zarvo.tmp.XXXXXXXX" with its points made d.
    const std::string a = name(), b = name();
    ASSERT_EQ(a.size(), 19u) << a;
    EXPECT_EQ(a.substr(0, 11), "czarvodtmpd");
    EXPECT_EQ(a.find_first_of("./"), std::string::npos);
    EXPECT_NE(a, b);
    // In the engine's temporary directory: its "Z" and seven hex digits.
    std::filesystem::create_directory("t");
    ASSERT_EQ(zvSetZvTempDirName("t/"), 0);
    const std::string c = name();
    ASSERT_EQ(c.size(), 9u) << c;
    EXPECT_EQ(c.substr(0, 2), "cZ");
    for (char ch : c.substr(2)) EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(ch))) << c;
    EXPECT_TRUE(files().empty());
}

TEST_F(TempTableTest, NoWorkingNameWhenTheEngineCannotMakeOne) {
    zv::fault_set(zv::IoKind::Mkstemp, 1, EACCES);
    mark();
    EXPECT_EQ(name(), "(null)");
    EXPECT_EQ(last(), 155);
    mark();
    EXPECT_EQ(_zvdbTemporaryName(nullptr), nullptr);
}

// The cust table with a conditional index, pad characters, a default and
// resources of many types, and a second table handle for its clone.
class CloneTest : public TempTableTest {
protected:
    void SetUp() override {
        TempTableTest::SetUp();
        clone_ = static_cast<tagZVDBTABLE *>(zvdbAllocTable(session_));
        ASSERT_NE(clone_, nullptr);
    }
    void TearDown() override {
        zvdbFreeTable(clone_);
        if (zvWNGV) zvSETENCRYPT(nullptr, nullptr, 0);
        zv::master_key_reset();
        TempTableTest::TearDown();
    }
    void make_source() {
        cust();
        ASSERT_EQ(zvdbSetIndexCndxExpr(zvdbGetIndex(table_, 1), "amount > 20"), 0);
        ASSERT_EQ(zvdbSetPadChar(table_, '*', '|'), 0);
        ASSERT_EQ(zvdbSetFieldDefaultValue(zvdbGetField(table_, 2), "7", 1), 0);
        ASSERT_EQ(zvdbSetFieldPrecision(zvdbGetField(table_, 2), 6), 0);
        ASSERT_EQ(zvdbCreateTable(table_, "cust", 0), 0) << last();
        ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
        ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
        add(table_, 0, 5);
    }
    // Adds a resource of that type and number to the open table.
    void put_resource(uint32_t type, uint32_t number) {
        ZVHANDLE r = zvdbAllocResource(table_, type, number, "res");
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(zvdbAddResource(r, "data", 4), 0) << type << " " << number;
        zvdbFreeResource(r);
    }
    static bool has_resource(tagZVDBTABLE *t, uint32_t type, uint32_t number) {
        ZVHANDLE r = zvdbAllocResource(t, 0, 0, nullptr);
        const bool found = zvdbFindResource(r, type, number, 0) == 0;
        zvdbFreeResource(r);
        return found;
    }
    static bool encrypted(const tagZVDBTABLE *t) { return zv::fcb_at(t->datno)->cipherclass != 0; }

    tagZVDBTABLE *clone_ = nullptr;
};

TEST_F(CloneTest, ACloneHasTheSourcesDefinitionAndTheApplicationsResources) {
    make_source();
    struct Res {
        uint32_t type, number;
        bool carried;
    };
    const Res res[] = {{0x10001, 1, true}, {2, 3, true},  {10, 1, true},      {0, 11, true},
                       {0, 12, true},      {0, 13, false}, {0x10000, 1, false}, {5, 1, false}};
    for (const Res &r : res) put_resource(r.type, r.number);
    ASSERT_EQ(zvdbCloneTable(clone_, "cust2", table_), 0) << last();
    EXPECT_EQ(zvdbIsActiveTable(clone_), 0);
    EXPECT_EQ(zvdbIsActiveTable(table_), 1);
    EXPECT_EQ(ids(table_, 0), range(0, 5));
    ASSERT_EQ(zvdbSetTablePath(clone_, "."), 0);
    ASSERT_EQ(zvdbOpenTable(clone_, "cust2", 0), 0) << last();
    ASSERT_EQ(zvdbGetTableFieldCount(clone_), 3);
    for (int32_t n = 0; n < 3; n++) {
        const auto *a = static_cast<tagZVDBFIELD *>(zvdbGetField(table_, n));
        const auto *b = static_cast<tagZVDBFIELD *>(zvdbGetField(clone_, n));
        EXPECT_STREQ(a->name, b->name);
        EXPECT_EQ(a->type, b->type);
        EXPECT_EQ(a->length, b->length);
    }
    EXPECT_EQ(zvdbGetFieldPrecision(zvdbGetField(clone_, 2)), 6);
    int32_t length = 0;
    const void *def = zvdbGetFieldDefaultValue(zvdbGetField(clone_, 2), &length);
    ASSERT_EQ(length, 1);
    EXPECT_EQ(std::string(static_cast<const char *>(def), 1), "7");
    ASSERT_EQ(zvdbGetTableIndexCount(clone_), 2);
    for (int32_t n = 0; n < 2; n++) {
        const auto *a = static_cast<tagZVDBINDEX *>(zvdbGetIndex(table_, n));
        const auto *b = static_cast<tagZVDBINDEX *>(zvdbGetIndex(clone_, n));
        EXPECT_STREQ(a->name, b->name);
        EXPECT_EQ(a->keylen, b->keylen);
        EXPECT_EQ(a->dupflag, b->dupflag);
        EXPECT_STREQ(zvdbGetSegmentFieldName(zvdbGetSegment(const_cast<tagZVDBINDEX *>(b), 0)),
                     zvdbGetSegmentFieldName(zvdbGetSegment(const_cast<tagZVDBINDEX *>(a), 0)));
    }
    char expr[64];
    ASSERT_EQ(zvdbGetCndxIndex(zvdbGetIndex(clone_, 1), expr, sizeof expr), 0);
    EXPECT_STREQ(expr, "amount > 20");
    unsigned char pad = 0, delim = 0;
    ASSERT_EQ(zvdbGetPadChar(clone_, &pad, &delim), 0);
    EXPECT_EQ(pad, '*');
    EXPECT_EQ(delim, '|');
    for (const Res &r : res) EXPECT_EQ(has_resource(clone_, r.type, r.number), r.carried) << r.type << " " << r.number;
    // The clone holds no record.
    EXPECT_TRUE(holds(clone_, {}));
}

TEST_F(CloneTest, ACloneOfAnEncryptedTableIsEncryptedAndTheNextCreateIsNot) {
    cmosdksup = 2;
    zv::set_master_password("pw");
    ASSERT_EQ(zvSETENCRYPT("61", "k", 1), 0);
    make_source();
    ASSERT_EQ(zvSETENCRYPT(nullptr, nullptr, 0), 0);
    EXPECT_TRUE(encrypted(table_));
    ASSERT_EQ(zvdbCloneTable(clone_, "cust2", table_), 0) << last();
    ASSERT_EQ(zvdbSetTablePath(clone_, "."), 0);
    ASSERT_EQ(zvdbOpenTable(clone_, "cust2", 0), 0) << last();
    EXPECT_TRUE(encrypted(clone_));
    EXPECT_EQ(zvdbCloseTable(clone_), 0);
    // A plain create after the clone.
    ASSERT_NE(zvdbAddField(clone_, "x", ZV_INT4, 0), nullptr);
    ASSERT_EQ(zvdbCreateTable(clone_, "plain", 0), 0) << last();
    ASSERT_EQ(zvdbSetTablePath(clone_, "."), 0);
    ASSERT_EQ(zvdbOpenTable(clone_, "plain", 0), 0) << last();
    EXPECT_FALSE(encrypted(clone_));
}

// A write failing once at the nth write of the clone, n = 1, 2, ... until the
// clone succeeds: each failure leaves no file of the clone, the source open
// and whole, and the next create plain.
TEST_F(CloneTest, AFailedCloneLeavesNoFileAndNoCipherBehind) {
    cmosdksup = 2;
    zv::set_master_password("pw");
    ASSERT_EQ(zvSETENCRYPT("61", "k", 1), 0);
    make_source();
    ASSERT_EQ(zvSETENCRYPT(nullptr, nullptr, 0), 0);
    put_resource(0x10001, 1);
    const std::vector<std::string> before = files();
    bool done = false;
    int failures = 0;
    for (long n = 1; n < 300 && !done; n++) {
        SCOPED_TRACE(n);
        zv::fault_set(zv::IoKind::Write, n, EIO);
        const ZVDBRET rc = zvdbCloneTable(clone_, "cust2", table_);
        zv::fault_reset();
        done = rc == 0;
        if (done) break;
        failures++;
        EXPECT_EQ(zvdbIsActiveTable(clone_), 0);
        EXPECT_EQ(files(), before);
        EXPECT_EQ(ids(table_, 0), range(0, 5));
        tagZVDBTABLE *plain = static_cast<tagZVDBTABLE *>(zvdbAllocTable(session_));
        ASSERT_NE(zvdbAddField(plain, "x", ZV_INT4, 0), nullptr);
        ASSERT_EQ(zvdbCreateTable(plain, "plain", 0), 0) << last();
        ASSERT_EQ(zvdbSetTablePath(plain, "."), 0);
        ASSERT_EQ(zvdbOpenTable(plain, "plain", 0), 0) << last();
        EXPECT_FALSE(encrypted(plain));
        EXPECT_EQ(zvdbRemoveTable(plain), 0);
        zvdbFreeTable(plain);
    }
    EXPECT_TRUE(done);
    EXPECT_GE(failures, 3);
}

TEST_F(TempTableTest, ATemporaryTableTakesTheLiveDefinitionAndItsModesAsAsked) {
    cust();
    ASSERT_EQ(zvdbSetIdentityField(table_, "id", 100, 5), 0);
    ASSERT_EQ(zvdbCreateTable(table_, "cust", 2), 0) << last();
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
    // A table whose files have both transaction modes.
    ASSERT_EQ(_zvdbSetCreateMode(table_, zvdbGetTableCreateMode(table_) | 2), 0);
    // Pending edits: a deleted field, an index whose only segment goes, a
    // new index.
    ASSERT_EQ(zvdbDelSegment(zvdbGetIndex(table_, 1), 0), 0);
    ASSERT_EQ(zvdbDelField(table_, 1), 0);
    ASSERT_NE(zvdbAddSegment(index("byamount", 1), zvdbGetField(table_, 2), 12), nullptr);
    struct Case {
        int keepopen, identity;
        int temporary;
        uint32_t xmode;
        const char *identityname;
    };
    const Case cases[] = {{0, 0, 1, 512, nullptr}, {1, 1, 2, 0, "id"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.keepopen);
        auto *t = static_cast<tagZVDBTABLE *>(zvdbAllocTable(session_));
        char *olds[3] = {}, *news[3] = {};
        ASSERT_EQ(_zvdbCreateTemporary(table_, t, "work", olds, news, c.keepopen, c.identity), 0) << last();
        EXPECT_EQ(zvdbIsActiveTable(t), 1);
        EXPECT_EQ(t->temporary, c.temporary);
        EXPECT_EQ(t->tempxmode, c.xmode);
        ASSERT_EQ(zvdbGetTableFieldCount(t), 2);
        EXPECT_STREQ(zvdbGetFieldName(zvdbGetField(t, 1)), "amount");
        ASSERT_EQ(zvdbGetTableIndexCount(t), 2);
        EXPECT_STREQ(zvdbGetIndexName(zvdbGetIndex(t, 1)), "byamount");
        EXPECT_EQ(olds[0] || olds[1] || olds[2] || news[0], false);
        const char *identity = zvdbGetIdentityField(t);
        EXPECT_STREQ(identity, c.identityname);
        EXPECT_EQ(zvdbRemoveTable(t), 0);
        zvdbFreeTable(t);
    }
    EXPECT_EQ(files(), (std::vector<std::string>{"cust.dat", "cust.idx"}));
    mark();
    auto *t = static_cast<tagZVDBTABLE *>(zvdbAllocTable(session_));
    EXPECT_EQ(_zvdbCreateTemporary(table_, t, nullptr, nullptr, nullptr, 0, 0), ZVDB_NO_MEMORY);
    EXPECT_EQ(last(), ZVDB_NO_MEMORY);
    EXPECT_EQ(_zvdbCreateTemporary(table_, nullptr, "x", nullptr, nullptr, 0, 0), ZVDB_NO_TABLE);
    zvdbFreeTable(t);
}

TEST_F(TempTableTest, FilterNamesArePackedWithTheirCountBytes) {
    field("a", ZV_INT4);
    field("bc", ZV_INT4);
    mark();
    EXPECT_EQ(_zvdbGenerateFilterNames(table_), nullptr);
    EXPECT_EQ(last(), 438);
    ASSERT_EQ(_zvdbSetCreateMode(table_, 0x660), 0);
    ASSERT_EQ(_zvdbAllocDoda(table_, 0), 0);
    char *p = _zvdbGenerateFilterNames(table_);
    ASSERT_NE(p, nullptr);
    const unsigned char want[] = {3, 'a', 0, 4, 'b', 'c', 0, 0};
    EXPECT_EQ(std::memcmp(p, want, sizeof want), 0);
    EXPECT_EQ(last(), 0);
    _zvdb_free(p);
    // A name's count byte holds at most 255: 253 characters.
    for (size_t n : {size_t(253), size_t(254)}) {
        SCOPED_TRACE(n);
        const std::string longname(n, 'x');
        ASSERT_EQ(zvdbSetFieldName(zvdbGetField(table_, 1), longname.c_str()), 0);
        ASSERT_EQ(_zvdbAllocDoda(table_, 0), 0);
        mark();
        p = _zvdbGenerateFilterNames(table_);
        if (n == 253) {
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(static_cast<unsigned char>(p[3]), 255);
            EXPECT_EQ(p[3 + 1 + 253], 0);
            EXPECT_EQ(p[3 + 1 + 254], 0);
        } else {
            EXPECT_EQ(p, nullptr);
            EXPECT_EQ(last(), ZVDB_NAME_TOO_LONG);
        }
        _zvdb_free(p);
    }
    EXPECT_EQ(_zvdbGenerateFilterNames(nullptr), nullptr);
}

TEST_F(TempTableTest, SerialSegmentsCountWithoutPendingChanges) {
    tagZVDBFIELD *id = field("id", ZV_INT4);
    field("n", ZV_INT4);
    ASSERT_NE(zvdbAddSegment(index("byid"), id, 12), nullptr);
    ASSERT_NE(zvdbAddSegment(index("byserial"), zvdbGetField(table_, 1), 3), nullptr);
    // New indexes and segments are pending changes.
    EXPECT_EQ(_zvdbHasSRLSEG(table_), 0);
    // One serial segment per file: no "$ROWID$".
    ASSERT_EQ(zvdbCreateTable(table_, "ser", 64), 0) << last();
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "ser", 0), 0) << last();
    EXPECT_EQ(_zvdbHasSRLSEG(table_), 1);
    ASSERT_EQ(zvdbSetSegmentMode(zvdbGetSegment(zvdbGetIndex(table_, 1), 0), 12), 0);
    EXPECT_EQ(_zvdbHasSRLSEG(table_), 0);
    EXPECT_EQ(_zvdbHasSRLSEG(nullptr), 0);
}

}  // namespace
