// A failing disk under the record calls: with caches of three buffers, so
// that every call reads and writes, the Nth read fails (EIO), the Nth write
// fails (EIO), or the Nth read or write comes out one byte short, for N =
// 1, 2, ... until a call runs without meeting the fault; each fault alone,
// first inside the call, then inside the close after a clean call.
//  - A call answers 0 with the set as after a clean call, or a code with
//    the set as before it (the set checker's view of records and keys).
//  - A close that answers 0 leaves a set that opens again without 14 and
//    holds what the call left: no record is lost behind a 0.
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>

#include "engine/core/platform.h"
#include "tests/reliability/relfix.h"
#include "tests/support/setcheck.h"

namespace {

using namespace reltest;
using zv::IoKind;
using zvtest::SetState;

struct Fault {
    const char *what;
    IoKind kind;
    int err;
    long short_by;
};
const Fault kFaults[] = {
    {"read fails", IoKind::Read, EIO, 0},
    {"write fails", IoKind::Write, EIO, 0},
    {"read one byte short", IoKind::Read, 0, 1},
    {"write one byte short", IoKind::Write, 0, 1},
};

struct Op {
    const char *what;
    uint32_t current;                 // number of the record made current first (0: none)
    std::function<int(int d)> call;
};

// What one run saw.
struct Outcome {
    int rc = 0;        // the call
    int closed = 0;    // the close after it
    bool fired = false;
    SetState now;      // the set after the call
    int reopened = 0;  // the open after the close
    SetState again;    // the set after that open
};

class FaultSweepTest : public RelTest, public ::testing::WithParamInterface<std::tuple<bool, int>> {
protected:
    bool variable() const { return std::get<0>(GetParam()); }
    const Fault &fault() const { return kFaults[std::get<1>(GetParam())]; }

    // The set with 60 records (every seventh deleted again), closed and
    // saved, under caches of three buffers.
    void build(SetDef &def) {
        restart(3, 3);
        ASSERT_EQ(CREIFIL(&def.ifil), 0);
        const int d = def.ifil.tfilno;
        for (uint32_t n = 1; n <= 60; n++) {
            std::string r = image(rec(n * 10), variable() ? 20 + n % 9 * 15 : 0);
            ASSERT_EQ(variable() ? ADDVREC(d, r.data(), int32_t(r.size())) : ADDREC(d, r.data()), 0) << n;
        }
        for (uint32_t n = 7; n <= 60; n += 7) {
            ASSERT_EQ(read(d, n * 10), 0);
            ASSERT_EQ(variable() ? DELVREC(d) : DELREC(d), 0);
        }
        ASSERT_EQ(CLIFIL(&def.ifil), 0);
        save_files("tpl");
    }

    // EQLREC/EQLVREC by number into buf_.
    int read(int d, uint32_t n) {
        int32_t len = int32_t(sizeof buf_);
        return variable() ? EQLVREC(d + 1, num(n).data(), buf_, &len) : EQLREC(d + 1, num(n).data(), buf_);
    }

    // One run: the saved set, opened; the record made current; the call,
    // with the nth call of the fault's kind failing in the call (in_close
    // false) or in the close after it (0: none); the set checked after the
    // call, closed, opened again and checked again.
    Outcome run(SetDef &def, const Op &op, long n, bool in_close, SetState *before) {
        Outcome r;
        restore_files("tpl");
        EXPECT_EQ(OPNIFIL(&def.ifil), 0);
        const int d = def.ifil.tfilno;
        if (op.current) {
            EXPECT_EQ(read(d, op.current), 0);
        }
        EXPECT_EQ(zvtest::check_set(d, before), "");
        const Fault &f = fault();
        auto arm = [&] {
            zv::fault_reset();
            if (n) zv::fault_set(f.kind, n, f.err, false, f.short_by);
        };
        if (!in_close) arm();
        r.rc = op.call(d);
        if (!in_close) {
            r.fired = n && zv::io_calls(f.kind) >= n;
            zv::fault_reset();
        }
        EXPECT_EQ(zvtest::check_set(d, &r.now), "") << "after the call, code " << r.rc;
        if (in_close) arm();
        r.closed = CLIFIL(&def.ifil);
        if (in_close) r.fired = n && zv::io_calls(f.kind) >= n;
        zv::fault_reset();
        if (r.closed) CLISAM(), restart(3, 3);  // whatever the close left open
        r.reopened = OPNIFIL(&def.ifil);
        if (r.reopened == 0) {
            EXPECT_EQ(zvtest::check_set(def.ifil.tfilno, &r.again), "") << "after the reopen";
            EXPECT_EQ(CLIFIL(&def.ifil), 0);
        }
        return r;
    }

