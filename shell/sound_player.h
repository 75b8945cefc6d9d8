#pragma once

#include <QString>

namespace vlm {

// Plays one sound file at a time without waiting.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    // Closes whatever is open, opens `path` and starts it from the beginning. Returns the failure's own text
    // (libsndfile's sf_strerror message, or the audio layer's), "Unknown error code" when there is none, or an
    // empty string on success.
    virtual QString Play(const QString& path) = 0;
    virtual bool IsPlaying() const = 0;
    virtual void Stop() = 0;
};

} // namespace vlm
