#include "tools/synth/reverb.h"

#include <array>
#include <cstddef>
#include <vector>

namespace vlm::synth {

namespace {

// Mutually prime delays (samples at 22,050 Hz) so the echoes do not pile up on one pitch.
constexpr std::array<std::size_t, 8> kCombDelays { 557, 593, 641, 677, 709, 743, 787, 809 };
constexpr std::array<std::size_t, 4> kAllPassDelays { 277, 219, 173, 113 };
constexpr double kAllPassGain = 0.5;

} // namespace

Reverb::Reverb(double roomSize, double damping, double wetLevel)
    : m_feedback(roomSize)
    , m_damping(damping)
    , m_wet(wetLevel)
{
}

void Reverb::Process(Samples& samples) const
{
    const std::size_t total = samples.size();
    Samples wet(total, 0.0);
    for (const std::size_t delay : kCombDelays) {
        std::vector<double> line(delay, 0.0);
        double store = 0.0;
        std::size_t pos = 0;
        for (std::size_t i = 0; i < total; ++i) {
            const double out = line[pos];
            store = out * (1.0 - m_damping) + store * m_damping;
            line[pos] = samples[i] * 0.1 + store * m_feedback;
            wet[i] += out;
            if (++pos == delay)
                pos = 0;
        }
    }
    for (const std::size_t delay : kAllPassDelays) {
        std::vector<double> line(delay, 0.0);
        std::size_t pos = 0;
        for (std::size_t i = 0; i < total; ++i) {
            const double buffered = line[pos];
            const double input = wet[i];
            wet[i] = buffered - input;
            line[pos] = input + buffered * kAllPassGain;
            if (++pos == delay)
                pos = 0;
        }
    }
    for (std::size_t i = 0; i < total; ++i)
        samples[i] += m_wet * wet[i];
}

} // namespace vlm::synth
