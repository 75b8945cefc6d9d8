#pragma once

#include "core/sound_output.h"
#include "shell/win32/handles.h"
#include "shell/win32/media_layer.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace vlm::win32 {

// How patient the sound output is with its sound thread.
struct SoundThreadTiming {
    int stuckMs = 3000; // how long one call may take before the sound thread counts as stuck
    int checkMs = 250; // how often a busy sound thread is looked at
    int exitWaitMs = 500; // how long the destructor waits for the sound thread to close the device
};

// Plays WAV files through the media layer's "waveaudio" device, one open file at a time. Every call into the layer
// runs in order on a sound thread of its own, so a call that never returns (a dead sound server or audio driver)
// holds up that thread alone: Play and Stop return at once, and what the thread finds out (a failed open, the end
// of a sound) comes back as messages to a window of this object's own, handled by the thread that made it. A sound
// thread that has been in one call for `stuckMs` is given up and a fresh one takes over; a Play it had not started
// by then is reported as failed.
class MciSoundOutput final : public vlm::SoundOutput {
public:
    using Timing = SoundThreadTiming;

    // The sound thread starts at once and readies the layer, so the first sound is not delayed by it.
    explicit MciSoundOutput(std::shared_ptr<MediaLayer> layer = nullptr, Timing timing = {});
    // Closes the device when the sound thread answers in time; a stuck thread is left behind, not waited for.
    ~MciSoundOutput() override;
    MciSoundOutput(const MciSoundOutput&) = delete;
    MciSoundOutput& operator=(const MciSoundOutput&) = delete;

    // Receives the text of a failure found after Play returned (the layer's own, or its "not ready" text for a
    // sound lost on a stuck thread), on this object's thread.
    void SetFailureHandler(std::function<void(const std::string&)> handler) { m_onFailure = std::move(handler); }

    // Queues the sound and returns an empty string; a failure to open it is reported to the failure handler.
    std::string Play(const std::string& path) override;
    // From a Play until the sound has ended, failed or been stopped.
    bool IsPlaying() const override { return m_playing; }
    void Stop() override;

    // How many stuck sound threads have been given up.
    int AbandonedThreads() const { return m_abandoned; }

    // The name the layer can open `path` by: the path itself, or its short form when the layer can't take the path
    // as it is (characters outside ASCII, or MAX_PATH characters and more), or failing that its part below the
    // current folder.
    static std::wstring OpenableName(const std::string& path);

private:
    struct Channel;
    enum class Kind { Play, Stop, Quit };
    enum Message : UINT { kEvents = WM_APP + 1, kCheck };

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static void Serve(std::shared_ptr<Channel> channel, std::shared_ptr<MediaLayer> layer, HWND window);
    void StartThread();
    void Send(Kind kind, std::wstring file = {});
    void TakeEvents();
    void Check();
    void GiveUpThread();
    void Report(const std::string& text);

    std::shared_ptr<MediaLayer> m_layer;
    Timing m_timing;
    Window m_window;
    std::shared_ptr<Channel> m_channel;
    std::thread m_thread;
    std::function<void(const std::string&)> m_onFailure;

    std::uint64_t m_lastSent = 0;
    std::uint64_t m_lastDone = 0;
    std::deque<std::uint64_t> m_unstartedPlays;
    std::uint64_t m_currentPlay = 0;
    MCIDEVICEID m_currentDevice = 0;
    bool m_playing = false;
    bool m_deviceOpen = false;
    bool m_checking = false;
    int m_abandoned = 0;
};

} // namespace vlm::win32
