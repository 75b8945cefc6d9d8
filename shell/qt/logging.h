#pragma once

#include <QLoggingCategory>

// Diagnostics, all silent unless QT_LOGGING_RULES turns them on (e.g. "vlm.*=true").
Q_DECLARE_LOGGING_CATEGORY(lcTick)
Q_DECLARE_LOGGING_CATEGORY(lcScheduler)
Q_DECLARE_LOGGING_CATEGORY(lcSettings)
Q_DECLARE_LOGGING_CATEGORY(lcWindow)
Q_DECLARE_LOGGING_CATEGORY(lcSound)
Q_DECLARE_LOGGING_CATEGORY(lcAutostart)
Q_DECLARE_LOGGING_CATEGORY(lcCleanup)
