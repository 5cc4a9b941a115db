// Fields of a table: what the other schema modules share with field.cpp.
//
// A table lists its fields in record order. Each field carries the hash of
// its name (name lookup compares names only where the hashes agree) and the
// list of the segments built on it, which exists only while it is not
// empty. Field names compare ignoring letter case (ASCII only, as the C
// locale does).
#pragma once

#include <cstddef>
#include <cstdint>

#include "recapi/base/handles.h"

extern "C" {

// Hash of a field name: the sum of upper(byte i) x i (i in 16 bits,
// unsigned 32-bit arithmetic); upper(first byte) + 1 when the sum is 0, so
// "" hashes to 1. NULL hashes as "".
uint32_t _zvdbFieldNameHash(const char *name);

}  // extern "C"

namespace zv {

// Upper case of an ASCII letter; other bytes unchanged.
inline unsigned char upper_ascii(unsigned char c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; }
// Two names equal ignoring ASCII letter case (NULL equals nothing).
bool same_name(const char *a, const char *b);

// The field handle a handle leads to (NULL when none).
tagZVDBFIELD *field_of(ZVHANDLE handle);
// The first listed field named `name` (any case), or NULL; no code kept.
tagZVDBFIELD *find_field(const tagZVDBTABLE *t, const char *name);
// Adds a segment to the field's segment list (made on first use): 0, 4001
// (the list as before). A segment already listed is not added twice.
ZVDBRET field_link_segment(tagZVDBFIELD *f, tagZVDBSEGMENT *s);
// Removes it; the list goes when it empties. NULL and the row-id mark are
// ignored.
void field_unlink_segment(tagZVDBFIELD *f, tagZVDBSEGMENT *s);
// Frees a field record and what it owns; segments still linked to it lose
// their field.
void free_field_record(tagZVDBFIELD *f);
// The type the field reports: callback slot 0 when set, else the stored
// type. 0 or the callback's code.
ZVDBRET field_reported_type(tagZVDBFIELD *f, int32_t *type);

// The text of a literal default (kind 1): its stored bytes without a last
// zero byte, so that a default stored with or without its terminator reads
// the same. Every reader of a literal default takes it from here.
void literal_default(const tagZVDBFIELD *f, const char **text, size_t *length);

// Counters of the name lookup (test support): name comparisons made after
// a hash matched.
struct SchemaCounts {
    uint64_t name_compares;
    uint64_t getfil_calls;      // engine attribute reads of index modes
    uint64_t getksegdef_calls;  // engine reads of transform blocks
};
SchemaCounts &schema_counts();

}  // namespace zv
