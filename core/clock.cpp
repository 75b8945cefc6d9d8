#include "core/clock.h"

#include "core/system.h"

#include <cstdio>

namespace vlm {

namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Civil date from days since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(std::int64_t days, int& year, int& month, int& day)
{
    days += 719468;
    const std::int64_t era = FloorDiv(days, 146097);
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

} // namespace

// The reference clock is plain UTC + 8 h: no zone arithmetic, so it is right in every zone (half-hour ones,
// odd daylight shifts) and stays right when the zone changes while the program runs.
ClockReading ClockReading::At(std::int64_t utcSecond)
{
    ClockReading reading;
    reading.UtcSecond = utcSecond;
    const std::int64_t reference = utcSecond + kReferenceOffsetSeconds;
    const std::int64_t secondOfDay = reference - FloorDiv(reference, 86400) * 86400;
    reading.ClockHour = static_cast<int>(secondOfDay / 3600);
    reading.ClockMinute = static_cast<int>(secondOfDay / 60 % 60);
    reading.ClockSecond = static_cast<int>(secondOfDay % 60);

    // The schedule row is the computer's own weekday, not the reference clock's.
    reading.LocalWeekday = sys::LocalWeekday(utcSecond);
    return reading;
}

std::string FormatReferenceTime(std::int64_t utcSecond)
{
    const std::int64_t reference = utcSecond + kReferenceOffsetSeconds;
    const std::int64_t days = FloorDiv(reference, 86400);
    const std::int64_t secondOfDay = reference - days * 86400;
    int year = 0, month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day,
        static_cast<int>(secondOfDay / 3600), static_cast<int>(secondOfDay / 60 % 60),
        static_cast<int>(secondOfDay % 60));
    return text;
}

ReferenceClock::ReferenceClock(const TimeSource& source)
    : m_source(source)
{
}

void ReferenceClock::UpdateClock()
{
    m_lastNow = m_source.Now();
    const auto since = m_lastNow.time_since_epoch();
    const std::int64_t utcSecond = std::chrono::floor<std::chrono::seconds>(since).count();
    // Pick up a zone change made while the program runs, for the local weekday. Once a minute is enough (the
    // weekday only matters at the trigger seconds) and keeps the zone file's re-check out of most ticks.
    const std::int64_t minute = utcSecond / 60;
    if (minute != m_zoneCheckMinute) {
        m_zoneCheckMinute = minute;
        sys::RefreshTimeZone();
    }
    m_reading = ClockReading::At(utcSecond);
    m_text = FormatReferenceTime(utcSecond);
}

} // namespace vlm
