// Table-level services that are neither fields nor indexes: the identity
// field (a field whose value the engine assigns from a seed and an
// increment), record expressions parsed against a table's record schema,
// the extension hint, and thin calls that forward header and lock settings
// to the engine, with the entry points this library does not offer.
//
// Invariants:
//  1. A table has at most one identity field: identityname is set exactly
//     while it has one, with its seed and increment beside it (64-bit both,
//     as the engine takes and keeps them).
//  2. Every tree in a table's expression list came from the expression
//     language's parser and is released with it (cndxfree) when the table
//     is freed; an expression's number is its position in the list.
#include <cstring>

#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/schema/field.h"
#include "recapi/schema/table.h"
#include "recapi/schema/tablefile.h"
#include "zarvo/zvdbpt.h"

namespace zv {

namespace {

// Field-change bit of the field made the identity field.
constexpr uint32_t kIdentitySet = 0x100;
// The table's operation while it is being altered.
constexpr int32_t kAltering = 3;
// Largest extension hint of a table.
constexpr uint32_t kMaxTableHint = 2;
constexpr uint32_t kMaxDatabaseHint = 4;

// The database a handle is, or NULL (its instance made current).
tagZVDBDATABASE *database_itself(ZVHANDLE handle) {
    if (!handle || handle_kind(handle) != ZVDB_DATABASE_HANDLE) return nullptr;
    return static_cast<tagZVDBDATABASE *>(zvdbGetDatabaseHandle(handle));
}

// The table of a handle that is a table handle itself (NULL otherwise).
tagZVDBTABLE *table_itself(ZVHANDLE h) {
    return h && handle_kind(h) == ZVDB_TABLE_HANDLE ? table_of(h) : nullptr;
}

// The open table of a handle into *t: 0, or 4013 or 4012 (kept).
ZVDBRET active_table(ZVHANDLE h, tagZVDBTABLE **t) {
    *t = table_of(h);
    if (!*t) return keep_code(h, ZVDB_NO_TABLE);
    return (*t)->active ? 0 : keep_code(h, ZVDB_NOT_ACTIVE);
}

// Whether an operator yields a truth value rather than a number: the
// logical operators, the comparisons and the null tests.
bool yields_truth(int kind) {
    switch (kind) {
    case PT_LOGOR:
    case PT_LOGAND:
    case PT_EQ:
    case PT_NE:
    case PT_LT:
    case PT_LE:
    case PT_GT:
    case PT_GE:
    case PT_LOGNOT:
    case PT_ISNULL:
    case PT_NOTNULL:
        return true;
    default:
        return false;
    }
}

// The field type that a record expression's condition reports: 0 for a
// truth value or a kind without a field type.
int32_t expression_field_type(const PTNODE *tree) {
    const PTNODE *condition = zvdbptGetRight(tree);
    if (!condition || yields_truth(zvdbptGetNodeType(condition))) return 0;
    switch (zvdbptGetExprType(condition)) {
    case PT_INTEGER: return ZV_INT4;
    case PT_DATE: return ZV_DATE;
    case PT_TIME: return ZV_TIME;
    case PT_TIMEMS: return ZV_TIME_MS;
    case PT_STAMP: return ZV_TIMES;
    case PT_NUMBER: return ZV_NUMBER;
    case PT_TEXT: return ZV_STRING;
    default: return 0;
    }
}

}  // namespace

ZVDBRET expression_schema(tagZVDBTABLE *t) {
    if (!t->doda) {
        if (ZVDBRET rc = _zvdbAllocDoda(t, 0)) return rc;
    }
    if (!t->recdesc) {
        void *desc = nullptr;
        if (int rc = _zvdbGETSCHEMA(t->datno, &desc, &t->recdescsize)) return rc;
        t->recdesc = static_cast<unsigned char *>(desc);
    }
    return 0;
}

void *parse_expression(tagZVDBTABLE *t, const char *text, ZVDBRET *rc, int *callback) {
    void *names = nullptr;
    int32_t length = 0;
    if ((*rc = _zvdbGETSCHEMANAMES(t->datno, &names, &length)) != 0) return nullptr;
    const size_t n = std::strlen(text);
    if (n >= INT32_MAX) {
        _zvdb_free(names);
        *rc = ZVDB_NAME_TOO_LONG;
        return nullptr;
    }
    uerr(0);
    int kind = 0;
    void *tree = cndxparse(t->recdesc, names, text, int32_t(n + 1), &kind);
    _zvdb_free(names);
    if (!tree) {
        // A text the parser refused leaves its error number; a text it
        // would not take at all (a full-text condition) leaves an engine
        // code instead.
        int code = zvGetUserErrorCode();
        *rc = code ? code : ZVDB_EXPR_FAILED + zvGetExprErrorCode();
        return nullptr;
    }
    if (callback) *callback = kind;
    if (kind != 0 && !callback) {
        // A callback filter is no expression with a value.
        zvputmem(tree);
        *rc = ZVDB_BAD_TYPE;
        return nullptr;
    }
    *rc = 0;
    return tree;
}

}  // namespace zv

using zv::keep_code;
using zv::table_of;

