#include "core/scheduler.h"

#include "core/reminder_host.h"
#include "core/settings.h"
#include "core/sounds.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace vlm {
namespace {

// Records what the scheduler asks of the desktop, with the reference time of each request.
class RecordingHost final : public ReminderHost {
public:
    struct Event {
        std::string what;
        std::string time;
        bool operator==(const Event&) const = default;
        friend void PrintTo(const Event& e, std::ostream* os) { *os << e.time << " " << e.what; }
    };

    const Scheduler* scheduler = nullptr;
    std::vector<Event> events;

    void ShowMainWindow(bool show) override { Record(show ? "show" : "hide"); }
    void SelectToday() override { Record("today"); }
    void PlayCue(int i) override { Record("play " + std::to_string(i) + " " + scheduler->CueTable()[i].Path); }
    void StopSound() override { Record("stop"); }
    void ShowSettingsMessage(SettingsMessage message) override { Record(MessageText(message)); }

    std::vector<Event> Plays() const
    {
        std::vector<Event> plays;
        for (const Event& e : events)
            if (e.what.starts_with("play"))
                plays.push_back(e);
        return plays;
    }

private:
    // Stamped with the second the scheduler is stepping, which a late tick may be catching up on.
    void Record(std::string what)
    {
        events.push_back({ std::move(what), FormatReferenceTime(scheduler->StepSecond()) });
    }
};

// The local zone is Beijing's unless a test says otherwise, so the local weekday is the reference one.
class SchedulerTest : public testing::Test {
public:
    SchedulerTest()
        : m_store(m_dir.File(kSettingsFileName))
        , m_sounds(test::HostPath("/vlm"))
        , m_scheduler(m_host, m_store, m_sounds)
    {
        m_host.scheduler = &m_scheduler;
    }

    // Ticks every second from `from` to `to` inclusive (reference times).
    void TickThrough(std::int64_t from, std::int64_t to)
    {
        for (std::int64_t s = from; s <= to; ++s)
            Tick(s);
    }
    void Tick(std::int64_t utcSecond) { m_scheduler.SchedulerTick(utcSecond); }
    Settings& Values() { return m_store.Values(); }
    std::string Prelude(int rotation) const { return test::HostPath("/vlm/" + std::string(MusicList[rotation % 28])); }

