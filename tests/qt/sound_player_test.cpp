#include "shell/qt/sndfile_sound_player.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <vector>

#include <sys/stat.h>

namespace {

constexpr int kMonitorRate = 44100;
constexpr int kWindow = kMonitorRate / 50; // 20 ms of the recording
constexpr double kAmplitude = 0.3;

using Wave = std::function<double(double seconds)>;

Wave Tone(double hz)
{
    return [hz](double t) { return kAmplitude * std::sin(2 * std::numbers::pi * hz * t); };
}

// Writes `seconds` of `wave` to every channel of a new sound file.
bool WriteSound(const QString& path, double seconds, const Wave& wave, int rate = 44100, int channels = 1,
    int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16)
{
    SF_INFO info {};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (file == nullptr) {
        qWarning() << "cannot write" << path << sf_strerror(nullptr);
        return false;
    }
    const auto frames = sf_count_t(seconds * rate);
    std::vector<double> frame(static_cast<std::size_t>(channels));
    for (sf_count_t i = 0; i < frames; ++i) {
        std::fill(frame.begin(), frame.end(), wave(double(i) / rate));
        sf_writef_double(file, frame.data(), 1);
    }
    return sf_close(file) == 0;
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QString RunTool(const QString& program, const QStringList& arguments, int* exitCode = nullptr,
    const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    const bool done = process.waitForStarted(5000) && process.waitForFinished(10000);
    if (exitCode != nullptr)
        *exitCode = done && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

QString SinkInputs()
{
    return RunTool(
        QStringLiteral("pactl"), { QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs") });
}

// Records what reaches the test sink, as the sound server mixes it, in mono at 44.1 kHz.
class MonitorRecorder {
public:
    // Records `sink` (the shared test sink by default) on the server that `environment` names.
    bool Start(const QString& sink = qEnvironmentVariable("VLM_TEST_SINK"),
        const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
    {
        const QString source = sink + QStringLiteral(".monitor");
        m_process.setProcessEnvironment(environment);
        m_process.start(QStringLiteral("parec"),
            { QStringLiteral("-d"), source, QStringLiteral("--raw"), QStringLiteral("--format=s16le"),
                QStringLiteral("--rate=%1").arg(kMonitorRate), QStringLiteral("--channels=1"),
                QStringLiteral("--latency-msec=10") });
        if (!m_process.waitForStarted(5000))
            return false;
        // Silence flows from the monitor as soon as the recording runs; wait for some so nothing is missed.
        return QTest::qWaitFor([this] { return m_process.bytesAvailable() >= kMonitorRate / 5; }, 5000);
    }

    std::vector<qint16> Stop()
    {
        const QByteArray bytes = m_process.readAll();
        m_process.kill();
        m_process.waitForFinished(5000);
        std::vector<qint16> samples(static_cast<std::size_t>(bytes.size()) / sizeof(qint16));
        std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(qint16));
        return samples;
    }

private:
    QProcess m_process;
};

double Goertzel(const qint16* x, int n, double hz)
{
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * hz / kMonitorRate);
    double s1 = 0;
    double s2 = 0;
    for (int i = 0; i < n; ++i) {
        const double s = x[i] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return s1 * s1 + s2 * s2 - coefficient * s1 * s2;
}

// What each 20 ms of a recording holds: 0 for silence, 440 or 880 for that tone, -1 for anything else.
std::vector<int> Classify(const std::vector<qint16>& samples)
{
    std::vector<int> labels;
    for (std::size_t start = 0; start + kWindow <= samples.size(); start += kWindow) {
        const qint16* x = samples.data() + start;
        double energy = 0;
        for (int i = 0; i < kWindow; ++i)
            energy += double(x[i]) * x[i];
        if (std::sqrt(energy / kWindow) < 200) {
            labels.push_back(0);
            continue;
        }
        // A pure tone puts about N/2 times the window's energy in its Goertzel bin.
        const double scale = energy * kWindow / 2;
        if (Goertzel(x, kWindow, 440) > 0.5 * scale)
            labels.push_back(440);
        else if (Goertzel(x, kWindow, 880) > 0.5 * scale)
            labels.push_back(880);
        else
            labels.push_back(-1);
    }
    return labels;
}

struct Run {
    int label;
    int windows;
};

// The recording as runs of one label, ignoring runs shorter than 60 ms (the joins between sounds).
std::vector<Run> Runs(const std::vector<int>& labels)
{
    std::vector<Run> raw;
    for (int label : labels) {
        if (!raw.empty() && raw.back().label == label)
            ++raw.back().windows;
        else
            raw.push_back({ label, 1 });
    }
    std::vector<Run> runs;
    for (const Run& run : raw) {
        if (run.windows < 3)
            continue;
        if (!runs.empty() && runs.back().label == run.label)
            runs.back().windows += run.windows;
        else
            runs.push_back(run);
    }
    return runs;
}

QString Describe(const std::vector<Run>& runs)
{
    QStringList parts;
    for (const Run& run : runs)
        parts << QStringLiteral("%1 Hz x %2 ms").arg(run.label).arg(run.windows * 20);
    return parts.join(QStringLiteral(", "));
}

// A PulseAudio server of the test's own with one null sink, which the test may kill and start again at will.
class PrivateServer {
public:
    static constexpr const char* kSink = "vlm_private";

    explicit PrivateServer(const QString& folder)
        : m_folder(folder)
    {
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert(QStringLiteral("PULSE_SERVER"), Address());
        m_environment.insert(QStringLiteral("PULSE_RUNTIME_PATH"), folder + QStringLiteral("/runtime"));
        m_environment.insert(QStringLiteral("PULSE_STATE_PATH"), folder + QStringLiteral("/state"));
    }
    ~PrivateServer() { Kill(); }

    QString Address() const { return QStringLiteral("unix:") + m_folder + QStringLiteral("/native"); }
    const QProcessEnvironment& Environment() const { return m_environment; }

    // Starts the server and waits until it answers.
    bool Start()
    {
        QDir().mkpath(m_folder + QStringLiteral("/runtime"));
        QDir().mkpath(m_folder + QStringLiteral("/state"));
        m_process.setProcessEnvironment(m_environment);
        m_process.setStandardErrorFile(m_folder + QStringLiteral("/server.log"), QIODevice::Append);
        m_process.start(QStringLiteral("pulseaudio"),
            { QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                QStringLiteral("--disallow-exit"), QStringLiteral("--log-target=stderr"),
                QStringLiteral("--load=module-native-protocol-unix socket=%1/native auth-anonymous=1").arg(m_folder),
                QStringLiteral("--load=module-null-sink sink_name=%1 rate=44100 channels=2").arg(kSink) });
        if (!m_process.waitForStarted(5000))
            return false;
        return QTest::qWaitFor([this] { return Pactl({ QStringLiteral("info") }); }, 10000)
            && Pactl({ QStringLiteral("set-default-sink"), QLatin1String(kSink) });
    }

    // Ends the server at once, as a crash would.
    void Kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    bool Pactl(const QStringList& arguments) const
    {
        int exitCode = -1;
        RunTool(QStringLiteral("pactl"), arguments, &exitCode, m_environment);
        return exitCode == 0;
    }

private:
    QString m_folder;
    QProcessEnvironment m_environment;
    QProcess m_process;
};

// Points this process's sound clients at another server for as long as it lives.
class ServerAddressOverride {
public:
    explicit ServerAddressOverride(const QString& address)
        : m_old(qgetenv("PULSE_SERVER"))
        , m_had(qEnvironmentVariableIsSet("PULSE_SERVER"))
    {
        qputenv("PULSE_SERVER", address.toLocal8Bit());
    }
    ~ServerAddressOverride()
    {
        if (m_had)
            qputenv("PULSE_SERVER", m_old);
        else
            qunsetenv("PULSE_SERVER");
    }

private:
    QByteArray m_old;
    bool m_had;
};

} // namespace

// QSKIP returns from the function it is written in, so this is a macro and not a helper.
#define REQUIRE_SERVER()                                                                                               \
    if (!m_server)                                                                                                     \
    QSKIP("no sound server reachable: needs PULSE_SERVER and VLM_TEST_SINK as scripts/services.sh sets them")

class SoundPlayerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void badFile_data();
    void badFile();
    void toneArrives_data();
    void toneArrives();
    void stopCutsOff();
    void replayRestartsFromTheBeginning();
    void soundComesBackWithTheServer_data();
    void soundComesBackWithTheServer();

private:
    QString Fixture(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    bool m_server = false;
};

void SoundPlayerTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    int exitCode = -1;
    if (!qEnvironmentVariable("VLM_TEST_SINK").isEmpty())
        RunTool(QStringLiteral("pactl"), { QStringLiteral("info") }, &exitCode);
    m_server = exitCode == 0;
}

void SoundPlayerTest::badFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected"); // part of the error text; empty: any text, or plays what is there

    QVERIFY(WriteSound(Fixture("good.wav"), 0.3, Tone(440)));
    const QByteArray good = ReadAll(Fixture("good.wav"));

    WriteBytes(Fixture("empty.wav"), {});
    QByteArray noise(4096, Qt::Uninitialized);
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 7919 + 13) * 2654435761u >> 24);
    WriteBytes(Fixture("noise.wav"), noise);
    WriteBytes(Fixture("cut.wav"), good.left(30));
    // RIFF and data chunk sizes claiming nearly 4 GiB in front of 0.3 s of samples.
    QByteArray huge = good;
    const char claim[4] = { char(0xf0), char(0xff), char(0xff), char(0xff) };
    huge.replace(4, 4, claim, 4);
    huge.replace(huge.indexOf("data") + 4, 4, claim, 4);
    WriteBytes(Fixture("huge.wav"), huge);
    QDir(m_dir.path()).mkdir(QStringLiteral("folder.wav"));
    QCOMPARE(::mkfifo(QFile::encodeName(Fixture("fifo.wav")).constData(), 0600), 0);

