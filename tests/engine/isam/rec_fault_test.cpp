// Write faults during record updates: with caches small enough that each
// call writes, the Nth write fails once, for N = 1, 2, ... until a call
// runs without reaching the fault. Every failing call returns a code other
// than 105, and the set checker finds the data file and its indexes in the
// state before the call; also after close and reopen.
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/arith.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/fcb.h"
#include "engine/files/spaceidx.h"
#include "engine/files/varrec.h"
#include "tests/engine/isam/recfix.h"

namespace {

using namespace rectest;
using zv::IoKind;
using zvtest::SetState;

// A variable-length customer: the record and a tail of n bytes.
std::string vrec(uint32_t number, const char *c, size_t tail) {
    Cust r = cust(number, c);
    std::string s(reinterpret_cast<const char *>(&r), sizeof r);
    s.append(tail, char('a' + number % 26));
    return s;
}

class RecFaultTest : public RecTest, public ::testing::WithParamInterface<bool> {
protected:
    // Changes spread over the set so that the caches hold changed pages and
    // nodes when the call under test starts: the names and cities of some
    // records far from the ones the calls change.
    static void dirty(int d) {
        Cust r;
        for (uint32_t n = 700; n >= 500; n -= 40) {
            ASSERT_EQ(EQLREC(d + 1, num(n).data(), &r), 0);
            strcpy(r.name, "changed");
            strcpy(r.city, n % 80 ? "Sion" : "Aarau");
            ASSERT_EQ(RWTREC(d, &r), 0);
        }
    }
    static void vdirty(int d) {
        for (uint32_t n = 390; n >= 300; n -= 30) {
            std::string b(400, '\0');
            int32_t l = int32_t(b.size());
            ASSERT_EQ(EQLVREC(d + 1, num(n).data(), b.data(), &l), 0);
            b.resize(size_t(l));
            memcpy(b.data() + kNameOff, "changed", 7);
            const char *c = n % 60 ? "Sion" : "Aarau";
            memcpy(b.data() + kCityOff, c, strlen(c) + 1);
            ASSERT_EQ(RWTVREC(d, b.data(), l), 0);
        }
    }

    // A copy of every file of the directory (the set, closed).
    static void save_template() { zvtest::save_template(); }
    static void restore_template() { zvtest::restore_template(); }

    struct Sweep {
        const char *what;
        std::function<void(int d)> prepare;  // makes the record to change current
        std::function<int(int d)> op;
    };

    // Runs the sweep over the set of def (its files in the template).
    void sweep(CustDef &def, const Sweep &s) {
        SCOPED_TRACE(s.what);
        // The state after a clean run.
        SetState before, after;
        run(def, s, 0, &before, &after);
        ASSERT_NE(before, after);
        int failures = 0, absorbed = 0;
        for (long n = 1;; n++) {
            ASSERT_LT(n, 400);
            SetState b, a;
            bool fired = false;
            int rc = run(def, s, n, &b, &a, &fired);
            if (HasFatalFailure()) return;
            EXPECT_TRUE(b == before);
            if (!fired) {
                EXPECT_EQ(rc, 0);
                EXPECT_TRUE(a == after);
                break;
            }
            if (rc) {
                failures++;
                EXPECT_NE(rc, 105) << "write " << n;
                EXPECT_TRUE(a == before) << "write " << n << " failed with " << rc;
            } else {
                absorbed++;
                EXPECT_TRUE(a == after) << "write " << n;
            }
        }
        EXPECT_GT(failures + absorbed, 0) << "the call writes";
        // A write that fails during the call reaches the caller: none is
        // passed over while the call reports success.
        EXPECT_EQ(absorbed, 0);
        RecordProperty(std::string(s.what) + " failures", failures);
        RecordProperty(std::string(s.what) + " absorbed", absorbed);
    }

