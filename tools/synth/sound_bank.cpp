#include "tools/synth/sound_bank.h"

#include "core/sounds.h"
#include "tools/synth/prelude_composer.h"
#include "tools/synth/temple_bell.h"
#include "tools/synth/wav_file.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>

namespace vlm::synth {

namespace {

constexpr std::uint64_t kBellSeed = 0x7E3A1BE11ULL;

// "Music/<title>.wav" gives "<title>".
std::string TitleOf(std::string_view relativePath)
{
    const auto slash = relativePath.find('/');
    const auto dot = relativePath.rfind('.');
    return std::string(relativePath.substr(slash + 1, dot - slash - 1));
}

} // namespace

SoundBank::SoundBank()
{
    m_entries.push_back({ std::string(BellList[0]), "bell", [] { return TempleBell(kBellSeed).SingleStroke(); } });
    m_entries.push_back(
        { std::string(BellList[kBellsPerReminder]), "bells", [] { return TempleBell(kBellSeed).Peal(); } });
    for (int i = 0; i < kMusicCount; ++i) {
        const std::string title = TitleOf(MusicList[i]);
        const PreludeStyle style = PreludeStyle::ForCatalogueEntry(i, title);
        m_entries.push_back({ std::string(MusicList[i]), title, [style] { return PreludeComposer(style).Render(); } });
    }
}

std::vector<std::string> SoundBank::WriteAll(const std::string& outputDir, int threads) const
{
    std::vector<std::size_t> all(m_entries.size());
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = i;
    return Write(outputDir, all, threads);
}

std::vector<std::string> SoundBank::Write(
    const std::string& outputDir, const std::vector<std::size_t>& entries, int threads) const
{
    std::vector<std::string> failed;
    std::mutex failedMutex;
    std::atomic<std::size_t> next { 0 };
    auto work = [&] {
        for (std::size_t i = next++; i < entries.size(); i = next++) {
            const Entry& entry = m_entries.at(entries[i]);
            const std::string path = outputDir + "/" + entry.relativePath;
            std::error_code error;
            std::filesystem::create_directories(PathFromUtf8(path).parent_path(), error);
            if (!WriteWavFile(path, entry.render(), entry.title)) {
                const std::lock_guard lock(failedMutex);
                failed.push_back(path);
            }
        }
    };
    std::vector<std::thread> workers;
    for (int i = 1; i < threads; ++i)
        workers.emplace_back(work);
    work();
    for (std::thread& worker : workers)
        worker.join();
    std::sort(failed.begin(), failed.end());
    return failed;
}

} // namespace vlm::synth
