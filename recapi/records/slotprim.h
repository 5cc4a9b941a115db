// Field slot value primitives: one value of one storage family read from or
// written to a field slot (ZVDBFIELDSLOT), or handed to the field's value
// callbacks (slots 2 and 3 of its field handle) when it has them. They know
// the stored form of every field type and nothing of conversions.
//
//   family     types                                   stored form
//   bool       read: any type (first byte); write 8    one byte, 1 or 0
//   signed     16, 33, 51, 67                          native int of 1, 2, 4 bytes
//   unsigned   24, 41, 59, 75, 83, 258                 native unsigned of 1, 2, 4 bytes
//   float      91; 103, 124, 257                       float; double
//   bigint     231                                     8 bytes signed
//   ubigint    239                                     8 bytes unsigned
//   currency   143                                     8 bytes
//   number     105                                     the 20-byte number image
//   text       128, 144, 146, 152, 154, 160, 162, 168, 170, 259
//
// Any other type is 4019. A reader of a slot without value gives 0 (0.0,
// the zero number, empty text); a writer of a fixed-size slot without value
// (left by a damaged image) gives 4108. Writers write in place at the
// slot's value; the variable text store keeps a longer value in a buffer of
// the slot and marks the record for repacking.
#pragma once

#include <cstdint>

#include "recapi/base/handles.h"

extern "C" {

ZVDBRET _zvdbGetBoolField(ZVDBFIELDSLOT *s, int32_t *out);
ZVDBRET _zvdbSetBoolField(ZVDBFIELDSLOT *s, int32_t value);
ZVDBRET _zvdbGetSignedField(ZVDBFIELDSLOT *s, int32_t *out);
ZVDBRET _zvdbSetSignedField(ZVDBFIELDSLOT *s, int32_t value);
ZVDBRET _zvdbGetUnsignedField(ZVDBFIELDSLOT *s, uint32_t *out);
ZVDBRET _zvdbSetUnsignedField(ZVDBFIELDSLOT *s, uint32_t value);
ZVDBRET _zvdbGetFloatField(ZVDBFIELDSLOT *s, double *out);
ZVDBRET _zvdbSetFloatField(ZVDBFIELDSLOT *s, double value);
ZVDBRET _zvdbGetBigIntField(ZVDBFIELDSLOT *s, ZVBIGINT *out);
ZVDBRET _zvdbSetBigIntField(ZVDBFIELDSLOT *s, ZVBIGINT value);
ZVDBRET _zvdbGetUnsignedBigIntField(ZVDBFIELDSLOT *s, ZVUBIGINT *out);
ZVDBRET _zvdbSetUnsignedBigIntField(ZVDBFIELDSLOT *s, ZVUBIGINT value);
ZVDBRET _zvdbGetCurrencyField(ZVDBFIELDSLOT *s, ZVCURRENCY *out);
ZVDBRET _zvdbSetCurrencyField(ZVDBFIELDSLOT *s, ZVCURRENCY value);
ZVDBRET _zvdbGetNumberField(ZVDBFIELDSLOT *s, tagZVNUMBER *out);
ZVDBRET _zvdbSetNumberField(ZVDBFIELDSLOT *s, const tagZVNUMBER *value);

// The value as terminated text. *size (in) is the buffer's size (with NULL,
// the value's length + 1) and becomes the text's length. When the value
// does not fit, size - 1 bytes and a terminator are written and 4052
// returned; a buffer of less than one byte gets nothing (4006). A ZV_STRING
// loses its delimiter. The u32-counted form (extras kind 2 of ZV_ARRAY and
// ZV_2STRING) delivers its counted bytes; a count past the value is 4108.
ZVDBRET _zvdbGetStringField(ZVDBFIELDSLOT *s, char *buffer, int32_t *size);
// Fixed-length text (128, 144, 152, 160, 168) written in place: 4043 for a
// text longer than the field unless truncate (then it is cut), or a
// negative length. A shorter ZV_FSTRING is padded with pad and ends with
// delimiter; ZV_ARRAY pads with zeros; prefixed fields store the length and
// zero the rest.
ZVDBRET _zvdbSetFixStringField(ZVDBFIELDSLOT *s, const void *data, int32_t length, uint8_t pad, uint8_t delimiter,
                               int truncate);
// Variable-length text (146, 154, 162, 170, 259): 4043 negative length,
// ZV_PSTRING above 255, ZV_2STRING from 65536 (65532 in the counted form);
// 4004 a ZV_STRING text that holds the table's delimiter byte; 4001. A
// value of the same stored length is written in place; another marks the
// record for repacking (a longer one in a new buffer of the slot).
ZVDBRET _zvdbSetVarStringField(tagZVDBRECORD *r, ZVDBFIELDSLOT *s, const void *data, int32_t length);
// Zeroes size bytes of destination and copies the blob's first bytes into it.
ZVDBRET _zvdbBlobCopy(const tagZVBLOB *blob, void *destination, int32_t size);

}  // extern "C"
