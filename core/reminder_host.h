#pragma once

#include "core/settings.h"

namespace vlm {

// What the reminder core asks of the desktop around it.
class ReminderHost {
public:
    virtual ~ReminderHost() = default;

    // Shows (and raises) or hides the main window.
    virtual void ShowMainWindow(bool show) = 0;
    // Points the day selector at the local weekday and shows that day's hours.
    virtual void SelectToday() = 0;
    // Plays cue i of the scheduler's cue table without waiting; for cue 0 the rotation has already been advanced
    // and saved.
    virtual void PlayCue(int i) = 0;
    // Stops the sound that is playing, if any.
    virtual void StopSound() = 0;
    // Tells the user a settings file could not be read or written.
    virtual void ShowSettingsMessage(SettingsMessage message) = 0;
};

} // namespace vlm
