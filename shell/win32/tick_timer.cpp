#include "shell/win32/tick_timer.h"

#include <mmsystem.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace vlm::win32 {

namespace {

// CREATE_WAITABLE_TIMER_HIGH_RESOLUTION: Windows 10 1803 and later; older systems refuse the flag.
constexpr DWORD kHighResolutionTimer = 0x00000002;
constexpr LONGLONG kNothingDue = std::numeric_limits<LONGLONG>::max();

} // namespace

TickTimer::TickTimer(HWND target, UINT message, Kind kind)
    : m_target(target)
    , m_message(message)
{
    QueryPerformanceFrequency(&m_frequency);
    m_due = kNothingDue;
    if (kind != Kind::Best)
        return;
    m_waitableTimer = CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer, TIMER_MODIFY_STATE | SYNCHRONIZE);
    if (m_waitableTimer
        && !RegisterWaitForSingleObject(
            &m_wait, m_waitableTimer, &TickTimer::Signalled, this, INFINITE, WT_EXECUTEINWAITTHREAD)) {
        m_wait = nullptr;
    }
    if (!m_wait && m_waitableTimer) {
        CloseHandle(m_waitableTimer);
        m_waitableTimer = nullptr;
    }
}

TickTimer::~TickTimer()
{
    Stop();
    if (m_wait)
        UnregisterWaitEx(m_wait, INVALID_HANDLE_VALUE); // waits for a running callback
    if (m_waitableTimer)
        CloseHandle(m_waitableTimer);
}

void TickTimer::Start(int delayMs)
{
    Stop();
    delayMs = std::max(delayMs, 1);
    LARGE_INTEGER now {};
    QueryPerformanceCounter(&now);
    m_due = now.QuadPart + m_frequency.QuadPart * delayMs / 1000;
    if (m_wait) {
        LARGE_INTEGER due {};
        due.QuadPart = -10'000LL * delayMs; // relative, in 100 ns units
        if (SetWaitableTimer(m_waitableTimer, &due, 0, nullptr, nullptr, FALSE))
            return;
    }
    if (delayMs > kLeadMs + static_cast<int>(USER_TIMER_MINIMUM)
        && SetTimer(
            m_target, reinterpret_cast<UINT_PTR>(this), static_cast<UINT>(delayMs - kLeadMs), &TickTimer::Approached)) {
        m_approaching = true;
        return;
    }
    StartPrecise(delayMs);
}

void TickTimer::Stop()
{
    if (m_approaching) {
        KillTimer(m_target, reinterpret_cast<UINT_PTR>(this));
        m_approaching = false;
    }
    if (m_event != 0) {
        timeKillEvent(m_event); // synchronous: no callback runs after it
        m_event = 0;
    }
    LowerResolution();
    if (m_waitableTimer)
        CancelWaitableTimer(m_waitableTimer);
    m_due = kNothingDue;
    KillTimer(m_target, m_message);
    ++m_generation;
}

// Runs on the wait thread. A signal whose callback was still on its way when the timer was stopped or restarted
// finds nothing due, or the next tick far off, and is dropped.
void CALLBACK TickTimer::Signalled(PVOID self, BOOLEAN)
{
    auto* timer = static_cast<TickTimer*>(self);
    if (timer->MsUntilDue() <= kLeadMs)
        timer->Post();
}

// Runs on the window's thread, shortly before the tick is due.
void CALLBACK TickTimer::Approached(HWND window, UINT, UINT_PTR self, DWORD)
{
    auto* timer = reinterpret_cast<TickTimer*>(self);
    KillTimer(window, self);
    timer->m_approaching = false;
    const double left = timer->MsUntilDue();
    if (left > 2 * kLeadMs && SetTimer(window, self, static_cast<UINT>(left) - kLeadMs, &TickTimer::Approached)) {
        timer->m_approaching = true;
        return;
    }
    timer->StartPrecise(static_cast<int>(std::ceil(left)));
}

void TickTimer::StartPrecise(int delayMs)
{
    if (!m_raised.exchange(true))
        timeBeginPeriod(1);
    m_event = timeSetEvent(static_cast<UINT>(std::max(delayMs, 1)), 1, &TickTimer::Fire,
        reinterpret_cast<DWORD_PTR>(this), TIME_ONESHOT | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
    // Without a multimedia timer the tick still comes, on the coarse window timer.
    if (m_event == 0) {
        LowerResolution();
        SetTimer(m_target, m_message, static_cast<UINT>(std::max(delayMs, int(USER_TIMER_MINIMUM))), nullptr);
    }
}

void TickTimer::LowerResolution()
{
    if (m_raised.exchange(false))
        timeEndPeriod(1);
}

double TickTimer::MsUntilDue() const
{
    const LONGLONG due = m_due.load();
    if (due == kNothingDue)
        return std::numeric_limits<double>::infinity();
    LARGE_INTEGER now {};
    QueryPerformanceCounter(&now);
    return static_cast<double>(due - now.QuadPart) * 1000.0 / static_cast<double>(m_frequency.QuadPart);
}

void TickTimer::Post() const
{
    PostMessageW(m_target, m_message, m_generation.load(), 0);
}

// Runs on the multimedia timer's thread.
void CALLBACK TickTimer::Fire(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR)
{
    auto* timer = reinterpret_cast<TickTimer*>(user);
    timer->LowerResolution();
    timer->Post();
}

} // namespace vlm::win32
