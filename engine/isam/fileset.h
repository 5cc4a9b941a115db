// Shared pieces of file-set create, open and close (fileset_create.cpp,
// fileset_open.cpp).
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

struct FCB;

namespace zv {

// Whether a block is that of an open file.
bool set_file_open(const FCB *f);

// Keeps the error words of a failure (user, ISAM error and its file,
// system error) across the clean-up that follows it: they are put back
// when the object ends, unless the clean-up stopped and removed the
// instance.
class ErrorKeep {
public:
    ErrorKeep();
    ~ErrorKeep();
    ErrorKeep(const ErrorKeep &) = delete;
    ErrorKeep &operator=(const ErrorKeep &) = delete;

private:
    const void *inst_;
    uint16_t uerr_, isam_, num_, sys_;
};

// For an entry that takes no create blocks: one block of the engine's
// defaults per physical file of ifil, handed to call(blocks) and freed
// afterwards. The result of call, or the error of making the blocks.
int default_blocks(const IFIL *ifil, XCREblk **out);
void release_default_blocks(XCREblk *blocks);
template <class Call>
int with_default_blocks(const IFIL *ifil, Call call) {
    XCREblk *blocks = nullptr;
    if (int rc = default_blocks(ifil, &blocks)) return rc;
    int rc = call(blocks);
    release_default_blocks(blocks);
    return rc;
}
// Ends a file-set call with a failure: code as the user error and as the
// ISAM error with file number filno (0 when negative). Returns code.
int set_fail(int code, int filno);

// How the indexes of a set map onto physical files: index 0 and every
// index with an alternate name start an index file; any other index is an
// additional member of the index file before it.
struct SetShape {
    int n = 0;
    int host[64] = {};   // position of the index file that holds index k
    int nmem[64] = {};   // at an index file's position: the members after it
    bool is_file(int k) const { return host[k] == k; }
};
// Fills the shape; false when an index has segments but no segment array.
bool classify(const IFIL *ifil, SetShape *shape);

// Sets a bit of an instance option word for the life of the object and
// restores the bit as it was.
class OptionBit {
public:
    OptionBit(uint32_t *word, uint32_t bit) : word_(word), bit_(bit), had_((*word & bit) != 0) {
        *word_ |= bit_;
    }
    ~OptionBit() {
        if (!had_) *word_ &= ~bit_;
    }
    OptionBit(const OptionBit &) = delete;
    OptionBit &operator=(const OptionBit &) = delete;

private:
    uint32_t *word_;
    uint32_t bit_;
    bool had_;
};

// Instance option bits that the ISAM layer raises around file-layer calls
// (INSTGV::fileopt): files created or opened under kIsamMark belong to a
// set and are closed through it; kIsamClosing marks the ISAM layer's own
// closes and deletes.
constexpr uint32_t kIsamMark = 0x10000000;     // fileopt[1]: data file of a set
constexpr uint32_t kIsamIndexMark = 0x1;       // fileopt[2]: index file of a set
constexpr uint32_t kIsamClosing = 0x10000;     // fileopt[0]: set close, stop or undo
constexpr uint32_t kIsamSetClose = 0x4000;     // fileopt[2]: close of a set

// Marks the create blocks of the indexes first .. first + count (count -2:
// every index of the set, one block per index file) that give up, keep or
// need uniqueness across partitions (bits 0x2000000 and 0x4000000 of
// their mode words); keyidx is the partition-key index and partbits the
// indexes holding partition-key segments. 0.
int zvchkunqidx(XCREblk *blocks, const IFIL *ifil, const IIDX *first, int partbits, int count, int keyidx);

// Closes (del false) or deletes every file of the set of data file datno
// and releases its key-map entries. The first error, also as the ISAM
// error with datno.
int ishtifil(int datno, bool del);
// Closes an open file of a set whatever its open marks: 0 or the error.
int close_set_file(int filno);
// Deletes an open file of a set that a failed call created.
void discard_set_file(int filno);

// Renames every file of the open set of p's IFIL (data file tfilno) to
// the IFIL's names, the stored definition following: 0 or the error, with
// every file under its old name again.
int iRENIFILz(IFILPARM *p);

// The open behind OPNIFILz and OPNRFIL: `dataopen` when the data file is
// open already under ifil->tfilno (opened by name); *chosen receives the
// data file number this call picked.
int opnifil(IFILPARM *p, bool dataopen, int *chosen);

}  // namespace zv
