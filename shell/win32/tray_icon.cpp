#include "shell/win32/tray_icon.h"

#include <shellapi.h>

#include <cwchar>

namespace vlm::win32 {

namespace {

constexpr UINT kIconId = 1;

} // namespace

TrayIcon::TrayIcon(HWND window, UINT callbackMessage, HICON icon, std::wstring tip)
    : m_window(window)
    , m_callbackMessage(callbackMessage)
    , m_icon(icon)
    , m_tip(std::move(tip))
{
}

TrayIcon::~TrayIcon()
{
    Hide();
}

NOTIFYICONDATAW TrayIcon::Data() const
{
    NOTIFYICONDATAW data {};
    data.cbSize = sizeof(data);
    data.hWnd = m_window;
    data.uID = kIconId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = m_callbackMessage;
    data.hIcon = m_icon;
    std::wcsncpy(data.szTip, m_tip.c_str(), sizeof(data.szTip) / sizeof(data.szTip[0]) - 1);
    return data;
}

bool TrayIcon::Show()
{
    NOTIFYICONDATAW data = Data();
    // After an Explorer restart the old icon is gone, so it is added; one still there is only updated.
    m_shown = Shell_NotifyIconW(NIM_ADD, &data) || Shell_NotifyIconW(NIM_MODIFY, &data);
    return m_shown;
}

void TrayIcon::Hide()
{
    if (!m_shown)
        return;
    NOTIFYICONDATAW data = Data();
    Shell_NotifyIconW(NIM_DELETE, &data);
    m_shown = false;
}

} // namespace vlm::win32
