#pragma once

#include <windows.h>

#include <string>

namespace vlm::win32 {

// The window's icon in the notification area; mouse events on it come to the window as `callbackMessage`, with
// the mouse message in lParam.
class TrayIcon {
public:
    TrayIcon(HWND window, UINT callbackMessage, HICON icon, std::wstring tip);
    ~TrayIcon();
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // Puts the icon into the notification area (again, after Explorer restarted); true when it is there.
    bool Show();
    void Hide();

private:
    NOTIFYICONDATAW Data() const;

    HWND m_window;
    UINT m_callbackMessage;
    HICON m_icon;
    std::wstring m_tip;
    bool m_shown = false;
};

} // namespace vlm::win32
