// A whole conversion through the main window with the real encoder and metadata tool, from an
// application folder and with file names as users have them.
#include "ui/MainWindow.h"

#include "../fakes/EventLoops.h"
#include "../fakes/FakeNotifier.h"
#include "../fakes/RunProgram.h"
#include "../fakes/ScriptedChoosers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <memory>

using namespace quillora;

class TestConversion : public QObject
{
    Q_OBJECT

    QTemporaryDir root;
    QString appDir, sourceDir, outputDir;

    static QJsonObject stream(const QString& file, const QString& type)
    {
        return probedStream(probeMedia(file), type);
    }

    // An MPEG-4 video with PCM sound, made by Debian's ffmpeg; true when it was made.
    static bool makeVideo(const QString& path, const QString& size, const QString& sampleRate,
                          const QString& seconds)
    {
        return runProgram("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                     "testsrc=size=" + size + ":rate=25", "-f", "lavfi", "-i",
                                     "sine=sample_rate=" + sampleRate, "-t", seconds, "-c:v",
                                     "mpeg4", "-c:a", "pcm_s16le", path})
                   .exitCode == 0;
    }

    // The main window as start-up leaves it, with a source and an output folder picked through
    // its buttons as a user picks them.
    struct Session
    {
        FakeNotifier notifier;
        ScriptedChoosers choosers;
        std::unique_ptr<ui::MainWindow> window;

        bool open(const QString& appDir, const QString& source, const QString& folder)
        {
            choosers.files = {source};
            choosers.folders = {folder};
            window = std::make_unique<ui::MainWindow>(notifier, choosers, appDir);
            window->fillSettingLists();
            window->BuildEncodeOptions();
            window->show();
            if (!QTest::qWaitForWindowExposed(window.get()))
                return false;
            QTest::mouseClick(window->findChild<QPushButton*>("cmdInput"), Qt::LeftButton);
            QTest::mouseClick(window->findChild<QPushButton*>("cmdOutput"), Qt::LeftButton);
            return true;
        }
    };

private slots:
    void initTestCase()
    {
        // The application folder itself has a space in its path.
        appDir = root.path() + "/Quillora app";
        sourceDir = root.path() + "/My \"Videos\" $HOME `x` Zürich";
        outputDir = root.path() + "/Out 'put' $dir ø";
        for (const QString& d : {appDir, sourceDir, outputDir})
            QVERIFY(QDir().mkpath(d));
        const QString bin = qEnvironmentVariable("QUILLORA_BIN_DIR");
        for (const char* tool : {"ffmpeg", "flvtool2"})
            QVERIFY(QFile::copy(bin + "/" + tool, appDir + "/" + tool));
    }

    void conversion_data()
    {
        QTest::addColumn<QString>("sourceName");
        QTest::addColumn<bool>("isVideo");
        QTest::newRow("video") << "Fête d'été $1 (clip).avi" << true;
        QTest::newRow("not a video") << "notes about \"it\".avi" << false;
    }

    void conversion()
    {
        QFETCH(QString, sourceName);
        QFETCH(bool, isVideo);
        const QString source = sourceDir + "/" + sourceName;
        if (isVideo) {
            QVERIFY(makeVideo(source, "352x288", "44100", "3"));
        } else {
            QFile text(source);
            QVERIFY(text.open(QIODevice::WriteOnly));
            text.write("This is a shopping list, not a video.\n");
        }

        const QStringList before = QDir(outputDir).entryList(QDir::Files | QDir::Hidden);
        Session session;
        QVERIFY(session.open(appDir, source, outputDir));
        const FakeNotifier& notifier = session.notifier;
        ui::MainWindow& window = *session.window;
        window.findChild<QComboBox*>("cmbVideoWindow")->setCurrentText("320x240");
        window.findChild<QComboBox*>("cmbAudioChannels")->setCurrentText("Stereo");
        auto* encode = window.findChild<QPushButton*>("cmdEncode");
        QTest::mouseClick(encode, Qt::LeftButton);

        const QString proposed = window.findChild<QLineEdit*>("txtFileTitle")->text();
        const QString output = outputDir + "/" + proposed;
        QVERIFY(encode->isEnabled());
        if (!isVideo) {
            QCOMPARE(notifier.texts(),
                     QStringList{"THE ENCODING FAILED DUE TO A DAMAGED VIDEO FILE!"});
            QVERIFY(!QFile::exists(output));
            QCOMPARE(QDir(outputDir).entryList(QDir::Files | QDir::Hidden), before);
            return;
        }
        QCOMPARE(proposed, "Fête d'été $1 (clip).flv");
        QCOMPARE(notifier.texts(), QStringList({"FLV ENCODED!", "METADATA INJECTED!"}));
        const QJsonObject video = stream(output, "video");
        const QJsonObject audio = stream(output, "audio");
        QCOMPARE(video["codec_name"].toString(), "flv1");
        QCOMPARE(video["width"].toInt(), 320);
        QCOMPARE(video["height"].toInt(), 240);
        QCOMPARE(video["r_frame_rate"].toString(), "25/1");
        QCOMPARE(audio["codec_name"].toString(), "mp3");
        QCOMPARE(audio["sample_rate"].toString(), "22050");
        QCOMPARE(audio["channels"].toInt(), 2);
        const ProgramRun check = runProgram("flvmeta", {"--check", output});
        QVERIFY2(check.out.contains("0 error(s), 0 warning(s)"), qPrintable(check.out));
    }

    // The application quitting under an encode: the encoder is stopped, not abandoned, it
    // leaves nothing in the output folder, and nothing claims the file was encoded.
    void interruptedConversionLeavesNothing()
    {
        // Long enough that the encode is still running when the application quits.
        const QString source = sourceDir + "/long clip.avi";
        QVERIFY(makeVideo(source, "160x120", "22050", "120"));
        const QString folder = outputDir + "/interrupted";
        QVERIFY(QDir().mkpath(folder));
        Session session;
        QVERIFY(session.open(appDir, source, folder));
        const FakeNotifier& notifier = session.notifier;
        ui::MainWindow& window = *session.window;

        QTimer::singleShot(500, [] { QCoreApplication::exit(0); });
        QTest::mouseClick(window.findChild<QPushButton*>("cmdEncode"), Qt::LeftButton);
        clearExitRequest();

        QCOMPARE(notifier.texts(), QStringList());
        QVERIFY(!window.runner().EncodeSucceeded);
        QCOMPARE(::kill(pid_t(window.runner().ProcessId), 0), -1);
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
        QVERIFY(window.findChild<QPushButton*>("cmdEncode")->isEnabled());
    }
};

QTEST_MAIN(TestConversion)
#include "tst_Conversion.moc"
