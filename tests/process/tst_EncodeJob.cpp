#include "process/EncodeJob.h"

#include "encoding/EncodeOptions.h"

#include "../fakes/EventLoops.h"
#include "../fakes/FakeNotifier.h"
#include "../fakes/FakeTools.h"

#include <QTest>
#include <QTimer>

using namespace quillora;
using namespace quillora::process;

namespace {
// The window's side of the request, held in plain fields.
struct RecordingView : EncodeView
{
    QString source, folder, title;
    QString options = encoding::BuildEncodeOptions(encoding::defaultSettings());
    encoding::CommandLine field;
    bool enabled = true;
    QList<bool> enabledHistory;
    QList<encoding::FocusTarget> focused;

    QString sourcePath() const override { return source; }
    QString outputFolder() const override { return folder; }
    QString fileTitle() const override { return title; }
    QString encodeOptions() const override { return options; }
    void focusControl(encoding::FocusTarget t) override { focused << t; }
    void setCommand(const encoding::CommandLine& c) override { field = c; }
    encoding::CommandLine command() const override { return field; }
    void setEncodeEnabled(bool e) override
    {
        enabled = e;
        enabledHistory << e;
    }

    // A source, a folder and a name that pass every check.
    void chooseValid()
    {
        source = "/v/a.avi";
        folder = "/o/";
        title = "a.flv";
    }
};
} // namespace

class TestEncodeJob : public QObject
{
    Q_OBJECT

private slots:
    void wholeRequest_data()
    {
        QTest::addColumn<QByteArray>("encoderExit");
        QTest::addColumn<QByteArray>("metadataExit");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<int>("runs");
        QTest::newRow("both succeed") << QByteArray("0") << QByteArray("0")
                                      << QStringList{"FLV ENCODED!", "METADATA INJECTED!"} << 2;
        QTest::newRow("metadata fails") << QByteArray("0") << QByteArray("1")
                                        << QStringList{"FLV ENCODED!", "METADATA ERROR!"} << 2;
        QTest::newRow("encoder fails")
            << QByteArray("1") << QByteArray("0")
            << QStringList{"THE ENCODING FAILED DUE TO A DAMAGED VIDEO FILE!"} << 1;
        QTest::newRow("encoder killed")
            << QByteArray("kill") << QByteArray("0")
            << QStringList{"THE ENCODING FAILED DUE TO A DAMAGED VIDEO FILE!"} << 1;
    }

    void wholeRequest()
    {
        QFETCH(QByteArray, encoderExit);
        QFETCH(QByteArray, metadataExit);
        QFETCH(QStringList, messages);
        QFETCH(int, runs);
        FakeAppDir app;
        qputenv("FAKE_FFMPEG_EXIT", encoderExit);
        qputenv("FAKE_FLVTOOL2_EXIT", metadataExit);
        FakeNotifier notifier;
        ToolRunner runner(notifier);
        RecordingView view;
        view.source = "/videos/holiday \"clip\".avi";
        view.folder = "/out $x/";
        view.title = "holiday clip.FLV";
        EncodeJob job(view, runner, notifier, app.path(), u'/');

        job.run();

        QCOMPARE(notifier.texts(), messages);
        const QString out = "/out $x/holiday clip.FLV";
        QList<QStringList> expected{{"ffmpeg", "-i", view.source, "-b", "468kb/s", "-r", "25", "-s",
                                     "240x180", "-ar", "22050Hz", "-ab", "48", "-ac", "1", out}};
        if (runs == 2)
            expected << QStringList{"flvtool2", "-U", out, out};
        QCOMPARE(app.runs(), expected);
        QCOMPARE(runner.EncodeSucceeded, encoderExit == "0");
        QCOMPARE(view.enabledHistory, QList<bool>({false, true}));
        QCOMPARE(view.field.program, app.path() + (runs == 2 ? "/flvtool2" : "/ffmpeg"));
    }

    void failedCheckChangesNothing()
    {
        FakeAppDir app;
        FakeNotifier notifier;
        ToolRunner runner(notifier);
        RecordingView view;
        view.source = "/v/a.avi";
        view.folder = "/o/";
        view.title = "a.mp4";
        view.field = {"previous", "p", {}};
        EncodeJob job(view, runner, notifier, app.path(), u'/');

        job.run();

        QCOMPARE(notifier.texts(), QStringList{"INVALID OUTPUT FILE NAME! MUST BE A .FLV FILE."});
        QCOMPARE(view.focused, QList<encoding::FocusTarget>{encoding::FocusTarget::FileTitle});
        QCOMPARE(view.field.text, "previous");
        QVERIFY(view.enabledHistory.isEmpty());
        QVERIFY(app.runs().isEmpty());
    }

    void missingEncoderSkipsMetadata()
    {
        FakeAppDir app;
        QFile::remove(app.path() + "/ffmpeg");
        FakeNotifier notifier;
        ToolRunner runner(notifier);
        RecordingView view;
        view.chooseValid();
        EncodeJob job(view, runner, notifier, app.path(), u'/');

        job.run();

        QCOMPARE(notifier.texts(),
                 QStringList{"CANNOT START " + (app.path() + "/FFMPEG").toUpper() +
                             ": NO SUCH FILE OR DIRECTORY"});
        QVERIFY(app.runs().isEmpty());
        QVERIFY(view.enabled);
        QVERIFY(view.field.text.contains("/ffmpeg -i "));
    }

    // An encode whose wait was left early (the application quitting under it) is no
    // success: the metadata step does not run on a file that was never finished.
    void interruptedEncodeSkipsMetadata()
    {
        FakeAppDir app;
        qputenv("FAKE_TOOL_SLEEP_MS", "30000");
        FakeNotifier notifier;
        ToolRunner runner(notifier);
        RecordingView view;
        view.chooseValid();
        EncodeJob job(view, runner, notifier, app.path(), u'/');
        // Once the tool has started and can be asked to stop.
        const auto quit = exitWhen([&] { return !app.runs().isEmpty(); });

        job.run();
        clearExitRequest();

        const auto runs = app.runs();
        QCOMPARE(runs.size(), 2);
        QCOMPARE(runs[0][0], "ffmpeg");
        QCOMPARE(runs[1], QStringList({"ffmpeg", "terminated"}));
        QVERIFY(!notifier.texts().contains("FLV ENCODED!"));
        QVERIFY(!runner.EncodeSucceeded);
        QVERIFY(view.enabled);
        QCOMPARE(view.field.program, app.path() + "/ffmpeg");
    }

    void sameCommandTwice()
    {
        FakeAppDir app;
        FakeNotifier notifier;
        ToolRunner runner(notifier);
        RecordingView view;
        view.chooseValid();
        EncodeJob job(view, runner, notifier, app.path(), u'/');
        job.run();
        job.run();
        const auto runs = app.runs();
        QCOMPARE(runs.size(), 4);
        QCOMPARE(runs[0], runs[2]);
        QCOMPARE(runs[1], runs[3]);
    }
};

QTEST_GUILESS_MAIN(TestEncodeJob)
#include "tst_EncodeJob.moc"
