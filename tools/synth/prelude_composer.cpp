#include "tools/synth/prelude_composer.h"

#include "tools/synth/plucked_string.h"
#include "tools/synth/prng.h"
#include "tools/synth/reverb.h"
#include "tools/synth/wav_file.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <numbers>
#include <vector>

namespace vlm::synth {

namespace {

// Semitones above the tonic of the five pentatonic modes.
constexpr std::array<std::array<int, 5>, 5> kModes { {
    { 0, 2, 4, 7, 9 },
    { 0, 2, 5, 7, 10 },
    { 0, 3, 5, 8, 10 },
    { 0, 2, 5, 7, 9 },
    { 0, 3, 5, 7, 10 },
} };

constexpr std::array<int, 8> kTonics { 62, 57, 60, 65, 64, 67, 59, 63 };

constexpr double kPeakDbfs = -3.0;
constexpr double kTailSeconds = 7.0;
constexpr double kFadeOutSeconds = 5.0;
constexpr int kPhraseBars = 4;
constexpr double kPhraseEndStretch = 1.12; // the last bar of a phrase breathes a little slower

// One melody note inside a phrase, in beats from the phrase's start and scale degrees from the tonic.
struct Note {
    double beat;
    double beats;
    int degree;
};

using Phrase = std::vector<Note>;

std::uint64_t HashTitle(std::string_view title)
{
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (const char c : title) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001B3ULL;
    }
    return hash;
}

class Scale {
public:
    explicit Scale(const PreludeStyle& style)
        : m_intervals(kModes[style.mode])
        , m_tonic(style.tonicMidi)
    {
        // The degree that acts as the fifth: a perfect fifth where the mode has one, else the fourth.
        m_fifth = 2;
        for (int d = 0; d < 5; ++d)
            if (m_intervals[d] == 7)
                m_fifth = d;
    }

    int Midi(int degree) const
    {
        const int octave = degree >= 0 ? degree / 5 : -((-degree + 4) / 5);
        return m_tonic + 12 * octave + m_intervals[degree - 5 * octave];
    }

