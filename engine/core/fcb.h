// The file control block (FCB) of one file number.
//
// One FCB per file number of an instance, taken from free list 21 on first
// use and kept for the life of the engine. It begins with the host-order copy
// of the whole file header (512 bytes), followed by the open-file state.
// It lives in the engine core because the platform layer, the central I/O
// and the page cache read and write files through it; the subsystems above
// keep their per-file state in its sections, each marked with its owner,
// and reach their own structures through pointers to forward-declared types.
// The file-number table is in fcbtab.cpp; the open-file services are the
// file layer's (engine/files/fcbops.h).
//
// Invariants:
//  1. state is one of 'n' free, 'y' open, 'v' open with its descriptor
//     released by a virtual close, 'w' open, 'm' reserved index member,
//     'd' unusable, 's' system file opened at low level.
//  2. fd is -1 when closed, -2 for a memory file, else a platform handle.
//  3. hostfcb points to the block itself for a plain file.
#pragma once

#include <cstdint>

#include "engine/core/filehdr.h"
#include "zarvo/zarvo.h"

struct DEFBLK;
struct IDBLK;
struct PARTDEF;
struct ISAMCTX;
struct KEYBUFSET;

// Partition-key map of an index of a partitioned set (engine/isam/partkey.cpp):
// where the pieces of the partition key lie in this index's key. Built
// once per open, for an index that holds every partition-key segment
// outside its lead (key type bit 0x40).
struct PartKeyMap {
    uint8_t state;          // 0 not built yet, 1 the index has none, 2 built
    uint8_t pieces;         // partition-key segments mapped
    uint8_t highseg;        // highest segment of this index used, plus 1
    uint16_t poff[16];      // per piece: offset in the partition key
    uint16_t len[16];       //  its length
    uint16_t xoff[16];      //  its offset in this index's key
};

// File kinds kept in FCB::kind (same numbers as the header's file type).
enum : uint8_t { kKindFixed = 0, kKindIndex = 1, kKindVariable = 2 };

// State flags (FCB::stflags).
constexpr uint32_t kStRefreshKeys = 0x08;        // refresh current key images before update
constexpr uint32_t kStFirstGrowth = 0x80;        // first growth done
constexpr uint32_t kStMarkUnknown = 0x100;       // a failed header write may have left the update mark on disk
constexpr uint32_t kStNoReread = 0x8000;         // header not reread while update flag set
constexpr uint32_t kStKeepOpen = 0x10000;        // held open beyond its last close (FCB::keepstate)
constexpr uint32_t kStForceDisk = 0x20000;       // force to disk at close and after growth
constexpr uint32_t kStEncrypted = 0x40000;       // file is encrypted
constexpr uint32_t kStNoSerial = 0x00200000;     // new records keep the serial segment they carry (PUTHDR 23)
constexpr uint32_t kStKeepOnCleanup = 0x2000000; // keep the file when a create is cleaned up
// Open flags (FCB::opflags).
constexpr uint32_t kOpClosing = 0x10;
constexpr uint32_t kOpNoCache = 0x40;
constexpr uint32_t kOpNoUpdate = 0x1000;
constexpr uint32_t kOpMember = 0x20000;          // superfile member or member index
// Create flags (FCB::crflags).
constexpr uint32_t kCrBusy = 0x04;
constexpr uint32_t kCrMakeDirs = 0x8000000;
constexpr uint32_t kCrOption = 0x40000000;

