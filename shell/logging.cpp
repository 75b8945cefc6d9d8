#include "shell/logging.h"

Q_LOGGING_CATEGORY(lcTick, "vlm.tick", QtWarningMsg)
Q_LOGGING_CATEGORY(lcScheduler, "vlm.scheduler", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSettings, "vlm.settings", QtWarningMsg)
Q_LOGGING_CATEGORY(lcWindow, "vlm.window", QtWarningMsg)
