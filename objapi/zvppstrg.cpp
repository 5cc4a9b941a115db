// String classes of the object layer.
//
// A ZVString owns one NUL-terminated buffer from the record-level allocator,
// or none at all (a null pointer: length 0, empty, and ordered before an
// empty string that has a buffer). Every change that needs a new buffer
// takes it before releasing the old one, so a failed allocation (4001)
// leaves the string as it was, and a string may be combined with itself.
// A ZVJsonString owns one heap ZVString, or none.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "objapi/zvppxcep.h"
#include "zarvo/zvdb.hpp"

namespace {

constexpr zvpp::Module kModule("objapi/zvppstrg");

constexpr const char *kNoMemoryObject = "Can't allocate memory for ZVString object";
constexpr const char *kNoMemoryAlloc = "Not enough memory to allocate string.";
constexpr const char *kNoMemoryCopy = "Not enough memory to copy string.";

int length_of(const char *s) { return s ? int(std::strlen(s)) : 0; }

// A zeroed buffer of n + 1 bytes; 4001 with message when n is out of the
// int range or memory is short.
char *buffer_of(int64_t n, const char *message, int line) {
    char *p = (n >= 0 && n <= INT32_MAX) ? _zvdb_stralloc(int32_t(n)) : nullptr;
    if (!p) kModule.fail(ZVDB_NO_MEMORY, message, line);
    return p;
}

char *copy_of(const char *text, const char *message, int line) {
    char *p = _zvdb_strdup(text);
    if (!p) kModule.fail(ZVDB_NO_MEMORY, message, line);
    return p;
}

// The "%d" or "%f" text of a value in a new buffer.
template <typename T>
char *formatted(const char *format, T value, const char *message, int line) {
    int n = std::snprintf(nullptr, 0, format, value);
    char *p = buffer_of(n, message, line);
    std::snprintf(p, size_t(n) + 1, format, value);
    return p;
}

// a then b in a new buffer.
char *joined(const char *a, int na, const char *b, int nb, const char *message, int line) {
    char *p = buffer_of(int64_t(na) + nb, message, line);
    std::memcpy(p, a, size_t(na));
    std::memcpy(p + na, b, size_t(nb));
    return p;
}

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

char lower(char c) { return char(std::tolower(static_cast<unsigned char>(c))); }

}  // namespace

/* ------------------------------------------------------------------------ */
/* ZVString                                                                  */
/* ------------------------------------------------------------------------ */

ZVString::ZVString() : str(nullptr) {}

ZVString::ZVString(const char *text)
    : str(text ? copy_of(text, kNoMemoryObject, __LINE__) : nullptr) {}

ZVString::ZVString(const char *text, int n) : str(buffer_of(n, kNoMemoryObject, __LINE__)) {
    // At most n bytes, and none past the text's own end.
    if (text) std::memcpy(str, text, strnlen(text, size_t(n)));
}

ZVString::ZVString(const ZVString &other)
    : str(other.str ? copy_of(other.str, kNoMemoryObject, __LINE__) : nullptr) {}

ZVString::ZVString(int value) : str(formatted("%d", value, kNoMemoryObject, __LINE__)) {}

ZVString::ZVString(double value) : str(formatted("%f", value, kNoMemoryObject, __LINE__)) {}

ZVString::~ZVString() noexcept { _zvdb_free(str); }

const char *ZVString::c_str() const { return str; }

int ZVString::Length() const { return length_of(str); }

bool ZVString::IsEmpty() const { return Length() == 0; }

void ZVString::Copy(const char *text) {
    char *p = text ? copy_of(text, kNoMemoryCopy, __LINE__) : nullptr;
    _zvdb_free(str);
    str = p;
}

void ZVString::Copy(const ZVString &other) { Copy(other.str); }

void ZVString::Copy(int value) {
    char *p = formatted("%d", value, kNoMemoryCopy, __LINE__);
    _zvdb_free(str);
    str = p;
}

void ZVString::Copy(double value) {
    char *p = formatted("%f", value, kNoMemoryCopy, __LINE__);
    _zvdb_free(str);
    str = p;
}

ZVString &ZVString::operator=(const char *text) {
    Copy(text);
    return *this;
}

ZVString &ZVString::operator=(const ZVString &other) {
    Copy(other.str);
    return *this;
}

int ZVString::Compare(const ZVString &other) const {
    if (!str) return other.str ? -1 : 0;
    if (!other.str) return 1;
    return std::strcmp(str, other.str);
}

