// Wildcard matching, directory search, directory cleanup and traversal.
//
// Matching: "?" is any one character, "*" any run (a run of stars acts as
// one), the byte 0x01 makes the next pattern character literal. The match
// walks pattern and text once, going back only to the last star seen, so
// its cost is at most pattern length x text length.
//
// Directory walks never follow symbolic links: every entry is examined with
// lstat, a link is a plain entry (a cleanup removes the link, never its
// target) and no walk descends into one, so a walk never leaves its tree; a
// directory found below the top is opened, before its callbacks, by an open
// that refuses a link put in its place meanwhile (the walk then passes it
// over as a link).
// A full name that does not fit 254 characters is never cut and acted on:
// the entry gives -88 with ENAMETOOLONG and the cleanup stops there.
#include "engine/core/dirwalk.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/core/fileops.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "engine/core/statuslog.h"

namespace zv {

namespace {

constexpr size_t kFullMax = 254;  // longest full name a walk acts on
constexpr unsigned char kEscape = 0x01;

inline char member_sep() {
    const INSTGV *g = zvWNGV;
    return g && g->membersep ? g->membersep : '!';
}

inline bool same_char(unsigned char p, unsigned char t, bool fold, bool slashes) {
    if (slashes && (p == '\\' || p == '/') && (t == '\\' || t == '/')) return true;
    if (fold) return toupper(p) == toupper(t);
    return p == t;
}

// The match of zvmatch over lengths: true when the pattern matches.
bool match(const unsigned char *p, size_t pn, const unsigned char *t, size_t tn, int flags) {
    const bool fold = (flags & ~2) == 0;
    const bool slashes = (flags & 2) != 0;
    size_t pi = 0, ti = 0;
    size_t star_p = SIZE_MAX, star_t = 0;
    while (ti < tn) {
        if (pi < pn) {
            unsigned char c = p[pi];
            if (c == '*') {
                while (pi < pn && p[pi] == '*') pi++;
                if (pi == pn) return true;  // a final star takes the rest
                star_p = pi;
                star_t = ti;
                continue;
            }
            size_t step = 1;
            bool any = false;
            if (c == kEscape && pi + 1 < pn) {
                c = p[pi + 1];
                step = 2;
            } else if (c == '?') {
                any = true;
            }
            if (any || same_char(c, t[ti], fold, slashes)) {
                pi += step;
                ti++;
                continue;
            }
        }
        if (star_p == SIZE_MAX) return false;
        // The star takes one more character; the rest starts after it.
        ti = ++star_t;
        pi = star_p;
    }
    while (pi < pn && p[pi] == '*') pi++;
    return pi == pn;
}

int match_str(const char *pattern, size_t pn, const char *text, size_t tn, int flags) {
    return match(reinterpret_cast<const unsigned char *>(pattern), pn,
                 reinterpret_cast<const unsigned char *>(text), tn, flags)
               ? 0
               : 1;
}

int match_z(const char *pattern, const char *text, int flags) {
    return match_str(pattern, strlen(pattern), text, strlen(text), flags);
}

// Exact pattern against a name, member parts apart (see izvrt_filmtc).
int file_match(const char *pattern, const char *name, int flags) {
    const char sep = member_sep();
    const int host_flags = 1 | (flags & 2);
    const char *ps = strchr(pattern, sep);
    if (!ps) return match_z(pattern, name, host_flags);
    const char *ns = strchr(name, sep);
    if (!ns) return 1;
    if (match_str(pattern, size_t(ps - pattern), name, size_t(ns - name), host_flags)) return 1;
    return match_z(ps + 1, ns + 1, 1);
}

// Appends an entry name to a directory prefix: false when the full name
// would pass kFullMax characters.
bool join_name(char (&out)[256], const char *prefix, const char *entry) {
    size_t a = strnlen(prefix, 256), b = strnlen(entry, 256);
    if (a + b > kFullMax) return false;
    memcpy(out, prefix, a);
    memcpy(out + a, entry, b);
    out[a + b] = '\0';
    return true;
}

// dir + "/" + entry, under the same bound.
bool join_path(char (&out)[256], const char *dir, const char *entry) {
    size_t a = strnlen(dir, 256), b = strnlen(entry, 256);
    if (a + 1 + b > kFullMax) return false;
    memcpy(out, dir, a);
    out[a] = '/';
    memcpy(out + a + 1, entry, b);
    out[a + 1 + b] = '\0';
    return true;
}

bool is_dot(const char *name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

// The engine's log and system files, by name alone.
bool system_name(const FindRec *r, const char *name) {
    if (match_z("????????.QV?", name, 1) == 0) {
        const char *ex[2] = {r->exclude, r->exclude2};
        if (ex[0] && *ex[0]) {
            char pat[258];
            snprintf(pat, sizeof pat, "%s*", ex[0]);
            if (strcmp(name, ex[0]) == 0 || match_z(pat, name, 1) == 0) return true;
        }
        if (ex[1] && *ex[1] && strcmp(name, ex[1]) == 0) return true;
        return false;
    }
    if (match_z("SYSLOG??.QVS", name, 1) == 0) return false;
    if (match_z("FREOPEN*.QVS", name, 1) == 0) return true;
    if (strcmp(name, "ZVSTATUS.QVS") == 0) return true;
    size_t n = strlen(name);
    if (n == 0) return false;
    char first = name[0], last = name[n - 1];
    switch (first) {
    case 'D':
    case 'I':
    case 'T':
        return last == 'S';
    case 'L':
        return last == 'S' || last == 'T' || last == 'A' || last == 'Q';
    case 'S':
        return last == 'S' || last == 'A';
    default:
        return false;
    }
}

// Reads the next entry of the stream in use and classifies it.
int read_entry(FindRec *r) {
    PlatDir *d = (r->depth >= 0 && r->depth < kFindDepth) ? r->dirs[r->depth] : nullptr;
    if (!d) return 0;
    char entry[256];
    int got = plat_readdir(d, entry, sizeof entry);
    if (got <= 0) {
        r->syserr = got < 0 ? errno : 0;
        return 0;
    }
    r->kind = 0;
    if (!join_name(r->current, r->prefix, entry)) {
        snprintf(r->current, sizeof r->current, "%s", entry);
        r->syserr = ENAMETOOLONG;
        set_error(0, ENAMETOOLONG);
        return kFindBad;
    }
    if (!(r->options & 1) && zvcnvfn(r->current) > 0) {
        r->syserr = ENAMETOOLONG;
        return kFindBad;
    }
    errno = 0;
    PlatStat st{};
    if (plat_lstat(r->current, &st) != 0) {
        r->syserr = errno;
        return kFindBad;
    }
    if (!(r->options & 2) && !plat_user_known(st.uid)) {
        r->syserr = EPERM;
        return kFindBad;
    }
    if (st.is_dir) r->kind = kFindDir;
    // The filter sees the bare name and builds the full one again.
    char full[256];
    memcpy(full, r->current, sizeof full);
    snprintf(r->current, sizeof r->current, "%s", entry);
    int rc = zv_findfilter(r);
    if (rc != 1 && rc != kFindNoMatch) memcpy(r->current, full, sizeof full);
    if (rc == 1 && r->kind == kFindDir) return kFindDir;
    return rc;
}

}  // namespace

int izvrt_filmtc(const char *pattern, const char *name, int flags) {
    if (!pattern || !name) return 1;
    bool invert = pattern[0] == '^';
    int r = file_match(invert ? pattern + 1 : pattern, name, flags);
    return invert ? 1 - r : r;
}

int zv_findfilter(FindRec *r) {
    const char *name = r->current;
    const bool dir = r->kind == kFindDir;
    if (dir && is_dot(name)) return kFindDot;
    if ((r->options & 4) && match_z("*.QVS", name, 1) != 0) return -4;
    // The system-file names are names of files; a directory that happens to
    // look like one is still a directory.
    if (!dir && system_name(r, name)) {
        char full[256];
        if (join_name(full, r->prefix, name)) memcpy(r->current, full, sizeof full);
        return kFindSystem;
    }
    char full[256];
    if (!join_name(full, r->prefix, name)) return kFindBad;
    memcpy(r->current, full, sizeof full);
    if ((r->mode & 2) && dir) return 1;
    return match_z(r->pattern, r->current, 1) == 0 ? 1 : kFindNoMatch;
}

int zv_findfile(FindRec *r) {
    if (!r) return 0;
    switch (r->operation) {
    case 2: {
        if (r->depth < 0 || r->depth >= kFindDepth) {
            r->syserr = EINVAL;
            return 0;
        }
        if (r->dirs[r->depth]) plat_closedir(r->dirs[r->depth]);
        r->dirs[r->depth] = plat_opendir(r->directory[0] ? r->directory : ".");
        if (!r->dirs[r->depth]) {
            r->syserr = errno;
            return 0;
        }
        r->syserr = 0;
        return read_entry(r);
    }
    case 3:
        return read_entry(r);
    case 4:
        if (r->depth >= 0 && r->depth < kFindDepth && r->dirs[r->depth]) {
            plat_closedir(r->dirs[r->depth]);
            r->dirs[r->depth] = nullptr;
        }
        return 0;
    default:
        r->syserr = EINVAL;
        return 0;
    }
}

}  // namespace zv

using namespace zv;

namespace {

// One callback call of a traversal: clears the answer and the error text
// first (except for the reserved operation 6) and returns the answer. Once
// a call has failed its error text stays, so that the walk can report the
// first failure at its end.
int trav_call(const char *dir, ZvDirTravCallback cb, ZVDIRTRAV *rec, int op) {
    rec->operation = op;
    if (op != 6) {
        rec->error = 0;
        rec->syserr = 0;
        if (!rec->firsterr && rec->errtext && rec->errsize > 0) rec->errtext[0] = '\0';
    }
    rec->entry = dir;
    int rc = cb(dir, rec);
    if (rc && !rec->error) rec->error = rc;
    if (rec->error && !rec->firsterr) {
        rec->firsterr = rec->error;
        rec->firstsys = rec->syserr;
    }
    return rec->error;
}

// A failure of the walk itself (not of a callback), with its errno.
void note_failure(ZVDIRTRAV *rec, int *first, int err) {
    if (!*first) *first = err;
    if (!rec->firsterr) {
        rec->firsterr = err;
        rec->firstsys = err;
    }
}

// Error text of a failing delete, when the caller gave room for one.
void delete_failure(char *text, int size, const char *what, const char *name, int err) {
    if (text && size >= 1) snprintf(text, size_t(size), "cleandir - Not able to delete %s (%s) - %d", what, name, err);
}

// The walk of zvFSdirtravcmd. The top directory is the caller's; every one
// below it (`found`) was found by the walk and is entered without following
// a symbolic link put in its place since it was looked at.
int walk(const char *dir, int options, ZvDirTravCallback cb, ZVDIRTRAV *rec, bool found) {
    const bool stop_first = options & 1;
    PlatDir *d = nullptr;
    int openerr = 0;
    if (found) {
        // Opened before the callback sees it: a link (or anything but a
        // directory) put in its place since it was looked at is a plain
        // entry, passed over as every link is.
        d = plat_opendir_found(dir);
        if (!d) {
            openerr = errno;
            if (openerr == ELOOP || openerr == ENOTDIR) return 0;
        }
    }
    int first = trav_call(dir, cb, rec, 3);
    if (first && stop_first) {
        if (d) plat_closedir(d);
        trav_call(dir, cb, rec, 4);
        return first;
    }
    if (!found) {
        d = plat_opendir(dir);
        if (!d) openerr = errno;
    }
    if (!d) {
        note_failure(rec, &first, openerr);
        trav_call(dir, cb, rec, 4);
        return first;
    }
    char entry[256], full[256];
    for (;;) {
        int got = plat_readdir(d, entry, sizeof entry);
        int err = got < 0 ? errno : 0;
        if (got <= 0) {
            if (err) note_failure(rec, &first, err);
            break;
        }
        if (is_dot(entry)) continue;
        if (!join_path(full, dir, entry)) {
            note_failure(rec, &first, ENAMETOOLONG);
            if (stop_first) break;
            continue;
        }
        PlatStat st{};
        if (plat_lstat(full, &st) != 0 || !st.is_dir) continue;
        if (options & 2) {
            int rc = trav_call(full, cb, rec, 5);
            if (rc) {
                if (!first) first = rc;
                if (stop_first) break;
            }
        }
        int rc = walk(full, options, cb, rec, true);
        if (rc) {
            if (!first) first = rc;
            if (stop_first) break;
        }
    }
    plat_closedir(d);
    int rc = trav_call(dir, cb, rec, 4);
    if (rc && !first) first = rc;
    return first;
}

}  // namespace

extern "C" {

ZV_API int zvmatch(const char *pfirst, const char *plast, const char *tfirst, const char *tlast, int flags) {
    if (!pfirst || !plast || !tfirst || !tlast) return 1;
    size_t pn = plast >= pfirst ? size_t(plast - pfirst) + 1 : 0;
    size_t tn = tlast >= tfirst ? size_t(tlast - tfirst) + 1 : 0;
    return match_str(pfirst, pn, tfirst, tn, flags);
}

ZV_API int zvrt_filmtc(const char *pattern, const char *name) { return izvrt_filmtc(pattern, name, 0); }

ZV_API int zvrt_usrmtc(const char *pattern, const char *user) {
    if (!pattern || !user) return 1;
    bool invert = pattern[0] == '^';
    int r = match_z(invert ? pattern + 1 : pattern, user, 0);
    return invert ? 1 - r : r;
}

ZV_API int zvchkWC(const char *text) {
    if (!text) return 0;
    if (text[0] == '^') return 1;
    for (const char *p = text; *p; p++)
        if (*p == '*' || *p == '?' || *p == char(kEscape)) return 1;
    return 0;
}

ZV_API int cleandir(const char *dir, char *text, int size) {
    if (!dir || !*dir) return EINVAL;
    FindRec r{};
    r.operation = 2;
    r.options = 1;
    if (snprintf(r.prefix, sizeof r.prefix, "%s/", dir) >= int(sizeof r.prefix) - 1 ||
        snprintf(r.pattern, sizeof r.pattern, "%s/*", dir) >= int(sizeof r.pattern) ||
        snprintf(r.directory, sizeof r.directory, "%s", dir) >= int(sizeof r.directory))
        return ENAMETOOLONG;
    int result = 0;
    for (;;) {
        int rc = zv_findfile(&r);
        r.operation = 3;
        if (rc == 1 || rc == kFindSystem) {
            if (plat_unlink(r.current) != 0) {
                result = errno;
                delete_failure(text, size, "file", r.current, result);
                break;
            }
        } else if (rc == kFindDir) {
            if (plat_rmdir(r.current) != 0) {
                result = errno;
                delete_failure(text, size, "directory", r.current, result);
                break;
            }
        } else if (rc == kFindNoMatch || rc == kFindDot) {
            continue;
        } else {
            // The end of the directory, a read error or an entry that cannot
            // be acted on: the walk stops with its system error.
            result = r.syserr;
            break;
        }
    }
    r.operation = 4;
    zv_findfile(&r);
    return result;
}

int zvFSdirtravclbk(const char *dir, ZvDirTravCallback cb, ZVDIRTRAV *rec) {
    return trav_call(dir, cb, rec, rec->operation);
}

int zvFSdirtravcmd(const char *dir, int options, ZvDirTravCallback cb, ZVDIRTRAV *rec) {
    return walk(dir, options, cb, rec, false);
}

ZV_API int zvFSdirtraverse(const char *dir, int options, ZvDirTravCallback cb, void *value1, void *value2) {
    if (!dir || !cb) return zv::set_uerr(540);
    ZVDIRTRAV rec{};
    rec.options = options;
    rec.value1 = value1;
    rec.value2 = value2;
    const int begin = trav_call(dir, cb, &rec, 1);
    if (begin && (options & 1)) {
        // The beginning failed under stop-at-first-error: nothing is walked.
        int syserr = rec.syserr;
        trav_call(dir, cb, &rec, 2);
        if (syserr) rec.syserr = syserr;
        zv::set_error(begin, rec.syserr);
        return begin;
    }
    // Otherwise the walk goes on and the first error is reported at the end.
    const int walk = zvFSdirtravcmd(dir, options, cb, &rec);
    int rc = begin ? begin : walk;
    if (rc == 0) {
        rec.progress = 100;
        return trav_call(dir, cb, &rec, 2);
    }
    int syserr = rc == rec.firsterr ? rec.firstsys : rec.syserr;
    char msg[320];
    snprintf(msg, sizeof msg, "zvFSdirtraverse: Failed to traverse directory %.256s", dir);
    zvrcvlog(msg, rc);
    if (rec.errtext && rec.errtext[0]) zvrcvlog(rec.errtext, rc);
    trav_call(dir, cb, &rec, 2);
    zv::set_error(rc, syserr);
    return rc;
}

ZV_API int zvDelRecDirCBK(const char *dir, ZVDIRTRAV *rec) {
    if (!rec) return 540;
    switch (rec->operation) {
    case 1:
        rec->errtext = static_cast<char *>(mballc(1, 384));
        if (!rec->errtext) return rec->error = 82;
        rec->errsize = 384;
        return 0;
    case 2:
        mbfree(rec->errtext);
        rec->errtext = nullptr;
        rec->errsize = 0;
        return 0;
    case 4: {
        if (rec->error) return rec->error;
        // The text of an earlier failure is kept; later ones are not written.
        bool keep = rec->firsterr != 0;
        int rc = cleandir(dir, keep ? nullptr : rec->errtext, keep ? 0 : rec->errsize);
        rec->error = rc;
        rec->syserr = rc;
        return rc;
    }
    case 3:
    case 5:
    case 6:
        return 0;
    default:
        return rec->error = 422;
    }
}

ZV_API int cleandirrecurs(const char *dir, void *value1, void *value2) {
    return zvFSdirtraverse(dir, 0, zvDelRecDirCBK, value1, value2);
}

}  // extern "C"
