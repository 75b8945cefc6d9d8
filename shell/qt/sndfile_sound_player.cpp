#include "shell/qt/sndfile_sound_player.h"

#include "shell/qt/logging.h"
#include "shell/qt/sndfile_stream.h"

#include <QTime>

#include <pulse/pulseaudio.h>

#include <algorithm>

namespace vlm {

namespace {

// Audio queued at the server ahead of the play position. It does not delay the start: the first request for data
// comes with the stream and is answered at once.
constexpr int kBufferMs = 150;
// How long a Play waits at most for the server to answer, so a hung server cannot hold the GUI thread for long.
constexpr int kServerWaitMs = 2000;
// How long after the last sample was queued the stream is kept at most, should the server never report it played.
constexpr int kDrainLimitMs = kBufferMs + 1000;

QString Stamp()
{
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"));
}

// The file's own channels and rate when the server takes them with a known channel layout; otherwise stereo, at
// 48 kHz if the server does not take the file's rate, which the decoder then remixes or resamples to.
void PickFormat(int channels, int rate, pa_sample_spec* spec, pa_channel_map* map)
{
    spec->format = PA_SAMPLE_S16NE;
    spec->channels = std::uint8_t(channels > 0 && channels <= int(PA_CHANNELS_MAX) ? channels : 2);
    spec->rate = std::uint32_t(rate > 0 && std::uint32_t(rate) <= PA_RATE_MAX ? rate : 48000);
    if (pa_channel_map_init_auto(map, spec->channels, PA_CHANNEL_MAP_DEFAULT) != nullptr
        || pa_channel_map_init_auto(map, spec->channels, PA_CHANNEL_MAP_ALSA) != nullptr)
        return;
    spec->channels = 2;
    pa_channel_map_init_stereo(map);
}

} // namespace

SndfileSoundPlayer::SndfileSoundPlayer(QObject* parent)
    : QObject(parent)
{
    m_drainLimit.setSingleShot(true);
    m_drainLimit.setInterval(kDrainLimitMs);
    connect(&m_drainLimit, &QTimer::timeout, this, &SndfileSoundPlayer::CheckDrainLimit);
    m_loop = pa_threaded_mainloop_new();
    if (m_loop != nullptr && pa_threaded_mainloop_start(m_loop) < 0) {
        pa_threaded_mainloop_free(m_loop);
        m_loop = nullptr;
    }
    if (m_loop == nullptr) {
        qCWarning(lcSound) << "cannot start the sound client's thread";
        return;
    }
    // Connected ahead, so the first cue does not wait for it; should this fail, the first Play tries again.
    QString error;
    pa_threaded_mainloop_lock(m_loop);
    BeginConnectLocked(&error);
    pa_threaded_mainloop_unlock(m_loop);
}

SndfileSoundPlayer::~SndfileSoundPlayer()
{
    Close("player destroyed");
    if (m_loop == nullptr)
        return;
    pa_threaded_mainloop_lock(m_loop);
    DropContextLocked();
    pa_threaded_mainloop_unlock(m_loop);
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
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
    std::unique_ptr<SndfileStream> source = SndfileStream::Open(path, &error);
    if (source != nullptr && m_loop == nullptr)
        error = QString::fromUtf8(pa_strerror(PA_ERR_INTERNAL));
    if (source == nullptr || m_loop == nullptr) {
        if (error.isEmpty())
            error = QStringLiteral("Unknown error code");
        qCDebug(lcSound).noquote() << Stamp() << "error:" << path << error;
        return error;
    }

    pa_threaded_mainloop_lock(m_loop);
    pa_sample_spec spec {};
    pa_channel_map map {};
    PickFormat(source->FileChannels(), source->FileSampleRate(), &spec, &map);
    source->SetOutput(spec.channels, int(spec.rate));
    const int fileChannels = source->FileChannels();
    const int fileRate = source->FileSampleRate();
    const qint64 fileFrames = source->FileFrames();
    m_source = std::move(source);
    ++m_play;

    m_playing = Connect(&error) && OpenStreamLocked(spec, map, &error);
    pa_threaded_mainloop_unlock(m_loop);

    if (!m_playing) {
        Close("open failed");
        if (error.isEmpty())
            error = QStringLiteral("Unknown error code");
        qCDebug(lcSound).noquote() << Stamp() << "error:" << path << error;
        return error;
    }
    qCDebug(lcSound).noquote() << Stamp() << "start" << spec.rate << "Hz" << spec.channels << "ch, file" << fileRate
                               << "Hz" << fileChannels << "ch," << fileFrames << "frames,"
                               << m_sincePlay.nsecsElapsed() / 1e6 << "ms after Play";
    return {};
}

bool SndfileSoundPlayer::IsPlaying() const
{
    return m_playing;
}

void SndfileSoundPlayer::Stop()
{
    Close("stop");
}

// Starts a connection to the server without waiting for it. Called with the loop's lock held.
bool SndfileSoundPlayer::BeginConnectLocked(QString* error)
{
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "VLM");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, "vlm");
    m_context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_loop), "VLM", properties);
    pa_proplist_free(properties);
    if (m_context == nullptr) {
        *error = QString::fromUtf8(pa_strerror(PA_ERR_INTERNAL));
        return false;
    }
    pa_context_set_state_callback(m_context, &SndfileSoundPlayer::OnContextState, this);
    // No autospawn: starting a sound server is the desktop's business, not a bell's.
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        *error = ContextErrorLocked();
        DropContextLocked();
        return false;
    }
    return true;
}

