#include "shell/win32/tick_timer.h"

#include <mmsystem.h>

#include <algorithm>

namespace vlm::win32 {

TickTimer::TickTimer(HWND target, UINT message)
    : m_target(target)
    , m_message(message)
{
    timeBeginPeriod(1);
}

TickTimer::~TickTimer()
{
    Stop();
    timeEndPeriod(1);
}

void TickTimer::Start(int delayMs)
{
    Stop();
    m_event = timeSetEvent(static_cast<UINT>(std::max(delayMs, 1)), 1, &TickTimer::Fire,
        reinterpret_cast<DWORD_PTR>(this), TIME_ONESHOT | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
    // Without a multimedia timer the tick still comes, on the coarse window timer.
    if (m_event == 0)
        SetTimer(m_target, m_message, static_cast<UINT>(std::max(delayMs, USER_TIMER_MINIMUM)), nullptr);
}

void TickTimer::Stop()
{
    if (m_event != 0) {
        timeKillEvent(m_event);
        m_event = 0;
    }
    KillTimer(m_target, m_message);
    ++m_generation;
}

void CALLBACK TickTimer::Fire(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR)
{
    auto* timer = reinterpret_cast<TickTimer*>(user);
    PostMessageW(timer->m_target, timer->m_message, timer->m_generation.load(), 0);
}

} // namespace vlm::win32
