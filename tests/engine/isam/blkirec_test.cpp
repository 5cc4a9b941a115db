// The blocking filtered read: a read whose record the filter refuses ends
// with 101 and the current record as before; its refusals and the codes of
// a filter that cannot be parsed or evaluated.
#include <cstring>
#include <string>

#include "engine/core/instance.h"
#include "tests/engine/isam/recfix.h"

namespace {

using namespace rectest;

class BlkirecTest : public RecTest {
protected:
    // Items 1..n with Qty = number, Zero 0; an index on Qty.
    int make_items(uint32_t n) {
        def_.idx[1] = IIDX{4, 0, 0, 0, 0, 1, qty_, "ByQty", "?_qty.idx", nullptr, nullptr};
        int d = make(def_);
        put_item_schema(d);
        for (uint32_t i = 1; i <= n; i++) {
            Cust c = cust(i, "Bern");
            c.amount = i;
            add(d, c);
        }
        return d;
    }
    static std::string qty(uint32_t q) { return num(q); }
    CustDef def_{"items"};
    ISEG qty_[1] = {{52, 4, 1}};
};

TEST_F(BlkirecTest, RefusedRecordsLeaveTheCurrentRecord) {
    int d = make_items(1000);
    const int q = d + 2;
    Cust r;
    ASSERT_EQ(EQLREC(d + 1, num(200).data(), &r), 0);
    const uint64_t at200 = curpos(d);
    const char *filter = "Qty > 990";
    struct Case {
        int op;
        uint32_t target;  // 0: none
        int result;
        uint32_t number;  // of the record read (0: none)
    };
    const Case cases[] = {
        {1, 0, 101, 0},  // first is Qty 1
        {11, 991, 0, 991},
        {10, 991, 0, 992},
        {12, 5, 101, 0},  // equal finds Qty 5 and never looks further
        {12, 999, 0, 999},
        {4, 0, 0, 1000},
        {13, 600, 101, 0},
        {14, 1000, 0, 999},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.op << " " << c.target);
        ASSERT_EQ(EQLREC(d + 1, num(200).data(), &r), 0);
        const std::string t = qty(c.target);
        memset(&r, 0, sizeof r);
        EXPECT_EQ(BLKIREC(q, c.op, 0, filter, c.target ? t.data() : nullptr, &r, nullptr), c.result);
        if (c.number) {
            EXPECT_EQ(r.number, c.number);
            EXPECT_EQ(RRDREC(d, &r), 0);
            EXPECT_EQ(r.number, c.number) << "the record found is current";
        } else {
            EXPECT_EQ(curpos(d), at200) << "the current record is the one before the call";
            EXPECT_EQ(NXTREC(d + 1, &r), 0);
            EXPECT_EQ(r.number, 201u);
        }
    }
    // Next and previous step from the current record; no filter, or an
    // empty one, is no filter.
    ASSERT_EQ(EQLREC(q, qty(990).data(), &r), 0);
    EXPECT_EQ(BLKIREC(q, 2, 0, filter, nullptr, &r, nullptr), 0);
    EXPECT_EQ(r.number, 991u);
    EXPECT_EQ(BLKIREC(q, 3, 0, filter, nullptr, &r, nullptr), 101);
    EXPECT_EQ(BLKIREC(q, 3, 0, "", nullptr, &r, nullptr), 0);
    EXPECT_EQ(r.number, 990u);
    EXPECT_EQ(BLKIREC(q, 3, 0, nullptr, nullptr, &r, nullptr), 0);
    EXPECT_EQ(r.number, 989u);
    // In physical order through the data file.
    EXPECT_EQ(BLKIREC(d, 1, 0, "Qty < 2", nullptr, &r, nullptr), 0);
    EXPECT_EQ(r.number, 1u);
    EXPECT_EQ(BLKIREC(d, 2, 0, "Qty < 2", nullptr, &r, nullptr), 101);
    EXPECT_EQ(r.number, 2u) << "the refused record stays in the buffer";
    EXPECT_EQ(check(d), "");
}

