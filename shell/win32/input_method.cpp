#include "shell/win32/input_method.h"

#include <imm.h>

#include <utility>

namespace vlm::win32 {

std::vector<KeyboardLayouts::Layout> SystemKeyboardLayouts::Installed() const
{
    std::vector<HKL> handles(static_cast<std::size_t>(GetKeyboardLayoutList(0, nullptr)));
    handles.resize(static_cast<std::size_t>(GetKeyboardLayoutList(static_cast<int>(handles.size()), handles.data())));
    std::vector<Layout> layouts;
    for (HKL handle : handles) {
        std::wstring name;
        if (ImmIsIME(handle)) {
            name.resize(ImmGetDescriptionW(handle, nullptr, 0) + 1);
            name.resize(ImmGetDescriptionW(handle, name.data(), static_cast<UINT>(name.size())));
        }
        layouts.push_back({ handle, std::move(name) });
    }
    return layouts;
}

HKL SystemKeyboardLayouts::Active() const
{
    return GetKeyboardLayout(0);
}

bool SystemKeyboardLayouts::Activate(HKL layout)
{
    return ActivateKeyboardLayout(layout, 0) != nullptr;
}

InputMethodRequest::InputMethodRequest(std::shared_ptr<KeyboardLayouts> layouts, std::wstring name)
    : m_layouts(std::move(layouts))
    , m_name(std::move(name))
{
}

void InputMethodRequest::FocusEntered()
{
    if (m_previous)
        return; // already switched, and still owed the layout from before
    const HKL active = m_layouts->Active();
    for (const KeyboardLayouts::Layout& layout : m_layouts->Installed()) {
        if (layout.name != m_name)
            continue;
        if (layout.handle != active && m_layouts->Activate(layout.handle))
            m_previous = active;
        return;
    }
}

void InputMethodRequest::FocusLeft()
{
    if (m_previous)
        m_layouts->Activate(std::exchange(m_previous, nullptr));
}

} // namespace vlm::win32
