// Fixture of the expression-language tests: a started engine and the shared
// record layout of tests/fuzz/expr_entry.h, with helpers that parse against
// it and describe trees.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/expr/ptree.h"
#include "tests/fuzz/expr_entry.h"
#include "tests/support/fixture.h"

namespace exprtest {

// Schema position of a field of the shared layout by name.
int field_no(const char *name);

class ExprTest : public zvtest::ZvTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Parses text (its terminating NUL counted) against the shared layout:
    // zvcxparse's result; the tree, on success, in *tree.
    int parse(const std::string &text, PTNODE **tree);
    // Parses text and returns the condition below the bound root (the tree
    // stays in tree_, destroyed at tear-down); null with the test failed
    // when the text does not parse.
    const PTNODE *condition(const std::string &text);
    std::vector<unsigned char> schema_;
    std::vector<unsigned char> names_;
    PTNODE *tree_ = nullptr;
};

// Whether a bound layout reads its own copy of a schema map: the same
// bytes at another address, so that the map may be freed while the tree
// lives.
::testing::AssertionResult reads_copy_of(const PTRECINFO *ri, const unsigned char *schema);

// The tree below n as a nested list: an operator "(KIND:type child ...)"
// with "PT_" dropped and null children left out, a field by its name,
// "(ISNULL name)" and "(NOTNULL name)", an INTEGER constant by its value, a
// TEXT constant as 'bytes', any other constant by its value kind's name.
std::string shape(const PTNODE *n);

// A constant value as "KIND value": INTEGER and TIME kinds in decimal, a
// NUMBER in its text form, TEXT as hex bytes ("TEXT 61 0a"), DATE as
// "y-m-d", STAMP as "y-m-d h:m:s".
std::string describe(const PTVALUE &v);

}  // namespace exprtest
