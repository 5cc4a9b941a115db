// File names and paths (see paths.h): splitting names, joining them with
// the session's separator and prefix, and the prefixed copies of file
// definitions handed to the engine.
#include "recapi/base/paths.h"

#include <cctype>
#include <cstring>
#include <strings.h>

#include "engine/core/platform.h"
#include "recapi/base/handles.h"
#include "recapi/base/utility.h"
#include "recapi/base/wrappers.h"

namespace {

// Longest file name the engine takes.
constexpr size_t kEngineNameMax = 255;

// The last c in [b, e); NULL when none (and for c 0).
const char *last_of(const char *b, const char *e, int c) {
    if (c == 0) return nullptr;
    for (const char *p = e; p > b; p--) {
        if (static_cast<unsigned char>(p[-1]) == static_cast<unsigned char>(c)) return p - 1;
    }
    return nullptr;
}

const char *later(const char *a, const char *b) {
    if (!a) return b;
    if (!b) return a;
    return a > b ? a : b;
}

// Copies [b, e) with a terminator into out: 0, or 4006 (out left empty).
ZVDBRET put_part(const char *b, const char *e, char *out, int32_t size) {
    size_t n = size_t(e - b);
    out[0] = 0;
    if (n >= size_t(size)) return ZVDB_BUFFER_SMALL;
    std::memcpy(out, b, n);
    out[n] = 0;
    return 0;
}

bool is_sep(char c, int sep) { return sep != 0 && static_cast<unsigned char>(c) == static_cast<unsigned char>(sep); }

// Whether the session's prefix goes in front of name.
bool prefix_applies(const char *prefix, const char *name, int sep) {
    if (!prefix || !prefix[0]) return false;
    if (std::strncmp(name, prefix, std::strlen(prefix)) == 0) return false;
    if (is_sep(name[0], sep)) return false;
    if (std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':' && is_sep(name[2], sep)) return false;
    return true;
}

// Whether a separator goes between prefix (or directory) and name.
bool needs_sep(const char *dir, int sep, bool bang_ends) {
    const char *last = _zvdb_strlastchar(dir);
    if (!last) return false;
    if (is_sep(*last, sep)) return false;
    return !(bang_ends && *last == '!');
}

// Length of the joined text and the join itself (out holds n + 1 bytes).
size_t joined_length(const char *a, bool sep, const char *b) { return std::strlen(a) + (sep ? 1 : 0) + std::strlen(b); }

void join(char *out, const char *a, bool sep, int sepc, const char *b) {
    size_t n = std::strlen(a);
    std::memcpy(out, a, n);
    if (sep) out[n++] = char(sepc);
    std::memcpy(out + n, b, std::strlen(b) + 1);
}

tagZVDBSESSION *session_of(ZVHANDLE h) {
    return static_cast<tagZVDBSESSION *>(_zvdbSelectHandle(h, ZVDB_SESSION_HANDLE));
}

// A prefixed copy of name when the prefix applies, else a plain copy.
ZVDBRET prefixed_copy(tagZVDBSESSION *s, int sep, const char *name, char **out) {
    *out = nullptr;
    char *copy;
    if (prefix_applies(s->pathprefix, name, sep)) {
        bool with = needs_sep(s->pathprefix, sep, false);
        size_t n = joined_length(s->pathprefix, with, name);
        if (n > size_t(INT32_MAX) - 1) return ZVDB_NO_MEMORY;
        copy = _zvdb_stralloc(int32_t(n));
        if (copy) join(copy, s->pathprefix, with, sep, name);
    } else {
        copy = _zvdb_strdup(name);
    }
    if (!copy) return ZVDB_NO_MEMORY;
    *out = copy;
    return 0;
}

// Index file names relative to the data file ("*x", "+x", "?x") follow it
// and its prefix; they are kept as they are.
bool relative_to_data(const char *name) { return name[0] == '*' || name[0] == '+' || name[0] == '?'; }

}  // namespace

namespace zv {

ZVDBRET prefixed_name(ZVHANDLE handle, const char *name, char **out) {
    *out = nullptr;
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    if (!name) return ZVDB_NULL_ARGUMENT;
    char *p;
    if (ZVDBRET rc = prefixed_copy(s, _zvdbGetPathSeparator(s), name, &p)) return rc;
    if (std::strlen(p) > kEngineNameMax) {
        _zvdb_free(p);
        return 139;
    }
    *out = p;
    return 0;
}

}  // namespace zv