TEST_F(BlkirecTest, Refusals) {
    int d = make_items(20);
    const int q = d + 2;
    Cust r;
    ASSERT_EQ(EQLREC(d + 1, num(7).data(), &r), 0);
    const uint64_t at7 = curpos(d);
    const std::string t = qty(10);
    struct Case {
        int filno, op;
        int32_t timeout;
        const char *filter;
        bool target;
        int result, filnum;
    };
    const Case cases[] = {
        {q, 10, 0, "Qty > 1", false, 80, q},   // a keyed read without a target
        {d, 1, 0, "Qty > 1", true, 80, d},     // a target with a data file
        {q, 5, 0, "Qty > 1", false, 446, 5},   // the operation is the file number
        {q, 0, 0, nullptr, false, 446, 0},
        {q, 15, 0, nullptr, false, 446, 15},
        {q, 11, 3, "Qty > 1", true, 454, 0},   // waiting: not before any read
        {q, 11, -1, nullptr, true, 454, 0},
        {q, 11, 0, "Qty >", true, 597, d},
        {q, 11, 0, "Qty / Zero > 1", true, 598, d},
        {q, 11, 0, "@@?queue", true, 454, d},
        {25, 1, 0, nullptr, false, 26, 25},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.op << " " << (c.filter ? c.filter : "-"));
        memset(&r, 0, sizeof r);
        EXPECT_EQ(BLKIREC(c.filno, c.op, c.timeout, c.filter, c.target ? t.data() : nullptr, &r, nullptr), c.result);
        EXPECT_EQ(zvGetIsamErrorCode(), c.result);
        EXPECT_EQ(zvGetIsamFileNbr(), c.filnum);
        EXPECT_EQ(curpos(d), at7);
        if (c.result == 454 && c.timeout) {
            EXPECT_EQ(r.number, 0u) << "nothing was read";
        }
    }
    // A read that fails itself keeps its own error.
    EXPECT_EQ(BLKIREC(q, 12, 0, "Qty > 1", qty(31).data(), &r, nullptr), 101);
    EXPECT_EQ(BLKIREC(q, 11, 0, "Qty > 1", qty(3000).data(), &r, nullptr), 101);
    EXPECT_EQ(curpos(d), at7);
}

TEST_F(BlkirecTest, VariableLengthReadsAndTheFunctionNumberEntry) {
    def_.ifil.dfilmod = 0x4;  // variable length
    int d = make_items(0);
    for (uint32_t i = 1; i <= 10; i++) {
        std::string rec(100, char('a' + i));
        Cust c = cust(i, "Bern");
        c.amount = 3 * i;
        memcpy(rec.data(), &c, sizeof c);
        ASSERT_EQ(ADDVREC(d, rec.data(), int32_t(rec.size())), 0);
    }
    char buf[200] = {};
    int32_t len = sizeof buf;
    const std::string t = qty(21), t27 = qty(27);
    EXPECT_EQ(BLKIREC(d + 2, 11, 0, "Qty > 20", t.data(), buf, &len), 0);
    EXPECT_EQ(len, 100);
    Cust c;
    memcpy(&c, buf, sizeof c);
    EXPECT_EQ(c.number, 7u);
    BLKIRECBLK blk{11, 0, "Qty > 25", t27.data(), buf, &len};
    len = sizeof buf;
    int32_t status = -1;
    EXPECT_EQ(zarvo(0x26AB, int16_t(d + 2), &blk, &status, nullptr, nullptr, 21), 0);
    EXPECT_EQ(status, 0);
    memcpy(&c, buf, sizeof c);
    EXPECT_EQ(c.number, 9u);
    blk.filter = "Qty > 40";
    EXPECT_EQ(zarvo(0x26AB, int16_t(d + 2), &blk, &status, nullptr, nullptr, 21), 101);
    EXPECT_EQ(zarvo(0x26AB, int16_t(d + 2), nullptr, &status, nullptr, nullptr, 21), 540);
}

}  // namespace
