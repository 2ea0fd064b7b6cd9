// The platform home on the system it was built for: the same tests pass on Linux and, built for
// Windows, under Wine.
#include "platform/Files.h"
#include "platform/SafeOutput.h"
#include "platform/Session.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <system_error>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

using namespace quillora::platform;

namespace {
std::string native(const QString& path)
{
    return QDir::toNativeSeparators(path).toStdString();
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// Long enough that Windows refuses it without the long-path prefix.
QString deepFolder(const QString& base)
{
    QString folder = base;
    for (int i = 0; i < 6; ++i)
        folder += "/" + QString(48, QChar('a' + i));
    return folder;
}

constexpr int missingFileCode =
#ifdef Q_OS_WIN
    ERROR_FILE_NOT_FOUND;
#else
    ENOENT;
#endif
} // namespace

class TestFiles : public QObject
{
    Q_OBJECT

private slots:
    // Names that the system spells with letters beyond ASCII, and paths longer than Windows'
    // old limit of 260 characters, reach the files intact.
    void names_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << "Videos"
                               << "clip.flv";
        QTest::newRow("accents") << "Vidéos"
                                 << "été 2009.flv";
        QTest::newRow("beyond the basic plane") << "音楽 🎬"
                                                << "クリップ.flv";
        QTest::newRow("long path") << deepFolder("long") << "clip.flv";
    }

    void names()
    {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QTemporaryDir base;
        const QString dir = base.filePath(folder);
        QVERIFY(QDir().mkpath(dir));
        const std::string target = native(dir + "/" + name);
        {
            SafeOutput output(target, 0644);
            output.writeAt(0, "abcdef", 6);
            output.writeAt(2, "CD", 2);
            output.commit();
        }
        const auto status = statusOf(target);
        QVERIFY(status);
        QVERIFY(status->regular);
        QCOMPARE(status->size, 6u);
        const InputFile in(target);
        char bytes[8] = {};
        QCOMPARE(in.readAt(0, bytes, sizeof bytes), std::size_t(6));
        QCOMPARE(QByteArray(bytes, 6), QByteArray("abCDef"));
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{name});
    }

    void status()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("a"), "12345"));
        QVERIFY(!statusOf(native(dir.filePath("missing"))));
        const auto folder = statusOf(native(dir.path()));
        QVERIFY(folder && folder->directory && !folder->regular);
        const auto file = statusOf(native(dir.filePath("a")));
        QVERIFY(file && file->regular && !file->directory);
        QCOMPARE(file->size, 5u);
    }

    void sameFile_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("same");
        QTest::newRow("one name") << "a"
                                  << "a" << true;
        QTest::newRow("a hard link") << "a"
                                     << "link" << true;
        QTest::newRow("through a folder and back") << "a"
                                                   << "sub/../a" << true;
        QTest::newRow("two files") << "a"
                                   << "b" << false;
        QTest::newRow("one missing") << "a"
                                     << "missing" << false;
        QTest::newRow("both missing") << "missing"
                                      << "missing" << false;
    }

    void sameFile()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, same);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("a"), "1"));
        QVERIFY(writeFile(dir.filePath("b"), "1"));
        QVERIFY(QDir(dir.path()).mkdir("sub"));
#ifdef Q_OS_WIN
        QVERIFY(::CreateHardLinkW(
            reinterpret_cast<const wchar_t*>(
                QDir::toNativeSeparators(dir.filePath("link")).utf16()),
            reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(dir.filePath("a")).utf16()),
            nullptr));
#else
        QVERIFY(QProcess::execute("ln", {dir.filePath("a"), dir.filePath("link")}) == 0);
#endif
        QCOMPARE(quillora::platform::sameFile(native(dir.filePath(a)), native(dir.filePath(b))),
                 same);
    }

    void parentFolder_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::newRow("bare name") << "clip.flv"
                                   << ".";
        QTest::newRow("relative") << "out/clip.flv"
                                  << "out";
#ifdef Q_OS_WIN
        QTest::newRow("drive root") << "C:\\clip.flv"
                                    << "C:\\";
        QTest::newRow("folder") << "C:\\Program Files\\Quillora\\x.flv"
                                << "C:\\Program Files\\Quillora";
        QTest::newRow("forward slashes") << "C:/Videos/x.flv"
                                         << "C:/Videos";
        QTest::newRow("network share") << "\\\\server\\share\\x.flv"
                                       << "\\\\server\\share";
#else
        QTest::newRow("root") << "/clip.flv"
                              << "/";
        QTest::newRow("folder") << "/home/me/Videos/x.flv"
                                << "/home/me/Videos";
