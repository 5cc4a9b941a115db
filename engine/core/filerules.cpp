// Per-file rules.
//
// The rule list is one growable array of 280-byte entries in the instance
// (rulelist, rule_cap, rule_count), grown eight entries at a time. Each
// entry holds a kind, two values, a pointer that kinds attaching data may
// use, and a name pattern of at most 254 characters. A deleted entry keeps
// its slot with kind -1 and an empty name; rule_free counts such slots, and
// an add reuses one once the array is full and more than a tenth of it is
// free. The list lives as long as the instance (rules may be given before
// start-up) and goes with it.
//
// Patterns are matched as file names: case counts, '?' matches one
// character, '*' any run, the byte 0x01 makes the next character literal,
// and a leading '^' inverts the result. A pattern with the member separator
// matches host part and member part separately.
#include "engine/core/filerules.h"

#include <cstddef>
#include <cstring>

#include "engine/core/instance.h"
#include "engine/core/fcb.h"

namespace {

constexpr int kNameMax = 254;  // characters of a pattern, NUL not counted
constexpr int kGrowBy = 8;
constexpr int32_t kFreeSlot = -1;
constexpr uint32_t kLookupsOff = 0x00800000;

struct RuleEntry {
    void *ptr;
    int32_t value;
    int32_t value2;
    int32_t kind;
    char name[kNameMax + 1];
};
static_assert(sizeof(RuleEntry) == 280, "a rule entry is 280 bytes");

RuleEntry *entries(INSTGV *g) { return static_cast<RuleEntry *>(g->rulelist); }

// Matches text[0..tn) against pattern[0..pn): 1 on a match. Backtracks only
// to the last '*', which finds a match whenever one exists.
bool match_part(const char *p, size_t pn, const char *t, size_t tn) {
    size_t pi = 0, ti = 0;
    size_t star = SIZE_MAX, mark = 0;
    while (ti < tn) {
        if (pi < pn && p[pi] == '*') {
            star = pi++;
            mark = ti;
            continue;
        }
        if (pi < pn) {
            bool lit = p[pi] == 0x01 && pi + 1 < pn;
            char c = lit ? p[pi + 1] : p[pi];
            if ((!lit && c == '?') || c == t[ti]) {
                pi += lit ? 2 : 1;
                ti++;
                continue;
            }
        }
        if (star == SIZE_MAX) return false;
        pi = star + 1;
        ti = ++mark;
    }
    while (pi < pn && p[pi] == '*') pi++;
    return pi == pn;
}

bool name_matches(const char *pattern, const char *name) {
    bool invert = pattern[0] == '^';
    if (invert) pattern++;
    char sep = zvWNGV && zvWNGV->membersep ? zvWNGV->membersep : '!';
    const char *ps = strchr(pattern, sep);
    bool m;
    if (ps) {
        const char *ns = strchr(name, sep);
        m = ns && match_part(pattern, size_t(ps - pattern), name, size_t(ns - name)) &&
            match_part(ps + 1, strlen(ps + 1), ns + 1, strlen(ns + 1));
    } else {
        m = match_part(pattern, strlen(pattern), name, strlen(name));
    }
    return m != invert;
}

bool has_wildcards(const char *s) {
    if (s[0] == '^') return true;
    for (; *s; s++) {
        if (*s == '*' || *s == '?' || *s == 0x01) return true;
    }
    return false;
}

void copy_name(char *dst, const char *src) {
    size_t n = strnlen(src, kNameMax);
    memcpy(dst, src, n);
    dst[n] = '\0';
}

// First entry of the kind whose pattern matches the name; null when none
// (or when lookups are switched off).
RuleEntry *lookup(INSTGV *g, int32_t kind, const char *name) {
    if (!g || !name || !g->rulelist || (g->statusword & kLookupsOff)) return nullptr;
    RuleEntry *e = entries(g);
    for (int32_t i = 0; i < g->rule_count; i++) {
        if (e[i].kind == kind && e[i].kind != kFreeSlot && name_matches(e[i].name, name)) return &e[i];
    }
    return nullptr;
}

int64_t add_rule(INSTGV *g, const char *name, int32_t value, int32_t value2, int32_t kind, int32_t mode) {
    if (!name) return zv::set_uerr(540);
    if (strnlen(name, kNameMax + 1) > size_t(kNameMax)) return zv::set_uerr(749);
    if ((mode & 64) && has_wildcards(name)) return zv::set_uerr(749);
    RuleEntry *slot = nullptr;
    if (g->rule_count >= g->rule_cap && int64_t{g->rule_free} * 10 > g->rule_cap) {
        RuleEntry *e = entries(g);
        for (int32_t i = 0; i < g->rule_count && !slot; i++) {
            if (e[i].kind == kFreeSlot) slot = &e[i];
        }
        if (slot) g->rule_free--;
        else g->rule_free = 0;
    }
    if (!slot) {
        int i = zvdallc(&g->rule_cap, &g->rule_count, &g->rulelist, int(sizeof(RuleEntry)), kGrowBy);
        if (i < 0) return zv::set_uerr(10);
        slot = &entries(g)[i];
    }
    memset(slot, 0, sizeof *slot);
    slot->value = value;
    slot->value2 = value2;
    slot->kind = kind;
    copy_name(slot->name, name);
    return zv::set_uerr(0);
}

}  // namespace

