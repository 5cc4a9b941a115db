// Table alteration, first half: what the pending edits of a table's field,
// index and segment handles ask of the files. The field check and the
// index check each give their part of the alteration mask (ZVALTERMASK);
// the action passed to an alteration (ZVALTERACTION) selects the mask the
// alteration works from; the steps helper orders the work a mask asks for.
#pragma once

#include <cstdint>

#include "recapi/base/handles.h"

namespace zv {

// Bits of the alteration mask.
constexpr uint32_t kAlterSchema = 1;          // record schema rewritten in place
constexpr uint32_t kAlterAttributes = 2;      // field-attribute resource rewritten
constexpr uint32_t kAlterIndexes = 4;         // indexes added or dropped in place
constexpr uint32_t kAlterRebuild = 8;         // every index rebuilt
constexpr uint32_t kAlterCopy = 16;           // records copied into a new table
constexpr uint32_t kAlterDistinct = 32;       // distinct-key counts recomputed
constexpr uint32_t kAlterIdentity = 64;       // identity field added
constexpr uint32_t kAlterOnlyAdditions = 0x400;  // with 4: no index is dropped

// Bits of an alteration action above its selecting low byte.
constexpr uint32_t kActionEmpty = 0x2000;     // recreate the table empty (selects 3)

// Most steps one mask can ask for (1, 2, 64, 4, 32).
constexpr int kAlterMaxSteps = 5;

// The work a mask asks for, one bit per step, in the order it is done: a
// copy (16) excludes every other step; otherwise the schema (1), the
// attributes (2) and the identity field (64), then either the rebuild (8),
// which makes the index work of 4 and 32 moot, or indexes in place (4) and
// distinct-key counts (32). Returns the number of steps.
int alter_steps(uint32_t mask, uint32_t steps[kAlterMaxSteps]);

}  // namespace zv

extern "C" {

// The field part of the mask (bits 1, 2, 16, 64) over the table's field
// list; 16 alone when some field asks for a copy. Bit 32 goes on every
// segment built on a variable-length field whose length changed, and on the
// schema segments of a field whose type changed in place; the index check
// then reads it.
uint32_t _zvdbCheckFieldChanges(tagZVDBTABLE *t);
// The index part of the mask (bits 4, 8, 16, 32, 0x400) into *mask, and
// into *nosegs (optional) 1 when some index has no segments, else 0. An
// existing index whose segments are all deleted is marked deleted (2);
// dropping the partition index ends the table's partitioning. 0, or 4018
// for a list item that is no index (the mask then 0).
ZVDBRET _zvdbCheckIndexChanges(tagZVDBTABLE *t, uint32_t *mask, int32_t *nosegs);
// The mask an action selects into *mask: low byte 0 (forced to 3 by bit
// 0x2000) the field check, with the index check ORed in unless the fields
// ask for a copy; 1 a rebuild (8); 3 a copy (16). 0, or: 4095 an index
// without segments, 4048 action 1 on a table without any index, 4085 another
// low byte, 4018 as the index check (the mask then 0).
ZVDBRET _zvdbSelectAlterMask(tagZVDBTABLE *t, uint32_t action, uint32_t *mask);

}  // extern "C"
