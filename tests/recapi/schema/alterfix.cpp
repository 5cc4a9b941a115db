#include "tests/recapi/schema/alterfix.h"

#include <algorithm>
#include <cstring>

#include "engine/core/pools.h"
#include "tests/support/fixture.h"

namespace schematest {

void add_field(ZVHANDLE t, const char *name, int32_t type, int32_t length) {
    ASSERT_NE(zvdbAddField(t, name, type, length), nullptr) << name;
}

void add_index(ZVHANDLE t, const char *name, int dup, std::vector<const char *> fields, const char *file) {
    ZVHANDLE ix = zvdbAddIndex(t, name, 0, dup, 0);
    ASSERT_NE(ix, nullptr) << name;
    for (const char *f : fields) ASSERT_NE(zvdbAddSegment(ix, zvdbGetFieldByName(t, f), 12), nullptr) << f;
    if (file) {
        ASSERT_EQ(zvdbSetIndexFilename(ix, nullptr, file), 0);
    }
}

void AlterTest::create(const std::function<void(ZVHANDLE)> &build, uint32_t createmode) {
    build(table_);
    ASSERT_EQ(zvdbCreateTable(table_, "alt", createmode), 0) << last();
    open();
}

void AlterTest::open(uint32_t openmode) {
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "alt", openmode), 0) << last();
}

void AlterTest::reopen() {
    ASSERT_EQ(zvdbCloseTable(table_), 0) << last();
    open();
}

void AlterTest::layout(ZVHANDLE t) {
    add_field(t, "name", ZV_FSTRING, 16);
    add_field(t, "id", ZV_INT4);
    add_field(t, "qty", ZV_INT4);
    add_index(t, "byid", 0, {"id"});
    add_index(t, "byname", 1, {"name"});
}

void AlterTest::fill(int n) {
    for (int id = 1; id <= n; id++) {
        const Row r = row(id);
        unsigned char rec[24] = {};
        std::memset(rec, ' ', 16);
        std::memcpy(rec, r.name.data(), r.name.size());
        std::memcpy(rec + 16, &r.id, 4);
        std::memcpy(rec + 20, &r.qty, 4);
        ASSERT_EQ(ADDREC(zvdbGetDatno(table_), rec), 0) << id;
    }
}

std::vector<Row> AlterTest::rows() {
    std::vector<Row> out;
    ZVHANDLE r = zvdbAllocRecord(table_);
    EXPECT_NE(r, nullptr);
    if (!r) return out;
    const int32_t id = zvdbGetFieldNumberByName(r, "id");
    const int32_t qty = zvdbGetFieldNumberByName(r, "qty");
    const int32_t c = zvdbGetFieldNumberByName(r, "c");
    int32_t name = zvdbGetFieldNumberByName(r, "name");
    if (name < 0) name = zvdbGetFieldNumberByName(r, "title");
    EXPECT_EQ(zvdbSetDefaultIndex(r, 10000), 0);
    for (ZVDBRET rc = zvdbFirstRecord(r); rc == 0; rc = zvdbNextRecord(r)) {
        Row w{0, -1, ""};
        char text[64] = {};
        EXPECT_EQ(zvdbGetFieldAsSigned(r, id, &w.id), 0);
        if (qty >= 0) {
            EXPECT_EQ(zvdbGetFieldAsSigned(r, qty, &w.qty), 0);
        }
        if (c >= 0) {
            EXPECT_EQ(zvdbGetFieldAsSigned(r, c, &w.c), 0);
        }
        EXPECT_EQ(zvdbGetFieldAsString(r, name, text, int32_t(sizeof text)), 0);
        w.name = text;
        w.name.erase(w.name.find_last_not_of(' ') + 1);
        out.push_back(w);
    }
    zvdbFreeRecord(r);
    std::sort(out.begin(), out.end(), [](const Row &a, const Row &b) { return a.id < b.id; });
    return out;
}

int64_t AlterTest::keys(const char *index) {
    ZVHANDLE ix = idx(index);
    if (!ix) return -1;
    return IDXENT(zvdbGetIdxno(ix));
}

std::vector<std::pair<std::string, std::string>> AlterTest::snapshot() {
    std::vector<std::pair<std::string, std::string>> out;
    for (const std::string &f : files()) out.emplace_back(f, zvtest::read_file(f));
    return out;
}

::testing::AssertionResult AlterTest::same_files(const std::vector<std::pair<std::string, std::string>> &before) {
    const auto now = snapshot();
    std::string differ;
    for (const auto &f : before) {
        auto it = std::find_if(now.begin(), now.end(), [&f](const auto &g) { return g.first == f.first; });
        if (it == now.end() || it->second != f.second) differ += " " + f.first;
    }
    for (const auto &g : now) {
        if (std::none_of(before.begin(), before.end(), [&g](const auto &f) { return f.first == g.first; })) {
            differ += " +" + g.first;
        }
    }
    if (differ.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "files changed:" << differ;
}

uint64_t AlterTest::alteration_allocations(uint32_t action) {
    const uint64_t before = zv::platform_alloc_count();
    EXPECT_EQ(zvdbAlterTable(table_, action), 0) << last();
    const uint64_t made = zv::platform_alloc_count() - before;
    EXPECT_EQ(zvdbRemoveTable(table_), 0) << last();
    zvdbFreeTable(table_);
    table_ = static_cast<tagZVDBTABLE *>(zvdbAllocTable(session_));
    return made;
}

std::vector<Row> AlterTest::rows_upto(int n) {
    std::vector<Row> out;
    for (int id = 1; id <= n; id++) out.push_back(row(id));
    return out;
}

}  // namespace schematest
