// The evaluation hot path: a condition per record takes no memory and
// makes no system call, on its own and inside cached record reads; and
// engines started and stopped with filters and user-defined functions
// give back all they took.
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "tests/engine/expr/evalfix.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdbpt.h"

namespace {

using namespace evaltest;
using zv::IoKind;

long all_io_calls() {
    long n = 0;
    for (int k = 0; k < int(IoKind::Count); k++) n += zv::io_calls(IoKind(k));
    return n;
}

struct Counts {
    uint64_t pool_gets, platform_allocs;
    long io;
    bool operator==(const Counts &o) const {
        return pool_gets == o.pool_gets && platform_allocs == o.platform_allocs && io == o.io;
    }
};
Counts counts() { return Counts{zv::pool_get_count(), zv::platform_alloc_count(), all_io_calls()}; }

TEST_F(EvalTest, AConditionPerRecordTakesNoMemoryAndNoSystemCall) {
    Image img = full_image();
    PTNODE *t = compile("Qty > 5 AND Name == \"x\"", full_layout());
    ASSERT_NE(t, nullptr);
    void *rec = img.data.data();
    void *schema = const_cast<unsigned char *>(full_layout().schema.data());
    const int32_t fix = full_layout().fixlen, tot = int32_t(img.data.size());
    const int32_t qty = full_layout().offset("Qty"), name = full_layout().offset("Name");
    ASSERT_EQ(cndxeval(t, rec, schema, fix, tot), 0);  // takes the stack area
    zv::fault_reset();
    const Counts before = counts();
    int trues = 0, want = 0;
    for (int i = 0; i < 100000; i++) {
        const int32_t q = i % 10;
        memcpy(img.data.data() + qty, &q, 4);
        img.data[size_t(name)] = i % 3 == 0 ? 'x' : 'y';
        img.data[size_t(name) + 1] = 0;
        trues += cndxeval(t, rec, schema, fix, tot);
        want += q > 5 && i % 3 == 0;
    }
    EXPECT_TRUE(counts() == before);
    EXPECT_EQ(trues, want);
    EXPECT_GT(want, 0);
    zv::ptDestroy(t);
}

TEST_F(EvalTest, CachedFilteredReadsTakeNoMemoryAndNoSystemCall) {
    ASSERT_EQ(CREDAT(1, "hot.dat", 16, 0, 0), 0);
    const DATOBJ doda[3] = {{"Qty", 0, ZV_INT4, 4, 0, 0}, {"Name", 4, ZV_FSTRING, 8, 0, 0}, {"Pad", 12, ZV_ARRAY, 4, 0, 0}};
    ASSERT_EQ(PUTDODA(1, doda, 3), 0);
    std::vector<uint32_t> pos;
    for (int i = 0; i < 60; i++) {
        unsigned char r[16] = {};
        const int32_t q = i % 10;
        memcpy(r, &q, 4);
        r[4] = i % 3 == 0 ? 'x' : 'y';
        r[12] = 'R';
        pos.push_back(NEWREC(1));
        ASSERT_EQ(WRTREC(1, pos.back(), r), 0);
    }
    ASSERT_EQ(SETFLTR(1, "Qty > 5 AND Name == \"x\""), 0);
    unsigned char r[16];
    for (uint32_t p : pos) REDREC(1, p, r);  // every page cached
    zv::fault_reset();
    const Counts before = counts();
    for (int round = 0; round < 3; round++) {
        for (size_t i = 0; i < pos.size(); i++) {
            const int want = (i % 10 > 5 && i % 3 == 0) ? 0 : 739;
            ASSERT_EQ(REDREC(1, pos[i], r), want) << i;
        }
    }
    EXPECT_TRUE(counts() == before);
    ASSERT_EQ(CLSFIL(1, 0), 0);
}

void plus_one(void **args, void *result) {
    int32_t v;
    memcpy(&v, args[0], 4);
    v++;
    memcpy(result, &v, 4);
}

TEST_F(EvalTest, StartsAndStopsWithFiltersAndFunctionsGiveBackAllTheyTook) {
    CLISAM();
    const int64_t held = int64_t(zv::platform_alloc_count()) - int64_t(zv::platform_free_count());
    const int types[] = {ZV_INT4};
    for (int cycle = 0; cycle < 100; cycle++) {
        ASSERT_EQ(INTISAMX(16, 30, 4, 32, 32), 0);
        ASSERT_EQ(udfAdd("PLUS1", plus_one, ZV_INT4, types, 1), 0);
        ASSERT_EQ(CREDAT(1, "cyc.dat", 8, 0, 0), 0);
        const DATOBJ doda[2] = {{"Qty", 0, ZV_INT4, 4, 0, 0}, {"Name", 4, ZV_FSTRING, 4, 0, 0}};
        ASSERT_EQ(PUTDODA(1, doda, 2), 0);
        ASSERT_EQ(SETFLTR(1, "PLUS1(Qty) == 8 AND UPPER(Name) == \"AB\""), 0);
        unsigned char rec[8] = {7, 0, 0, 0, 'a', 'b', 0, 0};
        uint32_t p = NEWREC(1);
        ASSERT_EQ(WRTREC(1, p, rec), 0);
        ASSERT_EQ(REDREC(1, p, rec), 0);
        rec[0] = 6;
        ASSERT_EQ(WRTREC(1, p, rec), 0);
        ASSERT_EQ(REDREC(1, p, rec), 739);
        if (cycle % 2) udfTerm();  // half the cycles leave the functions to the stop
        ASSERT_EQ(CLISAM(), 0);
        unlink("cyc.dat");
    }
    EXPECT_EQ(int64_t(zv::platform_alloc_count()) - int64_t(zv::platform_free_count()), held);
    ASSERT_EQ(INTISAMX(16, 30, 4, 32, 32), 0);
}

}  // namespace
