// Time values.
#include <ctime>

#include "recapi/base/session.h"
#include "tests/support/fixture.h"
#include "zarvo/zvdb.h"

namespace {

using zvtest::ZvTest;
using TimeTest = ZvTest;

ZVTIME ms_of(int h, int m, int s, int ms) { return ZVTIME(((h * 60 + m) * 60 + s) * 1000 + ms); }

TEST_F(TimeTest, CheckAndPack) {
    struct Case {
        int h, m, s, ms, rc;
    } cases[] = {
        {23, 59, 59, 999, 0}, {24, 0, 0, 0, 4034}, {0, 60, 0, 0, 4035}, {0, 0, 60, 0, 4036},
        {-1, 0, 0, 0, 4034}, {0, -1, 0, 0, 4035}, {0, 0, 0, 1000, 4145}, {0, 0, 0, -1, 4145},
        {24, 60, 0, 0, 4034},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(zvdbTimeCheckMsec(c.h, c.m, c.s, c.ms), c.rc);
        ZVTIME t = 77;
        EXPECT_EQ(zvdbTimePackMsec(&t, c.h, c.m, c.s, c.ms), c.rc);
        if (c.rc == 0) {
            EXPECT_EQ(t, ms_of(c.h, c.m, c.s, c.ms));
        } else {
            EXPECT_EQ(t, 77u);
        }
        if (c.rc != 4145) {
            EXPECT_EQ(zvdbTimeCheck(c.h, c.m, c.s), c.rc);
        }
    }
    ZVTIME t = 0;
    EXPECT_EQ(zvdbTimePack(&t, 23, 59, 59), 0);
    EXPECT_EQ(t, 86399u);
    EXPECT_EQ(zvdbTimePack(&t, 24, 0, 0), 4034);
    EXPECT_EQ(zvdbTimePack(nullptr, 1, 1, 1), 4007);
    EXPECT_EQ(zvdbTimePackMsec(nullptr, 1, 1, 1, 1), 4007);
}

TEST_F(TimeTest, Unpack) {
    int h = -5, m = -5, s = -5, ms = -5;
    EXPECT_EQ(zvdbTimeUnpack(86400, &h, &m, &s), 4034);
    EXPECT_EQ(h, -5);
    EXPECT_EQ(zvdbTimeUnpack(45296, &h, nullptr, &s), 0);  // 12:34:56
    EXPECT_EQ(h, 12);
    EXPECT_EQ(m, -5);
    EXPECT_EQ(s, 56);
    EXPECT_EQ(zvdbTimeUnpackMsec(ms_of(13, 5, 9, 42), &h, &m, &s, &ms), 0);
    EXPECT_EQ(h, 13);
    EXPECT_EQ(m, 5);
    EXPECT_EQ(s, 9);
    EXPECT_EQ(ms, 42);
    EXPECT_EQ(zvdbTimeUnpackMsec(86400000, &h, &m, &s, &ms), 4034);
    EXPECT_EQ(zvdbGetHour(86400), -1);
    EXPECT_EQ(zvdbGetHour(45296), 12);
    EXPECT_EQ(zvdbGetMinute(45296), 34);
    EXPECT_EQ(zvdbGetSecond(45296), 56);
    EXPECT_EQ(zvdbGetSecond(4000000000u), -1);
}

TEST_F(TimeTest, Text) {
    struct Case {
        ZVTIME t;
        bool ms;
        int type;
        const char *want;
    } cases[] = {
        {0, false, 1, "12:00:00 AM"}, {0, false, 3, " 0:00:00"}, {0, false, 8, "00:00:00"},
        {0, false, 5, "0000"}, {0, false, 10, " 0:00:00.000"},
        {ms_of(13, 5, 9, 42), true, 10, "13:05:09.042"}, {ms_of(13, 5, 9, 42), true, 2, " 1:05 PM"},
        {ms_of(13, 5, 9, 42), true, 11, "13:05:09.042"}, {ms_of(13, 5, 9, 42), true, 6, "01:05:09 PM"},
        {ms_of(13, 5, 9, 42), true, 7, "01:05 PM"}, {ms_of(13, 5, 9, 42), true, 4, "13:05"},
        {ms_of(13, 5, 9, 42), true, 9, "13:05"}, {43200, false, 2, "12:00 PM"},
        {3600 * 9 + 61, false, 11, "09:01:01.000"},
    };
    char buf[32];
    for (const Case &c : cases) {
        ZVDBRET rc = c.ms ? zvdbTimeMsecToString(c.t, c.type, buf, sizeof buf)
                          : zvdbTimeToString(c.t, c.type, buf, sizeof buf);
        ASSERT_EQ(rc, 0);
        EXPECT_STREQ(buf, c.want) << c.type;
    }
    EXPECT_EQ(zvdbTimeToString(0, 12, buf, sizeof buf), 4028);
    EXPECT_EQ(zvdbTimeToString(0, 0, buf, sizeof buf), 4028);
    EXPECT_EQ(zvdbTimeToString(0, 8, buf, 8), 4006);
    EXPECT_EQ(zvdbTimeToString(0, 8, buf, 9), 0);
    EXPECT_EQ(zvdbTimeToString(86400, 8, buf, sizeof buf), 4034);
    EXPECT_EQ(zvdbTimeToString(0, 8, nullptr, 9), 4007);
}

TEST_F(TimeTest, Parsing) {
    struct Case {
        const char *text;
        int type;
        bool ms;
        int rc;
        ZVTIME want;
    } cases[] = {
        {"12:30 AM", 2, false, 0, 1800}, {"12:30 pm", 2, false, 0, 45000},
        {"1:05pm", 7, false, 0, 13 * 3600 + 300}, {"13:00 PM", 2, false, 4034, 0},
        {"1230", 5, false, 0, 45000}, {"123", 5, false, 4033, 0}, {"7.5.3", 3, false, 0, 25503},
        {"at 7 : 05 : 03 sharp", 8, false, 0, 25503}, {"7:05:", 3, false, 0, 25500},
        {"10:20:30.5", 10, true, 0, ms_of(10, 20, 30, 5)},
        {"10:20:30.5", 10, false, 0, 37230}, {"10:20:30", 11, true, 0, ms_of(10, 20, 30, 0)},
        {"11:59:59 AM", 1, false, 0, 43199}, {"12:00:00 am", 6, false, 0, 0},
        {"12:00", 12, false, 4028, 0}, {"12:00", 0, false, 4028, 0},
        {"noon", 4, false, 4033, 0}, {"25:00", 4, false, 4034, 0},
        {"10:61", 9, false, 4035, 0}, {"10:20:30.1000", 10, true, 4145, 0},
        {"99999999999:00", 4, false, 4034, 0}, {"99999999999:00 PM", 2, false, 4034, 0},
    };
    for (const Case &c : cases) {
        ZVTIME out = 77;
        ZVDBRET rc = c.ms ? zvdbStringToTimeMsec(c.text, c.type, &out)
                          : zvdbStringToTime(c.text, c.type, &out);
        EXPECT_EQ(rc, c.rc) << c.text << " type " << c.type;
        EXPECT_EQ(out, c.rc ? 77u : c.want) << c.text << " type " << c.type;
    }
    ZVTIME out;
    EXPECT_EQ(zvdbStringToTime(nullptr, 3, &out), 4007);
    EXPECT_EQ(zvdbStringToTimeMsec("1:00", 4, nullptr), 4007);
}

TEST_F(TimeTest, FormatConversionsAreNotSupported) {
    ZVTIME t = 3;
    char buf[16];
    EXPECT_EQ(zvdbStringFormatToTime("10", "hh", &t), 4054);
    EXPECT_EQ(zvdbStringFormatToTimeMsec("10", "hh", &t), 4054);
    EXPECT_EQ(zvdbTimeToStringFormat(1, "hh", buf, sizeof buf), 4054);
    EXPECT_EQ(zvdbTimeMsecToStringFormat(1, "hh", buf, sizeof buf), 4054);
    EXPECT_EQ(t, 3u);
}

TEST_F(TimeTest, SessionDefault) {
    EXPECT_EQ(zvdbGetDefTimeType(nullptr), 0);
    EXPECT_EQ(zvdbSetDefTimeType(nullptr, 1), 4003);
    auto *s = static_cast<tagZVDBSESSION *>(zvdbAllocSession(3));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(zvdbGetDefTimeType(s), 2);
    EXPECT_EQ(zvdbSetDefTimeType(s, 12), 4019);
    EXPECT_EQ(zvdbSetDefTimeType(s, 0), 4019);
    EXPECT_EQ(zvdbSetDefTimeType(s, 11), 0);
    EXPECT_EQ(zvdbGetDefTimeType(s), 11);
    EXPECT_EQ(zvdbGetDefDateType(s), 1);  // the date default is its own field
    zvdbFreeSession(s);
}

TEST_F(TimeTest, CurrentTime) {
    EXPECT_EQ(zvdbCurrentTime(nullptr), 4007);
    time_t before = time(nullptr);
    ZVTIME t = 0;
    ASSERT_EQ(zvdbCurrentTime(&t), 0);
    time_t after = time(nullptr);
    if (before / 86400 == after / 86400) {  // TZ=UTC
        EXPECT_GE(int64_t(t), int64_t(before % 86400));
        EXPECT_LE(int64_t(t), int64_t(after % 86400));
    }
}

}  // namespace
