// Parse trees: building, reading, sharing and releasing nodes, and the
// exported zvdbpt calls over them.
//
// Every node is one 64-byte block from the engine pool. An operator node
// keeps its children in `u.op`; a constant node keeps a PTVALUE in the same
// bytes, so only kinds 16..18 and 20..44 are read as having children.
//
// Invariants:
//  1. A node with use count n is released by n ptDestroy calls; the last
//     one frees the node and what it owns: a constant's text bytes, a value
//     set's member array and member texts, a layout's field map and index
//     array, and (for kinds with children) one use of each child.
//  2. A constant's text bytes have exactly one owner, the node (or, for a
//     member of a value set, the set): texts handed in from outside are
//     copied.
//  3. Release and the dump never recurse per tree level: a tree of any
//     height is released with O(1) extra memory.
#include "engine/expr/ptree.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/expr/fields.h"
#include "engine/expr/keywords.h"
#include "recapi/base/recapi_services.h"

namespace zv {

const char *const CmdName[kNodeKinds] = {
    "PT_NONE",    "PT_NULL",     "PT_BOOL",     "PT_UNSIGN",   "PT_MONEY",    "PT_BIGINT",
    "PT_CURRENCY", "PT_FLOAT",   "PT_FIELD",    "PT_INTEGER",  "PT_DATE",     "PT_TIME",
    "PT_TIMEMS",  "PT_STAMP",    "PT_NUMBER",   "PT_TEXT",     "PT_VSET",     "PT_INFO",
    "PT_RECINFO", "PT_CONSTANT", "PT_LOGOR",    "PT_LOGAND",   "PT_BINOR",    "PT_BINXOR",
    "PT_BINAND",  "PT_EQ",       "PT_NE",       "PT_LT",       "PT_LE",       "PT_GT",
    "PT_GE",      "PT_ADD",      "PT_SUB",      "PT_MUL",      "PT_DIV",      "PT_MOD",
    "PT_MINUS",   "PT_PLUS",     "PT_BINNOT",   "PT_LOGNOT",   "PT_CAST",     "PT_FUNCTION",
    "PT_ARGUMENT", "PT_ISNULL",  "PT_NOTNULL",
};

namespace {

// Kinds whose nodes keep children (read and released as such).
bool has_children(int kind) { return (kind >= PT_VSET && kind <= PT_RECINFO) || (kind >= PT_LOGOR && kind <= PT_NOTNULL); }

// Kinds that own their children when released.
bool owns_children(int kind) {
    return kind == PT_NONE || (kind >= PT_BOOL && kind <= PT_FLOAT) || kind == PT_VSET || kind == PT_RECINFO ||
           (kind >= PT_LOGOR && kind <= PT_ARGUMENT);
}

// Kinds whose node holds a PTVALUE.
bool holds_value(int kind) { return kind == PT_CONSTANT || kind == PT_NULL || (kind >= PT_INTEGER && kind <= PT_TEXT); }

PTNODE *constant(uint32_t vkind, int exprtype) {
    PTNODE *n = ptCreate(PT_CONSTANT, exprtype);
    if (n) n->u.value.kind = vkind;
    return n;
}

// A DATE, TIME or TIMEMS constant.
PTNODE *u32_constant(uint32_t vkind, uint32_t value) {
    PTNODE *n = constant(vkind, int(vkind));
    if (n) n->u.value.v.u32 = value;
    return n;
}

// Frees the bytes of a TEXT value and of a SET value's members.
void free_value(PTVALUE *v) {
    if (v->kind == PT_TEXT) {
        zvputmem(v->v.text);
    } else if (v->kind == PT_VSET && v->v.set) {
        for (uint32_t i = v->count; i >= 1; i--)
            if (v->v.set[i].kind == PT_TEXT) zvputmem(v->v.set[i].v.text);
        zvputmem(v->v.set);
    }
}

// Frees a node whose children (if any) have been taken care of.
void free_node(PTNODE *n) {
    if (n->kind == PT_CONSTANT) {
        free_value(&n->u.value);
    } else if (n->kind == PT_TEXT) {
        zvputmem(n->u.value.v.text);
    } else if (n->kind == PT_INFO && n->u.op.pay.info) {
        PTRECINFO *ri = n->u.op.pay.info;
        zvputmem(ri->fields);
        zvputmem(ri->visible);
        zvputmem(ri);
    }
    zvputmem(n);
}

}  // namespace

// ---- Builders ------------------------------------------------------------------

PTNODE *ptCreate(int kind, int exprtype) {
    if (!zvWNGV) return nullptr;
    auto *n = static_cast<PTNODE *>(zvgetmem(int32_t(sizeof(PTNODE))));
    if (!n) return nullptr;
    n->kind = int16_t(kind);
    n->exprtype = int16_t(exprtype);
    n->uses = 1;
    return n;
}

PTNODE *ptPutNode(int kind, int exprtype, PTNODE *left, PTNODE *right) {
    PTNODE *n = ptCreate(kind, exprtype);
    if (!n) return nullptr;
    n->u.op.left = left;
    n->u.op.right = right;
    return n;
}

PTNODE *ptPutField(int kind, int exprtype, uint32_t fieldno) {
    PTNODE *n = ptCreate(kind, exprtype);
    if (n) n->u.op.pay.field = fieldno;
    return n;
}

PTNODE *ptPutNULL() { return constant(PT_NULL, PT_NULL); }

PTNODE *ptPutInteger(int64_t value) {
    PTNODE *n = constant(PT_INTEGER, PT_INTEGER);
    if (n) n->u.value.v.integer = value;
    return n;
}

PTNODE *ptPutDate(uint32_t date) { return u32_constant(PT_DATE, date); }
PTNODE *ptPutTime(uint32_t time) { return u32_constant(PT_TIME, time); }
PTNODE *ptPutTimeMsec(uint32_t time) { return u32_constant(PT_TIMEMS, time); }

PTNODE *ptPutStamp(double stamp) {
    PTNODE *n = constant(PT_STAMP, PT_STAMP);
    if (n) n->u.value.v.stamp = stamp;
    return n;
}

PTNODE *ptPutNumber(const tagZVNUMBER *number) {
    if (!number) return nullptr;
    PTNODE *n = constant(PT_NUMBER, PT_NUMBER);
    if (n) memcpy(&n->u.value.v.number, number, sizeof *number);
    return n;
}

PTNODE *ptPutText(const char *bytes, int32_t length, int adopt) {
    PTNODE *n = constant(PT_TEXT, PT_TEXT);
    if (!n) return nullptr;
    PTVALUE &v = n->u.value;
    if (adopt) {
        v.v.text = reinterpret_cast<unsigned char *>(const_cast<char *>(bytes));
        v.borrowed = 1;
        v.length = bytes && length > 0 ? uint32_t(length) : 0;
        return n;
    }
    if (!bytes || length < 0) return n;
    auto *copy = static_cast<unsigned char *>(zvgetmem(length > 0 ? length : 1));
    if (!copy) {
        zvputmem(n);
        return nullptr;
    }
    memcpy(copy, bytes, size_t(length));
    v.v.text = copy;
    v.length = uint32_t(length);
    return n;
}

PTNODE *ptPutSet(int32_t capacity) {
    if (capacity < 0) return nullptr;
    int64_t bytes = (int64_t(capacity) + 1) * int64_t(sizeof(PTVALUE));
    if (bytes > 0x7FFFFFF0) return nullptr;
    PTNODE *n = constant(PT_VSET, PT_VSET);
    if (!n) return nullptr;
    auto *set = static_cast<PTVALUE *>(zvgetmem(int32_t(bytes)));
    if (!set) {
        zvputmem(n);
        return nullptr;
    }
    set[0].kind = PT_VSET;
    set[0].v.integer = 1;  // not yet prepared
    n->u.value.v.set = set;
    n->u.value.length = uint32_t(capacity);
    return n;
}

PTNODE *ptCopyIntoSet(PTNODE *setnode, const PTVALUE *value) {
    if (!setnode || !value || setnode->kind != PT_CONSTANT) return nullptr;
    PTVALUE &s = setnode->u.value;
    if (s.kind != PT_VSET || !s.v.set || s.count >= s.length) return nullptr;
    if (value->kind != PT_NULL && (value->kind < PT_INTEGER || value->kind > PT_TEXT)) return nullptr;
    PTVALUE m = *value;
    if (m.kind == PT_TEXT) {
        int32_t len = m.v.text ? int32_t(m.length) : 0;
        if (len < 0) len = 0;
        auto *copy = static_cast<unsigned char *>(zvgetmem(len > 0 ? len : 1));
        if (!copy) return nullptr;
        if (len > 0) memcpy(copy, m.v.text, size_t(len));
        m.v.text = copy;
        m.length = uint32_t(len);
        m.borrowed = 0;
    }
    s.v.set[++s.count] = m;
    return setnode;
}

PTNODE *ptAddToExprList(PTNODE *list, PTNODE *expr) {
    // The count lives in the 16-bit expression type.
    int count = ptArgCount(list) + 1;
    if (count > INT16_MAX) return nullptr;
    return ptPutNode(PT_ARGUMENT, count, list, expr);
}

PTNODE *ptPutRecinfo(const unsigned char *schema, const void *names, PTNODE *tree) {
    if (!zvWNGV) return nullptr;
    auto *ri = static_cast<PTRECINFO *>(zvgetmem(int32_t(sizeof(PTRECINFO))));
    PTNODE *info = ptCreate(PT_INFO, 0);
    PTNODE *root = ptCreate(PT_RECINFO, ptGetExprType(tree));
    const unsigned char *own_schema = nullptr;
    PTFIELDMAP *map = (ri && info && root) ? makeDoda(schema, names, &own_schema) : nullptr;
    SchemaView sv;
    sv.open(schema);  // makeDoda has checked it
    int32_t *visible = nullptr;
    if (map && sv.count > 0) visible = static_cast<int32_t *>(zvgetmem(sv.count * int32_t(sizeof(int32_t))));
    if (!map || (sv.count > 0 && !visible)) {
        zvputmem(ri);
        zvputmem(info);
        zvputmem(root);
        zvputmem(map);
        return nullptr;
    }
    ri->fields = map;
    ri->schema = own_schema;
    ri->visible = visible;
    ri->present = uint32_t(sv.count);
    int32_t counter = 0;
    for (int32_t i = 0; i < sv.count; i++) {
        const PTFIELDMAP &f = map[i];
        bool hidden = false;
        if (f.name && strcasecmp(f.name, "$NULFLD$") == 0 && f.type == ZV_ARRAY) {
            ri->nullfld = &map[i];
            hidden = true;
        } else if (f.name && ((strcasecmp(f.name, "$DELFLD$") == 0 && f.type == ZV_ARRAY) ||
                              (strcasecmp(f.name, "$ROWID$") == 0 && f.type == ZV_BIGINT))) {
            hidden = true;
        }
        visible[i] = hidden ? -1 : counter++;
    }
    info->u.op.pay.info = ri;
    root->u.op.left = info;
    root->u.op.right = tree;
    return root;
}

PTNODE *ptCopy(PTNODE *node) {
    if (node) node->uses++;
    return node;
}

// ---- Readers -------------------------------------------------------------------

int ptGetNodeType(const PTNODE *node) { return node ? node->kind : 0; }
int ptGetExprType(const PTNODE *node) { return node ? node->exprtype : 0; }
PTNODE *ptGetLeft(const PTNODE *node) { return node && has_children(node->kind) ? node->u.op.left : nullptr; }
PTNODE *ptGetRight(const PTNODE *node) { return node && has_children(node->kind) ? node->u.op.right : nullptr; }
int ptArgCount(const PTNODE *node) { return node && node->kind == PT_ARGUMENT ? node->exprtype : 0; }
uint32_t ptGetField(const PTNODE *node) { return node && node->kind > 7 ? node->u.op.pay.field : 0; }

const PTVALUE *ptGetValue(const PTNODE *node) { return node && holds_value(node->kind) ? &node->u.value : nullptr; }

int64_t ptGetInteger(const PTNODE *node) {
    const PTVALUE *v = ptGetValue(node);
    return v ? v->v.integer : 0;
}
unsigned char *ptGetText(const PTNODE *node) {
    const PTVALUE *v = ptGetValue(node);
    return v && v->kind == PT_TEXT ? v->v.text : nullptr;
}
int32_t ptGetLength(const PTNODE *node) {
    const PTVALUE *v = ptGetValue(node);
    return v ? int32_t(v->length) : 0;
}
uint32_t ptGetDate(const PTNODE *node) {
    const PTVALUE *v = ptGetValue(node);
    return v ? v->v.u32 : 0;
}
uint32_t ptGetTime(const PTNODE *node) { return ptGetDate(node); }
double ptGetStamp(const PTNODE *node) {
    const PTVALUE *v = ptGetValue(node);
    return v ? v->v.stamp : 0.0;
}
tagZVNUMBER *ptGetNumber(PTNODE *node) { return node && holds_value(node->kind) ? &node->u.value.v.number : nullptr; }
void *ptGetUDFNode(const PTNODE *node) { return node ? node->udf : nullptr; }
void ptSetUDFNode(PTNODE *node, void *descriptor) {
    if (node) node->udf = descriptor;
}

int ptDuplexNumeric(const PTNODE *a, const PTNODE *b) {
    auto wide = [](const PTNODE *n) {
        int t = ptGetExprType(n);
        return t == PT_STAMP || t == PT_NUMBER || t == PT_TEXT;
    };
    return wide(a) || wide(b) ? PT_NUMBER : PT_INTEGER;
}

int ptGetDataSize(int kind) {
    switch (kind) {
    case PT_INTEGER: case PT_DATE: case PT_TIME: case PT_TIMEMS: return 4;
    case PT_STAMP: return 8;
    case PT_NUMBER: return 20;
    case PT_TEXT: return 256;
    default: return -1;
    }
}

// ---- Release -------------------------------------------------------------------

void ptDestroy(PTNODE *node) {
    if (!node || !zvWNGV) return;
    // Nodes whose last use is gone and whose children are still to be
    // released form a stack linked through their payload word.
    PTNODE *pending = nullptr;
    auto release = [&pending](PTNODE *n) {
        if (!n) return;
        if (n->uses > 1) {
            n->uses--;
            return;
        }
        n->uses = 0;
        if (owns_children(n->kind)) {
            n->u.op.pay.next = pending;
            pending = n;
        } else {
            free_node(n);
        }
    };
    release(node);
    while (pending) {
        PTNODE *n = pending;
        pending = n->u.op.pay.next;
        PTNODE *left = n->u.op.left;
        PTNODE *right = n->u.op.right;
        zvputmem(n);
        release(left);
        release(right);
    }
}

void ptFreeMem(void *block) {
    if (zvWNGV) zvputmem(block);
}

// ---- Dump ------------------------------------------------------------------------

namespace {

void print_value(FILE *fp, const PTVALUE &v) {
    int y = 0, m = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    switch (v.kind) {
    case PT_NULL:
        break;
    case PT_INTEGER:
        fprintf(fp, "%lld", static_cast<long long>(v.v.integer));
        break;
    case PT_DATE:
        zvdbDateUnpack(v.v.u32, &y, &m, &d);
        fprintf(fp, "%04d-%02d-%02d", y, m, d);
        break;
    case PT_TIME:
        zvdbTimeUnpack(v.v.u32, &h, &mi, &s);
        fprintf(fp, "%02d:%02d:%02d:%03d", h, mi, s, 0);
        break;
    case PT_TIMEMS:
        zvdbTimeUnpackMsec(v.v.u32, &h, &mi, &s, &ms);
        fprintf(fp, "%02d:%02d:%02d:%03d", h, mi, s, ms);
        break;
    case PT_STAMP:
        zvdbDateTimeUnpack(v.v.stamp, &y, &m, &d, &h, &mi, &s);
        fprintf(fp, "%04d-%02d-%02d %02d:%02d:%02d", y, m, d, h, mi, s);
        break;
    case PT_NUMBER: {
        char buf[80] = "";
        zvdbNumberToString(&v.v.number, buf, int32_t(sizeof buf));
        fputs(buf, fp);
        break;
    }
    case PT_TEXT:
        for (uint32_t i = 0; v.v.text && i < v.length; i++) {
            unsigned char c = v.v.text[i];
            if (c >= 0x20 && c < 0x7F) fputc(c, fp);
            else fprintf(fp, "\\%02x", c);
        }
        break;
    case PT_VSET:
        fprintf(fp, "with %d elements", int(v.count));
        break;
    default:
        fputs("UNKNOWN TYPE", fp);
        break;
    }
}

void print_node(FILE *fp, const PTNODE *n, int depth) {
    int kind = n->kind;
    const char *name = kind >= 0 && kind < kNodeKinds ? CmdName[kind] : "UNKNOWN";
    if (kind == PT_CONSTANT) {
        const PTVALUE &v = n->u.value;
        fprintf(fp, "%-*s%s %s ", depth, "", name, v.kind < uint32_t(kNodeKinds) ? CmdName[v.kind] : "UNKNOWN");
        print_value(fp, v);
        fputc('\n', fp);
    } else if (kind == PT_FIELD || kind == PT_ISNULL || kind == PT_NOTNULL) {
        fprintf(fp, "%-*s%s %u\n", depth, "", name, n->u.op.pay.field);
    } else if (kind == PT_FUNCTION) {
        int64_t no = ptGetInteger(n->u.op.right);
        const char *fname = no >= 0 && no < kFunctions ? FunName[no] : "user function";
        fprintf(fp, "%-*s%s %s(%d args)\n", depth, "", name, fname, ptArgCount(n->u.op.left));
    } else {
        fprintf(fp, "%-*s%s\n", depth, "", name);
    }
}

}  // namespace

int ptPrint(const PTNODE *tree) {
    // A name of the engine's own: no link under it is followed.
    FILE *fp = plat_fopen_found("ptree.txt", "w", 0666);
    if (!fp) return -1;
    int rc = 0;
    try {
        // In order: the left subtree, the node, the right subtree.
        std::vector<std::pair<const PTNODE *, int>> stack;
        const PTNODE *cur = tree;
        int depth = 1;
        while (cur || !stack.empty()) {
            while (cur) {
                stack.emplace_back(cur, depth);
                cur = ptGetLeft(cur);
                depth++;
            }
            auto [n, d] = stack.back();
            stack.pop_back();
            print_node(fp, n, d);
            cur = ptGetRight(n);
            depth = d + 1;
        }
    } catch (...) {
        rc = -1;
    }
    if (plat_fclose(fp) != 0) rc = -1;
    return rc;
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API PTNODE *zvdbptPutNode(int kind, int exprtype, PTNODE *left, PTNODE *right) {
    if (kind < PT_LOGOR || kind > PT_ARGUMENT) return nullptr;
    if (left && left == right) return nullptr;
    return ptPutNode(kind, exprtype, left, right);
}

ZV_API PTNODE *zvdbptPutField(int kind, int exprtype, uint32_t fieldno) {
    if (kind != PT_FIELD && kind != PT_ISNULL && kind != PT_NOTNULL) return nullptr;
    return ptPutField(kind, exprtype, fieldno);
}

ZV_API PTNODE *zvdbptPutNULL(void) { return ptPutNULL(); }
ZV_API PTNODE *zvdbptPutInteger(int64_t value) { return ptPutInteger(value); }
ZV_API PTNODE *zvdbptPutDate(ZVDATE date) { return ptPutDate(date); }
ZV_API PTNODE *zvdbptPutTime(ZVTIME seconds) { return ptPutTime(seconds); }
ZV_API PTNODE *zvdbptPutTimeMsec(ZVTIME milliseconds) { return ptPutTimeMsec(milliseconds); }
ZV_API PTNODE *zvdbptPutStamp(ZVDATETIME stamp) { return ptPutStamp(stamp); }
ZV_API PTNODE *zvdbptPutNumber(const tagZVNUMBER *number) { return ptPutNumber(number); }

// A caller's buffer never becomes engine memory: the text is always copied.
ZV_API PTNODE *zvdbptPutText(const char *bytes, int32_t length, int) { return ptPutText(bytes, length, 0); }

ZV_API PTNODE *zvdbptPutSet(int32_t capacity) { return ptPutSet(capacity); }
ZV_API PTNODE *zvdbptCopyIntoSet(PTNODE *set, const PTVALUE *value) { return ptCopyIntoSet(set, value); }

ZV_API PTNODE *zvdbptAddToExprList(PTNODE *list, PTNODE *expr) {
    if (!expr || expr == list || (list && list->kind != PT_ARGUMENT)) return nullptr;
    return ptAddToExprList(list, expr);
}

ZV_API int64_t zvdbptGetInteger(const PTNODE *node) { return ptGetInteger(node); }
ZV_API int zvdbptGetExprType(const PTNODE *node) { return ptGetExprType(node); }
ZV_API int zvdbptGetNodeType(const PTNODE *node) { return ptGetNodeType(node); }
ZV_API PTNODE *zvdbptGetRight(const PTNODE *node) { return ptGetRight(node); }
ZV_API void zvdbptDestroy(PTNODE *node) { ptDestroy(node); }
ZV_API void zvdbptFreeMem(void *block) { ptFreeMem(block); }

ZV_API PTNODE *zvdbptPutRecinfo(ZVHANDLE table, const void *names, PTNODE *tree) {
    ZVHANDLE t = zvdbGetTableHandle(table);
    const unsigned char *schema = t ? _zvdbTableSchemaMap(t) : nullptr;
    if (!schema) return nullptr;
    return ptPutRecinfo(schema, names, tree);
}

}  // extern "C"
