// Pointer vectors of the record-level API.
//
// A ZVDBLIST holds the handles of every list the API keeps (children of a
// session, tables of a database, records of a table, ...). It does not own
// its items: freeing a list frees the item array and the list only. The
// array grows by 32 slots at a time and never shrinks; slots at and beyond
// `count` are zero. Items are never NULL.
#pragma once

#include <cstdint>

#include "zarvo/zvdb.h"

// ZVDBLIST itself is public (zvdb.h): items is NULL while capacity is 0.

// Slots added by each growth.
constexpr int32_t kZvdbListStep = 32;

extern "C" {

// A new empty list (no array), or NULL when memory is short.
ZVDBLIST *_zvdbListAlloc(void);
// A new list with the same capacity, count and items; NULL for NULL or no memory.
ZVDBLIST *_zvdbListDup(const ZVDBLIST *list);
// Frees the array and the list: 0 (also for NULL).
ZVDBRET _zvdbListFree(ZVDBLIST *list);
// Count and capacity; 0 for NULL.
int32_t _zvdbListCount(const ZVDBLIST *list);
int32_t _zvdbListSize(const ZVDBLIST *list);
// Item i; NULL for NULL or i outside 0..count-1.
void *_zvdbListItem(const ZVDBLIST *list, int32_t i);
// Empties the list (the array stays): 0, 4007.
ZVDBRET _zvdbListClear(ZVDBLIST *list);
// Removes item i, the later ones moving down: 0, 4007, 4005.
ZVDBRET _zvdbListDelete(ZVDBLIST *list, int32_t i);
// Swaps items i and j: 0, 4007, 4005.
ZVDBRET _zvdbListExchange(ZVDBLIST *list, int32_t i, int32_t j);
// Grows the array by 32 slots when it is full: 0, 4007, 4001 (list unchanged).
ZVDBRET _zvdbListExpand(ZVDBLIST *list);
// Appends an item: 0, 4007 NULL list or item, 4001.
ZVDBRET _zvdbListAdd(ZVDBLIST *list, void *item);
// First position of the item; -1 when absent or NULL.
int32_t _zvdbListIndexOf(const ZVDBLIST *list, const void *item);
// Removes the item: 0, 4007, 4046 not in the list.
ZVDBRET _zvdbListDeleteEx(ZVDBLIST *list, const void *item);
// Inserts at i (i == count appends): 0, 4007, 4005, 4001.
ZVDBRET _zvdbListInsert(ZVDBLIST *list, int32_t i, void *item);
// Moves item `from` to position `to` (to == count: to the end): 0, 4007, 4005.
ZVDBRET _zvdbListMove(ZVDBLIST *list, int32_t from, int32_t to);
// Overwrites item i: 0, 4007, 4005.
ZVDBRET _zvdbListReplace(ZVDBLIST *list, int32_t i, void *item);
// Sorts the items with compare, which receives pointers to two item slots.
void _zvdbListSort(ZVDBLIST *list, int (*compare)(const void *, const void *));

}  // extern "C"
