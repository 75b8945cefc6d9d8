#pragma once

#include <sndfile.h>

#include <string>
#include <vector>

// One sound file as libsndfile sees it: its header facts and its samples scaled to +-1.0.
struct WavData {
    bool opened = false;
    SF_INFO info {};
    std::vector<double> samples;

    double Seconds() const { return static_cast<double>(samples.size()) / info.samplerate; }
};

inline WavData ReadWav(const std::string& path)
{
    WavData wav;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &wav.info);
    if (file == nullptr)
        return wav;
    wav.opened = true;
    std::vector<double> frames(static_cast<std::size_t>(wav.info.frames * wav.info.channels));
    const sf_count_t read = sf_readf_double(file, frames.data(), wav.info.frames);
    sf_close(file);
    wav.samples.reserve(static_cast<std::size_t>(read));
    for (sf_count_t i = 0; i < read; ++i)
        wav.samples.push_back(frames[static_cast<std::size_t>(i * wav.info.channels)]);
    return wav;
}
