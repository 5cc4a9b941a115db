// Word tokenizers through the tokenizer table: the simple and porter rows,
// the custom row over a test library, the ICU row, and the full-text entry
// points that this build answers with 454.
#include <dlfcn.h>

#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/expr/tokenizer.h"
#include "tests/engine/expr/exprfix.h"
#include "zarvo/zarvo.h"

namespace {

using exprtest::ExprTest;
using zv::tokenizers;

using TokenizerTest = ExprTest;

// Every word a tokenizer state gives until its end; each length must be
// the word's own, and the end stays the end.
std::vector<std::string> words(int row, void *state) {
    std::vector<std::string> out;
    int len = -1;
    while (const char *w = tokenizers[row].next(state, &len)) {
        EXPECT_EQ(size_t(len), strlen(w)) << w;
        out.emplace_back(w, size_t(len));
        if (out.size() > 100) break;
    }
    EXPECT_EQ(len, 0);
    EXPECT_EQ(tokenizers[row].next(state, &len), nullptr);
    EXPECT_EQ(len, 0);
    return out;
}

// The words of a whole text.
std::vector<std::string> split(int row, const std::string &text, int maxtoken, const void *params = nullptr) {
    int err = -1;
    void *s = tokenizers[row].init(text.data(), int(text.size()), maxtoken, params, &err);
    EXPECT_EQ(err, 0);
    if (!s) return {"<no state>"};
    std::vector<std::string> out = words(row, s);
    tokenizers[row].end(s);
    return out;
}

using Words = std::vector<std::string>;

TEST_F(TokenizerTest, TheSimpleTokenizerGivesLowerCasedRunsOfLettersAndDigits) {
    struct Case {
        std::string text;
        int maxtoken;
        Words want;
    };
    const Case cases[] = {
        {"Hello, World42!", 32, {"hello", "world42"}},
        {"international", 3, {"int"}},
        {"caf\xc3\xa9 au lait", 32, {"caf", "au", "lait"}},
        {std::string("ab\0CD", 5), 32, {"ab", "cd"}},
        {"x\xff\x80y 7", 32, {"x", "y", "7"}},
        {"  ,;  ", 32, {}},
        {"", 32, {}},
        {"Supercalifragilistic words", 5, {"super", "words"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(split(zv::kTokSimple, c.text, c.maxtoken), c.want);
    }
    // A negative length reads up to the NUL.
    int err = -1;
    void *s = tokenizers[zv::kTokSimple].init("One two", -1, 8, nullptr, &err);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(words(zv::kTokSimple, s), (Words{"one", "two"}));
    // Reset starts over on a new text.
    EXPECT_EQ(tokenizers[zv::kTokSimple].reset(s, "Three, four", 11), 0);
    int len = 0;
    EXPECT_STREQ(tokenizers[zv::kTokSimple].next(s, &len), "three");
    EXPECT_EQ(tokenizers[zv::kTokSimple].reset(s, "FIVE", 4), 0);
    EXPECT_EQ(words(zv::kTokSimple, s), (Words{"five"}));
    EXPECT_EQ(tokenizers[zv::kTokSimple].reset(s, nullptr, 3), 540);
    EXPECT_EQ(tokenizers[zv::kTokSimple].reset(s, nullptr, 0), 0);
    EXPECT_EQ(words(zv::kTokSimple, s), Words{});
    tokenizers[zv::kTokSimple].end(s);
}

TEST_F(TokenizerTest, BadInputGivesNoState) {
    struct Case {
        const char *text;
        int length;
        int maxtoken;
        int error;
    };
    const Case cases[] = {
        {"word", 4, 0, 446},
        {"word", 4, -5, 446},
        {nullptr, 3, 8, 540},
    };
    for (int row : {zv::kTokSimple, zv::kTokPorter}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(testing::Message() << row << " " << c.length << " " << c.maxtoken);
            int err = 0;
            EXPECT_EQ(tokenizers[row].init(c.text, c.length, c.maxtoken, nullptr, &err), nullptr);
            EXPECT_EQ(err, c.error);
        }
        // A null text of length 0 is an empty text.
        int err = -1;
        void *s = tokenizers[row].init(nullptr, 0, 8, nullptr, &err);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(words(row, s), Words{});
        tokenizers[row].end(s);
    }
}

TEST_F(TokenizerTest, ThePorterTokenizerGivesStems) {
    const std::pair<const char *, const char *> cases[] = {
        {"caresses", "caress"}, {"ponies", "poni"},   {"ties", "ti"},          {"cats", "cat"},
        {"agreed", "agre"},     {"hopping", "hop"},   {"happy", "happi"},      {"relational", "relat"},
        {"generalizations", "gener"},                 {"oscillators", "oscil"}, {"as", "as"},
        {"caress", "caress"},   {"feed", "feed"},     {"plastered", "plaster"}, {"motoring", "motor"},
        {"sing", "sing"},       {"conflated", "conflat"}, {"troubled", "troubl"}, {"sized", "size"},
        {"hissing", "hiss"},    {"filing", "file"},   {"failing", "fail"},     {"sky", "sky"},
        {"conditional", "condit"}, {"rational", "ration"}, {"valenci", "valenc"}, {"digitizer", "digit"},
        {"conformabli", "conform"}, {"vietnamization", "vietnam"}, {"callousness", "callous"},
        {"triplicate", "triplic"}, {"formative", "form"}, {"hopeful", "hope"}, {"goodness", "good"},
        {"revival", "reviv"},   {"allowance", "allow"}, {"adoption", "adopt"}, {"homologou", "homolog"},
        {"effective", "effect"}, {"bowdlerize", "bowdler"}, {"probate", "probat"}, {"rate", "rate"},
        {"cease", "ceas"},      {"controll", "control"}, {"roll", "roll"},     {"analogi", "analog"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first);
        EXPECT_EQ(split(zv::kTokPorter, c.first, 64), Words{c.second});
    }
    // Several words of one text, cut before they are stemmed.
    EXPECT_EQ(split(zv::kTokPorter, "Ponies, HOPPING cats!", 64), (Words{"poni", "hop", "cat"}));
    EXPECT_EQ(split(zv::kTokPorter, "generalizations", 7), Words{"gener"});
}

// Whether a library is loaded in the process (without loading it).
bool loaded(const char *path) {
    void *h = dlopen(path, RTLD_LAZY | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
}

TEST_F(TokenizerTest, TheCustomRowRunsALibrary) {
    ASSERT_FALSE(loaded(ZV_TOKEN_DLL));
    const char *opts[] = {"prefix=w:"};
    const zv::CustomTokenizerParams p{ZV_TOKEN_DLL, 1, opts};
    const std::string text = "alpha  beta gamma";
    int err = -1;
    void *s = tokenizers[zv::kTokCustom].init(text.data(), int(text.size()), 4, &p, &err);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(err, 0);
    EXPECT_TRUE(loaded(ZV_TOKEN_DLL));
    EXPECT_EQ(words(zv::kTokCustom, s), (Words{"w:alph", "w:beta", "w:gamm"}));
    EXPECT_EQ(tokenizers[zv::kTokCustom].reset(s, "one", 3), 0);
    EXPECT_EQ(words(zv::kTokCustom, s), Words{"w:one"});
    EXPECT_EQ(tokenizers[zv::kTokCustom].reset(s, nullptr, 2), 540);
    tokenizers[zv::kTokCustom].end(s);
    EXPECT_FALSE(loaded(ZV_TOKEN_DLL));

    // Failures leave nothing loaded.
    const char *fail[] = {"prefix=x", "fail=7"};
    struct Case {
        const char *what;
        zv::CustomTokenizerParams params;
        int maxtoken;
        int error;
    };
    const Case cases[] = {
        {"a library without Tokenizer_end", {ZV_TOKEN_DLL_NOEND, 0, nullptr}, 8, 982},
        {"an init that fails", {ZV_TOKEN_DLL, 2, fail}, 8, 7},
        {"no library", {"no-such-library.so", 0, nullptr}, 8, 981},
        {"no library named", {nullptr, 0, nullptr}, 8, 540},
        {"options missing", {ZV_TOKEN_DLL, 1, nullptr}, 8, 540},
        {"no room for a word", {ZV_TOKEN_DLL, 0, nullptr}, 0, 446},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        err = 0;
        EXPECT_EQ(tokenizers[zv::kTokCustom].init("a b", 3, c.maxtoken, &c.params, &err), nullptr);
        EXPECT_EQ(err, c.error);
        EXPECT_FALSE(loaded(ZV_TOKEN_DLL));
        EXPECT_FALSE(loaded(ZV_TOKEN_DLL_NOEND));
    }
    err = 0;
    EXPECT_EQ(tokenizers[zv::kTokCustom].init("a", 1, 8, nullptr, &err), nullptr);
    EXPECT_EQ(err, 540);
}

TEST_F(TokenizerTest, TheIcuRowIsNotOffered) {
    int err = 0;
    ASSERT_NE(tokenizers[zv::kTokIcu].init, nullptr);
    EXPECT_EQ(tokenizers[zv::kTokIcu].init("text", 4, 8, nullptr, &err), nullptr);
    EXPECT_EQ(err, 454);
    int dummy = 0;
    EXPECT_EQ(tokenizers[zv::kTokIcu].reset(&dummy, "text", 4), 454);
    int len = 9;
    zv::set_uerr(0);
    EXPECT_EQ(tokenizers[zv::kTokIcu].next(&dummy, &len), nullptr);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(zvGetUserErrorCode(), 454);
    tokenizers[zv::kTokIcu].end(&dummy);
    tokenizers[zv::kTokIcu].end(nullptr);
    EXPECT_EQ(dummy, 0);
}

TEST_F(TokenizerTest, FullTextEntryPointsAnswerNotSupported) {
    char rec[16] = "record";
    int32_t len = 16;
    zv::set_uerr(77);
    const int answers[] = {
        zvFullTextSearch(1, "word", 0), FreeFTSearch(),         AllocFTSearch(1, "word"),
        FirstInFT(1, rec, &len),        NextInFT(1, rec, &len), LastInFT(1, rec, &len),
        PrevInFT(1, rec, &len),         FTS_OpenFileCallback(1), FTS_CloseFileCallback(1),
        FTS_RecordUpdateCallback(1, 2, rec, 16, rec, 16),
    };
    for (int a : answers) EXPECT_EQ(a, 454);
    EXPECT_EQ(zvGetUserErrorCode(), 77);
    EXPECT_EQ(len, 16);
    EXPECT_STREQ(rec, "record");
    EXPECT_EQ(zvFullText(nullptr), 454);
    EXPECT_EQ(zvGetUserErrorCode(), 454);
}

}  // namespace
