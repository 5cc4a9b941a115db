// The ISAM record calls through the function-number entry point.
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/entry/dispatch.h"
#include "tests/engine/isam/recfix.h"

namespace {

using namespace rectest;

class RecZarvoTest : public RecTest {
protected:
    static int16_t call(uint16_t fn, int filno, void *a3 = nullptr, int32_t *a4 = nullptr, void *a5 = nullptr,
                        int32_t *a6 = nullptr, int32_t a7 = 0) {
        return zarvo(fn, int16_t(filno), a3, a4, a5, a6, a7);
    }
};

TEST_F(RecZarvoTest, NumbersReachTheirTargets) {
    struct Code {
        uint16_t fn;
        const char *name;
    };
    const Code codes[] = {
        {0x0128, "ADDREC"},   {0x0129, "RWTREC"},   {0x0105, "DELREC"},    {0x0152, "EQLREC"},
        {0x0153, "GTEREC"},   {0x0154, "LTEREC"},   {0x0155, "GTREC"},     {0x0156, "LTREC"},
        {0x0145, "EQLVREC"},  {0x0146, "GTEVREC"},  {0x0147, "LTEVREC"},   {0x0148, "GTVREC"},
        {0x0149, "LTVREC"},   {0x092A, "NXTREC"},   {0x092B, "PRVREC"},    {0x092C, "FRSREC"},
        {0x092D, "LSTREC"},   {0x092E, "RRDREC"},   {0x0968, "NXTVREC"},   {0x0969, "PRVVREC"},
        {0x096A, "FRSVREC"},  {0x096B, "LSTVREC"},  {0x0B57, "REDIREC"},   {0x0BE1, "REDIVREC"},
        {0x0740, "SETCURI"},  {0x0744, "SETCURI"},  {0x0102, "UPDCURI"},   {0x0B43, "reset_cur"},
        {0x0BE2, "reset_cur2"}, {0x24D1, "setfndval"}, {0x0578, "ADDVREC"}, {0x0579, "RWTVREC"},
        {0x0108, "DELVREC"},  {0x0577, "RWTPREC"},  {0x0D7A, "REDVREC"},   {0x05B5, "GETVLEN"},
    };
    for (const Code &c : codes) {
        zv::DispatchTarget t{};
        ASSERT_TRUE(zv::describe_function(c.fn, &t)) << c.name;
        EXPECT_STREQ(t.name, c.name);
        EXPECT_TRUE(t.bound) << c.name;
    }
}

TEST_F(RecZarvoTest, FixedLengthRecordsThroughFunctionNumbers) {
    CustDef def;
    const int d = make(def);
    for (uint32_t n = 10; n <= 40; n += 10) {
        Cust c = cust(n, "Bern");
        ASSERT_EQ(call(0x0128, d, nullptr, nullptr, &c), 0);
    }
    Cust r;
    std::string t = num(20);
    // Keyed reads: the target in the fifth argument, the record in the third.
    ASSERT_EQ(call(0x0152, d + 1, &r, nullptr, t.data()), 0);
    EXPECT_EQ(r.number, 20u);
    const uint64_t p20 = curpos(d);
    ASSERT_EQ(call(0x0153, d + 1, &r, nullptr, num(25).data()), 0);
    EXPECT_EQ(r.number, 30u);
    ASSERT_EQ(call(0x0154, d + 1, &r, nullptr, num(25).data()), 0);
    EXPECT_EQ(r.number, 20u);
    ASSERT_EQ(call(0x0155, d + 1, &r, nullptr, num(30).data()), 0);
    EXPECT_EQ(r.number, 40u);
    ASSERT_EQ(call(0x0156, d + 1, &r, nullptr, num(30).data()), 0);
    EXPECT_EQ(r.number, 20u);
    // Sequential reads: the record in the fifth argument.
    ASSERT_EQ(call(0x092A, d + 1, nullptr, nullptr, &r), 0);
    EXPECT_EQ(r.number, 30u);
    ASSERT_EQ(call(0x092B, d + 1, nullptr, nullptr, &r), 0);
    EXPECT_EQ(r.number, 20u);
    ASSERT_EQ(call(0x092C, d + 1, nullptr, nullptr, &r), 0);
    EXPECT_EQ(r.number, 10u);
    ASSERT_EQ(call(0x092D, d, nullptr, nullptr, &r), 0);
    EXPECT_EQ(r.number, 40u);
    ASSERT_EQ(call(0x092E, d, nullptr, nullptr, &r), 0);
    EXPECT_EQ(r.number, 40u);
    // By position: through the fourth argument.
    int32_t pos = int32_t(p20);
    ASSERT_EQ(call(0x0B57, d, nullptr, &pos, &r), 0);
    EXPECT_EQ(r.number, 20u);
    // Rewrite and delete of the current record.
    strcpy(r.city, "Oslo");
    ASSERT_EQ(call(0x0129, d, nullptr, nullptr, &r), 0);
    ASSERT_EQ(call(0x0102, d, nullptr, nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(call(0x0102, d, nullptr, nullptr, nullptr, nullptr, 7), 116);
    ASSERT_EQ(call(0x0105, d), 0);
    EXPECT_EQ(call(0x0105, d), 114);
    EXPECT_EQ(zvGetIsamErrorCode(), 114);
    // Partial rewrite and SETCURI: the image in the fifth argument, its
    // length through the sixth.
    Cust img = cust(30, "Bern");
    pos = int32_t(curpos(d));
    ASSERT_EQ(call(0x092C, d + 1, nullptr, nullptr, &r), 0);
    int32_t len = 0;
    pos = int32_t(curpos(d));
    ASSERT_EQ(call(0x0740, d, nullptr, &pos, &r, &len), 0);
    len = 8;
    uint32_t eleven = 11;
    memcpy(img.tag, r.tag, 4);
    memcpy(&img.number, &eleven, 4);
    ASSERT_EQ(call(0x0577, d, nullptr, nullptr, &img, &len), 0);
    ASSERT_EQ(call(0x0152, d + 1, &r, nullptr, num(11).data()), 0);
    // The find-value buffer, and the current-record resets.
    len = 4;
    ASSERT_EQ(call(0x24D1, 0, nullptr, nullptr, t.data(), &len), 0);
    EXPECT_EQ(call(0x0B43, d + 1, nullptr, nullptr, &r), 101);
    pos = int32_t(p20);
    EXPECT_EQ(call(0x0BE2, d + 1, nullptr, &pos, &r), 114) << "20 was deleted";
    EXPECT_EQ(check(d), "");
}

TEST_F(RecZarvoTest, VariableLengthRecordsThroughFunctionNumbers) {
    CustDef def("vz", true);
    const int d = make(def);
    const Cust c5 = cust(5, "Bern");
    std::string rec(reinterpret_cast<const char *>(&c5), sizeof c5);
    rec.append(40, 'v');
    int32_t len = int32_t(rec.size());
    ASSERT_EQ(call(0x0578, d, nullptr, nullptr, rec.data(), &len), 0);
    std::string b(300, '\0');
    len = int32_t(b.size());
    ASSERT_EQ(call(0x0145, d + 1, b.data(), nullptr, num(5).data(), &len), 0);
    EXPECT_EQ(len, int32_t(rec.size()));
    for (uint16_t fn : {0x0146, 0x0147}) {
        len = int32_t(b.size());
        EXPECT_EQ(call(fn, d + 1, b.data(), nullptr, num(5).data(), &len), 0) << std::hex << fn;
    }
    len = int32_t(b.size());
    EXPECT_EQ(call(0x0148, d + 1, b.data(), nullptr, num(5).data(), &len), 101);
    EXPECT_EQ(call(0x0149, d + 1, b.data(), nullptr, num(5).data(), &len), 101);
    len = int32_t(b.size());
    ASSERT_EQ(call(0x096A, d, nullptr, nullptr, b.data(), &len), 0);
    EXPECT_EQ(call(0x0968, d, nullptr, nullptr, b.data(), &len), 101);
    EXPECT_EQ(call(0x096B, d, nullptr, nullptr, b.data(), &len), 48);
    len = int32_t(b.size());
    ASSERT_EQ(call(0x096B, d + 1, nullptr, nullptr, b.data(), &len), 0);
    EXPECT_EQ(call(0x0969, d + 1, nullptr, nullptr, b.data(), &len), 101);
    int32_t vlen = 0;
    ASSERT_EQ(call(0x05B5, d, nullptr, nullptr, nullptr, &vlen), 0);
    EXPECT_EQ(vlen, int32_t(rec.size()));
    len = int32_t(b.size());
    ASSERT_EQ(call(0x0D7A, d, nullptr, nullptr, b.data(), &len), 0);
    int32_t pos = int32_t(curpos(d));
    len = int32_t(b.size());
    ASSERT_EQ(call(0x0BE1, d, nullptr, &pos, b.data(), &len), 0);
    EXPECT_EQ(len, int32_t(rec.size()));
    len = int32_t(b.size());
    ASSERT_EQ(call(0x0BE2, d + 1, nullptr, &pos, b.data(), &len, 1), 0) << "the variable-length read";
    rec.append(100, 'w');
    len = int32_t(rec.size());
    ASSERT_EQ(call(0x0579, d, nullptr, nullptr, rec.data(), &len), 0);
    EXPECT_EQ(GETVLEN(d), int32_t(rec.size()));
    ASSERT_EQ(call(0x0108, d), 0);
    EXPECT_EQ(IDXENT(d + 1), 0u);
    EXPECT_EQ(check(d), "");
}

}  // namespace
