#pragma once

#include <windows.h>

#include <atomic>

namespace vlm::win32 {

// A one-shot timer to the millisecond that posts a message to a window, so its handler runs on the window's
// thread. SetTimer alone is about 16 ms coarse. Where the system has a high-resolution waitable timer (Windows 10
// 1803 and later) it waits on that; elsewhere it waits on the coarse timer until shortly before the tick is due and
// raises the system timer's resolution to 1 ms for those last milliseconds only, since a raised resolution costs
// the whole machine power for as long as it is held.
class TickTimer {
public:
    enum class Kind {
        Best, // the high-resolution waitable timer where the system has one
        RaisedBeforeDue, // the coarse timer, then a multimedia timer with the resolution raised until the tick
    };
    // How long before the tick the resolution is raised: more than the coarse timer's lateness.
    static constexpr int kLeadMs = 30;

    // Ticks arrive as `message` to `target`, with the tag to check in wParam.
    TickTimer(HWND target, UINT message, Kind kind = Kind::Best);
    ~TickTimer();
    TickTimer(const TickTimer&) = delete;
    TickTimer& operator=(const TickTimer&) = delete;

    void Start(int delayMs);
    void Stop();
    // Whether a tick message carrying `tag` is still wanted (not stopped or restarted since it was posted).
    bool IsCurrent(WPARAM tag) const { return tag == m_generation.load(); }
    bool HighResolution() const { return m_wait != nullptr; }
    // Whether this timer holds the system timer's resolution raised now.
    bool ResolutionRaised() const { return m_raised.load(); }

private:
    static void CALLBACK Signalled(PVOID self, BOOLEAN timedOut);
    static void CALLBACK Approached(HWND window, UINT message, UINT_PTR self, DWORD time);
    static void CALLBACK Fire(UINT id, UINT reserved, DWORD_PTR user, DWORD_PTR, DWORD_PTR);
    void StartPrecise(int delayMs);
    void LowerResolution();
    // Milliseconds until the armed tick is due (negative once it is past).
    double MsUntilDue() const;
    void Post() const;

    HWND m_target;
    UINT m_message;
    HANDLE m_waitableTimer = nullptr;
    HANDLE m_wait = nullptr;
    LARGE_INTEGER m_frequency {};
    std::atomic<LONGLONG> m_due { 0 }; // performance counter
    UINT m_event = 0;
    bool m_approaching = false;
    std::atomic<bool> m_raised { false };
    std::atomic<WPARAM> m_generation { 0 };
};

} // namespace vlm::win32
