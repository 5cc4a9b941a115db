// Engine instances and the instance state block.
//
// All engine state lives in one INSTGV per registered instance. The
// registered instances form a ring; zvWNGV designates the current one (or
// is null when none is registered), and every engine routine works on it.
// Fields follow the order of the instance block's definition. The state of
// the layers above core (index, key navigation, expressions, ISAM,
// maintenance, encryption) sits in rooms of fixed size: core knows only
// their sizes; each layer's state header defines its struct and the
// accessor that takes the room as it (camo_state(g) ...), at g plus a
// constant offset as any other field.
//
// Invariants:
//  1. zvWNGV is null exactly when no instance is registered.
//  2. The ring is circular through `next`; a single instance points to itself.
//  3. `id` is NUL-terminated and holds at most ZV_INSTANCE_ID_MAX characters.
#pragma once

#include <cstdint>
#include <cstddef>
#include <new>
#include <type_traits>

#include "zarvo/zarvo.h"
#include "engine/core/pagecache.h"
#include "engine/core/redirect.h"

struct FCB;
struct LOCKENT;
struct NODEBUF;

namespace zv {

// Number of internal free lists and their numbering (see pools.cpp).
constexpr int kFreeLists = 24;
constexpr int kLockLists = 16;

// Control block of one internal free list.
struct ListChunk;
struct FreeListCtl {
    ListChunk *head;        // chunk where the next element is taken
    ListChunk *cursor;      // a chunk known to have free elements, or null
    int32_t total;          // elements in all chunks
    int32_t free;           // free elements in all chunks
    int32_t chunks;         // number of chunks
    int32_t chunks_free;    // chunks with at least one free element
};

// Memory reserved at start-up for the chunks of the buffer lists (index
// buffers, data pages and their images) of large pools: one platform block,
// backed by huge pages where the system grants them, with one region per
// list, carved into chunks in order (images that are never used then stay
// untouched). Chunks that do not fit come from the plain allocation.
struct PoolArena {
    unsigned char *base;    // null when the pools have no arena
    size_t size;            // bytes asked for
    size_t next[4];         // per list region: offset of the next chunk
    size_t end[4];          //   and the end of the region
    int32_t mapped;         // 1: a platform mapping; 0: a plain allocation
    int32_t huge;           // 1: the system backs it with huge pages
    // The expansion areas of the index buffers: a block of their own, of
    // ordinary pages (see reserve_expansion_areas).
    unsigned char *expbase;
    size_t expsize;
    int32_t expmapped;
};

// Bytes of the rooms of the upper layers' states in the instance block. A
// state that outgrows its room stops the build (see fits_state_room); raise
// the number here then.
constexpr size_t kIdxStateBytes = 4928;
constexpr size_t kNavStateBytes = 4480;
constexpr size_t kExprStateBytes = 32;
constexpr size_t kIsamStateBytes = 2368;
constexpr size_t kMaintStateBytes = 576;
constexpr size_t kCamoStateBytes = 64;
// Alignment of every room: that of any plain type.
constexpr size_t kStateAlign = alignof(std::max_align_t);

// True when a layer's state T can live in a room of `bytes` bytes: it fits,
// the room's alignment serves it, and it needs no constructor or
// destructor, for the instance block is zeroed memory from calloc, freed
// with free, and its states are copied as values.
template <class T>
constexpr bool fits_state_room(size_t bytes) {
    return sizeof(T) <= bytes && alignof(T) <= kStateAlign && std::is_trivially_copyable_v<T> &&
           std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>;
}

// The state of type T that a room of the instance block holds.
template <class T, size_t N>
inline T &state_in(unsigned char (&room)[N]) {
    return *std::launder(reinterpret_cast<T *>(room));
}
template <class T, size_t N>
inline const T &state_in(const unsigned char (&room)[N]) {
    return *std::launder(reinterpret_cast<const T *>(room));
}

// Circular doubly-linked list head used for LRU lists and hash chains.
struct ListLink {
    ListLink *next;
    ListLink *prev;
};

}  // namespace zv

// Signature of an instance's optional system start hook.
typedef int (*ZvStartHook)(void);

// Page cipher hook (see the encryption subsystem): (buffer, high, low, length,
// operation, encryption start, key, key length, class).
typedef void *(*ZvPageCipherHook)(void *buf, uint32_t hi, uint32_t lo, int32_t len, int op,
                                  uint32_t encstart, void *key, int32_t keylen, int cls);