// Makes sure there is a ready connection to the server, making a new one when the last has failed or ended (the
// server went away) or none was made yet. Called with the loop's lock held.
bool SndfileSoundPlayer::Connect(QString* error)
{
    if (m_context == nullptr || !PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context))) {
        DropContextLocked();
        if (!BeginConnectLocked(error))
            return false;
    }
    const bool answered = WaitLocked(
        [](SndfileSoundPlayer* self) {
            const pa_context_state_t state = pa_context_get_state(self->m_context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        },
        kServerWaitMs);
    if (pa_context_get_state(m_context) == PA_CONTEXT_READY)
        return true;
    *error = answered ? ContextErrorLocked() : QString::fromUtf8(pa_strerror(PA_ERR_TIMEOUT));
    DropContextLocked();
    return false;
}

// Opens the playback stream and waits until the server has taken it; its first request for data is answered on
// the loop's thread as soon as it comes. Called with the loop's lock held.
bool SndfileSoundPlayer::OpenStreamLocked(const pa_sample_spec& spec, const pa_channel_map& map, QString* error)
{
    m_stream = pa_stream_new(m_context, "VLM", &spec, &map);
    if (m_stream == nullptr) {
        *error = ContextErrorLocked();
        return false;
    }
    pa_stream_set_state_callback(m_stream, &SndfileSoundPlayer::OnStreamState, this);
    pa_stream_set_write_callback(m_stream, &SndfileSoundPlayer::OnWrite, this);
    pa_buffer_attr attr {};
    attr.maxlength = std::uint32_t(-1);
    attr.tlength = std::uint32_t(pa_usec_to_bytes(pa_usec_t(kBufferMs) * 1000, &spec));
    attr.prebuf = std::uint32_t(-1);
    attr.minreq = std::uint32_t(-1);
    attr.fragsize = std::uint32_t(-1);
    if (pa_stream_connect_playback(m_stream, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0) {
        *error = ContextErrorLocked();
        return false;
    }
    const bool answered = WaitLocked(
        [](SndfileSoundPlayer* self) {
            const pa_stream_state_t state = pa_stream_get_state(self->m_stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        },
        kServerWaitMs);
    if (pa_stream_get_state(m_stream) == PA_STREAM_READY)
        return true;
    *error = answered ? ContextErrorLocked() : QString::fromUtf8(pa_strerror(PA_ERR_TIMEOUT));
    return false;
}

// Waits on the loop until `done` holds or `timeoutMs` has passed; returns whether it holds. Called with the lock
// held and a context made.
bool SndfileSoundPlayer::WaitLocked(bool (*done)(SndfileSoundPlayer*), int timeoutMs)
{
    struct Alarm {
        pa_threaded_mainloop* loop;
        bool rang;
    } alarm { m_loop, false };
    // On the monotonic clock, so a wall clock set forward or back does not stretch or cut the wait.
    pa_time_event* event = pa_context_rttime_new(
        m_context, pa_rtclock_now() + pa_usec_t(timeoutMs) * 1000,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
            auto* alarm = static_cast<Alarm*>(data);
            alarm->rang = true;
            pa_threaded_mainloop_signal(alarm->loop, 0);
        },
        &alarm);
    if (event == nullptr)
        return done(this);
    while (!done(this) && !alarm.rang)
        pa_threaded_mainloop_wait(m_loop);
    pa_threaded_mainloop_get_api(m_loop)->time_free(event);
    return done(this);
}

QString SndfileSoundPlayer::ContextErrorLocked() const
{
    const int code = m_context != nullptr ? pa_context_errno(m_context) : PA_ERR_CONNECTIONREFUSED;
    return code != PA_OK ? QString::fromUtf8(pa_strerror(code)) : QString();
}

void SndfileSoundPlayer::DropContextLocked()
{
    if (m_context == nullptr)
        return;
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
}

void SndfileSoundPlayer::Close(const char* why)
{
    m_drainLimit.stop();
    const bool open = m_playing;
    m_playing = false;
    if (m_loop != nullptr) {
        pa_threaded_mainloop_lock(m_loop);
        if (m_stream != nullptr) {
            pa_stream_set_state_callback(m_stream, nullptr, nullptr);
            pa_stream_set_write_callback(m_stream, nullptr, nullptr);
            pa_stream_disconnect(m_stream);
            pa_stream_unref(m_stream);
            m_stream = nullptr;
        }
        m_source.reset();
        m_writtenBytes = 0;
        m_sourceDone = false;
        m_firstDataLogged = false;
        pa_threaded_mainloop_unlock(m_loop);
    }
    if (open)
        qCDebug(lcSound).noquote() << Stamp() << "close:" << why << m_path;
}

void SndfileSoundPlayer::OnContextState(pa_context* context, void* self)
{
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY)
        qCDebug(lcSound).noquote() << Stamp() << "connected to" << pa_context_get_server(context);
    else if (!PA_CONTEXT_IS_GOOD(state))
        qCDebug(lcSound).noquote() << Stamp() << "no connection:" << pa_strerror(pa_context_errno(context));
    pa_threaded_mainloop_signal(static_cast<SndfileSoundPlayer*>(self)->m_loop, 0);
}

