#include "shell/win32/Unit1.h"

#include "core/window_definition.h"
#include "shell/win32/message_window.h"
#include "shell/win32/single_instance.h"
#include "shell/win32/text.h"

#include <commctrl.h>
#include <windowsx.h>

#ifdef VLM_HAVE_RESOURCES
#include "resources/win32/resource_ids.h"
#endif

#include <algorithm>
#include <stdexcept>
#include <tuple>
#include <vector>

namespace form = vlm::form;
using vlm::win32::Narrow;
using vlm::win32::Widen;

namespace {

constexpr int kHourItemHeight = 16;
constexpr int kCheckBoxSize = 13;
// Where a click on an hour item hits its check box rather than its text.
constexpr int kCheckBoxArea = 16;

COLORREF Colour(const form::Rgb& rgb)
{
    return RGB(rgb.Red, rgb.Green, rgb.Blue);
}

int ScreenDpi()
{
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

vlm::win32::Font PixelFont(const form::Font& definition, int dpi)
{
    // A negative height asks for that many pixels of character height, as the window definition means.
    return vlm::win32::Font(CreateFontW(-MulDiv(definition.PixelHeight, dpi, 96), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
        FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
        Widen(definition.Family).c_str()));
}

HICON ApplicationIcon(HINSTANCE instance, int size)
{
#ifdef VLM_HAVE_RESOURCES
    if (auto* icon
        = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_VLM), IMAGE_ICON, size, size, LR_DEFAULTCOLOR)))
        return icon;
#else
    (void)instance;
#endif
    return static_cast<HICON>(CopyImage(LoadIconW(nullptr, IDI_APPLICATION), IMAGE_ICON, size, size, 0));
}

void RegisterWindowClass(HINSTANCE instance, WNDPROC procedure, HICON icon)
{
    WNDCLASSEXW windowClass {};
    if (GetClassInfoExW(instance, TForm1::kWindowClass, &windowClass))
        return;
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = icon;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = TForm1::kWindowClass;
    RegisterClassExW(&windowClass);
}

std::wstring WindowText(HWND window)
{
    std::vector<wchar_t> text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    return text.data();
}

const char* TopicName(vlm::LogTopic topic)
{
    switch (topic) {
    case vlm::LogTopic::Tick:
        return "vlm.tick";
    case vlm::LogTopic::Scheduler:
        return "vlm.scheduler";
    case vlm::LogTopic::Settings:
        return "vlm.settings";
    case vlm::LogTopic::Window:
        return "vlm.window";
    case vlm::LogTopic::Sound:
        return "vlm.sound";
    case vlm::LogTopic::Autostart:
        return "vlm.autostart";
    case vlm::LogTopic::Cleanup:
        return "vlm.cleanup";
    }
    return "vlm";
}

} // namespace

TForm1::TForm1(TForm1Services services)
    : m_services(std::move(services))
    , m_dpi(ScreenDpi())
    , m_form(*this, m_services.form)
{
    if (!m_services.trayAvailable)
        m_services.trayAvailable = [] { return FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr; };
    if (!m_services.exitRequested)
        m_services.exitRequested = [] { PostQuitMessage(0); };
    if (!m_services.keyboardLayouts)
        m_services.keyboardLayouts = std::make_shared<vlm::win32::SystemKeyboardLayouts>();
    m_inputMethod
        = std::make_unique<vlm::win32::InputMethodRequest>(m_services.keyboardLayouts, Widen(form::kInputMethodName));
    m_taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    m_showRequest = vlm::win32::SingleInstance::ShowRequestMessage();
    m_endRequest = vlm::win32::SingleInstance::EndRequestMessage();
    BuildControls();
}

TForm1::~TForm1()
{
    m_trayIcon.reset();
    m_timer.reset();
    for (const auto& [text, box] : m_messages)
        DestroyWindow(box);
    m_messages.clear();
    m_window.Reset();
}

RECT TForm1::ScaledRect(const form::Rect& rect) const
{
    return { Scaled(rect.Left), Scaled(rect.Top), Scaled(rect.Width), Scaled(rect.Height) };
}

