#pragma once

#include "core/clock.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

namespace vlm::test {

// A temporary folder removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vlm-test-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Sets TZ for the test's life.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone()
    {
        if (m_old.empty())
            ::unsetenv("TZ");
        else
            ::setenv("TZ", m_old.c_str(), 1);
        ::tzset();
    }

private:
    std::string m_old;
};

// UTC second of a civil UTC date and time.
inline std::int64_t UtcSecond(int year, int month, int day, int hour, int minute, int second)
{
    using namespace std::chrono;
    const sys_days date = year_month_day { std::chrono::year { year }, std::chrono::month { unsigned(month) },
        std::chrono::day { unsigned(day) } };
    return duration_cast<seconds>(date.time_since_epoch()).count() + hour * 3600 + minute * 60 + second;
}

// UTC second at which the reference clock (UTC+8) shows the given date and time.
inline std::int64_t ReferenceSecond(int year, int month, int day, int hour, int minute, int second)
{
    return UtcSecond(year, month, day, hour, minute, second) - kReferenceOffsetSeconds;
}

class FakeTimeSource final : public TimeSource {
public:
    std::chrono::system_clock::time_point now {};
    std::chrono::system_clock::time_point Now() const override { return now; }
    void SetUtcSecond(std::int64_t second, int milliseconds = 0)
    {
        now = std::chrono::system_clock::time_point { std::chrono::seconds { second }
            + std::chrono::milliseconds { milliseconds } };
    }
};

} // namespace vlm::test
