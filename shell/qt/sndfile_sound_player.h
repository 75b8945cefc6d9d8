#pragma once

#include "core/sound_output.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>

struct pa_channel_map;
struct pa_context;
struct pa_sample_spec;
struct pa_stream;
struct pa_threaded_mainloop;

namespace vlm {

class SndfileStream;

// Plays sound files on the sound server through libpulse (served by PulseAudio and by PipeWire alike), decoding
// them with libsndfile a buffer at a time on libpulse's own thread, so the calling (GUI) thread never decodes.
// An audio stream is open only while a sound plays, so the server can suspend the device between sounds. The
// connection to the server is made again at a Play after the server has gone away, so sound comes back with it.
class SndfileSoundPlayer : public QObject, public SoundOutput {
    Q_OBJECT

public:
    // Plays on the server's default output, as libpulse finds the server (PULSE_SERVER, client.conf, the
    // user's runtime folder) at each connection.
    explicit SndfileSoundPlayer(QObject* parent = nullptr);
    ~SndfileSoundPlayer() override;

    std::string Play(const std::string& path) override;
    QString Play(const QString& path);
    bool IsPlaying() const override;
    void Stop() override;

signals:
    // A sound has played to its end and its file and stream are closed (not sent after Stop or a failure).
    void Finished();

private:
    bool BeginConnectLocked(QString* error);
    bool Connect(QString* error);
    bool OpenStreamLocked(const pa_sample_spec& spec, const pa_channel_map& map, QString* error);
    bool WaitLocked(bool (*done)(SndfileSoundPlayer*), int timeoutMs);
    QString ContextErrorLocked() const;
    void DropContextLocked();
    void Close(const char* why);

    // libpulse callbacks: they run on libpulse's thread with its lock held.
    static void OnContextState(pa_context* context, void* self);
    static void OnStreamState(pa_stream* stream, void* self);
    static void OnWrite(pa_stream* stream, std::size_t bytes, void* self);
    static void OnDrained(pa_stream* stream, int success, void* self);
    void FeedLocked(std::size_t bytes);

    // Run on the player's thread through its event queue, for the Play numbered `play`.
    void SourceDone(std::uint64_t play);
    void Drained(std::uint64_t play);
    void StreamFailed(std::uint64_t play, const QString& error);
    void CheckDrainLimit();

    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;

    // Guarded by the loop's lock.
    pa_stream* m_stream = nullptr;
    std::unique_ptr<SndfileStream> m_source;
    std::uint64_t m_play = 0;
    std::int64_t m_writtenBytes = 0;
    bool m_sourceDone = false;
    bool m_firstDataLogged = false;

    // The player's thread only.
    bool m_playing = false;
    QString m_path;
    QTimer m_drainLimit;
    QElapsedTimer m_sincePlay;
};

} // namespace vlm
