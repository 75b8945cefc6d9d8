#pragma once

#include "tools/synth/samples.h"

#include <cstdint>

namespace vlm::synth {

// One pluck of a zither-like string (Karplus–Strong with a fractional, bendable delay).
struct Pluck {
    double startSec = 0.0;
    double midi = 60.0;
    double level = 1.0;
    double brightness = 0.6; // 0 = soft finger, 1 = bright nail
    double t60 = 3.0; // seconds to fall 60 dB
    double ringSec = 8.0; // the string is damped after this long
    double scoopSemitones = 0.0; // starts this far below and presses up to the note
    double vibratoSemitones = 0.0; // depth of the left-hand vibrato on long notes
    double slideSemitones = 0.0; // late slide by this much, as at a phrase end
};

class PluckedString {
public:
    explicit PluckedString(std::uint64_t seed)
        : m_seed(seed)
    {
    }

    // Adds the pluck into `out`, growing it when the note rings past its end.
    void Render(const Pluck& pluck, Samples& out) const;

private:
    std::uint64_t m_seed;
};

} // namespace vlm::synth