extern "C" {

ZVDBRET _zvdb_GetFilePath(const char *name, char *out, int32_t size, int sep) {
    if (!name || !out) return ZVDB_NULL_ARGUMENT;
    if (size < 1) return ZVDB_BUFFER_SMALL;
    std::memset(out, 0, size_t(size));
    const char *bar = std::strchr(name, '|');
    const char *end = bar ? bar : name + std::strlen(name);
    const char *s = last_of(name, end, sep);
    const char *bang = last_of(name, end, '!');
    const char *stop;
    if (bang && (!s || bang > s)) stop = bang + 1;
    else if (s) stop = s;
    else return 0;
    if (size_t(stop - name) >= size_t(size)) return ZVDB_BUFFER_SMALL;
    std::memcpy(out, name, size_t(stop - name));
    return 0;
}

ZVDBRET _zvdb_GetFileNameXtd(const char *name, char *out, int32_t size, int sep, const char *ext) {
    if (!name || !out) return ZVDB_NULL_ARGUMENT;
    if (size < 1) return ZVDB_BUFFER_SMALL;
    const char *end = std::strrchr(name, '|');
    if (!end) end = name + std::strlen(name);
    const char *after = later(last_of(name, end, sep), last_of(name, end, '!'));
    const char *start = after ? after + 1 : name;
    const char *stop = end;
    if (!ext) {
        if (const char *dot = last_of(start, end, '.')) stop = dot;
    } else {
        size_t en = std::strlen(ext);
        size_t n = size_t(end - start);
        if (n > en && strncasecmp(end - en, ext, en) == 0) stop = end - en;
    }
    return put_part(start, stop, out, size);
}

ZVDBRET _zvdb_GetFileName(const char *name, char *out, int32_t size, int sep) {
    return _zvdb_GetFileNameXtd(name, out, size, sep, nullptr);
}

ZVDBRET _zvdb_GetMirrorFileName(const char *name, char *out, int32_t size, int sep) {
    if (!name || !out) return ZVDB_NULL_ARGUMENT;
    if (size < 1) return ZVDB_BUFFER_SMALL;
    const char *bar = std::strrchr(name, '|');
    out[0] = 0;
    if (!bar) return 0;
    const char *end = name + std::strlen(name);
    const char *start = later(bar, last_of(name, end, sep)) + 1;
    const char *dot = last_of(start, end, '.');
    return put_part(start, dot ? dot : end, out, size);
}

ZVDBRET _zvdb_GetFileExt(const char *name, char *out, int32_t size, int sep) {
    if (!name || !out) return ZVDB_BAD_KIND;
    if (size < 1) return ZVDB_BUFFER_SMALL;
    const char *end = std::strchr(name, '|');
    if (!end) end = name + std::strlen(name);
    const char *dot = last_of(name, end, '.');
    const char *s = last_of(name, end, sep);
    if (!dot || (s && dot < s)) {
        out[0] = 0;
        return 0;
    }
    return put_part(dot, end, out, size);
}

char *_zvdb_MakeFilePath(const char *directory, const char *name, int sep) {
    if (!name) return _zvdb_strdup(directory);
    if (!directory) return _zvdb_strdup(name);
    bool with = needs_sep(directory, sep, true);
    size_t n = joined_length(directory, with, name);
    if (n > size_t(INT32_MAX) - 1) return nullptr;
    char *path = _zvdb_stralloc(int32_t(n));
    if (path) join(path, directory, with, sep, name);
    return path;
}

ZVDBRET _zvdbFileExist(const char *directory, const char *name, const char *ext, int sep) {
    if (!directory || !name) return ZVDB_NULL_ARGUMENT;
    if (!ext) ext = "";
    bool with = needs_sep(directory, sep, false);
    size_t n = joined_length(directory, with, name) + std::strlen(ext);
    if (n > size_t(INT32_MAX) - 1) return ZVDB_NO_MEMORY;
    char *path = _zvdb_stralloc(int32_t(n));
    if (!path) return ZVDB_NO_MEMORY;
    join(path, directory, with, sep, name);
    std::strcat(path, ext);
    zv::PlatStat st;
    int rc = zv::plat_stat(path, &st);
    _zvdb_free(path);
    return rc == 0 ? 0 : ZVDB_NOT_FOUND;
}

ZVDBRET _zvdb_FullPath(char *path, int32_t size) {
    if (!path) return ZVDB_NULL_ARGUMENT;
    if (size < 1) return ZVDB_BUFFER_SMALL;
    char full[4096];
    bool ok = path[0] ? zv::plat_realpath(path, full, sizeof full) : zv::plat_getcwd(full, sizeof full);
    if (!ok) return ZVDB_FULL_PATH;
    // The directory must be there and readable, as entering it would ask.
    zv::PlatDir *d = zv::plat_opendir(full);
    if (!d) return ZVDB_FULL_PATH;
    zv::plat_closedir(d);
    size_t n = std::strlen(full);
    if (n >= size_t(size)) return ZVDB_BUFFER_SMALL;
    std::memcpy(path, full, n + 1);
    return 0;
}

int _zvdbGetPathSeparator(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    if (s && s->pathsep) return s->pathsep;
    int32_t cfg[ZV_SYSCFG_SIZE / sizeof(int32_t)];
    uint8_t sep = '/';
    if (_zvdbSYSCFG(cfg) == 0 && (cfg[ZV_SYSCFG_PATH_SEPARATOR] & 0xFF)) {
        sep = uint8_t(cfg[ZV_SYSCFG_PATH_SEPARATOR] & 0xFF);
    }
    if (s) s->pathsep = sep;
    return sep;
}

ZV_API ZVDBRET zvdbSetPathPrefix(ZVHANDLE handle, const char *prefix) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    char *copy = nullptr;
    if (prefix && !(copy = _zvdb_strdup(prefix))) {
        zvdbSetError(handle, ZVDB_NO_MEMORY);
        return ZVDB_NO_MEMORY;
    }
    _zvdb_free(s->pathprefix);
    s->pathprefix = copy;
    return 0;
}

