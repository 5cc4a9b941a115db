// Binary interface of the object layer: virtual slots, sizes and the
// exception's member offsets, read the way the g++ (Itanium) ABI lays them
// out, so that a change to the header that moves a slot fails here.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <type_traits>

#include "tests/objapi/objtest.h"

namespace {

// The vtable slot of a pointer to a virtual member function: its first word
// is 1 + the byte offset of the slot.
template <typename M>
long slot_of(M member) {
    struct {
        uintptr_t ptr;
        ptrdiff_t adj;
    } raw;
    static_assert(sizeof(member) == sizeof(raw));
    std::memcpy(&raw, &member, sizeof raw);
    if ((raw.ptr & 1) == 0) return -1;  // not virtual
    return long((raw.ptr - 1) / sizeof(void *));
}

TEST(Layout, BaseSlots) {
    struct Case {
        const char *name;
        long slot;
        long expected;
    } cases[] = {
        {"GetError", slot_of(&ZVBase::GetError), 2},
        {"SetError", slot_of(&ZVBase::SetError), 3},
        {"Begin", slot_of(&ZVBase::Begin), 6},
        {"SetSavePoint", slot_of(&ZVBase::SetSavePoint), 9},
        {"Lock", slot_of(&ZVBase::Lock), 13},
        {"Unlock", slot_of(&ZVBase::Unlock), 14},
        {"GetDefFloatFormat", slot_of(&ZVBase::GetDefFloatFormat), 23},
        {"GetHandleType", slot_of(&ZVBase::GetHandleType), 29},
        {"SetAutoCommit", slot_of(&ZVBase::SetAutoCommit), 37},
    };
    for (const Case &c : cases) EXPECT_EQ(c.slot, c.expected) << c.name;
    EXPECT_EQ(sizeof(ZVBase), 16u);
}

TEST(Layout, ExceptionSlotsAndMembers) {
    EXPECT_EQ(slot_of(&ZVException::GetErrorCode), 2);
    EXPECT_EQ(slot_of(&ZVException::GetErrorMsg), 3);
    EXPECT_EQ(slot_of(&ZVException::GetSourceFile), 4);
    EXPECT_EQ(slot_of(&ZVException::GetLineNbr), 5);
    ASSERT_EQ(sizeof(ZVException), 40u);

    const char *message = "m";
    const char *path = "a/b/zvppbase";
    ZVException e(5, message, path, 7);
    unsigned char raw[40];
    std::memcpy(raw, static_cast<const void *>(&e), sizeof raw);
    int32_t code, line;
    const char *msg, *src;
    std::memcpy(&code, raw + 8, 4);
    std::memcpy(&msg, raw + 16, 8);
    std::memcpy(&src, raw + 24, 8);
    std::memcpy(&line, raw + 32, 4);
    EXPECT_EQ(code, 5);
    EXPECT_EQ(msg, message);
    EXPECT_EQ(src, path + 4);
    EXPECT_EQ(line, 7);
}

// A class that adds one virtual function shows how many slots its base has.
template <typename Base>
struct Probe : Base {
    virtual void probe() {}
};

template <typename T>
void expect_destructor_only() {
    EXPECT_EQ(sizeof(T), 16u);
    EXPECT_TRUE(std::is_polymorphic_v<T>);
    EXPECT_TRUE(std::has_virtual_destructor_v<T>);
    EXPECT_TRUE(std::is_nothrow_destructible_v<T>);
    EXPECT_EQ(slot_of(&Probe<T>::probe), 2);
}

TEST(Layout, ValueAndStringClassesHaveOnlyTheirDestructors) {
    expect_destructor_only<ZVString>();
    expect_destructor_only<ZVJsonString>();
    expect_destructor_only<ZVBigint>();
    expect_destructor_only<ZVCurrency>();
    expect_destructor_only<ZVMoney>();
    expect_destructor_only<ZVNumber>();
    expect_destructor_only<ZVDate>();
    expect_destructor_only<ZVTime>();
    expect_destructor_only<ZVDateTime>();
    expect_destructor_only<ZVBlob>();
}

TEST(Layout, BaseAndExceptionHaveNoFurtherSlots) {
    EXPECT_EQ(slot_of(&Probe<ZVBase>::probe), 38);
    EXPECT_EQ(slot_of(&Probe<ZVException>::probe), 6);
    EXPECT_FALSE((std::is_base_of_v<std::exception, ZVException>));
    EXPECT_TRUE(std::is_nothrow_destructible_v<ZVException>);
    EXPECT_TRUE(std::is_nothrow_destructible_v<ZVBase>);
}

struct SlotCase {
    const char *name;
    long slot;
    long expected;
};

void expect_slots(std::initializer_list<SlotCase> cases) {
    for (const SlotCase &c : cases) EXPECT_EQ(c.slot, c.expected) << c.name;
}

TEST(Layout, SessionDatabaseAndSampleSlots) {
    expect_slots({
        {"ZVSession::Logon", slot_of(&ZVSession::Logon), 38},
        {"ZVSession::SetTempPath", slot_of(&ZVSession::SetTempPath), 88},
        {"ZVSession last", slot_of(&Probe<ZVSession>::probe), 89},
        {"ZVDatabase::IsActive", slot_of(&ZVDatabase::IsActive), 38},
        {"ZVDatabase::RenameTable", slot_of(&ZVDatabase::RenameTable), 66},
        {"ZVDatabase last", slot_of(&Probe<ZVDatabase>::probe), 67},
        {"ZVHelloWorld::HelloWorld", slot_of(&ZVHelloWorld::HelloWorld), 38},
        {"ZVHelloWorld last", slot_of(&Probe<ZVHelloWorld>::probe), 39},
    });
}

TEST(Layout, TableAndRecordSlots) {
    using SetOptionByName = void (ZVTable::*)(const ZVString &, unsigned short, ZVString &, unsigned);
    using FirstAddSegment = ZVSegment (ZVTable::*)(const ZVIndex &, const ZVField &, int);
    using LastInsertSegment = ZVSegment (ZVTable::*)(int, int, const ZVField &, int);
    expect_slots({
        {"ZVTable::IsActive", slot_of(&ZVTable::IsActive), 38},
        {"ZVTable::AddSegment first", slot_of(FirstAddSegment(&ZVTable::AddSegment)), 80},
        {"ZVTable::InsertSegment last", slot_of(LastInsertSegment(&ZVTable::InsertSegment)), 99},
        {"ZVTable::Alter", slot_of(&ZVTable::Alter), 102},
        {"ZVTable::SetFullTextIndexOption last",
         slot_of(SetOptionByName(&ZVTable::SetFullTextIndexOption)), 162},
        {"ZVTable last", slot_of(&Probe<ZVTable>::probe), 163},
        {"ZVRecord::First", slot_of(&ZVRecord::First), 38},
        {"ZVRecord::GetFullTextSearchErrorDetails",
         slot_of(&ZVRecord::GetFullTextSearchErrorDetails), 202},
        {"ZVRecord last", slot_of(&Probe<ZVRecord>::probe), 203},
    });
}

TEST(Layout, SchemaAndResourceSlots) {
    expect_slots({
        {"ZVField::operator=", slot_of(&ZVField::operator=), 38},
        {"ZVField::GetStatus", slot_of(&ZVField::GetStatus), 62},
        {"ZVIndex::AddJSONSegment", slot_of(&ZVIndex::AddJSONSegment), 66},
        {"ZVSegment::SetJSONField", slot_of(&ZVSegment::SetJSONField), 49},
        {"ZVFullTextIndex::GetName", slot_of(&ZVFullTextIndex::GetName), 46},
        {"ZVFullTextIndexDictionary::SetOption", slot_of(&ZVFullTextIndexDictionary::SetOption), 38},
        {"ZVResource::Unlock", slot_of(&ZVResource::Unlock), 2},
        {"ZVResource::SetData", slot_of(&ZVResource::SetData), 19},
        {"ZVField last", slot_of(&Probe<ZVField>::probe), 63},
        {"ZVIndex last", slot_of(&Probe<ZVIndex>::probe), 67},
        {"ZVSegment last", slot_of(&Probe<ZVSegment>::probe), 50},
        {"ZVFullTextIndex last", slot_of(&Probe<ZVFullTextIndex>::probe), 47},
        {"ZVFullTextIndexDictionary last", slot_of(&Probe<ZVFullTextIndexDictionary>::probe), 39},
        {"ZVResource last", slot_of(&Probe<ZVResource>::probe), 20},
    });
}

TEST(Layout, HandleClassSizesAndCopying) {
    EXPECT_EQ(sizeof(ZVSession), 24u);
    EXPECT_EQ(sizeof(ZVDatabase), 24u);
    EXPECT_EQ(sizeof(ZVHelloWorld), 24u);
    EXPECT_EQ(sizeof(ZVTable), 16u);
    EXPECT_EQ(sizeof(ZVRecord), 16u);
    EXPECT_EQ(sizeof(ZVField), 16u);
    EXPECT_EQ(sizeof(ZVIndex), 16u);
    EXPECT_EQ(sizeof(ZVSegment), 16u);
    EXPECT_EQ(sizeof(ZVFullTextIndex), 16u);
    EXPECT_EQ(sizeof(ZVFullTextIndexDictionary), 16u);
    EXPECT_EQ(sizeof(ZVResource), 16u);
    EXPECT_FALSE((std::is_base_of_v<ZVBase, ZVResource>));

    // Owners free their handle, so a copy would free it twice.
    EXPECT_FALSE(std::is_copy_constructible_v<ZVSession>);
    EXPECT_FALSE(std::is_copy_assignable_v<ZVSession>);
    EXPECT_FALSE(std::is_copy_constructible_v<ZVDatabase>);
    EXPECT_FALSE(std::is_copy_assignable_v<ZVDatabase>);
    EXPECT_FALSE(std::is_copy_constructible_v<ZVTable>);
    EXPECT_FALSE(std::is_copy_assignable_v<ZVTable>);
    EXPECT_FALSE(std::is_copy_constructible_v<ZVResource>);
    EXPECT_FALSE(std::is_copy_assignable_v<ZVResource>);
    EXPECT_FALSE(std::is_copy_constructible_v<ZVFullTextIndexDictionary>);
    EXPECT_FALSE(std::is_copy_assignable_v<ZVFullTextIndexDictionary>);
    // A record copy duplicates its handle; records are not assigned.
    EXPECT_TRUE(std::is_copy_constructible_v<ZVRecord>);
    EXPECT_FALSE(std::is_copy_assignable_v<ZVRecord>);
    // Borrowed handles copy freely.
    EXPECT_TRUE(std::is_copy_assignable_v<ZVField>);
    EXPECT_TRUE(std::is_copy_assignable_v<ZVIndex>);
    EXPECT_TRUE(std::is_copy_assignable_v<ZVSegment>);
    EXPECT_TRUE(std::is_copy_assignable_v<ZVFullTextIndex>);
}

TEST(Exception, Forms) {
    struct Case {
        ZVException e;
        int code;
        const char *message;
        const char *source;
        int line;
    } cases[] = {
        {ZVException(5, "m", "a/b/zvppbase", 7), 5, "m", "zvppbase", 7},
        {ZVException(5, "m", "/zvppbase", 7), 5, "m", "zvppbase", 7},
        {ZVException(6, "m", "zvppbase", 8), 6, "m", "", 8},
        {ZVException(4040), 4040, "", "", 0},
        {ZVException(4001, "no memory"), 4001, "no memory", "", 0},
        {ZVException(4002, "objapi/zvppstrg", 31), 4002, "", "zvppstrg", 31},
        {ZVException(1, nullptr, nullptr, 2), 1, "", "", 2},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.e.GetErrorCode(), c.code);
        EXPECT_STREQ(c.e.GetErrorMsg(), c.message);
        EXPECT_STREQ(c.e.GetSourceFile(), c.source);
        EXPECT_EQ(c.e.GetLineNbr(), c.line);
    }
}

TEST(Exception, CaughtByReferenceAfterAThrowByValue) {
    objtest::Thrown t = objtest::thrown_by([] { throw ZVException(12, "x", "p/q", 3); });
    EXPECT_TRUE(t.thrown);
    EXPECT_EQ(t.code, 12);
    EXPECT_EQ(t.source, "q");
    bool caught = false;
    try {
        ZVBigint(1) / ZVBigint(0);
    } catch (ZVException &e) {
        caught = e.GetErrorCode() == 4040;
    }
    EXPECT_TRUE(caught);
}

}  // namespace
