// A full disk under record writes: a child process under a file-size limit
// writes records until one fails. The system ends the write that reaches
// the limit early, without a reason, and fails the next one (EFBIG, as a
// full disk fails it with ENOSPC): the failed write keeps that reason in
// the system error code.
#include <cerrno>
#include <csignal>
#include <sys/resource.h>

#include "tests/recapi/records/navfix.h"
#include "tests/support/child.h"
#include "tests/support/damage.h"

namespace rectest {
namespace {

class FullDiskTest : public CityTest {};

TEST_F(FullDiskTest, AWriteThatFindsNoRoomKeepsTheSystemsReason) {
    make_cities(0, 300);
    ASSERT_EQ(ZVFLUSH(-1), 0);
    // Room for a few more pages and nodes, the limit inside a page.
    uint64_t largest = 0;
    for (const char *name : {"cities.dat", "cities.idx"}) largest = std::max(largest, zvtest::file_size(name));
    const rlim_t limit = rlim_t((largest + 511) / 512 * 512 + 8192 + 123);
    zvtest::ChildResult c = zvtest::run_in_child([&] {
        zvtest::ChildResult r;
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl = {limit, limit};
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0) return r;
        for (int32_t id = 1000; id < 6000; id++) {
            usys(0);
            if ((r.rc = add_city(id, "Chur", 1)) != 0) {
                r.sys = zvGetSystemErrorCode();
                r.extra = id;
                return r;
            }
        }
        return r;
    });
    ASSERT_TRUE(c.ok);
    EXPECT_TRUE(c.rc == 37 || c.rc == 105) << c.rc << " at record " << c.extra;
    EXPECT_EQ(c.sys, EFBIG) << "record " << c.extra;
}

}  // namespace
}  // namespace rectest
