#include "shell/qt/sndfile_stream.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vlm {

namespace {

// Frames decoded per libsndfile call: bounds the memory a read uses whatever the caller or the header asks for.
constexpr qint64 kBlockFrames = 1024;

qint16 ToSample(float value)
{
    return qint16(std::clamp(std::lround(value * 32768.0f), -32768L, 32767L));
}

} // namespace

std::unique_ptr<SndfileStream> SndfileStream::Open(const QString& path, QString* error)
{
    const QByteArray native = QFile::encodeName(path);
    // O_NONBLOCK so that a FIFO without a writer cannot stall the open; only regular files go further.
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = qt_error_string(errno);
        return nullptr;
    }
    struct stat status { };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        const int code = errno;
        const bool directory = S_ISDIR(status.st_mode);
        ::close(fd);
        if (directory)
            *error = qt_error_string(EISDIR);
        else if (status.st_mode != 0)
            *error = QStringLiteral("Not a regular file");
        else
            *error = qt_error_string(code);
        return nullptr;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

    SF_INFO info {};
    SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_FALSE);
    if (file == nullptr) {
        *error = QString::fromUtf8(sf_strerror(nullptr));
        ::close(fd);
        return nullptr;
    }
    if (info.channels < 1 || info.samplerate < 1) {
        sf_close(file);
        ::close(fd);
        *error = QStringLiteral("Unsupported channel count or sample rate");
        return nullptr;
    }
    return std::unique_ptr<SndfileStream>(new SndfileStream(file, fd, info));
}

SndfileStream::SndfileStream(SNDFILE* file, int fd, const SF_INFO& info)
    : m_file(file)
    , m_fd(fd)
    , m_fileChannels(info.channels)
    , m_fileRate(info.samplerate)
    , m_fileFrames(info.frames)
    , m_outChannels(info.channels)
    , m_outRate(info.samplerate)
{
}

SndfileStream::~SndfileStream()
{
    ReleaseFile();
}

void SndfileStream::SetOutput(int channels, int sampleRate)
{
    m_outChannels = std::max(1, channels);
    m_outRate = std::max(1, sampleRate);
}

void SndfileStream::ReleaseFile()
{
    if (m_file != nullptr) {
        sf_close(m_file);
        m_file = nullptr;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_ended = true;
    m_block = {};
    m_blockFrames = 0;
    m_blockPos = 0;
}

qint64 SndfileStream::Read(char* data, qint64 maxSize)
{
    if (m_ended)
        return 0;
    const qint64 frames = maxSize / BytesPerFrame();
    qint64 done = 0;
    while (done < frames) {
        const qint64 want = std::min(frames - done, kBlockFrames);
        m_scratch.resize(std::size_t(want * m_outChannels));
        const bool plain = m_outChannels == m_fileChannels && m_outRate == m_fileRate;
        const qint64 got = plain ? ReadFrames(m_scratch.data(), want) : ReadConverted(m_scratch.data(), want);
        if (got <= 0) {
            m_ended = true;
            break;
        }
        std::memcpy(data + done * BytesPerFrame(), m_scratch.data(), std::size_t(got * BytesPerFrame()));
        done += got;
    }
    return done * BytesPerFrame();
}

qint64 SndfileStream::ReadBlock()
{
    m_block.resize(std::size_t(kBlockFrames * m_fileChannels));
    m_blockPos = 0;
    // Floats rather than sf_readf_short: libsndfile would not scale float files to 16 bits, turning them silent.
    m_blockFrames = m_file != nullptr ? sf_readf_float(m_file, m_block.data(), kBlockFrames) : 0;
    return m_blockFrames;
}

qint64 SndfileStream::ReadFrames(qint16* out, qint64 frames)
{
    qint64 done = 0;
    while (done < frames) {
        if (m_blockPos >= m_blockFrames && ReadBlock() <= 0)
            break;
        const qint64 take = std::min(frames - done, m_blockFrames - m_blockPos);
        const float* in = m_block.data() + m_blockPos * m_fileChannels;
        for (qint64 i = 0; i < take * m_fileChannels; ++i)
            out[done * m_fileChannels + i] = ToSample(in[i]);
        m_blockPos += take;
        done += take;
    }
    return done;
}

bool SndfileStream::NextSourceFrame()
{
    if (m_blockPos >= m_blockFrames && ReadBlock() <= 0)
        return false;
    const float* in = m_block.data() + m_blockPos * m_fileChannels;
    ++m_blockPos;
    m_current.assign(std::size_t(m_outChannels), 0.0f);
    if (m_outChannels <= m_fileChannels) {
        // Fewer channels out: each output channel is the mean of the input channels that fold onto it.
        std::vector<int> counts(std::size_t(m_outChannels), 0);
        for (int k = 0; k < m_fileChannels; ++k) {
            m_current[std::size_t(k % m_outChannels)] += in[k];
            ++counts[std::size_t(k % m_outChannels)];
        }
        for (int c = 0; c < m_outChannels; ++c)
            m_current[std::size_t(c)] /= float(counts[std::size_t(c)]);
    } else {
        for (int c = 0; c < m_outChannels; ++c)
            m_current[std::size_t(c)] = in[c % m_fileChannels];
    }
    return true;
}

qint64 SndfileStream::ReadConverted(qint16* out, qint64 frames)
{
    if (!m_primed) {
        m_primed = true;
        if (!NextSourceFrame())
            return 0;
        m_previous = m_current;
        m_sourceDone = !NextSourceFrame();
    }
    const double step = double(m_fileRate) / double(m_outRate);
    qint64 produced = 0;
    while (produced < frames && !m_sourceDone) {
        for (int c = 0; c < m_outChannels; ++c) {
            const float a = m_previous[std::size_t(c)];
            const float b = m_current[std::size_t(c)];
            out[produced * m_outChannels + c] = ToSample(a + (b - a) * float(m_phase));
        }
        ++produced;
        m_phase += step;
        while (m_phase >= 1.0) {
            m_phase -= 1.0;
            std::swap(m_previous, m_current);
            if (!NextSourceFrame()) {
                m_sourceDone = true;
                break;
            }
        }
    }
    return produced;
}

} // namespace vlm
