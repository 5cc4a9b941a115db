// Write faults under record writes: with files written through and caches
// small enough that each call writes, the Nth write fails, for N = 1, 2,
// ... until the call runs without reaching the fault. Every failing call
// returns a code and leaves the record as it was (new, edited, position),
// and after the table is opened again the set checker finds the data file
// and every index in step and holding what they held before the call.
#include <cerrno>
#include <functional>
#include <string>

#include "engine/core/platform.h"
#include "tests/recapi/records/navfix.h"
#include "tests/support/fixture.h"
#include "tests/support/setcheck.h"

namespace rectest {
namespace {

using zvtest::SetState;

class WriteFaultTest : public CityTest {
protected:
    void SetUp() override {
        CityTest::SetUp();
        // Three index nodes and three data pages in the caches.
        ASSERT_EQ(zvdbLogout(session_), 0);
        ASSERT_EQ(zvdbSetSessionParams(session_, 1, 3), 0);
        ASSERT_EQ(zvdbSetSessionParams(session_, 4, 3), 0);
        ASSERT_EQ(zvdbLogon(session_, nullptr, "tester", nullptr), 0);
        // Create bit 4: data and index files written through.
        make_cities(4, 150);
        ASSERT_EQ(zvdbCloseTable(table_), 0);
        zvtest::save_template();
    }

    struct Sweep {
        const char *what;
        std::function<void(tagZVDBRECORD *)> prepare;  // the record before the call
        std::function<int(tagZVDBRECORD *)> op;
    };

    // The record's flags and position.
    struct Flags {
        int isnew, edited;
        uint64_t position;
        bool operator==(const Flags &o) const {
            return isnew == o.isnew && edited == o.edited && position == o.position;
        }
    };
    static Flags flags(tagZVDBRECORD *r) {
        Flags f{zvdbIsNewRecord(r), zvdbIsEditedRecord(r), 0};
        EXPECT_EQ(zvdbGetRecordPos(r, &f.position), 0);
        return f;
    }

    // One run from the saved files: the call with write n failing (0:
    // none); the set before the call and after reopening goes to the
    // states. The call's code.
    int run(const Sweep &s, long n, SetState *before, SetState *after, bool *fired) {
        zvtest::restore_template();
        EXPECT_EQ(zvdbOpenTable(table_, "cities", 0), 0) << last();
        auto *r = static_cast<tagZVDBRECORD *>(zvdbAllocRecord(table_));
        s.prepare(r);
        EXPECT_EQ(zvtest::check_set(table_->datno, before), "");
        const Flags was = flags(r);
        zv::fault_reset();
        if (n) zv::fault_set(zv::IoKind::Write, n, EIO);
        const int rc = s.op(r);
        *fired = n && zv::io_calls(zv::IoKind::Write) >= n;
        zv::fault_reset();
        if (rc) {
            EXPECT_TRUE(flags(r) == was) << "write " << n << " failed with " << rc;
        }
        zvdbFreeRecord(r);
        EXPECT_EQ(zvdbCloseTable(table_), 0) << "write " << n;
        EXPECT_EQ(zvdbOpenTable(table_, "cities", 0), 0) << last();
        EXPECT_EQ(zvtest::check_set(table_->datno, after), "") << "after reopen, write " << n;
        EXPECT_EQ(zvdbCloseTable(table_), 0);
        return rc;
    }

    void sweep(const Sweep &s) {
        SCOPED_TRACE(s.what);
        SetState before, after;
        bool fired = false;
        ASSERT_EQ(run(s, 0, &before, &after, &fired), 0);
        ASSERT_NE(before, after);
        int failures = 0;
        for (long n = 1;; n++) {
            ASSERT_LT(n, 200);
            SetState b, a;
            const int rc = run(s, n, &b, &a, &fired);
            if (HasFatalFailure()) return;
            EXPECT_TRUE(b == before);
            if (!fired) {
                EXPECT_EQ(rc, 0);
                EXPECT_TRUE(a == after);
                break;
            }
            // A write that fails during the call reaches the caller.
            EXPECT_NE(rc, 0) << "write " << n;
            if (rc) failures++;
            EXPECT_TRUE(a == before) << "write " << n << " failed with " << rc;
        }
        EXPECT_GT(failures, 0) << "the call writes";
    }

    static void read_id(tagZVDBRECORD *r, int32_t id) {
        ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, id), 0);
        ASSERT_EQ(zvdbFindRecord(r, 0), 0);
    }
};

TEST_F(WriteFaultTest, AddRewriteAndDeleteFailWhole) {
    sweep({"add",
           [](tagZVDBRECORD *r) {
               ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, 333), 0);
               ASSERT_EQ(zvdbSetFieldAsString(r, kCity, "Chur"), 0);
           },
           [](tagZVDBRECORD *r) { return zvdbWriteRecord(r); }});
    sweep({"rewrite with a new city",
           [](tagZVDBRECORD *r) {
               read_id(r, 120);
               ASSERT_EQ(zvdbSetFieldAsString(r, kCity, "Zurich"), 0);
           },
           [](tagZVDBRECORD *r) { return zvdbWriteRecord(r); }});
    sweep({"delete", [](tagZVDBRECORD *r) { read_id(r, 120); }, [](tagZVDBRECORD *r) { return zvdbDeleteRecord(r); }});
}

}  // namespace
}  // namespace rectest
