// The exception of the object layer.
//
// An exception keeps its texts as pointers to constant texts: the message
// as given, the source name as the tail of the given path. Nothing is
// allocated, so copying and throwing one cannot fail on its texts.
#include <cstring>

#include "zarvo/zvdb.hpp"

namespace {

// The part of path after its last '/'; "" for a path without one.
const char *source_name(const char *path) {
    if (!path) return "";
    const char *slash = std::strrchr(path, '/');
    return slash ? slash + 1 : "";
}

}  // namespace

ZVException::ZVException(int code) : ZVException(code, "", "", 0) {}

ZVException::ZVException(int code, const char *message) : ZVException(code, message, "", 0) {}

ZVException::ZVException(int code, const char *sourcepath, int line)
    : ZVException(code, "", sourcepath, line) {}

ZVException::ZVException(int code, const char *message, const char *sourcepath, int line)
    : code(code), message(message ? message : ""), source(source_name(sourcepath)), line(line) {}

ZVException::~ZVException() noexcept = default;

int ZVException::GetErrorCode() const { return code; }

const char *ZVException::GetErrorMsg() const { return message; }

const char *ZVException::GetSourceFile() const { return source; }

int ZVException::GetLineNbr() const { return line; }
