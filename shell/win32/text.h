#pragma once

#include <string>
#include <string_view>

namespace vlm::win32 {

// UTF-8 (the core's strings) to UTF-16 (the wide Windows APIs) and back; invalid sequences become U+FFFD.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

} // namespace vlm::win32
