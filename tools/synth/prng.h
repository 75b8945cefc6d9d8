#pragma once

#include <cstdint>

namespace vlm::synth {

// A small seeded generator (splitmix64) so every build produces the same bytes on every platform.
class Prng {
public:
    explicit Prng(std::uint64_t seed)
        : m_state(seed)
    {
    }

    std::uint64_t Next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

    // Uniform in [0, 1).
    double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }

    double Uniform(double low, double high) { return low + (high - low) * Uniform(); }

    // Uniform in [0, count).
    int Below(int count) { return static_cast<int>(Uniform() * count); }

    bool Chance(double probability) { return Uniform() < probability; }

private:
    std::uint64_t m_state;
};

} // namespace vlm::synth
