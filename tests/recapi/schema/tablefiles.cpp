#include "tests/recapi/schema/tablefiles.h"

#include <cstring>
#include <filesystem>

#include "tests/support/tablebind.h"

namespace schematest {

Image &Image::u8(unsigned v, size_t count) {
    b_.insert(b_.end(), count, static_cast<unsigned char>(v));
    return *this;
}

Image &Image::le16(uint16_t v) {
    for (int i = 0; i < 2; i++) b_.push_back(static_cast<unsigned char>(v >> (8 * i)));
    return *this;
}

Image &Image::le32(uint32_t v) {
    for (int i = 0; i < 4; i++) b_.push_back(static_cast<unsigned char>(v >> (8 * i)));
    return *this;
}

Image &Image::host32(uint32_t v) {
    unsigned char w[4];
    std::memcpy(w, &v, 4);
    b_.insert(b_.end(), w, w + 4);
    return *this;
}

Image &Image::text(const char *text, size_t n) {
    b_.insert(b_.end(), text, text + n);
    return *this;
}

Image &Image::text(const char *text) { return this->text(text, std::strlen(text)); }

void TableFileTest::TearDown() {
    if (bare_ >= 0) {
        EXPECT_EQ(CLSFIL(bare_, 0), 0);
        table_->datno = -1;
        table_->active = 0;
    }
    SchemaTest::TearDown();
}

void TableFileTest::reopen() {
    ASSERT_TRUE(bound_);
    ASSERT_EQ(zvtest::unbind_table(table_), 0);
    bound_ = false;
    ASSERT_EQ(zvtest::open_table(table_, name_.c_str()), 0);
    bound_ = true;
}

void TableFileTest::bind_schema(const DATOBJ *schema, int count, uint16_t reclen, int16_t dfilmod) {
    static const ISEG first[1] = {{0, 4, 0}};
    IIDX idx[1] = {IIDX{4, 0, 0, 0, 0, 1, first, "first", nullptr, nullptr, nullptr}};
    name_ = "cust";
    IFIL ifil = IFIL{"cust", -1, reclen, 0, dfilmod, 1, 0, 0, idx, nullptr, nullptr, 0};
    ASSERT_EQ(zvtest::bind_table(table_, &ifil, schema, count), 0);
    bound_ = true;
}

void TableFileTest::drop_files() {
    ASSERT_TRUE(bound_);
    EXPECT_EQ(zvtest::unbind_table(table_), 0);
    bound_ = false;
    for (const char *ext : {".dat", ".idx"}) EXPECT_TRUE(std::filesystem::remove(name_ + ext)) << name_;
}

void TableFileTest::bind_bare() {
    int n = AVLFILNUM(1);
    ASSERT_GE(n, 0);
    ASSERT_EQ(CREDATX8(n, "bare.dat", 24, 0, 0x0800, 6366, nullptr, nullptr, nullptr), 0);
    bare_ = n;
    table_->datno = int16_t(n);
    table_->active = 1;
}

Raw TableFileTest::raw(uint32_t type, uint32_t number) const {
    Raw r;
    uint32_t key[2] = {type, number};
    uint32_t head[3] = {};
    if (GETRES(datno(), key, head, sizeof head, 66) == 0) {
        r.code = zvGetUserErrorCode();
        return r;
    }
    r.bytes.resize(head[2]);
    uint32_t low = GETRES(datno(), key, r.bytes.data(), int32_t(r.bytes.size()), 2);
    r.pos = (uint64_t(uint32_t(zvGETHGH())) << 32) | low;
    r.code = low ? 0 : zvGetUserErrorCode();
    return r;
}

int TableFileTest::put_raw(const Bytes &record) const {
    Bytes copy = record;
    return ADDRES(datno(), copy.data(), int32_t(copy.size()));
}

}  // namespace schematest
