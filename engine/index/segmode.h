// Segment modes: the transforms that turn one key segment into bytes that
// sort by value under an unsigned byte comparison, their reverse, and the
// float fill of range bounds (see segmode.cpp).
#pragma once

#include <cstdint>

#include "engine/expr/schemamap.h"

namespace zv {

// Parts of the SEGMODE word.
constexpr int kSegBaseMask = 0x10F;     // base mode
constexpr int kSegDesc = 0x10;          // descending: every byte inverted
constexpr int kSegAltSeq = 0x20;        // bytes mapped through the alternate collating sequence
constexpr int kSegEndSeg = 0x40;        // significant bytes compared from the last one
constexpr int kSegUnicode = 0x80;       // collated by locale
constexpr int kSegXtd = 0x400;          // transformed by an extended definition
// Bit of the instance's user-profile word: integer, serial and float
// segments are byte-reversed around their sign handling.
constexpr uint16_t kProfReverse = 0x20;

// Base mode that a field type maps to for schema segments: 0 text, 1
// unsigned, 8 signed, 9 float, 11 length-prefixed text, 128 wide text.
int zvkindof(int type);

// Forward transform of one segment in place: 0 or an error (446 bad mode,
// 694 Unicode, 199 schema needed, 433 no such field, 528 bad length).
int izvtseg(uint32_t fld, int mode, int32_t len, unsigned char *seg, const uint16_t *altseq,
            const unsigned char *schema);
// Reverse transform of one segment in place: 0 or an error (446 for a mode
// whose transform cannot be undone).
int izvuseg(uint32_t fld, int mode, int32_t len, unsigned char *seg, const uint16_t *altseq,
            const unsigned char *schema);
// Fills a transformed segment with the fill byte; float segments of 4 or 8
// bytes get the key form of the largest finite value (fill non-zero) or of
// the most negative one (fill 0). Returns 0.
int zvfillseg(unsigned char *seg, int fill, int32_t len, int mode);

// BCD digits of a 10-byte decimal (sign byte, exponent byte, 8 bytes of 16
// digits): digit n is the low nibble of byte n/2 when n is even, the high
// nibble when odd; digit 15 is the most significant.
int nd_dig(const unsigned char *digits, int n);
void nd_digenc(unsigned char *digits, int n, int value);
// Shifts the 16 digits of a decimal up by k places and lowers its exponent
// byte by k.
void lshift(unsigned char *decimal, int k);
// Upper case of one ASCII letter; any other byte unchanged.
inline unsigned char ucase(unsigned char c) { return (c >= 'a' && c <= 'z') ? uint8_t(c & ~0x20) : c; }

}  // namespace zv

extern "C" {
// Base modes of the field type classes (type >> 3), and of types 257 to 259.
extern const int32_t zvkindkey[35];
extern const int32_t zvkindkeyxtd[3];
}