    QTest::newRow("0 bytes") << Fixture("empty.wav") << QString();
    QTest::newRow("random bytes") << Fixture("noise.wav") << QString();
    QTest::newRow("cut off mid-header") << Fixture("cut.wav") << QString();
    QTest::newRow("header claims gigabytes") << Fixture("huge.wav") << QString();
    QTest::newRow("directory") << Fixture("folder.wav") << QStringLiteral("Is a directory");
    QTest::newRow("FIFO") << Fixture("fifo.wav") << QStringLiteral("Not a regular file");
    QTest::newRow("missing") << Fixture("none.wav") << QStringLiteral("No such file");
}

void SoundPlayerTest::badFile()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);

    vlm::SndfileSoundPlayer player;
    bool fired = false;
    QTimer::singleShot(1000, this, [&fired] { fired = true; });

    const QString error = player.Play(path);
    qInfo() << QTest::currentDataTag() << "->" << (error.isEmpty() ? QStringLiteral("(plays)") : error);
    if (error.isEmpty()) {
        QVERIFY2(expected.isEmpty(), "a file that cannot be played was reported as playing");
        // Plays the little that is there, not what the header claims.
        QTRY_VERIFY_WITH_TIMEOUT(!player.IsPlaying(), 5000);
    } else {
        QVERIFY(!player.IsPlaying());
        if (!expected.isEmpty())
            QVERIFY2(error.contains(expected), qPrintable(error));
    }
    QTRY_VERIFY_WITH_TIMEOUT(fired, 5000);
}

