#pragma once

#include "shell/win32/handles.h"

#include <string>

namespace vlm::win32 {

// Diagnostics appended to a file, each line stamped with the UTC wall-clock time to the millisecond.
class LogFile {
public:
    // Opens the file named by the environment variable VLM_LOG; the log is off without it.
    static LogFile FromEnvironment();

    explicit operator bool() const { return static_cast<bool>(m_file); }
    void Write(const std::string& line) const;

private:
    KernelHandle m_file;
};

} // namespace vlm::win32
