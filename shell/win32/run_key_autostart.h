#pragma once

#include "core/autostart_store.h"

#include <windows.h>

#include <string>

namespace vlm::win32 {

// Start at logon through the value "VLM" under the current user's Run key.
class RunKeyAutostart final : public vlm::AutostartStore {
public:
    // `keyPath` below HKEY_CURRENT_USER; tests point it elsewhere.
    explicit RunKeyAutostart(std::wstring keyPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run");

    std::string RegisterAutostart(const std::string& programDir) override;
    void UnregisterAutostart(const std::string& programDir) override;
    bool IsRegistered(const std::string& programDir) const override;

    // The value's data for a program folder: its VLM.exe in double quotes, so a folder with spaces stays whole.
    static std::wstring CommandLine(const std::string& programDir);

private:
    std::wstring m_keyPath;
};

} // namespace vlm::win32
