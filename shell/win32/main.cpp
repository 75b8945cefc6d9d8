#include "shell/win32/Unit1.h"
#include "shell/win32/log_file.h"
#include "shell/win32/mci_sound_output.h"
#include "shell/win32/run_key_autostart.h"
#include "shell/win32/single_instance.h"
#include "shell/win32/text.h"

#include <commctrl.h>

#include <exception>
#include <vector>

namespace {

// The executable's full path, however long.
std::wstring ExecutablePath()
{
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size())
            return std::wstring(path.data(), length);
        path.resize(path.size() * 2);
    }
}

// Keyboard navigation (Tab, arrows, Enter, Esc) works in the main window and in the message boxes alike.
int RunMessageLoop()
{
    MSG message {};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        HWND root = message.hwnd ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
        if (root && IsDialogMessageW(root, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

int Run()
{
    const INITCOMMONCONTROLSEX controls { sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES };
    InitCommonControlsEx(&controls);

    const vlm::win32::LogFile log = vlm::win32::LogFile::FromEnvironment();
    vlm::SystemTimeSource clock;
    vlm::win32::RunKeyAutostart autostart;
    vlm::win32::MciSoundOutput player;
    TForm1Services services;
    services.form.Time = &clock;
    services.form.Player = &player;
    services.form.Autostart = &autostart;
    services.executablePath = ExecutablePath();
    if (log)
        services.log = [&log](vlm::LogTopic, const std::string& line) { log.Write(line); };

    TForm1 Form1(std::move(services));
    player.SetFailureHandler([&Form1](const std::string& error) { Form1.Form().SoundFailed(error); });
    Form1.FormCreate();
    Form1.Show();
    Form1.Log(vlm::LogTopic::Window, "started");
    return RunMessageLoop();
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Before anything else, so two copies started together can't both get past it.
    vlm::win32::SingleInstance instance;
    if (!instance.Claim()) {
        vlm::win32::SingleInstance::ShowRunningCopy();
        return 0;
    }
    try {
        return Run();
    } catch (const std::exception& error) {
        MessageBoxW(nullptr, vlm::win32::Widen(error.what()).c_str(), L"VLM", MB_OK | MB_ICONERROR);
    } catch (...) {
        MessageBoxW(nullptr, L"", L"VLM", MB_OK | MB_ICONERROR);
    }
    return 1;
}
