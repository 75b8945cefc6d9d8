#include "shell/win32/run_key_autostart.h"

#include "shell/win32/handles.h"
#include "shell/win32/text.h"

#include <optional>
#include <vector>

namespace vlm::win32 {

namespace {

constexpr const wchar_t* kValueName = L"VLM";

bool SamePath(std::wstring_view a, std::wstring_view b)
{
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE)
        == CSTR_EQUAL;
}

std::wstring_view Unquoted(std::wstring_view text)
{
    if (text.size() >= 2 && text.front() == L'"' && text.back() == L'"')
        return text.substr(1, text.size() - 2);
    return text;
}

// The string data of our value under an open key, or nothing when there is none.
std::optional<std::wstring> ReadValue(HKEY key)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, kValueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS
        || (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, kValueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size)
        != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(buffer.data());
}

bool StartsProgram(const std::optional<std::wstring>& data, const std::string& programDir)
{
    return data && SamePath(Unquoted(*data), Unquoted(RunKeyAutostart::CommandLine(programDir)));
}

} // namespace

RunKeyAutostart::RunKeyAutostart(std::wstring keyPath)
    : m_keyPath(std::move(keyPath))
{
}

std::wstring RunKeyAutostart::CommandLine(const std::string& programDir)
{
    return L"\"" + Widen(programDir) + L"\\VLM.exe\"";
}

std::string RunKeyAutostart::RegisterAutostart(const std::string& programDir)
{
    HKEY opened = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, m_keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr)
        != ERROR_SUCCESS)
        return {};
    const RegistryKey key(opened);
    const std::wstring data = CommandLine(programDir);
    const auto bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
    if (RegSetValueExW(key.Get(), kValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), bytes)
        != ERROR_SUCCESS)
        return kAutostartFailedText;
    return {};
}

void RunKeyAutostart::UnregisterAutostart(const std::string& programDir)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, m_keyPath.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &opened)
        != ERROR_SUCCESS)
        return;
    const RegistryKey key(opened);
    // Another program folder's copy (or anything else) that uses the name keeps its entry.
    if (StartsProgram(ReadValue(key.Get()), programDir))
        RegDeleteValueW(key.Get(), kValueName);
}

bool RunKeyAutostart::IsRegistered(const std::string& programDir) const
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, m_keyPath.c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
        return false;
    const RegistryKey key(opened);
    return StartsProgram(ReadValue(key.Get()), programDir);
}

} // namespace vlm::win32
