// The record image: its packed bytes against hand-written ones, lent and
// assigned buffers, damaged images, failing allocations during a pack, and
// the hot path's allocations.
#include <cstring>
#include <memory>
#include <string>

#include "engine/core/pools.h"
#include "recapi/records/record.h"
#include "tests/recapi/records/recfix.h"

namespace rectest {
namespace {

class ImageTest : public RecordTest {
protected:
    // a ZV_INT4, b ZV_STRING 20, c ZV_PSTRING 10, d ZV_INT4; no hidden
    // fields: a variable-length table whose fixed part is a alone.
    void make_abcd() {
        make_table({{"a", ZV_INT4, 0}, {"b", ZV_STRING, 20}, {"c", ZV_PSTRING, 10}, {"d", ZV_INT4, 0}}, 0x400 | 64);
    }
    // a = 7, b = "xy", c = "", d = 9.
    void fill(tagZVDBRECORD *r) {
        ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, 7), 0);
        ASSERT_EQ(zvdbSetFieldAsString(r, 1, "xy"), 0);
        ASSERT_EQ(zvdbSetFieldAsString(r, 2, ""), 0);
        ASSERT_EQ(zvdbSetFieldAsSigned(r, 3, 9), 0);
    }
    // The four values read back.
    std::string values(tagZVDBRECORD *r) {
        int32_t a = 0, d = 0;
        char b[32] = "?", c[32] = "?";
        EXPECT_EQ(zvdbGetFieldAsSigned(r, 0, &a), 0);
        EXPECT_EQ(zvdbGetFieldAsString(r, 1, b, sizeof b), 0);
        EXPECT_EQ(zvdbGetFieldAsString(r, 2, c, sizeof c), 0);
        EXPECT_EQ(zvdbGetFieldAsSigned(r, 3, &d), 0);
        return std::to_string(a) + "|" + b + "|" + c + "|" + std::to_string(d);
    }
    const std::vector<unsigned char> kImage = bytes({7, 0, 0, 0, 'x', 'y', 0, 0, 9, 0, 0, 0});
};

TEST_F(ImageTest, PackedImageIsTheEngineLayout) {
    make_abcd();
    tagZVDBRECORD *r = record();
    fill(r);
    EXPECT_EQ(zvdbGetRecordLength(r), 12);
    EXPECT_EQ(image(r), kImage);
    EXPECT_EQ(zvdbGetRecordSize(r), 12);
    EXPECT_EQ(zvdbGetFieldOffset(r, 3), 8);
    EXPECT_EQ(zvdbGetFieldOffset(r, 2), 7);
    // An empty prefixed value has its length byte and no value.
    EXPECT_EQ(zvdbGetFieldAddress(r, 2), nullptr);
    EXPECT_EQ(zvdbIsVariableField(r, 0), 0);
    EXPECT_EQ(zvdbIsVariableField(r, 3), 1);

    tagZVDBRECORD *copy = record();
    ASSERT_EQ(zvdbAssignRecordBuffer(copy, kImage.data(), 12), 0);
    EXPECT_EQ(values(copy), "7|xy||9");
    EXPECT_EQ(zvdbIsEditedRecord(copy), 1);
    EXPECT_EQ(image(copy), kImage);
}

