// Calls of the index engine up into the ISAM layer's partition services.
//
// A partitioned host index hands its key reads, counts and estimates to the
// partition services of the ISAM layer (engine/isam/partsearch.cpp,
// partcount.cpp); the key insert asks it whether an equal entry of a global
// unique index is stale.
#pragma once

#include <cstdint>

struct FCB;

// Key read of a partitioned host: mode as the key reads ('E', 'G', 'H',
// 'N', 'M'), direction 1 for the less-than forms, 16 first key, 17 last key,
// 0x20 (with 'H' or 'N') the next or previous key from the last one read.
// Record position low word (high through zvSETHGHi), 0 with uerr_cod set.
uint32_t part_ser(FCB *fcb, const void *target, void *keyout, int mode, int direction);
// Key count of a partitioned host summed over its members (low word; high
// through zvSETHGHi); 0 with uerr_cod set.
uint32_t zvhostent(FCB *fcb);

// Estimates and counts of a partitioned host summed over its members
// (key navigation). `which` names the estimate ('E' ESTKEY, 'R' RNGENT, 'S'
// ESTRNG). Low word returned, high word through zvSETHGHi; 0 with uerr_cod
// set (614 an index not in the index map).
uint32_t zvhostest(int which, FCB *host, int keyno, const void *key1, const void *key2, int flag);
// The key at a fractional position of a partitioned host.
uint32_t zvhostfrc(FCB *host, int keyno, void *keyout, int32_t permille, int32_t scale, int32_t weight);
// Distinct-key estimate of a partitioned host, and its recount.
uint32_t zvhostdst(FCB *host, int keyno);
uint32_t zvhostdst_set(FCB *host, int keyno, int mode, int flag);
// Prepares the member search buffer of a partitioned host: 0 or 614.
int initPARTSERbuf(int keyno);

// An entry (posh, posl) of the global unique index x of a partitioned host
// met by an equal key: true when the member it names no longer holds it
// (the raw number outside the member table, a member of state 0 or 4, or
// another stamp).
bool partition_entry_stale(FCB *x, uint32_t posh, uint32_t posl);
