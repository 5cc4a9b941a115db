// Resolution of handles to their owners, the last result code kept in the
// session, the tags of the caller, and the links of the handle tree.
//
// Resolution reads a handle's kind, follows its links (handles.h) to every
// owner it can reach, makes the session's instance current and returns the
// owner asked for. The instance switch is skipped when the session's
// instance is the current one, so resolving on the hot path costs a name
// comparison: no allocation and no registry walk.
#include "recapi/base/handles.h"

#include <cstring>

#include "recapi/base/wrappers.h"

namespace {

struct Owners {
    tagZVDBSESSION *session = nullptr;
    tagZVDBDATABASE *database = nullptr;
    tagZVDBTABLE *table = nullptr;
    tagZVDBRECORD *record = nullptr;
    tagZVDBINDEX *index = nullptr;
    tagZVDBFIELD *field = nullptr;
    tagZVDBSEGMENT *segment = nullptr;
    tagZVDBRESULTSET *resultset = nullptr;
    tagZVDBCRITERIA *criterion = nullptr;
    tagZVDBFTI *fti = nullptr;
    tagZVDBFTIDICT *ftidict = nullptr;
};

// Database and session of a table, when there is one.
void from_table(Owners &o) {
    if (!o.table) return;
    o.database = o.table->database;
    o.session = o.table->session;
}

// Every owner the handle leads to; false for a kind that is no handle.
bool find_owners(void *h, Owners &o) {
    switch (zv::handle_kind(h)) {
    case ZVDB_SESSION_HANDLE:
        o.session = static_cast<tagZVDBSESSION *>(h);
        return true;
    case ZVDB_DATABASE_HANDLE:
        o.database = static_cast<tagZVDBDATABASE *>(h);
        o.session = o.database->session;
        return true;
    case ZVDB_TABLE_HANDLE:
        o.table = static_cast<tagZVDBTABLE *>(h);
        from_table(o);
        return true;
    case ZVDB_RECORD_HANDLE:
        o.record = static_cast<tagZVDBRECORD *>(h);
        o.table = o.record->table;
        from_table(o);
        return true;
    case ZVDB_INDEX_HANDLE:
        o.index = static_cast<tagZVDBINDEX *>(h);
        o.table = o.index->table;
        from_table(o);
        return true;
    case ZVDB_FIELD_HANDLE:
        o.field = static_cast<tagZVDBFIELD *>(h);
        o.table = o.field->table;
        from_table(o);
        return true;
    case ZVDB_SEGMENT_HANDLE:
        o.segment = static_cast<tagZVDBSEGMENT *>(h);
        o.index = o.segment->index;
        o.table = o.index ? o.index->table : nullptr;
        from_table(o);
        return true;
    case ZVDB_RESOURCE_HANDLE:
        o.table = static_cast<tagZVDBRESOURCE *>(h)->table;
        from_table(o);
        return true;
    case ZVDB_RESULTSET_HANDLE:
        o.resultset = static_cast<tagZVDBRESULTSET *>(h);
        o.table = o.resultset->table;
        from_table(o);
        return true;
    case ZVDB_CRITERIA_HANDLE:
        o.criterion = static_cast<tagZVDBCRITERIA *>(h);
        o.resultset = o.criterion->resultset;
        o.field = o.criterion->field;
        o.table = o.resultset ? o.resultset->table : nullptr;
        from_table(o);
        return true;
    case ZVDB_FTI_HANDLE:
        o.fti = static_cast<tagZVDBFTI *>(h);
        o.ftidict = o.fti->dict;
        o.table = o.fti->table;
        from_table(o);
        return true;
    case ZVDB_FTIDICT_HANDLE:
        o.ftidict = static_cast<tagZVDBFTIDICT *>(h);
        o.session = o.ftidict->session;
        return true;
    default:
        return false;
    }
}

// Makes the session's instance current unless it is already; false after a
// failed switch, whose code is then the session's last code.
bool switch_to(tagZVDBSESSION *s) {
    if (!s || !s->instname || !s->instname[0]) return true;
    const char *cur = _zvdbWCHZARVO();
    if (cur && std::strcmp(cur, s->instname) == 0) return true;
    int rc = _zvdbSWTZARVO(s->instname);
    if (rc == 0) return true;
    s->lasterror = rc;
    return false;
}

void *pick(const Owners &o, int wanted) {
    switch (wanted) {
    case ZVDB_SESSION_HANDLE: return o.session;
    case ZVDB_DATABASE_HANDLE: return o.database;
    case ZVDB_TABLE_HANDLE: return o.table;
    case ZVDB_RECORD_HANDLE: return o.record;
    case ZVDB_INDEX_HANDLE: return o.index;
    case ZVDB_FIELD_HANDLE: return o.field;
    case ZVDB_SEGMENT_HANDLE: return o.segment;
    case ZVDB_RESULTSET_HANDLE: return o.resultset;
    case ZVDB_CRITERIA_HANDLE: return o.criterion;
    case ZVDB_FTI_HANDLE: return o.fti;
    case ZVDB_FTIDICT_HANDLE: return o.ftidict;
    default: return nullptr;
    }
}

tagZVDBSESSION *session_of(ZVHANDLE h) {
    return static_cast<tagZVDBSESSION *>(_zvdbSelectHandle(h, ZVDB_SESSION_HANDLE));
}

// The user-tag slot of a handle of kinds 3505..3511, or NULL.
void **user_tag_slot(void *h) {
    switch (zv::handle_kind(h)) {
    case ZVDB_SESSION_HANDLE: return &static_cast<tagZVDBSESSION *>(h)->usertag;
    case ZVDB_DATABASE_HANDLE: return &static_cast<tagZVDBDATABASE *>(h)->usertag;
    case ZVDB_TABLE_HANDLE: return &static_cast<tagZVDBTABLE *>(h)->usertag;
    case ZVDB_RECORD_HANDLE: return &static_cast<tagZVDBRECORD *>(h)->usertag;
    case ZVDB_INDEX_HANDLE: return &static_cast<tagZVDBINDEX *>(h)->usertag;
    case ZVDB_FIELD_HANDLE: return &static_cast<tagZVDBFIELD *>(h)->usertag;
    case ZVDB_SEGMENT_HANDLE: return &static_cast<tagZVDBSEGMENT *>(h)->usertag;
    default: return nullptr;
    }
}

// The local-tag slot: session, database, table and record keep their own;
// an index or field climbs to its table, a segment through its index.
void **local_tag_slot(void *h) {
    switch (zv::handle_kind(h)) {
    case ZVDB_SESSION_HANDLE: return &static_cast<tagZVDBSESSION *>(h)->localtag;
    case ZVDB_DATABASE_HANDLE: return &static_cast<tagZVDBDATABASE *>(h)->localtag;
    case ZVDB_TABLE_HANDLE: return &static_cast<tagZVDBTABLE *>(h)->localtag;
    case ZVDB_RECORD_HANDLE: return &static_cast<tagZVDBRECORD *>(h)->localtag;
    case ZVDB_INDEX_HANDLE: {
        tagZVDBTABLE *t = static_cast<tagZVDBINDEX *>(h)->table;
        return t ? local_tag_slot(t) : nullptr;
    }
    case ZVDB_FIELD_HANDLE: {
        tagZVDBTABLE *t = static_cast<tagZVDBFIELD *>(h)->table;
        return t ? local_tag_slot(t) : nullptr;
    }
    case ZVDB_SEGMENT_HANDLE: {
        tagZVDBINDEX *i = static_cast<tagZVDBSEGMENT *>(h)->index;
        return i ? local_tag_slot(i) : nullptr;
    }
    default: return nullptr;
    }
}

}  // namespace

