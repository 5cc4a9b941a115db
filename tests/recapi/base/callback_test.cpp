// Callback slots and their climb, the SQL callback, callback libraries and
// user-defined functions of a session.
#include <dlfcn.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/expr/expr_services.h"
#include "tests/recapi/base/basefix.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdbpt.h"

namespace {

using basetest::SessionTest;
using basetest::Tree;

void routine_a() {}
void routine_b() {}

// Every callback word of the tree's session, database, tables and record.
std::vector<ZVDB_CALLBACK *> all_words(const Tree &t) {
    std::vector<ZVDB_CALLBACK *> out;
    for (ZVDB_CALLBACK *w : {t.sb->callbacks, t.db->callbacks, t.table->callbacks, t.freetable->callbacks,
                             t.record->callbacks}) {
        for (int i = 0; i < kZvdbCallbackSlots; i++) out.push_back(&w[i]);
    }
    return out;
}

class CallbackTest : public SessionTest {};

TEST_F(CallbackTest, EachKindIsKeptByItsOwner) {
    Tree t;
    enum Owner { Session, Database, Table, Record };
    struct Case {
        const char *what;
        void *handle;
        int first, last;  // kinds
        Owner owner;
    };
    const Case cases[] = {
        {"record", t.record, 0, 9, Record},       {"record", t.record, 10, 22, Table},
        {"record", t.record, 23, 24, Database},   {"record", t.record, 25, 26, Session},
        {"table", t.table, 0, 22, Table},         {"table", t.table, 23, 24, Database},
        {"database", t.db, 0, 24, Database},      {"database", t.db, 25, 26, Session},
        {"session", t.sb, 0, 26, Session},        {"field", t.field, 0, 22, Table},
        {"field", t.field, 23, 24, Database},     {"index", t.index, 25, 26, Session},
        {"segment", t.segment, 0, 22, Table},     {"segment", t.segment, 23, 24, Database},
    };
    for (const Case &c : cases) {
        for (int kind = c.first; kind <= c.last; kind++) {
            SCOPED_TRACE(testing::Message() << c.what << " " << kind);
            for (ZVDB_CALLBACK *w : all_words(t)) *w = nullptr;
            ASSERT_EQ(zvdbSetCallback(c.handle, kind, routine_a), 0);
            ZVDB_CALLBACK *want = c.owner == Session    ? &t.sb->callbacks[kind]
                                  : c.owner == Database ? &t.db->callbacks[kind]
                                  : c.owner == Table    ? &t.table->callbacks[kind]
                                                        : &t.record->callbacks[kind];
            EXPECT_EQ(*want, routine_a);
            int set = 0;
            for (ZVDB_CALLBACK *w : all_words(t)) set += *w != nullptr;
            EXPECT_EQ(set, 1);
            EXPECT_EQ(zvdbGetCallback(c.handle, kind), routine_a);
            EXPECT_EQ(zvdbClearCallback(c.handle, kind), 0);
            EXPECT_EQ(*want, nullptr);
        }
    }
}

TEST_F(CallbackTest, RefusedHandlesAndKinds) {
    Tree t;
    t.sb->lasterror = 0;
    struct Case {
        void *handle;
        int kind;
        int rc;
    } cases[] = {
        {t.resource, 1, ZVDB_BAD_TAG_HANDLE}, {nullptr, 1, ZVDB_BAD_TAG_HANDLE},
        {t.record, 27, ZVDB_BAD_CALLBACK},    {t.sb, -1, ZVDB_BAD_CALLBACK},
        {t.orphansegment, 1, ZVDB_BAD_TAG_HANDLE},  // the climb ends at no table
        {t.freetable, 23, ZVDB_BAD_TAG_HANDLE},     // a table without database
        {t.criterion, 1, ZVDB_BAD_TAG_HANDLE},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(zvdbSetCallback(c.handle, c.kind, routine_a), c.rc) << c.kind;
        EXPECT_EQ(zvdbGetCallback(c.handle, c.kind), nullptr) << c.kind;
    }
    for (ZVDB_CALLBACK *w : all_words(t)) EXPECT_EQ(*w, nullptr);
    EXPECT_EQ(zvdbGetError(t.record), 0);  // nothing recorded
    // Reading, a table without database takes kinds 23 and up from its session.
    ASSERT_EQ(zvdbSetCallback(t.sb, 23, routine_b), 0);
    EXPECT_EQ(zvdbGetCallback(t.freetable, 23), routine_b);
}

TEST_F(CallbackTest, ClearAllClearsTheKindsAHandleOwns) {
    Tree t;
    for (ZVDB_CALLBACK *w : all_words(t)) *w = routine_a;
    ASSERT_EQ(zvdbClearAllCallback(t.record), 0);
    for (int k = 0; k < kZvdbCallbackSlots; k++) {
        EXPECT_EQ(t.record->callbacks[k], k < 10 ? nullptr : routine_a) << k;
        EXPECT_EQ(t.table->callbacks[k], routine_a) << k;
    }
    ASSERT_EQ(zvdbClearAllCallback(t.table), 0);
    ASSERT_EQ(zvdbClearAllCallback(t.db), 0);
    for (int k = 0; k < kZvdbCallbackSlots; k++) {
        EXPECT_EQ(t.table->callbacks[k], k < 23 ? nullptr : routine_a) << k;
        EXPECT_EQ(t.db->callbacks[k], k < 25 ? nullptr : routine_a) << k;
    }
    ASSERT_EQ(zvdbClearAllCallback(t.sb), 0);
    for (int k = 0; k < kZvdbCallbackSlots; k++) EXPECT_EQ(t.sb->callbacks[k], nullptr) << k;
    EXPECT_EQ(zvdbClearAllCallback(t.field), ZVDB_BAD_TAG_HANDLE);
    EXPECT_EQ(zvdbClearAllCallback(nullptr), ZVDB_BAD_TAG_HANDLE);
}

TEST_F(CallbackTest, SqlCallbackOfTheSession) {
    Tree t;
    t.sb->sqlstate[0] = t.sb->sqlstate[1] = 3;
    EXPECT_EQ(zvdbSetSqlCallBack(t.record, routine_b), t.sb);
    EXPECT_EQ(t.sb->sqlcallback, routine_b);
    EXPECT_EQ(t.sb->sqlstate[0], 0);
    EXPECT_EQ(t.sb->sqlstate[1], 0);
    EXPECT_EQ(zvdbSetSqlCallBack(t.orphansegment, routine_b), nullptr);
}

// The counting block of tests/dll/cblib.c.
struct CbCalls {
    int set, end, loaded;
    void *sethandle, *setargument, *endsession;
    int endreserved;
    int answer;
};

bool mapped(const char *path) {
    void *h = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
}

TEST_F(CallbackTest, CallbackLibraryLoadAndUnload) {
    tagZVDBSESSION *s = alloc(1);
    ASSERT_NE(s, nullptr);
    ASSERT_FALSE(mapped(ZV_TEST_CBLIB_A));
    CbCalls calls{};
    ASSERT_EQ(zvdbLoadCallbackLib(s, ZV_TEST_CBLIB_A, &calls, 1), 0);
    EXPECT_EQ(calls.set, 1);
    EXPECT_EQ(calls.sethandle, s);
    EXPECT_EQ(calls.setargument, &calls);
    EXPECT_EQ(calls.loaded, 0);
    EXPECT_TRUE(mapped(ZV_TEST_CBLIB_A));
    EXPECT_EQ(s->cblibinit, 1);
    EXPECT_NE(s->cblibloaded, nullptr);

    ASSERT_EQ(zvdbUnLoadCallbackLib(s, 0), 0);
    EXPECT_EQ(calls.end, 1);
    EXPECT_EQ(calls.endsession, s);
    EXPECT_EQ(calls.endreserved, 0);
    EXPECT_FALSE(mapped(ZV_TEST_CBLIB_A));
    EXPECT_EQ(s->cblibhandle, nullptr);

    // A set entry answering 5: nothing recorded, nothing left mapped.
    CbCalls refusing{};
    refusing.answer = 5;
    EXPECT_EQ(zvdbLoadCallbackLib(s, ZV_TEST_CBLIB_A, &refusing, 1), 5);
    EXPECT_EQ(zvdbGetError(s), 5);
    EXPECT_EQ(refusing.set, 1);
    EXPECT_EQ(s->cblibhandle, nullptr);
    EXPECT_EQ(s->cblibset, nullptr);
    EXPECT_FALSE(mapped(ZV_TEST_CBLIB_A));

    // Not initialised: neither entry runs.
    CbCalls quiet{};
    ASSERT_EQ(zvdbLoadCallbackLib(s, ZV_TEST_CBLIB_A, &quiet, 0), 0);
    EXPECT_EQ(s->cblibinit, 0);
    ASSERT_EQ(zvdbUnLoadCallbackLib(s, 0), 0);
    EXPECT_EQ(quiet.set + quiet.end, 0);
    EXPECT_FALSE(mapped(ZV_TEST_CBLIB_A));

    EXPECT_EQ(zvdbLoadCallbackLib(s, "./no-such-library.so", nullptr, 1), ZVDB_BAD_CALLBACK);
    EXPECT_EQ(zvdbLoadCallbackLib(s, nullptr, nullptr, 1), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbLoadCallbackLib(nullptr, ZV_TEST_CBLIB_A, nullptr, 1), ZVDB_NO_SESSION);
    EXPECT_EQ(s->cblibhandle, nullptr);

    // Logged on: neither load nor unload.
    ASSERT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(zvdbLoadCallbackLib(s, ZV_TEST_CBLIB_A, &calls, 1), ZVDB_ACTIVE);
    EXPECT_EQ(zvdbUnLoadCallbackLib(s, 0), ZVDB_ACTIVE);
    EXPECT_FALSE(mapped(ZV_TEST_CBLIB_A));
    EXPECT_EQ(calls.set, 1);
}

TEST_F(CallbackTest, ASecondLoadEndsAndUnloadsTheFirst) {
    tagZVDBSESSION *s = alloc(0);
    ASSERT_NE(s, nullptr);
    CbCalls first{}, second{};
    ASSERT_EQ(zvdbLoadCallbackLib(s, ZV_TEST_CBLIB_A, &first, 1), 0);
    ASSERT_EQ(zvdbLoadCallbackLib(s, ZV_TEST_CBLIB_B, &second, 1), 0);
    EXPECT_EQ(first.end, 1);
    EXPECT_FALSE(mapped(ZV_TEST_CBLIB_A));
    EXPECT_TRUE(mapped(ZV_TEST_CBLIB_B));
    EXPECT_EQ(second.set, 1);
    EXPECT_EQ(second.end, 0);
    ASSERT_EQ(zvdbUnLoadCallbackLib(s, 0), 0);
    EXPECT_EQ(second.end, 1);
    EXPECT_EQ(first.end, 1);
    EXPECT_FALSE(mapped(ZV_TEST_CBLIB_B));
}

TEST_F(CallbackTest, FreeingTheSessionEndsTheLibraryAndKeepsItMapped) {
    tagZVDBSESSION *s = alloc(0);
    ASSERT_NE(s, nullptr);
    CbCalls calls{};
    ASSERT_EQ(zvdbLoadCallbackLib(s, ZV_TEST_CBLIB_B, &calls, 1), 0);
    EXPECT_EQ(release(s), 0);
    EXPECT_EQ(calls.end, 1);
    EXPECT_EQ(calls.endsession, s);
    // Still mapped: the session's reference was kept. Let it go.
    void *h = dlopen(ZV_TEST_CBLIB_B, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(h, nullptr);
    dlclose(h);
    dlclose(h);
    EXPECT_FALSE(mapped(ZV_TEST_CBLIB_B));
}

void twice(void **args, void *result) {
    int32_t v;
    std::memcpy(&v, args[0], 4);
    v *= 2;
    std::memcpy(result, &v, 4);
}

// Parses and evaluates a condition without record fields in the current
// instance: 1 true, 0 false, -1 when it does not parse.
int evaluate(const char *text) {
    int kind = 0;
    void *tree = cndxparse(nullptr, nullptr, text, int32_t(std::strlen(text) + 1), &kind);
    if (!tree) return -1;
    unsigned char record[4] = {};
    int r = cndxeval(tree, record, nullptr, sizeof record, sizeof record);
    cndxfree(tree);
    return r;
}

TEST_F(CallbackTest, UserDefinedFunctionsLiveFromLogonToLogout) {
    tagZVDBSESSION *s = alloc(1);
    ASSERT_NE(s, nullptr);
    const int types[1] = {ZV_INT4};
    ASSERT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(evaluate("TWICE(3) == 6"), -1);
    ASSERT_EQ(zvdbAddUserDefFunc(s, "TWICE", ZV_INT4, 1, types, twice), 0);
    EXPECT_EQ(evaluate("TWICE(3) == 6"), 1);
    EXPECT_EQ(evaluate("TWICE(3) == 7"), 0);
    EXPECT_EQ(zvdbAddUserDefFunc(s, "twice", ZV_INT4, 1, types, twice), 13);
    EXPECT_EQ(zvdbGetError(s), 13);
    EXPECT_EQ(zvdbAddUserDefFunc(nullptr, "OTHER", ZV_INT4, 1, types, twice), ZVDB_NO_SESSION);
    ASSERT_EQ(zvdbLogout(s), 0);
    ASSERT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(evaluate("TWICE(3) == 6"), -1);
    EXPECT_EQ(zvdbLogout(s), 0);
}

}  // namespace
