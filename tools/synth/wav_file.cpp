#include "tools/synth/wav_file.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <numbers>
#include <vector>

namespace vlm::synth {

namespace {

void PutU16(std::vector<unsigned char>& out, std::uint16_t value)
{
    out.push_back(static_cast<unsigned char>(value & 0xFF));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

void PutU32(std::vector<unsigned char>& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<unsigned char>((value >> shift) & 0xFF));
}

void PutTag(std::vector<unsigned char>& out, std::string_view tag)
{
    out.insert(out.end(), tag.begin(), tag.end());
}

// One INFO sub-chunk: zero-terminated text, padded to an even size.
void PutInfoText(std::vector<unsigned char>& out, std::string_view id, std::string_view text)
{
    const auto size = static_cast<std::uint32_t>(text.size() + 1);
    PutTag(out, id);
    PutU32(out, size);
    PutTag(out, text);
    out.push_back(0);
    if (size % 2 != 0)
        out.push_back(0);
}

} // namespace

std::filesystem::path PathFromUtf8(std::string_view utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

void NormalizePeak(Samples& samples, double peakDbfs)
{
    double peak = 0.0;
    for (const double s : samples)
        peak = std::max(peak, std::abs(s));
    if (peak <= 0.0)
        return;
    const double gain = std::pow(10.0, peakDbfs / 20.0) / peak;
    for (double& s : samples)
        s *= gain;
}

void ApplyEdgeFades(Samples& samples, double fadeInSec, double fadeOutSec)
{
    const std::size_t total = samples.size();
    const std::size_t fadeIn = std::min(total, SampleCount(fadeInSec));
    const std::size_t fadeOut = std::min(total, SampleCount(fadeOutSec));
    for (std::size_t i = 0; i < fadeIn; ++i) {
        const double x = std::sin(0.5 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(fadeIn));
        samples[i] *= x * x;
    }
    for (std::size_t i = 0; i < fadeOut; ++i) {
        const double x = std::sin(0.5 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(fadeOut));
        samples[total - 1 - i] *= x * x;
    }
}

bool WriteWavFile(const std::string& path, const Samples& samples, std::string_view title)
{
    std::vector<unsigned char> info;
    PutTag(info, "INFO");
    PutInfoText(info, "INAM", title);
    PutInfoText(info, "ISFT", kBundledTag);

    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    std::vector<unsigned char> out;
    out.reserve(44 + dataBytes + 8 + info.size());
    PutTag(out, "RIFF");
    PutU32(out, 4 + (8 + 16) + (8 + dataBytes) + (8 + static_cast<std::uint32_t>(info.size())));
    PutTag(out, "WAVE");
    PutTag(out, "fmt ");
    PutU32(out, 16);
    PutU16(out, 1); // PCM
    PutU16(out, 1); // mono
    PutU32(out, kSampleRate);
    PutU32(out, kSampleRate * 2);
    PutU16(out, 2);
    PutU16(out, 16);
    PutTag(out, "data");
    PutU32(out, dataBytes);
    for (const double s : samples) {
        const double scaled = std::clamp(std::round(s * 32767.0), -32767.0, 32767.0);
        PutU16(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(scaled)));
    }
    PutTag(out, "LIST");
    PutU32(out, static_cast<std::uint32_t>(info.size()));
    out.insert(out.end(), info.begin(), info.end());

    const std::filesystem::path target = PathFromUtf8(path);
    const std::filesystem::path temporary = PathFromUtf8(path + ".part");
    bool written = false;
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
        file.close();
        written = !file.fail();
    }
    std::error_code error;
    if (written)
        std::filesystem::rename(temporary, target, error);
    if (!written || error) {
        std::filesystem::remove(temporary, error);
        return false;
    }
    return true;
}

} // namespace vlm::synth
