// Field extensions, default bytes and pad characters kept in a table's
// data file: the stored bytes against hand-written images, every layout
// version the reader takes, reads bounded by the resources, write faults
// through the I/O seam, and padding and trimming.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

#include "engine/core/platform.h"
#include "tests/recapi/schema/tablefiles.h"
#include "tests/support/tablebind.h"

namespace {

using schematest::Bytes;
using schematest::Image;

class FldxTest : public schematest::TableFileTest {
protected:
    ZVHANDLE field_named(const char *name) { return zvdbGetFieldByName(table_, name); }
    // A field's literal default as text ("<kind n>" for another kind).
    std::string default_of(const char *name) {
        ZVHANDLE f = field_named(name);
        int32_t kind = zvdbGetFieldDefaultValueType(f);
        if (kind != 1) return "<kind " + std::to_string(kind) + ">";
        int32_t n = 0;
        const void *bytes = zvdbGetFieldDefaultValue(f, &n);
        return std::string(static_cast<const char *>(bytes), size_t(n));
    }
    // Null flag, precision, scale and binary flag of a field.
    std::vector<int32_t> attributes(const char *name) {
        ZVHANDLE f = field_named(name);
        return {zvdbGetFieldNullFlag(f), zvdbGetFieldPrecision(f), zvdbGetFieldScale(f),
                zvdbGetFieldBinaryFlag(f)};
    }
    // The fixture's fields: id precision 12 and scale 3; qty nullable with
    // the literal default "hello"; name with binary flag 0 and default
    // kind 2.
    void set_attributes() {
        ASSERT_EQ(zvdbSetFieldPrecision(field_named("id"), 12), 0);
        ASSERT_EQ(zvdbSetFieldScale(field_named("id"), 3), 0);
        ASSERT_EQ(zvdbSetFieldNullFlag(field_named("qty"), 1), 0);
        ASSERT_EQ(zvdbSetFieldDefaultValue(field_named("qty"), "hello", 5), 0);
        ASSERT_EQ(zvdbSetFieldBinaryFlag(field_named("name"), 0), 0);
        ASSERT_EQ(zvdbSetFieldDefaultValueType(field_named("name"), 2), 0);
    }
    // A "QV!DFLD" record header of type and version.
    static Image fldx_head(uint32_t type, uint32_t version) {
        Image i;
        i.host32(type).host32(1).text("QV!DFLD", 8).le32(version);
        return i;
    }
    // An entry: null flag, precision, scale, binary flag, default length
    // and kind, then zeros.
    static void entry(Image &i, uint16_t null, uint16_t precision, uint16_t scale, uint16_t binary,
                      uint32_t deflength = 0, uint16_t kind = 0) {
        i.le16(null).le16(precision).le16(scale).le16(binary).le32(deflength).le16(kind).u8(0, 18);
    }
    // The read of an absent "QV!DPAD" gives `code`, and loading the pad
    // characters from it leaves the handle's bytes.
    void expect_no_pad_record(int code) {
        ASSERT_EQ(zvdbSetPadChar(table_, 'q', 'r'), 0);
        unsigned char buffer[256];
        EXPECT_EQ(_zvdbGetPadResource(table_, buffer, 0), code);
        EXPECT_EQ(_zvdbReadPadChar(table_), 0);
        unsigned char pad = 0, delimiter = 0;
        ASSERT_EQ(zvdbGetPadChar(table_, &pad, &delimiter), 0);
        EXPECT_EQ(pad, 'q');
        EXPECT_EQ(delimiter, 'r');
    }
    static Bytes defaults_record(const char *bytes) {
        return Image().host32(1).host32(4).text("QV!DFL2", 8).le32(0).text(bytes).bytes();
    }
};

// The stored image of the attributes set by set_attributes.
Bytes expected_fldx() {
    Image i;
    i.host32(1).host32(1).text("QV!DFLD", 8).le32(6);
    i.le16(0).le16(12).le16(3).le16(1).le32(0).le16(0).u8(0, 18);
    i.le16(1).le16(4).le16(0).le16(1).le32(5).le16(1).u8(0, 18);
    i.le16(0).le16(16).le16(0).le16(0).le32(0).le16(2).u8(0, 18);
    return i.bytes();
}

TEST_F(FldxTest, WritesFieldExtensionsAndDefaultBytesByteForByte) {
    bind_fixture();
    set_attributes();
    ASSERT_EQ(_zvdbPutFldx(table_), 0);
    const schematest::Raw fldx = raw(1, 1);
    ASSERT_EQ(fldx.code, 0);
    EXPECT_EQ(fldx.bytes.size(), 116u);
    EXPECT_EQ(fldx.bytes, expected_fldx());
    const schematest::Raw defaults = raw(1, 4);
    ASSERT_EQ(defaults.code, 0);
    EXPECT_EQ(defaults.bytes, defaults_record("hello"));
}

TEST_F(FldxTest, NoDefaultWritesNoDefaultsRecord) {
    bind_fixture();
    ASSERT_EQ(zvdbSetFieldDefaultValueType(field_named("name"), 3), 0);
    ASSERT_EQ(_zvdbPutFldx(table_), 0);
    EXPECT_EQ(raw(1, 1).bytes.size(), 116u);
    EXPECT_EQ(raw(1, 4).code, 408);
    void *buffer = _zvdbAllocFldx(table_);
    EXPECT_NE(buffer, nullptr);
    _zvdb_free(buffer);
    EXPECT_EQ(_zvdbAllocFldx(session_), nullptr);
    EXPECT_EQ(_zvdbPutFldx(session_), ZVDB_NO_TABLE);
}

TEST_F(FldxTest, ReadsEveryAttributeAndDefaultBackAfterReopen) {
    bind_fixture();
    set_attributes();
    ASSERT_EQ(_zvdbPutFldx(table_), 0);
    reopen();
    EXPECT_EQ(attributes("id"), (std::vector<int32_t>{0, 4, 0, 1}));
    ASSERT_EQ(_zvdbGetFldx(table_), 0);
    EXPECT_EQ(attributes("id"), (std::vector<int32_t>{0, 12, 3, 1}));
    EXPECT_EQ(attributes("qty"), (std::vector<int32_t>{1, 4, 0, 1}));
    EXPECT_EQ(attributes("name"), (std::vector<int32_t>{0, 16, 0, 0}));
    EXPECT_EQ(default_of("id"), "<kind 0>");
    EXPECT_EQ(default_of("qty"), "hello");
    EXPECT_EQ(default_of("name"), "<kind 2>");
    for (const char *name : {"id", "qty", "name"}) EXPECT_EQ(zvdbGetFieldStatus(field_named(name)), 0u) << name;
    EXPECT_EQ(table_->defaultedfields, 2);
}

TEST_F(FldxTest, VersionFourRestoresFourAttributesAndNoDefault) {
    bind_fixture();
    Image i = fldx_head(1, 4);
    entry(i, 1, 7, 2, 5, 3, 1);
    entry(i, 0, 8, 1, 6);
    entry(i, 1, 9, 0, 7, 2, 1);
    ASSERT_EQ(put_raw(i.bytes()), 0);
    ASSERT_EQ(put_raw(defaults_record("abcde")), 0);
    ASSERT_EQ(_zvdbGetFldx(table_), 0);
    EXPECT_EQ(attributes("id"), (std::vector<int32_t>{1, 7, 2, 5}));
    EXPECT_EQ(attributes("qty"), (std::vector<int32_t>{0, 8, 1, 6}));
    EXPECT_EQ(attributes("name"), (std::vector<int32_t>{1, 9, 0, 7}));
    for (const char *name : {"id", "qty", "name"}) EXPECT_EQ(default_of(name), "<kind 0>") << name;
}

TEST_F(FldxTest, VersionFiveTakesNonZeroLengthsAsLiteralsInTurn) {
    bind_fixture();
    Image i = fldx_head(1, 5);
    entry(i, 0, 4, 0, 1, 3, 2);
    entry(i, 0, 4, 0, 1, 0, 2);
    entry(i, 0, 16, 0, 1, 2, 0);
    ASSERT_EQ(put_raw(i.bytes()), 0);
    ASSERT_EQ(put_raw(defaults_record("abcde")), 0);
    ASSERT_EQ(_zvdbGetFldx(table_), 0);
    EXPECT_EQ(default_of("id"), "abc");
    EXPECT_EQ(default_of("qty"), "<kind 0>");
    EXPECT_EQ(default_of("name"), "de");
}

TEST_F(FldxTest, TheOtherTypeIsReadWhenTypeOneIsAbsent) {
    bind_fixture();
    Image i = fldx_head(0x0F000000, 6);
    entry(i, 1, 11, 0, 1);
    entry(i, 0, 4, 0, 1, 0, 4);
    entry(i, 0, 16, 0, 1);
    ASSERT_EQ(put_raw(i.bytes()), 0);
    ASSERT_EQ(_zvdbGetFldx(table_), 0);
    EXPECT_EQ(attributes("id"), (std::vector<int32_t>{1, 11, 0, 1}));
    EXPECT_EQ(default_of("qty"), "<kind 4>");
}

TEST_F(FldxTest, VersionTwoWalksTheSchemaPastTheHiddenFields) {
    const DATOBJ schema[4] = {{"$DELFLD$", 0, ZV_ARRAY, 5, 0, 0},
                              {"$NULFLD$", 0, ZV_ARRAY, 1, 0, 0},
                              {"a", 0, ZV_INT4, 4, 0, 0},
                              {"b", 0, ZV_INT4, 4, 0, 0}};
    bind_schema(schema, 4, 16);
    Image i = fldx_head(1, 2);
    entry(i, 1, 30, 30, 9);
    entry(i, 1, 31, 31, 9);
    entry(i, 1, 5, 1, 9);
    entry(i, 0, 6, 2, 9);
    ASSERT_EQ(put_raw(i.bytes()), 0);
    ASSERT_EQ(_zvdbGetFldx(table_), 0);
    EXPECT_EQ(attributes("a"), (std::vector<int32_t>{1, 5, 1, 1}));
    EXPECT_EQ(attributes("b"), (std::vector<int32_t>{0, 6, 2, 1}));
}

TEST_F(FldxTest, ReadsStayWithinTheBytesOfShortRecords) {
    bind_fixture();
    // One whole entry and part of a second for three fields; the first
    // announces ten default bytes where the defaults record holds four.
    Image i = fldx_head(1, 6);
    entry(i, 1, 12, 0, 1, 10, 1);
    i.le16(1).le16(99).le16(99);
    ASSERT_EQ(put_raw(i.bytes()), 0);
    ASSERT_EQ(put_raw(defaults_record("wxyz")), 0);
    ASSERT_EQ(_zvdbGetFldx(table_), 0);
    EXPECT_EQ(attributes("id"), (std::vector<int32_t>{1, 12, 0, 1}));
    EXPECT_EQ(default_of("id"), "<kind 0>");
    EXPECT_EQ(attributes("qty"), (std::vector<int32_t>{0, 4, 0, 1}));
    EXPECT_EQ(attributes("name"), (std::vector<int32_t>{0, 16, 0, 1}));
}

TEST_F(FldxTest, PadCharactersAreAddedThenRewrittenInPlace) {
    bind_fixture();
    ASSERT_EQ(zvdbUpdatePadChar(table_, ' ', 0), 0);
    const schematest::Raw added = raw(1, 2);
    ASSERT_EQ(added.code, 0);
    EXPECT_EQ(added.bytes, Image()
                               .host32(1).host32(2).text("QV!DPAD", 8).le32(2)
                               .host32(0).host32(0).le32(0x20).le32(0).u8(0, 220).bytes());

    ASSERT_EQ(zvdbUpdatePadChar(table_, '*', '|'), 0);
    const schematest::Raw updated = raw(1, 2);
    ASSERT_EQ(updated.code, 0);
    EXPECT_EQ(updated.pos, added.pos);
    EXPECT_EQ(updated.bytes, Image()
                                 .host32(1).host32(2).text("QV!DPAD", 8).le32(2)
                                 .host32(uint32_t(added.pos >> 32)).host32(uint32_t(added.pos))
                                 .le32('*').le32('|').u8(0, 220).bytes());
    unsigned char pad = 1, delimiter = 1;
    ASSERT_EQ(zvdbGetPadChar(table_, &pad, &delimiter), 0);
    EXPECT_EQ(pad, 0) << "the handle's bytes are not changed";

    uint32_t words[64];
    ASSERT_EQ(_zvdbGetPadResource(table_, words, 0), 0);
    EXPECT_EQ(words[4], 2u);
    EXPECT_EQ((uint64_t(words[5]) << 32) | words[6], added.pos);
    EXPECT_EQ(words[7], uint32_t('*'));
    EXPECT_EQ(words[8], uint32_t('|'));
    ASSERT_EQ(_zvdbReadPadChar(table_), 0);
    ASSERT_EQ(zvdbGetPadChar(table_, &pad, &delimiter), 0);
    EXPECT_EQ(pad, '*');
    EXPECT_EQ(delimiter, '|');
    EXPECT_EQ(_zvdbGetPadResource(table_, nullptr, 0), ZVDB_NULL_ARGUMENT);
}

TEST_F(FldxTest, TheCallersPadRecordIsHandedBackUnchanged) {
    bind_fixture();
    uint32_t record[64] = {};
    std::memcpy(record, Image().host32(1).host32(2).text("QV!DPAD", 8).bytes().data(), 16);
    record[4] = 2;
    record[7] = '#';
    record[8] = ';';
    uint32_t copy[64];
    std::memcpy(copy, record, sizeof record);
    ASSERT_EQ(_zvdbAddPadResource(table_, record), 0);
    EXPECT_EQ(std::memcmp(record, copy, sizeof record), 0);
    record[7] = '!';
    std::memcpy(copy, record, sizeof record);
    ASSERT_EQ(_zvdbUpdPadResource(table_, record), 0);
    EXPECT_EQ(std::memcmp(record, copy, sizeof record), 0);
    const schematest::Raw stored = raw(1, 2);
    EXPECT_EQ(Bytes(stored.bytes.begin() + 28, stored.bytes.begin() + 36), Image().le32('!').le32(';').bytes());
    EXPECT_EQ(_zvdbAddPadResource(table_, nullptr), ZVDB_NULL_ARGUMENT);
}

TEST_F(FldxTest, AMissingPadRecordLeavesTheBytes) {
    bind_fixture();
    expect_no_pad_record(408);
}

TEST_F(FldxTest, AFileWithoutResourcesReadsAsNoPadRecord) {
    bind_bare();
    expect_no_pad_record(401);
    EXPECT_EQ(zvdbUpdatePadChar(table_, ' ', 0), 401);
    EXPECT_EQ(last(), 401);
}

// Fails the nth write of the operation, for n = 1, 2, ... until it
// completes: every failure is reported, and after a reopen the resource
// read by `check` is as before or as after.
class FldxFaultTest : public FldxTest {
protected:
    void sweep(const std::function<void()> &prepare, const std::function<int()> &op,
               const std::function<void(bool done)> &check) {
        static const DATOBJ schema[3] = {{"id", 0, ZV_INT4, 4, 0, 0},
                                         {"qty", 0, ZV_INT4, 4, 0, 0},
                                         {"name", 0, ZV_FSTRING, 16, 0, 0}};
        bind_schema(schema, 3, 24, 0x40);
        prepare();
        ASSERT_EQ(zvtest::unbind_table(table_), 0);
        bound_ = false;
        zvtest::save_template();
        int failed = 0;
        bool done = false;
        for (long n = 1; !done && n < 200; n++) {
            zvtest::restore_template();
            ASSERT_EQ(zvtest::open_table(table_, "cust"), 0);
            bound_ = true;
            prepare_fields();
            zv::fault_reset();
            zv::fault_set(zv::IoKind::Write, n, EIO);
            const int rc = op();
            const bool met = zv::io_calls(zv::IoKind::Write) >= n;
            zv::fault_reset();
            if (met) {
                EXPECT_NE(rc, 0) << "write " << n;
                failed++;
            } else {
                EXPECT_EQ(rc, 0);
                done = true;
            }
            zvtest::unbind_table(table_);
            bound_ = false;
            ASSERT_EQ(zvtest::open_table(table_, "cust"), 0);
            bound_ = true;
            check(!met);
            ASSERT_EQ(zvtest::unbind_table(table_), 0);
            bound_ = false;
        }
        EXPECT_TRUE(done);
        EXPECT_GT(failed, 0);
    }
    // Attributes of the fields after each reopen of the sweep.
    std::function<void()> prepare_fields = [] {};
};

TEST_F(FldxFaultTest, APadRewriteLeavesTheOldOrTheNewBytes) {
    Bytes old;
    sweep([&] {
        ASSERT_EQ(zvdbUpdatePadChar(table_, 'x', '|'), 0);
        old = raw(1, 2).bytes;
    },
          [&] { return zvdbUpdatePadChar(table_, ' ', 0); },
          [&](bool done) {
              const schematest::Raw now = raw(1, 2);
              ASSERT_EQ(now.code, 0);
              const Bytes fresh = Image()
                                      .host32(1).host32(2).text("QV!DPAD", 8).le32(2)
                                      .host32(uint32_t(now.pos >> 32)).host32(uint32_t(now.pos))
                                      .le32(' ').le32(0).u8(0, 220).bytes();
              EXPECT_TRUE(now.bytes == fresh || (!done && now.bytes == old));
          });
}

TEST_F(FldxFaultTest, APadAddLeavesNoneOrTheNewBytes) {
    sweep([] {}, [&] { return zvdbUpdatePadChar(table_, ' ', 0); },
          [&](bool done) {
              const schematest::Raw now = raw(1, 2);
              const Bytes fresh = Image()
                                      .host32(1).host32(2).text("QV!DPAD", 8).le32(2)
                                      .host32(0).host32(0).le32(' ').le32(0).u8(0, 220).bytes();
              if (now.code == 408 && !done) return;
              ASSERT_EQ(now.code, 0);
              EXPECT_EQ(now.bytes, fresh);
          });
}

TEST_F(FldxFaultTest, FieldExtensionsAreWholeOrAbsent) {
    prepare_fields = [&] { set_attributes(); };
    sweep([] {}, [&] { return _zvdbPutFldx(table_); },
          [&](bool done) {
              const schematest::Raw fldx = raw(1, 1);
              const schematest::Raw defaults = raw(1, 4);
              if (!done && fldx.code == 408) {
                  EXPECT_EQ(defaults.code, 408);
                  return;
              }
              ASSERT_EQ(fldx.code, 0);
              EXPECT_EQ(fldx.bytes, expected_fldx());
              if (!done && defaults.code == 408) return;
              ASSERT_EQ(defaults.code, 0);
              EXPECT_EQ(defaults.bytes, defaults_record("hello"));
          });
}

struct PadCase {
    int32_t size, used;
    const char *before;  // size bytes
    const char *after;
};

TEST(PadFieldTest, PadsFromTheUsedLengthAndEndsWithTheDelimiter) {
    const PadCase cases[] = {
        {10, 3, "abcdefghij", "abc      \0"},
        {10, 9, "abcdefghij", "abcdefghi\0"},
        {10, 0, "abcdefghij", "         \0"},
        {10, 10, "abcdefghij", "abcdefghij"},
        {10, -1, "abcdefghij", "abcdefghij"},
        {0, 0, "", ""},
    };
    for (const PadCase &c : cases) {
        char buffer[16] = {};
        std::memcpy(buffer, c.before, size_t(c.size));
        EXPECT_EQ(_zvdbPadField(buffer, c.size, c.used, ' ', 0), 0);
        EXPECT_EQ(std::string(buffer, size_t(c.size)), std::string(c.after, size_t(c.size)))
            << c.size << " " << c.used;
    }
    EXPECT_EQ(_zvdbPadField(nullptr, 10, 3, ' ', 0), ZVDB_NULL_ARGUMENT);
}

struct TrimCase {
    const char *before;  // 10 bytes
    const char *after;
    int32_t length;      // -1: not written
};

TEST(PadFieldTest, TrimsThePadBeforeTheDelimiterOnly) {
    const TrimCase cases[] = {
        {"abc      \0", "abc\0     \0", 3},
        {"         \0", "\0        \0", 0},
        {"abc     x\0", "abc     x\0", 9},
        {"abc      x", "abc      x", -1},
    };
    for (const TrimCase &c : cases) {
        char buffer[10];
        std::memcpy(buffer, c.before, 10);
        int32_t length = -1;
        EXPECT_EQ(_zvdbTrimField(buffer, 10, &length, ' ', 0), 0);
        EXPECT_EQ(std::string(buffer, 10), std::string(c.after, 10)) << c.before;
        EXPECT_EQ(length, c.length) << c.before;
    }
    char padded[10];
    std::memcpy(padded, "abc      \0", 10);
    EXPECT_EQ(_zvdbPadField(padded, 10, 3, ' ', 0), 0);
    EXPECT_EQ(_zvdbTrimField(padded, 10, nullptr, ' ', 0), 0);
    EXPECT_STREQ(padded, "abc");
    EXPECT_EQ(_zvdbTrimField(nullptr, 10, nullptr, ' ', 0), ZVDB_NULL_ARGUMENT);
}

}  // namespace
