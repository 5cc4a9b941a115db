// Fixture of the evaluator tests: record layouts (schema map, field names)
// with a writer of record images, and helpers that parse a condition
// against a layout and evaluate it on an image.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/expr/ptree.h"
#include "tests/engine/expr/exprfix.h"
#include "tests/fuzz/expr_entry.h"

namespace evaltest {

using Bytes = std::vector<unsigned char>;
using zvfuzz::FieldDef;

// A record layout without alignment: the first `nfixed` fields make the
// fixed part, at offsets that are the sums of the lengths before them.
struct Layout {
    Layout(std::vector<FieldDef> fields, size_t nfixed);
    std::vector<FieldDef> fields;
    size_t nfixed;
    int32_t fixlen = 0;
    std::vector<unsigned char> schema;
    std::vector<unsigned char> names;
    // Offset of a fixed field.
    int32_t offset(const char *name) const;
};

// Little-endian bytes of a value.
template <class T>
Bytes le(T v) {
    Bytes b(sizeof v);
    memcpy(b.data(), &v, sizeof v);
    return b;
}
// A length prefix of `width` bytes, then the text.
Bytes prefixed(int width, const std::string &text);
// The text's bytes.
Bytes bytes(const std::string &text);

// A record image: the fixed part of a layout, zeroed, then what var()
// appends.
struct Image {
    explicit Image(const Layout &l) : layout(&l), data(size_t(l.fixlen), 0) {}
    // Writes bytes at a fixed field's offset.
    Image &put(const char *field, const Bytes &b);
    template <class T>
    Image &set(const char *field, T v) {
        return put(field, le(v));
    }
    Image &var(const Bytes &b) {
        data.insert(data.end(), b.begin(), b.end());
        return *this;
    }
    const Layout *layout;
    Bytes data;
};

// The layout holding every readable type, "$NULFLD$", "$ROWID$" and a
// variable part (see evalfix.cpp), and its standard image.
const Layout &full_layout();
Image full_image();
// Day number, time and date-time values.
uint32_t date(int y, int m, int d);
double stamp(int y, int m, int d, int h, int mi, int s, int ms = 0);

// describe()'s form of a TEXT value holding s.
std::string text(const std::string &s);

class EvalTest : public exprtest::ExprTest {
protected:
    // Parses text against a layout: the bound tree (the test fails and
    // null is returned when it does not parse).
    PTNODE *compile(const std::string &text, const Layout &l);
    // cndxeval of text on an image; the expression error in *err.
    int eval(const std::string &text, const Image &img, int *err = nullptr);
    // The value cndxrun leaves for text ("NULL", describe()'s form, or
    // "error N"); the stack holds exactly that one value.
    std::string value(const std::string &text, const Image &img);
    // The same for a tree of the caller (kept by the caller).
    std::string value_of(PTNODE *tree, const Image &img);
};

}  // namespace evaltest
