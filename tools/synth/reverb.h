#pragma once

#include "tools/synth/samples.h"

namespace vlm::synth {

// A small hall (parallel damped combs into series all-passes) that gives the plucked voices some air.
class Reverb {
public:
    Reverb(double roomSize, double damping, double wetLevel);

    // Mixes the reverberated signal into `samples` in place.
    void Process(Samples& samples) const;

private:
    double m_feedback;
    double m_damping;
    double m_wet;
};

} // namespace vlm::synth