#endif
    }

    void parentFolder()
    {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QCOMPARE(QString::fromStdString(quillora::platform::parentFolder(path.toStdString())),
                 folder);
    }

    // The system's own text, as the desktop program shows it in upper case: no line end.
    void systemErrorTexts()
    {
        const std::string text = systemErrorText(missingFileCode);
        QVERIFY(!text.empty());
        QVERIFY(text.back() != '\n' && text.back() != '\r');
        QCOMPARE(systemErrorText(0x7654321), std::string());
    }

    void inputFile()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("a"), "0123456789"));
        const InputFile in(native(dir.filePath("a")));
        QCOMPARE(in.size(), 10u);
        char bytes[16] = {};
        QCOMPARE(in.readAt(4, bytes, 3), std::size_t(3));
        QCOMPARE(QByteArray(bytes, 3), QByteArray("456"));
        QCOMPARE(in.readAt(8, bytes, 16), std::size_t(2));
        QCOMPARE(in.readAt(20, bytes, 16), std::size_t(0));
        in.checkUnchanged();
        const FileMapping mapping(in);
        if (mapping.data())
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(mapping.data()), 10),
                     QByteArray("0123456789"));
        QVERIFY(writeFile(dir.filePath("a"), "01234567890123"));
        QVERIFY_THROWS_EXCEPTION(std::system_error, in.checkUnchanged());
    }

    void inputFileRefusals_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("a folder") << "";
        QTest::newRow("no such file") << "missing";
    }

    void inputFileRefusals()
    {
        QFETCH(QString, name);
        QTemporaryDir dir;
        QVERIFY_THROWS_EXCEPTION(
            std::system_error, InputFile(native(dir.path() + (name.isEmpty() ? "" : "/" + name))));
    }

    // Until commit() the target is what it was, and nothing else is in its folder; a copy from
    // another file lands where it is told.
    void safeOutput_data()
    {
        QTest::addColumn<bool>("existing");
        QTest::addColumn<bool>("committed");
        QTest::newRow("new, committed") << false << true;
        QTest::newRow("new, given up") << false << false;
        QTest::newRow("replacing, committed") << true << true;
        QTest::newRow("replacing, given up") << true << false;
    }

    void safeOutput()
    {
        QFETCH(bool, existing);
        QFETCH(bool, committed);
        QTemporaryDir dir;
        const QString target = dir.filePath("out.flv");
        QVERIFY(writeFile(dir.filePath("source"), "0123456789"));
        if (existing)
            QVERIFY(writeFile(target, "old"));
        {
            const InputFile in(native(dir.filePath("source")));
            SafeOutput output(native(target), 0644);
            output.writeAt(0, "xx", 2);
            output.discard();
            output.writeAt(0, "ab", 2);
            output.copyFrom(in, 3, 4, 2);
            QCOMPARE(readFile(target), existing ? QByteArray("old") : QByteArray("(unreadable)"));
            if (committed)
                output.commit();
        }
        QStringList expected{"source"};
        if (existing || committed)
            expected << "out.flv";
        expected.sort();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
        if (committed)
            QCOMPARE(readFile(target), QByteArray("ab3456"));
        else if (existing)
            QCOMPARE(readFile(target), QByteArray("old"));
    }

    // Killed in the middle of a write, a program leaves no partial file, nor any temporary one.
    void killedWriterLeavesNothing()
    {
        QTemporaryDir dir;
        QProcess holder;
        holder.start(qEnvironmentVariable("QUILLORA_TEST_BIN_DIR") + "/output_holder",
                     {QDir::toNativeSeparators(dir.filePath("out.flv"))});
        QVERIFY(holder.waitForReadyRead(30000));
        QCOMPARE(holder.readAll().trimmed(), QByteArray("writing"));
        holder.kill();
        QVERIFY(holder.waitForFinished(30000));
        QTRY_COMPARE_WITH_TIMEOUT(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                                  QStringList(), 10000);
    }

    // A link stays a link: the write goes to the file at its end. A path that names nothing
    // yet is its own target.
    void targets()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("a"), "12345"));
        const std::string missing = native(dir.filePath("new.flv"));
        QCOMPARE(resolveTarget(missing), missing);
        QVERIFY(quillora::platform::sameFile(resolveTarget(native(dir.filePath("a"))),
                                             native(dir.filePath("a"))));
#ifndef Q_OS_WIN
        QVERIFY(QFile::link(dir.filePath("a"), dir.filePath("link")));
        QCOMPARE(QString::fromStdString(resolveTarget(native(dir.filePath("link")))),
                 QFileInfo(dir.filePath("a")).canonicalFilePath());
#endif
        const InputFile in(native(dir.filePath("a")));
        QCOMPARE(sizeOf(in.handle(), "a"), 5u);
    }

    // Read and write for the user at least, and never execute, whatever the user's mask.
    void newFiles()
    {
        const std::uint32_t permissions = newFilePermissions();
        QVERIFY((permissions & 0600) == 0600);
        QCOMPARE(permissions & 0111, 0u);
        QCOMPARE(newFilePermissions(), permissions);
    }

    void session()
    {
        QVERIFY(!userTag().empty());
        QTemporaryDir dir;
        QCOMPARE(startFailureCode(native(dir.filePath("missing"))), missingFileCode);
        QVERIFY(startFailureCode(native(dir.path())) != 0);
    }
};

QTEST_GUILESS_MAIN(TestFiles)
#include "tst_Files.moc"
