// Pointer vectors: growth, positions, moves, sorting and failed allocations.
#include <cstdint>
#include <vector>

#include "engine/core/pools.h"
#include "tests/recapi/base/basefix.h"

namespace {

using basetest::BaseTest;
using ListTest = BaseTest;

// Distinct non-NULL items: the addresses of a table's slots.
int g_slots[100];
void *item(int i) { return &g_slots[i]; }

// The items of a list as slot numbers.
std::vector<int> slots_of(const ZVDBLIST *l) {
    std::vector<int> out;
    for (int32_t i = 0; i < _zvdbListCount(l); i++) out.push_back(int(static_cast<int *>(_zvdbListItem(l, i)) - g_slots));
    return out;
}

ZVDBLIST *list_of(std::initializer_list<int> slots) {
    ZVDBLIST *l = _zvdbListAlloc();
    for (int s : slots) EXPECT_EQ(_zvdbListAdd(l, item(s)), 0);
    return l;
}

TEST_F(ListTest, GrowsBy32Slots) {
    ZVDBLIST *l = _zvdbListAlloc();
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(_zvdbListSize(l), 0);
    EXPECT_EQ(l->items, nullptr);
    for (int i = 0; i < 32; i++) ASSERT_EQ(_zvdbListAdd(l, item(i)), 0);
    EXPECT_EQ(_zvdbListSize(l), 32);
    ASSERT_EQ(_zvdbListAdd(l, item(32)), 0);
    EXPECT_EQ(_zvdbListSize(l), 64);
    EXPECT_EQ(_zvdbListCount(l), 33);
    EXPECT_EQ(_zvdbListItem(l, 32), item(32));
    EXPECT_EQ(_zvdbListItem(l, 33), nullptr);
    EXPECT_EQ(_zvdbListItem(l, -1), nullptr);
    EXPECT_EQ(_zvdbListIndexOf(l, item(17)), 17);
    EXPECT_EQ(_zvdbListIndexOf(l, item(50)), -1);

    ZVDBLIST *copy = _zvdbListDup(l);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(_zvdbListSize(copy), 64);
    EXPECT_EQ(slots_of(copy), slots_of(l));
    EXPECT_NE(copy->items, l->items);

    EXPECT_EQ(_zvdbListClear(l), 0);
    EXPECT_EQ(_zvdbListCount(l), 0);
    EXPECT_EQ(_zvdbListSize(l), 64);  // never shrinks
    EXPECT_EQ(l->items[0], nullptr);
    EXPECT_EQ(_zvdbListFree(l), 0);
    EXPECT_EQ(_zvdbListFree(copy), 0);
    ZVDBLIST *empty = _zvdbListAlloc();
    ZVDBLIST *ecopy = _zvdbListDup(empty);
    ASSERT_NE(ecopy, nullptr);
    EXPECT_EQ(ecopy->items, nullptr);
    _zvdbListFree(empty);
    _zvdbListFree(ecopy);
}

TEST_F(ListTest, PositionsAndMoves) {
    struct Case {
        const char *what;
        int op;  // 0 insert, 1 delete, 2 exchange, 3 move, 4 replace, 5 delete by item
        int a, b;
        ZVDBRET rc;
        std::vector<int> after;
    } cases[] = {
        {"insert at count appends", 0, 3, 9, 0, {0, 1, 2, 9}},
        {"insert at 0", 0, 0, 9, 0, {9, 0, 1, 2}},
        {"insert in the middle", 0, 1, 9, 0, {0, 9, 1, 2}},
        {"insert past count", 0, 4, 9, 4005, {0, 1, 2}},
        {"insert before 0", 0, -1, 9, 4005, {0, 1, 2}},
        {"delete first", 1, 0, 0, 0, {1, 2}},
        {"delete last", 1, 2, 0, 0, {0, 1}},
        {"delete at count", 1, 3, 0, 4005, {0, 1, 2}},
        {"exchange", 2, 0, 2, 0, {2, 1, 0}},
        {"exchange out of range", 2, 0, 3, 4005, {0, 1, 2}},
        {"move forward", 3, 0, 2, 0, {1, 2, 0}},
        {"move back", 3, 2, 0, 0, {2, 0, 1}},
        {"move to count: to the end", 3, 0, 3, 0, {1, 2, 0}},
        {"move in place", 3, 1, 1, 0, {0, 1, 2}},
        {"move from count", 3, 3, 0, 4005, {0, 1, 2}},
        {"move past count", 3, 0, 4, 4005, {0, 1, 2}},
        {"replace", 4, 1, 9, 0, {0, 9, 2}},
        {"replace at count", 4, 3, 9, 4005, {0, 1, 2}},
        {"delete an item", 5, 1, 0, 0, {0, 2}},
        {"delete an absent item", 5, 9, 0, 4046, {0, 1, 2}},
    };
    for (const Case &c : cases) {
        ZVDBLIST *l = list_of({0, 1, 2});
        ZVDBRET rc = -1;
        switch (c.op) {
        case 0: rc = _zvdbListInsert(l, c.a, item(c.b)); break;
        case 1: rc = _zvdbListDelete(l, c.a); break;
        case 2: rc = _zvdbListExchange(l, c.a, c.b); break;
        case 3: rc = _zvdbListMove(l, c.a, c.b); break;
        case 4: rc = _zvdbListReplace(l, c.a, item(c.b)); break;
        case 5: rc = _zvdbListDeleteEx(l, item(c.a)); break;
        }
        EXPECT_EQ(rc, c.rc) << c.what;
        EXPECT_EQ(slots_of(l), c.after) << c.what;
        // Slots beyond the count stay zero.
        for (int32_t i = _zvdbListCount(l); i < _zvdbListSize(l); i++) EXPECT_EQ(l->items[i], nullptr) << c.what;
        _zvdbListFree(l);
    }
}

TEST_F(ListTest, NullListsAndItems) {
    ZVDBLIST *l = list_of({0});
    EXPECT_EQ(_zvdbListAdd(nullptr, item(0)), 4007);
    EXPECT_EQ(_zvdbListAdd(l, nullptr), 4007);
    EXPECT_EQ(_zvdbListInsert(l, 0, nullptr), 4007);
    EXPECT_EQ(_zvdbListReplace(l, 0, nullptr), 4007);
    EXPECT_EQ(_zvdbListDeleteEx(nullptr, item(0)), 4007);
    EXPECT_EQ(_zvdbListDelete(nullptr, 0), 4007);
    EXPECT_EQ(_zvdbListExchange(nullptr, 0, 0), 4007);
    EXPECT_EQ(_zvdbListMove(nullptr, 0, 0), 4007);
    EXPECT_EQ(_zvdbListClear(nullptr), 4007);
    EXPECT_EQ(_zvdbListExpand(nullptr), 4007);
    EXPECT_EQ(_zvdbListCount(nullptr), 0);
    EXPECT_EQ(_zvdbListSize(nullptr), 0);
    EXPECT_EQ(_zvdbListItem(nullptr, 0), nullptr);
    EXPECT_EQ(_zvdbListIndexOf(nullptr, item(0)), -1);
    EXPECT_EQ(_zvdbListIndexOf(l, nullptr), -1);
    EXPECT_EQ(_zvdbListDup(nullptr), nullptr);
    EXPECT_EQ(_zvdbListFree(nullptr), 0);
    _zvdbListSort(nullptr, nullptr);
    EXPECT_EQ(slots_of(l), std::vector<int>{0});
    _zvdbListFree(l);
}

int by_slot(const void *a, const void *b) {
    auto *x = *static_cast<int *const *>(a), *y = *static_cast<int *const *>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

int by_slot_descending(const void *a, const void *b) { return by_slot(b, a); }

TEST_F(ListTest, SortsWithTheCallersComparison) {
    ZVDBLIST *l = list_of({5, 3, 8, 1, 3, 40, 0});
    _zvdbListSort(l, by_slot);
    EXPECT_EQ(slots_of(l), (std::vector<int>{0, 1, 3, 3, 5, 8, 40}));
    _zvdbListSort(l, by_slot_descending);
    EXPECT_EQ(slots_of(l), (std::vector<int>{40, 8, 5, 3, 3, 1, 0}));
    _zvdbListFree(l);
}

TEST_F(ListTest, FailedGrowthLeavesTheListAsItWas) {
    ZVDBLIST *l = _zvdbListAlloc();
    for (int i = 0; i < 32; i++) ASSERT_EQ(_zvdbListAdd(l, item(i)), 0);
    void **before = l->items;
    uint64_t frees = zv::platform_free_count(), allocs = zv::platform_alloc_count();
    zv::fail_alloc_at(1);
    EXPECT_EQ(_zvdbListExpand(l), 4001);
    EXPECT_EQ(_zvdbListAdd(l, item(32)), 0);  // the fault was used up: this one grows
    zv::fail_alloc_at(0);
    EXPECT_EQ(_zvdbListCount(l), 33);
    EXPECT_EQ(_zvdbListSize(l), 64);
    EXPECT_NE(l->items, before);
    EXPECT_EQ(zv::platform_alloc_count() - allocs, 1u);
    EXPECT_EQ(zv::platform_free_count() - frees, 1u);  // the old array only

    ZVDBLIST *full = _zvdbListAlloc();
    for (int i = 0; i < 32; i++) ASSERT_EQ(_zvdbListAdd(full, item(i)), 0);
    for (long n = 1;; n++) {
        int64_t in_use = zv::pool_blocks_in_use();
        zv::fail_alloc_at(n);
        ZVDBRET rc = _zvdbListInsert(full, 0, item(99));
        zv::fail_alloc_at(0);
        if (rc == 0) break;
        EXPECT_EQ(rc, 4001) << n;
        EXPECT_EQ(_zvdbListCount(full), 32) << n;
        EXPECT_EQ(_zvdbListItem(full, 0), item(0)) << n;
        EXPECT_EQ(zv::pool_blocks_in_use(), in_use) << n;
        ASSERT_LT(n, 10);
    }
    EXPECT_EQ(_zvdbListItem(full, 0), item(99));
    EXPECT_EQ(_zvdbListItem(full, 32), item(31));
    _zvdbListFree(full);
    _zvdbListFree(l);
}

}  // namespace
