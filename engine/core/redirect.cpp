// File-name redirection rules, byte lists and two-name text lines.
//
// A redirection rule rewrites the beginning of a file name: a name that
// starts with the rule's source name (matched exactly, '\\' and '/' standing
// for each other) gets the replacement in its place. A result that would
// not fit 254 characters is refused (77) and the caller's buffer is left as
// it was. Rules are kept in order; the first that applies wins.
//
// Byte lists are singly linked copies of the caller's bytes, walked through
// a cursor: the cursor is the node last handed out; a walk that has not
// started (or whose cursor node was the first and was deleted) continues
// at the first node.
#include "engine/core/redirect.h"

#include <cctype>
#include <cstring>

#include "engine/core/dirwalk.h"
#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/core/statuslog.h"

namespace zv {

namespace {

constexpr size_t kNameOut = 255;  // bytes of a redirected name, NUL included
constexpr int kLineMax = 510;     // characters of a line of readfilenames

// Reads one name at *p: a double-quoted text (quotes removed) or a run of
// non-space characters. false when there is none, the quote is not closed
// or the name does not fit size bytes with its NUL.
bool read_name(const char **p, char *out, int size) {
    const char *s = *p;
    while (*s && isspace(static_cast<unsigned char>(*s))) s++;
    if (!*s) return false;
    const char *b, *e;
    if (*s == '"') {
        b = ++s;
        while (*s && *s != '"') s++;
        if (*s != '"') return false;
        e = s++;
    } else {
        b = s;
        while (*s && !isspace(static_cast<unsigned char>(*s))) s++;
        e = s;
    }
    size_t n = size_t(e - b);
    if (size < 1 || n + 1 > size_t(size)) return false;
    memcpy(out, b, n);
    out[n] = '\0';
    *p = s;
    return true;
}

// Back-slashes after the first character become slashes: true when any did.
bool slashes(char *s) {
    bool any = false;
    for (char *c = s[0] ? s + 1 : s; *c; c++) {
        if (*c == '\\') {
            *c = '/';
            any = true;
        }
    }
    return any;
}

}  // namespace

int uredirectadd(const char *line, RedirList *list) {
    if (!list) return set_uerr(540);
    char from[kRedirFromMax + 1], to[kRedirToMax + 1];
    if (!line || ireadfilenames(line, from, sizeof from, to, sizeof to) != 0) {
        zvrcvlog("could not read REDIRECT file names", 5);
        return 2;
    }
    int i = zvdallc(&list->capacity, &list->count, reinterpret_cast<void **>(&list->rules), sizeof(RedirRule), 4);
    if (i < 0) {
        zvrcvlog("could not allocate REDIRECT list", 5);
        return 2;
    }
    RedirRule &r = list->rules[i];
    memset(&r, 0, sizeof r);
    r.fromlen = uint32_t(strlen(from));
    r.tolen = uint32_t(strlen(to));
    memcpy(r.from, from, r.fromlen);
    r.from[r.fromlen] = '*';
    memcpy(r.to, to, r.tolen + 1);
    return 0;
}

int uredirect(const char *name, char *out, const char *title, const char *errtitle, const RedirList *list) {
    if (!name || !out) return set_uerr(540);
    const INSTGV *g = zvWNGV;
    const bool slashflag = g && g->redirslash;
    size_t n = strlen(name);
    const RedirRule *rule = nullptr;
    for (int32_t i = 0; list && i < list->count; i++) {
        if (izvrt_filmtc(list->rules[i].from, name, 2) == 0) {
            rule = &list->rules[i];
            break;
        }
    }
    if (!rule) {
        if (!slashflag || !strchr(name + (name[0] ? 1 : 0), '\\')) return 0;
        if (n + 1 > kNameOut) return 77;
        memcpy(out, name, n + 1);
        return slashes(out) ? 1 : 0;
    }
    if (uint64_t(rule->tolen) + n - rule->fromlen >= kNameOut) {
        if (errtitle) {
            char msg[600];
            snprintf(msg, sizeof msg, "%s%s", errtitle, name);
            zvrcvlog(msg, 0);
            snprintf(msg, sizeof msg, "<%s><%s>", rule->from, rule->to);
            zvrcvlog(msg, 0);
            zvrt_printf("%s%s\n<%s><%s>\n", errtitle, name, rule->from, rule->to);
        }
        return 77;
    }
    char buf[kNameOut];
    memcpy(buf, rule->to, rule->tolen);
    memcpy(buf + rule->tolen, name + rule->fromlen, n - rule->fromlen + 1);
    if (slashflag) slashes(buf);
    memcpy(out, buf, strlen(buf) + 1);
    if (title) {
        char msg[600];
        zvrcvlog(title, 0);
        snprintf(msg, sizeof msg, "%s -> %s", name, out);
        zvrcvlog(msg, 0);
        zvrt_printf("%s\n\t%s -> %s\n", title, name, out);
    }
    return 1;
}

void release_redirects(INSTGV *g) {
    if (!g) return;
    mbfree(g->redir.rules);
    g->redir = RedirList{};
}

int zvundoiflnam(const char *name, const char *extension, char *out, int kind) {
    if (!name || !out) return set_uerr(540);
    size_t n = strnlen(name, 256);
    if (n > 255) return set_uerr(139);
    const INSTGV *g = zvWNGV;
    const char *ext = extension;
    if ((!ext || !*ext) && g) ext = g->defext[kind == 1 ? 1 : 0];
    if (!ext) ext = "";
    memcpy(out, name, n + 1);
    bool spaces = true;
    for (const char *c = ext; *c; c++) spaces &= *c == ' ';
    if (spaces) return 0;
    size_t e = strlen(ext);
    if (e <= n && memcmp(out + n - e, ext, e) == 0) out[n - e] = '\0';
    return 0;
}

}  // namespace zv

