// Utility routines of the record-level API: small text routines and bit
// arrays.
#include <cctype>
#include <cerrno>
#include <cstring>

#include "recapi/base/utility.h"

extern "C" {

ZV_API char *_zvdb_strrev(char *text) {
    if (!text) return nullptr;
    size_t n = std::strlen(text);
    for (size_t i = 0, j = n ? n - 1 : 0; i < j; i++, j--) {
        char c = text[i];
        text[i] = text[j];
        text[j] = c;
    }
    return text;
}

char *_zvdb_strlastchar(const char *text) {
    if (!text) return nullptr;
    const char *last = nullptr;
    for (const char *p = text; *p; p++) {
        if (!std::isspace(static_cast<unsigned char>(*p))) last = p;
    }
    return const_cast<char *>(last);
}

int32_t _zvdb_lastdelimiter(const char *text, int c) {
    if (!text) return -1;
    const char *p = std::strrchr(text, c);
    return p && c != 0 ? int32_t(p - text) : -1;
}

void _zvdbFileNameOnly(char *name) {
    if (char *dot = name ? std::strchr(name, '.') : nullptr) *dot = 0;
}

void _zvdbFlipBit(unsigned char *bits, int32_t n, int on) {
    if (!bits || n < 0) return;
    unsigned char mask = static_cast<unsigned char>(1u << (n % 8));
    if (on) bits[n / 8] |= mask;
    else bits[n / 8] &= static_cast<unsigned char>(~mask);
}

void _zvdbSetBit(unsigned char *bits, int32_t n) { _zvdbFlipBit(bits, n, 1); }

void _zvdbClearBit(unsigned char *bits, int32_t n) { _zvdbFlipBit(bits, n, 0); }

int _zvdbTestBit(const unsigned char *bits, int32_t n) {
    if (!bits || n < 0) return 0;
    return (bits[n / 8] >> (n % 8)) & 1;
}

}  // extern "C"
