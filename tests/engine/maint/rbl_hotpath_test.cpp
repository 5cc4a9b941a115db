// The key pass of the index rebuild is a hot path: its keys reach the
// index through the sort and the bulk load only (no key insertion, so no
// node split), and it takes no memory per record: the number of platform
// allocations of a key pass does not grow with the number of records.
#include <cstring>
#include <string>

#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/index/idxstate.h"
#include "engine/maint/maintstate.h"
#include "tests/engine/maint/rblfix.h"
#include "tests/support/damage.h"

namespace {

using namespace rbltest;

class RblHotPathTest : public RblTest {
protected:
    struct Pass {
        uint64_t allocs;   // platform allocations during the key passes
        uint64_t loaded;   // keys handed to the bulk load
        uint64_t splits;   // node splits during the key passes
        int32_t bufsize;   // the work buffer afterwards
        uint32_t keys;     // keys of index 0 afterwards
    };

    // n records written without keys, then the key pass of each index of
    // an empty copy of the set.
    Pass key_passes(uint32_t n) {
        const std::string a = "hp" + std::to_string(n), b = "he" + std::to_string(n);
        RblSet s(a.c_str(), Kind::Fixed), e(b.c_str(), Kind::Fixed);
        int d = s.create();
        EXPECT_GE(d, 0);
        for (uint32_t k = 1; k <= n; k++) {
            Rec r = rec(k);
            zvSETHGH(0);
            uint32_t pos = NEWREC(d);
            EXPECT_EQ(WRTREC(d, pos, &r), 0);
        }
        EXPECT_EQ(CLIFIL(&s.ifil), 0);
        EXPECT_GE(e.create(), 0);
        EXPECT_EQ(CLIFIL(&e.ifil), 0);
        zvtest::write_file(e.dat(), zvtest::read_file(s.dat()));
        e.ifil.tfilno = -1;
        EXPECT_EQ(OPNIFIL(&e.ifil), 0);
        const int x = e.ifil.tfilno;
        INSTGV *g = zvWNGV;
        maint_state(g).rbl.loaded = 0;
        const uint64_t splits = idx_state(g).splits;
        const uint64_t allocs = zv::platform_alloc_count();
        FILE *none = nullptr;
        int32_t dups = 0, bad = 0;
        EXPECT_EQ(RBLIDX(x, nullptr, x + 1, nullptr, &none, 0, &dups, 0, &bad), 0);
        EXPECT_EQ(RBLMEM(x, nullptr, x + 1, 1, nullptr, &none, 0, &dups, 0, &bad), 0);
        EXPECT_EQ(RBLIDX(x, nullptr, x + 3, nullptr, &none, 0, &dups, 0, &bad), 0);
        Pass p{zv::platform_alloc_count() - allocs, maint_state(g).rbl.loaded, idx_state(g).splits - splits,
               maint_state(g).rbl.bufsize, 0};
        zvSETHGH(0);
        p.keys = IDXENT(x + 1);
        EXPECT_EQ(CLIFIL(&e.ifil), 0);
        return p;
    }
};

TEST_F(RblHotPathTest, KeysGoThroughTheSortAndTheBulkLoadWithoutMemoryPerRecord) {
    const Pass small = key_passes(400);
    const Pass large = key_passes(4000);
    EXPECT_EQ(small.loaded, 3u * 400);
    EXPECT_EQ(large.loaded, 3u * 4000);
    EXPECT_EQ(small.keys, 400u);
    EXPECT_EQ(large.keys, 4000u);
    EXPECT_EQ(small.splits, 0u) << "no key was inserted";
    EXPECT_EQ(large.splits, 0u) << "no key was inserted";
    EXPECT_GT(small.allocs, 0u) << "the sort takes its buffers";
    EXPECT_EQ(large.allocs, small.allocs) << "ten times the records, the same allocations";
    EXPECT_EQ(large.bufsize, 64) << "the work buffer holds one record";
}

}  // namespace
