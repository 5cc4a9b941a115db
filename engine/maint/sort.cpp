// External merge sort of fixed-length entries compared as unsigned bytes.
//
// Entries are copied once into the handle's entry buffers and sorted by
// moving pointers. When memory is full the sorted load is written to a run
// file through a 65,536-byte staging buffer; when the runs reach the buffer
// count less one, the newer runs are merged into one (an intermediate
// merge), so that the final merge never needs more buffers than exist. The
// entries come back from the sorted pointer array when everything stayed
// in memory, else from the final merge of the runs, where equal entries of
// two runs come out higher run first.
//
// Work files are engine data files named "sw" + six hexadecimal digits of
// the clock + "." + the three-digit run number, in the instance's sort
// directory (the "X" output of a merge ends its extension with an X). The
// entries of an encrypted data file hold its keys: its work files are
// created encrypted under its cipher, and their entries lie past the file's
// security record, in the encrypted part.
//
// Invariants:
//  1. Every work file is created exclusively: a file of the same name made
//     by anyone else is never opened, written, read or deleted. When run 0
//     of the drawn base name exists, the next clock value is drawn.
//  2. A run is read only up to the bytes written to it.
//  3. own[k] (ownx) is set exactly while run k (the merge output) exists
//     and was created by this handle; zvsabort deletes those files only.
//  4. R <= B - 2 between calls: a run write that makes R = B - 1 merges at
//     once.
#include "engine/maint/sort.h"

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/crypto/crypto_files.h"
#include "engine/core/fcb.h"
#include "engine/files/fixrec.h"
#include "engine/maint/maintstate.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

constexpr uint64_t kDefaultBudget = 102400000;  // bytes, when the setting is 0
constexpr int64_t kDefaultBudgetKb = 100000;
constexpr int kNameDraws = 4096;                // base names tried when run 0 exists
constexpr size_t kSegNameRoom = 250;            // longest name that automatic segments take
constexpr uint64_t kServeAhead = 8;             // entries fetched ahead of the one served

// Sort statuses (the user error is the status + 370).
enum : int {
    kNotInitAdd = 108, kAddAfterRead = 109, kNoFit = 110, kNotInitRead = 111, kNoMemory = 112,
    kNoRunLeft = 113, kRunOpen = 114, kMergeOut = 115, kTooLong = 116, kRunRead = 117, kOutClose = 120,
    kRunClose = 121, kRunDelete = 122, kRename = 123, kNewRunClose = 124, kRunCreate = 125, kWrite = 126,
    kPrefix = 127,
};

int fail(SORTHANDLE *h, int status) {
    h->status = uint16_t(status);
    set_uerr(status + 370);
    return status;
}

// A call without a handle: the status with its user error.
int no_handle(int status) {
    set_uerr(status + 370);
    return status;
}

// ---- Sorting one memory load by its pointers ------------------------------------

// The order of entries: unsigned bytes over the whole entry length, as
// memcmp gives it, compared eight bytes at a time as big-endian words (the
// last word of an entry whose length is no multiple of eight overlaps the
// one before it, whose bytes are already equal then).
class EntryOrder {
public:
    explicit EntryOrder(size_t l) : l_(l) {}
    // True when a sorts after b.
    bool greater(const unsigned char *a, const unsigned char *b) const {
        if (l_ < 8) {
            for (size_t i = 0; i < l_; i++)
                if (a[i] != b[i]) return a[i] > b[i];
            return false;
        }
        size_t i = 0;
        for (; i + 8 <= l_; i += 8) {
            const uint64_t x = word(a + i), y = word(b + i);
            if (x != y) return x > y;
        }
        if (i < l_) return word(a + l_ - 8) > word(b + l_ - 8);
        return false;
    }

private:
    static uint64_t word(const unsigned char *p) {
        uint64_t v;
        memcpy(&v, p, 8);
        if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
        return v;
    }
    size_t l_;
};

void shell_sort(unsigned char **v, size_t n, const EntryOrder &ord) {
    size_t h = 1;
    while (h <= n / 3) h = 3 * h + 1;
    for (; h >= 1; h /= 3) {
        for (size_t i = h; i < n; i++) {
            unsigned char *t = v[i];
            size_t j = i;
            while (j >= h && ord.greater(v[j - h], t)) {
                v[j] = v[j - h];
                j -= h;
            }
            v[j] = t;
        }
    }
}

