#include "tools/synth/plucked_string.h"

#include "tools/synth/prng.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <vector>

namespace vlm::synth {

namespace {

double MidiToHz(double midi)
{
    return 440.0 * std::pow(2.0, (midi - 69.0) / 12.0);
}

constexpr double kScoopSec = 0.12;
constexpr double kSlideStartSec = 0.9;
constexpr double kSlideSec = 0.35;
constexpr double kVibratoHz = 5.3;
constexpr double kReleaseSec = 0.06;

double SmoothStep(double x)
{
    x = std::clamp(x, 0.0, 1.0);
    return x * x * (3.0 - 2.0 * x);
}

} // namespace

void PluckedString::Render(const Pluck& pluck, Samples& out) const
{
    Prng rng(m_seed ^ (static_cast<std::uint64_t>(pluck.startSec * kSampleRate) * 0x2545F4914F6CDD1DULL)
        ^ static_cast<std::uint64_t>(pluck.midi * 64.0));
    const double baseHz = MidiToHz(pluck.midi);
    const double period = kSampleRate / baseHz;
    const double lowestHz = MidiToHz(pluck.midi - std::max(0.0, pluck.scoopSemitones) - 1.0);
    const std::size_t bufferSize = std::bit_ceil(static_cast<std::size_t>(kSampleRate / lowestHz) + 8);
    const std::size_t mask = bufferSize - 1;
    std::vector<double> line(bufferSize, 0.0);

    // Excitation: one period of noise, softened by a one-pole low-pass and combed by the plucking point.
    const auto excitationLength = static_cast<std::size_t>(std::max(2.0, std::round(period)));
    std::vector<double> excitation(excitationLength);
    const double smoothing = 0.15 + 0.8 * std::clamp(pluck.brightness, 0.0, 1.0);
    double low = 0.0;
    for (double& e : excitation) {
        low += smoothing * (rng.Uniform(-1.0, 1.0) - low);
        e = low;
    }
    const auto pickOffset = static_cast<std::size_t>(std::max(1.0, std::round(period * 0.13)));
    std::vector<double> combed(excitationLength);
    double mean = 0.0;
    for (std::size_t i = 0; i < excitationLength; ++i) {
        combed[i] = excitation[i] - (i >= pickOffset ? excitation[i - pickOffset] : 0.0);
        mean += combed[i];
    }
    mean /= static_cast<double>(excitationLength);
    double peak = 1e-12;
    for (double& c : combed) {
        c -= mean;
        peak = std::max(peak, std::abs(c));
    }

    const double ringSec = std::min(pluck.ringSec, pluck.t60 * 1.1);
    const std::size_t length = SampleCount(ringSec + kReleaseSec);
    const std::size_t releaseStart = SampleCount(ringSec);
    const std::size_t start = SampleCount(pluck.startSec);
    if (out.size() < start + length)
        out.resize(start + length, 0.0);

    const double loopGain = std::pow(10.0, -3.0 / (baseHz * pluck.t60));
    const bool bends = pluck.scoopSemitones != 0.0 || pluck.vibratoSemitones != 0.0 || pluck.slideSemitones != 0.0;
    const double level = pluck.level / peak;
    double delay = period - 0.5; // the averaging filter adds half a sample
    double previousRead = 0.0;
    for (std::size_t n = 0; n < length; ++n) {
        if (bends) {
            const double t = static_cast<double>(n) / kSampleRate;
            double offset = -pluck.scoopSemitones * (1.0 - SmoothStep(t / kScoopSec));
            offset += pluck.slideSemitones * SmoothStep((t - kSlideStartSec) / kSlideSec);
            offset += pluck.vibratoSemitones * SmoothStep((t - 0.3) / 0.4)
                * std::sin(2.0 * std::numbers::pi * kVibratoHz * t);
            delay = kSampleRate / (baseHz * std::exp2(offset / 12.0)) - 0.5;
        }
        const double readPos = static_cast<double>(n) - delay;
        double read = 0.0;
        if (readPos >= 0.0) {
            const auto whole = static_cast<std::size_t>(readPos);
            const double frac = readPos - static_cast<double>(whole);
            read = (1.0 - frac) * line[whole & mask] + frac * line[(whole + 1) & mask];
        }
        const double y = (n < excitationLength ? combed[n] : 0.0) + loopGain * 0.5 * (read + previousRead);
        previousRead = read;
        line[n & mask] = y;
        double gain = level;
        if (n >= releaseStart)
            gain *= 1.0 - static_cast<double>(n - releaseStart) / static_cast<double>(length - releaseStart);
        out[start + n] += gain * y;
    }
}

} // namespace vlm::synth
