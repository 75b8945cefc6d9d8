#pragma once

#include "tools/synth/samples.h"

#include <string>
#include <string_view>

namespace vlm::synth {

// Software tag written into every bundled WAV; the install step keeps any file without it as the user's own.
inline constexpr std::string_view kBundledTag = "VLM sound bank";

// Scales the signal so that its peak sits at peakDbfs.
void NormalizePeak(Samples& samples, double peakDbfs);

// Raised-cosine fades over the first fadeInSec and the last fadeOutSec, so both ends are exactly zero.
void ApplyEdgeFades(Samples& samples, double fadeInSec, double fadeOutSec);

// Writes 16-bit PCM mono WAV with a LIST/INFO chunk (title, software tag) after the data; true on success.
// Writes to a temporary file beside the target and renames it, so a reader never sees half a file.
bool WriteWavFile(const std::string& path, const Samples& samples, std::string_view title);

} // namespace vlm::synth
