#include "shell/win32/tick_timer.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using vlm::win32::TickTimer;

namespace {

constexpr UINT kTick = WM_APP + 7;

// Milliseconds on the performance counter.
double NowMs()
{
    LARGE_INTEGER now {}, frequency {};
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

struct Tick {
    double atMs;
    bool current;
};

// A message-only window for the ticks, and a loop that runs this thread's messages (the timer's own included) and
// notes each tick as it comes.
class TickTimerTest : public ::testing::TestWithParam<TickTimer::Kind> {
protected:
    void SetUp() override
    {
        m_window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        ASSERT_NE(m_window, nullptr);
        m_timer = std::make_unique<TickTimer>(m_window, kTick, GetParam());
    }
    void TearDown() override
    {
        m_timer.reset();
        DestroyWindow(m_window);
    }

    // Runs the messages for `ms`; with `stopAtTick`, until the first tick.
    std::vector<Tick> Run(int ms, bool stopAtTick = false)
    {
        std::vector<Tick> ticks;
        const double end = NowMs() + ms;
        for (double now = NowMs(); now < end; now = NowMs()) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now) + 1, QS_ALLINPUT);
            MSG message {};
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message == kTick)
                    ticks.push_back({ NowMs(), m_timer->IsCurrent(message.wParam) });
                else
                    DispatchMessageW(&message);
            }
            if (stopAtTick && !ticks.empty())
                break;
        }
        return ticks;
    }

    HWND m_window = nullptr;
    std::unique_ptr<TickTimer> m_timer;
};

} // namespace

TEST_P(TickTimerTest, TicksOnceNotBeforeItsDelayAndLeavesTheResolutionAlone)
{
    for (const int delay : { 5, 45, 400 }) {
        const double start = NowMs();
        m_timer->Start(delay);
        // Far from the tick the system timer keeps its own resolution.
        if (delay > 2 * TickTimer::kLeadMs) {
            EXPECT_FALSE(m_timer->ResolutionRaised()) << delay;
        }
        const std::vector<Tick> first = Run(delay + 2000, true);
        ASSERT_EQ(first.size(), 1u) << delay;
        EXPECT_TRUE(first[0].current);
        // A millisecond of leeway for the clocks' rounding.
        EXPECT_GE(first[0].atMs - start, delay - 1.0) << delay;
        EXPECT_FALSE(m_timer->ResolutionRaised()) << delay;
        EXPECT_TRUE(Run(100).empty()) << "one shot: " << delay;
    }
}

TEST_P(TickTimerTest, StoppedOrRestartedTicksDoNotCome)
{
    // Stopped far from the tick, and in its last milliseconds.
    for (const int delay : { 300, 20 }) {
        m_timer->Start(delay);
        Run(delay / 2);
        m_timer->Stop();
        EXPECT_FALSE(m_timer->ResolutionRaised()) << delay;
        for (const Tick& tick : Run(delay + 300))
            EXPECT_FALSE(tick.current) << delay;
    }

    // A restart replaces the tick it was waiting for.
    m_timer->Start(200);
    Run(50);
    const double restart = NowMs();
    m_timer->Start(250);
    std::vector<Tick> current;
    for (const Tick& tick : Run(800))
        if (tick.current)
            current.push_back(tick);
    ASSERT_EQ(current.size(), 1u);
    EXPECT_GE(current[0].atMs - restart, 249.0);
    EXPECT_FALSE(m_timer->ResolutionRaised());
}

INSTANTIATE_TEST_SUITE_P(Kinds, TickTimerTest,
    ::testing::Values(TickTimer::Kind::Best, TickTimer::Kind::RaisedBeforeDue),
    [](const auto& info) { return info.param == TickTimer::Kind::Best ? "Best" : "RaisedBeforeDue"; });
