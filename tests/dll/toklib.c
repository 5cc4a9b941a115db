/* A word tokenizer library for the tokenizer tests: words are runs of
 * bytes other than blanks, cut to the maximum token length. Options:
 * "prefix=TEXT" puts TEXT before every word; "fail=N" makes the init fail
 * with error N. Built a second time without Tokenizer_end. */
#include <stdlib.h>
#include <string.h>

#define TOKLIB_EXPORT __attribute__((visibility("default")))

typedef struct Tok {
    const char *text;
    int length;
    int pos;
    int maxtoken;
    char prefix[16];
    char *buf;
} Tok;

TOKLIB_EXPORT int Tokenizer_reset(void *h, const char *text, int length) {
    Tok *t = (Tok *)h;
    if (!t) return 3;
    t->text = text;
    t->length = text ? (length < 0 ? (int)strlen(text) : length) : 0;
    t->pos = 0;
    return 0;
}

TOKLIB_EXPORT void *Tokenizer_init(int nopt, const char *const *opt, const char *text, int length,
                                   int maxtoken, int *error) {
    Tok *t;
    int i;
    *error = 0;
    for (i = 0; i < nopt; i++) {
        if (strncmp(opt[i], "fail=", 5) == 0) {
            *error = atoi(opt[i] + 5);
            return NULL;
        }
    }
    t = (Tok *)calloc(1, sizeof *t);
    if (!t) {
        *error = 82;
        return NULL;
    }
    for (i = 0; i < nopt; i++) {
        if (strncmp(opt[i], "prefix=", 7) == 0) strncpy(t->prefix, opt[i] + 7, sizeof t->prefix - 1);
    }
    t->maxtoken = maxtoken;
    t->buf = (char *)malloc(strlen(t->prefix) + (size_t)maxtoken + 1);
    if (!t->buf) {
        free(t);
        *error = 82;
        return NULL;
    }
    Tokenizer_reset(t, text, length);
    return t;
}

TOKLIB_EXPORT const char *Tokenizer_next(void *h, int *length) {
    Tok *t = (Tok *)h;
    size_t p = strlen(t->prefix);
    int n = 0;
    while (t->pos < t->length && t->text[t->pos] == ' ') t->pos++;
    if (t->pos >= t->length) {
        *length = 0;
        return NULL;
    }
    memcpy(t->buf, t->prefix, p);
    for (; t->pos < t->length && t->text[t->pos] != ' '; t->pos++) {
        if (n < t->maxtoken) t->buf[p + (size_t)n++] = t->text[t->pos];
    }
    t->buf[p + (size_t)n] = 0;
    *length = (int)p + n;
    return t->buf;
}

#ifndef TOKLIB_WITHOUT_END
TOKLIB_EXPORT void Tokenizer_end(void *h) {
    Tok *t = (Tok *)h;
    if (!t) return;
    free(t->buf);
    free(t);
}
#endif
