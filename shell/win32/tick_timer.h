#pragma once

#include <windows.h>

#include <atomic>

namespace vlm::win32 {

// A one-shot timer to the millisecond that posts a message to a window, so its handler runs on the window's
// thread. SetTimer alone is about 16 ms coarse; the multimedia timer at a 1 ms period is not.
class TickTimer {
public:
    // Ticks arrive as `message` to `target`, with the tag to check in wParam.
    TickTimer(HWND target, UINT message);
    ~TickTimer();
    TickTimer(const TickTimer&) = delete;
    TickTimer& operator=(const TickTimer&) = delete;

    void Start(int delayMs);
    void Stop();
    // Whether a tick message carrying `tag` is still wanted (not stopped or restarted since it was posted).
    bool IsCurrent(WPARAM tag) const { return tag == m_generation.load(); }

private:
    static void CALLBACK Fire(UINT id, UINT reserved, DWORD_PTR user, DWORD_PTR, DWORD_PTR);

    HWND m_target;
    UINT m_message;
    UINT m_event = 0;
    std::atomic<WPARAM> m_generation { 0 };
};

} // namespace vlm::win32
