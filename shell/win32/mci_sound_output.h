#pragma once

#include "core/sound_output.h"
#include "shell/win32/handles.h"

namespace vlm::win32 {

// Plays WAV files through the media control layer's "waveaudio" device, one open file at a time.
class MciSoundOutput final : public vlm::SoundOutput {
public:
    MciSoundOutput() = default;

    // The window that gets the device's completion notices (MM_MCINOTIFY); none is needed to play.
    void SetNotifyWindow(HWND window) { m_notifyWindow = window; }

    std::string Play(const std::string& path) override;
    bool IsPlaying() const override;
    void Stop() override;

    // The media layer's text for an error code, or "Unknown error code" when it has none.
    static std::string ErrorText(MCIERROR error);

private:
    MciDevice m_device;
    HWND m_notifyWindow = nullptr;
};

} // namespace vlm::win32