void sift_down(unsigned char **v, size_t root, size_t n, const EntryOrder &ord) {
    for (;;) {
        size_t c = 2 * root + 1;
        if (c >= n) return;
        if (c + 1 < n && ord.greater(v[c + 1], v[c])) c++;
        if (!ord.greater(v[c], v[root])) return;
        std::swap(v[root], v[c]);
        root = c;
    }
}

// A binary-heap sort of the pointers (the quicksort's fallback).
void zvheapsort(unsigned char **v, size_t n, const EntryOrder &ord) {
    if (n < 2) return;
    for (size_t i = n / 2; i-- > 0;) sift_down(v, i, n, ord);
    for (size_t end = n - 1; end > 0; end--) {
        std::swap(v[0], v[end]);
        sift_down(v, 0, end, ord);
    }
}

void insertion_sort(unsigned char **v, size_t lo, size_t hi, const EntryOrder &ord) {
    for (size_t i = lo + 1; i <= hi; i++) {
        unsigned char *t = v[i];
        size_t j = i;
        while (j > lo && ord.greater(v[j - 1], t)) {
            v[j] = v[j - 1];
            j--;
        }
        v[j] = t;
    }
}

// Hoare's partition of v[lo + 1 .. hi] about the pivot v[lo] from both
// ends: the left scan stops at an entry not below the pivot, the right scan
// at one not above it, and the two are swapped. Returns j, the last
// position of the left part (v[lo + 1 .. j] not above the pivot, v[j + 1 ..
// hi] not below it, v[j] not above it). While the unscanned middle is
// large, the scans go a block at a time: each end notes which of its next
// kBlock entries must change sides, without a branch on the comparison, and
// the noted entries are swapped pairwise; the middle that is left is
// scanned entry by entry. Either way every entry is placed as the entry by
// entry scans place it on its side of the pivot.
constexpr size_t kBlock = 64;

size_t partition(unsigned char **v, size_t lo, size_t hi, const EntryOrder &ord) {
    unsigned char *const pivot = v[lo];
    size_t l = lo + 1, r = hi;
    if (r - l + 1 > 2 * kBlock) {
        unsigned char offl[kBlock], offr[kBlock];
        size_t nl = 0, nr = 0, sl = 0, sr = 0;
        while (r - l + 1 > 2 * kBlock) {
            if (nl == 0) {
                sl = 0;
                for (size_t k = 0; k < kBlock; k++) {
                    offl[nl] = static_cast<unsigned char>(k);
                    nl += !ord.greater(pivot, v[l + k]);
                }
            }
            if (nr == 0) {
                sr = 0;
                for (size_t k = 0; k < kBlock; k++) {
                    offr[nr] = static_cast<unsigned char>(k);
                    nr += !ord.greater(v[r - k], pivot);
                }
            }
            const size_t m = nl < nr ? nl : nr;
            for (size_t k = 0; k < m; k++) std::swap(v[l + offl[sl + k]], v[r - offr[sr + k]]);
            nl -= m;
            nr -= m;
            sl += m;
            sr += m;
            if (nl == 0) l += kBlock;
            if (nr == 0) r -= kBlock;
        }
    }
    // v[lo + 1 .. l - 1] are not above the pivot, v[r + 1 .. hi] not below.
    size_t i = l - 1, j = r + 1;
    for (;;) {
        do i++;
        while (i <= hi && ord.greater(pivot, v[i]));
        do j--;
        while (ord.greater(v[j], pivot));
        if (i >= j) return j;
        std::swap(v[i], v[j]);
    }
}