void SoundPlayerTest::toneArrives_data()
{
    QTest::addColumn<QString>("path");

    const struct {
        const char* name;
        int rate;
        int channels;
        int format;
    } rows[] = {
        { "mono 44100 Hz 16-bit", 44100, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16 },
        { "stereo 48000 Hz float", 48000, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT },
        { "6 channels 22050 Hz", 22050, 6, SF_FORMAT_WAV | SF_FORMAT_PCM_16 },
        { "40 channels, remixed", 44100, 40, SF_FORMAT_WAV | SF_FORMAT_PCM_16 },
        { "500000 Hz, resampled", 500000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16 },
    };
    for (const auto& row : rows) {
        const QString path = Fixture(QStringLiteral("tone-%1-%2.wav").arg(row.rate).arg(row.channels));
        QVERIFY(WriteSound(path, 1.0, Tone(440), row.rate, row.channels, row.format));
        QTest::newRow(row.name) << path;
    }
}

void SoundPlayerTest::toneArrives()
{
    REQUIRE_SERVER();
    QFETCH(QString, path);

    vlm::SndfileSoundPlayer player;
    QSignalSpy finished(&player, &vlm::SndfileSoundPlayer::Finished);
    MonitorRecorder recorder;
    QVERIFY(recorder.Start());
    QCOMPARE(player.Play(path), QString());
    QVERIFY(player.IsPlaying());
    QVERIFY2(!SinkInputs().isEmpty(), "no stream while playing");
    QVERIFY(finished.wait(5000));
    QVERIFY(!player.IsPlaying());
    QTRY_COMPARE_WITH_TIMEOUT(SinkInputs(), QString(), 2000);
    QTest::qWait(300);

    const std::vector<Run> runs = Runs(Classify(recorder.Stop()));
    const QString heard = Describe(runs);
    // Silence, the whole second of the tone (its tail included), silence.
    QVERIFY2(runs.size() == 3 && runs[1].label == 440, qPrintable(heard));
    QVERIFY2(runs[1].windows * 20 >= 940 && runs[1].windows * 20 <= 1060, qPrintable(heard));
}

