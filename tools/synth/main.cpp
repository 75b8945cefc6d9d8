// Writes the program's sound bank (two bells and the preludes) into a folder, or checks a folder against a list of
// digests. The Windows installer carries this program and writes the bank with it on the user's machine.
//
//   vlm_synth OUTPUT_DIR [THREADS [NAME...]]   writes every sound, or only those named ("Music/<title>.wav")
//   vlm_synth --verify DIR MANIFEST            checks DIR against MANIFEST's "<md5>  <name>" lines
#include "tools/synth/md5.h"
#include "tools/synth/sound_bank.h"
#include "tools/synth/wav_file.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include "core/system.h"
#endif

namespace {

int Usage(const std::string& program)
{
    std::fprintf(stderr, "usage: %s OUTPUT_DIR [THREADS [NAME...]]\n       %s --verify DIR MANIFEST\n",
        program.c_str(), program.c_str());
    return 2;
}

// Every file the manifest lists must be in `dir` with the listed digest.
int Verify(const std::string& dir, const std::string& manifestPath)
{
    std::ifstream manifest(vlm::synth::PathFromUtf8(manifestPath), std::ios::binary);
    if (!manifest) {
        std::fprintf(stderr, "vlm_synth: cannot read %s\n", manifestPath.c_str());
        return 1;
    }
    int checked = 0;
    int wrong = 0;
    std::string line;
    while (std::getline(manifest, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        if (line.size() < 35 || line.compare(32, 2, "  ") != 0) {
            std::fprintf(stderr, "vlm_synth: not a manifest line: %s\n", line.c_str());
            return 1;
        }
        const std::string expected = line.substr(0, 32);
        const std::string name = line.substr(34);
        const auto actual = vlm::synth::Md5HexOfFile(dir + "/" + name);
        ++checked;
        if (!actual) {
            std::fprintf(stderr, "vlm_synth: missing %s\n", name.c_str());
            ++wrong;
        } else if (*actual != expected) {
            std::fprintf(stderr, "vlm_synth: %s differs (%s, expected %s)\n", name.c_str(), actual->c_str(),
                expected.c_str());
            ++wrong;
        }
    }
    if (checked == 0) {
        std::fprintf(stderr, "vlm_synth: %s lists nothing\n", manifestPath.c_str());
        return 1;
    }
    return wrong == 0 ? 0 : 1;
}

int Run(const std::vector<std::string>& args)
{
    const std::string program = args.empty() ? "vlm_synth" : args[0];
    if (args.size() >= 2 && args[1] == "--verify")
        return args.size() == 4 ? Verify(args[2], args[3]) : Usage(program);
    if (args.size() < 2)
        return Usage(program);

    const int threads = args.size() >= 3 ? std::max(1, std::atoi(args[2].c_str())) : 2;
    const vlm::synth::SoundBank bank;
    std::vector<std::size_t> entries;
    for (std::size_t i = 3; i < args.size(); ++i) {
        const auto& all = bank.Entries();
        const auto found = std::find_if(
            all.begin(), all.end(), [&](const auto& entry) { return entry.relativePath == args[i]; });
        if (found == all.end()) {
            std::fprintf(stderr, "vlm_synth: no sound %s\n", args[i].c_str());
            return 2;
        }
        entries.push_back(static_cast<std::size_t>(found - all.begin()));
    }
    const auto failed = args.size() > 3 ? bank.Write(args[1], entries, threads) : bank.WriteAll(args[1], threads);
    for (const std::string& path : failed)
        std::fprintf(stderr, "vlm_synth: cannot write %s\n", path.c_str());
    return failed.empty() ? 0 : 1;
}

} // namespace

#ifdef _WIN32
// The arguments in UTF-16, whatever the code page: folders and sound names may be Chinese.
int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
        args.push_back(vlm::sys::Narrow(argv[i]));
    return Run(args);
}
#else
int main(int argc, char** argv)
{
    return Run(std::vector<std::string>(argv, argv + argc));
}
#endif
