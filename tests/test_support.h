#pragma once

#include "core/clock.h"
#include "core/system.h"

#ifdef _WIN32
#include <gtest/gtest.h>
#endif

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>

namespace vlm::test {

// A std::filesystem path from a UTF-8 string (on Windows a plain string would be read in the ANSI code page).
inline std::filesystem::path FsPath(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The UTF-8 string of a std::filesystem path.
inline std::string Utf8(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// An absolute path written POSIX-style ("/opt/VLM") as this system writes it ("C:\opt\VLM" on Windows).
inline std::string HostPath(std::string_view posix)
{
#ifdef _WIN32
    return "C:" + sys::NativePath(posix);
#else
    return std::string(posix);
#endif
}

// A temporary folder removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir()
    {
#ifdef _WIN32
        std::random_device random;
        for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
            const auto candidate = std::filesystem::temp_directory_path() / ("vlm-test-" + std::to_string(random()));
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error))
                m_path = Utf8(candidate);
        }
#else
        std::string pattern = (std::filesystem::temp_directory_path() / "vlm-test-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
#endif
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::permissions(FsPath(m_path), std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(FsPath(m_path), ignored);
    }
    const std::string& Path() const
    {
        return m_path;
    }
    std::string File(const std::string& name) const
    {
        return m_path + sys::kPathSeparator + sys::NativePath(name);
    }

private:
    std::string m_path;
};

#ifdef _WIN32
// The Windows calendar can't be switched inside a process: the test command runs the cases of each zone in a
// process of their own, started with TZ set (Wine takes the Windows zone from it). This only checks that the
// case runs in the zone it was written for (the innermost one, when a test overrides its fixture's).
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone)
        : m_zone(zone)
        , m_outer(Innermost())
    {
        if (m_outer)
            m_outer->m_overridden = true;
        Innermost() = this;
    }
    ~ScopedTimeZone()
    {
        Innermost() = m_outer;
        if (!m_overridden) {
            EXPECT_STREQ(std::getenv("TZ"), m_zone) << "run this case with TZ=" << m_zone;
        }
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    static ScopedTimeZone*& Innermost()
    {
        static ScopedTimeZone* innermost = nullptr;
        return innermost;
    }
    const char* m_zone;
    ScopedTimeZone* m_outer;
    bool m_overridden = false;
};
#else
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
#endif

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
