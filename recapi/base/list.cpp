// Pointer vectors (see list.h for the invariants).
#include "recapi/base/list.h"

#include <cstdlib>
#include <cstring>

namespace {

bool in_range(const ZVDBLIST *list, int32_t i) { return i >= 0 && i < list->count; }

}  // namespace

extern "C" {

ZVDBLIST *_zvdbListAlloc(void) { return static_cast<ZVDBLIST *>(_zvdb_alloc(1, sizeof(ZVDBLIST))); }

ZVDBLIST *_zvdbListDup(const ZVDBLIST *list) {
    if (!list) return nullptr;
    ZVDBLIST *copy = _zvdbListAlloc();
    if (!copy) return nullptr;
    if (list->capacity > 0) {
        copy->items = static_cast<void **>(_zvdb_alloc(list->capacity, sizeof(void *)));
        if (!copy->items) {
            _zvdb_free(copy);
            return nullptr;
        }
        if (list->count > 0) std::memcpy(copy->items, list->items, size_t(list->count) * sizeof(void *));
    }
    copy->capacity = list->capacity;
    copy->count = list->count;
    return copy;
}

ZVDBRET _zvdbListFree(ZVDBLIST *list) {
    if (list) {
        _zvdb_free(list->items);
        _zvdb_free(list);
    }
    return 0;
}

int32_t _zvdbListCount(const ZVDBLIST *list) { return list ? list->count : 0; }

int32_t _zvdbListSize(const ZVDBLIST *list) { return list ? list->capacity : 0; }

void *_zvdbListItem(const ZVDBLIST *list, int32_t i) {
    return list && in_range(list, i) ? list->items[i] : nullptr;
}

ZVDBRET _zvdbListClear(ZVDBLIST *list) {
    if (!list) return ZVDB_NULL_ARGUMENT;
    if (list->count > 0) std::memset(list->items, 0, size_t(list->count) * sizeof(void *));
    list->count = 0;
    return 0;
}

ZVDBRET _zvdbListDelete(ZVDBLIST *list, int32_t i) {
    if (!list) return ZVDB_NULL_ARGUMENT;
    if (!in_range(list, i)) return ZVDB_BAD_POSITION;
    std::memmove(list->items + i, list->items + i + 1, size_t(list->count - i - 1) * sizeof(void *));
    list->items[--list->count] = nullptr;
    return 0;
}

ZVDBRET _zvdbListExchange(ZVDBLIST *list, int32_t i, int32_t j) {
    if (!list) return ZVDB_NULL_ARGUMENT;
    if (!in_range(list, i) || !in_range(list, j)) return ZVDB_BAD_POSITION;
    void *t = list->items[i];
    list->items[i] = list->items[j];
    list->items[j] = t;
    return 0;
}

ZVDBRET _zvdbListExpand(ZVDBLIST *list) {
    if (!list) return ZVDB_NULL_ARGUMENT;
    if (list->count < list->capacity) return 0;
    if (list->capacity > INT32_MAX - kZvdbListStep) return ZVDB_NO_MEMORY;
    int32_t grown = list->capacity + kZvdbListStep;
    auto *items = static_cast<void **>(_zvdb_alloc(grown, sizeof(void *)));
    if (!items) return ZVDB_NO_MEMORY;
    if (list->count > 0) std::memcpy(items, list->items, size_t(list->count) * sizeof(void *));
    _zvdb_free(list->items);
    list->items = items;
    list->capacity = grown;
    return 0;
}

ZVDBRET _zvdbListAdd(ZVDBLIST *list, void *item) {
    if (!list || !item) return ZVDB_NULL_ARGUMENT;
    if (ZVDBRET rc = _zvdbListExpand(list)) return rc;
    list->items[list->count++] = item;
    return 0;
}

int32_t _zvdbListIndexOf(const ZVDBLIST *list, const void *item) {
    if (!list || !item) return -1;
    for (int32_t i = 0; i < list->count; i++) {
        if (list->items[i] == item) return i;
    }
    return -1;
}

ZVDBRET _zvdbListDeleteEx(ZVDBLIST *list, const void *item) {
    if (!list || !item) return ZVDB_NULL_ARGUMENT;
    int32_t i = _zvdbListIndexOf(list, item);
    return i < 0 ? ZVDB_NOT_FOUND : _zvdbListDelete(list, i);
}

ZVDBRET _zvdbListInsert(ZVDBLIST *list, int32_t i, void *item) {
    if (!list || !item) return ZVDB_NULL_ARGUMENT;
    if (i == list->count) return _zvdbListAdd(list, item);
    if (!in_range(list, i)) return ZVDB_BAD_POSITION;
    if (ZVDBRET rc = _zvdbListExpand(list)) return rc;
    std::memmove(list->items + i + 1, list->items + i, size_t(list->count - i) * sizeof(void *));
    list->items[i] = item;
    list->count++;
    return 0;
}

ZVDBRET _zvdbListMove(ZVDBLIST *list, int32_t from, int32_t to) {
    if (!list) return ZVDB_NULL_ARGUMENT;
    if (!in_range(list, from)) return ZVDB_BAD_POSITION;
    if (to != list->count && !in_range(list, to)) return ZVDB_BAD_POSITION;
    // The item is taken out and put back: no allocation, so the move cannot
    // fail half-way.
    void *item = list->items[from];
    if (to == list->count) to = list->count - 1;
    if (to > from) {
        std::memmove(list->items + from, list->items + from + 1, size_t(to - from) * sizeof(void *));
    } else if (to < from) {
        std::memmove(list->items + to + 1, list->items + to, size_t(from - to) * sizeof(void *));
    }
    list->items[to] = item;
    return 0;
}

ZVDBRET _zvdbListReplace(ZVDBLIST *list, int32_t i, void *item) {
    if (!list || !item) return ZVDB_NULL_ARGUMENT;
    if (!in_range(list, i)) return ZVDB_BAD_POSITION;
    list->items[i] = item;
    return 0;
}

void _zvdbListSort(ZVDBLIST *list, int (*compare)(const void *, const void *)) {
    if (!list || !compare || list->count < 2) return;
    std::qsort(list->items, size_t(list->count), sizeof(void *), compare);
}

}  // extern "C"
