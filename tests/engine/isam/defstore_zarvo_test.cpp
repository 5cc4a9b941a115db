// The definition store, rename, index add and drop and the parameter-file
// starts through the function-number entry point.
#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include "engine/core/instance.h"
#include "engine/entry/dispatch.h"
#include "engine/isam/isam_services.h"
#include "tests/support/setcheck.h"
#include "tests/support/setfix.h"

namespace {

using settest::CustSet;
using settest::SetTest;

class ZarvoDefTest : public SetTest {
protected:
    static int16_t call(uint16_t fn, int filno, void *a3) { return zarvo(fn, int16_t(filno), a3, nullptr, nullptr, nullptr, 0); }
};

TEST_F(ZarvoDefTest, CodesReachTheirTargets) {
    struct Code {
        uint16_t fn;
        const char *name;
    };
    const Code codes[] = {
        {0x2164, "PUTIFILz"}, {0x2172, "RENIFILz"},  {0x0162, "PRMIIDXz"}, {0x0163, "TMPIIDXz"},
        {0x0167, "RBLIIDXz"}, {0x008F, "zvDROPIDX"}, {0x315A, "CREISAMX"}, {0x315B, "OPNISAMX"},
    };
    for (const Code &c : codes) {
        zv::DispatchTarget t{};
        ASSERT_TRUE(zv::describe_function(c.fn, &t)) << c.name;
        EXPECT_STREQ(t.name, c.name);
        EXPECT_TRUE(t.bound) << c.name;
    }
}

TEST_F(ZarvoDefTest, SetCallsThroughFunctionNumbers) {
    CustSet s;
    s.ifil.dfilmod = 0x800;
    ASSERT_EQ(CREIFIL(&s.ifil), 0);
    const int d = s.ifil.tfilno;
    ASSERT_EQ(add_cust(d, 40), 0);
    // PUTIFILz: the data file open under tfilno (create block word 10).
    XCREblk blk{};
    blk.flags = 0x1;
    IFILPARM p{};
    p.ifil = &s.ifil;
    p.xcre = &blk;
    ASSERT_EQ(call(0x2164, 0, &p), 0);
    EXPECT_GT(GETIFIL(d, 0, nullptr), 0);
    // RENIFILz.
    CustSet c("client");
    c.idx[2].aidxnam = "*client_x.idx";
    c.ifil.tfilno = int16_t(d);
    IFILPARM rp{};
    rp.ifil = &c.ifil;
    ASSERT_EQ(call(0x2172, 0, &rp), 0);
    EXPECT_EQ(files_in(), (std::set<std::string>{"client.dat", "client.idx", "client_x.idx"}));
    // PRMIIDXz (empty: dxtdsiz 3), RBLIIDXz, then zvDROPIDX.
    static ISEG sn[1] = {{30, 10, 0}};
    IIDX nx[1] = {{14, 0, 1, 0, 0, 1, sn, "ByNameN", "*client_n.idx", nullptr, nullptr}};
    IFIL add = {nullptr, int16_t(d), 0, 3, 0, 1, 0, 0, nx, nullptr, nullptr, -1};
    IFILPARM ap{};
    ap.ifil = &add;
    ASSERT_EQ(call(0x0162, 0, &ap), 0);
    const int n = add.tfilno;
    EXPECT_EQ(IDXENT(n), 0u);
    ASSERT_EQ(call(0x0167, 0, &ap), 0);
    EXPECT_EQ(IDXENT(n), 40u);
    EXPECT_EQ(zvtest::check_set(d), "");
    ASSERT_EQ(call(0x008F, n, nullptr), 0);
    EXPECT_EQ(zv::isam_map_index(d, 3), -1);
    // TMPIIDXz, and its refusal by the ISAM return rule.
    add.dxtdsiz = 0;
    add.tfilno = -1;
    ASSERT_EQ(call(0x0163, 0, &ap), 0);
    EXPECT_EQ(GETFIL(add.tfilno, 26) & 32, 32);
    EXPECT_EQ(call(0x008F, add.tfilno, nullptr), 446);
    EXPECT_EQ(zvGetIsamErrorCode(), 446);
    EXPECT_EQ(CLIFIL(&s.ifil), 0);
}

// The entry point needs a current instance: one registered, not started.
TEST_F(ZarvoDefTest, ParameterFilesThroughFunctionNumbers) {
    ASSERT_EQ(CLISAM(), 0);
    ASSERT_EQ(REGZARVO("params"), 0);
    zvtest::write_file("p.txt", "8 4 4 1\n1 pa.dat 16 0 0 1\na b\n2 pa.idx 4 0 0 0 0 0 0 32 1\nK\n0 4 0\n");
    const intptr_t block[2] = {reinterpret_cast<intptr_t>("p.txt"), 33};
    ASSERT_EQ(zarvo(0x315A, 0, const_cast<intptr_t *>(block), nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(zv::isam_map_index(1, 0), 2);
    ASSERT_EQ(CLISAM(), 0);
    ASSERT_EQ(zarvo(0x315B, 0, const_cast<intptr_t *>(block), nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(TSTFILNUM(2), 46);
    ASSERT_EQ(CLISAM(), 0);
    const intptr_t missing[2] = {reinterpret_cast<intptr_t>("none.txt"), 33};
    EXPECT_EQ(zarvo(0x315B, 0, const_cast<intptr_t *>(missing), nullptr, nullptr, nullptr, 0), 102);
    EXPECT_STREQ(WCHZARVO(), "params");
    ASSERT_EQ(INTISAM(10, 20, 4), 0);
}

}  // namespace
