#include "shell/win32/mci_sound_output.h"

#include "shell/win32/mci_media_layer.h"
#include "shell/win32/text.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace vlm::win32 {

namespace {

constexpr const wchar_t* kWindowClass = L"VLMSoundOutput";

// What the layer takes as a file name: ASCII, shorter than MAX_PATH.
bool Openable(const std::wstring& name)
{
    return !name.empty() && name.size() < MAX_PATH
        && std::all_of(name.begin(), name.end(), [](wchar_t c) { return c < 0x80; });
}

// The short (8.3) form of a path, or an empty string. A path of MAX_PATH characters or more is looked up with the
// prefix that lifts the limit, which the answer then drops again.
std::wstring ShortName(const std::wstring& path)
{
    std::wstring input = path;
    if (path.size() >= MAX_PATH && path.rfind(L"\\\\", 0) != 0)
        input = L"\\\\?\\" + path;
    else if (path.size() >= MAX_PATH && path.rfind(L"\\\\?\\", 0) != 0)
        input = L"\\\\?\\UNC\\" + path.substr(2);
    const DWORD needed = GetShortPathNameW(input.c_str(), nullptr, 0);
    if (needed == 0)
        return {};
    std::wstring result(needed, L'\0');
    const DWORD length = GetShortPathNameW(input.c_str(), result.data(), needed);
    if (length == 0 || length >= needed)
        return {};
    result.resize(length);
    if (result.rfind(L"\\\\?\\UNC\\", 0) == 0)
        return L"\\\\" + result.substr(8);
    if (result.rfind(L"\\\\?\\", 0) == 0)
        return result.substr(4);
    return result;
}

// The part of `path` below the current folder, or an empty string when it lies elsewhere.
std::wstring BelowCurrentFolder(const std::wstring& path)
{
    std::wstring folder(MAX_PATH, L'\0');
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, folder.data());
    if (length == 0 || length >= MAX_PATH)
        return {};
    folder.resize(length);
    if (folder.back() != L'\\')
        folder += L'\\';
    if (path.size() <= folder.size()
        || CompareStringOrdinal(path.data(), static_cast<int>(folder.size()), folder.data(),
               static_cast<int>(folder.size()), TRUE)
            != CSTR_EQUAL)
        return {};
    return path.substr(folder.size());
}

// Every device gets an alias of its own: the layer refuses a second device under a name still in use, and a device
// left open by a stuck sound thread keeps its name.
std::wstring NewAlias()
{
    static std::atomic<unsigned> count { 0 };
    return L"vlm-sound-" + std::to_wstring(++count);
}

} // namespace

// One sound thread's commands and what it found out; shared by the thread and the object, so a thread that is given
// up can still finish its call long after.
struct MciSoundOutput::Channel {
    struct Command {
        Kind kind;
        std::wstring file;
        std::uint64_t id;
    };
    struct Event {
        enum Type { Started, Failed, Done } type;
        std::uint64_t id;
        MCIDEVICEID device;
        std::string text;
    };

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Command> commands;
    std::vector<Event> events;
    // When the call in progress began (GetTickCount64), 0 while waiting for a command.
    ULONGLONG busySince = 0;
    bool abandoned = false;
    bool finished = false;
};

MciSoundOutput::MciSoundOutput(std::shared_ptr<MediaLayer> layer, Timing timing)
    : m_layer(layer ? std::move(layer) : std::make_shared<MciMediaLayer>())
    , m_timing(timing)
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass {};
    if (!GetClassInfoExW(instance, kWindowClass, &windowClass)) {
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = &MciSoundOutput::WindowProc;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kWindowClass;
        RegisterClassExW(&windowClass);
    }
    m_window.Reset(CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr));
    SetWindowLongPtrW(m_window.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    StartThread();
}

MciSoundOutput::~MciSoundOutput()
{
    Send(Kind::Quit);
    bool finished = false;
    {
        std::unique_lock lock(m_channel->mutex);
        finished = m_channel->wake.wait_for(
            lock, std::chrono::milliseconds(m_timing.exitWaitMs), [this] { return m_channel->finished; });
        m_channel->abandoned = true;
        m_channel->wake.notify_all();
    }
    if (finished)
        m_thread.join();
    else
        m_thread.detach();
    SetWindowLongPtrW(m_window.Get(), GWLP_USERDATA, 0);
}

void MciSoundOutput::StartThread()
{
    m_channel = std::make_shared<Channel>();
    m_thread = std::thread(&MciSoundOutput::Serve, m_channel, m_layer, m_window.Get());
}

void MciSoundOutput::Serve(std::shared_ptr<Channel> channel, std::shared_ptr<MediaLayer> layer, HWND window)
{
    const auto busy = [&] {
        const std::lock_guard lock(channel->mutex);
        channel->busySince = GetTickCount64();
    };
    // Tells the object unless it has given this thread up; then closes what this thread opened, and ends.
    const auto tell = [&](Channel::Event event) {
        const std::lock_guard lock(channel->mutex);
        channel->busySince = 0;
        if (channel->abandoned)
            return false;
        const bool first = channel->events.empty();
        channel->events.push_back(std::move(event));
        if (first)
            PostMessageW(window, kEvents, 0, 0);
        return true;
    };

    MCIDEVICEID device = 0;
    const auto close = [&] {
        if (device != 0)
            layer->Close(device);
        device = 0;
    };

    busy();
    layer->WarmUp();
    if (!tell({ Channel::Event::Done, 0, 0, {} })) {
        close();
        return;
    }
    for (;;) {
        Channel::Command command;
        {
            std::unique_lock lock(channel->mutex);
            channel->wake.wait(lock, [&] { return channel->abandoned || !channel->commands.empty(); });
            if (channel->abandoned)
                break;
            command = std::move(channel->commands.front());
            channel->commands.pop_front();
            channel->busySince = GetTickCount64();
        }
        switch (command.kind) {
        case Kind::Play: {
            close();
            const MCIERROR error = layer->Open(command.file, NewAlias(), &device);
            if (error != 0) {
                tell({ Channel::Event::Failed, command.id, 0, layer->ErrorText(error) });
            } else {
                // A failure to start playing is not reported: the device is open, and the next cue closes it.
                layer->Play(device, window);
                tell({ Channel::Event::Started, command.id, device, {} });
            }
            break;
        }
        case Kind::Stop:
            if (device != 0)
                layer->Stop(device);
            close();
            break;
        case Kind::Quit:
            close();
            break;
        }
        if (!tell({ Channel::Event::Done, command.id, 0, {} }) || command.kind == Kind::Quit)
            break;
    }
    close();
    const std::lock_guard lock(channel->mutex);
    channel->finished = true;
    channel->wake.notify_all();
}