using namespace zv;

namespace zv {

// A node of a byte list: the link, then the caller's bytes.
struct ByteNode {
    ByteNode *next;
    int64_t size;
};

}  // namespace zv

// A byte list: first, last, cursor and count (32 bytes).
struct ZVSLIST {
    zv::ByteNode *first;
    zv::ByteNode *last;
    zv::ByteNode *cursor;
    int64_t count;
};
static_assert(sizeof(ZVSLIST) == 32, "a byte list handle is 32 bytes");

namespace {

inline void *data_of(ByteNode *n) { return n ? reinterpret_cast<unsigned char *>(n) + sizeof(ByteNode) : nullptr; }

}  // namespace

extern "C" {

ZV_API int ireadfilenames(const char *line, char *first, int firstsize, char *second, int secondsize) {
    if (!line || !first || !second) return 1;
    const char *p = line;
    if (!read_name(&p, first, firstsize)) return 1;
    // The first name must be followed by more text.
    if (!read_name(&p, second, secondsize)) return 1;
    return 0;
}

ZV_API int readfilenames(FILE *stream, char *first, int firstsize, char *second, int secondsize) {
    if (!stream) return 1;
    char line[kLineMax + 1];
    if (!fgets(line, sizeof line, stream)) return 1;
    size_t n = strlen(line);
    if (n && line[n - 1] == '\n') line[n - 1] = '\0';
    return ireadfilenames(line, first, firstsize, second, secondsize);
}

ZV_API int stripwhitespace(char *text) {
    if (!text) return 0;
    size_t n = strlen(text);
    size_t b = 0;
    while (b < n && isspace(static_cast<unsigned char>(text[b]))) b++;
    while (n > b && isspace(static_cast<unsigned char>(text[n - 1]))) n--;
    memmove(text, text + b, n - b);
    text[n - b] = '\0';
    return int(n - b);
}

ZV_API int zvredirectadd(const char *line) {
    if (!zvWNGV) return 47;
    return uredirectadd(line, &zvWNGV->redir);
}

ZV_API int zvredirect(const char *name, char *out, const char *title, const char *errtitle) {
    if (!zvWNGV) return 47;
    return uredirect(name, out, title, errtitle, &zvWNGV->redir);
}

ZV_API int zvslstcre(ZVSLIST **out) {
    if (!out) return 540;
    *out = static_cast<ZVSLIST *>(mballc(1, sizeof(ZVSLIST)));
    return *out ? 0 : 82;
}

ZV_API int zvslstadd(ZVSLIST *list, const void *bytes, int32_t n) {
    if (!list || (!bytes && n > 0)) return 540;
    if (n < 1) return 634;
    ByteNode *node = static_cast<ByteNode *>(mballc(1, sizeof(ByteNode) + size_t(n)));
    if (!node) return 82;
    node->size = n;
    memcpy(data_of(node), bytes, size_t(n));
    if (list->last) list->last->next = node;
    else list->first = node;
    list->last = node;
    list->count++;
    return 0;
}

ZV_API int zvslstfrs(ZVSLIST *list, void **out) {
    if (!list || !out) return 540;
    list->cursor = list->first;
    *out = data_of(list->cursor);
    return 0;
}

ZV_API int zvslstnxt(ZVSLIST *list, void **out) {
    if (!list || !out) return 540;
    ByteNode *next = list->cursor ? list->cursor->next : list->first;
    if (next) list->cursor = next;
    *out = data_of(next);
    return 0;
}

ZV_API int zvslstdel(ZVSLIST *list, const void *key, int (*compare)(const void *key, const void *data)) {
    if (!list || !compare) return 540;
    ByteNode *prev = nullptr;
    for (ByteNode *n = list->first; n; prev = n, n = n->next) {
        if (!compare(key, data_of(n))) continue;
        if (prev) prev->next = n->next;
        else list->first = n->next;
        if (list->last == n) list->last = prev;
        if (list->cursor == n) list->cursor = prev;
        list->count--;
        mbfree(n);
        return 0;
    }
    return 101;
}

ZV_API int zvslstfre(ZVSLIST *list) {
    if (!list) return 540;
    for (ByteNode *n = list->first; n;) {
        ByteNode *next = n->next;
        mbfree(n);
        n = next;
    }
    mbfree(list);
    return 0;
}

}  // extern "C"
