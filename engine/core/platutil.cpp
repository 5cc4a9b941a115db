// Shared-library loading and small platform utilities.
//
// Library loading resolves a caller's table of function names in one call
// and never leaves a half-loaded request behind: a failure closes the
// library and clears the handle and every resolved entry. The shutdown
// signal handler only notes the signal (see statuslog.h); everything that
// is not async-signal-safe happens at the next status-log write. Console
// input is always bounded by the caller's buffer size.
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <dlfcn.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/statuslog.h"
#include "engine/core/version.h"

static_assert(sizeof(ZVDLLREQ) == ZV_DLLREQ_SIZE, "the library request block is 56 bytes");
static_assert(offsetof(ZVDLLREQ, errbuf) == 8 && offsetof(ZVDLLREQ, libname) == 16 &&
                  offsetof(ZVDLLREQ, handle) == 24 && offsetof(ZVDLLREQ, funccount) == 32 &&
                  offsetof(ZVDLLREQ, funcnames) == 40 && offsetof(ZVDLLREQ, functable) == 48,
              "library request block layout");

namespace {

constexpr const char *kDumpMarker = "\t\t  *****\t\t\t   *****\n";

struct DrEvent {
    const char *name;
    int32_t code;
};
constexpr DrEvent kDrEvents[12] = {
    {"DR_EVENT_NONE", 0},           {"DR_EVENT_BEGIN_RESTORE", 8},
    {"DR_EVENT_END_RESTORE", 9},    {"DR_EVENT_BEGIN_FILE", 2},
    {"DR_EVENT_PROGRESS_FILE", 3},  {"DR_EVENT_END_FILE", 4},
    {"DR_EVENT_BEGIN_ROLLBACK", 10}, {"DR_EVENT_END_ROLLBACK", 11},
    {"DR_EVENT_BEGIN_CLNIDX", 12},  {"DR_EVENT_END_CLNIDX", 13},
    {"DR_EVENT_BEGIN_UPDIFL", 14},  {"DR_EVENT_END_UPDIFL", 15}};

// The engine's standard output stream (setZarvoSTDOUT).
FILE *engine_stdout() { return getZarvoSTDOUT(); }

// A failure message of the library loader: into the caller's buffer when
// there is one, else into the status log.
void report(char *errbuf, int32_t size, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
void report(char *errbuf, int32_t size, const char *fmt, ...) {
    char msg[600];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(msg, sizeof msg, fmt, ap);
    va_end(ap);
    if (errbuf && size > 0) {
        snprintf(errbuf, static_cast<size_t>(size), "%s", msg);
    } else {
        zvrcvlog(msg, zv::kLogSingleTry);
    }
}

const char *dl_text() {
    const char *e = dlerror();
    return e ? e : "";
}

bool starts_with(const char *s, const char *prefix) {
    return strncmp(s, prefix, strlen(prefix)) == 0;
}

bool ends_with(const char *s, const char *suffix) {
    size_t n = strlen(s), m = strlen(suffix);
    return n >= m && strcmp(s + n - m, suffix) == 0;
}

// One line of the hex dump: offset, 16 values, 16 characters.
void dump_line(FILE *fp, const unsigned char *p, int32_t off, int32_t cnt) {
    fprintf(fp, "%06x  ", static_cast<unsigned>(off));
    for (int i = 0; i < 16; i++) {
        if (i < cnt) fprintf(fp, " %02x", p[i]);
        else fputs("   ", fp);
        if (i == 7) fputc(' ', fp);
    }
    fputs("  ", fp);
    for (int i = 0; i < 16; i++) {
        if (i >= cnt) fputc(' ', fp);
        else fputc(p[i] >= 0x21 && p[i] <= 0x7D ? p[i] : '.', fp);
    }
    fputc('\n', fp);
}

// Per-thread results of the time calls made without a caller's buffer.
thread_local struct tm t_tm;
thread_local char t_asctime[26];

}  // namespace

extern "C" {

// ---- Shared libraries -------------------------------------------------------

ZV_API int zvStandardizeLibName(const char *name, int force, char *out, int32_t size) {
    if (!name || !out) return zv::set_uerr(540);
    const char *prefix = (!force && starts_with(name, "lib")) ? "" : "lib";
    const char *suffix = (!force && ends_with(name, ".so")) ? "" : ".so";
    size_t lp = strlen(prefix), ln = strlen(name), ls = strlen(suffix);
    if (size <= 0 || lp + ln + ls + 1 > static_cast<size_t>(size)) return zv::set_uerr(153);
    memcpy(out, prefix, lp);
    memmove(out + lp, name, ln);
    memcpy(out + lp + ln, suffix, ls + 1);
    return 0;
}

ZV_API int zvdll_load(ZVDLLREQ *req) {
    if (!req || !req->libname) return zv::set_uerr(540);
    if (req->size != ZV_DLLREQ_SIZE || req->funccount < 0) return zv::set_uerr(749);
    if (req->funccount > 0 && (!req->funcnames || !req->functable)) return zv::set_uerr(540);
    for (int32_t i = 0; i < req->funccount; i++) {
        if (!req->funcnames[i]) return zv::set_uerr(540);
    }
    req->handle = nullptr;
    const char *name = req->libname;
    char *std_name = nullptr;
    if (name[0] == '^') {
        size_t len = strlen(name) + 10;
        std_name = static_cast<char *>(mballc(1, len));
        if (!std_name) return zv::set_uerr(82);
        int rc = zvStandardizeLibName(name + 1, 1, std_name, static_cast<int32_t>(len));
        if (rc) {
            report(req->errbuf, req->errbufsize,
                   "ZVDLL_LOAD: Failed to convert library name %s to standard format: %d", name,
                   rc);
            mbfree(std_name);
            return zv::set_uerr(rc);
        }
        name = std_name;
    }
    int rc = 0;
    void *h = dlopen(name, RTLD_NOW);
    if (!h) {
        report(req->errbuf, req->errbufsize, "ZVDLL_LOAD: Failed to load module %.128s: %.256s",
               name, dl_text());
        rc = 981;
    }
    for (int32_t i = 0; h && i < req->funccount; i++) {
        const char *fn = req->funcnames[i];
        bool optional = fn[0] == '?';
        if (optional) fn++;
        dlerror();
        void *addr = dlsym(h, fn);
        req->functable[i] = addr;
        if (!addr && !optional) {
            report(req->errbuf, req->errbufsize,
                   "ZVDLL_LOAD: Failed to resolve function %.64s in module %.128s: %.256s", fn,
                   name, dl_text());
            dlclose(h);
            h = nullptr;
            // No entry may point into the library that is gone.
            for (int32_t j = 0; j < req->funccount; j++) req->functable[j] = nullptr;
            rc = 982;
        }
    }
    mbfree(std_name);
    if (rc) return zv::set_uerr(rc);
    req->handle = h;
    return 0;
}

ZV_API int zvdll_getsym(void *handle, const char *name, void **out, char *errbuf,
                        int32_t errbufsize) {
    if (!handle || !name || !out) return zv::set_uerr(540);
    dlerror();
    void *addr = dlsym(handle, name);
    *out = addr;
    if (!addr) {
        if (errbuf && errbufsize > 0) {
            snprintf(errbuf, static_cast<size_t>(errbufsize),
                     "ZVDLL_GETSYM: Failed to resolve function %.64s: %.256s", name, dl_text());
        }
        return zv::set_uerr(982);
    }
    return 0;
}

ZV_API int zvdll_unload(ZVDLLREQ *req) {
    if (!req) return 0;
    if (req->size != ZV_DLLREQ_SIZE) return zv::set_uerr(749);
    if (req->handle) {
        dlclose(req->handle);
        req->handle = nullptr;
        if (req->functable) {
            for (int32_t i = 0; i < req->funccount; i++) req->functable[i] = nullptr;
        }
    }
    return 0;
}

// ---- Signals, exit and console ----------------------------------------------

ZV_API void zv_rspshtdwnsig(int sig) {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = SIG_IGN;
    sigaction(sig, &sa, nullptr);
    zv::note_shutdown_signal(sig);
}

ZV_API void zv_setshtdwnsig(void) {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = zv_rspshtdwnsig;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
}

ZV_API int zvSETEXITFNC(void *) { return 454; }

ZV_API char *zvGetMaskedInput(char *buf, int32_t size) {
    if (!buf || size <= 0) return nullptr;
    const char *pw = getpass("");
    if (!pw) return nullptr;
    strncpy(buf, pw, static_cast<size_t>(size) - 1);
    buf[size - 1] = '\0';
    return buf;
}

ZV_API char *zvrt_gets(char *buf, int32_t size) {
    if (!buf || size <= 0) return nullptr;
    int32_t n = 0;
    for (;;) {
        errno = 0;
        int c = getchar();
        if (c == EOF) {
            buf[n] = '\0';
            return n == 0 ? nullptr : buf;
        }
        if (c == '\n' || c == '\r') break;
        if (c == 8) {
            if (n > 0) n--;
        } else if (n < size - 1) {
            buf[n++] = static_cast<char>(c);
        }
    }
    buf[n] = '\0';
    return buf;
}

ZV_API int zvrt_printf(const char *format, ...) {
    if (!format) return 0;
    va_list ap;
    va_start(ap, format);
    int n = vfprintf(engine_stdout(), format, ap);
    va_end(ap);
    return n;
}

ZV_API void zvPrintProductVersion(const char *text) {
    FILE *out = engine_stdout();
    fprintf(out, "Zarvo(R) embedded database engine V0.1.0 %s\n", text ? text : "");
    fputs("Copyright (c) the Zarvo developers. All rights reserved.\n", out);
    fflush(out);
}

ZV_API int zvlogio(const char *file, const char *title, const void *bytes, int32_t len,
                   int32_t limit) {
    if (!bytes && len > 0) return 540;
    FILE *fp = file ? zv::zvgetstream(file, "a", 10) : stdout;
    if (!fp) return -1;
    if (title) fprintf(fp, "%s:", title);
    int32_t n = len < 0 ? 0 : len;
    if (limit > 0 && limit < n) {
        fprintf(fp, " [only 1st %d bytes dumped]\n", limit);
        n = limit;
    } else {
        fputc('\n', fp);
    }
    auto *p = static_cast<const unsigned char *>(bytes);
    bool have_prev = false;  // the previous line was full and of one value
    unsigned char prev = 0;
    bool skipping = false;
    for (int32_t off = 0; off < n; off += 16) {
        int32_t cnt = n - off < 16 ? n - off : 16;
        bool uniform = cnt == 16;
        for (int32_t i = 1; uniform && i < 16; i++) uniform = p[off + i] == p[off];
        if (uniform && have_prev && prev == p[off]) {
            skipping = true;
            continue;
        }
        if (skipping) {
            fputs(kDumpMarker, fp);
            skipping = false;
        }
        have_prev = uniform;
        prev = p[off];
        if (off % 128 == 0) fputc('\n', fp);
        dump_line(fp, p + off, off, cnt);
    }
    if (skipping) fputs(kDumpMarker, fp);
    fputc('\n', fp);
    if (fp == stdout) fflush(fp);
    else zv::plat_fclose(fp);
    return 0;
}

// ---- Time -------------------------------------------------------------------

ZV_API int32_t zvtime(void) { return static_cast<int32_t>(time(nullptr)); }

ZV_API struct tm *zvrt_localtime_r(const time_t *t, struct tm *out) {
    if (!t) return nullptr;
    return localtime_r(t, out ? out : &t_tm);
}

ZV_API struct tm *zvrt_gmtime_r(const time_t *t, struct tm *out) {
    if (!t) return nullptr;
    return gmtime_r(t, out ? out : &t_tm);
}

ZV_API char *zvrt_asctime_r(const struct tm *tm, char *out) {
    if (!tm) return nullptr;
    return asctime_r(tm, out ? out : t_asctime);
}

ZV_API char *zvdate_r(int32_t t, char *out) {
    time_t when = t ? t : time(nullptr);
    struct tm tmv;
    if (!localtime_r(&when, &tmv)) return nullptr;
    return asctime_r(&tmv, out ? out : t_asctime);
}

ZV_API char *zvdatetime_name(int32_t t, char *out, int sep) {
    if (!out) return nullptr;
    time_t when = t ? t : time(nullptr);
    struct tm tmv;
    if (!localtime_r(&when, &tmv)) return nullptr;
    char text[64];
    int n = snprintf(text, sizeof text, "%04d%02d%02d%c%02d%02d%02d", tmv.tm_year + 1900,
                     tmv.tm_mon + 1, tmv.tm_mday, static_cast<char>(sep), tmv.tm_hour,
                     tmv.tm_min, tmv.tm_sec);
    // 15 characters for every year of a 32-bit time; never more than 16 bytes.
    size_t len = n < 0 ? 0 : (n > 15 ? 15 : static_cast<size_t>(n));
    memcpy(out, text, len);
    out[len] = '\0';
    return out;
}

ZV_API int zvdefer(int32_t ms) {
    if (ms > 0) usleep(static_cast<useconds_t>(ms) * 1000);
    return 0;
}

// ---- Platform facts, settings and version identifiers -----------------------

ZV_API int zvGetLinuxKernelVersion(int *major, int *minor, char *msg, int32_t size) {
    if (!major || !minor) return 540;
    struct utsname u;
    if (uname(&u) != 0) {
        int err = errno;
        if (msg && size > 0) {
            char text[256];
            const char *why = strerror_r(err, text, sizeof text);
            snprintf(msg, static_cast<size_t>(size), "Unable to get kernel version: %s", why);
        }
        return -err;
    }
    if (sscanf(u.release, "%d.%d", major, minor) < 2) {
        if (msg && size > 0) {
            snprintf(msg, static_cast<size_t>(size), "Unexpected kernel release format: %s",
                     u.release);
        }
        return 1;
    }
    return 0;
}

ZV_API int64_t zvGetRebuildMemory(void) { return zvWNGV ? zvWNGV->rebuildmemory : 0; }

ZV_API void zvSetRebuildMemory(int64_t kilobytes) {
    if (zvWNGV) zvWNGV->rebuildmemory = kilobytes;
}

ZV_API void zvSetVERSIONID2(uint32_t *out) {
    if (out) *out = zv::kVersionId2;
}

ZV_API void zvGetVERSIONID2(uint32_t id, uint32_t *low, uint32_t *rest) {
    if (!low || !rest) return;
    *low = id & 127u;
    *rest = id >> 7;
}

ZV_API void zvSetVERSIONID_BASE(uint32_t *out) {
    if (out) *out = zv::kVersionIdBase;
}

ZV_API void zvGetVERSIONID_BASE(uint32_t id, uint32_t *out) {
    if (out) *out = id;
}

// ---- Variable-length integers -----------------------------------------------

ZV_API int zvVarintLen(uint64_t v) {
    int n = 1;
    while (v >= 0x80) {
        v >>= 7;
        n++;
    }
    return n;
}

ZV_API int zvPutVarint(unsigned char *out, uint64_t v) {
    if (!out) return 0;
    int n = 0;
    while (v >= 0x80) {
        out[n++] = static_cast<unsigned char>(v | 0x80);
        v >>= 7;
    }
    out[n++] = static_cast<unsigned char>(v);
    return n;
}

ZV_API int zvGetVarintLen(const unsigned char *bytes) {
    if (!bytes) return 0;
    int n = 0;
    while (n < 10) {
        if (bytes[n++] < 0x80) break;
    }
    return n;
}

ZV_API int zvGetVarint(const unsigned char *bytes, uint64_t *out) {
    if (!bytes) return 0;
    uint64_t v = 0;
    int n = 0;
    while (n < 10) {
        unsigned char b = bytes[n];
        v |= uint64_t{b & 0x7Fu} << (7 * n);
        n++;
        if (b < 0x80) break;
    }
    if (out) *out = v;
    return n;
}

// ---- Dump-and-restore event names -------------------------------------------

ZV_API const char *zvGetDumpRestoreEventDescription(int n) {
    return (n >= 0 && n <= 11) ? kDrEvents[n].name : kDrEvents[0].name;
}

ZV_API int zvCheckDumpRestoreEvent(const char *text, int32_t len, int32_t *out) {
    if (!text || !out) return 540;
    if (len < 0) return 634;
    *out = 0;
    for (int i = 1; i <= 11; i++) {
        const char *name = kDrEvents[i].name;
        int32_t nlen = static_cast<int32_t>(strlen(name));
        // "{" name "}", the whole text: either all len bytes or up to a NUL.
        if (nlen + 2 > len || text[0] != '{' || memcmp(text + 1, name, nlen) != 0 ||
            text[nlen + 1] != '}' || (nlen + 2 < len && text[nlen + 2] != '\0')) {
            continue;
        }
        *out = kDrEvents[i].code;
        break;
    }
    return 0;
}

// ---- Fixed answers of this build --------------------------------------------

ZV_API int LOCK81(FCB *, uint32_t, uint32_t) { return 0; }
ZV_API int UNLOCK81(FCB *, uint32_t, uint32_t) { return 0; }
ZV_API int DLOCK81(FCB *, uint32_t, uint32_t) { return 0; }
ZV_API int RLOCK81(FCB *, uint32_t, uint32_t) { return 0; }
ZV_API int UDLOCK81(FCB *, uint32_t, uint32_t) { return 0; }
ZV_API int zvsysint(void) { return 0; }
ZV_API int zvsysdint(int v) { return v; }
ZV_API int zvConnStateAlloc(void **) { return 454; }
ZV_API int zvConnStateFree(void *) { return 454; }
ZV_API int zvConnStateGet(void *) { return 454; }
ZV_API int makAlterSchema(void *) { return 454; }
ZV_API int makPTADMIN(void *) { return 454; }

// A place for a debugger break point; kept out of line on purpose.
ZV_API __attribute__((noinline)) void zvbpf(void) { __asm__ volatile(""); }

ZV_API void zvbpfx(int level) {
    if (zvWNGV && zvWNGV->debuglevel >= level) zvbpf();
}

ZV_API void zvbpfNOdmpstack(void) {}

ZV_API int32_t zvrt_get_strlen(const char *text, int32_t max) {
    if (!text || max < 1) return 0;
    return static_cast<int32_t>(strnlen(text, static_cast<size_t>(max)));
}

}  // extern "C"
