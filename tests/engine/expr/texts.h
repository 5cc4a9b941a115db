// Condition texts over the shared layout of tests/fuzz/expr_entry.h, with
// what each gives: the tree shapes of good texts and the result of bad
// ones. The parser tests, the SETFLTR tests and the saved fuzz corpus all
// use them.
#pragma once

#include <string>
#include <vector>

namespace exprtest {

struct ShapeCase {
    std::string text;
    std::string shape;  // as exprtest::shape describes the condition
};
const std::vector<ShapeCase> &shape_cases();

// Texts of constants and the value each gives, as exprtest::describe
// writes it.
struct LiteralCase {
    std::string text;
    std::string value;
};
const std::vector<LiteralCase> &literal_cases();

struct BadCase {
    std::string text;
    int code;  // the parser's result: 1, or 2 for a tree too deep
};
const std::vector<BadCase> &bad_cases();

// Every good text of the tables above.
std::vector<std::string> good_texts();

}  // namespace exprtest
