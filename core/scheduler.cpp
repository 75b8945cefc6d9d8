#include "core/scheduler.h"

#include "core/reminder_host.h"
#include "core/settings.h"
#include "core/sounds.h"

namespace vlm {

Scheduler::Scheduler(ReminderHost& host, SettingsStore& settings, const SoundCatalogue& sounds)
    : m_host(host)
    , m_settings(settings)
    , m_sounds(sounds)
{
}

// Ticks come a little over a second apart and may come late under load, so a reference second can pass
// unseen. Every second since the previous tick is stepped in order, so no cue or trigger is lost. A longer
// gap is a suspend or a clock change: ringing its bells now would be wrong, so its cues count as missed.
void Scheduler::SchedulerTick(std::int64_t utcSecond)
{
    if (!m_lastSecond) {
        m_lastSecond = utcSecond;
        Step(ClockReading::At(utcSecond));
        return;
    }
    const std::int64_t last = *m_lastSecond;
    if (utcSecond == last)
        return;
    m_lastSecond = utcSecond;
    if (utcSecond < last) {
        // The clock went back: replay nothing, carry on from the new second. A small step back (time sync) keeps
        // the running reminder, whose cues already played stay played; a larger one would leave it waiting for
        // its remaining cues while the hour's bells come round again unheard, so it ends and the arming rules
        // start afresh from the new time.
        m_stepSecond = utcSecond;
        if (last - utcSecond > kMaxCatchUpSeconds && m_mode != ReminderMode::Idle)
            EndReminder();
        Step(ClockReading::At(utcSecond));
        return;
    }
    if (utcSecond - last > kMaxCatchUpSeconds) {
        m_stepSecond = utcSecond;
        SkipGap(last, utcSecond);
        Step(ClockReading::At(utcSecond));
        return;
    }
    for (std::int64_t second = last + 1; second <= utcSecond; ++second)
        Step(ClockReading::At(second));
}

void Scheduler::Step(const ClockReading& reading)
{
    m_stepSecond = reading.UtcSecond;
    switch (m_mode) {
    case ReminderMode::Immediate:
        StepImmediate(reading);
        break;
    case ReminderMode::Idle:
        StepIdle(reading);
        break;
    case ReminderMode::Scheduled:
        StepScheduled(reading);
        break;
    }
}

void Scheduler::StepImmediate(const ClockReading& reading)
{
    const int sod = reading.SecondOfDay();
    for (int i = 0; i < m_cueCount; ++i) {
        Cue& cue = m_cues[i];
        if (cue.Done || cue.Target != sod)
            continue;
        CueDue(i);
        cue.Done = 1;
        if (i == m_cueCount - 1)
            EndReminder();
        else
            m_host.ShowMainWindow(true);
        return;
    }
}

void Scheduler::StepIdle(const ClockReading& reading)
{
    const auto& row = m_settings.Values().Schedule[reading.LocalWeekday];
    for (int h = 0; h < kHourCount; ++h) {
        if (row[h] == 1 && h == reading.ClockHour && FindTrigger(reading.MinSec()) != -1) {
            m_host.SelectToday();
            PrepareScheduledReminder(h);
            m_mode = ReminderMode::Scheduled;
            return;
        }
    }
}

void Scheduler::StepScheduled(const ClockReading& reading)
{
    if (m_currentCue >= m_cueCount)
        return;
    for (int i = 0; i < kScheduledCueCount; ++i) {
        Cue& cue = m_cues[i];
        if (cue.Done || cue.Hour != reading.ClockHour || cue.MinSec != reading.MinSec())
            continue;
        m_host.ShowMainWindow(true);
        m_currentCue = i;
        m_host.SelectToday();
        CueDue(i);
        cue.Done = 1;
        if (m_currentCue == m_cueCount - 1)
            EndReminder();
        return;
    }
}

void Scheduler::CueDue(int i)
{
    if (i == 0) {
        Settings& values = m_settings.Values();
        values.RotationCounter = (values.RotationCounter + 1) % 280;
        if (!m_settings.Save())
            m_host.ShowSettingsMessage(SettingsMessage::SaveFailed);
    }
    m_host.PlayCue(i);
}

void Scheduler::EndReminder()
{
    m_host.ShowMainWindow(false);
    m_mode = ReminderMode::Idle;
}

int Scheduler::CueSecondOfDay(const Cue& cue) const
{
    if (m_mode == ReminderMode::Immediate)
        return cue.Target;
    return cue.Hour * 3600 + cue.MinSec / 100 * 60 + cue.MinSec % 100;
}

void Scheduler::SkipGap(std::int64_t fromSecond, std::int64_t toSecond)
{
    if (m_mode == ReminderMode::Idle)
        return;
    const std::int64_t fromSod = ClockReading::At(fromSecond).SecondOfDay();
    bool lastMissed = false;
    for (int i = 0; i < m_cueCount; ++i) {
        Cue& cue = m_cues[i];
        if (cue.Done)
            continue;
        // The cue's first showing after the last tick, 1 to 86 400 seconds later.
        const std::int64_t ahead
            = ((CueSecondOfDay(cue) - fromSod - 1) % kSecondsPerDay + kSecondsPerDay) % kSecondsPerDay + 1;
        if (fromSecond + ahead < toSecond) {
            cue.Done = 1;
            lastMissed = lastMissed || i == m_cueCount - 1;
        }
    }
    if (lastMissed)
        EndReminder();
}

int Scheduler::FindTrigger(std::int32_t minSec)
{
    m_cueCount = kScheduledCueCount;
    for (int i = 0; i < static_cast<int>(TriggerTable.size()); ++i) {
        if (TriggerTable[i] == minSec) {
            m_currentCue = i;
            return i;
        }
    }
    return -1;
}

void Scheduler::PrepareScheduledReminder(int hour)
{
    const Settings& values = m_settings.Values();
    m_cues = {};
    m_cues[0].Path = m_sounds.PreludePath(values.RotationCounter);
    for (int i = 1; i < kScheduledCueCount; ++i)
        m_cues[i].Path = m_sounds.BellPath(values.BellChoice, i - 1);

    const int next = (hour + 1) % kHourCount;
    const std::int32_t hours[kScheduledCueCount] { hour, hour, next, next, next };
    const std::int32_t minSecs[kScheduledCueCount] { 5300, 5500, 0, 500, 1000 };
    for (int i = 0; i < kScheduledCueCount; ++i) {
        m_cues[i].Hour = hours[i];
        m_cues[i].MinSec = minSecs[i];
    }
}

void Scheduler::StartImmediateReminder(std::int64_t utcSecond)
{
    m_stepSecond = utcSecond;
    m_host.StopSound();
    m_cueCount = kImmediateCueCount;
    m_cues = {};
    const int choice = m_settings.Values().BellChoice;
    const int s0 = ClockReading::At(utcSecond).SecondOfDay() + 2;
    for (int i = 0; i < kImmediateCueCount; ++i) {
        int target = s0 + 300 * i;
        if (target >= kSecondsPerDay)
            target -= kSecondsPerDay;
        m_cues[i].Target = target;
        m_cues[i].Path = m_sounds.BellPath(choice, i);
    }
    m_mode = ReminderMode::Immediate;
}

} // namespace vlm
