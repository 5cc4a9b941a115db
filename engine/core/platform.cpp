// The platform seam: system file calls of the engine.
//
// Every routine first consults the fault plan (tests only), which counts the
// call and may make it fail or cut its transfer short; otherwise it calls the
// system. A failing routine leaves errno as the system (or the plan) set it.
// No other object file of the library references these system functions; a
// test checks that with the symbol tables of the library's objects.
//
// Every descriptor the seam opens or duplicates, and the one under every
// stream it opens, is closed on exec: a program the process starts keeps no
// open file description of the engine's, and so none of its locks.
#include "engine/core/platform.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

static_assert(sizeof(off_t) == 8, "the engine needs 64-bit file offsets");

namespace zv {

namespace {

struct Fault {
    long countdown;  // 0: no fault planned
    int err;
    bool sticky;
    long short_by;
};

constexpr int kKinds = static_cast<int>(IoKind::Count);
long g_calls[kKinds];
Fault g_faults[kKinds];
// Planned ends of the process: countdown per kind (0: none) and status.
long g_exit_at[kKinds];
int g_exit_status[kKinds];
// Planned calls of a test's function: countdown per kind (0: none).
long g_call_at[kKinds];
void (*g_call_fn[kKinds])(void *);
void *g_call_arg[kKinds];

// What the plan decides for one call.
struct Verdict {
    bool fail;        // fail at once, errno set
    long short_by;    // > 0: cut the transfer short by this much
    int err;          // errno to leave after a cut transfer (0: none)
};

// Counts a call of a kind and decides whether a fault hits it.
Verdict plan(IoKind kind) {
    int k = static_cast<int>(kind);
    g_calls[k]++;
    if (g_exit_at[k] > 0 && --g_exit_at[k] == 0) _exit(g_exit_status[k]);
    if (g_call_at[k] > 0 && --g_call_at[k] == 0) g_call_fn[k](g_call_arg[k]);
    Fault &f = g_faults[k];
    if (f.countdown <= 0) return {false, 0, 0};
    if (f.countdown > 1) {
        f.countdown--;
        return {false, 0, 0};
    }
    if (!f.sticky) f.countdown = 0;
    bool transfer = kind == IoKind::Read || kind == IoKind::Write;
    if (transfer && f.short_by > 0) return {false, f.short_by, f.err};
    errno = f.err;
    return {true, 0, 0};
}

// Plain calls: count, maybe fail, else run.
bool must_fail(IoKind kind) { return plan(kind).fail; }

// Bytes a cut transfer still moves.
size_t cut(size_t n, long short_by) {
    return n > static_cast<size_t>(short_by) ? n - static_cast<size_t>(short_by) : 0;
}

// The descriptor of an open when it is a regular file; any other kind of
// file (a FIFO, a device, a directory) is closed and the open fails with
// EINVAL. A failed open (-1) passes through.
int regular_only(int fd) {
    if (fd < 0) return fd;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

// A stream's mode with "e" added (its descriptor closed on exec) into how
// (16 bytes); false with EINVAL for a mode too long to be one.
bool closing_on_exec(const char *mode, char (&how)[16]) {
    const size_t n = mode ? strnlen(mode, sizeof how) : sizeof how;
    if (n + 2 > sizeof how) {
        errno = EINVAL;
        return false;
    }
    memcpy(how, mode, n);
    size_t end = n;
    if (!memchr(mode, 'e', n)) how[end++] = 'e';
    how[end] = '\0';
    return true;
}

// The flags of every open of a name the library made up or found: no link
// followed, no blocking on a FIFO or a device (nor taking a terminal as the
// process's own), close-on-exec.
constexpr int kFound = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// An open of a name the library made up or found: the descriptor of a
// regular file, back in blocking mode for its reads and writes, or -1 with
// errno (EINVAL: not a regular file; ELOOP: a symbolic link).
int found_open(const char *path, int flags, int perm) {
    const int fd = regular_only(open(path, flags | kFound, static_cast<mode_t>(perm)));
    if (fd < 0) return fd;
    const int fl = fcntl(fd, F_GETFL);
    if (fl >= 0) fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    return fd;
}

}  // namespace

long io_calls(IoKind kind) { return g_calls[static_cast<int>(kind)]; }

void fault_set(IoKind kind, long nth, int err, bool sticky, long short_by) {
    g_faults[static_cast<int>(kind)] = Fault{nth, err, sticky, short_by};
}

void fault_exit(IoKind kind, long nth, int status) {
    g_exit_at[static_cast<int>(kind)] = nth;
    g_exit_status[static_cast<int>(kind)] = status;
}

void fault_call(IoKind kind, long nth, void (*fn)(void *), void *arg) {
    const int k = static_cast<int>(kind);
    g_call_fn[k] = fn;
    g_call_arg[k] = arg;
    g_call_at[k] = fn ? nth : 0;
}

void fault_reset() {
    for (int k = 0; k < kKinds; k++) {
        g_calls[k] = 0;
        g_faults[k] = Fault{0, 0, false, 0};
        g_exit_at[k] = 0;
        g_call_at[k] = 0;
    }
}

int plat_open(const char *path, OpenHow how, int perm) {
    if (must_fail(IoKind::Open)) return -1;
    switch (how) {
    case OpenHow::ReadOnly:
        return open(path, O_RDONLY | O_CLOEXEC);
    case OpenHow::ReadWrite:
        return open(path, O_RDWR | O_CLOEXEC);
    case OpenHow::CreateExclusive:
        return open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(perm));
    case OpenHow::WriteCreate:
        return open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, static_cast<mode_t>(perm));
    case OpenHow::WriteCreateExclusive:
        return open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(perm));
    case OpenHow::ReadWriteRegular:
        // O_NONBLOCK: a FIFO under the name must not stop the open.
        return regular_only(open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC));
    case OpenHow::FoundRead:
        return found_open(path, O_RDONLY, 0);
    case OpenHow::FoundReadWrite:
        return found_open(path, O_RDWR, 0);
    case OpenHow::FoundWriteCreate:
        // O_TRUNC acts on a regular file only; anything else is refused.
        return found_open(path, O_WRONLY | O_CREAT | O_TRUNC, perm);
    case OpenHow::FoundCreateExclusive:
        // O_EXCL fails on any entry under the name, a link included.
        return found_open(path, O_RDWR | O_CREAT | O_EXCL, perm);
    }
    errno = EINVAL;
    return -1;
}

