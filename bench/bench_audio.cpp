// Start latency of the sound player: time from Play() to the first samples of the sound reaching the sound
// server, over 50 plays on the test sink, in a running Qt event loop. Needs the sound server of
// scripts/services.sh (PULSE_SERVER, VLM_TEST_SINK).
//
// Method: parec records the sink's monitor at 44.1 kHz with a 5 ms fragment. The server posts mixed audio to the
// monitor as the sink renders it, so the first loud sample of the monitor stream marks when the server mixed the
// sound's first samples; the time the parec chunk holding that sample reaches this process is an upper bound for
// it (it adds parec's own delivery delay). The null sink renders ahead of its clock, so the sample's place inside
// the chunk says nothing more precise. "handed over" is the time Play() takes: the player writes the first
// buffer to the server before Play() returns.
#include "shell/qt/sndfile_sound_player.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int kPlays = 50;

// Runs the event loop until `done` holds or `timeoutMs` passes; returns whether it held.
bool Spin(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(1, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

bool WriteTone(const QString& path)
{
    SF_INFO info {};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (file == nullptr)
        return false;
    // A cosine, so the very first sample is loud.
    std::vector<short> samples(kRate * 3 / 10);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = short(12000 * std::cos(2 * std::numbers::pi * 440 * double(i) / kRate));
    sf_write_short(file, samples.data(), sf_count_t(samples.size()));
    return sf_close(file) == 0;
}

struct Figures {
    std::vector<double> ms;
    void Print(QTextStream& out, const char* name)
    {
        std::sort(ms.begin(), ms.end());
        out << QStringLiteral("%1: median %2 ms, worst %3 ms, best %4 ms over %5 plays")
                   .arg(QLatin1String(name))
                   .arg(ms[ms.size() / 2], 0, 'f', 1)
                   .arg(ms.back(), 0, 'f', 1)
                   .arg(ms.front(), 0, 'f', 1)
                   .arg(ms.size())
            << Qt::endl;
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QString sink = qEnvironmentVariable("VLM_TEST_SINK");
    if (sink.isEmpty()) {
        out << "VLM_TEST_SINK is not set: start the sound server as scripts/services.sh does" << Qt::endl;
        return EXIT_FAILURE;
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tone.wav"));
    if (!WriteTone(path))
        return EXIT_FAILURE;

    QElapsedTimer clock;
    clock.start();
    std::vector<qint16> samples;
    struct Arrival {
        qint64 ns;
        std::size_t end;
    };
    std::vector<Arrival> arrivals;
    QByteArray partial;
    QProcess parec;
    QObject::connect(&parec, &QProcess::readyReadStandardOutput, [&] {
        const qint64 now = clock.nsecsElapsed();
        partial += parec.readAllStandardOutput();
        const qsizetype whole = partial.size() / 2 * 2;
        const std::size_t first = samples.size();
        samples.resize(first + std::size_t(whole / 2));
        std::memcpy(samples.data() + first, partial.constData(), std::size_t(whole));
        partial.remove(0, whole);
        arrivals.push_back({ now, samples.size() });
    });
    parec.start(QStringLiteral("parec"),
        { QStringLiteral("-d"), sink + QStringLiteral(".monitor"), QStringLiteral("--raw"),
            QStringLiteral("--format=s16le"), QStringLiteral("--rate=%1").arg(kRate), QStringLiteral("--channels=1"),
            QStringLiteral("--latency-msec=5") });
    if (!parec.waitForStarted(5000) || !Spin([&] { return samples.size() > kRate / 5; }, 5000)) {
        out << "parec does not record the monitor of " << sink << Qt::endl;
        return EXIT_FAILURE;
    }

    vlm::SndfileSoundPlayer player;
    Figures handedOver;
    Figures mixed;
    for (int play = 0; play < kPlays; ++play) {
        Spin([&] { return !player.IsPlaying(); }, 5000);
        Spin([] { return false; }, 150);
        const std::size_t from = samples.size();
        const qint64 start = clock.nsecsElapsed();
        const QString error = player.Play(path);
        const qint64 returned = clock.nsecsElapsed();
        if (!error.isEmpty()) {
            out << "Play failed: " << error << Qt::endl;
            return EXIT_FAILURE;
        }
        std::size_t onset = 0;
        const bool heard = Spin(
            [&] {
                for (std::size_t i = from; i < samples.size(); ++i) {
                    if (std::abs(samples[i]) > 2000) {
                        onset = i;
                        return true;
                    }
                }
                return false;
            },
            3000);
        if (!heard) {
            out << "play " << play << " was not heard on the monitor" << Qt::endl;
            return EXIT_FAILURE;
        }
        const auto arrival
            = std::find_if(arrivals.begin(), arrivals.end(), [&](const Arrival& a) { return a.end > onset; });
        handedOver.ms.push_back(double(returned - start) / 1e6);
        mixed.ms.push_back(double(arrival->ns - start) / 1e6);
    }
    parec.kill();
    parec.waitForFinished(5000);

    out << "Play() to first samples, " << kPlays << " plays of a 0.3 s tone on " << sink << Qt::endl;
    handedOver.Print(out, "first buffer handed over to the server (Play() returns)");
    mixed.Print(out, "first samples mixed by the server (monitor onset reaches this process)");
    return EXIT_SUCCESS;
}
