#include "app/SingleInstance.h"
#include "app/Startup.h"
#include "ui/Lifecycle.h"
#include "ui/MainWindow.h"
#include "ui/SplashWindow.h"

#include "../fakes/EndRecorder.h"
#include "../fakes/FakeNotifier.h"
#include "../fakes/ScriptedChoosers.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <grp.h>
#include <memory>
#include <new>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace quillora;

namespace {
QString lockHolder()
{
    return qEnvironmentVariable("QUILLORA_TEST_BIN_DIR") + "/lock_holder";
}

// The environment of a start: XDG_RUNTIME_DIR and TMPDIR as given, unset when empty.
QProcessEnvironment startEnvironment(const QString& runtime, const QString& temp)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("XDG_RUNTIME_DIR");
    environment.remove("TMPDIR");
    if (!runtime.isEmpty())
        environment.insert("XDG_RUNTIME_DIR", runtime);
    if (!temp.isEmpty())
        environment.insert("TMPDIR", temp);
    return environment;
}

constexpr uid_t nobody = 65534;

// Makes the started process an ordinary user (for whom a folder can be unwritable) with a /tmp
// of its own, so that the last fallback is tried without touching the machine's. The private
// /tmp holds a usable runtime folder, an unwritable one and a plain file; read-only on request.
void sandbox(QProcess& process, bool readOnlyTmp)
{
    process.setChildProcessModifier([readOnlyTmp] {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777,size=1m") != 0)
            ::_exit(90);
        ::mkdir("/tmp/runtime", 0700);
        ::mkdir("/tmp/unwritable", 0500);
        if (::chown("/tmp/runtime", nobody, nobody) != 0 ||
            ::chown("/tmp/unwritable", nobody, nobody) != 0)
            ::_exit(91);
        const int file = ::open("/tmp/a-file", O_CREAT | O_WRONLY, 0644);
        if (file < 0)
            ::_exit(92);
        ::close(file);
        if (readOnlyTmp && ::mount(nullptr, "/tmp", nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            ::_exit(93);
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)
            ::_exit(94);
    });
}

// What a lock holder says once it has decided: "locked" or "refused".
QByteArray firstWord(QProcess& process)
{
    if (!process.waitForReadyRead(10000))
        return "nothing (exit " + QByteArray::number(process.exitCode()) + ")";
    return process.readAll().trimmed();
}
} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    FakeNotifier notifier;
    ScriptedChoosers choosers;
    std::unique_ptr<EndRecorder> ends;

    QString lockPath() const { return dir.path() + "/quillora.lock"; }