// Quicksort with an explicit stack of 50 ranges; too much work or too deep
// a stack hands the whole array to the heap sort.
void quick_sort(unsigned char **v, size_t n, const EntryOrder &ord) {
    struct Range {
        size_t lo, hi;
    } stack[50];
    int top = 0;
    uint64_t limit = 0;
    for (size_t m = n; m > 1; m >>= 1) limit++;
    limit *= 4 * uint64_t(n);
    uint64_t work = 0;
    stack[top++] = {0, n - 1};
    while (top > 0) {
        Range r = stack[--top];
        while (r.hi > r.lo && r.hi - r.lo + 1 >= 8) {
            const size_t len = r.hi - r.lo + 1;
            std::swap(v[r.lo], v[r.lo + (size_t(rand() % 100) * len) / 100]);
            // Median of three: lo + 1, lo and hi - 1, the median at lo.
            size_t a = r.lo + 1, b = r.lo, c = r.hi - 1;
            if (ord.greater(v[a], v[b])) std::swap(v[a], v[b]);
            if (ord.greater(v[b], v[c])) std::swap(v[b], v[c]);
            if (ord.greater(v[a], v[b])) std::swap(v[a], v[b]);
            const size_t j = partition(v, r.lo, r.hi, ord);
            std::swap(v[r.lo], v[j]);
            work += len;
            if (work > limit || top >= 49) {
                zvheapsort(v, n, ord);
                return;
            }
            // Push the larger side, go on with the smaller one.
            Range left{r.lo, j > r.lo ? j - 1 : r.lo}, right{j + 1, r.hi};
            bool lefthas = j > r.lo, righthas = j + 1 <= r.hi;
            size_t ln = lefthas ? left.hi - left.lo + 1 : 0, rn = righthas ? right.hi - right.lo + 1 : 0;
            if (ln >= rn) {
                if (lefthas) stack[top++] = left;
                if (!righthas) break;
                r = right;
            } else {
                if (righthas) stack[top++] = right;
                if (!lefthas) break;
                r = left;
            }
        }
        if (r.hi > r.lo) insertion_sort(v, r.lo, r.hi, ord);
    }
}

void sort_load(SORTHANDLE *h) {
    const size_t n = size_t(h->held);
    if (n < 2) return;
    const EntryOrder ord(h->entrylen);
    if (n < 1000) shell_sort(h->ptrs, n, ord);
    else quick_sort(h->ptrs, n, ord);
}

// ---- Work files ---------------------------------------------------------------------

void set_run_name(SORTHANDLE *h, int k) {
    char base[9];
    sort_base_name(h->clock, base);
    snprintf(h->name, sizeof h->name, "%s.%03d", base, k);
}

void set_path(SORTHANDLE *h) { snprintf(h->path, sizeof h->path, "%s%s", h->prefix, h->name); }

// The name of the merge output: the last run's name with the last digit of
// its extension replaced by X.
void set_x_name(SORTHANDLE *h, int last) {
    set_run_name(h, last);
    h->name[strlen(h->name) - 1] = 'X';
    set_path(h);
}

// Creates the work file at h->path exclusively and opens it: its file
// number, or -1 with *rc the create's code (19: the name exists).
int create_work(SORTHANDLE *h, int *rc) {
    int filno = AVLFILNUM(1);
    if (filno < 0) {
        *rc = zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 22;
        return -1;
    }
    XCREblk x{};
    x.mode = 0x00200000u | ((h->srcsize >> 32) ? 0x40u : 0u);
    x.segsize = 2000;
    x.nsegs = h->segallow;
    // Automatic segment files are named after the file with a three-digit
    // extension, which a path of more than 250 characters has no room for:
    // such a work file stays one file.
    if (strlen(h->path) > kSegNameRoom) {
        x.mode &= ~0x00200000u;
        x.segsize = 0;
        x.nsegs = 0;
    }
    // A work file's name is made up here: it is made (and reopened) by the
    // rule for such names.
    FoundNames made;
    if (h->encfil >= 0) {
        // Resources stay enabled (0x800 clear): the security record is one.
        CamoSave save{};
        if ((*rc = setencatr(&save, h->encfil)) != 0) return -1;
        *rc = CREDATX8(filno, h->path, 128, 0, 0x1000, 0, nullptr, nullptr, &x);
        rstencatr(&save);
    } else {
        *rc = CREDATX8(filno, h->path, 128, 0, 6144, 0, nullptr, nullptr, &x);
    }
    if (*rc) return -1;
    if (FCB *f = tstfnm(filno)) {
        f->hdr.ext.flmode3 |= 0x2000;
        h->base = begbytfix(f);
        if (h->encfil >= 0) {
            // Past the resources, on a cipher unit.
            const uint64_t used = join64(f->hdr.ext.numrech, f->hdr.base.numrec) + 1;
            const uint64_t unit = 2048;
            const uint64_t past = (used + unit - 1) / unit * unit;
            if (past > h->base) h->base = past;
        }
    }
    h->outpos = h->base;
    return filno;
}

