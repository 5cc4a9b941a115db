// File-system routines of the record-level API: copy, delete, rename by
// copying, a search for the non-directory entries of a directory, directory
// creation, and comparison of paths after their redundant separators and
// "." components are reduced.
//
// None of them takes a handle or touches an engine instance; every file
// access goes through the platform seam. The byte copy is the engine's
// (zvFSunxcopy); this module decides who creates the target and what is
// left after a failure.
//
// Invariants:
//  1. A copy that fails after the target was created or truncated leaves no
//     target behind: a partial file never passes for a copy.
//  2. A missing or unreadable source leaves an existing target untouched.
//  3. A rename removes its source only after a complete copy.
//  4. Copying or renaming a file onto itself (the same device and inode)
//     changes nothing, so it can never truncate or delete the only copy.
#include <cctype>
#include <cerrno>
#include <cstring>

#include "engine/core/platform.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"

namespace {

constexpr int kTargetPerm = 0666;       // as fopen "w" creates, less the umask
constexpr int kDirPerm = 0777;          // less the umask
constexpr int32_t kCompareMax = 255;    // characters compared by the path comparisons

bool same_file(const char *a, const char *b) { return zv_uniqfile(a, b) == 0; }

// Copies source over target (invariants 1 and 2): 0 or 4068.
ZVDBRET copy_file(const char *source, const char *target) {
    // The source must open before the target is created or truncated.
    int in = zv::plat_open(source, zv::OpenHow::ReadOnly, 0);
    if (in < 0) return ZVDB_COPY_FAILED;
    zv::plat_close(in);
    // The target is made here, with the permission bits "w" gives a new
    // file; the engine's copy then opens it as an existing file and keeps
    // them. An existing target keeps its own bits, as with "w".
    int out = zv::plat_open(target, zv::OpenHow::WriteCreate, kTargetPerm);
    if (out < 0) return ZVDB_COPY_FAILED;
    if (zv::plat_close(out) == 0 && zvFSunxcopy(source, target, 0) == 0) return 0;
    zv::plat_unlink(target);
    return ZVDB_COPY_FAILED;
}

// The next entry of the search that is not a directory, or NULL. The
// record's text holds the directory text; each entry's full name is built
// behind it and the text is cut back after the status is read.
const char *next_entry(ZVDBFINDFILE *find) {
    auto *dir = static_cast<zv::PlatDir *>(find->dir);
    if (!dir) return nullptr;
    size_t base = strlen(find->text);
    for (;;) {
        int r = zv::plat_readdir(dir, find->entry, sizeof find->entry);
        if (r == 0) return nullptr;
        if (r < 0) {
            if (errno == ENAMETOOLONG) continue;  // that entry was passed over
            return nullptr;
        }
        size_t len = strlen(find->entry);
        if (base + len + 1 > sizeof find->text) continue;  // skipped, never cut
        memcpy(find->text + base, find->entry, len + 1);
        zv::PlatStat st;
        int rc = zv::plat_stat(find->text, &st);
        find->text[base] = 0;
        if (rc == 0 && !st.is_dir) return find->entry;
    }
}

// The reduction of one '/' against the output so far (n characters).
// Returns the new length; *drop_lead is set while the slashes that follow a
// dropped leading "./" are still arriving.
size_t reduce_slash(char *out, size_t n, bool *drop_lead) {
    if (n == 0) {
        if (*drop_lead) return 0;  // ".//x" is "x", never "/x"
        out[0] = '/';
        return 1;
    }
    if (out[n - 1] == '/') return n;
    if (out[n - 1] == '.') {
        if (n >= 2 && out[n - 2] == '/') return n - 1;  // "/./" -> "/"
        if (n == 1) {                                   // leading "./" dropped
            *drop_lead = true;
            return 0;
        }
    }
    out[n] = '/';
    return n + 1;
}

// Reduces a path known to be valid into out (room for max + 1 bytes).
void reduce(const char *path, char *out, int32_t max, bool lower) {
    size_t n = 0;
    bool drop_lead = false;
    for (int32_t i = 0; i < max && path[i]; i++) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (c == '/') {
            n = reduce_slash(out, n, &drop_lead);
            continue;
        }
        out[n++] = static_cast<char>(lower ? std::tolower(c) : c);
        drop_lead = false;
    }
    // Trailing "/" and "/." go; the first character stays, and so does a
    // '.' in second place.
    while (n > 1) {
        if (out[n - 1] == '/' || (out[n - 1] == '.' && n >= 3 && out[n - 2] == '/')) {
            n--;
            continue;
        }
        break;
    }
    out[n] = 0;
}

int compare_reduced(const char *a, const char *b, bool lower) {
    char ra[kCompareMax + 1];
    char rb[kCompareMax + 1];
    reduce(a ? a : "", ra, kCompareMax, lower);
    reduce(b ? b : "", rb, kCompareMax, lower);
    return strncmp(ra, rb, kCompareMax);
}

}  // namespace

extern "C" {

ZV_API ZVDBRET zvdbCopyFile(const char *source, const char *target) {
    if (!source || !target) return ZVDB_NULL_ARGUMENT;
    if (same_file(source, target)) return 0;
    return copy_file(source, target);
}

ZV_API ZVDBRET zvdbDeleteFile(const char *name) {
    if (!name) return ZVDB_NULL_ARGUMENT;
    return zv::plat_unlink(name) == 0 ? 0 : ZVDB_DELETE_FAILED;
}

ZV_API ZVDBRET zvdbRenameFile(const char *source, const char *target) {
    if (!source || !target) return ZVDB_NULL_ARGUMENT;
    if (same_file(source, target)) return 0;
    if (ZVDBRET rc = copy_file(source, target)) return rc;
    return zvdbDeleteFile(source);
}

ZV_API ZVDBRET zvdbCreateDir(const char *path) {
    if (!path) return ZVDB_NULL_ARGUMENT;
    return zv::plat_mkdir(path, kDirPerm) == 0 ? 0 : ZVDB_MKDIR_FAILED;
}

ZV_API const char *zvdbFindFirstFile(ZVDBFINDFILE *find, const char *directory) {
    if (!find) return nullptr;
    find->dir = nullptr;
    find->entry[0] = 0;
    find->text[0] = 0;
    if (!directory) return nullptr;
    // Room for the text, one name character and the terminator.
    size_t len = strnlen(directory, sizeof find->text);
    if (len + 2 > sizeof find->text) return nullptr;
    memcpy(find->text, directory, len + 1);
    find->dir = zv::plat_opendir(directory);
    return next_entry(find);
}

ZV_API const char *zvdbFindNextFile(ZVDBFINDFILE *find) { return find ? next_entry(find) : nullptr; }

ZV_API int zvdbFindClose(ZVDBFINDFILE *find) {
    if (!find) return -1;
    int rc = zv::plat_closedir(static_cast<zv::PlatDir *>(find->dir));
    find->dir = nullptr;
    return rc;
}

ZV_API ZVDBRET _zvdbReducePath(const char *path, char *out, int32_t max, int lower) {
    if (!path || !out) return ZVDB_NULL_ARGUMENT;
    if (max < 0) return ZVDB_BAD_ARGUMENT;
    reduce(path, out, max, lower != 0);
    return 0;
}

ZV_API int _zvdbPathCmp(const char *a, const char *b) { return compare_reduced(a, b, false); }

ZV_API int _zvdbPathiCmp(const char *a, const char *b) { return compare_reduced(a, b, true); }

}  // extern "C"
