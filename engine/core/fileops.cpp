// Platform operations on whole files and names: POSIX byte-range locks, the
// instance's file-name conversion, delete and rename, full names, missing
// directories, free space, file identity, the current directory and the
// instance's temporary directory.
//
// Callers' names are never written: every routine works on a bounded copy
// (255 characters for engine file names, 4095 for paths), and a name that
// does not fit gives an error code rather than a cut name.
//
// Rename never replaces an existing target unless the instance's operation
// mode has 0x4000000: it links the new name first (which fails when the
// target exists) and only then removes the old one. The replacing rename
// (replfil) is for the swaps of maintenance, which put a new file in an old
// one's place in one step.
#include "engine/core/fileops.h"

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "engine/core/bytes.h"
#include "engine/core/filehdr.h"
#include "engine/core/filehold.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "engine/core/statuslog.h"

namespace zv {

namespace {

constexpr size_t kNameMax = 255;   // engine file names
constexpr size_t kPathBuf = 4096;  // paths, with their terminator
constexpr uint32_t kOpsRenameReplaces = 0x4000000;

inline void set_sys(int code) {
    if (zvWNGV) zvWNGV->sysiocod = static_cast<uint16_t>(code);
}

// Copies a caller's engine file name and converts it when delete and rename
// convert (conversion mode 3, a is 0 and b lacks 2). 0 or the error code.
int prepare_name(const char *src, int a, int b, char (&out)[kNameMax + 1]) {
    if (!src) return 540;
    size_t n = strnlen(src, kNameMax + 1);
    if (n > kNameMax) return 139;
    memcpy(out, src, n + 1);
    if (a == 0 && !(b & 2) && zvWNGV && zvWNGV->nameconv == 3) {
        int rc = zvcnvfn(out);
        if (rc > 0) return rc;
    }
    return 0;
}

}  // namespace

int zvfpglok81(int fd, FCB *, uint32_t hi, uint32_t lo, uint32_t len, int mode) {
    const bool description = mode & 32;
    mode &= ~32;
    // A file the instance holds is the holding call's own: its opens get
    // their description locks at once, and the hold's lock stays as it is.
    if (description && zvWNGV && zvWNGV->nholds > 0 && fd_held(fd)) return 0;
    LockType type = (mode & 8) ? LockType::Shared : LockType::Exclusive;
    LockCmd cmd;
    if (mode & 1) {
        cmd = LockCmd::Wait;
    } else if (mode == 4) {
        cmd = LockCmd::Try;
        type = LockType::Unlock;
    } else if (mode & 2) {
        cmd = LockCmd::Try;
    } else if (mode & 16) {
        cmd = LockCmd::Test;
    } else {
        terr(1105);
    }
    uint64_t start = (uint64_t{hi} << 32) | lo;
    int holder = 0;
    int r = plat_lock(fd, cmd, type, static_cast<int64_t>(start), int64_t{len}, &holder, description);
    if (r != 0) {
        int err = errno;
        set_sys(err);
        if (cmd == LockCmd::Test) set_uerr(err);
        return err;
    }
    if (cmd == LockCmd::Test && holder) {
        set_sys(0);
        return holder;
    }
    return 0;
}

int izvcnvfn(char *name, const char *prefix) {
    if (!name) return 540;
    if (!prefix) prefix = "";
    if (name[0] == '/' || name[0] == '\\' || (name[0] && name[1] == ':')) return 0;
    size_t n = strnlen(name, kNameMax + 1);
    size_t p = strnlen(prefix, kNameMax + 1);
    if (n + p > kNameMax) return 139;
    memmove(name + p, name, n + 1);
    memcpy(name, prefix, p);
    return -1;
}

int zvcnvfn(char *name) {
    INSTGV *g = zvWNGV;
    if (!g || (g->nameconv != 2 && g->nameconv != 3)) return 0;
    return izvcnvfn(name, g->cnvprefix);
}

int dltfilx(const char *name, int a, int b) {
    char buf[kNameMax + 1];
    int rc = prepare_name(name, a, b, buf);
    if (rc) return set_uerr(rc);
    if (plat_unlink(buf) != 0) {
        set_sys(errno);
        return set_uerr(55);
    }
    return 0;
}

int renfilx(const char *oldname, const char *newname, int a, int b) {
    char from[kNameMax + 1], to[kNameMax + 1];
    int rc = prepare_name(oldname, a, b, from);
    if (!rc) rc = prepare_name(newname, a, b, to);
    if (rc) return set_uerr(rc);
    if (strcmp(from, to) == 0) return 0;
    if (plat_link(from, to) == 0) {
        if (plat_unlink(from) != 0) {
            // Leave the file under its old name only, as it was.
            int err = errno;
            plat_unlink(to);
            set_sys(err);
            return set_uerr(67);
        }
        return 0;
    }
    int err = errno;
    bool replace = zvWNGV && (zvWNGV->opsmode & kOpsRenameReplaces);
    if (!replace) {
        if (err == EEXIST) {
            set_sys(err);
            return set_uerr(67);
        }
        // Anything under the new name (a link, a FIFO included) is looked
        // at, never opened.
        PlatStat st{};
        if (plat_lstat(to, &st) == 0) {
            set_sys(EEXIST);
            return set_uerr(67);
        }
    }
    if (plat_rename(from, to) != 0) {
        set_sys(errno);
        return set_uerr(67);
    }
    return 0;
}

namespace {

// Both names of a rename or link, prepared as file names: 0 or the
// user error (540 NULL, 139 too long).
int prepare_pair(const char *a, const char *b, char (&from)[kNameMax + 1], char (&to)[kNameMax + 1]) {
    int rc = prepare_name(a, 0, 0, from);
    if (!rc) rc = prepare_name(b, 0, 0, to);
    return rc ? set_uerr(rc) : 0;
}

}  // namespace

int replfil(const char *oldname, const char *newname) {
    char from[kNameMax + 1], to[kNameMax + 1];
    if (int rc = prepare_pair(oldname, newname, from, to)) return rc;
    if (strcmp(from, to) == 0) return 0;
    if (plat_rename(from, to) != 0) {
        set_sys(errno);
        return set_uerr(67);
    }
    return 0;
}

int linkfil(const char *name, const char *alias) {
    char from[kNameMax + 1], to[kNameMax + 1];
    if (int rc = prepare_pair(name, alias, from, to)) return rc;
    if (plat_link(from, to) != 0) {
        set_sys(errno);
        return set_uerr(67);
    }
    return 0;
}

bool read_header_facts(int fd, HeaderFacts *out) {
    unsigned char b[256];
    bool seek_failed = false;
    const int64_t got = plat_pread(fd, b, sizeof b, 0, &seek_failed);
    if (got < 128) return false;
    HeaderFacts h;
    const uint16_t verson = le::get16(b + offsetof(FILEHDR, verson));
    h.clstyp = le::get16(b + offsetof(FILEHDR, clstyp));
    h.sfiltyp = le::get16(b + offsetof(FILEHDR, sfiltyp));
    h.hdrflags = le::get16(b + offsetof(FILEHDR, hdrflags));
    h.updflg = b[offsetof(FILEHDR, updflg)];
    h.id[0] = le::get32(b + offsetof(FILEHDR, fileid));
    h.id[1] = le::get32(b + offsetof(FILEHDR, servid));
    h.id[2] = le::get32(b + offsetof(FILEHDR, cretime));
    if (h.clstyp > 2 || (h.sfiltyp > kSfMember && h.sfiltyp != kSfDirectory)) return false;
    uint16_t want = kVersionStd;
    if (h.hdrflags & kHdrHasExt) {
        // The extended part follows the base part: its flags at +176, its
        // mark at +212.
        if (got < 256 || le::get32(b + 212) != kXtdMark) return false;
        h.flmode2 = le::get32(b + 176);
        want = (h.flmode2 & kFlmode2Variant) ? kVersionHuge : kVersionExt;
    }
    if (verson != want) return false;
    *out = h;
    return true;
}

int putupdflg_fd(int fd, uint8_t flag) {
    HeaderFacts h;
    if (!read_header_facts(fd, &h) || (h.sfiltyp != kSfPlain && h.sfiltyp != kSfHost)) return set_uerr(13);
    bool seek_failed = false;
    const int64_t n = plat_pwrite(fd, &flag, 1, int64_t(offsetof(FILEHDR, updflg)), &seek_failed);
    if (n != 1) {
        set_sys(n < 0 ? errno : 0);
        return set_uerr(37);
    }
    return 0;
}

int putupdflg(const char *name, uint8_t flag) {
    char path[kNameMax + 1];
    if (int rc = prepare_name(name, 0, 0, path)) return set_uerr(rc);
    const int fd = plat_openat(kAtWorkingDir, path, AtHow::Regular);
    if (fd < 0) {
        set_sys(errno);
        return set_uerr(12);
    }
    const int rc = putupdflg_fd(fd, flag);
    const uint16_t sys = zvWNGV ? zvWNGV->sysiocod : 0;
    plat_close(fd);
    if (zvWNGV) zvWNGV->sysiocod = sys;
    return rc;
}

int zvchkcrepath(const char *path, int create, int *err) {
    int e;
    if (!err) err = &e;
    *err = 0;
    if (!path) {
        *err = EINVAL;
        return 1;
    }
    size_t n = strnlen(path, kPathBuf);
    if (n >= kPathBuf) {
        *err = ENAMETOOLONG;
        return 1;
    }
    char buf[kPathBuf];
    memcpy(buf, path, n + 1);
    size_t i = 0;
    while (buf[i] == '/') i++;
    for (; buf[i]; i++) {
        if (buf[i] != '/') continue;
        buf[i] = '\0';
        PlatStat st;
        if (plat_stat(buf, &st) != 0) {
            if (errno != ENOENT) {
                *err = errno;
                return 1;
            }
            if (create != 1) {
                *err = ENOENT;
                return 1;
            }
            if (plat_mkdir(buf, 0755) != 0) {
                *err = errno;
                return 1;
            }
        }
        buf[i] = '/';
        while (buf[i + 1] == '/') i++;
    }
    return 0;
}

FILE *zvFSfopen(const char *path, const char *mode, int mkdirs) {
    if (!path || !mode) return nullptr;
    FILE *fp = plat_fopen(path, mode);
    if (!fp && mkdirs) {
        int err;
        if (zvchkcrepath(path, 1, &err) == 0) fp = plat_fopen(path, mode);
    }
    return fp;
}

uint32_t zv_diskavl(const char *path, uint32_t *hi) {
    uint64_t avail = 0;
    if (!path || plat_statvfs(path, &avail) != 0) {
        if (hi) *hi = 0;
        return 1;
    }
    uint32_t high = static_cast<uint32_t>(avail >> 32);
    if (hi) *hi = high;
    else if (high) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(avail);
}

namespace {

// The identity of a status query's answer: 0, or the query's errno.
int identity_of(int queried, const PlatStat &st, uint64_t *dev, uint64_t *ino) {
    if (queried != 0) return errno ? errno : EIO;
    if (dev) *dev = st.dev;
    if (ino) *ino = st.ino;
    return 0;
}

}  // namespace

int zv_getuniqfile(const char *name, uint64_t *dev, uint64_t *ino) {
    if (!name) return EINVAL;
    PlatStat st;
    return identity_of(plat_stat(name, &st), st, dev, ino);
}

int zv_fgetuniqfile(int fd, uint64_t *dev, uint64_t *ino) {
    PlatStat st;
    return identity_of(plat_fstat(fd, &st), st, dev, ino);
}

void release_tmpdir(INSTGV *g) {
    if (!g) return;
    if (g->tmpdirowned) mbfree(g->tmpdirname);
    g->tmpdirname = nullptr;
    g->tmpdirowned = 0;
}

}  // namespace zv

