#include "shell/win32/message_window.h"

#include "shell/win32/handles.h"

#include <algorithm>
#include <vector>

namespace vlm::win32 {

namespace {

struct BoxState {
    HWND owner;
    UINT closedMessage;
    Font font;
};

Font MessageFont()
{
    NONCLIENTMETRICSW metrics {};
    metrics.cbSize = sizeof(metrics);
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
        return Font(CreateFontIndirectW(&metrics.lfMessageFont));
    return Font();
}

void RegisterClassOnce(HINSTANCE instance, WNDPROC procedure)
{
    WNDCLASSEXW windowClass {};
    if (GetClassInfoExW(instance, MessageWindow::kWindowClass, &windowClass))
        return;
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = MessageWindow::kWindowClass;
    RegisterClassExW(&windowClass);
}

// Centred over the owner when it is shown, else on the screen.
POINT Origin(HWND owner, SIZE size)
{
    RECT area {};
    if (owner && IsWindowVisible(owner) && !IsIconic(owner))
        GetWindowRect(owner, &area);
    else
        area = PrimaryScreen();
    return { area.left + (area.right - area.left - size.cx) / 2, area.top + (area.bottom - area.top - size.cy) / 2 };
}

} // namespace

RECT PrimaryScreen()
{
    MONITORINFO info {};
    info.cbSize = sizeof(info);
    if (GetMonitorInfoW(MonitorFromPoint(POINT { 0, 0 }, MONITOR_DEFAULTTOPRIMARY), &info))
        return info.rcMonitor;
    return { 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN) };
}

HWND MessageWindow::Open(HWND owner, UINT closedMessage, const std::wstring& caption, const std::wstring& text)
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    RegisterClassOnce(instance, &MessageWindow::WindowProc);
    auto* state = new BoxState { owner, closedMessage, MessageFont() };

    // The text's extent sets the box's size.
    SIZE textSize { 0, 0 };
    if (HDC dc = GetDC(nullptr)) {
        const HGDIOBJ old = SelectObject(dc, state->font.Get() ? state->font.Get() : GetStockObject(DEFAULT_GUI_FONT));
        RECT bounds { 0, 0, 400, 0 };
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &bounds, DT_CALCRECT | DT_NOPREFIX | DT_WORDBREAK);
        textSize = { bounds.right - bounds.left, bounds.bottom - bounds.top };
        SelectObject(dc, old);
        ReleaseDC(nullptr, dc);
    }
    const int margin = 16;
    const SIZE button { 75, 23 };
    const int clientWidth = std::max<int>(textSize.cx + 2 * margin, 280);
    const int clientHeight = margin + textSize.cy + margin + button.cy + margin / 2 + 4;
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    const DWORD exStyle = WS_EX_DLGMODALFRAME;
    RECT frame { 0, 0, clientWidth, clientHeight };
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const SIZE size { frame.right - frame.left, frame.bottom - frame.top };
    const POINT origin = Origin(owner, size);

    HWND box = CreateWindowExW(exStyle, kWindowClass, caption.c_str(), style, origin.x, origin.y, size.cx, size.cy,
        owner, nullptr, instance, state);
    if (!box) {
        delete state;
        return nullptr;
    }
    const auto font = reinterpret_cast<WPARAM>(state->font.Get());
    HWND label = CreateWindowExW(0, L"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, margin,
        margin, textSize.cx, textSize.cy, box, reinterpret_cast<HMENU>(kTextId), instance, nullptr);
    HWND ok = CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
        (clientWidth - button.cx) / 2, clientHeight - button.cy - margin / 2 - 4, button.cx, button.cy, box,
        reinterpret_cast<HMENU>(IDOK), instance, nullptr);
    SendMessageW(label, WM_SETFONT, font, FALSE);
    SendMessageW(ok, WM_SETFONT, font, FALSE);
    ShowWindow(box, SW_SHOW);
    SetForegroundWindow(box);
    SetFocus(ok);
    return box;
}

std::wstring MessageWindow::Text(HWND box)
{
    HWND label = GetDlgItem(box, kTextId);
    std::vector<wchar_t> text(static_cast<std::size_t>(GetWindowTextLengthW(label)) + 1, L'\0');
    GetWindowTextW(label, text.data(), static_cast<int>(text.size()));
    return text.data();
}

LRESULT CALLBACK MessageWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_NCCREATE:
        SetWindowLongPtrW(window, GWLP_USERDATA,
            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            DestroyWindow(window);
        return 0;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_NCDESTROY: {
        auto* state = reinterpret_cast<BoxState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        if (state) {
            PostMessageW(state->owner, state->closedMessage, reinterpret_cast<WPARAM>(window), 0);
            delete state;
        }
        break;
    }
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace vlm::win32
