#include "shell/qt/platform/xdg_autostart.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

using namespace vlm;

namespace {

const QString kFailed = QString::fromUtf8(kAutostartFailedText);

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// The launcher's side of the Desktop Entry rules, written from the rules themselves: undo the string-value
// escapes (\s \n \t \r \\), split into arguments honouring double quotes (inside which \" \` \$ \\ stand for the
// character), then expand the field code %% to %. Nothing when the value breaks the rules or holds a field code.
std::optional<QStringList> LauncherArguments(const QString& value)
{
    QString exec;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\') {
            exec += value[i];
            continue;
        }
        if (++i == value.size())
            return std::nullopt;
        switch (value[i].unicode()) {
        case u's':
            exec += u' ';
            break;
        case u'n':
            exec += u'\n';
            break;
        case u't':
            exec += u'\t';
            break;
        case u'r':
            exec += u'\r';
            break;
        case u'\\':
            exec += u'\\';
            break;
        default:
            return std::nullopt;
        }
    }

    const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QStringList arguments;
    qsizetype i = 0;
    while (i < exec.size()) {
        if (exec[i] == u' ') {
            ++i;
            continue;
        }
        QString argument;
        if (exec[i] == u'"') {
            for (++i;; ++i) {
                if (i == exec.size())
                    return std::nullopt;
                if (exec[i] == u'"')
                    break;
                if (exec[i] == u'\\') {
                    if (++i == exec.size() || !QStringLiteral("\"`$\\").contains(exec[i]))
                        return std::nullopt;
                }
                argument += exec[i];
            }
            ++i;
            if (i < exec.size() && exec[i] != u' ')
                return std::nullopt;
        } else {
            for (; i < exec.size() && exec[i] != u' '; ++i) {
                if (reserved.contains(exec[i]))
                    return std::nullopt;
                argument += exec[i];
            }
        }

        QString expanded;
        for (qsizetype j = 0; j < argument.size(); ++j) {
            if (argument[j] == u'%') {
                if (++j == argument.size() || argument[j] != u'%')
                    return std::nullopt;
            }
            expanded += argument[j];
        }
        arguments.append(expanded);
    }
    return arguments;
}

// The Exec value as it stands in the entry file.
QString ExecLine(const QString& entryPath)
{
    const QStringList lines = QString::fromUtf8(ReadAll(entryPath)).split(u'\n');
    for (const QString& line : lines) {
        if (line.startsWith(QStringLiteral("Exec=")))
            return line.mid(5);
    }
    return {};
}

QStringList FolderListing(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
}

enum class Obstacle { AutostartIsFile, ConfigHomeIsFile, ReadOnlyFolder, EntryIsFolder, None };

} // namespace

Q_DECLARE_METATYPE(Obstacle)

class XdgAutostartTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void execSurvivesLauncher_data();
    void execSurvivesLauncher();
    void entryIsWrittenWhole();
    void registerUnregisterRegister();
    void unregisterRemovesOnlyOwnEntry_data();
    void unregisterRemovesOnlyOwnEntry();
    void launcherRunsWhateverTheFolder();
    void failures_data();
    void failures();
    void configHomeFromEnvironment_data();
    void configHomeFromEnvironment();

private:
    QString ConfigHome() const { return m_config->path() + QStringLiteral("/config"); }
    QString AutostartFolder() const { return ConfigHome() + QStringLiteral("/autostart"); }
    QString EntryPath() const { return AutostartFolder() + QStringLiteral("/VLM.desktop"); }

    QTemporaryDir m_home;
    QByteArray m_configHomeVariable;
    std::unique_ptr<QTemporaryDir> m_config;
};

void XdgAutostartTest::initTestCase()
{
    // Nothing here may reach the real user's autostart folder.
    QVERIFY(m_home.isValid());
    m_configHomeVariable = QFile::encodeName(m_home.path() + QStringLiteral("/xdg-config"));
    qputenv("HOME", QFile::encodeName(m_home.path()));
    qputenv("XDG_CONFIG_HOME", m_configHomeVariable);
}

void XdgAutostartTest::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    QVERIFY(m_config->isValid());
}