TEST_F(ImageTest, LentBufferTakesTheImageOnlyWhenItFits) {
    make_abcd();
    for (int32_t size : {11, 12}) {
        SCOPED_TRACE(size);
        std::vector<unsigned char> lent(size_t(size), 0);
        lent.back() = 0xEE;
        tagZVDBRECORD *r = record();
        ASSERT_EQ(zvdbSetRecordBuffer(r, lent.data(), size, ZVDB_BUFFER_CALLER), 0);
        fill(r);
        const std::vector<unsigned char> before = lent;
        mark();
        const int32_t length = zvdbGetRecordLength(r);
        if (size == 11) {
            EXPECT_EQ(length, 0);
            EXPECT_EQ(last(), ZVDB_RECORD_BUFFER);
            EXPECT_EQ(lent, before);
            EXPECT_EQ(values(r), "7|xy||9");
        } else {
            EXPECT_EQ(length, 12);
            EXPECT_EQ(lent, kImage);
            EXPECT_EQ(zvdbGetRecordBuffer(r), lent.data());
            EXPECT_EQ(values(r), "7|xy||9");
        }
        // The record never frees or grows a lent buffer; a reset lets go of
        // it and the record takes an image of its own.
        EXPECT_EQ(zvdbResetRecord(r), 0);
        ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, 5), 0);
        EXPECT_NE(zvdbGetRecordBuffer(r), lent.data());
        EXPECT_EQ(values(r), "5|||0");
    }
    // The record's own image cannot be lent back to it.
    tagZVDBRECORD *r = record();
    void *own = zvdbGetRecordBuffer(r);
    EXPECT_EQ(zvdbSetRecordBuffer(r, own, zvdbGetRecordSize(r), ZVDB_BUFFER_CALLER), ZVDB_BAD_ARGUMENT);
}

// A variable-length data file whose fields all lie in its fixed part keeps
// them there: none is moved past the fixed part.
TEST_F(ImageTest, FieldsInsideTheFixedPartStayThere) {
    make_table({{"a", ZV_INT4, 0}, {"b", ZV_INT4, 0}}, 0x200 | 0x400 | 64 | 32);
    table_->recformat = 1;
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetFieldAsSigned(r, 1, 9), 0);
    EXPECT_EQ(zvdbIsVariableField(r, 1), 0);
    EXPECT_EQ(zvdbGetFieldOffset(r, 1), 4);
    EXPECT_EQ(image(r), bytes({0, 0, 0, 0, 9, 0, 0, 0}));
}

