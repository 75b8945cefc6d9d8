#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace vlm {

// Reminder times are kept on Beijing time, whatever zone the computer is set to.
inline constexpr std::int64_t kReferenceOffsetSeconds = 8 * 3600;

// Where the current instant comes from; tests hand in their own.
class TimeSource {
public:
    virtual ~TimeSource() = default;
    virtual std::chrono::system_clock::time_point Now() const = 0;
};

class SystemTimeSource final : public TimeSource {
public:
    std::chrono::system_clock::time_point Now() const override { return std::chrono::system_clock::now(); }
};

// One second as the scheduler sees it: the time of day on the reference clock, the weekday on the local calendar.
struct ClockReading {
    std::int64_t UtcSecond = 0;
    int ClockHour = 0;
    int ClockMinute = 0;
    int ClockSecond = 0;
    int LocalWeekday = 0; // 0 = Sunday

    int MinSec() const { return ClockMinute * 100 + ClockSecond; }
    int SecondOfDay() const { return ClockHour * 3600 + ClockMinute * 60 + ClockSecond; }

    // The reading of a whole UTC second, with the weekday taken from the local zone (TZ honoured).
    static ClockReading At(std::int64_t utcSecond);
};

// "YYYY-MM-DD HH:MM:SS" of the reference clock at a UTC second.
std::string FormatReferenceTime(std::int64_t utcSecond);

class ReferenceClock {
public:
    explicit ReferenceClock(const TimeSource& source);

    // Reads the time source and refreshes the reading and the panel text.
    void UpdateClock();

    const ClockReading& Reading() const { return m_reading; }
    int ClockHour() const { return m_reading.ClockHour; }
    int ClockMinute() const { return m_reading.ClockMinute; }
    int ClockSecond() const { return m_reading.ClockSecond; }
    int LocalWeekday() const { return m_reading.LocalWeekday; }
    std::int64_t UtcSecond() const { return m_reading.UtcSecond; }
    const std::string& Text() const { return m_text; }

    // The instant of the last reading, to the source's precision.
    std::chrono::system_clock::time_point LastNow() const { return m_lastNow; }

private:
    const TimeSource& m_source;
    ClockReading m_reading;
    std::string m_text;
    std::chrono::system_clock::time_point m_lastNow {};
    std::int64_t m_zoneCheckMinute = -1;
};

} // namespace vlm