HWND TForm1::AddControl(const wchar_t* className, const std::string& text, DWORD style, const form::Rect& rect, Id id,
    HFONT font, DWORD exStyle)
{
    const RECT r = ScaledRect(rect);
    HWND control = CreateWindowExW(exStyle, className, Widen(text).c_str(), WS_CHILD | WS_VISIBLE | style, r.left,
        r.top, r.right, r.bottom, Handle(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
        GetModuleHandleW(nullptr), nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
}

void TForm1::BuildControls()
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    m_icon.Reset(ApplicationIcon(instance, GetSystemMetrics(SM_CXSMICON)));
    RegisterWindowClass(instance, &TForm1::WindowProc, ApplicationIcon(instance, GetSystemMetrics(SM_CXICON)));
    m_formFont = PixelFont(form::kFormFont, m_dpi);
    m_comboFont = PixelFont(form::kComboBox2Font, m_dpi);
    m_listFont = PixelFont(form::kCheckListBox1Font, m_dpi);
    m_panelFont = PixelFont(form::kPanel1Font, m_dpi);
    m_buttonFont = PixelFont(form::kBitBtn1Font, m_dpi);
    m_formBrush.Reset(CreateSolidBrush(Colour(form::kFormColour)));
    m_faceBrush.Reset(CreateSolidBrush(GetSysColor(COLOR_BTNFACE)));

    // A single fixed border with the system menu and its close box only; centred on the whole screen, taskbar
    // included.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    RECT frame { 0, 0, Scaled(form::kClientWidth), Scaled(form::kClientHeight) };
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const RECT area = vlm::win32::PrimaryScreen();
    HWND window = CreateWindowExW(0, kWindowClass, Widen(form::kCaption).c_str(), style,
        area.left + (area.right - area.left - width) / 2, area.top + (area.bottom - area.top - height) / 2, width,
        height, nullptr, nullptr, instance, this);
    if (!window)
        throw std::runtime_error("cannot create the main window");
    m_window.Reset(window);
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon.Get()));

    // Created in tab order (RadioGroup1, GroupBox3, BitBtn1, ComboBox2, CheckListBox1, CheckBox1); the group boxes'
    // frames go below the controls they hold.
    const form::Rect radio = form::kRadioGroup1;
    for (int i = 0; i < int(form::kBellItems.size()); ++i) {
        const form::Rect item { radio.Left + 8 + i * 80, radio.Top + 22, 78, 24 };
        AddControl(L"BUTTON", form::kBellItems[i], BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP | WS_TABSTOP : 0), item,
            Id(kRadioGroup1Item0 + i), m_formFont.Get());
    }
    SendMessageW(Control(kRadioGroup1Item0), BM_SETCHECK, BST_CHECKED, 0);

    const form::Rect panel { form::kGroupBox3.Left + form::kPanel1.Left, form::kGroupBox3.Top + form::kPanel1.Top,
        form::kPanel1.Width, form::kPanel1.Height };
    AddControl(L"STATIC", "", SS_CENTER | SS_CENTERIMAGE | SS_SUNKEN | SS_NOPREFIX | WS_GROUP, panel, kPanel1,
        m_panelFont.Get());

    AddControl(L"BUTTON", form::kBitBtn1Caption, BS_PUSHBUTTON | WS_GROUP | WS_TABSTOP, form::kBitBtn1, kBitBtn1,
        m_buttonFont.Get());

    // The height given to a drop-down combo box is that of its open list; the closed box is set below.
    const form::Rect combo { form::kComboBox2.Left, form::kComboBox2.Top, form::kComboBox2.Width, 200 };
    HWND comboBox = AddControl(L"COMBOBOX", "", CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_GROUP | WS_TABSTOP,
        combo, kComboBox2, m_comboFont.Get());
    for (const char* day : form::kDayItems)
        SendMessageW(comboBox, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(day).c_str()));
    SendMessageW(comboBox, CB_SETCURSEL, 0, 0);
    // How the closed box's height follows its edit part's differs between systems, so it is measured.
    for (int attempt = 0; attempt < 3; ++attempt) {
        RECT closed {};
        GetWindowRect(comboBox, &closed);
        const int difference = Scaled(form::kComboBox2.Height) - (closed.bottom - closed.top);
        if (difference == 0)
            break;
        const auto selectionHeight = static_cast<int>(SendMessageW(comboBox, CB_GETITEMHEIGHT, WPARAM(-1), 0));
        SendMessageW(comboBox, CB_SETITEMHEIGHT, WPARAM(-1), selectionHeight + difference);
    }

    // Two columns of twelve hours, filled top to bottom; each item keeps its check mark as its data.
    HWND list = AddControl(L"LISTBOX", "",
        LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_MULTICOLUMN | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY | WS_TABSTOP,
        form::kCheckListBox1, kCheckListBox1, m_listFont.Get(), WS_EX_CLIENTEDGE);
    for (int h = 0; h < vlm::kHourCount; ++h)
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(form::HourItemText(h)).c_str()));
    RECT listClient {};
    GetClientRect(list, &listClient);
    SendMessageW(list, LB_SETCOLUMNWIDTH, (listClient.right - listClient.left) / form::kHourColumns, 0);
    SetWindowSubclass(list, &TForm1::HourListProc, 1, reinterpret_cast<DWORD_PTR>(this));

    HWND checkBox = AddControl(L"BUTTON", form::kCheckBox1Caption, BS_AUTOCHECKBOX | WS_TABSTOP, form::kCheckBox1,
        kCheckBox1, m_formFont.Get());
    SendMessageW(checkBox, BM_SETCHECK, BST_CHECKED, 0);

    for (const auto& [caption, rect, id] : { std::tuple { form::kRadioGroup1Caption, form::kRadioGroup1, kRadioGroup1 },
             std::tuple { form::kGroupBox3Caption, form::kGroupBox3, kGroupBox3 } }) {
        HWND box = AddControl(L"BUTTON", caption, BS_GROUPBOX | WS_CLIPSIBLINGS, rect, id, m_formFont.Get());
        SetWindowPos(box, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        SetWindowSubclass(box, &TForm1::GroupBoxProc, 1, reinterpret_cast<DWORD_PTR>(this));
    }

    m_popupMenu.Reset(CreatePopupMenu());
    AppendMenuW(m_popupMenu.Get(), MF_STRING, kN1, Widen(form::kN1Caption).c_str());
    AppendMenuW(m_popupMenu.Get(), MF_SEPARATOR, 0, nullptr);
    AppendMenuW(m_popupMenu.Get(), MF_STRING, kN3, Widen(form::kN3Caption).c_str());

    m_timer = std::make_unique<vlm::win32::TickTimer>(window, kTickMessage);
    m_trayIcon = std::make_unique<vlm::win32::TrayIcon>(window, kTrayMessage, m_icon.Get(), Widen(form::kTrayTip));
}

