// Record fields as the expression language sees them: the field map of a
// bound tree built from a record schema map and a field-name list, the
// parser's lookup of a field by name, and the evaluator's reading of the
// fields of one record image (see fields.cpp).
#pragma once

#include <cstdint>

#include "engine/expr/ptree.h"

namespace zv {

// Field count of a schema map and the type and length of each field, with
// the map's consistency checked: the count is not negative and the entries
// cover exactly that many fields. False for a malformed map.
struct SchemaView {
    int32_t count = 0;
    const unsigned char *map = nullptr;
    bool open(const unsigned char *schema);
    // Type and length of field i (0 <= i < count).
    void field(int32_t i, uint16_t *type, uint16_t *len) const;

private:
    int32_t entries_ = 0;
};

// Bytes taken by the first `count` records of a field-name list (per
// record a length byte >= 1, then the NUL-terminated name): -1 when a
// record is malformed (length byte 0, or a name not ended inside it).
int64_t names_size(const unsigned char *names, int32_t count);

// The field map of a schema: count + 1 entries, the type and length of
// each field, and with names a copy of the name list behind the entries,
// each entry pointing at its name (null for a record shorter than 2
// bytes). One zvgetmem block; null when memory runs out or the schema or
// names are malformed. A null schema gives a map of no fields. With
// schema_copy the block also keeps a copy of the schema map itself, whose
// address goes to *schema_copy (null for a null schema): a tree bound to
// that copy never reads the caller's map again, which the file may free
// and replace while the tree lives.
PTFIELDMAP *makeDoda(const unsigned char *schema, const void *names, const unsigned char **schema_copy = nullptr);

// Value kind that a field of this type yields in an expression: 9, 13, 14
// or 15; 0 for a type that expressions cannot read.
int field_expr_type(int type);

// The parser's field lookup: the schema position of the field whose name
// equals name[0..len) ignoring case, with its value kind in *exprtype.
// -1 for an unknown name or a field of a type that cannot be read.
int32_t ptFieldName(const unsigned char *schema, const void *names, const char *name, int32_t len,
                    int *exprtype);

// Locates every field of the record image in ri->record (ri->fixlen bytes
// of fixed part, ri->totlen bytes in all): the field map's addresses, the
// row-id address and the number of fields present (those wholly inside
// the image). 0, or 16 for a null record info.
int fixDodaOffsets(PTRECINFO *ri);
// 1 when the null flag of field fieldno is set in "$NULFLD$"; 0 without
// that field, for a field not present or hidden, or a flag beyond it.
int fieldIsNULL(const PTRECINFO *ri, uint32_t fieldno);
// Pushes the value of a PT_FIELD node's field (NULL for a null field): 0,
// 6 stack full, 10 a field not present or of a type without a reading, 12
// a value reaching beyond the image.
int runFIELD(PTNODE *node, PTRECINFO *ri);

}  // namespace zv
