#include "shell/qt/platform/xdg_autostart.h"

#include "core/settings.h"
#include "core/system.h"
#include "shell/qt/logging.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <utility>

namespace vlm {

namespace {

const QString kEntryFileName = QStringLiteral("VLM.desktop");
const QString kEntryGroup = QStringLiteral("[Desktop Entry]");

// The entry always names "VLM", whatever the running executable is called.
QString ExecutablePath(QString programDir)
{
    while (programDir.endsWith(QLatin1Char('/')))
        programDir.chop(1);
    return programDir + QStringLiteral("/VLM");
}

QString EntryText(const QString& execValue)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=VLM\n"
                          "Exec=%1\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(execValue);
}

// The raw Exec value of the entry's main group, or nothing when the file can't be read or has none.
std::optional<QString> ReadExecValue(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool inEntryGroup = false;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString& rawLine : lines) {
        const QString line = rawLine.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntryGroup = line == kEntryGroup;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (inEntryGroup && equals > 0 && line.left(equals).trimmed() == QLatin1String("Exec"))
            return line.mid(equals + 1).trimmed();
    }
    return std::nullopt;
}

} // namespace

std::optional<QString> DesktopExecValue(const QString& program)
{
    // Quoting first: inside double quotes these four take a backslash, and a literal % is written %%.
    QString quoted = QStringLiteral("\"");
    for (const QChar c : program) {
        const char16_t code = c.unicode();
        if ((code < 0x20 && code != u'\t' && code != u'\n' && code != u'\r') || code == 0x7f)
            return std::nullopt;
        if (code == u'"' || code == u'`' || code == u'$' || code == u'\\')
            quoted += QLatin1Char('\\');
        else if (code == u'%')
            quoted += QLatin1Char('%');
        quoted += c;
    }
    quoted += QLatin1Char('"');

    // Then the escaping of every string value, which a reader undoes before the quoting: a quoted backslash ends
    // up as four. Tab, newline and carriage return, reserved but legal inside the quotes, take their escapes.
    QString value;
    value.reserve(quoted.size() + 8);
    for (const QChar c : std::as_const(quoted)) {
        switch (c.unicode()) {
        case u'\\':
            value += QStringLiteral("\\\\");
            break;
        case u'\t':
            value += QStringLiteral("\\t");
            break;
        case u'\n':
            value += QStringLiteral("\\n");
            break;
        case u'\r':
            value += QStringLiteral("\\r");
            break;
        default:
            value += c;
        }
    }
    return value;
}

QString ConfigHomeFromEnvironment()
{
    const std::string folder = vlm::sys::ConfigHome();
    return folder.empty() ? QDir::homePath() + QStringLiteral("/.config") : QString::fromStdString(folder);
}

XdgAutostart::XdgAutostart(QString configHome, QString launcher)
    : m_folder(QDir::cleanPath(
        (configHome.isEmpty() ? ConfigHomeFromEnvironment() : std::move(configHome)) + QStringLiteral("/autostart")))
    , m_launcher(std::move(launcher))
{
}

QString XdgAutostart::Program(const QString& programDir) const
{
    return m_launcher.isEmpty() ? ExecutablePath(programDir) : m_launcher;
}

QString XdgAutostart::EntryPath() const
{
    return m_folder + QLatin1Char('/') + kEntryFileName;
}

std::string XdgAutostart::RegisterAutostart(const std::string& programDir)
{
    return RegisterAutostart(QString::fromStdString(programDir)).toStdString();
}

void XdgAutostart::UnregisterAutostart(const std::string& programDir)
{
    UnregisterAutostart(QString::fromStdString(programDir));
}

bool XdgAutostart::IsRegistered(const std::string& programDir) const
{
    const std::optional<QString> exec = DesktopExecValue(Program(QString::fromStdString(programDir)));
    return exec && ReadExecValue(EntryPath()) == exec;
}

QString XdgAutostart::RegisterAutostart(const QString& programDir)
{
    if (!QDir().mkpath(m_folder)) {
        qCInfo(lcAutostart) << "Can't create the autostart folder" << m_folder;
        return {};
    }
    const std::optional<QString> exec = DesktopExecValue(Program(programDir));
    if (!exec) {
        qCWarning(lcAutostart) << "The program folder can't be named in a desktop entry:" << programDir;
        return QString::fromUtf8(kAutostartFailedText);
    }
    if (!vlm::sys::LooksWritable(QFile::encodeName(m_folder).toStdString())) {
        qCWarning(lcAutostart) << "The autostart folder is read-only:" << m_folder;
        return QString::fromUtf8(kAutostartFailedText);
    }

    // QSaveFile writes a temporary file beside the entry and renames it over the entry on commit.
    QSaveFile file(EntryPath());
    if (!file.open(QIODevice::WriteOnly) || file.write(EntryText(*exec).toUtf8()) < 0 || !file.commit()) {
        qCWarning(lcAutostart) << "Can't write" << EntryPath() << file.errorString();
        return QString::fromUtf8(kAutostartFailedText);
    }
    return {};
}

void XdgAutostart::UnregisterAutostart(const QString& programDir)
{
    const QString path = EntryPath();
    if (!IsRegistered(programDir.toStdString())) {
        qCInfo(lcAutostart) << "No autostart entry of this program to remove at" << path;
        return;
    }
    if (!vlm::sys::LooksWritable(QFile::encodeName(m_folder).toStdString()) || !QFile::remove(path))
        qCWarning(lcAutostart) << "Can't remove" << path;
}

} // namespace vlm
