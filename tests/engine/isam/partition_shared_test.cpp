// Partitioned hosts opened shared while another process holds a member set
// open: an add, rewrite or delete through the host takes the writer's lock
// of every member set it will change before its first change, so a member
// held elsewhere refuses it (12) before the host's global keys move, and
// not a byte of the host or of any member is written.
#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "engine/core/instance.h"
#include "engine/isam/partition.h"
#include "tests/engine/isam/partfix.h"
#include "tests/support/child.h"

namespace {

using namespace parttest;

constexpr uint16_t kShared = 0x0001;

bool lock_refusal(int rc, int sys) { return rc == 12 && (sys == EAGAIN || sys == EACCES); }

// Steps of the other process (the raw number in the bits above the step):
// open the member set of that raw number shared, by its own name; close it.
enum Step { kHold = 1, kRelease = 2 };
int command(Step s, int32_t raw = 0) { return s | raw << 4; }

zvtest::Peer other_process() {
    auto held = std::make_shared<int>(-1);
    return zvtest::Peer([held](int cmd) {
        zvtest::ChildResult r;
        if (!zvWNGV->started && INTISAMX(16, 30, 4, 32, 32) != 0) return r;
        if ((cmd & 15) == kHold) {
            char name[32];
            snprintf(name, sizeof name, "sales.dat.%03d", cmd >> 4);
            *held = OPNRFIL(-1, name, kShared);
            r.rc = *held >= 0 ? 0 : zvGetIsamErrorCode();
        } else {
            r.rc = CLRFIL(*held);
        }
        r.sys = zvGetSystemErrorCode();
        return r;
    });
}

class PartSharedTest : public PartTest {
protected:
    // Every file of the directory and its bytes, the status log left out.
    static std::map<std::string, std::string> contents() {
        std::map<std::string, std::string> out;
        for (const std::string &n : files())
            if (n != "tpl") out[n] = zvtest::read_file(n);
        return out;
    }
    // Makes the sale of that number the host's current record.
    static void find(int d, uint32_t number) {
        Sale s;
        int rc = FRSREC(d + 1, &s);
        while (rc == 0 && s.number != number) rc = NXTREC(d + 1, &s);
        ASSERT_EQ(rc, 0) << number;
    }
};

TEST_F(PartSharedTest, AMemberHeldElsewhereRefusesTheCallBeforeAnyChange) {
    SalesDef def("sales", Rule::Region);
    const int made = make_regions(def);
    ASSERT_EQ(add(made, sale(1, 0, 1)), 0);
    ASSERT_EQ(add(made, sale(2, 0, 1)), 0);
    ASSERT_EQ(add(made, sale(10, 0, 2)), 0);
    ASSERT_EQ(CLIFIL(&def.ifil), 0);
    zvtest::save_template();

    struct Case {
        const char *what;
        int32_t held;          // raw number of the member set held elsewhere
        uint32_t current;      // sale made current first (0: none)
        int (*op)(int d);
        size_t globals;        // global keys once the call went through
    } cases[] = {
        {"add", 1, 0, [](int d) { return add(d, sale(50, 0, 1)); }, 4},
        {"rewrite in its member", 1, 2,
         [](int d) {
             Sale s = sale(60, 0, 1);
             return RWTREC(d, &s);
         },
         3},
        {"rewrite to a member held", 2, 2,
         [](int d) {
             Sale s = sale(2, 0, 2);
             return RWTREC(d, &s);
         },
         3},
        {"rewrite from a member held", 1, 2,
         [](int d) {
             Sale s = sale(2, 0, 2);
             return RWTREC(d, &s);
         },
         3},
        {"delete", 1, 2, [](int d) { return DELREC(d); }, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        restore_files();
        zvtest::Peer peer = other_process();
        const int d = OPNRFIL(-1, "sales.dat", kShared);
        ASSERT_GE(d, 0);
        ASSERT_EQ(peer.ask(command(kHold, c.held)).rc, 0);
        // Every member is open before the call (a read of every record): an
        // open records its mode in the file's header, which is the open's
        // write, not the call's.
        EXPECT_EQ(numbers(d + 1, FRSREC, NXTREC).size(), 3u);
        if (c.current) find(d, c.current);
        const std::map<std::string, std::string> before = contents();
        const int rc = c.op(d);
        EXPECT_TRUE(lock_refusal(rc, zvGetSystemErrorCode())) << rc << " " << zvGetSystemErrorCode();
        EXPECT_EQ(zvGetIsamErrorCode(), 12);
        ASSERT_NE(entry(d, c.held), nullptr);
        EXPECT_EQ(zvGetIsamFileNbr(), entry(d, c.held)->filno);
        EXPECT_TRUE(contents() == before);
        // Once the other process lets go, the same call goes through.
        ASSERT_EQ(peer.ask(command(kRelease)).rc, 0);
        if (c.current) find(d, c.current);
        EXPECT_EQ(c.op(d), 0);
        EXPECT_EQ(check_members(d), "");
        EXPECT_EQ(global_entries(d + 3).size(), c.globals);
        ASSERT_EQ(CLRFIL(d), 0);
    }
}

}  // namespace
