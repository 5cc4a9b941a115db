// The on-disk file header, as held in host order in memory.
//
// Every data file, index file and superfile member carries a 128-byte base
// part (FILEHDR) and, with extended options, an extended part (FILEHDRX) of
// 128 or 384 bytes right after it. On disk every integer is little-endian;
// the codec in header_codec.h converts field by field. In memory the two
// parts keep the disk offsets, so the layout below is fixed and checked.
//
// Base part (offset from the header position):
//   OFFSET SIZE FIELD
//     0    4   phyend      last physical byte (low word)
//     4    4   delstk      delete stack head (low word)
//     8    4   numrec      last byte used (low word)
//    12    4   reshdr      resource header position (low word)
//    16    4   sfmember    host: last member number; member: area chain head
//    20    4   sernum      serial number (low word)
//    24    4   nument      active entries (low word)
//    28    4   root        index root position (low word)
//    32    4   fileid      file id number
//    36    4   servid      server id number
//    40    2   verson      configuration version 0x81 / 0x91 / 0xA1
//    42    2   nodsiz      node size (units of 16384 when 1..127)
//    44    2   reclen      record length (minimum for variable length)
//    46    2   extsiz      extend step in bytes (16-bit)
//    48    2   flmode      file mode at creation
//    50    2   flpmode     permanent mode flags (mode & 0x86F4)
//    52    2   maxkbl      max bytes per leaf node
//    54    2   maxkbn      max bytes per non-leaf node
//    56    1   updflg      update flag: 0, 0xFF changed, 'R' rebuild, 'c' refused
//    57    1   ktype       key type
//    58    1   autodup     duplicate flag
//    59    1   deltyp      delete type
//    60    1   keypad      key padding byte
//    61    1   flavor      engine flavor at creation
//    62    1   align       engine alignment at creation
//    63    1   ptrwidth    engine pointer width at creation
//    64    2   clstyp      file type: 0 fixed data, 1 index, 2 variable data
//    66    2   keylen      key length
//    68    2   nmem        additional index members (host index)
//    70    2   kmem        index member number
//    72    4   lanchr      leaf anchor (low word)
//    76    4   supmbr      superfile member number
//    80    4   hdrpos      header's own position (low word)
//    84    4   sfdirpos    superfile directory position
//    88    4   cretime     creation time
//    92    2   sfiltyp     superfile type: 0 plain, 1 host, 2 member, 6 directory
//    94    2   node4       node size / 4, or leaf reservation
//    96    2   maxnamlen   maximum name length
//    98    2   hdrflags    header flags (0x02 extended, 0x08 segmented, 0x40 8-byte offsets)
//   100    4   hdrflags2   header flags 2 (0x100: 384-byte extended part)
//   104    4   hightran    index high transaction number (low word)
//   108    4   updcnt      update counter
//   112    4   clstime     time of the last clean close
//   116    4   secres      security-resource position of an encrypted file
//                          (low word; 0: none)
//   120    8   spare1      two words, zero at creation
#pragma once

#include <cstddef>
#include <cstdint>

struct FILEHDR {
    uint32_t phyend;
    uint32_t delstk;
    uint32_t numrec;
    uint32_t reshdr;
    int32_t sfmember;
    uint32_t sernum;
    uint32_t nument;
    uint32_t root;
    uint32_t fileid;
    uint32_t servid;
    uint16_t verson;
    uint16_t nodsiz;
    uint16_t reclen;
    uint16_t extsiz;
    uint16_t flmode;
    uint16_t flpmode;
    uint16_t maxkbl;
    uint16_t maxkbn;
    uint8_t updflg;
    uint8_t ktype;
    uint8_t autodup;
    uint8_t deltyp;
    uint8_t keypad;
    uint8_t flavor;
    uint8_t align;
    uint8_t ptrwidth;
    uint16_t clstyp;
    uint16_t keylen;
    uint16_t nmem;
    uint16_t kmem;
    uint32_t lanchr;
    uint32_t supmbr;
    uint32_t hdrpos;
    uint32_t sfdirpos;
    uint32_t cretime;
    uint16_t sfiltyp;
    uint16_t node4;
    uint16_t maxnamlen;
    uint16_t hdrflags;
    uint32_t hdrflags2;
    uint32_t hightran;
    uint32_t updcnt;
    uint32_t clstime;
    uint32_t secres;
    uint32_t spare1[2];
};

