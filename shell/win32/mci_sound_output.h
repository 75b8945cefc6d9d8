#pragma once

#include "core/sound_output.h"
#include "shell/win32/handles.h"

#include <thread>

namespace vlm::win32 {

// Plays WAV files through the media control layer's "waveaudio" device, one open file at a time.
class MciSoundOutput final : public vlm::SoundOutput {
public:
    // Starts loading the audio drivers in the background: their first use costs a few hundred milliseconds under
    // Wine, which would delay the first sound by as much.
    MciSoundOutput();
    ~MciSoundOutput() override;
    MciSoundOutput(const MciSoundOutput&) = delete;
    MciSoundOutput& operator=(const MciSoundOutput&) = delete;

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
    std::thread m_warmUp;
};

} // namespace vlm::win32