void SndfileSoundPlayer::OnStreamState(pa_stream* stream, void* data)
{
    auto* self = static_cast<SndfileSoundPlayer*>(data);
    pa_threaded_mainloop_signal(self->m_loop, 0);
    if (stream != self->m_stream || PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
        return;
    const std::uint64_t play = self->m_play;
    const QString error = self->ContextErrorLocked();
    QMetaObject::invokeMethod(
        self, [self, play, error] { self->StreamFailed(play, error); }, Qt::QueuedConnection);
}

void SndfileSoundPlayer::OnWrite(pa_stream* stream, std::size_t bytes, void* data)
{
    auto* self = static_cast<SndfileSoundPlayer*>(data);
    if (stream == self->m_stream)
        self->FeedLocked(bytes);
}

void SndfileSoundPlayer::FeedLocked(std::size_t bytes)
{
    if (m_sourceDone || m_source == nullptr)
        return;
    const std::size_t frameBytes = std::size_t(m_source->BytesPerFrame());
    bytes = bytes / frameBytes * frameBytes;
    while (bytes > 0) {
        void* buffer = nullptr;
        std::size_t room = bytes;
        if (pa_stream_begin_write(m_stream, &buffer, &room) < 0 || buffer == nullptr)
            return;
        room = room / frameBytes * frameBytes;
        const qint64 got = room > 0 ? m_source->Read(static_cast<char*>(buffer), qint64(room)) : 0;
        if (got <= 0) {
            pa_stream_cancel_write(m_stream);
            m_sourceDone = true;
            qCDebug(lcSound).noquote() << Stamp() << "end of data after" << m_writtenBytes << "bytes";
            pa_operation_unref(pa_stream_drain(m_stream, &SndfileSoundPlayer::OnDrained, this));
            const std::uint64_t play = m_play;
            QMetaObject::invokeMethod(
                this, [this, play] { SourceDone(play); }, Qt::QueuedConnection);
            return;
        }
        if (pa_stream_write(m_stream, buffer, std::size_t(got), nullptr, 0, PA_SEEK_RELATIVE) < 0)
            return;
        if (!m_firstDataLogged) {
            m_firstDataLogged = true;
            qCDebug(lcSound).noquote() << Stamp() << "first data" << got << "bytes queued"
                                       << m_sincePlay.nsecsElapsed() / 1e6 << "ms after Play";
        }
        m_writtenBytes += got;
        bytes -= std::min(bytes, std::size_t(got));
    }
}

void SndfileSoundPlayer::OnDrained(pa_stream* stream, int success, void* data)
{
    auto* self = static_cast<SndfileSoundPlayer*>(data);
    // A drain that did not succeed ends with the stream's failure, reported on its own.
    if (stream != self->m_stream || !success)
        return;
    const std::uint64_t play = self->m_play;
    QMetaObject::invokeMethod(
        self, [self, play] { self->Drained(play); }, Qt::QueuedConnection);
}

void SndfileSoundPlayer::SourceDone(std::uint64_t play)
{
    if (play == m_play && m_playing)
        m_drainLimit.start();
}

void SndfileSoundPlayer::Drained(std::uint64_t play)
{
    if (play != m_play || !m_playing)
        return;
    Close("end");
    emit Finished();
}

void SndfileSoundPlayer::StreamFailed(std::uint64_t play, const QString& error)
{
    if (play != m_play || !m_playing)
        return;
    qCDebug(lcSound).noquote() << Stamp() << "error:" << m_path << error;
    Close("audio error");
}

void SndfileSoundPlayer::CheckDrainLimit()
{
    if (!m_playing)
        return;
    Close("end (drain limit)");
    emit Finished();
}

} // namespace vlm
