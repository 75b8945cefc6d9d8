#include "core/clock.h"
#include "core/reminder_host.h"
#include "core/scheduler.h"
#include "core/settings.h"
#include "core/sounds.h"

#include <benchmark/benchmark.h>

namespace {

class IdleHost final : public vlm::ReminderHost {
public:
    void ShowMainWindow(bool) override { }
    void SelectToday() override { }
    void PlayCue(int) override { }
    void StopSound() override { }
    void ShowSettingsMessage(vlm::SettingsMessage) override { }
};

void BM_UpdateClock(benchmark::State& state)
{
    vlm::SystemTimeSource source;
    vlm::ReferenceClock clock(source);
    for (auto _ : state) {
        clock.UpdateClock();
        benchmark::DoNotOptimize(clock.Reading());
    }
}
BENCHMARK(BM_UpdateClock);

// One tick of an idle scheduler with a busy schedule, one new second each time.
void BM_SchedulerTick(benchmark::State& state)
{
    IdleHost host;
    vlm::SettingsStore store("/nonexistent/vlm1.cfg");
    for (auto& day : store.Values().Schedule)
        day.fill(0);
    store.Values().Schedule[3][3] = 1;
    vlm::SoundCatalogue sounds("/vlm");
    vlm::Scheduler scheduler(host, store, sounds);
    std::int64_t second = 1'423'700'000; // no trigger second falls in the first minutes
    for (auto _ : state)
        scheduler.SchedulerTick(++second);
}
BENCHMARK(BM_SchedulerTick);

} // namespace

BENCHMARK_MAIN();
