// Record filters and expressions of record handles: the filter the engine
// applies to every read of the record's ISAM context, the type filter of a
// multi-record-type table, a conditional expression compiled for the
// record and evaluated against its image, and the evaluation of the
// table's parsed record expressions.
//
// Invariants:
//  1. filtertype 0: no filter is set in the engine for the record's
//     context and filtertext is NULL. Type 1: filtertext is an owned copy
//     of the text the engine parsed. Type 2: filtertext is the caller's
//     parse tree, which the engine owns from the moment it took it.
//  2. A filter is replaced only after the engine dropped the old one: a
//     failed clear leaves text and type as they were, so nothing is freed
//     that the record still reports or frees later.
//  3. exprtree is NULL, a parse tree (exprkind 0) or a callback block of
//     the engine pool (exprkind 1), released each by its own routine.
#include <cstring>

#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/records/record.h"
#include "recapi/records/set_calls.h"
#include "recapi/records/vtype_calls.h"
#include "recapi/schema/table.h"
#include "zarvo/zvdbpt.h"

namespace zv {

namespace {

// The evaluator's "none" code and the kind of a callback filter.
constexpr int kCallbackKind = 1;

// The engine's filter of the record's context removed; text and type
// follow only when the engine agreed.
ZVDBRET clear_filter(tagZVDBRECORD *r) {
    if (r->filtertype == 0) return 0;
    ZVDBRET rc = _zvdbRecordContext(r);
    if (rc == 0) {
        rc = r->filtertype == 1 ? _zvdbSETFLTR(r->table->datno, "") : _zvdbSETFLTRX(r->table->datno, nullptr);
    }
    if (rc) return rc;
    if (r->filtertype == 1) _zvdb_free(r->filtertext);
    r->filtertext = nullptr;
    r->filtertype = 0;
    return 0;
}

ZVDBRET set_filter(tagZVDBRECORD *r, const char *text, int type) {
    tagZVDBTABLE *t = r->table;
    if (!t || !t->active) return ZVDB_NOT_ACTIVE;
    if (r->resultseton) return ZVDB_TYPE_UNSUPPORTED;
    if (t->vtkind != 0) return ZVDB_NOT_SUPPORTED;
    if (ZVDBRET rc = clear_filter(r)) return rc;
    if (type == 0 || !text) return 0;
    if (type == 1) {
        if (!*text) return 0;
        char *copy = _zvdb_strdup(text);
        if (!copy) return ZVDB_NO_MEMORY;
        ZVDBRET rc = _zvdbRecordContext(r);
        if (rc == 0) rc = _zvdbSETFLTR(t->datno, copy);
        if (rc) {
            _zvdb_free(copy);
            return rc;
        }
        r->filtertext = copy;
        r->filtertype = 1;
        return 0;
    }
    if (type == 2) {
        ZVDBRET rc = _zvdbRecordContext(r);
        if (rc == 0) rc = _zvdbSETFLTRX(t->datno, const_cast<char *>(text));
        if (rc) return rc;
        r->filtertext = const_cast<char *>(text);
        r->filtertype = 2;
        return 0;
    }
    return ZVDB_BAD_MODE;
}

// The type filter of a multi-record-type table set on the record; the
// table's virtual mark is lifted meanwhile so that set_filter takes it.
ZVDBRET type_filter(tagZVDBRECORD *r) {
    tagZVDBTABLE *t = r->table;
    if (!t || t->vtkind != kZvdbTypeTable) return ZVDB_BAD_ARGUMENT;
    const char *text = nullptr;
    if (ZVDBRET rc = _zvdbTypeFilter(t, &text)) return rc;
    t->vtkind = 0;
    ZVDBRET rc = set_filter(r, text, 1);
    t->vtkind = kZvdbTypeTable;
    return rc;
}

// The record of a handle, bound to an open table: 4024, 4013, 4012.
ZVDBRET bound_record(ZVHANDLE record, tagZVDBRECORD **r) {
    *r = record_of(record);
    if (!*r) return ZVDB_NO_RECORD;
    if (!(*r)->table) return ZVDB_NO_TABLE;
    return (*r)->table->active ? 0 : ZVDB_NOT_ACTIVE;
}

// The record bound to an open table with its slots built, its image packed
// to its exact length and the table's expression schema read.
ZVDBRET packed_record(ZVHANDLE record, tagZVDBRECORD **r) {
    ZVDBRET rc = bound_record(record, r);
    if (rc == 0) rc = _zvdbInitRecord(*r);
    if (rc == 0) rc = _zvdbFixRecordBuffer(*r, 1);
    if (rc == 0) rc = expression_schema((*r)->table);
    return rc;
}

// Runs record expression n of the record's table, leaving its value on
// the evaluator's stack: 0, the prologue's codes, 4004 no expression n,
// 4071 + the evaluator's error.
ZVDBRET run_record_expression(ZVHANDLE record, int32_t n) {
    tagZVDBRECORD *r = nullptr;
    ZVDBRET rc = bound_record(record, &r);
    if (rc) return rc;
    void *tree = _zvdbListItem(r->table->cndxexprs, n);
    if (!tree) return ZVDB_BAD_ARGUMENT;
    if ((rc = packed_record(record, &r)) != 0) return rc;
    tagZVDBTABLE *t = r->table;
    const int e = cndxrun(tree, r->buffer, t->recdesc, int32_t(t->fixedlen), r->length);
    return e ? ZVDB_EXPR_FAILED + e : 0;
}

// The result of a pop after a run: 0, 4025 nothing on the stack, 4071 + the
// pop's error.
ZVDBRET pop_result(int e) {
    constexpr int kStackEmpty = 7;
    if (e == kStackEmpty) return ZVDB_BAD_MODE;
    return e ? ZVDB_EXPR_FAILED + e : 0;
}

// Record expression n on the record, its value popped into *out by pop.
template <typename T>
ZVDBRET evaluate_as(ZVHANDLE record, int32_t n, T *out, int (*pop)(T *)) {
    ZVDBRET rc = out ? run_record_expression(record, n) : ZVDB_NULL_ARGUMENT;
    if (rc == 0) rc = pop_result(pop(out));
    return keep_code(record, rc);
}

}  // namespace

}  // namespace zv

