#include "tools/synth/temple_bell.h"

#include "tools/synth/prng.h"
#include "tools/synth/wav_file.h"

#include <array>
#include <cmath>
#include <numbers>

namespace vlm::synth {

namespace {

struct Partial {
    double ratio; // of the prime
    double level; // linear, prime = 1
    double t60; // seconds to fall 60 dB
    double beatHz; // split of the doublet that makes the slow warble
};

// Hum, prime, a flat "tierce", then ever faster-dying upper partials at stretched, inharmonic ratios.
constexpr std::array<Partial, 11> kPartials { {
    { 0.502, 0.42, 8.0, 0.21 },
    { 1.000, 1.00, 8.0, 0.47 },
    { 1.183, 0.46, 6.2, 0.83 },
    { 1.506, 0.30, 5.0, 1.10 },
    { 2.031, 0.36, 4.1, 1.37 },
    { 2.634, 0.26, 3.3, 1.61 },
    { 3.241, 0.20, 2.6, 1.90 },
    { 4.163, 0.15, 1.9, 2.30 },
    { 5.342, 0.11, 1.3, 2.70 },
    { 6.727, 0.08, 0.9, 3.10 },
    { 8.452, 0.05, 0.6, 3.60 },
} };

constexpr double kStrikeNoiseLevel = 0.55;
constexpr double kStrikeNoiseTau = 0.010;
constexpr double kPeakDbfs = -2.0;

} // namespace

void TempleBell::Strike(Samples& out, double startSec, double strength) const
{
    Prng rng(m_seed ^ static_cast<std::uint64_t>(startSec * 1000.0));
    const std::size_t start = SampleCount(startSec);
    const std::size_t length = SampleCount(kStrokeSeconds);
    if (out.size() < start + length)
        out.resize(start + length, 0.0);
    const double dt = 1.0 / kSampleRate;

    for (const Partial& p : kPartials) {
        const double f = kPrimeHz * p.ratio;
        if (f * 2.0 >= kSampleRate)
            continue;
        // Two close modes of unequal weight: their beating gives the bell's slow swell.
        const double f1 = f - p.beatHz / 2.0;
        const double f2 = f + p.beatHz / 2.0;
        const double phase1 = rng.Uniform(0.0, 2.0 * std::numbers::pi);
        const double phase2 = rng.Uniform(0.0, 2.0 * std::numbers::pi);
        const double decayPerSample = std::pow(10.0, -3.0 / (p.t60 * kSampleRate));
        const double w1 = 2.0 * std::numbers::pi * f1 * dt;
        const double w2 = 2.0 * std::numbers::pi * f2 * dt;
        double envelope = p.level * strength;
        for (std::size_t i = 0; i < length; ++i) {
            const double t = static_cast<double>(i);
            out[start + i] += envelope * (0.62 * std::sin(w1 * t + phase1) + 0.38 * std::sin(w2 * t + phase2));
            envelope *= decayPerSample;
        }
    }

    // The beam's thud: low-passed noise over a few tens of milliseconds.
    const std::size_t noiseLength = SampleCount(kStrikeNoiseTau * 8.0);
    double low = 0.0;
    for (std::size_t i = 0; i < noiseLength; ++i) {
        const double t = static_cast<double>(i) * dt;
        low += 0.35 * (rng.Uniform(-1.0, 1.0) - low);
        out[start + i] += kStrikeNoiseLevel * strength * std::exp(-t / kStrikeNoiseTau) * low;
    }
}

Samples TempleBell::SingleStroke() const
{
    Samples out;
    Strike(out, 0.0, 1.0);
    ApplyEdgeFades(out, 0.002, 1.0);
    NormalizePeak(out, kPeakDbfs);
    return out;
}

Samples TempleBell::Peal() const
{
    static constexpr std::array<double, kPealStrokes> kStrengths { 1.0, 0.9, 0.96 };
    Samples out;
    for (int i = 0; i < kPealStrokes; ++i)
        Strike(out, i * kPealSpacingSeconds, kStrengths[i]);
    ApplyEdgeFades(out, 0.002, 1.0);
    NormalizePeak(out, kPeakDbfs);
    return out;
}

} // namespace vlm::synth
