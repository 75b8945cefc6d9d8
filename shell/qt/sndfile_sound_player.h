#pragma once

#include "core/sound_output.h"

#include <QAudioDevice>
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>

class QAudioSink;
class QIODevice;

namespace vlm {

class SndfileStream;

// Plays sound files through Qt's audio sink, decoding them with libsndfile a buffer at a time on the calling
// (GUI) thread. An audio stream is open only while a sound plays, so the sound server can suspend the device
// between sounds.
class SndfileSoundPlayer : public QObject, public SoundOutput {
    Q_OBJECT

public:
    // Plays on the system's default output, looked up at each Play.
    explicit SndfileSoundPlayer(QObject* parent = nullptr);
    ~SndfileSoundPlayer() override;

    std::string Play(const std::string& path) override;
    QString Play(const QString& path);
    bool IsPlaying() const override;
    void Stop() override;

signals:
    // A sound has played to its end and its file and stream are closed (not sent after Stop).
    void Finished();

private:
    void Feed();
    void CheckEnded();
    void OnStateChanged();
    void Close(const char* why);

    std::unique_ptr<SndfileStream> m_stream;
    QAudioSink* m_sink = nullptr;
    QIODevice* m_output = nullptr;
    QTimer m_feedTimer;
    QByteArray m_pending;
    QString m_path;
    qint64 m_bytesPerSecond = 0;
    qint64 m_writtenBytes = 0;
    bool m_firstDataLogged = false;
    bool m_sourceDone = false;
    QElapsedTimer m_sincePlay;
    QElapsedTimer m_sinceSourceDone;
};

} // namespace vlm
