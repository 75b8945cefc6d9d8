#include "shell/win32/mci_sound_output.h"

#include "pump_messages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

using vlm::win32::MciSoundOutput;

namespace {

// A media layer that records its calls with the thread that made them, fails opens on request and can hold any
// kind of call until released, as a sound server that stops answering holds the real one.
class FakeLayer final : public vlm::win32::MediaLayer {
public:
    struct Call {
        std::string what;
        DWORD thread;
    };

    void WarmUp() override { Enter("warm-up"); }
    MCIERROR Open(const std::wstring& file, const std::wstring& alias, MCIDEVICEID* device) override
    {
        Enter("open " + std::string(file.begin(), file.end()));
        const std::lock_guard lock(m_mutex);
        m_aliases.push_back(alias);
        const auto failure = m_openFailures.find(file);
        *device = failure == m_openFailures.end() ? ++m_lastDevice : 0;
        return failure == m_openFailures.end() ? 0 : failure->second;
    }
    MCIERROR Play(MCIDEVICEID device, HWND notify) override
    {
        Enter("play " + std::to_string(device));
        const std::lock_guard lock(m_mutex);
        m_notify = notify;
        return 0;
    }
    void Stop(MCIDEVICEID device) override { Enter("stop " + std::to_string(device)); }
    void Close(MCIDEVICEID device) override { Enter("close " + std::to_string(device)); }
    std::string ErrorText(MCIERROR error) override
    {
        return error == MCIERR_DEVICE_NOT_READY ? "not ready" : "error " + std::to_string(error);
    }

    // Calls whose text starts with `prefix` wait until Release.
    void Hold(const std::string& prefix)
    {
        const std::lock_guard lock(m_mutex);
        m_held = prefix;
    }
    void Release()
    {
        const std::lock_guard lock(m_mutex);
        m_held.clear();
        m_changed.notify_all();
    }
    void FailOpen(const std::wstring& file, MCIERROR error)
    {
        const std::lock_guard lock(m_mutex);
        m_openFailures[file] = error;
    }
    std::vector<Call> Calls() const
    {
        const std::lock_guard lock(m_mutex);
        return m_calls;
    }
    std::vector<std::string> CallTexts() const
    {
        std::vector<std::string> texts;
        for (const Call& call : Calls())
            texts.push_back(call.what);
        return texts;
    }
    std::vector<std::wstring> Aliases() const
    {
        const std::lock_guard lock(m_mutex);
        return m_aliases;
    }
    HWND NotifyWindow() const
    {
        const std::lock_guard lock(m_mutex);
        return m_notify;
    }
    bool Holding() const
    {
        const std::lock_guard lock(m_mutex);
        return m_holding > 0;
    }

private:
    void Enter(const std::string& what)
    {
        std::unique_lock lock(m_mutex);
        m_calls.push_back({ what, GetCurrentThreadId() });
        if (m_held.empty() || what.rfind(m_held, 0) != 0)
            return;
        ++m_holding;
        m_changed.wait(lock, [&] { return m_held.empty(); });
        --m_holding;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Call> m_calls;
    std::vector<std::wstring> m_aliases;
    std::map<std::wstring, MCIERROR> m_openFailures;
    std::string m_held;
    int m_holding = 0;
    MCIDEVICEID m_lastDevice = 0;
    HWND m_notify = nullptr;
};

using vlm::test::PumpFor;
using vlm::test::PumpUntil;

class SoundThreadTest : public ::testing::Test {
protected:
    // Short enough for a test, long enough that a loaded machine does not make a healthy call look stuck.
    static constexpr MciSoundOutput::Timing kTiming { 400, 20, 300 };

    void SetUp() override
    {
        m_layer = std::make_shared<FakeLayer>();
        m_output = std::make_unique<MciSoundOutput>(m_layer, kTiming);
        m_output->SetFailureHandler([this](const std::string& text) { m_failures.push_back(text); });
    }
    void TearDown() override
    {
        // A thread the test left held would otherwise stay in its call for the rest of the run.
        m_layer->Release();
        m_output.reset();
    }
    bool Called(const std::string& what) const
    {
        for (const auto& call : m_layer->Calls())
            if (call.what == what)
                return true;
        return false;
    }
    DWORD ThreadOf(const std::string& what) const
    {
        for (const auto& call : m_layer->Calls())
            if (call.what == what)
                return call.thread;
        return 0;
    }