extern "C" {

ZV_API ZVDBRET zvdbSetIdentityField(ZVHANDLE table, const char *name, ZVBIGINT seed, ZVBIGINT increment) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    if (t->identityname) return keep_code(table, ZVDB_IDENTITY_EXISTS);
    tagZVDBFIELD *f = name ? zv::find_field(t, name) : nullptr;
    if (!f) return keep_code(table, ZVDB_NO_FIELD_NAME);
    char *copy = _zvdb_strdup(name);
    if (!copy) return keep_code(table, ZVDB_NO_MEMORY);
    if (t->operation != zv::kAltering) f->status |= zv::kIdentitySet;
    t->identityname = copy;
    t->identityseed = seed;
    t->identityincr = increment;
    zvdbSetError(table, 0);
    return 0;
}

ZV_API const char *zvdbGetIdentityFieldDetails(ZVHANDLE table, ZVBIGINT *seed, ZVBIGINT *increment) {
    tagZVDBTABLE *t;
    if (zv::active_table(table, &t)) return nullptr;
    if (seed) *seed = t->identityseed;
    if (increment) *increment = t->identityincr;
    zvdbSetError(table, 0);
    return t->identityname;
}

ZV_API const char *zvdbGetIdentityField(ZVHANDLE table) { return zvdbGetIdentityFieldDetails(table, nullptr, nullptr); }

ZV_API ZVDBRET zvdbGetLastIdentity(ZVHANDLE table, ZVBIGINT *value) {
    tagZVDBTABLE *t;
    if (ZVDBRET rc = zv::active_table(table, &t)) return rc;
    if (!t->identityname) return keep_code(table, ZVDB_NO_IDENTITY);
    if (!value) return keep_code(table, ZVDB_NULL_ARGUMENT);
    int64_t next = 0;
    int rc = getIDfield(t->datno, 2, &next);
    if (rc == 0) *value = ZVBIGINT(uint64_t(next) - uint64_t(t->identityincr));
    return keep_code(table, rc);
}

ZV_API ZVDBRET _zvdb_AddIDField(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    int32_t position = -1;
    for (int32_t i = 0; t->identityname && t->doda && i < t->dodacount; i++) {
        if (zv::same_name(t->doda[i].fsymb, t->identityname)) {
            position = i;
            break;
        }
    }
    if (position < 0) return ZVDB_NO_FIELD_NAME;
    return addIDfield(t->datno, t->identityseed, t->identityincr, position);
}

ZV_API ZVDBRET zvdbParseRecordExpr(ZVHANDLE table, const char *text, ZVFIELDTYPE *type, int32_t *number) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    if (!text) return keep_code(table, ZVDB_NULL_ARGUMENT);
    if (!*text) return keep_code(table, ZVDB_BAD_ARGUMENT);
    if (ZVDBRET rc = zv::expression_schema(t)) return keep_code(table, rc);
    ZVDBRET rc;
    void *tree = zv::parse_expression(t, text, &rc);
    if (!tree) return keep_code(table, rc);
    if ((!t->cndxexprs && !(t->cndxexprs = _zvdbListAlloc())) || _zvdbListAdd(t->cndxexprs, tree)) {
        cndxfree(tree);
        return keep_code(table, ZVDB_NO_MEMORY);
    }
    if (number) *number = t->cndxexprs->count - 1;
    const int32_t reported = zv::expression_field_type(static_cast<PTNODE *>(tree));
    if (!reported) return keep_code(table, ZVDB_BAD_TYPE);
    if (type) *type = reported;
    return 0;
}

ZV_API int32_t zvdbGetExtensionHint(ZVHANDLE handle) {
    if (tagZVDBTABLE *t = zv::table_itself(handle)) return int32_t(t->exthint);
    if (tagZVDBDATABASE *db = zv::database_itself(handle)) return int32_t(db->exthint);
    return keep_code(handle, ZVDB_BAD_TAG_HANDLE), -1;
}

ZV_API ZVDBRET zvdbSetExtensionHint(ZVHANDLE handle, uint32_t hint) {
    uint32_t *slot = nullptr;
    uint32_t most = 0;
    if (tagZVDBTABLE *t = zv::table_itself(handle)) {
        slot = &t->exthint;
        most = zv::kMaxTableHint;
    } else if (tagZVDBDATABASE *db = zv::database_itself(handle)) {
        slot = &db->exthint;
        most = zv::kMaxDatabaseHint;
    } else {
        return keep_code(handle, ZVDB_BAD_TAG_HANDLE);
    }
    if (hint > most) return keep_code(handle, ZVDB_BAD_ARGUMENT);
    *slot = hint;
    return 0;
}

ZV_API ZVDBRET zvdbPUTHDR(ZVHANDLE table, int32_t value, int mode) {
    tagZVDBTABLE *t;
    if (ZVDBRET rc = zv::active_table(table, &t)) return rc;
    return keep_code(table, PUTHDR(t->datno, value, mode));
}

ZV_API ZVDBRET zvdbLOKTIMOUT(ZVHANDLE table, int mode, int32_t timeout) {
    if (!table) return zvLOKTIMOUT(-1, mode, timeout);
    tagZVDBTABLE *t;
    if (ZVDBRET rc = zv::active_table(table, &t)) return rc;
    return keep_code(table, zvLOKTIMOUT(t->datno, mode, timeout));
}

ZV_API int zvSQLImportTable(ZVHANDLE, const char *, const char *, void *) { return ZV_SNOT_SUPPORTED; }

ZV_API ZVDBRET zvdbCheckRecordSchemaConversion(ZVHANDLE, void *) { return ZVDB_NOT_SUPPORTED; }

ZV_API ZVDBRET zvdbStartRecordSchemaConversion(ZVHANDLE, void *) { return ZVDB_NOT_SUPPORTED; }

}  // extern "C"