ZV_API ZVDBRET zvdbClearPathPrefix(ZVHANDLE handle) { return zvdbSetPathPrefix(handle, nullptr); }

ZV_API const char *zvdbGetPathPrefix(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    return s ? s->pathprefix : nullptr;
}

ZVDBRET _zvdbFixPathPrefix(ZVHANDLE handle, const char *name, char *out, int32_t size) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    if (!name || !out) return ZVDB_NULL_ARGUMENT;
    int sep = _zvdbGetPathSeparator(s);
    if (!prefix_applies(s->pathprefix, name, sep)) {
        size_t n = std::strlen(name);
        if (n >= size_t(size < 0 ? 0 : size)) return ZVDB_BUFFER_SMALL;
        std::memmove(out, name, n + 1);
        return 0;
    }
    bool with = needs_sep(s->pathprefix, sep, false);
    if (joined_length(s->pathprefix, with, name) >= size_t(size < 0 ? 0 : size)) return ZVDB_BUFFER_SMALL;
    // The name moves first, so that out may be the name's own buffer.
    size_t pn = std::strlen(s->pathprefix);
    std::memmove(out + pn + (with ? 1 : 0), name, std::strlen(name) + 1);
    std::memcpy(out, s->pathprefix, pn);
    if (with) out[pn] = char(sep);
    return 0;
}

void _zvdbFixIfilFree(IFIL *copy) {
    if (!copy) return;
    for (int i = 0; copy->iidxarr && i < copy->dnumidx; i++) {
        IIDX &x = copy->iidxarr[i];
        _zvdb_free(const_cast<ISEG *>(x.isegarr));
        _zvdb_free(const_cast<char *>(x.aidxnam));
    }
    _zvdb_free(copy->iidxarr);
    _zvdb_free(const_cast<char *>(copy->pfilnam));
    _zvdb_free(copy);
}

ZVDBRET _zvdbFixIfilPath(ZVHANDLE handle, const IFIL *ifil, IFIL **copy) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    if (!ifil || !copy) return ZVDB_NULL_ARGUMENT;
    *copy = nullptr;
    int sep = _zvdbGetPathSeparator(s);
    auto *c = static_cast<IFIL *>(_zvdb_alloc(1, sizeof(IFIL)));
    if (!c) return ZVDB_NO_MEMORY;
    *c = *ifil;
    c->pfilnam = nullptr;
    c->iidxarr = nullptr;
    int n = ifil->iidxarr && ifil->dnumidx > 0 ? ifil->dnumidx : 0;
    c->dnumidx = int16_t(n);
    ZVDBRET rc = 0;
    if (ifil->pfilnam) {
        char *p;
        rc = prefixed_copy(s, sep, ifil->pfilnam, &p);
        c->pfilnam = p;
    }
    if (!rc && n > 0) {
        c->iidxarr = static_cast<IIDX *>(_zvdb_alloc(n, sizeof(IIDX)));
        if (!c->iidxarr) rc = ZVDB_NO_MEMORY;
    }
    // Each entry is first copied without its owned pointers, so that a
    // failure half-way frees exactly what was made.
    for (int i = 0; !rc && i < n; i++) {
        const IIDX &from = ifil->iidxarr[i];
        IIDX &to = c->iidxarr[i];
        to = from;
        to.isegarr = nullptr;
        to.aidxnam = nullptr;
        if (from.isegarr && from.inumseg > 0) {
            auto *segs = static_cast<ISEG *>(_zvdb_alloc(from.inumseg, sizeof(ISEG)));
            if (!segs) {
                rc = ZVDB_NO_MEMORY;
                break;
            }
            std::memcpy(segs, from.isegarr, size_t(from.inumseg) * sizeof(ISEG));
            to.isegarr = segs;
        }
        if (from.aidxnam) {
            char *a;
            rc = relative_to_data(from.aidxnam) ? ((a = _zvdb_strdup(from.aidxnam)) ? 0 : ZVDB_NO_MEMORY)
                                                : prefixed_copy(s, sep, from.aidxnam, &a);
            to.aidxnam = a;
        }
    }
    if (rc) {
        _zvdbFixIfilFree(c);
        return rc;
    }
    *copy = c;
    return 0;
}

int _zvdbGetDatno(ZVHANDLE handle) {
    auto *t = static_cast<tagZVDBTABLE *>(_zvdbSelectHandle(handle, ZVDB_TABLE_HANDLE));
    return t && t->active ? t->datno : -1;
}

}  // extern "C"
