// User-defined functions: registration, lookup and calls.
//
// The functions of an instance form a list, the newest first, whose head
// and the switch after it live in the instance's expression state; udfAdd turns the switch
// on, so that the lexer finds the names of the functions; udfInit forgets
// the list (its blocks go with the pools when the instance stops) and
// udfTerm frees it, both turning the switch off.
//
// A call converts its arguments into the function's buffers (the last
// argument into buffer 0), runs the routine and pushes a copy of its
// result: the result buffer is reused by the next call of the same
// function, which may come before the first result has been used (as in
// "F(a) == F(b)"). A parse tree keeps the descriptor of the function it
// calls; a call checks that the descriptor is still registered, so a tree
// that outlives udfTerm fails (13) instead of reaching freed memory.
#include "engine/expr/udf.h"

#include <strings.h>

#include <cstring>
#include <initializer_list>

#include "engine/core/instance.h"
#include "engine/expr/eval.h"
#include "engine/expr/expr_services.h"
#include "engine/expr/exprstate.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

constexpr int32_t kTextBuffer = 256;
constexpr int kMaxArgs = 32767;
constexpr size_t kMaxName = 255;

// Bytes of a buffer of a value kind (every buffer holds at least 8).
int32_t buffer_size(int kind) {
    int32_t n = ptGetDataSize(kind);
    return n > 8 ? n : 8;
}

bool name_char(char c, bool first) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (!first && ((c >= '0' && c <= '9') || c == '.'));
}

// A name the lexer reads as one name and finds among no built-in words.
bool callable_name(const char *name) {
    size_t n = strlen(name);
    if (n == 0 || n > kMaxName) return false;
    for (size_t i = 0; i < n; i++)
        if (!name_char(name[i], i == 0)) return false;
    for (const char *w : {"AND", "OR", "XOR", "NOT", "IS", "NULL"})
        if (strcasecmp(name, w) == 0) return false;
    return find_keyword(name, int32_t(n)) == nullptr;
}

void free_desc(UDFDESC *d) {
    if (!d) return;
    if (d->kw) zvputmem(const_cast<char *>(d->kw->name));
    zvputmem(d->kw);
    zvputmem(d->argkinds);
    zvputmem(d->result);
    if (d->args)
        for (int32_t i = 0; i < d->argcount; i++) zvputmem(d->args[i]);
    zvputmem(d->args);
    zvputmem(d);
}

bool registered(const UDFDESC *d) {
    for (const UDFDESC *x = expr_state(zvWNGV).udfhead; x; x = x->next)
        if (x == d) return true;
    return false;
}

// Converts an argument into a buffer of value kind `kind`.
int fill_buffer(int kind, const PTVALUE &v, void *buf) {
    switch (kind) {
    case PT_INTEGER: {
        int64_t x;
        if (int rc = ExtractInteger(v, &x)) return rc;
        int32_t low = int32_t(x);
        memcpy(buf, &low, 4);
        return 0;
    }
    case PT_DATE: return ExtractDate(v, static_cast<uint32_t *>(buf));
    case PT_TIME: return ExtractTime(v, static_cast<uint32_t *>(buf));
    case PT_TIMEMS: return ExtractTimeMsec(v, static_cast<uint32_t *>(buf));
    case PT_STAMP: return ExtractStamp(v, static_cast<double *>(buf));
    case PT_NUMBER: return ExtractNumber(v, static_cast<tagZVNUMBER *>(buf));
    case PT_TEXT: {
        int32_t n = kTextBuffer;
        return ExtractString(v, static_cast<char *>(buf), &n);
    }
    default: return kExprKind;
    }
}

}  // namespace

int convZVType(int type) {
    switch (type) {
    case ZV_BOOL: case ZV_CHAR: case ZV_CHARU: case ZV_INT2: case ZV_INT2U: case ZV_INT4: case ZV_INT4U:
        return PT_INTEGER;
    case ZV_MONEY: case ZV_SFLOAT: case ZV_DFLOAT: case ZV_NUMBER: case ZV_EFLOAT: case ZV_CURRENCY:
    case ZV_BIGINT: case ZV_UBIGINT:
        return PT_NUMBER;
    case ZV_DATE: return PT_DATE;
    case ZV_TIME: return PT_TIME;
    case ZV_TIMES: case ZV_TIMES_MS: return PT_STAMP;
    case ZV_TIME_MS: return PT_TIMEMS;
    case ZV_ARRAY: return PT_TEXT;
    default: return type >= ZV_FSTRING && type <= ZV_4STRING ? PT_TEXT : -1;
    }
}

UDFDESC *udfFind(const char *name) {
    INSTGV *g = zvWNGV;
    if (!g || !name) return nullptr;
    for (UDFDESC *d = expr_state(g).udfhead; d; d = d->next)
        if (strcasecmp(d->kw->name, name) == 0) return d;
    return nullptr;
}

