#pragma once

#include "tools/synth/samples.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace vlm::synth {

// Software tag written into every bundled WAV; the install step keeps any file without it as the user's own.
inline constexpr std::string_view kBundledTag = "VLM sound bank";

// A UTF-8 path as the file system's own (wide on Windows, whatever the code page).
std::filesystem::path PathFromUtf8(std::string_view utf8);

// Scales the signal so that its peak sits at peakDbfs.
void NormalizePeak(Samples& samples, double peakDbfs);

// Raised-cosine fades over the first fadeInSec and the last fadeOutSec, so both ends are exactly zero.
void ApplyEdgeFades(Samples& samples, double fadeInSec, double fadeOutSec);

// Writes 16-bit PCM mono WAV with a LIST/INFO chunk (title, software tag) after the data to `path` (UTF-8); true on
// success.
// Writes to a temporary file beside the target and renames it, so a reader never sees half a file.
bool WriteWavFile(const std::string& path, const Samples& samples, std::string_view title);

} // namespace vlm::synth