// Writes the staged bytes at the write position: 0 or kWrite.
int flush_out(SORTHANDLE *h) {
    if (h->outfill == 0) return 0;
    FCB *f = tstfnm(h->outfil);
    if (!f) return kWrite;
    int32_t moved = 0;
    int rc = izvio81x(0x11, f, uint32_t(h->outpos >> 32), uint32_t(h->outpos), h->outbuf, int32_t(h->outfill),
                      &moved, 0);
    if (rc || moved != int32_t(h->outfill)) return kWrite;
    h->outpos += h->outfill;
    h->outfill = 0;
    return 0;
}

int stage(SORTHANDLE *h, const unsigned char *entry) {
    const uint64_t l = h->entrylen;
    if (h->outsize - h->outfill < l) {
        if (int rc = flush_out(h)) return rc;
    }
    memcpy(h->outbuf + h->outfill, entry, l);
    h->outfill += l;
    return 0;
}

// Opens run k (created by this handle) for reading: 0 or kRunOpen.
int open_run(SORTHANDLE *h, int k) {
    set_run_name(h, k);
    set_path(h);
    int filno = AVLFILNUM(1);
    FoundNames made;
    if (filno < 0 || OPNFIL(filno, h->path, 0x1000) != 0) return kRunOpen;
    h->runfil[k] = int16_t(filno);
    if (FCB *f = tstfnm(filno)) f->hdr.ext.flmode3 |= 0x2000;
    h->runpos[k] = h->base;
    return 0;
}

// Deletes run k, opening it first when it is closed: 0 or kRunDelete.
int delete_run(SORTHANDLE *h, int k) {
    if (h->runfil[k] < 0) {
        set_run_name(h, k);
        set_path(h);
        int filno = AVLFILNUM(1);
        FoundNames made;
        if (filno < 0 || OPNFIL(filno, h->path, 0x1000) != 0) return kRunDelete;
        h->runfil[k] = int16_t(filno);
    }
    int rc = DELFIL(h->runfil[k]);
    h->runfil[k] = -1;
    if (rc) return kRunDelete;
    h->own[k] = 0;
    return 0;
}

// Fills run k's buffer from its read position, no further than the bytes
// written to it; a run with nothing left is exhausted.
int refill(SORTHANDLE *h, int k) {
    const uint64_t l = h->entrylen;
    const uint64_t end = h->base + h->runlen[k];
    uint64_t want = (h->bufsize / l) * l;
    if (h->runpos[k] + want > end) want = end - h->runpos[k];
    h->runheld[k] = 0;
    if (want == 0) {
        h->runcur[k] = nullptr;
        return 0;
    }
    FCB *f = tstfnm(h->runfil[k]);
    if (!f) return kRunRead;
    int32_t got = 0;
    int rc = izvio81x(0x10, f, uint32_t(h->runpos[k] >> 32), uint32_t(h->runpos[k]), h->bufs[k], int32_t(want),
                      &got, 0);
    if (rc || got != int32_t(want)) return kRunRead;
    h->runpos[k] += want;
    h->runheld[k] = want;
    h->eor[k] = h->runpos[k] >= end ? 1 : 0;
    h->runcur[k] = h->bufs[k];
    return 0;
}

// Moves run k past its current entry.
int advance(SORTHANDLE *h, int k) {
    const uint64_t l = h->entrylen;
    unsigned char *next = h->runcur[k] + l;
    if (uint64_t(next - h->bufs[k]) + l <= h->runheld[k]) {
        h->runcur[k] = next;
        return 0;
    }
    if (h->eor[k]) {
        h->runcur[k] = nullptr;
        return 0;
    }
    return refill(h, k);
}

// The run whose current entry is the smallest (the higher run on a tie),
// or -1 when every run is exhausted.
int choose(SORTHANDLE *h) {
    const EntryOrder ord(h->entrylen);
    int best = -1;
    for (int k = int(h->mergestart) - 1; k < int(h->nruns); k++) {
        if (!h->runcur[k]) continue;
        if (best < 0 || !ord.greater(h->runcur[k], h->runcur[best])) best = k;
    }
    return best;
}

// Opens runs F - 1 .. R - 1 and reads the first piece of each.
int merge_start(SORTHANDLE *h) {
    for (int k = int(h->mergestart) - 1; k < int(h->nruns); k++) {
        h->eor[k] = 0;
        h->runcur[k] = nullptr;
        if (int rc = open_run(h, k)) return rc;
        if (int rc = refill(h, k)) return rc;
    }
    h->merging = 1;
    return 0;
}