// Extended part; offsets are from the header start (extended offset 0 is
// header +128). Its 384-byte form is held whole in memory.
//   OFFSET SIZE FIELD
//   128    4   phyendh     last physical byte, high word
//   132    4   delstkh     delete stack, high word
//   136    4   numrech     last byte used, high word
//   140    4   reshdrh     resource header, high word
//   144    4   sfmemberh   high word of +16
//   148    4   sernumh     serial number, high word
//   152    4   nummenth    active entries, high word
//   156    4   rooth       index root, high word
//   160    8   spare2      two words
//   168    4   extsiz32    32-bit extend size
//   172    4   firstext    first extent size
//   176    4   flmode2     extended feature flags
//   180    4   segsizh     segment size, high word
//   184    4   segsizl     segment size, low word
//   188    4   maxsizh     maximum file size, high word
//   192    4   maxsizl     maximum file size, low word
//   196    4   segdefsiz   size of the segment-definition area
//   200    4   lanchrh     leaf anchor, high word
//   204    4   nsegs       number of segments
//   208    4   hdrposh     header position, high word
//   212    4   xmark       extended-header mark 0x36353536 ("6556")
//   216    4   secresh     security-resource position, high word
//   220    4   segmented   1 for segmented files
//   224    4   crew15      create block word 15 / partition shift
//   228    4   flmode3     further feature flags
//   232    4   hightranh   index high transaction number, high word
//   236    4   updcnt2     copy of the update counter
//   240    4   spare4
//   244    4   crew7       extended create option word 7
//   248   16   spare5
//   264    4   crew9       extended create option word 9
//   268    4   spincnt     spin counter
//   272    4   cmpcnt      count bytes of a compressed key over 255 bytes
//   276    4   levels      index level count (-1 not kept, -2 unknown)
//   280    4   distl       distinct key values, low word
//   284    4   disth       distinct key values, high word
//   288    4   idxlayout   index layout word (4)
//   292    4   dstlevels   distinct-count prefix levels
//   296   16   dstsegs     per level: leading segments
//   312   16   dstbytes    per level: byte length
//   328   16   dstvall     per level: distinct values, low words
//   344   16   dstvalh     per level: distinct values, high words
//   360   32   spare6
//   392    4   daranchh    data-access resource anchor, high word
//   396    4   daranchl    data-access resource anchor, low word
//   400    8   darcount    count bytes of data-access resources by kind
//   408    4   crew14      extended create option word 14
//   412    4   spare7
//   416   32   wide64      four 64-bit values
//   448    4   wide32a
//   452    4   wide32b
//   456   56   spare8
struct FILEHDRX {
    uint32_t phyendh;
    uint32_t delstkh;
    uint32_t numrech;
    uint32_t reshdrh;
    uint32_t sfmemberh;
    uint32_t sernumh;
    uint32_t numenth;
    uint32_t rooth;
    uint32_t spare2[2];
    uint32_t extsiz32;
    uint32_t firstext;
    uint32_t flmode2;
    uint32_t segsizh;
    uint32_t segsizl;
    uint32_t maxsizh;
    uint32_t maxsizl;
    uint32_t segdefsiz;
    uint32_t lanchrh;
    uint32_t nsegs;
    uint32_t hdrposh;
    uint32_t xmark;
    uint32_t secresh;
    uint32_t segmented;
    uint32_t crew15;
    uint32_t flmode3;
    uint32_t hightranh;
    uint32_t updcnt2;
    uint32_t spare4;
    uint32_t crew7;
    uint32_t spare5[4];
    uint32_t crew9;
    uint32_t spincnt;
    uint32_t cmpcnt;
    int32_t levels;
    uint32_t distl;
    uint32_t disth;
    uint32_t idxlayout;
    int32_t dstlevels;
    uint32_t dstsegs[4];
    uint32_t dstbytes[4];
    uint32_t dstvall[4];
    uint32_t dstvalh[4];
    uint32_t spare6[8];
    uint32_t daranchh;
    uint32_t daranchl;
    uint8_t darcount[8];
    uint32_t crew14;
    uint32_t spare7;
    uint64_t wide64[4];
    uint32_t wide32a;
    uint32_t wide32b;
    uint8_t spare8[56];
};

// The whole header image: base part followed by the 384-byte extended part.
struct FILEHDRALL {
    FILEHDR base;
    FILEHDRX ext;
};

