// The platform seam: the only module that calls the operating system's file
// functions. Every other module reaches files through these routines, which
// is where tests count calls and inject faults.
//
// Each routine behaves like the system call it wraps: it returns what the
// call returns and leaves errno as the call left it. Nothing here touches the
// engine instance; error codes of the engine are the callers' business.
// Every descriptor made here (and under every stream) is close-on-exec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace zv {

// Kinds of system calls the seam counts and can make fail.
enum class IoKind : int {
    Open, Read, Write, Sync, Close, Seek, Unlink, Link, Rename, Mkdir, Rmdir,
    Stat, Statvfs, Lock, Mkstemp, Fopen, Path,
    Dir,    // opendir, readdir and closedir of directory walks
    Popen,  // command streams
    Count
};

// ---- Test support (not exported) -----------------------------------------
// Calls of a kind made through the seam since the last fault_reset.
long io_calls(IoKind kind);
// Plans a fault for the nth call of a kind from now (1 = the next).
//  - short_by == 0: the call fails with errno err and does nothing.
//  - short_by > 0 (reads and writes): the transfer moves short_by bytes
//    fewer than asked (none when it asked for no more); errno is then set
//    to err when err is not 0.
// With `sticky` every call of the kind from the nth on is affected. One plan
// per kind; a new plan replaces the old one.
void fault_set(IoKind kind, long nth, int err, bool sticky = false, long short_by = 0);
// Ends the process with _exit(status) at the nth call of a kind from now
// (1 = the next), before the call does anything: a crash at that point.
// One plan per kind; fault_reset clears it.
void fault_exit(IoKind kind, long nth, int status);
// Runs fn(arg) at the nth call of a kind from now (1 = the next), before
// the call does anything: a step of another process between two of this
// one's. One plan per kind; fault_reset clears it.
void fault_call(IoKind kind, long nth, void (*fn)(void *), void *arg);
// Clears every fault and every counter.
void fault_reset();

// ---- Files by descriptor --------------------------------------------------
// How plat_open opens a file.
enum class OpenHow {
    ReadOnly, ReadWrite, CreateExclusive,
    WriteCreate,           // write only; created when missing, else truncated to 0
    WriteCreateExclusive,  // write only; the file must not exist
    ReadWriteRegular,      // read-write, never blocking on the open, and only a regular
                           // file (anything else: -1 with EINVAL); links are followed
    // Names the library made up or found on disk itself: a symbolic link as
    // the name's last component is refused (-1 with ELOOP), the open never
    // blocks (a FIFO or a device under the name does not hold it up), only a
    // regular file is kept (anything else: -1 with EINVAL, a directory asked
    // for writing EISDIR), and the descriptor (in blocking mode again for
    // its transfers) is close-on-exec.
    FoundRead,             // read only
    FoundReadWrite,        // read-write
    FoundCreateExclusive,  // read-write, created with permission bits perm; the name must
                           // not exist (a link under it included: EEXIST)
    FoundWriteCreate,      // write only; created with permission bits perm when missing,
                           // else (a regular file) truncated to 0
};
// Opens (or, with CreateExclusive, creates read-write a file that must not
// exist, with permission bits perm; the Write* forms are the destinations of
// whole-file copies). Descriptor, closed on exec, or -1 with errno.
int plat_open(const char *path, OpenHow how, int perm);
// read/write of up to n bytes at the descriptor's position: bytes moved, or -1.
int64_t plat_read(int fd, void *buf, size_t n);
int64_t plat_write(int fd, const void *buf, size_t n);
// read/write of up to n bytes at offset off, in one system call that leaves
// the descriptor's position alone. Counted and planned as what it stands
// for, a seek (from the start) followed by the transfer: a fault planned for
// either hits it. -1 with errno on failure, *seek_failed telling whether the
// positioning failed (a planned seek fault or a negative offset).
int64_t plat_pread(int fd, void *buf, size_t n, int64_t off, bool *seek_failed);
int64_t plat_pwrite(int fd, const void *buf, size_t n, int64_t off, bool *seek_failed);
// Moves the descriptor's position: from the start of the file (end false) or
// from its end. New position, or -1 with errno.
int64_t plat_seek(int fd, int64_t offset, bool from_end);
// The descriptor's position, or -1 with errno (counted as a seek).
int64_t plat_tell(int fd);
int plat_fsync(int fd);
int plat_close(int fd);
// A second descriptor of fd's open file description (counted as an open),
// closed on exec: it shares the description's position and its description
// locks.
int plat_dup(int fd);
// close(2) without the fault plan: neither counted nor planned to fail.
// For fork handlers, which run in a child whose planned calls stay where
// its test put them.
int plat_close_unplanned(int fd);