    std::shared_ptr<FakeLayer> m_layer;
    std::unique_ptr<MciSoundOutput> m_output;
    std::vector<std::string> m_failures;
};

} // namespace

TEST_F(SoundThreadTest, CommandsRunInOrderOnASoundThreadOfTheirOwn)
{
    EXPECT_EQ(m_output->Play("a.wav"), "");
    EXPECT_TRUE(m_output->IsPlaying());
    EXPECT_EQ(m_output->Play("b.wav"), "");
    m_output->Stop();
    EXPECT_FALSE(m_output->IsPlaying());
    // Nothing open: nothing to stop.
    m_output->Stop();
    ASSERT_TRUE(PumpUntil([&] { return Called("close 2"); }));
    PumpFor(50);
    EXPECT_EQ(m_layer->CallTexts(),
        (std::vector<std::string> { "warm-up", "open a.wav", "play 1", "close 1", "open b.wav", "play 2", "stop 2",
            "close 2" }));
    EXPECT_NE(ThreadOf("open a.wav"), GetCurrentThreadId());
    EXPECT_EQ(ThreadOf("close 2"), ThreadOf("warm-up"));
    // Each device is opened under a name of its own.
    const auto aliases = m_layer->Aliases();
    ASSERT_EQ(aliases.size(), 2u);
    EXPECT_NE(aliases[0], aliases[1]);
    EXPECT_TRUE(m_failures.empty());
    EXPECT_EQ(m_output->AbandonedThreads(), 0);
}

TEST_F(SoundThreadTest, AFailedOpenIsReportedWithTheLayersText)
{
    m_layer->FailOpen(L"bad.wav", MCIERR_FILE_NOT_FOUND);
    EXPECT_EQ(m_output->Play("bad.wav"), "");
    ASSERT_TRUE(PumpUntil([&] { return !m_failures.empty(); }));
    EXPECT_EQ(m_failures, (std::vector<std::string> { "error " + std::to_string(MCIERR_FILE_NOT_FOUND) }));
    EXPECT_FALSE(m_output->IsPlaying());
    // The next sound plays as usual.
    EXPECT_EQ(m_output->Play("good.wav"), "");
    ASSERT_TRUE(PumpUntil([&] { return Called("play 1"); }));
    EXPECT_EQ(m_failures.size(), 1u);
}

TEST_F(SoundThreadTest, TheEndOfTheSoundNowPlayingEndsIsPlaying)
{
    m_output->Play("a.wav");
    ASSERT_TRUE(PumpUntil([&] { return Called("play 1"); }));
    PumpFor(50);
    HWND notify = m_layer->NotifyWindow();
    ASSERT_NE(notify, nullptr);
    // The stop of an earlier sound, or another device's end, is no news.
    PostMessageW(notify, MM_MCINOTIFY, MCI_NOTIFY_ABORTED, 1);
    PostMessageW(notify, MM_MCINOTIFY, MCI_NOTIFY_SUCCESSFUL, 7);
    PumpFor(50);
    EXPECT_TRUE(m_output->IsPlaying());
    PostMessageW(notify, MM_MCINOTIFY, MCI_NOTIFY_SUCCESSFUL, 1);
    ASSERT_TRUE(PumpUntil([&] { return !m_output->IsPlaying(); }));
}

// The sound server dies in the middle of a sound: the layer's stop never returns.
TEST_F(SoundThreadTest, AStuckCallHoldsUpNeitherCallerNorLaterSounds)
{
    m_output->Play("a.wav");
    ASSERT_TRUE(PumpUntil([&] { return Called("play 1"); }));
    m_layer->Hold("stop");
    const ULONGLONG before = GetTickCount64();
    m_output->Stop();
    // Two cues fall while the thread is stuck: both return at once and count as played.
    EXPECT_EQ(m_output->Play("b.wav"), "");
    EXPECT_EQ(m_output->Play("c.wav"), "");
    EXPECT_LT(GetTickCount64() - before, ULONGLONG(kTiming.stuckMs));
    ASSERT_TRUE(PumpUntil([&] { return m_layer->Holding(); }));

    // Once the thread has been stuck for long enough, the lost sound is reported once and a fresh thread takes over.
    ASSERT_TRUE(PumpUntil([&] { return m_output->AbandonedThreads() == 1; }));
    EXPECT_EQ(m_failures, (std::vector<std::string> { "not ready" }));
    EXPECT_FALSE(m_output->IsPlaying());
    ASSERT_TRUE(PumpUntil([&] { return m_layer->Calls().back().what == "warm-up"; }));
    const DWORD fresh = m_layer->Calls().back().thread;
    EXPECT_NE(fresh, ThreadOf("stop 1"));

    // The next sound plays on the fresh thread.
    EXPECT_EQ(m_output->Play("d.wav"), "");
    ASSERT_TRUE(PumpUntil([&] { return Called("play 2"); }));
    EXPECT_EQ(ThreadOf("open d.wav"), fresh);

    // The stuck call returns at last: its thread closes its own device and ends, and plays nothing that was queued
    // behind it.
    m_layer->Release();
    ASSERT_TRUE(PumpUntil([&] { return Called("close 1"); }));
    PumpFor(100);
    EXPECT_FALSE(Called("open b.wav"));
    EXPECT_FALSE(Called("open c.wav"));
    EXPECT_EQ(ThreadOf("close 1"), ThreadOf("stop 1"));
    EXPECT_EQ(m_failures.size(), 1u);
    EXPECT_EQ(m_output->AbandonedThreads(), 1);
}

// A table of the calls that can hang: an open that never returns, the start of playing, the close of the
// sound before.
class StuckCall : public SoundThreadTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(StuckCall, LosesTheCueOnceAndPlaysTheNext)
{
    m_output->Play("a.wav");
    ASSERT_TRUE(PumpUntil([&] { return Called("play 1"); }));
    m_layer->Hold(GetParam());
    m_output->Play("b.wav");
    ASSERT_TRUE(PumpUntil([&] { return m_layer->Holding(); }));
    ASSERT_TRUE(PumpUntil([&] { return m_output->AbandonedThreads() == 1; }));
    PumpFor(50);
    EXPECT_EQ(m_failures, (std::vector<std::string> { "not ready" }));
    m_layer->Hold("nothing");
    m_output->Play("c.wav");
    ASSERT_TRUE(PumpUntil([&] { return Called("open c.wav"); }));
    EXPECT_NE(ThreadOf("open c.wav"), ThreadOf("open a.wav"));
    EXPECT_EQ(m_failures.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Calls, StuckCall, ::testing::Values("close", "open b", "play 2"));

TEST_F(SoundThreadTest, ASlowCallIsNotAStuckOne)
{
    m_layer->Hold("open");
    m_output->Play("a.wav");
    ASSERT_TRUE(PumpUntil([&] { return m_layer->Holding(); }));
    PumpFor(kTiming.stuckMs / 4);
    m_layer->Release();
    ASSERT_TRUE(PumpUntil([&] { return Called("play 1"); }));
    PumpFor(kTiming.stuckMs + 100);
    EXPECT_TRUE(m_failures.empty());
    EXPECT_EQ(m_output->AbandonedThreads(), 0);
    EXPECT_TRUE(m_output->IsPlaying());
}

TEST_F(SoundThreadTest, EndingDoesNotWaitForAStuckThread)
{
    m_output->Play("a.wav");
    ASSERT_TRUE(PumpUntil([&] { return Called("play 1"); }));
    m_layer->Hold("stop");
    m_output->Stop();
    ASSERT_TRUE(PumpUntil([&] { return m_layer->Holding(); }));
    const ULONGLONG before = GetTickCount64();
    m_output.reset();
    // Bounded by the destructor's own short wait, not by the held call.
    EXPECT_LT(GetTickCount64() - before, ULONGLONG(kTiming.exitWaitMs + 1000));
    EXPECT_TRUE(m_layer->Holding());
}

TEST_F(SoundThreadTest, EndingClosesTheDevice)
{
    m_output->Play("a.wav");
    ASSERT_TRUE(PumpUntil([&] { return Called("play 1"); }));
    m_output.reset();
    EXPECT_TRUE(Called("close 1"));
}