    int Fifth() const { return m_fifth; }

private:
    std::array<int, 5> m_intervals;
    int m_tonic;
    int m_fifth;
};

const std::vector<std::vector<double>>& RhythmsFor(int beatsPerBar)
{
    static const std::vector<std::vector<double>> kFour {
        { 1, 1, 2 },
        { 2, 1, 1 },
        { 1, 1, 1, 1 },
        { 1.5, 0.5, 2 },
        { 0.5, 0.5, 1, 2 },
        { 2, 2 },
        { 1, 0.5, 0.5, 2 },
        { 3, 1 },
    };
    static const std::vector<std::vector<double>> kThree {
        { 1, 1, 1 },
        { 2, 1 },
        { 1, 2 },
        { 1.5, 0.5, 1 },
        { 0.5, 0.5, 2 },
        { 3 },
    };
    return beatsPerBar == 3 ? kThree : kFour;
}

const std::vector<std::vector<double>>& CadencesFor(int beatsPerBar)
{
    static const std::vector<std::vector<double>> kFour { { 4 }, { 1, 3 }, { 2, 2 } };
    static const std::vector<std::vector<double>> kThree { { 3 }, { 1, 2 } };
    return beatsPerBar == 3 ? kThree : kFour;
}

int StepFrom(Prng& rng, int degree, int low, int high)
{
    static constexpr std::array<int, 7> kSteps { -2, -1, 0, 1, 2, 3, -3 };
    static constexpr std::array<double, 7> kWeights { 0.13, 0.31, 0.07, 0.31, 0.12, 0.03, 0.03 };
    double pick = rng.Uniform();
    int step = 1;
    for (std::size_t i = 0; i < kSteps.size(); ++i) {
        if (pick < kWeights[i]) {
            step = kSteps[i];
            break;
        }
        pick -= kWeights[i];
    }
    int next = degree + step;
    if (next > high || next < low)
        next = degree - step;
    return std::clamp(next, low, high);
}

// Ends the phrase on `endDegree`, stepping into it from a neighbour.
void Cadence(Phrase& phrase, int endDegree)
{
    phrase.back().degree = endDegree;
    if (phrase.size() >= 2) {
        int& before = phrase[phrase.size() - 2].degree;
        if (std::abs(before - endDegree) > 2)
            before = endDegree + (before > endDegree ? 1 : -1);
        if (before == endDegree)
            before = endDegree + 1;
    }
}

Phrase MakePhrase(Prng& rng, int beatsPerBar, int startDegree, int endDegree, int low, int high)
{
    Phrase phrase;
    int degree = startDegree;
    for (int bar = 0; bar < kPhraseBars; ++bar) {
        const auto& choices = bar == kPhraseBars - 1 ? CadencesFor(beatsPerBar) : RhythmsFor(beatsPerBar);
        const auto& rhythm = choices[rng.Below(static_cast<int>(choices.size()))];
        double beat = bar * beatsPerBar;
        for (const double length : rhythm) {
            phrase.push_back({ beat, length, degree });
            beat += length;
            degree = StepFrom(rng, degree, low, high);
        }
    }
    phrase.front().degree = startDegree;
    Cadence(phrase, endDegree);
    return phrase;
}

// A repeat that is not a copy: a few inner notes move to a neighbour.
Phrase Vary(Prng& rng, Phrase phrase, int low, int high)
{
    for (std::size_t i = 1; i + 2 < phrase.size(); ++i)
        if (rng.Chance(0.25))
            phrase[i].degree = std::clamp(phrase[i].degree + (rng.Chance(0.5) ? 1 : -1), low, high);
    return phrase;
}

double MidiToHz(double midi)
{
    return 440.0 * std::pow(2.0, (midi - 69.0) / 12.0);
}

// A small high bell struck softly: a few inharmonic sine partials.
void AddChime(Samples& out, double startSec, double midi, double level)
{
    static constexpr std::array<std::array<double, 3>, 4> kPartials { {
        { 1.0, 1.0, 3.2 },
        { 2.76, 0.45, 1.6 },
        { 5.40, 0.22, 0.8 },
        { 8.93, 0.10, 0.4 },
    } };
    const double f = MidiToHz(midi);
    const std::size_t start = SampleCount(startSec);
    const std::size_t length = SampleCount(3.5);
    if (out.size() < start + length)
        out.resize(start + length, 0.0);
    for (const auto& [ratio, weight, t60] : kPartials) {
        if (f * ratio * 2.0 >= kSampleRate)
            continue;
        const double w = 2.0 * std::numbers::pi * f * ratio / kSampleRate;
        const double decay = std::pow(10.0, -3.0 / (t60 * kSampleRate));
        double envelope = level * weight;
        for (std::size_t i = 0; i < length; ++i) {
            const double attack = std::min(1.0, static_cast<double>(i) / 40.0);
            out[start + i] += attack * envelope * std::sin(w * static_cast<double>(i));
            envelope *= decay;
        }
    }
}

// A soft held tone with a slow swell, like a bowed or blown drone under the strings.
void AddDrone(Samples& out, double startSec, double endSec, double midi, double level)
{
    const double f = MidiToHz(midi);
    const std::size_t start = SampleCount(startSec);
    const std::size_t end = SampleCount(endSec);
    if (out.size() < end)
        out.resize(end, 0.0);
    const double span = static_cast<double>(end - start);
    const double ramp = 3.0 * kSampleRate;
    for (std::size_t i = 0; i < end - start; ++i) {
        const double t = static_cast<double>(i) / kSampleRate;
        const double x = static_cast<double>(i);
        const double edge = std::min({ 1.0, x / ramp, (span - x) / ramp });
        const double swell = 0.75 + 0.25 * std::sin(2.0 * std::numbers::pi * 0.07 * t);
        const double phase = 2.0 * std::numbers::pi * f * t;
        out[start + i]
            += level * edge * swell * (std::sin(phase) + 0.3 * std::sin(2.0 * phase) + 0.1 * std::sin(3.0 * phase));
    }
}

// Lets a string ring until the same pitch is plucked again, as one real string would.
void DampRepeatedStrings(std::vector<Pluck>& plucks)
{
    std::sort(plucks.begin(), plucks.end(), [](const Pluck& a, const Pluck& b) {
        return a.startSec < b.startSec || (a.startSec == b.startSec && a.midi < b.midi);
    });
    std::map<int, std::size_t> lastOnString;
    for (std::size_t i = 0; i < plucks.size(); ++i) {
        const int string = static_cast<int>(std::lround(plucks[i].midi));
        const auto found = lastOnString.find(string);
        if (found != lastOnString.end()) {
            Pluck& earlier = plucks[found->second];
            earlier.ringSec = std::min(earlier.ringSec, plucks[i].startSec - earlier.startSec + 0.03);
        }
        lastOnString[string] = i;
    }
}

} // namespace

PreludeStyle PreludeStyle::ForCatalogueEntry(int index, std::string_view title)
{
    // Each parameter cycles with a different period so that neighbours in the list share little.
    PreludeStyle style;
    style.mode = index % 5;
    style.tonicMidi = kTonics[(index * 3 + index / 8) % kTonics.size()];
    style.beatsPerMinute = 52.0 + ((index * 7) % 10) * 3.5;
    style.beatsPerBar = index % 3 == 1 ? 3 : 4;
    style.targetSeconds = 82.0 + (index * 13) % 27;
    style.texture = static_cast<Texture>((index + index / 4) % 4);
    style.chimes = index % 4 == 2 || index % 7 == 3;
    style.opensWithGlissando = index % 3 != 2;
    style.brightness = 0.45 + 0.35 * ((index * 5) % 7) / 6.0;
    style.sustain = 0.8 + 0.4 * ((index * 3) % 5) / 4.0;
    style.seed = HashTitle(title) ^ (static_cast<std::uint64_t>(index + 1) * 0x9E3779B97F4A7C15ULL);
    return style;
}