    void sweep(SetDef &def, const Op &op) {
        SCOPED_TRACE(op.what);
        SetState before, after;
        Outcome clean = run(def, op, 0, false, &before);
        ASSERT_EQ(clean.rc, 0);
        ASSERT_EQ(clean.closed, 0);
        ASSERT_EQ(clean.reopened, 0);
        after = clean.now;
        ASSERT_NE(before, after);
        ASSERT_EQ(clean.again, after);
        for (bool in_close : {false, true}) {
            int failures = 0;
            for (long n = 1;; n++) {
                SCOPED_TRACE(std::string(in_close ? "close, " : "call, ") + fault().what + " " + std::to_string(n));
                ASSERT_LT(n, 500);
                SetState b;
                Outcome r = run(def, op, n, in_close, &b);
                if (HasFatalFailure()) return;
                EXPECT_EQ(b, before);
                if (!r.fired) {
                    EXPECT_EQ(r.rc, 0);
                    EXPECT_EQ(r.closed, 0);
                    break;
                }
                if (r.rc || r.closed) failures++;
                // The call: all or nothing.
                const SetState &want = r.rc == 0 ? after : before;
                EXPECT_EQ(r.now, want) << "the call answered " << r.rc;
                // The close: a 0 leaves a set that opens and holds it.
                if (r.closed == 0) {
                    EXPECT_EQ(r.reopened, 0) << "closed with 0";
                    EXPECT_EQ(r.again, want) << "after a close that answered 0";
                } else if (r.reopened == 0) {
                    EXPECT_EQ(r.again, want) << "after a close that answered " << r.closed;
                } else {
                    EXPECT_EQ(r.reopened, 14);
                }
            }
            RecordProperty(std::string(op.what) + (in_close ? " close" : " call") + " failures", failures);
        }
    }

    unsigned char buf_[1024] = {};
};

TEST_P(FaultSweepTest, AddRewriteAndDelete) {
    SetDef def(variable() ? "vset" : "fset", variable());
    build(def);
    if (HasFatalFailure()) return;
    const bool v = variable();
    auto put = [v](int d, uint32_t n, const char *city, size_t tail, bool rewrite) {
        std::string r = image(rec(n, city), tail);
        if (v) return rewrite ? RWTVREC(d, r.data(), int32_t(r.size())) : ADDVREC(d, r.data(), int32_t(r.size()));
        return rewrite ? RWTREC(d, r.data()) : ADDREC(d, r.data());
    };
    sweep(def, {"add", 0, [&](int d) { return put(d, 333, "Chur", 40, false); }});
    sweep(def, {"rewrite with keys moved", 250, [&](int d) { return put(d, 777, "Aarau", 80, true); }});
    if (v) {
        sweep(def, {"rewrite grown", 300, [&](int d) { return put(d, 300, "Sion", 400, true); }});
        sweep(def, {"rewrite shrunk", 590, [&](int d) { return put(d, 590, "Sion", 0, true); }});
    }
    sweep(def, {"delete", 120, [v](int d) { return v ? DELVREC(d) : DELREC(d); }});
}

std::string sweep_name(const ::testing::TestParamInfo<std::tuple<bool, int>> &i) {
    static const char *const kinds[] = {"ReadFails", "WriteFails", "ReadShort", "WriteShort"};
    return std::string(std::get<0>(i.param) ? "Variable" : "Fixed") + "_" + kinds[std::get<1>(i.param)];
}

INSTANTIATE_TEST_SUITE_P(Sets, FaultSweepTest, ::testing::Combine(::testing::Bool(), ::testing::Range(0, 4)),
                         sweep_name);

}  // namespace
