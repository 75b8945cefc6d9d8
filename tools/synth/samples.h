#pragma once

#include <vector>

namespace vlm::synth {

// Every sound of the bank is mono at this rate.
inline constexpr int kSampleRate = 22050;

// Mono signal at kSampleRate, full scale = 1.0.
using Samples = std::vector<double>;

inline std::size_t SampleCount(double seconds)
{
    return static_cast<std::size_t>(seconds * kSampleRate + 0.5);
}

} // namespace vlm::synth
