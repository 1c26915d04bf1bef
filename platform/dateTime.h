#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// The class library's date-time value: days since 1899-12-30 00:00, the time of day in the fraction.
using TDateTime = double;

// Days from 1899-12-30 to 1970-01-01.
inline constexpr double UnixDateDelta = 25569.0;

// The local date and time now, read through a replaceable clock so that tests can fix it.
TDateTime Now();
// The local date and time of a moment in Unix seconds (the machine clock's reading, without the seam). A
// leap second (:60 in a time zone that counts them) reads as :59.
TDateTime LocalDateTimeOf(long long unixSeconds, int milliseconds);
// Today's local date at 00:00.
TDateTime Date();
using TClockFunction = std::function<TDateTime()>;
// Replaces the clock; an empty function restores the machine's clock.
void SetClockForTesting(TClockFunction clock);

// Pauses the calling thread, through a replaceable function so that tests need not wait.
void Sleep(unsigned milliseconds);
using TSleepFunction = std::function<void(unsigned milliseconds)>;
void SetSleepForTesting(TSleepFunction sleep);

bool TryEncodeDate(int year, int month, int day, TDateTime& date);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& time);
// Throws std::invalid_argument for an impossible date or time.
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int millisecond = 0);
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& millisecond);

// Formats with the class library's pattern letters, case-insensitively: yyyy, yy, mmm (the C library
// locale's abbreviated month name), mm, m, dd, d, hh, h, nn, n, ss, s, zzz; ':' is the time separator
// (a colon) and every other character stands for itself.
std::string FormatDateTime(const std::string& pattern, TDateTime value);
// The C library locale's abbreviated name of Month (1 to 12).
std::string ShortMonthName(int month);

// Seconds from 1970-01-01 00:00 of the same clock, rounded; no time zone is applied either way.
long long DateTimeToUnix(TDateTime value);
TDateTime UnixToDateTime(long long seconds);

// The platform's file time: 100-nanosecond intervals since 1601-01-01 UTC.
using TFileTime = uint64_t;
struct TSystemTime {
    int Year = 0, Month = 0, DayOfWeek = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, Milliseconds = 0;
};
TFileTime UnixTimeToFileTime(long long seconds, long nanoseconds);
// The calendar fields of a file time, taken as it is (no time zone).
bool FileTimeToSystemTime(TFileTime fileTime, TSystemTime& systemTime);
// A UTC file time moved to the machine's local time zone.
TFileTime FileTimeToLocalFileTime(TFileTime fileTime);

} // namespace platform
