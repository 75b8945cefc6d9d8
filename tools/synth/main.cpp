// Writes the program's sound bank (two bells and the preludes) into the folder given on the command line.
#include "tools/synth/sound_bank.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR [THREADS]\n", argv[0]);
        return 2;
    }
    const int threads = argc == 3 ? std::max(1, std::atoi(argv[2])) : 2;
    const vlm::synth::SoundBank bank;
    const auto failed = bank.WriteAll(argv[1], threads);
    for (const std::string& path : failed)
        std::fprintf(stderr, "vlm_synth: cannot write %s\n", path.c_str());
    return failed.empty() ? 0 : 1;
}