int ZVString::CompareIC(const ZVString &other) const {
    if (!str) return other.str ? -1 : 0;
    if (!other.str) return 1;
    for (size_t i = 0;; i++) {
        unsigned char a = static_cast<unsigned char>(lower(str[i]));
        unsigned char b = static_cast<unsigned char>(lower(other.str[i]));
        if (a != b) return a < b ? -1 : 1;
        if (a == 0) return 0;
    }
}

bool ZVString::operator<(const ZVString &other) const { return Compare(other) < 0; }
bool ZVString::operator<=(const ZVString &other) const { return Compare(other) <= 0; }
bool ZVString::operator>(const ZVString &other) const { return Compare(other) > 0; }
bool ZVString::operator>=(const ZVString &other) const { return Compare(other) >= 0; }
bool ZVString::operator==(const ZVString &other) const { return Compare(other) == 0; }
bool ZVString::operator!=(const ZVString &other) const { return Compare(other) != 0; }

char &ZVString::operator[](int i) {
    // A string without storage has no byte, not even a terminator.
    if (!str || i < 0 || i > Length())
        kModule.fail(ZVDB_BAD_POSITION, "String index in operator [] out of range.", __LINE__);
    return str[i];
}

void ZVString::Delete(int pos, int count) {
    int len = Length();
    if (pos < 0 || pos > len) kModule.fail(ZVDB_BAD_POSITION, "Index out of range in Delete.", __LINE__);
    if (!str || count <= 0) return;
    if (count >= len - pos)
        str[pos] = '\0';
    else
        std::memmove(str + pos, str + pos + count, size_t(len - pos - count) + 1);
}

void ZVString::Insert(const ZVString &s, int pos) {
    int len = Length();
    if (pos < 0 || pos > len) kModule.fail(ZVDB_BAD_POSITION, "Index out of range in Insert.", __LINE__);
    int slen = s.Length();
    if (slen == 0) return;
    const char *message = "Not enough memory to perform insertion.";
    if (!str) {
        str = copy_of(s.str, message, __LINE__);
        return;
    }
    char *p = buffer_of(int64_t(len) + slen, message, __LINE__);
    std::memcpy(p, str, size_t(pos));
    std::memcpy(p + pos, s.str, size_t(slen));
    std::memcpy(p + pos + slen, str + pos, size_t(len - pos));
    _zvdb_free(str);
    str = p;
}

bool ZVString::IsDelimiter(const ZVString &set, int i) const {
    if (i < 0 || i >= Length())
        kModule.fail(ZVDB_BAD_POSITION, "Index out of range in IsDelimiter.", __LINE__);
    return set.str && std::memchr(set.str, str[i], size_t(set.Length())) != nullptr;
}

bool ZVString::IsPathDelimiter(int i) const {
    if (i < 0 || i >= Length())
        kModule.fail(ZVDB_BAD_POSITION, "Index out of range in IsDelimiter.", __LINE__);
    return str[i] == '/';
}

char *ZVString::LastChar() const {
    int len = Length();
    return len ? str + len - 1 : nullptr;
}

int ZVString::LastDelimiter(const ZVString &set) const {
    int setlen = set.Length();
    if (setlen == 0) return -1;
    for (int i = Length() - 1; i >= 0; i--)
        if (std::memchr(set.str, str[i], size_t(setlen))) return i;
    return -1;
}

int ZVString::Pos(const ZVString &s) const {
    if (!str || !s.str) return -1;
    const char *p = std::strstr(str, s.str);
    return p ? int(p - str) : -1;
}

void ZVString::LowerCase() {
    for (char *p = str; p && *p; p++) *p = lower(*p);
}

void ZVString::UpperCase() {
    for (char *p = str; p && *p; p++) *p = char(std::toupper(static_cast<unsigned char>(*p)));
}

void ZVString::TrimLeft() {
    if (!str) return;
    int skip = 0;
    while (str[skip] && is_space(str[skip])) skip++;
    if (skip) std::memmove(str, str + skip, std::strlen(str + skip) + 1);
}

void ZVString::TrimRight() {
    int len = Length();
    while (len > 0 && is_space(str[len - 1])) len--;
    if (str) str[len] = '\0';
}

void ZVString::Trim() {
    TrimLeft();
    TrimRight();
}

int ZVString::ToInt() const { return str ? std::atoi(str) : 0; }

double ZVString::ToDouble() const { return str ? std::atof(str) : 0.0; }

void ZVString::Free() { str = static_cast<char *>(_zvdb_free(str)); }

void ZVString::Empty() { Free(); }

void ZVString::SetLength(int n) {
    if (n < 0) return;
    if (n == 0) {
        Empty();
        return;
    }
    int len = Length();
    if (n < len) {
        str[n] = '\0';
    } else if (n > len) {
        char *p = buffer_of(n, "Not enough memory to set the length of string.", __LINE__);
        std::memcpy(p, str ? str : "", size_t(len));
        _zvdb_free(str);
        str = p;
    }
}

