// Handle kinds, resolution to owners with the instance switch, the last
// result code, the caller's tags and the links of the handle tree.
#include <cstring>
#include <map>
#include <memory>

#include "engine/core/pools.h"
#include "recapi/base/wrappers.h"
#include "tests/recapi/base/basefix.h"

namespace {

using basetest::BaseTest;
using basetest::Tree;
using HandlesTest = BaseTest;

TEST_F(HandlesTest, KindsOfHandles) {
    Tree t;
    // A block of two bytes holding a kind past the last: only the kind is read.
    auto beyond = std::make_unique<uint16_t>(3517);
    struct Case {
        const char *what;
        void *h;
        int type, id;
    } cases[] = {
        {"session", t.sb, 3505, 3505},       {"database", t.db, 3506, 3506},
        {"table", t.table, 3507, 3507},      {"record", t.record, 3508, 3508},
        {"index", t.index, 3509, 3509},      {"field", t.field, 3510, 3510},
        {"segment", t.segment, 3511, 0},     {"resource", t.resource, 0, 0},
        {"result set", t.resultset, 3513, 0}, {"criterion", t.criterion, 3514, 0},
        {"full-text index", t.fti, 0, 0},    {"full-text dictionary", t.dict, 0, 0},
        {"NULL", nullptr, 0, 0},             {"3517", beyond.get(), 0, 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(zvdbGetHandleType(c.h), c.type) << c.what;
        EXPECT_EQ(_zvdbGetHandleId(c.h), c.id) << c.what;
    }
    EXPECT_EQ(_zvdbSelectHandle(beyond.get(), ZVDB_SESSION_HANDLE), nullptr);
}

TEST_F(HandlesTest, EachHandleResolvesToItsOwners) {
    Tree t;
    using Owners = std::map<int, void *>;
    struct Case {
        const char *what;
        void *h;
        Owners owners;  // every owner reachable, the handle itself included
    } cases[] = {
        {"session", t.sb, {{3505, t.sb}}},
        {"database", t.db, {{3505, t.sb}, {3506, t.db}}},
        {"table", t.table, {{3505, t.sb}, {3506, t.db}, {3507, t.table}}},
        {"free table", t.freetable, {{3505, t.sb}, {3507, t.freetable}}},
        {"record", t.record, {{3505, t.sb}, {3506, t.db}, {3507, t.table}, {3508, t.record}}},
        {"index", t.index, {{3505, t.sb}, {3506, t.db}, {3507, t.table}, {3509, t.index}}},
        {"field", t.field, {{3505, t.sb}, {3506, t.db}, {3507, t.table}, {3510, t.field}}},
        {"segment", t.segment, {{3505, t.sb}, {3506, t.db}, {3507, t.table}, {3509, t.index}, {3511, t.segment}}},
        {"resource", t.resource, {{3505, t.sb}, {3506, t.db}, {3507, t.table}}},
        {"result set", t.resultset, {{3505, t.sb}, {3506, t.db}, {3507, t.table}, {3513, t.resultset}}},
        {"criterion",
         t.criterion,
         {{3505, t.sb}, {3506, t.db}, {3507, t.table}, {3510, t.field}, {3513, t.resultset}, {3514, t.criterion}}},
        {"full-text index", t.fti, {{3505, t.sb}, {3506, t.db}, {3507, t.table}, {3515, t.fti}, {3516, t.dict}}},
        {"full-text dictionary", t.dict, {{3505, t.sb}, {3516, t.dict}}},
        {"index without table", t.orphanindex, {{3509, t.orphanindex}}},
        {"segment of it", t.orphansegment, {{3509, t.orphanindex}, {3511, t.orphansegment}}},
    };
    for (const Case &c : cases) {
        for (int wanted = 3504; wanted <= 3517; wanted++) {
            auto it = c.owners.find(wanted);
            void *expect = it == c.owners.end() ? nullptr : it->second;
            EXPECT_EQ(_zvdbSelectHandle(c.h, wanted), expect) << c.what << " wanted " << wanted;
        }
    }
    EXPECT_EQ(_zvdbSelectHandle(nullptr, ZVDB_SESSION_HANDLE), nullptr);

    // The public accessors are the same resolution.
    struct Accessor {
        ZVHANDLE (*get)(ZVHANDLE);
        void *expect;
    } accessors[] = {
        {zvdbGetSessionHandle, t.sb},         {zvdbGetDatabaseHandle, t.db},
        {zvdbGetTableHandle, t.table},        {zvdbGetFieldHandle, t.field},
        {zvdbGetResultSetHandle, t.resultset}, {zvdbGetResultSetCriHandle, t.criterion},
    };
    for (const Accessor &a : accessors) EXPECT_EQ(a.get(t.criterion), a.expect);
    EXPECT_EQ(zvdbGetIndexHandle(t.segment), t.index);
    EXPECT_EQ(zvdbGetSegmentHandle(t.segment), t.segment);
    EXPECT_EQ(zvdbGetFTIHandle(t.fti), t.fti);
    EXPECT_EQ(zvdbGetFTIDictHandle(t.fti), t.dict);
    EXPECT_EQ(zvdbGetTableHandle(t.sb), nullptr);
}

TEST_F(HandlesTest, ResolvingMakesTheSessionsInstanceCurrent) {
    Tree t;
    std::string own = basetest::instance_name_of(t.sb);
    ASSERT_STREQ(t.sb->instname, own.c_str());
    ASSERT_EQ(REGZARVO("other"), 0);
    ASSERT_STREQ(WCHZARVO(), "other");

    // A segment whose index has no table reaches no session: nothing switches.
    uint64_t switches = zv::wrap_counts().swtzarvo;
    EXPECT_EQ(zvdbGetSessionHandle(t.orphansegment), nullptr);
    EXPECT_STREQ(WCHZARVO(), "other");
    EXPECT_EQ(zv::wrap_counts().swtzarvo, switches);

    EXPECT_EQ(zvdbGetTableHandle(t.record), t.table);
    EXPECT_STREQ(WCHZARVO(), own.c_str());

    // The default date type of the segment's session.
    ASSERT_EQ(SWTZARVO("other"), 0);
    EXPECT_EQ(zvdbSetDefDateType(t.segment, 5), 0);
    EXPECT_EQ(t.sb->defdatetype, 5);
    EXPECT_STREQ(WCHZARVO(), own.c_str());

    // A session that works in the current instance switches nothing.
    tagZVDBSESSION *plain = basetest::make_session(false);
    ASSERT_EQ(SWTZARVO("other"), 0);
    EXPECT_EQ(zvdbGetSessionHandle(plain), plain);
    EXPECT_STREQ(WCHZARVO(), "other");
    basetest::free_session(plain);

    // Its instance gone, the session is lost and keeps the switch's code.
    ASSERT_EQ(UNRZARVO(own.c_str()), 0);
    ASSERT_EQ(SWTZARVO("other"), 0);
    t.sb->lasterror = 0;
    for (int wanted : {3505, 3506, 3507, 3508}) EXPECT_EQ(_zvdbSelectHandle(t.record, wanted), nullptr);
    EXPECT_EQ(t.sb->lasterror, 517);
    EXPECT_STREQ(WCHZARVO(), "other");
    EXPECT_EQ(zvdbGetError(t.record), 4003);
}

TEST_F(HandlesTest, ResolvingWithTheInstanceCurrentCostsNothing) {
    Tree t;
    ASSERT_NE(zvdbGetSessionHandle(t.segment), nullptr);
    uint64_t allocs = zv::platform_alloc_count(), switches = zv::wrap_counts().swtzarvo;
    for (int i = 0; i < 1000; i++) {
        ASSERT_EQ(zvdbGetTableHandle(t.segment), t.table);
        ASSERT_EQ(zvdbGetSessionHandle(t.criterion), t.sb);
    }
    EXPECT_EQ(zv::platform_alloc_count(), allocs);
    EXPECT_EQ(zv::wrap_counts().swtzarvo, switches);
}

TEST_F(HandlesTest, LastCodeIsKeptInTheSession) {
    Tree t;
    t.sb->lasterror = 77;
    EXPECT_EQ(zvdbSetError(nullptr, 4001), 4002);
    EXPECT_EQ(zvdbGetError(nullptr), 4002);
    EXPECT_EQ(t.sb->lasterror, 77);
    uint16_t unknown[8] = {3517};
    EXPECT_EQ(zvdbGetError(unknown), 4003);
    EXPECT_EQ(zvdbSetError(unknown, 4001), 4003);
    EXPECT_EQ(zvdbSetError(t.orphansegment, 4001), 4003);
    EXPECT_EQ(t.sb->lasterror, 77);

    EXPECT_EQ(zvdbSetError(t.segment, 4020), 0);
    EXPECT_EQ(zvdbGetError(t.sb), 4020);
    EXPECT_EQ(zvdbGetError(t.fti), 4020);
    EXPECT_EQ(zvdbSetError(t.resource, 4099), 0);
    EXPECT_EQ(zvdbGetError(t.record), 4099);
    zvdbClearError(t.criterion);
    EXPECT_EQ(t.sb->lasterror, 0);
    zvdbClearError(nullptr);
    zvdbClearError(unknown);
}

TEST_F(HandlesTest, UserTagsAreEachHandlesOwn) {
    Tree t;
    void *handles[] = {t.sb, t.db, t.table, t.record, t.index, t.field, t.segment};
    int marks[7];
    for (int i = 0; i < 7; i++) ASSERT_EQ(zvdbSetUserTag(handles[i], &marks[i]), 0);
    for (int i = 0; i < 7; i++) {
        void *tag = nullptr;
        ASSERT_EQ(zvdbGetUserTag(handles[i], &tag), 0) << i;
        EXPECT_EQ(tag, &marks[i]) << i;
    }
    void *tag = &marks[0];
    EXPECT_EQ(zvdbGetUserTag(t.resource, &tag), 4004);
    EXPECT_EQ(tag, nullptr);
    EXPECT_EQ(t.sb->lasterror, 4004);
    EXPECT_EQ(zvdbSetUserTag(t.resultset, &marks[0]), 4004);
    EXPECT_EQ(zvdbGetUserTag(t.sb, nullptr), 4007);
    EXPECT_EQ(t.sb->lasterror, 4007);
    EXPECT_EQ(zvdbGetUserTag(nullptr, &tag), 4007);
    EXPECT_EQ(zvdbSetUserTag(nullptr, &marks[0]), 4007);
}

TEST_F(HandlesTest, LocalTagsClimbToTheTable) {
    Tree t;
    int a, b, c;
    ASSERT_EQ(zvdbSetLocalTag(t.table, &a), 0);
    EXPECT_EQ(zvdbGetLocalTag(t.segment), &a);
    EXPECT_EQ(zvdbGetLocalTag(t.field), &a);
    ASSERT_EQ(zvdbSetLocalTag(t.index, &b), 0);
    EXPECT_EQ(zvdbGetLocalTag(t.table), &b);
    ASSERT_EQ(zvdbSetLocalTag(t.record, &c), 0);
    EXPECT_EQ(zvdbGetLocalTag(t.record), &c);
    EXPECT_EQ(zvdbGetLocalTag(t.table), &b);
    ASSERT_EQ(zvdbSetLocalTag(t.sb, &a), 0);
    ASSERT_EQ(zvdbSetLocalTag(t.db, &c), 0);
    EXPECT_EQ(zvdbGetLocalTag(t.sb), &a);
    EXPECT_EQ(zvdbGetLocalTag(t.db), &c);
    for (void *h : {static_cast<void *>(t.orphansegment), static_cast<void *>(t.fti),
                    static_cast<void *>(t.resource), static_cast<void *>(nullptr)}) {
        EXPECT_EQ(zvdbSetLocalTag(h, &a), 4090);
        EXPECT_EQ(zvdbGetLocalTag(h), nullptr);
    }
}

TEST_F(HandlesTest, SiblingListsAndLinks) {
    Tree t;
    EXPECT_EQ(_zvdbGetSiblings(t.db), t.sb->children);
    EXPECT_EQ(_zvdbGetSiblings(t.table), t.db->tables);
    EXPECT_EQ(_zvdbGetSiblings(t.freetable), t.sb->children);
    EXPECT_EQ(_zvdbGetSiblings(t.record), t.table->records);
    EXPECT_EQ(_zvdbGetSiblings(t.index), nullptr);
    EXPECT_EQ(_zvdbGetSiblings(nullptr), nullptr);
    EXPECT_EQ(_zvdbListCount(t.sb->children), 2);
    EXPECT_EQ(_zvdbListItem(t.db->tables, 0), t.table);
    EXPECT_EQ(_zvdbListItem(t.table->records, 0), t.record);

    EXPECT_EQ(_zvdbLinkChild(t.record), 0);  // once only
    EXPECT_EQ(_zvdbListCount(t.table->records), 1);
    EXPECT_EQ(_zvdbUnlinkChild(t.record), 0);
    EXPECT_EQ(_zvdbListCount(t.table->records), 0);
    EXPECT_EQ(_zvdbUnlinkChild(t.record), 0);  // absent: nothing to do
    EXPECT_EQ(_zvdbLinkChild(t.index), 4007);  // no list keeps an index
    auto *loose = basetest::make<tagZVDBRECORD>(ZVDB_RECORD_HANDLE);
    EXPECT_EQ(_zvdbGetSiblings(loose), nullptr);
    EXPECT_EQ(_zvdbLinkChild(loose), 4007);
    _zvdb_free(loose);
}

TEST_F(HandlesTest, UnlinkingChildrenEmptiesTheLinksToTheParent) {
    {
        Tree t;
        EXPECT_EQ(_zvdbUnlinkChildren(t.sb, 3505), 0);
        EXPECT_EQ(t.db->session, nullptr);
        EXPECT_EQ(t.table->session, nullptr);
        EXPECT_EQ(t.freetable->session, nullptr);
        EXPECT_EQ(t.record->session, nullptr);
        EXPECT_EQ(t.table->database, t.db);
        EXPECT_EQ(t.record->table, t.table);
    }
    {
        Tree t;
        EXPECT_EQ(_zvdbUnlinkChildren(t.db, 3506), 0);
        EXPECT_EQ(t.table->database, nullptr);
        EXPECT_EQ(t.record->database, nullptr);
        EXPECT_EQ(t.table->session, t.sb);
        EXPECT_EQ(t.record->session, t.sb);
    }
    {
        Tree t;
        EXPECT_EQ(_zvdbUnlinkChildren(t.table, 3507), 0);
        EXPECT_EQ(t.record->table, nullptr);
        EXPECT_EQ(t.record->database, t.db);
    }
    EXPECT_EQ(_zvdbUnlinkChildren(nullptr, 3505), 4007);
}

}  // namespace
