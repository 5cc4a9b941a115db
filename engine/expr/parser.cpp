// Parser of condition texts, and the entries that callers use.
//
// Recursive descent over the tokens of lexer.cpp, one function per level
// of the grammar:
//   start      expression END                      bound by ptPutRecinfo
//   expression binary operators, lowest first:     OR; AND; |; ^; &;
//              == !=; < > <= >=; + -; * / %        (all left-associative)
//   cast       ( int | unsigned | unsigned int | double ) cast
//              ! cast | NOT cast | ~ cast | + cast | - cast | primary
//   primary    constant | name | name IS [NOT] NULL | ( expression )
//              | function [ ( [ expression { , expression } ] ) ]
//              | CAST ( expression AS|, type-name )
// Binary operators are reduced on a small operator stack (left operands
// first), so a long chain costs no recursion; the stack never holds more
// operators than there are precedence levels.
//
// Invariants:
//  1. Every node built is either returned to the caller of a level or
//     destroyed before that level reports failure.
//  2. No tree higher than kMaxTreeHeight nodes is built (code 2), and the
//     recursion is bounded by kMaxNesting (code 2): the evaluator's own
//     recursion over the tree stays bounded.
#include "engine/expr/parser.h"

#include <cstring>

#include "engine/core/instance.h"
#include "engine/expr/expr_services.h"
#include "engine/expr/fields.h"
#include "engine/expr/lexer.h"

namespace zv {

namespace {

// A subtree with its height in nodes.
struct Sub {
    PTNODE *n = nullptr;
    int h = 0;
};

// Binary operators: node kind and precedence (higher binds tighter).
bool binary_op(int code, int *kind, int *prec) {
    switch (code) {
    case kTokOr: *kind = PT_LOGOR, *prec = 1; return true;
    case kTokAnd: *kind = PT_LOGAND, *prec = 2; return true;
    case '|': *kind = PT_BINOR, *prec = 3; return true;
    case '^': *kind = PT_BINXOR, *prec = 4; return true;
    case '&': *kind = PT_BINAND, *prec = 5; return true;
    case kTokEQ: *kind = PT_EQ, *prec = 6; return true;
    case kTokNE: *kind = PT_NE, *prec = 6; return true;
    case kTokLT: *kind = PT_LT, *prec = 7; return true;
    case kTokGT: *kind = PT_GT, *prec = 7; return true;
    case kTokLE: *kind = PT_LE, *prec = 7; return true;
    case kTokGE: *kind = PT_GE, *prec = 7; return true;
    case '+': *kind = PT_ADD, *prec = 8; return true;
    case '-': *kind = PT_SUB, *prec = 8; return true;
    case '*': *kind = PT_MUL, *prec = 9; return true;
    case '/': *kind = PT_DIV, *prec = 9; return true;
    case '%': *kind = PT_MOD, *prec = 9; return true;
    default: return false;
    }
}
constexpr int kLevels = 9;

class Parser {
public:
    Parser(LexState *lex, const unsigned char *schema, const void *names)
        : lex_(lex), schema_(schema), names_(names) {}
    ~Parser() {
        ptDestroy(tok_.node);
        if (has_ahead_) ptDestroy(ahead_.node);
    }
    Parser(const Parser &) = delete;
    Parser &operator=(const Parser &) = delete;

    int run(PTNODE **out) {
        next();
        Sub e;
        if (!expression(&e)) return err_;
        if (tok_.code != kTokEnd) {
            ptDestroy(e.n);
            return fail(1);
        }
        PTNODE *root = ptPutRecinfo(schema_, names_, e.n);
        if (!root) {
            ptDestroy(e.n);
            return fail(1);
        }
        *out = root;
        return 0;
    }

private:
    // ---- Tokens and failure ------------------------------------------------

    void next() {
        ptDestroy(tok_.node);  // a constant nobody took
        if (has_ahead_) {
            tok_ = ahead_;
            has_ahead_ = false;
        } else {
            LexScan(lex_, &tok_);
        }
    }
    int peek() {
        if (!has_ahead_) {
            LexScan(lex_, &ahead_);
            has_ahead_ = true;
        }
        return ahead_.code;
    }
    bool accept(int code) {
        if (tok_.code != code) return false;
        next();
        return true;
    }
    int fail(int code) {
        if (!err_) err_ = code;
        return err_;
    }
    bool syntax() {
        fail(1);
        return false;
    }