int64_t plat_read(int fd, void *buf, size_t n) {
    Verdict v = plan(IoKind::Read);
    if (v.fail) return -1;
    if (v.short_by <= 0) return read(fd, buf, n);
    size_t m = cut(n, v.short_by);
    ssize_t r = m ? read(fd, buf, m) : 0;
    if (r >= 0 && v.err) errno = v.err;
    return r;
}

int64_t plat_write(int fd, const void *buf, size_t n) {
    Verdict v = plan(IoKind::Write);
    if (v.fail) return -1;
    if (v.short_by <= 0) return write(fd, buf, n);
    size_t m = cut(n, v.short_by);
    ssize_t r = m ? write(fd, buf, m) : 0;
    if (r >= 0 && v.err) errno = v.err;
    return r;
}

namespace {

// Runs one positioned transfer of descriptor fd after the plan has seen its
// seek and its transfer: `io` moves up to m bytes at the offset.
template <class Io>
int64_t positioned(int fd, IoKind kind, size_t n, int64_t off, bool *seek_failed, Io io) {
    *seek_failed = false;
    if (must_fail(IoKind::Seek)) {
        *seek_failed = true;
        return -1;
    }
    if (off < 0) {
        *seek_failed = true;
        errno = EINVAL;
        return -1;
    }
    Verdict v = plan(kind);
    if (v.fail) return -1;
    const bool cut_short = v.short_by > 0;
    const size_t m = cut_short ? cut(n, v.short_by) : n;
    ssize_t r = (m || !cut_short) ? io(m) : 0;
    if (r < 0) {
        // What a separate seek would have refused: a descriptor that is not
        // open, or one that cannot be positioned.
        const int err = errno;
        if (err == ESPIPE || (err == EBADF && fcntl(fd, F_GETFD) < 0)) *seek_failed = true;
        errno = err;
        return r;
    }
    if (cut_short && v.err) errno = v.err;
    return r;
}

}  // namespace

int64_t plat_pread(int fd, void *buf, size_t n, int64_t off, bool *seek_failed) {
    return positioned(fd, IoKind::Read, n, off, seek_failed,
                      [&](size_t m) { return pread(fd, buf, m, static_cast<off_t>(off)); });
}

