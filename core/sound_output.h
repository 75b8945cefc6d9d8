#pragma once

#include <string>

namespace vlm {

// Plays one sound file at a time without waiting.
class SoundOutput {
public:
    virtual ~SoundOutput() = default;

    // Closes whatever is open, opens `path` and starts it from the beginning. Returns the failure's own text (the
    // decoder's or the audio layer's), "Unknown error code" when there is none, or an empty string on success. An
    // output that opens in the background returns an empty string and hands a failure to MainForm::SoundFailed.
    virtual std::string Play(const std::string& path) = 0;
    // True from a successful Play until the sound has ended, failed or been stopped.
    virtual bool IsPlaying() const = 0;
    // Cuts the sound off at once and closes the file and the audio stream; does nothing when idle.
    virtual void Stop() = 0;
};

} // namespace vlm
