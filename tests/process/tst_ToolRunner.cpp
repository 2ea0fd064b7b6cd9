#include "process/SystemError.h"
#include "process/ToolRunner.h"

#include "../fakes/EventLoops.h"
#include "../fakes/FakeNotifier.h"
#include "../fakes/FakeTools.h"

#include <QApplication>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <memory>
#include <vector>

using namespace quillora;
using namespace quillora::process;

namespace {
encoding::CommandLine encoderCommand(const FakeAppDir& app, const QStringList& arguments)
{
    return {"(shown text)", app.path() + "/ffmpeg", arguments};
}

// A widget that notes the kind of every event it is given, and takes every drag.
struct RecordingWidget : QWidget
{
    QList<QEvent::Type> seen;
    bool event(QEvent* event) override
    {
        seen << event->type();
        return QWidget::event(event);
    }
    void dragEnterEvent(QDragEnterEvent* event) override { event->acceptProposedAction(); }
};

using Events = std::vector<std::unique_ptr<QEvent>>;

// What the window system delivers for each kind of thing a user can do; a drag comes in
// through its entry.
Events userEvents(const QString& kind, QMimeData* text)
{
    const QPointF at(5, 5);
    Events events;
    if (kind.startsWith("drag") || kind == "drop")
        events.push_back(std::make_unique<QDragEnterEvent>(at.toPoint(), Qt::CopyAction, text,
                                                           Qt::LeftButton, Qt::NoModifier));
    if (kind == "drag move" || kind == "drop")
        events.push_back(std::make_unique<QDragMoveEvent>(at.toPoint(), Qt::CopyAction, text,
                                                          Qt::LeftButton, Qt::NoModifier));
    if (kind == "drag leave")
        events.push_back(std::make_unique<QDragLeaveEvent>());
    if (kind == "drop")
        events.push_back(
            std::make_unique<QDropEvent>(at, Qt::CopyAction, text, Qt::LeftButton, Qt::NoModifier));
    if (kind == "key")
        events.push_back(
            std::make_unique<QKeyEvent>(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a"));
    if (kind == "mouse")
        events.push_back(std::make_unique<QMouseEvent>(
            QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    if (kind == "wheel")
        events.push_back(std::make_unique<QWheelEvent>(at, at, QPoint(), QPoint(0, 120),
                                                       Qt::NoButton, Qt::NoModifier,
                                                       Qt::NoScrollPhase, false));
    if (kind == "context menu")
        events.push_back(
            std::make_unique<QContextMenuEvent>(QContextMenuEvent::Mouse, at.toPoint()));
    if (kind == "input method") {
        auto typed = std::make_unique<QInputMethodEvent>();
        typed->setCommitString("x");
        events.push_back(std::move(typed));
    }
    if (kind == "shortcut")
        events.push_back(std::make_unique<QShortcutEvent>(QKeySequence("Alt+O"), 1));
    if (kind == "close")
        events.push_back(std::make_unique<QCloseEvent>());
    if (events.empty()) {
        // A kind nobody has named yet.
        static const auto unknown = QEvent::Type(QEvent::registerEventType());
        events.push_back(std::make_unique<QEvent>(unknown));
    }
    return events;
}

void send(QWidget& widget, const Events& events)
{
    for (const auto& event : events)
        QApplication::sendEvent(&widget, event.get());
}

QList<QEvent::Type> types(const Events& events)
{
    QList<QEvent::Type> result;
    for (const auto& event : events)
        result << event->type();
    return result;
}
} // namespace

class TestToolRunner : public QObject
{
    Q_OBJECT

private slots:
    void encoderOutcomes_data()
    {
        QTest::addColumn<QByteArray>("exit");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("succeeded");
        QTest::newRow("exit 0") << QByteArray("0") << "FLV ENCODED!" << true;
        QTest::newRow("exit 1") << QByteArray("1")
                                << "THE ENCODING FAILED DUE TO A DAMAGED VIDEO FILE!" << false;
        QTest::newRow("exit 255") << QByteArray("255")
                                  << "THE ENCODING FAILED DUE TO A DAMAGED VIDEO FILE!" << false;
        QTest::newRow("killed") << QByteArray("kill")
                                << "THE ENCODING FAILED DUE TO A DAMAGED VIDEO FILE!" << false;
    }

    void encoderOutcomes()
    {
        QFETCH(QByteArray, exit);
        QFETCH(QString, text);
        QFETCH(bool, succeeded);
        FakeAppDir app;
        qputenv("FAKE_FFMPEG_EXIT", exit);
        FakeNotifier notifier;
        ToolRunner runner(notifier);
        runner.EncodeSucceeded = !succeeded;

        const ToolResult result =
            runner.RunEncoder(encoderCommand(app, {"-i", "in.avi", "out.flv"}));
        QCOMPARE(result.end, exit == "kill" ? ToolEnd::Killed : ToolEnd::Exited);
        QCOMPARE(result.exitCode, exit == "kill" ? -1 : exit.toInt());
        QCOMPARE(result.succeeded(), succeeded);
        QCOMPARE(result.message, text);
        QCOMPARE(runner.ExitCode, result.exitCode);

        QCOMPARE(notifier.texts(), QStringList{text});
        QCOMPARE(notifier.shown[0].title, succeeded ? "Message" : "Error");
        QCOMPARE(notifier.shown[0].icon, succeeded ? Icon::Information : Icon::Critical);
        QCOMPARE(runner.EncodeSucceeded, succeeded);
        QCOMPARE(MsgAnswer, "1");
        QVERIFY(runner.ProcessId > 0);
        QCOMPARE(runner.ExitCode == 0, succeeded);
    }

    void metadataOutcomesLeaveEncodeSucceeded_data()
    {
        QTest::addColumn<QByteArray>("exit");
        QTest::addColumn<QString>("text");
        QTest::newRow("exit 0") << QByteArray("0") << "METADATA INJECTED!";
        QTest::newRow("exit 3") << QByteArray("3") << "METADATA ERROR!";
    }

    void metadataOutcomesLeaveEncodeSucceeded()
    {
        QFETCH(QByteArray, exit);
        QFETCH(QString, text);
        FakeAppDir app;
        qputenv("FAKE_FLVTOOL2_EXIT", exit);
        FakeNotifier notifier;
        ToolRunner runner(notifier);
        for (bool before : {true, false}) {
            runner.EncodeSucceeded = before;
            QCOMPARE(
                runner.RunMetadataTool({"t", app.path() + "/flvtool2", {"-U", "a.flv", "a.flv"}})
                    .message,
                text);
            QCOMPARE(runner.EncodeSucceeded, before);
        }
        QCOMPARE(notifier.texts(), QStringList({text, text}));
    }

    void argumentsArriveUnchanged()
    {
        FakeAppDir app("folder with spaces ünï");
        FakeNotifier notifier;
        ToolRunner runner(notifier);
        const QStringList arguments{
            "-i",       R"(/v/say "hi" $HOME `id` 'x'.avi)", "-b", "468kb/s", "", "/out/ø ß/.flv",
            "a;b|c&d>e"};
        QVERIFY(runner.RunEncoder(encoderCommand(app, arguments)).succeeded());
        QCOMPARE(app.runs(), QList<QStringList>{QStringList{"ffmpeg"} + arguments});
    }

    void blankCommandStartsNothing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("spaces") << "    ";
    }

    void blankCommandStartsNothing()
    {
        QFETCH(QString, text);
        FakeAppDir app;
        FakeNotifier notifier;
        ToolRunner runner(notifier);
        runner.EncodeSucceeded = true;
        QCOMPARE(runner.RunEncoder({text, app.path() + "/ffmpeg", {}}).end, ToolEnd::NotRun);
        QCOMPARE(runner.RunMetadataTool({text, app.path() + "/flvtool2", {}}).end, ToolEnd::NotRun);
        QVERIFY(notifier.shown.isEmpty());
        QVERIFY(app.runs().isEmpty());
        QCOMPARE(runner.EncodeSucceeded, true);
    }

    // The message names the program, so that a user who has just picked a good video does
    // not blame it; like every message it is in upper case, the system's words inside it.
    void unstartableProgram_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "absent"
                                 << "NO SUCH FILE OR DIRECTORY";
        QTest::newRow("not executable") << "plain.txt"
                                        << "PERMISSION DENIED";
        QTest::newRow("a folder") << "folder"
                                  << "PERMISSION DENIED";
    }

    void unstartableProgram()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        FakeAppDir app;
        const QString program = app.path() + "/" + name;
        QFile plain(app.path() + "/plain.txt");
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        QDir(app.path()).mkdir("folder");
        FakeNotifier notifier;
        ToolRunner runner(notifier);
        // A successful run first: the failed start must clear it.
        QVERIFY(runner.RunEncoder(encoderCommand(app, {})).succeeded());
        QVERIFY(runner.EncodeSucceeded);

        const ToolResult result = runner.RunEncoder({"x", program, {}});
        QCOMPARE(result.end, ToolEnd::NotStarted);
        QCOMPARE(result.message, notifier.shown.last().text);
        QCOMPARE(notifier.shown.size(), 2);
        QCOMPARE(notifier.shown[1].text, "CANNOT START " + program.toUpper() + ": " + reason);
        QCOMPARE(notifier.shown[1].title, "Error");
        QCOMPARE(notifier.shown[1].icon, Icon::Critical);
        QVERIFY(!runner.EncodeSucceeded);
    }

    void eventLoopRunsWhileToolRuns()
    {
        FakeAppDir app;
        qputenv("FAKE_TOOL_SLEEP_MS", "400");
        FakeNotifier notifier;
        ToolRunner runner(notifier);
        int ticks = 0;
        QTimer timer;
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start();
        QVERIFY(runner.RunEncoder(encoderCommand(app, {})).succeeded());
        QVERIFY2(ticks >= 3, qPrintable(QString::number(ticks)));
        QCOMPARE(notifier.texts(), QStringList{"FLV ENCODED!"});
    }

    // Input is held back only while the tool runs: the message box that reports how it ended
    // must be answerable.
    void messageBoxesTakeInput()
    {
        struct ClickingNotifier : Notifier
        {
            bool clickArrived = false;
            int show(const QString&, Icon, Buttons, const QString&) override
            {
                QPushButton button("OK");
                button.show();
                QObject::connect(&button, &QPushButton::clicked, [this] { clickArrived = true; });
                QTest::mouseClick(&button, Qt::LeftButton);
                return AnswerOk;
            }
        } notifier;
        FakeAppDir app;
        ToolRunner runner(notifier);
        QVERIFY(runner.RunEncoder(encoderCommand(app, {})).succeeded());
        QVERIFY(notifier.clickArrived);
        notifier.clickArrived = false;
        QCOMPARE(runner.RunEncoder({"x", app.path() + "/absent", {}}).end, ToolEnd::NotStarted);
        QVERIFY(notifier.clickArrived);
    }

    // While a tool runs, no event the user can cause reaches a widget, whatever its kind,
    // including kinds that did not exist when the blocker was written; afterwards each arrives.
    void noInputReachesWidgetsDuringRun_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char* kind :
             {"key", "mouse", "wheel", "context menu", "drag enter", "drag move", "drag leave",
              "drop", "input method", "shortcut", "close", "a kind not yet named"})
            QTest::newRow(kind) << QString(kind);
    }

    void noInputReachesWidgetsDuringRun()
    {
        QFETCH(QString, kind);
        FakeAppDir app;
        qputenv("FAKE_TOOL_SLEEP_MS", "400");
        FakeNotifier notifier;
        ToolRunner runner(notifier);
        RecordingWidget widget;
        widget.setAcceptDrops(true);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
        QMimeData text;
        text.setText("dropped");
        const QList<QEvent::Type> sent = types(userEvents(kind, &text));
        QList<QEvent::Type> arrived;
        bool sentDuringRun = false;
        QTimer::singleShot(100, [&] {
            widget.seen.clear();
            send(widget, userEvents(kind, &text));
            arrived = widget.seen;
            sentDuringRun = true;
        });
        QVERIFY(runner.RunEncoder(encoderCommand(app, {})).succeeded());
        QVERIFY(sentDuringRun);
        for (QEvent::Type type : sent)
            QVERIFY2(!arrived.contains(type), qPrintable(QString::number(type)));

        widget.seen.clear();
        send(widget, userEvents(kind, &text));
        for (QEvent::Type type : sent)
            QVERIFY2(widget.seen.contains(type), qPrintable(QString::number(type)));
    }

    // Leaving the wait before the tool has ended, as when the application quits under a run,
    // is no success: nothing says "encoded", and the tool is asked to stop (and ended when it
    // does not) before the runner returns, never left running behind it.
    void interruptedWaitIsNoSuccess_data()
    {
        QTest::addColumn<bool>("toolStops");
        QTest::newRow("tool stops when asked") << true;
        QTest::newRow("tool ignores the request") << false;
    }

    void interruptedWaitIsNoSuccess()
    {
        QFETCH(bool, toolStops);
        FakeAppDir app;
        qputenv("FAKE_TOOL_SLEEP_MS", "30000");
        if (!toolStops)
            qputenv("FAKE_TOOL_ON_TERM", "ignore");
        FakeNotifier notifier;
        ToolRunner runner(notifier);
        runner.EncodeSucceeded = true;
        runner.setStopTimeout(std::chrono::milliseconds(500));
        // Once the tool has started and can be asked to stop.
        const auto quit = exitWhen([&] { return !app.runs().isEmpty(); });
        const ToolResult result = runner.RunEncoder(encoderCommand(app, {"out.flv"}));
        clearExitRequest();

        QCOMPARE(result.end, ToolEnd::Interrupted);
        QVERIFY(!result.succeeded());
        QCOMPARE(result.message, QString());
        // Our tools end with 1 when they cancel; one that would not stop was killed.
        QCOMPARE(result.exitCode, toolStops ? 1 : -1);

        QVERIFY(!runner.EncodeSucceeded);
        QCOMPARE(notifier.texts(), QStringList());
        QCOMPARE(::kill(pid_t(runner.ProcessId), 0), -1);
        QList<QStringList> expected{{"ffmpeg", "out.flv"}};
        if (toolStops)
            expected << QStringList{"ffmpeg", "terminated"};
        QCOMPARE(app.runs(), expected);
    }

    void systemErrorText_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("ENOENT") << ENOENT << "No such file or directory";
        QTest::newRow("EACCES") << EACCES << "Permission denied";
        QTest::newRow("no text") << 987654 << "";
    }

    void systemErrorText()
    {
        QFETCH(int, code);
        QFETCH(QString, text);
        QCOMPARE(GetSystemErrorText(code), text);
    }
};

QTEST_MAIN(TestToolRunner)
#include "tst_ToolRunner.moc"