    // Recursion guard of the levels that nest.
    struct Nest {
        Parser *p;
        bool ok;
        explicit Nest(Parser *pp) : p(pp), ok(++pp->depth_ <= kMaxNesting) {
            if (!ok) p->fail(2);
        }
        ~Nest() { p->depth_--; }
    };

    // ---- Node building: the operands belong to the result, or are destroyed

    bool make(int kind, int type, Sub l, Sub r, Sub *out) {
        int h = 1 + (l.h > r.h ? l.h : r.h);
        if (h > kMaxTreeHeight) {
            ptDestroy(l.n);
            ptDestroy(r.n);
            fail(2);
            return false;
        }
        PTNODE *n = ptPutNode(kind, type, l.n, r.n);
        if (!n) {
            ptDestroy(l.n);
            ptDestroy(r.n);
            return syntax();
        }
        *out = Sub{n, h};
        return true;
    }

    // Appends e to an argument list; on failure both are destroyed.
    bool add_argument(Sub *list, Sub e) {
        int h = 1 + (list->h > e.h ? list->h : e.h);
        PTNODE *n = h > kMaxTreeHeight ? nullptr : ptAddToExprList(list->n, e.n);
        if (!n) {
            ptDestroy(list->n);
            ptDestroy(e.n);
            *list = Sub{};
            return h > kMaxTreeHeight ? (fail(2), false) : syntax();
        }
        *list = Sub{n, h};
        return true;
    }

    bool constant(PTNODE *n, Sub *out) {
        if (!n) return syntax();
        *out = Sub{n, 1};
        return true;
    }

    // A cast node over an operand: the target kind as its left child.
    bool cast_node(int target, Sub operand, Sub *out) {
        Sub kind;
        if (!constant(ptPutInteger(target), &kind)) {
            ptDestroy(operand.n);
            return false;
        }
        return make(PT_CAST, target, kind, operand, out);
    }

    // ---- Grammar -----------------------------------------------------------

    bool expression(Sub *out) {
        Nest nest(this);
        if (!nest.ok) return false;
        Sub vals[kLevels + 1];
        int ops[kLevels];
        int precs[kLevels];
        int nv = 0, no = 0;
        auto drop_all = [&] {
            for (int i = 0; i < nv; i++) ptDestroy(vals[i].n);
            return false;
        };
        auto reduce = [&] {
            Sub r = vals[--nv];
            Sub l = vals[--nv];
            int kind = ops[--no];
            int type = kind >= PT_ADD ? ptDuplexNumeric(l.n, r.n) : PT_INTEGER;
            Sub x;
            if (!make(kind, type, l, r, &x)) return false;
            vals[nv++] = x;
            return true;
        };
        if (!cast_expr(&vals[nv])) return false;
        nv++;
        int kind, prec;
        while (binary_op(tok_.code, &kind, &prec)) {
            next();
            while (no > 0 && precs[no - 1] >= prec)
                if (!reduce()) return drop_all();
            ops[no] = kind;
            precs[no] = prec;
            no++;
            if (!cast_expr(&vals[nv])) return drop_all();
            nv++;
        }
        while (no > 0)
            if (!reduce()) return drop_all();
        *out = vals[0];
        return true;
    }

    // The operand of a unary operator or C cast, one nesting level down.
    bool operand(Sub *out) {
        Nest nest(this);
        return nest.ok && cast_expr(out);
    }

    bool cast_expr(Sub *out) {
        int code = tok_.code;
        if (code == '(') {
            int t = peek();
            if (t == kTokInt || t == kTokUnsigned || t == kTokDouble) {
                next();
                next();
                int target = t == kTokDouble ? PT_NUMBER : PT_INTEGER;
                if (t == kTokUnsigned) accept(kTokInt);
                if (!accept(')')) return syntax();
                Sub x;
                if (!operand(&x)) return false;
                return cast_node(target, x, out);
            }
            return primary(out);
        }
        int kind = 0;
        if (code == '!' || code == kTokNot) kind = PT_LOGNOT;
        else if (code == '~') kind = PT_BINNOT;
        else if (code == '+') kind = PT_PLUS;
        else if (code == '-') kind = PT_MINUS;
        if (!kind) return primary(out);
        next();
        Sub x;
        if (!operand(&x)) return false;
        int type = (kind == PT_PLUS || kind == PT_MINUS) ? ptGetExprType(x.n) : PT_INTEGER;
        return make(kind, type, x, Sub{}, out);
    }

