// The evaluator: runs a parse tree against one record image on the
// instance's value stack.
//
// Design notes:
//  1. The stack area (1024 entries of 48 bytes) is taken on the first
//     evaluation of the instance and kept until the instance stops; an
//     evaluation takes no other memory unless an operator or function
//     makes a new text. Field texts and constant texts are pushed borrowed.
//  2. Every node leaves exactly one value on success (see eval.h); an
//     operator whose operand fails drops what its operands left and
//     reports the error after pushing INTEGER 0, so the stack never holds
//     stray values and owned texts are freed on every path.
//  3. A comparison with a NULL operand is false; arithmetic, bitwise and
//     unary operators and functions turn a NULL operand into a NULL
//     result. The final value is true when it is a non-zero integer.
//  4. Integers are 64-bit two's complement: addition, subtraction,
//     multiplication, negation and division by -1 wrap (computed unsigned).
//  5. Recursion follows the tree and is bounded by kMaxEvalDepth.
#include "engine/expr/eval.h"

#include <cmath>
#include <cstring>

#include "engine/core/instance.h"
#include "engine/expr/fields.h"
#include "engine/expr/textcmp.h"

namespace zv {

namespace {

inline PTVALUE *area() { return static_cast<PTVALUE *>(zvWNGV->evalwork); }
inline int32_t &top_of() { return zvWNGV->evaltop; }

inline void release(PTVALUE &v) {
    if (v.kind == PT_TEXT && !v.borrowed && v.v.text) zvputmem(v.v.text);
}

// The next free entry, zeroed; null when the stack is full.
inline PTVALUE *slot(uint32_t kind) {
    int32_t &t = top_of();
    if (t >= kStackEntries) return nullptr;
    PTVALUE *e = area() + t++;
    memset(e, 0, sizeof *e);
    e->kind = kind;
    return e;
}

inline bool wide_kind(uint32_t k) { return k == PT_STAMP || k == PT_NUMBER || k == PT_TEXT; }

// Pops the top entry as an integer (the stack is known to hold one).
int pop_integer(int64_t *out) {
    PTVALUE &v = area()[top_of() - 1];
    int rc = ExtractInteger(v, out);
    release(v);
    top_of()--;
    return rc;
}

// Ends an operator that failed: its operands dropped, INTEGER 0 pushed.
int fail_with(int32_t base, int code) {
    stack_cut(base);
    runPushInteger(0);
    return code;
}

// Runs one operand, which must leave exactly one value.
int run_one(PTNODE *n, PTRECINFO *ri, int32_t base) {
    if (int rc = runEXEC(n, ri)) return rc;
    return top_of() == base + 1 ? 0 : kExprUnderflow;
}

// Runs both children of a binary operator.
int runTREE(PTNODE *n, PTRECINFO *ri, int32_t base) {
    if (int rc = runEXEC(n->u.op.left, ri)) return rc;
    if (int rc = runEXEC(n->u.op.right, ri)) return rc;
    return top_of() == base + 2 ? 0 : kExprUnderflow;
}

// ---- Leaves ----------------------------------------------------------------------

int runVALUE(PTNODE *n, PTRECINFO *) {
    PTVALUE v = n->u.value;
    if (v.kind != PT_NULL && (v.kind < PT_INTEGER || v.kind > PT_VSET)) return kExprKind;
    // The node keeps its text: the stack borrows it.
    if (v.kind == PT_TEXT) v.borrowed = 1;
    return push_value(v);
}

int runISNULL(PTNODE *n, PTRECINFO *ri) {
    const uint32_t f = n->u.op.pay.field;
    if (!ri || f >= ri->present) return kExprField;
    const int isnull = fieldIsNULL(ri, f);
    return runPushInteger(n->kind == PT_ISNULL ? isnull : !isnull);
}

// ---- Comparisons -----------------------------------------------------------------

int runCOMPARE(PTNODE *n, PTRECINFO *ri) {
    const int32_t base = top_of();
    if (int rc = runTREE(n, ri, base)) {
        if (rc != kExprNull) return fail_with(base, rc);
        stack_cut(base);
        return runPushNULL();
    }
    const PTVALUE *a = area() + base;
    const PTVALUE *b = a + 1;
    if (a->kind == PT_NULL || b->kind == PT_NULL) {
        stack_cut(base);
        return runPushInteger(0);
    }
    int kind = int(a->kind);
    if ((a->kind == PT_TIME && b->kind == PT_TIMEMS) || (a->kind == PT_TIMEMS && b->kind == PT_TIME)) kind = PT_TIMEMS;
    int c = 0;
    int rc = Leafcmp(kind, a, b, &c, 0, 0);
    stack_cut(base);
    if (rc == kExprNull) return runPushNULL();
    if (rc) return fail_with(base, rc);
    bool r = false;
    switch (n->kind) {
    case PT_EQ: r = c == 0; break;
    case PT_NE: r = c != 0; break;
    case PT_LT: r = c < 0; break;
    case PT_LE: r = c <= 0; break;
    case PT_GT: r = c > 0; break;
    default: r = c >= 0; break;  // PT_GE
    }
    return runPushInteger(r);
}

// ---- Logical operators -------------------------------------------------------------

// Runs an operand and pops it as an integer: 0 with *x, 16 for NULL, or
// the error (the stack back at base in every case).
int logical_operand(PTNODE *n, PTRECINFO *ri, int32_t base, int64_t *x) {
    if (int rc = run_one(n, ri, base)) {
        stack_cut(base);
        return rc;
    }
    return pop_integer(x);
}

int runLOGIC(PTNODE *n, PTRECINFO *ri) {
    const int32_t base = top_of();
    const bool is_or = n->kind == PT_LOGOR;
    int64_t x = 0;
    int rc = logical_operand(n->u.op.left, ri, base, &x);
    if (rc == 0 && (is_or ? x != 0 : x == 0)) return runPushInteger(is_or ? 1 : 0);
    if (rc == 0) rc = logical_operand(n->u.op.right, ri, base, &x);
    if (rc == kExprNull) return runPushNULL();
    if (rc) return fail_with(base, rc);
    return runPushInteger(x != 0);
}

int runLOGNOT(PTNODE *n, PTRECINFO *ri) {
    const int32_t base = top_of();
    int64_t x = 0;
    int rc = logical_operand(n->u.op.left, ri, base, &x);
    if (rc == kExprNull) return runPushNULL();
    if (rc) return fail_with(base, rc);
    return runPushInteger(x == 0);
}

// Runs both operands of an arithmetic or bitwise operator: true with *a
// pointing at them; false when the operator is done, its failure or its
// NULL result pushed and its code in *code.
bool operands(PTNODE *n, PTRECINFO *ri, int32_t base, const PTVALUE **a, int *code) {
    if (int rc = runTREE(n, ri, base)) {
        *code = fail_with(base, rc);
        return false;
    }
    *a = area() + base;
    if ((*a)[0].kind != PT_NULL && (*a)[1].kind != PT_NULL) return true;
    stack_cut(base);
    *code = runPushNULL();
    return false;
}

// ---- Bitwise operators ---------------------------------------------------------------

int runBITS(PTNODE *n, PTRECINFO *ri) {
    const int32_t base = top_of();
    const PTVALUE *a;
    int code;
    if (!operands(n, ri, base, &a, &code)) return code;
    int64_t x = 0, y = 0;
    int ex = ExtractInteger(a[0], &x);
    int ey = ExtractInteger(a[1], &y);
    stack_cut(base);
    if (ex || ey) return fail_with(base, ex ? ex : ey);
    // The low 32 bits only; the result sign-extended.
    uint32_t lx = uint32_t(x), ly = uint32_t(y), r;
    if (n->kind == PT_BINOR) r = lx | ly;
    else if (n->kind == PT_BINXOR) r = lx ^ ly;
    else r = lx & ly;
    return runPushInteger(int32_t(r));
}

int runBINNOT(PTNODE *n, PTRECINFO *ri) {
    const int32_t base = top_of();
    if (int rc = run_one(n->u.op.left, ri, base)) return fail_with(base, rc);
    if (area()[base].kind == PT_NULL) return 0;
    int64_t x = 0;
    if (int rc = pop_integer(&x)) return fail_with(base, rc);
    return runPushInteger(~x);
}

// ---- Arithmetic ----------------------------------------------------------------------

int integer_arith(int op, int64_t x, int64_t y) {
    const uint64_t ux = uint64_t(x), uy = uint64_t(y);
    switch (op) {
    case PT_ADD: return runPushInteger(int64_t(ux + uy));
    case PT_SUB: return runPushInteger(int64_t(ux - uy));
    case PT_MUL: return runPushInteger(int64_t(ux * uy));
    case PT_DIV:
        if (y == 0) return runPushInteger(0), kExprDivide;
        if (y == -1) return runPushInteger(int64_t(0 - ux));
        return runPushInteger(x / y);
    default:  // PT_MOD
        if (y == 0) return runPushInteger(0), kExprDivide;
        if (y == -1) return runPushInteger(0);
        return runPushInteger(x % y);
    }
}

// Code of a failing decimal operation: 9 for a zero divisor, 4 otherwise.
int decimal_failure(int rc) { return rc == 4040 ? kExprDivide : kExprKind; }

int decimal_arith(int op, const tagZVNUMBER &x, const tagZVNUMBER &y) {
    tagZVNUMBER r;
    int rc = 0;
    switch (op) {
    case PT_ADD: rc = zvdbNumberAdd(&x, &y, &r); break;
    case PT_SUB: rc = zvdbNumberSub(&x, &y, &r); break;
    case PT_MUL: rc = zvdbNumberMul(&x, &y, &r); break;
    case PT_DIV: rc = zvdbNumberDiv(&x, &y, &r); break;
    default: {  // PT_MOD, on doubles
        double a = 0, b = 0;
        if (zvdbNumberToFloat(&x, &a)) a = 0;
        if (zvdbNumberToFloat(&y, &b)) b = 0;
        if (b == 0) return runPushInteger(0), kExprDivide;
        if (zvdbFloatToNumber(std::fmod(a, b), &r)) zvdbNumberZero(&r);
        break;
    }
    }
    if (rc) return runPushInteger(0), decimal_failure(rc);
    return runPushNumber(&r);
}

int runARITH(PTNODE *n, PTRECINFO *ri) {
    const int32_t base = top_of();
    const PTVALUE *a;
    int code;
    if (!operands(n, ri, base, &a, &code)) return code;
    int ex, ey;
    if (!wide_kind(a[0].kind) && !wide_kind(a[1].kind)) {
        int64_t x = 0, y = 0;
        ey = ExtractInteger(a[1], &y);
        ex = ExtractInteger(a[0], &x);
        stack_cut(base);
        if (!ex && !ey) return integer_arith(n->kind, x, y);
    } else {
        tagZVNUMBER x, y;
        ey = ExtractNumber(a[1], &y);
        ex = ExtractNumber(a[0], &x);
        stack_cut(base);
        if (!ex && !ey) return decimal_arith(n->kind, x, y);
    }
    // The right operand was popped first: its error counts first, NULL last.
    int err = ey && ey != kExprNull ? ey : ex && ex != kExprNull ? ex : kExprNull;
    return fail_with(base, err);
}

// ---- Unary operators -------------------------------------------------------------------

int runSIGNOP(PTNODE *n, PTRECINFO *ri) {
    const int32_t base = top_of();
    if (int rc = run_one(n->u.op.left, ri, base)) return fail_with(base, rc);
    const PTVALUE *v = area() + base;
    if (v->kind == PT_NULL) return 0;
    const bool minus = n->kind == PT_MINUS;
    if (wide_kind(v->kind)) {
        tagZVNUMBER x, r;
        int rc = ExtractNumber(*v, &x);
        stack_cut(base);
        if (rc) return fail_with(base, rc);
        if (!minus) return runPushNumber(&x);
        zvdbNumberNegate(&x, &r);
        return runPushNumber(&r);
    }
    int64_t x = 0;
    if (int rc = pop_integer(&x)) return fail_with(base, rc);
    return runPushInteger(minus ? int64_t(0 - uint64_t(x)) : x);
}

// ---- Cast ----------------------------------------------------------------------------------

// Replaces the value at base by its conversion to kind (kept apart so that
// the text buffer is not on the stack of every nested operator).
int cast_value(int32_t base, int kind) {
    char buf[256];
    PTVALUE out;
    int rc = extract_as(kind, area()[base], &out, buf, int32_t(sizeof buf));
    stack_cut(base);
    if (rc) return fail_with(base, rc);
    if (kind == PT_TEXT) return runPushText(out.v.text, int32_t(out.length), 0, 0);
    return push_value(out);
}

int runCAST(PTNODE *n, PTRECINFO *ri) {
    const int32_t base = top_of();
    int64_t target = 0;
    int rc = logical_operand(n->u.op.left, ri, base, &target);
    if (rc) return fail_with(base, rc);
    if (int e = run_one(n->u.op.right, ri, base)) return fail_with(base, e);
    const PTVALUE *v = area() + base;
    if (v->kind == PT_NULL || int64_t(v->kind) == target) return 0;
    if (target < PT_INTEGER || target > PT_TEXT) return fail_with(base, kExprKind);
    return cast_value(base, int(target));
}

// ---- Argument lists ------------------------------------------------------------------------

int runARGUMENT(PTNODE *n, PTRECINFO *ri) {
    if (n->u.op.left)
        if (int rc = runEXEC(n->u.op.left, ri)) return rc;
    return runEXEC(n->u.op.right, ri);
}

using RunFn = int (*)(PTNODE *, PTRECINFO *);

// By node kind - 8.
constexpr RunFn runtable[37] = {
    runFIELD,                                                // 8 PT_FIELD
    runVALUE, runVALUE, runVALUE, runVALUE, runVALUE,        // 9..13
    runVALUE, runVALUE, runVALUE,                            // 14..16
    nullptr, nullptr,                                        // 17 PT_INFO, 18 PT_RECINFO
    runVALUE,                                                // 19 PT_CONSTANT
    runLOGIC, runLOGIC,                                      // 20, 21
    runBITS, runBITS, runBITS,                               // 22..24
    runCOMPARE, runCOMPARE, runCOMPARE, runCOMPARE, runCOMPARE, runCOMPARE,  // 25..30
    runARITH, runARITH, runARITH, runARITH, runARITH,        // 31..35
    runSIGNOP, runSIGNOP,                                    // 36 PT_MINUS, 37 PT_PLUS
    runBINNOT, runLOGNOT, runCAST, runFUNCTION, runARGUMENT, // 38..42
    runISNULL, runISNULL,                                    // 43, 44
};

// Evaluates a tree into one value on an emptied stack.
int run_tree(void *tree, void *record, void *schema, int32_t fixlen, int32_t totlen) {
    INSTGV *g = zvWNGV;
    stack_cut(0);
    g->evaldepth = 0;
    auto *t = static_cast<PTNODE *>(tree);
    auto *rec = static_cast<const unsigned char *>(record);
    if (t->kind == PT_RECINFO) {
        PTNODE *info = t->u.op.left;
        PTRECINFO *ri = info && info->kind == PT_INFO ? info->u.op.pay.info : nullptr;
        if (ri) {
            ri->record = rec;
            ri->fixlen = fixlen;
            ri->totlen = totlen;
            if (int rc = fixDodaOffsets(ri)) return rc;
            return runEXEC(t->u.op.right, ri);
        }
    }
    // A tree without a layout of its own reads the record through one made
    // from the schema for this call.
    auto *map = schema ? makeDoda(static_cast<const unsigned char *>(schema), nullptr) : nullptr;
    if (!map) return kExprMemory;
    PTRECINFO ri{};
    ri.fields = map;
    ri.schema = static_cast<const unsigned char *>(schema);
    ri.record = rec;
    ri.fixlen = fixlen;
    ri.totlen = totlen;
    int rc = fixDodaOffsets(&ri);
    if (!rc) rc = runEXEC(t, &ri);
    zvputmem(map);
    return rc;
}

}  // namespace

// ---- The stack -----------------------------------------------------------------------------

int take_eval_area() {
    INSTGV *g = zvWNGV;
    if (g->evalwork) return 0;
    g->evalwork = zvgetmem(kEvalAreaSize);
    g->evaltop = 0;
    return g->evalwork ? 0 : set_uerr(435);
}

PTVALUE *stack_at(int32_t i) { return area() + i; }
int32_t stack_top() { return top_of(); }

void stack_cut(int32_t base) {
    INSTGV *g = zvWNGV;
    if (!g->evalwork) {
        g->evaltop = 0;
        return;
    }
    PTVALUE *s = area();
    int32_t &t = top_of();
    while (t > base) release(s[--t]);
}

int push_value(const PTVALUE &v) {
    int32_t &t = top_of();
    if (t >= kStackEntries) {
        PTVALUE copy = v;
        release(copy);
        return kExprOverflow;
    }
    area()[t++] = v;
    return 0;
}

int push_owned_text(unsigned char *bytes, uint32_t length, int flag) {
    PTVALUE *e = slot(PT_TEXT);
    if (!e) {
        zvputmem(bytes);
        return kExprOverflow;
    }
    e->v.text = bytes;
    e->length = bytes ? length : 0;
    e->textflag = uint8_t(flag);
    return 0;
}

int runPushInteger(int64_t value) {
    PTVALUE *e = slot(PT_INTEGER);
    if (!e) return kExprOverflow;
    e->v.integer = value;
    return 0;
}

namespace {
int push_u32(uint32_t kind, uint32_t value) {
    PTVALUE *e = slot(kind);
    if (!e) return kExprOverflow;
    e->v.u32 = value;
    return 0;
}
}  // namespace

int runPushDate(uint32_t date) { return push_u32(PT_DATE, date); }
int runPushTime(uint32_t time) { return push_u32(PT_TIME, time); }
int runPushTimeMsec(uint32_t time) { return push_u32(PT_TIMEMS, time); }

int runPushStamp(double stamp) {
    PTVALUE *e = slot(PT_STAMP);
    if (!e) return kExprOverflow;
    e->v.stamp = stamp;
    return 0;
}

int runPushNumber(const tagZVNUMBER *number) {
    PTVALUE *e = slot(PT_NUMBER);
    if (!e) return kExprOverflow;
    if (number) e->v.number = *number;
    else zvdbNumberZero(&e->v.number);
    return 0;
}

int runPushText(const unsigned char *bytes, int32_t length, int borrowed, int flag) {
    if (borrowed) {
        PTVALUE *e = slot(PT_TEXT);
        if (!e) return kExprOverflow;
        e->v.text = const_cast<unsigned char *>(bytes);
        e->length = bytes && length > 0 ? uint32_t(length) : 0;
        e->borrowed = 1;
        e->textflag = uint8_t(flag);
        return 0;
    }
    if (top_of() >= kStackEntries) return kExprOverflow;
    unsigned char *copy = nullptr;
    if (bytes && length > 0) {
        copy = static_cast<unsigned char *>(zvgetmem(length));
        if (!copy) return kExprMemory;
        memcpy(copy, bytes, size_t(length));
    }
    return push_owned_text(copy, copy ? uint32_t(length) : 0, flag);
}

int runPushNULL() { return slot(PT_NULL) ? 0 : kExprOverflow; }

int runPromote() {
    if (top_of() < 1) return kExprUnderflow;
    uint32_t k = area()[top_of() - 1].kind;
    if (k == PT_NULL) return PT_NULL;
    return wide_kind(k) ? PT_NUMBER : PT_INTEGER;
}

int runGetText(int32_t depth, char *buffer, int32_t *len) {
    if (depth < 0 || depth >= top_of()) {
        if (buffer && *len > 0) buffer[0] = 0;
        *len = 0;
        return kExprUnderflow;
    }
    return ExtractString(area()[top_of() - 1 - depth], buffer, len);
}

int runEXEC(PTNODE *node, PTRECINFO *ri) {
    if (!node) return kExprNode;
    const unsigned k = unsigned(node->kind - PT_FIELD);
    if (k >= sizeof runtable / sizeof runtable[0] || !runtable[k]) return kExprNode;
    int32_t &depth = zvWNGV->evaldepth;
    if (depth >= kMaxEvalDepth) return kExprOverflow;
    depth++;
    const int rc = runtable[k](node, ri);
    depth--;
    return rc;
}

namespace {

// Pops the top entry through a conversion into *out.
template <class T>
int pop_as(int (*extract)(const PTVALUE &, T *), T *out) {
    INSTGV *g = zvWNGV;
    if (!g || !g->evalwork || g->evaltop < 1) {
        if (out) memset(static_cast<void *>(out), 0, sizeof *out);
        return kExprUnderflow;
    }
    PTVALUE &v = area()[top_of() - 1];
    T value;
    int rc = extract(v, &value);
    if (out) *out = value;
    release(v);
    top_of()--;
    return rc;
}

}  // namespace

int runPopTimeMsec(uint32_t *out) { return pop_as<uint32_t>(ExtractTimeMsec, out); }
int runPopFloat(double *out) { return pop_as<double>(ExtractFloat, out); }

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int runPopInteger(int64_t *out) { return pop_as<int64_t>(ExtractInteger, out); }
ZV_API int runPopDate(ZVDATE *out) { return pop_as<uint32_t>(ExtractDate, out); }
ZV_API int runPopTime(ZVTIME *out) { return pop_as<uint32_t>(ExtractTime, out); }
ZV_API int runPopStamp(ZVDATETIME *out) { return pop_as<double>(ExtractStamp, out); }
ZV_API int runPopNumber(tagZVNUMBER *out) { return pop_as<tagZVNUMBER>(ExtractNumber, out); }

ZV_API int runPopString(char *buffer, int32_t *len) {
    INSTGV *g = zvWNGV;
    if (!buffer || !len || *len < 1) return kExprKind;
    buffer[0] = 0;
    if (!g || !g->evalwork || g->evaltop < 1) {
        *len = 0;
        return kExprUnderflow;
    }
    PTVALUE &v = area()[top_of() - 1];
    int rc = ExtractString(v, buffer, len);
    release(v);
    top_of()--;
    return rc;
}

ZV_API int cndxrun(void *tree, void *record, void *schema, int32_t fixlen, int32_t totlen) {
    INSTGV *g = zvWNGV;
    if (!g) return kExprMemory;
    if (!tree) return kExprNull;
    if (take_eval_area()) return kExprMemory;
    return run_tree(tree, record, schema, fixlen, totlen);
}

ZV_API int cndxeval(void *tree, void *record, void *schema, int32_t fixlen, int32_t totlen) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    if (take_eval_area()) {
        g->exprerr = kExprMemory;
        return -435;
    }
    int rc = tree ? run_tree(tree, record, schema, fixlen, totlen) : kExprNull;
    int result = 0;
    if (rc == 0 && g->evaltop > 0) {
        int64_t v = 0;
        int e = runPopInteger(&v);
        if (e == 0) result = v != 0;
        else if (e != kExprNull) rc = e;
    }
    g->exprerr = rc;
    stack_cut(0);
    return result;
}

ZV_API void cndxfree(void *tree) {
    if (tree) ptDestroy(static_cast<PTNODE *>(tree));
}

ZV_API int cndxSetCondIdxFlag(void *tree) {
    auto *t = static_cast<PTNODE *>(tree);
    if (!t) return kExprNull;
    if (t->kind == PT_RECINFO && t->u.op.left && t->u.op.left->kind == PT_INFO && t->u.op.left->u.op.pay.info)
        t->u.op.left->u.op.pay.info->flags |= 1;
    return 0;
}

}  // extern "C"