// Closes and deletes the merged runs.
int merge_end(SORTHANDLE *h) {
    int first = 0;
    for (int k = int(h->mergestart) - 1; k < int(h->nruns); k++) {
        int rc = delete_run(h, k);
        if (rc && !first) first = rc;
    }
    h->merging = 0;
    return first;
}

// Merges runs F - 1 .. R - 1 into one, which becomes run F - 1.
int intermediate_merge(SORTHANDLE *h) {
    h->mergestart = (h->mergestart + 1 == h->nruns) ? 1 : h->mergestart + 1;
    const int first = int(h->mergestart) - 1, last = int(h->nruns) - 1;
    h->intermediate = 1;
    set_x_name(h, last);
    int rc = 0;
    int filno = create_work(h, &rc);
    if (filno < 0) return kMergeOut;
    h->ownx = 1;
    h->outfil = int16_t(filno);
    h->outfill = 0;
    uint64_t written = h->outpos;
    if (int e = merge_start(h)) return e;
    for (int k; (k = choose(h)) >= 0;) {
        if (int e = stage(h, h->runcur[k])) return e;
        if (int e = advance(h, k)) return e;
    }
    if (int e = flush_out(h)) return e;
    written = h->outpos - written;
    if (int e = merge_end(h)) return e;
    // The output becomes run F - 1 under its name.
    set_run_name(h, first);
    set_path(h);
    if (zvRENFIL(h->outfil, h->path) != 0) return kRename;
    h->ownx = 0;
    h->own[first] = 1;
    rc = CLSFIL(h->outfil, 0);
    h->outfil = -1;
    if (rc) return kOutClose;
    h->runlen[first] = written;
    h->nruns = uint16_t(first + 1);
    h->intermediate = 0;
    h->merges++;
    return 0;
}

// Writes the sorted memory load as the next run (nothing when everything
// fits in memory at the first read), then empties memory.
int write_run(SORTHANDLE *h) {
    sort_load(h);
    if (h->retrieving && h->nruns == 0) {
        h->allmem = 1;
        return 0;
    }
    if (h->held > 0) {
        const int k = h->nruns;
        if (k >= kSortMaxRuns) return kRunCreate;
        int rc = 0, filno = -1;
        for (int draw = 0; draw < kNameDraws; draw++) {
            set_run_name(h, k);
            set_path(h);
            filno = create_work(h, &rc);
            if (filno >= 0 || rc != 19 || k != 0) break;
            h->clock = (h->clock + 1) & 0xFFFFFFu;  // run 0 exists: the next base name
        }
        if (filno < 0) return kRunCreate;
        h->own[k] = 1;
        h->nruns++;
        h->outfil = int16_t(filno);
        h->outfill = 0;
        const uint64_t start = h->outpos;
        for (uint64_t i = 0; i < h->held; i++) {
            if (int e = stage(h, h->ptrs[i])) return e;
        }
        if (int e = flush_out(h)) return e;
        h->runlen[k] = h->outpos - start;
        rc = CLSFIL(h->outfil, 0);
        h->outfil = -1;
        if (rc) return kNewRunClose;
        if (h->nruns == h->nbufs - 1) {
            if (int e = intermediate_merge(h)) return e;
        }
    }
    h->held = 0;
    h->fill = 0;
    h->curbuf = h->bufs[0];
    h->nextbuf = 1;
    return 0;
}

void release_buffers(SORTHANDLE *h) {
    free_work_block(h->ptrs, size_t(h->ptrbytes), h->ptrsmapped);
    mbfree(h->outbuf);
    for (uint32_t i = 0; i < kSortMaxRuns; i++) {
        free_work_block(h->bufs[i], size_t(h->bufsize), h->bufmapped[i]);
        h->bufs[i] = nullptr;
    }
    h->ptrs = nullptr;
    h->outbuf = nullptr;
}

