// The sound bank as the build leaves it in the program folder, read back through libsndfile.
#include "tests/sounds/wav_reader.h"

#include "core/sounds.h"
#include "tools/synth/temple_bell.h"
#include "tests/utf16.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr double kMaxPeak = 0.8912509; // -1 dBFS
constexpr double kQuietestPeak = 0.25; // -12 dBFS: anything softer is a broken render
constexpr double kSilence = 0.001; // -60 dBFS
constexpr double kAudible = 0.01; // -40 dBFS

struct SoundCase {
    std::string testName;
    std::string relativePath;
    double minSeconds;
    double maxSeconds;
};

void PrintTo(const SoundCase& sound, std::ostream* out)
{
    *out << sound.relativePath;
}

std::vector<SoundCase> AllSounds()
{
    std::vector<SoundCase> cases {
        { "bell1", std::string(vlm::BellList[0]), 9.0, 11.0 },
        { "bell3", std::string(vlm::BellList[vlm::kBellsPerReminder]), 15.0, 17.0 },
    };
    for (int i = 0; i < vlm::kMusicCount; ++i) {
        const std::string number = (i < 10 ? "0" : "") + std::to_string(i);
        cases.push_back({ "prelude" + number, std::string(vlm::MusicList[i]), 60.0, 110.0 });
    }
    return cases;
}

std::string PathOf(const std::string& relativePath)
{
    return std::string(VLM_PROGRAM_DIR) + "/" + relativePath;
}

double Rms(const std::vector<double>& samples, std::size_t begin, std::size_t end)
{
    double sum = 0.0;
    for (std::size_t i = begin; i < end; ++i)
        sum += samples[i] * samples[i];
    return end > begin ? std::sqrt(sum / static_cast<double>(end - begin)) : 0.0;
}

double Db(double level)
{
    return 20.0 * std::log10(std::max(level, 1e-12));
}

// RMS level in dB of consecutive frames of `frameSeconds`.
std::vector<double> EnvelopeDb(const WavData& wav, double frameSeconds)
{
    const auto frame = static_cast<std::size_t>(frameSeconds * wav.info.samplerate);
    std::vector<double> envelope;
    for (std::size_t begin = 0; begin + frame <= wav.samples.size(); begin += frame)
        envelope.push_back(Db(Rms(wav.samples, begin, begin + frame)));
    return envelope;
}

class SoundFileTest : public testing::TestWithParam<SoundCase> {
protected:
    void SetUp() override
    {
        m_wav = ReadWav(PathOf(GetParam().relativePath));
        ASSERT_TRUE(m_wav.opened) << "libsndfile cannot read " << PathOf(GetParam().relativePath);
        ASSERT_FALSE(m_wav.samples.empty());
    }

    WavData m_wav;
};

TEST_P(SoundFileTest, IsMono16BitPcmOfTheRightLength)
{
    EXPECT_EQ(m_wav.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(m_wav.info.channels, 1);
    EXPECT_TRUE(m_wav.info.samplerate == 22050 || m_wav.info.samplerate == 44100) << m_wav.info.samplerate;
    EXPECT_GE(m_wav.Seconds(), GetParam().minSeconds);
    EXPECT_LE(m_wav.Seconds(), GetParam().maxSeconds);
}

TEST_P(SoundFileTest, PeaksBelowMinusOneDecibelYetIsClearlyAudible)
{
    double peak = 0.0;
    for (const double s : m_wav.samples)
        peak = std::max(peak, std::abs(s));
    EXPECT_LE(peak, kMaxPeak);
    EXPECT_GE(peak, kQuietestPeak);
    EXPECT_GE(Db(Rms(m_wav.samples, 0, m_wav.samples.size())), -40.0);
}

TEST_P(SoundFileTest, SoundsAtOnceWithoutAClickAtEitherEnd)
{
    const auto& s = m_wav.samples;
    EXPECT_LE(std::abs(s.front()), kSilence);
    EXPECT_LE(std::abs(s.back()), kSilence);
    const auto firstAudible
        = std::find_if(s.begin(), s.end(), [](double x) { return std::abs(x) >= kAudible; }) - s.begin();
    EXPECT_LE(static_cast<double>(firstAudible) / m_wav.info.samplerate, 0.005);

    // The sound fades out: its last half second lies far below its loudest second.
    const auto rate = static_cast<std::size_t>(m_wav.info.samplerate);
    double loudest = 0.0;
    for (std::size_t begin = 0; begin + rate <= s.size(); begin += rate / 4)
        loudest = std::max(loudest, Rms(s, begin, begin + rate));
    EXPECT_LE(Db(Rms(s, s.size() - rate / 2, s.size())), Db(loudest) - 30.0);
    EXPECT_LE(Db(Rms(s, s.size() - rate / 50, s.size())), -60.0);
}

INSTANTIATE_TEST_SUITE_P(Bank, SoundFileTest, testing::ValuesIn(AllSounds()),
    [](const testing::TestParamInfo<SoundCase>& info) { return info.param.testName; });

TEST(SoundBank, EveryFileHasItsOwnContent)
{
    std::set<std::uint64_t> hashes;
    for (const SoundCase& sound : AllSounds()) {
        const WavData wav = ReadWav(PathOf(sound.relativePath));
        ASSERT_TRUE(wav.opened) << sound.relativePath;
        std::uint64_t hash = 0xCBF29CE484222325ULL;
        for (const double s : wav.samples) {
            hash ^= static_cast<std::uint64_t>(std::llround(s * 32768.0) & 0xFFFF);
            hash *= 0x100000001B3ULL;
        }
        EXPECT_TRUE(hashes.insert(hash).second) << sound.relativePath << " repeats another file";
    }
}

using vlm::test::Utf16;

TEST(MusicCatalogue, TitlesAscendInUtf16OrderAndFitTheirSlots)
{
    const std::u16string prefix = u"Music/";
    const std::u16string suffix = u".wav";
    std::u16string previous;
    for (const std::string_view path : vlm::MusicList) {
        const std::u16string wide = Utf16(path);
        EXPECT_LE(wide.size(), 39u) << path;
        ASSERT_TRUE(wide.starts_with(prefix) && wide.ends_with(suffix)) << path;
        const std::u16string title = wide.substr(prefix.size(), wide.size() - prefix.size() - suffix.size());
        EXPECT_FALSE(title.empty());
        EXPECT_LT(previous, title) << path << " is out of order or repeats a title";
        previous = title;
    }
}

void Fft(std::vector<std::complex<double>>& a)
{
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (std::size_t length = 2; length <= n; length <<= 1) {
        const std::complex<double> step = std::polar(1.0, -2.0 * std::numbers::pi / static_cast<double>(length));
        for (std::size_t i = 0; i < n; i += length) {
            std::complex<double> w = 1.0;
            for (std::size_t k = 0; k < length / 2; ++k) {
                const std::complex<double> u = a[i + k];
                const std::complex<double> v = a[i + k + length / 2] * w;
                a[i + k] = u + v;
                a[i + k + length / 2] = u - v;
                w *= step;
            }
        }
    }
}

class TempleBellTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_single = ReadWav(PathOf(std::string(vlm::BellList[0])));
        m_peal = ReadWav(PathOf(std::string(vlm::BellList[vlm::kBellsPerReminder])));
        ASSERT_TRUE(m_single.opened && m_peal.opened);
    }

    WavData m_single;
    WavData m_peal;
};