// The row id is a host-order value in the field's first bytes: a shorter
// field holds its low bytes, a longer one zeros after them.
TEST_F(ImageTest, RowidOfOtherWidths) {
    unsigned char bytes4[4] = {1, 0, 0, 0};
    ZVDBFIELDSLOT s{};
    s.value = bytes4;
    s.curlength = 4;
    EXPECT_EQ(zv::read_rowid(&s), 1u);
    unsigned char bytes10[10];
    std::memset(bytes10, 0xFF, sizeof bytes10);
    s.value = bytes10;
    s.curlength = 10;
    zv::write_rowid(&s, 2);
    EXPECT_EQ(std::vector<unsigned char>(bytes10, bytes10 + 10), bytes({2, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(zv::read_rowid(&s), 2u);
}

TEST_F(ImageTest, BuffersOfOtherBytesAreRefusedWhole) {
    make_abcd();
    tagZVDBRECORD *r = record();
    fill(r);
    EXPECT_EQ(zvdbAssignRecordBuffer(r, nullptr, 12), ZVDB_BAD_ARGUMENT);
    EXPECT_EQ(zvdbAssignRecordBuffer(r, kImage.data(), 0), ZVDB_BAD_ARGUMENT);
    EXPECT_EQ(zvdbSetRecordBuffer(r, const_cast<unsigned char *>(kImage.data()), 0, 1), ZVDB_BAD_ARGUMENT);
    std::vector<unsigned char> lent = kImage;
    ASSERT_EQ(zvdbSetRecordBuffer(r, lent.data(), 12, ZVDB_BUFFER_CALLER), 0);
    EXPECT_EQ(zvdbAssignRecordBuffer(r, kImage.data(), 12), ZVDB_NOT_SUPPORTED);
    // Back to an image of its own, cleared.
    EXPECT_EQ(zvdbSetRecordBuffer(r, nullptr, 0, 0), 0);
    EXPECT_EQ(values(r), "0|||0");
    EXPECT_EQ(lent, kImage);
    EXPECT_EQ(zvdbAssignRecordBuffer(reinterpret_cast<ZVHANDLE>(table_), kImage.data(), 12), ZVDB_NO_RECORD);
}

TEST_F(ImageTest, RawBufferIsReadOnlyWhenUnpacked) {
    make_abcd();
    tagZVDBRECORD *r = record();
    fill(r);
    std::vector<unsigned char> lent(16, 0xAB);
    ASSERT_EQ(zvdbSetRecordBuffer(r, lent.data(), 16, ZVDB_BUFFER_CALLER | ZVDB_BUFFER_RAW), 0);
    EXPECT_EQ(lent, std::vector<unsigned char>(16, 0xAB));
    EXPECT_EQ(zvdbIsNewRecord(r), 1);
    // Until its owner reads it, no field points into the buffer.
    EXPECT_EQ(zvdbGetFieldAddress(r, 0), nullptr);
    std::memcpy(lent.data(), kImage.data(), kImage.size());
    ASSERT_EQ(_zvdbUpdateRecord(r, 0), 0);
    EXPECT_EQ(values(r), "7|xy||9");
    EXPECT_EQ(zvdbGetRecordSize(r), 16);
}

TEST_F(ImageTest, CopyIntoAnotherRecord) {
    make_abcd();
    tagZVDBRECORD *source = record();
    fill(source);
    ASSERT_EQ(zvdbSetFieldAsString(source, 1, "a longer text"), 0);
    tagZVDBRECORD *target = record();
    ASSERT_EQ(zvdbCopyRecordBuffer(source, target), 0);
    EXPECT_EQ(values(target), "7|a longer text||9");
    EXPECT_EQ(zvdbCompareRecords(source, target), 0);
    // A lent buffer of the target takes the image only when it fits.
    std::vector<unsigned char> small(16, 0), large(32, 0);
    tagZVDBRECORD *lent = record();
    ASSERT_EQ(zvdbSetRecordBuffer(lent, small.data(), 16, ZVDB_BUFFER_CALLER), 0);
    EXPECT_EQ(zvdbCopyRecordBuffer(source, lent), ZVDB_RECORD_BUFFER);
    ASSERT_EQ(zvdbSetRecordBuffer(lent, large.data(), 32, ZVDB_BUFFER_CALLER), 0);
    ASSERT_EQ(zvdbCopyRecordBuffer(source, lent), 0);
    EXPECT_EQ(values(lent), "7|a longer text||9");
    EXPECT_EQ(large[4], 'a');
    EXPECT_EQ(zvdbCopyRecordBuffer(source, table_), ZVDB_NO_RECORD);
}

// Each damaged image lies in a heap block of exactly its size, so that a
// read past it is caught by the address sanitizer.
TEST_F(ImageTest, DamagedImagesAreRefusedWithoutReadingPastThem) {
    make_abcd();
    struct Case {
        const char *what;
        std::vector<unsigned char> bytes;
    };
    std::vector<unsigned char> long_c = kImage;
    long_c[7] = 200;
    const Case cases[] = {
        {"c's prefix 200", long_c},
        {"cut before c's prefix", std::vector<unsigned char>(kImage.begin(), kImage.begin() + 7)},
        {"b without delimiter", bytes({7, 0, 0, 0, 'x', 'y', 'z', 'w', 'v', 'u', 't', 's'})},
        {"cut inside a", bytes({7, 0})},
        {"d cut short", std::vector<unsigned char>(kImage.begin(), kImage.begin() + 10)},
    };
    tagZVDBRECORD *r = record();
    fill(r);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<unsigned char[]> exact(new unsigned char[c.bytes.size()]);
        std::memcpy(exact.get(), c.bytes.data(), c.bytes.size());
        mark();
        EXPECT_EQ(zvdbAssignRecordBuffer(r, exact.get(), int32_t(c.bytes.size())), ZVDB_BAD_VARDATA);
        EXPECT_EQ(last(), ZVDB_BAD_VARDATA);
        EXPECT_EQ(zvdbSetRecordBuffer(r, exact.get(), int32_t(c.bytes.size()), ZVDB_BUFFER_CALLER), ZVDB_BAD_VARDATA);
        EXPECT_EQ(values(r), "7|xy||9");
    }
}

TEST_F(ImageTest, FixedPartPrefixLongerThanItsFieldIsDamage) {
    make_table({{"s", ZV_FPSTRING, 5}, {"n", ZV_INT4, 0}}, 0x200 | 0x400 | 64 | 32);
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetFieldAsString(r, 0, "abcd"), 0);
    ASSERT_EQ(zvdbGetRecordLength(r), 12);
    EXPECT_EQ(image(r), bytes({4, 'a', 'b', 'c', 'd', 0, 0, 0, 0, 0, 0, 0}));
    for (int prefix : {5, 9}) {
        const std::vector<unsigned char> bad = bytes({prefix, 'w', 'x', 'y', 'z', 0, 0, 0, 1, 0, 0, 0});
        std::unique_ptr<unsigned char[]> exact(new unsigned char[bad.size()]);
        std::memcpy(exact.get(), bad.data(), bad.size());
        EXPECT_EQ(zvdbAssignRecordBuffer(r, exact.get(), int32_t(bad.size())), ZVDB_BAD_VARDATA) << prefix;
    }
    char text[8];
    EXPECT_EQ(zvdbGetFieldAsString(r, 0, text, sizeof text), 0);
    EXPECT_STREQ(text, "abcd");
}

// A damaged image met after the record took it (as a read from the file
// delivers it) leaves every field empty, pointing nowhere.
TEST_F(ImageTest, DamageFoundAtUnpackEmptiesTheSlots) {
    make_abcd();
    tagZVDBRECORD *r = record();
    fill(r);
    ASSERT_EQ(zvdbGetRecordLength(r), 12);
    r->buffer[7] = 200;
    EXPECT_EQ(_zvdbUpdateRecord(r, 0), ZVDB_BAD_VARDATA);
    for (int32_t i = 0; i < r->slotcount; i++) {
        EXPECT_EQ(r->slots[i].value, nullptr) << i;
        EXPECT_EQ(r->slots[i].curlength, 0u) << i;
    }
    int32_t a = -1;
    EXPECT_EQ(zvdbGetFieldAsSigned(r, 0, &a), 0);
    EXPECT_EQ(a, 0);
    EXPECT_EQ(zvdbSetFieldAsSigned(r, 0, 1), ZVDB_BAD_VARDATA);
}

TEST_F(ImageTest, FailedAllocationDuringPackKeepsImageAndValues) {
    make_abcd();
    tagZVDBRECORD *r = record();
    fill(r);
    ASSERT_EQ(zvdbGetRecordLength(r), 12);
    ASSERT_EQ(zvdbSetFieldAsString(r, 1, "a longer text"), 0);
    ASSERT_EQ(r->repack, 1);
    for (long n = 1;; n++) {
        SCOPED_TRACE(n);
        const std::vector<unsigned char> before(r->buffer, r->buffer + r->size);
        const int64_t blocks = live_blocks();
        mark();
        zv::fail_alloc_at(n);
        const int32_t length = zvdbGetRecordLength(r);
        zv::fail_alloc_at(0);
        if (length > 0) {
            EXPECT_EQ(length, 23);
            EXPECT_GT(n, 1);
            break;
        }
        ASSERT_LT(n, 10);
        EXPECT_EQ(last(), ZVDB_NO_MEMORY);
        EXPECT_EQ(live_blocks(), blocks);
        EXPECT_EQ(std::vector<unsigned char>(r->buffer, r->buffer + r->size), before);
        EXPECT_EQ(values(r), "7|a longer text||9");
    }
    EXPECT_EQ(values(r), "7|a longer text||9");
    EXPECT_EQ(image(r), bytes({7, 0, 0, 0, 'a', ' ', 'l', 'o', 'n', 'g', 'e', 'r', ' ', 't', 'e', 'x', 't', 0, 0,
                               9, 0, 0, 0}));
}

// Every field of a fixed-length table is placed again at each unpack: in
// the image the record holds now, at its full length, and never when the
// image does not reach its end.
TEST_F(ImageTest, FixedFieldsArePlacedInTheImageOfTheMoment) {
    make_table({{"n", ZV_INT4, 0}, {"s", ZV_FSTRING, 6}, {"b", ZV_BIGINT, 0}}, 0x200 | 0x400 | 64 | 32);
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetFieldAsString(r, 1, "ab"), 0);
    ASSERT_EQ(_zvdbUpdateRecord(r, 0), 0);
    EXPECT_EQ(zvdbGetFieldDataLength(r, 1), 6);
    // n 4, s "abcdef", padding to 16, b 7.
    std::vector<unsigned char> lent = bytes({4, 0, 0, 0, 'a', 'b', 'c', 'd', 'e', 'f', 0, 0, 0, 0, 0, 0,
                                             7, 0, 0, 0, 0, 0, 0, 0, 0xEE});
    ASSERT_EQ(zvdbSetRecordBuffer(r, lent.data(), int32_t(lent.size()), ZVDB_BUFFER_CALLER), 0);
    EXPECT_EQ(zvdbGetFieldAddress(r, 0), lent.data());
    EXPECT_EQ(zvdbGetFieldAddress(r, 2), lent.data() + 16);
    char text[8] = {};
    ZVBIGINT b = 0;
    ASSERT_EQ(zvdbGetFieldAsString(r, 1, text, sizeof text), 0);
    EXPECT_STREQ(text, "abcdef");
    ASSERT_EQ(zvdbGetFieldAsBigint(r, 2, &b), 0);
    EXPECT_EQ(b, 7);
    // An image that ends inside the last field places nothing.
    std::vector<unsigned char> shorter(lent.begin(), lent.begin() + 20);
    ASSERT_EQ(zvdbSetRecordBuffer(r, shorter.data(), int32_t(shorter.size()), ZVDB_BUFFER_CALLER | ZVDB_BUFFER_RAW),
              0);
    EXPECT_EQ(_zvdbUpdateRecord(r, 0), ZVDB_BAD_VARDATA);
    EXPECT_EQ(zvdbGetFieldAddress(r, 0), nullptr);
    EXPECT_EQ(zvdbGetFieldAddress(r, 2), nullptr);
    ASSERT_EQ(zvdbSetRecordBuffer(r, lent.data(), int32_t(lent.size()), ZVDB_BUFFER_CALLER | ZVDB_BUFFER_RAW), 0);
    ASSERT_EQ(_zvdbUpdateRecord(r, 0), 0);
    EXPECT_EQ(zvdbGetFieldAddress(r, 2), lent.data() + 16);
}