// Allocates the buffers for capacity n and b buffers: true, or false with
// nothing kept. The pointers and the entries are read in no order while the
// load is sorted and served: large ones are work blocks.
bool allocate(SORTHANDLE *h, uint64_t n, uint32_t b) {
    const uint64_t l = h->entrylen;
    const uint64_t each = (n / b + 1) * l;
    if (n > SIZE_MAX / sizeof(unsigned char *) || each > SIZE_MAX) return false;
    h->bufsize = each;
    h->ptrbytes = n * sizeof(unsigned char *);
    h->outbuf = static_cast<unsigned char *>(mballc64(kSortOutBuf));
    h->ptrs = static_cast<unsigned char **>(work_block(size_t(h->ptrbytes), &h->ptrsmapped));
    bool ok = h->outbuf && h->ptrs;
    for (uint32_t i = 0; ok && i < b; i++) {
        h->bufs[i] = static_cast<unsigned char *>(work_block(size_t(each), &h->bufmapped[i]));
        ok = h->bufs[i] != nullptr;
    }
    if (!ok) {
        release_buffers(h);
        return false;
    }
    return true;
}

// File numbers of the instance that no file uses now.
uint32_t free_file_numbers() {
    uint32_t n = 0;
    for (int i = 0, end = fcb_table_size(zvWNGV); i < end; i++)
        if (TSTFILNUM(i) == 0) n++;
    set_uerr(0);
    return n;
}

}  // namespace

void sort_base_name(uint32_t clock, char out[9]) {
    static const char digits[] = "0123456789ABCDEF";
    out[0] = 's';
    out[1] = 'w';
    for (int i = 0; i < 6; i++) out[2 + i] = digits[(clock >> (4 * i)) & 0xF];
    out[8] = '\0';
}

SORTHANDLE *zvsinit(uint16_t entrylen, int bufcount, FCB *datafcb, int) {
    INSTGV *g = zvWNGV;
    if (!g) return nullptr;
    uint32_t b = bufcount <= 0 || bufcount > kSortMaxRuns ? kSortMaxRuns : uint32_t(bufcount);
    // A merge holds a file number per run and one for its output: the fan-in
    // is kept within the numbers free now, and a merge needs at least two
    // runs and its output.
    const uint32_t numbers = free_file_numbers();
    if (b > numbers) b = numbers;
    if (b < 3) b = 3;
    auto *h = static_cast<SORTHANDLE *>(zvgetmem(int32_t(sizeof(SORTHANDLE))));
    if (!h) {
        set_uerr(kNoMemory + 370);
        return nullptr;
    }
    h->outfil = -1;
    h->encfil = -1;
    for (int16_t &f : h->runfil) f = -1;
    h->entrylen = entrylen;
    h->outsize = kSortOutBuf;
    if (entrylen == 0) {
        fail(h, kTooLong);
        zvsfree(h);
        return nullptr;
    }
    // Segments each work file may grow into, from the size of the source.
    if (datafcb) {
        const FCB *pf = physical_fcb(datafcb);
        if (pf && pf->cipherclass >= 2) h->encfil = int16_t(pf->filno);
        uint32_t hi = 0;
        uint32_t lo = zvgsize81(&hi, physical_fcb(datafcb));
        if (!(hi == 0xFFFFFFFFu && lo == 0xFFFFFFFFu)) h->srcsize = join64(hi, lo);
    }
    const uint64_t q = h->srcsize / 2097152000ull;
    h->segallow = h->srcsize == 0 ? 10 : q > 0xFFFFFFFFull ? 200 : q == 0 ? 4 : uint32_t(2 * q);
    const size_t plen = strnlen(maint_state(g).sortdir, sizeof maint_state(g).sortdir);
    if (plen > size_t(kSortPrefixMax)) {
        fail(h, kPrefix);
        zvsfree(h);
        return nullptr;
    }
    memcpy(h->prefix, maint_state(g).sortdir, plen);
    h->clock = uint32_t(zvtime()) & 0xFFFFFFu;
    set_run_name(h, 1);
    set_path(h);
    // How many entries to expect.
    bool known = datafcb != nullptr;
    uint64_t e = 0;
    if (known) {
        const FILEHDR &fh = datafcb->hdr.base;
        if (datafcb->kind == kKindFixed && !(datafcb->hdr.ext.flmode2 & kFlmode2PartHost)) {
            e = join64(datafcb->hdr.ext.numenth, fh.nument);
        } else {
            const uint64_t unit = uint64_t(datafcb->reclen) + (datafcb->kind == kKindVariable ? 10 : 0);
            e = unit ? h->srcsize / unit : 0;
        }
        if (e == 0) e = 1;
    }
    h->estimate = e;
    if (g->rebuildmemory == 0) g->rebuildmemory = kDefaultBudgetKb;
    const uint64_t budget = g->rebuildmemory > 0 ? uint64_t(g->rebuildmemory) * 1024 : kDefaultBudget;
    uint64_t n = budget / (uint64_t(entrylen) + 8);
    if (n < 1) n = 1;
    for (;;) {
        if (known && n > e) {
            n = e;
            b = 3;
        } else if (known) {
            uint64_t want = e / n + 3;
            if (want < b) b = uint32_t(want);
        }
        if (allocate(h, n, b)) break;
        if (n < 2) {
            fail(h, kNoMemory);
            zvsfree(h);
            return nullptr;
        }
        n /= 2;
    }
    h->capacity = n;
    h->nbufs = b;
    h->lastbuf = b - 1;
    h->curbuf = h->bufs[0];
    h->nextbuf = 1;
    h->fill = 0;
    h->initialised = 1;
    return h;
}

