#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace vlm::win32 {

// The keyboard layouts and input methods installed for the user, as the system (or a test) lists them.
class KeyboardLayouts {
public:
    struct Layout {
        HKL handle;
        std::wstring name; // an input method's description, such as "中文 (繁體) - 新注音"
    };

    virtual ~KeyboardLayouts() = default;
    virtual std::vector<Layout> Installed() const = 0;
    // The layout this thread types with now.
    virtual HKL Active() const = 0;
    // Makes `layout` this thread's; false when the system refuses.
    virtual bool Activate(HKL layout) = 0;
};

// The system's list (GetKeyboardLayoutList), named by the input method manager.
class SystemKeyboardLayouts final : public KeyboardLayouts {
public:
    std::vector<Layout> Installed() const override;
    HKL Active() const override;
    bool Activate(HKL layout) override;
};

// Asks for one input method while a control has the focus and gives the one before it back when the focus leaves.
// Where that input method is not installed, nothing changes.
class InputMethodRequest {
public:
    InputMethodRequest(std::shared_ptr<KeyboardLayouts> layouts, std::wstring name);

    void FocusEntered();
    void FocusLeft();

private:
    std::shared_ptr<KeyboardLayouts> m_layouts;
    std::wstring m_name;
    HKL m_previous = nullptr; // the layout to give back; null when nothing was switched
};

} // namespace vlm::win32
