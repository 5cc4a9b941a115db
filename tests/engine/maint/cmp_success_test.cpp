// Compaction that succeeds: the new data file holds the live records in
// their old order and no deleted space, the resources of the user and the
// indexes come through, and only the set's own files remain.
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/core/arith.h"
#include "engine/core/filenum.h"
#include "engine/core/fcb.h"
#include "engine/files/header.h"
#include "tests/engine/maint/cmpfix.h"
#include "tests/support/verifyset.h"

namespace {

using namespace cmptest;

class CmpSuccessTest : public CmpTest {};

TEST_F(CmpSuccessTest, FixedLengthSetLosesItsDeletedSlots) {
    RblSet s("cmp", Kind::Fixed);
    const std::vector<std::string> live = fill(s, 10000, 2);
    ASSERT_EQ(live.size(), 5000u);
    // Resources of the file's own kind that a copy must not take: the
    // slots 0/2, 0/7 and 0/8 (0/6, the security record, is read at open:
    // the encryption tests show that it is the new file's own).
    s.ifil.tfilno = -1;
    ASSERT_EQ(OPNIFIL(&s.ifil), 0);
    for (uint32_t number : {2u, 7u, 8u}) {
        std::string own(8, '\0');
        memcpy(&own[4], &number, 4);
        own += std::string("\0old slot", 9);
        EXPECT_EQ(ADDRES(s.ifil.tfilno, own.data(), int32_t(own.size())), 0) << number;
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
    for (uint32_t number : {2u, 7u, 8u}) {
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

// A variable-length set: the new file holds no free area (0xFDFD), and the
// records come through with their lengths.
TEST_F(CmpSuccessTest, VariableLengthSetLosesItsFreeAreas) {
    RblSet s("vcmp", Kind::Variable);
    const std::vector<std::string> live = fill(s, 600, 3);
    auto free_areas = [&]() {
        s.ifil.tfilno = -1;
        EXPECT_EQ(OPNIFILX(&s.ifil, nullptr, nullptr, nullptr), 0);
        FCB *f = zv::fcb_at(s.ifil.tfilno);
        int n = 0;
        const uint64_t end = zv::join64(f->hdr.ext.numrech, f->hdr.base.numrec);
        for (uint64_t p = zv::first_node_offset(f); p != 0 && p <= end;) {
            VRECHDR h{};
            if (getvhdr81(f, uint32_t(p >> 32), uint32_t(p), &h) || h.arealen == 0) break;
            n += h.mark == 0xFDFD;
            p += h.arealen;
        }
        EXPECT_EQ(CLIFIL(&s.ifil), 0);
        return n;
    };
    ASSERT_GT(free_areas(), 0);
    ASSERT_EQ(compact(s), 0) << status_log();
    EXPECT_EQ(free_areas(), 0);
    std::string verdict;
    EXPECT_EQ(in_order(s, &verdict), live);
    EXPECT_EQ(verdict, "");
    EXPECT_TRUE(zvtest::verify_set(s.dat()));
    std::set<std::string> names;
    for (const auto &f : files()) names.insert(f.first);
    EXPECT_EQ(names, (std::set<std::string>{s.dat(), s.idxfile(), s.nm()}));
}

// A segmented data file: the original's segment files go with it, the new
// file's segment files take the data file's name, and none is left behind.
TEST_F(CmpSuccessTest, SegmentedDataFileMovesWithItsSegmentFiles) {
    RblSet s("seg", Kind::Fixed);
    s.x[0].mode = 0x02 | 0x08 | 0x200000;
    s.x[0].segsize = 1;
    s.x[0].nsegs = 8;
    const std::vector<std::string> live = fill_raw(s, 40000, 2);
    std::set<std::string> before;
    for (const auto &f : files()) before.insert(f.first);
    ASSERT_EQ(before, (std::set<std::string>{s.dat(), s.dat() + ".001", s.dat() + ".002", s.idxfile(), s.nm()}));
    ASSERT_EQ(compact(s), 0) << status_log();
    std::set<std::string> after;
    for (const auto &f : files()) after.insert(f.first);
    EXPECT_EQ(after, (std::set<std::string>{s.dat(), s.dat() + ".001", s.idxfile(), s.nm()}));
    std::string verdict;
    EXPECT_EQ(in_order(s, &verdict), live);
    EXPECT_EQ(verdict, "");
    EXPECT_TRUE(zvtest::verify_set(s.dat()));
    // The segment's header names the file it belongs to now.
    const std::string seg = zvtest::read_file(s.dat() + ".001");
    EXPECT_NE(seg.find(s.dat() + ".001"), std::string::npos);
}

// A set with 8-byte offsets, compacted with the caller's create blocks.
TEST_F(CmpSuccessTest, SetWithEightByteOffsets) {
    RblSet s("wide", Kind::Wide);
    const std::vector<std::string> live = fill(s, 300, 3);
    ASSERT_EQ(compact(s), 0) << status_log();
    std::string verdict;
    EXPECT_EQ(in_order(s, &verdict), live);
    EXPECT_EQ(verdict, "");
    EXPECT_TRUE(zvtest::verify_set(s.dat()));
    s.ifil.tfilno = -1;
    ASSERT_EQ(OPNIFIL(&s.ifil), 0);
    EXPECT_NE(GETFIL(s.ifil.tfilno, 26) & 0x40, 0) << "still 8-byte offsets";
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
}

// A data file without indexes is compacted alone.
TEST_F(CmpSuccessTest, DataFileWithoutIndexes) {
    IFIL ifil{"alone", -1, 32, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, 0};
    ASSERT_EQ(CREIFIL(&ifil), 0);
    std::vector<std::string> live;
    std::vector<uint32_t> freed;
    for (int k = 0; k < 40; k++) {
        std::string r(32, char('a' + k % 26));
        zvSETHGH(0);
        const uint32_t pos = NEWREC(ifil.tfilno);
        ASSERT_EQ(WRTREC(ifil.tfilno, pos, r.data()), 0);
        if (k % 2) freed.push_back(pos);
        else live.push_back(r);
    }
    for (uint32_t pos : freed) {
        zvSETHGH(0);
        ASSERT_EQ(RETREC(ifil.tfilno, pos), 0);
    }
    ASSERT_EQ(CLIFIL(&ifil), 0);
    const uint64_t before = zvtest::read_file("alone.dat").size();
    ifil.tfilno = -1;
    ASSERT_EQ(CMPIFIL(&ifil), 0) << status_log();
    ifil.tfilno = -1;
    ASSERT_EQ(OPNIFIL(&ifil), 0);
    zvtest::SetState st;
    EXPECT_EQ(zvtest::check_set(ifil.tfilno, &st), "");
    std::vector<std::string> now;
    for (auto &kv : st.records) now.push_back(kv.second);
    EXPECT_EQ(now, live);
    EXPECT_EQ(st.datent, live.size());
    ASSERT_EQ(CLIFIL(&ifil), 0);
    EXPECT_EQ(files().size(), 1u);
    EXPECT_LT(zvtest::read_file("alone.dat").size(), before);
}

}  // namespace
