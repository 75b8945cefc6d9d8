#pragma once

#include "core/clock.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace vlm {

class ReminderHost;
class SettingsStore;
class SoundCatalogue;

enum class ReminderMode : std::int32_t { Idle = 0, Scheduled = 1, Immediate = 2 };

// One timed sound of a reminder. Scheduled cues match on Hour and MinSec, immediate ones on Target (second of day).
struct Cue {
    std::int32_t Hour = 0;
    std::int32_t MinSec = 0;
    std::int32_t Done = 0;
    std::string Path;
    std::int32_t Target = 0;
};

inline constexpr int kCueSlots = 5;
inline constexpr int kScheduledCueCount = 5;
inline constexpr int kImmediateCueCount = 4;
inline constexpr int kSecondsPerDay = 86400;
// A tick further than this from the previous one is a jump (suspend, clock set): a gap forward is not replayed,
// and a step back this large ends the running reminder.
inline constexpr std::int64_t kMaxCatchUpSeconds = 60;

// Minute:second of the hour at which an idle scheduler looks for a reminder to arm.
inline constexpr std::array<std::int32_t, 5> TriggerTable { 5259, 5459, 5959, 459, 959 };

// Decides, once a reference second, whether a reminder arms and which cue falls due.
class Scheduler {
public:
    Scheduler(ReminderHost& host, SettingsStore& settings, const SoundCatalogue& sounds);

    // Advances to the given UTC second, stepping through every second since the previous call (up to a minute back).
    void SchedulerTick(std::int64_t utcSecond);

    // Starts four bells five minutes apart, the first two seconds after `utcSecond`; abandons a running reminder.
    void StartImmediateReminder(std::int64_t utcSecond);

    // Sets CueCount to 5; returns minSec's index in TriggerTable and stores it in CurrentCue, or -1.
    int FindTrigger(std::int32_t minSec);
    void PrepareScheduledReminder(int hour);

    ReminderMode Mode() const { return m_mode; }
    const std::array<Cue, kCueSlots>& CueTable() const { return m_cues; }
    int CueCount() const { return m_cueCount; }
    int CurrentCue() const { return m_currentCue; }
    // The UTC second being stepped (the one a cue falls due at), or the last one stepped.
    std::int64_t StepSecond() const { return m_stepSecond; }

private:
    void Step(const ClockReading& reading);
    void StepScheduled(const ClockReading& reading);
    void StepImmediate(const ClockReading& reading);
    void StepIdle(const ClockReading& reading);
    void CueDue(int i);
    void EndReminder();
    void SkipGap(std::int64_t fromSecond, std::int64_t toSecond);
    int CueSecondOfDay(const Cue& cue) const;

    ReminderHost& m_host;
    SettingsStore& m_settings;
    const SoundCatalogue& m_sounds;

    ReminderMode m_mode = ReminderMode::Idle;
    std::array<Cue, kCueSlots> m_cues {};
    int m_cueCount = 0;
    int m_currentCue = 0;
    std::optional<std::int64_t> m_lastSecond;
    std::int64_t m_stepSecond = 0;
};

} // namespace vlm
