#pragma once

#include "tools/synth/samples.h"

#include <functional>
#include <string>
#include <vector>

namespace vlm::synth {

// Every sound the program plays, each with the path it has in the program folder.
class SoundBank {
public:
    struct Entry {
        std::string relativePath;
        std::string title;
        std::function<Samples()> render;
    };

    SoundBank();

    const std::vector<Entry>& Entries() const { return m_entries; }

    // Renders every entry into outputDir (UTF-8) on `threads` threads; returns the paths that could not be written.
    std::vector<std::string> WriteAll(const std::string& outputDir, int threads) const;
    // The same for the entries at the given positions only.
    std::vector<std::string> Write(
        const std::string& outputDir, const std::vector<std::size_t>& entries, int threads) const;

private:
    std::vector<Entry> m_entries;
};

} // namespace vlm::synth
