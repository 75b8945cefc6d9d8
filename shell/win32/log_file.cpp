#include "shell/win32/log_file.h"

#include <cstdio>
#include <vector>

namespace vlm::win32 {

namespace {

using SystemTimeFunction = VOID(WINAPI*)(LPFILETIME);

// The clock to the microsecond came with Windows 8 and is looked up, so the program still loads on Windows 7;
// there the stamps move with the system timer (1 to 16 ms).
SystemTimeFunction SystemTimeClock()
{
    static const SystemTimeFunction clock = [] {
        const FARPROC precise = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemTimePreciseAsFileTime");
        return precise ? reinterpret_cast<SystemTimeFunction>(reinterpret_cast<void*>(precise))
                       : &GetSystemTimeAsFileTime;
    }();
    return clock;
}

} // namespace

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
    SystemTimeClock()(&now);
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
