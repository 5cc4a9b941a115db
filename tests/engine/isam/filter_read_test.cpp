// Record filters set from condition texts decide the ISAM reads: records
// they refuse are passed over in key order and in physical order, an
// evaluation error is 598, a filter on the variable part of a record sees
// that part, and a callback filter reports each record it is asked about.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "tests/engine/isam/recfix.h"
#include "tests/support/engine.h"
#include "zarvo/zarvo.h"

namespace {

using namespace rectest;

class FilterReadTest : public RecTest {
protected:
    // The customer set with a schema naming Qty (the amount) and Zero.
    int make_set(CustDef &def) {
        int d = make(def);
        put_item_schema(d);
        return d;
    }
    static Cust item(uint32_t id, int32_t qty, const char *city = "Bern") {
        Cust c = cust(id, city);
        memcpy(&c.amount, &qty, 4);
        return c;
    }
};

TEST_F(FilterReadTest, ReadsReturnOnlyTheRecordsTheFilterLetsIn) {
    CustDef def;
    int d = make_set(def);
    // Ids added out of order; Qty 3 for the odd ids, 9 for the even ones.
    std::vector<uint64_t> pos(9);
    for (uint32_t id : {5u, 2u, 8u, 1u, 4u, 7u, 3u, 6u}) pos[id] = add(d, item(id, id % 2 ? 3 : 9));
    ASSERT_EQ(SETFLTR(d, "Qty > 5"), 0);
    Cust r;
    zvSETHGH(0);
    EXPECT_EQ(REDREC(d, uint32_t(pos[3]), &r), 739);
    EXPECT_EQ(r.number, 3u) << "the refused record is in the buffer";
    zvSETHGH(0);
    EXPECT_EQ(REDREC(d, uint32_t(pos[4]), &r), 0);
    // Key order, both directions, and physical order (the order of adding).
    EXPECT_EQ(numbers(d + 1, FRSREC, NXTREC), (std::vector<uint32_t>{2, 4, 6, 8}));
    EXPECT_EQ(numbers(d + 1, LSTREC, PRVREC), (std::vector<uint32_t>{8, 6, 4, 2}));
    EXPECT_EQ(numbers(d, FRSREC, NXTREC), (std::vector<uint32_t>{2, 8, 4, 6}));
    // A refused record cannot be found; searches go on to the next one.
    EXPECT_EQ(EQLREC(d + 1, num(3).data(), &r), 101);
    ASSERT_EQ(GTEREC(d + 1, num(3).data(), &r), 0);
    EXPECT_EQ(r.number, 4u);
    ASSERT_EQ(LTEREC(d + 1, num(7).data(), &r), 0);
    EXPECT_EQ(r.number, 6u);
    // Through the function-number entry: SETFLTR, then REDREC.
    char text[] = "Qty < 5";
    EXPECT_EQ(zarvo(0x0026, int16_t(d), nullptr, nullptr, text, nullptr, 0), 0);
    int32_t at = int32_t(pos[4]);
    zvSETHGH(0);
    EXPECT_EQ(zarvo(0x0A3E, int16_t(d), nullptr, &at, &r, nullptr, 0), 739);
    EXPECT_EQ(check(d), "");
}

TEST_F(FilterReadTest, AnEvaluationErrorIs598) {
    CustDef def;
    int d = make_set(def);
    uint64_t pos = 0;
    for (uint32_t id = 1; id <= 3; id++) pos = add(d, item(id, 3));
    ASSERT_EQ(SETFLTR(d, "Qty / Zero > 1"), 0);
    Cust r;
    EXPECT_EQ(EQLREC(d + 1, num(2).data(), &r), 598);
    EXPECT_EQ(FRSREC(d, &r), 598);
    zvSETHGH(0);
    EXPECT_EQ(REDREC(d, uint32_t(pos), &r), 598);
    // Cleared, every record reads again.
    ASSERT_EQ(RESETFLTR(d, 2), 0);
    EXPECT_EQ(numbers(d + 1, FRSREC, NXTREC), (std::vector<uint32_t>{1, 2, 3}));
}

TEST_F(FilterReadTest, AFilterOnTheVariablePartDecidesWholeRecordReads) {
    CustDef def("vcust", true);
    int d = make(def);
    const DATOBJ doda[7] = {{"tag", 0, ZV_ARRAY, 4, 0, 0},    {"Id", 4, ZV_INT4U, 4, 0, 0},
                            {"City", 8, ZV_FSTRING, 20, 0, 0}, {"Name", 28, ZV_FSTRING, 24, 0, 0},
                            {"Qty", 52, ZV_INT4, 4, 0, 0},     {"Pad", 56, ZV_ARRAY, 8, 0, 0},
                            {"Note", 64, ZV_STRING, 32, 0, 0}};
    ASSERT_EQ(PUTDODA(d, doda, 7), 0);
    for (uint32_t id : {1u, 2u}) {
        unsigned char rec[80] = {};
        Cust c = cust(id, "Bern");
        memcpy(rec, &c, sizeof c);
        const char *note = id == 1 ? "keep" : "drop";
        memcpy(rec + 64, note, 5);
        ASSERT_EQ(ADDVREC(d, rec, 64 + 5), 0);
    }
    ASSERT_EQ(SETFLTR(d, "Note == \"keep\""), 0);
    unsigned char buf[80];
    struct Case {
        uint32_t id;
        int want;
    };
    for (const Case c : {Case{1, 0}, Case{2, 739}}) {
        // The index read sees only the fixed part: Note is not there.
        EXPECT_EQ(EQLREC(d + 1, num(c.id).data(), buf), 598) << c.id;
        ASSERT_EQ(SETFLTR(d, nullptr), 0);
        ASSERT_EQ(EQLREC(d + 1, num(c.id).data(), buf), 0);
        ASSERT_EQ(SETFLTR(d, "Note == \"keep\""), 0);
        EXPECT_EQ(REDVREC(d, buf, sizeof buf), c.want) << c.id;
        EXPECT_EQ(memcmp(buf + 64, c.id == 1 ? "keep" : "drop", 4), 0);
    }
}

TEST_F(FilterReadTest, ACallbackFilterReportsEveryRecord) {
    CustDef def;
    int d = make_set(def);
    for (uint32_t id = 1; id <= 3; id++) add(d, item(id, 3));
    zvtest::EngineOutput out;
    ASSERT_EQ(SETFLTR(d, "@flt"), 0);
    EXPECT_EQ(numbers(d + 1, FRSREC, NXTREC), (std::vector<uint32_t>{1, 2, 3}));
    ASSERT_EQ(RESETFLTR(d, 2), 0);
    ASSERT_EQ(RESETFLTR(d, 2), 0);  // nothing left to end
    const std::string printed = out.text();
    std::string want = " zvfiltercb_init: @flt\n";
    for (int i = 0; i < 3; i++) want += " zvfiltercb: @flt\n";
    want += " zvfiltercb_uninit: @flt\n";
    EXPECT_EQ(printed, want);
}

}  // namespace
