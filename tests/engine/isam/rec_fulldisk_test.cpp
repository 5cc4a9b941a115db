// A full disk under record calls: every write through the seam fails with
// ENOSPC from a point on. A call that needs a write fails with 37 (an add
// whose undo needs a write too: 105) and leaves ENOSPC as the system error
// code; a read that the data cache serves without a write (its page cached,
// or a clean page to drop for it) answers 0. Once the disk takes writes
// again, a flush writes what the cache kept, and the set holds every record
// as the calls that answered 0 left it.
#include <cerrno>
#include <cstring>
#include <map>
#include <string>

#include "engine/core/platform.h"
#include "tests/engine/isam/recfix.h"

namespace {

using namespace rectest;
using zv::IoKind;

class FullDiskTest : public RecTest {
protected:
    // 400 customers, eight to a data page of 512 bytes: customer 8k + 1
    // opens page k + 1 (the header's page comes first).
    static constexpr uint32_t kCount = 400;

    void SetUp() override {
        RecTest::SetUp();
        // Eight data pages and sixteen index nodes in the caches.
        restart(16, 8);
        d_ = make(def_);
        for (uint32_t n = 1; n <= kCount; n++) {
            Cust c = cust(n, n % 2 ? "Bern" : "Oslo");
            ASSERT_EQ(ADDREC(d_, &c), 0);
            names_[n] = "";
        }
        // Closed and opened again: the caches start empty.
        ASSERT_EQ(CLIFIL(&def_.ifil), 0);
        def_.ifil.tfilno = -1;
        ASSERT_EQ(OPNIFIL(&def_.ifil), 0);
        d_ = def_.ifil.tfilno;
    }

    // Reads customer n by its number: the call's answer (the record checked
    // when 0).
    int read(uint32_t n) {
        Cust r;
        int rc = EQLREC(d_ + 1, num(n).data(), &r);
        if (rc == 0) {
            EXPECT_EQ(r.number, n);
            EXPECT_STREQ(r.name, names_[n].c_str()) << n;
        }
        return rc;
    }
    // Gives customer n a new name through a rewrite (its data page dirty).
    void rename(uint32_t n, const char *name) {
        ASSERT_EQ(read(n), 0);
        Cust c = cust(n, n % 2 ? "Bern" : "Oslo", name);
        ASSERT_EQ(RWTREC(d_, &c), 0);
        names_[n] = name;
    }
    static void disk_full() { zv::fault_set(IoKind::Write, 1, ENOSPC, true); }
    static void mark() { usys(0); }

    // The disk takes writes again: the flush writes what the cache kept,
    // and the set opened again holds exactly the customers of names_.
    void recover_and_check() {
        zv::fault_reset();
        EXPECT_EQ(ZVFLUSH(-1), 0);
        ASSERT_EQ(CLIFIL(&def_.ifil), 0);
        def_.ifil.tfilno = -1;
        ASSERT_EQ(OPNIFIL(&def_.ifil), 0);
        d_ = def_.ifil.tfilno;
        EXPECT_EQ(check(d_), "");
        Cust r;
        uint32_t seen = 0;
        for (int rc = FRSREC(d_ + 1, &r); rc == 0; rc = NXTREC(d_ + 1, &r)) {
            seen++;
            auto it = names_.find(r.number);
            ASSERT_NE(it, names_.end()) << "customer " << r.number << " was never acknowledged";
            EXPECT_STREQ(r.name, it->second.c_str()) << r.number;
        }
        EXPECT_EQ(seen, names_.size());
    }

    CustDef def_{"full"};
    int d_ = -1;
    std::map<uint32_t, std::string> names_;  // every acknowledged customer and its name
};

// One changed page, least recently used, among clean ones: reads go on
// (a cached page; an uncached one in place of a clean page; a walk over
// every record), an add that needs the changed page's room and the flush
// fail with ENOSPC kept.
TEST_F(FullDiskTest, ReadsTheCacheServesGoOnWhileWritesFailWithTheSystemsCode) {
    rename(81, "first");  // page 11 changed ...
    for (uint32_t n : {161u, 201u, 241u, 281u, 321u, 361u, 393u}) ASSERT_EQ(read(n), 0);  // ... then seven clean
    disk_full();

    mark();
    EXPECT_EQ(read(121), 0) << "a clean page dropped for it";
    EXPECT_EQ(zvGetSystemErrorCode(), ENOSPC) << "the changed page could not be written";
    EXPECT_EQ(read(393), 0) << "a cached page";
    EXPECT_EQ(read(81), 0) << "the changed page, cached";

    mark();
    Cust c = cust(5000, "Lima");
    const int add = ADDREC(d_, &c);
    EXPECT_TRUE(add == 37 || add == 105) << add;
    EXPECT_EQ(zvGetSystemErrorCode(), ENOSPC);

    mark();
    EXPECT_EQ(ZVFLUSH(d_), 37);
    EXPECT_EQ(zvGetSystemErrorCode(), ENOSPC);

    Cust r;
    uint32_t walked = 0;
    int rc = FRSREC(d_ + 1, &r);
    for (; rc == 0; rc = NXTREC(d_ + 1, &r)) walked++;
    EXPECT_EQ(rc, 101);
    EXPECT_EQ(walked, kCount);

    recover_and_check();
}

// Every page of the cache changed: a read of another page needs one of
// them written, and fails with 37 and ENOSPC; the changed pages still read.
TEST_F(FullDiskTest, AReadThatNeedsAWriteFailsWithTheSystemsCode) {
    const uint32_t changed[] = {1, 41, 81, 121, 161, 201, 241, 281};
    for (uint32_t n : changed) rename(n, "changed");
    disk_full();
    mark();
    EXPECT_EQ(read(321), 37);
    EXPECT_EQ(zvGetSystemErrorCode(), ENOSPC);
    for (uint32_t n : changed) EXPECT_EQ(read(n), 0) << n;
    Cust r;
    mark();
    EXPECT_EQ(LSTREC(d_ + 1, &r), 37) << "the last record's page is not cached";
    EXPECT_EQ(zvGetSystemErrorCode(), ENOSPC);
    recover_and_check();
}

}  // namespace
