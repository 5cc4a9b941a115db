// The session dictionary: what session creation makes (a superfile host
// holding "zvdbdict" with its record and indexes), its plain form in a
// directory, the transaction modes of new dictionaries, and logon's open.
#include <filesystem>
#include <string>
#include <vector>

#include "recapi/base/wrappers.h"
#include "recapi/catalog/dict_calls.h"
#include "tests/recapi/catalog/catfix.h"
#include "zarvo/zarvo.h"

namespace {

using cattest::CatalogTest;
using cattest::listing;
namespace fs = std::filesystem;

// A session of its own with the session path, not logged on.
tagZVDBSESSION *new_session(const char *path) {
    auto *s = static_cast<tagZVDBSESSION *>(zvdbAllocSession(0));
    EXPECT_NE(s, nullptr);
    if (s) {
        EXPECT_EQ(zvdbSetSessionPath(s, path), 0);
    }
    return s;
}

TEST_F(CatalogTest, CreatingASessionMakesOneHostHoldingTheDictionaryTable) {
    EXPECT_EQ(listing(), (std::vector<std::string>{"zvdbdict.qsd"}));
    ZVDBDICT *d = session_->dict;
    ASSERT_EQ(d->open, 1);
    EXPECT_EQ(session_->dictinsuper, 1);
    // Between operations the dictionary's files are closed; an operation
    // (its lock) opens them.
    EXPECT_EQ(d->holding, 0);
    EXPECT_EQ(d->table->active, 0);
    ASSERT_EQ(_zvdbLockDict(d, 2), 0);
    EXPECT_EQ(d->holding, 1);
    EXPECT_EQ(zvdbGetTableType(d->table), 1);
    IFIL *ifil = nullptr;
    int32_t length = 0;
    ASSERT_EQ(_zvdbGETIFIL(d->table->datno, &ifil, &length), 0);
    ASSERT_EQ(_zvdbUnlockDict(d), 0);
    EXPECT_EQ(d->holding, 0);
    EXPECT_EQ(ifil->dreclen, 4105);
    ASSERT_EQ(ifil->dnumidx, 3);
    struct Want {
        const char *name;
        int keylen, dup, segments;
    };
    const Want want[] = {{"DICTNAME", 136, 0, 3}, {"DICTUID", 4, 0, 1}, {"DICTLINK", 140, 1, 3}};
    for (int k = 0; k < 3; k++) {
        SCOPED_TRACE(want[k].name);
        const IIDX &x = ifil->iidxarr[k];
        EXPECT_STREQ(x.ridxnam, want[k].name);
        EXPECT_EQ(x.ikeylen, want[k].keylen);
        EXPECT_EQ(x.ikeydup, want[k].dup);
        ASSERT_EQ(x.inumseg, want[k].segments);
        for (int n = 0; n < x.inumseg; n++) EXPECT_EQ(x.isegarr[n].segmode, 13);
    }
    _zvdb_free(ifil);
    // Open and empty: no database yet.
    char name[32];
    EXPECT_EQ(zvdbFirstDatabase(session_, name, sizeof name, nullptr, 0), 101);
    EXPECT_EQ(zvdbGetDatabaseCount(session_), 0);
}

TEST_F(CatalogTest, AReopenChangesOnlyTheExclusiveState) {
    ZVDBDICT *d = _zvdbAllocDict(session_, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(_zvdbReopenDict(d, 1), ZVDB_NOT_ACTIVE);
    ASSERT_EQ(zvdbCreateDatabase(session_, "Sales", ""), 0);
    ASSERT_EQ(_zvdbOpenDict(d, "Sales", 0, 1), 0);
    const int datno = d->table->datno;
    EXPECT_EQ(_zvdbReopenDict(d, 0), 0);
    EXPECT_EQ(d->table->datno, datno);  // untouched
    ASSERT_EQ(_zvdbReopenDict(d, 1), 0);
    EXPECT_EQ(d->exclusive, 1);
    EXPECT_EQ(d->open, 1);
    EXPECT_STREQ(d->name, "Sales");
    EXPECT_EQ(_zvdbDictInSuperfile(d), 1);
    ASSERT_EQ(_zvdbCloseDict(d), 0);
    EXPECT_EQ(_zvdbDictInSuperfile(d), 0);
    EXPECT_EQ(_zvdbCloseDict(d), 0);
    EXPECT_EQ(_zvdbFreeDict(d), 0);
    EXPECT_EQ(_zvdbOpenDict(nullptr, "Sales", 0, 1), ZVDB_BAD_KIND);
}

TEST_F(CatalogTest, LogonNeedsTheSessionDictionary) {
    fs::create_directory("none");
    tagZVDBSESSION *s = new_session("none");
    EXPECT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 12);
    EXPECT_EQ(zvdbIsActiveSession(s), 0);
    EXPECT_EQ(listing("none"), std::vector<std::string>{});
    EXPECT_EQ(zvdbFreeSession(s), 0);
}

TEST_F(CatalogTest, AnUnknownTransactionModeMakesNoDictionary) {
    fs::create_directory("x");
    for (int insuper : {1, 0}) {
        SCOPED_TRACE(insuper);
        tagZVDBSESSION *s = new_session("x");
        ASSERT_EQ(zvdbSetDictTranMode(s, 2), 0);
        ASSERT_EQ(zvdbSetDictInSuperfile(s, insuper), 0);
        EXPECT_EQ(zvdbCreateSession(s, nullptr, nullptr, nullptr), ZVDB_BAD_MODE);
        EXPECT_EQ(zvdbGetError(s), ZVDB_BAD_MODE);
        EXPECT_EQ(listing("x"), std::vector<std::string>{});
        EXPECT_EQ(zvdbFreeSession(s), 0);
    }
}

int g_calls = 0;
ZVDBRET count_call(ZVHANDLE) {
    g_calls++;
    return 0;
}

TEST_F(CatalogTest, APlainSessionDictionaryIsADirectoryHoldingTheTable) {
    fs::create_directory("p");
    tagZVDBSESSION *s = new_session("p");
    ASSERT_EQ(zvdbSetDictInSuperfile(s, 0), 0);
    ASSERT_EQ(zvdbCreateSession(s, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(listing("p"), std::vector<std::string>{"zvdbdict.qsd/"});
    EXPECT_EQ(listing("p/zvdbdict.qsd"), (std::vector<std::string>{"zvdbdict.dat", "zvdbdict.idx"}));
    // A session that tries the superfile first finds the directory.
    EXPECT_EQ(zvdbSetDictInSuperfile(s, 1), 0);
    ASSERT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(s->dictinsuper, 0);
    EXPECT_EQ(s->dict->open, 1);
    EXPECT_EQ(zvdbCreateDatabase(s, "Plain", "p"), 0);
    char name[16];
    EXPECT_EQ(zvdbFirstDatabase(s, name, sizeof name, nullptr, 0), 0);
    EXPECT_STREQ(name, "Plain");
    EXPECT_EQ(zvdbNextDatabase(s, name, sizeof name, nullptr, 0), 101);
    // The dictionary's records run none of the caller's callbacks, though
    // outside a host its table looks like any other.
    g_calls = 0;
    ASSERT_EQ(zvdbSetCallback(s, 7, reinterpret_cast<ZVDB_CALLBACK>(count_call)), 0);
    ASSERT_EQ(zvdbLogout(s), 0);
    ASSERT_EQ(zvdbSetSessionPath(s, "p"), 0);
    ASSERT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(zvdbFirstDatabase(s, name, sizeof name, nullptr, 0), 0);
    EXPECT_EQ(g_calls, 0);
    EXPECT_EQ(zvdbFreeSession(s), 0);
}

TEST(TransactionMode, ComesFromTheTransactionBitsOfTheFileMode) {
    struct Case {
        int64_t filemode;
        uint32_t tranmode;
    };
    const Case cases[] = {{0, 0}, {1, 0}, {16, 1}, {16 | 5, 1}, {32, 0}, {48, 3}, {48 | 0x400, 3}};
    for (const Case &c : cases) EXPECT_EQ(zv::dict::transaction_mode(c.filemode), c.tranmode) << c.filemode;
}

TEST_F(CatalogTest, NewDictionariesCarryNoTransactionBits) {
    // The engine reads 16 and 48 as "marked for rebuild": whatever the
    // session's dictionary transaction mode, the file gets none, and a
    // connected database's transaction mode is 0 (3 before a connect).
    for (int dictmode : {0, 1, 3}) {
        SCOPED_TRACE(dictmode);
        const std::string name = "T" + std::to_string(dictmode);
        ASSERT_EQ(zvdbSetDictTranMode(session_, dictmode), 0);
        ASSERT_EQ(zvdbCreateDatabase(session_, name.c_str(), ""), 0);
        auto *db = static_cast<tagZVDBDATABASE *>(zvdbAllocDatabase(session_));
        int32_t tranmode = -1;
        EXPECT_EQ(zvdbGetDatabaseTransactionMode(db, &tranmode), 0);
        EXPECT_EQ(tranmode, 3);
        ASSERT_EQ(zvdbConnect(db, name.c_str()), 0);
        int64_t mode = 0;
        ASSERT_EQ(_zvdbLockDict(db->dict, 2), 0);
        ASSERT_EQ(_zvdbGETFIL(db->dict->table->datno, 3, &mode), 0);
        EXPECT_EQ(mode & 48, 0);
        EXPECT_EQ(zvdbGetTableType(db->dict->table), 2);
        ASSERT_EQ(_zvdbUnlockDict(db->dict), 0);
        EXPECT_EQ(zvdbGetDatabaseTransactionMode(db, &tranmode), 0);
        EXPECT_EQ(tranmode, 0);
        EXPECT_EQ(zvdbFreeDatabase(db), 0);
    }
    EXPECT_EQ(zvdbGetDatabaseTransactionMode(nullptr, nullptr), ZVDB_NULL_ARGUMENT);
}

}  // namespace
