/* The smallest resident Win32 GUI program: one hidden window and a message loop. bench_wine_memory.sh measures it
   beside VLM.exe, so what Wine itself costs shows apart from what the program adds. */
#include <windows.h>

static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR command, int show)
{
    (void)previous;
    (void)command;
    (void)show;
    WNDCLASSW type = { 0 };
    type.lpfnWndProc = Procedure;
    type.hInstance = instance;
    type.lpszClassName = L"Trivial";
    RegisterClassW(&type);
    CreateWindowW(L"Trivial", L"Trivial", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, NULL, NULL, instance, NULL);
    MSG message;
    while (GetMessageW(&message, NULL, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}