    test::ScopedTimeZone m_zone { "CST-8" };
    test::TempDir m_dir;
    SettingsStore m_store;
    SoundCatalogue m_sounds;
    RecordingHost m_host;
    Scheduler m_scheduler;
};

// 2015-02-12 is a Thursday (day 4).
std::int64_t Thu(int h, int m, int s)
{
    return test::ReferenceSecond(2015, 2, 12, h, m, s);
}
std::int64_t Fri(int h, int m, int s)
{
    return test::ReferenceSecond(2015, 2, 13, h, m, s);
}

TEST_F(SchedulerTest, ScheduledReminderFromArmingToEnd)
{
    Values().Schedule[4][14] = 1;
    Values().RotationCounter = 3;
    TickThrough(Thu(14, 0, 0), Thu(14, 4, 58));
    EXPECT_EQ(m_scheduler.Mode(), ReminderMode::Idle);
    Tick(Thu(14, 4, 59));
    EXPECT_EQ(m_scheduler.Mode(), ReminderMode::Scheduled);
    EXPECT_EQ(m_scheduler.CurrentCue(), 3);
    EXPECT_EQ(m_scheduler.CueCount(), 5);
    EXPECT_EQ(m_host.events, (std::vector<RecordingHost::Event> { { "today", "2015-02-12 14:04:59" } }));

    m_host.events.clear();
    TickThrough(Thu(14, 5, 0), Thu(15, 30, 0));
    using E = RecordingHost::Event;
    const std::vector<E> expected {
        { "show", "2015-02-12 14:53:00" },
        { "today", "2015-02-12 14:53:00" },
        { "play 0 " + Prelude(3), "2015-02-12 14:53:00" },
        { "show", "2015-02-12 14:55:00" },
        { "today", "2015-02-12 14:55:00" },
        { "play 1 " + test::HostPath("/vlm/bell1.wav"), "2015-02-12 14:55:00" },
        { "show", "2015-02-12 15:00:00" },
        { "today", "2015-02-12 15:00:00" },
        { "play 2 " + test::HostPath("/vlm/bell1.wav"), "2015-02-12 15:00:00" },
        { "show", "2015-02-12 15:05:00" },
        { "today", "2015-02-12 15:05:00" },
        { "play 3 " + test::HostPath("/vlm/bell1.wav"), "2015-02-12 15:05:00" },
        { "show", "2015-02-12 15:10:00" },
        { "today", "2015-02-12 15:10:00" },
        { "play 4 " + test::HostPath("/vlm/bell1.wav"), "2015-02-12 15:10:00" },
        { "hide", "2015-02-12 15:10:00" },
    };
    EXPECT_EQ(m_host.events, expected);
    EXPECT_EQ(m_scheduler.Mode(), ReminderMode::Idle);

    // Cue 0 advanced the rotation and saved it.
    EXPECT_EQ(Values().RotationCounter, 4);
    Settings onDisk;
    ASSERT_TRUE(LoadSettings(m_store.Path(), onDisk));
    EXPECT_EQ(onDisk.RotationCounter, 4);
}

struct ArmingCase {
    const char* name;
    std::vector<int> hours;
    std::int64_t start;
    std::int64_t armsAt;
    int currentCue;
    std::vector<int> cuesPlayed;
};

class SchedulerArming : public SchedulerTest, public testing::WithParamInterface<ArmingCase> { };

TEST_P(SchedulerArming, ArmsAtTheFirstTriggerThatFindsItIdle)
{
    SchedulerArming& f = *this;
    const ArmingCase& c = GetParam();
    for (const int h : c.hours)
        f.Values().Schedule[4][h] = 1;
    f.TickThrough(c.start, c.armsAt - 1);
    f.m_host.events.clear();
    f.Tick(c.armsAt);
    ASSERT_EQ(f.m_scheduler.Mode(), ReminderMode::Scheduled);
    EXPECT_EQ(f.m_scheduler.CurrentCue(), c.currentCue);
    EXPECT_EQ(f.m_scheduler.CueTable()[0].Hour, 14);

    f.m_host.events.clear();
    const int rotationAtArming = f.Values().RotationCounter;
    f.TickThrough(c.armsAt + 1, Thu(15, 30, 0));
    std::vector<int> played;
    for (const auto& e : f.m_host.Plays())
        played.push_back(e.what[5] - '0');
    EXPECT_EQ(played, c.cuesPlayed);
    EXPECT_EQ(f.Values().RotationCounter - rotationAtArming, played.front() == 0 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, SchedulerArming,
    testing::Values(
        // Hour 13's reminder holds the scheduler until 14:10:00, so hour 14 arms at 14:52:59.
        ArmingCase { "AfterPreviousHour", { 13, 14 }, Thu(13, 0, 0), Thu(14, 52, 59), 0, { 0, 1, 2, 3, 4 } },
        ArmingCase { "StartedMidHour", { 14 }, Thu(14, 20, 0), Thu(14, 52, 59), 0, { 0, 1, 2, 3, 4 } },
        ArmingCase { "StartedAt1454", { 14 }, Thu(14, 54, 0), Thu(14, 54, 59), 1, { 1, 2, 3, 4 } },
        // Started at 14:56: the prelude and first bell are past and never play; the rotation stays.
        ArmingCase { "StartedAt1456", { 14 }, Thu(14, 56, 0), Thu(14, 59, 59), 2, { 2, 3, 4 } }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SchedulerTest, ConsecutiveHoursDoNotOverlap)
{
    Values().Schedule[4][14] = 1;
    Values().Schedule[4][15] = 1;
    TickThrough(Thu(14, 0, 0), Thu(15, 52, 58));
    EXPECT_EQ(m_scheduler.Mode(), ReminderMode::Idle);
    Tick(Thu(15, 52, 59));
    EXPECT_EQ(m_scheduler.Mode(), ReminderMode::Scheduled);
    EXPECT_EQ(m_scheduler.CueTable()[0].Hour, 15);
    EXPECT_EQ(m_host.Plays().size(), 5u);
}

TEST_F(SchedulerTest, LateHourRingsPastMidnight)
{
    Values().Schedule[4][23] = 1;
    TickThrough(Thu(23, 50, 0), Fri(0, 20, 0));
    std::vector<std::string> times;
    for (const auto& e : m_host.Plays())
        times.push_back(e.time);
    EXPECT_EQ(times,
        (std::vector<std::string> { "2015-02-12 23:53:00", "2015-02-12 23:55:00", "2015-02-13 00:00:00",
            "2015-02-13 00:05:00", "2015-02-13 00:10:00" }));
}

TEST_F(SchedulerTest, OnlyAFlagOfExactlyOneArms)
{
    Values().Schedule[4][14] = 2;
    Values().Schedule[4][15] = -1;
    TickThrough(Thu(14, 0, 0), Thu(16, 30, 0));
    EXPECT_TRUE(m_host.events.empty());
}

TEST_F(SchedulerTest, WeekdayComesFromTheLocalCalendar)
{
    // Sunday 20:30 in New York is Monday 09:30 in Beijing: Sunday's row, hour 9.
    test::ScopedTimeZone zone("EST5");
    Values().Schedule[0][9] = 1;
    Values().Schedule[1][9] = 0;
    const std::int64_t sunday2030 = test::UtcSecond(2015, 2, 16, 1, 30, 0);
    ASSERT_EQ(ClockReading::At(sunday2030).ClockHour, 9);
    TickThrough(sunday2030, sunday2030 + 23 * 60);
    EXPECT_EQ(m_scheduler.Mode(), ReminderMode::Scheduled);
    EXPECT_EQ(m_scheduler.CueTable()[0].Hour, 9);
}

TEST_F(SchedulerTest, ArmedReminderKeepsItsPathsAndHours)
{
    Values().Schedule[4][14] = 1;
    TickThrough(Thu(14, 0, 0), Thu(14, 52, 59));
    ASSERT_EQ(m_scheduler.Mode(), ReminderMode::Scheduled);
    Values().Schedule[4][14] = 0;
    Values().BellChoice = 1;
    TickThrough(Thu(14, 53, 0), Thu(15, 11, 0));
    const auto plays = m_host.Plays();
    ASSERT_EQ(plays.size(), 5u);
    EXPECT_EQ(plays[4].what, "play 4 " + test::HostPath("/vlm/bell1.wav"));
}

TEST_F(SchedulerTest, ImmediateReminderWrapsPastMidnight)
{
    Values().BellChoice = 1;
    m_scheduler.StartImmediateReminder(Thu(23, 59, 0));
    EXPECT_EQ(m_scheduler.Mode(), ReminderMode::Immediate);
    EXPECT_EQ(m_scheduler.CueCount(), 4);
    std::vector<int> targets;
    for (int i = 0; i < 4; ++i)
        targets.push_back(m_scheduler.CueTable()[i].Target);
    EXPECT_EQ(targets, (std::vector<int> { 86342, 242, 542, 842 }));

    m_host.events.clear();
    TickThrough(Thu(23, 59, 0), Fri(0, 20, 0));
    using E = RecordingHost::Event;
    const std::vector<E> expected {
        { "play 0 " + test::HostPath("/vlm/bell3.wav"), "2015-02-12 23:59:02" },
        { "show", "2015-02-12 23:59:02" },
        { "play 1 " + test::HostPath("/vlm/bell3.wav"), "2015-02-13 00:04:02" },
        { "show", "2015-02-13 00:04:02" },
        { "play 2 " + test::HostPath("/vlm/bell3.wav"), "2015-02-13 00:09:02" },
        { "show", "2015-02-13 00:09:02" },
        { "play 3 " + test::HostPath("/vlm/bell3.wav"), "2015-02-13 00:14:02" },
        { "hide", "2015-02-13 00:14:02" },
    };
    EXPECT_EQ(m_host.events, expected);
    EXPECT_EQ(m_scheduler.Mode(), ReminderMode::Idle);
    EXPECT_EQ(Values().RotationCounter, 1) << "cue 0 of an immediate reminder advances the rotation too";
}

TEST_F(SchedulerTest, ButtonAbandonsARunningReminder)
{
    Values().Schedule[4][14] = 1;
    TickThrough(Thu(14, 0, 0), Thu(14, 56, 0));
    m_host.events.clear();
    m_scheduler.StartImmediateReminder(Thu(14, 56, 0));
    EXPECT_EQ(m_host.events.front().what, "stop");
    TickThrough(Thu(14, 56, 1), Thu(15, 30, 0));
    std::vector<std::string> times;
    for (const auto& e : m_host.Plays())
        times.push_back(e.time.substr(11));
    EXPECT_EQ(times, (std::vector<std::string> { "14:56:02", "15:01:02", "15:06:02", "15:11:02" }));
}

TEST_F(SchedulerTest, RotationWrapsToTheFirstPiece)
{
    Values().Schedule[4][14] = 1;
    Values().Schedule[4][16] = 1;
    Values().RotationCounter = 27;
    TickThrough(Thu(14, 0, 0), Thu(17, 11, 0));
    const auto plays = m_host.Plays();
    ASSERT_EQ(plays.size(), 10u);
    EXPECT_EQ(plays[0].what, "play 0 " + Prelude(27));
    EXPECT_EQ(plays[5].what, "play 0 " + Prelude(0));
    EXPECT_EQ(Values().RotationCounter, 29);
}

TEST_F(SchedulerTest, FailedSaveIsReportedAndTheCueStillPlays)
{
    m_store.SetPlaces({ m_dir.File("missing-folder/vlm1.cfg"), {} });
    m_scheduler.StartImmediateReminder(Thu(10, 0, 0));
    m_host.events.clear();
    TickThrough(Thu(10, 0, 1), Thu(10, 0, 2));
    ASSERT_EQ(m_host.events.size(), 3u);
    EXPECT_EQ(m_host.events[0].what, " 更改設定存檔錯誤 ");
    EXPECT_EQ(m_host.events[1].what, "play 0 " + test::HostPath("/vlm/bell1.wav"));
}

TEST_F(SchedulerTest, LateTickCatchesUpEverySecond)
{
    Values().Schedule[4][14] = 1;
    Tick(Thu(14, 52, 50));
    Tick(Thu(14, 53, 30)); // 40 s late: the trigger at 52:59 and the prelude at 53:00 are stepped
    EXPECT_EQ(m_scheduler.Mode(), ReminderMode::Scheduled);
    ASSERT_EQ(m_host.Plays().size(), 1u);
    EXPECT_EQ(m_host.Plays()[0].what.substr(0, 6), "play 0");
}

TEST_F(SchedulerTest, JumpForwardMarksGapCuesMissed)
{
    Values().Schedule[4][14] = 1;
    TickThrough(Thu(14, 50, 0), Thu(14, 53, 10));
    m_host.events.clear();
    // A suspend from 14:53:10 to 15:02:00: the bells at 14:55 and 15:00 are not rung late.
    Tick(Thu(15, 2, 0));
    EXPECT_TRUE(m_host.events.empty());
    EXPECT_EQ(m_scheduler.Mode(), ReminderMode::Scheduled);
    TickThrough(Thu(15, 2, 1), Thu(15, 11, 0));
    std::vector<std::string> times;
    for (const auto& e : m_host.Plays())
        times.push_back(e.time.substr(11));
    EXPECT_EQ(times, (std::vector<std::string> { "15:05:00", "15:10:00" }));
    EXPECT_EQ(m_scheduler.Mode(), ReminderMode::Idle);
}

TEST_F(SchedulerTest, JumpPastTheLastCueEndsTheReminder)
{
    Values().Schedule[4][14] = 1;
    m_scheduler.StartImmediateReminder(Thu(9, 0, 0));
    TickThrough(Thu(9, 0, 0), Thu(9, 0, 10));
    m_host.events.clear();
    Tick(Thu(14, 40, 0));
    EXPECT_EQ(m_host.events, (std::vector<RecordingHost::Event> { { "hide", "2015-02-12 14:40:00" } }));
    EXPECT_EQ(m_scheduler.Mode(), ReminderMode::Idle);
    // Idle again, so the next reminder arms as usual.
    TickThrough(Thu(14, 40, 1), Thu(15, 11, 0));
    EXPECT_EQ(m_host.Plays().size(), 5u);
}

// A small step back, as time synchronisation makes, keeps the running reminder.
TEST_F(SchedulerTest, ClockGoingBackWithinAMinuteReplaysNothing)
{
    Values().Schedule[4][14] = 1;
    TickThrough(Thu(14, 50, 0), Thu(14, 53, 5));
    ASSERT_EQ(m_host.Plays().size(), 1u);
    Tick(Thu(14, 52, 6));
    EXPECT_EQ(m_scheduler.Mode(), ReminderMode::Scheduled);
    Tick(Thu(14, 52, 1));
    EXPECT_EQ(m_host.Plays().size(), 1u);
    TickThrough(Thu(14, 52, 2), Thu(15, 11, 0));
    EXPECT_EQ(m_host.Plays().size(), 5u) << "the prelude, already done, is not played again";
}

// The clock set back an hour after the 15:00 bell: the old reminder must not stay armed (window up, waiting for
// 15:05 of the previous hour's plan) while the 14:00 hour's bells come round again.
TEST_F(SchedulerTest, ClockSetBackAnHourEndsTheReminderAndRearms)
{
    Values().Schedule[4][14] = 1;
    TickThrough(Thu(14, 50, 0), Thu(15, 0, 30));
    ASSERT_EQ(m_host.Plays().size(), 3u);
    m_host.events.clear();

    Tick(Thu(14, 0, 30));
    EXPECT_EQ(m_scheduler.Mode(), ReminderMode::Idle);
    ASSERT_FALSE(m_host.events.empty());
    EXPECT_EQ(m_host.events.front(), (RecordingHost::Event { "hide", "2015-02-12 14:00:30" }));

    TickThrough(Thu(14, 0, 31), Thu(15, 11, 0));
    std::vector<std::string> times;
    for (const auto& e : m_host.Plays())
        times.push_back(e.time.substr(11) + " " + e.what.substr(0, 6));
    EXPECT_EQ(times,
        (std::vector<std::string> {
            "14:53:00 play 0", "14:55:00 play 1", "15:00:00 play 2", "15:05:00 play 3", "15:10:00 play 4" }));
    EXPECT_EQ(m_scheduler.Mode(), ReminderMode::Idle);
}

// A week of seconds: every armed reminder plays each cue once, at its second, and nothing else sounds.
class SchedulerWeek : public SchedulerTest, public testing::WithParamInterface<bool> { };

TEST_P(SchedulerWeek, EveryCueOnceAtItsSecond)
{
    const bool irregularTicks = GetParam();
    const std::vector<std::pair<int, int>> ticked { { 0, 0 }, { 0, 14 }, { 0, 15 }, { 1, 7 }, { 3, 12 }, { 5, 9 },
        { 6, 23 } };
    for (const auto& [d, h] : ticked)
        Values().Schedule[d][h] = 1;
    for (int h = 0; h < 24; ++h)
        if (Values().Schedule[2][h] == 0)
            Values().Schedule[2][h] = 2; // Tuesday: shown ticked, never armed

    // Sunday 2015-02-15 00:00:00 to the next Sunday 00:30:00.
    const std::int64_t begin = test::ReferenceSecond(2015, 2, 15, 0, 0, 0);
    const std::int64_t end = test::ReferenceSecond(2015, 2, 22, 0, 30, 0);

    std::vector<std::string> expected;
    int rotation = 0;
    for (const auto& [d, h] : ticked) {
        const std::int64_t base = test::ReferenceSecond(2015, 2, 15 + d, h, 0, 0);
        const std::int64_t offsets[5] { 53 * 60, 55 * 60, 3600, 3900, 4200 };
        for (int i = 0; i < 5; ++i)
            expected.push_back(FormatReferenceTime(base + offsets[i]) + " play " + std::to_string(i) + " "
                + (i == 0 ? Prelude(rotation) : test::HostPath("/vlm/bell1.wav")));
        ++rotation;
    }

    std::mt19937 random(20150212);
    std::uniform_real_distribution<double> gap(1.0, 1.3);
    for (double t = static_cast<double>(begin); t < static_cast<double>(end); t += irregularTicks ? gap(random) : 1.0)
        Tick(static_cast<std::int64_t>(t));

    std::vector<std::string> played;
    for (const auto& e : m_host.Plays())
        played.push_back(e.time + " " + e.what);
    EXPECT_EQ(played, expected);
    EXPECT_EQ(Values().RotationCounter, static_cast<int>(ticked.size()));
}

INSTANTIATE_TEST_SUITE_P(Ticks, SchedulerWeek, testing::Values(false, true),
    [](const auto& info) { return info.param ? "Irregular" : "EverySecond"; });

} // namespace
} // namespace vlm
