#pragma once

#include "shell/win32/media_layer.h"

namespace vlm::win32 {

// The system's media control layer and its "waveaudio" device.
class MciMediaLayer final : public MediaLayer {
public:
    void WarmUp() override;
    MCIERROR Open(const std::wstring& file, const std::wstring& alias, MCIDEVICEID* device) override;
    MCIERROR Play(MCIDEVICEID device, HWND notify) override;
    void Stop(MCIDEVICEID device) override;
    void Close(MCIDEVICEID device) override;
    std::string ErrorText(MCIERROR error) override;
};

} // namespace vlm::win32