TEST_F(TempleBellTest, StrongestPartialIsThePrimeWithInharmonicPartialsAbove)
{
    // About 1.5 s of the ringing just after the strike, Hann-windowed.
    constexpr std::size_t kSize = 32768;
    const double rate = m_single.info.samplerate;
    const auto begin = static_cast<std::size_t>(0.25 * rate);
    ASSERT_GE(m_single.samples.size(), begin + kSize);
    std::vector<std::complex<double>> bins(kSize);
    for (std::size_t i = 0; i < kSize; ++i) {
        const double window = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / kSize);
        bins[i] = m_single.samples[begin + i] * window;
    }
    Fft(bins);
    std::vector<double> magnitude(kSize / 2);
    for (std::size_t i = 0; i < magnitude.size(); ++i)
        magnitude[i] = std::abs(bins[i]);
    const double binHz = rate / kSize;
    const auto strongest = std::max_element(magnitude.begin(), magnitude.end()) - magnitude.begin();
    EXPECT_NEAR(static_cast<double>(strongest) * binHz, vlm::synth::TempleBell::kPrimeHz, 1.5);

    // Partials that stand out within 30 dB of the prime and lie off its whole multiples.
    const double floor = magnitude[strongest] * std::pow(10.0, -30.0 / 20.0);
    const auto halfWidth = static_cast<std::ptrdiff_t>(8.0 / binHz);
    int inharmonic = 0;
    for (std::ptrdiff_t i = strongest + halfWidth; i < static_cast<std::ptrdiff_t>(2000.0 / binHz); ++i) {
        const auto from = magnitude.begin() + (i - halfWidth);
        if (magnitude[i] < floor || *std::max_element(from, from + 2 * halfWidth + 1) != magnitude[i])
            continue;
        const double ratio = static_cast<double>(i) / static_cast<double>(strongest);
        if (std::abs(ratio - std::round(ratio)) > 0.05)
            ++inharmonic;
    }
    EXPECT_GE(inharmonic, 4);
}

TEST_F(TempleBellTest, FallsSixtyDecibelsInAboutTheDesignedTime)
{
    const std::vector<double> envelope = EnvelopeDb(m_single, 0.05);
    const auto loudest = std::max_element(envelope.begin(), envelope.end()) - envelope.begin();
    std::ptrdiff_t last = loudest;
    for (std::ptrdiff_t i = loudest; i < static_cast<std::ptrdiff_t>(envelope.size()); ++i)
        if (envelope[i] >= envelope[loudest] - 60.0)
            last = i;
    EXPECT_NEAR(static_cast<double>(last - loudest) * 0.05, vlm::synth::TempleBell::kDecaySeconds, 1.0);
}

TEST_F(TempleBellTest, PealStrikesThreeTimesThreeSecondsApart)
{
    const std::vector<double> envelope = EnvelopeDb(m_peal, 0.05);
    std::vector<double> onsets;
    double previous = -120.0;
    for (std::size_t i = 0; i < envelope.size(); ++i) {
        if (envelope[i] > -40.0 && envelope[i] - previous >= 10.0)
            onsets.push_back(static_cast<double>(i) * 0.05);
        previous = envelope[i];
    }
    ASSERT_EQ(onsets.size(), static_cast<std::size_t>(vlm::synth::TempleBell::kPealStrokes));
    for (std::size_t i = 0; i < onsets.size(); ++i)
        EXPECT_NEAR(onsets[i], static_cast<double>(i) * vlm::synth::TempleBell::kPealSpacingSeconds, 0.06);
}

} // namespace