void SoundPlayerTest::stopCutsOff()
{
    REQUIRE_SERVER();
    const QString path = Fixture("long.wav");
    QVERIFY(WriteSound(path, 3.0, Tone(440)));

    vlm::SndfileSoundPlayer player;
    QSignalSpy finished(&player, &vlm::SndfileSoundPlayer::Finished);
    MonitorRecorder recorder;
    QVERIFY(recorder.Start());
    QCOMPARE(player.Play(path), QString());
    QTest::qWait(500);
    player.Stop();
    QVERIFY(!player.IsPlaying());
    QTRY_COMPARE_WITH_TIMEOUT(SinkInputs(), QString(), 1000);
    QTest::qWait(1000);

    const std::vector<Run> runs = Runs(Classify(recorder.Stop()));
    const QString heard = Describe(runs);
    QVERIFY2(runs.size() == 3 && runs[1].label == 440 && runs[2].label == 0, qPrintable(heard));
    QVERIFY2(runs[1].windows * 20 < 1000, qPrintable(heard));
    QVERIFY2(runs[2].windows * 20 >= 800, qPrintable(heard));
    QCOMPARE(finished.count(), 0);
}

void SoundPlayerTest::replayRestartsFromTheBeginning()
{
    REQUIRE_SERVER();
    // A 200 ms 880 Hz signature, then 800 ms of 440 Hz.
    const QString path = Fixture("signature.wav");
    QVERIFY(WriteSound(path, 1.0, [](double t) { return t < 0.2 ? Tone(880)(t) : Tone(440)(t); }));

    vlm::SndfileSoundPlayer player;
    QSignalSpy finished(&player, &vlm::SndfileSoundPlayer::Finished);
    MonitorRecorder recorder;
    QVERIFY(recorder.Start());
    QCOMPARE(player.Play(path), QString());
    QTest::qWait(500);
    QCOMPARE(player.Play(path), QString());
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.count(), 1);
    QTest::qWait(300);

    const std::vector<Run> runs = Runs(Classify(recorder.Stop()));
    const QString heard = Describe(runs);
    QVERIFY2(runs.size() == 6, qPrintable(heard));
    const int labels[] = { 0, 880, 440, 880, 440, 0 };
    for (std::size_t i = 0; i < runs.size(); ++i)
        QVERIFY2(runs[i].label == labels[i], qPrintable(heard));
    QVERIFY2(runs[4].windows * 20 >= 740, qPrintable(heard));
}

