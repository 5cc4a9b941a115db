// Result sets: named queries of a table, each a list of criteria (a field,
// a comparison and one or two value texts). Switched on for a record, a
// result set becomes the record's filter, written from its criteria, and
// may choose the index that best fits their fields as the record's
// default index.
//
// Invariants:
//  1. A result set is in its table's list from allocation until freed;
//     its criteria belong to it alone.
//  2. chosenindex is -1 whenever the criteria changed since an index was
//     last chosen for them.
//  3. A record's resultset points at a live result set of its table, or is
//     NULL: freeing a result set first lets go of the records it drives.
//  4. value1 of a criterion is always a buffer; a buffer is written over
//     only by a value shorter than its stored length, which never exceeds
//     the buffer's size.
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "recapi/base/session.h"
#include "recapi/records/locate.h"
#include "recapi/records/record.h"
#include "recapi/records/set_calls.h"
#include "recapi/schema/table.h"

namespace zv {

namespace {

// A comparison code with the comparisons it writes: one value, or the
// first value with op1 and the second with op2.
struct Operator {
    int32_t code;
    const char *op1;
    const char *op2;
};
constexpr Operator kOperators[] = {
    {193, "== ", nullptr}, {38, "!= ", nullptr}, {130, "> ", nullptr}, {195, ">= ", nullptr},
    {196, "<= ", nullptr}, {69, "< ", nullptr},  {199, ">= ", "<= "},  {72, ">= ", "< "},
    {137, "> ", "<= "},    {10, "> ", "< "},     {43, "< ", "> "},
};

const Operator *operator_of(int32_t code) {
    for (const Operator &o : kOperators) {
        if (o.code == code) return &o;
    }
    return nullptr;
}

tagZVDBRESULTSET *as_resultset(ZVHANDLE h) {
    return h && handle_kind(h) == ZVDB_RESULTSET_HANDLE ? static_cast<tagZVDBRESULTSET *>(h) : nullptr;
}
tagZVDBCRITERIA *as_criterion(ZVHANDLE h) {
    return h && handle_kind(h) == ZVDB_CRITERIA_HANDLE ? static_cast<tagZVDBCRITERIA *>(h) : nullptr;
}
tagZVDBCRITERIA *criterion_at(const tagZVDBRESULTSET *s, int32_t i) {
    return static_cast<tagZVDBCRITERIA *>(_zvdbListItem(s->criteria, i));
}

void free_criterion(tagZVDBCRITERIA *c) {
    _zvdb_free(c->value1);
    _zvdb_free(c->value2);
    _zvdb_free(c);
}

// The stored length of a value copy: its text length + 1, kept in 16 bits.
uint16_t stored_length(const char *text) { return uint16_t(std::strlen(text) + 1); }

// Replaces a stored value: an equal one is left, a shorter one is written
// over the buffer, a longer one takes a new buffer. 0 or 4001.
ZVDBRET replace_value(char **value, uint16_t length, const char *text) {
    if (*value && std::strcmp(*value, text) == 0) return 0;
    if (*value && std::strlen(text) < length) {
        std::strcpy(*value, text);
        return 0;
    }
    char *copy = _zvdb_strdup(text);
    if (!copy) return ZVDB_NO_MEMORY;
    _zvdb_free(*value);
    *value = copy;
    return 0;
}

// The filter text of a result set's criteria.
ZVDBRET criteria_text(const tagZVDBRESULTSET *s, int32_t mode, std::string &text) {
    for (int32_t i = 0; i < _zvdbListCount(s->criteria); i++) {
        const tagZVDBCRITERIA *c = criterion_at(s, i);
        const Operator *o = operator_of(c->op);
        if (!o) continue;
        if (!text.empty()) text += "&& ";
        if (ZVDBRET rc = append_comparison(text, s->table, c->field, mode, o->op1, c->value1, false)) return rc;
        if (!o->op2) continue;
        text += "&& ";
        if (ZVDBRET rc = append_comparison(text, s->table, c->field, mode, o->op2, c->value2, false)) return rc;
    }
    return 0;
}

// Makes the set's chosen index the record's default index, choosing it
// first when the criteria changed.
ZVDBRET choose_index(tagZVDBRESULTSET *s, tagZVDBRECORD *r, int32_t mode) {
    if (s->chosenindex == -1) {
        std::vector<const char *> names;
        for (int32_t i = 0; i < _zvdbListCount(s->criteria); i++) {
            const tagZVDBFIELD *f = criterion_at(s, i)->field;
            if (!f || !f->name) return ZVDB_NO_FIELD_NAME;
            names.push_back(f->name);
        }
        names.push_back(nullptr);
        ZVHANDLE ix = zvdbGetBestIndex(r, names.data(), mode);
        s->chosenindex = ix ? _zvdbListIndexOf(s->table->indexes, ix) : ZVDB_INDEX_PHYSICAL;
    }
    return zvdbSetDefaultIndex(r, s->chosenindex);
}

ZVDBRET switch_on(tagZVDBRESULTSET *s, tagZVDBRECORD *r, int32_t choose, int32_t mode) {
    if (r->filtertype != 0 && !r->resultseton) return ZVDB_TYPE_UNSUPPORTED;
    r->resultseton = 0;
    if (_zvdbListCount(s->criteria) == 0) return ZVDB_BAD_ARGUMENT;
    try {
        if (choose) {
            if (ZVDBRET rc = choose_index(s, r, mode)) return rc;
        }
        std::string text;
        if (ZVDBRET rc = criteria_text(s, mode, text)) return rc;
        // The caller's own filter is none while the result set drives it.
        char *base = _zvdb_strdup("");
        if (!base) return ZVDB_NO_MEMORY;
        _zvdb_free(r->filtertext2);
        r->filtertext2 = base;
        if (ZVDBRET rc = zvdbFilterRecord(r, text.c_str())) return rc;
    } catch (const std::bad_alloc &) {
        return ZVDB_NO_MEMORY;
    }
    r->resultset = s;
    r->resultseton = 1;
    return 0;
}

ZVDBRET switch_off(tagZVDBRECORD *r) {
    r->resultseton = 0;
    if (ZVDBRET rc = zvdbFilterRecord(r, nullptr)) return rc;
    r->resultset = nullptr;
    r->filtertext2 = static_cast<char *>(_zvdb_free(r->filtertext2));
    return 0;
}

}  // namespace

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API ZVHANDLE zvdbAllocateResultSet(ZVHANDLE table, const char *name) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE), nullptr;
    if (!name) return keep_code(table, ZVDB_NULL_ARGUMENT), nullptr;
    if (zvdbGetResultSetByName(t, name)) return keep_code(table, ZVDB_BAD_ARGUMENT), nullptr;
    auto *s = static_cast<tagZVDBRESULTSET *>(_zvdb_alloc(1, sizeof(tagZVDBRESULTSET)));
    if (s) {
        s->kind = ZVDB_RESULTSET_HANDLE;
        s->table = t;
        s->chosenindex = -1;
        s->name = _zvdb_strdup(name);
        s->criteria = _zvdbListAlloc();
    }
    if (!t->resultsets) t->resultsets = _zvdbListAlloc();
    if (!s || !s->name || !s->criteria || !t->resultsets || _zvdbListAdd(t->resultsets, s)) {
        if (s) {
            _zvdb_free(s->name);
            _zvdbListFree(s->criteria);
        }
        _zvdb_free(s);
        return keep_code(table, ZVDB_NO_MEMORY), nullptr;
    }
    return s;
}