int64_t plat_pwrite(int fd, const void *buf, size_t n, int64_t off, bool *seek_failed) {
    return positioned(fd, IoKind::Write, n, off, seek_failed,
                      [&](size_t m) { return pwrite(fd, buf, m, static_cast<off_t>(off)); });
}

int64_t plat_seek(int fd, int64_t offset, bool from_end) {
    if (must_fail(IoKind::Seek)) return -1;
    return lseek(fd, static_cast<off_t>(offset), from_end ? SEEK_END : SEEK_SET);
}

int64_t plat_tell(int fd) {
    if (must_fail(IoKind::Seek)) return -1;
    return lseek(fd, 0, SEEK_CUR);
}

int plat_fsync(int fd) {
    if (must_fail(IoKind::Sync)) return -1;
    return fsync(fd);
}

int plat_close(int fd) {
    if (must_fail(IoKind::Close)) return -1;
    return close(fd);
}

int plat_dup(int fd) {
    if (must_fail(IoKind::Open)) return -1;
    return fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

int plat_close_unplanned(int fd) { return close(fd); }

int plat_lock(int fd, LockCmd cmd, LockType type, int64_t start, int64_t len, int *holder, bool description) {
    if (holder) *holder = 0;
    if (must_fail(IoKind::Lock)) return -1;
    struct flock fl;
    memset(&fl, 0, sizeof fl);
    fl.l_type = type == LockType::Shared ? F_RDLCK : type == LockType::Exclusive ? F_WRLCK : F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(start);
    fl.l_len = static_cast<off_t>(len);
    // A description lock names no process (l_pid 0 on the way in).
    fl.l_pid = description ? 0 : getpid();
    int op;
    if (description) {
        op = cmd == LockCmd::Wait ? F_OFD_SETLKW : cmd == LockCmd::Try ? F_OFD_SETLK : F_OFD_GETLK;
    } else {
        op = cmd == LockCmd::Wait ? F_SETLKW : cmd == LockCmd::Try ? F_SETLK : F_GETLK;
    }
    int r = fcntl(fd, op, &fl);
    if (r == 0 && cmd == LockCmd::Test && holder && fl.l_type != F_UNLCK) *holder = fl.l_pid;
    return r;
}

int plat_unlink(const char *path) {
    if (must_fail(IoKind::Unlink)) return -1;
    return unlink(path);
}

int plat_link(const char *from, const char *to) {
    if (must_fail(IoKind::Link)) return -1;
    return link(from, to);
}

int plat_rename(const char *from, const char *to) {
    if (must_fail(IoKind::Rename)) return -1;
    return rename(from, to);
}

int plat_mkdir(const char *path, int mode) {
    if (must_fail(IoKind::Mkdir)) return -1;
    return mkdir(path, static_cast<mode_t>(mode));
}

int plat_rmdir(const char *path) {
    if (must_fail(IoKind::Rmdir)) return -1;
    return rmdir(path);
}

namespace {

void fill_stat(const struct stat &st, PlatStat *out) {
    out->dev = static_cast<uint64_t>(st.st_dev);
    out->ino = static_cast<uint64_t>(st.st_ino);
    out->size = static_cast<uint64_t>(st.st_size);
    out->is_dir = S_ISDIR(st.st_mode);
    out->is_link = S_ISLNK(st.st_mode);
    out->is_regular = S_ISREG(st.st_mode);
    out->uid = static_cast<uint32_t>(st.st_uid);
    out->mode = static_cast<uint32_t>(st.st_mode & 07777);
}

}  // namespace

int plat_stat(const char *path, PlatStat *out) {
    if (must_fail(IoKind::Stat)) return -1;
    struct stat st;
    if (stat(path, &st) != 0) return -1;
    fill_stat(st, out);
    return 0;
}

int plat_chmod(const char *path, int mode) {
    if (must_fail(IoKind::Stat)) return -1;
    return chmod(path, static_cast<mode_t>(mode));
}

int plat_lstat(const char *path, PlatStat *out) {
    if (must_fail(IoKind::Stat)) return -1;
    struct stat st;
    if (lstat(path, &st) != 0) return -1;
    fill_stat(st, out);
    return 0;
}

int plat_fstat(int fd, PlatStat *out) {
    if (must_fail(IoKind::Stat)) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0) return -1;
    fill_stat(st, out);
    return 0;
}