void SoundPlayerTest::soundComesBackWithTheServer_data()
{
    // What happens to the server between cues, one word a step: "start" and "kill" the server, "suspend" and
    // "resume" its sink, and the cues: "plays" (heard whole on the sink), "fails" (reported, nothing open),
    // "cue" (whatever it does, the player stays usable), "playing" (a long sound under way) and "ended" (that
    // sound has stopped by itself).
    QTest::addColumn<QStringList>("steps");
    const auto steps = [](const char* words) { return QString::fromLatin1(words).split(QLatin1Char(' ')); };
    QTest::newRow("killed and restarted between two cues") << steps("start plays kill start plays");
    QTest::newRow("down at a cue, back for the next") << steps("start plays kill fails start plays");
    QTest::newRow("no server at start, one appears before the first cue") << steps("start plays plays");
    QTest::newRow("no server at the first cues, then one appears") << steps("fails fails start plays");
    QTest::newRow("killed while a sound plays") << steps("start playing kill ended start plays");
    QTest::newRow("sink suspended and resumed") << steps("start plays suspend cue resume plays");
}

void SoundPlayerTest::soundComesBackWithTheServer()
{
    QFETCH(QStringList, steps);
    if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty())
        QSKIP("needs the pulseaudio server program");
    const QString tone = Fixture("comeback.wav");
    const QString longTone = Fixture("comeback-long.wav");
    QVERIFY(WriteSound(tone, 0.5, Tone(440)));
    QVERIFY(WriteSound(longTone, 5.0, Tone(440)));

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    PrivateServer server(folder.path());
    ServerAddressOverride address(server.Address());
    vlm::SndfileSoundPlayer player;
    QSignalSpy finished(&player, &vlm::SndfileSoundPlayer::Finished);

    for (int i = 0; i < steps.size(); ++i) {
        const QString& step = steps[i];
        const QByteArray where = QStringLiteral("step %1 (%2)").arg(i + 1).arg(step).toUtf8();
        if (step == QLatin1String("start")) {
            QVERIFY2(server.Start(), where);
        } else if (step == QLatin1String("kill")) {
            server.Kill();
        } else if (step == QLatin1String("suspend") || step == QLatin1String("resume")) {
            const QString on = step == QLatin1String("suspend") ? QStringLiteral("1") : QStringLiteral("0");
            QVERIFY2(server.Pactl({ QStringLiteral("suspend-sink"), QLatin1String(PrivateServer::kSink), on }), where);
        } else if (step == QLatin1String("plays")) {
            MonitorRecorder recorder;
            QVERIFY2(recorder.Start(QLatin1String(PrivateServer::kSink), server.Environment()), where);
            finished.clear();
            const QString error = player.Play(tone);
            QVERIFY2(error.isEmpty(), where + ": " + error.toUtf8());
            QVERIFY2(finished.wait(5000), where);
            QVERIFY(!player.IsPlaying());
            QTest::qWait(200);
            const std::vector<Run> runs = Runs(Classify(recorder.Stop()));
            const QString heard = Describe(runs);
            const bool whole = std::any_of(
                runs.begin(), runs.end(), [](const Run& run) { return run.label == 440 && run.windows * 20 >= 440; });
            QVERIFY2(whole, where + ": heard " + heard.toUtf8());
        } else if (step == QLatin1String("fails")) {
            const QString error = player.Play(tone);
            qInfo().noquote() << where << "->" << error;
            QVERIFY2(!error.isEmpty(), where);
            QVERIFY(!player.IsPlaying());
        } else if (step == QLatin1String("cue")) {
            const QString error = player.Play(tone);
            qInfo().noquote() << where << "->" << (error.isEmpty() ? QStringLiteral("(plays)") : error);
            QTest::qWait(500);
        } else if (step == QLatin1String("playing")) {
            QCOMPARE(player.Play(longTone), QString());
            QTest::qWait(300);
            QVERIFY2(player.IsPlaying(), where);
        } else if (step == QLatin1String("ended")) {
            QTRY_VERIFY2_WITH_TIMEOUT(!player.IsPlaying(), where, 3000);
        } else {
            QFAIL(where);
        }
    }
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    SoundPlayerTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "sound_player_test.moc"
