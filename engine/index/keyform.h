// Key formation from records: assembly of an index's key from a data record
// by its segment list, and the transform pass with the record-position
// suffix (see keyform.cpp).
#pragma once

#include <cstdint>

#include "engine/expr/schemamap.h"
#include "engine/index/segmode.h"

struct FCB;

namespace zv {

// The fields of a schema map one by one (repeats counted), each with the
// offset where the field before it ends (`start`) and its own offset after
// alignment (`off`). While start lies inside a record's fixed part, every
// field before it does too and the field lies at `off` whatever the record
// holds, so key formation can take it from here instead of walking the
// schema.
struct SchemaPlace {
    int32_t start;
    int32_t off;
    SchemaField e;
};
struct SchemaPlaces {
    uint32_t count;
    SchemaPlace at[1];  // count entries
};
// Makes the places of f's schema map (replacing any); none when there is
// no map or no memory (key formation then walks the map).
void schema_places_make(FCB *f);
void schema_places_drop(FCB *f);

// Bits of the assembly mode.
constexpr int kAsmComplete = 0;   // the record is complete: an absent segment is 445
constexpr int kAsmProbe = 1;      // partial record: -2 mixed, -3 nothing present
constexpr int kAsmOverlay = 2;    // absent segments keep the key buffer's bytes
constexpr int kAsmNoCond = 4;     // skip the index's condition

// Assembles the untransformed key of index keyno from a record of reclen
// bytes. datno -1, ifcb and dfcb null and keyspace -1 take the map's data
// file, the open blocks and the index's key length. The number of key
// bytes (the sum of the segment lengths); 0 when the record has no key in
// the index or on error (isamerr_cod tells them apart); -2 and -3 only in
// the probe mode.
int32_t izvasskey(int keyno, int datno, FCB *ifcb, FCB *dfcb, const unsigned char *rec, unsigned char *key,
                  int32_t keyspace, int32_t reclen, int amode);
int32_t zvasskey(int keyno, const unsigned char *rec, unsigned char *key, int32_t reclen, int amode);
// Transforms an assembled key in place; with `append` a duplicate-key index
// gets the record position (low word poslow, high word the pending one).
// With `unicode`, Unicode and extended segments are produced from the key's
// own bytes first. The key, or null with the error in isamerr_cod.
unsigned char *ii2TFRMKEY(int keyno, int datno, void *unused, FCB *dfcb, unsigned char *key, uint32_t poslow,
                          int append, int unicode);
unsigned char *i2TFRMKEY(int keyno, unsigned char *key, uint32_t poslow, int append, int unicode);
// Forms a whole key with explicit blocks (rebuild): the key length, or 0.
int32_t ifrmkey(int keyno, int datno, FCB *ifcb, FCB *dfcb, const unsigned char *rec, unsigned char *key,
                int32_t keyspace, uint32_t poslow, int32_t reclen);

}  // namespace zv
