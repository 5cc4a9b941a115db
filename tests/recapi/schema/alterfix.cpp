#include "tests/recapi/schema/alterfix.h"

#include <algorithm>
#include <cstring>

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
    add_field(t, "id", ZV_INT4);
    add_field(t, "qty", ZV_INT4);
    add_field(t, "name", ZV_FSTRING, 16);
    add_index(t, "byid", 0, {"id"});
    add_index(t, "byname", 1, {"name"});
}

void AlterTest::fill(int n) {
    for (int id = 1; id <= n; id++) {
        const Row r = row(id);
        unsigned char rec[24] = {};
        std::memcpy(rec, &r.id, 4);
        std::memcpy(rec + 4, &r.qty, 4);
        std::memset(rec + 8, ' ', 16);
        std::memcpy(rec + 8, r.name.data(), r.name.size());
        ASSERT_EQ(ADDREC(zvdbGetDatno(table_), rec), 0) << id;
    }
}

std::vector<Row> AlterTest::rows() {
    std::vector<Row> out;
    unsigned char rec[64];
    const int keyno = table_->recbytno;
    for (int rc = FRSREC(keyno, rec); rc == 0; rc = NXTREC(keyno, rec)) {
        Row r{};
        std::memcpy(&r.id, rec, 4);
        std::memcpy(&r.qty, rec + 4, 4);
        r.name.assign(reinterpret_cast<const char *>(rec + 8), 16);
        r.name.erase(r.name.find_last_not_of(' ') + 1);
        out.push_back(r);
    }
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

std::vector<Row> AlterTest::rows_upto(int n) {
    std::vector<Row> out;
    for (int id = 1; id <= n; id++) out.push_back(row(id));
    return out;
}

}  // namespace schematest