void ZVString::PadLeft(int n, char c) {
    int len = Length();
    if (len >= n) return;
    char *p = buffer_of(n, "Not enough memory to left pad string.", __LINE__);
    std::memset(p, c, size_t(n - len));
    std::memcpy(p + (n - len), str ? str : "", size_t(len));
    _zvdb_free(str);
    str = p;
}

void ZVString::PadRight(int n, char c) {
    int len = Length();
    if (len >= n) return;
    char *p = buffer_of(n, "Not enough memory to right pad string.", __LINE__);
    std::memcpy(p, str ? str : "", size_t(len));
    std::memset(p + len, c, size_t(n - len));
    _zvdb_free(str);
    str = p;
}

void ZVString::Alloc(int n) {
    char *p = buffer_of(n, kNoMemoryAlloc, __LINE__);
    _zvdb_free(str);
    str = p;
}

ZVString ZVString::StringOfChar(char c, int n) {
    ZVString r;
    if (n < 1) return r;
    r.str = buffer_of(n, kNoMemoryAlloc, __LINE__);
    std::memset(r.str, c, size_t(n));
    return r;
}

ZVString ZVString::SubString(int pos, int count) const {
    if (pos < 0) kModule.fail(ZVDB_BAD_POSITION, "Index out of range in SubString.", __LINE__);
    int len = Length();
    if (pos >= len) return ZVString();
    if (count <= 0) return ZVString("");
    if (count > len - pos) count = len - pos;
    return ZVString(str + pos, count);
}

ZVString ZVString::Left(int n) const {
    if (!str) return ZVString();
    int len = Length();
    if (n <= 0) return ZVString("");
    return n >= len ? *this : ZVString(str, n);
}

ZVString ZVString::Right(int n) const {
    if (!str) return ZVString();
    int len = Length();
    if (n <= 0) return ZVString("");
    return n >= len ? *this : ZVString(str + len - n, n);
}

ZVString ZVString::IntToHex(int value, int width) {
    if (width > 256) return ZVString();
    // A negative width would mean left-justified space padding to printf.
    if (width < 0) width = 0;
    char text[257 + 8];
    std::snprintf(text, sizeof text, "%0*x", width, static_cast<unsigned>(value));
    return ZVString(text);
}

ZVString &ZVString::operator+=(const ZVString &s) {
    if (!s.str) return *this;
    if (!str) {
        Copy(s.str);
        return *this;
    }
    char *p = joined(str, Length(), s.str, s.Length(), kNoMemoryAlloc, __LINE__);
    _zvdb_free(str);
    str = p;
    return *this;
}

ZVString operator+(const ZVString &a, const ZVString &b) {
    ZVString r(a);
    r += b;
    return r;
}

ZVString operator+(const ZVString &a, const char *b) { return a + ZVString(b); }

ZVString operator+(const char *a, const ZVString &b) { return ZVString(a) + b; }

/* ------------------------------------------------------------------------ */
/* ZVJsonString                                                              */
/* ------------------------------------------------------------------------ */

namespace {

// A heap ZVString built from args; 4001 when the object cannot be allocated.
template <typename... Args>
ZVString *new_string(Args &&...args) {
    ZVString *s = new (std::nothrow) ZVString(std::forward<Args>(args)...);
    if (!s) kModule.fail(ZVDB_NO_MEMORY, kNoMemoryObject, __LINE__);
    return s;
}

}  // namespace

ZVJsonString::ZVJsonString() : str(nullptr) {}

ZVJsonString::ZVJsonString(const char *text) : str(new_string(text)) {}

ZVJsonString::ZVJsonString(const char *text, int n) : str(new_string(text, n)) {}

ZVJsonString::ZVJsonString(const ZVJsonString &other)
    : str(other.str ? new_string(*other.str) : nullptr) {}

ZVJsonString::~ZVJsonString() noexcept { delete str; }

ZVJsonString &ZVJsonString::operator=(const char *text) {
    ZVString *s = new_string(text);
    delete str;
    str = s;
    return *this;
}

ZVJsonString &ZVJsonString::operator=(const ZVString &text) {
    ZVString *s = new_string(text);
    delete str;
    str = s;
    return *this;
}

ZVJsonString &ZVJsonString::operator=(const ZVJsonString &other) {
    ZVString *s = other.str ? new_string(*other.str) : nullptr;
    delete str;
    str = s;
    return *this;
}

const char *ZVJsonString::c_str() const { return str ? str->c_str() : nullptr; }

ZVString &ZVJsonString::ToZVString() {
    if (!str) str = new_string();
    return *str;
}
