// Lexer of condition texts (see lexer.cpp).
#pragma once

#include <cstdint>

#include "engine/expr/keywords.h"
#include "engine/expr/ptree.h"

namespace zv {

// Token codes. Any other character of the text is returned as its own
// code (1..255); 0 is the end of the text.
constexpr int kTokEnd = 0;
constexpr int kTokIdent = 257;     // name: text/len
constexpr int kTokConst = 258;     // constant: node
constexpr int kTokFunc = 259;      // function name: kw
constexpr int kTokAnd = 260;       // && AND
constexpr int kTokOr = 261;        // || OR
constexpr int kTokLT = 262;
constexpr int kTokLE = 263;
constexpr int kTokEQ = 264;        // = ==
constexpr int kTokNE = 265;        // != <> ^=
constexpr int kTokGT = 266;
constexpr int kTokGE = 267;
constexpr int kTokAs = 268;
constexpr int kTokCast = 269;
constexpr int kTokBad = 272;       // malformed literal
constexpr int kTokInt = 273;       // int, long
constexpr int kTokUnsigned = 274;  // unsigned
constexpr int kTokDouble = 275;    // double
constexpr int kTokIs = 276;
constexpr int kTokNot = 277;
constexpr int kTokNull = 278;
// Failures that are no token of the language: a token longer than
// kMaxToken bytes (a double-quoted string has no limit), no memory.
constexpr int kTokTooLong = -1;
constexpr int kTokNoMemory = -2;

constexpr int32_t kMaxToken = 8192;

struct LexToken {
    int code = kTokEnd;
    const char *text = nullptr;   // kTokIdent: the name's bytes (without brackets)
    int32_t len = 0;
    PTNODE *node = nullptr;       // kTokConst: a new constant node, owned by the receiver
    const Keyword *kw = nullptr;  // kTokFunc: the function's keyword entry
};

struct LexState;

// Lexer state over a private copy of text[0..length) (an input NUL byte
// reads as a blank). Null when memory runs out.
LexState *yylexcreate(const char *text, int32_t length);
void yylexdestroy(LexState *lex);
// The next token. Identifier texts stay valid until yylexdestroy.
int LexScan(LexState *lex, LexToken *tok);
// Line of the read position (1 at the start; counted at newlines).
int32_t lex_line(const LexState *lex);

}  // namespace zv
