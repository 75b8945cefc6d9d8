#include "shell/win32/single_instance.h"

#include "shell/win32/Unit1.h"

namespace vlm::win32 {

bool SingleInstance::Claim()
{
    m_mutex.Reset(CreateMutexW(nullptr, FALSE, L"Local\\VLM.Vellimor.SingleInstance"));
    // Without a lock at all the program still runs; a second copy is then merely possible.
    return !m_mutex || GetLastError() != ERROR_ALREADY_EXISTS;
}

bool SingleInstance::ShowRunningCopy()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (HWND window = FindWindowW(TForm1::kWindowClass, nullptr)) {
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            // The running copy may bring its window to the front only with the foreground right passed on.
            AllowSetForegroundWindow(process);
            DWORD_PTR ignored = 0;
            SendMessageTimeoutW(window, ShowRequestMessage(), 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
            return true;
        }
        Sleep(50);
    }
    return false;
}

UINT SingleInstance::ShowRequestMessage()
{
    static const UINT message = RegisterWindowMessageW(L"VLM.Vellimor.ShowWindow");
    return message;
}

UINT SingleInstance::EndRequestMessage()
{
    static const UINT message = RegisterWindowMessageW(L"VLM.Vellimor.SaveAndEnd");
    return message;
}

} // namespace vlm::win32