void TForm1::FormCreate()
{
    Log(vlm::LogTopic::Tick,
        m_timer->HighResolution() ? "timer: high resolution" : "timer: resolution raised before each tick only");
    m_trayIcon->Show();
    m_form.FormCreate(Narrow(m_services.executablePath));
}

void TForm1::Show()
{
    ::ShowWindow(Handle(), SW_SHOW);
    SetForegroundWindow(Handle());
    RaiseMessages();
}

void TForm1::Timer1Timer()
{
    m_form.Timer1Timer();
}

void TForm1::ComboBox2Change(const std::wstring& text)
{
    m_form.ComboBox2Change(vlm::MainForm::DayOfSelectorText(Narrow(text)));
}

std::wstring TForm1::SelectorText() const
{
    return WindowText(Control(kComboBox2));
}

void TForm1::CheckListBox1Click()
{
    HWND list = Control(kCheckListBox1);
    vlm::HourChecks checks {};
    for (int h = 0; h < vlm::kHourCount; ++h)
        checks[h] = SendMessageW(list, LB_GETITEMDATA, h, 0) != 0;
    m_form.CheckListBox1Click(vlm::MainForm::DayOfSelectorText(Narrow(SelectorText())), checks);
}

// A click on an item's box changes its mark and a click on its text leaves it; either runs the handler with the
// marks as shown, and so does the space bar, which changes the mark of the item with the focus.
void TForm1::OnHourItemClicked(int item, bool onCheckBox)
{
    HWND list = Control(kCheckListBox1);
    if (onCheckBox) {
        const bool checked = SendMessageW(list, LB_GETITEMDATA, item, 0) != 0;
        SendMessageW(list, LB_SETITEMDATA, item, checked ? 0 : 1);
        RECT rect {};
        if (SendMessageW(list, LB_GETITEMRECT, item, reinterpret_cast<LPARAM>(&rect)) != LB_ERR)
            InvalidateRect(list, &rect, FALSE);
    }
    CheckListBox1Click();
}