using namespace zv;

extern "C" {

void _zvdbDropFilter(tagZVDBRECORD *r) {
    if (r->filtertype == 1) _zvdb_free(r->filtertext);
    r->filtertext = nullptr;
    r->filtertype = 0;
    r->filtertext2 = static_cast<char *>(_zvdb_free(r->filtertext2));
    r->resultset = nullptr;
    r->resultseton = 0;
}

void _zvdbFreeExpression(tagZVDBRECORD *r) {
    if (r->exprkind == kCallbackKind) zvputmem(r->exprtree);
    else cndxfree(r->exprtree);
    r->exprtree = nullptr;
    r->exprkind = 0;
    r->exprtext = static_cast<char *>(_zvdb_free(r->exprtext));
}

// ---- Filters ----------------------------------------------------------------

ZV_API ZVDBRET zvdbSetFilter(ZVHANDLE record, const char *text, int32_t type) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    return keep_code(record, set_filter(r, text, type));
}

ZV_API ZVDBRET zvdbFilterRecord(ZVHANDLE record, const char *text) { return zvdbSetFilter(record, text, 1); }

ZV_API const char *zvdbGetFilter(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD), nullptr;
    return r->filtertext2 ? r->filtertext2 : r->filtertext;
}

ZV_API int zvdbIsFilteredRecord(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    return r && r->filtertype != 0;
}

ZV_API int32_t zvdbGetFilterType(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    return r ? r->filtertype : 0;
}

ZV_API ZVDBRET zvdbMTRFilter(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    return keep_code(record, type_filter(r));
}

ZV_API ZVDBRET zvdbFilterAll(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    const char *text = nullptr;
    if (t->vtkind != kZvdbTypeTable || _zvdbTypeFilter(t, &text) != 0 || !text || !*text) return 0;
    for (int32_t i = 0; i < _zvdbListCount(t->records); i++) {
        if (ZVDBRET rc = zvdbMTRFilter(t->records->items[i])) return rc;
    }
    return 0;
}

