// Helpers of the object-layer tests: what a call threw.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "zarvo/zvdb.hpp"

namespace objtest {

struct Thrown {
    bool thrown = false;
    int code = 0;
    std::string message;
    std::string source;
    int line = 0;
};

// Runs f and reports the ZVException it threw, if any.
template <typename F>
Thrown thrown_by(F &&f) {
    Thrown t;
    try {
        f();
    } catch (const ZVException &e) {
        t.thrown = true;
        t.code = e.GetErrorCode();
        t.message = e.GetErrorMsg();
        t.source = e.GetSourceFile();
        t.line = e.GetLineNbr();
    }
    return t;
}

// A call and the exception it must throw; a line of -1 accepts any line
// (where the line is that of the throwing statement).
struct ThrowCase {
    const char *name;
    std::function<void()> call;
    int code;
    const char *message;
    const char *module;
    int line;
};

// Checks what t, thrown by c's call, carries.
inline void expect_thrown(const Thrown &t, const ThrowCase &c) {
    EXPECT_TRUE(t.thrown) << c.name;
    EXPECT_EQ(t.code, c.code) << c.name;
    EXPECT_EQ(t.message, c.message) << c.name;
    EXPECT_EQ(t.source, c.module) << c.name;
    if (c.line >= 0) {
        EXPECT_EQ(t.line, c.line) << c.name;
    } else {
        EXPECT_GT(t.line, 0) << c.name;
    }
}

// The text of a string; "<none>" for a string without storage.
inline std::string text_of(const ZVString &s) { return s.c_str() ? s.c_str() : "<none>"; }

// The used bytes of a blob.
inline std::string bytes_of(const ZVBlob &b) {
    void *data = nullptr;
    int size = 0;
    b.GetBlob(data, size);
    std::string s(static_cast<const char *>(data ? data : ""), size_t(size));
    _zvdb_free(data);
    return s;
}

}  // namespace objtest