struct FCB {
    FILEHDRALL hdr;             // host-order copy of the header
    uint64_t updcount;          // tstupd calls since open
    uint32_t rhdrsize1;         // record header size: 0, 10, 18 or 22
    uint32_t rhdrsize2;         // 22 or 30
    uint32_t pendtranh, pendtranl;  // pending index high transaction number
    uint32_t stflags;           // state flags
    uint32_t opflags;           // open flags
    uint32_t crflags;           // create flags
    KEYBUFSET *keybufs;         // current-node and key-buffer state of an index
    FCB *hostfcb;               // host index or superfile host; itself when plain
    FCB *nextmember;            // member chain
    FCB *sflink;                // member's host, or host's directory index
    FCB *ringnext, *ringprev;   // open-file ring
    int32_t fd;                 // -1 closed, -2 memory file
    // Encryption
    int32_t cipherclass;        // 0 none; 2 or more encrypted
    uint32_t encstart;          // clear prefix length
    void *cipherkey;
    int32_t cipherkeylen;
    void *ciphercontext;
    // Memory file
    void **membuckets;
    uint32_t nmembuckets;
    uint32_t nmemrecs;
    uint32_t nodesize;          // node size in bytes
    uint32_t hashshift;         // cache hash shift
    int32_t dedquota;           // dedicated cache pages allowed
    int32_t dedcount;           // dedicated cache pages held
    uint16_t filno;             // file number
    uint8_t dupmode1, dupmode2; // duplicate handling derived from the flag
    char state;                 // see invariants
    uint8_t kind;               // 0 fixed data, 1 index, 2 variable data
    uint16_t reclen;            // record length
    uint32_t hwoffh, hwoffl;    // highest offset written (bytes that reached the file)
    uint32_t drawseed;          // seed of the per-file draw
    uint8_t drawlimit;          // the draw is limited by the header counters
    DEFBLK *defblk;             // definition block
    uint8_t nospcidx;           // space-management index switched off
    char name[256];             // file name, NUL-terminated

    // ---- Platform file layer --------------------------------------------------
    uint16_t opnmode;           // open mode: kOpn* bits below
    uint8_t wrlock;             // lock the descriptor holds: kLock* below (the descriptor's block)
    uint8_t outdated;           // another open changed the file while this block's descriptor was
                                // released (a virtual close): its header and caches are not the
                                // file's, and its changes are refused until the close (the
                                // descriptor's block)
    uint8_t fileidset;          // filedev and fileino are known
    uint8_t foundname;          // opened or created under a name the engine made up: every
                                // reopen (a virtual close's) takes it by the same rule
    uint64_t filedev, fileino;  // device and inode of the open file (a file's own block)

    // ---- Open, close and creation (engine/files) -----------------------------
    uint32_t hposh, hposl;      // where this file's header lies (members: in the host)
    void *cidxtab;              // conditional-index table of a data file

    // ---- Growth and memory files (engine/files/growth.cpp, memfile.cpp) -------
    uint32_t nmemrecsmax;       // most records a memory file has held at once
    uint64_t seglimit;          // end limit of the last segment, page-rounded
    uint8_t seglimitset;        // seglimit has been computed

    // ---- Fixed-length record space and record filters (engine/files) -------
    unsigned char *cnvmap;      // record conversion map (schema-map format); null: none
    void *fltr;                 // record filter: parse tree or callback filter; null: none
                                // (an index file: its in-memory condition, header flag 0x20)
    int32_t fltrkind;           // 0 expression, 1 or 5 callback filter
    char *fltrtext;             // an index file: the text of its in-memory condition; null: none
    uint32_t newrech, newrecl;  // position the latest NEWREC handed out; 0: none

    // ---- Index engine (engine/index) ------------------------------------------
    uint32_t curnodh, curnodl;  // current node of the index (0: none)
    int32_t curelm;             // current element (0: none)
    int32_t nhdrsiz;            // node header size: 18, or 28 with 8-byte positions
    int32_t leafcap, nleafcap;  // element-area capacity of leaves (+52) and non-leaves (+54)
    int32_t elmlimit;           // element-count limit of leaves (+94)
    int32_t cmpunit;            // count unit of compressed keys (+272, 1 when 0)
    uint8_t noremove;           // 1: empty leaves stay in the tree, deleted nodes are not reused