int plat_openat(int dir, const char *name, AtHow how) {
    if (must_fail(IoKind::Open)) return -1;
    const int at = dir == kAtWorkingDir ? AT_FDCWD : dir;
    switch (how) {
    case AtHow::DirectoryFollowed:
        return openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    case AtHow::Directory:
        return openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    case AtHow::Regular:
        // O_NONBLOCK: a FIFO under the name must not stop the open.
        return regular_only(openat(at, name, O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    }
    errno = EINVAL;
    return -1;
}

int plat_renameat(int fromdir, const char *from, int todir, const char *to) {
    if (must_fail(IoKind::Rename)) return -1;
    return renameat(fromdir == kAtWorkingDir ? AT_FDCWD : fromdir, from, todir == kAtWorkingDir ? AT_FDCWD : todir,
                    to);
}

int plat_unlinkat(int dir, const char *name) {
    if (must_fail(IoKind::Unlink)) return -1;
    return unlinkat(dir == kAtWorkingDir ? AT_FDCWD : dir, name, 0);
}

int plat_fstatat(int dir, const char *name, PlatStat *out) {
    if (must_fail(IoKind::Stat)) return -1;
    struct stat st;
    if (fstatat(dir == kAtWorkingDir ? AT_FDCWD : dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return -1;
    fill_stat(st, out);
    return 0;
}

// A directory stream is the system's own stream under another name.
PlatDir *plat_opendir(const char *path) {
    if (must_fail(IoKind::Dir)) return nullptr;
    return reinterpret_cast<PlatDir *>(opendir(path));
}

PlatDir *plat_opendir_found(const char *path) {
    if (must_fail(IoKind::Dir)) return nullptr;
    const int fd = open(path, O_RDONLY | O_DIRECTORY | kFound);
    if (fd < 0) return nullptr;
    DIR *d = fdopendir(fd);
    if (!d) {
        const int err = errno;
        close(fd);
        errno = err;
    }
    return reinterpret_cast<PlatDir *>(d);
}

int plat_readdir(PlatDir *pd, char *name, size_t size) {
    if (!pd || !name || size == 0) {
        errno = EINVAL;
        return -1;
    }
    if (must_fail(IoKind::Dir)) return -1;
    errno = 0;
    struct dirent *e = readdir(reinterpret_cast<DIR *>(pd));
    if (!e) return errno ? -1 : 0;
    size_t n = strlen(e->d_name);
    if (n >= size) {
        errno = ENAMETOOLONG;
        return -1;
    }
    memcpy(name, e->d_name, n + 1);
    return 1;
}

int plat_closedir(PlatDir *pd) {
    if (!pd) return 0;
    return closedir(reinterpret_cast<DIR *>(pd));
}

int plat_user_known(uint32_t uid) {
    struct passwd pw;
    struct passwd *res = nullptr;
    char buf[4096];
    return getpwuid_r(static_cast<uid_t>(uid), &pw, buf, sizeof buf, &res) == 0 && res ? 1 : 0;
}

bool plat_random(void *buf, size_t n) {
    unsigned char *p = static_cast<unsigned char *>(buf);
    size_t got = 0;
    // Non-blocking: a pool not yet seeded at boot is read from the device
    // below, which does not wait either.
    while (got < n) {
        ssize_t r = getrandom(p + got, n - got, GRND_NONBLOCK);
        if (r > 0) {
            got += size_t(r);
        } else if (r < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    if (got == n) return true;
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    while (got < n) {
        ssize_t r = read(fd, p + got, n - got);
        if (r > 0) {
            got += size_t(r);
        } else if (r < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    close(fd);
    return got == n;
}

int plat_statvfs(const char *path, uint64_t *avail) {
    if (must_fail(IoKind::Statvfs)) return -1;
    struct statvfs sv;
    if (statvfs(path, &sv) != 0) return -1;
    *avail = static_cast<uint64_t>(sv.f_bavail) * static_cast<uint64_t>(sv.f_frsize);
    return 0;
}

int plat_mkstemp(char *tmpl) {
    if (must_fail(IoKind::Mkstemp)) return -1;
    return mkostemp(tmpl, O_CLOEXEC);
}

bool plat_realpath(const char *path, char *out, size_t size) {
    if (must_fail(IoKind::Path)) return false;
    char resolved[PATH_MAX];
    if (!realpath(path, resolved)) return false;
    size_t n = strlen(resolved);
    if (n >= size) {
        errno = ERANGE;
        return false;
    }
    memcpy(out, resolved, n + 1);
    return true;
}

bool plat_getcwd(char *buf, size_t size) {
    if (must_fail(IoKind::Path)) return false;
    return getcwd(buf, size) != nullptr;
}

FILE *plat_fopen(const char *name, const char *mode) {
    if (must_fail(IoKind::Fopen)) return nullptr;
    char how[16];
    if (!closing_on_exec(mode, how)) return nullptr;
    return fopen(name, how);
}

FILE *plat_fopen_found(const char *name, const char *mode, int perm) {
    if (must_fail(IoKind::Fopen)) return nullptr;
    if (!name || !mode) {
        errno = EINVAL;
        return nullptr;
    }
    int flags;
    const char *as;
    switch (mode[0]) {
    case 'r':
        flags = O_RDONLY;
        as = "r";
        break;
    case 'w':
        flags = O_WRONLY | O_CREAT | (strchr(mode, 'x') ? O_EXCL : O_TRUNC);
        as = "w";
        break;
    case 'a':
        flags = O_WRONLY | O_CREAT | O_APPEND;
        as = "a";
        break;
    default:
        errno = EINVAL;
        return nullptr;
    }
    const int fd = found_open(name, flags, perm);
    if (fd < 0) return nullptr;
    FILE *fp = fdopen(fd, as);
    if (!fp) {
        const int err = errno;
        close(fd);
        errno = err;
    }
    return fp;
}

int plat_fclose(FILE *fp) { return fclose(fp); }

int plat_fchmod(FILE *fp, int mode) { return fchmod(fileno(fp), static_cast<mode_t>(mode)); }

int plat_ftell(FILE *fp, int64_t *pos) {
    if (must_fail(IoKind::Seek)) return -1;
    off_t p = ftello(fp);
    if (p < 0) return -1;
    if (pos) *pos = p;
    return 0;
}

int plat_fseek(FILE *fp, int64_t pos) {
    if (must_fail(IoKind::Seek)) return -1;
    return fseeko(fp, static_cast<off_t>(pos), SEEK_SET);
}

FILE *plat_popen(const char *command, const char *mode) {
    if (must_fail(IoKind::Popen)) return nullptr;
    char how[16];
    if (!closing_on_exec(mode, how)) return nullptr;
    return popen(command, how);
}

int plat_pclose(FILE *fp) { return pclose(fp); }

// ---- Memory of the buffer pools -------------------------------------------

namespace {
constexpr size_t kHugePage = size_t(2) << 20;
bool g_map_fails = false;  // test switch
}

void fail_memory_map(bool on) { g_map_fails = on; }

void *plat_map_memory(size_t n, bool *huge, bool ask_huge) {
    *huge = false;
    if (g_map_fails) {
        errno = ENOMEM;
        return nullptr;
    }
    if (n == 0 || n > SIZE_MAX - kHugePage) {
        errno = EINVAL;
        return nullptr;
    }
    const size_t want = (n + kHugePage - 1) & ~(kHugePage - 1);
    if (want < kHugePage * 2 || !ask_huge) {
        // Too small for huge pages to matter, or not wanted: plain pages,
        // also where the system would otherwise give huge pages unasked.
        void *p = mmap(nullptr, want, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return nullptr;
#ifdef MADV_NOHUGEPAGE
        if (!ask_huge) madvise(p, want, MADV_NOHUGEPAGE);
#endif
        return p;
    }
    // Map one huge page more than needed and trim both ends, so that the
    // block starts on a huge-page boundary.
    void *raw = mmap(nullptr, want + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
    if (aligned > start) munmap(raw, aligned - start);
    const uintptr_t end = start + want + kHugePage;
    if (end > aligned + want) munmap(reinterpret_cast<void *>(aligned + want), end - (aligned + want));
    void *p = reinterpret_cast<void *>(aligned);
#ifdef MADV_HUGEPAGE
    *huge = madvise(p, want, MADV_HUGEPAGE) == 0;
#endif
    return p;
}

void plat_unmap_memory(void *p, size_t n) {
    if (!p || n == 0) return;
    munmap(p, (n + kHugePage - 1) & ~(kHugePage - 1));
}

}  // namespace zv
