// Owned values of the object layer (numbers and blobs): copies are
// independent, empty blobs copy as empty blobs, and every failure leaves
// nothing leaked (AddressSanitizer checks the releases).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "engine/core/pools.h"
#include "tests/objapi/objtest.h"

namespace {

using objtest::bytes_of;
using objtest::text_of;
using objtest::Thrown;
using objtest::thrown_by;

TEST(Number, CopiesAndAssignmentsAreIndependent) {
    ZVNumber a(ZVString("1.5"));
    ZVNumber b(a);
    ZVNumber c;
    c = a;
    EXPECT_NE(b.AsNumber(), a.AsNumber());
    EXPECT_NE(c.AsNumber(), a.AsNumber());
    a.SetNumber(7);
    b.add(b, ZVNumber(1));
    EXPECT_EQ(text_of(a.AsString()), "7");
    EXPECT_EQ(text_of(b.AsString()), "2.5");
    EXPECT_EQ(text_of(c.AsString()), "1.5");
    c = c;
    EXPECT_EQ(text_of(c.AsString()), "1.5");
    ZVNumber d(a.AsNumber());
    EXPECT_NE(d.AsNumber(), a.AsNumber());
    EXPECT_TRUE(d == a);
}

TEST(Blob, CopiesAndAssignmentsAreIndependent) {
    ZVBlob a("abc", 3);
    ZVBlob b(a);
    ZVBlob c;
    c = a;
    ZVBlob d;
    d.SetBlob(a);
    a.UpdateBlob("X", 1, 0);
    b.Resize(5);
    // The used size becomes offset + size, also when that is smaller.
    EXPECT_EQ(bytes_of(a), "X");
    EXPECT_EQ(bytes_of(b), std::string("abc\0\0", 5));
    EXPECT_EQ(bytes_of(c), "abc");
    EXPECT_EQ(bytes_of(d), "abc");
    c = c;
    EXPECT_EQ(bytes_of(c), "abc");
}

// An empty blob copies as an empty blob; the target loses its bytes.
TEST(Blob, EmptyBlobsCopy) {
    const ZVBlob empty;
    struct Case {
        const char *name;
        std::function<void(ZVBlob &)> copy;
    } cases[] = {
        {"set from blob", [&](ZVBlob &b) { b.SetBlob(empty); }},
        {"assign", [&](ZVBlob &b) { b = empty; }},
        {"set from record", [&](ZVBlob &b) {
             tagZVBLOB record = {0, nullptr, 0};
             b.SetBlob(&record);
         }},
        {"assign record", [&](ZVBlob &b) {
             tagZVBLOB record = {0, nullptr, 0};
             b = &record;
         }},
    };
    Thrown t = thrown_by([&] {
        ZVBlob copy(empty);
        EXPECT_EQ(copy.GetSize(), 0);
        EXPECT_TRUE(copy == empty);
    });
    EXPECT_FALSE(t.thrown) << "copy constructor: " << t.message;
    for (const auto &c : cases) {
        ZVBlob target("xyz", 3);
        t = thrown_by([&] { c.copy(target); });
        EXPECT_FALSE(t.thrown) << c.name << ": " << t.message;
        EXPECT_EQ(target.GetSize(), 0) << c.name;
        EXPECT_TRUE(target == empty) << c.name;
    }
}

TEST(Blob, GetBlobIntoARecord) {
    tagZVBLOB *out = zvdbBlobAlloc(4);
    ASSERT_NE(out, nullptr);
    ZVBlob("hello", 5).GetBlob(out);
    EXPECT_EQ(zvdbBlobGetSize(out), 5);
    EXPECT_EQ(std::memcmp(zvdbBlobGetData(out), "hello", 5), 0);
    // An empty blob leaves the target without bytes, and does not throw.
    EXPECT_FALSE(thrown_by([&] { ZVBlob().GetBlob(out); }).thrown);
    EXPECT_EQ(zvdbBlobGetSize(out), 0);
    EXPECT_EQ(zvdbBlobGetData(out), nullptr);
    zvdbBlobFree(out);
}

TEST(Blob, GetBlobHandsOutACopyAndFreesTheOldBlock) {
    void *data = _zvdb_alloc(8, 1);
    int size = 8;
    const ZVBlob ab("ab", 2), empty;
    uint64_t frees = zv::platform_free_count();
    ab.GetBlob(data, size);
    EXPECT_EQ(zv::platform_free_count(), frees + 1);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(size, 2);
    EXPECT_EQ(std::memcmp(data, "ab", 2), 0);
    empty.GetBlob(data, size);
    EXPECT_EQ(zv::platform_free_count(), frees + 2);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0);
}

