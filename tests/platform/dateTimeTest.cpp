#include "platform/dateTime.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

using namespace platform;

TEST(DateTime, EncodesDaysFromTheClassLibraryOrigin) {
    EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(1970, 1, 1), UnixDateDelta);
    EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 1, 1, 12), 36526.5);
    TDateTime date = 0;
    EXPECT_FALSE(TryEncodeDate(2008, 13, 1, date));
    EXPECT_FALSE(TryEncodeDate(2007, 2, 29, date));
    EXPECT_TRUE(TryEncodeDate(2008, 2, 29, date));
    EXPECT_FALSE(TryEncodeDate(0, 1, 1, date));
}

TEST(DateTime, DecodeRoundsToTheMillisecond) {
    int y = 0, m = 0, d = 0, h = 0, n = 0, s = 0, ms = 0;
    DecodeDateTime(EncodeDateTime(2024, 2, 29, 23, 59, 59, 999), y, m, d, h, n, s, ms);
    EXPECT_EQ((std::array{y, m, d, h, n, s, ms}), (std::array{2024, 2, 29, 23, 59, 59, 999}));
    DecodeDateTime(EncodeDateTime(1600, 3, 1), y, m, d, h, n, s, ms);
    EXPECT_EQ((std::array{y, m, d}), (std::array{1600, 3, 1}));
}

TEST(DateTime, FormatsThePatternsTheProgramsUse) {
    TDateTime value = EncodeDateTime(2009, 2, 13, 23, 31, 30);
    EXPECT_EQ(FormatDateTime("yyyy.MMdd.hhnnss", value), "2009.0213.233130");
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", value), "2009-02-13 23:31:30");
    EXPECT_EQ(FormatDateTime("mmm dd,yyyy", EncodeDateTime(2008, 1, 15)), "Jan 15,2008");
    EXPECT_EQ(FormatDateTime("yyyy", EncodeDateTime(987, 1, 1)), "0987");
}

TEST(DateTime, UnixSecondsAreDaysFromNineteenSeventyWithoutTimeZone) {
    EXPECT_EQ(DateTimeToUnix(UnixToDateTime(1234567890)), 1234567890);
    EXPECT_EQ(DateTimeToUnix(EncodeDateTime(2009, 2, 13, 23, 31, 30)), 1234567890);
    EXPECT_EQ(DateTimeToUnix(UnixDateDelta - 1), -86400);
}

TEST(DateTime, FileTimesConvertToCalendarFields) {
    TSystemTime st;
    ASSERT_TRUE(FileTimeToSystemTime(UnixTimeToFileTime(1234567890, 123000000), st));
    EXPECT_EQ((std::array{st.Year, st.Month, st.Day, st.Hour, st.Minute, st.Second, st.Milliseconds}),
              (std::array{2009, 2, 13, 23, 31, 30, 123}));
    EXPECT_EQ(st.DayOfWeek, 5); // a Friday
    // Before 1899-12-30 the fields still come out right.
    ASSERT_TRUE(FileTimeToSystemTime(UnixTimeToFileTime(-2209226400LL, 0), st));
    EXPECT_EQ((std::array{st.Year, st.Month, st.Day, st.Hour}), (std::array{1899, 12, 29, 6}));
    ASSERT_TRUE(FileTimeToSystemTime(0, st));
    EXPECT_EQ((std::array{st.Year, st.Month, st.Day, st.DayOfWeek}), (std::array{1601, 1, 1, 1}));
}

TEST(DateTime, ClockAndSleepSeamsReplaceTheMachine) {
    SetClockForTesting([] { return EncodeDateTime(2020, 5, 6, 7, 8, 9); });
    EXPECT_DOUBLE_EQ(Date(), EncodeDateTime(2020, 5, 6));
    unsigned slept = 0;
    SetSleepForTesting([&](unsigned ms) { slept += ms; });
    Sleep(1000);
    EXPECT_EQ(slept, 1000u);
    SetSleepForTesting({});
    SetClockForTesting({});
    EXPECT_GT(Now(), EncodeDateTime(2020, 5, 7));
}

TEST(DateTime, ALeapSecondReadsAsTheSecondBeforeIt) {
    // A time zone that counts leap seconds: 1972-06-30 23:59:60 UTC was the first one inserted.
    if (access("/usr/share/zoneinfo/right/UTC", R_OK) != 0)
        GTEST_SKIP() << "no leap-second time zone on this machine";
    const char* saved = std::getenv("TZ");
    std::string previous = saved != nullptr ? saved : "";
    setenv("TZ", "right/UTC", 1);
    tzset();
    // The right/ zones count the leap second in the value: 78796800 is the inserted second 23:59:60 there.
    TDateTime leap = 0;
    EXPECT_NO_THROW(leap = LocalDateTimeOf(78796800, 500));
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", leap), "1972-06-30 23:59:59");
    if (saved != nullptr)
        setenv("TZ", previous.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}
