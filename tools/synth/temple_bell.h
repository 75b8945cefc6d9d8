#pragma once

#include "tools/synth/samples.h"

#include <cstdint>

namespace vlm::synth {

// A large temple bell: a wooden-beam strike, then inharmonic partials that beat slowly and die away.
class TempleBell {
public:
    // The strongest partial ("prime"); the others sit at inharmonic ratios of it.
    static constexpr double kPrimeHz = 146.8;
    // Time for a stroke to fall 60 dB below its loudest moment.
    static constexpr double kDecaySeconds = 8.0;
    // Length of one stroke's file and the spacing of the three-stroke peal.
    static constexpr double kStrokeSeconds = 10.0;
    static constexpr double kPealSpacingSeconds = 3.0;
    static constexpr int kPealStrokes = 3;

    explicit TempleBell(std::uint64_t seed)
        : m_seed(seed)
    {
    }

    // Adds one stroke of the given strength (1 = full) starting at startSec into `out`.
    void Strike(Samples& out, double startSec, double strength) const;

    // The finished single stroke, edges faded and peak normalised.
    Samples SingleStroke() const;
    // The finished three strokes kPealSpacingSeconds apart.
    Samples Peal() const;

private:
    std::uint64_t m_seed;
};

} // namespace vlm::synth
