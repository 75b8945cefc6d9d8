#include "shell/qt/sndfile_sound_player.h"

#include "shell/qt/logging.h"
#include "shell/qt/sndfile_stream.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>
#include <QTime>

#include <algorithm>

namespace vlm {

namespace {

// Audio queued at the sound server ahead of the play position: long enough to ride out a busy GUI thread,
// and it does not delay the start, because the first buffer is written inside Play.
constexpr int kBufferMs = 150;
constexpr int kFeedIntervalMs = 20;
// How long after the last sample was queued the stream is kept at most, should the server's timing not tell.
constexpr int kDrainLimitMs = kBufferMs + 1000;

QString Stamp()
{
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString AudioErrorText(QAudio::Error error)
{
    switch (error) {
    case QAudio::OpenError:
        return QStringLiteral("An error occurred opening the audio device");
    case QAudio::IOError:
        return QStringLiteral("An error occurred during read/write of the audio device");
    case QAudio::UnderrunError:
        return QStringLiteral("Audio data is not being fed to the audio device fast enough");
    case QAudio::FatalError:
        return QStringLiteral("A non-recoverable error has occurred, the audio device is not usable at this time");
    case QAudio::NoError:
        break;
    }
    return {};
}

// Channel counts Qt can give the server a channel map for. Past eight channels Qt's default layout carries an
// unknown position and the server refuses the stream, though the device claims to take up to 32 channels.
bool HasChannelMap(int channels)
{
    const auto config = quint32(QAudioFormat::defaultChannelConfigForChannelCount(channels));
    const auto unknown = quint32(QAudioFormat::channelConfig(QAudioFormat::UnknownPosition));
    return (config & unknown) == 0 && qPopulationCount(config) == uint(channels);
}

// The file's own channels and rate as 16-bit samples when the device takes them; otherwise the nearest the device
// takes, which the stream then remixes or resamples to.
QAudioFormat PickFormat(const QAudioDevice& device, int channels, int sampleRate)
{
    QAudioFormat format;
    format.setSampleFormat(QAudioFormat::Int16);
    format.setChannelCount(channels);
    format.setSampleRate(sampleRate);
    if (HasChannelMap(channels) && device.isFormatSupported(format))
        return format;

    int nearChannels = std::clamp(channels, device.minimumChannelCount(), device.maximumChannelCount());
    if (!HasChannelMap(nearChannels))
        nearChannels = std::clamp(2, device.minimumChannelCount(), device.maximumChannelCount());
    format.setChannelCount(nearChannels);
    format.setSampleRate(std::clamp(sampleRate, device.minimumSampleRate(), device.maximumSampleRate()));
    if (device.isFormatSupported(format))
        return format;

    format = device.preferredFormat();
    format.setSampleFormat(QAudioFormat::Int16);
    return format;
}

} // namespace

SndfileSoundPlayer::SndfileSoundPlayer(QObject* parent)
    : QObject(parent)
{
    m_feedTimer.setTimerType(Qt::PreciseTimer);
    m_feedTimer.setInterval(kFeedIntervalMs);
    connect(&m_feedTimer, &QTimer::timeout, this, [this] {
        Feed();
        CheckEnded();
    });
}

SndfileSoundPlayer::~SndfileSoundPlayer()
{
    Close("player destroyed");
}

std::string SndfileSoundPlayer::Play(const std::string& path)
{
    return Play(QString::fromStdString(path)).toStdString();
}

QString SndfileSoundPlayer::Play(const QString& path)
{
    Stop();
    m_sincePlay.start();
    m_path = path;
    qCDebug(lcSound).noquote() << Stamp() << "open" << path;

    QString error;
    m_stream = SndfileStream::Open(path, &error);
    if (m_stream == nullptr) {
        Close("open failed");
        if (error.isEmpty())
            error = QStringLiteral("Unknown error code");
        qCDebug(lcSound).noquote() << Stamp() << "error:" << path << error;
        return error;
    }

    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    const QAudioFormat format = PickFormat(device, m_stream->FileChannels(), m_stream->FileSampleRate());
    m_stream->SetOutput(format.channelCount(), format.sampleRate());
    m_bytesPerSecond = qint64(format.sampleRate()) * m_stream->BytesPerFrame();

    m_sink = new QAudioSink(device, format, this);
    m_sink->setBufferSize(qsizetype(m_bytesPerSecond * kBufferMs / 1000));
    m_output = m_sink->start();
    if (m_output == nullptr || m_sink->error() != QAudio::NoError) {
        error = AudioErrorText(m_sink->error());
        if (error.isEmpty())
            error = device.isNull() ? QStringLiteral("No audio output device is available")
                                    : QStringLiteral("Unknown error code");
        Close("sink failed");
        qCDebug(lcSound).noquote() << Stamp() << "error:" << path << error;
        return error;
    }
    // Connected only now: a failing start reports its state change from inside start().
    connect(m_sink, &QAudioSink::stateChanged, this, &SndfileSoundPlayer::OnStateChanged);
    qCDebug(lcSound).noquote() << Stamp() << "start" << device.description() << format.sampleRate() << "Hz"
                               << format.channelCount() << "ch, file" << m_stream->FileSampleRate() << "Hz"
                               << m_stream->FileChannels() << "ch," << m_stream->FileFrames() << "frames,"
                               << m_sincePlay.nsecsElapsed() / 1e6 << "ms after Play";

    // The first buffer goes out now rather than at the first timer tick: that tick is what start latency is made of.
    Feed();
    if (m_sink != nullptr)
        m_feedTimer.start();
    return {};
}

bool SndfileSoundPlayer::IsPlaying() const
{
    return m_sink != nullptr;
}

void SndfileSoundPlayer::Stop()
{
    if (m_sink != nullptr || m_stream != nullptr)
        Close("stop");
}

void SndfileSoundPlayer::Feed()
{
    if (m_sink == nullptr)
        return;
    const qint64 frameBytes = m_stream->BytesPerFrame();
    qint64 room = m_sink->bytesFree() / frameBytes * frameBytes;
    while (room > 0) {
        if (m_pending.isEmpty()) {
            if (m_sourceDone)
                break;
            m_pending.resize(qsizetype(room));
            const qint64 got = m_stream->read(m_pending.data(), room);
            if (got <= 0) {
                m_pending.clear();
                m_sourceDone = true;
                m_sinceSourceDone.start();
                qCDebug(lcSound).noquote() << Stamp() << "end of data after" << m_writtenBytes << "bytes";
                break;
            }
            m_pending.resize(qsizetype(got));
        }
        const qint64 written = m_output->write(m_pending.constData(), std::min<qint64>(room, m_pending.size()));
        if (written <= 0)
            break;
        if (!m_firstDataLogged) {
            m_firstDataLogged = true;
            qCDebug(lcSound).noquote() << Stamp() << "first data" << written << "bytes queued"
                                       << m_sincePlay.nsecsElapsed() / 1e6 << "ms after Play";
        }
        m_writtenBytes += written;
        room -= written;
        m_pending.remove(0, qsizetype(written));
    }
}

void SndfileSoundPlayer::CheckEnded()
{
    if (m_sink == nullptr || !m_sourceDone || !m_pending.isEmpty())
        return;
    // The sink's processed time counts what the server has played, so the stream is not torn down (which would
    // cut off the queued tail) before the last sample has been heard.
    const qint64 writtenUs = m_writtenBytes * 1000000 / std::max<qint64>(1, m_bytesPerSecond);
    const bool heard = m_sink->processedUSecs() >= writtenUs;
    if (!heard && m_sinceSourceDone.elapsed() < kDrainLimitMs)
        return;
    Close(heard ? "end" : "end (drain limit)");
    emit Finished();
}

void SndfileSoundPlayer::OnStateChanged()
{
    if (m_sink == nullptr)
        return;
    const QAudio::State state = m_sink->state();
    const QAudio::Error error = m_sink->error();
    qCDebug(lcSound).noquote() << Stamp() << "sink state" << state << error;
    if (state == QAudio::StoppedState && error != QAudio::NoError) {
        qCDebug(lcSound).noquote() << Stamp() << "error:" << m_path << AudioErrorText(error);
        Close("audio error");
    }
}

void SndfileSoundPlayer::Close(const char* why)
{
    m_feedTimer.stop();
    const bool open = m_sink != nullptr || m_stream != nullptr;
    if (m_sink != nullptr) {
        m_sink->disconnect(this);
        m_sink->stop();
        // Stopping has already closed the server stream; the sink's destructor runs a nested event loop, which
        // must not happen inside the caller's handler.
        m_sink->deleteLater();
        m_sink = nullptr;
    }
    m_output = nullptr;
    m_stream.reset();
    m_pending.clear();
    m_writtenBytes = 0;
    m_firstDataLogged = false;
    m_sourceDone = false;
    if (open)
        qCDebug(lcSound).noquote() << Stamp() << "close:" << why << m_path;
}

} // namespace vlm