TEST_F(ImageTest, HotPathAllocatesNothing) {
    make_table({{"n", ZV_INT4, 0}, {"m", ZV_MONEY, 0}, {"s", ZV_FSTRING, 40}, {"v", ZV_STRING, 200}}, 64);
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetFieldAsString(r, 3, "12345"), 0);
    ASSERT_GT(zvdbGetRecordLength(r), 0);
    ASSERT_EQ(zvdbSetFieldAsString(r, 2, "678"), 0);
    const uint64_t allocs = zv::platform_alloc_count();
    int32_t v = 0;
    for (int i = 0; i < 100; i++) {
        ASSERT_EQ(_zvdbInitRecord(r), 0);
        ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, i), 0);
        ASSERT_EQ(zvdbSetFieldAsMoney(r, 1, i), 0);
        ASSERT_EQ(zvdbGetFieldAsSigned(r, 0, &v), 0);
        ASSERT_EQ(zvdbGetFieldAsSigned(r, 2, &v), 0);  // text of a fixed field
        ASSERT_EQ(zvdbGetFieldAsSigned(r, 3, &v), 0);  // text of a variable field
        EXPECT_EQ(r->repack, 0);
    }
    EXPECT_EQ(v, 12345);
    EXPECT_EQ(zv::platform_alloc_count(), allocs);
}

}  // namespace
}  // namespace rectest
