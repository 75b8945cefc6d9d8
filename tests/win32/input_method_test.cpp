#include "shell/win32/Unit1.h"
#include "shell/win32/input_method.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using vlm::win32::InputMethodRequest;
using vlm::win32::KeyboardLayouts;

namespace {

const std::wstring kNewPhonetic = L"中文 (繁體) - 新注音";
const HKL kUs = reinterpret_cast<HKL>(static_cast<UINT_PTR>(0x04090409));
const HKL kPhonetic = reinterpret_cast<HKL>(static_cast<UINT_PTR>(0xE0080404));
const HKL kJapanese = reinterpret_cast<HKL>(static_cast<UINT_PTR>(0xE0010411));

// Installed layouts of a test's choosing; records what it is asked to activate.
class FakeLayouts final : public KeyboardLayouts {
public:
    std::vector<Layout> Installed() const override { return installed; }
    HKL Active() const override { return active; }
    bool Activate(HKL layout) override
    {
        activated.push_back(layout);
        active = layout;
        return true;
    }

    std::vector<Layout> installed;
    HKL active = kUs;
    std::vector<HKL> activated;
};

struct InstalledCase {
    const char* name;
    std::vector<KeyboardLayouts::Layout> installed;
    HKL active;
    std::vector<HKL> expected; // asked to activate on entering, then on leaving
};

class InputMethodRequestTest : public ::testing::TestWithParam<InstalledCase> { };

} // namespace

TEST_P(InputMethodRequestTest, AsksOnEnteringAndGivesBackOnLeaving)
{
    auto layouts = std::make_shared<FakeLayouts>();
    layouts->installed = GetParam().installed;
    layouts->active = GetParam().active;
    InputMethodRequest request(layouts, kNewPhonetic);
    request.FocusEntered();
    request.FocusLeft();
    EXPECT_EQ(layouts->activated, GetParam().expected);
    EXPECT_EQ(layouts->active, GetParam().active);
}

INSTANTIATE_TEST_SUITE_P(Layouts, InputMethodRequestTest,
    ::testing::Values(
        InstalledCase { "Installed", { { kUs, L"" }, { kPhonetic, kNewPhonetic } }, kUs, { kPhonetic, kUs } },
        // Another Chinese input method, however close its name, is not the one asked for.
        InstalledCase { "OnlyAnotherInputMethod", { { kUs, L"" }, { kJapanese, L"中文 (繁體) - 注音" } }, kUs, {} },
        InstalledCase { "NothingInstalled", {}, kUs, {} },
        InstalledCase { "AlreadyActive", { { kUs, L"" }, { kPhonetic, kNewPhonetic } }, kPhonetic, {} }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InputMethodRequest, GivesBackWhatWasActiveEachTime)
{
    auto layouts = std::make_shared<FakeLayouts>();
    layouts->installed = { { kUs, L"" }, { kJapanese, L"Microsoft IME" }, { kPhonetic, kNewPhonetic } };
    InputMethodRequest request(layouts, kNewPhonetic);
    // From one control that asks to the other: given back, then asked for again.
    request.FocusEntered();
    request.FocusLeft();
    request.FocusEntered();
    request.FocusLeft();
    EXPECT_EQ(layouts->activated, (std::vector<HKL> { kPhonetic, kUs, kPhonetic, kUs }));
    // The user picked another layout in between.
    layouts->active = kJapanese;
    layouts->activated.clear();
    request.FocusEntered();
    request.FocusEntered();
    request.FocusLeft();
    request.FocusLeft();
    EXPECT_EQ(layouts->activated, (std::vector<HKL> { kPhonetic, kJapanese }));
}

// The real window: the day selector and the hour list ask while they have the focus, the other controls do not.
TEST(InputMethodRequest, DaySelectorAndHourListAsk)
{
    auto layouts = std::make_shared<FakeLayouts>();
    layouts->installed = { { kUs, L"" }, { kPhonetic, kNewPhonetic } };
    TForm1Services services;
    services.keyboardLayouts = layouts;
    services.trayAvailable = [] { return false; };
    services.exitRequested = [] {};
    TForm1 form(std::move(services));
    ShowWindow(form.Handle(), SW_SHOW);
    SetForegroundWindow(form.Handle());

    const struct {
        TForm1::Id control;
        HKL active;
    } steps[] = { { TForm1::kBitBtn1, kUs }, { TForm1::kComboBox2, kPhonetic }, { TForm1::kCheckListBox1, kPhonetic },
        { TForm1::kCheckBox1, kUs }, { TForm1::kCheckListBox1, kPhonetic }, { TForm1::kBitBtn1, kUs } };
    for (const auto& step : steps) {
        SetFocus(form.Control(step.control));
        EXPECT_EQ(layouts->active, step.active) << step.control;
    }
}
