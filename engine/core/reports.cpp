// The engine's standard output and error.
//
// The two streams are process-wide: set by setZarvoSTDOUT/setZarvoSTDERR,
// otherwise the process's standard output and error (recorded the first
// time they are asked for). Every message of the engine (zvrt_printf) goes
// to the standard output chosen here.
#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "zarvo/zarvo.h"

namespace {

std::atomic<FILE *> g_stdout{nullptr};
std::atomic<FILE *> g_stderr{nullptr};

}  // namespace

extern "C" {

ZV_API FILE *getZarvoSTDOUT(void) {
    FILE *f = g_stdout.load();
    if (!f) {
        g_stdout.compare_exchange_strong(f, stdout);
        f = g_stdout.load();
    }
    return f;
}

ZV_API FILE *getZarvoSTDERR(void) {
    FILE *f = g_stderr.load();
    if (!f) {
        g_stderr.compare_exchange_strong(f, stderr);
        f = g_stderr.load();
    }
    return f;
}

ZV_API void setZarvoSTDOUT(FILE *stream) { g_stdout.store(stream); }

ZV_API void setZarvoSTDERR(FILE *stream) { g_stderr.store(stream); }

ZV_API int zvrt_printf_default_impl(const char *format, ...) {
    if (!format) return 0;
    va_list ap;
    va_start(ap, format);
    int n = vfprintf(getZarvoSTDOUT(), format, ap);
    va_end(ap);
    return n;
}

}  // extern "C"