private slots:
    void init()
    {
        notifier.shown.clear();
        ends = std::make_unique<EndRecorder>();
    }

    void cleanup() { ends.reset(); }

    void normalStart()
    {
        app::SingleInstance instance(lockPath());
        ui::MainWindow window(notifier, choosers, "/app");
        QList<int> steps;
        QElapsedTimer clock;
        qint64 splashMs = -1;
        bool hourglassOnBoth = false;
        bool mainIgnoredClick = false;
        ui::SplashWindow* splash = nullptr;
        QTimer::singleShot(500, [&] {
            splash = ui::frmSplash;
            hourglassOnBoth = splash && splash->cursor().shape() == Qt::WaitCursor &&
                              window.cursor().shape() == Qt::WaitCursor;
            // The main window is blocked by the modal splash; the splash ignores keys.
            QTest::keyClick(splash, Qt::Key_Escape);
            mainIgnoredClick =
                ui::frmSplash != nullptr && QApplication::activeModalWidget() == splash;
            QCOMPARE(splash->size(), QSize(301, 152));
            QCOMPARE(splash->findChild<QLabel*>("Image1")->geometry(), QRect(0, 0, 302, 152));
            QVERIFY(splash->windowFlags() & Qt::FramelessWindowHint);
            QCOMPARE(splash->windowType(), Qt::SplashScreen);
            QCOMPARE(splash->palette().color(QPalette::Window), QColor(Qt::black));
        });
        app::Form_Load(window, notifier, instance, [&](int step) {
            steps << step;
            if (step == 10)
                clock.start();
            if (step == 11)
                splashMs = clock.elapsed();
        });

        QCOMPARE(steps, QList<int>({2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
        QVERIFY(hourglassOnBoth);
        QVERIFY(mainIgnoredClick);
        QVERIFY2(splashMs >= 1800 && splashMs < 4000, qPrintable(QString::number(splashMs)));
        QCOMPARE(ui::frmSplash, nullptr);
        QVERIFY(window.isVisible());
        QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(window.EncodeOptions, " -b 468kb/s -r 25 -s 240x180 -ar 22050Hz -ab 48 -ac 1 ");
        QCOMPARE(window.findChild<QComboBox*>("cmbAudioChannels")->currentText(), "Mono");
        QVERIFY(notifier.shown.isEmpty());
        QVERIFY(ends->codes.isEmpty());
    }

    void secondInstanceRefused()
    {
        app::SingleInstance first(lockPath());
        QVERIFY(!first.otherInstanceRunning());
        app::SingleInstance second(lockPath());
        ui::MainWindow window(notifier, choosers, "/app");
        QList<int> steps;
        app::Form_Load(window, notifier, second, [&](int step) { steps << step; });
        QCOMPARE(ends->codes, QList<int>{1});
        QCOMPARE(steps, QList<int>{2});
        QVERIFY(!window.isVisible());
        QCOMPARE(notifier.texts(), QStringList{"THIS SOFTWARE IS ALREADY OPEN!"});
        QCOMPARE(notifier.shown[0].title, "Error");
        QCOMPARE(notifier.shown[0].icon, process::Icon::Critical);
        QCOMPARE(process::MsgAnswer, "1");
    }

    void lastResortReport_data()
    {
        QTest::addColumn<int>("failingStep");
        QTest::addColumn<bool>("numbered");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("text");
        QTest::newRow("negative number")
            << 5 << true << -2147024809 << "Invalid argument"
            << "INTERNAL ERROR OCCURED - ERROR NUMBER: -2147024809 - INVALID ARGUMENT. PLEASE "
               "CONTACT SUPPORT.";
        QTest::newRow("empty description")
            << 3 << true << 91 << ""
            << "INTERNAL ERROR OCCURED - ERROR NUMBER: 91 - . PLEASE CONTACT SUPPORT.";
        QTest::newRow("plain exception during splash")
            << 10 << false << 0 << "Splash picture missing"
            << "INTERNAL ERROR OCCURED - ERROR NUMBER: 51 - SPLASH PICTURE MISSING. PLEASE "
               "CONTACT SUPPORT.";
    }

    void lastResortReport()
    {
        QFETCH(int, failingStep);
        QFETCH(bool, numbered);
        QFETCH(int, number);
        QFETCH(QString, description);
        QFETCH(QString, text);
        app::SingleInstance instance(lockPath());
        ui::MainWindow window(notifier, choosers, "/app");
        QList<int> steps;
        app::Form_Load(window, notifier, instance, [&](int step) {
            steps << step;
            if (step != failingStep)
                return;
            if (numbered)
                throw app::NumberedError(number, description.toStdString());
            throw std::runtime_error(description.toStdString());
        });
        QCOMPARE(ends->codes, QList<int>{1});
        QCOMPARE(steps.last(), failingStep);
        QCOMPARE(notifier.texts(), QStringList{text});
        QCOMPARE(notifier.shown[0].title, "Error");
        delete ui::frmSplash;
        ui::frmSplash = nullptr;
    }

    // An error inside a handler that selecting a default sets off reaches the report too, and
    // stops the sequence there, without passing through Qt's signal emission on its way: the
    // handler connected after the failing one still runs.
    void errorInsideAListHandler()
    {
        app::SingleInstance instance(lockPath());
        ui::MainWindow window(notifier, choosers, "/app");
        auto* list = window.findChild<QComboBox*>("cmbAudioBitrate");
        QObject::connect(list, &QComboBox::currentIndexChanged, &window,
                         window.handlerErrors().guarded(
                             [] { throw app::NumberedError(380, "Invalid property value"); }));
        bool nextHandlerRan = false;
        QObject::connect(list, &QComboBox::currentIndexChanged, [&] { nextHandlerRan = true; });
        QList<int> steps;

        app::Form_Load(window, notifier, instance, [&](int step) { steps << step; });

        QCOMPARE(notifier.texts(), QStringList{"INTERNAL ERROR OCCURED - ERROR NUMBER: 380 - "
                                               "INVALID PROPERTY VALUE. PLEASE CONTACT SUPPORT."});
        QCOMPARE(ends->codes, QList<int>{1});
        QVERIFY(nextHandlerRan);
        QCOMPARE(steps, QList<int>({2, 3, 4, 5}));
        QCOMPARE(window.findChild<QComboBox*>("cmbAudioChannels")->count(), 0);
        QCOMPARE(ui::frmSplash, nullptr);
    }

    // After start-up, a failing handler tells the user in a message box and the program goes on.
    void errorInAHandlerAfterStartUp()
    {
        ui::MainWindow window(notifier, choosers, "/app");
        window.fillSettingLists();
        auto* list = window.findChild<QComboBox*>("cmbAudioBitrate");
        QObject::connect(list, &QComboBox::currentIndexChanged, &window,
                         window.handlerErrors().guarded([] { throw std::bad_alloc(); }));
        list->setCurrentIndex(0);
        QCOMPARE(notifier.texts(), QStringList{"OUT OF MEMORY"});
        QCOMPARE(notifier.shown[0].title, "Error");
        QVERIFY(ends->codes.isEmpty());
        QCOMPARE(window.EncodeOptions, " -b 468kb/s -r 25 -s 240x180 -ar 22050Hz -ab 24 -ac 1 ");
    }

    void lockBetweenRealProcesses()
    {
        QProcess holder;
        holder.start(lockHolder(), {lockPath()});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readAll().trimmed(), "locked " + lockPath().toUtf8());

        app::SingleInstance me(lockPath());
        QVERIFY(me.otherInstanceRunning());

        // A killed instance leaves its lock file behind; it must not block the next start.
        holder.kill();
        holder.waitForFinished();
        QVERIFY(!me.otherInstanceRunning());
    }

    // A lock that cannot be taken for any reason but a live holder is no other instance: the
    // next folder serves, and when none does, the program starts all the same.
    void startsWhereTheLockCannotBeTaken_data()
    {
        QTest::addColumn<QString>("runtime");
        QTest::addColumn<QString>("temp");
        QTest::addColumn<bool>("readOnlyTmp");
        QTest::addColumn<QString>("heldIn");
        const QString unset;
        QTest::newRow("usable runtime folder")
            << "/tmp/runtime" << unset << false << "/tmp/runtime";
        QTest::newRow("no runtime folder, TMPDIR missing")
            << unset << "/tmp/missing" << false << "/tmp";
        QTest::newRow("no runtime folder, TMPDIR a file")
            << unset << "/tmp/a-file" << false << "/tmp";
        QTest::newRow("runtime folder unwritable, TMPDIR usable")
            << "/tmp/unwritable"
            << "/tmp/runtime" << false << "/tmp/runtime";
        QTest::newRow("runtime folder and TMPDIR missing") << "/tmp/missing/runtime"
                                                           << "/tmp/missing" << false << "/tmp";
        QTest::newRow("runtime folder a file, TMPDIR unwritable")
            << "/tmp/a-file"
            << "/tmp/unwritable" << false << "/tmp";
        QTest::newRow("no folder usable at all") << "/tmp/a-file"
                                                 << "/tmp/missing" << true << unset;
    }

    void startsWhereTheLockCannotBeTaken()
    {
        QFETCH(QString, runtime);
        QFETCH(QString, temp);
        QFETCH(bool, readOnlyTmp);
        QFETCH(QString, heldIn);
        if (::geteuid() != 0)
            QSKIP("a private /tmp and another user need root");
        if (lockHolder().startsWith("/tmp/"))
            QSKIP("the private /tmp would hide the test programs built under /tmp");
        QProcess start;
        start.setProcessEnvironment(startEnvironment(runtime, temp));
        sandbox(start, readOnlyTmp);
        start.start(lockHolder(), {});
        const QString said =
            heldIn.isEmpty() ? "locked" : "locked " + heldIn + "/quillora-65534.lock";
        QCOMPARE(firstWord(start), said.toUtf8());
        start.kill();
        start.waitForFinished();
    }

    // Whatever else is broken around it, a lock held by a running instance still refuses.
    void liveInstanceStillRefuses_data()
    {
        QTest::addColumn<QString>("holderRuntime");
        QTest::addColumn<QString>("holderTemp");
        QTest::addColumn<QString>("runtime");
        QTest::addColumn<QString>("temp");
        QTest::newRow("same runtime folder, TMPDIR missing") << "runtime"
                                                             << ""
                                                             << "runtime"
                                                             << "missing";
        QTest::newRow("holder in TMPDIR, runtime folder missing") << ""
                                                                  << "temp"
                                                                  << "missing"
                                                                  << "temp";
        QTest::newRow("holder in TMPDIR, runtime folder a file") << ""
                                                                 << "temp"
                                                                 << "a-file"
                                                                 << "temp";
    }

    void liveInstanceStillRefuses()
    {
        QFETCH(QString, holderRuntime);
        QFETCH(QString, holderTemp);
        QFETCH(QString, runtime);
        QFETCH(QString, temp);
        QTemporaryDir folders;
        QVERIFY(QDir(folders.path())
                    .mkdir("runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(QDir(folders.path()).mkdir("temp"));
        QFile file(folders.filePath("a-file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const auto in = [&](const QString& name) {
            return name.isEmpty() ? name : folders.filePath(name);
        };

        QProcess holder;
        holder.setProcessEnvironment(startEnvironment(in(holderRuntime), in(holderTemp)));
        holder.start(lockHolder(), {});
        QVERIFY(firstWord(holder).startsWith("locked "));
        QProcess second;
        second.setProcessEnvironment(startEnvironment(in(runtime), in(temp)));
        second.start(lockHolder(), {});
        QCOMPARE(firstWord(second), "refused");
        second.waitForFinished();
        holder.kill();
        holder.waitForFinished();
    }

    void simultaneousStartsLeaveOne()
    {
        QList<QProcess*> starts;
        for (int i = 0; i < 4; ++i) {
            auto* p = new QProcess(this);
            starts << p;
        }
        for (QProcess* p : starts)
            p->start(lockHolder(), {lockPath()});
        int locked = 0, refused = 0;
        for (QProcess* p : starts) {
            QVERIFY(p->waitForReadyRead(10000));
            const QByteArray said = p->readAll().trimmed();
            locked += said.startsWith("locked");
            refused += said == "refused";
        }
        QCOMPARE(locked, 1);
        QCOMPARE(refused, 3);
        for (QProcess* p : starts) {
            p->kill();
            p->waitForFinished();
        }
        qDeleteAll(starts);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_Startup.moc"
