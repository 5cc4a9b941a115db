// Compaction that succeeds: the new data file holds the live records in
// their old order and no deleted space, the resources of the user and the
// indexes come through, and only the set's own files remain.
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "tests/engine/maint/cmpfix.h"
#include "tests/support/verifyset.h"

namespace {

using namespace cmptest;

class CmpSuccessTest : public CmpTest {};

TEST_F(CmpSuccessTest, FixedLengthSetLosesItsDeletedSlots) {
    RblSet s("cmp", Kind::Fixed);
    const std::vector<std::string> live = fill(s, 10000, 2);
    ASSERT_EQ(live.size(), 5000u);
    // Resources of the file's own kind that a copy must not take: its
    // definition slots 0/2 and 0/8.
    s.ifil.tfilno = -1;
    ASSERT_EQ(OPNIFIL(&s.ifil), 0);
    {
        std::string own2(8, '\0'), own8(8, '\0');
        uint32_t t = 0, n2 = 2, n8 = 8;
        memcpy(&own2[0], &t, 4);
        memcpy(&own2[4], &n2, 4);
        memcpy(&own8[0], &t, 4);
        memcpy(&own8[4], &n8, 4);
        own2 += std::string("\0old two", 8);
        own8 += std::string("\0old eight", 10);
        EXPECT_EQ(ADDRES(s.ifil.tfilno, own2.data(), int32_t(own2.size())), 0);
        EXPECT_EQ(ADDRES(s.ifil.tfilno, own8.data(), int32_t(own8.size())), 0);
    }
    const std::string datres = resource_of(s.ifil.tfilno, 1), idxres = resource_of(s.ifil.tfilno + 1, 1);
    ASSERT_NE(datres, "");
    ASSERT_NE(idxres, "");
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    const size_t before = slots(s).size();

    ASSERT_EQ(compact(s), 0) << status_log();

    // A physical walk of the new file: the live records in their old order,
    // and no deleted slot.
    const std::vector<std::string> after = slots(s);
    for (const std::string &slot : after) EXPECT_NE(uint8_t(slot[0]), 0xFF) << "a deleted slot is left";
    EXPECT_EQ(after, live);
    EXPECT_LT(after.size(), before);
    std::string verdict;
    EXPECT_EQ(in_order(s, &verdict), live);
    EXPECT_EQ(verdict, "");
    EXPECT_TRUE(zvtest::verify_set(s.dat()));
    EXPECT_TRUE(indexes_verify(s));
    // The user's resources come through byte for byte; the file's own do not.
    s.ifil.tfilno = -1;
    ASSERT_EQ(OPNIFIL(&s.ifil), 0);
    EXPECT_EQ(resource_of(s.ifil.tfilno, 1), datres);
    EXPECT_EQ(resource_of(s.ifil.tfilno + 1, 1), idxres);
    for (uint32_t number : {2u, 8u}) {
        uint32_t key[2] = {0, number};
        char buf[64];
        EXPECT_EQ(GETRES(s.ifil.tfilno, key, buf, sizeof buf, 2), 0u) << number;
        EXPECT_EQ(zvGetUserErrorCode(), 408) << number;
    }
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    // The steps in the status log.
    const std::vector<std::string> steps = compact_lines();
    const std::vector<std::string> want = {"Compact: started.", "Compact: data file completed ...",
                                           "Compact: original renamed.", "Compact: temporary renamed.",
                                           "Compact: indices completed."};
    EXPECT_EQ(steps, want) << status_log();
    // Nothing but the set's own files.
    std::set<std::string> names;
    for (const auto &f : files()) names.insert(f.first);
    EXPECT_EQ(names, (std::set<std::string>{s.dat(), s.idxfile(), s.nm()}));
}

}  // namespace
