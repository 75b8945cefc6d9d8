#include "core/clock.h"

#include "test_support.h"

#include <gtest/gtest.h>

namespace vlm {
namespace {

struct ClockCase {
    const char* name;
    const char* zone;
    std::int64_t utcSecond;
    const char* text;
    int hour;
    int weekday;
};

class ReferenceClockZones : public testing::TestWithParam<ClockCase> { };

// The reading is UTC + 8 h in every zone; only the weekday follows the computer's calendar.
TEST_P(ReferenceClockZones, ReadsBeijingTimeAndTheLocalWeekday)
{
    const ClockCase& c = GetParam();
    test::ScopedTimeZone zone(c.zone);
    test::FakeTimeSource source;
    source.SetUtcSecond(c.utcSecond, 999);
    ReferenceClock clock(source);
    clock.UpdateClock();

    EXPECT_EQ(clock.Text(), c.text);
    EXPECT_EQ(clock.ClockHour(), c.hour);
    EXPECT_EQ(clock.ClockMinute() * 100 + clock.ClockSecond(),
        std::stoi(std::string(c.text + 14, 2)) * 100 + std::stoi(std::string(c.text + 17, 2)));
    EXPECT_EQ(clock.LocalWeekday(), c.weekday);
    EXPECT_EQ(clock.UtcSecond(), c.utcSecond);
}

INSTANTIATE_TEST_SUITE_P(Zones, ReferenceClockZones,
    testing::Values(
        // A computer on UTC+8 shows its own local time (Thursday 2015-02-12 14:53).
        ClockCase { "Beijing", "CST-8", test::UtcSecond(2015, 2, 12, 6, 53, 0), "2015-02-12 14:53:00", 14, 4 },
        // UTC-5 in winter: Sunday 20:30 local is Monday 09:30 on the reference clock, still Sunday locally.
        ClockCase { "NewYorkWinter", "EST5EDT,M3.2.0,M11.1.0", test::UtcSecond(2015, 2, 16, 1, 30, 0),
            "2015-02-16 09:30:00", 9, 0 },
        // The same in summer, with daylight time in force (20:30 EDT = 00:30 UTC).
        ClockCase { "NewYorkSummer", "EST5EDT,M3.2.0,M11.1.0", test::UtcSecond(2015, 7, 13, 0, 30, 0),
            "2015-07-13 08:30:00", 8, 0 },
        // Half-hour zones come out right too (14:53 in India is 17:23 in Beijing).
        ClockCase { "India", "IST-5:30", test::UtcSecond(2015, 2, 12, 9, 23, 0), "2015-02-12 17:23:00", 17, 4 },
        ClockCase { "Midnight", "UTC0", test::UtcSecond(2015, 12, 31, 16, 0, 0), "2016-01-01 00:00:00", 0, 4 },
        ClockCase { "LeapDay", "UTC0", test::UtcSecond(2016, 2, 28, 16, 0, 5), "2016-02-29 00:00:05", 0, 0 }),
    [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32
// (On Windows the calendar is asked for the system's zone at every call, and a process can't switch its zone.)
TEST(ReferenceClock, FollowsAZoneChangeWhileRunning)
{
    test::FakeTimeSource source;
    source.SetUtcSecond(test::UtcSecond(2015, 2, 16, 1, 30, 0)); // Monday 01:30 UTC
    ReferenceClock clock(source);
    {
        test::ScopedTimeZone zone("UTC0");
        clock.UpdateClock();
        EXPECT_EQ(clock.LocalWeekday(), 1);
    }
    {
        test::ScopedTimeZone zone("EST5");
        clock.UpdateClock();
        EXPECT_EQ(clock.LocalWeekday(), 0);
        EXPECT_EQ(clock.Text(), "2015-02-16 09:30:00");
    }
}
#endif

} // namespace
} // namespace vlm