ZV_API ZVHANDLE zvdbGetResultSetByName(ZVHANDLE table, const char *name) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE), nullptr;
    for (int32_t i = 0; name && i < _zvdbListCount(t->resultsets); i++) {
        auto *s = static_cast<tagZVDBRESULTSET *>(t->resultsets->items[i]);
        if (std::strcmp(s->name, name) == 0) return s;
    }
    return nullptr;
}

ZV_API ZVHANDLE zvdbAddCriteria(ZVHANDLE resultset, ZVHANDLE field, const char *value1, const char *value2,
                                int32_t op) {
    tagZVDBRESULTSET *s = as_resultset(resultset);
    if (!s) return keep_code(resultset, ZVDB_BAD_TAG_HANDLE), nullptr;
    auto *f = field && handle_kind(field) == ZVDB_FIELD_HANDLE ? static_cast<tagZVDBFIELD *>(field) : nullptr;
    if (!f) return keep_code(resultset, ZVDB_NO_FIELD), nullptr;
    if (f->table != s->table) return keep_code(resultset, ZVDB_NO_FIELD_NAME), nullptr;
    if (!operator_of(op)) return keep_code(resultset, ZVDB_BAD_ARGUMENT), nullptr;
    auto *c = static_cast<tagZVDBCRITERIA *>(_zvdb_alloc(1, sizeof(tagZVDBCRITERIA)));
    bool ok = c != nullptr;
    if (ok) {
        c->kind = ZVDB_CRITERIA_HANDLE;
        c->resultset = s;
        c->field = f;
        c->op = op;
        c->value1 = _zvdb_strdup(value1 ? value1 : "");
        c->length1 = value1 ? stored_length(value1) : 1;
        if (value2 && *value2) {
            c->value2 = _zvdb_strdup(value2);
            c->length2 = stored_length(value2);
            ok = c->value2 != nullptr;
        }
        ok = ok && c->value1 && _zvdbListAdd(s->criteria, c) == 0;
    }
    if (!ok) {
        if (c) free_criterion(c);
        return keep_code(resultset, ZVDB_NO_MEMORY), nullptr;
    }
    s->chosenindex = -1;
    return c;
}

