#pragma once

#include <QString>

#include <sndfile.h>

#include <memory>
#include <vector>

namespace vlm {

// A read-only stream of 16-bit interleaved samples decoded from a sound file, read a piece at a time so that no
// more of the file is held than one read asks for, whatever its header claims.
class SndfileStream {
public:
    // Opens the regular file at `path` for decoding. On failure returns nullptr and puts the reason in `error`.
    static std::unique_ptr<SndfileStream> Open(const QString& path, QString* error);
    ~SndfileStream();
    SndfileStream(const SndfileStream&) = delete;
    SndfileStream& operator=(const SndfileStream&) = delete;

    int FileChannels() const { return m_fileChannels; }
    int FileSampleRate() const { return m_fileRate; }
    // The frame count the header gives; the file may hold fewer.
    qint64 FileFrames() const { return m_fileFrames; }

    // Makes reads deliver `channels` channels at `sampleRate` Hz (remixed and linearly resampled as needed).
    // Call before the first read; by default reads deliver the file's own channels and rate.
    void SetOutput(int channels, int sampleRate);
    int BytesPerFrame() const { return m_outChannels * int(sizeof(qint16)); }

    // Decodes up to `maxSize` bytes (whole frames) into `data`; returns how many it gave, 0 at the end.
    qint64 Read(char* data, qint64 maxSize);
    bool AtEnd() const { return m_ended; }

private:
    SndfileStream(SNDFILE* file, int fd, const SF_INFO& info);
    qint64 ReadBlock();
    qint64 ReadFrames(qint16* out, qint64 frames);
    qint64 ReadConverted(qint16* out, qint64 frames);
    bool NextSourceFrame();
    void ReleaseFile();

    SNDFILE* m_file = nullptr;
    int m_fd = -1;
    int m_fileChannels = 0;
    int m_fileRate = 0;
    qint64 m_fileFrames = 0;
    int m_outChannels = 0;
    int m_outRate = 0;
    bool m_ended = false;

    std::vector<float> m_block;
    qint64 m_blockFrames = 0;
    qint64 m_blockPos = 0;
    // Resampling state: the two source frames (already remixed) that the output position lies between.
    std::vector<float> m_previous;
    std::vector<float> m_current;
    double m_phase = 0.0;
    bool m_primed = false;
    bool m_sourceDone = false;
    std::vector<qint16> m_scratch;
};

} // namespace vlm
