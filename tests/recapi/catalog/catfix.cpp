#include "tests/recapi/catalog/catfix.h"

#include <algorithm>
#include <filesystem>

#include "engine/core/platform.h"
#include "engine/core/pools.h"

namespace cattest {

void CatalogTest::SetUp() {
    ZvTest::SetUp();
    zv::fault_reset();
    session_ = static_cast<tagZVDBSESSION *>(zvdbAllocSession(0));
    ASSERT_NE(session_, nullptr);
    ASSERT_EQ(zvdbCreateSession(session_, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(zvdbLogon(session_, nullptr, "tester", nullptr), 0);
}

void CatalogTest::TearDown() {
    zv::fail_alloc_at(0);
    zv::fault_reset();
    for (tagZVDBDATABASE *db : databases_) EXPECT_EQ(zvdbFreeDatabase(db), 0);
    EXPECT_EQ(zvdbFreeSession(session_), 0);
    ZvTest::TearDown();
}

void CatalogTest::small_cache() {
    ASSERT_EQ(zvdbLogout(session_), 0);
    ASSERT_EQ(zvdbSetSessionParams(session_, 1, 2), 0);
    ASSERT_EQ(zvdbSetSessionParams(session_, 4, 2), 0);
    ASSERT_EQ(zvdbLogon(session_, nullptr, nullptr, nullptr), 0);
}

tagZVDBDATABASE *CatalogTest::connect(const char *name, const char *dir, int exclusive) {
    std::filesystem::create_directories(dir);
    EXPECT_EQ(zvdbCreateDatabase(session_, name, dir), 0);
    auto *db = static_cast<tagZVDBDATABASE *>(zvdbAllocDatabase(session_));
    EXPECT_NE(db, nullptr);
    if (db) {
        databases_.push_back(db);
        EXPECT_EQ(zvdbSetDatabaseExclusive(db, exclusive), 0);
        EXPECT_EQ(zvdbConnect(db, name), 0);
    }
    return db;
}

int CatalogTest::make_table(ZVHANDLE owner, const char *name, const char *index) {
    ZVHANDLE t = zvdbAllocTable(owner);
    if (!t) return -1;
    int rc = -1;
    if (zvdbAddField(t, "custno", ZV_INT4, 4) && zvdbAddField(t, "name", ZV_FSTRING, 20)) {
        ZVHANDLE ix = index ? zvdbAddIndex(t, index, 0, 0, 0) : nullptr;
        if (index && !ix) {
            rc = zvdbGetError(owner);
        } else if (!ix || zvdbAddSegmentByNbr(t, 0, 0, 12)) {
            rc = zvdbCreateTable(t, name, 0);
        }
    }
    zvdbFreeTable(t);
    return rc;
}

void CatalogTest::put_entry(ZVDBDICT *d, const ZVDBDICTENTRY &e) {
    ASSERT_EQ(_zvdbClearDict(d), 0);
    ASSERT_EQ(_zvdbPutDict(d, &e), 0);
    ASSERT_EQ(_zvdbWriteDict(d), 0);
}

ZVDBDICTENTRY CatalogTest::entry(uint32_t type, const char *name, const char *link, uint32_t uid) {
    ZVDBDICTENTRY e{};
    EXPECT_EQ(zv::dict::new_entry(e, type, name), 0);
    std::snprintf(e.link, sizeof e.link, "%s", link);
    e.uid = uid;
    return e;
}

std::vector<std::string> CatalogTest::walk(ZVDBDICT *d, uint32_t type) {
    std::vector<std::string> out;
    ZVDBDICTENTRY e;
    for (int rc = _zvdbFirstDict(d, type, 0); rc == 0; rc = _zvdbNextDict(d, type, 0)) {
        EXPECT_EQ(_zvdbGetDict(d, &e), 0);
        out.push_back(e.name);
    }
    return out;
}

std::vector<std::string> listing(const std::string &dir) {
    std::vector<std::string> out;
    for (const auto &e : std::filesystem::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name != "ZVSTATUS.QVS") out.push_back(name + (e.is_directory() ? "/" : ""));
    }
    std::sort(out.begin(), out.end());
    return out;
}

void CustTest::SetUp() {
    CatalogTest::SetUp();
    db_ = connect();
    ASSERT_NE(db_, nullptr);
    ASSERT_EQ(make_table(db_, "cust", "custno"), 0);
}

}  // namespace cattest
