#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <string>

namespace vlm::win32 {

// The media control layer's calls the sound output makes, one device per open file. Any of them may never return
// (an audio driver or sound server that stops answering); the sound output calls them from a thread of its own.
// Calls come from several threads, though never two on one device at once.
class MediaLayer {
public:
    virtual ~MediaLayer() = default;

    // Loads the drivers and reaches the sound server ahead of the first sound.
    virtual void WarmUp() = 0;
    // Opens `file` as a new device known as `alias`; 0 or the error code.
    virtual MCIERROR Open(const std::wstring& file, const std::wstring& alias, MCIDEVICEID* device) = 0;
    // Starts playing from the beginning without waiting; `notify` gets MM_MCINOTIFY when it ends.
    virtual MCIERROR Play(MCIDEVICEID device, HWND notify) = 0;
    virtual void Stop(MCIDEVICEID device) = 0;
    virtual void Close(MCIDEVICEID device) = 0;
    // The layer's text for an error code, or "Unknown error code" when it has none.
    virtual std::string ErrorText(MCIERROR error) = 0;
};

} // namespace vlm::win32
