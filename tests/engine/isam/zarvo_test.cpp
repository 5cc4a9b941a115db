// The file-set calls through the function-number entry point, under its
// ISAM return rule.
#include <cstdint>
#include <cstring>

#include "engine/core/instance.h"
#include "engine/entry/dispatch.h"
#include "tests/support/setfix.h"

namespace {

using settest::CustSet;
using settest::SetTest;

class ZarvoSetTest : public SetTest {};

TEST_F(ZarvoSetTest, CodesReachTheirTargets) {
    struct Code {
        uint16_t fn;
        const char *name;
    };
    const Code codes[] = {
        {0x215F, "CREIFILz"}, {0x2161, "OPNIFILz"}, {0x0160, "CLIFIL"},   {0x015D, "DELIFIL"},
        {0x0111, "CLRFIL"},   {0x0112, "DELRFIL"},  {0x2109, "CLISAM"},   {0x316F, "INTISAMX"},
        {0x0FB6, "GETIFILX"}, {0x0235, "PUTDODAX"}, {0x0EB7, "GETDODAX"}, {0x23C4, "OPNRFILX"},
    };
    for (const Code &c : codes) {
        zv::DispatchTarget t{};
        ASSERT_TRUE(zv::describe_function(c.fn, &t)) << c.name;
        EXPECT_STREQ(t.name, c.name);
        EXPECT_TRUE(t.bound) << c.name;
    }
}

TEST_F(ZarvoSetTest, ASetThroughFunctionNumbers) {
    CustSet s;
    IFILPARM p{};
    p.ifil = &s.ifil;
    ASSERT_EQ(zarvo(0x215F, 0, &p, nullptr, nullptr, nullptr, 0), 0);
    int d = s.ifil.tfilno;
    ASSERT_GE(d, 0);
    // The record schema: type through the fourth argument, count in the
    // seventh; lengths come back through the sixth.
    const DATOBJ doda[2] = {{"a", 0, 51, 0, 0, 0}, {"b", 0, 16, 0, 0, 0}};
    int32_t type = 0, len = 0;
    ASSERT_EQ(zarvo(0x0235, int16_t(d), nullptr, &type, const_cast<DATOBJ *>(doda), nullptr, 2), 0);
    ASSERT_EQ(zarvo(0x0EB7, int16_t(d), nullptr, &type, nullptr, &len, 1), 0);
    EXPECT_EQ(len, 16 + 12);
    len = 0;
    ASSERT_EQ(zarvo(0x0FB6, int16_t(d), nullptr, nullptr, nullptr, &len, 0), 0);
    EXPECT_EQ(len, GETIFIL(d, 0, nullptr));
    EXPECT_GT(len, 0);
    // Close through the IFIL; the second close answers by the ISAM rule.
    ASSERT_EQ(zarvo(0x0160, 0, &s.ifil, nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(zarvo(0x0160, 0, &s.ifil, nullptr, nullptr, nullptr, 0), 22);
    EXPECT_EQ(zvGetIsamErrorCode(), 22);
    ASSERT_EQ(zarvo(0x2161, 0, &p, nullptr, nullptr, nullptr, 0), 0);
    ASSERT_EQ(zarvo(0x0111, int16_t(s.ifil.tfilno), nullptr, nullptr, nullptr, nullptr, 0), 0);
    // From the stored definition: name, mode and password in the block, the
    // data file number back through the fourth argument.
    intptr_t block[3] = {reinterpret_cast<intptr_t>("cust.dat"), 0, 0};
    int32_t datno = -1;
    ASSERT_EQ(zarvo(0x23C4, -1, block, &datno, nullptr, nullptr, 0), 0);
    ASSERT_GE(datno, 0);
    EXPECT_EQ(GETFIL(datno + 3, 4), datno);
    ASSERT_EQ(zarvo(0x0112, int16_t(datno), nullptr, nullptr, nullptr, nullptr, 0), 0);
    EXPECT_TRUE(files_in().empty());
    // Closing by name is not offered (second level, sub-function 11).
    int32_t status = 0;
    EXPECT_EQ(zarvo(0x26AB, 0, nullptr, &status, const_cast<char *>("cust.dat"), nullptr, 11), 454);
    EXPECT_EQ(status, 454);
    // A refusal comes back as the ISAM error.
    EXPECT_EQ(zarvo(0x215F, 0, nullptr, nullptr, nullptr, nullptr, 0), 540);
    // Stop, start again, and a delete through the IFIL.
    ASSERT_EQ(zarvo(0x2109, 0, nullptr, nullptr, nullptr, nullptr, 0), 0);
    ASSERT_EQ(REGZARVO("again"), 0);
    intptr_t start[5] = {10, 20, 4, 10, 33};
    ASSERT_EQ(zarvo(0x316F, 0, start, nullptr, nullptr, nullptr, 0), 0);
    ASSERT_EQ(CREIFIL(&s.ifil), 0);
    ASSERT_EQ(zarvo(0x015D, 0, &s.ifil, nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(s.ifil.tfilno, -1);
    EXPECT_TRUE(files_in().empty());
}

}  // namespace
