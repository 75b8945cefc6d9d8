#pragma once

// Resource ids of the Windows program, shared by vlm.rc and the shell.

// The bell icon (16 to 256 pixels): the executable's, the window's and the notification area's.
#define IDI_VLM 1