    // One run: fresh files, open, prepare, the call with write n failing
    // (0: none), the check, close, reopen and the check again.
    int run(CustDef &def, const Sweep &s, long n, SetState *before, SetState *after, bool *fired = nullptr) {
        restore_template();
        EXPECT_EQ(OPNIFIL(&def.ifil), 0);
        int d = def.ifil.tfilno;
        s.prepare(d);
        EXPECT_EQ(check(d, before), "");
        const uint64_t cur = curpos(d);
        zv::fault_reset();
        if (n) zv::fault_set(IoKind::Write, n, EIO);
        int rc = s.op(d);
        if (fired) *fired = n && zv::io_calls(IoKind::Write) >= n;
        zv::fault_reset();
        EXPECT_EQ(check(d, after), "") << "write " << n << ", code " << rc;
        if (rc) {
            EXPECT_EQ(curpos(d), cur) << "a failed call keeps the current record";
        }
        EXPECT_EQ(CLIFIL(&def.ifil), 0) << "write " << n;
        EXPECT_EQ(OPNIFIL(&def.ifil), 0);
        SetState again;
        EXPECT_EQ(check(def.ifil.tfilno, &again), "") << "after reopen, write " << n;
        EXPECT_TRUE(again == *after) << "after reopen, write " << n;
        EXPECT_EQ(CLIFIL(&def.ifil), 0);
        return rc;
    }
};

// The sweeps of the fixed-length calls over a set of 150 records: in a set
// whose files are written through (every change reaches the disk at once)
// and in a buffered one whose caches hold changes of earlier calls.
TEST_P(RecFaultTest, FixedLengthAddRewriteAndDelete) {
    const bool through = GetParam();
    restart(3, 3);
    CustDef def("cust", false, through ? 0x40 : 0);
    int d = make(def);
    for (uint32_t n = 1; n <= 150; n++) add(d, cust(n * 5, n % 3 ? "Bern" : "Rome"));
    ASSERT_EQ(CLIFIL(&def.ifil), 0);
    save_template();
    auto current = [through](uint32_t number) {
        return [number, through](int d) {
            Cust r;
            if (!through) dirty(d);
            ASSERT_EQ(EQLREC(d + 1, num(number).data(), &r), 0);
        };
    };
    sweep(def, {"ADDREC", current(5), [](int d) {
                    Cust c = cust(333, "Chur");
                    return ADDREC(d, &c);
                }});
    sweep(def, {"RWTREC with new keys", current(250), [](int d) {
                    Cust c = cust(777, "Aarau");
                    return RWTREC(d, &c);
                }});
    sweep(def, {"DELREC", current(250), [](int d) { return DELREC(d); }});
}

TEST_P(RecFaultTest, VariableLengthAddRewriteAndDelete) {
    const bool through = GetParam();
    restart(3, 3);
    CustDef def("vcust", true, through ? 0x40 : 0);
    int d = make(def);
    for (uint32_t n = 1; n <= 80; n++) {
        std::string r = vrec(n * 5, n % 3 ? "Bern" : "Rome", 20 + n % 7 * 10);
        ASSERT_EQ(ADDVREC(d, r.data(), int32_t(r.size())), 0);
    }
    // Number 205 is followed by a free area (210 deleted); 400 is last.
    std::string r(400, '\0');
    int32_t len = int32_t(r.size());
    ASSERT_EQ(EQLVREC(d + 1, num(210).data(), r.data(), &len), 0);
    ASSERT_EQ(DELVREC(d), 0);
    ASSERT_EQ(CLIFIL(&def.ifil), 0);
    save_template();
    auto current = [through](uint32_t number) {
        return [number, through](int d) {
            if (!through) vdirty(d);
            std::string b(400, '\0');
            int32_t l = int32_t(b.size());
            ASSERT_EQ(EQLVREC(d + 1, num(number).data(), b.data(), &l), 0);
        };
    };
    sweep(def, {"ADDVREC", current(5), [](int d) {
                    std::string v = vrec(333, "Chur", 45);
                    return ADDVREC(d, v.data(), int32_t(v.size()));
                }});
    sweep(def, {"RWTVREC in place", current(100), [](int d) {
                    std::string v = vrec(101, "Aarau", 5);
                    return RWTVREC(d, v.data(), int32_t(v.size()));
                }});
    sweep(def, {"RWTVREC grown", current(400), [](int d) {
                    std::string v = vrec(401, "Aarau", 300);
                    return RWTVREC(d, v.data(), int32_t(v.size()));
                }});
    sweep(def, {"RWTVREC joined", current(205), [](int d) {
                    std::string v = vrec(206, "Aarau", 60);
                    return RWTVREC(d, v.data(), int32_t(v.size()));
                }});
    sweep(def, {"RWTVREC moved", current(150), [](int d) {
                    std::string v = vrec(151, "Aarau", 250);
                    return RWTVREC(d, v.data(), int32_t(v.size()));
                }});
    sweep(def, {"DELVREC", current(150), [](int d) { return DELVREC(d); }});
}

// A rewrite that grew the last area or joined the free area after it, and
// then failed, leaves the area length, the last byte used, the neighbour's
// header and its space-index entry as they were.
TEST_P(RecFaultTest, AFailedGrowthOrJoinLeavesTheAreasAsTheyWere) {
    restart(3, 3);
    CustDef def("vcust", true, GetParam() ? 0x40 : 0);
    int d = make(def);
    for (uint32_t n = 1; n <= 4; n++) {
        std::string r = vrec(n, "Bern", 40);
        ASSERT_EQ(ADDVREC(d, r.data(), int32_t(r.size())), 0);
    }
    std::string b(400, '\0');
    int32_t len = int32_t(b.size());
    ASSERT_EQ(EQLVREC(d + 1, num(3).data(), b.data(), &len), 0);
    ASSERT_EQ(DELVREC(d), 0);  // the area after 2 is free
    // The space index took a node at the end: the area of 5 is the last.
    std::string five = vrec(5, "Bern", 200);  // too long for the free area
    ASSERT_EQ(ADDVREC(d, five.data(), int32_t(five.size())), 0);
    ASSERT_EQ(CLIFIL(&def.ifil), 0);
    save_template();
    struct Area {
        uint16_t mark;
        uint32_t arealen;
        bool operator==(const Area &o) const { return mark == o.mark && arealen == o.arealen; }
    };
    for (uint32_t which : {2u, 5u}) {
        SCOPED_TRACE(which == 2 ? "joined" : "grown");
        int failures = 0;
        for (long n = 1;; n++) {
            ASSERT_LT(n, 100);
            restore_template();
            ASSERT_EQ(OPNIFIL(&def.ifil), 0);
            d = def.ifil.tfilno;
            FCB *f = zvWNGV->fcbtab[d];
            len = int32_t(b.size());
            ASSERT_EQ(EQLVREC(d + 1, num(which).data(), b.data(), &len), 0);
            const uint64_t pos = curpos(d);
            auto area = [&](uint64_t p) {
                VRECHDR h{};
                EXPECT_EQ(getvhdr81(f, uint32_t(p >> 32), uint32_t(p), &h), 0);
                return Area{h.mark, h.arealen};
            };
            const Area mine = area(pos);
            const uint64_t next = pos + mine.arealen;
            const uint64_t last = zv::join64(f->hdr.ext.numrech, f->hdr.base.numrec);
            const Area neighbour = which == 2 ? area(next) : Area{};
            zv::fault_reset();
            zv::fault_set(IoKind::Write, n, EIO);
            std::string r = vrec(which, "Bern", 90);
            int rc = RWTVREC(d, r.data(), int32_t(r.size()));
            const bool fired = zv::io_calls(IoKind::Write) >= n;
            zv::fault_reset();
            if (!fired) {
                ASSERT_EQ(rc, 0);
                EXPECT_EQ(curpos(d), pos) << "the record stayed";
                ASSERT_EQ(CLIFIL(&def.ifil), 0);
                if (GetParam()) {
                    EXPECT_GT(failures, 3);
                }
                break;
            }
            if (rc) {
                failures++;
                EXPECT_TRUE(area(pos) == mine) << "write " << n;
                EXPECT_EQ(zv::join64(f->hdr.ext.numrech, f->hdr.base.numrec), last) << "write " << n;
                if (which == 2) {
                    EXPECT_TRUE(area(next) == neighbour) << "write " << n;
                    EXPECT_EQ(zv::space_has(zv::space_index_of(f), f, neighbour.arealen, next), 1) << "write " << n;
                }
            }
            EXPECT_EQ(check(d), "");
            ASSERT_EQ(CLIFIL(&def.ifil), 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Files, RecFaultTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool> &i) { return i.param ? "WrittenThrough" : "Buffered"; });

}  // namespace