    // ---- Variable-length records and resources (engine/files) ----------------
    FCB *rposidx;               // record-position index linked by the ISAM layer; null: none

    // ---- Key formation and definition blocks (engine/index) -------------------
    unsigned char *schmap;      // data file: record schema map (16-byte head, 6-byte entries); null: none
    void *schplaces;            // data file: where each field of schmap lies while the fields before
                                //   it are fixed (SchemaPlaces, segmode.h); null: none; made and
                                //   freed with schmap
    uint16_t *altseq;           // index: alternate collating sequence (256 entries); null: none
    int32_t *ksegtab;           // index: definition position per segment (16 entries); null: none
    int32_t ksegdflt;           // definition position for the whole index (data file: for its indexes); 0: none
    int32_t serpos;             // data file: 1-based offset of the serial field; 0 unknown, -1 none

    // ---- Key navigation (engine/index): key range, current ISAM record --------
    void *rngblk;               // key range of an index (keyrange.cpp); null: none
    uint32_t isamposh, isamposl;  // current ISAM record of a data file (0, 0: none)

    // ---- Identity fields (engine/files/identity.cpp) ---------------------------
    IDBLK *idblk;               // identity block of a data file; null: none
    unsigned char idkept[8];    // identity field of the record last read
    int8_t idkeptlen;           // its width; 0: nothing kept
    uint8_t idmode;             // kIdMode* bits (identity.h)

    // ---- Segmented files and superfiles (segments.cpp, superfile.cpp) ----------
    struct SegEntry *segs;      // one entry per defined segment; null: none
    int32_t nsegalloc;          // entries of segs
    uint32_t segsatopen;        // segments present when the file was opened
    uint8_t segrefused;         // a refusal to create a segment was logged
    int32_t segsavept;          // 1 + the savepoint of the open transaction's definition
                                // change (SETSEGz); 0: none, cleared by the transaction's end
    uint16_t dirmode;           // a host's open directory: its file mode as stored (+48)

    // ---- ISAM layer (engine/isam) ----------------------------------------------
    uint16_t isamdat;           // index: 1 + the data file number it serves; 0: none
    uint8_t keepstate;          // keep-open state beside kStKeepOpen: 1 or 2, lowered by zvundokepopn
    int32_t srllen;             // data file: serial segment length (serpos the offset); negative: a schema field not yet resolved

    // ---- ISAM records: the saved copy of the current ISAM record (engine/isam) ----
    uint32_t isamsavh, isamsavl;  // saved position (the add and rewrite paths put the new one here)
    uint32_t isamflags;         // kIsamKeysInvalid: the current record's key images are not valid
    uint32_t isamsavflags;      // the same bit of the saved copy
    unsigned char idalt[8];     // saved identity image
    int8_t idaltlen;            // its width; 0: none

    // ---- ISAM contexts (engine/isam/context.cpp) ---------------------------------
    ISAMCTX *actctx;            // data file: the context whose state the file holds now; null: none

    // ---- Partitioned files (engine/isam/partition*.cpp) ---------------------------
    PARTDEF *partdef;           // host data file: its partition definition while open; null: none
    FCB *parthost;              // member data file opened by its host: the host; null otherwise
    PartKeyMap partkmap;        // index of a partitioned set: its partition-key map
};

