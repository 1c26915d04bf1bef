#include "platform/dateTime.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <langinfo.h>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace platform {

namespace {

std::mutex gSeamMutex;
TClockFunction gClock;
TSleepFunction gSleep;

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return (month == 2 && IsLeapYear(year)) ? 29 : days[month - 1];
}

TDateTime MachineNow() {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t seconds = system_clock::to_time_t(now);
    auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    return LocalDateTimeOf(seconds, static_cast<int>(millis));
}

// Calendar fields of a day counted from 0001-01-01 (day 0).
void DecodeDayNumber(long long d, int& year, int& month, int& day) {
    int y = 1;
    y += static_cast<int>(d / 146097 * 400);
    d %= 146097;
    long long cycle100 = std::min<long long>(d / 36524, 3);
    d -= cycle100 * 36524;
    y += static_cast<int>(cycle100 * 100);
    y += static_cast<int>(d / 1461 * 4);
    d %= 1461;
    long long years = std::min<long long>(d / 365, 3);
    d -= years * 365;
    y += static_cast<int>(years);
    int m = 1;
    while (d >= DaysInMonth(y, m)) {
        d -= DaysInMonth(y, m);
        ++m;
    }
    year = y;
    month = m;
    day = static_cast<int>(d) + 1;
}

void DecodeMilliseconds(long long msOfDay, int& hour, int& minute, int& second, int& millisecond) {
    hour = static_cast<int>(msOfDay / 3600000);
    minute = static_cast<int>(msOfDay / 60000 % 60);
    second = static_cast<int>(msOfDay / 1000 % 60);
    millisecond = static_cast<int>(msOfDay % 1000);
}

std::string TwoDigits(int value) {
    std::string digits = std::to_string(value);
    if (digits.size() < 2)
        digits.insert(digits.begin(), '0');
    return digits;
}

} // namespace

TDateTime LocalDateTimeOf(long long unixSeconds, int milliseconds) {
    auto seconds = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr)
        return UnixToDateTime(unixSeconds);
    // A time zone that counts leap seconds names the inserted second :60; the value has no such second, so
    // it stays at :59 (the clock must not fail for it).
    int second = std::min(local.tm_sec, 59);
    return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                          second, std::clamp(milliseconds, 0, 999));
}

TDateTime Now() {
    TClockFunction clock;
    {
        std::lock_guard lock(gSeamMutex);
        clock = gClock;
    }
    return clock ? clock() : MachineNow();
}

TDateTime Date() {
    return std::floor(Now());
}

void SetClockForTesting(TClockFunction clock) {
    std::lock_guard lock(gSeamMutex);
    gClock = std::move(clock);
}

void Sleep(unsigned milliseconds) {
    TSleepFunction sleep;
    {
        std::lock_guard lock(gSeamMutex);
        sleep = gSleep;
    }
    if (sleep)
        sleep(milliseconds);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void SetSleepForTesting(TSleepFunction sleep) {
    std::lock_guard lock(gSeamMutex);
    gSleep = std::move(sleep);
}

bool TryEncodeDate(int year, int month, int day, TDateTime& date) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return false;
    // Days since 0001-01-01, then moved to the 1899-12-30 origin.
    long long y = year - 1;
    long long days = y * 365 + y / 4 - y / 100 + y / 400;
    for (int m = 1; m < month; ++m)
        days += DaysInMonth(year, m);
    days += day - 1;
    date = static_cast<double>(days - 693593);
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& time) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || millisecond < 0 ||
        millisecond > 999)
        return false;
    time = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + millisecond) / 86400000.0;
    return true;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond) {
    TDateTime date = 0;
    TDateTime time = 0;
    if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, millisecond, time))
        throw std::invalid_argument("Invalid argument to date encode");
    return date >= 0 ? date + time : date - time;
}

void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& millisecond) {
    // Milliseconds of the whole value, rounded, so that 23:59:59.9995 does not show as 24:00. A negative
    // value counts its days back from the origin and its fraction forward within that day.
    auto totalMs = static_cast<long long>(std::llround(std::fabs(value) * 86400000.0));
    long long days = totalMs / 86400000;
    long long msOfDay = totalMs % 86400000;
    if (value < 0)
        days = -days;
    DecodeDayNumber(days + 693593, year, month, day);
    DecodeMilliseconds(msOfDay, hour, minute, second, millisecond);
}

