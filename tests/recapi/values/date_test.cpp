// Date values.
#include <ctime>
#include <string>

#include "engine/core/pools.h"
#include "recapi/base/session.h"
#include "tests/support/fixture.h"
#include "zarvo/zvdb.h"

namespace {

using zvtest::ZvTest;

class DateTest : public ZvTest {
protected:
    void TearDown() override {
        zv::fail_alloc_at(0);
        ZvTest::TearDown();
    }
};

struct Ymd {
    int y, m, d;
};

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int month_days(int y, int m) {
    static const int len[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return len[m - 1] + (m == 2 && leap(y) ? 1 : 0);
}

TEST_F(DateTest, FixedDays) {
    struct Case {
        Ymd date;
        ZVDATE day;
    } cases[] = {
        {{1700, 3, 1}, 1}, {{1899, 12, 30}, 72988}, {{1900, 1, 1}, 72990},
        {{1970, 1, 1}, 98557}, {{2000, 2, 29}, 109573}, {{2000, 1, 1}, 109514},
        {{117588, 12, 31}, 42327529},
    };
    for (const Case &c : cases) {
        ZVDATE d = 0;
        ASSERT_EQ(zvdbDatePack(&d, c.date.y, c.date.m, c.date.d), 0);
        EXPECT_EQ(d, c.day);
        int y, m, dd;
        ASSERT_EQ(zvdbDateUnpack(c.day, &y, &m, &dd), 0);
        EXPECT_EQ(y, c.date.y);
        EXPECT_EQ(m, c.date.m);
        EXPECT_EQ(dd, c.date.d);
    }
}

// Every day of the range splits and packs back, and each next day is the
// calendar's next day.
TEST_F(DateTest, EveryDayRoundTripsAndStepsByOne) {
    Ymd want{1700, 3, 1};
    int failures = 0;
    for (ZVDATE day = 1; day <= 42327756 && failures < 5; day++) {
        int y, m, d;
        if (zvdbDateUnpack(day, &y, &m, &d) != 0 || y != want.y || m != want.m || d != want.d) {
            ADD_FAILURE() << "day " << day << " is " << y << "-" << m << "-" << d;
            failures++;
        }
        if (day <= 42327529) {
            ZVDATE back = 0;
            if (zvdbDatePack(&back, y, m, d) != 0 || back != day) {
                ADD_FAILURE() << "day " << day << " packs to " << back;
                failures++;
            }
        }
        if (++want.d > month_days(want.y, want.m)) {
            want.d = 1;
            if (++want.m > 12) {
                want.m = 1;
                want.y++;
            }
        }
    }
    EXPECT_EQ(failures, 0);
    int y = 0, m = 0, d = 0;
    ASSERT_EQ(zvdbDateUnpack(42327756, &y, &m, &d), 0);
    EXPECT_EQ(y, 117589);
    EXPECT_EQ(m, 8);
    EXPECT_EQ(d, 15);
}

TEST_F(DateTest, PackAndUnpackLimits) {
    int y = -1, m = -1, d = -1;
    EXPECT_EQ(zvdbDateUnpack(0, &y, &m, &d), 4029);
    EXPECT_EQ(zvdbDateUnpack(42327757, &y, &m, &d), 4029);
    EXPECT_EQ(y, -1);
    EXPECT_EQ(zvdbDateUnpack(1, nullptr, &m, &d), 4007);
    struct Case {
        Ymd date;
        int rc;
    } cases[] = {
        {{1700, 2, 28}, 4029}, {{1700, 1, 31}, 4029}, {{1699, 12, 31}, 4029},
        {{117589, 1, 1}, 4029}, {{2020, 13, 1}, 4031}, {{2020, 0, 1}, 4031},
        {{1700, 0, 1}, 4031}, {{2020, 1, 32}, 0}, {{1700, 3, 0}, 4029},
        {{117588, 12, 300}, 4029},
    };
    for (const Case &c : cases) {
        ZVDATE out = 7;
        EXPECT_EQ(zvdbDatePack(&out, c.date.y, c.date.m, c.date.d), c.rc)
            << c.date.y << "-" << c.date.m << "-" << c.date.d;
        if (c.rc) {
            EXPECT_EQ(out, 7u);
        }
    }
    // The day of month enters linearly: 32 January is 1 February.
    ZVDATE a = 0, b = 0;
    zvdbDatePack(&a, 2020, 1, 32);
    zvdbDatePack(&b, 2020, 2, 1);
    EXPECT_EQ(a, b);
    EXPECT_EQ(zvdbDatePack(nullptr, 2020, 1, 1), 4007);
}

TEST_F(DateTest, Check) {
    struct Case {
        Ymd date;
        int rc;
    } cases[] = {
        {{1900, 2, 29}, 4030}, {{2000, 2, 29}, 0}, {{2004, 2, 29}, 0}, {{0, 1, 1}, 4032},
        {{117589, 1, 1}, 4032}, {{2020, 13, 1}, 4031}, {{2020, 4, 31}, 4030}, {{2020, 4, 0}, 4030},
        {{1, 1, 1}, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(zvdbDateCheck(c.date.y, c.date.m, c.date.d), c.rc)
            << c.date.y << "-" << c.date.m << "-" << c.date.d;
}

TEST_F(DateTest, Queries) {
    EXPECT_EQ(zvdbDayOfWeek(1), 1);
    EXPECT_EQ(zvdbDayOfWeek(98557), 4);
    EXPECT_EQ(zvdbDayOfWeek(0), -1);
    EXPECT_EQ(zvdbGetYear(109573), 2000);
    EXPECT_EQ(zvdbGetMonth(109573), 2);
    EXPECT_EQ(zvdbGetDay(109573), 29);
    EXPECT_EQ(zvdbIsLeapYear(109573), 1);
    EXPECT_EQ(zvdbIsLeapYear(72990), 0);  // 1900
    EXPECT_EQ(zvdbGetYear(0), 0);
    EXPECT_EQ(zvdbGetDay(42327757), 0);
    EXPECT_EQ(zvdbIsLeapYear(0), 0);
}

TEST_F(DateTest, Text) {
    struct Case {
        ZVDATE date;
        int type;
        const char *want;
    } cases[] = {
        {72990, 1, "01/01/1900"}, {72990, 2, "01/01/00"}, {72990, 3, "01/01/1900"},
        {72990, 4, "01/01/00"}, {72990, 5, "19000101"}, {72990, 6, "000101"},
        {109573, 3, "29/02/2000"}, {42327529, 1, "12/31/117588"},
    };
    char buf[32];
    for (const Case &c : cases) {
        ASSERT_EQ(zvdbDateToString(c.date, c.type, buf, sizeof buf), 0);
        EXPECT_STREQ(buf, c.want);
    }
    EXPECT_EQ(zvdbDateToString(72990, 1, buf, 10), 4006);
    EXPECT_EQ(zvdbDateToString(72990, 1, buf, 11), 0);
    EXPECT_EQ(zvdbDateToString(72990, 7, buf, sizeof buf), 4019);
    EXPECT_EQ(zvdbDateToString(0, 1, buf, sizeof buf), 4029);
    EXPECT_EQ(zvdbDateToString(42327757, 1, buf, sizeof buf), 4029);
    EXPECT_EQ(zvdbDateToString(1, 1, nullptr, 10), 4007);
}

TEST_F(DateTest, Parsing) {
    struct Case {
        const char *text;
        int type;
        int rc;
        Ymd date;
    } cases[] = {
        {"12/25/2020", 1, 0, {2020, 12, 25}}, {"12-25-20", 2, 0, {2020, 12, 25}},
        {"1.2.45", 4, 0, {1945, 2, 1}}, {"19991231", 5, 0, {1999, 12, 31}},
        {"991231", 6, 0, {1999, 12, 31}}, {"391231", 6, 0, {2039, 12, 31}},
        {"due  3/ 4/ 2021 at noon", 3, 0, {2021, 4, 3}}, {"1/2/1999", 2, 0, {1999, 1, 2}},
        {"1231", 5, 4029, {}}, {"12/25/20", 1, 4029, {}}, {"02/30/2020", 1, 4030, {}},
        {"13/01/2020", 1, 4031, {}}, {"no date", 1, 4029, {}}, {"12/25/2020", 7, 4019, {}},
        {"no date", 7, 4029, {}},
        // Over-long digit groups are out of range, not wrapped.
        {"99999999999999999999/1/2020", 1, 4031, {}}, {"1/4294967297/2020", 1, 4030, {}},
        {"1/1/99999999999", 1, 4032, {}},
    };
    for (const Case &c : cases) {
        ZVDATE out = 5;
        ASSERT_EQ(zvdbStringToDate(c.text, c.type, &out), c.rc) << c.text;
        if (c.rc) {
            EXPECT_EQ(out, 5u);
            continue;
        }
        ZVDATE want = 0;
        zvdbDatePack(&want, c.date.y, c.date.m, c.date.d);
        EXPECT_EQ(out, want) << c.text;
    }
    ZVDATE out;
    EXPECT_EQ(zvdbStringToDate(nullptr, 1, &out), 4007);
    EXPECT_EQ(zvdbStringToDate("1/1/2000", 1, nullptr), 4007);
    zv::fail_alloc_at(1);
    EXPECT_EQ(zvdbStringToDate("1/1/2000", 1, &out), 4001);
}

TEST_F(DateTest, FormatConversionsAreNotSupported) {
    ZVDATE d = 1;
    char buf[16];
    EXPECT_EQ(zvdbStringFormatToDate("2020", "yyyy", &d), 4054);
    EXPECT_EQ(zvdbDateToStringFormat(1, "yyyy", buf, sizeof buf), 4054);
    EXPECT_EQ(d, 1u);
}

TEST_F(DateTest, SessionDefault) {
    EXPECT_EQ(zvdbGetDefDateType(nullptr), 0);
    EXPECT_EQ(zvdbSetDefDateType(nullptr, 1), 4003);
    auto *s = static_cast<tagZVDBSESSION *>(zvdbAllocSession(3));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(zvdbGetDefDateType(s), 1);
    EXPECT_EQ(zvdbSetDefDateType(s, 7), 4028);
    EXPECT_EQ(zvdbSetDefDateType(s, 0), 4028);
    EXPECT_EQ(zvdbSetDefDateType(s, 5), 0);
    EXPECT_EQ(zvdbGetDefDateType(s), 5);
    // A database handle without a session.
    auto *other = static_cast<tagZVDBDATABASE *>(_zvdb_alloc(1, sizeof(tagZVDBDATABASE)));
    ASSERT_NE(other, nullptr);
    other->kind = 3506;
    EXPECT_EQ(zvdbGetDefDateType(other), 0);
    EXPECT_EQ(zvdbSetDefDateType(other, 1), 4003);
    _zvdb_free(other);
    zvdbFreeSession(s);
}

TEST_F(DateTest, CurrentDate) {
    EXPECT_EQ(zvdbCurrentDate(nullptr), 4007);
    for (int attempt = 0; attempt < 3; attempt++) {
        time_t before = time(nullptr);
        ZVDATE d = 0;
        ASSERT_EQ(zvdbCurrentDate(&d), 0);
        time_t after = time(nullptr);
        if (before / 86400 != after / 86400) continue;  // midnight passed meanwhile
        EXPECT_EQ(int64_t(d), int64_t(before / 86400) + 98557);  // TZ=UTC
        return;
    }
}

}  // namespace
