#pragma once

#include "core/main_form.h"
#include "core/main_view.h"
#include "core/window_definition.h"
#include "shell/win32/handles.h"
#include "shell/win32/input_method.h"
#include "shell/win32/tick_timer.h"
#include "shell/win32/tray_icon.h"

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

// Everything the window needs from outside; tests hand in fakes.
struct TForm1Services {
    vlm::FormServices form;
    std::function<bool()> trayAvailable; // whether the desktop has a notification area now
    std::function<void()> exitRequested; // ends the message loop; by default it posts WM_QUIT
    std::function<void(vlm::LogTopic, const std::string&)> log; // diagnostics, off when empty
    std::wstring executablePath;
    std::shared_ptr<vlm::win32::KeyboardLayouts> keyboardLayouts; // the system's when empty
};

// The main window on Win32: schedule editor, clock, ring-now button and tray icon. Its window procedure turns the
// controls' notifications into the form's calls (vlm::MainForm), and it carries out the form's requests as the
// MainView.
class TForm1 final : public vlm::MainView {
public:
    static constexpr const wchar_t* kWindowClass = L"VLMForm1";

    // Control and command identifiers.
    enum Id : int {
        kComboBox2 = 101,
        kCheckListBox1,
        kGroupBox3,
        kPanel1,
        kRadioGroup1,
        kRadioGroup1Item0,
        kRadioGroup1Item1,
        kCheckBox1,
        kBitBtn1,
        kN1 = 201,
        kN3 = 203,
    };
    // Window messages of its own.
    enum Message : UINT {
        kTrayMessage = WM_APP + 1, // lParam: the mouse message on the tray icon
        kTickMessage, // wParam: the timer's tag
        kMessageClosed, // wParam: the box that went
    };

    explicit TForm1(TForm1Services services);
    ~TForm1() override;
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    HWND Handle() const { return m_window.Get(); }
    HWND Control(Id id) const { return GetDlgItem(Handle(), id); }
    HMENU PopupMenu1() const { return m_popupMenu.Get(); }
    // The open box that shows `text`, or nullptr.
    HWND MessageBoxOf(const std::string& text) const;
    int OpenMessageCount() const { return static_cast<int>(m_messages.size()); }

    // Start-up; runs once, before the window is first shown.
    void FormCreate();
    // The first show, centred on the screen.
    void Show();
    void Timer1Timer();

    void ComboBox2Change(const std::wstring& text);
    void CheckListBox1Click();
    void RadioGroup1Click();
    void CheckBox1Click();
    void BitBtn1Click();
    void TrayIcon1MouseDown(UINT mouseMessage);
    void N1Click();
    void N3Click();
    // Windows asks whether the session may end: the settings are kept and the answer is yes.
    bool QueryEndSession();
    // The session is ending: saves and ends without waiting for anyone.
    void EndSession();

    vlm::MainForm& Form() { return m_form; }
    const vlm::MainForm& Form() const { return m_form; }

    // MainView
    void ShowWindow() override;
    void HideWindow() override;
    void MinimizeWindow() override;
    bool WindowHidden() const override;
    bool TrayAvailable() const override;
    void DockTrayIcon() override;
    void SetClockText(const std::string& text) override;
    void SetSelectedDay(int day) override;
    void SetHourChecks(const vlm::HourChecks& checks) override;
    void SetBellChoice(int choice) override;
    void SetAutostartChecked(bool checked) override;
    void ShowMessage(const std::string& text) override;
    void StartTimer(int delayMs) override;
    void StopTimer() override;
    void EndProgram(const std::string& farewell) override;
    void Log(vlm::LogTopic topic, const std::string& text) override;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK HourListProc(
        HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR subclass, DWORD_PTR self);
    static LRESULT CALLBACK GroupBoxProc(
        HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR subclass, DWORD_PTR self);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void BuildControls();
    HWND AddControl(const wchar_t* className, const std::string& text, DWORD style, const vlm::form::Rect& rect, Id id,
        HFONT font, DWORD exStyle = 0);
    int Scaled(int logical) const { return MulDiv(logical, m_dpi, 96); }
    RECT ScaledRect(const vlm::form::Rect& rect) const;

    void OnCommand(int id, int code);
    void OnTrayMessage(UINT mouseMessage);
    void OpenPopupMenu();
    void OnHourItemClicked(int item, bool onCheckBox);
    void OnMeasureItem(MEASUREITEMSTRUCT& item) const;
    void OnDrawItem(const DRAWITEMSTRUCT& item) const;
    LRESULT OnControlColour(HDC dc, HWND control);
    void PaintBackground(HDC dc) const;
    // The box showing `text`, opened or brought forward.
    HWND Message(const std::wstring& text);
    void OnMessageClosed(HWND box);
    void RaiseMessages() const;
    std::wstring SelectorText() const;

    TForm1Services m_services;
    int m_dpi = 96;
    vlm::win32::Window m_window;
    vlm::win32::Icon m_icon;
    vlm::win32::Menu m_popupMenu;
    vlm::win32::Font m_formFont;
    vlm::win32::Font m_comboFont;
    vlm::win32::Font m_listFont;
    vlm::win32::Font m_panelFont;
    vlm::win32::Font m_buttonFont;
    vlm::win32::Brush m_formBrush;
    vlm::win32::Brush m_faceBrush;
    std::unique_ptr<vlm::win32::TickTimer> m_timer;
    std::unique_ptr<vlm::win32::TrayIcon> m_trayIcon;
    std::unique_ptr<vlm::win32::InputMethodRequest> m_inputMethod;
    UINT m_taskbarCreated = 0;
    UINT m_showRequest = 0;
    UINT m_endRequest = 0;
    std::map<std::wstring, HWND> m_messages;
    HWND m_farewellBox = nullptr;
    vlm::MainForm m_form;
};