// Byte-range locks: POSIX record locks of the process, or (description)
// locks of the open file description, which belong to the descriptor and
// its duplicates only: closing another descriptor of the same file keeps
// them, and another description of the file, in this process or another,
// conflicts with them.
enum class LockCmd { Try, Wait, Test };
enum class LockType { Shared, Exclusive, Unlock };
// Sets, waits for or (Test) queries a lock of [start, start + len), len 0
// meaning to the end of the file and beyond. For Test, *holder receives the
// process id of a conflicting lock's holder (-1 for a description lock), or
// 0 when none conflicts. 0, or -1 with errno.
int plat_lock(int fd, LockCmd cmd, LockType type, int64_t start, int64_t len, int *holder,
              bool description = false);

// ---- Files by name --------------------------------------------------------
int plat_unlink(const char *path);
int plat_link(const char *from, const char *to);
int plat_rename(const char *from, const char *to);
int plat_mkdir(const char *path, int mode);
int plat_rmdir(const char *path);
// Sets the permission bits of a file (counted as a Stat call).
int plat_chmod(const char *path, int mode);

// What the engine asks of a file's status.
struct PlatStat {
    uint64_t dev;
    uint64_t ino;
    uint64_t size;
    bool is_dir;
    bool is_link;  // set by plat_lstat only
    bool is_regular;  // a regular file
    uint32_t uid;  // owner
    uint32_t mode; // permission bits
};
int plat_stat(const char *path, PlatStat *out);
// stat of the entry itself: a symbolic link is not followed (is_link set,
// is_dir false).
int plat_lstat(const char *path, PlatStat *out);
// stat of an open descriptor's file (counted as a Stat call).
int plat_fstat(int fd, PlatStat *out);

// ---- Names below a directory, no link followed -------------------------------
// A directory reached by a descriptor, and each name below it reached one
// component at a time from there: a symbolic link or a file put in a
// directory's place on the way is refused, not followed, however the names
// change meanwhile.

// The working directory as the `dir` of the calls below.
constexpr int kAtWorkingDir = -100;
// How plat_openat opens a name.
enum class AtHow {
    DirectoryFollowed,  // a directory, read only, symbolic links in the name followed
    Directory,          // a directory, read only, a link in the last component refused
    Regular,            // read-write, never blocking on the open, a regular file only
                        // (anything else: -1 with EINVAL), a link refused
};
// Opens `name` in the directory of descriptor `dir` (or kAtWorkingDir) as
// `how` says; a refused link: -1 with ELOOP (or ENOTDIR). Descriptor, or -1
// with errno. Counted as an open.
int plat_openat(int dir, const char *name, AtHow how);
// Renames, deletes and looks at a name in the directory of a descriptor:
// the name itself, a symbolic link there never followed. As their system
// calls (renameat, unlinkat, fstatat with AT_SYMLINK_NOFOLLOW, which sets
// is_link); counted as a rename, an unlink and a stat.
int plat_renameat(int fromdir, const char *from, int todir, const char *to);
int plat_unlinkat(int dir, const char *name);
int plat_fstatat(int dir, const char *name, PlatStat *out);

