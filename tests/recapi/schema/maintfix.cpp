#include "tests/recapi/schema/maintfix.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "recapi/base/wrappers.h"

namespace schematest {

namespace {

// Offset of a schema entry of the open table.
int32_t offset_of(const tagZVDBTABLE *t, const char *name) {
    for (int32_t i = 0; i < t->dodacount; i++) {
        if (std::strcmp(t->doda[i].fsymb, name) == 0) return int32_t(t->doda[i].fadr);
    }
    return -1;
}

}  // namespace

void MaintTest::make_cust(bool ownfile, uint32_t createmode, uint32_t openmode) {
    cust();
    if (ownfile) {
        ASSERT_EQ(zvdbSetIndexFilename(zvdbGetIndex(table_, 1), nullptr, "cust_nm"), 0);
    }
    ASSERT_EQ(zvdbCreateTable(table_, "cust", createmode), 0) << last();
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "cust", openmode), 0) << last();
}

void MaintTest::add(tagZVDBTABLE *t, int from, int to) {
    const int32_t id = offset_of(t, "id"), name = offset_of(t, "name"), amount = offset_of(t, "amount");
    ASSERT_GE(id, 0);
    std::vector<unsigned char> image(t->fixedlen);
    for (int32_t i = from; i < to; i++) {
        std::fill(image.begin(), image.end(), 0);
        const std::string text = "n" + std::to_string(i % 7);
        const int32_t money = i * 10;
        std::memcpy(&image[size_t(id)], &i, 4);
        std::memcpy(&image[size_t(name)], text.c_str(), text.size());
        std::memcpy(&image[size_t(amount)], &money, 4);
        ASSERT_EQ(_zvdbADDREC(t->datno, image.data(), nullptr), 0) << i;
    }
}

std::vector<int32_t> MaintTest::ids(tagZVDBTABLE *t, int n) {
    std::vector<int32_t> out;
    const int32_t id = offset_of(t, "id");
    const int key = n < 0 ? t->recbytno : zvdbGetIdxnoByNumber(t, n);
    if (id < 0 || key <= 0) return {-1};
    std::vector<unsigned char> image(t->fixedlen);
    for (int rc = FRSREC(key, image.data()); rc == 0; rc = NXTREC(key, image.data())) {
        int32_t v = 0;
        std::memcpy(&v, &image[size_t(id)], 4);
        out.push_back(v);
    }
    return out;
}

std::vector<int32_t> MaintTest::scan(tagZVDBTABLE *t) {
    std::vector<int32_t> out;
    ZVHANDLE r = zvdbAllocRecord(t);
    if (!r) return {-zvdbGetError(t)};
    int rc = zvdbSetDefaultIndex(r, 10002);
    for (rc = rc ? rc : zvdbFirstRecord(r); rc == 0; rc = zvdbNextRecord(r)) {
        int32_t v = 0;
        if ((rc = zvdbGetFieldAsSigned(r, 0, &v)) != 0) break;
        out.push_back(v);
    }
    zvdbFreeRecord(r);
    if (rc != 101) return {-rc};
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<int32_t> MaintTest::range(int from, int to) {
    std::vector<int32_t> out;
    for (int i = from; i < to; i++) out.push_back(i);
    return out;
}

bool MaintTest::holds(tagZVDBTABLE *t, const std::vector<int32_t> &want) {
    if (ids(t, 0) != want) return false;
    for (int n = 1; n < zvdbGetTableIndexCount(t); n++) {
        std::vector<int32_t> got = ids(t, n);
        std::sort(got.begin(), got.end());
        if (got != want) return false;
    }
    std::vector<int32_t> phys = ids(t, -1);
    std::sort(phys.begin(), phys.end());
    return !t->hasrecbyt || phys == want;
}

void MaintTest::back_to_template() {
    for (const std::string &f : files()) std::filesystem::remove(f);
    zvtest::restore_template();
}

void MaintDbTest::SetUp() {
    MaintTest::SetUp();
    zvdbFreeTable(table_);
    ASSERT_EQ(zvdbFreeSession(session_), 0);
    session_ = static_cast<tagZVDBSESSION *>(zvdbAllocSession(0));
    ASSERT_NE(session_, nullptr);
    ASSERT_EQ(zvdbCreateSession(session_, nullptr, nullptr, nullptr), 0);
    // Small caches: writes fall inside the calls that make them.
    ASSERT_EQ(zvdbSetSessionParams(session_, 1, 3), 0);
    ASSERT_EQ(zvdbSetSessionParams(session_, 4, 3), 0);
    ASSERT_EQ(zvdbLogon(session_, nullptr, "tester", nullptr), 0);
    std::filesystem::create_directories("db");
    ASSERT_EQ(zvdbCreateDatabase(session_, "Sales", "db"), 0);
    db_ = static_cast<tagZVDBDATABASE *>(zvdbAllocDatabase(session_));
    ASSERT_NE(db_, nullptr);
    ASSERT_EQ(zvdbConnect(db_, "Sales"), 0);
    table_ = static_cast<tagZVDBTABLE *>(zvdbAllocTable(db_));
    ASSERT_NE(table_, nullptr);
}

void MaintDbTest::TearDown() {
    zvdbFreeTable(table_);
    table_ = nullptr;
    if (db_) {
        EXPECT_EQ(zvdbFreeDatabase(db_), 0);
    }
    MaintTest::TearDown();
}

void MaintDbTest::make_db_cust() {
    tagZVDBFIELD *id = field("id", ZV_INT4);
    tagZVDBFIELD *name = field("name", ZV_FSTRING, 20);
    field("amount", ZV_MONEY);
    ASSERT_NE(zvdbAddSegment(index("custno"), id, 12), nullptr);
    tagZVDBINDEX *byname = index("cust_nm", 1);
    ASSERT_NE(zvdbAddSegment(byname, name, 12), nullptr);
    ASSERT_EQ(zvdbSetIndexFilename(byname, nullptr, "cust_nm"), 0);
    ASSERT_EQ(zvdbCreateTable(table_, "cust", 0), 0) << last();
    ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
}

int MaintDbTest::table_entry(const char *name, ZVDBDICTENTRY *e) { return _zvdbDictFindTable(db_, name, e); }

int MaintDbTest::index_entry(const char *name, ZVDBDICTENTRY *e) { return _zvdbDictFindIndex(db_, name, e); }

}  // namespace schematest
