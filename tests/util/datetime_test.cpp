#include <limits>

#include <gtest/gtest.h>

#include "util/datetime.h"

using namespace veltrano;

namespace {

constexpr double kMay3rd2001 = 37014;
constexpr double kHour = 1.0 / 24;
constexpr double kMs = 1.0 / 86400000;

} // namespace

TEST(DateTime, CalendarDatesCountFromTheEpochAndInvalidDatesAreRefused)
{
    EXPECT_EQ(encodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(encodeDate(2001, 5, 3), kMay3rd2001);
    EXPECT_EQ(encodeDate(1899, 12, 29), -1.0);
    EXPECT_EQ(encodeDate(1, 1, 1), -693593.0);
    EXPECT_EQ(encodeDate(9999, 12, 31), 2958465.0);
    EXPECT_EQ(encodeDate(2000, 2, 29), 36585.0);
    EXPECT_FALSE(encodeDate(1900, 2, 29)); // not a leap year
    EXPECT_FALSE(encodeDate(2001, 4, 31));
    EXPECT_FALSE(encodeDate(2001, 13, 1));
    EXPECT_FALSE(encodeDate(0, 1, 1));
    EXPECT_FALSE(encodeDate(10000, 1, 1));
    EXPECT_FALSE(encodeTime(24, 0, 0));
    EXPECT_FALSE(encodeTime(0, 60, 0));
}

TEST(DateTime, ReadsTheThreeDateForms)
{
    EXPECT_EQ(parseDateTime("2001/5/3"), kMay3rd2001);
    EXPECT_EQ(parseDateTime("2001/05/03"), kMay3rd2001);
    EXPECT_EQ(parseDateTime("5/3/2001"), kMay3rd2001);
    EXPECT_EQ(parseDateTime("2001-05-03"), kMay3rd2001);
    EXPECT_EQ(parseDateTime("  2001/5/3  "), kMay3rd2001);
}

TEST(DateTime, ReadsTimesWithSecondsAndMeridiemsInEveryPlacement)
{
    EXPECT_DOUBLE_EQ(*parseDateTime("2001/5/3 10:00:00"), kMay3rd2001 + 10 * kHour);
    EXPECT_DOUBLE_EQ(*parseDateTime("2001/5/3 10:00"), kMay3rd2001 + 10 * kHour);
    EXPECT_DOUBLE_EQ(*parseDateTime("1/1/1999 10:00 AM"), 36161 + 10 * kHour);
    EXPECT_DOUBLE_EQ(*parseDateTime("2001/5/3 1:30:15 pm"),
            kMay3rd2001 + (13 * 3600 + 30 * 60 + 15) / 86400.0);
    EXPECT_DOUBLE_EQ(*parseDateTime("2001/5/3 12:00 AM"), kMay3rd2001);
    EXPECT_DOUBLE_EQ(*parseDateTime("2001/5/3 12:00 PM"), kMay3rd2001 + 12 * kHour);
    EXPECT_DOUBLE_EQ(*parseDateTime("2001/5/3 0:30 AM"), kMay3rd2001 + 0.5 * kHour);
    // 上午 / 下午 in UTF-8 and in Big5 bytes, before or after the time.
    EXPECT_DOUBLE_EQ(*parseDateTime("2001/5/3 下午 02:00:00"), kMay3rd2001 + 14 * kHour);
    EXPECT_DOUBLE_EQ(*parseDateTime("2001/5/3 02:00 下午"), kMay3rd2001 + 14 * kHour);
    EXPECT_DOUBLE_EQ(*parseDateTime("2001/5/3 \xA4\x55\xA4\xC8 02:00"), kMay3rd2001 + 14 * kHour);
    EXPECT_DOUBLE_EQ(*parseDateTime("2001/5/3 \xA4\x57\xA4\xC8 12:05"), kMay3rd2001 + 5 / 1440.0);
}

TEST(DateTime, RefusesEverythingElse)
{
    for (const char *bad : {"", "   ", "2001", "2001/5", "2001/5/", "01/5/3", "2001/5/2001",
                 "5/3/01", "2001.5.3", "2001/2/30", "2001/5/3 25:00", "2001/5/3 10", "2001/5/3 10:",
                 "2001/5/3 10:00:", "2001/5/3 10:60", "2001/5/3 13:00 PM", "2001/5/3 10:00 XM",
                 "2001/5/3 上午 10:00 PM", "2001/5/3 AM", "5/3/200110:00", "2001/5/3x", "10:00"})
        EXPECT_FALSE(parseDateTime(bad)) << bad;
}

TEST(DateTime, TimesBeforeTheEpochCountForwardFromTheirMidnight)
{
    // 1899-12-29 06:00 is -1.25: the day is negative, the time of day still adds to its size.
    EXPECT_DOUBLE_EQ(*parseDateTime("1899/12/29 06:00"), -1.25);
    const DateTimeParts p = decodeDateTime(-1.25);
    EXPECT_EQ(p.day, 29);
    EXPECT_EQ(p.hour, 6);
    EXPECT_EQ(formatDateTime(-1.25), "1899/12/29 06:00:00");
    EXPECT_EQ(formatDateTime(-0.25), "1899/12/30 06:00:00");
}

TEST(DateTime, WritesRoundedToTheMillisecondThenCutToTheSecond)
{
    EXPECT_EQ(formatDateTime(kMay3rd2001 + 10 * kHour), "2001/05/03 10:00:00");
    EXPECT_EQ(formatDateTime(0), "1899/12/30 00:00:00");
    // 10:00:00.9994 rounds to .999 and is cut to 10:00:00; .9996 rounds up to 10:00:01.
    EXPECT_EQ(formatDateTime(kMay3rd2001 + 10 * kHour + 999.4 * kMs), "2001/05/03 10:00:00");
    EXPECT_EQ(formatDateTime(kMay3rd2001 + 10 * kHour + 999.6 * kMs), "2001/05/03 10:00:01");
    // A time that rounds to midnight moves to the next calendar day, before the epoch too.
    EXPECT_EQ(formatDateTime(kMay3rd2001 + 1 - 0.3 * kMs), "2001/05/04 00:00:00");
    EXPECT_EQ(formatDateTime(-1 - (1 - 0.3 * kMs)), "1899/12/30 00:00:00");
    EXPECT_EQ(formatDateTime(2958465 + 0.5), "9999/12/31 12:00:00");
}

TEST(DateTime, WrittenTextsReadBackToTheSameValue)
{
    for (double v :
            {0.0, kMay3rd2001 + 0.5, 36161 + 10 * kHour + 59.0 / 1440, -700.75, 2958465.0}) {
        const std::string text = formatDateTime(v);
        ASSERT_TRUE(parseDateTime(text)) << text;
        EXPECT_NEAR(*parseDateTime(text), v, 1e-9) << text;
    }
}

TEST(DateTime, OutOfRangeValuesDecodeWithoutFailing)
{
    for (double v : {1e300, -1e300, std::numeric_limits<double>::quiet_NaN(), -693594.5})
        EXPECT_EQ(formatDateTime(v).size(), 19u) << v;
}

TEST(DateTime, ConversionErrorNamesTheText)
{
    EXPECT_EQ(invalidDateTimeText("2001/2/30"), "'2001/2/30' is not a valid date and time");
}
