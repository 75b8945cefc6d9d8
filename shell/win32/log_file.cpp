#include "shell/win32/log_file.h"

#include <cstdio>
#include <vector>

namespace vlm::win32 {

LogFile LogFile::FromEnvironment()
{
    LogFile log;
    const DWORD size = GetEnvironmentVariableW(L"VLM_LOG", nullptr, 0);
    if (size == 0)
        return log;
    std::vector<wchar_t> path(size, L'\0');
    GetEnvironmentVariableW(L"VLM_LOG", path.data(), size);
    const HANDLE file = CreateFileW(path.data(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        log.m_file.Reset(file);
    return log;
}

void LogFile::Write(const std::string& line) const
{
    if (!m_file)
        return;
    FILETIME now {};
    GetSystemTimePreciseAsFileTime(&now);
    SYSTEMTIME time {};
    FileTimeToSystemTime(&now, &time);
    char stamp[32];
    std::snprintf(stamp, sizeof(stamp), "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ ", time.wYear, time.wMonth, time.wDay,
        time.wHour, time.wMinute, time.wSecond, time.wMilliseconds);
    const std::string text = stamp + line + "\r\n";
    DWORD written = 0;
    WriteFile(m_file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

} // namespace vlm::win32