    bool primary(Sub *out) {
        switch (tok_.code) {
        case kTokConst: {
            PTNODE *n = tok_.node;
            tok_.node = nullptr;
            next();
            return constant(n, out);
        }
        case kTokIdent:
            return field(out);
        case '(': {
            next();
            Sub e;
            if (!expression(&e)) return false;
            if (!accept(')')) {
                ptDestroy(e.n);
                return syntax();
            }
            *out = e;
            return true;
        }
        case kTokFunc:
            return function(out);
        case kTokCast:
            return sql_cast(out);
        default:
            return syntax();
        }
    }

    // name, name IS NULL, name IS NOT NULL.
    bool field(Sub *out) {
        int type = 0;
        int32_t fld = ptFieldName(schema_, names_, tok_.text, tok_.len, &type);
        next();
        int kind = PT_FIELD;
        if (accept(kTokIs)) {
            kind = accept(kTokNot) ? PT_NOTNULL : PT_ISNULL;
            if (!accept(kTokNull)) return syntax();
            type = PT_INTEGER;
        }
        if (fld < 0) return syntax();
        return constant(ptPutField(kind, type, uint32_t(fld)), out);
    }

    // function, function(), function(arguments).
    bool function(Sub *out) {
        const Keyword *kw = tok_.kw;
        next();
        Sub args;
        int count = 0;
        if (accept('(') && !accept(')')) {
            for (;;) {
                Sub e;
                if (!expression(&e)) {
                    ptDestroy(args.n);
                    return false;
                }
                if (!add_argument(&args, e)) return false;
                count++;
                if (accept(',')) continue;
                if (accept(')')) break;
                ptDestroy(args.n);
                return syntax();
            }
        }
        if (count < kw->minargs || count > kw->maxargs) {
            ptDestroy(args.n);
            return syntax();
        }
        Sub number;
        if (!constant(ptPutInteger(kw->funcno), &number)) {
            ptDestroy(args.n);
            return false;
        }
        if (kw->udf) ptSetUDFNode(number.n, kw->udf);
        return make(PT_FUNCTION, kw->result, args, number, out);
    }

    // CAST(expression AS type) or CAST(expression, type).
    bool sql_cast(Sub *out) {
        next();
        if (!accept('(')) return syntax();
        Sub e;
        if (!expression(&e)) return false;
        const Keyword *type = nullptr;
        if ((accept(kTokAs) || accept(',')) && tok_.code == kTokIdent) {
            type = find_keyword(tok_.text, tok_.len);
            next();
        }
        if (!type || type->cls != kClassType || !accept(')')) {
            ptDestroy(e.n);
            return syntax();
        }
        return cast_node(type->result, e, out);
    }

    LexState *lex_;
    const unsigned char *schema_;
    const void *names_;
    LexToken tok_;
    LexToken ahead_;
    bool has_ahead_ = false;
    int err_ = 0;
    int depth_ = 0;
};

}  // namespace

int zvcxparse(const unsigned char *schema, const void *names, const char *text, int32_t length,
              PTNODE **tree) {
    *tree = nullptr;
    LexState *lex = yylexcreate(text, length);
    if (!lex) return 2;
    int rc;
    {
        Parser p(lex, schema, names);
        rc = p.run(tree);
    }
    yylexdestroy(lex);
    return rc;
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API void *cndxparse(void *schema, void *names, const char *text, int32_t len, int *kind) {
    INSTGV *g = zvWNGV;
    if (kind) *kind = 0;
    if (!g) return nullptr;
    if (!text) {
        set_uerr(540);
        return nullptr;
    }
    if (len >= 2 && text[0] == '@') {
        // A callback filter: the use count, then the text and a NUL.
        if (kind) *kind = 1;
        auto *block = static_cast<unsigned char *>(zvgetmem(len + 4));
        if (!block) {
            set_uerr(82);
            return nullptr;
        }
        uint32_t uses = 1;
        memcpy(block, &uses, 4);
        memcpy(block + 4, text, size_t(len - 1));
        block[4 + len - 1] = 0;
        return block;
    }
    if (len >= 2 && text[0] == '#') {
        set_uerr(454);
        return nullptr;
    }
    PTNODE *tree = nullptr;
    int rc = zvcxparse(static_cast<const unsigned char *>(schema), names, text, len, &tree);
    g->exprerr = rc;
    return rc ? nullptr : tree;
}

ZV_API int zvGetExprErrorCode(void) { return zvWNGV ? zvWNGV->exprerr : 0; }

}  // extern "C"