ZV_API ZVDBRET zvdbUpdateCriteria(ZVHANDLE criterion, const char *value1, const char *value2) {
    tagZVDBCRITERIA *c = as_criterion(criterion);
    if (!c) return keep_code(criterion, ZVDB_BAD_TAG_HANDLE);
    ZVDBRET rc = replace_value(&c->value1, c->length1, value1 ? value1 : "");
    if (rc == 0 && value2 && *value2) rc = replace_value(&c->value2, c->length2, value2);
    if (rc == 0 && !(value2 && *value2)) c->value2 = static_cast<char *>(_zvdb_free(c->value2));
    return keep_code(criterion, rc);
}

ZV_API ZVDBRET zvdbRemoveCriteria(ZVHANDLE resultset, ZVHANDLE criterion) {
    tagZVDBRESULTSET *s = as_resultset(resultset);
    tagZVDBCRITERIA *c = as_criterion(criterion);
    if (!s || !c) return keep_code(resultset, ZVDB_BAD_TAG_HANDLE);
    if (_zvdbListDeleteEx(s->criteria, c) != 0) return keep_code(resultset, ZVDB_BAD_ARGUMENT);
    free_criterion(c);
    s->chosenindex = -1;
    return 0;
}

ZV_API ZVDBRET zvdbFreeResultSet(ZVHANDLE resultset) {
    tagZVDBRESULTSET *s = as_resultset(resultset);
    if (!s) return keep_code(resultset, ZVDB_BAD_TAG_HANDLE);
    tagZVDBTABLE *t = s->table;
    if (t) {
        for (int32_t i = 0; i < _zvdbListCount(t->records); i++) {
            auto *r = static_cast<tagZVDBRECORD *>(t->records->items[i]);
            if (r->resultset != s) continue;
            // The filter stays, as the record's own.
            r->resultset = nullptr;
            r->resultseton = 0;
            r->filtertext2 = static_cast<char *>(_zvdb_free(r->filtertext2));
        }
        _zvdbListDeleteEx(t->resultsets, s);
    }
    for (int32_t i = 0; i < _zvdbListCount(s->criteria); i++) free_criterion(criterion_at(s, i));
    _zvdbListFree(s->criteria);
    _zvdb_free(s->name);
    _zvdb_free(s);
    return 0;
}

ZV_API ZVDBRET zvdbResultSetOnOff(ZVHANDLE resultset, ZVHANDLE record, int32_t on, int32_t chooseIndex,
                                  int32_t mode) {
    tagZVDBRESULTSET *s = as_resultset(resultset);
    if (!s) return keep_code(resultset, ZVDB_BAD_TAG_HANDLE);
    tagZVDBRECORD *r = record && handle_kind(record) == ZVDB_RECORD_HANDLE ? record_of(record) : nullptr;
    if (!r) return keep_code(resultset, ZVDB_NO_RECORD);
    ZVDBRET rc = 0;
    if (!r->table || !r->table->active) rc = ZVDB_NOT_ACTIVE;
    else if (r->table != s->table) rc = ZVDB_BAD_ARGUMENT;
    else rc = on ? switch_on(s, r, chooseIndex, mode) : switch_off(r);
    return keep_code(resultset, rc);
}

ZV_API ZVHANDLE zvdbGetActiveResultSet(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    return r ? r->resultset : nullptr;
}

}  // extern "C"