struct INSTGV {
    INSTGV *next;                 // next instance of the ring
    char id[ZV_INSTANCE_ID_MAX + 1];
    uint16_t userprof;            // profile word given to start-up
    uint16_t uerr_cod;            // error code of the last engine call
    uint16_t isamerr_cod;         // ISAM-level error code
    uint16_t sysiocod;            // OS error of the last failing file operation
    uint16_t isamfil_num;         // file number that isamerr_cod refers to
    void *rulelist;               // per-file rule entries
    uint32_t highword;            // high word beside a 32-bit call
    uint32_t opsmode;             // operation-mode word (SETOPS)
    uint32_t statusword;          // 0x00800000: rule-list lookups off
    uint32_t saveflags;           // 0x2000 while a forced save runs
    uint32_t modevalue;           // SETOPS bit 8 request value
    uint32_t started;             // 1 while the engine is started
    int32_t rule_cap, rule_count, rule_free;
    int32_t filecount;            // number of file numbers (fils); the table has filecount + 1 slots
    FCB **fcbtab;                 // fils + 1 pointers; slot 0 the instance's own block
    void *idxbuflist;             // chain of index buffers
    void *datpagelist;            // chain of data pages
    FCB *slot0;                   // set means the instance is started
    LOCKENT *lockhead[zv::kLockLists];
    LOCKENT *locktail[zv::kLockLists];
    int32_t starttime;            // seconds, at start-up
    uint32_t lockcount;           // 16
    int32_t nodesize;             // sectors x 128
    int32_t nameconv;             // name-conversion mode from the start block
    uint32_t sectshift, idxhashsize, pageshift, dathashsize;
    zv::ListLink idxlru;          // LRU list of index buffers
    zv::ListLink *idxhash;        // hash chains of index buffers
    PAGELINK datlru;              // LRU list of data pages (head: owner null)
    PAGELINK *dathash;            // hash chains of data pages (array of heads)
    // Lookasides in front of the hash chains: direct-mapped slots (a power of
    // two, mask = slots - 1) of buffers found recently. A slot is a hint,
    // used only after its buffer's file and position are checked; buffers
    // live as long as the pools, so a stale slot is merely a miss.
    NODEBUF **idxlook;
    PAGEBUF **datlook;
    uint32_t idxlookmask, datlookmask;
    // The spill image of the node buffers (see engine/core/nodebuf.h): a
    // node image with room for one element more, where a node that grows
    // past its end waits for its split; the buffer whose node is in it (null
    // when free) and that buffer's own image.
    unsigned char *idxspill;
    NODEBUF *idxspilled;
    unsigned char *idxspillhome;
    unsigned char *fillbuf;       // 2048 bytes of 0xFF
    uint32_t fillsize;
    char defext[2][8];            // ".dat", ".idx"
    int32_t bufs, dbufs;          // index buffers, data-cache pages
    int32_t specialpages;         // data-cache pages reserved for dedicated cache
    int16_t sectors;              // sector count of start-up
    uint16_t hdrversion[3];       // 0x81, 0x91, 0xA1
    char membersep;               // '!' between host and member name
    uint16_t isamlockmode;        // ISAM lock mode
    unsigned char loadkeyleafpct; // bulk-load leaf fill percentage
    uint16_t tranactive, savepoints;
    uint8_t segsavepts;           // a file recorded the savepoint of a segment definition change
    ZvStartHook starthook;        // optional system start routine
    int32_t filepermmode;         // mode bits for created files; default 0660
    void *encworkbuf;             // encryption work buffer
    uint32_t nontranfsflushoff;   // file-system flush off for files without transactions

    // ---- Start-up and engine options (startup.cpp) --------------------------
    uint32_t buildopts;           // build-option word; must be 0 to start (771, 772)
    int32_t startvals[4];         // start values 520, 8, 0xFFFF, -1 read by later modules
    int32_t startsets[2];         // settings defaulted to 1 and 2 at start-up
    int32_t startdefs[2];         // settings defaulted to 16000 and 1 at start-up
    void **ptrlist;               // per-instance pointer list of ptrslots entries
    int32_t ptrslots;             // 6 when zero at start-up
    int32_t membernamemax;        // longest member name: 128, or 255 from 1024-byte nodes
    int32_t specialpct;           // special-cache percentage given before start (1..99)

    // ---- Memory pools -------------------------------------------------------
    int32_t listblocksize;                 // bytes per chunk of lists 0..21 (2048)
    int32_t listelemsize[zv::kFreeLists];  // element size, rounded to 8
    int32_t listperchunk[zv::kFreeLists];  // elements per chunk
    zv::FreeListCtl lists[zv::kFreeLists];
    zv::PoolArena arena;                   // chunks of the buffer lists of large pools
    uint32_t encworksize;                  // recorded size of the encryption work buffer

    // ---- Settings read by other modules -------------------------------------
    int64_t rebuildmemory;        // memory the rebuild may use
    int32_t debuglevel;           // zvbpfx threshold

    // ---- Platform file layer (fileio, fileops, filenum) -----------------------
    int32_t openvlimit;           // most descriptors of non-permanent files open at once
    int32_t openvcount;           // descriptors of non-permanent files now open
    uint32_t syncdos, syncsysfiles, syncfiles;  // syncs: flushdos; 's' files and others by mbsave
    int32_t iologopts;            // I/O-log options: 8 keeps failed writes out of the status log
    ZvPageCipherHook pagehook;    // page cipher hook of the instance; null when none is installed
    char cnvprefix[256];          // file-name conversion prefix (conversion modes 2 and 3)
    char *tmpdirname;             // temporary directory, ending in "/"; null when none
    int32_t tmpdirowned;          // 1 when tmpdirname is the instance's own allocation
    uint32_t tmpnamecount;        // counter of the temporary-name draw

