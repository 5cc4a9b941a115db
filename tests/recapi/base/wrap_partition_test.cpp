// The partition-administration step of the record-level open: a table's
// pending request (a member file to add) is carried out when its data file
// is opened.
#include <cstring>
#include <string>

#include "recapi/base/wrappers.h"
#include "tests/recapi/base/basefix.h"

namespace {

using basetest::EngineTest;
using WrapPartitionTest = EngineTest;

// A partitioned set by the date rule: 32-byte records whose first 8 bytes
// are a day serial, its partition index over them.
struct DaySet {
    ISEG seg[1] = {{0, 8, 9}};
    IIDX idx[1] = {};
    IFIL ifil = {};
    XCREblk x[2] = {};
    explicit DaySet(const char *name) {
        idx[0] = IIDX{16, 0, 1, 0, 0, 1, seg, "ByDay", nullptr, nullptr, nullptr};
        ifil = IFIL{name, -1, 32, 0, 0, 1, 0, 0, idx, nullptr, nullptr, 0};
        x[0].mode = 0x40 | 0x400000;
        x[1].mode = 0x40;
    }
};

TEST_F(WrapPartitionTest, APendingRequestAddsItsMemberAtTheOpen) {
    // Member 1 (1970-01-02) of another host, closed (the session's files
    // lie under its prefix "pre/").
    DaySet other("pre/other"), host("pre/host");
    ASSERT_EQ(CREIFILX8(&other.ifil, nullptr, nullptr, 0, nullptr, nullptr, other.x), 0);
    unsigned char rec[32] = {};
    const double day = 25570.0;
    memcpy(rec, &day, sizeof day);
    ASSERT_EQ(ADDREC(other.ifil.tfilno, rec), 0);
    ASSERT_EQ(CLIFIL(&other.ifil), 0);
    ASSERT_EQ(CREIFILX8(&host.ifil, nullptr, nullptr, 0, nullptr, nullptr, host.x), 0);
    ASSERT_EQ(CLIFIL(&host.ifil), 0);

    auto *t = basetest::make<tagZVDBTABLE>(ZVDB_TABLE_HANDLE);
    t->session = session_;
    t->partrequest = _zvdb_strdup("pre/other.dat.19700102.000001");
    int f = -1;
    ASSERT_EQ(_zvdbOPNRFILX(t, "host", 0, nullptr, ".dat", &f, 0), 0);
    EXPECT_EQ(t->partrequest, nullptr);
    EXPECT_EQ(PTADMIN(f, "pre/other.dat.19700102.000001", 0, 2048 | 1), 0);
    EXPECT_EQ(zvGetSystemErrorCode(), 1);
    unsigned char got[32] = {};
    ASSERT_EQ(FRSREC(f, got), 0);
    EXPECT_EQ(memcmp(got, rec, sizeof rec), 0);
    ASSERT_EQ(CLRFIL(f), 0);

    // A request that cannot be carried out gives its code; the file stays
    // open and the request is gone.
    t->partrequest = _zvdb_strdup("nosuch.dat");
    EXPECT_EQ(_zvdbOPNRFILX(t, "host", 0, nullptr, ".dat", &f, 0), 12);
    EXPECT_EQ(t->partrequest, nullptr);
    EXPECT_EQ(CLRFIL(f), 0);
    _zvdb_free(t);
}

}  // namespace
