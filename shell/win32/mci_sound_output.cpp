#include "shell/win32/mci_sound_output.h"

#include "shell/win32/text.h"

#include <algorithm>

namespace vlm::win32 {

namespace {

// The name to open a file by. Wine's media layer finds no file whose path has characters outside ASCII (every
// prelude's title is Chinese), so such a path is given by its short form, which names the same file in ASCII.
std::wstring OpenableName(const std::string& path)
{
    std::wstring wide = Widen(path);
    if (std::all_of(wide.begin(), wide.end(), [](wchar_t c) { return c < 0x80; }))
        return wide;
    std::wstring shortName(wide.size() + MAX_PATH, L'\0');
    const DWORD length = GetShortPathNameW(wide.c_str(), shortName.data(), static_cast<DWORD>(shortName.size()));
    if (length == 0 || length >= shortName.size())
        return wide;
    shortName.resize(length);
    return shortName;
}

// Opens and closes the device and an output stream once, so the drivers are loaded and the sound server connected.
void WarmUp()
{
    MCI_OPEN_PARMSW open {};
    open.lpstrDeviceType = L"waveaudio";
    if (mciSendCommandW(0, MCI_OPEN, MCI_OPEN_TYPE | MCI_WAIT, reinterpret_cast<DWORD_PTR>(&open)) == 0)
        mciSendCommandW(open.wDeviceID, MCI_CLOSE, MCI_WAIT, 0);
    WAVEFORMATEX format { WAVE_FORMAT_PCM, 2, 44100, 44100 * 4, 4, 16, 0 };
    HWAVEOUT output = nullptr;
    if (waveOutOpen(&output, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) == MMSYSERR_NOERROR)
        waveOutClose(output);
}

} // namespace

MciSoundOutput::MciSoundOutput()
    : m_warmUp(WarmUp)
{
}

MciSoundOutput::~MciSoundOutput()
{
    Stop();
    if (m_warmUp.joinable())
        m_warmUp.join();
}

std::string MciSoundOutput::Play(const std::string& path)
{
    m_device.Reset();
    const std::wstring element = OpenableName(path);
    MCI_OPEN_PARMSW open {};
    open.lpstrDeviceType = L"waveaudio";
    open.lpstrElementName = element.c_str();
    const MCIERROR error
        = mciSendCommandW(0, MCI_OPEN, MCI_OPEN_TYPE | MCI_OPEN_ELEMENT | MCI_WAIT, reinterpret_cast<DWORD_PTR>(&open));
    if (error != 0)
        return ErrorText(error);
    m_device.Reset(open.wDeviceID);

    MCI_PLAY_PARMS play {};
    play.dwCallback = reinterpret_cast<DWORD_PTR>(m_notifyWindow);
    mciSendCommandW(m_device.Get(), MCI_PLAY, m_notifyWindow ? MCI_NOTIFY : 0, reinterpret_cast<DWORD_PTR>(&play));
    return {};
}

bool MciSoundOutput::IsPlaying() const
{
    if (!m_device)
        return false;
    MCI_STATUS_PARMS status {};
    status.dwItem = MCI_STATUS_MODE;
    return mciSendCommandW(m_device.Get(), MCI_STATUS, MCI_STATUS_ITEM | MCI_WAIT, reinterpret_cast<DWORD_PTR>(&status))
        == 0
        && status.dwReturn == MCI_MODE_PLAY;
}

void MciSoundOutput::Stop()
{
    if (!m_device)
        return;
    mciSendCommandW(m_device.Get(), MCI_STOP, MCI_WAIT, 0);
    m_device.Reset();
}

std::string MciSoundOutput::ErrorText(MCIERROR error)
{
    wchar_t text[MAXERRORLENGTH] {};
    if (!mciGetErrorStringW(error, text, MAXERRORLENGTH) || text[0] == L'\0')
        return "Unknown error code";
    return Narrow(text);
}

} // namespace vlm::win32