extern "C" {

ZV_API int zv_uniqfile(const char *name1, const char *name2) {
    uint64_t d1 = 0, i1 = 0, d2 = 0, i2 = 0;
    if (zv::zv_getuniqfile(name1, &d1, &i1) != 0 || zv::zv_getuniqfile(name2, &d2, &i2) != 0) return 1;
    return (d1 == d2 && i1 == i2) ? 0 : 1;
}

ZV_API int renfil(const char *oldname, const char *newname) {
    return zv::renfilx(oldname, newname, 0, 0);
}

ZV_API int dltfil(const char *name) { return zv::dltfilx(name, 0, 0); }

ZV_API int zv_fullname(const char *name, char *out, int size) {
    if (!name || !out || size <= 0) return EINVAL;
    size_t end = strcspn(name, "!");
    const char *slash = nullptr;
    for (size_t i = 0; i < end; i++)
        if (name[i] == '/') slash = name + i;
    size_t total = strlen(name);
    if (slash == name) {
        if (total + 1 > static_cast<size_t>(size)) return 36;
        memcpy(out, name, total + 1);
        return 0;
    }
    char dir[zv::kPathBuf];
    char resolved[zv::kPathBuf];
    const char *rest;
    const char *sep;
    if (slash) {
        size_t d = static_cast<size_t>(slash - name);
        if (d >= sizeof dir) return ENAMETOOLONG;
        memcpy(dir, name, d);
        dir[d] = '\0';
        rest = slash;  // the rest keeps its "/"
        sep = "";
    } else {
        strcpy(dir, ".");
        rest = name;
        sep = "/";
    }
    if (!zv::plat_realpath(dir, resolved, sizeof resolved)) return errno ? errno : ENOENT;
    size_t r = strlen(resolved), s = strlen(sep), t = strlen(rest);
    if (r + s + t + 1 > static_cast<size_t>(size)) return 36;
    memcpy(out, resolved, r);
    memcpy(out + r, sep, s);
    memcpy(out + r + s, rest, t + 1);
    return 0;
}

ZV_API int zvGetCwd(char *buf, int size) {
    if (!buf || size <= 0) return 0;
    if (!zv::plat_getcwd(buf, static_cast<size_t>(size))) {
        buf[0] = '\0';
        return 0;
    }
    size_t n = strlen(buf);
    if (n == 0) return 0;
    if (buf[n - 1] != '/') {
        if (n + 2 > static_cast<size_t>(size)) {
            buf[0] = '\0';
            return 0;
        }
        buf[n] = '/';
        buf[n + 1] = '\0';
    }
    return 1;
}

ZV_API int zvSetZvTempDirName(const char *dir) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!dir || !dir[0]) return 540;
    size_t n = strlen(dir);
    char *copy = static_cast<char *>(mballc(1, n + 2));
    if (!copy) return 82;
    zv::release_tmpdir(g);
    memcpy(copy, dir, n + 1);
    if (copy[n - 1] != '/') {
        copy[n] = '/';
        copy[n + 1] = '\0';
    }
    g->tmpdirname = copy;
    g->tmpdirowned = 1;
    return 0;
}

ZV_API int zvFSpath(void *, int options) { return zv::set_uerr((options & 1) ? 454 : 446); }

}  // extern "C"