// Platform file layer: open-mode bits (FCB::opnmode) and the flag bits it reads.
constexpr uint16_t kOpnPermanent = 0x02;         // descriptor kept; outside the descriptor budget
constexpr uint16_t kOpnReadOnly = 0x08;          // opened read only
constexpr uint16_t kOpnNoConvert = 0x800;        // no file-name conversion
constexpr uint32_t kCrDeferSync = 0x800;         // crflags: synced only by a forced save
constexpr uint32_t kCrNoSave = 0x8000;           // crflags: never synced by a save
constexpr uint32_t kStNoSave = 0x80000;          // stflags: never synced by a save
constexpr uint32_t kStSizeNoted = 0x20000000;    // stflags: size-check message written once
constexpr uint32_t kOpNoSizeCheck = 0x200040;    // opflags: either bit: record counters not confirmed
constexpr uint32_t kFlmode2DeferSync = 0x2000;   // flmode2: synced only by a forced save
// The lock a block's descriptor holds against other opens of the file
// (FCB::wrlock; for a member, its host's block says it).
constexpr uint8_t kLockShared = 0;   // shared, or none (memory and system files)
constexpr uint8_t kLockOpen = 1;     // exclusive since the open or the create
constexpr uint8_t kLockWriter = 2;   // exclusive since the first change through a shared open

// ---- Superfiles (engine/files/superfile.cpp) ---------------------------------
// The block whose file holds the bytes of f: a superfile member (and an
// index member of one, and a host's directory) lives in its superfile host.
inline FCB *physical_fcb(FCB *f) {
    for (int i = 0; i < 3 && f; i++) {
        uint16_t st = f->hdr.base.sfiltyp;
        if (st == 0xFFFF || !(st & 2) || !f->hostfcb || f->hostfcb == f) break;
        f = f->hostfcb;
    }
    return f;
}

// True for a memory file (extended flags bit 31).
inline bool fcb_is_memory(const FCB *f) { return (f->hdr.ext.flmode2 & kFlmode2Memory) != 0; }

// ---- Open, close and creation (engine/files) ---------------------------------
// Open-mode bits (OPNFIL's mode, kept in the header's file mode +48).
// (0x0002 permanent, 0x0008 read only and 0x0800 no name conversion are the
// platform layer's kOpn* bits above.)
constexpr uint16_t kOpenShared = 0x0001;
constexpr uint16_t kOpenVarlen = 0x0004;         // must be a variable-length file
constexpr uint16_t kOpenMirrorless = 0x2000;     // accept a mirrored file
constexpr uint16_t kOpenDamaged = 0x4000;        // accept the update flag and counter mismatch
// Bits of the instance's option words INSTGV::fileopt[0..2].
constexpr uint32_t kOpt1SchemaSegments = 0x100;  // bit 8: a record schema stored (type 0) in a variable-length
                                                  // file marks its indexes' segments on the variable part
constexpr uint32_t kOpt1OpenMark = 0x200;         // cleared by every OPNFIL
constexpr uint32_t kOpt1KeepWord10 = 0x8000;      // create keeps XCREblk word 10 bit 0x800
constexpr uint32_t kOpt1KeyTypeBits = 0xC000;     // index keeps key type bits 0x60
constexpr uint32_t kOpt1CloseCheck = 0x10000;
constexpr uint32_t kOpt1LargeNodes = 0x200000;    // nodes beyond the engine's node size
constexpr uint32_t kOpt2Mark = 0x10000000;        // bit 28: mark files (create flag 0x40000000)
constexpr uint32_t kOpt3Mark = 0x1;
constexpr uint32_t kOpt3CloseCheck = 0x4000;
constexpr uint32_t kOpt3NoCheck = 0x10000;

// The block of a file number, taken from the free list when the slot is
// empty; null with 22 (bad number) or 603 (no memory). A new block is in
// state 'n'.
FCB *zvgetfcb(int filno);
// The block of an open file ('y', 'v' or 'w') after clearing the user error;
// null with 22 (47 when no table), 26 free, 46 reserved member, 643
// unusable.
FCB *tstfnm(int filno);
// tstifnm (the same lookup, exported) is declared in zarvo.h.

namespace zv {

// Clears a block for a new file, keeping its file number; its state is 'n'.
void fcb_reset(FCB *fcb);
// True when the number lies in the file table of the current instance.
bool filno_in_table(int filno);
// Grows the file table so that number `last` fits: 0 or 22.
int grow_table_for(int last);

}  // namespace zv
