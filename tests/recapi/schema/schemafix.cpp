#include "tests/recapi/schema/schemafix.h"

#include <filesystem>

#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "tests/support/tablebind.h"

namespace schematest {

void SchemaTest::TearDown() {
    zv::fail_alloc_at(0);
    if (bound_) {
        EXPECT_EQ(zvtest::unbind_table(table_), 0);
    }
    TableSessionTest::TearDown();
}

tagZVDBFIELD *SchemaTest::field(const char *name, int32_t type, int32_t length) {
    auto *f = static_cast<tagZVDBFIELD *>(zvdbAddField(table_, name, type, length));
    EXPECT_NE(f, nullptr) << name << " " << last();
    return f;
}

tagZVDBINDEX *SchemaTest::index(const char *name, int dup) {
    auto *ix = static_cast<tagZVDBINDEX *>(zvdbAddIndex(table_, name, 0, dup, 0));
    EXPECT_NE(ix, nullptr) << name << " " << last();
    return ix;
}

void SchemaTest::bind_fixture(uint32_t createmode, int16_t namedup) {
    static const ISEG byid[1] = {{0, 4, 0}};
    static const ISEG byname[1] = {{2, 16, 12}};
    const int16_t suffix = (namedup & 1) ? ((createmode & 0x100) ? 8 : 4) : 0;
    IIDX idx[2] = {IIDX{4, 0, 0, 0, 0, 1, byid, "byid", nullptr, nullptr, nullptr},
                   IIDX{int16_t(16 + suffix), 0, namedup, 0, 0, 1, byname, "byname", nullptr, nullptr, nullptr}};
    IFIL ifil = IFIL{"fix", -1, 24, 0, 0, 2, 0, 0, idx, nullptr, nullptr, 0};
    const DATOBJ schema[3] = {{"id", 0, ZV_INT4, 4, 0, 0}, {"qty", 4, ZV_INT4, 4, 0, 0}, {"name", 8, ZV_FSTRING, 16, 0, 0}};
    ASSERT_EQ(zvtest::bind_table(table_, &ifil, schema, 3, createmode), 0);
    bound_ = true;
}

void SchemaTest::unbind_fixture() {
    ASSERT_TRUE(bound_);
    EXPECT_EQ(zvtest::unbind_table(table_), 0);
    bound_ = false;
    for (const char *name : {"fix.dat", "fix.idx"}) EXPECT_TRUE(std::filesystem::remove(name)) << name;
}

}  // namespace schematest