void XdgAutostartTest::cleanup()
{
    // A test may have taken the write bits away; give them back so the folder can be removed.
    QFile::setPermissions(AutostartFolder(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    m_config.reset();
    qputenv("XDG_CONFIG_HOME", m_configHomeVariable);
}

void XdgAutostartTest::execSurvivesLauncher_data()
{
    QTest::addColumn<QString>("programDir");
    QTest::addColumn<QString>("program");

    QTest::newRow("plain") << "/opt/VLM"
                           << "/opt/VLM/VLM";
    QTest::newRow("spaces") << "/home/u/My Programs/V L M"
                            << "/home/u/My Programs/V L M/VLM";
    QTest::newRow("double quote") << "/opt/say \"hi\""
                                  << "/opt/say \"hi\"/VLM";
    QTest::newRow("backslash") << "/opt/back\\slash\\"
                               << "/opt/back\\slash\\/VLM";
    QTest::newRow("dollar") << "/opt/$HOME/${PATH}"
                            << "/opt/$HOME/${PATH}/VLM";
    QTest::newRow("backtick") << "/opt/`reboot`"
                              << "/opt/`reboot`/VLM";
    QTest::newRow("chinese") << "/home/用戶/中文 程式"
                             << "/home/用戶/中文 程式/VLM";
    QTest::newRow("percent and field code") << "/opt/100%/%f %U"
                                            << "/opt/100%/%f %U/VLM";
    QTest::newRow("shell characters") << "/opt/a'b;c&d|e(f)*?#~<>="
                                      << "/opt/a'b;c&d|e(f)*?#~<>=/VLM";
    QTest::newRow("every escape together") << "/opt/\\\"$`%\\\\"
                                           << "/opt/\\\"$`%\\\\/VLM";
    QTest::newRow("newline tab return") << "/opt/line\nbreak\ttab\rret"
                                        << "/opt/line\nbreak\ttab\rret/VLM";
    QTest::newRow("trailing slash") << "/opt/VLM/"
                                    << "/opt/VLM/VLM";
    QTest::newRow("root folder") << "/"
                                 << "/VLM";
}

void XdgAutostartTest::execSurvivesLauncher()
{
    QFETCH(QString, programDir);
    QFETCH(QString, program);

    XdgAutostart store(ConfigHome());
    QCOMPARE(store.RegisterAutostart(programDir), QString());

    const std::optional<QStringList> arguments = LauncherArguments(ExecLine(EntryPath()));
    QVERIFY2(arguments.has_value(), qPrintable(ExecLine(EntryPath())));
    QCOMPARE(*arguments, QStringList { program });

    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (!validator.isEmpty()) {
        QProcess validate;
        validate.start(validator, { EntryPath() });
        QVERIFY(validate.waitForFinished());
        QVERIFY2(validate.exitCode() == 0 && validate.readAllStandardOutput().isEmpty(),
            validate.readAllStandardOutput().constData());
    }

    // The entry just written is recognised as this program's own, however its folder is spelled.
    store.UnregisterAutostart(programDir);
    QVERIFY(!QFile::exists(EntryPath()));
}

void XdgAutostartTest::entryIsWrittenWhole()
{
    // Neither the autostart folder nor the configuration folder exists yet.
    const QString configHome = ConfigHome() + QStringLiteral("/not/yet");
    const QString folder = configHome + QStringLiteral("/autostart");
    const QString entry = folder + QStringLiteral("/VLM.desktop");
    XdgAutostart store(configHome);
    QCOMPARE(store.EntryPath(), entry);

    QCOMPARE(store.RegisterAutostart(QStringLiteral("/opt/old place")), QString());
    WriteAll(entry,
        "[Desktop Entry]\nType=Application\nName=VLM\nExec=\"/opt/old place/VLM\"\nHidden=true\n"
        "X-GNOME-Autostart-enabled=false\nComment=a long line the new entry is shorter than\n");

    QCOMPARE(store.RegisterAutostart(QStringLiteral("/opt/VLM")), QString());
    QCOMPARE(ReadAll(entry),
        QByteArray("[Desktop Entry]\n"
                   "Type=Application\n"
                   "Name=VLM\n"
                   "Exec=\"/opt/VLM/VLM\"\n"
                   "X-GNOME-Autostart-enabled=true\n"));
    QCOMPARE(FolderListing(folder), QStringList { QStringLiteral("VLM.desktop") });
}

void XdgAutostartTest::registerUnregisterRegister()
{
    const QString programDir = QStringLiteral("/home/u/中文 $dir");
    XdgAutostart store(ConfigHome());

    store.UnregisterAutostart(programDir);
    QVERIFY(!QFile::exists(EntryPath()));

    QCOMPARE(store.RegisterAutostart(programDir), QString());
    const QByteArray written = ReadAll(EntryPath());
    QVERIFY(!written.isEmpty());

    store.UnregisterAutostart(programDir);
    QVERIFY(!QFile::exists(EntryPath()));
    QVERIFY(QFileInfo(AutostartFolder()).isDir());

    QCOMPARE(store.RegisterAutostart(programDir), QString());
    QCOMPARE(ReadAll(EntryPath()), written);
}

void XdgAutostartTest::unregisterRemovesOnlyOwnEntry_data()
{
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<bool>("removed");

    const QByteArray head = "[Desktop Entry]\nType=Application\nName=VLM\n";
    QTest::newRow("ours, spaced and with CRLF")
        << QByteArray("[Desktop Entry]\r\nName=VLM\r\nExec = \"/opt/VLM/VLM\"\r\n") << true;
    QTest::newRow("another program") << head + "Exec=/usr/bin/other --flag\n" << false;
    QTest::newRow("VLM in another folder") << head + "Exec=\"/home/u/VLM/VLM\"\n" << false;
    QTest::newRow("another file in our folder") << head + "Exec=\"/opt/VLM/VLM2\"\n" << false;
    QTest::newRow("our command only in another group") << "[Desktop Action again]\nExec=\"/opt/VLM/VLM\"\n" + head
            + "Exec=/usr/bin/other\n" << false;
    QTest::newRow("no command") << head << false;
}

void XdgAutostartTest::unregisterRemovesOnlyOwnEntry()
{
    QFETCH(QByteArray, entry);
    QFETCH(bool, removed);

    QVERIFY(QDir().mkpath(AutostartFolder()));
    WriteAll(EntryPath(), entry);

    QCOMPARE(XdgAutostart(ConfigHome()).IsRegistered("/opt/VLM"), removed);
    XdgAutostart(ConfigHome()).UnregisterAutostart(QStringLiteral("/opt/VLM"));
    QCOMPARE(!QFile::exists(EntryPath()), removed);
    QVERIFY(!XdgAutostart(ConfigHome()).IsRegistered("/opt/VLM"));
    if (!removed)
        QCOMPARE(ReadAll(EntryPath()), entry);
}

void XdgAutostartTest::launcherRunsWhateverTheFolder()
{
    // A system install names its command, not the folder the package keeps the program in.
    XdgAutostart store(ConfigHome(), QStringLiteral("/usr/bin/vlm"));
    QCOMPARE(store.RegisterAutostart(QStringLiteral("/usr/lib/vlm")), QString());
    QCOMPARE(LauncherArguments(ExecLine(EntryPath())), std::optional(QStringList { QStringLiteral("/usr/bin/vlm") }));
    QVERIFY(store.IsRegistered("/usr/lib/vlm"));
    QVERIFY(!XdgAutostart(ConfigHome()).IsRegistered("/usr/lib/vlm"));

    // A portable copy's entry is not the system install's to remove, nor the other way round.
    XdgAutostart(ConfigHome()).UnregisterAutostart(QStringLiteral("/usr/lib/vlm"));
    QVERIFY(QFile::exists(EntryPath()));
    QCOMPARE(XdgAutostart(ConfigHome()).RegisterAutostart(QStringLiteral("/home/u/VLM")), QString());
    store.UnregisterAutostart(QStringLiteral("/usr/lib/vlm"));
    QVERIFY(QFile::exists(EntryPath()));

    QCOMPARE(store.RegisterAutostart(QStringLiteral("/usr/lib/vlm")), QString());
    store.UnregisterAutostart(QStringLiteral("/usr/lib/vlm"));
    QVERIFY(!QFile::exists(EntryPath()));
}

void XdgAutostartTest::failures_data()
{
    QTest::addColumn<Obstacle>("obstacle");
    QTest::addColumn<QString>("programDir");
    QTest::addColumn<QString>("message");

    // A folder that can't be created is not reported; an entry that can't be written is.
    QTest::newRow("autostart path is a file") << Obstacle::AutostartIsFile << "/opt/VLM" << QString();
    QTest::newRow("config home is a file") << Obstacle::ConfigHomeIsFile << "/opt/VLM" << QString();
    QTest::newRow("read-only folder") << Obstacle::ReadOnlyFolder << "/opt/VLM" << kFailed;
    QTest::newRow("entry path is a folder") << Obstacle::EntryIsFolder << "/opt/VLM" << kFailed;
    QTest::newRow("control character in folder") << Obstacle::None << "/opt/a\x01z" << kFailed;
    QTest::newRow("delete character in folder") << Obstacle::None << "/opt/a\x7fz" << kFailed;
}

void XdgAutostartTest::failures()
{
    QFETCH(Obstacle, obstacle);
    QFETCH(QString, programDir);
    QFETCH(QString, message);

    QVERIFY(QDir().mkpath(ConfigHome()));
    switch (obstacle) {
    case Obstacle::AutostartIsFile:
        WriteAll(AutostartFolder(), "not a folder");
        break;
    case Obstacle::ConfigHomeIsFile:
        QVERIFY(QDir(ConfigHome()).removeRecursively());
        WriteAll(ConfigHome(), "not a folder");
        break;
    case Obstacle::ReadOnlyFolder:
        QVERIFY(QDir().mkpath(AutostartFolder()));
        WriteAll(AutostartFolder() + QStringLiteral("/other.desktop"), "[Desktop Entry]\n");
        QVERIFY(QFile::setPermissions(AutostartFolder(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        break;
    case Obstacle::EntryIsFolder:
        QVERIFY(QDir().mkpath(EntryPath()));
        break;
    case Obstacle::None:
        break;
    }
    const QStringList configBefore = FolderListing(ConfigHome());
    const QStringList autostartBefore = FolderListing(AutostartFolder());
    const QByteArray autostartFileBefore = ReadAll(AutostartFolder());

    QCOMPARE(XdgAutostart(ConfigHome()).RegisterAutostart(programDir), message);
    // Whether reported or not, the entry is known not to be there.
    QVERIFY(!XdgAutostart(ConfigHome()).IsRegistered(programDir.toStdString()));

    if (obstacle != Obstacle::None) {
        QCOMPARE(FolderListing(ConfigHome()), configBefore);
        QCOMPARE(FolderListing(AutostartFolder()), autostartBefore);
        QCOMPARE(ReadAll(AutostartFolder()), autostartFileBefore);
    }
    QVERIFY(!QFileInfo(EntryPath()).isFile());
}

void XdgAutostartTest::configHomeFromEnvironment_data()
{
    QTest::addColumn<bool>("set");
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<QString>("configHome");

    const QString fallback = m_home.path() + QStringLiteral("/.config");
    QTest::newRow("unset") << false << QByteArray() << fallback;
    QTest::newRow("empty") << true << QByteArray("") << fallback;
    QTest::newRow("relative, so invalid") << true << QByteArray("relative/config") << fallback;
    QTest::newRow("absolute") << true << QByteArray("/srv/u/cfg") << QStringLiteral("/srv/u/cfg");
}

void XdgAutostartTest::configHomeFromEnvironment()
{
    QFETCH(bool, set);
    QFETCH(QByteArray, variable);
    QFETCH(QString, configHome);

    if (set)
        qputenv("XDG_CONFIG_HOME", variable);
    else
        qunsetenv("XDG_CONFIG_HOME");

    QCOMPARE(ConfigHomeFromEnvironment(), configHome);
    QCOMPARE(XdgAutostart().EntryPath(), configHome + QStringLiteral("/autostart/VLM.desktop"));
}

QTEST_GUILESS_MAIN(XdgAutostartTest)
#include "xdg_autostart_test.moc"