    // ---- Data page cache and central I/O (pagecache.cpp, centralio.cpp) -----
    zv::PageCacheState pc;
    uint32_t ioopts;              // 4: a cache read is in progress; 0x2000: sync option
    uint32_t dreads, dreadbytes;  // direct reads and bytes read directly
    uint32_t dwrites, dwritebytes;
    int32_t physopen;             // files holding a platform descriptor

    // ---- Files held by a call of the instance (filehold.cpp) -----------------
    void *holds;                  // HoldEntry array (mballc), nholds in use of capholds
    int32_t nholds, capholds;

    // ---- Named file mutexes (filemutex.cpp) ----------------------------------
    int32_t mtxcap, mtxcount;     // growable array of 272-byte entries
    void *mtxentries;

    // ---- Data and index files: open, close, creation (engine/files) -----------
    FCB *ringfront, *ringback;    // open-file ring: front = most recently used
    int32_t highfil;              // highest file number whose block was taken
    int32_t nfiles, nphysfiles, nallfiles;  // open files; holding a descriptor; with members
    uint32_t fileopt[3];          // option words read by open, close and create (core/fcb.h)
    uint16_t xtdopenmode;         // extended open mode (SetXtdFileOpenMode)
    uint8_t quietmode;            // resource errors do not stop an open
    uint8_t quietopen;            // a failed open reports 12
    uint8_t nowrite;              // open never rewrites a header
    uint8_t foundopen;            // opens and creates take names the engine made up (FoundNames)
    uint8_t rebuilding;           // a rebuild runs
    uint8_t mkdirs;               // create makes missing directories
    uint8_t stdheader;            // default create block asks for a standard header

    // ---- Fixed-length record space, record filters, transactions ------------
    uint32_t lastserh, lastserl;  // serial number of the record last allocated
    uint32_t opword;              // operation word: 0x01 add, 0x02 update, 0x04 delete, 0x08 image check
    void *evalwork;               // 49152-byte evaluation stack area (zvgetmem), kept until the stop
    int32_t evaltop;              // entries in use on that stack (0 between evaluations, at most 1024)
    int32_t evaldepth;            // nodes being run, from the root down
    int32_t exprerr;              // last expression error: the parser's or the evaluator's code
    uint32_t lockhashsize;        // lock-hash table size (zvuhash)

    // ---- Index engine: node cache, search and update state (engine/index) ---
    alignas(zv::kStateAlign) unsigned char idx_[zv::kIdxStateBytes];  // idx_state(g)

    // ---- Variable-length records and resources (engine/files) ---------------
    uint8_t restype11;            // type-11 resources may be written

    // ---- Key formation: ISAM key map and extended segment definitions -------
    void *ksglist;                // segment definitions (engine/index/ksegdef.h); position 0 unused
    int32_t nksg, capksg;         // positions in use (0 included) and allocated
    int32_t curkeylen;            // key length of the index whose condition is being evaluated

    // ---- Key navigation: sets, ranges, current keys, bulk load (engine/index) --
    alignas(zv::kStateAlign) unsigned char nav_[zv::kNavStateBytes];  // nav_state(g)

    // ---- Identity fields (engine/files/identity.cpp) -------------------------
    int64_t lastid;               // identity value last assigned
    int32_t idfldoff;             // offset of the identity field in the record just handled
    uint8_t idnomapcheck;         // mapping keeps the stored signedness and width

    // ---- Redirection, segments, superfiles, copy (redirect, segments, superfile)
    zv::RedirList redir;          // the global redirection rules
    uint8_t redirslash;           // names get their back-slashes turned into slashes
    uint8_t cpyshared;            // zvcpyfil may copy a file opened shared
    int32_t segpolicy[2];         // existing file at segment creation: [0] matching, [1] nonmatching
    void *seglist;                // segment list entries (segments.cpp), platform memory
    int32_t nseglist, capseglist;

    // ---- Expression evaluation: user-defined functions, filter callback ----
    alignas(zv::kStateAlign) unsigned char expr_[zv::kExprStateBytes];  // expr_state(g)

    // ---- ISAM layer: file sets, records, contexts, batches (engine/isam) ----
    alignas(zv::kStateAlign) unsigned char isam_[zv::kIsamStateBytes];  // isam_state(g)

    // ---- Maintenance: verification routines and counters, sort settings ----
    alignas(zv::kStateAlign) unsigned char maint_[zv::kMaintStateBytes];  // maint_state(g)

    // ---- Encryption: pending cipher of creates, page-size and replay marks ---
    alignas(zv::kStateAlign) unsigned char camo_[zv::kCamoStateBytes];  // camo_state(g)
};

// The current instance; null when none is registered.
extern "C" INSTGV *zvWNGV;

namespace zv {

// Stores code in the current instance's uerr_cod (when there is one) and
// returns it. The engine's one way of reporting an error.
inline int set_uerr(int code) {
    if (zvWNGV) zvWNGV->uerr_cod = static_cast<uint16_t>(code);
    return code;
}

}  // namespace zv