void TForm1::RadioGroup1Click()
{
    const int choice = SendMessageW(Control(kRadioGroup1Item1), BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
    m_form.RadioGroup1Click(choice);
}

void TForm1::CheckBox1Click()
{
    m_form.CheckBox1Click(SendMessageW(Control(kCheckBox1), BM_GETCHECK, 0, 0) == BST_CHECKED);
}

void TForm1::BitBtn1Click()
{
    m_form.BitBtn1Click();
}

void TForm1::TrayIcon1MouseDown(UINT)
{
    m_form.TrayIcon1MouseDown();
}

void TForm1::N1Click()
{
    m_form.N1Click();
}

void TForm1::N3Click()
{
    m_form.N3Click();
}

bool TForm1::QueryEndSession()
{
    m_form.CommitData();
    return true;
}

void TForm1::EndSession()
{
    m_form.EndSession();
}

LRESULT CALLBACK TForm1::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* self = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->m_window.Reset(window);
    }
    auto* self = reinterpret_cast<TForm1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->m_window.Release();
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT TForm1::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND window = Handle();
    switch (message) {
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_MEASUREITEM:
        OnMeasureItem(*reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_DRAWITEM:
        OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return OnControlColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_ERASEBKGND:
        PaintBackground(reinterpret_cast<HDC>(wParam));
        return TRUE;
    case WM_CLOSE:
        m_form.FormCloseQuery();
        return 0;
    case WM_QUERYENDSESSION:
        return QueryEndSession() ? TRUE : FALSE;
    case WM_ENDSESSION:
        if (wParam)
            EndSession();
        return 0;
    case kTrayMessage:
        OnTrayMessage(static_cast<UINT>(LOWORD(lParam)));
        return 0;
    case kTickMessage:
        if (m_timer->IsCurrent(wParam))
            Timer1Timer();
        return 0;
    case WM_TIMER:
        if (wParam == kTickMessage) {
            KillTimer(window, kTickMessage);
            Timer1Timer();
        }
        return 0;
    case kMessageClosed:
        OnMessageClosed(reinterpret_cast<HWND>(wParam));
        return 0;
    default:
        break;
    }
    if (message == m_taskbarCreated) {
        DockTrayIcon();
        return 0;
    }
    if (message == m_showRequest) {
        m_form.ShowMainWindow(true);
        return 0;
    }
    if (message == m_endRequest) {
        EndSession();
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void TForm1::OnCommand(int id, int code)
{
    switch (id) {
    case kComboBox2:
        if (code == CBN_SELCHANGE) {
            // The edit part still shows the old text while the selection changes.
            HWND combo = Control(kComboBox2);
            const auto index = SendMessageW(combo, CB_GETCURSEL, 0, 0);
            if (index == CB_ERR)
                return;
            std::vector<wchar_t> text(
                static_cast<std::size_t>(SendMessageW(combo, CB_GETLBTEXTLEN, index, 0)) + 1, L'\0');
            SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
            ComboBox2Change(text.data());
        } else if (code == CBN_EDITCHANGE) {
            ComboBox2Change(SelectorText());
        } else if (code == CBN_SETFOCUS) {
            m_inputMethod->FocusEntered();
        } else if (code == CBN_KILLFOCUS) {
            m_inputMethod->FocusLeft();
        }
        break;
    case kCheckListBox1:
        if (code == LBN_SETFOCUS)
            m_inputMethod->FocusEntered();
        else if (code == LBN_KILLFOCUS)
            m_inputMethod->FocusLeft();
        break;
    case kRadioGroup1Item0:
    case kRadioGroup1Item1:
        if (code == BN_CLICKED)
            RadioGroup1Click();
        break;
    case kCheckBox1:
        if (code == BN_CLICKED)
            CheckBox1Click();
        break;
    case kBitBtn1:
        if (code == BN_CLICKED)
            BitBtn1Click();
        break;
    case kN1:
        N1Click();
        break;
    case kN3:
        N3Click();
        break;
    default:
        break;
    }
}

// Any button pressed on the icon shows the window; the right one's release then opens the menu.
void TForm1::OnTrayMessage(UINT mouseMessage)
{
    switch (mouseMessage) {
    case WM_LBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_RBUTTONDOWN:
        TrayIcon1MouseDown(mouseMessage);
        break;
    case WM_RBUTTONUP:
        OpenPopupMenu();
        break;
    default:
        break;
    }
}

// The window is made foreground first and a null message follows, or the menu would stay open after a click
// elsewhere.
void TForm1::OpenPopupMenu()
{
    POINT at {};
    GetCursorPos(&at);
    SetForegroundWindow(Handle());
    TrackPopupMenu(m_popupMenu.Get(), TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, at.x, at.y, 0, Handle(), nullptr);
    PostMessageW(Handle(), WM_NULL, 0, 0);
}

LRESULT CALLBACK TForm1::HourListProc(
    HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR selfPointer)
{
    auto* self = reinterpret_cast<TForm1*>(selfPointer);
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        const LRESULT result = DefSubclassProc(list, message, wParam, lParam);
        const auto hit = static_cast<DWORD>(SendMessageW(list, LB_ITEMFROMPOINT, 0, lParam));
        if (HIWORD(hit) != 0)
            return result;
        const int item = LOWORD(hit);
        RECT rect {};
        SendMessageW(list, LB_GETITEMRECT, item, reinterpret_cast<LPARAM>(&rect));
        self->OnHourItemClicked(item, GET_X_LPARAM(lParam) < rect.left + self->Scaled(kCheckBoxArea));
        return result;
    }
    case WM_KEYDOWN:
        if (wParam == VK_SPACE) {
            const auto item = SendMessageW(list, LB_GETCARETINDEX, 0, 0);
            if (item >= 0 && item < vlm::kHourCount)
                self->OnHourItemClicked(static_cast<int>(item), true);
            return 0;
        }
        break;
    case WM_CHAR:
        if (wParam == L' ')
            return 0;
        break;
    default:
        break;
    }
    return DefSubclassProc(list, message, wParam, lParam);
}