int64_t izvFILELIST(char *name, int32_t *value, int32_t value2, int32_t kind, int32_t mode, void **ptr) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    int32_t v = value ? *value : 0;
    int32_t m = mode & ~64;
    if (m == 1 || m == 3) return add_rule(g, name, v, value2, kind, mode);
    RuleEntry *e = entries(g);
    if (m == 32 || m == 512) {
        if (!name) return zv::set_uerr(540);
        for (int32_t i = (m == 32 && v > 0) ? v : 0; e && i < g->rule_count; i++) {
            if (e[i].kind != kind || kind == kFreeSlot) continue;
            if (m == 512 && e[i].value != v) continue;
            copy_name(name, e[i].name);
            zv::set_uerr(0);
            if (m == 512) return 0;
            if (value) *value = i;
            return e[i].value;
        }
        return zv::set_uerr(101);
    }
    if (m == 0x400) {
        if (!name) return zv::set_uerr(540);
        bool any = false;
        for (int32_t i = 0; e && i < g->rule_count; i++) {
            if (e[i].kind == kind && kind != kFreeSlot && name_matches(e[i].name, name)) {
                e[i].kind = v;
                any = true;
            }
        }
        return zv::set_uerr(any ? 0 : 101);
    }
    if (!(m & 4)) return zv::set_uerr(749);
    if (!name) return zv::set_uerr(540);
    RuleEntry *r = lookup(g, kind, name);
    if (!r) return zv::set_uerr(101);
    zv::set_uerr(0);
    switch (m) {
    case 4:
        return int64_t(uint64_t(uint32_t(r->value)) | (uint64_t(uint32_t(r->value2)) << 32));
    case 12:
        r->value = v;
        r->value2 = value2;
        return 0;
    case 0x804:
        r->value = v;
        return 0;
    case 0x1004:
        r->value2 = value2;
        return 0;
    case 0x84:
        r->ptr = ptr ? *ptr : nullptr;
        return 0;
    case 0x104:
        if (ptr) *ptr = r->ptr;
        return r->value;
    default:
        r->name[0] = '\0';
        r->kind = kFreeSlot;
        r->ptr = nullptr;
        g->rule_free++;
        return 0;
    }
}

extern "C" {

ZV_API int64_t zvFILELIST(char *name, int32_t *value, int32_t value2, int32_t kind, int32_t mode) {
    return izvFILELIST(name, value, value2, kind, mode, nullptr);
}

int zvsplche(FCB *fcb) {
    INSTGV *g = zvWNGV;
    if (!g || !fcb || fcb->kind == kKindIndex || g->specialpages <= 0 || g->pc.pagesize <= 0) return 0;
    const RuleEntry *r = lookup(g, kRuleDedicatedCache, fcb->name);
    if (!r || r->value <= 0) return 0;
    return r->value / g->pc.pagesize;
}

uint32_t zvmemfil(const char *name, uint32_t *out) {
    const RuleEntry *r = lookup(zvWNGV, kRuleMemoryFile, name);
    uint32_t size = r ? uint32_t(r->value) : 0;
    if (out) *out = size;
    if (!r) return 0;
    return size ? size : 0xFFFFFFFFu;
}

int zvno_che(FCB *fcb, const char *name) {
    if (!fcb || fcb->kind == kKindIndex) return 0;
    return lookup(zvWNGV, kRuleNoCache, name ? name : fcb->name) ? 1 : 0;
}

int zvatoprefillst(const char *name) { return lookup(zvWNGV, kRulePrefill, name) ? 1 : 0; }

int zvatotrnfillst(const char *name) { return lookup(zvWNGV, kRuleTransaction, name) ? 2 : 0; }

}  // extern "C"

namespace zv {

void release_rules(INSTGV *g) {
    if (!g) return;
    mbfree(g->rulelist);
    g->rulelist = nullptr;
    g->rule_cap = g->rule_count = g->rule_free = 0;
}

}  // namespace zv