TEST(Blob, UpdateResizeAndText) {
    ZVBlob b(std::string(10, 'a').c_str(), 10);
    b.UpdateBlob("Z", 1, 2);
    EXPECT_EQ(bytes_of(b), "aaZ");
    b.UpdateBlob("xy", 2, 5);
    EXPECT_EQ(bytes_of(b), std::string("aaZaaxy"));
    b.UpdateBlob("!", 1, 20);
    EXPECT_EQ(b.GetSize(), 21);
    EXPECT_EQ(bytes_of(b).substr(10), std::string(10, '\0') + "!");
    b.Resize(2);
    EXPECT_EQ(bytes_of(b), "aa");
    b.Resize(0);
    EXPECT_EQ(b.GetSize(), 0);
    b.UpdateBlob("q", 1, 0);
    EXPECT_EQ(bytes_of(b), "q");

    ZVBlob text(ZVString("hi"));
    EXPECT_EQ(bytes_of(text), std::string("hi\0", 3));
    ZVString s("old");
    ZVBlob("a\0b", 3).AsString(s);
    EXPECT_EQ(s.Length(), 1);
    EXPECT_EQ(std::memcmp(s.c_str(), "a\0b", 4), 0);
    ZVBlob().AsString(s);
    EXPECT_STREQ(s.c_str(), "");
}

TEST(Blob, OrderShorterFirstThenBytes) {
    ZVBlob ab("ab", 2), b("b", 1), ac("ac", 2), empty;
    EXPECT_TRUE(b < ab);
    EXPECT_TRUE(ab < ac);
    EXPECT_TRUE(empty < b);
    EXPECT_TRUE(ac >= ab && ac > ab && ab <= ab && ab != ac);
    EXPECT_TRUE(ab == ZVBlob("ab", 2));
}

// A failed update leaves the blob as it was.
TEST(Blob, RefusedUpdateWritesNothing) {
    ZVBlob b("abc", 3);
    for (int offset : {-1, -100})
        EXPECT_EQ(thrown_by([&] { b.UpdateBlob("zz", 2, offset); }).code, 4004);
    EXPECT_EQ(thrown_by([&] { b.UpdateBlob("zz", 2, INT32_MAX - 1); }).code, 4004);
    EXPECT_EQ(bytes_of(b), "abc");
}

class ValueMemory : public ::testing::Test {
protected:
    void TearDown() override { zv::fail_alloc_at(0); }
};

// Allocation n fails for each n until the call succeeds; each failure
// throws its code and message and leaks nothing.
TEST_F(ValueMemory, FailedAllocations) {
    const ZVBlob blob("x", 1);
    const ZVString text("t");
    tagZVBLOB record = {1, const_cast<char *>("r"), 1};
    const objtest::ThrowCase cases[] = {
        {"blob", [] { ZVBlob b; }, 4001, "Error constructing a blob object", "zvppblob", 49},
        {"blob of data", [] { ZVBlob b("abc", 3); }, 4001, "Error constructing a blob object", "zvppblob", 64},
        {"blob of text", [&] { ZVBlob b(text); }, 4001, "Error constructing a blob object", "zvppblob", 80},
        {"blob of record", [&] { ZVBlob b(&record); }, 4001, "Error constructing a blob object", "zvppblob", 96},
        {"blob copy", [&] { ZVBlob b(blob); }, 4001, "Error constructing a blob object", "zvppblob", 112},
        {"number", [] { ZVNumber n(3); }, 4001, "Can't allocate number", "zvppnumb", -1},
        {"number sum", [] { ZVNumber(1) + ZVNumber(2); }, 4001, "Can't allocate number", "zvppnumb", -1},
        {"json", [] { ZVJsonString j("{}"); }, 4001, "Can't allocate memory for ZVString object", "zvppstrg", -1},
    };
    for (const auto &c : cases) {
        Thrown t;
        for (long n = 1; n < 20; n++) {
            zv::fail_alloc_at(n);
            t = thrown_by(c.call);
            zv::fail_alloc_at(0);
            if (!t.thrown) break;
            if (n == 1) {
                objtest::expect_thrown(t, c);
            } else {
                EXPECT_EQ(t.code, 4001) << c.name << " at " << n << ": " << t.message;
            }
        }
        EXPECT_FALSE(t.thrown) << c.name;
    }
}

TEST_F(ValueMemory, BlobCopiesThatCannotAllocate) {
    struct Case {
        const char *name;
        std::function<void(ZVBlob &)> call;
        const char *message;
        int line;
    } cases[] = {
        {"get copy", [](ZVBlob &b) {
             void *data = nullptr;
             int size = 0;
             b.GetBlob(data, size);
         },
         "Can't allocate blob data", 296},
        {"resize", [](ZVBlob &b) { b.Resize(100); }, "Can't allocate blob data", 462},
        {"update", [](ZVBlob &b) { b.UpdateBlob("x", 1, 100); }, "Can't allocate blob data", 393},
        {"set", [](ZVBlob &b) { b.SetBlob("0123456789", 10); }, "Can't set blob", 356},
    };
    for (const auto &c : cases) {
        ZVBlob target("abcdef", 6);
        zv::fail_alloc_at(1);
        Thrown t = thrown_by([&] { c.call(target); });
        zv::fail_alloc_at(0);
        EXPECT_EQ(t.code, 4001) << c.name;
        EXPECT_EQ(t.message, c.message) << c.name;
        EXPECT_EQ(t.line, c.line) << c.name;
        if (std::string(c.name) != "set") {
            EXPECT_EQ(bytes_of(target), "abcdef") << c.name;
        }
    }
}

}  // namespace
