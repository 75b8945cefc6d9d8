#include "shell/legacy_cleanup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace vlm;

namespace {

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Lstat-style existence: true for a dangling link too.
bool Present(const QString& path)
{
    return QFileInfo(path).exists() || QFileInfo(path).isSymbolicLink();
}

// What the program itself keeps in its folder, which may be one of the old folders.
const QStringList kOwnFiles = { QStringLiteral("vlm1.cfg"), QStringLiteral("bell1.wav"), QStringLiteral("bell3.wav"),
    QStringLiteral("Music/01.mp3") };

} // namespace

class LegacyCleanupTest : public QObject {
    Q_OBJECT

private slots:
    void init();

    void legacyFilesTable();
    void deletesLegacyFiles_data();
    void deletesLegacyFiles();
    void leavesAllButFilesAndLinks();
    void missingOrUnusableRoots();

private:
    QStringList Roots() const { return { m_tree->filePath("opt/VLM"), m_tree->filePath("usr/local/VLM") }; }

    std::unique_ptr<QTemporaryDir> m_tree;
};

void LegacyCleanupTest::init()
{
    m_tree = std::make_unique<QTemporaryDir>();
    QVERIFY(m_tree->isValid());
}

void LegacyCleanupTest::legacyFilesTable()
{
    const QStringList expected
        = { "/opt/VLM/tirvo0.wav", "/opt/VLM/tirvo1.wav", "/opt/VLM/tirvo2.wav", "/opt/VLM/tirvo3.wav",
              "/opt/VLM/sarevin.txt", "/opt/VLM/sarevinU.txt", "/opt/VLM/vlm.cfg", "/usr/local/VLM/tirvo0.wav",
              "/usr/local/VLM/tirvo1.wav", "/usr/local/VLM/tirvo2.wav", "/usr/local/VLM/tirvo3.wav",
              "/usr/local/VLM/sarevin.txt", "/usr/local/VLM/sarevinU.txt", "/usr/local/VLM/vlm.cfg" };
    QCOMPARE(LegacyFiles(), expected);
}

void LegacyCleanupTest::deletesLegacyFiles_data()
{
    QTest::addColumn<QStringList>("present");

    QStringList all;
    for (const QString& root : { QStringLiteral("opt/VLM"), QStringLiteral("usr/local/VLM") }) {
        for (const QString& name : LegacyFileNames())
            all.append(root + QLatin1Char('/') + name);
    }
    QTest::newRow("all fourteen") << all;
    QTest::newRow("some in each folder") << QStringList { "opt/VLM/tirvo0.wav", "opt/VLM/vlm.cfg",
        "usr/local/VLM/sarevinU.txt", "usr/local/VLM/tirvo3.wav" };
    QTest::newRow("only the second folder's") << all.mid(7);
    QTest::newRow("none") << QStringList();
}

void LegacyCleanupTest::deletesLegacyFiles()
{
    QFETCH(QStringList, present);

    // The program lives in both old folders: its own files sit beside the legacy ones.
    for (const QString& root : Roots()) {
        QVERIFY(QDir().mkpath(root + QStringLiteral("/Music")));
        for (const QString& own : kOwnFiles)
            WriteAll(root + QLatin1Char('/') + own, own.toUtf8());
    }
    for (const QString& path : present)
        WriteAll(m_tree->filePath(path), "old");

    DeleteLegacyFiles(Roots());

    for (const QString& path : LegacyFiles(Roots()))
        QVERIFY2(!Present(path), qPrintable(path));
    for (const QString& root : Roots()) {
        QVERIFY(QFileInfo(root).isDir());
        for (const QString& own : kOwnFiles)
            QCOMPARE(ReadAll(root + QLatin1Char('/') + own), own.toUtf8());
    }
}

void LegacyCleanupTest::leavesAllButFilesAndLinks()
{
    const QString root = Roots().at(0);
    const QString outside = m_tree->filePath("keep");
    QVERIFY(QDir().mkpath(root));
    QVERIFY(QDir().mkpath(outside + QStringLiteral("/folder")));
    WriteAll(outside + QStringLiteral("/target.wav"), "target");

    // Links go (and only the links); folders and a named pipe under legacy names stay.
    QVERIFY(QFile::link(outside + QStringLiteral("/target.wav"), root + QStringLiteral("/tirvo0.wav")));
    QVERIFY(QFile::link(outside + QStringLiteral("/folder"), root + QStringLiteral("/tirvo1.wav")));
    QVERIFY(QFile::link(outside + QStringLiteral("/gone"), root + QStringLiteral("/tirvo2.wav")));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/sarevin.txt")));
    WriteAll(root + QStringLiteral("/sarevin.txt/inside.txt"), "inside");
    QCOMPARE(::mkfifo(QFile::encodeName(root + QStringLiteral("/vlm.cfg")).constData(), 0600), 0);

    DeleteLegacyFiles(Roots());

    QVERIFY(!Present(root + QStringLiteral("/tirvo0.wav")));
    QVERIFY(!Present(root + QStringLiteral("/tirvo1.wav")));
    QVERIFY(!Present(root + QStringLiteral("/tirvo2.wav")));
    QCOMPARE(ReadAll(outside + QStringLiteral("/target.wav")), QByteArray("target"));
    QVERIFY(QFileInfo(outside + QStringLiteral("/folder")).isDir());
    QCOMPARE(ReadAll(root + QStringLiteral("/sarevin.txt/inside.txt")), QByteArray("inside"));
    QVERIFY(Present(root + QStringLiteral("/vlm.cfg")));
}

void LegacyCleanupTest::missingOrUnusableRoots()
{
    // One root is missing altogether, the other is a file: nothing to delete, nothing breaks.
    WriteAll(m_tree->filePath("a file"), "kept");
    DeleteLegacyFiles({ m_tree->filePath("missing/VLM"), m_tree->filePath("a file") });
    QCOMPARE(ReadAll(m_tree->filePath("a file")), QByteArray("kept"));
}

QTEST_GUILESS_MAIN(LegacyCleanupTest)
#include "legacy_cleanup_test.moc"
