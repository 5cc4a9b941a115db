// The tokenizer table: the simple tokenizer (runs of letters and digits,
// lower-cased), the porter tokenizer (the simple tokenizer's words reduced
// to their stems), the custom tokenizer (a shared library's four entry
// points) and the ICU row, which this build does not offer.
//
// States come from the record-level API's allocator (_zvdb_alloc). A simple
// state is one block: the state, then the token buffer of maxtoken + 1
// bytes. A custom state holds the library request block of zvdll_load with
// the four resolved entry points and the library's own handle; the library
// stays loaded exactly as long as the state lives.
#include "engine/expr/tokenizer.h"

#include <cstring>

#include "engine/core/instance.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"
#include "zarvo/zvdbpt.h"

namespace zv {

namespace {

// ---- Input ---------------------------------------------------------------------------------

// The bytes of a text: [*begin, *end). 0, or 540 for a null text with a
// length above 0.
int text_span(const char *text, int length, const unsigned char **begin, const unsigned char **end) {
    if (!text && length > 0) return 540;
    auto *p = reinterpret_cast<const unsigned char *>(text);
    size_t n = !text ? 0 : length < 0 ? strlen(text) : size_t(length);
    *begin = p;
    *end = p ? p + n : p;
    return 0;
}

// Letters and digits of the C locale, read as unsigned bytes: every byte
// from 0x80 up separates words.
bool word_byte(unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

unsigned char lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? uint8_t(c - 'A' + 'a') : c; }

// ---- Simple tokenizer ------------------------------------------------------------------

struct SimpleState {
    char *token;                 // maxtoken + 1 bytes, behind the state
    const unsigned char *cur;    // next byte to examine
    const unsigned char *end;    // end of the text
    int32_t maxtoken;
};

// A new state followed by its token buffer, or null with *error set.
template <class State>
State *new_state(const char *text, int length, int maxtoken, int *error) {
    int dummy = 0;
    if (!error) error = &dummy;
    const unsigned char *b = nullptr, *e = nullptr;
    if (maxtoken < 1) {
        *error = 446;
        return nullptr;
    }
    if (int rc = text_span(text, length, &b, &e)) {
        *error = rc;
        return nullptr;
    }
    const int64_t size = int64_t(sizeof(State)) + int64_t(maxtoken) + 1;
    auto *s = size <= 0x7FFFFFF0 ? static_cast<State *>(_zvdb_alloc(1, int32_t(size))) : nullptr;
    if (!s) {
        *error = 82;
        return nullptr;
    }
    SimpleState &st = s->simple();
    st.token = reinterpret_cast<char *>(s) + sizeof(State);
    st.cur = b;
    st.end = e;
    st.maxtoken = maxtoken;
    *error = 0;
    return s;
}

// The next word into the token buffer: its length, or -1 at the end.
int32_t next_word(SimpleState &s) {
    const unsigned char *p = s.cur;
    while (p < s.end && !word_byte(*p)) p++;
    if (p >= s.end) {
        s.cur = p;
        return -1;
    }
    int32_t n = 0;
    for (; p < s.end && word_byte(*p); p++)
        if (n < s.maxtoken) s.token[n++] = char(lower(*p));
    // The separator that ended the word has been examined too.
    s.cur = p < s.end ? p + 1 : p;
    s.token[n] = 0;
    return n;
}

int reset_span(SimpleState &s, const char *text, int length) {
    const unsigned char *b = nullptr, *e = nullptr;
    if (int rc = text_span(text, length, &b, &e)) return rc;
    s.cur = b;
    s.end = e;
    return 0;
}

// The simple and porter states: a SimpleState first, then what the row
// adds; finish() turns a word of n bytes into the row's token and gives
// its length.
struct SimpleTok {
    SimpleState s;
    SimpleState &simple() { return s; }
    int32_t finish(int32_t n) { return n; }
};

struct PorterTok {
    SimpleState s;
    PorterStemmer stem;
    SimpleState &simple() { return s; }
    int32_t finish(int32_t n) {
        n = porter_stem(&stem, s.token, n);
        s.token[n] = 0;
        return n;
    }
};

template <class State>
void *word_init(const char *text, int length, int maxtoken, const void *, int *error) {
    return new_state<State>(text, length, maxtoken, error);
}

template <class State>
int word_reset(void *state, const char *text, int length) {
    if (!state) return 540;
    return reset_span(static_cast<State *>(state)->s, text, length);
}

template <class State>
const char *word_next(void *state, int *length) {
    int dummy = 0;
    if (!length) length = &dummy;
    *length = 0;
    if (!state) return nullptr;
    auto *t = static_cast<State *>(state);
    int32_t n = next_word(t->s);
    if (n < 0) return nullptr;
    *length = t->finish(n);
    return t->s.token;
}

void word_end(void *state) { _zvdb_free(state); }

// ---- Custom tokenizer ------------------------------------------------------------------

const char *const customTokFunctions[4] = {"Tokenizer_init", "Tokenizer_reset", "Tokenizer_next",
                                           "Tokenizer_end"};

struct CustomTok {
    ZVDLLREQ req;
    const char *names[4];
    void *fns[4];     // init, reset, next, end
    void *handle;     // the library's own
    ZVTOKRESET reset() const { return reinterpret_cast<ZVTOKRESET>(fns[1]); }
    ZVTOKNEXT next() const { return reinterpret_cast<ZVTOKNEXT>(fns[2]); }
    ZVTOKEND end() const { return reinterpret_cast<ZVTOKEND>(fns[3]); }
};

void *custom_init(const char *text, int length, int maxtoken, const void *params, int *error) {
    int dummy = 0;
    if (!error) error = &dummy;
    const auto *p = static_cast<const CustomTokenizerParams *>(params);
    const unsigned char *b = nullptr, *e = nullptr;
    *error = 0;
    if (!p || !p->library || p->nopt < 0 || (p->nopt > 0 && !p->opt)) *error = 540;
    else if (maxtoken < 1) *error = 446;
    else *error = text_span(text, length, &b, &e);
    if (*error) return nullptr;
    auto *c = static_cast<CustomTok *>(_zvdb_alloc(1, int32_t(sizeof(CustomTok))));
    if (!c) {
        *error = 82;
        return nullptr;
    }
    for (int i = 0; i < 4; i++) c->names[i] = customTokFunctions[i];
    c->req.size = ZV_DLLREQ_SIZE;
    c->req.libname = p->library;
    c->req.funccount = 4;
    c->req.funcnames = c->names;
    c->req.functable = c->fns;
    if (int rc = zvdll_load(&c->req)) {
        *error = rc;
        _zvdb_free(c);
        return nullptr;
    }
    int err = 0;
    c->handle = reinterpret_cast<ZVTOKINIT>(c->fns[0])(p->nopt, p->opt, text, length, maxtoken, &err);
    if (!c->handle) {
        // A library that fails without saying why still failed.
        *error = err ? err : 446;
        zvdll_unload(&c->req);
        _zvdb_free(c);
        return nullptr;
    }
    return c;
}

int custom_reset(void *state, const char *text, int length) {
    if (!state) return 540;
    if (!text && length > 0) return 540;
    auto *c = static_cast<CustomTok *>(state);
    return c->reset()(c->handle, text, length);
}

const char *custom_next(void *state, int *length) {
    int dummy = 0;
    if (!length) length = &dummy;
    *length = 0;
    if (!state) return nullptr;
    auto *c = static_cast<CustomTok *>(state);
    const char *t = c->next()(c->handle, length);
    if (!t) *length = 0;
    return t;
}

void custom_end(void *state) {
    if (!state) return;
    auto *c = static_cast<CustomTok *>(state);
    c->end()(c->handle);
    zvdll_unload(&c->req);
    _zvdb_free(c);
}

// ---- ICU row ---------------------------------------------------------------------------------

void *icu_init(const char *, int, int, const void *, int *error) {
    if (error) *error = 454;
    return nullptr;
}

int icu_reset(void *, const char *, int) { return 454; }

const char *icu_next(void *, int *length) {
    if (length) *length = 0;
    if (zvWNGV) set_uerr(454);
    return nullptr;
}

void icu_end(void *) {}

}  // namespace

const TokenizerOps tokenizers[4] = {
    {custom_init, custom_reset, custom_next, custom_end},
    {word_init<SimpleTok>, word_reset<SimpleTok>, word_next<SimpleTok>, word_end},
    {word_init<PorterTok>, word_reset<PorterTok>, word_next<PorterTok>, word_end},
    {icu_init, icu_reset, icu_next, icu_end},
};

}  // namespace zv