void MciSoundOutput::Send(Kind kind, std::wstring file)
{
    const std::uint64_t id = ++m_lastSent;
    if (kind == Kind::Play)
        m_unstartedPlays.push_back(id);
    {
        const std::lock_guard lock(m_channel->mutex);
        m_channel->commands.push_back({ kind, std::move(file), id });
        m_channel->wake.notify_all();
    }
    if (!m_checking && kind != Kind::Quit) {
        m_checking = true;
        SetTimer(m_window.Get(), kCheck, static_cast<UINT>(m_timing.checkMs), nullptr);
    }
}

std::string MciSoundOutput::Play(const std::string& path)
{
    Check();
    Send(Kind::Play, OpenableName(path));
    m_currentPlay = m_lastSent;
    m_currentDevice = 0;
    m_playing = true;
    m_deviceOpen = true;
    return {};
}

void MciSoundOutput::Stop()
{
    Check();
    m_playing = false;
    m_currentPlay = 0;
    m_currentDevice = 0;
    if (!m_deviceOpen)
        return;
    m_deviceOpen = false;
    Send(Kind::Stop);
}

LRESULT CALLBACK MciSoundOutput::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<MciSoundOutput*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
    case kEvents:
        self->TakeEvents();
        return 0;
    case WM_TIMER:
        if (wParam == kCheck)
            self->Check();
        return 0;
    case MM_MCINOTIFY:
        // The end of the sound now playing; the stop of an earlier one is no news.
        if (self->m_currentDevice != 0 && static_cast<MCIDEVICEID>(lParam) == self->m_currentDevice
            && (wParam & (MCI_NOTIFY_SUCCESSFUL | MCI_NOTIFY_FAILURE)) != 0)
            self->m_playing = false;
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

void MciSoundOutput::TakeEvents()
{
    std::vector<Channel::Event> events;
    {
        const std::lock_guard lock(m_channel->mutex);
        events.swap(m_channel->events);
    }
    for (Channel::Event& event : events) {
        switch (event.type) {
        case Channel::Event::Started:
        case Channel::Event::Failed:
            m_unstartedPlays.erase(
                std::remove(m_unstartedPlays.begin(), m_unstartedPlays.end(), event.id), m_unstartedPlays.end());
            if (event.id != m_currentPlay)
                break;
            if (event.type == Channel::Event::Started) {
                m_currentDevice = event.device;
            } else {
                m_playing = false;
                m_deviceOpen = false;
                Report(event.text);
            }
            break;
        case Channel::Event::Done:
            m_lastDone = std::max(m_lastDone, event.id);
            break;
        }
    }
}

// Gives up a sound thread that has been in one call for too long; the timer runs while commands are on their way.
void MciSoundOutput::Check()
{
    TakeEvents();
    if (m_lastDone >= m_lastSent) {
        if (m_checking)
            KillTimer(m_window.Get(), kCheck);
        m_checking = false;
        return;
    }
    ULONGLONG busySince = 0;
    {
        const std::lock_guard lock(m_channel->mutex);
        busySince = m_channel->busySince;
    }
    if (busySince != 0 && GetTickCount64() - busySince >= static_cast<ULONGLONG>(m_timing.stuckMs))
        GiveUpThread();
}

void MciSoundOutput::GiveUpThread()
{
    {
        const std::lock_guard lock(m_channel->mutex);
        m_channel->abandoned = true;
        m_channel->commands.clear();
        m_channel->wake.notify_all();
    }
    m_thread.detach();
    ++m_abandoned;
    // A sound that had not started by now is lost: the user learns it once, whatever number of cues it was.
    const bool lost = !m_unstartedPlays.empty();
    m_unstartedPlays.clear();
    m_lastDone = m_lastSent;
    m_playing = false;
    m_deviceOpen = false;
    m_currentPlay = 0;
    m_currentDevice = 0;
    StartThread();
    if (lost)
        Report(m_layer->ErrorText(MCIERR_DEVICE_NOT_READY));
}

void MciSoundOutput::Report(const std::string& text)
{
    if (m_onFailure)
        m_onFailure(text);
}

std::wstring MciSoundOutput::OpenableName(const std::string& path)
{
    const std::wstring wide = Widen(path);
    if (Openable(wide))
        return wide;
    if (std::wstring shortName = ShortName(wide); Openable(shortName))
        return shortName;
    if (std::wstring relative = BelowCurrentFolder(wide); !relative.empty()) {
        if (Openable(relative))
            return relative;
        if (std::wstring shortName = ShortName(relative); Openable(shortName))
            return shortName;
    }
    return wide;
}

} // namespace vlm::win32