// ---- Conditional expressions ---------------------------------------------------

ZV_API ZVDBRET zvdbCndxCompile(ZVHANDLE record, const char *text) {
    tagZVDBRECORD *r = nullptr;
    ZVDBRET rc = bound_record(record, &r);
    if (rc == 0 && !text) rc = ZVDB_NULL_ARGUMENT;
    if (rc == 0 && !*text) rc = ZVDB_BAD_ARGUMENT;
    if (rc) return keep_code(record, rc);
    char *copy = _zvdb_strdup(text);
    if (!copy) return keep_code(record, ZVDB_NO_MEMORY);
    _zvdbFreeExpression(r);
    r->exprtext = copy;
    if ((rc = expression_schema(r->table)) != 0) return keep_code(record, rc);
    int kind = 0;
    r->exprtree = parse_expression(r->table, text, &rc, &kind);
    if (r->exprtree) r->exprkind = kind;
    return keep_code(record, rc);
}

ZV_API ZVDBRET zvdbCndxEval(ZVHANDLE record) {
    tagZVDBRECORD *r = nullptr;
    ZVDBRET rc = bound_record(record, &r);
    if (rc == 0 && !r->exprtree) rc = ZVDB_EXPR_FAILED;
    if (rc == 0) rc = packed_record(record, &r);
    if (rc) return keep_code(record, rc);
    tagZVDBTABLE *t = r->table;
    const int32_t fixlen = int32_t(t->fixedlen);
    const int truth = r->exprkind == kCallbackKind
                          ? clbkeval(r->exprtree, kCallbackKind, t->datno, r->buffer, t->recdesc, fixlen, r->length)
                          : cndxeval(r->exprtree, r->buffer, t->recdesc, fixlen, r->length);
    const int e = zvGetExprErrorCode();
    if (e) return keep_code(record, ZVDB_EXPR_FAILED + e);
    return truth > 0 ? 0 : keep_code(record, ZVDB_EXPR_FAILED);
}

ZV_API ZVDBRET zvdbCndxFree(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    _zvdbFreeExpression(r);
    return 0;
}

ZV_API const char *zvdbCndxGetExpression(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    return r ? r->exprtext : nullptr;
}

// ---- Record expressions ------------------------------------------------------------

ZV_API ZVDBRET zvdbEvalExprAsSigned(ZVHANDLE record, int32_t n, int32_t *out) {
    if (!out) return keep_code(record, ZVDB_NULL_ARGUMENT);
    int64_t v = 0;
    if (ZVDBRET rc = evaluate_as(record, n, &v, runPopInteger)) return rc;
    if (v < INT32_MIN || v > INT32_MAX) return keep_code(record, ZVDB_OVERFLOW);
    *out = int32_t(v);
    return 0;
}

ZV_API ZVDBRET zvdbEvalExprAsDate(ZVHANDLE record, int32_t n, ZVDATE *out) {
    return evaluate_as(record, n, out, runPopDate);
}

ZV_API ZVDBRET zvdbEvalExprAsTime(ZVHANDLE record, int32_t n, ZVTIME *out) {
    return evaluate_as(record, n, out, runPopTime);
}

ZV_API ZVDBRET zvdbEvalExprAsDateTime(ZVHANDLE record, int32_t n, ZVDATETIME *out) {
    return evaluate_as(record, n, out, runPopStamp);
}

ZV_API ZVDBRET zvdbEvalExprAsNumber(ZVHANDLE record, int32_t n, tagZVNUMBER *out) {
    return evaluate_as(record, n, out, runPopNumber);
}

ZV_API ZVDBRET zvdbEvalExprAsString(ZVHANDLE record, int32_t n, char *buffer, int32_t size) {
    ZVDBRET rc = buffer ? 0 : ZVDB_NULL_ARGUMENT;
    if (rc == 0 && size < 1) rc = ZVDB_BUFFER_SMALL;
    if (rc == 0) rc = run_record_expression(record, n);
    int32_t length = size;
    if (rc == 0) rc = pop_result(runPopString(buffer, &length));
    return keep_code(record, rc);
}

}  // extern "C"
