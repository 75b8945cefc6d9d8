#include "shell/qt/logging.h"

Q_LOGGING_CATEGORY(lcTick, "vlm.tick", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcScheduler, "vlm.scheduler", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcSettings, "vlm.settings", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcWindow, "vlm.window", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcSound, "vlm.sound", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcAutostart, "vlm.autostart", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcCleanup, "vlm.cleanup", QtCriticalMsg)
