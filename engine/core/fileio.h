// Platform file I/O: open, create and close under the descriptor budget,
// 64-bit seeks, reads and writes through the page-cipher hook, file sizes
// and syncs (see fileio.cpp).
#pragma once

#include <cstdint>
#include <cstdio>

struct FCB;

namespace zv {

// Mode word bits of zvsysio81.
constexpr int kIoWrite = 0x01;      // write (else read)
constexpr int kIoCentral = 0x10;    // central I/O opcodes 16/17; ignored here
constexpr int kIoPlain = 0x80;      // no cipher hook, even for an encrypted file
constexpr int kIoSegHdr = 0x300;    // segment-header I/O (0x100, 0x200)

// Size of one enciphered unit; every enciphered transfer is whole units
// aligned on multiples of it.
constexpr uint32_t kCipherUnit = 2048;
// Hook operations.
constexpr int kCipherEncrypt = 1, kCipherDecrypt = 2, kCipherUndo = 3;

// While one lives, the instance's opens and creates of files by name
// (mbopen, mbcratx) take names the engine made up itself (a rebuild's or a
// compaction's new files under temporary names), by the rule for such
// names. `on` false leaves the instance as it is.
class FoundNames {
public:
    explicit FoundNames(bool on = true);
    ~FoundNames();
    FoundNames(const FoundNames &) = delete;
    FoundNames &operator=(const FoundNames &) = delete;

private:
    uint8_t keep_;
    bool on_;
};

// While one lives, the instance's opens and creates by name take names the
// caller gave again (inside a FoundNames scope: a call that opens the
// caller's file beside the ones it made up).
class CallerNames {
public:
    CallerNames();
    ~CallerNames();
    CallerNames(const CallerNames &) = delete;
    CallerNames &operator=(const CallerNames &) = delete;

private:
    uint8_t keep_;
};

// Opens an existing file. mode: kOpnPermanent (outside the budget),
// kOpnReadOnly, kOpnNoConvert. Clears sysiocod. Descriptor, or -1 with
// sysiocod set (-766: no descriptor could be freed); a name longer than 255
// characters or a failing conversion leaves its code (139) in uerr_cod.
// The FCB may be null. For an FCB opened or created under FoundNames
// (foundname), or without an FCB under FoundNames, the name is one the
// engine made up: no symbolic link is followed, the open never blocks and
// only a regular file opens (sysiocod ELOOP or EINVAL otherwise),
// close-on-exec. An FCB's reopens keep the rule of its first open.
int mbopen(FCB *fcb, const char *path, uint16_t mode);
// Creates a file that must not exist, with the instance's permission mode,
// and locks it whole (exclusive). The FCB (may be null: mode 0) gives the open
// mode. Descriptor, or -1: uerr_cod 19 when the file exists (sysiocod 17),
// else uerr_cod -1 with sysiocod set; a refused lock deletes the new file.
// Under FoundNames the descriptor is close-on-exec and the FCB keeps the
// rule of mbopen for its reopens.
int mbcratx(FCB *fcb, const char *path);
// mbcratx under an open mode instead of an FCB's.
int mbcratm(uint16_t mode, const char *path);
int mbcrat(FCB *fcb);
// The lock an open file holds against other processes, on its own open
// file description (other descriptors of the file in this process neither
// release nor meet it): exclusive, or shared for an open with the shared
// bit or read only, over the whole file, never waiting. 0, or the errno of
// the refusal (also in sysiocod).
int lock_open_file(int fd, uint16_t openmode);
// Whether an open under this mode holds its file shared (the shared bit,
// or read only) rather than exclusively.
inline bool opens_shared(uint16_t openmode) { return (openmode & (0x0001 | 0x0008)) != 0; }
// The lock a block takes again on a new descriptor of its file (after a
// virtual close or a rename): exclusive when the block held the file
// exclusively, else as its file mode says. 0 or the errno, as above.
int relock_open_file(FCB *fcb, int fd);
// The block whose descriptor carries f's I/O: f itself, or the host that a
// member (a superfile member, an index's additional member, a host's
// directory) reads and writes through.
FCB *io_fcb(FCB *f);
// Closes a descriptor (and the FCB's own when it is that one). 0, or -1
// with sysiocod set.
int mbclosx(FCB *fcb, int fd);
// Closes a descriptor opened under an open mode (the budget follows it):
// 0, or -1 with sysiocod set.
int mbclosm(uint16_t mode, int fd);
int mbclos(FCB *fcb);

// Positions a descriptor at (hi << 32) | lo. 0, or 35 with sysiocod.
int zvseek81(int fd, uint32_t hi, uint32_t lo);
// Reads or writes len bytes at (hi, lo) of the file; *count (may be null)
// receives the bytes moved. A superfile or index member moves through its
// host. 0, 35 seek, 36 short read (sysiocod 0 at end of file), 37 failed
// write (logged; a write the system cut short goes on with the rest until it
// completes or a write fails, whose errno stays in sysiocod), 606 encrypted without a hook, 674 segmented file, 695 no
// memory for a partial cipher unit, 697 the hook refused.
//
// A short read is the end of the file only when its bytes stop at or past
// the file's physical end; then sysiocod is 0. A read that failed keeps its
// errno in sysiocod, and one that stops below the physical end without an
// errno leaves EIO there: both are 36 too, but never the end of the file.
int zvsysio81(int mode, FCB *fcb, int reserved, uint32_t hi, uint32_t lo, void *buf,
              uint32_t len, uint32_t *count);
// True when a read's code means the end of the file (36 with sysiocod 0),
// not a failing disk.
bool read_at_end(int code);

// Physical size of a descriptor (the FCB's own when the file is virtually
// closed). Low word; high word into *hi (may be null); all ones on failure.
uint32_t zvfsize81(uint32_t *hi, FCB *fcb, int fd);
// Logical size of the whole file; all ones on failure.
uint32_t zvgsize81(uint32_t *hi, FCB *fcb);
// Confirms at open that the record counters' high words of a file without
// 8-byte offsets are stray: 0 (cleared in memory) or 689.
int tstfilsiz(FCB *fcb);
// Logs the failure of a size query: two lines with the FCB's name.
void report_fsize(FCB *fcb, int syscode, int loc);

// fsync, repeated while interrupted. 0 or -1.
int zvfdatasync(int fd);
// Forces a file to disk (the body of the save call). 0 or 49 (logged).
int mbsave(FCB *fcb);

// 0 when every one of len bytes equals fill, 1 otherwise.
int zvcfill(const void *buf, int fill, uint32_t len);
// 64-bit stream positions: query (pos may be null) and set. 0 or -1.
int zvrtgetpos81(FILE *fp, int64_t *pos);
int zvrtsetpos81(FILE *fp, uint32_t hi, uint32_t lo);

}  // namespace zv