const Keyword *udf_keyword(const char *name, int32_t len) {
    INSTGV *g = zvWNGV;
    if (!g || !expr_state(g).udfnames || len <= 0) return nullptr;
    for (UDFDESC *d = expr_state(g).udfhead; d; d = d->next) {
        const char *n = d->kw->name;
        if (strlen(n) == size_t(len) && strncasecmp(n, name, size_t(len)) == 0) return d->kw;
    }
    return nullptr;
}

void expr_instance_freed(INSTGV *g) {
    expr_state(g).udfhead = nullptr;
    expr_state(g).udfnames = 0;
}

int udf_call(void *descriptor, const PTVALUE *args, int32_t count, PTVALUE *result) {
    auto *d = static_cast<UDFDESC *>(descriptor);
    if (!d || !registered(d)) return kExprFunction;
    if (count != d->argcount) return kExprArgs;
    const int rk = d->resultkind;
    if (rk < PT_INTEGER || rk > PT_TEXT) return kExprBadResult;
    for (int32_t j = 0; j < count; j++)
        if (int rc = fill_buffer(d->argkinds[j], args[count - 1 - j], d->args[j])) return rc;
    memset(d->result, 0, size_t(buffer_size(rk)));
    d->callback(d->args, d->result);
    memset(result, 0, sizeof *result);
    result->kind = uint32_t(rk);
    const auto *r = static_cast<const unsigned char *>(d->result);
    switch (rk) {
    case PT_INTEGER: {
        int32_t v;
        memcpy(&v, r, 4);
        result->v.integer = v;
        return 0;
    }
    case PT_DATE: case PT_TIME: case PT_TIMEMS: memcpy(&result->v.u32, r, 4); return 0;
    case PT_STAMP: memcpy(&result->v.stamp, r, 8); return 0;
    case PT_NUMBER: memcpy(&result->v.number, r, sizeof(tagZVNUMBER)); return 0;
    default: {  // PT_TEXT: up to its NUL, or the whole buffer
        const void *nul = memchr(r, 0, kTextBuffer);
        const int32_t n = nul ? int32_t(static_cast<const unsigned char *>(nul) - r) : kTextBuffer;
        unsigned char *copy = nullptr;
        if (n > 0) {
            copy = static_cast<unsigned char *>(zvgetmem(n));
            if (!copy) return kExprMemory;
            memcpy(copy, r, size_t(n));
        }
        result->v.text = copy;
        result->length = uint32_t(n);
        return 0;
    }
    }
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int udfAdd(const char *name, ZVUDFPROC routine, int resulttype, const int *argtypes, int argcount) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!name || !routine || !callable_name(name) || udfFind(name)) return kExprFunction;
    if (argcount < 0 || argcount > kMaxArgs || (argcount > 0 && !argtypes)) return kExprArgs;
    auto *d = static_cast<UDFDESC *>(zvgetmem(int32_t(sizeof(UDFDESC))));
    if (!d) return kExprMemory;
    d->callback = routine;
    d->resultkind = convZVType(resulttype);
    d->argcount = argcount;
    const size_t nlen = strlen(name);
    auto *copy = static_cast<char *>(zvgetmem(int32_t(nlen + 1)));
    d->kw = static_cast<Keyword *>(zvgetmem(int32_t(sizeof(Keyword))));
    d->result = zvgetmem(buffer_size(d->resultkind));
    if (argcount > 0) {
        d->argkinds = static_cast<int32_t *>(zvgetmem(argcount * int32_t(sizeof(int32_t))));
        d->args = static_cast<void **>(zvgetmem(argcount * int32_t(sizeof(void *))));
    }
    bool ok = copy && d->kw && d->result && (argcount == 0 || (d->argkinds && d->args));
    for (int32_t i = 0; ok && i < argcount; i++) {
        d->argkinds[i] = convZVType(argtypes[i]);
        d->args[i] = zvgetmem(buffer_size(d->argkinds[i]));
        ok = d->args[i] != nullptr;
    }
    if (!ok) {
        if (d->kw) d->kw->name = copy;
        else zvputmem(copy);
        free_desc(d);
        return kExprMemory;
    }
    memcpy(copy, name, nlen + 1);
    *d->kw = Keyword{copy, kClassFunction, argcount, argcount, d->resultkind, -1, d};
    d->next = expr_state(g).udfhead;
    expr_state(g).udfhead = d;
    expr_state(g).udfnames = 1;
    return 0;
}

ZV_API void udfInit(void) {
    if (zvWNGV) zv::expr_instance_freed(zvWNGV);
}

ZV_API void udfTerm(void) {
    INSTGV *g = zvWNGV;
    if (!g) return;
    UDFDESC *d = expr_state(g).udfhead;
    expr_state(g).udfhead = nullptr;
    expr_state(g).udfnames = 0;
    while (d) {
        UDFDESC *next = d->next;
        free_desc(d);
        d = next;
    }
}

}  // extern "C"