static_assert(sizeof(FILEHDR) == 128, "base header is 128 bytes");
static_assert(sizeof(FILEHDRX) == 384, "extended header is 384 bytes");
static_assert(sizeof(FILEHDRALL) == 512, "whole header is 512 bytes");
static_assert(offsetof(FILEHDR, verson) == 40);
static_assert(offsetof(FILEHDR, extsiz) == 46);
static_assert(offsetof(FILEHDR, updflg) == 56);
static_assert(offsetof(FILEHDR, clstyp) == 64);
static_assert(offsetof(FILEHDR, hdrpos) == 80);
static_assert(offsetof(FILEHDR, hdrflags) == 98);
static_assert(offsetof(FILEHDR, hdrflags2) == 100);
static_assert(offsetof(FILEHDR, updcnt) == 108);
static_assert(offsetof(FILEHDR, secres) == 116);
static_assert(offsetof(FILEHDRALL, ext.extsiz32) == 168);
static_assert(offsetof(FILEHDRALL, ext.flmode2) == 176);
static_assert(offsetof(FILEHDRALL, ext.xmark) == 212);
static_assert(offsetof(FILEHDRALL, ext.secresh) == 216);
static_assert(offsetof(FILEHDRALL, ext.flmode3) == 228);
static_assert(offsetof(FILEHDRALL, ext.updcnt2) == 236);
static_assert(offsetof(FILEHDRALL, ext.levels) == 276);
static_assert(offsetof(FILEHDRALL, ext.idxlayout) == 288);
static_assert(offsetof(FILEHDRALL, ext.dstvalh) == 344);
static_assert(offsetof(FILEHDRALL, ext.daranchh) == 392);
static_assert(offsetof(FILEHDRALL, ext.darcount) == 400);
static_assert(offsetof(FILEHDRALL, ext.crew14) == 408);
static_assert(offsetof(FILEHDRALL, ext.wide64) == 416);
static_assert(offsetof(FILEHDRALL, ext.wide32a) == 448);

// Header marks and bits used across the file layer.
constexpr uint32_t kXtdMark = 0x36353536;         // "6556" at +212
constexpr uint16_t kHdrExtended = 0x02;           // header flags: extended options
constexpr uint16_t kHdrSegmented = 0x08;          // header flags: segmented file
constexpr uint16_t kHdr8ByteOffsets = 0x40;       // header flags: 8-byte offsets
constexpr uint16_t kHdrHasExt = 0x4A;             // any of these: extended part present
constexpr uint32_t kHdr2Ext384 = 0x100;           // header flags 2: 384-byte extended part
constexpr uint32_t kFlmode2Memory = 0x80000000u;  // flmode2: memory file

// ---- Header fields used by creation, open and close --------------------------
// Configuration versions (+40).
constexpr uint16_t kVersionStd = 0x81;            // standard header
constexpr uint16_t kVersionExt = 0x91;            // extended header
constexpr uint16_t kVersionHuge = 0xA1;           // extended, flmode2 bit 29
// Update flag (+56).
constexpr uint8_t kUpdChanged = 0xFF;             // changed since open
constexpr uint8_t kUpdRebuild = 0x52;             // 'R': marked for rebuild
constexpr uint8_t kUpdRefused = 0x63;             // 'c': refused at open
// Superfile type (+92).
constexpr uint16_t kSfPlain = 0, kSfHost = 1, kSfMember = 2, kSfDirectory = 6;
// Header flags (+98).
constexpr uint16_t kHdrMirror = 0x01;             // mirrored file
constexpr uint16_t kHdrLeafReserve = 0x600;       // leaf-space reservation kinds
// Header flags 2 (+100).
constexpr uint32_t kHdr2Data = 0xEF;              // data file at creation
constexpr uint32_t kHdr2Index = 0xE8;             // index file at creation
constexpr uint32_t kHdr2Ext384Bits = 0x900;       // added with a 384-byte extended part
constexpr uint32_t kHdr2Partition = 0x20000;      // partition attribute
constexpr uint32_t kHdr2XtdTypes = 0x40000;      // record schema with field types above 256
constexpr uint32_t kHdr2FixedKeys = 0x10000;     // data file: an index's keys may not change
                                                 // (key type bit 0x80, ISAM layer)
// Every bit of header flags 2 this engine knows; an open refuses others.
// (0x10000000: the stored file definition holds no paths, ISAM layer.)
constexpr uint32_t kHdr2Supported = 0x1007F9FF;
// flmode2 (+176).
constexpr uint32_t kFlmode2Variant = 0x20000000;  // configuration-version variant
constexpr uint32_t kFlmode2NoVariant = 0x40000000;
constexpr uint32_t kFlmode2Ext32 = 0x20000;       // 32-bit extend size at +168
constexpr uint32_t kFlmode2FirstExt = 0x40000;    // first extent size at +172
constexpr uint32_t kFlmode2MaxSize = 0x80000;     // maximum file size at +188/+192
constexpr uint32_t kFlmode2Word7 = 0x100000;      // option word at +244
constexpr uint32_t kFlmode2PartHost = 0x400000;   // partitioned host
constexpr uint32_t kFlmode2StdHeader = 0x10000;   // standard header required
constexpr uint32_t kFlmode2Features = 0x315E004A; // any of these: extended header
// flmode3 (+228).
constexpr uint32_t kFlmode3Replaceable = 0x100001; // index marked for replacement
constexpr uint32_t kFlmode3FixedOnly = 0x400;       // variable format holding records of the fixed length only