std::string ShortMonthName(int month) {
    if (month < 1 || month > 12)
        return {};
    return nl_langinfo(static_cast<nl_item>(ABMON_1 + month - 1));
}

std::string FormatDateTime(const std::string& pattern, TDateTime value) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
    DecodeDateTime(value, year, month, day, hour, minute, second, ms);
    std::string out;
    size_t i = 0;
    auto run = [&](char letter) {
        size_t n = 0;
        while (i + n < pattern.size() && (pattern[i + n] | 0x20) == letter)
            ++n;
        return n;
    };
    while (i < pattern.size()) {
        char c = static_cast<char>(pattern[i] | 0x20);
        size_t n = (c >= 'a' && c <= 'z') ? run(c) : 0;
        if (c == 'y' && n > 0) {
            std::string y = std::to_string(year);
            out += n <= 2 ? TwoDigits(year % 100) : std::string(y.size() < 4 ? 4 - y.size() : 0, '0') + y;
        } else if (c == 'm' && n > 0) {
            out += n >= 3 ? ShortMonthName(month) : n == 2 ? TwoDigits(month) : std::to_string(month);
            n = std::min<size_t>(n, 3);
        } else if (c == 'd' && n > 0) {
            out += n >= 2 ? TwoDigits(day) : std::to_string(day);
            n = std::min<size_t>(n, 2);
        } else if (c == 'h' && n > 0) {
            out += n >= 2 ? TwoDigits(hour) : std::to_string(hour);
            n = std::min<size_t>(n, 2);
        } else if (c == 'n' && n > 0) {
            out += n >= 2 ? TwoDigits(minute) : std::to_string(minute);
            n = std::min<size_t>(n, 2);
        } else if (c == 's' && n > 0) {
            out += n >= 2 ? TwoDigits(second) : std::to_string(second);
            n = std::min<size_t>(n, 2);
        } else if (c == 'z' && n > 0) {
            std::string z = std::to_string(ms);
            out += std::string(3 - z.size(), '0') + z;
            n = std::min<size_t>(n, 3);
        } else {
            out += pattern[i] == ':' ? ':' : pattern[i];
            n = 1;
        }
        i += n;
    }
    return out;
}

long long DateTimeToUnix(TDateTime value) {
    return std::llround((value - UnixDateDelta) * 86400.0);
}

TDateTime UnixToDateTime(long long seconds) {
    return static_cast<double>(seconds) / 86400.0 + UnixDateDelta;
}

TFileTime UnixTimeToFileTime(long long seconds, long nanoseconds) {
    constexpr long long epochDifference = 11644473600LL; // seconds from 1601-01-01 to 1970-01-01
    long long ticks = (seconds + epochDifference) * 10000000LL + nanoseconds / 100;
    return ticks < 0 ? 0 : static_cast<TFileTime>(ticks);
}

bool FileTimeToSystemTime(TFileTime fileTime, TSystemTime& systemTime) {
    if (fileTime >= 0x8000000000000000ULL)
        return false;
    long long ms = static_cast<long long>(fileTime / 10000);
    long long days = ms / 86400000;
    // 1601-01-01, day 0 of a file time, is day 584388 counted from 0001-01-01, and a Monday.
    TSystemTime fields;
    DecodeDayNumber(days + 584388, fields.Year, fields.Month, fields.Day);
    DecodeMilliseconds(ms % 86400000, fields.Hour, fields.Minute, fields.Second, fields.Milliseconds);
    fields.DayOfWeek = static_cast<int>((days + 1) % 7);
    systemTime = fields;
    return true;
}

TFileTime FileTimeToLocalFileTime(TFileTime fileTime) {
    constexpr long long epochDifference = 11644473600LL;
    auto seconds = static_cast<std::time_t>(static_cast<long long>(fileTime / 10000000) - epochDifference);
    std::tm local{};
    localtime_r(&seconds, &local);
    long long offsetTicks = static_cast<long long>(local.tm_gmtoff) * 10000000LL;
    long long shifted = static_cast<long long>(fileTime) + offsetTicks;
    return shifted < 0 ? 0 : static_cast<TFileTime>(shifted);
}

} // namespace platform
