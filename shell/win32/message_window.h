#pragma once

#include <windows.h>

#include <string>

namespace vlm::win32 {

// The primary monitor's whole area, taskbar included: where windows are centred when they first show.
RECT PrimaryScreen();

// A box telling the user something, with an OK button. It is owned by a window, so it stays above that window, and
// it is modeless, so nothing waits for it. When it goes it posts `closedMessage` to its owner with its own handle
// in wParam.
class MessageWindow {
public:
    static constexpr const wchar_t* kWindowClass = L"VLMMessage";
    static constexpr int kTextId = 1;

    // Opens and shows a box; nullptr when it can't be created.
    static HWND Open(HWND owner, UINT closedMessage, const std::wstring& caption, const std::wstring& text);

    // The text a box shows.
    static std::wstring Text(HWND box);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

} // namespace vlm::win32
