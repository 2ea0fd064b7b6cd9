// The two command lines as the window composes them on this system, started for real: every
// path reaches the tool as the very argument composed, whatever letters and separators it holds
// and however the system passes arguments on (Windows joins them into one command line that
// the tool splits again, with its own rules for quotes and backslashes).
#include "encoding/EncodeRequest.h"
#include "process/ToolRunner.h"

#include "../fakes/FakeNotifier.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace quillora;

namespace {
const QString executableSuffix =
#ifdef Q_OS_WIN
    ".exe";
#else
    "";
#endif

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}
} // namespace

class TestCommandRuns : public QObject
{
    Q_OBJECT

private slots:
    void argumentsArriveIntact_data()
    {
        QTest::addColumn<QString>("appFolder");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("outputFolder");
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << "app"
                               << "clip.avi"
                               << "out"
                               << "clip.flv";
        QTest::newRow("spaces") << "Program Files/Quillora"
                                << "holiday clip.avi"
                                << "My Flash"
                                << "holiday clip.flv";
        QTest::newRow("accents") << "Quillora"
                                 << "Vidéos/été 2009.avi"
                                 << "Sortie été"
                                 << "été 2009.flv";
        QTest::newRow("beyond the basic plane") << "app 音楽"
                                                << "クリップ 🎬.avi"
                                                << "出力"
                                                << "クリップ.flv";
        QTest::newRow("characters a shell would read") << "app"
                                                       << "a $HOME & b;c%PATH%^.avi"
                                                       << "o (1)"
                                                       << "a'b`c.flv";
    }

    void argumentsArriveIntact()
    {
        QFETCH(QString, appFolder);
        QFETCH(QString, source);
        QFETCH(QString, outputFolder);
        QFETCH(QString, name);
        QTemporaryDir base;
        const QString app = base.filePath(appFolder);
        QVERIFY(QDir().mkpath(app));
        const QString recorder =
            qEnvironmentVariable("QUILLORA_TEST_BIN_DIR") + "/argument_recorder" + executableSuffix;
        for (const char* tool : {"ffmpeg", "flvtool2"})
            QVERIFY(QFile::copy(recorder, app + "/" + tool + executableSuffix));
        const QString record = base.filePath("arguments.txt");
        qputenv("QUILLORA_RECORD", QFile::encodeName(native(record)));

        // The output folder as the folder chooser gives it: with its separator at the end.
        const QString folder = native(base.filePath(outputFolder)) + QDir::separator();
        const QString sourcePath = native(base.filePath(source));
        const encoding::CommandLine commands[] = {
            encoding::encoderCommandLine(native(app), sourcePath, " -b 468kb/s -r 25 -an ", folder,
                                         name, QDir::separator()),
            encoding::metadataCommandLine(native(app), folder, name, QDir::separator())};
        FakeNotifier notifier;
        process::ToolRunner runner(notifier);
        for (const encoding::CommandLine& command : commands) {
            QFile::remove(record);
            const process::ToolResult result = command.arguments.first() == "-U"
                                                   ? runner.RunMetadataTool(command)
                                                   : runner.RunEncoder(command);
            QCOMPARE(result.end, process::ToolEnd::Exited);
            QCOMPARE(result.exitCode, 0);
            QFile file(record);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QStringList received = QString::fromUtf8(file.readAll()).split('\n');
            QCOMPARE(received.takeLast(), QString());
            QCOMPARE(received, command.arguments);
        }
        // The text shown names the program as the system finds it: the folder with this
        // system's separators, no trailing one, and the tool's name without an extension.
        QVERIFY(commands[0].text.startsWith(native(app) + QDir::separator() + "ffmpeg -i \"" +
                                            sourcePath + "\""));
    }

    // Arguments that Windows' quoting rules treat apart: a backslash before a quote or at the
    // end, quotes inside, an empty one.
    void awkwardArguments()
    {
        QTemporaryDir base;
        const QString recorder =
            qEnvironmentVariable("QUILLORA_TEST_BIN_DIR") + "/argument_recorder" + executableSuffix;
        const QString record = base.filePath("arguments.txt");
        qputenv("QUILLORA_RECORD", QFile::encodeName(native(record)));
        const QStringList arguments{"C:\\folder with space\\", "say \"hi\"", "a\\\\\"b",
                                    "\\\\server\\share\\", "", "two  spaces", "ends in \\\\"};
        FakeNotifier notifier;
        process::ToolRunner runner(notifier);
        const process::ToolResult result =
            runner.RunMetadataTool({"(shown text)", recorder, arguments});
        QCOMPARE(result.exitCode, 0);
        QFile file(record);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QStringList received = QString::fromUtf8(file.readAll()).split('\n');
        received.removeLast();
        QCOMPARE(received, arguments);
    }

    // A helper missing from the folder is named in the message, with the system's reason.
    void missingHelper()
    {
        QTemporaryDir base;
        const QString app = native(base.filePath("empty"));
        QVERIFY(QDir().mkpath(app));
        FakeNotifier notifier;
        process::ToolRunner runner(notifier);
        const encoding::CommandLine command = encoding::metadataCommandLine(
            app, native(base.path()) + QDir::separator(), "x.flv", QDir::separator());
        const process::ToolResult result = runner.RunMetadataTool(command);
        QCOMPARE(result.end, process::ToolEnd::NotStarted);
        QCOMPARE(notifier.texts().size(), 1);
        const QString text = notifier.texts().first();
        QVERIFY2(
            text.startsWith(("CANNOT START " + app + QDir::separator() + "flvtool2: ").toUpper()),
            qPrintable(text));
        QVERIFY2(text.size() > ("CANNOT START " + app + "/flvtool2: ").size(), qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(TestCommandRuns)
#include "tst_CommandRuns.moc"
