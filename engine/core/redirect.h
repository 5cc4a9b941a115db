// File-name redirection rules, byte lists and the reading of two file names
// from a text line (see redirect.cpp). The exported routines are declared in
// zarvo.h.
#pragma once

#include <cstdint>
#include <cstdio>

struct INSTGV;

namespace zv {

// One redirection rule (520 bytes).
struct RedirRule {
    uint32_t fromlen;    // length of the source-side name
    uint32_t tolen;      // length of the replacement
    char from[255];      // source-side name followed by "*"
    char to[257];        // replacement prefix
};
static_assert(sizeof(RedirRule) == 520, "a redirection rule is 520 bytes");

// A growable array of rules (the instance's global list, or a caller's).
struct RedirList {
    RedirRule *rules;
    int32_t count;
    int32_t capacity;
};

// Longest source name of a rule (it and "*" fit 255 bytes) and longest
// replacement.
constexpr int kRedirFromMax = 253;
constexpr int kRedirToMax = 256;

// Adds the rule read from line ("from to", names possibly in double
// quotes): 0, or 2 (logged) when the names cannot be read or the list
// cannot grow.
int uredirectadd(const char *line, RedirList *list);
// Rewrites name by the first rule that applies into out (255 bytes): 0
// unchanged, 1 rewritten (or a back-slash converted), 77 the result would
// not fit (out untouched). title and errtitle (may be null) ask for the
// log and standard-output lines of a rewrite and of a refusal.
int uredirect(const char *name, char *out, const char *title, const char *errtitle, const RedirList *list);
// Frees the instance's global list (instance removal).
void release_redirects(INSTGV *g);

// Copy of name without its extension (the given one, or when empty the
// instance's default extension of kind 0 data, 1 index) into out (256
// bytes). 0, 540 null argument, 139 name too long.
int zvundoiflnam(const char *name, const char *extension, char *out, int kind);

}  // namespace zv
