// Regular-expression matcher.
//
// A pattern is compiled in two passes over the same parser: the first only
// counts the program size (emission goes to a dummy slot), the second emits
// into one block allocated to that size. Matching is a depth-first
// backtracking interpreter over the nodes (see regex.h for the layout). Hints
// computed at compile time narrow the search: the first character every match
// must begin with, the anchored flag, and a literal every match must contain.
//
// Node chains: every node's next-offset leads to the node that follows it in
// sequence; an OP_BRANCH node's operand is the sequence right after it, and
// the branches of one expression are chained by their next-offsets and all
// end at a common node. A repeated complex operand loops through an
// OP_LOOP_BACK node whose offset counts backwards; loop-back nodes sit only
// inside branch operands, never on a chain that regtail walks.
#include "recapi/values/regex.h"

#include <cstring>

namespace {

using namespace zv;

// Compile flags of a parsed item.
enum : int {
    kHasWidth = 1,  // never matches the empty text
    kSimple = 2,    // matches exactly one character (STAR/PLUS operand)
    kSpStart = 4,   // starts with a repeated operand
};

// Deepest recursion of the interpreter; a match that needs more gives up
// with error 3 rather than exhaust the stack.
constexpr int kMaxDepth = 5000;

// Program code bytes: magic byte, then nodes.
using Node = unsigned char;

inline Node *operand(Node *p) { return p + 3; }
inline const Node *operand(const Node *p) { return p + 3; }
inline const char *operand_text(const Node *p) { return reinterpret_cast<const char *>(p + 3); }

const Node *next_node(const Node *p) {
    int off = (p[1] << 8) | p[2];
    if (off == 0) return nullptr;
    return p[0] == OP_LOOP_BACK ? p - off : p + off;
}

Node *next_node(Node *p) { return const_cast<Node *>(next_node(static_cast<const Node *>(p))); }

bool is_repeat(char c) { return c == '*' || c == '+' || c == '?'; }

bool is_word(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// ---- Compiler --------------------------------------------------------------

class Compiler {
public:
    explicit Compiler(zvdb_regexp *c) : c_(c) {}

    // One pass over the pattern: sizing when `code` is null, else emitting
    // into it. Returns the expression's flags, or -1 with the error set.
    int pass(const char *pattern, Node *code) {
        c_->parse = pattern;
        c_->npar = 1;
        c_->size = 0;
        c_->emit = code ? code : &c_->dummy;
        emit_byte(kRegMagic);
        int flags;
        if (!reg(false, &flags)) return -1;
        return flags;
    }

private:
    zvdb_regexp *c_;

    bool sizing() const { return c_->emit == &c_->dummy; }

    Node *fail(int error) {
        if (!c_->error) c_->error = error;
        return nullptr;
    }

    // The next node of a chain, null at its end or while sizing.
    Node *chain_next(Node *p) { return (!p || p == &c_->dummy) ? nullptr : next_node(p); }

    Node *node(int op) {
        Node *ret = c_->emit;
        if (sizing()) {
            c_->size += 3;
            return ret;
        }
        ret[0] = Node(op);
        ret[1] = ret[2] = 0;
        c_->emit += 3;
        return ret;
    }

    void emit_byte(unsigned char b) {
        if (sizing()) c_->size++;
        else *c_->emit++ = b;
    }

    // Inserts a node in front of opnd (moving opnd and what follows).
    void insert(int op, Node *opnd) {
        if (sizing()) {
            c_->size += 3;
            return;
        }
        std::memmove(opnd + 3, opnd, size_t(c_->emit - opnd));
        c_->emit += 3;
        opnd[0] = Node(op);
        opnd[1] = opnd[2] = 0;
    }

    // Sets the next-offset of the last node of the chain from p to val.
    void tail(Node *p, const Node *val) {
        if (!p || p == &c_->dummy) return;
        Node *scan = p;
        for (Node *n; (n = next_node(scan)) != nullptr;) scan = n;
        long off = scan[0] == OP_LOOP_BACK ? scan - val : val - scan;
        scan[1] = Node((off >> 8) & 0xFF);
        scan[2] = Node(off & 0xFF);
    }

    // tail() on the operand of a branch node; nothing for other nodes.
    void optail(Node *p, const Node *val) {
        if (!p || p == &c_->dummy || p[0] != OP_BRANCH) return;
        tail(operand(p), val);
    }

    // An expression: a group's body (paren) or the whole pattern.
    Node *reg(bool paren, int *flagp) {
        *flagp = kHasWidth;
        Node *ret = nullptr;
        int parno = 0;
        if (paren) {
            if (c_->npar >= kRegGroups) return fail(4);
            parno = c_->npar++;
            ret = node(OP_OPEN + parno);
        }
        int flags;
        Node *br = branch(&flags);
        if (!br) return nullptr;
        if (ret) tail(ret, br);
        else ret = br;
        if (!(flags & kHasWidth)) *flagp &= ~kHasWidth;
        *flagp |= flags & kSpStart;
        while (*c_->parse == '|' || *c_->parse == '\n') {
            c_->parse++;
            br = branch(&flags);
            if (!br) return nullptr;
            tail(ret, br);
            if (!(flags & kHasWidth)) *flagp &= ~kHasWidth;
            *flagp |= flags & kSpStart;
        }
        Node *ender = node(paren ? OP_CLOSE + parno : OP_END);
        tail(ret, ender);
        for (br = ret; br; br = chain_next(br)) optail(br, ender);
        if (paren) {
            if (*c_->parse != ')') return fail(5);
            c_->parse++;
        } else if (*c_->parse != '\0') {
            return fail(*c_->parse == ')' ? 5 : 6);
        }
        return ret;
    }

    // One alternative: a sequence of pieces (an empty one matches the empty text).
    Node *branch(int *flagp) {
        *flagp = 0;
        Node *ret = node(OP_BRANCH);
        Node *chain = nullptr;
        while (*c_->parse != '\0' && *c_->parse != '|' && *c_->parse != '\n' &&
               *c_->parse != ')') {
            int flags;
            Node *latest = piece(&flags);
            if (!latest) return nullptr;
            *flagp |= flags & kHasWidth;
            if (!chain) *flagp |= flags & kSpStart;
            else tail(chain, latest);
            chain = latest;
        }
        if (!chain) node(OP_EMPTY);
        return ret;
    }

    // An atom and its repetition operator.
    Node *piece(int *flagp) {
        int flags;
        Node *ret = atom(&flags);
        if (!ret) return nullptr;
        char op = *c_->parse;
        if (!is_repeat(op)) {
            *flagp = flags;
            return ret;
        }
        if (!(flags & kHasWidth) && op != '?') return fail(7);
        *flagp = op != '+' ? kSpStart : kHasWidth;
        if (op == '*' && (flags & kSimple)) {
            insert(OP_STAR, ret);
        } else if (op == '*') {
            // (x LOOP_BACK | EMPTY): one more repetition is tried first.
            insert(OP_BRANCH, ret);
            optail(ret, node(OP_LOOP_BACK));
            optail(ret, ret);
            tail(ret, node(OP_BRANCH));
            tail(ret, node(OP_EMPTY));
        } else if (op == '+' && (flags & kSimple)) {
            insert(OP_PLUS, ret);
        } else if (op == '+') {
            // x (LOOP_BACK | EMPTY)
            Node *next = node(OP_BRANCH);
            tail(ret, next);
            tail(node(OP_LOOP_BACK), ret);
            tail(next, node(OP_BRANCH));
            tail(ret, node(OP_EMPTY));
        } else {
            // (x | EMPTY)
            insert(OP_BRANCH, ret);
            tail(ret, node(OP_BRANCH));
            Node *next = node(OP_EMPTY);
            tail(ret, next);
            optail(ret, next);
        }
        c_->parse++;
        if (is_repeat(*c_->parse)) return fail(8);
        return ret;
    }

    // True where a run of literal characters stops.
    static bool run_stops(const char *p) {
        switch (*p) {
        case '^': case '$': case '.': case '[': case '(': case ')': case '|': case '\n':
        case '\0': case '*': case '+': case '?':
            return true;
        case '\\':
            return p[1] == '\0' || p[1] == '<' || p[1] == '>';
        default:
            return false;
        }
    }

    // A run of literal characters ("\c" stands for c) as one OP_LITERAL node.
    Node *literal_run(int *flagp) {
        const char *start = c_->parse;
        const char *end = start;
        const char *last = start;
        int count = 0;
        while (!run_stops(end)) {
            last = end;
            end += *end == '\\' ? 2 : 1;
            count++;
        }
        // A repetition applies to the last character alone.
        if (count > 1 && is_repeat(*end)) {
            end = last;
            count--;
        }
        Node *ret = node(OP_LITERAL);
        for (const char *p = start; p < end;) {
            if (*p == '\\') p++;
            emit_byte(static_cast<unsigned char>(*p++));
        }
        emit_byte(0);
        c_->parse = end;
        *flagp = kHasWidth | (count == 1 ? kSimple : 0);
        return ret;
    }

    // A bracket expression after its "[".
    Node *bracket(int *flagp) {
        Node *ret;
        if (*c_->parse == '^') {
            ret = node(OP_NOT_IN_SET);
            c_->parse++;
        } else {
            ret = node(OP_IN_SET);
        }
        int prev = -1;
        if (*c_->parse == ']' || *c_->parse == '-') {
            prev = static_cast<unsigned char>(*c_->parse++);
            emit_byte(static_cast<unsigned char>(prev));
        }
        while (*c_->parse != '\0' && *c_->parse != ']') {
            if (*c_->parse == '-') {
                c_->parse++;
                if (*c_->parse == ']' || *c_->parse == '\0') {
                    emit_byte('-');
                    prev = '-';
                } else {
                    int hi = static_cast<unsigned char>(*c_->parse++);
                    if (prev > hi) return fail(9);
                    for (int ch = prev + 1; ch <= hi; ch++)
                        if (ch > 0) emit_byte(static_cast<unsigned char>(ch));
                    prev = hi;
                }
            } else {
                prev = static_cast<unsigned char>(*c_->parse++);
                emit_byte(static_cast<unsigned char>(prev));
            }
        }
        emit_byte(0);
        if (*c_->parse != ']') return fail(10);
        c_->parse++;
        *flagp = kHasWidth | kSimple;
        return ret;
    }

    Node *atom(int *flagp) {
        *flagp = 0;
        char ch = *c_->parse;
        switch (ch) {
        case '^':
            c_->parse++;
            return node(OP_TEXT_START);
        case '$':
            c_->parse++;
            return node(OP_TEXT_END);
        case '.':
            c_->parse++;
            *flagp = kHasWidth | kSimple;
            return node(OP_ANY);
        case '[':
            c_->parse++;
            return bracket(flagp);
        case '(': {
            c_->parse++;
            int flags;
            Node *ret = reg(true, &flags);
            if (!ret) return nullptr;
            *flagp = flags & (kHasWidth | kSpStart);
            return ret;
        }
        case '\0': case '|': case '\n': case ')':
            return fail(20);
        case '?': case '+': case '*':
            return fail(11);
        case '\\':
            if (c_->parse[1] == '\0') return fail(12);
            if (c_->parse[1] == '<' || c_->parse[1] == '>') {
                c_->parse += 2;
                return node(c_->parse[-1] == '<' ? OP_WORD_START : OP_WORD_END);
            }
            return literal_run(flagp);
        default:
            return literal_run(flagp);
        }
    }
};

// Releases the program and the captured texts and zeroes the context.
void regreset(zvdb_regexp *c) {
    _zvdb_free(c->program);
    for (char *&t : c->text) t = static_cast<char *>(_zvdb_free(t));
    std::memset(c, 0, sizeof *c);
}

void release_texts(zvdb_regexp *c) {
    for (char *&t : c->text) t = static_cast<char *>(_zvdb_free(t));
}

// Two-pass compilation into c->program; the error number.
int _zvdb_regcomp(zvdb_regexp *c, const char *pattern) {
    Compiler comp(c);
    if (comp.pass(pattern, nullptr) < 0) return c->error;
    if (c->size > kRegMaxCode) return c->error = 2;
    size_t bytes = offsetof(RegProgram, code) + size_t(c->size);
    auto *r = static_cast<RegProgram *>(_zvdb_alloc(1, int32_t(bytes)));
    if (!r) return c->error = 3;
    int flags = comp.pass(pattern, r->code);
    if (flags < 0) {
        _zvdb_free(r);
        return c->error;
    }
    // Hints, when the top level has a single alternative.
    const Node *scan = r->code + 1;
    if (next_node(scan)[0] == OP_END) {
        scan = operand(scan);
        if (scan[0] == OP_LITERAL) r->start = operand_text(scan)[0];
        else if (scan[0] == OP_TEXT_START) r->anchored = true;
        if (flags & kSpStart) {
            const char *longest = nullptr;
            size_t len = 0;
            for (; scan; scan = next_node(scan)) {
                if (scan[0] == OP_LITERAL && std::strlen(operand_text(scan)) >= len) {
                    longest = operand_text(scan);
                    len = std::strlen(longest);
                }
            }
            r->must = longest;
            r->mustlen = len;
        }
    }
    c->program = r;
    return 0;
}

// ---- Interpreter -------------------------------------------------------------

// Consumes the longest run of the single-character node p; its length.
ptrdiff_t regrepeat(zvdb_regexp *c, const Node *p) {
    const char *scan = c->input;
    const char *opnd = operand_text(p);
    switch (p[0]) {
    case OP_ANY:
        scan += std::strlen(scan);
        break;
    case OP_LITERAL:
        while (*scan == *opnd) scan++;
        break;
    case OP_IN_SET:
        while (*scan && std::strchr(opnd, *scan)) scan++;
        break;
    case OP_NOT_IN_SET:
        while (*scan && !std::strchr(opnd, *scan)) scan++;
        break;
    default:
        c->error = 14;
        return 0;
    }
    ptrdiff_t count = scan - c->input;
    c->input = scan;
    return count;
}

struct DepthGuard {
    int &depth;
    explicit DepthGuard(int &d) : depth(d) { ++depth; }
    ~DepthGuard() { --depth; }
};

// Matches the program from node prog at c->input; true on success.
bool regmatch(zvdb_regexp *c, const Node *prog) {
    DepthGuard guard(c->depth);
    if (c->depth > kMaxDepth) {
        c->error = 3;
        return false;
    }
    const Node *scan = prog;
    while (scan) {
        const Node *next = next_node(scan);
        int op = scan[0];
        switch (op) {
        case OP_TEXT_START:
            if (c->input != c->bol) return false;
            break;
        case OP_TEXT_END:
            if (*c->input != '\0') return false;
            break;
        case OP_ANY:
            if (*c->input == '\0') return false;
            c->input++;
            break;
        case OP_LITERAL: {
            const char *opnd = operand_text(scan);
            size_t len = std::strlen(opnd);
            if (std::strncmp(opnd, c->input, len) != 0) return false;
            c->input += len;
            break;
        }
        case OP_IN_SET:
            if (*c->input == '\0' || !std::strchr(operand_text(scan), *c->input)) return false;
            c->input++;
            break;
        case OP_NOT_IN_SET:
            if (*c->input == '\0' || std::strchr(operand_text(scan), *c->input)) return false;
            c->input++;
            break;
        case OP_EMPTY:
        case OP_LOOP_BACK:
            break;
        case OP_WORD_START:
            if (!is_word(static_cast<unsigned char>(*c->input))) return false;
            if (c->input != c->bol && is_word(static_cast<unsigned char>(c->input[-1])))
                return false;
            break;
        case OP_WORD_END:
            if (is_word(static_cast<unsigned char>(*c->input))) return false;
            break;
        case OP_BRANCH:
            if (!next || next[0] != OP_BRANCH) {
                next = operand(scan);  // a single alternative: no choice to make
                break;
            }
            do {
                const char *save = c->input;
                if (regmatch(c, operand(scan))) return true;
                if (c->error) return false;
                c->input = save;
                scan = next_node(scan);
            } while (scan && scan[0] == OP_BRANCH);
            return false;
        case OP_STAR:
        case OP_PLUS: {
            char nextch = (next && next[0] == OP_LITERAL) ? operand_text(next)[0] : '\0';
            ptrdiff_t min = op == OP_STAR ? 0 : 1;
            const char *save = c->input;
            ptrdiff_t no = regrepeat(c, operand(scan));
            if (c->error) return false;
            for (; no >= min; no--) {
                if (nextch != '\0' && save[no] != nextch) continue;
                c->input = save + no;
                if (regmatch(c, next)) return true;
                if (c->error) return false;
            }
            return false;
        }
        case OP_END:
            return true;
        default:
            if (op > OP_OPEN && op < OP_OPEN + kRegGroups) {
                int n = op - OP_OPEN;
                const char *save = c->input;
                if (!regmatch(c, next)) return false;
                if (!c->startp[n]) c->startp[n] = save;
                return true;
            }
            if (op > OP_CLOSE && op < OP_CLOSE + kRegGroups) {
                int n = op - OP_CLOSE;
                const char *save = c->input;
                if (!regmatch(c, next)) return false;
                if (!c->endp[n]) c->endp[n] = save;
                return true;
            }
            c->error = 14;
            return false;
        }
        scan = next;
    }
    // A chain that ends without OP_END is a corrupted program.
    c->error = 14;
    return false;
}

// Tries a match at one position.
bool regtry(zvdb_regexp *c, const char *at) {
    c->input = at;
    for (int i = 0; i < kRegGroups; i++) c->startp[i] = c->endp[i] = nullptr;
    if (!regmatch(c, c->program->code + 1)) return false;
    c->startp[0] = at;
    c->endp[0] = c->input;
    return true;
}

// Searches the first match; true when found (errors are left in c->error).
bool _zvdb_regexec(zvdb_regexp *c, const char *text) {
    RegProgram *r = c->program;
    if (!r || !text) return false;
    if (r->code[0] != kRegMagic) {
        c->error = 13;
        return false;
    }
    if (r->must) {
        const char *s = text;
        while ((s = std::strchr(s, r->must[0])) != nullptr) {
            if (std::strncmp(s, r->must, r->mustlen) == 0) break;
            s++;
        }
        if (!s) return false;
    }
    c->bol = text;
    c->startp = r->startp;
    c->endp = r->endp;
    c->depth = 0;
    if (r->anchored) return regtry(c, text);
    const char *s = text;
    if (r->start) {
        while ((s = std::strchr(s, r->start)) != nullptr) {
            if (regtry(c, s)) return true;
            if (c->error) return false;
            s++;
        }
        return false;
    }
    for (;; s++) {
        if (regtry(c, s)) return true;
        if (c->error || *s == '\0') return false;
    }
}

}  // namespace

int _reglen(const zvdb_regexp *c, int n) {
    if (!c || !c->program || n < 0 || n >= kRegGroups) return 0;
    const char *s = c->program->startp[n], *e = c->program->endp[n];
    if (!s || !e || e < s) return 0;
    ptrdiff_t len = e - s;
    return len > INT32_MAX ? INT32_MAX : int(len);
}

int _regcopy(const zvdb_regexp *c, int n, char *buffer, int size) {
    if (!c || !buffer || n < 0 || n >= kRegGroups || size < 1) return 1;
    if (!c->program || !c->program->startp[n] || !c->program->endp[n]) return 17;
    int len = _reglen(c, n);
    if (len >= size) return 18;
    std::memcpy(buffer, c->program->startp[n], size_t(len));
    buffer[len] = '\0';
    return 0;
}

extern "C" {

ZV_API zvdb_regexp *zvdb_regnew(void) {
    return static_cast<zvdb_regexp *>(_zvdb_alloc(1, sizeof(zvdb_regexp)));
}

ZV_API int zvdb_regcomp(zvdb_regexp *context, const char *pattern) {
    if (!context || !pattern) return 1;
    regreset(context);
    return _zvdb_regcomp(context, pattern);
}

ZV_API int zvdb_regexec(zvdb_regexp *context, const char *text) {
    if (!context) return 1;
    if (!text) return context->error = 1;
    release_texts(context);
    context->error = 0;
    if (!_zvdb_regexec(context, text)) {
        if (!context->error) context->error = 17;
        return context->error;
    }
    // Copy every group that matched a non-empty text; a copy that finds no
    // memory makes the whole result 3.
    int status = 0;
    for (int n = 0; n < kRegGroups; n++) {
        int len = _reglen(context, n);
        if (len <= 0) continue;
        char *copy = _zvdb_stralloc(len);
        if (!copy) {
            status = 3;
            continue;
        }
        std::memcpy(copy, context->program->startp[n], size_t(len));
        context->text[n] = copy;
    }
    return context->error = status;
}

ZV_API const char *zvdb_regtext(const zvdb_regexp *context, int n) {
    if (!context || n < 0 || n >= kRegGroups) return nullptr;
    return context->text[n];
}

ZV_API int zvdb_regerror(const zvdb_regexp *context) { return context ? context->error : 1; }

ZV_API void zvdb_regfree(zvdb_regexp *context) {
    if (!context) return;
    regreset(context);
    _zvdb_free(context);
}

}  // extern "C"
