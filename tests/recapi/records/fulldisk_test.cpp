// A full disk under record writes: a child process under a file-size limit
// writes records until one fails. The system ends the write that reaches
// the limit early, without a reason, and fails the next one (EFBIG, as a
// full disk fails it with ENOSPC): the failed write keeps that reason in
// the system error code. That is so while the process ignores SIGXFSZ,
// which the system raises at that write and which otherwise ends it.
#include <cerrno>
#include <csignal>
#include <sys/resource.h>

#include "tests/recapi/records/navfix.h"
#include "tests/support/child.h"
#include "tests/support/damage.h"

namespace rectest {
namespace {

class FullDiskTest : public CityTest {
protected:
    // 300 cities flushed, then a child under a file-size limit a few pages
    // and nodes past the files' ends (inside a page), SIGXFSZ ignored or
    // left as it is, writes records until one fails: its code, system error
    // and id (the child's wait status beside).
    zvtest::ChildResult write_past_limit(bool ignore_signal) {
        make_cities(0, 300);
        EXPECT_EQ(ZVFLUSH(-1), 0);
        uint64_t largest = 0;
        for (const char *name : {"cities.dat", "cities.idx"}) largest = std::max(largest, zvtest::file_size(name));
        const rlim_t limit = rlim_t((largest + 511) / 512 * 512 + 8192 + 123);
        return zvtest::run_in_child([&] {
            zvtest::ChildResult r;
            if (ignore_signal) signal(SIGXFSZ, SIG_IGN);
            // No core file from the signal's default action.
            struct rlimit nocore = {0, 0};
            struct rlimit rl = {limit, limit};
            if (setrlimit(RLIMIT_CORE, &nocore) != 0 || setrlimit(RLIMIT_FSIZE, &rl) != 0) return r;
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
    }
};

TEST_F(FullDiskTest, AWriteThatFindsNoRoomKeepsTheSystemsReason) {
    const zvtest::ChildResult c = write_past_limit(true);
    ASSERT_TRUE(c.ok);
    EXPECT_TRUE(c.rc == 37 || c.rc == 105) << c.rc << " at record " << c.extra;
    EXPECT_EQ(c.sys, EFBIG) << "record " << c.extra;
}

TEST_F(FullDiskTest, PastAFileSizeLimitSIGXFSZEndsAProcessThatDoesNotIgnoreIt) {
    const zvtest::ChildResult c = write_past_limit(false);
    EXPECT_FALSE(c.ok);
    ASSERT_TRUE(WIFSIGNALED(c.status)) << c.status;
    EXPECT_EQ(WTERMSIG(c.status), SIGXFSZ);
}

}  // namespace
}  // namespace rectest
