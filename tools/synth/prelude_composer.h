#pragma once

#include "tools/synth/samples.h"

#include <cstdint>
#include <string_view>

namespace vlm::synth {

// What makes one prelude differ from the next: key, mode, pace, meter, length and accompaniment.
struct PreludeStyle {
    enum class Texture { Bass, Arpeggio, Drone, Canon };

    int mode = 0; // pentatonic mode 0..4 (gong, shang, jue, zhi, yu)
    int tonicMidi = 62;
    double beatsPerMinute = 60.0;
    int beatsPerBar = 4;
    double targetSeconds = 90.0;
    Texture texture = Texture::Bass;
    bool chimes = false;
    bool opensWithGlissando = true;
    double brightness = 0.6;
    double sustain = 1.0;
    std::uint64_t seed = 0;

    // The style of catalogue entry `index`, its melody seeded by the title.
    static PreludeStyle ForCatalogueEntry(int index, std::string_view title);
};

// Composes and renders one calm pentatonic piece for plucked zither, ending in a fade.
class PreludeComposer {
public:
    explicit PreludeComposer(const PreludeStyle& style)
        : m_style(style)
    {
    }

    // The finished piece: edges faded and peak normalised.
    Samples Render() const;

private:
    PreludeStyle m_style;
};

} // namespace vlm::synth
