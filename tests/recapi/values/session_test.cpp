// Session handles, the clock routines and small text routines.
#include <climits>
#include <cstring>
#include <ctime>

#include "recapi/base/session.h"
#include "tests/support/fixture.h"
#include "zarvo/zvdb.h"

namespace {

using zvtest::ZvTest;
using SessionTest = ZvTest;

TEST_F(SessionTest, SessionHandles) {
    EXPECT_EQ(zvdbGetSessionHandle(nullptr), nullptr);
    auto *s = static_cast<tagZVDBSESSION *>(zvdbAllocSession(3));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->kind, 3505);
    EXPECT_EQ(zvdbGetSessionHandle(s), s);
    // A table handle without a session.
    auto *table = static_cast<tagZVDBTABLE *>(_zvdb_alloc(1, sizeof(tagZVDBTABLE)));
    ASSERT_NE(table, nullptr);
    table->kind = 3507;
    EXPECT_EQ(zvdbGetSessionHandle(table), nullptr);
    _zvdb_free(table);
    zvdbFreeSession(s);
}

TEST_F(SessionTest, StrRev) {
    struct Case {
        const char *in, *out;
    } cases[] = {{"", ""}, {"a", "a"}, {"ab", "ba"}, {"abc", "cba"}, {"abcd", "dcba"}};
    for (const Case &c : cases) {
        char buf[8];
        std::strcpy(buf, c.in);
        EXPECT_EQ(_zvdb_strrev(buf), buf);
        EXPECT_STREQ(buf, c.out);
    }
    EXPECT_EQ(_zvdb_strrev(nullptr), nullptr);
}

TEST_F(SessionTest, Clocks) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    ASSERT_EQ(_zvdbUTCTime(951825600, &y, &mo, &d, &h, &mi, &s), 0);  // 2000-02-29 12:00
    EXPECT_EQ(y, 2000);
    EXPECT_EQ(mo, 2);
    EXPECT_EQ(d, 29);
    EXPECT_EQ(h, 12);
    EXPECT_EQ(mi, 0);
    EXPECT_EQ(s, 0);
    ASSERT_EQ(_zvdbUTCTime(0, &y, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(y, 1970);
    y = -1;
    EXPECT_EQ(_zvdbUTCTime(INT64_MAX, &y, &mo, &d, &h, &mi, &s), 4033);
    EXPECT_EQ(y, -1);

    struct timespec before, after;
    tagZVDBUNIXTIME now{};
    clock_gettime(CLOCK_REALTIME, &before);
    ASSERT_EQ(_zvdbUnixTime(&now), 0);
    clock_gettime(CLOCK_REALTIME, &after);
    EXPECT_GE(now.seconds, before.tv_sec);
    EXPECT_LE(now.seconds, after.tv_sec);
    EXPECT_GE(now.nanoseconds, 0);
    EXPECT_LT(now.nanoseconds, 1000000000);
    EXPECT_EQ(_zvdbUnixTime(nullptr), 4007);

    time_t t0 = time(nullptr);
    ASSERT_EQ(_zvdbSysTime(&y, &mo, &d, &h, &mi, &s), 0);
    struct tm utc;
    gmtime_r(&t0, &utc);  // TZ=UTC: local time is UTC
    EXPECT_EQ(y, utc.tm_year + 1900);
    EXPECT_EQ(mo, utc.tm_mon + 1);
    EXPECT_NEAR(h * 3600 + mi * 60 + s, utc.tm_hour * 3600 + utc.tm_min * 60 + utc.tm_sec, 2);
    EXPECT_EQ(_zvdbSysTime(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
}

}  // namespace
