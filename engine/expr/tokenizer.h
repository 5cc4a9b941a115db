// Text tokenizers (tokenizer.cpp, porter.cpp): four interchangeable word
// tokenizers behind one table of operations, the full-text indexes' way of
// splitting a text into words.
//
// Rows of `tokenizers`: 0 custom (a shared library exporting the four
// entry points of zarvo/zvdbpt.h), 1 simple, 2 porter (simple words
// reduced to their stems), 3 ICU (not offered by this build: 454).
//
// A text is `length` bytes (a negative length: up to its NUL). Bytes are
// read as unsigned char in the C locale: a word is a run of ASCII letters
// and digits, and every other byte (0x80 and up included) separates words.
#pragma once

#include <cstdint>

namespace zv {

// One row of the tokenizer table.
struct TokenizerOps {
    // A tokenizer over text, words cut to maxtoken bytes, with the row's
    // parameters (the custom row: CustomTokenizerParams; the others take
    // none): its state, or null with *error set: 446 maxtoken below 1, 540
    // a null text with a length above 0, 82 no memory, 454 not offered, or
    // the custom library's loading or init error.
    void *(*init)(const char *text, int length, int maxtoken, const void *params, int *error);
    // Starts over on a new text: 0, or 540 (a null text with a length above
    // 0), 454, or the custom library's code.
    int (*reset)(void *state, const char *text, int length);
    // The next word, lower-cased and NUL-terminated, valid until the next
    // call, with its length; null with length 0 at the end.
    const char *(*next)(void *state, int *length);
    // Frees the state (the custom row unloads its library).
    void (*end)(void *state);
};

enum : int { kTokCustom = 0, kTokSimple = 1, kTokPorter = 2, kTokIcu = 3 };

extern const TokenizerOps tokenizers[4];

// Parameters of the custom row: the library's path and the options handed
// to its "Tokenizer_init".
struct CustomTokenizerParams {
    const char *library;
    int nopt;
    const char *const *opt;
};

// The Porter stemmer's working state: the word and two cursors into it.
struct PorterStemmer {
    char *b;    // the word
    int32_t k;  // its last letter
    int32_t j;  // end of the stem being looked at
};
static_assert(sizeof(PorterStemmer) == 16, "the stemmer state is 16 bytes");

// Reduces word[0..len) (lower-case letters) to its stem in place: the stem's
// length, never above len. Words of at most two letters stay as they are.
int32_t porter_stem(PorterStemmer *z, char *word, int32_t len);

}  // namespace zv