Samples PreludeComposer::Render() const
{
    const PreludeStyle& s = m_style;
    Prng rng(s.seed);
    const Scale scale(s);
    const int fifth = scale.Fifth();
    const double secondsPerBeat = 60.0 / s.beatsPerMinute;
    const double barSeconds = s.beatsPerBar * secondsPerBeat;
    const double phraseSeconds = barSeconds * (kPhraseBars - 1 + kPhraseEndStretch);
    const int low = -1;
    const int high = 8;
    // Accompaniment two octaves below the tonic on the higher keys, one octave on the lower ones.
    const int bassShift = s.tonicMidi >= 62 ? -10 : -5;

    std::vector<Pluck> plucks;
    Samples mix;
    auto melodyPluck = [&](double start, int degree, double beats, double level) {
        Pluck p;
        p.startSec = std::max(0.0, start + rng.Uniform(-0.006, 0.006));
        p.midi = scale.Midi(degree);
        p.level = level * rng.Uniform(0.88, 1.0);
        p.brightness = std::clamp(s.brightness + rng.Uniform(-0.08, 0.08), 0.0, 1.0);
        p.t60 = s.sustain * std::clamp(4.0 * std::pow(220.0 / MidiToHz(p.midi), 0.35), 1.8, 6.0);
        if (beats >= 2.0 && rng.Chance(0.6))
            p.vibratoSemitones = rng.Uniform(0.15, 0.3);
        else if (beats >= 1.0 && rng.Chance(0.15))
            p.scoopSemitones = scale.Midi(degree) - scale.Midi(degree - 1);
        return p;
    };

    // Opening: a sweep up the strings into the first note, or a low open fifth.
    double time = 0.0;
    const int firstDegree = rng.Chance(0.5) ? 0 : fifth;
    if (s.opensWithGlissando) {
        const int notes = 7 + rng.Below(3);
        for (int i = 0; i < notes; ++i) {
            Pluck p;
            p.startSec = i * 0.045;
            p.midi = scale.Midi(firstDegree - notes + i);
            p.level = 0.25 + 0.35 * i / notes;
            p.brightness = 0.8;
            p.t60 = 1.6;
            plucks.push_back(p);
        }
        time = notes * 0.045 + 0.05;
    } else {
        for (const int degree : { bassShift, bassShift + fifth }) {
            Pluck p;
            p.midi = scale.Midi(degree);
            p.level = 0.7;
            p.brightness = 0.35;
            p.t60 = 5.0;
            plucks.push_back(p);
        }
        time = barSeconds;
    }

    // Form: pairs of phrases, the first of each pair pausing on the fifth, the second closing on the tonic.
    int phraseCount = 2 * static_cast<int>((s.targetSeconds - kTailSeconds - time) / (2.0 * phraseSeconds));
    while (time + phraseCount * phraseSeconds + kTailSeconds < 62.0)
        phraseCount += 2;
    phraseCount = std::max(phraseCount, 2);

    const Phrase themeA = MakePhrase(rng, s.beatsPerBar, firstDegree, fifth, low, high);
    const Phrase themeB = MakePhrase(rng, s.beatsPerBar, 5 + rng.Below(2), fifth + 5 * rng.Below(2), low + 2, high);
    const Phrase themeC = MakePhrase(rng, s.beatsPerBar, fifth, 2, low, high - 2);
    static constexpr std::array<int, 10> kForm { 0, 0, 1, 1, 0, 0, 2, 2, 1, 0 };
    static constexpr std::array<std::array<int, kPhraseBars>, 3> kBassRoots { {
        { 0, 0, 2, 0 },
        { 1, 2, 0, 1 },
        { 2, 1, 2, 0 },
    } };
    const std::array<const Phrase*, 3> themes { &themeA, &themeB, &themeC };

    double lastNoteStart = time;
    for (int index = 0; index < phraseCount; ++index) {
        const int kind = index + 2 >= phraseCount && index % 2 == 1 ? 0 : kForm[index % kForm.size()];
        const bool closes = index % 2 == 1;
        Phrase phrase = index < 2 ? *themes[kind] : Vary(rng, *themes[kind], low, high);
        Cadence(phrase, closes ? (phrase.back().degree >= 3 ? 5 : 0) : fifth);
        const int bassDegree = closes ? 0 : fifth;

        if (s.chimes && index % 4 == 0)
            AddChime(mix, time, scale.Midi(10), 0.09);
        for (int bar = 0; bar < kPhraseBars; ++bar) {
            const double barStart = time + bar * barSeconds;
            const double thisBar = bar == kPhraseBars - 1 ? barSeconds * kPhraseEndStretch : barSeconds;
            const double beat = thisBar / s.beatsPerBar;
            int root = kBassRoots[kind][bar] == 2 ? fifth : kBassRoots[kind][bar] == 1 ? 1 : 0;
            if (bar == kPhraseBars - 1)
                root = bassDegree;
            switch (s.texture) {
            case PreludeStyle::Texture::Bass:
            case PreludeStyle::Texture::Drone: {
                if (s.texture == PreludeStyle::Texture::Drone && bar % 2 == 1)
                    break;
                Pluck p;
                p.startSec = barStart;
                p.midi = scale.Midi(root + bassShift);
                p.level = 0.55;
                p.brightness = 0.3;
                p.t60 = 5.5;
                plucks.push_back(p);
                if (s.texture == PreludeStyle::Texture::Bass && s.beatsPerBar == 4) {
                    p.startSec = barStart + 2.0 * beat;
                    p.midi = scale.Midi(root + bassShift + 5);
                    p.level = 0.3;
                    plucks.push_back(p);
                }
                break;
            }
            case PreludeStyle::Texture::Arpeggio: {
                const std::array<int, 4> pattern { root + bassShift, root + bassShift + fifth, root + bassShift + 5,
                    root + bassShift + fifth };
                const int perBar = s.beatsPerMinute < 62.0 ? 2 * s.beatsPerBar : s.beatsPerBar;
                for (int i = 0; i < perBar; ++i) {
                    Pluck p;
                    p.startSec = barStart + i * thisBar / perBar;
                    p.midi = scale.Midi(pattern[i % pattern.size()]);
                    p.level = i == 0 ? 0.36 : 0.24;
                    p.brightness = 0.35;
                    p.t60 = 2.8;
                    plucks.push_back(p);
                }
                break;
            }
            case PreludeStyle::Texture::Canon:
                break;
            }
        }

        for (std::size_t n = 0; n < phrase.size(); ++n) {
            const Note& note = phrase[n];
            const int bar = static_cast<int>(note.beat) / s.beatsPerBar;
            const double inBar = note.beat - bar * s.beatsPerBar;
            const double stretch = bar == kPhraseBars - 1 ? kPhraseEndStretch : 1.0;
            const double start = time + bar * barSeconds + inBar * secondsPerBeat * stretch;
            const double accent = inBar == 0.0 ? 0.9 : 0.75;
            plucks.push_back(melodyPluck(start, note.degree, note.beats, accent));
            lastNoteStart = std::max(lastNoteStart, start);
            if (s.texture == PreludeStyle::Texture::Canon) {
                Pluck echo = melodyPluck(start + s.beatsPerBar * secondsPerBeat, note.degree - 5, note.beats, 0.42);
                echo.brightness *= 0.7;
                if (echo.startSec < time + phraseSeconds + barSeconds * 0.5 || closes)
                    plucks.push_back(echo);
            }
            if (closes && n + 1 == phrase.size()) {
                Pluck octave = melodyPluck(start, note.degree - 5, note.beats, 0.5);
                octave.vibratoSemitones = 0.0;
                plucks.push_back(octave);
            }
        }
        if (s.texture == PreludeStyle::Texture::Drone)
            AddDrone(mix, time, time + phraseSeconds + 2.5, scale.Midi(bassDegree + bassShift), 0.07);
        time += phraseSeconds + (closes ? secondsPerBeat : 0.0);
    }

    // The last note rings out while everything fades.
    Pluck last;
    last.startSec = lastNoteStart;
    last.midi = scale.Midi(bassShift);
    last.level = 0.6;
    last.brightness = 0.3;
    last.t60 = 6.0;
    plucks.push_back(last);
    if (s.chimes)
        AddChime(mix, lastNoteStart, scale.Midi(10), 0.08);

    DampRepeatedStrings(plucks);
    const PluckedString strings(s.seed);
    for (const Pluck& p : plucks)
        strings.Render(p, mix);

    mix.resize(SampleCount(lastNoteStart + kTailSeconds), 0.0);
    const Reverb hall(0.82 + 0.02 * (s.mode % 3), 0.25, 0.9);
    hall.Process(mix);

    // Remove any slow offset the excitations left behind.
    double previousIn = 0.0;
    double previousOut = 0.0;
    for (double& x : mix) {
        const double y = x - previousIn + 0.995 * previousOut;
        previousIn = x;
        previousOut = y;
        x = y;
    }
    ApplyEdgeFades(mix, 0.003, kFadeOutSeconds);
    NormalizePeak(mix, kPeakDbfs);
    return mix;
}

} // namespace vlm::synth
