#include "shell/win32/mci_media_layer.h"

#include "shell/win32/text.h"

namespace vlm::win32 {

// Opens and closes the device and an output stream once: their first use costs a few hundred milliseconds under
// Wine, which would delay the first sound by as much.
void MciMediaLayer::WarmUp()
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

MCIERROR MciMediaLayer::Open(const std::wstring& file, const std::wstring& alias, MCIDEVICEID* device)
{
    MCI_OPEN_PARMSW open {};
    open.lpstrDeviceType = L"waveaudio";
    open.lpstrElementName = file.c_str();
    open.lpstrAlias = alias.c_str();
    const MCIERROR error = mciSendCommandW(0, MCI_OPEN, MCI_OPEN_TYPE | MCI_OPEN_ELEMENT | MCI_OPEN_ALIAS | MCI_WAIT,
        reinterpret_cast<DWORD_PTR>(&open));
    *device = error == 0 ? open.wDeviceID : 0;
    return error;
}

MCIERROR MciMediaLayer::Play(MCIDEVICEID device, HWND notify)
{
    MCI_PLAY_PARMS play {};
    play.dwCallback = reinterpret_cast<DWORD_PTR>(notify);
    return mciSendCommandW(device, MCI_PLAY, notify ? MCI_NOTIFY : 0, reinterpret_cast<DWORD_PTR>(&play));
}

void MciMediaLayer::Stop(MCIDEVICEID device)
{
    mciSendCommandW(device, MCI_STOP, MCI_WAIT, 0);
}

void MciMediaLayer::Close(MCIDEVICEID device)
{
    mciSendCommandW(device, MCI_CLOSE, MCI_WAIT, 0);
}

std::string MciMediaLayer::ErrorText(MCIERROR error)
{
    wchar_t text[MAXERRORLENGTH] {};
    if (!mciGetErrorStringW(error, text, MAXERRORLENGTH) || text[0] == L'\0')
        return "Unknown error code";
    return Narrow(text);
}

} // namespace vlm::win32
