#include "tests/recapi/base/basefix.h"

#include <cstdio>
#include <filesystem>

#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "recapi/base/session.h"

namespace basetest {

void BaseTest::SetUp() {
    ZvTest::SetUp();
    zv::fault_reset();
}

void BaseTest::TearDown() {
    zv::fault_reset();
    zv::fail_alloc_at(0);
    zv::fail_pool_at(0);
    ZvTest::TearDown();
}

std::string instance_name_of(const void *p) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%p", p);
    return buf;
}

tagZVDBSESSION *make_session(bool own_instance) {
    return static_cast<tagZVDBSESSION *>(zvdbAllocSession(own_instance ? 0 : 3));
}

void free_session(tagZVDBSESSION *s) {
    if (!s) return;
    EXPECT_EQ(zvdbFreeSession(s), 0);
}

Tree::Tree() {
    sb = make_session(true);
    db = make<tagZVDBDATABASE>(ZVDB_DATABASE_HANDLE);
    db->session = sb;
    db->tables = _zvdbListAlloc();
    table = make<tagZVDBTABLE>(ZVDB_TABLE_HANDLE);
    table->session = sb;
    table->database = db;
    table->records = _zvdbListAlloc();
    freetable = make<tagZVDBTABLE>(ZVDB_TABLE_HANDLE);
    freetable->session = sb;
    freetable->records = _zvdbListAlloc();
    record = make<tagZVDBRECORD>(ZVDB_RECORD_HANDLE);
    record->session = sb;
    record->database = db;
    record->table = table;
    index = make<tagZVDBINDEX>(ZVDB_INDEX_HANDLE);
    index->table = table;
    field = make<tagZVDBFIELD>(ZVDB_FIELD_HANDLE);
    field->table = table;
    segment = make<tagZVDBSEGMENT>(ZVDB_SEGMENT_HANDLE);
    segment->index = index;
    resource = make<tagZVDBRESOURCE>(ZVDB_RESOURCE_HANDLE);
    resource->table = table;
    resultset = make<tagZVDBRESULTSET>(ZVDB_RESULTSET_HANDLE);
    resultset->table = table;
    criterion = make<tagZVDBCRITERIA>(ZVDB_CRITERIA_HANDLE);
    criterion->resultset = resultset;
    criterion->field = field;
    dict = make<tagZVDBFTIDICT>(ZVDB_FTIDICT_HANDLE);
    dict->session = sb;
    fti = make<tagZVDBFTI>(ZVDB_FTI_HANDLE);
    fti->table = table;
    fti->dict = dict;
    orphanindex = make<tagZVDBINDEX>(ZVDB_INDEX_HANDLE);
    orphansegment = make<tagZVDBSEGMENT>(ZVDB_SEGMENT_HANDLE);
    orphansegment->index = orphanindex;
    EXPECT_EQ(_zvdbLinkChild(db), 0);
    EXPECT_EQ(_zvdbLinkChild(table), 0);
    EXPECT_EQ(_zvdbLinkChild(freetable), 0);
    EXPECT_EQ(_zvdbLinkChild(record), 0);
}

Tree::~Tree() {
    // The session first: freeing it empties the links below it.
    free_session(sb);
    _zvdbListFree(table->records);
    _zvdbListFree(freetable->records);
    _zvdbListFree(db->tables);
    for (void *h : std::vector<void *>{db, table, freetable, record, index, field, segment, resource, resultset,
                                       criterion, fti, dict, orphanindex, orphansegment}) {
        _zvdb_free(h);
    }
}

void EngineTest::SetUp() {
    BaseTest::SetUp();
    ASSERT_EQ(INTISAM(10, 40, 8), 0);
    session_ = make_session(false);
    ASSERT_NE(session_, nullptr);
    ASSERT_EQ(zvdbSetPathPrefix(session_, "pre"), 0);
    std::filesystem::create_directory("pre");
}

void EngineTest::TearDown() {
    free_session(session_);
    zv::fault_reset();
    zv::fail_alloc_at(0);
    CLISAM();
    BaseTest::TearDown();
}

}  // namespace basetest

namespace basetest {

int64_t live_blocks() { return int64_t(zv::platform_alloc_count()) - int64_t(zv::platform_free_count()); }

bool file_open(int filno) {
    GETFIL(filno, 10);
    return zvGetUserErrorCode() == 0;
}

bool engine_running() { return zvdbGetSystemConfig(ZV_SYSCFG_FILE_NUMBERS) > 0; }

tagZVDBSESSION *SessionTest::alloc(int type) {
    auto *s = static_cast<tagZVDBSESSION *>(zvdbAllocSession(type));
    if (s) sessions_.push_back(s);
    return s;
}

int SessionTest::release(tagZVDBSESSION *s) {
    for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
        if (*it == s) {
            sessions_.erase(it);
            return zvdbFreeSession(s);
        }
    }
    ADD_FAILURE() << "not a session of the test";
    return -1;
}

void SessionTest::TearDown() {
    zv::fail_alloc_at(0);
    for (auto it = sessions_.rbegin(); it != sessions_.rend(); ++it) zvdbFreeSession(*it);
    sessions_.clear();
    BaseTest::TearDown();
}

}  // namespace basetest