extern "C" {

ZVHANDLE _zvdbSelectHandle(ZVHANDLE handle, int wanted) {
    if (!handle) return nullptr;
    Owners o;
    if (!find_owners(handle, o)) return nullptr;
    if (!switch_to(o.session)) return nullptr;
    return pick(o, wanted);
}

ZV_API int _zvdbGetHandleId(ZVHANDLE handle) {
    if (!handle) return 0;
    uint16_t k = zv::handle_kind(handle);
    return k >= ZVDB_SESSION_HANDLE && k <= ZVDB_FIELD_HANDLE ? k : 0;
}

ZV_API ZVHANDLE zvdbGetSessionHandle(ZVHANDLE h) { return _zvdbSelectHandle(h, ZVDB_SESSION_HANDLE); }
ZV_API ZVHANDLE zvdbGetDatabaseHandle(ZVHANDLE h) { return _zvdbSelectHandle(h, ZVDB_DATABASE_HANDLE); }
ZV_API ZVHANDLE zvdbGetTableHandle(ZVHANDLE h) { return _zvdbSelectHandle(h, ZVDB_TABLE_HANDLE); }
ZV_API ZVHANDLE zvdbGetIndexHandle(ZVHANDLE h) { return _zvdbSelectHandle(h, ZVDB_INDEX_HANDLE); }
ZV_API ZVHANDLE zvdbGetFieldHandle(ZVHANDLE h) { return _zvdbSelectHandle(h, ZVDB_FIELD_HANDLE); }
ZV_API ZVHANDLE zvdbGetSegmentHandle(ZVHANDLE h) { return _zvdbSelectHandle(h, ZVDB_SEGMENT_HANDLE); }
ZV_API ZVHANDLE zvdbGetResultSetHandle(ZVHANDLE h) { return _zvdbSelectHandle(h, ZVDB_RESULTSET_HANDLE); }
ZV_API ZVHANDLE zvdbGetResultSetCriHandle(ZVHANDLE h) { return _zvdbSelectHandle(h, ZVDB_CRITERIA_HANDLE); }
ZV_API ZVHANDLE zvdbGetFTIHandle(ZVHANDLE h) { return _zvdbSelectHandle(h, ZVDB_FTI_HANDLE); }
ZV_API ZVHANDLE zvdbGetFTIDictHandle(ZVHANDLE h) { return _zvdbSelectHandle(h, ZVDB_FTIDICT_HANDLE); }

ZV_API int zvdbGetHandleType(ZVHANDLE handle) {
    if (!handle) return 0;
    uint16_t k = zv::handle_kind(handle);
    if (k >= ZVDB_SESSION_HANDLE && k <= ZVDB_SEGMENT_HANDLE) return k;
    return k == ZVDB_RESULTSET_HANDLE || k == ZVDB_CRITERIA_HANDLE ? k : 0;
}

ZV_API ZVDBRET zvdbSetError(ZVHANDLE handle, ZVDBRET code) {
    if (!handle) return ZVDB_NULL_HANDLE;
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    s->lasterror = code;
    return 0;
}

ZV_API ZVDBRET zvdbGetError(ZVHANDLE handle) {
    if (!handle) return ZVDB_NULL_HANDLE;
    tagZVDBSESSION *s = session_of(handle);
    return s ? s->lasterror : ZVDB_NO_SESSION;
}

ZV_API void zvdbClearError(ZVHANDLE handle) {
    if (tagZVDBSESSION *s = session_of(handle)) s->lasterror = 0;
}

ZV_API ZVDBRET zvdbGetUserTag(ZVHANDLE handle, void **tag) {
    if (tag) *tag = nullptr;
    ZVDBRET rc = 0;
    void **slot = handle ? user_tag_slot(handle) : nullptr;
    if (!handle || !tag) rc = ZVDB_NULL_ARGUMENT;
    else if (!slot) rc = ZVDB_BAD_ARGUMENT;
    if (rc) {
        zvdbSetError(handle, rc);
        return rc;
    }
    *tag = *slot;
    return 0;
}

ZV_API ZVDBRET zvdbSetUserTag(ZVHANDLE handle, void *tag) {
    void **slot = handle ? user_tag_slot(handle) : nullptr;
    ZVDBRET rc = !handle ? ZVDB_NULL_ARGUMENT : !slot ? ZVDB_BAD_ARGUMENT : 0;
    if (rc) {
        zvdbSetError(handle, rc);
        return rc;
    }
    *slot = tag;
    return 0;
}

ZV_API ZVDBRET zvdbSetLocalTag(ZVHANDLE handle, void *tag) {
    void **slot = handle ? local_tag_slot(handle) : nullptr;
    if (!slot) return ZVDB_BAD_TAG_HANDLE;
    *slot = tag;
    return 0;
}

ZV_API void *zvdbGetLocalTag(ZVHANDLE handle) {
    void **slot = handle ? local_tag_slot(handle) : nullptr;
    return slot ? *slot : nullptr;
}

ZVDBLIST *_zvdbGetSiblings(ZVHANDLE handle) {
    if (!handle) return nullptr;
    switch (zv::handle_kind(handle)) {
    case ZVDB_DATABASE_HANDLE: {
        tagZVDBSESSION *s = static_cast<tagZVDBDATABASE *>(handle)->session;
        return s ? s->children : nullptr;
    }
    case ZVDB_TABLE_HANDLE: {
        auto *t = static_cast<tagZVDBTABLE *>(handle);
        if (t->database) return t->database->tables;
        return t->session ? t->session->children : nullptr;
    }
    case ZVDB_RECORD_HANDLE: {
        tagZVDBTABLE *t = static_cast<tagZVDBRECORD *>(handle)->table;
        return t ? t->records : nullptr;
    }
    default:
        return nullptr;
    }
}

ZVDBRET _zvdbLinkChild(ZVHANDLE handle) {
    ZVDBLIST *list = _zvdbGetSiblings(handle);
    if (list && _zvdbListIndexOf(list, handle) >= 0) return 0;
    return _zvdbListAdd(list, handle);
}

ZVDBRET _zvdbUnlinkChild(ZVHANDLE handle) {
    ZVDBLIST *list = _zvdbGetSiblings(handle);
    if (!list) return ZVDB_NULL_ARGUMENT;
    int32_t i = _zvdbListIndexOf(list, handle);
    return i < 0 ? 0 : _zvdbListDelete(list, i);
}

ZVDBRET _zvdbUnlinkChildren(ZVHANDLE handle, int kind) {
    if (!handle) return ZVDB_NULL_ARGUMENT;
    ZVDBRET rc = 0;
    switch (zv::handle_kind(handle)) {
    case ZVDB_SESSION_HANDLE: {
        ZVDBLIST *children = static_cast<tagZVDBSESSION *>(handle)->children;
        for (int32_t i = 0; i < _zvdbListCount(children); i++) {
            void *child = children->items[i];
            rc = _zvdbUnlinkChildren(child, kind);
            if (kind != ZVDB_SESSION_HANDLE) continue;
            switch (zv::handle_kind(child)) {
            case ZVDB_DATABASE_HANDLE: static_cast<tagZVDBDATABASE *>(child)->session = nullptr; break;
            case ZVDB_TABLE_HANDLE: static_cast<tagZVDBTABLE *>(child)->session = nullptr; break;
            default: break;
            }
        }
        break;
    }
    case ZVDB_DATABASE_HANDLE: {
        ZVDBLIST *tables = static_cast<tagZVDBDATABASE *>(handle)->tables;
        for (int32_t i = 0; i < _zvdbListCount(tables); i++) {
            auto *t = static_cast<tagZVDBTABLE *>(tables->items[i]);
            rc = _zvdbUnlinkChildren(t, kind);
            if (kind == ZVDB_SESSION_HANDLE) t->session = nullptr;
            else if (kind == ZVDB_DATABASE_HANDLE) t->database = nullptr;
        }
        break;
    }
    case ZVDB_TABLE_HANDLE: {
        ZVDBLIST *records = static_cast<tagZVDBTABLE *>(handle)->records;
        for (int32_t i = 0; i < _zvdbListCount(records); i++) {
            auto *r = static_cast<tagZVDBRECORD *>(records->items[i]);
            if (kind == ZVDB_SESSION_HANDLE) r->session = nullptr;
            else if (kind == ZVDB_DATABASE_HANDLE) r->database = nullptr;
            else if (kind == ZVDB_TABLE_HANDLE) r->table = nullptr;
        }
        break;
    }
    default:
        break;
    }
    return rc;
}

}  // extern "C"
