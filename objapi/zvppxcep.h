// Raising failures of the object layer.
//
// Every throw of the layer names its module by a path whose last part is
// the module's name ("objapi/zvppbint"), so that GetSourceFile() gives that
// name whatever the build tree looks like. Each module keeps one Module
// constant and throws through it.
#pragma once

#include "zarvo/zvdb.hpp"

namespace zvpp {

class Module {
public:
    constexpr explicit Module(const char *path) : path_(path) {}

    // Throws code with message and line when code is not 0.
    void check(ZVDBRET code, const char *message, int line) const {
        if (code != 0) fail(code, message, line);
    }
    [[noreturn]] void fail(int code, const char *message, int line) const {
        throw ZVException(code, message, path_, line);
    }

private:
    const char *path_;
};

}  // namespace zvpp
