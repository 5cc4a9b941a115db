// Fixtures of the record API base tests: a fresh directory with an empty
// instance ring, and a hand-built tree with a handle of every kind.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recapi/base/handles.h"
#include "tests/support/fixture.h"

namespace basetest {

// Clears the seam's faults and the allocation faults around each test.
class BaseTest : public zvtest::ZvTest {
protected:
    void SetUp() override;
    void TearDown() override;
};

// A new zeroed record of kind `kind` from the API's allocator.
template <typename T>
T *make(uint16_t kind) {
    auto *h = static_cast<T *>(_zvdb_alloc(1, sizeof(T)));
    if (h) h->kind = kind;
    return h;
}

// A session with lists; with `own_instance` an instance named "%p" of the
// record is registered (and becomes current).
tagZVDBSESSION *make_session(bool own_instance);
void free_session(tagZVDBSESSION *s);

// Session B (its own instance) holds a database and a free table; the
// database holds a table with a record, an index with a segment, a field,
// a resource, a result set with a criterion and a full-text index with its
// dictionary (on B). An index without table has a segment of its own.
struct Tree {
    tagZVDBSESSION *sb = nullptr;
    tagZVDBDATABASE *db = nullptr;
    tagZVDBTABLE *table = nullptr;
    tagZVDBTABLE *freetable = nullptr;
    tagZVDBRECORD *record = nullptr;
    tagZVDBINDEX *index = nullptr;
    tagZVDBFIELD *field = nullptr;
    tagZVDBSEGMENT *segment = nullptr;
    tagZVDBRESOURCE *resource = nullptr;
    tagZVDBRESULTSET *resultset = nullptr;
    tagZVDBCRITERIA *criterion = nullptr;
    tagZVDBFTI *fti = nullptr;
    tagZVDBFTIDICT *dict = nullptr;
    tagZVDBINDEX *orphanindex = nullptr;
    tagZVDBSEGMENT *orphansegment = nullptr;
    Tree();
    ~Tree();
    Tree(const Tree &) = delete;
    Tree &operator=(const Tree &) = delete;
};

// The text "%p" of a pointer, as a session names its instance.
std::string instance_name_of(const void *p);

}  // namespace basetest

namespace basetest {

// A started engine (ISAM layer, 40 file numbers) in the current instance,
// and a session that works in it with the path prefix "pre" (a directory
// made for it).
class EngineTest : public BaseTest {
protected:
    void SetUp() override;
    void TearDown() override;
    tagZVDBSESSION *session_ = nullptr;
};

}  // namespace basetest

namespace basetest {

// Platform blocks taken and not yet given back (only differences count).
int64_t live_blocks();
// Whether the file number is open in the current instance.
bool file_open(int filno);
// Whether an engine runs in the current instance.
bool engine_running();

// Sessions allocated through the fixture are freed at the end of the test.
class SessionTest : public BaseTest {
protected:
    void TearDown() override;
    // zvdbAllocSession(type), remembered for the end of the test.
    tagZVDBSESSION *alloc(int type);
    // Frees a session made by alloc now: zvdbFreeSession's result.
    int release(tagZVDBSESSION *s);
    std::vector<tagZVDBSESSION *> sessions_;
};

}  // namespace basetest
