#include "shell/legacy_cleanup.h"

#include "shell/logging.h"

#include <QFile>
#include <QFileInfo>

namespace vlm {

QStringList DefaultLegacyRoots()
{
    return { QStringLiteral("/opt/VLM"), QStringLiteral("/usr/local/VLM") };
}

QStringList LegacyFileNames()
{
    return { QStringLiteral("tirvo0.wav"), QStringLiteral("tirvo1.wav"), QStringLiteral("tirvo2.wav"),
        QStringLiteral("tirvo3.wav"), QStringLiteral("sarevin.txt"), QStringLiteral("sarevinU.txt"),
        QStringLiteral("vlm.cfg") };
}

QStringList LegacyFiles(const QStringList& roots)
{
    QStringList paths;
    const QStringList names = LegacyFileNames();
    for (const QString& root : roots) {
        for (const QString& name : names)
            paths.append(root + QLatin1Char('/') + name);
    }
    return paths;
}

void DeleteLegacyFiles(const QStringList& roots)
{
    for (const QString& path : LegacyFiles(roots)) {
        const QFileInfo info(path);
        // A link is judged by itself, not by what it points to: removing it unlinks only the link.
        if (!info.isSymbolicLink() && !info.isFile())
            continue;
        if (QFile::remove(path))
            qCInfo(lcCleanup) << "Removed" << path;
        else
            qCInfo(lcCleanup) << "Can't remove" << path;
    }
}

} // namespace vlm