// A group box draws only its frame and caption; what lies inside gets the button face here.
LRESULT CALLBACK TForm1::GroupBoxProc(
    HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR selfPointer)
{
    if (message == WM_ERASEBKGND) {
        RECT client {};
        GetClientRect(box, &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, reinterpret_cast<TForm1*>(selfPointer)->m_faceBrush.Get());
        return TRUE;
    }
    return DefSubclassProc(box, message, wParam, lParam);
}

void TForm1::OnMeasureItem(MEASUREITEMSTRUCT& item) const
{
    if (item.CtlID == kCheckListBox1)
        item.itemHeight = Scaled(kHourItemHeight);
}

void TForm1::OnDrawItem(const DRAWITEMSTRUCT& item) const
{
    if (item.CtlID != kCheckListBox1 || item.itemID == UINT(-1))
        return;
    HDC dc = item.hDC;
    const bool checked = item.itemData != 0;
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    FillRect(dc, &item.rcItem, GetSysColorBrush(COLOR_WINDOW));

    const int boxSize = Scaled(kCheckBoxSize);
    RECT box { item.rcItem.left + Scaled(2), item.rcItem.top + (item.rcItem.bottom - item.rcItem.top - boxSize) / 2, 0,
        0 };
    box.right = box.left + boxSize;
    box.bottom = box.top + boxSize;
    DrawFrameControl(dc, &box, DFC_BUTTON, DFCS_BUTTONCHECK | (checked ? DFCS_CHECKED : 0));

    wchar_t text[16] {};
    if (SendMessageW(item.hwndItem, LB_GETTEXTLEN, item.itemID, 0) < LRESULT(std::size(text)))
        SendMessageW(item.hwndItem, LB_GETTEXT, item.itemID, reinterpret_cast<LPARAM>(text));
    const HGDIOBJ oldFont = SelectObject(dc, m_listFont.Get());
    RECT label = item.rcItem;
    label.left = item.rcItem.left + Scaled(kCheckBoxArea) + Scaled(2);
    SIZE extent {};
    GetTextExtentPoint32W(dc, text, lstrlenW(text), &extent);
    RECT highlight { label.left - Scaled(1), label.top, std::min<LONG>(label.left + extent.cx + Scaled(2), label.right),
        label.bottom };
    if (selected)
        FillRect(dc, &highlight, GetSysColorBrush(COLOR_HIGHLIGHT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    DrawTextW(dc, text, -1, &label, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    if (item.itemState & ODS_FOCUS)
        DrawFocusRect(dc, &highlight);
    SelectObject(dc, oldFont);
}

// Group boxes and what they hold keep the ordinary button-face colour on the green form.
LRESULT TForm1::OnControlColour(HDC dc, HWND control)
{
    const int id = GetDlgCtrlID(control);
    const bool onFace
        = id == kGroupBox3 || id == kPanel1 || id == kRadioGroup1 || id == kRadioGroup1Item0 || id == kRadioGroup1Item1;
    SetBkColor(dc, onFace ? GetSysColor(COLOR_BTNFACE) : Colour(form::kFormColour));
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    return reinterpret_cast<LRESULT>(onFace ? m_faceBrush.Get() : m_formBrush.Get());
}

void TForm1::PaintBackground(HDC dc) const
{
    RECT client {};
    GetClientRect(Handle(), &client);
    FillRect(dc, &client, m_formBrush.Get());
    for (const form::Rect& group : { form::kRadioGroup1, form::kGroupBox3 }) {
        const RECT r = ScaledRect(group);
        const RECT area { r.left, r.top, r.left + r.right, r.top + r.bottom };
        FillRect(dc, &area, m_faceBrush.Get());
    }
}

void TForm1::ShowWindow()
{
    HWND window = Handle();
    ::ShowWindow(window, IsIconic(window) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(window);
    BringWindowToTop(window);
    RaiseMessages();
}

// A box opened while the window was hidden was not yet tied above it on every desktop; it is put back on top.
void TForm1::RaiseMessages() const
{
    for (const auto& [text, box] : m_messages) {
        SetWindowPos(box, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
        SetForegroundWindow(box);
    }
}

void TForm1::HideWindow()
{
    ::ShowWindow(Handle(), SW_HIDE);
}

void TForm1::MinimizeWindow()
{
    ::ShowWindow(Handle(), SW_SHOWMINNOACTIVE);
}

bool TForm1::WindowHidden() const
{
    return !IsWindowVisible(Handle());
}

bool TForm1::TrayAvailable() const
{
    return m_services.trayAvailable();
}

void TForm1::DockTrayIcon()
{
    m_trayIcon->Show();
}

void TForm1::SetClockText(const std::string& text)
{
    SetWindowTextW(Control(kPanel1), Widen(text).c_str());
}

void TForm1::SetSelectedDay(int day)
{
    // CB_SETCURSEL sends no change notice, so no handler runs.
    SendMessageW(Control(kComboBox2), CB_SETCURSEL, day, 0);
}

void TForm1::SetHourChecks(const vlm::HourChecks& checks)
{
    HWND list = Control(kCheckListBox1);
    for (int h = 0; h < vlm::kHourCount; ++h)
        SendMessageW(list, LB_SETITEMDATA, h, checks[h] ? 1 : 0);
    InvalidateRect(list, nullptr, FALSE);
}

void TForm1::SetBellChoice(int choice)
{
    SendMessageW(Control(kRadioGroup1Item0), BM_SETCHECK, choice == 0 ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessageW(Control(kRadioGroup1Item1), BM_SETCHECK, choice == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TForm1::SetAutostartChecked(bool checked)
{
    SendMessageW(Control(kCheckBox1), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TForm1::ShowMessage(const std::string& text)
{
    Message(Widen(text));
}

// One box per text: a failure that repeats (each cue of a reminder) brings its box forward instead of piling up
// boxes.
HWND TForm1::Message(const std::wstring& text)
{
    Log(vlm::LogTopic::Window, "message " + Narrow(text));
    if (const auto open = m_messages.find(text); open != m_messages.end()) {
        ::ShowWindow(open->second, SW_SHOW);
        SetForegroundWindow(open->second);
        BringWindowToTop(open->second);
        return open->second;
    }
    HWND box = vlm::win32::MessageWindow::Open(Handle(), kMessageClosed, WindowText(Handle()), text);
    if (box)
        m_messages.emplace(text, box);
    return box;
}

void TForm1::OnMessageClosed(HWND box)
{
    for (auto it = m_messages.begin(); it != m_messages.end(); ++it)
        if (it->second == box) {
            const std::string text = Narrow(it->first);
            m_messages.erase(it);
            m_form.MessageClosed(text);
            break;
        }
    if (box == m_farewellBox) {
        m_farewellBox = nullptr;
        m_services.exitRequested();
    }
}

HWND TForm1::MessageBoxOf(const std::string& text) const
{
    const auto open = m_messages.find(Widen(text));
    return open == m_messages.end() ? nullptr : open->second;
}

void TForm1::StartTimer(int delayMs)
{
    m_timer->Start(delayMs);
}

void TForm1::StopTimer()
{
    m_timer->Stop();
}

void TForm1::EndProgram(const std::string& farewell)
{
    if (farewell.empty()) {
        m_services.exitRequested();
        return;
    }
    // The program ends once the user has read why their settings were not kept.
    HWND box = Message(Widen(farewell));
    if (box)
        m_farewellBox = box;
    else
        m_services.exitRequested();
}

void TForm1::Log(vlm::LogTopic topic, const std::string& text)
{
    if (m_services.log)
        m_services.log(topic, std::string(TopicName(topic)) + ": " + text);
}
