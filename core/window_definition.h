#pragma once

#include <array>
#include <string>

// The main window as it is defined: captions, item lists, colours, fonts and where each control sits. Both
// shells build their controls from this. Positions and sizes are in pixels at 96 dots per inch (logical pixels);
// font sizes are pixel heights.
namespace vlm::form {

struct Rect {
    int Left;
    int Top;
    int Width;
    int Height;
};

struct Font {
    const char* Family;
    int PixelHeight;
};

struct Rgb {
    int Red;
    int Green;
    int Blue;
};

inline constexpr const char* kCaption = "Vellimor - 20150212 (Unicode)";
inline constexpr const char* kTrayTip = "Vellimor";
inline constexpr int kClientWidth = 364;
inline constexpr int kClientHeight = 259;
inline constexpr Rgb kFormColour { 192, 220, 192 }; // "money green"
inline constexpr Font kFormFont { "Arial", 12 };

// Day selector: 0-6 are Sunday to Saturday (rows of the schedule), 7 is every day.
inline constexpr int kEveryDay = 7;
inline constexpr std::array<const char*, 8> kDayItems { "星期日", "星期一", "星期二", "星期三", "星期四", "星期五",
    "星期六", "每一天" };
inline constexpr Rect kComboBox2 { 43, 16, 81, 23 };
inline constexpr Font kComboBox2Font { "Arial", 12 };

// Hour list: two columns of twelve, item h reads "hh:55".
inline constexpr Rect kCheckListBox1 { 16, 50, 139, 197 };
inline constexpr Font kCheckListBox1Font { "Arial", 13 };
inline constexpr int kHourColumns = 2;
std::string HourItemText(int hour);

// The input method the day selector and the hour list ask for while they have the focus, where it is installed.
inline constexpr const char* kInputMethodName = "中文 (繁體) - 新注音";

inline constexpr const char* kGroupBox3Caption = "目前電腦北京時間";
inline constexpr Rect kGroupBox3 { 177, 16, 167, 65 };
inline constexpr Rect kPanel1 { 11, 24, 150, 33 }; // inside GroupBox3
inline constexpr Font kPanel1Font { "Verdana", 13 };

inline constexpr const char* kRadioGroup1Caption = "提醒鐘聲";
inline constexpr std::array<const char*, 2> kBellItems { "一聲鐘聲", "三聲鐘聲" };
inline constexpr Rect kRadioGroup1 { 177, 98, 167, 55 };

inline constexpr const char* kCheckBox1Caption = "電腦一開機便自動啟動。";
inline constexpr Rect kCheckBox1 { 184, 170, 160, 17 };

inline constexpr const char* kBitBtn1Caption = "立即Vellimor";
inline constexpr Rect kBitBtn1 { 197, 204, 125, 42 };
inline constexpr Font kBitBtn1Font { "Arial", 13 };

// Tab order: RadioGroup1, GroupBox3, (the invisible player), BitBtn1, ComboBox2, CheckListBox1, CheckBox1.

inline constexpr const char* kN1Caption = "顯示視窗(&S)";
inline constexpr const char* kN3Caption = "結束程式(&E)";

} // namespace vlm::form
