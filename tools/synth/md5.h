#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vlm::synth {

// The MD5 digest of `bytes` in lower-case hexadecimal, as md5sum prints it.
std::string Md5Hex(std::string_view bytes);

// The digest of the file at `utf8Path`, or nothing when it cannot be read.
std::optional<std::string> Md5HexOfFile(const std::string& utf8Path);

} // namespace vlm::synth
