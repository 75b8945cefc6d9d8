#pragma once

#include "shell/win32/handles.h"

namespace vlm::win32 {

// One running copy per logon session, held by a named mutex for the process's life.
class SingleInstance {
public:
    // Takes the session's lock; false when another copy holds it.
    bool Claim();

    // Asks the running copy to show its window, waiting a few seconds for a copy still starting up to create it.
    // False when no window turned up.
    static bool ShowRunningCopy();

    // The message a running copy answers by showing its window.
    static UINT ShowRequestMessage();

    // The message a running copy answers by saving its settings and ending at once, as at the session's end: sent by
    // the installer and the uninstaller before they replace or remove its files (registered as
    // "VLM.Vellimor.SaveAndEnd", the name they use too). It answers TRUE.
    static UINT EndRequestMessage();

private:
    KernelHandle m_mutex;
};

} // namespace vlm::win32