// ---- Directory streams ------------------------------------------------------
struct PlatDir;
// Opens a directory stream; null with errno.
PlatDir *plat_opendir(const char *path);
// Opens the stream of a directory that a walk found: a symbolic link as the
// name's last component is refused (null with ELOOP or ENOTDIR), as is
// anything but a directory, without blocking. Counted as plat_opendir.
PlatDir *plat_opendir_found(const char *path);
// Next entry name into name (size bytes): 1 an entry, 0 the end (errno 0),
// -1 a read error or a name that does not fit (errno set).
int plat_readdir(PlatDir *dir, char *name, size_t size);
int plat_closedir(PlatDir *dir);
// 1 when the user id has an entry in the password database, else 0.
int plat_user_known(uint32_t uid);
// Fills buf with n bytes of the system's random source (getrandom, else
// "/dev/urandom"); false when neither gives them all. Not counted and never
// planned to fail: it reads no file of the engine's.
bool plat_random(void *buf, size_t n);
// Bytes available to an unprivileged caller on the file system of path.
int plat_statvfs(const char *path, uint64_t *avail);
// Creates and opens a unique file from a template ending in "XXXXXX",
// which is replaced in place, closed on exec. Descriptor, or -1 with errno.
int plat_mkstemp(char *tmpl);
// Absolute name without symbolic links, "." or "..", into out (size bytes);
// false with errno when it cannot be resolved or does not fit (ERANGE).
bool plat_realpath(const char *path, char *out, size_t size);
// Current directory into buf; false with errno on failure.
bool plat_getcwd(char *buf, size_t size);

// ---- Streams --------------------------------------------------------------
// Opens a text stream (dumps, files the caller names), its descriptor closed
// on exec ("e" added to the mode); null on failure with errno set.
FILE *plat_fopen(const char *name, const char *mode);
// Opens a stream on a name the library made up or found on disk itself, by
// the rule of the Found forms of OpenHow (no link followed, never blocking,
// a regular file only, close-on-exec): mode "r" (or "rb") reads an existing
// file, "w" (or "wb") writes one, created when missing and else truncated,
// "wx" creates one that must not exist, "a" appends, creating the file when
// it is missing. perm: the permission bits of a file it creates (less the
// umask). Null with errno; counted as a stream open.
FILE *plat_fopen_found(const char *name, const char *mode, int perm);
// Closes a stream opened by plat_fopen.
int plat_fclose(FILE *fp);
// Sets the permission bits of an open stream's file.
int plat_fchmod(FILE *fp, int mode);
// 64-bit position of a stream: query (0 or -1) and set from the start (0 or -1).
int plat_ftell(FILE *fp, int64_t *pos);
int plat_fseek(FILE *fp, int64_t pos);
// Runs a command through the shell with a stream on its output (mode "r")
// or input ("w"), this process's end of it closed on exec ("e" added to
// the mode); null on failure with errno set.
FILE *plat_popen(const char *command, const char *mode);
// Closes a command stream and waits for the command: its wait status, or
// -1 with errno.
int plat_pclose(FILE *fp);

// ---- Memory of the buffer pools -------------------------------------------
// Zero-filled anonymous memory of at least n bytes for the buffer pools, not
// a file mapping. A block of several huge pages starts on a huge-page
// boundary and asks the system to back it with huge pages; *huge tells
// whether it agreed. With ask_huge false the block keeps ordinary pages, so
// that only the pages touched become resident. Null with errno when the
// system has no memory to give.
void *plat_map_memory(size_t n, bool *huge, bool ask_huge = true);
// Returns a block of plat_map_memory (n: the size that was asked for).
void plat_unmap_memory(void *p, size_t n);
// Test support: while on, plat_map_memory fails with ENOMEM.
void fail_memory_map(bool on);

}  // namespace zv