int zvsadd(SORTHANDLE *h, const void *entry) {
    if (!h) return no_handle(kNotInitAdd);
    if (!h->initialised) return fail(h, kNotInitAdd);
    if (h->retrieving) return fail(h, kAddAfterRead);
    const uint64_t l = h->entrylen;
    for (;;) {
        if (h->held < h->capacity) {
            if (h->bufsize - h->fill >= l) {
                unsigned char *p = h->curbuf + h->fill;
                memcpy(p, entry, l);
                h->ptrs[h->held++] = p;
                h->fill += l;
                return 0;
            }
            if (h->nextbuf <= h->lastbuf) {
                h->curbuf = h->bufs[h->nextbuf++];
                h->fill = 0;
                continue;
            }
            if (h->held == 0) return fail(h, kNoFit);
        }
        if (int rc = write_run(h)) return fail(h, rc);
    }
}

int zvsval(SORTHANDLE *h, void *out) {
    if (!h) return no_handle(kNotInitRead);
    if (!h->initialised) return fail(h, kNotInitRead);
    const size_t l = h->entrylen;
    const bool first = !h->retrieving;
    h->retrieving = 1;
    if (first) {
        if (int rc = write_run(h)) return fail(h, rc);
        h->flushed = 1;
    }
    if (h->allmem) {
        if (h->nextret < h->held) {
            // The entries come back in no order of their addresses: the
            // one a few calls on is fetched into the cache meanwhile.
            if (h->nextret + kServeAhead < h->held) __builtin_prefetch(h->ptrs[h->nextret + kServeAhead]);
            memcpy(out, h->ptrs[h->nextret++], l);
            return 0;
        }
        release_buffers(h);
        zvsfree(h);
        return 1;
    }
    int k;
    if (first) {
        h->mergestart = 1;
        if (int rc = merge_start(h)) return fail(h, rc);
    } else if (h->merging) {
        if (int rc = advance(h, int(h->lastrun))) return fail(h, rc);
    }
    k = h->merging ? choose(h) : -1;
    if (k < 0) {
        if (h->merging) {
            if (int rc = merge_end(h)) return fail(h, rc);
        }
        h->done = 1;
        release_buffers(h);
        zvsfree(h);
        return 1;
    }
    memcpy(out, h->runcur[k], l);
    h->lastrun = uint32_t(k);
    return 0;
}

int zvsabort(SORTHANDLE *h) {
    if (!h) return 0;
    INSTGV *g = zvWNGV;
    const uint16_t sys = g ? g->sysiocod : 0;
    int status = h->status;
    if (h->outfil >= 0) {
        CLSFIL(h->outfil, 0);
        h->outfil = -1;
    }
    bool failed = false;
    for (int k = 0; k < kSortMaxRuns && !failed; k++) {
        if (!h->own[k]) continue;
        if (delete_run(h, k) != 0) failed = true;
    }
    if (h->ownx && !failed) {
        set_x_name(h, int(h->nruns) - 1);
        int filno = AVLFILNUM(1);
        FoundNames made;
        if (filno < 0 || OPNFIL(filno, h->path, 0x1000) != 0 || DELFIL(filno) != 0) failed = true;
        else h->ownx = 0;
    }
    if (failed) status = 101;
    release_buffers(h);
    zvputmem(h);
    set_uerr(0);
    if (g) g->sysiocod = sys;
    return status;
}

int zvsfree(SORTHANDLE *h) {
    if (!h) return 0;
    int status = h->status;
    zvputmem(h);
    return status;
}

}  // namespace zv
