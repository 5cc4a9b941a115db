#include <cstring>
#include <string>

#include "tests/support/setcheck.h"
#include "tests/support/setfix.h"
#include "tests/support/verifyset.h"

namespace {

using settest::CustSet;

class RblSmoke : public settest::SetTest {};

std::string rec(int i) {
    std::string r(64, ' ');
    char num[16];
    snprintf(num, sizeof num, "N%07d", i);
    memcpy(&r[0], num, 8);
    snprintf(num, sizeof num, "%04d", i % 7);
    memcpy(&r[8], num, 4);
    snprintf(num, sizeof num, "C%09d", i);
    memcpy(&r[20], num, 10);
    return r;
}

TEST_F(RblSmoke, CleanSet) {
    CustSet s;
    ASSERT_EQ(CREIFIL(&s.ifil), 0);
    int d = s.ifil.tfilno;
    for (int i = 0; i < 200; i++) {
        std::string r = rec(i);
        ASSERT_EQ(ADDREC(d, r.data()), 0) << i;
    }
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    int rc = RBLIFIL(&s.ifil);
    EXPECT_EQ(rc, 0) << zvGetIsamFileNbr();
    EXPECT_TRUE(zvtest::verify_set("cust.dat"));
    ASSERT_EQ(OPNIFIL(&s.ifil), 0);
    zvtest::SetState st;
    EXPECT_EQ(zvtest::check_set(s.ifil.tfilno, &st), "");
    EXPECT_EQ(st.records.size(), 200u);
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    for (auto &f : files_in()) printf("%s\n", f.c_str());
}

}  // namespace
namespace {
TEST_F(RblSmoke, DeletedIndexAndDamagedHeader) {
    CustSet s;
    ASSERT_EQ(CREIFIL(&s.ifil), 0);
    int d = s.ifil.tfilno;
    for (int i = 0; i < 500; i++) {
        std::string r = rec(i);
        ASSERT_EQ(ADDREC(d, r.data()), 0) << i;
    }
    for (int i = 10; i < 500; i += 10) {
        std::string r = rec(i);
        char out[64];
        ASSERT_EQ(EQLREC(d + 1, r.data(), out), 0);
        ASSERT_EQ(DELREC(d), 0);
    }
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    std::remove("cust.idx");
    // zero active count, delete stack, update flag 0xFF
    FILE *fp = fopen("cust.dat", "r+b");
    unsigned char z[4] = {};
    fseek(fp, 4, SEEK_SET); fwrite(z, 1, 4, fp);
    fseek(fp, 24, SEEK_SET); fwrite(z, 1, 4, fp);
    unsigned char ff = 0xFF;
    fseek(fp, 56, SEEK_SET); fwrite(&ff, 1, 1, fp);
    fclose(fp);
    int rc = RBLIFIL(&s.ifil);
    EXPECT_EQ(rc, 0) << zvGetIsamFileNbr();
    EXPECT_TRUE(zvtest::verify_set("cust.dat"));
    ASSERT_EQ(OPNIFIL(&s.ifil), 0);
    zvtest::SetState st;
    EXPECT_EQ(zvtest::check_set(s.ifil.tfilno, &st), "");
    EXPECT_EQ(st.records.size(), 451u);
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    printf("%s\n", zvtest::read_file("ZVSTATUS.QVS").c_str());
}
}
